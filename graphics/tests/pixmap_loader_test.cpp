// The image loaders against real files, checked pixel by pixel with an independent
// decoder (ImageMagick's convert), the writers, and malformed input.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/incbin.h>
#include <ormix/stream/stream.h>

#include "testsupport/testsupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kCorpus = std::string(ORMIX_CORPUS_DIR) + "/images";

bool HaveConvert() { return std::system("command -v convert >/dev/null 2>&1") == 0; }

// Runs a shell command and returns its standard output.
std::vector<uint8_t> RunCommand(const std::string& cmd) {
  const std::string out = RunShellCommand(cmd).out;
  return std::vector<uint8_t>(out.begin(), out.end());
}

// The reference decoding: 8-bit RGBA rows from ImageMagick. They pass through its 8-bit
// PNG writer, which rounds 16-bit samples to the nearest 8-bit value (its "-depth 8"
// alone cuts them short instead).
std::vector<uint8_t> ReferenceRGBA(const std::string& path) {
  return RunCommand("convert '" + path + "' -auto-orient PNG32:- 2>/dev/null | convert PNG:- RGBA:- 2>/dev/null");
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Compares a decoded pixmap with reference RGBA bytes; reports the first differences.
void ExpectMatches(const TPixmapPtr& p, const std::vector<uint8_t>& ref, int tolerance, const std::string& what) {
  ASSERT_NE(p, nullptr) << what;
  ASSERT_EQ(ref.size(), static_cast<size_t>(p->width) * p->height * 4) << what;
  int bad = 0, worst = 0;
  for (int y = 0; y < p->height; ++y) {
    for (int x = 0; x < p->width; ++x) {
      const uint32_t v = p->ReadPixel(x, y);
      const uint8_t got[4] = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24)};
      const uint8_t* want = &ref[(static_cast<size_t>(y) * p->width + x) * 4];
      for (int c = 0; c < 4; ++c) {
        const int d = std::abs(got[c] - want[c]);
        worst = std::max(worst, d);
        if (d > tolerance && ++bad <= 5)
          ADD_FAILURE() << what << " pixel " << x << "," << y << " channel " << c << ": " << int(got[c])
                        << " vs reference " << int(want[c]);
      }
    }
  }
  EXPECT_EQ(bad, 0) << what << ": worst difference " << worst;
}

class LoaderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    InitPixmapModule();
    if (!fs::is_directory(kCorpus)) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << kCorpus;
    if (!HaveConvert()) ORMIX_SKIP_OR_FAIL() << "ImageMagick convert not installed";
    tmp_ = fs::temp_directory_path() / ("ormix_pixmap_" + std::to_string(getpid()));
    fs::create_directories(tmp_);
  }
  void TearDown() override {
    if (!tmp_.empty()) fs::remove_all(tmp_);
  }
  std::string Tmp(const std::string& name) const { return (tmp_ / name).string(); }
  fs::path tmp_;
};

TEST_F(LoaderFiles, CorpusMatchesReferenceDecoder) {
  struct Case {
    const char* file;
    int format;
    int tolerance;
  } cases[] = {
      {"rgba8.png", PIXFMT_RGBA8888, 0},   {"rgba16.png", PIXFMT_RGBA8888, 0},
      {"rgb8.png", PIXFMT_RGB888, 0},      {"palette8.png", -1, 0},
      {"palette1.png", -1, 0},             {"grey8.png", PIXFMT_I8, 0},
      {"greyalpha8.png", PIXFMT_RGBA8888, 0}, {"photo.jpg", PIXFMT_RGB888, 2},
      {"palette8.bmp", PIXFMT_BGR888, 0},  {"image.tga", PIXFMT_RGB888, 0},
  };
  for (const Case& c : cases) {
    const std::string path = kCorpus + "/" + c.file;
    TPixmapPtr p = OpenPixmap(path);
    ASSERT_NE(p, nullptr) << c.file;
    if (c.format > 0) {
      EXPECT_EQ(p->format, c.format) << c.file;
    }
    ExpectMatches(p, ReferenceRGBA(path), c.tolerance, c.file);
  }
}

TEST_F(LoaderFiles, PaletteWithTransparencyLoadsWithAlpha) {
  // A palette PNG with a transparency chunk, made from a corpus image.
  const std::string out = Tmp("trns.png");
  ASSERT_EQ(std::system(("convert '" + kCorpus + "/palette8.png' -transparent '#000000' -type PaletteAlpha 'PNG8:" +
                         out + "' 2>/dev/null").c_str()), 0);
  TPixmapPtr p = OpenPixmap(out);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->format, PIXFMT_RGBA8888);
  ExpectMatches(p, ReferenceRGBA(out), 0, "palette + tRNS");
}

TEST_F(LoaderFiles, VariantsWrittenByReferenceTool) {
  // Other layouts of the corpus images, written by ImageMagick and read back by both.
  struct Case {
    const char* source;
    const char* options;
    const char* target;
    int tolerance;
  } cases[] = {
      {"rgb8.png", "-interlace PNG", "interlaced.png", 0},
      {"rgba8.png", "-interlace PNG", "interlaced_rgba.png", 0},
      {"rgba8.png", "-compress RLE", "rle32.tga", 0},
      {"rgb8.png", "-compress RLE", "rle24.tga", 0},
      {"rgba8.png", "", "plain32.tga", 0},
      {"rgb8.png", "-compress None", "bmp24.bmp", 0},
      {"palette1.png", "-type Palette -colors 2", "bmp1.bmp", 0},
      {"palette8.png", "-type Palette -colors 16", "bmp4.bmp", 0},
      {"rgba8.png", "", "v5_32.bmp", 0},
      {"grey8.png", "-interlace JPEG -quality 90", "grey_progressive.jpg", 2},
  };
  for (const Case& c : cases) {
    std::string target = Tmp(c.target);
    std::string prefix;
    if (std::strncmp(c.target, "bmp", 3) == 0) prefix = "BMP3:";
    const std::string cmd = "convert '" + kCorpus + "/" + c.source + "' " + c.options + " '" + prefix + target +
                            "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    ExpectMatches(OpenPixmap(target), ReferenceRGBA(target), c.tolerance, c.target);
  }
}

TEST_F(LoaderFiles, TruncatedFilesAreRefused) {
  // Every corpus file cut short is refused, at several lengths.
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    const std::vector<uint8_t> bytes = FileBytes(entry.path().string());
    for (double fraction : {0.02, 0.3, 0.6, 0.9}) {
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * fraction));
      const std::string path = Tmp("cut_" + entry.path().filename().string());
      WriteFile(path, cut);
      EXPECT_EQ(OpenPixmap(path), nullptr) << entry.path().filename() << " cut to " << fraction;
    }
  }
}

TEST_F(LoaderFiles, CorruptedFilesNeverCrash) {
  // Bytes changed at random (fixed seed) in the headers and bodies of real files: the
  // loaders either refuse the file or return a pixmap of sane size.
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    const std::vector<uint8_t> bytes = FileBytes(entry.path().string());
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> bad = bytes;
      const int changes = 1 + static_cast<int>(next() % 6);
      for (int i = 0; i < changes; ++i) {
        // Half the changes land in the first 64 bytes, where the headers are.
        const size_t span = (next() & 1) ? std::min<size_t>(64, bad.size()) : bad.size();
        bad[next() % span] = static_cast<uint8_t>(next());
      }
      TPixmapPtr p = OpenPixmap(TRamStream::FromBytes(bad));
      if (p) {
        EXPECT_LE(p->width, MAX_PIXMAP_SIDE);
        EXPECT_LE(p->height, MAX_PIXMAP_SIDE);
        EXPECT_LE(static_cast<int64_t>(p->width) * p->height, 64LL * static_cast<int64_t>(bytes.size()) * 1040)
            << entry.path().filename();
      }
    }
  }
}

// ---- files written by hand ----

void Put16(std::vector<uint8_t>& b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// An 8-bit palette BMP with the given info header size, a gap before the pixel data
// and the given height sign. Pixel (x, y) has palette index x + 2 * y.
std::vector<uint8_t> PaletteBmp(int headerSize, int gap, bool topDown, uint32_t coloursUsed = 4,
                                uint32_t compression = 0, int width = 2, int height = 2) {
  std::vector<uint8_t> b = {'B', 'M'};
  const uint32_t offset = 14 + headerSize + coloursUsed * 4 + gap;
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, headerSize);
  Put32(b, uint32_t(width));
  Put32(b, uint32_t(topDown ? -height : height));
  Put16(b, 1);
  Put16(b, 8);
  Put32(b, compression);
  for (int i = 0; i < 3; ++i) Put32(b, 0);
  Put32(b, coloursUsed);
  Put32(b, 0);
  b.resize(14 + headerSize, 0);
  for (uint32_t i = 0; i < coloursUsed && i < 256; ++i) Put32(b, 0x00101010u * (i + 1));  // blue, green, red
  b.resize(b.size() + gap, 0xEE);
  for (int r = 0; r < std::min(height, 2); ++r) {
    const int row = topDown ? r : height - 1 - r;
    for (int x = 0; x < 4; ++x) b.push_back(x < width ? uint8_t(x + 2 * row) : 0);
  }
  return b;
}

TEST(LoaderBmp, HonoursDataOffsetHeaderSizeAndRowOrder) {
  InitPixmapModule();
  struct Case {
    int headerSize, gap;
    bool topDown;
  } cases[] = {{40, 0, false}, {40, 6, false}, {40, 0, true}, {108, 0, false}, {124, 10, true}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = PaletteBmp(c.headerSize, c.gap, c.topDown);
    TPixmapPtr p = OpenPixmap(TRamStream::FromBytes(bytes));
    ASSERT_NE(p, nullptr) << "header " << c.headerSize << " gap " << c.gap << " top-down " << c.topDown;
    EXPECT_EQ(p->format, PIXFMT_BGR888);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        EXPECT_EQ(p->ReadPixel(x, y), 0xFF000000u | 0x101010u * uint32_t(x + 2 * y + 1))
            << "header " << c.headerSize << " gap " << c.gap << " top-down " << c.topDown << " at " << x << "," << y;
  }
}

TEST(LoaderBmp, RefusesWhatItCannotRead) {
  InitPixmapModule();
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"more colours than the palette holds", PaletteBmp(40, 0, false, 300)},
      {"run-length compression", PaletteBmp(40, 0, false, 4, 1)},
      {"huge width", PaletteBmp(40, 0, false, 4, 0, 100000, 2)},
      {"huge height", PaletteBmp(40, 0, true, 4, 0, 2, 1 << 30)},
      {"sides beyond the data", PaletteBmp(40, 0, false, 4, 0, 3000, 3000)},
      {"zero width", PaletteBmp(40, 0, false, 4, 0, 0, 2)},
      {"core header", PaletteBmp(12, 0, false)},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenPixmap(TRamStream::FromBytes(c.bytes)), nullptr) << c.what;
}

// A TGA header followed by raw or run-length pixel data.
std::vector<uint8_t> Tga(int type, int bits, int width, int height, int descriptor, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {0, 0, uint8_t(type), 0, 0, 0, 0, 0};
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, width);
  Put16(b, height);
  b.push_back(uint8_t(bits));
  b.push_back(uint8_t(descriptor));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(LoaderTga, PixelFormatsOrientationAndRunLength) {
  InitPixmapModule();
  // 2 x 2 in four encodings; stored rows bottom-up unless the descriptor's bit 5 is set.
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    int format;
    uint32_t topLeft, topRight, bottomLeft, bottomRight;
  } cases[] = {
      {"24-bit bottom-up", Tga(2, 24, 2, 2, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), PIXFMT_RGB888,
       0xFF090807u, 0xFF0C0B0Au, 0xFF030201u, 0xFF060504u},
      {"24-bit top-down", Tga(2, 24, 2, 2, 0x20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), PIXFMT_RGB888,
       0xFF030201u, 0xFF060504u, 0xFF090807u, 0xFF0C0B0Au},
      {"32-bit top-down", Tga(2, 32, 2, 2, 0x28, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
       PIXFMT_RGBA8888, 0x04030201u, 0x08070605u, 0x0C0B0A09u, 0x100F0E0Du},
      // 16 bits: 0x7C00 is red (alpha 255), 0x801F blue with bit 15 set (alpha 0).
      {"16-bit", Tga(2, 16, 2, 2, 0, {0x00, 0x7C, 0x1F, 0x80, 0xE0, 0x03, 0x00, 0x00}), PIXFMT_RGBA8888,
       0xFF00F800u, 0xFF000000u, 0xFFF80000u, 0x000000F8u},
      // A run of two reds (bottom row), then two literal pixels, green and blue.
      {"15-bit run-length", Tga(10, 15, 2, 2, 0, {0x81, 0x00, 0x7C, 0x01, 0xE0, 0x03, 0x1F, 0x00}), PIXFMT_RGB888,
       0xFF00F800u, 0xFF0000F8u, 0xFFF80000u, 0xFFF80000u},
      // One run of four covers both rows: a packet may run past the end of a row.
      {"24-bit run across rows", Tga(10, 24, 2, 2, 0, {0x83, 30, 20, 10}), PIXFMT_RGB888, 0xFF0A141Eu,
       0xFF0A141Eu, 0xFF0A141Eu, 0xFF0A141Eu},
  };
  for (const Case& c : cases) {
    TPixmapPtr p = OpenPixmap(TRamStream::FromBytes(c.file));
    ASSERT_NE(p, nullptr) << c.what;
    EXPECT_EQ(p->format, c.format) << c.what;
    EXPECT_EQ(p->ReadPixel(0, 0), c.topLeft) << c.what;
    EXPECT_EQ(p->ReadPixel(1, 0), c.topRight) << c.what;
    EXPECT_EQ(p->ReadPixel(0, 1), c.bottomLeft) << c.what;
    EXPECT_EQ(p->ReadPixel(1, 1), c.bottomRight) << c.what;
  }
}

TEST(LoaderTga, RefusesUnsupportedAndOversized) {
  InitPixmapModule();
  const std::vector<uint8_t> px(64, 0);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {
      {"colour-mapped", Tga(1, 24, 2, 2, 0, px)},
      {"grey", Tga(3, 8, 2, 2, 0, px)},
      {"8 bits", Tga(2, 8, 2, 2, 0, px)},
      {"wider than 4096", Tga(2, 24, 4097, 1, 0, px)},
      {"zero height", Tga(2, 24, 2, 0, 0, px)},
      {"raw data shorter than the image", Tga(2, 32, 4000, 4000, 0, px)},
      {"run-length data shorter than the image", Tga(10, 32, 4000, 4000, 0, px)},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenPixmap(TRamStream::FromBytes(c.file)), nullptr) << c.what;
}

// A minimal PNG: signature, IHDR with the given size, and nothing else.
std::vector<uint8_t> PngHeaderOnly(uint32_t width, uint32_t height) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> chunk = {'I', 'H', 'D', 'R'};
  for (uint32_t v : {width, height})
    for (int i = 3; i >= 0; --i) chunk.push_back(uint8_t(v >> (8 * i)));
  chunk.insert(chunk.end(), {8, 6, 0, 0, 0});
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(13u >> (8 * i)));
  b.insert(b.end(), chunk.begin(), chunk.end());
  const uint32_t crc = crc32(0, chunk.data(), static_cast<uInt>(chunk.size()));
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(crc >> (8 * i)));
  return b;
}

// A whole PNG: signature, IHDR, one IDAT of the given unfiltered rows, IEND.
std::vector<uint8_t> Png(uint32_t width, uint32_t height, int bitDepth, int colourType,
                         const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&b](const char* tag, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c(tag, tag + 4);
    c.insert(c.end(), data.begin(), data.end());
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(data.size() >> (8 * i)));
    b.insert(b.end(), c.begin(), c.end());
    const uint32_t crc = crc32(0, c.data(), static_cast<uInt>(c.size()));
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(crc >> (8 * i)));
  };
  std::vector<uint8_t> ihdr;
  for (uint32_t v : {width, height})
    for (int i = 3; i >= 0; --i) ihdr.push_back(uint8_t(v >> (8 * i)));
  ihdr.insert(ihdr.end(), {uint8_t(bitDepth), uint8_t(colourType), 0, 0, 0});
  chunk("IHDR", ihdr);
  std::vector<uint8_t> raw;
  for (const auto& row : rows) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), row.begin(), row.end());
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(size);
  EXPECT_EQ(compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
  packed.resize(size);
  chunk("IDAT", packed);
  chunk("IEND", {});
  return b;
}

// Every 16-bit sample value becomes the nearest 8-bit one, (v * 255 + 32767) / 65535, in
// grey and in colour with alpha.
TEST(LoaderPng, SixteenBitSamplesAreRounded) {
  // Pixel p of 256 x 256 holds p in grey, and p shifted by a different amount in each
  // colour channel: every channel sees every value once.
  auto sample = [](int p, int channel) { return (p + channel * 16411) % 65536; };
  std::vector<std::vector<uint8_t>> grey(256), rgba(256);
  for (int p = 0; p < 65536; ++p) {
    grey[p >> 8].insert(grey[p >> 8].end(), {uint8_t(p >> 8), uint8_t(p)});
    for (int ch = 0; ch < 4; ++ch) {
      const int v = sample(p, ch);
      rgba[p >> 8].insert(rgba[p >> 8].end(), {uint8_t(v >> 8), uint8_t(v)});
    }
  }
  auto rounded = [](int v) { return (v * 255 + 32767) / 65535; };
  TPixmapPtr g = OpenPixmap(TRamStream::FromBytes(Png(256, 256, 16, 0, grey)));
  TPixmapPtr c = OpenPixmap(TRamStream::FromBytes(Png(256, 256, 16, 6, rgba)));
  ASSERT_NE(g, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(g->format, PIXFMT_I8);
  EXPECT_EQ(c->format, PIXFMT_RGBA8888);
  int bad = 0;
  for (int p = 0; p < 65536; ++p) {
    const int x = p & 255, y = p >> 8;
    if (g->PixelPtr(x, y)[0] != rounded(p) && ++bad <= 5)
      ADD_FAILURE() << "grey " << p << ": " << int(g->PixelPtr(x, y)[0]) << " instead of " << rounded(p);
    for (int ch = 0; ch < 4; ++ch) {
      const int v = sample(p, ch);
      if (c->PixelPtr(x, y)[ch] != rounded(v) && ++bad <= 5)
        ADD_FAILURE() << "channel " << ch << " " << v << ": " << int(c->PixelPtr(x, y)[ch]) << " instead of "
                      << rounded(v);
    }
  }
  EXPECT_EQ(bad, 0);
}

// A baseline JPEG start: SOI and a frame header with the given size, then EOI.
std::vector<uint8_t> JpegHeaderOnly(int width, int height) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8};
  b.push_back(uint8_t(height >> 8));
  b.push_back(uint8_t(height));
  b.push_back(uint8_t(width >> 8));
  b.push_back(uint8_t(width));
  b.insert(b.end(), {1, 1, 0x11, 0, 0xFF, 0xD9});
  return b;
}

// A file kept under fuzz/regressions/.
std::vector<uint8_t> Regression(const std::string& name) {
  std::ifstream in(std::string(ORMIX_SOURCE_DIR) + "/fuzz/regressions/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(LoaderMalformed, HugeOrEmptyImagesAreRefused) {
  InitPixmapModule();
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  } cases[] = {
      {"PNG 20000 x 20000", PngHeaderOnly(20000, 20000)},
      {"PNG 16000 x 16000 with no data", PngHeaderOnly(16000, 16000)},
      {"PNG 1 x 1 with no data", PngHeaderOnly(1, 1)},
      {"JPEG 60000 x 60000", JpegHeaderOnly(60000, 60000)},
      {"JPEG 8 x 8 with no scan", JpegHeaderOnly(8, 8)},
      {"JPEG 16384 x 5400 in 66 KB", Regression("pixmap/huge-claim.jpg")},
      {"valid JPEG 8200 x 4100, above the pixel limit", Regression("pixmap/over-pixel-limit.jpg")},
      {"empty", {}},
      {"two bytes", {'B', 'M'}},
      {"noise", std::vector<uint8_t>(300, 0x5A)},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenPixmap(TRamStream::FromBytes(c.file)), nullptr) << c.what;
}

TEST(LoaderChain, OrderAndUrls) {
  InitPixmapModule();
  InitPixmapModule();  // idempotent: the chain is not doubled
  std::vector<std::string> names;
  for (TPixmapLoaderPtr l = TPixmapLoader::First(); l; l = l->_succ) {
    if (dynamic_cast<TPixmapLoaderTGA*>(l.get())) names.push_back("TGA");
    else if (dynamic_cast<TPixmapLoaderPNG*>(l.get())) names.push_back("PNG");
    else if (dynamic_cast<TPixmapLoaderJPG*>(l.get())) names.push_back("JPG");
    else if (dynamic_cast<TPixmapLoaderBMP*>(l.get())) names.push_back("BMP");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"TGA", "PNG", "JPG", "BMP"}));
  EXPECT_EQ(OpenPixmap("/nonexistent/nothing.png"), nullptr);
  EXPECT_EQ(OpenPixmap("incbin::no-such-resource.png"), nullptr);

  // A resource embedded in the program loads through the incbin protocol, and a stream
  // opened by the caller stays open for it.
  static const std::vector<uint8_t> bmp = PaletteBmp(40, 0, true);
  RegisterIncbin("pixmap_test.bmp", bmp.data(), bmp.size());
  TPixmapPtr p = OpenPixmap("incbin::pixmap_test.bmp");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ReadPixel(1, 1), 0xFF404040u);
  auto ram = TRamStream::FromBytes(bmp);
  ASSERT_NE(OpenPixmap(ram), nullptr);
  EXPECT_EQ(ram->Seek(0), 0);
  EXPECT_NE(OpenPixmap(ram), nullptr);
}

// A loader placed at the front of the chain that fails in a chosen way.
class TFailingLoader : public TPixmapLoader {
 public:
  enum { kNone, kStream, kOther } mode = kNone;
  int calls = 0;
  TPixmapPtr LoadPixmap(const TStreamPtr& stream) override {
    ++calls;
    uint8_t b[4];
    stream->Read(b, 4);  // moves the position: the next loader must start from the beginning
    if (mode == kStream) throw TStreamReadException();
    if (mode == kOther) throw std::logic_error("loader bug");
    return nullptr;
  }
};

TEST(LoaderChain, StreamFailuresAreRefusalsOtherErrorsPropagate) {
  InitPixmapModule();
  auto failing = std::make_shared<TFailingLoader>();
  TPixmapLoader::Add(failing);
  const std::vector<uint8_t> bmp = PaletteBmp(40, 0, false);
  failing->mode = TFailingLoader::kNone;
  EXPECT_NE(OpenPixmap(TRamStream::FromBytes(bmp)), nullptr);
  failing->mode = TFailingLoader::kStream;
  EXPECT_NE(OpenPixmap(TRamStream::FromBytes(bmp)), nullptr);
  failing->mode = TFailingLoader::kOther;
  EXPECT_THROW(OpenPixmap(TRamStream::FromBytes(bmp)), std::logic_error);
  failing->mode = TFailingLoader::kNone;
  EXPECT_EQ(failing->calls, 3);
}

// ---- writers ----

TEST(PixmapWriters, PngRoundTripIsExact) {
  InitPixmapModule();
  struct Case {
    int format;
    int expectedFormat;
  } cases[] = {{PIXFMT_RGBA8888, PIXFMT_RGBA8888}, {PIXFMT_BGRA8888, PIXFMT_RGBA8888},
               {PIXFMT_RGB888, PIXFMT_RGB888},     {PIXFMT_BGR888, PIXFMT_RGB888},
               {PIXFMT_I8, PIXFMT_I8},             {PIXFMT_A8, PIXFMT_RGBA8888}};
  for (const Case& c : cases) {
    TPixmapPtr p = NewPixmap(37, 23, c.format);
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x)
        p->WritePixel(x, y, (uint32_t(x * 7 + y) << 24) | (uint32_t(x * 5) << 16) | (uint32_t(y * 11) << 8) | uint32_t(x ^ y));
    for (int level : {-3, 0, 6, 12}) {
      auto out = TRamStream::FromBytes(std::vector<uint8_t>(64 * 1024), 1, 1);
      ASSERT_TRUE(SavePixmapPNG(p, out, level)) << PixelFormatName(c.format);
      out->Seek(0);
      TPixmapPtr back = OpenPixmap(out);
      ASSERT_NE(back, nullptr) << PixelFormatName(c.format) << " level " << level;
      EXPECT_EQ(back->format, c.expectedFormat);
      for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(back->ReadPixel(x, y), p->ReadPixel(x, y)) << x << "," << y;
    }
  }
}

TEST(PixmapWriters, JpegRoundTripIsClose) {
  InitPixmapModule();
  TPixmapPtr p = NewPixmap(64, 48, PIXFMT_RGBA8888);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) p->WritePixel(x, y, 0xFF000000u | (uint32_t(x * 4) << 16) | (uint32_t(y * 5) << 8) | 128u);
  auto out = TRamStream::FromBytes(std::vector<uint8_t>(64 * 1024), 1, 1);
  ASSERT_TRUE(SavePixmapJPeg(p, out, 95));
  out->Seek(0);
  TPixmapPtr back = OpenPixmap(out);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->format, PIXFMT_RGB888);
  ASSERT_EQ(back->width, 64);
  ASSERT_EQ(back->height, 48);
  long total = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint32_t a = p->ReadPixel(x, y), b = back->ReadPixel(x, y);
      for (int s = 0; s < 24; s += 8) total += std::abs(int((a >> s) & 255) - int((b >> s) & 255));
    }
  }
  EXPECT_LT(static_cast<double>(total) / (64 * 48 * 3), 2.0);
}

TEST(PixmapWriters, UnwritableTargetsFail) {
  InitPixmapModule();
  TPixmapPtr p = NewPixmap(4, 4, PIXFMT_RGB888);
  p->ClearPixels(0);
  EXPECT_FALSE(SavePixmapPNG(p, ToText("/nonexistent/dir/x.png")));
  EXPECT_FALSE(SavePixmapJPeg(p, ToText("/nonexistent/dir/x.jpg")));
  // A stream that fills up partway.
  auto small = TRamStream::FromBytes(std::vector<uint8_t>(20), 1, 1);
  EXPECT_FALSE(SavePixmapPNG(p, small));
  auto small2 = TRamStream::FromBytes(std::vector<uint8_t>(20), 1, 1);
  EXPECT_FALSE(SavePixmapJPeg(p, small2));
}

}  // namespace
