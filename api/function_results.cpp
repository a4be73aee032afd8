// The roles in which a system uses host function names, and the checks of
// what Lua and Python functions return in those roles.
#include "fazolt/function_results.h"

#include "function_uses.h"

#include <algorithm>
#include <cmath>

namespace fazolt {
namespace {

thread_local const FunctionUses *usesBeingEvaluated = nullptr;

// ---- Reading the record, leniently: the module checks its form.

bool isStruct(const orvane::Value &v) { return v && v.classId() == ZORB_STRUCT_CLASS; }

bool isNumeric(const orvane::Value &v) {
    zorbClassID id = v ? v.classId() : ZORB_UNKNOWN_CLASS;
    return id == ZORB_LOGICAL_CLASS || id >= ZORB_DOUBLE_CLASS;
}

bool isNumber(const orvane::Value &v) { return isNumeric(v) && v.numel() == 1; }

std::string textField(const orvane::Value &s, int64_t element, const char *name) {
    orvane::Value v = s.field(element, name);
    if (!v || (v.classId() != ZORB_CHAR_CLASS && v.classId() != ZORB_UINT8_CLASS)) return "";
    return v.toText();
}

// The stored text or numbers cut to their recorded length, as the module
// uses them.
template <typename Items>
void cutToLength(Items &items, const orvane::Value &length) {
    if (!isNumber(length)) return;
    double n = length.toDoubles()[0];
    if (n >= 0 && n < static_cast<double>(items.size())) items.resize(static_cast<size_t>(n));
}

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

std::string nameOrNumber(const std::vector<std::string> &names, size_t k) {
    return k < names.size() ? quoted(names[k]) : std::to_string(k + 1);
}

void addTermUses(const orvane::Value &record, const char *field, const char *kind,
                 const std::vector<std::string> &names, const std::vector<std::vector<std::string>> &termNames,
                 FunctionUses &uses) {
    orvane::Value variables = record.field(0, field);
    if (!isStruct(variables)) return;
    for (int64_t i = 0; i < variables.numel(); ++i) {
        orvane::Value terms = variables.field(i, "mf");
        if (!isStruct(terms)) continue;
        auto iu = static_cast<size_t>(i);
        static const std::vector<std::string> noNames;
        const std::vector<std::string> &namesOfTerms = iu < termNames.size() ? termNames[iu] : noNames;
        for (int64_t j = 0; j < terms.numel(); ++j) {
            std::string type = textField(terms, j, "type");
            cutToLength(type, terms.field(j, "origTypeLength"));
            FunctionUse use{FunctionRole::membership, "", {}};
            orvane::Value params = terms.field(j, "params");
            if (params && params.classId() == ZORB_DOUBLE_CLASS) use.params = params.toDoubles();
            cutToLength(use.params, terms.field(j, "origParamLength"));
            use.user = std::string("membership function of ") + kind + " " + nameOrNumber(names, iu) + " term " +
                       nameOrNumber(namesOfTerms, static_cast<size_t>(j));
            uses.byName[type].push_back(std::move(use));
        }
    }
}

// ---- Checks.

std::string numberText(double v) { return orvane::formatDouble(v, false); }

std::string extentsText(const orvane::Value &v) {
    std::string text;
    for (int64_t d : v.dims()) text += (text.empty() ? "" : " x ") + std::to_string(d);
    return text;
}

// Columns of a rules x points block.
int64_t numColumns(const orvane::Value &v) {
    const std::vector<int64_t> &dims = v.dims();
    if (dims.size() < 2) return 0;
    return dims[0] == 0 ? dims[1] : v.numel() / dims[0];
}

bool anyNonFinite(const std::vector<orvane::Value> &arguments) {
    for (const orvane::Value &a : arguments) {
        if (!isNumeric(a)) continue;
        for (double x : a.toDoubles()) {
            if (!std::isfinite(x)) return true;
        }
    }
    return false;
}

std::string countProblem(FunctionRole role, const std::vector<orvane::Value> &arguments, const orvane::Value &result) {
    const orvane::Value *first = arguments.empty() ? nullptr : &arguments[0];
    switch (role) {
        case FunctionRole::membership:
            // The module reads the degrees in the extents of the points.
            if (first != nullptr && *first && result.dims() != first->dims()) {
                return "returned " + extentsText(result) + " degrees for " + extentsText(*first) + " points";
            }
            return "";
        case FunctionRole::implication:
        case FunctionRole::aggregation: {
            if (first == nullptr || !*first) return "";
            // Implication: the strengths (argument 2) have one value per sample
            // point; a raw record's set column may be longer.
            const orvane::Value &perPoint = arguments.size() >= 2 && arguments[1] ? arguments[1] : *first;
            int64_t expected = role == FunctionRole::implication ? perPoint.numel() : numColumns(*first);
            bool isVector = result.dims().size() == 2 && (result.dims()[0] == 1 || result.dims()[1] == 1);
            if (isVector && result.numel() == expected) return "";
            return "returned " + extentsText(result) + " values, expected one for each of the " +
                   std::to_string(expected) + " sample points";
        }
        case FunctionRole::connective:
        case FunctionRole::defuzzification:
            if (result.numel() == 1) return "";
            return "returned " + extentsText(result) + " values, expected one number";
    }
    return "";
}

std::string valueProblem(FunctionRole role, const std::vector<orvane::Value> &arguments, const orvane::Value &result) {
    if (result.isComplex()) return "returned complex numbers";
    std::vector<double> values = result.toDoubles();
    bool isPassingOn = anyNonFinite(arguments);
    bool isDegree = role != FunctionRole::defuzzification;
    for (size_t k = 0; k < values.size(); ++k) {
        double v = values[k];
        bool isSound =
            isDegree ? (v >= 0.0 && v <= 1.0) || (std::isnan(v) && isPassingOn) : std::isfinite(v) || isPassingOn;
        if (isSound) continue;
        std::string what = values.size() == 1 ? "returned " + numberText(v)
                                              : "element " + std::to_string(k + 1) + " of " +
                                                    std::to_string(values.size()) + " is " + numberText(v);
        return what + (isDegree ? ", a degree is a number from 0 to 1" : ", a crisp value is a finite number");
    }
    return "";
}

std::string problemInRole(FunctionRole role, const std::vector<orvane::Value> &arguments, const orvane::Value &result) {
    std::string problem = countProblem(role, arguments, result);
    return problem.empty() ? valueProblem(role, arguments, result) : problem;
}

// The users of the name in one role; a membership function's users are
// narrowed to the terms whose parameters the call received.
std::string usersText(const std::vector<FunctionUse> &uses, FunctionRole role,
                      const std::vector<orvane::Value> &arguments) {
    std::vector<const FunctionUse *> inRole;
    for (const FunctionUse &use : uses) {
        if (use.role == role) inRole.push_back(&use);
    }
    if (role == FunctionRole::membership && arguments.size() >= 2 && arguments[1] &&
        arguments[1].classId() == ZORB_DOUBLE_CLASS) {
        std::vector<double> params = arguments[1].toDoubles();
        std::vector<const FunctionUse *> matching;
        for (const FunctionUse *use : inRole) {
            if (use->params == params) matching.push_back(use);
        }
        if (!matching.empty()) inRole = matching;
    }
    std::string text;
    for (const FunctionUse *use : inRole) text += (text.empty() ? "" : ", ") + use->user;
    return text;
}

}  // namespace

std::shared_ptr<const FunctionUses> functionUsesOf(const orvane::Value &record,
                                                   const std::vector<std::string> &inputNames,
                                                   const std::vector<std::string> &outputNames,
                                                   const std::vector<std::vector<std::string>> &inputTermNames,
                                                   const std::vector<std::vector<std::string>> &outputTermNames) {
    auto uses = std::make_shared<FunctionUses>();
    if (!isStruct(record) || record.numel() < 1) return uses;
    try {
        const std::pair<const char *, FunctionRole> methods[] = {
            {"andMethod", FunctionRole::connective},         {"orMethod", FunctionRole::connective},
            {"impMethod", FunctionRole::implication},        {"aggMethod", FunctionRole::aggregation},
            {"defuzzMethod", FunctionRole::defuzzification},
        };
        for (const auto &[key, role] : methods) uses->byName[textField(record, 0, key)].push_back({role, key, {}});
        addTermUses(record, "inputMF", "input", inputNames, inputTermNames, *uses);
        // A Sugeno output term is a constant or linear level, never a host function.
        if (textField(record, 0, "type") == "mamdani")
            addTermUses(record, "outputMF", "output", outputNames, outputTermNames, *uses);
    } catch (const orvane::HostError &) {
        // A field of another form: the uses read so far.
    }
    return uses;
}

EvaluatingSystem::EvaluatingSystem(const FunctionUses *uses) : previous_(usesBeingEvaluated) {
    usesBeingEvaluated = uses;
}

EvaluatingSystem::~EvaluatingSystem() { usesBeingEvaluated = previous_; }

std::string functionResultProblem(const std::string &name, const std::vector<orvane::Value> &arguments,
                                  const orvane::Value &result) {
    // Another class is the module's to refuse.
    if (usesBeingEvaluated == nullptr || !isNumeric(result)) return "";
    auto found = usesBeingEvaluated->byName.find(name);
    if (found == usesBeingEvaluated->byName.end()) return "";
    const std::vector<FunctionUse> &uses = found->second;
    // A name used in several roles (rare) passes when the result fits one:
    // the call does not say which role it serves.
    std::string firstProblem;
    FunctionRole firstRole = uses.front().role;
    for (const FunctionUse &use : uses) {
        std::string problem = problemInRole(use.role, arguments, result);
        if (problem.empty()) return "";
        if (firstProblem.empty()) {
            firstProblem = problem;
            firstRole = use.role;
        }
    }
    return usersText(uses, firstRole, arguments) + ": " + firstProblem;
}

}  // namespace fazolt
