from . import dask as dask
from . import plot as plot
from . import sklearn as sklearn
from ._system import FazoltError as FazoltError
from ._system import FazoltWarning as FazoltWarning
from ._system import System as System
from ._system import Term as Term
from ._system import Variable as Variable
from ._system import host_live_blocks as host_live_blocks
from ._system import register_function as register_function
from ._system import unregister_function as unregister_function
from .explain import Explanation as Explanation

__version__: str
__all__: list[str]
