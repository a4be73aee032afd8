from typing import Any, Callable, Iterable, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._system import System

Method = Literal["hybrid", "least_squares", "nelder_mead"]
Selection = Literal["inputs", "outputs", "weights"]
Shape = Literal["gbellmf", "gaussmf", "trimf"]
Ridge = Union[Literal["gcv"], float]

METHODS: Tuple[str, ...]
SELECTIONS: Tuple[str, ...]
SHAPES: Tuple[str, ...]
QUIET: dict[str, str]

class Report:
    method: str
    parameter_names: list[str]
    parameters_before: dict[str, float]
    parameters_after: dict[str, float]
    train_rmse: list[float]
    validation_rmse: list[float]
    iterations: int
    best_iteration: int
    evaluations: int
    rows_evaluated: int
    evaluation_seconds: float
    load_seconds: float
    seconds: float
    stopped: str
    @property
    def seconds_per_evaluation(self) -> float: ...
    @property
    def rows_per_second(self) -> float: ...

def fit(system: System, X: Any, y: Any, *, tune: Union[Selection, Iterable[Selection]] = ...,
        method: Optional[Method] = ..., max_iter: int = ..., seed: int = ...,
        validation: Optional[Tuple[Any, Any]] = ..., progress: Union[bool, Callable[[Report], Any]] = ...,
        threads: int = ..., ridge: Ridge = ..., patience: int = ...) -> Tuple[System, Report]: ...
def grid(X: Any, y: Any, terms: Union[int, Sequence[int]] = ..., shape: Shape = ...,
         type: Literal["sugeno", "mamdani"] = ..., name: str = ...) -> System: ...
def solve_levels(system: System, X: Any, y: Any, threads: int = ...,
                 ridge: Ridge = ...) -> dict[Tuple[int, int], npt.NDArray[np.float64]]: ...
