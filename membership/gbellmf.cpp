// Generalised bell: 1 / (1 + (((x - c)/a)^2)^b).
#include "host/runtime.h"
#include "membership/membershipFunctions.h"

static inline double gbellmfRule(double x, double a, double b, double c) {
    double t = (x - c) * (1.0 / a);
    t = t * t;
    // At the centre t is 0: give what 0^0 and 0^negative would lead to
    // (0.5 and 0) without asking pow for them. b > 0 or NaN goes on to pow.
    if (t <= 0.0) {
        if (b == 0.0) return 0.5;
        if (b < 0.0) return 0.0;
    }
    return 1.0 / (quvPow(t, b) + 1.0);
}

double gbellmf(double x, const double *params) { return gbellmfRule(x, params[0], params[1], params[2]); }

void gbellmfVector(zorbTLS *, const DynArray<double> *xs, const double *params, DynArray<double> *out) {
    const double a = params[0], b = params[1], c = params[2];
    fillMembershipRow(xs, out, [=](double x) { return gbellmfRule(x, a, b, c); });
}
