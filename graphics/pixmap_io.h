// Reading helpers shared by the pixmap loaders and writers (not part of the public interface).
#pragma once

#include <cstdint>

#include <ormix/graphics/pixmap.h>

class TStream;

namespace pixmap_io {

// Reads exactly count bytes; false when the stream ends or fails first.
bool ReadExact(TStream& stream, void* buf, int count);
// Reads count 32-bit fields with ReadInt (in the stream's byte order); false when the
// stream ends first, where a typed read would quietly give 0 for the missing bytes.
bool ReadFields(TStream& stream, int32_t* fields, int count);
// True when both sides are in 1..MAX_PIXMAP_SIDE.
bool SidesAcceptable(int64_t width, int64_t height);

}  // namespace pixmap_io
