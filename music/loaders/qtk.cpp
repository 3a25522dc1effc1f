// The native song format: every record writes itself field by field and a type-level
// Load reads it back in the same order. All values are little-endian.
#include "qtk.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "format_io.h"
#include <ormix/stream/stream.h>

namespace {

constexpr char kMagic[3] = {'Q', 'T', 'K'};
constexpr char kExtensionMagic[4] = {'Q', 'T', 'K', 'X'};
// Version 1: order list, instrument extras, notes outside a short. Version 2 adds what
// format playback reads: the song's source format and the samples' file pans.
constexpr int32_t kExtensionVersion = 3;

// Texts longer than their length field can say are cut, so the stream stays readable.
void WriteText8(TStream& s, const Text& t) {
  const Text cut = t.substr(0, std::min<size_t>(t.size(), 255));
  s.WriteByte(static_cast<int>(cut.size()));
  s.WriteString(cut);
}

void WriteText16(TStream& s, const Text& t) {
  const Text cut = t.substr(0, std::min<size_t>(t.size(), 65535));
  s.WriteShort(static_cast<int>(cut.size()));
  s.WriteString(cut);
}

Text ReadText8(TStream& s) { return s.ReadString(s.ReadByte()); }
Text ReadText16(TStream& s) { return s.ReadString(s.ReadShort()); }

// A count read from the file that sizes a table of `itemBytes`-byte entries: refused
// (false) when negative or above `cap`.
bool CountOk(int32_t n, int32_t cap) { return n >= 0 && n <= cap; }

// How many `itemBytes`-byte items the stream can still supply (cap when it cannot tell).
int64_t ItemsLeft(TStream& s, int64_t itemBytes, int64_t cap) {
  const int64_t left = s.Remaining();
  return left < 0 ? cap : std::min(cap, left / itemBytes);
}

void ReadIntTable(TStream& s, std::vector<int32_t>& table, int32_t n) {
  table.assign(static_cast<size_t>(n), 0);
  const int64_t readable = ItemsLeft(s, 4, n);
  for (int64_t i = 0; i < readable; ++i) table[static_cast<size_t>(i)] = s.ReadInt();
}

int32_t SanitizeLoop(int32_t v) { return std::clamp<int32_t>(v, 0, 1 << 30); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Envelope points: tick as one byte, value as a float.

int32_t Cantor_EnvelopePoint::Save(const TStreamPtr& stream) {
  stream->WriteByte(Tick & 0xFF);
  stream->WriteFloat(Value);
  return 0;
}

Cantor_EnvelopePointPtr Cantor_EnvelopePoint::Load(const TStreamPtr& stream) {
  auto point = std::make_shared<Cantor_EnvelopePoint>();
  point->Tick = stream->ReadByte();
  point->Value = stream->ReadFloat();
  return point;
}

// ---------------------------------------------------------------------------------------
// Tracks: line count, name, then per line a flags byte and the non-zero fields.

int32_t Cantor_Track::Save(const TStreamPtr& stream) {
  TStream& s = *stream;
  // The line count is a short: longer tracks are cut so that the file stays readable.
  const int32_t lines = std::clamp<int32_t>(LineCount, 0, 65535);
  s.WriteShort(lines);
  WriteText16(s, Name);
  const size_t have = std::min({Note.size(), Inst.size(), Vol.size(), FX.size(), FXV.size()});
  for (int32_t line = 0; line < lines; ++line) {
    const size_t l = static_cast<size_t>(line);
    if (l >= have) {
      s.WriteByte(0);
      continue;
    }
    // The XM file's lowest note is no note in the records (the trailing block keeps it).
    const int32_t note = Note[l] == XmLowestNote ? 0 : Note[l];
    int flags = 0;
    if (note != 0) flags |= 0x01;
    if (Inst[l] != 0) flags |= 0x02;
    if (Vol[l] != 0) flags |= 0x04;
    if (FX[l] != 0) flags |= 0x08;
    if (FXV[l] != 0) flags |= 0x10;
    s.WriteByte(flags);
    if (flags & 0x01) s.WriteShort(note);
    if (flags & 0x02) s.WriteByte(Inst[l]);
    if (flags & 0x04) s.WriteByte(Vol[l]);
    if (flags & 0x08) s.WriteByte(FX[l]);
    if (flags & 0x10) s.WriteByte(FXV[l]);
  }
  return 0;
}

Cantor_TrackPtr Cantor_Track::Load(const TStreamPtr& stream) {
  TStream& s = *stream;
  int32_t lines = s.ReadShort();
  // Every line takes at least one byte: a track never has more lines than the stream
  // can still fill (only a truncated file is cut here).
  lines = static_cast<int32_t>(std::min<int64_t>(lines, ItemsLeft(s, 1, lines)));
  auto track = Create(lines);
  track->Name = ReadText16(s);
  for (int32_t line = 0; line < lines; ++line) {
    const size_t l = static_cast<size_t>(line);
    const int flags = s.ReadByte();
    if (flags & 0x01) track->Note[l] = s.ReadShort();
    if (flags & 0x02) track->Inst[l] = s.ReadByte();
    if (flags & 0x04) track->Vol[l] = s.ReadByte();
    if (flags & 0x08) track->FX[l] = s.ReadByte();
    if (flags & 0x10) track->FXV[l] = s.ReadByte();
  }
  return track;
}

// ---------------------------------------------------------------------------------------
// Patterns: title, line count, track count, the tracks.

int32_t Cantor_Pattern::Save(const TStreamPtr& stream) {
  TStream& s = *stream;
  WriteText16(s, Title);
  const int32_t tracks = std::clamp<int32_t>(std::min<int32_t>(TrackCount, static_cast<int32_t>(Track.size())), 0, 65535);
  s.WriteShort(std::clamp<int32_t>(LineCount, 0, 65535));
  s.WriteShort(tracks);
  for (int32_t t = 0; t < tracks; ++t) {
    const auto& track = Track[static_cast<size_t>(t)];
    if (track) track->Save(stream);
    else Cantor_Track::Create(LineCount)->Save(stream);
  }
  return 0;
}

Cantor_PatternPtr Cantor_Pattern::Load(const TStreamPtr& stream) {
  TStream& s = *stream;
  auto pattern = std::make_shared<Cantor_Pattern>();
  pattern->Title = ReadText16(s);
  int32_t lines = s.ReadShort();
  int32_t tracks = s.ReadShort();
  // Tables no larger than the stream can fill (a track takes at least 4 bytes).
  tracks = static_cast<int32_t>(std::min<int64_t>(tracks, ItemsLeft(s, 4, tracks)));
  lines = static_cast<int32_t>(std::min<int64_t>(lines, ItemsLeft(s, 1, lines)));
  pattern->LineCount = lines;
  pattern->TrackCount = tracks;
  pattern->Track.reserve(static_cast<size_t>(tracks));
  for (int32_t t = 0; t < tracks; ++t) pattern->Track.push_back(Cantor_Track::Load(stream));
  // The line texts are sized only for a pattern whose tracks really hold its lines (a
  // byte a line each): a pattern that claims many lines but stores none must not cost
  // memory for them. Such a pattern cannot be played and is dropped by the song.
  bool held = tracks > 0;
  for (const auto& track : pattern->Track) held = held && track && track->LineCount == lines;
  pattern->LineText.assign(held ? static_cast<size_t>(lines) + 1 : 1, Text());
  return pattern;
}

// ---------------------------------------------------------------------------------------
// Samples: header fields, then the frames as 16-bit values.

int32_t Cantor_Sample::Save(const TStreamPtr& stream) {
  TStream& s = *stream;
  // Frames held (the data size field is 2 x frames, an int).
  const int32_t frames = static_cast<int32_t>(
      std::clamp<int64_t>(Length, 0, std::min<int64_t>(static_cast<int64_t>(SoundData.size()), 1 << 30)));
  WriteText8(s, Name);
  s.WriteInt(frames);
  s.WriteInt(LoopStart);
  s.WriteInt(LoopLength);
  s.WriteInt(Loop);
  s.WriteFloat(Volume);
  s.WriteFloat(static_cast<float>(FineTune));
  s.WriteInt(RelativeNote);
  s.WriteInt(Pan);
  s.WriteInt(Flag);
  s.WriteInt(C2SPD);
  s.WriteInt(frames * 2);
  std::vector<uint8_t> bytes(static_cast<size_t>(frames) * 2);
  for (int32_t i = 0; i < frames; ++i) {
    const uint16_t v = static_cast<uint16_t>(SoundData[static_cast<size_t>(i)]);
    bytes[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(v >> 8);
  }
  if (!bytes.empty()) s.WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
  return 0;
}

Cantor_SamplePtr Cantor_Sample::Load(const TStreamPtr& stream) {
  TStream& s = *stream;
  auto sample = std::make_shared<Cantor_Sample>();
  sample->Name = ReadText8(s);
  const int32_t frames = std::max<int32_t>(s.ReadInt(), 0);
  sample->LoopStart = SanitizeLoop(s.ReadInt());
  sample->LoopLength = SanitizeLoop(s.ReadInt());
  sample->Loop = s.ReadInt();
  sample->Volume = s.ReadFloat();
  sample->FineTune = s.ReadFloat();
  sample->RelativeNote = s.ReadInt();
  sample->Pan = s.ReadInt();
  sample->Flag = s.ReadInt();
  sample->C2SPD = s.ReadInt();
  const int32_t dataBytes = s.ReadInt();
  if (!std::isfinite(sample->Volume)) sample->Volume = 0.0f;
  if (!std::isfinite(sample->FineTune)) sample->FineTune = 0.0;
  // The frames the stream really holds; the bank is never larger than what was read.
  TBank bank = ReadStreamBytes(s, static_cast<uint64_t>(frames) * 2);
  bank.resize(std::min<size_t>(bank.size() & ~size_t{1}, static_cast<size_t>(std::max(dataBytes, 0))));
  sample->ConvertSampleFromBank(bank, 2);
  return sample;
}

// ---------------------------------------------------------------------------------------
// Instruments

int32_t Cantor_Instrument::Save(const TStreamPtr& stream) {
  TStream& s = *stream;
  WriteText8(s, Name);
  const int32_t count = std::clamp<int32_t>(SampleCount, 0, 65535);
  s.WriteShort(count);
  for (int32_t i = 0; i < count; ++i)
    s.WriteShort(i < static_cast<int32_t>(NoteSample.size()) ? NoteSample[static_cast<size_t>(i)] : 0);
  s.WriteInt(VolType);
  s.WriteInt(VolPoints);
  s.WriteInt(static_cast<int32_t>(VolEnvelope.size()));
  for (int32_t v : VolEnvelope) s.WriteInt(v);
  s.WriteInt(VolSustain);
  s.WriteInt(VolFadeout);
  s.WriteInt(VolLoopStart);
  s.WriteInt(VolLoopEnd);
  s.WriteInt(static_cast<int32_t>(VolEnvList.size()));
  for (const auto& p : VolEnvList) {
    if (p) p->Save(stream);
    else Cantor_EnvelopePoint().Save(stream);
  }
  s.WriteInt(PanType);
  s.WriteInt(PanPoints);
  s.WriteInt(static_cast<int32_t>(PanEnvelope.size()));
  for (int32_t v : PanEnvelope) s.WriteInt(v);
  s.WriteInt(PanSustain);
  s.WriteInt(PanLoopStart);
  s.WriteInt(PanLoopEnd);
  s.WriteInt(VibType);
  s.WriteInt(VibSweep);
  s.WriteInt(VibDepth);
  s.WriteInt(VibRate);
  s.WriteInt(Reserved);
  s.WriteInt(static_cast<int32_t>(Sample.size()));
  for (const auto& smp : Sample) {
    s.WriteByte(smp ? 1 : 0);
    if (smp) smp->Save(stream);
  }
  return 0;
}

Cantor_InstrumentPtr Cantor_Instrument::Load(const TStreamPtr& stream) {
  TStream& s = *stream;
  auto inst = std::make_shared<Cantor_Instrument>();
  inst->Name = ReadText8(s);
  inst->SampleCount = s.ReadShort();
  for (int32_t i = 0; i < inst->SampleCount; ++i) {
    const int32_t v = s.ReadShort();
    if (i < static_cast<int32_t>(inst->NoteSample.size())) inst->NoteSample[static_cast<size_t>(i)] = v;
  }
  inst->VolType = s.ReadInt();
  inst->VolPoints = s.ReadInt();
  int32_t n = s.ReadInt();
  if (!CountOk(n, QTK_MAX_INT_TABLE)) return nullptr;
  ReadIntTable(s, inst->VolEnvelope, n);
  inst->VolSustain = s.ReadInt();
  inst->VolFadeout = s.ReadInt();
  inst->VolLoopStart = s.ReadInt();
  inst->VolLoopEnd = s.ReadInt();
  n = s.ReadInt();
  if (!CountOk(n, QTK_MAX_INT_TABLE)) return nullptr;
  inst->VolEnvArray.clear();
  for (int32_t i = 0; i < n; ++i) inst->VolEnvArray.push_back(Cantor_EnvelopePoint::Load(stream));
  inst->PanType = s.ReadInt();
  inst->PanPoints = s.ReadInt();
  n = s.ReadInt();
  if (!CountOk(n, QTK_MAX_INT_TABLE)) return nullptr;
  ReadIntTable(s, inst->PanEnvelope, n);
  inst->PanSustain = s.ReadInt();
  inst->PanLoopStart = s.ReadInt();
  inst->PanLoopEnd = s.ReadInt();
  inst->VibType = s.ReadInt();
  inst->VibSweep = s.ReadInt();
  inst->VibDepth = s.ReadInt();
  inst->VibRate = s.ReadInt();
  inst->Reserved = s.ReadInt();
  n = s.ReadInt();
  if (!CountOk(n, QTK_MAX_SAMPLES)) return nullptr;
  for (int32_t i = 0; i < n; ++i)
    if (s.ReadByte() == 1) inst->Sample[static_cast<size_t>(i)] = Cantor_Sample::Load(stream);

  // The file keeps only the point indexes: the list and the sustain and loop point
  // references are rebuilt, so the envelope plays (and saves again) as it did.
  inst->VolEnvList = inst->VolEnvArray;
  const int32_t sustain = inst->VolSustain, loopStart = inst->VolLoopStart, loopEnd = inst->VolLoopEnd;
  inst->SetVolSustainPoint(sustain + 1);
  inst->SetVolLoopPoints(loopStart + 1, loopEnd + 1);
  return inst;
}

// ---------------------------------------------------------------------------------------
// Songs

namespace {

void WriteExtension(Cantor_Mixer& song, TStream& s) {
  s.WriteBytes(kExtensionMagic, 4);
  s.WriteInt(kExtensionVersion);

  const int32_t orders = std::max(song.ActiveSongPatterns + 1, 0);
  s.WriteInt(orders);
  for (int32_t k = 0; k < orders; ++k)
    s.WriteInt(k < static_cast<int32_t>(song.SongPattern.size()) ? song.SongPattern[static_cast<size_t>(k)] : 0);

  std::vector<int32_t> present;
  for (int32_t i = 1; i <= song.ActiveSamples && i < static_cast<int32_t>(song.Instrument.size()); ++i)
    if (song.Instrument[static_cast<size_t>(i)]) present.push_back(i);
  s.WriteInt(static_cast<int32_t>(present.size()));
  for (int32_t i : present) {
    const Cantor_Instrument& inst = *song.Instrument[static_cast<size_t>(i)];
    s.WriteInt(i);
    s.WriteInt(inst.InstrumentType);
    s.WriteInt(static_cast<int32_t>(inst.NoteSample.size()));
    for (int32_t v : inst.NoteSample) s.WriteInt(v);
    s.WriteInt(static_cast<int32_t>(inst.VolEnvList.size()));
    for (const auto& p : inst.VolEnvList) s.WriteInt(p ? p->Tick : 0);
  }

  struct Cell { int32_t pattern, track, line, note; };
  std::vector<Cell> cells;
  for (size_t p = 0; p < song.Pattern.size(); ++p) {
    const auto& pattern = song.Pattern[p];
    if (!pattern) continue;
    const size_t tracks = std::min<size_t>(static_cast<size_t>(std::max(pattern->TrackCount, 0)), pattern->Track.size());
    for (size_t t = 0; t < tracks; ++t) {
      const auto& track = pattern->Track[t];
      if (!track) continue;
      for (int32_t l = 0; l < track->LineCount && l < static_cast<int32_t>(track->Note.size()); ++l) {
        const int32_t note = track->Note[static_cast<size_t>(l)];
        if (note < 0 || note > 65535)
          cells.push_back({static_cast<int32_t>(p), static_cast<int32_t>(t), l, note});
      }
    }
  }
  s.WriteInt(static_cast<int32_t>(cells.size()));
  for (const Cell& c : cells) {
    s.WriteInt(c.pattern);
    s.WriteInt(c.track);
    s.WriteInt(c.line);
    s.WriteInt(c.note);
  }

  s.WriteInt(song.SourceFormat);
  struct Pan { int32_t inst, sample, pan; };
  std::vector<Pan> pans;
  for (int32_t i : present) {
    const Cantor_Instrument& inst = *song.Instrument[static_cast<size_t>(i)];
    for (size_t k = 0; k < inst.Sample.size(); ++k)
      if (inst.Sample[k] && inst.Sample[k]->FilePan >= 0) pans.push_back({i, static_cast<int32_t>(k), inst.Sample[k]->FilePan});
  }
  s.WriteInt(static_cast<int32_t>(pans.size()));
  for (const Pan& p : pans) {
    s.WriteInt(p.inst);
    s.WriteInt(p.sample);
    s.WriteInt(p.pan);
  }
  s.WriteInt(song.XmMixing);  // version 3
}

// Reads the block written by WriteExtension when it follows the records. Every index
// it carries is checked against the song's tables; entries that do not fit are skipped.
void ReadExtension(Cantor_Mixer& song, TStream& s) {
  char magic[4] = {};
  s.ReadBytes(magic, 4);
  if (std::memcmp(magic, kExtensionMagic, 4) != 0) return;
  const int32_t version = s.ReadInt();
  if (version < 1 || version > kExtensionVersion) return;

  const int64_t orders = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 4, 1 << 30));
  for (int64_t k = 0; k < orders; ++k) {
    const int32_t v = s.ReadInt();
    if (k < static_cast<int64_t>(song.SongPattern.size())) song.SongPattern[static_cast<size_t>(k)] = v;
  }

  const int64_t instruments = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 16, 1 << 30));
  for (int64_t r = 0; r < instruments; ++r) {
    const int32_t number = s.ReadInt();
    Cantor_Instrument* inst = nullptr;
    if (number >= 1 && number <= song.ActiveSamples && number < static_cast<int32_t>(song.Instrument.size()))
      inst = song.Instrument[static_cast<size_t>(number)].get();
    const int32_t type = s.ReadInt();
    if (inst) inst->InstrumentType = type;
    const int64_t mapSize = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 4, 1 << 30));
    for (int64_t i = 0; i < mapSize; ++i) {
      const int32_t v = s.ReadInt();
      if (inst && i < static_cast<int64_t>(inst->NoteSample.size())) inst->NoteSample[static_cast<size_t>(i)] = v;
    }
    const int64_t points = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 4, 1 << 30));
    for (int64_t i = 0; i < points; ++i) {
      const int32_t tick = s.ReadInt();
      if (inst && i < static_cast<int64_t>(inst->VolEnvArray.size()) && inst->VolEnvArray[static_cast<size_t>(i)])
        inst->VolEnvArray[static_cast<size_t>(i)]->Tick = tick;
    }
  }

  const int64_t cells = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 16, 1 << 30));
  for (int64_t c = 0; c < cells; ++c) {
    const int32_t p = s.ReadInt(), t = s.ReadInt(), l = s.ReadInt(), note = s.ReadInt();
    if (p < 0 || p >= static_cast<int32_t>(song.Pattern.size()) || !song.Pattern[static_cast<size_t>(p)]) continue;
    Cantor_Pattern& pattern = *song.Pattern[static_cast<size_t>(p)];
    if (t < 0 || t >= static_cast<int32_t>(pattern.Track.size()) || !pattern.Track[static_cast<size_t>(t)]) continue;
    Cantor_Track& track = *pattern.Track[static_cast<size_t>(t)];
    if (l < 0 || l >= static_cast<int32_t>(track.Note.size())) continue;
    track.Note[static_cast<size_t>(l)] = note;
  }
  if (version < 2) return;

  const int32_t from = s.ReadInt();
  if (from == SONG_FROM_MOD || from == SONG_FROM_XM) song.SourceFormat = from;
  const int64_t pans = std::min<int64_t>(std::max(s.ReadInt(), 0), ItemsLeft(s, 12, 1 << 30));
  for (int64_t k = 0; k < pans; ++k) {
    const int32_t i = s.ReadInt(), slot = s.ReadInt(), pan = s.ReadInt();
    if (i < 1 || i >= static_cast<int32_t>(song.Instrument.size()) || !song.Instrument[static_cast<size_t>(i)]) continue;
    Cantor_Instrument& inst = *song.Instrument[static_cast<size_t>(i)];
    if (slot < 0 || slot >= static_cast<int32_t>(inst.Sample.size()) || !inst.Sample[static_cast<size_t>(slot)]) continue;
    inst.Sample[static_cast<size_t>(slot)]->FilePan = std::clamp(pan, 0, 255);
  }
  if (version < 3) return;
  const int32_t mixing = s.ReadInt();
  if (mixing == XM_MIX_BY_CHANNELS || mixing == XM_MIX_EQUAL_POWER) song.XmMixing = mixing;
}

// A pattern the sequencer can play: lines, a track per channel, all of one length.
bool Playable(const Cantor_Pattern& pattern, int32_t channels) {
  if (pattern.LineCount < 1 || pattern.TrackCount < channels ||
      static_cast<int32_t>(pattern.Track.size()) < pattern.TrackCount)
    return false;
  for (const auto& track : pattern.Track)
    if (!track || track->LineCount != pattern.LineCount) return false;
  return true;
}

}  // namespace

int32_t Cantor_Mixer::Save(const TStreamPtr& stream) {
  TStream& s = *stream;
  s.WriteBytes(kMagic, 3);
  WriteText8(s, u"OrbTracker");
  s.WriteInt(MaxPatterns);
  s.WriteInt(MaxSequences);
  s.WriteInt(MaxInstruments);
  s.WriteInt(DefaultTempo);
  s.WriteInt(DefaultSpeed);
  s.WriteInt(PeriodMode);
  s.WriteInt(Tempo);
  s.WriteInt(Speed);
  s.WriteFloat(MixLevel);
  s.WriteFloat(StereoSeperation);
  WriteText8(s, SongName);
  s.WriteInt(ActiveChannels);
  s.WriteInt(ActiveSequences);
  s.WriteInt(ActiveSongPatterns);
  s.WriteInt(ActiveSamples);
  for (int32_t k = 0; k < ActiveSongPatterns; ++k)
    s.WriteInt(k < static_cast<int32_t>(SongPattern.size()) ? SongPattern[static_cast<size_t>(k)] : 0);
  for (int32_t i = 1; i <= ActiveSamples; ++i) {
    const bool present = i < static_cast<int32_t>(Instrument.size()) && Instrument[static_cast<size_t>(i)];
    s.WriteByte(present ? 1 : 0);
    if (present) Instrument[static_cast<size_t>(i)]->Save(stream);
  }
  s.WriteInt(static_cast<int32_t>(Pattern.size()));
  for (const auto& pattern : Pattern) {
    s.WriteByte(pattern ? 1 : 0);
    if (pattern) pattern->Save(stream);
  }
  WriteExtension(*this, s);
  return 0;
}

Cantor_MixerPtr Cantor_Mixer::Load(const TStreamPtr& source) {
  TStreamPtr stream = source;
  // A stream that cannot tell its size is read into memory first, so that every count
  // in the file can be held against the bytes really there.
  if (source->Remaining() < 0)
    stream = TRamStream::FromBytes(ReadStreamBytes(*source, MaxSongFileBytes));
  TStream& s = *stream;

  char magic[3] = {};
  s.ReadBytes(magic, 3);
  if (std::memcmp(magic, kMagic, 3) != 0) return nullptr;

  auto song = std::make_shared<Cantor_Mixer>();
  song->TrackerName = ReadText8(s);
  song->MaxPatterns = s.ReadInt();
  song->MaxSequences = s.ReadInt();
  song->MaxInstruments = s.ReadInt();
  song->DefaultTempo = s.ReadInt();
  song->DefaultSpeed = s.ReadInt();
  song->PeriodMode = s.ReadInt();
  song->Tempo = s.ReadInt();
  song->Speed = s.ReadInt();
  song->MixLevel = s.ReadFloat();
  song->StereoSeperation = s.ReadFloat();
  song->SongName = ReadText8(s);
  const int32_t channels = s.ReadInt();
  song->ActiveSequences = s.ReadInt();
  song->ActiveSongPatterns = s.ReadInt();
  song->ActiveSamples = s.ReadInt();

  if (!CountOk(song->MaxPatterns, QTK_MAX_TABLE) || song->MaxPatterns < 1 ||
      !CountOk(song->MaxSequences, QTK_MAX_TABLE) || song->MaxSequences < 1 ||
      !CountOk(song->MaxInstruments, QTK_MAX_TABLE) || song->MaxInstruments < 1 ||
      channels < 1 || channels > QTK_MAX_CHANNELS || song->ActiveSongPatterns < -1 ||
      song->ActiveSongPatterns >= song->MaxSequences || song->ActiveSamples < 0 ||
      song->ActiveSamples >= song->MaxInstruments)
    return nullptr;
  if (!std::isfinite(song->MixLevel)) song->MixLevel = 0.5f;
  if (!std::isfinite(song->StereoSeperation)) song->StereoSeperation = 1.0f;

  song->Init(channels);
  for (int32_t k = 0; k < song->ActiveSongPatterns; ++k) song->SongPattern[static_cast<size_t>(k)] = s.ReadInt();

  for (int32_t i = 1; i <= song->ActiveSamples; ++i) {
    if (s.ReadByte() != 1) continue;
    auto inst = Cantor_Instrument::Load(stream);
    if (!inst) return nullptr;
    song->Instrument[static_cast<size_t>(i)] = inst;
  }

  const int32_t patterns = s.ReadInt();
  if (!CountOk(patterns, song->MaxPatterns)) return nullptr;
  for (int32_t i = 0; i < patterns; ++i)
    if (s.ReadByte() == 1) song->Pattern[static_cast<size_t>(i)] = Cantor_Pattern::Load(stream);

  ReadExtension(*song, s);

  // What the player relies on: patterns it can play (others are dropped) and an order
  // list whose used positions all name one; a missing pattern plays as 64 empty lines.
  for (auto& pattern : song->Pattern)
    if (pattern && !Playable(*pattern, channels)) pattern = nullptr;
  Cantor_PatternPtr empty;
  for (int32_t k = 0; k <= song->ActiveSongPatterns; ++k) {
    const int32_t p = song->SongPattern[static_cast<size_t>(k)];
    if (p < 0 || p >= static_cast<int32_t>(song->Pattern.size())) return nullptr;
    auto& slot = song->Pattern[static_cast<size_t>(p)];
    if (slot) continue;
    if (!empty) empty = Cantor_Pattern::Create(song.get(), channels, 64);
    slot = empty;
  }
  song->CurrentPattern = song->SongPattern[0];
  return song;
}

bool ProbeQTK(const uint8_t* head, size_t size) { return size >= 3 && std::memcmp(head, kMagic, 3) == 0; }

TMusicPtr LoadQTK(const TMusicSource& source) {
  TStreamPtr stream = OpenMusicSource(source);
  if (!stream) return nullptr;
  return Cantor_Mixer::Load(stream);
}
