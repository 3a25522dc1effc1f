#pragma once
// The native song format ("qtk"): Save and Load of every song record, declared as
// members of the records in model/song_model.h and player/song_player.h and defined in qtk.cpp.
//
// After the records the writer appends a block that the record layout cannot hold,
// so that a saved song loads back exactly as it was:
//   "QTKX", int version (1),
//   int n, n ints: the whole used order list (positions 0..ActiveSongPatterns),
//   int count, per instrument: int number, int InstrumentType, int m, m ints of the
//     note-to-sample map, int p, p ints: the full ticks of its envelope points,
//   int count, per cell whose note the record does not hold (outside its 16 bits,
//     or the XM file's lowest note, which the record stores as no note):
//     int pattern, int track, int line, int note.
// A file without the block loads as the record layout alone describes it.
#include "../player/song_player.h"

// Limits applied to the counts a native file supplies; larger counts refuse the file.
constexpr int32_t QTK_MAX_TABLE = 65536;     // MaxPatterns, MaxSequences, MaxInstruments
constexpr int32_t QTK_MAX_CHANNELS = 256;    // ActiveChannels
constexpr int32_t QTK_MAX_INT_TABLE = 65536; // VolEnvelope / PanEnvelope / point counts
constexpr int32_t QTK_MAX_SAMPLES = 128;     // sample table of an instrument

// True when the first bytes carry the native format's magic. Allocates nothing.
bool ProbeQTK(const uint8_t* head, size_t size);
// The native format's loader: a stream is read directly, a URL is opened first.
TMusicPtr LoadQTK(const TMusicSource& source);
