#!/usr/bin/python3
"""Loads the bundled dimmer, evaluates a DataFrame, explains one row and saves
the plots as PNG files.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/dimmer.py [OUTDIR]
"""
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # headless: files only
import pandas as pd  # noqa: E402

import fazolt  # noqa: E402
import fazolt.plot  # noqa: E402

here = Path(__file__).resolve().parent
out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else "dimmer-plots")
out_dir.mkdir(parents=True, exist_ok=True)

dimmer = fazolt.System.from_file(here.parent / "dimmer" / "dimmer.json")
print(dimmer)

# Columns are matched by name: their order does not matter.
readings = pd.DataFrame({"motion": [0.9, 0.6, 0.05, 0.8], "daylight": [5, 15, 50, 90]},
                        index=["hall", "stairs", "kitchen", "porch"])
print(pd.concat([readings, dimmer.evaluate(readings)], axis=1))

why = dimmer.explain(readings.loc["stairs"])
print(why)

fazolt.plot.variable(dimmer, "daylight", value=15).figure.savefig(out_dir / "daylight.png")
fazolt.plot.output_set(why, "lamp").figure.savefig(out_dir / "lamp.png")
fazolt.plot.rules(why).figure.savefig(out_dir / "rules.png")
fazolt.plot.surface(dimmer, "daylight", "motion", "lamp").figure.savefig(out_dir / "surface.png")
print("plots in", out_dir)
