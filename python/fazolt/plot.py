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


def _check_name(what, name, names, kind):
    """A KeyError naming the parameter, the closest name and the list, for a name not in names."""
    if name in names:
        return
    import difflib
    close = difflib.get_close_matches(str(name), names, n=1, cutoff=0.5)
    hint = f"; did you mean {close[0]!r}?" if close else ""
    raise KeyError(f"{what}: {name!r} is not {kind}{hint} ({kind[kind.index(' ') + 1:]}s: {', '.join(names)})")


def _degree_axes(ax, name, title, legend_size):
    """Labels, limits and legend of a chart of membership degrees over a variable."""
    ax.set_xlabel(name)
    ax.set_ylabel("degree")
    ax.set_ylim(-0.05, 1.05)
    ax.set_title(title)
    ax.legend(loc="best", fontsize=legend_size)
    return ax


def variable(system, name, value=None, ax=None):
    """The terms of an input, or of a Mamdani output at its sample points.

    Parameters:
        system: the System.
        name: an input's or a Mamdani output's name.
        value: an input value whose degrees are marked, or None.
        ax: the matplotlib Axes to draw on, or None for a new figure.
    Returns:
        the Axes.
    Raises:
        KeyError: neither an input nor an output. ValueError: a Sugeno
        output, or value given for an output.

    Example:
        >>> fazolt.plot.variable(dimmer, "daylight", value=15).figure.savefig("daylight.png")
    """
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
    return _degree_axes(ax, name, f"{system.name or 'system'}: {name}", 8)


def output_set(explanation, output, ax=None):
    """The aggregated set of an output (Sugeno: each rule's level and strength) and its crisp value.

    Sugeno rules that conclude the same level stand side by side, the fired
    ones numbered, rather than one on top of the other.

    Parameters:
        explanation: an Explanation (System.explain).
        output: the output's name.
        ax: the Axes to draw on, or None for a new figure.
    Returns:
        the Axes.
    Raises:
        KeyError: not an output.

    Example:
        >>> fazolt.plot.output_set(dimmer.explain([15, 0.6]), "lamp")
    """
    ax = _axes(ax)
    out = explanation.output(output)
    if explanation.is_mamdani:
        ax.fill_between(out.samples, out.values, alpha=0.4, step=None, label="aggregated set")
        ax.plot(out.samples, out.values, color="C0")
        ax.set_ylabel("degree")
    else:
        o = explanation.system.output_names.index(out.name)
        concluding = [r for r, rule in enumerate(explanation.system._rules) if rule[2][o] != 0]
        levels = np.asarray(out.samples)[concluding]
        strengths = np.asarray(out.values)[concluding]
        finite = levels[np.isfinite(levels)]
        span = float(np.ptp(np.append(finite, out.value))) if finite.size else 0.0
        widest = max([int(np.sum(levels == level)) for level in np.unique(levels)] + [1])
        # A few points apart, a group at most a twentieth of the axis wide, centred on its level.
        step = (span or 1.0) / max(80, 20 * widest)
        x = levels.astype(np.float64).copy()
        for level in np.unique(levels):
            same = np.flatnonzero(levels == level)
            x[same] = level + (np.arange(len(same)) - (len(same) - 1) / 2) * step
        ax.vlines(x, 0, strengths, color="C0", label="rules: level (x), firing strength (height)")
        ax.scatter(x, strengths, color="C0", zorder=3)
        numbered = [(r, xr, h) for r, xr, h in zip(concluding, x, strengths) if h != 0]
        if len(numbered) <= 30:  # the rules that fired; more numbers than that only cover each other
            for r, xr, h in numbered:
                ax.annotate(str(r + 1), (xr, h), textcoords="offset points", xytext=(0, 3), ha="center", fontsize=7)
        ax.set_ylabel("firing strength")
    ax.axvline(out.value, color="C3", linewidth=2, label=f"crisp value {out.value:.4g}")
    ax.set_xlabel(out.name)
    ax.set_title(f"{explanation.system.name or 'system'}: {out.name}")
    ax.legend(loc="best", fontsize=8)
    return ax


def rules(explanation, ax=None):
    """The firing strength of every rule, numbered.

    Each rule's text is written on its row inside the Axes, as large as the
    row allows (left out when the rows are too thin to read; then
    Explanation.rules holds it), so the panel keeps its place in a grid.

    Parameters:
        explanation: an Explanation (System.explain).
        ax: the Axes to draw on, or None for a new figure sized to the rules.
    Returns:
        the Axes.
    Raises:
        nothing.

    Example:
        >>> fazolt.plot.rules(dimmer.explain([15, 0.6]))
    """
    from matplotlib.ticker import FuncFormatter, MaxNLocator
    from matplotlib.transforms import blended_transform_factory

    fired = explanation.rules
    is_own_figure = ax is None
    ax = _axes(ax, figsize=(8, max(3.0, 1.2 + 0.22 * len(fired))))  # a readable line per rule
    y = np.arange(len(fired))
    strengths = [r.firing_strength for r in fired]
    ax.barh(y, strengths, color="C2", alpha=0.55)
    ax.set_ylim(len(fired) - 0.5, -0.5)  # rule 1 on top
    ax.yaxis.set_major_locator(MaxNLocator(nbins="auto", integer=True))
    ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{int(v) + 1}" if 0 <= v < len(fired) else ""))
    ax.set_ylabel("rule")
    ax.set_xlabel("firing strength")
    ax.set_xlim(0, max([1.0] + [s for s in strengths if np.isfinite(s)]))
    ax.set_title(f"{explanation.system.name or 'system'}: rules")
    if is_own_figure:
        ax.figure.tight_layout()
    row_points = ax.get_window_extent().height * 72 / ax.figure.dpi / max(len(fired), 1)
    size = min(8.0, 0.7 * row_points)
    if size >= 4:
        where = blended_transform_factory(ax.transAxes, ax.transData)
        for k, r in enumerate(fired):
            ax.text(0.01, k, r.text, transform=where, fontsize=size, va="center", clip_on=True)
    return ax


def surface(system, x, y, output, fixed=None, resolution=51, kind="heatmap", ax=None,
            on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none"):
    """One output over a grid of inputs x and y, in one evaluation.

    Parameters:
        system: the System.
        x, y: two inputs' names.
        output: an output's name.
        fixed: {input: value} for the other inputs (default: their range
            midpoints).
        resolution: points along each axis.
        kind: "heatmap" or "3d".
        ax: the Axes to draw on (a 3-D one for "3d"), or None.
        on_out_of_range, on_no_rule_fired, on_empty_set: as System.evaluate
            (default "none").
    Returns:
        the Axes.
    Raises:
        KeyError: a name that is not an input or output, with the closest
        one ("fixed: 'rian' is not an input; did you mean 'rain'?").
        ValueError: an unknown kind, or a resolution below 2. FazoltError: as System.evaluate.

    Example:
        >>> fazolt.plot.surface(dimmer, "daylight", "motion", "lamp", fixed={"motion": 0.5})
    """
    if kind not in ("heatmap", "3d"):
        raise ValueError(f'kind: expected "heatmap" or "3d", got {kind!r}')
    if isinstance(resolution, bool) or not isinstance(resolution, (int, np.integer)) or resolution < 2:
        raise ValueError(f"resolution: expected a whole number of points along each axis from 2, got {resolution!r}")
    names = system.input_names
    for name in (x, y):
        _check_name("x and y", name, names, "an input")
    _check_name("output", output, system.output_names, "an output")
    o = system.output_names.index(output)
    fixed = dict(fixed or {})
    for name in fixed:
        _check_name("fixed", name, names, "an input")
    ranges = {v.name: v.range for v in system.inputs}
    xs = np.linspace(*ranges[x], resolution)
    ys = np.linspace(*ranges[y], resolution)
    gx, gy = np.meshgrid(xs, ys)
    grid = np.empty((gx.size, len(names)))
    for i, name in enumerate(names):
        lo, hi = ranges[name]
        grid[:, i] = fixed.get(name, lo / 2 + hi / 2)  # (lo + hi) / 2 overflows near the largest doubles
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


def training_curve(report, ax=None):
    """RMSE per iteration of a fit, training and validation, on a log scale.

    Parameters:
        report: the Report that fazolt.tune.fit returned.
        ax: the matplotlib Axes to draw on, or None for a new figure.
    Returns:
        the Axes.
    Raises:
        AttributeError: report is not a fit's Report.

    Example:
        >>> tuned, report = fazolt.tune.fit(start, X, y)
        >>> fazolt.plot.training_curve(report).figure.savefig("fit.png")
    """
    ax = _axes(ax)
    iterations = np.arange(len(report.train_rmse))
    ax.plot(iterations, report.train_rmse, marker="o", markersize=3, label="training")
    if report.validation_rmse:
        ax.plot(iterations, report.validation_rmse, marker="o", markersize=3, label="validation")
    if all(v > 0 for v in list(report.train_rmse) + list(report.validation_rmse)):
        ax.set_yscale("log")
    ax.set_xlabel("iteration")
    ax.set_ylabel("RMSE")
    ax.set_title(f"fit ({report.method}): RMSE per iteration")
    ax.legend(loc="best", fontsize=8)
    return ax


def tuned_terms(before, after, name, ax=None):
    """The terms of a variable before (dashed) and after (solid) a fit, over the wider of the two ranges.

    Parameters:
        before: the System given to fazolt.tune.fit.
        after: the System it returned.
        name: an input's or a Mamdani output's name in both.
        ax: the matplotlib Axes to draw on, or None for a new figure.
    Returns:
        the Axes.
    Raises:
        KeyError: the name is not a variable of both systems.

    Example:
        >>> fazolt.plot.tuned_terms(start, tuned, "x1").figure.savefig("x1.png")
    """
    ax = _axes(ax)
    variables = []
    for system in (before, after):
        var = next((v for v in list(system.inputs) + list(system.outputs) if v.name == name), None)
        if var is None:
            raise KeyError(f"{name!r} is neither an input nor an output of {system.name or 'the system'}")
        variables.append(var)
    lo = min(v.range[0] for v in variables)
    hi = max(v.range[1] for v in variables)
    x = np.linspace(lo, hi, CURVE_POINTS)
    for system, var, style in zip((before, after), variables, ("--", "-")):
        if name in system.input_names:
            xs, degrees = x, system.term_degrees(name, x)
        else:
            xs, degrees = system.output_term_degrees(name)  # the module samples output terms at these points
        for j, term in enumerate(var.terms):
            ax.plot(xs, degrees[:, j], linestyle=style, color=f"C{j % 10}",
                    label=f"{term.name} ({'before' if style == '--' else 'after'})")
    return _degree_axes(ax, name, f"{after.name or 'system'}: {name} before and after fitting", 7)
