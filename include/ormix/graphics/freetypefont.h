// Source fonts rasterised through FreeType.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <ormix/graphics/font.h>

// Public fields of the face record, copied when the face is opened.
struct TFreeTypeFaceInfo {
  long num_faces = 0;
  long face_index = 0;
  long face_flags = 0;
  long style_flags = 0;
  long num_glyphs = 0;
  std::string family_name;
  std::string style_name;
  int num_fixed_sizes = 0;
  int num_charmaps = 0;
  long bbox_xmin = 0, bbox_ymin = 0, bbox_xmax = 0, bbox_ymax = 0;
  int units_per_EM = 0;
  int ascender = 0;
  int descender = 0;
  int height = 0;
  int max_advance_width = 0;
  int max_advance_height = 0;
  int underline_position = 0;
  int underline_thickness = 0;
};

class TFreeTypeGlyph : public TGlyph {
 public:
  TPixmapPtr _pixmap;
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;

  TPixmapPtr Pixels() override { return _pixmap; }
  float Advance() override { return _advance; }
  void GetRect(int& x, int& y, int& width, int& height) override {
    x = _x; y = _y; width = _w; height = _h;
  }
};
using TFreeTypeGlyphPtr = std::shared_ptr<TFreeTypeGlyph>;

class TFreeTypeFont : public TFont {
 public:
  ~TFreeTypeFont() override;

  TFreeTypeFaceInfo _face;
  void* _ft_face = nullptr;  // the library's face handle
  int _style = 0;
  int _height = 0;
  int _ascend = 0;
  int _descend = 0;
  std::vector<TFreeTypeGlyphPtr> _glyphs;
  std::unique_ptr<unsigned char[]> _buf;  // font bytes when read from a stream
  size_t _buf_size = 0;
  int _pixel_size = 0;  // the pixel size the face accepted

  int Style() override { return _style; }
  int Height() override { return _height; }
  int CountGlyphs() override { return static_cast<int>(_glyphs.size()); }
  int CharToGlyph(int charCode) override;
  TGlyphPtr LoadGlyph(int index) override;

  // A path or a protocol url ("incbin::..."). Null when the font cannot be opened or
  // no pixel size from size down to 1 is accepted; a protocol url that cannot be
  // opened throws the stream layer's read exception.
  static std::shared_ptr<TFreeTypeFont> Load(const Text& source, int size, int style);
};

class TFreeTypeFontLoader : public TFontLoader {
 public:
  TFontPtr LoadFont(const Text& url, int size, int style) override;
};
