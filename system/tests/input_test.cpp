// Polled input driven by emitting events directly along the event chain.
#include <ormix/system/input.h>

#include <gtest/gtest.h>

#include <ormix/system/keycodes.h>
#include <ormix/system/system.h>

namespace {

void Emit(int32_t id, int32_t data = 0, int32_t x = 0, int32_t y = 0, TObjectPtr source = nullptr) {
  TEvent::Create(id, std::move(source), data, 0, x, y)->Emit();
}

class PolledInput : public ::testing::Test {
protected:
  void SetUp() override {
    InitSystemModule();
    StartInputPolling(nullptr);
    ClearKeys();
    ClearMouse();
  }
  void TearDown() override { StopInputPolling(); }
};

TEST_F(PolledInput, KeyPressesCountsDownTransitionsOnceEach) {
  Emit(EVENT_KEYDOWN, KEY_Z);
  Emit(EVENT_KEYUP, KEY_Z);
  Emit(EVENT_KEYDOWN, KEY_Z);
  EXPECT_EQ(KeyHeld(KEY_Z), 1);
  EXPECT_EQ(KeyPresses(KEY_Z), 2);
  EXPECT_EQ(KeyPresses(KEY_Z), 0) << "reading resets the count";
  Emit(EVENT_KEYUP, KEY_Z);
  EXPECT_EQ(KeyHeld(KEY_Z), 0);
}

TEST_F(PolledInput, AKeyAlreadyDownAndRepeatsAddNothing) {
  Emit(EVENT_KEYDOWN, KEY_SPACE);
  Emit(EVENT_KEYREPEAT, KEY_SPACE);
  Emit(EVENT_KEYDOWN, KEY_SPACE);
  Emit(EVENT_KEYREPEAT, KEY_SPACE);
  EXPECT_EQ(KeyPresses(KEY_SPACE), 1);
}

TEST_F(PolledInput, CharacterQueueIsFirstInFirstOutAndHolds256) {
  EXPECT_EQ(NextChar(), 0) << "empty queue";
  for (int i = 0; i < 257; ++i) Emit(EVENT_KEYCHAR, 1000 + i);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(NextChar(), 1000 + i) << i;
  EXPECT_EQ(NextChar(), 0) << "the 257th pending character was dropped";
  // The ring keeps working past its first lap.
  for (int lap = 0; lap < 3; ++lap) {
    for (int i = 0; i < 200; ++i) Emit(EVENT_KEYCHAR, i + 1);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(NextChar(), i + 1);
  }
  Emit(EVENT_KEYCHAR, 'q');
  ClearKeys();
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(PolledInput, MouseButtonsPositionAndWheel) {
  Emit(EVENT_MOUSEMOVE, 0, 120, 45);
  Emit(EVENT_MOUSEDOWN, 2, 120, 45);
  Emit(EVENT_MOUSEDOWN, 2, 120, 45);
  Emit(EVENT_MOUSEWHEEL, -1);
  Emit(EVENT_MOUSEWHEEL, -1);
  Emit(EVENT_MOUSEWHEEL, 3);
  EXPECT_EQ(PointerX(), 120);
  EXPECT_EQ(PointerY(), 45);
  EXPECT_EQ(ButtonHeld(2), 1);
  EXPECT_EQ(ButtonPresses(2), 1);
  EXPECT_EQ(ButtonPresses(1), 0);
  EXPECT_EQ(WheelPosition(), 1);
  Emit(EVENT_MOUSEUP, 2);
  EXPECT_EQ(ButtonHeld(2), 0);
  Emit(EVENT_MOUSEDOWN, 1);
  ClearMouse();
  EXPECT_EQ(ButtonHeld(1), 0);
  EXPECT_EQ(ButtonPresses(1), 0);
  EXPECT_EQ(WheelPosition(), 0);
  EXPECT_EQ(PointerX(), 120) << "ClearMouse keeps the position";
  EXPECT_EQ(PointerY(), 45);
}

TEST_F(PolledInput, OutOfRangeCodesAreHarmless) {
  Emit(EVENT_KEYDOWN, 300);
  Emit(EVENT_KEYDOWN, -5);
  Emit(EVENT_MOUSEDOWN, 7);
  Emit(EVENT_MOUSEDOWN, 0);
  EXPECT_EQ(KeyPresses(300), 0);
  EXPECT_EQ(KeyHeld(-5), 0);
  EXPECT_EQ(ButtonPresses(7), 0);
  EXPECT_EQ(ButtonHeld(0), 0);
}

TEST_F(PolledInput, SuspendAndResumeFlushKeysAndButtons) {
  Emit(EVENT_KEYDOWN, KEY_LEFT);
  Emit(EVENT_MOUSEDOWN, 1);
  Emit(EVENT_KEYCHAR, 'a');
  Emit(EVENT_APPSUSPEND);
  EXPECT_EQ(IsSuspended(), 1);
  EXPECT_EQ(KeyHeld(KEY_LEFT), 0) << "nothing stays held after switching away";
  EXPECT_EQ(KeyPresses(KEY_LEFT), 0);
  EXPECT_EQ(ButtonHeld(1), 0);
  EXPECT_EQ(NextChar(), 0);
  Emit(EVENT_KEYDOWN, KEY_RIGHT);
  Emit(EVENT_APPRESUME);
  EXPECT_EQ(IsSuspended(), 0);
  EXPECT_EQ(KeyHeld(KEY_RIGHT), 0);
}

TEST_F(PolledInput, QuitRequestedClearsOnRead) {
  EXPECT_EQ(QuitRequested(), 0);
  Emit(EVENT_APPTERMINATE);
  EXPECT_EQ(QuitRequested(), 1);
  EXPECT_EQ(QuitRequested(), 0);
}

TEST_F(PolledInput, StopDetachesTheHookAndKeepsNothingHeld) {
  Emit(EVENT_KEYDOWN, KEY_A);
  StopInputPolling();
  EXPECT_FALSE(InputPollingEnabled());
  EXPECT_EQ(KeyHeld(KEY_A), 0);
  Emit(EVENT_KEYDOWN, KEY_X);
  EXPECT_EQ(KeyPresses(KEY_X), 0) << "no updates while disabled";
  StartInputPolling(nullptr);
  StartInputPolling(nullptr);  // a second start does not add a second hook
  Emit(EVENT_KEYDOWN, KEY_X);
  EXPECT_EQ(KeyPresses(KEY_X), 1);
}

TEST_F(PolledInput, ARecordedSourceFiltersOtherSources) {
  StopInputPolling();
  auto mine = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  StartInputPolling(mine);
  Emit(EVENT_KEYDOWN, KEY_A, 0, 0, other);
  Emit(EVENT_KEYDOWN, KEY_X, 0, 0, nullptr);
  Emit(EVENT_KEYDOWN, KEY_Z, 0, 0, mine);
  EXPECT_EQ(KeyPresses(KEY_A), 0);
  EXPECT_EQ(KeyPresses(KEY_X), 0);
  EXPECT_EQ(KeyPresses(KEY_Z), 1);
}

TEST_F(PolledInput, ReadingWithoutAutoPollLeavesTheQueueAlone) {
  SetAutoPoll(false);
  // A posted call that would press a key runs only when the system is pumped.
  ASSERT_TRUE(PostToMainThread([] { Emit(EVENT_KEYDOWN, KEY_F1); }));
  EXPECT_EQ(KeyPresses(KEY_F1), 0);
  SetAutoPoll(true);
  EXPECT_EQ(KeyPresses(KEY_F1), 1);
}

}  // namespace
