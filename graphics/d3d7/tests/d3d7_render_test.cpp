// The DirectX 7 renderer through the 2D drawing layer, with exact pixels read back from
// the render surface: blend modes, colour and alpha, rotation and scale, clipping, wide
// lines, ovals, polygons, masked/filtered/mipmapped images, text, pixmaps, frames and
// device re-creation.
#include <SDL.h>
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "graphics/d3d7/d3d7renderer.h"
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>
#include <ormix/system/system.h>

namespace {

constexpr int W = 64, H = 48;

class D3D7Render : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    InitSystemModule();
    InitD3D7Module();
    r = D3D7Renderer();
    ASSERT_NE(r, nullptr);
    UseGraphicsDriver(r, GFX_BACKBUFFER);
    ASSERT_NE(OpenScreen(W, H, 0, 0, 0), nullptr);
    SetClearColor(0, 0, 0);
    ClearScreen();
    SetBlendMode(BLEND_SOLID);
  }
  void TearDown() override { CloseScreen(); }

  uint32_t At(int x, int y) { return r->d3d7graphics->RenderSurface()->Row(y)[x] & 0xFFFFFFu; }
  int Count(uint32_t c) {
    int n = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) n += At(x, y) == c;
    return n;
  }
  // Bounding box (left, top, right, bottom exclusive) of pixels of colour c.
  std::array<int, 4> Box(uint32_t c) {
    std::array<int, 4> b{W, H, -1, -1};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (At(x, y) == c) {
          b[0] = std::min(b[0], x);
          b[1] = std::min(b[1], y);
          b[2] = std::max(b[2], x + 1);
          b[3] = std::max(b[3], y + 1);
        }
    return b;
  }
  static TPixmapPtr Pixels(int w, int h, std::initializer_list<uint32_t> argb) {
    auto p = TPixmap::Create(w, h, PIXFMT_RGBA8888);
    auto it = argb.begin();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) p->WritePixel(x, y, *it++);
    return p;
  }

  TD3D7Vex2DDriver* r = nullptr;
};

TEST_F(D3D7Render, ScreenContextAndState) {
  EXPECT_EQ(ToUtf8(r->ToString()), "DirectX7");
  EXPECT_EQ(ScreenWidth(), W);
  EXPECT_EQ(ScreenHeight(), H);
  EXPECT_EQ(CurrentGraphics()->Driver(), r);
  // A second context cannot be full screen while one is open; full screen needs a mode.
  EXPECT_EQ(D3D7GraphicsDriver()->CreateGraphics(W, H, 32, 60, 0), nullptr);
  // Alpha and colour go into the vertex colour, clamped.
  struct {
    float alpha;
    uint32_t top;
  } alphas[] = {{1.5f, 255}, {-1, 0}, {0.5f, 127}, {NAN, 0}, {1, 255}};
  for (auto& a : alphas) {
    r->SetAlpha(a.alpha);
    EXPECT_EQ(r->drawcolor >> 24, a.top) << a.alpha;
  }
  r->SetColor(300, -5, 128);
  EXPECT_EQ(r->drawcolor & 0xFFFFFFu, 0xFF0080u);
  EXPECT_EQ(r->cverts[2].color, r->drawcolor);
  // Repeated blend modes and values outside 1-5 change nothing.
  r->SetBlend(3);
  EXPECT_EQ(r->activeBlend, 3);
  r->SetBlend(9);
  EXPECT_EQ(r->activeBlend, 3);
}

TEST_F(D3D7Render, FullScreenModeChoice) {
  const std::vector<TGraphicsMode> modes = {
      {800, 600, 16, 60}, {800, 600, 32, 60}, {800, 600, 32, 75}, {800, 600, 32, 72},
      {800, 600, 24, 85}, {640, 480, 32, 60},
  };
  struct Case {
    int depth, hertz;
    bool ok;
    int gotDepth, gotHertz;
  } cases[] = {
      {32, 60, true, 32, 60}, {32, 74, true, 32, 75}, {32, 73, true, 32, 72},
      {24, 60, true, 24, 85}, {16, 99, true, 16, 60}, {8, 0, true, 32, 60},
  };
  for (const Case& c : cases) {
    TGraphicsMode m;
    EXPECT_EQ(ChooseD3D7Mode(modes, 800, 600, c.depth, c.hertz, m), c.ok);
    EXPECT_EQ(m.depth, c.gotDepth) << c.depth << "@" << c.hertz;
    EXPECT_EQ(m.hertz, c.gotHertz) << c.depth << "@" << c.hertz;
  }
  TGraphicsMode m;
  EXPECT_FALSE(ChooseD3D7Mode(modes, 1024, 768, 32, 60, m));
}

TEST_F(D3D7Render, BlendModesOnAGreyBackground) {
  struct Case {
    int mode;
    int red, green, blue;
    float alpha;
    uint32_t expect;
  } cases[] = {
      {BLEND_SOLID, 255, 0, 0, 0.25f, 0xFF0000u},
      {BLEND_MASK, 255, 0, 0, 0.75f, 0xFF0000u},
      {BLEND_MASK, 255, 0, 0, 0.25f, 0x808080u},
      {BLEND_ALPHA, 255, 0, 0, 0.5f, 0xBF4040u},
      {BLEND_LIGHT, 255, 0, 0, 0.5f, 0xFF8080u},
      {BLEND_SHADE, 255, 128, 0, 1.0f, 0x804000u},
  };
  for (const Case& c : cases) {
    SetBlendMode(BLEND_SOLID);
    SetClearColor(128, 128, 128);
    ClearScreen();
    SetBlendMode(c.mode);
    SetDrawColor(c.red, c.green, c.blue);
    SetDrawAlpha(c.alpha);
    FillRect(4, 4, 8, 8);
    EXPECT_EQ(At(6, 6), c.expect) << "mode " << c.mode;
    EXPECT_EQ(At(3, 3), 0x808080u);
    EXPECT_EQ(Count(At(6, 6)), c.expect == 0x808080u ? W * H : 64) << "mode " << c.mode;
  }
}

TEST_F(D3D7Render, HandleRotationAndScale) {
  SetDrawHandle(8, 8);
  FillRect(20, 20, 16, 16);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{12, 12, 28, 28}));
  ClearScreen();
  SetDrawHandle(0, 0);
  SetDrawRotation(90);  // the rectangle's x axis points down the screen
  FillRect(30, 10, 10, 5);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{25, 10, 30, 20}));
  EXPECT_EQ(Count(0xFFFFFFu), 50);
  ClearScreen();
  SetDrawRotation(0);
  SetDrawScale(2, 3);
  FillRect(1, 2, 4, 4);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{1, 2, 9, 14}));
}

TEST_F(D3D7Render, ClipRectLimitsDrawingAndClearing) {
  SetClipRect(10, 5, 20, 15);
  SetClearColor(0, 0, 255);
  ClearScreen();
  EXPECT_EQ(Box(0x0000FFu), (std::array<int, 4>{10, 5, 30, 20}));
  FillRect(0, 0, W, H);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{10, 5, 30, 20}));
  EXPECT_EQ(Count(0xFFFFFFu), 300);
  PlotPoint(9, 5);
  PlotPoint(30, 19);
  DrawLineSegment(0, 25, 40, 25);
  EXPECT_EQ(Count(0xFFFFFFu), 300);
  // The full window turns clipping off again.
  SetClipRect(0, 0, W, H);
  PlotPoint(0, 0);
  EXPECT_EQ(At(0, 0), 0xFFFFFFu);
}

TEST_F(D3D7Render, PointsAndLines) {
  PlotPoint(3, 4);
  EXPECT_EQ(At(3, 4), 0xFFFFFFu);
  EXPECT_EQ(Count(0xFFFFFFu), 1);
  ClearScreen();
  DrawLineSegment(2, 10, 20, 10);  // with its last pixel
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{2, 10, 21, 11}));
  ClearScreen();
  DrawLineSegment(2, 10, 20, 10, 0);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{2, 10, 20, 11}));
  ClearScreen();
  // Wide lines are quads widened across the minor axis.
  SetLineThickness(3);
  DrawLineSegment(2, 10, 20, 10, 0);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{2, 9, 20, 12}));
  EXPECT_EQ(Count(0xFFFFFFu), 18 * 3);
  ClearScreen();
  DrawLineSegment(30, 5, 32, 25, 0);  // steep: widened in x
  for (int y = 6; y < 24; ++y) {
    int n = 0;
    for (int x = 0; x < W; ++x) n += At(x, y) == 0xFFFFFFu;
    EXPECT_EQ(n, 3) << y;
  }
}

TEST_F(D3D7Render, OvalsAndPolygons) {
  FillOval(10, 10, 20, 20);
  EXPECT_EQ(At(20, 20), 0xFFFFFFu);
  EXPECT_EQ(At(10, 10), 0u);
  EXPECT_EQ(At(29, 29), 0u);
  EXPECT_EQ(At(11, 20), 0xFFFFFFu);
  EXPECT_EQ(At(20, 11), 0xFFFFFFu);
  const int n = Count(0xFFFFFFu);
  EXPECT_GT(n, 290);  // pi * 100 minus the chords of 20 segments
  EXPECT_LT(n, 320);
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{10, 10, 30, 30}));
  ClearScreen();
  FillPolygon({0, 0, 20, 0, 0, 20});
  EXPECT_EQ(Count(0xFFFFFFu), 190);  // centres strictly inside x + y < 20
  ClearScreen();
  FillPolygon({0, 0, 20, 0});
  FillPolygon({0, 0, 20, 0, 0, 20, 5});
  EXPECT_EQ(Count(0xFFFFFFu), 0);
  SetDrawOrigin(30, 10);
  SetDrawHandle(-2, -3);
  FillPolygon({0, 0, 4, 0, 4, 4, 0, 4});
  EXPECT_EQ(Box(0xFFFFFFu), (std::array<int, 4>{32, 13, 36, 17}));
}

TEST_F(D3D7Render, MaskedAndAlphaImages) {
  // Magenta keyed out by the mask colour; a half-transparent pixel stays half.
  SetImageMaskColor(255, 0, 255);
  auto rgb = TPixmap::Create(2, 2, PIXFMT_RGB888);
  rgb->WritePixel(0, 0, 0xFFFF00FFu);
  rgb->WritePixel(1, 0, 0xFF00FF00u);
  rgb->WritePixel(0, 1, 0xFF0000FFu);
  rgb->WritePixel(1, 1, 0xFFFF00FFu);
  TImagePtr img = LoadImageFile(rgb, IMG_MASKED);
  ASSERT_NE(img, nullptr);
  SetClearColor(10, 20, 30);
  ClearScreen();
  SetBlendMode(BLEND_MASK);
  BlitImage(img, 5, 6);
  EXPECT_EQ(At(5, 6), 0x0A141Eu);
  EXPECT_EQ(At(6, 6), 0x00FF00u);
  EXPECT_EQ(At(5, 7), 0x0000FFu);
  EXPECT_EQ(At(6, 7), 0x0A141Eu);
  // Tinted by the colour, faded by alpha.
  SetBlendMode(BLEND_ALPHA);
  SetDrawColor(255, 0, 0);
  TImagePtr white = LoadImageFile(Pixels(1, 1, {0x80FFFFFFu}), 0);
  BlitImage(white, 20, 20);
  EXPECT_EQ(At(20, 20), 0x850A0Fu);
  SetDrawColor(255, 255, 255);
  SetDrawAlpha(0.5f);
  TImagePtr opaque = LoadImageFile(Pixels(1, 1, {0xFFFFFFFFu}), 0);
  BlitImage(opaque, 21, 20);
  EXPECT_EQ(At(21, 20), 0x84898Eu);
}

TEST_F(D3D7Render, FilteredScaledAndRotatedImages) {
  TPixmapPtr p = Pixels(2, 1, {0xFFFF0000u, 0xFF0000FFu});
  TImagePtr plain = LoadImageFile(p, 0);
  TImagePtr filtered = LoadImageFile(p, IMG_FILTERED);
  BlitImageScaled(plain, 0, 0, 8, 1);
  EXPECT_EQ(At(3, 0), 0xFF0000u);
  EXPECT_EQ(At(4, 0), 0x0000FFu);
  BlitImageScaled(filtered, 0, 2, 8, 1);
  // Texel centres lie at x = 2 and 6 (between pixels 1|2 and 5|6); outside them the
  // edge texel holds (texture coordinates clamp, as in the OpenGL renderer).
  EXPECT_EQ(At(0, 2), 0xFF0000u);
  EXPECT_EQ(At(1, 2), 0xFF0000u);
  EXPECT_EQ(At(2, 2), 0xDF001Fu);
  EXPECT_EQ(At(3, 2), 0x9F005Fu);
  EXPECT_EQ(At(4, 2), 0x5F009Fu);
  EXPECT_EQ(At(5, 2), 0x1F00DFu);
  EXPECT_EQ(At(6, 2), 0x0000FFu);
  EXPECT_EQ(At(7, 2), 0x0000FFu);
  // Rotated by 180 degrees about the handle, the image is mirrored.
  SetDrawRotation(180);
  BlitImage(plain, 40, 20);
  EXPECT_EQ(At(39, 19), 0xFF0000u);
  EXPECT_EQ(At(38, 19), 0x0000FFu);
}

// A filtered image whose sides are powers of two fills its texture exactly; scaled or
// rotated, its edges show its own edge texels, never the opposite edge.
TEST_F(D3D7Render, FilteredImagesDoNotBleedAcrossTheirEdges) {
  // Left column red, right column blue; top row opaque, bottom row green.
  TPixmapPtr p = Pixels(2, 2, {0xFFFF0000u, 0xFF0000FFu, 0xFF00FF00u, 0xFF00FF00u});
  TImagePtr img = LoadImageFile(p, IMG_FILTERED);
  struct Case {
    const char* what;
    float rotation, scale;
    float x, y;                       // where the image is drawn
    int px, py;                       // an outer pixel
    uint32_t want;
  };
  const Case cases[] = {
      {"scaled, top left", 0, 8, 0, 0, 0, 0, 0xFF0000u},
      {"scaled, top right", 0, 8, 0, 0, 15, 0, 0x0000FFu},
      {"scaled, bottom left", 0, 8, 0, 0, 0, 15, 0x00FF00u},
      {"rotated, top right", 90, 8, 40, 0, 39, 0, 0xFF0000u},
      {"rotated, bottom right", 90, 8, 40, 0, 39, 15, 0x0000FFu},
      {"rotated, bottom left", 90, 8, 40, 0, 24, 15, 0x00FF00u},
  };
  for (const Case& c : cases) {
    SetDrawRotation(c.rotation);
    SetDrawScale(c.scale, c.scale);
    ClearScreen();
    BlitImage(img, c.x, c.y);
    EXPECT_EQ(At(c.px, c.py), c.want) << c.what;
  }
}

TEST_F(D3D7Render, MipmappedFramesAverageWithMix) {
  // Columns alternate black and white: every coarser level is Mix of the two.
  auto p = TPixmap::Create(8, 8, PIXFMT_RGBA8888);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) p->WritePixel(x, y, (x & 1) ? 0xFFFFFFFFu : 0xFF000000u);
  TImagePtr img = LoadImageFile(p, IMG_MIPMAPPED);
  BlitImageScaled(img, 0, 0, 2, 2);
  const uint32_t grey = TD3D7ImageFrame::Mix(0xFFFFFFFFu, 0xFF000000u) & 0xFFFFFFu;
  EXPECT_EQ(grey, 0x808080u);
  EXPECT_EQ(At(0, 0), grey);
  EXPECT_EQ(At(1, 1), grey);
  BlitImageScaled(img, 10, 0, 8, 8);  // level 0 at full size
  EXPECT_EQ(At(10, 0), 0u);
  EXPECT_EQ(At(11, 0), 0xFFFFFFu);
}

TEST_F(D3D7Render, FrameSurfacesSmearEdgesAndBuildMips) {
  struct {
    uint32_t a, b, mix;
  } mixes[] = {{0xFF000000u, 0x00FFFFFFu, 0x80808080u},
               {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
               {0, 0, 0},
               {0x08080808u, 0x08080808u, 0x09090909u},
               {0x02000000u, 0x00000002u, 0x01000001u}};
  for (auto& m : mixes) EXPECT_EQ(TD3D7ImageFrame::Mix(m.a, m.b), m.mix) << std::hex << m.a;

  auto p = TPixmap::Create(3, 3, PIXFMT_RGBA8888);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) p->WritePixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 16 + y));
  for (int flags : {0, IMG_MIPMAPPED}) {
    auto f = std::static_pointer_cast<TD3D7ImageFrame>(r->CreateFrameFromPixmap(p, flags));
    ASSERT_NE(f, nullptr);
    EXPECT_FLOAT_EQ(f->xyzuv[2].tu, 0.75f);
    TDDSurface7Ptr s = f->surface->surface;
    ASSERT_EQ(s->Width(), 4);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(s->Row(y)[3], s->Row(y)[2]);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(s->Row(3)[x], s->Row(2)[x]);
    if (flags) {
      ASSERT_EQ(s->Levels().size(), 3u);
      TDDSurface7* l1 = s->Levels()[1];
      uint32_t want = TD3D7ImageFrame::Mix(TD3D7ImageFrame::Mix(s->Row(0)[0], s->Row(0)[1]),
                                           TD3D7ImageFrame::Mix(s->Row(1)[0], s->Row(1)[1]));
      EXPECT_EQ(l1->Row(0)[0], want);
      EXPECT_EQ(s->Levels()[2]->Row(0)[0],
                TD3D7ImageFrame::Mix(TD3D7ImageFrame::Mix(l1->Row(0)[0], l1->Row(0)[1]),
                                     TD3D7ImageFrame::Mix(l1->Row(1)[0], l1->Row(1)[1])));
    }
  }
  // A 5 x 2 mipmapped frame smears into every remaining column and row.
  auto q = TPixmap::Create(5, 2, PIXFMT_RGBA8888);
  q->ClearPixels(0xFF123456u);
  q->WritePixel(4, 0, 0xFFABCDEFu);
  auto f = std::static_pointer_cast<TD3D7ImageFrame>(r->CreateFrameFromPixmap(q, IMG_MIPMAPPED));
  TDDSurface7Ptr s = f->surface->surface;
  for (int x = 5; x < 8; ++x) EXPECT_EQ(s->Row(0)[x], 0xFFABCDEFu);
  auto g = std::static_pointer_cast<TD3D7ImageFrame>(r->CreateFrameFromPixmap(q, 0));
  EXPECT_EQ(g->surface->surface->Row(0)[5], 0xFFABCDEFu);
  EXPECT_EQ(g->surface->surface->Row(0)[6], 0u);
  // Locking for reading shows the pixels in BGRA order; a second lock fails.
  TPixmapPtr view = g->Lock(1, 0);
  EXPECT_EQ(view->format, PIXFMT_BGRA8888);
  EXPECT_EQ(view->ReadPixel(4, 0), 0xFFABCDEFu);
  try {
    g->Lock(1, 0);
    ADD_FAILURE() << "second lock";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "DD3D7ImageFrame Lock failed");
  }
  g->Unlock();
  try {
    r->CreateFrameWithSize(5000, 8, 0);
    ADD_FAILURE() << "oversized surface";
  } catch (const TRuntimeException& e) {
    EXPECT_STREQ(e.what(), "Create DX7 surface Failed");
  }
}

TEST_F(D3D7Render, TextWithTheBuiltInAndATrueTypeFont) {
  SetBlendMode(BLEND_ALPHA);
  DrawString(u"A", 4, 2);
  // Row 2 of "A" is 124: columns 2 to 6 of the cell.
  for (int x = 0; x < 8; ++x) EXPECT_EQ(At(4 + x, 4), (x >= 2 && x <= 6) ? 0xFFFFFFu : 0u) << x;
  const char* ttf = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  TImageFontPtr font = LoadTextFont(ttf, 24, 4);
  if (!font) ORMIX_SKIP_OR_FAIL() << "no TrueType font at " << ttf;
  ClearScreen();
  UseTextFont(font);
  DrawString(u"O", 10, 5);
  // The glyph's coverage becomes the grey level on black, pixel for pixel.
  TImageGlyphPtr glyph = font->LoadGlyph(font->CharToGlyph('O'));
  ASSERT_TRUE(glyph && glyph->_image);
  TPixmapPtr cov = glyph->_image->pixmaps[0];
  int lit = 0;
  for (int y = 0; y < cov->height; ++y)
    for (int x = 0; x < cov->width; ++x) {
      uint32_t a = cov->ReadPixel(x, y) >> 24;
      uint32_t px = At(10 + glyph->_x + x, 5 + glyph->_y + y);
      ASSERT_EQ(px, a << 16 | a << 8 | a) << x << "," << y;
      lit += a > 0;
    }
  EXPECT_GT(lit, 50);
}

TEST_F(D3D7Render, PixmapsDrawAndGrabThroughSystemSurfaces) {
  TPixmapPtr p = Pixels(2, 2, {0xFF112233u, 0x00445566u, 0xFF778899u, 0xFFAABBCCu});
  BlitPixmap(p, 10, 10);
  EXPECT_EQ(At(10, 10), 0x112233u);
  EXPECT_EQ(At(11, 10), 0x445566u);  // copied, alpha ignored
  BlitPixmap(p, -1, H - 1);          // clipped at the edges
  EXPECT_EQ(At(0, H - 1), 0x445566u);
  TPixmapPtr g = CapturePixmap(9, 9, 4, 4);
  ASSERT_EQ(g->format, PIXFMT_RGBA8888);
  EXPECT_EQ(g->ReadPixel(1, 1), 0xFF112233u);
  EXPECT_EQ(g->ReadPixel(3, 2), 0xFFAABBCCu - 0xFFAABBCCu + 0xFF000000u);
  EXPECT_EQ(g->ReadPixel(2, 2), 0xFFAABBCCu);
  TPixmapPtr edge = CapturePixmap(W - 1, 0, 3, 1);  // outside the window reads black
  EXPECT_EQ(edge->ReadPixel(2, 0), 0xFF000000u);
}

TEST_F(D3D7Render, ModeChangeRebuildsDeviceAndFrames) {
  TImagePtr img = LoadImageFile(Pixels(1, 1, {0xFF00FF00u}), 0);
  BlitImage(img, 1, 1);
  EXPECT_EQ(At(1, 1), 0x00FF00u);
  auto before = img->frames[0];
  const int gen = GraphicsGeneration();
  DDNotifyDisplayModeChange();
  ShowFrame(0);
  EXPECT_NE(GraphicsGeneration(), gen);
  EXPECT_TRUE(D3D7GraphicsDriver()->_valid);
  // State came back through the 2D context, and the image is rebuilt on its next draw.
  SetDrawColor(255, 255, 255);
  ClearScreen();
  BlitImage(img, 2, 2);
  EXPECT_EQ(At(2, 2), 0x00FF00u);
  EXPECT_NE(img->frames[0], before);
  ShowFrame(0);
}

TEST_F(D3D7Render, LostSurfacesAreRestoredAtTheNextFrame) {
  D3D7GraphicsDriver()->DirectDraw7()->LoseAllSurfaces();
  FillRect(0, 0, 4, 4);  // refused while the surfaces are lost
  EXPECT_EQ(Count(0xFFFFFFu), 0);
  const int gen = GraphicsGeneration();
  ShowFrame(0);
  EXPECT_EQ(GraphicsGeneration(), gen);  // restored, not made again
  FillRect(0, 0, 4, 4);
  EXPECT_EQ(Count(0xFFFFFFu), 16);
}

// Frames whose surfaces hold restore nothing; a loss is repaired once, at the next frame.
TEST_F(D3D7Render, SurfacesAreRestoredOnlyWhenLost) {
  TDirectDraw7Ptr dd = D3D7GraphicsDriver()->DirectDraw7();
  const int before = dd->RestoreCount();
  for (int i = 0; i < 5; ++i) ShowFrame(0);
  EXPECT_EQ(dd->RestoreCount(), before);
  dd->LoseAllSurfaces();
  ShowFrame(0);
  EXPECT_EQ(dd->RestoreCount(), before + 1);
  for (int i = 0; i < 5; ++i) ShowFrame(0);
  EXPECT_EQ(dd->RestoreCount(), before + 1);
  FillRect(0, 0, 4, 4);
  EXPECT_EQ(Count(0xFFFFFFu), 16);
}

TEST_F(D3D7Render, ResultCodeNames) {
  EXPECT_EQ(D3D7ResultName(DD_OK), "OK");
  EXPECT_EQ(D3D7ResultName(DDERR_SURFACELOST), "SURFACELOST");
  EXPECT_EQ(D3D7ResultName(static_cast<int32_t>(0x80004005u)), "UNKNOWN:-2147467259 16389");
}

TEST(D3D7FullScreen, OneExclusiveContextWithAFlippingChain) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  InitSystemModule();
  InitD3D7Module();
  TD3D7Vex2DDriver* r = D3D7Renderer();
  ASSERT_NE(r, nullptr);
  UseGraphicsDriver(r, GFX_BACKBUFFER);
  std::vector<TGraphicsMode> modes = ListGraphicsModes();
  if (modes.empty()) GTEST_SKIP() << "the display lists no modes";
  const TGraphicsMode m = modes[0];
  TGraphicsPtr g = OpenScreen(m.width, m.height, m.depth, 60, 0);
  if (!g) GTEST_SKIP() << "the display refuses full screen";
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  EXPECT_EQ(drv->_n_fullscreen, 1);
  EXPECT_EQ(ScreenDepth(), m.depth);
  EXPECT_EQ(ScreenHertz(), m.hertz);  // the chosen mode's rate replaces the request
  EXPECT_EQ(drv->CooperativeLevelForTest(), DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
  // No second context of any kind while full screen.
  EXPECT_EQ(r->CreateGraphics(64, 48, 0, 60, 0), nullptr);
  SDL_Window* other = SDL_CreateWindow("x", 0, 0, 8, 8, 0);
  EXPECT_EQ(r->AttachGraphics(other, 0), nullptr);
  SDL_DestroyWindow(other);
  // Drawing goes to the back buffer; a flip shows it and swaps the buffers.
  SetClearColor(0, 0, 255);
  ClearScreen();
  SetBlendMode(BLEND_SOLID);
  FillRect(1, 1, 2, 2);
  TDDSurface7Ptr back = r->d3d7graphics->RenderSurface();
  EXPECT_EQ(back->Row(1)[1], 0xFFFFFFFFu);
  ShowFrame(0);
  EXPECT_NE(back->Row(1)[1], 0xFFFFFFFFu);  // the back buffer now holds the older frame
  CloseScreen();
  EXPECT_EQ(drv->_n_fullscreen, 0);
  EXPECT_EQ(drv->_n_graphics, 0);
  EXPECT_EQ(drv->DirectDraw7(), nullptr);  // released with the last context
}

}  // namespace

// Sizes and positions a game may compute from a bad value: drawn as far as they can be
// seen, quickly, with no overflow. Each case starts from a cleared screen and reports how
// many of the screen's pixels end up white.
TEST_F(D3D7Render, ExtremeSizesDrawWhatCanBeSeen) {
  TImagePtr white = LoadImageFile(Pixels(2, 2, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}), 0);
  ASSERT_NE(white, nullptr);
  struct Case {
    const char* what;
    std::function<void()> draw;
    int white;  // pixels expected white
  };
  const Case cases[] = {
      {"an oval of radius 5e8 around the screen", [] { FillOval(32 - 5e8f, 24 - 5e8f, 1e9f, 1e9f); }, W * H},
      {"an oval of radius 5e8 beside the screen", [] { FillOval(1e6f, 1e6f, 1e9f, 1e9f); }, 0},
      {"an oval of size 1e12", [] { FillOval(-5e11f, -5e11f, 1e12f, 1e12f); }, W * H},
      {"an oval of size 1e30 (beyond any precision: only that it ends)",
       [] { FillOval(-5e29f, -5e29f, 1e30f, 1e30f); }, -1},
      {"an image scaled to 5e6 pixels", [&] { BlitImageScaled(white, -10, -10, 5e6f, 5e6f); }, W * H},
      {"an image scaled to 5e6 pixels off the screen", [&] { BlitImageScaled(white, 1e7f, 0, 5e6f, 5e6f); }, 0},
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
    if (c.white >= 0) {
      EXPECT_EQ(Count(0xFFFFFFu), c.white) << c.what;
    }
  }
  SetClipRect(0, 0, W, H);
}

// The render surface of a window follows the window's size from the next frame on.
TEST_F(D3D7Render, ResizedWindowGetsASurfaceOfItsNewSize) {
  TD3D7GraphicsPtr g = D3D7GraphicsDriver()->Graphics();
  ASSERT_TRUE(g && g->_hwnd);
  SDL_SetWindowSize(g->_hwnd, W + 40, H + 20);
  int w = 0, h = 0;
  SDL_GetWindowSize(g->_hwnd, &w, &h);
  if (w != W + 40 || h != H + 20) GTEST_SKIP() << "this video driver does not resize windows";
  ShowFrame(0);
  ASSERT_EQ(g->RenderSurface()->Width(), W + 40);
  ASSERT_EQ(g->RenderSurface()->Height(), H + 20);
  SetClipRect(0, 0, W + 40, H + 20);
  ClearScreen();
  SetBlendMode(BLEND_SOLID);
  FillRect(W + 30, H + 10, 5, 5);  // beyond the old size
  EXPECT_EQ(g->RenderSurface()->Row(H + 12)[W + 32] & 0xFFFFFFu, 0xFFFFFFu);
}
