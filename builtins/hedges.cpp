// fuzzylite's hedges: a hedged term's degree is the hedge of its base term's
// degree at the same point, computed as fuzzylite computes it. The base is
// any built-in shape (the module's own functions, so its bits), pointsmf or
// a shape of shapes.cpp.
#include "builtins/shapesAndHedges.h"
#include "builtins/membershipCall.h"
#include "membership/builtInMembership.h"
#include "membership/membershipFunctions.h"

#include <cmath>
#include <cstring>

namespace fazolt::builtins {

namespace {

double very(double m) { return m * m; }
double somewhat(double m) { return std::sqrt(m); }
double extremely(double m) { return m <= 0.5 ? 2.0 * m * m : 1.0 - 2.0 * (1.0 - m) * (1.0 - m); }
double seldom(double m) { return m <= 0.5 ? std::sqrt(0.5 * m) : 1.0 - std::sqrt(0.5 * (1.0 - m)); }
double complement(double m) { return 1.0 - m; }

struct Hedge {
    const char *name;
    double (*apply)(double m);
};
// "not" only inside a chain ("very not warm"): a rule says an outer "not" itself.
const Hedge HEDGES[] = {
    {"very", very}, {"somewhat", somewhat}, {"extremely", extremely}, {"seldom", seldom}, {"not", complement},
};
constexpr size_t NUM_REGISTERED_HEDGES = 4;

// The built-in shapes in the order of their table, beside it.
double (*const BUILT_IN_DEGREES[])(double, const double *) = {trimf, trapmf,   gaussmf, gbellmf, sigmf, smf,
                                                              zmf,   gauss2mf, dsigmf,  psigmf,  pimf};
static_assert(sizeof BUILT_IN_DEGREES / sizeof BUILT_IN_DEGREES[0] ==
              sizeof kBuiltInMemberships / sizeof kBuiltInMemberships[0]);

const char *const HOST_BASES[] = {"pointsmf", "concavemf", "cosinemf", "spikemf", "binarymf", "sigdiffmf"};

constexpr size_t NUM_BUILT_IN = sizeof kBuiltInMemberships / sizeof kBuiltInMemberships[0];
constexpr size_t NUM_HOST_BASES = sizeof HOST_BASES / sizeof HOST_BASES[0];
constexpr size_t NUM_HEDGES = sizeof HEDGES / sizeof HEDGES[0];

// Codes from 1: the built-in shapes, the host shapes, the hedges.
const char *nameOfCode(size_t code) {
    if (code >= 1 && code <= NUM_BUILT_IN) return kBuiltInMemberships[code - 1].name;
    if (code > NUM_BUILT_IN && code <= NUM_BUILT_IN + NUM_HOST_BASES) return HOST_BASES[code - NUM_BUILT_IN - 1];
    size_t h = code - NUM_BUILT_IN - NUM_HOST_BASES;
    if (h >= 1 && h <= NUM_HEDGES) return HEDGES[h - 1].name;
    return nullptr;
}

double codeOfName(const std::string &name) {
    for (size_t code = 1; nameOfCode(code) != nullptr; ++code) {
        if (name == nameOfCode(code)) return static_cast<double>(code);
    }
    return 0.0;
}

const Hedge *hedgeNamed(const std::string &name) {
    for (const Hedge &h : HEDGES) {
        if (name == h.name) return &h;
    }
    return nullptr;
}

bool isBaseType(const std::string &name) { return codeOfName(name) != 0.0 && hedgeNamed(name) == nullptr; }

// The base's degree at each point, as the module would give it.
std::vector<double> baseDegrees(const std::string &type, const orvane::Value &points, const std::vector<double> &xs,
                                const std::vector<double> &params, const std::string &function) {
    std::vector<double> ys;
    if (const BuiltInMembership *b =
            findBuiltInMembership(reinterpret_cast<const uint8_t *>(type.data()), static_cast<int64_t>(type.size()))) {
        if (params.size() < static_cast<size_t>(b->numParams))
            orvane::raise(ids::formatsArgument, function + ": " + type + " takes " + std::to_string(b->numParams) +
                                                    " parameters, got " + std::to_string(params.size()));
        for (double x : xs) ys.push_back(BUILT_IN_DEGREES[static_cast<int>(b->kind)](x, params.data()));
    } else if (type == "pointsmf") {
        std::vector<orvane::Value> out = orvane::callFunction(
            type, 1, {points, orvane::Value::doubleMatrix(1, static_cast<int64_t>(params.size()), params)});
        ys = realDoubles(out.at(0), function);
    } else {
        if (std::string why = shapeParameterProblem(type, params); !why.empty())
            orvane::raise(ids::formatsArgument, function + ": " + why);
        for (double x : xs) ys.push_back(shapeDegree(type, x, params));
    }
    return ys;
}

}  // namespace

bool isHedgeWord(const std::string &word) {
    const Hedge *h = hedgeNamed(word);
    return h != nullptr && h != &HEDGES[NUM_HEDGES - 1];
}

std::string hedgedTerm(const std::vector<std::string> &hedges, const std::string &baseType,
                       const std::vector<double> &baseParams, std::string &type, std::vector<double> &params) {
    if (hedges.empty() || !isHedgeWord(hedges[0])) return "a hedged term needs an outer hedge other than \"not\"";
    if (!isBaseType(baseType)) {
        return "a hedge applies here to a built-in shape, a point list or one of fuzzylite's shapes, not to \"" +
               baseType + "\"";
    }
    type = hedges[0];
    params.clear();
    for (size_t k = 1; k < hedges.size(); ++k) {
        if (hedgeNamed(hedges[k]) == nullptr) return "\"" + hedges[k] + "\" is no hedge";
        params.push_back(codeOfName(hedges[k]));
    }
    params.push_back(codeOfName(baseType));
    params.insert(params.end(), baseParams.begin(), baseParams.end());
    return "";
}

bool splitHedgedTerm(const std::string &type, const std::vector<double> &params, std::vector<std::string> &hedges,
                     std::string &baseType, std::vector<double> &baseParams) {
    if (!isHedgeWord(type)) return false;
    hedges.assign(1, type);
    for (size_t k = 0; k < params.size(); ++k) {
        double code = params[k];
        const char *name =
            code == std::trunc(code) && code >= 1.0 && code < 1e6 ? nameOfCode(static_cast<size_t>(code)) : nullptr;
        if (name == nullptr) return false;
        if (hedgeNamed(name) != nullptr) {
            hedges.push_back(name);
            continue;
        }
        baseType = name;
        baseParams.assign(params.begin() + static_cast<std::ptrdiff_t>(k) + 1, params.end());
        return true;
    }
    return false;
}

void registerHedges() {
    for (size_t k = 0; k < NUM_REGISTERED_HEDGES; ++k) {
        std::string name = HEDGES[k].name;
        if (orvane::hasFunction(name)) continue;
        orvane::registerFunction(
            name, [name](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                MembershipCall call = membershipArguments(args, name);
                std::vector<std::string> hedges;
                std::string baseType;
                std::vector<double> baseParams;
                if (!splitHedgedTerm(name, call.params, hedges, baseType, baseParams)) {
                    orvane::raise(ids::formatsArgument,
                                  name +
                                      ": expected the codes of the inner hedges, the base shape's code and its "
                                      "parameters (see docs/formats.md)");
                }
                std::vector<double> ys = baseDegrees(baseType, args[0], call.xs, baseParams, name);
                for (double &y : ys) {
                    for (size_t h = hedges.size(); h-- > 0;) y = hedgeNamed(hedges[h])->apply(y);
                }
                membershipResult(results, args[0], ys);
            });
    }
}

void registerShapesAndHedges() {
    registerShapes();
    registerHedges();
}

}  // namespace fazolt::builtins
