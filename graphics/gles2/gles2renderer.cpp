// The shader renderer: every primitive becomes vertices (window pixels, texture
// coordinates, colour) gathered into one batch (triangles through 16-bit indices, so a
// quad costs four vertices) and sent to GL in one draw call when the texture, the kind of
// primitive or a GL state changes, or before the frame is shown or read. One shader program does everything: the texture times the vertex colour, and a
// discard below an alpha reference for the mask blend mode. Shapes use a 1 x 1 white
// texture so that they batch like images. Only the GLES 2 subset of GL is used.
#include <GLES2/gl2.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>

#include "gles2platform.h"

namespace {

// GLSL shared by GLSL ES 1.00 and desktop GLSL 1.20; each gets its own first lines.
constexpr const char* kVertexShader = R"(
attribute vec2 a_position;
attribute vec2 a_texcoord;
attribute vec4 a_color;
uniform vec2 u_scale;
varying vec2 v_texcoord;
varying vec4 v_color;
void main() {
  v_texcoord = a_texcoord;
  v_color = a_color;
  gl_Position = vec4(a_position * u_scale + vec2(-1.0, 1.0), 0.0, 1.0);
  gl_PointSize = 1.0;
}
)";

constexpr const char* kFragmentShader = R"(
varying vec2 v_texcoord;
varying vec4 v_color;
uniform sampler2D u_texture;
uniform float u_alphaRef;
void main() {
  vec4 c = texture2D(u_texture, v_texcoord) * v_color;
  if (c.a < u_alphaRef) discard;
  gl_FragColor = c;
}
)";

constexpr const char* kESVertexHeader = "#version 100\n";
// Texture coordinates of large textures need more than mediump where it is offered.
constexpr const char* kESFragmentHeader =
    "#version 100\n#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\n"
    "precision mediump float;\n#endif\n";
constexpr const char* kGLHeader = "#version 120\n";

constexpr GLuint kPosition = 0, kTexcoord = 1, kColor = 2;
constexpr GLuint kUnknownTexture = 0xFFFFFFFFu;  // forces the next bind
constexpr size_t kMaxVertices = 65536;            // a batch's vertices, as 16-bit indices reach
constexpr size_t kMaxIndices = 6 * 16384;

struct Vertex {
  float x, y, u, v;
  uint8_t rgba[4];
};

// GL objects every context of one object space shares.
struct Device {
  int space = 0;
  bool broken = false;  // the program did not build: nothing is drawn
  GLuint program = 0, buffer = 0, indexBuffer = 0, white = 0, scratch = 0;
  GLint uScale = -1, uAlphaRef = -1, uTexture = -1;
};

// Renderer state shared by every context; reset whenever a context becomes current.
struct RendererState {
  int activeBlend = 0;
  GLuint boundTexture = kUnknownTexture;
  uint8_t color[4] = {255, 255, 255, 255};
  float ix = 1, iy = 0, jx = 0, jy = 1;
  float lineWidth = 1;
  int width = 0, height = 0;
  std::vector<Vertex> batch;
  std::vector<uint16_t> indices;  // of the triangles in the batch
  std::vector<float> corners;     // an oval's or polygon's corners in window pixels
  GLuint batchTexture = 0;
  GLenum batchMode = GL_TRIANGLES;
  Device device;
  uint64_t drawCalls = 0;
  GLint maxTextureSize = 0;
};

RendererState& R() {
  static RendererState state;
  return state;
}

int ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

int NextPow2(int v) {
  int p = 1;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

GLuint CompileShader(GLenum type, const char* header, const char* body, std::string& log) {
  GLuint shader = glCreateShader(type);
  const char* sources[2] = {header, body};
  glShaderSource(shader, 2, sources, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char text[1024] = {0};
    glGetShaderInfoLog(shader, sizeof text - 1, nullptr, text);
    log += text;
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

GLuint MakeTexture(GLint filter) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  R().boundTexture = kUnknownTexture;
  return name;
}

// Builds the program, the vertex buffer and the two utility textures in the current
// context's object space.
void MakeDevice(Device& d, int space) {
  d = Device{};
  d.space = space;
  const bool es = GLES2ContextIsES();
  std::string log;
  GLuint vs = CompileShader(GL_VERTEX_SHADER, es ? kESVertexHeader : kGLHeader, kVertexShader, log);
  GLuint fs = CompileShader(GL_FRAGMENT_SHADER, es ? kESFragmentHeader : kGLHeader, kFragmentShader, log);
  if (vs && fs) {
    d.program = glCreateProgram();
    glAttachShader(d.program, vs);
    glAttachShader(d.program, fs);
    glBindAttribLocation(d.program, kPosition, "a_position");
    glBindAttribLocation(d.program, kTexcoord, "a_texcoord");
    glBindAttribLocation(d.program, kColor, "a_color");
    glLinkProgram(d.program);
    GLint ok = 0;
    glGetProgramiv(d.program, GL_LINK_STATUS, &ok);
    if (!ok) {
      char text[1024] = {0};
      glGetProgramInfoLog(d.program, sizeof text - 1, nullptr, text);
      log += text;
      glDeleteProgram(d.program);
      d.program = 0;
    }
  }
  if (vs) glDeleteShader(vs);
  if (fs) glDeleteShader(fs);
  if (!d.program) {
    std::fprintf(stderr, "GLES2 renderer: the shader program does not build: %s\n", log.c_str());
    d.broken = true;
    return;
  }
  d.uScale = glGetUniformLocation(d.program, "u_scale");
  d.uAlphaRef = glGetUniformLocation(d.program, "u_alphaRef");
  d.uTexture = glGetUniformLocation(d.program, "u_texture");
  glGenBuffers(1, &d.buffer);
  glGenBuffers(1, &d.indexBuffer);
  d.white = MakeTexture(GL_NEAREST);
  const uint8_t white[4] = {255, 255, 255, 255};
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  d.scratch = MakeTexture(GL_NEAREST);
}

void Bind(GLuint name) {
  RendererState& r = R();
  if (r.boundTexture != name) {
    glBindTexture(GL_TEXTURE_2D, name);
    r.boundTexture = name;
  }
}

// Room in the batch for nv more vertices (and ni more indices of triangles) of this
// texture and primitive, sending the batch first when it is of another texture or
// primitive or has no room left. base is the index of the first new vertex.
struct Room {
  Vertex* v;
  uint16_t* i;
  uint16_t base;
};

Room Reserve(GLuint texture, GLenum mode, size_t nv, size_t ni = 0) {
  RendererState& r = R();
  if (texture != r.batchTexture || mode != r.batchMode || r.batch.size() + nv > kMaxVertices ||
      r.indices.size() + ni > kMaxIndices) {
    GLES2Renderer()->FlushBatch();
    r.batchTexture = texture;
    r.batchMode = mode;
  }
  const size_t vertices = r.batch.size(), indices = r.indices.size();
  r.batch.resize(vertices + nv);
  r.indices.resize(indices + ni);
  return {r.batch.data() + vertices, r.indices.data() + indices, static_cast<uint16_t>(vertices)};
}

inline void Put(Vertex& v, float x, float y, float u, float t) {
  const RendererState& r = R();
  v.x = x;
  v.y = y;
  v.u = u;
  v.v = t;
  std::memcpy(v.rgba, r.color, 4);
}

// A relative point mapped through the drawing matrix and offset by the drawing point.
inline float MapX(float x, float y, float tx) {
  const RendererState& r = R();
  return x * r.ix + y * r.iy + tx;
}
inline float MapY(float x, float y, float ty) {
  const RendererState& r = R();
  return x * r.jx + y * r.jy + ty;
}

// A quad through four window points with texture coordinates, as two triangles.
void Quad(GLuint texture, const float (&p)[8], float u0, float v0, float u1, float v1) {
  Room room = Reserve(texture, GL_TRIANGLES, 4, 6);
  Put(room.v[0], p[0], p[1], u0, v0);
  Put(room.v[1], p[2], p[3], u1, v0);
  Put(room.v[2], p[4], p[5], u1, v1);
  Put(room.v[3], p[6], p[7], u0, v1);
  const uint16_t b = room.base;
  const uint16_t quad[6] = {b, static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 2),
                            b, static_cast<uint16_t>(b + 2), static_cast<uint16_t>(b + 3)};
  std::memcpy(room.i, quad, sizeof quad);
}

// A convex polygon through the window points in R().corners, as the triangles of a fan
// from the first; a polygon of more corners than a batch holds goes in several fans.
void Fan() {
  RendererState& r = R();
  const float* xy = r.corners.data();
  const size_t n = r.corners.size() / 2;
  constexpr size_t kMost = 4096;
  for (size_t start = 1; start + 1 < n;) {
    const size_t count = std::min(n - start, kMost);  // corners after the first in this fan
    if (count < 2) break;
    Room room = Reserve(r.device.white, GL_TRIANGLES, count + 1, (count - 1) * 3);
    Put(room.v[0], xy[0], xy[1], 0.5f, 0.5f);
    for (size_t k = 0; k < count; ++k) Put(room.v[k + 1], xy[2 * (start + k)], xy[2 * (start + k) + 1], 0.5f, 0.5f);
    uint16_t* i = room.i;
    for (size_t k = 1; k < count; ++k) {
      *i++ = room.base;
      *i++ = static_cast<uint16_t>(room.base + k);
      *i++ = static_cast<uint16_t>(room.base + k + 1);
    }
    start += count - 1;  // the next fan starts at this one's last corner
  }
}

// Pixel rows of an RGBA8888 pixmap without padding between them: the pixmap's own memory
// when it has none, else a copy in tmp.
const void* PackedRows(const TPixmap& p, std::vector<uint8_t>& tmp) {
  const int row = p.width * 4;
  if (p.pitch == row) return p.pixels;
  tmp.resize(static_cast<size_t>(row) * static_cast<size_t>(p.height));
  for (int y = 0; y < p.height; ++y) {
    std::memcpy(tmp.data() + static_cast<size_t>(y) * row, p.pixels + static_cast<size_t>(y) * p.pitch, row);
  }
  return tmp.data();
}

TPixmapPtr AsRGBA(const TPixmapPtr& p) { return p->format == PIXFMT_RGBA8888 ? p : p->Convert(PIXFMT_RGBA8888); }

}  // namespace

void GLES2TexSize(int& width, int& height) {
  RendererState& r = R();
  if (r.maxTextureSize <= 0) {
    TGLES2ContextScope scope;
    if (scope.ok()) glGetIntegerv(GL_MAX_TEXTURE_SIZE, &r.maxTextureSize);
  }
  const int max = r.maxTextureSize > 0 ? r.maxTextureSize : 2048;
  width = NextPow2(width);
  height = NextPow2(height);
  while (width > max || height > max) {
    if (width == 1 && height == 1) throw TRuntimeException("Unable to calculate tex size");
    if (width > 1) width /= 2;
    if (height > 1) height /= 2;
  }
}

// ---- TGLES2ImageFrame ----------------------------------------------------------------

TGLES2ImageFrame::~TGLES2ImageFrame() {
  if (seq != 0 && name != 0 && space == GLES2ObjectSpace()) {
    RendererState& r = R();
    // Vertices still waiting for this texture are drawn first.
    if (r.batchTexture == name && !r.batch.empty()) GLES2Renderer()->FlushBatch();
    TGLES2ContextScope scope;
    if (scope.ok()) {
      GLuint n = name;
      glDeleteTextures(1, &n);
      r.boundTexture = kUnknownTexture;
      if (r.batchTexture == name) r.batchTexture = 0;
    }
  }
  seq = 0;
}

void TGLES2ImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty) {
  const float p[8] = {MapX(x0, y0, tx), MapY(x0, y0, ty), MapX(x1, y0, tx), MapY(x1, y0, ty),
                      MapX(x1, y1, tx), MapY(x1, y1, ty), MapX(x0, y1, tx), MapY(x0, y1, ty)};
  Quad(name, p, u0, v0, u1, v1);
}

std::shared_ptr<TGLES2ImageFrame> TGLES2ImageFrame::CreateFromPixmap(const TPixmapPtr& source, int flags) {
  if (!source || source->width <= 0 || source->height <= 0) return nullptr;
  TGLES2ContextScope scope;
  if (!scope.ok()) return nullptr;
  int tw = source->width, th = source->height;
  GLES2TexSize(tw, th);
  const int w = std::min(source->width, tw);
  const int h = std::min(source->height, th);
  TPixmapPtr pixmap = source;
  if (source->width > w || source->height > h) pixmap = ScalePixmap(source, w, h);

  if (w < tw || h < th) {
    TPixmapPtr padded = TPixmap::Create(tw, th, PIXFMT_RGBA8888, 4);
    padded->ClearPixels(0);
    padded->Paste(*pixmap, 0, 0);
    // The last column and row are repeated outwards, so filtering never pulls in the
    // unused part of the texture.
    if (w < tw) padded->Paste(*pixmap->Window(w - 1, 0, 1, h), w, 0);
    if (h < th) padded->Paste(*pixmap->Window(0, h - 1, w, 1), 0, h);
    if (w < tw && h < th) padded->Paste(*pixmap->Window(w - 1, h - 1, 1, 1), w, h);
    pixmap = padded;
  } else {
    pixmap = AsRGBA(pixmap);
  }

  const bool mip = (flags & IMG_MIPMAPPED) != 0;
  const bool filtered = (flags & IMG_FILTERED) != 0;
  GLuint name = MakeTexture(filtered ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  filtered ? (mip ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR)
                           : (mip ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  // Every level from the one above, halved, down to 1 x 1 when mipmapped.
  std::vector<uint8_t> tmp;
  int level = 0, lw = tw, lh = th;
  for (;;) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, lw, lh, 0, GL_RGBA, GL_UNSIGNED_BYTE, PackedRows(*pixmap, tmp));
    if (!mip || (lw == 1 && lh == 1)) break;
    if (lw > 1) lw /= 2;
    if (lh > 1) lh /= 2;
    pixmap = AsRGBA(ScalePixmap(pixmap, lw, lh));
    ++level;
  }
  // Another context draws with it next: make the upload visible there.
  glFlush();

  auto frame = std::make_shared<TGLES2ImageFrame>();
  frame->name = name;
  frame->u1 = static_cast<float>(w) / static_cast<float>(tw);
  frame->v1 = static_cast<float>(h) / static_cast<float>(th);
  frame->texWidth = tw;
  frame->texHeight = th;
  frame->seq = GraphicsGeneration();
  frame->space = GLES2ObjectSpace();
  return frame;
}

// ---- TGLES2Vex2DDriver: graphics-driver side -----------------------------------------

std::vector<TGraphicsMode> TGLES2Vex2DDriver::GraphicsModes() { return GLES2GraphicsDriver()->GraphicsModes(); }

TGraphicsPtr TGLES2Vex2DDriver::AttachGraphics(void* widget, int flags) {
  TGraphicsPtr g = GLES2GraphicsDriver()->AttachGraphics(widget, flags);
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

TGraphicsPtr TGLES2Vex2DDriver::CreateGraphics(int width, int height, int depth, int hertz, int flags) {
  TGraphicsPtr g = GLES2GraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
  return g ? TVex2DGraphics::Create(g, this) : nullptr;
}

void TGLES2Vex2DDriver::SetGraphics(const TGraphicsPtr& g) {
  FlushBatch();  // into the context that was current
  auto g2d = std::dynamic_pointer_cast<TVex2DGraphics>(g);
  if (g2d) {
    GLES2GraphicsDriver()->SetGraphics(g2d->_graphics);
    ResetContext(g2d);
    g2d->MakeCurrent();
  } else {
    TVex2DGraphics::ClearCurrent();
    GLES2GraphicsDriver()->SetGraphics(nullptr);
  }
}

void TGLES2Vex2DDriver::Flip(int sync) {
  FlushBatch();
  GLES2GraphicsDriver()->Flip(sync);
}

Text TGLES2Vex2DDriver::ToString() { return u"GLES2"; }

TImageFramePtr TGLES2Vex2DDriver::CreateFrameFromPixmap(const TPixmapPtr& pixmap, int flags) {
  return TGLES2ImageFrame::CreateFromPixmap(pixmap, flags);
}

void TGLES2Vex2DDriver::ResetContext(const TGraphicsPtr& g) {
  RendererState& r = R();
  r.batch.clear();
  r.batch.reserve(kMaxVertices);
  r.indices.clear();
  r.indices.reserve(kMaxIndices);
  r.activeBlend = 0;
  r.boundTexture = kUnknownTexture;
  int w = 0, h = 0, d = 0, hz = 0, f = 0;
  if (g) g->GetSettings(w, h, d, hz, f);
  r.width = w;
  r.height = h;
  if (!GLES2EnsureContext()) return;
  Device& dev = r.device;
  const int space = GLES2ObjectSpace();
  if (dev.space != space) MakeDevice(dev, space);
  r.batchTexture = dev.white;
  r.batchMode = GL_TRIANGLES;
  if (dev.broken) return;
  glUseProgram(dev.program);
  glBindBuffer(GL_ARRAY_BUFFER, dev.buffer);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, dev.indexBuffer);
  glEnableVertexAttribArray(kPosition);
  glEnableVertexAttribArray(kTexcoord);
  glEnableVertexAttribArray(kColor);
  glVertexAttribPointer(kPosition, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, x)));
  glVertexAttribPointer(kTexcoord, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, u)));
  glVertexAttribPointer(kColor, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, rgba)));
  glUniform2f(dev.uScale, w > 0 ? 2.0f / static_cast<float>(w) : 0.0f, h > 0 ? -2.0f / static_cast<float>(h) : 0.0f);
  glUniform1i(dev.uTexture, 0);
  glUniform1f(dev.uAlphaRef, -1.0f);
  glActiveTexture(GL_TEXTURE0);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glViewport(0, 0, w, h);
}

void TGLES2Vex2DDriver::FlushBatch() {
  RendererState& r = R();
  if (r.batch.empty()) return;
  if (!r.device.broken && r.device.program && GLES2EnsureContext()) {
    Bind(r.batchTexture);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(r.batch.size() * sizeof(Vertex)), r.batch.data(),
                 GL_STREAM_DRAW);
    if (r.batchMode == GL_TRIANGLES) {
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(r.indices.size() * sizeof(uint16_t)),
                   r.indices.data(), GL_STREAM_DRAW);
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(r.indices.size()), GL_UNSIGNED_SHORT, nullptr);
    } else {
      glDrawArrays(r.batchMode, 0, static_cast<GLsizei>(r.batch.size()));
    }
    ++r.drawCalls;
  }
  r.batch.clear();
  r.indices.clear();
}

uint64_t TGLES2Vex2DDriver::DrawCalls() const { return R().drawCalls; }

// ---- State ---------------------------------------------------------------------------

void TGLES2Vex2DDriver::SetBlend(int mode) {
  RendererState& r = R();
  if (mode == r.activeBlend) return;
  FlushBatch();
  r.activeBlend = mode;
  float alphaRef = -1.0f;
  switch (mode) {
    case BLEND_MASK:
      glDisable(GL_BLEND);
      alphaRef = 0.5f;  // pixels with alpha below one half are discarded
      break;
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
  if (r.device.program) glUniform1f(r.device.uAlphaRef, alphaRef);
}

void TGLES2Vex2DDriver::SetAlpha(float alpha) {
  if (alpha > 1.0f) alpha = 1.0f;
  if (!(alpha >= 0.0f)) alpha = 0.0f;
  R().color[3] = static_cast<uint8_t>(alpha * 255.0f);
}

void TGLES2Vex2DDriver::SetColor(int red, int green, int blue) {
  RendererState& r = R();
  r.color[0] = static_cast<uint8_t>(ClampByte(red));
  r.color[1] = static_cast<uint8_t>(ClampByte(green));
  r.color[2] = static_cast<uint8_t>(ClampByte(blue));
}

void TGLES2Vex2DDriver::SetClsColor(int red, int green, int blue) {
  glClearColor(ClampByte(red) / 255.0f, ClampByte(green) / 255.0f, ClampByte(blue) / 255.0f, 1.0f);
}

void TGLES2Vex2DDriver::SetViewport(int x, int y, int width, int height) {
  FlushBatch();
  if (x == 0 && y == 0 && width == ScreenWidth() && height == ScreenHeight()) {
    glDisable(GL_SCISSOR_TEST);
  } else {
    glEnable(GL_SCISSOR_TEST);
    // In 64 bits and clamped: a rectangle near the ends of the int range must not wrap.
    const int64_t glY = static_cast<int64_t>(ScreenHeight()) - y - height;
    glScissor(x, static_cast<int>(std::clamp<int64_t>(glY, INT32_MIN, INT32_MAX)), std::max(width, 0),
              std::max(height, 0));
  }
}

void TGLES2Vex2DDriver::SetTransform(float ix, float iy, float jx, float jy) {
  RendererState& r = R();
  r.ix = ix;
  r.iy = iy;
  r.jx = jx;
  r.jy = jy;
}

void TGLES2Vex2DDriver::SetLineWidth(float width) { R().lineWidth = width; }

void TGLES2Vex2DDriver::Cls() {
  FlushBatch();
  glClear(GL_COLOR_BUFFER_BIT);
}

// ---- Drawing -------------------------------------------------------------------------

void TGLES2Vex2DDriver::Plot(float x, float y) {
  Room room = Reserve(R().device.white, GL_POINTS, 1);
  Put(room.v[0], x + 0.5f, y + 0.5f, 0.5f, 0.5f);
}

void TGLES2Vex2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  const float ax = MapX(x0, y0, tx) + 0.5f, ay = MapY(x0, y0, ty) + 0.5f;
  const float bx = MapX(x1, y1, tx) + 0.5f, by = MapY(x1, y1, ty) + 0.5f;
  // Lines are as wide as GL draws its aliased lines: the width rounded, at least 1.
  const float lw = R().lineWidth;
  const float width = lw >= 1.5f ? std::round(std::min(lw, 255.0f)) : 1.0f;
  if (width == 1.0f) {
    Room room = Reserve(R().device.white, GL_LINES, 2);
    Put(room.v[0], ax, ay, 0.5f, 0.5f);
    Put(room.v[1], bx, by, 0.5f, 0.5f);
    return;
  }
  // A wide line is a quad stretched across its minor axis (not every GLES 2 draws wide
  // lines: a web page does not). Its ends slide half a pixel back along the line, so that
  // it covers the pixels a thin line would: from the first one up to the last, left out.
  const float h = width * 0.5f;
  const float dx = bx - ax, dy = by - ay;
  float p[8];
  if (std::fabs(dx) >= std::fabs(dy)) {
    const float s = dx >= 0 ? 0.5f : -0.5f, t = dx != 0 ? s * dy / dx : 0.0f;
    const float q[8] = {ax - s, ay - t - h, bx - s, by - t - h, bx - s, by - t + h, ax - s, ay - t + h};
    std::copy(q, q + 8, p);
  } else {
    const float s = dy >= 0 ? 0.5f : -0.5f, t = s * dx / dy;
    const float q[8] = {ax - t - h, ay - s, bx - t - h, by - s, bx - t + h, by - s, ax - t + h, ay - s};
    std::copy(q, q + 8, p);
  }
  Quad(R().device.white, p, 0.5f, 0.5f, 0.5f, 0.5f);
}

void TGLES2Vex2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  const float p[8] = {MapX(x0, y0, tx), MapY(x0, y0, ty), MapX(x1, y0, tx), MapY(x1, y0, ty),
                      MapX(x1, y1, tx), MapY(x1, y1, ty), MapX(x0, y1, tx), MapY(x0, y1, ty)};
  Quad(R().device.white, p, 0.5f, 0.5f, 0.5f, 0.5f);
}

void TGLES2Vex2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  const float xr = (x1 - x0) * 0.5f, yr = (y1 - y0) * 0.5f;
  const float cx = x0 + xr, cy = y0 + yr;
  RendererState& r = R();
  const int segs = OvalSegmentsOnScreen(xr, yr, cx, cy, r.ix, r.iy, r.jx, r.jy, tx, ty, ScreenWidth(), ScreenHeight());
  if (segs < 3) return;
  constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
  r.corners.clear();
  for (int i = 0; i < segs; ++i) {
    const double th = i * 360.0 / segs * kDegToRad;
    const float px = static_cast<float>(cx + std::cos(th) * xr), py = static_cast<float>(cy - std::sin(th) * yr);
    r.corners.push_back(MapX(px, py, tx));
    r.corners.push_back(MapY(px, py, ty));
  }
  Fan();
}

void TGLES2Vex2DDriver::DrawPoly(const std::vector<float>& xy, float handleX, float handleY, float originX,
                                 float originY) {
  if (xy.size() < 6 || (xy.size() & 1)) return;
  RendererState& r = R();
  r.corners.clear();
  for (size_t i = 0; i + 1 < xy.size(); i += 2) {
    const float px = xy[i] + handleX, py = xy[i + 1] + handleY;
    r.corners.push_back(MapX(px, py, originX));
    r.corners.push_back(MapY(px, py, originY));
  }
  Fan();
}

void TGLES2Vex2DDriver::DrawPixmap(const TPixmapPtr& pixmap, int x, int y) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return;
  RendererState& r = R();
  if (r.device.broken || !r.device.program) return;
  const int blend = r.activeBlend;
  FlushBatch();
  SetBlend(BLEND_SOLID);
  // The pixels as a texture of their own size, drawn one texel a pixel, untinted.
  TPixmapPtr p = AsRGBA(pixmap);
  std::vector<uint8_t> tmp;
  Bind(r.device.scratch);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, p->width, p->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, PackedRows(*p, tmp));
  uint8_t saved[4];
  std::memcpy(saved, r.color, 4);
  std::memset(r.color, 255, 4);
  const float x0 = static_cast<float>(x), y0 = static_cast<float>(y);
  const float x1 = x0 + static_cast<float>(p->width), y1 = y0 + static_cast<float>(p->height);
  const float q[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  Quad(r.device.scratch, q, 0, 0, 1, 1);
  FlushBatch();
  std::memcpy(r.color, saved, 4);
  SetBlend(blend);
}

TPixmapPtr TGLES2Vex2DDriver::GrabPixmap(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  FlushBatch();
  TPixmapPtr p = TPixmap::Create(width, height, PIXFMT_RGBA8888, 4);
  p->ClearPixels(0);
  const int64_t glY = static_cast<int64_t>(ScreenHeight()) - height - y;  // may pass the int range
  if (GLES2EnsureContext()) {
    glReadPixels(x, static_cast<int>(std::clamp<int64_t>(glY, INT32_MIN, INT32_MAX)), width, height, GL_RGBA,
                 GL_UNSIGNED_BYTE, p->pixels);
  }
  return MirrorPixmapY(p);
}

TGLES2Vex2DDriver* GLES2Renderer() {
  static TGLES2Vex2DDriver* renderer = new TGLES2Vex2DDriver;
  return renderer;
}

void InitGLES2Module() {
  static bool done = false;
  if (done) return;
  done = true;
  InitGraphicsModule();
}
