// The game's screen cycle run inside the test process, so that a failure can be raised
// from within a chosen frame the way the window system raises it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "game/zingle.h"
#include "zingle_run.h"
#include <ormix/graphics/graphics.h>
#include <ormix/runtime/errors.h>
#include <ormix/system/event.h>

#include "testsupport/testsupport.h"

namespace {

TZingleGame* g_game = nullptr;
int g_failAt = -1;        // frame whose showing fails
bool g_displayMode = true;  // which failure: the display mode, or another error

// Runs while a frame is shown, as the window procedure does when the focus arrives.
TObjectPtr FailingFrame(int, const TObjectPtr& data, const TObjectPtr&) {
  if (g_game && g_game->frame == g_failAt) {
    g_failAt = -1;
    if (g_displayMode) throw TDisplayModeException();
    throw TRuntimeException("something else failed");
  }
  return data;
}

// Full screen that cannot be set during play (entered when the window gains the focus):
// the game goes on in a window and its end still records the high score; any other
// failure still ends the cycle.
TEST(ZingleCycle, DisplayModeFailureDuringPlayKeepsTheGame) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) GTEST_SKIP() << run.error;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  {
    // Started at 25, the game scores from its first frame and the ball falls at 116.
    std::ofstream(run.Path("script.txt")) << "seed 1\n25 down space\n27 up space\n30 down space\n"
                                             "50 up space\n70 down space\n95 up space\n";
  }
  ASSERT_EQ(chdir(run.dir.c_str()), 0);
  TZingleOptions options;
  options.script = run.Path("script.txt");
  options.trace = run.Path("trace.txt");
  options.unpaced = true;
  // Kept to the end of the process: the audio layer may still mix its sounds.
  g_game = new TZingleGame();
  ASSERT_TRUE(g_game->Start(options));
  g_game->settings.MusicOption = 0;
  g_game->settings.ScreenDepthOption = 32;  // as after F1
  g_game->BeginCycle();
  InsertHook(FrameHookId(), FailingFrame, nullptr, 0);

  g_failAt = 60;
  g_displayMode = true;
  EXPECT_NO_THROW(g_game->Cycle());
  const std::string trace = run.Trace();
  const size_t play = trace.find(" play\n"), failed = trace.find(" fullscreen failed\n"),
               over = trace.find(" gameover score=");
  ASSERT_NE(failed, std::string::npos) << trace;
  EXPECT_LT(play, failed) << trace;
  ASSERT_NE(over, std::string::npos) << trace;
  EXPECT_LT(failed, over) << trace;
  EXPECT_GT(g_game->field.Score, 0);
  EXPECT_EQ(g_game->settings.HighScore, g_game->field.Score);
  EXPECT_NE(trace.find(" highscore " + std::to_string(g_game->field.Score) + "\n"), std::string::npos)
      << trace;
  EXPECT_EQ(g_game->settings.ScreenDepthOption, 0);
  TGameSettings stored;
  ASSERT_TRUE(LoadSettings(ToText(run.Path("system/173/tigger.hop")), stored));
  EXPECT_EQ(stored.HighScore, g_game->field.Score);

  // On the title screen again: another failure is not taken for the display mode's.
  g_failAt = g_game->frame + 5;
  g_displayMode = false;
  try {
    g_game->Cycle();
    ADD_FAILURE() << "no exception";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "something else failed");
  }
  DeleteHook(FrameHookId(), FailingFrame, nullptr);
}

}  // namespace
