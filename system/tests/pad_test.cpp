// Gamepads through SDL's game controller interface, driven by SDL virtual pads: the
// events, the polled tables, the dead zone, several pads and rumble.
#include <ormix/system/pad.h>

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <ormix/system/input.h>
#include <ormix/system/system.h>

namespace {

std::vector<TEvent> g_seen;

TObjectPtr Record(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* e = AsEvent(data);
  if (e && (e->id & 0x40000)) g_seen.push_back(*e);
  return data;
}

class Pads : public ::testing::Test {
protected:
  void SetUp() override {
    InitSystemModule();
    SetPadBackgroundInput(true);
    StartInputPolling(nullptr);
    InsertHook(EventHookId(), Record, nullptr, 100);
    SetPadDeadZone(0.25f);
    PumpSystem();
    g_seen.clear();
  }
  void TearDown() override {
    for (auto& p : pads) p->Detach();
    PumpSystem();
    DeleteHook(EventHookId(), Record, nullptr);
    StopInputPolling();
    EXPECT_EQ(PadCount(), 0) << "every virtual pad disconnected";
  }
  TVirtualPadPtr Attach(const char16_t* name) {
    TVirtualPadPtr p = AttachVirtualPad(name);
    if (p) pads.push_back(p);
    return p;
  }
  std::vector<TVirtualPadPtr> pads;
};

TEST_F(Pads, ConnectPressReleaseDisconnect) {
  TVirtualPadPtr pad = Attach(u"Test Pad");
  ASSERT_TRUE(pad) << "SDL could not attach a virtual pad";
  EXPECT_EQ(PadConnected(1), 0) << "the pad arrives with the next pump";
  PumpSystem();
  ASSERT_EQ(PadConnected(1), 1);
  EXPECT_EQ(PadCount(), 1);
  EXPECT_EQ(PadName(1), u"Test Pad");
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].ToString(), u"PadConnect: data=0, mods=0, x=1, y=0, extra=\"Test Pad\"");

  g_seen.clear();
  pad->SetButton(PAD_A, true);
  EXPECT_EQ(PadHeld(1, PAD_A), 1) << "reading pumps first";
  EXPECT_EQ(PadHeld(1, PAD_B), 0);
  EXPECT_EQ(PadPresses(1, PAD_A), 1);
  EXPECT_EQ(PadPresses(1, PAD_A), 0) << "reading resets the count";
  pad->SetButton(PAD_A, false);
  EXPECT_EQ(PadHeld(1, PAD_A), 0);
  pad->SetButton(PAD_START, true);
  pad->SetButton(PAD_START, false);  // within one pump: SDL reports only the last state
  PumpSystem();
  pad->SetButton(PAD_LEFT, true);
  PumpSystem();
  pad->SetButton(PAD_LEFT, false);
  pad->SetButton(PAD_LEFT, true);
  PumpSystem();  // SDL folds a release and a press between pumps
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].ToString(), u"PadDown: data=1, mods=0, x=1, y=0, extra=\"a\"");
  EXPECT_EQ(g_seen[1].ToString(), u"PadUp: data=1, mods=0, x=1, y=0, extra=\"a\"");
  EXPECT_EQ(g_seen[2].ToString(), u"PadDown: data=14, mods=0, x=1, y=0, extra=\"left\"");

  g_seen.clear();
  pad->Detach();
  PumpSystem();
  EXPECT_EQ(PadConnected(1), 0);
  EXPECT_EQ(PadName(1), u"");
  EXPECT_EQ(PadHeld(1, PAD_LEFT), 0) << "a pad that left holds nothing";
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen.back().ToString(), u"PadDisconnect: data=0, mods=0, x=1, y=0, extra=\"Test Pad\"");
}

TEST_F(Pads, AxesReadThroughTheDeadZone) {
  TVirtualPadPtr pad = Attach(u"Sticks");
  ASSERT_TRUE(pad);
  PumpSystem();
  ASSERT_EQ(PadConnected(1), 1);
  EXPECT_EQ(PadAxis(1, PAD_LEFTTRIGGER), 0.0f) << "a trigger at rest reads 0";
  struct Case {
    int axis;
    float set;
    float zone;
    float read;
  } cases[] = {
      {PAD_LEFTX, -1.0f, 0.25f, -1.0f},   {PAD_LEFTX, 1.0f, 0.25f, 1.0f},
      {PAD_LEFTX, 0.2f, 0.25f, 0.0f},     {PAD_LEFTY, -0.24f, 0.25f, 0.0f},
      {PAD_RIGHTX, 0.625f, 0.25f, 0.5f},  {PAD_RIGHTY, -0.625f, 0.25f, -0.5f},
      {PAD_LEFTX, 0.2f, 0.0f, 0.2f},      {PAD_RIGHTTRIGGER, 0.625f, 0.25f, 0.5f},
      {PAD_LEFTTRIGGER, 1.0f, 0.25f, 1.0f}, {PAD_LEFTTRIGGER, 0.1f, 0.25f, 0.0f},
      {PAD_LEFTX, -0.5f, 0.5f, 0.0f},     {PAD_LEFTX, -0.75f, 0.5f, -0.5f},
  };
  for (const Case& c : cases) {
    SetPadDeadZone(c.zone);
    pad->SetAxis(c.axis, c.set);
    EXPECT_NEAR(PadAxis(1, c.axis), c.read, 0.001f)
        << ToUtf8(PadAxisName(c.axis)) << " set to " << c.set << ", dead zone " << c.zone;
  }
  // The event carries the raw position.
  g_seen.clear();
  pad->SetAxis(PAD_LEFTX, -1.0f);
  PumpSystem();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].ToString(), u"PadMove: data=1, mods=0, x=1, y=-32768, extra=\"leftx\"");

  SetPadDeadZone(2);
  EXPECT_FLOAT_EQ(PadDeadZone(), 0.95f);
  SetPadDeadZone(-1);
  EXPECT_FLOAT_EQ(PadDeadZone(), 0.0f);
  SetPadDeadZone(NAN);
  EXPECT_FLOAT_EQ(PadDeadZone(), 0.0f);
  EXPECT_EQ(PadAxis(1, 0), 0.0f);
  EXPECT_EQ(PadAxis(1, PAD_AXES), 0.0f);
}

TEST_F(Pads, SeveralPadsKeepTheirNumbers) {
  TVirtualPadPtr first = Attach(u"First"), second = Attach(u"Second");
  ASSERT_TRUE(first && second);
  PumpSystem();
  ASSERT_EQ(PadCount(), 2);
  EXPECT_EQ(PadName(1), u"First");
  EXPECT_EQ(PadName(2), u"Second");

  second->SetButton(PAD_X, true);
  second->SetAxis(PAD_LEFTX, 0.625f);
  first->SetAxis(PAD_LEFTX, -1.0f);
  EXPECT_EQ(PadHeld(1, PAD_X), 0);
  EXPECT_EQ(PadHeld(2, PAD_X), 1);
  EXPECT_EQ(PadHeld(PAD_ANY, PAD_X), 1);
  first->SetButton(PAD_X, true);
  EXPECT_EQ(PadPresses(PAD_ANY, PAD_X), 2) << "pad 0 sums every pad";
  EXPECT_EQ(PadPresses(2, PAD_X), 0) << "and resets them all";
  EXPECT_NEAR(PadAxis(2, PAD_LEFTX), 0.5f, 0.001f);
  EXPECT_NEAR(PadAxis(PAD_ANY, PAD_LEFTX), -1.0f, 0.001f) << "the largest position wins";

  // A pad leaving frees its number; the others keep theirs, and the next pad takes the
  // lowest free number.
  first->Detach();
  PumpSystem();
  EXPECT_EQ(PadConnected(1), 0);
  EXPECT_EQ(PadName(2), u"Second");
  EXPECT_EQ(PadHeld(2, PAD_X), 1);
  TVirtualPadPtr third = Attach(u"Third");
  ASSERT_TRUE(third);
  PumpSystem();
  EXPECT_EQ(PadName(1), u"Third");
  EXPECT_EQ(PadHeld(1, PAD_X), 0) << "the new pad 1 starts from rest";
  EXPECT_EQ(PadAxis(1, PAD_LEFTX), 0.0f);
}

TEST_F(Pads, ANinthPadWaitsForAFreeNumber) {
  for (int i = 1; i <= PAD_MAX + 1; ++i)
    ASSERT_TRUE(Attach((u"Pad " + IntToText(i)).c_str())) << i;
  pads.back()->SetButton(PAD_A, true);
  PumpSystem();
  EXPECT_EQ(PadCount(), PAD_MAX);
  EXPECT_EQ(PadName(PAD_MAX), u"Pad 8");
  EXPECT_EQ(PadHeld(PAD_ANY, PAD_A), 0) << "the ninth pad is not read";
  pads[2]->Detach();
  PumpSystem();
  EXPECT_EQ(PadCount(), PAD_MAX);
  EXPECT_EQ(PadName(3), u"Pad 9") << "the number set free went to the waiting pad";
  EXPECT_EQ(PadHeld(3, PAD_A), 1) << "with what it holds";
  ASSERT_GE(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[g_seen.size() - 2].ToString(), u"PadConnect: data=0, mods=0, x=3, y=0, extra=\"Pad 9\"");
}

TEST_F(Pads, WhatIsHeldWhenAPadArrivesIsReported) {
  TVirtualPadPtr pad = Attach(u"Held");
  ASSERT_TRUE(pad);
  pad->SetButton(PAD_B, true);
  pad->SetAxis(PAD_RIGHTY, 1.0f);
  PumpSystem();
  ASSERT_EQ(PadConnected(1), 1);
  EXPECT_EQ(PadHeld(1, PAD_B), 1);
  EXPECT_EQ(PadPresses(1, PAD_B), 1);
  EXPECT_NEAR(PadAxis(1, PAD_RIGHTY), 1.0f, 0.001f);
  ASSERT_GE(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].id, EVENT_PADCONNECT) << "the connection comes first";
}

TEST_F(Pads, FocusChangesAndStoppedPollingFlushOrFreezeTheTables) {
  TVirtualPadPtr pad = Attach(u"Focus");
  ASSERT_TRUE(pad);
  pad->SetButton(PAD_Y, true);
  pad->SetAxis(PAD_LEFTY, -1.0f);
  PumpSystem();
  ASSERT_EQ(PadHeld(1, PAD_Y), 1);
  TEvent::Create(EVENT_APPSUSPEND)->Emit();
  EXPECT_EQ(PadHeld(1, PAD_Y), 0);
  EXPECT_EQ(PadPresses(1, PAD_Y), 0);
  EXPECT_EQ(PadAxis(1, PAD_LEFTY), 0.0f);
  TEvent::Create(EVENT_APPRESUME)->Emit();

  StopInputPolling();
  pad->SetButton(PAD_Y, false);
  pad->SetButton(PAD_Y, true);
  PumpSystem();
  EXPECT_EQ(PadPresses(1, PAD_Y), 0) << "nothing is counted while polling is off";
  EXPECT_EQ(PadConnected(1), 1) << "but the pad stays known";
  StartInputPolling(nullptr);
}

TEST_F(Pads, RumbleReachesThePad) {
  TVirtualPadPtr pad = Attach(u"Rumble");
  ASSERT_TRUE(pad);
  PumpSystem();
  ASSERT_EQ(PadConnected(1), 1);
  EXPECT_EQ(PadHasRumble(1), 1);
  EXPECT_EQ(PadRumble(1, 0.5f, 1.0f, 1000), 1);
  EXPECT_EQ(pad->RumbleRequests(), 1);
  EXPECT_NEAR(pad->RumbleLow(), 0.5f, 0.001f);
  EXPECT_NEAR(pad->RumbleHigh(), 1.0f, 0.001f);
  EXPECT_EQ(PadRumble(1, 0, 0, 0), 1) << "0 stops it";
  EXPECT_EQ(pad->RumbleLow(), 0.0f);
  EXPECT_EQ(PadRumble(PAD_ANY, 2.0f, -1.0f, 50), 1) << "strengths are clamped";
  EXPECT_NEAR(pad->RumbleLow(), 1.0f, 0.001f);
  EXPECT_EQ(pad->RumbleHigh(), 0.0f);
  EXPECT_EQ(PadRumble(2, 1, 1, 100), 0) << "no pad 2";
  EXPECT_EQ(PadHasRumble(2), 0);
  EXPECT_EQ(PadRumble(PAD_MAX + 1, 1, 1, 100), 0);
}

TEST_F(Pads, AJoystickThatIsNoGameControllerIsNoPad) {
  // A flight stick without a mapping: SDL knows no buttons by name on it.
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 3, 8, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(index);
  PumpSystem();
  EXPECT_EQ(PadCount(), 0);
  EXPECT_TRUE(g_seen.empty());
  for (int i = 0, n = SDL_NumJoysticks(); i < n; ++i)
    if (SDL_JoystickGetDeviceInstanceID(i) == instance) SDL_JoystickDetachVirtual(i);
  PumpSystem();
  EXPECT_TRUE(g_seen.empty()) << "nor does it leave as one";
}

TEST(PadNames, NamesAndCodesRoundTrip) {
  for (int b = 1; b < PAD_BUTTONS; ++b) {
    ASSERT_FALSE(PadButtonName(b).empty()) << b;
    EXPECT_EQ(PadButtonCode(PadButtonName(b)), b);
  }
  for (int a = 1; a < PAD_AXES; ++a) EXPECT_EQ(PadAxisCode(PadAxisName(a)), a);
  EXPECT_EQ(PadButtonCode(u"START"), PAD_START);
  EXPECT_EQ(PadButtonCode(u"leftx"), 0);
  EXPECT_EQ(PadAxisCode(u"a"), 0);
  EXPECT_EQ(PadButtonName(0), u"");
  EXPECT_EQ(PadButtonName(PAD_BUTTONS), u"");
  EXPECT_EQ(PadAxisName(-1), u"");
  EXPECT_EQ(EventKindName(EVENT_PADMOVE), u"PadMove");
}

}  // namespace
