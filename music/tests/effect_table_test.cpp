// Effect commands that only show in what the channel produces: set volume, the two
// combined slides, waveform selection as commands, fine pan and fine volume. Each case is
// a small song on track 0; after the given number of ticks the channel's level, pitch or
// pan must be what the command produces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "music/player/song_player.h"
#include "song_fixture.h"

namespace {

constexpr double kSlide = Cantor_Channel::slidestep;
constexpr double kVolStep = Cantor_Channel::volumestep;

struct Row {
  int32_t line, note, inst, fx, fxv;
};

// What a case looks at on the channel once its ticks have run.
enum class Is { Volume, Note, Rate, Pan, LeftGain, RightGain, Tremolo };
struct Want {
  Is what;
  double value;
};

struct Case {
  const char* what;
  std::vector<Row> rows;
  int ticks;
  std::vector<Want> wants;
};

double Read(const Cantor_Channel& ch, Is what) {
  switch (what) {
    case Is::Volume: return ch.Volume;
    case Is::Note: return ch.Note;
    case Is::Rate: return ch.Add;
    case Is::Pan: return ch.Pan;
    case Is::LeftGain: return ch.LPanCalc;
    case Is::RightGain: return ch.RPanCalc;
    case Is::Tremolo: return ch.TremoloValue;
  }
  return 0;
}

// Vibrato at speed 8, depth 4 from a note on line 0; after that line its phase stands at 40.
const Row kVibratoNote{0, 77, 1, 4, 0x84};

TEST(EffectTable, LevelsPitchesAndPans) {
  const Case cases[] = {
      {"C20 sets the volume to 32/64", {{0, 77, 1, 12, 0x20}}, 1, {{Is::Volume, 0.5}}},
      {"C50 is held at full volume", {{0, 77, 1, 12, 0x50}}, 1, {{Is::Volume, 1.0}}},
      {"C00 silences", {{0, 77, 1, 12, 0x00}}, 1, {{Is::Volume, 0.0}}},
      // Line 1 sets the portamento speed (0.8 semitone a tick) at the note already playing;
      // line 2's 5 slides towards 62 and the volume up by 2/64 on every tick (the note is
      // not retriggered, so its first tick slides too).
      {"5 slides the pitch and the volume",
       {{0, 60, 1, 0, 0}, {1, 60, 0, 3, 0x11}, {2, 62, 0, 5, 0x20}},
       12 + 2,
       {{Is::Volume, 0.5 + 2 * 2 / 64.0}, {Is::Note, 61.6}}},
      {"5 reaches its target and slides the volume down",
       {{0, 60, 1, 0, 0}, {1, 60, 0, 3, 0x11}, {2, 62, 0, 5, 0x03}},
       18,
       {{Is::Volume, 0.5 - 6 * 3 / 64.0}, {Is::Note, 62.0}, {Is::Rate, std::exp2((62 - 77) / 12.0)}}},
      // 6 goes on with the vibrato (phase 40 on, wrapping past 64 to 16; the sine wave runs
      // over 65 steps) and slides the volume.
      {"6 keeps the vibrato and slides the volume",
       {kVibratoNote, {1, 0, 0, 6, 0x02}},
       12,
       {{Is::Volume, 0.5 - 6 * 2 / 64.0}, {Is::Rate, std::exp2(kSlide * std::sin(2 * M_PI * 16 / 65) * 4 / 12)}}},
      // E42 chooses the square wave; the next vibrato line uses it (square at phase 16: -1).
      {"E42 makes the later vibrato square",
       {kVibratoNote, {1, 0, 0, 14, 0x42}, {2, 0, 0, 4, 0x00}},
       18,
       {{Is::Rate, std::exp2(-4 * kSlide / 12)}}},
      // E72 chooses the square wave for tremolo: its first value is -1 at full depth.
      {"E72 makes the tremolo square",
       {{0, 77, 1, 14, 0x72}, {1, 0, 0, 7, 0x4F}},
       7,
       {{Is::Volume, 0.5}, {Is::Tremolo, -15 * kVolStep}}},
      {"E8C leaves the first tick alone",
       {{0, 77, 1, 14, 0x8C}},
       1,
       {{Is::Pan, 0.0}, {Is::LeftGain, 1.0}, {Is::RightGain, 1.0}}},
      {"E8C pans right of centre from the second tick",
       {{0, 77, 1, 14, 0x8C}},
       2,
       {{Is::Pan, 0.5}, {Is::LeftGain, 0.5}, {Is::RightGain, 1.0}}},
      {"E80 pans fully left",
       {{0, 77, 1, 14, 0x80}},
       3,
       {{Is::Pan, -1.0}, {Is::LeftGain, 1.0}, {Is::RightGain, 0.0}}},
      {"EA4 raises the volume once", {{0, 77, 1, 14, 0xA4}}, 6, {{Is::Volume, 0.5 + 4 / 64.0}}},
      {"EB4 lowers the volume once", {{0, 77, 1, 14, 0xB4}}, 6, {{Is::Volume, 0.5 - 4 / 64.0}}},
      {"EAF three times is held at full volume",
       {{0, 77, 1, 14, 0xAF}, {1, 0, 0, 14, 0xAF}, {2, 0, 0, 14, 0xAF}},
       13,
       {{Is::Volume, 1.0}}},
      {"EBF four times is held at silence",
       {{0, 77, 1, 14, 0xBF}, {1, 0, 0, 14, 0xBF}, {2, 0, 0, 14, 0xBF}, {3, 0, 0, 14, 0xBF}},
       19,
       {{Is::Volume, 0.0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto song = songfix::Song();
    auto sample = songfix::AddInstrument(*song, 1, 100000);
    sample->Volume = 0.5f;
    for (const Row& r : c.rows) songfix::Cell(*song, 0, 0, r.line, r.note, r.inst, 0, r.fx, r.fxv);
    for (int i = 0; i < c.ticks; ++i) song->Do_Player();
    const Cantor_Channel& ch = song->MMC_Channel[0];
    ASSERT_NE(ch.Add, 0.0) << "the note sounds";
    for (const Want& w : c.wants) EXPECT_NEAR(Read(ch, w.what), w.value, 1e-9) << static_cast<int>(w.what);
  }
}

}  // namespace
