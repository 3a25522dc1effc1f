#include "dsounddriver.h"

#include "../backends.h"
#include "dsoundstream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <ormix/runtime/errors.h>

namespace {
int32_t gGeneration = 1;
TDirectSoundAudioDriver* gActive = nullptr;

[[noreturn]] void Fail(const char* step, int32_t code) {
  throw TRuntimeException(std::string(step) + " failed (" + std::to_string(static_cast<uint32_t>(code) & 0xFFFF) +
                          ")");
}

int32_t Trunc(double v) { return static_cast<int32_t>(std::trunc(v)); }
}  // namespace

int32_t DirectSoundGeneration() { return gGeneration; }
TDirectSoundAudioDriver* ActiveDirectSoundDriver() { return gActive; }

// ---- TBuf ----

int TBuf::Active() {
  if (_paused) return 1;
  uint32_t status = 0;
  int32_t hr = _buffer->GetStatus(&status);
  if (hr != DS_OK) Fail("DirectSound", hr);
  return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

// ---- driver ----

int TDirectSoundAudioDriver::Startup() {
  TDSDevicePtr dev;
  if (DirectSoundCreate(dev) != DS_OK) return 0;
  if (dev->SetCooperativeLevel(nullptr, DSSCL_PRIORITY) != DS_OK) {
    dev->Shutdown();
    return 0;
  }
  _dsound = dev;
  gActive = this;
  return 1;
}

void TDirectSoundAudioDriver::Shutdown() {
  ++gGeneration;
  if (gActive == this) gActive = nullptr;
  _lonely.reset();
  if (_dsound) _dsound->Shutdown();
  _dsound.reset();
}

void TDirectSoundAudioDriver::FlushLonely() {
  TBufPtr* link = &_lonely;
  while (*link) {
    TBufPtr b = *link;
    if (!b->Active()) *link = b->_succ;
    else link = &b->_succ;
  }
}

TSoundPtr TDirectSoundAudioDriver::CreateSound(const TAudioSamplePtr& source, int flags) {
  if (!source || !_dsound) return nullptr;
  FlushLonely();
  TAudioSamplePtr sample = LittleEndianSample(source);
  const int channels = SampleChannels(sample->format);
  if (channels == 0) return nullptr;  // no such format: nothing to play
  TWaveFormat f;
  f.formatTag = WAVE_FORMAT_PCM;
  f.channels = static_cast<uint16_t>(channels);
  f.samplesPerSec = static_cast<uint32_t>(sample->hertz);
  f.bitsPerSample = static_cast<uint16_t>(SampleBytes(sample->format) * 8 / channels);
  f.blockAlign = static_cast<uint16_t>(SampleBytes(sample->format));
  f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
  TDSBufferDesc d;
  d.flags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS;
  if (!(_mode != 1 && (flags & SOUND_HARDWARE))) d.flags |= DSBCAPS_LOCSOFTWARE;
  size_t bytes = sample->ByteSize();
  d.bufferBytes = static_cast<uint32_t>(std::min<size_t>(bytes, 0xFFFFFFFFu));
  d.format = &f;
  TDSBufferPtr buffer;
  int32_t hr = _dsound->CreateSoundBuffer(d, buffer);
  if (hr != DS_OK) Fail("CreateSoundBuffer", hr);
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  hr = buffer->Lock(0, d.bufferBytes, &p1, &n1, &p2, &n2, 0);
  if (hr != DS_OK) Fail("Lock SoundBuffer", hr);
  std::memcpy(p1, sample->samples, n1);
  if (p2 && n2) std::memcpy(p2, sample->samples + n1, n2);
  hr = buffer->Unlock(p1, n1, p2, n2);
  if (hr != DS_OK) Fail("Unlock SoundBuffer", hr);

  auto s = std::make_shared<TDirectSoundSound>();
  s->_seq = gGeneration;
  s->_buffer = buffer;
  s->_hertz = sample->hertz;
  s->_loop = flags & SOUND_LOOP;
  s->_bufs = std::make_shared<TBuf>();
  s->_bufs->_buffer = buffer;
  return s;
}

void RegisterDirectSoundDrivers() {
  if (DirectSoundAvailable()) new TDirectSoundAudioDriver(u"DirectSound", 0);
}

TChannelPtr TDirectSoundAudioDriver::AllocChannel() {
  auto c = std::make_shared<TDirectSoundChannel>();
  c->_static = 1;
  return c;
}

std::shared_ptr<TAudioStream> TDirectSoundAudioDriver::CreateAudioStream(const TAudioStreamSourcePtr& source,
                                                                         int32_t paused) {
  return TDirectSoundAudioStream::Build(source, paused);
}

// ---- sound ----

TDirectSoundSound::~TDirectSoundSound() {
  // Buffers still playing finish on the driver's lonely list.
  if (_seq == gGeneration && gActive && _bufs) {
    TBufPtr* link = &gActive->_lonely;
    while (*link) link = &(*link)->_succ;
    *link = _bufs;
  }
}

TChannelPtr TDirectSoundSound::Cue(const TChannelPtr& channel) {
  auto c = std::dynamic_pointer_cast<TDirectSoundChannel>(channel);
  if (!c) c = std::make_shared<TDirectSoundChannel>();
  c->Cue(shared_from_this());
  return c;
}

TChannelPtr TDirectSoundSound::Play(const TChannelPtr& channel) {
  TChannelPtr c = Cue(channel);
  if (c) c->SetPaused(0);
  return c;
}

// ---- channel ----

TDirectSoundChannel::~TDirectSoundChannel() {
  if (Bound() && _buf->_paused) Stop();
}

int TDirectSoundChannel::Bound() const {
  return _buf && _seq == _buf->_seq && _sound && _sound->_seq == gGeneration;
}

void TDirectSoundChannel::Unbind() {
  if (_buf) ++_buf->_seq;
  _buf.reset();
}

uint32_t TDirectSoundChannel::Frequency() const {
  double hz = std::trunc(static_cast<double>(_hertz) * _rate);
  return static_cast<uint32_t>(std::clamp<double>(hz, DSBFREQUENCY_MIN, DSBFREQUENCY_MAX));
}

int TDirectSoundChannel::Cue(const std::shared_ptr<TDirectSoundSound>& sound) {
  Stop();
  if (!sound || sound->_seq != gGeneration || !gActive || !gActive->_dsound) return 0;
  TBufPtr b;
  for (TBufPtr p = sound->_bufs; p; p = p->_succ)
    if (!p->Active()) {
      b = p;
      break;
    }
  if (b) {
    ++b->_seq;  // whoever held it lets go
  } else {
    gActive->FlushLonely();
    TDSBufferPtr dup;
    if (gActive->_dsound->DuplicateSoundBuffer(sound->_buffer, dup) != DS_OK) return 0;
    b = std::make_shared<TBuf>();
    b->_buffer = dup;
    b->_succ = sound->_bufs;
    sound->_bufs = b;
  }
  _sound = sound;
  _buf = b;
  _seq = b->_seq;
  _hertz = sound->_hertz;
  _playFlags = sound->_loop ? DSBPLAY_LOOPING : 0;
  b->_paused = 1;
  b->_buffer->SetCurrentPosition(0);
  b->_buffer->SetVolume(Trunc((1.0 - _volume) * -10000.0));
  b->_buffer->SetPan(Trunc(_pan * 10000.0));
  b->_buffer->SetFrequency(Frequency());
  return 1;
}

void TDirectSoundChannel::Stop() {
  if (!Bound()) return;
  _buf->_buffer->Stop();
  _buf->_paused = 0;
  Unbind();
}

void TDirectSoundChannel::SetPaused(int paused) {
  if (!Bound()) return;
  if (!_buf->Active()) {
    Unbind();  // it finished
    return;
  }
  if (paused) _buf->_buffer->Stop();
  else _buf->_buffer->Play(0, 0, _playFlags);
  _buf->_paused = paused;
}

void TDirectSoundChannel::SetVolume(float volume) {
  _volume = static_cast<float>(std::pow(std::clamp<double>(volume, 0.0, 1.0), 0.1));
  if (Bound()) _buf->_buffer->SetVolume(Trunc((1.0 - static_cast<double>(_volume)) * -10000.0));
}

void TDirectSoundChannel::SetPan(float pan) {
  _pan = std::clamp(pan, -1.0f, 1.0f);
  if (Bound()) _buf->_buffer->SetPan(Trunc(static_cast<double>(_pan) * 10000.0));
}

void TDirectSoundChannel::SetRate(float rate) {
  _rate = rate;
  if (Bound()) _buf->_buffer->SetFrequency(Frequency());
}

int TDirectSoundChannel::Playing() { return Bound() && _buf->Active() ? 1 : 0; }
