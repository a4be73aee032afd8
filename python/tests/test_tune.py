"""Fitting to data: the least-squares step, fits that recover a system,
constraints, seeds, bad input, and the tool's command."""
import subprocess
import warnings

import numpy as np
import pytest

import fazolt
from conftest import TOOL

pytest.importorskip("scipy")
import fazolt.tune as tune  # noqa: E402

# Two inputs, four rules, each its own linear level; rule 3 weighs 0.7.
MIXER = {
    "name": "mixer", "type": "sugeno",
    "inputs": [
        {"name": "heat", "range": [0, 10], "mf": [
            {"name": "low", "type": "gaussmf", "params": [3, 0]},
            {"name": "high", "type": "gaussmf", "params": [3.5, 10]}]},
        {"name": "flow", "range": [0, 1], "mf": [
            {"name": "small", "type": "trimf", "params": [-1, 0, 0.8]},
            {"name": "big", "type": "trapmf", "params": [0.3, 1, 2, 2]}]}],
    "outputs": [{"name": "mix", "range": [-5, 30], "mf": [
        {"name": "a", "type": "linear", "params": [1.5, -2, 3]},
        {"name": "b", "type": "linear", "params": [0.5, 4, -1]},
        {"name": "c", "type": "constant", "params": [7]},
        {"name": "d", "type": "linear", "params": [2, 1, 0.25]}]}],
    "rules": ["if heat is low and flow is small then mix is a",
              "if heat is low and flow is big then mix is b",
              "if heat is high and flow is small then mix is c with 0.7",
              {"antecedent": [2, 2], "consequent": [4]}],
}

# A Mamdani system with ordered shapes, a width and rule weights.
LAMP = {
    "name": "lamp", "type": "mamdani",
    "inputs": [{"name": "light", "range": [0, 100], "mf": [
        {"name": "dark", "type": "trapmf", "params": [0, 0, 20, 45]},
        {"name": "bright", "type": "gaussmf", "params": [20, 100]}]}],
    "outputs": [{"name": "power", "range": [0, 10], "mf": [
        {"name": "low", "type": "trimf", "params": [-4, 0, 4]},
        {"name": "high", "type": "trimf", "params": [5, 10, 15]}]}],
    "rules": ["if light is dark then power is high", "if light is bright then power is low with 0.9"],
}


def _rows(n, seed=1):
    rng = np.random.default_rng(seed)
    return np.column_stack([rng.uniform(0, 10, n), rng.uniform(0, 1, n)])


def _perturbed(d, changes):
    d = fazolt.System(d).to_dict()
    for (kind, v, j), params in changes.items():
        d[kind][v]["mf"][j]["params"] = params
    return d


def test_least_squares_step_recovers_the_output_levels_exactly():
    mixer = fazolt.System(MIXER)
    X = _rows(200)
    y = mixer.evaluate(X)
    start = mixer.to_dict()
    for term in start["outputs"][0]["mf"]:
        term["params"] = [0.0] * len(term["params"])
    levels = tune.solve_levels(fazolt.System(start), X, y)
    for j, term in enumerate(MIXER["outputs"][0]["mf"]):
        np.testing.assert_allclose(levels[(0, j)], term["params"], rtol=1e-10, atol=1e-10)
    fitted, report = tune.fit(fazolt.System(start), X, y, tune="outputs", progress=False)
    assert report.train_rmse[-1] < 1e-12 and report.stopped == "output levels solved"


@pytest.mark.parametrize("method, selection, changes", [
    ("hybrid", ("inputs", "outputs"), {("inputs", 0, 0): [2.2, 0.8], ("inputs", 0, 1): [4, 9.3],
                                       ("outputs", 0, 2): [5.5]}),
    ("least_squares", ("inputs",), {("inputs", 0, 0): [2.2, 0.8], ("inputs", 0, 1): [4, 9.3]})])
def test_fit_recovers_a_perturbed_system(method, selection, changes):
    mixer = fazolt.System(MIXER)
    X = _rows(150)
    y = mixer.evaluate(X)
    start = fazolt.System(_perturbed(MIXER, changes))
    # ridge 0: the exact system is what plain least squares recovers; its
    # "high" centre sits on the range's end, a bound the steps approach slowly
    fitted, report = tune.fit(start, X, y, tune=selection, method=method, max_iter=40, progress=False, ridge=0)
    output_range = 35
    assert report.train_rmse[0] > 0.1
    assert report.train_rmse[-1] < 1e-6 * output_range, str(report)
    assert np.sqrt(np.mean((fitted.evaluate(X) - y) ** 2)) == report.train_rmse[-1]
    assert start.to_dict() == _perturbed(MIXER, changes)  # the input is unchanged
    assert set(report.parameters_before) == set(report.parameters_after)
    assert report.parameters_before["inputs[0].mf[1].params[1]"] == 9.3


def _constraints_hold(d):
    for kind in ("inputs", "outputs"):
        for var in d[kind]:
            lo, hi = var["range"]
            for term in var["mf"]:
                p = term["params"]
                if term["type"] in ("trimf", "trapmf"):
                    assert all(a <= b for a, b in zip(p, p[1:])), term
                    assert lo - (hi - lo) <= p[0] <= hi + (hi - lo), term
                if term["type"] == "gaussmf":
                    assert p[0] >= 1e-3 * (hi - lo) and lo <= p[1] <= hi, term
    for rule in d["rules"]:
        assert 1e-3 <= tune._rule_weight(rule) <= 1, rule


@pytest.mark.parametrize("method", ["least_squares", "nelder_mead"])
def test_every_system_tried_keeps_its_constraints_and_passes_check(method, monkeypatch, tmp_path):
    lamp = fazolt.System(LAMP)
    x = np.linspace(0, 100, 60).reshape(-1, 1)
    # a target the rules cannot follow pushes the parameters to their bounds
    y = np.where(x[:, 0] < 50, 10.0, -3.0)
    tried = []
    predict = tune._Evaluator.predict

    def checked(self, description, X):
        _constraints_hold(description)
        tried.append(1)
        return predict(self, description, X)

    monkeypatch.setattr(tune._Evaluator, "predict", checked)
    fitted, report = tune.fit(lamp, x, y, method=method, max_iter=15, progress=False)
    assert len(tried) == report.evaluations > 15
    assert report.train_rmse[-1] < report.train_rmse[0]
    fitted.save(tmp_path / "fitted.json")
    assert np.array_equal(fazolt.System.from_file(tmp_path / "fitted.json").evaluate(x), fitted.evaluate(x))
    assert subprocess.run([TOOL, "check", tmp_path / "fitted.json"], capture_output=True).returncode == 0
    # text rules keep their text, with the fitted weight
    assert fitted.to_dict()["rules"][0].startswith("if light is dark then power is high")
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    from fazolt import plot
    assert len(plot.training_curve(report).lines) == 1
    assert len(plot.tuned_terms(lamp, fitted, "power").lines) == 4


def test_a_seed_gives_the_same_fit_bit_for_bit():
    lamp = fazolt.System(LAMP)
    x = np.linspace(0, 100, 40).reshape(-1, 1)
    y = 10 - x[:, 0] / 10
    runs = [tune.fit(lamp, x, y, method="nelder_mead", max_iter=40, seed=seed, threads=threads, progress=False)
            for seed, threads in ((5, 1), (5, 2), (6, 1))]
    assert runs[0][0].to_dict() == runs[1][0].to_dict()
    assert runs[0][1].train_rmse == runs[1][1].train_rmse
    assert runs[0][0].to_dict() != runs[2][0].to_dict()


def test_bad_input_is_one_clear_error():
    mixer = fazolt.System(MIXER)
    X = _rows(20)
    y = mixer.evaluate(X)[:, 0]
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"heat": X[:, 0], "flow": X[:, 1], "mix": y})
    nan_y = y.copy()
    nan_y[7] = np.nan
    cases = [
        ((X, y[:-1]), {}, "X has 20 rows, its targets 19"),
        ((X, nan_y), {}, r"y: row 7 \(mix\) is nan"),
        ((frame, "flow"), {}, "target column 'flow' is an input"),
        ((frame, frame[["heat"]]), {}, "target column 'heat' is an input"),
        ((X, y), {"tune": ()}, "the empty selection selects no parameter"),
        ((X, y), {"tune": ("inputs", "rules")}, "unknown selection 'rules'"),
        ((X, y), {"method": "newton"}, "method: expected one of"),
        ((X, y), {"validation": (X, y[:3])}, "validation X has 20 rows, its targets 3"),
        ((X, y), {"ridge": -1.0}, 'ridge: expected "gcv" or a strength from 0'),
    ]
    for args, options, expected in cases:
        with pytest.raises(fazolt.FazoltError, match=expected) as e:
            tune.fit(mixer, *args, progress=False, **options)
        assert e.value.identifier == "fazolt:tune:BadArgument"
    with pytest.raises(fazolt.FazoltError, match='"hybrid" is for Sugeno systems'):
        tune.fit(fazolt.System(LAMP), X[:, :1], y, method="hybrid", progress=False)
    fitted, _ = tune.fit(mixer, frame, "mix", tune="outputs", progress=False)  # names select the columns
    # pd.NA is named as evaluate names it; no iterations return the start and its report
    with pytest.raises(fazolt.FazoltError, match="column 'flow': row 2 is pd.NA"):
        tune.fit(mixer, frame.assign(flow=pd.array([0.5, 0.5, None] + [0.5] * 17, dtype="Float64")), "mix")
    same, report = tune.fit(mixer, X, y, max_iter=0, progress=False)
    assert same == mixer and report.iterations == 0 and len(report.train_rmse) == 1


def test_noisy_data_keeps_the_best_validation_iteration_and_shrinks_the_levels():
    # Few rows, much noise, many rules: without ridge the levels chase the noise.
    rng = np.random.default_rng(3)
    X = rng.uniform(-1, 1, (90, 2))
    y = X[:, 0] - 0.5 * X[:, 1] + rng.normal(0, 0.5, 90)
    start = tune.grid(X, y, terms=3, shape="gaussmf")
    train, check = slice(0, 60), slice(60, 90)
    fitted, report = tune.fit(start, X[train], y[train], tune=("inputs", "outputs"), max_iter=15,
                              validation=(X[check], y[check]), progress=False)
    best = report.best_iteration
    assert report.validation_rmse[best] == min(report.validation_rmse)
    # the kept iteration's numbers are the module's, for the system returned
    assert report.validation_rmse[best] == np.sqrt(np.mean((fitted.evaluate(X[check])[:, 0] - y[check]) ** 2))
    plain = tune.fit(start, X[train], y[train], tune="outputs", progress=False, ridge=0)[1]
    ridged = tune.fit(start, X[train], y[train], tune="outputs", progress=False)[1]
    assert ridged.train_rmse[-1] > plain.train_rmse[-1]
    held_out = [tune.fit(start, X[train], y[train], tune="outputs", progress=False, ridge=r,
                         validation=(X[check], y[check]))[1].validation_rmse[-1] for r in (0, "gcv")]
    assert held_out[1] < held_out[0]


@pytest.mark.parametrize("system, X", [(MIXER, _rows(50)), (LAMP, np.linspace(0, 100, 50).reshape(-1, 1))])
def test_points_tried_from_the_record_are_the_description_bit_for_bit(system, X, no_leak):
    d = fazolt.System(system).to_dict()
    params = tune._Parameters(d, tune.SELECTIONS, levels_apart=False)
    evaluator = tune._Evaluator(tune.Report("", [], []), 1)
    evaluator.predict(d, X)
    assert evaluator.bases["system"] is not None  # the points below come from its record
    rng = np.random.default_rng(5)
    for _ in range(3):
        z = np.clip(params.start() * rng.uniform(0.8, 1.2, len(params.lower)), params.lower, params.upper)
        moved = params.apply(z)
        assert np.array_equal(evaluator.predict(moved, X), fazolt.System(moved).evaluate(X, **tune.QUIET))


@pytest.mark.parametrize("defuzz", ["wtaver", "wtsum"])
def test_premise_derivatives_agree_with_differences(defuzz):
    # every shape with a closed form, a NOT, an input left out, rule weights
    d = fazolt.System(dict(MIXER, defuzzMethod=defuzz)).to_dict()
    d["inputs"][0]["mf"][1] = {"name": "high", "type": "gbellmf", "params": [3, 2, 10]}
    d["rules"][1] = {"antecedent": [1, -2], "consequent": [2]}
    d["rules"][3] = {"antecedent": [2, 0], "consequent": [4], "weight": 0.6}
    rng = np.random.default_rng(3)
    X = rng.uniform([0, 0], [10, 1], (200, 2))
    params = tune._Parameters(d, ("inputs", "weights"), levels_apart=True)
    fast = tune._NumpyWeights.of(d, tune._Levels(fazolt.System(d)), X)
    outputs = rng.normal(size=(200, 4, 1))  # each rule's level per row, held

    def predicted(z):
        return np.nan_to_num(np.einsum("nr,nro->no", fast(params.apply(z), X), outputs)).ravel()

    z = params.start()
    J = fast.slopes(params.apply(z), X, params.groups, outputs)
    assert fast.has_slopes and J.shape == (200, len(z)) == (200, 16)
    for k in range(len(z)):
        step = 1e-6 * max(1.0, abs(z[k]))
        up, down = z.copy(), z.copy()
        up[k] += step
        down[k] -= step
        np.testing.assert_allclose(J[:, k], (predicted(up) - predicted(down)) / (2 * step), atol=1e-6,
                                   err_msg=params.names()[k])


def test_a_weight_other_tools_treat_as_zero_is_warned_of_in_fll_and_fcl(tmp_path):
    system = fazolt.System(dict(MIXER, rules=MIXER["rules"][:3] + [
        {"antecedent": [2, 2], "consequent": [4], "weight": 1e-7}]))
    with pytest.warns(fazolt.FazoltWarning, match=r"rules\[3\]\.weight: 1e-07 is at most 1e-06") as caught:
        system.to_fll()
        system.save(tmp_path / "mixer.fcl")
    assert [w.message.identifier for w in caught] == ["fazolt:fll:NearZeroWeight", "fazolt:fcl:NearZeroWeight"]
    assert caught[1].filename == __file__
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        system.to_json()
        fazolt.System(MIXER).to_fll()


def test_grid_builds_the_full_grid_sugeno_system():
    X = _rows(100)
    y = 3 * X[:, 0] - X[:, 1]
    system = tune.grid(X, y, terms=[3, 2], shape="gbellmf")
    assert system.num_rules == 6 and [len(v.terms) for v in system.inputs] == [3, 2]
    lo, hi = X[:, 0].min(), X[:, 0].max()
    np.testing.assert_allclose(system.inputs[0].terms[1].params, [(hi - lo) / 4, 2.0, (lo + hi) / 2])
    fitted, report = tune.fit(system, X, y, tune="outputs", progress=False)
    assert report.train_rmse[-1] < 1e-9  # a plane is linear in every rule
    assert tune.grid(X, y, terms=2, type="mamdani").type == "mamdani"


def test_the_tool_runs_the_fitting(tmp_path):
    mixer = fazolt.System(MIXER)
    X = _rows(60)
    y = mixer.evaluate(X)[:, 0]
    start = tmp_path / "start.json"
    start.write_text(fazolt.System(_perturbed(MIXER, {("outputs", 0, 2): [1.0]})).to_json())
    data = tmp_path / "runs.csv"
    data.write_text("flow,mix,heat\n" + "".join(f"{f!r},{m!r},{h!r}\n" for h, f, m in zip(X[:, 0], X[:, 1], y)))
    out = tmp_path / "tuned.json"
    run = subprocess.run([TOOL, "tune", start, data, "--target", "mix", "--tune", "outputs", "-o", out],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "tuned.json: RMSE" in run.stdout and "tune: iteration 1" in run.stderr
    np.testing.assert_allclose(fazolt.System.from_file(out).to_dict()["outputs"][0]["mf"][2]["params"], [7])
    for args, expected in (
            (["--target", "heat"], "error: fazolt:tune:BadArgument: --target heat: 'heat' is an input"),
            (["--target", "mix", "--tune", ""], "selects no parameter"),
            (["--target", "mixx"], "runs.csv:1: no column 'mixx'"),
            # found before fitting, not after
            (["--target", "mix", "-o", tmp_path / "none" / "t.json"], "t.json: there is no folder")):
        run = subprocess.run([TOOL, "tune", start, data, "-o", tmp_path / "bad.json", *args],
                             capture_output=True, text=True)
        assert run.returncode == 1 and expected in run.stderr and not (tmp_path / "bad.json").exists(), run.stderr
    data.write_text("heat,flow,mix\n1,0.5,3\n2,x,4\n")
    run = subprocess.run([TOOL, "tune", start, data, "--target", "mix", "-o", out], capture_output=True, text=True)
    assert run.returncode == 1 and "runs.csv:3: column 'flow': 'x' is not a finite number" in run.stderr
