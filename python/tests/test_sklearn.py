"""FuzzyRegressor as scikit-learn's tools use it: the estimator checks,
model selection on several processes, pickling and feature names."""
import pickle
import warnings

import numpy as np
import pytest

pytest.importorskip("sklearn")
pytest.importorskip("scipy")
import pandas as pd  # noqa: E402
from sklearn.base import clone  # noqa: E402
from sklearn.model_selection import GridSearchCV, cross_val_score  # noqa: E402
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

from fazolt.sklearn import FuzzyRegressor  # noqa: E402


def test_scikit_learns_estimator_checks_pass():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the checks' own data conversions
        check_estimator(FuzzyRegressor(max_iter=2))


def test_model_selection_pickling_and_feature_names():
    rng = np.random.default_rng(4)
    X = rng.uniform(-1, 1, (160, 2))
    y = np.sin(2 * X[:, 0]) + X[:, 1] ** 2 + rng.normal(0, 0.05, 160)
    frame = pd.DataFrame(X, columns=["speed", "load"])
    search = GridSearchCV(FuzzyRegressor(max_iter=3), {"terms": [2, 3]}, cv=3, n_jobs=2).fit(frame, y)
    assert search.best_params_["terms"] in (2, 3) and search.best_score_ > 0.9
    scores = cross_val_score(FuzzyRegressor(max_iter=3), X, y, cv=3, n_jobs=2)
    assert len(scores) == 3 and min(scores) > 0.8
    model = search.best_estimator_
    assert list(model.feature_names_in_) == ["speed", "load"] and model.n_features_in_ == 2
    again = pickle.loads(pickle.dumps(model))
    assert np.array_equal(again.predict(frame), model.predict(frame))
    assert np.array_equal(model.predict(frame), model.system_.evaluate(X, on_out_of_range="none")[:, 0])
    assert clone(model).get_params() == model.get_params()
