// The "ormix sound" commands, run as the built tool.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport/testsupport.h"
#include "tone_util.h"

namespace {

std::string Tool() { return OrmixTool(); }
std::string Corpus(const std::string& n) { return std::string(ORMIX_CORPUS_DIR) + "/sounds/" + n; }

using Result = TCommandResult;

// Runs a shell command; its standard output (and whatever else it redirects there).
Result Shell(const std::string& command) { return RunShellCommand(command); }

Result RunTool(const std::string& args) { return Shell(Tool() + " " + args + " 2>&1"); }

class SoundCommand : public ::testing::Test {
protected:
  void SetUp() override {
    if (access(Tool().c_str(), X_OK) != 0) ORMIX_SKIP_OR_FAIL() << "ormix is not built";
  }
  std::string Temp(const std::string& name) {
    return std::string(ORMIX_BINARY_DIR) + "/tests/sndcmd_" + std::to_string(getpid()) + "_" + name;
  }
};

}  // namespace

TEST_F(SoundCommand, InfoAndConvert) {
  if (!std::ifstream(Corpus("stereo8.wav")).good()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  if (Shell("sox --version").status != 0) ORMIX_SKIP_OR_FAIL() << "sox not installed";
  Result r = RunTool("sound info '" + Corpus("stereo8.wav") + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "frames: 44288\nrate: 22050\nformat: 4\nchannels: 2\n");
  r = RunTool("sound info '" + Corpus("short.ogg") + "'");
  EXPECT_EQ(r.out, "frames: 95256\nrate: 44100\nformat: 2\nchannels: 1\n");

  // A converted file holds the decoded sample as it was: read back, it is the same.
  const std::string out = Temp("s.wav");
  r = RunTool("sound convert '" + Corpus("short2.ogg") + "' '" + out + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  auto back = LoadAudioSample(out);
  auto orig = LoadAudioSample(Corpus("short2.ogg"));
  ASSERT_TRUE(back && orig);
  EXPECT_EQ(back->format, SF_STEREO16LE);
  EXPECT_EQ(back->hertz, 44100);
  ASSERT_EQ(back->ByteSize(), orig->ByteSize());
  EXPECT_EQ(0, std::memcmp(back->samples, orig->samples, orig->ByteSize()));
  // Another program reads the same file the same way: header facts and every sample.
  EXPECT_EQ(Shell("sox --i -r '" + out + "'").out, "44100\n");
  EXPECT_EQ(Shell("sox --i -c '" + out + "'").out, "2\n");
  EXPECT_EQ(Shell("sox --i -b '" + out + "'").out, "16\n");
  const Result pcm = Shell("sox '" + out + "' -t s16 -");
  ASSERT_EQ(pcm.status, 0);
  ASSERT_EQ(pcm.out.size(), orig->ByteSize());
  EXPECT_EQ(0, std::memcmp(pcm.out.data(), orig->samples, orig->ByteSize()));
  std::remove(out.c_str());
}

TEST_F(SoundCommand, PlayIsHeardOnTheDiskOutput) {
  // A tone file to play.
  const std::string tone = Temp("tone.wav");
  {
    auto s = MakeTone(441, 0.4);
    std::ofstream f(tone, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    uint32_t bytes = static_cast<uint32_t>(s->ByteSize());
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(s->samples), bytes);
  }
  const std::string raw = Temp("capture.raw");
  // The mixer feeds the output in lockstep with it, and the disk output runs faster than
  // real time: what is captured does not depend on how busy the machine is.
  const std::string env = "ORMIX_AUDIO_LOCKSTEP=1 SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 SDL_DISKAUDIOFILE='" +
                          raw + "' ";
  FILE* p = popen((env + Tool() + " sound play '" + tone + "' --driver 'softaudio multimedia' --rate 2 --pan 1").c_str(), "r");
  ASSERT_TRUE(p);
  int st = pclose(p);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  const std::vector<int16_t> pcm = ReadPcm(raw);
  const Heard h = Analyse(pcm);
  EXPECT_NEAR(h.seconds, 0.2, 0.01);
  EXPECT_EQ(h.gaps, 0);
  EXPECT_NEAR(h.hz, 882, 882 * 0.02);
  EXPECT_NEAR(h.rightPeak, 16000, 16000 * 0.03);
  int leftPeak = 0;
  for (size_t i = 0; i < pcm.size(); i += 2) leftPeak = std::max(leftPeak, std::abs(static_cast<int>(pcm[i])));
  EXPECT_EQ(leftPeak, 0);  // panned fully right
  std::remove(raw.c_str());
  std::remove(tone.c_str());
}

TEST_F(SoundCommand, BadInputIsOneLineAndStatusOne) {
  const char* cases[] = {"sound info /no/such/file.wav", "sound info", "sound convert /no/such.ogg x.wav",
                         "sound play /no/such.wav", "sound play", "sound frobnicate",
                         "sound play /etc/hostname --rate nope"};
  for (const char* c : cases) {
    Result r = RunTool(std::string("") + c);
    EXPECT_EQ(r.status, 1) << c;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << c << ": " << r.out;
  }
  if (!std::ifstream(Corpus("mono8.wav")).good()) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not present";
  Result r = RunTool("sound play '" + Corpus("mono8.wav") + "' --driver nonesuch");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ormix: no audio driver named 'nonesuch'\n");
}
