// Song records: printing, packing bytes, comparison, sample lookup, envelopes.
#include <gtest/gtest.h>

#include "music/player/song_player.h"
#include "song_fixture.h"

namespace {

TEST(NoteNames, TableAndTags) {
  EXPECT_EQ(NoteName(0), u"C 0");
  EXPECT_EQ(NoteName(46), u"A#3");
  EXPECT_EQ(NoteName(107), u"B 8");
  struct Case { int32_t note; const char16_t* tag; };
  for (const Case& c : {Case{0, u">>>"}, Case{-1, u"<<<"}, Case{1, u"C#0"}, Case{107, u"B 8"},
                        Case{108, u">>>"}, Case{96, u"C 8"}}) {
    EXPECT_EQ(Cantor_Track::GetNoteTag(c.note), c.tag) << c.note;
  }
}

TEST(PadText, CutsOrPads) {
  EXPECT_EQ(PadText(u"abc", 5), u"abc  ");
  EXPECT_EQ(PadText(u"abcdef", 3), u"abc");
  EXPECT_EQ(PadText(u"abc", 3), u"abc");
  EXPECT_EQ(PadText(u"abc", 0), u"");
}

TEST(Track, GetTextPrintsEveryField) {
  auto track = Cantor_Track::Create(8);
  struct Row { int32_t note, inst, vol, fx, fxv; const char16_t* text; };
  const Row rows[] = {
      {96, 0, 0, 0, 0, u" |           "},
      {0, 0, 0, 0, 0, u"---          "},
      {49, 3, 0x40, 10, 0x0F, u"C#4 03 40 A0F"},
      {1, 0x1AB, 0, 20, 0, u"C#0 AB    K00"},
      {0, 0, 0, 33, 0x12, u"---       X12"},
      {0, 0, 0, 0, 0x05, u"---       005"},
      {-1, 0, 0, 15, 0x1FF, u"---       FFF"},
  };
  int32_t line = 0;
  for (const Row& r : rows) {
    track->Note[line] = r.note;
    track->Inst[line] = r.inst;
    track->Vol[line] = r.vol;
    track->FX[line] = r.fx;
    track->FXV[line] = r.fxv;
    EXPECT_EQ(track->GetText(line), r.text) << line;
    EXPECT_EQ(track->GetText(line).size(), 13u);
    ++line;
  }
}

TEST(Track, PackingByteAndIdentity) {
  auto a = Cantor_Track::Create(4);
  EXPECT_EQ(a->GetBVal(0), 0x80);
  a->Note[1] = 1; a->Inst[1] = 2; a->Vol[1] = 3; a->FX[1] = 4; a->FXV[1] = 5;
  EXPECT_EQ(a->GetBVal(1), 0);
  a->Note[2] = 30; a->FX[2] = 1;
  EXPECT_EQ(a->GetBVal(2), 0x89);
  a->FXV[3] = 7;
  EXPECT_EQ(a->GetBVal(3), 0x90);

  auto b = Cantor_Track::Create(4);
  EXPECT_EQ(a->IsIdentical(*b), 0);
  for (int i = 0; i < 4; ++i) {
    b->Note[i] = a->Note[i]; b->Inst[i] = a->Inst[i]; b->Vol[i] = a->Vol[i];
    b->FX[i] = a->FX[i]; b->FXV[i] = a->FXV[i];
  }
  EXPECT_EQ(a->IsIdentical(*b), 1);
  // A prefix of a longer track is not identical to it.
  auto longer = Cantor_Track::Create(5);
  auto shorter = Cantor_Track::Create(4);
  EXPECT_EQ(longer->IsIdentical(*shorter), 0);
}

TEST(Pattern, CreateAndUpdateText) {
  auto pattern = Cantor_Pattern::Create(nullptr, 3, 16);
  ASSERT_EQ(pattern->Track.size(), 3u);
  EXPECT_EQ(pattern->LineText.size(), 17u);
  for (auto& t : pattern->Track) EXPECT_EQ(t->LineCount, 16);
  pattern->Track[1]->Note[2] = 96;
  pattern->UpdateText();
  EXPECT_EQ(pattern->LineText[2], u"---" + Text(11, u' ') + u" |" + Text(12, u' ') + u"---" + Text(11, u' '));
  EXPECT_EQ(pattern->LineText[16], u"");
}

TEST(Instrument, GetSampleOnlyForPlayableNotes) {
  Cantor_Instrument inst;
  auto s0 = std::make_shared<Cantor_Sample>();
  auto s1 = std::make_shared<Cantor_Sample>();
  inst.Sample[0] = s0;
  inst.Sample[1] = s1;
  inst.NoteSample[0] = 1;
  inst.NoteSample[40] = 1;
  inst.NoteSample[96] = 1;
  inst.NoteSample[50] = 500;  // a map entry outside the table
  EXPECT_EQ(inst.GetSample(1), s0);
  EXPECT_EQ(inst.GetSample(40), s1);
  EXPECT_EQ(inst.GetSample(0), nullptr);
  EXPECT_EQ(inst.GetSample(96), nullptr);
  EXPECT_EQ(inst.GetSample(-3), nullptr);
  EXPECT_EQ(inst.GetSample(50), nullptr);
}

TEST(Instrument, EnvelopePointsSustainAndLoop) {
  Cantor_Instrument inst;
  inst.AddVolumeEnvelopePoint(0, 0);
  inst.AddVolumeEnvelopePoint(10, 100);
  inst.AddVolumeEnvelopePoint(20, 50);
  EXPECT_EQ(inst.VolPoints, 0);  // the loader sets the count
  ASSERT_EQ(inst.VolEnvArray.size(), 3u);
  EXPECT_FLOAT_EQ(inst.VolEnvArray[2]->Value, 0.5f);

  for (int32_t n : {0, 1}) {
    inst.SetVolSustainPoint(n);
    EXPECT_EQ(inst.VolSustain, 0);
    EXPECT_EQ(inst.VolSustainPoint, inst.VolEnvArray[0]);
  }
  inst.SetVolSustainPoint(9);
  EXPECT_EQ(inst.VolSustain, 2);
  EXPECT_EQ(inst.VolSustainPoint, inst.VolEnvArray[2]);
  inst.SetVolLoopPoints(2, 3);
  EXPECT_EQ(inst.VolLoopStart, 1);
  EXPECT_EQ(inst.VolLoopEnd, 2);
  EXPECT_EQ(inst.VolLoopEndPoint, inst.VolEnvArray[2]);

  Cantor_Instrument empty;
  empty.SetVolSustainPoint(3);
  EXPECT_EQ(empty.VolSustainPoint, nullptr);
}

// Levels of an envelope (0,0%) (10,100%) (20,50%) tick by tick, as a channel calls it.
TEST(Instrument, EnvelopeLevels) {
  Cantor_Instrument inst;
  inst.AddVolumeEnvelopePoint(0, 0);
  inst.AddVolumeEnvelopePoint(10, 100);
  inst.AddVolumeEnvelopePoint(20, 50);
  inst.VolPoints = 3;
  int32_t tick = 0, index = 0;
  EXPECT_FLOAT_EQ(inst.GetEnvelopeVolume(tick, index), 1.0f) << "envelope off";

  inst.VolType = 1;
  std::vector<float> levels;
  for (tick = 0; tick <= 25; ++tick) levels.push_back(inst.GetEnvelopeVolume(tick, index));
  EXPECT_FLOAT_EQ(levels[0], 0.0f);
  EXPECT_FLOAT_EQ(levels[5], 0.5f);
  EXPECT_FLOAT_EQ(levels[10], 1.0f);
  EXPECT_FLOAT_EQ(levels[15], 0.75f);
  EXPECT_FLOAT_EQ(levels[20], 0.5f);
  EXPECT_FLOAT_EQ(levels[25], 0.5f);
  EXPECT_EQ(index, 2);

  // Sustain at point 2 holds its level once reached.
  inst.VolType = 1 | 2;
  inst.SetVolSustainPoint(2);
  index = 0;
  for (tick = 0; tick <= 30; ++tick) {
    const float v = inst.GetEnvelopeVolume(tick, index);
    if (tick >= 11) {
      EXPECT_FLOAT_EQ(v, 1.0f) << tick;
    }
  }

  // Loop from point 1 to point 2 rewinds the channel's tick to point 1's.
  inst.VolType = 1 | 4;
  inst.SetVolLoopPoints(2, 3);
  index = 0;
  int32_t t = 0;
  for (int i = 0; i < 21; ++i, ++t) inst.GetEnvelopeVolume(t, index);
  EXPECT_EQ(index, 2);
  t = 21;
  const float v = inst.GetEnvelopeVolume(t, index);
  EXPECT_EQ(t, 10);
  EXPECT_EQ(index, 1);
  EXPECT_FLOAT_EQ(v, 1.0f);
}

TEST(Instrument, EnvelopeCountsBeyondThePointsAreSafe) {
  Cantor_Instrument inst;
  inst.AddVolumeEnvelopePoint(0, 100);
  inst.AddVolumeEnvelopePoint(4, 0);
  inst.VolType = 7;
  inst.VolPoints = 12;        // more than the points present
  inst.VolSustain = 9;        // no sustain point set
  inst.VolLoopEnd = 1;        // no loop start point set
  int32_t tick = 0, index = 40;
  for (tick = 0; tick < 10; ++tick) {
    const float v = inst.GetEnvelopeVolume(tick, index);
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
}

TEST(Song, CreateEmptySongShape) {
  auto song = CreateEmptySong();
  EXPECT_EQ(song->ActiveChannels, 4);
  EXPECT_EQ(song->ActiveSamples, 31);
  EXPECT_EQ(song->ActiveSongPatterns, 1);
  EXPECT_EQ(song->MMC_Channel.size(), 4u);
  EXPECT_EQ(song->Instrument.size(), 256u);
  EXPECT_EQ(song->Pattern.size(), 512u);
  EXPECT_EQ(song->SongPattern.size(), 256u);
  ASSERT_NE(song->Pattern[0], nullptr);
  EXPECT_EQ(song->Pattern[0]->TrackCount, 4);
  EXPECT_EQ(song->Pattern[0]->LineCount, 64);
  EXPECT_EQ(song->MMC_Channel[0].EnvelopePan, 32);
}

TEST(Song, FreeDropsEverything) {
  auto song = songfix::Song();
  auto sample = songfix::AddInstrument(*song, 1, 100);
  auto inst = song->Instrument[1];
  song->MMC_Channel[0].Instrument = inst;
  song->MMC_Channel[0].Sample = sample;
  EXPECT_EQ(FreeMusic(song), 0);
  EXPECT_TRUE(song->Instrument.empty());
  EXPECT_TRUE(song->Pattern.empty());
  EXPECT_TRUE(song->SongPattern.empty());
  EXPECT_TRUE(song->MMC_Channel.empty());
  EXPECT_EQ(song->TickEvent, nullptr);
  EXPECT_TRUE(inst->Sample.empty());
  EXPECT_EQ(FreeMusic(nullptr), 0);
  // A freed song that is asked for sound writes nothing.
  song->PlayStatus = 1;
  song->Free();
  uint8_t buf[16] = {7};
  EXPECT_EQ(song->FillBuffer(buf, 16), 0);
  EXPECT_EQ(buf[0], 7);
}

}  // namespace
