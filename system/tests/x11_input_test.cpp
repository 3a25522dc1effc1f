// Real input under an X server: XTest presses real keys and buttons and moves the real
// pointer, and the events come through SDL and the system driver like a user's would.
// The tests start an X server of their own (Xvfb), so that moving the focus and the
// pointer cannot disturb windows of other tests running at the same time. Skipped when
// Xvfb or the XTest library is missing.
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <SDL2/SDL_syswm.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <ormix/runtime/runtime.h>
#include <ormix/system/input.h>
#include <ormix/system/keycodes.h>
#include <ormix/system/sdl_system.h>

namespace {

// The few Xlib/XTest entry points used, looked up by name.
struct TXTest {
  void* x11 = nullptr;
  void* xtst = nullptr;
  void* display = nullptr;
  void* (*OpenDisplay)(const char*) = nullptr;
  int (*CloseDisplay)(void*) = nullptr;
  int (*Flush)(void*) = nullptr;
  unsigned char (*KeysymToKeycode)(void*, unsigned long) = nullptr;
  int (*FakeKeyEvent)(void*, unsigned, int, unsigned long) = nullptr;
  int (*FakeButtonEvent)(void*, unsigned, int, unsigned long) = nullptr;
  int (*FakeMotionEvent)(void*, int, int, int, unsigned long) = nullptr;
  int (*SetInputFocus)(void*, unsigned long, int, unsigned long) = nullptr;
  unsigned long (*InternAtom)(void*, const char*, int) = nullptr;
  unsigned long (*DefaultRootWindow)(void*) = nullptr;
  int (*QueryPointer)(void*, unsigned long, unsigned long*, unsigned long*, int*, int*, int*,
                      int*, unsigned*) = nullptr;
  int (*GetWindowProperty)(void*, unsigned long, unsigned long, long, long, int, unsigned long,
                           unsigned long*, int*, unsigned long*, unsigned long*,
                           unsigned char**) = nullptr;
  int (*Free)(void*) = nullptr;
  int (*SendEvent)(void*, unsigned long, int, long, void*) = nullptr;

  bool Load() {
    x11 = dlopen("libX11.so.6", RTLD_NOW);
    xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!x11 || !xtst) return false;
    OpenDisplay = reinterpret_cast<decltype(OpenDisplay)>(dlsym(x11, "XOpenDisplay"));
    CloseDisplay = reinterpret_cast<decltype(CloseDisplay)>(dlsym(x11, "XCloseDisplay"));
    Flush = reinterpret_cast<decltype(Flush)>(dlsym(x11, "XFlush"));
    KeysymToKeycode = reinterpret_cast<decltype(KeysymToKeycode)>(dlsym(x11, "XKeysymToKeycode"));
    SetInputFocus = reinterpret_cast<decltype(SetInputFocus)>(dlsym(x11, "XSetInputFocus"));
    InternAtom = reinterpret_cast<decltype(InternAtom)>(dlsym(x11, "XInternAtom"));
    DefaultRootWindow = reinterpret_cast<decltype(DefaultRootWindow)>(dlsym(x11, "XDefaultRootWindow"));
    QueryPointer = reinterpret_cast<decltype(QueryPointer)>(dlsym(x11, "XQueryPointer"));
    GetWindowProperty = reinterpret_cast<decltype(GetWindowProperty)>(dlsym(x11, "XGetWindowProperty"));
    Free = reinterpret_cast<decltype(Free)>(dlsym(x11, "XFree"));
    SendEvent = reinterpret_cast<decltype(SendEvent)>(dlsym(x11, "XSendEvent"));
    FakeKeyEvent = reinterpret_cast<decltype(FakeKeyEvent)>(dlsym(xtst, "XTestFakeKeyEvent"));
    FakeButtonEvent = reinterpret_cast<decltype(FakeButtonEvent)>(dlsym(xtst, "XTestFakeButtonEvent"));
    FakeMotionEvent = reinterpret_cast<decltype(FakeMotionEvent)>(dlsym(xtst, "XTestFakeMotionEvent"));
    if (!OpenDisplay || !CloseDisplay || !Flush || !KeysymToKeycode || !SetInputFocus ||
        !InternAtom || !SendEvent || !DefaultRootWindow || !QueryPointer || !GetWindowProperty || !Free ||
        !FakeKeyEvent || !FakeButtonEvent || !FakeMotionEvent)
      return false;
    display = OpenDisplay(nullptr);
    return display != nullptr;
  }
  ~TXTest() {
    if (display) CloseDisplay(display);
    if (xtst) dlclose(xtst);
    // libX11 stays loaded: SDL uses it too.
  }
  void Key(unsigned long keysym, bool down) {
    FakeKeyEvent(display, KeysymToKeycode(display, keysym), down ? 1 : 0, 0);
    Flush(display);
  }
  void Button(unsigned button, bool down) {
    FakeButtonEvent(display, button, down ? 1 : 0, 0);
    Flush(display);
  }
  // What a window manager sends when the close box is clicked.
  void RequestClose(unsigned long window) {
    struct {
      int type;
      unsigned long serial;
      int sendEvent;
      void* display;
      unsigned long window;
      unsigned long messageType;
      int format;
      long data[5];
    } msg{};
    static_assert(sizeof msg <= 192);
    alignas(long) unsigned char event[192] = {};
    msg.type = 33;  // ClientMessage
    msg.display = display;
    msg.window = window;
    msg.messageType = InternAtom(display, "WM_PROTOCOLS", 0);
    msg.format = 32;
    msg.data[0] = static_cast<long>(InternAtom(display, "WM_DELETE_WINDOW", 0));
    std::memcpy(event, &msg, sizeof msg);
    SendEvent(display, window, 0, 0, event);
    Flush(display);
  }
  // The title of the top-level window under the pointer.
  std::string TitleUnderPointer() {
    unsigned long root = 0, child = 0;
    int rx, ry, wx, wy;
    unsigned mask;
    QueryPointer(display, DefaultRootWindow(display), &root, &child, &rx, &ry, &wx, &wy, &mask);
    std::string title;
    if (!child) return title;
    unsigned long type = 0, count = 0, after = 0;
    int format = 0;
    unsigned char* data = nullptr;
    if (GetWindowProperty(display, child, InternAtom(display, "_NET_WM_NAME", 0), 0, 256, 0,
                          0 /* any type */, &type, &format, &count, &after, &data) == 0 && data) {
      title.assign(reinterpret_cast<char*>(data), count);
      Free(data);
    }
    return title;
  }
  void MoveTo(int x, int y) {
    FakeMotionEvent(display, -1, x, y, 0);
    Flush(display);
  }
};

constexpr unsigned long XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2, XK_a = 0x61,
                        XK_Return = 0xff0d, XK_Left = 0xff51;

std::vector<TEvent> g_events;
TObjectPtr Record(int, const TObjectPtr& data, const TObjectPtr&) {
  g_events.push_back(*AsEvent(data));
  g_events.back().source.reset();
  return data;
}

// Pumps until cond holds, for at most two seconds.
bool PumpUntil(const std::function<bool()>& cond) {
  uint32_t start = SDL_GetTicks();
  while (SDL_GetTicks() - start < 2000) {
    PumpSystem();
    if (cond()) return true;
    SDL_Delay(5);
  }
  return false;
}

pid_t g_server = 0;

void StopServer() {
  if (g_server > 0) {
    ::kill(g_server, SIGTERM);
    ::waitpid(g_server, nullptr, 0);
    g_server = 0;
  }
}

// Starts a private Xvfb (once per process) and points DISPLAY at it.
bool StartPrivateServer() {
  static bool started = false, ok = false;
  if (started) return ok;
  started = true;
  int fds[2];
  if (::pipe(fds) != 0) return false;
  std::string fd = std::to_string(fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::close(fds[0]);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // the server goes when the test process goes
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  g_server = pid;
  std::atexit(StopServer);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) return false;
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  ok = true;
  return ok;
}

class RealX11Input : public ::testing::Test {
protected:
  void SetUp() override {
    if (!StartPrivateServer()) ORMIX_SKIP_OR_FAIL() << "Xvfb could not be started";
    InitSystemModule();
    if (std::string(SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "") != "x11")
      ORMIX_SKIP_OR_FAIL() << "SDL is not on X11";
    if (!x_.Load()) ORMIX_SKIP_OR_FAIL() << "XTest is not available";
    window_ = SDL_CreateWindow("input", 32, 32, 200, 150, SDL_WINDOW_SHOWN);
    ASSERT_NE(window_, nullptr) << SDL_GetError();
    PumpUntil([&] { return (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) != 0; });
    SDL_RaiseWindow(window_);
    SDL_SetWindowInputFocus(window_);
    PumpUntil([&] { return SDL_GetKeyboardFocus() == window_; });
    StartInputPolling(nullptr);
    InsertHook(EventHookId(), Record, nullptr, 10);
    g_events.clear();
  }
  void TearDown() override {
    DeleteHook(EventHookId(), Record, nullptr);
    StopInputPolling();
    if (window_) SDL_DestroyWindow(window_);
  }
  size_t Count(int32_t id, int32_t data) {
    size_t n = 0;
    for (const auto& e : g_events) n += (e.id == id && e.data == data);
    return n;
  }
  TXTest x_;
  SDL_Window* window_ = nullptr;
};

TEST_F(RealX11Input, ShiftKeysLettersAndReturn) {
  if (SDL_GetKeyboardFocus() != window_) ORMIX_SKIP_OR_FAIL() << "the window did not get the focus";
  x_.Key(XK_Shift_R, true);
  x_.Key(XK_Shift_R, false);
  x_.Key(XK_Shift_L, true);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_KEYDOWN, KEY_LSHIFT) == 1; }));
  x_.Key(XK_a, true);
  x_.Key(XK_a, false);
  x_.Key(XK_Shift_L, false);
  x_.Key(XK_Return, true);
  x_.Key(XK_Return, false);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_KEYUP, KEY_RETURN) == 1; }));
  EXPECT_EQ(Count(EVENT_KEYDOWN, KEY_RSHIFT), 1u);
  EXPECT_EQ(Count(EVENT_KEYUP, KEY_RSHIFT), 1u);
  EXPECT_EQ(KeyPresses(KEY_LSHIFT), 1);
  EXPECT_EQ(KeyPresses(KEY_RSHIFT), 1);
  EXPECT_EQ(KeyPresses('A'), 1);
  EXPECT_EQ(KeyPresses(KEY_RETURN), 1);
  for (const auto& e : g_events) {
    if (e.id == EVENT_KEYDOWN && e.data == 'A') {
      EXPECT_EQ(e.mods, MODIFIER_SHIFT);
    }
    if (e.id == EVENT_KEYDOWN && e.data == KEY_RETURN) {
      EXPECT_EQ(e.mods, 0);
    }
  }
  EXPECT_EQ(NextChar(), 'A') << "shift + a types a capital letter";
  EXPECT_EQ(NextChar(), KEY_RETURN);
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(RealX11Input, AHeldKeyRepeatsButCountsOnce) {
  if (SDL_GetKeyboardFocus() != window_) ORMIX_SKIP_OR_FAIL() << "the window did not get the focus";
  x_.Key(XK_Left, true);
  // The server's auto-repeat starts after its delay (660 ms by default).
  PumpUntil([&] { return Count(EVENT_KEYREPEAT, KEY_LEFT) >= 2; });
  x_.Key(XK_Left, false);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_KEYUP, KEY_LEFT) >= 1; }));
  if (Count(EVENT_KEYREPEAT, KEY_LEFT) == 0) GTEST_SKIP() << "the X server does not auto-repeat";
  EXPECT_EQ(Count(EVENT_KEYDOWN, KEY_LEFT), 1u);
  EXPECT_EQ(KeyPresses(KEY_LEFT), 1);
}

TEST_F(RealX11Input, SwitchingAwayReleasesAHeldKey) {
  if (SDL_GetKeyboardFocus() != window_) ORMIX_SKIP_OR_FAIL() << "the window did not get the focus";
  x_.Key(XK_Left, true);
  ASSERT_TRUE(PumpUntil([&] { return KeyHeld(KEY_LEFT) == 1; }));
  x_.SetInputFocus(x_.display, 0 /* None */, 1 /* RevertToPointerRoot */, 0);
  x_.Flush(x_.display);
  ASSERT_TRUE(PumpUntil([&] { return IsSuspended() == 1; }));
  EXPECT_EQ(KeyHeld(KEY_LEFT), 0);
  x_.Key(XK_Left, false);
  SDL_SetWindowInputFocus(window_);
  ASSERT_TRUE(PumpUntil([&] { return IsSuspended() == 0; }));
  EXPECT_EQ(KeyHeld(KEY_LEFT), 0);
}

TEST_F(RealX11Input, TheCloseBoxRaisesAppTerminateAndTheWindowStays) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(window_, &info)) << SDL_GetError();
  QuitRequested();
  x_.RequestClose(info.info.x11.window);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_APPTERMINATE, 0) == 1; }));
  EXPECT_EQ(QuitRequested(), 1);
  EXPECT_NE(SDL_GetWindowFromID(SDL_GetWindowID(window_)), nullptr) << "closing is only a request";
}

TEST_F(RealX11Input, PointerButtonsAndWheelInClientCoordinates) {
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(window_, &wx, &wy);
  x_.MoveTo(wx + 50, wy + 40);
  ASSERT_TRUE(PumpUntil([&] { return PointerX() == 50 && PointerY() == 40; }));
  EXPECT_GE(Count(EVENT_MOUSEENTER, 0), 1u);
  x_.Button(1, true);
  x_.MoveTo(wx + 60, wy + 45);
  x_.Button(1, false);
  x_.Button(3, true);
  x_.Button(3, false);
  x_.Button(5, true);  // wheel towards the user
  x_.Button(5, false);
  x_.Button(5, true);
  x_.Button(5, false);
  x_.Button(4, true);
  x_.Button(4, false);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_MOUSEUP, 2) == 1 && WheelPosition() == -1; }));
  EXPECT_EQ(ButtonPresses(1), 1);
  EXPECT_EQ(ButtonPresses(2), 1);
  EXPECT_EQ(PointerX(), 60);
  EXPECT_EQ(PointerY(), 45);
  bool draggedWithLeft = false;
  for (const auto& e : g_events) {
    if (e.id == EVENT_MOUSEMOVE && e.x == 60) draggedWithLeft = e.data == 1;
    if (e.id == EVENT_MOUSEDOWN && e.data == 1) {
      EXPECT_EQ(e.x, 50);
      EXPECT_EQ(e.y, 40);
    }
    if (e.id == EVENT_MOUSEWHEEL) {
      EXPECT_EQ(e.x, 60);
      EXPECT_EQ(e.y, 45);
    }
  }
  EXPECT_TRUE(draggedWithLeft) << "motion with the left button held has data 1";
  MovePointer(10, 20);
  ASSERT_TRUE(PumpUntil([&] { return PointerX() == 10 && PointerY() == 20; }));
}

TEST_F(RealX11Input, AHiddenPointerShowsAgainOutsideTheWindow) {
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(window_, &wx, &wy);
  x_.MoveTo(wx + 600, wy + 500);  // start off the window
  PumpUntil([&] { return SDL_GetMouseFocus() == nullptr; });
  g_events.clear();
  x_.MoveTo(wx + 20, wy + 20);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_MOUSEENTER, 0) >= 1; }));
  HidePointer();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  x_.MoveTo(wx + 600, wy + 500);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_MOUSELEAVE, 0) >= 1; }));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  x_.MoveTo(wx + 30, wy + 30);
  ASSERT_TRUE(PumpUntil([&] { return Count(EVENT_MOUSEENTER, 0) >= 2; }));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  ShowPointer();
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

// A message box is modal: a helper thread answers it with a key, as a user would.
TEST_F(RealX11Input, MessageBoxesAnswerWithTheirButtons) {
  struct Case {
    int kind;  // 0 Notify, 1 Confirm, 2 Proceed
    unsigned long key;
    int expected;
  };
  constexpr unsigned long XK_Escape = 0xff1b;
  const Case cases[] = {
      {1, XK_Return, 1}, {1, XK_Escape, 0}, {2, XK_Return, 1}, {2, XK_Escape, -1}, {0, XK_Return, 0},
  };
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(window_, &wx, &wy);
  const int cx = wx + 100, cy = wy + 75;
  Startup().appTitle = u"Box Title Test";
  for (const auto& c : cases) {
    std::string boxTitle;
    std::atomic<bool> answered{false};
    // The helper uses the fixture's connection, opened before any box: the box may be
    // shown by a forked process, and a fork while another thread opens a connection
    // could copy Xlib's locks in their locked state.
    TXTest& x = x_;
    std::thread answer([&] {
      // Keep answering until the box has gone, however long it takes to come up.
      while (!answered) {
        SDL_Delay(300);
        x.SetInputFocus(x.display, 1 /* PointerRoot */, 1, 0);
        x.MoveTo(cx, cy);  // the box is centred on the window that has the focus
        SDL_Delay(20);
        if (answered) break;
        std::string title = x.TitleUnderPointer();
        if (title != "input") boxTitle = title;  // not the test's own window
        x.Key(c.key, true);
        x.Key(c.key, false);
      }
    });
    int got = 0;
    if (c.kind == 0) Notify(u"Just so you know", 0);
    if (c.kind == 1) got = Confirm(u"Really?", 1);
    if (c.kind == 2) got = Proceed(u"Save first?", 0);
    answered = true;
    answer.join();
    EXPECT_EQ(got, c.expected) << "kind " << c.kind << " key " << std::hex << c.key;
    EXPECT_EQ(boxTitle, "Box Title Test") << "captioned with the application title";
  }
}

}  // namespace
