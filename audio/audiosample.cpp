// Audio samples, format conversion and the sample loaders (WAV, Ogg Vorbis).
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <ormix/audio/audio.h>
#include <ormix/audio/wavefile.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/registry.h>

const int32_t BytesPerSample[7] = {0, 1, 2, 2, 2, 4, 4};
const int32_t ChannelsPerSample[7] = {0, 1, 1, 1, 2, 2, 2};

int32_t SampleBytes(int32_t format) { return format >= 1 && format <= 6 ? BytesPerSample[format] : 0; }
int32_t SampleChannels(int32_t format) { return format >= 1 && format <= 6 ? ChannelsPerSample[format] : 0; }

TAudioSamplePtr NewAudioSample(int32_t length, int32_t hertz, int32_t format) {
  auto s = std::make_shared<TAudioSample>();
  if (length < 0) length = 0;
  s->length = length;
  s->hertz = hertz;
  s->format = format;
  size_t n = s->ByteSize();
  s->_owned.reset(new uint8_t[n ? n : 1]());
  s->samples = s->_owned.get();
  s->capacity = static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
  return s;
}

TAudioSamplePtr WrapAudioSample(void* samples, int32_t length, int32_t hertz, int32_t format) {
  auto s = std::make_shared<TAudioSample>();
  s->samples = static_cast<uint8_t*>(samples);
  s->length = length < 0 ? 0 : length;
  s->hertz = hertz;
  s->format = format;
  s->capacity = -1;
  return s;
}

TAudioSamplePtr TAudioSample::Copy() const {
  TAudioSamplePtr c = NewAudioSample(length, hertz, format);
  size_t n = ByteSize();
  if (n && samples) std::memcpy(c->samples, samples, n);
  return c;
}

namespace {

// One frame in the middle form: two signed 16-bit values.
inline void ReadFrame(const uint8_t* p, int32_t format, int16_t& l, int16_t& r) {
  auto from8 = [](uint8_t u) {
    // High byte u - 128, low byte u: 0x80 -> 0x0080, 0xFF -> 0x7FFF, 0x00 -> 0x8000.
    return static_cast<int16_t>(static_cast<uint16_t>((static_cast<uint8_t>(u - 128) << 8) | u));
  };
  auto le = [](const uint8_t* q) { return static_cast<int16_t>(static_cast<uint16_t>(q[0] | (q[1] << 8))); };
  auto be = [](const uint8_t* q) { return static_cast<int16_t>(static_cast<uint16_t>((q[0] << 8) | q[1])); };
  switch (format) {
    case SF_MONO8: l = r = from8(p[0]); break;
    case SF_MONO16LE: l = r = le(p); break;
    case SF_MONO16BE: l = r = be(p); break;
    case SF_STEREO8: l = from8(p[0]); r = from8(p[1]); break;
    case SF_STEREO16LE: l = le(p); r = le(p + 2); break;
    default: l = be(p); r = be(p + 2); break;
  }
}

inline void WriteFrame(uint8_t* p, int32_t format, int16_t l, int16_t r) {
  auto to8 = [](int16_t v) { return static_cast<uint8_t>((static_cast<int32_t>(v) + 32768) / 257); };
  auto le = [](uint8_t* q, int16_t v) {
    q[0] = static_cast<uint8_t>(v & 0xFF);
    q[1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
  };
  auto be = [](uint8_t* q, int16_t v) {
    q[0] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
    q[1] = static_cast<uint8_t>(v & 0xFF);
  };
  switch (format) {
    case SF_MONO8: p[0] = to8(l); break;
    case SF_MONO16LE: le(p, l); break;
    case SF_MONO16BE: be(p, l); break;
    case SF_STEREO8: p[0] = to8(l); p[1] = to8(r); break;
    case SF_STEREO16LE: le(p, l); le(p + 2, r); break;
    default: be(p, l); be(p + 2, r); break;
  }
}

}  // namespace

TAudioSamplePtr TAudioSample::Convert(int32_t to) const {
  if (to == format) return Copy();
  if (SampleBytes(format) == 0 || SampleBytes(to) == 0)
    throw TRuntimeException("Unimplemented sample format conversion");
  TAudioSamplePtr c = NewAudioSample(length, hertz, to);
  const int32_t sb = SampleBytes(format), tb = SampleBytes(to);
  for (int32_t i = 0; i < length; ++i) {
    int16_t l, r;
    ReadFrame(samples + static_cast<size_t>(i) * sb, format, l, r);
    WriteFrame(c->samples + static_cast<size_t>(i) * tb, to, l, r);
  }
  return c;
}

TAudioSamplePtr LittleEndianSample(const TAudioSamplePtr& s) {
  if (!s) return s;
  if (s->format == SF_MONO16BE) return s->Convert(SF_MONO16LE);
  if (s->format == SF_STEREO16BE) return s->Convert(SF_STEREO16LE);
  return s;
}

// ---- loader chain ----

namespace {
TRegistry<TAudioSampleLoader*, TRegistryOrder::NewestFirst>& Loaders() {
  static auto* loaders = new TRegistry<TAudioSampleLoader*, TRegistryOrder::NewestFirst>;  // outlives every loader
  return *loaders;
}
}  // namespace

TAudioSampleLoader::TAudioSampleLoader() { Loaders().Add(this); }
TAudioSampleLoader::~TAudioSampleLoader() { Loaders().Remove(this); }

TAudioSampleLoader* AudioSampleLoaders() { return Loaders().Front(); }

TAudioSamplePtr LoadAudioSample(const TStreamPtr& source) {
  if (!source) return nullptr;
  InitAudioModule();
  return TAudioSource(source).Load();
}

TAudioSamplePtr LoadAudioSample(const Text& url) {
  InitAudioModule();
  return TAudioSource(url).Load();
}

TAudioSamplePtr TAudioSource::Load() const {
  if (sample) return sample;
  InitAudioModule();
  TStreamPtr s = stream ? OpenForReading(stream) : OpenForReading(url);
  if (!s) return nullptr;
  int64_t start = s->Pos();
  if (start < 0) {
    s->Close();
    throw TRuntimeException("Stream is not seekable");
  }
  TAudioSamplePtr result;
  try {
    result = Loaders().FirstAnswer([&](TAudioSampleLoader* l) -> TAudioSamplePtr {
      s->Seek(start);
      try {
        return l->LoadAudioSample(s);
      } catch (const TStreamException&) {
        return nullptr;  // a stream failure is this loader's refusal
      }
    });
  } catch (...) {
    s->Close();
    throw;
  }
  s->Close();
  return result;
}

// ---- WAV ----

TAudioSamplePtr TAudioSampleLoaderWAV::LoadAudioSample(const TStreamPtr& sp) {
  TStream& s = *sp;
  TWaveLayout wave;
  if (!ReadWaveHeader(s, wave) || !wave.hasData) return nullptr;
  const int32_t format = wave.format.channels == 1 ? (wave.format.bits == 8 ? SF_MONO8 : SF_MONO16LE)
                                                   : (wave.format.bits == 8 ? SF_STEREO8 : SF_STEREO16LE);
  // A data chunk that claims more than the file holds gives what is there. From a stream
  // that cannot tell its size the bytes are collected as they arrive, so a length the
  // stream does not back allocates nothing.
  const int32_t bpf = SampleBytes(format);
  const int64_t want = std::min<int64_t>(wave.bytes / bpf, INT32_MAX / 4) * bpf;
  auto readInto = [&s](uint8_t* at, int64_t count) {
    int64_t got = 0;
    while (got < count && !s.Eof()) {
      const int r = s.Read(at + got, static_cast<int>(std::min<int64_t>(count - got, 1 << 20)));
      if (r <= 0) break;
      got += r;
    }
    return got;
  };
  if (s.Remaining() >= 0) {
    TAudioSamplePtr sample = NewAudioSample(static_cast<int32_t>(want / bpf), wave.format.rate, format);
    sample->length = static_cast<int32_t>(readInto(sample->samples, want) / bpf);
    return sample;
  }
  std::vector<uint8_t> bytes;
  for (int64_t got = 0; got < want;) {
    const int64_t piece = std::min<int64_t>(want - got, 1 << 20);
    bytes.resize(static_cast<size_t>(got + piece));
    const int64_t n = readInto(bytes.data() + got, piece);
    got += n;
    bytes.resize(static_cast<size_t>(got));
    if (n < piece) break;  // the stream ended
  }
  TAudioSamplePtr sample = NewAudioSample(static_cast<int32_t>(bytes.size() / bpf), wave.format.rate, format);
  if (sample->length > 0) std::memcpy(sample->samples, bytes.data(), sample->ByteSize());
  return sample;
}

// ---- Ogg Vorbis ----

namespace {
size_t OggRead(void* ptr, size_t size, size_t count, void* src) {
  if (size == 0 || count == 0) return 0;
  TStream* s = static_cast<TStream*>(src);
  uint8_t* p = static_cast<uint8_t*>(ptr);
  size_t want = size * count, got = 0;
  try {
    while (got < want && !s->Eof()) {
      int n = s->Read(p + got, static_cast<int>(std::min<size_t>(want - got, 1 << 20)));
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  } catch (...) {
    // Nothing may be thrown through the decoder; what was read so far counts.
  }
  return got / size;
}

int OggSeek(void* src, ogg_int64_t off, int whence) {
  TStream* s = static_cast<TStream*>(src);
  try {
    int64_t base = 0;
    if (whence == SEEK_CUR) base = s->Pos();
    else if (whence == SEEK_END) base = s->Size();
    if (base < 0) return -1;
    int64_t target = base + off;
    if (target < 0) return -1;
    return s->Seek(target) < 0 ? -1 : 0;
  } catch (...) {
    return -1;
  }
}

int OggClose(void*) { return 0; }

long OggTell(void* src) {
  try {
    return static_cast<long>(static_cast<TStream*>(src)->Pos());
  } catch (...) {
    return -1;
  }
}
}  // namespace

TAudioSamplePtr TAudioSampleLoaderOGG::LoadAudioSample(const TStreamPtr& sp) {
  OggVorbis_File vf;
  ov_callbacks cb{OggRead, OggSeek, OggClose, OggTell};
  if (ov_open_callbacks(sp.get(), &vf, nullptr, 0, cb) != 0) return nullptr;
  struct Release {
    OggVorbis_File* f;
    ~Release() { ov_clear(f); }
  } release{&vf};
  vorbis_info* info = ov_info(&vf, -1);
  if (!info || info->channels < 1 || info->rate <= 0) return nullptr;
  const int channels = info->channels;
  const int32_t rate = static_cast<int32_t>(info->rate);
  ogg_int64_t total = ov_pcm_total(&vf, -1);
  if (total < 0) return nullptr;
  const int32_t format = channels == 1 ? SF_MONO16LE : SF_STEREO16LE;
  const int outch = channels == 1 ? 1 : 2;
  total = std::min<ogg_int64_t>(total, INT32_MAX / 8);

  // Decoded frames are collected as they come, so a stream that claims more than it
  // holds allocates only for what it really decodes. Streams of more than two channels
  // keep their first two.
  std::vector<int16_t> pcm;
  pcm.reserve(static_cast<size_t>(std::min<ogg_int64_t>(total, 1 << 22)) * outch);
  char buf[8192];
  ogg_int64_t frames = 0;
  while (frames < total) {
    int bitstream = 0;
    long n = ov_read(&vf, buf, sizeof(buf), 0, 2, 1, &bitstream);
    if (n == 0) break;           // ended early: keep what was decoded
    if (n < 0) return nullptr;   // decoding error
    vorbis_info* vi = ov_info(&vf, bitstream);
    int ch = vi ? vi->channels : channels;
    if (ch < 1) return nullptr;
    long got = n / (2 * ch);
    const int16_t* src = reinterpret_cast<const int16_t*>(buf);
    for (long i = 0; i < got && frames < total; ++i, ++frames) {
      int16_t l = src[i * ch];
      int16_t r = ch > 1 ? src[i * ch + 1] : l;
      pcm.push_back(l);
      if (outch == 2) pcm.push_back(r);
    }
  }
  TAudioSamplePtr sample = NewAudioSample(static_cast<int32_t>(frames), rate, format);
  if (!pcm.empty()) std::memcpy(sample->samples, pcm.data(), pcm.size() * sizeof(int16_t));
  return sample;
}
