// Nested system descriptions to flat system records.
//
// Sections: errors with JSON paths, readers of typed values, variables and
// membership functions, text rules, numeric rules, the record.
#include "fazolt/description.h"

#include "membership/builtInMembership.h"
#include "model/recordFields.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <sstream>

namespace fazolt {
namespace {

using nlohmann::json;

// ---- Errors name the JSON path first.

[[noreturn]] void fail(const std::string &path, const std::string &what) {
    throw orvane::HostError("fazolt:description:Invalid", path + ": " + what);
}

std::string inQuotes(const std::string &s) { return "\"" + s + "\""; }

// ---- Typed readers.

const json *member(const json &object, const char *key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::string readString(const json &value, const std::string &path) {
    if (!value.is_string()) fail(path, "expected a string");
    return value.get<std::string>();
}

std::string readOptionalString(const json &object, const char *key, const std::string &path,
                               const std::string &fallback) {
    const json *v = member(object, key);
    return v == nullptr ? fallback : readString(*v, path + "." + key);
}

double readNumber(const json &value, const std::string &path) {
    if (!value.is_number()) fail(path, "expected a number");
    return value.get<double>();
}

std::vector<double> readNumbers(const json &value, const std::string &path) {
    if (!value.is_array()) fail(path, "expected an array of numbers");
    std::vector<double> numbers;
    for (const json &v : value) {
        if (!v.is_number()) fail(path, "expected an array of numbers");
        numbers.push_back(v.get<double>());
    }
    return numbers;
}

const json &readArray(const json &object, const char *key, const std::string &path) {
    const json *v = member(object, key);
    if (v == nullptr) fail(path, std::string("missing \"") + key + "\"");
    if (!v->is_array()) fail(path + "." + key, "expected an array");
    return *v;
}

// ---- Variables and their membership functions.

struct TermDescription {
    std::string name;
    std::string type;
    std::vector<double> params;
};

struct VariableDescription {
    std::string name;
    double range[2];
    std::vector<TermDescription> terms;
};

// Parameter counts of the built-in functions: a description that gives
// another count is a mistake, since the module reads exactly these.
int expectedParamCount(const std::string &type, bool isSugenoOutput, size_t numInputs) {
    if (isSugenoOutput) {
        if (type == "constant") return 1;
        return static_cast<int>(numInputs) + 1;  // every other type is linear
    }
    const BuiltInMembership *b =
        findBuiltInMembership(reinterpret_cast<const uint8_t *>(type.data()), static_cast<int64_t>(type.size()));
    return b == nullptr ? -1 : b->numParams;
}

VariableDescription readVariable(const json &value, const std::string &path, const std::string &defaultName,
                                 bool isSugenoOutput, size_t numInputs) {
    if (!value.is_object()) fail(path, "expected an object");
    VariableDescription v;
    v.name = readOptionalString(value, "name", path, defaultName);
    const json *range = member(value, "range");
    if (range == nullptr) fail(path, "missing \"range\"");
    if (!range->is_array() || range->size() != 2 || !(*range)[0].is_number() || !(*range)[1].is_number()) {
        fail(path + ".range", "expected two numbers [low, high]");
    }
    std::vector<double> bounds = readNumbers(*range, path + ".range");
    v.range[0] = bounds[0];
    v.range[1] = bounds[1];
    const json *mfs = member(value, "mf");
    if (mfs != nullptr) {
        if (!mfs->is_array()) fail(path + ".mf", "expected an array");
        for (size_t j = 0; j < mfs->size(); ++j) {
            std::string mfPath = path + ".mf[" + std::to_string(j) + "]";
            const json &mf = (*mfs)[j];
            if (!mf.is_object()) fail(mfPath, "expected an object");
            TermDescription t;
            t.name = readOptionalString(mf, "name", mfPath, "mf" + std::to_string(j + 1));
            const json *type = member(mf, "type");
            if (type == nullptr) fail(mfPath, "missing \"type\"");
            t.type = readString(*type, mfPath + ".type");
            const json *params = member(mf, "params");
            if (params == nullptr) fail(mfPath, "missing \"params\"");
            t.params = readNumbers(*params, mfPath + ".params");
            int expected = expectedParamCount(t.type, isSugenoOutput, numInputs);
            if (expected >= 0 && t.params.size() != static_cast<size_t>(expected)) {
                fail(mfPath + ".params", inQuotes(t.type) + " takes " + std::to_string(expected) +
                                             " parameters, got " + std::to_string(t.params.size()));
            }
            v.terms.push_back(std::move(t));
        }
    }
    return v;
}

// ---- Rules.

struct RuleDescription {
    std::vector<double> antecedent;
    std::vector<double> consequent;
    double weight = 1.0;
    double connection = 1.0;
};

// Finds a variable by exact, case-sensitive name.
int findVariable(const std::vector<VariableDescription> &vars, const std::string &name) {
    for (size_t k = 0; k < vars.size(); ++k) {
        if (vars[k].name == name) return static_cast<int>(k);
    }
    return -1;
}

int findTerm(const VariableDescription &var, const std::string &name) {
    for (size_t k = 0; k < var.terms.size(); ++k) {
        if (var.terms[k].name == name) return static_cast<int>(k) + 1;
    }
    return 0;
}

std::vector<std::string> splitWords(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

// One "X is [not] T" clause starting at words[at]; returns the index after it.
size_t readClause(const std::vector<std::string> &words, size_t at, const std::vector<VariableDescription> &vars,
                  const char *kind, std::vector<double> &row, const std::string &path) {
    if (at >= words.size()) fail(path, std::string("expected an ") + kind + " name at the end");
    const std::string &varName = words[at];
    int v = findVariable(vars, varName);
    if (v < 0) fail(path, std::string("unknown ") + kind + " " + inQuotes(varName));
    if (at + 1 >= words.size() || words[at + 1] != "is") fail(path, "expected \"is\" after " + inQuotes(varName));
    size_t next = at + 2;
    bool isNot = false;
    if (next < words.size() && words[next] == "not") {
        isNot = true;
        ++next;
    }
    if (next >= words.size()) fail(path, "expected a term after " + inQuotes(varName) + " is");
    int term = findTerm(vars[static_cast<size_t>(v)], words[next]);
    if (term == 0) {
        fail(path, "unknown term " + inQuotes(words[next]) + " of " + kind + " " + inQuotes(varName));
    }
    if (row[static_cast<size_t>(v)] != 0.0) fail(path, inQuotes(varName) + " appears twice");
    row[static_cast<size_t>(v)] = isNot ? -term : term;
    return next + 1;
}

RuleDescription readTextRule(const std::string &text, const std::vector<VariableDescription> &inputs,
                             const std::vector<VariableDescription> &outputs, const std::string &path) {
    std::vector<std::string> words = splitWords(text);
    RuleDescription rule;
    rule.antecedent.assign(inputs.size(), 0.0);
    rule.consequent.assign(outputs.size(), 0.0);
    if (words.empty() || words[0] != "if") fail(path, "a text rule starts with \"if\"");
    size_t at = readClause(words, 1, inputs, "input", rule.antecedent, path);
    std::string connective;
    while (at < words.size() && words[at] != "then") {
        if (words[at] != "and" && words[at] != "or") {
            fail(path, "expected \"and\", \"or\" or \"then\", got " + inQuotes(words[at]));
        }
        if (!connective.empty() && connective != words[at]) fail(path, "a rule uses either \"and\" or \"or\", not both");
        connective = words[at];
        at = readClause(words, at + 1, inputs, "input", rule.antecedent, path);
    }
    if (at >= words.size()) fail(path, "missing \"then\"");
    rule.connection = connective == "or" ? 2.0 : 1.0;
    at = readClause(words, at + 1, outputs, "output", rule.consequent, path);
    while (at < words.size() && words[at] == "and") at = readClause(words, at + 1, outputs, "output", rule.consequent, path);
    if (at < words.size()) {
        if (words[at] != "with" || at + 2 != words.size()) {
            fail(path, "unexpected " + inQuotes(words[at]) + " after the consequent (expected \"and\" or \"with W\")");
        }
        const std::string &w = words[at + 1];
        size_t used = 0;
        double weight = 0.0;
        try {
            weight = std::stod(w, &used);
        } catch (const std::exception &) {
            used = 0;
        }
        if (used != w.size()) fail(path, "expected a number after \"with\", got " + inQuotes(w));
        rule.weight = weight;
    }
    return rule;
}

// Entries select a term by |entry| rounded to the nearest whole number; one
// past the variable's terms would make the module read outside its lists.
void checkTermIndices(const std::vector<double> &entries, const std::vector<VariableDescription> &vars,
                      const char *kind, const std::string &path) {
    for (size_t k = 0; k < entries.size(); ++k) {
        double index = std::round(std::fabs(entries[k]));
        if (index > static_cast<double>(vars[k].terms.size())) {
            fail(path + "[" + std::to_string(k) + "]",
                 std::string(kind) + " " + inQuotes(vars[k].name) + " has " + std::to_string(vars[k].terms.size()) +
                     " terms, got index " + orvane::formatDouble(index, false));
        }
    }
}

RuleDescription readNumericRule(const json &value, const std::vector<VariableDescription> &inputs,
                                const std::vector<VariableDescription> &outputs, const std::string &path) {
    size_t numInputs = inputs.size();
    size_t numOutputs = outputs.size();
    RuleDescription rule;
    const json *a = member(value, "antecedent");
    if (a == nullptr) fail(path, "missing \"antecedent\"");
    rule.antecedent = readNumbers(*a, path + ".antecedent");
    if (rule.antecedent.size() != numInputs) {
        fail(path + ".antecedent", "expected " + std::to_string(numInputs) + " entries (one per input), got " +
                                       std::to_string(rule.antecedent.size()));
    }
    const json *c = member(value, "consequent");
    if (c == nullptr) fail(path, "missing \"consequent\"");
    rule.consequent = readNumbers(*c, path + ".consequent");
    if (rule.consequent.size() != numOutputs) {
        fail(path + ".consequent", "expected " + std::to_string(numOutputs) + " entries (one per output), got " +
                                       std::to_string(rule.consequent.size()));
    }
    checkTermIndices(rule.antecedent, inputs, "input", path + ".antecedent");
    checkTermIndices(rule.consequent, outputs, "output", path + ".consequent");
    if (const json *w = member(value, "weight")) rule.weight = readNumber(*w, path + ".weight");
    if (const json *k = member(value, "connection")) rule.connection = readNumber(*k, path + ".connection");
    return rule;
}

// ---- The record.

orvane::Value uint8Text(const std::string &s) { return orvane::Value::uint8Row(s); }

orvane::Value int32Scalar(int64_t v) { return orvane::Value::int32Scalar(static_cast<int32_t>(v)); }

orvane::Value variablesValue(const std::vector<VariableDescription> &vars) {
    orvane::Value value = orvane::Value::structMatrix(
        {1, static_cast<int64_t>(vars.size())}, std::vector<std::string>(kVariableRecordFields, kVariableRecordFields + 2));
    for (size_t i = 0; i < vars.size(); ++i) {
        const std::vector<TermDescription> &terms = vars[i].terms;
        orvane::Value mfs = orvane::Value::structMatrix(
            {1, static_cast<int64_t>(terms.size())}, std::vector<std::string>(kMFRecordFields, kMFRecordFields + 4));
        for (size_t j = 0; j < terms.size(); ++j) {
            auto e = static_cast<int64_t>(j);
            mfs.setField(e, "type", uint8Text(terms[j].type));
            mfs.setField(e, "origTypeLength", int32Scalar(static_cast<int64_t>(terms[j].type.size())));
            mfs.setField(e, "params",
                         orvane::Value::doubleMatrix(1, static_cast<int64_t>(terms[j].params.size()), terms[j].params));
            mfs.setField(e, "origParamLength", int32Scalar(static_cast<int64_t>(terms[j].params.size())));
        }
        value.setField(static_cast<int64_t>(i), "mf", mfs);
        value.setField(static_cast<int64_t>(i), "origNumMF", int32Scalar(static_cast<int64_t>(terms.size())));
    }
    return value;
}

orvane::Value rangesValue(const std::vector<VariableDescription> &vars) {
    auto n = static_cast<int64_t>(vars.size());
    std::vector<double> data(vars.size() * 2);
    for (size_t i = 0; i < vars.size(); ++i) {
        data[i] = vars[i].range[0];
        data[i + vars.size()] = vars[i].range[1];
    }
    return orvane::Value::doubleMatrix(n, 2, data);
}

void countsValues(const std::vector<VariableDescription> &vars, orvane::Value &counts, orvane::Value &cumulative) {
    std::vector<int32_t> n, cum;
    int64_t total = 0;
    for (const VariableDescription &v : vars) {
        n.push_back(static_cast<int32_t>(v.terms.size()));
        cum.push_back(static_cast<int32_t>(total));
        total += static_cast<int64_t>(v.terms.size());
    }
    counts = orvane::Value::int32Row(n);
    cumulative = orvane::Value::int32Row(cum);
}

// Row o: lo + (k-1)*step for k = 1..N-1, and hi exactly at k = N, since
// lo + (N-1)*step can miss hi.
orvane::Value samplePointsValue(const std::vector<VariableDescription> &outputs, int64_t numSamples) {
    auto numOutputs = static_cast<int64_t>(outputs.size());
    std::vector<double> data(static_cast<size_t>(numOutputs * numSamples));
    for (int64_t o = 0; o < numOutputs; ++o) {
        double lo = outputs[static_cast<size_t>(o)].range[0];
        double hi = outputs[static_cast<size_t>(o)].range[1];
        double step = (hi - lo) / static_cast<double>(numSamples - 1);
        for (int64_t k = 0; k < numSamples - 1; ++k) {
            data[static_cast<size_t>(o + k * numOutputs)] = lo + static_cast<double>(k) * step;
        }
        data[static_cast<size_t>(o + (numSamples - 1) * numOutputs)] = hi;
    }
    return orvane::Value::doubleMatrix(numOutputs, numSamples, data);
}

orvane::Value int32Pair(int64_t a, int64_t b) {
    return orvane::Value::int32Row({static_cast<int32_t>(a), static_cast<int32_t>(b)});
}

}  // namespace

const std::vector<std::string> &systemRecordFieldNames() {
    static const std::vector<std::string> names(kSystemRecordFields, kSystemRecordFields + kNumSystemRecordFields);
    return names;
}

BuiltSystem buildSystem(std::string_view descriptionJson) {
    json d;
    try {
        d = json::parse(descriptionJson.begin(), descriptionJson.end());
    } catch (const json::exception &e) {
        // A syntax error or a number beyond the double range ("1e400").
        // what() starts with nlohmann's own tag, "[json.exception.parse_error.101] ".
        std::string what = e.what();
        std::string::size_type tagEnd = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && tagEnd != std::string::npos) what.erase(0, tagEnd + 2);
        throw orvane::HostError("fazolt:description:Malformed", "malformed JSON: " + what);
    }
    if (!d.is_object()) fail("(top level)", "expected an object");

    BuiltSystem built;
    built.name = readOptionalString(d, "name", "", "");
    const json *type = member(d, "type");
    if (type == nullptr) fail("type", "missing; expected \"mamdani\" or \"sugeno\"");
    built.type = readString(*type, "type");
    bool isMamdani = built.type == "mamdani";

    std::string andMethod = readOptionalString(d, "andMethod", "", isMamdani ? "min" : "prod");
    std::string orMethod = readOptionalString(d, "orMethod", "", isMamdani ? "max" : "probor");
    std::string impMethod = readOptionalString(d, "impMethod", "", isMamdani ? "min" : "prod");
    std::string aggMethod = readOptionalString(d, "aggMethod", "", isMamdani ? "max" : "sum");
    std::string defuzzMethod = readOptionalString(d, "defuzzMethod", "", isMamdani ? "centroid" : "wtaver");

    int64_t numSamples = 101;
    if (const json *n = member(d, "numSamples")) {
        if (!n->is_number_integer() && !(n->is_number_float() && std::floor(n->get<double>()) == n->get<double>())) {
            fail("numSamples", "expected a whole number from 2 to 1000000");
        }
        double v = n->get<double>();
        if (v < 2 || v > 1.0e6) fail("numSamples", "expected a whole number from 2 to 1000000");
        numSamples = static_cast<int64_t>(v);
    }

    std::vector<VariableDescription> inputs, outputs;
    const json &inputsJson = readArray(d, "inputs", "(top level)");
    for (size_t i = 0; i < inputsJson.size(); ++i) {
        inputs.push_back(readVariable(inputsJson[i], "inputs[" + std::to_string(i) + "]",
                                      "input" + std::to_string(i + 1), false, 0));
    }
    const json &outputsJson = readArray(d, "outputs", "(top level)");
    for (size_t o = 0; o < outputsJson.size(); ++o) {
        outputs.push_back(readVariable(outputsJson[o], "outputs[" + std::to_string(o) + "]",
                                       "output" + std::to_string(o + 1), !isMamdani, inputs.size()));
    }

    std::vector<RuleDescription> rules;
    const json *rulesJson = member(d, "rules");
    if (rulesJson != nullptr) {
        if (!rulesJson->is_array()) fail("rules", "expected an array");
        for (size_t r = 0; r < rulesJson->size(); ++r) {
            std::string path = "rules[" + std::to_string(r) + "]";
            const json &rule = (*rulesJson)[r];
            if (rule.is_string()) {
                rules.push_back(readTextRule(rule.get<std::string>(), inputs, outputs, path));
            } else if (rule.is_object()) {
                rules.push_back(readNumericRule(rule, inputs, outputs, path));
            } else {
                fail(path, "expected a text rule or an object with \"antecedent\" and \"consequent\"");
            }
        }
    }

    auto numInputs = static_cast<int64_t>(inputs.size());
    auto numOutputs = static_cast<int64_t>(outputs.size());
    auto numRules = static_cast<int64_t>(rules.size());
    std::vector<double> antecedent(static_cast<size_t>(numRules * numInputs));
    std::vector<double> consequent(static_cast<size_t>(numRules * numOutputs));
    std::vector<double> connection, weight;
    for (int64_t r = 0; r < numRules; ++r) {
        const RuleDescription &rule = rules[static_cast<size_t>(r)];
        for (int64_t i = 0; i < numInputs; ++i) antecedent[static_cast<size_t>(r + i * numRules)] = rule.antecedent[static_cast<size_t>(i)];
        for (int64_t o = 0; o < numOutputs; ++o) consequent[static_cast<size_t>(r + o * numRules)] = rule.consequent[static_cast<size_t>(o)];
        connection.push_back(rule.connection);
        weight.push_back(rule.weight);
    }

    for (const VariableDescription &v : inputs) built.inputNames.push_back(v.name);
    for (const VariableDescription &v : outputs) built.outputNames.push_back(v.name);

    orvane::Value record = orvane::Value::structMatrix({1, 1}, systemRecordFieldNames());
    record.setField(0, "type", uint8Text(built.type));
    record.setField(0, "andMethod", uint8Text(andMethod));
    record.setField(0, "orMethod", uint8Text(orMethod));
    record.setField(0, "defuzzMethod", uint8Text(defuzzMethod));
    record.setField(0, "impMethod", uint8Text(impMethod));
    record.setField(0, "aggMethod", uint8Text(aggMethod));
    record.setField(0, "inputRange", rangesValue(inputs));
    record.setField(0, "outputRange", rangesValue(outputs));
    record.setField(0, "inputMF", variablesValue(inputs));
    record.setField(0, "outputMF", variablesValue(outputs));
    record.setField(0, "antecedent", orvane::Value::doubleMatrix(numRules, numInputs, antecedent));
    record.setField(0, "consequent", orvane::Value::doubleMatrix(numRules, numOutputs, consequent));
    record.setField(0, "connection", orvane::Value::doubleMatrix(numRules, 1, connection));
    record.setField(0, "weight", orvane::Value::doubleMatrix(numRules, 1, weight));
    record.setField(0, "numSamples", int32Scalar(numSamples));
    record.setField(0, "numInputs", int32Scalar(numInputs));
    record.setField(0, "numOutputs", int32Scalar(numOutputs));
    record.setField(0, "numRules", int32Scalar(numRules));
    orvane::Value counts, cumulative;
    countsValues(inputs, counts, cumulative);
    record.setField(0, "numInputMFs", counts);
    record.setField(0, "numCumInputMFs", cumulative);
    countsValues(outputs, counts, cumulative);
    record.setField(0, "numOutputMFs", counts);
    record.setField(0, "numCumOutputMFs", cumulative);
    record.setField(0, "outputSamplePoints", samplePointsValue(outputs, numSamples));
    if (isMamdani) {
        record.setField(0, "orrSize", int32Pair(numSamples, numRules * numOutputs));
        record.setField(0, "aggSize", int32Pair(numSamples, numOutputs));
    } else {
        record.setField(0, "orrSize", int32Pair(numRules, numOutputs));
        record.setField(0, "aggSize", int32Pair(1, numOutputs));
    }
    built.record = record;
    return built;
}

orvane::Value makeDiagnostics(uint8_t outOfRange, uint8_t noRuleFired, uint8_t emptySet, std::string_view model,
                              std::string_view block, uint8_t draxilDiagnostic) {
    orvane::Value d = orvane::Value::structMatrix(
        {1, 1}, {"DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"});
    d.setField(0, "DraxilDiagnostic", orvane::Value::uint8Scalar(draxilDiagnostic));
    d.setField(0, "Model", orvane::Value::uint8Row(model));
    d.setField(0, "Block", orvane::Value::uint8Row(block));
    d.setField(0, "OutOfRangeInputValue", orvane::Value::uint8Scalar(outOfRange));
    d.setField(0, "NoRuleFired", orvane::Value::uint8Scalar(noRuleFired));
    d.setField(0, "EmptyOutputFuzzySet", orvane::Value::uint8Scalar(emptySet));
    return d;
}

}  // namespace fazolt
