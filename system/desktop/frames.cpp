// The frame loop and kept folders on the desktop: a plain loop and the disk.
#include <ormix/system/frames.h>

#include <filesystem>
#include <system_error>

void RunFrames(std::function<bool()> frame, int) {
  while (frame()) {
  }
}

bool FramesPacedByHost() { return false; }

void KeepFolder(const std::string& folder, std::function<void()> ready) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ready) ready();
}

void SaveKeptFolders() {}
