// Mixing for format playback: the same voice model as classic mixing (linear
// interpolation, loops, click-removal crossfade, decay tail), computed in single
// precision into float accumulators, with a tight loop for the stretches where the
// position needs no loop handling.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "voice.h"

namespace {
#if defined(__x86_64__) && defined(__GNUC__)
#define ORMIX_MIX_AVX2 1
// Eight frames at a time where the processor has AVX2: both sample reads are gathers.
// Within one step of eight frames the positions are taken relative to the first in
// 16.16 fixed point; the 32.32 position itself advances exactly. Returns the frames
// done (a multiple of 8, at most `count`). One copy for each pair of sides with a gain,
// so that the loop tests neither.
template <bool kLeft, bool kRight>
__attribute__((target("avx2,fma"))) int32_t MixRunAvx2Sides(const int32_t* data, uint64_t dataLen, uint64_t& position,
                                                             uint64_t step, int32_t count, float* left, float* right,
                                                             float gl, float gr, float& sum, float& last) {
  const __m256 vgl = _mm256_set1_ps(gl), vgr = _mm256_set1_ps(gr);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 scale = _mm256_set1_ps(1.0f / 65536.0f);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i step16 = _mm256_set1_epi32(static_cast<int32_t>(step >> 16));
  const __m256i offsets = _mm256_mullo_epi32(lanes, step16);
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  __m256 vsum = _mm256_setzero_ps();
  __m256 v = _mm256_setzero_ps();
  // The position lives in a register: the accumulators could alias the caller's copy.
  uint64_t fp = position;
  int32_t i = 0;
  // Up to two frames of the sample per output frame, eight output frames read at most 16
  // sample frames (and each one's partner): plain loads and lane permutes instead of
  // gathers, while those frames lie inside the data.
  const bool shortSpan = step < (2ull << 32);
  const __m256i seven = _mm256_set1_epi32(7);
  for (; i + 8 <= count; i += 8) {
    const uint64_t at = fp >> 32;
    const int32_t* base = data + at;
    const __m256i rel = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(fp) >> 16)), offsets);
    const __m256i idx = _mm256_srli_epi32(rel, 16);
    __m256 a, b;
    if (shortSpan && at + 17 <= dataLen) {
      const __m256i high = _mm256_cmpgt_epi32(idx, seven);
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + 8));
      const __m256i lo1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + 1));
      const __m256i hi1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + 9));
      const __m256i ia = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, idx), _mm256_permutevar8x32_epi32(hi, idx), high);
      const __m256i ib = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo1, idx), _mm256_permutevar8x32_epi32(hi1, idx), high);
      a = _mm256_cvtepi32_ps(ia);
      b = _mm256_cvtepi32_ps(ib);
    } else {
      a = _mm256_cvtepi32_ps(_mm256_i32gather_epi32(base, idx, 4));
      b = _mm256_cvtepi32_ps(_mm256_i32gather_epi32(base + 1, idx, 4));
    }
    const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(rel, low16)), scale);
    v = _mm256_fmadd_ps(_mm256_sub_ps(b, a), f, a);
    if (kLeft) _mm256_storeu_ps(left + i, _mm256_fmadd_ps(v, vgl, _mm256_loadu_ps(left + i)));
    if (kRight) _mm256_storeu_ps(right + i, _mm256_fmadd_ps(v, vgr, _mm256_loadu_ps(right + i)));
    vsum = _mm256_add_ps(vsum, _mm256_and_ps(v, absMask));
    fp += 8 * step;
  }
  position = fp;
  float parts[8], lastParts[8];
  _mm256_storeu_ps(parts, vsum);
  _mm256_storeu_ps(lastParts, v);
  for (float p : parts) sum += p;
  if (i > 0) last = lastParts[7];
  return i;
}

int32_t MixRunAvx2(const int32_t* data, uint64_t dataLen, uint64_t& fp, uint64_t step, int32_t count, float* left,
                   float* right, float gl, float gr, float& sum, float& last) {
  if (step >= (1ull << 44)) return 0;  // eight steps must fit the 16.16 offsets
  // A side with no gain (MOD channels are panned hard) is left alone.
  if (gl != 0 && gr != 0) return MixRunAvx2Sides<true, true>(data, dataLen, fp, step, count, left, right, gl, gr, sum, last);
  if (gl != 0) return MixRunAvx2Sides<true, false>(data, dataLen, fp, step, count, left, right, gl, gr, sum, last);
  if (gr != 0) return MixRunAvx2Sides<false, true>(data, dataLen, fp, step, count, left, right, gl, gr, sum, last);
  return MixRunAvx2Sides<false, false>(data, dataLen, fp, step, count, left, right, gl, gr, sum, last);
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return have;
}
#endif

// x (>= 0) modulo len, as std::fmod gives it: a value below len is its own remainder,
// which spares the call for the frames that pass a loop's end once.
inline double Remainder(double x, double len) { return x < len ? x : std::fmod(x, len); }

// The loop handling of a forward loop for a position moving forwards, with the same
// arithmetic as the sample's general loop handling, for loops where none of its other
// cases can arise (a loop of some length that starts inside the sample).
struct TForwardLoop {
  const int32_t* data;
  int64_t dataLen;
  double start, end, length, len, span;
  static bool Fits(const Cantor_Sample& s) { return s.Loop == 1 && s.LoopLength > 0 && s.LoopStart >= 0 && s.LoopStart < s.Length; }
  TForwardLoop(const Cantor_Sample& s, const int32_t* d, int64_t n)
      : data(d),
        dataLen(n),
        start(s.LoopStart),
        end(static_cast<double>(s.LoopStart) + s.LoopLength),
        length(s.Length),
        len(s.LoopLength),
        span(static_cast<double>(s.Length) - s.LoopStart) {}
  // A position (>= 0, finite) brought back into the loop.
  double Fold(double x) const {
    if (x > end) return start + Remainder(x - end, len);
    if (x >= length) return start + Remainder(x - length, span);
    return x;
  }
  // The value at frame floor(x) (x >= 0), 0 past the data.
  double At(double x) const {
    const int64_t i = static_cast<int64_t>(x);
    return i < dataLen ? data[i] : 0.0;
  }
  // The value between a folded position's frame and the next one through the loop.
  double Value(double pos) const {
    const double ip = std::trunc(pos);
    const double a = At(ip);
    const double b = At(Fold(pos + 1));
    return a + (b - a) * (pos - ip);
  }
};
}  // namespace

bool Cantor_Sample::SilentLoop() const {
  if (_silentLoop < 0) {
    bool silent = true;
    const int64_t n = std::min<int64_t>(Length, static_cast<int64_t>(SoundData.size()));
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(LoopStart) + LoopLength + 1, n);
    for (int64_t i = std::max<int32_t>(LoopStart, 0); i < end && silent; ++i) silent = SoundData[static_cast<size_t>(i)] == 0;
    _silentLoop = silent ? 1 : 0;
  }
  return _silentLoop == 1;
}

int32_t TVoice::MixFast(float* left, float* right, int32_t frames) {
  MixerVolume = std::clamp((Volume + TremoloValue) * Env * KeyOffValue, -64.0, 64.0);
  LevelL = LevelR = 0;
  const float lp = static_cast<float>(LPanCalc), rp = static_cast<float>(RPanCalc);
  int32_t k = frames;
  double absSum = 0;

  if (Stopped()) {
    if (LastAV == 0) return 0;
    k = DecayTail(frames, [&](int32_t i, int32_t last) {
      const float v = static_cast<float>(last);
      left[i] += v * lp;
      right[i] += v * rp;
      absSum += std::fabs(v);
    });
  } else {
    const Cantor_Sample& s = *Sample;
    const auto [data, dataLen, looped, loopEnd, fwdLimit] = voicemix::TSampleSpan(s);
    // Forward reading needs no loop handling while pos + 1 stays below the data's end
    // and, for a loop, not beyond the loop end.
    const double lim = looped ? std::min(loopEnd, fwdLimit - 1e-6) : fwdLimit - 1e-6;
    const float mv = static_cast<float>(MixerVolume);
    const float gl = mv * lp, gr = mv * rp;
    double pos = Pos, add = Add;
    int32_t last = LastAV, click = ClickDelay, fill = ScopeFillPos;
    const int32_t scopeCap = static_cast<int32_t>(Scope.size());
    float* scope = ScopePtr();
    // A forward loop of silence (MOD samples often end in one) adds nothing: once the
    // position is inside it and the crossfade is over, only the position moves.
    const bool silentLoop = s.Loop == 1 && s.LoopLength > 0 && s.SilentLoop();
    const bool forwardLoop = s.Loop == 1 && s.LoopLength > 0 && loopEnd < fwdLimit;
    const bool plainLoop = TForwardLoop::Fits(s);
    const TForwardLoop loopRead(s, data, dataLen);
    const TForwardLoop* fwdLoop = plainLoop ? &loopRead : nullptr;
    int32_t i = 0;
    while (i < frames) {
      if (silentLoop && click == 0 && add > 0 && pos >= s.LoopStart && fill >= scopeCap) {
        const int32_t n = frames - i;
        pos = s.FixPos(pos + add * n, add, 1);
        last = 0;
        i = frames;
        break;
      }
      if (click == 0 && add > 0 && pos >= 0 && fill >= scopeCap && pos + 1 <= lim) {
        // Frames that surely stay inside (one less than the exact count guards against
        // rounding; the frame at hand is inside by the test above).
        const double room = (lim - 1 - pos) / add;
        int32_t n = room >= frames - i ? frames - i : static_cast<int32_t>(room);
        if (n < 1) n = 1;
        // Position in 32.32 fixed point: integer steps keep the loop's dependency chains
        // short; two partial sums of the level do the same.
        constexpr double kOne = 4294967296.0;
        uint64_t fp = static_cast<uint64_t>(pos * kOne);
        const uint64_t step = static_cast<uint64_t>(add * kOne);
        constexpr float kFrac = 1.0f / 4294967296.0f;
        float sum0 = 0, sum1 = 0, v = 0;
        const int32_t end = i + n;
        if (mv == 0) {
          // At no volume the stretch adds nothing and meters nothing: only the position
          // moves, by the same steps.
          fp += static_cast<uint64_t>(n) * step;
          i = end;
        }
#ifdef ORMIX_MIX_AVX2
        if (end - i >= 16 && HaveAvx2()) {
          float sum = 0;
          i += MixRunAvx2(data, static_cast<uint64_t>(dataLen), fp, step, end - i, left + i, right + i, gl, gr, sum, v);
          sum0 += sum;
        }
#endif
#ifdef __SSE2__
        // Four frames at a time: the sample reads stay scalar, the arithmetic and the
        // accumulators are vectors. The fraction is the top 23 bits of the fixed-point
        // fraction put under the exponent of 1.0 (a float in [1, 2), minus 1).
        if (end - i >= 8) {
          const __m128 vgl = _mm_set1_ps(gl), vgr = _mm_set1_ps(gr);
          const bool hasL = gl != 0, hasR = gr != 0;
          const __m128i one = _mm_set1_epi32(0x3F800000);
          const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
          __m128 vsum = _mm_setzero_ps();
          for (; i + 4 <= end; i += 4) {
            const uint64_t p0 = fp, p1 = fp + step, p2 = fp + 2 * step, p3 = fp + 3 * step;
            fp += 4 * step;
            const int32_t* d0 = data + (p0 >> 32);
            const int32_t* d1 = data + (p1 >> 32);
            const int32_t* d2 = data + (p2 >> 32);
            const int32_t* d3 = data + (p3 >> 32);
            const __m128 a = _mm_cvtepi32_ps(_mm_setr_epi32(d0[0], d1[0], d2[0], d3[0]));
            const __m128 b = _mm_cvtepi32_ps(_mm_setr_epi32(d0[1], d1[1], d2[1], d3[1]));
            const __m128i frac = _mm_setr_epi32(static_cast<int32_t>(static_cast<uint32_t>(p0) >> 9),
                                                static_cast<int32_t>(static_cast<uint32_t>(p1) >> 9),
                                                static_cast<int32_t>(static_cast<uint32_t>(p2) >> 9),
                                                static_cast<int32_t>(static_cast<uint32_t>(p3) >> 9));
            const __m128 f = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(frac, one)), _mm_set1_ps(1.0f));
            const __m128 vv = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), f));
            // A side with no gain (MOD channels are panned hard) is left alone.
            if (hasL) _mm_storeu_ps(left + i, _mm_add_ps(_mm_loadu_ps(left + i), _mm_mul_ps(vv, vgl)));
            if (hasR) _mm_storeu_ps(right + i, _mm_add_ps(_mm_loadu_ps(right + i), _mm_mul_ps(vv, vgr)));
            vsum = _mm_add_ps(vsum, _mm_and_ps(vv, absMask));
            v = _mm_cvtss_f32(_mm_shuffle_ps(vv, vv, _MM_SHUFFLE(3, 3, 3, 3)));
          }
          float parts[4];
          _mm_storeu_ps(parts, vsum);
          sum0 += parts[0] + parts[2];
          sum1 += parts[1] + parts[3];
        }
#endif
        for (; i < end; ++i) {
          const int64_t ip = static_cast<int64_t>(fp >> 32);
          const float f = static_cast<float>(static_cast<uint32_t>(fp)) * kFrac;
          const float a = static_cast<float>(data[ip]);
          v = a + (static_cast<float>(data[ip + 1]) - a) * f;
          left[i] += v * gl;
          right[i] += v * gr;
          if (i & 1) sum1 += std::fabs(v);
          else sum0 += std::fabs(v);
          fp += step;
        }
        pos = static_cast<double>(fp) / kOne;
        const float sum = sum0 + sum1;
        absSum += static_cast<double>(sum) * std::fabs(mv);
        last = static_cast<int32_t>(v * mv);
        continue;
      }
      if (forwardLoop && click == 0 && add > 0 && fill >= scopeCap && pos >= s.LoopStart && pos < fwdLimit) {
        // The frames at a forward loop's end, as the loop handling would read them:
        // past the end the position wraps; the last frame interpolates towards the
        // loop's start. They follow one another here while no other stretch applies.
        do {
          if (pos > loopEnd) pos = s.LoopStart + Remainder(pos - loopEnd, static_cast<double>(s.LoopLength));
          if (!(pos + 1 > lim && pos < fwdLimit)) break;
          const int64_t ip = static_cast<int64_t>(pos);
          const double next = pos + 1;
          const int64_t bi = next > loopEnd ? s.LoopStart + static_cast<int64_t>(Remainder(next - loopEnd, static_cast<double>(s.LoopLength)))
                                            : ip + 1;
          const double a = data[ip];
          const double b = bi < dataLen ? data[bi] : 0.0;
          const double v = (a + (b - a) * (pos - static_cast<double>(ip))) * mv;
          pos += add;
          last = static_cast<int32_t>(v);
          const float fv = static_cast<float>(v);
          left[i] += fv * lp;
          right[i] += fv * rp;
          absSum += std::fabs(v);
          ++i;
        } while (!silentLoop && i < frames && pos >= s.LoopStart && pos < fwdLimit);
        continue;
      }
      if (click > 0 && add > 0 && pos >= 0 && fill >= scopeCap && pos + 1 <= lim) {
        // The crossfade's frames inside the safe stretch, in one go.
        do {
          const double v = voicemix::StepForward(data, pos, add, mv, click, last);
          const float fv = static_cast<float>(v);
          left[i] += fv * lp;
          right[i] += fv * rp;
          absSum += std::fabs(v);
          ++i;
        } while (i < frames && click > 0 && pos + 1 <= lim);
        continue;
      }
      if (mv == 0 && click == 0 && last == 0 && s.Loop != 2 && fill >= scopeCap) {
        // A silent voice only moves on.
        pos = s.FixPos(pos + add * (frames - i), add, 1);
        break;
      }
      // One frame with loop handling, crossfade or scope capture.
      constexpr double kMaxPos = std::numeric_limits<double>::max();
      if (fwdLoop && add > 0 && pos >= 0 && pos <= kMaxPos) {
        // The frames at a forward loop's end where the loop ends the data. With no
        // crossfade, scope or other kind of stretch pending, the frames that stay past
        // the safe stretch all come here: they follow one another without the tests above.
        const bool alone = mv != 0 && click == 0 && !silentLoop && !forwardLoop && fill >= scopeCap;
        do {
          pos = fwdLoop->Fold(pos);
          double v = fwdLoop->Value(pos) * mv;
          pos += add;
          voicemix::Crossfade(v, click, last);
          last = static_cast<int32_t>(v);
          if (v != 0) {
            if (fill < scopeCap) scope[fill++] = static_cast<float>(v * short2float);
            left[i] += static_cast<float>(v) * lp;
            right[i] += static_cast<float>(v) * rp;
            absSum += std::fabs(v);
          }
          ++i;
        } while (alone && i < frames && !(pos + 1 <= lim) && pos <= kMaxPos);
        continue;
      }
      double v;
      if (!voicemix::StepLooped(s, pos, add, mv, click, last, v)) {
        k = i;
        break;
      }
      if (v != 0) {
        if (fill < scopeCap) scope[fill++] = static_cast<float>(v * short2float);
        left[i] += static_cast<float>(v) * lp;
        right[i] += static_cast<float>(v) * rp;
        absSum += std::fabs(v);
      }
      ++i;
    }
    Keep(pos, add, last, click, fill);
  }
  if (k > 0) {
    LevelL = absSum * std::fabs(LPanCalc) / k / 32767.0;
    LevelR = absSum * std::fabs(RPanCalc) / k / 32767.0;
  }
  return 0;
}

void WriteFloatMixToPCM16(const float* left, const float* right, int16_t* out, int32_t n, float gain) {
  int32_t i = 0;
#ifdef __SSE2__
  // Four frames at a time: scale, clip, round to nearest and interleave.
  const __m128 g = _mm_set1_ps(gain), hi = _mm_set1_ps(32767.0f), lo = _mm_set1_ps(-32767.0f);
  for (; i + 4 <= n; i += 4) {
    const __m128 l = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(left + i), g), hi), lo);
    const __m128 r = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(right + i), g), hi), lo);
    const __m128i li = _mm_cvtps_epi32(l), ri = _mm_cvtps_epi32(r);
    const __m128i a = _mm_unpacklo_epi32(li, ri), b = _mm_unpackhi_epi32(li, ri);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(a, b));
  }
#endif
  for (; i < n; ++i) {
    const float l = std::clamp(left[i] * gain, -32767.0f, 32767.0f);
    const float r = std::clamp(right[i] * gain, -32767.0f, 32767.0f);
    out[2 * i] = static_cast<int16_t>(static_cast<int32_t>(l + (l < 0 ? -0.5f : 0.5f)));
    out[2 * i + 1] = static_cast<int16_t>(static_cast<int32_t>(r + (r < 0 ? -0.5f : 0.5f)));
  }
}
