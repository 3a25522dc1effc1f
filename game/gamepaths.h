#pragma once
// Where the game's files are. Run from the build folder, the assets and the settings file
// are in system/173/ beside the executable (the current folder once the runtime has
// started). Installed as <prefix>/bin/zingle, the assets are in <prefix>/share/zingle/ and,
// because that folder is not writable, the settings file is kept per user in
// $XDG_DATA_HOME/zingle/ (default ~/.local/share/zingle/).
#include <string>

struct TGamePaths {
  std::string assets;    // folder of the images, fonts and sounds, ending in '/'
  std::string settings;  // the settings file
};

// Decides once from the executable's folder (Startup().appDir).
const TGamePaths& GamePaths();
// Keeps the settings file at `path` instead (the browser's kept folder); called before
// the first GamePaths().
void SetSettingsPath(const std::string& path);
// `name` in the assets folder.
std::string AssetPath(const std::string& name);
// The paths for an executable in `appDir`, with `xdgDataHome` and `home` as the
// environment gives them (null when unset). Creates nothing.
TGamePaths FindGamePaths(const std::string& appDir, const char* xdgDataHome, const char* home);
