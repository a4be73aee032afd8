# Packages the staged build (build/python/fazolt: the Python modules, the
# extension and the libraries it loads from its own folder). Run from the
# build tree:  pip install --no-build-isolation build/python
import re
from pathlib import Path

from setuptools import setup
from setuptools.dist import Distribution

here = Path(__file__).resolve().parent
extension = next(here.glob("fazolt/_fazolt*.so"), None)
if extension is None:
    raise SystemExit("fazolt: build the project first (scripts/build.sh), then pip install build/python")


class BinaryDistribution(Distribution):
    """The wheel holds compiled code: tag it for this platform and Python."""

    def has_ext_modules(self):
        return True


def version():
    # Written by CMake from the project's version.
    text = (here / "fazolt" / "_version.py").read_text()
    return re.search(r'__version__ = "([^"]+)"', text).group(1)


setup(
    name="fazolt",
    version=version(),
    description="Exact evaluation of fuzzy inference systems (Mamdani and Sugeno)",
    packages=["fazolt"],
    package_data={"fazolt": ["*.so", "*.so.*", "*.pyi", "py.typed"]},
    python_requires=">=3.9",
    install_requires=["numpy"],
    distclass=BinaryDistribution,
    zip_safe=False,
)
