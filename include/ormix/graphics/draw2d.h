#pragma once
// The 2D drawing layer: the renderer interface (TVex2DDriver), the 2D context that keeps
// the drawing state (TVex2DGraphics) and the global drawing functions that act on the
// current 2D context.
#include <memory>
#include <vector>

#include <ormix/graphics/graphics.h>
#include <ormix/runtime/text.h>

class TPixmap;
using TPixmapPtr = std::shared_ptr<TPixmap>;
class TImageFrame;
using TImageFramePtr = std::shared_ptr<TImageFrame>;
class TImage;
using TImagePtr = std::shared_ptr<TImage>;
class TImageFont;
using TImageFontPtr = std::shared_ptr<TImageFont>;

// Blend modes.
constexpr int BLEND_MASK = 1;   // opaque, pixels with alpha below one half not drawn
constexpr int BLEND_SOLID = 2;  // opaque, alpha ignored
constexpr int BLEND_ALPHA = 3;  // src * a + dst * (1 - a)
constexpr int BLEND_LIGHT = 4;  // src * a + dst
constexpr int BLEND_SHADE = 5;  // src * dst

// The renderer operations, listed once: TVex2DDriver declares them `= 0` and each
// renderer's class declares them all with ORMIX_RENDERER_OPERATIONS(override).
// DrawPoly draws the polygon through (xy[2i] + handleX, xy[2i+1] + handleY), mapped,
// offset by the origin.
#define ORMIX_RENDERER_OPERATIONS(QUALIFIER)                                               \
  virtual TImageFramePtr CreateFrameFromPixmap(const TPixmapPtr& pixmap, int flags) QUALIFIER; \
  virtual void SetBlend(int mode) QUALIFIER;                                               \
  virtual void SetAlpha(float alpha) QUALIFIER;                                            \
  virtual void SetColor(int red, int green, int blue) QUALIFIER;                           \
  virtual void SetClsColor(int red, int green, int blue) QUALIFIER;                        \
  virtual void SetViewport(int x, int y, int width, int height) QUALIFIER;                 \
  virtual void SetTransform(float ix, float iy, float jx, float jy) QUALIFIER;             \
  virtual void SetLineWidth(float width) QUALIFIER;                                        \
  virtual void Cls() QUALIFIER;                                                            \
  virtual void Plot(float x, float y) QUALIFIER;                                           \
  virtual void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) QUALIFIER; \
  virtual void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) QUALIFIER; \
  virtual void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) QUALIFIER; \
  virtual void DrawPoly(const std::vector<float>& xy, float handleX, float handleY,        \
                        float originX, float originY) QUALIFIER;                           \
  virtual void DrawPixmap(const TPixmapPtr& pixmap, int x, int y) QUALIFIER;               \
  virtual TPixmapPtr GrabPixmap(int x, int y, int width, int height) QUALIFIER;

// A 2D renderer: the one interface every renderer implements. A renderer draws into the
// contexts of its platform graphics driver: AttachGraphics/CreateGraphics ask that driver
// for a context and wrap it with TVex2DGraphics::Create, GraphicsModes forwards to it
// (done here once); SetGraphics, Flip and the drawing operations are the renderer's own.
// In the shape operations (x0, y0)-(x1, y1) are corners relative to the drawing point
// (tx, ty) in window pixels; a relative point (x, y) lands at
// (x * ix + y * iy + tx, x * jx + y * jy + ty) with the last SetTransform.
// Renderers are reached by name through <ormix/graphics/renderers/renderers.h>.
class TVex2DDriver : public TGraphicsDriver {
public:
  std::vector<TGraphicsMode> GraphicsModes() override;
  TGraphicsPtr AttachGraphics(void* widget, int flags) override;
  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override;

  // The platform graphics driver whose contexts this renderer draws into; null (no modes,
  // no contexts) unless the renderer names one or overrides the three operations above.
  virtual TGraphicsDriver* PlatformDriver() { return nullptr; }
  ORMIX_RENDERER_OPERATIONS(= 0)
};

// Segments for an oval of half-sizes xr, yr centred on (cx, cy), drawn through the matrix
// (ix iy / jx jy) and offset (tx, ty) onto a screen of the given size: one per unit of
// |xr| + |yr| (at least 12, a multiple of 4), but never more than the oval's extent on the
// screen in pixels, so a huge oval costs no more than one that fills the screen. 0 when
// nothing of it can be seen or a value is not finite.
int OvalSegmentsOnScreen(float xr, float yr, float cx, float cy, float ix, float iy, float jx, float jy,
                         float tx, float ty, int screenWidth, int screenHeight);

class TVex2DGraphics;
using TVex2DGraphicsPtr = std::shared_ptr<TVex2DGraphics>;

// A 2D context: wraps a platform context and holds the whole drawing state, so each
// context gets its own state back when it becomes current.
class TVex2DGraphics : public TGraphics {
public:
  int color_red = 255, color_green = 255, color_blue = 255;
  float color_alpha = 1.0f;
  int clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
  float line_width = 1.0f;
  float tform_rot = 0.0f;
  float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
  float tform_ix = 1.0f, tform_iy = 0.0f, tform_jx = 0.0f, tform_jy = 1.0f;
  int viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
  float origin_x = 0.0f, origin_y = 0.0f;
  float handle_x = 0.0f, handle_y = 0.0f;  // the negated drawing handle
  TImageFontPtr image_font;                // never null once created
  int blend_mode = BLEND_MASK;
  TGraphicsPtr _graphics;
  TVex2DDriver* _driver = nullptr;
  int _setup = 0;

  TGraphicsDriver* Driver() override;
  void GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override;
  // Closes the wrapped context and drops it and the driver; nothing when already closed.
  void Close() override;
  // Re-applies the whole state to the renderer.
  virtual void Validate();
  // Records this context and its driver as current, validates, and on first use shows
  // two cleared frames.
  virtual void MakeCurrent();

  static void ClearCurrent();
  static TVex2DGraphicsPtr Current();
  static TVex2DGraphicsPtr Create(const TGraphicsPtr& graphics, TVex2DDriver* driver);
};

// The renderer of the current 2D context (null when none).
TVex2DDriver* CurrentRenderer();
// The built-in 8x16 font shared by all contexts (made by the first Create).
TImageFontPtr DefaultTextFont();

// State setters and getters (the current 2D context).
void SetDrawColor(int red, int green, int blue);
void GetDrawColor(int& red, int& green, int& blue);
void SetDrawAlpha(float alpha);
float GetDrawAlpha();
void SetBlendMode(int mode);
int GetBlendMode();
void SetClearColor(int red, int green, int blue);
void GetClearColor(int& red, int& green, int& blue);
void SetLineThickness(float width);
float GetLineThickness();
void SetClipRect(int x, int y, int width, int height);
void GetClipRect(int& x, int& y, int& width, int& height);
void SetDrawOrigin(float x, float y);
void GetDrawOrigin(float& x, float& y);
void SetDrawHandle(float x, float y);
void GetDrawHandle(float& x, float& y);
void SetDrawRotation(float degrees);
float GetDrawRotation();
void SetDrawScale(float scaleX, float scaleY);
void GetDrawScale(float& scaleX, float& scaleY);
void SetDrawTransform(float rotation = 0.0f, float scaleX = 1.0f, float scaleY = 1.0f);
// Null selects the built-in font.
void UseTextFont(const TImageFontPtr& font);
TImageFontPtr CurrentTextFont();
// SetImageMaskColor / GetImageMaskColor (the module mask colour) are in graphics/image.h.

// Recomputes the drawing matrix from rotation and scale and passes it to the renderer.
void RecomputeDrawMatrix();

// Primitives.
void ClearScreen();
void PlotPoint(float x, float y);
void FillRect(float x, float y, float width, float height);
void DrawLineSegment(float x, float y, float x2, float y2, int lastPixel = 1);
void FillOval(float x, float y, float width, float height);
void FillPolygon(const std::vector<float>& xy);
void DrawString(const Text& text, float x, float y);
void BlitImage(const TImagePtr& image, float x, float y, int frame = 0);
void BlitImageScaled(const TImagePtr& image, float x, float y, float width, float height,
                     int frame = 0);
// Covers the clip rectangle with untransformed copies of the frame.
void RepeatImage(const TImagePtr& image, float x = 0.0f, float y = 0.0f, int frame = 0);
void BlitPixmap(const TPixmapPtr& pixmap, int x, int y);
TPixmapPtr CapturePixmap(int x, int y, int width, int height);
void CaptureToImage(const TImagePtr& image, int x, int y, int frame = 0);
