#pragma once
// Music made audible: an audio stream is a playing channel that owns a ring of output
// buffers on the current audio back end and tops it up from a music's FillBuffer on every
// tick of a 120 Hz timer. Also the wave-file music, TWavStream, streamed from disk.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/audio/audio.h>
#include <ormix/music/music.h>
#include <ormix/system/event.h>
#include <ormix/system/timer.h>

// Back-end types the stream classes hold (defined in the audio library's own headers).
class TDSBuffer;
using TDSBufferPtr = std::shared_ptr<TDSBuffer>;
struct fa_sound;

// Pulls PCM from a music in its own format and rate and writes 44100 Hz 16-bit stereo.
// Songs that already produce that layout pass straight through; anything else (a 22050 Hz
// mono wave file, say) is converted and resampled by linear interpolation. Nothing is
// allocated while rendering.
class TMusicConverter {
public:
  TMusicConverter();
  void Render(TMusic& music, void* out, int32_t bytes);
  void Reset();

private:
  static constexpr int CHUNK = 1024;  // source frames per pull
  std::vector<uint8_t> _raw;
  std::vector<int16_t> _src;  // stereo frames, carried over between pulls
  int32_t _srcFrames = 0;
  uint64_t _pos = 0;  // 32.32 source frame position within _src
};

class TAudioStream : public TChannel, public std::enable_shared_from_this<TAudioStream> {
public:
  TMusicPtr Music;
  int32_t writepos = 0;
  int32_t paused = 0;
  int32_t samplerate = 44100;
  int32_t KeepMusic = 0;

  ~TAudioStream() override = default;
  // source: a music object (kept by the caller) or anything LoadMusic accepts (loaded
  // here and freed when the stream stops). Null when nothing loads or the current driver
  // gives no channel of a kind that can stream.
  static std::shared_ptr<TAudioStream> Create(const TMusicPtr& music, int32_t loop, int32_t paused);
  static std::shared_ptr<TAudioStream> Create(const TMusicSource& source, int32_t loop, int32_t paused);
  // The hook every stream puts on the event chain: a tick of the module's timer runs the
  // stream's Update. Returns data unchanged.
  static TObjectPtr eventhook(int id, const TObjectPtr& data, const TObjectPtr& context);
  virtual void Update() = 0;

protected:
  // Puts eventhook on the event chain with this stream as its context, which also keeps
  // the stream alive until it stops.
  void Attach();
  void Detach();
  void ReleaseMusic();
  // Writes `bytes` of output PCM from the music.
  void Render(void* out, int32_t bytes) { _conv.Render(*Music, out, bytes); }

  TMusicConverter _conv;
  bool _attached = false;
};
using TAudioStreamPtr = std::shared_ptr<TAudioStream>;

// A looping ring of output bytes that a play cursor runs through; what the cursor has
// passed since the last tick is refilled. After the music ends the ring plays out what
// was written and the stream stops itself.
class TRingAudioStream : public TAudioStream {
public:
  int32_t finloop = 0;
  int32_t finpos = -1;
  int32_t finstart = 0;
  static constexpr int32_t RING_BYTES = 132300;  // 0.75 s

  void Update() override;

protected:
  virtual uint32_t PlayCursor() = 0;
  // Fills `bytes` at ring offset `offset` (wrapping) from the music, or with silence;
  // false when the ring could not be written.
  virtual bool WriteRing(uint32_t offset, uint32_t bytes, bool silence) = 0;
  virtual bool HasRing() const = 0;
  int32_t _lastplay = 0;  // play cursor at the previous tick
};

class TDirectSoundAudioStream : public TRingAudioStream {
public:
  TDSBufferPtr pDSB;

  ~TDirectSoundAudioStream() override;
  static int32_t Startup();
  static void ShutDown();
  static std::shared_ptr<TDirectSoundAudioStream> Build(const TMusicPtr& music, int32_t paused);

  void Stop() override;
  void SetPaused(int p) override;
  void SetVolume(float v) override;
  void SetPan(float p) override;
  void SetRate(float r) override;
  int Playing() override;

protected:
  uint32_t PlayCursor() override;
  bool WriteRing(uint32_t offset, uint32_t bytes, bool silence) override;
  bool HasRing() const override { return pDSB != nullptr; }
};

class TSoftAudioAudioStream : public TRingAudioStream {
public:
  TChannelPtr _channel;     // the SoftAudio channel whose handle the ring voice uses
  int32_t _handle = 0;
  fa_sound* _ring = nullptr;

  ~TSoftAudioAudioStream() override;
  static std::shared_ptr<TSoftAudioAudioStream> Build(const TMusicPtr& music, int32_t paused,
                                                      const TChannelPtr& channel);
  void Stop() override;
  void SetPaused(int p) override;
  void SetVolume(float v) override;
  void SetPan(float p) override;
  void SetRate(float r) override;
  int Playing() override;

protected:
  uint32_t PlayCursor() override;
  bool WriteRing(uint32_t offset, uint32_t bytes, bool silence) override;
  bool HasRing() const override { return _ring != nullptr; }
};

class TOpenALAudioStream : public TAudioStream {
public:
  static constexpr int BUFFER_BYTES = 8192;
  int32_t _buffercount = 16;
  std::vector<unsigned> _buffers;
  std::vector<std::vector<uint8_t>> _bufferbanks;
  unsigned _source = 0;

  ~TOpenALAudioStream() override;
  static std::shared_ptr<TOpenALAudioStream> Build(const TMusicPtr& music, int32_t paused);
  void FillBuffer(int index);
  void Update() override;
  void Stop() override;
  void SetPaused(int p) override;
  void SetVolume(float v) override;
  void SetPan(float p) override;
  void SetRate(float r) override;
  int Playing() override;
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

// PlayMusic(music, loop, paused) is TAudioStream::Create.
TAudioStreamPtr PlayMusic(const TMusicPtr& music, int32_t loop = 0, int32_t paused = 0);
TAudioStreamPtr PlayMusic(const TMusicSource& source, int32_t loop = 0, int32_t paused = 0);

// DirectSound volume in hundredths of a decibel for a volume of 0..1.
int32_t StreamVolumeToDecibels(float volume);

// Starts the stream module once: the 120 Hz timer and the "wav" registry entry.
void InitAudioStreamModule();
// The module's timer (null before start-up or when no timer could be made).
TTimerPtr AudioStreamTimer();
