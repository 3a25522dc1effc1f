// Song records: creation, printing and the instrument's envelope operations.
#include <algorithm>
#include <cstdio>

#include "song_model.h"

// ---------------------------------------------------------------------------------------
// Tracks

Cantor_TrackPtr Cantor_Track::Create(int32_t lines) {
  auto track = std::make_shared<Cantor_Track>();
  if (lines < 0) lines = 0;
  track->LineCount = lines;
  track->Note.assign(static_cast<size_t>(lines), 0);
  track->Inst.assign(static_cast<size_t>(lines), 0);
  track->Vol.assign(static_cast<size_t>(lines), 0);
  track->FX.assign(static_cast<size_t>(lines), 0);
  track->FXV.assign(static_cast<size_t>(lines), 0);
  return track;
}

int32_t Cantor_Track::IsIdentical(const Cantor_Track& other) const {
  if (other.LineCount != LineCount) return 0;
  return (Note == other.Note && Inst == other.Inst && Vol == other.Vol && FX == other.FX &&
          FXV == other.FXV)
             ? 1
             : 0;
}

int32_t Cantor_Track::GetBVal(int32_t line) const {
  if (line < 0 || line >= LineCount) return 0x80;
  const size_t i = static_cast<size_t>(line);
  // The XM file's lowest note counts as no note, as in the stored records.
  const bool note = Note[i] != 0 && Note[i] != XmLowestNote;
  if (note && Inst[i] != 0 && Vol[i] != 0 && FX[i] != 0 && FXV[i] != 0) return 0;
  int32_t v = 0x80;
  if (note) v |= 1;
  if (Inst[i] != 0) v |= 2;
  if (Vol[i] != 0) v |= 4;
  if (FX[i] != 0) v |= 8;
  if (FXV[i] != 0) v |= 16;
  return v;
}

Text Cantor_Track::GetNoteTag(int32_t note) {
  if (note < 0) return u"<<<";
  if (note > 0 && note < NOTE_NAME_COUNT) return NoteName(note);
  return u">>>";
}

namespace {
// The last two digits of the value's eight-digit upper-case hexadecimal form.
Text Hex2(int32_t value) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<uint32_t>(value));
  return ToText(std::string_view(buf + 6, 2));
}

char16_t HexDigit(int32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  return static_cast<char16_t>(digits[static_cast<uint32_t>(value) & 15u]);
}
}  // namespace

Text Cantor_Track::GetText(int32_t line) const {
  if (line < 0 || line >= LineCount) return Text(13, u' ');
  const size_t i = static_cast<size_t>(line);
  Text out;
  const int32_t note = Note[i];
  if (note >= 1 && note <= 95) {
    out += GetNoteTag(note) + u" ";
  } else if (note == KeyOffNote) {
    out += u" |  ";
  } else {
    out += u"--- ";
  }
  out += Inst[i] > 0 ? Hex2(Inst[i]) + u" " : Text(u"   ");
  out += Vol[i] > 0 ? Hex2(Vol[i]) + u" " : Text(u"   ");
  if (FX[i] == 0 && FXV[i] == 0) {
    out += u"   ";
  } else {
    out += FX[i] <= 15 ? HexDigit(FX[i]) : static_cast<char16_t>(FX[i] + 55);
    out += Hex2(FXV[i]);
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Patterns

Cantor_PatternPtr Cantor_Pattern::Create(Cantor_Mixer*, int32_t tracks, int32_t lines) {
  auto pattern = std::make_shared<Cantor_Pattern>();
  if (tracks < 0) tracks = 0;
  if (lines < 0) lines = 0;
  pattern->TrackCount = tracks;
  pattern->LineCount = lines;
  pattern->LineText.assign(static_cast<size_t>(lines) + 1, Text());
  pattern->Track.reserve(static_cast<size_t>(tracks));
  for (int32_t t = 0; t < tracks; ++t) pattern->Track.push_back(Cantor_Track::Create(lines));
  return pattern;
}

void Cantor_Pattern::UpdateText() {
  if (LineText.size() < static_cast<size_t>(LineCount) + 1) LineText.resize(static_cast<size_t>(LineCount) + 1);
  for (int32_t i = 0; i < LineCount; ++i) {
    Text text;
    for (int32_t j = 0; j < TrackCount && j < static_cast<int32_t>(Track.size()); ++j) {
      if (Track[static_cast<size_t>(j)]) text += Track[static_cast<size_t>(j)]->GetText(i);
      else text += Text(13, u' ');
      text += u" ";
    }
    LineText[static_cast<size_t>(i)] = text;
  }
}

// ---------------------------------------------------------------------------------------
// Samples

void Cantor_Sample::AllocData(int32_t frames) {
  if (frames < 0) frames = 0;
  SoundData.assign(static_cast<size_t>(frames), 0);
  Length = frames;
  fp = SoundData.empty() ? nullptr : SoundData.data();
}

// ---------------------------------------------------------------------------------------
// Instruments

Cantor_SamplePtr Cantor_Instrument::GetSample(int32_t note) const {
  if (note < 1 || note > 95) return nullptr;
  return MappedSample(note);
}

Cantor_SamplePtr Cantor_Instrument::MappedSample(int32_t slot) const {
  if (slot < 0 || slot >= static_cast<int32_t>(NoteSample.size())) return nullptr;
  const int32_t index = NoteSample[static_cast<size_t>(slot)];
  if (index < 0 || index >= static_cast<int32_t>(Sample.size())) return nullptr;
  return Sample[static_cast<size_t>(index)];
}

void Cantor_Instrument::AddVolumeEnvelopePoint(int32_t tick, double percent) {
  auto point = std::make_shared<Cantor_EnvelopePoint>();
  point->Tick = tick;
  point->Value = static_cast<float>(percent / 100.0);
  VolEnvList.push_back(point);
  VolEnvArray = VolEnvList;
}

namespace {
// 1-based point number (0 = first) clamped to the points present, as a 0-based index.
int32_t PointIndex(int32_t n, size_t count) {
  if (n > static_cast<int32_t>(count)) n = static_cast<int32_t>(count);
  return n > 0 ? n - 1 : 0;
}

Cantor_EnvelopePointPtr PointAt(const std::vector<Cantor_EnvelopePointPtr>& points, int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(points.size())) return nullptr;
  return points[static_cast<size_t>(index)];
}
}  // namespace

void Cantor_Instrument::SetVolSustainPoint(int32_t n) {
  VolSustain = PointIndex(n, VolEnvArray.size());
  VolSustainPoint = PointAt(VolEnvArray, VolSustain);
}

void Cantor_Instrument::SetVolLoopPoints(int32_t start, int32_t end) {
  VolLoopStart = PointIndex(start, VolEnvArray.size());
  VolLoopStartPoint = PointAt(VolEnvArray, VolLoopStart);
  VolLoopEnd = PointIndex(end, VolEnvArray.size());
  VolLoopEndPoint = PointAt(VolEnvArray, VolLoopEnd);
}

// The level for a channel whose note has run `tick` ticks, sitting at envelope point
// `index`. Point counts and indexes read from files are clamped to the points present,
// and a missing sustain or loop point disables that feature.
float Cantor_Instrument::GetEnvelopeVolume(int32_t& tick, int32_t& index) {
  const int32_t count = std::min<int32_t>(VolPoints, static_cast<int32_t>(VolEnvArray.size()));
  if (VolType == 0 || VolPoints == 0 || count <= 0) return 1.0f;
  if ((VolType & 4) && index >= VolLoopEnd && VolLoopStartPoint) {
    tick = VolLoopStartPoint->Tick;
    index = VolLoopStart;
  }
  if ((VolType & 2) && index >= VolSustain && VolSustainPoint) return VolSustainPoint->Value;
  index = std::clamp(index, 0, count - 1);
  Point = VolEnvArray[static_cast<size_t>(index)];
  const Cantor_EnvelopePoint* point = Point.get();
  if (!point) return 1.0f;
  if (tick == point->Tick || index == count - 1) return point->Value;
  NextPoint = VolEnvArray[static_cast<size_t>(index) + 1];
  const Cantor_EnvelopePoint* next = NextPoint.get();
  if (!next) return point->Value;
  if (tick >= next->Tick) {
    index += 1;
    return next->Value;
  }
  if (tick > point->Tick) {
    // Ticks stored in a file may lie far apart: their distances are taken in 64 bits.
    stp = (next->Value - point->Value) / static_cast<float>(int64_t{next->Tick} - point->Tick);
    return std::min(1.0f, point->Value + stp * static_cast<float>(int64_t{tick} - point->Tick));
  }
  return 0.0f;
}
