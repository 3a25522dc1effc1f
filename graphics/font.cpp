// Image fonts: glyph images cached from a source font or from the built-in 8 x 16 font.
#include <ormix/graphics/font.h>

#include <cstring>

#include <ormix/graphics/draw2d.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/registry.h>
#include <ormix/stream/stream.h>

namespace {

// Newest first: a loader added later is asked before the built-in ones.
TRegistry<TFontLoaderPtr, TRegistryOrder::NewestFirst>& FontLoaders() {
  static auto* loaders = new TRegistry<TFontLoaderPtr, TRegistryOrder::NewestFirst>;
  return *loaders;
}

constexpr int kBuiltinGlyphs = 96;
constexpr int kBuiltinFirstCode = 32;

}  // namespace

// ---- font loader chain ----

void TFontLoader::Add(const TFontLoaderPtr& loader) { FontLoaders().Add(loader); }

TFontPtr TFontLoader::Load(const Text& url, int size, int style) {
  InitFontModule();
  return FontLoaders().FirstAnswer([&](const TFontLoaderPtr& l) { return l->LoadFont(url, size, style); });
}

// ---- glyphs and image fonts ----

TPixmapPtr TImageGlyph::Pixels() {
  if (!_image || _image->FrameCount() < 1) return nullptr;
  return _image->pixmaps[0];
}

int TImageFont::Style() { return _src_font ? _src_font->Style() : 0; }

int TImageFont::Height() { return _src_font ? _src_font->Height() : 16; }

int TImageFont::CharToGlyph(int charCode) {
  if (_src_font) return _src_font->CharToGlyph(charCode);
  if (charCode >= kBuiltinFirstCode && charCode < kBuiltinFirstCode + kBuiltinGlyphs)
    return charCode - kBuiltinFirstCode;
  return -1;
}

TImageGlyphPtr TImageFont::LoadGlyph(int index) {
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  if (_glyphs[index]) return _glyphs[index];
  auto glyph = std::make_shared<TImageGlyph>();
  if (_src_font) {
    if (TGlyphPtr g = _src_font->LoadGlyph(index)) {
      glyph->_advance = g->Advance();
      g->GetRect(glyph->_x, glyph->_y, glyph->_w, glyph->_h);
      if (TPixmapPtr p = g->Pixels()) glyph->_image = TImage::Load(p->Copy(), _imageFlags, 0, 0, 0);
    }
  }
  _glyphs[index] = glyph;
  return glyph;
}

void TImageFont::Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy) {
  for (char16_t c : text) {
    const int g = CharToGlyph(c);
    if (g < 0) continue;
    TImageGlyphPtr glyph = LoadGlyph(g);
    if (!glyph) continue;
    if (glyph->_image) {
      if (TImageFramePtr f = glyph->_image->Frame(0)) {
        f->Draw(0, 0, static_cast<float>(glyph->_image->width), static_cast<float>(glyph->_image->height),
                x + glyph->_x * ix + glyph->_y * iy, y + glyph->_x * jx + glyph->_y * jy);
      }
    }
    x += ix * glyph->_advance;
    y += jx * glyph->_advance;
  }
}

int TImageFont::MeasureWidth(const Text& text) {
  int w = 0;
  for (char16_t c : text) {
    const int g = CharToGlyph(c);
    if (g < 0) continue;
    if (TImageGlyphPtr glyph = LoadGlyph(g)) w = static_cast<int>(static_cast<float>(w) + glyph->_advance);
  }
  return w;
}

TImageFontPtr TImageFont::Load(const Text& url, int size, int style) {
  TFontPtr src = TFontLoader::Load(url, size, style);
  if (!src) return nullptr;
  auto font = std::make_shared<TImageFont>();
  font->_src_font = src;
  font->_glyphs.assign(static_cast<size_t>(std::max(0, src->CountGlyphs())), nullptr);
  font->_imageFlags = (style & FONT_SMOOTH) ? (IMG_FILTERED | IMG_MIPMAPPED) : 0;
  return font;
}

TImageFontPtr TImageFont::CreateDefault() {
  InitFontModule();
  std::vector<uint8_t> bits = LoadAllBytes(ToText("incbin::vandafont.bin"));
  if (bits.size() != 16 * kBuiltinGlyphs) throw TRuntimeException("Built-in font is damaged");
  // Expand the bitmap: set bits opaque white, clear bits transparent black.
  TPixmapPtr sheet = TPixmap::Create(8 * kBuiltinGlyphs, 16, PIXFMT_RGBA8888, 4);
  for (int row = 0; row < 16; ++row) {
    uint32_t* d = reinterpret_cast<uint32_t*>(sheet->PixelPtr(0, row));
    for (int g = 0; g < kBuiltinGlyphs; ++g) {
      const uint8_t b = bits[row * kBuiltinGlyphs + g];
      for (int x = 0; x < 8; ++x) {
        uint8_t* px = reinterpret_cast<uint8_t*>(d + g * 8 + x);
        const uint8_t v = (b >> x) & 1 ? 255 : 0;
        px[0] = px[1] = px[2] = px[3] = v;
      }
    }
  }
  auto font = std::make_shared<TImageFont>();
  font->_glyphs.resize(kBuiltinGlyphs);
  for (int i = 0; i < kBuiltinGlyphs; ++i) {
    auto glyph = std::make_shared<TImageGlyph>();
    glyph->_advance = 8;
    glyph->_x = 0;
    glyph->_y = 0;
    glyph->_w = 8;
    glyph->_h = 16;
    glyph->_image = TImage::Load(sheet->Window(8 * i, 0, 8, 16)->Copy(), 0, 0, 0, 0);
    font->_glyphs[i] = glyph;
  }
  return font;
}

TImageFontPtr LoadTextFont(const Text& url, int size, int style) { return TImageFont::Load(url, size, style); }
TImageFontPtr LoadTextFont(const std::string& url, int size, int style) {
  return TImageFont::Load(ToText(url), size, style);
}
TImageFontPtr LoadTextFont(const char* url, int size, int style) {
  return TImageFont::Load(ToText(url), size, style);
}

int MeasureTextWidth(const Text& text) {
  TImageFontPtr font = CurrentTextFont();
  return font ? font->MeasureWidth(text) : 0;
}

int MeasureTextHeight(const Text&) {
  TImageFontPtr font = CurrentTextFont();
  return font ? font->Height() : 0;
}
