#include "codegen/private/sugenoOutputs.h"

#include "codegen/applySugeno.h"
#include "host/runtime.h"

#include <cstring>

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

// Counts, indices or parameter rows that disagree with each other would read
// or write outside the lists: such a record is refused.
[[noreturn]] static void raiseInvalidOutputs(zorbTLS *tls, const char *what, int32_t expected, int32_t actual) {
    zorbErrMsgIdAndTxt(tls, "fazolt:InvalidSystem", 7, ZORB_CHAR_CLASS, static_cast<int32_t>(std::strlen(what)),
                       what, ZORB_INT32_CLASS, expected, ZORB_INT32_CLASS, actual);
}

void createSugenoOutputMFCache(zorbTLS *tls, const DynArray<double> *x, const SystemRecord *fis,
                               const DynArray<ExtractedVarMF> *outputMFs, DynArray<double> *cache) {
    const int32_t length = totalOutputMFs(fis);
    resize2D(cache, 1, length);
    for (int32_t k = 0; k < length; ++k) cache->data[k] = 0.0;
    if (numel(outputMFs) < fis->numOutputs)
        raiseInvalidOutputs(tls, "output variables", fis->numOutputs, numel(outputMFs));
    const int32_t numInputs = numel(x);
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        const DynArray<ExtractedMF> *mfs = outputMFs->data[o];
        const int32_t numMFs = fis->numOutputMFs->data[o];
        if (numel(mfs) < numMFs) raiseInvalidOutputs(tls, "output membership functions", numMFs, numel(mfs));
        for (int32_t j = 0; j < numMFs; ++j) {
            const int32_t k = addSaturated(fis->numCumOutputMFs->data[o], j + 1);
            if (k < 1 || k > length) raiseInvalidOutputs(tls, "output membership function index", length, k);
            const ExtractedMF &mf = mfs->data[j];
            const int32_t needed = nameIs(mf.type, "constant") ? 1 : numInputs + 1;
            if (numel(mf.params) < needed)
                raiseInvalidOutputs(tls, "output function parameters", needed, numel(mf.params));
            cache->data[k - 1] = evaluateSugenoOutputMembershipFcn(mf.type, mf.params, x);
        }
    }
}
