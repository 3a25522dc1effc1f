#include "game/script.h"
#include "game/zingle.h"

#include <gtest/gtest.h>

namespace {

TEST(Script, ParsesEveryCommand) {
  TScript s;
  std::string error;
  ASSERT_TRUE(s.Parse("# a game\nseed 42\n"
                      "10 tap space\n"
                      "3 down left\r\n"
                      "4 up #37\n"
                      "5 type Hi |\n"
                      "6 click right 400 300\n"
                      "7 move 1 2\n"
                      "8 shot out.png\n"
                      "9 press middle 5 6\n"
                      "9 release 1 5 6\n"
                      "20 quit\n",
                      error))
      << error;
  EXPECT_TRUE(s.hasSeed);
  EXPECT_EQ(s.seed, 42);
  using A = TScriptAction;
  struct Want {
    int frame;
    A::Kind kind;
    int code;
  } want[] = {
      {3, A::KeyDown, 37},  {4, A::KeyUp, 37},      {5, A::Char, 'H'},      {5, A::Char, 'i'},
      {5, A::Char, ' '},    {5, A::Char, '|'},      {6, A::ButtonDown, 2},  {7, A::ButtonUp, 2},
      {7, A::Move, 0},      {8, A::Shot, 0},        {9, A::ButtonDown, 3},  {9, A::ButtonUp, 1},
      {10, A::KeyDown, 32}, {11, A::KeyUp, 32},     {20, A::Quit, 0},
  };
  ASSERT_EQ(s.actions.size(), std::size(want));
  for (size_t i = 0; i < s.actions.size(); ++i) {
    EXPECT_EQ(s.actions[i].frame, want[i].frame) << i;
    EXPECT_EQ(s.actions[i].kind, want[i].kind) << i;
    EXPECT_EQ(s.actions[i].code, want[i].code) << i;
  }
  EXPECT_EQ(s.actions[6].x, 400);
  EXPECT_EQ(s.actions[6].y, 300);
  EXPECT_EQ(s.actions[9].file, u"out.png");
  EXPECT_EQ(s.LastFrame(), 20);
}

TEST(Script, KeyNames) {
  struct Case {
    const char* name;
    int code;
  } cases[] = {{"z", 90},      {"X", 88},     {"1", 49},     {"escape", 27}, {"enter", 13},
               {"backspace", 8}, {"f1", 112}, {"F3", 114},   {"f12", 123},   {"#200", 200},
               {"#0", 0},      {"#256", 0},   {"f13", 0},    {"nokey", 0},   {"?", 0}};
  for (const Case& c : cases) EXPECT_EQ(ScriptKeyCode(c.name), c.code) << c.name;
}

TEST(Script, RejectsBadLinesNamingThem) {
  const char* bad[] = {"x tap space", "5", "5 tap", "5 tap nokey", "5 click left 1",
                       "5 click thumb 1 2", "5 move 1", "5 shot", "5 quit now", "5 fly",
                       "seed", "seed x", "-1 tap z"};
  for (const char* line : bad) {
    TScript s;
    std::string error;
    EXPECT_FALSE(s.Parse(std::string("1 tap z\n") + line + "\n", error)) << line;
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  }
}

TEST(Script, PadCommands) {
  TScript s;
  std::string error;
  ASSERT_TRUE(s.Parse("1 pad connect\n"
                      "2 pad 2 connect  Arcade  Stick \n"
                      "3 pad tap A\n"
                      "3 pad 2 down start\n"
                      "5 pad move leftx -0.5\n"
                      "6 pad 2 move righttrigger 1\n"
                      "7 pad 2 up start\n"
                      "8 pad disconnect\n"
                      "9 pad connect Again\n",
                      error))
      << error;
  using A = TScriptAction;
  struct Want {
    int frame;
    A::Kind kind;
    int pad;
    int code;
    float value;
  } want[] = {
      {1, A::PadConnect, 1, 0, 0},   {2, A::PadConnect, 2, 0, 0},
      {3, A::PadDown, 1, PAD_A, 0},  {3, A::PadDown, 2, PAD_START, 0},
      {4, A::PadUp, 1, PAD_A, 0},    {5, A::PadMove, 1, PAD_LEFTX, -0.5f},
      {6, A::PadMove, 2, PAD_RIGHTTRIGGER, 1}, {7, A::PadUp, 2, PAD_START, 0},
      {8, A::PadDisconnect, 1, 0, 0}, {9, A::PadConnect, 1, 0, 0},
  };
  ASSERT_EQ(s.actions.size(), std::size(want));
  for (size_t i = 0; i < s.actions.size(); ++i) {
    EXPECT_EQ(s.actions[i].frame, want[i].frame) << i;
    EXPECT_EQ(s.actions[i].kind, want[i].kind) << i;
    EXPECT_EQ(s.actions[i].pad, want[i].pad) << i;
    EXPECT_EQ(s.actions[i].code, want[i].code) << i;
    EXPECT_EQ(s.actions[i].value, want[i].value) << i;
  }
  EXPECT_EQ(s.actions[0].file, u"Script Pad") << "the name a pad gets when none is given";
  EXPECT_EQ(s.actions[1].file, u"Arcade  Stick");
  EXPECT_EQ(s.actions[9].file, u"Again");
}

TEST(Script, RejectsBadPadCommands) {
  struct Case {
    const char* script;
    const char* error;
  } cases[] = {
      {"1 pad connect\n2 pad down thumb\n", "line 2: unknown pad button thumb"},
      {"1 pad connect\n2 pad tap\n", "line 2: pad tap needs one button"},
      {"1 pad connect\n2 pad move leftx 1.5\n", "line 2: pad position must be -1 to 1"},
      {"1 pad connect\n2 pad move leftx x\n", "line 2: pad position must be -1 to 1"},
      {"1 pad connect\n2 pad move a 1\n", "line 2: pad move needs an axis and a position"},
      {"1 pad connect\n2 pad jump\n", "line 2: unknown pad command jump"},
      {"1 pad 0 connect\n", "line 1: pad number must be 1 to 16"},
      {"1 pad 17 connect\n", "line 1: pad number must be 1 to 16"},
      {"1 pad\n", "line 1: pad command missing"},
      {"1 pad connect\n2 pad disconnect now\n", "line 2: disconnect takes nothing"},
      // A pad is used only while connected, in frame order whatever the line order.
      {"5 pad connect\n2 pad down a\n", "frame 2: pad 1 is not connected"},
      {"1 pad connect\n2 pad 2 down a\n", "frame 2: pad 2 is not connected"},
      {"1 pad connect\n2 pad disconnect\n3 pad up a\n", "frame 3: pad 1 is not connected"},
      {"1 pad connect\n2 pad connect\n", "frame 2: pad 1 is already connected"},
  };
  for (const Case& c : cases) {
    TScript s;
    std::string error;
    EXPECT_FALSE(s.Parse(c.script, error)) << c.script;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.script << " gave: " << error;
  }
}

TEST(Options, CommandLine) {
  TZingleOptions o;
  std::string error;
  ASSERT_TRUE(ParseZingleOptions({"--script", "a.txt", "--trace", "t.txt", "--unpaced", "--seed", "-9"},
                                 o, error))
      << error;
  EXPECT_EQ(o.script, "a.txt");
  EXPECT_EQ(o.trace, "t.txt");
  EXPECT_TRUE(o.unpaced);
  EXPECT_TRUE(o.hasSeed);
  EXPECT_EQ(o.seed, -9);
  const std::vector<std::vector<std::string>> bad = {
      {"--script"}, {"--seed", "x"}, {"--seed"}, {"--fast"}};
  for (const auto& args : bad) {
    TZingleOptions b;
    EXPECT_FALSE(ParseZingleOptions(args, b, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
