// The SDL system driver, fed by events pushed into SDL's real queue.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <ormix/system/input.h>
#include <ormix/system/keycodes.h>
#include <ormix/system/sdl_system.h>

namespace {

void PushKey(bool down, SDL_Scancode sc, int repeat = 0, uint16_t mod = 0, uint32_t window = 0) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = static_cast<uint8_t>(repeat);
  e.key.windowID = window;
  e.key.keysym.scancode = sc;
  e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
  e.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void PushText(const char* utf8) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void PushWindowEvent(uint8_t what, uint32_t window = 0) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = what;
  e.window.windowID = window;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void PushMotion(int x, int y, uint32_t state, uint32_t window = 0) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = window;
  e.motion.x = x;
  e.motion.y = y;
  e.motion.state = state;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void PushButton(bool down, uint8_t button, int x, int y, uint32_t window = 0) {
  SDL_Event e{};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.windowID = window;
  e.button.button = button;
  e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.button.x = x;
  e.button.y = y;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

void PushWheel(int y, int x, int mx, int my, uint32_t direction = SDL_MOUSEWHEEL_NORMAL) {
  SDL_Event e{};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.x = x;
  e.wheel.y = y;
  e.wheel.direction = direction;
  e.wheel.mouseX = mx;
  e.wheel.mouseY = my;
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

// Records every event that travels the event chain.
struct TSeen {
  int32_t id, data, mods, x, y;
  bool operator==(const TSeen&) const = default;
};
std::vector<TSeen> g_seen;
TObjectPtr Record(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* e = AsEvent(data);
  g_seen.push_back({e->id, e->data, e->mods, e->x, e->y});
  return data;
}

std::vector<TSeen> SeenOfKind(int32_t id) {
  std::vector<TSeen> out;
  for (const auto& s : g_seen)
    if (s.id == id) out.push_back(s);
  return out;
}

class SDLDriver : public ::testing::Test {
protected:
  void SetUp() override {
    InitSystemModule();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    StartInputPolling(nullptr);
    ClearKeys();
    ClearMouse();
    InsertHook(EventHookId(), Record, nullptr, 10);
    g_seen.clear();
  }
  void TearDown() override {
    DeleteHook(EventHookId(), Record, nullptr);
    StopInputPolling();
  }
};

TEST_F(SDLDriver, ScancodesMapToVirtualKeys) {
  struct Case {
    SDL_Scancode sc;
    int vk;
  };
  const Case cases[] = {
      {SDL_SCANCODE_A, 65},       {SDL_SCANCODE_Z, 90},       {SDL_SCANCODE_X, 88},
      {SDL_SCANCODE_0, 48},       {SDL_SCANCODE_1, 49},       {SDL_SCANCODE_9, 57},
      {SDL_SCANCODE_SPACE, 32},   {SDL_SCANCODE_RETURN, 13},  {SDL_SCANCODE_KP_ENTER, 13},
      {SDL_SCANCODE_BACKSPACE, 8}, {SDL_SCANCODE_ESCAPE, 27}, {SDL_SCANCODE_TAB, 9},
      {SDL_SCANCODE_LEFT, 37},    {SDL_SCANCODE_UP, 38},      {SDL_SCANCODE_RIGHT, 39},
      {SDL_SCANCODE_DOWN, 40},    {SDL_SCANCODE_F1, 112},     {SDL_SCANCODE_F3, 114},
      {SDL_SCANCODE_F12, 123},    {SDL_SCANCODE_LSHIFT, 160}, {SDL_SCANCODE_RSHIFT, 161},
      {SDL_SCANCODE_LCTRL, 162},  {SDL_SCANCODE_RCTRL, 163},  {SDL_SCANCODE_LALT, 164},
      {SDL_SCANCODE_RALT, 165},   {SDL_SCANCODE_KP_0, 96},    {SDL_SCANCODE_KP_9, 105},
      {SDL_SCANCODE_DELETE, 46},  {SDL_SCANCODE_HOME, 36},    {SDL_SCANCODE_SEMICOLON, 186},
      {SDL_SCANCODE_UNKNOWN, 0},  {SDL_SCANCODE_KP_MEMADD, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ScancodeToVirtualKey(c.sc), c.vk) << c.sc;
}

TEST_F(SDLDriver, LeftAndRightShiftAreDifferentKeysWithShiftFlag) {
  PushKey(true, SDL_SCANCODE_LSHIFT, 0, KMOD_LSHIFT);
  PushKey(true, SDL_SCANCODE_RSHIFT, 0, KMOD_LSHIFT | KMOD_RSHIFT);
  PushKey(true, SDL_SCANCODE_A, 0, KMOD_LSHIFT | KMOD_RSHIFT);
  EXPECT_EQ(KeyHeld(KEY_LSHIFT), 1);
  EXPECT_EQ(KeyHeld(KEY_RSHIFT), 1);
  EXPECT_EQ(KeyPresses(16), 0) << "no code for shift itself";
  auto downs = SeenOfKind(EVENT_KEYDOWN);
  ASSERT_EQ(downs.size(), 3u);
  EXPECT_EQ(downs[0].data, 160);
  EXPECT_EQ(downs[1].data, 161);
  EXPECT_EQ(downs[2].mods, MODIFIER_SHIFT);
  PushKey(false, SDL_SCANCODE_LSHIFT, 0, KMOD_RSHIFT);
  PushKey(false, SDL_SCANCODE_RSHIFT, 0, 0);
  PushKey(false, SDL_SCANCODE_A, 0, 0);
  EXPECT_EQ(KeyHeld(KEY_RSHIFT), 0);
  EXPECT_EQ(g_seen.back().mods, 0);
}

TEST_F(SDLDriver, ModifierFlagsFollowTheModifierKeys) {
  PushKey(true, SDL_SCANCODE_LCTRL, 0, KMOD_LCTRL);
  PushKey(true, SDL_SCANCODE_RALT, 0, KMOD_LCTRL | KMOD_RALT);
  PushKey(true, SDL_SCANCODE_LGUI, 0, KMOD_LCTRL | KMOD_RALT | KMOD_LGUI);
  PushKey(true, SDL_SCANCODE_Q, 0, KMOD_LCTRL | KMOD_RALT | KMOD_LGUI);
  PumpSystem();
  EXPECT_EQ(g_seen.back().mods, MODIFIER_CONTROL | MODIFIER_ALT | MODIFIER_SYSTEM);
  EXPECT_EQ(g_seen.back().data, 'Q');
  PushKey(false, SDL_SCANCODE_LCTRL, 0, KMOD_RALT | KMOD_LGUI);
  PushKey(false, SDL_SCANCODE_RALT, 0, KMOD_LGUI);
  PushKey(false, SDL_SCANCODE_Q, 0, KMOD_LGUI);
  PumpSystem();
  EXPECT_EQ(g_seen.back().mods, MODIFIER_SYSTEM) << "only modifier keys recompute the flags";
  PushKey(false, SDL_SCANCODE_LGUI, 0, 0);
  PumpSystem();
  EXPECT_EQ(g_seen.back().mods, 0);
}

TEST_F(SDLDriver, AutoRepeatedKeyCountsOnceAndRaisesKeyRepeat) {
  PushKey(true, SDL_SCANCODE_LEFT);
  for (int i = 0; i < 5; ++i) PushKey(true, SDL_SCANCODE_LEFT, 1);
  EXPECT_EQ(KeyPresses(KEY_LEFT), 1);
  EXPECT_EQ(SeenOfKind(EVENT_KEYDOWN).size(), 1u);
  EXPECT_EQ(SeenOfKind(EVENT_KEYREPEAT).size(), 5u);
  PushKey(false, SDL_SCANCODE_LEFT);
  EXPECT_EQ(KeyHeld(KEY_LEFT), 0);
}

TEST_F(SDLDriver, KeysWithoutAVirtualKeyRaiseNothing) {
  PushKey(true, SDL_SCANCODE_KP_MEMADD);
  PushKey(false, SDL_SCANCODE_KP_MEMADD);
  PumpSystem();
  EXPECT_TRUE(g_seen.empty());
}

TEST_F(SDLDriver, TextInputQueuesOneCharacterPerCodePoint) {
  PushText("Hi\xC3\xA9\xE2\x82\xAC");  // H, i, e-acute, euro sign
  EXPECT_EQ(NextChar(), 'H');
  EXPECT_EQ(NextChar(), 'i');
  EXPECT_EQ(NextChar(), 0xE9);
  EXPECT_EQ(NextChar(), 0x20AC);
  EXPECT_EQ(NextChar(), 0);
}

// Text holds 16-bit codes: a character beyond them arrives as its surrogate pair, high
// half first, the way the text itself stores it.
TEST_F(SDLDriver, TextInputBeyondSixteenBitsArrivesAsASurrogatePair) {
  struct Case {
    const char* utf8;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},              // U+1F600, an emoji
      {"a\xF0\x90\x80\x80z", {'a', 0xD800, 0xDC00, 'z'}},  // U+10000, the first beyond
      {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},              // U+10FFFF, the last
      {"\xEF\xBF\xBD", {0xFFFD}},                           // the last of 16 bits stays one
  };
  for (const Case& c : cases) {
    PushText(c.utf8);
    std::vector<int> got;
    for (int ch; (ch = NextChar()) != 0;) got.push_back(ch);
    EXPECT_EQ(got, c.codes) << c.utf8;
  }
}

// Malformed UTF-8 gives U+FFFD for each piece that cannot become a character; the byte that
// broke a sequence starts the next one.
TEST_F(SDLDriver, MalformedTextInputGivesReplacementCharacters) {
  struct Case {
    const char* utf8;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"\xC3(", {0xFFFD, '('}},                        // cut short by the next character
      {"\xC0\xAF", {0xFFFD, 0xFFFD}},                  // an overlong '/' is no '/'
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},       // an encoded surrogate
      {"a\xE2\x82", {'a', 0xFFFD}},                    // cut short by the end
  };
  for (const Case& c : cases) {
    PushText(c.utf8);
    std::vector<int> got;
    for (int ch; (ch = NextChar()) != 0;) got.push_back(ch);
    EXPECT_EQ(got, c.codes) << c.utf8;
  }
}

// Control with a letter types the control code 1 to 26, as text input does not.
TEST_F(SDLDriver, ControlWithALetterTypesItsControlCode) {
  struct Case {
    SDL_Scancode sc;
    uint16_t mod;
    int code;  // 0: nothing typed
  };
  const Case cases[] = {
      {SDL_SCANCODE_A, KMOD_LCTRL, 1},
      {SDL_SCANCODE_C, KMOD_RCTRL, 3},
      {SDL_SCANCODE_Z, KMOD_LCTRL, 26},
      {SDL_SCANCODE_M, KMOD_LCTRL | KMOD_LSHIFT, 13},
      {SDL_SCANCODE_A, 0, 0},                         // the letter itself comes from text input
      {SDL_SCANCODE_A, KMOD_LCTRL | KMOD_LALT, 0},    // AltGr combinations type through text input
      {SDL_SCANCODE_1, KMOD_LCTRL, 0},                // not a letter
  };
  for (const Case& c : cases) {
    PushKey(true, c.sc, 0, c.mod);
    PushKey(false, c.sc, 0, c.mod);
    EXPECT_EQ(NextChar(), c.code) << SDL_GetScancodeName(c.sc) << " mod " << c.mod;
    EXPECT_EQ(NextChar(), 0);
  }
  // Held down, the repeats type it again.
  PushKey(true, SDL_SCANCODE_B, 0, KMOD_LCTRL);
  PushKey(true, SDL_SCANCODE_B, 1, KMOD_LCTRL);
  EXPECT_EQ(NextChar(), 2);
  EXPECT_EQ(NextChar(), 2);
  PushKey(false, SDL_SCANCODE_B, 0, KMOD_LCTRL);
}

TEST_F(SDLDriver, ControlKeysTypeTheirCharacters) {
  PushKey(true, SDL_SCANCODE_BACKSPACE);
  PushKey(true, SDL_SCANCODE_RETURN);
  PushKey(true, SDL_SCANCODE_RETURN, 1);
  PushKey(true, SDL_SCANCODE_A);  // letters come from text input, not from the key
  EXPECT_EQ(NextChar(), 8);
  EXPECT_EQ(NextChar(), 13);
  EXPECT_EQ(NextChar(), 13);
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(SDLDriver, The257thPendingTypedCharacterIsLost) {
  // Text input events carry at most 31 bytes: push 257 characters in pieces.
  std::string all;
  for (int i = 0; i < 257; ++i) all += static_cast<char>('a' + i % 26);
  for (size_t i = 0; i < all.size(); i += 20) PushText(all.substr(i, 20).c_str());
  for (int i = 0; i < 256; ++i) ASSERT_EQ(NextChar(), 'a' + i % 26) << i;
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(SDLDriver, FocusLossReleasesHeldKeysAndSuspends) {
  PushKey(true, SDL_SCANCODE_RIGHT);
  PushButton(true, SDL_BUTTON_LEFT, 5, 5);
  EXPECT_EQ(KeyHeld(KEY_RIGHT), 1);
  PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
  EXPECT_EQ(KeyHeld(KEY_RIGHT), 0);
  EXPECT_EQ(ButtonHeld(1), 0);
  EXPECT_EQ(IsSuspended(), 1);
  PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
  EXPECT_EQ(IsSuspended(), 0);
  EXPECT_EQ(SeenOfKind(EVENT_APPSUSPEND).size(), 1u);
  EXPECT_EQ(SeenOfKind(EVENT_APPRESUME).size(), 1u);
}

TEST_F(SDLDriver, CloseBoxRaisesAppTerminate) {
  PushWindowEvent(SDL_WINDOWEVENT_CLOSE);
  EXPECT_EQ(QuitRequested(), 1);
  EXPECT_EQ(QuitRequested(), 0);
}

TEST_F(SDLDriver, MouseButtonsMotionAndWheel) {
  PushMotion(10, 20, 0, 7);
  PushButton(true, SDL_BUTTON_RIGHT, 11, 21, 7);
  PushButton(true, SDL_BUTTON_MIDDLE, 11, 21, 7);
  PushButton(true, SDL_BUTTON_X1, 11, 21, 7);  // not one of the three buttons
  EXPECT_EQ(ButtonPresses(2), 1);
  EXPECT_EQ(ButtonPresses(3), 1);
  EXPECT_EQ(ButtonPresses(1), 0);
  auto downs = SeenOfKind(EVENT_MOUSEDOWN);
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[0], (TSeen{EVENT_MOUSEDOWN, 2, 0, 11, 21}));
  PushButton(false, SDL_BUTTON_RIGHT, 12, 22, 7);
  PushButton(false, SDL_BUTTON_MIDDLE, 12, 22, 7);
  EXPECT_EQ(ButtonHeld(2), 0);
  EXPECT_EQ(SeenOfKind(EVENT_MOUSEUP).size(), 2u);

  PushWheel(-1, 0, 30, 40);
  PushWheel(1, 0, 30, 40, SDL_MOUSEWHEEL_FLIPPED);
  PushWheel(0, 1, 30, 40);  // sideways scrolling is not a wheel notch
  EXPECT_EQ(WheelPosition(), -2);
  auto wheels = SeenOfKind(EVENT_MOUSEWHEEL);
  ASSERT_EQ(wheels.size(), 2u);
  EXPECT_EQ(wheels[0], (TSeen{EVENT_MOUSEWHEEL, -1, 0, 30, 40}));
  ClearMouse();
  EXPECT_EQ(WheelPosition(), 0);
  EXPECT_EQ(PointerX(), 10);
  EXPECT_EQ(PointerY(), 20);
}

TEST_F(SDLDriver, MotionDataNamesTheHeldButton) {
  struct Case {
    uint32_t state;
    int data;
  };
  const Case cases[] = {
      {0, 0},
      {SDL_BUTTON_LMASK, 1},
      {SDL_BUTTON_MMASK, 4},
      {SDL_BUTTON_RMASK, 2},
      {SDL_BUTTON_LMASK | SDL_BUTTON_MMASK, 4},
      {SDL_BUTTON_LMASK | SDL_BUTTON_RMASK, 2},
      {SDL_BUTTON_MMASK | SDL_BUTTON_RMASK, 2},
  };
  for (const auto& c : cases) PushMotion(3, 4, c.state, 9);
  PumpSystem();
  auto moves = SeenOfKind(EVENT_MOUSEMOVE);
  ASSERT_EQ(moves.size(), std::size(cases));
  for (size_t i = 0; i < moves.size(); ++i) EXPECT_EQ(moves[i].data, cases[i].data) << i;
}

TEST_F(SDLDriver, PointerMovingBetweenWindowsLeavesAndEnters) {
  PushWindowEvent(SDL_WINDOWEVENT_LEAVE, 5);
  PushMotion(0, 0, 0, 5);
  PushWindowEvent(SDL_WINDOWEVENT_LEAVE, 5);  // start outside every window
  PumpSystem();
  g_seen.clear();
  PushMotion(1, 2, 0, 5);
  PushMotion(3, 4, 0, 5);
  PushMotion(7, 8, 0, 6);
  PushWindowEvent(SDL_WINDOWEVENT_LEAVE, 6);
  PumpSystem();
  std::vector<int32_t> kinds;
  for (const auto& s : g_seen) kinds.push_back(s.id);
  EXPECT_EQ(kinds, (std::vector<int32_t>{EVENT_MOUSEENTER, EVENT_MOUSEMOVE, EVENT_MOUSEMOVE,
                                         EVENT_MOUSELEAVE, EVENT_MOUSEENTER, EVENT_MOUSEMOVE,
                                         EVENT_MOUSELEAVE}));
  EXPECT_EQ(SeenOfKind(EVENT_MOUSELEAVE)[0], (TSeen{EVENT_MOUSELEAVE, 0, 0, 3, 4}));
  EXPECT_EQ(SeenOfKind(EVENT_MOUSEENTER)[1], (TSeen{EVENT_MOUSEENTER, 0, 0, 7, 8}));
}

TEST_F(SDLDriver, ReadingInputPumpsPendingEventsFirst) {
  PushKey(true, SDL_SCANCODE_SPACE);
  EXPECT_EQ(KeyPresses(KEY_SPACE), 1);
}

TEST_F(SDLDriver, CallsPostedFromOtherThreadsRunOnTheMainThreadWhilePumping) {
  std::atomic<int> ran{0};
  std::thread::id mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::thread poster([&] {
    for (int i = 0; i < 10; ++i) PostToMainThread([&] { ++ran; ranOn = std::this_thread::get_id(); });
  });
  poster.join();
  EXPECT_EQ(ran.load(), 0) << "nothing runs before the main thread pumps";
  PumpSystem();
  EXPECT_EQ(ran.load(), 10);
  EXPECT_EQ(ranOn, mainId);
}

TEST_F(SDLDriver, AwaitSystemBlocksUntilSomethingArrives) {
  std::thread poster([] {
    SDL_Delay(50);
    PostToMainThread([] { TEvent::Create(EVENT_KEYDOWN, nullptr, KEY_F2)->Emit(); });
  });
  AwaitSystem();
  poster.join();
  EXPECT_EQ(KeyPresses(KEY_F2), 1);
}

TEST_F(SDLDriver, AwaitFunctionsBlockUntilInputArrives) {
  // Input that was pending before the call is flushed first; only new input counts.
  auto later = [](std::function<void()> f) {
    return std::thread([f] {
      SDL_Delay(30);
      PostToMainThread(f);
    });
  };
  PushKey(true, SDL_SCANCODE_Q);
  std::thread t1 = later([] { PushKey(true, SDL_SCANCODE_X); PushKey(true, SDL_SCANCODE_C); });
  EXPECT_EQ(AwaitKey(), 'C') << "codes are checked in ascending order";
  t1.join();
  PushText("p");
  std::thread t2 = later([] { PushText("k"); });
  EXPECT_EQ(AwaitChar(), 'k');
  t2.join();
  PushButton(true, SDL_BUTTON_LEFT, 1, 1);
  std::thread t3 = later([] { PushButton(true, SDL_BUTTON_MIDDLE, 1, 1); });
  EXPECT_EQ(AwaitButton(), 3);
  t3.join();
}

int g_nested = 0;
TObjectPtr PumpsAgain(int, const TObjectPtr& data, const TObjectPtr&) {
  ++g_nested;
  PumpSystem();  // the re-entry guard makes this do nothing
  AwaitSystem();
  return data;
}

TEST_F(SDLDriver, PumpingFromInsideAHookDoesNotRecurse) {
  InsertHook(EventHookId(), PumpsAgain, nullptr, 20);
  PushKey(true, SDL_SCANCODE_A);
  PushKey(true, SDL_SCANCODE_B);
  PumpSystem();
  DeleteHook(EventHookId(), PumpsAgain, nullptr);
  EXPECT_EQ(g_nested, 2);
  EXPECT_EQ(SeenOfKind(EVENT_KEYDOWN).size(), 2u) << "both events handled in order";
  EXPECT_EQ(g_seen[0].data, 'A');
}

TEST_F(SDLDriver, WindowProceduresSeeTheirWindowsEventsAfterTheFramework) {
  std::vector<uint8_t> got;
  size_t seenBefore = 0;
  SetSDLWindowProc(42, [&](const SDL_Event& e) {
    if (e.type == SDL_WINDOWEVENT) got.push_back(e.window.event);
    seenBefore = g_seen.size();
  });
  PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST, 42);
  PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED, 43);  // another window
  PushWindowEvent(SDL_WINDOWEVENT_CLOSE, 42);
  PumpSystem();
  EXPECT_EQ(got, (std::vector<uint8_t>{SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_CLOSE}));
  EXPECT_EQ(seenBefore, 3u) << "the AppTerminate was emitted before the procedure ran";
  ClearSDLWindowProc(42);
  PushWindowEvent(SDL_WINDOWEVENT_CLOSE, 42);
  PumpSystem();
  EXPECT_EQ(got.size(), 2u);
}

TEST_F(SDLDriver, AnExceptionFromAWindowProcedureLeavesThePumpUsable) {
  SetSDLWindowProc(50, [](const SDL_Event&) { throw std::runtime_error("display mode"); });
  PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED, 50);
  EXPECT_THROW(PumpSystem(), std::runtime_error);
  ClearSDLWindowProc(50);
  PushKey(true, SDL_SCANCODE_C);
  EXPECT_EQ(KeyPresses('C'), 1) << "the re-entry guard was released";
}

// A real window under the X server: its events reach the pump and its procedure.
TEST(SDLWindow, RealWindowDeliversItsEvents) {
  InitSystemModule();
  if (!SDL_WasInit(SDL_INIT_VIDEO)) ORMIX_SKIP_OR_FAIL() << "no display (run under xvfb-run)";
  SDL_Window* w = SDL_CreateWindow("system test", 32, 32, 160, 120, SDL_WINDOW_SHOWN);
  ASSERT_NE(w, nullptr) << SDL_GetError();
  uint32_t id = SDL_GetWindowID(w);
  int closes = 0;
  SetSDLWindowProc(id, [&](const SDL_Event& e) {
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) ++closes;
  });
  StartInputPolling(nullptr);
  PumpSystem();
  QuitRequested();
  // What the window manager sends for the close box.
  PushWindowEvent(SDL_WINDOWEVENT_CLOSE, id);
  EXPECT_EQ(QuitRequested(), 1);
  EXPECT_EQ(closes, 1);
  MovePointer(40, 30);
  HidePointer();
  ShowPointer();
  PumpSystem();
  ClearSDLWindowProc(id);
  StopInputPolling();
  SDL_DestroyWindow(w);
}

}  // namespace
