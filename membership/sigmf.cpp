// Sigmoid: 1 / (1 + exp(-a (x - c))).
#include "host/runtime.h"
#include "membership/membershipFunctions.h"

static inline double sigmfRule(double x, double a, double c) {
    const double e = quvExp((x - c) * -a);
    return 1.0 / (e + 1.0);
}

double sigmf(double x, const double *params) { return sigmfRule(x, params[0], params[1]); }

void sigmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], c = params[1];
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = sigmfRule(xs->data[k], a, c);
}
