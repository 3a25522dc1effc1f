#pragma once
// Sound effects: PCM samples and their loaders, the audio driver registry, sounds (a
// sample prepared for a driver) and channels (voices).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ormix/runtime/text.h>
#include <ormix/stream/stream.h>

// Every driver's output: frames per second of 16-bit stereo.
constexpr int AUDIO_OUTPUT_RATE = 44100;

// Sample formats.
constexpr int SF_MONO8 = 1;       // unsigned
constexpr int SF_MONO16LE = 2;    // signed little-endian
constexpr int SF_MONO16BE = 3;    // signed big-endian
constexpr int SF_STEREO8 = 4;
constexpr int SF_STEREO16LE = 5;
constexpr int SF_STEREO16BE = 6;

// Bytes per frame and channels, indexed by format code (entry 0 is 0).
extern const int32_t BytesPerSample[7];
extern const int32_t ChannelsPerSample[7];
int32_t SampleBytes(int32_t format);     // 0 for codes outside 1..6
int32_t SampleChannels(int32_t format);  // 0 for codes outside 1..6

class TAudioSample;
using TAudioSamplePtr = std::shared_ptr<TAudioSample>;

class TAudioSample {
public:
  uint8_t* samples = nullptr;
  int32_t length = 0;  // frames
  int32_t hertz = 0;
  int32_t format = 0;
  int32_t capacity = 0;  // bytes owned, or -1 when wrapping caller memory
  std::unique_ptr<uint8_t[]> _owned;

  TAudioSamplePtr Copy() const;
  // Every conversion passes through stereo 16-bit big-endian; unknown codes throw
  // "Unimplemented sample format conversion".
  TAudioSamplePtr Convert(int32_t format) const;
  size_t ByteSize() const { return static_cast<size_t>(length) * static_cast<size_t>(SampleBytes(format)); }
};

TAudioSamplePtr NewAudioSample(int32_t length, int32_t hertz, int32_t format);
TAudioSamplePtr WrapAudioSample(void* samples, int32_t length, int32_t hertz, int32_t format);

// Loader chain (a TRegistry, newest first): constructing a loader puts it at the head, so
// the newest is tried first; destroying it takes it out.
class TAudioSampleLoader {
public:
  TAudioSampleLoader* _succ = nullptr;
  TAudioSampleLoader();
  virtual ~TAudioSampleLoader();
  // The stream is positioned where the sample starts; null when not this loader's format.
  virtual TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream) = 0;
};
TAudioSampleLoader* AudioSampleLoaders();

class TAudioSampleLoaderWAV : public TAudioSampleLoader {
public:
  TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream) override;
};

class TAudioSampleLoaderOGG : public TAudioSampleLoader {
public:
  TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream) override;
};

// Opens the source, refuses streams that cannot seek ("Stream is not seekable"), and
// asks each loader in turn. Null when the source does not open or no loader accepts it.
TAudioSamplePtr LoadAudioSample(const TStreamPtr& stream);
TAudioSamplePtr LoadAudioSample(const Text& url);
inline TAudioSamplePtr LoadAudioSample(const std::string& url) { return LoadAudioSample(ToText(url)); }
inline TAudioSamplePtr LoadAudioSample(const char* url) { return LoadAudioSample(ToText(url)); }

// What a sound can be loaded from: a ready sample, a stream or a URL.
struct TAudioSource {
  TAudioSamplePtr sample;
  TStreamPtr stream;
  Text url;
  TAudioSource(TAudioSamplePtr s) : sample(std::move(s)) {}
  TAudioSource(TStreamPtr s) : stream(std::move(s)) {}
  TAudioSource(const Text& u) : url(u) {}
  TAudioSource(const char16_t* u) : url(u) {}
  TAudioSource(const std::string& u) : url(ToText(u)) {}
  TAudioSource(const char* u) : url(ToText(u)) {}
  TAudioSamplePtr Load() const;
};

// Sound flags.
constexpr int SOUND_LOOP = 1;
constexpr int SOUND_HARDWARE = 2;

// A voice. The base class does nothing and reports 0.
class TChannel {
public:
  virtual ~TChannel() = default;
  virtual void Stop() {}
  virtual void SetPaused(int) {}
  virtual void SetVolume(float) {}
  virtual void SetPan(float) {}
  virtual void SetDepth(float) {}
  virtual void SetRate(float) {}
  virtual int Playing() { return 0; }
};
using TChannelPtr = std::shared_ptr<TChannel>;

class TSound;
using TSoundPtr = std::shared_ptr<TSound>;

// A sample prepared for one driver. The base class plays on new base channels.
class TSound {
public:
  virtual ~TSound() = default;
  // Starts the sound on `channel` (or a new one) and returns the channel it plays on.
  virtual TChannelPtr Play(const TChannelPtr& channel = nullptr);
  // Prepares it paused on `channel` (or a new one).
  virtual TChannelPtr Cue(const TChannelPtr& channel = nullptr);
  // `source` is a sample or is loaded with LoadAudioSample; made by the current driver.
  static TSoundPtr Load(const TAudioSource& source, int flags);
};

class TAudioStream;
class TAudioStreamSource;

// The base driver is the silent "Null" driver. Constructing a driver puts it at the head
// of the driver list.
class TAudioDriver {
public:
  TAudioDriver* _succ = nullptr;
  TAudioDriver();
  virtual ~TAudioDriver();
  virtual Text Name();
  virtual int Startup();
  virtual void Shutdown();
  virtual TSoundPtr CreateSound(const TAudioSamplePtr& sample, int flags);
  virtual TChannelPtr AllocChannel();
  virtual TSoundPtr LoadSound(const TAudioSource& source, int flags);
  // A streaming voice that plays `source` (<ormix/audio/audiostream.h>), started or
  // paused; null when the driver cannot stream (the Null driver never can).
  virtual std::shared_ptr<TAudioStream> CreateAudioStream(const std::shared_ptr<TAudioStreamSource>& source,
                                                          int32_t paused);
  // Waits (briefly, bounded) until what the driver was given has left the device, so
  // that closing the device next does not cut it: the software layers' lead and the
  // platform's buffers. Nothing to wait for on the Null driver or a device driven by hand.
  virtual void Drain();
};
TAudioDriver* AudioDrivers();

// Registers the sample loaders and the drivers (once).
void InitAudioModule();

std::vector<Text> ListAudioDrivers();
int HasAudioDriver(const Text& name);
int UseAudioDriver(const Text& name);
inline int HasAudioDriver(const char* name) { return HasAudioDriver(ToText(name)); }
inline int UseAudioDriver(const char* name) { return UseAudioDriver(ToText(name)); }
// The current driver; on first use "SoftAudio" is tried, then "Null".
TAudioDriver* CurrentAudioDriver();
// Streams that play out note it here; the current driver is drained before it shuts down
// (a driver switch, the end of the program) when one did so moments ago, so its last
// frames are heard.
void NoteStreamPlayedOut();
// The "Null" driver instance.
TAudioDriver* NullAudioDriver();
// OpenAL joins the list on request, as it opens the library and lists its devices:
// registers "OpenAL <device>" for every device and "OpenAL" for the default one; 1 when
// OpenAL is usable. Later calls return the first answer.
int RegisterOpenALDrivers();

TSoundPtr LoadSound(const TAudioSource& source, int flags = 0);
TChannelPtr StartSound(const TSoundPtr& sound, const TChannelPtr& channel = nullptr);
TChannelPtr PrepareSound(const TSoundPtr& sound, const TChannelPtr& channel = nullptr);
TChannelPtr AllocChannel();
void StopVoice(const TChannelPtr& channel);
int VoicePlaying(const TChannelPtr& channel);
void SetVoiceVolume(const TChannelPtr& channel, float volume);
void SetVoicePan(const TChannelPtr& channel, float pan);
void SetVoiceDepth(const TChannelPtr& channel, float depth);
void SetVoiceRate(const TChannelPtr& channel, float rate);
void PauseVoice(const TChannelPtr& channel);
void ResumeVoice(const TChannelPtr& channel);

// Converts the big-endian formats to their little-endian twins (3 -> 2, 6 -> 5); other
// samples are returned as they are.
TAudioSamplePtr LittleEndianSample(const TAudioSamplePtr& sample);
