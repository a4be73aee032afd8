"""evaluate gives the tool's outputs and warnings bit for bit, whatever the
shape of its argument; systems load, describe and pickle themselves."""
import json
import os
import pickle
import re
import signal
import subprocess
import threading
import time
import warnings

import numpy as np
import pandas as pd
import pytest

import fazolt
from conftest import BUILD, EXAMPLES, REFERENCE_SYSTEMS, ROOT, example_system, read_rows, same_bits, tool, tool_eval


def evaluate_collecting(system, rows, **options):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        out = system.evaluate(rows, **options)
    return out, [str(w.message) for w in caught if issubclass(w.category, fazolt.FazoltWarning)]


@pytest.mark.parametrize("inputs", EXAMPLES, ids=lambda p: p.parent.name)
def test_examples_match_the_tool(inputs):
    path = example_system(inputs)
    for system_file in [path] + sorted(inputs.parent.glob("*.record.json")):
        system = fazolt.System.from_file(system_file)
        rows = read_rows(inputs)
        expected, tool_warnings = tool_eval(system_file, inputs)
        out, caught = evaluate_collecting(system, rows)
        assert same_bits(out, expected), system_file
        # The tool names CSV lines (line 1 the header), Python rows from 0.
        line = re.compile(rf"^(\S+ ){re.escape(str(inputs))}:(\d+): ")
        assert caught == [line.sub(lambda m: f"{m[1]}row {int(m[2]) - 2}: ", w) for w in tool_warnings]
        for k in (0, len(rows) - 1):  # single rows: shape (outputs,)
            assert same_bits(system.evaluate(rows[k], on_out_of_range="none", on_no_rule_fired="none",
                                             on_empty_set="none"), expected[k])


@pytest.mark.parametrize("name", ["fan", "big_mamdani", "sugeno_linear"])
def test_reference_systems_match_the_tool(name, reference_inputs):
    system = fazolt.System.from_file(REFERENCE_SYSTEMS / f"{name}.json")
    frame = pd.read_csv(reference_inputs[name], float_precision="round_trip")
    expected, _ = tool_eval(REFERENCE_SYSTEMS / f"{name}.json", reference_inputs[name], "--on-out-of-range", "none",
                            "--on-no-rule-fired", "none", "--on-empty-set", "none")
    quiet = dict(on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")
    assert same_bits(system.evaluate(frame.to_numpy(), **quiet), expected)
    # Any layout: Fortran order, a strided view, ints.
    assert same_bits(system.evaluate(np.asfortranarray(frame.to_numpy()), **quiet), expected)
    assert same_bits(system.evaluate(frame.to_numpy()[::7], **quiet), expected[::7])
    # A DataFrame by column name, in any order, extra columns ignored, index kept.
    shuffled = frame[frame.columns[::-1]].assign(extra="text")
    shuffled.index = shuffled.index * 3
    result = system.evaluate(shuffled, **quiet)  # a Series for one output
    names = [result.name] if isinstance(result, pd.Series) else list(result.columns)
    assert names == system.output_names and result.index.equals(shuffled.index)
    assert same_bits(result.to_numpy().reshape(len(result), -1), expected)
    assert same_bits(system.evaluate(shuffled.iloc[3], **quiet), expected[3])  # a Series by name


@pytest.mark.parametrize("name", ["pd_mamdani", "pd_sugeno", "fan"])
def test_one_row_per_call_has_the_batch_bits(name, reference_inputs):
    # A list, a tuple or a 1-D array of one row takes the prepared evaluator;
    # a row with a diagnostic goes through the batch, which words it.
    system = fazolt.System.from_file(REFERENCE_SYSTEMS / f"{name}.json")
    rows = read_rows(reference_inputs[name])[:1000]
    expected = system.evaluate(rows)
    for k, row in enumerate(rows):
        for given in (list(row), tuple(row), row):
            out = system.evaluate(given)
            assert out.shape == expected[k].shape and same_bits(out, expected[k])
    low = [system.inputs[0].range[0] - 1.0] + [v.range[0] for v in system.inputs[1:]]
    with pytest.warns(fazolt.FazoltWarning, match="outside its range"):
        assert same_bits(system.evaluate(low), system.evaluate([low], on_out_of_range="none")[0])
    with pytest.raises(fazolt.FazoltError):
        system.evaluate(low, on_out_of_range="error")
def test_one_input_reads_a_1d_array_or_its_series_as_the_column_and_one_output_gives_a_series():
    ramp = fazolt.System({"name": "ramp", "type": "sugeno", "inputs": [{"name": "x", "range": [0, 4], "mf": [
        {"name": "low", "type": "trimf", "params": [-4, 0, 4]}, {"name": "high", "type": "trimf", "params": [0, 4, 8]}]}],
        "outputs": [{"name": "y", "range": [0, 4], "mf": [{"name": "zero", "type": "constant", "params": [0]},
                                                         {"name": "four", "type": "constant", "params": [4]}]}],
        "rules": ["if x is low then y is zero", "if x is high then y is four"]})
    x = np.array([0.0, 1.0, 3.0])
    expected = ramp.evaluate(x.reshape(-1, 1))
    assert same_bits(ramp.evaluate(x), expected) and same_bits(ramp.evaluate(list(x)), expected)
    frame = pd.DataFrame({"x": x, "target": [0.0, 1.0, 3.0]}, index=[7, 8, 9])
    for given in (frame, frame["x"]):
        out = ramp.evaluate(given)
        assert isinstance(out, pd.Series) and out.name == "y" and out.index.equals(frame.index)
        assert same_bits(out.to_numpy(), expected[:, 0]) and (out - frame.target).shape == (3,)
    assert same_bits(ramp.evaluate(frame.loc[8, ["x"]]), expected[1])  # a row of the frame stays a row


def test_integer_rows_and_empty_input():
    system = fazolt.System.from_file(example_system(EXAMPLES[0]))
    rows = read_rows(EXAMPLES[0].parent / "inputs.csv")
    whole = rows.round()
    assert same_bits(system.evaluate(whole.astype(np.int32), on_out_of_range="none"),
                     system.evaluate(whole, on_out_of_range="none"))
    assert system.evaluate(np.empty((0, rows.shape[1]))).shape == (0, len(system.outputs))


def test_columns_by_name_from_a_frame_or_a_dict(no_leak):
    system = fazolt.System.from_file(REFERENCE_SYSTEMS / "fan.json")
    first, second = system.input_names[:2]
    frame = pd.DataFrame({first: [1.0]})
    with pytest.raises(KeyError, match=second):
        system.evaluate(frame)
    rows = np.random.default_rng(2).uniform(0, 1, (50, len(system.inputs))) * \
        [v.range[1] - v.range[0] for v in system.inputs] + [v.range[0] for v in system.inputs]
    columns = {name: rows[:, k] for k, name in reversed(list(enumerate(system.input_names)))}
    assert same_bits(system.evaluate(columns), system.evaluate(rows))
    assert same_bits(system.evaluate(pd.DataFrame(columns)).to_numpy(), system.evaluate(rows)[:, 0])
    with pytest.raises(KeyError, match=f"{second!r} is not in the dict"):
        system.evaluate({first: rows[:, 0]})
    with pytest.raises(KeyError, match="'rian' in the dict of columns is not an input"):
        system.evaluate({**columns, "rian": rows[:, 0]})
    with pytest.raises(fazolt.FazoltError, match="differ in length"):
        system.evaluate({**columns, first: rows[:3, 0]})
    # pd.NA names its column and row, in a nullable or an object column.
    for column in (pd.array([1.0, None], dtype="Float64"), pd.Series([1.0, pd.NA], dtype=object)):
        frame = pd.DataFrame({name: [1.0, 1.0] for name in system.input_names}).assign(**{second: column})
        with pytest.raises(fazolt.FazoltError, match=f"column {second!r}: row 1 is pd.NA"):
            system.evaluate(frame)


def test_description_round_trip_pickle_and_repr():
    path = REFERENCE_SYSTEMS / "big_mamdani.json"
    system = fazolt.System.from_file(path)
    rows = np.random.default_rng(5).uniform(0, 1, (300, 4)) * [v.range[1] - v.range[0] for v in system.inputs] + \
        [v.range[0] for v in system.inputs]
    expected = system.evaluate(rows)
    for copy in (fazolt.System.from_dict(system.to_dict()), pickle.loads(pickle.dumps(system))):
        assert same_bits(copy.evaluate(rows), expected)
        assert copy.inputs == system.inputs and copy.outputs == system.outputs
    assert repr(system).startswith("<fazolt.System 'big_mamdani': mamdani, 4 inputs (")
    # equal as values: the same description from any source, hashed alike
    assert copy == system and hash(copy) == hash(system) and copy != fazolt.System.from_file(REFERENCE_SYSTEMS / "fan.json")
    html = system._repr_html_()
    assert all(v.name in html for v in system.inputs + system.outputs) and system.rule_text(0) in html
    assert [c.__module__ for c in (fazolt.System, fazolt.FazoltError, fazolt.Term)] == ["fazolt"] * 3
    first = system.inputs[0]
    assert first.terms[0].type == "trimf" and len(first.terms[0].params) == 3
    # A raw record travels as the record.
    record = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.record.json")
    again = pickle.loads(pickle.dumps(record))
    assert "class" in again.to_dict() and again.input_names == record.input_names


def test_dict_strings_and_saved_files_as_the_tool_converts(tmp_path, no_leak):
    path = ROOT / "examples" / "dimmer" / "dimmer.json"
    system = fazolt.System(json.loads(path.read_text()))
    rows = read_rows(path.parent / "inputs.csv")
    expected = system.evaluate(rows)
    for fmt, text in (("json", system.to_json()), ("fcl", system.to_fcl()), ("fll", system.to_fll())):
        converted = tool("convert", path, "-", "--to", fmt).stdout
        assert text == converted
        assert same_bits(fazolt.System.from_string(text, format=fmt).evaluate(rows), expected)
        saved = tmp_path / f"dimmer.{fmt.upper()}"
        system.save(saved)
        assert saved.read_text() == converted and os.listdir(tmp_path).count(saved.name) == 1
    assert sorted(os.listdir(tmp_path)) == ["dimmer.FCL", "dimmer.FLL", "dimmer.JSON"]  # no temporary left
    climate = fazolt.System.from_file(ROOT / "examples" / "climate" / "climate.json")
    with pytest.raises(fazolt.FazoltError, match=r"fazolt:fcl:Unsupported: .*climate.fcl: cannot say rules\[0\]"):
        climate.save(tmp_path / "climate.fcl")
    assert not (tmp_path / "climate.fcl").exists()
    with pytest.raises(fazolt.FazoltError, match="fazolt:format:Unknown"):
        fazolt.System.from_string(system.to_json(), format="yaml")
    with pytest.raises(fazolt.FazoltError, match=r"<string>:\d+"):
        fazolt.System.from_string("FUNCTION_BLOCK x\nVAR_INPUT\n", format="fcl")
    with pytest.raises(TypeError, match="from_file"):
        fazolt.System("dimmer.json")
    for documented in (fazolt.System.evaluate, fazolt.System.explain, fazolt.System.from_dict, fazolt.System.from_string,
                       fazolt.System.to_json, fazolt.System.to_fcl, fazolt.System.to_fll, fazolt.System.save,
                       fazolt.register_function, fazolt.unregister_function):
        assert all(part in documented.__doc__ for part in ("Returns:", "Raises:", "Example:")), documented


def test_threads_give_the_sequential_results(reference_inputs):
    systems = [fazolt.System.from_file(REFERENCE_SYSTEMS / f"{n}.json") for n in ("fan", "big_mamdani", "sugeno_linear")]
    rows = [read_rows(reference_inputs[s.name])[:5000] for s in systems]
    quiet = dict(on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")
    expected = [s.evaluate(r, **quiet) for s, r in zip(systems, rows)]
    results = {}

    def work(k):
        for rep in range(3):
            results[(k, rep)] = systems[k % 3].evaluate(rows[k % 3], **quiet)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 18
    assert all(same_bits(out, expected[k % 3]) for (k, _), out in results.items())
    # Split across threads: the same bits, and the same warnings in the same
    # order (rows pushed out of range to have more than the shown ones).
    assert all(same_bits(s.evaluate(r, threads=0, **quiet), e) for s, r, e in zip(systems, rows, expected))

    def warned(**options):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            out = systems[1].evaluate(rows[1] * 1.5, **options)
        return out, [str(w.message) for w in caught]
    alone, split = warned(), warned(threads=3)
    assert same_bits(alone[0], split[0]) and alone[1] == split[1] and len(alone[1]) > 20
    with pytest.raises(fazolt.FazoltError, match="threads: expected a whole number"):
        systems[0].evaluate(rows[0], threads=-1)


def test_ctrl_c_interrupts_a_long_evaluate():
    # Three minutes of rows uninterrupted (small blocks, so that the check between
    # blocks comes often); SIGINT a moment into them ends the call.
    code = """if True:
        import signal, sys, numpy as np
        # Python leaves SIGINT ignored when it starts so (a background job of a
        # shell without job control, as CI may run the suite): handle it anyway.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        sys.path.insert(0, sys.argv[2])
        import fazolt, fazolt._system
        fazolt._system.BLOCK_ROWS = 256
        s = fazolt.System.from_file(sys.argv[1], samples=50001)
        x = np.broadcast_to(np.array([sum(v.range) / 2 for v in s.inputs]), (2_000_000, len(s.inputs)))
        print("ready", flush=True)
        try:
            s.evaluate(x)
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)  # flushed: a hang after it shows as one at exit
    """
    child = subprocess.Popen(["/usr/bin/python3", "-c", code, str(REFERENCE_SYSTEMS / "big_mamdani.json"),
                              "" if os.environ.get("FAZOLT_TEST_INSTALLED") else str(BUILD / "python")], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        try:
            out, _ = child.communicate(timeout=60)
        except subprocess.TimeoutExpired as e:
            pytest.fail(f"still running 60 s after SIGINT, having printed {e.output!r}")
    finally:
        child.kill()
    assert out.split()[0] == "interrupted"


def test_sklearn_transformer_in_a_pipeline_and_a_column_transformer():
    pytest.importorskip("sklearn")
    from sklearn.base import clone
    from sklearn.compose import ColumnTransformer
    from sklearn.linear_model import LinearRegression
    from sklearn.pipeline import make_pipeline

    import fazolt.sklearn
    system = fazolt.System.from_file(example_system(EXAMPLES[0]))
    rows = read_rows(EXAMPLES[0])
    frame = pd.DataFrame(rows, columns=system.input_names).assign(other=np.arange(len(rows)))
    step = fazolt.sklearn.FuzzyTransformer(system, on_out_of_range="none")
    columns = ColumnTransformer([("fuzzy", step, system.input_names), ("kept", "passthrough", ["other"])])
    features = columns.fit_transform(frame)
    assert same_bits(features[:, :-1], system.evaluate(rows, on_out_of_range="none"))
    assert list(columns.get_feature_names_out()) == [f"fuzzy__{n}" for n in system.output_names] + ["kept__other"]
    model = make_pipeline(clone(step), LinearRegression()).fit(rows, rows[:, 0])
    assert model.predict(rows).shape == (len(rows),)
    assert list(pickle.loads(pickle.dumps(model))[0].get_feature_names_out()) == system.output_names
    fitted = clone(step).fit(frame)  # the extra column is not a feature the step reads
    assert list(fitted.feature_names_in_) == system.input_names and fitted.n_features_in_ == len(system.inputs)
