// The Sugeno chain of one input row.
//
// Sections: rule outputs (implication), column sums (aggregation), crisp
// values (defuzzification).
#include "codegen/applySugeno.h"
#include "model/indexArithmetic.h"

#include "codegen/private/caches.h"
#include "codegen/private/diagnostics.h"
#include "codegen/private/sugenoOutputs.h"
#include "host/hostConversions.h"
#include "host/runtime.h"

#include <cassert>
#include <cstdint>

namespace {

void fillZeros(DynArray<double> *a) {
    const int32_t n = numel(a);
    for (int32_t i = 0; i < n; ++i) a->data[i] = 0.0;
}

double defuzzifyCustom(zorbTLS *tls, const DynArray<uint8_t> *name, double a, double totalFiringStrength) {
    static const zorbCallLocation location = {44, 40, "applySugenoDefuzzificationMethod",
                                              "codegen/applySugenoDefuzzificationMethod"};
    zorbArray *args[3];
    args[0] = exportCharRow(tls, name);
    args[1] = zorbCreateDoubleScalar(a);
    args[2] = zorbCreateDoubleScalar(totalFiringStrength);
    zorbArray *value = nullptr;
    zorbCallOrvane(tls, 1, &value, 3, args, "feval", true, &location);
    return importDoubleScalar(tls, coerceToDouble(tls, value), "feval");
}

}  // namespace

void planSugenoRuleOutputs(const SystemRecord *fis, DynArray<int32_t> *cacheEntries) {
    const int32_t numRules = fis->numRules;
    const int32_t numOutputs = fis->numOutputs;
    const int64_t consequentRows = fis->consequent->size[0];
    resize2D(cacheEntries, numRules, numOutputs);
    for (int32_t r = 0; r < numRules; ++r) {
        for (int32_t o = 0; o < numOutputs; ++o) {
            const int32_t q = magnitudeIndex(fis->consequent->data[r + o * consequentRows]);
            int32_t entry = -1;
            // The boundary has refused consequents beyond the output's functions.
            assert(q <= fis->numOutputMFs->data[o]);
            if (q != 0) entry = cachePosition(fis->numCumOutputMFs->data[o], q) - 1;
            cacheEntries->data[r + static_cast<int64_t>(o) * numRules] = entry;
        }
    }
}

void applySugenoImplicationMethod(const DynArray<double> *inputRow, const DynArray<double> *firingStrengths,
                                  const SystemRecord *fis, const DynArray<uint8_t> *outputKinds,
                                  const DynArray<double> *outputCoefficients, const DynArray<int32_t> *cacheEntries,
                                  DynArray<double> *cache, DynArray<double> *ruleOutputs,
                                  DynArray<double> *ruleOutputLevels) {
    fillSugenoOutputCache(inputRow, outputKinds, outputCoefficients, cache);
    const int32_t numRules = fis->numRules;
    const int32_t numOutputs = fis->numOutputs;
    resize2D(ruleOutputs, fis->orrSize[0], fis->orrSize[1]);
    resize2D(ruleOutputLevels, fis->orrSize[0], fis->orrSize[1]);
    fillZeros(ruleOutputs);
    fillZeros(ruleOutputLevels);
    assert(fis->orrSize[0] >= numRules && fis->orrSize[1] >= numOutputs);
    const int64_t rows = ruleOutputs->size[0];
    for (int32_t o = 0; o < numOutputs; ++o) {
        const int32_t *entries = cacheEntries->data + static_cast<int64_t>(o) * numRules;
        for (int32_t r = 0; r < numRules; ++r) {
            const int32_t entry = entries[r];
            if (entry < 0) continue;
            assert(entry < numel(cache));
            const double z = cache->data[entry];
            ruleOutputLevels->data[r + o * rows] = z;
            ruleOutputs->data[r + o * rows] = z * firingStrengths->data[r];
        }
    }
}

double sumSugenoRuleOutputs(const DynArray<double> *firingStrengths, const SystemRecord *fis,
                            const DynArray<int32_t> *cacheEntries, const DynArray<double> *cache, int32_t o) {
    const int32_t numRules = fis->numRules;
    const int64_t rows = fis->orrSize[0];
    const int32_t *entries = cacheEntries->data + static_cast<int64_t>(o) * numRules;
    const double *w = firingStrengths->data;
    if (rows == 0 || numRules == 0) return 0.0;
    double sum = entries[0] < 0 ? 0.0 : cache->data[entries[0]] * w[0];
    for (int32_t r = 1; r < numRules; ++r) {
        const int32_t entry = entries[r];
        sum = sum + (entry < 0 ? 0.0 : cache->data[entry] * w[r]);
    }
    // The zero rows below the rules: adding +0 changes only a -0 sum.
    if (rows > numRules) sum = sum + 0.0;
    return sum;
}

// Column sums in row order, each started from the first row (so a column of
// negative zeros sums to -0). aggregatedOutputs keeps its extents; its
// elements in column-major order take the sums.
void applySugenoAggregationMethod(const DynArray<double> *ruleOutputs, DynArray<double> *aggregatedOutputs) {
    const int32_t rows = ruleOutputs->size[0];
    const int32_t cols = ruleOutputs->size[1];
    const int32_t capacity = numel(aggregatedOutputs);
    for (int32_t o = 0; o < cols && o < capacity; ++o) {
        double sum = 0.0;
        if (rows > 0) {
            const double *column = ruleOutputs->data + static_cast<int64_t>(o) * rows;
            sum = column[0];
            for (int32_t r = 1; r < rows; ++r) sum = sum + column[r];
        }
        aggregatedOutputs->data[o] = sum;
    }
}

double applySugenoDefuzzificationMethod(zorbTLS *tls, int32_t o, double a, double totalFiringStrength,
                                        const SystemRecord *fis, DefuzzMethod method, const DiagnosticsOptions *diag) {
    const double T = totalFiringStrength;
    if (T == 0.0) {  // either sign of zero; NaN means some rule fired
        const DynArray<double> *range = fis->outputRange;
        const double y = (range->data[(o - 1) + static_cast<int64_t>(range->size[0])] + range->data[o - 1]) / 2.0;
        throwNoRuleFiredDiagnostic(tls, o, y, diag);
        return y;
    }
    // The Mamdani methods see a one-point set: the point a with membership T.
    switch (method) {
        case DefuzzMethod::Wtaver: return (1.0 / T) * a;
        case DefuzzMethod::Wtsum: return a;
        case DefuzzMethod::Centroid: return (T * a) * (1.0 / T);
        case DefuzzMethod::Bisector:
        case DefuzzMethod::Som:
        case DefuzzMethod::Lom: return a;
        case DefuzzMethod::Mom: return quvIsNaN(T) ? quvGetNaN() : a;
        case DefuzzMethod::Custom: break;
    }
    return defuzzifyCustom(tls, fis->defuzzMethod, a, T);
}
