// Rule firing: each rule's row of input values combined by the AND or OR
// method and scaled by the rule weight.
//
// Sections: built-in connectives, host methods, connectives selected once
// per call (applyOperators), rules fired from the degree table.
#include "codegen/applyOperators.h"

#include "host/hostConversions.h"
#include "host/runtime.h"

#include <cassert>
#include <cmath>
#include <cstring>

// ---- Built-in connectives. None of them allocates: they run once per rule
// and input row.

// Smallest (isMax false) or largest value, NaN ignored unless every value is
// NaN. Starts from the first non-NaN value, and a later value replaces the
// current one only when strictly better, so ties (+0 against -0 included)
// keep the earlier value. With no values there is nothing to pick: NaN.
// Values are read at v[k * stride].
static double extremeIgnoringNaN(const double *v, int32_t n, int32_t stride, bool isMax) {
    if (n <= 0) return quvGetNaN();
    int32_t first = 0;
    while (first < n && quvIsNaN(v[first * stride])) ++first;
    if (first == n) return v[0];
    double result = v[first * stride];
    for (int32_t k = first + 1; k < n; ++k) {
        const double x = v[k * stride];
        if (isMax ? x > result : x < result) result = x;
    }
    return result;
}

static double product(const double *v, int32_t n, int32_t stride) {
    if (n <= 0) return 1.0;
    double acc = v[0];
    for (int32_t k = 1; k < n; ++k) acc = acc * v[k * stride];
    return acc;
}

static double sum(const double *v, int32_t n, int32_t stride) {
    if (n <= 0) return 0.0;
    double acc = v[0];
    for (int32_t k = 1; k < n; ++k) acc = acc + v[k * stride];
    return acc;
}

// (acc + x) - acc*x, both terms rounded before the subtraction. The empty
// OR is 0, its neutral value.
static double probabilisticOr(const double *v, int32_t n, int32_t stride) {
    if (n <= 0) return 0.0;
    double acc = v[0];
    for (int32_t k = 1; k < n; ++k) {
        const double sumTerm = acc + v[k * stride];
        const double productTerm = acc * v[k * stride];
        acc = sumTerm - productTerm;
    }
    return acc;
}

// ---- Host methods: feval(name, values as a column) -> real double scalar.

static double evaluateHostMethod(zorbTLS *tls, const DynArray<uint8_t> *name, const DynArray<double> *values,
                                 const zorbCallLocation *location) {
    zorbArray *arguments[2];
    arguments[0] = exportCharRow(tls, name);
    arguments[1] = exportDoubleColumn(values->data, numel(values));
    zorbArray *result = nullptr;
    zorbCallOrvane(tls, 1, &result, 2, arguments, "feval", true, location);
    return importDoubleScalar(tls, coerceToDouble(tls, result), "feval");
}

// ---- Connectives selected once per call.

AndMethod selectAndMethod(const DynArray<uint8_t> *name) {
    if (nameIs(name, "min")) return AndMethod::Min;
    if (nameIs(name, "prod")) return AndMethod::Prod;
    return AndMethod::Host;
}

OrMethod selectOrMethod(const DynArray<uint8_t> *name) {
    if (nameIs(name, "max")) return OrMethod::Max;
    if (nameIs(name, "probor")) return OrMethod::Probor;
    if (nameIs(name, "sum")) return OrMethod::Sum;
    return OrMethod::Host;
}

// A rule's values read in place (value i at v[i * stride]) by a built-in
// connective; the same operations in the same order as on a copied column.
static double combineBuiltIn(const double *v, int32_t n, int32_t stride, bool isAnd, AndMethod andMethod,
                             OrMethod orMethod) {
    if (isAnd) return andMethod == AndMethod::Min ? extremeIgnoringNaN(v, n, stride, false) : product(v, n, stride);
    switch (orMethod) {
        case OrMethod::Max: return extremeIgnoringNaN(v, n, stride, true);
        case OrMethod::Probor: return probabilisticOr(v, n, stride);
        case OrMethod::Sum: return sum(v, n, stride);
        case OrMethod::Host: break;
    }
    assert(false && "a host method goes through the column");
    return quvGetNaN();
}

double applyOperators(zorbTLS *tls, const DynArray<double> *ruleInputValues, const SystemRecord *fis,
                      AndMethod andMethod, OrMethod orMethod, DynArray<double> *firingStrengths,
                      DynArray<double> *scratch) {
    static const zorbCallLocation andLocation = {29, 16, "evaluateAndMethod", "codegen/evaluateAndMethod"};
    static const zorbCallLocation orLocation = {31, 16, "evaluateOrMethod", "codegen/evaluateOrMethod"};
    const int32_t numRules = fis->numRules;
    const int32_t numInputs = fis->numInputs;
    const int32_t stride = ruleInputValues->size[0];
    double totalFiringStrength = 0.0;
    for (int32_t r = 0; r < numRules; ++r) {
        // Only exactly 1 means AND; 0, 2, 1.5 and NaN all take the OR method.
        const bool isAnd = fis->connection->data[r] == 1.0;
        double y;
        if (isAnd ? andMethod != AndMethod::Host : orMethod != OrMethod::Host) {
            y = combineBuiltIn(ruleInputValues->data + r, numInputs, stride, isAnd, andMethod, orMethod);
        } else {
            for (int32_t i = 0; i < numInputs; ++i) scratch->data[i] = ruleInputValues->data[r + i * stride];
            y = isAnd ? evaluateHostMethod(tls, fis->andMethod, scratch, &andLocation)
                      : evaluateHostMethod(tls, fis->orMethod, scratch, &orLocation);
        }
        const double weighted = y * fis->weight->data[r];
        firingStrengths->data[r] = weighted;
        totalFiringStrength = totalFiringStrength + weighted;
    }
    return totalFiringStrength;
}

// One more value into a rule's running result. The extremes keep the first
// non-NaN value and replace it only by a strictly better one, which is what
// extremeIgnoringNaN picks; an all-NaN rule keeps its first value. Without
// NaN in the row's degrees (hasNaN false) the extremes skip the NaN tests.
template <AndMethod A, bool hasNaN>
static inline double andStep(double acc, double x) {
    if constexpr (A == AndMethod::Prod) {
        return acc * x;
    } else {
        if (hasNaN && quvIsNaN(acc)) return quvIsNaN(x) ? acc : x;
        return x < acc ? x : acc;
    }
}

template <OrMethod O, bool hasNaN>
static inline double orStep(double acc, double x) {
    if constexpr (O == OrMethod::Max) {
        if (hasNaN && quvIsNaN(acc)) return quvIsNaN(x) ? acc : x;
        return x > acc ? x : acc;
    } else if constexpr (O == OrMethod::Probor) {
        const double sumTerm = acc + x;
        const double productTerm = acc * x;
        return sumTerm - productTerm;
    } else {
        return acc + x;
    }
}

// +0 or positive (infinity included, NaN not) is what the grouped Mamdani
// aggregation needs of a strength: as bits, at most those of +infinity.
static constexpr uint64_t kPlainBitsLimit = 0x7FF0000000000000ULL;
static inline uint64_t bitsOf(double w) {
    uint64_t b;
    std::memcpy(&b, &w, sizeof b);
    return b;
}

// N is the number of inputs when it is small enough to unroll, else 0
// and numInputs is read from the record.
template <AndMethod A, OrMethod O, bool hasNaN, int N, bool isListing>
static RuleFiring fireRules(const SystemRecord *fis, const int32_t *ruleDegrees, const double *d,
                            DynArray<double> *ruleInputValues, double *strength, int32_t *fired) {
    const int32_t numRules = fis->numRules;
    const int32_t numInputs = N > 0 ? N : fis->numInputs;
    const double *connection = fis->connection->data;
    const double *weight = fis->weight->data;
    double totalFiringStrength = 0.0;
    uint64_t largestBits = 0;  // of any strength: plain when at most kPlainBitsLimit
    int32_t numFired = 0;
    for (int32_t r = 0; r < numRules; ++r) {
        const int32_t *entries = ruleDegrees + static_cast<int64_t>(r) * numInputs;
        double acc = d[entries[0]];
        // Only exactly 1 means AND; 0, 2, 1.5 and NaN all take the OR method.
        if (connection[r] == 1.0) {
            for (int32_t i = 1; i < numInputs; ++i) acc = andStep<A, hasNaN>(acc, d[entries[i]]);
        } else {
            for (int32_t i = 1; i < numInputs; ++i) acc = orStep<O, hasNaN>(acc, d[entries[i]]);
        }
        if (ruleInputValues != nullptr) {
            for (int32_t i = 0; i < numInputs; ++i)
                ruleInputValues->data[r + static_cast<int64_t>(i) * numRules] = d[entries[i]];
        }
        const double weighted = acc * weight[r];
        strength[r] = weighted;
        if constexpr (isListing) {
            const uint64_t b = bitsOf(weighted);
            largestBits = b > largestBits ? b : largestBits;
            fired[numFired] = r;
            numFired += weighted > 0.0 ? 1 : 0;
        }
        totalFiringStrength = totalFiringStrength + weighted;
    }
    if constexpr (!isListing) return RuleFiring{totalFiringStrength, false, -1};
    return RuleFiring{totalFiringStrength, largestBits <= kPlainBitsLimit, numFired};
}

template <AndMethod A, OrMethod O, bool hasNaN, int N>
static RuleFiring fireRulesListing(const SystemRecord *fis, const int32_t *ruleDegrees, const double *d,
                                   DynArray<double> *ruleInputValues, double *strength, int32_t *fired) {
    if (fired != nullptr)
        return fireRules<A, O, hasNaN, N, true>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
    return fireRules<A, O, hasNaN, N, false>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
}

template <AndMethod A, OrMethod O, bool hasNaN>
static RuleFiring fireRulesUnrolled(const SystemRecord *fis, const int32_t *ruleDegrees, const double *d,
                                    DynArray<double> *ruleInputValues, double *strength, int32_t *fired) {
    switch (fis->numInputs) {
        case 1: return fireRulesListing<A, O, hasNaN, 1>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
        case 2: return fireRulesListing<A, O, hasNaN, 2>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
        case 3: return fireRulesListing<A, O, hasNaN, 3>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
        case 4: return fireRulesListing<A, O, hasNaN, 4>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
        default: break;
    }
    return fireRulesListing<A, O, hasNaN, 0>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
}

template <AndMethod A, bool hasNaN>
static RuleFiring fireRulesWithOr(OrMethod orMethod, const SystemRecord *fis, const int32_t *ruleDegrees,
                                  const double *d, DynArray<double> *ruleInputValues, double *strength,
                                  int32_t *fired) {
    switch (orMethod) {
        case OrMethod::Max:
            return fireRulesUnrolled<A, OrMethod::Max, hasNaN>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
        case OrMethod::Probor:
            return fireRulesUnrolled<A, OrMethod::Probor, hasNaN>(fis, ruleDegrees, d, ruleInputValues, strength,
                                                                  fired);
        case OrMethod::Sum: break;
        case OrMethod::Host:
            // Never passed: with a host method the row loop maps the rules and
            // calls applyOperators. Sum here would be a wrong number, not an error.
            assert(false && "fireRulesBuiltIn takes built-in connectives only");
            break;
    }
    return fireRulesUnrolled<A, OrMethod::Sum, hasNaN>(fis, ruleDegrees, d, ruleInputValues, strength, fired);
}

template <bool hasNaN>
static RuleFiring fireRulesWith(AndMethod andMethod, OrMethod orMethod, const SystemRecord *fis,
                                const int32_t *ruleDegrees, const double *d, DynArray<double> *ruleInputValues,
                                double *strength, int32_t *fired) {
    if (andMethod == AndMethod::Min)
        return fireRulesWithOr<AndMethod::Min, hasNaN>(orMethod, fis, ruleDegrees, d, ruleInputValues, strength, fired);
    return fireRulesWithOr<AndMethod::Prod, hasNaN>(orMethod, fis, ruleDegrees, d, ruleInputValues, strength, fired);
}

RuleFiring fireRulesBuiltIn(const SystemRecord *fis, const DynArray<int32_t> *ruleDegrees,
                            const DynArray<double> *degrees, bool hasNaN, AndMethod andMethod, OrMethod orMethod,
                            DynArray<double> *ruleInputValues, DynArray<double> *firingStrengths,
                            DynArray<int32_t> *firedRules) {
    assert(andMethod != AndMethod::Host && orMethod != OrMethod::Host && fis->numInputs > 0);
    int32_t *fired = firedRules != nullptr ? firedRules->data : nullptr;
    if (hasNaN)
        return fireRulesWith<true>(andMethod, orMethod, fis, ruleDegrees->data, degrees->data, ruleInputValues,
                                   firingStrengths->data, fired);
    return fireRulesWith<false>(andMethod, orMethod, fis, ruleDegrees->data, degrees->data, ruleInputValues,
                                firingStrengths->data, fired);
}
