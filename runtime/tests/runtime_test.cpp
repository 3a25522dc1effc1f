#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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
