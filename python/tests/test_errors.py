"""Every bad input gives its FazoltError (or KeyError) and leaves no host block behind."""
import json

import numpy as np
import pytest

import fazolt
from conftest import ROOT


@pytest.fixture(scope="module")
def dimmer():
    return fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")


@pytest.mark.parametrize("x,identifier", [
    (np.ones((3, 5)), "the data has 5 columns, the system 2 inputs: daylight, motion"),
    (np.ones(5), "the row has 5 values, the system 2 inputs: daylight, motion"),
    (np.ones((2, 2, 2)), "fazolt:python:InputShape"),
    (np.ones(()), "fazolt:python:InputShape"),
    ("12,3", "fazolt:python:InputClass"),
    (np.array([["1", "2"]]), "fazolt:python:InputClass"),
    ([[1.0, None]], "fazolt:python:InputClass"),
    ([[1.0], [2.0, 3.0]], "fazolt:python:InputShape"),
    (np.ones((2, 2), dtype=complex), "fazolt:python:InputClass"),
])
def test_bad_inputs(dimmer, x, identifier, no_leak):
    with pytest.raises(fazolt.FazoltError) as caught:
        dimmer.evaluate(x)
    assert isinstance(caught.value, ValueError)
    if identifier.startswith("fazolt:"):
        assert caught.value.identifier == identifier
    else:  # the data, not the system, with the inputs by name
        assert caught.value.identifier == "fazolt:python:InputShape" and caught.value.message == identifier


def test_diagnostic_in_error_mode(dimmer, no_leak):
    rows = np.array([[50, 0.5], [500, 0.5]])  # the second row is out of range
    with pytest.warns(fazolt.FazoltWarning) as caught:
        dimmer.evaluate(rows)
    assert [w.message.identifier for w in caught] == ["diagFazolt_OutOfRangeInput"]
    assert caught[0].message.message == 'row 1: input "daylight" has the value 500, outside its range [0 100]'
    with pytest.raises(fazolt.FazoltError) as error:
        dimmer.evaluate(rows, on_out_of_range="error")
    assert error.value.identifier == caught[0].message.identifier
    assert error.value.message == caught[0].message.message
    with pytest.raises(fazolt.FazoltError, match="on_empty_set"):
        dimmer.evaluate(rows, on_empty_set="loud")
    with pytest.raises(fazolt.FazoltError, match="on_nan_input"):
        dimmer.evaluate(rows, on_nan_input=2)  # the checks take the three names only


def test_nan_inputs_and_non_finite_outputs(dimmer, no_leak):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"daylight": [30, 30], "motion": [0.9, np.nan]})  # a missing reading
    with pytest.warns(fazolt.FazoltWarning) as caught:
        out = dimmer.evaluate(frame)
    assert [(w.message.identifier, w.message.message) for w in caught] == [
        ("fazolt:inputs:NaN", 'row 1: input "motion" is NaN')]
    assert np.array_equal(out.to_numpy().view(np.uint64),
                          dimmer.evaluate(frame, on_nan_input="none").to_numpy().view(np.uint64))
    with pytest.raises(fazolt.FazoltError, match='row 1: input "motion" is NaN'):
        dimmer.evaluate(frame, on_nan_input="error")
    scaled = fazolt.System.from_dict({  # y = 1e280 x overflows at 1e30, out of its range
        "type": "sugeno", "defuzzMethod": "wtsum", "inputs": [{"name": "x", "range": [0, 1]}],
        "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "big", "type": "linear", "params": [1e280, 0]}]}],
        "rules": [{"antecedent": [0], "consequent": [1]}]})
    with pytest.warns(fazolt.FazoltWarning) as caught:
        scaled.evaluate([[0.5], [1e30], [np.inf]], on_out_of_range="none")
    assert [w.message.message for w in caught] == ['row 1: output "y" is Inf from inputs that are all finite']
    with pytest.raises(fazolt.FazoltError, match="fazolt:outputs:NonFinite"):
        scaled.evaluate([1e30], on_out_of_range="none", on_non_finite_output="error")


@pytest.mark.parametrize("change,identifier", [
    ({"type": 3}, "fazolt:description:Invalid"),
    ({"rules": ["if daylight is brigth then lamp is off"]}, "fazolt:description:Invalid"),
])
def test_invalid_descriptions(dimmer, change, identifier, no_leak):
    d = dimmer.to_dict()
    d.update(change)
    with pytest.raises(fazolt.FazoltError) as caught:
        fazolt.System.from_dict(d)
    assert caught.value.identifier == identifier


def test_invalid_record_and_files(dimmer, tmp_path, no_leak):
    d = dimmer.to_dict()
    d["inputs"][1]["mf"][0]["params"][1] = float("nan")
    with pytest.raises(fazolt.FazoltError, match=r"Invalid: inputs\[1\]\.mf\[0\]\.params\[1\]: nan is not a finite"):
        fazolt.System(d)
    record = json.loads(dimmer._native.record_json)
    fields = record["fields"]
    antecedent = record["data"][0][fields.index("antecedent")]
    antecedent["data"][0] = 9  # beyond the input's terms: refused at the boundary
    system = fazolt.System.from_dict(record)
    with pytest.raises(fazolt.FazoltError) as caught:
        system.evaluate([[1, 0.5]])
    assert caught.value.identifier == "fazolt:invalidSystem"
    with pytest.raises(fazolt.FazoltError) as caught:
        fazolt.System.from_file(tmp_path / "missing.json")
    assert "missing.json" in caught.value.message
    # `id` is the identifier, one of the shared list the C++ API and the tool use.
    assert caught.value.id == caught.value.identifier == "fazolt:io:CannotOpen" and caught.value.id in fazolt.ERROR_IDS
    (tmp_path / "broken.json").write_text("{")
    with pytest.raises(fazolt.FazoltError, match="malformed"):
        fazolt.System.from_file(tmp_path / "broken.json")


def test_broken_record_loads_and_reports_at_evaluation(dimmer, no_leak):
    record = json.loads(dimmer._native.record_json)
    drop = record["fields"].index("numInputs")
    del record["fields"][drop], record["data"][0][drop]
    system = fazolt.System.from_dict(record)
    with pytest.raises(fazolt.FazoltError, match="numInputs"):
        system.evaluate([[1, 0.5]])


def test_file_default_nc_warns_once_at_load(tmp_path, no_leak):
    path = tmp_path / "hold.fcl"
    path.write_text("FUNCTION_BLOCK f\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n"
                    "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (6, 0);\nEND_FUZZIFY\n"
                    "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := (0, 0) (1, 1);\n METHOD : COG;\n DEFAULT := NC;\n"
                    "END_DEFUZZIFY\nRULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n")
    with pytest.warns(fazolt.FazoltWarning) as caught:
        system = fazolt.System.from_file(path)
    assert [(w.message.identifier, "hold.fcl:12: DEFAULT of y: NC is read as NaN" in w.message.message)
            for w in caught] == [("fazolt:fcl:Default", True)]
    out = system.evaluate(np.array([[8.0], [5.5]]), on_no_rule_fired="none", on_non_finite_output="none")
    assert np.isnan(out[0, 0]) and out[1, 0] > 0


def test_samples_set_at_load(no_leak):
    fll = ROOT / "tests" / "data" / "formats" / "files" / "greenhouse_vent.fll"
    system = fazolt.System.from_file(fll, samples=100)
    assert system.to_dict()["numSamples"] == 100
    dimmer = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    assert fazolt.System.from_dict(dimmer.to_dict(), samples=100).to_dict()["numSamples"] == 100
    with pytest.raises(fazolt.FazoltError, match="raw record"):
        fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.record.json", samples=100)


def test_lock_range_clamps_through_python(no_leak):
    system = fazolt.System.from_file(ROOT / "tests" / "data" / "formats" / "files" / "feed_pump.fll")
    with pytest.warns(fazolt.FazoltWarning):  # concentration 7 is out of its range, and not clamped
        out = system.evaluate(np.array([[60.0, 0.5], [50.0, 0.5], [-10.0, 7.0]]))
    assert out[0, 0] == 100.0 and out[1, 0] == 100.0 and 0.0 <= out[2, 0] <= 100.0
