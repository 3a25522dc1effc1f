#pragma once
// The system driver: pumps the platform's messages into events and offers message
// boxes, requesters, URL opening and the mouse pointer. One driver is installed.
#include <functional>
#include <memory>

#include <ormix/runtime/text.h>
#include <ormix/system/event.h>

class TVirtualPad;

class TSystemDriver {
public:
  virtual ~TSystemDriver() = default;
  // Processes every pending platform message without blocking.
  virtual void Poll() = 0;
  // Blocks until a message or input is queued, then does Poll.
  virtual void Wait() = 0;
  virtual void MoveMouse(int x, int y) = 0;
  virtual void SetMouseVisible(int visible) = 0;
  virtual void Notify(const Text& text, int serious) = 0;
  virtual int Confirm(const Text& text, int serious) = 0;
  virtual int Proceed(const Text& text, int serious) = 0;
  virtual Text RequestFile(const Text& text, const Text& extensions, int save,
                           const Text& path) = 0;
  virtual Text RequestDir(const Text& text, const Text& path) = 0;
  virtual int OpenURL(const Text& url) = 0;
  // Gamepads (ormix/system/pad.h); a driver without them has no pads. Pads are numbered
  // from 1.
  virtual int PadConnected(int /*pad*/) { return 0; }
  virtual Text PadName(int /*pad*/) { return Text(); }
  virtual int PadRumble(int /*pad*/, float /*low*/, float /*high*/, int /*milliseconds*/) {
    return 0;
  }
  virtual int PadHasRumble(int /*pad*/) { return 0; }
  virtual void SetPadBackgroundInput(bool /*on*/) {}
  virtual std::shared_ptr<TVirtualPad> AttachVirtualPad(const Text& /*name*/) { return nullptr; }
};

// Initialises the platform (SDL), the event chain and the system driver; idempotent.
void InitSystemModule();
TSystemDriver* SystemDriver();
// Installs another driver (the previous one is kept alive by the caller).
void SetSystemDriver(TSystemDriver* driver);

// Driver Poll / Wait, each doing nothing while one of them is already running.
void PumpSystem();
void AwaitSystem();

// Pointer position in client coordinates of the active window; pointer visibility.
void MovePointer(int x, int y);
void ShowPointer();
void HidePointer();

// Modal message boxes captioned with the application title; warning icon when serious.
void Notify(const Text& text, int serious = 0);
// 1 for OK, else 0.
int Confirm(const Text& text, int serious = 0);
// 1 yes, 0 no, -1 cancel.
int Proceed(const Text& text, int serious = 0);
// A chosen path, or "" on cancel. extensions: groups "Description:ext,ext;Other:ext".
Text RequestFile(const Text& text, const Text& extensions = Text(), int save = 0,
                 const Text& path = Text());
Text RequestDir(const Text& text, const Text& path = Text());
// Opens a URL (or a file, or a web address given without its scheme) with the desktop.
int OpenURL(const Text& url);
// The URL OpenURL hands to the desktop: texts not starting with "http:" or "file:"
// become "file:" + full path + anchor when the file exists, else "http:" + text + anchor.
Text ResolveURL(const Text& url);

// Local date "%d %b %Y" ("09 Dec 2026") and time "%H:%M:%S".
Text DateText();
Text TimeText();

// Runs fn on the main thread during the next PumpSystem/AwaitSystem. Callable from
// any thread. Returns false when it could not be queued (fn is then dropped).
bool PostToMainThread(std::function<void()> fn);
