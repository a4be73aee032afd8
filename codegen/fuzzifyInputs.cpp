// Every rule's antecedents resolved against one row's membership degrees.
#include "codegen/fuzzifyInputs.h"
#include "model/indexArithmetic.h"

#include "host/runtime.h"

DegreeTableEntries degreeTableEntries(int32_t cacheLength) {
    const int32_t n = cacheLength;
    return {2 * n, 2 * n + 1, 2 * n + 2, 2 * n + 3};
}

int64_t degreeTableLength(int32_t cacheLength) { return 2 * static_cast<int64_t>(cacheLength) + 4; }

void planRuleAntecedents(const SystemRecord *fis, DynArray<int32_t> *plan) {
    const int32_t numRules = fis->numRules;
    const int32_t numInputs = fis->numInputs;
    const int32_t antecedentStride = fis->antecedent->size[0];
    resize2D(plan, numRules, numInputs);
    for (int32_t r = 0; r < numRules; ++r) {
        for (int32_t i = 0; i < numInputs; ++i) {
            const double a = fis->antecedent->data[r + i * antecedentStride];
            const int32_t k = magnitudeIndex(a);
            int32_t code = 0;
            if (k != 0) {
                int32_t position = cachePosition(fis->numCumInputMFs->data[i], k);
                if (position < 1) position = INT32_MAX;  // before the cache: no degree, like past it
                code = a < 0.0 ? -position : position;
            }
            plan->data[r + i * numRules] = code;
        }
    }
}

void mapRuleAntecedents(const SystemRecord *fis, const DynArray<int32_t> *plan, const DynArray<double> *inputMFCache,
                        DynArray<double> *ruleInputValues) {
    const int32_t numRules = fis->numRules;
    const int32_t numInputs = fis->numInputs;
    const int32_t cacheLength = numel(inputMFCache);
    for (int32_t i = 0; i < numInputs; ++i) {
        const int32_t *codes = plan->data + static_cast<int64_t>(i) * numRules;
        double *values = ruleInputValues->data + static_cast<int64_t>(i) * numRules;
        for (int32_t r = 0; r < numRules; ++r) {
            const int32_t code = codes[r];
            double value;
            if (code == 0) {
                value = fis->connection->data[r] == 1.0 ? 1.0 : 0.0;
            } else {
                const int32_t position = code < 0 ? -code : code;
                // A rule naming a function outside the cache has no degree
                // to read: NaN rather than memory beyond the row. No
                // clamping: a degree above 1 from a host function gives a
                // negative complement.
                const double m = position <= cacheLength ? inputMFCache->data[position - 1] : quvGetNaN();
                value = code < 0 ? 1.0 - m : m;
            }
            values[r] = value;
        }
    }
}

bool fillDegreeTable(const DynArray<double> *inputMFCache, bool readsComplements, DynArray<double> *degrees) {
    const int32_t n = numel(inputMFCache);
    const double *m = inputMFCache->data;
    double *d = degrees->data;
    bool hasNaN = false;
    for (int32_t k = 0; k < n; ++k) {
        d[k] = m[k];
        hasNaN = hasNaN | quvIsNaN(m[k]);
    }
    if (readsComplements) {
        for (int32_t k = 0; k < n; ++k) d[n + k] = 1.0 - m[k];
    }
    // The last four entries never change within a call; written per row
    // since they cost nothing next to the rest.
    const DegreeTableEntries fixed = degreeTableEntries(n);
    d[fixed.one] = 1.0;
    d[fixed.zero] = 0.0;
    d[fixed.nan] = quvGetNaN();
    d[fixed.notNaN] = 1.0 - d[fixed.nan];
    return hasNaN;
}

DegreeReads planRuleDegrees(const SystemRecord *fis, int32_t cacheLength, DynArray<int32_t> *ruleDegrees) {
    const int32_t numRules = fis->numRules;
    const int32_t numInputs = fis->numInputs;
    const int32_t antecedentStride = fis->antecedent->size[0];
    const int32_t n = cacheLength;
    const DegreeTableEntries fixed = degreeTableEntries(n);
    resize1D(ruleDegrees, static_cast<int32_t>(static_cast<int64_t>(numRules) * numInputs));
    DegreeReads reads = {false, false};
    for (int32_t r = 0; r < numRules; ++r) {
        const bool isAndRule = fis->connection->data[r] == 1.0;
        for (int32_t i = 0; i < numInputs; ++i) {
            const double a = fis->antecedent->data[r + i * antecedentStride];
            const int32_t k = magnitudeIndex(a);
            int32_t entry;
            if (k == 0) {
                entry = isAndRule ? fixed.one : fixed.zero;
            } else {
                const int32_t position = cachePosition(fis->numCumInputMFs->data[i], k);
                const bool isNot = a < 0.0;
                if (position >= 1 && position <= n) {
                    entry = isNot ? n + position - 1 : position - 1;
                    reads.complements = reads.complements || isNot;
                } else {
                    entry = isNot ? fixed.notNaN : fixed.nan;
                    reads.nan = true;
                }
            }
            ruleDegrees->data[static_cast<int64_t>(r) * numInputs + i] = entry;
        }
    }
    return reads;
}
