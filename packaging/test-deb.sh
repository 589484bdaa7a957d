#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# test-deb.sh BUILD DEB_DIR: installs DEB_DIR's packages on this machine with apt-get, uses them
# through the installed system alone (no build tree, no variable pointing into one; BUILD's
# varnic-cli only gives the bytes to compare with), then purges them and checks that nothing of
# theirs is left. They are purged on a failure too: the machine is shared.
set -euo pipefail
build=$(cd "$1" && pwd) debs=$(cd "$2" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d /tmp/varnic-test-deb-XXXXXX)
packages=(libvarnic1 libvarnic-dev varnic-tools varnic-common varnic varnic-gdk-pixbuf varnic-qt6-imageformats)
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=900 -y -qq)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
loader_cache=/usr/lib/$multiarch/gdk-pixbuf-2.0/2.10.0/loaders.cache
failed=0 passed=0
check() {  # check NAME COMMAND...: one counted check
  local name=$1
  shift
  if "$@" > "$scratch/check.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "test-deb: FAILED: $name"
    sed 's/^/  /' "$scratch/check.log"
  fi
}

# The directories the packages put files in (and the caches their triggers rewrite), listed
# before the install and after the purge.
mapfile -t owned < <(for d in "$debs"/*.deb; do dpkg-deb -c "$d"; done | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$')
snapshot() {
  for f in "${owned[@]}" /usr/share/mime; do
    while [ ! -e "$f" ] && [ "$f" != / ]; do f=$(dirname "$f"); done
    echo "$f"
  done | LC_ALL=C sort -u | while read -r d; do
    [ "$d" = /usr/share/mime ] && find "$d" -xdev || find "$d" -xdev -maxdepth 1
  done | LC_ALL=C sort -u
}
snapshot > "$scratch/before.txt"

purge() {
  "${apt[@]}" purge "${packages[@]}" > "$scratch/purge.log" 2>&1 || cat "$scratch/purge.log"
}
trap 'purge; rm -rf "$scratch"' EXIT
"${apt[@]}" install --no-install-recommends "$debs"/*.deb > "$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; exit 1; }
for p in "${packages[@]}"; do dpkg -L "$p"; done | LC_ALL=C sort -u > "$scratch/files.txt"

cd "$scratch"
cp "$source/tests/data/conformance/pics/astronaut_64x48.bmp" picture.bmp
"$build/cli/varnic-cli" compress picture.bmp -o expected.cod -q 60 --quiet
"$build/cli/varnic-cli" decompress expected.cod -o expected.bmp --quiet

check "varnic-cli is the installed one and says the release" \
  bash -c '[ "$(command -v varnic-cli)" = /usr/bin/varnic-cli ] && varnic-cli --version | grep -q "^varnic [0-9.]* (.cod "'
check "the installed varnic-cli writes the build tree's bytes" \
  bash -c 'varnic-cli compress picture.bmp -o installed.cod -q 60 --quiet && cmp installed.cod expected.cod &&
           varnic-cli decompress installed.cod -o installed.bmp --quiet && cmp installed.bmp expected.bmp'
check "nothing installed carries a run path" \
  bash -c 'for f in /usr/bin/varnic /usr/bin/varnic-cli $(dpkg -L libvarnic1 varnic-gdk-pixbuf varnic-qt6-imageformats | grep "\.so"); do
             [ -L "$f" ] || ! readelf -d "$f" | grep -E "\((RUNPATH|RPATH)\)" || exit 1; done'
check "a program builds with find_package(varnic) and runs" \
  bash -c 'cmake -S "$0/tests/install/consumer" -B consumer && cmake --build consumer && consumer/varnic_consumer' "$source"
check "a program builds with pkg-config and runs" \
  bash -c 'c++ -std=c++20 "$0/tests/install/consumer/main.cpp" $(pkg-config --cflags --libs varnic) -o pc_consumer && ./pc_consumer' "$source"
check "the system's loader cache names the loader" grep -q libpixbufloader-cod.so "$loader_cache"
check "gdk-pixbuf-thumbnailer makes a thumbnail through the system's loader" \
  bash -c 'gdk-pixbuf-thumbnailer -s 32 "$PWD/expected.cod" thumb.png && [ "$(head -c 4 thumb.png | tail -c 3)" = PNG ]'
check "gio names the image/ type" bash -c 'gio info expected.cod | grep -qx "  standard::content-type: image/x-varnic-cod"'
cat > qt_reader.cpp <<'CPP'
// Reads a .cod file through whatever image-format plugin Qt finds on its own plugin path and
// compares its pixels with a bitmap.
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QImageReader reader(argv[1]);
  const QImage cod = reader.read().convertToFormat(QImage::Format_RGB888);
  const QImage bmp = QImage(argv[2]).convertToFormat(QImage::Format_RGB888);
  if (cod.isNull()) qWarning("%s", qPrintable(reader.errorString()));
  return !cod.isNull() && reader.format() == "cod" && cod == bmp ? 0 : 1;
}
CPP
check "a Qt 6 program reads the file through the system's plugin path" \
  bash -c 'c++ -std=c++17 -fPIC qt_reader.cpp $(pkg-config --cflags --libs Qt6Gui) -o qt_reader && ./qt_reader expected.cod expected.bmp'

trap 'rm -rf "$scratch"' EXIT
purge
check "the purge leaves no file of the packages" \
  bash -c 'while read -r f; do [ -d "$f" ] || [ ! -e "$f" ] || { echo "left: $f"; exit 1; }; done < files.txt'
snapshot > after.txt
check "the purge leaves the directories as they were" diff before.txt after.txt
check "the loader cache no longer names the loader" bash -c '! grep -q libpixbufloader-cod "$0"' "$loader_cache"
check "the MIME database no longer knows the type" bash -c '[ ! -e /usr/share/mime/image/x-varnic-cod.xml ]'
echo "test-deb: $passed passed, $failed failed"
[ "$failed" = 0 ]
