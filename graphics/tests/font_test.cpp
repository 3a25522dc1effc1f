// Image fonts: the built-in 8 x 16 font, TrueType and bitmap fonts through FreeType,
// measuring, and the font loader chain.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <ormix/graphics/font.h>
#include <ormix/graphics/freetypefont.h>
#include <ormix/runtime/incbin.h>
#include <ormix/stream/stream.h>

namespace {

const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* kMisc13 = "/usr/share/fonts/X11/misc/6x13.pcf.gz";

bool Exists(const char* path) { return std::filesystem::exists(path); }

TEST(BuiltinFont, Metrics) {
  TImageFontPtr font = TImageFont::CreateDefault();
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->CountGlyphs(), 96);
  EXPECT_EQ(font->Style(), 0);
  EXPECT_EQ(font->Height(), 16);
  for (const char16_t* text : {u"abc", u"Zq!", u"   ", u"~\u007F@"}) EXPECT_EQ(font->MeasureWidth(text), 24);
  EXPECT_EQ(font->MeasureWidth(u"a\u00C8b"), 16);  // code 200 has no glyph and adds nothing
  EXPECT_EQ(font->MeasureWidth(u""), 0);
  EXPECT_EQ(font->CharToGlyph(31), -1);
  EXPECT_EQ(font->CharToGlyph(32), 0);
  EXPECT_EQ(font->CharToGlyph(127), 95);
  EXPECT_EQ(font->CharToGlyph(128), -1);
  EXPECT_EQ(font->LoadGlyph(96), nullptr);
  EXPECT_EQ(font->LoadGlyph(-1), nullptr);
}

TEST(BuiltinFont, GlyphImagesComeFromTheBitmap) {
  TImageFontPtr font = TImageFont::CreateDefault();
  TImageGlyphPtr a = font->LoadGlyph(font->CharToGlyph('A'));
  ASSERT_NE(a, nullptr);
  int x, y, w, h;
  a->GetRect(x, y, w, h);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 16);
  EXPECT_EQ(a->Advance(), 8);
  ASSERT_NE(a->_image, nullptr);
  EXPECT_EQ(a->_image->flags, 0);
  TPixmapPtr p = a->Pixels();
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->width, 8);
  ASSERT_EQ(p->height, 16);
  // The rows of "A", least significant bit leftmost.
  const int rows[16] = {0, 0, 124, 198, 198, 198, 254, 198, 198, 198, 198, 0, 0, 0, 0, 0};
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(p->ReadPixel(c, r), (rows[r] >> c) & 1 ? 0xFFFFFFFFu : 0u) << "row " << r << " column " << c;
  // Each glyph has its own pixels.
  EXPECT_NE(font->LoadGlyph(font->CharToGlyph('B'))->Pixels(), p);
  EXPECT_EQ(font->LoadGlyph(font->CharToGlyph('A')), a);
}

TEST(BuiltinFont, EmbeddedTableKeepsTheCellLayout) {
  InitFontModule();
  std::vector<uint8_t> bits = LoadAllBytes(ToText("incbin::vandafont.bin"));
  ASSERT_EQ(bits.size(), 1536u);
  auto lit = [&](int code, int row) { return bits[row * 96 + (code - 32)] != 0; };
  for (int code = 33; code < 128; ++code) {
    int first = -1, last = -1;
    for (int r = 0; r < 16; ++r)
      if (lit(code, r)) {
        if (first < 0) first = r;
        last = r;
      }
    EXPECT_GE(first, 0) << "glyph " << code << " is empty";
    EXPECT_GE(first, 1) << "glyph " << code;
    EXPECT_LE(last, 12) << "glyph " << code << " reaches below the descender line";
  }
  for (int r = 0; r < 16; ++r) EXPECT_FALSE(lit(' ', r));
  for (int code = 'A'; code <= 'Z'; ++code) {
    EXPECT_TRUE(lit(code, 2)) << char(code);
    EXPECT_TRUE(lit(code, 10)) << char(code);
    EXPECT_FALSE(lit(code, 1) || lit(code, 11)) << char(code);
  }
  for (int code : {'g', 'j', 'p', 'q', 'y'}) EXPECT_TRUE(lit(code, 12)) << char(code);
}

TEST(TrueTypeFont, SmoothGlyphsCarryATransparentBorder) {
  if (!Exists(kDejaVu)) ORMIX_SKIP_OR_FAIL() << kDejaVu << " not installed (fonts-dejavu-core)";
  TImageFontPtr smooth = LoadTextFont(kDejaVu, 24, FONT_SMOOTH);
  ASSERT_NE(smooth, nullptr);
  EXPECT_EQ(smooth->Style(), FONT_SMOOTH);
  EXPECT_EQ(smooth->_imageFlags, IMG_FILTERED | IMG_MIPMAPPED);
  EXPECT_GT(smooth->Height(), 20);
  EXPECT_LT(smooth->Height(), 40);
  auto raw = TFreeTypeFont::Load(ToText(kDejaVu), 24, 0);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(smooth->CountGlyphs(), raw->CountGlyphs());

  for (char16_t c : {u'A', u'g', u'W', u'.'}) {
    const int index = smooth->CharToGlyph(c);
    ASSERT_GE(index, 0);
    EXPECT_EQ(index, raw->CharToGlyph(c));
    TImageGlyphPtr g = smooth->LoadGlyph(index);
    TGlyphPtr r = raw->LoadGlyph(index);
    ASSERT_NE(g, nullptr);
    ASSERT_NE(r, nullptr);
    int gx, gy, gw, gh, rx, ry, rw, rh;
    g->GetRect(gx, gy, gw, gh);
    r->GetRect(rx, ry, rw, rh);
    EXPECT_EQ(gx, rx - 1);
    EXPECT_EQ(gy, ry - 1);
    EXPECT_EQ(gw, rw + 2);
    EXPECT_EQ(gh, rh + 2);
    EXPECT_EQ(g->Advance(), r->Advance());
    ASSERT_NE(g->_image, nullptr);
    EXPECT_EQ(g->_image->flags, IMG_FILTERED | IMG_MIPMAPPED);
    TPixmapPtr gp = g->Pixels(), rp = r->Pixels();
    ASSERT_EQ(gp->format, PIXFMT_A8);
    ASSERT_EQ(gp->width, rp->width + 2);
    ASSERT_EQ(gp->height, rp->height + 2);
    int coverage = 0;
    for (int y = 0; y < gp->height; ++y) {
      for (int x = 0; x < gp->width; ++x) {
        const uint8_t a = *gp->PixelPtr(x, y);
        const bool border = x == 0 || y == 0 || x == gp->width - 1 || y == gp->height - 1;
        if (border) {
          EXPECT_EQ(a, 0) << "border pixel " << x << "," << y << " of " << char(c);
        } else {
          EXPECT_EQ(a, *rp->PixelPtr(x - 1, y - 1));
          coverage += a;
        }
      }
    }
    EXPECT_GT(coverage, 0) << char(c);
  }
  // The glyph's top sits below the top of the line, its baseline near the ascender.
  int x, y, w, h;
  smooth->LoadGlyph(smooth->CharToGlyph('A'))->GetRect(x, y, w, h);
  EXPECT_GE(y, 0);
  EXPECT_LE(y + h, smooth->Height() + 2);

  // A space moves the pen but has no image.
  TImageGlyphPtr space = smooth->LoadGlyph(smooth->CharToGlyph(' '));
  ASSERT_NE(space, nullptr);
  EXPECT_GT(space->Advance(), 0);
  EXPECT_EQ(space->_image, nullptr);
  EXPECT_EQ(smooth->MeasureWidth(u"  "), 2 * static_cast<int>(space->Advance()));
  // Unmapped characters are skipped.
  EXPECT_EQ(smooth->CharToGlyph(0xE000), -1);
  EXPECT_EQ(smooth->MeasureWidth(u"\uE000"), 0);

  TImageFontPtr sharp = LoadTextFont(kDejaVu, 24, 0);
  ASSERT_NE(sharp, nullptr);
  EXPECT_EQ(sharp->_imageFlags, 0);
  int sx, sy, sw, sh;
  sharp->LoadGlyph(sharp->CharToGlyph('A'))->GetRect(sx, sy, sw, sh);
  EXPECT_EQ(sw, w - 2);
}

TEST(TrueTypeFont, OpeningFromPathsAndStreams) {
  if (!Exists(kDejaVu)) ORMIX_SKIP_OR_FAIL() << kDejaVu << " not installed (fonts-dejavu-core)";
  EXPECT_EQ(LoadTextFont("/nonexistent/font.ttf", 24, 0), nullptr);
  EXPECT_EQ(LoadTextFont("", 24, 0), nullptr);
  EXPECT_EQ(LoadTextFont(kDejaVu, 0, 0), nullptr);
  EXPECT_EQ(LoadTextFont(kDejaVu, -5, 0), nullptr);
  EXPECT_THROW(LoadTextFont("incbin::no-such-font.ttf", 24, 0), TStreamReadException);

  // A font embedded in the program opens from memory; the font keeps its own copy.
  static std::vector<uint8_t> bytes;
  {
    std::ifstream in(kDejaVu, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  RegisterIncbin("font_test.ttf", bytes.data(), bytes.size());
  auto font = TFreeTypeFont::Load(ToText("incbin::font_test.ttf"), 32, FONT_SMOOTH);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->_buf_size, bytes.size());
  EXPECT_EQ(font->_face.family_name, "DejaVu Sans");
  EXPECT_GT(font->Height(), 30);
  TImageFontPtr image = LoadTextFont("incbin::font_test.ttf", 32, FONT_SMOOTH);
  ASSERT_NE(image, nullptr);
  EXPECT_GT(image->MeasureWidth(u"Zingle!"), 60);

  // Damaged font data gives null.
  static const std::vector<uint8_t> junk(4096, 0x33);
  RegisterIncbin("junk_font.ttf", junk.data(), junk.size());
  EXPECT_EQ(LoadTextFont("incbin::junk_font.ttf", 24, 0), nullptr);
}

TEST(BitmapFont, TakesTheLargestSizeNotAboveTheRequest) {
  if (!Exists(kMisc13)) ORMIX_SKIP_OR_FAIL() << kMisc13 << " not installed (xfonts-base)";
  auto font = TFreeTypeFont::Load(ToText(kMisc13), 24, 0);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->_pixel_size, 13);
  EXPECT_EQ(font->Height(), 13);
  EXPECT_EQ(TFreeTypeFont::Load(ToText(kMisc13), 12, 0), nullptr);
  TGlyphPtr g = font->LoadGlyph(font->CharToGlyph('M'));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Advance(), 6);
  TPixmapPtr p = g->Pixels();
  ASSERT_NE(p, nullptr);
  int lit = 0;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      const uint8_t a = *p->PixelPtr(x, y);
      EXPECT_TRUE(a == 0 || a == 255);
      lit += a == 255;
    }
  EXPECT_GT(lit, 10);
}

// A source font whose glyphs all advance 7.5 pixels.
class THalfPixelFont : public TFont {
 public:
  class Glyph : public TGlyph {
   public:
    TPixmapPtr Pixels() override { return nullptr; }
    float Advance() override { return 7.5f; }
    void GetRect(int& x, int& y, int& w, int& h) override { x = y = w = h = 0; }
  };
  int Style() override { return 0; }
  int Height() override { return 10; }
  int CountGlyphs() override { return 1; }
  int CharToGlyph(int c) override { return c == 'x' ? 0 : -1; }
  TGlyphPtr LoadGlyph(int) override { return std::make_shared<Glyph>(); }
};

class THalfPixelLoader : public TFontLoader {
 public:
  TFontPtr LoadFont(const Text& url, int, int) override {
    return url == u"half" ? std::make_shared<THalfPixelFont>() : nullptr;
  }
};

TEST(FontLoaders, ChainAndTruncatedMeasuring) {
  auto loader = std::make_shared<THalfPixelLoader>();
  TFontLoader::Add(loader);
  TFontLoader::Add(loader);  // already linked: not added twice
  int count = 0;
  for (TFontLoaderPtr l = loader; l; l = l->_succ) count += l == loader;
  EXPECT_EQ(count, 1);
  TImageFontPtr font = LoadTextFont("half", 10, 0);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->Height(), 10);
  // 7.5 per glyph, truncated after each: 7, 14, 21.
  EXPECT_EQ(font->MeasureWidth(u"xxx"), 21);
  EXPECT_EQ(font->MeasureWidth(u"xyx"), 14);
}

}  // namespace
