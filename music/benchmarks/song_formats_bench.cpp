// Speed of the song loaders and the native writer on real songs of the test corpus
// (counter "MB_per_s": file bytes handled per second). The XM figure includes the song
// length computation that the XM loader runs before returning.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "music/loaders/format_io.h"
#include "music/loaders/mod_loader.h"
#include "music/loaders/qtk.h"
#include "music/loaders/xm_loader.h"
#include <ormix/stream/stream.h>

namespace {

std::vector<uint8_t> CorpusBytes(const char* name) {
  const std::string path = std::string(ORMIX_CORPUS_DIR) + "/music/" + name;
  if (!std::filesystem::exists(path)) return {};
  return LoadAllBytes(ToText(path));
}

void Report(benchmark::State& state, size_t bytes) {
  state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(bytes) * state.iterations() / 1e6,
                                                  benchmark::Counter::kIsRate);
}

void BM_LoadMOD(benchmark::State& state) {
  const auto bytes = CorpusBytes("mon-lapin_reg-zbb.mod");
  if (bytes.empty()) return state.SkipWithError("no corpus");
  for (auto _ : state) benchmark::DoNotOptimize(LoadMOD(TStreamPtr(TRamStream::FromBytes(bytes))));
  Report(state, bytes.size());
}
BENCHMARK(BM_LoadMOD)->Unit(benchmark::kMillisecond);

void BM_LoadXM(benchmark::State& state) {
  const auto bytes = CorpusBytes("cerror-bobmberclone.xm");
  if (bytes.empty()) return state.SkipWithError("no corpus");
  for (auto _ : state) benchmark::DoNotOptimize(LoadXM(TStreamPtr(TRamStream::FromBytes(bytes))));
  Report(state, bytes.size());
}
BENCHMARK(BM_LoadXM)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> NativeBytes(Cantor_Mixer& song) {
  auto buf = std::make_shared<std::vector<uint8_t>>(16 << 20);
  TStreamPtr s = TRamStream::Create(buf->data(), static_cast<int64_t>(buf->size()), 1, 1, buf);
  song.Save(s);
  return std::vector<uint8_t>(buf->begin(), buf->begin() + s->Pos());
}

void BM_SaveNative(benchmark::State& state) {
  const auto bytes = CorpusBytes("mon-lapin_reg-zbb.mod");
  if (bytes.empty()) return state.SkipWithError("no corpus");
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMOD(TStreamPtr(TRamStream::FromBytes(bytes))));
  size_t size = 0;
  for (auto _ : state) size = NativeBytes(*song).size();
  Report(state, size);
}
BENCHMARK(BM_SaveNative)->Unit(benchmark::kMillisecond);

void BM_LoadNative(benchmark::State& state) {
  const auto bytes = CorpusBytes("mon-lapin_reg-zbb.mod");
  if (bytes.empty()) return state.SkipWithError("no corpus");
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMOD(TStreamPtr(TRamStream::FromBytes(bytes))));
  const auto native = NativeBytes(*song);
  for (auto _ : state) benchmark::DoNotOptimize(Cantor_Mixer::Load(TRamStream::FromBytes(native)));
  Report(state, native.size());
}
BENCHMARK(BM_LoadNative)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
