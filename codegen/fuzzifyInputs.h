#ifndef FAZOLT_CODEGEN_FUZZIFYINPUTS_H
#define FAZOLT_CODEGEN_FUZZIFYINPUTS_H

#include "model/systemRecord.h"

// Fills inputMFCache for the row (reporting out-of-range inputs) and then
// ruleInputValues (numRules x numInputs) from it.
void fuzzifyInputs(zorbTLS *tls, const DynArray<double> *inputRow, const SystemRecord *fis,
                   const DiagnosticsOptions *diag, const DynArray<ExtractedVarMF> *inputMFs,
                   DynArray<double> *inputMFCache, DynArray<double> *ruleInputValues);

// Resolves every rule's antecedent row against the complete inputMFCache.
void mapRuleAntecedents(const SystemRecord *fis, const DynArray<double> *inputMFCache,
                        DynArray<double> *ruleInputValues);

#endif
