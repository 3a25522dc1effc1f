#pragma once
// Gamepads on SDL's game controller interface: pad numbers for the controllers SDL
// reports, their events, rumble and virtual pads.
#include <SDL2/SDL.h>

#include <memory>

#include <ormix/runtime/text.h>
#include <ormix/system/pad.h>

// Starts SDL's game controller subsystem; false when the platform has none (no pads then).
bool StartSDLPads();
// Translates a controller event into pad events; false for any other event.
bool HandleSDLPadEvent(const SDL_Event& event, int mods);
int SDLPadConnected(int pad);
Text SDLPadName(int pad);
int SDLPadRumble(int pad, float low, float high, int milliseconds);
int SDLPadHasRumble(int pad);
TVirtualPadPtr AttachSDLVirtualPad(const Text& name);
