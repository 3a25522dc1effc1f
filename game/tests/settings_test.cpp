#include "game/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include <ormix/runtime/scramble.h>
#include <ormix/stream/stream.h>

namespace {

class Settings : public ::testing::Test {
protected:
  std::string dir;
  Text path;
  void SetUp() override {
    InitStreamModule();
    char tmpl[] = "/tmp/zingle-settings-XXXXXX";
    dir = mkdtemp(tmpl);
    path = ToText(dir + "/tigger.hop");
  }
  void TearDown() override {
    std::remove((dir + "/tigger.hop").c_str());
    std::remove((dir + "/tigger.hop.new").c_str());
    ::rmdir(dir.c_str());
  }
  // The file's first 64 KB (a file replaced by a device must not read forever).
  std::string Contents() {
    std::ifstream f(ToUtf8(path), std::ios::binary);
    std::string bytes(65536, '\0');
    f.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(f.gcount()));
    return bytes;
  }
  void Write(const std::string& bytes) {
    std::ofstream f(ToUtf8(path), std::ios::binary);
    f << bytes;
  }
};

TGameSettings Sample() {
  TGameSettings s;
  s.PlayerName = u"Ada";
  s.HighScore = 1234;
  s.PlayerId = 987654;
  s.ScreenDepthOption = 32;
  s.MusicOption = 0;
  s.RendererOption = 1;
  s.ScoreTable = u"Ann|300|Bob|120";
  return s;
}

TEST_F(Settings, RoundTripAndFileForm) {
  TGameSettings s = Sample();
  ASSERT_TRUE(SaveSettings(path, s));
  EXPECT_NE(access((dir + "/tigger.hop.new").c_str(), F_OK), 0);

  std::string bytes = Contents();
  size_t crlf1 = bytes.find("\r\n");
  ASSERT_NE(crlf1, std::string::npos);
  std::string line1 = bytes.substr(0, crlf1);
  std::string line2 = bytes.substr(crlf1 + 2, bytes.size() - crlf1 - 4);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(line1.size(), 2 * (SettingsRecord(s).size() + 4));
  EXPECT_EQ(line1.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(Unscramble(ToText(line1), SettingsKey, 12), u"Ada|1234|987654|32|0|1|0|0|0");
  EXPECT_EQ(Unscramble(ToText(line2), TableKey, 12), s.ScoreTable);

  TGameSettings back;
  ASSERT_TRUE(LoadSettings(path, back));
  EXPECT_EQ(back.PlayerName, s.PlayerName);
  EXPECT_EQ(back.HighScore, s.HighScore);
  EXPECT_EQ(back.PlayerId, s.PlayerId);
  EXPECT_EQ(back.ScreenDepthOption, s.ScreenDepthOption);
  EXPECT_EQ(back.MusicOption, s.MusicOption);
  EXPECT_EQ(back.RendererOption, s.RendererOption);
  EXPECT_EQ(back.ScoreTable, s.ScoreTable);
}

// A name the player can type survives a restart whatever its characters; a Latin-1 name
// is written in exactly the bytes it always had.
TEST_F(Settings, NamesBeyondLatin1SurviveAndLatin1NamesKeepTheirBytes) {
  const Text names[] = {u"\u0416\u0443\u043a", u"Zo\u00eb\u20ac", u"a\U0001F600b", u"Zo\u00eb", u"\u00c3\u00a9"};
  for (const Text& name : names) {
    SCOPED_TRACE(ToUtf8(name));
    TGameSettings s = Sample();
    s.PlayerName = name;
    ASSERT_TRUE(SaveSettings(path, s));
    TGameSettings back;
    ASSERT_TRUE(LoadSettings(path, back));
    EXPECT_EQ(back.PlayerName, name);
    EXPECT_EQ(back.HighScore, 1234) << "the settings line was lost";
    EXPECT_EQ(back.PlayerId, 987654);
    EXPECT_EQ(back.RendererOption, 1);
    bool latin1 = true;
    for (char16_t c : name) latin1 = latin1 && c <= 0xFF;
    if (latin1) {
      const std::string line1 = Contents().substr(0, Contents().find("\r\n"));
      EXPECT_EQ(ToText(line1), Scramble(name + u"|1234|987654|32|0|1|0|0|0", SettingsKey, 12));
    }
  }
}

TEST_F(Settings, EmptyTableIsAnEmptyLineAndANameEndsAtItsFirstSpace) {
  TGameSettings s = Sample();
  s.ScoreTable.clear();
  s.PlayerName = u"Blue Sky";
  ASSERT_TRUE(SaveSettings(path, s));
  std::string bytes = Contents();
  EXPECT_EQ(bytes.substr(bytes.size() - 4), "\r\n\r\n");
  TGameSettings back;
  ASSERT_TRUE(LoadSettings(path, back));
  EXPECT_EQ(back.PlayerName, u"Blue");
  EXPECT_EQ(back.ScoreTable, u"");
  EXPECT_EQ(back.HighScore, 1234);
}

TEST_F(Settings, DamagedLinesReadAsEmpty) {
  TGameSettings s = Sample();
  ASSERT_TRUE(SaveSettings(path, s));
  std::string bytes = Contents();
  std::string damaged1 = bytes;
  damaged1[0] = damaged1[0] == '0' ? '1' : '0';
  Write(damaged1);
  TGameSettings back;
  ASSERT_TRUE(LoadSettings(path, back));
  EXPECT_EQ(back.PlayerName, u"");
  EXPECT_EQ(back.HighScore, 0);
  EXPECT_GT(back.PlayerId, 0);  // a new identity
  EXPECT_NE(back.PlayerId, s.PlayerId);
  EXPECT_EQ(back.ScreenDepthOption, 0);
  EXPECT_EQ(back.MusicOption, 0);
  EXPECT_EQ(back.RendererOption, 0);
  EXPECT_EQ(back.ScoreTable, s.ScoreTable);

  std::string damaged2 = bytes;
  size_t second = bytes.find("\r\n") + 2;
  damaged2[second] = damaged2[second] == 'A' ? 'B' : 'A';
  Write(damaged2);
  TGameSettings back2;
  ASSERT_TRUE(LoadSettings(path, back2));
  EXPECT_EQ(back2.PlayerName, u"Ada");
  EXPECT_EQ(back2.HighScore, 1234);
  EXPECT_EQ(back2.ScoreTable, u"");
}

TEST_F(Settings, MissingFileKeepsTheValues) {
  TGameSettings s = Sample();
  EXPECT_FALSE(LoadSettings(path, s));
  EXPECT_EQ(s.PlayerName, u"Ada");
  EXPECT_EQ(s.HighScore, 1234);
}

// A save that fails part way (the temporary file cannot be made, or its bytes cannot be
// written out) reports failure, keeps the old file's bytes and leaves no temporary file.
TEST_F(Settings, AFailedSaveKeepsTheOldFile) {
  const std::string temp = dir + "/tigger.hop.new";
  struct Case {
    const char* what;
    bool (*block)(const std::string& temp);  // puts the obstacle in place of the temporary file
    bool leavesTemp;                         // the obstacle itself is ours and stays
  };
  const Case cases[] = {
      {"temporary name is a directory", [](const std::string& t) { return ::mkdir(t.c_str(), 0700) == 0; },
       true},
      {"temporary file writes to a full disk",
       [](const std::string& t) { return ::symlink("/dev/full", t.c_str()) == 0; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TGameSettings s = Sample();
    ASSERT_TRUE(SaveSettings(path, s));
    const std::string before = Contents();
    s.HighScore = 99999;
    ASSERT_TRUE(c.block(temp));
    EXPECT_FALSE(SaveSettings(path, s));
    EXPECT_EQ(Contents(), before);
    struct stat st {};
    if (c.leavesTemp) {
      EXPECT_EQ(::lstat(temp.c_str(), &st), 0);
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      ::rmdir(temp.c_str());
    } else {
      EXPECT_NE(::lstat(temp.c_str(), &st), 0) << "temporary file left behind";
      std::remove(temp.c_str());
    }
  }
}

TEST(PlayerId, PositiveAndVaried) {
  std::set<int> ids;
  for (int i = 0; i < 5; ++i) {
    int id = NewPlayerId();
    EXPECT_GT(id, 0);
    ids.insert(id);
    usleep(3000);
  }
  EXPECT_EQ(ids.size(), 5u) << "identities made a few milliseconds apart repeat";
}

}  // namespace
