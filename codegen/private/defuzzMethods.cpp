// Sections: shared reductions, centroid and bisector, maxima (mom, som,
// lom), the Sugeno-style methods on a sampled set (wtaver, wtsum).
#include "codegen/private/defuzzMethods.h"

#include "host/runtime.h"
#include "numeric/rightDivideByColumn.h"

#include <cassert>

double zeroAreaDefault(const SamplePoints &x) { return (samplePoint(x, x.count - 1) + samplePoint(x, 0)) / 2.0; }

namespace {

// Starts from mf(1), not from 0: a set of negative zeros keeps its sign.
double area(const double *mf, int32_t numMF) {
    double sum = mf[0];
    for (int32_t i = 1; i < numMF; ++i) sum = sum + mf[i];
    return sum;
}

// The largest non-NaN membership value; NaN when every value is NaN.
double largestMembership(const double *mf, int32_t numMF) {
    double m = quvGetNaN();
    for (int32_t i = 0; i < numMF; ++i) {
        if (!quvIsNaN(mf[i]) && (quvIsNaN(m) || mf[i] > m)) m = mf[i];
    }
    return m;
}

}  // namespace

// The area (from mf(1)) and the moment (from 0) are two chains of dependent
// additions, each in index order; they advance side by side so that one
// chain's additions overlap the other's, never reassociated. One value per
// sample point is the callers' promise: with fewer values the moment would
// read past the set.
double centroid(const double *mf, int32_t numMF, const SamplePoints &x) {
    assert(numMF == x.count && x.count >= 1);
    if (numMF == 0) return zeroAreaDefault(x);
    double total = mf[0];
    double num = 0.0;
    num = num + mf[0] * samplePoint(x, 0);
    for (int32_t i = 1; i < numMF; ++i) {
        total = total + mf[i];
        num = num + mf[i] * samplePoint(x, i);
    }
    if (total == 0.0) return zeroAreaDefault(x);
    return num * (1.0 / total);
}

namespace {

// K centroids in one pass over a range holding all K supports, so that the
// 2K chains of additions overlap. Each set is +0 and positive values only,
// +0 outside its support, on finite sample points: outside the support the
// full sums of centroid only add zeros to +0 or to a value that is not -0,
// which changes nothing, so both sums may start at the range from +0.
template <int K>
void centroidGroup(const double *sets, int32_t numSamples, const int32_t *bounds, const SamplePoints *x, double *y) {
    int32_t first = bounds[0];
    int32_t end = bounds[1];
    for (int k = 1; k < K; ++k) {
        first = bounds[2 * k] < first ? bounds[2 * k] : first;
        end = bounds[2 * k + 1] > end ? bounds[2 * k + 1] : end;
    }
    double total[K];
    double num[K];
    for (int k = 0; k < K; ++k) total[k] = num[k] = 0.0;
    for (int32_t i = first; i < end; ++i) {
        for (int k = 0; k < K; ++k) {
            const double mu = sets[static_cast<int64_t>(k) * numSamples + i];
            total[k] = total[k] + mu;
            num[k] = num[k] + mu * samplePoint(x[k], i);
        }
    }
    for (int k = 0; k < K; ++k) y[k] = total[k] == 0.0 ? zeroAreaDefault(x[k]) : num[k] * (1.0 / total[k]);
}

}  // namespace

void centroidsOnSupport(const double *sets, int32_t numSamples, const int32_t *bounds,
                        const DynArray<double> *samplePoints, int32_t numOutputs, int32_t count, double *y) {
    SamplePoints x[4];
    for (int32_t i = 0; i < count; i += 4) {
        const int32_t k = count - i < 4 ? count - i : 4;
        for (int32_t j = 0; j < k; ++j) {
            x[j] =
                SamplePoints{samplePoints->data + (i + j) % numOutputs, samplePoints->size[1], samplePoints->size[0]};
        }
        const double *group = sets + static_cast<int64_t>(i) * numSamples;
        switch (k) {
            case 4: centroidGroup<4>(group, numSamples, bounds + 2 * i, x, y + i); break;
            case 3: centroidGroup<3>(group, numSamples, bounds + 2 * i, x, y + i); break;
            case 2: centroidGroup<2>(group, numSamples, bounds + 2 * i, x, y + i); break;
            default: centroidGroup<1>(group, numSamples, bounds + 2 * i, x, y + i); break;
        }
    }
}

double bisector(const double *mf, int32_t numMF, const SamplePoints &x) {
    assert(numMF == x.count && x.count >= 1);  // the running sum reads mf up to x.count
    if (numMF == 0) return zeroAreaDefault(x);
    double total = area(mf, numMF);
    if (total == 0.0) return zeroAreaDefault(x);
    double half = total / 2.0;
    double running = 0.0;
    for (int32_t i = 0; i < x.count; ++i) {
        running = running + mf[i];
        if (running >= half) return samplePoint(x, i);
    }
    return samplePoint(x, 0);  // a NaN half is never reached
}

// An all-zero set makes every point a maximum; an all-NaN set has none, and
// (1 / 0) * 0 is NaN.
double mom(const double *mf, int32_t numMF, const SamplePoints &x) {
    double m = largestMembership(mf, numMF);
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t i = 0; i < numMF; ++i) {
        if (mf[i] == m) {
            sum = sum + samplePoint(x, i);
            ++count;
        }
    }
    return (1.0 / static_cast<double>(count)) * sum;
}

// som (isSmallest) and lom. The start candidate is the first point of
// largest (som) or smallest (lom) magnitude over all sample points, maximum
// or not; only a maximum of strictly smaller (som) or larger (lom) magnitude
// replaces it, so ties keep the lowest index.
static double maximumByMagnitude(const double *mf, int32_t numMF, const SamplePoints &x, bool isSmallest) {
    double m = largestMembership(mf, numMF);
    int32_t start = 0;
    double h = quvAbs(samplePoint(x, 0));
    for (int32_t i = 0; i < x.count; ++i) {
        double a = quvAbs(samplePoint(x, i));
        if (!quvIsNaN(a) && (quvIsNaN(h) || (isSmallest ? a > h : a < h))) {
            h = a;
            start = i;
        }
    }
    double y = samplePoint(x, start);
    for (int32_t i = 0; i < numMF; ++i) {
        double a = quvAbs(samplePoint(x, i));
        if (mf[i] == m && (isSmallest ? a < h : a > h)) {
            h = a;
            y = samplePoint(x, i);
        }
    }
    return y;
}

double som(const double *mf, int32_t numMF, const SamplePoints &x) { return maximumByMagnitude(mf, numMF, x, true); }
double lom(const double *mf, int32_t numMF, const SamplePoints &x) { return maximumByMagnitude(mf, numMF, x, false); }

// Divides by the set as a whole: only the pivot that the least-squares
// solution picks is non-zero, so the result is usually x(1) * 0.
double wtaver(zorbTLS *tls, const DynArray<double> *mf, const SamplePoints &x) {
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<double> *quotient = nullptr;
    initRegisteredArray(tls, &quotient, 2);
    rightDivideByColumn(tls, 1.0, mf, quotient);
    double y = samplePoint(x, 0) * quotient->data[0];
    releaseArray(&quotient);
    zorbHeapReferenceStackLeaveFcn(tls);
    return y;
}

double wtsum(const SamplePoints &x) { return samplePoint(x, 0); }
