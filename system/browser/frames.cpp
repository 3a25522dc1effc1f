// The frame loop and kept folders in the browser: the page's animation frames call the
// frame function, and kept folders live in IndexedDB through Emscripten's file system.
#include <ormix/system/frames.h>

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Time spent in frame functions, for the page's benchmark (ormix_frame_stats).
struct TFrameStats {
  int frames = 0;
  double totalMillis = 0, maxMillis = 0;
} g_stats;

struct TFrameLoop {
  std::function<bool()> frame;
  double period = 1000.0 / 60;
  double due = 0;  // time of the next frame, milliseconds
};

void LoopStep(void* arg) {
  auto* loop = static_cast<TFrameLoop*>(arg);
  const double now = emscripten_get_now();
  if (loop->due == 0) loop->due = now;
  // Animation frames come at the display's rate (60, 75, 120 Hz...): run the frames whose
  // time has come, at most a few (a page in the background gets no animation frames; on
  // its return play goes on rather than racing to catch up).
  int frames = 0;
  while (now + 1.0 >= loop->due && frames < 4) {
    const double start = emscripten_get_now();
    const bool more = loop->frame();
    const double spent = emscripten_get_now() - start;
    ++g_stats.frames;
    g_stats.totalMillis += spent;
    g_stats.maxMillis = std::max(g_stats.maxMillis, spent);
    if (!more) {
      emscripten_cancel_main_loop();
      delete loop;
      return;
    }
    loop->due += loop->period;
    ++frames;
  }
  if (now - loop->due > 4 * loop->period) loop->due = now + loop->period;
}

std::function<void()>* g_ready = nullptr;

}  // namespace

// Frames run so far (what = 0), the milliseconds spent in them (1) and in the longest (2);
// what = 3 starts counting again.
extern "C" EMSCRIPTEN_KEEPALIVE double ormix_frame_stats(int what) {
  switch (what) {
    case 0: return g_stats.frames;
    case 1: return g_stats.totalMillis;
    case 2: return g_stats.maxMillis;
    default: g_stats = TFrameStats{}; return 0;
  }
}

void RunFrames(std::function<bool()> frame, int hertz) {
  auto* loop = new TFrameLoop;
  loop->frame = std::move(frame);
  if (hertz > 0) loop->period = 1000.0 / hertz;
  // 0 frames a second: the browser's animation frames; never returns to the caller (the
  // frame function's stack is given up, so nothing on it may be needed later).
  emscripten_set_main_loop_arg(LoopStep, loop, 0, 1);
}

bool FramesPacedByHost() { return true; }

extern "C" EMSCRIPTEN_KEEPALIVE void ormix_kept_folder_ready(int ok) {
  if (!ok) std::fprintf(stderr, "ormix: the page's storage could not be read; files will not be kept\n");
  std::unique_ptr<std::function<void()>> ready(g_ready);
  g_ready = nullptr;
  if (ready && *ready) (*ready)();
}

void KeepFolder(const std::string& folder, std::function<void()> ready) {
  g_ready = new std::function<void()>(std::move(ready));
  // clang-format off
  EM_ASM({
    var dir = UTF8ToString($0);
    var path = "";
    dir.split('/').forEach(function(part) {
      if (!part) return;
      path += '/' + part;
      try { FS.mkdir(path); } catch (e) {}
    });
    var ok = 1;
    try { FS.mount(IDBFS, {}, dir); } catch (e) { ok = 0; }
    if (!ok) { setTimeout(function() { try { _ormix_kept_folder_ready(0); } catch (e) { if (e !== 'unwind' && !(e instanceof ExitStatus)) throw e; } }, 0); return; }
    FS.syncfs(true, function(err) {
      // The program's frame loop takes over from here: it leaves by throwing 'unwind'.
      try { _ormix_kept_folder_ready(err ? 0 : 1); } catch (e) { if (e !== 'unwind' && !(e instanceof ExitStatus)) throw e; }
    });
  }, folder.c_str());
  // clang-format on
}

void SaveKeptFolders() {
  EM_ASM({
    FS.syncfs(false, function(err) {
      if (err) console.error('ormix: the storage of the page could not be written: ' + err);
    });
  });
}
