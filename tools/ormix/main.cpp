// ormix: the framework's abilities on the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <ormix/runtime/registry.h>
#include <ormix/runtime/runtime.h>
#include "command.h"

namespace {
struct Entry {
  std::string name;
  std::string usage;
  OrmixCommandFn fn;
};
using EntryPtr = std::shared_ptr<const Entry>;
// Oldest first: a command name's usage lines keep the order they were registered in.
TRegistry<EntryPtr, TRegistryOrder::OldestFirst>& Commands() {
  static TRegistry<EntryPtr, TRegistryOrder::OldestFirst> c;
  return c;
}

void Help(FILE* out) {
  std::fprintf(out, "usage: ormix <command> [arguments]\n\ncommands:\n");
  std::vector<EntryPtr> byName(Commands().begin(), Commands().end());
  std::stable_sort(byName.begin(), byName.end(), [](const EntryPtr& a, const EntryPtr& b) { return a->name < b->name; });
  for (const EntryPtr& e : byName) std::fprintf(out, "  ormix %s\n", e->usage.c_str());
  std::fprintf(out, "  ormix --help\n");
}
}  // namespace

OrmixCommandRegistrar::OrmixCommandRegistrar(const char* name, const char* usage, OrmixCommandFn fn) {
  Commands().Add(std::make_shared<const Entry>(Entry{name, usage, fn}));
}

int OrmixFail(const std::string& message) {
  std::fprintf(stderr, "ormix: %s\n", message.c_str());
  return 1;
}

bool OrmixReadable(const std::string& path, std::string& why) {
  if (path.find("::") != std::string::npos) return true;
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');  // as the stream layer opens files
  // Asked of the file system without opening the file: the command that follows opens it
  // once, and a named pipe is not waited on here.
  struct stat st {};
  if (stat(p.c_str(), &st) != 0 || access(p.c_str(), R_OK) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    why = std::strerror(EISDIR);
    return false;
  }
  return true;
}

int OrmixCheckInput(const std::string& path) {
  std::string why;
  return OrmixReadable(path, why) ? 0 : OrmixFail(path + ": " + why);
}

int main(int argc, char** argv) {
  InitRuntime(argc, argv, false);  // keep the caller's directory: paths are the user's
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    Help(stdout);
    return argc < 2 ? 1 : 0;
  }
  const std::string name = argv[1];
  EntryPtr command = Commands().Find([&](const EntryPtr& e) { return e->name == name; });
  if (!command) {
    std::fprintf(stderr, "ormix: unknown command '%s'\n", argv[1]);
    Help(stderr);
    return 1;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  // One file may register several usages for a command name; the first handles them all.
  try {
    return command->fn(args);
  } catch (const std::exception& e) {
    return OrmixFail(e.what());
  }
}
