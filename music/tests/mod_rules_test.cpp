// MOD playback rules, one tiny file each (written by rules/mod_rules.py, which also
// compares them with the reference players): the lines a song walks through and where
// it ends, the layouts of the format's variants, and the level and pan of a channel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "music/player/song_player.h"
#include <ormix/music/song.h>

namespace {

constexpr int32_t kLine = 6 * 882;  // frames of a line at speed 6, tempo 125, 44100 Hz

Cantor_MixerPtr LoadRule(const std::string& name) {
  const std::string path = std::string(ORMIX_SOURCE_DIR) + "/music/tests/rules/" + name + ".mod";
  return std::dynamic_pointer_cast<Cantor_Mixer>(LoadTrackerSong(ToText(path)));
}

// The lines the song plays, once through, as runs "order:first-last" (or "order:line")
// of consecutive lines.
std::string Walk(Cantor_Mixer& song) {
  song.STREAM_LOOP = 0;
  song.Reset();
  song.PlayStatus = 1;
  std::string out;
  int32_t order = -1, first = -1, last = -1;
  const auto flush = [&]() {
    if (order < 0) return;
    if (!out.empty()) out += ' ';
    out += std::to_string(order) + ':' + std::to_string(first);
    if (last != first) out += '-' + std::to_string(last);
  };
  for (int32_t ticks = 0; ticks < 100000; ++ticks) {
    song.Do_Player();
    if (song.PlayStatus == 0) break;
    if (song.MMTick != 1) continue;  // a line's first tick just ran
    const int32_t o = song.CurrentSongPattern, l = song.CurrentLine;
    if (o == order && l == last + 1) {
      last = l;
      continue;
    }
    flush();
    order = o;
    first = last = l;
  }
  flush();
  return out;
}

struct FlowCase {
  const char* rule;
  const char* walk;    // as the reference player walks it
  int32_t frames;      // the length the song reports
};

// Speed 6 and tempo 125 throughout, unless the rule changes them.
const FlowCase kFlow[] = {
    {"jump_then_break", "0:0 2:0-63", 65 * kLine},
    {"break_then_jump", "0:0 2:0-63", 65 * kLine},
    {"break_past_end", "0:0-8 1:0-63", 73 * kLine},
    {"two_breaks", "0:0 1:30-63", 35 * kLine},
    {"jump_back", "0:0-63 1:0-32", 97 * kLine},
    {"jump_past_end", "0:0-16", 17 * kLine},
    {"break_last_order", "0:0-63 1:0-16", 81 * kLine},
    {"loop_basic", "0:0-15 0:8-15 0:8-31", 48 * kLine},
    {"loop_with_break", "0:0-8 0:4-8 0:4-8 1:20-63", 63 * kLine},
    {"loop_with_jump", "0:0-8 0:4-8 0:4-8 2:0-63", 83 * kLine},
    {"loop_break_inside", "0:0-6 1:0-63", 71 * kLine},
    {"loop_two_channels", "0:0-8 0:4-8 0:4-8 0:0-8 0:4-8 0:4-12", 42 * kLine},
    {"loop_start_next_pattern", "0:0-12 1:4-12 1:10-16 2:0-63", 93 * kLine},
    {"loop_again", "0:0-6 0:0-10 0:8-12", 23 * kLine},
    {"delay_with_break", "0:0-4 1:6-12", 16 * kLine},
    {"delay_with_loop", "0:0-4", 7 * kLine},
    {"delay_with_loop_back", "0:0-4 0:3-4", 11 * kLine},
    {"jump_then_break_4chn", "0:0 2:32-63", 33 * kLine},
    {"jump_then_break_mkk", "0:0 2:32-63", 33 * kLine},
    {"delay_with_loop_4chn", "0:0-4 0:3-4 0:3-5", 16 * kLine},
    {"delay_with_loop_mkk", "0:0-4", 7 * kLine},
    {"st15_flow", "0:0-8 1:0-4", 4 * kLine + 10 * 3 * 882},
    {"speed_zero", "0:0-63 1:0-63", 128 * kLine},
    {"speed_and_tempo", "0:0-63", 32 * 3 * 551 + 32 * 3 * 3445},
    {"length_long", "0:0-63 1:0-63 2:0-63", 192 * kLine},
    {"restart_position", "0:0-63 1:0-63", 128 * kLine},
    {"flt8", "0:0-16 1:0-20", 38 * kLine},
    {"chn8", "0:0-16", 17 * kLine},
    {"cd81", "0:0-16", 17 * kLine},
    {"chn6", "0:0-24", 25 * kLine},
    {"ice", "0:0-16 1:0-16", 34 * kLine},
    {"ice_it10", "0:0-16 1:0-16", 34 * kLine},
    {"st15", "0:0-24", 25 * kLine},
    {"st15_odd_names", "0:0-24", 25 * kLine},
};

TEST(ModRules, SongFlowAndLength) {
  for (const FlowCase& c : kFlow) {
    SCOPED_TRACE(c.rule);
    Cantor_MixerPtr song = LoadRule(c.rule);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Geti(MUSIC_ID_SIZE), c.frames);
    EXPECT_EQ(Walk(*song), c.walk);
  }
}

// A 15-sample song's restart byte is its tempo as a timer value; 0 and 120 mean 125.
TEST(ModRules, SoundtrackerTempoByte) {
  Cantor_MixerPtr song = LoadRule("st15_tempo_byte");
  ASSERT_TRUE(song);
  EXPECT_EQ(song->DefaultTempo, 83);  // 0x40: 709379 * 2.5 / (176 * 122) beats a minute
  EXPECT_EQ(song->Geti(MUSIC_ID_SIZE), 25 * 6 * (44100 * 5 / (83 * 2)));
  EXPECT_EQ(LoadRule("st15")->DefaultTempo, 125);  // 0x78
}

// The channels of an 8-channel file hold what the file's layout puts there: FLT8 stores
// each pattern as two 4-channel halves.
TEST(ModRules, EightChannelLayouts) {
  for (const char* rule : {"chn8", "cd81", "flt8"}) {
    SCOPED_TRACE(rule);
    Cantor_MixerPtr song = LoadRule(rule);
    ASSERT_TRUE(song);
    ASSERT_EQ(song->ActiveChannels, 8);
    const Cantor_Pattern& p = *song->Pattern[static_cast<size_t>(song->SongPattern[0])];
    // C-2 E-2 G-2 C-3 C-2 E-2 G-2 C-3 with samples 1 2 1 2 2 1 2 1 on line 0.
    const int32_t notes[8] = {48, 52, 55, 60, 48, 52, 55, 60};
    const int32_t inst[8] = {1, 2, 1, 2, 2, 1, 2, 1};
    for (int ch = 0; ch < 8; ++ch) {
      EXPECT_EQ(p.Track[static_cast<size_t>(ch)]->Note[0], notes[ch]) << "channel " << ch;
      EXPECT_EQ(p.Track[static_cast<size_t>(ch)]->Inst[0], inst[ch]) << "channel " << ch;
    }
    EXPECT_EQ(p.Track[7]->FX[16], 0xD);
  }
  // FLT8's second pattern (stored halves 2 and 3): C-3 on channel 1 only, a break in
  // channel 5.
  Cantor_MixerPtr flt8 = LoadRule("flt8");
  ASSERT_TRUE(flt8);
  const Cantor_Pattern& second = *flt8->Pattern[static_cast<size_t>(flt8->SongPattern[1])];
  for (int ch = 0; ch < 8; ++ch) {
    EXPECT_EQ(second.Track[static_cast<size_t>(ch)]->Note[0], ch == 0 ? 60 : 0) << "channel " << ch;
    EXPECT_EQ(second.Track[static_cast<size_t>(ch)]->FX[20], ch == 4 ? 0xD : 0) << "channel " << ch;
  }
}

// The track layout: each song position is a pattern of the four tracks it names.
TEST(ModRules, TrackLayout) {
  struct Case {
    const char* rule;
    int32_t notes[4], inst[4];  // line 0 of position 1
  };
  const Case cases[] = {{"ice", {52, 48, 0, 0}, {2, 1, 0, 0}}, {"ice_it10", {0, 0, 52, 48}, {0, 0, 2, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    Cantor_MixerPtr song = LoadRule(c.rule);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->ActiveChannels, 4);
    const Cantor_Pattern& p = *song->Pattern[static_cast<size_t>(song->SongPattern[1])];
    for (int ch = 0; ch < 4; ++ch) {
      EXPECT_EQ(p.Track[static_cast<size_t>(ch)]->Note[0], c.notes[ch]) << "channel " << ch;
      EXPECT_EQ(p.Track[static_cast<size_t>(ch)]->Inst[0], c.inst[ch]) << "channel " << ch;
    }
    // Both samples read from after the stored tracks.
    EXPECT_EQ(song->Instrument[2]->Sample[0]->Length, 4000);
  }
}

// Peak and RMS of each side over frames [from, to) of the song's render.
struct Level {
  double peakL = 0, peakR = 0, rmsL = 0, rmsR = 0;
};
Level Measure(Cantor_Mixer& song, int32_t from, int32_t to) {
  song.STREAM_LOOP = 0;
  song.Reset();
  song.PlayStatus = 1;
  std::vector<int16_t> pcm(2 * static_cast<size_t>(to), 0);
  song.FillBuffer(pcm.data(), to * 4);
  Level v;
  for (int32_t i = from; i < to; ++i) {
    const double l = pcm[2 * static_cast<size_t>(i)], r = pcm[2 * static_cast<size_t>(i) + 1];
    v.peakL = std::max(v.peakL, std::fabs(l));
    v.peakR = std::max(v.peakR, std::fabs(r));
    v.rmsL += l * l;
    v.rmsR += r * r;
  }
  v.rmsL = std::sqrt(v.rmsL / (to - from));
  v.rmsR = std::sqrt(v.rmsR / (to - from));
  return v;
}

// Samples whose loop reaches past their data: a start written in bytes is read as such,
// else the loop is cut at the sample's end.
TEST(ModRules, LoopsPastTheSample) {
  Cantor_MixerPtr song = LoadRule("loop_past_end");
  ASSERT_TRUE(song);
  const Cantor_Sample& a = *song->Instrument[1]->Sample[0];
  EXPECT_EQ(a.Loop, 1);
  EXPECT_EQ(a.LoopStart, 64);
  EXPECT_EQ(a.LoopStart + a.LoopLength, a.Length);
  const Cantor_Sample& b = *song->Instrument[2]->Sample[0];
  EXPECT_EQ(b.Loop, 1);
  EXPECT_EQ(b.LoopStart, 80);
  EXPECT_EQ(b.LoopStart + b.LoopLength, b.Length);
  // A Soundtracker wave looped from its middle, the start written in bytes: it keeps
  // sounding through its lines.
  Cantor_MixerPtr st = LoadRule("st15_loop_bytes");
  ASSERT_TRUE(st);
  const Cantor_Sample& c = *st->Instrument[1]->Sample[0];
  EXPECT_EQ(c.LoopStart, 32);
  EXPECT_EQ(c.LoopLength, 32);
  EXPECT_GT(Measure(*st, 6 * kLine, 7 * kLine).rmsL, 1000);
}

// One full-scale square wave: a MOD channel plays at the level the reference gives it
// (half scale shared 3:1 between the sides for a channel on its side, its share of four
// channels' headroom in files of more), and a pan set by an effect lasts, read in the
// range the song's pan values show.
TEST(ModRules, ChannelLevelAndPan) {
  struct Case {
    const char* rule;
    double rmsL, rmsR;  // openmpt123's render
  };
  const Case cases[] = {
      {"level_one", 12166, 4055},       // channel 1 of 4: left
      {"level_eight", 2028, 6083},      // channel 2 of 8: right, at half the level
      {"pan_center", 8111, 8111},       // 880 on channel 1, lasting for all lines
      {"pan_ignored", 4055, 12166},     // 820 alone: no pan, channel 2 stays right
      {"pan_half_range", 4055, 12166},  // 860 among values up to 0x7F: 0xC0
      {"pan_full_range", 10138, 6083},  // 860 in a song that also has 8FF: 0x60
      {"pan_fine", 11913, 4309},        // E84: 4 of 15
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    Cantor_MixerPtr song = LoadRule(c.rule);
    ASSERT_TRUE(song);
    const Level v = Measure(*song, kLine, 15 * kLine);
    EXPECT_NEAR(20 * std::log10(v.rmsL / c.rmsL), 0.0, 0.5);
    EXPECT_NEAR(20 * std::log10(v.rmsR / c.rmsR), 0.0, 0.5);
    EXPECT_LT(std::max(v.peakL, v.peakR), 32767);  // no clipping
  }
}

}  // namespace
