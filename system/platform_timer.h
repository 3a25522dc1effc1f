#pragma once
// Between the SDL driver and the timers: a posted tick reaches the timer through here.
#include <cstdint>

// Fires the running timer with this platform id; a tick of a stopped timer is dropped.
void DispatchTimerTick(int32_t handle);
