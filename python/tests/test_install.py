"""The staged package installs with pip into a venv (no network) and gives the
build tree's outputs from there."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import fazolt
from conftest import BUILD, ROOT


@pytest.mark.skipif(bool(os.environ.get("FAZOLT_TEST_INSTALLED")), reason="already testing an installed package")
def test_pip_install_into_a_venv(tmp_path):
    # A copy, so that pip's in-tree build leaves the build folder as it was.
    source = tmp_path / "source"
    shutil.copytree(BUILD / "python", source, ignore=shutil.ignore_patterns("CMakeFiles", "build", "*.egg-info",
                                                                             "__pycache__", "*.cmake"))
    venv = tmp_path / "venv"
    # Debian's pip drives the venv's interpreter: the same install as the
    # venv's own pip, without the time ensurepip takes.
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", "--without-pip", str(venv)], check=True)
    subprocess.run(["/usr/bin/python3", "-m", "pip", "--python", str(venv / "bin" / "python"), "install", "-q",
                    "--no-build-isolation", "--no-index",
                    str(source)], check=True, capture_output=True)
    code = ("import fazolt, sys; s = fazolt.System.from_file(sys.argv[1]); "
            "print(fazolt.__file__); print(fazolt.__version__); print(s.evaluate([[5, 0.9], [15, 0.6]]).tobytes().hex())")
    run = subprocess.run([str(venv / "bin" / "python"), "-c", code, str(ROOT / "examples" / "dimmer" / "dimmer.json")],
                         capture_output=True, text=True, check=True, cwd=tmp_path,
                         env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    where, version, outputs = run.stdout.split()
    assert where.startswith(str(venv))
    import fazolt
    assert version == fazolt.__version__
    system = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    assert outputs == system.evaluate([[5, 0.9], [15, 0.6]]).tobytes().hex()


USES = '''
import numpy as np
import numpy.typing as npt
import fazolt
import fazolt.plot
import fazolt.sklearn
import fazolt.tune

def lukasiewicz(values: npt.NDArray[np.float64]) -> float:
    return max(float(values.sum()) - (len(values) - 1), 0.0)

fazolt.register_function("lukasiewicz", lukasiewicz)
dimmer = fazolt.System.from_file("dimmer.json", samples=201)
plant = fazolt.System.from_string(dimmer.to_fcl(), format="fcl")
out: npt.NDArray[np.float64] = dimmer.evaluate([[5.0, 0.9]], on_out_of_range="error", threads=2)
why = dimmer.explain({"daylight": 5.0, "motion": 0.9})
strengths: list[float] = [r.firing_strength for r in why.rules]
names: list[str] = [t.name for v in plant.inputs for t in v.terms]
degrees = dimmer.term_degrees("daylight", np.linspace(0, 30, 5))
fazolt.plot.surface(dimmer, "daylight", "motion", "lamp", fixed={"motion": 0.5})
features = fazolt.sklearn.FuzzyTransformer(dimmer).fit_transform(out)
start = fazolt.tune.grid(out, out[:, 0], terms=[2, 3], shape="gaussmf")
fitted, report = fazolt.tune.fit(start, out, out[:, 0], tune=("inputs", "outputs"), ridge="gcv", max_iter=0)
kept: float = report.train_rmse[report.best_iteration]
model = fazolt.sklearn.FuzzyRegressor(terms=3).fit(out, out[:, 0])
predicted: npt.NDArray[np.float64] = model.predict(out)
r2: float = model.score(out, out[:, 0])
try:
    dimmer.save("dimmer.fll")
except fazolt.FazoltError as e:
    print(e.identifier, e.message)
'''


def test_type_hints_pass_mypy_strict(tmp_path):
    # A user's code that uses the whole public API checks clean under
    # --strict, and a wrong argument is caught: the stubs are the ones read.
    mypy = shutil.which("mypy")
    if mypy is None:
        pytest.skip("mypy is not installed (scripts/deps.sh installs it)")
    package = os.path.dirname(os.path.dirname(__import__("fazolt").__file__))
    (tmp_path / "uses.py").write_text(USES)
    (tmp_path / "wrong.py").write_text("import fazolt\nfazolt.System.from_file('a.json').term_degrees(3, [1.0])\n")
    env = dict(os.environ, MYPYPATH=package)
    options = [mypy, "--strict", "--no-incremental", "--cache-dir", os.devnull]
    good = subprocess.run(options + ["uses.py"], cwd=tmp_path, env=env, capture_output=True, text=True)
    assert good.returncode == 0, good.stdout
    bad = subprocess.run(options + ["wrong.py"], cwd=tmp_path, env=env, capture_output=True, text=True)
    assert 'Argument 1 to "term_degrees"' in bad.stdout and bad.returncode == 1, bad.stdout


def test_every_public_function_says_what_it_takes_gives_raises_with_an_example():
    import inspect

    import fazolt
    import fazolt.dask
    import fazolt.plot
    import fazolt.sklearn
    import fazolt.tune
    undocumented = []
    for module in (fazolt, fazolt.plot, fazolt.dask, fazolt.tune, fazolt.sklearn):
        for name, item in vars(module).items():
            if name.startswith("_") or getattr(item, "__module__", "").split(".")[0] != "fazolt":
                continue
            members = [(name, item)] if inspect.isfunction(item) else [
                (f"{name}.{m}", getattr(v, "__func__", v)) for m, v in vars(item).items()
                if not m.startswith("_") and inspect.isfunction(getattr(v, "__func__", v))]
            for where, fn in members:
                doc = fn.__doc__ or ""
                wanted = ["Example"] + (["Returns", "Raises"] if len(inspect.signature(fn).parameters) > 1 else [])
                undocumented += [f"{where}: {w}" for w in wanted if w not in doc]
    assert undocumented == []


@pytest.mark.skipif(bool(os.environ.get("FAZOLT_TEST_INSTALLED")), reason="already testing an installed package")
def test_pip_install_from_the_source_tree_builds_only_the_package(tmp_path):
    # pip install ./python in a fresh copy of the tree: CMake builds the
    # libraries and the extension alone (no tests, stripped), and the
    # package evaluates as the build tree does.
    source = tmp_path / "tree"
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns(".git", "build*", "__pycache__", "*.egg-info"))
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", "--without-pip", str(venv)], check=True)
    launcher = "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache" if shutil.which("ccache") else ""
    subprocess.run(["/usr/bin/python3", "-m", "pip", "--python", str(venv / "bin" / "python"), "install", "-q",
                    "--no-build-isolation", "--no-index", str(source / "python")], check=True, capture_output=True,
                   env=dict(os.environ, FAZOLT_CMAKE_ARGS=launcher))
    built = source / "python" / "build" / "cmake"
    assert (built / "python" / "fazolt").is_dir() and not list(built.glob("fazolt_tests*"))
    assert not (built / "fazolt").exists()  # not even the tool, nor the libraries only it needs
    cache = (built / "CMakeCache.txt").read_text()
    assert "CLI11_DIR" not in cache and "CAIRO_FOUND" not in cache and "CPPHTTPLIB_FOUND" not in cache
    code = ("import fazolt, sys; s = fazolt.System.from_file(sys.argv[1]); "
            "print(fazolt.__file__); print(s.evaluate([[5, 0.9], [15, 0.6]]).tobytes().hex())")
    run = subprocess.run([str(venv / "bin" / "python"), "-c", code, str(ROOT / "examples" / "dimmer" / "dimmer.json")],
                         capture_output=True, text=True, check=True, cwd=tmp_path,
                         env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    where, outputs = run.stdout.split()
    assert where.startswith(str(venv))
    installed = Path(where).parent
    assert not list(installed.glob("_fazolt_testing*"))
    debug = subprocess.run(["readelf", "-S", *map(str, installed.glob("*.so*"))], capture_output=True, text=True).stdout
    assert ".debug_info" not in debug and ".symtab" not in debug
    system = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    assert outputs == system.evaluate([[5, 0.9], [15, 0.6]]).tobytes().hex()
