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
    with pytest.raises(ValueError, match="resolution: expected a whole number .* from 2, got 0"):
        fazolt.plot.surface(system, first, second, out, resolution=0)
    fig, ax = plt.subplots()
    assert fazolt.plot.variable(system, first, ax=ax) is ax
    plt.close(fig)


def test_variable_curves_are_the_module_degrees():
    system = fazolt.System.from_file(ROOT / "examples" / "dimmer" / "dimmer.json")
    e = system.explain([30, 0.7])
    degrees = system.term_degrees("daylight", [30.0])[0]
    assert degrees.tolist() == list(e.inputs[0].degrees.values())
    assert degrees.tolist() == [0.5, 1 / 3, 0.0]


def test_plots_keep_their_cell_and_name_a_typo():
    # 50 rules, many concluding the same level: the rules panel stays in its
    # grid cell, and stems of equal levels stand apart.
    terms = [{"name": f"t{j}", "type": "trimf", "params": [j / 4 - 0.3, j / 4, j / 4 + 0.3]} for j in range(5)]
    system = fazolt.System({"name": "many", "type": "sugeno",
                            "inputs": [{"name": "rain", "range": [0, 1], "mf": terms},
                                       {"name": "sun", "range": [0, 1], "mf": terms}],
                            "outputs": [{"name": "water", "range": [0, 1],
                                         "mf": [{"name": "low", "type": "constant", "params": [0.2]},
                                                {"name": "high", "type": "constant", "params": [0.8]}]}],
                            "rules": [{"antecedent": [r % 5 + 1, r // 5 % 5 + 1], "consequent": [r % 2 + 1]}
                                      for r in range(50)]})
    e = system.explain([0.3, 0.4], on_no_rule_fired="none")
    fig, axes = plt.subplots(2, 2, figsize=(10, 7))
    fazolt.plot.rules(e, ax=axes[0][1])
    stems = fazolt.plot.output_set(e, "water", ax=axes[1][0]).collections[0].get_segments()
    fig.tight_layout()
    widths = [ax.get_position().width for row in axes for ax in row]
    assert min(widths) > 0.38  # 0.32 when long tick labels pushed every panel in
    assert len({round(segment[0][0], 12) for segment in stems}) == 50
    saved(axes[0][1], "many_rules_grid")
    with pytest.raises(KeyError, match="fixed: 'rian' is not an input; did you mean 'rain'"):
        fazolt.plot.surface(system, "rain", "sun", "water", fixed={"rian": 0.9})
