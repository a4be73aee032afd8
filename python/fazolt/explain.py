"""How one row is evaluated, from the module's own intermediate results.

A one-row call gives the crisp outputs (result 1) and results 2 to 6: each
rule's antecedent values, the implied sets, the aggregated sets, the firing
strengths and (Sugeno) the rule output levels. The degrees of terms that no
rule tests come from the module too, through System.term_degrees.
"""
import html
from collections import namedtuple

import numpy as np

InputDegrees = namedtuple("InputDegrees", "name value degrees")  # degrees: {term: degree}
RuleFiring = namedtuple("RuleFiring", "index text antecedent firing_strength")
OutputSet = namedtuple("OutputSet", "name value samples values")

RESULT_NAMES = ("crisp_outputs", "rule_input_values", "rule_outputs", "aggregated_outputs",
                "firing_strengths", "rule_output_levels")


class Explanation:
    """One row: `inputs`, `rules` and `outputs`; `results` holds the six raw results.

    For a Mamdani system an output's samples are its sample points and its
    values the aggregated set there. For a Sugeno system the samples are the
    rules' output levels and the values their firing strengths.
    """

    def __init__(self, system, row, results):
        self.system = system
        self.row = row
        self.results = dict(zip(RESULT_NAMES, results))
        self.is_mamdani = system.type == "mamdani"
        self.inputs = [InputDegrees(v.name, float(x), dict(zip((t.name for t in v.terms),
                                                               system.term_degrees(v.name, [x])[0].tolist())))
                       for v, x in zip(system.inputs, row)]
        antecedents = self.results["rule_input_values"]
        strengths = self.results["firing_strengths"].reshape(-1)
        self.rules = [RuleFiring(r + 1, system.rule_text(r), tuple(antecedents[r].tolist()), float(strengths[r]))
                      for r in range(system.num_rules)]
        crisp = self.results["crisp_outputs"].reshape(-1)
        aggregated = self.results["aggregated_outputs"]
        points = system._matrix("outputSamplePoints")
        levels = self.results["rule_output_levels"]
        self.outputs = []
        for o, variable in enumerate(system.outputs):
            if self.is_mamdani:
                samples, values = points[o], aggregated[:, o]
            else:
                samples, values = levels[:, o], strengths
            self.outputs.append(OutputSet(variable.name, float(crisp[o]), np.array(samples), np.array(values)))

    def output(self, name):
        for out in self.outputs:
            if out.name == name:
                return out
        raise KeyError(f"{name!r} is not an output")

    def __str__(self):
        lines = ["inputs:"]
        for i in self.inputs:
            degrees = ", ".join(f"{t} {d:.4g}" for t, d in i.degrees.items())
            lines.append(f"  {i.name} = {i.value!r}: {degrees}")
        lines.append("rules:")
        for r in self.rules:
            values = ", ".join(f"{v:.4g}" for v in r.antecedent)
            lines.append(f"  {r.index}. {r.text}  [{values}] -> {r.firing_strength:.4g}")
        lines.append("outputs:")
        for o in self.outputs:
            lines.append(f"  {o.name} = {o.value!r}")
        return "\n".join(lines)

    def __repr__(self):
        return f"<fazolt.Explanation of {self.system.name!r} at {self.row.tolist()}>"

    def _repr_html_(self):
        def table(head, rows):
            cells = "".join(f"<th>{html.escape(h)}</th>" for h in head)
            body = "".join("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>"
                           for row in rows)
            return f"<table><thead><tr>{cells}</tr></thead><tbody>{body}</tbody></table>"
        inputs = table(["input", "value", "term degrees"],
                       [(i.name, repr(i.value), ", ".join(f"{t}: {d:.4g}" for t, d in i.degrees.items()))
                        for i in self.inputs])
        rules = table(["#", "rule", "antecedent values", "firing strength"],
                      [(r.index, r.text, ", ".join(f"{v:.4g}" for v in r.antecedent), f"{r.firing_strength:.4g}")
                       for r in self.rules])
        outputs = table(["output", "crisp value"], [(o.name, repr(o.value)) for o in self.outputs])
        return inputs + rules + outputs
