// PNG loading and writing through libpng.
//
// libpng reports errors by longjmp, so the functions that set the jump point hold only
// plain locals; every C++ object (pixmap, row table) is made outside them.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include "pixmap_io.h"
#include <ormix/stream/stream.h>

namespace {

// Deflate cannot expand data by more than about 1032 times: a file cannot describe rows
// larger than that.
constexpr double kDeflateExpansion = 1040;

void PngReadFn(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = pixmap_io::ReadExact(*s, data, static_cast<int>(length));
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "read past end of stream");
}

void PngWriteFn(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    int left = static_cast<int>(length);
    ok = true;
    while (left > 0) {
      const int n = s->Write(data, left);
      if (n <= 0) { ok = false; break; }
      data += n;
      left -= n;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "write failed");
}

void PngFlushFn(png_structp) {}

void PngWarningFn(png_structp, png_const_charp) {}

// Errors end the operation quietly: back to the jump point, no message on stderr.
void PngErrorFn(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Largest chunk libpng may buffer whole (ancillary data: text, colour profiles).
constexpr int64_t kMaxPngChunkBytes = int64_t{8} << 20;

struct TPngHeader {
  png_uint_32 width = 0, height = 0;
  int channels = 0, bitDepth = 0;
  size_t rowBytes = 0;
  double storedBytes = 0;  // size of the image's filtered rows before any transform
};

// Reads the header and sets up the transforms. False on a libpng error.
bool PngReadHeader(png_structp png, png_infop info, TPngHeader* h, int64_t fileBytes) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, MAX_PIXMAP_SIDE, MAX_PIXMAP_SIDE);
  // A chunk that libpng holds whole can be no longer than the file: its claimed length
  // must not size a buffer before anything is read. libpng only warns about a chunk
  // above this limit, so the variable-length chunks the loader has no use for (text,
  // colour profiles, palettes of suggestions, metadata) are skipped unread instead.
  png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(
      std::clamp<int64_t>(fileBytes < 0 ? kMaxPngChunkBytes : fileBytes, 1, kMaxPngChunkBytes)));
  static const png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0pCAL\0sCAL\0hIST\0";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 9);
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  h->storedBytes = static_cast<double>(png_get_image_height(png, info)) *
                   (1.0 + std::ceil(static_cast<double>(png_get_image_width(png, info)) *
                                    png_get_bit_depth(png, info) * png_get_channels(png, info) / 8.0));
  // 16-bit samples are rounded to the nearest 8-bit value, (v * 255 + 32767) / 65535.
  png_set_scale_16(png);
  png_set_expand(png);
  const bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  if (!(colourType & PNG_COLOR_MASK_COLOR) && hasAlpha) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  h->width = png_get_image_width(png, info);
  h->height = png_get_image_height(png, info);
  h->channels = png_get_channels(png, info);
  h->bitDepth = png_get_bit_depth(png, info);
  h->rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool PngReadRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

}  // namespace

TPixmapPtr TPixmapLoaderPNG::LoadPixmap(const TStreamPtr& sp) {
  TStream& s = *sp;
  uint8_t sig[8];
  if (!pixmap_io::ReadExact(s, sig, 8) || png_sig_cmp(sig, 0, 8) != 0) return nullptr;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorFn, PngWarningFn);
  if (!png) return nullptr;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return nullptr;
  }
  png_set_read_fn(png, &s, PngReadFn);
  const int64_t left = s.Remaining();

  TPixmapPtr pix;
  TPngHeader h;
  if (PngReadHeader(png, info, &h, left) && h.bitDepth == 8 && h.channels >= 1 && h.channels <= 4 &&
      h.channels != 2 &&
      pixmap_io::SidesAcceptable(h.width, h.height) &&
      (left < 0 || h.storedBytes <= static_cast<double>(left) * kDeflateExpansion)) {
    const int format = h.channels == 1 ? PIXFMT_I8 : h.channels == 3 ? PIXFMT_RGB888 : PIXFMT_RGBA8888;
    pix = TPixmap::Create(static_cast<int>(h.width), static_cast<int>(h.height), format, 4);
    if (h.rowBytes > static_cast<size_t>(pix->pitch)) {
      pix = nullptr;
    } else {
      std::vector<png_bytep> rows(h.height);
      for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = pix->PixelPtr(0, static_cast<int>(y));
      if (!PngReadRows(png, info, rows.data())) pix = nullptr;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return pix;
}

namespace {

bool PngWriteAll(png_structp png, png_infop info, const TPngHeader* h, int colourType,
                 int level, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, h->width, h->height, 8, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace

bool SavePixmapPNG(const TPixmapPtr& p, const TStreamPtr& stream, int compression) {
  if (!p || !stream || p->width < 1 || p->height < 1) return false;
  // Grey stays grey, colour without alpha is RGB, everything with alpha is RGBA.
  int colourType, format;
  switch (p->format) {
    case PIXFMT_I8: colourType = PNG_COLOR_TYPE_GRAY; format = PIXFMT_I8; break;
    case PIXFMT_BGR888:
    case PIXFMT_RGB888: colourType = PNG_COLOR_TYPE_RGB; format = PIXFMT_RGB888; break;
    default: colourType = PNG_COLOR_TYPE_RGBA; format = PIXFMT_RGBA8888; break;
  }
  TPixmapPtr src = p->format == format ? p : p->Convert(format);
  std::vector<png_bytep> rows(src->height);
  for (int y = 0; y < src->height; ++y) rows[y] = src->PixelPtr(0, y);
  TPngHeader h;
  h.width = static_cast<png_uint_32>(src->width);
  h.height = static_cast<png_uint_32>(src->height);

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorFn, PngWarningFn);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  png_set_write_fn(png, stream.get(), PngWriteFn, PngFlushFn);
  const bool ok = PngWriteAll(png, info, &h, colourType, std::clamp(compression, 0, 9), rows.data());
  png_destroy_write_struct(&png, &info);
  return ok;
}

bool SavePixmapPNG(const TPixmapPtr& p, const Text& url, int compression) {
  TStreamPtr s = OpenUrlStream(url, 0, 1);
  if (!s) return false;
  const bool ok = SavePixmapPNG(p, s, compression);
  s->Close();
  return ok;
}
