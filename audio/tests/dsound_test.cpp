// The DirectSound-like buffer layer and the "DirectSound" driver over it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/dsound/dsounddriver.h"
#include <ormix/runtime/errors.h>

namespace {

class DirectSoundLayer : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(DirectSoundCreate(dev), DS_OK);
    ASSERT_EQ(dev->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
  }
  void TearDown() override {
    if (dev) dev->Shutdown();
  }
  TDSBufferPtr Make(uint32_t bytes, uint32_t flags, uint16_t channels = 1, uint16_t bits = 16,
                    uint32_t rate = 44100) {
    TWaveFormat f;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.samplesPerSec = rate;
    f.avgBytesPerSec = rate * f.blockAlign;
    TDSBufferDesc d;
    d.flags = flags;
    d.bufferBytes = bytes;
    d.format = &f;
    TDSBufferPtr b;
    EXPECT_EQ(dev->CreateSoundBuffer(d, b), DS_OK);
    return b;
  }
  static bool WaitFor(const std::function<bool()>& cond, int ms = 3000) {
    for (int i = 0; i < ms / 10; ++i) {
      if (cond()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
  }
  TDSDevicePtr dev;
};

}  // namespace

TEST_F(DirectSoundLayer, CreationChecks) {
  TWaveFormat bad;
  bad.bitsPerSample = 24;
  bad.blockAlign = 6;
  TDSBufferDesc d;
  d.bufferBytes = 600;
  d.format = &bad;
  TDSBufferPtr b;
  EXPECT_EQ(dev->CreateSoundBuffer(d, b), DSERR_BADFORMAT);
  TWaveFormat ok;
  d.format = &ok;
  d.bufferBytes = 0;
  EXPECT_EQ(dev->CreateSoundBuffer(d, b), DSERR_INVALIDPARAM);
  EXPECT_FALSE(b);
  // The primary buffer: no size, no format; its format needs the priority level.
  TDSBufferDesc p;
  p.flags = DSBCAPS_PRIMARYBUFFER;
  p.bufferBytes = 16;
  EXPECT_EQ(dev->CreateSoundBuffer(p, b), DSERR_INVALIDPARAM);
  p.bufferBytes = 0;
  ASSERT_EQ(dev->CreateSoundBuffer(p, b), DS_OK);
  ASSERT_EQ(dev->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DS_OK);
  EXPECT_EQ(b->SetFormat(ok), DSERR_PRIOLEVELNEEDED);
  ASSERT_EQ(dev->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
  EXPECT_EQ(b->SetFormat(ok), DS_OK);
  EXPECT_EQ(dev->SetCooperativeLevel(nullptr, 9), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundLayer, LockRegionsAndControls) {
  TDSBufferPtr b = Make(1000, DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->Lock(900, 300, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(n2, 200u);
  EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), 900);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(n1, 1000u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(b->Lock(0, 1001, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(1000, 1, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(static_cast<uint8_t*>(p1) + 999, 2, nullptr, 0), DSERR_INVALIDPARAM);

  EXPECT_EQ(b->SetFrequency(22050), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(b->SetVolume(-10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetVolume(-669), DS_OK);
  int32_t v = 0;
  EXPECT_EQ(b->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, -669);
  EXPECT_EQ(b->SetPan(10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetPan(-10000), DS_OK);
  EXPECT_EQ(b->SetCurrentPosition(1000), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetCurrentPosition(998), DS_OK);
  uint32_t play = 0;
  EXPECT_EQ(b->GetCurrentPosition(&play, nullptr), DS_OK);
  EXPECT_EQ(play, 998u);
}

TEST_F(DirectSoundLayer, PlaysThroughAndNotifies) {
  // A one-shot buffer of 0.1 s stops by itself; its cursor moved on meanwhile.
  TDSBufferPtr once = Make(8820, 0);
  ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
  uint32_t st = 0;
  once->GetStatus(&st);
  EXPECT_EQ(st, DSBSTATUS_PLAYING);
  EXPECT_TRUE(WaitFor([&] {
    uint32_t s = 0;
    once->GetStatus(&s);
    return s == 0;
  }));
  // A looping buffer signals its positions, and the stop event when stopped.
  TDSBufferPtr loop = Make(4 * 4096, DSBCAPS_CTRLPOSITIONNOTIFY, 2);
  auto at = std::make_shared<TDSEvent>("at");
  auto stop = std::make_shared<TDSEvent>("stop");
  ASSERT_EQ(loop->SetNotificationPositions({{8192, at}, {DSBPN_OFFSETSTOP, stop}}), DS_OK);
  ASSERT_EQ(loop->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(loop->SetNotificationPositions({}), DSERR_INVALIDCALL);
  EXPECT_TRUE(at->Wait(2000));
  EXPECT_TRUE(at->Wait(2000));  // again after wrapping
  loop->GetStatus(&st);
  EXPECT_EQ(st, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  EXPECT_FALSE(stop->Wait(0));
  loop->Stop();
  EXPECT_TRUE(stop->Wait(0));
}

TEST_F(DirectSoundLayer, TinyLoopingBuffersAtTheHighestFrequency) {
  // Each output frame steps over the whole buffer several times.
  TDSBufferPtr b = Make(4, DSBCAPS_CTRLFREQUENCY, 1, 8, 8000);
  ASSERT_EQ(b->SetFrequency(DSBFREQUENCY_MAX), DS_OK);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  TDSBufferPtr c = Make(4, DSBCAPS_CTRLFREQUENCY, 2, 16, 8000);
  ASSERT_EQ(c->SetFrequency(DSBFREQUENCY_MAX), DS_OK);
  ASSERT_EQ(c->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  uint32_t play = 99;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_LT(play, 4u);
}

// The level a buffer is mixed at follows its volume and pan in hundredths of a decibel:
// a steady sample comes out as that sample times 10^(dB/20) on each side.
TEST_F(DirectSoundLayer, MixedLevelFollowsTheDecibels) {
  struct TCase {
    int32_t volume, pan;
  } cases[] = {{0, 0},        {-669, 0},     {-100, 0},    {-600, 0},     {-2000, 0},  {-4000, 0},
               {-669, -669},  {-669, 669},   {0, -2000},   {-300, 1000},  {-10000, 0}, {0, 10000}};
  const int16_t level = 20000;
  for (uint16_t bits : {uint16_t(16), uint16_t(8)}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << " bits, volume " << c.volume << ", pan " << c.pan);
      TDSBufferPtr b = Make(256, DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN, 2, bits);
      void *p1, *p2;
      uint32_t n1, n2;
      ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
      int32_t sample = level;
      if (bits == 16) {
        for (uint32_t i = 0; i < n1 / 2; ++i) static_cast<int16_t*>(p1)[i] = level;
      } else {
        std::memset(p1, 128 + 78, n1);  // 78 << 8 = 19968
        sample = 78 << 8;
      }
      b->Unlock(p1, n1, p2, n2);
      ASSERT_EQ(b->SetVolume(c.volume), DS_OK);
      ASSERT_EQ(b->SetPan(c.pan), DS_OK);
      ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
      int32_t acc[2 * 64] = {};
      {
        TAudioOutputLock lock;  // the output's own thread mixes under this lock too
        dev->MixOutput(acc, 64);
      }
      b->Stop();
      const double gain = c.volume <= DSBVOLUME_MIN ? 0 : std::pow(10.0, c.volume / 2000.0);
      const double left = sample * gain * (c.pan > 0 ? std::pow(10.0, -c.pan / 2000.0) : 1.0);
      const double right = sample * gain * (c.pan < 0 ? std::pow(10.0, c.pan / 2000.0) : 1.0);
      for (int i = 0; i < 64; ++i) {
        ASSERT_NEAR(acc[2 * i], left, 1.0 + left * 1e-4) << "frame " << i;
        ASSERT_NEAR(acc[2 * i + 1], right, 1.0 + right * 1e-4) << "frame " << i;
      }
    }
  }
}

TEST_F(DirectSoundLayer, DuplicatesShareMemory) {
  TDSBufferPtr a = Make(64, DSBCAPS_CTRLFREQUENCY, 1, 8, 11025);
  ASSERT_EQ(a->SetFrequency(22050), DS_OK);
  TDSBufferPtr b;
  ASSERT_EQ(dev->DuplicateSoundBuffer(a, b), DS_OK);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(a->Lock(0, 64, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::memset(p1, 0x42, n1);
  a->Unlock(p1, n1, p2, n2);
  void* q1;
  ASSERT_EQ(b->Lock(0, 64, &q1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(q1, p1);
  uint32_t hz = 0;
  b->GetFrequency(&hz);
  EXPECT_EQ(hz, 22050u);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  uint32_t st = 0;
  a->GetStatus(&st);
  EXPECT_EQ(st, 0u);  // each has its own cursor and state
  dev->Shutdown();
  EXPECT_EQ(a->Play(0, 0, 0), DSERR_NODRIVER);
  b->GetStatus(&st);
  EXPECT_EQ(st, 0u);
  dev.reset();
}

// ---- the driver ----

namespace {

class DirectSoundDriver : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(UseAudioDriver("directsound"), 1);
    drv = dynamic_cast<TDirectSoundAudioDriver*>(CurrentAudioDriver());
    ASSERT_TRUE(drv);
  }
  void TearDown() override { UseAudioDriver("Null"); }
  // A mono 16-bit sample of `frames` frames at 22050 Hz.
  static TAudioSamplePtr Tone(int frames) {
    auto s = NewAudioSample(frames, 22050, SF_MONO16LE);
    for (int i = 0; i < frames; ++i) reinterpret_cast<int16_t*>(s->samples)[i] = static_cast<int16_t>(i % 100 * 50);
    return s;
  }
  static int32_t Volume(const std::shared_ptr<TDirectSoundChannel>& c) {
    int32_t v = 1;
    c->_buf->_buffer->GetVolume(&v);
    return v;
  }
  static int32_t Pan(const std::shared_ptr<TDirectSoundChannel>& c) {
    int32_t v = 1;
    c->_buf->_buffer->GetPan(&v);
    return v;
  }
  static uint32_t Hz(const std::shared_ptr<TDirectSoundChannel>& c) {
    uint32_t v = 1;
    c->_buf->_buffer->GetFrequency(&v);
    return v;
  }
  static int Chain(const std::shared_ptr<TDirectSoundSound>& s) {
    int n = 0;
    for (TBufPtr b = s->_bufs; b; b = b->_succ) ++n;
    return n;
  }
  TDirectSoundAudioDriver* drv = nullptr;
};

}  // namespace

TEST_F(DirectSoundDriver, VolumePanAndRateArithmetic) {
  auto sound = std::dynamic_pointer_cast<TDirectSoundSound>(drv->CreateSound(Tone(2000), 0));
  ASSERT_TRUE(sound);
  auto c = std::dynamic_pointer_cast<TDirectSoundChannel>(sound->Cue(drv->AllocChannel()));
  ASSERT_TRUE(c && c->Bound());
  EXPECT_EQ(c->_static, 1);
  struct VolumeCase {
    float v;
    int32_t db;
  };
  for (VolumeCase k : {VolumeCase{0.5f, -669}, VolumeCase{1.0f, 0}, VolumeCase{0.0f, -10000},
                       VolumeCase{2.0f, 0}, VolumeCase{-1.0f, -10000}, VolumeCase{0.1f, -2056}}) {
    c->SetVolume(k.v);
    EXPECT_EQ(Volume(c), k.db) << k.v;
  }
  struct PanCase {
    float p;
    int32_t pan;
  };
  for (PanCase k : {PanCase{0.5f, 5000}, PanCase{-2.0f, -10000}, PanCase{1.0f, 10000}, PanCase{-0.25f, -2500}}) {
    c->SetPan(k.p);
    EXPECT_EQ(Pan(c), k.pan) << k.p;
  }
  c->SetRate(2.0f);
  EXPECT_EQ(Hz(c), 44100u);
  // Stored values return at the next cue, on a fresh channel too.
  auto d = std::make_shared<TDirectSoundChannel>();
  d->SetVolume(0.5f);
  d->SetPan(-0.25f);
  d->SetRate(0.5f);
  ASSERT_EQ(d->Cue(sound), 1);
  EXPECT_EQ(Volume(d), -669);
  EXPECT_EQ(Pan(d), -2500);
  EXPECT_EQ(Hz(d), 11025u);
  EXPECT_EQ(d->Playing(), 1);  // cued counts as playing
}

TEST_F(DirectSoundDriver, DuplicationAndReuse) {
  auto sound = std::dynamic_pointer_cast<TDirectSoundSound>(drv->CreateSound(Tone(2205), 0));  // 0.1 s
  ASSERT_TRUE(sound);
  auto a = sound->Cue();
  auto b = sound->Cue();
  auto c = sound->Cue();
  EXPECT_EQ(Chain(sound), 3);  // one buffer per simultaneous voice
  for (auto& ch : {a, b, c}) EXPECT_EQ(ch->Playing(), 1);
  a->Stop();
  EXPECT_EQ(a->Playing(), 0);
  auto d = sound->Play();  // takes the buffer a let go
  EXPECT_EQ(Chain(sound), 3);
  b->SetPaused(0);
  c->SetPaused(0);
  // Once they have all finished, the next cue reuses one and duplicates nothing.
  for (int i = 0; i < 300 && (b->Playing() || c->Playing() || d->Playing()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(d->Playing(), 0);
  auto e = sound->Cue();
  EXPECT_EQ(Chain(sound), 3);
  EXPECT_EQ(e->Playing(), 1);
  // The channel whose buffer was handed on is inert.
  auto de = std::dynamic_pointer_cast<TDirectSoundChannel>(e);
  int holders = 0;
  for (auto& ch : {b, c, d}) holders += std::dynamic_pointer_cast<TDirectSoundChannel>(ch)->_buf == de->_buf;
  EXPECT_LE(holders, 1);
  for (auto& ch : {b, c, d}) {
    auto x = std::dynamic_pointer_cast<TDirectSoundChannel>(ch);
    if (x->_buf == de->_buf) {
      EXPECT_FALSE(x->Bound());
    }
  }
}

TEST_F(DirectSoundDriver, FailuresRaiseTheirText) {
  auto empty = NewAudioSample(0, 22050, SF_MONO16LE);
  try {
    drv->CreateSound(empty, 0);
    FAIL() << "no exception";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "CreateSoundBuffer failed (87)");
  }
  auto slow = NewAudioSample(10, 50, SF_MONO8);
  try {
    drv->CreateSound(slow, 0);
    FAIL() << "no exception";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "CreateSoundBuffer failed (100)");
  }
  EXPECT_FALSE(drv->CreateSound(WrapAudioSample(nullptr, 10, 22050, 0), 0));
  // Big-endian samples are converted.
  auto be = NewAudioSample(4, 22050, SF_STEREO16BE);
  auto s = std::dynamic_pointer_cast<TDirectSoundSound>(drv->CreateSound(be, SOUND_LOOP));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->_loop, 1);
  TWaveFormat f;
  s->_buffer->GetFormat(&f);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.bitsPerSample, 16);
  EXPECT_EQ(s->_buffer->Flags(), 0x80E2u | DSBCAPS_LOCSOFTWARE);
  auto hw = std::dynamic_pointer_cast<TDirectSoundSound>(drv->CreateSound(be, SOUND_HARDWARE));
  EXPECT_EQ(hw->_buffer->Flags(), 0x80E2u);
}

TEST_F(DirectSoundDriver, ShutdownMakesOldSoundsInertAndLonelyBuffersFinish) {
  auto sound = drv->CreateSound(Tone(2205), 0);
  auto playing = std::dynamic_pointer_cast<TDirectSoundChannel>(sound->Play());
  EXPECT_EQ(playing->Playing(), 1);
  TBufPtr buf = playing->_buf;
  playing.reset();  // a playing channel let go goes on playing
  sound.reset();    // its buffer finishes on the lonely list
  ASSERT_TRUE(drv->_lonely);
  EXPECT_EQ(buf->Active(), 1);
  drv->FlushLonely();
  EXPECT_TRUE(drv->_lonely);
  for (int i = 0; i < 300 && buf->Active(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  drv->FlushLonely();
  EXPECT_FALSE(drv->_lonely);

  auto kept = drv->CreateSound(Tone(22050), SOUND_LOOP);
  auto ch = kept->Play();
  EXPECT_EQ(ch->Playing(), 1);
  ASSERT_EQ(UseAudioDriver("DIRECTSOUND"), 1);  // shut down and started again
  EXPECT_EQ(ch->Playing(), 0);
  ch->SetPaused(0);
  EXPECT_EQ(ch->Playing(), 0);
  auto again = kept->Cue();
  EXPECT_EQ(again->Playing(), 0);
}
