// The shader renderer in real windows (Xvfb + Mesa): a scene of every kind of drawing
// matches the OpenGL renderer's picture, consecutive images of one texture go to GL as one
// draw call, textures are laid out like the OpenGL renderer's, contexts share textures,
// and a texture released while its vertices wait is drawn first. The picture tests shared
// with the OpenGL renderer are in graphics/opengl/tests/gl_render_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/runtime.h>

#include "testsupport/skip_or_fail.h"
#include "testsupport/testsupport.h"

namespace {

constexpr int W = 240, H = 180;

uint32_t Pixel(int x, int y) { return CapturePixmap(x, y, 1, 1)->ReadPixel(0, 0) & 0xFFFFFFu; }

// Pixel (x, y): red 20x, green 20y, opaque; the bottom-right quarter is transparent.
TImagePtr Gradient(int w, int h, int flags) {
  TImagePtr image = NewImage(w, h, 1, flags);
  TPixmapPtr p = LockImagePixels(image, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool clear = x >= w / 2 && y >= h / 2;
      p->WritePixel(x, y, clear ? 0u : 0xFF000000u | uint32_t((20 * x) & 255) << 16 | uint32_t((20 * y) & 255) << 8 | 90u);
    }
  UnlockImagePixels(image, 0);
  return image;
}

bool OpenOn(TVex2DDriver* renderer, int w, int h) {
  CloseScreen();
  UseGraphicsDriver(renderer, GFX_BACKBUFFER);
  return OpenScreen(w, h, 0, 0, 0) != nullptr;
}

class GLES2Render : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
    InitGLES2Module();
    ASSERT_TRUE(OpenOn(GLES2Renderer(), W, H));
    SetBlendMode(BLEND_SOLID);
    ClearScreen();
  }
  void TearDown() override {
    if (HaveDisplay()) CloseScreen();
  }
};

TEST_F(GLES2Render, ContextOfTheKindAskedFor) {
  EXPECT_EQ(ToUtf8(GLES2Renderer()->ToString()), "GLES2");
  EXPECT_EQ(CurrentGraphicsDriver(), GLES2Renderer());
  const std::string kind = ToUtf8(GLES2ContextKind());
  const char* want = std::getenv("ORMIX_GLES2_CONTEXT");
  if (want && std::string(want) == "gl") {
    EXPECT_EQ(kind, "OpenGL 2.1");
  } else if (want && std::string(want) == "es") {
    EXPECT_EQ(kind, "OpenGL ES 2");
  } else {
    EXPECT_TRUE(kind == "OpenGL ES 2" || kind == "OpenGL 2.1") << kind;
  }
  std::printf("context: %s\n", kind.c_str());
}

// Everything the 2D layer draws, in one picture.
void DrawScene(const TImagePtr& gradient, const TImagePtr& mipmapped, const TImageFontPtr& font) {
  SetBlendMode(BLEND_SOLID);
  SetClearColor(30, 40, 50);
  ClearScreen();
  SetDrawColor(200, 120, 40);
  FillRect(5, 5, 40, 20);
  SetDrawRotation(30);
  SetDrawHandle(10, 5);
  FillRect(70, 20, 40, 14);
  FillOval(120, 20, 50, 24);
  SetDrawTransform(0, 1, 1);
  SetDrawHandle(0, 0);
  FillPolygon({180, 5, 230, 15, 215, 45, 185, 35});
  for (int width : {1, 2, 3, 5}) {
    SetLineThickness(static_cast<float>(width));
    DrawLineSegment(10.0f, 50.0f + 8 * width, 100.0f, 52.0f + 11 * width);
    DrawLineSegment(110.0f + 6 * width, 50, 118.0f + 9 * width, 95);
  }
  SetLineThickness(1);
  PlotPoint(200, 60);
  SetBlendMode(BLEND_MASK);
  SetDrawColor(255, 255, 255);
  BlitImage(gradient, 150, 55);
  SetBlendMode(BLEND_ALPHA);
  SetDrawAlpha(0.6f);
  SetDrawTransform(-20, 2.5f, 1.5f);
  BlitImage(gradient, 20, 110);
  SetDrawTransform(0, 1, 1);
  SetDrawAlpha(1);
  BlitImageScaled(mipmapped, 70, 100, 21, 13);
  SetBlendMode(BLEND_LIGHT);
  SetDrawColor(90, 90, 255);
  SetDrawAlpha(0.5f);
  FillOval(100, 100, 60, 40);
  SetBlendMode(BLEND_SHADE);
  SetDrawColor(255, 128, 200);
  FillRect(150, 95, 60, 30);
  SetBlendMode(BLEND_ALPHA);
  SetDrawColor(255, 255, 160);
  SetDrawAlpha(1);
  UseTextFont(nullptr);
  DrawString(u"GLES2 ~", 120, 130);
  if (font) {
    UseTextFont(font);
    SetDrawRotation(-8);
    DrawString(u"Zingle!", 10, 140);
    SetDrawTransform(0, 1, 1);
    UseTextFont(nullptr);
  }
  SetClipRect(200, 140, 30, 30);
  SetDrawColor(0, 255, 0);
  FillOval(190, 130, 60, 60);
  SetClipRect(0, 0, W, H);
  TPixmapPtr pixmap = NewPixmap(9, 6, PIXFMT_RGB888);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) pixmap->WritePixel(x, y, 0xFF000000u | uint32_t(x * 28) << 16 | uint32_t(y * 40) << 8 | 200);
  BlitPixmap(pixmap, 225, 100);
}

TEST_F(GLES2Render, SceneMatchesTheOpenGLRenderer) {
  TImagePtr gradient = Gradient(10, 8, IMG_FILTERED);
  TImagePtr mipmapped = Gradient(40, 26, IMG_FILTERED | IMG_MIPMAPPED);
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  TImageFontPtr font = LoadTextFont(path, 24, FONT_SMOOTH);
  if (!font) ORMIX_SKIP_OR_FAIL() << "no " << path;

  DrawScene(gradient, mipmapped, font);
  TPixmapPtr gles2 = CapturePixmap(0, 0, W, H);
  InitOpenGLModule();
  ASSERT_TRUE(OpenOn(OpenGLRenderer(), W, H));
  DrawScene(gradient, mipmapped, font);
  TPixmapPtr gl = CapturePixmap(0, 0, W, H);
  ASSERT_TRUE(OpenOn(GLES2Renderer(), W, H));

  // As the renderer picture tests: no channel more than 2 levels apart.
  int differing = 0, largest = 0, lit = 0;
  std::string where;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t a = gles2->ReadPixel(x, y), b = gl->ReadPixel(x, y);
      lit += (b & 0xFFFFFF) != 0x1E2832;
      int m = 0;
      for (int sh = 0; sh < 24; sh += 8)
        m = std::max(m, std::abs(static_cast<int>((a >> sh) & 255) - static_cast<int>((b >> sh) & 255)));
      largest = std::max(largest, m);
      if (m > 2) {
        if (++differing <= 10) where += " (" + std::to_string(x) + "," + std::to_string(y) + ")";
      }
    }
  EXPECT_GT(lit, W * H / 4) << "the scene drew";
  EXPECT_EQ(differing, 0) << "largest difference " << largest << " at" << where;
  std::printf("largest channel difference from the OpenGL renderer: %d\n", largest);
}

TEST_F(GLES2Render, ConsecutiveImagesOfOneTextureAreOneDrawCall) {
  TImagePtr a = Gradient(8, 8, 0);
  TImagePtr b = Gradient(8, 8, 0);
  TImagePtr strip = LoadImageStrip(Gradient(16, 8, 0)->pixmaps[0], 8, 8, 0, 2, 0);
  ASSERT_NE(strip, nullptr);
  SetBlendMode(BLEND_ALPHA);
  struct Case {
    const char* what;
    std::function<void()> draw;
    uint64_t calls;
  };
  const Case cases[] = {
      {"100 copies of one image, turning, tinted and fading",
       [&] {
         for (int i = 0; i < 100; ++i) {
           SetDrawColor(i, 255 - i, 7);
           SetDrawAlpha(static_cast<float>(i) / 100.0f);
           SetDrawRotation(static_cast<float>(i));
           BlitImage(a, static_cast<float>(i), 50);
         }
         SetDrawTransform(0, 1, 1);
         SetDrawAlpha(1);
       },
       1},
      {"two images in turn", [&] { for (int i = 0; i < 10; ++i) BlitImage(i % 2 ? a : b, 0, 0); }, 10},
      {"rectangles, ovals and polygons", [&] { FillRect(0, 0, 5, 5); FillOval(0, 0, 9, 9); FillPolygon({0, 0, 5, 0, 0, 5}); FillRect(1, 1, 2, 2); }, 1},
      {"a blend mode between two images", [&] { BlitImage(a, 0, 0); SetBlendMode(BLEND_LIGHT); BlitImage(a, 0, 0); SetBlendMode(BLEND_ALPHA); }, 2},
      {"a clip rectangle between two images", [&] { BlitImage(a, 0, 0); SetClipRect(1, 1, 50, 50); BlitImage(a, 0, 0); SetClipRect(0, 0, W, H); }, 2},
      {"lines, then points, then lines", [&] { DrawLineSegment(0, 0, 9, 9, 0); DrawLineSegment(0, 9, 9, 0, 0); PlotPoint(3, 3); DrawLineSegment(0, 5, 9, 5, 0); }, 3},
      {"every frame of a strip is its own texture", [&] { BlitImage(strip, 0, 0, 0); BlitImage(strip, 9, 0, 1); BlitImage(strip, 18, 0, 0); }, 3},
      {"the built-in font: one draw a glyph", [&] { UseTextFont(nullptr); DrawString(u"abc", 0, 0); }, 3},
  };
  for (const Case& c : cases) {
    ClearScreen();
    const uint64_t before = GLES2Renderer()->DrawCalls();
    c.draw();
    CapturePixmap(0, 0, 1, 1);  // sends what is waiting
    EXPECT_EQ(GLES2Renderer()->DrawCalls() - before, c.calls) << c.what;
  }
}

TEST_F(GLES2Render, TexturesArePowersOfTwoWithTheImageAtTheTopLeft) {
  struct Case {
    int w, h, tw, th;
    float u1, v1;
  };
  const Case cases[] = {{100, 50, 128, 64, 0.78125f, 0.78125f}, {64, 64, 64, 64, 1, 1}, {1, 3, 1, 4, 1, 0.75f}};
  for (const Case& c : cases) {
    TImagePtr image = Gradient(c.w, c.h, IMG_FILTERED | IMG_MIPMAPPED);
    auto frame = std::dynamic_pointer_cast<TGLES2ImageFrame>(image->Frame(0));
    ASSERT_NE(frame, nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(frame->texWidth, c.tw);
    EXPECT_EQ(frame->texHeight, c.th);
    EXPECT_FLOAT_EQ(frame->u1, c.u1);
    EXPECT_FLOAT_EQ(frame->v1, c.v1);
    EXPECT_EQ(frame->seq, GraphicsGeneration());
  }
  // Stretched and filtered, the image's last column and row do not blend with the unused
  // part of the texture: the edge keeps the image's colour.
  TImagePtr blue = NewImage(5, 3, 1, IMG_FILTERED);
  LockImagePixels(blue, 0)->ClearPixels(0xFF0000FFu);
  UnlockImagePixels(blue, 0);
  BlitImageScaled(blue, 10, 10, 100, 60);
  EXPECT_EQ(Pixel(108, 68), 0x0000FFu);
  EXPECT_EQ(Pixel(11, 11), 0x0000FFu);
}

TEST_F(GLES2Render, AnImageReleasedBeforeItsBatchIsSentStillShows) {
  {
    TImagePtr image = NewImage(4, 4, 1, 0);
    LockImagePixels(image, 0)->ClearPixels(0xFF10E020u);
    UnlockImagePixels(image, 0);
    BlitImage(image, 20, 20);
  }
  EXPECT_EQ(Pixel(21, 21), 0x10E020u);
  // A texture name GL hands out again afterwards is a new image's, not the old one's.
  TImagePtr next = NewImage(4, 4, 1, 0);
  LockImagePixels(next, 0)->ClearPixels(0xFFF00000u);
  UnlockImagePixels(next, 0);
  BlitImage(next, 40, 20);
  EXPECT_EQ(Pixel(41, 21), 0xF00000u);
}

TEST_F(GLES2Render, TwoWindowsShareTexturesAndKeepTheirOwnState) {
  TImagePtr image = Gradient(8, 8, 0);
  TGraphicsPtr screen = ScreenGraphics();
  TGraphicsPtr second = MakeGraphics(64, 48, 0, 0, 0);
  ASSERT_NE(second, nullptr);
  SDL_Window* window = GLES2GraphicsWindow(second);
  ASSERT_NE(window, nullptr);
  EXPECT_NE(window, GLES2GraphicsWindow(screen));
  SelectGraphics(second);
  EXPECT_EQ(ScreenWidth(), 64);
  SetBlendMode(BLEND_SOLID);
  SetClearColor(0, 0, 90);
  ClearScreen();
  BlitImage(image, 3, 3);  // made here, drawn there too
  EXPECT_EQ(Pixel(3 + 2, 3 + 1), 0x28145Au);
  EXPECT_EQ(Pixel(30, 30), 0x00005Au);
  SelectGraphics(screen);
  EXPECT_EQ(ScreenWidth(), W);
  ClearScreen();
  BlitImage(image, 100, 100);
  EXPECT_EQ(Pixel(100 + 2, 100 + 1), 0x28145Au);
  EXPECT_EQ(Pixel(30, 30), 0x000000u);
  CloseGraphicsContext(second);
  // The screen draws on after the other window is gone, and so do its textures.
  ClearScreen();
  BlitImage(image, 50, 50);
  EXPECT_EQ(Pixel(50 + 3, 50 + 2), 0x3C285Au);
}

TEST_F(GLES2Render, ImagesAreRemadeForANewScreen) {
  TImagePtr image = Gradient(8, 8, 0);
  BlitImage(image, 10, 10);
  TImageFramePtr first = image->Frame(0);
  ASSERT_TRUE(OpenOn(GLES2Renderer(), 100, 80));
  SetBlendMode(BLEND_SOLID);
  BlitImage(image, 10, 10);
  EXPECT_NE(image->Frame(0), first);
  EXPECT_EQ(Pixel(10 + 1, 10 + 1), 0x14145Au);
  EXPECT_EQ(ScreenWidth(), 100);
  // Frames drawn into the shown buffer survive the flip of a double-buffered window.
  ShowFrame(0);
  ClearScreen();
  BlitImage(image, 20, 20);
  ShowFrame(0);
  ShowFrame(0);
}

}  // namespace
