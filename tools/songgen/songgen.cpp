// Writes "Zingle!"'s background song: a four-channel MOD (the "M.K." layout) whose
// instruments are synthesized here. Usage: songgen OUT.mod
//
// The tune is a loop in A minor over Am - F - C - G, sixteen lines a chord, at speed 6 and
// tempo 125: lead on channel 1, bass on 2, kick and snare on 3, hi-hat and arpeggio on 4.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Periods of C-1 .. B-3.
const int kPeriods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                          428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                          214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

struct Sample {
  std::string name;
  std::vector<int8_t> data;
  int volume = 64;
  int loopStart = 0, loopLength = 0;  // in bytes; length 0 = no loop
};

struct Cell {
  int note = -1;  // index into kPeriods
  int sample = 0;
  int effect = 0, param = 0;
};

using Pattern = std::vector<std::vector<Cell>>;  // [line][channel]

uint32_t gSeed = 0x2F6E2B1;
double Noise() {
  gSeed = gSeed * 1664525u + 1013904223u;
  return ((gSeed >> 8) & 0xFFFF) / 32768.0 - 1.0;
}

int8_t Clip(double v) {
  long s = std::lround(v * 127.0);
  return static_cast<int8_t>(s < -128 ? -128 : (s > 127 ? 127 : s));
}

// A plucked tone: 32 bytes a cycle (C-2 sounds near middle C), decaying.
Sample Lead() {
  Sample s{"zingle lead", {}, 48};
  const int n = 9000;
  for (int i = 0; i < n; ++i) {
    double ph = (i % 32) / 32.0;
    double square = ph < 0.5 ? 0.6 : -0.6;
    double tri = ph < 0.5 ? 4 * ph - 1 : 3 - 4 * ph;
    double env = std::exp(-i / 2600.0) * (i < 40 ? i / 40.0 : 1.0);
    s.data.push_back(Clip((0.55 * square + 0.45 * tri) * env));
  }
  return s;
}

// A round bass: 64 bytes a cycle, one octave under the lead at the same period.
Sample Bass() {
  Sample s{"zingle bass", {}, 60};
  const int n = 12000;
  for (int i = 0; i < n; ++i) {
    double ph = (i % 64) / 64.0;
    double v = std::sin(2 * M_PI * ph) * 0.8 + std::sin(4 * M_PI * ph) * 0.2;
    double env = std::exp(-i / 5000.0) * (i < 30 ? i / 30.0 : 1.0);
    s.data.push_back(Clip(v * env));
  }
  return s;
}

Sample Kick() {
  Sample s{"zingle kick", {}, 64};
  double phase = 0;
  for (int i = 0; i < 2600; ++i) {
    double f = 0.012 + 0.05 * std::exp(-i / 300.0);  // falling pitch
    phase += f;
    s.data.push_back(Clip(std::sin(2 * M_PI * phase) * std::exp(-i / 900.0)));
  }
  return s;
}

Sample Snare() {
  Sample s{"zingle snare", {}, 44};
  for (int i = 0; i < 2400; ++i) {
    double tone = std::sin(2 * M_PI * i / 40.0) * std::exp(-i / 250.0);
    s.data.push_back(Clip((0.75 * Noise() + 0.35 * tone) * std::exp(-i / 700.0)));
  }
  return s;
}

Sample Hat() {
  Sample s{"zingle hat", {}, 24};
  double prev = 0;
  for (int i = 0; i < 900; ++i) {
    double n = Noise();
    double high = n - prev;  // a crude high pass keeps the hiss bright
    prev = n;
    s.data.push_back(Clip(0.6 * high * std::exp(-i / 160.0)));
  }
  return s;
}

// Note index from a name offset: octave 0..2 (MOD octaves 1..3), semitone 0..11.
int N(int octave, int semitone) { return octave * 12 + semitone; }

Pattern MakePattern(int variant) {
  Pattern p(64, std::vector<Cell>(4));
  const int roots[4] = {9, 5, 0, 7};  // A, F, C, G
  // Chord tones (semitones) for the arpeggio and melody.
  const int chords[4][3] = {{9, 0, 4}, {5, 9, 0}, {0, 4, 7}, {7, 11, 2}};
  // Melody phrases over one chord: degree into the chord (0..2, +3 = octave up), -1 rest.
  const int phraseA[16] = {2, -1, -1, 1, -1, -1, 0, -1, 1, -1, 2, -1, -1, -1, 3, -1};
  const int phraseB[16] = {3, -1, 2, -1, 1, -1, 2, -1, -1, -1, 0, -1, 1, -1, -1, -1};
  for (int c = 0; c < 4; ++c) {
    const int base = c * 16;
    const int root = roots[c];
    // Bass: root on 0, 6, 8, 12 (octave jump on 8).
    for (int line : {0, 6, 8, 12}) {
      Cell& b = p[base + line][1];
      b.note = N(line == 8 ? 1 : 0, root);
      b.sample = 2;
    }
    // Drums.
    if (variant != 3) {
      for (int line : {0, 8}) p[base + line][2] = Cell{N(1, 0), 3, 0, 0};
      for (int line : {4, 12}) p[base + line][2] = Cell{N(1, 0), 4, 0, 0};
      if (variant == 2 && c == 3) p[base + 14][2] = Cell{N(1, 0), 4, 0xC, 30};
    } else if (c >= 2) {
      p[base][2] = Cell{N(1, 0), 3, 0, 0};
    }
    // Hi-hat on odd beats, arpeggio notes in the breakdown.
    for (int line = 2; line < 16; line += 4) {
      Cell& h = p[base + line][3];
      if (variant == 3) {
        h = Cell{N(2, chords[c][(line / 4) % 3]), 1, 0xC, 24};
      } else {
        h = Cell{N(2, 0), 5, 0, 0};
      }
    }
    // Lead melody.
    if (variant == 1 || variant == 2) {
      const int* phrase = (variant == 1) == (c % 2 == 0) ? phraseA : phraseB;
      for (int line = 0; line < 16; ++line) {
        int d = phrase[line];
        if (d < 0) continue;
        int semitone = chords[c][d % 3];
        int octave = 1 + d / 3 + (semitone < 4 ? 1 : 0);
        if (octave > 2) octave = 2;
        p[base + line][0] = Cell{N(octave, semitone), 1, 0, 0};
      }
    }
  }
  return p;
}

void Put(std::vector<uint8_t>& out, const void* data, size_t n) {
  const auto* b = static_cast<const uint8_t*>(data);
  out.insert(out.end(), b, b + n);
}
void PutText(std::vector<uint8_t>& out, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}
void PutWord(std::vector<uint8_t>& out, int v) {  // big-endian 16-bit
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: songgen OUT.mod\n");
    return 1;
  }
  std::vector<Sample> samples = {Lead(), Bass(), Kick(), Snare(), Hat()};
  for (auto& s : samples)
    if (s.data.size() % 2) s.data.push_back(0);
  std::vector<Pattern> patterns = {MakePattern(0), MakePattern(1), MakePattern(2), MakePattern(3)};
  const std::vector<int> order = {0, 1, 2, 1, 3, 2};

  std::vector<uint8_t> out;
  PutText(out, "Zingle!", 20);
  for (int i = 0; i < 31; ++i) {
    if (i < static_cast<int>(samples.size())) {
      const Sample& s = samples[static_cast<size_t>(i)];
      PutText(out, s.name, 22);
      PutWord(out, static_cast<int>(s.data.size() / 2));
      out.push_back(0);  // finetune
      out.push_back(static_cast<uint8_t>(s.volume));
      PutWord(out, s.loopStart / 2);
      PutWord(out, s.loopLength ? s.loopLength / 2 : 1);
    } else {
      PutText(out, "", 22);
      PutWord(out, 0);
      out.push_back(0);
      out.push_back(0);
      PutWord(out, 0);
      PutWord(out, 1);
    }
  }
  out.push_back(static_cast<uint8_t>(order.size()));
  out.push_back(127);
  for (int i = 0; i < 128; ++i)
    out.push_back(i < static_cast<int>(order.size()) ? static_cast<uint8_t>(order[static_cast<size_t>(i)]) : 0);
  Put(out, "M.K.", 4);
  for (const Pattern& p : patterns) {
    for (const auto& line : p) {
      for (const Cell& c : line) {
        int period = c.note >= 0 ? kPeriods[c.note] : 0;
        out.push_back(static_cast<uint8_t>((c.sample & 0xF0) | ((period >> 8) & 0x0F)));
        out.push_back(static_cast<uint8_t>(period & 0xFF));
        out.push_back(static_cast<uint8_t>(((c.sample & 0x0F) << 4) | (c.effect & 0x0F)));
        out.push_back(static_cast<uint8_t>(c.param));
      }
    }
  }
  for (const Sample& s : samples) Put(out, s.data.data(), s.data.size());

  FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::fprintf(stderr, "songgen: cannot write %s\n", argv[1]);
    return 1;
  }
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "songgen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
