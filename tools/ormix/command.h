#pragma once
// Subcommands of the ormix tool register themselves with ORMIX_COMMAND in their own file.
#include <string>
#include <vector>

using OrmixCommandFn = int (*)(const std::vector<std::string>& args);

struct OrmixCommandRegistrar {
  OrmixCommandRegistrar(const char* name, const char* usage, OrmixCommandFn fn);
};

#define ORMIX_CAT2(a, b) a##b
#define ORMIX_CAT(a, b) ORMIX_CAT2(a, b)
#define ORMIX_COMMAND(name, usage, fn) \
  static OrmixCommandRegistrar ORMIX_CAT(ormixCommand_, __LINE__)(name, usage, fn)

// Prints "ormix: <message>" on standard error and returns 1.
int OrmixFail(const std::string& message);
// True when an input file can be read; else false and why not in `why` ("Is a
// directory", "No such file or directory" ...). Stream URLs ("protocol::...") are left to
// the stream layer: true.
bool OrmixReadable(const std::string& path, std::string& why);
// 0 when the input file can be read; otherwise prints "ormix: PATH: REASON" and returns 1.
int OrmixCheckInput(const std::string& path);
