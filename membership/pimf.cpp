// Pi-shaped: the S spline over (a, b) times the Z spline over (c, d), each
// with its step case when its ends coincide or cross.
#include "membership/membershipFunctions.h"

static inline double pimfRule(double x, const double *params) {
    const double s = smf(x, params);
    const double z = zmf(x, params + 2);
    return s * z;
}

double pimf(double x, const double *params) { return pimfRule(x, params); }

void pimfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = pimfRule(xs->data[k], params);
}
