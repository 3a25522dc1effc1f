#pragma once
// Uncompressed PCM wave files: the one reader of their header (used by the sample loader
// and the music stream) and the one writer (used by the tools that save sound).
#include <cstdint>
#include <string>
#include <vector>

#include <ormix/stream/stream.h>

// The sample layout a PCM wave file declares.
struct TWaveFormat {
  int32_t channels = 0;  // 1 or 2
  int32_t rate = 0;      // frames per second, as stored (a damaged file may give 0)
  int32_t bits = 0;      // 8 (unsigned) or 16 (signed)
  int32_t FrameBytes() const { return channels * bits / 8; }
};

// What ReadWaveHeader found.
struct TWaveLayout {
  TWaveFormat format;
  bool hasData = false;     // a "data" chunk was found
  uint32_t declared = 0;    // the data chunk's length as the file gives it
  int64_t bytes = 0;        // what can be read: `declared`, cut to what the stream still
                            // holds when it can tell
  int64_t dataPos = -1;     // stream position of the first data byte (or where the walk
                            // stopped without data); -1 when the stream has no positions
};

// Reads the header of a PCM wave file from the stream's position, leaving the stream at
// the first byte of its sample data. The file must begin "RIFF" <size> "WAVE" and the
// format chunk must come next, with format tag 1 (PCM), 1 or 2 channels of 8 or 16 bits;
// anything else returns false. A longer format chunk has its rest skipped; the chunks
// after it are walked (an odd-length chunk is followed by a pad byte) until the "data"
// chunk. When none is found, or a chunk claims to run past the end of the stream, the
// result is true with hasData false. Never reads past the end; a failing stream throws
// TStreamException as its reads do. All values are little-endian whatever the stream's
// byte order.
bool ReadWaveHeader(TStream& stream, TWaveLayout& out);

// The 44-byte header of a PCM wave file holding `dataBytes` of sample data. Its RIFF size
// counts the pad byte that follows data of odd length.
std::vector<uint8_t> WaveHeader(const TWaveFormat& format, uint32_t dataBytes);

// Writes a whole PCM wave file: header, data and, for an odd length, the pad byte. False
// when the file cannot be created or written.
bool WriteWaveFile(const std::string& path, const TWaveFormat& format, const void* data, uint32_t dataBytes);
