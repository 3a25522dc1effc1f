// Rendering through the OpenGL renderer and the shader renderer in a real window (Xvfb +
// Mesa), read back with GrabPixmap.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <functional>
#include "testsupport/skip_or_fail.h"

#include <cmath>
#include <cstdlib>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/incbin.h>

#include "testsupport/testsupport.h"

namespace {

constexpr int W = 200, H = 200;

struct Rgba {
  int r, g, b, a;
};

Rgba At(const TPixmapPtr& p, int x, int y) {
  uint32_t v = p->ReadPixel(x, y);
  return {static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255),
          static_cast<int>(v & 255), static_cast<int>(v >> 24)};
}

Rgba ScreenAt(int x, int y) { return At(CapturePixmap(x, y, 1, 1), 0, 0); }

void ExpectNear(const Rgba& got, int r, int g, int b, int tol, const char* what) {
  EXPECT_NEAR(got.r, r, tol) << what;
  EXPECT_NEAR(got.g, g, tol) << what;
  EXPECT_NEAR(got.b, b, tol) << what;
}

// The OpenGL renderer and the shader renderer draw the same pictures: every picture test
// runs on both.
struct RendererCase {
  const char* name;
  TVex2DDriver* (*get)();
};

TVex2DDriver* OpenGL() {
  InitOpenGLModule();
  return OpenGLRenderer();
}

TVex2DDriver* GLES2() {
  InitGLES2Module();
  return GLES2Renderer();
}

// A W x H screen on the renderer (kept open from one test to the next) in a known state.
void OpenKnownScreen(TVex2DDriver* renderer) {
  if (!ScreenGraphics() || CurrentGraphicsDriver() != renderer) {
    CloseScreen();
    UseGraphicsDriver(renderer, GFX_BACKBUFFER);
    OpenScreen(W, H, 0, 0, 0);
  }
  ASSERT_NE(ScreenGraphics(), nullptr);
  SetClipRect(0, 0, W, H);
  SetDrawTransform(0, 1, 1);
  SetDrawHandle(0, 0);
  SetDrawOrigin(0, 0);
  SetDrawColor(255, 255, 255);
  SetDrawAlpha(1);
  SetLineThickness(1);
  SetBlendMode(BLEND_SOLID);
  SetClearColor(0, 0, 0);
  ClearScreen();
}

class Render : public ::testing::TestWithParam<RendererCase> {
protected:
  static void TearDownTestSuite() {
    if (HaveDisplay()) CloseScreen();
  }
  void SetUp() override {
    if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
    OpenKnownScreen(GetParam().get());
  }
};

INSTANTIATE_TEST_SUITE_P(Renderers, Render,
                         ::testing::Values(RendererCase{"opengl", OpenGL}, RendererCase{"gles2", GLES2}),
                         [](const ::testing::TestParamInfo<RendererCase>& info) { return info.param.name; });

// The OpenGL renderer's own GL state and helpers.
class GLRender : public ::testing::Test {
protected:
  static void TearDownTestSuite() {
    if (HaveDisplay()) CloseScreen();
  }
  void SetUp() override {
    if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
    OpenKnownScreen(OpenGL());
  }
};

// An RGBA image whose pixel (x, y) has red = 20 * x, green = 20 * y, opaque.
TImagePtr GradientImage(int w, int h, int flags) {
  TImagePtr image = NewImage(w, h, 1, flags);
  TPixmapPtr p = LockImagePixels(image, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      p->WritePixel(x, y, 0xFF000000u | (uint32_t((20 * x) & 255) << 16) | (uint32_t((20 * y) & 255) << 8));
    }
  }
  UnlockImagePixels(image, 0);
  return image;
}

TEST_P(Render, BlendModesOverKnownBackground) {
  struct Case {
    int mode;
    float alpha;
    int r, g, b;  // expected over a (100, 100, 100) background
    const char* name;
  };
  // Drawing colour (200, 50, 0); alpha 0.5 becomes the byte 127.
  const Case cases[] = {
      {BLEND_SOLID, 0.5f, 200, 50, 0, "solid ignores alpha"},
      {BLEND_MASK, 0.6f, 200, 50, 0, "mask draws opaque at alpha >= 0.5"},
      {BLEND_MASK, 0.5f, 100, 100, 100, "mask skips alpha 127/255"},
      {BLEND_ALPHA, 0.5f, 150, 75, 50, "alpha mixes"},
      {BLEND_LIGHT, 0.5f, 200, 125, 100, "light adds"},
      {BLEND_SHADE, 0.5f, 78, 20, 0, "shade multiplies"},
  };
  for (const Case& c : cases) {
    SetBlendMode(BLEND_SOLID);
    SetClearColor(100, 100, 100);
    ClearScreen();
    SetBlendMode(c.mode);
    SetDrawColor(200, 50, 0);
    SetDrawAlpha(c.alpha);
    FillRect(10, 10, 20, 20);
    ExpectNear(ScreenAt(20, 20), c.r, c.g, c.b, 2, c.name);
    ExpectNear(ScreenAt(40, 40), 100, 100, 100, 0, c.name);
  }
}

TEST_P(Render, ImagesAreTintedByDrawColourAndFadedByAlpha) {
  TImagePtr image = NewImage(16, 16, 1, 0);
  LockImagePixels(image, 0)->ClearPixels(0xFFFFFFFFu);
  SetDrawColor(255, 0, 0);
  BlitImage(image, 10, 10);
  ExpectNear(ScreenAt(15, 15), 255, 0, 0, 0, "tinted red");

  SetClearColor(0, 0, 200);
  ClearScreen();
  SetBlendMode(BLEND_ALPHA);
  SetDrawColor(0, 255, 0);
  SetDrawAlpha(0.5f);
  BlitImage(image, 10, 10);
  ExpectNear(ScreenAt(15, 15), 0, 127, 100, 2, "faded green over blue");
}

TEST_P(Render, RotationBy90TurnsTheXAxisDownwards) {
  SetDrawRotation(90);
  FillRect(50, 50, 10, 5);
  // (x, y) -> (-y, x): the rectangle spans x 45..50 and y 50..60.
  ExpectNear(ScreenAt(47, 55), 255, 255, 255, 0, "inside");
  ExpectNear(ScreenAt(52, 52), 0, 0, 0, 0, "right of the turned rectangle");
  ExpectNear(ScreenAt(47, 48), 0, 0, 0, 0, "above");
  ExpectNear(ScreenAt(47, 61), 0, 0, 0, 0, "below");
}

TEST_P(Render, DrawHandleMovesShapes) {
  SetDrawHandle(8, 8);
  float hx, hy;
  GetDrawHandle(hx, hy);
  EXPECT_EQ(hx, 8);
  EXPECT_EQ(hy, 8);
  FillRect(100, 100, 16, 16);
  TPixmapPtr p = CapturePixmap(90, 90, 20, 20);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const bool inside = 90 + x >= 92 && 90 + x < 108 && 90 + y >= 92 && 90 + y < 108;
      EXPECT_EQ(At(p, x, y).r, inside ? 255 : 0) << x + 90 << "," << y + 90;
    }
  }
}

TEST_P(Render, ClipRectLimitsClearingAndDrawing) {
  SetClipRect(10, 20, 30, 40);
  int x, y, w, h;
  GetClipRect(x, y, w, h);
  EXPECT_EQ(x * 1000 + y * 100 + w * 10 + h, 10 * 1000 + 20 * 100 + 30 * 10 + 40);
  SetClearColor(0, 0, 255);
  ClearScreen();
  SetDrawColor(255, 0, 0);
  FillRect(0, 0, W, H);
  ExpectNear(ScreenAt(10, 20), 255, 0, 0, 0, "top-left inside");
  ExpectNear(ScreenAt(39, 59), 255, 0, 0, 0, "bottom-right inside");
  ExpectNear(ScreenAt(9, 30), 0, 0, 0, 0, "left of the clip");
  ExpectNear(ScreenAt(20, 60), 0, 0, 0, 0, "below the clip");
  ExpectNear(ScreenAt(40, 30), 0, 0, 0, 0, "right of the clip");
  ExpectNear(ScreenAt(20, 19), 0, 0, 0, 0, "above the clip");
}

TEST_F(GLRender, ClipRectIsAScissorBoxMeasuredFromTheBottom) {
  SetClipRect(10, 20, 30, 40);
  GLint box[4];
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  EXPECT_EQ(box[0], 10);
  EXPECT_EQ(box[1], H - 20 - 40);  // measured from the bottom
  SetClipRect(0, 0, W, H);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
}

TEST_F(GLRender, OvalSegmentCount) {
  struct Case {
    float w, h;
    int segments;
  };
  const Case cases[] = {{10, 10, 12}, {100, 60, 80}, {2, 2, 12}, {30, 30, 28}, {-40, 20, 28}, {33, 34, 32}};
  for (const Case& c : cases) EXPECT_EQ(GLOvalSegments(0, 0, c.w, c.h), c.segments) << c.w << "x" << c.h;
}

TEST_P(Render, OvalsCoverTheMiddleOfEachSideButNotTheCorners) {
  // A 12-cornered 10 x 10 oval leaves the corners of its box empty but covers the
  // middle of each side.
  FillOval(20, 20, 100, 60);
  ExpectNear(ScreenAt(70, 50), 255, 255, 255, 0, "centre");
  ExpectNear(ScreenAt(22, 50), 255, 255, 255, 0, "left end");
  ExpectNear(ScreenAt(70, 22), 255, 255, 255, 0, "top");
  ExpectNear(ScreenAt(22, 22), 0, 0, 0, 0, "corner of the box");
}

TEST_F(GLRender, TextureOfA100x50ImageRepeatsItsLastColumnAndRow) {
  TImagePtr image = GradientImage(100, 50, 0);
  auto frame = std::dynamic_pointer_cast<TGLImageFrame>(image->Frame(0));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->texWidth, 128);
  EXPECT_EQ(frame->texHeight, 64);
  EXPECT_FLOAT_EQ(frame->u1, 0.78125f);
  EXPECT_FLOAT_EQ(frame->v1, 0.78125f);

  std::vector<uint32_t> texels(128 * 64);
  glBindTexture(GL_TEXTURE_2D, frame->name);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  // Renderer's binding cache is out of date now; a context reset brings it back.
  OpenGLRenderer()->ResetGLContext(TVex2DGraphics::Current());
  auto texel = [&](int x, int y) { return texels[static_cast<size_t>(y * 128 + x)]; };
  for (int y = 0; y < 50; ++y) EXPECT_EQ(texel(100, y), texel(99, y)) << "row " << y;
  for (int x = 0; x < 100; ++x) EXPECT_EQ(texel(x, 50), texel(x, 49)) << "column " << x;
  EXPECT_EQ(texel(100, 50), texel(99, 49));
  EXPECT_NE(texel(98, 10), texel(99, 10));  // the image itself is intact

  TImagePtr square = GradientImage(64, 64, 0);
  auto sq = std::dynamic_pointer_cast<TGLImageFrame>(square->Frame(0));
  ASSERT_NE(sq, nullptr);
  EXPECT_EQ(sq->texWidth, 64);
  EXPECT_FLOAT_EQ(sq->u1, 1.0f);
  EXPECT_FLOAT_EQ(sq->v1, 1.0f);
}

TEST_P(Render, ImageDrawsPixelExactAtItsHandle) {
  TImagePtr image = GradientImage(10, 8, 0);
  SetImageAnchor(image, 5, 4);
  BlitImage(image, 50, 60);
  // Image pixel (x, y) lands on screen (45 + x, 56 + y).
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 10; ++x) {
      Rgba c = ScreenAt(45 + x, 56 + y);
      EXPECT_EQ(c.r, 20 * x);
      EXPECT_EQ(c.g, 20 * y);
    }
  }
}

TEST_P(Render, RepeatImageCoversTheClipRect) {
  TImagePtr image = GradientImage(10, 10, 0);
  // Columns start at -9 for a position of -19, so column 0 shows image column 9.
  RepeatImage(image, -19, 3);
  TPixmapPtr p = CapturePixmap(0, 0, W, H);
  for (int y = 0; y < H; y += 7) {
    for (int x = 0; x < W; ++x) {
      Rgba c = At(p, x, y);
      ASSERT_EQ(c.r, 20 * ((x + 9) % 10)) << x << "," << y;
      ASSERT_EQ(c.g, 20 * (((y - 3) % 10 + 10) % 10)) << x << "," << y;
    }
  }
  // The drawing matrix comes back afterwards.
  SetDrawRotation(90);
  RepeatImage(image, 0, 0);
  EXPECT_EQ(At(CapturePixmap(0, 0, 1, 1), 0, 0).r, 0);
  EXPECT_EQ(At(CapturePixmap(1, 0, 1, 1), 0, 0).r, 20);
  EXPECT_NEAR(TVex2DGraphics::Current()->tform_jx, 1.0f, 1e-6);
}

TEST_P(Render, RepeatImageInsideAClipRect) {
  TImagePtr image = GradientImage(10, 10, 0);
  SetClipRect(33, 40, 50, 30);
  RepeatImage(image, 0, 0);
  SetClipRect(0, 0, W, H);
  TPixmapPtr p = CapturePixmap(0, 0, W, H);
  for (int y = 30; y < 80; ++y) {
    for (int x = 20; x < 100; ++x) {
      const bool inside = x >= 33 && x < 83 && y >= 40 && y < 70;
      Rgba c = At(p, x, y);
      if (inside) {
        ASSERT_EQ(c.r, 20 * (x % 10)) << x << "," << y;
        ASSERT_EQ(c.a, 255);
      } else {
        ASSERT_EQ(c.r + c.g + c.b, 0) << x << "," << y;
      }
    }
  }
}

TEST_P(Render, LinesPlotTheirLastPixelOnRequest) {
  DrawLineSegment(10, 100, 20, 100);
  ExpectNear(ScreenAt(20, 100), 255, 255, 255, 0, "end pixel plotted");
  ExpectNear(ScreenAt(15, 100), 255, 255, 255, 0, "middle");
  ClearScreen();
  DrawLineSegment(10, 100, 20, 100, 0);
  ExpectNear(ScreenAt(20, 100), 0, 0, 0, 0, "end pixel left out");
  ExpectNear(ScreenAt(10, 100), 255, 255, 255, 0, "start");
  PlotPoint(3, 4);
  ExpectNear(ScreenAt(3, 4), 255, 255, 255, 0, "plot");
}

TEST_P(Render, PolygonsNeedThreePointsAndAnEvenCount) {
  FillPolygon({10, 10, 20, 10, 20});            // odd count
  FillPolygon({10, 10, 20, 10});                // two points
  FillPolygon({10, 10, 20, 10, 20, 20, 10});    // seven values
  EXPECT_EQ(ScreenAt(18, 12).r, 0);
  SetDrawOrigin(100, 100);
  FillPolygon({10, 10, 30, 10, 30, 30, 10, 30});
  EXPECT_EQ(ScreenAt(120, 120).r, 255);
  EXPECT_EQ(ScreenAt(20, 20).r, 0);
}

TEST_P(Render, PixmapsDrawAndGrabExactly) {
  TPixmapPtr p = NewPixmap(7, 5, PIXFMT_RGB888);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) p->WritePixel(x, y, 0xFF000000u | uint32_t(x * 30) << 16 | uint32_t(y * 40) << 8 | 7);
  SetBlendMode(BLEND_ALPHA);
  BlitPixmap(p, 30, 40);
  EXPECT_EQ(GetBlendMode(), BLEND_ALPHA);
  TPixmapPtr back = CapturePixmap(30, 40, 7, 5);
  ASSERT_EQ(back->width, 7);
  ASSERT_EQ(back->height, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(back->ReadPixel(x, y) & 0xFFFFFF, p->ReadPixel(x, y) & 0xFFFFFF);
}

TEST_P(Render, CaptureToImageKeysOutTheMaskColour) {
  SetClearColor(0, 0, 0);
  ClearScreen();
  SetDrawColor(10, 20, 30);
  FillRect(0, 0, 4, 4);
  TImagePtr masked = NewImage(8, 4, 1, IMG_MASKED);
  CaptureToImage(masked, 0, 0);
  TPixmapPtr p = LockImagePixels(masked, 0, 1, 0);
  EXPECT_EQ(p->ReadPixel(1, 1), 0xFF0A141Eu);
  EXPECT_EQ(p->ReadPixel(6, 1) >> 24, 0u);  // black is the mask colour here
  TImagePtr plain = NewImage(8, 4, 1, 0);
  CaptureToImage(plain, 0, 0);
  EXPECT_EQ(LockImagePixels(plain, 0, 1, 0)->ReadPixel(6, 1) >> 24, 255u);
}

TEST_F(GLRender, RendererStateIsCachedAndClamped) {
  SetBlendMode(BLEND_ALPHA);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  glDisable(GL_BLEND);  // behind the renderer's back
  SetBlendMode(BLEND_ALPHA);
  EXPECT_FALSE(glIsEnabled(GL_BLEND)) << "a repeated mode is not set up again";
  SetBlendMode(BLEND_LIGHT);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));

  struct Case {
    float alpha;
    int byte;
  };
  for (Case c : {Case{1.5f, 255}, Case{-1.0f, 0}, Case{0.5f, 127}, Case{NAN, 0}, Case{1.0f, 255}}) {
    SetDrawAlpha(c.alpha);
    GLfloat col[4];
    glGetFloatv(GL_CURRENT_COLOR, col);
    EXPECT_EQ(static_cast<int>(std::lround(col[3] * 255)), c.byte) << c.alpha;
  }
  SetDrawColor(300, -5, 128);
  GLfloat col[4];
  glGetFloatv(GL_CURRENT_COLOR, col);
  EXPECT_EQ(std::lround(col[0] * 255), 255);
  EXPECT_EQ(std::lround(col[1] * 255), 0);
  EXPECT_EQ(std::lround(col[2] * 255), 128);
  int r, g, b;
  GetDrawColor(r, g, b);
  EXPECT_EQ(r, 300);  // stored as given
}

TEST_F(GLRender, HelperTextDrawsTheBuiltInGlyphs) {
  GLDrawText(u"A~", 40, 50);
  const unsigned char* font = nullptr;
  size_t size = 0;
  ASSERT_TRUE(FindIncbin("gldrawtextfont.bin", &font, &size));
  ASSERT_EQ(size, 1536u);
  TPixmapPtr p = CapturePixmap(40, 50, 16, 16);
  int lit = 0;
  for (int glyph = 0; glyph < 2; ++glyph) {
    const int code = glyph == 0 ? 'A' : '~';
    for (int row = 0; row < 16; ++row) {
      for (int x = 0; x < 8; ++x) {
        const bool set = (font[row * 96 + code - 32] >> x) & 1;
        lit += set;
        EXPECT_EQ(At(p, glyph * 8 + x, row).r, set ? 255 : 0) << char(code) << " " << x << "," << row;
      }
    }
  }
  EXPECT_GT(lit, 10);
  GLDrawRect(100, 100, 5, 5);
  EXPECT_EQ(ScreenAt(102, 102).r, 255);
}

TEST_F(GLRender, HelperTextureFromPixmapIsMipmappedToOne) {
  TPixmapPtr p = NewPixmap(5, 3, PIXFMT_RGBA8888);
  p->ClearPixels(0xFF336699u);
  SwapSharedContext();
  GLuint name = GLTexFromPixmap(p, true);
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w0 = 0, h0 = 0, w3 = 0, h3 = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w0);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h0);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 3, GL_TEXTURE_WIDTH, &w3);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 3, GL_TEXTURE_HEIGHT, &h3);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDeleteTextures(1, &name);
  SwapSharedContext();
  EXPECT_EQ(w0, 8);
  EXPECT_EQ(h0, 4);
  EXPECT_EQ(w3, 1);
  EXPECT_EQ(h3, 1);
}

// Rows of the built-in font's "A", leftmost pixel in bit 0.
constexpr int kRowsOfA[16] = {0, 0, 124, 198, 198, 198, 254, 198, 198, 198, 198, 0, 0, 0, 0, 0};

TEST_P(Render, BuiltInFontDrawsItsBitmap) {
  SetClearColor(0, 0, 200);
  ClearScreen();
  SetBlendMode(BLEND_ALPHA);
  UseTextFont(nullptr);
  DrawString(u"A\u00C8A", 20, 30);  // code 200 has no glyph and takes no room
  TPixmapPtr p = CapturePixmap(20, 30, 24, 16);
  for (int glyph = 0; glyph < 2; ++glyph) {
    for (int row = 0; row < 16; ++row) {
      for (int x = 0; x < 8; ++x) {
        const bool set = (kRowsOfA[row] >> x) & 1;
        ASSERT_EQ(At(p, glyph * 8 + x, row).b, set ? 255 : 200) << glyph << ": " << x << "," << row;
      }
    }
  }
  for (int row = 0; row < 16; ++row) ASSERT_EQ(At(p, 16 + 3, row).b, 200) << "nothing past two glyphs";
}

TEST_P(Render, TextFollowsTheDrawingRotation) {
  SetBlendMode(BLEND_ALPHA);
  UseTextFont(nullptr);
  SetDrawRotation(90);
  DrawString(u"AA", 100, 20);
  // Glyph pixel (cx, cy) of the n-th character lands on (99 - cy, 20 + 8n + cx).
  for (int n = 0; n < 2; ++n) {
    for (int row = 0; row < 16; ++row) {
      for (int x = 0; x < 8; ++x) {
        const bool set = (kRowsOfA[row] >> x) & 1;
        ASSERT_EQ(ScreenAt(99 - row, 20 + 8 * n + x).r, set ? 255 : 0) << n << ": " << x << "," << row;
      }
    }
  }
}

TEST_P(Render, SmoothTrueTypeGlyphsCarryATransparentBorder) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  TImageFontPtr font = LoadTextFont(path, 24, FONT_SMOOTH);
  if (!font) ORMIX_SKIP_OR_FAIL() << "no " << path;
  TImageGlyphPtr glyph = font->LoadGlyph(font->CharToGlyph('H'));
  ASSERT_NE(glyph, nullptr);
  ASSERT_NE(glyph->_image, nullptr);
  EXPECT_EQ(glyph->_image->flags & (IMG_FILTERED | IMG_MIPMAPPED), IMG_FILTERED | IMG_MIPMAPPED);
  EXPECT_EQ(glyph->_image->width, glyph->_w);
  if (auto frame = std::dynamic_pointer_cast<TGLImageFrame>(glyph->_image->Frame(0))) {
    GLint minFilter = 0;
    glBindTexture(GL_TEXTURE_2D, frame->name);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glBindTexture(GL_TEXTURE_2D, 0);
    OpenGLRenderer()->ResetGLContext(TVex2DGraphics::Current());
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
  } else {
    EXPECT_NE(glyph->_image->Frame(0), nullptr);
  }

  SetBlendMode(BLEND_ALPHA);
  UseTextFont(font);
  DrawString(u"H", 50, 100);
  // The stems start one pixel inside the glyph image: its border column stays empty.
  const int left = 50 + glyph->_x;
  const int top = 100 + glyph->_y;
  const int midRow = top + glyph->_h / 2;
  int borderLit = 0, stemLit = 0;
  for (int y = top + 1; y < top + glyph->_h - 1; ++y) {
    borderLit += ScreenAt(left, y).r;
    stemLit += ScreenAt(left + 1, y).r + ScreenAt(left + 2, y).r;
  }
  EXPECT_EQ(borderLit, 0);
  EXPECT_GT(stemLit, 0);
  EXPECT_GT(ScreenAt(left + 2, midRow).r, 100);
  UseTextFont(nullptr);
}

}  // namespace

// Sizes and positions a game may compute from a bad value: drawn as far as they can be
// seen, quickly, with no overflow; the same pictures as the software renderer gives.
TEST_P(Render, ExtremeSizesDrawWhatCanBeSeen) {
  TImagePtr white = NewImage(2, 2, 1, 0);
  TPixmapPtr p = LockImagePixels(white, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) p->WritePixel(x, y, 0xFFFFFFFFu);
  UnlockImagePixels(white, 0);
  auto whitePixels = [] {
    TPixmapPtr s = CapturePixmap(0, 0, W, H);
    int n = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) n += (s->ReadPixel(x, y) & 0xFFFFFFu) == 0xFFFFFFu;
    return n;
  };
  struct Case {
    const char* what;
    std::function<void()> draw;
    int white;
  };
  const Case cases[] = {
      {"an oval of radius 5e8 around the screen", [] { FillOval(100 - 5e8f, 100 - 5e8f, 1e9f, 1e9f); }, W * H},
      {"an oval of radius 5e8 beside the screen", [] { FillOval(1e6f, 1e6f, 1e9f, 1e9f); }, 0},
      {"an image scaled to 5e6 pixels", [&] { BlitImageScaled(white, -10, -10, 5e6f, 5e6f); }, W * H},
      {"tiles over a clip rectangle of the whole int range",
       [&] {
         SetClipRect(-2000000000, -2000000000, 2147483647, 2147483647);
         RepeatImage(white, 0, 0);
       },
       W * H},
      {"tiles far away", [&] { RepeatImage(white, 3e9f, -3e9f); }, W * H},
  };
  for (const Case& c : cases) {
    SetClipRect(0, 0, W, H);
    ClearScreen();
    c.draw();
    SetClipRect(0, 0, W, H);
    EXPECT_EQ(whitePixels(), c.white) << c.what;
  }
}
