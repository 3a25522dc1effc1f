#include "game/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "game/scramble.h"
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
  std::string Contents() {
    std::ifstream f(ToUtf8(path), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
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

TEST_F(Settings, MissingFileKeepsTheValuesAndAFailedSaveKeepsTheOldFile) {
  TGameSettings s = Sample();
  EXPECT_FALSE(LoadSettings(path, s));
  EXPECT_EQ(s.PlayerName, u"Ada");
  EXPECT_EQ(s.HighScore, 1234);

  ASSERT_TRUE(SaveSettings(path, s));
  std::string before = Contents();
  EXPECT_FALSE(SaveSettings(ToText(dir + "/missing-folder/tigger.hop"), s));
  EXPECT_EQ(Contents(), before);
}

TEST(PlayerId, PositiveAndVaried) {
  int a = NewPlayerId();
  EXPECT_GT(a, 0);
  usleep(3000);
  EXPECT_GT(NewPlayerId(), 0);
}

}  // namespace
