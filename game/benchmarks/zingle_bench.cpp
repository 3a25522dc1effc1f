// Frame times of a scripted game played unpaced in a real window (run under xvfb-run):
// every frame of play, drawing, game logic and buffer swap included.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/zingle.h"
#include <ormix/runtime/runtime.h>

namespace {

// A folder with the game's assets and no settings file, made the current directory.
bool EnterAssetFolder() {
  namespace fs = std::filesystem;
  static bool done = false;
  if (done) return true;
  fs::path bin = fs::path(ORMIX_BINARY_DIR) / "bin";
  if (!fs::exists(bin / "system/173/zingle.png")) return false;
  fs::path dir = fs::temp_directory_path() / ("zingle-bench-" + std::to_string(getpid()));
  fs::create_directories(dir / "system/173");
  for (const auto& e : fs::directory_iterator(bin / "system/173")) {
    if (e.path().filename() == "tigger.hop") continue;
    std::error_code ec;
    fs::create_symlink(e.path(), dir / "system/173" / e.path().filename(), ec);
  }
  if (chdir(dir.c_str()) != 0) return false;
  done = true;
  return true;
}

// Jumps every 40 frames with a little steering, so the game runs for a long while with
// hits, chains, bursts and score labels.
std::string PlayScript(int frames) {
  std::string s = "seed 7\n2 down space\n4 up space\n6 down space\n";
  for (int k = 40; k < frames; k += 40) {
    s += std::to_string(k) + " down space\n" + std::to_string(k + 18) + " up space\n";
    const char* side = (k / 40) % 2 ? "left" : "right";
    s += std::to_string(k + 5) + " down " + side + "\n" + std::to_string(k + 9) + " up " + side + "\n";
  }
  return s;
}

void PlayScripted(benchmark::State& state, int renderer) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no X display (run under xvfb-run)");
    return;
  }
  if (!EnterAssetFolder()) {
    state.SkipWithError("the game's assets are not built");
    return;
  }
  const int frames = static_cast<int>(state.range(0));
  std::ofstream("bench-script.txt") << PlayScript(frames);
  TZingleOptions options;
  options.script = "bench-script.txt";
  options.unpaced = true;
  static TZingleGame* game = nullptr;  // kept: graphics and audio may outlive a run
  game = new TZingleGame();
  game->settings.RendererOption = renderer;
  if (!game->Start(options)) {
    state.SkipWithError("start-up failed");
    return;
  }
  game->BeginCycle();
  std::vector<double> times;
  times.reserve(static_cast<size_t>(frames));
  int games = 0;
  for (auto _ : state) {
    times.clear();
    game->BeginPlay();
    ++games;
    for (int i = 0; i < frames; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      bool going = game->PlayFrame();
      auto t1 = std::chrono::steady_clock::now();
      times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      if (!going) {
        game->BeginPlay();
        ++games;
      }
    }
  }
  double sum = 0, worst = 0;
  for (double t : times) {
    sum += t;
    worst = std::max(worst, t);
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  state.counters["frames"] = static_cast<double>(times.size());
  state.counters["games"] = games;
  state.counters["mean_ms"] = sum / static_cast<double>(times.size());
  state.counters["p99_ms"] = sorted[sorted.size() * 99 / 100];
  state.counters["worst_ms"] = worst;
}

void BM_ScriptedGameOpenGL(benchmark::State& state) { PlayScripted(state, 0); }
void BM_ScriptedGameDirectX7(benchmark::State& state) { PlayScripted(state, 1); }

BENCHMARK(BM_ScriptedGameOpenGL)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScriptedGameDirectX7)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// Ends through EndProgram so that the screen is closed before static objects go away.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  EndProgram();
}
