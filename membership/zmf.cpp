// Z-shaped spline: 1 up to a, 0 from b, two parabolas meeting at the midpoint.
#include "membership/membershipFunctions.h"

static inline double zmfRule(double x, double a, double b) {
    // Coinciding or crossed ends: a step at the midpoint.
    if (a >= b) return x <= (a + b) / 2.0 ? 1.0 : 0.0;
    const double m = (a + b) / 2.0;
    double y = 0.0;
    if (x <= a) y = 1.0;
    // recip(a - b) is negative; the sign cancels in the square, but the
    // rounding is that of this reciprocal, not of 1/(b - a).
    if (x > a && x <= m) {
        const double t = (1.0 / (a - b)) * (x - a);
        y = 1.0 - (t * 2.0) * t;
    }
    if (x > m && x <= b) {
        const double t = (1.0 / (a - b)) * (b - x);
        y = (t * 2.0) * t;
    }
    if (x >= b) y = 0.0;
    return y;
}

double zmf(double x, const double *params) { return zmfRule(x, params[0], params[1]); }

void zmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1];
    fillMembershipRow(xs, out, [=](double x) { return zmfRule(x, a, b); });
}
