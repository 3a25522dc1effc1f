#pragma once
// Helpers shared by the test programs of every folder (linked into each of them).
#include <string>

// Whether an X display is there to open windows on (xvfb-run provides one).
bool HaveDisplay();

// What a command printed and how it ended.
struct TCommandResult {
  int status = -1;  // exit status; -1 when it could not run or did not exit normally
  std::string out;  // everything it wrote to standard output
};

// Runs a shell command line and collects its standard output.
TCommandResult RunShellCommand(const std::string& command);

// The built `ormix` tool (bin/ormix in the build folder).
std::string OrmixTool();
// Runs `ormix ARGS`; with withStderr, standard error is collected with standard output.
TCommandResult RunOrmix(const std::string& args, bool withStderr = true);
