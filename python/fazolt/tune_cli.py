"""`fazolt tune`: the tool's command runs this with Debian's Python.

    fazolt tune SYSTEM DATA.csv --target COL[,COL] [--tune inputs,outputs,weights]
                [--validation FILE] [--max-iter N] [--seed S] [--method M] -o TUNED.json

Progress goes to stderr, the summary to stdout; errors are one line on
stderr, as the tool's own: exit status 1 for bad input, 2 for usage.
"""
import argparse
import csv
import math
import os
import re
import sys

import numpy as np

from ._system import FazoltError, System
from . import tune as tuning

# What the tool's CSV reader takes as a number: no locale, "+" allowed, no
# Python-only forms ("1_000", "infinity").
NUMBER = re.compile(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*")


class _Usage(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise _Usage(message)


def _parser():
    p = _Parser(prog="fazolt tune", description="Fit a system's parameters to data (the Python package's fazolt.tune).",
                epilog="Example: fazolt tune plant.json runs.csv --target flow --validation check.csv -o tuned.json")
    p.add_argument("system", metavar="SYSTEM", help="the system to start from (a description, FCL or FLL)")
    p.add_argument("data", metavar="DATA.csv", help="training rows: a header naming the inputs and the targets")
    p.add_argument("--target", required=True, metavar="COL[,COL]", help="the target columns, one per output")
    p.add_argument("--tune", default="inputs,outputs,weights", metavar="WHAT",
                   help="any of inputs, outputs, weights, comma-separated (default: all three)")
    p.add_argument("--validation", metavar="FILE", help="rows to check after each iteration, not fitted")
    p.add_argument("--method", choices=tuning.METHODS,
                   help="default: hybrid for a Sugeno system that allows it, least_squares otherwise")
    p.add_argument("--max-iter", type=int, default=100, metavar="N", help="iterations (default 100)")
    p.add_argument("--seed", type=int, default=0, metavar="S", help="the Nelder-Mead starting simplex (default 0)")
    p.add_argument("--threads", type=int, default=0, metavar="N",
                   help="threads per evaluation (default 0: one per core)")
    p.add_argument("-o", "--output", required=True, metavar="TUNED", help="the fitted system (language by suffix)")
    return p


def read_csv(path, system, targets):
    """(inputs, targets) from a CSV file with a header; a fault names the file, line and column."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
    except OSError as e:
        raise FazoltError("fazolt:io:CannotRead", f"{path}: {e.strerror}") from None
    except UnicodeDecodeError:
        raise FazoltError("fazolt:csv:Invalid", f"{path}: not UTF-8 text") from None
    if not rows:
        raise FazoltError("fazolt:csv:Invalid", f"{path}: empty file; expected a header naming the columns")
    header = [name.strip() for name in rows[0]]
    if header and all(NUMBER.fullmatch(name) for name in header):
        raise FazoltError("fazolt:csv:Invalid", f"{path}:1: expected a header naming the columns, got numbers")
    for name in targets:
        if name in system.input_names:
            raise FazoltError("fazolt:tune:BadArgument", f"--target {name}: {name!r} is an input of the system "
                              f"(inputs: {', '.join(system.input_names)})")
    wanted = list(system.input_names) + list(targets)
    for name in wanted:
        if name not in header:
            what = "input" if name in system.input_names else "target"
            raise FazoltError("fazolt:csv:Invalid", f"{path}:1: no column {name!r} (the {what}); "
                              f"columns: {', '.join(header)}")
    columns = [header.index(name) for name in wanted]
    values = []
    for line, row in enumerate(rows[1:], start=2):
        if not row:
            continue
        if len(row) != len(header):
            raise FazoltError("fazolt:csv:Invalid", f"{path}:{line}: {len(row)} fields, the header {len(header)}")
        numbers = []
        for c in columns:
            text = row[c]
            number = float(text) if NUMBER.fullmatch(text) else math.nan
            if not math.isfinite(number):
                raise FazoltError("fazolt:csv:Invalid", f"{path}:{line}: column {header[c]!r}: {text!r} is not "
                                  "a finite number")
            numbers.append(number)
        values.append(numbers)
    if not values:
        raise FazoltError("fazolt:csv:Invalid", f"{path}: no rows after the header")
    a = np.array(values, dtype=np.float64)
    n = len(system.input_names)
    return a[:, :n], a[:, n:]


def run(args):
    system = System.from_file(args.system)
    targets = [t.strip() for t in args.target.split(",") if t.strip()]
    if len(targets) != len(system.output_names):
        raise FazoltError("fazolt:tune:BadArgument",
                          f"--target {args.target}: {len(targets)} column{'' if len(targets) == 1 else 's'}, the "
                          f"system {len(system.output_names)} output(s): {', '.join(system.output_names)}")
    # A fit may take minutes: what would keep the result from being written is found first.
    folder = os.path.dirname(os.path.abspath(args.output))
    if not os.path.isdir(folder):
        raise FazoltError("fazolt:io:CannotWrite", f"{args.output}: there is no folder {folder}")
    system._text_for(args.output)  # the fitted system has the start's structure
    X, y = read_csv(args.data, system, targets)
    validation = read_csv(args.validation, system, targets) if args.validation else None
    selection = [t.strip() for t in args.tune.split(",") if t.strip()]
    tuned, report = tuning.fit(system, X, y, tune=selection, method=args.method, max_iter=args.max_iter,
                               seed=args.seed, validation=validation, progress=True, threads=args.threads)
    tuned.save(args.output)
    kept = report.best_iteration  # the iteration written out
    summary = f"RMSE {report.train_rmse[0]:.6g} -> {report.train_rmse[kept]:.6g}"
    if report.validation_rmse:
        summary += f" (validation {report.validation_rmse[0]:.6g} -> {report.validation_rmse[kept]:.6g})"
    print(f"{args.output}: {summary}; {report.method}, {report.iterations} iterations, "
          f"{report.evaluations} evaluations, {report.seconds:.3g} s; {report.stopped}")
    return 0


def main(argv):
    try:
        args = _parser().parse_args(argv)
        if args.max_iter < 1:
            raise _Usage(f"--max-iter: expected a whole number from 1, got {args.max_iter}")
        if args.seed < 0:
            raise _Usage(f"--seed: expected a whole number from 0, got {args.seed}")
        return run(args)
    except _Usage as e:
        print(f"error: usage: {e} (fazolt tune --help for the options)", file=sys.stderr)
        return 2
    except FazoltError as e:
        print(f"error: {e.identifier}: {e.message}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("error: fazolt:tune:Interrupted: interrupted; nothing written", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
