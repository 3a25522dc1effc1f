#pragma once
// OpenAL, loaded at run time from libopenal.so.1 with its entry points looked up by
// name, and the OpenAL audio drivers over it. The constants carry an OAL_ prefix so this
// header can sit beside the library's own headers.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/audio/audio.h>

constexpr int OAL_NONE = 0;
constexpr int OAL_FALSE = 0;
constexpr int OAL_TRUE = 1;
constexpr int OAL_SOURCE_RELATIVE = 0x202;
constexpr int OAL_PITCH = 0x1003;
constexpr int OAL_POSITION = 0x1004;
constexpr int OAL_DIRECTION = 0x1005;
constexpr int OAL_VELOCITY = 0x1006;
constexpr int OAL_LOOPING = 0x1007;
constexpr int OAL_BUFFER = 0x1009;
constexpr int OAL_GAIN = 0x100A;
constexpr int OAL_SOURCE_STATE = 0x1010;
constexpr int OAL_INITIAL = 0x1011;
constexpr int OAL_PLAYING = 0x1012;
constexpr int OAL_PAUSED = 0x1013;
constexpr int OAL_STOPPED = 0x1014;
constexpr int OAL_BUFFERS_QUEUED = 0x1015;
constexpr int OAL_BUFFERS_PROCESSED = 0x1016;
constexpr int OAL_ROLLOFF_FACTOR = 0x1021;
constexpr int OAL_SAMPLE_OFFSET = 0x1025;
constexpr int OAL_FORMAT_MONO8 = 0x1100;
constexpr int OAL_FORMAT_MONO16 = 0x1101;
constexpr int OAL_FORMAT_STEREO8 = 0x1102;
constexpr int OAL_FORMAT_STEREO16 = 0x1103;
constexpr int OALC_DEFAULT_DEVICE_SPECIFIER = 0x1004;
constexpr int OALC_DEVICE_SPECIFIER = 0x1005;
constexpr int OALC_DEFAULT_ALL_DEVICES_SPECIFIER = 0x1012;
constexpr int OALC_ALL_DEVICES_SPECIFIER = 0x1013;

// The library's entry points. Devices and contexts are opaque.
struct TOpenALApi {
  void* (*alcOpenDevice)(const char* name);
  char (*alcCloseDevice)(void* device);
  void* (*alcCreateContext)(void* device, const int* attributes);
  char (*alcMakeContextCurrent)(void* context);
  void (*alcDestroyContext)(void* context);
  const char* (*alcGetString)(void* device, int param);
  char (*alcIsExtensionPresent)(void* device, const char* name);
  int (*alcGetError)(void* device);

  int (*alGetError)();
  void (*alDistanceModel)(int model);
  void (*alGenBuffers)(int n, unsigned* buffers);
  void (*alDeleteBuffers)(int n, const unsigned* buffers);
  void (*alBufferData)(unsigned buffer, int format, const void* data, int size, int freq);
  void (*alGenSources)(int n, unsigned* sources);
  void (*alDeleteSources)(int n, const unsigned* sources);
  void (*alSourcei)(unsigned source, int param, int value);
  void (*alSourcef)(unsigned source, int param, float value);
  void (*alSource3f)(unsigned source, int param, float a, float b, float c);
  void (*alGetSourcei)(unsigned source, int param, int* value);
  void (*alSourcePlay)(unsigned source);
  void (*alSourceStop)(unsigned source);
  void (*alSourcePause)(unsigned source);
  void (*alSourceRewind)(unsigned source);
  void (*alSourceQueueBuffers)(unsigned source, int n, const unsigned* buffers);
  void (*alSourceUnqueueBuffers)(unsigned source, int n, unsigned* buffers);
  // The loopback extension (null when the library lacks it): a device rendered on demand.
  void* (*alcLoopbackOpenDeviceSOFT)(const char* name);
  void (*alcRenderSamplesSOFT)(void* device, void* buffer, int frames);
};

// Loads the library once; null when it or any entry point is missing.
const TOpenALApi* OpenALApi();

class TOpenALSound;

// A pooled source.
class TOpenALSource {
public:
  std::shared_ptr<TOpenALSource> _succ;
  unsigned _id = 0;
  int32_t _seq = 0;
  TOpenALSound* _sound = nullptr;
  int _pinned = 0;  // held by a channel made by AllocChannel
  int _cued = 0;    // cued and not started yet
  int InUse() const;
};
using TOpenALSourcePtr = std::shared_ptr<TOpenALSource>;

class TOpenALChannel : public TChannel {
public:
  TOpenALSourcePtr _source;
  int32_t _seq = 0;
  int32_t _generation = 0;  // driver generation it was made in
  int _static = 0;

  ~TOpenALChannel() override;
  int Bound() const;
  // Takes a source from the pool (or a new one) and resets it.
  int Acquire();
  int Cue(TOpenALSound* sound);
  void Stop() override;
  void SetPaused(int paused) override;
  void SetVolume(float volume) override;
  void SetPan(float pan) override;
  void SetDepth(float) override {}
  void SetRate(float rate) override;
  int Playing() override;
};

class TOpenALSound : public TSound {
public:
  unsigned _buffer = 0;
  int _loop = 0;
  int32_t _generation = 0;

  ~TOpenALSound() override;
  TChannelPtr Play(const TChannelPtr& channel = nullptr) override;
  TChannelPtr Cue(const TChannelPtr& channel = nullptr) override;
};

class TOpenALAudioDriver : public TAudioDriver {
public:
  Text _name;
  std::string _devname;
  void* _device = nullptr;
  void* _context = nullptr;
  TOpenALSourcePtr _sources;  // the pool

  bool _loopback = false;  // renders only when asked (OpenALRenderLoopback), at 44100 Hz stereo

  TOpenALAudioDriver(const Text& name, const std::string& devname) : _name(name), _devname(devname) {}
  Text Name() override { return _name; }
  int Startup() override;
  void Shutdown() override;
  TSoundPtr CreateSound(const TAudioSamplePtr& sample, int flags) override;
  TChannelPtr AllocChannel() override;
  std::shared_ptr<TAudioStream> CreateAudioStream(const std::shared_ptr<TAudioStreamSource>& source,
                                                  int32_t paused) override;
  // The device's own buffers (a few mixing periods) are given time to play.
  void Drain() override;
};

// The started OpenAL driver, or null.
TOpenALAudioDriver* ActiveOpenALDriver();
// Renders `frames` 16-bit stereo frames from the started driver when it is a loopback
// driver (a capture whose clock is the caller); 0 when there is none.
int OpenALRenderLoopback(int16_t* out, int frames);
int32_t OpenALGeneration();
