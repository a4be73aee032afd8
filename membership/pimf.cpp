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
    fillMembershipRow(xs, out, [=](double x) { return pimfRule(x, params); });
}
