#pragma once
// The "DirectSound" audio driver: one static secondary buffer per sound, duplicated when
// all of a sound's buffers are busy, with generations that make old channels inert.
#include <memory>

#include <ormix/audio/audio.h>
#include "../dslayer.h"

class TDirectSoundAudioDriver;
class TDirectSoundSound;

// One platform buffer of a sound's chain.
class TBuf {
public:
  std::shared_ptr<TBuf> _succ;
  TDSBufferPtr _buffer;
  int32_t _seq = 0;  // generation of its binding
  int _paused = 0;
  // 1 while marked paused, else the buffer's playing bit; a failing status query throws
  // "DirectSound failed (N)".
  int Active();
};
using TBufPtr = std::shared_ptr<TBuf>;

class TDirectSoundChannel : public TChannel {
public:
  float _volume = 1.0f;
  float _pan = 0.0f;
  float _rate = 1.0f;
  int _static = 0;
  std::shared_ptr<TDirectSoundSound> _sound;
  TBufPtr _buf;
  int32_t _seq = 0;
  int32_t _hertz = 0;
  uint32_t _playFlags = 0;

  ~TDirectSoundChannel() override;
  // Binds the channel to a free buffer of the sound, paused at the start; 0 on failure.
  int Cue(const std::shared_ptr<TDirectSoundSound>& sound);
  int Bound() const;

  void Stop() override;
  void SetPaused(int paused) override;
  void SetVolume(float volume) override;
  void SetPan(float pan) override;
  void SetDepth(float) override {}
  void SetRate(float rate) override;
  int Playing() override;

private:
  void Unbind();
  uint32_t Frequency() const;
};

class TDirectSoundSound : public TSound, public std::enable_shared_from_this<TDirectSoundSound> {
public:
  int32_t _seq = 0;  // driver generation it was made in
  TDSBufferPtr _buffer;
  int32_t _hertz = 0;
  int _loop = 0;
  TBufPtr _bufs;

  ~TDirectSoundSound() override;
  TChannelPtr Play(const TChannelPtr& channel = nullptr) override;
  TChannelPtr Cue(const TChannelPtr& channel = nullptr) override;
};

class TDirectSoundAudioDriver : public TAudioDriver {
public:
  Text _name;
  int _mode = 0;
  TDSDevicePtr _dsound;
  TBufPtr _lonely;

  TDirectSoundAudioDriver(const Text& name, int mode) : _name(name), _mode(mode) {}
  Text Name() override { return _name; }
  int Startup() override;
  void Shutdown() override;
  TSoundPtr CreateSound(const TAudioSamplePtr& sample, int flags) override;
  TChannelPtr AllocChannel() override;
  std::shared_ptr<TAudioStream> CreateAudioStream(const std::shared_ptr<TAudioStreamSource>& source,
                                                  int32_t paused) override;
  // Releases every lonely buffer that has finished.
  void FlushLonely();
};

// The module's generation counter (bumped by every shut-down) and its started driver.
int32_t DirectSoundGeneration();
TDirectSoundAudioDriver* ActiveDirectSoundDriver();
