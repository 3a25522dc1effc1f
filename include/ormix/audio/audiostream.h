#pragma once
// Streaming voices: an audio stream is a playing channel that owns a ring of output
// buffers on the current driver and tops it up from its source on every tick of a 120 Hz
// timer. The driver makes them (TAudioDriver::CreateAudioStream), each back end its own
// kind; what they play comes from above (the music layer's PlayMusic).
#include <cstdint>
#include <memory>

#include <ormix/audio/audio.h>
#include <ormix/system/event.h>
#include <ormix/system/timer.h>

// What a stream plays: PCM in the output layout (AUDIO_OUTPUT_RATE, 16-bit stereo).
class TAudioStreamSource {
public:
  virtual ~TAudioStreamSource() = default;
  // Writes exactly `bytes` bytes (a whole number of frames); silence past the end.
  virtual void Render(void* out, int32_t bytes) = 0;
  // False once everything the source had has been rendered.
  virtual bool Playing() = 0;
  // Marks the source playing: when the stream starts and when a paused stream resumes.
  virtual void Start() = 0;
  // The stream lets go of the source; `free`: the stream owned what the source plays.
  virtual void Release(bool free) = 0;
};
using TAudioStreamSourcePtr = std::shared_ptr<TAudioStreamSource>;

class TAudioStream : public TChannel, public std::enable_shared_from_this<TAudioStream> {
public:
  TAudioStreamSourcePtr Music;  // what it plays; null once the stream has let go of it
  int32_t writepos = 0;
  int32_t paused = 0;
  int32_t samplerate = AUDIO_OUTPUT_RATE;
  int32_t KeepMusic = 0;  // 1: the caller keeps what is played; 0: freed when the stream stops

  ~TAudioStream() override = default;
  // The hook every stream puts on the event chain: a tick of the streams' timer runs the
  // stream's Update. Returns data unchanged.
  static TObjectPtr eventhook(int id, const TObjectPtr& data, const TObjectPtr& context);
  virtual void Update() = 0;

protected:
  // Puts eventhook on the event chain with this stream as its context, which also keeps
  // the stream alive until it stops.
  void Attach();
  void Detach();
  void ReleaseMusic();
  void Render(void* out, int32_t bytes) { Music->Render(out, bytes); }

  bool _attached = false;
};
using TAudioStreamPtr = std::shared_ptr<TAudioStream>;

// DirectSound volume in hundredths of a decibel for a volume of 0..1.
int32_t StreamVolumeToDecibels(float volume);

// Starts the streams' 120 Hz timer once (with the event and audio modules).
void StartAudioStreamTimer();
// The streams' timer (null before start-up or when no timer could be made).
TTimerPtr AudioStreamTimer();
