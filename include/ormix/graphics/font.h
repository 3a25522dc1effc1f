// Fonts: source fonts (glyph bitmaps from a back end such as FreeType) and image
// fonts, which cache glyph images made from a source font or from the built-in
// 8 x 16 bitmap font.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/text.h>

constexpr int FONT_SMOOTH = 4;  // anti-aliased edges kept, glyph images filtered and mipmapped

class TGlyph {
 public:
  virtual ~TGlyph() = default;
  virtual TPixmapPtr Pixels() = 0;  // null for a glyph without pixels (a space)
  virtual float Advance() = 0;      // pixels to move the pen
  // Offset of the bitmap from the pen (x right, y down from the top of the line) and size.
  virtual void GetRect(int& x, int& y, int& width, int& height) = 0;
};
using TGlyphPtr = std::shared_ptr<TGlyph>;

class TFont {
 public:
  virtual ~TFont() = default;
  virtual int Style() = 0;
  virtual int Height() = 0;  // line height in pixels
  virtual int CountGlyphs() = 0;
  virtual int CharToGlyph(int charCode) = 0;  // glyph index or -1
  virtual TGlyphPtr LoadGlyph(int index) = 0;  // null for an index out of range
};
using TFontPtr = std::shared_ptr<TFont>;

class TFontLoader;
using TFontLoaderPtr = std::shared_ptr<TFontLoader>;

class TFontLoader {
 public:
  virtual ~TFontLoader() = default;
  virtual TFontPtr LoadFont(const Text& url, int size, int style) = 0;

  TFontLoaderPtr _succ;
  // Links the loader at the front of the chain unless it is already linked.
  static void Add(const TFontLoaderPtr& loader);
  // Asks each loader from the front; the first non-null font wins.
  static TFontPtr Load(const Text& url, int size, int style);
};

class TImageGlyph : public TGlyph {
 public:
  TImagePtr _image;  // one frame, or null for an empty glyph
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;

  TPixmapPtr Pixels() override;  // the image's pixmap (frame 0), or null
  float Advance() override { return _advance; }
  void GetRect(int& x, int& y, int& width, int& height) override {
    x = _x; y = _y; width = _w; height = _h;
  }
};
using TImageGlyphPtr = std::shared_ptr<TImageGlyph>;

class TImageFont;
using TImageFontPtr = std::shared_ptr<TImageFont>;

class TImageFont {
 public:
  TFontPtr _src_font;                   // null for the built-in font
  std::vector<TImageGlyphPtr> _glyphs;  // one slot per glyph index, filled on demand
  int _imageFlags = 0;                  // flags of glyph images

  int Style();
  int Height();
  int CountGlyphs() { return static_cast<int>(_glyphs.size()); }
  int CharToGlyph(int charCode);
  // The cached glyph for index (made on first use); null for an index out of range.
  TImageGlyphPtr LoadGlyph(int index);
  // Draws text with the pen at (x, y); (ix, jx) is the direction of the text and
  // (iy, jy) the direction down the line (the drawing matrix's columns).
  void Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy);
  // Width in pixels: the advances summed and truncated after each character.
  int MeasureWidth(const Text& text);

  // Null when no font loader accepts the url at that size.
  static TImageFontPtr Load(const Text& url, int size, int style);
  // The built-in 8 x 16 font from the embedded "vandafont.bin".
  static TImageFontPtr CreateDefault();
};

TImageFontPtr LoadTextFont(const Text& url, int size, int style);
TImageFontPtr LoadTextFont(const std::string& url, int size, int style);
TImageFontPtr LoadTextFont(const char* url, int size, int style);

// Width and height of text in the current 2D context's font (the built-in font when
// there is no context): advances summed, truncated after each character; the font's
// line height whatever the text.
int MeasureTextWidth(const Text& text);
int MeasureTextHeight(const Text& text);

// Registers the embedded built-in font and the FreeType font loader (once).
void InitFontModule();
