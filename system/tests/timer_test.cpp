#include <ormix/system/timer.h>

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include <ormix/system/sdl_system.h>
#include <ormix/system/system.h>

#include "system/platform_timer.h"

namespace {

struct TTick {
  int32_t id, data;
  void* source;  // not owned, so that the record keeps no timer alive
};
std::vector<TTick> g_ticks;
TObjectPtr RecordTicks(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* e = AsEvent(data);
  if (e->id == EVENT_TIMERTICK || e->id < 0) g_ticks.push_back({e->id, e->data, e->source.get()});
  return data;
}

class Timers : public ::testing::Test {
protected:
  void SetUp() override {
    InitSystemModule();
    InsertHook(EventHookId(), RecordTicks);
    g_ticks.clear();
  }
  void TearDown() override { DeleteHook(EventHookId(), RecordTicks); }
};

TEST_F(Timers, PeriodIsTruncatedToWholeMilliseconds) {
  struct Case {
    double hertz;
    int period;
  };
  const Case cases[] = {{120, 8}, {60, 16}, {1000, 1}, {3, 333}, {0.5, 2000}};
  for (const auto& c : cases) {
    TTimerPtr t = CreateTimer(c.hertz);
    ASSERT_TRUE(t) << c.hertz;
    EXPECT_EQ(t->_period, c.period) << c.hertz;
    t->Stop();
  }
  EXPECT_FALSE(CreateTimer(0));
  EXPECT_FALSE(CreateTimer(-5));
  EXPECT_FALSE(CreateTimer(2000)) << "a period under one millisecond";
}

TEST_F(Timers, TicksArriveOnlyWhileTheMainThreadPumps) {
  TTimerPtr t = CreateTimer(200);  // 5 ms
  ASSERT_TRUE(t);
  SDL_Delay(60);
  EXPECT_EQ(t->Ticks(), 0) << "nothing fires without pumping";
  EXPECT_TRUE(g_ticks.empty());
  PumpSystem();
  int n = t->Ticks();
  EXPECT_GE(n, 3) << "the waiting ticks fire one by one when pumped";
  ASSERT_EQ(g_ticks.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(g_ticks[i].data, i + 1);
    EXPECT_EQ(g_ticks[i].source, t.get());
  }
  t->Stop();
}

TEST_F(Timers, WaitAfterThreeUnobservedTicksReturnsThree) {
  TTimerPtr t = CreateTimer(10);  // 100 ms
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Wait(), 1) << "Wait blocks until the first tick";
  // Ticks fired by plain pumping are not observed by Wait.
  while (t->Ticks() < 4) {
    PumpSystem();
    SDL_Delay(2);
  }
  EXPECT_EQ(t->Wait(), 3) << "at once: a fifth tick would have made it 4";
  t->Stop();
  t->Stop();  // a second stop does nothing
  EXPECT_EQ(t->Wait(), 0) << "a stopped timer does not block";
}

TEST_F(Timers, TicksWaitingForTheMainThreadDoNotFillTheEventQueue) {
  TTimerPtr t = CreateTimer(1000);  // 1 ms
  ASSERT_TRUE(t);
  SDL_Delay(300);
  uint32_t tick = SDLTimerTickEvent();
  EXPECT_LE(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, tick, tick), 1);
  PumpSystem();
  EXPECT_GE(t->Ticks(), 250) << "every waiting tick still fires";
  EXPECT_EQ(g_ticks.size(), static_cast<size_t>(t->Ticks()));
  t->Stop();
}

TEST_F(Timers, AStoredEventIsEmittedOnEachTick) {
  int32_t kind = TEvent::AllocUserId();
  TEventPtr ev = TEvent::Create(kind, nullptr, 77);
  TTimerPtr t = CreateTimer(500, ev);
  ASSERT_TRUE(t);
  t->Fire();
  t->Fire();
  ASSERT_EQ(g_ticks.size(), 2u);
  EXPECT_EQ(g_ticks[0].id, kind);
  EXPECT_EQ(g_ticks[1].data, 77);
  t->Stop();
}

// The plain function runs one tick like the method; a null or stopped timer does nothing.
TEST_F(Timers, FireTimerRunsOneTick) {
  TTimerPtr t = CreateTimer(1);  // 1 s: no platform tick arrives during the test
  ASSERT_TRUE(t);
  FireTimer(t);
  FireTimer(t);
  EXPECT_EQ(TimerTicks(t), 2);
  ASSERT_EQ(g_ticks.size(), 2u);
  EXPECT_EQ(g_ticks[0].id, EVENT_TIMERTICK);
  EXPECT_EQ(g_ticks[1].data, 2);
  EXPECT_EQ(g_ticks[1].source, t.get());
  FireTimer(nullptr);
  StopTimer(t);
  FireTimer(t);
  EXPECT_EQ(TimerTicks(t), 2);
  EXPECT_EQ(g_ticks.size(), 2u);
}

TEST_F(Timers, StoppedTimersDropTheirTicksAndAreReleased) {
  TTimerPtr t = CreateTimer(500);  // 2 ms
  ASSERT_TRUE(t);
  std::weak_ptr<TTimer> weak = t;
  SDL_Delay(20);  // ticks are queued but not delivered
  t->Stop();
  t->Stop();  // a second stop does nothing
  EXPECT_EQ(t->Handle(), 0);
  PumpSystem();
  EXPECT_EQ(t->Ticks(), 0) << "queued ticks of a stopped timer are dropped";
  t->Fire();
  EXPECT_EQ(t->Ticks(), 0);
  t.reset();
  EXPECT_TRUE(weak.expired());
}

TEST_F(Timers, ARunningTimerKeepsItselfAlive) {
  std::weak_ptr<TTimer> weak;
  {
    TTimerPtr t = CreateTimer(100);
    ASSERT_TRUE(t);
    weak = t;
  }
  ASSERT_FALSE(weak.expired());
  weak.lock()->Stop();
  EXPECT_TRUE(weak.expired());
}

TEST_F(Timers, AtMostSixteenRunAtOnce) {
  std::vector<TTimerPtr> running;
  for (int i = 0; i < 16; ++i) {
    running.push_back(CreateTimer(10));
    ASSERT_TRUE(running.back()) << i;
  }
  EXPECT_EQ(RunningTimerCount(), 16);
  EXPECT_FALSE(CreateTimer(10));
  // Stopping one in the middle frees a place; the others keep ticking.
  running[3]->Stop();
  TTimerPtr again = CreateTimer(10);
  EXPECT_TRUE(again);
  again->Stop();
  for (auto& t : running) t->Stop();
  EXPECT_EQ(RunningTimerCount(), 0);
}

TEST_F(Timers, ATimerStoppedByItsOwnTickHookEndsCleanly) {
  static TTimer* target;
  TTimerPtr t = CreateTimer(200);
  ASSERT_TRUE(t);
  target = t.get();
  std::weak_ptr<TTimer> weak = t;
  auto stopper = [](int, const TObjectPtr& data, const TObjectPtr&) -> TObjectPtr {
    if (AsEvent(data)->source.get() == target) target->Stop();
    return data;
  };
  InsertHook(EventHookId(), stopper);
  t.reset();  // only the timer's own reference keeps it
  SDL_Delay(20);  // several ticks fall due
  for (int i = 0; i < 1000 && !weak.expired(); ++i) {
    PumpSystem();
    SDL_Delay(2);
  }
  DeleteHook(EventHookId(), stopper);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(g_ticks.size(), 1u) << "ticks queued behind the stopping one are dropped";
}

// A clock the test moves: the tick thread reads it instead of real time.
std::atomic<uint32_t> g_now{5000};
uint32_t DrivenNow() { return g_now.load(); }

// Pumps until the timer has fired `want` ticks in all, then a little longer to see that no
// more arrive; returns the count.
int TicksSettledAt(const TTimerPtr& t, int want) {
  for (int i = 0; i < 2000 && t->Ticks() < want; ++i) {
    PumpSystem();
    SDL_Delay(1);
  }
  for (int i = 0; i < 20; ++i) {
    PumpSystem();
    SDL_Delay(1);
  }
  return t->Ticks();
}

TEST_F(Timers, A120HertzTimerKeepsToItsScheduleOf125TicksASecond) {
  SetTimerClock(DrivenNow);
  TTimerPtr t = CreateTimer(120);
  ASSERT_TRUE(t);
  SDL_Delay(5);  // the tick thread has read the start of its schedule
  EXPECT_EQ(TicksSettledAt(t, 1), 0) << "no tick before the first 8 ms have passed";
  g_now += 7;
  EXPECT_EQ(TicksSettledAt(t, 1), 0);
  g_now += 1;
  EXPECT_EQ(TicksSettledAt(t, 1), 1);
  // A second in steps of one millisecond: one tick every 8 ms.
  for (int ms = 8; ms < 1000; ++ms) {
    g_now += 1;
    if (ms % 100 == 0) PumpSystem();
  }
  EXPECT_EQ(TicksSettledAt(t, 125), 125);
  // A thread woken late makes up every tick that fell due, on the same schedule.
  g_now += 83;
  EXPECT_EQ(TicksSettledAt(t, 135), 135);
  g_now += 5;
  EXPECT_EQ(TicksSettledAt(t, 136), 136);
  t->Stop();
  SetTimerClock(nullptr);
}

TEST(TimersAtExit, ARunningTimerDoesNotStopTheProgramFromEndingCleanly) {
  EXPECT_EXIT(
      {
        InitSystemModule();
        TTimerPtr t = CreateTimer(120);
        if (!t) std::exit(3);
        t.reset();  // only the timer itself holds it now
        SDL_Delay(20);
        PumpSystem();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
