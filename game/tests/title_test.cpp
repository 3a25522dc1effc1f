#include "game/title.h"

#include <gtest/gtest.h>

#include <ormix/runtime/scramble.h>

#include <vector>

namespace {

TEST(TitleTable, RowsOfATableAndTheHighlight) {
  const Text table = u"A|10|B|20";
  TTableRow r0 = TitleTableRow(table, 0, 20);
  EXPECT_EQ(r0.name, u"         A");
  EXPECT_EQ(r0.score, u"0000000010");
  EXPECT_EQ(r0.red, 255);
  EXPECT_EQ(r0.green, 100);
  EXPECT_EQ(r0.blue, 0);
  TTableRow r1 = TitleTableRow(table, 1, 20);
  EXPECT_EQ(r1.name, u"         B");
  EXPECT_EQ(r1.score, u"0000000020");
  EXPECT_EQ(r1.red, 255);  // the player's own score
  EXPECT_EQ(r1.green, 255);
  EXPECT_EQ(r1.blue, 100);
  for (int i = 2; i < TITLE_TABLE_ROWS; ++i) {
    TTableRow r = TitleTableRow(table, i, 20);
    EXPECT_EQ(r.name, u"       -+-");
    EXPECT_EQ(r.score, u"0000000-+-");
    EXPECT_EQ(r.red, 255 - 10 * i);
    EXPECT_EQ(r.blue, 10 * i);
  }
}

TEST(TitleTable, EmptyTableAndLongFields) {
  TTableRow r0 = TitleTableRow(u"", 0, 0);
  EXPECT_EQ(r0.name, u"          ");
  EXPECT_EQ(r0.score, u"0000000000");
  EXPECT_EQ(r0.green, 100);  // "" is not the score 0
  EXPECT_EQ(TitleTableRow(u"", 1, 0).name, u"       -+-");
  TTableRow longRow = TitleTableRow(u"Maximilian Long|123456789012", 0, 5);
  EXPECT_EQ(longRow.name, u"ilian Long");
  EXPECT_EQ(longRow.score, u"3456789012");
}

struct Frame {
  int editing;
  int ch;
  int erase;
  int enter;
};

Text Edit(Text name, std::initializer_list<Frame> frames, int* editingOut = nullptr) {
  TGameSettings s;
  s.PlayerName = name;
  int editingName = 1;
  for (const Frame& f : frames) {
    TTitleInput in;
    in.ch = f.ch;
    in.erase = f.erase;
    in.enter = f.enter;
    TitlePanelStep(s, f.editing, editingName, in);
  }
  if (editingOut) *editingOut = editingName;
  return s.PlayerName;
}

TEST(TitleName, Editing) {
  EXPECT_EQ(Edit(u"abcdefghij", {{1, 'k', 0, 0}}), u"abcdefghij");
  EXPECT_EQ(Edit(u"abc", {{1, 'd', 0, 0}}), u"abcd");
  EXPECT_EQ(Edit(u"", {{1, 0, 1, 0}}), u"");
  EXPECT_EQ(Edit(u"a", {{1, 0, 1, 0}}), u"");
  EXPECT_EQ(Edit(u"ab", {{1, 'c', 1, 0}}), u"ab");  // added, then erased
  EXPECT_EQ(Edit(u"ab", {{1, ' ', 0, 0}, {1, 7, 0, 0}}), u"ab");
  EXPECT_EQ(Edit(u"ab", {{0, 'c', 1, 0}}), u"ab");  // not editing
  // A "|" becomes a space on the next frame of editing...
  EXPECT_EQ(Edit(u"ab", {{1, '|', 0, 0}, {1, 'c', 0, 0}}), u"ab c");
  // ... but one typed together with Enter stays.
  int editing = 1;
  EXPECT_EQ(Edit(u"ab", {{1, '|', 0, 1}}, &editing), u"ab|");
  EXPECT_EQ(editing, 0);
}

// A character beyond 16 bits (an emoji) is stored as its surrogate pair and counts as one
// character: towards the limit of ten, for Backspace and in the padded display.
TEST(TitleName, CharactersBeyondSixteenBitsCountOnce) {
  const Text grin = u"\U0001F600";  // two 16-bit codes
  struct Case {
    const char* what;
    Text name;
    std::vector<Frame> frames;
    Text want;
  };
  const Case cases[] = {
      {"typed", u"ab", {{1, 0x1F600, 0, 0}}, u"ab" + grin},
      {"typed as the tenth", u"abcdefghi", {{1, 0x1F600, 0, 0}}, u"abcdefghi" + grin},
      {"refused as the eleventh", u"abcdefghij", {{1, 0x1F600, 0, 0}}, u"abcdefghij"},
      {"a pair counts once", u"abcdefgh" + grin, {{1, 'z', 0, 0}}, u"abcdefgh" + grin + u"z"},
      {"erased whole", u"ab" + grin, {{1, 0, 1, 0}}, u"ab"},
      {"typed then erased", u"ab", {{1, 0x1F600, 1, 0}}, u"ab"},
      {"erasing twice", u"a" + grin, {{1, 0, 1, 0}, {1, 0, 1, 0}}, u""},
      {"lone halves are not typed", u"ab", {{1, 0xD83D, 0, 0}, {1, 0xDE00, 0, 0}}, u"ab"},
  };
  for (const Case& c : cases) {
    TGameSettings s;
    s.PlayerName = c.name;
    int editingName = 1;
    for (const Frame& f : c.frames) {
      TTitleInput in;
      in.ch = f.ch;
      in.erase = f.erase;
      in.enter = f.enter;
      TitlePanelStep(s, f.editing, editingName, in);
    }
    EXPECT_EQ(ToUtf8(s.PlayerName), ToUtf8(c.want)) << c.what;
  }
  // The typed codes arrive one at a time, a pair as its two halves in turn.
  struct Typed {
    std::vector<int> codes;
    std::vector<int> chars;
  };
  const Typed typed[] = {
      {{'a', 0xD83D, 0xDE00, 'b'}, {'a', 0x1F600, 'b'}},
      {{0xD83D, 'x'}, {0, 'x'}},   // a high half without its low one is dropped
      {{0xDE00, 'y'}, {0, 'y'}},   // and so is a low half alone
      {{0xD83D}, {0}},
  };
  for (const Typed& t : typed) {
    size_t next = 0;
    auto source = [&] { return next < t.codes.size() ? t.codes[next++] : 0; };
    TTypedCharacters chars;
    std::vector<int> got;
    for (size_t i = 0; i < t.chars.size(); ++i) got.push_back(chars.Next(source));
    EXPECT_EQ(got, t.chars);
    EXPECT_EQ(chars.Next(source), 0);
  }
  // Ten characters in ten columns, a pair in one of them.
  EXPECT_EQ(ToUtf8(PadLeft(u"ab" + grin, u'.', 10)), ToUtf8(u".......ab" + grin));
  EXPECT_EQ(ToUtf8(PadLeft(grin + u"abcdefghij", u' ', 10)), "abcdefghij");
  EXPECT_EQ(ToUtf8(PadLeft(u"x" + grin + u"abcdefghi", u' ', 10)), ToUtf8(grin + u"abcdefghi"));
}

TEST(TitleOptions, TogglesAndLines) {
  TGameSettings s;
  int editing = 0;
  TTitleInput f3;
  f3.f3 = 1;
  EXPECT_EQ(OptionLine(3, s), u"(F3) Switch to DirectX");
  TitlePanelStep(s, 0, editing, f3);
  EXPECT_EQ(s.RendererOption, 1);
  EXPECT_EQ(OptionLine(3, s), u"(F3) Switch to OpenGL");
  TitlePanelStep(s, 0, editing, f3);
  EXPECT_EQ(s.RendererOption, 0);

  TTitleInput f2;
  f2.f2 = 1;
  EXPECT_EQ(OptionLine(2, s), u"(F2) Switch Music Off");
  TitlePanelStep(s, 0, editing, f2);
  EXPECT_EQ(OptionLine(2, s), u"(F2) Switch Music On");

  TTitleInput f1;
  f1.f1 = 1;
  EXPECT_EQ(OptionLine(1, s), u"(F1) Switch to Fullscreen");
  TitlePanelStep(s, 0, editing, f1);
  EXPECT_EQ(s.ScreenDepthOption, 32);
  EXPECT_EQ(OptionLine(1, s), u"(F1) Switch to Windowed");

  // A stored 16 shows no line, and F1 turns it into 16 again.
  s.ScreenDepthOption = 16;
  EXPECT_EQ(OptionLine(1, s), u"");
  TitlePanelStep(s, 0, editing, f1);
  EXPECT_EQ(s.ScreenDepthOption, 16);
  s.MusicOption = 7;
  s.RendererOption = 5;
  EXPECT_EQ(OptionLine(2, s), u"");
  EXPECT_EQ(OptionLine(3, s), u"");
}

// A name from the exchange in its marked form is shown as the name it is; one the
// ASCII table font cannot draw goes to the fallback font, or gets "?" marks, never
// nothing.
TEST(TitleTable, NamesBeyondTheTableFont) {
  const Text beetle = u"\u0416\u0443\u043a";
  const Text table = EncodeRecordName(beetle) + u"|30|Ann|20";
  EXPECT_EQ(TitleTableRow(table, 0, 0).name, Text(7, u' ') + beetle);
  EXPECT_EQ(TitleTableRow(table, 1, 0).name, u"       Ann");

  const auto ascii = [](char16_t c) { return c >= 32 && c < 127; };
  const auto wide = [](char16_t c) { return c < 0xD800 || c > 0xDFFF; };
  struct Case {
    Text name;
    std::function<bool(char16_t)> fallback;
    Text text;
    bool useFallback;
  } cases[] = {
      {u"  Ann", wide, u"  Ann", false},
      {u"  " + beetle, wide, u"  " + beetle, true},
      {u"  " + beetle, nullptr, u"  ???", false},
      {u"a\U0001F600\u00e9", wide, u"a??", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    const TTableName drawn = TableNameToDraw(c.name, ascii, c.fallback);
    EXPECT_EQ(drawn.text, c.text);
    EXPECT_EQ(drawn.fallback, c.useFallback);
  }
}

}  // namespace
