#!/usr/bin/python3
"""Benchmarks of the Python package (not tests).

1. System.evaluate on N rows (default 1,000,000) of each reference system,
   against `fazolt bench`'s in-process time per row on the same rows, in one
   run. Both with every diagnostic off; evaluate's time includes converting
   the input array and writing the output array.
2. evaluate's peak extra memory (resident set growth) beside the output array.
3. Dask: a LocalCluster of 2 single-threaded worker processes against one
   process, on 4,000,000 rows of big_mamdani.
4. Threads in one process: evaluate(threads=2) and Dask's threads (the
   threaded scheduler, and a LocalCluster(processes=False,
   threads_per_worker=2)) against one-threaded evaluate, 4,000,000 rows of
   big_mamdani.
5. Rows in lanes from Python: the time per row of a surface grid (as
   fazolt.plot.surface builds it) and of a batch of generated rows, at each
   lane level; and `fazolt plot --surface` as a whole command.

    /usr/bin/python3 python/bench/bench_python.py [--build build] [--rows N] [--dask-rows N]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SYSTEMS = ROOT / "bench" / "systems"
MAKE_INPUTS = ROOT / "bench" / "make_inputs.py"
QUIET = dict(on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")


def cpu_seconds():
    return time.process_time()


def bench_evaluate(fazolt, np, build, name, csv, reps, rounds=3):
    """Rounds alternate between evaluate and the tool, so that a busy spell
    of the machine hits both; the lowest time per row of each is compared
    (the median is printed too)."""
    system = fazolt.System.from_file(SYSTEMS / f"{name}.json")
    rows = np.loadtxt(csv, delimiter=",", skiprows=1)
    system.evaluate(rows[:1000], **QUIET)  # warm up
    whole = np.asfortranarray(rows)
    wall, cpu, tool_min, tool_median, tool_cpu, one_call = [], [], [], [], [], []
    for _ in range(rounds):
        for _ in range(reps):
            c0, t0 = cpu_seconds(), time.perf_counter()
            system.evaluate(rows, **QUIET)
            wall.append((time.perf_counter() - t0) / len(rows) * 1e9)
            cpu.append((cpu_seconds() - c0) / len(rows) * 1e9)
            # The same rows as one bare module call in this process, as the
            # tool's bench makes it: what the binding adds, without the noise
            # of another process.
            c0 = cpu_seconds()
            system._native.call(whole, (0, 0, 0), 1)
            one_call.append((cpu_seconds() - c0) / len(rows) * 1e9)
        tool = subprocess.run([str(build / "fazolt"), "bench", str(SYSTEMS / f"{name}.json"), str(csv), "--reps",
                               str(reps)], capture_output=True, text=True, check=True).stdout
        fields = dict(f.split("=", 1) for f in tool.split())
        tool_min.append(float(fields["min_ns_row"]))
        tool_median.append(float(fields["median_ns_row"]))
        tool_cpu.append(float(fields["cpu_ns_row"]))
    py_min, tl_min = min(wall), min(tool_min)
    print(f"{name:14s} rows={len(rows)} evaluate min {py_min:7.1f} ns/row (median {np.median(wall):7.1f}, "
          f"cpu {np.median(cpu):7.1f})   fazolt bench min {tl_min:7.1f} ns/row (median {np.median(tool_median):7.1f}, "
          f"cpu {np.median(tool_cpu):7.1f})   ratio of minima {py_min / tl_min:.3f}; in this process one bare "
          f"call cpu {np.median(one_call):7.1f} ns/row, evaluate / bare call (cpu medians) "
          f"{np.median(cpu) / np.median(one_call):.3f}", flush=True)


def bench_memory(build, name, csv):
    """Peak resident growth of one evaluate, in a fresh process: the peak is
    reset just before the call (Linux: clear_refs 5), then read as VmHWM."""
    code = f"""
import sys
sys.path.insert(0, {str(build / 'python')!r})
import numpy as np, fazolt

def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key + ":")) / 1024

system = fazolt.System.from_file({str(SYSTEMS / (name + '.json'))!r})
rows = np.loadtxt({str(csv)!r}, delimiter=",", skiprows=1)
system.evaluate(rows[:10], on_out_of_range="none")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status("VmRSS")
out = system.evaluate(rows, on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")
peak = status("VmHWM")
print(f"{name:14s} peak extra {{peak - before:6.1f}} MiB = output array {{out.nbytes / 2**20:6.1f}} MiB "
      f"+ {{peak - before - out.nbytes / 2**20:5.1f}} MiB (inputs {{rows.nbytes / 2**20:.1f}} MiB, not copied)")
"""
    print(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout, end="")


def bench_dask(fazolt, np, rows_count, chunk_rows, rounds=5):
    """Rounds alternate between one process and the cluster, so that a busy
    spell of the machine (a shared host) hits both; the best time of each is
    compared, and the medians are printed too. Each task has a cost of its
    own (its input block and output array, Dask's bookkeeping), so fewer,
    larger chunks go faster: 250,000-row chunks gave 1.4x to 1.6x where
    1,000,000-row chunks gave 1.6x to 1.75x."""
    import dask.array as da
    import dask.dataframe as dd
    import pandas as pd
    from distributed import Client, LocalCluster, get_task_stream, wait
    import fazolt.dask

    system = fazolt.System.from_file(SYSTEMS / "big_mamdani.json")
    rng = np.random.default_rng(3)
    lo = np.array([v.range[0] for v in system.inputs])
    hi = np.array([v.range[1] for v in system.inputs])
    rows = lo + (hi - lo) * rng.random((rows_count, len(lo)))
    expected = system.evaluate(rows, **QUIET)
    single, on_cluster, gathered, per_call, task_compute, worker_cpu = [], [], [], [], [], []
    frame = pd.DataFrame(rows, columns=system.input_names)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        # The rows are on the workers before the clock starts, as in a real
        # job whose data the workers read themselves.
        array = client.persist(da.from_array(rows, chunks=(chunk_rows, len(lo))))
        wait(array)
        fazolt.dask.evaluate(array[:1000], system, **QUIET).compute()  # each worker loads the system
        same = np.array_equal(fazolt.dask.evaluate(array, system, **QUIET).compute().view(np.uint64),
                              expected.view(np.uint64))
        for r in range(rounds):
            t0 = time.perf_counter()
            system.evaluate(rows, **QUIET)
            single.append(time.perf_counter() - t0)
            # Outputs kept on the workers, as when they write them out
            # themselves; options that differ each round make a graph of its
            # own, so that nothing computed before is reused.
            lazy = fazolt.dask.evaluate(array, system, on_out_of_range=0, on_no_rule_fired=0, on_empty_set=r % 3)
            cpu0 = sum(client.run(time.process_time).values())
            with get_task_stream(client) as stream:
                t0 = time.perf_counter()
                kept = client.persist(lazy)
                wait(kept)
                on_cluster.append(time.perf_counter() - t0)
            worker_cpu.append(sum(client.run(time.process_time).values()) - cpu0)
            task_compute.append(sum(s["stop"] - s["start"] for task in stream.data for s in task["startstops"]
                                    if s["action"] == "compute"))
            del kept
            # Brought back: the outputs gathered into this process as well.
            lazy = fazolt.dask.evaluate(array, system, on_out_of_range=0, on_no_rule_fired=1, on_empty_set=r % 3)
            t0 = time.perf_counter()
            lazy.compute()
            gathered.append(time.perf_counter() - t0)
            # The data sent from this process on each call, the outputs brought back.
            t0 = time.perf_counter()
            fazolt.dask.evaluate(dd.from_pandas(frame, chunksize=chunk_rows), system, on_out_of_range=0,
                                 on_no_rule_fired=0, on_empty_set=r % 3).compute()
            per_call.append(time.perf_counter() - t0)
    best = min(single)
    print(f"dask big_mamdani rows={rows_count} in chunks of {chunk_rows:,}, best of {rounds} alternating rounds: single process {best:.2f} s "
          f"({rows_count / best:,.0f} rows/s; median {np.median(single):.2f} s); 2 workers, outputs kept on the "
          f"cluster {min(on_cluster):.2f} s (speed-up {best / min(on_cluster):.2f}x; medians "
          f"{np.median(single) / np.median(on_cluster):.2f}x), gathered to the client {min(gathered):.2f} s "
          f"(speed-up {best / min(gathered):.2f}x), from_pandas on each call {min(per_call):.2f} s "
          f"(speed-up {best / min(per_call):.2f}x); bit-identical {same}; per round on the cluster: the tasks' "
          f"compute {np.median(task_compute):.2f} s, workers' CPU {np.median(worker_cpu):.2f} s; "
          f"load average {os.getloadavg()[0]:.1f}")


def bench_threads(fazolt, np, rows_count, chunk_rows, rounds=5):
    """Rounds alternate between one thread and each threaded way, so that a
    busy spell of the machine hits them all; best times are compared."""
    import dask
    import dask.array as da
    from distributed import Client, LocalCluster
    import fazolt.dask

    system = fazolt.System.from_file(SYSTEMS / "big_mamdani.json")
    rng = np.random.default_rng(3)
    lo = np.array([v.range[0] for v in system.inputs])
    hi = np.array([v.range[1] for v in system.inputs])
    rows = lo + (hi - lo) * rng.random((rows_count, len(lo)))
    expected = system.evaluate(rows, **QUIET).view(np.uint64)
    array = da.from_array(rows, chunks=(chunk_rows, len(lo)))
    times = {"one thread": [], "evaluate threads=2": [], "dask threaded scheduler": [],
             "LocalCluster threads": []}
    same = True
    with LocalCluster(n_workers=1, threads_per_worker=2, processes=False, dashboard_address=None) as cluster, \
            Client(cluster, set_as_default=False) as client:
        for _ in range(rounds):
            t0 = time.perf_counter()
            system.evaluate(rows, **QUIET)
            times["one thread"].append(time.perf_counter() - t0)
            t0 = time.perf_counter()
            y = system.evaluate(rows, threads=2, **QUIET)
            times["evaluate threads=2"].append(time.perf_counter() - t0)
            same = same and np.array_equal(y.view(np.uint64), expected)
            with dask.config.set(scheduler="threads", num_workers=2):
                t0 = time.perf_counter()
                y = fazolt.dask.evaluate(array, system, **QUIET).compute()
                times["dask threaded scheduler"].append(time.perf_counter() - t0)
            same = same and np.array_equal(y.view(np.uint64), expected)
            t0 = time.perf_counter()
            y = client.compute(fazolt.dask.evaluate(array, system, **QUIET)).result()
            times["LocalCluster threads"].append(time.perf_counter() - t0)
            same = same and np.array_equal(y.view(np.uint64), expected)
    base = min(times["one thread"])
    for way, ts in times.items():
        print(f"threads big_mamdani rows={rows_count} chunks of {chunk_rows:,}: {way} best {min(ts):.3f} s, "
              f"median {np.median(ts):.3f} s, speed-up {base / min(ts):.2f}x (medians "
              f"{np.median(times['one thread']) / np.median(ts):.2f}x)")
    print(f"threads: outputs bit-identical to one thread: {same}; load average {os.getloadavg()[0]:.1f}")


LEVELS = ("scalar", "avx2", "avx512")


def bench_lanes(fazolt, np, build, csv_dir, reps=5):
    """Levels alternate within each round; the best time of each is shown."""
    for name in ("fan", "big_mamdani", "sugeno_linear"):
        system = fazolt.System.from_file(SYSTEMS / f"{name}.json")
        names = system.input_names
        ranges = [v.range for v in system.inputs]
        resolution = 1000
        gx, gy = np.meshgrid(np.linspace(*ranges[0], resolution), np.linspace(*ranges[1], resolution))
        grid = np.empty((gx.size, len(names)))
        for i, (lo, hi) in enumerate(ranges):
            grid[:, i] = (lo + hi) / 2
        grid[:, 0], grid[:, 1] = gx.ravel(), gy.ravel()
        batch = np.loadtxt(csv_dir / f"{name}.csv", delimiter=",", skiprows=1)
        best = {}
        for _ in range(reps):
            for level in LEVELS:
                os.environ["FAZOLT_LANES"] = level
                for label, rows in (("surface", grid), ("batch", batch)):
                    t0 = time.perf_counter()
                    system.evaluate(rows, **QUIET)
                    ns = (time.perf_counter() - t0) / len(rows) * 1e9
                    best[label, level] = min(best.get((label, level), ns), ns)
        os.environ.pop("FAZOLT_LANES")
        line = "  ".join(f"{label} " + " / ".join(f"{best[label, level]:.1f}" for level in LEVELS) +
                         f" ({best[label, 'scalar'] / best[label, 'avx512']:.2f}x)" for label in ("surface", "batch"))
        print(f"{name:14s} ns/row scalar / avx2 / avx512: {line}   "
              f"(surface {resolution}x{resolution} over {names[0]}, {names[1]}; batch {len(batch):,} rows)")
        tool = {}
        for _ in range(3):
            for level in ("scalar", "avx512"):
                with tempfile.TemporaryDirectory() as tmp:
                    t0 = time.perf_counter()
                    subprocess.run([str(build / "fazolt"), "plot", str(SYSTEMS / f"{name}.json"), "-o",
                                    f"{tmp}/s.png", "--surface", names[0], names[1], "--output",
                                    system.output_names[0], "--resolution", "1000", "--on-out-of-range", "none"],
                                   check=True, env=dict(os.environ, FAZOLT_LANES=level))
                    ms = (time.perf_counter() - t0) * 1e3
                tool[level] = min(tool.get(level, ms), ms)
        print(f"{name:14s} fazolt plot --surface at resolution 1000 (1,000,000 rows, PNG): scalar {tool['scalar']:.0f} ms, "
              f"avx512 {tool['avx512']:.0f} ms", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build"))
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--dask-rows", type=int, default=4_000_000)
    ap.add_argument("--dask-chunk", type=int, default=1_000_000, help="rows per Dask chunk")
    ap.add_argument("--skip-dask", action="store_true")
    ap.add_argument("--only", choices=["evaluate", "memory", "dask", "threads", "lanes"], help="one part of the benchmark")
    a = ap.parse_args()
    build = Path(a.build).resolve()
    sys.path.insert(0, str(build / "python"))
    os.environ["PYTHONPATH"] = str(build / "python")
    import numpy as np
    import fazolt

    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, str(MAKE_INPUTS), tmp, "--rows", str(a.rows)], check=True,
                       capture_output=True)
        for name in ("fan", "big_mamdani", "sugeno_linear"):
            if a.only in (None, "evaluate"):
                bench_evaluate(fazolt, np, build, name, Path(tmp) / f"{name}.csv", a.reps)
        for name in ("fan", "big_mamdani", "sugeno_linear"):
            if a.only in (None, "memory"):
                bench_memory(build, name, Path(tmp) / f"{name}.csv")
        if a.only in (None, "lanes"):
            bench_lanes(fazolt, np, build, Path(tmp))
    if a.only in (None, "dask") and not a.skip_dask:
        bench_dask(fazolt, np, a.dask_rows, a.dask_chunk)
    if a.only in (None, "threads") and not a.skip_dask:
        bench_threads(fazolt, np, a.dask_rows, a.dask_chunk)


if __name__ == "__main__":
    main()
