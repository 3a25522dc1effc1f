#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the game.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/bin/zingle ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the game under Xvfb (nothing visible)." >&2
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/zingle "$@"
  fi
  exec build/bin/zingle "$@"
else
  echo "Built everything; the game executable is not there yet."
fi
