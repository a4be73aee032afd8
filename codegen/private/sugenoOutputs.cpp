#include "codegen/private/sugenoOutputs.h"

#include "codegen/applySugeno.h"
#include "host/runtime.h"

#include <cassert>

namespace {

int32_t addSaturated(int32_t a, int32_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

// The cache length: the counts summed in double precision and truncated,
// as every other per-variable total of the record is formed.
int32_t totalOutputMFs(const SystemRecord *fis) {
    double total = 0.0;
    const int32_t n = numel(fis->numOutputMFs);
    for (int32_t i = 0; i < n; ++i) total = total + static_cast<double>(fis->numOutputMFs->data[i]);
    return static_cast<int32_t>(total);
}

}  // namespace

double constant(const DynArray<double> *params) { return params->data[0]; }

double linear(const DynArray<double> *params, const DynArray<double> *x) {
    const int32_t n = numel(x);
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) sum = sum + x->data[i] * params->data[i];
    return sum + params->data[n];
}

double evaluateSugenoOutputMembershipFcn(const DynArray<uint8_t> *type, const DynArray<double> *params,
                                         const DynArray<double> *x) {
    if (nameIs(type, "constant")) return constant(params);
    return linear(params, x);
}

// The boundary has refused records whose counts disagree with the functions
// given, or whose parameter rows are too short for the inputs.
void createSugenoOutputMFCache(zorbTLS * /*tls*/, const DynArray<double> *x, const SystemRecord *fis,
                               const DynArray<ExtractedVarMF> *outputMFs, DynArray<double> *cache) {
    const int32_t length = totalOutputMFs(fis);
    resize2D(cache, 1, length);
    for (int32_t k = 0; k < length; ++k) cache->data[k] = 0.0;
    assert(numel(outputMFs) >= fis->numOutputs);
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        const DynArray<ExtractedMF> *mfs = outputMFs->data[o];
        const int32_t numMFs = fis->numOutputMFs->data[o];
        assert(numel(mfs) >= numMFs);
        for (int32_t j = 0; j < numMFs; ++j) {
            const int32_t k = addSaturated(fis->numCumOutputMFs->data[o], j + 1);
            assert(k >= 1 && k <= length);
            const ExtractedMF &mf = mfs->data[j];
            assert(numel(mf.params) >= (nameIs(mf.type, "constant") ? 1 : numel(x) + 1));
            cache->data[k - 1] = evaluateSugenoOutputMembershipFcn(mf.type, mf.params, x);
        }
    }
}

void selectSugenoOutputKinds(const DynArray<ExtractedVarMF> *outputMFs, DynArray<uint8_t> *isConstant,
                             DynArray<int32_t> *offsets) {
    const int32_t numVars = numel(outputMFs);
    resize1D(offsets, numVars + 1);
    int32_t total = 0;
    for (int32_t v = 0; v < numVars; ++v) {
        offsets->data[v] = total;
        total = addSaturated(total, numel(outputMFs->data[v]));
    }
    offsets->data[numVars] = total;
    resize1D(isConstant, total);
    for (int32_t v = 0; v < numVars; ++v) {
        const DynArray<ExtractedMF> *mfs = outputMFs->data[v];
        for (int32_t j = 0; j < numel(mfs); ++j)
            isConstant->data[offsets->data[v] + j] = nameIs(mfs->data[j].type, "constant") ? 1 : 0;
    }
}

void createSugenoOutputMFCacheByKind(const DynArray<double> *x, const SystemRecord *fis,
                                     const DynArray<ExtractedVarMF> *outputMFs, const DynArray<uint8_t> *isConstant,
                                     const DynArray<int32_t> *offsets, DynArray<double> *cache) {
    const int32_t length = totalOutputMFs(fis);
    resize2D(cache, 1, length);
    for (int32_t k = 0; k < length; ++k) cache->data[k] = 0.0;
    assert(numel(outputMFs) >= fis->numOutputs);
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        const DynArray<ExtractedMF> *mfs = outputMFs->data[o];
        const uint8_t *constantFlags = isConstant->data + offsets->data[o];
        const int32_t numMFs = fis->numOutputMFs->data[o];
        assert(numel(mfs) >= numMFs);
        for (int32_t j = 0; j < numMFs; ++j) {
            const int32_t k = addSaturated(fis->numCumOutputMFs->data[o], j + 1);
            assert(k >= 1 && k <= length);
            const ExtractedMF &mf = mfs->data[j];
            cache->data[k - 1] = constantFlags[j] != 0 ? constant(mf.params) : linear(mf.params, x);
        }
    }
}
