#include "dslayer.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

void TDSEvent::Set() {
  {
    std::lock_guard<std::mutex> g(_m);
    _signalled = true;
  }
  _cv.notify_one();
}

bool TDSEvent::Wait(uint32_t millis) {
  std::unique_lock<std::mutex> g(_m);
  if (!_cv.wait_for(g, std::chrono::milliseconds(millis), [this] { return _signalled; })) return false;
  _signalled = false;
  return true;
}

bool DirectSoundAvailable() { return AudioOutputAvailable(); }

int32_t DirectSoundCreate(TDSDevicePtr& device) { return TDSDevice::Create(device); }

// ---- device ----

int32_t TDSDevice::Create(TDSDevicePtr& device) {
  device.reset();
  TDSDevicePtr d(new TDSDevice);
  d->_self = d;
  if (!AudioOutputAttach(d.get())) return DSERR_NODRIVER;
  d->_attached = true;
  device = std::move(d);
  return DS_OK;
}

TDSDevice::~TDSDevice() { Shutdown(); }

void TDSDevice::Shutdown() {
  if (!_attached.exchange(false)) return;
  {
    TAudioOutputLock lock;
    for (TDSBuffer* b : _buffers) b->_playing = false;
    _buffers.clear();
  }
  AudioOutputDetach(this);
}

int32_t TDSDevice::SetCooperativeLevel(void*, uint32_t level) {
  if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
  _level = level;
  return DS_OK;
}

static bool ValidFormat(const TWaveFormat* f) {
  return f && f->formatTag == WAVE_FORMAT_PCM && (f->channels == 1 || f->channels == 2) &&
         (f->bitsPerSample == 8 || f->bitsPerSample == 16) && f->samplesPerSec >= DSBFREQUENCY_MIN &&
         f->samplesPerSec <= DSBFREQUENCY_MAX && f->blockAlign == f->channels * f->bitsPerSample / 8;
}

int32_t TDSDevice::CreateSoundBuffer(const TDSBufferDesc& desc, TDSBufferPtr& buffer) {
  buffer.reset();
  if (!_attached) return DSERR_NODRIVER;
  TDSBufferPtr b(new TDSBuffer);
  b->_device = _self.lock();
  b->_flags = desc.flags;
  if (desc.flags & DSBCAPS_PRIMARYBUFFER) {
    if (desc.bufferBytes != 0 || desc.format) return DSERR_INVALIDPARAM;
    if (desc.flags & (DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_STATIC))
      return DSERR_INVALIDPARAM;
    b->_primary = true;
    b->_format = TWaveFormat{};  // the output's own format
    buffer = std::move(b);
    return DS_OK;
  }
  if (!desc.format) return DSERR_INVALIDPARAM;
  if (!ValidFormat(desc.format)) return DSERR_BADFORMAT;
  if (desc.bufferBytes < DSBSIZE_MIN || desc.bufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
  b->_format = *desc.format;
  b->_frames = desc.bufferBytes / b->_format.blockAlign;
  if (b->_frames == 0) return DSERR_INVALIDPARAM;
  b->_bytes = b->_frames * b->_format.blockAlign;
  try {
    b->_data = std::make_shared<std::vector<uint8_t>>(b->_bytes, b->_format.bitsPerSample == 8 ? 0x80 : 0);
  } catch (const std::bad_alloc&) {
    return DSERR_OUTOFMEMORY;
  }
  b->_hertz = b->_format.samplesPerSec;
  b->UpdateGains();
  {
    TAudioOutputLock lock;
    _buffers.push_back(b.get());
  }
  buffer = std::move(b);
  return DS_OK;
}

int32_t TDSDevice::DuplicateSoundBuffer(const TDSBufferPtr& original, TDSBufferPtr& duplicate) {
  duplicate.reset();
  if (!_attached) return DSERR_NODRIVER;
  if (!original || original->_primary) return DSERR_INVALIDCALL;
  TDSBufferPtr b(new TDSBuffer);
  b->_device = _self.lock();
  b->_flags = original->_flags;
  b->_format = original->_format;
  b->_data = original->_data;
  b->_bytes = original->_bytes;
  b->_frames = original->_frames;
  {
    TAudioOutputLock lock;
    b->_hertz = original->_hertz;
    b->_volume = original->_volume;
    b->_pan = original->_pan;
    b->UpdateGains();
    _buffers.push_back(b.get());
  }
  duplicate = std::move(b);
  return DS_OK;
}

void TDSDevice::MixOutput(int32_t* acc, int frames) {
  for (TDSBuffer* b : _buffers)
    if (b->_playing) b->MixOutput(acc, frames);
}

// ---- buffer ----

TDSBuffer::~TDSBuffer() {
  if (_device && !_primary) {
    TAudioOutputLock lock;
    auto& list = _device->_buffers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TDSBuffer::UpdateGains() {
  double g = std::pow(10.0, _volume / 2000.0);
  double l = _pan > 0 ? std::pow(10.0, -_pan / 2000.0) : 1.0;
  double r = _pan < 0 ? std::pow(10.0, _pan / 2000.0) : 1.0;
  if (_volume <= DSBVOLUME_MIN) g = 0;
  _gainL = static_cast<int32_t>(std::lround(65536.0 * g * l));
  _gainR = static_cast<int32_t>(std::lround(65536.0 * g * r));
}

int32_t TDSBuffer::GetStatus(uint32_t* status) {
  if (!status) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  *status = (_playing ? DSBSTATUS_PLAYING : 0) | (_playing && _looping ? DSBSTATUS_LOOPING : 0);
  return DS_OK;
}

int32_t TDSBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
  if (_primary) {
    if (play) *play = 0;
    if (write) *write = 0;
    return DS_OK;
  }
  TAudioOutputLock lock;
  uint32_t p = static_cast<uint32_t>(std::min<uint64_t>(_pos >> 32, _frames - 1));
  uint32_t w = p;
  if (_playing) {
    // The next output period's worth of frames is already committed to the output mix.
    uint64_t ahead = (static_cast<uint64_t>(AUDIO_OUTPUT_FRAMES) * _hertz + AUDIO_OUTPUT_RATE - 1) / AUDIO_OUTPUT_RATE;
    w = static_cast<uint32_t>((p + ahead) % _frames);
  }
  if (play) *play = p * _format.blockAlign;
  if (write) *write = w * _format.blockAlign;
  return DS_OK;
}

int32_t TDSBuffer::SetCurrentPosition(uint32_t bytes) {
  if (_primary) return DSERR_INVALIDCALL;
  if (bytes >= _bytes) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  _pos = static_cast<uint64_t>(bytes / _format.blockAlign) << 32;
  return DS_OK;
}

int32_t TDSBuffer::GetFormat(TWaveFormat* format) {
  if (!format) return DSERR_INVALIDPARAM;
  *format = _format;
  return DS_OK;
}

int32_t TDSBuffer::SetFormat(const TWaveFormat& format) {
  if (!_primary) return DSERR_INVALIDCALL;
  if (_device->_level < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
  if (!ValidFormat(&format)) return DSERR_BADFORMAT;
  // The mix always reaches the output at AUDIO_OUTPUT_RATE 16-bit stereo; the primary format is
  // recorded for callers that read it back.
  _format = format;
  return DS_OK;
}

int32_t TDSBuffer::GetVolume(int32_t* volume) {
  if (!(_flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
  if (!volume) return DSERR_INVALIDPARAM;
  *volume = _volume;
  return DS_OK;
}

int32_t TDSBuffer::SetVolume(int32_t volume) {
  if (!(_flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
  if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  _volume = volume;
  UpdateGains();
  return DS_OK;
}

int32_t TDSBuffer::GetPan(int32_t* pan) {
  if (!(_flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
  if (!pan) return DSERR_INVALIDPARAM;
  *pan = _pan;
  return DS_OK;
}

int32_t TDSBuffer::SetPan(int32_t pan) {
  if (!(_flags & DSBCAPS_CTRLPAN) || _primary) return DSERR_CONTROLUNAVAIL;
  if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  _pan = pan;
  UpdateGains();
  return DS_OK;
}

int32_t TDSBuffer::GetFrequency(uint32_t* hertz) {
  if (!(_flags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
  if (!hertz) return DSERR_INVALIDPARAM;
  *hertz = _hertz;
  return DS_OK;
}

int32_t TDSBuffer::SetFrequency(uint32_t hertz) {
  if (!(_flags & DSBCAPS_CTRLFREQUENCY) || _primary) return DSERR_CONTROLUNAVAIL;
  if (hertz == DSBFREQUENCY_ORIGINAL) hertz = _format.samplesPerSec;
  if (hertz < DSBFREQUENCY_MIN || hertz > DSBFREQUENCY_MAX) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  _hertz = hertz;
  return DS_OK;
}

int32_t TDSBuffer::Play(uint32_t, uint32_t, uint32_t flags) {
  if (_primary) return DS_OK;
  if (!_device->_attached) return DSERR_NODRIVER;
  TAudioOutputLock lock;
  _playing = true;
  _looping = (flags & DSBPLAY_LOOPING) != 0;
  return DS_OK;
}

int32_t TDSBuffer::Stop() {
  if (_primary) return DS_OK;
  TAudioOutputLock lock;
  if (_playing) {
    _playing = false;
    for (auto& n : _notify)
      if (n.offset == DSBPN_OFFSETSTOP && n.event) n.event->Set();
  }
  return DS_OK;
}

int32_t TDSBuffer::Restore() { return DS_OK; }

int32_t TDSBuffer::Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
                        uint32_t* bytes2, uint32_t flags) {
  if (_primary) return DSERR_INVALIDCALL;
  if (!ptr1 || !bytes1) return DSERR_INVALIDPARAM;
  if (flags & DSBLOCK_FROMWRITECURSOR) GetCurrentPosition(nullptr, &offset);
  if (flags & DSBLOCK_ENTIREBUFFER) bytes = _bytes;
  if (offset >= _bytes || bytes == 0 || bytes > _bytes) return DSERR_INVALIDPARAM;
  uint8_t* base = _data->data();
  uint32_t first = std::min(bytes, _bytes - offset);
  *ptr1 = base + offset;
  *bytes1 = first;
  if (ptr2) *ptr2 = bytes > first ? base : nullptr;
  if (bytes2) *bytes2 = bytes - first;
  if (!ptr2 && bytes > first) return DSERR_INVALIDPARAM;
  return DS_OK;
}

int32_t TDSBuffer::Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2) {
  if (_primary) return DSERR_INVALIDCALL;
  uint8_t* base = _data->data();
  auto inside = [&](void* p, uint32_t n) {
    if (!p) return n == 0;
    uint8_t* q = static_cast<uint8_t*>(p);
    return q >= base && q + n <= base + _bytes;
  };
  if (!inside(ptr1, bytes1) || !inside(ptr2, bytes2)) return DSERR_INVALIDPARAM;
  return DS_OK;
}

int32_t TDSBuffer::SetNotificationPositions(const std::vector<TDSPositionNotify>& positions) {
  if (!(_flags & DSBCAPS_CTRLPOSITIONNOTIFY)) return DSERR_CONTROLUNAVAIL;
  for (auto& p : positions)
    if ((p.offset != DSBPN_OFFSETSTOP && p.offset >= _bytes) || !p.event) return DSERR_INVALIDPARAM;
  TAudioOutputLock lock;
  if (_playing) return DSERR_INVALIDCALL;
  _notify = positions;
  return DS_OK;
}

void TDSBuffer::Notify(uint64_t from, uint64_t to, bool stopped) {
  for (auto& n : _notify) {
    if (n.offset == DSBPN_OFFSETSTOP) {
      if (stopped) n.event->Set();
      continue;
    }
    // First occurrence of the offset strictly after `from` in the unwrapped byte count.
    uint64_t o = from - from % _bytes + n.offset;
    if (o <= from) o += _bytes;
    if (o <= to) n.event->Set();
  }
}

namespace {
template <int Bits>
inline int32_t ReadSample(const uint8_t* data, uint32_t index) {
  if constexpr (Bits == 8) {
    return (static_cast<int32_t>(data[index]) - 128) << 8;
  } else {
    int16_t v;
    std::memcpy(&v, data + 2 * index, 2);
    return v;
  }
}
}  // namespace

template <int Bits, int Channels>
void TDSBuffer::MixInto(int32_t* acc, int frames) {
  const uint8_t* data = _data->data();
  const uint64_t step = (static_cast<uint64_t>(_hertz) << 32) / AUDIO_OUTPUT_RATE;
  const uint64_t end = static_cast<uint64_t>(_frames) << 32;
  const uint64_t startByte = (_pos >> 32) * _format.blockAlign;
  uint64_t advanced = 0;  // whole frames moved, for notifications
  uint64_t pos = _pos;
  bool stopped = false;
  for (int i = 0; i < frames; ++i) {
    if (pos >= end) {
      if (!_looping) {
        stopped = true;
        pos = 0;
        break;
      }
      pos %= end;  // a step may be longer than the whole buffer
    }
    uint32_t idx = static_cast<uint32_t>(pos >> 32);
    uint32_t next = idx + 1;
    if (next >= _frames) next = _looping ? 0 : idx;
    int32_t frac = static_cast<int32_t>((pos >> 16) & 0xFFFF);
    int32_t l0 = ReadSample<Bits>(data, idx * Channels), l1 = ReadSample<Bits>(data, next * Channels);
    int32_t l = l0 + static_cast<int32_t>((static_cast<int64_t>(l1 - l0) * frac) >> 16);
    int32_t r = l;
    if constexpr (Channels == 2) {
      int32_t r0 = ReadSample<Bits>(data, idx * 2 + 1), r1 = ReadSample<Bits>(data, next * 2 + 1);
      r = r0 + static_cast<int32_t>((static_cast<int64_t>(r1 - r0) * frac) >> 16);
    }
    acc[2 * i] += static_cast<int32_t>((static_cast<int64_t>(l) * _gainL) >> 16);
    acc[2 * i + 1] += static_cast<int32_t>((static_cast<int64_t>(r) * _gainR) >> 16);
    uint64_t before = pos >> 32;
    pos += step;
    advanced += (pos >> 32) - before;
  }
  _pos = pos;
  if (stopped) _playing = false;
  if (!_notify.empty()) {
    uint64_t endByte = startByte + advanced * _format.blockAlign;
    Notify(startByte, endByte, stopped);
  }
}

void TDSBuffer::MixOutput(int32_t* acc, int frames) {
  bool eight = _format.bitsPerSample == 8;
  if (_format.channels == 1)
    eight ? MixInto<8, 1>(acc, frames) : MixInto<16, 1>(acc, frames);
  else
    eight ? MixInto<8, 2>(acc, frames) : MixInto<16, 2>(acc, frames);
}
