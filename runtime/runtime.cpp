#include <ormix/runtime/runtime.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

uint32_t ElapsedMillis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMillis(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

int PathKind(const Text& path) {
  std::string p = ToUtf8(path);
  for (auto& c : p) if (c == '\\') c = '/';
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return 2;
  return 1;
}

namespace {
std::vector<std::function<void()>>& ExitActions() {
  // Never destroyed: the actions run from atexit, after static destructors may have run.
  static auto* a = new std::vector<std::function<void()>>();
  return *a;
}
void RunExitActions() {
  auto& a = ExitActions();
  while (!a.empty()) {
    auto f = std::move(a.back());
    a.pop_back();
    f();
  }
}
}  // namespace

void OnEndProgram(std::function<void()> action) {
  ExitActions().push_back(std::move(action));
  // At exit, handlers and static destructors run in the reverse order of their
  // registration. Registering again with every action makes the actions run before the
  // destruction of any static object built before the action was added (such as the
  // drivers the action still uses); later runs find nothing left to do.
  std::atexit(RunExitActions);
}

void EndProgram() {
  RunExitActions();
  std::exit(0);
}

TStartup& Startup() {
  static TStartup s;
  return s;
}

void InitRuntime(int argc, char** argv, bool changeDir) {
  TStartup& s = Startup();
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf)) s.launchDir = ToText(buf);
  std::string exe;
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = 0;
    exe = buf;
  } else if (argc > 0) {
    exe = argv[0];
  }
  size_t slash = exe.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  s.appDir = ToText(dir);
  s.appFile = ToText(slash == std::string::npos ? exe : exe.substr(slash + 1));
  s.args.clear();
  for (int i = 0; i < argc; ++i) s.args.push_back(ToText(argv[i]));
  s.appTitle = u"Ormix Application";
  if (changeDir && !dir.empty()) {
    if (chdir(dir.c_str()) != 0) {
      // Stay where we are: relative asset paths then fail to open, which callers report.
    }
  }
}
