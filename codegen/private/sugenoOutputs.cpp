#include "codegen/private/sugenoOutputs.h"
#include "model/indexArithmetic.h"

#include "host/runtime.h"

#include <cassert>

void planSugenoOutputCache(const SystemRecord *fis, const DynArray<ExtractedVarMF> *outputMFs, int32_t numX,
                           DynArray<uint8_t> *kinds, DynArray<double> *coefficients) {
    const int32_t length = sumOfCounts(fis->numOutputMFs);
    const int64_t width = static_cast<int64_t>(numX) + 1;
    resize1D(kinds, length);
    resize1D(coefficients, static_cast<int32_t>(length * width));
    for (int32_t k = 0; k < length; ++k) kinds->data[k] = kSugenoNone;
    for (int64_t k = 0; k < length * width; ++k) coefficients->data[k] = 0.0;
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        const DynArray<ExtractedMF> *mfs = outputMFs->data[o];
        for (int32_t j = 0; j < fis->numOutputMFs->data[o]; ++j) {
            const int32_t k = cachePosition(fis->numCumOutputMFs->data[o], j + 1);
            assert(k >= 1 && k <= length);
            const ExtractedMF &mf = mfs->data[j];
            const bool isConstant = nameIs(mf.type, "constant");
            kinds->data[k - 1] = isConstant ? kSugenoConstant : kSugenoLinear;
            // The boundary has refused rows too short for the inputs.
            const int64_t numRead = isConstant ? 1 : width;
            const int64_t numGiven = numel(mf.params);
            double *row = coefficients->data + (k - 1) * width;
            for (int64_t i = 0; i < width; ++i) row[i] = i < numRead && i < numGiven ? mf.params->data[i] : 0.0;
        }
    }
}

namespace {

// N inputs when small enough to unroll, else 0 and n from the row.
template <int N>
void fillCache(const double *xs, int32_t numX, const uint8_t *kinds, int32_t length, const double *coefficients,
               double *cache) {
    const int32_t n = N > 0 ? N : numX;
    const int64_t width = static_cast<int64_t>(n) + 1;
    for (int32_t k = 0; k < length; ++k) {
        const double *p = coefficients + k * width;
        double z = 0.0;
        if (kinds[k] == kSugenoLinear) {
            double sum = 0.0;  // coefficients first, in input order, then the constant term
            for (int32_t i = 0; i < n; ++i) sum = sum + xs[i] * p[i];
            z = sum + p[n];
        } else if (kinds[k] == kSugenoConstant) {
            z = p[0];
        }
        cache[k] = z;
    }
}

}  // namespace

void fillSugenoOutputCache(const DynArray<double> *x, const DynArray<uint8_t> *kinds,
                           const DynArray<double> *coefficients, DynArray<double> *cache) {
    const int32_t length = numel(kinds);
    const int32_t n = numel(x);
    const double *xs = x->data;
    switch (n) {
        case 1: fillCache<1>(xs, n, kinds->data, length, coefficients->data, cache->data); return;
        case 2: fillCache<2>(xs, n, kinds->data, length, coefficients->data, cache->data); return;
        case 3: fillCache<3>(xs, n, kinds->data, length, coefficients->data, cache->data); return;
        case 4: fillCache<4>(xs, n, kinds->data, length, coefficients->data, cache->data); return;
        default: fillCache<0>(xs, n, kinds->data, length, coefficients->data, cache->data); return;
    }
}
