#pragma once
// A waveform-audio output device over the platform audio output: headers of 16-bit
// stereo PCM at the output rate are played in the order written, a header flagged begin-loop and
// end-loop repeats `loops` times, and the position counts the bytes played since the
// device was opened or last reset.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "../audiooutput.h"

constexpr int32_t MMSYSERR_NOERROR = 0;
constexpr int32_t MMSYSERR_ERROR = 1;
constexpr int32_t MMSYSERR_INVALHANDLE = 5;
constexpr int32_t MMSYSERR_NODRIVER = 6;
constexpr int32_t MMSYSERR_INVALPARAM = 11;
constexpr int32_t WAVERR_BADFORMAT = 32;
constexpr int32_t WAVERR_UNPREPARED = 34;

constexpr uint32_t WHDR_DONE = 0x1;
constexpr uint32_t WHDR_PREPARED = 0x2;
constexpr uint32_t WHDR_BEGINLOOP = 0x4;
constexpr uint32_t WHDR_ENDLOOP = 0x8;
constexpr uint32_t WHDR_INQUEUE = 0x10;

struct TWaveHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;
  uint32_t flags = 0;
  uint32_t loops = 0;
};

class TWaveOut : public TAudioOutputClient {
public:
  // Opens the default output for `format` (only PCM 2 x 16 bits at the output rate is
  // accepted). Returns MMSYSERR_NOERROR and the device, or an error code.
  static int32_t Open(std::unique_ptr<TWaveOut>& device, const TWaveFormat& format);
  ~TWaveOut() override;

  int32_t PrepareHeader(TWaveHeader* header);
  int32_t UnprepareHeader(TWaveHeader* header);
  // Queues a prepared header for playing.
  int32_t Write(TWaveHeader* header);
  // Stops playing, marks every queued header done and sets the position to 0.
  int32_t Reset();
  // Bytes played since opening or the last reset.
  int32_t GetPosition(uint32_t* bytes);
  int32_t Close();

  void MixOutput(int32_t* acc, int frames) override;

private:
  TWaveOut() = default;
  bool _open = false;
  std::deque<TWaveHeader*> _queue;  // guarded by the output lock
  uint32_t _offset = 0;             // byte offset in the front header
  uint32_t _loopsLeft = 0;
  std::atomic<uint32_t> _played{0};
};
