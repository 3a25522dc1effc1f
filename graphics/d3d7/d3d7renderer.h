#pragma once
// The DirectX 7 2D renderer's classes: its graphics driver (contexts on SDL windows
// presented through the DirectDraw-like layer), the renderer itself and its
// surface-backed image frames. Everything it draws goes through the software device of
// softdraw.h, so its output is the same on every machine.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>

#include "softdraw.h"

struct SDL_Window;

class TD3D7Graphics;
using TD3D7GraphicsPtr = std::shared_ptr<TD3D7Graphics>;

// One surface made by the driver, kept on its surface list.
class TD3D7Surface {
 public:
  TDDSurface7Ptr surface;
  TDDSurfaceDesc desc;
};
using TD3D7SurfacePtr = std::shared_ptr<TD3D7Surface>;

// Chooses the full-screen mode for a request: exactly width x height at the requested
// depth, else 32, 24 or 16 bits, and among those the refresh rate closest to hertz (the
// first of equals). False when there is none.
bool ChooseD3D7Mode(const std::vector<TGraphicsMode>& modes, int width, int height, int depth,
                    int hertz, TGraphicsMode& chosen);

class TD3D7GraphicsDriver : public TGraphicsDriver {
 public:
  std::vector<TGraphicsMode> _modes;
  TDirectDraw7Ptr _dd7;
  TDirectDraw7Ptr _d3d7;  // the Direct3D side lives on the same object here
  TD3DDevice7Ptr _d3ddev7;
  TD3D7GraphicsPtr _graphics;
  int _n_graphics = 0;
  int _n_fullscreen = 0;
  bool _inScene = false;
  std::vector<TD3D7SurfacePtr> _surfaces;
  std::vector<std::weak_ptr<TD3D7Graphics>> _graphicss;
  TDDSurface7Ptr _primary;  // shared by windowed contexts
  bool _valid = true;
  bool _validating = false;

  std::vector<TGraphicsMode> GraphicsModes() override;
  TGraphicsPtr AttachGraphics(void* widget, int flags) override;
  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override;
  void SetGraphics(const TGraphicsPtr& g) override;
  void Flip(int sync) override;
  Text ToString() override;

  void CloseGraphics(TD3D7Graphics& g);
  TD3D7GraphicsPtr Graphics() const { return _graphics; }
  TDirectDraw7Ptr DirectDraw7() const { return _dd7; }
  TDirectDraw7Ptr Direct3D7() const { return _d3d7; }
  TD3DDevice7Ptr Direct3DDevice7() const { return _d3ddev7; }
  void BeginScene();
  void EndScene();
  // A surface on the driver's list; null when the platform refuses it.
  TD3D7SurfacePtr CreateSurface(const TDDSurfaceDesc& desc);
  void DestroySurface(const TD3D7SurfacePtr& surface);
  // Checks the cooperative level; on a display-mode change the DirectDraw objects are
  // made again and the surfaces rebuilt. Returns the result code.
  int32_t _ValidateGraphics();
  // Re-checks validity (when valid or flag is set); guarded against re-entry.
  bool ValidateGraphics(int flag);

  // Null when DirectDraw (an SDL video driver) is not available.
  static TD3D7GraphicsDriver* Create();
  bool _Create();
  void _Destroy();
  // The primary surface for windowed presentation (made on first use).
  TDDSurface7Ptr Primary();
  // The DirectDraw object's cooperative level (0 when there is none).
  uint32_t CooperativeLevelForTest() const { return _dd7 ? _dd7->CooperativeLevel() : 0; }
};

class TD3D7Graphics : public TGraphics {
 public:
  int _width = 0, _height = 0, _depth = 0, _hertz = 0, _flags = 0;
  SDL_Window* _hwnd = nullptr;
  bool _ownWindow = false;
  TDDClipperPtr _clipper;
  TDDSurface7Ptr _renderSurf;
  TDDSurface7Ptr _primaryChain;  // full screen: the flipping chain
  TD3D7GraphicsDriver* _driver = nullptr;
  bool _closed = false;

  ~TD3D7Graphics() override;
  TGraphicsDriver* Driver() override;
  void GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override;
  void Close() override;
  void Flip(int sync);
  TDDSurface7Ptr RenderSurface() const { return _renderSurf; }
  void CreateRenderSurface();
  void DestroyRenderSurface();
  // Windowed: rebuilds the render surface when the client size changed.
  void ValidateSize();

  static TD3D7GraphicsPtr Attach(SDL_Window* hwnd, int flags);
  static TD3D7GraphicsPtr Create(int width, int height, int depth, int hertz, int flags);
};

class TD3D7ImageFrame;

class TD3D7Vex2DDriver : public TVex2DDriver {
 public:
  TD3DDevice7Ptr device;
  TD3D7GraphicsPtr d3d7graphics;
  float drawalpha = 1.0f;
  uint32_t drawcolor = 0xFFFFFFFFu;
  uint32_t clscolor = 0xFF000000u;
  float ix = 1, iy = 0, jx = 0, jy = 1;
  float linewidth = 1;
  TD3DTLVertex cverts[4];
  std::vector<TD3DTLVertex> vrts;
  TDDRect vp_rect;
  int activeBlend = 0;
  TD3D7ImageFrame* activeFrame = nullptr;
  int activeFrameFlags = -1;

  // Graphics-driver side.
  TGraphicsDriver* PlatformDriver() override;  // D3D7GraphicsDriver()
  void SetGraphics(const TGraphicsPtr& g) override;
  void Flip(int sync) override;
  Text ToString() override;  // "DirectX7"

  // Renderer side.
  ORMIX_RENDERER_OPERATIONS(override)

  bool IsValid() const;
  void ResetD3DDevice(const TD3D7GraphicsPtr& graphics);
  std::shared_ptr<TD3D7ImageFrame> CreateFrameWithSize(int width, int height, int flags);
  void DrawFrame(TD3D7ImageFrame& frame, float x0, float y0, float x1, float y1, float tx,
                 float ty);
  // A system-memory surface holding the pixmap's pixels (or of its size, empty, for a
  // null pixmap with the size given). Throws "D3D7Vex2D Create System Surface Failed".
  TDDSurface7Ptr surffrompixmap(const TPixmapPtr& pixmap, int width = 0, int height = 0);
  void SetActiveFrame(TD3D7ImageFrame* frame);

 private:
  void Emit(TD3DPrimitiveType type, const TD3DTLVertex* v, int count);
  void MapVertex(TD3DTLVertex& v, float x, float y, float tx, float ty) const;
};

// The renderer (one instance), or null when the DirectX 7 driver cannot be made;
// DirectX7Renderer() as its own type.
TD3D7Vex2DDriver* D3D7Renderer();
// The renderer's graphics driver, or null when it cannot be made.
TD3D7GraphicsDriver* D3D7GraphicsDriver();

class TD3D7ImageFrame : public TImageFrame {
 public:
  int seq = 0;
  TD3D7Vex2DDriver* driver = nullptr;
  TD3D7SurfacePtr surface;
  TDDSurfaceDesc sinfo;
  TD3DTLVertex xyzuv[4];
  int width = 0, height = 0;
  int flags = 0;

  ~TD3D7ImageFrame() override;
  void SetUV(float u0, float v0, float u1, float v1);
  // Throws "Create DX7 surface Failed".
  static std::shared_ptr<TD3D7ImageFrame> Create(TD3D7Vex2DDriver* driver, int width, int height,
                                                 int flags);
  // A BGRA8888 pixmap over the surface memory (image size, the surface's pitch).
  // Throws "DD3D7ImageFrame Lock failed".
  TPixmapPtr Lock(int read, int write);
  void Unlock();
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override;
  static uint32_t Mix(uint32_t a, uint32_t b);
  void SmearEdges();
  // Throws "BuildMipMaps: lock failed".
  void BuildMipMaps();

 private:
  bool _locked = false;
};

// One mip level being written.
class TMip {
 public:
  TDDSurface7Ptr surf;
  TDDSurfaceDesc info;
  bool Lock(const TDDSurface7Ptr& surface);
  void Write(int x, int y, uint32_t argb);
  uint32_t Read(int x, int y) const;
  void Unlock();
};

// The name of a result code for messages ("OK", "WRONGMODE", "UNKNOWN:...").
std::string D3D7ResultName(int32_t result);
