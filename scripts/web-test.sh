#!/usr/bin/env bash
# The browser test: builds the game for the web into WEBDIR (scripts/web-build.sh, with its
# libraries cached outside the source tree), then plays it in headless Chromium against
# the score service (game/tests/web/zingle_web_test.py).
#
#   scripts/web-test.sh WEBDIR ZINGLE-SCORES [--bench]
#
# Exits 77 (skipped) when emscripten or Chromium is missing, unless CI=true.
set -uo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
WEBDIR=$1
SCORES=$2
shift 2
if ! command -v emcc >/dev/null; then
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL (CI): emscripten is not installed (scripts/deps.sh installs it)"
    exit 1
  fi
  echo "SKIPPED: emscripten is not installed (apt-get install emscripten)"
  exit 77
fi
bash "$SRC/scripts/web-build.sh" "$WEBDIR" >"$WEBDIR.log" 2>&1
status=$?
if [ $status -ne 0 ]; then
  tail -n 60 "$WEBDIR.log"
  echo "FAIL: scripts/web-build.sh failed (status $status; the whole log is $WEBDIR.log)"
  exit 1
fi
exec python3 "$SRC/game/tests/web/zingle_web_test.py" --page "$WEBDIR/play" --scores "$SCORES" \
  --examples "$WEBDIR/examples" "$@"
