"""fazolt: exact evaluation of fuzzy inference systems (Mamdani and Sugeno).

    import fazolt
    fan = fazolt.System.from_file("fan.json")
    speeds = fan.evaluate(rows)          # numpy (rows, inputs) or a DataFrame
    print(fan.explain(rows[0]))

Submodules imported on use: fazolt.plot (matplotlib), fazolt.dask, fazolt.sklearn (scikit-learn),
fazolt.tune (scipy).
"""
from . import _fazolt
from ._system import (FazoltError, FazoltWarning, System, Term, Variable, host_live_blocks, register_function,
                      unregister_function)
from .explain import Explanation

# Tracebacks and reprs name the package, where users find these, not the file.
for _public in (System, Explanation, FazoltError, FazoltWarning, Term, Variable):
    _public.__module__ = __name__
del _public

__version__ = _fazolt.__version__
# Every identifier a FazoltError's `id` can hold besides the module's and the host's own.
ERROR_IDS = _fazolt.ERROR_IDS

__all__ = ["System", "Explanation", "FazoltError", "FazoltWarning", "Term", "Variable", "register_function",
           "unregister_function", "host_live_blocks", "ERROR_IDS", "__version__"]


def __getattr__(name):
    # The submodules load matplotlib, dask, scikit-learn or scipy only when asked for.
    if name in ("plot", "dask", "sklearn", "tune"):
        import importlib
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'fazolt' has no attribute {name!r}")
