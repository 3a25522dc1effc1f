// Music streams: wave files as music, the stream arithmetic, and songs heard through every
// audio driver (the test renders the output itself, so it records what was played).
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "audio/audiooutput.h"
#include "audio/dsound/dsoundstream.h"
#include "audio/openal/openal.h"
#include "audio/softaudio/softmixer.h"
#include "audio/tests/tone_util.h"
#include <ormix/music/audiostream.h>
#include "music/player/song_player.h"
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>
#include <ormix/system/system.h>

namespace {

// A RIFF file: "fmt " chunk of fmtLen bytes, optional chunks before it and before data.
std::vector<uint8_t> MakeWav(int channels, int rate, int bits, const std::vector<uint8_t>& data,
                             int fmtLen = 16, bool chunkBeforeFmt = false, bool chunkBeforeData = false,
                             int formatTag = 1) {
  std::vector<uint8_t> b;
  auto tag = [&](const char* t) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i])); };
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); };
  auto list = [&] { tag("LIST"); u32(6); tag("INFO"); u16(0); };
  tag("RIFF");
  u32(0);
  tag("WAVE");
  if (chunkBeforeFmt) list();
  tag("fmt ");
  u32(static_cast<uint32_t>(fmtLen));
  u16(static_cast<uint16_t>(formatTag));
  u16(static_cast<uint16_t>(channels));
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate * channels * bits / 8));
  u16(static_cast<uint16_t>(channels * bits / 8));
  u16(static_cast<uint16_t>(bits));
  for (int i = 16; i < fmtLen; ++i) b.push_back(0xEE);
  if (chunkBeforeData) list();
  tag("data");
  u32(static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::shared_ptr<TWavStream> LoadWav(const std::vector<uint8_t>& bytes) {
  return TWavStream::Load(TMusicSource(std::static_pointer_cast<TStream>(TRamStream::FromBytes(bytes))));
}

// A 441 Hz sine at 44100 Hz stereo, `frames` long; counts Free calls.
class ToneMusic : public TMusic {
public:
  int frames;
  int pos = 0;
  int freed = 0;
  explicit ToneMusic(int n) : frames(n) {}
  static int16_t Sample(int i) { return static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 441.0 * i / 44100))); }
  int32_t FillBuffer(void* buffer, int32_t size) override {
    auto* o = static_cast<int16_t*>(buffer);
    for (int32_t k = 0; k < size / 4; ++k) {
      int16_t v = pos < frames ? Sample(pos) : 0;
      o[2 * k] = o[2 * k + 1] = v;
      if (++pos >= frames) {
        if (STREAM_LOOP == 1) pos = 0;
        else PlayStatus = 0;
      }
    }
    return size;
  }
  void Free() override { ++freed; }
};

}  // namespace

TEST(WavStream, FormatsAndRefusals) {
  std::vector<uint8_t> d(64, 1);
  struct Case { int ch, bits, fmtLen; bool before, between; int tag; int32_t format; } cases[] = {
      {1, 16, 16, false, false, 1, MUSIC_MONO16},
      {2, 8, 16, false, false, 1, MUSIC_STEREO8},
      {1, 8, 16, false, false, 1, MUSIC_MONO8},
      {2, 16, 18, false, false, 1, MUSIC_STEREO16},  // two extra format bytes skipped
      {2, 16, 16, false, true, 1, MUSIC_STEREO16},   // a chunk between "fmt " and "data"
      {2, 24, 16, false, false, 1, 0},               // 24-bit refused
      {2, 16, 16, true, false, 1, 0},                // a chunk before "fmt " refused
      {2, 16, 16, false, false, 3, 0},               // not PCM
  };
  for (auto& c : cases) {
    auto w = LoadWav(MakeWav(c.ch, 22050, c.bits, d, c.fmtLen, c.before, c.between, c.tag));
    if (c.format == 0) {
      EXPECT_EQ(w, nullptr) << c.bits << " " << c.before;
      continue;
    }
    ASSERT_TRUE(w) << c.ch << " " << c.bits;
    EXPECT_EQ(w->STREAM_FORMAT, c.format);
    EXPECT_EQ(w->SAMPLE_RATE, 22050);
    EXPECT_EQ(w->STREAM_SIZE, 64);
    uint8_t first = 0;
    w->FillBuffer(&first, 1);
    EXPECT_EQ(first, 1) << "positioned at the first data byte";
  }
  EXPECT_EQ(LoadWav({'R', 'I', 'F'}), nullptr);
  // A data chunk that claims more than the file holds plays what is there.
  auto bytes = MakeWav(1, 8000, 8, std::vector<uint8_t>(10, 7));
  bytes[bytes.size() - 14] = 0xFF;  // data size's low byte -> 255
  auto w = LoadWav(bytes);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->STREAM_SIZE, 10);
}

TEST(WavStream, LoopsBackToTheFirstDataByteOrEnds) {
  std::vector<uint8_t> d = {1, 2, 3, 4, 5, 6};
  auto w = LoadWav(MakeWav(1, 8000, 16, d));
  ASSERT_TRUE(w);
  w->STREAM_LOOP = 1;
  w->PlayStatus = 1;
  uint8_t out[10];
  w->FillBuffer(out, 4);
  EXPECT_EQ(w->STREAM_POS, 4);
  w->FillBuffer(out, 4);  // 5, 6, then the first byte again
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(out[2], 1);
  EXPECT_EQ(out[3], 2);
  EXPECT_EQ(w->STREAM_POS, 2);
  EXPECT_EQ(w->PlayStatus, 1);

  auto once = LoadWav(MakeWav(1, 8000, 16, d));
  once->STREAM_LOOP = 0;
  once->PlayStatus = 1;
  std::memset(out, 0xAA, sizeof out);
  once->FillBuffer(out, 10);
  EXPECT_EQ(out[5], 6);
  EXPECT_EQ(out[6], 0);  // the tail past the end is silence
  EXPECT_EQ(once->PlayStatus, 0);
  EXPECT_EQ(once->STREAM_POS, 0);  // rewound by Stop
}

TEST(MusicConverter, ResamplesMonoToOutputRateAndLayout) {
  // 22050 Hz mono: every source frame becomes two output frames, on both sides.
  std::vector<uint8_t> d;
  for (int i = 0; i < 100; ++i) {
    int16_t v = static_cast<int16_t>(i * 100);
    d.push_back(static_cast<uint8_t>(v));
    d.push_back(static_cast<uint8_t>(v >> 8));
  }
  auto w = LoadWav(MakeWav(1, 22050, 16, d));
  ASSERT_TRUE(w);
  w->STREAM_LOOP = 0;
  w->PlayStatus = 1;
  TMusicConverter conv;
  std::vector<int16_t> out(2 * 150);
  conv.Render(*w, out.data(), static_cast<int32_t>(out.size() * 2));
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 50);  // halfway between 0 and 100
  EXPECT_EQ(out[4], 100);
  EXPECT_EQ(out[5], 100);
  EXPECT_EQ(out[2 * 100], 5000);
  // 8-bit unsigned silence is 0x80 and becomes 0.
  auto w8 = LoadWav(MakeWav(2, 44100, 8, std::vector<uint8_t>(8, 0x80)));
  ASSERT_TRUE(w8);
  w8->PlayStatus = 1;
  std::vector<int16_t> o8(8, 123);
  conv.Reset();
  conv.Render(*w8, o8.data(), 16);
  for (int16_t v : o8) EXPECT_EQ(v, 0);
}

// A wave file at the output layout passes straight through; once it has ended (no loop)
// what follows is silence, not the file again from its rewound start.
TEST(MusicConverter, AnEndedFileIsNotPlayedAgain) {
  std::vector<uint8_t> d(4 * 100);
  for (size_t i = 0; i < d.size(); i += 2) d[i + 1] = 0x20;  // 0x2000 everywhere
  auto w = LoadWav(MakeWav(2, 44100, 16, d));
  ASSERT_TRUE(w);
  w->STREAM_LOOP = 0;
  w->PlayStatus = 1;
  TMusicConverter conv;
  std::vector<int16_t> out(2 * 300, 1);
  for (int request = 0; request < 3; ++request) conv.Render(*w, out.data() + 2 * 100 * request, 4 * 100);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(out[2 * i], 0x2000) << i;
  for (int i = 100; i < 300; ++i) ASSERT_EQ(out[2 * i], 0) << "frame " << i << " after the end";
}

TEST(AudioStream, VolumeArithmetic) {
  EXPECT_EQ(StreamVolumeToDecibels(0.0f), -10000);
  EXPECT_EQ(StreamVolumeToDecibels(0.1f), -3321);
  EXPECT_EQ(StreamVolumeToDecibels(1.5f), 0);
  EXPECT_EQ(StreamVolumeToDecibels(1e-9f), -10000);
}

// Streams through a driver whose output the test renders itself, one timer period at a
// time: the platform output driven by hand for the SDL back ends, a loopback device for
// OpenAL. The test is the clock, so one capture decides whatever the machine's load.
class StreamThroughDriver : public ::testing::TestWithParam<const char*> {
protected:
  bool openal = false;
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    InitAudioModule();
    InitMusicModule();
    openal = std::string(GetParam()) == "OpenAL";
    if (openal) {
      if (!OpenALApi() || !RegisterOpenALDrivers()) ORMIX_SKIP_OR_FAIL() << "OpenAL is not available";
      if (!OpenALApi()->alcRenderSamplesSOFT) ORMIX_SKIP_OR_FAIL() << "OpenAL has no loopback device";
      static TOpenALAudioDriver* loopback = [] {
        auto* d = new TOpenALAudioDriver(u"OpenAL Loopback", "");
        d->_loopback = true;
        return d;
      }();
      ASSERT_EQ(UseAudioDriver(loopback->Name()), 1);
    } else {
      AudioOutputSetManual(true);
      ASSERT_EQ(UseAudioDriver(GetParam()), 1) << GetParam();
    }
  }
  void TearDown() override {
    UseAudioDriver("Null");
    TDirectSoundAudioStream::ShutDown();
    AudioOutputSetManual(false);
  }
  // One period of the streams' 120 Hz timer (8 ms) of output.
  void Render(std::vector<int16_t>& pcm) {
    constexpr int kFrames = 44100 * 8 / 1000;
    int16_t block[2 * kFrames];
    if (openal)
      OpenALRenderLoopback(block, kFrames);
    else
      AudioOutputRender(block, kFrames);
    pcm.insert(pcm.end(), block, block + 2 * kFrames);
  }
  // Starts a stream and plays it out as its timer would: an update, then the output of one
  // timer period, until the stream has let go of its music (at most 5 s), then 0.2 s more.
  std::vector<int16_t> PlayAndCapture(const std::function<TAudioStreamPtr()>& start) {
    std::vector<int16_t> pcm;
    TAudioStreamPtr stream = start();
    if (!stream) {
      ADD_FAILURE() << "no stream on " << GetParam();
      return {};
    }
    EXPECT_EQ(stream->Playing(), 1);
    for (int tick = 0; tick < 625 && stream->Music; ++tick) {
      stream->Update();
      Render(pcm);
    }
    EXPECT_EQ(stream->Music, nullptr) << "a non-looping stream stops itself after the end";
    EXPECT_EQ(stream->Playing(), 0);
    for (int tick = 0; tick < 25; ++tick) Render(pcm);
    return pcm;
  }
};

TEST_P(StreamThroughDriver, ASongIsHeardWholeAndTheStreamStopsItself) {
  auto music = std::make_shared<ToneMusic>(22050);  // half a second
  std::vector<int16_t> pcm = PlayAndCapture([&] {
    music->pos = 0;
    return PlayMusic(std::static_pointer_cast<TMusic>(music), 0, 0);
  });
  EXPECT_EQ(music->freed, 0) << "the caller's music stays alive";
  Heard h = Analyse(pcm);
  EXPECT_NEAR(h.seconds, 0.5, 0.02);
  EXPECT_NEAR(h.hz, 441.0, 441.0 * 0.02);
  EXPECT_EQ(h.gaps, 0);
  // The same samples the music produced, from where it starts (the best match near the
  // first loud frame; an output may add a little dither before it).
  size_t loud = 0;
  while (loud < pcm.size() / 2 && std::abs(pcm[2 * loud]) < 1000) ++loud;
  ASSERT_LT(loud, pcm.size() / 2);
  double best = -1;
  for (size_t first = loud > 40 ? loud - 40 : 0; first <= loud; ++first) {
    double dot = 0, a2 = 0, b2 = 0;
    for (int i = 0; i < 22050 && 2 * (first + i) + 1 < pcm.size(); ++i) {
      double a = ToneMusic::Sample(i), b = pcm[2 * (first + i)];
      dot += a * b;
      a2 += a * a;
      b2 += b * b;
    }
    if (a2 * b2 > 0) best = std::max(best, dot / std::sqrt(a2 * b2));
  }
  EXPECT_GT(best, 0.999) << GetParam();
  EXPECT_NEAR(h.peak, 12000, 12000 * 0.05) << GetParam();
}

TEST_P(StreamThroughDriver, AWaveFileAtHalfRatePlaysAtItsOwnPitch) {
  std::vector<uint8_t> d;
  for (int i = 0; i < 11025; ++i) {  // half a second at 22050 Hz mono
    int16_t v = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 441.0 * i / 22050)));
    d.push_back(static_cast<uint8_t>(v));
    d.push_back(static_cast<uint8_t>(v >> 8));
  }
  std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/tone22k_" + std::to_string(getpid()) + ".wav";
  auto bytes = MakeWav(1, 22050, 16, d);
  SaveAllBytes(bytes, ToText(path));
  std::vector<int16_t> pcm = PlayAndCapture([&] {
    auto stream = PlayMusic(TMusicSource(ToText(path)), 0, 0);
    EXPECT_TRUE(!stream || stream->KeepMusic == 0) << "the stream owns what it loaded";
    return stream;
  });
  std::remove(path.c_str());
  Heard h = Analyse(pcm);
  EXPECT_NEAR(h.seconds, 0.5, 0.02);
  EXPECT_NEAR(h.hz, 441.0, 441.0 * 0.02);
  EXPECT_EQ(h.gaps, 0);
}

// A stream that goes without Stop (its hook taken off the event chain and the last
// reference dropped, as when the program's hooks go at its end) still frees the music it
// loaded itself.
TEST_P(StreamThroughDriver, AStreamDestroyedWithoutStopFreesWhatItLoaded) {
  static int loadedFreed = 0;
  struct CountingTone : ToneMusic {
    CountingTone() : ToneMusic(44100) {}
    void Free() override { ++loadedFreed; }
  };
  auto saved = CantorLoader::Registry();
  CantorLoader::Registry().insert(CantorLoader::Registry().begin(), [] {
    auto entry = std::make_shared<CantorLoader>();
    entry->Func = [](const TMusicSource& s) -> TMusicPtr {
      return s.url == u"counting-tone" ? std::make_shared<CountingTone>() : nullptr;
    };
    return entry;
  }());
  loadedFreed = 0;
  TAudioStreamPtr stream = PlayMusic(TMusicSource(u"counting-tone"), 1, 0);
  CantorLoader::Registry() = saved;
  ASSERT_TRUE(stream) << GetParam();
  std::vector<int16_t> pcm;
  Render(pcm);
  stream->Update();
  DeleteHook(EventHookId(), TAudioStream::eventhook, std::static_pointer_cast<void>(stream));
  stream.reset();
  EXPECT_EQ(loadedFreed, 1) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Drivers, StreamThroughDriver,
                         ::testing::Values("DirectSound", "SoftAudio", "SoftAudio DirectSound",
                                           "SoftAudio Multimedia", "OpenAL"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& c : n)
                             if (c == ' ') c = '_';
                           return n;
                         });

// Full-scale 8-bit square waves at low rates, converted to the output rate: neighbouring
// frames lie 65280 apart, so every edge must still rise or fall without a kink; and each
// file ends 1000 frames into the converter's 1024-frame read-ahead, which must be heard to
// the last frame after the music itself has stopped.
class SquareWaveThroughDriver : public StreamThroughDriver {};

TEST_P(SquareWaveThroughDriver, FullScaleFilesPlayCleanToTheirLastFrame) {
  struct Case { int rate, chunks; } cases[] = {{8000, 11}, {22050, 32}};  // about 1.5 s each
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const int frames = c.chunks * 1024 + 1000;
    std::vector<uint8_t> d(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) d[static_cast<size_t>(i)] = (i * 2 * 250 / c.rate) % 2 ? 0xFF : 0x00;  // 250 Hz
    std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/square_" + std::to_string(getpid()) + ".wav";
    SaveAllBytes(MakeWav(1, c.rate, 8, d), ToText(path));
    const double seconds = static_cast<double>(frames) / c.rate;
    // Played out deterministically; the capture stops itself after the end.
    std::vector<int16_t> pcm = PlayAndCapture([&] { return PlayMusic(TMusicSource(ToText(path)), 0, 0); });
    Heard h = Analyse(pcm);
    std::remove(path.c_str());
    EXPECT_EQ(h.gaps, 0);
    EXPECT_NEAR(h.seconds, seconds, 0.01) << "the tail read ahead before the end is heard";
    EXPECT_GE(h.peak, 32000);
    int kinks = 0;
    for (size_t i = 1; i + 1 < pcm.size() / 2; ++i) {
      const int d1 = pcm[2 * i] - pcm[2 * i - 2], d2 = pcm[2 * i + 2] - pcm[2 * i];
      if ((d1 > 1000 && d2 < -1000) || (d1 < -1000 && d2 > 1000)) ++kinks;
    }
    EXPECT_EQ(kinks, 0) << "an edge turned back on itself";
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, SquareWaveThroughDriver, ::testing::Values("SoftAudio", "DirectSound"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

// A stream that cannot start (every voice of the software mixer busy) returns null and
// leaves the caller's music alive; one it loaded itself is freed.
TEST(AudioStream, AStreamThatCannotStartLeavesTheCallersMusicAlone) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitAudioModule();
  InitMusicModule();
  AudioOutputSetManual(true);
  ASSERT_EQ(UseAudioDriver("SoftAudio"), 1);
  // Output is driven by hand and never rendered here, so voices once taken stay taken.
  std::vector<int16_t> frames(64, 0);
  fa_sound* blip = fa_createsound(32, 16, 2, 44100, frames.data(), 0);
  ASSERT_NE(blip, nullptr);
  const int32_t handle = fa_allocchannel();
  ASSERT_NE(handle, 0);
  int taken = 0;
  while (taken < 100000 && fa_play(blip, 1, handle) != 0) ++taken;
  ASSERT_GT(taken, 0);
  ASSERT_LT(taken, 100000) << "the mixer never ran out of voices";

  auto music = std::make_shared<ToneMusic>(44100);
  EXPECT_EQ(PlayMusic(std::static_pointer_cast<TMusic>(music), 0, 0), nullptr);
  EXPECT_EQ(music->freed, 0) << "the caller's music was freed by a stream that never started";

  fa_freesound(blip);
  UseAudioDriver("Null");
  AudioOutputSetManual(false);
}

TEST(AudioStream, StopKeepsCallersMusicAndPanSaturates) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitAudioModule();
  InitMusicModule();
  ASSERT_EQ(UseAudioDriver("DirectSound"), 1);
  auto music = std::make_shared<ToneMusic>(44100);
  auto stream = std::dynamic_pointer_cast<TDirectSoundAudioStream>(
      PlayMusic(std::static_pointer_cast<TMusic>(music), 1, 1));
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Playing(), 0) << "created paused";
  stream->SetPan(2.0f);
  int32_t pan = 0;
  stream->pDSB->GetPan(&pan);
  EXPECT_EQ(pan, 10000);
  stream->SetVolume(0.1f);
  int32_t vol = 0;
  stream->pDSB->GetVolume(&vol);
  EXPECT_EQ(vol, -3321);
  stream->SetRate(0.5f);
  uint32_t hz = 0;
  stream->pDSB->GetFrequency(&hz);
  EXPECT_EQ(hz, 22050u);
  stream->SetPaused(0);
  EXPECT_EQ(stream->Playing(), 1);
  stream->Stop();
  EXPECT_EQ(music->freed, 0);
  EXPECT_EQ(stream->Playing(), 0);
  stream->Stop();  // twice is harmless

  ASSERT_EQ(UseAudioDriver("Null"), 1);
  EXPECT_EQ(PlayMusic(std::static_pointer_cast<TMusic>(music), 0, 0), nullptr) << "no streaming channel";
  EXPECT_EQ(PlayMusic(TMusicSource(u"/no/such/file.mod"), 0, 0), nullptr);
}
