// Pixmap creation, pixel conversion and the pixmap operations.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/stream.h>

namespace {

// Fills a pixmap so that every pixel differs: ARGB from its position.
void FillPattern(const TPixmapPtr& p) {
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x)
      p->WritePixel(x, y, 0x80000000u | (uint32_t(x * 40 + 1) << 16) | (uint32_t(y * 40 + 2) << 8) | uint32_t(x + y + 3));
}

TEST(Pixmap, PitchFollowsAlignment) {
  struct Case {
    int w, h, format, align, pitch;
  } cases[] = {
      {3, 2, PIXFMT_RGB888, 4, 12},   {3, 2, PIXFMT_RGBA8888, 4, 12}, {3, 2, PIXFMT_I8, 4, 4},
      {3, 2, PIXFMT_I8, 1, 3},        {5, 1, PIXFMT_BGR888, 8, 16},   {0, 0, PIXFMT_A8, 4, 0},
  };
  for (const Case& c : cases) {
    TPixmapPtr p = NewPixmap(c.w, c.h, c.format, c.align);
    EXPECT_EQ(p->pitch, c.pitch) << c.w << "x" << c.h << " format " << c.format << " align " << c.align;
    EXPECT_EQ(p->capacity, c.pitch * c.h);
    EXPECT_EQ(p->format, c.format);
    EXPECT_EQ(PixmapPixelAddress(p, 1, 1) - p->pixels, c.pitch + PixelFormatBytes(c.format));
  }
}

TEST(Pixmap, CreateRefusesInvalidRequests) {
  EXPECT_THROW(NewPixmap(4, 4, 0), TRuntimeException);
  EXPECT_THROW(NewPixmap(4, 4, 13), TRuntimeException);
  EXPECT_THROW(NewPixmap(-1, 4, PIXFMT_I8), TRuntimeException);
  EXPECT_THROW(NewPixmap(16385, 1, PIXFMT_I8), TRuntimeException);
  EXPECT_THROW(NewPixmap(4, 4, PIXFMT_I8, 0), TRuntimeException);
}

TEST(Pixmap, ConvertPixelRowThroughEveryFormat) {
  // Source pixel (red 10, green 20, blue 31, alpha 128) in RGBA8888.
  const uint8_t rgba[4] = {10, 20, 31, 128};
  struct Case {
    int format;
    std::vector<uint8_t> bytes;  // the pixel in that format
    uint32_t back;               // read back as ARGB
  } cases[] = {
      {PIXFMT_I8, {20}, 0xFF141414u},  // (10 + 20 + 31) / 3 = 20
      {PIXFMT_A8, {128}, 0x80FFFFFFu},
      {PIXFMT_BGR888, {31, 20, 10}, 0xFF0A141Fu},
      {PIXFMT_RGB888, {10, 20, 31}, 0xFF0A141Fu},
      {PIXFMT_BGRA8888, {31, 20, 10, 128}, 0x800A141Fu},
      {PIXFMT_RGBA8888, {10, 20, 31, 128}, 0x800A141Fu},
  };
  for (const Case& c : cases) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ConvertPixelRow(rgba, PIXFMT_RGBA8888, out, c.format, 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + c.bytes.size()), c.bytes) << PixelFormatName(c.format);
    if (c.bytes.size() < 4) {
      EXPECT_EQ(out[c.bytes.size()], 0xEE) << "wrote past the pixel";
    }
    TPixmapPtr p = NewStaticPixmap(out, 1, 1, 4, c.format);
    EXPECT_EQ(p->ReadPixel(0, 0), c.back) << PixelFormatName(c.format);
    // Every other format converts through RGBA the same way.
    for (const Case& d : cases) {
      uint8_t direct[4] = {}, via[4] = {}, tmp[4] = {};
      ConvertPixelRow(out, c.format, direct, d.format, 1);
      ConvertPixelRow(out, c.format, tmp, PIXFMT_RGBA8888, 1);
      ConvertPixelRow(tmp, PIXFMT_RGBA8888, via, d.format, 1);
      EXPECT_EQ(0, std::memcmp(direct, via, PixelFormatBytes(d.format)))
          << PixelFormatName(c.format) << " -> " << PixelFormatName(d.format);
    }
  }
}

TEST(Pixmap, LongRowsConvertCompletely) {
  // More pixels than the conversion's stack chunk.
  const int n = 1000;
  std::vector<uint8_t> bgr(n * 3), rgb(n * 3);
  for (int i = 0; i < n; ++i) { bgr[i * 3] = uint8_t(i); bgr[i * 3 + 1] = uint8_t(i >> 8); bgr[i * 3 + 2] = 7; }
  ConvertPixelRow(bgr.data(), PIXFMT_BGR888, rgb.data(), PIXFMT_RGB888, n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(rgb[i * 3], 7);
    ASSERT_EQ(rgb[i * 3 + 1], uint8_t(i >> 8));
    ASSERT_EQ(rgb[i * 3 + 2], uint8_t(i));
  }
}

TEST(Pixmap, ReadAndWriteSinglePixels) {
  TPixmapPtr a = NewPixmap(2, 2, PIXFMT_A8);
  a->pixels[0] = 0x80;
  EXPECT_EQ(a->ReadPixel(0, 0), 0x80FFFFFFu);
  TPixmapPtr i = NewPixmap(2, 2, PIXFMT_I8);
  i->pixels[0] = 0x80;
  EXPECT_EQ(i->ReadPixel(0, 0), 0xFF808080u);
  TPixmapPtr bgra = NewPixmap(2, 2, PIXFMT_BGRA8888);
  bgra->WritePixel(1, 1, 0x11223344u);
  EXPECT_EQ(bgra->PixelPtr(1, 1)[0], 0x44);
  EXPECT_EQ(bgra->PixelPtr(1, 1)[3], 0x11);
  EXPECT_EQ(ReadPixmapPixel(bgra, 1, 1), 0x11223344u);
  // Outside the pixmap: reads 0, writes nothing.
  EXPECT_EQ(bgra->ReadPixel(2, 0), 0u);
  EXPECT_EQ(bgra->ReadPixel(0, -1), 0u);
  bgra->WritePixel(-1, 0, 0xFFFFFFFFu);
  bgra->WritePixel(0, 2, 0xFFFFFFFFu);
}

TEST(Pixmap, WindowSharesMemoryAndKeepsParentAlive) {
  TPixmapPtr parent = NewPixmap(8, 8, PIXFMT_RGBA8888);
  parent->ClearPixels(0);
  TPixmapPtr w = PixmapSubWindow(parent, 2, 3, 4, 2);
  EXPECT_EQ(w->width, 4);
  EXPECT_EQ(w->height, 2);
  EXPECT_EQ(w->pitch, parent->pitch);
  EXPECT_EQ(w->capacity, -1);
  EXPECT_EQ(w->pixels, parent->PixelPtr(2, 3));
  w->WritePixel(1, 1, 0xFF123456u);
  EXPECT_EQ(parent->ReadPixel(3, 4), 0xFF123456u);
  // A window reaching outside is clipped to the parent.
  TPixmapPtr edge = parent->Window(6, 6, 5, 5);
  EXPECT_EQ(edge->width, 2);
  EXPECT_EQ(edge->height, 2);
  TPixmap* raw = parent.get();
  parent.reset();
  EXPECT_EQ(w->_source.get(), static_cast<void*>(raw));
  EXPECT_EQ(w->ReadPixel(1, 1), 0xFF123456u);  // still valid memory
}

TEST(Pixmap, ClearPixelsStaysInsideAWindow) {
  TPixmapPtr parent = NewPixmap(6, 4, PIXFMT_RGB888);
  parent->ClearPixels(0xFF010203u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(parent->ReadPixel(x, y), 0xFF010203u);
  TPixmapPtr w = parent->Window(1, 1, 3, 2);
  w->ClearPixels(0);
  w = parent->Window(4, 1, 2, 2);
  w->ClearPixels(0xFFAABBCCu);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      uint32_t want = 0xFF010203u;
      if (y >= 1 && y <= 2 && x >= 1 && x <= 3) want = 0xFF000000u;
      if (y >= 1 && y <= 2 && x >= 4) want = 0xFFAABBCCu;
      EXPECT_EQ(parent->ReadPixel(x, y), want) << x << "," << y;
    }
  }
  TPixmapPtr a8 = NewPixmap(3, 3, PIXFMT_A8);
  a8->ClearPixels(0x7F000000u);
  EXPECT_EQ(a8->pixels[a8->pitch * 2 + 2], 0x7F);
}

TEST(Pixmap, CopyConvertAndPaste) {
  TPixmapPtr src = NewPixmap(5, 3, PIXFMT_BGRA8888, 16);
  FillPattern(src);
  TPixmapPtr copy = DuplicatePixmap(src);
  EXPECT_EQ(copy->pitch, 20);
  EXPECT_NE(copy->pixels, src->pixels);
  TPixmapPtr rgb = ReformatPixmap(src, PIXFMT_RGB888);
  EXPECT_EQ(rgb->format, PIXFMT_RGB888);
  EXPECT_EQ(rgb->pitch, 16);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(copy->ReadPixel(x, y), src->ReadPixel(x, y));
      EXPECT_EQ(rgb->ReadPixel(x, y), src->ReadPixel(x, y) | 0xFF000000u);
    }
  }
  // Pasting clips at every edge and converts to the destination's format.
  struct Case {
    int x, y;
  } cases[] = {{0, 0}, {-2, -1}, {3, 2}, {-5, 0}, {6, 0}, {1, -3}};
  for (const Case& c : cases) {
    TPixmapPtr dst = NewPixmap(6, 4, PIXFMT_RGBA8888);
    dst->ClearPixels(0);
    dst->Paste(*src, c.x, c.y);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) {
        const int sx = x - c.x, sy = y - c.y;
        const bool inside = sx >= 0 && sy >= 0 && sx < 5 && sy < 3;
        EXPECT_EQ(dst->ReadPixel(x, y), inside ? src->ReadPixel(sx, sy) : 0u)
            << "paste at " << c.x << "," << c.y << " pixel " << x << "," << y;
      }
    }
  }
}

TEST(Pixmap, Mirroring) {
  TPixmapPtr p = NewPixmap(3, 2, PIXFMT_RGB888);
  FillPattern(p);
  TPixmapPtr mx = MirrorPixmapX(p), my = MirrorPixmapY(p);
  EXPECT_EQ(mx->format, PIXFMT_RGB888);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(mx->ReadPixel(x, y), p->ReadPixel(2 - x, y));
      EXPECT_EQ(my->ReadPixel(x, y), p->ReadPixel(x, 1 - y));
    }
  }
}

TEST(Pixmap, ScaleSamplesBilinearly) {
  TPixmapPtr one = NewPixmap(1, 1, PIXFMT_BGR888);
  one->WritePixel(0, 0, 0xFF102030u);
  TPixmapPtr big = ScalePixmap(one, 4, 4);
  EXPECT_EQ(big->format, PIXFMT_BGR888);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(big->ReadPixel(x, y), 0xFF102030u);

  // Two grey levels 0 and 100 stretched to four: the ends clamp, the middle blends.
  TPixmapPtr two = NewPixmap(2, 1, PIXFMT_I8);
  two->pixels[0] = 0;
  two->pixels[1] = 100;
  TPixmapPtr wide = ScalePixmap(two, 4, 1);
  EXPECT_EQ(wide->format, PIXFMT_I8);
  const uint8_t want[4] = {0, 25, 75, 100};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(wide->pixels[x], want[x]) << x;

  // Halving averages pairs; alpha is interpolated like the colours.
  TPixmapPtr col = NewPixmap(1, 4, PIXFMT_RGBA8888);
  const uint32_t src[4] = {0x00000000u, 0x64646464u, 0xC8C8C8C8u, 0xFFFFFFFFu};
  for (int y = 0; y < 4; ++y) col->WritePixel(0, y, src[y]);
  TPixmapPtr half = ScalePixmap(col, 1, 2);
  EXPECT_EQ(half->ReadPixel(0, 0), 0x32323232u);
  EXPECT_EQ(half->ReadPixel(0, 1), 0xE3E3E3E3u);  // (200 + 255) / 2 truncated
}

TEST(Pixmap, KeyOutColorAveragesOpaqueNeighbours) {
  TPixmapPtr p = NewPixmap(2, 1, PIXFMT_RGB888);
  p->WritePixel(0, 0, 0xFFFF00FFu);
  p->WritePixel(1, 0, 0xFF0A141Eu);
  TPixmapPtr k = KeyOutColor(p, 255, 0, 255);
  EXPECT_EQ(k->format, PIXFMT_RGBA8888);
  EXPECT_EQ(k->ReadPixel(0, 0), 0x000A141Eu);
  EXPECT_EQ(k->ReadPixel(1, 0), 0xFF0A141Eu);

  // A keyed centre takes the mean of its eight neighbours that are not keyed; keyed
  // neighbours do not count, and pixels with their own alpha become opaque.
  TPixmapPtr q = NewPixmap(3, 3, PIXFMT_RGBA8888);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) q->WritePixel(x, y, 0x10000000u | uint32_t(30 * (y * 3 + x)) << 16);
  q->WritePixel(1, 1, 0xFFFF00FFu);
  q->WritePixel(0, 0, 0xFFFF00FFu);
  TPixmapPtr kq = KeyOutColor(q, 255, 0, 255);
  // Neighbours of (1, 1) without (0, 0): red 30, 60, 90, 150, 180, 210, 240 -> 960 / 7 = 137.
  EXPECT_EQ(kq->ReadPixel(1, 1), uint32_t(137) << 16);
  // (0, 0): neighbours (1, 0), (0, 1) -> (30 + 90) / 2 = 60.
  EXPECT_EQ(kq->ReadPixel(0, 0), uint32_t(60) << 16);
  EXPECT_EQ(kq->ReadPixel(2, 2), 0xFF000000u | uint32_t(240) << 16);

  TPixmapPtr all = NewPixmap(2, 2, PIXFMT_BGR888);
  all->ClearPixels(0xFFFF00FFu);
  TPixmapPtr ka = KeyOutColor(all, 255, 0, 255);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(ka->ReadPixel(x, y), 0u);
}

TEST(Pixmap, SerialisesRowsWithoutPadding) {
  TPixmapPtr p = NewPixmap(3, 2, PIXFMT_RGB888);
  FillPattern(p);
  auto ram = TRamStream::FromBytes(std::vector<uint8_t>(256), 1, 1);
  p->WriteData(*ram);
  EXPECT_EQ(ram->Pos(), 12 + 3 * 3 * 2);
  ram->Seek(0);
  EXPECT_EQ(ram->ReadInt(), 3);
  EXPECT_EQ(ram->ReadInt(), 2);
  EXPECT_EQ(ram->ReadInt(), PIXFMT_RGB888);
  ram->Seek(0);
  TPixmapPtr back = TPixmap::ReadData(*ram);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->pitch, 12);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(back->ReadPixel(x, y), p->ReadPixel(x, y));

  // A header that promises more rows than the stream holds is refused.
  std::vector<uint8_t> bytes(12 + 4);
  const int32_t head[3] = {1000, 1000, PIXFMT_RGBA8888};
  std::memcpy(bytes.data(), head, 12);
  auto shortStream = TRamStream::FromBytes(bytes);
  EXPECT_EQ(TPixmap::ReadData(*shortStream), nullptr);
  const int32_t badFormat[3] = {1, 1, 13};
  std::memcpy(bytes.data(), badFormat, 12);
  auto badStream = TRamStream::FromBytes(bytes);
  EXPECT_EQ(TPixmap::ReadData(*badStream), nullptr);
}

// Fills every byte of every row (not the padding) so that pixmaps of any format differ.
void FillBytes(const TPixmapPtr& p, int seed) {
  const int rowBytes = p->width * p->BytesPerPixel();
  for (int y = 0; y < p->height; ++y)
    for (int i = 0; i < rowBytes; ++i) p->PixelPtr(0, y)[i] = uint8_t(seed + 7 * y + 3 * i);
}

// Same size, format and row bytes (pitches may differ).
::testing::AssertionResult SamePixmap(const TPixmapPtr& a, const TPixmapPtr& b) {
  if (!a || !b) return ::testing::AssertionFailure() << "null pixmap";
  if (a->width != b->width || a->height != b->height || a->format != b->format)
    return ::testing::AssertionFailure() << a->width << "x" << a->height << " format " << a->format << " vs "
                                         << b->width << "x" << b->height << " format " << b->format;
  const size_t rowBytes = size_t(a->width) * a->BytesPerPixel();
  for (int y = 0; y < a->height; ++y)
    if (std::memcmp(a->PixelPtr(0, y), b->PixelPtr(0, y), rowBytes) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  return ::testing::AssertionSuccess();
}

TEST(Pixmap, SingleChannelFormatsAreOneByteEach) {
  struct Case {
    int format;
    const char* name;
    int alphaBits;
  } cases[] = {
      {PIXFMT_R8, "PIXFMT_R8", 0},         {PIXFMT_G8, "PIXFMT_G8", 0},
      {PIXFMT_B8, "PIXFMT_B8", 0},         {PIXFMT_ALPHA8, "PIXFMT_ALPHA8", 8},
      {PIXFMT_USER8A, "PIXFMT_USER8A", 0}, {PIXFMT_USER8B, "PIXFMT_USER8B", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PixelFormatBytes(c.format), 1);
    EXPECT_STREQ(PixelFormatName(c.format), c.name);
    EXPECT_EQ(PixelFormatAlphaBits(c.format), c.alphaBits) << c.name;
    TPixmapPtr p = NewPixmap(3, 2, c.format);
    EXPECT_EQ(p->pitch, 4) << c.name;
    FillBytes(p, c.format);
    EXPECT_TRUE(SamePixmap(DuplicatePixmap(p), p)) << c.name;
    TPixmapPtr mirrored = MirrorPixmapX(p);
    EXPECT_EQ(mirrored->PixelPtr(0, 1)[0], p->PixelPtr(2, 1)[0]) << c.name;
    PixmapSubWindow(p, 1, 1, 1, 1)->PixelPtr(0, 0)[0] = 99;
    EXPECT_EQ(p->PixelPtr(1, 1)[0], 99) << c.name;
    p->ClearPixels(0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(p->PixelPtr(x, y)[0], 0) << c.name;
  }
}

TEST(Pixmap, SingleChannelConversionsKeepTheirMeaning) {
  struct Case {
    int from;
    std::vector<uint8_t> pixel;
    int to;
    std::vector<uint8_t> expected;
  } cases[] = {
      {PIXFMT_RGBA8888, {10, 20, 31, 128}, PIXFMT_R8, {10}},
      {PIXFMT_RGBA8888, {10, 20, 31, 128}, PIXFMT_G8, {20}},
      {PIXFMT_RGBA8888, {10, 20, 31, 128}, PIXFMT_B8, {31}},
      {PIXFMT_RGBA8888, {10, 20, 31, 128}, PIXFMT_ALPHA8, {128}},
      {PIXFMT_BGR888, {3, 2, 1}, PIXFMT_B8, {3}},
      {PIXFMT_I8, {90}, PIXFMT_R8, {90}},
      {PIXFMT_A8, {77}, PIXFMT_R8, {255}},  // the colour of A8 is white
      {PIXFMT_A8, {77}, PIXFMT_ALPHA8, {77}},
      {PIXFMT_RGB888, {1, 2, 3}, PIXFMT_ALPHA8, {255}},  // opaque
      {PIXFMT_R8, {10}, PIXFMT_RGBA8888, {10, 0, 0, 255}},
      {PIXFMT_G8, {20}, PIXFMT_BGR888, {0, 20, 0}},
      {PIXFMT_B8, {31}, PIXFMT_RGB888, {0, 0, 31}},
      {PIXFMT_B8, {31}, PIXFMT_BGRA8888, {31, 0, 0, 255}},
      {PIXFMT_ALPHA8, {128}, PIXFMT_RGBA8888, {0, 0, 0, 128}},
      {PIXFMT_ALPHA8, {128}, PIXFMT_BGRA8888, {0, 0, 0, 128}},
      {PIXFMT_ALPHA8, {128}, PIXFMT_A8, {128}},
      {PIXFMT_USER8A, {42}, PIXFMT_USER8A, {42}},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(PixelFormatName(c.from)) + " -> " + PixelFormatName(c.to);
    EXPECT_TRUE(CanConvertPixels(c.from, c.to)) << what;
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ConvertPixelRow(c.pixel.data(), c.from, out, c.to, 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + c.expected.size()), c.expected) << what;
    std::vector<uint8_t> pixel = c.pixel;
    TPixmapPtr converted = NewStaticPixmap(pixel.data(), 1, 1, 4, c.from)->Convert(c.to);
    EXPECT_EQ(std::vector<uint8_t>(converted->pixels, converted->pixels + c.expected.size()), c.expected) << what;
  }
}

TEST(Pixmap, ConversionsWithoutMeaningAreRefused) {
  struct Case {
    int from, to;
  } cases[] = {
      {PIXFMT_R8, PIXFMT_I8},           {PIXFMT_R8, PIXFMT_A8},         {PIXFMT_R8, PIXFMT_G8},
      {PIXFMT_B8, PIXFMT_ALPHA8},       {PIXFMT_ALPHA8, PIXFMT_I8},     {PIXFMT_ALPHA8, PIXFMT_RGB888},
      {PIXFMT_ALPHA8, PIXFMT_R8},       {PIXFMT_USER8A, PIXFMT_RGBA8888}, {PIXFMT_RGBA8888, PIXFMT_USER8A},
      {PIXFMT_USER8A, PIXFMT_USER8B},   {PIXFMT_I8, PIXFMT_USER8B},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(PixelFormatName(c.from)) + " -> " + PixelFormatName(c.to);
    EXPECT_FALSE(CanConvertPixels(c.from, c.to)) << what;
    TPixmapPtr src = NewPixmap(2, 2, c.from);
    FillBytes(src, 5);
    try {
      src->Convert(c.to);
      ADD_FAILURE() << what << " converted";
    } catch (const TRuntimeException& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot convert ") + PixelFormatName(c.from) + " pixels to " +
                                           PixelFormatName(c.to));
    }
    uint8_t out[8] = {};
    EXPECT_THROW(ConvertPixelRow(src->pixels, c.from, out, c.to, 2), TRuntimeException) << what;
    EXPECT_EQ(out[0], 0) << what;
    TPixmapPtr dst = NewPixmap(2, 2, c.to);
    FillBytes(dst, 9);
    TPixmapPtr before = dst->Copy();
    EXPECT_THROW(dst->Paste(*src, 0, 0), TRuntimeException) << what;
    EXPECT_TRUE(SamePixmap(dst, before)) << what;
    // An empty pixmap is refused too: the format pair decides, not the pixel count.
    EXPECT_THROW(NewPixmap(0, 0, c.from)->Convert(c.to), TRuntimeException) << what;
  }
  EXPECT_FALSE(CanConvertPixels(0, PIXFMT_RGBA8888));
  EXPECT_FALSE(CanConvertPixels(PIXFMT_RGBA8888, 13));
}

TEST(Pixmap, SingleChannelPixelsReadWriteAndClearThroughARGB) {
  struct Case {
    int format;
    uint8_t byte;
    uint32_t read;      // ReadPixel of that byte
    uint32_t written;   // WritePixel / ClearPixels value
    uint8_t stored;     // the byte it leaves
  } cases[] = {
      {PIXFMT_R8, 10, 0xFF0A0000u, 0x11223344u, 0x22},
      {PIXFMT_G8, 10, 0xFF000A00u, 0x11223344u, 0x33},
      {PIXFMT_B8, 10, 0xFF00000Au, 0x11223344u, 0x44},
      {PIXFMT_ALPHA8, 10, 0x0A000000u, 0x11223344u, 0x11},
  };
  for (const Case& c : cases) {
    TPixmapPtr p = NewPixmap(2, 1, c.format);
    p->PixelPtr(0, 0)[0] = c.byte;
    EXPECT_EQ(p->ReadPixel(0, 0), c.read) << PixelFormatName(c.format);
    p->WritePixel(1, 0, c.written);
    EXPECT_EQ(p->PixelPtr(1, 0)[0], c.stored) << PixelFormatName(c.format);
    p->ClearPixels(c.written);
    EXPECT_EQ(p->PixelPtr(0, 0)[0], c.stored) << PixelFormatName(c.format);
  }
  for (int format : {PIXFMT_USER8A, PIXFMT_USER8B}) {
    TPixmapPtr p = NewPixmap(2, 1, format);
    FillBytes(p, 1);
    EXPECT_THROW(p->ReadPixel(0, 0), TRuntimeException);
    EXPECT_THROW(p->WritePixel(0, 0, 0xFFFFFFFFu), TRuntimeException);
    EXPECT_THROW(p->ClearPixels(0x01), TRuntimeException);
    EXPECT_EQ(p->PixelPtr(0, 0)[0], 1);
    p->ClearPixels(0);
    EXPECT_EQ(p->PixelPtr(1, 0)[0], 0);
    EXPECT_THROW(KeyOutColor(p, 0, 0, 0), TRuntimeException);
    // Scaling needs no colour: the bytes scale like grey levels.
    p->PixelPtr(0, 0)[0] = 0;
    p->PixelPtr(1, 0)[0] = 200;
    TPixmapPtr grey = NewPixmap(2, 1, PIXFMT_I8);
    std::memcpy(grey->pixels, p->pixels, 2);
    TPixmapPtr scaled = ScalePixmap(p, 5, 3);
    TPixmapPtr expected = ScalePixmap(grey, 5, 3);
    expected->format = format;
    EXPECT_TRUE(SamePixmap(scaled, expected)) << PixelFormatName(format);
  }
}

TEST(Pixmap, DataTypeWritesAndReadsBackEqual) {
  TDataType* type = PixmapDataType();
  EXPECT_EQ(ToUtf8(type->Tag()), "ZRK.Pixmap.TPixmap");
  for (int format = PIXFMT_I8; format <= PIXFMT_USER8B; ++format) {
    TPixmapPtr p = NewPixmap(3, 2, format, 8);  // padded rows: written without the padding
    FillBytes(p, format);
    EXPECT_EQ(p->DataType(), type);
    TBankPtr bank = NewBank();
    type->WriteObject(*OpenUrlStream(bank, 0, 1), *p);
    EXPECT_EQ(bank->size(), 12u + 3 * 2 * PixelFormatBytes(format));
    TDataPtr back = type->ReadObject(*OpenUrlStream(bank, 1, 0));
    EXPECT_TRUE(SamePixmap(std::dynamic_pointer_cast<TPixmap>(back), p)) << PixelFormatName(format);
  }
}

TEST(Pixmap, ReadCyclicObjectFillsAnExistingPixmap) {
  TDataType* type = PixmapDataType();
  TPixmapPtr source = NewPixmap(3, 2, PIXFMT_RGB888);
  FillBytes(source, 1);
  TBankPtr bank = NewBank();
  type->WriteObject(*OpenUrlStream(bank, 0, 1), *source);

  auto empty = std::make_shared<TPixmap>();  // made before its contents are known
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(bank, 1, 0), *empty), 1);
  EXPECT_TRUE(SamePixmap(empty, source));

  // A pixmap with pixels keeps its memory, so its windows see what was read.
  TPixmapPtr same = NewPixmap(3, 2, PIXFMT_RGB888);
  same->ClearPixels(0);
  TPixmapPtr window = same->Window(1, 1, 2, 1);
  uint8_t* memory = same->pixels;
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(bank, 1, 0), *same), 1);
  EXPECT_EQ(same->pixels, memory);
  EXPECT_TRUE(SamePixmap(same, source));
  EXPECT_EQ(window->ReadPixel(0, 0), source->ReadPixel(1, 1));

  // Data that does not fit, or ends early, leaves the pixmap as it was.
  TPixmapPtr other = NewPixmap(3, 2, PIXFMT_BGR888);
  other->ClearPixels(0);
  TPixmapPtr otherBefore = other->Copy();
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(bank, 1, 0), *other), 0);
  EXPECT_TRUE(SamePixmap(other, otherBefore));
  TBankPtr cut = std::make_shared<TBank>(bank->begin(), bank->end() - 1);
  TPixmapPtr target = NewPixmap(3, 2, PIXFMT_RGB888);
  target->ClearPixels(0);
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(cut, 1, 0), *target), 0);
  EXPECT_TRUE(SamePixmap(target, otherBefore->Convert(PIXFMT_RGB888)));
  auto stillEmpty = std::make_shared<TPixmap>();
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(cut, 1, 0), *stillEmpty), 0);
  EXPECT_EQ(stillEmpty->pixels, nullptr);
}

// A stream that cannot tell its size (as a socket): serves its bytes and notes the largest
// block of memory the process had mapped while it was read from.
class TSizelessStream : public TStream {
public:
  std::vector<uint8_t> bytes;
  size_t pos = 0;
  size_t peakMapped = 0;
  int Read(void* buf, int count) override {
#ifndef __SANITIZE_ADDRESS__
    peakMapped = std::max(peakMapped, mallinfo2().hblkhd);
#endif
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), bytes.size() - pos);
    std::memcpy(buf, bytes.data() + pos, n);
    pos += n;
    return static_cast<int>(n);
  }
  int Write(const void*, int) override { return 0; }
  int Eof() override { return pos >= bytes.size(); }
};

TEST(Pixmap, ReadsFromAStreamOfUnknownSize) {
  // Larger than what is read straight into the pixmap, with padded rows.
  TPixmapPtr p = NewPixmap(777, 500, PIXFMT_RGB888, 8);
  FillBytes(p, 5);
  TBankPtr bank = NewBank();
  p->WriteData(*OpenUrlStream(bank, 0, 1));
  TSizelessStream whole;
  whole.bytes.assign(bank->begin(), bank->end());
  EXPECT_TRUE(SamePixmap(TPixmap::ReadData(whole), p));
  whole.pos = 0;
  auto into = std::make_shared<TPixmap>();
  EXPECT_TRUE(into->ReadDataInto(whole));
  EXPECT_TRUE(SamePixmap(into, p));

  // A header that promises a 1 GiB pixmap and sends a few bytes costs no more than they.
  TSizelessStream liar;
  const int32_t head[3] = {MAX_PIXMAP_SIDE, MAX_PIXMAP_SIDE, PIXFMT_RGBA8888};
  liar.bytes.resize(12 + 100);
  std::memcpy(liar.bytes.data(), head, 12);
  EXPECT_EQ(TPixmap::ReadData(liar), nullptr);
  liar.pos = 0;
  auto target = std::make_shared<TPixmap>();
  EXPECT_FALSE(target->ReadDataInto(liar));
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator hides the mapped memory";
#else
  EXPECT_LT(liar.peakMapped, size_t{64} << 20);
#endif
}

}  // namespace
