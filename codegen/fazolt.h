// The evaluation entry: every input row in order through the fuzzy
// inference pipeline; results 2 to 6 hold the last row's values.
#ifndef FAZOLT_CODEGEN_FAZOLT_H
#define FAZOLT_CODEGEN_FAZOLT_H

#include "host/runtime.h"
#include "model/systemRecord.h"

struct FazoltResults {
    DynArray<double> *crispOutputs;       // rows(inputs) x numOutputs
    DynArray<double> *ruleInputValues;    // numRules x numInputs
    DynArray<double> *ruleOutputs;        // orrSize
    DynArray<double> *aggregatedOutputs;  // aggSize
    DynArray<double> *firingStrengths;    // numRules, one dimension
    DynArray<double> *ruleOutputLevels;   // Sugeno: orrSize; Mamdani: 1 x 1 holding 0
};

void evaluateFis(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis, const DiagnosticsOptions *diag,
                 const FazoltResults *results);

extern "C" FAZOLT_EXPORT void fazolt(const DynArray<double> *inputs, const SystemRecord *fis,
                                     const DiagnosticsOptions *diag, DynArray<double> *crispOutputs,
                                     DynArray<double> *ruleInputValues, DynArray<double> *ruleOutputs,
                                     DynArray<double> *aggregatedOutputs, DynArray<double> *firingStrengths,
                                     DynArray<double> *ruleOutputLevels);

#endif
