// End to end: a known tone played through each driver into the platform output, rendered
// block by block by the test; the output must hold the tone at the right pitch and level,
// whole.
#include <gtest/gtest.h>

#include <vector>

#include "audio/audiooutput.h"
#include <ormix/audio/audio.h>
#include "tone_util.h"

namespace {

struct Case {
  const char* driver;
  float rate;
};

class EndToEnd : public ::testing::TestWithParam<Case> {};

// Plays the tone once and returns what the output received. The test is the output's
// clock: it renders block after block, and the feeders run in step with it, so one
// capture is the same on an idle and on a busy machine.
Heard Capture(const Case& c, bool& started, bool& finished) {
  AudioOutputSetManual(true);
  started = UseAudioDriver(c.driver) == 1;
  std::vector<int16_t> pcm;
  TSoundPtr sound = started ? LoadSound(MakeTone(441.0, 0.5), 0) : nullptr;
  TChannelPtr ch = sound ? sound->Cue(AllocChannel()) : nullptr;
  started = ch != nullptr;
  if (ch) {
    ch->SetRate(c.rate);
    ch->SetPaused(0);
    started = ch->Playing() == 1;
    int16_t block[2 * AUDIO_OUTPUT_FRAMES];
    // At most two seconds of output until the tone ends, then a tenth of a second more.
    int tail = 9;
    for (int i = 0; i < 173 && tail > 0; ++i) {
      AudioOutputRender(block, AUDIO_OUTPUT_FRAMES);
      pcm.insert(pcm.end(), block, block + 2 * AUDIO_OUTPUT_FRAMES);
      if (!ch->Playing()) --tail;
    }
    finished = ch->Playing() == 0;
  }
  ch.reset();
  sound.reset();
  UseAudioDriver("Null");
  AudioOutputSetManual(false);
  return Analyse(pcm);
}

}  // namespace

TEST_P(EndToEnd, ToneIsHeardWhole) {
  const Case c = GetParam();
  const double seconds = 0.5 / c.rate, hz = 441.0 * c.rate;
  bool started = false, finished = false;
  const Heard h = Capture(c, started, finished);
  ASSERT_TRUE(started) << c.driver;
  EXPECT_TRUE(finished) << c.driver;
  EXPECT_NEAR(h.seconds, seconds, 0.02 * seconds + 0.004) << c.driver;
  EXPECT_NEAR(h.hz, hz, hz * 0.02) << c.driver;
  EXPECT_NEAR(h.peak, 16000, 16000 * 0.03) << c.driver;
  EXPECT_NEAR(h.rightPeak, 16000, 16000 * 0.03) << c.driver;
  EXPECT_EQ(h.gaps, 0) << c.driver;
}

INSTANTIATE_TEST_SUITE_P(Drivers, EndToEnd,
                         ::testing::Values(Case{"DirectSound", 1.0f}, Case{"DirectSound", 2.0f},
                                           Case{"SoftAudio", 1.0f}, Case{"SoftAudio", 2.0f},
                                           Case{"SoftAudio DirectSound", 1.0f}, Case{"SoftAudio DirectSound", 2.0f},
                                           Case{"SoftAudio Multimedia", 1.0f}, Case{"SoftAudio Multimedia", 2.0f}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                           std::string n = i.param.driver;
                           for (char& ch : n)
                             if (ch == ' ') ch = '_';
                           return n + (i.param.rate == 1.0f ? "_rate1" : "_rate2");
                         });
