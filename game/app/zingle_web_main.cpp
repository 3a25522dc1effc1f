// The game in the browser: the settings folder is read back from the page's storage,
// then the game runs from the page's animation frames.
#include "game/gamepaths.h"
#include "game/zingle.h"
#include <ormix/runtime/runtime.h>
#include <ormix/system/frames.h>

namespace {
// The folder kept in the page's storage (IndexedDB) with the settings file.
constexpr const char* kSettingsFolder = "/kept/zingle";
}  // namespace

int main(int argc, char** argv) {
  InitRuntime(argc, argv, true);
  SetSettingsPath(std::string(kSettingsFolder) + "/tigger.hop");
  KeepFolder(kSettingsFolder, [] { GameMain(); });
  return 0;
}
