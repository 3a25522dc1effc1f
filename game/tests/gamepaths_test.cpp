// Where the game looks for its assets and keeps its settings: in place in the build's
// bin/, or installed under a prefix with the settings per user.
#include "game/gamepaths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class GamePathsTest : public ::testing::Test {
protected:
  fs::path root;
  void SetUp() override {
    char tmpl[] = "/tmp/zingle-paths-XXXXXX";
    root = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(root); }
  void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
};

TEST_F(GamePathsTest, InPlaceWhenSystem173IsBesideTheExecutable) {
  Touch(root / "bin/system/173/zingle.png");
  Touch(root / "share/zingle/zingle.png");  // an install beside it does not matter
  TGamePaths p = FindGamePaths((root / "bin").string(), "/xdg", "/home/u");
  EXPECT_EQ(p.assets, "system/173/");
  EXPECT_EQ(p.settings, "system/173/tigger.hop");
}

TEST_F(GamePathsTest, InstalledTakesAssetsFromShareAndSettingsPerUser) {
  Touch(root / "bin/zingle");
  Touch(root / "share/zingle/zingle.png");
  const std::string bin = (root / "bin").string();
  const std::string assets = (root / "share/zingle").string() + "/";
  struct Case {
    const char* xdg;
    const char* home;
    const char* settings;
  } cases[] = {
      {"/data/x", "/home/u", "/data/x/zingle/tigger.hop"},
      {nullptr, "/home/u", "/home/u/.local/share/zingle/tigger.hop"},
      {"", "/home/u", "/home/u/.local/share/zingle/tigger.hop"},
      // A relative XDG_DATA_HOME is not used.
      {"rel/data", "/home/u", "/home/u/.local/share/zingle/tigger.hop"},
  };
  for (const Case& c : cases) {
    TGamePaths p = FindGamePaths(bin, c.xdg, c.home);
    EXPECT_EQ(p.assets, assets);
    EXPECT_EQ(p.settings, c.settings) << (c.xdg ? c.xdg : "(unset)");
  }
}

TEST_F(GamePathsTest, NeitherLayoutKeepsTheRelativePaths) {
  // Nothing found: the loads report the missing files as they always did.
  TGamePaths p = FindGamePaths((root / "bin").string(), nullptr, "/home/u");
  EXPECT_EQ(p.assets, "system/173/");
  EXPECT_EQ(p.settings, "system/173/tigger.hop");
}

}  // namespace
