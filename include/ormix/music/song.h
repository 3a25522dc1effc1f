#pragma once
// What a tool may know of a tracker song without reaching into the engine: a small
// read-only summary, loading a song without the audio side, and saving it in the native
// format. Playing, rendering and the song's properties go through TMusic (music.h).
#include <cstdint>

#include <ormix/music/music.h>

struct TSongSummary {
  Text format;              // the tracker or format that made the file
  Text title;
  int32_t channels = 0;
  int32_t orders = 0;       // used order positions
  int32_t patterns = 0;     // patterns present
  int32_t instruments = 0;  // number of the last instrument
  int32_t lengthFrames = 0; // one pass at the music's output rate and playback mode
};

// Fills `out` when `music` is a tracker song (measuring its length if it has not been
// measured at its current rate and mode); false for any other music.
bool GetSongSummary(TMusic& music, TSongSummary& out);

// Loads a MOD, XM or native song without the audio side of the music engine (no audio
// driver, device or streaming timer is started): for offline rendering and inspection.
// Null for anything else. The source is opened once; `format`, when given, receives the
// short name of the first format whose probe took the file's first bytes ("mod", "xm",
// "qtk", or "wav" for a wave file), empty when none did.
TMusicPtr LoadTrackerSong(const TMusicSource& source, Text* format = nullptr);

// Writes a tracker song in the native format: 1, or 0 when `music` is not a tracker song.
int32_t SaveSong(TMusic& music, const TStreamPtr& stream);
