#!/usr/bin/env bash
# Installs what is missing (fuzzylite included), builds a Release tree with the
# benchmarks, makes the reference inputs and runs every measurement: `fazolt
# bench` on the three reference systems, the comparison against fuzzylite, the
# bare CSV cost, `fazolt eval` end to end, and the stage micro-benchmarks.
# Prints a markdown table at the end; the raw lines go to $dir/bench-results.txt.
#
#   scripts/bench.sh                 # 100,000 rows per system
#   BENCH_ROWS=5000 BENCH_REPS=3 scripts/bench.sh
#   BENCH_STAGES=0 scripts/bench.sh  # without the micro-benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${FAZOLT_BUILD_DIR:-build}"
rows="${BENCH_ROWS:-100000}"
reps="${BENCH_REPS:-5}"
flReps="${BENCH_FUZZYLITE_REPS:-2}"
systems="${FAZOLT_BENCH_SYSTEMS:-$(pwd)/bench/systems}"
makeInputs=bench/make_inputs.py

scripts/deps.sh libfuzzylite-dev
FAZOLT_BUILD_DIR="$dir" FAZOLT_BUILD_TYPE=Release scripts/build.sh -DFAZOLT_BUILD_BENCH=ON \
  -DFAZOLT_BENCH_SYSTEMS_DIR="$systems" >/dev/null

inputs="$dir/bench-inputs"
python3 "$makeInputs" "$inputs" --rows "$rows" >/dev/null
results="$dir/bench-results.txt"
: >"$results"

now_ns() { date +%s%N; }
field() { sed -n "s/.*[ ]$1=\([^ ]*\).*/\1/p"; }  # value of key=value in a line

declare -A benchNs benchCpu flNs flCpu ours2Ns ours2Cpu ratio cpuRatio evalMs csvMs agree
for s in fan big_mamdani sugeno_linear; do
  echo "== $s" >&2
  line=$("$dir/fazolt" bench "$systems/$s.json" "$inputs/$s.csv" --reps "$reps")
  echo "$line" | tee -a "$results" >&2
  benchNs[$s]=$(echo "$line" | field median_ns_row)
  benchCpu[$s]=$(echo "$line" | field cpu_ns_row)

  line=$("$dir/bench_fuzzylite" "$systems/$s.json" "$inputs/$s.csv" "$reps" "$flReps")
  echo "$line" | tee -a "$results" >&2
  ours2Ns[$s]=$(echo "$line" | field ours_ns_row)
  flNs[$s]=$(echo "$line" | field fuzzylite_ns_row)
  ratio[$s]=$(echo "$line" | field ratio)
  ours2Cpu[$s]=$(echo "$line" | field ours_cpu_ns_row)
  flCpu[$s]=$(echo "$line" | field fuzzylite_cpu_ns_row)
  cpuRatio[$s]=$(echo "$line" | field cpu_ratio)
  agree[$s]=$(echo "$line" | sed -n 's/.*\(max_ulps=[0-9]*\).*/\1/p;s/.*\(max_abs_diff=[^ ]*\).*/\1/p')

  numOutputs=$(python3 -c "import json,sys; print(len(json.load(open(sys.argv[1]))['outputs']))" "$systems/$s.json")
  line=$("$dir/bench_csv" "$inputs/$s.csv" "$dir/bench-csv-out.csv" "$numOutputs" "$reps")
  echo "$line" | tee -a "$results" >&2
  csvMs[$s]=$(echo "$line" | field median_ms)

  # Every diagnostic off, as in `fazolt bench`, so that both time the same work.
  evalCmd=("$dir/fazolt" eval "$systems/$s.json" "$inputs/$s.csv" --on-out-of-range none
           --on-no-rule-fired none --on-empty-set none)
  if command -v hyperfine >/dev/null; then
    hyperfine --runs 3 --export-json "$dir/bench-eval-$s.json" "${evalCmd[*]} > $dir/bench-eval-out.csv" >&2
    evalMs[$s]=$(python3 -c "import json,sys; print('%.1f' % (1000*json.load(open(sys.argv[1]))['results'][0]['median']))" \
                 "$dir/bench-eval-$s.json")
  else
    times=()
    for _ in 1 2 3; do
      start=$(now_ns); "${evalCmd[@]}" >"$dir/bench-eval-out.csv"; stop=$(now_ns)
      times+=($(( (stop - start) / 1000 )))
    done
    evalMs[$s]=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p | awk '{printf "%.1f", $1 / 1000}')
  fi
  echo "eval system=$s median_ms=${evalMs[$s]}" | tee -a "$results" >&2
done

# One row per call, as a control loop calls: ours through fazolt::Evaluator,
# fuzzylite through process(), each call timed alone, pinned to one core.
core="${BENCH_CORE:-1}"
declare -A oneRow
for s in pd_mamdani pd_sugeno; do
  echo "== $s, one row per call (core $core)" >&2
  line=$(taskset -c "$core" "$dir/bench_fuzzylite" "$systems/$s.json" "$inputs/$s.csv" "$reps" --one-row)
  echo "$line" | tee -a "$results" >&2
  oneRow[$s]="$line"
done

if [ "${BENCH_STAGES:-1}" != 0 ]; then
  echo "== stage micro-benchmarks" >&2
  FAZOLT_BENCH_SYSTEMS="$systems" "$dir/bench_stages" --benchmark_min_time=0.2 | tee -a "$results" >&2
fi

declare -A targets=([fan]=14 [big_mamdani]=40 [sugeno_linear]=20)
echo
echo "rows=$rows reps=$reps fuzzylite_reps=$flReps $(date -u +%Y-%m-%d) $(git rev-parse --short HEAD)"
echo
echo "ns/row as wall / CPU time; ratio = fuzzylite / ours, measured in one run (bench_fuzzylite)."
echo
echo "| system | fazolt bench ns/row | ours ns/row | fuzzylite ns/row | ratio wall | ratio CPU (target) | agreement | CSV bare ms | eval ms | eval / (bench + CSV) (target <= 1.5) |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | --- | ---: | ---: | ---: |"
for s in fan big_mamdani sugeno_linear; do
  budget=$(awk -v b="${benchNs[$s]}" -v c="${csvMs[$s]}" -v n="$rows" 'BEGIN { printf "%.2f", b * n / 1e6 + c }')
  e2e=$(awk -v e="${evalMs[$s]}" -v t="$budget" 'BEGIN { printf "%.2f", e / t }')
  echo "| $s | ${benchNs[$s]} / ${benchCpu[$s]} | ${ours2Ns[$s]} / ${ours2Cpu[$s]} | ${flNs[$s]} / ${flCpu[$s]} |" \
       "${ratio[$s]} | ${cpuRatio[$s]} (>= ${targets[$s]}) | ${agree[$s]} | ${csvMs[$s]} | ${evalMs[$s]} | $e2e |"
done
echo
echo "One row per call, pinned to core $core: ns per call, median / p99; ratio = fuzzylite / ours at the median."
echo
echo "| system | ours ns | fuzzylite ns | ratio (target) | ours allocations / call | fuzzylite allocations / call |"
echo "| --- | ---: | ---: | ---: | ---: | ---: |"
declare -A oneRowTargets=([pd_mamdani]="12, median <= 300 ns" [pd_sugeno]="10, median <= 50 ns")
for s in pd_mamdani pd_sugeno; do
  l="${oneRow[$s]}"
  echo "| $s | $(echo "$l" | field ours_median_ns) / $(echo "$l" | field ours_p99_ns) |" \
       "$(echo "$l" | field fuzzylite_median_ns) / $(echo "$l" | field fuzzylite_p99_ns) |" \
       "$(echo "$l" | field ratio) (>= ${oneRowTargets[$s]}) | $(echo "$l" | field ours_allocs_per_call) |" \
       "$(echo "$l" | field fuzzylite_allocs_per_call) |"
done
