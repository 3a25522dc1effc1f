// XM loader: header, packed and unpacked cells, unstored patterns, instruments with
// envelopes and note maps, delta-coded samples, and hostile counts.
#include <gtest/gtest.h>

#include "format_bytes.h"
#include "music/loaders/xm_loader.h"

namespace {
using fmtbytes::Bytes;
using fmtbytes::Xm;
using fmtbytes::XmInstrument;
using fmtbytes::XmSample;

Cantor_MixerPtr Load(const Xm& xm) {
  return std::dynamic_pointer_cast<Cantor_Mixer>(LoadXM(fmtbytes::Stream(xm.Build())));
}

TEST(XmLoader, HeaderAndTiming) {
  Xm xm;
  xm.channels = 3;
  xm.speed = 4;
  xm.tempo = 150;
  xm.flags = 1;
  xm.orders = {0, 0};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->SongName, u"xm song");
  EXPECT_EQ(song->TrackerName, u"test tracker");
  EXPECT_EQ(song->ActiveChannels, 3);
  EXPECT_EQ(song->Speed, 4);
  EXPECT_EQ(song->DefaultSpeed, 4);
  EXPECT_EQ(song->Tempo, 150);
  EXPECT_EQ(song->DefaultTempo, 150);
  EXPECT_EQ(song->PeriodMode, 1);
  EXPECT_EQ(song->ActiveSongPatterns, 1);
  EXPECT_EQ(song->ActiveSequences, 1);
  EXPECT_FLOAT_EQ(song->MixLevel, 0.25f);
  // Two passes of a 64-line pattern at speed 4, 735 frames a tick.
  EXPECT_EQ(song->STREAM_SIZE, 2 * 64 * 4 * 735);
  EXPECT_EQ(song->PlayStatus, 0);
}

TEST(XmLoader, RefusesOtherFiles) {
  Bytes b = Xm().Build();
  Bytes wrong = b;
  wrong[9] = 'm';
  EXPECT_FALSE(LoadXM(fmtbytes::Stream(wrong)));
  EXPECT_FALSE(LoadXM(fmtbytes::Stream(Bytes(b.begin(), b.begin() + 16))));
  EXPECT_FALSE(LoadXM(TMusicSource(u"/nonexistent/x.xm")));
  // Trailing spaces of the signature are trimmed away before the comparison.
  Bytes spaced = b;
  spaced[16] = 0;
  EXPECT_TRUE(LoadXM(fmtbytes::Stream(spaced)));
}

TEST(XmLoader, PackedAndUnpackedCells) {
  Xm xm;
  xm.channels = 2;
  xm.patterns[0].lines = 2;
  xm.patterns[0].packed = {
      0x83, 0x31, 0x05,              // line 0 ch 0: note 0x31, instrument 5
      0x00, 0x00, 0x00, 0x00, 0x00,  // line 0 ch 1: unpacked, note byte 0
      0x01, 0x02, 0x10, 0x0C, 0x40,  // line 1 ch 0: unpacked, every field
      0x9F, 0x61, 0x03, 0x20, 0x14, 0x00,  // line 1 ch 1: key off, all named
  };
  auto song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Pattern& p = *song->Pattern[0];
  ASSERT_EQ(p.LineCount, 2);
  const Cantor_Track& a = *p.Track[0];
  const Cantor_Track& b = *p.Track[1];
  EXPECT_EQ(a.Note[0], 48);
  EXPECT_EQ(a.Inst[0], 5);
  EXPECT_EQ(a.Vol[0], 0);
  EXPECT_EQ(b.Note[0], -1);
  EXPECT_EQ(b.Inst[0], 0);
  EXPECT_EQ(a.Note[1], XmLowestNote);  // note byte 1 (C-0): no note in classic playback
  EXPECT_EQ(a.Inst[1], 2);
  EXPECT_EQ(a.Vol[1], 0x10);
  EXPECT_EQ(a.FX[1], 0x0C);
  EXPECT_EQ(a.FXV[1], 0x40);
  EXPECT_EQ(b.Note[1], 96);
  EXPECT_EQ(b.Inst[1], 3);
  EXPECT_EQ(b.Vol[1], 0x20);
  EXPECT_EQ(b.FX[1], 0x14);
  EXPECT_EQ(b.FXV[1], 0);
  EXPECT_EQ(p.LineText[1], a.GetText(1) + u" " + b.GetText(1) + u" ");
}

TEST(XmLoader, EmptyAndUnstoredPatterns) {
  Xm xm;
  xm.patterns = {Xm::Pattern{64, 0, {}}, Xm::Pattern{16, 0, {0x81, 0x0A}}, Xm::Pattern{64, 0, {}}};
  xm.orders = {1, 5, 0};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  ASSERT_GE(song->Pattern.size(), 6u);
  EXPECT_EQ(song->Pattern[0]->LineCount, 64);
  EXPECT_EQ(song->Pattern[0]->Track[0]->GetBVal(63), 0x80);
  EXPECT_EQ(song->Pattern[1]->LineCount, 16);
  EXPECT_EQ(song->Pattern[1]->Track[0]->Note[0], 9);
  ASSERT_TRUE(song->Pattern[5]);
  EXPECT_EQ(song->Pattern[5]->LineCount, 64);
  EXPECT_EQ(song->Pattern[5]->TrackCount, 4);
  EXPECT_FALSE(song->Pattern[3]);  // neither stored nor named
  // The order naming the unstored pattern is passed over in play.
  EXPECT_EQ(song->STREAM_SIZE, (16 + 64) * 6 * 882);
}

TEST(XmLoader, PackedDataShorterThanThePattern) {
  Xm xm;
  xm.patterns[0].packed = {0x81, 0x20, 0x00};  // an unpacked cell cut after its note
  xm.patterns.push_back(Xm::Pattern{64, 0, {0x81, 0x30}});
  xm.orders = {0, 1};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Track& t = *song->Pattern[0]->Track[0];
  EXPECT_EQ(t.Note[0], 0x1F);
  EXPECT_EQ(song->Pattern[0]->Track[1]->Note[0], -1);  // the cut cell: note byte 0
  EXPECT_EQ(song->Pattern[0]->Track[2]->Note[0], 0);   // nothing left: empty
  EXPECT_EQ(song->Pattern[1]->Track[0]->Note[0], 0x2F);  // next pattern from its own start
}

TEST(XmLoader, AnyPackingTypeIsReadAsTheUsualPacking) {
  Xm xm;
  xm.patterns[0].packing = 1;
  xm.patterns[0].packed = {0x81, 0x20};
  xm.patterns.push_back(Xm::Pattern{64, 0, {0x81, 0x30}});
  xm.orders = {0, 1};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Pattern[0]->Track[0]->Note[0], 0x1F);
  EXPECT_EQ(song->Pattern[1]->Track[0]->Note[0], 0x2F);
}

XmInstrument OneSample(const XmSample& s) {
  XmInstrument in;
  in.samples = {s};
  return in;
}

TEST(XmLoader, DeltaCodedSamples) {
  XmSample s8;
  s8.length = 3;
  s8.data = {0x10, 0xE0, 0x15};  // deltas: 16, -32, +21 -> 16, 0xF0 (-16), 5
  XmSample s16;
  s16.flags = 0x10;
  s16.length = 4;
  s16.data = {0x00, 0x01, 0xFF, 0xFF};  // 0x0100, then -1 -> 256, 255
  Xm xm;
  xm.instruments = {OneSample(s8), OneSample(s16)};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Sample& a = *song->Instrument[1]->Sample[0];
  ASSERT_EQ(a.Length, 3);
  EXPECT_EQ(a.SoundData[0], 16 * 256);
  EXPECT_EQ(a.SoundData[1], -16 * 256 + 1);
  EXPECT_EQ(a.SoundData[2], 5 * 256);
  const Cantor_Sample& b = *song->Instrument[2]->Sample[0];
  ASSERT_EQ(b.Length, 2);
  EXPECT_EQ(b.SoundData[0], 256);
  EXPECT_EQ(b.SoundData[1], 255);
  EXPECT_EQ(b.fp, b.SoundData.data());

  // The raw bytes 0x10, 0xF0, 0x05 decode to 16, 0, 5.
  s8.data = {0x10, 0xF0, 0x05};
  xm.instruments = {OneSample(s8)};
  song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Sample& c = *song->Instrument[1]->Sample[0];
  EXPECT_EQ(c.SoundData[0], 16 * 256);
  EXPECT_EQ(c.SoundData[1], 0);
  EXPECT_EQ(c.SoundData[2], 5 * 256);
}

TEST(XmLoader, SamplesPackedAsFourBitCodes) {
  // Frames 5, 6, 4, 12, 12 as codes through a table of 16 steps (0, 1, -2, 8, 5, ...),
  // low nibble first; the same frames delta-coded; a sample after each.
  XmSample packed;
  packed.reserved = 0xAD;
  packed.length = 5;
  packed.data = {0, 1, 0xFE, 8, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (uint8_t codes : {0x14, 0x32, 0x00}) packed.data.push_back(codes);  // 5,1 | -2,8 | 0
  XmSample plain;
  plain.length = 5;
  plain.data = {5, 1, 0xFE, 8, 0};
  XmSample after;
  after.length = 2;
  after.data = {0x30, 0x01};
  XmInstrument a, b;
  a.samples = {packed, after};
  b.samples = {plain, after};
  Xm xm;
  xm.instruments = {a, b};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Sample& p = *song->Instrument[1]->Sample[0];
  const Cantor_Sample& d = *song->Instrument[2]->Sample[0];
  ASSERT_EQ(p.Length, 5);
  EXPECT_EQ(p.SoundData, d.SoundData);
  EXPECT_EQ(song->Instrument[1]->Sample[1]->SoundData, song->Instrument[2]->Sample[1]->SoundData);
  ASSERT_EQ(song->Instrument[1]->Sample[1]->Length, 2);
  EXPECT_EQ(song->Instrument[1]->Sample[1]->SoundData[0], 0x30 * 256);
}

TEST(XmLoader, OlderLayoutsLoadAsTheCurrentOne) {
  // Versions 0x0102 and 0x0103 keep the headers first and the sample data last; 0x0102
  // stores a pattern's line count less one in a byte.
  Xm xm;
  xm.channels = 2;
  xm.patterns[0].lines = 3;
  xm.patterns[0].packed = {0x83, 0x31, 0x02, 0x80, 0x80, 0x80, 0x80, 0x81, 0x40};
  xm.patterns.push_back(Xm::Pattern{2, 0, {0x81, 0x25}});
  xm.orders = {1, 0};
  XmSample s;
  s.length = 3;
  s.data = {0x10, 0xE0, 0x15};
  xm.instruments = {OneSample(s), OneSample(s)};
  auto current = Load(xm);
  ASSERT_TRUE(current);
  for (int version : {0x0102, 0x0103}) {
    SCOPED_TRACE(version);
    xm.version = version;
    auto song = Load(xm);
    ASSERT_TRUE(song);
    for (int p : {0, 1}) {
      ASSERT_EQ(song->Pattern[p]->LineCount, current->Pattern[p]->LineCount);
      for (int c : {0, 1}) {
        EXPECT_EQ(song->Pattern[p]->Track[c]->Note, current->Pattern[p]->Track[c]->Note);
        EXPECT_EQ(song->Pattern[p]->Track[c]->Inst, current->Pattern[p]->Track[c]->Inst);
      }
    }
    for (int i : {1, 2}) EXPECT_EQ(song->Instrument[i]->Sample[0]->SoundData, current->Instrument[i]->Sample[0]->SoundData);
  }
}

TEST(XmLoader, SampleHeaderFields) {
  struct Case { int pan, storedPan; };
  for (const Case& c : {Case{128, 0}, Case{255, 127}, Case{64, 64}, Case{127, 127}, Case{0, 0}}) {
    XmSample s;
    s.pan = c.pan;
    Xm xm;
    xm.instruments = {OneSample(s)};
    auto song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Instrument[1]->Sample[0]->Pan, c.storedPan) << c.pan;
  }

  XmSample s;
  s.flags = 0x10 | 0x02;
  s.length = 2000;
  s.data.assign(2000, 0);
  s.loopStart = 1000;
  s.loopLength = 400;
  s.volume = 32;
  s.finetune = 0xF0;  // -16
  s.relative = 0xF4;  // -12
  s.name = "sample name";
  Xm xm;
  xm.instruments = {OneSample(s)};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  const Cantor_Sample& a = *song->Instrument[1]->Sample[0];
  EXPECT_EQ(a.Length, 1000);
  EXPECT_EQ(a.LoopStart, 500);
  EXPECT_EQ(a.LoopLength, 200);
  EXPECT_EQ(a.Loop, 2);
  EXPECT_EQ(a.Flag, 0x12);
  EXPECT_FLOAT_EQ(a.Volume, 0.5f);
  EXPECT_DOUBLE_EQ(a.FineTune, -16 * 0.0078125);
  EXPECT_EQ(a.RelativeNote, -12);
  EXPECT_EQ(a.Name, u"sample name");

  struct LoopCase { int flags, loop; };
  for (const LoopCase& c : {LoopCase{0, 0}, LoopCase{1, 1}, LoopCase{2, 2}, LoopCase{3, 1}}) {
    XmSample t;
    t.flags = c.flags;
    Xm x;
    x.instruments = {OneSample(t)};
    auto sg = Load(x);
    ASSERT_TRUE(sg);
    EXPECT_EQ(sg->Instrument[1]->Sample[0]->Loop, c.loop) << c.flags;
  }
}

TEST(XmLoader, InstrumentMapAndEnvelope) {
  XmInstrument in;
  in.name = "lead";
  in.samples = {XmSample{}, XmSample{}};
  in.noteSample[0] = 1;   // note 1
  in.noteSample[10] = 3;  // beyond the two samples
  in.noteSample[95] = 1;  // note 96
  in.envelope = {0, 64, 10, 32, 20, 0, 300, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  in.volPoints = 4;
  in.volSustain = 2;
  in.volLoopStart = 1;
  in.volLoopEnd = 3;
  in.volType = 7;
  in.fadeout = 1024;
  Xm xm;
  xm.instruments = {in, XmInstrument{}};
  auto song = Load(xm);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveSamples, 2);
  ASSERT_EQ(song->Instrument.size(), 3u);
  const Cantor_Instrument& i = *song->Instrument[1];
  EXPECT_EQ(i.Name, u"lead");
  EXPECT_EQ(i.SampleCount, 2);
  EXPECT_EQ(i.NoteSample[1], 1);
  EXPECT_EQ(i.NoteSample[11], 0);
  EXPECT_EQ(i.NoteSample[96], 1);
  EXPECT_EQ(i.GetSample(1), i.Sample[1]);
  EXPECT_EQ(i.VolEnvArray.size(), 12u);
  EXPECT_EQ(i.VolPoints, 4);
  EXPECT_EQ(i.VolEnvArray[3]->Tick, 300);
  EXPECT_FLOAT_EQ(i.VolEnvArray[0]->Value, 0.64f);
  EXPECT_FLOAT_EQ(i.VolEnvArray[1]->Value, 0.32f);
  EXPECT_EQ(i.VolSustain, 1);  // the file's number taken as 1-based
  EXPECT_EQ(i.VolSustainPoint, i.VolEnvArray[1]);
  EXPECT_EQ(i.VolLoopStart, 0);
  EXPECT_EQ(i.VolLoopEnd, 2);
  EXPECT_EQ(i.VolLoopEndPoint, i.VolEnvArray[2]);
  EXPECT_EQ(i.VolType, 7);
  EXPECT_EQ(i.VolFadeout, 1024);
  EXPECT_EQ(i.PanEnvelope[1], 0);
  EXPECT_EQ(i.PanEnvelope[48], 47);
  const Cantor_Instrument& empty = *song->Instrument[2];
  EXPECT_EQ(empty.SampleCount, 0);
  EXPECT_EQ(empty.Name, u"inst");
}

TEST(XmLoader, HostileCounts) {
  {  // channel counts the song cannot take
    for (int channels : {0, XM_MAX_CHANNELS + 1, 65535}) {
      Xm xm;
      xm.channels = channels;
      EXPECT_FALSE(Load(xm)) << channels;
    }
  }
  {  // a song length beyond the order table stays within it
    Xm xm;
    xm.songLength = 300;
    auto song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->ActiveSongPatterns, 255);
    EXPECT_LT(song->ActiveSongPatterns, static_cast<int32_t>(song->SongPattern.size()));
  }
  {  // more stored patterns claimed than present, lines beyond 256
    Xm xm;
    xm.storedPatternsOverride = 1000;
    xm.patterns[0].lines = 5000;
    auto song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Pattern.size(), static_cast<size_t>(XM_MAX_PATTERNS));
    EXPECT_EQ(song->Pattern[0]->LineCount, XM_MAX_LINES);
    EXPECT_EQ(song->Pattern[200]->LineCount, 64);  // zeros past the end: 0 lines, played as 64
  }
  {  // sample lengths beyond the file, loops beyond the data, an odd 16-bit length
    XmSample big;
    big.length = 0xFFFFFFF0u;
    big.loopStart = 0x80000000u;
    big.loopLength = 0xFFFFFFFFu;
    big.flags = 1;
    big.data = {1, 2, 3};
    Xm xm;
    xm.instruments = {OneSample(big)};
    auto song = Load(xm);
    ASSERT_TRUE(song);
    const Cantor_Sample& s = *song->Instrument[1]->Sample[0];
    EXPECT_EQ(s.Length, 3);
    EXPECT_LE(s.LoopStart, 3);
    EXPECT_LE(s.LoopLength, 3);

    XmSample odd;
    odd.flags = 0x10;
    odd.length = 3;
    odd.data = {0x01, 0x00, 0x7F};
    XmSample next;
    next.length = 1;
    next.data = {0x42};
    xm.instruments = {OneSample(odd), OneSample(next)};
    song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Instrument[1]->Sample[0]->Length, 1);
    EXPECT_EQ(song->Instrument[2]->Sample[0]->SoundData[0], 0x42 * 256);
  }
  {  // more samples than an instrument holds: the rest are skipped with their data
    XmInstrument in;
    for (int k = 0; k < 130; ++k) {
      XmSample s;
      s.length = 1;
      s.data = {static_cast<uint8_t>(k)};
      in.samples.push_back(s);
    }
    in.noteSample[0] = 129;
    XmSample after;
    after.length = 1;
    after.data = {0x33};
    Xm xm;
    xm.instruments = {in, OneSample(after)};
    auto song = Load(xm);
    ASSERT_TRUE(song);
    const Cantor_Instrument& i = *song->Instrument[1];
    EXPECT_EQ(i.SampleCount, XM_MAX_SAMPLES);
    EXPECT_EQ(i.Sample[127]->SoundData[0], 127 * 256);
    EXPECT_EQ(i.NoteSample[1], 0);
    EXPECT_EQ(song->Instrument[2]->Sample[0]->SoundData[0], 0x33 * 256);
  }
  {  // more instruments than the song's table takes: the first 255 are read
    Xm xm;
    xm.instruments.assign(300, XmInstrument{});
    auto song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->ActiveSamples, XM_MAX_INSTRUMENTS);
    EXPECT_EQ(song->Instrument.size(), static_cast<size_t>(XM_MAX_INSTRUMENTS) + 1);
    EXPECT_LT(song->ActiveSamples, song->MaxInstruments);
  }
  {  // more envelope points claimed than the 12 stored
    XmInstrument in;
    in.samples = {XmSample{}};
    in.volPoints = 200;
    in.volType = 1;
    Xm xm;
    xm.instruments = {in};
    auto song = Load(xm);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Instrument[1]->VolPoints, 12);
  }
  {  // cut anywhere: loads what is there, never reads outside
    Xm xm;
    xm.patterns[0].packed = {0x83, 0x31, 0x01};
    XmSample s;
    s.length = 8;
    s.data = {1, 2, 3, 4, 5, 6, 7, 8};
    xm.instruments = {OneSample(s), OneSample(s)};
    const Bytes full = xm.Build();
    for (size_t keep = 17; keep < full.size(); keep += 7) {
      auto song = std::dynamic_pointer_cast<Cantor_Mixer>(
          LoadXM(fmtbytes::Stream(Bytes(full.begin(), full.begin() + static_cast<long>(keep)))));
      if (keep < 70)
        EXPECT_FALSE(song) << keep << " bytes: without a channel count the song is refused";
      else
        ASSERT_TRUE(song) << keep;
    }
  }
}

}  // namespace
