# The compiled extension: internal to the package.
from typing import Any

__version__: str

def __getattr__(name: str) -> Any: ...
