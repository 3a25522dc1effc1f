// A game of Zingle! played in the test process with a virtual pad that the test holds, so
// that what the game asks of the pad (rumble) can be seen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "game/zingle.h"
#include "zingle_run.h"
#include <ormix/graphics/graphics.h>
#include <ormix/system/pad.h>

#include "testsupport/skip_or_fail.h"
#include "testsupport/testsupport.h"

namespace {

TZingleGame* g_game = nullptr;
TVirtualPadPtr g_pad;
float g_strongest = 0;  // the heaviest rumble seen while frames were shown
int g_hitRumbles = 0;   // frames that showed a hit's light rumble

// The pad's hand: start at frame 5, A held from 20 to 40; and what the pad felt.
TObjectPtr PadHand(int, const TObjectPtr& data, const TObjectPtr&) {
  if (!g_game || !g_pad) return data;
  const int f = g_game->frame;
  if (f == 4) g_pad->SetButton(PAD_START, true);
  if (f == 5) g_pad->SetButton(PAD_START, false);
  if (f == 19) g_pad->SetButton(PAD_A, true);
  if (f == 39) g_pad->SetButton(PAD_A, false);
  g_strongest = std::max(g_strongest, g_pad->RumbleLow());
  if (g_pad->RumbleLow() > 0.15f && g_pad->RumbleLow() < 0.25f) ++g_hitRumbles;
  return data;
}

TEST(ZinglePadCycle, ThePadRumblesOnHitsAndOnTheFall) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  {
    std::ofstream(run.Path("script.txt")) << "seed 1\n";
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
  g_pad = AttachVirtualPad(u"Rumble Pad");
  ASSERT_TRUE(g_pad);
  g_game->BeginCycle();
  InsertHook(FrameHookId(), PadHand, nullptr, 0);

  g_game->Cycle();  // title, a game that ends with the fall, game over
  DeleteHook(FrameHookId(), PadHand, nullptr);
  const std::string trace = run.Trace();
  EXPECT_NE(trace.find(" input pad 1 Rumble Pad\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" fell score="), std::string::npos) << trace;
  EXPECT_EQ(g_game->StartInput, 1);
  EXPECT_GT(g_hitRumbles, 0) << "a hit gives a light pulse";
  EXPECT_FLOAT_EQ(g_strongest, 1.0f) << "the fall a heavy one";
  EXPECT_GE(g_pad->RumbleRequests(), 2);
  g_pad->Detach();
}

}  // namespace
