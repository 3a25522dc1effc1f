// Replays every kept fuzz finding (fuzz/regressions/<target>/) and the hand-made seeds
// (fuzz/seeds/<target>/) through the same entry functions the fuzzers call. A finding
// that comes back crashes this test, trips the sanitizers in their build, or runs into
// the test's time-out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> Inputs(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().filename() != "NOTES") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzReplay : public ::testing::TestWithParam<TFuzzTarget> {};

}  // namespace

// Test names and messages show the target's name.
void PrintTo(const TFuzzTarget& t, std::ostream* os) { *os << t.name; }

namespace {

TEST_P(FuzzReplay, KeptInputsRunCleanly) {
  const TFuzzTarget& t = GetParam();
  const fs::path root = ORMIX_FUZZ_DIR;
  for (const char* kind : {"regressions", "seeds"}) {
    for (const fs::path& file : Inputs(root / kind / t.name)) {
      SCOPED_TRACE(file.string());
      const std::vector<uint8_t> bytes = ReadFile(file);
      EXPECT_EQ(t.entry(bytes.data(), bytes.size()), 0);
    }
  }
}

// Every kept finding says in its folder's NOTES what it caught ("file: note", a line each).
TEST_P(FuzzReplay, EveryFindingHasANote) {
  const TFuzzTarget& t = GetParam();
  const fs::path dir = fs::path(ORMIX_FUZZ_DIR) / "regressions" / t.name;
  const std::vector<fs::path> files = Inputs(dir);
  if (files.empty()) return;
  std::ifstream notes(dir / "NOTES");
  ASSERT_TRUE(notes) << "missing " << (dir / "NOTES").string();
  std::string all((std::istreambuf_iterator<char>(notes)), std::istreambuf_iterator<char>());
  for (const fs::path& f : files)
    EXPECT_NE(all.find(f.filename().string() + ":"), std::string::npos) << f.filename() << " has no note";
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kFuzzTargets),
                         [](const ::testing::TestParamInfo<TFuzzTarget>& i) { return std::string(i.param.name); });

}  // namespace
