#pragma once
// The SoftAudio stream: a looping ring voice of the software mixer.
#include "../ringstream.h"
#include "softmixer.h"

class TSoftAudioAudioStream : public TRingAudioStream {
public:
  TChannelPtr _channel;  // the SoftAudio channel whose handle the ring voice uses
  int32_t _handle = 0;
  fa_sound* _ring = nullptr;

  ~TSoftAudioAudioStream() override;
  static std::shared_ptr<TSoftAudioAudioStream> Build(const TAudioStreamSourcePtr& source, int32_t paused,
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
