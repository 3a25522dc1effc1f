#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <ormix/runtime/incbin.h>
#include <ormix/runtime/random.h>
#include <ormix/runtime/runtime.h>
#include <ormix/runtime/text.h>

TEST(TextConversion, TextToIntCases) {
  struct Case { const char* in; int32_t out; } cases[] = {
      {"42", 42},        {"  \t-17xyz", -17}, {"+8", 8},          {"%1011", 11},
      {"-%11", -3},      {"$ff", 255},         {"$7FffFFFF", 2147483647},
      {"abc", 0},        {"", 0},              {"  ", 0},          {"12 34", 12},
      {"$", 0},          {"%102", 2},          {"-0", 0},
  };
  for (auto& c : cases) EXPECT_EQ(TextToInt(ToText(c.in)), c.out) << c.in;
}

TEST(TextConversion, NumbersToTextAndBack) {
  EXPECT_EQ(IntToText(-1234), u"-1234");
  EXPECT_EQ(FloatToInt(-2.9), -2);
  EXPECT_EQ(FloatToInt(2.9), 2);
  EXPECT_DOUBLE_EQ(TextToFloat(u"  -1.5e2junk"), -150.0);
  EXPECT_DOUBLE_EQ(TextToFloat(u"x"), 0.0);
}

TEST(TextConversion, Utf8AndLatin1) {
  Text t = ToText("caf\xc3\xa9 \xe2\x82\xac");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[3], 233);
  EXPECT_EQ(t[5], 0x20AC);
  EXPECT_EQ(ToUtf8(t), "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(TextToLatin1(t).back(), static_cast<char>(0xAC));  // low 8 bits
  EXPECT_EQ(Latin1ToText("\xe9"), Text(1, 233));
}

// The one UTF-8 decoder: what each malformed sequence decodes to and where the next
// character starts. ToText keeps a malformed byte as its own code; the text stream and
// text input give U+FFFD for it (tested with them).
TEST(TextConversion, Utf8DecoderMalformedSequences) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<int32_t> codes;  // -1: malformed
    Text text;                   // what ToText makes of it
  };
  const std::vector<Case> cases = {
      {"ascii and two bytes", "a\xC3\xA9", {'a', 0xE9}, u"a\u00E9"},
      {"beyond 16 bits", "\xF0\x9F\x98\x80", {0x1F600}, u"\U0001F600"},
      {"last code", "\xF4\x8F\xBF\xBF", {0x10FFFF}, u"\U0010FFFF"},
      {"stray continuation", "\x80z", {-1, 'z'}, u"\u0080z"},
      {"bad continuation starts the next", "\xC3(", {-1, '('}, u"\u00C3("},
      {"cut short by the end", "\xE2\x82", {-1}, u"\u00E2\u0082"},
      {"overlong slash", "\xC0\xAF", {-1, -1}, u"\u00C0\u00AF"},
      {"overlong three bytes", "\xE0\x80\xAF", {-1, -1, -1}, u"\u00E0\u0080\u00AF"},
      {"encoded surrogate", "\xED\xA0\x80", {-1, -1, -1}, u"\u00ED\u00A0\u0080"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", {-1, -1, -1, -1}, u"\u00F4\u0090\u0080\u0080"},
      {"never a lead byte", "\xF8\xFF", {-1, -1}, u"\u00F8\u00FF"},
      {"three of four, then text", "\xF0\x9F\x98!", {-1, '!'}, u"\u00F0\u009F\u0098!"},
      {"latin-1 text", "caf\xE9", {'c', 'a', 'f', -1}, u"caf\u00E9"},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> codes;
    for (size_t i = 0; i < c.bytes.size();) {
      const size_t before = i;
      codes.push_back(DecodeUtf8(c.bytes, i));
      ASSERT_GT(i, before) << c.what;
    }
    EXPECT_EQ(codes, c.codes) << c.what;
    EXPECT_EQ(ToText(c.bytes), c.text) << c.what;
  }
}

TEST(TextConversion, Utf8RoundTripOfPairsAndLoneSurrogates) {
  const Text grin = u"a\U0001F600b";
  EXPECT_EQ(ToUtf8(grin), "a\xF0\x9F\x98\x80" "b");  // the pair is one character
  EXPECT_EQ(ToText(ToUtf8(grin)), grin);
  EXPECT_EQ(ToUtf8(Text(1, 0xD800)), "\xED\xA0\x80");  // a lone surrogate as it is
  EXPECT_EQ(ToUtf8(Text{0xDE00, 0xD83D}), "\xED\xB8\x80\xED\xA0\xBD");  // halves the wrong way round
}

// Values worked out from the generator's definition with exact integer arithmetic.
TEST(Random, MatchesDefinition) {
  SeedRandom(0);  // 0 selects the start state 4660
  EXPECT_EQ(RandomSeed(), 4660);
  EXPECT_NEAR(RandomFraction(), 0.4189887270692887, 1e-15);
  EXPECT_EQ(RandomSeed(), 539475828);
  EXPECT_NEAR(RandomFraction(), 0.21256311710331344, 1e-15);
  EXPECT_NEAR(RandomFraction(), 0.694284713397524, 1e-15);
  SeedRandom(0x7FFFFFFF);
  EXPECT_EQ(RandomSeed(), 4660);
  SeedRandom(-1);  // masked to 0x7FFFFFFF, which also selects 4660
  EXPECT_EQ(RandomSeed(), 4660);
  SeedRandom(0x80000005);
  EXPECT_EQ(RandomSeed(), 5);
}

TEST(Random, IntStaysInClosedRangeEitherOrder) {
  SeedRandom(99);
  bool seenLow = false, seenHigh = false;
  for (int i = 0; i < 2000; ++i) {
    int a = RandomInt(3, 7);
    ASSERT_GE(a, 3);
    ASSERT_LE(a, 7);
    seenLow |= a == 3;
    seenHigh |= a == 7;
    int b = RandomInt(7, 3);
    ASSERT_GE(b, 3);
    ASSERT_LE(b, 7);
  }
  EXPECT_TRUE(seenLow && seenHigh);
  EXPECT_EQ(RandomInt(5, 5), 5);
}

TEST(Runtime, PathKindAndClock) {
  auto dir = std::filesystem::temp_directory_path() / "ormix_runtime_test";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "f.txt") << "x";
  EXPECT_EQ(PathKind(ToText(dir.string())), 2);
  EXPECT_EQ(PathKind(ToText((dir / "f.txt").string())), 1);
  EXPECT_EQ(PathKind(ToText((dir / "none").string())), 0);
  std::filesystem::remove_all(dir);
  uint32_t a = ElapsedMillis();
  SleepMillis(20);
  uint32_t d = ElapsedMillis() - a;
  EXPECT_GE(d, 19u);
}

TEST(Runtime, StartupRecordAndChangeDir) {
  auto cwd = std::filesystem::current_path();
  char arg0[] = "prog";
  char arg1[] = "--x";
  char* argv[] = {arg0, arg1};
  InitRuntime(2, argv, true);
  EXPECT_EQ(Startup().appTitle, u"Ormix Application");
  EXPECT_EQ(Startup().launchDir, ToText(cwd.string()));
  ASSERT_EQ(Startup().args.size(), 2u);
  EXPECT_EQ(Startup().args[1], u"--x");
  EXPECT_EQ(ToText(std::filesystem::current_path().string()), Startup().appDir);
  EXPECT_EQ(Startup().appFile, u"runtime_test");
  std::filesystem::current_path(cwd);
}

TEST(Runtime, EndProgramRunsActionsNewestFirst) {
  EXPECT_EXIT(
      {
        OnEndProgram([] { std::fputs("first\n", stderr); });
        OnEndProgram([] { std::fputs("second\n", stderr); });
        EndProgram();
      },
      ::testing::ExitedWithCode(0), "second\nfirst");
}

TEST(Incbin, RegisterAndFind) {
  static const unsigned char data[] = {1, 2, 3};
  RegisterIncbin("t.bin", data, 3);
  const unsigned char* p = nullptr;
  size_t n = 0;
  ASSERT_TRUE(FindIncbin("t.bin", &p, &n));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(p[2], 3);
  EXPECT_FALSE(FindIncbin("T.bin", &p, &n));
}
