// JPEG loading and writing through libjpeg.
//
// libjpeg reports fatal errors through error_exit, which jumps back to a saved point;
// the functions that set the jump point hold only plain locals.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include "pixmap_io.h"
#include <ormix/stream/stream.h>

namespace {

// A JPEG can hold an 8 x 8 block in a couple of bits; this bounds the decoded size by
// what the stored bytes could possibly describe.
constexpr int64_t kJpegExpansion = 4096;

struct TJpegError {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  longjmp(err->jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}

constexpr int kSourceBufferSize = 4096;

struct TJpegSource {
  jpeg_source_mgr pub;
  TStream* stream;
  bool hitEnd;  // the data ran out and a fake end marker was supplied
  JOCTET buffer[kSourceBufferSize];
};

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  int n = 0;
  try {
    n = src->stream->Read(src->buffer, kSourceBufferSize);
  } catch (...) {
    n = 0;
  }
  if (n <= 0) {
    // Supply an end-of-image marker so the decoder stops; the loader refuses the image.
    src->hitEnd = true;
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  while (count > 0) {
    if (static_cast<size_t>(count) <= src->pub.bytes_in_buffer) {
      src->pub.next_input_byte += count;
      src->pub.bytes_in_buffer -= static_cast<size_t>(count);
      return;
    }
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    SourceFill(cinfo);
    if (src->hitEnd) return;
  }
}

void SourceTerm(j_decompress_ptr) {}

struct TJpegHeader {
  int width = 0, height = 0, components = 0;
};

bool JpegCreate(jpeg_decompress_struct* cinfo, TJpegError* err) {
  if (setjmp(err->jump)) return false;
  jpeg_create_decompress(cinfo);
  // The decoder's own working memory (whole-image buffers of progressive files) is
  // capped too: past it, decoding fails instead of growing.
  cinfo->mem->max_memory_to_use = 192L * 1024 * 1024;
  return true;
}

bool JpegStart(jpeg_decompress_struct* cinfo, TJpegError* err, TJpegHeader* h) {
  if (setjmp(err->jump)) return false;
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (cinfo->num_components == 3) cinfo->out_color_space = JCS_RGB;
  else if (cinfo->num_components == 1) cinfo->out_color_space = JCS_GRAYSCALE;
  jpeg_calc_output_dimensions(cinfo);
  h->width = static_cast<int>(cinfo->output_width);
  h->height = static_cast<int>(cinfo->output_height);
  h->components = cinfo->output_components;
  return true;
}

bool JpegBegin(jpeg_decompress_struct* cinfo, TJpegError* err) {
  if (setjmp(err->jump)) return false;
  return jpeg_start_decompress(cinfo) == TRUE;
}

bool JpegReadRows(jpeg_decompress_struct* cinfo, TJpegError* err, JSAMPROW* rows, int height) {
  if (setjmp(err->jump)) return false;
  while (static_cast<int>(cinfo->output_scanline) < height) {
    const int before = static_cast<int>(cinfo->output_scanline);
    jpeg_read_scanlines(cinfo, rows + before, static_cast<JDIMENSION>(height - before));
    if (static_cast<int>(cinfo->output_scanline) == before) return false;
  }
  return true;
}

}  // namespace

TPixmapPtr TPixmapLoaderJPG::LoadPixmap(const TStreamPtr& sp) {
  TStream& s = *sp;
  auto src = std::make_unique<TJpegSource>();
  auto cinfo = std::make_unique<jpeg_decompress_struct>();
  TJpegError err;
  std::memset(cinfo.get(), 0, sizeof(jpeg_decompress_struct));
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.output_message = JpegOutputMessage;
  if (!JpegCreate(cinfo.get(), &err)) return nullptr;
  src->stream = &s;
  src->hitEnd = false;
  src->pub.init_source = SourceInit;
  src->pub.fill_input_buffer = SourceFill;
  src->pub.skip_input_data = SourceSkip;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = SourceTerm;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  cinfo->src = &src->pub;

  TPixmapPtr pix;
  TJpegHeader h;
  const int64_t left = s.Remaining();
  if (JpegStart(cinfo.get(), &err, &h) && !src->hitEnd && (h.components == 1 || h.components == 3) &&
      pixmap_io::SidesAcceptable(h.width, h.height) && int64_t{h.width} * h.height <= MAX_JPEG_PIXELS &&
      (left < 0 || static_cast<int64_t>(h.width) * h.height * h.components <= (left + 1024) * kJpegExpansion) &&
      JpegBegin(cinfo.get(), &err)) {
    pix = TPixmap::Create(h.width, h.height, h.components == 1 ? PIXFMT_I8 : PIXFMT_RGB888, 4);
    std::vector<JSAMPROW> rows(h.height);
    for (int y = 0; y < h.height; ++y) rows[y] = pix->PixelPtr(0, y);
    if (!JpegReadRows(cinfo.get(), &err, rows.data(), h.height) || src->hitEnd) pix = nullptr;
  }
  jpeg_destroy_decompress(cinfo.get());
  return pix;
}

namespace {

constexpr int kDestBufferSize = 4096;

struct TJpegDest {
  jpeg_destination_mgr pub;
  TStream* stream;
  bool failed;
  JOCTET buffer[kDestBufferSize];
};

bool WriteOut(TJpegDest* d, size_t count) {
  const JOCTET* p = d->buffer;
  try {
    while (count > 0) {
      const int n = d->stream->Write(p, static_cast<int>(count));
      if (n <= 0) return false;
      p += n;
      count -= static_cast<size_t>(n);
    }
  } catch (...) {
    return false;
  }
  return true;
}

void DestInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kDestBufferSize;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  if (!WriteOut(d, kDestBufferSize)) d->failed = true;
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kDestBufferSize;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  if (!WriteOut(d, kDestBufferSize - d->pub.free_in_buffer)) d->failed = true;
}

bool JpegCreateCompress(jpeg_compress_struct* cinfo, TJpegError* err) {
  if (setjmp(err->jump)) return false;
  jpeg_create_compress(cinfo);
  return true;
}

bool JpegCompress(jpeg_compress_struct* cinfo, TJpegError* err, int width, int height, int quality,
                  JSAMPROW* rows) {
  if (setjmp(err->jump)) return false;
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height)
    jpeg_write_scanlines(cinfo, rows + cinfo->next_scanline, cinfo->image_height - cinfo->next_scanline);
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

bool SavePixmapJPeg(const TPixmapPtr& p, const TStreamPtr& stream, int quality) {
  if (!p || !stream || p->width < 1 || p->height < 1) return false;
  TPixmapPtr rgb = p->format == PIXFMT_RGB888 ? p : p->Convert(PIXFMT_RGB888);
  std::vector<JSAMPROW> rows(rgb->height);
  for (int y = 0; y < rgb->height; ++y) rows[y] = rgb->PixelPtr(0, y);
  auto dest = std::make_unique<TJpegDest>();
  auto cinfo = std::make_unique<jpeg_compress_struct>();
  std::memset(cinfo.get(), 0, sizeof(jpeg_compress_struct));
  TJpegError err;
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.output_message = JpegOutputMessage;
  if (!JpegCreateCompress(cinfo.get(), &err)) return false;
  dest->stream = stream.get();
  dest->failed = false;
  dest->pub.init_destination = DestInit;
  dest->pub.empty_output_buffer = DestEmpty;
  dest->pub.term_destination = DestTerm;
  cinfo->dest = &dest->pub;
  const bool ok = JpegCompress(cinfo.get(), &err, rgb->width, rgb->height, std::clamp(quality, 1, 100),
                               rows.data());
  jpeg_destroy_compress(cinfo.get());
  return ok && !dest->failed;
}

bool SavePixmapJPeg(const TPixmapPtr& p, const Text& url, int quality) {
  TStreamPtr s = OpenUrlStream(url, 0, 1);
  if (!s) return false;
  const bool ok = SavePixmapJPeg(p, s, quality);
  s->Close();
  return ok;
}
