// The table of song formats, from which the music registry is filled, and loading a
// tracker song through it.
#include "loader_table.h"

#include <cstring>

#include "../player/song_player.h"
#include "probed_source.h"
#include "mod_loader.h"
#include "qtk.h"
#include "wav_loader.h"
#include "xm_loader.h"
#include <ormix/music/song.h>
#include <ormix/stream/stream.h>

namespace {
const TSongFormat kFormats[] = {
    {"wav", u"Microsoft Wave \".wav\"", u"wav", false, ProbeWAV, LoadWAV},
    {"mod", u"Protracker \".mod\"", u"mod", true, ProbeMOD, LoadMOD},
    {"xm", u"Fasttracker \".xm\"", u"xm", true, ProbeXM, LoadXM},
    {"qtk", u"Cantor Module \".qtk\"", u"qtk", true, ProbeQTK, LoadQTK},
};

void RegisterFormat(const char* name) {
  const TSongFormat* f = FindSongFormat(name);
  CantorLoader::Create(f->load, f->title, f->ext, f->probe);
}
}  // namespace

std::span<const TSongFormat> SongFormats() { return kFormats; }

const TSongFormat* FindSongFormat(const char* name) {
  for (const TSongFormat& f : kFormats)
    if (std::strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

void RegisterWaveMusicLoader() { RegisterFormat("wav"); }

void RegisterTrackerLoaders() {
  for (const TSongFormat& f : kFormats)
    if (f.tracker) RegisterFormat(f.name);
}

TMusicPtr LoadTrackerSong(const TMusicSource& source, Text* format) {
  InitMusicBaseModule();
  InitTrackerTables();
  NoteName(0);
  if (format) format->clear();
  ClearMusicLoadRefusal();
  const TProbedSource probed(source);
  for (const TSongFormat& f : kFormats) {
    if (!probed.Accepts(f.probe)) continue;
    if (format && format->empty()) *format = ToText(f.name);
    if (!f.tracker) continue;
    probed.Rewind();
    if (TMusicPtr song = f.load(probed.source)) return song;
  }
  return nullptr;
}
