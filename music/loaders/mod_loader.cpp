// MOD module loader: 31 sample headers, the order table, the format tag that gives the
// channel count, 64-line patterns of 4-byte cells and 8-bit sample data.
#include "mod_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "format_io.h"
#include <ormix/stream/stream.h>

namespace {

struct TagEntry {
  const char* tag;
  const char* tracker;
  int32_t channels;
};

const TagEntry kTags[] = {
    {"M.K.", "Protracker 4 channel", 4},        {"M!K!", "Protracker 4 channel", 4},
    {"FLT4", "Startracker 4 channel", 4},       {"2CHN", "Fasttracker 2 channel", 2},
    {"4CHN", "Fasttracker 4 channel", 4},       {"6CHN", "Fasttracker 6 channel", 6},
    {"8CHN", "Fasttracker 8 channel", 8},       {"10CH", "Fasttracker 10 channel", 10},
    {"12CH", "Fasttracker 12 channel", 12},     {"14CH", "Fasttracker 14 channel", 14},
    {"16CH", "Fasttracker 16 channel", 16},     {"18CH", "Fasttracker 18 channel", 18},
    {"20CH", "Fasttracker 20 channel", 20},     {"22CH", "Fasttracker 22 channel", 22},
    {"24CH", "Fasttracker 24 channel", 24},     {"26CH", "Fasttracker 26 channel", 26},
    {"28CH", "Fasttracker 28 channel", 28},     {"30CH", "Fasttracker 30 channel", 30},
    {"32CH", "Fasttracker 32 channel", 32},     {"TDZ1", "TakeTracker 1 channel", 1},
    {"TDZ2", "TakeTracker 2 channel", 2},       {"TDZ3", "TakeTracker 3 channel", 3},
    {"5CHN", "TakeTracker 5 channel", 5},       {"7CHN", "TakeTracker 7 channel", 7},
    {"9CHN", "TakeTracker 9 channel", 9},       {"11CH", "TakeTracker 11 channel", 11},
    {"13CH", "TakeTracker 13 channel", 13},     {"15CH", "TakeTracker 15 channel", 15},
    {"16CN", "Taketracker 16 channel", 16},     {"32CN", "Taketracker 32 channel", 32},
    {"CD81", "Atari oktalyzer 8 channel", 8},   {"OCTA", "Atari oktalyzer 8 channel", 8},
    {"N.T.", "NoiseTracker 32 channel", 32},
};

const int32_t kPeriods[108] = {
    6868, 6464, 6096, 5760, 5424, 5120, 4832, 4560, 4304, 4064, 3840, 3624, 3424, 3232, 3048,
    2880, 2712, 2560, 2416, 2280, 2152, 2032, 1920, 1812, 1712, 1616, 1525, 1440, 1357, 1281,
    1209, 1141, 1077, 1017, 961,  907,  856,  808,  762,  720,  678,  640,  604,  570,  538,
    508,  480,  453,  428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  226,
    214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120,  113,  107,  101,  95,
    90,   85,   80,   76,   71,   67,   64,   60,   57,   54,   51,   48,   45,   43,   40,
    38,   36,   34,   32,   30,   29,   27,   26,   24,   23,   22,   20,   19,   18,   17,
    16,   15,   14};

constexpr uint64_t kTagOffset = 1080;
constexpr uint64_t kPatternOffset = 1084;
// The track layout: 31 samples, the song length and the stored track count at 950, then
// 128 positions of four track numbers, the tag at 1464 and 64-line one-channel tracks.
constexpr uint64_t kTrackTagOffset = 1464;
constexpr uint64_t kTrackOffset = 1468;
constexpr uint64_t kTrackBytes = 64 * 4;
// The old 15-sample layout: no tag, the order table at 470 and patterns from 600.
constexpr uint64_t kOldOrderOffset = 470;
constexpr uint64_t kOldPatternOffset = 600;
constexpr int32_t kOrderTableSize = 128;

Text HexByte(int v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
  return ToText(buf);
}

struct SampleHeader {
  Text name;
  int32_t length = 0;  // bytes
  int32_t finetune = 0;
  int32_t volume = 0;
  int32_t loopStart = 0;   // bytes
  int32_t loopLength = 0;  // bytes
};

}  // namespace

int32_t PeriodToNote(int32_t period) {
  for (int32_t i = 0; i < 108; ++i)
    if (kPeriods[i] <= period) return i;
  return 0;
}

namespace {
// Further tags real files carry: 4-channel variants of other trackers.
const TagEntry kExtraTags[] = {
    {"FEST", "His Master's Noise 4 channel", 4}, {"M&K!", "His Master's Noise 4 channel", 4},
    {"NSMS", "Protracker 4 channel", 4},         {"LARD", "Protracker 4 channel", 4},
    {"PATT", "Protracker 4 channel", 4},         {"FLT8", "Startracker 8 channel", 8},
    {"EXO4", "Startracker 4 channel", 4},        {"EXO8", "Startracker 8 channel", 8},
    {"CD61", "Atari oktalyzer 6 channel", 6},    {"FA04", "Digital Tracker 4 channel", 4},
    {"FA06", "Digital Tracker 6 channel", 6},    {"FA08", "Digital Tracker 8 channel", 8},
};

// The channel count of a four-byte tag, 0 for an unknown one; `tracker` names the
// tracker of a listed tag (null for the counts spelled "nCHN" / "nnCH" / "nnCN" beyond
// the lists). Allocates nothing.
int32_t TagChannels(const uint8_t* tag, const char*& tracker) {
  tracker = nullptr;
  for (const auto* list : {kTags, kExtraTags}) {
    const size_t n = list == kTags ? std::size(kTags) : std::size(kExtraTags);
    for (size_t i = 0; i < n; ++i) {
      if (std::memcmp(tag, list[i].tag, 4) == 0) {
        tracker = list[i].tracker;
        return list[i].channels;
      }
    }
  }
  const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  int32_t n = 0;
  if (digit(tag[0]) && std::memcmp(tag + 1, "CHN", 3) == 0) n = tag[0] - '0';
  else if (std::memcmp(tag, "TDZ", 3) == 0 && digit(tag[3])) n = tag[3] - '0';
  else if (digit(tag[0]) && digit(tag[1]) && (std::memcmp(tag + 2, "CH", 2) == 0 || std::memcmp(tag + 2, "CN", 2) == 0))
    n = (tag[0] - '0') * 10 + (tag[1] - '0');
  return n >= 1 && n <= 32 ? n : 0;
}
}  // namespace

bool ModFormatTag(const Text& tag, Text& trackerName, int32_t& channels) {
  if (tag.size() != 4) return false;
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    if (tag[static_cast<size_t>(i)] > 0xFF) return false;
    bytes[i] = static_cast<uint8_t>(tag[static_cast<size_t>(i)]);
  }
  const char* tracker = nullptr;
  const int32_t n = TagChannels(bytes, tracker);
  if (n == 0) return false;
  trackerName = tracker ? ToText(tracker) : u"Generic " + IntToText(n) + u" channel";
  channels = n;
  return true;
}

namespace {
// True when the first bytes look like a 15-sample Soundtracker song: sample headers with
// volumes of 0..64, fine tunes of 0..15 and lengths up to 64 KiB, a song length of
// 1..128, order entries below 64, and the patterns present. Names may hold any bytes and
// loops may reach past their sample (real files have both). `fileSize` beyond what a
// song can be skips the checks of the size.
bool LooksLikeOldMod(const uint8_t* data, uint64_t size, uint64_t fileSize) {
  const bool sized = fileSize < UINT64_MAX / 2;
  if (sized && fileSize < kOldPatternOffset + 1024) return false;
  const auto u8 = [&](uint64_t at) -> uint32_t { return at < size ? data[at] : 0; };
  const auto u16be = [&](uint64_t at) -> uint32_t { return (u8(at) << 8) | u8(at + 1); };
  uint64_t sampleBytes = 0;
  for (int32_t i = 0; i < 15; ++i) {
    const uint64_t h = 20 + 30 * static_cast<uint64_t>(i);
    const uint32_t words = u16be(h + 22);
    const int32_t fine = static_cast<int32_t>(u8(h + 24));
    const int32_t volume = static_cast<int32_t>(u8(h + 25));
    if (fine > 15 || volume > 64 || words > 32768) return false;
    sampleBytes += 2ull * words;
  }
  const int32_t length = static_cast<int32_t>(u8(kOldOrderOffset));
  if (length < 1 || length > 128) return false;
  int32_t highest = 0;
  for (int32_t k = 0; k < 128; ++k) {
    const int32_t v = static_cast<int32_t>(u8(kOldOrderOffset + 2 + static_cast<uint64_t>(k)));
    if (v > 63) return false;
    if (k < length) highest = std::max(highest, v);
  }
  // Patterns must be there; sample data may be cut short.
  return !sized || (fileSize >= kOldPatternOffset + (static_cast<uint64_t>(highest) + 1) * 1024 &&
                    fileSize <= kOldPatternOffset + 128ull * 1024 + sampleBytes + 65536);
}

bool LooksLikeOldMod(const TByteCursor& in, uint64_t fileSize) {
  return LooksLikeOldMod(in.Data(), in.Size(), fileSize);
}
}  // namespace

namespace {
// The tags of the track layout.
bool IsTrackTag(const uint8_t* tag) { return std::memcmp(tag, "MTN\0", 4) == 0 || std::memcmp(tag, "IT10", 4) == 0; }
}  // namespace

bool ProbeMOD(const uint8_t* head, size_t size) {
  if (size >= kTrackOffset && IsTrackTag(head + kTrackTagOffset)) return true;
  uint8_t tag[4] = {};
  for (size_t i = 0; i < 4; ++i) tag[i] = kTagOffset + i < size ? head[kTagOffset + i] : 0;
  const char* tracker = nullptr;
  return TagChannels(tag, tracker) > 0 || LooksLikeOldMod(head, size, UINT64_MAX / 2);
}

namespace {
// Sample data, 8-bit signed, in instrument order. Missing bytes at the end of a
// truncated file read as silence.
void ReadSampleData(Cantor_Mixer& song, TByteCursor& in, const SampleHeader* headers, int32_t sampleCount) {
  for (int32_t i = 1; i <= sampleCount; ++i) {
    const SampleHeader& sh = headers[i];
    if (sh.length <= 4) continue;
    TBank bank(static_cast<size_t>(sh.length));
    in.Bytes(bank.data(), bank.size());
    song.Instrument[static_cast<size_t>(i)]->Sample[0]->ConvertSampleFromBank(bank, 1);
  }
}

// What the pan effects mean, from the values the patterns give them (E8x counted as
// x * 17): all below 0x30, no pans; all below 0x90 with some below 0x80, a 0..128
// range; else 0..255.
void JudgePanning(Cantor_Mixer& song) {
  int32_t most = -1;
  bool below80 = false;
  for (const auto& pattern : song.Pattern) {
    if (!pattern) continue;
    for (const auto& track : pattern->Track) {
      if (!track) continue;
      for (size_t l = 0; l < track->FX.size() && l < track->FXV.size(); ++l) {
        int32_t v = -1;
        if (track->FX[l] == 8) v = track->FXV[l];
        else if (track->FX[l] == 0xE && (track->FXV[l] >> 4) == 8) v = (track->FXV[l] & 15) * 17;
        if (v < 0) continue;
        most = std::max(most, v);
        below80 = below80 || v < 0x80;
      }
    }
  }
  if (most >= 0 && most < 0x30) song.ModPanning = MOD_PAN_NONE;
  else if (most >= 0 && most < 0x90 && below80) song.ModPanning = MOD_PAN_HALF;
}

// One cell of four bytes into line `line` of `track`.
void ReadCell(Cantor_Track& track, int32_t line, const uint8_t* c) {
  const size_t l = static_cast<size_t>(line);
  const int32_t period = (c[0] & 0x0F) * 256 + c[1];
  const int32_t effect = c[2] & 0x0F;
  track.Inst[l] = (c[0] & 0xF0) + (c[2] >> 4);
  track.FX[l] = effect;
  track.FXV[l] = effect == 0xD ? (c[3] >> 4) * 10 + (c[3] & 0x0F) : c[3];
  if (period != 0) track.Note[l] = PeriodToNote(period);
}

// The track layout: each position of the song names four stored tracks, which become
// that position's pattern.
// `in` holds the whole file.
bool LoadTrackLayout(const Cantor_MixerPtr& song, TByteCursor& in, const SampleHeader* headers, TStream& stream) {
  in.Seek(950);
  const int32_t positions = std::clamp<int32_t>(in.U8(), 1, kOrderTableSize);
  const int32_t stored = in.U8();
  uint8_t table[kOrderTableSize * 4];
  in.Bytes(table, sizeof table);
  if (in.Size() < kTrackOffset + kTrackBytes) {
    RefuseMusicLoad(u"the file holds no track");
    return false;
  }
  song->SongPattern.assign(static_cast<size_t>(positions) + 1, 0);
  song->Pattern.assign(static_cast<size_t>(positions), nullptr);
  song->ActiveSongPatterns = positions - 1;
  for (int32_t k = 0; k < positions; ++k) {
    auto pattern = Cantor_Pattern::Create(song.get(), 4, 64);
    pattern->Title = u"Position " + IntToText(k);
    for (int32_t ch = 0; ch < 4; ++ch) {
      Cantor_Track& track = *pattern->Track[static_cast<size_t>(ch)];
      const uint64_t at = kTrackOffset + table[k * 4 + ch] * kTrackBytes;
      for (int32_t line = 0; line < 64; ++line) {
        uint8_t c[4] = {};
        in.Seek(at + static_cast<uint64_t>(line) * 4);
        in.Bytes(c, 4);
        ReadCell(track, line, c);
        track.Vol[static_cast<size_t>(line)] = (ch == 0 || ch == 3) ? 0xC0 : 0xCF;
      }
    }
    pattern->UpdateText();
    song->Pattern[static_cast<size_t>(k)] = pattern;
    song->SongPattern[static_cast<size_t>(k)] = k;
  }
  song->CurrentPattern = 0;
  JudgePanning(*song);
  in.Seek(kTrackOffset + static_cast<uint64_t>(stored) * kTrackBytes);
  ReadSampleData(*song, in, headers, 31);
  stream.Close();
  song->WriteBug(u"Load complete.\n");
  return true;
}
}  // namespace

TMusicPtr LoadMOD(const TMusicSource& source) {
  auto song = std::make_shared<Cantor_Mixer>();
  song->WriteBug(u"Loading MOD format file...\n");
  TStreamPtr stream = OpenMusicSource(source);
  if (!stream) return nullptr;

  // The headers first: a file of another format costs no more than 1468 bytes.
  TByteCursor in(ReadStreamBytes(*stream, kTrackOffset));
  song->SongName = in.Name(20);

  in.Seek(kTagOffset);
  uint8_t tagBytes[4];
  in.Bytes(tagBytes, 4);
  Text rawTag;
  for (uint8_t b : tagBytes) rawTag.push_back(b);
  Text log = u"TAG = \"" + TrimControl(rawTag) + u"\"   $";
  for (int i = 0; i < 4; ++i) {
    if (i) log += u".$";
    log += HexByte(tagBytes[i]);
  }
  song->WriteBug(log + u"\n");

  Text trackerName;
  int32_t channels = 0;
  bool tagged = ModFormatTag(rawTag, trackerName, channels);
  // The track layout, tagged at 1464.
  uint8_t trackTag[4] = {};
  if (in.Size() >= kTrackOffset) {
    in.Seek(kTrackTagOffset);
    in.Bytes(trackTag, 4);
  }
  const bool tracks = IsTrackTag(trackTag);
  if (tracks) {
    tagged = true;
    trackerName = trackTag[0] == 'M' ? u"Soundtracker 2.6" : u"Ice Tracker";
    channels = 4;
  }
  // Untagged: perhaps the old 15-sample layout; its headers are judged before the rest
  // of the file is read.
  if (!tagged && !LooksLikeOldMod(in, UINT64_MAX / 2)) return nullptr;

  // The rest of the file.
  {
    std::vector<uint8_t> all(in.Size());
    in.Seek(0);
    in.Bytes(all.data(), all.size());
    std::vector<uint8_t> rest = ReadStreamBytes(*stream, MaxSongFileBytes - all.size());
    all.insert(all.end(), rest.begin(), rest.end());
    in = TByteCursor(std::move(all));
  }
  if (!tagged) {
    if (!LooksLikeOldMod(in, in.Size())) return nullptr;
    trackerName = u"Soundtracker 15 samples";
    channels = 4;
  }
  const int32_t sampleCount = tagged ? 31 : 15;
  const uint64_t orderOffset = tagged ? 950 : kOldOrderOffset;
  const uint64_t patternOffset = tagged ? kPatternOffset : kOldPatternOffset;

  song->TrackerName = trackerName;
  song->SourceFormat = SONG_FROM_MOD;
  if (!tagged) song->ModFlow = MOD_FLOW_SOUNDTRACKER;
  else if (!tracks && (std::memcmp(tagBytes, "M!K!", 4) == 0 || std::memcmp(tagBytes, "PATT", 4) == 0))
    song->ModFlow = MOD_FLOW_PROTRACKER_MANY;
  else if (!tracks && (std::memcmp(tagBytes, "FEST", 4) == 0 || std::memcmp(tagBytes, "M&K!", 4) == 0))
    song->ModFlow = MOD_FLOW_NOISE;
  else if (!tracks && (std::memcmp(tagBytes, "FLT", 3) == 0 || std::memcmp(tagBytes, "EXO", 3) == 0))
    song->ModFlow = MOD_FLOW_STARTREKKER;
  else if (tracks || std::memcmp(tagBytes, "M.K.", 4) != 0) song->ModFlow = MOD_FLOW_OTHER;
  song->Init(channels);
  song->WriteBug(u"Format = " + trackerName + u"\n");
  song->WriteBug(u"Channels = " + IntToText(channels) + u"\n");

  song->ActiveSamples = sampleCount;
  song->WriteBug(u"Instruments = " + IntToText(sampleCount) + u"\n");
  song->Instrument.assign(sampleCount + 1, nullptr);

  SampleHeader headers[32];
  for (int32_t i = 1; i <= sampleCount; ++i) {
    const uint64_t h = 20 + 30 * static_cast<uint64_t>(i - 1);
    SampleHeader& sh = headers[i];
    in.Seek(h);
    sh.name = in.Name(22);
    in.Seek(h + 22);
    sh.length = in.U16BE() * 2;
    in.Seek(h + 24);
    int32_t fine = in.U8();
    if (fine > 16) fine -= 256;
    if (fine > 7) fine -= 16;
    sh.finetune = fine;
    in.Seek(h + 25);
    sh.volume = std::clamp<int32_t>(in.U8(), 0, 64);
    in.Seek(h + 26);
    sh.loopStart = in.U16BE() * 2;
    in.Seek(h + 28);
    sh.loopLength = in.U16BE() * 2;

    auto inst = std::make_shared<Cantor_Instrument>();
    inst->Name = sh.name;
    song->Instrument[static_cast<size_t>(i)] = inst;
    if (sh.length > 2) {
      inst->SampleCount = 1;
      auto sample = std::make_shared<Cantor_Sample>();
      sample->Name = inst->Name;
      sample->Volume = static_cast<float>(sh.volume * 0.015625);
      sample->FineTune = sh.finetune * 0.125;
      // A loop reaching past the sample: some trackers wrote its start in bytes; else
      // it is cut at the sample's end.
      if (sh.loopLength > 2 && sh.loopStart + sh.loopLength > sh.length) {
        if (sh.loopStart / 2 + sh.loopLength <= sh.length || sh.loopStart >= sh.length) sh.loopStart /= 2;
        sh.loopLength = std::min(sh.loopLength, sh.length - sh.loopStart);
      }
      if (sh.loopLength > 2) {
        sample->Loop = 1;
        sample->LoopStart = sh.loopStart;
        sample->LoopLength = sh.loopLength;
      }
      inst->Sample[0] = sample;
      song->WriteBug(u"Sample " + IntToText(i) + u" \"" + sample->Name + u"\" " +
                     IntToText(sh.length) + u"k\n");
    }
  }

  // Order list: L + 1 entries of the 128-entry table (L is limited to the table). The
  // highest pattern number among them tells how many patterns are stored. Patterns
  // named only after the song's end may be stored too, with the sample data after all
  // of them: when the file is long enough to hold those too, they are read as well, so
  // that the sample data is taken from the right place.
  if (tracks) return LoadTrackLayout(song, in, headers, *stream) ? song : nullptr;

  in.Seek(orderOffset);
  const int32_t songLength = std::min<int32_t>(in.U8(), kOrderTableSize);
  // The restart position; in the 15-sample layout the song's tempo as a timer value
  // (0 and 120 the standard 125 beats a minute).
  const int32_t restart = in.U8();
  if (!tagged && restart != 0 && restart != 120 && restart < 240)
    song->DefaultTempo = song->Tempo =
        static_cast<int32_t>(std::lround(709379.0 * 2.5 / ((240.0 - restart) * 122.0)));
  uint8_t orders[kOrderTableSize];
  in.Bytes(orders, kOrderTableSize);
  // FLT8 stores each 8-channel pattern as two 4-channel ones and numbers the orders by
  // those: the first of each pair, an even number.
  const bool split = tagged && std::memcmp(tagBytes, "FLT8", 4) == 0;
  if (split)
    for (uint8_t& o : orders) o = static_cast<uint8_t>(o / 2);
  song->SongPattern.assign(static_cast<size_t>(songLength) + 1, 0);
  int32_t highest = 0, highestAnywhere = 0;
  for (int32_t k = 0; k < kOrderTableSize; ++k) {
    if (k <= songLength) {
      song->SongPattern[static_cast<size_t>(k)] = orders[k];
      highest = std::max<int32_t>(highest, orders[k]);
    }
    highestAnywhere = std::max<int32_t>(highestAnywhere, orders[k]);
  }
  if (highestAnywhere > highest) {
    uint64_t sampleBytes = 0;
    for (int32_t i = 1; i <= sampleCount; ++i)
      if (headers[i].length > 4) sampleBytes += static_cast<uint64_t>(headers[i].length);
    const uint64_t patternBytes = 64ull * 4 * static_cast<uint64_t>(channels);
    if (in.Size() >= patternOffset + (highestAnywhere + 1) * patternBytes + sampleBytes)
      highest = highestAnywhere;
  }
  song->ActiveSongPatterns = songLength - 1;
  song->CurrentPattern = song->SongPattern[0];
  // A song must play at least one pattern the file holds: one whose order list names
  // only patterns past the end of the file would be minutes of nothing.
  {
    const uint64_t patternBytes = 64ull * 4 * static_cast<uint64_t>(channels);
    bool holds = false;
    for (int32_t k = 0; k <= std::max(songLength - 1, 0); ++k)
      holds = holds || patternOffset + song->SongPattern[static_cast<size_t>(k)] * patternBytes < in.Size();
    if (!holds) {
      RefuseMusicLoad(u"the order list names no pattern the file holds");
      return nullptr;
    }
  }
  in.Seek(patternOffset);

  song->Pattern.assign(static_cast<size_t>(highest) + 1, nullptr);
  song->WriteBug(u"Patterns = " + IntToText(highest) + u"\n");

  for (int32_t p = 0; p <= highest; ++p) {
    auto pattern = Cantor_Pattern::Create(song.get(), channels, 64);
    pattern->Title = u"Pattern " + IntToText(p);
    for (int32_t cell = 0; cell < 64 * channels; ++cell) {
      // Line by line; FLT8: the 64 lines of channels 1-4, then those of 5-8.
      const int32_t line = split ? (cell / 4) % 64 : cell / channels;
      const int32_t ch = split ? (cell / 256) * 4 + cell % 4 : cell % channels;
      {
        uint8_t c[4];
        in.Bytes(c, 4);
        Cantor_Track& track = *pattern->Track[static_cast<size_t>(ch)];
        ReadCell(track, line, c);
        track.Vol[static_cast<size_t>(line)] = (ch % 4 == 0 || ch % 4 == 3) ? 0xC0 : 0xCF;
        const int32_t period = (c[0] & 0x0F) * 256 + c[1];
        if (period != 0 && PeriodToNote(period) == 0) {
          song->WriteBug(u"NO MATCH FOUND FOR NOTE \"" + IntToText(period) +
                         u"\" - DISCARDED! (Pattern " + IntToText(p) + u", Track " +
                         IntToText(ch) + u",Line " + IntToText(line) + u")\n");
        }
      }
    }
    pattern->UpdateText();
    song->Pattern[static_cast<size_t>(p)] = pattern;
  }

  JudgePanning(*song);

  ReadSampleData(*song, in, headers, sampleCount);
  stream->Close();
  song->WriteBug(u"Load complete.\n");
  return song;
}
