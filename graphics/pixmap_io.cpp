// Reading helpers shared by the pixmap loaders, the pixmap data format and image files.
#include "pixmap_io.h"

#include <ormix/graphics/pixmap.h>
#include <ormix/stream/stream.h>

namespace pixmap_io {

bool ReadExact(TStream& stream, void* buf, int count) {
  auto* p = static_cast<uint8_t*>(buf);
  while (count > 0) {
    const int n = stream.Read(p, count);
    if (n <= 0) return false;
    p += n;
    count -= n;
  }
  return true;
}

bool ReadFields(TStream& stream, int32_t* fields, int count) {
  const int64_t left = stream.Remaining();
  if (left >= 0 && left < int64_t{4} * count) return false;
  for (int i = 0; i < count; ++i) {
    if (stream.Eof()) return false;
    fields[i] = stream.ReadInt();
  }
  return true;
}

bool SidesAcceptable(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= MAX_PIXMAP_SIDE && height <= MAX_PIXMAP_SIDE;
}

}  // namespace pixmap_io
