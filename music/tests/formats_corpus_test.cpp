// Real songs through the loader registry: format picked by content, channel and
// pattern counts, one-pass length against an independent player's figures, the native
// format's round trip rendering the same PCM, and songs loaded as sound samples.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include <ormix/audio/audio.h>
#include "music/loaders/format_io.h"
#include "music/player/song_player.h"
#include <ormix/stream/stream.h>

namespace {

struct CorpusSong {
  const char* file;
  const char* tracker;
  int channels;
  int patterns;
  double seconds;  // reference length of one pass
};

const CorpusSong kSongs[] = {
    {"area1-game.mod", "Protracker 4 channel", 4, 28, 84.480},
    {"area2-game.mod", "Protracker 4 channel", 4, 22, 96.000},
    {"area3-game.mod", "Protracker 4 channel", 4, 26, 111.360},
    {"cerror-bobmberclone.xm", "FastTracker v2.00", 14, 16, 86.195},
    {"cinderella_clown.mod", "Protracker 4 channel", 4, 27, 215.680},
    {"gardien-go.mod", "Protracker 4 channel", 4, 11, 83.200},
    {"high-score.mod", "Protracker 4 channel", 4, 4, 69.120},
    {"mario_is_a_weenie.xm", "FastTracker v2.00", 8, 8, 68.545},
    {"mon-lapin_reg-zbb.mod", "Protracker 4 channel", 4, 30, 301.680},
    {"over-theme.mod", "Protracker 4 channel", 4, 9, 92.160},
    {"tecnoballz.mod", "Protracker 4 channel", 4, 16, 192.580},
    {"zb-tnt.xm", "FastTracker v2.00", 8, 14, 92.160},
};

std::string MusicDir() { return std::string(ORMIX_CORPUS_DIR) + "/music/"; }

class FormatsCorpus : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(MusicDir())) ORMIX_SKIP_OR_FAIL_CORPUS() << "no corpus at " << MusicDir();
    InitMusicModule();
  }
  // Loaded from memory: no file name to go by.
  static Cantor_MixerPtr FromContent(const std::vector<uint8_t>& bytes) {
    return std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(TMusicSource(TStreamPtr(TRamStream::FromBytes(bytes)))));
  }
  static std::vector<uint8_t> SaveNative(Cantor_Mixer& song) {
    auto buf = std::make_shared<std::vector<uint8_t>>(16 << 20);
    TStreamPtr s = TRamStream::Create(buf->data(), static_cast<int64_t>(buf->size()), 1, 1, buf);
    song.Save(s);
    return std::vector<uint8_t>(buf->begin(), buf->begin() + s->Pos());
  }
};

int CountPatterns(const Cantor_Mixer& song) {
  int n = 0;
  for (const auto& p : song.Pattern) n += p ? 1 : 0;
  return n;
}

TEST_F(FormatsCorpus, LoadsWithCountsAndLength) {
  for (const CorpusSong& c : kSongs) {
    SCOPED_TRACE(c.file);
    auto song = FromContent(LoadAllBytes(ToText(MusicDir() + c.file)));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->TrackerName, ToText(c.tracker));
    EXPECT_EQ(song->ActiveChannels, c.channels);
    EXPECT_EQ(CountPatterns(*song), c.patterns);
    const double seconds = song->Geti(1) / 44100.0;
    EXPECT_NEAR(seconds, c.seconds, c.seconds * 0.01);
  }
}

TEST_F(FormatsCorpus, FormatChosenByContentNotName) {
  const std::string dir = ::testing::TempDir();
  struct Case { const char* from; const char* as; const char* tracker; };
  for (const Case& c : {Case{"zb-tnt.xm", "zb-tnt.mod", "FastTracker v2.00"},
                        Case{"high-score.mod", "high-score.xm", "Protracker 4 channel"},
                        Case{"over-theme.mod", "over-theme", "Protracker 4 channel"}}) {
    const std::string path = dir + c.as;
    SaveAllBytes(LoadAllBytes(ToText(MusicDir() + c.from)), ToText(path));
    auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(TMusicSource(ToText(path))));
    ASSERT_TRUE(song) << c.as;
    EXPECT_EQ(song->TrackerName, ToText(c.tracker)) << c.as;
  }
  // A native file under a MOD name.
  auto song = FromContent(LoadAllBytes(ToText(MusicDir() + "mario_is_a_weenie.xm")));
  ASSERT_TRUE(song);
  const std::string path = dir + "native.mod";
  SaveAllBytes(SaveNative(*song), ToText(path));
  auto native = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(TMusicSource(ToText(path))));
  ASSERT_TRUE(native);
  EXPECT_EQ(native->TrackerName, u"OrbTracker");
  EXPECT_EQ(native->ActiveChannels, 8);
  EXPECT_FALSE(LoadMusic(TMusicSource(ToText(std::string(ORMIX_CORPUS_DIR) + "/README.md"))));
}

// One case per song, so that each runs (and is timed) on its own.
class FormatsCorpusRoundTrip : public FormatsCorpus, public ::testing::WithParamInterface<CorpusSong> {};

TEST_P(FormatsCorpusRoundTrip, NativeFileRendersTheSamePcm) {
  {
    const CorpusSong& c = GetParam();
    auto a = FromContent(LoadAllBytes(ToText(MusicDir() + c.file)));
    ASSERT_TRUE(a);
    auto b = FromContent(SaveNative(*a));
    ASSERT_TRUE(b);
    const int32_t frames = a->Geti(1);
    ASSERT_EQ(b->Geti(1), frames);
    a->PlayStatus = b->PlayStatus = 1;
    constexpr int32_t kChunk = 8192;
    std::vector<int16_t> pa(kChunk * 2), pb(kChunk * 2);
    double energy = 0;
    for (int32_t done = 0; done < frames; done += kChunk) {
      const int32_t n = std::min(kChunk, frames - done);
      a->FillBuffer(pa.data(), n * 4);
      b->FillBuffer(pb.data(), n * 4);
      ASSERT_EQ(std::memcmp(pa.data(), pb.data(), static_cast<size_t>(n) * 4), 0) << "frame " << done;
      for (int32_t i = 0; i < n * 2; ++i) energy += std::abs(pa[static_cast<size_t>(i)]);
    }
    EXPECT_GT(energy / frames, 10.0);  // real sound, not silence
  }
}

INSTANTIATE_TEST_SUITE_P(Songs, FormatsCorpusRoundTrip, ::testing::ValuesIn(kSongs),
                         [](const ::testing::TestParamInfo<CorpusSong>& info) {
                           std::string name;
                           for (const char* p = info.param.file; *p && *p != '.'; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST_F(FormatsCorpus, DamagedSongsLoadAndPlaySafely) {
  // Bytes overwritten at random and files cut short: a song either loads and plays or
  // is refused; nothing is read or written outside its tables (checked by the sanitizer
  // build). The XM header's timing fields are left alone so that measuring the song
  // stays quick.
  std::mt19937 rng(20261210);
  for (const char* file : {"high-score.mod", "tecnoballz.mod", "mario_is_a_weenie.xm"}) {
    SCOPED_TRACE(file);
    const auto good = LoadAllBytes(ToText(MusicDir() + file));
    const size_t from = std::string(file).find(".xm") != std::string::npos ? 80 : 0;
    for (int round = 0; round < 40; ++round) {
      auto bytes = good;
      const int changes = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < changes; ++k) {
        // Mostly in the headers and pattern data near the start, where counts live.
        const size_t span = rng() % 2 ? std::min<size_t>(bytes.size(), 4096) : bytes.size();
        bytes[from + rng() % (span - from)] = static_cast<uint8_t>(rng());
      }
      if (round % 5 == 0) bytes.resize(from + rng() % (bytes.size() - from));
      auto song = FromContent(bytes);
      if (!song) continue;
      song->PlayStatus = 1;
      std::vector<int16_t> pcm(4096 * 2);
      try {
        song->FillBuffer(pcm.data(), 4096 * 4);
      } catch (const std::exception&) {
        // a song whose order list names a missing pattern stops with the player's error
      }
    }
  }
}

TEST_F(FormatsCorpus, SongsLoadAsSoundSamples) {
  for (const char* file : {"high-score.mod", "mario_is_a_weenie.xm"}) {
    SCOPED_TRACE(file);
    auto sample = LoadAudioSample(ToText(MusicDir() + file));
    ASSERT_TRUE(sample);
    auto song = FromContent(LoadAllBytes(ToText(MusicDir() + file)));
    ASSERT_TRUE(song);
    EXPECT_EQ(sample->length, song->Geti(1));
    EXPECT_EQ(sample->hertz, 44100);
    EXPECT_EQ(sample->format, 5);
    // The sample holds the rendered song from its first frame.
    song->PlayStatus = 1;
    std::vector<int16_t> pcm(44100 * 2);
    song->FillBuffer(pcm.data(), 44100 * 4);
    EXPECT_EQ(std::memcmp(pcm.data(), sample->samples, pcm.size() * 2), 0);
  }
}

}  // namespace
