// A sprite scene drawn by Ormix's renderers and by SDL2's renderers, in one run.
//
// N alpha-blended 32 x 32 sprites of one texture at fixed pseudo-random places in an
// 800 x 600 window, the window cleared and presented every frame; each frame is finished
// (glFinish on the OpenGL renderers; the software ones have presented their pixels when
// the present returns). For every renderer it prints the median milliseconds per frame of
// at least 100 frames after a warm-up, for N = 1,000, 10,000 and 50,000, and the largest N
// whose frame fits 16.7 ms.
//
//   sprites_peer_bench [--frames F] [--renderers d3d7,opengl,gles2,sdl-software,sdl-opengl]
// Needs an X display (xvfb-run -a under CI or over ssh).
#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ormix/graphics/d3d7/d3d7.h>
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/gles2/gles2.h>
#include <ormix/graphics/opengl/opengl.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/system/system.h>

namespace {

constexpr int kWidth = 800, kHeight = 600, kSprite = 32;

// The sprite: a soft-edged disc with a coloured ring, alpha falling off to the edge.
uint32_t SpritePixel(int x, int y) {
  const float dx = static_cast<float>(x) - 15.5f, dy = static_cast<float>(y) - 15.5f;
  const float r = std::sqrt(dx * dx + dy * dy);
  const int a = r >= 16 ? 0 : r <= 12 ? 255 : static_cast<int>((16 - r) * 63.75f);
  const uint32_t red = 80 + static_cast<uint32_t>(x * 5), green = 255 - static_cast<uint32_t>(y * 4), blue = 160;
  return static_cast<uint32_t>(a) << 24 | red << 16 | green << 8 | blue;
}

struct Place {
  float x, y;
};

// The same places for every renderer: a fixed linear congruential sequence.
std::vector<Place> Places(int n) {
  std::vector<Place> p(static_cast<size_t>(n));
  uint32_t seed = 2026;
  auto next = [&](int range) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>((seed >> 8) % static_cast<uint32_t>(range));
  };
  for (Place& q : p) q = {next(kWidth - kSprite), next(kHeight - kSprite)};
  return p;
}

double Now() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A renderer under test: draws one finished frame of the first n places.
struct Renderer {
  std::string name;
  std::function<bool()> open;
  std::function<void(const std::vector<Place>&, int)> frame;
  std::function<void()> close;
};

double MedianFrame(Renderer& r, const std::vector<Place>& places, int n, int frames) {
  for (int i = 0; i < 10; ++i) r.frame(places, n);  // warm-up
  std::vector<double> t;
  t.reserve(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double t0 = Now();
    r.frame(places, n);
    t.push_back(Now() - t0);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// ---- Ormix ----

TPixmapPtr SpritePixmap() {
  auto p = TPixmap::Create(kSprite, kSprite, PIXFMT_RGBA8888);
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) p->WritePixel(x, y, SpritePixel(x, y));
  return p;
}

Renderer OrmixRenderer(const std::string& name, TGraphicsDriver* driver, bool gl) {
  auto image = std::make_shared<TImagePtr>();
  Renderer r;
  r.name = name;
  r.open = [=] {
    UseGraphicsDriver(driver, GFX_BACKBUFFER);
    if (!OpenScreen(kWidth, kHeight, 0, 0, 0)) return false;
    SetBlendMode(BLEND_ALPHA);
    SetClearColor(20, 30, 40);
    *image = LoadImageFile(SpritePixmap(), 0);
    return *image != nullptr;
  };
  r.frame = [=](const std::vector<Place>& p, int n) {
    ClearScreen();
    for (int i = 0; i < n; ++i) BlitImage(*image, p[static_cast<size_t>(i)].x, p[static_cast<size_t>(i)].y);
    if (gl) glFinish();
    ShowFrame(0);
  };
  r.close = [=] {
    image->reset();
    CloseScreen();
  };
  return r;
}

// ---- SDL2 ----

Renderer SdlRenderer(const std::string& name, const char* driver) {
  struct State {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    bool gl = false;
  };
  auto st = std::make_shared<State>();
  Renderer r;
  r.name = name;
  r.open = [=] {
    st->gl = std::string(driver) == "opengl";
    st->window = SDL_CreateWindow("sprites", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, kWidth, kHeight,
                                  st->gl ? SDL_WINDOW_OPENGL : 0);
    if (!st->window) return false;
    int index = -1;
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
      SDL_RendererInfo info;
      if (SDL_GetRenderDriverInfo(i, &info) == 0 && std::string(info.name) == driver) index = i;
    }
    if (index < 0) return false;
    st->renderer = SDL_CreateRenderer(st->window, index, 0);
    if (!st->renderer) return false;
    std::vector<uint32_t> px(kSprite * kSprite);
    for (int y = 0; y < kSprite; ++y)
      for (int x = 0; x < kSprite; ++x) px[static_cast<size_t>(y * kSprite + x)] = SpritePixel(x, y);
    st->texture = SDL_CreateTexture(st->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, kSprite, kSprite);
    if (!st->texture) return false;
    SDL_UpdateTexture(st->texture, nullptr, px.data(), kSprite * 4);
    SDL_SetTextureBlendMode(st->texture, SDL_BLENDMODE_BLEND);
    return true;
  };
  r.frame = [=](const std::vector<Place>& p, int n) {
    SDL_SetRenderDrawColor(st->renderer, 20, 30, 40, 255);
    SDL_RenderClear(st->renderer);
    for (int i = 0; i < n; ++i) {
      SDL_FRect dst{p[static_cast<size_t>(i)].x, p[static_cast<size_t>(i)].y, kSprite, kSprite};
      SDL_RenderCopyF(st->renderer, st->texture, nullptr, &dst);
    }
    SDL_RenderPresent(st->renderer);
    if (st->gl) glFinish();
  };
  r.close = [=] {
    if (st->texture) SDL_DestroyTexture(st->texture);
    if (st->renderer) SDL_DestroyRenderer(st->renderer);
    if (st->window) SDL_DestroyWindow(st->window);
    *st = State{};
  };
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 100;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      frames = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--renderers" && i + 1 < argc) {
      only = "," + std::string(argv[++i]) + ",";
    } else {
      std::printf("usage: sprites_peer_bench [--frames F] [--renderers d3d7,opengl,gles2,sdl-software,sdl-opengl]\n"
                  "Draws N alpha-blended 32x32 sprites into an 800x600 window with each renderer and\n"
                  "prints the median ms per frame for N = 1000, 10000, 50000 and the largest N that\n"
                  "fits 16.7 ms.\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  InitSystemModule();
  InitD3D7Module();
  InitOpenGLModule();
  InitGLES2Module();
  std::vector<Renderer> renderers = {OrmixRenderer("d3d7", DirectX7Renderer(), false),
                                     OrmixRenderer("opengl", OpenGLRenderer(), true),
                                     OrmixRenderer("gles2", GLES2Renderer(), true),
                                     SdlRenderer("sdl-software", "software"), SdlRenderer("sdl-opengl", "opengl")};
  const std::vector<Place> places = Places(200000);
  std::printf("%-13s %10s %10s %10s %14s\n", "renderer", "1,000 ms", "10,000 ms", "50,000 ms", "N in 16.7 ms");
  for (Renderer& r : renderers) {
    if (!only.empty() && only.find("," + r.name + ",") == std::string::npos) continue;
    if (!r.open()) {
      std::printf("%-13s (cannot open: %s)\n", r.name.c_str(), SDL_GetError());
      r.close();
      continue;
    }
    const double t1 = MedianFrame(r, places, 1000, frames);
    const double t10 = MedianFrame(r, places, 10000, frames);
    const double t50 = MedianFrame(r, places, 50000, frames);
    // The largest N that fits a 60 Hz frame: doubling, then halving the step, on short runs.
    int lo = 0, hi = 1000;
    while (hi < 200000 && MedianFrame(r, places, hi, 15) <= 16.7) lo = hi, hi *= 2;
    while (hi - lo > std::max(100, lo / 50)) {
      const int mid = (lo + hi) / 2;
      (MedianFrame(r, places, mid, 15) <= 16.7 ? lo : hi) = mid;
    }
    std::printf("%-13s %10.2f %10.2f %10.2f %14d\n", r.name.c_str(), t1, t10, t50, lo);
    std::fflush(stdout);
    r.close();
  }
  return 0;
}
