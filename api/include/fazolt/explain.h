/// @file
/// Explanations of one evaluation: which terms an input row touches, which
/// rules fire and how strongly, and what each output's set looks like. Every
/// number is the module's own: results 2 to 6 of a one-row call, plus the
/// membership degrees of every term from a second one-row call of a probe
/// system that shares the variables and has one rule per term.
///
///   fazolt::Explainer why(fazolt::System::fromFile("dimmer.json"));
///   fazolt::Explanation e = why.explain({30.0, 0.9});
///   double strength = e.rules[1].firingStrength;
///
/// The constructor reads the record; build an Explainer before sharing it
/// between threads. Its other members only evaluate, so they may then be
/// called from several threads at once.
#ifndef FAZOLT_API_EXPLAIN_H
#define FAZOLT_API_EXPLAIN_H

#include <fazolt/fazolt.h>

#include <string>
#include <string_view>
#include <vector>

namespace fazolt {

/// A term as people read it, from the record and the description's names
/// (a raw record gets mf1, mf2, ...).
struct TermInfo {
    std::string name;            ///< the term's name
    std::string type;            ///< its membership function, e.g. "trimf"
    std::vector<double> params;  ///< the function's parameters
};

/// A variable as people read it (a raw record's are input1.., output1..).
struct VariableInfo {
    std::string name;             ///< the variable's name
    double low = 0.0;             ///< the low end of its range
    double high = 0.0;            ///< the high end of its range
    std::vector<TermInfo> terms;  ///< its terms in order
};

/// A rule as people read it.
struct RuleInfo {
    std::vector<int> antecedent;  ///< per input: term number, 0 not tested, negative "not"
    std::vector<int> consequent;  ///< per output, the same
    bool isAnd = true;            ///< whether the clauses are joined by AND (else OR)
    double weight = 1.0;          ///< the rule's weight, 0 to 1
    /// As the description wrote it when it wrote it as text, otherwise made
    /// from the entries: "if speed is fast and gap is near then pressure is hard with 0.7"
    std::string text;
};

/// The whole system as people read it.
struct SystemInfo {
    std::string name;                               ///< the description's name; empty for a raw record
    std::string type;                               ///< "mamdani" or "sugeno"
    bool isMamdani = false;                         ///< whether type is "mamdani"
    std::string andMethod;                          ///< the AND method's name
    std::string orMethod;                           ///< the OR method's name
    std::string impMethod;                          ///< the implication method's name
    std::string aggMethod;                          ///< the aggregation method's name
    std::string defuzzMethod;                       ///< the defuzzification method's name
    int numSamples = 0;                             ///< Mamdani: sample points per output
    std::vector<VariableInfo> inputs;               ///< the inputs in column order
    std::vector<VariableInfo> outputs;              ///< the outputs in column order
    std::vector<RuleInfo> rules;                    ///< the rules in order
    std::vector<std::vector<double>> samplePoints;  ///< Mamdani: per output
};

/// What one input of the row did.
struct InputExplanation {
    double value = 0.0;               ///< the input's value in the row
    std::vector<double> termDegrees;  ///< per term, its degree at the value
};

/// What one rule did.
struct RuleExplanation {
    std::vector<double> antecedentValues;          ///< result 2, the rule's row
    double firingStrength = 0.0;                   ///< result 5
    std::vector<std::vector<double>> impliedSets;  ///< Mamdani: result 3, per output
    std::vector<double> outputLevels;              ///< Sugeno: result 6, per output
    std::vector<double> weightedOutputs;           ///< Sugeno: result 3, per output
};

/// What one output became.
struct OutputExplanation {
    double value = 0.0;                 ///< result 1
    std::vector<double> aggregatedSet;  ///< Mamdani: the column of result 4
    double sum = 0.0;                   ///< Sugeno: result 4, the weighted rule outputs added
    std::vector<double> termLevels;     ///< Sugeno: each term's level at this row
};

/// One row explained.
struct Explanation {
    std::vector<InputExplanation> inputs;    ///< per input
    std::vector<RuleExplanation> rules;      ///< per rule
    std::vector<OutputExplanation> outputs;  ///< per output
    /// The firing strengths of all rules added in rule order, as the module
    /// adds them: what a Sugeno weighted average divides every output's sum
    /// by, whichever outputs the rules conclude; 0 when no rule fired.
    double totalFiringStrength = 0.0;
    std::vector<Warning> warnings;  ///< the row's warnings
    /// The one-row call's results 1 to 6 as the module returned them (its warnings are above).
    Evaluation evaluation;
};

/// Where an aggregated set is above zero, and how high it gets.
struct SetSummary {
    bool isEmpty = true;       ///< whether no sample is above zero
    double height = 0.0;       ///< the largest sample (NaN samples skipped)
    double supportLow = 0.0;   ///< the first sample point above zero
    double supportHigh = 0.0;  ///< the last sample point above zero
    int numNaN = 0;            ///< how many samples are NaN
};

/// Explains rows of one system.
///
/// Thread safety: once built, explain(), inputTermCurves() and surface() may
/// be called from several threads at once.
class Explainer {
public:
    /// Reads the record and evaluates the system once.
    /// @param system the system to explain
    /// @param writtenRules rule r's text as the description wrote it
    /// (writtenRuleTexts), or empty
    /// @throws Error when the module refuses the system, or
    /// ids::explainUnreadableRecord.
    FAZOLT_API explicit Explainer(System system, const std::vector<std::string> &writtenRules = {});

    /// The system explained.
    const System &system() const { return system_; }
    /// The system as people read it.
    const SystemInfo &info() const { return info_; }

    /// Explains one row.
    /// @param row numInputs values
    /// @param modes how each situation is reported
    /// @throws Error ids::explainInputCount, or an evaluation error.
    /// Complexity: two one-row evaluations.
    FAZOLT_API Explanation explain(const std::vector<double> &row, const DiagnosticModes &modes = {}) const;

    /// Degrees of every term of every input at numPoints evenly spaced values
    /// over each input's range: curves[input][term][point]. One probe call per point.
    FAZOLT_API std::vector<std::vector<std::vector<double>>> inputTermCurves(int numPoints) const;
    /// Degrees of every term of input `input` at each of xs: degrees[point][term].
    /// @param input the input's index
    /// @param xs the points
    /// @return degrees[point][term]
    FAZOLT_API std::vector<std::vector<double>> inputTermDegrees(size_t input, const std::vector<double> &xs) const;
    /// Mamdani: every output term sampled at the output's sample points,
    /// curves[output][term][sample]; empty for Sugeno.
    const std::vector<std::vector<std::vector<double>>> &outputTermCurves() const { return outputCurves_; }

    /// Output `output` over a resolution x resolution grid of inputs x and y
    /// (the others at `row`), evaluated as one call: values[iy * resolution + ix].
    struct Surface {
        std::vector<double> xs;                 ///< the grid's values of input x
        std::vector<double> ys;                 ///< the grid's values of input y
        std::vector<double> values;             ///< the output at each grid point
        std::vector<Warning> warnings;  ///< the call's warnings
    };
    /// The surface of one output over two inputs.
    /// @param x the input along the grid's columns, from 0
    /// @param y the input along the grid's rows, from 0
    /// @param output the output, from 0
    /// @param row values of all inputs; those of x and y are replaced
    /// @param resolution grid points along each side, 2 or more
    /// @param modes how each situation is reported
    /// @throws Error ids::explainBadSurface, or an evaluation error.
    /// Complexity: one call of resolution squared rows.
    FAZOLT_API Surface surface(size_t x, size_t y, size_t output, const std::vector<double> &row, int resolution,
                               const DiagnosticModes &modes = {}) const;

private:
    System system_;
    System probe_;
    SystemInfo info_;
    size_t numInputProbes_ = 0;
    std::vector<std::vector<std::vector<double>>> outputCurves_;

    Evaluation probe(const std::vector<double> &row) const;
};

/// numPoints values from low to high in equal steps, the last exactly high.
FAZOLT_API std::vector<double> evenlySpaced(double low, double high, int numPoints);

/// A rule as text (rule.text); with antecedentValues, the value of each input
/// the rule tests follows in brackets: "... [daylight 1, motion 0.68]".
FAZOLT_API std::string ruleText(const SystemInfo &info, const RuleInfo &rule,
                                const std::vector<double> *antecedentValues);

/// Per rule of a description (JSON text), the rule as written when it is
/// text, empty when it is given by its entries; empty for a raw record or
/// text that is not a description.
FAZOLT_API std::vector<std::string> writtenRuleTexts(std::string_view descriptionJson);

/// An Explainer of the system in a file (as System::fromFile reads it), its
/// rules shown as the file writes them.
/// @throws Error as System::fromFile does.
FAZOLT_API Explainer explainerFromFile(const std::string &path, const std::string &modulePath = "");

/// Where `set`, sampled at `samplePoints`, is above zero, and how high it gets.
FAZOLT_API SetSummary summarizeSet(const std::vector<double> &samplePoints, const std::vector<double> &set);

/// Text as a JSON string, quoted and escaped; bytes that are not UTF-8 become
/// U+FFFD, so that a name from any file keeps its place. The one JSON
/// quoting of the library and the tool.
FAZOLT_API std::string jsonString(const std::string &text);

}  // namespace fazolt

#endif
