// The table of song formats: each probe takes its own format's files and no other, a
// probe allocates nothing, the registry asks only the loaders whose probe takes the
// bytes, and a tool learns which format a file that is no tracker song was.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "music/loaders/loader_table.h"
#include "music/tests/format_bytes.h"
#include <ormix/music/song.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/stream.h>

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// Counts every allocation of the test program (the probes must make none).
void* operator new(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

struct CorpusFile {
  std::string path;
  std::string format;  // expected table entry
};

std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> out;
  const std::filesystem::path root(ORMIX_CORPUS_DIR);
  std::error_code ec;
  for (const char* dir : {"music", "sounds"}) {
    for (const auto& e : std::filesystem::directory_iterator(root / dir, ec)) {
      const std::string ext = e.path().extension().string();
      if (ext == ".mod") out.push_back({e.path().string(), "mod"});
      else if (ext == ".xm") out.push_back({e.path().string(), "xm"});
      else if (ext == ".wav") out.push_back({e.path().string(), "wav"});
    }
  }
  return out;
}

std::vector<uint8_t> Head(const std::string& path) {
  std::vector<uint8_t> bytes = LoadAllBytes(ToText(path));
  if (bytes.size() > CantorLoader::ProbeBytes) bytes.resize(CantorLoader::ProbeBytes);
  return bytes;
}

TEST(LoaderTable, EachProbeTakesItsOwnFormatOnly) {
  const auto files = CorpusFiles();
  if (files.empty()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << ORMIX_CORPUS_DIR;
  for (const CorpusFile& f : files) {
    const std::vector<uint8_t> head = Head(f.path);
    for (const TSongFormat& format : SongFormats())
      EXPECT_EQ(format.probe(head.data(), head.size()), f.format == format.name) << f.path << " / " << format.name;
  }
  // A native save of a song is taken by the native probe alone.
  const auto song = LoadTrackerSong(ToText(files.front().path));
  ASSERT_TRUE(song);
  auto bank = NewBank();
  ASSERT_EQ(SaveSong(*song, TBankStream::Create(bank, 0, 1)), 1);
  bank->resize(std::min<size_t>(bank->size(), CantorLoader::ProbeBytes));
  for (const TSongFormat& format : SongFormats())
    EXPECT_EQ(format.probe(bank->data(), bank->size()), std::string(format.name) == "qtk") << format.name;
}

TEST(LoaderTable, ProbesAllocateNothing) {
  const auto files = CorpusFiles();
  std::vector<std::vector<uint8_t>> heads;
  for (const CorpusFile& f : files) heads.push_back(Head(f.path));
  heads.push_back({});                                           // an empty file
  heads.push_back(std::vector<uint8_t>(CantorLoader::ProbeBytes, 0x41));  // text
  heads.push_back(std::vector<uint8_t>(600, 0));                 // zeros, short of a MOD tag
  int accepted = 0;
  const long before = g_allocations.load();
  for (const auto& head : heads)
    for (const TSongFormat& format : SongFormats()) accepted += format.probe(head.data(), head.size()) ? 1 : 0;
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_GE(accepted, static_cast<int>(files.size()));
}

int g_refusedCalls = 0;
bool RefuseAll(const uint8_t*, size_t) { return false; }

TEST(LoaderTable, RegistryAsksOnlyTheLoadersWhoseProbeTakesTheBytes) {
  InitMusicModule();
  // Registered last, so asked only after the real formats: a text file reaches it, but
  // its probe refuses the bytes and its loader is never called.
  CantorLoader::Create(
      [](const TMusicSource&) -> TMusicPtr {
        ++g_refusedCalls;
        return nullptr;
      },
      u"never", u"never", RefuseAll);
  const fmtbytes::Bytes text(2000, 'a');
  EXPECT_FALSE(LoadMusic(TMusicSource(fmtbytes::Stream(text))));
  EXPECT_EQ(g_refusedCalls, 0);
}

TEST(LoaderTable, ToolsLearnTheFormatOfAFileThatIsNoSong) {
  const std::string wav = std::string(ORMIX_CORPUS_DIR) + "/sounds/mono16.wav";
  if (!std::filesystem::exists(wav)) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << ORMIX_CORPUS_DIR;
  Text format = u"stale";
  EXPECT_FALSE(LoadTrackerSong(ToText(wav), &format));
  EXPECT_EQ(format, u"wav");
  const fmtbytes::Bytes text(2000, 'a');
  EXPECT_FALSE(LoadTrackerSong(TMusicSource(fmtbytes::Stream(text)), &format));
  EXPECT_EQ(format, u"");
}

}  // namespace
