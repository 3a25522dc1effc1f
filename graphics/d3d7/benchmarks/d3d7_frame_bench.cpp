// One 800 x 600 frame of play on the DirectX 7 renderer: the scrolling background
// repeated over the window, about forty masked and filtered 80 x 80 tiles, the ball, a
// few falling fragments and the score text, all in the alpha blend mode the game uses.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/system/system.h>

namespace {

struct Scene {
  TImagePtr tiles, back, bits;
  TImageFontPtr font;
  int frame = 0;
};

// Deterministic art: tiles are coloured discs on magenta, the background a soft pattern.
TPixmapPtr MakeTiles() {
  auto p = TPixmap::Create(80 * 10, 80 * 4, PIXFMT_RGB888);
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      int cx = x % 80 - 40, cy = y % 80 - 40, cell = (y / 80) * 10 + x / 80;
      uint32_t c = 0xFFFF00FFu;
      if (cx * cx + cy * cy < 38 * 38)
        c = 0xFF000000u | static_cast<uint32_t>((cell * 53) & 255) << 16 |
            static_cast<uint32_t>((cell * 97 + cx * 2) & 255) << 8 | static_cast<uint32_t>((140 + cy) & 255);
      p->WritePixel(x, y, c);
    }
  return p;
}

TPixmapPtr MakeBack() {
  auto p = TPixmap::Create(256, 256, PIXFMT_RGB888);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      p->WritePixel(x, y, 0xFF000000u | static_cast<uint32_t>((x ^ y) & 63) << 16 |
                              static_cast<uint32_t>((x + y) & 127) << 8 | 96u);
  return p;
}

TPixmapPtr MakeBits() {
  auto p = TPixmap::Create(80, 80, PIXFMT_RGB888);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 80; ++x)
      p->WritePixel(x, y, ((x % 8) + (y % 8)) % 5 == 0 ? 0xFFFF00FFu : 0xFFFFC040u);
  return p;
}

Scene& Setup() {
  static Scene s;
  static bool done = false;
  if (done) return s;
  done = true;
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  InitSystemModule();
  InitD3D7Module();
  UseGraphicsDriver(DirectX7Renderer(), GFX_BACKBUFFER);
  OpenScreen(800, 600, 0, 0, 0);
  SetBlendMode(BLEND_ALPHA);
  SetImageMaskColor(255, 0, 255);
  s.tiles = LoadImageStrip(MakeTiles(), 80, 80, 0, 40);
  s.back = LoadImageFile(MakeBack());
  s.bits = LoadImageStrip(MakeBits(), 8, 8, 0, 100);
  s.font = LoadTextFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 64, 4);
  return s;
}

void DrawFrame(Scene& s) {
  const int scroll = s.frame % 64;
  ClearScreen();
  SetDrawAlpha(1);
  SetDrawRotation(0);
  SetDrawScale(1, 1);
  SetDrawColor(255, 255, 255);
  RepeatImage(s.back, 0, static_cast<float>(scroll + 64 * (s.frame / 64)) * 0.5f, 0);
  // Ten rows: a wall at each side and three tiles between them.
  for (int row = 9; row >= 0; --row) {
    const float y = static_cast<float>(64 * (row - 1) + scroll);
    BlitImage(s.tiles, -48, y, 8);
    for (int k = 0; k < 3; ++k) {
      const int col = (row * 5 + k * 4) % 12;
      BlitImage(s.tiles, static_cast<float>(64 * col + 16), y, (row + k) % 8 + 10 * (k % 3));
    }
    BlitImage(s.tiles, 784, y, 8);
  }
  BlitImage(s.tiles, 400, 300 + static_cast<float>(s.frame % 7), 30);
  // A burst of fragments, turning and fading.
  for (int i = 0; i < 12; ++i) {
    SetDrawRotation(static_cast<float>(i * 30 + s.frame * 5));
    SetDrawAlpha(1.0f - static_cast<float>(i) / 16.0f);
    BlitImage(s.bits, 300 + static_cast<float>(i * 9), 200 + static_cast<float>(i * 5 + s.frame % 11), i);
  }
  SetDrawRotation(0);
  SetDrawAlpha(1);
  UseTextFont(s.font);
  const Text score = IntToText(12340 + s.frame);
  DrawString(score, 330, 8);
  UseTextFont(nullptr);
  DrawString(u"(F3) Switch to OpenGL", 0, 20);
  ++s.frame;
}

void BM_FrameOfPlay(benchmark::State& state) {
  Scene& s = Setup();
  for (auto _ : state) DrawFrame(s);
}
BENCHMARK(BM_FrameOfPlay)->Unit(benchmark::kMillisecond);

void BM_FrameOfPlayPresented(benchmark::State& state) {
  Scene& s = Setup();
  for (auto _ : state) {
    DrawFrame(s);
    ShowFrame(0);
  }
}
BENCHMARK(BM_FrameOfPlayPresented)->Unit(benchmark::kMillisecond);

// Forty tiles turned and scaled: every pixel goes through bilinear sampling.
void BM_TurnedTiles(benchmark::State& state) {
  Scene& s = Setup();
  int frame = 0;
  for (auto _ : state) {
    ClearScreen();
    for (int i = 0; i < 40; ++i) {
      SetDrawRotation(static_cast<float>(i * 9 + frame));
      SetDrawScale(1.25f, 1.25f);
      BlitImage(s.tiles, static_cast<float>(60 + (i % 8) * 95), static_cast<float>(60 + (i / 8) * 110), i % 30);
    }
    SetDrawRotation(0);
    SetDrawScale(1, 1);
    ++frame;
  }
}
BENCHMARK(BM_TurnedTiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
