"""Fitting benchmark: a Mamdani system fitted to a noisy two-input surface,
with scikit-learn's GradientBoostingRegressor on the same split as a
reference point (when Debian's python3-sklearn is installed).

    PYTHONPATH=build/python /usr/bin/python3 bench/tune_mamdani.py [--max-iter N]

The surface z = sin(x) * cos(y / 2) + 0.1 x over x in [0, 6], y in [0, 8] is
sampled on a 21 x 21 grid with Gaussian noise (sigma 0.05, seed 7); a seeded
random two thirds train, the rest check. The start is fazolt.tune.grid's
Mamdani system (4 x 4 gbellmf terms, 16 rules, 4 output terms); least squares
fits the input and output terms and the rule weights.
"""
import argparse
import os
import time

import numpy as np

import fazolt
import fazolt.tune

NOISE = 0.05


def data():
    rng = np.random.default_rng(7)
    gx, gy = np.meshgrid(np.linspace(0, 6, 21), np.linspace(0, 8, 21))
    X = np.column_stack([gx.ravel(), gy.ravel()])
    clean = np.sin(X[:, 0]) * np.cos(X[:, 1] / 2) + 0.1 * X[:, 0]
    y = clean + rng.normal(0, NOISE, len(clean))
    order = rng.permutation(len(y))
    cut = 2 * len(y) // 3
    return X, y, clean, order[:cut], order[cut:]


def rmse(a, b):
    return float(np.sqrt(np.mean((a - b) ** 2)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--max-iter", type=int, default=10)
    parser.add_argument("--terms", type=int, default=4)
    args = parser.parse_args()
    X, y, clean, train, check = data()
    start = fazolt.tune.grid(X[train], y[train], terms=args.terms, shape="gbellmf", type="mamdani", name="surface")
    began = time.perf_counter()
    fitted, report = fazolt.tune.fit(start, X[train], y[train], tune=("inputs", "outputs", "weights"),
                                     method="least_squares", max_iter=args.max_iter,
                                     validation=(X[check], y[check]), threads=1)
    seconds = time.perf_counter() - began
    quiet = {"on_out_of_range": "none", "on_no_rule_fired": "none", "on_empty_set": "none"}
    before = start.evaluate(X, threads=1, **quiet)[:, 0]
    after = fitted.evaluate(X, threads=1, **quiet)[:, 0]
    print(report)
    print(f"Mamdani, {fitted.num_rules} rules, {len(report.parameter_names)} parameters: checking RMSE "
          f"{rmse(before[check], y[check]):.4f} -> {rmse(after[check], y[check]):.4f} "
          f"(against the noise-free surface {rmse(after[check], clean[check]):.4f}; noise sigma {NOISE}); "
          f"{report.iterations} iterations, {seconds:.1f} s, {report.evaluations} evaluations, "
          f"{report.rows_per_second:.3g} rows/s; load average {os.getloadavg()[0]:.2f}")
    try:
        from sklearn.ensemble import GradientBoostingRegressor
    except ImportError:
        print("scikit-learn is not installed (apt-get install python3-sklearn): no reference point")
        return
    began = time.perf_counter()
    gbr = GradientBoostingRegressor(random_state=0).fit(X[train], y[train])
    predicted = gbr.predict(X[check])
    print(f"GradientBoostingRegressor (defaults, random_state 0): checking RMSE {rmse(predicted, y[check]):.4f} "
          f"(against the noise-free surface {rmse(predicted, clean[check]):.4f}), {time.perf_counter() - began:.2f} s")


if __name__ == "__main__":
    main()
