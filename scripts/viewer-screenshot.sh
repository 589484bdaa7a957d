#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Screenshot of a .cod file opened in Debian's own image viewer (eog) through the gdk-pixbuf loader,
# on a virtual X server. The loader, its cache and the MIME type come from a scratch DESTDIR install,
# so the system's caches stay as they are. Writes viewers/screenshots/eog-astronaut-cod.png.
#   scripts/viewer-screenshot.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=viewers/screenshots/eog-astronaut-cod.png

bash scripts/install-deps.sh base screenshot
cmake --build "$build" --target varnic-cli pixbufloader-cod > /dev/null
scratch=$(mktemp -d /tmp/varnic-screenshot-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
for component in library desktop pixbuf-loader; do
  DESTDIR=$scratch/root cmake --install "$build" --component $component > /dev/null
done
"$(cache VARNIC_GDK_PIXBUF_QUERY_LOADERS)" "$(cache VARNIC_GDK_PIXBUF_MODULEDIR)"/*.so \
  "$scratch/root$prefix/$(cache VARNIC_PIXBUF_LOADER_DIR)/libpixbufloader-cod.so" > "$scratch/loaders.cache"
share=$scratch/root$prefix/$(cache CMAKE_INSTALL_DATAROOTDIR)
update-mime-database "$share/mime" 2> /dev/null

mkdir -p "$scratch/Pictures"
"$build/cli/varnic-cli" compress tests/data/astronaut_512.bmp -o "$scratch/Pictures/astronaut.cod" -q 60 -f --quiet

# eog's window is titled after the file; the screenshot is taken once it has drawn the picture.
cat > "$scratch/session.sh" <<'EOF'
set -euo pipefail
eog "$1" 2> /dev/null &
viewer=$!
for _ in $(seq 100); do
  xwininfo -root -tree | grep -q 'astronaut.cod' && break
  sleep 0.1
done
sleep 2
import -window root "$2"
kill "$viewer"
EOF
mkdir -p "$(dirname "$out")"
GDK_PIXBUF_MODULE_FILE=$scratch/loaders.cache XDG_DATA_DIRS=$share:/usr/share GDK_BACKEND=x11 \
  xvfb-run -a -s "-screen 0 800x660x24 -nolisten tcp" dbus-run-session bash "$scratch/session.sh" \
  "$scratch/Pictures/astronaut.cod" "$scratch/screen.png" 2> "$scratch/session.log" ||
  { cat "$scratch/session.log" >&2; exit 1; }
convert "$scratch/screen.png" -trim +repage "$out"
echo "viewer-screenshot: $out"
