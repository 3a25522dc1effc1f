// The pixmap loader chain, OpenPixmap, and the BMP and TGA loaders.
#include "pixmap_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/registry.h>
#include <ormix/stream/stream.h>

using pixmap_io::ReadExact;

// ---- loader chain ----

namespace {
// Newest first: a loader added later is asked before the built-in ones.
TRegistry<TPixmapLoaderPtr, TRegistryOrder::NewestFirst>& Loaders() {
  static auto* loaders = new TRegistry<TPixmapLoaderPtr, TRegistryOrder::NewestFirst>;
  return *loaders;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

void TPixmapLoader::Add(const TPixmapLoaderPtr& loader) { Loaders().Add(loader); }

TPixmapLoaderPtr TPixmapLoader::First() { return Loaders().Front(); }

namespace {
TPixmapPtr LoadThroughChain(const TStreamPtr& stream) {
  if (!stream) return nullptr;
  TPixmapPtr result;
  const int64_t start = stream->Pos();
  if (start >= 0) {
    result = Loaders().FirstAnswer([&](const TPixmapLoaderPtr& l) -> TPixmapPtr {
      stream->Seek(start);
      try {
        return l->LoadPixmap(stream);
      } catch (const TStreamException&) {
        return nullptr;  // a stream failure is a refusal: try the next loader
      }
    });
  }
  stream->Close();
  return result;
}
}  // namespace

TPixmapPtr OpenPixmap(const Text& url) {
  InitPixmapModule();
  return LoadThroughChain(OpenUrlStream(url, 1, 0));
}
TPixmapPtr OpenPixmap(const std::string& url) { return OpenPixmap(ToText(url)); }
TPixmapPtr OpenPixmap(const char* url) { return OpenPixmap(ToText(url)); }
TPixmapPtr OpenPixmap(const TStreamPtr& stream) {
  InitPixmapModule();
  if (!stream) return nullptr;
  return LoadThroughChain(OpenUrlStream(stream, 1, 0));
}

// ---- BMP ----

TPixmapPtr TPixmapLoaderBMP::LoadPixmap(const TStreamPtr& sp) {
  TStream& s = *sp;
  const int64_t start = s.Pos();
  uint8_t fh[14];
  if (!ReadExact(s, fh, 14) || fh[0] != 'B' || fh[1] != 'M') return nullptr;
  const uint32_t dataOffset = Le32(fh + 10);
  uint8_t ih[124] = {};
  if (!ReadExact(s, ih, 4)) return nullptr;
  const uint32_t headerSize = Le32(ih);
  // Only the Windows info headers (40 bytes and the larger versions) are read.
  if (headerSize < 40 || headerSize > 124) return nullptr;
  if (!ReadExact(s, ih + 4, static_cast<int>(headerSize) - 4)) return nullptr;
  const int32_t width = static_cast<int32_t>(Le32(ih + 4));
  const int32_t rawHeight = static_cast<int32_t>(Le32(ih + 8));
  const int bits = Le16(ih + 14);
  const uint32_t compression = Le32(ih + 16);
  const uint32_t coloursUsed = Le32(ih + 32);
  if (rawHeight == INT32_MIN) return nullptr;
  const bool topDown = rawHeight < 0;
  const int32_t height = topDown ? -rawHeight : rawHeight;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return nullptr;

  // Uncompressed data only; 32-bit bitfields with the plain BGRA masks decode the same.
  if (compression == 3 && bits == 32) {
    uint8_t masks[12];
    if (headerSize >= 52) {
      std::memcpy(masks, ih + 40, 12);
    } else if (!ReadExact(s, masks, 12)) {
      return nullptr;
    }
    if (Le32(masks) != 0x00FF0000u || Le32(masks + 4) != 0x0000FF00u || Le32(masks + 8) != 0x000000FFu)
      return nullptr;
  } else if (compression != 0) {
    return nullptr;
  }

  uint8_t palette[256][4] = {};
  if (bits <= 8) {
    const uint32_t tableSize = 1u << bits;
    const uint32_t n = coloursUsed ? coloursUsed : tableSize;
    if (n > tableSize) return nullptr;
    if (!ReadExact(s, palette, static_cast<int>(n * 4))) return nullptr;
  }

  // The pixel data starts at the offset the file header gives.
  if (dataOffset != 0 && start >= 0) {
    const int64_t here = s.Pos();
    const int64_t target = start + dataOffset;
    if (here < 0 || target < here) return nullptr;
    if (target > here && s.Seek(target) != target) return nullptr;
  }

  const int64_t rowBytes = (static_cast<int64_t>(bits) * width + 31) / 32 * 4;
  if (!pixmap_io::SidesAcceptable(width, height)) return nullptr;
  const int64_t left = s.Remaining();
  if (left >= 0 && rowBytes * height > left) return nullptr;

  auto pix = TPixmap::Create(width, height, bits == 32 ? PIXFMT_BGRA8888 : PIXFMT_BGR888, 4);
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int32_t r = 0; r < height; ++r) {
    if (!ReadExact(s, row.data(), static_cast<int>(rowBytes))) return nullptr;
    uint8_t* d = pix->PixelPtr(0, topDown ? r : height - 1 - r);
    switch (bits) {
      case 1:
        for (int x = 0; x < width; ++x, d += 3) {
          const uint8_t* e = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
          d[0] = e[0]; d[1] = e[1]; d[2] = e[2];
        }
        break;
      case 4:
        for (int x = 0; x < width; ++x, d += 3) {
          const uint8_t* e = palette[(x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4)];
          d[0] = e[0]; d[1] = e[1]; d[2] = e[2];
        }
        break;
      case 8:
        for (int x = 0; x < width; ++x, d += 3) {
          const uint8_t* e = palette[row[x]];
          d[0] = e[0]; d[1] = e[1]; d[2] = e[2];
        }
        break;
      case 24: std::memcpy(d, row.data(), static_cast<size_t>(width) * 3); break;
      case 32: std::memcpy(d, row.data(), static_cast<size_t>(width) * 4); break;
    }
  }
  return pix;
}

// ---- TGA ----

namespace {

// One stored TGA pixel to blue, green, red, alpha.
inline void TgaPixel(const uint8_t* p, int bits, uint8_t* bgra) {
  switch (bits) {
    case 15:
    case 16: {
      const int v = p[0] | (p[1] << 8);
      bgra[0] = static_cast<uint8_t>((v & 31) << 3);
      bgra[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
      bgra[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
      bgra[3] = (bits == 16 && (v & 0x8000)) ? 0 : 255;
      break;
    }
    case 24: bgra[0] = p[0]; bgra[1] = p[1]; bgra[2] = p[2]; bgra[3] = 255; break;
    default: bgra[0] = p[0]; bgra[1] = p[1]; bgra[2] = p[2]; bgra[3] = p[3]; break;
  }
}

}  // namespace

TPixmapPtr TPixmapLoaderTGA::LoadPixmap(const TStreamPtr& sp) {
  TStream& s = *sp;
  uint8_t h[18];
  if (!ReadExact(s, h, 18)) return nullptr;
  const int idLength = h[0], mapType = h[1], imageType = h[2];
  const int width = Le16(h + 12), height = Le16(h + 14);
  const int bits = h[16], descriptor = h[17];
  if (mapType != 0 || (imageType != 2 && imageType != 10)) return nullptr;
  if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  if (width < 1 || width > 4096 || height < 1 || height > 4096) return nullptr;
  const int format = (bits == 16 || bits == 32) ? PIXFMT_RGBA8888 : PIXFMT_RGB888;
  const int stored = (bits + 7) / 8;
  if (idLength > 0) {
    uint8_t skip[255];
    if (!ReadExact(s, skip, idLength)) return nullptr;
  }
  // Stored data needed at least: every pixel for raw data, one packet per 128 for RLE.
  const int64_t pixels = static_cast<int64_t>(width) * height;
  const int64_t minBytes = imageType == 2 ? pixels * stored : (pixels + 127) / 128 * (1 + stored);
  const int64_t left = s.Remaining();
  if (left >= 0 && minBytes > left) return nullptr;

  auto pix = TPixmap::Create(width, height, format, 4);
  const bool topDown = (descriptor & 0x20) != 0;  // origin at the top left
  std::vector<uint8_t> raw(static_cast<size_t>(width) * stored);
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * 4);
  // RLE state carried across rows: packets that run past a row's end continue on the next.
  int runLeft = 0;
  bool runRepeat = false;
  uint8_t runPixel[4] = {};
  for (int r = 0; r < height; ++r) {
    if (imageType == 2) {
      if (!ReadExact(s, raw.data(), static_cast<int>(raw.size()))) return nullptr;
      for (int x = 0; x < width; ++x) TgaPixel(raw.data() + x * stored, bits, bgra.data() + x * 4);
    } else {
      for (int x = 0; x < width; ++x) {
        if (runLeft == 0) {
          uint8_t hdr;
          if (!ReadExact(s, &hdr, 1)) return nullptr;
          runRepeat = (hdr & 0x80) != 0;
          runLeft = runRepeat ? hdr - 127 : hdr + 1;
          if (runRepeat) {
            uint8_t p[4];
            if (!ReadExact(s, p, stored)) return nullptr;
            TgaPixel(p, bits, runPixel);
          }
        }
        if (runRepeat) {
          std::memcpy(bgra.data() + x * 4, runPixel, 4);
        } else {
          uint8_t p[4];
          if (!ReadExact(s, p, stored)) return nullptr;
          TgaPixel(p, bits, bgra.data() + x * 4);
        }
        --runLeft;
      }
    }
    ConvertPixelRow(bgra.data(), PIXFMT_BGRA8888, pix->PixelPtr(0, topDown ? r : height - 1 - r),
                    format, width);
  }
  return pix;
}

// ---- module ----

void InitPixmapModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitStreamModule();
  TPixmapLoader::Add(std::make_shared<TPixmapLoaderBMP>());
  TPixmapLoader::Add(std::make_shared<TPixmapLoaderJPG>());
  TPixmapLoader::Add(std::make_shared<TPixmapLoaderPNG>());
  TPixmapLoader::Add(std::make_shared<TPixmapLoaderTGA>());
}
