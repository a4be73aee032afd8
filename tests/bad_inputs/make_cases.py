#!/usr/bin/env python3
"""Writes the bad-input corpus next to this script: the case files and
cases.tsv, read by tests/bad_input_corpus_test.cpp.

cases.tsv, one case a line, tab-separated:
  kind    cli: `fazolt ARGS` in a child process;
          api: in-process, ARGS = SYSTEM INPUTS.json [DIAGNOSTICS.json],
               SYSTEM loaded with fazolt::System::fromFile, then System::call
  args    blank-separated; a token naming a file of this folder is that
          file; "<NAME" feeds the file NAME on standard input
  status  the expected exit status (api: 0 success, 1 a host error)
  expect  failure: a substring of the one error line;
          success: "ok", or "=" and the exact standard output ("\\n" for
          line ends; api: result 1 as CSV lines)

Run it after changing a case; the outputs are committed.
"""
import copy
import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
FILES = os.path.join(HERE, "files")

cases = []
written = {}


def write(name, content):
    """Writes a case file once; returns its name relative to the folder."""
    rel = "files/" + name
    data = content.encode("utf-8") if isinstance(content, str) else content
    if rel in written:
        assert written[rel] == data, rel
        return rel
    written[rel] = data
    return rel


def case(kind, args, status, expect):
    assert "\t" not in expect and "\n" not in expect
    assert status == 0 or expect, args
    cases.append((kind, " ".join(args), str(status), expect))


def cli(args, status, expect):
    case("cli", args, status, expect)


def api(args, status, expect):
    case("api", args, status, expect)


# ---- Host values in host-value JSON.

def hv_double(rows, cols, data):
    return {"class": "double", "size": [rows, cols], "data": data}


def hv_int32(values):
    return {"class": "int32", "size": [1, len(values)], "data": values}


def hv_text(text):
    return {"class": "uint8", "size": [1, len(text)], "data": text}


def dumps(value):
    return json.dumps(value, separators=(", ", ": "))


def field_index(record, name):
    return record["fields"].index(name)


def get(record, name):
    return record["data"][0][field_index(record, name)]


def put(record, name, value):
    record["data"][0][field_index(record, name)] = value


def variable_field(var_struct, element, name):
    return var_struct["data"][element][var_struct["fields"].index(name)]


def set_variable_field(var_struct, element, name, value):
    var_struct["data"][element][var_struct["fields"].index(name)] = value


with open(os.path.join(EXAMPLES, "dimmer", "dimmer.record.json")) as f:
    DIMMER = json.load(f)
with open(os.path.join(EXAMPLES, "sugeno", "brake.record.json")) as f:
    BRAKE = json.load(f)


def record_file(name, base, change):
    r = copy.deepcopy(base)
    change(r)
    return write(name + ".record.json", dumps(r))


DIMMER_ROWS = write("dimmer_rows.csv", "daylight,motion\n30,0.9\n70,0.2\n")
BRAKE_ROWS = write("brake_rows.csv", "speed,gap\n60,40\n")

# ---- Descriptions.

SMALL = {
    "name": "small", "type": "mamdani", "numSamples": 11,
    "inputs": [{"name": "t", "range": [0, 10], "mf": [
        {"name": "low", "type": "trimf", "params": [0, 0, 5]},
        {"name": "high", "type": "trimf", "params": [5, 10, 10]}]}],
    "outputs": [{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "trimf", "params": [0, 0, 1]},
        {"name": "on", "type": "trimf", "params": [0, 1, 1]}]}],
    "rules": ["if t is low then u is off", "if t is high then u is on"],
}
SMALL_TEXT = json.dumps(SMALL)
SMALL_PATH = write("small.json", SMALL_TEXT)
T_ROWS = write("t_rows.csv", "t\n2\n8\n")


def described(name, change):
    d = copy.deepcopy(SMALL)
    change(d)
    return write(name + ".json", json.dumps(d))


# ---- Malformed JSON descriptions: one line naming the parse error.

malformed_descriptions = {
    "truncated": SMALL_TEXT[: len(SMALL_TEXT) // 2],
    "trailing_garbage": SMALL_TEXT + " xyz",
    "second_value": SMALL_TEXT + " {}",
    "bad_escape": SMALL_TEXT.replace('"small"', '"sm\\qall"'),
    "bad_unicode_escape": SMALL_TEXT.replace('"small"', '"\\u12G4"'),
    "lone_surrogate": SMALL_TEXT.replace('"small"', '"\\uD800"'),
    "raw_newline_in_string": SMALL_TEXT.replace('"small"', '"sm\nall"'),
    "unterminated_string": '{"name": "abc',
    "single_quotes": SMALL_TEXT.replace('"small"', "'small'"),
    "trailing_comma": SMALL_TEXT[:-1] + ", }",
    "comment": "// a system\n" + SMALL_TEXT,
    "nan_literal": SMALL_TEXT.replace('"range": [0, 10]', '"range": [NaN, 10]'),
    "empty_file": "",
    "blank_file": " \n\t\n",
    "deep_nesting_unclosed": "[" * 100000,
}
# Nesting 100000 deep parses (without recursion) and is refused by its path.
cli(["eval", write("desc_deep_nesting.json", '{"name": ' + "[" * 100000 + "]" * 100000 + "}"), "-"], 1,
    "name: expected a string")
for name, text in malformed_descriptions.items():
    cli(["eval", write("desc_" + name + ".json", text), "-"], 1, "fazolt:description:Malformed")
cli(["eval", write("desc_invalid_utf8.json", SMALL_TEXT.encode().replace(b'"small"', b'"sm\xffall"')), "-"], 1,
    "fazolt:description:Malformed")
# A parse error quotes what it read, with a byte that is not UTF-8 escaped.
cli(["eval", write("desc_invalid_utf8_escaped.json", SMALL_TEXT.encode().replace(b'"small"', b'"sm\xff')[:20]),
     "-"], 1, "\\xFF")
cli(["eval", write("desc_huge_number.json", SMALL_TEXT.replace('"range": [0, 10]', '"range": [0, 1e400]')), "-"], 1,
    "malformed JSON: number overflow parsing '1e400'")

# Not an object, or wrong classes of members.
for name, text in [("top_array", "[]"), ("top_number", "42"), ("top_string", '"mamdani"'), ("top_null", "null")]:
    cli(["eval", write("desc_" + name + ".json", text), "-"], 1, "fazolt:description:")

wrong_members = [
    ("type_number", lambda d: d.update(type=1), "type"),
    ("name_number", lambda d: d.update(name=5), "name"),
    ("inputs_object", lambda d: d.update(inputs={"t": 1}), "inputs"),
    ("input_string", lambda d: d.update(inputs=["t"]), "inputs[0]"),
    ("range_string", lambda d: d["inputs"][0].update(range="0 10"), "inputs[0].range"),
    ("range_three", lambda d: d["inputs"][0].update(range=[0, 5, 10]), "inputs[0].range"),
    ("range_null", lambda d: d["inputs"][0].update(range=None), "inputs[0].range"),
    ("mf_number", lambda d: d["inputs"][0].update(mf=3), "inputs[0].mf"),
    ("mf_type_array", lambda d: d["inputs"][0]["mf"][0].update(type=["trimf"]), "inputs[0].mf[0].type"),
    ("params_object", lambda d: d["inputs"][0]["mf"][0].update(params={"a": 1}), "inputs[0].mf[0].params"),
    ("params_strings", lambda d: d["inputs"][0]["mf"][0].update(params=["0", "0", "5"]), "inputs[0].mf[0].params"),
    ("params_too_few", lambda d: d["outputs"][0]["mf"][1].update(params=[0, 1]), "outputs[0].mf[1].params"),
    ("params_too_many", lambda d: d["outputs"][0]["mf"][1].update(params=[0, 1, 1, 2]), "outputs[0].mf[1].params"),
    ("rules_object", lambda d: d.update(rules={"r": "if t is low then u is off"}), "rules"),
    ("rule_number", lambda d: d.update(rules=[7]), "rules[0]"),
    ("numsamples_string", lambda d: d.update(numSamples="11"), "numSamples"),
    ("numsamples_fraction", lambda d: d.update(numSamples=10.5), "numSamples"),
    ("numsamples_huge", lambda d: d.update(numSamples=1e300), "numSamples"),
    ("numsamples_declared_huge", lambda d: d.update(numSamples=2147483647), "numSamples"),
    ("numsamples_one", lambda d: d.update(numSamples=1), "numSamples"),
    ("numsamples_negative", lambda d: d.update(numSamples=-5), "numSamples"),
    ("missing_type", lambda d: d.pop("type"), "type"),
    ("missing_inputs", lambda d: d.pop("inputs"), "inputs"),
    ("missing_outputs", lambda d: d.pop("outputs"), "outputs"),
    ("missing_range", lambda d: d["inputs"][0].pop("range"), 'inputs[0]: missing "range"'),
    ("missing_params", lambda d: d["inputs"][0]["mf"][0].pop("params"), 'inputs[0].mf[0]: missing "params"'),
    ("and_method_number", lambda d: d.update(andMethod=1), "andMethod"),
    ("defuzz_method_null", lambda d: d.update(defuzzMethod=None), "defuzzMethod"),
    # Rules: inconsistent counts and indices out of range.
    ("rule_unknown_input", lambda d: d.update(rules=["if s is low then u is off"]), "rules[0]"),
    ("rule_unknown_term_case", lambda d: d.update(rules=["if t is LOW then u is off"]),
     'rules[0]: unknown term "LOW" of input "t"; did you mean "low"?'),
    ("rule_and_or", lambda d: d.update(rules=["if t is low and t is high or t is low then u is off"]), "rules[0]"),
    ("rule_no_then", lambda d: d.update(rules=["if t is low"]), "rules[0]"),
    ("rule_empty_text", lambda d: d.update(rules=[""]), "rules[0]"),
    ("rule_weight_text", lambda d: d.update(rules=["if t is low then u is off with heavy"]), "rules[0]"),
    ("numeric_rule_short", lambda d: d.update(rules=[{"antecedent": [], "consequent": [1]}]), "rules[0].antecedent"),
    ("numeric_rule_long", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1, 1]}]), "rules[0].consequent"),
    ("numeric_rule_index_3", lambda d: d.update(rules=[{"antecedent": [3], "consequent": [1]}]), "rules[0].antecedent[0]"),
    ("numeric_rule_index_1e300", lambda d: d.update(rules=[{"antecedent": [1e300], "consequent": [1]}]), "rules[0].antecedent[0]"),
    ("numeric_rule_index_neg_1e300", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [-1e300]}]), "rules[0].consequent[0]"),
    ("numeric_rule_index_string", lambda d: d.update(rules=[{"antecedent": ["NaN"], "consequent": [1]}]), "rules[0].antecedent"),
    ("numeric_rule_weight_string", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1], "weight": "1"}]), "rules[0].weight"),
    ("numeric_rule_missing_consequent", lambda d: d.update(rules=[{"antecedent": [1]}]), 'rules[0]: missing "consequent"'),
    ("sugeno_linear_short", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "linear", "params": [1]}, {"name": "on", "type": "constant", "params": [1]}]}]),
     "outputs[0].mf[0].params"),
    ("sugeno_constant_long", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "constant", "params": [1, 2]}, {"name": "on", "type": "constant", "params": [1]}]}]),
     "outputs[0].mf[0].params"),
    # The type and the Sugeno output terms take their names only.
    ("type_capitalised", lambda d: d.update(type="Mamdani"), 'type: expected "mamdani" or "sugeno", got "Mamdani"'),
    ("sugeno_term_banana", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "banana", "params": [1, 2]}]}], rules=[]),
     'outputs[0].mf[0].type: a Sugeno output term is "constant" or "linear", got "banana"'),
    # Weights: a finite number from 0 to 1.
    ("weight_text_nan", lambda d: d.update(rules=["if t is low then u is off with nan"]), "rules[0]: the weight must be"),
    ("weight_text_inf", lambda d: d.update(rules=["if t is low then u is off with Inf"]), "rules[0]: the weight must be"),
    ("weight_text_negative", lambda d: d.update(rules=["if t is low then u is off with -0.5"]), "got -0.5"),
    ("weight_numeric_2", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1], "weight": 2}]),
     "rules[0].weight: the weight must be a number from 0 to 1, got 2"),
    ("weight_numeric_huge", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1], "weight": -1e308}]),
     "rules[0].weight"),
    # Names: one of a kind within the inputs, the outputs and a variable's terms.
    ("duplicate_input", lambda d: d["inputs"].append(copy.deepcopy(d["inputs"][0])),
     'inputs[1]: duplicate input name "t" (also inputs[0])'),
    ("duplicate_output", lambda d: d["outputs"].append(copy.deepcopy(d["outputs"][0])),
     'outputs[1]: duplicate output name "u"'),
    ("duplicate_term", lambda d: d["inputs"][0]["mf"][1].update(name="low"),
     'inputs[0].mf[1]: duplicate term name "low" (also inputs[0].mf[0])'),
    ("duplicate_default_name", lambda d: d.update(inputs=[{"name": "input2", "range": [0, 1]}, {"range": [0, 1]}],
                                                  rules=[]), 'inputs[1]: duplicate input name "input2"'),
    # Ranges: low below high, a finite width.
    ("range_inverted", lambda d: d["inputs"][0].update(range=[10, 0]),
     "inputs[0].range: the low end must be below the high end, got [10, 0]"),
    ("range_empty", lambda d: d["outputs"][0].update(range=[1, 1]), "outputs[0].range: the low end"),
    ("range_width_overflows", lambda d: d["outputs"][0].update(range=[-1e308, 1e308]),
     "outputs[0].range: the width high - low is beyond the double range"),
    # Sums over the sample points or the rules that could pass the double range.
    ("range_sums_overflow", lambda d: d["outputs"][0].update(range=[0, 2e307]),
     "outputs[0].range: [0, 2e+307] can overflow the sums over 11 sample points; the largest safe magnitude is 3.8e297"),
    ("range_sums_overflow_both_signs", lambda d: d["outputs"][0].update(range=[-5e307, 5e307]),
     "outputs[0].range: [-5e+307, 5e+307] can overflow the sums over 11 sample points"),
    ("sugeno_linear_coefficient_huge", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "linear", "params": [1e308, 0]}, {"name": "on", "type": "constant", "params": [1]}]}]),
     "outputs[0].mf[0].params: the output level goes beyond the double range for inputs within their ranges"),
    # The Sugeno methods on a Mamdani set give 0 or the low end whatever the rules.
    ("defuzz_wtaver_mamdani", lambda d: d.update(defuzzMethod="wtaver"),
     'defuzzMethod: "wtaver" is a Sugeno method: a Mamdani output would be 0 for almost every row'),
    ("defuzz_wtsum_mamdani", lambda d: d.update(defuzzMethod="wtsum"), 'use "centroid"'),
    # Unknown keys, with the key meant when one is close.
    ("key_andmethod", lambda d: d.update(andmethod="prod"), 'andmethod: unknown key; did you mean "andMethod"?'),
    ("key_num_samples", lambda d: d.update(num_samples=11), 'num_samples: unknown key; did you mean "numSamples"?'),
    ("key_comment", lambda d: d.update(comment="kept for people"), "comment: unknown key; expected one of name, type"),
    ("key_in_variable", lambda d: d["inputs"][0].update(ranges=[0, 1]), 'inputs[0].ranges: unknown key; did you mean "range"?'),
    ("key_in_term", lambda d: d["outputs"][0]["mf"][0].update(param=[0, 1]),
     'outputs[0].mf[0].param: unknown key; did you mean "params"?'),
    ("key_in_rule", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1], "weigth": 0.5}]),
     'rules[0].weigth: unknown key; did you mean "weight"?'),
    # Methods and membership functions: built in, or a host function the host knows.
    ("defuzz_capitalised", lambda d: d.update(defuzzMethod="Centroid"),
     'defuzzMethod: unknown defuzzification method "Centroid"; did you mean "centroid"? (built in: centroid, bisector'),
    ("imp_sum", lambda d: d.update(impMethod="sum"), 'impMethod: "sum" is not an implication method (built in: min, prod'),
    ("defuzz_prod", lambda d: d.update(defuzzMethod="prod"), 'defuzzMethod: "prod" is not a defuzzification method'),
    ("agg_centroid", lambda d: d.update(aggMethod="centroid"), 'aggMethod: unknown aggregation method "centroid"'),
    ("term_type_typo", lambda d: d["inputs"][0]["mf"][0].update(type="trimff"),
     'inputs[0].mf[0].type: unknown membership function "trimff"; did you mean "trimf"?'),
    ("output_term_constant", lambda d: d["outputs"][0]["mf"][0].update(type="constant", params=[1]),
     'outputs[0].mf[0].type: unknown membership function "constant"'),
    # A Sugeno output is not negated.
    ("sugeno_not_consequent", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "constant", "params": [0]}, {"name": "on", "type": "constant", "params": [1]}]}],
        rules=["if t is low then u is not on"]), 'rules[0]: a Sugeno rule cannot negate its output "u"'),
    ("sugeno_negative_consequent", lambda d: d.update(type="sugeno", outputs=[{"name": "u", "range": [0, 1], "mf": [
        {"name": "off", "type": "constant", "params": [0]}, {"name": "on", "type": "constant", "params": [1]}]}],
        rules=[{"antecedent": [1], "consequent": [-2]}]), "rules[0].consequent[0]: a Sugeno rule cannot negate"),
]
for name, change, path in wrong_members:
    cli(["eval", described("desc_" + name, change), T_ROWS], 1, path)

# Extra and reordered members, and the other valid-but-unusual descriptions.
unusual_descriptions = [
    ("keys_reordered", lambda d: (d.clear(), d.update(json.loads(json.dumps(dict(reversed(list(SMALL.items()))))))), "ok"),
    ("names_differ_in_case", lambda d: d["inputs"].append({"name": "T", "range": [0, 1], "mf": [
        {"name": "low", "type": "trimf", "params": [0, 0, 1]}]}), "ok"),
    ("empty_names", lambda d: (d.update(name=""), d["inputs"][0].update(name=""), d["outputs"][0].update(name=""),
                               d.update(rules=[{"antecedent": [1], "consequent": [1]}])), "ok"),
    # A numeric rule's index 1.5 is rounded as the record's would be; any
    # connection but 1 is "or".
    ("numeric_rule_fraction", lambda d: d.update(rules=[{"antecedent": [1.5], "consequent": [1]}]), "ok"),
    ("numeric_rule_connection_1_5", lambda d: d.update(rules=[{"antecedent": [1], "consequent": [1], "connection": 1.5}]), "ok"),
]
for name, change, expect in unusual_descriptions:
    # Without a header the columns are the inputs in order, whatever their names.
    rows = T_ROWS if name not in ("names_differ_in_case", "empty_names") else write("tT_rows.csv", "2,0.5\n")
    if name == "empty_names":
        rows = write("t_rows_no_header.csv", "2\n8\n")
    cli(["eval", described("desc_" + name, change), rows, "--on-out-of-range", "none"], 0, expect)

# ---- Empty systems.
cli(["eval", described("desc_no_rules", lambda d: d.update(rules=[])), T_ROWS, "--on-no-rule-fired", "none"], 0,
    "=u\\n0.5\\n0.5\\n")
cli(["eval", described("desc_no_rules", lambda d: d.update(rules=[])), T_ROWS, "--on-no-rule-fired", "error"], 1,
    "errFazolt_NoRuleFired")
cli(["eval", described("desc_no_rules_key", lambda d: d.pop("rules")), T_ROWS, "--on-no-rule-fired", "none"], 0,
    "=u\\n0.5\\n0.5\\n")
cli(["eval", described("desc_no_inputs", lambda d: (d.update(inputs=[]), d.update(rules=[]))),
     write("zero_columns.csv", ""), "--on-no-rule-fired", "none"], 0, "=u\\n")
cli(["eval", described("desc_no_outputs", lambda d: (d.update(outputs=[]), d.update(rules=[]))), T_ROWS], 0,
    "=\\n\\n\\n")
cli(["eval", described("desc_no_mf", lambda d: (d["inputs"][0].update(mf=[]), d.update(rules=[]))), T_ROWS,
     "--on-no-rule-fired", "none"], 0, "=u\\n0.5\\n0.5\\n")
cli(["eval", described("desc_rule_tests_nothing", lambda d: d.update(
    rules=[{"antecedent": [0], "consequent": [2]}])), T_ROWS], 0, "ok")
cli(["eval", SMALL_PATH, write("header_only.csv", "t\n")], 0, "=u\\n")
cli(["eval", SMALL_PATH, write("empty.csv", "")], 0, "=u\\n")

# ---- Malformed CSV.
bad_csv = [
    ("ragged_long", "t\n1\n2,3\n", ":3:"),
    ("ragged_short", "1,2\n3\n", ":1:"),
    ("text_in_middle", "t\n1\nabc\n3\n", ":3: column 1"),
    ("text_after_number", "t\n1\n2abc\n", ":3: column 1"),
    ("number_1e400", "t\n1e400\n", ":2: column 1"),
    ("hex_number", "t\n0x1p3\n", ":2: column 1"),
    ("quoted_number", 't\n"1"\n', "ok"),
    ("quote_not_closed", 't\n"1\n', ':2: field 1: a quote is not closed'),
    ("text_after_quote", 't\n"1"x\n', ":2: field 1: text after the closing quote"),
    # A first line with a number in it is a row, whose bad field is an error.
    ("first_line_letter_o", "5,30,1O\n", ":1:"),
    ("first_line_1e999", "1e999\n", ":1: column 1: expected a number, got \"1e999\" (outside the double range)"),
    ("first_line_empty_field", "1,,\n", ":1:"),
    ("semicolon_header", "t;v\n1;2\n", ':1: no column "t" for input 1 (the header has t;v) (the line holds \';\': --delimiter \';\'?)'),
    ("header_names_t_twice", "t,t\n1,2\n", ':1: the header names column "t" twice (columns 1 and 2)'),
    ("header_lacks_input", "x,y\n1,2\n", ':1: no column "t" for input 1 (the header has x, y)'),
    ("semicolons", "t\n1;2\n", ":2: column 1: expected a number, got \"1;2\" (the line holds ';': --delimiter ';'?)"),
    ("blank_line_between", "t\n1\n\n2\n", ":3: blank line"),
    ("empty_field", "t\n\n", "ok"),
    ("nul_byte", "t\n1\x002\n", ":2: column 1"),
    ("only_comma", "t\n,\n", ":2:"),
    ("comma_trailing", "t\n1,\n", ":2:"),
    ("bom_crlf", "\ufefft\r\n1\r\n9\r\n", "=u\\n0.3153846153846153\\n0.6846153846153846\\n"),
    ("bom_only", "\ufeff", "=u\\n"),
    ("cr_only_lines", "t\r1\r2\r", ":1:"),
    ("nan_and_inf", "t\nNaN\ninf\n-Inf\n", "ok"),
    ("no_final_newline", "t\n2", "ok"),
]
for name, text, expect in bad_csv:
    args = ["eval", SMALL_PATH, write("csv_" + name + ".csv", text), "--on-out-of-range", "none",
            "--on-no-rule-fired", "none"]
    if expect == "ok" or expect.startswith("="):
        cli(args, 0, expect)
    else:
        cli(args, 1, "fazolt:csv:")
        cases[-1] = cases[-1][:3] + ("csv_" + name + ".csv" + expect,)
cli(["eval", SMALL_PATH, "<" + write("csv_stdin_text.csv", "t\nx\n")], 1, "<stdin>:2: column 1")
# A line is read up to --max-line-bytes (its line end not counted).
LONG_LINE = write("csv_long_line.csv", "t\n2\n" + " " * 100 + "8\r\n")
cli(["eval", SMALL_PATH, LONG_LINE, "--max-line-bytes", "100"], 1,
    "csv_long_line.csv:3: the line is longer than 100 bytes (--max-line-bytes raises the limit)")
cli(["eval", SMALL_PATH, LONG_LINE, "--max-line-bytes", "101"], 0, "=u\\n0.34444444444444444\\n0.6555555555555557\\n")

# ---- Malformed host-value JSON: raw records and inputs.
DIMMER_TEXT = dumps(DIMMER)
malformed_host_values = {
    # Not JSON at all: the file is read as a description, whose parser names the place.
    "truncated": (DIMMER_TEXT[: len(DIMMER_TEXT) // 3], "malformed JSON: parse error at line 1, column 1467"),
    "trailing_garbage": (DIMMER_TEXT + " ]", "malformed JSON: parse error at line 1, column"),
    "nan_literal": (DIMMER_TEXT.replace('"data": [0, 0, 100, 1]', '"data": [0, NaN, 0, 1]', 1), "malformed JSON"),
    "huge_number": (DIMMER_TEXT.replace('"data": [0, 0, 100, 1]', '"data": [0, 1e400, 0, 1]', 1), "1e400"),
    "bad_escape": (DIMMER_TEXT.replace('"data": "mamdani"', '"data": "mam\\xdani"', 1), "malformed JSON"),
    "unknown_class": (DIMMER_TEXT.replace('"class": "double"', '"class": "float"', 1), "float"),
    "unknown_key": (DIMMER_TEXT.replace('"class": "struct"', '"class": "struct", "note": 1', 1), "note"),
    "size_data_mismatch": (DIMMER_TEXT.replace('"size": [2, 2], "data": [0, 0, 100, 1]',
                                               '"size": [2, 3], "data": [0, 0, 100, 1]', 1), "data"),
    "negative_size": (DIMMER_TEXT.replace('"size": [2, 2], "data": [0, 0, 100, 1]',
                                          '"size": [-2, -2], "data": [0, 0, 100, 1]', 1), "size"),
    "fraction_size": (DIMMER_TEXT.replace('"size": [2, 2], "data": [0, 0, 100, 1]',
                                          '"size": [2, 2.5], "data": [0, 0, 100, 1]', 1), "size"),
    "huge_declared_size": (DIMMER_TEXT.replace('"size": [2, 2], "data": [0, 0, 100, 1]',
                                                '"size": [100000, 100000], "data": [0, 0, 100, 1]', 1), "size"),
    "huge_declared_size_2_31": (DIMMER_TEXT.replace('"size": [2, 2], "data": [0, 0, 100, 1]',
                                                     '"size": [2147483648, 1], "data": []', 1), "size"),
    "struct_fields_mismatch": (DIMMER_TEXT.replace('"fields": ["mf", "origNumMF"]', '"fields": ["mf"]', 1), "Orvane:json"),
    "deep_nesting": ('{"class": "struct", "size": [1, 1], "fields": ["a"], "data": [[' * 1000 + "]]}" * 1000,
                     "Orvane:json"),
}
for name, (text, expect) in malformed_host_values.items():
    cli(["eval", write("hv_" + name + ".record.json", text), DIMMER_ROWS], 1, expect)
for name, text, expect in [
    ("inputs_truncated", '{"class": "double", "size": [1, 2], "data": [30, ', "Orvane:json"),
    ("inputs_huge_declared", '{"class": "double", "size": [1000000000, 2], "data": []}', "size"),
    ("inputs_complex_text", '{"class": "double", "size": [1, 2], "data": [30, 0.5], "imag": "x"}', "imag"),
]:
    cli(["eval", write("dimmer_ok.record.json", DIMMER_TEXT), write(name + ".json", text)], 1, expect)

# ---- Raw records: wrong classes, extents, missing, extra and reordered fields.
WRONG_CLASS = {
    "uint8": hv_double(1, 3, [1, 2, 3]),
    "double": hv_text("abc"),
    "int32": hv_double(1, 1, [2]),
    "struct": hv_double(1, 1, [0]),
}
for k, name in enumerate(DIMMER["fields"]):
    cls = get(DIMMER, name)["class"]
    cli(["eval", record_file("class_" + name, DIMMER, lambda r, n=name, c=cls: put(r, n, WRONG_CLASS[c])),
         DIMMER_ROWS], 1, "fis." + name)

WRONG_EXTENT = {
    "type": {"class": "uint8", "size": [7, 1], "data": "mamdani"},
    "inputRange": hv_double(2, 3, [0, 0, 100, 1, 5, 5]),
    "outputRange": hv_double(1, 1, [0]),
    "antecedent": {"class": "double", "size": [4, 2, 1, 2], "data": [0] * 16},
    "connection": hv_double(2, 2, [1, 1, 1, 1]),
    "numSamples": hv_int32([101, 101]),
    "numInputMFs": {"class": "int32", "size": [2, 1], "data": [3, 2]},
    "orrSize": hv_int32([101, 4, 1]),
    "aggSize": hv_int32([101]),
}
for name, value in WRONG_EXTENT.items():
    cli(["eval", record_file("extent_" + name, DIMMER, lambda r, n=name, v=value: put(r, n, v)), DIMMER_ROWS], 1,
        "fis." + name)


def drop_field(r, name):
    k = field_index(r, name)
    r["fields"].pop(k)
    r["data"][0].pop(k)


def swap_fields(r, a, b):
    i, j = field_index(r, a), field_index(r, b)
    r["fields"][i], r["fields"][j] = r["fields"][j], r["fields"][i]
    r["data"][0][i], r["data"][0][j] = r["data"][0][j], r["data"][0][i]


for name in ["type", "inputMF", "numRules", "aggSize"]:
    cli(["eval", record_file("missing_" + name, DIMMER, lambda r, n=name: drop_field(r, n)), DIMMER_ROWS], 1, "fis")
cli(["eval", record_file("extra_field", DIMMER, lambda r: (r["fields"].append("extra"),
                                                             r["data"][0].append(hv_double(1, 1, [0])))),
     DIMMER_ROWS], 1, "fis")
cli(["eval", record_file("swapped_fields", DIMMER, lambda r: swap_fields(r, "numInputs", "numOutputs")), DIMMER_ROWS],
    1, "fis")
cli(["eval", record_file("two_elements", DIMMER, lambda r: (r.update(size=[1, 2]), r["data"].append(r["data"][0]))),
     DIMMER_ROWS], 1, "fis")
cli(["eval", write("not_struct.record.json", dumps(hv_double(1, 1, [0]))), DIMMER_ROWS], 1, "fis")
cli(["eval", record_file("mf_missing_field", DIMMER, lambda r: (
    get(r, "inputMF")["data"][0][0]["fields"].pop(), [e.pop() for e in get(r, "inputMF")["data"][0][0]["data"]])),
    DIMMER_ROWS], 1, "fis.inputMF.mf")
cli(["eval", record_file("mf_params_int32", DIMMER, lambda r: get(r, "inputMF")["data"][0][0]["data"][0].__setitem__(
    2, hv_int32([0, 0, 20, 40]))), DIMMER_ROWS], 1, "fis.inputMF.mf.params")


# ---- Raw records: broken relations (inconsistent counts, indices, sizes).

def set_entry(r, name, k, v):
    get(r, name)["data"][k] = v


def set_mf_field(r, field, v, j, name, value):
    mfs = variable_field(get(r, field), v, "mf")
    mfs["data"][j][mfs["fields"].index(name)] = value


INF = "Inf"
relations = [
    ("num_inputs_3", lambda r: put(r, "numInputs", hv_int32([3])), "numInputs = 3"),
    ("num_inputs_negative", lambda r: put(r, "numInputs", hv_int32([-1])), "fis.numInputs is -1"),
    ("num_outputs_2", lambda r: put(r, "numOutputs", hv_int32([2])), "fis.outputRange has 1 rows"),
    ("num_rules_5", lambda r: put(r, "numRules", hv_int32([5])), "fis.connection has 4 entries"),
    ("num_rules_huge", lambda r: put(r, "numRules", hv_int32([2147483647])), "more than 2^31-1"),
    ("num_samples_0", lambda r: put(r, "numSamples", hv_int32([0])), "fis.numSamples is 0"),
    ("num_samples_huge", lambda r: put(r, "numSamples", hv_int32([2147483647])), "fis.outputSamplePoints has 101 columns"),
    ("num_cum_not_running_sum", lambda r: put(r, "numCumInputMFs", hv_int32([0, 2])), "fis.numCumInputMFs(2)"),
    ("num_input_mfs_beyond", lambda r: (put(r, "numInputMFs", hv_int32([4, 2])), put(r, "numCumInputMFs", hv_int32([0, 4]))),
     "fis.numInputMFs(1) is 4"),
    ("num_output_mfs_negative", lambda r: put(r, "numOutputMFs", hv_int32([-3])), "fis.numOutputMFs(1)"),
    ("orig_num_mf_beyond", lambda r: set_variable_field(get(r, "inputMF"), 0, "origNumMF", hv_int32([9])),
     "fis.inputMF(1).origNumMF"),
    ("orig_type_length_beyond", lambda r: set_mf_field(r, "inputMF", 0, 0, "origTypeLength", hv_int32([40])),
     "fis.inputMF(1).mf(1).origTypeLength"),
    ("orig_param_length_beyond", lambda r: set_mf_field(r, "outputMF", 0, 2, "origParamLength", hv_int32([5])),
     "fis.outputMF(1).mf(3).origParamLength"),
    ("params_shorter_than_read", lambda r: (set_mf_field(r, "inputMF", 1, 0, "params", hv_double(1, 1, [0.1])),
                                            set_mf_field(r, "inputMF", 1, 0, "origParamLength", hv_int32([1]))),
     "fis.inputMF(2).mf(1).params"),
    ("antecedent_4_of_3", lambda r: set_entry(r, "antecedent", 1, 4), "fis.antecedent(2, 1)"),
    ("antecedent_inf", lambda r: set_entry(r, "antecedent", 1, INF), "fis.antecedent(2, 1)"),
    ("antecedent_minus_inf", lambda r: set_entry(r, "antecedent", 5, "-Inf"), "fis.antecedent(2, 2)"),
    ("antecedent_1e300", lambda r: set_entry(r, "antecedent", 0, 1e300), "fis.antecedent(1, 1)"),
    ("antecedent_3_5", lambda r: set_entry(r, "antecedent", 0, 3.5), "fis.antecedent(1, 1)"),
    ("consequent_4_of_3", lambda r: set_entry(r, "consequent", 0, -4), "fis.consequent(1, 1)"),
    ("consequent_nan_rows_short", lambda r: put(r, "consequent", hv_double(3, 1, [1, 2, 3])), "fis.consequent has 3 rows"),
    ("antecedent_one_column", lambda r: put(r, "antecedent", hv_double(4, 1, [1, 2, 3, 0])), "fis.antecedent has 1 columns"),
    ("weight_short", lambda r: put(r, "weight", hv_double(2, 1, [1, 1])), "fis.weight has 2 entries"),
    ("orr_size_small", lambda r: put(r, "orrSize", hv_int32([101, 3])), "fis.orrSize"),
    ("orr_size_huge", lambda r: put(r, "orrSize", hv_int32([2147483647, 2147483647])), "fis.orrSize"),
    ("agg_size_rows", lambda r: put(r, "aggSize", hv_int32([100, 1])), "fis.aggSize"),
    ("agg_size_negative", lambda r: put(r, "aggSize", hv_int32([101, -1])), "fis.aggSize"),
    ("sample_points_short", lambda r: put(r, "outputSamplePoints", hv_double(1, 2, [0, 100])), "fis.outputSamplePoints"),
    ("sample_points_no_rows", lambda r: put(r, "outputSamplePoints", hv_double(0, 101, [])), "fis.outputSamplePoints"),
    ("input_range_one_row", lambda r: put(r, "inputRange", hv_double(1, 2, [0, 100])), "fis.inputRange"),
]
for name, change, expect in relations:
    if name == "num_inputs_3":
        expect = "its 3 inputs are taken by position"  # the CSV reader takes the record's count
    cli(["eval", record_file("rel_" + name, DIMMER, change), DIMMER_ROWS], 1, expect)
cli(["eval", write("dimmer_ok.record.json", DIMMER_TEXT), write("three_columns.csv", "1,2,3\n")], 1, ":1:")
# numInputs of another class, read by the tool before the module refuses it: not a count to trust.
for name, value in [("nan", "NaN"), ("inf", "Inf"), ("3e9", 3e9), ("fraction", 1.5)]:
    cli(["eval", record_file("num_inputs_double_" + name, DIMMER, lambda r, v=value: put(r, "numInputs", hv_double(1, 1, [v]))),
         write("two_columns.csv", "1,2\n")], 1, "fis.numInputs")
cli(["eval", write("dimmer_ok.record.json", DIMMER_TEXT),
     write("inputs_3_columns.json", dumps(hv_double(1, 3, [1, 2, 3])))], 1,
    "files/inputs_3_columns.json: the data has 3 columns, the system 2 inputs")

sugeno_relations = [
    ("consequent_negative", lambda r: set_entry(r, "consequent", 0, -1), "fis.consequent(1, 1)"),
    ("consequent_minus_inf", lambda r: set_entry(r, "consequent", 0, "-Inf"), "fis.consequent(1, 1)"),
    ("linear_params_short", lambda r: (set_mf_field(r, "outputMF", 0, 1, "params", hv_double(1, 2, [1, 2])),
                                       set_mf_field(r, "outputMF", 0, 1, "origParamLength", hv_int32([2]))),
     "fis.outputMF(1).mf(2).params"),
    ("agg_size_empty", lambda r: put(r, "aggSize", hv_int32([0, 0])), "fis.aggSize"),
]
for name, change, expect in sugeno_relations:
    cli(["eval", record_file("sug_" + name, BRAKE, change), BRAKE_ROWS], 1, expect)

# Inside the relations: unusual records that evaluate.
unusual_records = [
    ("antecedent_nan", lambda r: set_entry(r, "antecedent", 0, "NaN")),
    ("antecedent_1_4", lambda r: set_entry(r, "antecedent", 1, 1.4)),
    ("connection_1_5", lambda r: set_entry(r, "connection", 1, 1.5)),
    ("weight_nan", lambda r: set_entry(r, "weight", 0, "NaN")),
    ("orr_size_larger", lambda r: put(r, "orrSize", hv_int32([150, 9]))),
    ("num_rules_0", lambda r: put(r, "numRules", hv_int32([0]))),
    ("orig_type_negative", lambda r: set_mf_field(r, "outputMF", 0, 0, "origTypeLength", hv_int32([-1]))),
]
for name, change in unusual_records:
    expect = "ok"
    status = 0
    if name == "orig_type_negative":
        status, expect = 1, "Orvane:UndefinedFunction"
    cli(["eval", record_file("ok_" + name, DIMMER, change), DIMMER_ROWS, "--on-no-rule-fired", "none"], status, expect)


def one_sample(r, method):
    put(r, "defuzzMethod", hv_text(method))
    put(r, "numSamples", hv_int32([1]))
    put(r, "outputSamplePoints", hv_double(1, 1, [50]))
    put(r, "orrSize", hv_int32([1, 4]))
    put(r, "aggSize", hv_int32([1, 1]))


# Sizes at their edges, all six results asked for: one sample point under
# each defuzzification, intermediate sizes larger than needed.
for method in ["centroid", "bisector", "mom", "som", "lom"]:
    cli(["eval", record_file("ok_one_sample_" + method, DIMMER, lambda r, m=method: one_sample(r, m)), DIMMER_ROWS,
         "--format", "json", "--on-empty-set", "none"], 0, "ok")
cli(["eval", record_file("ok_sizes_larger", DIMMER, lambda r: (put(r, "orrSize", hv_int32([300, 7])),
                                                               put(r, "aggSize", hv_int32([101, 3])))),
     DIMMER_ROWS, "--format", "json"], 0, "ok")
cli(["eval", record_file("ok_sug_sizes_larger", BRAKE, lambda r: (put(r, "orrSize", hv_int32([9, 4])),
                                                                  put(r, "aggSize", hv_int32([3, 3])))),
     BRAKE_ROWS, "--format", "json", "--on-out-of-range", "none"], 0, "ok")
cli(["eval", record_file("ok_sug_no_rules", BRAKE, lambda r: put(r, "numRules", hv_int32([0]))), BRAKE_ROWS,
     "--format", "json", "--on-no-rule-fired", "none"], 0, "ok")
cli(["eval", record_file("ok_consequent_nan", DIMMER, lambda r: set_entry(r, "consequent", 0, "NaN")), DIMMER_ROWS,
     "--format", "json"], 0, "ok")
cli(["eval", write("dimmer_ok.record.json", DIMMER_TEXT), write("nan_inputs.csv", "NaN,NaN\n"),
     "--on-no-rule-fired", "none"], 0, "=13.489795918367347\\n")
cli(["eval", write("dimmer_ok.record.json", DIMMER_TEXT), write("inputs_0x7.json", dumps(hv_double(0, 7, [])))], 0, "=")

def two_inputs():
    d = copy.deepcopy(SMALL)
    d["inputs"].append({"name": "v", "range": [0, 10], "mf": [{"name": "any", "type": "trimf", "params": [0, 5, 10]}]})
    d["rules"] = ["if t is low or v is any then u is off", "if t is high and v is any then u is on"]
    return d


TV_ROWS = write("tv_rows.csv", "t,v\n2,4\n8,6\n")
TV_INPUTS = write("tv_inputs.json", dumps(hv_double(2, 2, [2, 8, 4, 6])))

# ---- Misbehaving host functions, reachable from the command line by the
# host's own function names.
for key in ["andMethod", "orMethod", "impMethod", "aggMethod", "defuzzMethod"]:
    for fn, expect in [("throwError", ""), ("sprintf", ""),
                       ("noSuchFunction", "fn_%s_noSuchFunction.json: %s: unknown" % (key, key))]:
        d = two_inputs()
        d[key] = fn
        cli(["eval", write("fn_%s_%s.json" % (key, fn), json.dumps(d)), TV_ROWS], 1, expect or "error: ")
d = copy.deepcopy(SMALL)
d["inputs"][0]["mf"][0]["type"] = "throwError"
cli(["eval", write("fn_input_mf_throwError.json", json.dumps(d)), T_ROWS], 1, "error: ")
d["inputs"][0]["mf"][0]["type"] = "noSuchFunction"
cli(["eval", write("fn_input_mf_noSuchFunction.json", json.dumps(d)), T_ROWS], 1,
    'inputs[0].mf[0].type: unknown membership function "noSuchFunction"')

# ---- Command-line arguments.
usage = [
    [],
    ["nosuchcommand"],
    ["eval"],
    ["eval", SMALL_PATH, T_ROWS, "extra"],
    ["eval", SMALL_PATH, "--format", "xml"],
    ["eval", SMALL_PATH, "--format"],
    ["eval", SMALL_PATH, "--nargout", "-1"],
    ["eval", SMALL_PATH, "--nargout", "two"],
    ["eval", SMALL_PATH, "--nargout", "1e400"],
    ["eval", SMALL_PATH, "--block-rows", "0"],
    ["eval", SMALL_PATH, "--block-rows", "99999999999999"],
    ["eval", SMALL_PATH, "--block-rows", "NaN"],
    ["eval", SMALL_PATH, "--on-out-of-range", "loud"],
    ["eval", SMALL_PATH, "--on-empty-set", "256"],
    ["eval", SMALL_PATH, "--no-such-option"],
    ["eval", SMALL_PATH, "--diagnostics", "d.json", "--on-no-rule-fired", "none"],
    ["eval", SMALL_PATH, "--nargout", "7"],
    ["eval", SMALL_PATH, "--delimiter", ":"],
    ["eval", SMALL_PATH, "--header", "--no-header"],
    ["eval", SMALL_PATH, "--keep", "t", "--keep-all"],
    ["eval", SMALL_PATH, "--keep", "t", "--format", "json"],
    ["check"],
    ["call", "--nargout", "-3"],
    ["call", "--nosuch"],
]
for args in usage:
    cli(args, 2, "error: ")
cli(["eval", "files/does_not_exist.json", T_ROWS], 1, "cannot open")
cli(["eval", SMALL_PATH, "files/does_not_exist.csv"], 1, "does_not_exist.csv")
cli(["eval", "files", T_ROWS], 1, "files' is a directory, not a file")
cli(["check", "files"], 1, "files' is a directory, not a file")
cli(["check", described("desc_check_imp_sum", lambda d: d.update(impMethod="sum"))], 1, "impMethod")
cli(["check", record_file("check_num_samples_0", DIMMER, lambda r: put(r, "numSamples", hv_int32([0])))], 1,
    "fis.numSamples is 0")
cli(["check", SMALL_PATH], 0, "ok")
# Columns by name: --keep names columns of the header, which a file must have.
cli(["eval", SMALL_PATH, T_ROWS, "--keep", "id"], 1, 'files/t_rows.csv:1: --keep: no column "id" (the header has t)')
cli(["eval", SMALL_PATH, write("t_rows_no_header.csv", "2\n8\n"), "--keep", "t"], 1,
    "--keep names columns of a header line")
cli(["eval", SMALL_PATH, T_ROWS, "--diagnostics", "files/does_not_exist.json"], 1, "does_not_exist.json")
cli(["eval", SMALL_PATH, T_ROWS, "--diagnostics", write("diag_truncated.json", '{"class": "struct"')], 1,
    "diag_truncated.json")
cli(["eval", SMALL_PATH, T_ROWS, "--diagnostics", write("diag_wrong_class.json", dumps(hv_double(1, 1, [2])))], 1,
    "diagnostics")
cli(["eval", SMALL_PATH, T_ROWS, "--module", "files/does_not_exist.so"], 1, "Orvane:module")
cli(["eval", SMALL_PATH, T_ROWS, "--module", T_ROWS], 1, "Orvane:module")
# Output: only a regular file is replaced, and only where a file can be made beside it.
cli(["eval", SMALL_PATH, T_ROWS, "-o", "files"], 1, "files' is a directory, not a regular file")
cli(["convert", SMALL_PATH, "files"], 1, "files' is a directory, not a regular file")
cli(["eval", SMALL_PATH, T_ROWS, "-o", "files/no_such_folder/out.csv"], 1,
    "files/no_such_folder/out.csv: cannot make a temporary file beside it: No such file or directory")
cli(["call", "files/does_not_exist.json"], 1, "cannot open")
cli(["call", write("call_truncated.json", '{"class": "double", "size": [1, 1], "data": [')], 1, "call_truncated.json")
cli(["call", "--module", "files/does_not_exist.so"], 1, "Orvane:module")

# ---- API cases: in process, with leak checks; host functions registered
# by the driver (corpus_raise, corpus_empty, corpus_char, corpus_short,
# corpus_long, corpus_nan, corpus_struct).
T_INPUTS = write("t_inputs.json", dumps(hv_double(2, 1, [2, 8])))
DIMMER_INPUTS = write("dimmer_inputs.json", dumps(hv_double(2, 2, [30, 70, 0.9, 0.2])))
api([SMALL_PATH, T_INPUTS], 0, "=0.34444444444444444\\n0.6555555555555557\\n")
for name, _, path in wrong_members[:12]:
    api(["files/desc_" + name + ".json", T_INPUTS], 1, path)
for name, change, expect in relations[:16]:
    if name == "num_inputs_3":
        expect = "the data has 2 columns, the system 3 inputs"  # the API's call checks the count first
    api(["files/rel_" + name + ".record.json", DIMMER_INPUTS], 1, expect)
api(["files/ok_num_rules_0.record.json", DIMMER_INPUTS, write("diag_quiet.json", dumps(json.loads(
    '{"class": "struct", "size": [1, 1], "fields": ["DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue",'
    ' "NoRuleFired", "EmptyOutputFuzzySet"], "data": [[{"class": "uint8", "size": [1, 1], "data": [0]},'
    ' {"class": "uint8", "size": [1, 0], "data": ""}, {"class": "uint8", "size": [1, 0], "data": ""},'
    ' {"class": "uint8", "size": [1, 1], "data": [0]}, {"class": "uint8", "size": [1, 1], "data": [0]},'
    ' {"class": "uint8", "size": [1, 1], "data": [0]}]]}')))], 0, "=50\\n50\\n")
# An AND or OR method of two values that returns one (corpus_short) gives
# the scalar asked for; implication and aggregation must return one value
# per sample point (implication a column: a row is refused by the host's
# check), defuzzification a scalar.
PER_SAMPLE = {"impMethod", "aggMethod"}
for key in ["andMethod", "orMethod", "impMethod", "aggMethod", "defuzzMethod"]:
    for fn, expect in [("corpus_raise", "corpus:Raised"), ("corpus_empty", ""), ("corpus_char", ""),
                       ("corpus_short", {"impMethod": "feval: expected a real double value of size Nx1",
                                         "aggMethod": "fazolt:CustomResultLength",
                                         "defuzzMethod": "feval: expected a real double value of size 1x1"}.get(key, "ok")),
                       ("corpus_long", {"impMethod": "feval: expected a real double value of size Nx1",
                                        "aggMethod": "fazolt:CustomResultLength"}.get(key, "")),
                       ("corpus_nan", "fazolt:CustomResultLength" if key in PER_SAMPLE else "ok"),
                       ("corpus_struct", "")]:
        d = two_inputs()
        d[key] = fn
        status = 0 if expect == "ok" else 1
        api([write("api_%s_%s.json" % (key, fn), json.dumps(d)), TV_INPUTS], status, expect or ": ")
for where in ["input", "output"]:
    # An input function gives one value per point; an output function one
    # per sample point, or fewer (the set is 0 past them) or more (dropped).
    # Text is a host value like any other and converts to its codes.
    for fn, expect in [("corpus_raise", "corpus:Raised"), ("corpus_empty", ""),
                       ("corpus_char", "ok" if where == "output" else ""),
                       ("corpus_short", "ok" if where == "output" else "feval"),
                       ("corpus_long", "ok" if where == "output" else "feval"), ("corpus_struct", "")]:
        d = copy.deepcopy(SMALL)
        d[where + "s"][0]["mf"][0]["type"] = fn
        status = 0 if expect == "ok" else 1
        api([write("api_%s_mf_%s.json" % (where, fn), json.dumps(d)), T_INPUTS], status, expect or ": ")

# ---- FCL and FLL files: each fault said once, where it is.

FCL_PLANT = """FUNCTION_BLOCK plant
VAR_INPUT temp : REAL; END_VAR
VAR_OUTPUT valve : REAL; END_VAR
FUZZIFY temp // degrees
 RANGE := (0 .. 10);
 TERM low := (0, 1) (5, 0);
 TERM high := (5, 0) (10, 1);
END_FUZZIFY
DEFUZZIFY valve
 RANGE := (0 .. 1);
 TERM open := (0, 0) (1, 1);
 METHOD : COG;
END_DEFUZZIFY
RULEBLOCK r
 RULE 1 : IF temp IS high THEN valve IS open;
END_RULEBLOCK
END_FUNCTION_BLOCK
"""
cli(["check", write("fcl_misspelt_block.fcl", FCL_PLANT.replace("FUZZIFY temp", "FUZZYFY temp"))], 1,
    ':4: FUNCTION_BLOCK: "FUZZYFY" is not supported here; did you mean "FUZZIFY"?')
cli(["check", write("fcl_missing_semicolon.fcl", FCL_PLANT.replace("(5, 0);", "(5, 0)"))], 1,
    ':6: TERM low of temp: missing ";" at the end of the line')
cli(["check", write("fcl_swapped_letters.fcl", FCL_PLANT.replace("temp IS high", "tmep IS hihg"))], 1,
    'unknown input variable "tmep"; did you mean "temp"?')
cli(["check", write("fcl_cr_line_ends.fcl", FCL_PLANT.replace("\n", "\r"))], 0, "ok")
cli(["check", write("fll_space_before_colon.fll",
                    "Engine : e\nInputVariable : x\n range : 0 10\n term : a Triangle 0 5 10\n"
                    "OutputVariable : y\n range : 0 1\n aggregation : Maximum\n defuzzifier : Centroid 100\n"
                    " term : b Triangle 0 0.5 1\nRuleBlock : r\n implication : Minimum\n"
                    " rule : if x is a then y is b\n")], 0, "ok")
cli(["check", write("fcl_hedge_chain.fcl", FCL_PLANT.replace("temp IS high", "temp IS very not low"))], 0, "ok")
cli(["check", write("fcl_hedge_in_conclusion.fcl", FCL_PLANT.replace("valve IS open", "valve IS very open"))], 1,
    'hedge "very" in a conclusion')
cli(["check", write("fcl_cosine_no_width.fcl", FCL_PLANT.replace("(5, 0) (10, 1)", "Cosine 5 0"))], 1,
    ":7: TERM high of temp: Cosine needs a width above 0")
api([described("desc_hedge_bad_codes",
               lambda d: d["inputs"][0]["mf"].append({"name": "v", "type": "very", "params": [99, 1]})),
     T_INPUTS], 1, "very: expected the codes of the inner hedges")
cli(["check", described("desc_pointsmf_decreasing",
                        lambda d: d["inputs"][0]["mf"].append({"name": "p", "type": "pointsmf",
                                                               "params": [0, 0, 5, 1, 4, 0]}))], 1,
    "inputs[0].mf[2].params: the points' x must not decrease (4 after 5)")

# ---- Output.
if os.path.isdir(FILES):
    shutil.rmtree(FILES)
os.makedirs(FILES)
for rel, data in written.items():
    with open(os.path.join(HERE, rel), "wb") as f:
        f.write(data)
with open(os.path.join(HERE, "cases.tsv"), "w") as f:
    f.write("# kind\targs\tstatus\texpect  (written by make_cases.py)\n")
    for c in cases:
        f.write("\t".join(c) + "\n")
print(len(cases), "cases,", len(written), "files")
