#pragma once
// A known tone and the analysis of what an output device really played.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <ormix/audio/audio.h>

// A sine of `hz` at 22050 frames per second, mono 16-bit, `seconds` long.
inline TAudioSamplePtr MakeTone(double hz, double seconds, int amplitude = 16000) {
  const int rate = 22050;
  const int frames = static_cast<int>(seconds * rate);
  auto s = NewAudioSample(frames, rate, SF_MONO16LE);
  int16_t* p = reinterpret_cast<int16_t*>(s->samples);
  for (int i = 0; i < frames; ++i) p[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
  return s;
}

struct Heard {
  double seconds = 0;  // frames loud enough to be the tone, as time
  double hz = 0;       // positive-going zero crossings per voiced second
  int peak = 0;        // largest left magnitude
  double rightPeak = 0;
  int gaps = 0;        // silent stretches of more than 3 ms between voiced parts
};

// Interleaved 16-bit stereo at 44100 Hz.
inline Heard Analyse(const std::vector<int16_t>& pcm) {
  Heard h;
  const size_t frames = pcm.size() / 2;
  // A frame is voiced when the tone is within half a period of it; the tone's own zero
  // crossings are shorter than that.
  std::vector<uint8_t> loud(frames, 0);
  for (size_t i = 0; i < frames; ++i) loud[i] = std::abs(pcm[2 * i]) > 2000 || std::abs(pcm[2 * i + 1]) > 2000;
  const size_t span = 60;  // about 1.4 ms
  std::vector<uint8_t> voiced(frames, 0);
  size_t last = SIZE_MAX;
  for (size_t i = 0; i < frames; ++i) {
    if (loud[i]) {
      if (last != SIZE_MAX && i - last <= span)
        for (size_t k = last; k <= i; ++k) voiced[k] = 1;
      voiced[i] = 1;
      last = i;
    }
  }
  size_t count = 0, crossings = 0, silentRun = 0;
  bool seen = false;
  for (size_t i = 0; i < frames; ++i) {
    if (voiced[i]) {
      if (seen && silentRun > 132) ++h.gaps;
      silentRun = 0;
      seen = true;
      ++count;
      h.peak = std::max(h.peak, std::abs(static_cast<int>(pcm[2 * i])));
      h.rightPeak = std::max(h.rightPeak, std::abs(static_cast<double>(pcm[2 * i + 1])));
      // Crossings of the two sides together, so a tone panned to one side counts too.
      if (i > 0 && voiced[i - 1] && pcm[2 * i - 2] + pcm[2 * i - 1] < 0 && pcm[2 * i] + pcm[2 * i + 1] >= 0)
        ++crossings;
    } else if (seen) {
      ++silentRun;
    }
  }
  h.seconds = count / 44100.0;
  h.hz = count ? crossings / h.seconds : 0;
  return h;
}

inline std::vector<int16_t> ReadPcm(const std::string& path, size_t skip = 0) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  if (bytes.size() <= skip) return {};
  std::vector<int16_t> pcm((bytes.size() - skip) / 2);
  std::memcpy(pcm.data(), bytes.data() + skip, pcm.size() * 2);
  return pcm;
}
