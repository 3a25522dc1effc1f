#pragma once
// Songs built in code for the engine tests.
#include <cstdint>
#include <vector>

#include "music/player/song_player.h"

namespace songfix {

// Instrument `number` of the song with one sample (every note plays it).
inline Cantor_SamplePtr AddInstrument(Cantor_Mixer& song, int32_t number, int32_t frames, int32_t value = 10000) {
  auto inst = std::make_shared<Cantor_Instrument>();
  auto sample = std::make_shared<Cantor_Sample>();
  sample->AllocData(frames);
  for (auto& v : sample->SoundData) v = value;
  inst->Sample[0] = sample;
  inst->SampleCount = 1;
  song.Instrument[static_cast<size_t>(number)] = inst;
  return sample;
}

// Writes one cell of track `track` of pattern `pattern`.
inline void Cell(Cantor_Mixer& song, int32_t pattern, int32_t track, int32_t line, int32_t note, int32_t inst = 0,
                 int32_t vol = 0, int32_t fx = 0, int32_t fxv = 0) {
  Cantor_Track& t = *song.Pattern[static_cast<size_t>(pattern)]->Track[static_cast<size_t>(track)];
  t.Note[static_cast<size_t>(line)] = note;
  t.Inst[static_cast<size_t>(line)] = inst;
  t.Vol[static_cast<size_t>(line)] = vol;
  t.FX[static_cast<size_t>(line)] = fx;
  t.FXV[static_cast<size_t>(line)] = fxv;
}

// A song whose order list plays `positions` positions, each naming pattern 0, unless
// `distinct` gives every position its own empty pattern.
inline Cantor_MixerPtr Song(int32_t positions = 1, bool distinct = false, int32_t lines = 64) {
  Cantor_MixerPtr song = CreateEmptySong();
  song->ActiveSongPatterns = positions - 1;
  song->Pattern[0] = Cantor_Pattern::Create(song.get(), 4, lines);
  for (int32_t p = 0; p < positions; ++p) {
    if (distinct) {
      song->Pattern[static_cast<size_t>(p)] = Cantor_Pattern::Create(song.get(), 4, lines);
      song->SongPattern[static_cast<size_t>(p)] = p;
    } else {
      song->SongPattern[static_cast<size_t>(p)] = 0;
    }
  }
  return song;
}

// Runs ticks until the current line is finished (or `limit` ticks ran); returns the
// number of ticks the line lasted.
inline int32_t RunLine(Cantor_Mixer& song, int32_t limit = 1000) {
  int32_t ticks = 0;
  do {
    song.Do_Player();
    ++ticks;
  } while (song.MMTick != 0 && ticks < limit);
  return ticks;
}

// Runs one tick of the song.
inline void Tick(Cantor_Mixer& song) { song.Do_Player(); }

}  // namespace songfix
