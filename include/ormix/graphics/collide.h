#pragma once
// Image collisions: 32 collision layers selected by bit masks. Each layer keeps the
// quads written into it by the Collide... calls, placed exactly as the matching drawing
// call would draw them (drawing matrix, origin, drawing handle or image handle). A test
// reports every quad of the tested layers that shares an opaque pixel with the new shape.
// Not drawn: the layers only remember where things are.
#include <cstdint>
#include <vector>

#include <ormix/graphics/draw2d.h>
#include <ormix/system/event.h>

// Empties the layers whose bits are set in mask.
void ClearCollisionLayers(uint32_t mask = 0xFFFFFFFFu);

// Tests the image frame, placed as BlitImage(image, x, y, frame) would draw it, against
// the quads of the layers in testMask and returns the ids of those it touches (pixels
// whose alpha is at least 128 count as solid). Then writes it, with id, into the layers
// in writeMask.
std::vector<TObjectPtr> CollideWithImage(const TImagePtr& image, float x, float y, int frame,
                                         uint32_t testMask, uint32_t writeMask,
                                         TObjectPtr id = nullptr);
// The same for a solid rectangle placed as FillRect(x, y, width, height) would draw it.
std::vector<TObjectPtr> CollideWithRect(float x, float y, float width, float height,
                                        uint32_t testMask, uint32_t writeMask,
                                        TObjectPtr id = nullptr);

// Whether two image frames, placed untransformed at their handles, share a solid pixel.
bool ImagesOverlap(const TImagePtr& image1, float x1, float y1, int frame1,
                   const TImagePtr& image2, float x2, float y2, int frame2);

// The matrix collision quads are placed with (kept equal to the drawing matrix).
void SetCollisionTransform(float ix, float iy, float jx, float jy);
