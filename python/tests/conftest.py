"""Shared helpers: the package from the build tree, the tool, the examples,
the reference systems and a check that the host's allocator gets back every
block."""
import csv
import gc
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("FAZOLT_BUILD_DIR", ROOT / "build")).resolve()
if not os.environ.get("FAZOLT_TEST_INSTALLED"):
    sys.path.insert(0, str(BUILD / "python"))

import fazolt  # noqa: E402

# The tests' C++ host functions, built with the tests beside the package.
sys.path.insert(0, str(BUILD / "python_testing"))

TOOL = BUILD / "fazolt"
REFERENCE_SYSTEMS = ROOT / "bench" / "systems"
MAKE_INPUTS = ROOT / "bench" / "make_inputs.py"
# Examples the tool evaluates on its own: custom_method needs its C++ function.
EXAMPLES = sorted(p for p in (ROOT / "examples").glob("*/inputs.csv") if p.parent.name != "custom_method")


def example_system(inputs_csv):
    return next(p for p in sorted(inputs_csv.parent.glob("*.json")) if not p.name.endswith(".record.json"))


def parse_rows(lines):
    """Rows of numbers from CSV lines, a non-numeric first line skipped."""
    rows = [r for r in csv.reader(lines) if r]
    try:
        [float(v) for v in rows[0]]
    except (ValueError, IndexError):
        rows = rows[1:]
    width = len(rows[0]) if rows else 0
    return np.array([[float(v) for v in r] for r in rows], dtype=np.float64).reshape(len(rows), width)


def read_rows(path):
    with open(path, newline="") as f:
        return parse_rows(f.read().splitlines())


def tool(*args, check=True):
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, check=check)


def tool_eval(system, inputs, *options):
    """The tool's outputs (exact: shortest round-trip text) and its warnings."""
    run = tool("eval", system, inputs, *options)
    outputs = parse_rows(run.stdout.splitlines())
    warnings = [line[len("warning: "):] for line in run.stderr.splitlines() if line.startswith("warning: ")]
    return outputs, warnings


def same_bits(a, b):
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


@pytest.fixture(scope="session")
def reference_inputs(tmp_path_factory):
    """Generated rows of the three reference systems: {name: csv path}."""
    out = tmp_path_factory.mktemp("reference_inputs")
    subprocess.run(["/usr/bin/python3", str(MAKE_INPUTS), str(out), "--rows", "20000"], check=True,
                   capture_output=True)
    return {p.stem: p for p in out.glob("*.csv")}


@pytest.fixture
def no_leak():
    """Fails the test if host blocks are still live after it."""
    gc.collect()  # systems kept alive by tracebacks in cycles hold their records
    before = fazolt.host_live_blocks()
    yield
    gc.collect()
    assert fazolt.host_live_blocks() == before
