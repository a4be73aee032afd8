// Trimmed membership-function lists and the caches built from them.
#ifndef FAZOLT_CODEGEN_PRIVATE_CACHES_H
#define FAZOLT_CODEGEN_PRIVATE_CACHES_H

#include "model/systemRecord.h"

// Fills `out` (an empty, registered list) with one entry per variable: its
// first origNumMF membership functions, names and parameters cut to their
// orig lengths.
void extractVarMF(zorbTLS *tls, const DynArray<VariableRecord> *variables,
                  DynArray<ExtractedVarMF> *out);
// Samples every output membership function of a Mamdani system at its
// output's sample points: R x numSamples, R = sum of numOutputMFs.
void createMamdaniOutputMFCache(zorbTLS *tls, const SystemRecord *fis, DynArray<double> *outputMFCache);
// Fills inputMFCache for one input row, range-testing each input first.
void createInputMFCache(zorbTLS *tls, const DynArray<double> *inputRow, const SystemRecord *fis,
                        const DiagnosticsOptions *diag, const DynArray<ExtractedVarMF> *inputMFs,
                        DynArray<double> *inputMFCache);

// One membership kind per extracted function, variable by variable:
// variable v's functions start at offsets(v) (numel(vars) + 1 entries).
void selectMembershipKinds(const DynArray<ExtractedVarMF> *vars, DynArray<uint8_t> *kinds,
                           DynArray<int32_t> *offsets);
// createInputMFCache with the kinds selected once per call: the same
// degrees, diagnostics and host calls in the same order.
void createInputMFCacheByKind(zorbTLS *tls, const DynArray<double> *inputRow, const SystemRecord *fis,
                              const DiagnosticsOptions *diag, const DynArray<ExtractedVarMF> *inputMFs,
                              const DynArray<uint8_t> *kinds, const DynArray<int32_t> *offsets,
                              DynArray<double> *inputMFCache);

#endif
