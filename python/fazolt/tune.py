"""Fitting a system's parameters to measured data (scipy and numpy).

    tuned, report = fazolt.tune.fit(system, X, y, validation=(Xv, yv))
    start = fazolt.tune.grid(X, y, terms=2, shape="gbellmf")   # full-grid first-order Sugeno

Every prediction comes from the module through System.evaluate; the fitted
parameters are written back into the description, so a fitted system is an
ordinary System that `check`, `to_dict()` and `save` accept.

The optimiser moves free coordinates, not the parameters themselves: the
points of an ordered shape (trimf a <= b <= c, ...) are its first point plus
non-negative gaps, so every point the optimiser tries is a valid system and
the order holds exactly in floating point (a + non-negative gap >= a).
"""
import itertools
import json
import math
import sys
import time

import numpy as np

from . import _fazolt
from ._system import (BLOCK_ROWS, WITH_WEIGHT, FazoltError, System, _column, _host_call, _issue, _modes,
                      _rule_weight, _threads)

METHODS = ("hybrid", "least_squares", "nelder_mead")
SELECTIONS = ("inputs", "outputs", "weights")
# Least-squares trust-region steps per reported iteration (an epoch of the
# hybrid method). Each iteration starts the trust region afresh: with a few
# steps only, it keeps shrinking back and the fit crawls along valleys.
STEPS_PER_ITERATION = 20
# How far beyond its variable's range the first point of an ordered shape
# may move, as a share of the range's width (shoulders such as trimf
# [-40, 0, 40] on [0, 100] sit partly outside it). Centres stay inside it.
RANGE_MARGIN = 1.0
# The smallest width (gaussmf sigma, gbellmf a, gauss2mf sigmas), as a share
# of the range's width: a zero width is a division by zero in the module, and
# a term far narrower than the data's spacing fits single rows.
MIN_WIDTH = 1e-3
# The smallest rule weight fit tries: other tools skip rules whose weighted
# strength is at most 1e-6, so a weight near 0 saved as FLL changes the numbers.
MIN_WEIGHT = 1e-3
MIN_BELL_SLOPE = 1e-3
# The relative finite-difference step through the solved levels: a linear
# solve's rounding (condition number x eps) would swamp the default step's
# difference.
SOLVED_DIFF_STEP = 1e-6
# A validation RMSE counts as progress (for fit's patience) when it is this
# share below the best before it: a search that has settled creeps on at the
# noise's level (0.0542511, 0.0542512, 0.0542511, ...), every step a new best.
MIN_PROGRESS = 1e-4
# A prediction the module could not make (no finite number) counts as this
# far off, so that the optimiser turns away from it.
NON_FINITE_RESIDUAL = 1e10
QUIET = {"on_out_of_range": "none", "on_no_rule_fired": "none", "on_empty_set": "none",
         "on_nan_input": "none", "on_non_finite_output": "none"}

# Parameter layouts of the built-in shapes: "ordered" points, "width" (> 0),
# "slope" (gbellmf b, > 0), "centre" (near the range), "free".
LAYOUTS = {
    "trimf": ("ordered",) * 3,
    "trapmf": ("ordered",) * 4,
    "pimf": ("ordered",) * 4,
    "smf": ("ordered",) * 2,
    "zmf": ("ordered",) * 2,
    "gaussmf": ("width", "centre"),
    "gbellmf": ("width", "slope", "centre"),
    "gauss2mf": ("width", "centre", "width", "centre"),
    "sigmf": ("free", "centre"),
    "dsigmf": ("free", "centre", "free", "centre"),
    "psigmf": ("free", "centre", "free", "centre"),
}


def _error(message):
    return FazoltError("fazolt:tune:BadArgument", message)


class Report:
    """What fit did: RMSE per iteration (index 0 is the starting system), the
    parameters before and after by JSON path, the evaluations and their time.

    best_iteration is the iteration whose parameters fit returned (the least
    validation RMSE, or the last without validation rows); its entries in
    train_rmse and validation_rmse are the module's numbers for the returned
    system. The hybrid method's other entries come from its search (numpy's
    rule weights where they agree with the module's), equal to the module's
    to about 1e-9.

    Example:
        >>> fitted, report = fazolt.tune.fit(start, X, y, validation=(Xv, yv))
        >>> print(report)
        >>> report.validation_rmse[report.best_iteration], report.parameters_after["inputs[0].mf[1].params[0]"]
    """

    def __init__(self, method, names, before):
        self.method = method
        self.parameter_names = names
        self.parameters_before = dict(zip(names, before))
        self.parameters_after = dict(self.parameters_before)
        self.train_rmse = []
        self.validation_rmse = []
        self.iterations = 0
        self.evaluations = 0
        self.rows_evaluated = 0
        self.evaluation_seconds = 0.0  # in System.evaluate
        self.load_seconds = 0.0  # loading each system tried
        self.seconds = 0.0
        self.stopped = ""
        self.best_iteration = 0  # the iteration whose parameters fit returned

    @property
    def seconds_per_evaluation(self):
        """Time of one evaluation of the training rows by the module."""
        return self.evaluation_seconds / self.evaluations if self.evaluations else 0.0

    @property
    def rows_per_second(self):
        return self.rows_evaluated / self.evaluation_seconds if self.evaluation_seconds else 0.0

    def __str__(self):
        kept = self.best_iteration
        text = (f"{self.method}: training RMSE {self.train_rmse[0]:.6g} -> {self.train_rmse[kept]:.6g}")
        if self.validation_rmse:
            text += f", validation RMSE {self.validation_rmse[0]:.6g} -> {self.validation_rmse[kept]:.6g}"
        return (text + f"; {self.iterations} iterations, {self.evaluations} evaluations "
                f"({self.seconds_per_evaluation * 1e3:.3g} ms each, {self.rows_per_second:.3g} rows/s, "
                f"{self.load_seconds:.3g} s loading the systems), "
                f"{self.seconds:.3g} s; {self.stopped}; kept iteration {self.best_iteration}")


# ---- Data.

def _names_of(x):
    columns = getattr(x, "columns", None)
    if columns is not None:
        return [str(c) for c in columns]
    name = getattr(x, "name", None)
    return [str(name)] if name is not None and np.ndim(x) == 1 else None


def _matrix(what, x, width, names=None):
    """x as a float64 (rows, width) array of finite numbers; a fault names the row and column."""
    if hasattr(x, "columns") or (hasattr(x, "isna") and hasattr(x, "name")):
        # pandas: pd.NA is named as evaluate names it, not as float() fails on it
        frame = x.to_frame() if not hasattr(x, "columns") else x
        x = np.column_stack([_column(str(c), frame[c]) for c in frame.columns]) if len(frame.columns) \
            else np.empty((len(frame), 0))
    try:
        a = np.asarray(x, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise _error(f"{what}: expected numbers: {e}") from None
    if a.ndim == 1 and width == 1:
        a = a.reshape(-1, 1)
    if a.ndim != 2 or a.shape[1] != width:
        raise _error(f"{what}: expected {width} column{'' if width == 1 else 's'}, got shape {a.shape}")
    bad = ~np.isfinite(a)
    if bad.any():
        row, col = map(int, np.argwhere(bad)[0])
        column = names[col] if names else f"column {col}"
        raise _error(f"{what}: row {row} ({column}) is {a[row, col]!r}, not a finite number")
    return np.ascontiguousarray(a)


def _data(system, X, y, what="X"):
    """(inputs, targets) as float64 matrices; y may name columns of a DataFrame X."""
    inputs = system.input_names
    outputs = system.output_names
    if isinstance(y, str):
        y = [y]
    if isinstance(y, (list, tuple)) and y and all(isinstance(c, str) for c in y):
        columns = _names_of(X)
        if columns is None:
            raise _error(f"y: column names {y} need X as a DataFrame")
        for c in y:
            if c in inputs:
                raise _error(f"target column {c!r} is an input of the system (inputs: {', '.join(inputs)})")
            if c not in columns:
                raise _error(f"target column {c!r} is not a column of {what} (columns: {', '.join(columns)})")
        y = X[list(y)]
    target_names = _names_of(y)
    for c in target_names or []:
        if c in inputs:
            raise _error(f"target column {c!r} is an input of the system (inputs: {', '.join(inputs)})")
    if _names_of(X) is not None:
        missing = [n for n in inputs if n not in _names_of(X)]
        if missing:
            raise _error(f"{what}: input {missing[0]!r} is not a column (columns: {', '.join(_names_of(X))})")
        X = X[inputs]
    xm = _matrix(what, X, len(inputs), inputs)
    ym = _matrix("y" if what == "X" else f"{what} targets", y, len(outputs), target_names or outputs)
    if len(xm) != len(ym):
        raise _error(f"{what} has {len(xm)} rows, its targets {len(ym)}: one target row per input row")
    if len(xm) == 0:
        raise _error(f"{what} has no rows")
    return xm, ym


# ---- Parameters.

class _Group:
    """One term's parameters (or a rule's weight) and its free coordinates."""

    def __init__(self, path, layout, lower, upper, values):
        self.path = path          # JSON path of the params list, or ("weight", r)
        self.layout = layout
        self.lower, self.upper = lower, upper  # bounds of the free coordinates
        self.start = values


def _is_fitted_shape(term):
    """A built-in shape with its parameters; host functions' terms are left as they are."""
    layout = LAYOUTS.get(term.get("type"))
    return layout is not None and len(term.get("params", [])) == len(layout)


def _term_group(path, term, var_range):
    layout = LAYOUTS[term["type"]]
    lo, hi = (float(v) for v in var_range)
    width = hi - lo
    margin = RANGE_MARGIN * width
    lower, upper = [], []
    for k, kind in enumerate(layout):
        if kind == "ordered" and k > 0:
            lower.append(0.0)
            upper.append(width + 2 * margin)
        elif kind == "ordered":  # a shoulder's first point may sit outside the range
            lower.append(lo - margin)
            upper.append(hi + margin)
        elif kind == "centre":
            lower.append(lo)
            upper.append(hi)
        elif kind == "width":
            lower.append(MIN_WIDTH * width)
            upper.append(np.inf)
        elif kind == "slope":
            lower.append(MIN_BELL_SLOPE)
            upper.append(np.inf)
        else:
            lower.append(-np.inf)
            upper.append(np.inf)
    return _Group(path, layout, lower, upper, [float(p) for p in term["params"]])


def _to_free(group, params):
    z = list(params)
    for k in range(1, len(z)):
        if group.layout[k] == "ordered":
            z[k] = params[k] - params[k - 1]
    # A start outside the constraints (points out of order, a zero width) is moved onto them.
    return [min(max(v, lo), hi) for v, lo, hi in zip(z, group.lower, group.upper)]


def _from_free(group, z):
    params = list(z)
    for k in range(1, len(params)):
        if group.layout[k] == "ordered":
            params[k] = params[k - 1] + z[k]
    return params


class _Parameters:
    """The selected parameters of a description: names, free coordinates and
    bounds, and the description they make. Sugeno output levels solved by the
    hybrid method's least-squares step are kept apart (`levels`)."""

    def __init__(self, description, selection, levels_apart):
        self.description = description
        self.groups = []
        self.levels = []   # (output, term) of Sugeno levels, if kept apart
        is_sugeno = description["type"] == "sugeno"
        for i, var in enumerate(description["inputs"]):
            for j, term in enumerate(var.get("mf", [])):
                if "inputs" in selection and _is_fitted_shape(term):
                    self.groups.append(_term_group(("inputs", i, j), term, var["range"]))
        for o, var in enumerate(description["outputs"]):
            for j, term in enumerate(var.get("mf", [])):
                if "outputs" not in selection:
                    continue
                if is_sugeno and levels_apart:
                    self.levels.append((o, j))
                elif is_sugeno:
                    n = len(term["params"])
                    self.groups.append(_Group(("outputs", o, j), ("free",) * n, [-np.inf] * n, [np.inf] * n,
                                              [float(p) for p in term["params"]]))
                elif _is_fitted_shape(term):
                    self.groups.append(_term_group(("outputs", o, j), term, var["range"]))
        if "weights" in selection:
            for r, rule in enumerate(description.get("rules", [])):
                self.groups.append(_Group(("weight", r), ("free",), [MIN_WEIGHT], [1.0], [_rule_weight(rule)]))
        self.lower = np.array([b for g in self.groups for b in g.lower])
        self.upper = np.array([b for g in self.groups for b in g.upper])
        self.sizes = [len(g.lower) for g in self.groups]

    def names(self):
        names = []
        for g in self.groups:
            if g.path[0] == "weight":
                names.append(f"rules[{g.path[1]}].weight")
            else:
                kind, v, j = g.path
                names += [f"{kind}[{v}].mf[{j}].params[{k}]" for k in range(len(g.lower))]
        for o, j in self.levels:
            names += [f"outputs[{o}].mf[{j}].params[{k}]" for k in range(len(self._term(("outputs", o, j))["params"]))]
        return names

    def _term(self, path):
        kind, v, j = path
        return self.description[kind][v]["mf"][j]

    def start(self):
        return np.array([v for g in self.groups for v in _to_free(g, g.start)], dtype=np.float64)

    def values(self, description):
        """The named parameters of `description`, in the order of names()."""
        out = []
        for g in self.groups:
            if g.path[0] == "weight":
                out.append(_rule_weight(description["rules"][g.path[1]]))
            else:
                kind, v, j = g.path
                out += [float(p) for p in description[kind][v]["mf"][j]["params"]]
        for o, j in self.levels:
            out += [float(p) for p in description["outputs"][o]["mf"][j]["params"]]
        return out

    def apply(self, z, levels=None):
        """A copy of the description with free coordinates z (and levels {(o, j): params})."""
        d = _copy(self.description)
        at = 0
        for g, n in zip(self.groups, self.sizes):
            params = _from_free(g, [float(v) for v in z[at:at + n]])
            at += n
            if g.path[0] == "weight":
                d["rules"][g.path[1]] = _with_weight(d["rules"][g.path[1]], params[0])
            else:
                kind, v, j = g.path
                d[kind][v]["mf"][j]["params"] = params
        for (o, j), params in (levels or {}).items():
            d["outputs"][o]["mf"][j]["params"] = [float(p) for p in params]
        return d


def _copy(d):
    """A description copy: only the containers fit changes are copied."""
    out = dict(d)
    for kind in ("inputs", "outputs"):
        out[kind] = [dict(v, mf=[dict(t) for t in v.get("mf", [])]) for v in d[kind]]
    out["rules"] = list(d.get("rules", []))
    return out


def _with_weight(rule, weight):
    if isinstance(rule, dict):
        return dict(rule, weight=weight)
    text = WITH_WEIGHT.sub("", rule)
    return text if weight == 1.0 else f"{text} with {weight!r}"


# ---- Evaluation.

class _Evaluator:
    """Predictions of descriptions, timed and counted for the report.

    Every description of one structure (the system's, or the weights'
    probe) differs from the first only in its terms' parameters and rule
    weights: the first is built from its description, the others from that
    system's record with those numbers replaced, which skips describing,
    checking and naming each point tried (most of a trial's time). The first
    system is kept only if a copy made so gives its outputs bit for bit;
    otherwise each is built from its description."""

    def __init__(self, report, threads):
        self.report = report
        self.threads = _threads(threads)
        self.modes = _modes(**QUIET)
        self.bases = {}  # structure -> the system the others are made from, or None

    def predict(self, description, X, structure="system"):
        """The module's outputs for `description` on the rows X."""
        began = time.perf_counter()
        rows = np.ascontiguousarray(X, dtype=np.float64)
        native = self._built(description, structure, rows)
        built = time.perf_counter()
        out = self._outputs(native, rows)
        self.report.load_seconds += built - began
        self.report.evaluation_seconds += time.perf_counter() - built
        self.report.evaluations += 1
        self.report.rows_evaluated += len(X)
        return out

    def _outputs(self, native, rows):
        out, report = _host_call(lambda: native.evaluate(rows, self.modes, BLOCK_ROWS, self.threads))
        _issue(report)
        return out

    def _built(self, description, structure, rows):
        base = self.bases.get(structure)
        if base is not None:
            terms, weights = _numbers_of(description)
            return _host_call(lambda: base.with_parameters(terms, weights))
        text = json.dumps(description)
        native = _host_call(lambda: _fazolt.NativeSystem.from_description(text))
        if structure not in self.bases:
            self.bases[structure] = native if self._copies_exactly(native, description, rows) else None
        return native

    def _copies_exactly(self, native, description, rows):
        """Whether a copy made from native's record gives its outputs bit for bit."""
        terms, weights = _numbers_of(description)
        try:
            copied = _host_call(lambda: native.with_parameters(terms, weights))
            return np.array_equal(self._outputs(native, rows), self._outputs(copied, rows), equal_nan=True)
        except FazoltError:  # a record that names a host function needs its description
            return False

    def residuals(self, description, X, y):
        r = (self.predict(description, X) - y).ravel()
        r[~np.isfinite(r)] = NON_FINITE_RESIDUAL
        return r


def _numbers_of(description):
    """What NativeSystem.with_parameters takes: every term's parameters, and the rule weights."""
    terms = [(kind == "outputs", v, j, [float(p) for p in term["params"]])
             for kind in ("inputs", "outputs") for v, var in enumerate(description[kind])
             for j, term in enumerate(var.get("mf", []))]
    return terms, [_rule_weight(rule) for rule in description.get("rules", [])]


def _rmse(residuals):
    return float(np.sqrt(np.mean(np.square(residuals))))


# ---- The hybrid method's least-squares step.

def _check_hybrid(system):
    d = system.to_dict()
    if d["type"] != "sugeno":
        raise _error('method "hybrid" is for Sugeno systems; use "least_squares" or "nelder_mead"')
    if d.get("defuzzMethod", "wtaver") not in ("wtaver", "wtsum"):
        raise _error(f'method "hybrid" needs defuzzMethod "wtaver" or "wtsum", not {d["defuzzMethod"]!r}; '
                     'use "least_squares"')
    if any(v.get("clamp") for v in d["outputs"]):
        raise _error('method "hybrid": a clamped output is not linear in its levels; use "least_squares"')


class _Levels:
    """The linear part of a Sugeno system: with the antecedents fixed, output o
    of a row is the sum over the rules concluding it of weight_r x level_r(x),
    where weight_r is rule r's firing strength as the defuzzification weighs
    it (divided by the sum over all rules for wtaver, as it is for wtsum).

    The module computes the weights: a copy of the system whose every rule
    concludes an output of its own with the constant 1 gives back exactly
    weight_r as its output r. Its output ranges lie below 0, so the rows
    where no rule fired, which take the range's midpoint, stand out; they
    do not depend on the levels and are left out of the fit.
    """

    def __init__(self, system, evaluator=None):
        self.evaluator = evaluator  # counts and times the evaluations for a report
        self.num_rules = system.num_rules
        # Each rule as the explainer reads it: (text, antecedent, consequent, is_and, weight).
        self.antecedent = [[int(v) for v in rule[1]] for rule in system._rules]
        self.connection = [1 if rule[3] else 2 for rule in system._rules]
        self.consequent = np.array([rule[2] for rule in system._rules], dtype=np.float64).reshape(self.num_rules, -1)

    def weights(self, description, X, threads=1):
        """(rows, rules) weights of `description` (this system's rules, any
        parameters); NaN on the rows where no rule fired."""
        n = self.num_rules
        probe = dict(description)
        probe["outputs"] = [{"name": f"rule{r + 1}", "range": [-2, -1],
                             "mf": [{"name": "one", "type": "constant", "params": [1]}]} for r in range(n)]
        probe["rules"] = [{"antecedent": self.antecedent[r], "consequent": [1 if k == r else 0 for k in range(n)],
                           "connection": self.connection[r], "weight": _rule_weight(description["rules"][r])}
                          for r in range(n)]
        if self.evaluator is not None:
            out = self.evaluator.predict(probe, X, structure="weights")
        else:
            out = System(probe).evaluate(X, threads=threads, **QUIET)
        out[(out < 0).any(axis=1)] = np.nan
        return out

    def design(self, description, weights, X):
        """Per output: the columns its levels multiply on the rows where a rule
        fired, in standardised inputs, with the shared columns in front
        (the sums over the terms, so that a penalty on each term's part of
        its levels shrinks the rules towards one common model, not towards
        0), and how the solution maps back to each term's parameters."""
        fired = ~np.isnan(weights).any(axis=1)
        mean, scale = X.mean(axis=0), X.std(axis=0)
        scale[scale == 0] = 1.0
        Xs = (X[fired] - mean) / scale
        outputs = []
        for o, var in enumerate(description["outputs"]):
            terms = var.get("mf", [])
            if not terms:
                continue
            # a term used by several rules gathers their weights
            uses = (np.abs(self.consequent[:, o])[:, None] == np.arange(1, len(terms) + 1)[None, :]).astype(np.float64)
            w = weights[fired] @ uses
            linear = [t["type"] == "linear" for t in terms]
            Z = np.column_stack([Xs, np.ones(len(Xs))])
            if all(linear):
                shared = Z.shape[1]
                blocks = (w[:, :, None] * Z[:, None, :]).reshape(len(Z), len(terms) * shared)
                widths = [shared] * len(terms)
            else:
                shared = 1
                blocks = np.hstack([w[:, j:j + 1] * (Z if is_linear else 1.0) for j, is_linear in enumerate(linear)])
                widths = [Z.shape[1] if is_linear else 1 for is_linear in linear]
            common = w.sum(axis=1)[:, None] * (Z if shared > 1 else 1.0)
            outputs.append((o, np.hstack([common, blocks]), shared, widths))
        return fired, mean, scale, outputs

    def solve(self, description, X, y, threads=1, ridge=0.0, weights=None, design=None):
        """The levels minimising the squared error plus the ridge penalty,
        {(output, term): params}, the predictions they give on the rows where
        a rule fired (NaN elsewhere) and the ridge strength used per output.

        ridge: a strength (0: plain least squares), or "gcv" to choose it per
        output by generalised cross-validation. weights, design: the rule
        weights and design(description, weights, X), if already made."""
        if design is None:
            design = self.design(description, self.weights(description, X, threads) if weights is None else weights, X)
        fired, mean, scale, outputs = design
        levels, strengths = {}, {}
        predicted = np.full(y.shape, np.nan)
        for o, A, shared, widths in outputs:
            penalty = np.r_[np.zeros(shared), np.ones(A.shape[1] - shared)]
            strength = _gcv_strength(A, y[fired, o], penalty) if isinstance(ridge, str) else float(ridge)
            solution = _ridge(A, y[fired, o], penalty, strength)
            strengths[o] = strength
            predicted[fired, o] = A @ solution
            at = shared
            for j, n in enumerate(widths):
                params = solution[at:at + n] + (solution[:shared] if n == shared else
                                                np.r_[np.zeros(n - 1), solution[shared - 1]])
                if n > 1:  # back from standardised inputs
                    coefficients = params[:-1] / scale
                    params = np.r_[coefficients, params[-1] - coefficients @ mean]
                levels[(o, j)] = params
                at += n
        return levels, predicted, strengths


# Ridge strengths tried by generalised cross-validation, as multiples of the
# mean diagonal of A'A (0 among them, for data a system fits exactly).
RIDGE_GRID = (0.0,) + tuple(10.0 ** k for k in range(-8, 5))


def _least_squares(A, b):
    """The least-norm argmin |A x - b|^2 and A's rank, by a QR factorisation
    with column pivoting (LAPACK's gelsy: a few times faster than numpy's
    SVD-based lstsq on these tall designs), with numpy's rank cutoff."""
    import scipy.linalg
    x, _, rank, _ = scipy.linalg.lstsq(A, b, cond=np.finfo(np.float64).eps * max(A.shape), lapack_driver="gelsy",
                                       check_finite=False)
    return x, rank


def _ridge(A, b, penalty, strength):
    """argmin |A x - b|^2 + strength |penalty * x|^2."""
    if strength == 0:
        return _least_squares(A, b)[0]
    G = A.T @ A + strength * np.diag(penalty)
    try:
        return np.linalg.solve(G, A.T @ b)
    except np.linalg.LinAlgError:  # the unpenalised columns alone are dependent
        return np.linalg.lstsq(G, A.T @ b, rcond=None)[0]


def _gcv_strength(A, b, penalty):
    """The strength of RIDGE_GRID with the least generalised cross-validation
    error n |A x - b|^2 / (n - trace of the hat matrix)^2.

    Each strength factors A'A + strength x penalty once (Cholesky) and solves
    for the levels and the hat matrix's trace together: the grid costs about
    one least-squares solve."""
    import scipy.linalg
    n = len(b)
    G = A.T @ A
    Ab = A.T @ b
    unit = float(np.trace(G)) / max(A.shape[1], 1) or 1.0
    best, chosen = np.inf, 0.0
    for multiple in RIDGE_GRID:
        strength = multiple * unit
        if strength == 0:
            x, rank = _least_squares(A, b)
            trace = float(rank)
        else:
            K = G + strength * np.diag(penalty)
            try:
                factor = scipy.linalg.cho_factor(K, check_finite=False)
                solved = scipy.linalg.cho_solve(factor, np.column_stack([Ab, G]), check_finite=False)
            except np.linalg.LinAlgError:  # the unpenalised columns alone are dependent
                solved = np.linalg.lstsq(K, np.column_stack([Ab, G]), rcond=None)[0]
            x, trace = solved[:, 0], float(np.trace(solved[:, 1:]))
        if n - trace <= 0.5:
            continue  # as many parameters as rows: no estimate of the error
        score = n * float(np.sum(np.square(A @ x - b))) / (n - trace) ** 2
        if score < best:
            best, chosen = score, strength
    return chosen


# ---- Rule weights in numpy, for the search only.

def _degrees(shape, params, x):
    """The degrees of one built-in shape at x, as numpy computes them (the
    search's model; the fitted system is evaluated by the module)."""
    if shape == "gaussmf":
        sigma, c = params
        return np.exp(-np.square(x - c) / (2 * sigma * sigma))
    if shape == "gbellmf":
        a, b, c = params
        return 1 / (1 + np.abs((x - c) / a) ** (2 * b))
    if shape == "trimf":
        a, b, c = params
        up = (x - a) / (b - a) if b > a else (x >= a).astype(np.float64)
        down = (c - x) / (c - b) if c > b else (x <= c).astype(np.float64)
        return np.clip(np.minimum(up, down), 0, 1)
    a, b, c, d = params  # trapmf
    up = (x - a) / (b - a) if b > a else (x >= a).astype(np.float64)
    down = (d - x) / (d - c) if d > c else (x <= d).astype(np.float64)
    return np.clip(np.minimum(up, down), 0, 1)


def _degree_slopes(shape, params, x):
    """The derivatives of _degrees' values by each of the shape's parameters
    (of a piecewise-linear shape: those of the piece x lies on, 0 at a kink)."""
    if shape == "gaussmf":
        sigma, c = params
        mu = _degrees(shape, params, x)
        return [mu * np.square(x - c) / sigma ** 3, mu * (x - c) / (sigma * sigma)]
    if shape == "gbellmf":
        a, b, c = params
        t = np.abs((x - c) / a)
        u = t ** (2 * b)
        mu = 1 / (1 + u)
        with np.errstate(divide="ignore", invalid="ignore"):
            log_t = np.where(t > 0, np.log(np.where(t > 0, t, 1.0)), 0.0)
            per_step = np.where(x != c, u / (x - c), 0.0)  # u / (x - c): the c slope's factor
        mu2 = mu * mu
        return [mu2 * 2 * b * u / a, -mu2 * 2 * u * log_t, mu2 * 2 * b * per_step]
    if shape == "trimf":  # a trapezoid whose top is the point b
        a, b, c = params
        da, db_up, db_down, dc = _trapezoid_slopes(x, a, b, b, c)
        return [da, db_up + db_down, dc]
    return list(_trapezoid_slopes(x, *params))


def _trapezoid_slopes(x, a, b, c, d):
    mu = _degrees("trapmf", (a, b, c, d), x)
    inside = (mu > 0) & (mu < 1)
    rising = inside & (x < b) if b > a else np.zeros(len(x), dtype=bool)
    falling = inside & (x > c) if d > c else np.zeros(len(x), dtype=bool)
    up, down = (b - a if b > a else 1.0), (d - c if d > c else 1.0)
    return (np.where(rising, (x - b) / up ** 2, 0.0), np.where(rising, -(x - a) / up ** 2, 0.0),
            np.where(falling, (d - x) / down ** 2, 0.0), np.where(falling, (x - c) / down ** 2, 0.0))


# Up to this many parameters x rows, the hybrid search differentiates the
# residuals with the levels re-solved for each parameter (exact, one solve
# each); above, with them held (one solve per step: the larger fits' time).
EXACT_DIFFERENCES = 5000
NUMPY_SHAPES = ("gaussmf", "gbellmf", "trimf", "trapmf")
# The largest difference from the module's weights at the start for which
# the search uses numpy's: the search only has to go downhill as the module's
# numbers do; the fitted system is measured by the module.
NUMPY_AGREEMENT = 1e-9


class _NumpyWeights:
    """What _Levels.weights gives, computed in numpy: 100 times faster for the
    shapes and methods it knows, with no system built per trial."""

    def __init__(self, description, levels):
        self.levels = levels
        self.is_and = [c == 1 for c in levels.connection]
        self.and_method = description.get("andMethod", "prod")
        self.or_method = description.get("orMethod", "probor")
        self.is_average = description.get("defuzzMethod", "wtaver") == "wtaver"
        # Where each rule's antecedent values sit in _products' table: column 0
        # is 1 (an input not used), then per input its terms and their complements.
        self.term_counts = [len(v.get("mf", [])) for v in description["inputs"]]
        where, at = [], 1
        for v in description["inputs"]:
            where.append(at)
            at += 2 * len(v.get("mf", []))
        self.index = np.array([[0 if a == 0 else where[i] + abs(a) - 1 + (len(description["inputs"][i]["mf"])
                                                                         if a < 0 else 0)
                                for i, a in enumerate(antecedent)] for antecedent in levels.antecedent],
                              dtype=np.intp).reshape(levels.num_rules, -1)

    @property
    def has_slopes(self):
        """Derivatives in closed form: every rule an AND by product."""
        return all(self.is_and) and self.and_method == "prod"

    def slopes(self, description, X, groups, outputs):
        """The derivatives of the predictions sum_r weight_r x outputs[:, r]
        (outputs: (rows, rules, outputs) held fixed) by the free coordinates
        of `groups` (input terms and rule weights): (rows x outputs, coordinates).
        A rule's strength is its weight times the product of its antecedent
        values, so its derivative by one term's degree is the product of the
        others'; wtaver's weights divide by the sum over the rules."""
        inputs = description["inputs"]
        degrees = [[_degrees(t["type"], t["params"], X[:, i]) for t in v.get("mf", [])]
                   for i, v in enumerate(inputs)]
        columns = [np.ones(len(X))] + [c for terms in degrees for c in terms + [1 - d for d in terms]]
        gathered = np.column_stack(columns)[:, self.index]  # (rows, rules, inputs)
        rule_weights = np.array([_rule_weight(rule) for rule in description["rules"]])
        unweighted = gathered.prod(axis=2)
        strengths = unweighted * rule_weights
        total = strengths.sum(axis=1)
        fired = total > 0
        if self.is_average:
            share = np.where(fired, 1 / np.where(fired, total, 1.0), 0.0)
            predicted = np.einsum("nr,nro->no", strengths * share[:, None], outputs)
            # d(sum_r s_r f_r / sum_r s_r) / d s_r = (f_r - prediction) / sum_r s_r
            by_strength = (outputs - predicted[:, None, :]) * share[:, None, None]
        else:
            by_strength = outputs * fired[:, None, None]
        by_term = {}  # (input, term): d prediction / d degree, (rows, outputs)
        for i, v in enumerate(inputs):
            others = np.delete(gathered, i, axis=2).prod(axis=2) * rule_weights
            through = others[:, :, None] * by_strength
            antecedent = self.index[:, i]
            for j in range(len(v.get("mf", []))):
                plain = antecedent == self._column(i, j, negated=False)
                negated = antecedent == self._column(i, j, negated=True)
                by_term[(i, j)] = through[:, plain, :].sum(axis=1) - through[:, negated, :].sum(axis=1)
        J = []
        for g in groups:
            if g.path[0] == "weight":
                J.append((unweighted[:, g.path[1], None] * by_strength[:, g.path[1], :]).ravel())
                continue
            _, i, j = g.path
            term = inputs[i]["mf"][j]
            by_param = [by_term[(i, j)] * s[:, None] for s in _degree_slopes(term["type"], term["params"], X[:, i])]
            for k in range(len(by_param) - 1, 0, -1):  # an ordered point moves every point after it
                if g.layout[k] == "ordered":
                    by_param[k - 1] = by_param[k - 1] + by_param[k]
            J += [p.ravel() for p in by_param]
        return np.column_stack(J) if J else np.empty((len(X) * outputs.shape[2], 0))

    def _column(self, i, j, negated):
        """Where input i's term j (or its complement) sits in _products' table."""
        start = 1 + sum(2 * n for n in self.term_counts[:i])
        return start + j + (self.term_counts[i] if negated else 0)

    @classmethod
    def of(cls, description, levels, X):
        """The numpy weights if they agree with the module's at the start, else None."""
        known = all(t.get("type") in NUMPY_SHAPES for v in description["inputs"] for t in v.get("mf", []))
        if not known or description.get("andMethod", "prod") not in ("prod", "min") or \
                description.get("orMethod", "probor") not in ("max", "probor"):
            return None
        numpy_weights = cls(description, levels)
        rows = X[:: max(1, len(X) // 200)]
        mine, module = numpy_weights(description, rows), levels.weights(description, rows)
        if not np.array_equal(np.isnan(mine), np.isnan(module)):
            return None
        agree = np.nan_to_num(np.abs(mine - module)).max(initial=0.0) <= NUMPY_AGREEMENT
        return numpy_weights if agree else None

    def __call__(self, description, X):
        degrees = [[_degrees(t["type"], t["params"], X[:, i]) for t in v.get("mf", [])]
                   for i, v in enumerate(description["inputs"])]
        weights = np.array([_rule_weight(rule) for rule in description["rules"]])
        if all(self.is_and) and self.and_method == "prod":
            strengths = self._products(degrees) * weights
        else:
            strengths = self._one_by_one(degrees) * weights
        total = strengths.sum(axis=1)
        none_fired = total == 0
        if self.is_average:
            strengths /= np.where(none_fired, 1.0, total)[:, None]
        strengths[none_fired] = np.nan
        return strengths

    def _products(self, degrees):
        """Every rule an AND by product: one gather and one product over a table
        of each term's degree, its complement (NOT) and 1 (an input not used)."""
        columns = [np.ones(len(degrees[0][0]) if degrees and degrees[0] else 0)]
        for terms in degrees:
            columns += terms + [1 - d for d in terms]
        if len(columns) == 1 or not len(columns[0]):
            return self._one_by_one(degrees)
        return np.column_stack(columns)[:, self.index].prod(axis=2)

    def _one_by_one(self, degrees):
        rows = len(degrees[0][0]) if degrees and degrees[0] else 0
        strengths = np.empty((rows, self.levels.num_rules))
        for r, antecedent in enumerate(self.levels.antecedent):
            values = [degrees[i][abs(a) - 1] if a > 0 else 1 - degrees[i][abs(a) - 1]
                      for i, a in enumerate(antecedent) if a != 0]
            if not values:
                strengths[:, r] = 0.0
            elif self.is_and[r]:
                strengths[:, r] = np.prod(values, axis=0) if self.and_method == "prod" else np.min(values, axis=0)
            elif self.or_method == "max":
                strengths[:, r] = np.max(values, axis=0)
            else:
                strengths[:, r] = 1 - np.prod([1 - v for v in values], axis=0)
        return strengths


def solve_levels(system, X, y, threads=1, ridge=0.0):
    """The Sugeno output levels (constant and linear terms' parameters) that
    minimise the squared error on (X, y) with the antecedents as they are:
    one linear least-squares problem per output, with a ridge penalty of
    `ridge` ("gcv": chosen by generalised cross-validation) on each term's
    difference from the levels all terms share.

    Returns:
        {(output, term): params}, positions from 0.
    Raises:
        FazoltError "fazolt:tune:BadArgument": not a Sugeno system with
        wtaver or wtsum and unclamped outputs; data as fit refuses it.

    Example:
        >>> levels = fazolt.tune.solve_levels(start, X, y, ridge="gcv")
    """
    _check_hybrid(system)
    X, y = _data(system, X, y)
    return _Levels(system).solve(system.to_dict(), X, y, threads, ridge)[0]


def _predict_levels(A, shared, widths, levels, o, mean, scale, X):
    """The predictions of output o's levels on design A (as _Levels.design makes it)."""
    out = np.zeros(len(A))
    at = shared
    for j, n in enumerate(widths):
        params = levels[(o, j)]
        if n > 1:  # the design holds weight x standardised inputs
            standard = np.r_[params[:-1] * scale, params[-1] + params[:-1] @ mean]
        else:
            standard = np.asarray(params[-1:], dtype=np.float64)
        out += A[:, at:at + n] @ standard
        at += n
    return out


# ---- Fitting.

def _selection(tune):
    if isinstance(tune, str):
        tune = (tune,)
    tune = tuple(tune)
    for t in tune:
        if t not in SELECTIONS:
            raise _error(f"tune: unknown selection {t!r} (choose from {', '.join(SELECTIONS)})")
    return tune


def _whole(name, value, low):
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < low:
        raise _error(f"{name}: expected a whole number from {low}, got {value!r}")
    return int(value)


class _Progress:
    """One line on stderr, rewritten in place on a terminal, at most once a second otherwise."""

    def __init__(self, enabled):
        self.call = enabled if callable(enabled) else None
        self.enabled = bool(enabled)
        self.tty = sys.stderr.isatty()
        self.last = 0.0
        self.shown = None  # the iteration last shown

    def __call__(self, report, final=False):
        if self.call is not None:
            self.call(report)
            return
        if not self.enabled:
            return
        now = time.perf_counter()
        if final and self.shown == report.iterations:
            if self.tty:
                sys.stderr.write("\n")
            return
        if not (final or self.tty or now - self.last >= 1.0):
            return
        self.last, self.shown = now, report.iterations
        line = f"tune: iteration {report.iterations}, training RMSE {report.train_rmse[-1]:.6g}"
        if report.validation_rmse:
            line += f", validation RMSE {report.validation_rmse[-1]:.6g}"
        if self.tty:
            sys.stderr.write("\r" + line + ("\n" if final else ""))
        else:
            sys.stderr.write(line + "\n")
        sys.stderr.flush()


def fit(system, X, y, *, tune=SELECTIONS, method=None, max_iter=100, seed=0, validation=None, progress=True,
        threads=0, ridge="gcv", patience=5):
    """Fits the chosen parameters of `system` to (X, y); returns (System, Report).

    Parameters:
        system: a System loaded from a description (not a raw record); it is not changed.
        X: rows of inputs (rows, inputs), or a DataFrame whose columns name the inputs.
        y: targets (rows,) or (rows, outputs); or the names of X's target columns.
        tune: any of "inputs" (input terms' parameters), "outputs" (Mamdani
            output terms, or Sugeno levels), "weights" (rule weights).
        method: "hybrid" (Sugeno: output levels by linear least squares,
            the rest by bounded least squares, alternately), "least_squares"
            or "nelder_mead"; None: hybrid where it applies, else least_squares.
        max_iter: iterations (hybrid: epochs; least_squares: a few trust-region
            steps each; nelder_mead: simplex iterations).
        seed: the Nelder-Mead starting simplex; the same seed, the same result bit for bit.
        validation: (X, y) evaluated after each iteration, not fitted.
        progress: a line on stderr per iteration, or a callable given the Report.
        threads: threads of each evaluation (0: one per core).
        ridge: the hybrid method's ridge strength: "gcv" (chosen by
            generalised cross-validation) or a number from 0 (0: plain least
            squares).
        patience: iterations without a validation RMSE lower than the best
            by 1e-4 of it before stopping.
    Returns:
        (the fitted System, a Report). max_iter=0 gives the starting system
        and its report.
    Raises:
        FazoltError "fazolt:tune:BadArgument": data of the wrong shape, a
        non-finite number, unequal row counts, a target that is an input, no
        parameter to fit, an unknown method.

    The hybrid method solves the levels with a ridge penalty on each term's
    difference from levels all terms share (strong ridge: one linear model
    for every rule), its strength chosen again each iteration; with
    validation rows it stops when their RMSE has not fallen by 1e-4 of
    itself for `patience` iterations, and returns the iteration where it was
    least.

    Example:
        >>> start = fazolt.tune.grid(X, y, terms=3, shape="gaussmf")
        >>> fitted, report = fazolt.tune.fit(start, X, y, tune=("inputs", "outputs"), validation=(Xv, yv))
        >>> fitted.save("fitted.json")

    Constraints hold for every system tried: ordered points stay ordered,
    widths at least 1e-3 of the range's width, centres inside the range,
    first points within one range width of it, weights in [1e-3, 1]. Membership functions of host
    functions are left as they are.
    """
    try:
        import scipy.optimize
    except ImportError:
        raise ImportError("fazolt.tune.fit needs scipy (on Debian: apt-get install python3-scipy)") from None

    if not isinstance(system, System):
        raise _error(f"system: expected a fazolt.System, got {type(system).__name__}")
    description = system.to_dict()
    if "class" in description:
        raise _error("system: a raw record has no description to write fitted parameters into; "
                     "load the system from a description")
    selection = _selection(tune)
    if method is None:
        try:
            _check_hybrid(system)
            method = "hybrid"
        except FazoltError:
            method = "least_squares"
    if method not in METHODS:
        raise _error(f"method: expected one of {', '.join(METHODS)}, got {method!r}")
    if method == "hybrid":
        _check_hybrid(system)
    max_iter = _whole("max_iter", max_iter, 0)
    patience = _whole("patience", patience, 1)
    if not (ridge == "gcv" or (isinstance(ridge, (int, float, np.integer, np.floating)) and not isinstance(ridge, bool)
                               and 0 <= ridge < np.inf)):
        raise _error(f'ridge: expected "gcv" or a strength from 0, got {ridge!r}')
    seed = _whole("seed", seed, 0)
    X, y = _data(system, X, y)
    if validation is not None:
        if not isinstance(validation, (tuple, list)) or len(validation) != 2:
            raise _error("validation: expected a pair (X, y)")
        Xv, yv = _data(system, validation[0], validation[1], "validation X")
    solve = method == "hybrid" and "outputs" in selection
    params = _Parameters(description, selection, levels_apart=solve)
    if not params.groups and not params.levels:
        raise _error(f"tune: {', '.join(selection) or 'the empty selection'} selects no parameter of "
                     f"{system.name or 'the system'} (membership functions of host functions are not fitted)")

    report = Report(method, params.names(), params.values(description))
    evaluator = _Evaluator(report, threads)
    show = _Progress(progress)
    began = time.perf_counter()
    z = params.start()
    levels = {}
    if solve:
        levels = {p: np.array(description["outputs"][p[0]]["mf"][p[1]]["params"], dtype=np.float64)
                  for p in params.levels}
    linear = _Levels(system, evaluator) if solve else None
    # The hybrid search's rule weights: numpy's where they agree with the module's.
    fast = _NumpyWeights.of(description, linear, X) if solve else None
    strength = {"train": ridge}  # the ridge strength of this iteration's solve

    def solved(d, rows, targets):
        """The levels for the premises of d, chosen on (rows, targets), their
        predictions, and the design (numpy's weights only)."""
        weights = fast(d, rows) if fast is not None else None
        design = linear.design(d, weights, rows) if weights is not None else None
        return linear.solve(d, rows, targets, threads, strength["train"], weights, design)[:2] + (design,)

    last_solve = {"z": None, "levels": None}  # the jacobian at a point the residuals just solved

    def predictions(z, rows):
        d = params.apply(z, levels)
        if fast is None:
            return evaluator.predict(d, rows)
        out = np.full((len(rows), len(description["outputs"])), np.nan)
        weights = fast(d, rows)
        fired, mean, scale, outputs = linear.design(d, weights, rows)
        for o, A, shared, widths in outputs:
            out[fired, o] = _predict_levels(A, shared, widths, levels, o, mean, scale, rows[fired])
        return out

    def jacobian(z):
        """The training residuals' derivatives with the levels held at those
        solved for z (the variable-projection approximation): each column
        needs the rule weights only, not another solve."""
        d = params.apply(z, levels)
        if np.array_equal(last_solve["z"], z):
            solution, design = last_solve["levels"], last_solve["design"]
        else:
            design = linear.design(d, fast(d, X), X)
            solution = linear.solve(d, X, y, threads, strength["train"], design=design)[0]
        outputs = np.zeros((len(X), linear.num_rules, y.shape[1]))
        for (o, j), p in solution.items():
            rules = np.abs(linear.consequent[:, o]) == j + 1
            outputs[:, rules, o] = (X @ p[:-1] + p[-1] if len(p) > 1 else np.full(len(X), p[0]))[:, None]
        if fast.has_slopes:
            J = fast.slopes(d, X, params.groups, outputs)
        else:
            def predicted(zk):
                return np.nan_to_num(np.einsum("nr,nro->no", fast(params.apply(zk, levels), X), outputs)).ravel()

            at = predicted(z)
            J = np.empty((at.size, len(z)))
            for k in range(len(z)):
                step = SOLVED_DIFF_STEP * max(1.0, abs(z[k]))
                if z[k] + step > params.upper[k]:
                    step = -step
                moved = z.copy()
                moved[k] += step
                J[:, k] = (predicted(moved) - at) / step
        # Levels re-solved at each z take up what the design can say: only
        # the part of each column outside the design's range remains. The
        # range's basis comes from A'A's eigenvectors (the columns are few,
        # the rows many: far cheaper than A's SVD, and precise enough here).
        fired, _, _, designs = design
        rows = slice(None) if fired.all() else fired
        by_output = J.reshape(len(X), y.shape[1], len(z))
        for o, A, _, _ in designs:
            eigenvalues, V = np.linalg.eigh(A.T @ A)
            kept = eigenvalues > eigenvalues[-1] * 1e-14 if len(eigenvalues) and eigenvalues[-1] > 0 else \
                np.zeros(len(eigenvalues), dtype=bool)
            U = (A @ V[:, kept]) / np.sqrt(eigenvalues[kept])
            part = by_output[rows, o, :]
            by_output[rows, o, :] = part - U @ (U.T @ part)
        return by_output.reshape(J.shape)

    def rmse_of(z, rows, targets):
        r = (predictions(z, rows) - targets).ravel()
        r[~np.isfinite(r)] = NON_FINITE_RESIDUAL
        return _rmse(r)

    def record(z):
        report.train_rmse.append(rmse_of(z, X, y))
        if validation is not None:
            report.validation_rmse.append(rmse_of(z, Xv, yv))
        show(report)

    def residuals(z):
        """The training residuals at z; the hybrid method's with the levels solved for z."""
        if linear is None:
            return evaluator.residuals(params.apply(z, levels), X, y)
        solution, predicted, design = solved(params.apply(z, levels), X, y)
        last_solve.update(z=z.copy(), levels=solution, design=design)
        r = (predicted - y).ravel()
        r[~np.isfinite(r)] = NON_FINITE_RESIDUAL
        return r

    if solve and ridge == "gcv":  # the strength for the start's levels
        d = params.apply(z, levels)
        chosen = linear.solve(d, X, y, threads, "gcv", fast(d, X) if fast is not None else None)[2]
        strength["train"] = min(chosen.values(), default=0.0)
    record(z)
    kept = (z, dict(levels), 0)
    progressed = 0  # the last iteration whose validation RMSE was MIN_PROGRESS below the best before it

    def keep_best():
        """Keeps the iteration with the least validation error (the last
        without validation rows); whether patience has run out."""
        nonlocal kept, progressed
        if validation is None:
            kept = (z, dict(levels), report.iterations)
            return False
        latest, best = report.validation_rmse[-1], report.validation_rmse[kept[2]]
        if latest < best * (1 - MIN_PROGRESS):
            progressed = report.iterations
        if latest < best:
            kept = (z, dict(levels), report.iterations)
        return report.iterations - progressed >= patience

    if max_iter == 0:
        report.stopped = "no iterations asked for"
    elif method == "nelder_mead":
        rng = np.random.default_rng(seed)
        simplex = [z]
        for k in range(len(z)):
            step = 0.05 * (abs(z[k]) if z[k] != 0 else 1.0) * (1 + 0.1 * rng.random())
            finite = np.isfinite(params.upper[k]) and np.isfinite(params.lower[k])
            if finite:
                step = min(step, 0.05 * (params.upper[k] - params.lower[k]))
            vertex = z.copy()
            vertex[k] = z[k] + step if z[k] + step <= params.upper[k] else z[k] - step
            simplex.append(vertex)

        def iteration(zk):
            nonlocal z
            report.iterations += 1
            z = np.clip(zk, params.lower, params.upper)
            record(z)
            keep_best()

        result = scipy.optimize.minimize(lambda zk: float(np.sum(np.square(residuals(zk)))), z,
                                         method="Nelder-Mead", bounds=list(zip(params.lower, params.upper)),
                                         callback=iteration,
                                         options={"maxiter": max_iter, "initial_simplex": np.array(simplex),
                                                  "xatol": 0.0, "fatol": 0.0})
        report.stopped = result.message
    else:
        bounds = (params.lower, params.upper)
        report.stopped = f"{max_iter} iterations done"
        for _ in range(max_iter):
            status, previous = 0, report.train_rmse[-1]
            if params.groups:
                result = scipy.optimize.least_squares(residuals, z, bounds=bounds, method="trf", x_scale="jac",
                                                      max_nfev=STEPS_PER_ITERATION,
                                                      jac=jacobian if fast is not None and
                                                      len(z) * len(X) > EXACT_DIFFERENCES else "2-point",
                                                      diff_step=SOLVED_DIFF_STEP if solve else None)
                z, status = np.clip(result.x, params.lower, params.upper), result.status
            if solve:
                d = params.apply(z, levels)
                levels, _, chosen = linear.solve(d, X, y, threads, ridge, fast(d, X) if fast is not None else None)
                strength["train"] = min(chosen.values(), default=0.0)
            report.iterations += 1
            record(z)
            if keep_best():
                report.stopped = f"validation RMSE not {MIN_PROGRESS:.0e} below its best for {patience} iterations"
                break
            if not params.groups:
                report.stopped = "output levels solved"
                break
            if status > 0 and report.train_rmse[-1] >= previous * (1 - 1e-9):
                report.stopped = "converged"
                break
    z, levels, report.best_iteration = kept
    report.seconds = time.perf_counter() - began
    fitted = params.apply(z, levels)
    report.parameters_after = dict(zip(report.parameter_names, params.values(fitted)))
    if fast is not None:  # the search's errors were numpy's; the kept iteration's are the module's
        report.train_rmse[report.best_iteration] = _rmse(evaluator.residuals(fitted, X, y))
        if validation is not None:
            report.validation_rmse[report.best_iteration] = _rmse(evaluator.residuals(fitted, Xv, yv))
    show(report, final=True)
    return System(fitted), report


# ---- A starting system from data.

SHAPES = ("gbellmf", "gaussmf", "trimf")


def _grid_terms(lo, hi, count, shape):
    centres = np.linspace(lo, hi, count) if count > 1 else np.array([(lo + hi) / 2])
    spacing = (hi - lo) / (count - 1) if count > 1 else hi - lo
    terms = []
    for k, c in enumerate(centres):
        c = float(c)
        if shape == "gbellmf":
            params = [spacing / 2, 2.0, c]
        elif shape == "gaussmf":
            # neighbours cross at degree 0.5
            params = [spacing / (2 * math.sqrt(2 * math.log(2))), c]
        else:
            params = [c - spacing, c, c + spacing]
        terms.append({"name": f"mf{k + 1}", "type": shape, "params": params})
    return terms


def _data_range(column):
    lo, hi = float(np.min(column)), float(np.max(column))
    if lo == hi:  # a constant column: any range around it
        lo, hi = lo - 1.0, hi + 1.0
    return [lo, hi]


def grid(X, y, terms=2, shape="gbellmf", type="sugeno", name="grid"):
    """A full-grid system over the data: `terms` evenly spread over each input's
    data range (an int, or one per input), one rule per combination.

    Sugeno: first-order (a linear output term per rule, all coefficients 0
    and the constant the targets' mean), ready for fit's hybrid method.
    Mamdani: `max(terms)` trimf output terms over the targets' range, each
    rule concluding the term nearest the mean target of the rows it fires for
    most.
    Input names come from a DataFrame's columns, output names from a
    Series' or DataFrame's; otherwise input1..., output1....

    Parameters:
        X: rows of inputs (rows, inputs), or a DataFrame.
        y: targets (rows,) or (rows, outputs), or a Series or DataFrame.
        terms: terms per input: a whole number from 1, or one per input.
        shape: "gbellmf", "gaussmf" or "trimf".
        type: "sugeno" or "mamdani".
        name: the system's name.
    Returns:
        a System.
    Raises:
        FazoltError "fazolt:tune:BadArgument": an unknown shape or type,
        terms that are not whole numbers from 1, data of the wrong shape or
        with a non-finite number, no rows.

    Example:
        >>> start = fazolt.tune.grid(frame[["speed", "load"]], frame["power"], terms=[3, 2])
        >>> start.num_rules
        6
    """
    if shape not in SHAPES:
        raise _error(f"shape: expected one of {', '.join(SHAPES)}, got {shape!r}")
    if type not in ("sugeno", "mamdani"):
        raise _error(f'type: expected "sugeno" or "mamdani", got {type!r}')
    input_names = _names_of(X)
    output_names = _names_of(y)
    xm = np.asarray(X, dtype=np.float64)
    ym = np.asarray(y, dtype=np.float64)
    if ym.ndim == 1:
        ym = ym.reshape(-1, 1)
    if xm.ndim != 2 or xm.shape[1] == 0:
        raise _error(f"X: expected a (rows, inputs) array, got shape {xm.shape}")
    n = xm.shape[1]
    input_names = input_names or [f"input{i + 1}" for i in range(n)]
    output_names = output_names or [f"output{o + 1}" for o in range(ym.shape[1])]
    counts = [terms] * n if isinstance(terms, (int, np.integer)) else list(terms)
    if len(counts) != n or any(isinstance(c, bool) or not isinstance(c, (int, np.integer)) or c < 1
                               for c in counts):
        raise _error(f"terms: expected a whole number from 1, or one per input ({n}), got {terms!r}")
    xm, ym = _matrix("X", xm, n, input_names), _matrix("y", ym, ym.shape[1], output_names)
    if len(xm) != len(ym):
        raise _error(f"X has {len(xm)} rows, y {len(ym)}: one target row per input row")
    if len(xm) == 0:
        raise _error("X has no rows")
    inputs = []
    for i in range(n):
        lo, hi = _data_range(xm[:, i])
        inputs.append({"name": input_names[i], "range": [lo, hi], "mf": _grid_terms(lo, hi, int(counts[i]), shape)})
    combinations = list(itertools.product(*[range(1, int(c) + 1) for c in counts]))
    outputs, rules = [], []
    if type == "sugeno":
        for o, out_name in enumerate(output_names):
            mean = float(np.mean(ym[:, o]))
            outputs.append({"name": out_name, "range": _data_range(ym[:, o]),
                            "mf": [{"name": f"rule{r + 1}", "type": "linear", "params": [0.0] * n + [mean]}
                                   for r in range(len(combinations))]})
        rules = [{"antecedent": list(c), "consequent": [r + 1] * len(output_names)}
                 for r, c in enumerate(combinations)]
        return System({"name": name, "type": "sugeno", "inputs": inputs, "outputs": outputs, "rules": rules})
    count = max(3, max(int(c) for c in counts))
    for o, out_name in enumerate(output_names):
        lo, hi = _data_range(ym[:, o])
        outputs.append({"name": out_name, "range": [lo, hi], "mf": _grid_terms(lo, hi, count, "trimf")})
    start = System({"name": name, "type": "mamdani", "inputs": inputs, "outputs": outputs,
                    "rules": [{"antecedent": list(c), "consequent": [1] * len(output_names)} for c in combinations]})
    # Where each rule fires most: the product of its terms' degrees, as the module gives them.
    strength = np.ones((len(xm), len(combinations)))
    for i, var in enumerate(start.inputs):
        degrees = start.term_degrees(var.name, xm[:, i])
        strength *= degrees[:, [c[i] - 1 for c in combinations]]
    strongest = np.argmax(strength, axis=1)
    for r, c in enumerate(combinations):
        rows = strongest == r
        consequent = []
        for o in range(len(output_names)):
            lo, hi = outputs[o]["range"]
            target = float(np.mean(ym[rows, o])) if rows.any() else (lo + hi) / 2
            consequent.append(int(round((target - lo) / (hi - lo) * (count - 1))) + 1)
        rules.append({"antecedent": list(c), "consequent": consequent})
    return System({"name": name, "type": "mamdani", "inputs": inputs, "outputs": outputs, "rules": rules})
