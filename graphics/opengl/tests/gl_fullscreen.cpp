// Full-screen contexts in a real window (Xvfb + Mesa): the display mode taken on focus
// and given back on focus loss, and the probe for hardware pacing. They move the pointer
// and the focus of the whole display, so ctest runs them on their own.
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <cstdlib>
#include <stdexcept>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/runtime/runtime.h>
#include <ormix/system/system.h>

#include "testsupport/glscreen.h"

namespace {

class GLFullScreen : public TGLScreenTest {};

void PushFocus(SDL_Window* window, Uint8 what) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(window);
  e.window.event = what;
  SDL_PushEvent(&e);
  PumpSystem();
}

TEST_F(GLFullScreen, FullScreenTakesTheModeOnFocusAndGivesItBackOnFocusLoss) {
  std::vector<TGraphicsMode> modes = ListGraphicsModes();
  ASSERT_FALSE(modes.empty());
  TGraphicsPtr g = OpenScreen(modes[0].width, modes[0].height, 32, 0, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(ScreenDepth(), 32);
  SDL_Window* window = GLGraphicsWindow(g);
  ASSERT_NE(window, nullptr);
  PumpSystem();
  PushFocus(window, SDL_WINDOWEVENT_FOCUS_GAINED);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  PushFocus(window, SDL_WINDOWEVENT_FOCUS_LOST);
  EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  // (The window is also minimised, which needs a window manager to be seen.)
  // Coming back takes the mode again.
  SDL_RestoreWindow(window);
  PushFocus(window, SDL_WINDOWEVENT_FOCUS_GAINED);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
  CloseScreen();
}

TEST_F(GLFullScreen, FullScreenModeThatCannotBeSetThrowsOnFocus) {
  TGraphicsPtr g = OpenScreen(640, 400, 32, 0, 0);
  ASSERT_NE(g, nullptr);
  if (HasGraphicsMode(640, 400, 0, 0)) GTEST_SKIP() << "the display has a 640 x 400 mode";
  SDL_Window* window = GLGraphicsWindow(g);
  ASSERT_NE(window, nullptr);
  // The window may already have been given the focus by the X server.
  try {
    PumpSystem();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "GLGraphicsDriver failed to set display mode");
  }
  try {
    PushFocus(window, SDL_WINDOWEVENT_FOCUS_GAINED);
    ADD_FAILURE() << "no exception";
  } catch (const TDisplayModeException& e) {  // the type callers match
    EXPECT_STREQ(e.what(), "GLGraphicsDriver failed to set display mode");
  }
  EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
}

TEST_F(GLFullScreen, FullScreenProbesTheDisplayForOneSecond) {
  std::vector<TGraphicsMode> modes = ListGraphicsModes();
  ASSERT_FALSE(modes.empty());
  const uint32_t t0 = ElapsedMillis();
  ASSERT_NE(OpenScreen(modes[0].width, modes[0].height, 32, 60, 0), nullptr);
  const uint32_t spent = ElapsedMillis() - t0;
  // Either three paced flips in a row ended the probe early (hardware sync) or it ran
  // out its second and soft sync stays on.
  if (ScreenFrameSync().soft) {
    EXPECT_GE(spent, 1000u);
  }
  EXPECT_EQ(ScreenFrameSync().period, 16);
  ShowFrame();
}

}  // namespace
