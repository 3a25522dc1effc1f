#include "gamepaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include <ormix/runtime/runtime.h>

namespace fs = std::filesystem;

TGamePaths FindGamePaths(const std::string& appDir, const char* xdgDataHome, const char* home) {
  TGamePaths p;
  std::error_code ec;
  const fs::path installed = (fs::path(appDir) / ".." / "share" / "zingle").lexically_normal();
  if (fs::is_directory(fs::path(appDir) / "system" / "173", ec) ||
      !fs::is_regular_file(installed / "zingle.png", ec)) {
    // In place (or nothing found: the loads then report the missing files as before).
    p.assets = "system/173/";
    p.settings = "system/173/tigger.hop";
    return p;
  }
  p.assets = installed.string() + "/";
  // A relative XDG_DATA_HOME is ignored, as the base directory rules say.
  fs::path data;
  if (xdgDataHome && xdgDataHome[0] == '/') {
    data = xdgDataHome;
  } else {
    std::string h = home && home[0] ? home : "";
    if (h.empty()) {
      if (const passwd* pw = getpwuid(getuid())) h = pw->pw_dir ? pw->pw_dir : "";
    }
    data = fs::path(h.empty() ? "/tmp" : h) / ".local" / "share";
  }
  p.settings = (data / "zingle" / "tigger.hop").string();
  return p;
}

namespace {
std::string& SettingsPathOverride() {
  static std::string path;
  return path;
}
}  // namespace

void SetSettingsPath(const std::string& path) { SettingsPathOverride() = path; }

const TGamePaths& GamePaths() {
  static const TGamePaths paths = [] {
    TGamePaths p = FindGamePaths(ToUtf8(Startup().appDir), std::getenv("XDG_DATA_HOME"),
                                 std::getenv("HOME"));
    if (!SettingsPathOverride().empty()) p.settings = SettingsPathOverride();
    // The per-user settings folder of an installed game may not exist yet.
    if (fs::path(p.settings).is_absolute()) {
      std::error_code ec;
      fs::create_directories(fs::path(p.settings).parent_path(), ec);
    }
    return p;
  }();
  return paths;
}

std::string AssetPath(const std::string& name) { return GamePaths().assets + name; }
