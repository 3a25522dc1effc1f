// Collision layers: shapes placed as the drawing calls place them, masks, pixel tests.
#include <ormix/graphics/collide.h>

#include <gtest/gtest.h>

#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>

namespace {

class Collide : public ::testing::Test {
protected:
  void SetUp() override {
    // A 2D context without a renderer: only its drawing state matters here.
    context = std::make_shared<TVex2DGraphics>();
    context->viewport_w = 640;
    context->viewport_h = 480;
    context->MakeCurrent();
    ClearCollisionLayers();
  }
  void TearDown() override {
    ClearCollisionLayers();
    TVex2DGraphics::ClearCurrent();
  }
  static TObjectPtr Id(int n) { return std::make_shared<int>(n); }
  static int Num(const TObjectPtr& id) { return *static_cast<int*>(id.get()); }
  // Ids hit by a probe rectangle (tested against every layer, written nowhere).
  static std::vector<int> Probe(float x, float y, float w, float h, uint32_t mask = ~0u) {
    std::vector<int> ids;
    for (const TObjectPtr& id : CollideWithRect(x, y, w, h, mask, 0)) ids.push_back(Num(id));
    return ids;
  }
  TVex2DGraphicsPtr context;
};

using Ids = std::vector<int>;

TEST_F(Collide, RectanglesMeetOnlyWhenTheyShareAPixel) {
  CollideWithRect(0, 0, 10, 10, 0, 1, Id(7));
  EXPECT_EQ(Probe(9, 9, 5, 5), Ids{7});
  EXPECT_EQ(Probe(10, 0, 5, 5), Ids{});   // touching edges share no pixel
  EXPECT_EQ(Probe(-3, -3, 3, 20), Ids{});
  EXPECT_EQ(Probe(2, 2, 1, 1), Ids{7});
}

TEST_F(Collide, MasksSelectLayers) {
  CollideWithRect(0, 0, 10, 10, 0, 1, Id(1));        // layer 0
  CollideWithRect(0, 0, 10, 10, 0, 2 | 4, Id(2));    // layers 1 and 2
  EXPECT_EQ(Probe(5, 5, 1, 1, 1), Ids{1});
  EXPECT_EQ(Probe(5, 5, 1, 1, 2 | 4), Ids{2}) << "a shape in two tested layers counts once";
  EXPECT_EQ(Probe(5, 5, 1, 1, 8), Ids{});
  // A test also writes: the new shape is seen by the next one.
  EXPECT_EQ(CollideWithRect(5, 5, 1, 1, 1, 8, Id(3)).size(), 1u);
  EXPECT_EQ(Probe(5, 5, 1, 1, 8), Ids{3});
  ClearCollisionLayers(1);
  EXPECT_EQ(Probe(5, 5, 1, 1), (Ids{2, 3}));
}

TEST_F(Collide, TransparentPixelsOfImagesDoNotCollide) {
  // Left half opaque, right half transparent.
  TImagePtr image = NewImage(10, 10, 1, 0);
  TPixmapPtr p = LockImagePixels(image, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) p->WritePixel(x, y, x < 5 ? 0xFFFFFFFFu : 0x00FFFFFFu);
  CollideWithImage(image, 100, 100, 0, 0, 1, Id(4));
  EXPECT_EQ(Probe(103, 100, 2, 2), Ids{4});
  EXPECT_EQ(Probe(106, 100, 4, 10), Ids{});
  // Its anchor places it like drawing does.
  ClearCollisionLayers();
  SetImageAnchor(image, 5, 5);
  CollideWithImage(image, 100, 100, 0, 0, 1, Id(5));
  EXPECT_EQ(Probe(95, 95, 1, 1), Ids{5});
  EXPECT_EQ(Probe(100, 95, 5, 5), Ids{});
}

TEST_F(Collide, ShapesFollowTheDrawingState) {
  SetDrawRotation(90);
  CollideWithRect(50, 50, 10, 5, 0, 1, Id(6));
  SetDrawRotation(0);
  // Turned by 90 degrees the rectangle spans x 45..50 and y 50..60.
  EXPECT_EQ(Probe(47, 58, 1, 1), Ids{6});
  EXPECT_EQ(Probe(52, 52, 1, 1), Ids{});

  ClearCollisionLayers();
  SetDrawOrigin(100, 0);
  SetDrawHandle(8, 8);
  CollideWithRect(0, 20, 16, 16, 0, 1, Id(8));  // covers x 92..108, y 12..28
  SetDrawOrigin(0, 0);
  SetDrawHandle(0, 0);
  EXPECT_EQ(Probe(92, 12, 1, 1), Ids{8});
  EXPECT_EQ(Probe(107, 27, 1, 1), Ids{8});
  EXPECT_EQ(Probe(108, 20, 1, 1), Ids{});
  EXPECT_EQ(Probe(91, 20, 1, 1), Ids{});

  ClearCollisionLayers();
  SetDrawScale(2, 2);
  CollideWithRect(0, 0, 5, 5, 0, 1, Id(9));  // covers 0..10
  SetDrawScale(1, 1);
  EXPECT_EQ(Probe(9, 9, 1, 1), Ids{9});
  EXPECT_EQ(Probe(10, 10, 1, 1), Ids{});
}

TEST_F(Collide, ImagesOverlapPixelExactly) {
  // Two diagonal lines of an even size cross between pixels: their boxes overlap but no
  // pixel is shared until one moves by a pixel.
  TImagePtr a = NewImage(8, 8, 1, 0);
  TImagePtr b = NewImage(8, 8, 1, 0);
  LockImagePixels(a, 0)->ClearPixels(0);
  LockImagePixels(b, 0)->ClearPixels(0);
  for (int i = 0; i < 8; ++i) {
    LockImagePixels(a, 0)->WritePixel(i, i, 0xFFFFFFFFu);
    LockImagePixels(b, 0)->WritePixel(7 - i, i, 0xFFFFFFFFu);
  }
  EXPECT_FALSE(ImagesOverlap(a, 0, 0, 0, b, 0, 0, 0));
  EXPECT_TRUE(ImagesOverlap(a, 0, 0, 0, b, 1, 0, 0));  // (4, 4) is on both now
  EXPECT_TRUE(ImagesOverlap(a, 0, 0, 0, a, 3, 3, 0));
  EXPECT_FALSE(ImagesOverlap(a, 0, 0, 0, a, 3, 2, 0));
  EXPECT_FALSE(ImagesOverlap(a, 0, 0, 0, b, 0, 0, 1));   // no such frame
}

}  // namespace
