#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Installs every Debian package the build, the tests, the fuzzers, the benchmarks
# and the desktop program need. Idempotent: installs only what is missing.
#   scripts/install-deps.sh                      everything the build, the tests and CI need
#   scripts/install-deps.sh --viewer-screenshot  also a packaged image viewer and a screen grabber
#                                                (scripts/viewer-screenshot.sh, not CI)
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libcli11-dev
  libjpeg62-turbo-dev libtiff-dev libwebp-dev liblcms2-dev libexif-dev liblcms2-utils
  qt6-base-dev qt6-base-dev-tools libgl-dev
  clang libclang-rt-14-dev llvm
  xvfb xauth
  python3-numpy python3-skimage python3-matplotlib
  libjpeg-turbo-progs webp libopenjp2-tools openjph-tools
  valgrind time
  emscripten chromium
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest
  wine wine32:i386
)
if [ "${1:-}" = "--viewer-screenshot" ]; then
  packages+=(eog imagemagick x11-utils dbus)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run 'make deps' as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Other installs may hold the package database: wait for them rather than fail.
lock=(-o DPkg::Lock::Timeout=900)
# wine32 (the 32-bit Windows programs' loader) comes from the i386 architecture.
# dpkg has no lock timeout of its own: retry for as long as apt-get would wait.
for _ in $(seq 180); do
  dpkg --print-foreign-architectures | grep -qx i386 && break
  dpkg --add-architecture i386 2>/dev/null && break
  sleep 5
done
apt-get "${lock[@]}" update -qq
apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
