# matplotlib has no types here: Axes are Any.
from typing import Any, Literal, Mapping, Optional

from ._system import Mode, System
from .explain import Explanation

CURVE_POINTS: int

def variable(system: System, name: str, value: Optional[float] = ..., ax: Any = ...) -> Any: ...
def output_set(explanation: Explanation, output: str, ax: Any = ...) -> Any: ...
def rules(explanation: Explanation, ax: Any = ...) -> Any: ...
def surface(system: System, x: str, y: str, output: str, fixed: Optional[Mapping[str, float]] = ...,
            resolution: int = ..., kind: Literal["heatmap", "3d"] = ..., ax: Any = ...,
            on_out_of_range: Mode = ..., on_no_rule_fired: Mode = ..., on_empty_set: Mode = ...) -> Any: ...
