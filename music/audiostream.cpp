#include <ormix/music/audiostream.h>

#include "loaders/loader_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>

namespace {
constexpr int32_t OUT_FRAME = 4;  // 16-bit stereo

inline int16_t Clamp16(int32_t v) {
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}
}  // namespace

// ---- conversion to the output layout ----
TMusicConverter::TMusicConverter()
    : _raw(static_cast<size_t>(CHUNK) * 4), _src(static_cast<size_t>(CHUNK + 4) * 2) {}

void TMusicConverter::Reset() {
  _srcFrames = 0;
  _live = 0;
  _pos = 0;
}

bool TMusicConverter::Pending() const { return static_cast<int64_t>(_pos >> 32) < _live; }

void TMusicConverter::Render(TMusic& music, void* out, int32_t bytes) {
  if (bytes <= 0) return;
  const int32_t format = music.STREAM_FORMAT;
  const int32_t rate = music.SAMPLE_RATE;
  if (format == MUSIC_STEREO16 && rate == AUDIO_OUTPUT_RATE && _srcFrames == 0) {
    // A music that has ended is not asked again: a wave file rewinds at its end and
    // would play once more.
    if (music.PlayStatus != 0) music.FillBuffer(out, bytes);
    else std::memset(out, 0, static_cast<size_t>(bytes));
    return;
  }
  const int32_t frameSize = FormatFrameSize(format);
  auto* dst = static_cast<int16_t*>(out);
  const int32_t frames = bytes / OUT_FRAME;
  if (frameSize == 0 || rate <= 0) {
    std::memset(out, 0, static_cast<size_t>(bytes));
    return;
  }
  const uint64_t step = (static_cast<uint64_t>(std::min(rate, 1000000)) << 32) / AUDIO_OUTPUT_RATE;
  for (int32_t i = 0; i < frames; ++i) {
    uint32_t idx = static_cast<uint32_t>(_pos >> 32);
    while (static_cast<int32_t>(idx) + 1 >= _srcFrames) {
      // Keep the frames still needed for interpolation, then pull another chunk.
      int32_t keep = std::max(0, _srcFrames - static_cast<int32_t>(idx));
      if (keep > 0)
        std::memmove(_src.data(), _src.data() + static_cast<size_t>(idx) * 2,
                     static_cast<size_t>(keep) * 2 * sizeof(int16_t));
      _pos -= static_cast<uint64_t>(_srcFrames - keep) << 32;
      _live = std::max(0, _live - (_srcFrames - keep));
      _srcFrames = keep;
      const int32_t want = CHUNK;
      const int32_t rawBytes = want * frameSize;
      // What is pulled while the music plays is heard in full, even when the music stops
      // within this pull; what follows its end is silence.
      const bool live = music.PlayStatus != 0;
      if (live) {
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
      if (live) _live = _srcFrames;
      idx = static_cast<uint32_t>(_pos >> 32);
    }
    const int32_t frac = static_cast<int32_t>((_pos & 0xFFFFFFFFull) >> 16);
    const int16_t* a = _src.data() + static_cast<size_t>(idx) * 2;
    // Neighbours may differ by up to 65535: the product needs 64 bits.
    dst[2 * i] = Clamp16(a[0] + static_cast<int32_t>((static_cast<int64_t>(a[2] - a[0]) * frac) >> 16));
    dst[2 * i + 1] = Clamp16(a[1] + static_cast<int32_t>((static_cast<int64_t>(a[3] - a[1]) * frac) >> 16));
    _pos += step;
  }
}

// ---- a music as what a stream plays ----
namespace {
class TMusicStreamSource : public TAudioStreamSource {
public:
  // `owned`: the music was loaded for the stream; a music the caller handed in is never
  // freed here, whatever the stream asks (a stream that fails to start lets go of its
  // source before the caller's keep flag is set).
  TMusicStreamSource(TMusicPtr music, bool owned) : _music(std::move(music)), _owned(owned) {}
  void Render(void* out, int32_t bytes) override { _conv.Render(*_music, out, bytes); }
  // A music that has stopped still plays what the converter read ahead of the output.
  bool Playing() override { return _music->Geti(MUSIC_ID_PLAYING) != 0 || _conv.Pending(); }
  void Start() override { _music->PlayStatus = 1; }
  void Release(bool free) override {
    if (free && _owned) _music->Free();
  }

private:
  TMusicPtr _music;
  bool _owned;
  TMusicConverter _conv;
};
}  // namespace

namespace {
TAudioStreamPtr StartStream(const TMusicPtr& music, int32_t loop, int32_t paused, bool owned) {
  music->Seti(MUSIC_ID_LOOP, loop);
  TAudioStreamPtr stream =
      CurrentAudioDriver()->CreateAudioStream(std::make_shared<TMusicStreamSource>(music, owned), paused);
  if (stream) stream->KeepMusic = owned ? 0 : 1;
  return stream;
}
}  // namespace

TAudioStreamPtr PlayMusic(const TMusicPtr& music, int32_t loop, int32_t paused) {
  InitAudioStreamModule();
  if (!music) return nullptr;
  return StartStream(music, loop, paused, false);
}

TAudioStreamPtr PlayMusic(const TMusicSource& source, int32_t loop, int32_t paused) {
  InitAudioStreamModule();
  TMusicPtr music = LoadMusic(source);
  if (!music) return nullptr;
  TAudioStreamPtr stream = StartStream(music, loop, paused, true);
  if (!stream) music->Free();
  return stream;
}

// ---- wave files (loaded by loaders/wav_loader.cpp) ----
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
  StartAudioStreamTimer();
  RegisterWaveMusicLoader();
}
