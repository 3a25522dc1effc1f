// Every WAV file the project writes ("ormix music render", "ormix sound convert", the asset
// generator) agrees with itself: each header field against the format it holds and the
// file's size; sox reads the same facts back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "testsupport/skip_or_fail.h"
#include "testsupport/testsupport.h"

namespace {

struct TWaveFacts {
  int channels, rate, bits;
  long frames;  // -1: any whole number of frames
};

uint32_t LE(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

// Checks the canonical 44-byte header of a PCM file against itself, the file's size and the
// expected format, then has soxi read it.
void CheckWave(const std::string& path, const TWaveFacts& want) {
  SCOPED_TRACE(path);
  std::ifstream in(path, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GE(b.size(), 44u);
  EXPECT_EQ(b.substr(0, 4), "RIFF");
  EXPECT_EQ(LE(b, 4, 4), b.size() - 8) << "RIFF size";
  EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(LE(b, 16, 4), 16u) << "format chunk size";
  EXPECT_EQ(LE(b, 20, 2), 1u) << "PCM";
  const uint32_t channels = LE(b, 22, 2), rate = LE(b, 24, 4), byteRate = LE(b, 28, 4);
  const uint32_t blockAlign = LE(b, 32, 2), bits = LE(b, 34, 2);
  EXPECT_EQ(channels, static_cast<uint32_t>(want.channels));
  EXPECT_EQ(rate, static_cast<uint32_t>(want.rate));
  EXPECT_EQ(bits, static_cast<uint32_t>(want.bits));
  EXPECT_EQ(blockAlign, channels * bits / 8) << "block align";
  EXPECT_EQ(byteRate, rate * blockAlign) << "bytes per second";
  EXPECT_EQ(b.substr(36, 4), "data");
  const uint32_t data = LE(b, 40, 4);
  EXPECT_EQ(44 + data + (data & 1), b.size()) << "data size (and its pad byte) against the file size";
  ASSERT_GT(blockAlign, 0u);
  EXPECT_EQ(data % blockAlign, 0u) << "a part frame";
  if (want.frames >= 0) {
    EXPECT_EQ(data / blockAlign, static_cast<uint32_t>(want.frames));
  }
  if (data & 1) {
    EXPECT_EQ(b.back(), '\0') << "pad byte";
  }

  // An independent reader: type, format, length and the samples it decodes.
  auto soxi = [&](const char* option) { return RunShellCommand("soxi " + std::string(option) + " '" + path + "'").out; };
  EXPECT_EQ(soxi("-t"), "wav\n");
  EXPECT_EQ(soxi("-c"), std::to_string(want.channels) + "\n");
  EXPECT_EQ(soxi("-r"), std::to_string(want.rate) + "\n");
  EXPECT_EQ(soxi("-b"), std::to_string(want.bits) + "\n");
  EXPECT_EQ(soxi("-s"), std::to_string(data / blockAlign) + "\n");
  EXPECT_EQ(soxi("-e"), want.bits == 8 ? "Unsigned Integer PCM\n" : "Signed Integer PCM\n");
  const TCommandResult raw = RunShellCommand("sox -V1 '" + path + "' -t raw -");
  EXPECT_EQ(raw.status, 0);
  EXPECT_TRUE(raw.out == b.substr(44, data)) << "sox decodes other bytes";
}

class WaveHeaders : public ::testing::Test {
protected:
  void SetUp() override {
    if (access(OrmixTool().c_str(), X_OK) != 0) ORMIX_SKIP_OR_FAIL() << "ormix is not built";
    if (RunShellCommand("command -v soxi && sox --version").status != 0) ORMIX_SKIP_OR_FAIL() << "sox not installed";
    dir = std::string(ORMIX_BINARY_DIR) + "/tests/wavehdr_" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
};

}  // namespace

TEST_F(WaveHeaders, SoundConvertWritesTheFormatItDecoded) {
  // Inputs made by sox (odd ones need a pad byte after the data).
  struct TCase {
    TWaveFacts facts;
    const char* encoding;
  } cases[] = {
      {{1, 11025, 8, 111}, "unsigned-integer"},
      {{2, 22050, 8, 101}, "unsigned-integer"},
      {{1, 8000, 16, 100}, "signed-integer"},
      {{2, 48000, 16, 99}, "signed-integer"},
      {{1, 44100, 16, 1}, "signed-integer"},
  };
  for (const TCase& c : cases) {
    const TWaveFacts& f = c.facts;
    const std::string name = dir + "/in_" + std::to_string(f.channels) + "_" + std::to_string(f.rate) + "_" +
                             std::to_string(f.bits);
    ASSERT_EQ(RunShellCommand("sox -V1 -n -r " + std::to_string(f.rate) + " -c " + std::to_string(f.channels) +
                              " -b " + std::to_string(f.bits) + " -e " + c.encoding + " '" + name +
                              ".wav' synth " + std::to_string(f.frames) + "s sine 440")
                  .status,
              0);
    // As many frames as the input holds, whatever length sox made it.
    TWaveFacts want = f;
    want.frames = std::stol(RunShellCommand("soxi -s '" + name + ".wav'").out);
    const TCommandResult r = RunOrmix("sound convert '" + name + ".wav' '" + name + "_out.wav'");
    ASSERT_EQ(r.status, 0) << r.out;
    CheckWave(name + "_out.wav", want);
  }
}

TEST_F(WaveHeaders, MusicRenderAtEveryRate) {
  const std::string song = std::string(ORMIX_CORPUS_DIR) + "/music/high-score.mod";
  if (!std::ifstream(song).good()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  for (int rate : {8000, 22050, 44100, 48000}) {
    const std::string out = dir + "/render" + std::to_string(rate) + ".wav";
    const TCommandResult r = RunOrmix("music render '" + song + "' '" + out + "' --rate " + std::to_string(rate));
    ASSERT_EQ(r.status, 0) << r.out;
    CheckWave(out, {2, rate, 16, -1});
  }
}

TEST_F(WaveHeaders, AssetGeneratorHitSound) {
  const std::string assetgen = std::string(ORMIX_BINARY_DIR) + "/tools/assetgen/assetgen";
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
  if (access(assetgen.c_str(), X_OK) != 0) ORMIX_SKIP_OR_FAIL() << "assetgen is not built";
  if (access(font.c_str(), R_OK) != 0) ORMIX_SKIP_OR_FAIL() << "font missing (Debian package fonts-dejavu-core)";
  ASSERT_EQ(RunShellCommand("'" + assetgen + "' '" + dir + "' '" + font + "'").status, 0);
  CheckWave(dir + "/001.wav", {1, 22050, 16, 6615});  // 0.3 s
}
