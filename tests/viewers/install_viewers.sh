#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# install_viewers.sh BUILD ROOT PREFIX LOADER_DIR QT_PLUGIN_DIR DATADIR QUERY_LOADERS SYSTEM_LOADERS MIME_XML
# Installs the viewer components with DESTDIR=ROOT, as `make install DESTDIR=...` does, then builds
# what the tests point gdk-pixbuf at instead of the system's caches: ROOT/loaders.cache (gdk-pixbuf's
# own loaders and ours) and ROOT/mime-data (a MIME database holding the .cod type, which gdk-pixbuf
# needs to pick a loader). QT_PLUGIN_DIR is empty when the Qt plugin is not built. In a sanitizer
# build VARNIC_PRELOAD names the sanitizer runtime that system programs need to load our module.
set -euo pipefail
build=$1 root=$2 prefix=$3 loader_dir=$4 qt_dir=$5 datadir=$6 query=$7 system_loaders=$8 mime_xml=$9
rm -rf "$root"
for component in library desktop pixbuf-loader thumbnailer qt-plugin; do
  DESTDIR=$root cmake --install "$build" --component $component > /dev/null
done
installed=$root$prefix
loader=$installed/$loader_dir/libpixbufloader-cod.so
for f in "$loader" "$installed/$datadir/thumbnailers/cod.thumbnailer" ${qt_dir:+"$installed/$qt_dir/imageformats/libqcod.so"}; do
  [ -e "$f" ] || { echo "missing from the installed tree: ${f#"$root"}"; exit 1; }
done

# Loading our module here also proves that its run path finds the installed libvarnic.
env ${VARNIC_PRELOAD:+LD_PRELOAD=$VARNIC_PRELOAD ASAN_OPTIONS=detect_leaks=0} \
  "$query" "$system_loaders"/*.so "$loader" > "$root/loaders.cache"
grep -q '"image/x-varnic-cod" "application/x-varnic-cod"' "$root/loaders.cache" || { echo "gdk-pixbuf-query-loaders did not load $loader"; exit 1; }

[ -e "$installed/$datadir/mime/packages/varnic.xml" ] && mime_xml=$installed/$datadir/mime/packages/varnic.xml
mkdir -p "$root/mime-data/mime/packages"
cp "$mime_xml" "$root/mime-data/mime/packages/varnic.xml"
update-mime-database "$root/mime-data/mime" 2> /dev/null
echo "viewers installed in $root"
