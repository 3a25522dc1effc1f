#include <ormix/system/event.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each hook appends its context's tag to the log it is given and passes the data on.
struct TTag {
  std::string name;
};
std::vector<std::string> g_log;

TObjectPtr LogHook(int, const TObjectPtr& data, const TObjectPtr& context) {
  g_log.push_back(static_cast<TTag*>(context.get())->name);
  return data;
}

std::shared_ptr<TTag> Tag(const char* name) { return std::make_shared<TTag>(TTag{name}); }

TEST(HookChain, RunsInDescendingPriorityAndEqualPrioritiesInInsertionOrder) {
  int id = NewHookId();
  auto a = Tag("a"), b = Tag("b"), c = Tag("c"), d = Tag("d"), e = Tag("e");
  InsertHook(id, LogHook, a, 0);
  InsertHook(id, LogHook, b, 5);
  InsertHook(id, LogHook, c, 0);
  InsertHook(id, LogHook, d, -3);
  InsertHook(id, LogHook, e, 5);
  g_log.clear();
  CallHooks(id, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"b", "e", "a", "c", "d"}));
}

TObjectPtr AddOne(int, const TObjectPtr& data, const TObjectPtr&) {
  return std::make_shared<int>(*static_cast<int*>(data.get()) + 1);
}
TObjectPtr Double(int, const TObjectPtr& data, const TObjectPtr&) {
  return std::make_shared<int>(*static_cast<int*>(data.get()) * 2);
}

TEST(HookChain, EachResultIsTheNextHooksData) {
  int id = NewHookId();
  auto in = std::make_shared<int>(5);
  EXPECT_EQ(CallHooks(id, in), in) << "an empty chain returns its data";
  InsertHook(id, AddOne, nullptr, 1);
  InsertHook(id, Double, nullptr, 0);
  EXPECT_EQ(*static_cast<int*>(CallHooks(id, in).get()), 12);
}

TEST(HookChain, DeleteRemovesFirstMatchOfFunctionAndContext) {
  int id = NewHookId();
  auto a = Tag("a"), b = Tag("b");
  InsertHook(id, LogHook, a);
  InsertHook(id, LogHook, b);
  InsertHook(id, LogHook, a);
  DeleteHook(id, LogHook, a);
  DeleteHook(id, LogHook, Tag("x"));  // no match: nothing happens
  DeleteHook(id, AddOne, b);          // function differs: nothing happens
  g_log.clear();
  CallHooks(id, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"b", "a"}));
}

TObjectPtr DeletesItself(int id, const TObjectPtr& data, const TObjectPtr& context) {
  DeleteHook(id, DeletesItself, context);
  g_log.push_back("self");
  return data;
}

TEST(HookChain, AHookMayRemoveItselfWhileTheChainRuns) {
  int id = NewHookId();
  InsertHook(id, DeletesItself, nullptr, 1);
  InsertHook(id, LogHook, Tag("after"), 0);
  g_log.clear();
  CallHooks(id, nullptr);
  CallHooks(id, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"self", "after", "after"}));
}

TEST(HookChain, IdsCountUpAndUnknownIdsAreIgnored) {
  int a = NewHookId();
  int b = NewHookId();
  EXPECT_EQ(b, a + 1);
  EXPECT_GE(a, 1);
  InsertHook(0, LogHook, Tag("x"));
  InsertHook(400, LogHook, Tag("x"));
  auto in = std::make_shared<int>(1);
  EXPECT_EQ(CallHooks(0, in), in);
  EXPECT_EQ(CallHooks(-1, in), in);
}

TEST(Event, ToStringNamesEveryKind) {
  struct Case {
    int32_t id;
    const char* name;
  };
  const Case cases[] = {
      {0x101, "AppSuspend"},     {0x102, "AppResume"},     {0x103, "AppTerminate"},
      {0x104, "AppOpenFile"},    {0x105, "AppIdle"},       {0x201, "KeyDown"},
      {0x202, "KeyUp"},          {0x203, "KeyChar"},       {0x204, "KeyRepeat"},
      {0x401, "MouseDown"},      {0x402, "MouseUp"},       {0x403, "MouseMove"},
      {0x404, "MouseWheel"},     {0x405, "MouseEnter"},    {0x406, "MouseLeave"},
      {0x801, "TimerTick"},      {0x1001, "HotkeyHit"},    {0x2001, "GadgetAction"},
      {0x2002, "GadgetPaint"},   {0x2003, "GadgetSelect"}, {0x2004, "GadgetMenu"},
      {0x2005, "GadgetOpen"},    {0x2006, "GadgetClose"},  {0x2007, "GadgetDone"},
      {0x2008, "GadgetLostFocus"}, {0x2009, "GadgetShape"}, {0x4001, "WindowMove"},
      {0x4002, "WindowSize"},    {0x4003, "WindowClose"},  {0x4004, "WindowActivate"},
      {0x4005, "WindowAccept"},  {0x8001, "MenuAction"},   {0x10001, "StreamEof"},
      {0x10002, "StreamAvail"},  {0x20001, "ProcessExit"},
      {int32_t(0x80000003u), "UserEvent3"}, {INT32_MIN, "UserEvent0"},
      {0x300, "Unknown Event, id=768"}, {0, "Unknown Event, id=0"},
  };
  for (const auto& c : cases) {
    auto ev = TEvent::Create(c.id, nullptr, 7, 3, -4, 9);
    EXPECT_EQ(ToUtf8(ev->ToString()),
              std::string(c.name) + ": data=7, mods=3, x=-4, y=9, extra=\"\"")
        << std::hex << c.id;
  }
}

TEST(Event, ToStringShowsTextExtraOnly) {
  auto ev = TEvent::Create(EVENT_KEYCHAR, nullptr, 65, 0, 0, 0, Text(u"hello"));
  EXPECT_EQ(ToUtf8(ev->ToString()), "KeyChar: data=65, mods=0, x=0, y=0, extra=\"hello\"");
  ev->extra = std::make_shared<Text>(u"shared");
  EXPECT_EQ(ToUtf8(ev->ToString()), "KeyChar: data=65, mods=0, x=0, y=0, extra=\"shared\"");
  ev->extra = std::make_shared<int>(4);
  EXPECT_EQ(ToUtf8(ev->ToString()), "KeyChar: data=65, mods=0, x=0, y=0, extra=\"\"");
}

TEST(Event, UserIdsStartAfterTheTopBit) {
  int32_t first = TEvent::AllocUserId();
  EXPECT_EQ(static_cast<uint32_t>(first), 0x80000001u);
  EXPECT_EQ(static_cast<uint32_t>(TEvent::AllocUserId()), 0x80000002u);
  EXPECT_EQ(ToUtf8(EventKindName(first)), "UserEvent1");
}

TEvent g_seen;
TObjectPtr Capture(int id, const TObjectPtr& data, const TObjectPtr&) {
  EXPECT_EQ(id, EventHookId());
  const TEvent* ev = AsEvent(data);
  g_seen.id = ev->id;
  g_seen.data = ev->data;
  g_seen.source = ev->source;
  return data;
}

TEST(Event, EmitRunsTheEventChain) {
  InsertHook(EventHookId(), Capture);
  auto source = std::make_shared<int>(1);
  TEvent::Create(EVENT_KEYDOWN, source, 90)->Emit();
  EXPECT_EQ(g_seen.id, EVENT_KEYDOWN);
  EXPECT_EQ(g_seen.data, 90);
  EXPECT_EQ(g_seen.source, source);
  TEvent onStack;  // an event not made by Create can be emitted too
  onStack.id = EVENT_KEYUP;
  onStack.Emit();
  EXPECT_EQ(g_seen.id, EVENT_KEYUP);
  DeleteHook(EventHookId(), Capture);
}

}  // namespace
