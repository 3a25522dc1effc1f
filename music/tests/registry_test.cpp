// The music loader registry: order, filter text, loading from streams and URLs, and the
// song-as-sound-sample loader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <ormix/audio/audio.h>
#include "music/player/song_player.h"
#include "music/loaders/qtk.h"
#include "music/sampleloader_mod.h"
#include <ormix/runtime/runtime.h>
#include "song_fixture.h"
#include <ormix/stream/stream.h>

namespace {

class PlainMusic : public TMusic {
public:
  int32_t FillBuffer(void*, int32_t) override { return 0; }
};

// Runs a test against a registry of its own; the module's entries come back afterwards.
struct RegistryFixture : ::testing::Test {
  std::vector<std::shared_ptr<CantorLoader>> saved;
  void SetUp() override {
    InitMusicModule();
    saved = CantorLoader::Registry();
    CantorLoader::Registry().clear();
  }
  void TearDown() override { CantorLoader::Registry() = saved; }
};

TEST_F(RegistryFixture, FilterTextEmptyRegistry) {
  EXPECT_EQ(GetMusicExtensions(1, 1), u"All supported:;All Files:*");
  EXPECT_EQ(GetMusicExtensions(0, 1), u"All Files:*");
  EXPECT_EQ(GetMusicExtensions(0, 0), u"");
  EXPECT_EQ(GetMusicExtensions(1, 0), u"All supported:");
}

TEST_F(RegistryFixture, FilterTextLowerCasesExtensionsOnly) {
  EXPECT_EQ(CantorLoader::Create(nullptr, u"Big \"ONE\"", u"ONE"), nullptr);
  CantorLoader::Create(nullptr, u"two", u"Tw");
  EXPECT_EQ(GetMusicExtensions(1, 1), u"All supported:,one,tw;Big \"ONE\":one;two:tw;All Files:*");
  EXPECT_EQ(GetMusicExtensions(0, 0), u"Big \"ONE\":one;two:tw");
}

TEST_F(RegistryFixture, EveryLoaderSeesTheStreamFromItsStart) {
  std::vector<int64_t> seen;
  auto result = std::make_shared<PlainMusic>();
  CantorLoader::Create(
      [&](const TMusicSource& src) -> TMusicPtr {
        seen.push_back(src.stream->Pos());
        src.stream->SkipBytes(10);
        return nullptr;
      },
      u"a", u"a");
  CantorLoader::Create(
      [&](const TMusicSource& src) -> TMusicPtr {
        seen.push_back(src.stream->Pos());
        return result;
      },
      u"b", u"b");
  bool thirdCalled = false;
  CantorLoader::Create(
      [&](const TMusicSource&) -> TMusicPtr {
        thirdCalled = true;
        return nullptr;
      },
      u"c", u"c");
  auto stream = TRamStream::FromBytes(std::vector<uint8_t>(64, 7));
  stream->SkipBytes(5);
  EXPECT_EQ(LoadMusic(TMusicSource(TStreamPtr(stream))), result);
  EXPECT_EQ(seen, (std::vector<int64_t>{0, 0}));
  EXPECT_FALSE(thirdCalled);
}

TEST_F(RegistryFixture, NoLoaderAcceptsAndNullFunction) {
  CantorLoader::Create([](const TMusicSource&) -> TMusicPtr { return nullptr; }, u"a", u"a");
  EXPECT_EQ(LoadMusic(u"whatever.mod"), nullptr);
  CantorLoader::Create(nullptr, u"b", u"b");
  EXPECT_THROW(LoadMusic(u"whatever.mod"), std::runtime_error);
}

TEST(Registry, StandardOrder) {
  InitMusicModule();
  InitMusicModule();  // a second start-up changes nothing
  std::vector<Text> exts;
  for (const auto& e : CantorLoader::Registry()) exts.push_back(e->Ext);
  const std::vector<Text> expected = {u"wav", u"mod", u"xm", u"qtk"};
  EXPECT_EQ(exts, expected);
  Text filter = GetMusicExtensions(0, 0);
  EXPECT_NE(filter.find(u"Protracker \".mod\":mod;Fasttracker \".xm\":xm;Cantor Module \".qtk\":qtk"), Text::npos);
  EXPECT_NE(filter.substr(0, 1), u";");
}

// Bytes of a small native song with one looped sample and one note.
std::vector<uint8_t> NativeSongBytes() {
  auto song = songfix::Song(1, false, 8);
  auto s = songfix::AddInstrument(*song, 1, 64, 0);
  for (int i = 0; i < 64; ++i) s->SoundData[static_cast<size_t>(i)] = (i % 16) * 1000 - 8000;
  s->Loop = 1;
  s->LoopLength = 64;
  song->ActiveSamples = 1;
  songfix::Cell(*song, 0, 0, 0, 77, 1);
  auto mem = std::make_shared<std::vector<uint8_t>>(1 << 20);
  auto stream = TRamStream::Create(mem->data(), static_cast<int64_t>(mem->size()), 1, 1, mem);
  song->Save(stream);
  mem->resize(static_cast<size_t>(stream->Pos()));
  return *mem;
}

TEST(Registry, NativeSongLoadsFromStreamAndUrl) {
  InitMusicModule();
  const std::vector<uint8_t> bytes = NativeSongBytes();
  ASSERT_GT(bytes.size(), 3u);
  auto music = LoadMusic(TMusicSource(TStreamPtr(TRamStream::FromBytes(bytes))));
  auto song = std::dynamic_pointer_cast<Cantor_Mixer>(music);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(song->ActiveChannels, 4);

  const std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/registry_test_song.qtk";
  SaveAllBytes(bytes, ToText(path));
  EXPECT_NE(LoadMusic(ToText(path)), nullptr);
  std::remove(path.c_str());
  EXPECT_EQ(LoadMusic(u"/nonexistent/dir/song.qtk"), nullptr);
}

// Classic playback chosen once for the module reaches the paths that load a song
// themselves: LoadMusic of a file (as PlayMusic of a file uses it) and LoadSound.
TEST(Registry, ClassicPlaybackDefaultReachesLoadedSongs) {
  InitMusicModule();
  Cantor_MixerPtr made = songfix::Song(1, false, 8);
  songfix::AddInstrument(*made, 1, 3000, 9000)->Loop = 1;
  made->Instrument[1]->Sample[0]->LoopLength = 3000;
  songfix::Cell(*made, 0, 0, 0, 49, 1, 0, 4, 0x48);  // a vibrato: the modes differ
  songfix::Cell(*made, 0, 1, 2, 37, 1, 0x30, 10, 0x04);
  made->SourceFormat = SONG_FROM_MOD;
  const std::string path = std::string(ORMIX_BINARY_DIR) + "/tests/registry_test_classic.qtk";
  {
    TStreamPtr out = OpenForWriting(ToText(path));
    ASSERT_TRUE(out);
    made->Save(out);
    out->Close();
  }
  auto render = [&](int32_t classic) {
    auto song = std::dynamic_pointer_cast<Cantor_Mixer>(LoadMusic(ToText(path)));
    EXPECT_TRUE(song);
    if (!song) return std::vector<uint8_t>();
    song->Seti(SONG_ID_CLASSIC, classic);
    std::vector<uint8_t> pcm(static_cast<size_t>(song->Geti(1)) * 4);
    song->PlayStatus = 1;
    song->FillBuffer(pcm.data(), static_cast<int32_t>(pcm.size()));
    return pcm;
  };
  const std::vector<uint8_t> classic = render(1), format = render(0);
  ASSERT_NE(classic, format);
  auto asSound = [&] {
    TAudioSamplePtr s = LoadAudioSample(ToText(path));
    EXPECT_TRUE(s);
    return s ? std::vector<uint8_t>(s->samples, s->samples + static_cast<size_t>(s->length) * 4) : std::vector<uint8_t>();
  };

  EXPECT_EQ(ClassicPlaybackDefault(), 0);
  EXPECT_EQ(LoadMusic(ToText(path))->Geti(SONG_ID_CLASSIC), 0);
  EXPECT_EQ(asSound(), format);
  SetClassicPlaybackDefault(1);
  EXPECT_EQ(LoadMusic(ToText(path))->Geti(SONG_ID_CLASSIC), 1);
  EXPECT_EQ(asSound(), classic);
  SetClassicPlaybackDefault(0);
  std::remove(path.c_str());
}

TEST(Registry, SongLoadsAsASoundSample) {
  InitMusicModule();
  const std::vector<uint8_t> bytes = NativeSongBytes();
  auto sample = LoadAudioSample(TStreamPtr(TRamStream::FromBytes(bytes)));
  ASSERT_NE(sample, nullptr);
  // 8 lines x 6 ticks, the last tick not counted.
  EXPECT_EQ(sample->length, (8 * 6 - 1) * 882);
  EXPECT_EQ(sample->hertz, 44100);
  EXPECT_EQ(sample->format, SF_STEREO16LE);
  int16_t frame[2];
  std::memcpy(frame, sample->samples + 4 * 300, 4);
  EXPECT_NE(frame[0], 0);
  // Plain sounds still load through the other loaders once the song loader sits at the
  // head of the chain (it sees every sound first and refuses what is not a song).
  const std::string wav = std::string(ORMIX_CORPUS_DIR) + "/sounds/stereo16.wav";
  if (PathKind(ToText(wav)) == 1) {
    auto sound = LoadAudioSample(ToText(wav));
    ASSERT_NE(sound, nullptr);
    EXPECT_GT(sound->length, 0);
  }
  // A stream that is no song is left to the other sample loaders.
  TAudioSampleLoaderMOD loader;
  EXPECT_EQ(loader.LoadAudioSample(TRamStream::FromBytes(std::vector<uint8_t>(100, 1))), nullptr);
}

}  // namespace
