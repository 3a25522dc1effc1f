// One 800 x 600 frame of game-like drawing through the OpenGL renderer and through the
// shader renderer (Mesa llvmpipe under Xvfb here): a repeated background tile, 40 rotated
// and scaled 80 x 80 sprites with alpha blending, and a line of text; shown and finished
// with glFinish so the rasterizer's work is counted. Run under xvfb-run when there is no display.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>

namespace {

TImagePtr Sprite(int w, int h, uint32_t seed) {
  TImagePtr image = NewImage(w, h, 1, IMG_FILTERED);
  TPixmapPtr p = LockImagePixels(image, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int dx = x - w / 2, dy = y - h / 2;
      const bool inside = dx * dx + dy * dy < (w / 2) * (w / 2);
      const uint32_t c = (seed * 2654435761u + static_cast<uint32_t>(x * 7 + y * 13)) & 0xFFFFFF;
      p->WritePixel(x, y, inside ? (0xFF000000u | c) : 0);
    }
  }
  return image;
}

// Argument 0: the OpenGL renderer; 1: the shader renderer.
void BM_GameFrame(benchmark::State& state) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X display (run under xvfb-run)");
    return;
  }
  InitOpenGLModule();
  InitGLES2Module();
  TVex2DDriver* renderer = state.range(0) == 0 ? static_cast<TVex2DDriver*>(OpenGLRenderer()) : GLES2Renderer();
  state.SetLabel(ToUtf8(renderer->ToString()));
  UseGraphicsDriver(renderer, GFX_BACKBUFFER);
  if (!OpenScreen(800, 600, 0, 0, 0)) {
    state.SkipWithError("cannot open the window");
    return;
  }
  TImagePtr tile = Sprite(64, 64, 1);
  TImagePtr ball = Sprite(80, 80, 2);
  CenterImageAnchor(ball);
  SetBlendMode(BLEND_ALPHA);
  const uint64_t calls = GLES2Renderer()->DrawCalls();
  for (auto _ : state) {
    ClearScreen();
    SetDrawColor(255, 255, 255);
    SetDrawAlpha(1);
    SetDrawTransform(0, 1, 1);
    RepeatImage(tile, 0, 0);
    for (int i = 0; i < 40; ++i) {
      SetDrawTransform(static_cast<float>(i * 9), 1.0f + (i % 3) * 0.1f, 1.0f);
      BlitImage(ball, static_cast<float>(60 + (i % 8) * 90), static_cast<float>(60 + (i / 8) * 100));
    }
    SetDrawTransform(0, 1, 1);
    DrawString(u"Score 123456  Chain x4", 10, 570);
    ShowFrame();
    glFinish();
  }
  if (state.range(0) == 1 && state.iterations() > 0) {
    state.counters["draw_calls"] =
        static_cast<double>(GLES2Renderer()->DrawCalls() - calls) / static_cast<double>(state.iterations());
  }
  CloseScreen();
}

}  // namespace

BENCHMARK(BM_GameFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
