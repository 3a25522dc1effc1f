// The game against the real score service: scripted play, headless, then a right click on
// the title screen; and the service's page in a real headless browser. On both stores.
#include <gtest/gtest.h>

#include <cstdio>

#include "game/exchange.h"
#include "game/settings.h"
#include "game/tests/zingle_run.h"
#include "scores_harness.h"

namespace {

using namespace scores_test;

class ScoresEndToEnd : public ::testing::TestWithParam<std::string> {
protected:
  TTempDir dir;
  std::string url;
  TScoresProcess server;

  void SetUp() override {
    ASSERT_FALSE(dir.path.empty());
    std::string reason;
    url = TestStoreUrl(GetParam(), dir.path, reason);
    if (url.empty()) {
      if (RequiredInCi()) FAIL() << reason;
      GTEST_SKIP() << reason;
    }
    ASSERT_TRUE(server.Start(dir.path + "/server.log", {"--db", url})) << server.error;
  }

  // The table the game stored after its exchange (what its title screen shows).
  static Text StoredTable(const TZingleRun& run) {
    const std::string bytes = run.Settings();
    size_t a = bytes.find("\r\n");
    size_t b = a == std::string::npos ? a : bytes.find("\r\n", a + 2);
    if (b == std::string::npos) return u"(no settings file)";
    return Unscramble(ToText(bytes.substr(a + 2, b - a - 2)), TableKey, SETTINGS_PASSES);
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, ScoresEndToEnd, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// A game that scores 30 and ends on the title screen, then a right click there.
const char* kGameThenRightClick = R"(seed 1
25 down space
27 up space
30 down space
50 up space
70 down space
95 up space
245 press right 400 300
247 release right 400 300
260 tap escape
400 quit
)";

TEST_P(ScoresEndToEnd, TheGameSharesItsHighScoreAndSeesTheTable) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) GTEST_SKIP() << run.error;
  TGameSettings player;
  player.PlayerName = u"Tester";
  player.PlayerId = 4242;
  player.MusicOption = 0;
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), player));
  const std::string address = "localhost:" + std::to_string(server.port);
  const std::string env = "ZINGLE_SCORE_SERVER=" + address;

  ASSERT_EQ(run.Run(kGameThenRightClick, {env}), 0) << run.Trace();
  EXPECT_NE(run.Trace().find("highscore 30"), std::string::npos) << run.Trace();
  EXPECT_NE(run.Trace().find("exchange ok"), std::string::npos) << run.Trace() << server.Log();
  EXPECT_EQ(ToUtf8(StoredTable(run)), "Tester|30");

  // Another player id with a higher score, through the game's own exchange code.
  EXPECT_EQ(ToUtf8(ExchangeScores(u"Rival|4243|130", ParseScoreServer(ToText(address)))), "Rival|130|Tester|30");

  // The player's next game and right click show the rival first, the player second.
  ASSERT_EQ(run.Run(kGameThenRightClick, {env}), 0) << run.Trace();
  EXPECT_NE(run.Trace().find("exchange ok"), std::string::npos) << run.Trace() << server.Log();
  EXPECT_EQ(ToUtf8(StoredTable(run)), "Rival|130|Tester|30");
  EXPECT_EQ(server.Stop(), 0);
}

// The HTML page as a real browser sees it: the rows, in order.
TEST_P(ScoresEndToEnd, ABrowserShowsTheRows) {
  const char* chromium = "/usr/bin/chromium";
  if (access(chromium, X_OK) != 0) {
    if (RequiredInCi()) FAIL() << "chromium is not installed";
    GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
  }
  for (const char* record : {"Ann|1|50", "<Bob>|2|70", "Cy|3|10"})
    ASSERT_EQ(Get(server.port, ExchangeTarget(ToText(record))).status, 200);
  TTempDir profile;
  const std::string dom = dir.path + "/dom.html";
  const std::string command =
      std::string("timeout 120 ") + chromium +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
      " --disable-component-update --disable-sync --user-data-dir=" + profile.path +
      " --dump-dom http://127.0.0.1:" + std::to_string(server.port) + "/ >" + dom + " 2>" + dir.path + "/chromium.log";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.path + "/chromium.log");
  const std::string page = ReadFile(dom);
  size_t bob = page.find("<td class=\"name\">&lt;Bob&gt;</td><td class=\"score\">70</td>");
  size_t ann = page.find("<td class=\"name\">Ann</td><td class=\"score\">50</td>");
  size_t cy = page.find("<td class=\"name\">Cy</td><td class=\"score\">10</td>");
  ASSERT_NE(bob, std::string::npos) << page;
  ASSERT_NE(ann, std::string::npos) << page;
  ASSERT_NE(cy, std::string::npos) << page;
  EXPECT_LT(bob, ann);
  EXPECT_LT(ann, cy);
  EXPECT_NE(page.find("<title>Zingle! high scores</title>"), std::string::npos);
  EXPECT_NE(server.Log().find("\"GET /\" 200"), std::string::npos);
}

}  // namespace
