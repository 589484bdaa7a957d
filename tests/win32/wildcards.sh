#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# wildcards.sh VARNIC_CLI_EXE PICTURES: cmd.exe hands `*.bmp` to a program unexpanded, so
# varnic-cli.exe must expand it itself, names with blanks included; a pattern that matches
# nothing reaches the tool as it is and is refused as a missing file.
set -euo pipefail
exe=$(winepath -w "$1") pics=$2
scratch=$(mktemp -d /tmp/varnic-wildcards-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
cp "$pics/astronaut_37x21.bmp" a.bmp
cp "$pics/astronaut_64x48.bmp" "b c.bmp"
cp "$pics/astronaut_37x21.bmp" d.tga
mkdir out
wine cmd /c "$exe compress *.bmp -d out --quiet"
found=$(cd out && ls | tr '\n' '/')
[ "$found" = "a.cod/b c.cod/" ] || { echo "compress *.bmp wrote: $found"; exit 1; }
status=0
wine cmd /c "$exe compress *.none -d out --quiet" 2> none.log || status=$?
[ "$status" = 2 ] && grep -q '\*\.none' none.log || { echo "an unmatched pattern gave status $status"; exit 1; }
echo "wildcards: 2 passed, 0 failed"
