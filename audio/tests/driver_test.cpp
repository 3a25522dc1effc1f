// The driver registry, the "Null" driver, the SoftAudio driver's sounds and channels,
// and starting without a sound card.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <ormix/audio/audio.h>
#include "audio/softaudio/softaudiodriver.h"
#include "tone_util.h"

// Runs first in its process: the first use picks "SoftAudio".
TEST(AudioDrivers, FirstUseChoosesSoftAudio) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_EQ(ToUtf8(CurrentAudioDriver()->Name()), "SoftAudio");
  UseAudioDriver("Null");
}

// In a process of its own (as ctest runs it): no sound card, so the first use ends on "Null".
TEST(AudioDrivers, FirstUseWithoutSoundCardIsNull) {
  setenv("SDL_AUDIODRIVER", "no-such-sdl-driver", 1);
  EXPECT_EQ(CurrentAudioDriver(), NullAudioDriver());
  EXPECT_EQ(AllocChannel()->Playing(), 0);
}

TEST(AudioDrivers, Registry) {
  std::vector<Text> names = ListAudioDrivers();
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(names.front(), u"SoftAudio");  // the newest first
  EXPECT_EQ(names.back(), u"Null");
  for (const char* n : {"SoftAudio Multimedia", "SoftAudio DirectSound", "DirectSound"})
    EXPECT_EQ(HasAudioDriver(n), 1) << n;
  EXPECT_EQ(HasAudioDriver("softaudio multimedia"), 1);
  EXPECT_EQ(HasAudioDriver("SOFTAUDIO"), 1);
  EXPECT_EQ(HasAudioDriver("Soft"), 0);
}

TEST(AudioDrivers, UnknownNameLeavesNullCurrent) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(UseAudioDriver("softaudio"), 1);
  EXPECT_EQ(UseAudioDriver("no such driver"), 0);
  EXPECT_EQ(CurrentAudioDriver(), NullAudioDriver());
  EXPECT_EQ(ToUtf8(CurrentAudioDriver()->Name()), "Null");
  TChannelPtr c = AllocChannel();
  ASSERT_TRUE(c);
  SetVoiceVolume(c, 0.5f);
  SetVoicePan(c, 1.0f);
  SetVoiceRate(c, 2.0f);
  SetVoiceDepth(c, 1.0f);
  ResumeVoice(c);
  EXPECT_EQ(VoicePlaying(c), 0);
  TSoundPtr s = LoadSound(MakeTone(441, 0.1), 0);
  ASSERT_TRUE(s);
  TChannelPtr p = StartSound(s);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Playing(), 0);
  EXPECT_TRUE(PrepareSound(s, c));
  EXPECT_FALSE(LoadSound(u"/no/such/file.wav", 0));
  StopVoice(nullptr);
  EXPECT_EQ(VoicePlaying(nullptr), 0);
}

TEST(AudioDrivers, NoSoundCardFailsCleanly) {
  // An audio driver that does not exist stands for a machine without a sound card.
  setenv("SDL_AUDIODRIVER", "no-such-sdl-driver", 1);
  for (const char* n : {"SoftAudio", "SoftAudio Multimedia", "SoftAudio DirectSound", "DirectSound"}) {
    EXPECT_EQ(UseAudioDriver(n), 0) << n;
    EXPECT_EQ(CurrentAudioDriver(), NullAudioDriver()) << n;
  }
  TSoundPtr s = LoadSound(MakeTone(441, 0.1), 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Play()->Playing(), 0);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_EQ(UseAudioDriver("SoftAudio"), 1);
  UseAudioDriver("Null");
}

namespace {
class SoftAudio : public ::testing::TestWithParam<const char*> {
protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(UseAudioDriver(GetParam()), 1);
  }
  void TearDown() override { UseAudioDriver("Null"); }
};
}  // namespace

TEST_P(SoftAudio, SoundsAndChannels) {
  TAudioDriver* d = CurrentAudioDriver();
  EXPECT_FALSE(d->CreateSound(WrapAudioSample(nullptr, 10, 22050, 0), 0));  // no channels
  TSoundPtr s = d->CreateSound(MakeTone(441, 0.2), 0);
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->Play(std::make_shared<TChannel>()));  // not a SoftAudio channel

  TChannelPtr mine = d->AllocChannel();
  ASSERT_TRUE(mine);
  TChannelPtr cued = s->Cue(mine);
  EXPECT_EQ(cued, mine);  // played on the channel it was given
  EXPECT_EQ(cued->Playing(), 0);  // paused
  cued->SetPaused(0);
  EXPECT_EQ(cued->Playing(), 1);
  auto soft = std::dynamic_pointer_cast<TSoftAudioChannel>(cued);
  int64_t p0 = soft->Position();
  // The feeding thread moves it on; a busy machine may take a while to run it.
  for (int i = 0; i < 500 && soft->Position() == p0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GT(soft->Position(), p0);
  cued->Stop();
  EXPECT_EQ(soft->fa_channel, 0);
  EXPECT_EQ(cued->Playing(), 0);

  TChannelPtr fresh = s->Play();  // a new channel for a new handle
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->Playing(), 1);
  for (int i = 0; i < 1000 && fresh->Playing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(fresh->Playing(), 0);  // finished

  // Big-endian samples are converted; looping sounds keep playing.
  auto be = MakeTone(441, 0.05)->Convert(SF_MONO16BE);
  TSoundPtr looped = d->CreateSound(be, SOUND_LOOP);
  TChannelPtr lc = looped->Play();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(lc->Playing(), 1);
  lc->SetPaused(1);
  EXPECT_EQ(lc->Playing(), 0);
  lc->Stop();
}

TEST_P(SoftAudio, DiscardedChannelsFreeTheirHandles) {
  TAudioDriver* d = CurrentAudioDriver();
  std::vector<TChannelPtr> all;
  while (TChannelPtr c = d->AllocChannel()) all.push_back(c);
  EXPECT_EQ(all.size(), static_cast<size_t>(FA_CHANNELS));
  all.pop_back();
  EXPECT_TRUE(d->AllocChannel());
}

INSTANTIATE_TEST_SUITE_P(Modes, SoftAudio,
                         ::testing::Values("SoftAudio", "SoftAudio Multimedia", "SoftAudio DirectSound"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& ch : n)
                             if (ch == ' ') ch = '_';
                           return n;
                         });
