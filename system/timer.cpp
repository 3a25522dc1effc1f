#include <ormix/system/timer.h>

#include <SDL2/SDL.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform_timer.h"
#include <ormix/system/sdl_system.h>
#include <ormix/system/system.h>

namespace {

constexpr int kMaxTimers = 16;

// The platform side of a running timer: a thread that sleeps to each tick on an absolute
// schedule (no drift) and posts the tick to the main thread. Ticks that are due but not
// yet delivered are counted, and only the first of them posts an event: a main thread
// that stops pumping for a while gets every tick later without the queue filling up
// with ticks (which would crowd out the window's own events).
struct TPlatformTimer {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::atomic<int32_t> due{0};
  std::atomic<bool> posted{false};
  std::thread thread;
};

struct TEntry {
  int32_t handle = 0;
  TTimer* timer = nullptr;
  std::unique_ptr<TPlatformTimer> platform;
};

std::array<TEntry, kMaxTimers> g_table;
int g_count = 0;
int32_t g_nextHandle = 0;

std::atomic<TTimerClock> g_clock{nullptr};

uint32_t SteadyMillis() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TickLoop(TPlatformTimer* p, int32_t handle, int periodMs, uint32_t eventType) {
  const TTimerClock driven = g_clock.load();
  const TTimerClock now = driven ? driven : SteadyMillis;
  uint32_t next = now();
  std::unique_lock<std::mutex> lock(p->mutex);
  for (;;) {
    // An absolute schedule: a late wake-up does not move the ticks after it.
    next += static_cast<uint32_t>(periodMs);
    for (int32_t wait; (wait = static_cast<int32_t>(next - now())) > 0;) {
      const auto step = std::chrono::milliseconds(driven ? 1 : wait);
      if (p->wake.wait_for(lock, step, [p] { return p->stop; })) return;
    }
    if (p->stop) return;
    p->due.fetch_add(1);
    if (!p->posted.exchange(true)) {
      SDL_Event e{};
      e.type = eventType;
      e.user.code = handle;
      if (SDL_PushEvent(&e) != 1) p->posted = false;  // queue full: post with the next tick
    }
  }
}

// At program exit every running timer is stopped, so that no tick thread outlives the
// table it belongs to (a running std::thread being destroyed would abort the program).
void StopAllTimers() {
  while (g_count > 0) g_table[g_count - 1].timer->Stop();
}

}  // namespace

void DispatchTimerTick(int32_t handle) {
  for (int i = 0; i < g_count; ++i) {
    if (g_table[i].handle == handle) {
      TTimerPtr timer = g_table[i].timer->shared_from_this();
      TPlatformTimer* p = g_table[i].platform.get();
      p->posted = false;  // before taking the count, so that no later tick goes unposted
      int32_t n = p->due.exchange(0);
      // One Fire per tick; a hook that stops the timer makes the rest do nothing.
      for (int32_t k = 0; k < n; ++k) timer->Fire();
      return;
    }
  }
}

int RunningTimerCount() { return g_count; }

void SetTimerClock(TTimerClock clock) { g_clock.store(clock); }

TTimerPtr TTimer::Create(double hertz, TEventPtr event) {
  InitSystemModule();
  if (!(hertz > 0) || !std::isfinite(hertz)) return nullptr;
  double ms = std::floor(1000.0 / hertz);
  // A period under 1 ms is refused, as the platform's periodic timers are.
  if (ms < 1 || ms > 0x7FFFFFFF) return nullptr;
  if (g_count >= kMaxTimers) return nullptr;

  static bool exitHooked = false;
  if (!exitHooked) {
    exitHooked = true;
    std::atexit(StopAllTimers);
  }
  TTimerPtr t(new TTimer());
  t->_period = static_cast<int32_t>(ms);
  int32_t handle = ++g_nextHandle;
  if (handle <= 0) handle = g_nextHandle = 1;
  auto platform = std::make_unique<TPlatformTimer>();
  try {
    platform->thread = std::thread(TickLoop, platform.get(), handle, t->_period, SDLTimerTickEvent());
  } catch (const std::system_error&) {
    return nullptr;
  }
  TEntry& entry = g_table[g_count++];
  entry.handle = handle;
  entry.timer = t.get();
  entry.platform = std::move(platform);
  t->_cycle = t;
  t->_event = std::move(event);
  t->_handle = handle;
  return t;
}

TTimer::~TTimer() { Stop(); }

void TTimer::Fire() {
  if (_handle == 0) return;
  TTimerPtr self = shared_from_this();  // a hook may stop (and release) the timer
  ++_ticks;
  if (!_event) {
    TEvent::Create(EVENT_TIMERTICK, self, _ticks, 0, 0, 0)->Emit();
  } else {
    TEventPtr ev = _event;
    ev->Emit();
  }
}

int32_t TTimer::Wait() {
  if (_handle == 0) return 0;
  TTimerPtr self = shared_from_this();
  // Stopping the timer from a hook while waiting ends the wait instead of blocking forever.
  while (_ticks == _wticks && _handle != 0) AwaitSystem();
  int32_t n = _ticks - _wticks;
  _wticks = _ticks;
  return n;
}

void TTimer::Stop() {
  if (_handle == 0) return;
  for (int i = 0; i < g_count; ++i) {
    if (g_table[i].handle != _handle) continue;
    std::unique_ptr<TPlatformTimer> p = std::move(g_table[i].platform);
    {
      std::lock_guard<std::mutex> lock(p->mutex);
      p->stop = true;
    }
    p->wake.notify_all();
    if (p->thread.joinable()) p->thread.join();
    // The last entry takes the freed place.
    --g_count;
    if (i != g_count) g_table[i] = std::move(g_table[g_count]);
    g_table[g_count] = TEntry{};
    break;
  }
  _handle = 0;
  _event.reset();
  TTimerPtr keep = std::move(_cycle);  // released when this function returns
}

TTimerPtr CreateTimer(double hertz, TEventPtr event) { return TTimer::Create(hertz, std::move(event)); }
int32_t TimerTicks(const TTimerPtr& timer) { return timer ? timer->Ticks() : 0; }
int32_t WaitTimer(const TTimerPtr& timer) { return timer ? timer->Wait() : 0; }
void FireTimer(const TTimerPtr& timer) {
  if (timer) timer->Fire();
}

void StopTimer(const TTimerPtr& timer) {
  if (timer) timer->Stop();
}
