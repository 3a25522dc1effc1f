#include "waveout.h"

#include <algorithm>

int32_t TWaveOut::Open(std::unique_ptr<TWaveOut>& device, const TWaveFormat& f) {
  device.reset();
  if (f.formatTag != WAVE_FORMAT_PCM || f.channels != 2 || f.samplesPerSec != AUDIO_OUTPUT_RATE ||
      f.bitsPerSample != 16 || f.blockAlign != 4)
    return WAVERR_BADFORMAT;
  std::unique_ptr<TWaveOut> d(new TWaveOut);
  if (!AudioOutputAttach(d.get())) return MMSYSERR_NODRIVER;
  d->_open = true;
  device = std::move(d);
  return MMSYSERR_NOERROR;
}

TWaveOut::~TWaveOut() { Close(); }

int32_t TWaveOut::Close() {
  if (!_open) return MMSYSERR_INVALHANDLE;
  AudioOutputDetach(this);
  _open = false;
  for (TWaveHeader* h : _queue) h->flags = (h->flags & ~WHDR_INQUEUE) | WHDR_DONE;
  _queue.clear();
  return MMSYSERR_NOERROR;
}

int32_t TWaveOut::PrepareHeader(TWaveHeader* h) {
  if (!_open) return MMSYSERR_INVALHANDLE;
  if (!h || !h->data) return MMSYSERR_INVALPARAM;
  h->flags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

int32_t TWaveOut::UnprepareHeader(TWaveHeader* h) {
  if (!_open) return MMSYSERR_INVALHANDLE;
  if (!h) return MMSYSERR_INVALPARAM;
  h->flags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

int32_t TWaveOut::Write(TWaveHeader* h) {
  if (!_open) return MMSYSERR_INVALHANDLE;
  if (!h || !h->data) return MMSYSERR_INVALPARAM;
  if (!(h->flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  TAudioOutputLock lock;
  h->flags = (h->flags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (_queue.empty()) {
    _offset = 0;
    _loopsLeft = (h->flags & WHDR_BEGINLOOP) && h->loops > 0 ? h->loops : 1;
  }
  _queue.push_back(h);
  return MMSYSERR_NOERROR;
}

int32_t TWaveOut::Reset() {
  if (!_open) return MMSYSERR_INVALHANDLE;
  TAudioOutputLock lock;
  for (TWaveHeader* h : _queue) h->flags = (h->flags & ~WHDR_INQUEUE) | WHDR_DONE;
  _queue.clear();
  _offset = 0;
  _played.store(0);
  return MMSYSERR_NOERROR;
}

int32_t TWaveOut::GetPosition(uint32_t* bytes) {
  if (!_open) return MMSYSERR_INVALHANDLE;
  if (!bytes) return MMSYSERR_INVALPARAM;
  *bytes = _played.load(std::memory_order_acquire);
  return MMSYSERR_NOERROR;
}

void TWaveOut::MixOutput(int32_t* acc, int frames) {
  uint32_t played = 0;
  while (frames > 0 && !_queue.empty()) {
    TWaveHeader* h = _queue.front();
    uint32_t avail = (h->bufferLength - std::min(_offset, h->bufferLength)) / 4;
    if (avail == 0) {
      // End of this header: repeat it while loops remain, else hand it back done.
      if (_loopsLeft > 1 && h->bufferLength >= 4) {
        --_loopsLeft;
        _offset = 0;
        continue;
      }
      _queue.pop_front();
      h->flags = (h->flags & ~WHDR_INQUEUE) | WHDR_DONE;
      _offset = 0;
      if (!_queue.empty()) {
        TWaveHeader* n = _queue.front();
        _loopsLeft = (n->flags & WHDR_BEGINLOOP) && n->loops > 0 ? n->loops : 1;
      }
      continue;
    }
    uint32_t n = std::min<uint32_t>(avail, static_cast<uint32_t>(frames));
    const int16_t* src = reinterpret_cast<const int16_t*>(h->data + _offset);
    for (uint32_t i = 0; i < 2 * n; ++i) acc[i] += src[i];
    acc += 2 * n;
    frames -= static_cast<int>(n);
    _offset += 4 * n;
    played += 4 * n;
  }
  _played.fetch_add(played, std::memory_order_release);
}
