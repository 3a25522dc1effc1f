// The real game under X, played by scripts.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <cstdlib>
#include <cstring>
#include <regex>

#include <ormix/runtime/scramble.h>
#include "game/settings.h"
#include "testsupport/loopback_server.h"
#include "zingle_run.h"
#include <ormix/graphics/pixmap.h>

#include "testsupport/testsupport.h"

namespace {

// Splits the two scrambled lines of a settings file.
bool SettingsLines(const std::string& bytes, Text& line1, Text& line2) {
  size_t a = bytes.find("\r\n");
  if (a == std::string::npos) return false;
  size_t b = bytes.find("\r\n", a + 2);
  if (b == std::string::npos) return false;
  line1 = Unscramble(ToText(bytes.substr(0, a)), SettingsKey, SETTINGS_PASSES);
  line2 = Unscramble(ToText(bytes.substr(a + 2, b - a - 2)), TableKey, SETTINGS_PASSES);
  return true;
}

// Samples of a raw 16-bit recording louder than a faint noise.
int LoudSamples(const std::string& path) {
  std::ifstream raw(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
  int loud = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    int16_t v = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                     (static_cast<uint8_t>(bytes[i + 1]) << 8));
    loud += v > 2000 || v < -2000;
  }
  return loud;
}

// A whole session: a right click before any game does nothing; the name is edited after a
// click on the name area; a game is started with Space, its first landing scores, three
// landings on one tile score 5, 10 and 15, the ball falls off, the high score is saved;
// a right click exchanges scores with the server; Escape ends the program.
const char* kSession = R"(seed 1
1 click right 400 300
2 click left 150 360
3 tap backspace
5 tap backspace
7 tap backspace
9 tap backspace
11 tap backspace
13 tap backspace
15 type Tester
22 tap enter
25 down space
27 up space
30 down space
50 up space
70 down space
95 up space
243 shot before.png
245 press right 400 300
247 release right 400 300
250 shot after.png
260 tap escape
400 quit
)";

TEST(ZingleGame, ScriptedSessionPlaysSavesAndExchangesScores) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
  InitPixmapModule();

  const Text table = u"Champion|900|Tester|30|Rookie|5";
  TLoopbackServer server(TLoopbackServer::Answer("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" +
                                                 ToUtf8(Scramble(table, ExchangeKey, EXCHANGE_PASSES)) +
                                                 "\r\n-+-\r\n"));
  // Music off, so that what is heard is the hits (a first start otherwise: no name typed
  // yet, no score, a new identity).
  TGameSettings quiet;
  quiet.MusicOption = 0;
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), quiet));
  std::string env = "ZINGLE_SCORE_SERVER=127.0.0.1:" + std::to_string(server.Port());
  // What would be heard goes to a file (44100 Hz, 16-bit stereo).
  std::string audio = "SDL_DISKAUDIOFILE=" + run.Path("audio.raw");
  ASSERT_EQ(run.Run(kSession, {env, "SDL_AUDIODRIVER=disk", audio}), 0) << run.Trace();

  const std::string trace = run.Trace();
  // The game starts at frame 25 and its first frame lands on the full row.
  EXPECT_NE(trace.find("25 play\n25 hit colour=1 combo=1 points=5 score=5 rate=22500\n"),
            std::string::npos)
      << trace;
  // A chain of three hits on one colour: 5, 10, 15 with a rising pitch.
  std::regex hit(R"((\d+) hit colour=(\d) combo=(\d+) points=(\d+) score=(\d+) rate=(\d+))");
  std::vector<std::smatch> hits;
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), hit); it != std::sregex_iterator();
       ++it)
    hits.push_back(*it);
  ASSERT_EQ(hits.size(), 3u) << trace;
  const int points[] = {5, 10, 15}, score[] = {5, 15, 30}, rate[] = {22500, 23500, 24000};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(hits[i][2], hits[0][2].str());
    EXPECT_EQ(std::stoi(hits[i][4]), points[i]);
    EXPECT_EQ(std::stoi(hits[i][5]), score[i]);
    EXPECT_EQ(std::stoi(hits[i][6]), rate[i]);
  }
  EXPECT_NE(trace.find("fell score=30"), std::string::npos) << trace;
  EXPECT_NE(trace.find("gameover score=30\n237 highscore 30\n237 saved\n237 title"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("245 exchange ok"), std::string::npos) << trace;
  EXPECT_NE(trace.find("end"), std::string::npos) << trace;

  // Stored: the typed name, the high score and the table received.
  Text line1, line2;
  ASSERT_TRUE(SettingsLines(run.Settings(), line1, line2));
  EXPECT_EQ(GetField(line1, u"|", 1, 1), u"Tester");
  EXPECT_EQ(GetField(line1, u"|", 2, 0), u"30");
  EXPECT_EQ(line2, table);

  // One request only (the right click before any game sent nothing), carrying the record.
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(requests[0], m,
                                std::regex("^GET /kwscoreme\\.php\\?gameid=20&info=([0-9A-F]+) HTTP/1\\.0\n")))
      << requests[0];
  EXPECT_EQ(Unscramble(ToText(m[1].str()), ExchangeKey, EXCHANGE_PASSES),
            u"Tester|" + GetField(line1, u"|", 3, 0) + u"|30");

  // The table on the title screen changed with the exchange.
  TPixmapPtr before = OpenPixmap(run.Path("before.png"));
  TPixmapPtr after = OpenPixmap(run.Path("after.png"));
  ASSERT_TRUE(before && after);
  ASSERT_EQ(after->width, 800);
  ASSERT_EQ(after->height, 600);
  int changed = 0;
  for (int y = 320; y < 360; ++y)
    for (int x = 460; x < 700; ++x) changed += before->ReadPixel(x, y) != after->ReadPixel(x, y);
  EXPECT_GT(changed, 50);

  // The hits were heard.
  EXPECT_GT(LoudSamples(run.Path("audio.raw")), 1000);
}

// Settings restored at the next start; F1 switches the screen at once; Escape that ends a game must be released and
// pressed again before it ends the program; a failed exchange keeps the table.
TEST(ZingleGame, RestartKeepsSettingsAndAFailedExchangeKeepsTheTable) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
  TGameSettings s;
  s.PlayerName = u"Keeper";
  s.HighScore = 77;
  s.PlayerId = 4321;
  s.ScoreTable = u"Old|77";
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), s));

  // Nothing listens on this port.
  int deadPort;
  {
    TLoopbackServer gone(TLoopbackServer::Answer(""));
    deadPort = gone.Port();
  }
  const char* script = R"(seed 2
3 down x
5 up x
10 down escape
135 tap f1
140 press right 10 10
142 release right 10 10
150 up escape
160 down escape
400 quit
)";
  ASSERT_EQ(run.Run(script, {"ZINGLE_SCORE_SERVER=127.0.0.1:" + std::to_string(deadPort)}), 0)
      << run.Trace();
  const std::string trace = run.Trace();
  EXPECT_NE(trace.find("3 play"), std::string::npos) << trace;
  EXPECT_NE(trace.find("escape score="), std::string::npos) << trace;
  EXPECT_NE(trace.find("exchange failed"), std::string::npos) << trace;
  // F1 switches the screen at once (back to a window where the display cannot switch).
  EXPECT_NE(trace.find("135 screen depth=32"), std::string::npos) << trace;
  // Escape was held from play until frame 150: only the press at 160 ends the program.
  EXPECT_NE(trace.find("160 end"), std::string::npos) << trace;

  Text line1, line2;
  ASSERT_TRUE(SettingsLines(run.Settings(), line1, line2));
  EXPECT_EQ(GetField(line1, u"|", 1, 1), u"Keeper");
  // The game's lower score leaves the stored high score alone.
  EXPECT_EQ(trace.find("highscore"), std::string::npos) << trace;
  EXPECT_EQ(GetField(line1, u"|", 2, 0), u"77");
  EXPECT_EQ(GetField(line1, u"|", 3, 0), u"4321");
  EXPECT_EQ(line2, u"Old|77");
}

// The stored options at start-up: the DirectX 7 renderer and full screen (which falls
// back to a window on a display that cannot switch modes); F3 and F2 change the options
// that the save at the end keeps.
TEST(ZingleGame, StoredOptionsChooseRendererAndScreen) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
  InitPixmapModule();
  TGameSettings s;
  s.RendererOption = 1;
  s.ScreenDepthOption = 32;
  s.PlayerId = 55;
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), s));
  const char* script = R"(seed 3
5 tap f3
7 tap f2
10 shot title.png
20 tap escape
100 quit
)";
  ASSERT_EQ(run.Run(script), 0) << run.Trace();
  const std::string trace = run.Trace();
  EXPECT_NE(trace.find("20 end"), std::string::npos) << trace;
  // The stored renderer started, and full screen either took or gave way to a window.
  EXPECT_EQ(trace.find("renderer opengl"), std::string::npos) << trace;
  const bool full = trace.find("0 renderer directx7 depth=32") != std::string::npos;
  const bool windowed = trace.find("0 fullscreen failed\n0 renderer directx7 depth=0") != std::string::npos;
  EXPECT_TRUE(full != windowed) << trace;

  TPixmapPtr shot = OpenPixmap(run.Path("title.png"));
  ASSERT_TRUE(shot);
  int lit = 0;
  for (int y = 40; y < 240; y += 4)
    for (int x = 100; x < 700; x += 4) lit += (shot->ReadPixel(x, y) & 0xFFFFFF) != 0;
  EXPECT_GT(lit, 500);  // the logo was drawn

  Text line1, line2;
  ASSERT_TRUE(SettingsLines(run.Settings(), line1, line2));
  EXPECT_EQ(GetField(line1, u"|", 5, 0), u"0");  // music switched off
  EXPECT_EQ(GetField(line1, u"|", 6, 0), u"0");  // OpenGL at the next start
}

// The background song plays on the title screen while the music option is on; F2
// switches it off at once; with the option off nothing is heard.
TEST(ZingleGame, MusicFollowsTheOption) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  for (int option : {1, 0}) {
    TZingleRun run;
    if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
    if (access(run.Path("system/173/zingle.mod").c_str(), F_OK) != 0)
      ORMIX_SKIP_OR_FAIL() << "the song is not built";
    TGameSettings s;
    s.MusicOption = option;
    ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), s));
    // Paced by the script's length: the title screen stays for a while, then F2.
    std::string script = "seed 1\n";
    for (int f = 0; f < 400; f += 50) script += std::to_string(f) + " move " + std::to_string(f) + " 10\n";
    if (option == 1) script += "400 tap f2\n";
    script += "420 tap escape\n600 quit\n";
    std::string audio = "SDL_DISKAUDIOFILE=" + run.Path("audio.raw");
    ASSERT_EQ(run.Run(script, {"SDL_AUDIODRIVER=disk", audio}), 0) << run.Trace();
    const std::string trace = run.Trace();
    if (option == 1) {
      EXPECT_NE(trace.find("0 music playing"), std::string::npos) << trace;
      EXPECT_NE(trace.find("400 music stopped"), std::string::npos) << trace;
      EXPECT_NE(trace.find("400 music 0"), std::string::npos) << trace;
      EXPECT_GT(LoudSamples(run.Path("audio.raw")), 1000);
    } else {
      EXPECT_EQ(trace.find("music playing"), std::string::npos) << trace;
      EXPECT_EQ(LoudSamples(run.Path("audio.raw")), 0);
    }
  }
}

// Without a sound device the song cannot play; it is tried once at the start and once
// after each option key (F2 switching the music on, F3), not again on every frame of the
// title screen and of play.
TEST(ZingleGame, MusicWithoutASoundDeviceIsTriedOncePerStartOrOptionChange) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) GTEST_SKIP() << run.error;
  TGameSettings s;
  s.MusicOption = 1;
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), s));
  const char* script = R"(seed 1
20 tap f2
30 tap f2
40 tap f3
60 down space
62 up space
100 tap escape
260 quit
)";
  ASSERT_EQ(run.Run(script, {"SDL_AUDIODRIVER=no-such-device"}), 0) << run.Trace();
  std::vector<int> tries;
  for (const std::string& line : run.TraceLines())
    if (line.find(" music unavailable") != std::string::npos) tries.push_back(std::stoi(line));
  ASSERT_EQ(tries.size(), 3u) << run.Trace();
  EXPECT_LT(tries[0], 20);
  EXPECT_GE(tries[1], 30);
  EXPECT_LT(tries[1], 40);
  EXPECT_GE(tries[2], 40);
  EXPECT_LT(tries[2], 60);
  EXPECT_NE(run.Trace().find(" play\n"), std::string::npos) << run.Trace();
}

}  // namespace

// A game played with a virtual pad: start begins it, A jumps (a full jump when held, a
// short one when let go early), start pauses and resumes, a press of A during the pause
// does nothing, the stick steers only beyond its dead zone and the d-pad steers, back
// ends the game and, still held, does not end the program on the title screen. Then a game
// started from the keyboard, one started with a second pad that pauses when that pad is
// pulled out, and the title screen naming the input of the latest game.
const char* kPadSession = R"(seed 1
2 pad connect Test Pad
10 shot before.png
20 pad tap start
30 pad down a
60 pad up a
62 pad tap start
75 pad down a
77 pad up a
78 pad tap start
85 pad move leftx -0.3
90 pad down a
93 pad up a
94 pad move leftx -0.9
100 pad move leftx 0
110 pad down a
140 pad up a
141 pad down right
146 pad up right
150 pad down a
170 pad up a
180 pad down back
320 pad up back
330 down space
332 up space
340 tap escape
470 pad 2 connect Second Pad
480 pad 2 tap a
490 pad 2 disconnect
500 tap space
510 tap escape
640 shot after.png
650 pad down back
700 quit
)";

TEST(ZingleGame, PlayedWithAPad) {
  if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
  TZingleRun run;
  if (!run.Prepare()) ORMIX_SKIP_OR_FAIL() << run.error;
  InitPixmapModule();
  TGameSettings quiet;
  quiet.MusicOption = 0;
  ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), quiet));
  ASSERT_EQ(run.Run(kPadSession), 0) << run.Trace();

  // The trace without the rows that scroll in.
  std::string trace;
  for (const std::string& line : run.TraceLines())
    if (line.find(" row ") == std::string::npos) trace += line + "\n";
  const char* expected[] = {
      "2 pad connected 1 Test Pad\n",
      "20 input pad 1 Test Pad\n20 play\n20 hit colour=1 combo=1 points=5 score=5 rate=22500\n",
      "30 scrolling 1\n31 jump x=384\n47 rise 136\n",  // held: the full 136 pixels
      "58 hit colour=1 combo=2 points=10 score=15 rate=23500\n62 pause\n78 resume\n",
      "90 jump x=384\n93 rise 45\n",                  // let go after three frames
      "100 hit colour=1 combo=3 points=15 score=30 rate=24000\n",
      "110 jump x=348\n126 rise 136\n",                // the stick steered left
      "137 hit colour=1 combo=4 points=20 score=50 rate=24500\n",
      "150 jump x=373\n166 rise 136\n",                // the d-pad steered right
      "177 hit colour=1 combo=5 points=25 score=75 rate=25000\n180 escape score=75\n",
      "301 gameover score=75\n301 highscore 75\n301 saved\n301 title\n",
      "330 input keyboard\n330 play\n340 escape score=0\n",
      "470 pad connected 2 Second Pad\n480 input pad 2 Second Pad\n480 play\n",
      "490 pad disconnected 2 Second Pad\n490 pause pad left\n500 resume\n510 escape score=0\n",
      "650 saved\n650 end\n",
  };
  size_t at = 0;
  for (const char* part : expected) {
    size_t found = trace.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing, in order: " << part << "\n" << trace;
    at = found + std::strlen(part);
  }
  EXPECT_EQ(trace.find(" end\n"), trace.find("650 end\n") + 3)
      << "back held from play did not end the program";
  // Nothing moved while paused: no row, hit or jump between the pause and the resume.
  const std::string all = run.Trace();
  for (int f = 63; f < 78; ++f)
    EXPECT_EQ(all.find("\n" + std::to_string(f) + " "), std::string::npos) << "frame " << f << "\n" << all;

  // The title screen names the input of the latest game under the table.
  TPixmapPtr before = OpenPixmap(run.Path("before.png"));
  TPixmapPtr after = OpenPixmap(run.Path("after.png"));
  ASSERT_TRUE(before && after);
  int changed = 0;
  for (int y = 566; y < 582; ++y)
    for (int x = 0; x < 300; ++x) changed += before->ReadPixel(x, y) != after->ReadPixel(x, y);
  EXPECT_GT(changed, 100);
}
