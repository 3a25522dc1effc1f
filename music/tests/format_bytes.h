#pragma once
// Builders of small MOD and XM files in memory for the loader tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "music/player/song_player.h"
#include <ormix/stream/stream.h>

namespace fmtbytes {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, size_t at, const std::string& s) {
  if (b.size() < at + s.size()) b.resize(at + s.size());
  std::memcpy(b.data() + at, s.data(), s.size());
}
inline void Put8(Bytes& b, size_t at, int v) {
  if (b.size() < at + 1) b.resize(at + 1);
  b[at] = static_cast<uint8_t>(v);
}
inline void Put16BE(Bytes& b, size_t at, int v) {
  Put8(b, at, v >> 8);
  Put8(b, at + 1, v);
}
inline void Add8(Bytes& b, int v) { b.push_back(static_cast<uint8_t>(v)); }
inline void Add16(Bytes& b, int v) {
  Add8(b, v);
  Add8(b, v >> 8);
}
inline void Add32(Bytes& b, uint32_t v) {
  Add16(b, static_cast<int>(v & 0xFFFF));
  Add16(b, static_cast<int>(v >> 16));
}
inline void AddText(Bytes& b, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) Add8(b, i < s.size() ? s[i] : 0);
}

inline TStreamPtr Stream(const Bytes& b) { return TRamStream::FromBytes(b); }

// A MOD file: title, 31 empty sample headers, song length, order table, tag, and
// `patterns` zeroed patterns. Sample headers and cells are filled in by the test.
struct Mod {
  Bytes b;
  int channels;
  Mod(const std::string& tag, int ch, int songLength, std::vector<int> orders, int patterns)
      : channels(ch) {
    b.assign(1084, 0);
    Put(b, 0, "a title");
    Put8(b, 950, songLength);
    Put8(b, 951, 127);
    for (size_t i = 0; i < orders.size(); ++i) Put8(b, 952 + i, orders[i]);
    Put(b, 1080, tag);
    b.resize(1084 + static_cast<size_t>(patterns) * 64 * ch * 4, 0);
  }
  // Sample header i (1-based); lengths in words.
  void Sample(int i, const std::string& name, int words, int finetune, int volume, int loopStart = 0,
              int loopLength = 0) {
    const size_t h = 20 + 30 * static_cast<size_t>(i - 1);
    Put(b, h, name);
    Put16BE(b, h + 22, words);
    Put8(b, h + 24, finetune);
    Put8(b, h + 25, volume);
    Put16BE(b, h + 26, loopStart);
    Put16BE(b, h + 28, loopLength);
  }
  void Cell(int pattern, int line, int ch, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    const size_t at = 1084 + ((static_cast<size_t>(pattern) * 64 + line) * channels + ch) * 4;
    b[at] = b0;
    b[at + 1] = b1;
    b[at + 2] = b2;
    b[at + 3] = b3;
  }
  void AddData(const Bytes& data) { b.insert(b.end(), data.begin(), data.end()); }
};

// An XM file assembled piece by piece: header, patterns, instruments.
struct XmSample {
  uint32_t length = 0, loopStart = 0, loopLength = 0;
  int volume = 64, finetune = 0, flags = 0, pan = 128, relative = 0;
  int reserved = 0;  // 0xAD: data packed as 4-bit codes through a table of 16 steps
  std::string name;
  Bytes data;  // stored (delta-coded) bytes
};

struct XmInstrument {
  std::string name = "inst";
  std::vector<XmSample> samples;
  std::vector<int> noteSample = std::vector<int>(96, 0);
  std::vector<int> envelope = std::vector<int>(24, 0);  // 12 (tick, value) pairs
  int volPoints = 0, volSustain = 0, volLoopStart = 0, volLoopEnd = 0, volType = 0, fadeout = 0;
  std::vector<int> panEnvelope;  // 12 (tick, value) pairs; empty writes bytes 0..47
  int panPoints = 0, panSustain = 0, panLoopStart = 0, panLoopEnd = 0, panType = 0;
  int vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0;
  int sampleCountOverride = -1;  // writes this count instead of samples.size()
};

struct Xm {
  int channels = 4, speed = 6, tempo = 125, flags = 1;
  // Before 0x0104 the instrument and sample headers come first, then the patterns (in
  // 0x0102 with the line count less one in a byte), then the sample data.
  int version = 0x0104;
  int songLength = -1;  // -1: orders.size()
  int storedPatternsOverride = -1;
  std::vector<int> orders = {0};
  struct Pattern {
    int lines = 64;
    int packing = 0;
    Bytes packed;
  };
  std::vector<Pattern> patterns = {Pattern{}};
  std::vector<XmInstrument> instruments;

  Bytes Build() const {
    Bytes b;
    AddText(b, "Extended Module: ", 17);
    AddText(b, "xm song", 20);
    Add8(b, 0x1A);
    AddText(b, "test tracker", 20);
    Add16(b, version);
    Add32(b, 276);
    Add16(b, songLength < 0 ? static_cast<int>(orders.size()) : songLength);
    Add16(b, 0);
    Add16(b, channels);
    Add16(b, storedPatternsOverride < 0 ? static_cast<int>(patterns.size()) : storedPatternsOverride);
    Add16(b, static_cast<int>(instruments.size()));
    Add16(b, flags);
    Add16(b, speed);
    Add16(b, tempo);
    for (int i = 0; i < 256; ++i) Add8(b, i < static_cast<int>(orders.size()) ? orders[i] : 0);
    Bytes patternBytes, sampleData;
    for (const Pattern& p : patterns) {
      Add32(patternBytes, version <= 0x0102 ? 8 : 9);
      Add8(patternBytes, p.packing);
      if (version <= 0x0102) Add8(patternBytes, p.lines - 1);
      else Add16(patternBytes, p.lines);
      Add16(patternBytes, static_cast<int>(p.packed.size()));
      patternBytes.insert(patternBytes.end(), p.packed.begin(), p.packed.end());
    }
    const bool headersFirst = version < 0x0104;
    if (!headersFirst) b.insert(b.end(), patternBytes.begin(), patternBytes.end());
    for (const XmInstrument& in : instruments) {
      const int count = in.sampleCountOverride >= 0 ? in.sampleCountOverride : static_cast<int>(in.samples.size());
      Add32(b, count ? 263 : 29);
      AddText(b, in.name, 22);
      Add8(b, 0);
      Add16(b, count);
      if (!count) continue;
      Add32(b, 40);
      for (int v : in.noteSample) Add8(b, v);
      for (int i = 0; i < 24; ++i) Add16(b, i < static_cast<int>(in.envelope.size()) ? in.envelope[i] : 0);
      if (in.panEnvelope.empty()) {
        for (int i = 0; i < 48; ++i) Add8(b, i);  // pan envelope bytes
      } else {
        for (int i = 0; i < 24; ++i) Add16(b, i < static_cast<int>(in.panEnvelope.size()) ? in.panEnvelope[i] : 0);
      }
      Add8(b, in.volPoints);
      Add8(b, in.panPoints);
      Add8(b, in.volSustain);
      Add8(b, in.volLoopStart);
      Add8(b, in.volLoopEnd);
      Add8(b, in.panSustain);
      Add8(b, in.panLoopStart);
      Add8(b, in.panLoopEnd);
      Add8(b, in.volType);
      Add8(b, in.panType);
      Add8(b, in.vibType);
      Add8(b, in.vibSweep);
      Add8(b, in.vibDepth);
      Add8(b, in.vibRate);
      Add16(b, in.fadeout);
      Add16(b, 0);
      // header is 263 bytes from its start: 241 + 2 + 20 bytes of padding
      for (int i = 0; i < 20; ++i) Add8(b, 0);
      for (const XmSample& s : in.samples) {
        Add32(b, s.length);
        Add32(b, s.loopStart);
        Add32(b, s.loopLength);
        Add8(b, s.volume);
        Add8(b, s.finetune);
        Add8(b, s.flags);
        Add8(b, s.pan);
        Add8(b, s.relative);
        Add8(b, s.reserved);
        AddText(b, s.name, 22);
      }
      Bytes& data = headersFirst ? sampleData : b;
      for (const XmSample& s : in.samples) data.insert(data.end(), s.data.begin(), s.data.end());
    }
    if (headersFirst) {
      b.insert(b.end(), patternBytes.begin(), patternBytes.end());
      b.insert(b.end(), sampleData.begin(), sampleData.end());
    }
    return b;
  }
};

}  // namespace fmtbytes
