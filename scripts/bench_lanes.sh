#!/usr/bin/env bash
# fazolt bench per row at each lane level against another build (the base)
# at the same level, pinned to one core, the runs alternating (base and new
# at scalar, avx2, avx512 per system per round) so that a busy spell of a
# shared machine hits all alike.
#
#   scripts/bench_lanes.sh BASE_FAZOLT [NEW_FAZOLT [ROUNDS [ROWS]]]
#
# Prints, per system and level, the best wall time of the rounds and the
# median CPU time (ns/row) of each build, the speed-ups new against base,
# and the checksum, which must be the same at every level and in both.
set -euo pipefail
cd "$(dirname "$0")/.."
base=$1 new=${2:-build/fazolt} rounds=${3:-5} rows=${4:-100000}
systems=bench/systems
inputs=$(mktemp -d)
trap 'rm -rf "$inputs"' EXIT
/usr/bin/python3 bench/make_inputs.py "$inputs" --rows "$rows" >/dev/null
for ((r = 0; r < rounds; r++)); do
  for s in fan big_mamdani sugeno_linear; do
    for level in scalar avx2 avx512; do
      for build in base new; do
        if [ $build = base ]; then bin=$base; else bin=$new; fi
        echo "$s $level $build $(FAZOLT_LANES=$level taskset -c 1 "$bin" bench "$systems/$s.json" "$inputs/$s.csv" --reps 5)"
      done
    done
  done
done | /usr/bin/python3 -c '
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in sys.stdin:
    system, level, build, *fields = line.split()
    kv = dict(f.split("=", 1) for f in fields)
    runs[system, level, build].append((float(kv["min_ns_row"]), float(kv["cpu_ns_row"]), kv["checksum"]))
for system, level, build in [k for k in runs if k[2] == "new"]:
    b, n = runs[system, level, "base"], runs[system, level, "new"]
    bbest, bcpu = min(r[0] for r in b), statistics.median(r[1] for r in b)
    best, cpu = min(r[0] for r in n), statistics.median(r[1] for r in n)
    print(f"{system:14s} {level:7s} base {bbest:7.1f} / {bcpu:7.1f}  new {best:7.1f} / {cpu:7.1f}  "
          f"speed-up {bbest / best:.2f} / {bcpu / cpu:.2f}  {b[0][2]} {n[0][2]}")
'
