#pragma once
// Music made audible: PlayMusic hands a music to a streaming voice of the current audio
// driver (<ormix/audio/audiostream.h>) through a converter to the output layout. Also the
// wave-file music, TWavStream, streamed from disk.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/audio/audiostream.h>
#include <ormix/music/music.h>

// Pulls PCM from a music in its own format and rate and writes AUDIO_OUTPUT_RATE 16-bit
// stereo. Songs that already produce that layout pass straight through; anything else (a
// 22050 Hz mono wave file, say) is converted and resampled by linear interpolation.
// Nothing is allocated while rendering.
class TMusicConverter {
public:
  TMusicConverter();
  void Render(TMusic& music, void* out, int32_t bytes);
  void Reset();
  // True while frames the music produced before it stopped are still to be written.
  bool Pending() const;

private:
  static constexpr int CHUNK = 1024;  // source frames per pull
  std::vector<uint8_t> _raw;
  std::vector<int16_t> _src;  // stereo frames, carried over between pulls
  int32_t _srcFrames = 0;
  int32_t _live = 0;  // frames at the front of _src pulled from the music while it played
  uint64_t _pos = 0;  // 32.32 source frame position within _src
};

// An uncompressed PCM wave file (8 or 16 bits, mono or stereo) played from its stream.
class TWavStream : public TMusic {
public:
  TStreamPtr stream;
  int32_t samples = 0;
  int32_t size = 0;
  int32_t loopseek = 0;

  static std::shared_ptr<TWavStream> Load(const TMusicSource& source);
  int32_t FillBuffer(void* buffer, int32_t size) override;
  void Stop();
  void Free() override {}
};

// Plays a music (kept by the caller) or anything LoadMusic accepts (loaded here and freed
// when the stream stops) on a streaming voice of the current driver, looping or not,
// started or paused. Null when nothing loads or the driver cannot stream.
TAudioStreamPtr PlayMusic(const TMusicPtr& music, int32_t loop = 0, int32_t paused = 0);
TAudioStreamPtr PlayMusic(const TMusicSource& source, int32_t loop = 0, int32_t paused = 0);

// Starts the stream module once: the streams' timer and the "wav" registry entry.
void InitAudioStreamModule();
