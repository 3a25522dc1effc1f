#include <ormix/system/pad.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include <ormix/system/input.h>
#include <ormix/system/system.h>
#include "pad_input.h"

namespace {

struct TPadState {
  std::array<int, PAD_BUTTONS> held{};
  std::array<int, PAD_BUTTONS> hits{};
  std::array<int, PAD_AXES> axes{};  // raw positions
};

std::array<TPadState, PAD_MAX + 1> g_pads;  // slot 0 is not used
float g_deadZone = 0.25f;

constexpr const char16_t* kButtonNames[PAD_BUTTONS] = {
    u"",          u"a",           u"b",          u"x",       u"y",        u"back",
    u"guide",     u"start",       u"leftstick",  u"rightstick", u"leftshoulder",
    u"rightshoulder", u"up",      u"down",       u"left",    u"right",    u"misc",
    u"paddle1",   u"paddle2",     u"paddle3",    u"paddle4", u"touchpad"};
constexpr const char16_t* kAxisNames[PAD_AXES] = {u"",       u"leftx",       u"lefty",
                                                  u"rightx", u"righty",      u"lefttrigger",
                                                  u"righttrigger"};

bool ValidPad(int pad) { return pad >= 1 && pad <= PAD_MAX; }
bool ValidButton(int button) { return button >= 1 && button < PAD_BUTTONS; }
bool ValidAxis(int axis) { return axis >= 1 && axis < PAD_AXES; }

void AutoPump() {
  if (AutoPoll()) PumpSystem();
}

void FlushPad(TPadState& p) {
  p.held.fill(0);
  p.hits.fill(0);
  p.axes.fill(0);
}

// A raw position as -1 ... 1 with the dead zone cut out and the rest rescaled.
float Shaped(int raw) {
  float v = raw < 0 ? raw / 32768.0f : raw / 32767.0f;
  float size = std::fabs(v);
  if (size <= g_deadZone) return 0;
  float scaled = std::min(1.0f, (size - g_deadZone) / (1.0f - g_deadZone));
  return v < 0 ? -scaled : scaled;
}

}  // namespace

bool PadInputEvent(const TEvent& ev) {
  switch (ev.id) {
    case EVENT_PADCONNECT:
    case EVENT_PADDISCONNECT:
      // A pad number taken again starts from rest.
      if (ValidPad(ev.x)) FlushPad(g_pads[ev.x]);
      return true;
    case EVENT_PADDOWN:
      if (ValidPad(ev.x) && ValidButton(ev.data)) {
        TPadState& p = g_pads[ev.x];
        if (!p.held[ev.data]) {
          p.held[ev.data] = 1;
          ++p.hits[ev.data];
        }
      }
      return true;
    case EVENT_PADUP:
      if (ValidPad(ev.x) && ValidButton(ev.data)) g_pads[ev.x].held[ev.data] = 0;
      return true;
    case EVENT_PADMOVE:
      if (ValidPad(ev.x) && ValidAxis(ev.data)) g_pads[ev.x].axes[ev.data] = std::clamp(ev.y, -32768, 32767);
      return true;
    default:
      return false;
  }
}

void FlushPads() {
  for (TPadState& p : g_pads) FlushPad(p);
}

Text PadButtonName(int button) { return ValidButton(button) ? kButtonNames[button] : u""; }
Text PadAxisName(int axis) { return ValidAxis(axis) ? kAxisNames[axis] : u""; }

int PadButtonCode(const Text& name) {
  Text lower = ToLower(name);
  for (int b = 1; b < PAD_BUTTONS; ++b)
    if (lower == kButtonNames[b]) return b;
  return 0;
}

int PadAxisCode(const Text& name) {
  Text lower = ToLower(name);
  for (int a = 1; a < PAD_AXES; ++a)
    if (lower == kAxisNames[a]) return a;
  return 0;
}

int PadConnected(int pad) {
  TSystemDriver* d = SystemDriver();
  return d && ValidPad(pad) ? d->PadConnected(pad) : 0;
}

int PadCount() {
  int n = 0;
  for (int p = 1; p <= PAD_MAX; ++p) n += PadConnected(p);
  return n;
}

Text PadName(int pad) {
  TSystemDriver* d = SystemDriver();
  return d && ValidPad(pad) ? d->PadName(pad) : Text();
}

int PadPresses(int pad, int button) {
  AutoPump();
  if (!ValidButton(button)) return 0;
  if (pad == PAD_ANY) {
    int n = 0;
    for (int p = 1; p <= PAD_MAX; ++p) {
      n += g_pads[p].hits[button];
      g_pads[p].hits[button] = 0;
    }
    return n;
  }
  if (!ValidPad(pad)) return 0;
  int n = g_pads[pad].hits[button];
  g_pads[pad].hits[button] = 0;
  return n;
}

int PadHeld(int pad, int button) {
  AutoPump();
  if (!ValidButton(button)) return 0;
  if (pad == PAD_ANY) {
    for (int p = 1; p <= PAD_MAX; ++p)
      if (g_pads[p].held[button]) return 1;
    return 0;
  }
  return ValidPad(pad) ? g_pads[pad].held[button] : 0;
}

float PadAxis(int pad, int axis) {
  AutoPump();
  if (!ValidAxis(axis)) return 0;
  if (pad == PAD_ANY) {
    float best = 0;
    for (int p = 1; p <= PAD_MAX; ++p) {
      float v = Shaped(g_pads[p].axes[axis]);
      if (std::fabs(v) > std::fabs(best)) best = v;
    }
    return best;
  }
  return ValidPad(pad) ? Shaped(g_pads[pad].axes[axis]) : 0;
}

void SetPadDeadZone(float zone) {
  if (!(zone >= 0)) zone = 0;  // NaN too
  g_deadZone = std::min(zone, 0.95f);
}

float PadDeadZone() { return g_deadZone; }

void ClearPads() {
  PumpSystem();
  FlushPads();
}

int AwaitPadButton(int& pad) {
  ClearPads();
  for (;;) {
    AwaitSystem();
    for (int p = 1; p <= PAD_MAX; ++p) {
      for (int b = 1; b < PAD_BUTTONS; ++b) {
        if (PadPresses(p, b)) {
          pad = p;
          return b;
        }
      }
    }
  }
}

int PadRumble(int pad, float low, float high, int milliseconds) {
  TSystemDriver* d = SystemDriver();
  if (!d || (pad != PAD_ANY && !ValidPad(pad))) return 0;
  return d->PadRumble(pad, low, high, milliseconds);
}

int PadHasRumble(int pad) {
  TSystemDriver* d = SystemDriver();
  return d && ValidPad(pad) ? d->PadHasRumble(pad) : 0;
}

void SetPadBackgroundInput(bool on) {
  if (!SystemDriver()) InitSystemModule();
  if (TSystemDriver* d = SystemDriver()) d->SetPadBackgroundInput(on);
}

TVirtualPadPtr AttachVirtualPad(const Text& name) {
  if (!SystemDriver()) InitSystemModule();
  TSystemDriver* d = SystemDriver();
  return d ? d->AttachVirtualPad(name) : nullptr;
}
