// The OpenAL driver over OpenAL Soft, writing what it plays to a wave file.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "audio/openal/openal.h"
#include "tone_util.h"

namespace {

class OpenAL : public ::testing::Test {
protected:
  void SetUp() override {
    base = std::string(ORMIX_BINARY_DIR) + "/tests/openal_" + std::to_string(getpid());
    wav = base + ".wav";
    conf = base + ".conf";
    std::ofstream(conf) << "[general]\ndrivers = wave\nfrequency = 44100\nchannels = stereo\n"
                           "sample-type = int16\n[wave]\nfile = "
                        << wav << "\n";
    setenv("ALSOFT_CONF", conf.c_str(), 1);
    if (!OpenALApi()) ORMIX_SKIP_OR_FAIL() << "libopenal.so.1 is not installed";
    ASSERT_EQ(RegisterOpenALDrivers(), 1);
  }
  void TearDown() override {
    UseAudioDriver("Null");
    std::remove(wav.c_str());
    std::remove(conf.c_str());
  }
  // The samples of the wave file's data chunk.
  std::vector<int16_t> Captured() {
    std::ifstream f(wav, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(f)), {});
    size_t at = all.find("data");
    if (at == std::string::npos) return {};
    return ReadPcm(wav, at + 8);
  }
  std::string base, wav, conf;
};

}  // namespace

TEST_F(OpenAL, RegistersDevicesAndTheDefault) {
  EXPECT_EQ(RegisterOpenALDrivers(), 1);  // the first answer again
  EXPECT_EQ(HasAudioDriver("OpenAL"), 1);
  int named = 0;
  for (const Text& n : ListAudioDrivers())
    if (n.rfind(u"OpenAL ", 0) == 0) ++named;
  EXPECT_GE(named, 1);
  EXPECT_EQ(UseAudioDriver("openal"), 1);
}

TEST_F(OpenAL, ToneAtRateTwoIsAnOctaveUp) {
  ASSERT_EQ(UseAudioDriver("OpenAL"), 1);
  // Stereo data reaches the two speakers as it is.
  TSoundPtr s = LoadSound(MakeTone(441, 0.5)->Convert(SF_STEREO16LE), 0);
  ASSERT_TRUE(s);
  TChannelPtr c = s->Cue(AllocChannel());
  c->SetRate(2.0f);
  c->SetPaused(0);
  EXPECT_EQ(c->Playing(), 1);
  for (int i = 0; i < 600 && c->Playing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(c->Playing(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  c.reset();
  s.reset();
  UseAudioDriver("Null");
  Heard h = Analyse(Captured());
  EXPECT_NEAR(h.seconds, 0.25, 0.01);
  EXPECT_NEAR(h.hz, 882, 882 * 0.02);
  EXPECT_NEAR(h.peak, 16000, 16000 * 0.03);
  EXPECT_NEAR(h.rightPeak, 16000, 16000 * 0.03);
  EXPECT_EQ(h.gaps, 0);
}

TEST_F(OpenAL, ChannelsAndGenerations) {
  ASSERT_EQ(UseAudioDriver("OpenAL"), 1);
  TAudioDriver* d = CurrentAudioDriver();
  EXPECT_FALSE(d->CreateSound(WrapAudioSample(nullptr, 4, 22050, 0), 0));
  TSoundPtr s = d->CreateSound(MakeTone(441, 0.2)->Convert(SF_STEREO16BE), SOUND_LOOP);
  ASSERT_TRUE(s);
  auto a = std::dynamic_pointer_cast<TOpenALChannel>(d->AllocChannel());
  ASSERT_TRUE(a && a->Bound());
  s->Play(a);
  EXPECT_EQ(a->Playing(), 1);
  a->SetPaused(1);
  EXPECT_EQ(a->Playing(), 0);
  a->SetPaused(0);
  a->SetPan(2.0f);
  a->SetVolume(0.5f);
  a->Stop();  // a static channel gives its source back
  EXPECT_FALSE(a->Bound());
  auto b = std::dynamic_pointer_cast<TOpenALChannel>(s->Play());
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Playing(), 1);
  // After a driver change, old channels and sounds do nothing.
  ASSERT_EQ(UseAudioDriver("OpenAL"), 1);
  EXPECT_EQ(b->Playing(), 0);
  b->SetPaused(0);
  EXPECT_EQ(b->Playing(), 0);
  EXPECT_EQ(s->Play()->Playing(), 0);
}
