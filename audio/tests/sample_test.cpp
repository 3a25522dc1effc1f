// Samples, format conversion and the WAV / Ogg Vorbis loaders (checked against sox).
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <ormix/audio/audio.h>
#include <ormix/audio/wavefile.h>
#include <ormix/runtime/errors.h>

#include "testsupport/testsupport.h"

namespace {

std::string Corpus(const std::string& name) { return std::string(ORMIX_CORPUS_DIR) + "/sounds/" + name; }
bool HaveCorpus() { return std::ifstream(Corpus("mono8.wav")).good(); }
bool HaveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

std::vector<uint8_t> RunCommand(const std::string& cmd) {
  const std::string out = RunShellCommand(cmd).out;
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> Le16(std::initializer_list<int> values) {
  std::vector<uint8_t> b;
  for (int v : values) {
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  return b;
}

// A RIFF file built piece by piece.
struct Wav {
  std::vector<uint8_t> b;
  // Up to four characters: a shorter text writes only what it has (a cut chunk header).
  Wav& tag(const char* t) {
    for (int i = 0; i < 4 && t[i]; ++i) b.push_back(static_cast<uint8_t>(t[i]));
    return *this;
  }
  Wav& u32(uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); return *this; }
  Wav& u16(uint16_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); return *this; }
  Wav& bytes(size_t n, uint8_t v) { b.insert(b.end(), n, v); return *this; }
  Wav& fmt(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t len = 16, uint16_t tagv = 1) {
    tag("fmt ").u32(len).u16(tagv).u16(channels).u32(rate).u32(rate * channels * bits / 8)
        .u16(static_cast<uint16_t>(channels * bits / 8)).u16(bits);
    return bytes(len - 16, 0);
  }
  static Wav Head() { Wav w; w.tag("RIFF").u32(0).tag("WAVE"); return w; }
};

TAudioSamplePtr LoadBytes(const std::vector<uint8_t>& bytes) {
  return LoadAudioSample(TRamStream::FromBytes(bytes));
}

}  // namespace

TEST(SampleFormats, TablesAndNewSample) {
  const int bytes[7] = {0, 1, 2, 2, 2, 4, 4}, chans[7] = {0, 1, 1, 1, 2, 2, 2};
  for (int f = 0; f < 7; ++f) {
    EXPECT_EQ(BytesPerSample[f], bytes[f]);
    EXPECT_EQ(ChannelsPerSample[f], chans[f]);
  }
  auto s = NewAudioSample(100, 22050, SF_STEREO16LE);
  EXPECT_EQ(s->length, 100);
  EXPECT_EQ(s->capacity, 400);
  uint8_t mem[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto w = WrapAudioSample(mem, 4, 8000, SF_MONO16BE);
  EXPECT_EQ(w->capacity, -1);
  EXPECT_EQ(w->samples, mem);
  auto c = w->Copy();
  EXPECT_NE(c->samples, mem);
  EXPECT_EQ(c->capacity, 8);
  EXPECT_EQ(0, std::memcmp(c->samples, mem, 8));
  EXPECT_EQ(c->hertz, 8000);
  EXPECT_EQ(c->format, SF_MONO16BE);
}

TEST(SampleFormats, ConversionTable) {
  struct Case {
    int from;
    std::vector<uint8_t> in;
    int to;
    std::vector<uint8_t> out;
  };
  const Case cases[] = {
      {SF_MONO8, {0x80}, SF_STEREO16LE, {0x80, 0x00, 0x80, 0x00}},  // 0x0080 on both sides
      {SF_MONO8, {0xFF}, SF_MONO16BE, {0x7F, 0xFF}},
      {SF_MONO8, {0x00}, SF_MONO16LE, {0x00, 0x80}},  // 0x8000
      {SF_STEREO16LE, Le16({1000, -1000}), SF_MONO8, {131}},  // left only, (1000+32768)/257
      {SF_STEREO16LE, Le16({1000, -1000}), SF_STEREO8, {131, 123}},
      {SF_STEREO16LE, Le16({0x1234, -2}), SF_STEREO16BE, {0x12, 0x34, 0xFF, 0xFE}},
      {SF_MONO16BE, {0x12, 0x34}, SF_STEREO16LE, {0x34, 0x12, 0x34, 0x12}},
      {SF_STEREO16BE, {0x80, 0x00, 0x7F, 0xFF}, SF_STEREO8, {0, 255}},
      {SF_STEREO8, {0x10, 0xF0}, SF_MONO16LE, {0x10, 0x90}},  // high byte 0x10-0x80=0x90
      {SF_MONO16LE, Le16({-32768}), SF_MONO8, {0}},
  };
  for (const Case& c : cases) {
    auto s = NewAudioSample(1, 11025, c.from);
    std::memcpy(s->samples, c.in.data(), c.in.size());
    auto r = s->Convert(c.to);
    ASSERT_EQ(r->format, c.to);
    EXPECT_EQ(r->length, 1);
    EXPECT_EQ(r->hertz, 11025);
    EXPECT_EQ(std::vector<uint8_t>(r->samples, r->samples + c.out.size()), c.out)
        << "from " << c.from << " to " << c.to;
  }
}

TEST(SampleFormats, UnknownCodesThrow) {
  auto s = NewAudioSample(2, 8000, SF_MONO8);
  for (int bad : {0, 7, -1}) {
    try {
      s->Convert(bad);
      FAIL() << "no exception for " << bad;
    } catch (const TRuntimeException& e) {
      EXPECT_STREQ(e.what(), "Unimplemented sample format conversion");
    }
  }
  auto odd = WrapAudioSample(nullptr, 0, 8000, 9);
  EXPECT_EQ(odd->Convert(9)->format, 9);  // same format: plain copy
  EXPECT_THROW(odd->Convert(1), TRuntimeException);
}

TEST(WavLoader, CorpusMatchesSoxExactly) {
  if (!HaveCorpus()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  if (!HaveSox()) ORMIX_SKIP_OR_FAIL() << "sox not installed";
  struct Case {
    const char* file;
    int format, rate;
    const char* soxType;
  };
  const Case cases[] = {{"mono8.wav", SF_MONO8, 22050, "u8"},
                        {"mono16.wav", SF_MONO16LE, 22050, "s16"},
                        {"stereo8.wav", SF_STEREO8, 22050, "u8"},
                        {"stereo16.wav", SF_STEREO16LE, 16000, "s16"}};
  for (const Case& c : cases) {
    auto s = LoadAudioSample(Corpus(c.file));
    ASSERT_TRUE(s) << c.file;
    EXPECT_EQ(s->format, c.format) << c.file;
    EXPECT_EQ(s->hertz, c.rate) << c.file;
    auto ref = RunCommand("sox '" + Corpus(c.file) + "' -t " + c.soxType + " -");
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(s->ByteSize(), ref.size()) << c.file;
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), s->samples)) << c.file;
  }
}

TEST(OggLoader, CorpusMatchesSox) {
  if (!HaveCorpus()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  if (!HaveSox()) ORMIX_SKIP_OR_FAIL() << "sox not installed";
  struct Case {
    const char* file;
    int format;
  };
  for (const Case& c : {Case{"short.ogg", SF_MONO16LE}, Case{"short2.ogg", SF_STEREO16LE}}) {
    auto s = LoadAudioSample(Corpus(c.file));
    ASSERT_TRUE(s) << c.file;
    EXPECT_EQ(s->format, c.format);
    EXPECT_EQ(s->hertz, 44100);
    auto ref = RunCommand("sox '" + Corpus(c.file) + "' -t s16 -");
    ASSERT_EQ(s->ByteSize(), ref.size()) << c.file;
    const int16_t* a = reinterpret_cast<const int16_t*>(s->samples);
    const int16_t* b = reinterpret_cast<const int16_t*>(ref.data());
    int worst = 0;
    for (size_t i = 0; i < ref.size() / 2; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    EXPECT_LE(worst, 4) << c.file;
  }
}

TEST(OggLoader, TruncatedStreamStopsDecoding) {
  if (!HaveCorpus()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  std::ifstream f(Corpus("short2.ogg"), std::ios::binary);
  std::vector<uint8_t> all((std::istreambuf_iterator<char>(f)), {});
  auto whole = LoadBytes(all);
  ASSERT_TRUE(whole);
  // Cut away the second half: the frames the rest holds, no more, and no hang.
  std::vector<uint8_t> half(all.begin(), all.begin() + all.size() / 2);
  auto s = LoadBytes(half);
  ASSERT_TRUE(s) << "the first half still decodes";
  EXPECT_GT(s->length, 0);
  EXPECT_LT(s->length, whole->length);
  EXPECT_EQ(0, std::memcmp(s->samples, whole->samples, s->ByteSize()));
  // The header alone holds no sound: refused.
  std::vector<uint8_t> head(all.begin(), all.begin() + 200);
  EXPECT_EQ(LoadBytes(head), nullptr);
}

TEST(WavLoader, StructureCases) {
  // 16-bit stereo, 4000 data bytes: 1000 frames of format 5.
  {
    Wav w = Wav::Head();
    w.fmt(2, 44100, 16).tag("data").u32(4000).bytes(4000, 7);
    auto s = LoadBytes(w.b);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format, SF_STEREO16LE);
    EXPECT_EQ(s->length, 1000);
    EXPECT_EQ(s->hertz, 44100);
  }
  // An 18-byte format chunk and a list chunk before the data.
  {
    Wav w = Wav::Head();
    w.fmt(1, 8000, 8, 18).tag("LIST").u32(6).bytes(6, 'x').tag("data").u32(3).bytes(3, 0x90);
    auto s = LoadBytes(w.b);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format, SF_MONO8);
    EXPECT_EQ(s->length, 3);
    EXPECT_EQ(s->samples[2], 0x90);
  }
  // Refusals: not RIFF, format chunk not first, not PCM, 24-bit, no data chunk.
  std::vector<std::vector<uint8_t>> refused;
  {
    Wav w;
    w.tag("RIFX").u32(0).tag("WAVE").fmt(1, 8000, 8).tag("data").u32(1).bytes(1, 0);
    refused.push_back(w.b);
  }
  {
    Wav w = Wav::Head();
    w.tag("LIST").u32(2).bytes(2, 0).fmt(1, 8000, 8).tag("data").u32(1).bytes(1, 0);
    refused.push_back(w.b);
  }
  {
    Wav w = Wav::Head();
    w.fmt(1, 8000, 16, 16, 3).tag("data").u32(2).bytes(2, 0);
    refused.push_back(w.b);
  }
  {
    Wav w = Wav::Head();
    w.fmt(1, 8000, 24).tag("data").u32(3).bytes(3, 0);
    refused.push_back(w.b);
  }
  {
    Wav w = Wav::Head();
    w.fmt(2, 8000, 16).tag("LIST").u32(4).bytes(4, 0);
    refused.push_back(w.b);
  }
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_FALSE(LoadBytes(refused[i])) << "case " << i;
}

TEST(WavLoader, DataChunkLongerThanFileLoadsWhatIsThere) {
  Wav w = Wav::Head();
  w.fmt(2, 22050, 16).tag("data").u32(0x7FFFFFF0).bytes(10, 0x11);  // 2 whole frames and a half
  auto s = LoadBytes(w.b);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, 2);
  EXPECT_LE(s->capacity, 10);
  // A chunk length that would wrap past the end of the file ends the walk.
  Wav x = Wav::Head();
  x.fmt(1, 8000, 8).tag("junk").u32(0xFFFFFFF0).bytes(8, 0);
  EXPECT_FALSE(LoadBytes(x.b));
}

namespace {
// A stream that cannot seek.
class PipeLike : public TStream {
public:
  int Read(void*, int) override { return 0; }
  int Write(const void*, int) override { return 0; }
};
// A stream whose reads stop making progress before its end: typed reads throw.
class Stalling : public TStream {
public:
  std::vector<uint8_t> data;
  int64_t pos = 0;
  int Eof() override { return 0; }
  int64_t Pos() override { return pos; }
  int64_t Size() override { return static_cast<int64_t>(data.size()) + 1000; }
  int64_t Seek(int64_t p) override { pos = std::min<int64_t>(p, static_cast<int64_t>(data.size())); return pos; }
  int Read(void* buf, int n) override {
    int k = static_cast<int>(std::min<int64_t>(n, static_cast<int64_t>(data.size()) - pos));
    std::memcpy(buf, data.data() + pos, k);
    pos += k;
    return k;
  }
  int Write(const void*, int) override { return 0; }
};
}  // namespace

TEST(LoadAudioSample, RefusesAndFailures) {
  try {
    LoadAudioSample(std::make_shared<PipeLike>());
    FAIL() << "unseekable stream accepted";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "Stream is not seekable");
  }
  EXPECT_FALSE(LoadAudioSample(u"/nonexistent/file.wav"));
  EXPECT_FALSE(LoadBytes({'h', 'e', 'l', 'l', 'o'}));
  // A stream error inside a loader is that loader's refusal.
  auto st = std::make_shared<Stalling>();
  Wav w = Wav::Head();
  w.fmt(1, 8000, 8, 40);  // the format chunk's extra bytes run out
  st->data = w.b;
  EXPECT_FALSE(LoadAudioSample(st));
}

TEST(LoadAudioSample, StartsAtTheStreamPosition) {
  Wav w = Wav::Head();
  w.fmt(1, 8000, 16).tag("data").u32(4).bytes(4, 0x22);
  Wav lead;  // three bytes before the file
  lead.bytes(3, 0xEE);
  lead.b.reserve(3 + w.b.size());
  for (uint8_t x : w.b) lead.b.push_back(x);
  auto st = TRamStream::FromBytes(lead.b);
  st->Seek(3);
  auto s = LoadAudioSample(st);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, 2);
}

// ---- the shared wave file reader and writer ----

namespace {
// A stream like a socket: no size, no positions.
class Sizeless : public TStream {
public:
  std::vector<uint8_t> data;
  size_t pos = 0;
  int Eof() override { return pos >= data.size(); }
  int Read(void* buf, int n) override {
    const size_t k = std::min(static_cast<size_t>(std::max(n, 0)), data.size() - pos);
    std::memcpy(buf, data.data() + pos, k);
    pos += k;
    return static_cast<int>(k);
  }
  int Write(const void*, int) override { return 0; }
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}
}  // namespace

TEST(WaveFile, WrittenFilesReadBackAsWritten) {
  struct Case {
    TWaveFormat format;
    size_t bytes;
  };
  const Case cases[] = {
      {{1, 8000, 8}, 3},     // odd: a pad byte follows the data
      {{2, 22050, 8}, 6},
      {{1, 44100, 16}, 10},
      {{2, 48000, 16}, 0},   // no frames at all
  };
  const std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/wavefile_" + std::to_string(getpid()) + ".wav";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.channels * 100 + c.format.bits);
    std::vector<uint8_t> data(c.bytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 1);
    ASSERT_TRUE(WriteWaveFile(path, c.format, data.data(), static_cast<uint32_t>(data.size())));
    const std::vector<uint8_t> file = ReadFile(path);
    EXPECT_EQ(file.size(), 44 + c.bytes + (c.bytes & 1));
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 44), WaveHeader(c.format, static_cast<uint32_t>(c.bytes)));

    auto in = TRamStream::FromBytes(file);
    TWaveLayout got;
    ASSERT_TRUE(ReadWaveHeader(*in, got));
    EXPECT_EQ(got.format.channels, c.format.channels);
    EXPECT_EQ(got.format.rate, c.format.rate);
    EXPECT_EQ(got.format.bits, c.format.bits);
    EXPECT_TRUE(got.hasData);
    EXPECT_EQ(got.bytes, static_cast<int64_t>(c.bytes));
    EXPECT_EQ(got.dataPos, 44);
    std::vector<uint8_t> back(c.bytes);
    if (!back.empty()) in->ReadBytes(back.data(), static_cast<int>(back.size()));
    EXPECT_EQ(back, data);
  }
  std::remove(path.c_str());
  EXPECT_FALSE(WriteWaveFile("/nonexistent/dir/x.wav", {1, 8000, 8}, "", 0));
}

TEST(WaveFile, ChunkWalk) {
  struct Case {
    const char* what;
    Wav file;
    bool hasData;
    int64_t bytes;
    uint32_t declared;
  };
  auto head = [] { return Wav::Head().fmt(1, 8000, 8); };
  const Case cases[] = {
      {"odd chunk and its pad byte", head().tag("LIST").u32(3).bytes(3, 'x').bytes(1, 0).tag("data").u32(2).bytes(2, 1),
       true, 2, 2},
      {"two chunks before the data", head().tag("fact").u32(4).bytes(4, 0).tag("LIST").u32(2).bytes(2, 0).tag("data").u32(1).bytes(1, 1),
       true, 1, 1},
      {"data claims more than there is", head().tag("data").u32(1000).bytes(5, 1), true, 5, 1000},
      {"data ends the file", head().tag("data").u32(0), true, 0, 0},
      {"no data chunk", head().tag("LIST").u32(2).bytes(2, 0), false, 0, 0},
      {"a chunk runs past the end", head().tag("LIST").u32(100).bytes(8, 0).tag("data").u32(0), false, 0, 0},
      {"half a chunk header", head().tag("da"), false, 0, 0},
  };
  for (const Case& c : cases) {
    TWaveLayout got;
    ASSERT_TRUE(ReadWaveHeader(*TRamStream::FromBytes(c.file.b), got)) << c.what;
    EXPECT_EQ(got.hasData, c.hasData) << c.what;
    EXPECT_EQ(got.bytes, c.bytes) << c.what;
    EXPECT_EQ(got.declared, c.declared) << c.what;
    // A stream that cannot tell its size walks the same way; only the cut is unknown.
    Sizeless sizeless;
    sizeless.data = c.file.b;
    TWaveLayout same;
    ASSERT_TRUE(ReadWaveHeader(sizeless, same)) << c.what;
    EXPECT_EQ(same.hasData, c.hasData) << c.what;
    if (c.hasData) {
      EXPECT_EQ(same.bytes, c.declared) << c.what;
    }
  }
  // The sample loader reads an odd chunk's pad byte as padding, not as data.
  auto s = LoadBytes(cases[0].file.b);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, 2);
  EXPECT_EQ(s->samples[0], 1);
}

// Every cut of a file, and every header field spoiled, is refused or read short without a
// read outside the bytes (the sanitizer build watches).
TEST(WaveFile, DamagedHeadersAreRefused) {
  const Wav whole = Wav::Head().fmt(2, 8000, 16, 18).tag("LIST").u32(5).bytes(6, 'x').tag("data").u32(8).bytes(8, 3);
  for (size_t cut = 0; cut < whole.b.size(); ++cut) {
    const std::vector<uint8_t> part(whole.b.begin(), whole.b.begin() + static_cast<std::ptrdiff_t>(cut));
    TWaveLayout got;
    if (ReadWaveHeader(*TRamStream::FromBytes(part), got) && got.hasData) {
      EXPECT_LE(got.bytes, static_cast<int64_t>(cut) - got.dataPos) << cut;
    }
    Sizeless sizeless;
    sizeless.data = part;
    ReadWaveHeader(sizeless, got);
  }
  struct Spoiled {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Spoiled spoiled[] = {
      {"RIFF", 0, 'X'}, {"WAVE", 8, 'X'}, {"fmt ", 12, 'X'}, {"format tag", 20, 3},
      {"channels", 22, 3}, {"no channels", 22, 0}, {"bits", 34, 24}, {"no bits", 34, 0},
  };
  for (const Spoiled& sp : spoiled) {
    std::vector<uint8_t> b = whole.b;
    b[sp.at] = sp.value;
    TWaveLayout got;
    EXPECT_FALSE(ReadWaveHeader(*TRamStream::FromBytes(b), got)) << sp.what;
    EXPECT_FALSE(LoadBytes(b)) << sp.what;
  }
}

// From a stream without a size a data length is only a claim: memory follows what arrives.
TEST(WavLoader, StreamWithoutSizeLoadsWhatArrives) {
  Sizeless in;
  in.data = Wav::Head().fmt(2, 22050, 16).tag("data").u32(0x7FFFFFF0).bytes(10, 0x11).b;
  TAudioSampleLoaderWAV wav;
  auto s = wav.LoadAudioSample(std::shared_ptr<TStream>(&in, [](TStream*) {}));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, 2);
  EXPECT_LE(s->capacity, 10);
  EXPECT_EQ(s->samples[7], 0x11);
}

TEST(OggLoader, MoreThanTwoChannelsKeepTheFirstTwo) {
  if (!HaveSox()) ORMIX_SKIP_OR_FAIL() << "sox not installed";
  const std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/six_" + std::to_string(getpid()) + ".ogg";
  if (std::system(("sox -n -c 6 -r 44100 '" + path + "' synth 0.1 sine 440 sine 550 sine 660 2>/dev/null").c_str()) != 0 ||
      !std::ifstream(path).good())
    ORMIX_SKIP_OR_FAIL() << "sox cannot write Ogg Vorbis here";
  auto s = LoadAudioSample(path);
  auto ref = RunCommand("sox '" + path + "' -t s16 -");
  std::remove(path.c_str());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->format, SF_STEREO16LE);
  ASSERT_EQ(static_cast<size_t>(s->length) * 12, ref.size());
  const int16_t* a = reinterpret_cast<const int16_t*>(s->samples);
  const int16_t* b = reinterpret_cast<const int16_t*>(ref.data());
  int worst = 0;
  for (int i = 0; i < s->length; ++i)
    for (int c = 0; c < 2; ++c) worst = std::max(worst, std::abs(a[2 * i + c] - b[6 * i + c]));
  EXPECT_LE(worst, 4);
}
