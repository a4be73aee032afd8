// Product of two sigmoids.
#include "membership/membershipFunctions.h"

static inline double psigmfRule(double x, const double *params) {
    const double s1 = sigmf(x, params);
    const double s2 = sigmf(x, params + 2);
    return s1 * s2;
}

double psigmf(double x, const double *params) { return psigmfRule(x, params); }

void psigmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    fillMembershipRow(xs, out, [=](double x) { return psigmfRule(x, params); });
}
