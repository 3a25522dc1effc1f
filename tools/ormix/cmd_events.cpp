// ormix events [--seconds N] [--timer HZ] [--virtual-pad]: opens a window and prints every
// event that travels the event chain, as the framework sees it (key codes, characters,
// buttons, pointer position, focus and close requests, timer ticks, gamepads).
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>

#include <ormix/runtime/runtime.h>
#include <ormix/system/input.h>
#include <ormix/system/pad.h>
#include <ormix/system/sdl_system.h>
#include <ormix/system/timer.h>
#include "command.h"

namespace {

bool g_closed = false;

TObjectPtr PrintEvent(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* e = AsEvent(data);
  std::printf("%s\n", ToUtf8(e->ToString()).c_str());
  std::fflush(stdout);
  if (e->id == EVENT_APPTERMINATE) g_closed = true;
  return data;
}

// A pad made by the program: plugged in, A pressed and released, the left stick pushed
// left and back, pulled out; one step per pump.
void VirtualPadStep(TVirtualPadPtr& pad, int& step) {
  switch (step++) {
    case 0:
      SetPadBackgroundInput(true);  // it is the program's own input, focus or not
      pad = AttachVirtualPad(u"Virtual Pad");
      if (!pad) std::fprintf(stderr, "ormix: no virtual pad on this platform\n");
      break;
    case 1: if (pad) pad->SetButton(PAD_A, true); break;
    case 2: if (pad) pad->SetButton(PAD_A, false); break;
    case 3: if (pad) pad->SetAxis(PAD_LEFTX, -1); break;
    case 4: if (pad) pad->SetAxis(PAD_LEFTX, 0); break;
    case 5:
      if (pad) pad->Detach();
      pad.reset();
      break;
    default: break;
  }
}

int Events(const std::vector<std::string>& args) {
  double seconds = 0, hertz = 0;
  bool virtualPad = false;
  for (size_t i = 0; i < args.size(); ++i) {
    char* end = nullptr;
    if (args[i] == "--virtual-pad") {
      virtualPad = true;
    } else if ((args[i] == "--seconds" || args[i] == "--timer") && i + 1 < args.size()) {
      double v = std::strtod(args[i + 1].c_str(), &end);
      if (*end || v <= 0) return OrmixFail("not a positive number: " + args[i + 1]);
      (args[i] == "--seconds" ? seconds : hertz) = v;
      ++i;
    } else {
      return OrmixFail("usage: ormix events [--seconds N] [--timer HZ] [--virtual-pad]");
    }
  }
  InitSystemModule();
  SDL_Window* window = SDL_CreateWindow("ormix events", 32, 32, 320, 200, SDL_WINDOW_SHOWN);
  if (!window) return OrmixFail(std::string("cannot open a window: ") + SDL_GetError());
  TTimerPtr timer;
  if (hertz > 0 && !(timer = CreateTimer(hertz))) {
    SDL_DestroyWindow(window);
    return OrmixFail("cannot start a timer at that rate");
  }
  StartInputPolling(nullptr);
  InsertHook(EventHookId(), PrintEvent, nullptr, 100);
  uint32_t start = ElapsedMillis();
  TVirtualPadPtr pad;
  int padStep = virtualPad ? 0 : -1;
  while (!g_closed && (seconds <= 0 || ElapsedMillis() - start < seconds * 1000)) {
    if (padStep >= 0) VirtualPadStep(pad, padStep);
    PumpSystem();
    SDL_Delay(5);
  }
  DeleteHook(EventHookId(), PrintEvent, nullptr);
  StopInputPolling();
  if (timer) timer->Stop();
  SDL_DestroyWindow(window);
  return 0;
}

}  // namespace

ORMIX_COMMAND("events", "events [--seconds N] [--timer HZ] [--virtual-pad]  print every event of a window (keys, mouse, focus, close, timer ticks, gamepads)", Events);
