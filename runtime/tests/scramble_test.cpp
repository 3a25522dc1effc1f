#include <ormix/runtime/scramble.h>

#include <gtest/gtest.h>

#include <random>

namespace {

Text Codes(std::initializer_list<int> codes) {
  Text t;
  for (int c : codes) t += static_cast<char16_t>(c);
  return t;
}

TEST(Diffuse, KnownValuesAndInverse) {
  EXPECT_EQ(Diffuse(u"abc"), Codes({3, 1, 98}));
  EXPECT_EQ(Undiffuse(Codes({3, 1, 98})), u"abc");
  EXPECT_EQ(Diffuse(u""), u"");
  // A single character can only be combined with itself.
  EXPECT_EQ(Diffuse(u"Q"), Codes({0}));
}

TEST(Diffuse, UndiffuseInvertsTextsOfTwoOrMore) {
  std::mt19937 rng(1);
  for (int len = 2; len < 70; ++len) {
    Text t;
    for (int i = 0; i < len; ++i) t += static_cast<char16_t>(rng() % 65536);
    EXPECT_EQ(Undiffuse(Diffuse(t)), t) << "length " << len;
  }
}

TEST(Checksum, SumModulo65535AsFourHexDigits) {
  EXPECT_EQ(Checksum(u"abc"), u"0126");
  EXPECT_EQ(Checksum(u""), u"0000");
  EXPECT_EQ(Checksum(Codes({0xFFFF})), u"0000");
  EXPECT_EQ(Checksum(Codes({0xFFFF, 1})), u"0001");
  EXPECT_EQ(Checksum(Codes({0xFFFE, 0xFFFE})), u"FFFD");
}

TEST(HexToInt, UpperCaseDigitsOnly) {
  struct Case {
    const char16_t* text;
    int value;
  } cases[] = {
      {u"FF", 255}, {u"ff", 0}, {u"1A", 26}, {u"G1", 1}, {u"", 0}, {u"7", 7}, {u"0100", 256},
  };
  for (const Case& c : cases) EXPECT_EQ(HexToInt(c.text), c.value) << ToUtf8(c.text);
}

TEST(GetField, Cases) {
  struct Case {
    const char16_t* text;
    int index;
    int spaceEnds;
    const char16_t* field;
  } cases[] = {
      {u"A|10|B|20", 0, 0, u"A"},
      {u"A|10|B|20", 1, 0, u"A"},
      {u"A|10|B|20", 2, 0, u"10"},
      {u"A|10|B|20", 3, 0, u"B"},
      {u"A|10|B|20", 4, 0, u"20"},
      {u"A|10|B|20", 5, 0, u"-+-"},
      {u"A|10|B|20", 9, 0, u"-+-"},
      {u"Blue Sky|5", 1, 1, u"Blue"},
      {u"Blue Sky|5", 1, 0, u"Blue Sky"},
      {u"Blue Sky|5", 2, 0, u"5"},
      {u"", 1, 0, u""},
      {u"", 2, 0, u""},
      {u"", 3, 0, u"-+-"},
      {u"solo", 2, 0, u"solo"},
      {u"solo", 3, 0, u"-+-"},
      {u"  A|B \r\n", 2, 0, u"B"},
      {u"A||C", 2, 0, u""},
      {u"A||C", 3, 0, u"C"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetField(c.text, u"|", c.index, c.spaceEnds), c.field)
        << ToUtf8(c.text) << " index " << c.index << " spaceEnds " << c.spaceEnds;
  EXPECT_EQ(GetField(u"line1\nline2\n-+-", u"\n", 2, 0), u"line2");
}

TEST(Scramble, EmptyInputsGiveEmpty) {
  EXPECT_EQ(Scramble(u"", u"Tulip", 12), u"");
  EXPECT_EQ(Scramble(u"x", u"", 12), u"");
  EXPECT_EQ(Unscramble(u"", u"Tulip", 12), u"");
  EXPECT_EQ(Unscramble(u"0A0B", u"", 12), u"");
}

// Fixed examples worked out by hand from the algorithm: settings files and score services
// written by earlier builds hold exactly these forms, so they must keep reading.
TEST(Scramble, FixedExamplesForEveryKey) {
  struct Case {
    const char16_t* plain;
    const char16_t* key;
    int passes;
    const char16_t* hex;
  } cases[] = {
      {u"Ada|1234|987654|32|0|1|0|0|0", u"Tulip", 12,
       u"AC09EB01FDA0F86150A7E2FAD12B91416A15B22C7921191657737CCFC445AEF5"},
      {u"Ann|300|Bob|120", u"Yew", 12, u"B2A3EA5EE27A8E75B64516870033D3C2E13B78"},
      {u"Ada|987654|1234", u"CheeryLeapingOrbsWahey!", 6, u"CAC94DA83782327337E1BA48784354B22F00F1"},
      {u"ab", u"Yew", 1, u"FF0B2852A197"},
      {u"x", u"k", 0, u"4000080F78"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.plain));
    EXPECT_EQ(Scramble(c.plain, c.key, c.passes), c.hex);
    EXPECT_EQ(Unscramble(c.hex, c.key, c.passes), c.plain);
  }
}

TEST(Scramble, RoundTripsRandomTexts) {
  std::mt19937 rng(7);
  const Text keys[] = {u"Tulip", u"Yew", u"CheeryLeapingOrbsWahey!", u"k"};
  for (int trial = 0; trial < 300; ++trial) {
    const Text& key = keys[trial % 4];
    int passes = static_cast<int>(rng() % 13);
    int len = 1 + static_cast<int>(rng() % 150);
    Text t;
    for (int i = 0; i < len; ++i) t += static_cast<char16_t>(rng() % 256);
    Text hex = Scramble(t, key, passes);
    ASSERT_EQ(hex.size(), 2 * (t.size() + 4));
    for (char16_t ch : hex) ASSERT_TRUE((ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F'));
    ASSERT_EQ(Unscramble(hex, key, passes), t) << "trial " << trial;
  }
}

TEST(Scramble, WrongKeyOrPassesFailTheCheck) {
  Text hex = Scramble(u"Player|120|777|0|1|0|0|0|0", u"Tulip", 12);
  EXPECT_EQ(Unscramble(hex, u"Tulip", 11), u"");
  EXPECT_EQ(Unscramble(hex, u"Tulips", 12), u"");
}

TEST(Scramble, CharactersAbove255KeepOnlyTheirLowBits) {
  Text hex = Scramble(Codes({0x141, 'b'}), u"Yew", 3);
  Text back = Unscramble(hex, u"Yew", 3);
  EXPECT_NE(back, Codes({0x141, 'b'}));
}

TEST(Scramble, ChangedDigitIsAlmostAlwaysDetected) {
  const Text plain = u"Player|120|777|0|1|0|0|0|0";
  const Text hex = Scramble(plain, u"Tulip", 12);
  int changes = 0, detected = 0;
  for (size_t i = 0; i < hex.size(); ++i) {
    for (char16_t d : Text(u"0123456789ABCDEF")) {
      if (d == hex[i]) continue;
      Text bad = hex;
      bad[i] = d;
      ++changes;
      Text back = Unscramble(bad, u"Tulip", 12);
      EXPECT_NE(back, plain);
      if (back.empty()) ++detected;
    }
  }
  EXPECT_GT(detected, changes * 99 / 100);
}

// Record names: Latin-1 names pass unchanged; wider ones travel in 8-bit characters
// behind the mark and come back whole; a marked field that is not such a name is left
// as it is.
TEST(RecordName, EncodingAndDecoding) {
  struct Case { Text name; bool marked; } cases[] = {
      {u"Ada", false}, {u"Zo\u00eb", false}, {u"\u00c3\u00a9", false}, {u"", false},
      {u"\u0416\u0443\u043a", true}, {u"\u20ac5", true}, {u"x\U0001F600", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    const Text field = EncodeRecordName(c.name);
    EXPECT_EQ(!field.empty() && field[0] == RecordNameMark, c.marked);
    for (char16_t ch : field) EXPECT_LE(ch, 0xFF);
    if (!c.marked) {
      EXPECT_EQ(field, c.name);
    }
    EXPECT_EQ(field.find(u'|'), Text::npos);
    EXPECT_EQ(DecodeRecordName(Unscramble(Scramble(field, ExchangeKey, 6), ExchangeKey, 6)), c.name);
  }
  EXPECT_EQ(EncodeRecordName(u"\u0416"), (Text{0x80, 0xD0, 0x96}));
  const Text leftAlone[] = {
      Text{0x80, 0x41, 0x42},        // UTF-8, but of a Latin-1 name
      Text{0x80, 0xD0},              // cut short
      Text{0x80, 0xC0, 0x80},        // an overlong form
      Text{0x80, 0xED, 0xA0, 0x80},  // a half of a surrogate pair
      Text{0x80, 0x416},             // not bytes
      Text{0x80},
  };
  for (const Text& field : leftAlone) EXPECT_EQ(DecodeRecordName(field), field);
}

}  // namespace
