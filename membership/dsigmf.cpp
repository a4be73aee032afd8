// Difference of two sigmoids, taken in absolute value.
#include "host/runtime.h"
#include "membership/membershipFunctions.h"

static inline double dsigmfRule(double x, const double *params) {
    const double s1 = sigmf(x, params);
    const double s2 = sigmf(x, params + 2);
    return quvAbs(s1 - s2);
}

double dsigmf(double x, const double *params) { return dsigmfRule(x, params); }

void dsigmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    fillMembershipRow(xs, out, [=](double x) { return dsigmfRule(x, params); });
}
