#pragma once
// A voice: one sample being read at a rate, with a gain, a pan and the click-removal
// crossfade, mixed into stereo accumulators. The player's channels are voices that their
// effects steer; the mixer reads only what is declared here.
#include <cstdint>
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
  float* ScopePtr = nullptr;
  int32_t ScopeFillPos = 0;

  // Classic mixing in double precision into integer accumulators.
  int32_t Mix(int32_t* left, int32_t* right, int32_t frames);
  // The same voice in single precision into float accumulators (format playback).
  int32_t MixFast(float* left, float* right, int32_t frames);
};

// Largest chunk mixed at once.
constexpr int32_t MIX_BUFFER_FRAMES = AUDIO_OUTPUT_RATE;  // one second

// Scales, clips and writes n frames of interleaved 16-bit stereo.
void WriteMixToPCM16(const int32_t* left, const int32_t* right, int16_t* out, int32_t n, double gain);
void WriteFloatMixToPCM16(const float* left, const float* right, int16_t* out, int32_t n, float gain);
// Writes n frames of 16-bit stereo PCM into `out` in another stream format: mono is the
// mean of both sides, 8-bit is unsigned (128 = silence).
void ConvertPCM(const int16_t* pcm, uint8_t* out, int32_t n, int32_t format);

// The accumulators a song mixes a chunk into and the scratch of other output layouts,
// owned by the song's player and sized once on its first request (MIX_BUFFER_FRAMES), so
// that no request allocates.
struct TMixBuffers {
  std::vector<int32_t> left, right;     // classic playback
  std::vector<float> fastLeft, fastRight;  // format playback
  std::vector<int16_t> pcm;             // 16-bit stereo before conversion
  void Ensure();
};
