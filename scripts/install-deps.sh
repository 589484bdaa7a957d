#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Installs the Debian packages of the named groups that are missing. Idempotent.
#   scripts/install-deps.sh [GROUP...]      install (default: base)
#   scripts/install-deps.sh --list GROUP... print the groups' packages, one a line
# Each make target asks for the groups it needs, so `make demo` and `make test` on a fresh
# machine get the base group alone: no Wine, no i386 architecture, no browser, no emscripten.
set -euo pipefail

# A new group is one more array here and its name in the make targets that need it.
# base: building everything of `make build`, `make demo`, `make test` (Qt, gdk-pixbuf, Xvfb and
# the MIME and AppStream tools run in the suite; numpy, Pillow, pytest and Dask for the Python
# package's suites) and `make test-sanitize` (GCC's sanitizers); the photograph readers'
# libraries, and jpegtran and tificc, which their tests check against.
base=(
  build-essential cmake pkg-config git python3
  python3-numpy python3-pil python3-pytest python3-dask python3-distributed
  libgtest-dev libgmock-dev
  libpng-dev zlib1g-dev libisal-dev libcli11-dev
  libjpeg62-turbo-dev libtiff-dev libwebp-dev liblcms2-dev libexif-dev libjpeg-turbo-progs liblcms2-utils
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info
  xvfb xauth appstream
)
# windows: the 32-bit Windows cross build (posix threads for std::thread), GoogleTest's sources
# to cross-build, and Wine (from the i386 architecture) to run it.
windows=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest
  wine wine32:i386
)
# web: emscripten, the headless browser, the test driver's npm, and the Python imaging that makes
# and checks the test pictures.
web=(emscripten chromium npm python3-numpy python3-pil python3-skimage)
# fuzz: clang with libFuzzer and its sanitizer runtimes, and the symbolizer for its reports.
fuzz=(clang libclang-rt-14-dev llvm)
# peers: the benchmarks: the other codecs' tools, the Python numerics that score them, the timers,
# GNU parallel (bench/batch).
peers=(
  libjpeg-turbo-progs webp libopenjp2-tools openjph-tools
  python3-numpy python3-pil python3-skimage python3-matplotlib
  valgrind time libbenchmark-dev parallel
)
# screenshot: a packaged image viewer and a screen grabber (scripts/viewer-screenshot.sh).
screenshot=(eog imagemagick x11-utils dbus)
# deb: building the Debian packages and checking them (make deb, make test-deb).
deb=(debhelper dh-python dpkg-dev fakeroot lintian libglib2.0-bin)
# installer: the Windows installer (make windows-installer), on top of the windows group.
installer=(nsis)

groups_known=(base windows web fuzz peers screenshot deb installer)

list=0
if [ "${1:-}" = "--list" ]; then
  list=1
  shift
fi
[ $# -gt 0 ] || set -- base

packages=()
for group in "$@"; do
  if [[ ! " ${groups_known[*]} " =~ " $group " ]]; then
    echo "install-deps: unknown group '$group' (groups: ${groups_known[*]})" >&2
    exit 2
  fi
  declare -n members=$group
  packages+=("${members[@]}")
  unset -n members
done

if [ "$list" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

# Installed, or provided by an installed package (a vendor's nodejs provides npm, for instance).
provided=$(dpkg-query -W -f='${Provides}\n' 2>/dev/null | tr ',' '\n' | sed 's/ *(.*//; s/^ *//' | sort -u)
missing=()
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then continue; fi
  grep -qxF "${p%%:*}" <<< "$provided" && continue
  missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run 'scripts/install-deps.sh $*' as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Other installs may hold the package database: wait for them rather than fail.
lock=(-o DPkg::Lock::Timeout=900)
# Packages of another architecture (wine32:i386) need it added first. dpkg has no lock timeout of
# its own: retry for as long as apt-get would wait.
for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/.*:\(.*\)/\1/p' | sort -u); do
  for _ in $(seq 180); do
    dpkg --print-foreign-architectures | grep -qx "$arch" && break
    dpkg --add-architecture "$arch" 2>/dev/null && break
    sleep 5
  done
done
apt-get "${lock[@]}" update -qq
apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
