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
        assert [list(r.antecedent) for r in e.rules] == raw[1].tolist()
        assert [o.value for o in e.outputs] == raw[0].reshape(-1).tolist()
        if e.is_mamdani:
            assert all(same_bits(o.values, raw[3][:, k]) for k, o in enumerate(e.outputs))
        # A term's degree is the antecedent value of every rule that tests it plainly.
        antecedent = system._matrix("antecedent")
        for r, rule in enumerate(e.rules):
            for i, index in enumerate(antecedent[r]):
                if index >= 1 and index == round(index):
                    degrees = list(e.inputs[i].degrees.values())
                    assert same_bits(degrees[int(index) - 1], rule.antecedent[i])


def test_explanation_reads_well():
    system = fazolt.System.from_file(example_system(EXAMPLES[0]))
    e = system.explain(read_rows(EXAMPLES[0])[0])
    text = str(e)
    assert "rules:" in text and e.rules[0].text in text and system.output_names[0] in text
    assert e.rules[0].text.startswith("if ") and " then " in e.rules[0].text
    page = e._repr_html_()
    assert page.count("<table>") == 3 and e.inputs[0].name in page
    row = dict(zip(system.input_names, read_rows(EXAMPLES[0])[0]))
    assert same_bits(system.explain(row).results["crisp_outputs"], e.results["crisp_outputs"])
