// Pixmaps: rectangles of pixels in main memory in one of twelve byte layouts, the
// operations on them, and the loader chain that decodes image files into them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <ormix/runtime/text.h>
#include <ormix/stream/data.h>

class TStream;
using TStreamPtr = std::shared_ptr<TStream>;

// Pixel format codes (stored in every pixmap).
constexpr int PIXFMT_I8 = 1;        // intensity (grey)
constexpr int PIXFMT_A8 = 2;        // alpha, colour is white
constexpr int PIXFMT_BGR888 = 3;    // blue, green, red
constexpr int PIXFMT_RGB888 = 4;    // red, green, blue
constexpr int PIXFMT_BGRA8888 = 5;  // blue, green, red, alpha
constexpr int PIXFMT_RGBA8888 = 6;  // red, green, blue, alpha: the working format
// One-byte single-channel formats. Nothing the program loads or draws uses them; they hold
// one channel taken out of a picture, or bytes of the user's own meaning.
constexpr int PIXFMT_R8 = 7;       // red alone
constexpr int PIXFMT_G8 = 8;       // green alone
constexpr int PIXFMT_B8 = 9;       // blue alone
constexpr int PIXFMT_ALPHA8 = 10;  // alpha alone (unlike PIXFMT_A8, no colour implied)
constexpr int PIXFMT_USER8A = 11;  // a byte of the user's own meaning, no colour
constexpr int PIXFMT_USER8B = 12;  // a second one

// Bytes per pixel of a format, 0 for an unknown code.
int PixelFormatBytes(int format);
// Alpha bits of a format (0 or 8).
int PixelFormatAlphaBits(int format);
// Name of a format ("PIXFMT_RGBA8888" ...), "unknown" for other codes.
const char* PixelFormatName(int format);

// Largest side a pixmap may have; larger requests are refused.
constexpr int MAX_PIXMAP_SIDE = 16384;
// Most pixels a JPEG image may have (32 Mi, e.g. 8192 x 4096); a larger one is refused
// before anything is decoded or allocated for it.
constexpr int64_t MAX_JPEG_PIXELS = int64_t{1} << 25;

class TPixmap;
using TPixmapPtr = std::shared_ptr<TPixmap>;

class TPixmap : public TData, public std::enable_shared_from_this<TPixmap> {
 public:
  uint8_t* pixels = nullptr;  // first byte of row 0
  int width = 0;
  int height = 0;
  int pitch = 0;               // bytes from one row to the next
  int format = 0;              // pixel format code
  int capacity = -1;           // bytes owned, -1 when the memory belongs to someone else
  std::shared_ptr<void> _source;  // owner of the memory a window points into

  TPixmap() = default;
  TPixmap(const TPixmap&) = delete;
  TPixmap& operator=(const TPixmap&) = delete;

  int BytesPerPixel() const { return PixelFormatBytes(format); }
  uint8_t* PixelPtr(int x, int y) const {
    return pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x) * BytesPerPixel();
  }

  // A pixmap sharing the memory of the rectangle (clipped to this pixmap).
  TPixmapPtr Window(int x, int y, int w, int h);
  // A new pixmap of the same size and format, rows 4-byte aligned.
  TPixmapPtr Copy() const;
  // Copies source into this pixmap at (x, y), converting to this format; clipped.
  void Paste(const TPixmap& source, int x, int y);
  // A new pixmap in the given format (rows 4-byte aligned).
  TPixmapPtr Convert(int format) const;
  // Pixel values are ARGB (alpha in the top byte). Outside the pixmap: reads 0,
  // writes are ignored. For PIXFMT_USER8A/B reading, writing and clearing to anything but
  // 0 throw TRuntimeException (their bytes have no colour).
  uint32_t ReadPixel(int x, int y) const;
  void WritePixel(int x, int y, uint32_t argb);
  void ClearPixels(uint32_t argb);

  // Throws TRuntimeException for an unknown format, a side outside 0..16384 or an
  // alignment below 1.
  static TPixmapPtr Create(int width, int height, int format, int align = 4);
  // A pixmap over memory that belongs to the caller (capacity -1).
  static TPixmapPtr CreateStatic(void* pixels, int width, int height, int pitch, int format);

  // Serialisation: width, height, format (32-bit) then the rows without padding.
  TDataType* DataType() override;
  static const char* DataTypeTag() { return "ZRK.Pixmap.TPixmap"; }
  void WriteData(TStream& stream) const;
  // Null when the header is invalid or the stream ends early.
  static TPixmapPtr ReadData(TStream& stream);
  // Reads into this pixmap: a pixmap without pixels takes any size and format, one with
  // pixels only its own (the rows are read into its memory, so windows stay valid).
  // False, and the pixmap unchanged, when the data does not fit or is invalid.
  bool ReadDataInto(TStream& stream);

 private:
  std::unique_ptr<uint8_t[]> _block;  // owned pixel memory (capacity bytes)
};

// The data type of pixmaps (tag "ZRK.Pixmap.TPixmap").
class TPixmapDataType : public TDataTypeOf<TPixmap> {};
TPixmapDataType* PixmapDataType();

// Whether pixels of srcFormat convert to dstFormat. Every format converts to itself.
// Formats 1-6 convert among each other. R8, G8 and B8 take their channel from formats 1-6
// and become formats 3-6 with the other colours 0 (alpha 255); ALPHA8 takes the alpha of
// formats 1-6 (255 for those without) and becomes A8, BGRA8888 or RGBA8888 (colour black
// in the last two). Everything else (into I8 or A8 from a single colour, between two of
// formats 7-12, to or from the user formats) has no meaning and is refused.
bool CanConvertPixels(int srcFormat, int dstFormat);
// Converts count pixels from src (srcFormat) to dst (dstFormat). Unknown formats do
// nothing; a conversion CanConvertPixels refuses throws TRuntimeException naming both.
void ConvertPixelRow(const uint8_t* src, int srcFormat, uint8_t* dst, int dstFormat, int count);

TPixmapPtr NewPixmap(int width, int height, int format, int align = 4);
TPixmapPtr NewStaticPixmap(void* pixels, int width, int height, int pitch, int format);
TPixmapPtr DuplicatePixmap(const TPixmapPtr& p);
TPixmapPtr ReformatPixmap(const TPixmapPtr& p, int format);
int GetPixmapWidth(const TPixmapPtr& p);
int GetPixmapHeight(const TPixmapPtr& p);
int GetPixmapPitch(const TPixmapPtr& p);
int GetPixmapFormat(const TPixmapPtr& p);
uint8_t* PixmapPixelAddress(const TPixmapPtr& p, int x, int y);
TPixmapPtr PixmapSubWindow(const TPixmapPtr& p, int x, int y, int w, int h);
uint32_t ReadPixmapPixel(const TPixmapPtr& p, int x, int y);
void WritePixmapPixel(const TPixmapPtr& p, int x, int y, uint32_t argb);
void ClearPixmap(const TPixmapPtr& p, uint32_t argb);
TPixmapPtr MirrorPixmapX(const TPixmapPtr& p);
TPixmapPtr MirrorPixmapY(const TPixmapPtr& p);
// Bilinear resize; the result keeps the source's format.
TPixmapPtr ScalePixmap(const TPixmapPtr& p, int width, int height);
// The RGBA pixels of a texture of size tw x th holding p: p scaled down where it is larger,
// and where it is smaller its last column and row repeated outwards over the unused part,
// so that filtering never pulls in pixels from outside the image.
TPixmapPtr TexturePixels(const TPixmapPtr& p, int tw, int th);
// Format-6 copy where pixels of the key colour are transparent (colour averaged from
// their opaque neighbours) and every other pixel is opaque.
TPixmapPtr KeyOutColor(const TPixmapPtr& p, int red, int green, int blue);

// Decodes a file or stream url through the loader chain; null when nothing accepts it.
TPixmapPtr OpenPixmap(const Text& url);
TPixmapPtr OpenPixmap(const std::string& url);
TPixmapPtr OpenPixmap(const char* url);
TPixmapPtr OpenPixmap(const TStreamPtr& stream);

// Writers. They return true on success, false when the target cannot be opened or
// the encoder fails.
bool SavePixmapPNG(const TPixmapPtr& p, const TStreamPtr& stream, int compression = 5);
bool SavePixmapPNG(const TPixmapPtr& p, const Text& url, int compression = 5);
bool SavePixmapJPeg(const TPixmapPtr& p, const TStreamPtr& stream, int quality = 75);
bool SavePixmapJPeg(const TPixmapPtr& p, const Text& url, int quality = 75);

// Loader chain: the newest loader is asked first.
class TPixmapLoader;
using TPixmapLoaderPtr = std::shared_ptr<TPixmapLoader>;

class TPixmapLoader {
 public:
  virtual ~TPixmapLoader() = default;
  // Null when the stream is not in this loader's format or cannot be decoded.
  virtual TPixmapPtr LoadPixmap(const TStreamPtr& stream) = 0;

  TPixmapLoaderPtr _succ;
  // Links the loader at the front of the chain (a TRegistry, newest first) unless it is
  // already linked.
  static void Add(const TPixmapLoaderPtr& loader);
  static TPixmapLoaderPtr First();
};

class TPixmapLoaderBMP : public TPixmapLoader {
 public:
  TPixmapPtr LoadPixmap(const TStreamPtr& stream) override;
};
class TPixmapLoaderJPG : public TPixmapLoader {
 public:
  TPixmapPtr LoadPixmap(const TStreamPtr& stream) override;
};
class TPixmapLoaderPNG : public TPixmapLoader {
 public:
  TPixmapPtr LoadPixmap(const TStreamPtr& stream) override;
};
class TPixmapLoaderTGA : public TPixmapLoader {
 public:
  TPixmapPtr LoadPixmap(const TStreamPtr& stream) override;
};

// Registers the stream factories and the BMP, JPEG, PNG and TGA loaders (once).
void InitPixmapModule();
