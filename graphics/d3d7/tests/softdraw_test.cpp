// The software DirectDraw/Direct3D layer: rasterization rules, pixel pipeline, textures,
// mip selection, clip planes, surfaces, blits and presentation into an SDL window.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "graphics/d3d7/softdraw.h"

namespace {

class SoftDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    dd = TDirectDraw7::Create();
    ASSERT_TRUE(dd);
    ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_FPUPRESERVE), DD_OK);
    target = MakeSurface(DDSCAPS_3DDEVICE | DDSCAPS_OFFSCREENPLAIN, 32, 32, 0);
    ASSERT_EQ(dd->CreateDevice(target, dev), DD_OK);
    ASSERT_EQ(dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), DD_OK);
    ASSERT_EQ(dev->BeginScene(), DD_OK);
    Fill(0xFF000000u);
  }
  void TearDown() override {
    if (dev && dev->InScene()) dev->EndScene();
  }
  TDDSurface7Ptr MakeSurface(uint32_t caps, int w, int h, uint32_t alphaMask = 0xFF000000u,
                             int mips = 0) {
    TDDSurfaceDesc d;
    d.caps = caps;
    d.width = w;
    d.height = h;
    d.alphaMask = alphaMask;
    d.mipMapCount = mips;
    TDDSurface7Ptr s;
    EXPECT_EQ(dd->CreateSurface(d, s), DD_OK);
    return s;
  }
  void Fill(uint32_t c) { ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, c), DD_OK); }
  uint32_t At(int x, int y) { return target->Row(y)[x]; }
  // Pixels of the target equal to c inside, anything else outside, as a bounding box.
  TDDRect BoxOf(uint32_t c) {
    TDDRect r{1000, 1000, -1, -1};
    for (int y = 0; y < target->Height(); ++y)
      for (int x = 0; x < target->Width(); ++x)
        if (At(x, y) == c) {
          r.left = std::min(r.left, x);
          r.top = std::min(r.top, y);
          r.right = std::max(r.right, x + 1);
          r.bottom = std::max(r.bottom, y + 1);
        }
    return r;
  }
  int Count(uint32_t c) {
    int n = 0;
    for (int y = 0; y < target->Height(); ++y)
      for (int x = 0; x < target->Width(); ++x) n += At(x, y) == c;
    return n;
  }
  static TD3DTLVertex V(float x, float y, uint32_t c = 0xFFFFFFFFu, float u = 0, float v = 0) {
    TD3DTLVertex t;
    t.sx = x;
    t.sy = y;
    t.color = c;
    t.tu = u;
    t.tv = v;
    return t;
  }
  void Quad(float x0, float y0, float x1, float y1, uint32_t c = 0xFFFFFFFFu, float u0 = 0,
            float v0 = 0, float u1 = 1, float v1 = 1) {
    TD3DTLVertex q[4] = {V(x0, y0, c, u0, v0), V(x1, y0, c, u1, v0), V(x1, y1, c, u1, v1),
                         V(x0, y1, c, u0, v1)};
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, q, 4), DD_OK);
  }
  void UseTexture(const TDDSurface7Ptr& t, bool linear, int mip = D3DTFP_NONE) {
    ASSERT_EQ(dev->SetTexture(0, t), DD_OK);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    uint32_t f = linear ? D3DTFG_LINEAR : D3DTFG_POINT;
    dev->SetTextureStageState(0, D3DTSS_MAGFILTER, f);
    dev->SetTextureStageState(0, D3DTSS_MINFILTER, f);
    dev->SetTextureStageState(0, D3DTSS_MIPFILTER, static_cast<uint32_t>(mip));
  }
  static void Put(const TDDSurface7Ptr& s, int x, int y, uint32_t c) { s->Row(y)[x] = c; }

  TDirectDraw7Ptr dd;
  TDDSurface7Ptr target;
  TD3DDevice7Ptr dev;
};

TEST_F(SoftDraw, QuadCoversPixelsWhoseCentresAreInside) {
  struct Case {
    float x0, y0, x1, y1;
    TDDRect box;
  } cases[] = {
      {10, 10, 20, 15, {10, 10, 20, 15}},
      {10.4f, 10.6f, 20.4f, 15.6f, {10, 11, 20, 16}},  // centres 10.5 .. 19.5, 11.5 .. 15.5
      {2.5f, 3.5f, 4.5f, 5.5f, {2, 3, 4, 5}},         // edges through centres: top-left rule
      {-5, -5, 3, 2, {0, 0, 3, 2}},                   // clipped by the target
  };
  for (const Case& c : cases) {
    Fill(0xFF000000u);
    Quad(c.x0, c.y0, c.x1, c.y1, 0xFFFFFFFFu);
    TDDRect b = BoxOf(0xFFFFFFFFu);
    EXPECT_EQ(b.left, c.box.left) << c.x0;
    EXPECT_EQ(b.top, c.box.top) << c.y0;
    EXPECT_EQ(b.right, c.box.right) << c.x1;
    EXPECT_EQ(b.bottom, c.box.bottom) << c.y1;
    EXPECT_EQ(Count(0xFFFFFFFFu), b.Width() * b.Height());
  }
}

TEST_F(SoftDraw, SharedEdgesAreDrawnOnce) {
  // Additive blending shows any pixel drawn twice.
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  // A fan of six triangles around an off-grid centre, and two quads meeting at x = 16.3.
  TD3DTLVertex fan[8] = {V(15.3f, 14.7f, 0xFF101010u)};
  const float px[7] = {3, 28, 30, 20, 2, 1, 3}, py[7] = {2, 1, 20, 29, 27, 10, 2};
  for (int i = 0; i < 7; ++i) fan[i + 1] = V(px[i], py[i], 0xFF101010u);
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, fan, 8), DD_OK);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_TRUE(At(x, y) == 0xFF000000u || At(x, y) == 0xFF101010u);
  Fill(0xFF000000u);
  Quad(1, 1, 16.3f, 9, 0xFF101010u);
  Quad(16.3f, 1, 30, 9, 0xFF101010u);
  EXPECT_EQ(Count(0xFF101010u), 29 * 8);
}

TEST_F(SoftDraw, BlendFactorsAndAlphaTest) {
  auto target2 = MakeSurface(DDSCAPS_3DDEVICE, 4, 4, 0xFF000000u);
  TD3DDevice7Ptr d2;
  ASSERT_EQ(dd->CreateDevice(target2, d2), DD_OK);
  d2->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d2->BeginScene();
  struct Case {
    bool blend;
    TD3DBlend src, dst;
    uint32_t dstColor, srcColor, expect;
  } cases[] = {
      {false, D3DBLEND_ONE, D3DBLEND_ZERO, 0xFF204060u, 0x80FF8000u, 0x80FF8000u},
      {true, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF000000u, 0x80FF8000u, 0xBF804000u},
      {true, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF204060u, 0xFFFF8000u, 0xFFFF8000u},
      {true, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF204060u, 0x00FF8000u, 0xFF204060u},
      {true, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0xFF204060u, 0x80FF8000u, 0xFFA08060u},
      {true, D3DBLEND_ONE, D3DBLEND_ONE, 0xFFC0C0C0u, 0xFF808080u, 0xFFFFFFFFu},
      {true, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 0xFF80FF40u, 0xFF80FF80u, 0xFF40FF20u},
      {true, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, 0xFF80FF40u, 0xFF80FF80u, 0xFF40FF20u},
      {true, D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, 0xFF00FF80u, 0xFFFFFFFFu, 0x00FF007Fu},
  };
  for (const Case& c : cases) {
    d2->SetRenderState(D3DRS_ALPHABLENDENABLE, c.blend);
    d2->SetRenderState(D3DRS_SRCBLEND, c.src);
    d2->SetRenderState(D3DRS_DESTBLEND, c.dst);
    d2->Clear(0, nullptr, D3DCLEAR_TARGET, c.dstColor);
    TD3DTLVertex q[4] = {V(0, 0, c.srcColor), V(4, 0, c.srcColor), V(4, 4, c.srcColor),
                         V(0, 4, c.srcColor)};
    d2->DrawPrimitive(D3DPT_TRIANGLEFAN, q, 4);
    EXPECT_EQ(target2->Row(1)[2], c.expect) << std::hex << c.srcColor << " on " << c.dstColor;
  }
  // Alpha test: reference 128, greater or equal.
  d2->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  d2->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
  d2->SetRenderState(D3DRS_ALPHAREF, 128);
  d2->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  for (uint32_t a : {127u, 128u}) {
    d2->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u);
    uint32_t col = a << 24 | 0x00FFFFFFu;
    TD3DTLVertex q[4] = {V(0, 0, col), V(4, 0, col), V(4, 4, col), V(0, 4, col)};
    d2->DrawPrimitive(D3DPT_TRIANGLEFAN, q, 4);
    EXPECT_EQ(target2->Row(0)[0], a >= 128 ? col : 0xFF000000u);
  }
  d2->EndScene();
}

TEST_F(SoftDraw, OpaqueTargetKeepsAlphaAtFull) {
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  Quad(0, 0, 4, 4, 0x80FF0000u);
  EXPECT_EQ(At(1, 1), 0xFF800000u);
}

TEST_F(SoftDraw, GouraudColoursInterpolateAcrossTheTriangle) {
  TD3DTLVertex q[4] = {V(0, 0, 0xFF000000u), V(32, 0, 0xFFFF0000u), V(32, 32, 0xFFFF0000u),
                       V(0, 32, 0xFF000000u)};
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, q, 4), DD_OK);
  // Red at pixel centre x + 0.5 is (x + 0.5) * 255 / 32.
  for (int x : {0, 7, 15, 31}) {
    uint32_t r = (At(x, 5) >> 16) & 255;
    int want = static_cast<int>((x + 0.5) * 255.0 / 32.0);
    EXPECT_NEAR(static_cast<int>(r), want, 1) << x;
    EXPECT_EQ(At(x, 5), At(x, 27));
  }
}

TEST_F(SoftDraw, LinesExcludeTheirLastPixelAndPointsLightOnePixel) {
  TD3DTLVertex l[2] = {V(2.5f, 3.5f), V(12.5f, 3.5f)};
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_LINELIST, l, 2), DD_OK);
  EXPECT_EQ(BoxOf(0xFFFFFFFFu).left, 2);
  EXPECT_EQ(BoxOf(0xFFFFFFFFu).right, 12);
  EXPECT_EQ(Count(0xFFFFFFFFu), 10);
  Fill(0xFF000000u);
  // A steep line, drawn upwards: y-major, one pixel per row.
  TD3DTLVertex s[2] = {V(5.5f, 20.5f), V(8.5f, 4.5f)};
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_LINESTRIP, s, 2), DD_OK);
  EXPECT_EQ(Count(0xFFFFFFFFu), 16);
  EXPECT_EQ(At(5, 20), 0xFFFFFFFFu);
  EXPECT_EQ(At(8, 4), 0xFF000000u);
  Fill(0xFF000000u);
  // A very long line is walked only where it can be seen.
  TD3DTLVertex far[2] = {V(-1.0e6f, 5.5f), V(1.0e6f, 5.5f)};
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_LINELIST, far, 2), DD_OK);
  EXPECT_EQ(Count(0xFFFFFFFFu), 32);
  EXPECT_EQ(BoxOf(0xFFFFFFFFu).top, 5);
  Fill(0xFF000000u);
  TD3DTLVertex p[3] = {V(0.5001f, 0.5001f), V(7.99f, 9.01f), V(-1, 3)};
  ASSERT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, p, 3), DD_OK);
  EXPECT_EQ(Count(0xFFFFFFFFu), 2);
  EXPECT_EQ(At(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(At(7, 9), 0xFFFFFFFFu);
}

TEST_F(SoftDraw, ClipPlanesAndViewportLimitDrawing) {
  const float planes[4][4] = {{1, 0, 0, -5}, {-1, 0, 0, 12}, {0, 1, 0, -3}, {0, -1, 0, 9}};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(dev->SetClipPlane(i, planes[i]), DD_OK);
  EXPECT_EQ(dev->SetClipPlane(4, planes[0]), DDERR_INVALIDPARAMS);
  dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 15);
  Quad(0, 0, 32, 32);
  TDDRect b = BoxOf(0xFFFFFFFFu);
  EXPECT_EQ(b.left, 5);
  EXPECT_EQ(b.right, 12);
  EXPECT_EQ(b.top, 3);
  EXPECT_EQ(b.bottom, 9);
  EXPECT_EQ(Count(0xFFFFFFFFu), 7 * 6);
  // A diagonal plane x + y <= 20 (pixel centres), combined with x >= 5.
  const float diag[4] = {-1, -1, 0, 20};
  dev->SetClipPlane(1, diag);
  dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 3);
  Fill(0xFF000000u);
  Quad(0, 0, 32, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(At(x, y) == 0xFFFFFFFFu, x >= 5 && x + y + 1 <= 20) << x << "," << y;
  // Lines and points are clipped the same way; Clear ignores clip planes.
  dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
  Fill(0xFF000000u);
  TD3DTLVertex l[2] = {V(0.5f, 1.5f), V(20.5f, 1.5f)};
  dev->DrawPrimitive(D3DPT_LINELIST, l, 2);
  EXPECT_EQ(Count(0xFFFFFFFFu), 15);
  // The viewport limits triangles and clears.
  dev->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
  Fill(0xFF000000u);
  TD3DViewport vp{2, 2, 3, 4, 0, 1};
  dev->SetViewport(vp);
  Quad(0, 0, 32, 32);
  EXPECT_EQ(Count(0xFFFFFFFFu), 12);
  TD3DViewport all{0, 0, 32, 32, 0, 1};
  dev->SetViewport(all);
  TDDRect r{30, 30, 40, 40};
  dev->Clear(1, &r, D3DCLEAR_TARGET, 0xFF00FF00u);
  EXPECT_EQ(Count(0xFF00FF00u), 4);
}

TEST_F(SoftDraw, TexturesArePointOrBilinearSampledAndModulated) {
  auto tex = MakeSurface(DDSCAPS_TEXTURE, 2, 2);
  Put(tex, 0, 0, 0xFFFF0000u);
  Put(tex, 1, 0, 0xFF00FF00u);
  Put(tex, 0, 1, 0xFF0000FFu);
  Put(tex, 1, 1, 0xFFFFFFFFu);
  UseTexture(tex, false);
  Quad(0, 0, 8, 8);
  EXPECT_EQ(At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(At(3, 3), 0xFFFF0000u);
  EXPECT_EQ(At(4, 3), 0xFF00FF00u);
  EXPECT_EQ(At(3, 4), 0xFF0000FFu);
  EXPECT_EQ(At(7, 7), 0xFFFFFFFFu);
  // Modulation by the vertex colour.
  Quad(0, 0, 8, 8, 0xFF808080u);
  EXPECT_EQ(At(7, 7), 0xFF808080u);
  EXPECT_EQ(At(0, 0), 0xFF800000u);
  // Bilinear: halfway between texel centres along x (texels at 2 and 6 of 8 pixels).
  UseTexture(tex, true);
  dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  dev->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  Quad(0, 0, 8, 8);
  EXPECT_EQ(At(0, 0), 0xFFFF0000u);  // clamped at the corner
  EXPECT_EQ(At(7, 0), 0xFF00FF00u);
  uint32_t mid = At(3, 1);  // u at 3.5 of 8: 3/8 of the way from texel 0 to texel 1
  EXPECT_EQ((mid >> 16) & 255, 0x9Fu);
  EXPECT_EQ((mid >> 8) & 255, 0x5Fu);
  // Wrapping pulls in the opposite edge.
  dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
  Quad(0, 0, 8, 8);
  EXPECT_EQ((At(0, 1) >> 8) & 255, 0x5Fu);  // u at 0.5 of 8: 3/8 towards the wrapped texel
}

TEST_F(SoftDraw, OneTexelPerPixelCopiesExactlyWithAnyFilter) {
  auto tex = MakeSurface(DDSCAPS_TEXTURE, 16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) Put(tex, x, y, 0xFF000000u | (x * 16) << 16 | (y * 16) << 8 | 7);
  for (bool linear : {false, true}) {
    UseTexture(tex, linear);
    Fill(0xFF000000u);
    Quad(3, 4, 13, 14, 0xFFFFFFFFu, 0, 0, 10 / 16.0f, 10 / 16.0f);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x)
        ASSERT_EQ(At(3 + x, 4 + y), tex->Row(y)[x]) << linear << " " << x << "," << y;
    // Half a pixel down: bilinear blends two rows, point sampling picks one.
    Fill(0xFF000000u);
    Quad(3, 4.5f, 13, 14.5f, 0xFFFFFFFFu, 0, 0, 10 / 16.0f, 10 / 16.0f);
    uint32_t g = (At(5, 8) >> 8) & 255;
    EXPECT_EQ(g, linear ? 0x38u : 0x40u);
  }
}

TEST_F(SoftDraw, AlphaBlendedImagesMatchTheReferenceFormula) {
  // A 16 x 4 texture whose alpha runs through opaque, transparent and partial groups,
  // drawn one texel per pixel over a pattern, as a rectangle and as two triangles, with
  // and without a half-pixel vertical offset, inside the target and cut by its left and
  // right edges (rows whose length is not a multiple of the vector width).
  auto tex = MakeSurface(DDSCAPS_TEXTURE, 16, 4);
  const uint32_t alphas[8] = {255, 255, 255, 255, 0, 0, 0, 0};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) {
      uint32_t a = x < 8 ? alphas[x] : static_cast<uint32_t>((x * 37 + y * 11) & 255);
      Put(tex, x, y, a << 24 | static_cast<uint32_t>(x * 15) << 16 | static_cast<uint32_t>(y * 60) << 8 | 0x33u);
    }
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  auto blend = [](uint32_t s, uint32_t d) {
    uint32_t a = s >> 24, out = 0xFF000000u;
    for (int sh = 0; sh < 24; sh += 8) {
      uint32_t v = (((s >> sh) & 255) * a + ((d >> sh) & 255) * (255 - a) + 127) / 255;
      out |= v << sh;
    }
    return out;
  };
  auto lerp = [](uint32_t a, uint32_t b) {  // halfway, per channel, truncated
    uint32_t out = 0;
    for (int sh = 0; sh < 32; sh += 8) out |= ((((a >> sh) & 255) * 128 + ((b >> sh) & 255) * 128) >> 8) << sh;
    return out;
  };
  for (int x0 : {3, -5, 22})
  for (bool linear : {false, true})
    for (bool list : {false, true}) {
      UseTexture(tex, linear);
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) target->Row(y)[x] = 0xFF000000u | static_cast<uint32_t>(x * 8 + y);
      const float y0 = linear ? 2.5f : 2.0f, xl = static_cast<float>(x0), xr = xl + 16;
      TD3DTLVertex q[6] = {V(xl, y0, 0xFFFFFFFFu, 0, 0), V(xr, y0, 0xFFFFFFFFu, 1, 0),
                           V(xr, y0 + 4, 0xFFFFFFFFu, 1, 1), V(xl, y0 + 4, 0xFFFFFFFFu, 0, 1)};
      if (list) {
        q[4] = q[0];
        q[5] = q[2];
        TD3DTLVertex t[6] = {q[0], q[1], q[2], q[4], q[5], q[3]};
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, t, 6), DD_OK);
      } else {
        ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLEFAN, q, 4), DD_OK);
      }
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x) {
          if (x0 + x < 0 || x0 + x >= 32) continue;
          uint32_t texel = tex->Row(y)[x];
          if (linear)  // centre 2.5 + y: rows y - 1 and y halfway, wrapping
            texel = lerp(tex->Row((y + 3) % 4)[x], tex->Row(y)[x]);
          const uint32_t back = 0xFF000000u | static_cast<uint32_t>((x0 + x) * 8 + 2 + y);
          ASSERT_EQ(At(x0 + x, 2 + y), blend(texel, back))
              << "at " << x0 << " " << linear << list << " " << x << "," << y;
        }
    }
}

TEST_F(SoftDraw, MipLevelsFollowTheFootprint) {
  auto tex = MakeSurface(DDSCAPS_TEXTURE | DDSCAPS_MIPMAP, 8, 8);
  ASSERT_EQ(tex->Levels().size(), 4u);
  const uint32_t colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  for (size_t l = 0; l < 4; ++l) {
    TDDSurface7* s = tex->Levels()[l];
    EXPECT_EQ(s->Width(), 8 >> l);
    for (int y = 0; y < s->Height(); ++y)
      for (int x = 0; x < s->Width(); ++x) s->Row(y)[x] = colours[l];
  }
  TDDSurface7Ptr next;
  ASSERT_EQ(tex->GetAttachedSurface(DDSCAPS_MIPMAP, next), DD_OK);
  EXPECT_EQ(next->Width(), 4);
  struct Case {
    float size;
    int mip;
    uint32_t expect;
  } cases[] = {
      {8, D3DTFP_POINT, colours[0]}, {4, D3DTFP_POINT, colours[1]}, {2, D3DTFP_POINT, colours[2]},
      {1, D3DTFP_POINT, colours[3]}, {4, D3DTFP_NONE, colours[0]},  {3, D3DTFP_POINT, colours[1]},
  };
  for (const Case& c : cases) {
    UseTexture(tex, false, c.mip);
    Fill(0);
    Quad(0, 0, c.size, c.size);
    EXPECT_EQ(At(0, 0), c.expect) << c.size;
  }
  // Linear mip filtering between levels 0 and 1 at a footprint of 1.5 texels.
  UseTexture(tex, false, D3DTFP_LINEAR);
  Quad(0, 0, 16.0f / 3.0f, 16.0f / 3.0f);
  uint32_t p = At(0, 0);
  EXPECT_EQ(p, 0xFF7F7F00u) << std::hex << p;
}

TEST_F(SoftDraw, SurfacesLockBlitAndGetLost) {
  auto s = MakeSurface(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 10, 3);
  TDDSurfaceDesc d;
  ASSERT_EQ(s->Lock(nullptr, d, DDLOCK_WAIT | DDLOCK_WRITEONLY), DD_OK);
  EXPECT_EQ(d.pitch, 64);  // rows padded to 32 bytes
  EXPECT_EQ(s->Lock(nullptr, d, DDLOCK_WAIT), DDERR_SURFACEBUSY);
  EXPECT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, 1), DDERR_SURFACEBUSY);
  static_cast<uint32_t*>(d.surface)[16 + 3] = 0x12345678u;  // row 1, x 3
  ASSERT_EQ(s->Unlock(), DD_OK);
  EXPECT_EQ(s->Unlock(), DDERR_NOTLOCKED);
  TDDRect part{2, 1, 4, 2};
  ASSERT_EQ(s->Lock(&part, d, DDLOCK_READONLY), DD_OK);
  EXPECT_EQ(static_cast<uint32_t*>(d.surface)[1], 0x12345678u);
  s->Unlock();
  // Blit into the render target: copies, and sets alpha on an opaque surface.
  TDDRect from{3, 1, 4, 2}, to{6, 7, 7, 8};
  ASSERT_EQ(target->Blt(&to, s, &from, DDBLT_WAIT), DD_OK);
  EXPECT_EQ(At(6, 7), 0xFF345678u);
  TDDRect outside{30, 30, 34, 34};
  EXPECT_EQ(target->Blt(&outside, s, &from, DDBLT_WAIT), DDERR_INVALIDRECT);
  // Stretching doubles each pixel.
  TDDRect big{0, 0, 20, 6};
  ASSERT_EQ(target->Blt(&big, s, nullptr, DDBLT_WAIT), DD_OK);
  EXPECT_EQ(At(6, 2), 0xFF345678u);
  EXPECT_EQ(At(7, 3), 0xFF345678u);
  EXPECT_EQ(At(8, 3), 0xFF000000u);
  // Surfaces of the object get lost and come back.
  dd->LoseAllSurfaces();
  EXPECT_EQ(s->Lock(nullptr, d, 0), DDERR_SURFACELOST);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, nullptr, 0), DDERR_SURFACELOST);
  ASSERT_EQ(dd->RestoreAllSurfaces(), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  // Textures must have power-of-two sides.
  TDDSurfaceDesc td;
  td.caps = DDSCAPS_TEXTURE;
  td.width = 80;
  td.height = 64;
  TDDSurface7Ptr t;
  EXPECT_EQ(dd->CreateSurface(td, t), DDERR_INVALIDPARAMS);
}

TEST_F(SoftDraw, ScenesAndErrorNames) {
  EXPECT_EQ(dev->BeginScene(), D3DERR_SCENE_IN_SCENE);
  ASSERT_EQ(dev->EndScene(), DD_OK);
  TD3DTLVertex p = V(1, 1);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, &p, 1), D3DERR_SCENE_NOT_IN_SCENE);
  EXPECT_EQ(dev->EndScene(), D3DERR_SCENE_NOT_IN_SCENE);
  EXPECT_EQ(DDErrorName(DD_OK), "OK");
  EXPECT_EQ(DDErrorName(DDERR_WRONGMODE), "WRONGMODE");
  EXPECT_EQ(DDErrorName(DDERR_PRIMARYSURFACEALREADYEXISTS), "PRIMARYSURFACEALREADYEXISTS");
  EXPECT_EQ(DDErrorName(DDERR_NOEXCLUSIVEMODE), "NOEXCLUSIVEMODE");
  EXPECT_EQ(DDErrorName(DDERR_EXCLUSIVEMODEALREADYSET), "EXCLUSIVEMODEALREADYSET");
  EXPECT_EQ(DDErrorName(DDERR_UNSUPPORTEDMODE), "UNSUPPORTEDMODE");
  EXPECT_EQ(DDErrorName(DDERR_SURFACELOST), "SURFACELOST");
  EXPECT_EQ(DDErrorName(MakeDDResult(430)), "UNKNOWN:-2005532242 430");
}

TEST_F(SoftDraw, PrimaryBlitsLandInTheClippersWindow) {
  SDL_Window* win = SDL_CreateWindow("t", 40, 50, 16, 8, 0);
  ASSERT_NE(win, nullptr);
  ASSERT_EQ(dd->SetCooperativeLevel(win, DDSCL_NORMAL), DD_OK);
  TDDSurfaceDesc pd;
  pd.caps = DDSCAPS_PRIMARYSURFACE;
  TDDSurface7Ptr primary, second;
  ASSERT_EQ(dd->CreateSurface(pd, primary), DD_OK);
  EXPECT_EQ(dd->CreateSurface(pd, second), DDERR_PRIMARYSURFACEALREADYEXISTS);
  pd.caps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  pd.backBufferCount = 1;
  TDDClipperPtr clip;
  ASSERT_EQ(dd->CreateClipper(clip), DD_OK);
  clip->SetHWnd(win);
  primary->SetClipper(clip);
  TDDRect cr;
  ASSERT_EQ(clip->GetClipRect(cr), DD_OK);
  Quad(0, 0, 16, 8, 0xFF102030u);
  Quad(15, 7, 16, 8, 0xFFA0B0C0u);
  TDDRect src{0, 0, 16, 8};
  ASSERT_EQ(primary->Blt(&cr, target, &src, DDBLT_WAIT), DD_OK);
  SDL_Surface* ws = SDL_GetWindowSurface(win);
  ASSERT_NE(ws, nullptr);
  uint8_t r, g, b;
  auto pixel = [&](int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, static_cast<uint8_t*>(ws->pixels) + y * ws->pitch + x * ws->format->BytesPerPixel,
                ws->format->BytesPerPixel);
    SDL_GetRGB(v, ws->format, &r, &g, &b);
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
  };
  EXPECT_EQ(pixel(0, 0), 0x102030u);
  EXPECT_EQ(pixel(15, 7), 0xA0B0C0u);
  primary.reset();
  dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  SDL_DestroyWindow(win);
}

TEST_F(SoftDraw, CooperativeLevelNoticesModeChanges) {
  EXPECT_EQ(dd->TestCooperativeLevel(), DD_OK);
  DDNotifyDisplayModeChange();
  EXPECT_EQ(dd->TestCooperativeLevel(), DDERR_WRONGMODE);
  auto other = TDirectDraw7::Create();
  EXPECT_EQ(other->TestCooperativeLevel(), DD_OK);
  SDL_Window* win = SDL_CreateWindow("t", 0, 0, 16, 8, 0);
  ASSERT_EQ(other->SetCooperativeLevel(win, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN), DD_OK);
  EXPECT_EQ(dd->SetCooperativeLevel(win, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN),
            DDERR_EXCLUSIVEMODEALREADYSET);
  EXPECT_EQ(dd->SetDisplayMode(640, 480, 32, 0), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(other->SetDisplayMode(3, 5, 32, 0), DDERR_UNSUPPORTEDMODE);
  other.reset();
  SDL_DestroyWindow(win);
}

}  // namespace
