// The software mixer: accumulator conversion, start delays, gains, rates and ramps,
// looping and finishing, streaming, the channel-handle table and the wave-out feeding.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/softaudio/softmixer.h"

namespace {

constexpr int FRAG = 1024;  // samples
constexpr int FRAMES = FRAG / 2;

// A mixer sound over 16-bit data (copied).
fa_sound* Sound16(const std::vector<int16_t>& data, int channels, int rate, int loop = 0) {
  return fa_createsound(static_cast<int32_t>(data.size() / channels), 16, channels, rate, data.data(), loop);
}

fa_sound* Dc(int16_t value, int frames, int loop = 0) {
  return Sound16(std::vector<int16_t>(frames, value), 1, 44100, loop);
}

struct Fixture {
  mixer m{FRAG};
  std::vector<int16_t> out = std::vector<int16_t>(FRAG);
  uint32_t now = 5000;

  sound* Start(fa_sound* s, int32_t queuedAgo = 100, bool freeOnFinish = true) {
    sound* v = m.takevoice();
    v->reset(s, 4096, freeOnFinish, false);
    s->users.fetch_add(1);
    m.queue(v, now - queuedAgo);
    return v;
  }
  const std::vector<int16_t>& Mix() {
    m.mix(out.data(), FRAG, now);
    return out;
  }
};

}  // namespace

TEST(Mixer, AccumulatorConversion) {
  struct Case {
    int32_t acc;
    int16_t out;
  };
  const Case cases[] = {{32767 * 16, 32767},  {32767 * 16 - 1, 32766}, {-32768 * 16, -32768},
                        {-32768 * 16 - 1, -32768}, {1 << 30, 32767},     {-(1 << 30), -32768},
                        {16, 1},               {15, 0},                {-1, -1}};
  for (const Case& c : cases) {
    int32_t acc[2] = {c.acc, c.acc};
    int16_t out[2];
    mixer::convert(acc, out, 2);
    EXPECT_EQ(out[0], c.out) << c.acc;
    EXPECT_EQ(acc[0], 0);
  }
}

TEST(Mixer, StartDelay) {
  struct Case {
    int32_t queuedAgo;
    int firstFrame;
  };
  for (Case c : {Case{0, 882}, Case{30, 0}, Case{20, 0}, Case{10, 441}}) {
    Fixture f;
    fa_sound* s = Dc(1000, 44100);
    f.Start(s, c.queuedAgo);
    std::vector<int16_t> all;
    for (int i = 0; i < 3; ++i) {
      f.Mix();
      all.insert(all.end(), f.out.begin(), f.out.end());
    }
    int first = -1;
    for (size_t i = 0; i < all.size(); i += 2)
      if (all[i] != 0) {
        first = static_cast<int>(i / 2);
        break;
      }
    EXPECT_EQ(first, c.firstFrame) << "queued " << c.queuedAgo << " ms before";
    EXPECT_EQ(all[2 * (first + 5)], 1000);
    fa_freesound(s);
  }
}

TEST(Mixer, GainsPanAndDepth) {
  struct Case {
    int32_t volume, pan, depth;
    int16_t left, right;
  };
  const Case cases[] = {{4096, 0, 0, 1000, 1000},     {2048, 0, 0, 500, 500},    {4096, 2048, 0, 500, 1000},
                        {4096, -4096, 0, 1000, 0},     {4096, 0, -4096, 1000, -1000},
                        {4096, 4096, 0, 0, 1000}};
  for (const Case& c : cases) {
    Fixture f;
    fa_sound* s = Dc(1000, 44100);
    sound* v = f.Start(s);
    v->setvolume(c.volume);
    v->setpan(c.pan);
    v->setdepth(c.depth);
    f.Mix();
    EXPECT_EQ(f.out[100], c.left) << c.volume << " " << c.pan << " " << c.depth;
    EXPECT_EQ(f.out[101], c.right) << c.volume << " " << c.pan << " " << c.depth;
    fa_freesound(s);
  }
  // Stereo data feeds each side from its own channel; 8-bit data is widened u*256-32768.
  Fixture f;
  fa_sound* st = Sound16(std::vector<int16_t>{1000, -2000, 1000, -2000, 1000, -2000}, 2, 44100, 1);
  std::vector<uint8_t> u8(100, 0x90);
  fa_sound* e = fa_createsound(100, 8, 1, 44100, u8.data(), 1);
  f.Start(st);
  f.Start(e);
  f.Mix();
  EXPECT_EQ(f.out[10], 1000 + 4096);
  EXPECT_EQ(f.out[11], -2000 + 4096);
  fa_freesound(st);
  fa_freesound(e);
}

TEST(Mixer, RatesAndInterpolation) {
  std::vector<int16_t> ramp(4000);
  for (int i = 0; i < 4000; ++i) ramp[i] = static_cast<int16_t>(i * 4);
  struct Case {
    int32_t rate;  // 16.16
    int soundRate;
    int frame;
    int16_t expect;
  };
  const Case cases[] = {{0x10000, 44100, 100, 400},  {0x20000, 44100, 100, 800},
                        {0x8000, 44100, 101, 202},   {0x10000, 22050, 101, 202},
                        {0x10000, 88200, 100, 800}};
  for (const Case& c : cases) {
    Fixture f;
    fa_sound* s = Sound16(ramp, 1, c.soundRate);
    sound* v = f.Start(s);
    v->setrate(c.rate);
    f.Mix();
    EXPECT_EQ(f.out[2 * c.frame], c.expect) << c.rate << " " << c.soundRate;
    fa_freesound(s);
  }
}

TEST(Mixer, VolumeAndRateRamps) {
  Fixture f;
  fa_sound* s = Dc(1000, 44100 * 4);
  sound* v = f.Start(s);
  f.Mix();
  EXPECT_EQ(f.out[2 * 300], 1000);
  v->setvolume(0);
  f.Mix();
  // Falls linearly across the fragment.
  EXPECT_NEAR(f.out[0], 1000, 3);
  EXPECT_NEAR(f.out[2 * (FRAMES / 2)], 500, 4);
  EXPECT_NEAR(f.out[2 * (FRAMES - 1)], 0, 4);
  for (int i = 1; i < FRAMES; ++i) EXPECT_LE(f.out[2 * i], f.out[2 * (i - 1)]);
  f.Mix();
  EXPECT_EQ(f.out[2 * 10], 0);  // constant volume 0: silent, position still moves

  // Rate from 1.0 to 2.0 across one fragment advances 1.5 fragments.
  Fixture g;
  fa_sound* t = Dc(1000, 44100 * 4);
  sound* w = g.Start(t);
  g.Mix();
  uint64_t p0 = w->pos.load() >> 32;
  w->setrate(0x20000);
  g.Mix();
  uint64_t p1 = w->pos.load() >> 32;
  EXPECT_NEAR(static_cast<double>(p1 - p0), 1.5 * FRAMES, 2.0);
  g.Mix();
  EXPECT_EQ((w->pos.load() >> 32) - p1, 2u * FRAMES);
  fa_freesound(s);
  fa_freesound(t);
}

TEST(Mixer, LoopingFinishingAndPause) {
  Fixture f;
  std::vector<int16_t> ten{0, 100, 200, 300, 400, 500, 600, 700, 800, 900};
  fa_sound* looped = Sound16(ten, 1, 44100, 1);
  fa_sound* once = Sound16(ten, 1, 44100, 0);
  sound* a = f.Start(looped);
  sound* b = f.Start(once, 100, /*freeOnFinish=*/false);
  f.Mix();
  // Frame 23 of the mix: the looped voice is at 3, the one-shot voice finished after 10.
  EXPECT_EQ(f.out[2 * 23], 300);
  EXPECT_EQ(f.out[2 * 5], 1000);
  EXPECT_EQ(a->status.load() & (FA_PLAYING | FA_LOOP), FA_PLAYING | FA_LOOP);
  EXPECT_EQ(b->status.load(), FA_FINISHED);
  EXPECT_EQ(f.m.activecount(), 2);  // kept for its channel
  b->stop();
  a->setpaused(1);
  uint64_t pos = a->pos.load();
  f.Mix();
  EXPECT_EQ(f.m.activecount(), 1);
  EXPECT_EQ(f.out[100], 0);
  EXPECT_EQ(a->pos.load(), pos);
  a->setpaused(0);
  f.Mix();
  EXPECT_NE(f.out[2 * 1], 0);
  fa_freesound(looped);
  // A freed sound's voice is dropped at the next fragment.
  f.Mix();
  EXPECT_EQ(f.m.activecount(), 0);
  fa_freesound(once);
}

TEST(Mixer, FinishedVoicesWithoutHandleReturnToTheFreeRing) {
  Fixture f;
  fa_sound* s = Dc(1, 10);
  int taken = 0;
  while (sound* v = f.m.takevoice()) {
    v->reset(s, 1, true, false);
    s->users.fetch_add(1);
    f.m.queue(v, f.now - 100);
    ++taken;
  }
  EXPECT_EQ(taken, FA_VOICES);
  f.Mix();
  EXPECT_EQ(f.m.activecount(), 0);
  EXPECT_EQ(s->users.load(), 0);
  EXPECT_NE(f.m.takevoice(), nullptr);
  fa_freesound(s);
}

TEST(Mixer, StreamingVoiceWaitsForData) {
  Fixture f;
  std::vector<int16_t> data(4096, 700);
  fa_sound* s = Sound16(data, 1, 44100);
  s->written.store(100);
  sound* v = f.Start(s);
  v->setstreaming(1);
  f.Mix();
  EXPECT_EQ(f.out[2 * 50], 0);
  EXPECT_EQ(v->pos.load(), 0u);
  s->written.store(4096);
  f.Mix();
  EXPECT_EQ(f.out[2 * 50], 700);
  fa_freesound(s);
}

TEST(Mixer, NeverReadsOutsideTheSample) {
  // One-frame sounds at high rates, looping or not; position set far beyond the end.
  for (int bits : {8, 16})
    for (int ch : {1, 2})
      for (int loop : {0, 1}) {
        Fixture f;
        std::vector<uint8_t> one(static_cast<size_t>(ch * bits / 8), 0x7F);
        fa_sound* s = fa_createsound(1, bits, ch, 1000000, one.data(), loop);
        ASSERT_TRUE(s);
        sound* v = f.Start(s);
        v->setposition(int64_t{1} << 40);  // before anything was mixed
        f.Mix();
        sound* w = f.Start(s);
        w->setrate(0x1000000);
        f.Mix();
        w->setposition(int64_t{1} << 40);
        f.Mix();
        fa_freesound(s);
      }
  Fixture f;
  fa_sound* empty = fa_createsound(0, 16, 1, 44100, nullptr, 1);
  ASSERT_TRUE(empty);
  sound* v = f.Start(empty, 100, false);
  f.Mix();
  EXPECT_EQ(v->status.load(), FA_FINISHED);
  fa_freesound(empty);
  uint8_t bytes[40] = {};
  EXPECT_FALSE(fa_createsound(10, 12, 1, 44100, bytes, 0));  // no such sample width
  EXPECT_FALSE(fa_createsound(10, 16, 0, 44100, bytes, 0));  // no channels
  EXPECT_FALSE(fa_createsound(10, 16, 1, 0, bytes, 0));
}

class MixerChannels : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(fa_init(new winmmdevice(false)), 0);
  }
  void TearDown() override { fa_close(); }
};

TEST_F(MixerChannels, HandleTableAndGenerations) {
  std::vector<int32_t> handles;
  for (int i = 0; i < FA_CHANNELS; ++i) {
    int32_t h = fa_allocchannel();
    ASSERT_NE(h, 0) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(fa_allocchannel(), 0);  // the 4097th
  int32_t old = handles[7];
  EXPECT_EQ(fa_status(old), FA_FINISHED);  // allocated, nothing played: free
  fa_freechannel(old);
  int32_t again = fa_allocchannel();
  EXPECT_NE(again, 0);
  EXPECT_NE(again, old);
  EXPECT_EQ(again & (FA_CHANNELS - 1), old & (FA_CHANNELS - 1));
  EXPECT_EQ(again - old, FA_CHANNELS);  // one generation on
  EXPECT_EQ(fa_status(old), 0);          // stale: inert
  fa_setvolume(old, 0.5f);
  EXPECT_EQ(fa_voice(old), nullptr);
  for (int32_t h : handles) fa_freechannel(h);
  fa_freechannel(again);
}

TEST_F(MixerChannels, PlayOnHandles) {
  fa_sound* s = Dc(500, 100);
  int32_t h = fa_play(s, 0, 0);
  ASSERT_NE(h, 0);
  EXPECT_EQ(fa_status(h) & (FA_PLAYING | FA_PAUSED), FA_PLAYING);
  int32_t mine = fa_allocchannel();
  EXPECT_EQ(fa_play(s, 1, mine), mine);
  EXPECT_EQ(fa_status(mine) & FA_PAUSED, FA_PAUSED);
  fa_setpaused(mine, 0);
  EXPECT_EQ(fa_status(mine) & FA_PAUSED, 0);
  fa_setrate(mine, 2.0f);
  EXPECT_EQ(fa_voice(mine)->rate.load(), 0x20000);
  fa_setvolume(mine, 0.25f);
  EXPECT_EQ(fa_voice(mine)->volume.load(), 1024);
  fa_setpan(mine, -2.0f);
  EXPECT_EQ(fa_voice(mine)->pan.load(), -4096);
  // Replaying on the handle replaces its voice; the old one is stopped.
  sound* first = fa_voice(mine);
  EXPECT_EQ(fa_play(s, 0, mine), mine);
  EXPECT_NE(fa_voice(mine), first);
  EXPECT_EQ(first->status.load(), FA_STOPPED);
  fa_freechannel(mine);
  EXPECT_EQ(fa_play(s, 0, mine), 0);  // stale handle refused
  fa_stop(h);
  EXPECT_EQ(fa_status(h), FA_STOPPED);
  fa_freechannel(h);
  fa_freesound(s);
}

TEST(WaveOutDevice, UnderrunsRaiseTheLeadToTen) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  winmmdevice d(false);
  ASSERT_EQ(d.open(), 0);
  EXPECT_EQ(d.lead(), 6);
  d.tick();
  EXPECT_EQ(d.lead(), 6);
  const int expected[] = {8, 10, 10};
  for (int want : expected) {
    // Starve the device: the output plays on while nothing is fed.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    d.tick();
    EXPECT_EQ(d.lead(), want);
    EXPECT_EQ(d.pausedruns(), 250);
    EXPECT_EQ(d.written(), 2u * want * FRAG * 2);
    for (int i = 0; i < 250; ++i) d.tick();
    EXPECT_EQ(d.pausedruns(), 0);
  }
  d.close();
}

namespace {

// The mixing rule frame by frame, for a voice at a constant rate and volume: read the
// sample at the position and its successor (wrapping on a loop, repeating the last sample
// otherwise), interpolate by 15 bits of the fraction, scale by the side's gain, step.
// Returns the frames mixed before a one-shot sound ended.
int ReferenceMix(const fa_sound* s, bool loop, uint64_t step, int32_t gl, int32_t gr, int32_t* acc, int count,
                 uint64_t& fpos) {
  const uint64_t fend = static_cast<uint64_t>(s->length) << 32;
  auto sample = [&](uint32_t frame, int c) -> int32_t {
    const size_t i = static_cast<size_t>(frame) * s->channels + c;
    if (s->bits == 8) return s->data[i] * 256 - 32768;
    int16_t v;
    std::memcpy(&v, s->data + 2 * i, 2);
    return v;
  };
  for (int i = 0; i < count; ++i) {
    const uint32_t idx = static_cast<uint32_t>(fpos >> 32);
    uint32_t nxt = idx + 1;
    if (nxt >= static_cast<uint32_t>(s->length)) nxt = loop ? 0 : idx;
    const int32_t frac = static_cast<int32_t>((fpos >> 17) & 0x7FFF);
    int32_t side[2];
    for (int c = 0; c < 2; ++c) {
      const int sc = s->channels == 2 ? c : 0;
      const int32_t a = sample(idx, sc), b = sample(nxt, sc);
      side[c] = a + (((b - a) * frac) >> 15);
    }
    acc[2 * i] += (side[0] * gl) >> 8;
    acc[2 * i + 1] += (side[1] * gr) >> 8;
    fpos += step;
    if (fpos >= fend) {
      if (!loop) return i + 1;
      fpos %= fend;
    }
  }
  return count;
}

}  // namespace

// The mixer's fast paths (runs without per-frame checks, vector code for 16-bit mono) must
// give exactly the sums of the plain rule, across lengths near the edges of a run, rates
// below and above one sample per frame, loops and one-shot ends, and every format.
TEST(Mixer, FastPathsGiveTheSumsOfThePlainRule) {
  uint32_t seed = 12345;
  auto rnd = [&](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  const int lengths[] = {1, 2, 3, 7, 8, 9, 17, 100, 5000};
  const int32_t rates[] = {0x10000, 0x8000, 0x1234, 0x1FFFF, 0x30000, 0x8F000, 0x400000};
  for (int bits : {16, 8})
    for (int channels : {1, 2})
      for (int length : lengths)
        for (int32_t rate : rates)
          for (bool loop : {true, false}) {
            std::vector<uint8_t> bytes(static_cast<size_t>(length) * channels * (bits / 8));
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(rnd(256));
            const int soundRate = 8000 + static_cast<int>(rnd(40000));
            fa_sound* s = fa_createsound(length, bits, channels, soundRate, bytes.data(), loop);
            const int32_t vol = 1 + static_cast<int32_t>(rnd(6000)), pan = static_cast<int32_t>(rnd(8193)) - 4096;
            sound v;
            v.reset(s, 1, false, false);
            v.setrate(rate);
            v.setvolume(vol);
            v.setpan(pan);
            const uint64_t step = ((static_cast<uint64_t>(rate) << 16) * static_cast<uint64_t>(soundRate)) / 44100;
            int32_t gl = vol, gr = vol;
            if (pan > 0) gl = gl * (4096 - pan) / 4096;
            if (pan < 0) gr = gr * (4096 + pan) / 4096;
            uint64_t fpos = 0;
            bool ended = false;
            for (int frag = 0; frag < 4 && !ended; ++frag) {
              const int count = 200 + static_cast<int>(rnd(400));
              std::vector<int32_t> got(2 * static_cast<size_t>(count)), want(got.size());
              const int r = v.mix(got.data(), count);
              const int mixed = ReferenceMix(s, loop, step, gl, gr, want.data(), count, fpos);
              ended = mixed < count || (!loop && fpos >= (static_cast<uint64_t>(length) << 32));
              ASSERT_EQ(got, want) << bits << "-bit, " << channels << " ch, length " << length << ", rate " << rate
                                   << (loop ? ", loop" : ", once") << ", fragment " << frag;
              EXPECT_EQ(r, ended ? 1 : 0);
            }
            fa_freesound(s);
          }
}
