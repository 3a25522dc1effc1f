// Source fonts rasterised through FreeType.
#include <ormix/graphics/freetypefont.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

#include <ormix/stream/stream.h>

namespace {

// The library is initialised once per process and kept.
FT_Library Library() {
  static FT_Library lib = nullptr;
  static bool tried = false;
  if (!tried) {
    tried = true;
    if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
  }
  return lib;
}

FT_Face Face(const TFreeTypeFont& f) { return static_cast<FT_Face>(f._ft_face); }

void CopyFaceInfo(FT_Face face, TFreeTypeFaceInfo& info) {
  info.num_faces = face->num_faces;
  info.face_index = face->face_index;
  info.face_flags = face->face_flags;
  info.style_flags = face->style_flags;
  info.num_glyphs = face->num_glyphs;
  info.family_name = face->family_name ? face->family_name : "";
  info.style_name = face->style_name ? face->style_name : "";
  info.num_fixed_sizes = face->num_fixed_sizes;
  info.num_charmaps = face->num_charmaps;
  info.bbox_xmin = face->bbox.xMin;
  info.bbox_ymin = face->bbox.yMin;
  info.bbox_xmax = face->bbox.xMax;
  info.bbox_ymax = face->bbox.yMax;
  info.units_per_EM = face->units_per_EM;
  info.ascender = face->ascender;
  info.descender = face->descender;
  info.height = face->height;
  info.max_advance_width = face->max_advance_width;
  info.max_advance_height = face->max_advance_height;
  info.underline_position = face->underline_position;
  info.underline_thickness = face->underline_thickness;
}

}  // namespace

TFreeTypeFont::~TFreeTypeFont() {
  if (_ft_face) FT_Done_Face(Face(*this));
}

std::shared_ptr<TFreeTypeFont> TFreeTypeFont::Load(const Text& source, int size, int style) {
  FT_Library lib = Library();
  if (!lib) return nullptr;
  auto font = std::make_shared<TFreeTypeFont>();
  FT_Face face = nullptr;
  const size_t sep = source.find(u"::");
  if (sep != Text::npos && sep > 0) {
    std::vector<uint8_t> bytes = LoadAllBytes(source);  // throws when the url cannot be opened
    if (bytes.empty()) return nullptr;
    font->_buf.reset(new unsigned char[bytes.size()]);
    std::memcpy(font->_buf.get(), bytes.data(), bytes.size());
    font->_buf_size = bytes.size();
    if (FT_New_Memory_Face(lib, font->_buf.get(), static_cast<FT_Long>(bytes.size()), 0, &face) != 0)
      return nullptr;
  } else {
    const std::string path = ToUtf8(source);
    if (FT_New_Face(lib, path.c_str(), 0, &face) != 0) return nullptr;
  }
  font->_ft_face = face;  // closed by the destructor from here on

  // The largest pixel size not above the request that the face accepts.
  while (size > 0 && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) --size;
  if (size <= 0) return nullptr;
  font->_pixel_size = size;

  CopyFaceInfo(face, font->_face);
  const FT_Size_Metrics& m = face->size->metrics;
  font->_height = static_cast<int>(m.height >> 6);
  font->_ascend = static_cast<int>(m.ascender >> 6);
  font->_descend = static_cast<int>(m.descender >> 6);
  font->_style = style;
  font->_glyphs.assign(static_cast<size_t>(face->num_glyphs > 0 ? face->num_glyphs : 0), nullptr);
  return font;
}

int TFreeTypeFont::CharToGlyph(int charCode) {
  return static_cast<int>(FT_Get_Char_Index(Face(*this), static_cast<FT_ULong>(charCode))) - 1;
}

TGlyphPtr TFreeTypeFont::LoadGlyph(int index) {
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  if (_glyphs[index]) return _glyphs[index];
  auto glyph = std::make_shared<TFreeTypeGlyph>();
  _glyphs[index] = glyph;
  FT_Face face = Face(*this);
  if (FT_Load_Glyph(face, static_cast<FT_UInt>(index + 1), FT_LOAD_RENDER) != 0) return glyph;
  FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bm = slot->bitmap;
  glyph->_x = slot->bitmap_left;
  glyph->_y = _ascend - slot->bitmap_top;
  glyph->_w = static_cast<int>(bm.width);
  glyph->_h = static_cast<int>(bm.rows);
  glyph->_advance = static_cast<float>(slot->advance.x >> 6);
  if (glyph->_w <= 0 || glyph->_h <= 0 || !bm.buffer) return glyph;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) return glyph;

  TPixmapPtr p = TPixmap::Create(glyph->_w, glyph->_h, PIXFMT_A8, 4);
  const int pitch = bm.pitch;
  for (int r = 0; r < glyph->_h; ++r) {
    // A negative pitch means the rows are stored bottom-up.
    const unsigned char* s = pitch >= 0 ? bm.buffer + static_cast<ptrdiff_t>(r) * pitch
                                        : bm.buffer + static_cast<ptrdiff_t>(glyph->_h - 1 - r) * -pitch;
    uint8_t* d = p->PixelPtr(0, r);
    if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
      std::memcpy(d, s, static_cast<size_t>(glyph->_w));
    } else {
      for (int x = 0; x < glyph->_w; ++x) d[x] = (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
  }
  if (_style & FONT_SMOOTH) {
    // A transparent one-pixel border so that filtering does not cut the glyph's edges.
    TPixmapPtr framed = TPixmap::Create(glyph->_w + 2, glyph->_h + 2, PIXFMT_A8, 4);
    framed->ClearPixels(0);
    framed->Paste(*p, 1, 1);
    p = framed;
    glyph->_x -= 1;
    glyph->_y -= 1;
    glyph->_w += 2;
    glyph->_h += 2;
  }
  glyph->_pixmap = p;
  return glyph;
}

TFontPtr TFreeTypeFontLoader::LoadFont(const Text& url, int size, int style) {
  if (url.empty()) return nullptr;
  return TFreeTypeFont::Load(url, size, style);
}
