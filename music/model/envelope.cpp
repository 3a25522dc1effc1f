// Envelopes as format playback reads them: the level at a position, and the tables built
// from an instrument's stored words or points.
#include <algorithm>

#include "song_model.h"

float TEnvelopeTable::At(int32_t pos) const {
  if (count <= 0) return 1.0f;
  if (pos <= tick[0] || count == 1) return value[0];
  for (int32_t i = 1; i < count; ++i) {
    if (pos < tick[i]) {
      const int32_t span = tick[i] - tick[i - 1];
      if (span <= 0) return value[i];
      return value[i - 1] + (value[i] - value[i - 1]) * static_cast<float>(pos - tick[i - 1]) / static_cast<float>(span);
    }
  }
  return value[count - 1];
}

namespace {
// Point number `n` of a table of `count` points, or -1 when outside it.
int32_t PointOrNone(int32_t n, int32_t count) { return n >= 0 && n < count ? n : -1; }

// Ticks must rise from point to point; a table that does not keeps the points that do.
void Monotonic(TEnvelopeTable& t) {
  for (int32_t i = 1; i < t.count; ++i)
    if (t.tick[i] < t.tick[i - 1]) t.tick[i] = t.tick[i - 1];
}
}  // namespace

void Cantor_Instrument::BuildTables(int32_t sourceFormat) {
  TablesBuilt = true;
  VolTable = TEnvelopeTable();
  PanTable = TEnvelopeTable();
  if (sourceFormat == SONG_FROM_XM && VolEnvelope.size() >= 27) {
    TEnvelopeTable& v = VolTable;
    v.count = std::clamp(VolPoints, 0, 12);
    for (int32_t i = 0; i < v.count; ++i) {
      v.tick[i] = VolEnvelope[static_cast<size_t>(2 * i)];
      v.value[i] = static_cast<float>(std::clamp(VolEnvelope[static_cast<size_t>(2 * i + 1)], 0, 64) / 64.0);
    }
    v.on = (VolType & 1) && v.count > 0;
    if (VolType & 2) v.sustain = PointOrNone(VolEnvelope[24], v.count);
    if (VolType & 4) {
      v.loopStart = PointOrNone(VolEnvelope[25], v.count);
      v.loopEnd = PointOrNone(VolEnvelope[26], v.count);
    }
    Monotonic(v);
  } else {
    TEnvelopeTable& v = VolTable;
    v.count = std::clamp<int32_t>(std::min<int32_t>(VolPoints, static_cast<int32_t>(VolEnvArray.size())), 0,
                                  TEnvelopeTable::MaxPoints);
    for (int32_t i = 0; i < v.count; ++i) {
      const auto& p = VolEnvArray[static_cast<size_t>(i)];
      v.tick[i] = p ? p->Tick : 0;
      v.value[i] = p ? std::clamp(p->Value, 0.0f, 1.0f) : 0.0f;
    }
    v.on = VolType != 0 && v.count > 0;
    if (VolType & 2) v.sustain = PointOrNone(VolSustain, v.count);
    if (VolType & 4) {
      v.loopStart = PointOrNone(VolLoopStart, v.count);
      v.loopEnd = PointOrNone(VolLoopEnd, v.count);
    }
    Monotonic(v);
  }
  if (PanEnvelope.size() >= 49) {
    TEnvelopeTable& p = PanTable;
    p.count = std::clamp(PanPoints, 0, 12);
    for (int32_t i = 0; i < p.count; ++i) {
      const size_t b = 1 + 4 * static_cast<size_t>(i);
      p.tick[i] = (PanEnvelope[b] & 0xFF) | ((PanEnvelope[b + 1] & 0xFF) << 8);
      const int32_t level = (PanEnvelope[b + 2] & 0xFF) | ((PanEnvelope[b + 3] & 0xFF) << 8);
      p.value[i] = static_cast<float>(std::clamp(level, 0, 64) / 64.0);
    }
    p.on = (PanType & 1) && p.count > 0;
    if (PanType & 2) p.sustain = PointOrNone(PanSustain, p.count);
    if (PanType & 4) {
      p.loopStart = PointOrNone(PanLoopStart, p.count);
      p.loopEnd = PointOrNone(PanLoopEnd, p.count);
    }
    Monotonic(p);
  }
}
