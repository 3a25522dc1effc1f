#pragma once
// The OpenAL stream: a source with a queue of buffers refilled as they are played.
#include <vector>

#include <ormix/audio/audiostream.h>

class TOpenALAudioStream : public TAudioStream {
public:
  static constexpr int BUFFER_BYTES = 8192;
  int32_t _buffercount = 16;
  std::vector<unsigned> _buffers;
  std::vector<std::vector<uint8_t>> _bufferbanks;
  unsigned _source = 0;

  ~TOpenALAudioStream() override;
  static std::shared_ptr<TOpenALAudioStream> Build(const TAudioStreamSourcePtr& source, int32_t paused);
  void FillBuffer(int index);
  void Update() override;
  void Stop() override;
  void SetPaused(int p) override;
  void SetVolume(float v) override;
  void SetPan(float p) override;
  void SetRate(float r) override;
  int Playing() override;
};
