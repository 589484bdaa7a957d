#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# thumbnail.sh ROOT ENTRY SIZE FILE...: runs the installed thumbnailer entry's command line on each
# file as a file manager does, and checks that the PNG is SIZE pixels on its longer side.
# VARNIC_PRELOAD: as in install_viewers.sh.
set -euo pipefail
root=$1 entry=$2 size=$3
shift 3
command=$(sed -n 's/^Exec=//p' "$entry")
for file in "$@"; do
  line=${command//%s/$size} && line=${line//%u/file:\/\/$file} && line=${line//%o/$root/thumbnail.png}
  rm -f "$root/thumbnail.png"
  env ${VARNIC_PRELOAD:+LD_PRELOAD=$VARNIC_PRELOAD ASAN_OPTIONS=detect_leaks=0} $line
  # The PNG header's width and height, big-endian from byte 16.
  sides=$(od -An -tu1 -j16 -N8 "$root/thumbnail.png" | awk '{w = $3 * 256 + $4; h = $7 * 256 + $8; print w, h, (w > h ? w : h)}')
  [ "${sides##* }" -eq "$size" ] || { echo "$file: thumbnail ${sides% *}, not $size on its longer side"; exit 1; }
done
echo "thumbnailer: $# passed, 0 failed"
