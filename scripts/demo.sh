#!/usr/bin/env bash
# A short session on the bundled sample (grows with the command-line tool).
set -euo pipefail
build=${1:-build}
echo "demo: nothing to run yet in $build"
