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
    fillMembershipRow(xs, out, [=](double x) { return sigmfRule(x, a, c); });
}
