#pragma once
// The frame loop and the files that outlive the program, the same on the desktop and in
// the browser.
//
// A browser page may not loop: it draws one frame each time the page asks for one and
// must return in between. RunFrames hides the difference: on the desktop it calls the
// frame function in a plain loop (ShowFrame paces it); in the browser the page's animation
// frames call it as many times as the time passed asks for at the given rate, and
// RunFrames returns at once (the program goes on after main has returned).
#include <functional>
#include <string>

// Calls frame() `hertz` times a second until it returns false.
void RunFrames(std::function<bool()> frame, int hertz = 60);

// True where frames are paced by the host (the browser) rather than by ShowFrame.
bool FramesPacedByHost();

// Makes `folder` (created when missing) keep its files from one run to the next, then
// calls ready(). On the desktop the folder is on disk and ready() runs at once; in the
// browser the folder is kept in the page's storage (IndexedDB) and ready() runs once its
// files have been read back, from a later frame of the page.
void KeepFolder(const std::string& folder, std::function<void()> ready);
// Writes what changed in the kept folders to their storage (in the browser; on the
// desktop the files are already on disk).
void SaveKeptFolders();
