#pragma once
// A voice: one sample being read at a rate, with a gain, a pan and the click-removal
// crossfade, mixed into stereo accumulators. The player's channels are voices that their
// effects steer; mixing reads only what is declared here.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "../model/song_model.h"

class TVoice {
public:
  static constexpr int32_t ClickDelaySize = 128;
  static constexpr double ClickFrac = 0.0078125;
  static constexpr double short2float = 3.0518509475997192e-005;

  Cantor_SamplePtr Sample;
  double Pos = 0;
  double Add = 0;           // sample frames per output frame; 0 = silent
  double Volume = 0;
  double MixerVolume = 0;
  int32_t Mute = 0;
  double KeyOffValue = 0;
  double TremoloValue = 0;
  int32_t LastAV = 0;
  int32_t ClickDelay = 0;
  double Env = 0;
  double LPanCalc = 0, RPanCalc = 0;
  double LevelL = 0, LevelR = 0;
  std::vector<float> Scope;  // oscilloscope capture
  // Where the capture is written: the scope buffer itself (null without one), so that a
  // copied voice writes to its own copy.
  float* ScopePtr() { return Scope.empty() ? nullptr : Scope.data(); }
  int32_t ScopeFillPos = 0;

  // True when the voice reads no sample (only its decay tail may still sound).
  bool Stopped() const { return !Sample || Add == 0 || Mute != 0; }
  // The tail of a stopped voice: LastAV decays frame by frame and each value goes to
  // put(frame, value) until it is silent (then the voice stops). Returns the frames
  // that sounded.
  template <class Put>
  int32_t DecayTail(int32_t frames, Put put);
  // Stores the running state a mixing loop kept in locals.
  void Keep(double pos, double add, int32_t last, int32_t click, int32_t fill) {
    Pos = pos;
    Add = add;
    LastAV = last;
    ClickDelay = click;
    ScopeFillPos = fill;
  }

  // Classic mixing in double precision into integer accumulators.
  int32_t Mix(int32_t* left, int32_t* right, int32_t frames);
  // The same voice in single precision into float accumulators (format playback).
  int32_t MixFast(float* left, float* right, int32_t frames);
};

// Steps both mixing paths take alike.
namespace voicemix {
// The value between frame floor(pos) and the next, both inside the data.
inline double ReadForward(const int32_t* data, double pos) {
  const int64_t ip = static_cast<int64_t>(pos);
  const double a = data[ip];
  return a + (data[ip + 1] - a) * (pos - static_cast<double>(ip));
}
// Click removal: right after a change the value slides from the previous one over
// `click` frames. ClickFrac is a power of two, so taking it with `click` first gives the
// same product one multiplication sooner (frames of a crossfade depend on each other).
inline void Crossfade(double& v, int32_t& click, int32_t last) {
  if (click > 0) {
    v = v + (last - v) * (TVoice::ClickFrac * click);
    click -= 1;
  }
}
// One frame of the tail after a voice stops: false (and `last` 0) once it is silent.
inline bool Decay(int32_t& last) {
  last = static_cast<int32_t>(last * 0.8);
  if (last > -1 && last < 1) {
    last = 0;
    return false;
  }
  return true;
}
// One forward frame inside the data: read, advance, crossfade; `last` takes the value.
inline double StepForward(const int32_t* data, double& pos, double add, double mv, int32_t& click, int32_t& last) {
  double v = ReadForward(data, pos) * mv;
  pos += add;
  Crossfade(v, click, last);
  last = static_cast<int32_t>(v);
  return v;
}
// One frame through the sample's loop handling (the position folded into the loop, the
// rate reversed or stopped) with the crossfade, or a frame of the tail once the sample
// has ended. False when that tail has gone silent: the voice stops (add 0).
inline bool StepLooped(const Cantor_Sample& s, double& pos, double& add, double mv, int32_t& click, int32_t& last,
                       double& v) {
  pos = s.FixPos(pos, add, 1);
  if (pos >= 0 && add != 0) {
    v = s.GetAV(pos, add) * mv;
    pos += add;
    Crossfade(v, click, last);
    last = static_cast<int32_t>(v);
    return true;
  }
  if (!Decay(last)) {
    add = 0;
    return false;
  }
  v = last;
  return true;
}
// What both paths read of a sample: its data and how far forward reading may go.
struct TSampleSpan {
  const int32_t* data;
  int64_t dataLen;      // frames of data present
  bool looped;
  double loopEnd;
  double fwdLimit;      // the data's end, as a position
  explicit TSampleSpan(const Cantor_Sample& s)
      : data(s.fp),
        dataLen(data ? std::min<int64_t>(s.Length, static_cast<int64_t>(s.SoundData.size())) : 0),
        looped(s.Loop == 1 || s.Loop == 2),
        loopEnd(static_cast<double>(s.LoopStart) + s.LoopLength),
        fwdLimit(static_cast<double>(std::min<int64_t>(s.Length, dataLen))) {}
};
}  // namespace voicemix

template <class Put>
int32_t TVoice::DecayTail(int32_t frames, Put put) {
  for (int32_t i = 0; i < frames; ++i) {
    if (!voicemix::Decay(LastAV)) {
      Add = 0;
      return i;
    }
    put(i, LastAV);
  }
  return frames;
}

// Largest chunk mixed at once.
constexpr int32_t MIX_BUFFER_FRAMES = AUDIO_OUTPUT_RATE;  // one second

// Scales, clips and writes n frames of interleaved 16-bit stereo.
void WriteMixToPCM16(const int32_t* left, const int32_t* right, int16_t* out, int32_t n, double gain);
void WriteFloatMixToPCM16(const float* left, const float* right, int16_t* out, int32_t n, float gain);
// Writes n frames of 16-bit stereo PCM into `out` in another stream format: mono is the
// mean of both sides, 8-bit is unsigned (128 = silence).
void ConvertPCM(const int16_t* pcm, uint8_t* out, int32_t n, int32_t format);

// The accumulators a song mixes a chunk into and the scratch of other output layouts,
// owned by the song's player and made once on its first request (MIX_BUFFER_FRAMES
// frames each), so that no request allocates. They are left uninitialised: a chunk
// clears what it mixes into, and memory a song never mixes into is never touched.
struct TMixBuffers {
  std::unique_ptr<int32_t[]> left, right;      // classic playback
  std::unique_ptr<float[]> fastLeft, fastRight;  // format playback
  std::unique_ptr<int16_t[]> pcm;               // 16-bit stereo before conversion
  void Ensure();
};
