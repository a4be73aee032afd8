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

// One row per call (host/rowEntry.h exports these): built once for a system
// record, which must outlive it, then rows of numInputs values with no
// allocation and, when rowEvaluatorCallsHost is false, no host call and no
// raise (tls may then be null). One evaluator serves one thread at a time.
struct RowEvaluator;
// Raises what the batch raises on its first row for a system of built-in
// functions; a partly made evaluator is released by the heap-reference stack.
RowEvaluator *createRowEvaluator(zorbTLS *tls, const SystemRecord *fis);
void releaseRowEvaluator(RowEvaluator *e);
bool rowEvaluatorCallsHost(const RowEvaluator *e);
// outputs[o] for each output; results 2 to 6 (rowIntermediate k = 1..5) are
// the row's only when keepsIntermediates. Diagnostics are recorded in seen.
void evaluateRow(zorbTLS *tls, RowEvaluator *e, const double *row, double *outputs, bool keepsIntermediates,
                 DiagnosticsSeen *seen);
const DynArray<double> *rowIntermediate(const RowEvaluator *e, int32_t k);

extern "C" FAZOLT_EXPORT void fazolt(const DynArray<double> *inputs, const SystemRecord *fis,
                                     const DiagnosticsOptions *diag, DynArray<double> *crispOutputs,
                                     DynArray<double> *ruleInputValues, DynArray<double> *ruleOutputs,
                                     DynArray<double> *aggregatedOutputs, DynArray<double> *firingStrengths,
                                     DynArray<double> *ruleOutputLevels);

#endif
