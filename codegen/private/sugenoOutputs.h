// The crisp output functions of a Sugeno system and the per-row cache of
// their values.
#ifndef FAZOLT_CODEGEN_PRIVATE_SUGENOOUTPUTS_H
#define FAZOLT_CODEGEN_PRIVATE_SUGENOOUTPUTS_H

#include "model/systemRecord.h"

// params(1).
double constant(const DynArray<double> *params);
// x(1)*params(1) + ... + x(n)*params(n), summed from 0 in input order, then
// params(n + 1): coefficients first, the constant term last.
double linear(const DynArray<double> *params, const DynArray<double> *x);

// cache (1 x L, L = sum of numOutputMFs): entry numCumOutputMFs(o) + j holds
// membership function j of output o at the input row x. Every function is
// evaluated once, used or not.
void createSugenoOutputMFCache(zorbTLS *tls, const DynArray<double> *x, const SystemRecord *fis,
                               const DynArray<ExtractedVarMF> *outputMFs, DynArray<double> *cache);

// 1 where an extracted output function is "constant", variable by variable
// from offsets(v) (numel(outputMFs) + 1 entries); resolved once per call.
void selectSugenoOutputKinds(const DynArray<ExtractedVarMF> *outputMFs, DynArray<uint8_t> *isConstant,
                             DynArray<int32_t> *offsets);
// createSugenoOutputMFCache with the kinds resolved once: the same cache.
void createSugenoOutputMFCacheByKind(const DynArray<double> *x, const SystemRecord *fis,
                                     const DynArray<ExtractedVarMF> *outputMFs, const DynArray<uint8_t> *isConstant,
                                     const DynArray<int32_t> *offsets, DynArray<double> *cache);

#endif
