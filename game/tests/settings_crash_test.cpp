// A save killed at any moment leaves the settings file as a complete old or new record:
// a process saving two records in turn is killed at random moments, and after every kill
// the file reads back as exactly one of them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "game/settings.h"

namespace {

TGameSettings Record(int which) {
  TGameSettings s;
  s.PlayerName = which == 0 ? u"Alpha" : u"Bravissimo";
  s.HighScore = which == 0 ? 111 : 222222;
  s.PlayerId = which == 0 ? 7 : 99;
  s.MusicOption = which;
  s.ScoreTable = which == 0 ? u"Ann|300|Bob|120" : u"Cy|9000|Di|8000|Ed|7000|Flo|6000|Gus|5000";
  return s;
}

bool Same(const TGameSettings& a, const TGameSettings& b) {
  return a.PlayerName == b.PlayerName && a.HighScore == b.HighScore && a.PlayerId == b.PlayerId &&
         a.MusicOption == b.MusicOption && a.ScoreTable == b.ScoreTable;
}

// The saving process: this test binary started again with only this case selected and
// ZINGLE_SAVER_PATH set; it saves the two records in turn until it is killed.
TEST(SettingsCrash, SaverChild) {
  const char* path = std::getenv("ZINGLE_SAVER_PATH");
  if (!path) GTEST_SKIP() << "runs only as the child of KilledSavesLeaveACompleteRecord";
  for (int i = 0;; i ^= 1) SaveSettings(ToText(path), Record(i));
}

TEST(SettingsCrash, KilledSavesLeaveACompleteRecord) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("zingle-crash-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "tigger.hop").string();
  ASSERT_TRUE(SaveSettings(ToText(path), Record(0)));

  std::mt19937 random(12345);
  int seen[2] = {0, 0};
  for (int round = 0; round < 40; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("ZINGLE_SAVER_PATH", path.c_str(), 1);
      execl("/proc/self/exe", "settings_crash_test", "--gtest_filter=SettingsCrash.SaverChild", nullptr);
      _exit(127);
    }
    // Long enough for the child to start and save many times, at a different moment each round.
    std::this_thread::sleep_for(std::chrono::microseconds(30000 + random() % 40000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself (status " << status << ")";

    TGameSettings loaded;
    loaded.PlayerId = -1;
    ASSERT_TRUE(LoadSettings(ToText(path), loaded));
    const bool old = Same(loaded, Record(0)), fresh = Same(loaded, Record(1));
    EXPECT_TRUE(old || fresh) << "round " << round << ": name '" << ToUtf8(loaded.PlayerName) << "' score "
                              << loaded.HighScore << " table '" << ToUtf8(loaded.ScoreTable) << "'";
    seen[fresh ? 1 : 0] += 1;
  }
  fs::remove_all(dir);
  // Both records turned up: the kills did land in the middle of the saving.
  EXPECT_GT(seen[0] + seen[1], 0);
}

}  // namespace
