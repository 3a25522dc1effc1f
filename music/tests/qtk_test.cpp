// Native song format: the bytes of each record, reading them back, the trailing block
// that keeps a saved song exact, and files that lie about their sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "music/loaders/format_io.h"
#include "music/loaders/qtk.h"
#include <ormix/stream/stream.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Runs `write` on a memory stream and returns the bytes written.
Bytes Written(const std::function<void(const TStreamPtr&)>& write) {
  auto buf = std::make_shared<std::vector<uint8_t>>(1 << 22);
  TStreamPtr s = TRamStream::Create(buf->data(), static_cast<int64_t>(buf->size()), 1, 1, buf);
  write(s);
  return Bytes(buf->begin(), buf->begin() + s->Pos());
}

TStreamPtr Reader(const Bytes& b) { return TRamStream::FromBytes(b); }

int32_t IntAt(const Bytes& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void SetInt(Bytes& b, size_t at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }

TEST(QtkTrack, LineBytes) {
  auto t = Cantor_Track::Create(3);
  t->Note[0] = 49;
  t->FXV[0] = 3;
  t->Note[2] = -1;
  t->Inst[2] = 7;
  t->Vol[2] = 0x40;
  t->FX[2] = 20;
  const Bytes b = Written([&](const TStreamPtr& s) { t->Save(s); });
  const Bytes expected = {3,    0,    0,    0,                       // line count, empty name
                          0x11, 0x31, 0x00, 0x03,                      // note 49, value 3
                          0x00,                                        // empty line
                          0x0F, 0xFF, 0xFF, 0x07, 0x40, 0x14};         // note -1 as 0xFFFF
  EXPECT_EQ(b, expected);

  auto back = Cantor_Track::Load(Reader(b));
  ASSERT_EQ(back->LineCount, 3);
  EXPECT_EQ(back->Note[0], 49);
  EXPECT_EQ(back->FXV[0], 3);
  EXPECT_EQ(back->GetBVal(1), 0x80);
  EXPECT_EQ(back->Note[2], 65535);  // the record alone cannot hold the sign
  EXPECT_EQ(back->FX[2], 20);
}

TEST(QtkInstrument, ConstructorTablesAndPresenceBytes) {
  Cantor_Instrument inst;
  const Bytes b = Written([&](const TStreamPtr& s) { inst.Save(s); });
  // name, sample count, 4 ints, 50-entry table, 4 ints, 0 points, 2 ints, 49-entry
  // table, 8 ints, the sample table size and its 128 presence bytes.
  const size_t tableAt = 1 + 2 + 8;
  EXPECT_EQ(IntAt(b, tableAt), 50);
  const size_t panTableAt = tableAt + 4 + 50 * 4 + 16 + 4 + 8;
  EXPECT_EQ(IntAt(b, panTableAt), 49);
  const size_t sampleTableAt = panTableAt + 4 + 49 * 4 + 32;
  EXPECT_EQ(IntAt(b, sampleTableAt), 128);
  ASSERT_EQ(b.size(), sampleTableAt + 4 + 128);
  for (size_t i = sampleTableAt + 4; i < b.size(); ++i) EXPECT_EQ(b[i], 0) << i;

  auto back = Cantor_Instrument::Load(Reader(b));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->VolEnvelope.size(), 50u);
  EXPECT_EQ(back->PanEnvelope.size(), 49u);
  EXPECT_EQ(back->Sample.size(), 128u);
}

TEST(QtkInstrument, FieldsSamplesAndEnvelope) {
  Cantor_Instrument inst;
  inst.Name = u"piano";
  inst.SampleCount = 2;
  inst.NoteSample[0] = 1;
  inst.NoteSample[1] = 1;
  inst.NoteSample[50] = 1;
  inst.VolType = 7;
  inst.VolPoints = 3;
  inst.VolFadeout = 512;
  inst.PanType = 1;
  inst.PanPoints = 2;
  inst.PanEnvelope[5] = 33;
  inst.VibType = 1;
  inst.VibSweep = 2;
  inst.VibDepth = 3;
  inst.VibRate = 4;
  inst.Reserved = 9;
  inst.AddVolumeEnvelopePoint(0, 100);
  inst.AddVolumeEnvelopePoint(10, 50);
  inst.AddVolumeEnvelopePoint(300, 25);
  inst.SetVolSustainPoint(2);
  inst.SetVolLoopPoints(1, 3);
  auto smp = std::make_shared<Cantor_Sample>();
  smp->Name = u"smp";
  smp->ConvertSampleFromBank(TBank{127, 128, 255, 0, 1}, 1);
  smp->LoopStart = 1;
  smp->LoopLength = 3;
  smp->Loop = 2;
  smp->Volume = 0.5f;
  smp->FineTune = -0.125;
  smp->RelativeNote = -12;
  smp->Pan = 48;
  smp->Flag = 3;
  smp->C2SPD = 8363;
  inst.Sample[1] = smp;

  const Bytes b = Written([&](const TStreamPtr& s) { inst.Save(s); });
  auto back = Cantor_Instrument::Load(Reader(b));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Name, u"piano");
  EXPECT_EQ(back->SampleCount, 2);
  EXPECT_EQ(back->NoteSample[0], 1);
  EXPECT_EQ(back->NoteSample[1], 1);
  EXPECT_EQ(back->NoteSample[50], 0);  // only the first SampleCount entries are stored
  EXPECT_EQ(back->VolType, 7);
  EXPECT_EQ(back->VolPoints, 3);
  EXPECT_EQ(back->VolFadeout, 512);
  EXPECT_EQ(back->PanEnvelope[5], 33);
  EXPECT_EQ(back->VibRate, 4);
  EXPECT_EQ(back->Reserved, 9);
  ASSERT_EQ(back->VolEnvArray.size(), 3u);
  EXPECT_EQ(back->VolEnvArray[1]->Tick, 10);
  EXPECT_FLOAT_EQ(back->VolEnvArray[1]->Value, 0.5f);
  EXPECT_EQ(back->VolEnvArray[2]->Tick, 300 & 0xFF);  // one byte per tick in the record
  // The point references are rebuilt from the stored indexes.
  EXPECT_EQ(back->VolSustain, 1);
  EXPECT_EQ(back->VolSustainPoint, back->VolEnvArray[1]);
  EXPECT_EQ(back->VolLoopStartPoint, back->VolEnvArray[0]);
  EXPECT_EQ(back->VolLoopEndPoint, back->VolEnvArray[2]);
  EXPECT_EQ(back->VolEnvList.size(), 3u);
  EXPECT_FALSE(back->Sample[0]);
  ASSERT_TRUE(back->Sample[1]);
  const Cantor_Sample& s = *back->Sample[1];
  EXPECT_EQ(s.SoundData, smp->SoundData);
  EXPECT_EQ(s.Length, 5);
  EXPECT_EQ(s.fp, s.SoundData.data());
  EXPECT_EQ(s.Name, u"smp");
  EXPECT_EQ(s.LoopStart, 1);
  EXPECT_EQ(s.LoopLength, 3);
  EXPECT_EQ(s.Loop, 2);
  EXPECT_FLOAT_EQ(s.Volume, 0.5f);
  EXPECT_DOUBLE_EQ(s.FineTune, -0.125);
  EXPECT_EQ(s.RelativeNote, -12);
  EXPECT_EQ(s.Pan, 48);
  EXPECT_EQ(s.Flag, 3);
  EXPECT_EQ(s.C2SPD, 8363);
  // Saved again, the loaded instrument gives the same bytes.
  EXPECT_EQ(Written([&](const TStreamPtr& st) { back->Save(st); }), b);
}

// A song with three patterns, an instrument, a -1 note and an order list whose last
// used entry is not 0.
Cantor_MixerPtr SampleSong() {
  auto song = CreateEmptySong();
  song->SongName = u"round trip";
  song->MixLevel = 0.25f;
  song->DefaultTempo = song->Tempo = 140;
  for (int p = 1; p <= 2; ++p) {
    song->Pattern[p] = Cantor_Pattern::Create(song.get(), 4, 32);
    song->Pattern[p]->Title = u"P" + IntToText(p);
  }
  song->Pattern[2]->Track[1]->Note[3] = -1;
  song->Pattern[1]->Track[0]->Note[0] = 49;
  song->Pattern[1]->Track[0]->Inst[0] = 1;
  song->ActiveSongPatterns = 3;
  song->SongPattern[0] = 0;
  song->SongPattern[1] = 1;
  song->SongPattern[2] = 1;
  song->SongPattern[3] = 2;
  auto inst = std::make_shared<Cantor_Instrument>();
  inst->SampleCount = 1;
  inst->NoteSample[49] = 0;
  inst->AddVolumeEnvelopePoint(0, 100);
  inst->AddVolumeEnvelopePoint(400, 10);
  inst->VolPoints = 2;
  inst->VolType = 1;
  auto smp = std::make_shared<Cantor_Sample>();
  smp->ConvertSampleFromBank(TBank{10, 20, 30, 200}, 1);
  inst->Sample[0] = smp;
  song->Instrument[1] = inst;
  return song;
}

TEST(QtkSong, RoundTrip) {
  auto song = SampleSong();
  const Bytes b = Written([&](const TStreamPtr& s) { song->Save(s); });
  ASSERT_EQ(std::string(b.begin(), b.begin() + 3), "QTK");
  EXPECT_EQ(b[3], 10);
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 14), "OrbTracker");
  // Exactly ActiveSongPatterns order entries follow the header.
  const size_t orders = 14 + 40 + 1 + 10 + 16;
  EXPECT_EQ(IntAt(b, orders - 8), 3);
  EXPECT_EQ(IntAt(b, orders + 8), 1);
  EXPECT_EQ(b[orders + 12], 1);  // presence byte of instrument 1

  auto back = Cantor_Mixer::Load(Reader(b));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->TrackerName, u"OrbTracker");
  EXPECT_EQ(back->SongName, u"round trip");
  EXPECT_EQ(back->MaxPatterns, 512);
  EXPECT_EQ(back->MaxSequences, 256);
  EXPECT_EQ(back->MaxInstruments, 256);
  EXPECT_EQ(back->DefaultTempo, 140);
  EXPECT_EQ(back->Tempo, 140);
  EXPECT_FLOAT_EQ(back->MixLevel, 0.25f);
  EXPECT_EQ(back->ActiveChannels, 4);
  EXPECT_EQ(back->ActiveSamples, 31);
  EXPECT_EQ(back->ActiveSongPatterns, 3);
  for (int k = 0; k <= 3; ++k) EXPECT_EQ(back->SongPattern[k], song->SongPattern[k]) << k;
  for (int p = 0; p <= 2; ++p) {
    ASSERT_TRUE(back->Pattern[p]);
    EXPECT_EQ(back->Pattern[p]->Title, song->Pattern[p]->Title);
    for (int t = 0; t < 4; ++t)
      EXPECT_TRUE(back->Pattern[p]->Track[t]->IsIdentical(*song->Pattern[p]->Track[t])) << p << "/" << t;
  }
  EXPECT_EQ(back->Pattern[2]->Track[1]->Note[3], -1);
  ASSERT_TRUE(back->Instrument[1]);
  EXPECT_EQ(back->Instrument[1]->VolEnvArray[1]->Tick, 400);
  EXPECT_EQ(back->Instrument[1]->Sample[0]->SoundData, song->Instrument[1]->Sample[0]->SoundData);
  // A second save of the loaded song writes the same file.
  EXPECT_EQ(Written([&](const TStreamPtr& s) { back->Save(s); }), b);
  EXPECT_EQ(back->Geti(1), song->Geti(1));
}

TEST(QtkSong, RecordsAloneLoseWhatTheTrailingBlockKeeps) {
  auto song = SampleSong();
  Bytes b = Written([&](const TStreamPtr& s) { song->Save(s); });
  const std::string text(b.begin(), b.end());
  const size_t block = text.rfind("QTKX");
  ASSERT_NE(block, std::string::npos);
  b.resize(block);
  auto back = Cantor_Mixer::Load(Reader(b));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->SongPattern[2], 1);
  EXPECT_EQ(back->SongPattern[3], 0);  // not stored by the records
  EXPECT_EQ(back->Pattern[2]->Track[1]->Note[3], 65535);
  EXPECT_EQ(back->Instrument[1]->VolEnvArray[1]->Tick, 400 & 0xFF);
}

// The XM file's lowest note (C-0) is no note in the records, as a reader of the records
// expects; the trailing block carries it for format playback.
TEST(QtkSong, LowestXmNoteIsNoNoteInTheRecords) {
  auto t = Cantor_Track::Create(2);
  t->Note[0] = XmLowestNote;
  t->Note[1] = XmLowestNote;
  t->Inst[1] = 5;
  EXPECT_EQ(t->GetBVal(0), 0x80);
  EXPECT_EQ(t->GetBVal(1), 0x82);
  const Bytes b = Written([&](const TStreamPtr& s) { t->Save(s); });
  const Bytes expected = {2, 0, 0, 0, 0x00, 0x02, 0x05};
  EXPECT_EQ(b, expected);

  auto song = SampleSong();
  song->Pattern[0]->Track[2]->Note[5] = XmLowestNote;
  Bytes file = Written([&](const TStreamPtr& s) { song->Save(s); });
  auto back = Cantor_Mixer::Load(Reader(file));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Pattern[0]->Track[2]->Note[5], XmLowestNote);
  const std::string text(file.begin(), file.end());
  file.resize(text.rfind("QTKX"));
  auto records = Cantor_Mixer::Load(Reader(file));
  ASSERT_TRUE(records);
  EXPECT_EQ(records->Pattern[0]->Track[2]->Note[5], 0);
}

TEST(QtkSong, Refused) {
  auto song = SampleSong();
  const Bytes full = Written([&](const TStreamPtr& s) { song->Save(s); });
  const size_t block = std::string(full.begin(), full.end()).rfind("QTKX");
  ASSERT_NE(block, std::string::npos);
  // The records alone (the trailing block would restore the order list).
  const Bytes good(full.begin(), full.begin() + static_cast<long>(block));
  ASSERT_TRUE(Cantor_Mixer::Load(Reader(good)));
  const size_t nameLen = song->SongName.size();
  const size_t channelsAt = 14 + 40 + 1 + nameLen;
  struct Case { const char* what; size_t at; int32_t value; };
  const Case cases[] = {
      {"MaxPatterns huge", 14, 1 << 30},
      {"MaxPatterns 0", 14, 0},
      {"MaxSequences negative", 18, -5},
      {"MaxInstruments huge", 22, 1 << 28},
      {"no channels", channelsAt, 0},
      {"too many channels", channelsAt, QTK_MAX_CHANNELS + 1},
      {"order position beyond the list", channelsAt + 8, 256},
      {"last instrument beyond the table", channelsAt + 12, 256},
      {"order entry beyond the pattern table", channelsAt + 16 + 4, 512},
      {"negative order entry", channelsAt + 16, -1},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    SetInt(b, c.at, c.value);
    EXPECT_FALSE(Cantor_Mixer::Load(Reader(b))) << c.what;
  }
  // An order entry of the trailing block beyond the pattern table.
  Bytes b = full;
  SetInt(b, block + 12 + 4, 70000);
  EXPECT_FALSE(Cantor_Mixer::Load(Reader(b)));
  Bytes magic = good;
  magic[2] = 'X';
  EXPECT_FALSE(Cantor_Mixer::Load(Reader(magic)));
  EXPECT_FALSE(Cantor_Mixer::Load(Reader(Bytes{})));
}

TEST(QtkInstrument, RefusedTables) {
  Cantor_Instrument inst;
  const Bytes good = Written([&](const TStreamPtr& s) { inst.Save(s); });
  const size_t volTable = 11, volPointsCount = volTable + 4 + 200 + 16;
  const size_t panTable = volPointsCount + 4 + 8, sampleTable = panTable + 4 + 196 + 32;
  for (size_t at : {volTable, volPointsCount, panTable, sampleTable}) {
    for (int32_t v : {-1, QTK_MAX_INT_TABLE + 1}) {
      Bytes b = good;
      SetInt(b, at, v);
      EXPECT_FALSE(Cantor_Instrument::Load(Reader(b))) << at << " " << v;
    }
  }
  Bytes b = good;
  SetInt(b, sampleTable, QTK_MAX_SAMPLES + 1);
  EXPECT_FALSE(Cantor_Instrument::Load(Reader(b)));
}

TEST(QtkSong, DamagedFilesNeverReadOutside) {
  auto song = SampleSong();
  const Bytes good = Written([&](const TStreamPtr& s) { song->Save(s); });
  // Cut at many places: what is there loads, or the file is refused.
  for (size_t keep = 0; keep < good.size(); keep += 97) {
    auto back = Cantor_Mixer::Load(Reader(Bytes(good.begin(), good.begin() + static_cast<long>(keep))));
    if (back) {
      EXPECT_GE(back->Geti(1), 0);
    }
  }
  // Random bytes overwritten: whatever loads must also play.
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    Bytes b = good;
    for (int k = 0; k < 4; ++k) b[rng() % b.size()] = static_cast<uint8_t>(rng());
    auto back = Cantor_Mixer::Load(Reader(b));
    if (!back) continue;
    back->PlayStatus = 1;
    int16_t pcm[2 * 2048];
    try {
      back->FillBuffer(pcm, sizeof pcm);
    } catch (const std::exception&) {
      // a missing pattern may end the song with the player's own error
    }
  }
}

TEST(QtkSong, StreamWithoutSizeIsReadWhole) {
  // A stream that reports no position or size, like a socket.
  struct Opaque : TStream {
    Bytes data;
    size_t at = 0;
    int Read(void* buf, int count) override {
      const size_t n = std::min(static_cast<size_t>(count), data.size() - at);
      std::memcpy(buf, data.data() + at, n);
      at += n;
      return static_cast<int>(n);
    }
    int Write(const void*, int) override { return 0; }
  };
  auto s = std::make_shared<Opaque>();
  s->data = Written([&](const TStreamPtr& st) { SampleSong()->Save(st); });
  auto back = Cantor_Mixer::Load(s);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->SongPattern[3], 2);
}

}  // namespace
