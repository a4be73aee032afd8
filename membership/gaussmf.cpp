// Gaussian: exp(-(x - c)^2 / (2 sigma^2)).
#include "host/runtime.h"
#include "membership/membershipFunctions.h"
#include "membership/shapeRules.h"

double gaussmf(double x, const double *params) { return gaussmfRule(x, params[0], params[1]); }

void gaussmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double sigma = params[0], c = params[1];
    fillMembershipRow(xs, out, [=](double x) { return gaussmfRule(x, sigma, c); });
}
