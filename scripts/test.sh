#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite with ctest
# (one test at a time: windows share one X server, and full-screen tests change its mode),
# then builds and runs it once more with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

JOBS=$(nproc)
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
# The test corpus sits beside the repository when it is there; then the tests that use it
# must find it (in CI a missing corpus fails them instead of skipping).
if [ -d ../shared/corpus ]; then export ORMIX_REQUIRE_CORPUS=1; fi
XVFB=(xvfb-run -a -s "-screen 0 1280x1024x24")

# The browser build (its libraries the first time, then the framework and the game) runs
# in the background at the lowest priority, mostly while the tests below wait on windows,
# sockets and timers; the browser test waits for it (scripts/web-build.sh takes a lock).
WEB_PID=
if command -v emcc >/dev/null; then
  mkdir -p build
  echo "== browser build in the background (log: build/browser.background.log) =="
  setsid nice -n 19 bash scripts/web-build.sh "$PWD/build/browser" >build/browser.background.log 2>&1 &
  WEB_PID=$!
  # If this script stops early, so does the build (its own process group).
  trap '[ -n "$WEB_PID" ] && kill -- -"$WEB_PID" 2>/dev/null || true' EXIT
fi

echo "== build (RelWithDebInfo) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS"
echo "== tests =="
(cd build && "${XVFB[@]}" ctest --output-on-failure)
# The browser test has used the background build; a failure there was reported by it.
if [ -n "$WEB_PID" ]; then wait "$WEB_PID" || true; WEB_PID=; fi

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORMIX_SANITIZE=ON -DORMIX_BENCHMARKS=OFF
cmake --build build-asan -j "$JOBS"
echo "== tests under sanitizers =="
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd build-asan && "${XVFB[@]}" ctest --output-on-failure)
