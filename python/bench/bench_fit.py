"""Fitting benchmark: fazolt's fitted Sugeno systems beside scikit-learn's
regressors, on data that ships with scikit-learn or is generated here.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench_fit.py

Every model sees the same 70/30 split and runs on one thread. Printed: the
test RMSE and the fit time of each, and whether fazolt meets its targets:
- diabetes (bmi, bp, s5): test RMSE within 5% of the best baseline, and no
  fold of a 5-fold cross-validation above 1.2 x the linear model's;
- sinc(x) sinc(y) + noise 0.05: test RMSE at most 0.055 in at most 2 s;
- Mackey-Glass (bench/tune_mackey_glass.py): checking RMSE at most 0.0015
  in at most 3 s;
- a 25-rule, two-input fit on 1,200 rows in at most 5 s.
"""
import os
import sys
import time
import warnings

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # one core, as the baselines

import numpy as np  # noqa: E402
from sklearn.datasets import load_diabetes  # noqa: E402
from sklearn.ensemble import GradientBoostingRegressor  # noqa: E402
from sklearn.linear_model import LinearRegression  # noqa: E402
from sklearn.model_selection import KFold, train_test_split  # noqa: E402
from sklearn.neighbors import KNeighborsRegressor  # noqa: E402
from sklearn.neural_network import MLPRegressor  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import StandardScaler  # noqa: E402

import fazolt.tune  # noqa: E402
from fazolt.sklearn import FuzzyRegressor  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import tune_mackey_glass  # noqa: E402


def baselines():
    return {
        "GradientBoosting": GradientBoostingRegressor(random_state=0),
        "KNeighbors": make_pipeline(StandardScaler(), KNeighborsRegressor(n_neighbors=10)),
        "MLP": make_pipeline(StandardScaler(), MLPRegressor(hidden_layer_sizes=(32,), max_iter=2000, random_state=0)),
        "Linear": LinearRegression(),
    }


def rmse(a, b):
    return float(np.sqrt(np.mean((np.asarray(a) - np.asarray(b)) ** 2)))


def timed_fit(model, X, y):
    began = time.perf_counter()
    model.fit(X, y)
    return time.perf_counter() - began


def compare(name, fuzzy, X, y):
    """fazolt's and the baselines' test RMSE and fit time on one 70/30 split."""
    X_train, X_test, y_train, y_test = train_test_split(X, y, test_size=0.3, random_state=0)
    results = {}
    for label, model in [("fazolt", fuzzy)] + list(baselines().items()):
        seconds = timed_fit(model, X_train, y_train)
        results[label] = (rmse(model.predict(X_test), y_test), seconds)
    print(f"\n{name}: {len(X_train)} training rows, {len(X_test)} test rows")
    for label, (error, seconds) in results.items():
        print(f"  {label:17s} test RMSE {error:10.5g}   fit {seconds:7.3f} s")
    return results


def diabetes():
    data = load_diabetes(as_frame=True)
    X = data.frame[["bmi", "bp", "s5"]].to_numpy()
    y = data.target.to_numpy()
    results = compare("diabetes (bmi, bp, s5)", FuzzyRegressor(terms=2), X, y)
    best = min(error for label, (error, _) in results.items() if label != "fazolt")
    ratios = []
    for train, test in KFold(5, shuffle=True, random_state=0).split(X):
        fuzzy = FuzzyRegressor(terms=2).fit(X[train], y[train])
        linear = LinearRegression().fit(X[train], y[train])
        ratios.append(rmse(fuzzy.predict(X[test]), y[test]) / rmse(linear.predict(X[test]), y[test]))
    print("  5-fold RMSE / linear's: " + ", ".join(f"{r:.3f}" for r in ratios))
    return [("diabetes: test RMSE within 5% of the best baseline", results["fazolt"][0] <= 1.05 * best,
             f"{results['fazolt'][0]:.4g} vs {best:.4g}"),
            ("diabetes: every CV fold at most 1.2 x linear", max(ratios) <= 1.2, f"worst {max(ratios):.3f}")]


def sinc_surface(rows, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(-1, 1, (rows, 2))
    y = np.sinc(3 * X[:, 0]) * np.sinc(3 * X[:, 1]) + rng.normal(0, 0.05, rows)
    return X, y


def sinc():
    X, y = sinc_surface(1000)
    results = compare("sinc(x) sinc(y) + noise 0.05", FuzzyRegressor(terms=4, max_rules=16), X, y)
    error, seconds = results["fazolt"]
    return [("sinc: test RMSE <= 0.055 in <= 2 s", error <= 0.055 and seconds <= 2, f"{error:.4f} in {seconds:.2f} s")]


def mackey_glass():
    _, X, y = tune_mackey_glass.rows()
    train, check = slice(0, 500), slice(500, 1000)
    began = time.perf_counter()
    start = fazolt.tune.grid(X[train], y[train], terms=2, shape="gbellmf", name="mackey_glass")
    fitted, report = fazolt.tune.fit(start, X[train], y[train], tune=("inputs", "outputs"), max_iter=3,
                                     progress=False, threads=1)
    seconds = time.perf_counter() - began
    error = rmse(fitted.evaluate(X[check], threads=1, on_out_of_range="none")[:, 0], y[check])
    print(f"\nMackey-Glass: checking RMSE {error:.5f}, fit {seconds:.2f} s ({report.iterations} iterations)")
    return [("Mackey-Glass: checking RMSE <= 0.0015 in <= 3 s", error <= 0.0015 and seconds <= 3,
             f"{error:.5f} in {seconds:.2f} s")]


def rules_25():
    X, y = sinc_surface(1200, seed=1)
    began = time.perf_counter()
    model = FuzzyRegressor(terms=5, max_rules=25).fit(X, y)
    seconds = time.perf_counter() - began
    print(f"\n25 rules, 2 inputs, 1,200 rows: {model.system_.num_rules} rules, fit {seconds:.2f} s, "
          f"training RMSE {rmse(model.predict(X), y):.4f}")
    return [("25-rule fit on 1,200 rows in <= 5 s", model.system_.num_rules == 25 and seconds <= 5,
             f"{seconds:.2f} s")]


def main():
    warnings.filterwarnings("ignore", message="Stochastic Optimizer")  # MLP's, at its iteration cap
    targets = diabetes() + sinc() + mackey_glass() + rules_25()
    print("\ntargets:")
    for what, met, figures in targets:
        print(f"  [{'met' if met else 'MISSED'}] {what}: {figures}")


if __name__ == "__main__":
    main()
