// Product of two sigmoids.
#include "membership/membershipFunctions.h"

static inline double psigmfRule(double x, const double *params) {
    const double s1 = sigmf(x, params);
    const double s2 = sigmf(x, params + 2);
    return s1 * s2;
}

double psigmf(double x, const double *params) { return psigmfRule(x, params); }

void psigmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = psigmfRule(xs->data[k], params);
}
