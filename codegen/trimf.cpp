// Triangle: rises from 0 at a to 1 at b, falls to 0 at c.
#include "membership/membershipFunctions.h"

// Both sides are open intervals, so x = a and x = c give 0. A zero-width side
// is skipped rather than divided by, and x = b gives 1 even then. NaN fails
// every comparison and gives 0.
static inline double trimfRule(double x, double a, double b, double c) {
    double y = 0.0;
    if (a != b && a < x && x < b) y = (1.0 / (b - a)) * (x - a);
    if (b != c && b < x && x < c) y = (1.0 / (c - b)) * (c - x);
    if (x == b) y = 1.0;
    return y;
}

double trimf(double x, const double *params) { return trimfRule(x, params[0], params[1], params[2]); }

void trimfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2];
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = trimfRule(xs->data[k], a, b, c);
}
