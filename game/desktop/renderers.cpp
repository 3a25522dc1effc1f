// The desktop's renderers: OpenGL (the hardware renderer), the software renderer and the
// shader renderer.
#include "../renderers.h"

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/opengl/opengl.h>

namespace {
struct NamedRenderer {
  const char* name;
  TVex2DDriver* (*get)();
};
const NamedRenderer kRenderers[] = {
    {"opengl", [] { return static_cast<TVex2DDriver*>(OpenGLRenderer()); }},
    {"directx7", [] { return static_cast<TVex2DDriver*>(DirectX7Renderer()); }},
    {"gles2", [] { return static_cast<TVex2DDriver*>(GLES2Renderer()); }},
};
}  // namespace

void InitGameRenderers() {
  InitOpenGLModule();
  InitD3D7Module();
  InitGLES2Module();
}

TGraphicsDriver* HardwareRenderer() { return OpenGLRenderer(); }

TVex2DDriver* RendererNamed(const std::string& name) {
  for (const NamedRenderer& r : kRenderers)
    if (name == r.name) return r.get();
  return nullptr;
}

const char* RendererName(TGraphicsDriver* driver) {
  for (const NamedRenderer& r : kRenderers)
    if (driver && driver == r.get()) return r.name;
  return "opengl";
}
