#include <ormix/music/audiostream.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/dsounddriver.h"
#include "audio/openal.h"
#include "audio/softaudiodriver.h"
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>

namespace {
constexpr int32_t OUT_RATE = 44100;
constexpr int32_t OUT_FRAME = 4;  // 16-bit stereo

TTimerPtr gTimer;
TDSDevicePtr gDevice;  // the streams' own DirectSound device

inline int16_t Clamp16(int32_t v) {
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}
}  // namespace

// ---- conversion to the output layout ----
TMusicConverter::TMusicConverter()
    : _raw(static_cast<size_t>(CHUNK) * 4), _src(static_cast<size_t>(CHUNK + 4) * 2) {}

void TMusicConverter::Reset() {
  _srcFrames = 0;
  _pos = 0;
}

void TMusicConverter::Render(TMusic& music, void* out, int32_t bytes) {
  if (bytes <= 0) return;
  const int32_t format = music.STREAM_FORMAT;
  const int32_t rate = music.SAMPLE_RATE;
  if (format == MUSIC_STEREO16 && rate == OUT_RATE && _srcFrames == 0) {
    music.FillBuffer(out, bytes);
    return;
  }
  const int32_t frameSize = FormatFrameSize(format);
  auto* dst = static_cast<int16_t*>(out);
  const int32_t frames = bytes / OUT_FRAME;
  if (frameSize == 0 || rate <= 0) {
    std::memset(out, 0, static_cast<size_t>(bytes));
    return;
  }
  const uint64_t step = (static_cast<uint64_t>(std::min(rate, 1000000)) << 32) / OUT_RATE;
  for (int32_t i = 0; i < frames; ++i) {
    uint32_t idx = static_cast<uint32_t>(_pos >> 32);
    while (static_cast<int32_t>(idx) + 1 >= _srcFrames) {
      // Keep the frames still needed for interpolation, then pull another chunk.
      int32_t keep = std::max(0, _srcFrames - static_cast<int32_t>(idx));
      if (keep > 0)
        std::memmove(_src.data(), _src.data() + static_cast<size_t>(idx) * 2,
                     static_cast<size_t>(keep) * 2 * sizeof(int16_t));
      _pos -= static_cast<uint64_t>(_srcFrames - keep) << 32;
      _srcFrames = keep;
      const int32_t want = CHUNK;
      const int32_t rawBytes = want * frameSize;
      if (music.PlayStatus) {
        music.FillBuffer(_raw.data(), rawBytes);
      } else {
        std::memset(_raw.data(), format == MUSIC_MONO8 || format == MUSIC_STEREO8 ? 0x80 : 0,
                    static_cast<size_t>(rawBytes));
      }
      int16_t* s = _src.data() + static_cast<size_t>(_srcFrames) * 2;
      const uint8_t* r = _raw.data();
      for (int32_t k = 0; k < want; ++k) {
        int16_t l, rr;
        switch (format) {
          case MUSIC_MONO8: l = rr = static_cast<int16_t>((r[k] - 128) * 256); break;
          case MUSIC_STEREO8:
            l = static_cast<int16_t>((r[2 * k] - 128) * 256);
            rr = static_cast<int16_t>((r[2 * k + 1] - 128) * 256);
            break;
          case MUSIC_MONO16: {
            int16_t v;
            std::memcpy(&v, r + 2 * k, 2);
            l = rr = v;
            break;
          }
          default:
            std::memcpy(&l, r + 4 * k, 2);
            std::memcpy(&rr, r + 4 * k + 2, 2);
        }
        s[2 * k] = l;
        s[2 * k + 1] = rr;
      }
      _srcFrames += want;
      idx = static_cast<uint32_t>(_pos >> 32);
    }
    const int32_t frac = static_cast<int32_t>((_pos & 0xFFFFFFFFull) >> 16);
    const int16_t* a = _src.data() + static_cast<size_t>(idx) * 2;
    dst[2 * i] = Clamp16(a[0] + (((a[2] - a[0]) * frac) >> 16));
    dst[2 * i + 1] = Clamp16(a[1] + (((a[3] - a[1]) * frac) >> 16));
    _pos += step;
  }
}

// ---- the stream base ----
TObjectPtr TAudioStream::eventhook(int, const TObjectPtr& data, const TObjectPtr& context) {
  if (!context || !data) return data;
  TEvent* ev = AsEvent(data);
  if (ev->id == EVENT_TIMERTICK && gTimer && ev->source.get() == static_cast<void*>(gTimer.get())) {
    static_cast<TAudioStream*>(context.get())->Update();
  }
  return data;
}

void TAudioStream::Attach() {
  if (_attached) return;
  _attached = true;
  InsertHook(EventHookId(), eventhook, std::static_pointer_cast<void>(shared_from_this()), 0);
}

void TAudioStream::Detach() {
  if (!_attached) return;
  _attached = false;
  // The chain's reference may be the last one: keep the stream alive until we return.
  TAudioStreamPtr self = shared_from_this();
  DeleteHook(EventHookId(), eventhook, std::static_pointer_cast<void>(self));
}

void TAudioStream::ReleaseMusic() {
  if (Music && !KeepMusic) Music->Free();
  Music.reset();
}

TAudioStreamPtr TAudioStream::Create(const TMusicPtr& music, int32_t loop, int32_t p) {
  InitAudioStreamModule();
  if (!music) return nullptr;
  music->Seti(MUSIC_ID_LOOP, loop);
  TChannelPtr channel = AllocChannel();
  if (!channel) return nullptr;
  TAudioStreamPtr stream;
  if (dynamic_cast<TDirectSoundChannel*>(channel.get())) {
    stream = TDirectSoundAudioStream::Build(music, p);
  } else if (dynamic_cast<TOpenALChannel*>(channel.get())) {
    stream = TOpenALAudioStream::Build(music, p);
  } else if (dynamic_cast<TSoftAudioChannel*>(channel.get())) {
    stream = TSoftAudioAudioStream::Build(music, p, channel);
  }
  if (!stream) return nullptr;
  stream->Music = music;
  stream->KeepMusic = 1;
  return stream;
}

TAudioStreamPtr TAudioStream::Create(const TMusicSource& source, int32_t loop, int32_t p) {
  InitAudioStreamModule();
  TMusicPtr music = LoadMusic(source);
  if (!music) return nullptr;
  TAudioStreamPtr stream = Create(music, loop, p);
  if (!stream) {
    music->Free();
    return nullptr;
  }
  stream->KeepMusic = 0;
  return stream;
}

TAudioStreamPtr PlayMusic(const TMusicPtr& music, int32_t loop, int32_t paused) {
  return TAudioStream::Create(music, loop, paused);
}
TAudioStreamPtr PlayMusic(const TMusicSource& source, int32_t loop, int32_t paused) {
  return TAudioStream::Create(source, loop, paused);
}

int32_t StreamVolumeToDecibels(float v) {
  if (v >= 1) return 0;
  if (v <= 0) return -10000;
  return std::max(-10000, static_cast<int32_t>(std::log10(static_cast<double>(v)) * 3321.928));
}

// ---- ring streams (DirectSound and SoftAudio) ----
void TRingAudioStream::Update() {
  if (!HasRing() || !Music) return;
  const int32_t play = static_cast<int32_t>(PlayCursor());
  if (finpos >= 0) {
    // The cursor has wrapped since the end was seen when it stands behind where it was on
    // the previous tick (comparing with the cursor at the end alone misses the wrap when
    // the end came while the ring was first filled and the cursor was still at 0).
    if (finloop == 1 && (play < finstart || play < _lastplay)) finloop = 0;
    if (play >= finpos && finloop == 0) {
      Stop();
      return;
    }
  }
  int32_t amount = play - writepos;
  bool wrapped = false;
  if (play < writepos) {
    amount = RING_BYTES - writepos + play;
    wrapped = true;
  }
  amount &= ~(OUT_FRAME - 1);
  if (amount > 0) {
    if (Music->Geti(MUSIC_ID_PLAYING) != 0) {
      if (WriteRing(static_cast<uint32_t>(writepos), static_cast<uint32_t>(amount), false))
        writepos += amount;
    } else {
      WriteRing(static_cast<uint32_t>(writepos), static_cast<uint32_t>(amount), true);
    }
  }
  if (wrapped) writepos = play;
  if (writepos >= RING_BYTES) writepos -= RING_BYTES;
  if (Music->Geti(MUSIC_ID_PLAYING) == 0 && finpos == -1) {
    if (writepos <= play) finloop = 1;
    finpos = writepos;
    finstart = play;
  }
  _lastplay = play;
}

// ---- DirectSound stream ----
int32_t TDirectSoundAudioStream::Startup() {
  TDSDevicePtr dev;
  if (DirectSoundCreate(dev) != DS_OK || !dev) return 0;
  if (dev->SetCooperativeLevel(nullptr, DSSCL_PRIORITY) != DS_OK) {
    dev->Shutdown();
    return 0;
  }
  gDevice = dev;
  return 1;
}

void TDirectSoundAudioStream::ShutDown() {
  if (gDevice) gDevice->Shutdown();
  gDevice.reset();
}

std::shared_ptr<TDirectSoundAudioStream> TDirectSoundAudioStream::Build(const TMusicPtr& music,
                                                                        int32_t p) {
  if (!gDevice) {
    if (!Startup()) return nullptr;  // no usable device: never touch it
    OnEndProgram(ShutDown);
  }
  TWaveFormat fmt;
  fmt.formatTag = 1;
  fmt.channels = 2;
  fmt.samplesPerSec = OUT_RATE;
  fmt.bitsPerSample = 16;
  fmt.blockAlign = 4;
  fmt.avgBytesPerSec = OUT_RATE * 4;
  TDSBufferDesc desc;
  desc.flags = 0x180E0;
  desc.bufferBytes = RING_BYTES;
  desc.format = &fmt;
  TDSBufferPtr buffer;
  if (gDevice->CreateSoundBuffer(desc, buffer) != DS_OK || !buffer) return nullptr;
  auto s = std::make_shared<TDirectSoundAudioStream>();
  s->pDSB = buffer;
  s->Attach();
  s->Music = music;
  music->PlayStatus = 1;
  s->WriteRing(0, RING_BYTES, false);
  // Start (or stay paused) without SetPaused's resume rule: a music that already ended
  // while the ring was first filled must not be marked playing again and start over.
  if (p) s->SetPaused(p);
  else buffer->Play(0, 0, DSBPLAY_LOOPING);
  return s;
}

TDirectSoundAudioStream::~TDirectSoundAudioStream() {
  if (pDSB) pDSB->Stop();
}

uint32_t TDirectSoundAudioStream::PlayCursor() {
  uint32_t play = 0, write = 0;
  if (pDSB) pDSB->GetCurrentPosition(&play, &write);
  return play;
}

bool TDirectSoundAudioStream::WriteRing(uint32_t offset, uint32_t bytes, bool silence) {
  uint32_t status = 0;
  if (pDSB->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) pDSB->Restore();
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (pDSB->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0) != DS_OK) return false;
  if (silence) {
    if (p1) std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
  } else {
    if (p1 && n1) Render(p1, static_cast<int32_t>(n1));
    if (p2 && n2) Render(p2, static_cast<int32_t>(n2));
  }
  pDSB->Unlock(p1, n1, p2, n2);
  return true;
}

void TDirectSoundAudioStream::Stop() {
  if (!pDSB) return;
  TAudioStreamPtr self = shared_from_this();
  Detach();
  pDSB->Stop();
  ReleaseMusic();
  pDSB.reset();
}

void TDirectSoundAudioStream::SetPaused(int p) {
  if (!pDSB) return;
  if (p) {
    paused = p;
    pDSB->Stop();
  } else {
    if (Music) Music->PlayStatus = 1;
    pDSB->Play(0, 0, DSBPLAY_LOOPING);
  }
}

void TDirectSoundAudioStream::SetVolume(float v) {
  if (pDSB) pDSB->SetVolume(StreamVolumeToDecibels(v));
}

void TDirectSoundAudioStream::SetPan(float p) {
  if (pDSB) pDSB->SetPan(static_cast<int32_t>(std::clamp(p, -1.0f, 1.0f) * 10000.0f));
}

void TDirectSoundAudioStream::SetRate(float r) {
  if (pDSB) pDSB->SetFrequency(static_cast<uint32_t>(std::max(0.0f, r * static_cast<float>(samplerate))));
}

int TDirectSoundAudioStream::Playing() {
  if (!pDSB) return 0;
  uint32_t status = 0;
  pDSB->GetStatus(&status);
  return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

// ---- SoftAudio stream: a looping ring voice of the software mixer ----
std::shared_ptr<TSoftAudioAudioStream> TSoftAudioAudioStream::Build(const TMusicPtr& music, int32_t p,
                                                                    const TChannelPtr& channel) {
  auto* sc = dynamic_cast<TSoftAudioChannel*>(channel.get());
  if (!sc || sc->fa_channel == 0) return nullptr;
  std::vector<uint8_t> zeros(RING_BYTES, 0);
  fa_sound* ring = fa_createsound(RING_BYTES / OUT_FRAME, 16, 2, OUT_RATE, zeros.data(), 1, true);
  if (!ring) return nullptr;
  auto s = std::make_shared<TSoftAudioAudioStream>();
  s->_channel = channel;
  s->_ring = ring;
  s->Attach();
  s->Music = music;
  music->PlayStatus = 1;
  s->WriteRing(0, RING_BYTES, false);
  s->_handle = fa_play(ring, p, sc->fa_channel, 0);
  if (s->_handle == 0) {
    s->Stop();
    return nullptr;
  }
  if (p) s->paused = p;
  return s;
}

TSoftAudioAudioStream::~TSoftAudioAudioStream() {
  if (_ring) {
    if (_handle) fa_stop(_handle);
    fa_freesound(_ring);
  }
}

uint32_t TSoftAudioAudioStream::PlayCursor() {
  if (!_handle) return 0;
  int64_t samples = fa_position(_handle);
  uint32_t bytes = static_cast<uint32_t>(samples * 2) % RING_BYTES;
  return bytes & ~static_cast<uint32_t>(OUT_FRAME - 1);
}

bool TSoftAudioAudioStream::WriteRing(uint32_t offset, uint32_t bytes, bool silence) {
  // The ring's bytes are ours; the mixer only reads them, behind the play cursor's lead.
  uint8_t* base = _ring->owned.get();
  while (bytes > 0) {
    uint32_t n = std::min<uint32_t>(bytes, RING_BYTES - offset);
    if (silence) std::memset(base + offset, 0, n);
    else Render(base + offset, static_cast<int32_t>(n));
    bytes -= n;
    offset = (offset + n) % RING_BYTES;
  }
  return true;
}

void TSoftAudioAudioStream::Stop() {
  if (!_ring) return;
  TAudioStreamPtr self = shared_from_this();
  Detach();
  if (_handle) fa_stop(_handle);
  fa_freesound(_ring);
  _ring = nullptr;
  _handle = 0;
  _channel.reset();
  ReleaseMusic();
}

void TSoftAudioAudioStream::SetPaused(int p) {
  if (!_ring) return;
  if (p) paused = p;
  else {
    paused = 0;
    if (Music) Music->PlayStatus = 1;
  }
  fa_setpaused(_handle, p ? 1 : 0);
}

void TSoftAudioAudioStream::SetVolume(float v) {
  if (_handle) fa_setvolume(_handle, std::clamp(v, 0.0f, 1.0f));
}
void TSoftAudioAudioStream::SetPan(float p) {
  if (_handle) fa_setpan(_handle, std::clamp(p, -1.0f, 1.0f));
}
void TSoftAudioAudioStream::SetRate(float r) {
  if (_handle) fa_setrate(_handle, r);
}
int TSoftAudioAudioStream::Playing() {
  if (!_handle) return 0;
  return (fa_status(_handle) & FA_PLAYING) && !(fa_status(_handle) & FA_PAUSED) ? 1 : 0;
}

// ---- OpenAL stream ----
std::shared_ptr<TOpenALAudioStream> TOpenALAudioStream::Build(const TMusicPtr& music, int32_t) {
  const TOpenALApi* al = OpenALApi();
  if (!al) return nullptr;
  auto s = std::make_shared<TOpenALAudioStream>();
  s->_buffers.assign(static_cast<size_t>(s->_buffercount), 0);
  s->_bufferbanks.assign(static_cast<size_t>(s->_buffercount), std::vector<uint8_t>(BUFFER_BYTES));
  al->alGenBuffers(s->_buffercount, s->_buffers.data());
  al->alGenSources(1, &s->_source);
  if (s->_source == 0) {
    al->alDeleteBuffers(s->_buffercount, s->_buffers.data());
    return nullptr;
  }
  al->alSource3f(s->_source, OAL_POSITION, 0, 0, 0);
  al->alSource3f(s->_source, OAL_VELOCITY, 0, 0, 0);
  al->alSource3f(s->_source, OAL_DIRECTION, 0, 0, 0);
  al->alSourcef(s->_source, OAL_ROLLOFF_FACTOR, 0);
  al->alSourcei(s->_source, OAL_SOURCE_RELATIVE, OAL_TRUE);
  s->Attach();
  s->Music = music;
  music->PlayStatus = 1;
  for (int i = 0; i < s->_buffercount; ++i) s->FillBuffer(i);
  al->alSourceQueueBuffers(s->_source, s->_buffercount, s->_buffers.data());
  al->alSourcePlay(s->_source);
  return s;
}

TOpenALAudioStream::~TOpenALAudioStream() {
  if (_source) {
    if (const TOpenALApi* al = OpenALApi()) {
      al->alSourceStop(_source);
      al->alDeleteSources(1, &_source);
      al->alDeleteBuffers(_buffercount, _buffers.data());
    }
  }
}

void TOpenALAudioStream::FillBuffer(int index) {
  const TOpenALApi* al = OpenALApi();
  auto& bank = _bufferbanks[static_cast<size_t>(index)];
  Render(bank.data(), BUFFER_BYTES);
  al->alBufferData(_buffers[static_cast<size_t>(index)], OAL_FORMAT_STEREO16, bank.data(), BUFFER_BYTES,
                   samplerate);
}

void TOpenALAudioStream::Update() {
  const TOpenALApi* al = OpenALApi();
  if (!_source || !Music || !al) return;
  if (Music->Geti(MUSIC_ID_PLAYING) == 0 && Playing() == 0) {
    Stop();
    return;
  }
  int processed = 0;
  al->alGetSourcei(_source, OAL_BUFFERS_PROCESSED, &processed);
  for (int k = 0; k < processed; ++k) {
    unsigned id = 0;
    al->alSourceUnqueueBuffers(_source, 1, &id);
    if (Music->Geti(MUSIC_ID_PLAYING) != 0) {
      auto it = std::find(_buffers.begin(), _buffers.end(), id);
      if (it == _buffers.end()) continue;
      FillBuffer(static_cast<int>(it - _buffers.begin()));
      al->alSourceQueueBuffers(_source, 1, &id);
    }
  }
  int state = 0;
  al->alGetSourcei(_source, OAL_SOURCE_STATE, &state);
  if (state != OAL_PLAYING && paused == 0) {
    int queued = 0;
    al->alGetSourcei(_source, OAL_BUFFERS_QUEUED, &queued);
    if (queued > 0) al->alSourcePlay(_source);
  }
}

void TOpenALAudioStream::Stop() {
  if (!_source) return;
  const TOpenALApi* al = OpenALApi();
  TAudioStreamPtr self = shared_from_this();
  al->alSourceStop(_source);
  Detach();
  al->alDeleteSources(1, &_source);
  al->alDeleteBuffers(_buffercount, _buffers.data());
  ReleaseMusic();
  _buffers.clear();
  _bufferbanks.clear();
  _source = 0;
}

void TOpenALAudioStream::SetPaused(int p) {
  if (!_source) return;
  const TOpenALApi* al = OpenALApi();
  if (p && !paused) {
    paused = p;
    al->alSourceStop(_source);
  } else if (!p && paused) {
    paused = 0;
    if (Music) Music->PlayStatus = 1;
    al->alSourcePlay(_source);
  }
}

void TOpenALAudioStream::SetVolume(float v) {
  if (_source) OpenALApi()->alSourcef(_source, OAL_GAIN, v);
}
void TOpenALAudioStream::SetRate(float r) {
  if (_source) OpenALApi()->alSourcef(_source, OAL_PITCH, r);
}
void TOpenALAudioStream::SetPan(float p) {
  if (!_source) return;
  double a = std::clamp(p, -1.0f, 1.0f) * 90.0 * M_PI / 180.0;
  OpenALApi()->alSource3f(_source, OAL_POSITION, static_cast<float>(std::sin(a)), 0,
                          static_cast<float>(-std::cos(a)));
}
int TOpenALAudioStream::Playing() {
  if (!_source) return 0;
  int state = 0;
  OpenALApi()->alGetSourcei(_source, OAL_SOURCE_STATE, &state);
  return state == OAL_PLAYING ? 1 : 0;
}

// ---- wave files ----
namespace {
// Four bytes in file order; fewer than four available gives an empty tag.
std::string ReadTag(TStream& s) {
  char t[4];
  int got = 0;
  while (got < 4 && !s.Eof()) {
    int n = s.Read(t + got, 4 - got);
    if (n <= 0) break;
    got += n;
  }
  return got == 4 ? std::string(t, 4) : std::string();
}
}  // namespace

std::shared_ptr<TWavStream> TWavStream::Load(const TMusicSource& source) {
  TStreamPtr s = source.stream ? OpenForReading(source.stream) : OpenForReading(source.url);
  if (!s) return nullptr;
  if (s->Seek(s->Pos() < 0 ? 0 : s->Pos()) < 0 || s->Pos() < 0) {
    // Not seekable: read it whole and play it from memory.
    s = TRamStream::FromBytes(LoadAllBytes(s));
  }
  if (ReadTag(*s) != "RIFF") return nullptr;
  s->ReadInt();
  if (ReadTag(*s) != "WAVE" || ReadTag(*s) != "fmt ") return nullptr;
  int32_t length = s->ReadInt();
  int tag = s->ReadShort();
  int channels = s->ReadShort();
  int32_t rate = s->ReadInt();
  s->ReadInt();
  s->ReadShort();
  int bits = s->ReadShort();
  if (tag != 1) return nullptr;
  int32_t format;
  if (bits == 8 && channels == 1) format = MUSIC_MONO8;
  else if (bits == 8 && channels == 2) format = MUSIC_STEREO8;
  else if (bits == 16 && channels == 1) format = MUSIC_MONO16;
  else if (bits == 16 && channels == 2) format = MUSIC_STEREO16;
  else return nullptr;
  if (rate <= 0) return nullptr;
  if (length > 16) s->SkipBytes(length - 16);
  int32_t dataSize = 0;
  while (!s->Eof()) {
    std::string t = ReadTag(*s);
    if (t.empty()) break;
    int32_t n = s->ReadInt();
    if (t == "data") {
      dataSize = n;
      break;
    }
    if (n < 0) break;
    s->SkipBytes(n);
  }
  // A data chunk that claims more than the file holds plays what is there.
  int64_t left = s->Size() - s->Pos();
  if (dataSize < 0 || dataSize > left) dataSize = static_cast<int32_t>(std::max<int64_t>(0, left));
  dataSize -= dataSize % FormatFrameSize(format);
  auto w = std::make_shared<TWavStream>();
  w->stream = s;
  w->SAMPLE_RATE = rate;
  w->STREAM_FORMAT = format;
  w->STREAM_SIZE = dataSize;
  w->STREAM_POS = 0;
  w->loopseek = static_cast<int32_t>(s->Pos());
  return w;
}

int32_t TWavStream::FillBuffer(void* buffer, int32_t request) {
  if (request <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  const uint8_t silence = (STREAM_FORMAT == MUSIC_MONO8 || STREAM_FORMAT == MUSIC_STEREO8) ? 0x80 : 0;
  int32_t done = 0;
  while (done < request) {
    int32_t left = STREAM_SIZE - STREAM_POS;
    int32_t n = std::min(request - done, left);
    if (n > 0 && stream) {
      stream->ReadBytes(out + done, n);
      STREAM_POS += n;
      done += n;
    }
    if (STREAM_POS < STREAM_SIZE) continue;
    // End of data: a looping file goes on from its first data byte in the same request.
    if (STREAM_LOOP == 1 && STREAM_SIZE > 0) {
      if (stream) stream->Seek(loopseek);
      STREAM_POS = 0;
      continue;
    }
    if (STREAM_LOOP == 1) break;  // nothing to loop over
    PlayStatus = 0;
    Stop();
    break;
  }
  if (done < request) std::memset(out + done, silence, static_cast<size_t>(request - done));
  return request;
}

void TWavStream::Stop() {
  if (stream) stream->Seek(loopseek);
  STREAM_POS = 0;
}

// ---- module ----
void InitAudioStreamModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitMusicBaseModule();
  InitEventModule();
  InitAudioModule();
  CantorLoader::Create([](const TMusicSource& src) -> TMusicPtr { return TWavStream::Load(src); },
                       u"Microsoft Wave \".wav\"", u"wav");
  gTimer = TTimer::Create(120);
  // The timer's platform thread must be ended before the process's statics go.
  OnEndProgram([] {
    if (gTimer) gTimer->Stop();
    gTimer.reset();
  });
}

TTimerPtr AudioStreamTimer() { return gTimer; }
