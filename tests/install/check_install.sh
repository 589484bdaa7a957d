#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# check_install.sh BUILD PREFIX LIBDIR CONSUMER_SOURCE CXX DOCDIR DESKTOP_FILES
# Installs with DESTDIR (as `make install DESTDIR=...` does) and again under another prefix than
# the configured one; the package files must work from both places. DESKTOP_FILES (ON or OFF)
# says whether the desktop program's menu, MIME and AppStream files are built.
set -euo pipefail
build=$1 prefix=$2 libdir=$3 consumer=$4 cxx=$5 docdir=$6 desktop_files=$7
scratch=$(mktemp -d /tmp/varnic-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

components=(library cli)
[ "$desktop_files" = ON ] && components+=(desktop)
for component in "${components[@]}"; do
  DESTDIR=$scratch/root cmake --install "$build" --component $component > /dev/null
  cmake --install "$build" --component $component --prefix "$scratch/elsewhere" > /dev/null
done

passed=0
for installed in "$scratch/root$prefix" "$scratch/elsewhere"; do
  echo "checking the tree installed in ${installed#"$scratch"/}"
  for f in include/varnic/varnic.h "$libdir/cmake/varnic/varnicConfig.cmake" "$libdir/pkgconfig/varnic.pc" \
           bin/varnic-cli share/man/man1/varnic-cli.1 "$docdir/LICENSE" "$docdir/THIRD-PARTY-NOTICES"; do
    [ -e "$installed/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
  done
  # Only the public API is exported from the shared library.
  if nm -DC --defined-only "$installed/$libdir/libvarnic.so" | grep ' T ' |
       grep -v ' varnic::\(encode\|decode\|decode_rows\|probe\|open_picture_rows\|decode_to_file\|decode_to_stream\|version\|version_text\|to_string\|message\|check_encode_options\|describe\|convert_picture\|kind_from_extension\|sniff_kind\|cod_signature\|extension_of\|read_picture\|read_picture_file\|write_picture\|write_picture_file\|read_file\|write_file\|remove_unfinished_files\)\(\[abi:cxx11\]\)\?('; then
    echo "libvarnic exports more than its public functions"; exit 1
  fi

  # The installed tool finds its library through its run path, and says the installed header's release.
  version_text=$(sed -n 's/^#define VARNIC_VERSION_TEXT "\(.*\)"$/\1/p' "$installed/include/varnic/version.h")
  [ -n "$version_text" ] && [ "$("$installed/bin/varnic-cli" --version)" = "$version_text" ] || { echo "varnic-cli --version is not: $version_text"; exit 1; }

  if [ "$desktop_files" = ON ]; then
    # The menu, MIME and AppStream files, as software centres and file managers read them.
    appstreamcli validate --no-net "$installed/share/metainfo/org.varnic.varnic.metainfo.xml" > /dev/null ||
      { appstreamcli validate --no-net "$installed/share/metainfo/org.varnic.varnic.metainfo.xml"; exit 1; }
    [ -e "$installed/share/man/man1/varnic.1" ] || { echo "missing from the installed tree: the varnic man page"; exit 1; }
    /usr/bin/python3 - "$installed/share/mime/packages/varnic.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
types = ET.parse(sys.argv[1]).getroot().findall(ns + "mime-type")
if [t.get("type") for t in types] != ["image/x-varnic-cod"] or \
   [a.get("type") for a in types[0].findall(ns + "alias")] != ["application/x-varnic-cod"]:
    sys.exit("the MIME type must be image/x-varnic-cod with the alias application/x-varnic-cod")
PY
  fi

  # find_package(varnic) from a separate project.
  rm -rf "$scratch/consumer"
  cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$installed" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
  cmake --build "$scratch/consumer" > /dev/null
  "$scratch/consumer/varnic_consumer"

  # pkg-config, whose paths are relative to the .pc file.
  # pkg-config's flags leave the standard to the program: a C++23 one stays C++23, and an older
  # standard stops at the header's #error.
  flags=$(PKG_CONFIG_PATH="$installed/$libdir/pkgconfig" pkg-config --cflags --libs varnic)
  case " $flags " in *" -std="*) echo "varnic.pc chooses the C++ standard: $flags"; exit 1 ;; esac
  "$cxx" -std=c++20 "$consumer/main.cpp" $flags -o "$scratch/pkgconfig_consumer"
  LD_LIBRARY_PATH="$installed/$libdir" "$scratch/pkgconfig_consumer"
  "$cxx" -std=c++2b $flags -fsyntax-only "$consumer/main.cpp"
  if "$cxx" -std=c++17 -fsyntax-only -I"$installed/include" "$consumer/main.cpp" 2> "$scratch/cxx17.log" ||
     ! grep -q 'needs C++20' "$scratch/cxx17.log"; then
    echo "varnic.h compiled below C++20 without its #error"; exit 1
  fi
  passed=$((passed + 1))
done
echo "install: $passed passed, 0 failed"
