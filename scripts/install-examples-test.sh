#!/usr/bin/env bash
# Installs a build into a temporary prefix, then configures, builds and runs every example
# of examples/ against the installed package alone: the examples are copied out of the
# source tree and find the framework only through find_package(Ormix) (and one of them once
# more through pkg-config). Also starts the installed game for a few frames.
#
#   install-examples-test.sh BUILD_DIR EXAMPLES_DIR [SANITIZE]
#
# The windowed runs need a display (DISPLAY set, e.g. under xvfb-run); without one they are
# left out and the script exits with 77 (ctest reports the test as skipped).
set -euo pipefail
build=$(cd "$1" && pwd)
examples=$2
sanitize=${3:-OFF}

work=$(mktemp -d "${TMPDIR:-/tmp}/ormix-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

step() { echo "== $*"; }

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for f in bin/ormix bin/zingle share/zingle/zingle.png share/zingle/zingle.mod \
         include/ormix/graphics/image.h lib/cmake/Ormix/OrmixConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
if find "$prefix/include" -name '*.h' | xargs grep -l '#include "' ; then
  echo "installed headers include headers that are not installed (above)"; exit 1
fi

cp -r "$examples" "$work/examples"
# The same compiler (and compiler cache) as the build; sanitizer builds link the runtime too.
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
opts=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefix"
      -DCMAKE_CXX_COMPILER="$(cache CMAKE_CXX_COMPILER)")
launcher=$(cache CMAKE_CXX_COMPILER_LAUNCHER)
[ -n "$launcher" ] && opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
sanflags=""
if [ "$sanitize" = ON ]; then
  sanflags="-fsanitize=address,undefined"
  opts+=(-DCMAKE_CXX_FLAGS="$sanflags" -DCMAKE_EXE_LINKER_FLAGS="$sanflags")
fi
for dir in "$work"/examples/*/; do
  name=$(basename "$dir")
  step "build example $name with find_package(Ormix)"
  cmake -S "$dir" -B "$work/build/$name" "${opts[@]}" > "$work/configure-$name.log" ||
    { cat "$work/configure-$name.log"; exit 1; }
  cmake --build "$work/build/$name" -j 2
done

step "pkg-config --cflags --libs ormix"
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ormix.pc)")
pcflags=$(pkg-config --cflags --libs ormix)
echo "$pcflags"
step "build the sound board with pkg-config"
# shellcheck disable=SC2086
$(cache CMAKE_CXX_COMPILER) $sanflags -O1 -o "$work/soundboard-pc" \
  "$work/examples/soundboard/soundboard.cpp" $pcflags

step "the installed headers compile"
find "$prefix/include" -name '*.h' | sort | sed 's/.*/#include "&"/' > "$work/all_headers.cpp"
# shellcheck disable=SC2046
"$(cache CMAKE_CXX_COMPILER)" -fsyntax-only $(pkg-config --cflags ormix) "$work/all_headers.cpp"

share=$prefix/share/zingle
step "songplayer (no window)"
"$work/build/songplayer/songplayer" "$share/zingle.mod" --seconds 2

if [ -z "${DISPLAY:-}" ]; then
  echo "no display: the window, sound board and game runs are left out"
  exit 77
fi
step "window"
"$work/build/window/window" --frames 30
"$work/build/window/window" "$share/logo.png" --frames 3
step "soundboard"
"$work/build/soundboard/soundboard" "$share/001.wav" --frames 30
"$work/soundboard-pc" --frames 30

step "installed game: started from bin/, assets from share/zingle/, settings per user"
mkdir -p "$work/data" "$work/run"
printf 'seed 1\n3 tap escape\n8 tap escape\n100 quit\n' > "$work/run/escape.txt"
(cd "$work/run" && XDG_DATA_HOME="$work/data" "$prefix/bin/zingle" --unpaced \
   --script "$work/run/escape.txt" --trace "$work/run/trace.txt")
grep -q saved "$work/run/trace.txt" || { echo "the installed game did not save"; cat "$work/run/trace.txt"; exit 1; }
[ -s "$work/data/zingle/tigger.hop" ] || { echo "no settings file in \$XDG_DATA_HOME/zingle/"; exit 1; }
[ ! -e "$share/tigger.hop" ] || { echo "the installed game wrote into share/zingle/"; exit 1; }
echo "all examples built and ran against the installed package"
