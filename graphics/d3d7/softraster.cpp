// The software device: render and texture-stage state, clip planes and the rasterizer
// for transformed vertices.
#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__) || defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "softdraw.h"

namespace {

// ---- packed ARGB helpers ---------------------------------------------------------------

// x / 255 rounded to nearest without a division; exact for every x up to 65535, which
// covers any product of two channels.
inline uint32_t Div255(uint32_t x) {
  uint32_t t = x + 128;
  return (t + (t >> 8)) >> 8;
}

inline uint32_t Mul8(uint32_t a, uint32_t b) { return Div255(a * b); }

inline uint32_t Modulate(uint32_t x, uint32_t y) {
  return Mul8(x >> 24, y >> 24) << 24 | Mul8((x >> 16) & 255, (y >> 16) & 255) << 16 |
         Mul8((x >> 8) & 255, (y >> 8) & 255) << 8 | Mul8(x & 255, y & 255);
}

// a + (b - a) * w / 256 per channel, w in 0..256.
inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t w) {
  uint32_t iw = 256 - w;
  uint32_t rb = (((a & 0xFF00FFu) * iw + (b & 0xFF00FFu) * w) >> 8) & 0xFF00FFu;
  uint32_t ag = (((a >> 8) & 0xFF00FFu) * iw + ((b >> 8) & 0xFF00FFu) * w) & 0xFF00FF00u;
  return rb | ag;
}

// src * a + dst * (255 - a) per channel (alpha included), rounded; exact at 0 and 255.
inline uint32_t BlendAlpha(uint32_t s, uint32_t d) {
  uint32_t a = s >> 24;
  if (a == 255) return s;
  if (a == 0) return d;
  uint32_t ia = 255 - a;
  uint32_t rb = (s & 0xFF00FFu) * a + (d & 0xFF00FFu) * ia + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t s_ag = (s >> 8) & 0xFF00FFu;  // alpha and green lanes
  uint32_t d_ag = (d >> 8) & 0xFF00FFu;
  uint32_t ag = s_ag * a + d_ag * ia + 0x00800080u;
  ag = (((ag + ((ag >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu) << 8;
  return rb | ag;
}

#ifdef __SSE2__
// BlendAlpha on four pixels at once, with the same rounding: every channel is
// (s * a + d * (255 - a) + 128) plus its high byte, over 256, in 16-bit lanes (the sum
// never exceeds 255 * 255 + 128).
inline __m128i BlendAlpha2(__m128i s16, __m128i d16) {
  const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m128i ia = _mm_sub_epi16(_mm_set1_epi16(255), a);
  __m128i c = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, ia)), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(c, _mm_srli_epi16(c, 8)), 8);
}

inline __m128i BlendAlpha4(__m128i s, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = BlendAlpha2(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
  const __m128i hi = BlendAlpha2(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
  return _mm_packus_epi16(lo, hi);
}
#endif

// One row of an alpha-blended image: its target pixels and its texels.
struct BlendRow {
  uint32_t* dst;
  const uint32_t* src;
};

#if defined(__x86_64__) || defined(__i386__)
// BlendAlpha2 on eight pixels held as 16-bit lanes (two registers' worth of 8-bit data).
__attribute__((target("avx2"))) inline __m256i BlendAlpha2Avx2(__m256i s16, __m256i d16) {
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m256i ia = _mm256_sub_epi16(_mm256_set1_epi16(255), a);
  __m256i c = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(s16, a), _mm256_mullo_epi16(d16, ia)),
                               _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(c, _mm256_srli_epi16(c, 8)), 8);
}

// Alpha-blends a row of texels onto the target eight pixels at a time with AVX2, with
// BlendAlpha's rounding (see BlendAlpha2); the target's pixels are read and written with
// `opaque` or-ed in, as the scalar loop does. Returns the pixels done (a multiple of 8).
// Groups that are wholly opaque or wholly transparent are stored or skipped without the
// arithmetic: sprites are mostly one or the other, with blending only along their edges.
// Only called after HaveAvx2(); the function is compiled for AVX2 on its own so the rest
// of the file runs on any x86-64.
__attribute__((target("avx2"))) inline int BlendRowAvx2(uint32_t* dst, const uint32_t* src, int n, uint32_t opaque) {
  const __m256i op = _mm256_set1_epi32(static_cast<int>(opaque));
  const __m256i full = _mm256_set1_epi32(255), zero = _mm256_setzero_si256();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i* d = reinterpret_cast<__m256i*>(dst + i);
    const __m256i a = _mm256_srli_epi32(t, 24);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(a, full)) == -1) {
      _mm256_storeu_si256(d, _mm256_or_si256(t, op));
      continue;
    }
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(a, zero)) == -1) continue;
    const __m256i dv = _mm256_or_si256(_mm256_loadu_si256(d), op);
    const __m256i lo = BlendAlpha2Avx2(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(dv, zero));
    const __m256i hi = BlendAlpha2Avx2(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(dv, zero));
    _mm256_storeu_si256(d, _mm256_or_si256(_mm256_packus_epi16(lo, hi), op));
  }
  return i;
}

// BlendRowAvx2 over several rows of n pixels, the last n % 8 of each row one at a time.
__attribute__((target("avx2"))) void BlendRowsAvx2(const BlendRow* rows, int count, int n, uint32_t opaque) {
  for (int r = 0; r < count; ++r) {
    uint32_t* dst = rows[r].dst;
    const uint32_t* src = rows[r].src;
    for (int i = BlendRowAvx2(dst, src, n, opaque); i < n; ++i) dst[i] = BlendAlpha(src[i], dst[i] | opaque) | opaque;
  }
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
// No AVX2 off x86 (WebAssembly): the four-pixel and scalar paths do the work.
inline int BlendRowAvx2(uint32_t*, const uint32_t*, int, uint32_t) { return 0; }
void BlendRowsAvx2(const BlendRow*, int, int, uint32_t) {}
constexpr bool HaveAvx2() { return false; }
#endif

// static_cast<int64_t>(std::floor(x)) without the library call on the row path.
inline int64_t FloorInt(double x) {
  if (!(std::fabs(x) < 4e18)) return static_cast<int64_t>(std::floor(x));
  const int64_t i = static_cast<int64_t>(x);
  return static_cast<double>(i) > x ? i - 1 : i;
}

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  int64_t q = a / b;
  if ((a % b) != 0 && a < 0) --q;
  return q;
}
inline int64_t CeilDiv(int64_t a, int64_t b) {  // b > 0
  return -FloorDiv(-a, b);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The rasterizer: a snapshot of the device state taken per draw call, and the loops.
//
// Coordinates are snapped to 1/256 pixel (Snap) and the coverage of every primitive is
// decided in exact integer arithmetic on those values, so neighbouring triangles that
// share an edge light each pixel along it exactly once whatever the floating-point input.
// A pixel is covered when its centre (x + 0.5, y + 0.5) is inside; edges follow the
// top-left rule. Colours and texture coordinates are interpolated as planes over the
// screen (affine, no perspective), which is all a 2D game's pre-transformed vertices need.
// Each distinct combination of texture mode, shading, blending and alpha test has its own
// compiled span loop (Span, RowSpan), so no per-pixel branch asks what state is set.

class TD3DRaster {
 public:
  enum class Combine { Diffuse, Texture, Modulate };
  enum class BlendKind { Replace, Alpha, Generic };
  enum class TexMode { None, Point, Bilinear, Trilinear, Row, PointWrap, BilinearWrap };

  struct Level {
    const uint8_t* bits = nullptr;
    int pitch = 0;
    int w = 1, h = 1;
  };

  // State.
  TDDSurface7* target = nullptr;
  int clipL = 0, clipT = 0, clipR = 0, clipB = 0;  // inclusive-exclusive pixel bounds
  int planeCount = 0;
  double planes[D3D_MAX_USER_CLIP_PLANES][4] = {};
  bool textured = false;
  Level levels[16];
  int levelCount = 0;
  int magFilter = D3DTFG_POINT, minFilter = D3DTFN_POINT, mipFilter = D3DTFP_NONE;
  int addrU = D3DTADDRESS_WRAP, addrV = D3DTADDRESS_WRAP;
  Combine colorComb = Combine::Diffuse, alphaComb = Combine::Diffuse;
  bool alphaTest = false;
  bool alphaPass[256] = {};
  bool passValid = false;
  uint32_t passRef = 0, passFunc = 0;
  bool blendOn = false;
  int srcBlend = D3DBLEND_ONE, dstBlend = D3DBLEND_ZERO;
  BlendKind blendKind = BlendKind::Replace;
  bool targetAlpha = true;
  int cull = D3DCULL_CCW;

  void Setup(TD3DDevice7& dev, TDDSurface7* tgt, const TD3DViewport& vp, const uint32_t* rs,
             const uint32_t* tss, const float (*pl)[4], TDDSurface7* tex);

  void Point(const TD3DTLVertex& v);
  void Line(const TD3DTLVertex& a, const TD3DTLVertex& b);
  void Triangle(const TD3DTLVertex& a, const TD3DTLVertex& b, const TD3DTLVertex& c);
  void GuardTriangle(const TD3DTLVertex& a, const TD3DTLVertex& b, const TD3DTLVertex& c);
  bool Rect(const TD3DTLVertex* q);

 private:
  // Per-draw pixel pipeline pieces.
  uint32_t CombineColor(uint32_t tex, uint32_t diff) const;
  uint32_t BlendPixel(uint32_t src, uint32_t dst) const;
  uint32_t Fetch(const Level& lv, int64_t u, int64_t v, bool linear) const;
  uint32_t SampleAt(double u, double v, const int* lvl, int lvlCount, uint32_t mipW,
                    bool linear) const;
  void ShadeOne(int px, int py, uint32_t diff, double u, double v, const int* lvl, int lvlCount,
                uint32_t mipW, bool linear);
  bool RowLimits(int py, int& xl, int& xr) const;
  // Chooses the texture level(s) and filter for a texture footprint of rho² texels².
  void ChooseLod(double rho2, int* lvl, int& lvlCount, uint32_t& mipW, bool& linear) const;

  // One span of a triangle row.
  struct SpanArgs {
    uint32_t* dst = nullptr;
    int n = 0;
    int64_t u = 0, v = 0, du = 0, dv = 0;      // first level, 16.16 texels
    int64_t u2 = 0, v2 = 0, du2 = 0, dv2 = 0;  // second level (trilinear)
    uint32_t mipW = 0;
    bool linear = false;  // filter inside each level
    uint32_t flat = 0;    // diffuse colour without Gouraud shading
    int32_t c[4] = {}, dc[4] = {};  // r, g, b, a in 16.16 (Gouraud)
    const Level* l0 = nullptr;
    const Level* l1 = nullptr;
    // Row mode: the texels of the span lie in one or two rows, one texel per pixel.
    const uint32_t* row0 = nullptr;
    const uint32_t* row1 = nullptr;
    int x0 = 0;
    uint32_t fx = 0, fy = 0;
  };
  template <TexMode TM, bool Gouraud, BlendKind BK, bool AT>
  void Span(SpanArgs& s);
  template <TexMode TM, bool Gouraud>
  void SpanDispatch(SpanArgs& s);
  template <BlendKind BK, bool AT, bool LX, bool LY, bool TexOnly>
  void RowSpan(const SpanArgs& s);
  template <BlendKind BK, bool AT>
  void RowSpanLerp(const SpanArgs& s, bool texOnly);
  void RowDispatch(const SpanArgs& s);
  template <class RowBounds>
  void Fill(const TD3DTLVertex* const* p, const int64_t* X, const int64_t* Y, int64_t area,
            int rowFirst, int rowLast, RowBounds bounds, bool sameColumns = false);

  uint32_t AddressU(const Level& lv, int64_t x) const;
  uint32_t AddressV(const Level& lv, int64_t y) const;
};

namespace {

// A texel index under an addressing mode. Wrap and mirror use masks: texture sizes are
// powers of two (the surface refuses anything else), and masking also handles negative
// and huge indices without a division.
inline int64_t Wrap(int64_t x, int size, int mode) {
  switch (mode) {
    case D3DTADDRESS_CLAMP:
      return x < 0 ? 0 : (x >= size ? size - 1 : x);
    case D3DTADDRESS_MIRROR: {
      int64_t p = x & (2 * static_cast<int64_t>(size) - 1);
      return p >= size ? 2 * static_cast<int64_t>(size) - 1 - p : p;
    }
    default:
      return x & (size - 1);
  }
}

inline uint32_t Texel(const TD3DRaster::Level& lv, int64_t x, int64_t y) {
  return reinterpret_cast<const uint32_t*>(lv.bits + y * lv.pitch)[x];
}

// Fetch with wrapping addressing in both directions (the device's default), inlined:
// the same values as the general fetch.
inline uint32_t FetchWrap(const TD3DRaster::Level& lv, int64_t u, int64_t v, bool linear) {
  const int64_t wm = lv.w - 1, hm = lv.h - 1;
  if (!linear) return Texel(lv, (u >> 16) & wm, (v >> 16) & hm);
  u -= 32768;
  v -= 32768;
  const uint32_t fx = static_cast<uint32_t>((u >> 8) & 255), fy = static_cast<uint32_t>((v >> 8) & 255);
  const int64_t x0 = u >> 16, y0 = v >> 16;
  const int64_t xa = x0 & wm, xb = (x0 + 1) & wm;
  const uint32_t* ra = reinterpret_cast<const uint32_t*>(lv.bits + (y0 & hm) * lv.pitch);
  const uint32_t* rb = reinterpret_cast<const uint32_t*>(lv.bits + ((y0 + 1) & hm) * lv.pitch);
  return Lerp(Lerp(ra[xa], ra[xb], fx), Lerp(rb[xa], rb[xb], fx), fy);
}

}  // namespace

uint32_t TD3DRaster::AddressU(const Level& lv, int64_t x) const {
  return static_cast<uint32_t>(Wrap(x, lv.w, addrU));
}
uint32_t TD3DRaster::AddressV(const Level& lv, int64_t y) const {
  return static_cast<uint32_t>(Wrap(y, lv.h, addrV));
}

// Copies what the loops read out of the device's state tables into plain fields and
// resolves it once per draw call: the viewport clipped to the target, the enabled clip
// planes packed together, texture stage 0 reduced to one of three combines for colour and
// for alpha, the mip chain's levels, and the blend classified as replace, classic alpha
// or generic. The 256-entry alpha-test table is rebuilt only when the reference or the
// function changed, since most draws keep both.
void TD3DRaster::Setup(TD3DDevice7&, TDDSurface7* tgt, const TD3DViewport& vp, const uint32_t* rs,
                       const uint32_t* tss, const float (*pl)[4], TDDSurface7* tex) {
  target = tgt;
  clipL = std::max(0, vp.x);
  clipT = std::max(0, vp.y);
  clipR = std::min(tgt->Width(), vp.x + vp.width);
  clipB = std::min(tgt->Height(), vp.y + vp.height);
  targetAlpha = tgt->HasAlpha();
  planeCount = 0;
  for (int i = 0; i < D3D_MAX_USER_CLIP_PLANES; ++i) {
    if (rs[D3DRS_CLIPPLANEENABLE] & (1u << i)) {
      for (int k = 0; k < 4; ++k) planes[planeCount][k] = pl[i][k];
      ++planeCount;
    }
  }
  cull = static_cast<int>(rs[D3DRS_CULLMODE]);

  // Texture stage 0: each of colour and alpha is the diffuse value, the texel, or their
  // product (stage 0 has no previous stage, so "current" is the diffuse colour).
  auto isTexture = [](uint32_t arg) { return (arg & 0xF) == D3DTA_TEXTURE; };
  auto combineOf = [&](uint32_t op, uint32_t a1, uint32_t a2) {
    switch (op) {
      case D3DTOP_SELECTARG1:
        return isTexture(a1) ? Combine::Texture : Combine::Diffuse;
      case D3DTOP_SELECTARG2:
        return isTexture(a2) ? Combine::Texture : Combine::Diffuse;
      case D3DTOP_MODULATE:
        return isTexture(a1) || isTexture(a2) ? Combine::Modulate : Combine::Diffuse;
      default:
        return Combine::Diffuse;
    }
  };
  colorComb = combineOf(tss[D3DTSS_COLOROP], tss[D3DTSS_COLORARG1], tss[D3DTSS_COLORARG2]);
  alphaComb = combineOf(tss[D3DTSS_ALPHAOP], tss[D3DTSS_ALPHAARG1], tss[D3DTSS_ALPHAARG2]);
  if (tss[D3DTSS_COLOROP] == D3DTOP_DISABLE) alphaComb = Combine::Diffuse;
  levelCount = 0;
  if (tex) {
    for (TDDSurface7* s : tex->Levels()) {
      if (levelCount >= 16) break;
      Level& lv = levels[levelCount++];
      lv.bits = reinterpret_cast<const uint8_t*>(s->Row(0));
      lv.pitch = s->Pitch();
      lv.w = s->Width();
      lv.h = s->Height();
    }
  }
  textured = levelCount > 0 && (colorComb != Combine::Diffuse || alphaComb != Combine::Diffuse);
  if (!textured) colorComb = alphaComb = Combine::Diffuse;
  magFilter = static_cast<int>(tss[D3DTSS_MAGFILTER]);
  minFilter = static_cast<int>(tss[D3DTSS_MINFILTER]);
  mipFilter = static_cast<int>(tss[D3DTSS_MIPFILTER]);
  addrU = static_cast<int>(tss[D3DTSS_ADDRESSU]);
  addrV = static_cast<int>(tss[D3DTSS_ADDRESSV]);

  alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
  uint32_t ref = rs[D3DRS_ALPHAREF] & 255;
  const bool rebuild = !passValid || ref != passRef || rs[D3DRS_ALPHAFUNC] != passFunc;
  passValid = true;
  passRef = ref;
  passFunc = rs[D3DRS_ALPHAFUNC];
  for (uint32_t a = 0; rebuild && a < 256; ++a) {
    bool pass;
    switch (rs[D3DRS_ALPHAFUNC]) {
      case D3DCMP_NEVER: pass = false; break;
      case D3DCMP_LESS: pass = a < ref; break;
      case D3DCMP_EQUAL: pass = a == ref; break;
      case D3DCMP_LESSEQUAL: pass = a <= ref; break;
      case D3DCMP_GREATER: pass = a > ref; break;
      case D3DCMP_NOTEQUAL: pass = a != ref; break;
      case D3DCMP_GREATEREQUAL: pass = a >= ref; break;
      default: pass = true; break;
    }
    alphaPass[a] = pass;
  }
  blendOn = rs[D3DRS_ALPHABLENDENABLE] != 0;
  srcBlend = static_cast<int>(rs[D3DRS_SRCBLEND]);
  dstBlend = static_cast<int>(rs[D3DRS_DESTBLEND]);
  if (!blendOn || (srcBlend == D3DBLEND_ONE && dstBlend == D3DBLEND_ZERO))
    blendKind = BlendKind::Replace;
  else if (srcBlend == D3DBLEND_SRCALPHA && dstBlend == D3DBLEND_INVSRCALPHA)
    blendKind = BlendKind::Alpha;
  else
    blendKind = BlendKind::Generic;
}

// Texture stage 0: the source pixel from a texel and the diffuse colour, colour and
// alpha each by their own combine (Setup).
inline uint32_t TD3DRaster::CombineColor(uint32_t tex, uint32_t diff) const {
  uint32_t rgb, a;
  switch (colorComb) {
    case Combine::Texture: rgb = tex & 0xFFFFFFu; break;
    case Combine::Modulate: rgb = Modulate(tex | 0xFF000000u, diff) & 0xFFFFFFu; break;
    default: rgb = diff & 0xFFFFFFu; break;
  }
  switch (alphaComb) {
    case Combine::Texture: a = tex >> 24; break;
    case Combine::Modulate: a = Mul8(tex >> 24, diff >> 24); break;
    default: a = diff >> 24; break;
  }
  return a << 24 | rgb;
}

// The source pixel blended onto the target pixel by the current blend factors: every
// channel (alpha included) is src * srcFactor + dst * dstFactor, divided by 255 with
// rounding and clipped at 255. A target without alpha reads and stays opaque. This is the
// reference every faster blend path must match; the span loops call it only for blends
// other than replace and classic alpha.
uint32_t TD3DRaster::BlendPixel(uint32_t s, uint32_t d) const {
  if (!targetAlpha) d |= 0xFF000000u;
  uint32_t out;
  switch (blendKind) {
    case BlendKind::Replace: out = s; break;
    case BlendKind::Alpha: out = BlendAlpha(s, d); break;
    default: {
      uint32_t sa = s >> 24, da = d >> 24;
      out = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        uint32_t sc = (s >> sh) & 255, dc = (d >> sh) & 255;
        auto factor = [&](int f, uint32_t chan) -> uint32_t {
          switch (f) {
            case D3DBLEND_ZERO: return 0;
            case D3DBLEND_ONE: return 255;
            case D3DBLEND_SRCCOLOR: return (s >> chan) & 255;
            case D3DBLEND_INVSRCCOLOR: return 255 - ((s >> chan) & 255);
            case D3DBLEND_SRCALPHA: return sa;
            case D3DBLEND_INVSRCALPHA: return 255 - sa;
            case D3DBLEND_DESTALPHA: return da;
            case D3DBLEND_INVDESTALPHA: return 255 - da;
            case D3DBLEND_DESTCOLOR: return (d >> chan) & 255;
            case D3DBLEND_INVDESTCOLOR: return 255 - ((d >> chan) & 255);
            default: return 0;
          }
        };
        uint32_t v = Div255(sc * factor(srcBlend, sh) + dc * factor(dstBlend, sh));
        out |= std::min<uint32_t>(v, 255) << sh;
      }
      break;
    }
  }
  if (!targetAlpha) out |= 0xFF000000u;
  return out;
}

// u, v: texel space of the level in 16.16 fixed point (texel i spans [i, i+1)).
// Bilinear filtering samples around the point half a texel up and left, so that a texel
// centre returns that texel exactly; weights are 8-bit, the lerps those of Lerp.
uint32_t TD3DRaster::Fetch(const Level& lv, int64_t u, int64_t v, bool linear) const {
  if (!linear) return Texel(lv, AddressU(lv, u >> 16), AddressV(lv, v >> 16));
  u -= 32768;
  v -= 32768;
  int64_t x0 = u >> 16, y0 = v >> 16;
  uint32_t fx = static_cast<uint32_t>((u >> 8) & 255), fy = static_cast<uint32_t>((v >> 8) & 255);
  uint32_t xa = AddressU(lv, x0), xb = AddressU(lv, x0 + 1);
  uint32_t ya = AddressV(lv, y0), yb = AddressV(lv, y0 + 1);
  uint32_t top = Lerp(Texel(lv, xa, ya), Texel(lv, xb, ya), fx);
  uint32_t bot = Lerp(Texel(lv, xa, yb), Texel(lv, xb, yb), fx);
  return Lerp(top, bot, fy);
}

// Magnification (footprint up to one texel per pixel) uses level 0 and the magnification
// filter; minification the minification filter and, with a mip chain, the level(s) for
// log2 of the footprint: point mip filtering takes the nearest level (rounding at
// rho = sqrt(2) * 2^n), linear mip filtering the two levels around it with an 8-bit weight.
// The fraction of log2 is approximated linearly from the mantissa, which is cheap and
// monotonic; the footprint's square comes in so no square root is taken for
// magnification.
void TD3DRaster::ChooseLod(double rho2, int* lvl, int& lvlCount, uint32_t& mipW,
                           bool& linear) const {
  lvl[0] = 0;
  lvl[1] = 0;
  lvlCount = 1;
  mipW = 0;
  if (!(rho2 > 1.0)) {  // magnification (or a degenerate footprint)
    linear = magFilter == D3DTFG_LINEAR;
    return;
  }
  linear = minFilter == D3DTFN_LINEAR;
  if (levelCount <= 1 || mipFilter == D3DTFP_NONE || mipFilter == 0) return;
  int e;
  double m = std::frexp(std::sqrt(rho2), &e);  // rho = m * 2^e, m in [0.5, 1)
  int base = e - 1;                            // floor(log2 rho)
  double frac = 2.0 * m - 1.0;                 // linear approximation of the fraction
  if (mipFilter == D3DTFP_POINT) {
    int l = m >= 0.70710678118654752 ? base + 1 : base;
    lvl[0] = std::clamp(l, 0, levelCount - 1);
    return;
  }
  if (base >= levelCount - 1) {
    lvl[0] = levelCount - 1;
    return;
  }
  lvl[0] = base;
  lvl[1] = base + 1;
  mipW = static_cast<uint32_t>(frac * 256.0);
  lvlCount = mipW ? 2 : 1;
}

// A filtered texel at normalised texture coordinates, for the single-pixel paths (points
// and lines); the span loops step fixed-point coordinates instead.
uint32_t TD3DRaster::SampleAt(double u, double v, const int* lvl, int lvlCount, uint32_t mipW,
                              bool linear) const {
  const Level& a = levels[lvl[0]];
  uint32_t t = Fetch(a, static_cast<int64_t>(std::floor(u * a.w * 65536.0)),
                     static_cast<int64_t>(std::floor(v * a.h * 65536.0)), linear);
  if (lvlCount == 2) {
    const Level& b = levels[lvl[1]];
    uint32_t t2 = Fetch(b, static_cast<int64_t>(std::floor(u * b.w * 65536.0)),
                        static_cast<int64_t>(std::floor(v * b.h * 65536.0)), linear);
    t = Lerp(t, t2, mipW);
  }
  return t;
}

// Narrows the pixel range [xl, xr] of row py to the viewport and to every enabled clip
// plane (a pixel is kept when a * x + b * y + d >= 0 at its centre); false when nothing
// of the row is left. Each plane cuts a row at one x, so a row stays one interval and the
// loops need no per-pixel plane test. Bounds beyond the int range saturate.
bool TD3DRaster::RowLimits(int py, int& xl, int& xr) const {
  // xl, xr inclusive; narrowed by the scissor and the clip planes.
  xl = std::max(xl, clipL);
  xr = std::min(xr, clipR - 1);
  double yc = py + 0.5;
  for (int i = 0; i < planeCount; ++i) {
    double a = planes[i][0], rest = planes[i][1] * yc + planes[i][3];
    if (a == 0.0) {
      if (!(rest >= 0.0)) return false;
      continue;
    }
    double bound = -rest / a - 0.5;  // pixel x at which a (x + 0.5) + rest = 0
    if (a > 0) {
      double c = std::ceil(bound);
      if (c > xl) xl = c > 2e9 ? INT32_MAX : static_cast<int>(c);
    } else {
      double f = std::floor(bound);
      if (f < xr) xr = f < -2e9 ? INT32_MIN : static_cast<int>(f);
    }
  }
  return xl <= xr;
}

// One pixel through the whole pipeline (clip, texture, combine, alpha test, blend): the
// path of points and lines, where speed does not matter.
void TD3DRaster::ShadeOne(int px, int py, uint32_t diff, double u, double v, const int* lvl,
                          int lvlCount, uint32_t mipW, bool linear) {
  if (py < clipT || py >= clipB) return;
  int xl = px, xr = px;
  if (!RowLimits(py, xl, xr)) return;
  uint32_t tex = textured ? SampleAt(u, v, lvl, lvlCount, mipW, linear) : 0xFFFFFFFFu;
  uint32_t src = CombineColor(tex, diff);
  if (alphaTest && !alphaPass[src >> 24]) return;
  uint32_t* p = target->Row(py) + px;
  *p = BlendPixel(src, *p);
}

namespace {
inline uint32_t ClampChan(int32_t v) {  // 16.16 -> 0..255
  int32_t i = v >> 16;
  return static_cast<uint32_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
}
inline uint32_t LerpARGB(uint32_t a, uint32_t b, double t) {
  uint32_t out = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    double ca = (a >> sh) & 255, cb = (b >> sh) & 255;
    int v = static_cast<int>(std::floor(ca + (cb - ca) * t + 0.5));
    out |= static_cast<uint32_t>(std::clamp(v, 0, 255)) << sh;
  }
  return out;
}
// Usable: a vertex that can be drawn at all (no NaN or infinity). Finite: one whose
// coordinates also stay within 4e6 pixels, where the 1/256-pixel products of the
// rasterizer's set-up fit in 64 bits.
bool Usable(const TD3DTLVertex& v) {
  return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.tu) && std::isfinite(v.tv);
}
bool Finite(const TD3DTLVertex& v) {
  return std::isfinite(v.sx) && std::isfinite(v.sy) && std::fabs(v.sx) < 4.0e6f &&
         std::fabs(v.sy) < 4.0e6f && std::isfinite(v.tu) && std::isfinite(v.tv);
}
// A screen coordinate in 1/256 pixel, rounded to nearest.
inline int64_t Snap(float f) { return static_cast<int64_t>(std::floor(static_cast<double>(f) * 256.0 + 0.5)); }
}  // namespace

// A point lights the pixel that contains it, with the vertex's colour and texel.
void TD3DRaster::Point(const TD3DTLVertex& v) {
  if (!Finite(v)) return;
  int64_t X = Snap(v.sx), Y = Snap(v.sy);
  int px = static_cast<int>(FloorDiv(X, 256)), py = static_cast<int>(FloorDiv(Y, 256));
  int lvl[2];
  int lc;
  uint32_t mw;
  bool lin;
  ChooseLod(0.0, lvl, lc, mw, lin);
  ShadeOne(px, py, v.color, v.tu, v.tv, lvl, lc, mw, lin);
}

// Pixels along the major axis whose centres lie in [start, end) of the line; on the
// minor axis the pixel that contains the line at that centre. The end point is left out
// so that the segments of a strip meet without lighting their shared pixel twice (which
// would show under blending). The minor coordinate is computed exactly in integers from
// the snapped end points, not stepped, so long lines do not drift; the walk is clipped to
// the viewport on the major axis first, so a line far off screen costs nothing.
void TD3DRaster::Line(const TD3DTLVertex& a, const TD3DTLVertex& b) {
  if (!Finite(a) || !Finite(b)) return;
  int64_t X0 = Snap(a.sx), Y0 = Snap(a.sy), X1 = Snap(b.sx), Y1 = Snap(b.sy);
  int64_t DX = X1 - X0, DY = Y1 - Y0;
  if (DX == 0 && DY == 0) return;
  bool xMajor = std::llabs(DX) >= std::llabs(DY);
  int64_t M0 = xMajor ? X0 : Y0, M1 = xMajor ? X1 : Y1;
  int64_t N0 = xMajor ? Y0 : X0;
  int64_t DM = M1 - M0, DN = xMajor ? DY : DX;
  // Major pixel indices i with centre c = i*256 + 128 in [M0, M1) (or (M1, M0]).
  int64_t first, last, step;
  if (DM > 0) {
    first = CeilDiv(M0 - 128, 256);
    last = CeilDiv(M1 - 128, 256) - 1;
    step = 1;
  } else {
    first = FloorDiv(M0 - 128, 256);
    last = FloorDiv(M1 - 128, 256) + 1;
    step = -1;
  }
  if ((last - first) * step < 0) return;
  // Only the part of the major axis inside the clip rectangle can light pixels.
  const int64_t lo = xMajor ? clipL : clipT, hi = (xMajor ? clipR : clipB) - 1;
  if (step > 0) {
    first = std::max(first, lo);
    last = std::min(last, hi);
  } else {
    first = std::min(first, hi);
    last = std::max(last, lo);
  }
  if ((last - first) * step < 0) return;
  // Texture footprint along the line.
  int lvl[2];
  int lc = 1;
  uint32_t mw = 0;
  bool lin = false;
  if (textured) {
    double len = std::sqrt(static_cast<double>(DX) * DX + static_cast<double>(DY) * DY) / 256.0;
    double du = (b.tu - a.tu) * levels[0].w / len, dv = (b.tv - a.tv) * levels[0].h / len;
    ChooseLod(du * du + dv * dv, lvl, lc, mw, lin);
  } else {
    ChooseLod(0, lvl, lc, mw, lin);
  }
  bool flat = a.color == b.color;
  for (int64_t i = first;; i += step) {
    int64_t c = i * 256 + 128;
    // minor coordinate at this centre, floor((N0 + (c - M0) * DN / DM) / 256)
    int64_t num = (c - M0) * DN;
    int64_t n = DM > 0 ? N0 + FloorDiv(num, DM) : N0 + FloorDiv(-num, -DM);
    int64_t j = FloorDiv(n, 256);
    double t = static_cast<double>(c - M0) / static_cast<double>(DM);
    uint32_t diff = flat ? a.color : LerpARGB(a.color, b.color, t);
    double u = a.tu + (b.tu - a.tu) * t, v = a.tv + (b.tv - a.tv) * t;
    int px = static_cast<int>(xMajor ? i : j), py = static_cast<int>(xMajor ? j : i);
    if (px >= clipL - 1 && px <= clipR && py >= clipT - 1 && py <= clipB)
      ShadeOne(px, py, diff, u, v, lvl, lc, mw, lin);
    if (i == last) break;
  }
}

// ---- triangle spans ----------------------------------------------------------------------

// The general span loop: n pixels of one triangle row from s.dst on, colour stepped in
// 16.16 (Gouraud) or flat, texture coordinates stepped in 16.16 texels per level. The
// texture mode, shading, blend kind and alpha test are template parameters so that each
// combination compiles to a loop without state tests; the *Wrap modes are the default
// addressing with the address arithmetic inlined.
template <TD3DRaster::TexMode TM, bool Gouraud, TD3DRaster::BlendKind BK, bool AT>
void TD3DRaster::Span(SpanArgs& s) {
  int32_t r = 0, g = 0, b = 0, a = 0;
  if constexpr (Gouraud) {
    r = s.c[0];
    g = s.c[1];
    b = s.c[2];
    a = s.c[3];
  }
  const bool xa = !targetAlpha;
  uint32_t* dst = s.dst;
  const int n = s.n;
  int64_t u = s.u, v = s.v, u2 = s.u2, v2 = s.v2;
  for (int i = 0; i < n; ++i) {
    uint32_t diff;
    if constexpr (Gouraud) {
      diff = ClampChan(a) << 24 | ClampChan(r) << 16 | ClampChan(g) << 8 | ClampChan(b);
      r += s.dc[0];
      g += s.dc[1];
      b += s.dc[2];
      a += s.dc[3];
    } else {
      diff = s.flat;
    }
    uint32_t src;
    if constexpr (TM == TexMode::None) {
      src = diff;
    } else {
      uint32_t tex;
      if constexpr (TM == TexMode::Row) {
        int x = s.x0 + i;
        tex = s.row0[x];
        if (s.fx) tex = Lerp(tex, s.row0[x + 1], s.fx);
        if (s.fy) {
          uint32_t bot = s.row1[x];
          if (s.fx) bot = Lerp(bot, s.row1[x + 1], s.fx);
          tex = Lerp(tex, bot, s.fy);
        }
      } else if constexpr (TM == TexMode::PointWrap) {
        tex = FetchWrap(*s.l0, u, v, false);
      } else if constexpr (TM == TexMode::BilinearWrap) {
        tex = FetchWrap(*s.l0, u, v, true);
      } else if constexpr (TM == TexMode::Point) {
        tex = Fetch(*s.l0, u, v, false);
      } else if constexpr (TM == TexMode::Bilinear) {
        tex = Fetch(*s.l0, u, v, true);
      } else {
        tex = Lerp(Fetch(*s.l0, u, v, s.linear), Fetch(*s.l1, u2, v2, s.linear), s.mipW);
        u2 += s.du2;
        v2 += s.dv2;
      }
      u += s.du;
      v += s.dv;
      src = CombineColor(tex, diff);
    }
    if constexpr (AT) {
      if (!alphaPass[src >> 24]) continue;
    }
    uint32_t out;
    if constexpr (BK == BlendKind::Replace) {
      out = src;
    } else if constexpr (BK == BlendKind::Alpha) {
      out = BlendAlpha(src, xa ? dst[i] | 0xFF000000u : dst[i]);
    } else {
      out = BlendPixel(src, dst[i]);
    }
    dst[i] = xa ? out | 0xFF000000u : out;
  }
}

// Picks the Span instantiation for the draw's blend kind and alpha test.
template <TD3DRaster::TexMode TM, bool Gouraud>
void TD3DRaster::SpanDispatch(SpanArgs& s) {
  switch (blendKind) {
    case BlendKind::Replace:
      if (alphaTest) Span<TM, Gouraud, BlendKind::Replace, true>(s);
      else Span<TM, Gouraud, BlendKind::Replace, false>(s);
      break;
    case BlendKind::Alpha:
      if (alphaTest) Span<TM, Gouraud, BlendKind::Alpha, true>(s);
      else Span<TM, Gouraud, BlendKind::Alpha, false>(s);
      break;
    default:
      if (alphaTest) Span<TM, Gouraud, BlendKind::Generic, true>(s);
      else Span<TM, Gouraud, BlendKind::Generic, false>(s);
      break;
  }
}

// One texel per pixel from one or two texel rows: the loop for unscaled images.
template <TD3DRaster::BlendKind BK, bool AT, bool LX, bool LY, bool TexOnly>
void TD3DRaster::RowSpan(const SpanArgs& s) {
  uint32_t* __restrict dst = s.dst;
  const uint32_t* __restrict r0 = s.row0 + s.x0;
  const uint32_t* __restrict r1 = s.row1 + s.x0;
  const int n = s.n;
  const uint32_t fx = s.fx, fy = s.fy, diff = s.flat;
  const uint32_t opaque = targetAlpha ? 0u : 0xFF000000u;
  int i = 0;
#ifdef __SSE2__
  // Four pixels at a time while they are all opaque or all transparent; mixed groups
  // fall through to the exact per-pixel code below, which gives the same values.
  if constexpr (TexOnly && !LX && !AT && (BK == BlendKind::Replace || BK == BlendKind::Alpha)) {
    const __m128i op = _mm_set1_epi32(static_cast<int>(opaque));
    const __m128i full = _mm_set1_epi32(255);
    const __m128i zero = _mm_setzero_si128();
    const __m128i w1 = _mm_set1_epi16(static_cast<short>(fy)), w0 = _mm_set1_epi16(static_cast<short>(256 - fy));
    if constexpr (BK == BlendKind::Alpha && !LY) {
      if (n >= 8 && HaveAvx2()) i = BlendRowAvx2(dst, r0, n, opaque);
    }
    for (; i + 4 <= n; i += 4) {
      __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + i));
      if constexpr (LY) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + i));
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), w0),
                                   _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), w1));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), w0),
                                   _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), w1));
        t = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
      }
      if constexpr (BK == BlendKind::Replace) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(t, op));
        continue;
      } else {
        const __m128i a = _mm_srli_epi32(t, 24);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, full)) == 0xFFFF) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(t, op));
          continue;
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, zero)) == 0xFFFF) continue;
        __m128i* d = reinterpret_cast<__m128i*>(dst + i);
        _mm_storeu_si128(d, _mm_or_si128(BlendAlpha4(t, _mm_or_si128(_mm_loadu_si128(d), op)), op));
      }
    }
  }
#endif
  for (; i < n; ++i) {
    uint32_t tex = r0[i];
    if constexpr (LX) tex = Lerp(tex, r0[i + 1], fx);
    if constexpr (LY) {
      uint32_t bot = r1[i];
      if constexpr (LX) bot = Lerp(bot, r1[i + 1], fx);
      tex = Lerp(tex, bot, fy);
    }
    uint32_t src;
    if constexpr (TexOnly) {
      src = tex;
    } else {
      src = CombineColor(tex, diff);
    }
    if constexpr (AT) {
      if (!alphaPass[src >> 24]) continue;
    }
    if constexpr (BK == BlendKind::Replace) {
      dst[i] = src | opaque;
    } else if constexpr (BK == BlendKind::Alpha) {
      dst[i] = BlendAlpha(src, dst[i] | opaque) | opaque;
    } else {
      dst[i] = BlendPixel(src, dst[i]);
    }
  }
}

// RowSpanLerp and RowDispatch pick the RowSpan instantiation: horizontal and vertical
// filtering only where the weights are not 0 (an image placed on whole pixels needs
// neither), and the texture-only combine that skips the diffuse colour.
template <TD3DRaster::BlendKind BK, bool AT>
void TD3DRaster::RowSpanLerp(const SpanArgs& s, bool texOnly) {
  const int k = (s.fx ? 1 : 0) | (s.fy ? 2 : 0) | (texOnly ? 4 : 0);
  switch (k) {
    case 0: RowSpan<BK, AT, false, false, false>(s); break;
    case 1: RowSpan<BK, AT, true, false, false>(s); break;
    case 2: RowSpan<BK, AT, false, true, false>(s); break;
    case 3: RowSpan<BK, AT, true, true, false>(s); break;
    case 4: RowSpan<BK, AT, false, false, true>(s); break;
    case 5: RowSpan<BK, AT, true, false, true>(s); break;
    case 6: RowSpan<BK, AT, false, true, true>(s); break;
    default: RowSpan<BK, AT, true, true, true>(s); break;
  }
}

void TD3DRaster::RowDispatch(const SpanArgs& s) {
  const bool texOnly = colorComb == Combine::Texture && alphaComb == Combine::Texture;
  switch (blendKind) {
    case BlendKind::Replace:
      if (alphaTest) RowSpanLerp<BlendKind::Replace, true>(s, texOnly);
      else RowSpanLerp<BlendKind::Replace, false>(s, texOnly);
      break;
    case BlendKind::Alpha:
      if (alphaTest) RowSpanLerp<BlendKind::Alpha, true>(s, texOnly);
      else RowSpanLerp<BlendKind::Alpha, false>(s, texOnly);
      break;
    default:
      if (alphaTest) RowSpanLerp<BlendKind::Generic, true>(s, texOnly);
      else RowSpanLerp<BlendKind::Generic, false>(s, texOnly);
      break;
  }
}

// Clips a triangle to the square of +-1e6 pixels (well inside the range the rasterizer
// handles, far outside any screen) and draws the polygon left as a fan of triangles. The
// attributes are interpolated along the cut edges; they are affine, so the triangles keep
// the original's colour and texture planes.
void TD3DRaster::GuardTriangle(const TD3DTLVertex& va, const TD3DTLVertex& vb, const TD3DTLVertex& vc) {
  constexpr double kGuard = 1.0e6;
  TD3DTLVertex poly[2][10] = {{va, vb, vc}};
  int n = 3, cur = 0;
  auto lerp = [](const TD3DTLVertex& a, const TD3DTLVertex& b, double t) {
    auto f = [t](float x, float y) {
      return static_cast<float>(static_cast<double>(x) + (static_cast<double>(y) - x) * t);
    };
    auto c = [t](uint32_t x, uint32_t y) {
      uint32_t out = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        const double cx = (x >> sh) & 255, cy = (y >> sh) & 255;
        out |= static_cast<uint32_t>(std::lround(cx + (cy - cx) * t)) << sh;
      }
      return out;
    };
    TD3DTLVertex v;
    v.sx = f(a.sx, b.sx);
    v.sy = f(a.sy, b.sy);
    v.sz = f(a.sz, b.sz);
    v.rhw = f(a.rhw, b.rhw);
    v.color = c(a.color, b.color);
    v.specular = c(a.specular, b.specular);
    v.tu = f(a.tu, b.tu);
    v.tv = f(a.tv, b.tv);
    return v;
  };
  for (int side = 0; side < 4; ++side) {
    // Signed distance inside the side's edge of the square.
    auto dist = [side, kGuard](const TD3DTLVertex& v) {
      const double c = side < 2 ? v.sx : v.sy;
      return side % 2 == 0 ? c + kGuard : kGuard - c;
    };
    const TD3DTLVertex* in = poly[cur];
    TD3DTLVertex* out = poly[1 - cur];
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const TD3DTLVertex& p = in[i];
      const TD3DTLVertex& q = in[(i + 1) % n];
      const double dp = dist(p), dq = dist(q);
      if (dp >= 0) out[m++] = p;
      if ((dp >= 0) != (dq >= 0)) out[m++] = lerp(p, q, dp / (dp - dq));
    }
    n = m;
    cur = 1 - cur;
    if (n < 3) return;
  }
  for (int i = 1; i + 1 < n; ++i) {
    const TD3DTLVertex& a = poly[cur][0];
    const TD3DTLVertex& b = poly[cur][i];
    const TD3DTLVertex& c = poly[cur][i + 1];
    if (Finite(a) && Finite(b) && Finite(c)) Triangle(a, b, c);
  }
}

// Fills the pixels whose centres lie inside the triangle. The vertices are snapped to
// 1/256 pixel and, for each row, each edge gives the first or last covered column by an
// exact integer division, with the top-left rule (a centre exactly on an edge belongs to
// the triangle only for a top or left edge, the `bias` of 1 otherwise): two triangles
// sharing an edge never both draw, nor both miss, a pixel on it. Culling uses the sign of
// the snapped area; the vertices are then put in one orientation so that the edge
// functions have one sign convention. Vertices too far out for 64-bit set-up go through
// GuardTriangle; NaN or infinite vertices draw nothing.
void TD3DRaster::Triangle(const TD3DTLVertex& va, const TD3DTLVertex& vb, const TD3DTLVertex& vc) {
  if (!Finite(va) || !Finite(vb) || !Finite(vc)) {
    // Far outside the screen the fixed-point set-up would overflow: the part of the
    // triangle inside the guard band is drawn instead.
    if (Usable(va) && Usable(vb) && Usable(vc)) GuardTriangle(va, vb, vc);
    return;
  }
  const TD3DTLVertex* p[3] = {&va, &vb, &vc};
  int64_t X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    X[i] = Snap(p[i]->sx);
    Y[i] = Snap(p[i]->sy);
  }
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
  if (area == 0) return;
  // area > 0: clockwise on the screen (y grows downwards).
  if (cull == D3DCULL_CW && area > 0) return;
  if (cull == D3DCULL_CCW && area < 0) return;
  if (area < 0) {
    std::swap(p[1], p[2]);
    std::swap(X[1], X[2]);
    std::swap(Y[1], Y[2]);
    area = -area;
  }
  int64_t ymin = std::min({Y[0], Y[1], Y[2]}), ymax = std::max({Y[0], Y[1], Y[2]});
  int rowFirst = static_cast<int>(std::max<int64_t>(CeilDiv(ymin - 128, 256), clipT));
  int rowLast = static_cast<int>(std::min<int64_t>(FloorDiv(ymax - 128, 256), clipB - 1));
  if (rowFirst > rowLast || clipL >= clipR) return;

  struct Edge {
    int64_t dx, dy, px, py, bias;
  } e[3];
  for (int i = 0; i < 3; ++i) {
    int j = (i + 1) % 3;
    e[i].dx = X[j] - X[i];
    e[i].dy = Y[j] - Y[i];
    e[i].px = X[i];
    e[i].py = Y[i];
    bool topLeft = e[i].dy < 0 || (e[i].dy == 0 && e[i].dx > 0);
    e[i].bias = topLeft ? 0 : 1;
  }
  Fill(p, X, Y, area, rowFirst, rowLast, [&](int py, int& xl, int& xr) {
    const int64_t Yc = static_cast<int64_t>(py) * 256 + 128;
    int64_t lo = INT32_MIN, hi = INT32_MAX;
    for (const Edge& ed : e) {
      int64_t C = ed.dx * (Yc - ed.py) - ed.dy * (128 - ed.px) - ed.bias;
      if (ed.dy > 0) {
        hi = std::min(hi, FloorDiv(C, 256 * ed.dy));
      } else if (ed.dy < 0) {
        lo = std::max(lo, CeilDiv(-C, -256 * ed.dy));
      } else if (C < 0) {
        return false;
      }
    }
    if (lo > hi) return false;
    xl = static_cast<int>(std::max<int64_t>(lo, INT32_MIN + 1));
    xr = static_cast<int>(std::min<int64_t>(hi, INT32_MAX - 1));
    return true;
  });
}

// An axis-aligned quad drawn as a fan of four: the union of its two triangles is every
// pixel whose centre lies in [left, right) x [top, bottom), so it is filled in one pass.
// False when the quad is not such a rectangle or its attributes are not affine.
bool TD3DRaster::Rect(const TD3DTLVertex* q) {
  for (int i = 0; i < 4; ++i)
    if (!Finite(q[i])) return false;
  int64_t X[4], Y[4];
  for (int i = 0; i < 4; ++i) {
    X[i] = Snap(q[i].sx);
    Y[i] = Snap(q[i].sy);
  }
  const bool horizontalFirst = Y[0] == Y[1] && X[1] == X[2] && Y[2] == Y[3] && X[3] == X[0];
  const bool verticalFirst = X[0] == X[1] && Y[1] == Y[2] && X[2] == X[3] && Y[3] == Y[0];
  if (!horizontalFirst && !verticalFirst) return false;
  if (q[0].color != q[1].color || q[0].color != q[2].color || q[0].color != q[3].color)
    return false;
  if (q[3].tu != q[0].tu + q[2].tu - q[1].tu || q[3].tv != q[0].tv + q[2].tv - q[1].tv) return false;
  const int64_t xmin = std::min(X[0], X[2]), xmax = std::max(X[0], X[2]);
  const int64_t ymin = std::min(Y[0], Y[2]), ymax = std::max(Y[0], Y[2]);
  if (xmin == xmax || ymin == ymax) return true;  // nothing to draw
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
  if (cull == D3DCULL_CW && area > 0) return true;
  if (cull == D3DCULL_CCW && area < 0) return true;
  const TD3DTLVertex* p[3] = {&q[0], &q[1], &q[2]};
  int64_t PX[3] = {X[0], X[1], X[2]}, PY[3] = {Y[0], Y[1], Y[2]};
  if (area < 0) {
    std::swap(p[1], p[2]);
    std::swap(PX[1], PX[2]);
    std::swap(PY[1], PY[2]);
    area = -area;
  }
  const int rowFirst = static_cast<int>(std::max<int64_t>(CeilDiv(ymin - 128, 256), clipT));
  const int rowLast = static_cast<int>(std::min<int64_t>(CeilDiv(ymax - 128, 256) - 1, clipB - 1));
  if (rowFirst > rowLast || clipL >= clipR) return true;
  const int64_t colFirst = CeilDiv(xmin - 128, 256), colLast = CeilDiv(xmax - 128, 256) - 1;
  if (colFirst > colLast) return true;
  const int cl = static_cast<int>(std::max<int64_t>(colFirst, INT32_MIN + 1));
  const int cr = static_cast<int>(std::min<int64_t>(colLast, INT32_MAX - 1));
  Fill(p, PX, PY, area, rowFirst, rowLast, [&](int, int& xl, int& xr) {
    xl = cl;
    xr = cr;
    return true;
  }, true);
  return true;
}

// Draws rows rowFirst..rowLast of a primitive whose covered columns per row `bounds`
// gives. Colour and texture coordinates are planes fitted through the three vertices
// p[0..2] (X, Y their snapped positions, area twice the snapped area, positive) and are
// evaluated afresh at the first pixel centre of each row, so errors do not pile up from
// row to row. Per draw it picks the cheapest loop that gives the same values: the row
// loop when every pixel reads the next texel of one texture row (an unscaled, unrotated
// image), with a batched AVX2 blend for whole rectangles; otherwise the general span
// loop. A white opaque diffuse turns modulation into plain texture for this draw only
// (the combines are restored at the end).
template <class RowBounds>
void TD3DRaster::Fill(const TD3DTLVertex* const* p, const int64_t* X, const int64_t* Y, int64_t area,
                      int rowFirst, int rowLast, RowBounds bounds, bool sameColumns) {
  // Attribute planes (pixels as units).
  const double xa = X[0] / 256.0, ya = Y[0] / 256.0;
  const double x1 = X[1] / 256.0 - xa, y1 = Y[1] / 256.0 - ya;
  const double x2 = X[2] / 256.0 - xa, y2 = Y[2] / 256.0 - ya;
  const double det = static_cast<double>(area) / 65536.0;
  auto plane = [&](double A0, double A1, double A2, double& dx, double& dy) {
    double d1 = A1 - A0, d2 = A2 - A0;
    dx = (d1 * y2 - d2 * y1) / det;
    dy = (d2 * x1 - d1 * x2) / det;
  };

  SpanArgs s;
  const bool flat = p[0]->color == p[1]->color && p[0]->color == p[2]->color;
  double cA[4] = {}, cdx[4] = {}, cdy[4] = {};
  if (!flat) {
    for (int k = 0; k < 4; ++k) {
      int sh = k == 3 ? 24 : 16 - 8 * k;  // r, g, b, a
      double c0 = (p[0]->color >> sh) & 255, c1 = (p[1]->color >> sh) & 255,
             c2 = (p[2]->color >> sh) & 255;
      cA[k] = c0;
      plane(c0, c1, c2, cdx[k], cdy[k]);
      s.dc[k] = static_cast<int32_t>(std::floor(cdx[k] * 65536.0 + 0.5));
    }
  }
  s.flat = p[0]->color;

  TexMode mode = TexMode::None;
  double dudx = 0, dudy = 0, dvdx = 0, dvdy = 0;
  int lvl[2] = {0, 0};
  int lc = 1;
  const Combine saveC = colorComb, saveA = alphaComb;
  if (textured) {
    plane(p[0]->tu, p[1]->tu, p[2]->tu, dudx, dudy);
    plane(p[0]->tv, p[1]->tv, p[2]->tv, dvdx, dvdy);
    const double W = levels[0].w, H = levels[0].h;
    double rx = dudx * W * dudx * W + dvdx * H * dvdx * H;
    double ry = dudy * W * dudy * W + dvdy * H * dvdy * H;
    bool linear;
    ChooseLod(std::max(rx, ry), lvl, lc, s.mipW, linear);
    s.linear = linear;
    s.l0 = &levels[lvl[0]];
    s.l1 = &levels[lvl[1]];
    mode = lc == 2 ? TexMode::Trilinear : (linear ? TexMode::Bilinear : TexMode::Point);
    // White opaque diffuse leaves the texture as it is.
    if (flat && (s.flat & 0xFFFFFFu) == 0xFFFFFFu && colorComb == Combine::Modulate)
      colorComb = Combine::Texture;
    if (flat && (s.flat >> 24) == 0xFFu && alphaComb == Combine::Modulate)
      alphaComb = Combine::Texture;
  }
  const double Wl0 = s.l0 ? s.l0->w * 65536.0 : 0, Hl0 = s.l0 ? s.l0->h * 65536.0 : 0;
  const double Wl1 = s.l1 ? s.l1->w * 65536.0 : 0, Hl1 = s.l1 ? s.l1->h * 65536.0 : 0;
  if (mode != TexMode::None) {
    s.du = static_cast<int64_t>(std::floor(dudx * Wl0 + 0.5));
    s.dv = static_cast<int64_t>(std::floor(dvdx * Hl0 + 0.5));
    s.du2 = static_cast<int64_t>(std::floor(dudx * Wl1 + 0.5));
    s.dv2 = static_cast<int64_t>(std::floor(dvdx * Hl1 + 0.5));
  }
  const bool wrap = addrU == D3DTADDRESS_WRAP && addrV == D3DTADDRESS_WRAP;
  // One texel per pixel along rows with a fixed texel row: the row loop.
  const bool rowCandidate = flat && (mode == TexMode::Point || mode == TexMode::Bilinear) &&
                            dudx * Wl0 == 65536.0 && dvdx == 0.0;

  // An unrotated image on rows that all span the same columns (a rectangle without clip
  // planes): the columns and the texel column are found once, then each row needs only
  // its texel row. The values are those the general loop below computes; a row whose
  // texels leave the texture hands the rest of the rows to that loop.
  if (sameColumns && rowCandidate && planeCount == 0 && dudy == 0.0 && rowFirst <= rowLast) {
    int xl, xr;
    if (!bounds(rowFirst, xl, xr)) rowFirst = rowLast + 1;
    xl = std::max(xl, clipL);
    xr = std::min(xr, clipR - 1);
    const Level& lv = *s.l0;
    if (rowFirst <= rowLast && xl <= xr) {
      s.n = xr - xl + 1;
      const double fxp = xl + 0.5 - xa;
      const double u = p[0]->tu + dudx * fxp + dudy * (rowFirst + 0.5 - ya);
      int64_t U = FloorInt(u * Wl0);
      const bool bilinear = mode == TexMode::Bilinear;
      if (bilinear) U -= 32768;
      const uint32_t fx = bilinear ? static_cast<uint32_t>((U >> 8) & 255) : 0;
      const int64_t tx0 = U >> 16, txl = tx0 + s.n - 1 + (fx ? 1 : 0);
      if (tx0 >= 0 && txl < lv.w) {
        s.x0 = static_cast<int>(tx0);
        // Plain alpha blending of unfiltered texels: the rows go to the vector loop in
        // batches, without a call per row.
        const bool batch = !bilinear && blendKind == BlendKind::Alpha && !alphaTest &&
                           colorComb == Combine::Texture && alphaComb == Combine::Texture && HaveAvx2();
        BlendRow rows[64];
        int pending = 0;
        const uint32_t opaque = targetAlpha ? 0u : 0xFF000000u;
        for (; rowFirst <= rowLast; ++rowFirst) {
          const double fyp = rowFirst + 0.5 - ya;
          const double v = p[0]->tv + dvdx * fxp + dvdy * fyp;
          int64_t V = FloorInt(v * Hl0);
          if (bilinear) V -= 32768;
          s.fx = fx;
          s.fy = bilinear ? static_cast<uint32_t>((V >> 8) & 255) : 0;
          const int64_t ty0 = V >> 16, tyl = ty0 + (s.fy ? 1 : 0);
          if (ty0 < 0 || tyl >= lv.h) break;
          if (batch) {
            rows[pending++] = {target->Row(rowFirst) + xl,
                               reinterpret_cast<const uint32_t*>(lv.bits + ty0 * lv.pitch) + s.x0};
            if (pending == 64) {
              BlendRowsAvx2(rows, pending, s.n, opaque);
              pending = 0;
            }
            continue;
          }
          s.dst = target->Row(rowFirst) + xl;
          s.row0 = reinterpret_cast<const uint32_t*>(lv.bits + ty0 * lv.pitch);
          s.row1 = reinterpret_cast<const uint32_t*>(lv.bits + tyl * lv.pitch);
          RowDispatch(s);
        }
        if (pending) BlendRowsAvx2(rows, pending, s.n, opaque);
      }
    } else {
      rowFirst = rowLast + 1;
    }
  }

  for (int py = rowFirst; py <= rowLast; ++py) {
    int xl, xr;
    if (!bounds(py, xl, xr)) continue;
    if (!RowLimits(py, xl, xr)) continue;
    s.dst = target->Row(py) + xl;
    s.n = xr - xl + 1;
    const double fxp = xl + 0.5 - xa, fyp = py + 0.5 - ya;
    if (!flat) {
      for (int k = 0; k < 4; ++k)
        s.c[k] = static_cast<int32_t>(
            std::floor((cA[k] + cdx[k] * fxp + cdy[k] * fyp) * 65536.0 + 0.5));
    }
    if (mode != TexMode::None) {
      double u = p[0]->tu + dudx * fxp + dudy * fyp;
      double v = p[0]->tv + dvdx * fxp + dvdy * fyp;
      s.u = FloorInt(u * Wl0);
      s.v = FloorInt(v * Hl0);
      if (mode == TexMode::Trilinear) {
        s.u2 = static_cast<int64_t>(std::floor(u * Wl1));
        s.v2 = static_cast<int64_t>(std::floor(v * Hl1));
      }
    }
    if (rowCandidate) {
      const Level& lv = *s.l0;
      int64_t U = s.u, V = s.v;
      if (mode == TexMode::Bilinear) {
        U -= 32768;
        V -= 32768;
        s.fx = static_cast<uint32_t>((U >> 8) & 255);
        s.fy = static_cast<uint32_t>((V >> 8) & 255);
      } else {
        s.fx = s.fy = 0;
      }
      int64_t tx0 = U >> 16, ty0 = V >> 16;
      int64_t txl = tx0 + s.n - 1 + (s.fx ? 1 : 0), tyl = ty0 + (s.fy ? 1 : 0);
      if (tx0 >= 0 && txl < lv.w && ty0 >= 0 && tyl < lv.h) {
        s.x0 = static_cast<int>(tx0);
        s.row0 = reinterpret_cast<const uint32_t*>(lv.bits + ty0 * lv.pitch);
        s.row1 = reinterpret_cast<const uint32_t*>(lv.bits + tyl * lv.pitch);
        RowDispatch(s);
        continue;
      }
    }
    switch (mode) {
      case TexMode::None:
        if (flat) SpanDispatch<TexMode::None, false>(s); else SpanDispatch<TexMode::None, true>(s);
        break;
      case TexMode::Point:
        if (wrap) {
          if (flat) SpanDispatch<TexMode::PointWrap, false>(s);
          else SpanDispatch<TexMode::PointWrap, true>(s);
        } else {
          if (flat) SpanDispatch<TexMode::Point, false>(s);
          else SpanDispatch<TexMode::Point, true>(s);
        }
        break;
      case TexMode::Bilinear:
        if (wrap) {
          if (flat) SpanDispatch<TexMode::BilinearWrap, false>(s);
          else SpanDispatch<TexMode::BilinearWrap, true>(s);
        } else {
          if (flat) SpanDispatch<TexMode::Bilinear, false>(s);
          else SpanDispatch<TexMode::Bilinear, true>(s);
        }
        break;
      default:
        if (flat) SpanDispatch<TexMode::Trilinear, false>(s);
        else SpanDispatch<TexMode::Trilinear, true>(s);
        break;
    }
  }
  colorComb = saveC;
  alphaComb = saveA;
}

// ---------------------------------------------------------------------------------------
// The device.

TD3DDevice7::TD3DDevice7() : _raster(std::make_unique<TD3DRaster>()) {
  _rs[D3DRS_ZENABLE] = 0;
  _rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  _rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  _rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  _rs[D3DRS_ALPHAREF] = 0;
  _rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  _rs[D3DRS_ALPHABLENDENABLE] = 0;
  _rs[D3DRS_ALPHATESTENABLE] = 0;
  _rs[D3DRS_CLIPPING] = 1;
  _rs[D3DRS_LIGHTING] = 1;
  _rs[D3DRS_CLIPPLANEENABLE] = 0;
  _tss[D3DTSS_COLOROP] = D3DTOP_MODULATE;
  _tss[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
  _tss[D3DTSS_COLORARG2] = D3DTA_CURRENT;
  _tss[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
  _tss[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
  _tss[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
  _tss[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
  _tss[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
  _tss[D3DTSS_MAGFILTER] = D3DTFG_POINT;
  _tss[D3DTSS_MINFILTER] = D3DTFN_POINT;
  _tss[D3DTSS_MIPFILTER] = D3DTFP_NONE;
}

TD3DDevice7::~TD3DDevice7() = default;

int32_t TD3DDevice7::GetCaps(TD3DDeviceCaps& caps) const {
  caps = TD3DDeviceCaps{};
  return DD_OK;
}

int32_t TD3DDevice7::SetRenderTarget(const TDDSurface7Ptr& target) {
  if (!target || !(target->Caps() & DDSCAPS_3DDEVICE)) return DDERR_INVALIDPARAMS;
  _target = target;
  _viewport = TD3DViewport{0, 0, target->Width(), target->Height(), 0, 1};
  return DD_OK;
}

int32_t TD3DDevice7::BeginScene() {
  if (_inScene) return D3DERR_SCENE_IN_SCENE;
  if (_target && _target->IsLost() != DD_OK) return DDERR_SURFACELOST;
  _inScene = true;
  return DD_OK;
}

int32_t TD3DDevice7::EndScene() {
  if (!_inScene) return D3DERR_SCENE_NOT_IN_SCENE;
  _inScene = false;
  return DD_OK;
}

int32_t TD3DDevice7::SetRenderState(TD3DRenderState state, uint32_t value) {
  if (static_cast<unsigned>(state) >= 256) return DDERR_INVALIDPARAMS;
  _rs[state] = value;
  return DD_OK;
}

int32_t TD3DDevice7::GetRenderState(TD3DRenderState state, uint32_t& value) const {
  if (static_cast<unsigned>(state) >= 256) return DDERR_INVALIDPARAMS;
  value = _rs[state];
  return DD_OK;
}

int32_t TD3DDevice7::SetTextureStageState(int stage, TD3DTextureStageState state, uint32_t value) {
  if (stage != 0 || static_cast<unsigned>(state) >= 32) return DDERR_INVALIDPARAMS;
  _tss[state] = value;
  return DD_OK;
}

int32_t TD3DDevice7::GetTextureStageState(int stage, TD3DTextureStageState state,
                                          uint32_t& value) const {
  if (stage != 0 || static_cast<unsigned>(state) >= 32) return DDERR_INVALIDPARAMS;
  value = _tss[state];
  return DD_OK;
}

int32_t TD3DDevice7::SetTexture(int stage, const TDDSurface7Ptr& texture) {
  if (stage != 0) return DDERR_INVALIDPARAMS;
  if (texture && !(texture->Caps() & DDSCAPS_TEXTURE)) return DDERR_INVALIDPARAMS;
  _texture = texture;
  return DD_OK;
}

TDDSurface7Ptr TD3DDevice7::GetTexture(int stage) const { return stage == 0 ? _texture : nullptr; }

int32_t TD3DDevice7::SetClipPlane(int index, const float plane[4]) {
  if (index < 0 || index >= D3D_MAX_USER_CLIP_PLANES || !plane) return DDERR_INVALIDPARAMS;
  for (int k = 0; k < 4; ++k) _planes[index][k] = plane[k];
  return DD_OK;
}

int32_t TD3DDevice7::GetClipPlane(int index, float plane[4]) const {
  if (index < 0 || index >= D3D_MAX_USER_CLIP_PLANES || !plane) return DDERR_INVALIDPARAMS;
  for (int k = 0; k < 4; ++k) plane[k] = _planes[index][k];
  return DD_OK;
}

int32_t TD3DDevice7::SetTransform(TD3DTransformState state, const TD3DMatrix& matrix) {
  if (state < 1 || state > 3) return DDERR_INVALIDPARAMS;
  _transforms[state] = matrix;
  return DD_OK;
}

int32_t TD3DDevice7::GetTransform(TD3DTransformState state, TD3DMatrix& matrix) const {
  if (state < 1 || state > 3) return DDERR_INVALIDPARAMS;
  matrix = _transforms[state];
  return DD_OK;
}

int32_t TD3DDevice7::SetViewport(const TD3DViewport& viewport) {
  if (viewport.width < 0 || viewport.height < 0) return DDERR_INVALIDPARAMS;
  _viewport = viewport;
  return DD_OK;
}

int32_t TD3DDevice7::GetViewport(TD3DViewport& viewport) const {
  viewport = _viewport;
  return DD_OK;
}

// Fills the rectangles (or the whole viewport when none are given), each cut to the
// viewport, with the colour; only the target is cleared (other clear flags do nothing).
// A target without alpha stays opaque.
int32_t TD3DDevice7::Clear(int count, const TDDRect* rects, uint32_t flags, uint32_t color) {
  if (!_target) return DDERR_INVALIDOBJECT;
  if (_target->IsLost() != DD_OK) return DDERR_SURFACELOST;
  if (!(flags & D3DCLEAR_TARGET)) return DD_OK;
  if (!_target->HasAlpha()) color |= 0xFF000000u;
  const int vl = std::max(0, _viewport.x), vt = std::max(0, _viewport.y);
  const int vr = std::min(_target->Width(), _viewport.x + _viewport.width);
  const int vb = std::min(_target->Height(), _viewport.y + _viewport.height);
  TDDRect whole{vl, vt, vr, vb};
  if (count <= 0 || !rects) {
    count = 1;
    rects = &whole;
  }
  for (int i = 0; i < count; ++i) {
    int l = std::max(rects[i].left, vl), t = std::max(rects[i].top, vt);
    int r = std::min(rects[i].right, vr), b = std::min(rects[i].bottom, vb);
    for (int y = t; y < b; ++y) std::fill_n(_target->Row(y) + l, std::max(0, r - l), color);
  }
  return DD_OK;
}

// Draws pre-transformed vertices between BeginScene and EndScene. A lost or locked
// texture draws as untextured rather than failing the call; a locked target refuses it.
// Strips flip every other triangle so all keep the strip's winding for culling; a fan of
// four vertices that forms an axis-aligned rectangle (the game's sprites) is filled in one
// pass by Rect instead of as two triangles.
int32_t TD3DDevice7::DrawPrimitive(TD3DPrimitiveType type, const TD3DTLVertex* v, int count) {
  if (!_target) return DDERR_INVALIDOBJECT;
  if (!_inScene) return D3DERR_SCENE_NOT_IN_SCENE;
  if (_target->IsLost() != DD_OK) return DDERR_SURFACELOST;
  if (!v || count < 0) return DDERR_INVALIDPARAMS;
  TDDSurface7* tex = _texture.get();
  if (tex && (tex->IsLost() != DD_OK || tex->IsLocked())) tex = nullptr;
  if (_target->IsLocked()) return DDERR_SURFACEBUSY;
  TD3DRaster& r = *_raster;
  r.Setup(*this, _target.get(), _viewport, _rs, _tss, _planes, tex);
  switch (type) {
    case D3DPT_POINTLIST:
      for (int i = 0; i < count; ++i) r.Point(v[i]);
      break;
    case D3DPT_LINELIST:
      for (int i = 0; i + 1 < count; i += 2) r.Line(v[i], v[i + 1]);
      break;
    case D3DPT_LINESTRIP:
      for (int i = 0; i + 1 < count; ++i) r.Line(v[i], v[i + 1]);
      break;
    case D3DPT_TRIANGLELIST:
      for (int i = 0; i + 2 < count; i += 3) r.Triangle(v[i], v[i + 1], v[i + 2]);
      break;
    case D3DPT_TRIANGLESTRIP:
      for (int i = 0; i + 2 < count; ++i) {
        if (i & 1) r.Triangle(v[i + 1], v[i], v[i + 2]);
        else r.Triangle(v[i], v[i + 1], v[i + 2]);
      }
      break;
    case D3DPT_TRIANGLEFAN:
      if (count == 4 && r.Rect(v)) break;
      for (int i = 1; i + 1 < count; ++i) r.Triangle(v[0], v[i], v[i + 1]);
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  return DD_OK;
}
