#pragma once
// The OpenGL 2D renderer (immediate-mode OpenGL 1.x into the contexts of the OpenGL
// graphics driver) and its texture-backed image frames.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/runtime/text.h>

class TGLVex2DDriver : public TVex2DDriver {
public:
  // Graphics-driver side.
  TGraphicsDriver* PlatformDriver() override;  // OpenGLGraphicsDriver()
  void SetGraphics(const TGraphicsPtr& g) override;
  void Flip(int sync) override;
  Text ToString() override;  // "OpenGL"

  // Renderer side.
  ORMIX_RENDERER_OPERATIONS(override)

  // Resets the renderer's cached GL state and sets a pixel projection for g.
  virtual void ResetGLContext(const TGraphicsPtr& g);
};

// The renderer (one instance, made on first use); OpenGLRenderer() as its own type.
TGLVex2DDriver* GLRenderer();

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
