#pragma once
// A DirectDraw 7 / Direct3D 7-like layer implemented in software: surfaces in main memory
// (32-bit ARGB with a pitch), power-of-two texture surfaces with mip chains, a clipper,
// blits, flips, a vertical-blank wait, and a device that rasterizes transformed vertices
// (points, lines, triangle lists, strips and fans) with vertex colour, texture modulation,
// point/linear/mip filtering, alpha test, blending and four user clip planes.
//
// Presentation goes to SDL windows: a blit onto the primary surface lands in the window
// of the clipper (or of the cooperative level) and the primary flipping chain shows its
// back buffer in the exclusive window.
//
// Rasterization conventions: pixel (x, y) covers [x, x + 1) x [y, y + 1) and is sampled at
// its centre (x + 0.5, y + 0.5); triangles use a top-left fill rule on a 1/256 pixel
// grid; texel i of a level of width w has its centre at u = (i + 0.5) / w. Colours and
// texture coordinates are interpolated linearly in screen space (rhw is carried but all
// drawing here is 2D). All per-pixel arithmetic is integer, so results are the same on
// every machine.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;

// ---------------------------------------------------------------------------------------
// Result codes.

constexpr int32_t MakeDDResult(int code) {
  return static_cast<int32_t>(0x88760000u | static_cast<uint32_t>(code));
}
constexpr int32_t DD_OK = 0;
constexpr int32_t DDERR_GENERIC = static_cast<int32_t>(0x80004005u);
constexpr int32_t DDERR_UNSUPPORTED = static_cast<int32_t>(0x80004001u);
constexpr int32_t DDERR_INVALIDPARAMS = static_cast<int32_t>(0x80070057u);
constexpr int32_t DDERR_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t DDERR_INVALIDOBJECT = MakeDDResult(130);
constexpr int32_t DDERR_INVALIDRECT = MakeDDResult(150);
constexpr int32_t DDERR_NOEXCLUSIVEMODE = MakeDDResult(225);
constexpr int32_t DDERR_NOTFLIPPABLE = MakeDDResult(582);
constexpr int32_t DDERR_SURFACEBUSY = MakeDDResult(430);
constexpr int32_t DDERR_SURFACELOST = MakeDDResult(450);
constexpr int32_t DDERR_PRIMARYSURFACEALREADYEXISTS = MakeDDResult(564);
constexpr int32_t DDERR_EXCLUSIVEMODEALREADYSET = MakeDDResult(581);
constexpr int32_t DDERR_NOTLOCKED = MakeDDResult(584);
constexpr int32_t DDERR_WRONGMODE = MakeDDResult(587);
constexpr int32_t DDERR_UNSUPPORTEDMODE = MakeDDResult(590);
constexpr int32_t DDERR_NOTFOUND = MakeDDResult(255);
// Device (scene) errors.
constexpr int32_t D3DERR_SCENE_IN_SCENE = MakeDDResult(900);
constexpr int32_t D3DERR_SCENE_NOT_IN_SCENE = MakeDDResult(901);
constexpr int32_t D3DERR_SCENE_END_FAILED = MakeDDResult(902);

// "OK", "WRONGMODE", ...; any other code gives "UNKNOWN:<code> <low 16 bits>".
std::string DDErrorName(int32_t result);

// ---------------------------------------------------------------------------------------
// Surfaces.

// Surface capabilities.
constexpr uint32_t DDSCAPS_BACKBUFFER = 0x4;
constexpr uint32_t DDSCAPS_COMPLEX = 0x8;
constexpr uint32_t DDSCAPS_FLIP = 0x10;
constexpr uint32_t DDSCAPS_FRONTBUFFER = 0x20;
constexpr uint32_t DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr uint32_t DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr uint32_t DDSCAPS_SYSTEMMEMORY = 0x800;
constexpr uint32_t DDSCAPS_TEXTURE = 0x1000;
constexpr uint32_t DDSCAPS_3DDEVICE = 0x2000;
constexpr uint32_t DDSCAPS_VIDEOMEMORY = 0x4000;
constexpr uint32_t DDSCAPS_MIPMAP = 0x400000;
constexpr uint32_t DDSCAPS2_TEXTUREMANAGE = 0x10;

// Lock flags.
constexpr uint32_t DDLOCK_WAIT = 0x1;
constexpr uint32_t DDLOCK_READONLY = 0x10;
constexpr uint32_t DDLOCK_WRITEONLY = 0x20;

// Blit flags.
constexpr uint32_t DDBLT_COLORFILL = 0x400;
constexpr uint32_t DDBLT_WAIT = 0x1000000;

// Flip flags.
constexpr uint32_t DDFLIP_WAIT = 0x1;
constexpr uint32_t DDFLIP_NOVSYNC = 0x8;

// Cooperative levels.
constexpr uint32_t DDSCL_FULLSCREEN = 0x1;
constexpr uint32_t DDSCL_NORMAL = 0x8;
constexpr uint32_t DDSCL_EXCLUSIVE = 0x10;
constexpr uint32_t DDSCL_FPUPRESERVE = 0x1000;

// Vertical blank wait.
constexpr uint32_t DDWAITVB_BLOCKBEGIN = 0x1;

struct TDDRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// Description of a surface: what CreateSurface is asked for and what Lock and
// GetSurfaceDesc report. Pixels are always 32 bits; alphaMask 0 means the alpha byte is
// not part of the format (it reads as opaque when blending against the surface).
struct TDDSurfaceDesc {
  uint32_t caps = 0;
  uint32_t caps2 = 0;
  int width = 0;
  int height = 0;
  int pitch = 0;            // bytes from one row to the next (reported)
  int backBufferCount = 0;  // primary flipping chains
  int mipMapCount = 0;      // 0 with DDSCAPS_MIPMAP: the full chain down to 1 x 1
  int bitCount = 32;
  uint32_t alphaMask = 0xFF000000u;
  uint32_t redMask = 0x00FF0000u;
  uint32_t greenMask = 0x0000FF00u;
  uint32_t blueMask = 0x000000FFu;
  void* surface = nullptr;  // first byte of the locked rectangle (reported by Lock)
};

class TDDClipper;
class TDirectDraw7;
class TDDSurface7;
using TDDSurface7Ptr = std::shared_ptr<TDDSurface7>;
using TDDClipperPtr = std::shared_ptr<TDDClipper>;
using TDirectDraw7Ptr = std::shared_ptr<TDirectDraw7>;

class TDDSurface7 : public std::enable_shared_from_this<TDDSurface7> {
 public:
  ~TDDSurface7();

  // Locks a rectangle (or the whole surface) and reports its address and pitch.
  // A surface that is already locked answers DDERR_SURFACEBUSY; a lost one
  // DDERR_SURFACELOST. Drawing is synchronous, so DDLOCK_WAIT never has to wait.
  int32_t Lock(const TDDRect* rect, TDDSurfaceDesc& desc, uint32_t flags);
  int32_t Unlock(const TDDRect* rect = nullptr);
  bool IsLocked() const { return _locked; }
  // The level below this one of a mip chain, or the back buffer of a primary chain.
  int32_t GetAttachedSurface(uint32_t caps, TDDSurface7Ptr& out);
  int32_t GetSurfaceDesc(TDDSurfaceDesc& desc) const;
  // Copies (stretching by point sampling) or colour-fills a rectangle. A null rectangle
  // means the whole surface. Without a clipper the destination rectangle must lie in the
  // surface; on the primary surface with a clipper the rectangle is in screen
  // coordinates and lands in the clipper's window.
  int32_t Blt(const TDDRect* destRect, const TDDSurface7Ptr& source, const TDDRect* srcRect,
              uint32_t flags, uint32_t fillColor = 0);
  // Primary flipping chain: shows the back buffer and swaps it with the front buffer.
  int32_t Flip(uint32_t flags);
  int32_t SetClipper(const TDDClipperPtr& clipper);
  TDDClipperPtr GetClipper() const { return _clipper; }
  int32_t IsLost() const { return _lost ? DDERR_SURFACELOST : DD_OK; }
  int32_t Restore();

  int Width() const { return _width; }
  int Height() const { return _height; }
  int Pitch() const { return _pitch; }
  uint32_t Caps() const { return _caps; }
  bool HasAlpha() const { return _alphaMask != 0; }
  // Direct access for the rasterizer (no lock needed: everything runs on one thread).
  uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(_bits.data() + static_cast<size_t>(y) * _pitch); }
  const uint32_t* Row(int y) const {
    return reinterpret_cast<const uint32_t*>(_bits.data() + static_cast<size_t>(y) * _pitch);
  }
  // Mip levels of a texture, level 0 first (this surface); one entry without mipmaps.
  const std::vector<TDDSurface7*>& Levels() const { return _levels; }

 private:
  friend class TDirectDraw7;
  TDDSurface7() = default;
  int32_t PresentToWindow(SDL_Window* window, const TDDRect& src, int dx, int dy);

  std::weak_ptr<TDirectDraw7> _owner;
  uint32_t _caps = 0, _caps2 = 0;
  int _width = 0, _height = 0, _pitch = 0;
  uint32_t _alphaMask = 0;
  std::vector<uint8_t> _bits;
  bool _locked = false;
  bool _lost = false;
  TDDSurface7Ptr _attached;           // next mip level, or the back buffer of a primary
  std::vector<TDDSurface7*> _levels;  // mip chain from this level down
  TDDClipperPtr _clipper;
  SDL_Window* _window = nullptr;      // primary: the window of the cooperative level
};

// Clips blits onto the primary surface to a window's client area.
class TDDClipper {
 public:
  int32_t SetHWnd(SDL_Window* window);
  SDL_Window* Window() const { return _window; }
  // The window's client rectangle in screen coordinates.
  int32_t GetClipRect(TDDRect& rect) const;

 private:
  SDL_Window* _window = nullptr;
};

struct TDDDisplayMode {
  int width = 0, height = 0, bitCount = 0, refreshRate = 0;
};

struct TDDCaps {
  bool has3D = false;
};

class TD3DDevice7;
using TD3DDevice7Ptr = std::shared_ptr<TD3DDevice7>;

// The DirectDraw object. "Available" means an SDL video driver can be started.
class TDirectDraw7 : public std::enable_shared_from_this<TDirectDraw7> {
 public:
  ~TDirectDraw7();
  // Null (and the result in *result) when no video driver is available.
  static TDirectDraw7Ptr Create(int32_t* result = nullptr);

  int32_t SetCooperativeLevel(SDL_Window* window, uint32_t flags);
  uint32_t CooperativeLevel() const { return _coopFlags; }
  int32_t GetCaps(TDDCaps& caps) const;
  // Display modes of the first display (at most 1024 entries).
  int32_t EnumDisplayModes(std::vector<TDDDisplayMode>& modes) const;
  // Needs exclusive mode; the mode must be one of the enumerated ones (refresh 0 = any).
  int32_t SetDisplayMode(int width, int height, int bitCount, int refreshRate);
  int32_t RestoreDisplayMode();
  int32_t GetDisplayMode(TDDDisplayMode& mode) const;
  // Waits for the start of the next vertical blank of the display (a period of the
  // display's refresh rate, 60 Hz when unknown, on the monotonic clock).
  int32_t WaitForVerticalBlank(uint32_t flags);
  // DD_OK while the cooperative level holds; DDERR_WRONGMODE when the desktop mode
  // changed under a normal-level object; DDERR_NOEXCLUSIVEMODE when the exclusive window
  // is minimised.
  int32_t TestCooperativeLevel() const;
  int32_t CreateSurface(const TDDSurfaceDesc& desc, TDDSurface7Ptr& out);
  int32_t CreateClipper(TDDClipperPtr& out);
  int32_t RestoreAllSurfaces();
  // True when a surface of this object is lost.
  bool AnySurfaceLost() const;
  // Number of RestoreAllSurfaces calls so far.
  int RestoreCount() const { return _restores; }
  // The Direct3D side: a device that renders into a DDSCAPS_3DDEVICE surface.
  int32_t CreateDevice(const TDDSurface7Ptr& renderTarget, TD3DDevice7Ptr& out);

  // Marks every surface lost (what a mode change does to video memory).
  void LoseAllSurfaces();

 private:
  TDirectDraw7() = default;
  uint32_t _coopFlags = 0;
  SDL_Window* _window = nullptr;
  bool _modeSet = false;
  int _restores = 0;
  int _modeSerialAtCreate = 0;
  TDDDisplayMode _desktop;  // desktop mode when the object was made
  std::vector<std::weak_ptr<TDDSurface7>> _surfaces;
  std::weak_ptr<TDDSurface7> _primary;
};

// Tells normal-level DirectDraw objects that the display mode changed under them (their
// TestCooperativeLevel answers DDERR_WRONGMODE from then on).
void DDNotifyDisplayModeChange();

// ---------------------------------------------------------------------------------------
// The device.

struct TD3DTLVertex {
  float sx = 0, sy = 0, sz = 0, rhw = 1;
  uint32_t color = 0xFFFFFFFFu;  // ARGB
  uint32_t specular = 0;
  float tu = 0, tv = 0;
};

enum TD3DPrimitiveType {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

enum TD3DRenderState {
  D3DRS_ZENABLE = 7,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ALPHAREF = 24,
  D3DRS_ALPHAFUNC = 25,
  D3DRS_DITHERENABLE = 26,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_ALPHATESTENABLE = 15,
  D3DRS_CLIPPING = 136,
  D3DRS_LIGHTING = 137,
  D3DRS_CLIPPLANEENABLE = 152,
};

enum TD3DBlend {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
};

enum TD3DCmpFunc {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};

enum TD3DCull { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum TD3DTextureStageState {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_ADDRESSU = 13,
  D3DTSS_ADDRESSV = 14,
  D3DTSS_MAGFILTER = 16,
  D3DTSS_MINFILTER = 17,
  D3DTSS_MIPFILTER = 18,
};

enum TD3DTextureOp {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
};

enum TD3DTextureArg { D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2 };

enum TD3DTextureAddress { D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3 };

// Magnification/minification filters (point, linear) and mip filters (none, point, linear).
enum TD3DTextureFilter {
  D3DTFG_POINT = 1,
  D3DTFG_LINEAR = 2,
  D3DTFN_POINT = 1,
  D3DTFN_LINEAR = 2,
  D3DTFP_NONE = 1,
  D3DTFP_POINT = 2,
  D3DTFP_LINEAR = 3,
};

enum TD3DTransformState { D3DTRANSFORMSTATE_WORLD = 1, D3DTRANSFORMSTATE_VIEW = 2, D3DTRANSFORMSTATE_PROJECTION = 3 };

constexpr uint32_t D3DCLEAR_TARGET = 0x1;
constexpr int D3D_MAX_USER_CLIP_PLANES = 4;

struct TD3DDeviceCaps {
  int maxUserClipPlanes = D3D_MAX_USER_CLIP_PLANES;
  int maxTextureWidth = 4096;
  int maxTextureHeight = 4096;
  bool hardware = true;
};

struct TD3DViewport {
  int x = 0, y = 0, width = 0, height = 0;
  float minZ = 0, maxZ = 1;
};

struct TD3DMatrix {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

class TD3DRaster;

class TD3DDevice7 {
 public:
  ~TD3DDevice7();
  int32_t GetCaps(TD3DDeviceCaps& caps) const;
  TDDSurface7Ptr RenderTarget() const { return _target; }
  int32_t SetRenderTarget(const TDDSurface7Ptr& target);
  int32_t BeginScene();
  int32_t EndScene();
  bool InScene() const { return _inScene; }
  int32_t SetRenderState(TD3DRenderState state, uint32_t value);
  int32_t GetRenderState(TD3DRenderState state, uint32_t& value) const;
  int32_t SetTextureStageState(int stage, TD3DTextureStageState state, uint32_t value);
  int32_t GetTextureStageState(int stage, TD3DTextureStageState state, uint32_t& value) const;
  // Stage 0 only; null unbinds. The surface must be a texture.
  int32_t SetTexture(int stage, const TDDSurface7Ptr& texture);
  TDDSurface7Ptr GetTexture(int stage) const;
  // Plane (a, b, c, d): a point (x, y) of the render target (pixel centres for pixels)
  // is kept where a x + b y + c z + d >= 0; enabled through D3DRS_CLIPPLANEENABLE bits.
  int32_t SetClipPlane(int index, const float plane[4]);
  int32_t GetClipPlane(int index, float plane[4]) const;
  int32_t SetTransform(TD3DTransformState state, const TD3DMatrix& matrix);
  int32_t GetTransform(TD3DTransformState state, TD3DMatrix& matrix) const;
  int32_t SetViewport(const TD3DViewport& viewport);
  int32_t GetViewport(TD3DViewport& viewport) const;
  // Fills rectangles of the render target (all of it with count 0), limited to the
  // viewport; clip planes do not apply.
  int32_t Clear(int count, const TDDRect* rects, uint32_t flags, uint32_t color);
  // Draws transformed vertices; must be inside a scene.
  int32_t DrawPrimitive(TD3DPrimitiveType type, const TD3DTLVertex* vertices, int count);

 private:
  friend class TDirectDraw7;
  TD3DDevice7();
  TDDSurface7Ptr _target;
  TDDSurface7Ptr _texture;
  bool _inScene = false;
  uint32_t _rs[256] = {};
  uint32_t _tss[32] = {};
  float _planes[D3D_MAX_USER_CLIP_PLANES][4] = {};
  TD3DMatrix _transforms[4];
  TD3DViewport _viewport;
  std::unique_ptr<TD3DRaster> _raster;
};
