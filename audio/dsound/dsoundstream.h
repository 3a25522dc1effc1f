#pragma once
// The DirectSound stream: a looping secondary buffer on a device of the streams' own.
#include "../ringstream.h"
#include "../dslayer.h"

class TDirectSoundAudioStream : public TRingAudioStream {
public:
  TDSBufferPtr pDSB;

  ~TDirectSoundAudioStream() override;
  static int32_t Startup();
  static void ShutDown();
  static std::shared_ptr<TDirectSoundAudioStream> Build(const TAudioStreamSourcePtr& source, int32_t paused);

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
