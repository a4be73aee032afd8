from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

class InputDegrees(NamedTuple):
    name: str
    value: float
    degrees: dict[str, float]

class RuleFiring(NamedTuple):
    index: int  # type: ignore[assignment]  # the field shadows tuple.index, as at run time
    text: str
    antecedent: dict[str, float]
    firing_strength: float

class OutputSet(NamedTuple):
    name: str
    value: float
    samples: npt.NDArray[np.float64]
    values: npt.NDArray[np.float64]

RESULT_NAMES: tuple[str, ...]

class Explanation:
    system: Any
    row: npt.NDArray[np.float64]
    results: dict[str, npt.NDArray[np.float64]]
    is_mamdani: bool
    total_firing_strength: float
    inputs: list[InputDegrees]
    rules: list[RuleFiring]
    outputs: list[OutputSet]
    def __init__(self, system: Any, row: npt.NDArray[np.float64], explanation: dict[str, Any],
                 results: list[npt.NDArray[np.float64]]) -> None: ...
    def output(self, name: str) -> OutputSet: ...
