#pragma once
// The pad tables of polled input, kept by the input hook (input.cpp).
#include <ormix/system/event.h>

// Updates the tables from a pad event; false for any other kind.
bool PadInputEvent(const TEvent& event);
// Clears held buttons, presses and axis positions of every pad.
void FlushPads();
