#include <ormix/system/event.h>

#include <array>
#include <string>

#include <ormix/runtime/errors.h>
#include <ormix/system/pad.h>

namespace {

struct THook {
  std::shared_ptr<THook> succ;
  int priority = 0;
  THookFunc func = nullptr;
  TObjectPtr context;
};
using THookPtr = std::shared_ptr<THook>;

constexpr int kMaxHookIds = 255;

std::array<THookPtr, kMaxHookIds + 1> g_hooks;  // chain heads by hook id
int g_hookCount = 0;
int g_eventHookId = 0;
uint32_t g_userId = 0x80000000u;

struct TKindName {
  int32_t id;
  const char16_t* name;
};

constexpr TKindName kKindNames[] = {
    {EVENT_APPSUSPEND, u"AppSuspend"},       {EVENT_APPRESUME, u"AppResume"},
    {EVENT_APPTERMINATE, u"AppTerminate"},   {EVENT_APPOPENFILE, u"AppOpenFile"},
    {EVENT_APPIDLE, u"AppIdle"},             {EVENT_KEYDOWN, u"KeyDown"},
    {EVENT_KEYUP, u"KeyUp"},                 {EVENT_KEYCHAR, u"KeyChar"},
    {EVENT_KEYREPEAT, u"KeyRepeat"},         {EVENT_MOUSEDOWN, u"MouseDown"},
    {EVENT_MOUSEUP, u"MouseUp"},             {EVENT_MOUSEMOVE, u"MouseMove"},
    {EVENT_MOUSEWHEEL, u"MouseWheel"},       {EVENT_MOUSEENTER, u"MouseEnter"},
    {EVENT_MOUSELEAVE, u"MouseLeave"},       {EVENT_TIMERTICK, u"TimerTick"},
    {EVENT_HOTKEYHIT, u"HotkeyHit"},         {EVENT_GADGETACTION, u"GadgetAction"},
    {EVENT_GADGETPAINT, u"GadgetPaint"},     {EVENT_GADGETSELECT, u"GadgetSelect"},
    {EVENT_GADGETMENU, u"GadgetMenu"},       {EVENT_GADGETOPEN, u"GadgetOpen"},
    {EVENT_GADGETCLOSE, u"GadgetClose"},     {EVENT_GADGETDONE, u"GadgetDone"},
    {EVENT_GADGETLOSTFOCUS, u"GadgetLostFocus"}, {EVENT_GADGETSHAPE, u"GadgetShape"},
    {EVENT_WINDOWMOVE, u"WindowMove"},       {EVENT_WINDOWSIZE, u"WindowSize"},
    {EVENT_WINDOWCLOSE, u"WindowClose"},     {EVENT_WINDOWACTIVATE, u"WindowActivate"},
    {EVENT_WINDOWACCEPT, u"WindowAccept"},   {EVENT_MENUACTION, u"MenuAction"},
    {EVENT_STREAMEOF, u"StreamEof"},         {EVENT_STREAMAVAIL, u"StreamAvail"},
    {EVENT_PROCESSEXIT, u"ProcessExit"},
    {EVENT_PADCONNECT, u"PadConnect"},       {EVENT_PADDISCONNECT, u"PadDisconnect"},
    {EVENT_PADDOWN, u"PadDown"},             {EVENT_PADUP, u"PadUp"},
    {EVENT_PADMOVE, u"PadMove"},
};

bool ValidHookId(int id) { return id >= 1 && id <= kMaxHookIds; }

}  // namespace

int NewHookId() {
  if (g_hookCount >= kMaxHookIds) throw TRuntimeException("Too many hook ids");
  return ++g_hookCount;
}

void InsertHook(int id, THookFunc func, TObjectPtr context, int priority) {
  if (!ValidHookId(id)) return;
  auto hook = std::make_shared<THook>();
  hook->priority = priority;
  hook->func = func;
  hook->context = std::move(context);
  // Find the last entry whose priority is >= the new one.
  THook* prev = nullptr;
  for (THook* t = g_hooks[id].get(); t && t->priority >= priority; t = t->succ.get()) prev = t;
  if (prev) {
    hook->succ = std::move(prev->succ);
    prev->succ = std::move(hook);
  } else {
    hook->succ = std::move(g_hooks[id]);
    g_hooks[id] = std::move(hook);
  }
}

TObjectPtr CallHooks(int id, TObjectPtr data) {
  if (!ValidHookId(id)) return data;
  // Holding the current entry keeps it (and its successor link) valid even when the
  // hook deletes itself from the chain.
  THookPtr t = g_hooks[id];
  while (t) {
    data = t->func(id, data, t->context);
    t = t->succ;
  }
  return data;
}

void DeleteHook(int id, THookFunc func, const TObjectPtr& context) {
  if (!ValidHookId(id)) return;
  THookPtr* link = &g_hooks[id];
  while (*link) {
    THook* t = link->get();
    if (t->func == func && t->context == context) {
      // The removed entry keeps its successor so that a CallHooks standing on it goes on.
      *link = t->succ;
      return;
    }
    link = &t->succ;
  }
}

void InitEventModule() {
  if (g_eventHookId == 0) g_eventHookId = NewHookId();
}

int EventHookId() {
  InitEventModule();
  return g_eventHookId;
}

TEventPtr TEvent::Create(int32_t id, TObjectPtr source, int32_t data, int32_t mods,
                         int32_t x, int32_t y, std::any extra) {
  auto event = std::make_shared<TEvent>();
  event->id = id;
  event->source = std::move(source);
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = std::move(extra);
  return event;
}

void TEvent::Emit() {
  TObjectPtr self = weak_from_this().lock();
  // An event not made by Create (say, on the stack) travels without ownership.
  if (!self) self = TObjectPtr(this, [](void*) {});
  CallHooks(EventHookId(), std::move(self));
}

int32_t TEvent::AllocUserId() {
  ++g_userId;
  return static_cast<int32_t>(g_userId);
}

Text EventKindName(int32_t id) {
  if (id & EVENT_USERMASK) {
    return u"UserEvent" + IntToText(static_cast<int64_t>(static_cast<uint32_t>(id) - 0x80000000u));
  }
  for (const auto& k : kKindNames) {
    if (k.id == id) return k.name;
  }
  return u"Unknown Event, id=" + IntToText(id);
}

Text TEvent::ToString() const {
  Text extraText;
  if (const Text* t = std::any_cast<Text>(&extra)) {
    extraText = *t;
  } else if (const auto* p = std::any_cast<std::shared_ptr<Text>>(&extra)) {
    if (*p) extraText = **p;
  }
  return EventKindName(id) + u": data=" + IntToText(data) + u", mods=" + IntToText(mods) +
         u", x=" + IntToText(x) + u", y=" + IntToText(y) + u", extra=\"" + extraText + u"\"";
}
