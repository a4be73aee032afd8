// Triangle: rises from 0 at a to 1 at b, falls to 0 at c.
#include "membership/membershipFunctions.h"
#include "membership/shapeRules.h"

double trimf(double x, const double *params) { return trimfRule(x, params[0], params[1], params[2]); }

void trimfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2];
    fillMembershipRow(xs, out, [=](double x) { return trimfRule(x, a, b, c); });
}
