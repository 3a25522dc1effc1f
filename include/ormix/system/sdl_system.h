#pragma once
// The system driver on SDL2. Poll and Wait translate the SDL events of every SDL window
// into the framework's events (null source, virtual-key codes, the current modifier
// flags), then hand each event that belongs to a window to that window's procedure, if
// one is registered (the graphics layer's windows use this for focus and close). Game
// controllers become pad events (ormix/system/pad.h).
#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <ormix/system/system.h>

// Virtual-key number of an SDL scancode, 0 when the key has none.
int ScancodeToVirtualKey(SDL_Scancode scancode);

// The procedure of an SDL window: called with each SDL event of that window after the
// framework's events for it were emitted. An exception it throws leaves Poll/Wait.
using TSDLWindowProc = std::function<void(const SDL_Event& event)>;
void SetSDLWindowProc(uint32_t windowId, TSDLWindowProc proc);
void ClearSDLWindowProc(uint32_t windowId);

class TSDLSystemDriver : public TSystemDriver {
public:
  TSDLSystemDriver();
  void Poll() override;
  void Wait() override;
  void MoveMouse(int x, int y) override;
  void SetMouseVisible(int visible) override;
  void Notify(const Text& text, int serious) override;
  int Confirm(const Text& text, int serious) override;
  int Proceed(const Text& text, int serious) override;
  Text RequestFile(const Text& text, const Text& extensions, int save,
                   const Text& path) override;
  Text RequestDir(const Text& text, const Text& path) override;
  int OpenURL(const Text& url) override;
  int PadConnected(int pad) override;
  Text PadName(int pad) override;
  int PadRumble(int pad, float low, float high, int milliseconds) override;
  int PadHasRumble(int pad) override;
  void SetPadBackgroundInput(bool on) override;
  std::shared_ptr<TVirtualPad> AttachVirtualPad(const Text& name) override;

  // Translates one SDL event (Poll does this for each queued event).
  void HandleEvent(const SDL_Event& event);
  // Current modifier flags (MODIFIER_*).
  int Modifiers() const { return _mods; }

private:
  void TrackPointer(uint32_t windowId, int x, int y);
  void UpdateCursor();
  int _mods = 0;
  uint32_t _tracked = 0;     // window the pointer is in, 0 for none
  uint32_t _lastWindow = 0;  // window of the latest event
  int _lastX = 0, _lastY = 0;
  bool _hidden = false;
  int _cursorShown = -1;
};

// The SDL event types used for calls posted to the main thread and for timer ticks.
uint32_t SDLPostedCallEvent();
uint32_t SDLTimerTickEvent();

// The requester's command line for zenity or kdialog (argv[0] is the program), built
// without a shell. Empty when neither program is installed.
std::vector<std::string> RequesterCommand(const std::string& program, const Text& text,
                                          const Text& extensions, int save,
                                          const Text& path, bool directory);
// Finds the requester program on PATH: "zenity", "kdialog" or "".
std::string FindRequesterProgram();
