# dask has no types here: collections are Any.
from typing import Any

from ._system import System

def evaluate(data: Any, system: System, **options: Any) -> Any: ...
def issue_warnings(result: Any) -> None: ...
