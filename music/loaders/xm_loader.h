#pragma once
// Loader of extended modules (multi-sample instruments with volume envelopes, packed
// patterns, delta-coded 8- and 16-bit samples).
#include "../player/song_player.h"

// A song, or null when the source does not start with the "Extended Module:" signature,
// cannot be opened or holds counts outside what the song tables can take. A stream
// source is read from its current position and closed after a successful load.
TMusicPtr LoadXM(const TMusicSource& source);
// True when the first bytes carry the "Extended Module:" signature. Allocates nothing.
bool ProbeXM(const uint8_t* head, size_t size);

// Limits applied to the counts an XM file supplies.
constexpr int32_t XM_MAX_CHANNELS = 64;      // more: the file is refused
constexpr int32_t XM_MAX_INSTRUMENTS = 255;  // more: the rest are not read
constexpr int32_t XM_MAX_PATTERNS = 256;     // stored patterns beyond are skipped
constexpr int32_t XM_MAX_LINES = 256;        // line counts are clamped to 1..256
constexpr int32_t XM_MAX_SAMPLES = 128;      // samples of an instrument beyond are skipped
// Pattern cells a song may hold when its file is smaller than that many bytes; more: the
// file is refused.
constexpr uint64_t XM_CELL_BUDGET = 1u << 16;
