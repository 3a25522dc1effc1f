#pragma once
// The shader renderer: OpenGL ES 2 / WebGL 1 through SDL. Its own platform graphics driver
// (windows with an ES 2 context, or a desktop GL 2.1 context where ES is not offered, all
// sharing one hidden context on the desktop), the 2D renderer that draws everything as
// batches of vertices through one shader program, and its texture-backed image frames.
// Only the GLES 2 subset of OpenGL is used, so the same code runs in a web page.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/runtime/text.h>

struct SDL_Window;

// The platform graphics driver of the shader renderer (one instance, made on first use).
TGraphicsDriver* GLES2GraphicsDriver();
// The SDL window of one of its contexts, or of a 2D context wrapping one (null otherwise).
SDL_Window* GLES2GraphicsWindow(const TGraphicsPtr& g);
// Which kind of context the driver makes: "OpenGL ES 2" or "OpenGL 2.1"; empty before the
// first context. ORMIX_GLES2_CONTEXT=es or =gl allows only that kind (default: ES, else GL).
Text GLES2ContextKind();
// Whether one of the driver's GL contexts (or its hidden shared one) is current.
bool GLES2EnsureContext();
// A number that changes whenever GL object names made before may no longer be valid (a
// new context that shares nothing with earlier ones); stays the same while they share.
int GLES2ObjectSpace();

class TGLES2Vex2DDriver : public TVex2DDriver {
public:
  // Graphics-driver side.
  std::vector<TGraphicsMode> GraphicsModes() override;
  TGraphicsPtr AttachGraphics(void* widget, int flags) override;
  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override;
  void SetGraphics(const TGraphicsPtr& g) override;
  void Flip(int sync) override;
  Text ToString() override;  // "GLES2"

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

  // Sends the vertices gathered so far to GL as one draw call.
  void FlushBatch();
  // Forgets the cached GL state and sets up the shader, buffer and pixel projection for g.
  virtual void ResetContext(const TGraphicsPtr& g);
  // Draw calls issued since the renderer was made (each batch is one).
  uint64_t DrawCalls() const;
};

// The shader renderer (one instance, made on first use).
TGLES2Vex2DDriver* GLES2Renderer();

// An image frame held in a texture of power-of-two size (the image at the top left, its
// last column and row repeated once beside it), so that filtering and mipmaps work alike
// on every GLES 2 implementation.
class TGLES2ImageFrame : public TImageFrame {
public:
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  uint32_t name = 0;  // GL texture name
  int seq = 0;        // GraphicsGeneration at creation; 0 once released
  int space = 0;      // GLES2ObjectSpace() the name belongs to
  int texWidth = 0, texHeight = 0;

  ~TGLES2ImageFrame() override;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty) override;
  static std::shared_ptr<TGLES2ImageFrame> CreateFromPixmap(const TPixmapPtr& pixmap, int flags);
};

// Texture size for an image of width x height: each side rounded up to a power of two,
// then both halved while one is beyond the GL's largest texture.
void GLES2TexSize(int& width, int& height);

// Readies the graphics module for the shader renderer; idempotent. Unlike the OpenGL and
// DirectX 7 modules it does not select itself: UseGraphicsDriver(GLES2Renderer()) does.
void InitGLES2Module();
