// The browser's hardware renderer: the shader renderer (WebGL) once it is built, the
// software renderer (drawn to the page's canvas) until then.
#include "../renderers.h"

#include <ormix/graphics/d3d7/d3d7.h>

void InitGameRenderers() { InitD3D7Module(); }

TGraphicsDriver* HardwareRenderer() { return DirectX7Renderer(); }
