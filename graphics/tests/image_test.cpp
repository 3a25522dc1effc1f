// Images: loading, strips, masking, handles, flags, locking and serialisation.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>
#include <ormix/stream/bankstream.h>
#include <ormix/stream/stream.h>

namespace {

constexpr uint32_t kMagenta = 0xFFFF00FFu;

// Restores the module settings that a test changes.
class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    InitImageModule();
    SetImageMaskColor(0, 0, 0);
    SetAutoCenterAnchor(0);
    SetDefaultImageFlags(IMG_MASKED | IMG_FILTERED);
  }
  void TearDown() override { SetUp(); }
};

// A strip whose cell i is filled with the grey level i.
TPixmapPtr Strip(int w, int h, int cell) {
  TPixmapPtr p = NewPixmap(w, h, PIXFMT_RGB888);
  const int columns = w / cell;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t i = uint32_t((y / cell) * columns + x / cell);
      p->WritePixel(x, y, 0xFF000000u | i * 0x010101u);
    }
  return p;
}

TEST_F(Images, StripsCutCellsInReadingOrder) {
  TPixmapPtr strip = Strip(400, 160, 80);  // 5 columns, 2 rows of cells
  TImagePtr ten = LoadImageStrip(strip, 80, 80, 0, 10, 0);
  ASSERT_NE(ten, nullptr);
  EXPECT_EQ(ten->FrameCount(), 10);
  EXPECT_EQ(GetImageWidth(ten), 80);
  EXPECT_EQ(GetImageHeight(ten), 80);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(ten->pixmaps[i]->ReadPixel(0, 0), 0xFF000000u | uint32_t(i) * 0x010101u) << i;
    EXPECT_EQ(ten->pixmaps[i]->ReadPixel(79, 79), 0xFF000000u | uint32_t(i) * 0x010101u) << i;
    EXPECT_EQ(ten->seqs[i], 0);
    EXPECT_EQ(ten->frames[i], nullptr);
  }
  EXPECT_EQ(LoadImageStrip(strip, 80, 80, 0, 11, 0), nullptr);
  EXPECT_EQ(LoadImageStrip(strip, 80, 80, 3, 8, 0), nullptr);
  TImagePtr tail = LoadImageStrip(strip, 80, 80, 7, 3, 0);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->pixmaps[0]->ReadPixel(5, 5), 0xFF070707u);
  // Partial cells at the right and bottom do not count.
  TPixmapPtr ragged = Strip(250, 100, 80);
  EXPECT_NE(LoadImageStrip(ragged, 80, 80, 0, 3, 0), nullptr);
  EXPECT_EQ(LoadImageStrip(ragged, 80, 80, 0, 4, 0), nullptr);
  // Cells are copies: changing the strip afterwards changes nothing.
  strip->ClearPixels(0);
  EXPECT_EQ(ten->pixmaps[9]->ReadPixel(0, 0), 0xFF090909u);
}

TEST_F(Images, MaskingAppliesOnlyWithoutAlpha) {
  SetImageMaskColor(255, 0, 255);
  TPixmapPtr rgb = NewPixmap(2, 1, PIXFMT_RGB888);
  rgb->WritePixel(0, 0, kMagenta);
  rgb->WritePixel(1, 0, 0xFF0A141Eu);
  TImagePtr masked = LoadImageFile(rgb);  // default flags: masked and filtered
  ASSERT_NE(masked, nullptr);
  EXPECT_EQ(masked->flags, IMG_MASKED | IMG_FILTERED);
  EXPECT_EQ(masked->mask_r, 255);
  EXPECT_EQ(masked->mask_b, 255);
  EXPECT_EQ(masked->pixmaps[0]->format, PIXFMT_RGBA8888);
  EXPECT_EQ(masked->pixmaps[0]->ReadPixel(0, 0), 0x000A141Eu);

  TImagePtr plain = LoadImageFile(rgb, IMG_FILTERED);
  EXPECT_EQ(plain->pixmaps[0]->ReadPixel(0, 0), kMagenta);

  // A pixmap with its own alpha is left as it is.
  TPixmapPtr rgba = NewPixmap(2, 1, PIXFMT_RGBA8888);
  rgba->WritePixel(0, 0, kMagenta);
  rgba->WritePixel(1, 0, 0x800A141Eu);
  TImagePtr withAlpha = LoadImageFile(rgba, IMG_MASKED);
  EXPECT_EQ(withAlpha->pixmaps[0], rgba);
  EXPECT_EQ(withAlpha->pixmaps[0]->ReadPixel(0, 0), kMagenta);

  // The mask colour is the one current when the image is made.
  SetImageMaskColor(1, 2, 3);
  EXPECT_EQ(masked->mask_g, 0);
  EXPECT_EQ(LoadImageFile(rgb)->pixmaps[0]->ReadPixel(0, 0), kMagenta);
}

TEST_F(Images, StripMaskingDoesNotReachAcrossCells) {
  SetImageMaskColor(255, 0, 255);
  // Two 2 x 1 cells: (red, magenta) and (magenta, blue).
  TPixmapPtr p = NewPixmap(4, 1, PIXFMT_BGR888);
  p->WritePixel(0, 0, 0xFFC80000u);
  p->WritePixel(1, 0, kMagenta);
  p->WritePixel(2, 0, kMagenta);
  p->WritePixel(3, 0, 0xFF0000C8u);
  TImagePtr image = LoadImageStrip(p, 2, 1, 0, 2);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixmaps[0]->ReadPixel(1, 0), 0x00C80000u);
  EXPECT_EQ(image->pixmaps[1]->ReadPixel(0, 0), 0x000000C8u);
}

TEST_F(Images, FlagsHandlesAndCentring) {
  TPixmapPtr p = NewPixmap(32, 20, PIXFMT_RGBA8888);
  p->ClearPixels(0);
  SetDefaultImageFlags(-1);  // leaves the default alone
  EXPECT_EQ(GetDefaultImageFlags(), 3);
  SetDefaultImageFlags(IMG_FILTERED | IMG_MIPMAPPED);
  EXPECT_EQ(LoadImageFile(p)->flags, IMG_FILTERED | IMG_MIPMAPPED);
  EXPECT_EQ(LoadImageFile(p, 0)->flags, 0);
  EXPECT_EQ(NewImage(8, 8)->flags, IMG_FILTERED | IMG_MIPMAPPED | IMG_DYNAMIC);
  EXPECT_EQ(NewImage(8, 8, 2, IMG_MASKED)->flags, IMG_MASKED | IMG_DYNAMIC);

  TImagePtr plain = LoadImageFile(p);
  EXPECT_EQ(plain->handle_x, 0);
  EXPECT_EQ(plain->handle_y, 0);
  SetAutoCenterAnchor(1);
  TImagePtr centred = LoadImageFile(p);
  EXPECT_EQ(centred->handle_x, 16);
  EXPECT_EQ(centred->handle_y, 10);
  EXPECT_EQ(NewImage(5, 3)->handle_x, 2.5f);
  EXPECT_EQ(LoadImageStrip(p, 16, 10, 0, 4)->handle_y, 5);
  SetImageAnchor(centred, 1, 2);
  EXPECT_EQ(centred->handle_x, 1);
  EXPECT_EQ(centred->handle_y, 2);
  CenterImageAnchor(plain);
  EXPECT_EQ(plain->handle_x, 16);
}

TEST_F(Images, MissingOrUndecodableFilesGiveNull) {
  EXPECT_EQ(LoadImageFile("/nonexistent/image.png"), nullptr);
  EXPECT_EQ(LoadImageStrip("/nonexistent/image.png", 8, 8, 0, 1), nullptr);
  auto junk = TRamStream::FromBytes(std::vector<uint8_t>(64, 7));
  EXPECT_EQ(LoadImageFile(junk), nullptr);
  EXPECT_EQ(LoadImageFile(TPixmapPtr()), nullptr);
}

TEST_F(Images, LockMakesAndKeepsPixels) {
  TImagePtr image = NewImage(6, 4, 2);
  EXPECT_EQ(image->pixmaps[0], nullptr);
  TPixmapPtr p = LockImagePixels(image, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->format, PIXFMT_RGBA8888);
  EXPECT_EQ(p->width, 6);
  EXPECT_EQ(p->height, 4);
  EXPECT_EQ(image->pixmaps[1], p);
  EXPECT_EQ(LockImagePixels(image, 1, 1, 0), p);
  UnlockImagePixels(image, 1);
  EXPECT_EQ(image->pixmaps[0], nullptr);
  // Indices outside the image are refused instead of reaching past the arrays.
  EXPECT_EQ(image->Lock(2, 1, 1), nullptr);
  EXPECT_EQ(image->Lock(-1, 1, 1), nullptr);
  EXPECT_EQ(image->Frame(5), nullptr);
  image->SetPixmap(7, p);
}

TEST_F(Images, SetPixmapDropsTheRendererFrame) {
  TImagePtr image = NewImage(2, 2);
  image->seqs[0] = 5;
  image->SetPixmap(0, NewPixmap(2, 2, PIXFMT_RGBA8888));
  EXPECT_EQ(image->seqs[0], 0);
  image->seqs[0] = 5;
  image->Lock(0, 1, 0);
  EXPECT_EQ(image->seqs[0], 5);
  image->Lock(0, 0, 1);
  EXPECT_EQ(image->seqs[0], 0);
}

TEST_F(Images, SerialisesHeaderAndFrames) {
  TImagePtr image = NewImage(3, 2, 2, IMG_FILTERED);
  SetImageAnchor(image, 1.5f, -2.0f);
  for (int f = 0; f < 2; ++f) {
    TPixmapPtr p = LockImagePixels(image, f);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) p->WritePixel(x, y, uint32_t(0x01020304u * (x + 3 * y + 10 * f + 1)));
  }
  auto ram = TRamStream::FromBytes(std::vector<uint8_t>(1024), 1, 1);
  image->WriteData(*ram);
  ram->Seek(0);
  TImagePtr back = TImage::ReadData(*ram);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->width, 3);
  EXPECT_EQ(back->height, 2);
  EXPECT_EQ(back->flags, IMG_FILTERED | IMG_DYNAMIC);
  EXPECT_EQ(back->handle_x, 1.5f);
  EXPECT_EQ(back->handle_y, -2.0f);
  ASSERT_EQ(back->FrameCount(), 2);
  for (int f = 0; f < 2; ++f)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(back->pixmaps[f]->ReadPixel(x, y), image->pixmaps[f]->ReadPixel(x, y));

  // A frame count larger than the stream could hold is refused.
  ram->Seek(32);
  ram->WriteInt(1 << 30);
  ram->Seek(0);
  EXPECT_EQ(TImage::ReadData(*ram), nullptr);
}

::testing::AssertionResult SameImage(const TImagePtr& a, const TImagePtr& b) {
  if (!a || !b) return ::testing::AssertionFailure() << "null image";
  if (a->width != b->width || a->height != b->height || a->flags != b->flags || a->mask_r != b->mask_r ||
      a->mask_g != b->mask_g || a->mask_b != b->mask_b || a->handle_x != b->handle_x ||
      a->handle_y != b->handle_y || a->FrameCount() != b->FrameCount())
    return ::testing::AssertionFailure() << "fields differ";
  for (int f = 0; f < a->FrameCount(); ++f) {
    const TPixmapPtr &p = a->pixmaps[f], &q = b->pixmaps[f];
    if (!p || !q || p->width != q->width || p->height != q->height || p->format != q->format)
      return ::testing::AssertionFailure() << "frame " << f << " differs in shape";
    for (int y = 0; y < p->height; ++y)
      if (std::memcmp(p->PixelPtr(0, y), q->PixelPtr(0, y), size_t(p->width) * p->BytesPerPixel()) != 0)
        return ::testing::AssertionFailure() << "frame " << f << " row " << y << " differs";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(Images, DataTypeWritesAndReadsBackEqual) {
  TImagePtr image = TImage::Create(3, 2, 3, IMG_MASKED | IMG_MIPMAPPED, 255, 0, 255);
  SetImageAnchor(image, 1.25f, -7.5f);
  TPixmapPtr rgba = NewPixmap(3, 2, PIXFMT_RGBA8888);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) rgba->WritePixel(x, y, 0x10203040u * uint32_t(x + 3 * y + 1));
  image->pixmaps[0] = rgba;
  image->pixmaps[1] = NewPixmap(3, 2, PIXFMT_I8);  // stored as it is: no masking on reading
  image->pixmaps[1]->ClearPixels(0xFF808080u);
  // Frame 2 has no pixmap: it is written cleared, and the image is left as it was.
  TDataType* type = image->DataType();
  ASSERT_EQ(type, ImageDataType());
  EXPECT_EQ(ToUtf8(type->Tag()), "zrk.vex2d.TImage");
  TBankPtr bank = NewBank();
  type->WriteObject(*OpenUrlStream(bank, 0, 1), *image);
  EXPECT_EQ(image->pixmaps[2], nullptr);

  TImagePtr back = std::dynamic_pointer_cast<TImage>(type->ReadObject(*OpenUrlStream(bank, 1, 0)));
  ASSERT_NE(back, nullptr);
  TPixmapPtr cleared = NewPixmap(3, 2, PIXFMT_RGBA8888);
  cleared->ClearPixels(0);
  image->pixmaps[2] = cleared;
  EXPECT_TRUE(SameImage(back, image));
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(back->frames[f], nullptr);
    EXPECT_EQ(back->seqs[f], 0);
  }

  // Read into an image that exists already: it takes every field and frame.
  TImagePtr existing = NewImage(1, 1, 1);
  existing->seqs[0] = 4;
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(bank, 1, 0), *existing), 1);
  EXPECT_TRUE(SameImage(existing, image));
  EXPECT_EQ(existing->seqs.size(), 3u);
  EXPECT_EQ(existing->seqs[0], 0);

  // Data that ends early leaves it unchanged.
  TBankPtr cut = std::make_shared<TBank>(bank->begin(), bank->end() - 1);
  TImagePtr kept = NewImage(2, 2, 1);
  EXPECT_EQ(type->ReadCyclicObject(*OpenUrlStream(cut, 1, 0), *kept), 0);
  EXPECT_EQ(kept->width, 2);
  EXPECT_EQ(kept->FrameCount(), 1);
  EXPECT_EQ(type->ReadObject(*OpenUrlStream(cut, 1, 0)), nullptr);
  // So does a stored image without frames cut anywhere in its header: the missing fields
  // must not read as zeros.
  TImagePtr empty = TImage::Create(3, 2, 0, 0, 0, 0, 0);
  TBankPtr whole = NewBank();
  type->WriteObject(*OpenUrlStream(whole, 0, 1), *empty);
  ASSERT_EQ(whole->size(), 36u);
  for (size_t keep : {0u, 4u, 33u, 35u}) {
    TBankPtr part = std::make_shared<TBank>(whole->begin(), whole->begin() + keep);
    EXPECT_EQ(type->ReadObject(*OpenUrlStream(part, 1, 0)), nullptr) << keep << " bytes";
  }
}

TEST_F(Images, DataTypesRefuseObjectsOfAnotherType) {
  TImagePtr image = NewImage(1, 1);
  TPixmapPtr pixmap = NewPixmap(1, 1, PIXFMT_I8);
  TBankPtr bank = NewBank();
  auto out = OpenUrlStream(bank, 1, 1);
  EXPECT_THROW(ImageDataType()->WriteObject(*out, *pixmap), TRuntimeException);
  EXPECT_THROW(PixmapDataType()->WriteObject(*out, *image), TRuntimeException);
  EXPECT_TRUE(bank->empty());
  PixmapDataType()->WriteObject(*out, *pixmap);
  out->Seek(0);
  EXPECT_THROW(PixmapDataType()->ReadCyclicObject(*out, *image), TRuntimeException);
  EXPECT_THROW(ImageDataType()->ReadCyclicObject(*out, *pixmap), TRuntimeException);
}

}  // namespace
