"""Every plot renders a non-empty PNG headless, on its own figure or a given Axes."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402

import fazolt  # noqa: E402
import fazolt.plot  # noqa: E402
from conftest import BUILD, REFERENCE_SYSTEMS, ROOT  # noqa: E402

ARTIFACTS = BUILD / "artifacts" / "python"


def saved(ax, name):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    path = ARTIFACTS / f"{name}.png"
    ax.figure.savefig(path, dpi=80)
    plt.close(ax.figure)
    image = plt.imread(path)
    assert image.shape[0] > 100 and image.shape[1] > 100
    assert np.unique(image.reshape(-1, image.shape[-1]), axis=0).shape[0] > 10  # more than a blank canvas
    return path


@pytest.mark.parametrize("path,row", [(ROOT / "examples" / "dimmer" / "dimmer.json", [30, 0.7]),
                                      (REFERENCE_SYSTEMS / "sugeno_linear.json", None)])
def test_every_plot_renders(path, row):
    system = fazolt.System.from_file(path)
    row = row or [sum(v.range) / 2 for v in system.inputs]
    e = system.explain(row, on_out_of_range="none")
    first, second, out = system.input_names[0], system.input_names[1], system.output_names[0]
    saved(fazolt.plot.variable(system, first, value=row[0]), f"{system.name}_variable")
    saved(fazolt.plot.output_set(e, out), f"{system.name}_output_set")
    saved(fazolt.plot.rules(e), f"{system.name}_rules")
    saved(fazolt.plot.surface(system, first, second, out, resolution=31), f"{system.name}_surface")
    saved(fazolt.plot.surface(system, first, second, out, resolution=21, kind="3d"), f"{system.name}_surface3d")
    fig, ax = plt.subplots()
    assert fazolt.plot.variable(system, first, ax=ax) is ax
    plt.close(fig)


def test_variable_curves_are_the_module_degrees():
    system = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    e = system.explain([30, 0.7])
    degrees = system.term_degrees("daylight", [30.0])[0]
    assert degrees.tolist() == list(e.inputs[0].degrees.values())
    assert degrees.tolist() == [0.5, 1 / 3, 0.0]
