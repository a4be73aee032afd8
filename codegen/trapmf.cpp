// Trapezoid: the smaller of a rising ramp a -> b and a falling ramp c -> d.
#include "host/runtime.h"
#include "membership/membershipFunctions.h"

// The rising ramp is closed at a and open at b, the falling ramp open at c
// and closed at d; a zero-width ramp is a step and is never divided by.
// Each later test overwrites the earlier one, so their order matters.
static inline double trapmfRule(double x, double a, double b, double c, double d) {
    double y1 = 0.0;
    if (x >= b) y1 = 1.0;
    if (x < a) y1 = 0.0;
    if (x >= a && x < b && a != b) y1 = (1.0 / (b - a)) * (x - a);

    double y2 = 0.0;
    if (x <= c) y2 = 1.0;
    if (x > d) y2 = 0.0;
    if (x > c && x <= d && c != d) y2 = (1.0 / (d - c)) * (d - x);

    return quvMin(y1, y2);  // y1 first: a tie keeps it
}

double trapmf(double x, const double *params) {
    return trapmfRule(x, params[0], params[1], params[2], params[3]);
}

void trapmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2], d = params[3];
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = trapmfRule(xs->data[k], a, b, c, d);
}
