// End to end: a known tone played through each driver into SDL's disk audio driver; the
// captured output must hold the tone at the right pitch and level, whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include <ormix/audio/audio.h>
#include "tone_util.h"

namespace {

struct Case {
  const char* driver;
  float rate;
};

class EndToEnd : public ::testing::TestWithParam<Case> {};

std::string CapturePath() {
  return std::string(ORMIX_BINARY_DIR) + "/tests/audio_capture_" + std::to_string(getpid()) + ".raw";
}

// Plays the tone once and returns what the output received.
Heard Capture(const Case& c, bool& started, bool& finished) {
  const std::string path = CapturePath();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  started = UseAudioDriver(c.driver) == 1;
  if (!started) return {};
  TSoundPtr sound = LoadSound(MakeTone(441.0, 0.5), 0);
  TChannelPtr ch = sound ? sound->Cue(AllocChannel()) : nullptr;
  started = ch != nullptr;
  if (ch) {
    ch->SetRate(c.rate);
    ch->SetPaused(0);
    started = ch->Playing() == 1;
    for (int i = 0; i < 600 && ch->Playing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    finished = ch->Playing() == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // what is queued reaches the output
  }
  ch.reset();
  sound.reset();
  UseAudioDriver("Null");  // closes the output, so the file is complete
  Heard h = Analyse(ReadPcm(path));
  std::remove(path.c_str());
  return h;
}

}  // namespace

TEST_P(EndToEnd, ToneIsHeardWhole) {
  const Case c = GetParam();
  const double seconds = 0.5 / c.rate, hz = 441.0 * c.rate;
  // Real-time output on a busy machine can starve; a starved attempt is tried again, a
  // wrong pitch, level or length fails every attempt.
  Heard h;
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool started = false, finished = false;
    h = Capture(c, started, finished);
    ASSERT_TRUE(started) << c.driver;
    EXPECT_TRUE(finished) << c.driver;
    if (std::abs(h.seconds - seconds) <= 0.02 * seconds + 0.004 && std::abs(h.hz - hz) <= hz * 0.02 &&
        std::abs(h.peak - 16000) <= 480 && std::abs(h.rightPeak - 16000) <= 480 && h.gaps == 0)
      break;
  }
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
