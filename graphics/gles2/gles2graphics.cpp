// The shader renderer's platform graphics driver on SDL2: windows with an OpenGL ES 2
// context (a desktop OpenGL 2.1 context where the machine offers no ES), all sharing
// textures, buffers and programs with one hidden 1 x 1 context on the desktop. In a web
// page there is one canvas and one WebGL context, and nothing to share with.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ormix/graphics/gles2/gles2.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/system/sdl_system.h>
#include <ormix/system/system.h>

#include "gles2platform.h"

#ifdef __EMSCRIPTEN__
constexpr bool kSharedContext = false;
#else
constexpr bool kSharedContext = true;
#endif

namespace {

constexpr int KIND_ATTACHED = 1;
constexpr int KIND_WINDOW = 2;
constexpr int KIND_FULLSCREEN = 3;

enum class ContextKind { Unknown, ES, GL };

// One platform context.
struct GLES2ContextRecord {
  int kind = 0;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  int space = 0;  // object space of its GL names
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  GLES2ContextRecord* next = nullptr;  // newest first
};

struct GLES2Platform {
  bool videoStarted = false;
  ContextKind kind = ContextKind::Unknown;
  SDL_Window* sharedWindow = nullptr;
  SDL_GLContext sharedContext = nullptr;
  GLES2ContextRecord* records = nullptr;
  GLES2ContextRecord* current = nullptr;      // made current through SetGraphics
  SDL_Window* fullscreenWindow = nullptr;
  int swapInterval = -1;
  int lastSpace = 0;
};

GLES2Platform& Platform() {
  static GLES2Platform platform;
  return platform;
}

void StartVideo() {
  GLES2Platform& p = Platform();
  if (p.videoStarted) return;
  InitSystemModule();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "GLES2GraphicsDriver: no video: %s\n", SDL_GetError());
    std::exit(-1);
  }
  p.videoStarted = true;
}

void SetContextAttributes(ContextKind kind, int flags) {
  SDL_GL_ResetAttributes();
  if (kind == ContextKind::ES) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
  } else {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
  }
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (flags & GFX_BACKBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, (flags & GFX_ALPHABUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, (flags & GFX_DEPTHBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, (flags & GFX_STENCILBUFFER) ? 1 : 0);
  // No accumulation buffer exists in GLES 2: GFX_ACCUMBUFFER is not requested.
}

// The kinds of context to try, in order, as ORMIX_GLES2_CONTEXT allows.
std::vector<ContextKind> KindsToTry() {
  const char* want = std::getenv("ORMIX_GLES2_CONTEXT");
  if (want && std::strcmp(want, "es") == 0) return {ContextKind::ES};
  if (want && std::strcmp(want, "gl") == 0) return {ContextKind::GL};
  return {ContextKind::ES, ContextKind::GL};
}

// Makes a context for window: of the kind found before, or the first kind that works.
// With a shared context it shares with it. Restores whatever context was current.
SDL_GLContext CreateContext(SDL_Window* window, int flags) {
  GLES2Platform& p = Platform();
  SDL_Window* prevWindow = SDL_GL_GetCurrentWindow();
  SDL_GLContext prevContext = SDL_GL_GetCurrentContext();
  SDL_GLContext context = nullptr;
  std::vector<ContextKind> kinds = p.kind == ContextKind::Unknown ? KindsToTry()
                                                                 : std::vector<ContextKind>{p.kind};
  for (ContextKind kind : kinds) {
    SetContextAttributes(kind, flags);
    if (p.sharedContext) {
      SDL_GL_MakeCurrent(p.sharedWindow, p.sharedContext);
      SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
    }
    context = SDL_GL_CreateContext(window);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
    if (context) {
      p.kind = kind;
      break;
    }
  }
  SDL_GL_MakeCurrent(prevWindow, prevContext);
  return context;
}

// The hidden context every other context shares with (desktop only); made before the
// first window's context. False when no kind of context can be made.
bool EnsureSharedContext() {
  GLES2Platform& p = Platform();
  StartVideo();
  if (!kSharedContext || p.sharedContext) return true;
  SetContextAttributes(ContextKind::ES, 0);
  p.sharedWindow = SDL_CreateWindow("", 0, 0, 1, 1,
                                    SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
  if (!p.sharedWindow) {
    std::fprintf(stderr, "GLES2GraphicsDriver: cannot create the shared window: %s\n", SDL_GetError());
    return false;
  }
  p.sharedContext = CreateContext(p.sharedWindow, 0);
  if (!p.sharedContext) {
    std::fprintf(stderr, "GLES2GraphicsDriver: cannot create an OpenGL ES 2 or OpenGL 2.1 context: %s\n",
                 SDL_GetError());
    SDL_DestroyWindow(p.sharedWindow);
    p.sharedWindow = nullptr;
    return false;
  }
  p.lastSpace = 1;
  SDL_GL_MakeCurrent(nullptr, nullptr);
  return true;
}

void Link(GLES2ContextRecord* r) {
  GLES2Platform& p = Platform();
  r->next = p.records;
  p.records = r;
  // Contexts that share with the hidden one share its names; otherwise a new space.
  r->space = p.sharedContext ? 1 : ++p.lastSpace;
}

void Unlink(GLES2ContextRecord* r) {
  for (GLES2ContextRecord** link = &Platform().records; *link; link = &(*link)->next) {
    if (*link == r) {
      *link = r->next;
      break;
    }
  }
  r->next = nullptr;
}

GLES2ContextRecord* FindRecord(uint32_t windowId) {
  for (GLES2ContextRecord* r = Platform().records; r; r = r->next) {
    if (r->window && SDL_GetWindowID(r->window) == windowId) return r;
  }
  return nullptr;
}

bool SetFullScreenMode(SDL_Window* window, int width, int height, int depth, int hertz) {
  const int display = SDL_GetWindowDisplayIndex(window);
  SDL_DisplayMode want{};
  want.format = depth == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
  want.w = width;
  want.h = height;
  want.refresh_rate = hertz;
  SDL_DisplayMode mode{};
  if (!SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &want, &mode)) return false;
  if (mode.w != width || mode.h != height) return false;
  if (hertz != 0 && mode.refresh_rate != hertz) return false;
  return SDL_SetWindowDisplayMode(window, &mode) == 0 &&
         SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) == 0;
}

// A full-screen context takes the display mode when its window gets the focus...
void EnterFullScreen(GLES2ContextRecord* r) {
  bool withHertz = r->hertz != 0;
  bool ok = SetFullScreenMode(r->window, r->width, r->height, r->depth, r->hertz);
  if (!ok && withHertz) {
    withHertz = false;
    ok = SetFullScreenMode(r->window, r->width, r->height, r->depth, 0);
  }
  if (!ok) throw TDisplayModeException();
  Platform().fullscreenWindow = r->window;
  SDL_GL_SetSwapInterval(withHertz ? 1 : 0);
}

// ...and gives the desktop back (minimised) when it loses it or is destroyed.
void LeaveFullScreen(GLES2ContextRecord* r) {
  SDL_SetWindowFullscreen(r->window, 0);
  SDL_MinimizeWindow(r->window);
  SDL_GL_SetSwapInterval(0);
  Platform().fullscreenWindow = nullptr;
}

void WindowProc(const SDL_Event& event) {
  if (event.type != SDL_WINDOWEVENT) return;
  GLES2ContextRecord* r = FindRecord(event.window.windowID);
  if (!r) return;
  GLES2Platform& p = Platform();
  if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
    if (r->kind == KIND_FULLSCREEN && p.fullscreenWindow != r->window) EnterFullScreen(r);
  } else if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
    if (p.fullscreenWindow == r->window) LeaveFullScreen(r);
  }
}

class TGLES2Graphics : public TGraphics {
public:
  GLES2ContextRecord* _context = nullptr;

  ~TGLES2Graphics() override { Close(); }

  TGraphicsDriver* Driver() override { return GLES2GraphicsDriver(); }

  void GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    GLES2ContextRecord* r = _context;
    if (!r) {
      width = height = depth = hertz = flags = 0;
      return;
    }
    if (r->kind == KIND_ATTACHED) SDL_GetWindowSize(r->window, &r->width, &r->height);
    width = r->width;
    height = r->height;
    depth = r->depth;
    hertz = r->hertz;
    flags = r->flags;
  }

  void Close() override {
    GLES2ContextRecord* r = _context;
    if (!r) return;
    _context = nullptr;
    GLES2Platform& p = Platform();
    if (p.current == r || SDL_GL_GetCurrentContext() == r->context) SDL_GL_MakeCurrent(nullptr, nullptr);
    if (p.current == r) p.current = nullptr;
    SDL_GL_DeleteContext(r->context);
    if (r->kind != KIND_ATTACHED) {
      if (p.fullscreenWindow == r->window) LeaveFullScreen(r);
      ClearSDLWindowProc(SDL_GetWindowID(r->window));
      SDL_DestroyWindow(r->window);
    }
    Unlink(r);
    delete r;
  }
};

class TGLES2GraphicsDriver : public TGraphicsDriver {
public:
  std::vector<TGraphicsMode> GraphicsModes() override {
    StartVideo();
    std::vector<TGraphicsMode> modes;
    const int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n && i < 1024; ++i) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
      int bits = static_cast<int>(SDL_BITSPERPIXEL(m.format));
      if (SDL_BYTESPERPIXEL(m.format) == 4) bits = 32;
      if (bits < 16) continue;
      modes.push_back(TGraphicsMode{m.w, m.h, bits, m.refresh_rate});
    }
    return modes;
  }

  TGraphicsPtr AttachGraphics(void* widget, int flags) override {
    if (!widget || !EnsureSharedContext()) return nullptr;
    auto* window = static_cast<SDL_Window*>(widget);
    SDL_GLContext context = CreateContext(window, flags);
    if (!context) return nullptr;
    auto* r = new GLES2ContextRecord;
    r->kind = KIND_ATTACHED;
    r->window = window;
    r->context = context;
    r->flags = flags;
    SDL_GetWindowSize(window, &r->width, &r->height);
    Link(r);
    auto g = std::make_shared<TGLES2Graphics>();
    g->_context = r;
    return g;
  }

  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override {
    if (!EnsureSharedContext()) return nullptr;
    const std::string title = ToUtf8(Startup().appTitle);
    const int kind = depth == 0 ? KIND_WINDOW : KIND_FULLSCREEN;
    SDL_Window* window =
        depth == 0 ? SDL_CreateWindow(title.c_str(), 32, 32, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN)
                   : SDL_CreateWindow(title.c_str(), 0, 0, width, height,
                                      SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
    if (!window) return nullptr;
    SDL_GLContext context = CreateContext(window, flags);
    if (!context) {
      SDL_DestroyWindow(window);
      return nullptr;
    }
    auto* r = new GLES2ContextRecord;
    r->kind = kind;
    r->window = window;
    r->context = context;
    SDL_GetWindowSize(window, &r->width, &r->height);
    r->depth = depth;
    r->hertz = hertz;
    r->flags = flags;
    Link(r);
    SetSDLWindowProc(SDL_GetWindowID(window), WindowProc);
    SDL_DisableScreenSaver();
    SDL_ShowWindow(window);
    auto g = std::make_shared<TGLES2Graphics>();
    g->_context = r;
    return g;
  }

  void SetGraphics(const TGraphicsPtr& g) override {
    GLES2Platform& p = Platform();
    auto* gl = dynamic_cast<TGLES2Graphics*>(g.get());
    GLES2ContextRecord* r = gl ? gl->_context : nullptr;
    if (r == p.current && (!r || SDL_GL_GetCurrentContext() == r->context)) return;
    if (r) {
      SDL_GL_MakeCurrent(r->window, r->context);
    } else {
      SDL_GL_MakeCurrent(nullptr, nullptr);
    }
    p.current = r;
  }

  void Flip(int sync) override {
    GLES2Platform& p = Platform();
    if (!p.current) return;
    const int interval = sync ? 1 : 0;
    if (interval != p.swapInterval) {
      SDL_GL_SetSwapInterval(interval);
      p.swapInterval = interval;
    }
    SDL_GL_SwapWindow(p.current->window);
  }

  Text ToString() override { return u"GLES2 Graphics"; }
};

}  // namespace

TGraphicsDriver* GLES2GraphicsDriver() {
  static TGLES2GraphicsDriver* driver = new TGLES2GraphicsDriver;
  return driver;
}

SDL_Window* GLES2GraphicsWindow(const TGraphicsPtr& g) {
  TGraphics* inner = g.get();
  if (auto* g2d = dynamic_cast<TVex2DGraphics*>(inner)) inner = g2d->_graphics.get();
  auto* gl = dynamic_cast<TGLES2Graphics*>(inner);
  return gl && gl->_context ? gl->_context->window : nullptr;
}

Text GLES2ContextKind() {
  switch (Platform().kind) {
    case ContextKind::ES:
      return u"OpenGL ES 2";
    case ContextKind::GL:
      return u"OpenGL 2.1";
    default:
      return u"";
  }
}

bool GLES2ContextIsES() { return Platform().kind == ContextKind::ES; }

namespace {

bool OursIsCurrent() {
  GLES2Platform& p = Platform();
  SDL_GLContext now = SDL_GL_GetCurrentContext();
  if (!now) return false;
  if (now == p.sharedContext) return true;
  for (GLES2ContextRecord* r = p.records; r; r = r->next) {
    if (r->context == now) return true;
  }
  return false;
}

}  // namespace

TGLES2ContextScope::TGLES2ContextScope() {
  if (OursIsCurrent()) {
    _ok = true;
    return;
  }
  GLES2Platform& p = Platform();
  if (!p.sharedContext) return;
  _window = SDL_GL_GetCurrentWindow();
  _context = SDL_GL_GetCurrentContext();
  _switched = true;
  _ok = SDL_GL_MakeCurrent(p.sharedWindow, p.sharedContext) == 0;
}

TGLES2ContextScope::~TGLES2ContextScope() {
  if (_switched) SDL_GL_MakeCurrent(_window, _context);
}

bool GLES2EnsureContext() { return OursIsCurrent(); }

int GLES2ObjectSpace() {
  GLES2Platform& p = Platform();
  if (p.sharedContext) return 1;
  return p.current ? p.current->space : 0;
}
