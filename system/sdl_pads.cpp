#include "sdl_pads.h"

#include <algorithm>
#include <array>
#include <string>

#include <ormix/system/sdl_system.h>

namespace {

struct TPadSlot {
  SDL_GameController* controller = nullptr;
  SDL_JoystickID instance = -1;
  Text name;
};

// Slot 0 is not used: pads are numbered from 1.
std::array<TPadSlot, PAD_MAX + 1> g_slots;

bool Started() { return SDL_WasInit(SDL_INIT_GAMECONTROLLER) != 0; }

bool ValidPad(int pad) { return pad >= 1 && pad <= PAD_MAX; }

int SlotOfInstance(SDL_JoystickID instance) {
  for (int p = 1; p <= PAD_MAX; ++p)
    if (g_slots[p].controller && g_slots[p].instance == instance) return p;
  return 0;
}

void Emit(int32_t id, int32_t data, int32_t mods, int pad, int32_t y, Text extra) {
  TEvent::Create(id, nullptr, data, mods, pad, y, std::move(extra))->Emit();
}

// Framework codes are SDL's plus one (0 stays "none").
int ButtonCode(int sdlButton) {
  return sdlButton >= 0 && sdlButton + 1 < PAD_BUTTONS ? sdlButton + 1 : 0;
}
int AxisCode(int sdlAxis) { return sdlAxis >= 0 && sdlAxis + 1 < PAD_AXES ? sdlAxis + 1 : 0; }

void Connect(int deviceIndex, int mods) {
  SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(deviceIndex);
  if (instance < 0 || SlotOfInstance(instance)) return;
  int pad = 1;
  while (pad <= PAD_MAX && g_slots[pad].controller) ++pad;
  if (pad > PAD_MAX) return;  // every pad number is taken
  SDL_GameController* controller = SDL_GameControllerOpen(deviceIndex);
  if (!controller) return;
  TPadSlot& slot = g_slots[pad];
  slot.controller = controller;
  slot.instance = instance;
  const char* name = SDL_GameControllerName(controller);
  slot.name = ToText(name ? name : "Gamepad");
  Emit(EVENT_PADCONNECT, 0, mods, pad, 0, slot.name);
  // What is already held when the pad arrives comes as events too: SDL only reports
  // later changes.
  for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b) {
    int code = ButtonCode(b);
    if (code && SDL_GameControllerGetButton(controller, SDL_GameControllerButton(b)))
      Emit(EVENT_PADDOWN, code, mods, pad, 0, PadButtonName(code));
  }
  for (int a = 0; a < SDL_CONTROLLER_AXIS_MAX; ++a) {
    int code = AxisCode(a);
    Sint16 v = SDL_GameControllerGetAxis(controller, SDL_GameControllerAxis(a));
    if (code && v != 0) Emit(EVENT_PADMOVE, code, mods, pad, v, PadAxisName(code));
  }
}

void Disconnect(SDL_JoystickID instance, int mods) {
  int pad = SlotOfInstance(instance);
  if (!pad) return;
  TPadSlot& slot = g_slots[pad];
  SDL_GameControllerClose(slot.controller);
  Text name = std::move(slot.name);
  slot = TPadSlot();
  Emit(EVENT_PADDISCONNECT, 0, mods, pad, 0, std::move(name));
  // A pad that found every number taken when it arrived takes the one set free.
  for (int i = 0, n = SDL_NumJoysticks(); i < n && !g_slots[pad].controller; ++i) {
    if (SDL_IsGameController(i)) Connect(i, mods);
  }
}

uint16_t Strength(float f) {
  f = std::clamp(f, 0.0f, 1.0f);
  return static_cast<uint16_t>(f * 65535.0f + 0.5f);
}

class TSDLVirtualPad : public TVirtualPad {
public:
  ~TSDLVirtualPad() override { Detach(); }

  bool Attach(const Text& name) {
    _name = ToUtf8(name);
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = _name.c_str();
    desc.userdata = this;
    desc.Rumble = &TSDLVirtualPad::OnRumble;
    int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return false;
    _instance = SDL_JoystickGetDeviceInstanceID(index);
    _joystick = SDL_JoystickOpen(index);
    if (!_joystick) {
      SDL_JoystickDetachVirtual(index);
      return false;
    }
    // Triggers rest at the low end of a virtual axis' range.
    SDL_JoystickSetVirtualAxis(_joystick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, SDL_JOYSTICK_AXIS_MIN);
    SDL_JoystickSetVirtualAxis(_joystick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, SDL_JOYSTICK_AXIS_MIN);
    return true;
  }

  void SetButton(int button, bool down) override {
    if (_joystick && button >= 1 && button < PAD_BUTTONS)
      SDL_JoystickSetVirtualButton(_joystick, button - 1, down ? SDL_PRESSED : SDL_RELEASED);
  }

  void SetAxis(int axis, float value) override {
    if (!_joystick || axis < 1 || axis >= PAD_AXES) return;
    int raw;
    if (axis == PAD_LEFTTRIGGER || axis == PAD_RIGHTTRIGGER) {
      value = std::clamp(value, 0.0f, 1.0f);
      raw = -32768 + static_cast<int>(value * 65535.0f + 0.5f);
    } else {
      value = std::clamp(value, -1.0f, 1.0f);
      raw = static_cast<int>(value * (value < 0 ? 32768.0f : 32767.0f));
    }
    SDL_JoystickSetVirtualAxis(_joystick, axis - 1, static_cast<Sint16>(std::clamp(raw, -32768, 32767)));
  }

  void Detach() override {
    if (!_joystick) return;
    SDL_JoystickClose(_joystick);
    _joystick = nullptr;
    // Device indexes move as devices come and go: find ours by its instance.
    for (int i = 0, n = SDL_NumJoysticks(); i < n; ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == _instance) {
        SDL_JoystickDetachVirtual(i);
        break;
      }
    }
  }

  float RumbleLow() const override { return _low; }
  float RumbleHigh() const override { return _high; }
  int RumbleRequests() const override { return _requests; }

private:
  static int SDLCALL OnRumble(void* userdata, Uint16 low, Uint16 high) {
    auto* self = static_cast<TSDLVirtualPad*>(userdata);
    self->_low = low / 65535.0f;
    self->_high = high / 65535.0f;
    ++self->_requests;
    return 0;
  }

  std::string _name;
  SDL_Joystick* _joystick = nullptr;
  SDL_JoystickID _instance = -1;
  float _low = 0, _high = 0;
  int _requests = 0;
};

}  // namespace

bool StartSDLPads() {
  if (Started()) return true;
  return SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

bool HandleSDLPadEvent(const SDL_Event& e, int mods) {
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED:
      Connect(e.cdevice.which, mods);
      return true;
    case SDL_CONTROLLERDEVICEREMOVED:
      Disconnect(e.cdevice.which, mods);
      return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      int pad = SlotOfInstance(e.cbutton.which);
      int code = ButtonCode(e.cbutton.button);
      if (pad && code)
        Emit(e.type == SDL_CONTROLLERBUTTONDOWN ? EVENT_PADDOWN : EVENT_PADUP, code, mods, pad, 0,
             PadButtonName(code));
      return true;
    }
    case SDL_CONTROLLERAXISMOTION: {
      int pad = SlotOfInstance(e.caxis.which);
      int code = AxisCode(e.caxis.axis);
      if (pad && code) Emit(EVENT_PADMOVE, code, mods, pad, e.caxis.value, PadAxisName(code));
      return true;
    }
    case SDL_CONTROLLERDEVICEREMAPPED:
      return true;
    default:
      return false;
  }
}

int SDLPadConnected(int pad) { return ValidPad(pad) && g_slots[pad].controller ? 1 : 0; }

Text SDLPadName(int pad) { return SDLPadConnected(pad) ? g_slots[pad].name : Text(); }

int SDLPadRumble(int pad, float low, float high, int milliseconds) {
  if (pad == PAD_ANY) {
    int any = 0;
    for (int p = 1; p <= PAD_MAX; ++p) any |= SDLPadRumble(p, low, high, milliseconds);
    return any;
  }
  if (!SDLPadConnected(pad)) return 0;
  uint32_t ms = milliseconds > 0 ? static_cast<uint32_t>(milliseconds) : 0;
  return SDL_GameControllerRumble(g_slots[pad].controller, Strength(low), Strength(high), ms) == 0
             ? 1
             : 0;
}

int SDLPadHasRumble(int pad) {
  return SDLPadConnected(pad) && SDL_GameControllerHasRumble(g_slots[pad].controller) ? 1 : 0;
}

TVirtualPadPtr AttachSDLVirtualPad(const Text& name) {
  if (!Started()) return nullptr;
  auto pad = std::make_shared<TSDLVirtualPad>();
  if (!pad->Attach(name)) return nullptr;
  return pad;
}
