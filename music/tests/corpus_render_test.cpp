// Real songs through the whole engine: every corpus song renders deterministically,
// produces sound, and plays its last order position through to the end.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "music/player/song_player.h"

namespace {

std::vector<std::string> CorpusSongs() {
  std::vector<std::string> out;
  const std::filesystem::path dir = std::filesystem::path(ORMIX_CORPUS_DIR) / "music";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return out;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

Cantor_MixerPtr LoadSong(const std::string& path) {
  InitMusicModule();
  return std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(ToText(path)));
}

std::vector<int16_t> Render(Cantor_Mixer& song, int32_t frames) {
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
  song.PlayStatus = 1;
  for (int32_t done = 0; done < frames; done += 4410) {
    const int32_t n = std::min(4410, frames - done);
    song.FillBuffer(pcm.data() + 2 * static_cast<size_t>(done), n * 4);
  }
  return pcm;
}

TEST(CorpusRender, SongsRenderDeterministically) {
  const auto songs = CorpusSongs();
  if (songs.empty()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << ORMIX_CORPUS_DIR;
  for (const std::string& path : songs) {
    SCOPED_TRACE(path);
    auto a = LoadSong(path);
    auto b = LoadSong(path);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const auto pa = Render(*a, 44100 * 4);
    const auto pb = Render(*b, 44100 * 4);
    EXPECT_EQ(pa, pb);
    int32_t peak = 0;
    for (int16_t v : pa) peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
    EXPECT_GT(peak, 1000) << "the song's first seconds are silent";
    EXPECT_GT(a->TLAV + a->TRAV, 0.0);
  }
}

TEST(CorpusRender, LastPositionPlaysToTheEnd) {
  const auto songs = CorpusSongs();
  if (songs.empty()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << ORMIX_CORPUS_DIR;
  for (const std::string& path : songs) {
    SCOPED_TRACE(path);
    auto song = LoadSong(path);
    ASSERT_NE(song, nullptr);
    song->STREAM_LOOP = 0;
    ASSERT_EQ(song->Seti(111, song->ActiveSongPatterns), 1);
    song->PlayStatus = 1;
    std::vector<int16_t> pcm(2 * 4410);
    int chunks = 0;
    while (song->PlayStatus == 1 && chunks < 1000) {
      song->FillBuffer(pcm.data(), 4410 * 4);
      ++chunks;
    }
    EXPECT_EQ(song->PlayStatus, 0) << "the song did not end";
    EXPECT_EQ(song->CurrentSongPattern, 0);
  }
}

}  // namespace
