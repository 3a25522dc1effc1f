// Pixmaps: creation, pixel format conversion and the pixmap operations.
#include <ormix/graphics/pixmap.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pixmap_io.h"
#include <ormix/runtime/errors.h>
#include <ormix/stream/stream.h>

namespace {

struct TFormatInfo {
  int bytes;
  int alphaBits;
  const char* name;
};

const TFormatInfo kFormats[] = {
    {0, 0, "unknown"},          {1, 0, "PIXFMT_I8"},       {1, 8, "PIXFMT_A8"},
    {3, 0, "PIXFMT_BGR888"},    {3, 0, "PIXFMT_RGB888"},   {4, 8, "PIXFMT_BGRA8888"},
    {4, 8, "PIXFMT_RGBA8888"},  {1, 0, "PIXFMT_R8"},       {1, 0, "PIXFMT_G8"},
    {1, 0, "PIXFMT_B8"},        {1, 8, "PIXFMT_ALPHA8"},   {1, 0, "PIXFMT_USER8A"},
    {1, 0, "PIXFMT_USER8B"},
};

bool KnownFormat(int format) { return format >= PIXFMT_I8 && format <= PIXFMT_USER8B; }
bool IsColourFormat(int format) { return format >= PIXFMT_I8 && format <= PIXFMT_RGBA8888; }
bool IsSingleColour(int format) { return format >= PIXFMT_R8 && format <= PIXFMT_B8; }

[[noreturn]] void RefuseConversion(int srcFormat, int dstFormat) {
  throw TRuntimeException(std::string("Cannot convert ") + PixelFormatName(srcFormat) + " pixels to " +
                          PixelFormatName(dstFormat));
}

void RequireConversion(int srcFormat, int dstFormat) {
  if (KnownFormat(srcFormat) && KnownFormat(dstFormat) && !CanConvertPixels(srcFormat, dstFormat))
    RefuseConversion(srcFormat, dstFormat);
}

// One pixel of any format to red, green, blue, alpha.
inline void ToRGBA(const uint8_t* s, int format, uint8_t* d) {
  switch (format) {
    case PIXFMT_I8: d[0] = d[1] = d[2] = s[0]; d[3] = 255; break;
    case PIXFMT_A8: d[0] = d[1] = d[2] = 255; d[3] = s[0]; break;
    case PIXFMT_BGR888: d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = 255; break;
    case PIXFMT_RGB888: d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; d[3] = 255; break;
    case PIXFMT_BGRA8888: d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = s[3]; break;
    case PIXFMT_RGBA8888: d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; d[3] = s[3]; break;
    case PIXFMT_R8: d[0] = s[0]; d[1] = d[2] = 0; d[3] = 255; break;
    case PIXFMT_G8: d[1] = s[0]; d[0] = d[2] = 0; d[3] = 255; break;
    case PIXFMT_B8: d[2] = s[0]; d[0] = d[1] = 0; d[3] = 255; break;
    case PIXFMT_ALPHA8: d[0] = d[1] = d[2] = 0; d[3] = s[0]; break;
    default: d[0] = d[1] = d[2] = d[3] = 0; break;
  }
}

// Red, green, blue, alpha to one pixel of any format.
inline void FromRGBA(const uint8_t* s, int format, uint8_t* d) {
  switch (format) {
    case PIXFMT_I8: d[0] = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3); break;
    case PIXFMT_A8: d[0] = s[3]; break;
    case PIXFMT_BGR888: d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; break;
    case PIXFMT_RGB888: d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; break;
    case PIXFMT_BGRA8888: d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = s[3]; break;
    case PIXFMT_RGBA8888: d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; d[3] = s[3]; break;
    case PIXFMT_R8: d[0] = s[0]; break;
    case PIXFMT_G8: d[0] = s[1]; break;
    case PIXFMT_B8: d[0] = s[2]; break;
    case PIXFMT_ALPHA8: d[0] = s[3]; break;
    default: break;
  }
}

// Converts a row to RGBA8888.
void RowToRGBA(const uint8_t* s, int format, uint8_t* d, int count) {
  switch (format) {
    case PIXFMT_I8:
      for (int i = 0; i < count; ++i, d += 4) { d[0] = d[1] = d[2] = s[i]; d[3] = 255; }
      break;
    case PIXFMT_A8:
      for (int i = 0; i < count; ++i, d += 4) { d[0] = d[1] = d[2] = 255; d[3] = s[i]; }
      break;
    case PIXFMT_BGR888:
      for (int i = 0; i < count; ++i, s += 3, d += 4) { d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = 255; }
      break;
    case PIXFMT_RGB888:
      for (int i = 0; i < count; ++i, s += 3, d += 4) { d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; d[3] = 255; }
      break;
    case PIXFMT_BGRA8888:
      for (int i = 0; i < count; ++i, s += 4, d += 4) { d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = s[3]; }
      break;
    case PIXFMT_RGBA8888: std::memmove(d, s, static_cast<size_t>(count) * 4); break;
    case PIXFMT_R8:
    case PIXFMT_G8:
    case PIXFMT_B8: {
      const int c = format - PIXFMT_R8;
      for (int i = 0; i < count; ++i, d += 4) { d[0] = d[1] = d[2] = 0; d[c] = s[i]; d[3] = 255; }
      break;
    }
    case PIXFMT_ALPHA8:
      for (int i = 0; i < count; ++i, d += 4) { d[0] = d[1] = d[2] = 0; d[3] = s[i]; }
      break;
    default: break;
  }
}

// Converts an RGBA8888 row to any format.
void RowFromRGBA(const uint8_t* s, uint8_t* d, int format, int count) {
  switch (format) {
    case PIXFMT_I8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3);
      break;
    case PIXFMT_A8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[3];
      break;
    case PIXFMT_BGR888:
      for (int i = 0; i < count; ++i, s += 4, d += 3) { d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; }
      break;
    case PIXFMT_RGB888:
      for (int i = 0; i < count; ++i, s += 4, d += 3) { d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; }
      break;
    case PIXFMT_BGRA8888:
      for (int i = 0; i < count; ++i, s += 4, d += 4) { d[0] = s[2]; d[1] = s[1]; d[2] = s[0]; d[3] = s[3]; }
      break;
    case PIXFMT_RGBA8888: std::memmove(d, s, static_cast<size_t>(count) * 4); break;
    case PIXFMT_R8:
    case PIXFMT_G8:
    case PIXFMT_B8:
    case PIXFMT_ALPHA8: {
      const int c = format == PIXFMT_ALPHA8 ? 3 : format - PIXFMT_R8;
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[c];
      break;
    }
    default: break;
  }
}

inline uint32_t PackARGB(const uint8_t* rgba) {
  return (static_cast<uint32_t>(rgba[3]) << 24) | (static_cast<uint32_t>(rgba[0]) << 16) |
         (static_cast<uint32_t>(rgba[1]) << 8) | rgba[2];
}

inline void UnpackARGB(uint32_t argb, uint8_t* rgba) {
  rgba[0] = static_cast<uint8_t>(argb >> 16);
  rgba[1] = static_cast<uint8_t>(argb >> 8);
  rgba[2] = static_cast<uint8_t>(argb);
  rgba[3] = static_cast<uint8_t>(argb >> 24);
}

TPixmapPtr AsRGBA(const TPixmap& p) {
  return p.format == PIXFMT_RGBA8888 ? p.Copy() : p.Convert(PIXFMT_RGBA8888);
}

}  // namespace

int PixelFormatBytes(int format) { return KnownFormat(format) ? kFormats[format].bytes : 0; }
int PixelFormatAlphaBits(int format) { return KnownFormat(format) ? kFormats[format].alphaBits : 0; }
const char* PixelFormatName(int format) { return KnownFormat(format) ? kFormats[format].name : kFormats[0].name; }

bool CanConvertPixels(int srcFormat, int dstFormat) {
  if (!KnownFormat(srcFormat) || !KnownFormat(dstFormat)) return false;
  if (srcFormat == dstFormat || (IsColourFormat(srcFormat) && IsColourFormat(dstFormat))) return true;
  if (IsColourFormat(srcFormat)) return dstFormat != PIXFMT_USER8A && dstFormat != PIXFMT_USER8B;
  if (IsSingleColour(srcFormat)) return dstFormat >= PIXFMT_BGR888 && dstFormat <= PIXFMT_RGBA8888;
  if (srcFormat == PIXFMT_ALPHA8)
    return dstFormat == PIXFMT_A8 || dstFormat == PIXFMT_BGRA8888 || dstFormat == PIXFMT_RGBA8888;
  return false;
}

void ConvertPixelRow(const uint8_t* src, int srcFormat, uint8_t* dst, int dstFormat, int count) {
  if (count <= 0 || !KnownFormat(srcFormat) || !KnownFormat(dstFormat)) return;
  if (!CanConvertPixels(srcFormat, dstFormat)) RefuseConversion(srcFormat, dstFormat);
  if (srcFormat == dstFormat) {
    std::memmove(dst, src, static_cast<size_t>(count) * PixelFormatBytes(srcFormat));
    return;
  }
  if (dstFormat == PIXFMT_RGBA8888) { RowToRGBA(src, srcFormat, dst, count); return; }
  if (srcFormat == PIXFMT_RGBA8888) { RowFromRGBA(src, dst, dstFormat, count); return; }
  // Through RGBA in chunks held on the stack.
  uint8_t tmp[256 * 4];
  const int sb = PixelFormatBytes(srcFormat), db = PixelFormatBytes(dstFormat);
  while (count > 0) {
    const int n = std::min(count, 256);
    RowToRGBA(src, srcFormat, tmp, n);
    RowFromRGBA(tmp, dst, dstFormat, n);
    src += n * sb;
    dst += n * db;
    count -= n;
  }
}

TPixmapPtr TPixmap::Create(int width, int height, int format, int align) {
  if (!KnownFormat(format)) throw TRuntimeException("Unknown pixel format");
  if (width < 0 || height < 0 || width > MAX_PIXMAP_SIDE || height > MAX_PIXMAP_SIDE)
    throw TRuntimeException("Pixmap size out of range");
  if (align < 1) throw TRuntimeException("Pixmap alignment out of range");
  const int64_t rowBytes = static_cast<int64_t>(width) * PixelFormatBytes(format);
  const int64_t pitch = (rowBytes + align - 1) / align * align;
  const int64_t total = pitch * height;
  auto p = std::make_shared<TPixmap>();
  p->_block.reset(new uint8_t[total > 0 ? total : 1]);
  p->pixels = p->_block.get();
  p->width = width;
  p->height = height;
  p->pitch = static_cast<int>(pitch);
  p->format = format;
  p->capacity = static_cast<int>(total);
  return p;
}

TPixmapPtr TPixmap::CreateStatic(void* pixels, int width, int height, int pitch, int format) {
  auto p = std::make_shared<TPixmap>();
  p->pixels = static_cast<uint8_t*>(pixels);
  p->width = width;
  p->height = height;
  p->pitch = pitch;
  p->format = format;
  p->capacity = -1;
  return p;
}

TPixmapPtr TPixmap::Window(int x, int y, int w, int h) {
  // Clip the rectangle to this pixmap so the window never reaches outside its memory.
  int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
  x = std::clamp(x, 0, width);
  y = std::clamp(y, 0, height);
  auto p = std::make_shared<TPixmap>();
  p->pixels = PixelPtr(x, y);
  p->width = std::max(0, x1 - x);
  p->height = std::max(0, y1 - y);
  p->pitch = pitch;
  p->format = format;
  p->capacity = -1;
  p->_source = weak_from_this().lock();
  return p;
}

TPixmapPtr TPixmap::Copy() const {
  auto p = Create(width, height, format, 4);
  const size_t rowBytes = static_cast<size_t>(width) * BytesPerPixel();
  for (int y = 0; y < height; ++y) std::memcpy(p->PixelPtr(0, y), PixelPtr(0, y), rowBytes);
  return p;
}

void TPixmap::Paste(const TPixmap& source, int x, int y) {
  RequireConversion(source.format, format);
  int sx = 0, sy = 0, w = source.width, h = source.height;
  if (x < 0) { sx = -x; w += x; x = 0; }
  if (y < 0) { sy = -y; h += y; y = 0; }
  w = std::min(w, width - x);
  h = std::min(h, height - y);
  if (w <= 0 || h <= 0) return;
  for (int r = 0; r < h; ++r)
    ConvertPixelRow(source.PixelPtr(sx, sy + r), source.format, PixelPtr(x, y + r), format, w);
}

TPixmapPtr TPixmap::Convert(int newFormat) const {
  RequireConversion(format, newFormat);
  auto p = Create(width, height, newFormat, 4);
  for (int y = 0; y < height; ++y) ConvertPixelRow(PixelPtr(0, y), format, p->PixelPtr(0, y), newFormat, width);
  return p;
}

uint32_t TPixmap::ReadPixel(int x, int y) const {
  RequireConversion(format, PIXFMT_RGBA8888);
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  uint8_t rgba[4];
  ToRGBA(PixelPtr(x, y), format, rgba);
  return PackARGB(rgba);
}

void TPixmap::WritePixel(int x, int y, uint32_t argb) {
  RequireConversion(PIXFMT_RGBA8888, format);
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t rgba[4];
  UnpackARGB(argb, rgba);
  FromRGBA(rgba, format, PixelPtr(x, y));
}

void TPixmap::ClearPixels(uint32_t argb) {
  const int bpp = BytesPerPixel();
  const size_t rowBytes = static_cast<size_t>(width) * bpp;
  if (width <= 0 || height <= 0 || bpp == 0) return;
  if (argb == 0 && static_cast<size_t>(pitch) == rowBytes) {
    std::memset(pixels, 0, rowBytes * height);
    return;
  }
  if (argb == 0) {
    for (int y = 0; y < height; ++y) std::memset(PixelPtr(0, y), 0, rowBytes);
    return;
  }
  RequireConversion(PIXFMT_RGBA8888, format);
  uint8_t rgba[4], value[4];
  UnpackARGB(argb, rgba);
  FromRGBA(rgba, format, value);
  for (int y = 0; y < height; ++y) {
    uint8_t* d = PixelPtr(0, y);
    for (int x = 0; x < width; ++x, d += bpp) std::memcpy(d, value, bpp);
  }
}

void TPixmap::WriteData(TStream& stream) const {
  stream.WriteInt(width);
  stream.WriteInt(height);
  stream.WriteInt(format);
  const int rowBytes = width * BytesPerPixel();
  for (int y = 0; y < height; ++y) stream.WriteBytes(PixelPtr(0, y), rowBytes);
}

namespace {

// Reads and checks a pixmap header; false when it cannot describe a pixmap or promises
// more rows than the stream has left.
bool ReadPixmapHeader(TStream& stream, int& w, int& h, int& f) {
  int32_t head[3];
  if (!pixmap_io::ReadFields(stream, head, 3)) return false;
  w = head[0];
  h = head[1];
  f = head[2];
  if (!KnownFormat(f) || w < 0 || h < 0 || w > MAX_PIXMAP_SIDE || h > MAX_PIXMAP_SIDE) return false;
  const int64_t left = stream.Remaining();
  const int64_t need = static_cast<int64_t>(w) * h * PixelFormatBytes(f);
  return !(left >= 0 && need > left);
}

bool ReadRows(TStream& stream, TPixmap& p) {
  const int rowBytes = p.width * p.BytesPerPixel();
  for (int y = 0; y < p.height; ++y)
    if (!pixmap_io::ReadExact(stream, p.PixelPtr(0, y), rowBytes)) return false;
  return true;
}

// Pixel bytes read straight into a new pixmap when the stream can vouch for them.
constexpr int64_t kDirectReadBytes = int64_t{1} << 20;

// The rows of a pixmap whose header was read; null when the stream ends early. A stream
// that cannot tell how much it holds (a socket) may promise far more than it sends, so a
// large pixmap is gathered from it in growing pieces first: memory follows the bytes
// that arrived, not the header.
TPixmapPtr ReadPixels(TStream& stream, int w, int h, int f) {
  const int64_t need = static_cast<int64_t>(w) * h * PixelFormatBytes(f);
  if (stream.Remaining() >= 0 || need <= kDirectReadBytes) {
    auto p = TPixmap::Create(w, h, f, 4);
    return ReadRows(stream, *p) ? p : nullptr;
  }
  std::vector<uint8_t> bytes;
  while (static_cast<int64_t>(bytes.size()) < need) {
    const int64_t have = static_cast<int64_t>(bytes.size());
    const int64_t piece = std::min(need - have, std::max(have, kDirectReadBytes));
    bytes.resize(static_cast<size_t>(have + piece));
    if (!pixmap_io::ReadExact(stream, bytes.data() + have, static_cast<int>(piece))) return nullptr;
  }
  auto p = TPixmap::Create(w, h, f, 4);
  const size_t rowBytes = static_cast<size_t>(w) * PixelFormatBytes(f);
  for (int y = 0; y < h; ++y) std::memcpy(p->PixelPtr(0, y), bytes.data() + y * rowBytes, rowBytes);
  return p;
}

}  // namespace

TPixmapPtr TPixmap::ReadData(TStream& stream) {
  int w, h, f;
  if (!ReadPixmapHeader(stream, w, h, f)) return nullptr;
  return ReadPixels(stream, w, h, f);
}

bool TPixmap::ReadDataInto(TStream& stream) {
  int w, h, f;
  if (!ReadPixmapHeader(stream, w, h, f)) return false;
  if (pixels && (w != width || h != height || f != format)) return false;
  // Into a new pixmap first, so a stream that ends early leaves this one as it was.
  auto tmp = ReadPixels(stream, w, h, f);
  if (!tmp) return false;
  if (pixels) {
    Paste(*tmp, 0, 0);
    return true;
  }
  _block = std::move(tmp->_block);
  pixels = tmp->pixels;
  width = w;
  height = h;
  pitch = tmp->pitch;
  format = f;
  capacity = tmp->capacity;
  _source.reset();
  return true;
}

TDataType* TPixmap::DataType() { return PixmapDataType(); }

TPixmapDataType* PixmapDataType() {
  static TPixmapDataType type;
  return &type;
}

TPixmapPtr NewPixmap(int width, int height, int format, int align) {
  return TPixmap::Create(width, height, format, align);
}
TPixmapPtr NewStaticPixmap(void* pixels, int width, int height, int pitch, int format) {
  return TPixmap::CreateStatic(pixels, width, height, pitch, format);
}
TPixmapPtr DuplicatePixmap(const TPixmapPtr& p) { return p->Copy(); }
TPixmapPtr ReformatPixmap(const TPixmapPtr& p, int format) { return p->Convert(format); }
int GetPixmapWidth(const TPixmapPtr& p) { return p->width; }
int GetPixmapHeight(const TPixmapPtr& p) { return p->height; }
int GetPixmapPitch(const TPixmapPtr& p) { return p->pitch; }
int GetPixmapFormat(const TPixmapPtr& p) { return p->format; }
uint8_t* PixmapPixelAddress(const TPixmapPtr& p, int x, int y) { return p->PixelPtr(x, y); }
TPixmapPtr PixmapSubWindow(const TPixmapPtr& p, int x, int y, int w, int h) { return p->Window(x, y, w, h); }
uint32_t ReadPixmapPixel(const TPixmapPtr& p, int x, int y) { return p->ReadPixel(x, y); }
void WritePixmapPixel(const TPixmapPtr& p, int x, int y, uint32_t argb) { p->WritePixel(x, y, argb); }
void ClearPixmap(const TPixmapPtr& p, uint32_t argb) { p->ClearPixels(argb); }

TPixmapPtr MirrorPixmapX(const TPixmapPtr& p) {
  auto m = TPixmap::Create(p->width, p->height, p->format, 4);
  const int bpp = p->BytesPerPixel();
  for (int y = 0; y < p->height; ++y) {
    const uint8_t* s = p->PixelPtr(0, y);
    uint8_t* d = m->PixelPtr(p->width - 1, y);
    for (int x = 0; x < p->width; ++x, s += bpp, d -= bpp) std::memcpy(d, s, bpp);
  }
  return m;
}

TPixmapPtr MirrorPixmapY(const TPixmapPtr& p) {
  auto m = TPixmap::Create(p->width, p->height, p->format, 4);
  const size_t rowBytes = static_cast<size_t>(p->width) * p->BytesPerPixel();
  for (int y = 0; y < p->height; ++y) std::memcpy(m->PixelPtr(0, p->height - 1 - y), p->PixelPtr(0, y), rowBytes);
  return m;
}

namespace {

// Source index pair and weight for one destination coordinate.
struct TSample {
  int a, b;
  float w;
};

void SampleTable(int srcSize, int dstSize, std::vector<TSample>& table) {
  table.resize(dstSize);
  const float ratio = static_cast<float>(srcSize) / static_cast<float>(dstSize);
  for (int i = 0; i < dstSize; ++i) {
    const float s = (static_cast<float>(i) + 0.5f) * ratio - 0.5f;
    const int r = static_cast<int>(std::floor(s));
    if (r < 0) table[i] = {0, 0, 0.0f};
    else if (r >= srcSize - 1) table[i] = {srcSize - 1, srcSize - 1, 0.0f};
    else table[i] = {r, r + 1, s - static_cast<float>(r)};
  }
}

}  // namespace

TPixmapPtr TexturePixels(const TPixmapPtr& source, int tw, int th) {
  const int w = std::min(source->width, tw);
  const int h = std::min(source->height, th);
  TPixmapPtr pixmap = source;
  if (source->width > w || source->height > h) pixmap = ScalePixmap(source, w, h);
  if (w == tw && h == th) return pixmap->format == PIXFMT_RGBA8888 ? pixmap : pixmap->Convert(PIXFMT_RGBA8888);
  TPixmapPtr padded = TPixmap::Create(tw, th, PIXFMT_RGBA8888, 4);
  padded->ClearPixels(0);
  padded->Paste(*pixmap, 0, 0);
  if (w < tw) padded->Paste(*pixmap->Window(w - 1, 0, 1, h), w, 0);
  if (h < th) padded->Paste(*pixmap->Window(0, h - 1, w, 1), 0, h);
  if (w < tw && h < th) padded->Paste(*pixmap->Window(w - 1, h - 1, 1, 1), w, h);
  return padded;
}

TPixmapPtr ScalePixmap(const TPixmapPtr& p, int width, int height) {
  if (p->format == PIXFMT_USER8A || p->format == PIXFMT_USER8B) {
    // A byte without colour scales like a grey level (grey goes through RGBA unchanged).
    TPixmapPtr out = ScalePixmap(TPixmap::CreateStatic(p->pixels, p->width, p->height, p->pitch, PIXFMT_I8),
                                 width, height);
    out->format = p->format;
    return out;
  }
  auto result = TPixmap::Create(width, height, p->format, 4);
  if (width == 0 || height == 0) return result;
  if (p->width == 0 || p->height == 0) {
    result->ClearPixels(0);
    return result;
  }
  TPixmapPtr src = p->format == PIXFMT_RGBA8888 ? p : p->Convert(PIXFMT_RGBA8888);
  std::vector<TSample> xs, ys;
  SampleTable(src->width, width, xs);
  SampleTable(src->height, height, ys);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
  for (int i = 0; i < height; ++i) {
    const TSample& sy = ys[i];
    const uint8_t* r0 = src->PixelPtr(0, sy.a);
    const uint8_t* r1 = src->PixelPtr(0, sy.b);
    uint8_t* d = row.data();
    for (int j = 0; j < width; ++j, d += 4) {
      const TSample& sx = xs[j];
      const uint8_t* p00 = r0 + sx.a * 4;
      const uint8_t* p01 = r0 + sx.b * 4;
      const uint8_t* p10 = r1 + sx.a * 4;
      const uint8_t* p11 = r1 + sx.b * 4;
      for (int c = 0; c < 4; ++c) {
        const float top = p00[c] + (p01[c] - p00[c]) * sx.w;
        const float bottom = p10[c] + (p11[c] - p10[c]) * sx.w;
        d[c] = static_cast<uint8_t>(top + (bottom - top) * sy.w);
      }
    }
    ConvertPixelRow(row.data(), PIXFMT_RGBA8888, result->PixelPtr(0, i), result->format, width);
  }
  return result;
}

TPixmapPtr KeyOutColor(const TPixmapPtr& p, int red, int green, int blue) {
  TPixmapPtr src = AsRGBA(*p);
  auto out = TPixmap::Create(src->width, src->height, PIXFMT_RGBA8888, 4);
  const int w = src->width, h = src->height;
  auto isKey = [&](const uint8_t* px) { return px[0] == red && px[1] == green && px[2] == blue; };
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src->PixelPtr(0, y);
    uint8_t* d = out->PixelPtr(0, y);
    for (int x = 0; x < w; ++x, s += 4, d += 4) {
      if (!isKey(s)) {
        d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; d[3] = 255;
        continue;
      }
      int sum[3] = {0, 0, 0}, n = 0;
      for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny) {
        for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
          const uint8_t* q = src->PixelPtr(nx, ny);
          if (isKey(q)) continue;
          sum[0] += q[0]; sum[1] += q[1]; sum[2] += q[2];
          ++n;
        }
      }
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(n ? sum[c] / n : 0);
      d[3] = 0;
    }
  }
  return out;
}
