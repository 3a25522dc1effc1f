// Helpers shared by the pixmap loaders and writers (not part of the public interface).
#pragma once

#include <cstdint>

#include "graphics/pixmap.h"

class TStream;

namespace pixmap_io {

// Reads exactly count bytes; false when the stream ends or fails first.
bool ReadExact(TStream& stream, void* buf, int count);
// Bytes left from the current position, or -1 when the stream cannot tell.
int64_t Remaining(TStream& stream);
// True when a width x height image of bytesPerPixel may be allocated: both sides in
// 1..MAX_PIXMAP_SIDE and, when the stream can tell, no more bytes than the stream could
// fill at the given expansion ratio (decoded bytes per stored byte).
bool SizeAcceptable(TStream& stream, int64_t width, int64_t height, int bytesPerPixel,
                    int64_t expansion);

}  // namespace pixmap_io
