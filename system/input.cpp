#include <ormix/system/input.h>

#include <array>

#include <ormix/system/system.h>
#include "pad_input.h"

namespace {

struct TInputState {
  std::array<int, 256> keyStates{};
  std::array<int, 256> keyHits{};
  std::array<int, 256> charQueue{};
  uint64_t charPut = 0;
  uint64_t charGet = 0;
  std::array<int, 4> mouseStates{};
  std::array<int, 4> mouseHits{};
  int mouseX = 0, mouseY = 0, mouseZ = 0;
  int suspended = 0;
  int terminate = 0;
  TObjectPtr source;
  bool enabled = false;
  bool autoPoll = true;
};

TInputState g_in;

void FlushKeys() {
  g_in.charPut = g_in.charGet = 0;
  g_in.keyStates.fill(0);
  g_in.keyHits.fill(0);
}

void FlushMouse() {
  g_in.mouseStates.fill(0);
  g_in.mouseHits.fill(0);
  g_in.mouseZ = 0;
}

void AutoPump() {
  if (g_in.autoPoll) PumpSystem();
}

bool ValidKey(int key) { return key >= 0 && key < 256; }
bool ValidButton(int button) { return button >= 1 && button <= 3; }

}  // namespace

TObjectPtr InputHook(int, const TObjectPtr& data, const TObjectPtr&) {
  TEvent* ev = AsEvent(data);
  if (!ev) return data;
  if (g_in.source && ev->source != g_in.source) return data;
  switch (ev->id) {
    case EVENT_APPSUSPEND:
      FlushKeys();
      FlushMouse();
      FlushPads();
      g_in.suspended = 1;
      break;
    case EVENT_APPRESUME:
      FlushKeys();
      FlushMouse();
      FlushPads();
      g_in.suspended = 0;
      break;
    case EVENT_APPTERMINATE:
      g_in.terminate = 1;
      break;
    case EVENT_KEYDOWN:
      if (ValidKey(ev->data) && !g_in.keyStates[ev->data]) {
        g_in.keyStates[ev->data] = 1;
        ++g_in.keyHits[ev->data];
      }
      break;
    case EVENT_KEYUP:
      if (ValidKey(ev->data)) g_in.keyStates[ev->data] = 0;
      break;
    case EVENT_KEYCHAR:
      if (g_in.charPut - g_in.charGet <= 255) {
        g_in.charQueue[g_in.charPut % 256] = ev->data;
        ++g_in.charPut;
      }
      break;
    case EVENT_MOUSEDOWN:
      if (ValidButton(ev->data) && !g_in.mouseStates[ev->data]) {
        g_in.mouseStates[ev->data] = 1;
        ++g_in.mouseHits[ev->data];
      }
      break;
    case EVENT_MOUSEUP:
      if (ValidButton(ev->data)) g_in.mouseStates[ev->data] = 0;
      break;
    case EVENT_MOUSEMOVE:
      g_in.mouseX = ev->x;
      g_in.mouseY = ev->y;
      break;
    case EVENT_MOUSEWHEEL:
      g_in.mouseZ += ev->data;
      break;
    default:
      PadInputEvent(*ev);
      break;
  }
  return data;
}

void StartInputPolling(const TObjectPtr& source) {
  if (g_in.enabled) return;
  g_in.source = source;
  FlushKeys();
  FlushMouse();
  FlushPads();
  InsertHook(EventHookId(), InputHook, nullptr, 0);
  g_in.enabled = true;
}

void StopInputPolling() {
  if (!g_in.enabled) return;
  DeleteHook(EventHookId(), InputHook, nullptr);
  FlushKeys();
  FlushMouse();
  FlushPads();
  g_in.source.reset();
  g_in.enabled = false;
}

bool InputPollingEnabled() { return g_in.enabled; }
void SetAutoPoll(bool on) { g_in.autoPoll = on; }
bool AutoPoll() { return g_in.autoPoll; }

int KeyPresses(int key) {
  AutoPump();
  if (!ValidKey(key)) return 0;
  int n = g_in.keyHits[key];
  g_in.keyHits[key] = 0;
  return n;
}

int KeyHeld(int key) {
  AutoPump();
  return ValidKey(key) ? g_in.keyStates[key] : 0;
}

int NextChar() {
  AutoPump();
  if (g_in.charGet == g_in.charPut) return 0;
  int c = g_in.charQueue[g_in.charGet % 256];
  ++g_in.charGet;
  return c;
}

void ClearKeys() {
  PumpSystem();
  FlushKeys();
}

int ButtonPresses(int button) {
  AutoPump();
  if (!ValidButton(button)) return 0;
  int n = g_in.mouseHits[button];
  g_in.mouseHits[button] = 0;
  return n;
}

int ButtonHeld(int button) {
  AutoPump();
  return ValidButton(button) ? g_in.mouseStates[button] : 0;
}

int PointerX() {
  AutoPump();
  return g_in.mouseX;
}

int PointerY() {
  AutoPump();
  return g_in.mouseY;
}

int WheelPosition() {
  AutoPump();
  return g_in.mouseZ;
}

void ClearMouse() {
  PumpSystem();
  FlushMouse();
}

int AwaitKey() {
  ClearKeys();
  for (;;) {
    AwaitSystem();
    for (int k = 1; k < 256; ++k) {
      if (KeyPresses(k)) return k;
    }
  }
}

int AwaitChar() {
  ClearKeys();
  for (;;) {
    AwaitSystem();
    if (int c = NextChar()) return c;
  }
}

int AwaitButton() {
  ClearMouse();
  for (;;) {
    AwaitSystem();
    for (int b = 1; b <= 3; ++b) {
      if (ButtonPresses(b)) return b;
    }
  }
}

int IsSuspended() {
  AutoPump();
  return g_in.suspended;
}

int QuitRequested() {
  AutoPump();
  int t = g_in.terminate;
  g_in.terminate = 0;
  return t;
}
