#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Screenshots of the desktop program on a virtual X server: opens and compresses the bundled
# sample, checks that the screen shows the decoded picture pixel for pixel, and writes PNGs of
# both windows, every dialog, a message box, the file dialogs and the help viewer.
#   scripts/screenshots.sh [BUILD]             builds the test if needed; PNGs in BUILD/screenshots
#   scripts/screenshots.sh --test PROGRAM DIR  what the test suite runs
set -euo pipefail
if [ "${1:-}" = "--test" ]; then
  program=$2
  out=$3
else
  build=${1:-build}
  cmake --build "$build" --target qt_screenshot_test
  program="$build/tests/qt/qt_screenshot_test"
  out="$build/screenshots"
fi
if ! command -v xvfb-run >/dev/null; then
  echo "screenshots: xvfb-run is missing (scripts/install-deps.sh installs xvfb and xauth)" >&2
  exit 1
fi
mkdir -p "$out"
# xvfb-run's own default screen is 8 bits deep; Qt draws on true-colour screens.
xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" \
  env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 VARNIC_SCREENSHOT_DIR="$out" "$program"
echo "screenshots: $out"
