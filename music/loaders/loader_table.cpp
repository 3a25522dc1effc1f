// The table of song formats and the start-up of the tracker module, which fills the
// music registry from it in the table's order.
#include "loader_table.h"

#include <cstring>

#include "../player/song_player.h"
#include "../music_source.h"
#include "../sampleloader_mod.h"
#include "mod_loader.h"
#include "qtk.h"
#include "wav_loader.h"
#include "xm_loader.h"
#include <ormix/music/audiostream.h>
#include <ormix/music/song.h>
#include <ormix/stream/stream.h>
#include <ormix/system/event.h>

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

void InitTrackerModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitMusicBaseModule();
  InitEventModule();
  // The streaming module's wave entry comes first in the registry.
  InitAudioStreamModule();
  InitTrackerTables();
  NoteName(0);  // builds the note-name table
  for (const TSongFormat& f : kFormats)
    if (f.tracker) RegisterFormat(f.name);
  // Every song format can also be loaded as a plain sound.
  RegisterSongSampleLoader();
}

TMusicPtr LoadTrackerSong(const TMusicSource& source, Text* format) {
  InitMusicBaseModule();
  InitTrackerTables();
  NoteName(0);
  if (format) format->clear();
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

void InitMusicModule() {
  InitMusicBaseModule();
  InitAudioStreamModule();
  InitTrackerModule();
}
