// Reading text line by line in each encoding, from a memory bank and from a file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include <ormix/stream/bankstream.h>
#include <ormix/stream/textstream.h>

namespace {

// 1 MB-ish of lines mixing ASCII, Latin-1 letters, a euro sign and a character beyond 16 bits.
TBankPtr Encoded(int encoding) {
  TBankPtr bank = NewBank();
  auto s = CreateTextStream(OpenUrlStream(bank, 0, 1), encoding);
  const Text line = u"Zingle! \u00E9t\u00E9 \u20AC 42 \U0001F600 and some more plain words";
  for (int i = 0; i < 20000; ++i) s->WriteLine(line);
  return bank;
}

void BM_ReadLines(benchmark::State& state) {
  const int encoding = static_cast<int>(state.range(0));
  TBankPtr bank = Encoded(encoding);
  for (auto _ : state) {
    auto s = CreateTextStream(OpenUrlStream(bank, 1, 0), encoding);
    size_t chars = 0;
    while (!s->Eof()) chars += s->ReadLine().size();
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bank->size()));
}
BENCHMARK(BM_ReadLines)->Arg(TEXT_LATIN1)->Arg(TEXT_UTF8)->Arg(TEXT_UTF16BE)->Arg(TEXT_UTF16LE);

void BM_ReadLinesFromFile(benchmark::State& state) {
  TBankPtr bank = Encoded(TEXT_UTF8);
  const std::string path = (std::filesystem::temp_directory_path() / "ormix_textstream_bench.txt").string();
  SaveAllBytes(*bank, ToText(path));
  for (auto _ : state) {
    TStreamPtr s = OpenForReading(u"utf8::" + ToText(path));
    size_t chars = 0;
    while (!s->Eof()) chars += s->ReadLine().size();
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bank->size()));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadLinesFromFile);

}  // namespace

BENCHMARK_MAIN();
