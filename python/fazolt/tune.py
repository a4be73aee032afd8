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
import math
import re
import sys
import time

import numpy as np

from ._system import FazoltError, System

METHODS = ("hybrid", "least_squares", "nelder_mead")
SELECTIONS = ("inputs", "outputs", "weights")
# Least-squares trust-region steps per reported iteration (an epoch of the
# hybrid method). Each iteration starts the trust region afresh: with a few
# steps only, it keeps shrinking back and the fit crawls along valleys.
STEPS_PER_ITERATION = 20
# How far beyond its variable's range a centre or first point may move, as
# a share of the range's width (shoulders such as trimf [-40, 0, 40] on
# [0, 100] sit partly outside it).
RANGE_MARGIN = 1.0
# The smallest width (gaussmf sigma, gbellmf a, gauss2mf sigmas), as a share
# of the range's width: a zero width is a division by zero in the module.
MIN_WIDTH = 1e-6
MIN_BELL_SLOPE = 1e-3
# The relative finite-difference step through the solved levels: a linear
# solve's rounding (condition number x eps) would swamp the default step's
# difference.
SOLVED_DIFF_STEP = 1e-6
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
    parameters before and after by JSON path, the evaluations and their time."""

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

    @property
    def seconds_per_evaluation(self):
        """Time of one evaluation of the training rows by the module."""
        return self.evaluation_seconds / self.evaluations if self.evaluations else 0.0

    @property
    def rows_per_second(self):
        return self.rows_evaluated / self.evaluation_seconds if self.evaluation_seconds else 0.0

    def __str__(self):
        text = (f"{self.method}: training RMSE {self.train_rmse[0]:.6g} -> {self.train_rmse[-1]:.6g}")
        if self.validation_rmse:
            text += f", validation RMSE {self.validation_rmse[0]:.6g} -> {self.validation_rmse[-1]:.6g}"
        return (text + f"; {self.iterations} iterations, {self.evaluations} evaluations "
                f"({self.seconds_per_evaluation * 1e3:.3g} ms each, {self.rows_per_second:.3g} rows/s, "
                f"{self.load_seconds:.3g} s loading the systems), "
                f"{self.seconds:.3g} s; {self.stopped}")


# ---- Data.

def _names_of(x):
    columns = getattr(x, "columns", None)
    if columns is not None:
        return [str(c) for c in columns]
    name = getattr(x, "name", None)
    return [str(name)] if name is not None and np.ndim(x) == 1 else None


def _matrix(what, x, width, names=None):
    """x as a float64 (rows, width) array of finite numbers; a fault names the row and column."""
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
        elif kind in ("ordered", "centre"):
            lower.append(lo - margin)
            upper.append(hi + margin)
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
                self.groups.append(_Group(("weight", r), ("free",), [0.0], [1.0], [_rule_weight(rule)]))
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


WITH_WEIGHT = re.compile(r"\s+with\s+\S+\s*$")


def _rule_weight(rule):
    if isinstance(rule, dict):
        return float(rule.get("weight", 1.0))
    found = WITH_WEIGHT.search(rule)
    return float(found.group(0).split()[-1]) if found else 1.0


def _with_weight(rule, weight):
    if isinstance(rule, dict):
        return dict(rule, weight=weight)
    text = WITH_WEIGHT.sub("", rule)
    return text if weight == 1.0 else f"{text} with {weight!r}"


# ---- Evaluation.

class _Evaluator:
    """Predictions of descriptions, timed and counted for the report."""

    def __init__(self, report, threads):
        self.report = report
        self.threads = threads

    def predict(self, description, X):
        began = time.perf_counter()
        system = System(description)
        built = time.perf_counter()
        out = system.evaluate(X, threads=self.threads, **QUIET)
        self.report.load_seconds += built - began
        self.report.evaluation_seconds += time.perf_counter() - built
        self.report.evaluations += 1
        self.report.rows_evaluated += len(X)
        return out

    def residuals(self, description, X, y):
        r = (self.predict(description, X) - y).ravel()
        r[~np.isfinite(r)] = NON_FINITE_RESIDUAL
        return r


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
            out = self.evaluator.predict(probe, X)
        else:
            out = System(probe).evaluate(X, threads=threads, **QUIET)
        out[(out < 0).any(axis=1)] = np.nan
        return out

    def solve(self, description, X, y, threads=1):
        """The levels minimising the squared error, {(output, term): params},
        and the predictions they give on the rows where a rule fired (NaN elsewhere)."""
        weights = self.weights(description, X, threads)
        fired = ~np.isnan(weights).any(axis=1)
        levels = {}
        predicted = np.full(y.shape, np.nan)
        for o, var in enumerate(description["outputs"]):
            columns, owners = [], []
            for j, term in enumerate(var.get("mf", [])):
                # a term used by several rules gathers their weights
                uses = [r for r in range(self.num_rules) if abs(self.consequent[r, o]) == j + 1]
                w = weights[fired][:, uses].sum(axis=1) if uses else np.zeros(int(fired.sum()))
                block = np.column_stack([w[:, None] * X[fired], w]) if term["type"] == "linear" else w[:, None]
                columns.append(block)
                owners.append((j, block.shape[1]))
            if not columns:
                continue
            A = np.hstack(columns)
            solution = np.linalg.lstsq(A, y[fired, o], rcond=None)[0]
            predicted[fired, o] = A @ solution
            at = 0
            for j, n in owners:
                levels[(o, j)] = solution[at:at + n]
                at += n
        return levels, predicted


def solve_levels(system, X, y, threads=1):
    """The Sugeno output levels (constant and linear terms' parameters) that
    minimise the squared error on (X, y) with the antecedents as they are:
    one linear least-squares problem per output. Returns {(output, term): params}."""
    _check_hybrid(system)
    X, y = _data(system, X, y)
    return _Levels(system).solve(system.to_dict(), X, y, threads)[0]


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
        threads=0):
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
    Returns:
        (the fitted System, a Report).
    Raises:
        FazoltError "fazolt:tune:BadArgument": data of the wrong shape, a
        non-finite number, unequal row counts, a target that is an input, no
        parameter to fit, an unknown method.

    Constraints hold for every system tried: ordered points stay ordered,
    widths positive, centres and first points within one range width of the
    variable's range, weights in [0, 1]. Membership functions of host
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
    max_iter = _whole("max_iter", max_iter, 1)
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

    def record(z):
        d = params.apply(z, levels)
        report.train_rmse.append(_rmse(evaluator.residuals(d, X, y)))
        if validation is not None:
            report.validation_rmse.append(_rmse(evaluator.residuals(d, Xv, yv)))
        show(report)

    linear = _Levels(system, evaluator) if solve else None

    def residuals(z):
        """The training residuals at z; the hybrid method's with the levels solved for z
        (its linear solve's predictions: the module's outputs up to rounding)."""
        if linear is None:
            return evaluator.residuals(params.apply(z, levels), X, y)
        r = (linear.solve(params.apply(z, levels), X, y, threads)[1] - y).ravel()
        r[~np.isfinite(r)] = NON_FINITE_RESIDUAL
        return r

    record(z)
    if method == "nelder_mead":
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
            report.iterations += 1
            record(np.clip(zk, params.lower, params.upper))

        result = scipy.optimize.minimize(lambda zk: float(np.sum(np.square(residuals(zk)))), z,
                                         method="Nelder-Mead", bounds=list(zip(params.lower, params.upper)),
                                         callback=iteration,
                                         options={"maxiter": max_iter, "initial_simplex": np.array(simplex),
                                                  "xatol": 0.0, "fatol": 0.0})
        z = np.clip(result.x, params.lower, params.upper)
        report.stopped = result.message
    else:
        bounds = (params.lower, params.upper)
        report.stopped = f"{max_iter} iterations done"
        for _ in range(max_iter):
            status, previous = 0, report.train_rmse[-1]
            if params.groups:
                result = scipy.optimize.least_squares(residuals, z, bounds=bounds, method="trf", x_scale="jac",
                                                      max_nfev=STEPS_PER_ITERATION,
                                                      diff_step=SOLVED_DIFF_STEP if solve else None)
                z, status = np.clip(result.x, params.lower, params.upper), result.status
            if solve:
                levels = linear.solve(params.apply(z, levels), X, y, threads)[0]
            report.iterations += 1
            record(z)
            if not params.groups:
                report.stopped = "output levels solved"
                break
            if status > 0 and report.train_rmse[-1] >= previous * (1 - 1e-9):
                report.stopped = "converged"
                break
    report.seconds = time.perf_counter() - began
    fitted = params.apply(z, levels)
    report.parameters_after = dict(zip(report.parameter_names, params.values(fitted)))
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
