// Reading helpers of the song loaders.
#include "format_io.h"

#include <algorithm>
#include <cstring>

#include <ormix/stream/stream.h>

uint8_t TByteCursor::U8() {
  uint8_t v = 0;
  Bytes(&v, 1);
  return v;
}

uint16_t TByteCursor::U16LE() {
  uint8_t b[2];
  Bytes(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint16_t TByteCursor::U16BE() {
  uint8_t b[2];
  Bytes(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TByteCursor::U32LE() {
  uint8_t b[4];
  Bytes(b, 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void TByteCursor::Bytes(uint8_t* out, uint64_t count) {
  uint64_t have = Remaining();
  uint64_t n = std::min(have, count);
  if (n) std::memcpy(out, _bytes.data() + _pos, n);
  if (n < count) std::memset(out + n, 0, count - n);
  _pos += count;
}

Text TByteCursor::Name(uint64_t count) {
  Text t;
  t.reserve(count);
  for (uint64_t i = 0; i < count; ++i) t.push_back(U8());
  return TrimControl(t);
}

const uint8_t* TByteCursor::Peek(uint64_t count, uint64_t& available) const {
  available = std::min(Remaining(), count);
  return available ? _bytes.data() + _pos : nullptr;
}

std::vector<uint8_t> ReadStreamBytes(TStream& stream, uint64_t count) {
  std::vector<uint8_t> out;
  constexpr uint64_t kChunk = 64 * 1024;
  while (out.size() < count) {
    uint64_t want = std::min(kChunk, count - out.size());
    size_t at = out.size();
    out.resize(at + want);
    int got = stream.Read(out.data() + at, static_cast<int>(want));
    if (got <= 0) {
      out.resize(at);
      break;
    }
    out.resize(at + static_cast<size_t>(got));
  }
  return out;
}

Text TrimControl(const Text& text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] <= 32) ++b;
  while (e > b && text[e - 1] <= 32) --e;
  return text.substr(b, e - b);
}

TStreamPtr OpenMusicSource(const TMusicSource& source) {
  if (source.IsStream()) return source.stream;
  return OpenForReading(source.url);
}
