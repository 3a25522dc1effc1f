#pragma once
// Events and hook chains. Every input event of the platform layer is created as a TEvent
// and emitted along the event hook chain (EventHookId); any part of the program can add
// a hook to a chain and see, change or replace the data passed along it.
#include <any>
#include <cstdint>
#include <memory>

#include <ormix/runtime/text.h>

// Object references passed through events and hook chains. Any shared object converts
// to it; the receiver knows from the chain (or the event kind) what it really is.
using TObjectPtr = std::shared_ptr<void>;

// Event kinds.
constexpr int32_t EVENT_APPSUSPEND = 0x101;
constexpr int32_t EVENT_APPRESUME = 0x102;
constexpr int32_t EVENT_APPTERMINATE = 0x103;
constexpr int32_t EVENT_APPOPENFILE = 0x104;
constexpr int32_t EVENT_APPIDLE = 0x105;
constexpr int32_t EVENT_KEYDOWN = 0x201;
constexpr int32_t EVENT_KEYUP = 0x202;
constexpr int32_t EVENT_KEYCHAR = 0x203;
constexpr int32_t EVENT_KEYREPEAT = 0x204;
constexpr int32_t EVENT_MOUSEDOWN = 0x401;
constexpr int32_t EVENT_MOUSEUP = 0x402;
constexpr int32_t EVENT_MOUSEMOVE = 0x403;
constexpr int32_t EVENT_MOUSEWHEEL = 0x404;
constexpr int32_t EVENT_MOUSEENTER = 0x405;
constexpr int32_t EVENT_MOUSELEAVE = 0x406;
constexpr int32_t EVENT_TIMERTICK = 0x801;
constexpr int32_t EVENT_HOTKEYHIT = 0x1001;
constexpr int32_t EVENT_GADGETACTION = 0x2001;
constexpr int32_t EVENT_GADGETPAINT = 0x2002;
constexpr int32_t EVENT_GADGETSELECT = 0x2003;
constexpr int32_t EVENT_GADGETMENU = 0x2004;
constexpr int32_t EVENT_GADGETOPEN = 0x2005;
constexpr int32_t EVENT_GADGETCLOSE = 0x2006;
constexpr int32_t EVENT_GADGETDONE = 0x2007;
constexpr int32_t EVENT_GADGETLOSTFOCUS = 0x2008;
constexpr int32_t EVENT_GADGETSHAPE = 0x2009;
constexpr int32_t EVENT_WINDOWMOVE = 0x4001;
constexpr int32_t EVENT_WINDOWSIZE = 0x4002;
constexpr int32_t EVENT_WINDOWCLOSE = 0x4003;
constexpr int32_t EVENT_WINDOWACTIVATE = 0x4004;
constexpr int32_t EVENT_WINDOWACCEPT = 0x4005;
constexpr int32_t EVENT_MENUACTION = 0x8001;
constexpr int32_t EVENT_STREAMEOF = 0x10001;
constexpr int32_t EVENT_STREAMAVAIL = 0x10002;
constexpr int32_t EVENT_PROCESSEXIT = 0x20001;
// User-defined kinds have the top bit set (TEvent::AllocUserId).
constexpr int32_t EVENT_USERMASK = INT32_MIN;

// Modifier flags of TEvent::mods.
constexpr int32_t MODIFIER_SHIFT = 1;
constexpr int32_t MODIFIER_CONTROL = 2;
constexpr int32_t MODIFIER_ALT = 4;
constexpr int32_t MODIFIER_SYSTEM = 8;

class TEvent;
using TEventPtr = std::shared_ptr<TEvent>;

class TEvent : public std::enable_shared_from_this<TEvent> {
public:
  int32_t id = 0;          // event kind
  TObjectPtr source;       // who raised it; null for the input of graphics windows
  int32_t data = 0;        // key code, character code, mouse button or wheel delta
  int32_t mods = 0;        // MODIFIER_* flags held when it was raised
  int32_t x = 0, y = 0;    // pointer position in client coordinates (mouse events)
  std::any extra;          // free payload; ToString prints it when it holds a Text

  static TEventPtr Create(int32_t id, TObjectPtr source = nullptr, int32_t data = 0,
                          int32_t mods = 0, int32_t x = 0, int32_t y = 0,
                          std::any extra = {});
  // Runs the event along the event hook chain: CallHooks(EventHookId(), this).
  void Emit();
  // A fresh user event kind: 0x80000001, 0x80000002, ...
  static int32_t AllocUserId();
  // "KeyDown: data=90, mods=0, x=0, y=0, extra=\"\""
  Text ToString() const;
};

// The name of an event kind as ToString prints it ("KeyDown", "UserEvent3",
// "Unknown Event, id=77").
Text EventKindName(int32_t id);

// Hook chains. A hook function gets the chain's id, the data passed along the chain and
// the context it was added with, and returns the data for the next hook.
using THookFunc = TObjectPtr (*)(int id, const TObjectPtr& data, const TObjectPtr& context);

// A new hook id, counting up from 1; the 256th request throws "Too many hook ids".
int NewHookId();
// Adds func after the last entry whose priority is >= priority: a chain runs in
// descending priority, equal priorities in the order they were added.
void InsertHook(int id, THookFunc func, TObjectPtr context = nullptr, int priority = 0);
// Calls every entry of the chain in order; each result is the next call's data.
// Returns the last result, or data for an empty chain.
TObjectPtr CallHooks(int id, TObjectPtr data);
// Removes the first entry whose function and context both match.
void DeleteHook(int id, THookFunc func, const TObjectPtr& context = nullptr);

// The chain every event travels along (allocated by InitEventModule).
int EventHookId();
// Allocates EventHookId; idempotent. InitSystemModule calls it too.
void InitEventModule();

// The event passed along the event chain (a hook on EventHookId casts its data with it).
inline TEvent* AsEvent(const TObjectPtr& data) { return static_cast<TEvent*>(data.get()); }
