#pragma once
// The song formats the engine reads, one record each: a name, a probe that judges the
// first bytes of a file, and the loader. The music registry is filled from this table,
// and loading a tracker song for a tool goes through it too.
#include <cstddef>
#include <cstdint>
#include <span>

#include <ormix/music/music.h>

struct TSongFormat {
  const char* name;          // short name: "wav", "mod", "xm", "qtk"
  const char16_t* title;     // for a file requester, e.g. Protracker ".mod"
  const char16_t* ext;       // file extension without the period
  bool tracker;              // a tracker song (a wave file is streamed as it is)
  TMusicProbeFunc probe;     // the first CantorLoader::ProbeBytes bytes (fewer at a short file)
  TMusicPtr (*load)(const TMusicSource& source);
};

// In registry order: the wave file first, then MOD, XM and the native format.
std::span<const TSongFormat> SongFormats();

// The table entry of `name`, or null.
const TSongFormat* FindSongFormat(const char* name);

// Adds the wave file's entry to the music registry (the streaming module's start-up).
void RegisterWaveMusicLoader();
// Adds the tracker formats' entries to the music registry, in the table's order.
void RegisterTrackerLoaders();
