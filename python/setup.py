# Packages fazolt for pip, two ways:
#   pip install --no-build-isolation ./python   from the source tree: CMake
#       builds only the libraries and the extension (Release, stripped, no
#       tests or benchmarks) into python/build/cmake, then packages them;
#   pip install --no-build-isolation build/python   the staged package of a
#       build made already (scripts/build.sh), as it is.
import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.dist import Distribution

here = Path(__file__).resolve().parent
RUN_TIME_NEEDS = ("Lua 5.4 (Debian: liblua5.4-0), LAPACKE with 64-bit indices (liblapacke64), zlib (zlib1g), "
                  "numpy (python3-numpy)")


def staged_package():
    """The folder holding fazolt/ with the extension and the libraries it loads."""
    if next(here.glob("fazolt/_fazolt*.so"), None) is not None:
        return here
    root = here.parent
    if not (root / "CMakeLists.txt").is_file():
        raise SystemExit("fazolt: no built extension here and no source tree above: "
                         "pip install ./python from a fazolt checkout")
    build = here / "build" / "cmake"
    strip = "-s"  # no symbols or debug information in the installed libraries
    configure = ["cmake", "-S", str(root), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DFAZOLT_BUILD_TESTS=OFF", "-DFAZOLT_BUILD_CLI=OFF", "-DFAZOLT_BUILD_BENCH=OFF",
                 "-DFAZOLT_BUILD_PYTHON=ON",
                 f"-DPython3_EXECUTABLE={sys.executable}",
                 f"-DCMAKE_SHARED_LINKER_FLAGS={strip}", f"-DCMAKE_MODULE_LINKER_FLAGS={strip}"]
    configure += os.environ.get("FAZOLT_CMAKE_ARGS", "").split()  # e.g. a compiler launcher
    jobs = os.environ.get("FAZOLT_JOBS")
    compile_ = ["cmake", "--build", str(build), "--target", "fazolt_python"] + (["-j", jobs] if jobs else [])
    for command in (configure, compile_):
        print("fazolt:", " ".join(command), file=sys.stderr, flush=True)
        subprocess.run(command, check=True, stdout=sys.stderr)
    return build / "python"


class BinaryDistribution(Distribution):
    """The wheel holds compiled code: tag it for this platform and Python."""

    def has_ext_modules(self):
        return True


stage = staged_package()


def version():
    # Written by CMake from the project's version.
    text = (stage / "fazolt" / "_version.py").read_text()
    return re.search(r'__version__ = "([^"]+)"', text).group(1)


setup(
    name="fazolt",
    version=version(),
    description="Exact evaluation of fuzzy inference systems (Mamdani and Sugeno)",
    long_description=f"Needs at run time: {RUN_TIME_NEEDS}. Optional: pandas, matplotlib (fazolt.plot), "
                     "dask and distributed (fazolt.dask), scikit-learn (fazolt.sklearn).",
    long_description_content_type="text/plain",
    license="MIT",
    classifiers=["License :: OSI Approved :: MIT License"],
    packages=["fazolt"],
    package_dir={"fazolt": os.path.relpath(stage / "fazolt", here)},
    package_data={"fazolt": ["*.so", "*.so.*", "*.pyi", "py.typed", "LICENSE"]},
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"pandas": ["pandas"], "plot": ["matplotlib"], "dask": ["dask", "distributed"],
                    "sklearn": ["scikit-learn"]},
    distclass=BinaryDistribution,
    zip_safe=False,
)
