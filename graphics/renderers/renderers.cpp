// The table of renderers: a renderer joins with one line naming it, its module start and
// its instance function (declared in its public header).
#include <ormix/graphics/renderers/renderers.h>

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/gles2/gles2.h>
#ifdef ORMIX_HAVE_OPENGL
#include <ormix/graphics/opengl/opengl.h>
#endif

namespace {
// Started in this order: the DirectX 7 renderer selects itself when it starts, so it is
// the current renderer until the program asks for another one.
const TRendererEntry kRenderers[] = {
#ifdef ORMIX_HAVE_OPENGL
    {"opengl", nullptr, InitOpenGLModule, OpenGLRenderer},
#endif
    {"directx7", "d3d7", InitD3D7Module, DirectX7Renderer},
    {"gles2", nullptr, InitGLES2Module, []() -> TVex2DDriver* { return GLES2Renderer(); }},
};

bool Named(const TRendererEntry& entry, const Text& want) {
  if (want == ToLower(ToText(entry.name))) return true;
  if (entry.alias && want == ToLower(ToText(entry.alias))) return true;
  TVex2DDriver* renderer = entry.Renderer();
  return renderer && want == ToLower(renderer->ToString());
}
}  // namespace

void InitRendererModules() {
  static bool done = false;
  if (done) return;
  done = true;
  for (const TRendererEntry& entry : kRenderers) entry.InitModule();
}

TVex2DDriver* FindRenderer(const Text& name) {
  InitRendererModules();
  const Text want = ToLower(name);
  for (const TRendererEntry& entry : kRenderers)
    if (Named(entry, want)) return entry.Renderer();
  return nullptr;
}

Text RendererName(const TGraphicsDriver* renderer) {
  if (!renderer) return Text();
  for (const TRendererEntry& entry : kRenderers)
    if (entry.Renderer() == renderer) return ToText(entry.name);
  return Text();
}

std::vector<Text> RendererNames() {
  std::vector<Text> names;
  for (const TRendererEntry& entry : kRenderers) names.push_back(ToText(entry.name));
  return names;
}
