"""Plots with matplotlib (imported only here). Each function returns the Axes,
draws on `ax` when one is given, and works headless. Every plotted number
comes from the module."""
import numpy as np

CURVE_POINTS = 501


def _axes(ax, projection=None, figsize=None):
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt
    fig = plt.figure(figsize=figsize)
    return fig.add_subplot(projection=projection)


def variable(system, name, value=None, ax=None):
    """The terms of an input (or Mamdani output) variable, degrees at `value` marked."""
    ax = _axes(ax)
    var = next((v for v in list(system.inputs) + list(system.outputs) if v.name == name), None)
    if var is None:
        raise KeyError(f"{name!r} is neither an input nor an output")
    if name not in system.input_names:
        x, degrees = system.output_term_degrees(name)  # the module samples output terms at these points
        if value is not None:
            raise ValueError(f"{name!r} is an output: value marks an input's degrees")
    else:
        x = np.linspace(*var.range, CURVE_POINTS)
        degrees = system.term_degrees(name, x)
    for j, term in enumerate(var.terms):
        ax.plot(x, degrees[:, j], label=term.name)
    if value is not None:
        at = system.term_degrees(name, [value])[0]
        ax.axvline(value, color="black", linestyle="--", linewidth=1)
        ax.scatter([value] * len(at), at, color="black", zorder=3)
        for j, term in enumerate(var.terms):
            ax.annotate(f"{at[j]:.3g}", (value, at[j]), textcoords="offset points", xytext=(4, 2), fontsize=8)
    ax.set_xlabel(name)
    ax.set_ylabel("degree")
    ax.set_ylim(-0.05, 1.05)
    ax.set_title(f"{system.name or 'system'}: {name}")
    ax.legend(loc="best", fontsize=8)
    return ax


def output_set(explanation, output, ax=None):
    """The aggregated set of an output (Sugeno: rule levels and strengths) and its crisp value."""
    ax = _axes(ax)
    out = explanation.output(output)
    if explanation.is_mamdani:
        ax.fill_between(out.samples, out.values, alpha=0.4, step=None, label="aggregated set")
        ax.plot(out.samples, out.values, color="C0")
        ax.set_ylabel("degree")
    else:
        ax.vlines(out.samples, 0, out.values, color="C0", label="rule levels (height: firing strength)")
        ax.scatter(out.samples, out.values, color="C0", zorder=3)
        ax.set_ylabel("firing strength")
    ax.axvline(out.value, color="C3", linewidth=2, label=f"crisp value {out.value:.4g}")
    ax.set_xlabel(out.name)
    ax.set_title(f"{explanation.system.name or 'system'}: {out.name}")
    ax.legend(loc="best", fontsize=8)
    return ax


def rules(explanation, ax=None):
    """The firing strength of every rule, labelled with the rule's text."""
    fired = explanation.rules
    ax = _axes(ax, figsize=(8, max(3.0, 1.2 + 0.22 * len(fired))))  # a readable line per rule
    y = np.arange(len(fired))
    ax.barh(y, [r.firing_strength for r in fired], color="C2")
    ax.set_yticks(y, [f"{r.index}. {r.text}" for r in fired], fontsize=7)
    ax.invert_yaxis()
    ax.set_xlabel("firing strength")
    ax.set_xlim(0, max([1.0] + [r.firing_strength for r in fired if np.isfinite(r.firing_strength)]))
    ax.set_title(f"{explanation.system.name or 'system'}: rules")
    if ax.figure is not None:
        ax.figure.tight_layout()
    return ax


def surface(system, x, y, output, fixed=None, resolution=51, kind="heatmap", ax=None,
            on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none"):
    """One output over a grid of inputs x and y (the others at `fixed`, by
    default their range midpoints), in one evaluation."""
    if kind not in ("heatmap", "3d"):
        raise ValueError(f'kind: expected "heatmap" or "3d", got {kind!r}')
    names = system.input_names
    for name in (x, y):
        if name not in names:
            raise KeyError(f"{name!r} is not an input")
    o = system.output_names.index(output) if output in system.output_names else None
    if o is None:
        raise KeyError(f"{output!r} is not an output")
    fixed = dict(fixed or {})
    ranges = {v.name: v.range for v in system.inputs}
    xs = np.linspace(*ranges[x], resolution)
    ys = np.linspace(*ranges[y], resolution)
    gx, gy = np.meshgrid(xs, ys)
    grid = np.empty((gx.size, len(names)))
    for i, name in enumerate(names):
        lo, hi = ranges[name]
        grid[:, i] = fixed.get(name, (lo + hi) / 2)
    grid[:, names.index(x)] = gx.ravel()
    grid[:, names.index(y)] = gy.ravel()
    z = system.evaluate(grid, on_out_of_range=on_out_of_range, on_no_rule_fired=on_no_rule_fired,
                        on_empty_set=on_empty_set)[:, o].reshape(gx.shape)
    if kind == "3d":
        ax = _axes(ax, projection="3d")
        ax.plot_surface(gx, gy, z, cmap="viridis")
        ax.set_zlabel(output)
    else:
        ax = _axes(ax)
        mesh = ax.pcolormesh(gx, gy, z, shading="auto", cmap="viridis")
        ax.figure.colorbar(mesh, ax=ax, label=output)
    ax.set_xlabel(x)
    ax.set_ylabel(y)
    ax.set_title(f"{system.name or 'system'}: {output}")
    return ax
