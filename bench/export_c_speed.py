#!/usr/bin/python3
"""Time per row of the exported C against `fazolt bench` on the same rows.

Exports each reference system (bench/systems), compiles its C with a timing
driver (-O2 -ffp-contract=off), calls PREFIX_evaluate once per row over the
CSV's rows, best of REPS rounds, and prints a Markdown table beside the
batch's ns/row from `fazolt bench`.

    bench/export_c_speed.py BUILD_DIR INPUTS_DIR [REPS]
INPUTS_DIR holds SYSTEM.csv for each system (bench/make_inputs.py writes them).
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSTEMS = ["fan", "big_mamdani", "sugeno_linear"]

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


def main():
    build, inputs = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    reps = sys.argv[3] if len(sys.argv) > 3 else "5"
    work = os.path.join(build, "export-speed")
    os.makedirs(work, exist_ok=True)
    print("| system | exported C ns/row (one call per row) | fazolt bench ns/row (batch) | ratio |")
    print("| --- | ---: | ---: | ---: |")
    for name in SYSTEMS:
        subprocess.run([os.path.join(build, "fazolt"), "export", os.path.join(ROOT, "bench/systems", name + ".json"),
                        "-o", work, "--prefix", name], check=True)
        with open(os.path.join(work, name + "_main.c"), "w") as f:
            f.write(DRIVER % {"p": name, "P": name.upper()})
        exe = os.path.join(work, name + "_speed")
        subprocess.run(["cc", "-std=c99", "-O2", "-ffp-contract=off", "-I", work, "-o", exe,
                        os.path.join(work, name + ".c"), os.path.join(work, name + "_main.c"), "-lm"], check=True)
        csv = os.path.join(inputs, name + ".csv")
        ours = float(subprocess.run([exe, csv, reps], check=True, capture_output=True, text=True).stdout.split()[0])
        bench = subprocess.run([os.path.join(build, "fazolt"), "bench", os.path.join(ROOT, "bench/systems", name + ".json"),
                                csv, "--reps", reps], check=True, capture_output=True, text=True).stdout
        m = re.search(r"median_ns_row=([0-9.]+)", bench)
        batch = float(m.group(1)) if m else float("nan")
        print("| %s | %.1f | %.1f | %.2f |" % (name, ours, batch, ours / batch))


if __name__ == "__main__":
    main()
