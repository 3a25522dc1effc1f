// Frame pacing: a 60 Hz loop of empty frames through ShowFrame() in a real 800 x 600
// window. Reports the mean frame period, the drift of the last frame from its ideal time,
// the worst distance of any frame from its ideal time, and the process CPU time as a
// share of one core. Run under xvfb-run when there is no display.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/opengl/opengl.h>

namespace {

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool OpenWindow(benchmark::State& state, int hertz) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X display (run under xvfb-run)");
    return false;
  }
  InitOpenGLModule();
  UseGraphicsDriver(OpenGLRenderer(), GFX_BACKBUFFER);
  if (!OpenScreen(800, 600, 0, hertz, 0)) {
    state.SkipWithError("cannot open the window");
    return false;
  }
  return true;
}

void PacedLoop(benchmark::State& state, bool clear) {
  if (!OpenWindow(state, 60)) return;
  const int frames = static_cast<int>(state.range(0));
  std::vector<double> at(static_cast<size_t>(frames) + 1);
  for (auto _ : state) {
    for (int i = 0; i < 5; ++i) ShowFrame();  // settle into the schedule
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    at[0] = Seconds(CLOCK_MONOTONIC);
    for (int i = 1; i <= frames; ++i) {
      if (clear) ClearScreen();
      ShowFrame();
      at[static_cast<size_t>(i)] = Seconds(CLOCK_MONOTONIC);
    }
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double wall = at.back() - at.front();
    double worst = 0;
    for (int i = 1; i <= frames; ++i) {
      const double ideal = i * (1.0 / 60.0);
      worst = std::fmax(worst, std::fabs(at[static_cast<size_t>(i)] - at[0] - ideal));
    }
    state.counters["mean_period_ms"] = wall / frames * 1000.0;
    state.counters["ideal_period_ms"] = 1000.0 / 60.0;
    state.counters["drift_ms"] = (wall - frames / 60.0) * 1000.0;
    state.counters["worst_offset_ms"] = worst * 1000.0;
    state.counters["cpu_percent_of_core"] = cpu / wall * 100.0;
  }
  CloseScreen();
}

void BM_PacedEmptyFrames(benchmark::State& state) { PacedLoop(state, false); }
void BM_PacedClearedFrames(benchmark::State& state) { PacedLoop(state, true); }

// The cost of one unpaced frame (clear and flip) for comparison.
void BM_UnpacedClearedFrame(benchmark::State& state) {
  if (!OpenWindow(state, 0)) return;
  for (auto _ : state) {
    ClearScreen();
    ShowFrame();
  }
  CloseScreen();
}

}  // namespace

BENCHMARK(BM_PacedEmptyFrames)->Arg(600)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PacedClearedFrames)->Arg(600)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnpacedClearedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
