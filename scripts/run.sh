#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Starts the desktop program. On a desktop (DISPLAY or WAYLAND_DISPLAY set, not CI) it opens the
# real windows on the bundled sample. Otherwise it runs headless: a short scripted session
# (open, compress, save, reopen the .cod, show its information), writes screenshots of both
# windows as PPM files, and exits. The headless path never waits for input.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$build/app/varnic"
if [ ! -x "$program" ]; then
  echo "run: $program is missing; build first (make build)" >&2
  exit 1
fi
if [ -z "${CI:-}" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${VARNIC_HEADLESS:-}" ]; then
  exec "$program" "$root/tests/data/astronaut_512.bmp"
fi
out="$build/run"
mkdir -p "$out"
rm -f "$out/sample.cod"
"$program" --script - <<SCRIPT
open bmp $root/tests/data/astronaut_512.bmp
command 106
screenshot main $out/compressed-main.ppm
screenshot source $out/compressed-source.ppm
save cod $out/sample.cod
open cod $out/sample.cod
command 100
screenshot main $out/decoded-main.ppm
exit
SCRIPT
echo "run: screenshots and sample.cod in $out"
