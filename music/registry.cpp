// Start-up of the music modules: the registry list, the tracker's tables and the
// song loaders in their fixed order (wav, mod, xm, qtk).
#include "music/mixer.h"
#include "stream/stream.h"
#include "system/event.h"

#if __has_include("music/mod_loader.h")
#include "music/mod_loader.h"
#define ORMIX_HAVE_MOD 1
#endif
#if __has_include("music/xm_loader.h")
#include "music/xm_loader.h"
#define ORMIX_HAVE_XM 1
#endif
#if __has_include("music/qtk.h")
#include "music/qtk.h"
#define ORMIX_HAVE_QTK 1
#endif
#if __has_include("music/audiostream.h")
#include "music/audiostream.h"
#define ORMIX_HAVE_AUDIOSTREAM 1
#endif
#if __has_include("music/sampleloader_mod.h")
#include "music/sampleloader_mod.h"
#define ORMIX_HAVE_SAMPLELOADER 1
#endif

#ifdef ORMIX_HAVE_QTK
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
#endif

void InitTrackerModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitMusicBaseModule();
  InitEventModule();
#ifdef ORMIX_HAVE_AUDIOSTREAM
  // The wave entry comes first in the registry.
  InitAudioStreamModule();
#endif
  InitTrackerTables();
  NoteName(0);  // builds the note-name table
#ifdef ORMIX_HAVE_MOD
  CantorLoader::Create(LoadMOD, u"Protracker \".mod\"", u"mod");
#endif
#ifdef ORMIX_HAVE_XM
  CantorLoader::Create(LoadXM, u"Fasttracker \".xm\"", u"xm");
#endif
#ifdef ORMIX_HAVE_QTK
  CantorLoader::Create(LoadQTK, u"Cantor Module \".qtk\"", u"qtk");
#endif
#ifdef ORMIX_HAVE_SAMPLELOADER
  RegisterSongSampleLoader();
#endif
}

void InitMusicModule() {
  InitMusicBaseModule();
#ifdef ORMIX_HAVE_AUDIOSTREAM
  InitAudioStreamModule();
#endif
  InitTrackerModule();
}
