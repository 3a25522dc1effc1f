#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <ormix/runtime/incbin.h>
#include <ormix/stream/stream.h>

namespace fs = std::filesystem;

static std::shared_ptr<TRamStream> Ram(const std::string& bytes) {
  return TRamStream::FromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// A stream that can neither seek nor tell its size, and whose reads may be refused.
class TrickleStream : public TStream {
public:
  std::string data;
  size_t pos = 0;
  bool fail = false;
  int Eof() override { return pos >= data.size(); }
  int Read(void* b, int n) override {
    if (fail || n <= 0 || pos >= data.size()) return 0;
    *static_cast<char*>(b) = data[pos++];  // one byte at a time
    return 1;
  }
  int Write(const void*, int) override { return 0; }
};

class TempDir : public ::testing::Test {
protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ormix_stream_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  Text Path(const std::string& name) { return ToText((dir / name).string()); }
};

TEST(Stream, TypedReadsAreLittleEndianAndZeroFilledAtEnd) {
  auto s = Ram(std::string("\x01\x02\x03\x04\x05\x06", 6));
  EXPECT_EQ(s->ReadShort(), 0x0201);
  EXPECT_EQ(s->ReadInt(), 0x06050403);
  auto t = Ram(std::string("\xff\x7f", 2));
  EXPECT_EQ(t->ReadInt(), 0x7fff);  // two bytes left: low half only, no exception
  EXPECT_EQ(t->ReadByte(), 0);      // at end: zero
  auto u = Ram(std::string("\xfe\xff", 2));
  EXPECT_EQ(u->ReadShort(), 65534);  // unsigned
}

TEST(Stream, WriteAndReadBackEveryWidth) {
  std::vector<uint8_t> mem(64, 0);
  auto s = TRamStream::Create(mem.data(), 64, 1, 1);
  s->WriteByte(0x1AB);
  s->WriteShort(-2);
  s->WriteInt(-123456);
  s->WriteLong(-9876543210LL);
  s->WriteFloat(1.5f);
  s->WriteDouble(-2.25);
  EXPECT_EQ(s->Pos(), 1 + 2 + 4 + 8 + 4 + 8);
  s->Seek(0);
  EXPECT_EQ(s->ReadByte(), 0xAB);
  EXPECT_EQ(s->ReadShort(), 0xFFFE);
  EXPECT_EQ(s->ReadInt(), -123456);
  EXPECT_EQ(s->ReadLong(), -9876543210LL);
  EXPECT_EQ(s->ReadFloat(), 1.5f);
  EXPECT_EQ(s->ReadDouble(), -2.25);
}

TEST(Stream, ReadLineDropsCarriageReturnsAndStopsAtTerminators) {
  auto s = Ram(std::string("abc\r\ndef", 8));
  EXPECT_EQ(s->ReadLine(), u"abc");
  EXPECT_EQ(s->ReadLine(), u"def");
  EXPECT_TRUE(s->Eof());
  auto z = Ram(std::string("a\0b\xe9", 4));
  EXPECT_EQ(z->ReadLine(), u"a");
  EXPECT_EQ(z->ReadLine(), Text(u"b") + Text(1, 0xE9));
}

TEST(Stream, WriteLineUsesLowByteAndCrLf) {
  std::vector<uint8_t> mem(8, 0);
  auto s = TRamStream::Create(mem.data(), 8, 0, 1);
  EXPECT_EQ(s->WriteLine(Text(1, 233)), 1);
  EXPECT_EQ(s->Pos(), 3);
  EXPECT_EQ(mem[0], 0xE9);
  EXPECT_EQ(mem[1], 13);
  EXPECT_EQ(mem[2], 10);
  auto tiny = TRamStream::Create(mem.data(), 2, 0, 1);
  EXPECT_EQ(tiny->WriteLine(u"abc"), 0);  // does not fit
}

TEST(Stream, BytesHelpersThrowOnlyWithoutProgress) {
  TrickleStream t;
  t.data = "hello";
  char buf[16] = {};
  EXPECT_EQ(t.ReadBytes(buf, 10), 10);  // end of stream stops it early, no throw
  EXPECT_STREQ(buf, "hello");
  TrickleStream f;
  f.data = "xyz";
  f.fail = true;
  EXPECT_THROW(f.ReadBytes(buf, 2), TStreamReadException);
  EXPECT_THROW(f.SkipBytes(2), TStreamReadException);
  EXPECT_THROW(f.WriteBytes("a", 1), TStreamWriteException);
  try {
    f.ReadBytes(buf, 1);
  } catch (const TStreamException& e) {
    EXPECT_STREQ(e.what(), "Error reading from stream");
  }
  auto r = Ram("0123456789");
  r->SkipBytes(4);
  EXPECT_EQ(r->ReadByte(), '4');
  EXPECT_THROW(r->ReadObject(), TRuntimeException);
}

TEST(Stream, RamStreamClampsAndHonoursFlags) {
  std::vector<uint8_t> mem = {1, 2, 3};
  auto ro = TRamStream::Create(mem.data(), 3, 1, 0);
  uint8_t b = 9;
  EXPECT_EQ(ro->Write(&b, 1), 0);
  EXPECT_EQ(ro->Seek(10), 3);
  EXPECT_EQ(ro->Seek(-5), 0);
  uint8_t out[8];
  EXPECT_EQ(ro->Read(out, 8), 3);
  EXPECT_EQ(ro->Read(out, 8), 0);
  EXPECT_EQ(ro->Read(out, -1), 0);
  auto wo = TRamStream::Create(mem.data(), 3, 0, 1);
  EXPECT_EQ(wo->Read(out, 1), 0);
}

TEST_F(TempDir, FileStreamsAndWholeStreamFunctions) {
  SaveAllText(u"line1\r\nline2", Path("a.txt"));
  EXPECT_EQ(LoadAllText(Path("a.txt")), u"line1\r\nline2");
  // backslashes name the same file
  Text back = Path("a.txt");
  for (auto& c : back) if (c == '/') c = '\\';
  auto s = OpenForReading(back);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 12);
  EXPECT_EQ(s->ReadLine(), u"line1");
  EXPECT_EQ(s->Pos(), 7);
  s->Close();
  s->Close();  // twice is harmless
  EXPECT_EQ(s->Size(), 0);

  std::vector<uint8_t> big(5000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  SaveAllBytes(big, Path("b.bin"));
  EXPECT_EQ(LoadAllBytes(Path("b.bin")), big);  // grows past the 1024-byte start

  auto rw = OpenUrlStream(Path("b.bin"), 1, 1);
  ASSERT_TRUE(rw);
  rw->Seek(4998);
  rw->WriteInt(0x01020304);  // extends the file
  EXPECT_EQ(rw->Size(), 5002);
  rw->Close();
  std::vector<uint8_t> extended(big.begin(), big.begin() + 4998);
  for (uint8_t b : {0x04, 0x03, 0x02, 0x01}) extended.push_back(b);  // little-endian
  EXPECT_EQ(LoadAllBytes(Path("b.bin")), extended);

  EXPECT_EQ(OpenForReading(Path("missing")), nullptr);
  EXPECT_THROW(LoadAllBytes(Path("missing")), TStreamReadException);
  EXPECT_THROW(SaveAllText(u"x", Path("no/such/dir/f")), TStreamWriteException);

  auto from = OpenForReading(Path("b.bin"));
  auto to = OpenForWriting(Path("c.bin"));
  CopyCount(*from, *to, 100, 7);
  to->Close();
  EXPECT_EQ(LoadAllBytes(Path("c.bin")), std::vector<uint8_t>(extended.begin(), extended.begin() + 100));
  from->Seek(0);
  auto to2 = OpenForWriting(Path("d.bin"));
  CopyAll(*from, *to2, 333);
  to2->Close();
  EXPECT_EQ(LoadAllBytes(Path("d.bin")), extended);
}

TEST(Stream, OpeningAStreamObjectDoesNotCloseIt) {
  auto inner = Ram("abcdef");
  auto outer = OpenForReading(std::static_pointer_cast<TStream>(inner));
  ASSERT_TRUE(outer);
  EXPECT_EQ(outer->ReadByte(), 'a');
  outer->Close();
  outer.reset();
  EXPECT_EQ(inner->ReadByte(), 'b');
  EXPECT_EQ(LoadAllBytes(std::static_pointer_cast<TStream>(inner)), std::vector<uint8_t>({'c', 'd', 'e', 'f'}));
}

TEST(Stream, FactoriesResolveProtocols) {
  static const unsigned char data[] = {0x12, 0x34, 0x56, 0x78};
  RegisterIncbin("words.bin", data, 4);
  auto le = OpenForReading(Text(u"LittleEndian::incbin::words.bin"));
  ASSERT_TRUE(le);
  EXPECT_EQ(le->ReadShort(), 0x3412);
  auto be = OpenForReading(Text(u"BIGENDIAN::incbin::words.bin"));
  ASSERT_TRUE(be);
  EXPECT_EQ(be->ReadInt(), 0x12345678);
  EXPECT_EQ(OpenForWriting(Text(u"incbin::words.bin")), nullptr);
  EXPECT_EQ(OpenForReading(Text(u"incbin::Words.bin")), nullptr);
  EXPECT_EQ(OpenForReading(Text(u"nosuchprotocol::x")), nullptr);
}

TEST(Stream, BigEndianWritesSwap) {
  std::vector<uint8_t> mem(14, 0);
  TBigEndianStream be(TRamStream::Create(mem.data(), 14, 1, 1));
  be.WriteShort(0x0102);
  be.WriteInt(0x03040506);
  be.WriteFloat(1.0f);  // 0x3F800000
  EXPECT_EQ(mem[0], 1);
  EXPECT_EQ(mem[1], 2);
  EXPECT_EQ(mem[2], 3);
  EXPECT_EQ(mem[5], 6);
  EXPECT_EQ(mem[6], 0x3F);
  EXPECT_EQ(mem[7], 0x80);
  be.Seek(0);
  EXPECT_EQ(be.ReadShort(), 0x0102);
  EXPECT_EQ(be.ReadInt(), 0x03040506);
  EXPECT_EQ(be.ReadFloat(), 1.0f);
}
