// The game on both renderers: the title screen and a frame of play, scripted with the
// same seed and input, are captured under OpenGL and under DirectX 7 and compared.
// They may differ only in small amounts where filtering and blending round differently.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "game/settings.h"
#include "game/tests/zingle_run.h"
#include "testsupport/testsupport.h"
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/text.h>

namespace {

struct Diff {
  int64_t pixels = 0;
  int64_t differing = 0;  // any channel differs by more than the tolerance
  int64_t total = 0;      // sum of the largest channel difference of every pixel
  int largest = 0;
};

Diff Compare(const TPixmapPtr& a, const TPixmapPtr& b, int tolerance) {
  Diff d;
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x) {
      uint32_t p = a->ReadPixel(x, y), q = b->ReadPixel(x, y);
      int m = 0;
      for (int sh = 0; sh < 24; sh += 8)
        m = std::max(m, std::abs(static_cast<int>((p >> sh) & 255) - static_cast<int>((q >> sh) & 255)));
      ++d.pixels;
      d.total += m;
      d.largest = std::max(d.largest, m);
      if (m > tolerance) ++d.differing;
    }
  return d;
}

TEST(GameOnBothRenderers, TitleAndPlayFramesLookTheSame) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  const char* script =
      "seed 7\n"
      "4 shot title.png\n"
      "6 tap space\n"
      "70 tap left\n"
      "12 shot burst.png\n"
      "90 shot play.png\n"
      "91 quit\n";
  TPixmapPtr shots[2][3];
  for (int renderer = 0; renderer < 2; ++renderer) {
    TZingleRun run;
    if (!run.Prepare()) GTEST_SKIP() << run.error;
    TGameSettings s;
    s.PlayerId = 4242;
    s.RendererOption = renderer;
    ASSERT_TRUE(SaveSettings(ToText(run.Path("system/173/tigger.hop")), s));
    ASSERT_EQ(run.Run(script), 0) << run.Trace();
    shots[renderer][0] = OpenPixmap(run.Path("title.png"));
    shots[renderer][1] = OpenPixmap(run.Path("burst.png"));
    shots[renderer][2] = OpenPixmap(run.Path("play.png"));
    ASSERT_TRUE(shots[renderer][0] && shots[renderer][1] && shots[renderer][2]) << renderer;
  }
  const char* names[3] = {"title", "burst", "play"};
  for (int k = 0; k < 3; ++k) {
    const TPixmapPtr& gl = shots[0][k];
    const TPixmapPtr& dx = shots[1][k];
    ASSERT_EQ(gl->width, dx->width);
    ASSERT_EQ(gl->height, dx->height);
    Diff d = Compare(gl, dx, 4);
    std::printf("%s: %lld of %lld pixels differ by more than 4, mean difference %.3f, largest %d\n",
                names[k], static_cast<long long>(d.differing), static_cast<long long>(d.pixels),
                static_cast<double>(d.total) / static_cast<double>(d.pixels), d.largest);
    // Same picture: at most 1 % of the pixels may differ visibly (edges of filtered,
    // scaled or turned images, and on the title the F3 label, which names the other
    // renderer), and on average by very little.
    EXPECT_LT(d.differing * 100, d.pixels) << names[k];
    EXPECT_LT(static_cast<double>(d.total) / static_cast<double>(d.pixels), 1.0) << names[k];
  }
}

}  // namespace
