// Songs built to cost much: what they may take is bounded, and what is measured of them
// stays right.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <fstream>
#include <iterator>
#include <string>

#include "format_bytes.h"
#include "music/sampleloader_mod.h"
#include "music/loaders/xm_loader.h"
#include "song_fixture.h"
#include "music/player/song_player.h"
#include <ormix/music/song.h>
#include <ormix/runtime/errors.h>
#include <ormix/stream/stream.h>

namespace {
using songfix::Cell;

fmtbytes::Bytes Regression(const std::string& path) {
  std::ifstream in(std::string(ORMIX_SOURCE_DIR) + "/fuzz/regressions/" + path, std::ios::binary);
  return fmtbytes::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The length computation with every channel at work on every tick: the song runs until a
// line starts in a state it has started in before. The reference for the measurement,
// which skips the channels' work.
int64_t MeasureTickByTick(Cantor_Mixer& song) {
  song.Reset();
  song.PlayStatus = 1;
  song.STREAM_LOOP = 0;
  int64_t sum = 0;
  std::set<std::array<int32_t, 7>> seen;
  for (;;) {
    if (song.MMTick == 0 &&
        !seen.insert({song.CurrentSongPattern, song.CurrentLine, song.PatternLoopCount, song.PatternLoopStart,
                      song.PatternLoopEnd, song.Speed, song.Tempo})
             .second)
      break;
    song.Do_Player();
    if (song.PlayStatus == 0) break;
    sum += song.BytesUntilTick;
  }
  return sum;
}

// Songs that never end are measured to where they start repeating, without running the
// channels: the result is what running everything gives.
TEST(EndlessSongs, LengthMatchesRunningEveryTick) {
  struct Case {
    const char* name;
    int32_t positions, tempo, speed;
    void (*cells)(Cantor_Mixer&);
    int64_t frames;  // worked out by hand where the song is simple; 0: compare only
  } cases[] = {
      // 64 lines of 6 ticks of 882 frames.
      {"jump to the start at the last line", 1, 125, 6, [](Cantor_Mixer& s) { Cell(s, 0, 0, 63, 0, 0, 0, 11, 0); },
       64 * 6 * 882},
      {"tempo and speed change inside the loop", 2, 125, 6,
       [](Cantor_Mixer& s) {
         Cell(s, 0, 1, 10, 0, 0, 0, 15, 200);
         Cell(s, 0, 2, 20, 0, 0, 0, 15, 3);
         Cell(s, 0, 0, 40, 0, 0, 0, 15, 90);
         Cell(s, 1, 0, 5, 0, 0, 0, 11, 1);  // position 1 jumps to itself
       },
       0},
      {"pattern loop, then a jump to itself", 1, 255, 1,
       [](Cantor_Mixer& s) {
         Cell(s, 0, 0, 2, 0, 0, 0, 14, 0x60);
         Cell(s, 0, 0, 9, 0, 0, 0, 14, 0x63);
         Cell(s, 0, 1, 30, 0, 0, 0, 14, 0xE4);  // line delay
         Cell(s, 0, 0, 31, 0, 0, 0, 13, 5);     // break to line 5 of the same position
       },
       0},
      // A speed no tracker writes but a file header can hold: 5000 ticks a line, and a line
      // delay of 3 lines on line 30, then a jump to the start.
      {"thousands of ticks a line", 1, 125, 5000,
       [](Cantor_Mixer& s) {
         Cell(s, 0, 1, 30, 0, 0, 0, 14, 0xE3);
         Cell(s, 0, 0, 63, 0, 0, 0, 11, 0);
       },
       (64 + 3) * 5000 * int64_t{882}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cantor_MixerPtr song = songfix::Song(c.positions, true);
    song->DefaultTempo = song->Tempo = c.tempo;
    song->DefaultSpeed = song->Speed = c.speed;
    c.cells(*song);
    const int64_t reference = MeasureTickByTick(*song);
    song->CalcSize();
    EXPECT_EQ(song->STREAM_SIZE, reference);
    EXPECT_GT(song->STREAM_SIZE, 0);
    if (c.frames) {
      EXPECT_EQ(song->STREAM_SIZE, c.frames);
    }
  }
}

// A tempo far above what trackers allow plays at the fastest tempo instead: a tick still
// lasts many output frames, and a song jumping to itself is measured at once.
TEST(EndlessSongs, ExtremeTempoPlaysAtTheFastestTempo) {
  Cantor_MixerPtr song = songfix::Song();
  song->DefaultTempo = song->Tempo = 65535;
  song->DefaultSpeed = song->Speed = 1;
  Cell(*song, 0, 0, 0, 0, 0, 0, 11, 0);
  song->CalcSize();
  EXPECT_EQ(song->Tempo, 65535);  // the song keeps its own value
  song->PlayStatus = 1;
  song->Do_Player();
  EXPECT_EQ(song->BytesUntilTick, song->SAMPLE_RATE * 5 / (2 * Cantor_Mixer::MaxTempo));
  // Line 0 jumps back to itself: one tick of one line, then the song repeats.
  EXPECT_EQ(song->STREAM_SIZE, song->BytesUntilTick);
}

TEST(HostileFiles, XmPatternCellsAreBoundedByTheFile) {
  // 256 patterns of 256 lines x 64 channels from 2.9 KB: refused.
  EXPECT_FALSE(LoadXM(fmtbytes::Stream(Regression("music_xm/many-patterns.xm"))));
  // The same without data in the patterns: they cost nothing and share one empty pattern.
  const fmtbytes::Bytes full = Regression("music_xm/many-patterns.xm");
  ASSERT_GT(full.size(), 336u);
  fmtbytes::Bytes empty(full.begin(), full.begin() + 336);
  for (int p = 0; p < 256; ++p) {
    fmtbytes::Add32(empty, 9);
    fmtbytes::Add8(empty, 0);
    fmtbytes::Add16(empty, 256);
    fmtbytes::Add16(empty, 0);
  }
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadXM(fmtbytes::Stream(empty)));
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Pattern[0], song->Pattern[255]);
  EXPECT_EQ(song->Pattern[0]->LineCount, 256);
}

TEST(HostileFiles, NativePatternWithoutTracksTakesNoLineTexts) {
  auto song = Cantor_Mixer::Load(fmtbytes::Stream(Regression("music_qtk/line-texts.qtk")));
  ASSERT_TRUE(song);  // the song loads; its unplayable patterns are dropped
  // One pattern alone: 65535 lines claimed, no track.
  fmtbytes::Bytes p;
  fmtbytes::Add16(p, 0);
  fmtbytes::Add16(p, 65535);
  fmtbytes::Add16(p, 0);
  p.resize(p.size() + 70000, 0);
  auto pattern = Cantor_Pattern::Load(fmtbytes::Stream(p));
  EXPECT_LE(pattern->LineText.size(), 1u);
}

TEST(HostileFiles, EnvelopePointsFarApartGiveALevel) {
  Cantor_Instrument inst;
  inst.AddVolumeEnvelopePoint(-2000000000, 20);
  inst.AddVolumeEnvelopePoint(2000000000, 100);
  inst.VolType = 1;
  inst.VolPoints = 2;
  int32_t tick = 0, index = 0;
  const float level = inst.GetEnvelopeVolume(tick, index);
  EXPECT_TRUE(std::isfinite(level));
  EXPECT_NEAR(level, 0.6f, 0.01f);
}

// A song whose played order positions name no pattern the file holds is refused with a
// reason (it would otherwise be minutes of silence); one good position is enough to load,
// the positions naming missing patterns then playing as empty patterns.
TEST(HostileFiles, SongsWithNoPatternToPlayAreRefused) {
  InitMusicModule();
  struct Case {
    const char* what;
    fmtbytes::Bytes bytes;
    bool loads;
  };
  auto mod = [](int length, std::vector<int> orders) { return fmtbytes::Mod("M.K.", 4, length, orders, 1).b; };
  auto xm = [](std::vector<int> orders, int songLength = -1) {
    fmtbytes::Xm x;
    x.orders = orders;
    x.songLength = songLength;
    return x.Build();
  };
  const Case cases[] = {
      {"MOD naming only patterns past the file's end", mod(100, std::vector<int>(100, 5)), false},
      {"MOD with one held pattern among them", mod(3, {5, 0, 5}), true},
      {"MOD of song length 0 (position 0 plays)", mod(0, {0}), true},
      {"XM naming only patterns it does not store", xm(std::vector<int>(200, 5)), false},
      {"XM with one stored pattern among them", xm({5, 0, 5}), true},
      {"XM of song length 0 naming a missing pattern", xm({7}, 0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMusicPtr song = LoadTrackerSong(TMusicSource(fmtbytes::Stream(c.bytes)));
    EXPECT_EQ(song != nullptr, c.loads);
    EXPECT_EQ(LoadMusic(TMusicSource(fmtbytes::Stream(c.bytes))) != nullptr, c.loads);
    if (c.loads) {
      EXPECT_EQ(MusicLoadRefusal(), u"");
      EXPECT_LE(song->Geti(1), 3 * 64 * 6 * 882);
    } else {
      EXPECT_NE(ToUtf8(MusicLoadRefusal()).find("order list names no pattern"), std::string::npos);
    }
  }
}

TEST(HostileFiles, LongSongsAreRefusedAsSoundSamples) {
  InitMusicModule();
  TAudioSampleLoaderMOD loader;
  // The song ending after its first pattern (the jump on line 3 removed).
  fmtbytes::Bytes once = Regression("song_sample/endless.mod");
  const size_t cell = 1084 + 3 * 16;  // line 3, channel 0: the jump
  once[cell + 2] &= 0xF0;
  once[cell + 3] = 0;
  TAudioSamplePtr s = loader.LoadAudioSample(fmtbytes::Stream(once));
  ASSERT_TRUE(s);
  EXPECT_GT(s->length, 0);
  EXPECT_LE(s->length, SONG_SAMPLE_MAX_SECONDS * 44100);
  // The same pattern at speed 31 and tempo 32 lasts 64 x 31 ticks of 78 ms: 155 s. Played
  // twice (its order list) that is a song of five minutes, which loads.
  fmtbytes::Bytes slow = once;
  slow[1084 + 2] = static_cast<uint8_t>((slow[1084 + 2] & 0xF0) | 0x0F);
  slow[1084 + 3] = 31;
  slow[1088 + 2] = static_cast<uint8_t>((slow[1088 + 2] & 0xF0) | 0x0F);
  slow[1088 + 3] = 32;
  TAudioSamplePtr five = loader.LoadAudioSample(fmtbytes::Stream(slow));
  ASSERT_TRUE(five);
  EXPECT_NEAR(five->length / 44100.0, 2 * 64 * 31 * 3445 / 44100.0, 1.0);
  five.reset();
  // Played four times it lasts ten minutes and a third: refused.
  slow[950] = 4;
  for (int k = 0; k < 4; ++k) slow[952 + k] = 0;
  try {
    loader.LoadAudioSample(fmtbytes::Stream(slow));
    ADD_FAILURE() << "a 620 second song was loaded as a sample";
  } catch (const TRuntimeException& e) {
    EXPECT_NE(std::string(e.what()).find("too long to load as a sound sample"), std::string::npos) << e.what();
  }
  // A loader with a lower limit refuses it (its order list plays the 1.28 s pattern twice).
  EXPECT_NEAR(s->length, 2 * 64 * 882, 882);
  TAudioSampleLoaderMOD shortSounds(1);
  try {
    shortSounds.LoadAudioSample(fmtbytes::Stream(once));
    ADD_FAILURE() << "a 2.56 second song was loaded under a 1 second limit";
  } catch (const TRuntimeException& e) {
    EXPECT_NE(std::string(e.what()).find("too long to load as a sound sample"), std::string::npos) << e.what();
  }
}

}  // namespace
