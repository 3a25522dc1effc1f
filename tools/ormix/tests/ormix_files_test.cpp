// Every ormix command given a file it cannot read (a folder, a missing file, a path
// through a file, a file without read permission) names the file and says what is wrong,
// on one line of standard error, with status 1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = OrmixTool();

struct TResult {
  int status = -1;
  std::string err;
};

TResult Ormix(const std::string& args, const std::string& dir) {
  const std::string errFile = dir + "/stderr.txt";
  const std::string cmd = kTool + " " + args + " </dev/null >/dev/null 2>'" + errFile + "'";
  TResult r;
  const int st = std::system(cmd.c_str());
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(errFile);
  r.err.assign(std::istreambuf_iterator<char>(in), {});
  return r;
}

class OrmixFiles : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(kTool)) GTEST_SKIP() << "ormix not built at " << kTool;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    dir = fs::temp_directory_path() / ("ormix_files_" + std::to_string(getpid()));
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "plain.txt") << "text\n";
    std::ofstream(dir / "locked.wav") << "RIFF";
    fs::permissions(dir / "locked.wav", fs::perms::none);
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  fs::path dir;
};

TEST_F(OrmixFiles, UnreadableInputsAreNamedWithTheReason) {
  struct Input {
    std::string path;
    std::string reason;
  };
  std::vector<Input> inputs = {
      {(dir / "folder").string(), "Is a directory"},
      {(dir / "missing.mod").string(), "No such file or directory"},
      {(dir / "plain.txt" / "inner.mod").string(), "Not a directory"},
  };
  // Root reads whatever the permissions say.
  if (geteuid() != 0) inputs.push_back({(dir / "locked.wav").string(), "Permission denied"});
  const std::string out = (dir / "out").string();
  // Each command with the file in the place of its input ("@").
  const std::vector<std::string> commands = {
      "cat @",
      "image info @",
      "image convert @ " + out + ".png",
      "music info @",
      "music render @ " + out + ".wav",
      "music convert @ " + out + ".qtk",
      "music play @ --driver SoftAudio",
      "sound info @",
      "sound convert @ " + out + ".wav",
      "sound play @ --driver SoftAudio",
  };
  for (const std::string& command : commands) {
    for (const Input& in : inputs) {
      std::string args = command;
      args.replace(args.find('@'), 1, "'" + in.path + "'");
      const TResult r = Ormix(args, dir.string());
      EXPECT_EQ(r.status, 1) << args;
      EXPECT_EQ(r.err, "ormix: " + in.path + ": " + in.reason + "\n") << args;
    }
  }
  EXPECT_FALSE(fs::exists(out + ".png"));
  EXPECT_FALSE(fs::exists(out + ".wav"));
  EXPECT_FALSE(fs::exists(out + ".qtk"));
}

}  // namespace
