#pragma once
// Between the SDL driver and the timers: a posted tick reaches the timer through here.
#include <cstdint>

// Fires the running timer with this platform id; a tick of a stopped timer is dropped.
void DispatchTimerTick(int32_t handle);

// The millisecond clock the tick threads keep their schedule on. Tests install a clock
// they drive (a tick thread then looks at it every millisecond of real time); null puts
// the steady system clock back. Install it before creating the timers it should drive.
using TTimerClock = uint32_t (*)();
void SetTimerClock(TTimerClock clock);
