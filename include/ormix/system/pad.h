#pragma once
// Gamepads. Pads may be connected and disconnected at any time; each one that is
// connected holds a pad number 1 to PAD_MAX (the lowest free number, kept until it is
// disconnected). Every change travels the event chain as a pad event (x = the pad number):
//   PadConnect     data 0, extra the pad's name
//   PadDisconnect  data 0, extra the pad's name
//   PadDown/PadUp  data the button (PAD_A ...), extra the button's name
//   PadMove        data the axis (PAD_LEFTX ...), y the raw position -32768 ... 32767
//                  (triggers 0 ... 32767), extra the axis' name
// While input polling is enabled the input hook keeps tables of held buttons, button
// presses and axis positions, read as the keyboard's are (each reading function pumps the
// system's messages first when auto-poll is on). Pad 0 in a reading function means any pad.
#include <cstdint>
#include <memory>

#include <ormix/runtime/text.h>
#include <ormix/system/event.h>

constexpr int32_t EVENT_PADCONNECT = 0x40001;
constexpr int32_t EVENT_PADDISCONNECT = 0x40002;
constexpr int32_t EVENT_PADDOWN = 0x40003;
constexpr int32_t EVENT_PADUP = 0x40004;
constexpr int32_t EVENT_PADMOVE = 0x40005;

// Pads beyond eight connected at once wait: the first number set free goes to one of them.
constexpr int PAD_MAX = 8;
constexpr int PAD_ANY = 0;

// Buttons, named by their place on the pad (A is the bottom face button).
constexpr int PAD_A = 1;
constexpr int PAD_B = 2;
constexpr int PAD_X = 3;
constexpr int PAD_Y = 4;
constexpr int PAD_BACK = 5;
constexpr int PAD_GUIDE = 6;
constexpr int PAD_START = 7;
constexpr int PAD_LEFTSTICK = 8;
constexpr int PAD_RIGHTSTICK = 9;
constexpr int PAD_LEFTSHOULDER = 10;
constexpr int PAD_RIGHTSHOULDER = 11;
constexpr int PAD_UP = 12;  // the d-pad
constexpr int PAD_DOWN = 13;
constexpr int PAD_LEFT = 14;
constexpr int PAD_RIGHT = 15;
constexpr int PAD_MISC = 16;  // share, capture or microphone button
constexpr int PAD_PADDLE1 = 17;
constexpr int PAD_PADDLE4 = 20;
constexpr int PAD_TOUCHPAD = 21;
constexpr int PAD_BUTTONS = 22;  // table size: buttons are 1 to 21

// Axes: sticks read -1 (left, up) to 1 (right, down), triggers 0 to 1.
constexpr int PAD_LEFTX = 1;
constexpr int PAD_LEFTY = 2;
constexpr int PAD_RIGHTX = 3;
constexpr int PAD_RIGHTY = 4;
constexpr int PAD_LEFTTRIGGER = 5;
constexpr int PAD_RIGHTTRIGGER = 6;
constexpr int PAD_AXES = 7;  // table size: axes are 1 to 6

// Names as pad events carry them ("a", "start", "left", "leftx" ...); "" for a code out of
// range. The codes of names, 0 for an unknown name (case ignored).
Text PadButtonName(int button);
Text PadAxisName(int axis);
int PadButtonCode(const Text& name);
int PadAxisCode(const Text& name);

// Connected pads (asked of the system driver; no polling needed).
int PadCount();
int PadConnected(int pad);
// The pad's name, "" when it is not connected.
Text PadName(int pad);

// Down-transitions of the button since the previous call for it on that pad (or the last
// flush); pad 0 sums all pads and resets them all.
int PadPresses(int pad, int button);
// 1 while the button is held (pad 0: on any pad), else 0.
int PadHeld(int pad, int button);
// The axis position with the dead zone applied: positions nearer the rest than the dead
// zone read 0 and the rest of the travel is scaled to reach 1 again. Pad 0: the position of
// largest size over all pads.
float PadAxis(int pad, int axis);
// The dead zone, a fraction of the travel (initially 0.25; limited to 0 ... 0.95).
void SetPadDeadZone(float zone);
float PadDeadZone();
// Pumps, then clears the held buttons, presses and axis positions of every pad.
void ClearPads();
// The first pad and button pressed after a flush (waiting for system activity);
// the pad number in pad.
int AwaitPadButton(int& pad);

// Rumble: low (heavy) and high (light) motor strengths 0 to 1 for the given time; 0 stops
// it. 1 when the pad took it, 0 when it has no rumble (or is not connected). Pad 0: all.
int PadRumble(int pad, float low, float high, int milliseconds);
int PadHasRumble(int pad);

// Whether pads are read while none of the program's windows has the input focus (off by
// default: like the keyboard, a pad then drives the window in front). Scripted and test
// runs turn it on, for their input comes from the program itself.
void SetPadBackgroundInput(bool on);

// A pad made by the program: it connects like a plugged-in pad (the PadConnect event comes
// with the next pump), and its buttons and axes are set from code. It disconnects when
// detached or released. Used for tests and scripted play.
class TVirtualPad {
public:
  virtual ~TVirtualPad() = default;
  virtual void SetButton(int button, bool down) = 0;
  // value -1 ... 1 for sticks, 0 ... 1 for triggers (clamped).
  virtual void SetAxis(int axis, float value) = 0;
  virtual void Detach() = 0;
  // The latest rumble asked of the pad (0, 0 after it stopped) and the number of requests.
  virtual float RumbleLow() const = 0;
  virtual float RumbleHigh() const = 0;
  virtual int RumbleRequests() const = 0;
};
using TVirtualPadPtr = std::shared_ptr<TVirtualPad>;

// Null when the platform cannot make one.
TVirtualPadPtr AttachVirtualPad(const Text& name);
