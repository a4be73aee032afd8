#!/usr/bin/python3
"""Time per row of the exported C against the engine on the same rows.

For each reference system (bench/systems, the PD controllers first) and each
example, exports the system, compiles its C with a timing driver (cc -std=c99
-O2 -ffp-contract=off, and again with -march=native, where fma is an
instruction rather than a library call), calls PREFIX_evaluate once per row
over the CSV's rows (the mean of a round, best of REPS rounds, CPU time), and
prints a Markdown table beside the prepared evaluator one row per call and
fuzzylite one row per call (median per call, `bench_fuzzylite ... --one-row`,
when the bench build has it) and the batch per row (`fazolt bench`'s median).

    bench/export_c_speed.py BUILD_DIR INPUTS_DIR [REPS]
INPUTS_DIR holds SYSTEM.csv for each reference system (bench/make_inputs.py
writes them); the examples' rows are drawn here, uniform over their ranges.
"""
import json
import os
import random
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSTEMS = ["bench/systems/pd_mamdani.json", "bench/systems/pd_sugeno.json", "bench/systems/fan.json",
           "bench/systems/big_mamdani.json", "bench/systems/sugeno_linear.json", "examples/dimmer/dimmer.json",
           "examples/climate/climate.json", "examples/heater/heater.json", "examples/embedded/greenhouse.json"]

DRIVER = r"""#define _POSIX_C_SOURCE 199309L
#include "%(p)s.h"
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
int main(int argc, char **argv) {
    FILE *f = fopen(argv[1], "r");
    int reps = atoi(argv[2]), n = 0, cap = 1 << 16, r, k;
    double *rows = malloc(sizeof(double) * %(P)s_NUM_INPUTS * cap), out[%(P)s_NUM_OUTPUTS], best = 1e30, sum = 0;
    char line[4096];
    if (fgets(line, sizeof line, f) == NULL) return 1; /* header */
    while (fgets(line, sizeof line, f) != NULL) {
        char *p = line;
        if (n == cap) rows = realloc(rows, sizeof(double) * %(P)s_NUM_INPUTS * (cap *= 2));
        for (k = 0; k < %(P)s_NUM_INPUTS; ++k) { rows[n * %(P)s_NUM_INPUTS + k] = strtod(p, &p); if (*p == ',') ++p; }
        ++n;
    }
    for (r = 0; r < reps; ++r) {
        struct timespec a, b;
        double ns;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        for (k = 0; k < n; ++k) { %(p)s_evaluate(rows + k * %(P)s_NUM_INPUTS, out); sum += out[0]; }
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        ns = ((b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec)) / n;
        if (ns < best) best = ns;
    }
    printf("%%.1f %%d %%g\n", best, n, sum);
    return 0;
}
"""


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def example_rows(path, csv, rows=20000):
    """Rows uniform over the inputs' ranges, the same on every run."""
    inputs = json.load(open(path))["inputs"]
    rng = random.Random(7)
    with open(csv, "w") as f:
        f.write(",".join(i["name"] for i in inputs) + "\n")
        for _ in range(rows):
            f.write(",".join(repr(rng.uniform(*i["range"])) for i in inputs) + "\n")


def exported_ns(work, name, csv, reps, flags):
    exe = os.path.join(work, name + "_speed" + ("_native" if flags else ""))
    subprocess.run(["cc", "-std=c99", "-O2", "-ffp-contract=off"] + flags + ["-I", work, "-o", exe,
                    os.path.join(work, name + ".c"), os.path.join(work, name + "_main.c"), "-lm"], check=True)
    return float(run([exe, csv, reps]).split()[0])


def main():
    build, inputs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    reps = sys.argv[3] if len(sys.argv) > 3 else "5"
    work = os.path.join(build, "export-speed")
    os.makedirs(work, exist_ok=True)
    fazolt = os.path.join(build, "fazolt")
    fuzzylite = os.path.join(build, "bench_fuzzylite")
    print("| system | exported C, -O2 | exported C, -O2 -march=native | prepared evaluator, one row per call "
          "| batch per row | fuzzylite, one row per call |")
    print("| --- | ---: | ---: | ---: | ---: | ---: |")
    for path in SYSTEMS:
        name = os.path.splitext(os.path.basename(path))[0]
        system = os.path.join(ROOT, path)
        csv = os.path.join(inputs, name + ".csv")
        if not os.path.exists(csv):
            csv = os.path.join(work, name + ".csv")
            example_rows(system, csv)
        run([fazolt, "export", system, "-o", work, "--prefix", name])
        with open(os.path.join(work, name + "_main.c"), "w") as f:
            f.write(DRIVER % {"p": name, "P": name.upper()})
        plain = exported_ns(work, name, csv, reps, [])
        native = exported_ns(work, name, csv, reps, ["-march=native"])
        batch = re.search(r"median_ns_row=([0-9.]+)", run([fazolt, "bench", system, csv, "--reps", reps]))
        ours = theirs = None
        if os.path.exists(fuzzylite):
            try:
                line = run([fuzzylite, system, csv, "1", "--one-row"])
                ours = re.search(r"ours_median_ns=([0-9.]+)", line)
                theirs = re.search(r"fuzzylite_median_ns=([0-9.]+)", line)
            except subprocess.CalledProcessError:  # a system fuzzylite cannot express
                pass
        if ours is None:
            ours = re.search(r"one row per call: median ([0-9.]+)",
                             run([fazolt, "bench", system, csv, "--reps", "1", "--one-row"]))
        cell = lambda m: "%.0f" % float(m.group(1)) if m else "n/a"
        print("| %s | %.0f | %.0f | %s | %s | %s |" % (name, plain, native, cell(ours), cell(batch), cell(theirs)))


if __name__ == "__main__":
    main()
