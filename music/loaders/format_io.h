#pragma once
// Small reading helpers shared by the song loaders: a bounds-checked cursor over bytes
// already read from a stream, stream reads that stop at the end of the data, the text
// trimming of fixed-width name fields.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <ormix/music/music.h>

// A read cursor over a byte buffer. Reads past the end give zeros (like a stream at its
// end), so a truncated file never makes a loader read outside the buffer.
class TByteCursor {
public:
  explicit TByteCursor(std::vector<uint8_t> bytes) : _bytes(std::move(bytes)) {}

  uint64_t Size() const { return _bytes.size(); }
  uint64_t Pos() const { return _pos; }
  // All the bytes, from the first.
  const uint8_t* Data() const { return _bytes.data(); }
  // Any position is allowed; beyond the end every read gives zeros.
  void Seek(uint64_t pos) { _pos = pos; }
  void Skip(uint64_t count) { _pos += count; }
  // Bytes left from the current position (0 beyond the end).
  uint64_t Remaining() const { return _pos < _bytes.size() ? _bytes.size() - _pos : 0; }

  uint8_t U8();
  uint16_t U16LE();
  uint16_t U16BE();
  uint32_t U32LE();
  // `count` bytes copied to out; the part beyond the end is zero-filled.
  void Bytes(uint8_t* out, uint64_t count);
  // `count` bytes as text, one character per byte, trimmed of codes 0-32 at both ends.
  Text Name(uint64_t count);
  // The raw bytes between the position and position + count (clipped to the buffer).
  const uint8_t* Peek(uint64_t count, uint64_t& available) const;

private:
  std::vector<uint8_t> _bytes;
  uint64_t _pos = 0;
};

// Reads up to `count` bytes from the stream's position, stopping early at its end.
// Memory grows with what the stream actually supplies, never with `count` alone.
std::vector<uint8_t> ReadStreamBytes(TStream& stream, uint64_t count);

// Text trimmed of leading and trailing characters with codes 0-32.
Text TrimControl(const Text& text);

// Opens a loader's source: the caller's stream as it is, or the URL for reading.
TStreamPtr OpenMusicSource(const TMusicSource& source);

// Largest song file the MOD and XM loaders read into memory.
constexpr uint64_t MaxSongFileBytes = 256ull * 1024 * 1024;
