#!/usr/bin/env bash
# libFuzzer targets: builds them with clang into build-fuzz/ (or
# $FAZOLT_FUZZ_DIR) and runs them.
#
#   scripts/fuzz.sh [smoke [SECONDS]]   replay seeds and corpus, then fuzz each target SECONDS (default 30)
#   scripts/fuzz.sh campaign RUNS       RUNS executions per target, two targets at a time; prints exec counts
#   FAZOLT_FUZZ_TARGETS=module_call scripts/fuzz.sh campaign 2000000   one target only
#   FAZOLT_FUZZ_JOBS=2 ...campaign...   each target's runs split over 2 processes sharing its corpus
#   scripts/fuzz.sh minimise            merges seeds, corpus and campaign finds into fuzz/corpus/
#   scripts/fuzz.sh replay              runs every seed and corpus input once
#
# Any crash, sanitizer report, leak, timeout or out-of-memory exits non-zero
# and leaves the input under $FAZOLT_FUZZ_DIR/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode="${1:-smoke}"
dir="${FAZOLT_FUZZ_DIR:-build-fuzz}"
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
# FAZOLT_FUZZ_TARGETS="module_call" narrows any mode to some of the targets.
read -r -a targets <<<"${FAZOLT_FUZZ_TARGETS:-json_reader description csv_reader module_call}"

declare -A maxLen=([json_reader]=8192 [description]=8192 [csv_reader]=4096 [module_call]=8192)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

build() {
  scripts/deps.sh clang libclang-rt-14-dev
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFAZOLT_BUILD_FUZZ=ON -DFAZOLT_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir" --target "${targets[@]/#/fuzz_}" -j2 >/dev/null
  mkdir -p "$dir/findings"
}

options() {  # options common to every run of target $1
  local t=$1 extra=()
  [ -d "fuzz/dict" ] && extra+=("-dict=fuzz/dict/$t.dict")
  echo "${extra[@]}" -malloc_limit_mb=512 -rss_limit_mb=2048 -timeout=10 -max_len="${maxLen[$t]}" \
    -artifact_prefix="$dir/findings/$t-" -print_final_stats=1
}

replay() {  # every committed input once
  local t
  for t in "${targets[@]}"; do
    local n
    mkdir -p fuzz/corpus/$t
    n=$(cat <(ls fuzz/seeds/$t) <(ls fuzz/corpus/$t 2>/dev/null) | wc -l)
    "$dir/fuzz_$t" $(options "$t") -runs=0 fuzz/corpus/$t fuzz/seeds/$t >"$dir/replay-$t.log" 2>&1 ||
      { tail -n 40 "$dir/replay-$t.log"; echo "fuzz replay: $t FAILED"; exit 1; }
    echo "fuzz replay: $t: $n inputs ok"
  done
}

# Runs target $1 with -runs=$2 (0 = until -max_total_time=$3) into the work corpus, in
# FAZOLT_FUZZ_JOBS processes (each a share of the runs); logs to $dir/run-$1.N.log.
fuzzOne() {
  local t=$1 runs=$2 seconds=$3 work="$dir/work/$t" jobs="${FAZOLT_FUZZ_JOBS:-1}" j pids=() failed=0
  mkdir -p fuzz/corpus/$t
  mkdir -p "$work"
  rm -f "$dir"/run-$t.*.log
  local limit=()
  [ "$runs" -gt 0 ] && limit+=(-runs="$(((runs + jobs - 1) / jobs))")
  [ "$seconds" -gt 0 ] && limit+=(-max_total_time="$seconds")
  for ((j = 1; j <= jobs; j++)); do
    "$dir/fuzz_$t" $(options "$t") "${limit[@]}" "$work" fuzz/corpus/$t fuzz/seeds/$t >"$dir/run-$t.$j.log" 2>&1 &
    pids+=($!)
  done
  for j in "${pids[@]}"; do wait "$j" || failed=1; done
  return $failed
}

report() {  # exec count and time of the last run of target $1, summed over its processes
  local t=$1 execs=0 secs=0 log n s
  for log in "$dir"/run-$t.*.log; do
    n=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' | tail -n1)
    s=$(grep -oE 'Done [0-9]+ runs in [0-9]+ second' "$log" | grep -oE '[0-9]+ second' | grep -oE '[0-9]+' | tail -n1)
    execs=$((execs + ${n:-0}))
    [ "${s:-0}" -gt "$secs" ] && secs=$s
  done
  printf 'fuzz %s: %s: %s execs in %s s (%s processes)\n' "$mode" "$t" "$execs" "$secs" "${FAZOLT_FUZZ_JOBS:-1}"
}

runAll() {  # two targets at a time; fails if any run found something
  local runs=$1 seconds=$2 failed=0 i
  for ((i = 0; i < ${#targets[@]}; i += 2)); do
    local pids=() pair=("${targets[@]:i:2}") t
    for t in "${pair[@]}"; do
      fuzzOne "$t" "$runs" "$seconds" &
      pids+=($!)
    done
    for j in "${!pids[@]}"; do
      t=${pair[$j]}
      if wait "${pids[$j]}"; then
        report "$t"
      else
        failed=1
        tail -n 60 "$dir"/run-$t.*.log
        echo "fuzz $mode: $t FAILED (inputs in $dir/findings/)"
      fi
    done
  done
  return $failed
}

case "$mode" in
  smoke)
    build
    replay
    runAll 0 "${2:-30}"
    ;;
  replay)
    build
    replay
    ;;
  campaign)
    runs="${2:?usage: scripts/fuzz.sh campaign RUNS}"
    build
    echo "fuzz campaign: sources at $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- fuzz orvane api formats builtins bridges model codegen membership numeric host cli/csv.cpp cli/csv.h || echo ' (with local changes)')"
    runAll "$runs" "${FUZZ_MAX_SECONDS:-0}"
    ;;
  minimise)
    build
    for t in "${targets[@]}"; do
      fresh="$dir/minimised/$t"
      rm -rf "$fresh"
      mkdir -p "$fresh" "$dir/work/$t"
      "$dir/fuzz_$t" $(options "$t") -merge=1 "$fresh" fuzz/seeds/$t fuzz/corpus/$t "$dir/work/$t" >"$dir/merge-$t.log" 2>&1
      rm -rf "fuzz/corpus/$t"
      mkdir -p "fuzz/corpus/$t"
      cp "$fresh"/* "fuzz/corpus/$t/" 2>/dev/null || true
      echo "fuzz minimise: $t: $(ls "fuzz/corpus/$t" | wc -l) inputs"
    done
    ;;
  *)
    echo "usage: scripts/fuzz.sh [smoke [SECONDS] | replay | campaign RUNS | minimise]" >&2
    exit 2
    ;;
esac
