#pragma once
// Loader of one-to-thirty-two-channel MOD modules: the 31-sample layout, recognised by
// the format tag at byte 1080, and the old untagged 15-sample layout, recognised by
// sane sample headers and order table.
#include <cstddef>
#include <cstdint>

#include "../player/song_player.h"

// A song, or null when the source is not a MOD file of either layout (or cannot be
// opened). A stream source is read from its current position and closed after a
// successful load.
TMusicPtr LoadMOD(const TMusicSource& source);
// True when the first bytes of a file (up to 1084) could start a MOD song of either
// layout: a known format tag at byte 1080, or sane 15-sample headers. Allocates nothing.
bool ProbeMOD(const uint8_t* head, size_t size);

// Note index 0..107 of an Amiga period: the first table entry (highest period first)
// that is less than or equal to `period`; 0 when none is (periods below 14) and for
// periods of 6868 or more.
int32_t PeriodToNote(int32_t period);

// Tracker name and channel count of a four-character format tag; false for unknown tags.
bool ModFormatTag(const Text& tag, Text& trackerName, int32_t& channels);
