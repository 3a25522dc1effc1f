#pragma once
// The ring kind of audio stream, shared by the back ends that play a looping buffer.
#include <ormix/audio/audiostream.h>

// A looping ring of output bytes that a play cursor runs through; what the cursor has
// passed since the last tick is refilled. After the source ends the ring plays out what
// was written and the stream stops itself.
class TRingAudioStream : public TAudioStream {
public:
  int32_t finloop = 0;
  int32_t finpos = -1;
  int32_t finstart = 0;
  static constexpr int32_t FRAME_BYTES = 4;  // 16-bit stereo
  static constexpr int32_t RING_BYTES = AUDIO_OUTPUT_RATE * FRAME_BYTES * 3 / 4;  // 0.75 s

  void Update() override;

protected:
  // A new stream's start: joins the event hook, takes the source, starts it and fills
  // the whole ring from it.
  void StartRing(const TAudioStreamSourcePtr& source);
  virtual uint32_t PlayCursor() = 0;
  // Fills `bytes` at ring offset `offset` (wrapping) from the source, or with silence;
  // false when the ring could not be written.
  virtual bool WriteRing(uint32_t offset, uint32_t bytes, bool silence) = 0;
  virtual bool HasRing() const = 0;
  int32_t _lastplay = 0;  // play cursor at the previous tick
};
