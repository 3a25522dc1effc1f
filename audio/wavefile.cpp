// PCM wave files: reading the header up to the sample data, and writing the header.
#include <ormix/audio/wavefile.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Reads up to n bytes; returns how many arrived before the stream ended or failed.
int ReadUpTo(TStream& s, uint8_t* buf, int n) {
  int got = 0;
  while (got < n && !s.Eof()) {
    const int r = s.Read(buf + got, n - got);
    if (r <= 0) break;
    got += r;
  }
  return got;
}

// A little-endian value of `bytes` bytes; false when the stream ends first.
bool ReadLE(TStream& s, int bytes, uint32_t& value) {
  uint8_t b[4] = {0, 0, 0, 0};
  const int got = ReadUpTo(s, b, bytes);
  value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[i];
  return got == bytes;
}

bool ReadTag(TStream& s, const char* want) {
  char t[4];
  return ReadUpTo(s, reinterpret_cast<uint8_t*>(t), 4) == 4 && std::memcmp(t, want, 4) == 0;
}

// Skips `count` bytes; false when the stream ends (or would end) first.
bool Skip(TStream& s, uint64_t count) {
  const int64_t left = s.Remaining();
  if (left >= 0) {
    if (count >= static_cast<uint64_t>(left)) return false;
    return s.Seek(s.Pos() + static_cast<int64_t>(count)) >= 0;
  }
  uint8_t scratch[4096];
  while (count > 0) {
    const int n = ReadUpTo(s, scratch, static_cast<int>(std::min<uint64_t>(count, sizeof scratch)));
    if (n <= 0) return false;
    count -= static_cast<uint64_t>(n);
  }
  return !s.Eof();
}

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

bool ReadWaveHeader(TStream& s, TWaveLayout& out) {
  out = TWaveLayout();
  uint32_t riffSize = 0, fmtLength = 0, tag = 0, channels = 0, rate = 0, byteRate = 0, align = 0, bits = 0;
  if (!ReadTag(s, "RIFF") || !ReadLE(s, 4, riffSize) || !ReadTag(s, "WAVE") || !ReadTag(s, "fmt ")) return false;
  ReadLE(s, 4, fmtLength);
  ReadLE(s, 2, tag);
  ReadLE(s, 2, channels);
  ReadLE(s, 4, rate);
  ReadLE(s, 4, byteRate);  // follows from the rest
  ReadLE(s, 2, align);     // likewise
  ReadLE(s, 2, bits);
  if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return false;
  out.format.channels = static_cast<int32_t>(channels);
  out.format.rate = static_cast<int32_t>(rate);
  out.format.bits = static_cast<int32_t>(bits);

  // The rest of a longer format chunk, then the chunks up to "data". RIFF keeps chunks at
  // even offsets: an odd-length chunk is followed by one pad byte.
  bool more = fmtLength <= 16 || Skip(s, fmtLength - 16u);
  while (more && !s.Eof()) {
    char name[4];
    uint32_t length = 0;
    if (ReadUpTo(s, reinterpret_cast<uint8_t*>(name), 4) < 4 || !ReadLE(s, 4, length)) break;
    if (std::memcmp(name, "data", 4) == 0) {
      out.hasData = true;
      out.declared = length;
      const int64_t left = s.Remaining();
      out.bytes = left >= 0 ? std::min<int64_t>(length, left) : length;
      break;
    }
    more = Skip(s, uint64_t{length} + (length & 1));
  }
  out.dataPos = s.Pos();
  return true;
}

std::vector<uint8_t> WaveHeader(const TWaveFormat& format, uint32_t dataBytes) {
  const uint32_t block = static_cast<uint32_t>(format.FrameBytes());
  std::vector<uint8_t> h;
  h.reserve(44);
  PutTag(h, "RIFF");
  Put(h, 36 + dataBytes + (dataBytes & 1), 4);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  Put(h, 16, 4);  // format chunk length
  Put(h, 1, 2);   // PCM
  Put(h, static_cast<uint32_t>(format.channels), 2);
  Put(h, static_cast<uint32_t>(format.rate), 4);
  Put(h, static_cast<uint32_t>(format.rate) * block, 4);  // bytes per second
  Put(h, block, 2);                                        // bytes per frame
  Put(h, static_cast<uint32_t>(format.bits), 2);
  PutTag(h, "data");
  Put(h, dataBytes, 4);
  return h;
}

bool WriteWaveFile(const std::string& path, const TWaveFormat& format, const void* data, uint32_t dataBytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const std::vector<uint8_t> header = WaveHeader(format, dataBytes);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  if (ok && dataBytes > 0) ok = std::fwrite(data, 1, dataBytes, f) == dataBytes;
  if (ok && (dataBytes & 1)) ok = std::fputc(0, f) == 0;
  return std::fclose(f) == 0 && ok;
}
