#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_install.sh BUILD PREFIX LIBDIR CONSUMER_SOURCE CC
# Installs with DESTDIR (as `make install DESTDIR=...` does) and again under another prefix than
# the configured one; the package files must work from both places.
set -euo pipefail
build=$1 prefix=$2 libdir=$3 consumer=$4 cc=$5
scratch=$(mktemp -d /tmp/varnic-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

for component in library cli; do
  DESTDIR=$scratch/root cmake --install "$build" --component $component > /dev/null
  cmake --install "$build" --component $component --prefix "$scratch/elsewhere" > /dev/null
done

passed=0
for installed in "$scratch/root$prefix" "$scratch/elsewhere"; do
  echo "checking the tree installed in ${installed#"$scratch"/}"
  for f in include/varnic/varnic_c.h include/varnic/version.h "$libdir/cmake/varnic/varnicConfig.cmake" "$libdir/pkgconfig/varnic.pc" \
           bin/varnic-cli share/man/man1/varnic-cli.1; do
    [ -e "$installed/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
  done
  # The C interface alone is installed: tests/capi checks the library's exports.
  [ ! -e "$installed/include/varnic/varnic.h" ] || { echo "the C++ header is installed"; exit 1; }

  # The installed tool runs from where it is installed.
  "$installed/bin/varnic-cli" --version

  # find_package(varnic) from a separate project.
  rm -rf "$scratch/consumer"
  cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$installed" -DCMAKE_C_COMPILER="$cc" > /dev/null
  cmake --build "$scratch/consumer" > /dev/null
  "$scratch/consumer/varnic_consumer"

  # pkg-config, whose paths are relative to the .pc file.
  flags=$(PKG_CONFIG_PATH="$installed/$libdir/pkgconfig" pkg-config --cflags --libs varnic)
  "$cc" -std=c99 -Wall -Wextra -Werror "$consumer/main.c" $flags -o "$scratch/pkgconfig_consumer"
  LD_LIBRARY_PATH="$installed/$libdir" "$scratch/pkgconfig_consumer"
  passed=$((passed + 1))
done
echo "install: $passed passed, 0 failed"
