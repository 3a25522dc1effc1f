// The public face of a tracker song: its summary and native saving for tools.
#include <ormix/music/song.h>

#include "player/song_player.h"

bool GetSongSummary(TMusic& music, TSongSummary& out) {
  auto* song = dynamic_cast<Cantor_Mixer*>(&music);
  if (!song) return false;
  out.format = song->TrackerName;
  out.title = song->SongName;
  out.channels = song->ActiveChannels;
  out.orders = song->ActiveSongPatterns + 1;
  out.patterns = 0;
  for (const auto& p : song->Pattern)
    if (p) ++out.patterns;
  out.instruments = song->ActiveSamples;
  out.lengthFrames = song->Geti(MUSIC_ID_SIZE);
  return true;
}

int32_t SaveSong(TMusic& music, const TStreamPtr& stream) {
  auto* song = dynamic_cast<Cantor_Mixer*>(&music);
  if (!song || !stream) return 0;
  song->Save(stream);
  return 1;
}
