// Channel effects: note triggering, pitch, volume column, effect table, envelopes and
// fade-out, driven through the sequencer one tick at a time.
#include <gtest/gtest.h>

#include <cmath>

#include "music/player/song_player.h"
#include "song_fixture.h"

namespace {
using songfix::Cell;

constexpr double kSlide = Cantor_Channel::slidestep;

struct ChannelFixture : ::testing::Test {
  Cantor_MixerPtr song = songfix::Song();
  Cantor_SamplePtr sample = songfix::AddInstrument(*song, 1, 3000);
  Cantor_Channel& ch() { return song->MMC_Channel[0]; }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) song->Do_Player();
  }
};

TEST_F(ChannelFixture, PitchToRate) {
  struct Case { int32_t note, relative; double fine, add; };
  for (const Case& c : {Case{77, 0, 0, 1.0}, Case{89, 0, 0, 2.0}, Case{65, 0, 0, 0.5},
                        Case{65, 12, 0, 1.0}, Case{76, 0, 1.0, 1.0}}) {
    auto s = songfix::Song();
    auto smp = songfix::AddInstrument(*s, 1, 100);
    smp->RelativeNote = c.relative;
    smp->FineTune = c.fine;
    Cell(*s, 0, 0, 0, c.note, 1);
    s->Do_Player();
    EXPECT_DOUBLE_EQ(s->MMC_Channel[0].Add, c.add) << c.note;
  }
}

TEST_F(ChannelFixture, TriggerCopiesSampleDefaults) {
  sample->Volume = 0.75f;
  sample->FineTune = 0.5;
  sample->Pan = 0;
  Cell(*song, 0, 0, 0, 77, 1);
  Ticks(1);
  EXPECT_EQ(ch().Sample, sample);
  EXPECT_DOUBLE_EQ(ch().Volume, 0.75);
  EXPECT_DOUBLE_EQ(ch().FineTune, 0.5);
  EXPECT_EQ(ch().ClickDelay, 127);
  EXPECT_DOUBLE_EQ(ch().LPanCalc, 1.0);
  EXPECT_DOUBLE_EQ(ch().RPanCalc, 1.0);
  EXPECT_EQ(ch().Tick, 0);
  Ticks(2);
  EXPECT_EQ(ch().Tick, 2);
}

TEST_F(ChannelFixture, NoteWithoutInstrumentKeepsTheSample) {
  Cell(*song, 0, 0, 0, 77, 1);
  Cell(*song, 0, 0, 1, 89, 0);
  Ticks(6);
  Ticks(1);
  EXPECT_EQ(ch().Sample, sample);
  EXPECT_DOUBLE_EQ(ch().Add, 2.0);
}

TEST_F(ChannelFixture, MissingInstrumentOrSampleSilences) {
  struct Case { int32_t note, inst; };
  for (const Case& c : {Case{77, 2}, Case{77, 300}, Case{97, 1}}) {
    auto s = songfix::Song();
    songfix::AddInstrument(*s, 1, 100);
    Cell(*s, 0, 0, 0, 77, 1);
    Cell(*s, 0, 0, 1, c.note, c.inst);
    for (int i = 0; i < 7; ++i) s->Do_Player();
    EXPECT_EQ(s->MMC_Channel[0].Add, 0.0) << c.note << " " << c.inst;
    EXPECT_EQ(s->MMC_Channel[0].Sample, nullptr);
  }
}

TEST_F(ChannelFixture, PitchSlideEveryTickFirstIncluded) {
  Cell(*song, 0, 0, 0, 60, 1, 0, 1, 0x11);
  Ticks(1);
  EXPECT_NEAR(ch().Note, 60.8, 1e-9);
  Ticks(5);
  EXPECT_NEAR(ch().Note, 60 + 6 * 0.8, 1e-9);
  // Parameter 0 reuses the remembered value; slide down has its own memory.
  Cell(*song, 0, 0, 1, 0, 0, 0, 1, 0);
  Ticks(1);
  EXPECT_NEAR(ch().Note, 60 + 7 * 0.8, 1e-9);
  Cell(*song, 0, 0, 2, 0, 0, 0, 2, 0x22);
  Ticks(5);
  Ticks(6);
  EXPECT_NEAR(ch().Note, 60 + 12 * 0.8 - 6 * 34 * kSlide, 1e-9);
  EXPECT_NEAR(ch().Add, std::exp2((ch().Note - 77) / 12), 1e-12);
}

TEST_F(ChannelFixture, FineTuneCommand) {
  struct Case { int32_t fxv; double fine; };
  for (const Case& c : {Case{0x5F, -0.125}, Case{0x58, -0.875}, Case{0x57, 0.875}, Case{0x50, 0.0}}) {
    auto s = songfix::Song();
    songfix::AddInstrument(*s, 1, 100);
    Cell(*s, 0, 0, 0, 77, 1, 0, 14, c.fxv);
    s->Do_Player();
    EXPECT_DOUBLE_EQ(s->MMC_Channel[0].FineTune, c.fine) << c.fxv;
    EXPECT_DOUBLE_EQ(s->MMC_Channel[0].Add, std::exp2(c.fine / 12));
  }
}

TEST_F(ChannelFixture, SampleOffset) {
  struct Case { int32_t fxv; double pos; };
  for (const Case& c : {Case{0x10, 0.0}, Case{0x0B, 2816.0}, Case{0x0C, 0.0}}) {
    auto s = songfix::Song();
    songfix::AddInstrument(*s, 1, 3000);
    Cell(*s, 0, 0, 0, 77, 1, 0, 9, c.fxv);
    s->Do_Player();
    EXPECT_DOUBLE_EQ(s->MMC_Channel[0].Pos, c.pos) << c.fxv;
  }
}

TEST_F(ChannelFixture, NoteDelayAndCut) {
  Cell(*song, 0, 0, 0, 77, 1, 0, 14, 0xD3);
  Ticks(3);
  EXPECT_EQ(ch().Add, 0.0);
  Ticks(1);
  EXPECT_DOUBLE_EQ(ch().Add, 1.0);

  // A delay beyond the speed never triggers on that line.
  auto late = songfix::Song();
  songfix::AddInstrument(*late, 1, 100);
  Cell(*late, 0, 0, 0, 77, 1, 0, 14, 0xD7);
  for (int i = 0; i < 6; ++i) late->Do_Player();
  EXPECT_EQ(late->MMC_Channel[0].Add, 0.0);

  // ... unless a pattern delay on the line extends it.
  auto delayed = songfix::Song();
  songfix::AddInstrument(*delayed, 1, 100);
  Cell(*delayed, 0, 0, 0, 77, 1, 0, 14, 0xD7);
  Cell(*delayed, 0, 1, 0, 0, 0, 0, 14, 0xE1);
  for (int i = 0; i < 8; ++i) delayed->Do_Player();
  EXPECT_DOUBLE_EQ(delayed->MMC_Channel[0].Add, 1.0);

  auto cut = songfix::Song();
  songfix::AddInstrument(*cut, 1, 100);
  Cell(*cut, 0, 0, 0, 77, 1, 0, 14, 0xC0);
  cut->Do_Player();
  EXPECT_EQ(cut->MMC_Channel[0].Volume, 0.0);
  auto cut2 = songfix::Song();
  songfix::AddInstrument(*cut2, 1, 100);
  Cell(*cut2, 0, 0, 0, 77, 1, 0, 14, 0xC2);
  cut2->Do_Player();
  cut2->Do_Player();
  EXPECT_EQ(cut2->MMC_Channel[0].Volume, 1.0);
  cut2->Do_Player();
  EXPECT_EQ(cut2->MMC_Channel[0].Volume, 0.0);
}

TEST_F(ChannelFixture, ArpeggioCyclesAcrossLines) {
  Cell(*song, 0, 0, 0, 77, 1, 0, 0, 0x37);
  Cell(*song, 0, 0, 1, 0, 0, 0, 0, 0x37);
  const double expected[3] = {1.0, std::exp2(3 / 12.0), std::exp2(7 / 12.0)};
  for (int tick = 0; tick < 12; ++tick) {
    song->Do_Player();
    EXPECT_NEAR(ch().Add, expected[tick % 3], 1e-12) << tick;
    EXPECT_EQ(ch().Note, 77.0);
  }
  // Parameter 0 after an arpeggio step restores the base rate.
  auto s = songfix::Song();
  songfix::AddInstrument(*s, 1, 100);
  Cell(*s, 0, 0, 0, 77, 1, 0, 0, 0x37);
  Cell(*s, 0, 0, 1, 0, 0, 0, 0, 0);
  for (int i = 0; i < 5; ++i) s->Do_Player();  // Tick 4: phase 1
  EXPECT_EQ(s->MMC_Channel[0].Arped, 1);
  s->Do_Player();  // tick 5: phase 2
  s->Do_Player();  // line 1, parameter 0
  EXPECT_EQ(s->MMC_Channel[0].Arped, 0);
  EXPECT_DOUBLE_EQ(s->MMC_Channel[0].Add, 1.0);
}

TEST_F(ChannelFixture, VolumeColumn) {
  struct Case { int32_t vol; int ticks; double volume; };
  const Case cases[] = {
      {0x50, 1, 1.0}, {0x10, 1, 0.0}, {0x30, 1, 0.5},
      {0x62, 3, 0.5 - 3 * 2 / 64.0},       // slide down every tick
      {0x72, 3, 0.5 + 3 * 2 / 64.0},       // slide up every tick
      {0x84, 3, 0.5 - 4 / 64.0},           // fine down, first tick only
      {0x94, 3, 0.5 + 4 / 64.0},           // fine up, first tick only
      {0x6F, 6, 0.0},                      // floored at 0
  };
  for (const Case& c : cases) {
    auto s = songfix::Song();
    auto smp = songfix::AddInstrument(*s, 1, 100);
    smp->Volume = 0.5f;
    Cell(*s, 0, 0, 0, 77, 1, c.vol);
    for (int i = 0; i < c.ticks; ++i) s->Do_Player();
    EXPECT_NEAR(s->MMC_Channel[0].Volume, c.volume, 1e-12) << std::hex << c.vol;
  }
}

TEST_F(ChannelFixture, PanCommandsAndGains) {
  struct Case { int32_t vol, fx, fxv; double pan, l, r; };
  const Case cases[] = {
      {0xC8, 0, 0, 0.0, 1.0, 1.0},
      {0xC0, 0, 0, -1.0, 1.0, 0.0},
      {0xCF, 0, 0, 0.875, 0.125, 1.0},
      {0xD4, 0, 0, -4 / 128.0, 1.0, 1 - 4 / 128.0},
      {0xE8, 0, 0, 8 / 128.0, 1 - 8 / 128.0, 1.0},
      {0, 8, 0x80, 0.0, 1.0, 1.0},
      {0, 8, 0x00, -1.0, 1.0, 0.0},
      {0, 8, 0xC0, 0.5, 0.5, 1.0},
  };
  for (const Case& c : cases) {
    auto s = songfix::Song();
    songfix::AddInstrument(*s, 1, 100);
    Cell(*s, 0, 0, 0, 77, 1, c.vol, c.fx, c.fxv);
    s->Do_Player();
    const Cantor_Channel& k = s->MMC_Channel[0];
    EXPECT_NEAR(k.Pan, c.pan, 1e-12) << c.vol << " " << c.fxv;
    EXPECT_NEAR(k.LPanCalc, c.l, 1e-12) << c.vol << " " << c.fxv;
    EXPECT_NEAR(k.RPanCalc, c.r, 1e-12) << c.vol << " " << c.fxv;
  }
  // A sample's stored pan on the signed 8-bit scale.
  auto s = songfix::Song();
  auto smp = songfix::AddInstrument(*s, 1, 100);
  smp->Pan = 64;
  Cell(*s, 0, 0, 0, 77, 1);
  s->Do_Player();
  EXPECT_DOUBLE_EQ(s->MMC_Channel[0].Pan, 64.0);
  EXPECT_DOUBLE_EQ(s->MMC_Channel[0].LPanCalc, 0.5);
  EXPECT_DOUBLE_EQ(s->MMC_Channel[0].RPanCalc, 1.0);
}

TEST_F(ChannelFixture, VolumeSlideMemory) {
  sample->Volume = 0.5f;
  Cell(*song, 0, 0, 0, 77, 1, 0, 10, 0x20);  // up 2 per tick, not on the trigger tick
  Ticks(6);
  EXPECT_NEAR(ch().Volume, 0.5 + 5 * 2 / 64.0, 1e-12);
  Cell(*song, 0, 0, 1, 0, 0, 0, 10, 0x23);  // both nibbles: keeps the previous step
  Ticks(6);
  EXPECT_NEAR(ch().Volume, 0.5 + 11 * 2 / 64.0, 1e-12);
  Cell(*song, 0, 0, 2, 0, 0, 0, 10, 0x0F);
  Ticks(6);
  EXPECT_EQ(ch().Volume, 0.0);
}

TEST_F(ChannelFixture, TonePortamento) {
  Cell(*song, 0, 0, 0, 60, 1);
  Cell(*song, 0, 0, 1, 62, 0, 0, 3, 0x11);  // 0.8 semitone per tick towards 62
  Ticks(6);
  Ticks(1);
  EXPECT_NEAR(ch().Note, 60.8, 1e-9);
  EXPECT_DOUBLE_EQ(ch().TonePortamentoNote, 62.0);
  Ticks(1);
  EXPECT_NEAR(ch().Note, 61.6, 1e-9);
  Ticks(1);
  EXPECT_DOUBLE_EQ(ch().Note, 62.0);
  Ticks(3);
  EXPECT_DOUBLE_EQ(ch().Note, 62.0);
  EXPECT_DOUBLE_EQ(ch().Add, std::exp2((62 - 77) / 12.0));
}

TEST_F(ChannelFixture, VibratoWaveforms) {
  // Sine vibrato, speed 8 depth 4: offset = slidestep * sin(2 pi c / 65) * 4.
  // The trigger tick has no rate yet (it is set after the effect), so the phase
  // starts moving on the next tick.
  Cell(*song, 0, 0, 0, 77, 1, 0, 4, 0x84);
  Ticks(2);
  EXPECT_DOUBLE_EQ(ch().VibratoValue, 0.0);
  EXPECT_EQ(ch().VibratoCount, 8);
  Ticks(1);
  EXPECT_NEAR(ch().VibratoValue, kSlide * std::sin(2 * M_PI * 8 / 65) * 4, 1e-12);
  EXPECT_NEAR(ch().Add, std::exp2(ch().VibratoValue / 12), 1e-12);

  // Waveform 8 is unknown: the offset stays, the rate is still recomputed.
  auto s = songfix::Song();
  songfix::AddInstrument(*s, 1, 100);
  Cell(*s, 0, 0, 0, 77, 1, 0, 4, 0x84);
  Cell(*s, 0, 1, 1, 0, 0, 0, 0, 0);
  for (int i = 0; i < 3; ++i) s->Do_Player();
  const double held = s->MMC_Channel[0].VibratoValue;
  ASSERT_NE(held, 0.0);
  s->MMC_Channel[0].VibratoWaveForm = 8;
  s->MMC_Channel[0].Add = 3.0;
  s->Do_Player();
  EXPECT_EQ(s->MMC_Channel[0].VibratoValue, held);
  EXPECT_NEAR(s->MMC_Channel[0].Add, std::exp2(held / 12), 1e-12);

  // Square and ramp tables.
  EXPECT_EQ(SquareTable[31], -1.0);
  EXPECT_EQ(SquareTable[32], 1.0);
  EXPECT_EQ(RampTable[32], -1.0);
  EXPECT_EQ(RampTable[33], 31 / 32.0);
  EXPECT_EQ(RampTable[64], 0.0);
  EXPECT_EQ(SineTable[0], 0.0);
}

TEST_F(ChannelFixture, TremoloOffset) {
  Cell(*song, 0, 0, 0, 77, 1, 0, 7, 0x4F);
  song->MMC_Channel[0].TremoloWaveForm = 2;  // square: -1 for the first half
  Ticks(1);
  EXPECT_EQ(ch().TremoloValue, 0.0) << "no rate yet on the trigger tick";
  Ticks(1);
  EXPECT_DOUBLE_EQ(ch().TremoloValue, -15 / 64.0);
  EXPECT_EQ(ch().TremoloCount, 4);
}

TEST_F(ChannelFixture, RetriggerRestartsTheSample) {
  Cell(*song, 0, 0, 0, 77, 1, 0, 14, 0x92);
  Ticks(2);
  ch().Pos = 100;
  Ticks(1);  // Tick 2: 2 mod 2 = 0
  EXPECT_EQ(ch().Pos, 0.0);
  EXPECT_EQ(ch().Tick, 0);
}

TEST_F(ChannelFixture, KeyOffFadeOut) {
  struct Case { int32_t fadeout; double step; int silentAfter; };
  for (const Case& c : {Case{1024, 0.5, 2}, Case{64, 1 / 32.0, 32}, Case{0, 1.0, 1}}) {
    auto s = songfix::Song(1, false, 64);
    songfix::AddInstrument(*s, 1, 100000);
    s->Instrument[1]->Sample[0]->Loop = 1;
    s->Instrument[1]->Sample[0]->LoopLength = 100000;
    s->Instrument[1]->VolFadeout = c.fadeout;
    s->Speed = 1;
    s->DefaultSpeed = 1;
    Cell(*s, 0, 0, 0, 77, 1);
    Cell(*s, 0, 0, 1, KeyOffNote, 0);
    s->Do_Player();
    const Cantor_Channel& k = s->MMC_Channel[0];
    s->Do_Player();  // key off: the first fall happens on this tick
    EXPECT_EQ(k.KeyOff, 1);
    EXPECT_DOUBLE_EQ(k.KeyOffStep, c.step);
    int ticks = 1;
    while (k.KeyOffValue > 0 && ticks < 100) {
      s->Do_Player();
      ++ticks;
    }
    EXPECT_EQ(ticks, c.silentAfter) << c.fadeout;
    EXPECT_NE(k.Add, 0.0);
    s->Do_Player();
    EXPECT_EQ(k.Add, 0.0) << "stops on the next tick";
  }
}

TEST_F(ChannelFixture, KeyOffEffectComputesTheFadeStep) {
  song->Instrument[1]->VolFadeout = 1024;
  Cell(*song, 0, 0, 0, 77, 1, 0, 20, 0);
  Ticks(1);
  EXPECT_EQ(ch().KeyOff, 1);
  EXPECT_DOUBLE_EQ(ch().KeyOffStep, 0.5);
  EXPECT_DOUBLE_EQ(ch().KeyOffValue, 0.5);
}

TEST_F(ChannelFixture, ExtraFineAndFineSlides) {
  struct Case { int32_t fx, fxv; double note; };
  for (const Case& c : {Case{33, 0x14, 60 + kSlide}, Case{33, 0x28, 60 - 2 * kSlide},
                        Case{14, 0x13, 60 + 3 * kSlide}, Case{14, 0x25, 60 - 5 * kSlide},
                        Case{33, 0x30, 60.0}}) {
    auto s = songfix::Song();
    songfix::AddInstrument(*s, 1, 100);
    Cell(*s, 0, 0, 0, 60, 1, 0, c.fx, c.fxv);
    for (int i = 0; i < 6; ++i) s->Do_Player();
    EXPECT_NEAR(s->MMC_Channel[0].Note, c.note, 1e-12) << c.fx << " " << c.fxv;
  }
}

TEST_F(ChannelFixture, EnvelopeDrivesTheMixGain) {
  auto& inst = *song->Instrument[1];
  inst.AddVolumeEnvelopePoint(0, 0);
  inst.AddVolumeEnvelopePoint(4, 100);
  inst.VolPoints = 2;
  inst.VolType = 1;
  Cell(*song, 0, 0, 0, 77, 1);
  Ticks(1);
  EXPECT_DOUBLE_EQ(ch().Env, 0.0);
  Ticks(2);
  EXPECT_DOUBLE_EQ(ch().Env, 0.5);
}

}  // namespace
