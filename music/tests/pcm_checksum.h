#pragma once
// FNV-1a over the bytes of 16-bit PCM (little-endian): the checksum the playback tests
// record.
#include <cstdint>
#include <vector>

inline uint64_t PcmChecksum(const std::vector<int16_t>& pcm) {
  uint64_t h = 1469598103934665603ull;
  for (int16_t v : pcm) {
    const uint16_t u = static_cast<uint16_t>(v);
    for (int b = 0; b < 2; ++b) {
      h ^= (u >> (8 * b)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}
