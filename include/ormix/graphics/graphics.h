#pragma once
// Graphics contexts and display modes: the abstract back end (TGraphicsDriver), the
// context (TGraphics), the display-mode record, the process-wide current driver and
// context, the screen opened by OpenScreen, frame pacing and GraphicsGeneration.
#include <cstdint>
#include <memory>
#include <vector>

#include <ormix/runtime/errors.h>
#include <ormix/runtime/text.h>
#include <ormix/stream/data.h>

class TStream;

// Flags of context creation.
constexpr int GFX_BACKBUFFER = 2;
constexpr int GFX_ALPHABUFFER = 4;
constexpr int GFX_DEPTHBUFFER = 8;
constexpr int GFX_STENCILBUFFER = 16;
constexpr int GFX_ACCUMBUFFER = 32;

// One display mode.
struct TGraphicsMode {
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 0;  // bits per pixel
  int32_t hertz = 0;  // refresh rate
  // "800,600,32 60Hz"
  Text ToString() const;
};

// A full-screen display mode that could not be set (raised when a full-screen window
// gains the focus); its text is "GLGraphicsDriver failed to set display mode".
class TDisplayModeException : public TRuntimeException {
public:
  TDisplayModeException() : TRuntimeException("GLGraphicsDriver failed to set display mode") {}
};

class TGraphicsDriver;
class TGraphics;
using TGraphicsPtr = std::shared_ptr<TGraphics>;

// A graphics back end. It is also the data type of its contexts: a context serialises as
// its width, height, depth and hertz (32-bit each) and reads back as the screen opened
// through OpenScreen with those settings (null when it cannot be opened).
class TGraphicsDriver : public TDataType {
public:
  Text Tag() override;  // "ZRK.Graphics.TGraphics"
  TDataPtr ReadObject(TStream& stream) override;
  void WriteObject(TStream& stream, TData& graphics) override;
  // ReadObject's result as a context.
  TGraphicsPtr ReadGraphics(TStream& stream);

  virtual std::vector<TGraphicsMode> GraphicsModes() = 0;
  // A context on an existing native window (an SDL_Window* on this platform).
  virtual TGraphicsPtr AttachGraphics(void* widget, int flags) = 0;
  virtual TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz,
                                      int flags) = 0;
  // Makes g current; null makes none current.
  virtual void SetGraphics(const TGraphicsPtr& g) = 0;
  // Shows the back buffer; sync 0 = at once, non-zero = wait for vertical retrace.
  virtual void Flip(int sync) = 0;
  virtual Text ToString();
};

// One open context: a window (or the whole screen) that a driver draws into.
// Contexts are shared objects; drivers are process-lifetime singletons held by raw pointer.
class TGraphics : public TData, public std::enable_shared_from_this<TGraphics> {
public:
  // The context's data type is its driver.
  TGraphicsDriver* DataType() override;
  virtual TGraphicsDriver* Driver() = 0;
  virtual void GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) = 0;
  virtual void Close() = 0;
};

// Allocates the frame hook id; idempotent. Needs the system module.
void InitGraphicsModule();

// Driver and modes.
void UseGraphicsDriver(TGraphicsDriver* driver, int defaultFlags = GFX_BACKBUFFER);
TGraphicsDriver* CurrentGraphicsDriver();
int GraphicsDefaultFlags();
std::vector<TGraphicsMode> ListGraphicsModes();
int GraphicsModeCount();
void GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz);
// True when a cached mode matches every non-zero argument (0 is a wildcard).
bool HasGraphicsMode(int width, int height, int depth, int hertz);

// Contexts. MakeGraphics and AttachGraphicsToWindow turn driver exceptions into null.
TGraphicsPtr MakeGraphics(int width, int height, int depth, int hertz, int flags);
TGraphicsPtr AttachGraphicsToWindow(void* widget, int flags);
void SelectGraphics(const TGraphicsPtr& g);
TGraphicsPtr CurrentGraphics();
void CloseGraphicsContext(const TGraphicsPtr& g);
int ScreenWidth();
int ScreenHeight();
int ScreenDepth();
int ScreenHertz();
int ScreenFlags();

// The screen: a context with frame pacing and polled input.
TGraphicsPtr OpenScreen(int width, int height, int depth = 0, int hertz = 60, int flags = 0);
void CloseScreen();
TGraphicsPtr ScreenGraphics();
// Runs the frame hooks, waits for the frame's slot (soft sync) and flips.
// sync -1 = paced as the screen was opened; 0 or 1 bypass pacing.
void ShowFrame(int sync = -1);

// Process-wide counter bumped whenever contexts may have been lost; never 0.
int GraphicsGeneration();
// The generation after g: g + 1, wrapping from -1 (or the top of the range) to 1, never 0.
int NextGraphicsGeneration(int g);
// Increments GraphicsGeneration (wrapping from -1 to 1, skipping 0); returns the new value.
int BumpGraphicsGeneration();
// Hook id of the chain that ShowFrame runs before each flip.
int FrameHookId();

// Soft-sync pacing state of the screen.
struct TFrameSync {
  bool soft = false;
  int hertz = 0;
  int period = 0;       // whole milliseconds per frame
  int remainder = 0;    // 1000 - period * hertz
  int accumulator = 0;  // remainder carried between frames
  uint32_t next = 0;    // millisecond clock value at which the next frame is due
  // Sets hertz, period and remainder, clears the accumulator and starts at now.
  void Start(int hz, uint32_t now);
  // Advances the schedule by one frame and returns how many milliseconds to sleep
  // (0 when late; a late frame re-bases the schedule on now).
  int Advance(uint32_t now);
};
TFrameSync& ScreenFrameSync();
