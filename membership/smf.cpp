// S-shaped spline: 0 up to a, 1 from b, two parabolas meeting at the midpoint.
#include "membership/membershipFunctions.h"

static inline double smfRule(double x, double a, double b) {
    // Coinciding or crossed ends: a step at the midpoint.
    if (a >= b) return x >= (a + b) / 2.0 ? 1.0 : 0.0;
    const double m = (a + b) / 2.0;
    double y = 0.0;
    if (x > a && x <= m) {
        const double t = (1.0 / (b - a)) * (x - a);
        y = (t * 2.0) * t;
    }
    if (x > m && x <= b) {
        const double t = (1.0 / (b - a)) * (b - x);
        y = 1.0 - (t * 2.0) * t;
    }
    if (x >= b) y = 1.0;
    return y;
}

double smf(double x, const double *params) { return smfRule(x, params[0], params[1]); }

void smfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1];
    fillMembershipRow(xs, out, [=](double x) { return smfRule(x, a, b); });
}
