#!/usr/bin/env bash
# Builds Ormix, Zingle! and the examples for the browser (WebAssembly) into build-web/.
#
# The libraries under the framework (SDL2, zlib, libpng, libjpeg-turbo, FreeType, libogg,
# libvorbis) are built from Debian's source packages, fetched with apt-get source through a
# private apt configuration (nothing under /etc is touched), into a cache folder outside the
# source tree: ${ORMIX_WEB_CACHE:-/var/cache/ormix-web}. Once they are there a second run
# only rebuilds what changed in the framework.
#
#   scripts/web-build.sh [--deps-only] [BUILD_DIR]
#
# Needs Debian's emscripten package (scripts/deps.sh installs it) and dpkg-dev.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
DEPS_ONLY=0
if [ "${1:-}" = "--deps-only" ]; then DEPS_ONLY=1; shift; fi
BUILD=${1:-$SRC/build-web}

if ! command -v emcc >/dev/null || ! command -v emcmake >/dev/null; then
  echo "web-build: emscripten is not installed (apt-get install emscripten)" >&2
  exit 77
fi

# A folder that holds another build (the desktop one, say) is not built over.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -q "Emscripten" "$BUILD/CMakeCache.txt"; then
  echo "web-build: $BUILD holds a build that is not for the browser; give another folder" >&2
  exit 1
fi

# One build of a folder at a time: the test command starts one in the background and the
# browser test's own run waits here for it, then finds little left to do.
if [ $DEPS_ONLY = 0 ]; then
  mkdir -p "$(dirname "$BUILD")"
  exec 8>"$BUILD.lock"
  flock 8
fi

CACHE=${ORMIX_WEB_CACHE:-/var/cache/ormix-web}
if ! mkdir -p "$CACHE" 2>/dev/null || [ ! -w "$CACHE" ]; then
  CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/ormix-web
  mkdir -p "$CACHE"
fi
PREFIX=$CACHE/prefix
mkdir -p "$PREFIX/lib/pkgconfig" "$PREFIX/include" "$CACHE/src" "$CACHE/stamps"
# Nor two builds of the libraries into one cache.
exec 9>"$CACHE/.lock"
flock 9
JOBS=${JOBS:-$(nproc)}

# Debian's node modules (acorn, terser) for the optimiser; node 20 grew a fetch that breaks the
# generated JavaScript's file loading when CMake runs it for its checks.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
EMULATOR="-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v node);--no-experimental-fetch"
# Static libraries: pkg-config's answers include what each library itself links.
STATIC_PC=-DPKG_CONFIG_ARGN=--static
export PKG_CONFIG_LIBDIR=$PREFIX/lib/pkgconfig
export PKG_CONFIG_PATH=
export EM_PKG_CONFIG_LIBDIR=$PKG_CONFIG_LIBDIR
export EM_PKG_CONFIG_PATH=$PKG_CONFIG_LIBDIR

log() { echo "web-build: $*"; }

# --- Debian source packages through a private apt configuration -------------------------
APTDIR=$CACHE/apt
setup_apt() {
  mkdir -p "$APTDIR/lists/partial" "$APTDIR/archives/partial" "$APTDIR/etc/preferences.d" \
           "$APTDIR/etc/sources.list.d"
  cat >"$APTDIR/etc/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
  cat >"$APTDIR/apt.conf" <<EOF
Dir::State "$APTDIR";
Dir::State::Lists "$APTDIR/lists";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$APTDIR";
Dir::Cache::Archives "$APTDIR/archives";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
Dir::Etc::SourceList "$APTDIR/etc/sources.list";
Dir::Etc::SourceParts "$APTDIR/etc/sources.list.d";
Dir::Etc::Preferences "$APTDIR/etc/preferences";
Dir::Etc::PreferencesParts "$APTDIR/etc/preferences.d";
Acquire::Languages "none";
APT::Sandbox::User "root";
Debug::NoLocking "true";
EOF
}
APT_READY=0
apt_source() {  # apt_source PACKAGE -> prints the unpacked folder
  local pkg=$1
  local dir
  dir=$(find "$CACHE/src/$pkg" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | head -n1 || true)
  if [ -z "$dir" ]; then
    if [ $APT_READY = 0 ]; then
      setup_apt
      APT_CONFIG=$APTDIR/apt.conf apt-get -qq update >&2
      APT_READY=1
    fi
    mkdir -p "$CACHE/src/$pkg"
    (cd "$CACHE/src/$pkg" && APT_CONFIG=$APTDIR/apt.conf apt-get -qq source "$pkg" >&2)
    dir=$(find "$CACHE/src/$pkg" -mindepth 1 -maxdepth 1 -type d | head -n1)
  fi
  echo "$dir"
}

# build_dep NAME SOURCEPACKAGE FUNCTION: runs FUNCTION in the unpacked source once.
build_dep() {
  local name=$1 pkg=$2 fn=$3
  [ -f "$CACHE/stamps/$name" ] && return 0
  local dir start=$SECONDS
  dir=$(apt_source "$pkg")
  log "building $name for WebAssembly ($dir)"
  (cd "$dir" && "$fn" >"$CACHE/$name.log" 2>&1) || {
    echo "web-build: building $name failed; the last lines of $CACHE/$name.log:" >&2
    tail -n 30 "$CACHE/$name.log" >&2
    exit 1
  }
  touch "$CACHE/stamps/$name"
  log "$name done in $((SECONDS - start)) s"
}

cmake_dep() {  # cmake_dep [cmake options...]: configure, build and install the current folder
  rm -rf build-wasm
  emcmake cmake -S . -B build-wasm -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DCMAKE_FIND_ROOT_PATH="$PREFIX" -DBUILD_SHARED_LIBS=OFF "$EMULATOR" "$@"
  cmake --build build-wasm -j "$JOBS"
  cmake --install build-wasm
}

b_zlib() {
  make distclean >/dev/null 2>&1 || true
  emconfigure ./configure --static --prefix="$PREFIX"
  emmake make -j "$JOBS" libz.a
  emmake make install
}
b_png() {
  cmake_dep -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_ROOT="$PREFIX" -DZLIB_LIBRARY="$PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$PREFIX/include" \
    -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON
}
b_jpeg() {
  # Its install folders are typed paths: a relative one would be taken from the working folder.
  cmake_dep -DWITH_SIMD=0 -DENABLE_SHARED=0 -DENABLE_STATIC=1 -DWITH_TURBOJPEG=0 \
    -DCMAKE_INSTALL_LIBDIR="$PREFIX/lib" -DCMAKE_INSTALL_INCLUDEDIR="$PREFIX/include"
}
b_freetype() {
  # zlib from the prefix (its own copy would clash with it when both are linked).
  cmake_dep -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON -DFT_DISABLE_BZIP2=ON \
    -DFT_DISABLE_PNG=ON -DFT_REQUIRE_ZLIB=ON -DZLIB_LIBRARY="$PREFIX/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="$PREFIX/include" -DCMAKE_INSTALL_LIBDIR=lib
}
b_ogg() {
  cmake_dep -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF -DCMAKE_INSTALL_LIBDIR=lib
}
b_vorbis() {
  cmake_dep -DBUILD_TESTING=OFF -DCMAKE_INSTALL_LIBDIR=lib -DOgg_DIR="$PREFIX/lib/cmake/Ogg"
}
b_sdl2() {
  # Its configure checks' answers come from a file: see scripts/web/sdl2-checks.cmake.
  cmake_dep -C "$SRC/scripts/web/sdl2-checks.cmake" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF \
    -DCMAKE_INSTALL_LIBDIR=lib
}

# Three chains that need nothing from one another build side by side: much of their time
# is single-threaded configure checks (SDL2's above all).
missing=0
for name in zlib libpng libjpeg freetype libogg libvorbis sdl2; do
  [ -f "$CACHE/stamps/$name" ] || missing=1
done
if [ $missing = 1 ]; then
  setup_apt
  APT_CONFIG=$APTDIR/apt.conf apt-get -qq update >&2
  APT_READY=1
  (build_dep sdl2 libsdl2 b_sdl2) &
  sdl_pid=$!
  (build_dep libjpeg libjpeg-turbo b_jpeg && build_dep libogg libogg b_ogg &&
   build_dep libvorbis libvorbis b_vorbis) &
  media_pid=$!
  status=0
  (build_dep zlib zlib b_zlib && build_dep libpng libpng1.6 b_png &&
   build_dep freetype freetype b_freetype) || status=1
  wait $media_pid || status=1
  wait $sdl_pid || status=1
  [ $status = 0 ] || { echo "web-build: a library did not build (its log is in $CACHE)" >&2; exit 1; }
fi
log "libraries for WebAssembly are in $PREFIX"
flock -u 9
[ $DEPS_ONLY = 1 ] && exit 0

# --- the framework, the game and the examples ------------------------------------------
# CMake finds the libraries above through the prefix (find_package and pkg-config).
mkdir -p "$BUILD/examples"
log "building the framework and the game into $BUILD"
emcmake cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$PREFIX" -DCMAKE_FIND_ROOT_PATH="$PREFIX" "$EMULATOR" "$STATIC_PC" \
  -DCMAKE_INSTALL_PREFIX="$BUILD/prefix" >"$BUILD/configure.log" 2>&1 || {
  tail -n 40 "$BUILD/configure.log" >&2
  exit 1
}
cmake --build "$BUILD" -j "$JOBS"
cmake --install "$BUILD" >/dev/null

# The examples, each built against the installed web framework as any game on Ormix would.
for example in "$SRC"/examples/*/; do
  name=$(basename "$example")
  grep -q "ORMIX_WEB_PAGE" "$example/CMakeLists.txt" 2>/dev/null || continue
  log "building the example $name"
  emcmake cmake -S "$example" -B "$BUILD/examples/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$BUILD/prefix;$PREFIX" -DCMAKE_FIND_ROOT_PATH="$BUILD/prefix;$PREFIX" \
    -DOrmix_DIR="$BUILD/prefix/lib/cmake/Ormix" \
    "$EMULATOR" "$STATIC_PC" >"$BUILD/examples/$name.configure.log" 2>&1 || {
    tail -n 40 "$BUILD/examples/$name.configure.log" >&2
    exit 1
  }
  cmake --build "$BUILD/examples/$name" -j "$JOBS"
done
log "done: the game's page is $BUILD/play/index.html (serve it: zingle-scores --web $BUILD/play)"
