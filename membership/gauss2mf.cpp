// Two-sided Gaussian: the left Gaussian (sigma1, c1) up to c1, 1 between c1
// and c2, the right Gaussian (sigma2, c2) from c2.
#include "membership/membershipFunctions.h"

// Both Gaussians are always evaluated and weighted by their flag, so a NaN
// Gaussian spoils the product even where its flag is 0 (0 * NaN is NaN).
// With c1 > c2 both sides apply between c2 and c1 and the top stays below 1.
static inline double gauss2mfRule(double x, const double *params) {
    const double f1 = x <= params[1] ? 1.0 : 0.0;
    const double f2 = x >= params[3] ? 1.0 : 0.0;
    const double g2 = gaussmf(x, params + 2);
    const double g1 = gaussmf(x, params);
    return (g1 * f1 + (1.0 - f1)) * (g2 * f2 + (1.0 - f2));
}

double gauss2mf(double x, const double *params) { return gauss2mfRule(x, params); }

void gauss2mfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    fillMembershipRow(xs, out, [=](double x) { return gauss2mfRule(x, params); });
}
