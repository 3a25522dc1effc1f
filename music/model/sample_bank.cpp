// Conversion of raw sample bytes into a sample's 32-bit frame data.
#include <cstddef>

#include "song_model.h"

void Cantor_Sample::ConvertSampleFromBank(const TBank& bank, int32_t mode) {
  const size_t size = bank.size();
  switch (mode) {
    case 1: {  // 8-bit signed, scaled to the 16-bit range
      AllocData(static_cast<int32_t>(size));
      for (size_t i = 0; i < size; ++i) {
        int v = bank[i];
        if (v >= 128) v -= 256;
        SoundData[i] = static_cast<int32_t>(v * 256 + 0.5);  // truncates toward zero
      }
      break;
    }
    case 2: {  // 16-bit signed little-endian
      const size_t frames = size / 2;
      AllocData(static_cast<int32_t>(frames));
      for (size_t i = 0; i < frames; ++i)
        SoundData[i] = static_cast<int16_t>(bank[2 * i] | (bank[2 * i + 1] << 8));
      break;
    }
    case 4: {  // 16-bit stereo little-endian, left first, mixed down to mono
      const size_t frames = size / 4;
      AllocData(static_cast<int32_t>(frames));
      for (size_t i = 0; i < frames; ++i) {
        const int l = static_cast<int16_t>(bank[4 * i] | (bank[4 * i + 1] << 8));
        const int r = static_cast<int16_t>(bank[4 * i + 2] | (bank[4 * i + 3] << 8));
        SoundData[i] = static_cast<int32_t>(l / 2.0 + r / 2.0 + 0.5);
      }
      break;
    }
    default:
      break;  // unknown layouts leave the sample as it is
  }
}
