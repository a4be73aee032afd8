// The built-in defuzzification methods of a sampled output fuzzy set: mf
// holds the membership value at each sample point, x the sample points.
// Sums run sequentially in index order; quotients are formed as a product
// with the reciprocal, so results are bit-identical across builds.
#ifndef FAZOLT_CODEGEN_PRIVATE_DEFUZZMETHODS_H
#define FAZOLT_CODEGEN_PRIVATE_DEFUZZMETHODS_H

#include "model/dynArray.h"

#include <cstdint>

// A row of sample points read in place from a column-major matrix: point i
// (0-based) is data[i * stride].
struct SamplePoints {
    const double *data;
    int32_t count;
    int32_t stride;
};

inline double samplePoint(const SamplePoints &x, int32_t i) { return x.data[static_cast<int64_t>(i) * x.stride]; }

// What the methods give for a set of zero area: the sample points' midpoint.
double zeroAreaDefault(const SamplePoints &x);
// Callers guarantee count >= 1 for x and numMF == x.count.
double centroid(const double *mf, int32_t numMF, const SamplePoints &x);
// count centroids of sets of +0 and positive values, +0 outside first ..
// end - 1, on finite sample points: the same bits as centroid gives them: set i has numSamples values from sets + i *
// numSamples, its support first and end at bounds + 2i, and the sample
// points of output i mod numOutputs (row of samplePoints).
void centroidsOnSupport(const double *sets, int32_t numSamples, const int32_t *bounds,
                        const DynArray<double> *samplePoints, int32_t numOutputs, int32_t count, double *y);
double bisector(const double *mf, int32_t numMF, const SamplePoints &x);
double mom(const double *mf, int32_t numMF, const SamplePoints &x);
double som(const double *mf, int32_t numMF, const SamplePoints &x);
double lom(const double *mf, int32_t numMF, const SamplePoints &x);
// x(1) * R(1), R the row that right-divides 1 by the set (least squares).
double wtaver(zorbTLS *tls, const DynArray<double> *mf, const SamplePoints &x);
double wtsum(const SamplePoints &x);

#endif
