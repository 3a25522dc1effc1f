#pragma once
// Process-level helpers: the millisecond clock, file-system queries, ending the program,
// and the start-up record.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <ormix/runtime/text.h>

// The platform's millisecond counter: 32 bits, wrapping.
uint32_t ElapsedMillis();
// Sleeps the calling thread (nanosleep).
void SleepMillis(int ms);

// 0 when nothing exists at the path, 1 for a file, 2 for a directory.
int PathKind(const Text& path);

// Registers an action that EndProgram (and a normal exit) runs, newest first.
void OnEndProgram(std::function<void()> action);
// Runs the registered exit actions and ends the process with status 0.
[[noreturn]] void EndProgram();

// The start-up record.
struct TStartup {
  Text launchDir;   // current directory when the program started
  Text appDir;      // directory of the executable
  Text appFile;     // the executable's file name
  std::vector<Text> args;
  Text appTitle = u"Ormix Application";
};
TStartup& Startup();
// Records the start-up facts; with changeDir the executable's directory becomes the
// current directory so that relative asset paths resolve beside it.
void InitRuntime(int argc, char** argv, bool changeDir);
