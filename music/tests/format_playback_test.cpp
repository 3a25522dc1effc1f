// Format playback of small one-behaviour XM and MOD files: envelopes, key off, the
// lowest note, pan envelope, auto-vibrato, effects, the pitch at every output rate, and
// native files that render as their source.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "music/player/song_player.h"
#include <ormix/music/song.h>
#include "format_bytes.h"

namespace {

using fmtbytes::Bytes;
using fmtbytes::Xm;
using fmtbytes::XmInstrument;
using fmtbytes::XmSample;

constexpr int kLine = 6 * 882;  // frames of one line at speed 6, tempo 125, 44100 Hz

// A looped 8-bit square wave of 32 frames a cycle (delta-coded as the file stores it).
XmSample Square() {
  XmSample s;
  s.length = 64;
  s.loopStart = 0;
  s.loopLength = 64;
  s.flags = 1;
  int prev = 0;
  for (int i = 0; i < 64; ++i) {
    const int v = (i % 32) < 16 ? 100 : -100;
    s.data.push_back(static_cast<uint8_t>(v - prev));
    prev = v;
  }
  return s;
}

XmInstrument Instrument() {
  XmInstrument in;
  in.samples.push_back(Square());
  return in;
}

struct CellBytes {
  int note = 0, inst = 0, vol = 0, fx = 0, fxv = 0;
};

// One pattern of `lines` lines on `channels` channels; cells given by (line, channel).
Xm Song(const std::vector<std::pair<std::pair<int, int>, CellBytes>>& cells, int lines = 16, int channels = 1) {
  Xm xm;
  xm.channels = channels;
  xm.patterns[0].lines = lines;
  for (int l = 0; l < lines; ++l) {
    for (int c = 0; c < channels; ++c) {
      const CellBytes* found = nullptr;
      for (const auto& e : cells)
        if (e.first.first == l && e.first.second == c) found = &e.second;
      if (!found) {
        xm.patterns[0].packed.push_back(0x80);
        continue;
      }
      Bytes& p = xm.patterns[0].packed;
      p.push_back(0x9F);
      for (int v : {found->note, found->inst, found->vol, found->fx, found->fxv}) p.push_back(static_cast<uint8_t>(v));
    }
  }
  xm.instruments.push_back(Instrument());
  return xm;
}

Cantor_MixerPtr Load(const Bytes& bytes, bool classic = false) {
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadTrackerSong(fmtbytes::Stream(bytes)));
  if (song) song->Seti(SONG_ID_CLASSIC, classic ? 1 : 0);
  return song;
}

std::vector<int16_t> Render(Cantor_Mixer& song, int frames) {
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frames), 0);
  song.PlayStatus = 1;
  song.FillBuffer(pcm.data(), frames * 4);
  return pcm;
}

// RMS of one side (0 left, 1 right, 2 both) over frames [from, to).
double Rms(const std::vector<int16_t>& pcm, int from, int to, int side = 2) {
  double sum = 0;
  int n = 0;
  for (int i = from; i < to; ++i) {
    for (int c = 0; c < 2; ++c) {
      if (side != 2 && side != c) continue;
      const double v = pcm[2 * static_cast<size_t>(i) + c];
      sum += v * v;
      ++n;
    }
  }
  return n ? std::sqrt(sum / n) : 0;
}

// Upward zero crossings of the left side over frames [from, to).
int Crossings(const std::vector<int16_t>& pcm, int from, int to) {
  int n = 0;
  for (int i = from + 1; i < to; ++i)
    if (pcm[2 * static_cast<size_t>(i - 1)] < 0 && pcm[2 * static_cast<size_t>(i)] >= 0) ++n;
  return n;
}

const CellBytes kC4{49, 1};  // C-4 with instrument 1

TEST(FormatPlayback, EnvelopeLevel64IsFullVolume) {
  Xm plain = Song({{{0, 0}, kC4}});
  Xm env = plain;
  env.instruments[0].envelope = {0, 64, 100, 64};
  env.instruments[0].volPoints = 2;
  env.instruments[0].volType = 1;
  auto a = Load(plain.Build()), b = Load(env.Build());
  ASSERT_TRUE(a && b);
  const double ra = Rms(Render(*a, 4 * kLine), kLine, 3 * kLine);
  const double rb = Rms(Render(*b, 4 * kLine), kLine, 3 * kLine);
  EXPECT_NEAR(rb / ra, 1.0, 0.02);
  // Classic playback reads the levels as percent.
  auto c = Load(env.Build(), true);
  auto d = Load(plain.Build(), true);
  EXPECT_NEAR(Rms(Render(*c, 4 * kLine), kLine, 3 * kLine) / Rms(Render(*d, 4 * kLine), kLine, 3 * kLine), 0.64, 0.02);
}

TEST(FormatPlayback, KeyOffReleasesTheSustainPoint) {
  // Full level, held at point 1, then down to 0 over 12 ticks (two lines) after release.
  Xm xm = Song({{{0, 0}, kC4}, {{4, 0}, CellBytes{97}}});
  XmInstrument& in = xm.instruments[0];
  in.envelope = {0, 64, 2, 64, 14, 0};
  in.volPoints = 3;
  in.volSustain = 1;
  in.volType = 1 | 2;
  auto song = Load(xm.Build());
  ASSERT_TRUE(song);
  const auto pcm = Render(*song, 10 * kLine);
  EXPECT_GT(Rms(pcm, 3 * kLine, 4 * kLine), 1000) << "held at the sustain point";
  const double release = Rms(pcm, 4 * kLine + kLine / 2, 5 * kLine);
  EXPECT_GT(release, 100) << "the envelope runs on after key off";
  EXPECT_LT(release, Rms(pcm, 3 * kLine, 4 * kLine));
  EXPECT_LT(Rms(pcm, 7 * kLine, 10 * kLine), 1) << "silent at the envelope's end";
}

TEST(FormatPlayback, KeyOffSilencesAnInstrumentWithoutEnvelope) {
  Xm xm = Song({{{0, 0}, kC4}, {{2, 0}, CellBytes{97}}});
  auto song = Load(xm.Build());
  ASSERT_TRUE(song);
  const auto pcm = Render(*song, 5 * kLine);
  EXPECT_GT(Rms(pcm, kLine, 2 * kLine), 1000);
  EXPECT_LT(Rms(pcm, 3 * kLine, 5 * kLine), 1);
}

TEST(FormatPlayback, FadeOutFollowsTheInstrument) {
  // Fade-out 1024 of 32768 per tick: silent 32 ticks (5.3 lines) after key off.
  Xm xm = Song({{{0, 0}, kC4}, {{1, 0}, CellBytes{97}}});
  XmInstrument& in = xm.instruments[0];
  in.envelope = {0, 64, 10, 64};
  in.volPoints = 2;
  in.volSustain = 1;
  in.volType = 1 | 2;
  in.fadeout = 1024;
  auto song = Load(xm.Build());
  ASSERT_TRUE(song);
  const auto pcm = Render(*song, 9 * kLine);
  EXPECT_GT(Rms(pcm, 3 * kLine, 4 * kLine), 100);
  EXPECT_LT(Rms(pcm, 7 * kLine, 9 * kLine), 1);
}

TEST(FormatPlayback, LowestNoteSoundsAndNote97KeysOff) {
  Xm xm = Song({{{0, 0}, CellBytes{1, 1}}, {{2, 0}, CellBytes{97}}});
  xm.instruments[0].samples[0].relative = 48;  // C-0 sounds as C-4
  auto song = Load(xm.Build());
  ASSERT_TRUE(song);
  const auto pcm = Render(*song, 4 * kLine);
  EXPECT_GT(Rms(pcm, 0, 2 * kLine), 1000) << "note 1 is C-0, a real note";
  EXPECT_LT(Rms(pcm, 3 * kLine, 4 * kLine), 1);
  // 8363 Hz for a 32-frame cycle: about 261 cycles a second.
  EXPECT_NEAR(Crossings(pcm, 0, 2 * kLine) / (2.0 * kLine / 44100.0), 8363.0 / 32, 5);
  auto classic = Load(xm.Build(), true);
  EXPECT_LT(Rms(Render(*classic, 2 * kLine), 0, 2 * kLine), 1) << "classic playback reads note 1 as none";
}

TEST(FormatPlayback, PanEnvelopeMovesTheVoice) {
  Xm xm = Song({{{0, 0}, kC4}});
  XmInstrument& in = xm.instruments[0];
  in.panEnvelope = {0, 0, 100, 0};  // hard left throughout
  in.panPoints = 2;
  in.panType = 1;
  auto song = Load(xm.Build());
  ASSERT_TRUE(song);
  const auto pcm = Render(*song, 3 * kLine);
  EXPECT_GT(Rms(pcm, kLine, 3 * kLine, 0), 1000);
  EXPECT_LT(Rms(pcm, kLine, 3 * kLine, 1), 1);
}

TEST(FormatPlayback, AutoVibratoBendsThePitch) {
  Xm xm = Song({{{0, 0}, kC4}});
  auto steady = Load(xm.Build());
  xm.instruments[0].vibDepth = 15;
  xm.instruments[0].vibRate = 64;  // a period of 4 ticks
  auto vib = Load(xm.Build());
  ASSERT_TRUE(steady && vib);
  const auto a = Render(*steady, 8 * kLine), b = Render(*vib, 8 * kLine);
  // Same mean pitch, but the length of a cycle varies (by about 1.4% each way).
  EXPECT_NEAR(Crossings(b, 0, 8 * kLine), Crossings(a, 0, 8 * kLine), 4);
  const auto spread = [](const std::vector<int16_t>& pcm) {
    int lo = 1 << 30, hi = 0, last = -1;
    for (int i = kLine; i < 8 * kLine; ++i) {
      if (!(pcm[2 * static_cast<size_t>(i - 1)] < 0 && pcm[2 * static_cast<size_t>(i)] >= 0)) continue;
      if (last >= 0) {
        lo = std::min(lo, i - last);
        hi = std::max(hi, i - last);
      }
      last = i;
    }
    return hi - lo;
  };
  EXPECT_LE(spread(a), 1);
  EXPECT_GE(spread(b), 3);
}

struct EffectCase {
  const char* name;
  std::vector<std::pair<std::pair<int, int>, CellBytes>> cells;
  std::function<void(const std::vector<int16_t>& with, const std::vector<int16_t>& without)> check;
  int flags = 1;
};

TEST(FormatPlayback, EffectsRealSongsUse) {
  const auto rms = [](const std::vector<int16_t>& p, int line) { return Rms(p, line * kLine, (line + 1) * kLine); };
  const EffectCase cases[] = {
      {"G00 global volume 0", {{{0, 0}, CellBytes{49, 1, 0, 16, 0}}},
       [&](auto& w, auto&) { EXPECT_LT(rms(w, 1), 1); }},
      {"H0F global volume slide down", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 17, 0x0F}}},
       [&](auto& w, auto& wo) { EXPECT_LT(rms(w, 2), rms(wo, 2) * 0.1); }},
      {"K02 key off at tick 2", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 20, 2}}},
       [&](auto& w, auto&) {
         EXPECT_GT(Rms(w, kLine, kLine + 882), 1000);
         EXPECT_LT(rms(w, 2), 1);
       }},
      {"T11 tremor", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 29, 0x11}}},
       // two ticks on, two off: four of the line's six ticks sound
       [&](auto& w, auto& wo) { EXPECT_NEAR(rms(w, 1) / rms(wo, 1), std::sqrt(4.0 / 6.0), 0.05); }},
      {"T21 tremor ends silent: the silence lasts", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 29, 0x21}}},
       [&](auto& w, auto&) {
         EXPECT_GT(Rms(w, kLine, kLine + 3 * 882), 1000);
         EXPECT_LT(rms(w, 2), 1);
       }},
      {"P0F pan slide left", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 25, 0x0F}}},
       [&](auto& w, auto& wo) { EXPECT_LT(Rms(w, 2 * kLine, 3 * kLine, 1), Rms(wo, 2 * kLine, 3 * kLine, 1) * 0.8); }},
      {"volume column pan slide right", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0xEF, 0, 0}}},
       [&](auto& w, auto& wo) { EXPECT_LT(Rms(w, 2 * kLine, 3 * kLine, 0), Rms(wo, 2 * kLine, 3 * kLine, 0) * 0.8); }},
      {"X1F extra-fine slide up", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 33, 0x1F}}},
       [&](auto& w, auto& wo) { EXPECT_GT(Crossings(w, 2 * kLine, 8 * kLine), Crossings(wo, 2 * kLine, 8 * kLine)); }},
      {"E5F finetune up", {{{0, 0}, CellBytes{49, 1, 0, 14, 0x5F}}},
       [&](auto& w, auto& wo) { EXPECT_GT(Crossings(w, 0, 8 * kLine), Crossings(wo, 0, 8 * kLine) + 5); }},
      {"R03 multi retrig restarts the sample", {{{0, 0}, CellBytes{49, 1, 0, 27, 0x03}}},
       [&](auto& w, auto& wo) { EXPECT_NE(w, wo); }},
      {"L08 envelope position", {{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0, 21, 8}}},
       [&](auto& w, auto& wo) { EXPECT_NE(w, wo); }},
  };
  for (const EffectCase& c : cases) {
    SCOPED_TRACE(c.name);
    Xm with = Song(c.cells);
    std::vector<std::pair<std::pair<int, int>, CellBytes>> bare;
    for (auto e : c.cells) {
      e.second.fx = e.second.fxv = 0;
      if (!e.second.note) e.second.vol = 0;  // the volume-column command under test
      if (e.second.note || e.second.inst || e.second.vol) bare.push_back(e);
    }
    Xm without = Song(bare);
    for (Xm* x : {&with, &without}) {
      x->flags = c.flags;
      // An envelope to move along for L: rising from 0 to full over 16 ticks.
      if (std::string(c.name).rfind("L08", 0) == 0) {
        x->instruments[0].envelope = {0, 0, 16, 64};
        x->instruments[0].volPoints = 2;
        x->instruments[0].volType = 1;
      }
    }
    auto a = Load(with.Build()), b = Load(without.Build());
    ASSERT_TRUE(a && b);
    c.check(Render(*a, 8 * kLine), Render(*b, 8 * kLine));
  }
}

TEST(FormatPlayback, FrequencyTableFlagChangesSlides) {
  // The same slide up moves further on the Amiga table at this pitch than linearly.
  const auto cells = std::vector<std::pair<std::pair<int, int>, CellBytes>>{{{0, 0}, kC4},
                                                                            {{1, 0}, CellBytes{0, 0, 0, 1, 0x08}}};
  Xm linear = Song(cells), amiga = Song(cells);
  amiga.flags = 0;
  auto a = Load(linear.Build()), b = Load(amiga.Build());
  ASSERT_TRUE(a && b);
  const auto pa = Render(*a, 4 * kLine), pb = Render(*b, 4 * kLine);
  EXPECT_EQ(Crossings(pa, 0, kLine), Crossings(pb, 0, kLine));
  EXPECT_NE(Crossings(pa, 2 * kLine, 4 * kLine), Crossings(pb, 2 * kLine, 4 * kLine));
}

TEST(FormatPlayback, PitchIsTheSameAtEveryRate) {
  for (bool classic : {false, true}) {
    SCOPED_TRACE(classic ? "classic" : "format");
    double perSecond[3];
    int k = 0;
    for (int rate : {22050, 44100, 88200}) {
      auto song = Load(Song({{{0, 0}, kC4}}).Build(), classic);
      ASSERT_TRUE(song);
      song->Seti(5, rate);
      const int frames = rate;  // one second
      const auto pcm = Render(*song, frames);
      perSecond[k++] = Crossings(pcm, 0, frames);
    }
    EXPECT_NEAR(perSecond[0], perSecond[1], 3);
    EXPECT_NEAR(perSecond[2], perSecond[1], 3);
  }
}

TEST(FormatPlayback, NativeFileRendersAsItsSource) {
  Xm xm = Song({{{0, 0}, kC4}, {{1, 0}, CellBytes{0, 0, 0xE4, 4, 0x48}}, {{3, 0}, CellBytes{97}}});
  XmInstrument& in = xm.instruments[0];
  in.envelope = {0, 64, 4, 40, 20, 0};
  in.volPoints = 3;
  in.volSustain = 1;
  in.volType = 3;
  in.fadeout = 500;
  in.panEnvelope = {0, 10, 30, 60};
  in.panPoints = 2;
  in.panType = 1;
  in.vibDepth = 8;
  in.vibRate = 20;
  in.vibSweep = 4;
  in.samples[0].pan = 200;
  xm.flags = 0;
  for (bool classic : {false, true}) {
    SCOPED_TRACE(classic ? "classic" : "format");
    auto song = Load(xm.Build(), classic);
    ASSERT_TRUE(song);
    auto buf = std::make_shared<std::vector<uint8_t>>(1 << 20);
    TStreamPtr out = TRamStream::Create(buf->data(), static_cast<int64_t>(buf->size()), 1, 1, buf);
    song->Save(out);
    auto back = Cantor_Mixer::Load(TRamStream::FromBytes(Bytes(buf->begin(), buf->begin() + out->Pos())));
    ASSERT_TRUE(back);
    back->Seti(SONG_ID_CLASSIC, classic ? 1 : 0);
    EXPECT_EQ(Render(*back, 8 * kLine), Render(*Load(xm.Build(), classic), 8 * kLine));
  }
}

TEST(FormatPlayback, PatternDelayUsesTheLinesSpeed) {
  // Line 0: a pattern delay on channel 0, speed 3 on channel 1 (after it).
  fmtbytes::Mod mod("M.K.", 4, 1, {0}, 1);
  mod.Cell(0, 0, 0, 0, 0, 0x0E, 0xE1);
  mod.Cell(0, 0, 1, 0, 0, 0x0F, 0x03);
  auto song = Load(mod.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Geti(1), (2 * 3 + 63 * 3) * 882);
  // Classic: the delay counted in the speed before the line's, and the tick that ends
  // the song not counted.
  song->Seti(SONG_ID_CLASSIC, 1);
  EXPECT_EQ(song->Geti(1), (3 + 6 + 63 * 3 - 1) * 882);
}

}  // namespace
