"""How one row is evaluated, as the C++ explainer (the tool's `fazolt explain`) gives it.

Every number is the module's: a one-row call gives the crisp outputs
(result 1) and results 2 to 6 (each rule's antecedent values, the implied
sets, the aggregated sets, the firing strengths and, Sugeno, the rule output
levels); the degrees of terms no rule tests come from a probe system that
the module evaluates too.
"""
import html
from collections import namedtuple

import numpy as np

InputDegrees = namedtuple("InputDegrees", "name value degrees")  # degrees: {term: degree}
# antecedent: {input: value} for the inputs the rule tests, in input order
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

    def __init__(self, system, row, explanation, results):
        self.system = system
        self.row = row
        self.results = dict(zip(RESULT_NAMES, results))
        self.is_mamdani = explanation["is_mamdani"]
        self.total_firing_strength = explanation["total_firing_strength"]
        self.inputs = [InputDegrees(v.name, value, dict(zip((t.name for t in v.terms), degrees)))
                       for v, (value, degrees) in zip(system.inputs, explanation["inputs"])]
        self.rules = []
        for r, (values, strength, _, _) in enumerate(explanation["rules"]):
            tested = system._rules[r][1]
            self.rules.append(RuleFiring(r + 1, system.rule_text(r),
                                         {v.name: x for v, x, k in zip(system.inputs, values, tested) if k != 0},
                                         strength))
        self.outputs = []
        strengths = np.array([rule[1] for rule in explanation["rules"]])
        for o, (variable, (value, aggregated, _, _)) in enumerate(zip(system.outputs, explanation["outputs"])):
            if self.is_mamdani:
                samples, values = np.array(system._info["sample_points"][o]), aggregated
            else:
                samples, values = np.array([rule[2][o] for rule in explanation["rules"]]), strengths
            self.outputs.append(OutputSet(variable.name, value, samples, values))

    def output(self, name):
        """One output's set and crisp value.

        Parameters:
            name: the output's name.
        Returns:
            OutputSet(name, value, samples, values).
        Raises:
            KeyError: not an output.

        Example:
            >>> why.output("lamp").value
        """
        for out in self.outputs:
            if out.name == name:
                return out
        raise KeyError(f"{name!r} is not an output")

    def __str__(self):
        lines = [f"{self.system.name or 'system'} ({self.system.type})", "outputs:"]
        lines += [f"  {o.name} = {o.value!r}" for o in self.outputs]
        lines.append("inputs:")
        for i in self.inputs:
            degrees = ", ".join(f"{t} {d:.4g}" for t, d in i.degrees.items())
            lines.append(f"  {i.name} = {i.value!r}: {degrees}")
        lines.append("rules (firing strength, the rule, the values of the inputs it tests):")
        for r in self.rules:
            lines.append(f"  {r.index}. {r.firing_strength:.4g}  {r.text}  [{_tested(r)}]")
        return "\n".join(lines)

    def __repr__(self):
        return f"<fazolt.Explanation of {self.system.name!r} at {self.row.tolist()}>"

    def _repr_html_(self):
        def table(head, rows):
            cells = "".join(f"<th>{html.escape(h)}</th>" for h in head)
            body = "".join("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>"
                           for row in rows)
            return f"<table><thead><tr>{cells}</tr></thead><tbody>{body}</tbody></table>"
        title = html.escape(f"{self.system.name or 'system'} ({self.system.type})")
        outputs = table(["output", "crisp value"], [(o.name, repr(o.value)) for o in self.outputs])
        inputs = table(["input", "value", "term degrees"],
                       [(i.name, repr(i.value), ", ".join(f"{t}: {d:.4g}" for t, d in i.degrees.items()))
                        for i in self.inputs])
        rules = table(["#", "rule", "values of the inputs it tests", "firing strength"],
                      [(r.index, r.text, _tested(r), f"{r.firing_strength:.4g}") for r in self.rules])
        return (f"<h3>{title}</h3><h4>Outputs</h4>{outputs}<h4>Inputs</h4>{inputs}"
                f"<h4>Rules</h4>{rules}")


def _tested(rule):
    return ", ".join(f"{name} {v:.4g}" for name, v in rule.antecedent.items())
