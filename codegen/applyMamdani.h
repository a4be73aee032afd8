// The Mamdani chain of one input row: implication, aggregation and
// defuzzification of sampled output fuzzy sets.
#ifndef FAZOLT_CODEGEN_APPLYMAMDANI_H
#define FAZOLT_CODEGEN_APPLYMAMDANI_H

#include "codegen/defuzzMethod.h"
#include "model/systemRecord.h"

// ruleOutputs: orrSize; column (t-1)*numRules + r holds rule r's shaped set for output t.
void applyMamdaniImplicationMethod(zorbTLS *tls, const DynArray<double> *firingStrengths,
                                   const SystemRecord *fis, const DynArray<double> *outputMFCache,
                                   DynArray<double> *ruleOutputs);
// aggregatedOutputs: aggSize; column t is output t.
void applyMamdaniAggregationMethod(zorbTLS *tls, const DynArray<double> *ruleOutputs,
                                   const SystemRecord *fis, DynArray<double> *aggregatedOutputs);
// The crisp value of output o (1-based) from its aggregated set mf (one
// dimension, K values); x is row o of outputSamplePoints. Handles the
// no-rule-fired default and both diagnostics.
double applyMamdaniDefuzzificationMethod(zorbTLS *tls, int32_t o, const DynArray<double> *mf,
                                         double totalFiringStrength, const SystemRecord *fis,
                                         DefuzzMethod method, const DiagnosticsOptions *diag);

#endif
