// The renderer table: every name a user or a trace gives finds the renderer, and only it.
#include <gtest/gtest.h>

#include <cstdlib>

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/renderers/renderers.h>
#include <ormix/system/system.h>

namespace {

class Renderers : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);  // the software renderer runs without a display
    InitSystemModule();
    InitRendererModules();
  }
};

TEST_F(Renderers, NamesFindTheirRenderer) {
  ASSERT_NE(DirectX7Renderer(), nullptr);
  struct Case {
    const char16_t* name;
    TVex2DDriver* renderer;
  } cases[] = {
      {u"opengl", OpenGLRenderer()},     {u"OpenGL", OpenGLRenderer()},
      {u"directx7", DirectX7Renderer()}, {u"DirectX7", DirectX7Renderer()},
      {u"d3d7", DirectX7Renderer()},     {u"D3D7", DirectX7Renderer()},
      {u"", nullptr},                    {u"vulkan", nullptr},
      {u"opengl ", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(FindRenderer(c.name), c.renderer) << ToUtf8(c.name);
}

TEST_F(Renderers, EachTableNameNamesItsRendererBack) {
  const std::vector<Text> names = RendererNames();
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], u"opengl");  // option 0 of the game
  EXPECT_EQ(names[1], u"directx7");
  for (const Text& name : names) {
    TVex2DDriver* renderer = FindRenderer(name);
    if (!renderer) continue;  // not available on this machine
    EXPECT_EQ(RendererName(renderer), name);
  }
  EXPECT_EQ(RendererName(nullptr), u"");
  EXPECT_EQ(RendererName(OpenGLGraphicsDriver()), u"");  // a platform driver is no renderer
}

// The software renderer selects itself when its module starts, as it did before the table.
TEST_F(Renderers, StartingTheModulesLeavesTheSoftwareRendererCurrent) {
  EXPECT_EQ(CurrentGraphicsDriver(), DirectX7Renderer());
}

}  // namespace
