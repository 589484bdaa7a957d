#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_system_install.sh SOURCE CC CXX
# An install to /usr, as `make install PREFIX=/usr` and the packages make it: a scratch tree of
# the library, the tool, the gdk-pixbuf loader and the Python package configured for /usr and
# installed with DESTDIR.
# The library must land in the multiarch directory and nothing may carry a run path.
set -euo pipefail
source=$1 cc=$2 cxx=$3
scratch=$(mktemp -d /tmp/varnic-system-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Unoptimized: only the install layout is checked here.
cmake -S "$source" -B "$scratch/build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DVARNIC_BUILD_TESTS=OFF -DVARNIC_BUILD_QT=OFF > /dev/null
cmake --build "$scratch/build" -j 2 --target varnic_c varnic-cli pixbufloader-cod > /dev/null
for component in library cli pixbuf-loader python; do
  DESTDIR=$scratch/root cmake --install "$scratch/build" --component $component > /dev/null
done

root=$scratch/root
libdir=usr/lib/$("$cxx" -print-multiarch)
failed=0
fail() { echo "system install: $*"; failed=$((failed + 1)); }
[ -e "$root/$libdir/libvarnic.so.1" ] || fail "libvarnic.so.1 is not in /$libdir"
[ -e "$root/$libdir/pkgconfig/varnic.pc" ] || fail "varnic.pc is not in /$libdir/pkgconfig"
[ -e "$root/$libdir/cmake/varnic/varnicConfig.cmake" ] || fail "the CMake package is not in /$libdir/cmake"
loader=$(find "$root" -name libpixbufloader-cod.so)
for elf in "$root/usr/bin/varnic-cli" "$root/$libdir/libvarnic.so.1" "$loader"; do
  if readelf -d "$elf" | grep -E '\((RUNPATH|RPATH)\)'; then fail "${elf#"$root"} carries a run path"; fi
done
LD_LIBRARY_PATH=$root/$libdir "$root/usr/bin/varnic-cli" --version > /dev/null || fail "the installed varnic-cli does not start"
# The Python package in Debian's place, finding the library installed with it.
python=$root/usr/lib/python3/dist-packages
PYTHONPATH=$python /usr/bin/python3 -c "import numpy, varnic; varnic.decode(varnic.encode(numpy.zeros((8, 8), numpy.uint8)))" ||
  fail "the Python package in /usr/lib/python3/dist-packages does not work"
echo "system install: $((6 - failed)) passed, $failed failed"
[ "$failed" = 0 ]
