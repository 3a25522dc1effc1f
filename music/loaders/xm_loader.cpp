// Extended module loader: header and order table, packed patterns, instruments with
// note-to-sample maps and volume envelopes, delta-coded sample data.
#include "xm_loader.h"

#include <algorithm>
#include <cstring>

#include "format_io.h"
#include <ormix/stream/stream.h>

namespace {

constexpr uint64_t kSignatureLength = 17;

struct XmSampleHeader {
  uint32_t length = 0;  // bytes
  uint32_t loopStart = 0;
  uint32_t loopLength = 0;
  bool packed = false;  // 4-bit codes through a table of 16 steps (reserved byte 0xAD)
  Cantor_SamplePtr sample;  // null for samples beyond the instrument's table
};

// Note byte n is stored as n - 1 (97, key off, becomes KeyOffNote); the lowest note,
// byte 1, would become 0 (no note) and is kept apart as XmLowestNote.
int32_t StoredNote(int32_t n) { return n == 1 ? XmLowestNote : n - 1; }

// Decodes R x NC packed cells from `size` bytes at `data`. Cells after the end of the
// packed data stay empty.
void DecodePackedCells(const uint8_t* data, uint64_t size, Cantor_Pattern& pattern) {
  uint64_t q = 0;
  auto next = [&]() -> int32_t { return q < size ? data[q++] : 0; };
  for (int32_t line = 0; line < pattern.LineCount; ++line) {
    for (int32_t ch = 0; ch < pattern.TrackCount; ++ch) {
      if (q >= size) return;
      Cantor_Track& t = *pattern.Track[static_cast<size_t>(ch)];
      const size_t l = static_cast<size_t>(line);
      const int32_t a = next();
      if (a & 0x80) {
        if (a & 0x01) t.Note[l] = StoredNote(next());
        if (a & 0x02) t.Inst[l] = next();
        if (a & 0x04) t.Vol[l] = next();
        if (a & 0x08) t.FX[l] = next();
        if (a & 0x10) t.FXV[l] = next();
      } else {
        t.Note[l] = a == 1 ? XmLowestNote : a - 1;
        t.Inst[l] = next();
        t.Vol[l] = next();
        t.FX[l] = next();
        t.FXV[l] = next();
      }
    }
  }
}

// Reads one sample's delta-coded data (at most what the file still holds).
void ReadSampleData(TByteCursor& in, const XmSampleHeader& h) {
  Cantor_Sample& s = *h.sample;
  uint64_t stored = h.length;
  if (h.packed && !(s.Flag & 0x10)) stored = 16 + (static_cast<uint64_t>(h.length) + 1) / 2;
  const uint64_t bytes = std::min<uint64_t>(stored, in.Remaining());
  uint64_t available = 0;
  const uint8_t* p = in.Peek(bytes, available);
  if (h.packed && !(s.Flag & 0x10)) {
    // The table of 16 signed steps, then a code a frame, the low nibble first.
    const uint64_t frames = available > 16 ? std::min<uint64_t>(h.length, 2 * (available - 16)) : 0;
    TBank bank(frames);
    uint8_t sum = 0;
    for (uint64_t i = 0; i < frames; ++i) {
      const uint8_t code = p[16 + i / 2];
      sum = static_cast<uint8_t>(sum + p[(i & 1) ? code >> 4 : code & 15]);
      bank[i] = sum;
    }
    s.ConvertSampleFromBank(bank, 1);
  } else if (s.Flag & 0x10) {
    const uint64_t frames = available / 2;
    TBank bank(frames * 2);
    uint16_t sum = 0;
    for (uint64_t i = 0; i < frames; ++i) {
      sum = static_cast<uint16_t>(sum + (p[2 * i] | (p[2 * i + 1] << 8)));
      bank[2 * i] = static_cast<uint8_t>(sum & 0xFF);
      bank[2 * i + 1] = static_cast<uint8_t>(sum >> 8);
    }
    s.ConvertSampleFromBank(bank, 2);
  } else {
    TBank bank(available);
    uint8_t sum = 0;
    for (uint64_t i = 0; i < available; ++i) {
      sum = static_cast<uint8_t>(sum + p[i]);
      bank[i] = sum;
    }
    s.ConvertSampleFromBank(bank, 1);
  }
  // An odd byte of 16-bit data is skipped too: the next sample starts after `length`.
  in.Skip(stored);

  uint64_t loopStart = h.loopStart, loopLength = h.loopLength;
  if (s.Flag & 0x10) {
    loopStart /= 2;
    loopLength /= 2;
  }
  // Loop points beyond the data are kept within it (and so within 32 bits).
  s.LoopStart = static_cast<int32_t>(std::min<uint64_t>(loopStart, static_cast<uint64_t>(s.Length)));
  s.LoopLength = static_cast<int32_t>(std::min<uint64_t>(loopLength, static_cast<uint64_t>(s.Length)));
  s.Loop = (s.Flag & 1) ? 1 : (s.Flag & 2) ? 2 : 0;
}

// Reads an instrument: its header, its sample headers and (unless `deferred` is given,
// which then receives the sample headers in order) its sample data.
Cantor_InstrumentPtr ReadInstrument(TByteCursor& in, std::vector<XmSampleHeader>* deferred) {
  auto inst = std::make_shared<Cantor_Instrument>();
  const uint64_t start = in.Pos();
  const uint32_t headerSize = in.U32LE();
  inst->Name = in.Name(22);
  inst->InstrumentType = in.U8();
  const int32_t count = in.U16LE();
  if (count == 0) {
    in.Seek(start + headerSize);
    return inst;
  }
  const int32_t kept = std::min(count, XM_MAX_SAMPLES);
  inst->SampleCount = kept;
  in.U32LE();  // sample header size
  for (int32_t note = 1; note <= 96; ++note) {
    const int32_t n = in.U8();
    inst->NoteSample[static_cast<size_t>(note)] = n >= kept ? 0 : n;
  }
  // The envelope words as the file has them (levels 0..64) go into VolEnvelope too, with
  // the sustain and loop point numbers after them (below): format playback reads those.
  for (int i = 0; i < 12; ++i) {
    const int32_t tick = in.U16LE();
    const int32_t value = in.U16LE();
    inst->AddVolumeEnvelopePoint(tick, value);
    inst->VolEnvelope[static_cast<size_t>(2 * i)] = tick;
    inst->VolEnvelope[static_cast<size_t>(2 * i + 1)] = value;
  }
  for (int i = 1; i <= 48; ++i) inst->PanEnvelope[static_cast<size_t>(i)] = in.U8();
  // More points than the 12 stored would index past the envelope.
  inst->VolPoints = std::min<int32_t>(in.U8(), 12);
  inst->PanPoints = in.U8();
  inst->VolSustain = in.U8();
  inst->VolEnvelope[24] = inst->VolSustain;
  inst->SetVolSustainPoint(inst->VolSustain);
  inst->VolLoopStart = in.U8();
  inst->VolLoopEnd = in.U8();
  inst->VolEnvelope[25] = inst->VolLoopStart;
  inst->VolEnvelope[26] = inst->VolLoopEnd;
  inst->SetVolLoopPoints(inst->VolLoopStart, inst->VolLoopEnd);
  inst->PanSustain = in.U8();
  inst->PanLoopStart = in.U8();
  inst->PanLoopEnd = in.U8();
  inst->VolType = in.U8();
  inst->PanType = in.U8();
  inst->VibType = in.U8();
  inst->VibSweep = in.U8();
  inst->VibDepth = in.U8();
  inst->VibRate = in.U8();
  inst->VolFadeout = in.U16LE();
  inst->Reserved = in.U16LE();

  in.Seek(start + headerSize);
  // Headers past the end of the file read as zeros (no data): only those the file can
  // hold, and the ones kept in the instrument's table, take memory.
  const int32_t stored = static_cast<int32_t>(
      std::min<uint64_t>(static_cast<uint64_t>(count), std::max<uint64_t>(kept, in.Remaining() / 40 + 1)));
  std::vector<XmSampleHeader> headers(static_cast<size_t>(stored));
  for (int32_t k = 0; k < stored; ++k) {
    XmSampleHeader& h = headers[static_cast<size_t>(k)];
    const uint64_t at = in.Pos();
    h.length = in.U32LE();
    h.loopStart = in.U32LE();
    h.loopLength = in.U32LE();
    if (k < kept) {
      auto s = std::make_shared<Cantor_Sample>();
      s->Volume = static_cast<float>(in.U8() * 0.015625);
      s->FineTune = static_cast<int8_t>(in.U8()) * 0.0078125;
      s->Flag = in.U8();
      const int32_t pan = in.U8();
      s->Pan = pan > 127 ? pan - 128 : pan;
      s->FilePan = pan;
      s->RelativeNote = static_cast<int8_t>(in.U8());
      h.packed = in.U8() == 0xAD;
      s->Name = in.Name(22);
      h.sample = s;
      inst->Sample[static_cast<size_t>(k)] = s;
    }
    in.Seek(at + 40);
  }
  in.Skip(40 * static_cast<uint64_t>(count - stored));
  if (deferred) {
    deferred->insert(deferred->end(), headers.begin(), headers.end());
    return inst;
  }
  for (const XmSampleHeader& h : headers) {
    if (h.sample) ReadSampleData(in, h);
    else in.Skip(h.length);
  }
  return inst;
}

}  // namespace

bool ProbeXM(const uint8_t* head, size_t size) {
  if (size < kSignatureLength) return false;
  // The signature, with bytes of codes 0-32 around it ignored as the name fields are.
  size_t a = 0, b = kSignatureLength;
  while (a < b && head[a] <= 32) ++a;
  while (b > a && head[b - 1] <= 32) --b;
  static constexpr char kSignature[] = "Extended Module:";
  return b - a == sizeof kSignature - 1 && std::memcmp(head + a, kSignature, b - a) == 0;
}

TMusicPtr LoadXM(const TMusicSource& source) {
  auto song = std::make_shared<Cantor_Mixer>();
  TStreamPtr stream = OpenMusicSource(source);
  if (!stream) return nullptr;

  std::vector<uint8_t> bytes = ReadStreamBytes(*stream, kSignatureLength);
  {
    Text signature;
    for (uint8_t b : bytes) signature.push_back(b);
    if (bytes.size() < kSignatureLength || TrimControl(signature) != u"Extended Module:")
      return nullptr;
  }
  std::vector<uint8_t> rest = ReadStreamBytes(*stream, MaxSongFileBytes - bytes.size());
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  rest = {};
  TByteCursor in(std::move(bytes));

  in.Seek(17);
  song->SongName = in.Name(20);
  in.U8();  // 0x1A
  song->TrackerName = in.Name(20);
  {
    // Songs saved as by FastTracker 2 come in two kinds: its own (song name padded with
    // spaces), mixed at an equal-power pan; and those of other trackers that write its
    // name but pad with zeros, mixed with headroom for their channel count.
    uint8_t raw[40];
    in.Seek(17);
    in.Bytes(raw, 20);
    in.Seek(38);
    in.Bytes(raw + 20, 20);
    if (std::memcmp(raw + 20, "FastTracker v2.00", 17) == 0)
      song->XmMixing = std::memchr(raw, 0, 20) ? XM_MIX_BY_CHANNELS : XM_MIX_EQUAL_POWER;
    in.Seek(58);
  }
  const int32_t version = in.U16LE();
  const uint32_t headerSize = in.U32LE();
  const int32_t songLength = in.U16LE();
  in.U16LE();  // restart position
  const int32_t channels = in.U16LE();
  const int32_t storedPatterns = in.U16LE();
  const int32_t instruments = std::min<int32_t>(in.U16LE(), XM_MAX_INSTRUMENTS);
  const int32_t flags = in.U16LE();
  const int32_t speed = in.U16LE();
  const int32_t tempo = in.U16LE();
  if (channels < 1 || channels > XM_MAX_CHANNELS) return nullptr;

  song->Speed = song->DefaultSpeed = speed;
  song->Tempo = song->DefaultTempo = tempo;
  song->PeriodMode = flags;
  song->SourceFormat = SONG_FROM_XM;
  song->ActiveSamples = instruments;
  song->Init(channels);

  // The order list keeps within its table: at most MaxSequences entries are read and
  // positions 0..ActiveSongPatterns stay inside them.
  const int32_t tableSize = static_cast<int32_t>(song->SongPattern.size());
  const int32_t entries = std::min(songLength + 1, tableSize);
  int32_t highestOrder = 0;
  for (int32_t k = 0; k < entries; ++k) {
    const int32_t v = in.U8();
    song->SongPattern[static_cast<size_t>(k)] = v;
    highestOrder = std::max(highestOrder, v);
  }
  song->ActiveSongPatterns = std::min(songLength, tableSize) - 1;
  song->CurrentPattern = song->SongPattern[0];
  song->ActiveSequences = storedPatterns;

  const int32_t kept = std::min(storedPatterns, XM_MAX_PATTERNS);
  // A song must play at least one pattern the file stores: one whose order list names
  // only missing patterns would be minutes of nothing.
  {
    bool stored = false;
    for (int32_t k = 0; k <= std::max(song->ActiveSongPatterns, 0) && k < entries; ++k)
      stored = stored || song->SongPattern[static_cast<size_t>(k)] < kept;
    if (!stored) {
      RefuseMusicLoad(u"the order list names no pattern the file stores");
      return nullptr;
    }
  }
  song->Pattern.assign(static_cast<size_t>(std::max(kept, highestOrder + 1)), nullptr);

  // Pattern cells cost memory whatever the file holds: a song may have at most as many
  // cells as the larger of XM_CELL_BUDGET and its file's size (a real file spends at
  // least a byte on every cell of a pattern with data); a larger song is refused.
  // Patterns without data share one empty pattern per line count.
  const uint64_t cellBudget = std::max<uint64_t>(XM_CELL_BUDGET, in.Size());
  // Files before version 1.04 store the instrument and sample headers first, then the
  // patterns (in 1.02 with the line count in one byte, less one), then the sample data.
  const bool headersFirst = version < 0x0104;
  uint64_t patternsAt = 60 + static_cast<uint64_t>(headerSize);
  std::vector<XmSampleHeader> deferred;
  song->Instrument.assign(static_cast<size_t>(instruments) + 1, nullptr);
  if (headersFirst) {
    in.Seek(patternsAt);
    for (int32_t i = 1; i <= instruments; ++i)
      song->Instrument[static_cast<size_t>(i)] = ReadInstrument(in, &deferred);
    patternsAt = in.Pos();
  }
  // A pattern header giving 0 lines plays 64 empty ones.
  const auto lineCount = [&]() {
    const int32_t n = version <= 0x0102 ? in.U8() + 1 : in.U16LE();
    return n == 0 ? 64 : std::clamp<int32_t>(n, 1, XM_MAX_LINES);
  };
  {
    // The pattern headers alone tell the cells: a song above the budget is refused
    // before any pattern is made.
    uint64_t cells = 0, at = patternsAt;
    for (int32_t p = 0; p < storedPatterns && p < kept; ++p) {
      in.Seek(at);
      const uint32_t headerLength = in.U32LE();
      in.U8();  // packing type
      const int32_t lines = lineCount();
      const uint32_t packedSize = in.U16LE();
      at += static_cast<uint64_t>(headerLength) + packedSize;
      in.Seek(at - packedSize);
      if (packedSize > 0 && in.Remaining() > 0)
        cells += static_cast<uint64_t>(lines) * static_cast<uint64_t>(channels);
    }
    if (cells > cellBudget) return nullptr;
  }
  std::vector<Cantor_PatternPtr> emptyPatterns(XM_MAX_LINES + 1);
  auto emptyPattern = [&](int32_t lines) {
    auto& slot = emptyPatterns[static_cast<size_t>(lines)];
    if (!slot) {
      slot = Cantor_Pattern::Create(song.get(), channels, lines);
      slot->UpdateText();
    }
    return slot;
  };
  uint64_t pos = patternsAt;
  for (int32_t p = 0; p < storedPatterns; ++p) {
    in.Seek(pos);
    const uint32_t headerLength = in.U32LE();
    // The packing type byte is always 0 in files of the format's tracker; other writers
    // put other values there, and the cells are packed the same way.
    in.U8();
    const int32_t lines = lineCount();
    const uint32_t packedSize = in.U16LE();
    const uint64_t data = pos + headerLength;
    pos = data + packedSize;
    if (p >= kept) continue;
    in.Seek(data);
    uint64_t available = 0;
    const uint8_t* packed = in.Peek(packedSize, available);
    if (available == 0) {
      song->Pattern[static_cast<size_t>(p)] = emptyPattern(lines);
      continue;
    }
    auto pattern = Cantor_Pattern::Create(song.get(), channels, lines);
    DecodePackedCells(packed, available, *pattern);
    pattern->UpdateText();
    song->Pattern[static_cast<size_t>(p)] = pattern;
  }
  // Patterns the order list names but the file does not store: 64 empty lines.
  for (int32_t k = 0; k < entries; ++k) {
    auto& slot = song->Pattern[static_cast<size_t>(song->SongPattern[static_cast<size_t>(k)])];
    if (!slot) slot = emptyPattern(64);
  }

  in.Seek(pos);
  if (headersFirst) {
    for (const XmSampleHeader& h : deferred) {
      if (h.sample) ReadSampleData(in, h);
      else in.Skip(h.length);
    }
  } else {
    for (int32_t i = 1; i <= instruments; ++i)
      song->Instrument[static_cast<size_t>(i)] = ReadInstrument(in, nullptr);
  }

  stream->Close();
  song->CalcSize();
  song->MixLevel = 0.25f;
  return song;
}
