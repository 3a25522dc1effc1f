// MOD module loader: 31 sample headers, the order table, the format tag that gives the
// channel count, 64-line patterns of 4-byte cells and 8-bit sample data.
#include "mod_loader.h"

#include <algorithm>
#include <cstdio>

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
constexpr int32_t kSampleCount = 31;
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

bool ModFormatTag(const Text& tag, Text& trackerName, int32_t& channels) {
  for (const auto& e : kTags) {
    if (tag == ToText(e.tag)) {
      trackerName = ToText(e.tracker);
      channels = e.channels;
      return true;
    }
  }
  return false;
}

TMusicPtr LoadMOD(const TMusicSource& source) {
  auto song = std::make_shared<Cantor_Mixer>();
  song->WriteBug(u"Loading MOD format file...\n");
  TStreamPtr stream = OpenMusicSource(source);
  if (!stream) return nullptr;

  // The headers first: a file of another format costs no more than 1084 bytes.
  TByteCursor in(ReadStreamBytes(*stream, kPatternOffset));
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
  if (!ModFormatTag(rawTag, trackerName, channels)) return nullptr;

  // Known format: the rest of the file.
  {
    std::vector<uint8_t> all(in.Size());
    in.Seek(0);
    in.Bytes(all.data(), all.size());
    std::vector<uint8_t> rest = ReadStreamBytes(*stream, MaxSongFileBytes - all.size());
    all.insert(all.end(), rest.begin(), rest.end());
    in = TByteCursor(std::move(all));
  }

  song->TrackerName = trackerName;
  song->SourceFormat = SONG_FROM_MOD;
  song->Init(channels);
  song->WriteBug(u"Format = " + trackerName + u"\n");
  song->WriteBug(u"Channels = " + IntToText(channels) + u"\n");

  song->ActiveSamples = kSampleCount;
  song->WriteBug(u"Instruments = " + IntToText(kSampleCount) + u"\n");
  song->Instrument.assign(kSampleCount + 1, nullptr);

  SampleHeader headers[kSampleCount + 1];
  for (int32_t i = 1; i <= kSampleCount; ++i) {
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
  in.Seek(950);
  const int32_t songLength = std::min<int32_t>(in.U8(), kOrderTableSize);
  in.U8();  // restart position
  uint8_t orders[kOrderTableSize];
  in.Bytes(orders, kOrderTableSize);
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
    for (int32_t i = 1; i <= kSampleCount; ++i)
      if (headers[i].length > 4) sampleBytes += static_cast<uint64_t>(headers[i].length);
    const uint64_t patternBytes = 64ull * 4 * static_cast<uint64_t>(channels);
    if (in.Size() >= kPatternOffset + (highestAnywhere + 1) * patternBytes + sampleBytes)
      highest = highestAnywhere;
  }
  song->ActiveSongPatterns = songLength - 1;
  song->CurrentPattern = song->SongPattern[0];
  in.Skip(4);  // the tag

  song->Pattern.assign(static_cast<size_t>(highest) + 1, nullptr);
  song->WriteBug(u"Patterns = " + IntToText(highest) + u"\n");

  for (int32_t p = 0; p <= highest; ++p) {
    auto pattern = Cantor_Pattern::Create(song.get(), channels, 64);
    pattern->Title = u"Pattern " + IntToText(p);
    for (int32_t line = 0; line < 64; ++line) {
      for (int32_t ch = 0; ch < channels; ++ch) {
        uint8_t c[4];
        in.Bytes(c, 4);
        Cantor_Track& track = *pattern->Track[static_cast<size_t>(ch)];
        const size_t l = static_cast<size_t>(line);
        const int32_t period = (c[0] & 0x0F) * 256 + c[1];
        const int32_t effect = c[2] & 0x0F;
        track.Inst[l] = (c[0] & 0xF0) + (c[2] >> 4);
        track.FX[l] = effect;
        track.FXV[l] = effect == 0xD ? (c[3] >> 4) * 10 + (c[3] & 0x0F) : c[3];
        track.Vol[l] = (ch % 4 == 0 || ch % 4 == 3) ? 0xC0 : 0xCF;
        if (period != 0) {
          const int32_t note = PeriodToNote(period);
          if (note == 0) {
            song->WriteBug(u"NO MATCH FOUND FOR NOTE \"" + IntToText(period) +
                           u"\" - DISCARDED! (Pattern " + IntToText(p) + u", Track " +
                           IntToText(ch) + u",Line " + IntToText(line) + u")\n");
            MusicPrintLine(u"note not found!");
          } else {
            track.Note[l] = note;
          }
        }
      }
    }
    pattern->UpdateText();
    song->Pattern[static_cast<size_t>(p)] = pattern;
  }

  // Sample data, 8-bit signed, in instrument order. Missing bytes at the end of a
  // truncated file read as silence.
  for (int32_t i = 1; i <= kSampleCount; ++i) {
    const SampleHeader& sh = headers[i];
    if (sh.length <= 4) continue;
    TBank bank(static_cast<size_t>(sh.length));
    in.Bytes(bank.data(), bank.size());
    song->Instrument[static_cast<size_t>(i)]->Sample[0]->ConvertSampleFromBank(bank, 1);
  }

  stream->Close();
  song->WriteBug(u"Load complete.\n");
  return song;
}
