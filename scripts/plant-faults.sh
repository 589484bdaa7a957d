#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Plants single-line faults one at a time in a scratch copy of the tree and runs the suite that
# should notice each, to find what the tests miss. Not part of CI: a full run takes hours.
#
#   scripts/plant-faults.sh [--list FILE] [--only ID[,ID...]] [--scratch DIR] [--reuse]
#
# --reuse keeps the scratch copy and its builds from an earlier run (its sources as they were).
#
# The list (default scripts/faults.tsv) holds one fault a line, tab-separated:
#   ID  SUITE  FILE  SEARCH  REPLACE  WHAT  [TESTS]
# SUITE is native (ctest of the release tree), windows (make test-windows) or web (make
# test-web). TESTS, for native faults, is a ctest -R pattern naming the tests that should catch
# it, so that a run takes minutes rather than hours; without it the whole suite runs. SEARCH must occur exactly once in FILE, so a fault stays put when lines move; a
# fault whose text is gone is reported "stale" and should be rewritten. A fault that does not
# compile is "no build": it says nothing about the tests. Prints a table of caught and missed;
# exits 1 if any fault was missed or stale.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
list=$top/scripts/faults.tsv
only=""
reuse=false
scratch=${TMPDIR:-/tmp}/varnic-faults
while [ $# -gt 0 ]; do
  case $1 in
    --list) list=$(realpath "$2"); shift 2 ;;
    --only) only=",$2,"; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --reuse) reuse=true; shift ;;
    *) echo "plant-faults: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

# The scratch copy is the committed tree plus uncommitted changes, without build trees, so
# planting never touches the developer's files.
if [ "$reuse" = false ] || [ ! -d "$scratch" ]; then
  rm -rf "$scratch"
  mkdir -p "$scratch"
  git -C "$top" ls-files -z --cached --others --exclude-standard |
    (cd "$top" && xargs -0 cp --parents -t "$scratch")
fi

plant() {  # FILE SEARCH REPLACE -> 0 planted, 1 stale
  /usr/bin/python3 - "$scratch/$1" "$2" "$3" <<'EOF'
import sys
path, search, replace = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(search) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(search, replace))
EOF
}

run_suite() {  # SUITE [TESTS] -> 0 passed, 1 failed, 2 no build
  local log=$scratch/suite.log
  case $1 in
    native)
      cmake --build "$scratch/build" -j "$(nproc)" > "$log" 2>&1 || return 2
      ctest --test-dir "$scratch/build" -j "$(nproc)" --timeout 600 --stop-on-failure ${2:+-R "$2"} >> "$log" 2>&1 ||
        return 1 ;;
    windows)
      make -C "$scratch" win-configure > "$log" 2>&1 || return 2
      cmake --build "$scratch/build-win32" -j "$(nproc)" >> "$log" 2>&1 || return 2
      bash "$scratch/scripts/wine-tests.sh" "$scratch/build-win32" >> "$log" 2>&1 || return 1 ;;
    web)
      make -C "$scratch" web >> "$log" 2>&1 || return 2
      make -C "$scratch" test-web >> "$log" 2>&1 || return 1 ;;
    *) echo "plant-faults: unknown suite '$1'" >&2; exit 2 ;;
  esac
}

cmake -S "$scratch" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release > /dev/null

caught=0 missed=0 other=0
printf '%-6s %-8s %-10s %s\n' ID SUITE RESULT WHAT
while IFS=$'\t' read -r id suite file search replace what tests; do
  case $id in ''|'#'*) continue ;; esac
  [ -z "$only" ] || [[ $only == *",$id,"* ]] || continue
  if [ ! -f "$scratch/$file" ]; then
    result=stale
  elif ! cp "$scratch/$file" "$scratch/$file.orig" || ! plant "$file" "$search" "$replace"; then
    result=stale
  else
    set +e
    run_suite "$suite" "$tests" < /dev/null
    status=$?
    set -e
    case $status in
      0) result=MISSED ;;
      1) result=caught ;;
      *) result="no build" ;;
    esac
  fi
  # Restored newer than the objects built with the fault, so that the next build drops it.
  [ ! -f "$scratch/$file.orig" ] || { mv "$scratch/$file.orig" "$scratch/$file"; touch "$scratch/$file"; }
  case $result in
    caught) caught=$((caught + 1)) ;;
    MISSED) missed=$((missed + 1)) ;;
    *) other=$((other + 1)) ;;
  esac
  printf '%-6s %-8s %-10s %s\n' "$id" "$suite" "$result" "$what"
done < "$list"

echo "caught $caught, missed $missed, stale or not built $other"
[ "$missed" = 0 ] && [ "$other" = 0 ]
