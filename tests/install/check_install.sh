#!/usr/bin/env bash
# check_install.sh BUILD PREFIX LIBDIR CONSUMER_SOURCE CXX
set -euo pipefail
build=$1 prefix=$2 libdir=$3 consumer=$4 cxx=$5
scratch=$(mktemp -d /tmp/varnic-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
installed=$root$prefix

DESTDIR=$root cmake --install "$build" --component library > /dev/null
DESTDIR=$root cmake --install "$build" --component cli > /dev/null

for f in include/varnic/varnic.h "$libdir/cmake/varnic/varnicConfig.cmake" "$libdir/pkgconfig/varnic.pc" \
         bin/varnic-cli share/man/man1/varnic-cli.1; do
  [ -e "$installed/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
done
# Only the public API is exported from the shared library.
if nm -DC --defined-only "$installed/$libdir/libvarnic.so" | grep -E ' T ' | grep -v ' varnic::\(encode\|decode\|probe\|version\|to_string\|message\)('; then
  echo "libvarnic exports more than its public functions"; exit 1
fi

# The installed tool finds its library through its run path.
"$installed/bin/varnic-cli" --version

# find_package(varnic) from a separate project.
cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$installed" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
cmake --build "$scratch/consumer" > /dev/null
"$scratch/consumer/varnic_consumer"

# pkg-config: the file names the final prefix; the sysroot maps it into DESTDIR.
flags=$(PKG_CONFIG_PATH="$installed/$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$root" pkg-config --cflags --libs varnic)
"$cxx" -std=c++20 "$consumer/main.cpp" $flags -o "$scratch/pkgconfig_consumer"
LD_LIBRARY_PATH="$installed/$libdir" "$scratch/pkgconfig_consumer"
echo "install: 1 passed, 0 failed"
