// The DirectDraw-like half of the software layer: surfaces, clippers, display modes,
// cooperative levels and presentation into SDL windows.
#include "softdraw.h"

#include <SDL.h>
#include <time.h>

#include <algorithm>
#include <cstring>

namespace {

// Bumped whenever a display mode is set or restored, so that objects at the normal
// cooperative level notice that the mode changed under them.
int g_modeSerial = 0;
TDirectDraw7* g_exclusiveOwner = nullptr;

int AlignPitch(int width) { return (width * 4 + 31) & ~31; }

bool IsPow2(int v) { return v > 0 && (v & (v - 1)) == 0; }

TDDDisplayMode ModeOf(const SDL_DisplayMode& m) {
  TDDDisplayMode d;
  d.width = m.w;
  d.height = m.h;
  d.bitCount = SDL_BYTESPERPIXEL(m.format) * 8;
  d.refreshRate = m.refresh_rate;
  return d;
}

bool ClipToSurface(TDDRect& r, int w, int h) {
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, w);
  r.bottom = std::min(r.bottom, h);
  return r.left < r.right && r.top < r.bottom;
}

}  // namespace

std::string DDErrorName(int32_t result) {
  switch (result) {
    case DD_OK: return "OK";
    case DDERR_PRIMARYSURFACEALREADYEXISTS: return "PRIMARYSURFACEALREADYEXISTS";
    case DDERR_WRONGMODE: return "WRONGMODE";
    case DDERR_NOEXCLUSIVEMODE: return "NOEXCLUSIVEMODE";
    case DDERR_EXCLUSIVEMODEALREADYSET: return "EXCLUSIVEMODEALREADYSET";
    case DDERR_UNSUPPORTEDMODE: return "UNSUPPORTEDMODE";
    case DDERR_SURFACELOST: return "SURFACELOST";
    default:
      return "UNKNOWN:" + std::to_string(result) + " " +
             std::to_string(static_cast<uint32_t>(result) & 0xFFFFu);
  }
}

// ---------------------------------------------------------------------------------------
// Surfaces.

TDDSurface7::~TDDSurface7() = default;

int32_t TDDSurface7::Lock(const TDDRect* rect, TDDSurfaceDesc& desc, uint32_t) {
  if (_lost) return DDERR_SURFACELOST;
  if (_locked) return DDERR_SURFACEBUSY;
  if (_bits.empty()) return DDERR_UNSUPPORTED;  // a windowed primary: the desktop itself
  TDDRect r{0, 0, _width, _height};
  if (rect) {
    r = *rect;
    if (r.left < 0 || r.top < 0 || r.right > _width || r.bottom > _height || r.left >= r.right ||
        r.top >= r.bottom)
      return DDERR_INVALIDRECT;
  }
  GetSurfaceDesc(desc);
  desc.surface = _bits.data() + static_cast<size_t>(r.top) * _pitch + static_cast<size_t>(r.left) * 4;
  _locked = true;
  return DD_OK;
}

int32_t TDDSurface7::Unlock(const TDDRect*) {
  if (!_locked) return DDERR_NOTLOCKED;
  _locked = false;
  return DD_OK;
}

int32_t TDDSurface7::GetAttachedSurface(uint32_t caps, TDDSurface7Ptr& out) {
  out = nullptr;
  if (!_attached || (caps & _attached->_caps) != caps) return DDERR_NOTFOUND;
  out = _attached;
  return DD_OK;
}

int32_t TDDSurface7::GetSurfaceDesc(TDDSurfaceDesc& desc) const {
  desc = TDDSurfaceDesc{};
  desc.caps = _caps;
  desc.caps2 = _caps2;
  desc.width = _width;
  desc.height = _height;
  desc.pitch = _pitch;
  desc.mipMapCount = static_cast<int>(_levels.size());
  desc.alphaMask = _alphaMask;
  return DD_OK;
}

int32_t TDDSurface7::SetClipper(const TDDClipperPtr& clipper) {
  _clipper = clipper;
  return DD_OK;
}

int32_t TDDSurface7::Restore() {
  _lost = false;
  return DD_OK;
}

// Copies a rectangle of this surface into the window at (dx, dy) in client coordinates,
// clipped to the client area.
int32_t TDDSurface7::PresentToWindow(SDL_Window* window, const TDDRect& src, int dx, int dy) {
  if (!window) return DDERR_INVALIDOBJECT;
  SDL_Surface* ws = SDL_GetWindowSurface(window);
  if (!ws) return DDERR_GENERIC;
  TDDRect s = src;
  // Clip the destination to the window, moving the source with it.
  if (dx < 0) { s.left -= dx; dx = 0; }
  if (dy < 0) { s.top -= dy; dy = 0; }
  s.right = std::min(s.right, s.left + (ws->w - dx));
  s.bottom = std::min(s.bottom, s.top + (ws->h - dy));
  if (s.left >= s.right || s.top >= s.bottom) return DD_OK;
  if (SDL_MUSTLOCK(ws)) SDL_LockSurface(ws);
  const int w = s.Width();
  for (int y = s.top; y < s.bottom; ++y) {
    const uint8_t* from = _bits.data() + static_cast<size_t>(y) * _pitch + static_cast<size_t>(s.left) * 4;
    uint8_t* to = static_cast<uint8_t*>(ws->pixels) + static_cast<size_t>(dy + y - s.top) * ws->pitch +
                  static_cast<size_t>(dx) * ws->format->BytesPerPixel;
    if (ws->format->format == SDL_PIXELFORMAT_ARGB8888 || ws->format->format == SDL_PIXELFORMAT_RGB888)
      std::memcpy(to, from, static_cast<size_t>(w) * 4);
    else
      SDL_ConvertPixels(w, 1, SDL_PIXELFORMAT_ARGB8888, from, _pitch, ws->format->format, to, ws->pitch);
  }
  if (SDL_MUSTLOCK(ws)) SDL_UnlockSurface(ws);
  SDL_Rect ur{dx, dy, s.Width(), s.Height()};
  SDL_UpdateWindowSurfaceRects(window, &ur, 1);
  return DD_OK;
}

int32_t TDDSurface7::Blt(const TDDRect* destRect, const TDDSurface7Ptr& source, const TDDRect* srcRect,
                         uint32_t flags, uint32_t fillColor) {
  if (_lost) return DDERR_SURFACELOST;
  if (_locked) return DDERR_SURFACEBUSY;
  const bool toScreen = (_caps & DDSCAPS_PRIMARYSURFACE) && _bits.empty();
  if (flags & DDBLT_COLORFILL) {
    if (toScreen) return DDERR_UNSUPPORTED;
    TDDRect d = destRect ? *destRect : TDDRect{0, 0, _width, _height};
    if (!ClipToSurface(d, _width, _height)) return DD_OK;
    if (!HasAlpha()) fillColor |= 0xFF000000u;
    for (int y = d.top; y < d.bottom; ++y) std::fill_n(Row(y) + d.left, d.Width(), fillColor);
    return DD_OK;
  }
  if (!source) return DDERR_INVALIDPARAMS;
  if (source->_lost) return DDERR_SURFACELOST;
  if (source->_locked) return DDERR_SURFACEBUSY;
  if (source->_bits.empty()) return DDERR_UNSUPPORTED;
  TDDRect s = srcRect ? *srcRect : TDDRect{0, 0, source->_width, source->_height};
  if (s.left < 0 || s.top < 0 || s.right > source->_width || s.bottom > source->_height ||
      s.left >= s.right || s.top >= s.bottom)
    return DDERR_INVALIDRECT;
  if (toScreen) {
    // Screen coordinates into the clipper's (or the cooperative level's) window.
    SDL_Window* win = _clipper ? _clipper->Window() : _window;
    if (!win) return DDERR_INVALIDOBJECT;
    TDDRect d = destRect ? *destRect : TDDRect{0, 0, s.Width(), s.Height()};
    if (d.Width() != s.Width() || d.Height() != s.Height()) return DDERR_UNSUPPORTED;
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(win, &wx, &wy);
    return source->PresentToWindow(win, s, d.left - wx, d.top - wy);
  }
  TDDRect d = destRect ? *destRect : TDDRect{0, 0, _width, _height};
  if (d.left < 0 || d.top < 0 || d.right > _width || d.bottom > _height || d.left >= d.right ||
      d.top >= d.bottom)
    return DDERR_INVALIDRECT;
  const bool opaqueDst = !HasAlpha();
  if (d.Width() == s.Width() && d.Height() == s.Height()) {
    for (int y = 0; y < d.Height(); ++y) {
      const uint32_t* from = source->Row(s.top + y) + s.left;
      uint32_t* to = Row(d.top + y) + d.left;
      if (source.get() == this)
        std::memmove(to, from, static_cast<size_t>(d.Width()) * 4);
      else
        std::memcpy(to, from, static_cast<size_t>(d.Width()) * 4);
      if (opaqueDst)
        for (int x = 0; x < d.Width(); ++x) to[x] |= 0xFF000000u;
    }
    return DD_OK;
  }
  // Stretch by point sampling at the centres of the destination pixels.
  for (int y = 0; y < d.Height(); ++y) {
    int sy = s.top + static_cast<int>((static_cast<int64_t>(2 * y + 1) * s.Height()) / (2 * d.Height()));
    const uint32_t* from = source->Row(sy);
    uint32_t* to = Row(d.top + y) + d.left;
    for (int x = 0; x < d.Width(); ++x) {
      int sx = s.left + static_cast<int>((static_cast<int64_t>(2 * x + 1) * s.Width()) / (2 * d.Width()));
      to[x] = opaqueDst ? from[sx] | 0xFF000000u : from[sx];
    }
  }
  return DD_OK;
}

int32_t TDDSurface7::Flip(uint32_t flags) {
  if (!(_caps & DDSCAPS_FLIP) || !_attached) return DDERR_NOTFLIPPABLE;
  if (_lost || _attached->_lost) return DDERR_SURFACELOST;
  if (_locked || _attached->_locked) return DDERR_SURFACEBUSY;
  if (!(flags & DDFLIP_NOVSYNC)) {
    if (auto dd = _owner.lock()) dd->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN);
  }
  std::swap(_bits, _attached->_bits);
  return PresentToWindow(_window, TDDRect{0, 0, _width, _height}, 0, 0);
}

// ---------------------------------------------------------------------------------------
// Clipper.

int32_t TDDClipper::SetHWnd(SDL_Window* window) {
  _window = window;
  return DD_OK;
}

int32_t TDDClipper::GetClipRect(TDDRect& rect) const {
  if (!_window) return DDERR_INVALIDOBJECT;
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(_window, &x, &y);
  SDL_GetWindowSize(_window, &w, &h);
  rect = TDDRect{x, y, x + w, y + h};
  return DD_OK;
}

// ---------------------------------------------------------------------------------------
// The DirectDraw object.

TDirectDraw7Ptr TDirectDraw7::Create(int32_t* result) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (result) *result = DDERR_GENERIC;
    return nullptr;
  }
  TDirectDraw7Ptr dd(new TDirectDraw7());
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) == 0) dd->_desktop = ModeOf(m);
  dd->_modeSerialAtCreate = g_modeSerial;
  if (result) *result = DD_OK;
  return dd;
}

TDirectDraw7::~TDirectDraw7() {
  if (g_exclusiveOwner == this) {
    if (_modeSet && _window) SDL_SetWindowFullscreen(_window, 0);
    g_exclusiveOwner = nullptr;
  }
}

int32_t TDirectDraw7::SetCooperativeLevel(SDL_Window* window, uint32_t flags) {
  const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
  if (exclusive) {
    if (!(flags & DDSCL_FULLSCREEN) || !window) return DDERR_INVALIDPARAMS;
    if (g_exclusiveOwner && g_exclusiveOwner != this) return DDERR_EXCLUSIVEMODEALREADYSET;
    g_exclusiveOwner = this;
  } else {
    if (!(flags & DDSCL_NORMAL)) return DDERR_INVALIDPARAMS;
    if (g_exclusiveOwner == this) {
      RestoreDisplayMode();
      g_exclusiveOwner = nullptr;
    }
    _modeSerialAtCreate = g_modeSerial;
  }
  _coopFlags = flags;
  _window = window;
  return DD_OK;
}

int32_t TDirectDraw7::GetCaps(TDDCaps& caps) const {
  caps.has3D = true;
  return DD_OK;
}

int32_t TDirectDraw7::EnumDisplayModes(std::vector<TDDDisplayMode>& modes) const {
  modes.clear();
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n && i < 1024; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) == 0) modes.push_back(ModeOf(m));
  }
  return DD_OK;
}

int32_t TDirectDraw7::GetDisplayMode(TDDDisplayMode& mode) const {
  SDL_DisplayMode m;
  if (SDL_GetCurrentDisplayMode(0, &m) != 0) return DDERR_GENERIC;
  mode = ModeOf(m);
  return DD_OK;
}

int32_t TDirectDraw7::SetDisplayMode(int width, int height, int bitCount, int refreshRate) {
  if (!(_coopFlags & DDSCL_EXCLUSIVE) || g_exclusiveOwner != this) return DDERR_NOEXCLUSIVEMODE;
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    TDDDisplayMode d = ModeOf(m);
    if (d.width != width || d.height != height || d.bitCount != bitCount) continue;
    if (refreshRate != 0 && d.refreshRate != refreshRate) continue;
    if (SDL_SetWindowDisplayMode(_window, &m) != 0 ||
        SDL_SetWindowFullscreen(_window, SDL_WINDOW_FULLSCREEN) != 0)
      return DDERR_UNSUPPORTEDMODE;
    _modeSet = true;
    ++g_modeSerial;
    LoseAllSurfaces();
    return DD_OK;
  }
  return DDERR_UNSUPPORTEDMODE;
}

int32_t TDirectDraw7::RestoreDisplayMode() {
  if (!_modeSet) return DD_OK;
  if (_window) SDL_SetWindowFullscreen(_window, 0);
  _modeSet = false;
  ++g_modeSerial;
  return DD_OK;
}

int32_t TDirectDraw7::WaitForVerticalBlank(uint32_t) {
  SDL_DisplayMode m;
  int hz = (SDL_GetCurrentDisplayMode(0, &m) == 0 && m.refresh_rate > 0) ? m.refresh_rate : 60;
  const int64_t period = 1000000000LL / hz;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t t = static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  int64_t next = (t / period + 1) * period;
  timespec until{static_cast<time_t>(next / 1000000000LL), static_cast<long>(next % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  return DD_OK;
}

int32_t TDirectDraw7::TestCooperativeLevel() const {
  if (_coopFlags & DDSCL_EXCLUSIVE) {
    if (_window && (SDL_GetWindowFlags(_window) & SDL_WINDOW_MINIMIZED)) return DDERR_NOEXCLUSIVEMODE;
    return DD_OK;
  }
  if (g_modeSerial != _modeSerialAtCreate) return DDERR_WRONGMODE;
  SDL_DisplayMode m;
  if (SDL_GetDesktopDisplayMode(0, &m) == 0) {
    TDDDisplayMode d = ModeOf(m);
    if (d.width != _desktop.width || d.height != _desktop.height || d.bitCount != _desktop.bitCount)
      return DDERR_WRONGMODE;
  }
  return DD_OK;
}

void DDNotifyDisplayModeChange() { ++g_modeSerial; }

int32_t TDirectDraw7::CreateSurface(const TDDSurfaceDesc& desc, TDDSurface7Ptr& out) {
  out = nullptr;
  auto self = shared_from_this();
  auto make = [&](uint32_t caps, int w, int h, uint32_t alpha, bool memory) {
    TDDSurface7Ptr s(new TDDSurface7());
    s->_owner = self;
    s->_caps = caps;
    s->_caps2 = desc.caps2;
    s->_width = w;
    s->_height = h;
    s->_pitch = AlignPitch(w);
    s->_alphaMask = alpha;
    if (memory) s->_bits.assign(static_cast<size_t>(s->_pitch) * h, 0);
    s->_levels.push_back(s.get());
    if (_surfaces.size() >= 256 && (_surfaces.size() & 63) == 0)
      _surfaces.erase(std::remove_if(_surfaces.begin(), _surfaces.end(),
                                     [](const std::weak_ptr<TDDSurface7>& x) { return x.expired(); }),
                      _surfaces.end());
    _surfaces.push_back(s);
    return s;
  };
  if (desc.caps & DDSCAPS_PRIMARYSURFACE) {
    if (!_primary.expired()) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    if (!_coopFlags) return DDERR_NOEXCLUSIVEMODE;
    const bool chain = (desc.caps & DDSCAPS_FLIP) && desc.backBufferCount > 0;
    const bool exclusive = (_coopFlags & DDSCL_EXCLUSIVE) != 0;
    if (chain && !exclusive) return DDERR_NOEXCLUSIVEMODE;
    TDDDisplayMode mode;
    if (GetDisplayMode(mode) != DD_OK) return DDERR_GENERIC;
    int w = mode.width, h = mode.height;
    if (exclusive && _window) SDL_GetWindowSize(_window, &w, &h);
    auto front = make(desc.caps | (chain ? DDSCAPS_FRONTBUFFER : 0), w, h, 0, chain);
    front->_window = _window;
    if (chain) {
      uint32_t bcaps = DDSCAPS_BACKBUFFER | (desc.caps & DDSCAPS_3DDEVICE);
      auto back = make(bcaps, w, h, 0, true);
      back->_window = _window;
      front->_attached = back;
    }
    _primary = front;
    out = front;
    return DD_OK;
  }
  if (desc.width <= 0 || desc.height <= 0 || desc.width > 16384 || desc.height > 16384)
    return DDERR_INVALIDPARAMS;
  if (desc.bitCount != 32) return DDERR_INVALIDPARAMS;
  uint32_t caps = desc.caps;
  if (caps & DDSCAPS_TEXTURE) {
    if (!IsPow2(desc.width) || !IsPow2(desc.height) || desc.width > 4096 || desc.height > 4096)
      return DDERR_INVALIDPARAMS;
  } else if (caps & DDSCAPS_MIPMAP) {
    return DDERR_INVALIDPARAMS;
  }
  auto top = make(caps, desc.width, desc.height, desc.alphaMask, true);
  if ((caps & DDSCAPS_TEXTURE) && (caps & DDSCAPS_MIPMAP)) {
    int full = 1;
    for (int w = desc.width, h = desc.height; w > 1 || h > 1; w = std::max(1, w / 2), h = std::max(1, h / 2))
      ++full;
    int count = desc.mipMapCount > 0 ? std::min(desc.mipMapCount, full) : full;
    TDDSurface7* prev = top.get();
    int w = desc.width, h = desc.height;
    for (int i = 1; i < count; ++i) {
      w = std::max(1, w / 2);
      h = std::max(1, h / 2);
      auto lvl = make(caps, w, h, desc.alphaMask, true);
      prev->_attached = lvl;
      top->_levels.push_back(lvl.get());
      prev = lvl.get();
    }
    // Each lower level sees the chain from itself down.
    for (size_t i = 1; i < top->_levels.size(); ++i)
      top->_levels[i]->_levels.assign(top->_levels.begin() + static_cast<ptrdiff_t>(i), top->_levels.end());
  }
  out = top;
  return DD_OK;
}

int32_t TDirectDraw7::CreateClipper(TDDClipperPtr& out) {
  out = std::make_shared<TDDClipper>();
  return DD_OK;
}

void TDirectDraw7::LoseAllSurfaces() {
  for (auto& w : _surfaces)
    if (auto s = w.lock()) s->_lost = true;
}

bool TDirectDraw7::AnySurfaceLost() const {
  for (const auto& w : _surfaces)
    if (auto s = w.lock(); s && s->_lost) return true;
  return false;
}

int32_t TDirectDraw7::RestoreAllSurfaces() {
  ++_restores;
  _surfaces.erase(std::remove_if(_surfaces.begin(), _surfaces.end(),
                                 [](const std::weak_ptr<TDDSurface7>& w) { return w.expired(); }),
                  _surfaces.end());
  for (auto& w : _surfaces)
    if (auto s = w.lock()) s->_lost = false;
  return DD_OK;
}

int32_t TDirectDraw7::CreateDevice(const TDDSurface7Ptr& renderTarget, TD3DDevice7Ptr& out) {
  out = nullptr;
  if (!renderTarget || !(renderTarget->Caps() & DDSCAPS_3DDEVICE)) return DDERR_INVALIDPARAMS;
  TD3DDevice7Ptr dev(new TD3DDevice7());
  int32_t hr = dev->SetRenderTarget(renderTarget);
  if (hr != DD_OK) return hr;
  out = dev;
  return DD_OK;
}
