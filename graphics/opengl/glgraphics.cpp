// The platform OpenGL graphics driver on SDL2: windows with GL contexts (compatibility
// profile) that all share display lists and textures with one hidden 1 x 1 context.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>

#include <ormix/graphics/opengl/opengl.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/system/sdl_system.h>
#include <ormix/system/system.h>

namespace {

constexpr int KIND_ATTACHED = 1;
constexpr int KIND_WINDOW = 2;
constexpr int KIND_FULLSCREEN = 3;

// One platform context.
struct GLContextRecord {
  int kind = 0;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  GLContextRecord* next = nullptr;  // records are linked newest first
};

class TGLGraphics;

struct GLPlatform {
  bool videoStarted = false;
  SDL_Window* sharedWindow = nullptr;
  SDL_GLContext sharedContext = nullptr;
  GLContextRecord* records = nullptr;
  GLContextRecord* current = nullptr;     // record made current through SetGraphics
  SDL_Window* fullscreenWindow = nullptr;  // window that holds the display mode
  int swapInterval = -1;                   // last interval set by Flip
};

GLPlatform& Platform() {
  static GLPlatform platform;
  return platform;
}

void StartVideo() {
  GLPlatform& p = Platform();
  if (p.videoStarted) return;
  InitSystemModule();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "GLGraphicsDriver: no video: %s\n", SDL_GetError());
    std::exit(-1);
  }
  p.videoStarted = true;
}

void SetPixelFormatAttributes(int flags) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (flags & GFX_BACKBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, (flags & GFX_ALPHABUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, (flags & GFX_DEPTHBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, (flags & GFX_STENCILBUFFER) ? 1 : 0);
  const int accum = (flags & GFX_ACCUMBUFFER) ? 1 : 0;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
}

// The hidden context every other context shares with; made before the first one.
void EnsureSharedContext() {
  GLPlatform& p = Platform();
  if (p.sharedContext) return;
  StartVideo();
  SetPixelFormatAttributes(0);
  p.sharedWindow = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN |
                                                        SDL_WINDOW_BORDERLESS);
  if (p.sharedWindow) p.sharedContext = SDL_GL_CreateContext(p.sharedWindow);
  if (!p.sharedContext) {
    std::fprintf(stderr, "GLGraphicsDriver: cannot create the shared context: %s\n",
                 SDL_GetError());
    std::exit(0);
  }
  // Creating a context makes it current; leave nothing current afterwards.
  SDL_GL_MakeCurrent(nullptr, nullptr);
}

void Link(GLContextRecord* r) {
  GLPlatform& p = Platform();
  r->next = p.records;
  p.records = r;
}

void Unlink(GLContextRecord* r) {
  GLPlatform& p = Platform();
  for (GLContextRecord** link = &p.records; *link; link = &(*link)->next) {
    if (*link == r) {
      *link = r->next;
      break;
    }
  }
  r->next = nullptr;
}

GLContextRecord* FindRecord(uint32_t windowId) {
  for (GLContextRecord* r = Platform().records; r; r = r->next) {
    if (r->window && SDL_GetWindowID(r->window) == windowId) return r;
  }
  return nullptr;
}

void SetSwapInterval(int interval) { SDL_GL_SetSwapInterval(interval); }

// Switches the window to full screen in a display mode of exactly width x height (and
// the refresh rate, when one is given). False when the display has no such mode.
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

// Full screen takes the display mode when its window gets the focus...
void EnterFullScreen(GLContextRecord* r) {
  GLPlatform& p = Platform();
  bool withHertz = r->hertz != 0;
  bool ok = SetFullScreenMode(r->window, r->width, r->height, r->depth, r->hertz);
  if (!ok && withHertz) {
    withHertz = false;
    ok = SetFullScreenMode(r->window, r->width, r->height, r->depth, 0);
  }
  if (!ok) throw TDisplayModeException();
  p.fullscreenWindow = r->window;
  SetSwapInterval(withHertz ? 1 : 0);
}

// ...and gives the desktop back (minimised) when it loses it or is destroyed.
void LeaveFullScreen(GLContextRecord* r) {
  GLPlatform& p = Platform();
  SDL_SetWindowFullscreen(r->window, 0);
  SDL_MinimizeWindow(r->window);
  SetSwapInterval(0);
  p.fullscreenWindow = nullptr;
}

void WindowProc(const SDL_Event& event) {
  if (event.type != SDL_WINDOWEVENT) return;
  GLContextRecord* r = FindRecord(event.window.windowID);
  if (!r) return;
  GLPlatform& p = Platform();
  switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (r->kind == KIND_FULLSCREEN && p.fullscreenWindow != r->window) EnterFullScreen(r);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (p.fullscreenWindow == r->window) LeaveFullScreen(r);
      break;
    default:
      // A close request reaches the program only as an event.
      break;
  }
}

class TGLGraphics : public TGraphics {
public:
  GLContextRecord* _context = nullptr;

  ~TGLGraphics() override { Close(); }

  TGraphicsDriver* Driver() override { return OpenGLGraphicsDriver(); }

  void GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    GLContextRecord* r = _context;
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
    GLContextRecord* r = _context;
    if (!r) return;
    _context = nullptr;
    GLPlatform& p = Platform();
    if (p.current == r) {
      SDL_GL_MakeCurrent(nullptr, nullptr);
      p.current = nullptr;
    } else if (SDL_GL_GetCurrentContext() == r->context) {
      SDL_GL_MakeCurrent(nullptr, nullptr);
    }
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

class TGLGraphicsDriver : public TGraphicsDriver {
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
    if (!widget) return nullptr;
    EnsureSharedContext();
    auto* window = static_cast<SDL_Window*>(widget);
    SDL_GLContext context = CreateSharedContext(window, flags);
    if (!context) return nullptr;
    auto* r = new GLContextRecord;
    r->kind = KIND_ATTACHED;
    r->window = window;
    r->context = context;
    r->flags = flags;
    SDL_GetWindowSize(window, &r->width, &r->height);
    Link(r);
    auto g = std::make_shared<TGLGraphics>();
    g->_context = r;
    return g;
  }

  TGraphicsPtr CreateGraphics(int width, int height, int depth, int hertz, int flags) override {
    EnsureSharedContext();
    SetPixelFormatAttributes(flags);
    const std::string title = ToUtf8(Startup().appTitle);
    SDL_Window* window = nullptr;
    int kind;
    if (depth == 0) {
      kind = KIND_WINDOW;
      window = SDL_CreateWindow(title.c_str(), 32, 32, width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    } else {
      kind = KIND_FULLSCREEN;
      window = SDL_CreateWindow(title.c_str(), 0, 0, width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
    }
    if (!window) return nullptr;
    SDL_GLContext context = CreateSharedContext(window, flags);
    if (!context) {
      SDL_DestroyWindow(window);
      return nullptr;
    }
    auto* r = new GLContextRecord;
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
    auto g = std::make_shared<TGLGraphics>();
    g->_context = r;
    return g;
  }

  void SetGraphics(const TGraphicsPtr& g) override {
    GLPlatform& p = Platform();
    auto* gl = dynamic_cast<TGLGraphics*>(g.get());
    GLContextRecord* r = gl ? gl->_context : nullptr;
    if (r == p.current && (!r || SDL_GL_GetCurrentContext() == r->context)) return;
    if (r) {
      SDL_GL_MakeCurrent(r->window, r->context);
    } else {
      SDL_GL_MakeCurrent(nullptr, nullptr);
    }
    p.current = r;
  }

  void Flip(int sync) override {
    GLPlatform& p = Platform();
    if (!p.current) return;
    const int interval = sync ? 1 : 0;
    if (interval != p.swapInterval) {
      SetSwapInterval(interval);
      p.swapInterval = interval;
    }
    SDL_GL_SwapWindow(p.current->window);
  }

  Text ToString() override { return u"OpenGL Graphics"; }

private:
  // A GL context for window that shares with the hidden context. Restores whatever
  // context was current before.
  static SDL_GLContext CreateSharedContext(SDL_Window* window, int flags) {
    GLPlatform& p = Platform();
    SDL_Window* prevWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext prevContext = SDL_GL_GetCurrentContext();
    SetPixelFormatAttributes(flags);
    SDL_GL_MakeCurrent(p.sharedWindow, p.sharedContext);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
    SDL_GLContext context = SDL_GL_CreateContext(window);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
    SDL_GL_MakeCurrent(prevWindow, prevContext);
    return context;
  }
};

}  // namespace

TGraphicsDriver* OpenGLGraphicsDriver() {
  static TGLGraphicsDriver* driver = new TGLGraphicsDriver;
  return driver;
}

void SwapSharedContext() {
  GLPlatform& p = Platform();
  EnsureSharedContext();
  if (SDL_GL_GetCurrentContext() != p.sharedContext) {
    SDL_GL_MakeCurrent(p.sharedWindow, p.sharedContext);
  } else if (p.current) {
    SDL_GL_MakeCurrent(p.current->window, p.current->context);
  } else {
    SDL_GL_MakeCurrent(nullptr, nullptr);
  }
}

SDL_Window* GLGraphicsWindow(const TGraphicsPtr& g) {
  TGraphics* inner = g.get();
  if (auto* g2d = dynamic_cast<TVex2DGraphics*>(inner)) inner = g2d->_graphics.get();
  auto* gl = dynamic_cast<TGLGraphics*>(inner);
  return gl && gl->_context ? gl->_context->window : nullptr;
}

bool GLContextAlive() { return Platform().sharedContext != nullptr; }
