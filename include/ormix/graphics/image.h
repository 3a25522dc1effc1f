// Images: equally sized frames kept as pixmaps on the CPU side and, once drawn, as
// renderer-side image frames that are remade whenever GraphicsGeneration changes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/text.h>

// Image flags.
constexpr int IMG_MASKED = 1;     // mask colour becomes transparent (images without alpha)
constexpr int IMG_FILTERED = 2;   // bilinear filtering when scaled
constexpr int IMG_MIPMAPPED = 4;  // mipmap levels
constexpr int IMG_DYNAMIC = 8;    // drawn into or changed at run time

// One renderer-side frame (a texture, a surface). Renderers derive from it.
class TImageFrame {
 public:
  virtual ~TImageFrame() = default;
  // Draws the frame stretched over (x0, y0)-(x1, y1), relative to the drawing point
  // (tx, ty) and transformed by the renderer's current matrix.
  virtual void Draw(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
};
using TImageFramePtr = std::shared_ptr<TImageFrame>;

class TImage;
using TImagePtr = std::shared_ptr<TImage>;

class TImage : public TData {
 public:
  int width = 0;
  int height = 0;
  int flags = 0;
  int mask_r = 0, mask_g = 0, mask_b = 0;
  float handle_x = 0, handle_y = 0;
  std::vector<TPixmapPtr> pixmaps;      // CPU-side pixels per frame
  std::vector<TImageFramePtr> frames;   // renderer-side frame per frame
  std::vector<int> seqs;                // generation each renderer frame was made in, 0 = make

  int FrameCount() const { return static_cast<int>(pixmaps.size()); }

  // The renderer frame for index, made by the current renderer when missing or stale;
  // null when the index is out of range or the renderer cannot make one.
  TImageFramePtr Frame(int index);
  // The pixmap of a frame (made in RGBA8888 when there is none yet). Writing drops the
  // renderer frame so the next draw rebuilds it. Null for an index out of range.
  TPixmapPtr Lock(int index, int read, int write);
  // Stores the pixmap (masked first when the image is masked and the pixmap has no
  // alpha). An index out of range is ignored.
  void SetPixmap(int index, const TPixmapPtr& pixmap);

  static TImagePtr Create(int width, int height, int frames, int flags, int r, int g, int b);
  static TImagePtr Load(const Text& url, int flags, int r, int g, int b);
  static TImagePtr Load(const TPixmapPtr& pixmap, int flags, int r, int g, int b);
  static TImagePtr Load(const TStreamPtr& stream, int flags, int r, int g, int b);
  static TImagePtr LoadAnim(const Text& url, int cellWidth, int cellHeight, int firstCell,
                            int cellCount, int flags, int r, int g, int b);
  static TImagePtr LoadAnim(const TPixmapPtr& pixmap, int cellWidth, int cellHeight,
                            int firstCell, int cellCount, int flags, int r, int g, int b);

  // Serialisation: width, height, flags, mask colour (32-bit ints), handle (floats),
  // frame count and the frames' pixmaps (a frame without one is written as a cleared
  // RGBA8888 pixmap of the image's size; the image itself is not changed). Pixmaps are
  // read back as they were written: masking is not applied again.
  TDataType* DataType() override;
  static const char* DataTypeTag() { return "zrk.vex2d.TImage"; }
  void WriteData(TStream& stream);
  // Null when the data is invalid or ends early.
  static TImagePtr ReadData(TStream& stream);
  // Replaces this image's fields and frames with those read; false, and the image
  // unchanged, when the data is invalid or ends early.
  bool ReadDataInto(TStream& stream);
};

// The data type of images (tag "zrk.vex2d.TImage").
class TImageDataType : public TDataTypeOf<TImage> {};
TImageDataType* ImageDataType();

// Module settings for loading images.
void SetImageMaskColor(int red, int green, int blue);
void GetImageMaskColor(int& red, int& green, int& blue);
void SetAutoCenterAnchor(int enable);
int GetAutoCenterAnchor();
void SetDefaultImageFlags(int flags);  // -1 leaves the default unchanged
int GetDefaultImageFlags();

// Flags -1 means the default image flags. Null when nothing loads.
TImagePtr LoadImageFile(const Text& url, int flags = -1);
TImagePtr LoadImageFile(const std::string& url, int flags = -1);
TImagePtr LoadImageFile(const char* url, int flags = -1);
TImagePtr LoadImageFile(const TPixmapPtr& pixmap, int flags = -1);
TImagePtr LoadImageFile(const TStreamPtr& stream, int flags = -1);
TImagePtr LoadImageStrip(const Text& url, int cellWidth, int cellHeight, int firstCell,
                         int cellCount, int flags = -1);
TImagePtr LoadImageStrip(const std::string& url, int cellWidth, int cellHeight, int firstCell,
                         int cellCount, int flags = -1);
TImagePtr LoadImageStrip(const char* url, int cellWidth, int cellHeight, int firstCell,
                         int cellCount, int flags = -1);
TImagePtr LoadImageStrip(const TPixmapPtr& pixmap, int cellWidth, int cellHeight,
                         int firstCell, int cellCount, int flags = -1);
TImagePtr NewImage(int width, int height, int frames = 1, int flags = -1);

void SetImageAnchor(const TImagePtr& image, float x, float y);
void CenterImageAnchor(const TImagePtr& image);
int GetImageWidth(const TImagePtr& image);
int GetImageHeight(const TImagePtr& image);
TPixmapPtr LockImagePixels(const TImagePtr& image, int frame = 0, int read = 1, int write = 1);
void UnlockImagePixels(const TImagePtr& image, int frame = 0);

// Registers the pixmap loaders (once).
void InitImageModule();
