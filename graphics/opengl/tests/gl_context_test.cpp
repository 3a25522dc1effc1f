// Graphics contexts on the OpenGL driver in real windows (Xvfb + Mesa): the screen,
// GraphicsGeneration, display modes, frame hooks, per-context drawing state and textures
// shared between windows.
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>
#include <ormix/system/event.h>
#include <ormix/system/system.h>

#include "testsupport/glscreen.h"

namespace {

class GLContext : public TGLScreenTest {};

TEST_F(GLContext, WindowedScreenHasItsClientAreaTitleAndSoftSync) {
  Startup().appTitle = u"Zingle!";
  const int before = GraphicsGeneration();
  TGraphicsPtr g = OpenScreen(800, 600, 0, 60, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_NE(GraphicsGeneration(), before);
  EXPECT_EQ(ScreenGraphics(), g);
  EXPECT_EQ(CurrentGraphics(), g);
  EXPECT_EQ(ScreenWidth(), 800);
  EXPECT_EQ(ScreenHeight(), 600);
  EXPECT_EQ(ScreenDepth(), 0);
  EXPECT_EQ(ScreenHertz(), 60);
  EXPECT_EQ(ScreenFlags() & GFX_BACKBUFFER, GFX_BACKBUFFER);
  EXPECT_EQ(g->Driver(), OpenGLRenderer());

  SDL_Window* window = GLGraphicsWindow(g);
  ASSERT_NE(window, nullptr);
  int w = 0, h = 0, x = 0, y = 0;
  SDL_GetWindowSize(window, &w, &h);
  SDL_GetWindowPosition(window, &x, &y);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_EQ(x, 32);
  EXPECT_EQ(y, 32);
  EXPECT_STREQ(SDL_GetWindowTitle(window), "Zingle!");
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[2], 800);
  EXPECT_EQ(vp[3], 600);

  const TFrameSync& sync = ScreenFrameSync();
  EXPECT_TRUE(sync.soft);
  EXPECT_EQ(sync.period, 16);
  EXPECT_EQ(sync.remainder, 40);
  ShowFrame();
  ShowFrame(0);
  ShowFrame(1);
}

TEST_F(GLContext, HertzZeroRunsUnpaced) {
  ASSERT_NE(OpenScreen(64, 48, 0, 0, 0), nullptr);
  EXPECT_FALSE(ScreenFrameSync().soft);
  EXPECT_EQ(ScreenFrameSync().period, 0);
  ShowFrame();
}

TEST_F(GLContext, GenerationChangesWithOpenAndCloseOnly) {
  CloseScreen();
  const int g0 = GraphicsGeneration();
  CloseScreen();  // nothing open: no change
  EXPECT_EQ(GraphicsGeneration(), g0);
  ASSERT_NE(OpenScreen(64, 48, 0, 0, 0), nullptr);
  const int g1 = GraphicsGeneration();
  EXPECT_NE(g1, g0);
  CloseScreen();
  EXPECT_NE(GraphicsGeneration(), g1);
  EXPECT_EQ(ScreenGraphics(), nullptr);
  EXPECT_EQ(CurrentGraphics(), nullptr);
  EXPECT_EQ(ScreenWidth(), 0);
}

TEST_F(GLContext, ModesComeFromTheDisplayAndMatchWithWildcards) {
  std::vector<TGraphicsMode> modes = ListGraphicsModes();
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(GraphicsModeCount(), static_cast<int>(modes.size()));
  int w, h, d, hz;
  GraphicsModeAt(0, w, h, d, hz);
  EXPECT_EQ(w, modes[0].width);
  EXPECT_GE(d, 16);
  EXPECT_TRUE(HasGraphicsMode(w, h, d, hz));
  EXPECT_TRUE(HasGraphicsMode(0, 0, d, 0));
  EXPECT_TRUE(HasGraphicsMode(w, 0, 0, 0));
  EXPECT_FALSE(HasGraphicsMode(w + 12345, 0, 0, 0));
  bool any32 = false;
  for (const TGraphicsMode& m : modes) any32 = any32 || m.depth == 32;
  EXPECT_EQ(HasGraphicsMode(0, 0, 32, 0), any32);
}

TObjectPtr CountFrames(int, const TObjectPtr& data, const TObjectPtr& context) {
  ++*static_cast<int*>(context.get());
  return data;
}

TEST_F(GLContext, ShowFrameRunsTheFrameHooks) {
  ASSERT_NE(OpenScreen(64, 48, 0, 0, 0), nullptr);
  auto count = std::make_shared<int>(0);
  InsertHook(FrameHookId(), CountFrames, count);
  ShowFrame();
  ShowFrame(0);
  DeleteHook(FrameHookId(), CountFrames, count);
  ShowFrame();
  EXPECT_EQ(*count, 2);
}

TEST_F(GLContext, ANewContextShowsTwoClearedFramesOnFirstUseOnly) {
  auto count = std::make_shared<int>(0);
  InsertHook(FrameHookId(), CountFrames, count);
  TGraphicsPtr a = OpenScreen(64, 48, 0, 0, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(*count, 2);
  TGraphicsPtr b = MakeGraphics(32, 32, 0, 0, 0);
  ASSERT_NE(b, nullptr);
  SelectGraphics(b);
  EXPECT_EQ(*count, 4);
  SelectGraphics(a);
  SelectGraphics(b);
  EXPECT_EQ(*count, 4);
  DeleteHook(FrameHookId(), CountFrames, count);
  CloseGraphicsContext(b);
}

TEST_F(GLContext, FlagsRequestBuffers) {
  struct Case {
    int flags;
    GLenum query;
  };
  for (Case c : {Case{GFX_ALPHABUFFER, GL_ALPHA_BITS}, Case{GFX_DEPTHBUFFER, GL_DEPTH_BITS},
                 Case{GFX_STENCILBUFFER, GL_STENCIL_BITS}}) {
    ASSERT_NE(OpenScreen(32, 32, 0, 0, c.flags), nullptr);
    GLint bits = 0;
    glGetIntegerv(c.query, &bits);
    EXPECT_GT(bits, 0) << c.flags;
    EXPECT_EQ(ScreenFlags() & c.flags, c.flags);
  }
  ASSERT_NE(OpenScreen(32, 32, 0, 0, 0), nullptr);
  GLboolean doubleBuffered = GL_FALSE;
  glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
  EXPECT_TRUE(doubleBuffered);  // the default flags ask for a back buffer
}

TEST_F(GLContext, EachContextKeepsItsDrawingState) {
  TGraphicsPtr a = OpenScreen(100, 80, 0, 0, 0);
  ASSERT_NE(a, nullptr);
  SetDrawColor(1, 2, 3);
  SetBlendMode(BLEND_LIGHT);
  SetClearColor(0, 90, 0);
  TGraphicsPtr b = MakeGraphics(60, 40, 0, 0, 0);
  ASSERT_NE(b, nullptr);
  SelectGraphics(b);
  EXPECT_EQ(ScreenWidth(), 60);
  int r, g, bl;
  GetDrawColor(r, g, bl);
  EXPECT_EQ(r, 255);  // defaults of a new context
  EXPECT_EQ(GetBlendMode(), BLEND_MASK);
  // A fresh context starts with cleared buffers.
  TPixmapPtr p = CapturePixmap(0, 0, 60, 40);
  EXPECT_EQ(p->ReadPixel(30, 20) & 0xFFFFFF, 0u);

  SelectGraphics(a);
  GetDrawColor(r, g, bl);
  EXPECT_EQ(r * 100 + g * 10 + bl, 123);
  EXPECT_EQ(GetBlendMode(), BLEND_LIGHT);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));  // re-applied to the renderer
  ClearScreen();
  EXPECT_EQ(CapturePixmap(5, 5, 1, 1)->ReadPixel(0, 0) & 0xFFFFFF, 0x005A00u);
  CloseGraphicsContext(b);
  EXPECT_EQ(CurrentGraphics(), a);
}

TEST_F(GLContext, TexturesLiveInTheSharedContext) {
  TGraphicsPtr a = OpenScreen(50, 50, 0, 0, 0);
  ASSERT_NE(a, nullptr);
  TPixmapPtr p = NewPixmap(4, 4, PIXFMT_RGBA8888);
  p->ClearPixels(0xFF123456u);
  TImageFramePtr frame = OpenGLRenderer()->CreateFrameFromPixmap(p, 0);
  ASSERT_NE(frame, nullptr);
  CloseScreen();  // the window the texture was made for goes away

  ASSERT_NE(OpenScreen(50, 50, 0, 0, 0), nullptr);
  SetBlendMode(BLEND_SOLID);
  frame->Draw(0, 0, 4, 4, 10, 10);
  EXPECT_EQ(CapturePixmap(11, 11, 1, 1)->ReadPixel(0, 0), 0xFF123456u);
}

TEST_F(GLContext, ImagesAreRebuiltInANewGeneration) {
  ASSERT_NE(OpenScreen(50, 50, 0, 0, 0), nullptr);
  TImagePtr image = NewImage(4, 4, 1, 0);
  LockImagePixels(image, 0)->ClearPixels(0xFF00FF00u);
  TImageFramePtr first = image->Frame(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(image->Frame(0), first);
  ASSERT_NE(OpenScreen(50, 50, 0, 0, 0), nullptr);
  TImageFramePtr second = image->Frame(0);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  SetBlendMode(BLEND_SOLID);
  BlitImage(image, 20, 20);
  EXPECT_EQ(CapturePixmap(21, 21, 1, 1)->ReadPixel(0, 0), 0xFF00FF00u);
}

TEST_F(GLContext, ChoosingADriverDropsTheCurrentContextButKeepsTheScreen) {
  TGraphicsPtr g = OpenScreen(64, 48, 0, 0, 0);
  ASSERT_NE(g, nullptr);
  UseGraphicsDriver(OpenGLRenderer(), GFX_BACKBUFFER | GFX_ALPHABUFFER);
  EXPECT_EQ(CurrentGraphics(), nullptr);
  EXPECT_EQ(ScreenWidth(), 0);
  EXPECT_EQ(ScreenGraphics(), g);
  EXPECT_EQ(GraphicsDefaultFlags(), GFX_BACKBUFFER | GFX_ALPHABUFFER);
  SelectGraphics(g);
  EXPECT_EQ(ScreenWidth(), 64);
  UseGraphicsDriver(OpenGLRenderer(), GFX_BACKBUFFER);
  CloseScreen();  // closes the recorded screen even when it is not current
  EXPECT_EQ(ScreenGraphics(), nullptr);
}

TEST_F(GLContext, AttachedContextFollowsItsWindowAndLeavesItOpen) {
  ListGraphicsModes();  // starts the video subsystem
  SDL_Window* window = SDL_CreateWindow("foreign", 0, 0, 120, 90, SDL_WINDOW_OPENGL);
  ASSERT_NE(window, nullptr);
  TGraphicsPtr g = AttachGraphicsToWindow(window, 0);
  ASSERT_NE(g, nullptr);
  SelectGraphics(g);
  EXPECT_EQ(ScreenWidth(), 120);
  EXPECT_EQ(ScreenHeight(), 90);
  SetClearColor(0, 0, 255);
  ClearScreen();
  EXPECT_EQ(CapturePixmap(60, 45, 1, 1)->ReadPixel(0, 0), 0xFF0000FFu);
  SDL_SetWindowSize(window, 150, 100);
  int w, h, d, hz, f;
  g->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 150);
  EXPECT_EQ(h, 100);
  CloseGraphicsContext(g);
  EXPECT_EQ(CurrentGraphics(), nullptr);
  EXPECT_NE(SDL_GetWindowID(window), 0u);  // a foreign window stays
  SDL_DestroyWindow(window);
}

TEST_F(GLContext, ContextsSerialiseTheirSettingsAndReadBackAsTheScreen) {
  TGraphicsPtr g = MakeGraphics(72, 40, 0, 30, 0);
  ASSERT_NE(g, nullptr);
  TGraphicsDriver* type = g->DataType();
  ASSERT_EQ(type, OpenGLRenderer());
  EXPECT_EQ(ToUtf8(type->Tag()), "ZRK.Graphics.TGraphics");
  uint8_t bytes[16] = {};
  auto out = TRamStream::Create(bytes, sizeof bytes, 0, 1);
  type->WriteObject(*out, *g);
  EXPECT_EQ(out->Pos(), 16);
  EXPECT_EQ(bytes[0], 72);
  EXPECT_EQ(bytes[4], 40);
  EXPECT_EQ(bytes[12], 30);
  CloseGraphicsContext(g);

  // Through the generic data-type interface, as any serialised object is read.
  TDataType* dataType = type;
  auto in = TRamStream::Create(bytes, sizeof bytes, 1, 0);
  TGraphicsPtr screen = std::dynamic_pointer_cast<TGraphics>(dataType->ReadObject(*in));
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(ScreenGraphics(), screen);
  EXPECT_EQ(ScreenWidth(), 72);
  EXPECT_EQ(ScreenHeight(), 40);
  EXPECT_EQ(ScreenHertz(), 30);
  EXPECT_EQ(ScreenFrameSync().period, 33);
  uint8_t again[16] = {};
  dataType->WriteObject(*TRamStream::Create(again, sizeof again, 0, 1), *screen);
  EXPECT_EQ(0, std::memcmp(again, bytes, sizeof bytes));  // reads back equal

  // A context cannot be read into one that exists, and other objects are not contexts.
  in->Seek(0);
  EXPECT_THROW(dataType->ReadCyclicObject(*in, *screen), TRuntimeException);
  TPixmapPtr pixmap = NewPixmap(1, 1, PIXFMT_I8);
  auto out2 = TRamStream::Create(again, sizeof again, 0, 1);
  EXPECT_THROW(dataType->WriteObject(*out2, *pixmap), TRuntimeException);
  EXPECT_EQ(out2->Pos(), 0);
}

// A driver whose context creation fails by throwing.
class ThrowingDriver : public TGraphicsDriver {
public:
  std::vector<TGraphicsMode> GraphicsModes() override { return {{640, 480, 16, 60}}; }
  TGraphicsPtr AttachGraphics(void*, int) override { throw std::runtime_error("no"); }
  TGraphicsPtr CreateGraphics(int, int, int, int, int) override { throw std::runtime_error("no"); }
  void SetGraphics(const TGraphicsPtr&) override {}
  void Flip(int) override {}
};

TEST(Graphics, DriverExceptionsBecomeNull) {
  ThrowingDriver driver;
  UseGraphicsDriver(&driver, 0);
  const int gen = GraphicsGeneration();
  EXPECT_EQ(MakeGraphics(10, 10, 0, 0, 0), nullptr);
  EXPECT_EQ(AttachGraphicsToWindow(&driver, 0), nullptr);
  EXPECT_EQ(OpenScreen(10, 10, 0, 60, 0), nullptr);
  EXPECT_EQ(GraphicsGeneration(), gen);
  EXPECT_TRUE(HasGraphicsMode(640, 0, 16, 60));
  EXPECT_FALSE(HasGraphicsMode(0, 0, 32, 0));
  int w = -1, h = -1, d = -1, hz = -1;
  GraphicsModeAt(5, w, h, d, hz);  // past the list: nothing is read
  EXPECT_EQ(w | h | d | hz, 0);
  GraphicsModeAt(-1, w, h, d, hz);
  EXPECT_EQ(w | h | d | hz, 0);
  UseGraphicsDriver(nullptr, 0);
  EXPECT_EQ(GraphicsModeCount(), 0);
}

TEST(Graphics, ModeText) {
  EXPECT_EQ(ToUtf8(TGraphicsMode{800, 600, 32, 60}.ToString()), "800,600,32 60Hz");
}

TEST(Graphics, GenerationNeverReadsZero) {
  EXPECT_EQ(NextGraphicsGeneration(-1), 1);
  EXPECT_EQ(NextGraphicsGeneration(1), 2);
  EXPECT_EQ(NextGraphicsGeneration(2147483647), -2147483647 - 1);
  EXPECT_NE(GraphicsGeneration(), 0);
  const int g = GraphicsGeneration();
  EXPECT_EQ(BumpGraphicsGeneration(), NextGraphicsGeneration(g));
}

TEST(FrameSync, SixtyHertzTakesExactlyOneSecond) {
  TFrameSync s;
  s.Start(60, 5000);
  EXPECT_EQ(s.period, 16);
  EXPECT_EQ(s.remainder, 40);
  uint32_t now = 5000;
  int extra = 0;
  for (int i = 0; i < 60; ++i) {
    const int wait = s.Advance(now);
    EXPECT_TRUE(wait == 16 || wait == 17) << i;
    extra += wait - 16;
    now += static_cast<uint32_t>(wait);
  }
  EXPECT_EQ(extra, 40);
  EXPECT_EQ(now, 6000u);
  EXPECT_EQ(s.next, 6000u);
}

TEST(FrameSync, LateFrameRebasesTheSchedule) {
  TFrameSync s;
  s.Start(50, 0);  // 20 ms, no remainder
  EXPECT_EQ(s.Advance(0), 20);
  // The next frame is due at 40 but we are at 100: no sleep, and the schedule moves to
  // 100 so that the following frames are full length again.
  EXPECT_EQ(s.Advance(100), 0);
  EXPECT_EQ(s.next, 100u);
  EXPECT_EQ(s.Advance(101), 19);
  EXPECT_EQ(s.next, 120u);
}

TEST(FrameSync, ClockWrapIsHarmless) {
  TFrameSync s;
  s.Start(60, 0xFFFFFFF0u);
  EXPECT_EQ(s.Advance(0xFFFFFFF0u), 16);
  EXPECT_EQ(s.next, 0u);
  EXPECT_EQ(s.Advance(0u), 17);  // 16 plus the first carried millisecond
}

TEST(FrameSync, ZeroHertz) {
  TFrameSync s;
  s.Start(0, 10);
  EXPECT_EQ(s.period, 0);
  EXPECT_EQ(s.remainder, 1000);
}

}  // namespace
