#include "testsupport.h"

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>

bool HaveDisplay() { return std::getenv("DISPLAY") != nullptr; }

TCommandResult RunShellCommand(const std::string& command) {
  TCommandResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string OrmixTool() { return std::string(ORMIX_BINARY_DIR) + "/bin/ormix"; }

TCommandResult RunOrmix(const std::string& args, bool withStderr) {
  return RunShellCommand(OrmixTool() + " " + args + (withStderr ? " 2>&1" : ""));
}
