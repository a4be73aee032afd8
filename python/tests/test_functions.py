"""Python callables as host functions: the same numbers as the same method in
C++, their arguments as the host passes them, and failures that arrive as
FazoltError with nothing leaked."""
import json

import numpy as np
import pytest

import fazolt
import _fazolt_testing
from conftest import ROOT, same_bits

VENT = ROOT / "examples" / "custom_method" / "lukasiewicz.json"
ROWS = np.array([[10, 50], [22, 20], [31, 80], [40, 95], [25, 45], [-5, 130]], dtype=np.float64)
QUIET = dict(on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")


def vent_with(**changes):
    d = json.loads(VENT.read_text())
    d.update(changes)
    return d


def evaluate_both(d, name, python_fn, register_cpp):
    """Outputs with the Python callable, then with the C++ function, under one name."""
    fazolt.register_function(name, python_fn)
    with_python = fazolt.System.from_dict(d).evaluate(ROWS, **QUIET)
    register_cpp(name)
    with_cpp = fazolt.System.from_dict(d).evaluate(ROWS, **QUIET)
    fazolt.unregister_function(name)
    return with_python, with_cpp


def test_and_method(no_leak):
    def lukasiewicz(values):
        assert values.dtype == np.float64 and values.ndim == 2 and values.shape[1] == 1  # a column
        return max(values.sum() - (len(values) - 1), 0.0)
    py, cpp = evaluate_both(vent_with(andMethod="py_and"), "py_and", lukasiewicz,
                            _fazolt_testing.register_cpp_lukasiewicz)
    assert same_bits(py, cpp)


def test_aggregation_method(no_leak):
    def column_max(block):
        assert block.ndim == 2 and block.shape == (4, 201)  # rules x sample points
        return block.max(axis=0)  # a 1-D result is a row
    py, cpp = evaluate_both(vent_with(andMethod="min", aggMethod="py_max"), "py_max", column_max,
                            _fazolt_testing.register_cpp_column_max)
    builtin = fazolt.System.from_dict(vent_with(andMethod="min")).evaluate(ROWS, **QUIET)
    assert same_bits(py, cpp) and same_bits(py, builtin)


def test_membership_function(no_leak):
    def triangle(points, params):
        assert points.shape[0] == 1 and params.shape == (1, 3)  # a row of points, a row of parameters
        a, b, c = params[0]
        return np.maximum(np.minimum((points - a) / (b - a), (c - points) / (c - b)), 0.0)
    d = vent_with(andMethod="min")
    builtin = fazolt.System.from_dict(d).evaluate(ROWS, **QUIET)
    for term in d["outputs"][0]["mf"]:
        term["type"] = "py_tri"
    with_python, with_cpp = evaluate_both(d, "py_tri", triangle, _fazolt_testing.register_cpp_triangle)
    assert same_bits(with_python, with_cpp)
    assert np.allclose(with_python, builtin, rtol=0, atol=1e-9)  # the built-in orders its operations otherwise


class Boom(RuntimeError):
    pass


@pytest.mark.parametrize("fn,identifier", [
    (lambda v: (_ for _ in ()).throw(Boom("no luck")), "fazolt:python:FunctionError"),
    (lambda v: "text", "fazolt:python:ResultClass"),
    (lambda v: None, "fazolt:python:ResultClass"),
    (lambda v: np.ones((2, 3)), "fazolt:python:Result"),  # an AND gives one degree
    (lambda v: float("nan"), "fazolt:python:Result"),
    (lambda v: 1.5, "fazolt:python:Result"),
])
def test_failures_arrive_as_fazolt_error(fn, identifier, no_leak):
    system = fazolt.System.from_file(VENT, functions={"lukasiewicz": fn})
    with pytest.raises(fazolt.FazoltError) as caught:
        system.evaluate(ROWS)
    fazolt.unregister_function("lukasiewicz")
    assert caught.value.identifier == identifier
    if identifier == "fazolt:python:FunctionError":
        assert isinstance(caught.value.__cause__, Boom) and "Boom: no luck" in caught.value.message
        assert '"lukasiewicz"' in caught.value.message
    if identifier == "fazolt:python:Result":  # the file and line, the function, its use
        code = fn.__code__
        where = f'{code.co_filename}:{code.co_firstlineno}: function "lukasiewicz" as andMethod: '
        assert caught.value.message.startswith(where), caught.value.message


def test_a_function_may_evaluate_another_system_and_a_cycle_stops(no_leak):
    inner = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    expected = inner.evaluate([[5, 0.9]])

    def nested(values):
        assert same_bits(inner.evaluate([[5, 0.9]]), expected)
        return max(values.sum() - (len(values) - 1), 0.0)
    system = fazolt.System.from_file(VENT, functions={"lukasiewicz": nested})
    with_nested = system.evaluate(ROWS, **QUIET)
    _fazolt_testing.register_cpp_lukasiewicz("lukasiewicz")
    assert same_bits(with_nested, system.evaluate(ROWS, **QUIET))

    def again(values):  # evaluates its own system: without end
        system.evaluate(ROWS[:1], **QUIET)
        return 0.0
    fazolt.register_function("lukasiewicz", again)
    with pytest.raises(fazolt.FazoltError) as caught:
        system.evaluate(ROWS)
    fazolt.unregister_function("lukasiewicz")
    assert caught.value.identifier == "fazolt:api:NestedTooDeep", caught.value

    def registers(values):  # changing the functions in use stays refused
        fazolt.register_function("another", abs)
        return 0.0
    fazolt.register_function("lukasiewicz", registers)
    with pytest.raises(fazolt.FazoltError) as caught:
        system.evaluate(ROWS)
    fazolt.unregister_function("lukasiewicz")
    assert caught.value.__cause__.identifier == "fazolt:python:Reentrant"



@pytest.mark.parametrize("name", ["min", "transpose"])
def test_builtin_names_are_refused_with_the_list(name, no_leak):
    dimmer = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    expected = dimmer.evaluate([5, 0.9])
    for change in (lambda: fazolt.register_function(name, abs), lambda: fazolt.unregister_function(name)):
        with pytest.raises(fazolt.FazoltError, match=rf'NameTaken: function "{name}": .*\(built-ins: feval, .*max\)'):
            change()
    assert same_bits(dimmer.evaluate([5, 0.9]), expected)  # the built-in still serves
    # a name a description resolves to its own method or shape would never be called
    with pytest.raises(fazolt.FazoltError, match='NameTaken: function "centroid": a description'):
        fazolt.register_function("centroid", abs)
