// Both playback modes keep their PCM: checksums of the first seconds of every corpus song,
// rendered in classic and in format playback at 44100 Hz and (a few) at 22050 Hz, with
// the length each mode measures. Any change to loaders, sequencer, effects or mixing that
// moves a single sample shows up here.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <ormix/music/music.h>

#include "pcm_checksum.h"

namespace {

struct Rendered {
  uint64_t sum = 0;
  int32_t length = 0;
};

// The first `seconds` of the song at `rate` in one mode, pulled in requests of 4096
// frames as a stream would, and the length the song reports in that mode and rate.
Rendered Render(const std::string& path, int32_t classic, int32_t rate, int32_t seconds) {
  InitMusicModule();
  TMusicPtr song = LoadMusic(ToText(path));
  if (!song) return {};
  song->Seti(SONG_ID_CLASSIC, classic);
  song->Seti(MUSIC_ID_RATE, rate);
  Rendered out;
  out.length = song->Geti(MUSIC_ID_SIZE);
  song->PlayStatus = 1;
  const int32_t frames = rate * seconds;
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
  for (int32_t done = 0; done < frames; done += 4096) {
    const int32_t n = std::min(4096, frames - done);
    song->FillBuffer(pcm.data() + 2 * static_cast<size_t>(done), n * 4);
  }
  out.sum = PcmChecksum(pcm);
  return out;
}

struct Case {
  const char* file;
  int32_t rate;
  uint64_t classicSum;
  int32_t classicLength;
  uint64_t formatSum;
  int32_t formatLength;
};

const Case kCases[] = {
    {"area1-game.mod", 44100, 0xb7b2f86490b8d0edull, 3724686, 0xe05d1b1d41ddcf30ull, 3725568},
    {"area2-game.mod", 44100, 0xa65a471f72c07933ull, 4232718, 0xf2a1cba266e845faull, 4233600},
    {"area3-game.mod", 44100, 0xd0cbeaa7a70c2bfeull, 4910094, 0xabf757917ffcb96bull, 4910976},
    {"cerror-bobmberclone.xm", 44100, 0xd9a64cf60f00fde8ull, 3800423, 0x4a0a3ea1b10a5376ull, 3801210},
    {"cinderella_clown.mod", 44100, 0x75287696d9e5182dull, 9510606, 0x3610c020e5b89724ull, 9511488},
    {"gardien-go.mod", 44100, 0x642f92b79fec02eaull, 3668238, 0xe2a3db9b0250b2ffull, 3669120},
    {"high-score.mod", 44100, 0xbeb9708330b53e36ull, 3047310, 0x52513d6294980797ull, 3048192},
    {"mario_is_a_weenie.xm", 44100, 0x2a561ed7a6d41953ull, 3021864, 0xf2ab3ba0c7b1a46bull, 3022848},
    {"mon-lapin_reg-zbb.mod", 44100, 0xa53dcb08ad13c3b9ull, 13204422, 0x4d2092876a88e15aull, 13304088},
    {"over-theme.mod", 44100, 0xf1ee1c0ccd3aff5full, 4063374, 0xc384ea1e12a49925ull, 4064256},
    {"tecnoballz.mod", 44100, 0x44ee0ed20b9d2670ull, 8491896, 0x884af06163d8f541ull, 8492778},
    {"zb-tnt.xm", 44100, 0xd2be75be6204adc5ull, 4063374, 0x83dec060737d3a61ull, 4064256},
    {"tecnoballz.mod", 22050, 0x672281c38b3ee331ull, 4245948, 0xff096102ccd28a2dull, 4246389},
    {"mario_is_a_weenie.xm", 22050, 0xc6b54ab962e0479bull, 1510932, 0xdd5afc96d7d4bfe7ull, 1511424},
    {"zb-tnt.xm", 22050, 0xda443bd9ec3a681dull, 2031687, 0x83c1c7c9b2cd3dc5ull, 2032128},
};

TEST(PlaybackChecksum, EveryCorpusSongRendersAsRecorded) {
  const std::filesystem::path dir = std::filesystem::path(ORMIX_CORPUS_DIR) / "music";
  if (!std::filesystem::is_directory(dir)) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << ORMIX_CORPUS_DIR;
  // Every song of the corpus has a row: a song added to the corpus must be recorded too.
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    const bool listed = std::any_of(std::begin(kCases), std::end(kCases), [&](const Case& c) { return name == c.file; });
    EXPECT_TRUE(listed) << name << " has no recorded checksum";
  }
  for (const Case& c : kCases) {
    const std::string path = (dir / c.file).string();
    const Rendered classic = Render(path, 1, c.rate, 60);
    const Rendered format = Render(path, 0, c.rate, 60);
    char row[160];
    std::snprintf(row, sizeof row, "{\"%s\", %d, 0x%016llxull, %d, 0x%016llxull, %d},", c.file, c.rate,
                  static_cast<unsigned long long>(classic.sum), classic.length,
                  static_cast<unsigned long long>(format.sum), format.length);
    EXPECT_EQ(classic.sum, c.classicSum) << "now: " << row;
    EXPECT_EQ(classic.length, c.classicLength) << "now: " << row;
    EXPECT_EQ(format.sum, c.formatSum) << "now: " << row;
    EXPECT_EQ(format.length, c.formatLength) << "now: " << row;
  }
}

}  // namespace
