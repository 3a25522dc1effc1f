// Start-up of the music modules: the registry list, the tracker's tables and the
// song loaders in their fixed order (wav, mod, xm, qtk).
#include <ormix/music/audiostream.h>
#include <ormix/music/mixer.h>
#include "mod_loader.h"
#include "qtk.h"
#include "sampleloader_mod.h"
#include "xm_loader.h"
#include <ormix/stream/stream.h>
#include <ormix/system/event.h>

namespace {
// The native format's registry entry: a stream is read directly, a URL is opened first.
TMusicPtr LoadQTK(const TMusicSource& source) {
  TStreamPtr stream = source.stream;
  if (!stream) {
    stream = OpenForReading(source.url);
    if (!stream) return nullptr;
  }
  return Cantor_Mixer::Load(stream);
}
}  // namespace

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
  CantorLoader::Create(LoadMOD, u"Protracker \".mod\"", u"mod");
  CantorLoader::Create(LoadXM, u"Fasttracker \".xm\"", u"xm");
  CantorLoader::Create(LoadQTK, u"Cantor Module \".qtk\"", u"qtk");
  // Every song format can also be loaded as a plain sound.
  RegisterSongSampleLoader();
}

Cantor_MixerPtr LoadTrackerSong(const TMusicSource& source) {
  InitMusicBaseModule();
  InitTrackerTables();
  NoteName(0);
  for (auto* load : {LoadMOD, LoadXM, LoadQTK}) {
    if (source.stream) source.stream->Seek(0);
    if (auto song = std::dynamic_pointer_cast<Cantor_Mixer>(load(source))) return song;
  }
  return nullptr;
}

void InitMusicModule() {
  InitMusicBaseModule();
  InitAudioStreamModule();
  InitTrackerModule();
}
