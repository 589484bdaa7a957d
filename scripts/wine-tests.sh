#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Runs the Windows build's tests under Wine: a private prefix inside the build directory, its own
# Xvfb display and wineserver, both stopped at the end whatever happens.
#   scripts/wine-tests.sh [BUILD] [CTEST ARGS...]
set -euo pipefail
build=$(cd "${1:-build-win32}" && pwd)
shift || true

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No offers to download the .NET and HTML runtimes: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

display=""
for n in $(seq 90 200); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "wine-tests: no free X display number" >&2; exit 1; }

# 24-bit colour, and room for the largest window the tests open.
Xvfb ":$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
stop() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap stop EXIT
export DISPLAY=":$display"
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

# A persistent wineserver saves its start-up on each of the many programs the tests start (one
# may still be running from an earlier run: it serves as well). The first run makes the prefix
# (half a minute or so); later runs reuse it.
wineserver -p 2>/dev/null || true
wineboot --init >/dev/null 2>&1
# There is no window manager: windows Wine leaves to one would wait for it on every hide (a
# second or two each), so Wine manages them itself and draws their frames as Windows does.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
cd "$build"
ctest --output-on-failure -j 2 "$@"
