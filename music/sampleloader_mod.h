#pragma once
// Loads any tracker song as a plain sound sample by rendering it whole.
#include <ormix/audio/audio.h>
#include "player/song_player.h"

// Longest song rendered into a sound sample: ten minutes, about 100 MiB of 44100 Hz
// 16-bit stereo. A longer song is meant to be streamed (PlayMusic), not held in memory.
constexpr int32_t SONG_SAMPLE_MAX_SECONDS = 600;

class TAudioSampleLoaderMOD : public TAudioSampleLoader {
public:
  // maxSeconds: the longest song this loader renders (a caller that wants only short
  // sounds can refuse longer ones before any rendering).
  explicit TAudioSampleLoaderMOD(int32_t maxSeconds = SONG_SAMPLE_MAX_SECONDS) : _maxSeconds(maxSeconds) {}
  // The song's one-pass length rendered at its output rate as stereo 16-bit
  // little-endian; null for anything that does not load as a tracker song. A song
  // longer than the loader's limit throws TRuntimeException saying so.
  TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream) override;

private:
  int32_t _maxSeconds;
};

// Puts one TAudioSampleLoaderMOD at the head of the sample loader chain (once).
void RegisterSongSampleLoader();
