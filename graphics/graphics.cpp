#include <ormix/graphics/graphics.h>

#include <exception>

#include <ormix/graphics/font.h>
#include <ormix/graphics/image.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>
#include <ormix/system/event.h>
#include <ormix/system/frames.h>
#include <ormix/system/input.h>
#include <ormix/system/system.h>

namespace {

struct GraphicsState {
  TGraphicsDriver* driver = nullptr;
  int defaultFlags = 0;
  std::vector<TGraphicsMode> modes;
  TGraphicsPtr current;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  TGraphicsPtr screen;
  TFrameSync sync;
  int generation = 1;
  int frameHookId = 0;
  bool exitActionRegistered = false;
};

GraphicsState& State() {
  static GraphicsState state;
  return state;
}

void ZeroSettings(GraphicsState& s) {
  s.width = s.height = s.depth = s.hertz = s.flags = 0;
}

void FillModeCache(GraphicsState& s) {
  if (s.modes.empty() && s.driver) s.modes = s.driver->GraphicsModes();
}

}  // namespace

Text TGraphicsMode::ToString() const {
  return IntToText(width) + u"," + IntToText(height) + u"," + IntToText(depth) + u" " +
         IntToText(hertz) + u"Hz";
}

TGraphicsDriver* TGraphics::DataType() { return Driver(); }

Text TGraphicsDriver::Tag() { return u"ZRK.Graphics.TGraphics"; }

TGraphicsPtr TGraphicsDriver::ReadGraphics(TStream& stream) {
  int w = stream.ReadInt();
  int h = stream.ReadInt();
  int d = stream.ReadInt();
  int hz = stream.ReadInt();
  return OpenScreen(w, h, d, hz, 0);
}

TDataPtr TGraphicsDriver::ReadObject(TStream& stream) { return ReadGraphics(stream); }

void TGraphicsDriver::WriteObject(TStream& stream, TData& object) {
  auto* graphics = dynamic_cast<TGraphics*>(&object);
  if (!graphics) throw TRuntimeException("Unable to write object");
  int w, h, d, hz, f;
  graphics->GetSettings(w, h, d, hz, f);
  stream.WriteInt(w);
  stream.WriteInt(h);
  stream.WriteInt(d);
  stream.WriteInt(hz);
}

Text TGraphicsDriver::ToString() { return u"TGraphicsDriver"; }

void TFrameSync::Start(int hz, uint32_t now) {
  hertz = hz;
  period = hz != 0 ? 1000 / hz : 0;
  remainder = 1000 - period * hz;
  accumulator = 0;
  next = now;
}

int TFrameSync::Advance(uint32_t now) {
  next += static_cast<uint32_t>(period);
  accumulator += remainder;
  if (accumulator >= hertz) {
    accumulator -= hertz;
    next += 1;
  }
  // Wrap-safe difference on the 32-bit clock.
  int dt = static_cast<int32_t>(next - now);
  if (dt > 0) return dt;
  next -= static_cast<uint32_t>(dt);  // late: re-base on now
  return 0;
}

TFrameSync& ScreenFrameSync() { return State().sync; }

void InitGraphicsModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitEventModule();
  State().frameHookId = NewHookId();
  InitImageModule();
  InitFontModule();
}

int FrameHookId() {
  InitGraphicsModule();
  return State().frameHookId;
}

int GraphicsGeneration() { return State().generation; }

int NextGraphicsGeneration(int g) {
  const int next = static_cast<int>(static_cast<uint32_t>(g) + 1u);
  return next == 0 ? 1 : next;
}

int BumpGraphicsGeneration() {
  int& g = State().generation;
  g = NextGraphicsGeneration(g);
  return g;
}

void UseGraphicsDriver(TGraphicsDriver* driver, int defaultFlags) {
  GraphicsState& s = State();
  if (driver != s.driver) {
    if (s.driver && s.current) s.driver->SetGraphics(nullptr);
    s.modes.clear();
    s.driver = driver;
  }
  s.defaultFlags = defaultFlags;
  s.current = nullptr;
  ZeroSettings(s);
}

TGraphicsDriver* CurrentGraphicsDriver() { return State().driver; }

int GraphicsDefaultFlags() { return State().defaultFlags; }

std::vector<TGraphicsMode> ListGraphicsModes() {
  GraphicsState& s = State();
  FillModeCache(s);
  return s.modes;
}

int GraphicsModeCount() {
  GraphicsState& s = State();
  FillModeCache(s);
  return static_cast<int>(s.modes.size());
}

void GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz) {
  GraphicsState& s = State();
  FillModeCache(s);
  if (index < 0 || index >= static_cast<int>(s.modes.size())) {
    width = height = depth = hertz = 0;
    return;
  }
  const TGraphicsMode& m = s.modes[static_cast<size_t>(index)];
  width = m.width;
  height = m.height;
  depth = m.depth;
  hertz = m.hertz;
}

bool HasGraphicsMode(int width, int height, int depth, int hertz) {
  GraphicsState& s = State();
  FillModeCache(s);
  for (const TGraphicsMode& m : s.modes) {
    if (width && m.width != width) continue;
    if (height && m.height != height) continue;
    if (depth && m.depth != depth) continue;
    if (hertz && m.hertz != hertz) continue;
    return true;
  }
  return false;
}

TGraphicsPtr MakeGraphics(int width, int height, int depth, int hertz, int flags) {
  GraphicsState& s = State();
  if (!s.driver) return nullptr;
  try {
    return s.driver->CreateGraphics(width, height, depth, hertz, flags | s.defaultFlags);
  } catch (const std::exception&) {
    return nullptr;
  }
}

TGraphicsPtr AttachGraphicsToWindow(void* widget, int flags) {
  GraphicsState& s = State();
  if (!s.driver) return nullptr;
  try {
    return s.driver->AttachGraphics(widget, flags | s.defaultFlags);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void SelectGraphics(const TGraphicsPtr& g) {
  GraphicsState& s = State();
  if (!g) {
    if (s.driver && s.current) s.driver->SetGraphics(nullptr);
    s.current = nullptr;
    ZeroSettings(s);
    return;
  }
  TGraphicsDriver* d = g->Driver();
  if (d != s.driver) {
    if (s.driver && s.current) s.driver->SetGraphics(nullptr);
    s.modes.clear();
    s.driver = d;
  }
  g->GetSettings(s.width, s.height, s.depth, s.hertz, s.flags);
  if (d) d->SetGraphics(g);
  s.current = g;
}

TGraphicsPtr CurrentGraphics() { return State().current; }

void CloseGraphicsContext(const TGraphicsPtr& g) {
  if (!g) return;
  GraphicsState& s = State();
  TGraphicsPtr keep = g;
  if (s.screen == keep) s.screen = nullptr;
  if (s.current == keep) SelectGraphics(nullptr);
  keep->Close();
}

int ScreenWidth() { return State().width; }
int ScreenHeight() { return State().height; }
int ScreenDepth() { return State().depth; }
int ScreenHertz() { return State().hertz; }
int ScreenFlags() { return State().flags; }

TGraphicsPtr ScreenGraphics() { return State().screen; }

void CloseScreen() {
  GraphicsState& s = State();
  if (!s.screen) return;
  BumpGraphicsGeneration();
  StopInputPolling();
  CloseGraphicsContext(s.screen);
}

TGraphicsPtr OpenScreen(int width, int height, int depth, int hertz, int flags) {
  InitGraphicsModule();
  CloseScreen();
  GraphicsState& s = State();
  flags |= s.defaultFlags;
  TGraphicsPtr g = MakeGraphics(width, height, depth, hertz, flags);
  if (!g) return nullptr;
  BumpGraphicsGeneration();
  SelectGraphics(g);

  bool soft = true;
  if (hertz == 0 || FramesPacedByHost()) {
    soft = false;
  } else if (depth != 0 && s.driver) {
    // Does the display already pace at this rate? Three flips in a row within a
    // millisecond of the period turn soft sync off.
    const int period = 1000 / hertz;
    const uint32_t start = ElapsedMillis();
    int hits = 0;
    while (static_cast<int32_t>(ElapsedMillis() - (start + 1000)) < 0) {
      uint32_t t0 = ElapsedMillis();
      s.driver->Flip(1);
      int dt = static_cast<int>(ElapsedMillis() - t0) - period;
      if (dt >= -1 && dt <= 1) {
        if (++hits == 3) {
          soft = false;
          break;
        }
      } else {
        hits = 0;
      }
    }
  }
  s.sync.Start(hertz, ElapsedMillis());
  s.sync.soft = soft;
  s.screen = g;
  if (depth != 0) MovePointer(width / 2, height / 2);
  StartInputPolling(nullptr);
  if (!s.exitActionRegistered) {
    s.exitActionRegistered = true;
    OnEndProgram([] { CloseScreen(); });
  }
  return g;
}

void ShowFrame(int sync) {
  GraphicsState& s = State();
  CallHooks(FrameHookId(), nullptr);
  if (!s.driver) return;
  if (FramesPacedByHost()) {
    // The page shows the frame when the frame function returns; waiting here would only
    // hold the page up.
    s.driver->Flip(0);
    return;
  }
  if (sync != -1) {
    s.driver->Flip(sync);
    return;
  }
  if (!s.current || s.current != s.screen || !s.sync.soft) {
    s.driver->Flip(s.depth != 0 ? 1 : 0);
    return;
  }
  int wait = s.sync.Advance(ElapsedMillis());
  if (wait > 0) SleepMillis(wait);
  s.driver->Flip(0);
}
