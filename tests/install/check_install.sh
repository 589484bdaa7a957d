#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_install.sh BUILD PREFIX LIBDIR CONSUMER_SOURCE CXX
# Installs with DESTDIR (as `make install DESTDIR=...` does) and again under another prefix than
# the configured one; the package files must work from both places.
set -euo pipefail
build=$1 prefix=$2 libdir=$3 consumer=$4 cxx=$5
scratch=$(mktemp -d /tmp/varnic-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

for component in library cli; do
  DESTDIR=$scratch/root cmake --install "$build" --component $component > /dev/null
  cmake --install "$build" --component $component --prefix "$scratch/elsewhere" > /dev/null
done

passed=0
for installed in "$scratch/root$prefix" "$scratch/elsewhere"; do
  echo "checking the tree installed in ${installed#"$scratch"/}"
  for f in include/varnic/varnic.h "$libdir/cmake/varnic/varnicConfig.cmake" "$libdir/pkgconfig/varnic.pc" \
           bin/varnic-cli share/man/man1/varnic-cli.1; do
    [ -e "$installed/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
  done
  # Only the public API is exported from the shared library.
  if nm -DC --defined-only "$installed/$libdir/libvarnic.so" | grep ' T ' |
       grep -v ' varnic::\(encode\|decode\|decode_rows\|probe\|open_picture_rows\|decode_to_file\|decode_to_stream\|version\|version_text\|to_string\|message\|check_encode_options\|convert_picture\|kind_from_extension\|sniff_kind\|cod_signature\|extension_of\|read_picture\|read_picture_file\|write_picture\|write_picture_file\|read_file\|write_file\|remove_unfinished_files\)('; then
    echo "libvarnic exports more than its public functions"; exit 1
  fi

  # The installed tool finds its library through its run path.
  "$installed/bin/varnic-cli" --version

  # find_package(varnic) from a separate project.
  rm -rf "$scratch/consumer"
  cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$installed" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
  cmake --build "$scratch/consumer" > /dev/null
  "$scratch/consumer/varnic_consumer"

  # pkg-config, whose paths are relative to the .pc file.
  flags=$(PKG_CONFIG_PATH="$installed/$libdir/pkgconfig" pkg-config --cflags --libs varnic)
  "$cxx" -std=c++20 "$consumer/main.cpp" $flags -o "$scratch/pkgconfig_consumer"
  LD_LIBRARY_PATH="$installed/$libdir" "$scratch/pkgconfig_consumer"
  # pkg-config's flags alone choose C++20; an older standard stops at the header's #error.
  "$cxx" $flags -fsyntax-only "$consumer/main.cpp"
  if "$cxx" -std=c++17 -fsyntax-only -I"$installed/include" "$consumer/main.cpp" 2> "$scratch/cxx17.log" ||
     ! grep -q 'needs C++20' "$scratch/cxx17.log"; then
    echo "varnic.h compiled below C++20 without its #error"; exit 1
  fi
  passed=$((passed + 1))
done
echo "install: $passed passed, 0 failed"
