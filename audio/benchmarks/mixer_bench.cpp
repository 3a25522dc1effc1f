// How many voices the software mixer mixes in real time at the output rate on one core.
// Counters: "realtime_x" is audio seconds mixed per second of CPU; "core_%" is the share
// of one core that mixing those voices in real time takes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/softaudio/softmixer.h"

namespace {

enum Kind { MONO16, STEREO16, MONO8, RAMPING };

void Mix(benchmark::State& state, Kind kind) {
  const int voices = static_cast<int>(state.range(0));
  const int frag = 1024;  // samples, as the wave-out device mixes them
  mixer m(frag);
  const int frames = 22050 * 2;
  std::vector<int16_t> pcm16(static_cast<size_t>(frames) * 2);
  for (size_t i = 0; i < pcm16.size(); ++i) pcm16[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
  std::vector<uint8_t> pcm8(frames);
  for (int i = 0; i < frames; ++i) pcm8[i] = static_cast<uint8_t>(128 + 60 * std::sin(i * 0.05));
  fa_sound* s = kind == MONO8      ? fa_createsound(frames, 8, 1, 22050, pcm8.data(), 1)
                : kind == STEREO16 ? fa_createsound(frames, 16, 2, 22050, pcm16.data(), 1)
                                   : fa_createsound(frames, 16, 1, 22050, pcm16.data(), 1);
  std::vector<sound*> vs;
  for (int i = 0; i < voices; ++i) {
    sound* v = m.takevoice();
    v->reset(s, i + 1, false, false);
    s->users.fetch_add(1);
    v->setrate(0x10000 + (i % 37) * 1500);  // rates from 1.0 to about 1.8
    v->setvolume(64 + (i % 8) * 8);
    v->setpan((i % 17) * 480 - 4096);
    m.queue(v, 0);
    vs.push_back(v);
  }
  std::vector<int16_t> out(frag);
  uint32_t now = 1000;
  int n = 0;
  for (auto _ : state) {
    if (kind == RAMPING)
      for (sound* v : vs) v->setvolume(64 + ((n + v->handle) % 8) * 8);
    m.mix(out.data(), frag, now);
    benchmark::DoNotOptimize(out.data());
    ++n;
  }
  const double audio = static_cast<double>(state.iterations()) * (frag / 2) / static_cast<double>(AUDIO_OUTPUT_RATE);
  state.counters["realtime_x"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
  state.counters["core_%"] = benchmark::Counter(audio / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  fa_freesound(s);
}

void BM_MixMono16(benchmark::State& s) { Mix(s, MONO16); }
void BM_MixStereo16(benchmark::State& s) { Mix(s, STEREO16); }
void BM_MixMono8(benchmark::State& s) { Mix(s, MONO8); }
void BM_MixRampingMono16(benchmark::State& s) { Mix(s, RAMPING); }

}  // namespace

BENCHMARK(BM_MixMono16)->Arg(16)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_MixStereo16)->Arg(256);
BENCHMARK(BM_MixMono8)->Arg(256);
BENCHMARK(BM_MixRampingMono16)->Arg(256);
BENCHMARK_MAIN();
