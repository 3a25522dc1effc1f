#pragma once
// The SoftAudio drivers: sounds and channels over the software mixer, fed to the
// platform through the wave-out device (mode 0), the DirectSound device (mode 1), or
// whichever of the two opens first (mode -1).
#include <ormix/audio/audio.h>
#include "softmixer.h"

class TSoftAudioChannel : public TChannel {
public:
  int32_t fa_channel = 0;  // mixer channel handle, 0 = none

  explicit TSoftAudioChannel(int32_t handle = 0) : fa_channel(handle) {}
  ~TSoftAudioChannel() override;
  void Stop() override;
  void SetPaused(int paused) override;
  void SetVolume(float volume) override;
  void SetPan(float pan) override;
  void SetDepth(float depth) override;
  void SetRate(float rate) override;
  int Playing() override;
  // The mixer's play position, in samples.
  int64_t Position();
};

class TSoftAudioSound : public TSound {
public:
  fa_sound* _fa = nullptr;

  ~TSoftAudioSound() override;
  TChannelPtr Play(const TChannelPtr& channel = nullptr) override;
  TChannelPtr Cue(const TChannelPtr& channel = nullptr) override;

private:
  TChannelPtr Start(const TChannelPtr& channel, int paused);
};

class TSoftAudioAudioDriver : public TAudioDriver {
public:
  Text _name;
  int _mode = -1;

  TSoftAudioAudioDriver(const Text& name, int mode) : _name(name), _mode(mode) {}
  Text Name() override { return _name; }
  int Startup() override;
  void Shutdown() override;
  TSoundPtr CreateSound(const TAudioSamplePtr& sample, int flags) override;
  TChannelPtr AllocChannel() override;
  std::shared_ptr<TAudioStream> CreateAudioStream(const std::shared_ptr<TAudioStreamSource>& source,
                                                  int32_t paused) override;
};
