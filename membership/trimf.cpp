// Triangle: rises from 0 at a to 1 at b, falls to 0 at c.
#include "membership/membershipFunctions.h"
#include "membership/shapeRules.h"

double trimf(double x, const double *params) { return trimfRule(x, params[0], params[1], params[2]); }

void trimfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2];
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = trimfRule(xs->data[k], a, b, c);
}
