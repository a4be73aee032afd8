"""The staged package installs with pip into a venv (no network) and gives the
build tree's outputs from there."""
import os
import shutil
import subprocess

import pytest

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
