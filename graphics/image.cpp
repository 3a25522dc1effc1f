// Images: CPU-side pixmaps per frame and renderer frames made lazily per graphics
// generation.
#include <ormix/graphics/image.h>

#include <cstring>

#include "pixmap_io.h"
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/stream/stream.h>

namespace {

struct TImageSettings {
  int maskR = 0, maskG = 0, maskB = 0;
  int autoCenter = 0;
  int defaultFlags = IMG_MASKED | IMG_FILTERED;
};

TImageSettings& Settings() {
  static TImageSettings s;
  return s;
}

bool ValidIndex(const TImage& image, int index) { return index >= 0 && index < image.FrameCount(); }

int ResolveFlags(int flags) { return flags == -1 ? Settings().defaultFlags : flags; }

// Applies the module settings that every loading function shares.
TImagePtr Finish(TImagePtr image) {
  if (image && Settings().autoCenter) CenterImageAnchor(image);
  return image;
}

}  // namespace

TImagePtr TImage::Create(int width, int height, int frames, int flags, int r, int g, int b) {
  if (frames < 0) frames = 0;
  auto image = std::make_shared<TImage>();
  image->width = width;
  image->height = height;
  image->flags = flags;
  image->mask_r = r;
  image->mask_g = g;
  image->mask_b = b;
  image->pixmaps.assign(frames, nullptr);
  image->frames.assign(frames, nullptr);
  image->seqs.assign(frames, 0);
  return image;
}

void TImage::SetPixmap(int index, const TPixmapPtr& pixmap) {
  if (!ValidIndex(*this, index)) return;
  TPixmapPtr p = pixmap;
  if (p && (flags & IMG_MASKED) && PixelFormatAlphaBits(p->format) == 0)
    p = KeyOutColor(p, mask_r, mask_g, mask_b);
  pixmaps[index] = p;
  seqs[index] = 0;
  frames[index] = nullptr;
}

TPixmapPtr TImage::Lock(int index, int /*read*/, int write) {
  if (!ValidIndex(*this, index)) return nullptr;
  if (write) {
    seqs[index] = 0;
    frames[index] = nullptr;
  }
  if (!pixmaps[index]) pixmaps[index] = TPixmap::Create(width, height, PIXFMT_RGBA8888, 4);
  return pixmaps[index];
}

TImageFramePtr TImage::Frame(int index) {
  if (!ValidIndex(*this, index)) return nullptr;
  const int generation = GraphicsGeneration();
  if (seqs[index] != generation) {
    TVex2DDriver* renderer = CurrentRenderer();
    TImageFramePtr frame = renderer ? renderer->CreateFrameFromPixmap(Lock(index, 1, 0), flags) : nullptr;
    frames[index] = frame;
    seqs[index] = frame ? generation : 0;
  }
  return frames[index];
}

TImagePtr TImage::Load(const TPixmapPtr& pixmap, int flags, int r, int g, int b) {
  if (!pixmap) return nullptr;
  TImagePtr image = Create(pixmap->width, pixmap->height, 1, flags, r, g, b);
  image->SetPixmap(0, pixmap);
  return image;
}

TImagePtr TImage::Load(const Text& url, int flags, int r, int g, int b) {
  return Load(OpenPixmap(url), flags, r, g, b);
}

TImagePtr TImage::Load(const TStreamPtr& stream, int flags, int r, int g, int b) {
  return Load(OpenPixmap(stream), flags, r, g, b);
}

TImagePtr TImage::LoadAnim(const TPixmapPtr& pixmap, int cellWidth, int cellHeight, int firstCell,
                           int cellCount, int flags, int r, int g, int b) {
  if (!pixmap || cellWidth <= 0 || cellHeight <= 0 || firstCell < 0 || cellCount < 0) return nullptr;
  const int columns = pixmap->width / cellWidth;
  const int rows = pixmap->height / cellHeight;
  if (static_cast<int64_t>(columns) * rows < static_cast<int64_t>(firstCell) + cellCount) return nullptr;
  TImagePtr image = Create(cellWidth, cellHeight, cellCount, flags, r, g, b);
  for (int i = firstCell; i < firstCell + cellCount; ++i) {
    TPixmapPtr cell = pixmap->Window(cellWidth * (i % columns), cellHeight * (i / columns), cellWidth, cellHeight);
    image->SetPixmap(i - firstCell, cell->Copy());
  }
  return image;
}

TImagePtr TImage::LoadAnim(const Text& url, int cellWidth, int cellHeight, int firstCell, int cellCount,
                           int flags, int r, int g, int b) {
  TPixmapPtr pixmap = OpenPixmap(url);
  if (!pixmap) return nullptr;
  return LoadAnim(pixmap, cellWidth, cellHeight, firstCell, cellCount, flags, r, g, b);
}

void TImage::WriteData(TStream& stream) {
  stream.WriteInt(width);
  stream.WriteInt(height);
  stream.WriteInt(flags);
  stream.WriteInt(mask_r);
  stream.WriteInt(mask_g);
  stream.WriteInt(mask_b);
  stream.WriteFloat(handle_x);
  stream.WriteFloat(handle_y);
  stream.WriteInt(FrameCount());
  for (int i = 0; i < FrameCount(); ++i) {
    TPixmapPtr p = pixmaps[i];
    if (!p) {
      // Locking would store a pixmap of unspecified contents: write a cleared one instead.
      p = TPixmap::Create(width, height, PIXFMT_RGBA8888, 4);
      p->ClearPixels(0);
    }
    p->WriteData(stream);
  }
}

TImagePtr TImage::ReadData(TStream& stream) {
  auto image = std::make_shared<TImage>();
  return image->ReadDataInto(stream) ? image : nullptr;
}

bool TImage::ReadDataInto(TStream& stream) {
  // Width, height, flags, the mask colour, the handle (two floats) and the frame count.
  int32_t head[9];
  if (!pixmap_io::ReadFields(stream, head, 9)) return false;
  const int w = head[0], h = head[1], f = head[2], r = head[3], g = head[4], b = head[5];
  float hx, hy;  // the floats' bits as stored
  std::memcpy(&hx, &head[6], sizeof hx);
  std::memcpy(&hy, &head[7], sizeof hy);
  const int count = head[8];
  if (w < 0 || h < 0 || w > MAX_PIXMAP_SIDE || h > MAX_PIXMAP_SIDE || count < 0) return false;
  // Each frame needs at least its 12-byte pixmap header.
  const int64_t left = stream.Remaining();
  if (left >= 0 && static_cast<int64_t>(count) * 12 > left) return false;
  std::vector<TPixmapPtr> read;
  for (int i = 0; i < count; ++i) {
    TPixmapPtr p = TPixmap::ReadData(stream);
    if (!p) return false;
    read.push_back(p);  // stored as written: masking was applied before saving
  }
  width = w;
  height = h;
  flags = f;
  mask_r = r;
  mask_g = g;
  mask_b = b;
  handle_x = hx;
  handle_y = hy;
  pixmaps = std::move(read);
  frames.assign(count, nullptr);
  seqs.assign(count, 0);
  return true;
}

TDataType* TImage::DataType() { return ImageDataType(); }

TImageDataType* ImageDataType() {
  static TImageDataType type;
  return &type;
}

// ---- module settings and global functions ----

void SetImageMaskColor(int red, int green, int blue) {
  Settings().maskR = red;
  Settings().maskG = green;
  Settings().maskB = blue;
}

void GetImageMaskColor(int& red, int& green, int& blue) {
  red = Settings().maskR;
  green = Settings().maskG;
  blue = Settings().maskB;
}

void SetAutoCenterAnchor(int enable) { Settings().autoCenter = enable ? 1 : 0; }
int GetAutoCenterAnchor() { return Settings().autoCenter; }

void SetDefaultImageFlags(int flags) {
  if (flags != -1) Settings().defaultFlags = flags;
}
int GetDefaultImageFlags() { return Settings().defaultFlags; }

TImagePtr LoadImageFile(const TPixmapPtr& pixmap, int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::Load(pixmap, ResolveFlags(flags), s.maskR, s.maskG, s.maskB));
}
TImagePtr LoadImageFile(const Text& url, int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::Load(url, ResolveFlags(flags), s.maskR, s.maskG, s.maskB));
}
TImagePtr LoadImageFile(const std::string& url, int flags) { return LoadImageFile(ToText(url), flags); }
TImagePtr LoadImageFile(const char* url, int flags) { return LoadImageFile(ToText(url), flags); }
TImagePtr LoadImageFile(const TStreamPtr& stream, int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::Load(stream, ResolveFlags(flags), s.maskR, s.maskG, s.maskB));
}

TImagePtr LoadImageStrip(const TPixmapPtr& pixmap, int cellWidth, int cellHeight, int firstCell,
                         int cellCount, int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::LoadAnim(pixmap, cellWidth, cellHeight, firstCell, cellCount, ResolveFlags(flags),
                                 s.maskR, s.maskG, s.maskB));
}
TImagePtr LoadImageStrip(const Text& url, int cellWidth, int cellHeight, int firstCell, int cellCount,
                         int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::LoadAnim(url, cellWidth, cellHeight, firstCell, cellCount, ResolveFlags(flags),
                                 s.maskR, s.maskG, s.maskB));
}
TImagePtr LoadImageStrip(const std::string& url, int cellWidth, int cellHeight, int firstCell,
                         int cellCount, int flags) {
  return LoadImageStrip(ToText(url), cellWidth, cellHeight, firstCell, cellCount, flags);
}
TImagePtr LoadImageStrip(const char* url, int cellWidth, int cellHeight, int firstCell, int cellCount,
                         int flags) {
  return LoadImageStrip(ToText(url), cellWidth, cellHeight, firstCell, cellCount, flags);
}

TImagePtr NewImage(int width, int height, int frames, int flags) {
  const TImageSettings& s = Settings();
  return Finish(TImage::Create(width, height, frames, ResolveFlags(flags) | IMG_DYNAMIC, s.maskR, s.maskG,
                               s.maskB));
}

void SetImageAnchor(const TImagePtr& image, float x, float y) {
  image->handle_x = x;
  image->handle_y = y;
}

void CenterImageAnchor(const TImagePtr& image) {
  image->handle_x = static_cast<float>(image->width) * 0.5f;
  image->handle_y = static_cast<float>(image->height) * 0.5f;
}

int GetImageWidth(const TImagePtr& image) { return image->width; }
int GetImageHeight(const TImagePtr& image) { return image->height; }

TPixmapPtr LockImagePixels(const TImagePtr& image, int frame, int read, int write) {
  return image->Lock(frame, read, write);
}

void UnlockImagePixels(const TImagePtr&, int) {}

void InitImageModule() { InitPixmapModule(); }
