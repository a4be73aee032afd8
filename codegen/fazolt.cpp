// The evaluation entry.
//
// Sections: per-row pipeline (runFIS), setup of results and working storage,
// the row loop, the exported C entry.
#include "codegen/fazolt.h"

#include "codegen/applyMamdani.h"
#include "codegen/applyOperators.h"
#include "codegen/applySugeno.h"
#include "codegen/defuzzMethod.h"
#include "codegen/fuzzifyInputs.h"
#include "codegen/private/caches.h"

namespace {

// Working storage of one evaluation; every array is registered on the
// heap-reference stack while it exists.
struct WorkingStorage {
    DynArray<uint8_t> *typeCopy;
    DynArray<double> *outputMFCache;
    DynArray<ExtractedVarMF> *inputMFs;
    DynArray<double> *inputMFCache;
    DynArray<double> *scratch;
    DynArray<double> *inputRow;
    DynArray<double> *outputRow;
    DynArray<double> *columnBuffer;
};

void initWorkingStorage(zorbTLS *tls, WorkingStorage *w) {
    initRegisteredArray(tls, &w->typeCopy, 2);
    initRegisteredArray(tls, &w->outputMFCache, 2);
    initRegisteredArray(tls, &w->inputMFs, 2);
    initRegisteredArray(tls, &w->inputMFCache, 2);
    initRegisteredArray(tls, &w->scratch, 1);
    initRegisteredArray(tls, &w->inputRow, 2);
    initRegisteredArray(tls, &w->outputRow, 1);
    initRegisteredArray(tls, &w->columnBuffer, 1);
}

void releaseWorkingStorage(WorkingStorage *w) {
    releaseArray(&w->columnBuffer);
    releaseArray(&w->outputRow);
    releaseArray(&w->inputRow);
    releaseArray(&w->scratch);
    releaseArray(&w->inputMFCache);
    releaseArray(&w->inputMFs);
    releaseArray(&w->outputMFCache);
    releaseArray(&w->typeCopy);
}

// The count of a flat cache: the counts added in double precision from the
// first, then truncated.
int32_t sumOfCounts(const DynArray<int32_t> *counts) {
    double total = 0.0;
    int32_t n = numel(counts);
    for (int32_t k = 0; k < n; ++k) total += static_cast<double>(counts->data[k]);
    return static_cast<int32_t>(total);
}

void runMamdaniRow(zorbTLS *tls, double totalFiringStrength, const SystemRecord *fis,
                   const DiagnosticsOptions *diag, DefuzzMethod method, WorkingStorage *w,
                   const FazoltResults *results) {
    applyMamdaniImplicationMethod(tls, results->firingStrengths, fis, w->outputMFCache, results->ruleOutputs);
    applyMamdaniAggregationMethod(tls, results->ruleOutputs, fis, results->aggregatedOutputs);
    resize1D(w->outputRow, fis->numOutputs);
    const DynArray<double> *aggregated = results->aggregatedOutputs;
    int32_t numSamplesK = aggregated->size[0];
    for (int32_t o = 1; o <= fis->numOutputs; ++o) {
        resize1D(w->columnBuffer, numSamplesK);
        const double *column = aggregated->data + static_cast<int64_t>(o - 1) * numSamplesK;
        for (int32_t k = 0; k < numSamplesK; ++k) w->columnBuffer->data[k] = column[k];
        w->outputRow->data[o - 1] = applyMamdaniDefuzzificationMethod(
            tls, o, w->columnBuffer, totalFiringStrength, fis, method, diag);
    }
}

void runSugenoRow(zorbTLS *tls, double totalFiringStrength, const SystemRecord *fis,
                  const DiagnosticsOptions *diag, DefuzzMethod method, WorkingStorage *w,
                  const FazoltResults *results) {
    applySugenoImplicationMethod(tls, w->inputRow, results->firingStrengths, fis, results->ruleOutputs,
                                 results->ruleOutputLevels);
    applySugenoAggregationMethod(results->ruleOutputs, results->aggregatedOutputs);
    resize1D(w->outputRow, fis->numOutputs);
    for (int32_t o = 1; o <= fis->numOutputs; ++o) {
        double a = results->aggregatedOutputs->data[o - 1];
        w->outputRow->data[o - 1] =
            applySugenoDefuzzificationMethod(tls, o, a, totalFiringStrength, fis, method, diag);
    }
}

// One input row through the pipeline; row s (0-based) of crispOutputs.
void runFIS(zorbTLS *tls, int32_t s, const DynArray<double> *inputs, const SystemRecord *fis,
            const DiagnosticsOptions *diag, DefuzzMethod method, WorkingStorage *w,
            const FazoltResults *results) {
    int32_t numRows = inputs->size[0];
    int32_t numCols = inputs->size[1];
    resize2D(w->inputRow, 1, numCols);
    for (int32_t j = 0; j < numCols; ++j) {
        w->inputRow->data[j] = inputs->data[s + static_cast<int64_t>(j) * numRows];
    }
    fuzzifyInputs(tls, w->inputRow, fis, diag, w->inputMFs, w->inputMFCache, results->ruleInputValues);
    double totalFiringStrength =
        applyOperators(tls, results->ruleInputValues, fis, results->firingStrengths, w->scratch);

    copyArray(w->typeCopy, fis->type);
    if (nameIs(w->typeCopy, "mamdani")) {
        runMamdaniRow(tls, totalFiringStrength, fis, diag, method, w, results);
    } else {
        runSugenoRow(tls, totalFiringStrength, fis, diag, method, w, results);
    }

    DynArray<double> *crisp = results->crispOutputs;
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        crisp->data[s + static_cast<int64_t>(o) * crisp->size[0]] = w->outputRow->data[o];
    }
}

}  // namespace

void evaluateFis(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis,
                 const DiagnosticsOptions *diag, const FazoltResults *results) {
    zorbHeapReferenceStackEnterFcn(tls);
    DefuzzMethod method = selectDefuzzMethod(fis->defuzzMethod);

    WorkingStorage w;
    initWorkingStorage(tls, &w);

    resize2D(results->crispOutputs, inputs->size[0], fis->numOutputs);
    resize2D(results->ruleInputValues, fis->numRules, fis->numInputs);
    resize2D(results->ruleOutputs, fis->orrSize[0], fis->orrSize[1]);
    resize2D(results->aggregatedOutputs, fis->aggSize[0], fis->aggSize[1]);

    if (nameIs(fis->type, "mamdani")) {
        createMamdaniOutputMFCache(tls, fis, w.outputMFCache);
        resize2D(results->ruleOutputLevels, 1, 1);
        results->ruleOutputLevels->data[0] = 0.0;
    } else {
        resize2D(w.outputMFCache, 1, 1);
        w.outputMFCache->data[0] = 0.0;
        resize2D(results->ruleOutputLevels, fis->orrSize[0], fis->orrSize[1]);
    }

    extractVarMF(tls, fis->inputMF, w.inputMFs);
    resize2D(w.inputMFCache, 1, sumOfCounts(fis->numInputMFs));
    resize1D(results->firingStrengths, fis->numRules);
    resize1D(w.scratch, fis->numInputs);

    for (int32_t s = 0; s < inputs->size[0]; ++s) {
        runFIS(tls, s, inputs, fis, diag, method, &w, results);
    }

    releaseWorkingStorage(&w);
    zorbHeapReferenceStackLeaveFcn(tls);
}

extern "C" FAZOLT_EXPORT void fazolt(const DynArray<double> *inputs, const SystemRecord *fis,
                                     const DiagnosticsOptions *diag, DynArray<double> *crispOutputs,
                                     DynArray<double> *ruleInputValues, DynArray<double> *ruleOutputs,
                                     DynArray<double> *aggregatedOutputs, DynArray<double> *firingStrengths,
                                     DynArray<double> *ruleOutputLevels) {
    FazoltResults results = {crispOutputs,      ruleInputValues, ruleOutputs,
                             aggregatedOutputs, firingStrengths, ruleOutputLevels};
    evaluateFis(fazoltTLS, inputs, fis, diag, &results);
}
