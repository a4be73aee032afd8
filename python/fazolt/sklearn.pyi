# scikit-learn has no types here: the estimators' own methods only.
from typing import Any, Optional, Union

import numpy as np
import numpy.typing as npt

from ._system import CheckMode, Mode, System
from .tune import Report

class FuzzyTransformer:
    system: System
    n_features_in_: int
    def __init__(self, system: System, on_out_of_range: Mode = ..., on_no_rule_fired: Mode = ...,
                 on_empty_set: Mode = ..., on_nan_input: CheckMode = ..., on_non_finite_output: CheckMode = ...,
                 threads: int = ...) -> None: ...
    def fit(self, X: Any, y: Any = ...) -> "FuzzyTransformer": ...
    def transform(self, X: Any) -> npt.NDArray[np.float64]: ...
    def fit_transform(self, X: Any, y: Any = ..., **fit_params: Any) -> npt.NDArray[np.float64]: ...
    def get_feature_names_out(self, input_features: Optional[Any] = ...) -> npt.NDArray[np.object_]: ...
    def get_params(self, deep: bool = ...) -> dict[str, Any]: ...
    def set_params(self, **params: Any) -> "FuzzyTransformer": ...

class FuzzyRegressor:
    terms: int
    shape: str
    max_rules: int
    max_iter: int
    ridge: Union[str, float]
    patience: int
    validation_fraction: float
    random_state: int
    threads: int
    system_: System
    report_: Report
    n_features_in_: int
    n_iter_: int
    feature_names_in_: npt.NDArray[np.object_]
    def __init__(self, terms: int = ..., shape: str = ..., max_rules: int = ..., max_iter: int = ...,
                 ridge: Union[str, float] = ..., patience: int = ..., validation_fraction: float = ...,
                 random_state: int = ..., threads: int = ...) -> None: ...
    def fit(self, X: Any, y: Any) -> "FuzzyRegressor": ...
    def predict(self, X: Any) -> npt.NDArray[np.float64]: ...
    def score(self, X: Any, y: Any, sample_weight: Optional[Any] = ...) -> float: ...
    def get_params(self, deep: bool = ...) -> dict[str, Any]: ...
    def set_params(self, **params: Any) -> "FuzzyRegressor": ...
