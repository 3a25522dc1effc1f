// Pixel conversion, scaling, masking, image decoding and glyph rasterising.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <ormix/graphics/font.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/stream/stream.h>

namespace {

TPixmapPtr Pattern(int w, int h, int format) {
  TPixmapPtr p = NewPixmap(w, h, format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p->WritePixel(x, y, 0xFF000000u | uint32_t(x * 2654435761u ^ y * 40503u));
  return p;
}

void BM_ConvertRow(benchmark::State& state) {
  const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
  const int n = 800;
  std::vector<uint8_t> src(n * 4, 77), dst(n * 4);
  for (auto _ : state) {
    ConvertPixelRow(src.data(), from, dst.data(), to, n);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(std::string(PixelFormatName(from)) + " -> " + PixelFormatName(to));
}
BENCHMARK(BM_ConvertRow)
    ->Args({PIXFMT_RGB888, PIXFMT_RGBA8888})
    ->Args({PIXFMT_BGRA8888, PIXFMT_RGBA8888})
    ->Args({PIXFMT_I8, PIXFMT_RGBA8888})
    ->Args({PIXFMT_RGBA8888, PIXFMT_I8})
    ->Args({PIXFMT_BGR888, PIXFMT_RGB888});

void BM_ScalePixmap(benchmark::State& state) {
  const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
  TPixmapPtr p = Pattern(from, from, PIXFMT_RGBA8888);
  for (auto _ : state) benchmark::DoNotOptimize(ScalePixmap(p, to, to));
  state.SetItemsProcessed(state.iterations() * to * to);
}
BENCHMARK(BM_ScalePixmap)->Args({80, 128})->Args({256, 128})->Args({800, 1024});

void BM_KeyOutColor(benchmark::State& state) {
  // A cell of the game's sprite strip: 80 x 80, a quarter of it in the key colour.
  TPixmapPtr p = Pattern(80, 80, PIXFMT_RGB888);
  for (int y = 0; y < 80; y += 2)
    for (int x = 0; x < 80; x += 2) p->WritePixel(x, y, 0xFFFF00FFu);
  for (auto _ : state) benchmark::DoNotOptimize(KeyOutColor(p, 255, 0, 255));
  state.SetItemsProcessed(state.iterations() * 80 * 80);
}
BENCHMARK(BM_KeyOutColor);

void BM_Decode(benchmark::State& state, const char* file) {
  const std::string path = std::string(ORMIX_CORPUS_DIR) + "/images/" + file;
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("corpus not found");
    return;
  }
  InitPixmapModule();
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  int64_t pixels = 0;
  for (auto _ : state) {
    TPixmapPtr p = OpenPixmap(TRamStream::FromBytes(bytes));
    if (!p) {
      state.SkipWithError("decode failed");
      return;
    }
    pixels += int64_t(p->width) * p->height;
  }
  state.SetItemsProcessed(pixels);
}
BENCHMARK_CAPTURE(BM_Decode, png_rgb8, "rgb8.png");
BENCHMARK_CAPTURE(BM_Decode, png_palette1, "palette1.png");
BENCHMARK_CAPTURE(BM_Decode, jpeg, "photo.jpg");
BENCHMARK_CAPTURE(BM_Decode, tga, "image.tga");
BENCHMARK_CAPTURE(BM_Decode, bmp, "palette8.bmp");

void BM_LoadStripMasked(benchmark::State& state) {
  // 40 cells of 80 x 80 in one 3200 x 80 strip, masked per cell as the game loads them.
  TPixmapPtr strip = Pattern(3200, 80, PIXFMT_RGB888);
  SetImageMaskColor(255, 0, 255);
  for (auto _ : state) benchmark::DoNotOptimize(LoadImageStrip(strip, 80, 80, 0, 40, 3));
  SetImageMaskColor(0, 0, 0);
}
BENCHMARK(BM_LoadStripMasked)->Unit(benchmark::kMillisecond);

void BM_BuiltinFont(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TImageFont::CreateDefault());
}
BENCHMARK(BM_BuiltinFont)->Unit(benchmark::kMicrosecond);

void BM_TrueTypeGlyphs(benchmark::State& state) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("DejaVuSans.ttf not installed");
    return;
  }
  for (auto _ : state) {
    // A fresh font each time, so every printable ASCII glyph is rasterised at 24 px.
    TImageFontPtr font = LoadTextFont(path, 24, FONT_SMOOTH);
    for (int c = 32; c < 127; ++c) benchmark::DoNotOptimize(font->LoadGlyph(font->CharToGlyph(c)));
  }
  state.SetItemsProcessed(state.iterations() * 95);
}
BENCHMARK(BM_TrueTypeGlyphs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
