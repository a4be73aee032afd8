// Nested system descriptions (JSON text) read into the description type,
// checked, and built into flat system records.
//
// Sections: errors with JSON paths, readers of typed values, keys and names,
// variables and membership functions, methods, text rules, numeric rules,
// the record, the builder.
#include "description/systemDescription.h"
#include "common/errorBoundary.h"
#include "common/numbers.h"
#include "common/words.h"
#include "membership/builtInMembership.h"
#include "model/recordFields.h"

#include <fazolt/defaults.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace fazolt {
namespace {

using nlohmann::json;

// ---- Errors name the JSON path first.

[[noreturn]] void fail(const std::string &path, const std::string &what) {
    throw orvane::HostError(ids::descriptionInvalid, path + ": " + what);
}

std::string inQuotes(const std::string &s) { return "\"" + s + "\""; }

std::string childPath(const std::string &path, const std::string &key) { return path.empty() ? key : path + "." + key; }

std::string itemPath(const std::string &path, size_t index) { return path + "[" + std::to_string(index) + "]"; }

std::string joined(const std::vector<std::string> &names) {
    std::string out;
    for (const std::string &n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

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
    return v == nullptr ? fallback : readString(*v, childPath(path, key));
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
    if (!v->is_array()) fail(childPath(path, key), "expected an array");
    return *v;
}

// ---- Keys and names: a typo is an error with the name meant, when one
// name is close enough to be a likely fix.

// Every key of `object` must be one of `known`: a misspelt key would
// otherwise leave its default in force without a word.
void checkKeys(const json &object, const std::vector<std::string> &known, const std::string &path) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::find(known.begin(), known.end(), it.key()) != known.end()) continue;
        std::string hint = closestNameSuggestion(it.key(), known);
        fail(childPath(path, it.key()), "unknown key" + (hint.empty() ? "; expected one of " + joined(known) : hint));
    }
}

// ---- Variables and their membership functions.

enum class VariableKind { input, mamdaniOutput, sugenoOutput };

// The built-in membership functions and their parameter counts: a
// description that gives another count is a mistake, since the module
// reads exactly these.
const std::vector<std::pair<std::string, int>> &builtInMembershipFunctions() {
    static const std::vector<std::pair<std::string, int>> functions = [] {
        std::vector<std::pair<std::string, int>> list;  // the module's own table
        for (const BuiltInMembership &b : kBuiltInMemberships) list.emplace_back(b.name, b.numParams);
        return list;
    }();
    return functions;
}

std::vector<std::string> builtInMembershipNames() {
    std::vector<std::string> names;
    for (const auto &[name, count] : builtInMembershipFunctions()) names.push_back(name);
    return names;
}

// The parameter count the module reads for `type`, or -1 for a host function.
int expectedParamCount(const std::string &type, VariableKind kind, size_t numInputs) {
    if (kind == VariableKind::sugenoOutput) return type == "constant" ? 1 : static_cast<int>(numInputs) + 1;
    for (const auto &[name, count] : builtInMembershipFunctions()) {
        if (name == type) return count;
    }
    return -1;
}

// A Sugeno output is constant or linear, nothing else: the module takes
// every other name for linear. Elsewhere a name that is not built in must
// be a host function, or the first row would fail deep in the evaluation.
void checkTermType(const std::string &type, VariableKind kind, HostFunctionNames names, const std::string &path) {
    if (kind == VariableKind::sugenoOutput) {
        if (type != "constant" && type != "linear") {
            fail(path, "a Sugeno output term is \"constant\" or \"linear\", got " + inQuotes(type));
        }
        return;
    }
    if (expectedParamCount(type, kind, 0) >= 0) return;
    if (names == HostFunctionNames::unchecked || orvane::hasFunction(type)) return;
    std::vector<std::string> builtIn = builtInMembershipNames();
    fail(path, "unknown membership function " + inQuotes(type) + closestNameSuggestion(type, builtIn) +
                   " (built in: " + joined(builtIn) + "; any other name must be a registered host function)");
}

// Low below high, and a width that is a finite number: the sample points
// and the range midpoint are computed from it.
void checkRange(double lo, double hi, const std::string &path) {
    std::string shown = "[" + orvane::formatDouble(lo, false) + ", " + orvane::formatDouble(hi, false) + "]";
    if (!(lo < hi)) fail(path, "the low end must be below the high end, got " + shown);
    if (!std::isfinite(hi - lo)) fail(path, "the width high - low is beyond the double range, got " + shown);
}

// The formats' point list [x1 y1 x2 y2 ...]: checked here so that a
// description that would fail on its first row, or be written as a file no
// reader takes, is refused where it was written.
void checkPointList(const std::vector<double> &p, const std::string &path) {
    if (p.size() < 4 || p.size() % 2 != 0)
        fail(path, "\"pointsmf\" takes pairs x y, two or more, got " + std::to_string(p.size()) + " numbers");
    for (size_t k = 2; k < p.size(); k += 2) {
        if (!(p[k] >= p[k - 2])) {
            fail(path, "the points' x must not decrease (" + orvane::formatDouble(p[k], false) + " after " +
                           orvane::formatDouble(p[k - 2], false) + ")");
        }
    }
}

// A term's parameters: as many as its function reads, and a point list in order.
void checkTermParams(const TermInfo &t, VariableKind kind, size_t numInputs, const std::string &path) {
    int expected = expectedParamCount(t.type, kind, numInputs);
    if (expected >= 0 && t.params.size() != static_cast<size_t>(expected)) {
        fail(path + ".params", inQuotes(t.type) + " takes " + std::to_string(expected) + " parameters, got " +
                                   std::to_string(t.params.size()));
    }
    if (t.type == "pointsmf") checkPointList(t.params, path + ".params");
}

TermInfo readTerm(const json &mf, const std::string &path, size_t index, VariableKind kind, size_t numInputs,
                  HostFunctionNames names) {
    if (!mf.is_object()) fail(path, "expected an object");
    checkKeys(mf, {"name", "type", "params"}, path);
    TermInfo t;
    t.name = readOptionalString(mf, "name", path, "mf" + std::to_string(index + 1));
    const json *type = member(mf, "type");
    if (type == nullptr) fail(path, "missing \"type\"");
    t.type = readString(*type, path + ".type");
    checkTermType(t.type, kind, names, path + ".type");
    const json *params = member(mf, "params");
    if (params == nullptr) fail(path, "missing \"params\"");
    t.params = readNumbers(*params, path + ".params");
    checkTermParams(t, kind, numInputs, path);
    return t;
}

// Two variables or terms of one name: a rule could reach only the first,
// and the output header would show the name twice. A hash of the names seen
// keeps a variable of 100,000 terms from comparing every pair.
template <typename Item>
void checkUniqueNames(const std::vector<Item> &items, const std::string &path, const char *kind) {
    std::unordered_map<std::string_view, size_t> firstIndex;
    firstIndex.reserve(items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        auto [seen, isNew] = firstIndex.try_emplace(items[k].name, k);
        if (!isNew) {
            fail(itemPath(path, k), std::string("duplicate ") + kind + " name " + inQuotes(items[k].name) + " (also " +
                                        itemPath(path, seen->second) + ")");
        }
    }
}

VariableDescription readVariable(const json &value, const std::string &path, const std::string &defaultName,
                                 VariableKind kind, size_t numInputs, HostFunctionNames names) {
    if (!value.is_object()) fail(path, "expected an object");
    bool isOutput = kind != VariableKind::input;
    checkKeys(value,
              isOutput ? std::vector<std::string>{"name", "range", "mf", "clamp", "default"}
                       : std::vector<std::string>{"name", "range", "mf", "clamp"},
              path);
    VariableDescription v;
    v.name = readOptionalString(value, "name", path, defaultName);
    if (const json *d = member(value, "default"); d != nullptr) {
        // JSON has no NaN: the text "nan" stands for it.
        if (d->is_number()) {
            v.defaultValue = d->get<double>();
        } else if (d->is_string() && d->get<std::string>() == "nan") {
            v.defaultValue = std::numeric_limits<double>::quiet_NaN();
        } else {
            fail(path + ".default", "expected a number or \"nan\"");
        }
    }
    if (const json *clamp = member(value, "clamp"); clamp != nullptr) {
        if (!clamp->is_boolean()) fail(path + ".clamp", "expected true or false");
        v.clamp = clamp->get<bool>();
    }
    const json *range = member(value, "range");
    if (range == nullptr) fail(path, "missing \"range\"");
    if (!range->is_array() || range->size() != 2 || !(*range)[0].is_number() || !(*range)[1].is_number()) {
        fail(path + ".range", "expected two numbers [low, high]");
    }
    std::vector<double> bounds = readNumbers(*range, path + ".range");
    checkRange(bounds[0], bounds[1], path + ".range");
    v.low = bounds[0];
    v.high = bounds[1];
    const json *mfs = member(value, "mf");
    if (mfs != nullptr) {
        if (!mfs->is_array()) fail(path + ".mf", "expected an array");
        for (size_t j = 0; j < mfs->size(); ++j) {
            v.terms.push_back(readTerm((*mfs)[j], itemPath(path + ".mf", j), j, kind, numInputs, names));
        }
    }
    checkUniqueNames(v.terms, path + ".mf", "term");
    return v;
}

std::vector<VariableDescription> readVariables(const json &d, const char *key, VariableKind kind, size_t numInputs,
                                               HostFunctionNames names) {
    const json &list = readArray(d, key, "(top level)");
    std::string defaultPrefix = kind == VariableKind::input ? "input" : "output";
    std::vector<VariableDescription> vars;
    for (size_t i = 0; i < list.size(); ++i) {
        vars.push_back(
            readVariable(list[i], itemPath(key, i), defaultPrefix + std::to_string(i + 1), kind, numInputs, names));
    }
    checkUniqueNames(vars, key, kind == VariableKind::input ? "input" : "output");
    return vars;
}

// ---- Methods.

struct MethodKey {
    const char *key;
    const char *role;
    std::vector<std::string> builtIns;
    const char *defaults::Methods::*byDefault;  // in defaults::kMamdaniMethods and kSugenoMethods
    bool isCalledWithTwoValues;                 // as a host function: implication and defuzzification
    std::string SystemDescription::*field;

    const char *defaultFor(bool isMamdani) const {
        return (isMamdani ? defaults::kMamdaniMethods : defaults::kSugenoMethods).*byDefault;
    }
};

const std::vector<MethodKey> &methodKeys() {
    static const std::vector<MethodKey> keys = {
        {"andMethod", "AND", {"min", "prod"}, &defaults::Methods::andMethod, false, &SystemDescription::andMethod},
        {"orMethod", "OR", {"max", "probor", "sum"}, &defaults::Methods::orMethod, false, &SystemDescription::orMethod},
        {"impMethod", "implication", {"min", "prod"}, &defaults::Methods::impMethod, true, &SystemDescription::impMethod},
        {"aggMethod", "aggregation", {"max", "probor", "sum"}, &defaults::Methods::aggMethod, false,
         &SystemDescription::aggMethod},
        {"defuzzMethod",
         "defuzzification",
         {"centroid", "bisector", "mom", "som", "lom", "wtaver", "wtsum"},
         &defaults::Methods::defuzzMethod,
         true,
         &SystemDescription::defuzzMethod},
    };
    return keys;
}

// A name that is not built in for its role goes to the host function of
// that name: "max" as the implication is the host's max of the two values.
// But the built-in methods that reduce one list of values ("sum" as the
// implication) would reach the host's function with two, and fail at the
// first row; and any other name must be a host function the host knows now.
void checkMethodName(const MethodKey &method, const std::string &name, HostFunctionNames names) {
    const std::vector<std::string> &own = method.builtIns;
    if (std::find(own.begin(), own.end(), name) != own.end()) return;
    std::string allowed = " (built in: " + joined(own) + "; any other name must be a registered host function)";
    std::string article = std::string("AEIOUaeiou").find(method.role[0]) != std::string::npos ? "an " : "a ";
    bool isOneListReduction = name == "sum" || name == "prod" || name == "probor";
    if (method.isCalledWithTwoValues && isOneListReduction) {
        fail(method.key, inQuotes(name) + " is not " + article + method.role + " method" + allowed);
    }
    if (names == HostFunctionNames::unchecked || orvane::hasFunction(name)) return;
    fail(method.key,
         "unknown " + std::string(method.role) + " method " + inQuotes(name) + closestNameSuggestion(name, own) + allowed);
}

// The weighted methods read a Mamdani set as a Sugeno one: "wtaver" gives
// the low end times the first entry of a least-squares division, 0 unless
// the first sample point is its pivot, and "wtsum" the low end, whatever the
// rules. The module keeps that meaning for records; no description means it.
void checkMamdaniMethod(const MethodKey &method, const std::string &name) {
    if (std::string(method.key) != "defuzzMethod" || (name != "wtaver" && name != "wtsum")) return;
    std::string gives = name == "wtaver" ? "0 for almost every row" : "its range's low end for every row";
    fail(method.key, inQuotes(name) + " is a Sugeno method: a Mamdani output would be " + gives +
                         ", whatever the rules; use \"centroid\"");
}

// ---- Rules.

// The variables a rule refers to, and whether its consequent may negate:
// a Sugeno output level has no complement, and the module refuses it.
struct RuleContext {
    const std::vector<VariableDescription> &inputs;
    const std::vector<VariableDescription> &outputs;
    bool isSugeno;
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

template <typename Item>
std::vector<std::string> namesOf(const std::vector<Item> &items) {
    std::vector<std::string> names;
    for (const Item &item : items) names.push_back(item.name);
    return names;
}

// A weight scales a firing strength: NaN, Inf or a negative weight gives
// NaN, Inf or outputs outside their range.
void checkWeight(double weight, const std::string &path) {
    if (!(weight >= 0.0 && weight <= 1.0)) {
        fail(path, "the weight must be a number from 0 to 1, got " + orvane::formatDouble(weight, false));
    }
}

// One "X is [not] T" clause starting at words[at]; returns the index after it.
size_t readClause(const std::vector<std::string> &words, size_t at, const std::vector<VariableDescription> &vars,
                  const char *kind, bool isNotAllowed, std::vector<double> &row, const std::string &path) {
    if (at >= words.size()) fail(path, std::string("expected an ") + kind + " name at the end");
    const std::string &varName = words[at];
    int v = findVariable(vars, varName);
    if (v < 0)
        fail(path, std::string("unknown ") + kind + " " + inQuotes(varName) + closestNameSuggestion(varName, namesOf(vars)));
    if (at + 1 >= words.size() || words[at + 1] != "is") fail(path, "expected \"is\" after " + inQuotes(varName));
    size_t next = at + 2;
    bool isNot = false;
    if (next < words.size() && words[next] == "not") {
        if (!isNotAllowed) fail(path, "a Sugeno rule cannot negate its output " + inQuotes(varName));
        isNot = true;
        ++next;
    }
    if (next >= words.size()) fail(path, "expected a term after " + inQuotes(varName) + " is");
    int term = findTerm(vars[static_cast<size_t>(v)], words[next]);
    if (term == 0) {
        fail(path, "unknown term " + inQuotes(words[next]) + " of " + kind + " " + inQuotes(varName) +
                       closestNameSuggestion(words[next], namesOf(vars[static_cast<size_t>(v)].terms)));
    }
    if (row[static_cast<size_t>(v)] != 0.0) fail(path, inQuotes(varName) + " appears twice");
    row[static_cast<size_t>(v)] = isNot ? -term : term;
    return next + 1;
}

double readTextWeight(const std::vector<std::string> &words, size_t at, const std::string &path) {
    if (words[at] != "with" || at + 2 != words.size()) {
        fail(path, "unexpected " + inQuotes(words[at]) + " after the consequent (expected \"and\" or \"with W\")");
    }
    const std::string &w = words[at + 1];
    double weight = 0.0;
    NumberStatus status = readDecimalNumber(w, weight);
    if (status != NumberStatus::ok) fail(path, "expected a number after \"with\", got " + inQuotes(w));
    checkWeight(weight, path);
    return weight;
}

RuleDescription readTextRule(const std::string &text, const RuleContext &context, const std::string &path) {
    std::vector<std::string> words = splitWords(text);
    RuleDescription rule;
    rule.antecedent.assign(context.inputs.size(), 0.0);
    rule.consequent.assign(context.outputs.size(), 0.0);
    if (words.empty() || words[0] != "if") fail(path, "a text rule starts with \"if\"");
    size_t at = readClause(words, 1, context.inputs, "input", true, rule.antecedent, path);
    std::string connective;
    while (at < words.size() && words[at] != "then") {
        if (words[at] != "and" && words[at] != "or") {
            fail(path, "expected \"and\", \"or\" or \"then\", got " + inQuotes(words[at]));
        }
        if (!connective.empty() && connective != words[at])
            fail(path, "a rule uses either \"and\" or \"or\", not both");
        connective = words[at];
        at = readClause(words, at + 1, context.inputs, "input", true, rule.antecedent, path);
    }
    if (at >= words.size()) fail(path, "missing \"then\"");
    rule.connection = connective == "or" ? 2.0 : 1.0;
    do {
        at = readClause(words, at + 1, context.outputs, "output", !context.isSugeno, rule.consequent, path);
    } while (at < words.size() && words[at] == "and");
    if (at < words.size()) rule.weight = readTextWeight(words, at, path);
    return rule;
}

// Entries select a term by |entry| rounded to the nearest whole number; one
// past the variable's terms would make the module read outside its lists.
// A Sugeno consequent is rounded with its sign, and must not be negative.
void checkTermIndices(const std::vector<double> &entries, const std::vector<VariableDescription> &vars,
                      const char *kind, bool isNotAllowed, const std::string &path) {
    for (size_t k = 0; k < entries.size(); ++k) {
        double index = std::round(std::fabs(entries[k]));
        if (index > static_cast<double>(vars[k].terms.size())) {
            fail(itemPath(path, k), std::string(kind) + " " + inQuotes(vars[k].name) + " has " +
                                        std::to_string(vars[k].terms.size()) + " terms, got index " +
                                        orvane::formatDouble(index, false));
        }
        if (!isNotAllowed && std::round(entries[k]) < 0.0) {
            fail(itemPath(path, k), "a Sugeno rule cannot negate its output " + inQuotes(vars[k].name) + ", got " +
                                        orvane::formatDouble(entries[k], false));
        }
    }
}

std::vector<double> readIndexRow(const json &rule, const char *key, const std::vector<VariableDescription> &vars,
                                 const char *kind, const std::string &path) {
    const json *entries = member(rule, key);
    if (entries == nullptr) fail(path, std::string("missing \"") + key + "\"");
    std::string rowPath = childPath(path, key);
    std::vector<double> row = readNumbers(*entries, rowPath);
    if (row.size() != vars.size()) {
        fail(rowPath, "expected " + std::to_string(vars.size()) + " entries (one per " + kind + "), got " +
                          std::to_string(row.size()));
    }
    return row;
}

RuleDescription readNumericRule(const json &value, const RuleContext &context, const std::string &path) {
    checkKeys(value, {"antecedent", "consequent", "weight", "connection"}, path);
    RuleDescription rule;
    rule.antecedent = readIndexRow(value, "antecedent", context.inputs, "input", path);
    rule.consequent = readIndexRow(value, "consequent", context.outputs, "output", path);
    checkTermIndices(rule.antecedent, context.inputs, "input", true, path + ".antecedent");
    checkTermIndices(rule.consequent, context.outputs, "output", !context.isSugeno, path + ".consequent");
    if (const json *w = member(value, "weight")) {
        rule.weight = readNumber(*w, path + ".weight");
        checkWeight(rule.weight, path + ".weight");
    }
    if (const json *k = member(value, "connection")) rule.connection = readNumber(*k, path + ".connection");
    return rule;
}

std::vector<RuleDescription> readRules(const json &d, const RuleContext &context) {
    std::vector<RuleDescription> rules;
    const json *list = member(d, "rules");
    if (list == nullptr) return rules;
    if (!list->is_array()) fail("rules", "expected an array");
    for (size_t r = 0; r < list->size(); ++r) {
        std::string path = itemPath("rules", r);
        const json &rule = (*list)[r];
        if (rule.is_string()) {
            rules.push_back(readTextRule(rule.get<std::string>(), context, path));
        } else if (rule.is_object()) {
            rules.push_back(readNumericRule(rule, context, path));
        } else {
            fail(path, "expected a text rule or an object with \"antecedent\" and \"consequent\"");
        }
    }
    return rules;
}

// ---- The record.

orvane::Value uint8Text(const std::string &s) { return orvane::Value::uint8Row(s); }

orvane::Value int32Scalar(int64_t v) { return orvane::Value::int32Scalar(static_cast<int32_t>(v)); }

orvane::Value variablesValue(const std::vector<VariableDescription> &vars) {
    orvane::Value value =
        orvane::Value::structMatrix({1, static_cast<int64_t>(vars.size())},
                                    std::vector<std::string>(kVariableRecordFields, kVariableRecordFields + 2));
    for (size_t i = 0; i < vars.size(); ++i) {
        const std::vector<TermInfo> &terms = vars[i].terms;
        orvane::Value mfs = orvane::Value::structMatrix({1, static_cast<int64_t>(terms.size())},
                                                        std::vector<std::string>(kMFRecordFields, kMFRecordFields + 4));
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
        data[i] = vars[i].low;
        data[i + vars.size()] = vars[i].high;
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
        double lo = outputs[static_cast<size_t>(o)].low;
        double hi = outputs[static_cast<size_t>(o)].high;
        double step = (hi - lo) / static_cast<double>(numSamples - 1);
        for (int64_t k = 0; k < numSamples - 1; ++k) {
            data[static_cast<size_t>(o + k * numOutputs)] = lo + static_cast<double>(k) * step;
        }
        data[static_cast<size_t>(o + (numSamples - 1) * numOutputs)] = hi;
    }
    return orvane::Value::doubleMatrix(numOutputs, numSamples, data);
}

// The rule matrices, one row per rule, column-major.
void setRuleFields(const std::vector<RuleDescription> &rules, int64_t numInputs, int64_t numOutputs,
                   orvane::Value &record) {
    auto numRules = static_cast<int64_t>(rules.size());
    std::vector<double> antecedent(static_cast<size_t>(numRules * numInputs));
    std::vector<double> consequent(static_cast<size_t>(numRules * numOutputs));
    std::vector<double> connection, weight;
    for (int64_t r = 0; r < numRules; ++r) {
        const RuleDescription &rule = rules[static_cast<size_t>(r)];
        for (int64_t i = 0; i < numInputs; ++i) {
            antecedent[static_cast<size_t>(r + i * numRules)] = rule.antecedent[static_cast<size_t>(i)];
        }
        for (int64_t o = 0; o < numOutputs; ++o) {
            consequent[static_cast<size_t>(r + o * numRules)] = rule.consequent[static_cast<size_t>(o)];
        }
        connection.push_back(rule.connection);
        weight.push_back(rule.weight);
    }
    record.setField(0, "antecedent", orvane::Value::doubleMatrix(numRules, numInputs, antecedent));
    record.setField(0, "consequent", orvane::Value::doubleMatrix(numRules, numOutputs, consequent));
    record.setField(0, "connection", orvane::Value::doubleMatrix(numRules, 1, connection));
    record.setField(0, "weight", orvane::Value::doubleMatrix(numRules, 1, weight));
}

orvane::Value int32Pair(int64_t a, int64_t b) {
    return orvane::Value::int32Row({static_cast<int32_t>(a), static_cast<int32_t>(b)});
}

// ---- The builder.

// ---- Magnitudes. The module adds in plain doubles, so a sum beyond the
// double range becomes Inf (or, after a cancellation, a wrong sign) and is
// printed as a result. With the built-in methods a degree is at most 1 and a
// firing strength at most numInputs (an OR "sum"), so the strengths of all
// rules, or the aggregated degrees at one sample point, add up to at most
// numRules * numInputs, below 2^31 (the rule matrices hold fewer elements).
// The bounds keep every sum within half the largest double after that.

constexpr double kStrengthSumBound = 2147483648.0;  // 2^31

// The centroid adds numSamples products of a degree and a sample point, mom
// numSamples sample points; the sample points lie within the range.
double largestSafeMamdaniMagnitude(int64_t numSamples) {
    return std::numeric_limits<double>::max() / 2.0 / kStrengthSumBound / static_cast<double>(numSamples);
}

// The weighted sums add a level times a strength over the rules, and the
// centroid of a Sugeno output multiplies such a sum by the strengths' sum.
double largestSafeSugenoMagnitude() {
    return std::numeric_limits<double>::max() / 2.0 / kStrengthSumBound / kStrengthSumBound;
}

// Two significant digits, rounded down so that the number shown is safe too.
std::string safeMagnitudeText(double bound) {
    int exponent = static_cast<int>(std::floor(std::log10(bound)));
    auto digits = static_cast<int>(std::floor(bound / std::pow(10.0, exponent - 1)));
    if (digits > 99) {  // log10 rounded down below a power of 10
        ++exponent;
        digits /= 10;
    } else if (digits < 10) {  // log10 rounded up to it
        --exponent;
        digits = static_cast<int>(std::floor(bound / std::pow(10.0, exponent - 1)));
    }
    return std::to_string(digits / 10) + "." + std::to_string(digits % 10) + "e" + std::to_string(exponent);
}

double largestMagnitude(const VariableDescription &v) { return std::max(std::fabs(v.low), std::fabs(v.high)); }

// The largest |level| of a Sugeno term over inputs within their ranges (the
// module does not clip inputs: one outside its range may go further, with
// the out-of-range diagnostic).
double largestLevel(const TermInfo &term, const std::vector<VariableDescription> &inputs) {
    double level = std::fabs(term.params.back());
    if (term.type == "linear") {
        for (size_t i = 0; i < inputs.size(); ++i) level += std::fabs(term.params[i]) * largestMagnitude(inputs[i]);
    }
    return level;
}

std::string rangeText(const VariableDescription &v) {
    return "[" + orvane::formatDouble(v.low, false) + ", " + orvane::formatDouble(v.high, false) + "]";
}

void checkMagnitudes(const SystemDescription &s) {
    bool isMamdani = s.type == "mamdani";
    double safe = isMamdani ? largestSafeMamdaniMagnitude(s.numSamples) : largestSafeSugenoMagnitude();
    std::string largest = "; the largest safe magnitude is " + safeMagnitudeText(safe);
    for (size_t o = 0; o < s.outputs.size(); ++o) {
        const VariableDescription &v = s.outputs[o];
        std::string path = itemPath("outputs", o);
        if (largestMagnitude(v) > safe) {
            fail(path + ".range",
                 rangeText(v) +
                     (isMamdani ? " can overflow the sums over " + std::to_string(s.numSamples) + " sample points"
                                : std::string(" is larger than a Sugeno output may be")) +
                     largest);
        }
        if (isMamdani) continue;
        for (size_t j = 0; j < v.terms.size(); ++j) {
            double level = largestLevel(v.terms[j], s.inputs);
            if (level <= safe) continue;
            std::string reach =
                std::isfinite(level) ? "reaches " + orvane::formatDouble(level, false) : "goes beyond the double range";
            fail(itemPath(path + ".mf", j) + ".params",
                 "the output level " + reach + (v.terms[j].type == "linear" ? " for inputs within their ranges" : "") +
                     ", which can overflow the weighted sums over the rules" + largest);
        }
    }
}

json parseJson(std::string_view text) {
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::exception &e) {
        // A syntax error or a number beyond the double range ("1e400").
        // what() starts with nlohmann's own tag, "[json.exception.parse_error.101] ".
        std::string what = e.what();
        std::string::size_type tagEnd = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && tagEnd != std::string::npos) what.erase(0, tagEnd + 2);
        throw orvane::HostError(ids::descriptionMalformed, "malformed JSON: " + printableText(what));
    }
}

std::string readType(const json &d) {
    const json *type = member(d, "type");
    if (type == nullptr) fail("type", "missing; expected \"mamdani\" or \"sugeno\"");
    std::string text = readString(*type, "type");
    // The module takes every type but "mamdani" for Sugeno: "Mamdani" would
    // evaluate a Mamdani design as Sugeno.
    if (text != "mamdani" && text != "sugeno")
        fail("type", "expected \"mamdani\" or \"sugeno\", got " + inQuotes(text));
    return text;
}

int64_t readNumSamples(const json &d) {
    const json *n = member(d, "numSamples");
    if (n == nullptr) return defaults::kNumSamples;
    if (!n->is_number_integer() && !(n->is_number_float() && std::floor(n->get<double>()) == n->get<double>())) {
        fail("numSamples", "expected a whole number from 2 to 1000000");
    }
    double v = n->get<double>();
    if (v < 2 || v > 1.0e6) fail("numSamples", "expected a whole number from 2 to 1000000");
    return static_cast<int64_t>(v);
}

SystemDescription readDescription(std::string_view text, HostFunctionNames names) {
    json d = parseJson(text);
    if (!d.is_object()) fail("(top level)", "expected an object");
    std::vector<std::string> keys = {"name", "type", "numSamples", "inputs", "outputs", "rules"};
    for (const MethodKey &m : methodKeys()) keys.push_back(m.key);
    checkKeys(d, keys, "");

    SystemDescription s;
    s.name = readOptionalString(d, "name", "", "");
    s.type = readType(d);
    bool isMamdani = s.type == "mamdani";
    for (const MethodKey &m : methodKeys()) {
        s.*m.field = readOptionalString(d, m.key, "", m.defaultFor(isMamdani));
        checkMethodName(m, s.*m.field, names);
        if (isMamdani) checkMamdaniMethod(m, s.*m.field);
    }
    s.numSamples = readNumSamples(d);
    s.inputs = readVariables(d, "inputs", VariableKind::input, 0, names);
    s.outputs = readVariables(d, "outputs", isMamdani ? VariableKind::mamdaniOutput : VariableKind::sugenoOutput,
                              s.inputs.size(), names);
    checkMagnitudes(s);
    s.rules = readRules(d, RuleContext{s.inputs, s.outputs, !isMamdani});
    return s;
}

// What readVariable checks, for a variable a file reader filled.
void checkVariable(const VariableDescription &v, const std::string &path, VariableKind kind, size_t numInputs,
                   HostFunctionNames names) {
    checkRange(v.low, v.high, path + ".range");
    for (size_t j = 0; j < v.terms.size(); ++j) {
        std::string termPath = itemPath(path + ".mf", j);
        checkTermType(v.terms[j].type, kind, names, termPath + ".type");
        checkTermParams(v.terms[j], kind, numInputs, termPath);
    }
    checkUniqueNames(v.terms, path + ".mf", "term");
}

void checkVariables(const std::vector<VariableDescription> &vars, const char *key, VariableKind kind,
                    size_t numInputs, HostFunctionNames names) {
    for (size_t i = 0; i < vars.size(); ++i) checkVariable(vars[i], itemPath(key, i), kind, numInputs, names);
    checkUniqueNames(vars, key, kind == VariableKind::input ? "input" : "output");
}

// What readRules checks, for a rule a file reader filled: with the messages
// of its text form where it has one, as the description written out says it.
void checkRule(const RuleDescription &rule, const SystemDescription &s, const std::string &path) {
    bool isSugeno = !s.isMamdani();
    if (!ruleText(rule, s).empty()) {
        for (size_t o = 0; o < rule.consequent.size(); ++o) {
            if (isSugeno && rule.consequent[o] < 0.0)
                fail(path, "a Sugeno rule cannot negate its output " + inQuotes(s.outputs[o].name));
        }
        checkWeight(rule.weight, path);
        return;
    }
    checkTermIndices(rule.antecedent, s.inputs, "input", true, path + ".antecedent");
    checkTermIndices(rule.consequent, s.outputs, "output", !isSugeno, path + ".consequent");
    checkWeight(rule.weight, path + ".weight");
}

orvane::Value buildRecord(const SystemDescription &s) {
    auto numInputs = static_cast<int64_t>(s.inputs.size());
    auto numOutputs = static_cast<int64_t>(s.outputs.size());
    auto numRules = static_cast<int64_t>(s.rules.size());
    int64_t numSamples = s.numSamples;
    orvane::Value record = orvane::Value::structMatrix({1, 1}, systemRecordFieldNames());
    record.setField(0, "type", uint8Text(s.type));
    for (const MethodKey &m : methodKeys()) record.setField(0, m.key, uint8Text(s.*m.field));
    record.setField(0, "inputRange", rangesValue(s.inputs));
    record.setField(0, "outputRange", rangesValue(s.outputs));
    record.setField(0, "inputMF", variablesValue(s.inputs));
    record.setField(0, "outputMF", variablesValue(s.outputs));
    setRuleFields(s.rules, numInputs, numOutputs, record);
    record.setField(0, "numSamples", int32Scalar(numSamples));
    record.setField(0, "numInputs", int32Scalar(numInputs));
    record.setField(0, "numOutputs", int32Scalar(numOutputs));
    record.setField(0, "numRules", int32Scalar(numRules));
    orvane::Value counts, cumulative;
    countsValues(s.inputs, counts, cumulative);
    record.setField(0, "numInputMFs", counts);
    record.setField(0, "numCumInputMFs", cumulative);
    countsValues(s.outputs, counts, cumulative);
    record.setField(0, "numOutputMFs", counts);
    record.setField(0, "numCumOutputMFs", cumulative);
    record.setField(0, "outputSamplePoints", samplePointsValue(s.outputs, numSamples));
    if (s.type == "mamdani") {
        record.setField(0, "orrSize", int32Pair(numSamples, numRules * numOutputs));
        record.setField(0, "aggSize", int32Pair(numSamples, numOutputs));
    } else {
        record.setField(0, "orrSize", int32Pair(numRules, numOutputs));
        record.setField(0, "aggSize", int32Pair(1, numOutputs));
    }
    return record;
}

}  // namespace

void setDefaultMethods(SystemDescription &s) {
    for (const MethodKey &m : methodKeys()) s.*m.field = m.defaultFor(s.isMamdani());
}

SystemDescription descriptionFromJson(std::string_view json, HostFunctionNames names) {
    return readDescription(json, names);
}

void checkDescription(const SystemDescription &s, HostFunctionNames names) {
    if (s.type != "mamdani" && s.type != "sugeno")
        fail("type", "expected \"mamdani\" or \"sugeno\", got " + inQuotes(s.type));
    bool isMamdani = s.isMamdani();
    for (const MethodKey &m : methodKeys()) {
        checkMethodName(m, s.*m.field, names);
        if (isMamdani) checkMamdaniMethod(m, s.*m.field);
    }
    if (s.numSamples < 2 || s.numSamples > 1000000) fail("numSamples", "expected a whole number from 2 to 1000000");
    checkVariables(s.inputs, "inputs", VariableKind::input, 0, names);
    checkVariables(s.outputs, "outputs", isMamdani ? VariableKind::mamdaniOutput : VariableKind::sugenoOutput,
                   s.inputs.size(), names);
    checkMagnitudes(s);
    for (size_t r = 0; r < s.rules.size(); ++r) checkRule(s.rules[r], s, itemPath("rules", r));
}

std::string descriptionWithSamples(std::string_view descriptionJson, int64_t numSamples) try {
    nlohmann::ordered_json d = nlohmann::ordered_json::parse(descriptionJson.begin(), descriptionJson.end(), nullptr,
                                                             false);
    if (!d.is_object()) throw orvane::HostError(ids::samplesInvalid, "expected a description (a JSON object)");
    if (d.contains("class")) {
        throw orvane::HostError(ids::samplesRawRecord,
                                "a raw record holds its own sample points; set numSamples in a description");
    }
    d["numSamples"] = numSamples;
    return d.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

const std::vector<std::string> &systemRecordFieldNames() {
    static const std::vector<std::string> names(kSystemRecordFields, kSystemRecordFields + kNumSystemRecordFields);
    return names;
}

BuiltSystem builtSystemOf(const SystemDescription &s) {
    BuiltSystem built;
    built.name = s.name;
    built.type = s.type;
    for (const VariableDescription &v : s.inputs) built.inputNames.push_back(v.name);
    for (const VariableDescription &v : s.outputs) built.outputNames.push_back(v.name);
    for (const VariableDescription &v : s.inputs) built.inputClamps.push_back(v.clamp);
    for (const VariableDescription &v : s.outputs) built.outputClamps.push_back(v.clamp);
    for (const VariableDescription &v : s.outputs) built.outputDefaults.push_back(v.defaultValue);
    auto termNames = [](const VariableDescription &v) {
        std::vector<std::string> terms;
        for (const TermInfo &t : v.terms) terms.push_back(t.name);
        return terms;
    };
    for (const VariableDescription &v : s.inputs) built.inputTermNames.push_back(termNames(v));
    for (const VariableDescription &v : s.outputs) built.outputTermNames.push_back(termNames(v));
    built.record = buildRecord(s);
    return built;
}

BuiltSystem buildSystem(std::string_view descriptionJson, HostFunctionNames names) try {
    return builtSystemOf(readDescription(descriptionJson, names));
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
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
