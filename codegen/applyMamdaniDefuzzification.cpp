// The crisp value of one Mamdani output from its aggregated fuzzy set.
#include "codegen/applyMamdani.h"

#include "codegen/private/defuzzMethods.h"
#include "codegen/private/diagnostics.h"
#include "host/hostConversions.h"
#include "host/runtime.h"

#include <cassert>

double outputRangeMidpoint(const SystemRecord *fis, int32_t o) {
    const DynArray<double> *range = fis->outputRange;
    const int64_t rows = range->size[0];
    return (range->data[(o - 1) + rows] + range->data[o - 1]) / 2.0;
}

namespace {

double defuzzifyCustom(zorbTLS *tls, const DynArray<uint8_t> *name, const DynArray<double> *mf, const SamplePoints &x) {
    static const zorbCallLocation location = {61, 44, "applyMamdaniDefuzzificationMethod",
                                              "codegen/applyMamdaniDefuzzificationMethod"};
    zorbArray *args[3];
    args[0] = exportCharRow(tls, name);
    args[1] = zorbCreateNumericMatrix(1, x.count, ZORB_DOUBLE_CLASS, ZORB_REAL);
    double *points = zorbQuvGetPr(args[1]);
    for (int32_t i = 0; i < x.count; ++i) points[i] = samplePoint(x, i);
    args[2] = exportDoubleColumn(mf->data, numel(mf));
    zorbArray *value = nullptr;
    zorbCallOrvane(tls, 1, &value, 3, args, "feval", true, &location);
    return importDoubleScalar(tls, coerceToDouble(tls, value), "feval");
}

double defuzzifyOutput(zorbTLS *tls, DefuzzMethod method, const DynArray<uint8_t> *name, const DynArray<double> *mf,
                       const SamplePoints &x) {
    const int32_t numMF = numel(mf);
    if (method == DefuzzMethod::Custom) return defuzzifyCustom(tls, name, mf, x);
    // Built-in methods pair the set with the sample points index by index and
    // read x(1); the boundary has refused a Mamdani system without sample
    // points or with sets of another length.
    assert(numMF == x.count && x.count > 0);
    switch (method) {
        case DefuzzMethod::Centroid: return centroid(mf->data, numMF, x);
        case DefuzzMethod::Bisector: return bisector(mf->data, numMF, x);
        case DefuzzMethod::Mom: return mom(mf->data, numMF, x);
        case DefuzzMethod::Som: return som(mf->data, numMF, x);
        case DefuzzMethod::Lom: return lom(mf->data, numMF, x);
        case DefuzzMethod::Wtaver: return wtaver(tls, mf, x);
        case DefuzzMethod::Wtsum: return wtsum(x);
        case DefuzzMethod::Custom: break;
    }
    return defuzzifyCustom(tls, name, mf, x);
}

}  // namespace

static SamplePoints outputSamplePoints(const SystemRecord *fis, int32_t o) {
    const DynArray<double> *points = fis->outputSamplePoints;
    // Row o of the column-major matrix, read in place (no data when empty).
    return SamplePoints{points->data == nullptr ? nullptr : points->data + (o - 1), points->size[1], points->size[0]};
}

double applyMamdaniDefuzzificationMethod(zorbTLS *tls, int32_t o, const DynArray<double> *mf,
                                         double totalFiringStrength, const SystemRecord *fis, DefuzzMethod method,
                                         const DiagnosticsOptions *diag) {
    // Exactly zero, either sign: no rule fired. NaN means some rule did.
    if (totalFiringStrength == 0.0) {
        double y = outputRangeMidpoint(fis, o);
        throwNoRuleFiredDiagnostic(tls, o, y, diag);
        return y;
    }
    double y = defuzzifyOutput(tls, method, fis->defuzzMethod, mf, outputSamplePoints(fis, o));
    throwEmptyFuzzySetDiagnostic(tls, o, mf, fis->defuzzMethod, y, diag);
    return y;
}

void applyMamdaniCentroidsOnSupport(zorbTLS *tls, const double *sets, const int32_t *supports,
                                    double totalFiringStrength, const SystemRecord *fis, const DiagnosticsOptions *diag,
                                    double *crisp) {
    const int32_t numOutputs = fis->numOutputs;
    const int32_t numSamples = fis->numSamples;
    if (totalFiringStrength == 0.0) {
        for (int32_t o = 1; o <= numOutputs; ++o) {
            crisp[o - 1] = outputRangeMidpoint(fis, o);
            throwNoRuleFiredDiagnostic(tls, o, crisp[o - 1], diag);
        }
        return;
    }
    assert(fis->outputSamplePoints->size[1] == numSamples && fis->outputSamplePoints->size[0] >= numOutputs);
    centroidsOnSupport(sets, numSamples, supports, fis->outputSamplePoints, numOutputs, numOutputs, crisp);
    for (int32_t o = 1; o <= numOutputs; ++o) {
        // Every value is +0 or positive and +0 off the support, so the set is
        // empty exactly when its support holds only zeros: the first non-zero
        // value settles it, where the diagnostic's sum would read every sample.
        const double *set = sets + static_cast<int64_t>(o - 1) * numSamples;
        const int32_t first = supports[2 * (o - 1)];
        const int32_t end = supports[2 * (o - 1) + 1];
        int32_t s = first;
        while (s < end && set[s] == 0.0) ++s;
        if (s == end) throwEmptyFuzzySetDiagnostic(tls, o, set + first, end - first, fis->defuzzMethod, crisp[o - 1], diag);
    }
}
