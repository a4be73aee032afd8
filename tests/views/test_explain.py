"""`fazolt explain` shows, bit for bit, results 1 to 6 of a one-row call, in
text and in JSON, for every bundled system and the reference systems; each
term's degree is the value the rules testing that term receive."""
import json
import math
import pathlib
import random
import re
import struct

import pytest

from conftest import BUNDLED_SYSTEMS, REFERENCE_SYSTEMS, ROOT, run


def bits(v):
    if isinstance(v, str):
        v = {"NaN": math.nan, "Inf": math.inf, "-Inf": -math.inf}[v]
    return struct.pack("<d", v)


def same(a, b):
    return bits(a) == bits(b)


def input_ranges(system):
    """[(low, high)] per input, from a description or a raw record in host-value JSON."""
    d = json.loads(system.read_text())
    if "class" not in d:
        return [tuple(v["range"]) for v in d["inputs"]]
    fields = dict(zip(d["fields"], d["data"][0]))
    n = int(fields["numInputs"]["data"][0])
    r = fields["inputRange"]["data"]
    return [(r[i], r[i + n]) for i in range(n)]


def rows_for(system):
    """Inside the ranges, on a boundary, and outside (the out-of-range diagnostic is off)."""
    rng = random.Random(15)
    ranges = input_ranges(system)
    rows = [[rng.uniform(lo, hi) for lo, hi in ranges] for _ in range(3)]
    rows.append([lo for lo, _ in ranges])
    rows.append([hi + (hi - lo) / 3 for lo, hi in ranges])
    return rows


def uint8(values):
    return {"class": "uint8", "size": [1, len(values)], "data": values}


# The diagnostics argument that explain's options below give: out of range silent, the rest warnings.
DIAGNOSTICS = {"class": "struct", "size": [1, 1],
               "fields": ["DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired",
                          "EmptyOutputFuzzySet"],
               "data": [[uint8([0]), uint8([]), uint8([]), uint8([0]), uint8([2]), uint8([2])]]}


def module_results(system, row, tmp_path):
    """Results 1 to 6 of the module call for one row: `fazolt call` itself for a raw record; for a
    description, `fazolt eval --format json`, which prints the same call's results in that form."""
    inputs = tmp_path / "inputs.json"
    inputs.write_text(json.dumps({"class": "double", "size": [1, len(row)], "data": row}))
    if "class" in json.loads(system.read_text()):
        diagnostics = tmp_path / "diagnostics.json"
        diagnostics.write_text(json.dumps(DIAGNOSTICS))
        out = run("call", "--nargout", "6", inputs, system, diagnostics).stdout
    else:
        out = run("eval", system, inputs, "--format", "json", "--on-out-of-range", "none").stdout
    return json.loads(out)["results"]


def at(value, r, c):
    return value["data"][r + c * value["size"][0]]


def padded_records(tmp_path):
    """The dimmer and brake records with result 3 larger than needed: rows and columns nothing writes."""
    for name in ("dimmer/dimmer.record.json", "sugeno/brake.record.json"):
        d = json.loads((ROOT / "examples" / name).read_text())
        orr = d["data"][0][d["fields"].index("orrSize")]
        orr["data"] = [orr["data"][0] + 3, orr["data"][1] + 2]
        path = tmp_path / ("padded-" + pathlib.Path(name).name)
        path.write_text(json.dumps(d))
        yield path


@pytest.mark.parametrize("system", BUNDLED_SYSTEMS + REFERENCE_SYSTEMS + ["padded"], ids=lambda p: getattr(p, "name", p))
def test_explain_shows_the_module_results_bit_for_bit(system, tmp_path):
    if system == "padded":
        for padded in padded_records(tmp_path):
            test_explain_shows_the_module_results_bit_for_bit(padded, tmp_path)
        return
    for row in rows_for(system):
        args = ["explain", system, "--row", ",".join(repr(v) for v in row), "--on-out-of-range", "none"]
        results = module_results(system, row, tmp_path)
        e = json.loads(run(*args, "--format", "json").stdout)
        check_json(e, results)
        check_text(run(*args).stdout, e, results)


def check_json(e, results):
    res1, res2, res3, res4, res5, res6 = results
    num_rules = res5["size"][0]
    num_samples = res4["size"][0]
    is_mamdani = e["type"] == "mamdani"
    assert len(e["rules"]) == num_rules
    for r, rule in enumerate(e["rules"]):
        assert [bits(v) for v in rule["antecedentValues"]] == [bits(at(res2, r, i)) for i in range(len(e["inputs"]))]
        assert same(rule["firingStrength"], at(res5, r, 0))
        for o in range(len(e["outputs"])):
            if is_mamdani:
                column = o * num_rules + r
                assert [bits(v) for v in rule["impliedSets"][o]] == [bits(at(res3, s, column)) for s in range(num_samples)]
            else:
                assert same(rule["outputLevels"][o], at(res6, r, o))
                assert same(rule["weightedOutputs"][o], at(res3, r, o))
        # The degree shown for a term is the value every rule testing it gets.
        for i, k in enumerate(rule["antecedent"]):
            if k != 0:
                degree = e["inputs"][i]["terms"][abs(k) - 1]["degree"]
                assert same(degree if k > 0 else 1.0 - degree, at(res2, r, i))
    # The strengths of all rules added in rule order, as the module adds them.
    total = 0.0
    for w in res5["data"]:
        total = total + w
    assert same(e["totalFiringStrength"], total)
    for o, out in enumerate(e["outputs"]):
        assert same(out["value"], at(res1, 0, o))
        if is_mamdani:
            assert [bits(v) for v in out["aggregatedSet"]] == [bits(at(res4, s, o)) for s in range(res4["size"][0])]
        else:
            assert same(out["sum"], res4["data"][o])
            if e["outputs"][o]["method"] == "wtaver" and total != 0:
                # Every output's sum over the total of all rules, whichever outputs they conclude.
                assert same(out["value"], (1.0 / total) * out["sum"])
    if is_mamdani:
        assert res6["data"] == [0]  # the Mamdani result 6 holds nothing else


def check_text(text, e, results):
    res1, res2, res3, _, res5, res6 = results
    output_names = [out["name"] for out in e["outputs"]]
    rule_lines = re.findall(r"^  (\d+): (\S+)  (.*)$", text, re.M)
    assert len(rule_lines) == len(e["rules"])
    for index, strength, rest in rule_lines:
        r = int(index) - 1
        assert same(float(strength), at(res5, r, 0))
        # The rule as written, then only the inputs it tests with their values.
        assert rest.startswith(e["rules"][r]["text"])
        listed = re.findall(r"  \[([^\]]*)\]", rest)
        shown = [pair.rsplit(" ", 1) for pair in listed[0].split(", ")] if listed else []
        tested = [i for i, k in enumerate(e["rules"][r]["antecedent"]) if k != 0]
        assert [(n, bits(float(v))) for n, v in shown] == [(e["inputs"][i]["name"], bits(at(res2, r, i))) for i in tested]
        for name, level, weighted in re.findall(r"; (\S+) level (\S+), weighted (\S+)", rest):
            o = output_names.index(name)
            assert same(float(level), at(res6, r, o)) and same(float(weighted), at(res3, r, o))
    if e["type"] != "mamdani":
        totals = re.findall(r"; firing strengths of all rules sum to (\S+)$", text, re.M)
        assert [bits(float(v)) for v in totals] == [bits(e["totalFiringStrength"])] * len(output_names)
    outputs = re.findall(r"^  (\S+) = (\S+) \(\w+\)$", text, re.M)
    assert [(n, bits(float(v))) for n, v in outputs] == [(n, bits(at(res1, 0, o))) for o, n in enumerate(output_names)]
    degrees = [float(v) for v in re.findall(r"^    \S+ +(\S+)$", text, re.M)]
    assert [bits(v) for v in degrees] == [bits(t["degree"]) for i in e["inputs"] for t in i["terms"]]
