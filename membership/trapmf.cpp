// Trapezoid: the smaller of a rising ramp a -> b and a falling ramp c -> d.
#include "host/runtime.h"
#include "membership/membershipFunctions.h"
#include "membership/shapeRules.h"

double trapmf(double x, const double *params) { return trapmfRule(x, params[0], params[1], params[2], params[3]); }

void trapmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2], d = params[3];
    fillMembershipRow(xs, out, [=](double x) { return trapmfRule(x, a, b, c, d); });
}
