"""Systems, evaluation, errors and warnings, Python host functions.

Every number comes from the fazolt module through the extension; this layer
only converts arguments, matches DataFrame columns by name and turns the
host's warnings and errors into Python ones.
"""
import collections
import copy
import json
import math
import os
import re
import sys
import tempfile
import threading
import warnings

import numpy as np

from . import _fazolt

# Rows per module call: large enough that the per-call work (importing and
# checking the record, building the output sets: 50 to 180 us for the
# reference systems) vanishes, small enough that the input block stays far
# below the output array.
BLOCK_ROWS = 65536
# As the tool: at most this many warnings per identifier, then a count.
SHOWN_PER_IDENTIFIER = _fazolt.WARNINGS_PER_IDENTIFIER
# Other tools reading FLL or FCL (fuzzylite) skip a rule whose weighted
# strength is at most this: a rule weight at or below it gives their numbers,
# not ours.
OTHERS_ZERO = 1e-6
WITH_WEIGHT = re.compile(r"\s+with\s+\S+\s*$")


def _rule_weight(rule):
    """A description rule's weight, written as a record or as text ending "with W"."""
    if isinstance(rule, dict):
        return float(rule.get("weight", 1.0))
    found = WITH_WEIGHT.search(rule)
    return float(found.group(0).split()[-1]) if found else 1.0


class _Identified:
    """What the host reports: `identifier` ("fazolt:invalidSystem", ...) and `message`."""

    def __init__(self, identifier, message):
        super().__init__(f"{identifier}: {message}")
        self.identifier = identifier
        self.message = message

    @property
    def id(self):
        """The identifier, one of `fazolt.ERROR_IDS` or the module's or host's own."""
        return self.identifier

    def __reduce__(self):  # pickled by Dask workers
        return (type(self), (self.identifier, self.message))


class FazoltError(_Identified, ValueError):
    """A host error."""


class FazoltWarning(_Identified, UserWarning):
    """A diagnostic in warning mode."""


Term = collections.namedtuple("Term", "name type params")
Variable = collections.namedtuple("Variable", "name range terms")

_MODES = {"none": 0, "warning": 2, "error": 3}


def _mode(option, value):
    """A diagnostics mode: "none", "warning", "error", or a byte passed as it is."""
    if isinstance(value, str) and value in _MODES:
        return _MODES[value]
    if isinstance(value, (int, np.integer)) and not isinstance(value, bool) and 0 <= value <= 255:
        return int(value)
    raise FazoltError("fazolt:python:BadOption",
                      f'{option}: expected "none", "warning", "error" or a number from 0 to 255, got {value!r}')


def _check_mode(option, value):
    """The mode of a check made around the module call: "none", "warning" or "error"."""
    if isinstance(value, str) and value in _MODES:
        return _MODES[value]
    raise FazoltError("fazolt:python:BadOption", f'{option}: expected "none", "warning" or "error", got {value!r}')


def _modes(on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input, on_non_finite_output):
    return (_mode("on_out_of_range", on_out_of_range), _mode("on_no_rule_fired", on_no_rule_fired),
            _mode("on_empty_set", on_empty_set), _check_mode("on_nan_input", on_nan_input),
            _check_mode("on_non_finite_output", on_non_finite_output))


def _threads(threads):
    """The threads of System.evaluate: a count from 1, or 0 for one per core."""
    if isinstance(threads, (int, np.integer)) and not isinstance(threads, bool) and 0 <= threads <= 4096:
        return int(threads)
    raise FazoltError("fazolt:python:BadOption",
                      f"threads: expected a whole number from 0 (one per core) to 4096, got {threads!r}")


def _warn(shown, counts, stacklevel):
    """The warnings shown, then a count of the rest per identifier, as the tool caps them."""
    for identifier, message in shown:
        warnings.warn(FazoltWarning(identifier, message), stacklevel=stacklevel)
    for identifier, count in counts.items():
        if count > SHOWN_PER_IDENTIFIER:
            warnings.warn(FazoltWarning(identifier, f"{count - SHOWN_PER_IDENTIFIER} more warnings not shown"),
                          stacklevel=stacklevel)


def _issue(report, stacklevel=3):
    """Warnings first, then the error, as the tool reports them."""
    shown, counts, error, cause = report
    _warn(shown, counts, stacklevel + 1)
    if error is not None:
        raise FazoltError(*error) from cause


def _host_call(make):
    """Runs a loading step of the extension; host errors become FazoltError."""
    try:
        return make()
    except _fazolt.HostError as e:
        raise FazoltError(*e.args) from None


def _pandas():
    """pandas if the caller uses it: the package does not import it itself."""
    return sys.modules.get("pandas")


# ---- Host functions written in Python.

# Names a description resolves to the module's own methods and shapes: a
# host function of one of these names would be passed over where a reader
# expects it to be called (defuzzMethod "centroid" is always the built-in).
DESCRIPTION_NAMES = ("probor", "centroid", "bisector", "mom", "som", "lom", "wtaver", "wtsum", "trimf", "trapmf",
                     "gaussmf", "gauss2mf", "gbellmf", "sigmf", "dsigmf", "psigmf", "smf", "zmf", "pimf", "constant",
                     "linear")


def register_function(name, fn):
    """Makes `fn` a host function called `name`.

    Parameters:
        name: a non-empty str, not the name of a built-in the module calls
            (feval, sprintf, length, transpose, throwWarning, throwError, sum,
            prod, mean, min, max), nor a method or shape a description names
            (centroid, wtaver, trimf, ...). Registering a name again replaces it.
        fn: a callable taking numpy arrays.
    Returns:
        None.
    Raises:
        FazoltError "fazolt:python:NameTaken": a built-in's name (with the list);
            "fazolt:python:Reentrant": called from a function the module is calling.
        TypeError: name is not a str, or fn is not callable.

    Example:
        >>> def lukasiewicz(values):
        ...     return max(values.sum() - (len(values) - 1), 0.0)
        >>> fazolt.register_function("lukasiewicz", lukasiewicz)

    A description can then name it as an AND, OR, implication, aggregation or
    defuzzification method, or as a membership function type. `fn` receives
    numpy arrays exactly as the host passes them (float64, in the host's
    extents: a column of rule values, a rules x points block, a row of points
    and a row of parameters, ...) and returns a number or an array, checked
    for the use the system makes of it (degrees from 0 to 1, a finite crisp
    value, as many values as points): a fault ends the evaluation with a
    FazoltError "fazolt:python:Result" naming `fn`'s file, the function and
    the term or method. An exception raised by `fn` ends the evaluation with
    a FazoltError whose __cause__ is that exception.
    """
    if not isinstance(name, str) or not name:
        raise TypeError("register_function: name must be a non-empty str")
    if name in DESCRIPTION_NAMES:
        raise FazoltError("fazolt:python:NameTaken",
                          f'function "{name}": a description\'s "{name}" is the built-in method or shape; choose '
                          f"another (built in: {', '.join(DESCRIPTION_NAMES)})")
    _host_call(lambda: _fazolt.register_function(name, fn))


def unregister_function(name):
    """Removes the host function `name` registered before.

    Parameters:
        name: the name given to register_function.
    Returns:
        None.
    Raises:
        FazoltError "fazolt:python:NameTaken": a built-in's name (with the list).

    Example:
        >>> fazolt.unregister_function("lukasiewicz")
    """
    _host_call(lambda: _fazolt.unregister_function(name))


def _register_all(functions):
    for name, fn in (functions or {}).items():
        register_function(name, fn)


# ---- Systems.

_pickled = collections.OrderedDict()  # description text -> System, most recent last
_pickled_lock = threading.Lock()
PICKLED_KEPT = 32


def _from_pickle(text):
    """Each process builds a pickled system once (a Dask worker gets it with every task)."""
    with _pickled_lock:
        system = _pickled.get(text)
        if system is not None:
            _pickled.move_to_end(text)
            return system
    system = System.from_dict(json.loads(text))
    with _pickled_lock:
        _pickled[text] = system
        while len(_pickled) > PICKLED_KEPT:
            _pickled.popitem(last=False)
    return system


class System:
    """A fuzzy inference system loaded through the fazolt module.

    System(d) builds one from a description as dicts and lists (the same as
    System.from_dict(d), with its parameters, returns and raises);
    System.from_file and System.from_string read the formats the tool reads.

    Example:
        >>> fan = fazolt.System({"name": "fan", "type": "mamdani", ...})
        >>> fan.evaluate([[22.5]])
    """

    def __init__(self, native, description=None):
        if isinstance(native, dict):
            self.__dict__.update(System.from_dict(native).__dict__)
            return
        if not isinstance(native, _fazolt.NativeSystem):
            raise TypeError(f"System: expected a description as a dict, got {type(native).__name__} "
                            "(System.from_file reads a file, System.from_string a text)")
        self._native = native
        self._description = description
        self._record_text = native.record_json
        self._record = json.loads(self._record_text)
        rules = (description or {}).get("rules", [])
        native.attach_explainer([r if isinstance(r, str) else "" for r in rules] if isinstance(rules, list) else [])
        # A raw record the module refuses has no explainer: evaluating it
        # reports the module's own error, naming the field.
        self._info = native.info if native.has_explainer else None
        info = self._info or {"inputs": [], "outputs": [], "rules": [], "type": ""}
        self._inputs, self._outputs = (tuple(Variable(name, tuple(bounds), tuple(Term(*t) for t in terms))
                                             for name, bounds, terms in info[key]) for key in ("inputs", "outputs"))
        self._rules = info["rules"]
        self._type = info["type"]

    # -- Loading.

    @classmethod
    def from_file(cls, path, functions=None, samples=None):
        """A system from a file, in any language the tool reads.

        Parameters:
            path: str or os.PathLike: a description (.json), a raw record in
                host-value JSON, FCL (.fcl) or FLL (.fll).
            functions: {name: callable} registered first, as register_function.
            samples: sets or overrides a description's numSamples, as the
                tool's --samples.
        Returns:
            a System.
        Raises:
            FazoltError: a file that cannot be read, text the reader refuses
                ("PATH:LINE: construct"), or a description the module refuses
                (naming its JSON path).
        Warns:
            FazoltWarning: what a reader accepts but says once (a DEFAULT).

        Example:
            >>> dimmer = fazolt.System.from_file("examples/dimmer/dimmer.json", samples=201)
        """
        _register_all(functions)
        path = os.fspath(path)
        if samples is None:
            native = _host_call(lambda: _fazolt.NativeSystem.from_file(path))
            if not native.has_names:
                return cls(native, None)
        text, load_warnings = _host_call(lambda: _fazolt.description_text(path))
        for identifier, message in load_warnings:
            warnings.warn(FazoltWarning(identifier, message), stacklevel=2)
        if samples is not None:
            text = _host_call(lambda: _fazolt.description_with_samples(text, samples))
            native = _host_call(lambda: _fazolt.NativeSystem.from_description(text))
        return cls(native, json.loads(text))

    @classmethod
    def from_string(cls, text, format="json", functions=None, samples=None):
        """A system from text in one of the tool's languages.

        Parameters:
            text: the system as a str.
            format: "json" (a description or a raw record), "fcl" or "fll".
            functions: {name: callable} registered first, as register_function.
            samples: sets or overrides the description's numSamples.
        Returns:
            a System.
        Raises:
            FazoltError: an unknown format ("fazolt:format:Unknown"), text the
            reader refuses (FCL and FLL name "<string>:LINE: construct"), or a
            description the module refuses (naming its JSON path).
        Warns:
            FazoltWarning: what a reader accepts but says once (a DEFAULT).

        Example:
            >>> s = fazolt.System.from_string(open("plant.fcl").read(), format="fcl")
        """
        _register_all(functions)
        if not isinstance(text, str):
            raise TypeError(f"from_string: text must be a str, got {type(text).__name__}")
        if not isinstance(format, str):
            raise TypeError(f"from_string: format must be a str, got {type(format).__name__}")
        description, load_warnings = _host_call(lambda: _fazolt.description_from_text(text, format, "<string>"))
        for identifier, message in load_warnings:
            warnings.warn(FazoltWarning(identifier, message), stacklevel=2)
        try:
            d = json.loads(description)
        except ValueError:
            # Not JSON: the module's reader names the place.
            return cls(_host_call(lambda: _fazolt.NativeSystem.from_description(description)))
        return cls.from_dict(d, samples=samples)

    @classmethod
    def from_dict(cls, d, functions=None, samples=None):
        """A system from a description as dicts and lists, or a raw record in host-value JSON form.

        Parameters:
            d: the description (or raw record) as a dict; System(d) is the same.
            functions: {name: callable} registered first, as register_function.
            samples: sets or overrides a description's numSamples.
        Returns:
            a System.
        Raises:
            FazoltError: what the module refuses, named by its JSON path
                ("inputs[1].mf[0].params[1]: nan is not a finite number").

        Example:
            >>> lamp = fazolt.System.from_dict(json.load(open("lamp.json")), samples=201)
        """
        _register_all(functions)
        if not isinstance(d, dict):
            raise FazoltError("fazolt:description:Invalid", f"(top level): expected a dict, got {type(d).__name__}")
        if "class" not in d:
            _refuse_non_finite(d, "")
        text = json.dumps(d)
        if samples is not None:
            text = _host_call(lambda: _fazolt.description_with_samples(text, samples))
            d = json.loads(text)
        if "class" in d:
            return cls(_host_call(lambda: _fazolt.NativeSystem.from_record_json(text)))
        return cls(_host_call(lambda: _fazolt.NativeSystem.from_description(text)), copy.deepcopy(d))

    def to_dict(self):
        """The description as dicts and lists (a copy).

        Returns:
            dict: the description; for a system loaded from a raw record, the
            record in host-value JSON form.
        Raises:
            nothing.

        Example:
            >>> d = dimmer.to_dict(); d["rules"][0]
        """
        return copy.deepcopy(self._description if self._description is not None else self._record)

    def to_json(self):
        """The description as JSON text in the tool's own layout (as `fazolt convert` writes it).

        Returns:
            str.
        Raises:
            FazoltError: what the layout cannot say.

        Example:
            >>> text = system.to_json()
        """
        return self._to_text("json")

    def to_fcl(self):
        """The system in FCL, as `fazolt convert` writes it.

        Returns:
            str.
        Raises:
            FazoltError "fazolt:fcl:Unsupported": what FCL cannot say the same
            way (never approximated), naming that part of the description.
        Warns:
            FazoltWarning "fazolt:fcl:NearZeroWeight": a rule weight above 0 and at
            most 1e-6, which other tools reading FCL treat as 0.

        Example:
            >>> print(system.to_fcl())
        """
        return self._to_text("fcl")

    def to_fll(self):
        """The system in FLL, as `fazolt convert` writes it.

        Returns:
            str.
        Raises:
            FazoltError "fazolt:fll:Unsupported": what FLL cannot say the same
            way (never approximated), naming that part of the description.
        Warns:
            FazoltWarning "fazolt:fll:NearZeroWeight": a rule weight above 0 and at
            most 1e-6, which other tools reading FLL treat as 0.

        Example:
            >>> print(system.to_fll())
        """
        return self._to_text("fll")

    def _to_text(self, format, stacklevel=3):
        d = self.to_dict()
        if format in ("fcl", "fll"):
            for r, rule in enumerate(d.get("rules", [])):
                weight = _rule_weight(rule)
                if 0 < weight <= OTHERS_ZERO:
                    warnings.warn(FazoltWarning(
                        f"fazolt:{format}:NearZeroWeight",
                        f"rules[{r}].weight: {weight!r} is at most {OTHERS_ZERO}; other tools reading the "
                        f"{format.upper()} text (fuzzylite) skip the rule, and their outputs differ"), stacklevel=stacklevel)
        text = json.dumps(d)
        return _host_call(lambda: _fazolt.description_to_text(text, format))

    def save(self, path):
        """Writes the system to `path`, in the language its suffix names.

        ".fcl" and ".fll" (any letter case) give FCL and FLL, anything else
        the description as JSON, as `fazolt convert`. The text is written to
        a temporary file beside `path`, flushed to disk and renamed over it:
        a failure leaves an existing file as it was.

        Parameters:
            path: str or os.PathLike.
        Returns:
            None.
        Raises:
            FazoltError: what the language cannot say ("PATH: cannot say ..."),
            or "fazolt:io:WriteFailed" naming the path and the reason.
        Warns:
            FazoltWarning: as to_fcl and to_fll.

        Example:
            >>> system.save("irrigation.fcl")
        """
        path = os.fspath(path)
        _write_replacing(path, self._text_for(path))

    def to_c(self, folder, prefix=None, single_precision=False, extern=False):
        """Writes the system as C for a controller: FOLDER/PREFIX.h and FOLDER/PREFIX.c.

        C99 that also compiles as C++, with no heap, no stdio and no static
        state, needing only <math.h>; PREFIX_evaluate(inputs, outputs)
        evaluates one row and returns 0 or the bits of what `evaluate` would
        warn of. In double precision its outputs are `evaluate`'s bit for
        bit (compiled without -ffast-math, with -ffp-contract=off, and with a
        C library whose exp and pow are the ones fazolt used). Each file is
        written beside its path and renamed over it. See docs/deployment.md.

        Parameters:
            folder: str or os.PathLike, an existing folder.
            prefix: the files' name and the C prefix, a C identifier; by
                default the system's name.
            single_precision: float instead of double, for targets without a
                double-precision unit (no longer bit for bit).
            extern: declare the system's custom functions (Python,
                registered, Lua) in PREFIX.h as PREFIX_fn_NAME, for you to
                define in C; the header documents what each receives.
                Without it such a system is refused.
        Returns:
            None.
        Raises:
            FazoltError "fazolt:export:Unsupported": what C cannot compute
            exactly (a custom or Python function without `extern`), named;
            "fazolt:export:BadPrefix"; "fazolt:io:WriteFailed" naming the file.

        Example:
            >>> system.to_c("firmware", prefix="dimmer")
        """
        folder = os.fspath(folder)
        if prefix is None:  # the name made a C identifier
            prefix = re.sub(r"[^A-Za-z0-9_]", "_", self.name) or "fis"
            prefix = "fis_" + prefix if prefix[0].isdigit() else prefix
        _host_call(lambda: self._native.export_c(folder, prefix, bool(single_precision), bool(extern)))

    def _text_for(self, path):
        """The text save writes to `path`, or the error of what its language cannot say."""
        try:
            return self._to_text(_fazolt.format_of_path(path), stacklevel=4)
        except FazoltError as e:
            if ":Unsupported" in e.identifier:
                raise FazoltError(e.identifier, f"{path}: cannot say {e.message}") from None
            raise

    def __reduce__(self):
        return (_from_pickle, (json.dumps(self.to_dict()),))

    # -- What it is.

    @property
    def name(self):
        """The system's name (str; "" when a raw record has none).

        Example:
            >>> dimmer.name
            'dimmer'
        """
        return self._native.name

    @property
    def type(self):
        """"mamdani" or "sugeno" ("" for a raw record the module refuses).

        Example:
            >>> dimmer.type
            'mamdani'
        """
        return self._type

    @property
    def inputs(self):
        """The inputs: a tuple of Variable(name, range, terms), terms of Term(name, type, params).

        A raw record gets input1.., mf1..; a record the module refuses, ().

        Example:
            >>> dimmer.inputs[0].terms[0]
            Term(name='dark', type='trapmf', params=(...))
        """
        return self._inputs

    @property
    def outputs(self):
        """The outputs: a tuple of Variable(name, range, terms), as inputs.

        Example:
            >>> [t.name for t in dimmer.outputs[0].terms]
        """
        return self._outputs

    @property
    def input_names(self):
        """The inputs' names in order (list of str), the columns evaluate matches.

        Example:
            >>> dimmer.input_names
            ['daylight', 'motion']
        """
        return [v.name for v in self._inputs]

    @property
    def output_names(self):
        """The outputs' names in order (list of str), the columns evaluate returns.

        Example:
            >>> dimmer.output_names
            ['lamp']
        """
        return [v.name for v in self._outputs]

    @property
    def num_rules(self):
        """The number of rules (int).

        Example:
            >>> dimmer.num_rules
        """
        return len(self._rules)

    def rule_text(self, r):
        """A rule as text: as the description wrote it, or made from its entries.

        Parameters:
            r: the rule's position from 0.
        Returns:
            str, e.g. "if daylight is dark and motion is moving then lamp is high".
        Raises:
            IndexError: no rule r.

        Example:
            >>> dimmer.rule_text(0)
        """
        return self._rules[r][0]

    def __repr__(self):
        def listed(vs, what):
            return f"{len(vs)} {what}{'' if len(vs) == 1 else 's'} ({', '.join(v.name for v in vs)})"
        return (f"<fazolt.System {self.name!r}: {self.type}, {listed(self._inputs, 'input')}, "
                f"{listed(self._outputs, 'output')}, {self.num_rules} rules>")

    def __eq__(self, other):
        """Systems are equal when the module holds the same record for them:
        the same variables, terms, rules and methods give the same numbers."""
        if not isinstance(other, System):
            return NotImplemented
        return self._record_text == other._record_text

    def __hash__(self):
        return hash(self._record_text)

    def _repr_html_(self):
        """A notebook's view: the variables with their terms, then the rules."""
        from html import escape

        def number(v):
            return f"{v:.6g}"

        rows = []
        for kind, variables in (("input", self._inputs), ("output", self._outputs)):
            for v in variables:
                terms = "<br>".join(f"{escape(t.name)}: {escape(str(t.type))}({', '.join(map(number, t.params))})"
                                    for t in v.terms)
                rows.append(f"<tr><td>{kind}</td><td>{escape(v.name)}</td>"
                            f"<td>[{number(v.range[0])}, {number(v.range[1])}]</td><td>{terms}</td></tr>")
        rules = "".join(f"<li>{escape(self.rule_text(r))}</li>" for r in range(self.num_rules))
        return (f"<div><b>{escape(repr(self))}</b><table><tr><th></th><th>variable</th><th>range</th>"
                f"<th>terms</th></tr>{''.join(rows)}</table><ol start=\"0\">{rules}</ol></div>")

    # -- Evaluation.

    def evaluate(self, x, on_out_of_range="warning", on_no_rule_fired="warning", on_empty_set="warning",
                 on_nan_input="warning", on_non_finite_output="warning", threads=1):
        """Crisp outputs of every row of x, bit for bit those of `fazolt eval`.

        Parameters:
            x: the rows, one of
                - an array-like (rows, inputs) of numbers, columns in input order;
                - one row (inputs,), or a dict or pandas Series of one value per
                  input name; for a system of one input, a 1-D array-like, or a
                  Series named after the input, is that input's column;
                - a dict of columns by input name ({"temp": array, ...}): every
                  input and nothing else, columns of equal length;
                - a pandas DataFrame, columns matched by input name (others ignored).
            on_out_of_range, on_no_rule_fired, on_empty_set: "none", "warning"
                (default), "error", or a mode byte 0-255 as the tool's options.
            on_nan_input, on_non_finite_output: "none", "warning" or "error".
            threads: split the rows across this many threads (0: one per core);
                outputs and messages are those of one thread.
        Returns:
            a float64 array (rows, outputs); (outputs,) for one row; for a
            DataFrame (or a one-input system's Series), a pandas Series named
            after the output when the system has one output, else a DataFrame
            of the outputs by name, with x's index.
        Raises:
            FazoltError: the data's shape or type ("the data has 3 columns, the
                system 2 inputs: a, b"), pd.NA in a column (naming it), a
                diagnostic in error mode, a custom function's fault.
            KeyError: a missing input name, or an unknown name in a dict.
        Warns:
            FazoltWarning: diagnostics in warning mode, naming rows by their
                position in x from 0; at most 20 per identifier, then a count.

        Example:
            >>> dimmer = fazolt.System.from_file("examples/dimmer/dimmer.json")
            >>> dimmer.evaluate([[5, 0.9], [15, 0.6]])          # array (2, 1)
            >>> dimmer.evaluate({"daylight": [5, 15], "motion": [0.9, 0.6]})
            >>> dimmer.evaluate(frame, on_out_of_range="error")  # a Series "lamp" back
        """
        # One row of a system of several inputs, as a control loop passes it:
        # the prepared evaluator, unless a diagnostic needs the batch's words.
        # Only what can be a row is tried: preparing the evaluator is kept with the system.
        if type(x) in _ROW_TYPES and len(self._inputs) > 1 and _could_be_row(x, len(self._inputs)):
            chosen = (on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input, on_non_finite_output)
            if chosen != _DEFAULT_MODES:
                _modes(*chosen)  # refused as the batch refuses them; they matter only for a diagnostic
            out = self._native.evaluate_row(x)
            if out is not None:
                return out
        out, report = self._evaluate_reporting(x, on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input,
                                               on_non_finite_output, threads)
        _issue(report)
        return out

    def _evaluate_reporting(self, x, on_out_of_range="warning", on_no_rule_fired="warning", on_empty_set="warning",
                            on_nan_input="warning", on_non_finite_output="warning", threads=1):
        """evaluate's outputs and the host's report (warnings, counts, error, cause), not yet issued."""
        modes = _modes(on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input, on_non_finite_output)
        threads = _threads(threads)
        pd = _pandas()
        if pd is not None and isinstance(x, pd.Series) and self._is_input_column(x):
            x = x.to_frame(self.input_names[0])
        if pd is not None and isinstance(x, pd.DataFrame):
            out, report = _host_call(lambda: self._native.evaluate(self._columns(x), modes, BLOCK_ROWS, threads))
            if report[2] is not None:  # an error: no outputs to frame
                return None, report
            if len(self._outputs) == 1:  # a Series, so that `out - frame.target` lines up row by row
                return pd.Series(out[:, 0], index=x.index, name=self.output_names[0]), report
            return pd.DataFrame(out, index=x.index, columns=self.output_names), report
        is_row = isinstance(x, dict) or (pd is not None and isinstance(x, pd.Series))
        if isinstance(x, dict) and any(np.ndim(v) > 0 for v in x.values()):
            x, is_row = self._dict_columns(x), False
        elif is_row:
            x = self._row(x)
        matrix, is_single_row = _as_matrix(x)
        if is_single_row and not is_row and len(self._inputs) == 1:
            matrix, is_single_row = matrix.reshape(-1, 1), False  # one input: a 1-D array is its column
        self._check_width(matrix, is_single_row)
        out, report = _host_call(lambda: self._native.evaluate(matrix, modes, BLOCK_ROWS, threads))
        if report[2] is not None:
            return None, report
        return (out[0] if is_single_row else out), report

    def _is_input_column(self, series):
        """A Series is a one-input system's column when named after the input
        or not indexed by it; otherwise, as for every other system, one row."""
        if len(self._inputs) != 1:
            return False
        name = self.input_names[0]
        return series.name == name or name not in series.index

    def _check_width(self, matrix, is_single_row):
        """One column per input; the data, not the system, is at fault otherwise.

        A raw record whose inputs could not be read is left to the module's
        own check, which names the record's field."""
        if not self._inputs or matrix.shape[1] == len(self._inputs):
            return
        n = len(self._inputs)
        data = f"the row has {matrix.shape[1]} values" if is_single_row else f"the data has {matrix.shape[1]} columns"
        raise FazoltError("fazolt:python:InputShape",
                          f"{data}, the system {n} input{'' if n == 1 else 's'}: {', '.join(self.input_names)}")

    def _columns(self, frame):
        """The inputs' columns of a DataFrame (other columns ignored) as a float64 matrix."""
        for name in self.input_names:
            if name not in frame.columns:
                raise KeyError(f"input {name!r} is not a column of the DataFrame")
        columns = [_column(name, frame[name]) for name in self.input_names]
        return np.column_stack(columns) if columns else np.empty((len(frame), 0))

    def _dict_columns(self, columns):
        """A dict of columns by input name as a float64 matrix; every name must be an input."""
        self._check_names(columns, "the dict of columns")
        arrays = [_column(name, columns[name]) for name in self.input_names]
        lengths = {name: len(a) for name, a in zip(self.input_names, arrays)}
        if len(set(lengths.values())) > 1:
            raise FazoltError("fazolt:python:InputShape", "the columns differ in length: " +
                              ", ".join(f"{name} {n}" for name, n in lengths.items()))
        return np.column_stack(arrays) if arrays else np.empty((0, 0))

    def _check_names(self, d, what):
        """A dict's keys against the inputs: a missing or an unknown name is a KeyError naming it."""
        for name in self.input_names:
            if name not in d:
                raise KeyError(f"input {name!r} is not in {what} (inputs: {', '.join(self.input_names)})")
        for name in d:
            if name not in self.input_names:
                raise KeyError(f"{name!r} in {what} is not an input (inputs: {', '.join(self.input_names)})")

    def _row(self, row):
        """One input row as a float64 vector: by name from a dict or a Series."""
        pd = _pandas()
        if isinstance(row, dict):
            self._check_names(row, "the row")
        if isinstance(row, dict) or (pd is not None and isinstance(row, pd.Series)):
            for name in self.input_names:
                if name not in row:
                    raise KeyError(f"input {name!r} is not in the row")
            row = [row[name] for name in self.input_names]
        matrix, is_single_row = _as_matrix(row)
        if not is_single_row:
            raise FazoltError("fazolt:python:InputShape", f"expected one row (inputs,), got shape {matrix.shape}")
        self._check_width(matrix, True)
        return matrix[0]

    def explain(self, row, on_out_of_range="warning", on_no_rule_fired="warning", on_empty_set="warning",
                on_nan_input="warning", on_non_finite_output="warning"):
        """How one row is evaluated: term degrees, rule firing, output sets.

        Parameters:
            row: one row (inputs,) in input order, or a dict / pandas Series by
                input name (a dict must name every input and nothing else).
            on_*: as evaluate.
        Returns:
            an Explanation (printable; tables in a notebook).
        Raises:
            FazoltError, KeyError: as evaluate.

        Example:
            >>> print(dimmer.explain({"daylight": 15, "motion": 0.6}))
        """
        from .explain import Explanation
        x = self._row(row)
        modes = _modes(on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input, on_non_finite_output)
        self._explainer()
        explanation, results, report = _host_call(lambda: self._native.explain(x.tolist(), modes))
        _issue(report)
        return Explanation(self, x, explanation, results)

    def term_degrees(self, variable, x):
        """Degrees of every term of an input at each value of x, computed by the module.

        Parameters:
            variable: an input's name.
            x: the values, any array-like of numbers.
        Returns:
            a float64 array (len(x), terms).
        Raises:
            KeyError: not an input or an output. ValueError: an output (its
                terms are known at its sample points only: output_term_degrees).

        Example:
            >>> dimmer.term_degrees("daylight", [0, 15, 30])
        """
        kind, index = self._find_variable(variable)
        if kind == "outputs":
            raise ValueError(f"{variable!r} is an output: output_term_degrees gives its terms at its sample points")
        self._explainer()
        x = np.asarray(x, dtype=np.float64).reshape(-1)
        return _host_call(lambda: self._native.input_term_degrees(index, x.tolist()))

    def output_term_degrees(self, variable):
        """The terms of a Mamdani output at its sample points, as the module samples them.

        Parameters:
            variable: an output's name.
        Returns:
            (points, degrees): float64 arrays (samples,) and (samples, terms).
        Raises:
            KeyError: not an output. ValueError: a Sugeno output (its terms
                are functions of the inputs).

        Example:
            >>> points, degrees = dimmer.output_term_degrees("lamp")
        """
        kind, index = self._find_variable(variable)
        if kind != "outputs":
            raise KeyError(f"{variable!r} is not an output")
        if self.type != "mamdani":
            raise ValueError(f"{variable!r} is a Sugeno output: its terms are functions of the inputs")
        return np.array(self._info["sample_points"][index]), self._native.output_term_curves()[index]

    def _explainer(self):
        """The module's reason when it refuses the system, as a FazoltError."""
        if self._info is None:
            _host_call(lambda: self._native.info)

    def _find_variable(self, name):
        for kind in ("inputs", "outputs"):
            for index, v in enumerate(getattr(self, "_" + kind)):
                if v.name == name:
                    return kind, index
        raise KeyError(f"{name!r} is neither an input nor an output")


def _refuse_non_finite(value, path):
    """A description holds finite numbers only: NaN or an infinity is named by its JSON path
    (JSON cannot carry it, and the module's parser would name only a text column)."""
    if isinstance(value, dict):
        for key, item in value.items():
            _refuse_non_finite(item, f"{path}.{key}" if path else str(key))
    elif isinstance(value, (list, tuple)):
        for index, item in enumerate(value):
            _refuse_non_finite(item, f"{path}[{index}]")
    elif isinstance(value, (float, np.floating)) and not math.isfinite(value):
        raise FazoltError("fazolt:description:Invalid", f"{path or '(top level)'}: {value!r} is not a finite number")


def _write_replacing(path, text):
    """Writes text beside path and renames it over path, as the tool writes files."""
    directory = os.path.dirname(os.path.abspath(path))
    try:
        mode = os.stat(path).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    try:
        fd, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(path) + ".")
    except OSError as e:
        raise FazoltError("fazolt:io:CannotWrite", f"{path}: cannot make a temporary file beside it: {e.strerror}") from None
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, mode)  # mkstemp makes the file private
        os.replace(temporary, path)
    except OSError as e:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise FazoltError("fazolt:io:WriteFailed", f"{path}: {e.strerror or e}") from None


def _column(name, values):
    """One input column (a list, an array or a pandas Series) as float64, naming it on a fault.

    pd.NA (a missing value of pandas' nullable dtypes, or in an object
    column) is refused: it is not a number, and NaN has its own checks.
    """
    pd = _pandas()
    if pd is not None and isinstance(values, pd.Series):
        is_na = values.isna().to_numpy() if not isinstance(values.dtype, np.dtype) or values.dtype.kind == "O" \
            else np.zeros(len(values), dtype=bool)
        if values.dtype.kind == "O":
            is_na &= np.array([v is pd.NA or v is None for v in values], dtype=bool)
        if is_na.any():
            raise FazoltError("fazolt:python:InputClass",
                              f"column {name!r}: row {int(np.argmax(is_na))} is pd.NA (a missing value), not a number; "
                              "fill it (fillna) or drop the row")
        values = values.to_numpy(dtype=np.float64) if values.dtype.kind in "biuf" else values.to_numpy()
    if isinstance(values, (str, bytes)):
        raise FazoltError("fazolt:python:InputClass", f"column {name!r}: expected numbers, got {type(values).__name__}")
    try:
        a = np.asarray(values)
    except ValueError as e:
        raise FazoltError("fazolt:python:InputShape", f"column {name!r}: expected a column of numbers: {e}") from None
    if a.dtype.kind not in "biuf":
        raise FazoltError("fazolt:python:InputClass", f"column {name!r}: expected numbers, got dtype {a.dtype}")
    if a.ndim != 1:
        raise FazoltError("fazolt:python:InputShape", f"column {name!r}: expected one column, got shape {a.shape}")
    return a.astype(np.float64, copy=False)


# What evaluate takes as one row without going through the batch.
_ROW_TYPES = (list, tuple, np.ndarray)


def _could_be_row(x, num_inputs):
    """Whether x (of _ROW_TYPES) may be one row of num_inputs values."""
    if type(x) is np.ndarray:
        return x.ndim == 1 and x.shape[0] == num_inputs
    return len(x) == num_inputs and not any(isinstance(v, _ROW_TYPES) for v in x)
_DEFAULT_MODES = ("warning",) * 5


def _as_matrix(x):
    """(float64 matrix rows x inputs, whether x was a single row)."""
    if isinstance(x, (str, bytes)):
        raise FazoltError("fazolt:python:InputClass", f"expected numbers, got {type(x).__name__}")
    try:
        a = np.asarray(x)
    except ValueError as e:  # ragged lists
        raise FazoltError("fazolt:python:InputShape", f"expected a rectangular array of numbers: {e}") from None
    if a.dtype.kind not in "biuf":
        raise FazoltError("fazolt:python:InputClass", f"expected numbers, got an array of dtype {a.dtype}")
    if a.ndim not in (1, 2):
        raise FazoltError("fazolt:python:InputShape",
                          f"expected an array (rows, inputs) or one row (inputs,), got shape {a.shape}")
    a = a.astype(np.float64, copy=False)
    if a.ndim == 1:
        return a.reshape(1, -1), True
    if a.strides[0] % 8 or a.strides[1] % 8:
        a = np.ascontiguousarray(a)
    return a, False


def host_live_blocks():
    """Blocks the host's allocator has given out and not yet taken back, for leak checks.

    Returns:
        int.
    Raises:
        nothing.

    Example:
        >>> before = fazolt.host_live_blocks()
        >>> dimmer.evaluate([[5, 0.9]]); assert fazolt.host_live_blocks() == before
    """
    return _fazolt.host_live_blocks()
