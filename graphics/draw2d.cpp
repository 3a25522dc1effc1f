#include <ormix/graphics/draw2d.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <ormix/graphics/collide.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>

namespace {

struct DrawState {
  TVex2DGraphicsPtr current;
  TVex2DDriver* renderer = nullptr;
  TImageFontPtr defaultFont;
};

DrawState& State() {
  static DrawState state;
  return state;
}

// The current 2D context; drawing without one is outside the interface, so calls made
// then are ignored rather than crashing.
TVex2DGraphics* Ctx() { return State().current.get(); }
TVex2DDriver* Drv() { return State().renderer; }

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

}  // namespace

// ---- TVex2DGraphics --------------------------------------------------------------

TGraphicsDriver* TVex2DGraphics::Driver() { return _driver; }

void TVex2DGraphics::GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) {
  if (_graphics) {
    _graphics->GetSettings(width, height, depth, hertz, flags);
  } else {
    width = height = depth = hertz = flags = 0;
  }
}

void TVex2DGraphics::Close() {
  if (!_graphics) return;
  TGraphicsPtr g = _graphics;
  g->Close();
  _graphics = nullptr;
  _driver = nullptr;
}

void TVex2DGraphics::Validate() {
  // Through the setters, which act on the current context (this one).
  SetBlendMode(blend_mode);
  SetDrawColor(color_red, color_green, color_blue);
  SetDrawAlpha(color_alpha);
  SetClearColor(clscolor_red, clscolor_green, clscolor_blue);
  SetLineThickness(line_width);
  SetDrawRotation(tform_rot);
  SetDrawScale(tform_scale_x, tform_scale_y);
  SetClipRect(viewport_x, viewport_y, viewport_w, viewport_h);
  SetDrawOrigin(origin_x, origin_y);
  SetDrawHandle(-handle_x, -handle_y);
  UseTextFont(image_font);
}

void TVex2DGraphics::MakeCurrent() {
  DrawState& s = State();
  s.current = std::static_pointer_cast<TVex2DGraphics>(shared_from_this());
  s.renderer = _driver;
  Validate();
  if (_setup == 0) {
    // Both buffers start cleared.
    ClearScreen();
    ShowFrame(0);
    ClearScreen();
    ShowFrame(0);
    _setup = 1;
  }
}

void TVex2DGraphics::ClearCurrent() {
  DrawState& s = State();
  s.current = nullptr;
  s.renderer = nullptr;
}

TVex2DGraphicsPtr TVex2DGraphics::Current() { return State().current; }

// ---- the renderers' graphics-driver side ----

std::vector<TGraphicsMode> TVex2DDriver::GraphicsModes() {
  TGraphicsDriver* platform = PlatformDriver();
  return platform ? platform->GraphicsModes() : std::vector<TGraphicsMode>();
}

TGraphicsPtr TVex2DDriver::AttachGraphics(void* widget, int flags) {
  TGraphicsDriver* platform = PlatformDriver();
  TGraphicsPtr g = platform ? platform->AttachGraphics(widget, flags) : nullptr;
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

TGraphicsPtr TVex2DDriver::CreateGraphics(int width, int height, int depth, int hertz, int flags) {
  TGraphicsDriver* platform = PlatformDriver();
  TGraphicsPtr g = platform ? platform->CreateGraphics(width, height, depth, hertz, flags) : nullptr;
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

TVex2DGraphicsPtr TVex2DGraphics::Create(const TGraphicsPtr& graphics, TVex2DDriver* driver) {
  if (!graphics) return nullptr;
  int w = 0, h = 0, d = 0, hz = 0, f = 0;
  graphics->GetSettings(w, h, d, hz, f);
  TImageFontPtr font = DefaultTextFont();
  auto g = std::make_shared<TVex2DGraphics>();
  g->viewport_w = w;
  g->viewport_h = h;
  g->image_font = font;
  g->_graphics = graphics;
  g->_driver = driver;
  return g;
}

TVex2DDriver* CurrentRenderer() { return State().renderer; }

TImageFontPtr DefaultTextFont() {
  DrawState& s = State();
  if (!s.defaultFont) s.defaultFont = TImageFont::CreateDefault();
  return s.defaultFont;
}

// ---- State setters and getters ------------------------------------------------------

void SetDrawColor(int red, int green, int blue) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->color_red = red;
  c->color_green = green;
  c->color_blue = blue;
  if (Drv()) Drv()->SetColor(red, green, blue);
}

void GetDrawColor(int& red, int& green, int& blue) {
  TVex2DGraphics* c = Ctx();
  red = c ? c->color_red : 0;
  green = c ? c->color_green : 0;
  blue = c ? c->color_blue : 0;
}

void SetDrawAlpha(float alpha) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->color_alpha = alpha;
  if (Drv()) Drv()->SetAlpha(alpha);
}

float GetDrawAlpha() { return Ctx() ? Ctx()->color_alpha : 0.0f; }

void SetBlendMode(int mode) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->blend_mode = mode;
  if (Drv()) Drv()->SetBlend(mode);
}

int GetBlendMode() { return Ctx() ? Ctx()->blend_mode : 0; }

void SetClearColor(int red, int green, int blue) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->clscolor_red = red;
  c->clscolor_green = green;
  c->clscolor_blue = blue;
  if (Drv()) Drv()->SetClsColor(red, green, blue);
}

void GetClearColor(int& red, int& green, int& blue) {
  TVex2DGraphics* c = Ctx();
  red = c ? c->clscolor_red : 0;
  green = c ? c->clscolor_green : 0;
  blue = c ? c->clscolor_blue : 0;
}

void SetLineThickness(float width) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->line_width = width;
  if (Drv()) Drv()->SetLineWidth(width);
}

float GetLineThickness() { return Ctx() ? Ctx()->line_width : 0.0f; }

void SetClipRect(int x, int y, int width, int height) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->viewport_x = x;
  c->viewport_y = y;
  c->viewport_w = width;
  c->viewport_h = height;
  if (Drv()) Drv()->SetViewport(x, y, width, height);
}

void GetClipRect(int& x, int& y, int& width, int& height) {
  TVex2DGraphics* c = Ctx();
  x = c ? c->viewport_x : 0;
  y = c ? c->viewport_y : 0;
  width = c ? c->viewport_w : 0;
  height = c ? c->viewport_h : 0;
}

void SetDrawOrigin(float x, float y) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->origin_x = x;
  c->origin_y = y;
}

void GetDrawOrigin(float& x, float& y) {
  TVex2DGraphics* c = Ctx();
  x = c ? c->origin_x : 0.0f;
  y = c ? c->origin_y : 0.0f;
}

void SetDrawHandle(float x, float y) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->handle_x = -x;
  c->handle_y = -y;
}

void GetDrawHandle(float& x, float& y) {
  TVex2DGraphics* c = Ctx();
  x = c ? -c->handle_x : 0.0f;
  y = c ? -c->handle_y : 0.0f;
}

void RecomputeDrawMatrix() {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  const double r = c->tform_rot * kDegToRad;
  const double sn = std::sin(r), cs = std::cos(r);
  c->tform_ix = static_cast<float>(cs * c->tform_scale_x);
  c->tform_iy = static_cast<float>(-sn * c->tform_scale_y);
  c->tform_jx = static_cast<float>(sn * c->tform_scale_x);
  c->tform_jy = static_cast<float>(cs * c->tform_scale_y);
  if (Drv()) Drv()->SetTransform(c->tform_ix, c->tform_iy, c->tform_jx, c->tform_jy);
  SetCollisionTransform(c->tform_ix, c->tform_iy, c->tform_jx, c->tform_jy);
}

void SetDrawRotation(float degrees) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->tform_rot = degrees;
  RecomputeDrawMatrix();
}

float GetDrawRotation() { return Ctx() ? Ctx()->tform_rot : 0.0f; }

void SetDrawScale(float scaleX, float scaleY) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->tform_scale_x = scaleX;
  c->tform_scale_y = scaleY;
  RecomputeDrawMatrix();
}

void GetDrawScale(float& scaleX, float& scaleY) {
  TVex2DGraphics* c = Ctx();
  scaleX = c ? c->tform_scale_x : 0.0f;
  scaleY = c ? c->tform_scale_y : 0.0f;
}

void SetDrawTransform(float rotation, float scaleX, float scaleY) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->tform_rot = rotation;
  c->tform_scale_x = scaleX;
  c->tform_scale_y = scaleY;
  RecomputeDrawMatrix();
}

void UseTextFont(const TImageFontPtr& font) {
  TVex2DGraphics* c = Ctx();
  if (!c) return;
  c->image_font = font ? font : DefaultTextFont();
}

TImageFontPtr CurrentTextFont() {
  TVex2DGraphics* c = Ctx();
  return c ? c->image_font : DefaultTextFont();
}

// ---- Primitives -----------------------------------------------------------------

void ClearScreen() {
  if (Ctx() && Drv()) Drv()->Cls();
}

void PlotPoint(float x, float y) {
  TVex2DGraphics* c = Ctx();
  if (!c || !Drv()) return;
  Drv()->Plot(x + c->origin_x, y + c->origin_y);
}

void FillRect(float x, float y, float width, float height) {
  TVex2DGraphics* c = Ctx();
  if (!c || !Drv()) return;
  const float hx = c->handle_x, hy = c->handle_y;
  Drv()->DrawRect(hx, hy, hx + width, hy + height, x + c->origin_x, y + c->origin_y);
}

void DrawLineSegment(float x, float y, float x2, float y2, int lastPixel) {
  TVex2DGraphics* c = Ctx();
  if (!c || !Drv()) return;
  const float hx = c->handle_x, hy = c->handle_y;
  const float tx = x + c->origin_x, ty = y + c->origin_y;
  const float px = hx + x2 - x, py = hy + y2 - y;
  Drv()->DrawLine(hx, hy, px, py, tx, ty);
  if (lastPixel) {
    Drv()->Plot(px * c->tform_ix + py * c->tform_iy + tx, px * c->tform_jx + py * c->tform_jy + ty);
  }
}

void FillOval(float x, float y, float width, float height) {
  TVex2DGraphics* c = Ctx();
  if (!c || !Drv()) return;
  const float hx = c->handle_x, hy = c->handle_y;
  Drv()->DrawOval(hx, hy, hx + width, hy + height, x + c->origin_x, y + c->origin_y);
}

void FillPolygon(const std::vector<float>& xy) {
  TVex2DGraphics* c = Ctx();
  if (!c || !Drv()) return;
  Drv()->DrawPoly(xy, c->handle_x, c->handle_y, c->origin_x, c->origin_y);
}

void DrawString(const Text& text, float x, float y) {
  TVex2DGraphics* c = Ctx();
  if (!c || !c->image_font) return;
  const float hx = c->handle_x, hy = c->handle_y;
  c->image_font->Draw(text, x + c->origin_x + hx * c->tform_ix + hy * c->tform_iy,
                      y + c->origin_y + hx * c->tform_jx + hy * c->tform_jy, c->tform_ix,
                      c->tform_iy, c->tform_jx, c->tform_jy);
}

void BlitImage(const TImagePtr& image, float x, float y, int frame) {
  TVex2DGraphics* c = Ctx();
  if (!c || !image) return;
  TImageFramePtr f = image->Frame(frame);
  if (!f) return;
  f->Draw(-image->handle_x, -image->handle_y, image->width - image->handle_x,
          image->height - image->handle_y, x + c->origin_x, y + c->origin_y);
}

void BlitImageScaled(const TImagePtr& image, float x, float y, float width, float height,
                     int frame) {
  TVex2DGraphics* c = Ctx();
  if (!c || !image) return;
  TImageFramePtr f = image->Frame(frame);
  if (!f) return;
  f->Draw(-image->handle_x, -image->handle_y, width - image->handle_x, height - image->handle_y,
          x + c->origin_x, y + c->origin_y);
}

void RepeatImage(const TImagePtr& image, float x, float y, int frame) {
  TVex2DGraphics* c = Ctx();
  if (!c || !image || !Drv()) return;
  TImageFramePtr f = image->Frame(frame);
  if (!f) return;
  const int w = image->width, h = image->height;
  if (w <= 0 || h <= 0) return;
  // Only the part of the clip rectangle on the screen is covered; 64-bit edges, since a
  // rectangle near the ends of the int range must neither wrap nor tile for ever.
  const int64_t left = std::max<int64_t>(c->viewport_x, 0), top = std::max<int64_t>(c->viewport_y, 0);
  const int64_t right = std::min<int64_t>(static_cast<int64_t>(c->viewport_x) + c->viewport_w, ScreenWidth());
  const int64_t bottom = std::min<int64_t>(static_cast<int64_t>(c->viewport_y) + c->viewport_h, ScreenHeight());
  const double px = x + c->origin_x - image->handle_x;
  const double py = y + c->origin_y - image->handle_y;
  if (left >= right || top >= bottom || !std::isfinite(px) || !std::isfinite(py)) return;
  const double flx = std::floor(px), fly = std::floor(py);
  const float fx = static_cast<float>(px) - static_cast<float>(flx), fy = static_cast<float>(py) - static_cast<float>(fly);
  // The first tile whose far edge passes the covered area's near edge, in step with the
  // image's position.
  auto first = [](int64_t from, int size, double at) {
    const int64_t o = from - size + 1;
    double m = std::fmod(at - static_cast<double>(o), static_cast<double>(size));
    if (m < 0) m += size;
    return o + static_cast<int64_t>(m);
  };
  const int64_t firstX = first(left, w, flx), firstY = first(top, h, fly);
  Drv()->SetTransform(1, 0, 0, 1);
  for (int64_t y0 = firstY; y0 < bottom; y0 += h) {
    for (int64_t x0 = firstX; x0 < right; x0 += w) {
      f->Draw(0, 0, static_cast<float>(w), static_cast<float>(h), static_cast<float>(x0) + fx,
              static_cast<float>(y0) + fy);
    }
  }
  RecomputeDrawMatrix();
}

int OvalSegmentsOnScreen(float xr, float yr, float cx, float cy, float ix, float iy, float jx, float jy,
                         float tx, float ty, int screenWidth, int screenHeight) {
  const double ax = std::fabs(static_cast<double>(xr)), ay = std::fabs(static_cast<double>(yr));
  // Screen centre and half-extents of the box around the mapped oval.
  const double sx = static_cast<double>(cx) * ix + static_cast<double>(cy) * iy + tx;
  const double sy = static_cast<double>(cx) * jx + static_cast<double>(cy) * jy + ty;
  const double ex = std::fabs(static_cast<double>(ix)) * ax + std::fabs(static_cast<double>(iy)) * ay;
  const double ey = std::fabs(static_cast<double>(jx)) * ax + std::fabs(static_cast<double>(jy)) * ay;
  if (!std::isfinite(ax + ay + sx + sy + ex + ey)) return 0;
  const double vw = std::min<double>(sx + ex, screenWidth) - std::max(sx - ex, 0.0);
  const double vh = std::min<double>(sy + ey, screenHeight) - std::max(sy - ey, 0.0);
  if (vw < 0 || vh < 0) return 0;
  const double n = std::min(ax + ay, vw + vh);
  int segs = n < 12 ? 12 : static_cast<int>(n);
  return segs & ~3;
}

void BlitPixmap(const TPixmapPtr& pixmap, int x, int y) {
  if (!Ctx() || !Drv() || !pixmap) return;
  Drv()->DrawPixmap(pixmap, x, y);
}

TPixmapPtr CapturePixmap(int x, int y, int width, int height) {
  if (!Ctx() || !Drv()) return nullptr;
  return Drv()->GrabPixmap(x, y, width, height);
}

void CaptureToImage(const TImagePtr& image, int x, int y, int frame) {
  if (!Ctx() || !Drv() || !image) return;
  TPixmapPtr p = Drv()->GrabPixmap(x, y, image->width, image->height);
  if (!p) return;
  if (image->flags & IMG_MASKED) {
    int r, g, b;
    GetImageMaskColor(r, g, b);
    p = KeyOutColor(p, r, g, b);
  }
  image->SetPixmap(frame, p);
}
