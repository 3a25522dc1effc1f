// The DirectX 7 2D renderer over the software DirectDraw/Direct3D layer.
#include "d3d7renderer.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/system/sdl_system.h>

namespace {

TD3D7GraphicsDriver* g_driver = nullptr;
TD3D7Vex2DDriver* g_renderer = nullptr;

// A failed call on the render-surface path cannot be recovered from: report and end.
[[noreturn]] void DXFail(const char* context, int32_t hr) {
  std::printf("%s err=%s\n", context, DDErrorName(hr).c_str());
  std::fflush(stdout);
  EndProgram();
}

int NextPow2(int v) {
  int p = 1;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

void InstallWindowProc(SDL_Window* win) {
  SetSDLWindowProc(SDL_GetWindowID(win), [](const SDL_Event& e) {
    if (e.type != SDL_WINDOWEVENT) return;
    if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
        e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
      if (g_driver) g_driver->ValidateGraphics(0);
    }
  });
}

}  // namespace

std::string D3D7ResultName(int32_t result) { return DDErrorName(result); }

// A display mode of exactly width x height: the requested depth first, then 32, 24 and
// 16 bits; within a depth the refresh rate nearest the requested one (the first listed on
// a tie). False when no depth offers that size.
bool ChooseD3D7Mode(const std::vector<TGraphicsMode>& modes, int width, int height, int depth,
                    int hertz, TGraphicsMode& chosen) {
  for (int d : {depth, 32, 24, 16}) {
    const TGraphicsMode* best = nullptr;
    for (const TGraphicsMode& m : modes) {
      if (m.width != width || m.height != height || m.depth != d) continue;
      if (!best || std::abs(m.hertz - hertz) < std::abs(best->hertz - hertz)) best = &m;
    }
    if (best) {
      chosen = *best;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The graphics driver.

// The driver exists only when DirectDraw starts and offers 3D; it lists the display
// modes (16 bits and deeper) once and then lets the DirectDraw object go again, so that
// no device is held until a context is opened (FinishContext creates it anew).
TD3D7GraphicsDriver* TD3D7GraphicsDriver::Create() {
  auto* d = new TD3D7GraphicsDriver();
  if (!d->_Create()) {
    delete d;
    return nullptr;
  }
  std::vector<TDDDisplayMode> modes;
  d->_dd7->EnumDisplayModes(modes);
  for (const TDDDisplayMode& m : modes)
    if (m.bitCount >= 16) d->_modes.push_back(TGraphicsMode{m.width, m.height, m.bitCount, m.refreshRate});
  d->_Destroy();
  return d;
}

// Creates the DirectDraw object in the normal (windowed) cooperative level; false when
// that or the 3D capability is missing. Every creation and destruction steps the graphics
// generation, which tells image frames made before it that their surfaces are gone.
bool TD3D7GraphicsDriver::_Create() {
  int32_t hr = DD_OK;
  TDirectDraw7Ptr dd = TDirectDraw7::Create(&hr);
  if (!dd) return false;
  if (dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_FPUPRESERVE) != DD_OK) return false;
  TDDCaps caps;
  if (dd->GetCaps(caps) != DD_OK || !caps.has3D) return false;
  _dd7 = dd;
  _d3d7 = dd;
  _valid = true;
  BumpGraphicsGeneration();
  return true;
}

// Releases everything DirectDraw made, ending an open scene first; references held
// elsewhere (frames) keep their objects alive but know from the generation not to use them.
void TD3D7GraphicsDriver::_Destroy() {
  if (_d3ddev7 && _d3ddev7->InScene()) _d3ddev7->EndScene();
  _inScene = false;
  _d3ddev7.reset();
  _primary.reset();
  _surfaces.clear();
  _d3d7.reset();
  _dd7.reset();
  BumpGraphicsGeneration();
}

std::vector<TGraphicsMode> TD3D7GraphicsDriver::GraphicsModes() { return _modes; }

Text TD3D7GraphicsDriver::ToString() { return u"DirectX7 graphics"; }

TDDSurface7Ptr TD3D7GraphicsDriver::Primary() {
  if (!_primary && _dd7) {
    TDDSurfaceDesc d;
    d.caps = DDSCAPS_PRIMARYSURFACE;
    int32_t hr = _dd7->CreateSurface(d, _primary);
    if (hr != DD_OK) DXFail("CreatePrimarySurface", hr);
  }
  return _primary;
}

TGraphicsPtr TD3D7GraphicsDriver::AttachGraphics(void* widget, int flags) {
  if (_n_fullscreen > 0 || !widget) return nullptr;
  return TD3D7Graphics::Attach(static_cast<SDL_Window*>(widget), flags);
}

TGraphicsPtr TD3D7GraphicsDriver::CreateGraphics(int width, int height, int depth, int hertz,
                                                 int flags) {
  if (_n_fullscreen > 0) return nullptr;
  if (depth != 0) {
    if (_n_graphics > 0) return nullptr;
    TGraphicsMode m;
    if (!ChooseD3D7Mode(_modes, width, height, depth, hertz, m)) return nullptr;
    depth = m.depth;
    hertz = m.hertz;
  }
  return TD3D7Graphics::Create(width, height, depth, hertz, flags);
}

// Makes a context current: the one 3D device is created on its render surface the first
// time and retargeted afterwards, and a scene is begun so that drawing can start at once.
// A closed context, or one without a surface, leaves none current. Failing to create or
// retarget the device ends the program (DXFail): there is no way to draw without it.
void TD3D7GraphicsDriver::SetGraphics(const TGraphicsPtr& g) {
  auto d = std::dynamic_pointer_cast<TD3D7Graphics>(g);
  if (d && (d->_closed || !d->_renderSurf)) d = nullptr;
  EndScene();
  _graphics = d;
  if (!d) return;
  int32_t hr;
  if (!_d3ddev7) {
    hr = _dd7->CreateDevice(d->_renderSurf, _d3ddev7);
    if (hr != DD_OK) DXFail("CreateDevice", hr);
  } else if (_d3ddev7->RenderTarget() != d->_renderSurf) {
    hr = _d3ddev7->SetRenderTarget(d->_renderSurf);
    if (hr != DD_OK) DXFail("SetRenderTarget", hr);
  }
  BeginScene();
}

void TD3D7GraphicsDriver::Flip(int sync) {
  if (_graphics) _graphics->Flip(sync);
}

void TD3D7GraphicsDriver::BeginScene() {
  if (_inScene || !_d3ddev7) return;
  if (_d3ddev7->BeginScene() == DD_OK) _inScene = true;
}

void TD3D7GraphicsDriver::EndScene() {
  if (!_inScene) return;
  if (_d3ddev7) _d3ddev7->EndScene();
  _inScene = false;
}

TD3D7SurfacePtr TD3D7GraphicsDriver::CreateSurface(const TDDSurfaceDesc& desc) {
  if (!_dd7) return nullptr;
  auto s = std::make_shared<TD3D7Surface>();
  if (_dd7->CreateSurface(desc, s->surface) != DD_OK) return nullptr;
  s->surface->GetSurfaceDesc(s->desc);
  _surfaces.push_back(s);
  return s;
}

void TD3D7GraphicsDriver::DestroySurface(const TD3D7SurfacePtr& surface) {
  auto it = std::find(_surfaces.begin(), _surfaces.end(), surface);
  if (it != _surfaces.end()) _surfaces.erase(it);
}

// Forgets a closing context: the device goes with the current one, a full-screen one
// gives the display back, and the last one to close releases DirectDraw altogether.
void TD3D7GraphicsDriver::CloseGraphics(TD3D7Graphics& g) {
  if (_graphics.get() == &g) {
    EndScene();
    _graphics.reset();
    _d3ddev7.reset();
  }
  if (g._depth != 0) {
    if (_dd7) _dd7->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_FPUPRESERVE);
    --_n_fullscreen;
  }
  --_n_graphics;
  _graphicss.erase(std::remove_if(_graphicss.begin(), _graphicss.end(),
                                  [&](const std::weak_ptr<TD3D7Graphics>& w) {
                                    auto p = w.lock();
                                    return !p || p.get() == &g;
                                  }),
                   _graphicss.end());
  if (_n_graphics <= 0) {
    _n_graphics = 0;
    _Destroy();
  }
}

// Brings the surfaces back after the display was taken away. A changed display mode
// means every surface and the device are made again (contexts keep their place, frames
// learn of it through the generation); lost surfaces are restored; any other answer of
// TestCooperativeLevel (the display is still taken) is returned, and the driver stays
// invalid until a later call succeeds. Restoring is skipped when no surface is lost, since
// this runs every frame.
int32_t TD3D7GraphicsDriver::_ValidateGraphics() {
  if (!_dd7) return DD_OK;
  int32_t hr = _dd7->TestCooperativeLevel();
  if (hr == DDERR_WRONGMODE) {
    // The display mode changed under us: make everything again.
    std::vector<TD3D7GraphicsPtr> open;
    for (auto& w : _graphicss)
      if (auto g = w.lock()) open.push_back(g);
    auto current = _graphics;
    EndScene();
    for (auto& g : open) g->DestroyRenderSurface();
    _Destroy();
    if (!_Create()) DXFail("DXERROR", DDERR_GENERIC);
    for (auto& g : open) g->CreateRenderSurface();
    if (current && current->_renderSurf) {
      hr = _dd7->CreateDevice(current->_renderSurf, _d3ddev7);
      if (hr != DD_OK) DXFail("DXERROR", hr);
    }
  } else if (hr != DD_OK) {
    return hr;
  } else if (!_dd7->AnySurfaceLost()) {
    return DD_OK;  // every surface holds: nothing to restore
  }
  hr = _dd7->RestoreAllSurfaces();
  if (hr != DD_OK) DXFail("DXERROR", hr);
  return DD_OK;
}

// Whether drawing can go on. It runs when the driver was valid, or when asked (flag),
// and is not re-entered (the window's focus events call it too).
// Becoming valid again in the middle of a scene restarts the scene on the new surfaces.
bool TD3D7GraphicsDriver::ValidateGraphics(int flag) {
  if (_validating) return _valid;
  _validating = true;
  if (_valid || flag) {
    const bool was = _valid;
    _valid = _ValidateGraphics() == DD_OK;
    if (_valid && !was && _inScene && _d3ddev7) {
      _d3ddev7->EndScene();
      _d3ddev7->BeginScene();
    }
  }
  _validating = false;
  return _valid;
}

TD3D7GraphicsDriver* D3D7GraphicsDriver() {
  if (!g_driver) g_driver = TD3D7GraphicsDriver::Create();
  return g_driver;
}

// ---------------------------------------------------------------------------------------
// Contexts.

TD3D7Graphics::~TD3D7Graphics() {
  if (!_closed) Close();
}

TGraphicsDriver* TD3D7Graphics::Driver() { return _driver; }

void TD3D7Graphics::GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) {
  width = _width;
  height = _height;
  depth = _depth;
  hertz = _hertz;
  flags = _flags;
}

void TD3D7Graphics::Close() {
  if (_closed) return;
  _closed = true;
  DestroyRenderSurface();
  _clipper.reset();
  if (_driver) _driver->CloseGraphics(*this);
  if (_hwnd) {
    ClearSDLWindowProc(SDL_GetWindowID(_hwnd));
    if (_ownWindow) SDL_DestroyWindow(_hwnd);
    _hwnd = nullptr;
  }
}

// The surface drawn into: full screen, the back buffer of a flipping chain after the
// display mode is set; windowed, an off-screen surface of the window's size (at least
// 1 x 1), with alpha only when the context asked for an alpha buffer. The clipper that
// keeps blits inside the window is made once per context.
void TD3D7Graphics::CreateRenderSurface() {
  TDirectDraw7Ptr dd = _driver->DirectDraw7();
  int32_t hr;
  if (_depth != 0) {
    hr = dd->SetCooperativeLevel(_hwnd, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
    if (hr != DD_OK) DXFail("SetCooperativeLevel", hr);
    hr = dd->SetDisplayMode(_width, _height, _depth, _hertz);
    if (hr != DD_OK) DXFail("SetDisplayMode", hr);
    TDDSurfaceDesc d;
    d.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    d.backBufferCount = 1;
    hr = dd->CreateSurface(d, _primaryChain);
    if (hr != DD_OK) DXFail("CreatePrimarySurface", hr);
    hr = _primaryChain->GetAttachedSurface(DDSCAPS_BACKBUFFER, _renderSurf);
    if (hr != DD_OK) DXFail("GetAttachedSurface", hr);
  } else {
    TDDSurfaceDesc d;
    d.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
    d.width = std::max(1, _width);
    d.height = std::max(1, _height);
    d.alphaMask = (_flags & GFX_ALPHABUFFER) ? 0xFF000000u : 0;
    hr = dd->CreateSurface(d, _renderSurf);
    if (hr != DD_OK) DXFail("CreateRenderSurface", hr);
  }
  if (!_clipper) {
    dd->CreateClipper(_clipper);
    _clipper->SetHWnd(_hwnd);
  }
}

void TD3D7Graphics::DestroyRenderSurface() {
  _renderSurf.reset();
  _primaryChain.reset();
}

// A window whose size changed gets a render surface of the new size, and the device is
// pointed at it; full-screen contexts keep the mode's size.
void TD3D7Graphics::ValidateSize() {
  if (_depth != 0 || !_hwnd) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(_hwnd, &w, &h);
  if (w <= 0 || h <= 0 || (w == _width && h == _height)) return;
  _width = w;
  _height = h;
  const bool current = _driver->_graphics.get() == this;
  if (current) _driver->EndScene();
  DestroyRenderSurface();
  CreateRenderSurface();
  if (current && _driver->_d3ddev7) {
    _driver->_d3ddev7->SetRenderTarget(_renderSurf);
    _driver->BeginScene();
  }
}

// Presents the frame: full screen by flipping the chain, windowed by blitting the render
// surface into the window's client area through the clipper (after the vertical blank when
// sync is asked). A lost surface is validated so the next frame can draw again.
void TD3D7Graphics::Flip(int sync) {
  if (!_renderSurf || !_driver->_valid) return;
  // Finish queued drawing before presenting.
  TDDSurfaceDesc d;
  if (_renderSurf->Lock(nullptr, d, DDLOCK_WAIT | DDLOCK_READONLY) == DD_OK) _renderSurf->Unlock();
  int32_t hr;
  if (_depth != 0) {
    hr = _primaryChain->Flip(sync ? DDFLIP_WAIT : DDFLIP_WAIT | DDFLIP_NOVSYNC);
  } else {
    if (sync) _driver->DirectDraw7()->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN);
    TDDSurface7Ptr primary = _driver->Primary();
    primary->SetClipper(_clipper);
    TDDRect client;
    _clipper->GetClipRect(client);
    TDDRect src{0, 0, _renderSurf->Width(), _renderSurf->Height()};
    TDDRect dst{client.left, client.top, client.left + src.right, client.top + src.bottom};
    hr = primary->Blt(&dst, _renderSurf, &src, DDBLT_WAIT);
  }
  if (hr == DDERR_SURFACELOST) _driver->ValidateGraphics(1);
}

// Common end of Attach and Create: DirectDraw is made again if the last context had
// released it, the render surface is created, and the window's focus events are hooked
// to validation.
static TD3D7GraphicsPtr FinishContext(TD3D7GraphicsPtr g) {
  TD3D7GraphicsDriver* drv = g->_driver;
  if (!drv->DirectDraw7() && !drv->_Create()) return nullptr;
  g->CreateRenderSurface();
  InstallWindowProc(g->_hwnd);
  ++drv->_n_graphics;
  if (g->_depth != 0) ++drv->_n_fullscreen;
  drv->_graphicss.push_back(g);
  return g;
}

TD3D7GraphicsPtr TD3D7Graphics::Attach(SDL_Window* hwnd, int flags) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  if (!drv || !hwnd) return nullptr;
  auto g = std::make_shared<TD3D7Graphics>();
  g->_driver = drv;
  g->_hwnd = hwnd;
  g->_flags = flags;
  SDL_GetWindowSize(hwnd, &g->_width, &g->_height);
  return FinishContext(g);
}

// A context with a window of its own: windowed (depth 0) or full screen. A full-screen
// mode is tried before the context exists, so a refusal gives null and leaves the display,
// the window list and DirectDraw as they were.
TD3D7GraphicsPtr TD3D7Graphics::Create(int width, int height, int depth, int hertz, int flags) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  if (!drv || width <= 0 || height <= 0) return nullptr;
  const std::string title = ToUtf8(Startup().appTitle);
  SDL_Window* win;
  if (depth != 0)
    win = SDL_CreateWindow(title.c_str(), 0, 0, width, height, SDL_WINDOW_SHOWN | SDL_WINDOW_BORDERLESS);
  else
    win = SDL_CreateWindow(title.c_str(), 32, 32, width, height, SDL_WINDOW_SHOWN);
  if (!win) return nullptr;
  auto g = std::make_shared<TD3D7Graphics>();
  g->_driver = drv;
  g->_hwnd = win;
  g->_ownWindow = true;
  g->_depth = depth;
  g->_hertz = hertz;
  g->_flags = flags;
  g->_width = width;
  g->_height = height;
  if (depth == 0) SDL_GetWindowSize(win, &g->_width, &g->_height);
  if (depth != 0) {
    // A full-screen request that the display refuses gives no context.
    if (!drv->DirectDraw7() && !drv->_Create()) {
      SDL_DestroyWindow(win);
      return nullptr;
    }
    TDirectDraw7Ptr dd = drv->DirectDraw7();
    if (dd->SetCooperativeLevel(win, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN) != DD_OK ||
        dd->SetDisplayMode(width, height, depth, hertz) != DD_OK) {
      dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_FPUPRESERVE);
      SDL_DestroyWindow(win);
      if (drv->_n_graphics == 0) drv->_Destroy();
      return nullptr;
    }
  }
  return FinishContext(g);
}

// ---------------------------------------------------------------------------------------
// The renderer: graphics-driver side.

TGraphicsDriver* TD3D7Vex2DDriver::PlatformDriver() { return D3D7GraphicsDriver(); }

// Makes a 2D context current and sets the device up for it (ResetD3DDevice); null or a
// context without graphics drops the device, so every drawing call becomes a no-op.
void TD3D7Vex2DDriver::SetGraphics(const TGraphicsPtr& g) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  auto v = std::dynamic_pointer_cast<TVex2DGraphics>(g);
  if (!v || !v->_graphics) {
    TVex2DGraphics::ClearCurrent();
    drv->SetGraphics(nullptr);
    device.reset();
    d3d7graphics.reset();
    activeFrame = nullptr;
    return;
  }
  drv->SetGraphics(v->_graphics);
  ResetD3DDevice(std::dynamic_pointer_cast<TD3D7Graphics>(v->_graphics));
  v->MakeCurrent();
}

// Ends the frame and starts the next. When validation made the device again (the
// generation moved), or the window's surface changed size, the current context is set
// again so the new device gets the renderer's state; otherwise a scene simply begins.
void TD3D7Vex2DDriver::Flip(int sync) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  const int gen = GraphicsGeneration();
  drv->ValidateGraphics(1);
  drv->EndScene();
  drv->Flip(sync);
  if (GraphicsGeneration() != gen && TVex2DGraphics::Current() && drv->Graphics()) {
    // The device was made again: bring state and frames back.
    SetGraphics(TVex2DGraphics::Current());
    return;
  }
  // A new frame begins: a window's render surface follows the window's size.
  TD3D7GraphicsPtr g = drv->Graphics();
  const int w = g ? g->_width : 0, h = g ? g->_height : 0;
  if (g) g->ValidateSize();
  if (g && (g->_width != w || g->_height != h) && TVex2DGraphics::Current()) {
    SetGraphics(TVex2DGraphics::Current());  // the device and its state on the new surface
  } else {
    drv->BeginScene();
  }
}

Text TD3D7Vex2DDriver::ToString() { return u"DirectX7"; }

// True when drawing reaches a surface: a device, an open context, a valid driver, and the
// device still the driver's (not one left from before a re-creation).
bool TD3D7Vex2DDriver::IsValid() const {
  return device && d3d7graphics && !d3d7graphics->_closed && g_driver && g_driver->_valid &&
         g_driver->_d3ddev7 == device;
}

// Puts a fresh device into the renderer's known state: window pixels as coordinates, no
// blending, alpha test at 128 when masking, no culling or lighting, untextured drawing in
// the current colour, clamped texture addressing. The cached blend and frame are cleared
// so the next call sets them on the device whatever they were before.
void TD3D7Vex2DDriver::ResetD3DDevice(const TD3D7GraphicsPtr& graphics) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  device = drv->Direct3DDevice7();
  d3d7graphics = graphics;
  activeBlend = 0;
  activeFrame = nullptr;
  activeFrameFlags = -1;
  if (!device || !graphics) return;
  const int w = graphics->_width, h = graphics->_height;
  // Window pixels onto the render target: x' = 2x/w - 1, y' = 1 - 2y/h.
  TD3DMatrix proj;
  proj.m[0][0] = 2.0f / static_cast<float>(w);
  proj.m[1][1] = -2.0f / static_cast<float>(h);
  proj.m[3][0] = -1.0f;
  proj.m[3][1] = 1.0f;
  device->SetTransform(D3DTRANSFORMSTATE_PROJECTION, proj);
  device->SetViewport(TD3DViewport{0, 0, w, h, 0, 1});
  device->SetRenderState(D3DRS_ALPHAREF, 128);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_LIGHTING, 0);
  device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
  device->SetTexture(0, nullptr);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  // Texture coordinates clamp at the edges, as in the OpenGL renderer: a filtered image
  // that fills its texture must not take in its opposite edge.
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  vp_rect = TDDRect{0, 0, w, h};
  for (TD3DTLVertex& v : cverts) {
    v.sz = 0;
    v.rhw = 1;
    v.color = drawcolor;
  }
  vrts.reserve(256);
}

// ---------------------------------------------------------------------------------------
// The renderer: state.

// The five blend modes as device states; unchanged or unknown modes cost nothing.
void TD3D7Vex2DDriver::SetBlend(int mode) {
  if (mode == activeBlend || mode < 1 || mode > 5) return;
  activeBlend = mode;
  if (!device) return;
  switch (mode) {
    case BLEND_MASK:
      device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
      break;
    case BLEND_SOLID:
      device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
      break;
    case BLEND_ALPHA:
      device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
      device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      break;
    case BLEND_LIGHT:
      device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
      device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
      break;
    case BLEND_SHADE:
      device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
      device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
      device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
      device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
      break;
  }
}

void TD3D7Vex2DDriver::SetAlpha(float alpha) {
  if (!(alpha >= 0.0f)) alpha = 0.0f;
  if (alpha > 1.0f) alpha = 1.0f;
  drawalpha = alpha;
  const uint32_t a = static_cast<uint32_t>(alpha * 255.0f);
  drawcolor = (drawcolor & 0x00FFFFFFu) | a << 24;
  for (TD3DTLVertex& v : cverts) v.color = drawcolor;
}

void TD3D7Vex2DDriver::SetColor(int red, int green, int blue) {
  const uint32_t r = static_cast<uint32_t>(std::clamp(red, 0, 255));
  const uint32_t g = static_cast<uint32_t>(std::clamp(green, 0, 255));
  const uint32_t b = static_cast<uint32_t>(std::clamp(blue, 0, 255));
  drawcolor = (drawcolor & 0xFF000000u) | r << 16 | g << 8 | b;
  for (TD3DTLVertex& v : cverts) v.color = drawcolor;
}

void TD3D7Vex2DDriver::SetClsColor(int red, int green, int blue) {
  clscolor = 0xFF000000u | static_cast<uint32_t>(std::clamp(red, 0, 255)) << 16 |
             static_cast<uint32_t>(std::clamp(green, 0, 255)) << 8 |
             static_cast<uint32_t>(std::clamp(blue, 0, 255));
}

// Restricts drawing to a rectangle with four user clip planes (left, right, top,
// bottom); the whole screen switches them off. Clearing uses the same rectangle.
void TD3D7Vex2DDriver::SetViewport(int x, int y, int width, int height) {
  // Edges in 64 bits: a rectangle reaching past the int range ends at its limit.
  const int right = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(x) + width, INT32_MIN, INT32_MAX));
  const int bottom = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(y) + height, INT32_MIN, INT32_MAX));
  vp_rect = TDDRect{x, y, right, bottom};
  if (!device) return;
  if (x == 0 && y == 0 && width == ScreenWidth() && height == ScreenHeight()) {
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    return;
  }
  const float planes[4][4] = {
      {1, 0, 0, -static_cast<float>(x)},
      {-1, 0, 0, static_cast<float>(right)},
      {0, 1, 0, -static_cast<float>(y)},
      {0, -1, 0, static_cast<float>(bottom)},
  };
  for (int i = 0; i < 4; ++i)
    if (device->SetClipPlane(i, planes[i]) != DD_OK)
      throw TRuntimeException("device does not support clipplanes");
  device->SetRenderState(D3DRS_CLIPPLANEENABLE, 15);
}

void TD3D7Vex2DDriver::SetTransform(float nix, float niy, float njx, float njy) {
  ix = nix;
  iy = niy;
  jx = njx;
  jy = njy;
}

void TD3D7Vex2DDriver::SetLineWidth(float width) { linewidth = width; }

void TD3D7Vex2DDriver::Cls() {
  if (!IsValid()) return;
  device->Clear(1, &vp_rect, D3DCLEAR_TARGET, clscolor);
}

// ---------------------------------------------------------------------------------------
// The renderer: drawing.

void TD3D7Vex2DDriver::MapVertex(TD3DTLVertex& v, float x, float y, float tx, float ty) const {
  v.sx = x * ix + y * iy + tx;
  v.sy = x * jx + y * jy + ty;
  v.sz = 0;
  v.rhw = 1;
  v.color = drawcolor;
}

void TD3D7Vex2DDriver::Emit(TD3DPrimitiveType type, const TD3DTLVertex* v, int count) {
  if (!IsValid()) return;
  if (!g_driver->_inScene) g_driver->BeginScene();
  device->DrawPrimitive(type, v, count);
}

// Plot and DrawLine add just over half a pixel: coordinate x names the pixel whose left
// edge is x, and its centre lies at x + 0.5; the extra 0.0001 keeps a coordinate that
// arrives a hair below a whole number in the same pixel.
void TD3D7Vex2DDriver::Plot(float x, float y) {
  if (!IsValid()) return;
  SetActiveFrame(nullptr);
  TD3DTLVertex v = cverts[0];
  v.sx = x + 0.5001f;
  v.sy = y + 0.5001f;
  v.color = drawcolor;
  Emit(D3DPT_POINTLIST, &v, 1);
}

void TD3D7Vex2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  if (!IsValid()) return;
  SetActiveFrame(nullptr);
  TD3DTLVertex a, b;
  MapVertex(a, x0, y0, tx + 0.5001f, ty + 0.5001f);
  MapVertex(b, x1, y1, tx + 0.5001f, ty + 0.5001f);
  if (linewidth == 1.0f) {
    TD3DTLVertex l[2] = {a, b};
    Emit(D3DPT_LINELIST, l, 2);
    return;
  }
  // A quad around the line, widened across its minor axis.
  const float h = linewidth * 0.5f;
  const bool steep = std::fabs(b.sy - a.sy) > std::fabs(b.sx - a.sx);
  TD3DTLVertex q[4] = {a, a, b, b};
  if (steep) {
    q[0].sx -= h;
    q[1].sx += h;
    q[2].sx += h;
    q[3].sx -= h;
  } else {
    q[0].sy -= h;
    q[1].sy += h;
    q[2].sy += h;
    q[3].sy -= h;
  }
  Emit(D3DPT_TRIANGLEFAN, q, 4);
}

void TD3D7Vex2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  if (!IsValid()) return;
  SetActiveFrame(nullptr);
  TD3DTLVertex q[4];
  MapVertex(q[0], x0, y0, tx, ty);
  MapVertex(q[1], x1, y0, tx, ty);
  MapVertex(q[2], x1, y1, tx, ty);
  MapVertex(q[3], x0, y1, tx, ty);
  Emit(D3DPT_TRIANGLEFAN, q, 4);
}

// An oval as a fan of segments whose number grows with its size on screen (none when it
// lies wholly off screen).
void TD3D7Vex2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  if (!IsValid()) return;
  SetActiveFrame(nullptr);
  const float xr = (x1 - x0) * 0.5f, yr = (y1 - y0) * 0.5f;
  const float cx = x0 + xr, cy = y0 + yr;
  const TDDSurface7Ptr& surf = d3d7graphics->_renderSurf;
  const int segs = OvalSegmentsOnScreen(xr, yr, cx, cy, ix, iy, jx, jy, tx, ty, surf->Width(), surf->Height());
  if (segs == 0) return;
  vrts.resize(static_cast<size_t>(segs));
  for (int i = 0; i < segs; ++i) {
    // The angle runs the other way round than in the OpenGL renderer's polygon.
    const double th = static_cast<double>(i) * 360.0 / segs * M_PI / 180.0;
    MapVertex(vrts[static_cast<size_t>(i)], cx + static_cast<float>(std::cos(th)) * xr,
              cy + static_cast<float>(std::sin(th)) * yr, tx, ty);
  }
  Emit(D3DPT_TRIANGLEFAN, vrts.data(), segs);
}

void TD3D7Vex2DDriver::DrawPoly(const std::vector<float>& xy, float handleX, float handleY,
                                float originX, float originY) {
  if (xy.size() < 6 || (xy.size() & 1) || !IsValid()) return;
  SetActiveFrame(nullptr);
  const size_t n = xy.size() / 2;
  vrts.resize(n);
  for (size_t i = 0; i < n; ++i)
    MapVertex(vrts[i], xy[2 * i] + handleX, xy[2 * i + 1] + handleY, originX, originY);
  Emit(D3DPT_TRIANGLEFAN, vrts.data(), static_cast<int>(n));
}

void TD3D7Vex2DDriver::DrawFrame(TD3D7ImageFrame& frame, float x0, float y0, float x1, float y1,
                                 float tx, float ty) {
  if (!IsValid()) return;
  SetActiveFrame(&frame);
  TD3DTLVertex q[4];
  const float xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1};
  for (int i = 0; i < 4; ++i) {
    MapVertex(q[i], xs[i], ys[i], tx, ty);
    q[i].tu = frame.xyzuv[i].tu;
    q[i].tv = frame.xyzuv[i].tv;
  }
  Emit(D3DPT_TRIANGLEFAN, q, 4);
}

// Binds an image frame as the texture (or none, for plain shapes) and sets only the
// stage states that change: textured drawing modulates the texel by the drawing colour,
// untextured drawing takes the colour alone; filtered frames sample linearly with linear
// mip filtering. The active frame is cached because sprites of one image come in runs.
void TD3D7Vex2DDriver::SetActiveFrame(TD3D7ImageFrame* frame) {
  if (frame == activeFrame || !device) return;
  if (!frame) {
    device->SetTexture(0, nullptr);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    activeFrame = nullptr;
    return;
  }
  if (!activeFrame) {
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  }
  device->SetTexture(0, frame->surface ? frame->surface->surface : nullptr);
  const int filtered = frame->flags & IMG_FILTERED;
  if (filtered != activeFrameFlags) {
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, filtered ? D3DTFG_LINEAR : D3DTFG_POINT);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, filtered ? D3DTFN_LINEAR : D3DTFN_POINT);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, filtered ? D3DTFP_LINEAR : D3DTFP_POINT);
    activeFrameFlags = filtered;
  }
  activeFrame = frame;
}

// A system-memory surface of the pixmap's size holding a copy of it (or of the given size,
// blank, when pixmap is null). Throws when the surface cannot be made or locked.
TDDSurface7Ptr TD3D7Vex2DDriver::surffrompixmap(const TPixmapPtr& pixmap, int width, int height) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  if (pixmap) {
    width = pixmap->width;
    height = pixmap->height;
  }
  TDDSurfaceDesc d;
  d.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  d.width = width;
  d.height = height;
  TDDSurface7Ptr s;
  if (!drv || !drv->DirectDraw7() || drv->DirectDraw7()->CreateSurface(d, s) != DD_OK)
    throw TRuntimeException("D3D7Vex2D Create System Surface Failed");
  if (pixmap) {
    TDDSurfaceDesc l;
    if (s->Lock(nullptr, l, DDLOCK_WAIT | DDLOCK_WRITEONLY) != DD_OK)
      throw TRuntimeException("D3D7Vex2D Create System Surface Failed");
    auto view = TPixmap::CreateStatic(l.surface, width, height, l.pitch, PIXFMT_BGRA8888);
    view->Paste(*pixmap, 0, 0);
    s->Unlock();
  }
  return s;
}

// Copies a pixmap onto the render surface unblended, cut to the surface first because a
// blit without a clipper must lie inside it; positions whose far edge leaves the int range
// draw nothing.
void TD3D7Vex2DDriver::DrawPixmap(const TPixmapPtr& pixmap, int x, int y) {
  if (!pixmap || !IsValid() || pixmap->width <= 0 || pixmap->height <= 0) return;
  TDDSurface7Ptr target = d3d7graphics->_renderSurf;
  // Clip to the render surface (a blit without a clipper must lie inside it).
  TDDRect src{0, 0, pixmap->width, pixmap->height};
  if (static_cast<int64_t>(x) + pixmap->width > INT32_MAX || static_cast<int64_t>(y) + pixmap->height > INT32_MAX) return;
  TDDRect dst{x, y, x + pixmap->width, y + pixmap->height};
  if (dst.left < 0) { src.left -= dst.left; dst.left = 0; }
  if (dst.top < 0) { src.top -= dst.top; dst.top = 0; }
  if (dst.right > target->Width()) { src.right -= dst.right - target->Width(); dst.right = target->Width(); }
  if (dst.bottom > target->Height()) { src.bottom -= dst.bottom - target->Height(); dst.bottom = target->Height(); }
  if (dst.left >= dst.right || dst.top >= dst.bottom) return;
  TDDSurface7Ptr s = surffrompixmap(pixmap);
  target->Blt(&dst, s, &src, DDBLT_WAIT);
}

// A copy of a rectangle of the render surface as an opaque RGBA pixmap of exactly the
// requested size; the part outside the surface (or everything, when nothing can be drawn)
// reads as black.
TPixmapPtr TD3D7Vex2DDriver::GrabPixmap(int x, int y, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  TPixmapPtr out = TPixmap::Create(width, height, PIXFMT_RGBA8888, 4);
  if (width == 0 || height == 0) return out;
  TDDSurface7Ptr s = surffrompixmap(nullptr, width, height);
  if (IsValid()) {
    TDDSurface7Ptr source = d3d7graphics->_renderSurf;
    // The requested rectangle clipped to the surface, in 64 bits (x + width may pass the
    // int range).
    const int64_t sl = x, st = y, sr = sl + width, sb = st + height;
    const int64_t cl = std::max<int64_t>(sl, 0), ct = std::max<int64_t>(st, 0);
    const int64_t cr = std::min<int64_t>(sr, source->Width()), cb = std::min<int64_t>(sb, source->Height());
    if (cl < cr && ct < cb) {
      TDDRect src{static_cast<int>(cl), static_cast<int>(ct), static_cast<int>(cr), static_cast<int>(cb)};
      TDDRect dst{static_cast<int>(cl - sl), static_cast<int>(ct - st), static_cast<int>(cr - sl),
                  static_cast<int>(cb - st)};
      s->Blt(&dst, source, &src, DDBLT_WAIT);
    }
  }
  TDDSurfaceDesc l;
  if (s->Lock(nullptr, l, DDLOCK_WAIT | DDLOCK_READONLY) != DD_OK)
    throw TRuntimeException("D3D7Vex2D Create System Surface Failed");
  for (int row = 0; row < height; ++row) {
    uint32_t* p = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(l.surface) + static_cast<size_t>(row) * l.pitch);
    for (int i = 0; i < width; ++i) p[i] |= 0xFF000000u;  // the window has no alpha
  }
  auto view = TPixmap::CreateStatic(l.surface, width, height, l.pitch, PIXFMT_BGRA8888);
  out->Paste(*view, 0, 0);
  s->Unlock();
  return out;
}

TImageFramePtr TD3D7Vex2DDriver::CreateFrameFromPixmap(const TPixmapPtr& pixmap, int flags) {
  if (!pixmap) return nullptr;
  auto f = TD3D7ImageFrame::Create(this, pixmap->width, pixmap->height, flags);
  TPixmapPtr p = f->Lock(0, 1);
  p->Paste(*pixmap, 0, 0);
  f->Unlock();
  return f;
}

std::shared_ptr<TD3D7ImageFrame> TD3D7Vex2DDriver::CreateFrameWithSize(int width, int height, int flags) {
  return TD3D7ImageFrame::Create(this, width, height, flags);
}

TD3D7Vex2DDriver* D3D7Renderer() {
  if (!g_renderer && D3D7GraphicsDriver()) g_renderer = new TD3D7Vex2DDriver();
  return g_renderer;
}

TVex2DDriver* DirectX7Renderer() { return D3D7Renderer(); }

void InitD3D7Module() {
  static bool done = false;
  if (done) return;
  done = true;
  InitGraphicsModule();
  if (TD3D7Vex2DDriver* r = D3D7Renderer()) UseGraphicsDriver(r, GFX_BACKBUFFER);
}

// ---------------------------------------------------------------------------------------
// Image frames.

// A managed texture of power-of-two sides around an image of width x height (at least
// 1 x 1), with a mip chain when asked; the frame's texture coordinates cover only the
// image's part. The frame remembers the graphics generation it was made in.
std::shared_ptr<TD3D7ImageFrame> TD3D7ImageFrame::Create(TD3D7Vex2DDriver* driver, int width,
                                                         int height, int flags) {
  TD3D7GraphicsDriver* drv = D3D7GraphicsDriver();
  width = std::max(width, 1);
  height = std::max(height, 1);
  TDDSurfaceDesc d;
  d.caps = DDSCAPS_TEXTURE | ((flags & IMG_MIPMAPPED) ? DDSCAPS_MIPMAP | DDSCAPS_COMPLEX : 0);
  d.caps2 = DDSCAPS2_TEXTUREMANAGE;
  d.width = NextPow2(width);
  d.height = NextPow2(height);
  d.alphaMask = 0xFF000000u;
  TD3D7SurfacePtr s = drv ? drv->CreateSurface(d) : nullptr;
  if (!s) throw TRuntimeException("Create DX7 surface Failed");
  auto f = std::make_shared<TD3D7ImageFrame>();
  f->seq = GraphicsGeneration();
  f->driver = driver;
  f->surface = s;
  f->sinfo = s->desc;
  f->width = width;
  f->height = height;
  f->flags = flags;
  f->SetUV(0, 0, static_cast<float>(width) / static_cast<float>(d.width),
           static_cast<float>(height) / static_cast<float>(d.height));
  return f;
}

// Unbinds the frame if it is the active texture, and gives its surface back only when the
// surface still belongs to the current DirectDraw (same generation).
TD3D7ImageFrame::~TD3D7ImageFrame() {
  if (driver && driver->activeFrame == this) {
    if (driver->device) driver->SetActiveFrame(nullptr);
    driver->activeFrame = nullptr;
  }
  if (surface && seq == GraphicsGeneration() && g_driver) g_driver->DestroySurface(surface);
}

void TD3D7ImageFrame::SetUV(float u0, float v0, float u1, float v1) {
  xyzuv[0].tu = u0;
  xyzuv[0].tv = v0;
  xyzuv[1].tu = u1;
  xyzuv[1].tv = v0;
  xyzuv[2].tu = u1;
  xyzuv[2].tv = v1;
  xyzuv[3].tu = u0;
  xyzuv[3].tv = v1;
}

TPixmapPtr TD3D7ImageFrame::Lock(int read, int write) {
  uint32_t f = DDLOCK_WAIT;
  if (read && !write) f |= DDLOCK_READONLY;
  if (write && !read) f |= DDLOCK_WRITEONLY;
  if (!surface || surface->surface->Lock(nullptr, sinfo, f) != DD_OK)
    throw TRuntimeException("DD3D7ImageFrame Lock failed");
  _locked = true;
  auto p = TPixmap::CreateStatic(sinfo.surface, width, height, sinfo.pitch, PIXFMT_BGRA8888);
  p->_source = surface->surface;
  return p;
}

void TD3D7ImageFrame::Unlock() {
  if (!_locked) return;
  SmearEdges();
  surface->surface->Unlock();
  _locked = false;
  if (flags & IMG_MIPMAPPED) BuildMipMaps();
}

void TD3D7ImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty) {
  if (driver) driver->DrawFrame(*this, x0, y0, x1, y1, tx, ty);
}

// The average of two ARGB pixels, four channels in one 32-bit sum: each channel is halved
// before adding so no sum carries into its neighbour. The last term adds one to the sums
// whose bit 3 is set, which offsets on average what the halving drops and still cannot
// carry (254 becomes at most 255).
uint32_t TD3D7ImageFrame::Mix(uint32_t a, uint32_t b) {
  uint32_t m = ((a >> 1) & 0x7F7F7F7Fu) + ((b >> 1) & 0x7F7F7F7Fu);
  return m + ((m >> 3) & 0x01010101u);
}

// Repeats the image's last column and row into the unused part of the texture, so that
// filtering at the image's edge blends with the image's own pixels, not with whatever the
// padding holds: one column and row for a plain texture (all a bilinear fetch reaches), the
// whole padding for a mip-mapped one (smaller levels average wider areas of it).
void TD3D7ImageFrame::SmearEdges() {
  if (!_locked || !sinfo.surface) return;
  const int tw = sinfo.width, th = sinfo.height;
  const bool mip = (flags & IMG_MIPMAPPED) != 0;
  auto row = [&](int y) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(sinfo.surface) + static_cast<size_t>(y) * sinfo.pitch);
  };
  if (tw > width) {
    const int end = mip ? tw : width + 1;
    for (int y = 0; y < height; ++y) {
      uint32_t* r = row(y);
      std::fill(r + width, r + end, r[width - 1]);
    }
  }
  if (th > height) {
    const int end = mip ? th : height + 1;
    for (int y = height; y < end; ++y) std::memcpy(row(y), row(height - 1), static_cast<size_t>(tw) * 4);
  }
}

// Fills each mip level from the one above: every pixel the Mix of the 2 x 2 block above
// it (the block repeats the last row or column where the level above is one pixel wide or
// high). Throws when a level cannot be locked; the level above is unlocked first.
void TD3D7ImageFrame::BuildMipMaps() {
  TDDSurface7Ptr cur = surface->surface, next;
  while (cur->GetAttachedSurface(DDSCAPS_MIPMAP, next) == DD_OK && next) {
    TMip src, dst;
    if (!src.Lock(cur)) throw TRuntimeException("BuildMipMaps: lock failed");
    if (!dst.Lock(next)) {
      src.Unlock();
      throw TRuntimeException("BuildMipMaps: lock failed");
    }
    const int sw = src.info.width, sh = src.info.height;
    for (int y = 0; y < dst.info.height; ++y) {
      const int y0 = std::min(2 * y, sh - 1), y1 = std::min(2 * y + 1, sh - 1);
      for (int x = 0; x < dst.info.width; ++x) {
        const int x0 = std::min(2 * x, sw - 1), x1 = std::min(2 * x + 1, sw - 1);
        dst.Write(x, y, Mix(Mix(src.Read(x0, y0), src.Read(x1, y0)), Mix(src.Read(x0, y1), src.Read(x1, y1))));
      }
    }
    dst.Unlock();
    src.Unlock();
    cur = next;
  }
}

bool TMip::Lock(const TDDSurface7Ptr& surface) {
  surf = surface;
  if (!surf || surf->Lock(nullptr, info, DDLOCK_WAIT) != DD_OK) {
    surf = nullptr;
    return false;
  }
  return true;
}

void TMip::Write(int x, int y, uint32_t argb) {
  reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(info.surface) + static_cast<size_t>(y) * info.pitch)[x] = argb;
}

uint32_t TMip::Read(int x, int y) const {
  return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(info.surface) +
                                           static_cast<size_t>(y) * info.pitch)[x];
}

void TMip::Unlock() {
  if (surf) surf->Unlock();
  surf = nullptr;
}
