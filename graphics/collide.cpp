#include <ormix/graphics/collide.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>

namespace {

// One shape in the collision layers: corners relative to the drawing point, the matrix
// and the drawing point, the pixels (null for a solid rectangle) and the caller's id.
struct Quad {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  float ix = 1, iy = 0, jx = 0, jy = 1;
  float tx = 0, ty = 0;
  TPixmapPtr pixmap;
  TObjectPtr id;
  // Derived: the inverse matrix and the bounding box on the screen.
  float det = 1;
  float minX = 0, minY = 0, maxX = 0, maxY = 0;

  void Finish() {
    det = ix * jy - iy * jx;
    const float xs[2] = {x0, x1}, ys[2] = {y0, y1};
    minX = minY = INFINITY;
    maxX = maxY = -INFINITY;
    for (float x : xs) {
      for (float y : ys) {
        const float sx = x * ix + y * iy + tx, sy = x * jx + y * jy + ty;
        minX = std::min(minX, sx);
        maxX = std::max(maxX, sx);
        minY = std::min(minY, sy);
        maxY = std::max(maxY, sy);
      }
    }
  }

  // Whether the screen point (sx, sy) falls on a solid pixel of the shape.
  bool SolidAt(float sx, float sy) const {
    if (det == 0 || x1 == x0 || y1 == y0) return false;
    const float dx = sx - tx, dy = sy - ty;
    const float u = (jy * dx - iy * dy) / det;
    const float v = (ix * dy - jx * dx) / det;
    const float fx = (u - x0) / (x1 - x0), fy = (v - y0) / (y1 - y0);
    if (!(fx >= 0 && fx < 1 && fy >= 0 && fy < 1)) return false;
    if (!pixmap) return true;
    const int px = std::min(pixmap->width - 1, static_cast<int>(fx * pixmap->width));
    const int py = std::min(pixmap->height - 1, static_cast<int>(fy * pixmap->height));
    return (pixmap->ReadPixel(px, py) >> 24) >= 128;
  }
};
using QuadPtr = std::shared_ptr<const Quad>;

struct CollisionState {
  std::array<std::vector<QuadPtr>, 32> layers;
  float ix = 1, iy = 0, jx = 0, jy = 1;
};

CollisionState& State() {
  static CollisionState state;
  return state;
}

// Whether two shapes share a solid pixel, sampled at the pixel centres of the screen.
bool Overlap(const Quad& a, const Quad& b) {
  const float minX = std::max(a.minX, b.minX), maxX = std::min(a.maxX, b.maxX);
  const float minY = std::max(a.minY, b.minY), maxY = std::min(a.maxY, b.maxY);
  if (!(minX < maxX && minY < maxY)) return false;
  const int x0 = static_cast<int>(std::floor(minX)), x1 = static_cast<int>(std::ceil(maxX));
  const int y0 = static_cast<int>(std::floor(minY)), y1 = static_cast<int>(std::ceil(maxY));
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const float sx = x + 0.5f, sy = y + 0.5f;
      if (a.SolidAt(sx, sy) && b.SolidAt(sx, sy)) return true;
    }
  }
  return false;
}

// The drawing state that places shapes: origin and drawing handle of the current context.
void Placement(float& ox, float& oy, float& hx, float& hy) {
  TVex2DGraphicsPtr c = TVex2DGraphics::Current();
  ox = c ? c->origin_x : 0;
  oy = c ? c->origin_y : 0;
  hx = c ? c->handle_x : 0;
  hy = c ? c->handle_y : 0;
}

Quad ImageQuad(const TImagePtr& image, float x, float y, int frame, float ox, float oy) {
  Quad q;
  q.x0 = -image->handle_x;
  q.y0 = -image->handle_y;
  q.x1 = image->width - image->handle_x;
  q.y1 = image->height - image->handle_y;
  q.tx = x + ox;
  q.ty = y + oy;
  q.pixmap = image->Lock(frame, 1, 0);
  return q;
}

std::vector<TObjectPtr> TestAndWrite(Quad q, uint32_t testMask, uint32_t writeMask,
                                     TObjectPtr id) {
  CollisionState& s = State();
  q.ix = s.ix;
  q.iy = s.iy;
  q.jx = s.jx;
  q.jy = s.jy;
  q.id = std::move(id);
  q.Finish();
  std::vector<TObjectPtr> hits;
  std::vector<const Quad*> seen;
  for (int layer = 0; layer < 32; ++layer) {
    if (!(testMask & (1u << layer))) continue;
    for (const QuadPtr& other : s.layers[static_cast<size_t>(layer)]) {
      if (std::find(seen.begin(), seen.end(), other.get()) != seen.end()) continue;
      if (Overlap(q, *other)) {
        seen.push_back(other.get());
        hits.push_back(other->id);
      }
    }
  }
  if (writeMask) {
    auto stored = std::make_shared<const Quad>(std::move(q));
    for (int layer = 0; layer < 32; ++layer) {
      if (writeMask & (1u << layer)) s.layers[static_cast<size_t>(layer)].push_back(stored);
    }
  }
  return hits;
}

}  // namespace

void SetCollisionTransform(float ix, float iy, float jx, float jy) {
  CollisionState& s = State();
  s.ix = ix;
  s.iy = iy;
  s.jx = jx;
  s.jy = jy;
}

void ClearCollisionLayers(uint32_t mask) {
  CollisionState& s = State();
  for (int layer = 0; layer < 32; ++layer) {
    if (mask & (1u << layer)) s.layers[static_cast<size_t>(layer)].clear();
  }
}

std::vector<TObjectPtr> CollideWithImage(const TImagePtr& image, float x, float y, int frame,
                                         uint32_t testMask, uint32_t writeMask, TObjectPtr id) {
  if (!image || frame < 0 || frame >= image->FrameCount()) return {};
  float ox, oy, hx, hy;
  Placement(ox, oy, hx, hy);
  return TestAndWrite(ImageQuad(image, x, y, frame, ox, oy), testMask, writeMask, std::move(id));
}

std::vector<TObjectPtr> CollideWithRect(float x, float y, float width, float height,
                                        uint32_t testMask, uint32_t writeMask, TObjectPtr id) {
  float ox, oy, hx, hy;
  Placement(ox, oy, hx, hy);
  Quad q;
  q.x0 = hx;
  q.y0 = hy;
  q.x1 = hx + width;
  q.y1 = hy + height;
  q.tx = x + ox;
  q.ty = y + oy;
  return TestAndWrite(std::move(q), testMask, writeMask, std::move(id));
}

bool ImagesOverlap(const TImagePtr& image1, float x1, float y1, int frame1,
                   const TImagePtr& image2, float x2, float y2, int frame2) {
  if (!image1 || !image2) return false;
  if (frame1 < 0 || frame1 >= image1->FrameCount() || frame2 < 0 ||
      frame2 >= image2->FrameCount()) {
    return false;
  }
  Quad a = ImageQuad(image1, x1, y1, frame1, 0, 0);
  Quad b = ImageQuad(image2, x2, y2, frame2, 0, 0);
  a.Finish();
  b.Finish();
  return Overlap(a, b);
}
