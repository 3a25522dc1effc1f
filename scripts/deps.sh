#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test (as root; a no-op when all
# are present).
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libpng-dev zlib1g-dev libjpeg-dev libfreetype-dev libogg-dev libvorbis-dev
  libopenal1 libgl-dev libgl1-mesa-dri mesa-utils
  libgtest-dev libbenchmark-dev
  xvfb xauth libxtst6 sox imagemagick fonts-dejavu-core xfonts-base
  libsqlite3-dev libpqxx-dev postgresql chromium
  emscripten dpkg-dev
  openmpt123 xmp python3-numpy
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
