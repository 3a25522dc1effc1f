// Start-up of the tracker module and of the whole music engine: the registry list, the
// tracker's tables and the song loaders in the table's order (wav, mod, xm, qtk).
#include <ormix/music/audiostream.h>
#include <ormix/music/music.h>
#include <ormix/system/event.h>

#include "loaders/loader_table.h"
#include "player/song_player.h"
#include "sampleloader_mod.h"

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
  RegisterTrackerLoaders();
  // Every song format can also be loaded as a plain sound.
  RegisterSongSampleLoader();
}

void InitMusicModule() {
  InitMusicBaseModule();
  InitAudioStreamModule();
  InitTrackerModule();
}
