// The game's generated song loads as a tracker song and is heard: about 46 s a pass, four
// channels, and neither silent nor clipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "music/player/song_player.h"
#include <ormix/music/music.h>

TEST(GameSong, LoadsAndSounds) {
  InitMusicModule();
  TMusicPtr music = LoadMusic(TMusicSource(ORMIX_BINARY_DIR "/bin/system/173/zingle.mod"));
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(music);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->ActiveChannels, 4);
  const double seconds = song->Geti(1) / 44100.0;
  EXPECT_GT(seconds, 40.0);
  EXPECT_LT(seconds, 50.0);
  song->Seti(7, 0);
  song->PlayStatus = 1;
  std::vector<int16_t> pcm(44100 * 2 * 4);  // the first four seconds
  song->FillBuffer(pcm.data(), static_cast<int32_t>(pcm.size() * 2));
  int peak = 0;
  size_t clipped = 0;
  for (int16_t v : pcm) {
    peak = std::max(peak, std::abs(static_cast<int>(v)));
    clipped += v == 32767 || v == -32768;
  }
  EXPECT_GT(peak, 3000);
  EXPECT_LT(clipped, pcm.size() / 1000);
}
