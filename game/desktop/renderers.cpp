// The desktop's hardware renderer: OpenGL.
#include "../renderers.h"

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/opengl/opengl.h>

void InitGameRenderers() {
  InitOpenGLModule();
  InitD3D7Module();
}

TGraphicsDriver* HardwareRenderer() { return OpenGLRenderer(); }
