// The crisp output functions of a Sugeno system and the per-row cache of
// their values.
#ifndef FAZOLT_CODEGEN_PRIVATE_SUGENOOUTPUTS_H
#define FAZOLT_CODEGEN_PRIVATE_SUGENOOUTPUTS_H

#include "model/systemRecord.h"

// What fills a cache entry.
enum SugenoOutputKind : uint8_t { kSugenoNone = 0, kSugenoConstant = 1, kSugenoLinear = 2 };

// The cache (1 x L, L = sumOfCounts(numOutputMFs)) of the output functions'
// values at one input row x: entry cachePosition(numCumOutputMFs(o), j)
// holds function j of output o, "constant" params(1), every other type
// linear: x(1)*params(1) + ... + x(n)*params(n), summed from 0 in input
// order, then params(n + 1). Laid out once per call for rows of numX
// inputs: entry k is filled by the last function written into it.
// kinds(k): kSugenoNone (the entry stays 0), kSugenoConstant or
// kSugenoLinear; coefficients(k * (numX + 1) + i): its parameters.
void planSugenoOutputCache(const SystemRecord *fis, const DynArray<ExtractedVarMF> *outputMFs, int32_t numX,
                           DynArray<uint8_t> *kinds, DynArray<double> *coefficients);
// Fills the cache for one row from the plan.
void fillSugenoOutputCache(const DynArray<double> *x, const DynArray<uint8_t> *kinds,
                           const DynArray<double> *coefficients, DynArray<double> *cache);

#endif
