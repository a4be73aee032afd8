// Mamdani implication and aggregation for one input row.
//
// Sections: index helpers, record guards, implication (built-in, custom),
// aggregation (built-in, custom), rows whose rule outputs are not kept.
#include "codegen/applyMamdani.h"
#include "model/indexArithmetic.h"

#include "host/hostConversions.h"
#include "host/runtime.h"

#include <cassert>
#include <cmath>
#include <cstdint>

namespace {

enum class ImplicationMethod { Min, Prod, Custom };
enum class AggregationMethod : uint8_t { Max, Probor, Sum, Custom };

// ---- Index helpers: record indices are 32-bit and saturate, never wrap.

double &at(DynArray<double> *a, int32_t row, int32_t col) {
    return a->data[static_cast<int64_t>(row) + static_cast<int64_t>(col) * a->size[0]];
}
double at(const DynArray<double> *a, int32_t row, int32_t col) {
    return a->data[static_cast<int64_t>(row) + static_cast<int64_t>(col) * a->size[0]];
}

// ---- Host results.

// A host method must give one value per sample point: fewer would leave
// stale rows behind, more would write past the column.
void requireResultLength(zorbTLS *tls, const DynArray<uint8_t> *name, int32_t expected, int32_t actual) {
    if (actual == expected) return;
    zorbErrMsgIdAndTxt(tls, "fazolt:CustomResultLength", 7, ZORB_CHAR_CLASS, name->size[1],
                       reinterpret_cast<const char *>(name->data), ZORB_INT32_CLASS, expected, ZORB_INT32_CLASS,
                       actual);
}

// ---- Implication.

// The output membership value at sample point s of the rule's consequent,
// complemented (clamped at 0) when the consequent is negative.
double consequentValue(const DynArray<double> *outputMFCache, int32_t cacheRow, bool isNot, int32_t s) {
    double mu = at(outputMFCache, cacheRow, s);
    if (isNot) {
        double complement = 1.0 - mu;
        mu = complement > 0.0 ? complement : 0.0;  // NaN and values >= 1 give 0
    }
    return mu;
}

double implyMin(double mu, double w) {
    if (mu > w) return w;
    if (quvIsNaN(mu) && !quvIsNaN(w)) return w;
    return mu;
}

// The cache row (0-based) of rule r's consequent on output t; -1 when the
// rule says nothing about the output. The boundary has refused consequents
// beyond the output's membership functions.
int32_t consequentCacheRow(const SystemRecord *fis, const DynArray<double> *outputMFCache, int32_t k, int32_t t) {
    if (k == 0) return -1;
    assert(k <= fis->numOutputMFs->data[t]);
    int32_t row = cachePosition(fis->numCumOutputMFs->data[t], k);
    assert(row >= 1 && row <= outputMFCache->size[0] && outputMFCache->size[1] >= fis->numSamples);
    (void)outputMFCache;
    return row - 1;
}

void applyCustomImplication(zorbTLS *tls, const DynArray<uint8_t> *name, double w, int32_t col, int32_t numSamples,
                            DynArray<double> *ruleOutputs, DynArray<double> *result) {
    static const zorbCallLocation location = {78, 52, "applyMamdaniImplicationMethod",
                                              "codegen/applyMamdaniImplicationMethod"};
    zorbArray *args[3];
    args[0] = exportCharRow(tls, name);
    args[1] = exportDoubleColumn(&at(ruleOutputs, 0, col), ruleOutputs->size[0]);
    args[2] = zorbCreateNumericMatrix(numSamples, 1, ZORB_DOUBLE_CLASS, ZORB_REAL);
    double *strength = zorbQuvGetPr(args[2]);
    for (int32_t s = 0; s < numSamples; ++s) strength[s] = w;
    zorbArray *value = nullptr;
    zorbCallOrvane(tls, 1, &value, 3, args, "feval", true, &location);
    importDoubleColumn(tls, coerceToDouble(tls, value), "feval", result);
    requireResultLength(tls, name, numSamples, result->size[0]);
    for (int32_t s = 0; s < numSamples; ++s) at(ruleOutputs, s, col) = result->data[s];
}

// ---- Aggregation.

// One step of a built-in aggregation: "max" ignores NaN unless every value
// is NaN; "probor" forms the sum and the product before subtracting.
inline double aggregateStep(AggregationMethod method, double acc, double x) {
    switch (method) {
        case AggregationMethod::Max:
            if (x > acc || (quvIsNaN(acc) && !quvIsNaN(x))) return x;
            return acc;
        case AggregationMethod::Probor: return (x + acc) - x * acc;
        case AggregationMethod::Sum: return acc + x;
        case AggregationMethod::Custom: break;
    }
    return acc;
}

double aggregateBuiltIn(AggregationMethod method, const DynArray<double> *ruleOutputs, int32_t s, int32_t first,
                        int32_t last) {
    double acc = at(ruleOutputs, s, first);
    for (int32_t col = first + 1; col <= last; ++col) {
        double x = at(ruleOutputs, s, col);
        acc = aggregateStep(method, acc, x);
    }
    return acc;
}

// The method reduces over the rules, so it receives the output's rule block
// transposed: one row per rule, one column per sample point.
void applyCustomAggregation(zorbTLS *tls, const DynArray<uint8_t> *name, const DynArray<double> *ruleOutputs, int32_t t,
                            int32_t first, int32_t numRules, int32_t numSamples, DynArray<double> *aggregatedOutputs,
                            DynArray<double> *result) {
    static const zorbCallLocation location = {47, 41, "applyMamdaniAggregationMethod",
                                              "codegen/applyMamdaniAggregationMethod"};
    int32_t numPoints = ruleOutputs->size[0];
    zorbArray *args[2];
    args[0] = exportCharRow(tls, name);
    args[1] = zorbCreateNumericMatrix(numRules, numPoints, ZORB_DOUBLE_CLASS, ZORB_REAL);
    double *block = zorbQuvGetPr(args[1]);
    for (int32_t s = 0; s < numPoints; ++s)
        for (int32_t j = 0; j < numRules; ++j)
            block[static_cast<int64_t>(j) + static_cast<int64_t>(s) * numRules] = at(ruleOutputs, s, first + j);
    zorbArray *reduced = nullptr;
    zorbCallOrvane(tls, 1, &reduced, 2, args, "feval", true, &location);
    zorbArray *transposed = nullptr;
    zorbCallOrvane(tls, 1, &transposed, 1, &reduced, "transpose", true, &location);
    importDoubleColumn(tls, coerceToDouble(tls, transposed), "transpose", result);
    requireResultLength(tls, name, numSamples, result->size[0]);
    for (int32_t s = 0; s < numSamples; ++s) at(aggregatedOutputs, s, t) = result->data[s];
}

}  // namespace

void applyMamdaniImplicationMethod(zorbTLS *tls, const DynArray<double> *firingStrengths, const SystemRecord *fis,
                                   const DynArray<double> *outputMFCache, DynArray<double> *ruleOutputs) {
    const int32_t numSamples = fis->numSamples;
    const int32_t numOutputs = fis->numOutputs;
    const int32_t numRules = fis->numRules;
    resize2D(ruleOutputs, fis->orrSize[0], fis->orrSize[1]);

    assert(fis->orrSize[0] >= numSamples && fis->orrSize[1] >= static_cast<int64_t>(numRules) * numOutputs);

    ImplicationMethod method = ImplicationMethod::Custom;
    if (nameIs(fis->impMethod, "min")) {
        method = ImplicationMethod::Min;
    } else if (nameIs(fis->impMethod, "prod")) {
        method = ImplicationMethod::Prod;
    }

    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<double> *result = nullptr;
    if (method == ImplicationMethod::Custom) initRegisteredArray(tls, &result, 1);

    const int32_t columnRows = ruleOutputs->size[0];
    for (int32_t t = 0; t < numOutputs; ++t) {
        for (int32_t r = 0; r < numRules; ++r) {
            const int32_t col = saturateToInt32(static_cast<int64_t>(t) * numRules + r);
            const double b = fis->consequent->data[r + static_cast<int64_t>(t) * fis->consequent->size[0]];
            const int32_t cacheRow = consequentCacheRow(fis, outputMFCache, magnitudeIndex(b), t);
            if (cacheRow < 0) {
                for (int32_t s = 0; s < columnRows; ++s) at(ruleOutputs, s, col) = 0.0;
                continue;
            }
            const bool isNot = b < 0.0;
            const double w = firingStrengths->data[r];
            for (int32_t s = 0; s < numSamples; ++s) {
                double mu = consequentValue(outputMFCache, cacheRow, isNot, s);
                switch (method) {
                    case ImplicationMethod::Min: mu = implyMin(mu, w); break;
                    case ImplicationMethod::Prod: mu = mu * w; break;
                    case ImplicationMethod::Custom: break;  // shaped by the host below
                }
                at(ruleOutputs, s, col) = mu;
            }
            if (method == ImplicationMethod::Custom)
                applyCustomImplication(tls, fis->impMethod, w, col, numSamples, ruleOutputs, result);
        }
    }

    releaseArray(&result);
    zorbHeapReferenceStackLeaveFcn(tls);
}

void applyMamdaniAggregationMethod(zorbTLS *tls, const DynArray<double> *ruleOutputs, const SystemRecord *fis,
                                   DynArray<double> *aggregatedOutputs) {
    const int32_t numSamples = fis->numSamples;
    const int32_t numOutputs = fis->numOutputs;
    const int32_t numRules = fis->numRules;
    resize2D(aggregatedOutputs, fis->aggSize[0], fis->aggSize[1]);

    assert(fis->aggSize[0] >= numSamples && fis->aggSize[1] >= numOutputs);
    assert(ruleOutputs->size[0] >= numSamples && ruleOutputs->size[1] >= static_cast<int64_t>(numRules) * numOutputs);

    AggregationMethod method = AggregationMethod::Custom;
    if (nameIs(fis->aggMethod, "max")) {
        method = AggregationMethod::Max;
    } else if (nameIs(fis->aggMethod, "probor")) {
        method = AggregationMethod::Probor;
    } else if (nameIs(fis->aggMethod, "sum")) {
        method = AggregationMethod::Sum;
    }

    // Without rules there is no rule block to start from: every output set
    // is empty rather than a read of a column that does not exist.
    if (numRules <= 0) {
        for (int32_t t = 0; t < numOutputs; ++t)
            for (int32_t s = 0; s < numSamples; ++s) at(aggregatedOutputs, s, t) = 0.0;
        return;
    }

    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<double> *result = nullptr;
    if (method == AggregationMethod::Custom) initRegisteredArray(tls, &result, 1);

    for (int32_t t = 0; t < numOutputs; ++t) {
        const int32_t first = saturateToInt32(static_cast<int64_t>(t) * numRules);
        const int32_t last = saturateToInt32(static_cast<int64_t>(first) + numRules - 1);
        if (method == AggregationMethod::Custom) {
            applyCustomAggregation(tls, fis->aggMethod, ruleOutputs, t, first, numRules, numSamples, aggregatedOutputs,
                                   result);
            continue;
        }
        for (int32_t s = 0; s < numSamples; ++s)
            at(aggregatedOutputs, s, t) = aggregateBuiltIn(method, ruleOutputs, s, first, last);
    }

    releaseArray(&result);
    zorbHeapReferenceStackLeaveFcn(tls);
}

// ---- Rows whose rule outputs are not kept.

// The sets of the grouped path as rows of their own, complements included,
// with the span of samples where each is positive: outside it every
// candidate is +0 and leaves the set as it started.
static void tabulateSets(const SystemRecord *fis, const DynArray<double> *outputMFCache, int32_t numCacheRows,
                         MamdaniRowArrays *arrays) {
    const int32_t numSamples = fis->numSamples;
    const int32_t numSets = 2 * numCacheRows;
    resize1D(arrays->setValues, static_cast<int32_t>(static_cast<int64_t>(numSets) * numSamples));
    resize1D(arrays->setSupport, 2 * numSets);
    for (int32_t g = 0; g < numSets; ++g) {
        double *values = arrays->setValues->data + static_cast<int64_t>(g) * numSamples;
        int32_t first = numSamples;
        int32_t end = 0;
        for (int32_t s = 0; s < numSamples; ++s) {
            values[s] = consequentValue(outputMFCache, g / 2, (g % 2) == 1, s);
            if (values[s] > 0.0) {
                if (first == numSamples) first = s;
                end = s + 1;
            }
        }
        arrays->setSupport->data[2 * g] = first;
        arrays->setSupport->data[2 * g + 1] = end;
    }
}

void planMamdaniRows(const SystemRecord *fis, const DynArray<double> *outputMFCache, MamdaniRowPlan *plan,
                     MamdaniRowArrays *arrays) {
    DynArray<int32_t> *consequentRows = arrays->consequentRows;
    const int32_t numRules = fis->numRules;
    const int32_t numOutputs = fis->numOutputs;
    const bool isMin = nameIs(fis->impMethod, "min");
    const bool isProd = nameIs(fis->impMethod, "prod");
    const bool isMax = nameIs(fis->aggMethod, "max");
    const bool isBuiltInAggregation = isMax || nameIs(fis->aggMethod, "probor") || nameIs(fis->aggMethod, "sum");
    // The literal path reads aggSize(1) values per output set and starts its
    // aggregation from rule 1; anything else stays on it.
    plan->isFused = (isMin || isProd) && isBuiltInAggregation && numRules > 0 && fis->aggSize[0] == fis->numSamples &&
                    fis->orrSize[0] >= fis->numSamples;
    plan->isMinMax = isMin && isMax;
    plan->isMinImplication = isMin;
    AggregationMethod aggregation = AggregationMethod::Sum;
    if (isMax) {
        aggregation = AggregationMethod::Max;
    } else if (nameIs(fis->aggMethod, "probor")) {
        aggregation = AggregationMethod::Probor;
    }
    plan->aggregation = static_cast<uint8_t>(aggregation);
    plan->numCacheRows = outputMFCache->size[0];

    bool isPlain = true;
    const int32_t n = numel(outputMFCache);
    for (int32_t k = 0; k < n && isPlain; ++k) {
        const double mu = outputMFCache->data[k];
        isPlain = mu > 0.0 || (mu == 0.0 && !std::signbit(mu));
    }
    // The grouped path reads numSamples values of every cache row, and
    // keeps every row and its complement as a set of its own.
    const int64_t numSets = 2 * static_cast<int64_t>(plan->numCacheRows);
    const bool doSetsFit = fitsElementCount(2 * numSets) && fitsElementCount(numSets * fis->numSamples);
    plan->isCachePlain = isPlain && outputMFCache->size[1] >= fis->numSamples && doSetsFit;
    // A term +0 * x is a zero of either sign only when x is finite.
    bool arePointsFinite = true;
    const int32_t numPoints = numel(fis->outputSamplePoints);
    for (int32_t k = 0; k < numPoints && arePointsFinite; ++k)
        arePointsFinite = std::isfinite(fis->outputSamplePoints->data[k]);
    plan->isCentroidOnSupport = arePointsFinite && nameIs(fis->defuzzMethod, "centroid") &&
                                fitsElementCount(4 * static_cast<int64_t>(numOutputs)) &&
                                fitsElementCount(2 * static_cast<int64_t>(fis->numSamples) * numOutputs);

    resize2D(consequentRows, numRules, numOutputs);
    resize1D(arrays->groupStrengths, doSetsFit ? static_cast<int32_t>(numSets) : 0);
    for (int32_t g = 0; g < numel(arrays->groupStrengths); ++g) arrays->groupStrengths->data[g] = -1.0;
    resize1D(arrays->groupList, numRules);
    resize1D(arrays->firedRules, numRules);
    if (plan->isCentroidOnSupport) {
        resize1D(arrays->outputSets, static_cast<int32_t>(2 * static_cast<int64_t>(fis->numSamples) * numOutputs));
        resize1D(arrays->setBounds, 4 * numOutputs);
    }
    if (!plan->isFused) return;
    if (plan->isMinMax && plan->isCachePlain) tabulateSets(fis, outputMFCache, plan->numCacheRows, arrays);
    for (int32_t t = 0; t < numOutputs; ++t) {
        for (int32_t r = 0; r < numRules; ++r) {
            const double b = fis->consequent->data[r + static_cast<int64_t>(t) * fis->consequent->size[0]];
            const int32_t cacheRow = consequentCacheRow(fis, outputMFCache, magnitudeIndex(b), t);
            int32_t code = 0;
            if (cacheRow >= 0) code = b < 0.0 ? -(cacheRow + 1) : cacheRow + 1;
            consequentRows->data[r + static_cast<int64_t>(t) * numRules] = code;
        }
    }
}

int32_t listFiredRules(const DynArray<double> *firingStrengths, int32_t numRules, DynArray<int32_t> *firedRules) {
    int32_t numFired = 0;
    for (int32_t r = 0; r < numRules; ++r) {
        firedRules->data[numFired] = r;
        numFired += firingStrengths->data[r] > 0.0 ? 1 : 0;
    }
    return numFired;
}

bool isGroupedRow(const MamdaniRowPlan *plan, bool isRowPlain) {
    return plan->isFused && plan->isMinMax && plan->isCachePlain && isRowPlain;
}

bool areStrengthsPlain(const DynArray<double> *firingStrengths, int32_t numRules) {
    for (int32_t r = 0; r < numRules; ++r) {
        const double w = firingStrengths->data[r];
        if (!(w > 0.0 || (w == 0.0 && !std::signbit(w)))) return false;
    }
    return true;
}

namespace {

// Every rule in order, as implication then aggregation would, without the
// rule-output block in between.
void aggregateRuleByRule(const DynArray<double> *firingStrengths, const SystemRecord *fis, bool isMin,
                         AggregationMethod aggregation, const int32_t *codes, const DynArray<double> *outputMFCache,
                         double *set) {
    const int32_t numRules = fis->numRules;
    const int32_t numSamples = fis->numSamples;
    const double *w = firingStrengths->data;
    for (int32_t s = 0; s < numSamples; ++s) {
        double acc = 0.0;
        for (int32_t r = 0; r < numRules; ++r) {
            const int32_t code = codes[r];
            double x = 0.0;  // the rule says nothing about the output
            if (code != 0) {
                const int32_t cacheRow = (code < 0 ? -code : code) - 1;
                const double mu = consequentValue(outputMFCache, cacheRow, code < 0, s);
                x = isMin ? implyMin(mu, w[r]) : mu * w[r];
            }
            if (r == 0) {
                acc = x;
                continue;
            }
            acc = aggregateStep(aggregation, acc, x);
        }
        set[s] = acc;
    }
}

// Min implication under max aggregation with no NaN, no negative value and
// no -0 among the strengths and the cache: max_r min(mu, w_r) equals
// min(mu, max_r w_r) over the rules that share a set, every candidate is
// +0 or positive, and equal values have equal bits, so which rule wins a
// tie cannot show. A rule with strength +0 (or none for this output) only
// adds +0, where the set starts, so only the fired rules are read.
SetSupport aggregateBySet(const DynArray<double> *firingStrengths, int32_t numFired, const SystemRecord *fis,
                          const int32_t *codes, MamdaniRowArrays *arrays, double *set) {
    const int32_t numSamples = fis->numSamples;
    const int32_t *fired = arrays->firedRules->data;
    double *strongest = arrays->groupStrengths->data;
    int32_t *groups = arrays->groupList->data;
    int32_t numGroups = 0;
    for (int32_t k = 0; k < numFired; ++k) {
        const int32_t r = fired[k];
        const int32_t code = codes[r];
        if (code == 0) continue;
        const int32_t group = 2 * ((code < 0 ? -code : code) - 1) + (code < 0 ? 1 : 0);
        const double w = firingStrengths->data[r];
        if (strongest[group] < 0.0) {
            strongest[group] = w;
            groups[numGroups++] = group;
        } else if (w > strongest[group]) {
            strongest[group] = w;
        }
    }
    for (int32_t s = 0; s < numSamples; ++s) set[s] = 0.0;
    SetSupport support = {numSamples, 0};
    for (int32_t g = 0; g < numGroups; ++g) {
        const int32_t group = groups[g];
        const double w = strongest[group];
        strongest[group] = -1.0;
        const double *mu = arrays->setValues->data + static_cast<int64_t>(group) * numSamples;
        const int32_t first = arrays->setSupport->data[2 * group];
        const int32_t end = arrays->setSupport->data[2 * group + 1];
        if (first < support.first) support.first = first;
        if (end > support.end) support.end = end;
        for (int32_t s = first; s < end; ++s) {
            const double v = mu[s] > w ? w : mu[s];
            set[s] = v > set[s] ? v : set[s];
        }
    }
    if (support.first >= support.end) support = {0, 0};
    return support;
}

}  // namespace

SetSupport aggregateMamdaniOutput(const DynArray<double> *firingStrengths, int32_t numFired, const SystemRecord *fis,
                                  const MamdaniRowPlan *plan, MamdaniRowArrays *arrays,
                                  const DynArray<double> *outputMFCache, int32_t t, bool isRowPlain, double *set) {
    assert(plan->isFused);
    const int32_t *codes = arrays->consequentRows->data + static_cast<int64_t>(t) * fis->numRules;
    if (isGroupedRow(plan, isRowPlain)) return aggregateBySet(firingStrengths, numFired, fis, codes, arrays, set);
    aggregateRuleByRule(firingStrengths, fis, plan->isMinImplication, static_cast<AggregationMethod>(plan->aggregation),
                        codes, outputMFCache, set);
    return SetSupport{0, fis->numSamples};
}
