#pragma once
// A DirectSound-like buffer layer: a device object hands out secondary buffers held in
// main memory (PCM 8/16-bit, mono/stereo, any rate), each with a frequency, a volume in
// hundredths of a decibel (-10000..0), a pan (-10000..10000), one-shot or looping play,
// play and write cursors, status bits, two-region lock/unlock, duplication and position
// notifications. Every playing buffer of every device is resampled and mixed in
// software into the platform audio output. Calls return DS_OK or a DSERR_ code.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audiooutput.h"

constexpr int32_t DS_OK = 0;
constexpr int32_t DSERR_GENERIC = static_cast<int32_t>(0x80004005u);
constexpr int32_t DSERR_INVALIDPARAM = static_cast<int32_t>(0x80070057u);
constexpr int32_t DSERR_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t DSERR_ALLOCATED = static_cast<int32_t>(0x8878000Au);
constexpr int32_t DSERR_CONTROLUNAVAIL = static_cast<int32_t>(0x8878001Eu);
constexpr int32_t DSERR_INVALIDCALL = static_cast<int32_t>(0x88780032u);
constexpr int32_t DSERR_PRIOLEVELNEEDED = static_cast<int32_t>(0x88780046u);
constexpr int32_t DSERR_BADFORMAT = static_cast<int32_t>(0x88780064u);
constexpr int32_t DSERR_NODRIVER = static_cast<int32_t>(0x88780078u);
constexpr int32_t DSERR_BUFFERLOST = static_cast<int32_t>(0x88780096u);
constexpr int32_t DSERR_UNINITIALIZED = static_cast<int32_t>(0x887800AAu);

constexpr uint32_t DSSCL_NORMAL = 1;
constexpr uint32_t DSSCL_PRIORITY = 2;
constexpr uint32_t DSSCL_EXCLUSIVE = 3;
constexpr uint32_t DSSCL_WRITEPRIMARY = 4;

constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t DSBCAPS_STATIC = 0x2;
constexpr uint32_t DSBCAPS_LOCHARDWARE = 0x4;
constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x8;
constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr uint32_t DSBCAPS_CTRLPAN = 0x40;
constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x80;
constexpr uint32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

constexpr uint32_t DSBPLAY_LOOPING = 0x1;
constexpr uint32_t DSBSTATUS_PLAYING = 0x1;
constexpr uint32_t DSBSTATUS_BUFFERLOST = 0x2;
constexpr uint32_t DSBSTATUS_LOOPING = 0x4;
constexpr uint32_t DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr uint32_t DSBLOCK_ENTIREBUFFER = 0x2;

constexpr int32_t DSBVOLUME_MIN = -10000;
constexpr int32_t DSBVOLUME_MAX = 0;
constexpr int32_t DSBPAN_LEFT = -10000;
constexpr int32_t DSBPAN_RIGHT = 10000;
constexpr uint32_t DSBFREQUENCY_ORIGINAL = 0;
constexpr uint32_t DSBFREQUENCY_MIN = 100;
constexpr uint32_t DSBFREQUENCY_MAX = 200000;
constexpr uint32_t DSBSIZE_MIN = 4;
constexpr uint32_t DSBSIZE_MAX = 0x0FFFFFFF;
constexpr uint32_t DSBPN_OFFSETSTOP = 0xFFFFFFFF;

// An auto-reset event: Set wakes one waiter (or the next one to wait).
class TDSEvent {
public:
  explicit TDSEvent(std::string name = "") : _name(std::move(name)) {}
  void Set();
  // True when signalled within `millis`, false on time-out.
  bool Wait(uint32_t millis);
  const std::string& Name() const { return _name; }

private:
  std::string _name;
  std::mutex _m;
  std::condition_variable _cv;
  bool _signalled = false;
};
using TDSEventPtr = std::shared_ptr<TDSEvent>;

struct TDSBufferDesc {
  uint32_t flags = 0;
  uint32_t bufferBytes = 0;
  const TWaveFormat* format = nullptr;
};

struct TDSPositionNotify {
  uint32_t offset = 0;  // byte offset, or DSBPN_OFFSETSTOP
  TDSEventPtr event;
};

class TDSDevice;
class TDSBuffer;
using TDSDevicePtr = std::shared_ptr<TDSDevice>;
using TDSBufferPtr = std::shared_ptr<TDSBuffer>;

class TDSBuffer {
public:
  ~TDSBuffer();
  int32_t GetStatus(uint32_t* status);
  int32_t GetCurrentPosition(uint32_t* play, uint32_t* write);
  int32_t SetCurrentPosition(uint32_t bytes);
  int32_t GetFormat(TWaveFormat* format);
  int32_t SetFormat(const TWaveFormat& format);  // primary buffer only
  int32_t GetVolume(int32_t* volume);
  int32_t SetVolume(int32_t volume);
  int32_t GetPan(int32_t* pan);
  int32_t SetPan(int32_t pan);
  int32_t GetFrequency(uint32_t* hertz);
  int32_t SetFrequency(uint32_t hertz);
  int32_t Play(uint32_t reserved, uint32_t priority, uint32_t flags);
  int32_t Stop();
  int32_t Restore();
  // Two regions: [offset, end of buffer) and [0, rest); the second is empty when the
  // span does not wrap.
  int32_t Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
               uint32_t* bytes2, uint32_t flags);
  int32_t Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2);
  int32_t SetNotificationPositions(const std::vector<TDSPositionNotify>& positions);

  uint32_t Flags() const { return _flags; }
  uint32_t Bytes() const { return _bytes; }

private:
  friend class TDSDevice;
  TDSBuffer() = default;
  void UpdateGains();
  template <int Bits, int Channels>
  void MixInto(int32_t* acc, int frames);
  void MixOutput(int32_t* acc, int frames);
  void Notify(uint64_t fromByte, uint64_t toByte, bool wrapped);

  TDSDevicePtr _device;
  bool _primary = false;
  uint32_t _flags = 0;
  TWaveFormat _format;
  std::shared_ptr<std::vector<uint8_t>> _data;  // shared by duplicates
  uint32_t _bytes = 0;
  uint32_t _frames = 0;
  // Play state, guarded by the output lock.
  bool _playing = false;
  bool _looping = false;
  uint64_t _pos = 0;  // 32.32 fixed-point frame position
  uint32_t _hertz = 0;
  int32_t _volume = 0;
  int32_t _pan = 0;
  int32_t _gainL = 65536, _gainR = 65536;  // 16.16
  std::vector<TDSPositionNotify> _notify;
};

class TDSDevice : public TAudioOutputClient {
public:
  // Creates the default device: DS_OK, or DSERR_NODRIVER when no audio output opens.
  static int32_t Create(TDSDevicePtr& device);
  ~TDSDevice() override;
  int32_t SetCooperativeLevel(void* window, uint32_t level);
  int32_t CreateSoundBuffer(const TDSBufferDesc& desc, TDSBufferPtr& buffer);
  // A new buffer sharing the original's memory, with its own cursor and controls.
  int32_t DuplicateSoundBuffer(const TDSBufferPtr& original, TDSBufferPtr& duplicate);
  // Silences the device for good: every buffer stops and is no longer mixed, and the
  // platform output is let go. Buffers still held answer DSERR_NODRIVER to Play.
  void Shutdown();
  uint32_t CooperativeLevel() const { return _level; }

  void MixOutput(int32_t* acc, int frames) override;

private:
  friend class TDSBuffer;
  TDSDevice() = default;
  std::weak_ptr<TDSDevice> _self;
  uint32_t _level = 0;
  std::atomic<bool> _attached{false};
  std::vector<TDSBuffer*> _buffers;  // guarded by the output lock
};

// The default device, as the platform's creation function gives it.
int32_t DirectSoundCreate(TDSDevicePtr& device);
// True when the layer can be used at all (a platform audio driver exists).
bool DirectSoundAvailable();
