#pragma once
// The one platform audio output: AUDIO_OUTPUT_RATE, 16-bit stereo, pulled by SDL's audio callback.
// Output devices (the wave-out ring, the DirectSound-like buffer layer) register as
// clients; the callback asks each client to add its frames to a 32-bit accumulator and
// converts the sum to 16-bit samples with clipping.
#include <cstdint>
#include <functional>

#include <ormix/audio/audio.h>

constexpr int AUDIO_OUTPUT_CHANNELS = 2;
// Frames per callback (about 11.6 ms).
constexpr int AUDIO_OUTPUT_FRAMES = 512;

// PCM format description shared by the wave-out and DirectSound-like layers.
constexpr uint16_t WAVE_FORMAT_PCM = 1;
struct TWaveFormat {
  uint16_t formatTag = WAVE_FORMAT_PCM;
  uint16_t channels = 2;
  uint32_t samplesPerSec = AUDIO_OUTPUT_RATE;
  uint32_t avgBytesPerSec = AUDIO_OUTPUT_RATE * 4;
  uint16_t blockAlign = 4;
  uint16_t bitsPerSample = 16;
};

class TAudioOutputClient {
public:
  virtual ~TAudioOutputClient() = default;
  // Adds `frames` interleaved stereo frames to acc (2 x frames entries). Runs on the
  // audio thread.
  virtual void MixOutput(int32_t* acc, int frames) = 0;
};

// Registers a client, opening the platform output when it is the first one. Returns
// false (and registers nothing) when no audio output can be opened.
bool AudioOutputAttach(TAudioOutputClient* client);
// Unregisters a client; when it returns, the callback no longer runs the client. The
// platform output is closed with the last client.
void AudioOutputDetach(TAudioOutputClient* client);
// True when the platform output can be opened at all (an SDL audio driver initialises).
bool AudioOutputAvailable();

// Lockstep output, for captures that must not depend on thread scheduling: the feeders
// that keep an output client ahead of the play position (the software mixer's wave-out
// timer and DirectSound thread) register a step instead of starting a thread, and the
// output runs every step before each block it mixes. On while AudioOutputSetLockstep(true)
// or ORMIX_AUDIO_LOCKSTEP=1; feeders read it when they open. With SDL's disk driver and
// SDL_DISKAUDIODELAY=0 a whole capture is then rendered as fast as it can be mixed.
void AudioOutputSetLockstep(bool on);
bool AudioOutputLockstep();
void AudioOutputAddStep(const void* owner, std::function<void()> step);
void AudioOutputRemoveStep(const void* owner);
// Driven by hand (implies lockstep): no platform output is open (turning it on closes the
// one open, turning it off opens it again for the clients still attached), clients attach,
// and the caller renders each block with AudioOutputRender (interleaved 16-bit stereo).
void AudioOutputSetManual(bool on);
void AudioOutputRender(int16_t* out, int frames);

// Waits (at most maxMillis) until the platform output has played `frames` more frames
// than when it was called, so that what the clients held and the device's own buffers
// are heard before the output closes. Returns at once when no platform output is open
// (none attached, or driven by hand).
void AudioOutputDrain(int frames, int maxMillis);

// Runs fn while the audio callback is held off (short critical sections that change
// what clients mix).
class TAudioOutputLock {
public:
  TAudioOutputLock();
  ~TAudioOutputLock();
  TAudioOutputLock(const TAudioOutputLock&) = delete;
  TAudioOutputLock& operator=(const TAudioOutputLock&) = delete;
};
