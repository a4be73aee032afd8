# The compiled extension: internal to the package.
from typing import Any

__version__: str
WARNINGS_PER_IDENTIFIER: int
NUM_SAMPLES: int

def __getattr__(name: str) -> Any: ...
