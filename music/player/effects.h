#pragma once
// Effect numbers of the pattern cells (FX) and the sub-effects of FX_EXTENDED (the
// parameter's high digit), and the rules by which a song plays them.
#include <cstdint>

// How a song's records are played. Classic: the engine as first built (songs made in
// code or stored natively, and any song with the classic switch on). Mod and Xm: the
// meaning the MOD and XM formats give notes, envelopes, pans and effects.
enum class TPlayMode : int32_t { Classic, Mod, Xm };

enum : int32_t {
  FX_ARPEGGIO = 0,
  FX_PORTA_UP = 1,
  FX_PORTA_DOWN = 2,
  FX_TONE_PORTA = 3,
  FX_VIBRATO = 4,
  FX_TONE_PORTA_VOLSLIDE = 5,
  FX_VIBRATO_VOLSLIDE = 6,
  FX_TREMOLO = 7,
  FX_PAN = 8,
  FX_OFFSET = 9,
  FX_VOLSLIDE = 10,
  FX_JUMP = 11,            // sequencer
  FX_VOLUME = 12,
  FX_BREAK = 13,           // sequencer
  FX_EXTENDED = 14,
  FX_TIMING = 15,          // sequencer: speed below 32, tempo from 32
  FX_GLOBAL_VOLUME = 16,   // G
  FX_GLOBAL_VOLSLIDE = 17, // H
  FX_KEY_OFF = 20,         // K
  FX_ENVELOPE_POS = 21,    // L
  FX_PAN_SLIDE = 25,       // P
  FX_RETRIG = 27,          // R
  FX_TREMOR = 29,          // T
  FX_EXTRA_FINE_PORTA = 33 // X
};

enum : int32_t {
  EX_FINE_PORTA_UP = 1,
  EX_FINE_PORTA_DOWN = 2,
  EX_VIBRATO_WAVE = 4,
  EX_FINETUNE = 5,
  EX_PATTERN_LOOP = 6,     // sequencer
  EX_TREMOLO_WAVE = 7,
  EX_PAN = 8,
  EX_RETRIG = 9,
  EX_FINE_VOLSLIDE_UP = 10,
  EX_FINE_VOLSLIDE_DOWN = 11,
  EX_NOTE_CUT = 12,
  EX_NOTE_DELAY = 13,
  EX_PATTERN_DELAY = 14    // sequencer
};
