// The song's clock and position: ticks, lines, order list, row commands, end of song,
// parameters, line events and the length computation.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "music/player/song_player.h"
#include "song_fixture.h"
#include <ormix/system/event.h>

namespace {
using songfix::Cell;
using songfix::RunLine;

// A music with only the base behaviour.
class PlainMusic : public TMusic {
public:
  int32_t FillBuffer(void*, int32_t) override { return 0; }
};

TEST(MusicBase, Parameters) {
  PlainMusic m;
  EXPECT_EQ(m.Geti(4), 203);
  EXPECT_EQ(m.Geti(5), 44100);
  EXPECT_EQ(m.Geti(7), 1);
  EXPECT_EQ(m.Geti(6), 0);
  EXPECT_EQ(m.Getf(104), 0.0);
  EXPECT_EQ(m.GetS(115), u"");
  EXPECT_EQ(m.Setf(1, 2.0), 0);
  EXPECT_EQ(m.Seti(4, 199), 0);
  EXPECT_EQ(m.Seti(4, 204), 0);
  EXPECT_EQ(m.Geti(4), 203);
  EXPECT_EQ(m.Seti(4, 201), 1);
  EXPECT_EQ(m.Geti(4), 201);
  EXPECT_EQ(m.Seti(1, 5), 0);
  EXPECT_EQ(m.Seti(2, 5), 0);
  EXPECT_EQ(m.Seti(3, 5), 0);
  EXPECT_EQ(m.Seti(6, 5), 0);
  EXPECT_EQ(m.Seti(5, 22050), 1);
  EXPECT_EQ(m.Geti(5), 22050);
  EXPECT_EQ(m.Seti(7, 0), 1);
  EXPECT_EQ(m.Geti(7), 0);
  m.WriteBug(u"a");
  m.WriteBug(u"b");
  EXPECT_EQ(m.DebugData, u"ab");
}

TEST(SongParameters, IdsOfTheSong) {
  auto song = songfix::Song();
  song->SongName = u"tune";
  EXPECT_EQ(song->GetS(115), u"tune");
  EXPECT_EQ(song->GetS(1), u"");
  EXPECT_EQ(song->Setf(104, 0.25), 1);
  EXPECT_FLOAT_EQ(static_cast<float>(song->Getf(104)), 0.25f);
  EXPECT_EQ(song->Setf(103, 0.5), 1);
  EXPECT_FLOAT_EQ(static_cast<float>(song->Getf(103)), 0.5f);
  EXPECT_EQ(song->Setf(7, 1.0), 0);
  EXPECT_EQ(song->Seti(101, 3), 1);
  EXPECT_EQ(song->Geti(101), 3);
  EXPECT_EQ(song->Seti(102, 0), 1);
  EXPECT_EQ(song->Geti(102), 0);
  EXPECT_EQ(song->Seti(114, 1), 1);
  EXPECT_EQ(song->Geti(114), 1);
  // Ids passed to the base report 0 even when the base accepted them.
  EXPECT_EQ(song->Seti(4, 201), 0);
  EXPECT_EQ(song->Geti(4), 201);
  EXPECT_EQ(song->Seti(7, 0), 0);
  EXPECT_EQ(song->Geti(7), 0);
  // Tempo below 1 is refused.
  EXPECT_EQ(song->Seti(100, 0), 0);
  EXPECT_EQ(song->Seti(100, -5), 0);
  EXPECT_EQ(song->Geti(100), 125);
  EXPECT_EQ(song->Seti(100, 1), 1);
  EXPECT_EQ(song->Geti(100), 1);
}

TEST(Timing, TickLengths) {
  struct Case { int32_t rate, tempo, frames; };
  for (const Case& c : {Case{44100, 125, 882}, Case{44100, 32, 3445}, Case{48000, 125, 960},
                        Case{44100, 255, 432}, Case{8000, 1, 20000}}) {
    auto song = songfix::Song();
    song->SAMPLE_RATE = c.rate;
    song->Tempo = c.tempo;
    song->Do_Player();
    EXPECT_EQ(song->BytesUntilTick, c.frames) << c.rate << " " << c.tempo;
  }
}

TEST(Timing, SpeedAndTempoCommands) {
  struct Case { int32_t fxv, speed, tempo; };
  for (const Case& c : {Case{31, 31, 125}, Case{32, 6, 32}, Case{0, 6, 125}, Case{1, 1, 125},
                        Case{255, 6, 255}}) {
    auto song = songfix::Song();
    Cell(*song, 0, 2, 0, 0, 0, 0, 15, c.fxv);
    song->Do_Player();
    EXPECT_EQ(song->Speed, c.speed) << c.fxv;
    EXPECT_EQ(song->Tempo, c.tempo) << c.fxv;
    // The new tempo already sets the length of this very tick.
    EXPECT_EQ(song->BytesUntilTick, 44100 * 5 / (c.tempo * 2));
  }
}

TEST(Lines, SpeedTicksPerLineAndPatternAdvance) {
  auto song = songfix::Song(2, true, 4);
  EXPECT_EQ(RunLine(*song), 6);
  EXPECT_EQ(song->CurrentLine, 1);
  RunLine(*song);
  RunLine(*song);
  RunLine(*song);
  EXPECT_EQ(song->CurrentLine, 0);
  EXPECT_EQ(song->CurrentSongPattern, 1);
  EXPECT_EQ(song->CurrentPattern, 1);
}

TEST(Lines, PatternDelayRunsLineStartOnce) {
  auto song = songfix::Song();
  songfix::AddInstrument(*song, 1, 1000);
  Cell(*song, 0, 0, 0, 77, 1, 0, 14, 0xE2);
  Cell(*song, 0, 1, 1, 77, 1, 0, 14, 0x11);  // fine slide: a line-start command
  Cell(*song, 0, 1, 2, 0, 0, 0, 0, 0);
  EXPECT_EQ(RunLine(*song), 18);
  EXPECT_EQ(song->CurrentLine, 1);
  // Same with the delay on a line holding a fine slide: applied once only.
  Cell(*song, 0, 0, 1, 0, 0, 0, 14, 0xE1);
  EXPECT_EQ(RunLine(*song), 12);
  EXPECT_NEAR(song->MMC_Channel[1].Note, 77 + Cantor_Channel::slidestep, 1e-12);
}

// Lines visited, recorded at the start of each line.
std::vector<int32_t> Visit(Cantor_Mixer& song, int lines) {
  std::vector<int32_t> out;
  for (int i = 0; i < lines; ++i) {
    out.push_back(song.CurrentLine);
    RunLine(song);
  }
  return out;
}

TEST(Lines, PatternLoopPlaysThreeTimes) {
  auto song = songfix::Song(1, false, 16);
  Cell(*song, 0, 0, 4, 0, 0, 0, 14, 0x60);
  Cell(*song, 0, 1, 7, 0, 0, 0, 14, 0x62);
  const std::vector<int32_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(Visit(*song, static_cast<int>(expected.size())), expected);
  EXPECT_EQ(song->PatternLoopCount, -1);
}

TEST(Lines, FinishedLoopDoesNotRestartOnItsOwnLine) {
  auto song = songfix::Song(1, false, 16);
  Cell(*song, 0, 0, 2, 0, 0, 0, 14, 0x60);
  Cell(*song, 0, 1, 3, 0, 0, 0, 14, 0x61);
  Visit(*song, 6);  // 0 1 2 3 2 3 -> now at line 4
  EXPECT_EQ(song->CurrentLine, 4);
  // Play line 3 again by hand: the exhausted loop stays finished.
  song->CurrentLine = 3;
  RunLine(*song);
  EXPECT_EQ(song->CurrentLine, 4);
}

TEST(Order, JumpAndBreakOnOneLine) {
  // Jump in channel 0, break in channel 1: the break (later channel) picks the next
  // position; its line 0x10 is used as stored (16).
  auto song = songfix::Song(8, true);
  song->CurrentSongPattern = 2;
  song->CurrentPattern = 2;
  Cell(*song, 2, 0, 0, 0, 0, 0, 11, 5);
  Cell(*song, 2, 1, 0, 0, 0, 0, 13, 0x10);
  RunLine(*song);
  EXPECT_EQ(song->CurrentSongPattern, 3);
  EXPECT_EQ(song->CurrentLine, 16);

  // Break first, jump later: the jump picks the position, the break the line.
  auto song2 = songfix::Song(8, true);
  song2->CurrentSongPattern = 2;
  song2->CurrentPattern = 2;
  Cell(*song2, 2, 0, 0, 0, 0, 0, 13, 0x05);
  Cell(*song2, 2, 1, 0, 0, 0, 0, 11, 6);
  RunLine(*song2);
  EXPECT_EQ(song2->CurrentSongPattern, 6);
  EXPECT_EQ(song2->CurrentLine, 5);
}

TEST(Order, BreakBeyondPatternAndAtLastPosition) {
  auto song = songfix::Song(2, true);
  song->CurrentSongPattern = 1;
  song->CurrentPattern = 1;
  Cell(*song, 1, 0, 0, 0, 0, 0, 13, 64);  // not a line of a 64-line pattern
  RunLine(*song);
  EXPECT_EQ(song->CurrentSongPattern, 0);
  EXPECT_EQ(song->CurrentLine, 0);
  EXPECT_EQ(song->PlayStatus, 0);  // never started; a break is not an end
}

TEST(Order, SongEndWithAndWithoutLooping) {
  for (int loop : {1, 0}) {
    auto song = songfix::Song(1, false, 2);
    song->STREAM_LOOP = loop;
    song->PlayStatus = 1;
    song->STREAM_POS = 1234;
    Cell(*song, 0, 0, 0, 0, 0, 0, 15, 3);  // speed 3
    RunLine(*song);
    RunLine(*song);
    EXPECT_EQ(song->CurrentSongPattern, 0);
    EXPECT_EQ(song->CurrentLine, 0);
    EXPECT_EQ(song->STREAM_SIZE, 1234);
    EXPECT_EQ(song->STREAM_POS, 0);
    if (loop) {
      EXPECT_EQ(song->PlayStatus, 1);
      EXPECT_EQ(song->Speed, 3) << "speed survives the wrap";
    } else {
      EXPECT_EQ(song->PlayStatus, 0);
      EXPECT_EQ(song->Speed, 6) << "Reset restores the default speed";
    }
  }
}

TEST(Order, BackwardJumpEndsNonLoopingSong) {
  auto song = songfix::Song(3, true, 4);
  song->STREAM_LOOP = 0;
  song->PlayStatus = 1;
  Cell(*song, 1, 0, 0, 0, 0, 0, 11, 0);
  song->CurrentSongPattern = 1;
  song->CurrentPattern = 1;
  RunLine(*song);
  EXPECT_EQ(song->PlayStatus, 0);
  EXPECT_EQ(song->CurrentSongPattern, 0);

  // A jump to the same position repeats it and never ends the song.
  auto same = songfix::Song(3, true, 4);
  same->STREAM_LOOP = 0;
  same->PlayStatus = 1;
  Cell(*same, 1, 0, 3, 0, 0, 0, 11, 1);
  same->CurrentSongPattern = 1;
  same->CurrentPattern = 1;
  for (int i = 0; i < 12; ++i) RunLine(*same);
  EXPECT_EQ(same->PlayStatus, 1);
  EXPECT_EQ(same->CurrentSongPattern, 1);
  EXPECT_EQ(same->CurrentLine, 0);
}

TEST(Order, JumpOutsideTheOrderListIsTheEnd) {
  for (int loop : {1, 0}) {
    auto song = songfix::Song(3, true, 4);
    song->STREAM_LOOP = loop;
    song->PlayStatus = 1;
    song->CurrentSongPattern = 1;
    song->CurrentPattern = 1;
    Cell(*song, 1, 0, 1, 0, 0, 0, 13, 2);
    Cell(*song, 1, 1, 1, 0, 0, 0, 11, 254);  // the later channel decides the position
    RunLine(*song);
    RunLine(*song);
    EXPECT_EQ(song->CurrentSongPattern, 0);
    EXPECT_EQ(song->CurrentLine, 0);
    EXPECT_EQ(song->MMJump, -1);
    EXPECT_EQ(song->PlayStatus, loop ? 1 : 0);
  }
}

TEST(Order, PatternLockRepeatsThePattern) {
  auto song = songfix::Song(3, true, 2);
  song->PatternLock = 1;
  song->PlayStatus = 1;
  for (int i = 0; i < 6; ++i) RunLine(*song);
  EXPECT_EQ(song->CurrentSongPattern, 0);
  EXPECT_EQ(song->CurrentPattern, 0);
  EXPECT_EQ(song->PlayStatus, 1);
}

TEST(Order, SetiJumpsToAPosition) {
  auto song = songfix::Song(3, true);
  songfix::AddInstrument(*song, 1, 5000);
  Cell(*song, 0, 0, 0, 77, 1);
  song->Do_Player();
  ASSERT_NE(song->MMC_Channel[0].Add, 0.0);
  song->PatternLock = 1;  // not consulted
  EXPECT_EQ(song->Seti(111, 2), 1);
  EXPECT_EQ(song->Geti(111), 2);
  EXPECT_EQ(song->Geti(112), 2);
  EXPECT_EQ(song->Geti(110), 0);
  EXPECT_EQ(song->Geti(113), 0);
  EXPECT_EQ(song->MMC_Channel[0].Add, 0.0);
  EXPECT_EQ(song->MMC_Channel[0].Sample, nullptr);
  EXPECT_EQ(song->Seti(111, 3), 0);
  EXPECT_EQ(song->Seti(111, -1), 0);
  EXPECT_EQ(song->Geti(111), 2);
}

TEST(Order, MissingPatternThrows) {
  auto song = songfix::Song();
  song->CurrentPattern = 7;
  const int32_t tick = song->MMTick;
  try {
    song->Do_Player();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no pattern!!!");
  }
  EXPECT_EQ(song->MMTick, tick);
}

std::vector<int32_t> g_lineEvents;
TObjectPtr RecordLineEvent(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* ev = AsEvent(data);
  if (ev && ev->id == 501) {
    EXPECT_EQ(ev->source, nullptr);
    g_lineEvents.push_back(ev->data);
  }
  return data;
}

TEST(LineEvents, OnePerLineWithTheLineNumber) {
  InitEventModule();
  g_lineEvents.clear();
  InsertHook(EventHookId(), RecordLineEvent);
  auto song = songfix::Song();
  song->Seti(114, 1);
  for (int i = 0; i < 64; ++i) RunLine(*song);
  song->Seti(114, 0);
  RunLine(*song);
  DeleteHook(EventHookId(), RecordLineEvent);
  ASSERT_EQ(g_lineEvents.size(), 64u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(g_lineEvents[static_cast<size_t>(i)], i);
  ASSERT_NE(song->TickEvent, nullptr);
  EXPECT_EQ(song->TickEvent->id, 501);
  EXPECT_EQ(song->TickEvent->source.get(), static_cast<void*>(song.get()));
}

TEST(Length, CalcSizeOfALoopingSong) {
  auto song = songfix::Song(2, true);
  song->Pattern[1]->Track[0]->FX[0] = 15;
  song->Pattern[1]->Track[0]->FXV[0] = 3;  // speed 3 for the second pattern
  song->MMTick = 0;
  song->EmitTick = 1;
  InitEventModule();
  g_lineEvents.clear();
  InsertHook(EventHookId(), RecordLineEvent);
  // The tick that ends the song is not counted.
  EXPECT_EQ(song->Geti(1), (64 * 9 - 1) * 882);
  DeleteHook(EventHookId(), RecordLineEvent);
  EXPECT_TRUE(g_lineEvents.empty()) << "no line events while measuring";
  EXPECT_EQ(song->STREAM_SIZE, (64 * 9 - 1) * 882);
  // Measuring leaves the playback state as it was.
  EXPECT_EQ(song->PlayStatus, 0);
  EXPECT_EQ(song->STREAM_LOOP, 1);
  EXPECT_EQ(song->CurrentSongPattern, 0);
  EXPECT_EQ(song->CurrentLine, 0);
  EXPECT_EQ(song->Speed, 6);
  EXPECT_EQ(song->BytesUntilTick, 0);

  // A new output rate recomputes the length.
  EXPECT_EQ(song->Seti(5, 48000), 1);
  EXPECT_EQ(song->STREAM_SIZE, (64 * 9 - 1) * 960);
}

// The measured length stays the song's: playing it to its end (in requests that do not
// divide it) does not change it, and neither does editing the records leave it stale.
TEST(Length, StaysTrueAfterPlayingAndAfterEdits) {
  auto song = songfix::Song(2, true);
  const int32_t length = (64 * 2 * 6 - 1) * 882;  // the ending tick is not counted
  ASSERT_EQ(song->Geti(1), length);
  song->Seti(7, 0);
  song->PlayStatus = 1;
  std::vector<int16_t> pcm(2 * 10000);
  for (int i = 0; i < 1000 && song->PlayStatus != 0; ++i) song->FillBuffer(pcm.data(), 4 * 10000);
  ASSERT_EQ(song->PlayStatus, 0);
  EXPECT_EQ(song->Geti(1), length) << "the end of the song left its position as the length";

  struct Edit {
    const char* what;
    std::function<void(Cantor_Mixer&)> apply;
    int32_t frames;
  } edits[] = {
      {"speed 3 on the first line", [](Cantor_Mixer& s) { Cell(s, 0, 0, 0, 0, 0, 0, 15, 3); },
       ((64 + 64) * 3 - 1) * 882},
      {"a break on line 31", [](Cantor_Mixer& s) { Cell(s, 0, 2, 31, 0, 0, 0, 13, 0); }, ((32 + 64) * 3 - 1) * 882},
      {"a third position", [](Cantor_Mixer& s) { s.ActiveSongPatterns = 2; s.SongPattern[2] = 1; },
       ((32 + 64 + 64) * 3 - 1) * 882},
      {"a shorter pattern at position 1",
       [](Cantor_Mixer& s) { s.Pattern[3] = Cantor_Pattern::Create(&s, 4, 16); s.SongPattern[1] = 3; },
       ((32 + 16 + 64) * 3 - 1) * 882},
      {"a faster tempo", [](Cantor_Mixer& s) { s.DefaultTempo = 250; }, ((32 + 16 + 64) * 3 - 1) * 441},
  };
  for (const Edit& e : edits) {
    e.apply(*song);
    EXPECT_EQ(song->Geti(1), e.frames) << e.what;
  }
}

TEST(Length, NeverEndingSongEndsWhereItRepeats) {
  auto song = songfix::Song(1, false, 4);
  Cell(*song, 0, 0, 3, 0, 0, 0, 11, 0);  // jump to its own position for ever
  EXPECT_EQ(song->Geti(1), 4 * 6 * 882);
  EXPECT_EQ(song->PlayStatus, 0);

  // The repeat is of line and timing together: a position that changes the speed and
  // jumps to itself plays again at the new speed until a line comes round in a state
  // already seen (line 2 at speed 3).
  auto two = songfix::Song(2, true, 4);
  Cell(*two, 0, 0, 3, 0, 0, 0, 11, 1);
  Cell(*two, 1, 0, 1, 0, 0, 0, 15, 3);  // speed 3 from line 1 of the second position
  Cell(*two, 1, 0, 3, 0, 0, 0, 11, 1);  // which jumps to itself
  EXPECT_EQ(two->Geti(1), (4 * 6 + (6 + 3 * 3) + 2 * 3) * 882);
}

TEST(Length, MeasuringMidSongChangesNothing) {
  auto song = songfix::Song(2, true);
  songfix::AddInstrument(*song, 1, 20000);
  Cell(*song, 0, 0, 0, 60, 1);
  song->EmitTick = 1;
  song->PlayStatus = 1;
  std::vector<int16_t> a(2 * 3000), b(2 * 3000);
  song->FillBuffer(a.data(), 3000 * 4);
  const int32_t untilTick = song->BytesUntilTick;
  const int32_t line = song->CurrentLine;
  song->CalcSize();
  EXPECT_EQ(song->BytesUntilTick, untilTick);
  EXPECT_EQ(song->CurrentLine, line);
  EXPECT_EQ(song->PlayStatus, 1);
  song->FillBuffer(a.data(), 3000 * 4);

  auto fresh = songfix::Song(2, true);
  songfix::AddInstrument(*fresh, 1, 20000);
  Cell(*fresh, 0, 0, 0, 60, 1);
  fresh->PlayStatus = 1;
  fresh->FillBuffer(b.data(), 3000 * 4);
  fresh->FillBuffer(b.data(), 3000 * 4);
  EXPECT_EQ(a, b) << "the song plays on as if it had not been measured";
}

}  // namespace
