#include "softmixer.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <ormix/runtime/runtime.h>

// ---- voice ----

void sound::reset(fa_sound* s, int32_t h, bool fof, bool paused) {
  snd = s;
  handle = h;
  freeonfinish.store(fof, std::memory_order_relaxed);
  pos.store(0, std::memory_order_relaxed);
  played = 0;
  oldrate = 0x10000;
  rate.store(0x10000, std::memory_order_relaxed);
  oldvolume = 4096;
  volume.store(4096, std::memory_order_relaxed);
  pan.store(0, std::memory_order_relaxed);
  depth.store(0, std::memory_order_relaxed);
  delay = 0;
  next = nullptr;
  status.store(FA_PLAYING | (s->loop ? FA_LOOP : 0) | (paused ? FA_PAUSED : 0), std::memory_order_relaxed);
}

namespace {
// Sets or clears bits of a live voice's status; finished and stopped voices stay as they
// are even when the mixer changes them at the same moment.
void ChangeLiveBits(std::atomic<int32_t>& status, int32_t bits, bool on) {
  int32_t cur = status.load(std::memory_order_relaxed);
  for (;;) {
    if (!(cur & FA_PLAYING)) return;
    int32_t want = on ? (cur | bits) : (cur & ~bits);
    if (status.compare_exchange_weak(cur, want, std::memory_order_relaxed)) return;
  }
}
}  // namespace

int sound::setpaused(int32_t p) { ChangeLiveBits(status, FA_PAUSED, p != 0); return 1; }
int sound::setloop(int32_t l) { ChangeLiveBits(status, FA_LOOP, l != 0); return 1; }
int sound::setstreaming(int32_t s) { ChangeLiveBits(status, FA_STREAMING, s != 0); return 1; }
int sound::setposition(int64_t samples) {
  if (samples < 0) samples = 0;
  pos.store(static_cast<uint64_t>(samples) << 32, std::memory_order_relaxed);
  return 1;
}

namespace {

template <int Bits>
inline int32_t Sample(const uint8_t* data, uint32_t index) {
  if constexpr (Bits == 8) {
    return static_cast<int32_t>(data[index]) * 256 - 32768;
  } else {
    int16_t v;
    std::memcpy(&v, data + 2 * static_cast<size_t>(index), 2);
    return v;
  }
}

// Wrapping add: a pile of full-scale voices must not overflow into undefined behaviour.
inline void Add(int32_t& a, int32_t v) {
  a = static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(v));
}

struct LoopState {
  uint64_t fpos;    // 32.32 frames
  uint64_t step;    // 32.32 frames per output frame
  int64_t dstep;    // per-frame step change while ramping
  int32_t gl, gr;   // 16.16 gains while ramping, 12-bit otherwise
  int32_t dgl, dgr;
  uint64_t played;  // in samples
};

#if defined(__x86_64__) || defined(__i386__)
// Mixes `n` frames of 16-bit sound with a constant step, eight at a time, where every frame
// reads a frame and its successor inside the sound (the caller guarantees it). Gives the
// same sums as the scalar loop: the same integer steps, in 32-bit lanes.
template <int Ch>
__attribute__((target("avx2"))) int Mix16Avx2(const uint8_t* data, int32_t* acc, int n, uint64_t& fposRef,
                                                  uint64_t step, int32_t gl, int32_t gr) {
  uint64_t fpos = fposRef;
  __m256i p0 = _mm256_setr_epi64x(static_cast<long long>(fpos), static_cast<long long>(fpos + step),
                                  static_cast<long long>(fpos + 2 * step), static_cast<long long>(fpos + 3 * step));
  const __m256i step4 = _mm256_set1_epi64x(static_cast<long long>(4 * step));
  const __m256i step8 = _mm256_set1_epi64x(static_cast<long long>(8 * step));
  __m256i p1 = _mm256_add_epi64(p0, step4);
  const __m256i hiIdx = _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7);
  const __m256i loIdx = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m256i fracMask = _mm256_set1_epi32(0x7FFF);
  const __m256i vgl = _mm256_set1_epi32(gl), vgr = _mm256_set1_epi32(gr);
  const int groups = n / 8;
  for (int g = 0; g < groups; ++g) {
    // Integer frame index (high words) and 15-bit fraction (from the low words) of each lane.
    __m256i hi = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(p0, hiIdx),
                                    _mm256_permutevar8x32_epi32(p1, hiIdx), 0xF0);
    __m256i lo = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(p0, loIdx),
                                    _mm256_permutevar8x32_epi32(p1, loIdx), 0xF0);
    __m256i frac = _mm256_and_si256(_mm256_srli_epi32(lo, 17), fracMask);
    __m256i l, r;
    if constexpr (Ch == 1) {
      // One 32-bit read gives a sample (low half) and its successor (high half).
      __m256i pair = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data), hi, 2);
      __m256i a = _mm256_srai_epi32(_mm256_slli_epi32(pair, 16), 16);
      __m256i b = _mm256_srai_epi32(pair, 16);
      l = _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(b, a), frac), 15));
      r = l;
    } else {
      // One 32-bit read gives a frame's left (low half) and right (high half) samples.
      __m256i f0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data), hi, 4);
      __m256i f1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data + 4), hi, 4);
      __m256i a = _mm256_srai_epi32(_mm256_slli_epi32(f0, 16), 16), b = _mm256_srai_epi32(_mm256_slli_epi32(f1, 16), 16);
      __m256i c = _mm256_srai_epi32(f0, 16), d = _mm256_srai_epi32(f1, 16);
      l = _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(b, a), frac), 15));
      r = _mm256_add_epi32(c, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(d, c), frac), 15));
    }
    __m256i vl = _mm256_srai_epi32(_mm256_mullo_epi32(l, vgl), 8);
    __m256i vr = _mm256_srai_epi32(_mm256_mullo_epi32(r, vgr), 8);
    __m256i u0 = _mm256_unpacklo_epi32(vl, vr);  // L0 R0 L1 R1 | L4 R4 L5 R5
    __m256i u1 = _mm256_unpackhi_epi32(vl, vr);  // L2 R2 L3 R3 | L6 R6 L7 R7
    int32_t* out = acc + 16 * g;
    __m256i* o0 = reinterpret_cast<__m256i*>(out);
    __m256i* o1 = reinterpret_cast<__m256i*>(out + 8);
    _mm256_storeu_si256(o0, _mm256_add_epi32(_mm256_loadu_si256(o0), _mm256_permute2x128_si256(u0, u1, 0x20)));
    _mm256_storeu_si256(o1, _mm256_add_epi32(_mm256_loadu_si256(o1), _mm256_permute2x128_si256(u0, u1, 0x31)));
    p0 = _mm256_add_epi64(p0, step8);
    p1 = _mm256_add_epi64(p1, step8);
  }
  fposRef = fpos + static_cast<uint64_t>(groups) * 8 * step;
  return groups * 8;
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
// No AVX2 off x86 (WebAssembly): the scalar loop mixes everything.
template <int Ch>
int Mix16Avx2(const uint8_t*, int32_t*, int, uint64_t&, uint64_t, int32_t, int32_t) {
  return 0;
}
constexpr bool HaveAvx2() { return false; }
#endif

// Mixes up to `count` frames; returns the frames mixed before the sound ended (count when
// it did not end). The frames are taken in runs: inside a run every frame reads a sample
// and its successor without reaching the end, so the run needs no per-frame checks; the
// frames at the end of the sound go one at a time through the wrap and end rules.
template <int Bits, int Ch, bool Ramp>
int MixLoop(const uint8_t* data, uint32_t length, bool loop, int32_t* acc, int count, LoopState& st) {
  const uint64_t fend = static_cast<uint64_t>(length) << 32;
  const uint64_t safeEnd = static_cast<uint64_t>(length - 1) << 32;  // last index with a successor
  uint64_t fpos = st.fpos;
  uint64_t step = st.step;
  int64_t sstep = static_cast<int64_t>(st.step);
  int32_t gl = st.gl, gr = st.gr;
  uint64_t played = 0;
  auto frame = [&](int i, uint32_t idx, uint32_t nxt) {
    int32_t frac = static_cast<int32_t>((fpos >> 17) & 0x7FFF);  // 15 bits keep the product in range
    int32_t a = Sample<Bits>(data, idx * Ch), b = Sample<Bits>(data, nxt * Ch);
    int32_t l = a + (((b - a) * frac) >> 15);
    int32_t r = l;
    if constexpr (Ch == 2) {
      int32_t c = Sample<Bits>(data, idx * 2 + 1), d = Sample<Bits>(data, nxt * 2 + 1);
      r = c + (((d - c) * frac) >> 15);
    }
    int32_t g1 = gl, g2 = gr;
    if constexpr (Ramp) {
      g1 = gl >> 16;
      g2 = gr >> 16;
      gl += st.dgl;
      gr += st.dgr;
      step = static_cast<uint64_t>(sstep);
      sstep += st.dstep;
    }
    Add(acc[2 * i], (l * g1) >> 8);
    Add(acc[2 * i + 1], (r * g2) >> 8);
    fpos += step;
    played += step;
  };
  int i = 0;
  while (i < count) {
    // How many frames can run before one reaches the last sample.
    int run = 0;
    if (fpos < safeEnd) {
      uint64_t maxStep = step;
      if constexpr (Ramp) {
        const int64_t last = sstep + st.dstep * (count - i);
        maxStep = static_cast<uint64_t>(std::max<int64_t>({sstep, last, 0}));
      }
      const uint64_t fit = maxStep ? (safeEnd - fpos - 1) / maxStep + 1 : static_cast<uint64_t>(count - i);
      run = static_cast<int>(std::min<uint64_t>(fit, static_cast<uint64_t>(count - i)));
    }
    if (run > 0) {
      int k = 0;
      if constexpr (Bits == 16 && !Ramp) {
        if (run >= 8 && HaveAvx2()) {
          k = Mix16Avx2<Ch>(data, acc + 2 * i, run, fpos, step, gl, gr);
          played += static_cast<uint64_t>(k) * step;
        }
      }
      for (; k < run; ++k) {
        const uint32_t idx = static_cast<uint32_t>(fpos >> 32);
        frame(i + k, idx, idx + 1);
      }
      i += run;
    } else {
      const uint32_t idx = static_cast<uint32_t>(fpos >> 32);
      uint32_t nxt = idx + 1;
      if (nxt >= length) nxt = loop ? 0 : idx;
      frame(i, idx, nxt);
      ++i;
    }
    if (fpos >= fend) {
      if (!loop) {
        st.fpos = fpos;
        st.played += played * Ch;
        return i;
      }
      fpos %= fend;
    }
  }
  st.fpos = fpos;
  st.played += played * Ch;
  if constexpr (Ramp) {
    st.gl = gl;
    st.gr = gr;
  }
  return count;
}

template <bool Ramp>
int MixAny(const fa_sound* s, bool loop, int32_t* acc, int count, LoopState& st) {
  const uint32_t len = static_cast<uint32_t>(s->length);
  if (s->bits == 8)
    return s->channels == 2 ? MixLoop<8, 2, Ramp>(s->data, len, loop, acc, count, st)
                            : MixLoop<8, 1, Ramp>(s->data, len, loop, acc, count, st);
  return s->channels == 2 ? MixLoop<16, 2, Ramp>(s->data, len, loop, acc, count, st)
                          : MixLoop<16, 1, Ramp>(s->data, len, loop, acc, count, st);
}

void Gains(int32_t vol, int32_t pan, int32_t depth, int32_t& gl, int32_t& gr) {
  gl = gr = vol;
  if (pan > 0) gl = gl * (4096 - pan) / 4096;
  if (pan < 0) gr = gr * (4096 + pan) / 4096;
  if (depth < 0) gr = -gr;
}

}  // namespace

int sound::mix(int32_t* acc, int count) {
  fa_sound* s = snd;
  if (!s || s->freed.load(std::memory_order_acquire)) return -1;
  int32_t st = status.load(std::memory_order_relaxed);
  if (st == FA_STOPPED) return -1;
  if (st & FA_FINISHED) return 1;
  if (st & FA_PAUSED) return -2;

  auto finish = [this]() {
    int32_t cur = status.load(std::memory_order_relaxed);
    for (;;) {
      if (cur == FA_STOPPED) return -1;
      if (status.compare_exchange_weak(cur, FA_FINISHED, std::memory_order_relaxed)) return 1;
    }
  };

  if (delay >= count) {
    delay -= count;
    return 0;
  }
  acc += 2 * delay;
  count -= delay;
  delay = 0;

  const int32_t ch = s->channels;
  const uint32_t length = static_cast<uint32_t>(s->length);
  if (length == 0) return finish();
  const bool loop = (st & FA_LOOP) != 0;
  const int32_t newrate = rate.load(std::memory_order_relaxed);
  const int32_t newvol = volume.load(std::memory_order_relaxed);
  const int32_t p = pan.load(std::memory_order_relaxed);
  const int32_t d = depth.load(std::memory_order_relaxed);
  uint64_t spos = pos.load(std::memory_order_relaxed);
  if (played == 0 && spos == 0) {
    // Nothing heard yet: start at the values set before the first fragment.
    oldrate = newrate;
    oldvolume = newvol;
  }

  auto stepOf = [&](int32_t r) {
    return ((static_cast<uint64_t>(r) << 16) * static_cast<uint64_t>(s->rate)) / AUDIO_OUTPUT_RATE;
  };
  const uint64_t step0 = stepOf(oldrate), step1 = stepOf(newrate);
  const bool ramp = oldrate != newrate || oldvolume != newvol;

  LoopState ls{};
  ls.fpos = spos / static_cast<uint64_t>(ch);
  const uint64_t fend = static_cast<uint64_t>(length) << 32;
  if (ls.fpos >= fend) {
    if (!loop) return finish();  // moved past the end: nothing left to read
    ls.fpos %= fend;
  }

  if (st & FA_STREAMING) {
    // Not mixed until the data this fragment reads has been written.
    uint64_t last = (ls.fpos + std::max(step0, step1) * static_cast<uint64_t>(count)) >> 32;
    int64_t need = static_cast<int64_t>(std::min<uint64_t>(last + 2, length)) * ch;
    if (need > s->written.load(std::memory_order_acquire)) return 0;
  }

  int done;
  if (!ramp && newvol == 0) {
    // Silent: only the position moves.
    uint64_t adv = step1 * static_cast<uint64_t>(count);
    ls.fpos += adv;
    ls.played += adv * ch;
    done = count;
    if (ls.fpos >= fend) {
      if (loop) ls.fpos %= fend;
      else done = -1;
    }
  } else if (!ramp) {
    ls.step = step1;
    Gains(newvol, p, d, ls.gl, ls.gr);
    done = MixAny<false>(s, loop, acc, count, ls);
    if (done < count || (!loop && ls.fpos >= fend)) done = -1;
  } else {
    int32_t gl0, gr0, gl1, gr1;
    Gains(oldvolume, p, d, gl0, gr0);
    Gains(newvol, p, d, gl1, gr1);
    ls.step = step0;
    ls.dstep = (static_cast<int64_t>(step1) - static_cast<int64_t>(step0)) / count;
    ls.gl = gl0 * 65536;
    ls.gr = gr0 * 65536;
    ls.dgl = static_cast<int32_t>((static_cast<int64_t>(gl1 - gl0) * 65536) / count);
    ls.dgr = static_cast<int32_t>((static_cast<int64_t>(gr1 - gr0) * 65536) / count);
    done = MixAny<true>(s, loop, acc, count, ls);
    if (done < count || (!loop && ls.fpos >= fend)) done = -1;
    oldrate = newrate;
    oldvolume = newvol;
  }
  played += ls.played;
  pos.store(ls.fpos * static_cast<uint64_t>(ch), std::memory_order_relaxed);
  if (done < 0) return finish();
  return 0;
}

// ---- rings ----

bool fa_ring::push(sound* s) {
  uint32_t h = _head.load(std::memory_order_relaxed);
  if (h - _tail.load(std::memory_order_acquire) >= 4096) return false;
  _slots[h & 4095] = s;
  _head.store(h + 1, std::memory_order_release);
  return true;
}

sound* fa_ring::pop() {
  uint32_t t = _tail.load(std::memory_order_relaxed);
  if (t == _head.load(std::memory_order_acquire)) return nullptr;
  sound* s = _slots[t & 4095];
  _tail.store(t + 1, std::memory_order_release);
  return s;
}

int fa_ring::size() const {
  return static_cast<int>(_head.load(std::memory_order_acquire) - _tail.load(std::memory_order_acquire));
}

// ---- mixer ----

mixer::mixer(int accsamples)
    : _acc(new int32_t[accsamples]()), _accsize(accsamples), _voices(new sound[FA_VOICES]) {
  for (int i = 0; i < FA_VOICES; ++i) _free.push(&_voices[i]);
}

mixer::~mixer() = default;

sound* mixer::takevoice() { return _free.pop(); }

void mixer::queue(sound* v, uint32_t now) {
  v->queued = now;
  _commands.push(v);
}

int mixer::activecount() const {
  int n = 0;
  for (sound* v = _active; v; v = v->next) ++n;
  return n;
}

void mixer::convert(int32_t* acc, int16_t* out, int samples) {
  for (int i = 0; i < samples; ++i) {
    int32_t v = acc[i] >> 4;
    out[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    acc[i] = 0;
  }
}

void mixer::mix(int16_t* out, int samples) { mix(out, samples, ElapsedMillis()); }

void mixer::mix(int16_t* out, int samples, uint32_t now) {
  samples = std::min(samples, _accsize) & ~1;
  const int frames = samples / 2;
  while (sound* v = _commands.pop()) {
    int32_t ms = static_cast<int32_t>(v->queued + 20 - now);
    v->delay = ms > 0 ? static_cast<int32_t>(static_cast<int64_t>(ms) * AUDIO_OUTPUT_RATE / 1000) : 0;
    v->next = _active;
    _active = v;
  }
  sound** link = &_active;
  while (sound* v = *link) {
    int r = frames > 0 ? v->mix(_acc.get(), frames) : 0;
    if (r == -1 || (r == 1 && v->freeonfinish.load(std::memory_order_relaxed))) {
      *link = v->next;
      v->next = nullptr;
      if (v->snd) v->snd->users.fetch_sub(1, std::memory_order_acq_rel);
      _free.push(v);
    } else {
      link = &v->next;
    }
  }
  convert(_acc.get(), out, samples);
}

// ---- wave-out device ----

int winmmdevice::open() {
  if (_wave) return 0;
  TWaveFormat f;  // PCM, 2 channels, the output rate, 16 bits, block align 4
  if (TWaveOut::Open(_wave, f) != MMSYSERR_NOERROR) return -1;
  _mixer = std::make_unique<mixer>(FRAGMENT);
  _ring.assign(static_cast<size_t>(FRAGMENT) * 2 * RING_FRAGMENTS, 0);
  _header = TWaveHeader{};
  _header.data = _ring.data();
  _header.bufferLength = static_cast<uint32_t>(_ring.size());
  _header.flags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  _header.loops = 2147483647;
  _wave->PrepareHeader(&_header);
  _lead = 6;
  // Start with the same silent lead-in as after an underrun.
  _written = 2u * static_cast<uint32_t>(_lead) * FRAGMENT * 2;
  _pause = 0;
  writeheader();
  if (_autotimer && AudioOutputLockstep()) {
    AudioOutputAddStep(this, [this] { tick(); });
  } else if (_autotimer) {
    _running = true;
    _timer = std::thread([this] {
      auto next = std::chrono::steady_clock::now();
      while (_running.load()) {
        tick();
        next += std::chrono::milliseconds(5);
        auto now = std::chrono::steady_clock::now();
        if (next < now) next = now;
        std::this_thread::sleep_until(next);
      }
    });
  }
  return 0;
}

void winmmdevice::close() {
  AudioOutputRemoveStep(this);
  _running = false;
  if (_timer.joinable()) _timer.join();
  if (_wave) {
    _wave->Reset();
    _wave->UnprepareHeader(&_header);
    _wave->Close();
    _wave.reset();
  }
  _mixer.reset();
}

void winmmdevice::writeheader() {
  if (_wave->Write(&_header) != MMSYSERR_NOERROR) {
    std::printf("waveOutWrite error\n");
    std::fflush(stdout);
  }
}

void winmmdevice::clearring() { std::fill(_ring.begin(), _ring.end(), 0); }

void winmmdevice::tick() {
  if (!_wave) return;
  const uint32_t fb = FRAGMENT * 2;  // bytes per fragment
  if (_pause > 0) {
    if (--_pause == 0) writeheader();
    return;
  }
  uint32_t played = 0;
  if (_wave->GetPosition(&played) != MMSYSERR_NOERROR || played > POSITION_LIMIT) {
    _wave->Reset();
    clearring();
    _written = 0;
    writeheader();
    return;
  }
  if (static_cast<uint64_t>(_written) < static_cast<uint64_t>(played) + 2 * fb) {
    // Underrun: start again further ahead after a pause.
    clearring();
    _wave->Reset();
    if (_lead <= 9) _lead += 2;
    _written = 2u * static_cast<uint32_t>(_lead) * fb;
    _pause = 250;
    return;
  }
  while (static_cast<uint64_t>(_written) < static_cast<uint64_t>(played) + static_cast<uint64_t>(_lead) * fb) {
    uint32_t slot = (_written / fb) % RING_FRAGMENTS;
    _mixer->mix(reinterpret_cast<int16_t*>(_ring.data() + static_cast<size_t>(slot) * fb), FRAGMENT);
    _written += fb;
  }
}

// ---- DirectSound device ----

int dsounddevice::open() {
  if (_buffer) return 0;
  if (DirectSoundCreate(_ds) != DS_OK) return -1;
  if (_ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY) != DS_OK) {
    _ds.reset();
    return -1;
  }
  TWaveFormat f;
  TDSBufferDesc pd;
  pd.flags = DSBCAPS_PRIMARYBUFFER;
  if (_ds->CreateSoundBuffer(pd, _primary) == DS_OK) _primary->SetFormat(f);
  TDSBufferDesc d;
  d.flags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY;
  d.bufferBytes = BUFFER_BYTES;
  d.format = &f;
  _event = std::make_shared<TDSEvent>("SOUNDEVENT");
  std::vector<TDSPositionNotify> points;
  for (uint32_t i = 0; i < 4; ++i) points.push_back({i * QUARTER, _event});
  if (_ds->CreateSoundBuffer(d, _buffer) != DS_OK || _buffer->SetNotificationPositions(points) != DS_OK) {
    _buffer.reset();
    _primary.reset();
    _ds->Shutdown();
    _ds.reset();
    return -1;
  }
  _mixer = std::make_unique<mixer>(ACC_SAMPLES);
  _running = true;
  if (AudioOutputLockstep()) {
    feedstart();
    AudioOutputAddStep(this, [this] { feedstep(); });
  } else {
    _thread = std::thread(&dsounddevice::feed, this);
  }
  return 0;
}

void dsounddevice::close() {
  AudioOutputRemoveStep(this);
  _running = false;
  if (_event) _event->Set();
  if (_thread.joinable()) _thread.join();
  if (_buffer) _buffer->Stop();
  _buffer.reset();
  _primary.reset();
  if (_ds) _ds->Shutdown();
  _ds.reset();
  _event.reset();
  _mixer.reset();
}

void dsounddevice::feedstart() {
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t b1 = 0, b2 = 0;
  if (_buffer->Lock(0, BUFFER_BYTES, &p1, &b1, &p2, &b2, DSBLOCK_ENTIREBUFFER) == DS_OK) {
    std::memset(p1, 0, b1);
    _buffer->Unlock(p1, b1, p2, b2);
  }
  _buffer->Play(0, 0, DSBPLAY_LOOPING);
  _last = 0;
  _wraps = 0;
  _writelin = 0;
}

bool dsounddevice::feedstep() {
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t b1 = 0, b2 = 0;
  uint32_t play = 0;
  _buffer->GetCurrentPosition(&play, nullptr);
  if (play < _last) ++_wraps;
  _last = play;
  uint64_t playlin = _wraps * BUFFER_BYTES + play;
  int64_t room = static_cast<int64_t>(playlin + 2 * QUARTER) - static_cast<int64_t>(_writelin);
  int64_t n = std::clamp<int64_t>(room / QUARTER, 0, 2);
  if (n > 0) {
    uint32_t bytes = static_cast<uint32_t>(n) * QUARTER;
    if (_buffer->Lock(static_cast<uint32_t>(_writelin % BUFFER_BYTES), bytes, &p1, &b1, &p2, &b2, 0) != DS_OK)
      return false;
    _mixer->mix(static_cast<int16_t*>(p1), static_cast<int>(b1 / 2));
    if (p2 && b2) _mixer->mix(static_cast<int16_t*>(p2), static_cast<int>(b2 / 2));
    if (_buffer->Unlock(p1, b1, p2, b2) != DS_OK) return false;
    _writelin += bytes;
  }
  return true;
}

void dsounddevice::feed() {
  feedstart();
  while (_running.load()) {
    if (!feedstep()) break;
    if (!_event->Wait(1000)) break;
  }
  _buffer->Stop();
}

// ---- entry points ----

namespace {

struct Slot {
  sound* voice = nullptr;
  int32_t handle = 0;  // 0 while free
  int32_t nextfree = -1;
};

struct SoftAudioState {
  audiodevice* device = nullptr;
  bool tableopen = false;
  Slot slots[FA_CHANNELS];
  uint32_t generation[FA_CHANNELS] = {};  // kept across close so old handles stay stale
  int32_t freehead = -1;
  std::vector<fa_sound*> sounds;  // every live sound record
};

SoftAudioState& M() {
  static SoftAudioState* state = new SoftAudioState;  // never destroyed: exit actions may still close it
  return *state;
}

Slot* Lookup(int32_t handle) {
  SoftAudioState& m = M();
  if (!m.tableopen || handle == 0) return nullptr;
  Slot& s = m.slots[static_cast<uint32_t>(handle) & (FA_CHANNELS - 1)];
  return s.handle == handle ? &s : nullptr;
}

// Deletes released sounds that no voice uses any more.
void Collect() {
  SoftAudioState& m = M();
  auto it = std::remove_if(m.sounds.begin(), m.sounds.end(), [](fa_sound* s) {
    if (s->freed.load() && s->users.load(std::memory_order_acquire) <= 0) {
      delete s;
      return true;
    }
    return false;
  });
  m.sounds.erase(it, m.sounds.end());
}

}  // namespace

audiodevice* fa_openwinmm() { return new winmmdevice(true); }
audiodevice* fa_opendsound() { return new dsounddevice(); }

int fa_init(audiodevice* device) {
  if (!device) return -1;
  fa_close();
  if (device->open() != 0) {
    delete device;
    return -1;
  }
  SoftAudioState& m = M();
  m.device = device;
  m.freehead = -1;
  for (int i = FA_CHANNELS - 1; i >= 0; --i) {
    m.slots[i].voice = nullptr;
    m.slots[i].handle = 0;
    m.slots[i].nextfree = m.freehead;
    m.freehead = i;
  }
  m.tableopen = true;
  return 0;
}

void fa_close() {
  SoftAudioState& m = M();
  if (m.device) {
    m.device->close();
    delete m.device;
    m.device = nullptr;
  }
  m.tableopen = false;
  for (Slot& s : m.slots) s = Slot{};
  m.freehead = -1;
  // The voices went with the mixer.
  for (fa_sound* s : m.sounds) s->users.store(0);
  Collect();
}

mixer* fa_currentmixer() {
  SoftAudioState& m = M();
  return m.device ? m.device->getmixer() : nullptr;
}

fa_sound* fa_createsound(int32_t length, int32_t bits, int32_t channels, int32_t rate, const void* bytes,
                         int32_t loop, bool copy) {
  if (length < 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2) || rate <= 0 ||
      rate > 1000000 || (!bytes && length > 0))
    return nullptr;
  Collect();
  auto* s = new fa_sound;
  s->length = length;
  s->bits = bits;
  s->channels = channels;
  s->rate = rate;
  s->loop = loop ? 1 : 0;
  size_t n = static_cast<size_t>(length) * static_cast<size_t>(channels) * static_cast<size_t>(bits / 8);
  if (copy) {
    s->owned.reset(new uint8_t[n ? n : 1]);
    if (n) std::memcpy(s->owned.get(), bytes, n);
    s->data = s->owned.get();
  } else {
    s->data = static_cast<const uint8_t*>(bytes);
  }
  s->written.store(static_cast<int64_t>(length) * channels);
  M().sounds.push_back(s);
  return s;
}

void fa_freesound(fa_sound* s) {
  if (!s) return;
  s->freed.store(1, std::memory_order_release);
  Collect();
}

int32_t fa_allocchannel() {
  SoftAudioState& m = M();
  if (!m.tableopen || m.freehead < 0) return 0;
  int32_t i = m.freehead;
  Slot& s = m.slots[i];
  m.freehead = s.nextfree;
  uint32_t h;
  do {
    m.generation[i] += FA_CHANNELS;
    h = m.generation[i] + static_cast<uint32_t>(i);
  } while (h == 0);
  s.handle = static_cast<int32_t>(h);
  s.voice = nullptr;
  s.nextfree = -1;
  return s.handle;
}

void fa_freechannel(int32_t handle) {
  Slot* s = Lookup(handle);
  if (!s) return;
  if (sound* v = s->voice; v && v->handle == handle) {
    // A voice that plays once to its end goes on and is freed when it ends; a looping or
    // paused one would have nobody left to stop it, so it stops now.
    int32_t st = v->status.load(std::memory_order_relaxed);
    if ((st & FA_PLAYING) && !(st & (FA_LOOP | FA_PAUSED)))
      v->freeonfinish.store(true, std::memory_order_relaxed);
    else
      v->stop();
  }
  s->voice = nullptr;
  s->handle = 0;
  SoftAudioState& m = M();
  s->nextfree = m.freehead;
  m.freehead = static_cast<int32_t>(s - m.slots);
}

int32_t fa_play(fa_sound* snd, int32_t paused, int32_t handle, int32_t streaming) {
  mixer* mx = fa_currentmixer();
  if (!mx || !snd || snd->freed.load()) return 0;
  Collect();
  bool allocated = false;
  if (handle == 0) {
    handle = fa_allocchannel();
    if (handle == 0) return 0;
    allocated = true;
  }
  Slot* slot = Lookup(handle);
  if (!slot) return 0;
  sound* v = mx->takevoice();
  if (!v) {
    if (allocated) fa_freechannel(handle);
    return 0;
  }
  if (slot->voice && slot->voice->handle == handle) slot->voice->stop();
  v->reset(snd, handle, allocated, paused != 0);
  if (streaming) v->status.fetch_or(FA_STREAMING, std::memory_order_relaxed);
  snd->users.fetch_add(1, std::memory_order_acq_rel);
  slot->voice = v;
  mx->queue(v, ElapsedMillis());
  return handle;
}

sound* fa_voice(int32_t handle) {
  Slot* s = Lookup(handle);
  if (!s || !s->voice || s->voice->handle != handle) return nullptr;
  return s->voice;
}

void fa_stop(int32_t handle) {
  if (sound* v = fa_voice(handle)) v->stop();
}

void fa_setpaused(int32_t handle, int32_t paused) {
  if (sound* v = fa_voice(handle)) v->setpaused(paused);
}

void fa_setvolume(int32_t handle, float volume) {
  if (sound* v = fa_voice(handle)) v->setvolume(static_cast<int32_t>(std::clamp(volume, 0.0f, 1.0f) * 4096));
}

void fa_setpan(int32_t handle, float pan) {
  if (sound* v = fa_voice(handle)) v->setpan(static_cast<int32_t>(std::clamp(pan, -1.0f, 1.0f) * 4096));
}

void fa_setdepth(int32_t handle, float depth) {
  if (sound* v = fa_voice(handle)) v->setdepth(static_cast<int32_t>(std::clamp(depth, -1.0f, 1.0f) * 4096));
}

void fa_setrate(int32_t handle, float rate) {
  if (sound* v = fa_voice(handle))
    v->setrate(static_cast<int32_t>(std::clamp(rate, 0.0f, 256.0f) * 65536));
}

int32_t fa_status(int32_t handle) {
  Slot* s = Lookup(handle);
  if (!s) return 0;
  if (!s->voice || s->voice->handle != handle) return FA_FINISHED;
  return s->voice->status.load(std::memory_order_relaxed);
}

int64_t fa_position(int32_t handle) {
  sound* v = fa_voice(handle);
  return v ? static_cast<int64_t>(v->pos.load(std::memory_order_relaxed) >> 32) : 0;
}
