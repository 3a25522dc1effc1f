#pragma once
// The "ormix music" command: one dispatcher, subcommands registered by name so that
// each can live in its own file (cmd_music.cpp holds info, render and convert).
#include <string>
#include <vector>

#include "command.h"

using MusicSubcommandFn = int (*)(const std::vector<std::string>& args);

struct MusicSubcommandRegistrar {
  MusicSubcommandRegistrar(const char* name, MusicSubcommandFn fn);
};

// Registers a subcommand of "ormix music" (args: what follows the subcommand's name).
// A file adding one also adds its usage line with
// ORMIX_COMMAND("music", "music <sub> ...", MusicCommandMain).
#define ORMIX_MUSIC_SUBCOMMAND(name, fn) \
  static MusicSubcommandRegistrar ORMIX_CAT(ormixMusicSub_, __LINE__)(name, fn)

// The dispatcher: args[0] names the subcommand.
int MusicCommandMain(const std::vector<std::string>& args);
