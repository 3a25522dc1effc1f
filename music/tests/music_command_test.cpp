// The "ormix music" subcommands run as a user would: info lines, WAV and raw PCM
// rendering, conversion to the native format, and the one-line failures.
#include <gtest/gtest.h>
#include <cstring>
#include "testsupport/skip_or_fail.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <cmath>
#include <vector>

#include "testsupport/testsupport.h"

namespace {

const std::string kTool = OrmixTool();
const std::string kMusic = std::string(ORMIX_CORPUS_DIR) + "/music/";

using RunResult = TCommandResult;

RunResult Shell(const std::string& cmd) { return RunShellCommand(cmd); }

RunResult Ormix(const std::string& args) { return Shell(kTool + " " + args); }

std::map<std::string, std::string> Lines(const std::string& text) {
  std::map<std::string, std::string> kv;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) kv[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return kv;
}

class MusicCommand : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(kTool)) ORMIX_SKIP_OR_FAIL() << "ormix not built at " << kTool;
    if (!std::filesystem::is_directory(kMusic)) ORMIX_SKIP_OR_FAIL_CORPUS() << "no corpus at " << kMusic;
    if (Shell("sox --version").status != 0) ORMIX_SKIP_OR_FAIL() << "sox not installed";
    // No sound device or display needed, nor the warnings of looking for them.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
  }
  std::string dir = ::testing::TempDir();
};

TEST_F(MusicCommand, InfoRenderConvert) {
  const RunResult info = Ormix("music info " + kMusic + "zb-tnt.xm");
  ASSERT_EQ(info.status, 0);
  auto kv = Lines(info.out);
  EXPECT_EQ(kv["format"], "FastTracker v2.00");
  EXPECT_EQ(kv["channels"], "8");
  EXPECT_EQ(kv["orders"], "13");
  EXPECT_EQ(kv["patterns"], "14");
  EXPECT_EQ(kv["instruments"], "31");
  const long frames = std::stol(kv["length_frames"]);
  EXPECT_NEAR(std::stod(kv["length_seconds"]), frames / 44100.0, 0.001);
  EXPECT_EQ(info.out.find("loading"), std::string::npos);

  // One pass at 22050 Hz as a WAV file: header plus 4 bytes a frame.
  const std::string wav = dir + "zb-tnt.wav";
  ASSERT_EQ(Ormix("music render " + kMusic + "high-score.mod " + wav + " --rate 22050").status, 0);
  const RunResult hs = Ormix("music info " + kMusic + "high-score.mod");
  const long hsFrames = std::stol(Lines(hs.out)["length_frames"]);
  const auto size = std::filesystem::file_size(wav);
  EXPECT_NEAR(static_cast<double>(size - 44) / 4, hsFrames / 2.0, hsFrames * 0.001);
  std::ifstream w(wav, std::ios::binary);
  char head[44];
  w.read(head, 44);
  EXPECT_EQ(std::string(head, 4), "RIFF");
  EXPECT_EQ(std::string(head + 8, 8), "WAVEfmt ");
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(head + 24), 22050u);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(head + 40), size - 44);
  // Every field of the header agrees with the format it describes: a strict player trusts
  // the byte rate and block size, not the rate and channels.
  uint16_t fmt[2], bits;
  uint32_t riff, chunk, byteRate;
  uint16_t block;
  std::memcpy(&riff, head + 4, 4);
  std::memcpy(&chunk, head + 16, 4);
  std::memcpy(fmt, head + 20, 4);
  std::memcpy(&byteRate, head + 28, 4);
  std::memcpy(&block, head + 32, 2);
  std::memcpy(&bits, head + 34, 2);
  EXPECT_EQ(riff, size - 8);
  EXPECT_EQ(chunk, 16u);
  EXPECT_EQ(fmt[0], 1) << "PCM";
  EXPECT_EQ(fmt[1], 2) << "channels";
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(block, fmt[1] * bits / 8);
  EXPECT_EQ(byteRate, 22050u * block);
  EXPECT_EQ(std::string(head + 36, 4), "data");
  // Another program reads the file the same way: its facts and every sample.
  EXPECT_EQ(Shell("sox --i -r " + wav).out, "22050\n");
  EXPECT_EQ(Shell("sox --i -c " + wav).out, "2\n");
  EXPECT_EQ(Shell("sox --i -s " + wav).out, std::to_string((size - 44) / 4) + "\n");
  const std::string data((std::istreambuf_iterator<char>(w)), {});
  EXPECT_TRUE(Shell("sox " + wav + " -t s16 -").out == data) << "sox decodes other samples";

  // Raw PCM of two passes on standard output; the first pass is the same sound as a WAV
  // file of one pass, byte for byte.
  const RunResult raw = Ormix("music render " + kMusic + "high-score.mod - --loops 2");
  ASSERT_EQ(raw.status, 0);
  EXPECT_EQ(static_cast<long>(raw.out.size()), 2 * hsFrames * 4);
  const std::string wav44 = dir + "high-score.wav";
  ASSERT_EQ(Ormix("music render " + kMusic + "high-score.mod " + wav44).status, 0);
  const RunResult pass = Shell("sox " + wav44 + " -t s16 -");
  ASSERT_EQ(static_cast<long>(pass.out.size()), hsFrames * 4);
  EXPECT_TRUE(raw.out.compare(0, pass.out.size(), pass.out) == 0) << "the first pass differs";

  // Converted, the native file tells the same facts.
  const std::string qtk = dir + "zb-tnt.qtk";
  ASSERT_EQ(Ormix("music convert " + kMusic + "zb-tnt.xm " + qtk).status, 0);
  auto native = Lines(Ormix("music info " + qtk).out);
  EXPECT_EQ(native["format"], "OrbTracker");
  EXPECT_EQ(native["length_frames"], kv["length_frames"]);
  EXPECT_EQ(native["channels"], "8");
  EXPECT_EQ(native["orders"], "13");
}

TEST_F(MusicCommand, Failures) {
  struct Case { std::string args; };
  for (const Case& c : {Case{"music info " + std::string(ORMIX_CORPUS_DIR) + "/README.md"},
                        Case{"music info /nonexistent/song.mod"}, Case{"music info"},
                        Case{"music render " + kMusic + "zb-tnt.xm"},
                        Case{"music render " + kMusic + "zb-tnt.xm - --rate 0"},
                        Case{"music convert " + kMusic + "zb-tnt.xm /nonexistent/dir/x.qtk"},
                        Case{"music fly"}}) {
    const RunResult r = Ormix(c.args + " 2>&1");
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.out.find("ormix: "), 0u) << c.args;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << c.args << ": " << r.out;
  }
  // A song with nothing to play is refused, naming the file and the reason.
  const std::string broken = dir + "/no_patterns.mod";
  {
    std::vector<char> mod(1084 + 1024, 0);
    mod[950] = 100;
    for (int k = 0; k < 100; ++k) mod[952 + k] = 5;
    std::memcpy(mod.data() + 1080, "M.K.", 4);
    std::ofstream(broken, std::ios::binary).write(mod.data(), static_cast<std::streamsize>(mod.size()));
  }
  for (const std::string& args : {"music info " + broken, "music render " + broken + " " + dir + "/x.wav"}) {
    const RunResult r = Ormix(args + " 2>&1");
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.out, "ormix: " + broken + ": the order list names no pattern the file holds\n") << args;
  }
  std::remove(broken.c_str());
}

// "ormix music play" in real time, into devices that write what they play to a file
// (SDL's disk output, OpenAL's wave writer): a tone is heard once, whole, and the device
// is still running after its last frame (a real device plays its buffers then).
TEST_F(MusicCommand, PlayIsHeardOnceAndWhole) {
  // Longer than a stream's ring (0.75 s), so that its end comes while the ring is refilled.
  const int frames = 100545;
  std::string wav;
  {
    std::vector<int16_t> pcm(2 * frames);
    for (int i = 0; i < frames; ++i) pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(i % 100 < 50 ? 9000 : -9000);
    auto put32 = [](std::string& b, uint32_t v) { for (int k = 0; k < 4; ++k) b += static_cast<char>(v >> (8 * k)); };
    auto put16 = [](std::string& b, uint16_t v) { b += static_cast<char>(v); b += static_cast<char>(v >> 8); };
    wav = "RIFF";
    put32(wav, 36 + frames * 4);
    wav += "WAVEfmt ";
    put32(wav, 16);
    put16(wav, 1);
    put16(wav, 2);
    put32(wav, 44100);
    put32(wav, 44100 * 4);
    put16(wav, 4);
    put16(wav, 16);
    wav += "data";
    put32(wav, frames * 4);
    wav.append(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
  }
  const std::string tone = dir + "play_tone.wav", heard = dir + "play_heard.raw", conf = dir + "alsoft.conf";
  std::ofstream(tone, std::ios::binary) << wav;
  std::ofstream(conf) << "[general]\ndrivers=wave\nfrequency=44100\nchannels=stereo\nsample-type=int16\n[wave]\nfile="
                      << heard << "\n";
  struct Case { const char* driver; std::string env; bool wave; } cases[] = {
      {"DirectSound", "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + heard, false},
      {"SoftAudio", "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + heard, false},
      {"OpenAL", "ALSOFT_CONF=" + conf, true},  // a wave file: the samples follow "data" and its size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.driver);
    std::remove(heard.c_str());
    const RunResult r = Shell("env " + c.env + " " + kTool + " music play " + tone + " --driver " + c.driver + " 2>&1");
    if (r.status != 0 && std::string(c.driver) == "OpenAL") {
      ORMIX_SKIP_OR_FAIL() << "OpenAL cannot play here: " << r.out;
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.out;
    std::ifstream in(heard, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t skip = c.wave ? bytes.find("data") + 8 : 0;
    ASSERT_TRUE(skip != std::string::npos + 8 && skip <= bytes.size());
    const size_t n = (bytes.size() - skip) / 4;
    std::vector<int16_t> out(2 * n);
    std::memcpy(out.data(), bytes.data() + skip, n * 4);
    long first = -1, last = -1;
    for (size_t i = 0; i < n; ++i)
      if (std::abs(out[2 * i]) > 1000) {
        if (first < 0) first = static_cast<long>(i);
        last = static_cast<long>(i);
      }
    ASSERT_GE(first, 0) << "nothing heard";
    // (OpenAL's mixing spreads the edges by a few frames.)
    EXPECT_NEAR(last - first + 1, frames, 100) << "the tone was not heard once and whole";
    // The device plays on for its buffers (two of 512 frames at least) after the last frame.
    EXPECT_GE(static_cast<long>(n) - 1 - last, 1024) << "the device closed right after the last frame";
  }
  std::remove(tone.c_str());
  std::remove(heard.c_str());
  std::remove(conf.c_str());
}

}  // namespace
