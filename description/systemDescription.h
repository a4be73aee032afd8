// A system described: what the JSON reader and the FCL and FLL readers fill,
// what the one builder makes the record from, and what every writer (JSON,
// FCL, FLL, the C export) reads. No text passes between a reader and the
// builder. Internal to the library: not installed.
#ifndef FAZOLT_DESCRIPTION_SYSTEM_DESCRIPTION_H
#define FAZOLT_DESCRIPTION_SYSTEM_DESCRIPTION_H

#include <fazolt/defaults.h>
#include <fazolt/description.h>
#include <fazolt/explain.h>
#include <fazolt/formats.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fazolt {

// The same records as a loaded system's variables, with what only a
// description says.
struct VariableDescription : VariableInfo {
    bool clamp = false;                  // "clamp": the value bounded to the range outside the module's call
    std::optional<double> defaultValue;  // an output's "default": its value when no rule fired
};

// Entries as in a numeric rule: 1-based term numbers, 0 not tested, negative NOT.
struct RuleDescription {
    std::vector<double> antecedent;
    std::vector<double> consequent;
    double connection = 1.0;  // 1 and, 2 or
    double weight = 1.0;
};

struct SystemDescription {
    std::string name;
    std::string type;  // "mamdani" or "sugeno"
    std::string andMethod, orMethod, impMethod, aggMethod, defuzzMethod;
    int64_t numSamples = defaults::kNumSamples;
    std::vector<VariableDescription> inputs;
    std::vector<VariableDescription> outputs;
    std::vector<RuleDescription> rules;
    std::vector<FormatWarning> warnings;  // from a file reader

    bool isMamdani() const { return type == "mamdani"; }
};

// The methods a description leaves out, by system type.
void setDefaultMethods(SystemDescription &description);

// Parses a nested description (JSON text) and checks it as it reads; every
// error is a "fazolt:description:..." HostError that starts with the JSON
// path of the bad value.
SystemDescription descriptionFromJson(std::string_view json, HostFunctionNames names);

// The checks of descriptionFromJson for a description that a file reader
// filled, with the same messages and paths: what the reader let pass is
// refused as if the description had been written as JSON.
void checkDescription(const SystemDescription &description, HostFunctionNames names);

// The record and the names, from a checked description.
BuiltSystem builtSystemOf(const SystemDescription &description);

// The description in the tool's layout: text rules where they say the same,
// every method spelt out.
std::string descriptionToJson(const SystemDescription &description);

// A rule as the JSON writer gives it: its text form when that says the same
// rule, or "" when only the numeric form can (an empty side, a fractional
// index, a connection other than 1 or 2, a name that is not one word).
std::string ruleText(const RuleDescription &rule, const SystemDescription &description);

// A rule in the words the languages share: "if x is a and y is not b then
// z is c with 0.5". What they cannot say goes to refuse(reason), which must
// not return.
// termWords, when given, may spell a term another way (a hedged term as its
// hedges and base term); "" keeps its name.
using TermWords = std::function<std::string(const VariableDescription &, const TermInfo &)>;
std::string ruleWords(const RuleDescription &rule, const SystemDescription &description, bool mayNegateConclusion,
                      const std::function<void(const std::string &)> &refuse, const TermWords &termWords = {});

// Shortest text that reads back to the same double.
std::string numberText(double v);

}  // namespace fazolt

#endif
