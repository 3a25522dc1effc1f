// Classic playback keeps the PCM it has always produced: checksums of the first seconds
// of real songs at 44100 Hz, recorded before format playback existed. (The songs are
// ones whose sound no change common to both modes touches: an XM file measured by its
// loader no longer carries the measuring run's channel state into playback.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "music/player/song_player.h"

#include "pcm_checksum.h"

namespace {

uint64_t ClassicChecksum(const std::string& path, int32_t seconds) {
  InitMusicModule();
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(ToText(path)));
  if (!song) return 0;
  song->Seti(SONG_ID_CLASSIC, 1);
  song->PlayStatus = 1;
  const int32_t frames = 44100 * seconds;
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
  for (int32_t done = 0; done < frames; done += 4096) {
    const int32_t n = std::min(4096, frames - done);
    song->FillBuffer(pcm.data() + 2 * static_cast<size_t>(done), n * 4);
  }
  return PcmChecksum(pcm);
}

TEST(ClassicPcm, SongsRenderAsBefore) {
  struct Case { const char* file; uint64_t sum; };
  const Case cases[] = {
      {"tecnoballz.mod", 0x5392c8d839267fbeull},
      {"high-score.mod", 0x45b50344b8c5d4cbull},
      {"mario_is_a_weenie.xm", 0xe906c8ed5e32b807ull},
  };
  const std::filesystem::path dir = std::filesystem::path(ORMIX_CORPUS_DIR) / "music";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "corpus not found at " << ORMIX_CORPUS_DIR;
  for (const Case& c : cases) {
    const uint64_t sum = ClassicChecksum((dir / c.file).string(), 30);
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llxull", static_cast<unsigned long long>(sum));
    EXPECT_EQ(sum, c.sum) << c.file << " now gives " << text;
  }
}

TEST(ClassicPcm, GameSongRendersAsBefore) {
  const std::string path = ORMIX_BINARY_DIR "/bin/system/173/zingle.mod";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "zingle.mod not built";
  const uint64_t sum = ClassicChecksum(path, 46);
  char text[32];
  std::snprintf(text, sizeof text, "0x%016llxull", static_cast<unsigned long long>(sum));
  EXPECT_EQ(sum, 0xc279364f66f8446dull) << "zingle.mod now gives " << text;
}

TEST(ClassicPcm, GameSongSoundsTheSameInBothModes) {
  const std::string path = ORMIX_BINARY_DIR "/bin/system/173/zingle.mod";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "zingle.mod not built";
  InitMusicModule();
  std::vector<int16_t> pcm[2];
  for (int classic = 0; classic < 2; ++classic) {
    auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(ToText(path)));
    ASSERT_TRUE(song);
    song->Seti(SONG_ID_CLASSIC, classic);
    song->PlayStatus = 1;
    pcm[classic].assign(2 * 44100 * 46, 0);
    song->FillBuffer(pcm[classic].data(), static_cast<int32_t>(pcm[classic].size() * 2));
  }
  // Format playback pans the channels 3:1 (classic: hard) and mixes in single
  // precision: the same notes at the same times, so the mono level of every 50 ms
  // stays within 1.5 dB of the other mode's.
  ASSERT_EQ(pcm[0].size(), pcm[1].size());
  constexpr size_t kWindow = 2205;
  double worst = 0;
  for (size_t w = 0; (w + 1) * kWindow * 2 <= pcm[0].size(); ++w) {
    double e[2] = {0, 0};
    for (int m = 0; m < 2; ++m)
      for (size_t i = w * kWindow; i < (w + 1) * kWindow; ++i) {
        const double v = pcm[m][2 * i] + pcm[m][2 * i + 1];
        e[m] += v * v;
      }
    if (e[1] < kWindow * 100.0 * 100.0) continue;  // near silence
    worst = std::max(worst, std::fabs(10 * std::log10((e[0] + 1) / (e[1] + 1))));
  }
  EXPECT_LE(worst, 1.5);
}

}  // namespace
