// Rendering a whole song into a sound sample.
#include "music/sampleloader_mod.h"

TAudioSamplePtr TAudioSampleLoaderMOD::LoadAudioSample(const TStreamPtr& stream) {
  TMusicPtr music = LoadMusic(stream);
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(music);
  if (!song) return nullptr;
  const int32_t frames = song->Geti(1);
  TAudioSamplePtr sample = NewAudioSample(frames, song->SAMPLE_RATE, SF_STEREO16LE);
  if (!sample) return nullptr;
  song->PlayStatus = 1;
  if (frames > 0) song->FillBuffer(sample->samples, frames * 4);
  return sample;
}

void RegisterSongSampleLoader() {
  static bool done = false;
  if (done) return;
  done = true;
  InitAudioModule();
  new TAudioSampleLoaderMOD;  // stays on the chain for the whole program
}
