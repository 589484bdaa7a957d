#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Builds and runs the libFuzzer targets of fuzz/.
#
#   scripts/fuzz.sh build DIR                  configure the "fuzz" preset in DIR and build the targets
#   scripts/fuzz.sh run   DIR SECONDS [NAME..] fuzz each target for SECONDS; new inputs go to
#                                              DIR/corpus/NAME, crashes to DIR/crashes/NAME
#   scripts/fuzz.sh smoke DIR SECONDS          the same over the committed corpus only, writing nothing
#                                              into the tree; fails if any target finds a fault (CI).
#                                              Its seed is fixed, so CI replays the same mutations
#                                              that a longer local smoke run has already covered
#   scripts/fuzz.sh merge DIR [NAME..]         minimise DIR/corpus/NAME into fuzz/corpus/NAME
#   scripts/fuzz.sh seeds DIR                  rewrite the seed corpora with the project's own encoder
#
# FUZZ_JOBS targets run at once (default: the number of cores). FUZZ_SEED sets libFuzzer's seed
# (smoke: 1; run: random unless set). Each target's log is
# DIR/logs/NAME.log; the summary prints its executions and coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=${1:-}
dir=${2:-build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}
seed_opts=()
[ -n "${FUZZ_SEED:-}" ] && seed_opts=(-seed="$FUZZ_SEED")

usage() {
  sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 1
}

# Every target built in DIR, or the names given.
targets() {
  if [ $# -gt 0 ]; then
    echo "$@"
    return
  fi
  local names=()
  for exe in "$dir"/fuzz/varnic_fuzz_*; do
    [ -x "$exe" ] || continue
    local name=${exe##*/varnic_fuzz_}
    [ "$name" = make_seeds ] && continue
    names+=("$name")
  done
  if [ ${#names[@]} -eq 0 ]; then
    echo "fuzz: no targets built in $dir (run: scripts/fuzz.sh build $dir)" >&2
    exit 1
  fi
  echo "${names[@]}"
}

options_for() {
  local name=$1
  local opts=(-timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1)
  case $name in
    cod_decode | cod_reduce | cod_v23 | pixbuf_load) opts+=(-dict="$root/fuzz/cod.dict" -max_len=65536) ;;
    bmp_read | tga_read | png_read | pnm_read | jpeg_read | tiff_read | webp_read) opts+=(-max_len=65536) ;;
  esac
  echo "${opts[@]}"
}

# fuzz_one NAME SECONDS WORKDIR: WORKDIR (writable, first) collects new inputs; the committed
# corpus is read as seeds.
fuzz_one() {
  local name=$1 seconds=$2 work=$3
  local crashes="$dir/crashes/$name"
  mkdir -p "$work" "$crashes" "$dir/logs"
  local seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  # shellcheck disable=SC2046
  "$dir/fuzz/varnic_fuzz_$name" $(options_for "$name") "${seed_opts[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$crashes/" "$work" "${seeds[@]}" >"$dir/logs/$name.log" 2>&1
}

summary() {
  local name=$1 status=$2
  local log="$dir/logs/$name.log"
  local runs cov
  runs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -1 || true)
  cov=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -o 'cov: [0-9]* ft: [0-9]*' || true)
  if [ "$status" -eq 0 ]; then
    printf 'fuzz: %-13s ok    %s, %s\n' "$name" "${runs:-no run count}" "${cov:-no coverage line}"
  else
    printf 'fuzz: %-13s FAILED (status %s), see %s and %s\n' "$name" "$status" "$log" "$dir/crashes/$name/"
    grep -E 'ERROR:|SUMMARY:|runtime error|Test unit written' "$log" | head -5 | sed 's/^/      /'
  fi
}

# run_all SECONDS KEEP NAME...: KEEP=1 keeps new inputs in DIR/corpus, 0 uses a throw-away dir.
run_all() {
  local seconds=$1 keep=$2
  shift 2
  local names
  read -r -a names <<<"$(targets "$@")"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  local failed=0 passed_count=0 failed_count=0
  for name in "${names[@]}"; do
    local work="$dir/corpus/$name"
    [ "$keep" -eq 1 ] || work="$scratch/$name"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
      wait -n || true
    done
    (
      status=0
      fuzz_one "$name" "$seconds" "$work" || status=$?
      echo "$status" >"$scratch/$name.status"
    ) &
  done
  wait
  for name in "${names[@]}"; do
    local status
    status=$(cat "$scratch/$name.status" 2>/dev/null || echo 99)
    summary "$name" "$status"
    if [ "$status" -eq 0 ]; then
      passed_count=$((passed_count + 1))
    else
      failed=1
      failed_count=$((failed_count + 1))
    fi
  done
  echo "fuzz: $passed_count passed, $failed_count failed"
  return $failed
}

case $mode in
  build)
    cmake --preset fuzz -B "$dir" >/dev/null
    cmake --build "$dir" -j "$jobs" --target varnic_fuzzers
    ;;
  run)
    [ $# -ge 3 ] || usage
    seconds=$3
    shift 3
    run_all "$seconds" 1 "$@"
    ;;
  smoke)
    [ $# -ge 3 ] || usage
    seed_opts=(-seed="${FUZZ_SEED:-1}")
    run_all "$3" 0
    ;;
  merge)
    shift 2
    read -r -a names <<<"$(targets "$@")"
    for name in "${names[@]}"; do
      [ -d "$dir/corpus/$name" ] || continue
      mkdir -p "fuzz/corpus/$name"
      # shellcheck disable=SC2046
      "$dir/fuzz/varnic_fuzz_$name" $(options_for "$name") -merge=1 \
        "fuzz/corpus/$name" "$dir/corpus/$name" >"$dir/logs/$name.merge.log" 2>&1
      echo "fuzz: $name: $(ls "fuzz/corpus/$name" | wc -l) files in fuzz/corpus/$name"
    done
    ;;
  seeds)
    "$dir/fuzz/varnic_fuzz_make_seeds" "fuzz/corpus"
    ;;
  *)
    usage
    ;;
esac
