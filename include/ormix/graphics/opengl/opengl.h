#pragma once
// OpenGL on SDL2: the platform graphics driver (windows and GL contexts sharing one hidden
// context), the OpenGL 2D renderer, its texture-backed image frames and a few stand-alone
// helpers for code that draws with raw OpenGL.
#include <cstdint>
#include <memory>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/runtime/text.h>

struct SDL_Window;

// The platform OpenGL graphics driver (one instance, made on first use).
TGraphicsDriver* OpenGLGraphicsDriver();
// Makes the hidden shared context current when it is not; otherwise makes the current
// graphics context's GL context current again (or none). Texture creation and deletion
// are bracketed by two calls so textures belong to the shared context.
void SwapSharedContext();
// The SDL window of a platform GL context (null for other contexts).
SDL_Window* GLGraphicsWindow(const TGraphicsPtr& g);
// Whether the hidden shared context exists (textures can only exist after it).
bool GLContextAlive();

class TGLVex2DDriver : public TVex2DDriver {
public:
  // Graphics-driver side.
  std::vector<TGraphicsMode> GraphicsModes() override;
  TGraphicsPtr AttachGraphics(void* widget, int flags) override;
  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override;
  void SetGraphics(const TGraphicsPtr& g) override;
  void Flip(int sync) override;
  Text ToString() override;  // "OpenGL"

  // Renderer side.
  TImageFramePtr CreateFrameFromPixmap(const TPixmapPtr& pixmap, int flags) override;
  void SetBlend(int mode) override;
  void SetAlpha(float alpha) override;
  void SetColor(int red, int green, int blue) override;
  void SetClsColor(int red, int green, int blue) override;
  void SetViewport(int x, int y, int width, int height) override;
  void SetTransform(float ix, float iy, float jx, float jy) override;
  void SetLineWidth(float width) override;
  void Cls() override;
  void Plot(float x, float y) override;
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawPoly(const std::vector<float>& xy, float handleX, float handleY, float originX,
                float originY) override;
  void DrawPixmap(const TPixmapPtr& pixmap, int x, int y) override;
  TPixmapPtr GrabPixmap(int x, int y, int width, int height) override;

  // Resets the renderer's cached GL state and sets a pixel projection for g.
  virtual void ResetGLContext(const TGraphicsPtr& g);
};

// The OpenGL 2D renderer (one instance, made on first use).
TGLVex2DDriver* OpenGLRenderer();

// An image frame held in a GL texture of power-of-two size.
class TGLImageFrame : public TImageFrame {
public:
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  uint32_t name = 0;  // GL texture name
  int seq = 0;        // GraphicsGeneration at creation; 0 once released
  int texWidth = 0, texHeight = 0;

  ~TGLImageFrame() override;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override;
  static std::shared_ptr<TGLImageFrame> CreateFromPixmap(const TPixmapPtr& pixmap, int flags);
};

// Texture size for an image of width x height: each side rounded up to a power of two,
// then halved while the GL refuses it. Throws "Unable to calculate tex size".
void AdjustTexSize(int& width, int& height);
// Number of polygon corners of an oval over (x0, y0)-(x1, y1).
int GLOvalSegments(float x0, float y0, float x1, float y1);

// Registers the OpenGL drivers and selects the renderer; idempotent.
void InitOpenGLModule();

// Stand-alone helpers for raw OpenGL drawing into a context.
void GLBegin2D();
void GLEnd2D();
void GLDrawRect(int x, int y, int width, int height);
void GLDrawPixmap(const TPixmapPtr& pixmap, int x, int y);
uint32_t GLTexFromPixmap(const TPixmapPtr& pixmap, bool mipmapped);
void GLDrawText(const Text& text, int x, int y);
