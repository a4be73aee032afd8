// Explanations of one evaluation: which terms an input row touches, which
// rules fire and how strongly, and what each output's set looks like. Every
// number is the module's own: results 2 to 6 of a one-row call, plus the
// membership degrees of every term from a second one-row call of a probe
// system that shares the variables and has one rule per term.
//
//   fazolt::Explainer why(fazolt::System::fromFile("dimmer.json"));
//   fazolt::Explanation e = why.explain({30.0, 0.9});
//   double strength = e.rules[1].firingStrength;
//
// The constructor reads the record; build an Explainer before sharing it
// between threads. Its other members only evaluate, so they may then be
// called from several threads at once.
#ifndef FAZOLT_API_EXPLAIN_H
#define FAZOLT_API_EXPLAIN_H

#include <fazolt/fazolt.h>

#include <string>
#include <vector>

namespace fazolt {

// The system as people read it, from the record and the description's names
// (a raw record gets input1.., output1.. and mf1..).
struct TermInfo {
    std::string name;
    std::string type;
    std::vector<double> params;
};

struct VariableInfo {
    std::string name;
    double low = 0.0;
    double high = 0.0;
    std::vector<TermInfo> terms;
};

struct RuleInfo {
    std::vector<int> antecedent;  // per input: term number, 0 not tested, negative "not"
    std::vector<int> consequent;  // per output, the same
    bool isAnd = true;
    double weight = 1.0;
    std::string text;  // "if speed is fast and gap is near then pressure is hard with 0.7"
};

struct SystemInfo {
    std::string name;
    std::string type;
    bool isMamdani = false;
    std::string andMethod, orMethod, impMethod, aggMethod, defuzzMethod;
    int numSamples = 0;
    std::vector<VariableInfo> inputs;
    std::vector<VariableInfo> outputs;
    std::vector<RuleInfo> rules;
    std::vector<std::vector<double>> samplePoints;  // Mamdani: per output
};

struct InputExplanation {
    double value = 0.0;
    std::vector<double> termDegrees;  // per term
};

struct RuleExplanation {
    std::vector<double> antecedentValues;          // result 2, the rule's row
    double firingStrength = 0.0;                   // result 5
    std::vector<std::vector<double>> impliedSets;  // Mamdani: result 3, per output
    std::vector<double> outputLevels;              // Sugeno: result 6, per output
    std::vector<double> weightedOutputs;           // Sugeno: result 3, per output
};

struct OutputExplanation {
    double value = 0.0;                 // result 1
    std::vector<double> aggregatedSet;  // Mamdani: the column of result 4
    double sum = 0.0;                   // Sugeno: result 4, the weighted rule outputs added
    std::vector<double> termLevels;     // Sugeno: each term's level at this row
};

struct Explanation {
    std::vector<InputExplanation> inputs;
    std::vector<RuleExplanation> rules;
    std::vector<OutputExplanation> outputs;
    // The firing strengths of all rules added in rule order, as the module
    // adds them: what a Sugeno weighted average divides every output's sum
    // by, whichever outputs the rules conclude; 0 when no rule fired.
    double totalFiringStrength = 0.0;
    std::vector<orvane::Warning> warnings;
};

// Where an aggregated set is above zero, and how high it gets.
struct SetSummary {
    bool isEmpty = true;
    double height = 0.0;      // the largest sample (NaN samples skipped)
    double supportLow = 0.0;  // first and last sample points above zero
    double supportHigh = 0.0;
    int numNaN = 0;
};

class Explainer {
public:
    // Raises orvane::HostError when the module refuses the system.
    FAZOLT_API explicit Explainer(System system);

    const System &system() const { return system_; }
    const SystemInfo &info() const { return info_; }

    // One row, numInputs values; raises orvane::HostError on an evaluation error.
    FAZOLT_API Explanation explain(const std::vector<double> &row, const DiagnosticModes &modes = {}) const;

    // Degrees of every term of every input at numPoints evenly spaced values
    // over each input's range: curves[input][term][point]. One probe call per point.
    FAZOLT_API std::vector<std::vector<std::vector<double>>> inputTermCurves(int numPoints) const;
    // Mamdani: every output term sampled at the output's sample points,
    // curves[output][term][sample]; empty for Sugeno.
    const std::vector<std::vector<std::vector<double>>> &outputTermCurves() const { return outputCurves_; }

    // Output `output` over a resolution x resolution grid of inputs x and y
    // (the others at `row`), evaluated as one call: values[iy * resolution + ix].
    struct Surface {
        std::vector<double> xs, ys, values;
        std::vector<orvane::Warning> warnings;
    };
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

// numPoints values from low to high in equal steps, the last exactly high.
FAZOLT_API std::vector<double> evenlySpaced(double low, double high, int numPoints);

// A rule as text; with antecedentValues, each tested input's value follows
// its clause in parentheses.
FAZOLT_API std::string ruleText(const SystemInfo &info, const RuleInfo &rule,
                                const std::vector<double> *antecedentValues);

FAZOLT_API SetSummary summarizeSet(const std::vector<double> &samplePoints, const std::vector<double> &set);

}  // namespace fazolt

#endif
