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

// The cache's functions laid out once per call for rows of numX inputs:
// entry k is filled by the last function that createSugenoOutputMFCache
// writes into it. kinds(k): 0 none (the entry stays 0), 1 constant, 2
// linear; coefficients(k * (numX + 1) + i): its parameters.
void planSugenoOutputCache(const SystemRecord *fis, const DynArray<ExtractedVarMF> *outputMFs, int32_t numX,
                           DynArray<uint8_t> *kinds, DynArray<double> *coefficients);
// createSugenoOutputMFCache from the plan: the same cache.
void fillSugenoOutputCache(const DynArray<double> *x, const DynArray<uint8_t> *kinds,
                           const DynArray<double> *coefficients, DynArray<double> *cache);

#endif
