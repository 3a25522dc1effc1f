// Stand-alone helpers for code that draws with raw OpenGL into a context: a pixel
// projection bracket, rectangles, pixmaps, textures from pixmaps and text in a built-in
// 8 x 16 font.
#include <GL/gl.h>

#include "glrenderer.h"
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/incbin.h>

void OrmixEmbed_gldrawtextfont();

namespace {

GLuint g_textTexture = 0;

// The font bitmap expanded to a 1024 x 16 RGBA texture (set bits opaque white).
GLuint TextTexture() {
  if (g_textTexture) return g_textTexture;
  OrmixEmbed_gldrawtextfont();
  const unsigned char* data = nullptr;
  size_t size = 0;
  if (!FindIncbin("gldrawtextfont.bin", &data, &size) || size < 16 * 96) return 0;
  TPixmapPtr p = TPixmap::Create(1024, 16, PIXFMT_RGBA8888, 4);
  p->ClearPixels(0);
  for (int row = 0; row < 16; ++row) {
    for (int j = 0; j < 96; ++j) {
      const unsigned char bits = data[row * 96 + j];
      for (int x = 0; x < 8; ++x) {
        if (bits & (1u << x)) p->WritePixel(j * 8 + x, row, 0xFFFFFFFFu);
      }
    }
  }
  SwapSharedContext();
  g_textTexture = GLTexFromPixmap(p, true);
  SwapSharedContext();
  return g_textTexture;
}

}  // namespace

void GLBegin2D() {
  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT | GL_COLOR_BUFFER_BIT);
  GLint vp[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, vp);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, vp[2], vp[3], 0, -1, 1);
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_DEPTH_TEST);
}

void GLEnd2D() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}

void GLDrawRect(int x, int y, int width, int height) {
  GLBegin2D();
  glDisable(GL_TEXTURE_2D);
  glBegin(GL_QUADS);
  glVertex2i(x, y);
  glVertex2i(x + width, y);
  glVertex2i(x + width, y + height);
  glVertex2i(x, y + height);
  glEnd();
  GLEnd2D();
}

void GLDrawPixmap(const TPixmapPtr& pixmap, int x, int y) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return;
  GLBegin2D();
  glDisable(GL_TEXTURE_2D);
  TPixmapPtr rgba =
      pixmap->format == PIXFMT_RGBA8888 ? pixmap : pixmap->Convert(PIXFMT_RGBA8888);
  TPixmapPtr p = MirrorPixmapY(rgba);
  GLint rowLength = 0;
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, p->pitch / 4);
  glRasterPos2i(0, 0);
  glBitmap(0, 0, 0, 0, static_cast<GLfloat>(x), static_cast<GLfloat>(-y - p->height), nullptr);
  glDrawPixels(p->width, p->height, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
  GLEnd2D();
}

uint32_t GLTexFromPixmap(const TPixmapPtr& pixmap, bool mipmapped) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return 0;
  TPixmapPtr p = pixmap->format == PIXFMT_RGBA8888 ? pixmap : pixmap->Convert(PIXFMT_RGBA8888);
  int tw = p->width, th = p->height;
  AdjustTexSize(tw, th);
  if (tw != p->width || th != p->height) p = ScalePixmap(p, tw, th);

  GLint oldTexture = 0, oldRowLength = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &oldTexture);
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &oldRowLength);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  int level = 0;
  for (;;) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, p->pitch / 4);
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
    if (!mipmapped || (tw == 1 && th == 1)) break;
    if (tw > 1) tw /= 2;
    if (th > 1) th /= 2;
    p = ScalePixmap(p, tw, th);
    ++level;
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, oldRowLength);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(oldTexture));
  return name;
}

void GLDrawText(const Text& text, int x, int y) {
  const GLuint tex = TextTexture();
  if (!tex) return;
  GLBegin2D();
  glBindTexture(GL_TEXTURE_2D, tex);
  glEnable(GL_TEXTURE_2D);
  // Clear texels are transparent: blend them away.
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBegin(GL_QUADS);
  for (char16_t c : text) {
    if (c >= 32 && c <= 127) {
      const float u = static_cast<float>(c - 32) * 0.0078125f;
      glTexCoord2f(u, 0);
      glVertex2i(x, y);
      glTexCoord2f(u + 0.0078125f, 0);
      glVertex2i(x + 8, y);
      glTexCoord2f(u + 0.0078125f, 1);
      glVertex2i(x + 8, y + 16);
      glTexCoord2f(u, 1);
      glVertex2i(x, y + 16);
    }
    x += 8;
  }
  glEnd();
  GLEnd2D();
}
