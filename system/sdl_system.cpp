#include <ormix/system/sdl_system.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/runtime/text.h>
#include <ormix/system/keycodes.h>
#include "platform_timer.h"
#include "sdl_pads.h"

namespace {

uint32_t g_callEvent = 0;   // SDL event type of calls posted to the main thread
uint32_t g_tickEvent = 0;   // SDL event type of timer ticks (code = timer id)
// SDL video is up (the graphics layer may start it later than this module).
bool VideoReady() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

bool HasEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Never destroyed: exit actions (closing the screen) still unregister their windows.
std::unordered_map<uint32_t, TSDLWindowProc>& WindowProcs() {
  static auto* procs = new std::unordered_map<uint32_t, TSDLWindowProc>;
  return *procs;
}

// Frees the records of posted calls still queued when the program ends.
void DropPendingCalls() {
  if (!g_callEvent || !SDL_WasInit(SDL_INIT_EVENTS)) return;
  SDL_Event e;
  while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, g_callEvent, g_callEvent) == 1) {
    delete static_cast<std::function<void()>*>(e.user.data1);
  }
}

int EmitEvent(int32_t id, int32_t data, int32_t mods, int32_t x, int32_t y) {
  TEvent::Create(id, nullptr, data, mods, x, y)->Emit();
  return 0;
}

bool IsModifierKey(int vk) {
  return (vk >= KEY_LSHIFT && vk <= KEY_RALT) || vk == KEY_LSYS || vk == KEY_RSYS;
}

int ModifierFlags(uint16_t kmod) {
  int m = 0;
  if (kmod & KMOD_SHIFT) m |= MODIFIER_SHIFT;
  if (kmod & KMOD_CTRL) m |= MODIFIER_CONTROL;
  if (kmod & KMOD_ALT) m |= MODIFIER_ALT;
  if (kmod & KMOD_GUI) m |= MODIFIER_SYSTEM;
  return m;
}

// Framework button number of an SDL button: 1 left, 2 right, 3 middle; 0 for others.
int ButtonNumber(uint8_t sdlButton) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_RIGHT: return 2;
    case SDL_BUTTON_MIDDLE: return 3;
    default: return 0;
  }
}

uint32_t EventWindowId(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_TEXTEDITING: return e.edit.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    default: return 0;
  }
}

bool IsFullScreen(uint32_t windowId) {
  SDL_Window* w = windowId ? SDL_GetWindowFromID(windowId) : nullptr;
  return w && (SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN) != 0;
}

// Whether an executable of that name is on PATH.
bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string p(path);
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string dir = p.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string full = dir + "/" + name;
    struct stat st{};
    if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(full.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

std::vector<char*> ArgPointers(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs a program (no shell) and returns its standard output; ok is false unless it ran
// and exited with status 0.
std::string RunAndRead(std::vector<std::string> args, bool& ok) {
  ok = false;
  std::string out;
  int fds[2];
  if (args.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return out;
  std::vector<char*> argv = ArgPointers(args);
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return out;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return out;
}

// Starts a program detached (its child is reaped at once, the program itself by init).
bool StartDetached(std::vector<std::string> args) {
  std::vector<char*> argv = ArgPointers(args);
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::setsid();
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct TFilterGroup {
  std::string description;
  std::vector<std::string> patterns;  // "*.png"
};

// "Images:png,jpg;Text:txt" -> groups; a group without ":" is a list of extensions.
std::vector<TFilterGroup> ParseExtensions(const Text& extensions) {
  std::vector<TFilterGroup> groups;
  std::string all = ToUtf8(extensions);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string group = all.substr(start, end - start);
    start = end + 1;
    if (group.empty()) continue;
    TFilterGroup g;
    size_t colon = group.find(':');
    std::string exts = colon == std::string::npos ? group : group.substr(colon + 1);
    g.description = colon == std::string::npos ? group : group.substr(0, colon);
    size_t s = 0;
    while (s < exts.size()) {
      size_t e = exts.find(',', s);
      if (e == std::string::npos) e = exts.size();
      std::string ext = exts.substr(s, e - s);
      s = e + 1;
      while (!ext.empty() && ext.front() == ' ') ext.erase(0, 1);
      while (!ext.empty() && ext.back() == ' ') ext.pop_back();
      if (ext.empty()) continue;
      g.patterns.push_back(ext == "*" ? "*" : "*." + ext);
    }
    if (!g.patterns.empty()) groups.push_back(std::move(g));
  }
  return groups;
}

std::string JoinPatterns(const TFilterGroup& g) {
  std::string s;
  for (const auto& p : g.patterns) s += (s.empty() ? "" : " ") + p;
  return s;
}

Text RunRequester(const Text& text, const Text& extensions, int save, const Text& path,
                  bool directory) {
  std::string program = FindRequesterProgram();
  if (program.empty()) return Text();
  bool ok = false;
  std::string out = RunAndRead(
      RequesterCommand(program, text, extensions, save, path, directory), ok);
  if (!ok) return Text();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return ToText(out);
}

int ShowBox(const Text& text, int serious, const SDL_MessageBoxButtonData* buttons,
            int count, int failed) {
  std::string title = ToUtf8(Startup().appTitle);
  std::string message = ToUtf8(text);
  SDL_MessageBoxData box{};
  box.flags = (serious ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION) |
              SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  box.window = VideoReady() ? SDL_GetKeyboardFocus() : nullptr;
  box.title = title.c_str();
  box.message = message.c_str();
  box.numbuttons = count;
  box.buttons = buttons;
  int pressed = failed;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) return failed;
  return pressed;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Module start-up.

void InitSystemModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitEventModule();
  // Signals keep their usual meaning, and closing a window is only a request.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // The click that brings a window to the front is a click like any other.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  if (SDL_Init(SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) {
    throw TRuntimeException(std::string("SDL failed to start: ") + SDL_GetError());
  }
  // Video starts here only when there is a display (or a video driver is named); without
  // one, events and timers work alone and console programs stay quiet. The graphics layer
  // starts video itself when it opens a window.
  bool video = false;
  if (HasEnv("DISPLAY") || HasEnv("WAYLAND_DISPLAY") || HasEnv("SDL_VIDEODRIVER")) {
    video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  }
  // Gamepads: a platform without SDL's game controller support simply has none.
  StartSDLPads();
  uint32_t first = SDL_RegisterEvents(2);
  if (first == static_cast<uint32_t>(-1)) throw TRuntimeException("SDL has no user events left");
  g_callEvent = first;
  g_tickEvent = first + 1;
  SDL_EventState(SDL_TEXTINPUT, SDL_ENABLE);
  if (video) SDL_StartTextInput();
  std::atexit(DropPendingCalls);
  // Lives until the process ends, so that exit actions may still pump.
  SetSystemDriver(new TSDLSystemDriver());
}

uint32_t SDLPostedCallEvent() {
  InitSystemModule();
  return g_callEvent;
}

uint32_t SDLTimerTickEvent() {
  InitSystemModule();
  return g_tickEvent;
}

bool PostToMainThread(std::function<void()> fn) {
  if (!g_callEvent) return false;
  auto* record = new std::function<void()>(std::move(fn));
  SDL_Event e{};
  e.type = g_callEvent;
  e.user.data1 = record;
  if (SDL_PushEvent(&e) != 1) {
    delete record;
    return false;
  }
  return true;
}

void SetSDLWindowProc(uint32_t windowId, TSDLWindowProc proc) {
  WindowProcs()[windowId] = std::move(proc);
}

void ClearSDLWindowProc(uint32_t windowId) { WindowProcs().erase(windowId); }

// ---------------------------------------------------------------------------------------
// The driver.

TSDLSystemDriver::TSDLSystemDriver() = default;

void TSDLSystemDriver::Poll() {
  SDL_PumpEvents();
  // Only the events queued now: a fast timer cannot keep one Poll running for ever.
  int pending = SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_Event e;
  for (int i = 0; i < pending; ++i) {
    if (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) break;
    HandleEvent(e);
  }
}

void TSDLSystemDriver::Wait() {
  SDL_WaitEvent(nullptr);
  Poll();
}

void TSDLSystemDriver::HandleEvent(const SDL_Event& e) {
  if (e.type == g_callEvent && g_callEvent) {
    std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(e.user.data1));
    if (fn && *fn) (*fn)();
    return;
  }
  if (e.type == g_tickEvent && g_tickEvent) {
    DispatchTimerTick(e.user.code);
    return;
  }
  if (HandleSDLPadEvent(e, _mods)) return;
  uint32_t windowId = EventWindowId(e);
  if (windowId) _lastWindow = windowId;
  switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int vk = ScancodeToVirtualKey(e.key.keysym.scancode);
      if (IsModifierKey(vk)) _mods = ModifierFlags(e.key.keysym.mod);
      if (vk < 1 || vk > 255) break;
      if (e.type == SDL_KEYUP) {
        EmitEvent(EVENT_KEYUP, vk, _mods, 0, 0);
        break;
      }
      EmitEvent(e.key.repeat ? EVENT_KEYREPEAT : EVENT_KEYDOWN, vk, _mods, 0, 0);
      // The control keys that type a character of their own, as text input does not.
      if (vk == KEY_BACKSPACE || vk == KEY_TAB || vk == KEY_RETURN || vk == KEY_ESCAPE) {
        EmitEvent(EVENT_KEYCHAR, vk, _mods, 0, 0);
      }
      // Control with a letter types the control code 1-26 (text input drops those);
      // with Alt as well (AltGr) the layout's own character comes through text input.
      const uint16_t mod = e.key.keysym.mod;
      if (vk >= 'A' && vk <= 'Z' && (mod & KMOD_CTRL) && !(mod & KMOD_ALT)) {
        EmitEvent(EVENT_KEYCHAR, vk - 'A' + 1, _mods, 0, 0);
      }
      break;
    }
    case SDL_TEXTINPUT: {
      const char* s = e.text.text;
      size_t n = strnlen(s, sizeof e.text.text);
      for (size_t i = 0; i < n;) {
        const int32_t c = DecodeUtf8(std::string_view(s, n), i);
        uint32_t cp = c < 0 ? 0xFFFD : static_cast<uint32_t>(c);
        if (cp > 0xFFFF) {
          // Text holds 16-bit codes: a character beyond them travels as its surrogate pair.
          cp -= 0x10000;
          EmitEvent(EVENT_KEYCHAR, static_cast<int32_t>(0xD800 + (cp >> 10)), _mods, 0, 0);
          EmitEvent(EVENT_KEYCHAR, static_cast<int32_t>(0xDC00 + (cp & 0x3FF)), _mods, 0, 0);
        } else {
          EmitEvent(EVENT_KEYCHAR, static_cast<int32_t>(cp), _mods, 0, 0);
        }
      }
      break;
    }
    case SDL_MOUSEMOTION: {
      if (e.motion.which == SDL_TOUCH_MOUSEID) break;
      TrackPointer(e.motion.windowID, e.motion.x, e.motion.y);
      uint32_t st = e.motion.state;
      int data = (st & SDL_BUTTON_RMASK) ? 2 : (st & SDL_BUTTON_MMASK) ? 4 : (st & SDL_BUTTON_LMASK) ? 1 : 0;
      EmitEvent(EVENT_MOUSEMOVE, data, _mods, e.motion.x, e.motion.y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      int b = ButtonNumber(e.button.button);
      if (!b) break;
      _lastX = e.button.x;
      _lastY = e.button.y;
      bool down = e.type == SDL_MOUSEBUTTONDOWN;
      // The window keeps receiving the pointer while a button is held, except full screen.
      if (VideoReady() && !IsFullScreen(e.button.windowID)) SDL_CaptureMouse(down ? SDL_TRUE : SDL_FALSE);
      EmitEvent(down ? EVENT_MOUSEDOWN : EVENT_MOUSEUP, b, _mods, e.button.x, e.button.y);
      break;
    }
    case SDL_MOUSEWHEEL: {
      int notches = e.wheel.y;
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      if (notches == 0) break;
      EmitEvent(EVENT_MOUSEWHEEL, notches, _mods, e.wheel.mouseX, e.wheel.mouseY);
      break;
    }
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED: EmitEvent(EVENT_APPRESUME, 0, _mods, 0, 0); break;
        case SDL_WINDOWEVENT_FOCUS_LOST: EmitEvent(EVENT_APPSUSPEND, 0, _mods, 0, 0); break;
        case SDL_WINDOWEVENT_CLOSE: EmitEvent(EVENT_APPTERMINATE, 0, _mods, 0, 0); break;
        case SDL_WINDOWEVENT_LEAVE:
          if (_tracked == e.window.windowID) TrackPointer(0, _lastX, _lastY);
          break;
        default: break;
      }
      break;
    case SDL_QUIT:
      EmitEvent(EVENT_APPTERMINATE, 0, _mods, 0, 0);
      break;
    default:
      break;
  }
  if (windowId) {
    auto& procs = WindowProcs();
    auto it = procs.find(windowId);
    if (it != procs.end()) {
      TSDLWindowProc proc = it->second;  // the procedure may unregister itself
      proc(e);
    }
  }
}

void TSDLSystemDriver::TrackPointer(uint32_t windowId, int x, int y) {
  if (windowId != _tracked) {
    if (_tracked) EmitEvent(EVENT_MOUSELEAVE, 0, _mods, _lastX, _lastY);
    if (windowId) EmitEvent(EVENT_MOUSEENTER, 0, _mods, x, y);
    _tracked = windowId;
    UpdateCursor();
  }
  _lastX = x;
  _lastY = y;
}

void TSDLSystemDriver::UpdateCursor() {
  int shown = (_hidden && _tracked) ? 0 : 1;
  if (shown == _cursorShown || !VideoReady()) return;
  SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
  _cursorShown = shown;
}

void TSDLSystemDriver::MoveMouse(int x, int y) {
  if (!VideoReady()) return;
  SDL_Window* w = SDL_GetKeyboardFocus();
  if (!w) w = SDL_GetMouseFocus();
  if (!w && _lastWindow) w = SDL_GetWindowFromID(_lastWindow);
  if (!w) {
    for (const auto& [id, proc] : WindowProcs()) {
      if ((w = SDL_GetWindowFromID(id))) break;
    }
  }
  if (w) SDL_WarpMouseInWindow(w, x, y);
}

void TSDLSystemDriver::SetMouseVisible(int visible) {
  _hidden = !visible;
  UpdateCursor();
}

void TSDLSystemDriver::Notify(const Text& text, int serious) {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 1, "OK"}};
  ShowBox(text, serious, buttons, 1, 0);
}

int TSDLSystemDriver::Confirm(const Text& text, int serious) {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "OK"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "Cancel"}};
  return ShowBox(text, serious, buttons, 2, 0) == 1 ? 1 : 0;
}

int TSDLSystemDriver::Proceed(const Text& text, int serious) {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
      {0, 0, "No"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, -1, "Cancel"}};
  int r = ShowBox(text, serious, buttons, 3, 0);
  return r == 1 ? 1 : r == 0 ? 0 : -1;
}

Text TSDLSystemDriver::RequestFile(const Text& text, const Text& extensions, int save,
                                   const Text& path) {
  return RunRequester(text, extensions, save, path, false);
}

Text TSDLSystemDriver::RequestDir(const Text& text, const Text& path) {
  return RunRequester(text, Text(), 0, path, true);
}

int TSDLSystemDriver::OpenURL(const Text& url) {
  if (!OnPath("xdg-open")) return 0;
  return StartDetached({"xdg-open", ToUtf8(ResolveURL(url))}) ? 1 : 0;
}

int TSDLSystemDriver::PadConnected(int pad) { return SDLPadConnected(pad); }
Text TSDLSystemDriver::PadName(int pad) { return SDLPadName(pad); }
int TSDLSystemDriver::PadRumble(int pad, float low, float high, int milliseconds) {
  return SDLPadRumble(pad, low, high, milliseconds);
}
int TSDLSystemDriver::PadHasRumble(int pad) { return SDLPadHasRumble(pad); }
void TSDLSystemDriver::SetPadBackgroundInput(bool on) {
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, on ? "1" : "0");
}
std::shared_ptr<TVirtualPad> TSDLSystemDriver::AttachVirtualPad(const Text& name) {
  return AttachSDLVirtualPad(name);
}

// ---------------------------------------------------------------------------------------
// Requesters.

std::string FindRequesterProgram() {
  if (OnPath("zenity")) return "zenity";
  if (OnPath("kdialog")) return "kdialog";
  return std::string();
}

std::vector<std::string> RequesterCommand(const std::string& program, const Text& text,
                                          const Text& extensions, int save,
                                          const Text& path, bool directory) {
  std::vector<std::string> cmd;
  std::string title = ToUtf8(text);
  std::string where = ToUtf8(path);
  std::vector<TFilterGroup> groups = ParseExtensions(extensions);
  if (program == "zenity") {
    cmd = {"zenity", "--file-selection", "--title=" + title};
    if (directory) cmd.push_back("--directory");
    if (save && !directory) {
      cmd.push_back("--save");
      cmd.push_back("--confirm-overwrite");
    }
    if (!where.empty()) cmd.push_back("--filename=" + where);
    if (!directory) {
      for (const auto& g : groups) cmd.push_back("--file-filter=" + g.description + " | " + JoinPatterns(g));
    }
  } else if (program == "kdialog") {
    cmd = {"kdialog", "--title", title};
    if (directory) {
      cmd.push_back("--getexistingdirectory");
      cmd.push_back(where.empty() ? "." : where);
    } else {
      cmd.push_back(save ? "--getsavefilename" : "--getopenfilename");
      cmd.push_back(where.empty() ? "." : where);
      std::string filter;
      for (const auto& g : groups) {
        if (!filter.empty()) filter += "\n";
        filter += JoinPatterns(g) + "|" + g.description;
      }
      if (!filter.empty()) cmd.push_back(filter);
    }
  }
  return cmd;
}
