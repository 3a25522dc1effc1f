// MOD loader: format tags, cell decoding, periods, sample headers and data, the log,
// and files that are truncated or claim more than they hold.
#include <gtest/gtest.h>

#include "format_bytes.h"
#include "music/loaders/mod_loader.h"

namespace {
using fmtbytes::Mod;

Cantor_MixerPtr Load(const fmtbytes::Bytes& b) {
  return std::dynamic_pointer_cast<Cantor_Mixer>(LoadMOD(fmtbytes::Stream(b)));
}

TEST(ModLoader, FormatTags) {
  struct Case { const char* tag; const char* tracker; int channels; };
  for (const Case& c : {Case{"M.K.", "Protracker 4 channel", 4}, Case{"M!K!", "Protracker 4 channel", 4},
                        Case{"FLT4", "Startracker 4 channel", 4}, Case{"2CHN", "Fasttracker 2 channel", 2},
                        Case{"6CHN", "Fasttracker 6 channel", 6}, Case{"32CH", "Fasttracker 32 channel", 32},
                        Case{"TDZ1", "TakeTracker 1 channel", 1}, Case{"15CH", "TakeTracker 15 channel", 15},
                        Case{"16CN", "Taketracker 16 channel", 16}, Case{"CD81", "Atari oktalyzer 8 channel", 8},
                        Case{"OCTA", "Atari oktalyzer 8 channel", 8}, Case{"N.T.", "NoiseTracker 32 channel", 32},
                        // tags beyond the first table that real files carry
                        Case{"FEST", "His Master's Noise 4 channel", 4}, Case{"M&K!", "His Master's Noise 4 channel", 4},
                        Case{"3CHN", "Generic 3 channel", 3}, Case{"17CH", "Generic 17 channel", 17}}) {
    Mod m(c.tag, c.channels, 1, {0}, 1);
    auto song = Load(m.b);
    ASSERT_TRUE(song) << c.tag;
    EXPECT_EQ(song->TrackerName, ToText(c.tracker));
    EXPECT_EQ(song->ActiveChannels, c.channels);
    EXPECT_EQ(song->Pattern[0]->TrackCount, c.channels);
  }
  for (const char* bad : {"m.k.", "M.K ", "0CHN", "33CH", "\0\0\0\0", "XM  "}) {
    Mod m("M.K.", 4, 1, {0}, 1);
    fmtbytes::Put(m.b, 1080, std::string(bad, 4));
    EXPECT_FALSE(Load(m.b)) << bad;
  }
}

TEST(ModLoader, PeriodToNote) {
  struct Case { int period, note; };
  for (const Case& c : {Case{857, 36}, Case{856, 36}, Case{855, 37}, Case{13, 0}, Case{14, 107},
                        Case{6868, 0}, Case{9999, 0}, Case{6467, 1}, Case{22, 100}, Case{21, 101}}) {
    EXPECT_EQ(PeriodToNote(c.period), c.note) << c.period;
  }
}

TEST(ModLoader, CellDecoding) {
  Mod m("M.K.", 4, 1, {0}, 1);
  m.Cell(0, 0, 0, 0x1F, 0x35, 0x2C, 0x12);  // period 0xF35, instrument 0x10 + 2, effect C
  m.Cell(0, 1, 1, 0x03, 0x58, 0x0D, 0x25);  // period 856, pattern break read as decimal
  m.Cell(0, 2, 2, 0x00, 0x0D, 0x00, 0x00);  // period 13: no note
  m.Cell(0, 3, 3, 0x00, 0x00, 0x0F, 0x7D);  // speed/tempo value kept as stored
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  const Cantor_Pattern& p = *song->Pattern[0];
  EXPECT_EQ(p.Track[0]->Note[0], PeriodToNote(3893));
  EXPECT_EQ(p.Track[0]->Inst[0], 18);
  EXPECT_EQ(p.Track[0]->FX[0], 0xC);
  EXPECT_EQ(p.Track[0]->FXV[0], 0x12);
  EXPECT_EQ(p.Track[1]->Note[1], 36);
  EXPECT_EQ(p.Track[1]->FX[1], 0xD);
  EXPECT_EQ(p.Track[1]->FXV[1], 25);
  EXPECT_EQ(p.Track[2]->Note[2], 0);
  EXPECT_EQ(p.Track[3]->FXV[3], 0x7D);
  EXPECT_NE(song->DebugData.find(u"NO MATCH FOUND FOR NOTE \"13\" - DISCARDED! (Pattern 0, Track 2,Line 2)\n"),
            Text::npos);
  EXPECT_EQ(p.Title, u"Pattern 0");
  EXPECT_EQ(p.LineText[0].substr(0, 14), p.Track[0]->GetText(0) + u" ");
}

TEST(ModLoader, ChannelPansAlternateLeftRightRightLeft) {
  Mod m("6CHN", 6, 1, {0}, 1);
  ASSERT_EQ(m.b.size(), 1084u + 1536u);
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  const int expected[6] = {0xC0, 0xCF, 0xCF, 0xC0, 0xC0, 0xCF};
  for (int ch = 0; ch < 6; ++ch)
    for (int line : {0, 63}) EXPECT_EQ(song->Pattern[0]->Track[ch]->Vol[line], expected[ch]) << ch;
}

TEST(ModLoader, OrderListAndPatternCount) {
  Mod m("M.K.", 4, 1, {0, 3, 0}, 4);
  m.Cell(3, 5, 1, 0x01, 0xAC, 0x00, 0x00);  // marks pattern 3 (period 428)
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  ASSERT_EQ(song->SongPattern.size(), 2u);
  EXPECT_EQ(song->SongPattern[0], 0);
  EXPECT_EQ(song->SongPattern[1], 3);
  EXPECT_EQ(song->ActiveSongPatterns, 0);
  ASSERT_EQ(song->Pattern.size(), 4u);
  EXPECT_EQ(song->Pattern[3]->Track[1]->Note[5], 48);
  EXPECT_EQ(song->Pattern[3]->Title, u"Pattern 3");
}

TEST(ModLoader, SampleHeaders) {
  Mod m("M.K.", 4, 1, {0}, 1);
  m.Sample(1, "  one  ", 1, 0, 64);         // 2 bytes: no sample
  m.Sample(2, "two", 2, 0x0F, 80);          // 4 bytes: a sample without data
  m.Sample(3, "three", 3, 0x07, 32, 1, 2);  // 6 bytes, loop of 4 bytes from byte 2
  m.Sample(4, "four", 3, 0x08, 0, 0, 1);    // loop of 2 bytes: no loop
  m.Sample(5, "five", 3, 16, 0);
  m.Sample(6, "six", 3, 17, 0);
  m.AddData({127, 128, 255, 0, 1, 2});
  m.AddData({1, 2, 3, 4, 5, 6});
  m.AddData({0, 0, 0, 0, 0, 0});
  m.AddData({0, 0, 0, 0, 0, 0});
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveSamples, 31);
  ASSERT_EQ(song->Instrument.size(), 32u);
  EXPECT_FALSE(song->Instrument[0]);

  const auto& one = *song->Instrument[1];
  EXPECT_EQ(one.Name, u"one");
  EXPECT_EQ(one.SampleCount, 0);
  EXPECT_FALSE(one.Sample[0]);

  const auto& two = *song->Instrument[2]->Sample[0];
  EXPECT_EQ(two.Length, 0);
  EXPECT_DOUBLE_EQ(two.FineTune, -0.125);
  EXPECT_FLOAT_EQ(two.Volume, 1.0f);

  const auto& three = *song->Instrument[3]->Sample[0];
  EXPECT_EQ(three.Name, u"three");
  EXPECT_DOUBLE_EQ(three.FineTune, 0.875);
  EXPECT_FLOAT_EQ(three.Volume, 0.5f);
  EXPECT_EQ(three.Loop, 1);
  EXPECT_EQ(three.LoopStart, 2);
  EXPECT_EQ(three.LoopLength, 4);
  ASSERT_EQ(three.Length, 6);
  EXPECT_EQ(three.fp, three.SoundData.data());
  const int32_t expected[6] = {32512, -32767, -255, 0, 256, 512};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(three.SoundData[i], expected[i]) << i;

  const auto& four = *song->Instrument[4]->Sample[0];
  EXPECT_DOUBLE_EQ(four.FineTune, -1.0);
  EXPECT_EQ(four.Loop, 0);
  EXPECT_EQ(four.SoundData[0], 256);  // data follows sample 3's directly
  EXPECT_DOUBLE_EQ(song->Instrument[5]->Sample[0]->FineTune, 0.0);
  EXPECT_DOUBLE_EQ(song->Instrument[6]->Sample[0]->FineTune, -239 * 0.125);

  EXPECT_NE(song->DebugData.find(u"Sample 3 \"three\" 6k\n"), Text::npos);
  EXPECT_EQ(song->DebugData.find(u"Sample 1 "), Text::npos);
}

TEST(ModLoader, Log) {
  Mod m("M.K.", 4, 1, {0}, 1);
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->DebugData.rfind(u"Loading MOD format file...\nTAG = \"M.K.\"   $4D.$2E.$4B.$2E\n"
                                  u"Format = Protracker 4 channel\nChannels = 4\nInstruments = 31\n",
                                  0),
            0u);
  EXPECT_NE(song->DebugData.find(u"Patterns = 0\n"), Text::npos);
  EXPECT_EQ(song->DebugData.substr(song->DebugData.size() - 15), u"Load complete.\n");
  EXPECT_EQ(song->SongName, u"a title");
}

TEST(ModLoader, SampleDataAfterPatternsListedBeyondTheSongEnd) {
  // Order table 0 | 1 (song length 1): pattern 1 is stored and the data follows it.
  Mod m("M.K.", 4, 1, {0, 0, 1}, 2);
  m.Sample(1, "s", 2, 0, 64);
  m.AddData({10, 20, 30, 40});
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Pattern.size(), 2u);
  EXPECT_EQ(song->Instrument[1]->Sample[0]->Length, 0);  // 4 bytes: no data read
  m.Sample(1, "s", 3, 0, 64);
  m.AddData({50, 60});
  song = Load(m.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Instrument[1]->Sample[0]->SoundData[0], 10 * 256);

  // A table naming patterns the file does not hold: only the song's part counts.
  Mod n("M.K.", 4, 1, {0, 0, 9}, 1);
  n.Sample(1, "s", 3, 0, 64);
  n.AddData({1, 2, 3, 4, 5, 6});
  song = Load(n.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Pattern.size(), 1u);
  EXPECT_EQ(song->Instrument[1]->Sample[0]->SoundData[5], 6 * 256);
}

TEST(ModLoader, HostileAndTruncatedFiles) {
  // Song length beyond the 128-entry order table, every entry naming pattern 0.
  Mod m("M.K.", 4, 255, std::vector<int>(128, 0), 1);
  auto song = Load(m.b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveSongPatterns, 127);
  EXPECT_EQ(song->SongPattern.size(), 129u);

  // Sample data cut short: the missing part reads as silence.
  Mod t("M.K.", 4, 1, {0}, 1);
  t.Sample(1, "s", 4, 0, 64);
  t.AddData({5, 6, 7});
  song = Load(t.b);
  ASSERT_TRUE(song);
  const auto& s = *song->Instrument[1]->Sample[0];
  ASSERT_EQ(s.Length, 8);
  EXPECT_EQ(s.SoundData[2], 7 * 256);
  EXPECT_EQ(s.SoundData[7], 0);

  // Cut inside the patterns and inside the headers.
  for (size_t keep : {size_t{1084 + 100}, size_t{1084}, size_t{1083}, size_t{500}, size_t{0}}) {
    Mod c("M.K.", 4, 1, {0}, 1);
    c.Sample(1, "s", 30000, 0, 64);
    c.b.resize(keep);
    song = Load(c.b);
    if (keep > 1084) {
      ASSERT_TRUE(song) << keep;
      EXPECT_EQ(song->Instrument[1]->Sample[0]->Length, 60000);
    } else if (keep == 1084) {
      EXPECT_FALSE(song) << "no pattern left to play";
    } else {
      EXPECT_FALSE(song) << keep;  // the tag is gone
    }
  }
}

TEST(ModLoader, UrlSourceAndUnopenable) {
  EXPECT_FALSE(LoadMOD(TMusicSource(u"/nonexistent/dir/x.mod")));
  Mod m("M.K.", 4, 1, {0}, 1);
  const std::string path = ::testing::TempDir() + "mod_loader_test.mod";
  SaveAllBytes(m.b, ToText(path));
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMOD(TMusicSource(ToText(path))));
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveChannels, 4);
}

}  // namespace

namespace {

TEST(SampleBank, ConvertModes) {
  struct Case { int mode; TBank bank; std::vector<int32_t> frames; };
  const Case cases[] = {
      {1, {127, 128, 255, 0, 1}, {32512, -32767, -255, 0, 256}},
      {2, {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x01}, {-32768, 32767, -1}},  // odd byte dropped
      // left / 2 + right / 2 + 0.5, truncated toward zero
      {4, {0x01, 0x00, 0x00, 0x00, 0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80, 0xFD, 0xFF, 0x00, 0x00},
       {1, 32767, -32767, -1}},
  };
  for (const Case& c : cases) {
    Cantor_Sample s;
    s.ConvertSampleFromBank(c.bank, c.mode);
    EXPECT_EQ(s.Length, static_cast<int32_t>(c.frames.size())) << c.mode;
    EXPECT_EQ(s.SoundData, c.frames) << c.mode;
    EXPECT_EQ(s.fp, s.SoundData.data()) << c.mode;
  }
  Cantor_Sample s;
  s.ConvertSampleFromBank(TBank{1, 2, 3}, 1);
  for (int mode : {0, 3, 8}) {
    s.ConvertSampleFromBank(TBank{9, 9}, mode);
    EXPECT_EQ(s.Length, 3) << mode;  // unknown layouts change nothing
    EXPECT_EQ(s.SoundData[2], 3 * 256);
  }
}

// The old Soundtracker layout: 15 sample headers, the order table at 470, patterns from
// 600, no tag.
TEST(ModLoader, FifteenSampleSoundtrackerFile) {
  fmtbytes::Bytes b(600 + 2 * 1024, 0);
  fmtbytes::Put(b, 0, "old song");
  fmtbytes::Put(b, 20, "piano");
  fmtbytes::Put16BE(b, 20 + 22, 8);  // 16 bytes
  fmtbytes::Put8(b, 20 + 25, 64);
  fmtbytes::Put16BE(b, 20 + 28, 1);
  fmtbytes::Put8(b, 470, 2);  // two positions: patterns 0 and 1
  fmtbytes::Put8(b, 471, 120);
  fmtbytes::Put8(b, 473, 1);
  // Line 0 of pattern 1, channel 2: period 428, instrument 1.
  const size_t cell = 600 + 1024 + 2 * 4;
  b[cell] = 0x01;
  b[cell + 1] = 0xAC;
  b[cell + 2] = 0x10;
  for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(i * 8));
  auto song = Load(b);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveChannels, 4);
  EXPECT_EQ(song->ActiveSamples, 15);
  EXPECT_EQ(song->ActiveSongPatterns, 1);
  EXPECT_EQ(song->SongPattern[1], 1);
  EXPECT_EQ(song->Pattern[1]->Track[2]->Note[0], 48);
  EXPECT_EQ(song->Pattern[1]->Track[2]->Inst[0], 1);
  ASSERT_TRUE(song->Instrument[1]->Sample[0]);
  EXPECT_EQ(song->Instrument[1]->Sample[0]->Length, 16);
  EXPECT_EQ(song->Instrument[1]->Sample[0]->SoundData[1], 8 * 256);

  // Headers that are no sample headers (a fine tune above 15, a volume above 64) or an
  // order table naming patterns above 63 are not taken for such a file; names may hold
  // any bytes.
  for (const auto& spoil : std::vector<std::pair<size_t, int>>{{20 + 24, 16}, {20 + 25, 65}, {472, 64}}) {
    fmtbytes::Bytes bad = b;
    bad[spoil.first] = static_cast<uint8_t>(spoil.second);
    EXPECT_FALSE(Load(bad)) << spoil.first;
  }
  fmtbytes::Bytes odd = b;
  odd[25] = 7;
  odd[20 + 3] = 0xE9;
  EXPECT_TRUE(Load(odd));
}

}  // namespace
