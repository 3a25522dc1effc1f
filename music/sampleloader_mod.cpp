// Rendering a whole song into a sound sample.
#include "sampleloader_mod.h"

#include <algorithm>
#include <string>

#include <ormix/runtime/errors.h>

TAudioSamplePtr TAudioSampleLoaderMOD::LoadAudioSample(const TStreamPtr& stream) {
  TMusicPtr music = LoadMusic(stream);
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(music);
  if (!song) return nullptr;
  const int32_t frames = song->Geti(MUSIC_ID_SIZE);
  if (frames > int64_t{_maxSeconds} * song->SAMPLE_RATE)
    throw TRuntimeException("song longer than " + std::to_string(_maxSeconds) +
                            " seconds: too long to load as a sound sample (play it as music)");
  TAudioSamplePtr sample = NewAudioSample(frames, song->SAMPLE_RATE, SF_STEREO16LE);
  if (!sample) return nullptr;
  song->PlayStatus = 1;
  // In pieces, so that no request size overflows however long the song is.
  constexpr int32_t piece = 1 << 20;
  for (int32_t done = 0; done < frames; done += piece) {
    const int32_t n = std::min(piece, frames - done);
    song->FillBuffer(sample->samples + static_cast<size_t>(done) * 4, n * 4);
  }
  return sample;
}

void RegisterSongSampleLoader() {
  static bool done = false;
  if (done) return;
  done = true;
  InitAudioModule();
  new TAudioSampleLoaderMOD;  // stays on the chain for the whole program
}
