// Text streams in four encodings, and streams over memory banks.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <ormix/runtime/incbin.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/textstream.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A stream that can neither seek nor tell its size and hands out one byte per Read, like
// a socket: text reads must keep the bytes they took too many themselves.
class TrickleStream : public TStream {
public:
  explicit TrickleStream(std::string d) : data(std::move(d)) {}
  std::string data;
  size_t pos = 0;
  int Eof() override { return pos >= data.size(); }
  int Read(void* b, int n) override {
    if (n <= 0 || pos >= data.size()) return 0;
    *static_cast<char*>(b) = data[pos++];
    return 1;
  }
  int Write(const void*, int) override { return 0; }
};

// The same bytes as a seekable memory stream and as a trickle.
std::vector<TStreamPtr> BothKinds(const std::string& bytes) {
  return {TRamStream::FromBytes(Bytes(bytes)), std::make_shared<TrickleStream>(bytes)};
}

std::vector<Text> AllLines(TStream& s) {
  std::vector<Text> lines;
  while (!s.Eof()) lines.push_back(s.ReadLine());
  return lines;
}

const Text kReplacement(1, 0xFFFD);
const Text kGrin = u"\U0001F600";  // a surrogate pair

TEST(TextStream, ReadLineDecodesEachEncoding) {
  struct Case {
    const char* what;
    int encoding;
    std::string bytes;
    std::vector<Text> lines;
  };
  const std::vector<Case> cases = {
      {"latin1 bytes are codes", TEXT_LATIN1, "abc\r\n\xE9\xEF\xBB\xBF", {u"abc", u"\u00E9\u00EF\u00BB\u00BF"}},
      {"utf8", TEXT_UTF8, "h\xC3\xA9llo\n\xE2\x82\xAC", {u"h\u00E9llo", u"\u20AC"}},
      {"utf8 mark skipped", TEXT_UTF8, "\xEF\xBB\xBF" "a\r\nb", {u"a", u"b"}},
      {"utf8 half a mark", TEXT_UTF8, "\xEF\xBBx", {kReplacement + u"x"}},
      {"utf8 beyond 16 bits", TEXT_UTF8, "\xF0\x9F\x98\x80!", {kGrin + u"!"}},
      {"utf8 bad continuation", TEXT_UTF8, "\xC3(", {kReplacement + u"("}},
      {"utf8 overlong", TEXT_UTF8, "\xC0\xAF", {kReplacement + kReplacement}},
      {"utf8 surrogate", TEXT_UTF8, "\xED\xA0\x80", {kReplacement + kReplacement + kReplacement}},
      {"utf8 above U+10FFFF", TEXT_UTF8, "\xF4\x90\x80\x80", {Text(4, 0xFFFD)}},
      {"utf8 cut by a line feed", TEXT_UTF8, "\xE2\x82\nz", {kReplacement, u"z"}},
      {"utf8 cut by the end", TEXT_UTF8, "a\xE2\x82", {u"a" + kReplacement}},
      {"utf16le", TEXT_UTF16LE, std::string("a\0\r\0\n\0b\0", 8), {u"a", u"b"}},
      {"utf16be", TEXT_UTF16BE, std::string("\0a\0\n\0b", 6), {u"a", u"b"}},
      {"utf16le read as big", TEXT_UTF16LE, std::string("\xFE\xFF\0a\0\n\x20\xAC", 8), {u"a", u"\u20AC"}},
      {"utf16be read as little", TEXT_UTF16BE, std::string("\xFF\xFE" "a\0", 4), {u"a"}},
      {"utf16 pair", TEXT_UTF16LE, std::string("\x3D\xD8\x00\xDE", 4), {kGrin}},
      {"utf16 lone surrogate kept", TEXT_UTF16LE, std::string("\x3D\xD8" "a\0", 4), {u"\xD83D" u"a"}},
      {"utf16 odd last byte", TEXT_UTF16LE, std::string("a\0b", 3), {u"a" + kReplacement}},
      {"utf16 mark after the start", TEXT_UTF16LE, std::string("a\0\xFF\xFE", 4), {u"a\uFEFF"}},
  };
  for (const Case& c : cases) {
    for (const TStreamPtr& inner : BothKinds(c.bytes)) {
      auto s = CreateTextStream(inner, c.encoding);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(AllLines(*s), c.lines) << c.what << (inner->Pos() < 0 ? " (no positions)" : "");
    }
  }
}

TEST(TextStream, WritesEachEncoding) {
  struct Case {
    const char* what;
    int encoding;
    Text text;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"latin1", TEXT_LATIN1, u"\u00E9\u20AC", "\xE9?"},
      {"latin1 pair is one character", TEXT_LATIN1, kGrin + u"a", "?a"},
      {"utf8", TEXT_UTF8, u"\u00E9\u20AC" + kGrin, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"utf8 lone surrogate", TEXT_UTF8, u"\xDC00x", "\xEF\xBF\xBDx"},
      {"utf16be", TEXT_UTF16BE, u"a\u20AC", std::string("\0a\x20\xAC", 4)},
      {"utf16le pair", TEXT_UTF16LE, u"a" + kGrin, std::string("a\0\x3D\xD8\x00\xDE", 6)},
      {"utf16le lone surrogate kept", TEXT_UTF16LE, u"\xD800", std::string("\x00\xD8", 2)},
  };
  for (const Case& c : cases) {
    auto bank = NewBank();
    auto s = CreateTextStream(OpenUrlStream(bank, 0, 1), c.encoding);
    s->WriteString(c.text);
    EXPECT_EQ(*bank, Bytes(c.bytes)) << c.what;
  }
  auto bank = NewBank();
  EXPECT_EQ(CreateTextStream(OpenUrlStream(bank, 0, 1), TEXT_UTF16BE)->WriteLine(u"x"), 1);
  EXPECT_EQ(*bank, Bytes(std::string("\0x\0\r\0\n", 6)));
  std::vector<uint8_t> two(2);
  auto tiny = CreateTextStream(TRamStream::Create(two.data(), 2, 0, 1), TEXT_UTF8);
  EXPECT_EQ(tiny->WriteLine(u"\u20AC"), 0);  // does not fit
}

TEST(TextStream, ReadStringCountsCharacters) {
  for (int encoding : {TEXT_UTF8, TEXT_UTF16BE, TEXT_UTF16LE}) {
    auto bank = NewBank();
    CreateTextStream(OpenUrlStream(bank, 0, 1), encoding)->WriteString(u"\u00E9" + kGrin + Text(u"\0b", 2));
    for (const TStreamPtr& inner : BothKinds(std::string(bank->begin(), bank->end()))) {
      auto s = CreateTextStream(inner, encoding);
      EXPECT_EQ(s->ReadString(2), u"\u00E9" + kGrin) << encoding;  // the pair counts once
      EXPECT_EQ(s->ReadString(0), u"");
      EXPECT_EQ(s->ReadString(9), Text(u"\0b", 2)) << encoding;  // fewer at the end
    }
  }
}

TEST(TextStream, ByteReadsPassThroughAndFollowTheText) {
  // A byte-order mark is text: byte reads see it.
  auto raw = CreateTextStream(TRamStream::FromBytes(Bytes("\xFF\xFE" "a")), TEXT_UTF16BE);
  EXPECT_EQ(raw->ReadShort(), 0xFEFF);
  // A malformed sequence ends before the byte that broke it, whether or not the stream
  // can seek back to it.
  for (const TStreamPtr& inner : BothKinds(std::string("\xE2" "A\x04\x03\x02\x01!", 7))) {
    auto s = CreateTextStream(inner, TEXT_UTF8);
    EXPECT_EQ(s->ReadString(1), kReplacement);
    EXPECT_FALSE(s->Eof());
    if (inner->Pos() >= 0) {
      EXPECT_EQ(s->Pos(), 1);
    }
    EXPECT_EQ(s->ReadByte(), 'A');
    EXPECT_EQ(s->ReadInt(), 0x01020304);
    EXPECT_EQ(s->ReadLine(), u"!");
    EXPECT_TRUE(s->Eof());
  }
  // A UTF-16 high surrogate followed by another character gives that character back.
  for (const TStreamPtr& inner : BothKinds(std::string("\x3D\xD8" "AB", 4))) {
    auto s = CreateTextStream(inner, TEXT_UTF16LE);
    EXPECT_EQ(s->ReadString(1), u"\xD83D");
    char two[2] = {};
    EXPECT_EQ(s->ReadBytes(two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "AB");
  }
  // Typed reads keep the wrapped stream's byte order, also after a text read that looked
  // one byte too far.
  static const unsigned char words[] = {0xE2, 0x12, 0x34, 0x56, 0x78, 'o', 'k'};
  RegisterIncbin("textstream_words.bin", words, sizeof words);
  auto be = OpenForReading(Text(u"utf8::bigendian::incbin::textstream_words.bin"));
  ASSERT_NE(be, nullptr);
  EXPECT_EQ(be->ReadString(1), kReplacement);
  EXPECT_EQ(be->ReadInt(), 0x12345678);
  EXPECT_EQ(be->ReadLine(), u"ok");
}

TEST(TextStream, MarkIsReadOnlyAtTheStart) {
  auto s = CreateTextStream(TRamStream::FromBytes(Bytes(std::string("\xFE\xFF\0a\0\n\xFE\xFF", 8))), TEXT_UTF16LE);
  EXPECT_EQ(s->ReadLine(), u"a");
  EXPECT_EQ(s->ReadLine(), u"\uFEFF");  // not at the start: a character
  s->Seek(0);
  EXPECT_EQ(s->ReadLine(), u"a");  // back at the start: a mark again
  auto late = CreateTextStream(TRamStream::FromBytes(Bytes("x\xEF\xBB\xBFy")), TEXT_UTF8);
  EXPECT_EQ(late->ReadByte(), 'x');
  EXPECT_EQ(late->ReadLine(), u"\uFEFFy");
  auto trickle = CreateTextStream(std::make_shared<TrickleStream>("x\xEF\xBB\xBFy"), TEXT_UTF8);
  EXPECT_EQ(trickle->ReadByte(), 'x');  // no positions: anything read means "not the start"
  EXPECT_EQ(trickle->ReadLine(), u"\uFEFFy");
}

class TextFiles : public ::testing::Test {
protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ormix_textstream_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  Text Path(const std::string& name) { return ToText((dir / name).string()); }
};

TEST_F(TextFiles, FactoriesOpenEveryEncodingAndTextReadsBackEqual) {
  const std::vector<Text> lines = {u"plain", u"\u00E9t\u00E9", u"", u"\u20AC " + kGrin};
  for (const char* name : {"latin1", "UTF8", "Utf16BE", "utf16le"}) {
    const Text url = ToText(name) + u"::" + Path(std::string(name) + ".txt");
    auto out = OpenForWriting(url);
    ASSERT_NE(out, nullptr) << name;
    for (const Text& l : lines) EXPECT_EQ(out->WriteLine(l), 1);
    out->Close();
    auto in = OpenForReading(url);
    ASSERT_NE(in, nullptr) << name;
    std::vector<Text> expected = lines;
    if (TextEncodingByName(ToText(name)) == TEXT_LATIN1) expected[3] = u"? ?";
    EXPECT_EQ(AllLines(*in), expected) << name;
  }
  EXPECT_EQ(LoadAllBytes(Path("UTF8.txt")).size(), 5u + 2 + 5 + 2 + 2 + 8 + 2);
  EXPECT_EQ(OpenForReading(u"utf32::" + Path("UTF8.txt")), nullptr);
  EXPECT_EQ(OpenForReading(u"utf8::" + Path("missing.txt")), nullptr);
  EXPECT_EQ(CreateTextStream(nullptr, TEXT_UTF8), nullptr);
  EXPECT_EQ(CreateTextStream(TRamStream::FromBytes({}), 5), nullptr);
}

TEST(BankStream, GrowsWhenWrittenPastItsEnd) {
  auto bank = NewBank(2);
  auto s = OpenUrlStream(bank, 1, 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 2);
  s->WriteShort(0x0201);
  EXPECT_EQ(bank->size(), 2u);  // inside: overwritten, not grown
  s->WriteInt(0x06050403);
  EXPECT_EQ(bank->size(), 6u);
  EXPECT_EQ(*bank, (TBank{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(s->Seek(100), 6);
  EXPECT_EQ(s->Seek(-1), 0);
  EXPECT_EQ(s->ReadInt(), 0x04030201);
  EXPECT_EQ(s->ReadInt(), 0x0605);  // zero-filled at the end
  EXPECT_TRUE(s->Eof());

  uint8_t b = 7;
  auto ro = OpenUrlStream(bank, 1, 0);
  EXPECT_EQ(ro->Write(&b, 1), 0);
  auto wo = OpenUrlStream(bank, 0, 1);
  EXPECT_EQ(wo->Read(&b, 1), 0);
  EXPECT_EQ(wo->Write(&b, 0), 0);

  s->Close();  // lets go of the bank
  EXPECT_EQ(s->Size(), 0);
  EXPECT_EQ(s->Read(&b, 1), 0);
  EXPECT_EQ(s->Write(&b, 1), 0);
  EXPECT_EQ(bank->size(), 6u);
  EXPECT_EQ(OpenUrlStream(TBankPtr(), 1, 1), nullptr);
}

TEST_F(TextFiles, BanksLoadWholeUrls) {
  SaveAllBytes({9, 8, 7}, Path("bank.bin"));
  TBankPtr bank = LoadBank(Path("bank.bin"));
  EXPECT_EQ(*bank, (TBank{9, 8, 7}));
  EXPECT_THROW(LoadBank(Path("missing.bin")), TStreamReadException);
  // A text stream over a bank: the bank collects the encoded text.
  auto text = CreateTextStream(OpenForWriting(bank), TEXT_UTF8);
  text->Seek(3);
  text->WriteString(u"\u00E9");
  EXPECT_EQ(*bank, (TBank{9, 8, 7, 0xC3, 0xA9}));
}

}  // namespace
