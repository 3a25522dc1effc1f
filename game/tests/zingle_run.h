#pragma once
// Runs the real zingle executable for tests: a private copy beside its own assets folder
// (so the settings file it writes stays in the test's folder), a script, a trace and a
// time limit.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class TZingleRun {
public:
  std::string dir;  // holds zingle and system/173/
  std::string error;

  // False (with error) when the executable or its assets are missing.
  bool Prepare() {
    namespace fs = std::filesystem;
    fs::path bin = fs::path(ORMIX_BINARY_DIR) / "bin";
    if (!fs::exists(bin / "zingle") || !fs::exists(bin / "system/173/zingle.png")) {
      error = "zingle or its assets are not built";
      return false;
    }
    std::string tmpl = (fs::path(ORMIX_BINARY_DIR) / "tests" / "zingle-run-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
      error = "cannot make a folder";
      return false;
    }
    dir = buf.data();
    fs::create_directories(fs::path(dir) / "system/173");
    std::error_code ec;
    fs::create_hard_link(bin / "zingle", fs::path(dir) / "zingle", ec);
    if (ec) fs::copy_file(bin / "zingle", fs::path(dir) / "zingle");
    for (const auto& entry : fs::directory_iterator(bin / "system/173")) {
      if (entry.path().filename() == "tigger.hop") continue;
      fs::create_symlink(entry.path(), fs::path(dir) / "system/173" / entry.path().filename());
    }
    return true;
  }
  ~TZingleRun() {
    if (!dir.empty() && !std::getenv("ZINGLE_KEEP_TEST_RUNS")) {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // Runs zingle with the script (and the environment additions); returns the exit
  // status, or -1 when it had to be killed after the time limit.
  int Run(const std::string& script, const std::vector<std::string>& env = {},
          int limitSeconds = 120) {
    {
      std::ofstream(Path("script.txt")) << script;
    }
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      setenv("SDL_AUDIODRIVER", "dummy", 0);
      std::string exe = Path("zingle"), scriptPath = Path("script.txt"), trace = Path("trace.txt");
      execl(exe.c_str(), exe.c_str(), "--script", scriptPath.c_str(), "--trace", trace.c_str(),
            "--unpaced", static_cast<char*>(nullptr));
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> TraceLines() const {
    std::ifstream f(Path("trace.txt"));
    std::vector<std::string> lines;
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
  }
  std::string Trace() const {
    std::ifstream f(Path("trace.txt"));
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::string Settings() const {
    std::ifstream f(Path("system/173/tigger.hop"), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};
