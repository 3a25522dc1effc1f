#pragma once
// The software mixer: every playing voice is mixed in fixed point into one AUDIO_OUTPUT_RATE
// 16-bit stereo stream that an output device feeds to the platform (a wave-out ring fed
// by a 5 ms timer thread, or a DirectSound-like looping buffer fed by a thread of its
// own). The application thread and the feeding thread meet only through two
// single-writer rings of 4096 entries (free voices, queued voices) and single-field
// parameter writes: no locks, and nothing is allocated while mixing.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "../dslayer.h"
#include "waveout.h"

constexpr int FA_VOICES = 4096;
constexpr int FA_CHANNELS = 4096;

// Voice status values and bits.
constexpr int32_t FA_STOPPED = 0;
constexpr int32_t FA_FINISHED = 1;   // finished, or the channel is free
constexpr int32_t FA_PLAYING = 2;    // set while a voice is live
constexpr int32_t FA_LOOP = 4;
constexpr int32_t FA_STREAMING = 8;  // mixed only while its data has been written
constexpr int32_t FA_PAUSED = 0x10;

// A sample the mixer can play (the data of a sound).
struct fa_sound {
  int32_t length = 0;    // frames
  int32_t bits = 16;     // 8 (unsigned) or 16 (signed little-endian) per channel
  int32_t channels = 1;  // 1 or 2
  int32_t rate = AUDIO_OUTPUT_RATE;
  const uint8_t* data = nullptr;
  std::unique_ptr<uint8_t[]> owned;  // set when the bytes were copied
  int32_t loop = 0;
  // Samples (not frames) written so far, for streaming voices.
  std::atomic<int64_t> written{0};
  // Set by fa_freesound; voices still on it are dropped by the mixer, and the record is
  // deleted by the application thread once no voice uses it.
  std::atomic<int32_t> freed{0};
  std::atomic<int32_t> users{0};
};

// Base of the mixing side: nine setters that do nothing.
class output {
public:
  virtual ~output() = default;
  virtual int setrate(int32_t) { return 0; }
  virtual int setvolume(int32_t) { return 0; }
  virtual int setpan(int32_t) { return 0; }
  virtual int setdepth(int32_t) { return 0; }
  virtual int setpaused(int32_t) { return 0; }
  virtual int setloop(int32_t) { return 0; }
  virtual int setstreaming(int32_t) { return 0; }
  virtual int setposition(int64_t) { return 0; }
  virtual int stop() { return 0; }
};

// One voice: a playing instance of a fa_sound.
class sound : public output {
public:
  std::atomic<int32_t> status{FA_FINISHED};
  fa_sound* snd = nullptr;
  int32_t handle = 0;
  std::atomic<bool> freeonfinish{false};
  std::atomic<uint64_t> pos{0};  // 32.32 fixed point, in samples
  uint64_t played = 0;
  int32_t oldrate = 0x10000;
  std::atomic<int32_t> rate{0x10000};  // 16.16
  int32_t oldvolume = 4096;
  std::atomic<int32_t> volume{4096};  // 4096 = 1.0
  std::atomic<int32_t> pan{0};        // -4096 left .. 4096 right
  std::atomic<int32_t> depth{0};
  int32_t delay = 0;  // output frames still to wait
  uint32_t queued = 0;  // ElapsedMillis() when handed to the mixer
  sound* next = nullptr;  // active list (mixer thread only)

  int setrate(int32_t v) override { rate.store(v, std::memory_order_relaxed); return 1; }
  int setvolume(int32_t v) override { volume.store(v, std::memory_order_relaxed); return 1; }
  int setpan(int32_t v) override { pan.store(v, std::memory_order_relaxed); return 1; }
  int setdepth(int32_t v) override { depth.store(v, std::memory_order_relaxed); return 1; }
  int setpaused(int32_t p) override;
  int setloop(int32_t l) override;
  int setstreaming(int32_t s) override;
  int setposition(int64_t samples) override;
  int stop() override { status.store(FA_STOPPED, std::memory_order_relaxed); return 1; }

  // Prepares a free record for a new start.
  void reset(fa_sound* s, int32_t handle, bool freeonfinish, bool paused);
  // Mixes `count` frames into acc (2 x count entries): 1 finished, 0 keep, -1 remove,
  // -2 paused.
  int mix(int32_t* acc, int count);
};

// Single-producer single-consumer ring of voice pointers.
class fa_ring {
public:
  bool push(sound* s);
  sound* pop();
  int size() const;

private:
  sound* _slots[4096] = {};
  std::atomic<uint32_t> _head{0};  // next write (producer)
  std::atomic<uint32_t> _tail{0};  // next read (consumer)
};

class mixer : public output {
public:
  explicit mixer(int accsamples);
  ~mixer() override;
  mixer(const mixer&) = delete;
  mixer& operator=(const mixer&) = delete;

  // Mixes one fragment of `samples` interleaved stereo samples (at most the
  // accumulator's size) into out, at the given millisecond time.
  void mix(int16_t* out, int samples, uint32_t now);
  void mix(int16_t* out, int samples);
  // Accumulator to 16-bit output: value >> 4 clipped to the 16-bit range; clears acc.
  static void convert(int32_t* acc, int16_t* out, int samples);

  // Application side.
  sound* takevoice();                       // null when all 4096 are in use
  void queue(sound* v, uint32_t now);       // hands a prepared voice to the mixer
  int accsize() const { return _accsize; }
  int activecount() const;                  // voices in the active list (mixer thread)

private:
  std::unique_ptr<int32_t[]> _acc;
  int _accsize;
  std::unique_ptr<sound[]> _voices;
  fa_ring _free;      // producer: mixer thread, consumer: application
  fa_ring _commands;  // producer: application, consumer: mixer thread
  sound* _active = nullptr;
};

// Output devices.
class audiodevice {
public:
  virtual ~audiodevice() = default;
  // Creates the mixer, opens the platform device and starts feeding; 0 on success.
  virtual int open() = 0;
  virtual void close() = 0;
  mixer* getmixer() { return _mixer.get(); }

protected:
  std::unique_ptr<mixer> _mixer;
};

// Wave-out: a ring of 32 fragments played by one looping header, fed every 5 ms.
class winmmdevice : public audiodevice {
public:
  static constexpr int FRAGMENT = 1024;  // samples (512 stereo frames)
  static constexpr int RING_FRAGMENTS = 32;
  static constexpr uint32_t POSITION_LIMIT = 268435456;

  // With autotimer false no timer thread runs and tick() is called by the owner.
  explicit winmmdevice(bool autotimer = true) : _autotimer(autotimer) {}
  ~winmmdevice() override { close(); }
  int open() override;
  void close() override;
  // One run of the feeding timer.
  void tick();

  int lead() const { return _lead; }
  uint32_t written() const { return _written; }
  int pausedruns() const { return _pause; }

private:
  void writeheader();
  void clearring();

  bool _autotimer;
  std::unique_ptr<TWaveOut> _wave;
  std::vector<uint8_t> _ring;
  TWaveHeader _header;
  int _lead = 6;
  uint32_t _written = 0;
  int _pause = 0;
  std::atomic<bool> _running{false};
  std::thread _timer;
};

// DirectSound: a 32768-byte looping buffer, refilled by a feeding thread woken by
// position notifications every 8192 bytes.
class dsounddevice : public audiodevice {
public:
  static constexpr uint32_t BUFFER_BYTES = 32768;
  static constexpr uint32_t QUARTER = 8192;
  static constexpr int ACC_SAMPLES = 12288;

  ~dsounddevice() override { close(); }
  int open() override;
  void close() override;

private:
  void feed();
  // The feeding thread's start and one round of it (also the lockstep step).
  void feedstart();
  bool feedstep();
  uint32_t _last = 0;
  uint64_t _wraps = 0, _writelin = 0;

  TDSDevicePtr _ds;
  TDSBufferPtr _primary;
  TDSBufferPtr _buffer;
  TDSEventPtr _event;
  std::atomic<bool> _running{false};
  std::thread _thread;
};

// Entry points used by the SoftAudio drivers.
audiodevice* fa_openwinmm();
audiodevice* fa_opendsound();
// Opens the device and makes it current (the mixer takes ownership); 0 or -1.
int fa_init(audiodevice* device);
void fa_close();
mixer* fa_currentmixer();

fa_sound* fa_createsound(int32_t length, int32_t bits, int32_t channels, int32_t rate,
                         const void* bytes, int32_t loop, bool copy = true);
void fa_freesound(fa_sound* s);

int32_t fa_allocchannel();
void fa_freechannel(int32_t handle);
// Starts s on the handle (0: a new handle); returns the handle used, 0 when refused.
int32_t fa_play(fa_sound* s, int32_t paused, int32_t handle, int32_t streaming = 0);
void fa_stop(int32_t handle);
void fa_setpaused(int32_t handle, int32_t paused);
void fa_setvolume(int32_t handle, float volume);
void fa_setpan(int32_t handle, float pan);
void fa_setdepth(int32_t handle, float depth);
void fa_setrate(int32_t handle, float rate);
int32_t fa_status(int32_t handle);
// Play position in samples (frames x channels).
int64_t fa_position(int32_t handle);
// The voice bound to a live handle, or null (for streaming writers and tests).
sound* fa_voice(int32_t handle);
