"""System.to_c: the files, the default prefix, and what it refuses.
(Exactness against the engine is the ctest ExportC tests' part.)"""
import pytest

import fazolt
from conftest import ROOT


def test_to_c_writes_the_header_and_source_under_the_prefix(tmp_path):
    dimmer = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    dimmer.to_c(tmp_path)  # the system's name
    assert "#define DIMMER_NUM_INPUTS 2" in (tmp_path / "dimmer.h").read_text()
    dimmer.to_c(str(tmp_path), prefix="lamp", single_precision=True)
    assert "int lamp_evaluate(const float inputs[], float outputs[])" in (tmp_path / "lamp.c").read_text()


def test_to_c_refuses_a_bad_prefix_and_a_python_function_unless_extern(tmp_path):
    dimmer = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    with pytest.raises(fazolt.FazoltError, match="not a C identifier") as e:
        dimmer.to_c(tmp_path, prefix="9lives")
    assert e.value.identifier == "fazolt:export:BadPrefix"
    d = dimmer.to_dict()
    d["andMethod"] = "py_and_for_to_c"
    fazolt.register_function("py_and_for_to_c", lambda values: min(values))
    try:
        with pytest.raises(fazolt.FazoltError, match="py_and_for_to_c") as e:
            fazolt.System.from_dict(d).to_c(tmp_path)
        assert e.value.identifier == "fazolt:export:Unsupported"
        fazolt.System.from_dict(d).to_c(tmp_path, prefix="lamp", extern=True)
        assert ("double lamp_fn_py_and_for_to_c(const double values[], int count);"
                in (tmp_path / "lamp.h").read_text())
    finally:
        fazolt.unregister_function("py_and_for_to_c")
    assert not (tmp_path / "fis.c").exists()
