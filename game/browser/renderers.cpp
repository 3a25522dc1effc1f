// The browser's renderers: the shader renderer on WebGL (the hardware renderer) and the
// software renderer drawing to the page's canvas.
#include "../renderers.h"

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/gles2/gles2.h>

namespace {
struct NamedRenderer {
  const char* name;
  TVex2DDriver* (*get)();
};
const NamedRenderer kRenderers[] = {
    {"gles2", [] { return static_cast<TVex2DDriver*>(GLES2Renderer()); }},
    {"directx7", [] { return static_cast<TVex2DDriver*>(DirectX7Renderer()); }},
};
}  // namespace

void InitGameRenderers() {
  InitD3D7Module();
  InitGLES2Module();
}

TGraphicsDriver* HardwareRenderer() { return GLES2Renderer(); }

TVex2DDriver* RendererNamed(const std::string& name) {
  for (const NamedRenderer& r : kRenderers)
    if (name == r.name) return r.get();
  return nullptr;
}

const char* RendererName(TGraphicsDriver* driver) {
  for (const NamedRenderer& r : kRenderers)
    if (driver && driver == r.get()) return r.name;
  return "gles2";
}
