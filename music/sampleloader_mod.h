#pragma once
// Loads any tracker song as a plain sound sample by rendering it whole.
#include <ormix/audio/audio.h>
#include <ormix/music/mixer.h>

class TAudioSampleLoaderMOD : public TAudioSampleLoader {
public:
  // The song's one-pass length rendered at its output rate as stereo 16-bit
  // little-endian; null for anything that does not load as a tracker song.
  TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream) override;
};

// Puts one TAudioSampleLoaderMOD at the head of the sample loader chain (once).
void RegisterSongSampleLoader();
