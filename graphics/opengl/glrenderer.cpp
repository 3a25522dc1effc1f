// The OpenGL 2D renderer: fixed-function OpenGL 1.x in immediate mode, image frames as
// power-of-two textures held by the shared context.
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

namespace {

// Renderer state shared by every GL context; reset whenever a context becomes current,
// so the first change after a switch always reaches OpenGL.
struct GLRendererState {
  int activeBlend = 0;
  GLuint boundTexture = 0;
  bool texturing = false;
  GLubyte color[4] = {255, 255, 255, 255};
  float ix = 1, iy = 0, jx = 0, jy = 1;
};

GLRendererState& R() {
  static GLRendererState state;
  return state;
}

void EnableTexture(GLuint name) {
  GLRendererState& r = R();
  if (r.boundTexture != name) {
    glBindTexture(GL_TEXTURE_2D, name);
    r.boundTexture = name;
  }
  if (!r.texturing) {
    glEnable(GL_TEXTURE_2D);
    r.texturing = true;
  }
}

void DisableTexture() {
  GLRendererState& r = R();
  if (r.texturing) {
    glDisable(GL_TEXTURE_2D);
    r.texturing = false;
  }
}

inline void Vertex(float x, float y, float tx, float ty) {
  const GLRendererState& r = R();
  glVertex2f(x * r.ix + y * r.iy + tx, x * r.jx + y * r.jy + ty);
}

int ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

int NextPow2(int v) {
  int p = 1;
  while (p < v) p <<= 1;
  return p;
}

// Allocates the levels of a bound texture: level 0, then every halving down to 1 x 1
// when mipmapped.
void AllocateLevels(int tw, int th, int flags) {
  int level = 0;
  for (;;) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    if (!(flags & IMG_MIPMAPPED) || (tw == 1 && th == 1)) break;
    if (tw > 1) tw /= 2;
    if (th > 1) th /= 2;
    ++level;
  }
}

// Uploads the pixmap (RGBA8888) into the bound texture, halving it for every mip level.
void Upload(TPixmapPtr pixmap, int flags) {
  int level = 0;
  int w = pixmap->width, h = pixmap->height;
  for (;;) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, pixmap->pitch / pixmap->BytesPerPixel());
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                    pixmap->pixels);
    if (!(flags & IMG_MIPMAPPED)) break;
    if (w == 1 && h == 1) break;
    if (w > 1) w /= 2;
    if (h > 1) h /= 2;
    pixmap = ScalePixmap(pixmap, w, h);
    ++level;
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

// A vertically flipped RGBA8888 copy with tightly packed rows.
TPixmapPtr FlippedRGBA(const TPixmapPtr& pixmap) {
  TPixmapPtr rgba = pixmap->format == PIXFMT_RGBA8888 ? pixmap : pixmap->Convert(PIXFMT_RGBA8888);
  return MirrorPixmapY(rgba);
}

}  // namespace

void AdjustTexSize(int& width, int& height) {
  width = NextPow2(width);
  height = NextPow2(height);
  for (;;) {
    GLint w = 0;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 4, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    if (w != 0) return;
    if (width == 1 && height == 1) throw TRuntimeException("Unable to calculate tex size");
    if (width > 1) width /= 2;
    if (height > 1) height /= 2;
  }
}

// ---- TGLImageFrame ------------------------------------------------------------------

TGLImageFrame::~TGLImageFrame() {
  if (seq != 0 && name != 0 && GLContextAlive()) {
    // Whatever context was current comes back afterwards, even one of another renderer.
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_GetCurrentContext();
    SwapSharedContext();
    GLuint n = name;
    glDeleteTextures(1, &n);
    SDL_GL_MakeCurrent(window, context);
  }
  seq = 0;
}

void TGLImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty) {
  EnableTexture(name);
  glBegin(GL_QUADS);
  glTexCoord2f(u0, v0);
  Vertex(x0, y0, tx, ty);
  glTexCoord2f(u1, v0);
  Vertex(x1, y0, tx, ty);
  glTexCoord2f(u1, v1);
  Vertex(x1, y1, tx, ty);
  glTexCoord2f(u0, v1);
  Vertex(x0, y1, tx, ty);
  glEnd();
}

std::shared_ptr<TGLImageFrame> TGLImageFrame::CreateFromPixmap(const TPixmapPtr& source,
                                                               int flags) {
  if (!source || source->width <= 0 || source->height <= 0) return nullptr;
  int tw = source->width, th = source->height;
  AdjustTexSize(tw, th);
  const int w = std::min(source->width, tw);
  const int h = std::min(source->height, th);
  TPixmapPtr pixmap = source;
  if (source->width > w || source->height > h) pixmap = ScalePixmap(source, w, h);

  if (w < tw || h < th) {
    TPixmapPtr padded = TPixmap::Create(tw, th, PIXFMT_RGBA8888, 4);
    padded->ClearPixels(0);
    padded->Paste(*pixmap, 0, 0);
    // Smear the last column and row outwards so that filtering never pulls in
    // the unused part of the texture.
    if (w < tw) padded->Paste(*pixmap->Window(w - 1, 0, 1, h), w, 0);
    if (h < th) padded->Paste(*pixmap->Window(0, h - 1, w, 1), 0, h);
    if (w < tw && h < th) padded->Paste(*pixmap->Window(w - 1, h - 1, 1, 1), w, h);
    pixmap = padded;
  } else if (pixmap->format != PIXFMT_RGBA8888) {
    pixmap = pixmap->Convert(PIXFMT_RGBA8888);
  }

  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const bool mip = (flags & IMG_MIPMAPPED) != 0;
  if (flags & IMG_FILTERED) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mip ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mip ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
  }
  AllocateLevels(tw, th, flags);
  Upload(pixmap, flags);

  auto frame = std::make_shared<TGLImageFrame>();
  frame->name = name;
  frame->u0 = 0;
  frame->v0 = 0;
  frame->u1 = static_cast<float>(w) / static_cast<float>(tw);
  frame->v1 = static_cast<float>(h) / static_cast<float>(th);
  frame->texWidth = tw;
  frame->texHeight = th;
  frame->seq = GraphicsGeneration();
  return frame;
}

// ---- TGLVex2DDriver: graphics-driver side --------------------------------------------

std::vector<TGraphicsMode> TGLVex2DDriver::GraphicsModes() {
  return OpenGLGraphicsDriver()->GraphicsModes();
}

TGraphicsPtr TGLVex2DDriver::AttachGraphics(void* widget, int flags) {
  TGraphicsPtr g = OpenGLGraphicsDriver()->AttachGraphics(widget, flags);
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

TGraphicsPtr TGLVex2DDriver::CreateGraphics(int width, int height, int depth, int hertz,
                                            int flags) {
  TGraphicsPtr g = OpenGLGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

void TGLVex2DDriver::SetGraphics(const TGraphicsPtr& g) {
  auto g2d = std::dynamic_pointer_cast<TVex2DGraphics>(g);
  if (g2d) {
    OpenGLGraphicsDriver()->SetGraphics(g2d->_graphics);
    ResetGLContext(g2d);
    g2d->MakeCurrent();
  } else {
    TVex2DGraphics::ClearCurrent();
    OpenGLGraphicsDriver()->SetGraphics(nullptr);
  }
}

void TGLVex2DDriver::Flip(int sync) { OpenGLGraphicsDriver()->Flip(sync); }

Text TGLVex2DDriver::ToString() { return u"OpenGL"; }

TImageFramePtr TGLVex2DDriver::CreateFrameFromPixmap(const TPixmapPtr& pixmap, int flags) {
  SwapSharedContext();
  std::shared_ptr<TGLImageFrame> frame;
  try {
    frame = TGLImageFrame::CreateFromPixmap(pixmap, flags);
  } catch (...) {
    SwapSharedContext();
    throw;
  }
  SwapSharedContext();
  return frame;
}

void TGLVex2DDriver::ResetGLContext(const TGraphicsPtr& g) {
  int w = 0, h = 0, d = 0, hz = 0, f = 0;
  if (g) g->GetSettings(w, h, d, hz, f);
  GLRendererState& r = R();
  r.activeBlend = 0;
  r.boundTexture = 0;
  r.texturing = false;
  glDisable(GL_TEXTURE_2D);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, w, h, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glViewport(0, 0, w, h);
}

// ---- State ---------------------------------------------------------------------------

void TGLVex2DDriver::SetBlend(int mode) {
  GLRendererState& r = R();
  if (mode == r.activeBlend) return;
  r.activeBlend = mode;
  switch (mode) {
    case BLEND_MASK:
      glDisable(GL_BLEND);
      glEnable(GL_ALPHA_TEST);
      glAlphaFunc(GL_GEQUAL, 0.5f);
      return;
    case BLEND_ALPHA:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      break;
    case BLEND_LIGHT:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE);
      break;
    case BLEND_SHADE:
      glEnable(GL_BLEND);
      glBlendFunc(GL_DST_COLOR, GL_ZERO);
      break;
    default:
      glDisable(GL_BLEND);
      break;
  }
  glDisable(GL_ALPHA_TEST);
}

void TGLVex2DDriver::SetAlpha(float alpha) {
  if (alpha > 1.0f) alpha = 1.0f;
  if (!(alpha >= 0.0f)) alpha = 0.0f;
  GLRendererState& r = R();
  r.color[3] = static_cast<GLubyte>(alpha * 255.0f);
  glColor4ubv(r.color);
}

void TGLVex2DDriver::SetColor(int red, int green, int blue) {
  GLRendererState& r = R();
  r.color[0] = static_cast<GLubyte>(ClampByte(red));
  r.color[1] = static_cast<GLubyte>(ClampByte(green));
  r.color[2] = static_cast<GLubyte>(ClampByte(blue));
  glColor4ubv(r.color);
}

void TGLVex2DDriver::SetClsColor(int red, int green, int blue) {
  glClearColor(ClampByte(red) / 255.0f, ClampByte(green) / 255.0f, ClampByte(blue) / 255.0f,
               1.0f);
}

void TGLVex2DDriver::SetViewport(int x, int y, int width, int height) {
  if (x == 0 && y == 0 && width == ScreenWidth() && height == ScreenHeight()) {
    glDisable(GL_SCISSOR_TEST);
  } else {
    glEnable(GL_SCISSOR_TEST);
    // In 64 bits and clamped: a rectangle near the ends of the int range must not wrap.
    auto clampInt = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    glScissor(x, clampInt(static_cast<int64_t>(ScreenHeight()) - y - height), width, height);
  }
}

void TGLVex2DDriver::SetTransform(float ix, float iy, float jx, float jy) {
  GLRendererState& r = R();
  r.ix = ix;
  r.iy = iy;
  r.jx = jx;
  r.jy = jy;
}

void TGLVex2DDriver::SetLineWidth(float width) { glLineWidth(width); }

void TGLVex2DDriver::Cls() { glClear(GL_COLOR_BUFFER_BIT); }

// ---- Drawing -------------------------------------------------------------------------

void TGLVex2DDriver::Plot(float x, float y) {
  DisableTexture();
  glBegin(GL_POINTS);
  glVertex2f(x + 0.5f, y + 0.5f);
  glEnd();
}

void TGLVex2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  DisableTexture();
  const GLRendererState& r = R();
  glBegin(GL_LINES);
  glVertex2f(x0 * r.ix + y0 * r.iy + tx + 0.5f, x0 * r.jx + y0 * r.jy + ty + 0.5f);
  glVertex2f(x1 * r.ix + y1 * r.iy + tx + 0.5f, x1 * r.jx + y1 * r.jy + ty + 0.5f);
  glEnd();
}

void TGLVex2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  DisableTexture();
  glBegin(GL_QUADS);
  Vertex(x0, y0, tx, ty);
  Vertex(x1, y0, tx, ty);
  Vertex(x1, y1, tx, ty);
  Vertex(x0, y1, tx, ty);
  glEnd();
}

int GLOvalSegments(float x0, float y0, float x1, float y1) {
  const float xr = (x1 - x0) * 0.5f, yr = (y1 - y0) * 0.5f;
  const double n = std::fabs(static_cast<double>(xr)) + std::fabs(static_cast<double>(yr));
  if (!(n < 1 << 30)) return n >= 1 << 30 ? 1 << 30 : 0;
  int segs = static_cast<int>(n);
  if (segs < 12) segs = 12;
  return segs & ~3;
}

void TGLVex2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  DisableTexture();
  const float xr = (x1 - x0) * 0.5f, yr = (y1 - y0) * 0.5f;
  const float cx = x0 + xr, cy = y0 + yr;
  const GLRendererState& r = R();
  // The polygon's y runs the other way (cy - sin * yr): the same extent either way.
  const int segs = OvalSegmentsOnScreen(xr, yr, cx, cy, r.ix, r.iy, r.jx, r.jy, tx, ty, ScreenWidth(), ScreenHeight());
  if (segs == 0) return;
  constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
  glBegin(GL_POLYGON);
  for (int i = 0; i < segs; ++i) {
    const double th = i * 360.0 / segs * kDegToRad;
    Vertex(static_cast<float>(cx + std::cos(th) * xr), static_cast<float>(cy - std::sin(th) * yr),
           tx, ty);
  }
  glEnd();
}

void TGLVex2DDriver::DrawPoly(const std::vector<float>& xy, float handleX, float handleY,
                              float originX, float originY) {
  if (xy.size() < 6 || (xy.size() & 1)) return;
  DisableTexture();
  glBegin(GL_POLYGON);
  for (size_t i = 0; i + 1 < xy.size(); i += 2) {
    Vertex(xy[i] + handleX, xy[i + 1] + handleY, originX, originY);
  }
  glEnd();
}

void TGLVex2DDriver::DrawPixmap(const TPixmapPtr& pixmap, int x, int y) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return;
  const int blend = R().activeBlend;
  DisableTexture();
  SetBlend(BLEND_SOLID);
  TPixmapPtr p = FlippedRGBA(pixmap);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, p->pitch / 4);
  glRasterPos2i(0, 0);
  glBitmap(0, 0, 0, 0, static_cast<GLfloat>(x), static_cast<GLfloat>(-y - p->height), nullptr);
  glDrawPixels(p->width, p->height, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  SetBlend(blend);
}

TPixmapPtr TGLVex2DDriver::GrabPixmap(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const int blend = R().activeBlend;
  SetBlend(BLEND_SOLID);
  TPixmapPtr p = TPixmap::Create(width, height, PIXFMT_RGBA8888, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, p->pitch / 4);
  const int64_t glY = static_cast<int64_t>(ScreenHeight()) - height - y;  // may pass the int range
  glReadPixels(x, static_cast<int>(std::clamp<int64_t>(glY, INT32_MIN, INT32_MAX)), width, height, GL_RGBA, GL_UNSIGNED_BYTE,
               p->pixels);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  TPixmapPtr flipped = MirrorPixmapY(p);
  SetBlend(blend);
  return flipped;
}

TGLVex2DDriver* OpenGLRenderer() {
  static TGLVex2DDriver* renderer = new TGLVex2DDriver;
  return renderer;
}

void InitOpenGLModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitGraphicsModule();
  UseGraphicsDriver(OpenGLGraphicsDriver(), GFX_BACKBUFFER);
  UseGraphicsDriver(OpenGLRenderer(), GFX_BACKBUFFER);
}
