#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# A short varnic-cli session on the bundled sample: compress, inspect, decompress, compare.
# Usage: scripts/demo.sh [BUILD_DIR]   (make demo builds first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool=$build/cli/varnic-cli
[ -x "$tool" ] || { echo "demo: $tool is missing; run 'make build' first" >&2; exit 1; }

work=out/demo
mkdir -p "$work"
cp tests/data/astronaut_512.bmp "$work/astronaut.bmp"

step() {
  echo
  echo "\$ varnic-cli $*"
  "$tool" "$@" 2>&1
}

echo "varnic demo: the 512x512 astronaut photograph ($work/)"
step compress "$work/astronaut.bmp" -q 50 -f -v
step info "$work/astronaut.cod"
step decompress "$work/astronaut.cod" -o "$work/astronaut_q50.png" -f -v
step compare "$work/astronaut.bmp" "$work/astronaut_q50.png"
step decompress "$work/astronaut.cod" --reduce 2 -o "$work/astronaut_preview.png" -f
step compress "$work/astronaut.bmp" -o "$work/astronaut_20k.cod" --target-size 20000 -f
echo
echo "demo: outputs are in $work/ (open the .png files to look at them)"
