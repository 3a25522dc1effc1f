// Images and fonts drawn through the OpenGL and the shader renderer in a real window
// (Xvfb + Mesa): renderer frames are made lazily, kept, dropped by writing locks and remade
// after the graphics generation changes; built-in and TrueType glyphs reach the screen.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>

#include "testsupport/testsupport.h"

namespace {

constexpr int W = 96, H = 64;

uint32_t ScreenPixel(int x, int y) { return CapturePixmap(x, y, 1, 1)->ReadPixel(0, 0) & 0xFFFFFFu; }

// The renderer of each run: 0 OpenGL, 1 the shader renderer.
class ImageFrames : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
    InitOpenGLModule();
    InitGLES2Module();
    UseGraphicsDriver(GetParam() == 0 ? static_cast<TVex2DDriver*>(OpenGLRenderer()) : GLES2Renderer(),
                      GFX_BACKBUFFER);
    ASSERT_NE(OpenScreen(W, H, 0, 0, 0), nullptr);
    SetBlendMode(BLEND_MASK);
    SetDrawColor(255, 255, 255);
    SetClearColor(0, 0, 0);
    ClearScreen();
  }
  void TearDown() override {
    if (HaveDisplay()) CloseScreen();
  }
};

INSTANTIATE_TEST_SUITE_P(Renderers, ImageFrames, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param == 0 ? "opengl" : "gles2"; });

TImagePtr Solid(uint32_t argb) {
  TImagePtr image = NewImage(4, 4, 1, 0);
  LockImagePixels(image, 0)->ClearPixels(argb);
  UnlockImagePixels(image, 0);
  return image;
}

TEST_P(ImageFrames, MadeOnceKeptAndDroppedByWriting) {
  TImagePtr image = Solid(0xFF20C040u);
  EXPECT_EQ(image->frames[0], nullptr);
  TImageFramePtr first = image->Frame(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(image->seqs[0], GraphicsGeneration());
  EXPECT_EQ(image->Frame(0), first);
  BlitImage(image, 10, 10);
  EXPECT_EQ(ScreenPixel(11, 11), 0x20C040u);

  // Locking only for reading keeps the frame; locking for writing drops it and the next
  // draw shows the new pixels.
  LockImagePixels(image, 0, 1, 0);
  EXPECT_EQ(image->Frame(0), first);
  LockImagePixels(image, 0)->ClearPixels(0xFF0030F0u);
  UnlockImagePixels(image, 0);
  EXPECT_EQ(image->frames[0], nullptr);
  ClearScreen();
  BlitImage(image, 10, 10);
  EXPECT_EQ(ScreenPixel(11, 11), 0x0030F0u);
  EXPECT_NE(image->Frame(0), first);
}

TEST_P(ImageFrames, RemadeAfterTheScreenIsReopened) {
  TImagePtr image = Solid(0xFFF08010u);
  TImageFramePtr before = image->Frame(0);
  ASSERT_NE(before, nullptr);
  const int generation = GraphicsGeneration();
  CloseScreen();
  ASSERT_NE(OpenScreen(W, H, 0, 0, 0), nullptr);
  EXPECT_NE(GraphicsGeneration(), generation);
  SetBlendMode(BLEND_MASK);
  ClearScreen();
  BlitImage(image, 30, 20);
  EXPECT_NE(image->frames[0], before);
  EXPECT_EQ(image->seqs[0], GraphicsGeneration());
  EXPECT_EQ(ScreenPixel(31, 21), 0xF08010u);
}

TEST_P(ImageFrames, MaskedImageIsTransparentWhereKeyed) {
  SetImageMaskColor(255, 0, 255);
  TPixmapPtr p = NewPixmap(4, 4, PIXFMT_RGB888);
  p->ClearPixels(0xFFFF00FFu);
  p->WritePixel(0, 0, 0xFF10E010u);
  TImagePtr image = LoadImageFile(p, IMG_MASKED);
  SetImageMaskColor(0, 0, 0);
  SetClearColor(0, 0, 100);
  ClearScreen();
  BlitImage(image, 40, 40);
  EXPECT_EQ(ScreenPixel(40, 40), 0x10E010u);
  EXPECT_EQ(ScreenPixel(42, 42), 0x000064u);
}

TEST_P(ImageFrames, BuiltinGlyphReachesTheScreenPixelForPixel) {
  UseTextFont(nullptr);
  EXPECT_EQ(MeasureTextWidth(u"Abc"), 24);
  EXPECT_EQ(MeasureTextHeight(u"Abc"), 16);
  DrawString(u"A", 8, 4);
  const int rows[16] = {0, 0, 124, 198, 198, 198, 254, 198, 198, 198, 198, 0, 0, 0, 0, 0};
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 8; ++c)
      EXPECT_EQ(ScreenPixel(8 + c, 4 + r), (rows[r] >> c) & 1 ? 0xFFFFFFu : 0u) << "row " << r << " column " << c;
}

// Bounding box of the lit pixels of the screen.
struct TBox {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
};
TBox LitBox() {
  TPixmapPtr shot = CapturePixmap(0, 0, W, H);
  TBox b;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (shot->ReadPixel(x, y) & 0xFFFFFF) {
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
  return b;
}

TEST_P(ImageFrames, RotatedTextRunsDownTheScreen) {
  UseTextFont(nullptr);
  DrawString(u"MM", 10, 10);
  TBox flat = LitBox();
  EXPECT_EQ(flat.x0, 11);  // "M" leaves column 0 of its cell clear
  EXPECT_EQ(flat.x1, 10 + 15);
  EXPECT_GE(flat.y0, 10);
  EXPECT_LE(flat.y1, 10 + 15);
  ClearScreen();
  SetDrawRotation(90);
  DrawString(u"MM", 60, 10);
  SetDrawRotation(0);
  TBox turned = LitBox();
  // The pen moves down; the glyphs' rows now run from right to left.
  EXPECT_EQ(turned.y0, 11);
  EXPECT_EQ(turned.y1, 10 + 15);
  EXPECT_GE(turned.x0, 60 - 16);
  EXPECT_LE(turned.x1, 60);
}

TEST_P(ImageFrames, SmoothTrueTypeTextDraws) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (!std::filesystem::exists(path)) ORMIX_SKIP_OR_FAIL() << path << " not installed";
  TImageFontPtr font = LoadTextFont(path, 24, FONT_SMOOTH);
  ASSERT_NE(font, nullptr);
  UseTextFont(font);
  SetBlendMode(BLEND_ALPHA);
  DrawString(u"H", 10, 10);
  UseTextFont(nullptr);
  TPixmapPtr shot = CapturePixmap(0, 0, W, H);
  int lit = 0, outside = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool on = (shot->ReadPixel(x, y) & 0xFF) > 128;
      const bool inBox = x >= 10 && x < 10 + font->MeasureWidth(u"H") && y >= 10 && y < 10 + font->Height();
      lit += on && inBox;
      outside += on && !inBox;
    }
  EXPECT_GT(lit, 40);
  EXPECT_EQ(outside, 0);
}

}  // namespace
