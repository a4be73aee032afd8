"""explain(row) holds results 2 to 6 of `fazolt call` on that row, bit for bit,
and the views built on them index those results."""
import json

import numpy as np
import pytest

import fazolt
from conftest import EXAMPLES, REFERENCE_SYSTEMS, example_system, read_rows, same_bits, tool


def host_value(value):
    """numpy array of a host-value JSON double, in its extents."""
    data = [float(v) for v in value["data"]]
    return np.array(data, dtype=np.float64).reshape(value["size"], order="F")


def diagnostics_json(name):
    def byte(v):
        return {"class": "uint8", "size": [1, 1], "data": [v]}
    return {"class": "struct", "size": [1, 1],
            "fields": ["DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired",
                       "EmptyOutputFuzzySet"],
            "data": [[byte(0), {"class": "uint8", "size": [1, len(name)], "data": name},
                      {"class": "uint8", "size": [1, 0], "data": ""}, byte(0), byte(0), byte(0)]]}


CASES = [(example_system(p), p) for p in EXAMPLES] + [(p, p.parent / "inputs.csv") for p in
                                                      sorted(EXAMPLES[0].parent.parent.glob("[!c]*/*.record.json"))] + [(REFERENCE_SYSTEMS / f"{n}.json", None)
                                                       for n in ("fan", "big_mamdani", "sugeno_linear")]


@pytest.mark.parametrize("path,inputs", CASES, ids=lambda v: getattr(v, "stem", ""))
def test_explain_equals_results_2_to_6_of_call(path, inputs, tmp_path):
    system = fazolt.System.from_file(path)
    rows = read_rows(inputs)[:3] if inputs else np.array([[(lo + hi) / 2 + (hi - lo) * k / 7 for lo, hi in
                                                          (v.range for v in system.inputs)] for k in (-3, 0, 2)])
    record = tmp_path / "record.json"
    record.write_text(system._native.record_json)
    diagnostics = tmp_path / "diagnostics.json"
    diagnostics.write_text(json.dumps(diagnostics_json(system.name)))
    for row in rows:
        row_file = tmp_path / "row.json"
        row_file.write_text(json.dumps({"class": "double", "size": [1, len(row)], "data": row.tolist()}))
        called = json.loads(tool("call", "--nargout", "6", row_file, record, diagnostics).stdout)["results"]
        e = system.explain(row, on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")
        raw = list(e.results.values())
        assert len(raw) == 6
        for k in range(6):
            assert same_bits(raw[k], host_value(called[k])), (path.name, row, k + 1)
        # The views index those results.
        assert [r.firing_strength for r in e.rules] == raw[4].reshape(-1).tolist()
        # Only the inputs a rule tests, with the values it received.
        entries = [rule[1] for rule in system._rules]
        assert [r.antecedent for r in e.rules] == [{v.name: raw[1][r][i] for i, v in enumerate(system.inputs)
                                                    if entries[r][i] != 0} for r in range(len(e.rules))]
        assert [o.value for o in e.outputs] == raw[0].reshape(-1).tolist()
        if e.is_mamdani:
            assert all(same_bits(o.values, raw[3][:, k]) for k, o in enumerate(e.outputs))
        # A term's degree is the antecedent value of every rule that tests it plainly.
        for r, rule in enumerate(e.rules):
            for i, index in enumerate(entries[r]):
                if index >= 1:
                    degrees = list(e.inputs[i].degrees.values())
                    assert same_bits(degrees[index - 1], raw[1][r][i])


def test_explanation_reads_well(tmp_path):
    system = fazolt.System.from_file(example_system(EXAMPLES[0]))
    e = system.explain(read_rows(EXAMPLES[0])[0])
    text = str(e)
    assert "rules" in text and e.rules[0].text in text and system.output_names[0] in text
    assert e.rules[0].text.startswith("if ") and " then " in e.rules[0].text
    page = e._repr_html_()
    # Headed tables, the system's name and the outputs first.
    assert page.count("<table>") == 3 and e.inputs[0].name in page and system.name in page
    assert page.index("<h4>Outputs") < page.index("<h4>Inputs") < page.index("<h4>Rules")
    row = dict(zip(system.input_names, read_rows(EXAMPLES[0])[0]))
    assert same_bits(system.explain(row).results["crisp_outputs"], e.results["crisp_outputs"])
    # A rule written as text keeps its words and order, in Python and in the tool,
    # and lists only the inputs it tests.
    d = {"name": "order", "type": "sugeno", "inputs": [
        {"name": "a", "range": [0, 1], "mf": [{"name": "lo", "type": "trimf", "params": [-1, 0, 1]}]},
        {"name": "b", "range": [0, 1], "mf": [{"name": "hi", "type": "trimf", "params": [0, 1, 2]}]},
        {"name": "c", "range": [0, 1], "mf": [{"name": "mid", "type": "trimf", "params": [0, 0.5, 1]}]}],
        "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "one", "type": "constant", "params": [1]}]}],
        "rules": ["if b is hi and a is lo then y is one", {"antecedent": [0, 0, 1], "consequent": [1]}]}
    path = tmp_path / "order.json"
    path.write_text(json.dumps(d))
    rules = fazolt.System.from_file(path).explain([0.25, 0.5, 0.5]).rules
    assert [r.text for r in rules] == ["if b is hi and a is lo then y is one", "if c is mid then y is one"]
    assert [r.antecedent for r in rules] == [{"a": 0.75, "b": 0.5}, {"c": 1.0}]
    shown = tool("explain", path, "--row", "0.25,0.5,0.5").stdout
    assert "if b is hi and a is lo then y is one  [a 0.75, b 0.5]" in shown
    assert "if c is mid then y is one  [c 1]" in shown
