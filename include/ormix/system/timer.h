#pragma once
// Periodic timers whose ticks run on the main thread: the platform's timer thread only
// posts each tick, and the tick fires (emitting an event) while the main thread pumps.
#include <cstdint>
#include <memory>

#include <ormix/system/event.h>

class TTimer;
using TTimerPtr = std::shared_ptr<TTimer>;

class TTimer : public std::enable_shared_from_this<TTimer> {
public:
  // Starts a timer with a period of 1000 / hertz whole milliseconds (120 Hz ticks every
  // 8 ms). event is emitted on each tick; null emits a fresh TimerTick event (source the
  // timer, data the tick count). Null when 16 timers already run or the platform fails.
  static TTimerPtr Create(double hertz, TEventPtr event = nullptr);
  ~TTimer();

  int32_t Ticks() const { return _ticks; }
  // Ticks since the previous Wait (at least 1), pumping until there is one; 0 when stopped.
  int32_t Wait();
  // Kills the platform timer; a stopped timer never runs again.
  void Stop();
  // Runs one tick (main thread).
  void Fire();
  // Platform timer id, 0 when stopped.
  int32_t Handle() const { return _handle; }

  int32_t _ticks = 0;
  int32_t _wticks = 0;
  TTimerPtr _cycle;  // the timer itself while it runs
  TEventPtr _event;
  int32_t _handle = 0;
  int32_t _period = 0;  // whole milliseconds

private:
  TTimer() = default;
};

// Plain functions over the timer operations.
TTimerPtr CreateTimer(double hertz, TEventPtr event = nullptr);
int32_t TimerTicks(const TTimerPtr& timer);
int32_t WaitTimer(const TTimerPtr& timer);
void StopTimer(const TTimerPtr& timer);
// Runs one tick of the timer now (nothing for a null or stopped timer).
void FireTimer(const TTimerPtr& timer);
// Number of running platform timers (at most 16).
int RunningTimerCount();
