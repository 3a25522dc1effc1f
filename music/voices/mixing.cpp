// Voice mixing: sample reading with loops and interpolation, the classic mixing of a
// voice with click removal and decay, and the conversion of the accumulators to PCM.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "voice.h"

// ---------------------------------------------------------------------------------------
// Sample reading

double Cantor_Sample::ValueAt(double x) const {
  if (!(x >= 0)) return 0;
  const int64_t i = static_cast<int64_t>(x);
  const int64_t n = std::min<int64_t>(Length, static_cast<int64_t>(SoundData.size()));
  if (i >= n || !fp) return 0;
  return fp[i];
}

double Cantor_Sample::FixPos(double x, double& add, int32_t modify) const {
  const double E = static_cast<double>(LoopStart) + LoopLength;
  const auto stop = [&]() {
    if (modify == 1) add = 0;
    return -1.0;
  };
  if (add == 0) return -1;
  if (!std::isfinite(x)) {
    x = stop();
  } else if (Loop == 1) {
    if (x < 0) {
      x = -1;
    } else if (x > E) {
      if (LoopLength <= 0) x = stop();
      else x = LoopStart + std::fmod(x - E, static_cast<double>(LoopLength));
    } else if (x >= Length) {
      const double span = static_cast<double>(Length) - LoopStart;
      if (span <= 0) x = stop();
      else x = LoopStart + std::fmod(x - Length, span);
    }
  } else if (Loop == 2) {
    if (add > 0) {
      if (x < 0) {
        x = stop();
      } else if (x > E) {
        if (LoopLength <= 0) {
          x = stop();
        } else {
          // Far beyond the loop (a very high rate): fold whole back-and-forth periods
          // away first, so the reflections below stay shallow.
          const double period = 2.0 * LoopLength;
          if (modify == 1 && x - E > period) x = E + std::fmod(x - E, period);
          if (modify == 1) add = -add;
          return FixPos(E - (x - E), add, modify);
        }
      } else if (x >= Length) {
        x = Length - (x - Length);
        if (modify == 1) add = -add;
      }
    } else if (x < LoopStart) {
      if (LoopLength <= 0 && modify == 1) {
        add = std::fabs(add);
        x = stop();
      } else {
        const double period = 2.0 * LoopLength;
        if (modify == 1 && period > 0 && LoopStart - x > period) x = LoopStart - std::fmod(LoopStart - x, period);
        if (modify == 1) add = std::fabs(add);
        return FixPos(LoopStart + std::fabs(x - LoopStart), add, modify);
      }
    }
  } else if (x >= Length || x < 0) {
    x = stop();
  }
  if (modify == 1) return x;
  return x < 0 ? 0.0 : ValueAt(std::floor(x));
}

double Cantor_Sample::GetAV(double pos, double add) const {
  if (add == 0) return 0;
  const double ip = std::trunc(pos);
  const double frac = pos - ip;
  double rate = add;
  if (add > 0) {
    const double a = ValueAt(ip);
    const double b = FixPos(pos + 1, rate, 0);
    return a + (b - a) * frac;
  }
  const double b = ValueAt(ip);
  const double a = FixPos(pos - 1, rate, 0);
  return a + (b - a) * frac;
}

// ---------------------------------------------------------------------------------------
// Channel mixing

int32_t TVoice::Mix(int32_t* left, int32_t* right, int32_t frames) {
  // The gain is bounded so that no accumulator can overflow, whatever the effects did.
  MixerVolume = std::clamp((Volume + TremoloValue) * Env * KeyOffValue, -64.0, 64.0);
  LevelL = LevelR = 0;
  const double lp = LPanCalc, rp = RPanCalc;
  int32_t k = frames;
  const int32_t scopeCap = static_cast<int32_t>(Scope.size());

  if (Stopped()) {
    if (LastAV == 0) return 0;
    k = DecayTail(frames, [&](int32_t i, int32_t last) {
      const double v = last;
      if (lp != 0) {
        left[i] = static_cast<int32_t>(left[i] + v * lp);
        LevelL += std::fabs(v * lp);
      }
      if (rp != 0) {
        right[i] = static_cast<int32_t>(right[i] + v * rp);
        LevelR += std::fabs(v * rp);
      }
    });
  } else {
    // Forward reading needs no loop handling while the position and its partner frame
    // stay inside the data (and, for a loop, not beyond the loop end).
    const auto [data, dataLen, looped, loopEnd, fwdLimit] = voicemix::TSampleSpan(*Sample);
    const Cantor_Sample& s = *Sample;
    const double bwdLow = std::max(1.0, static_cast<double>(s.LoopStart) + 1.0);
    const double mv = MixerVolume;
    // The channel's running state lives in locals for the loop: the accumulators are
    // plain int32 arrays the compiler cannot tell apart from the channel's fields.
    double pos = Pos, add = Add, levelL = 0, levelR = 0;
    int32_t last = LastAV, click = ClickDelay, fill = ScopeFillPos;
    float* scope = ScopePtr();
    // Without a loop the end test alone bounds the fast path.
    const double endEff = looped ? loopEnd : fwdLimit;
    int32_t i = 0;
    while (i < frames) {
      if (add > 0 && fill >= scopeCap && pos >= 0) {
        // Forward inside the data with no scope to feed. Adding a zero value (or a zero
        // gain) changes neither accumulator nor meter, so there are no tests for them.
        while (i < frames) {
          const double q = pos + 1;
          if (!(q < fwdLimit && q <= endEff)) break;
          const double v = voicemix::StepForward(data, pos, add, mv, click, last);
          const double vl = v * lp, vr = v * rp;
          left[i] = static_cast<int32_t>(left[i] + vl);
          right[i] = static_cast<int32_t>(right[i] + vr);
          levelL += std::fabs(vl);
          levelR += std::fabs(vr);
          ++i;
        }
        if (i >= frames) break;
      }
      double v;
      const double p = pos;
      if (add > 0 && p >= 0 && p + 1 < fwdLimit && (!looped || p + 1 <= loopEnd)) {
        v = voicemix::ReadForward(data, p) * mv;
        pos = p + add;
      } else if (add < 0 && s.Loop == 2 && p >= bwdLow && p < fwdLimit) {
        const int64_t ip = static_cast<int64_t>(p);
        const double b = data[ip];
        const double a = data[ip - 1];
        v = (a + (b - a) * (p - static_cast<double>(ip))) * mv;
        pos = p + add;
      } else {
        // Loop handling, or the decay of an ended sample.
        if (!voicemix::StepLooped(s, pos, add, mv, click, last, v)) {
          k = i;
          break;
        }
        goto output;
      }
      voicemix::Crossfade(v, click, last);
      last = static_cast<int32_t>(v);
    output:
      if (v != 0) {
        if (fill < scopeCap) scope[fill++] = static_cast<float>(v * short2float);
        if (lp != 0) {
          left[i] = static_cast<int32_t>(left[i] + v * lp);
          levelL += std::fabs(v * lp);
        }
        if (rp != 0) {
          right[i] = static_cast<int32_t>(right[i] + v * rp);
          levelR += std::fabs(v * rp);
        }
      }
      ++i;
    }
    Keep(pos, add, last, click, fill);
    LevelL = levelL;
    LevelR = levelR;
  }
  if (k > 0) {
    LevelL = LevelL / k / 32767.0;
    LevelR = LevelR / k / 32767.0;
  } else {
    LevelL = LevelR = 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Output

void WriteMixToPCM16(const int32_t* left, const int32_t* right, int16_t* out, int32_t n, double gain) {
  for (int32_t i = 0; i < n; ++i) {
    const double l = std::clamp(left[i] * gain, -32767.0, 32767.0);
    const double r = std::clamp(right[i] * gain, -32767.0, 32767.0);
    out[2 * i] = static_cast<int16_t>(static_cast<int32_t>(l + 0.5));
    out[2 * i + 1] = static_cast<int16_t>(static_cast<int32_t>(r + 0.5));
  }
}

void ConvertPCM(const int16_t* pcm, uint8_t* out, int32_t n, int32_t format) {
  for (int32_t i = 0; i < n; ++i) {
    const int32_t l = pcm[2 * i], r = pcm[2 * i + 1];
    switch (format) {
      case MUSIC_MONO8:
        out[i] = static_cast<uint8_t>(((l + r) / 2 + 32768) >> 8);
        break;
      case MUSIC_MONO16: {
        const int16_t m = static_cast<int16_t>((l + r) / 2);
        std::memcpy(out + 2 * i, &m, 2);
        break;
      }
      case MUSIC_STEREO8:
        out[2 * i] = static_cast<uint8_t>((l + 32768) >> 8);
        out[2 * i + 1] = static_cast<uint8_t>((r + 32768) >> 8);
        break;
      default: break;
    }
  }
}

void TMixBuffers::Ensure() {
  if (left) return;
  left.reset(new int32_t[MIX_BUFFER_FRAMES]);
  right.reset(new int32_t[MIX_BUFFER_FRAMES]);
  fastLeft.reset(new float[MIX_BUFFER_FRAMES]);
  fastRight.reset(new float[MIX_BUFFER_FRAMES]);
  pcm.reset(new int16_t[2 * static_cast<size_t>(MIX_BUFFER_FRAMES)]);
}
