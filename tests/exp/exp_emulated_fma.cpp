// quvExp with fma emulated, as a C library without a correctly rounded fma
// gets it, for exp_matches_glibc to hold against the C library too.
#define QUV_EXP_EMULATE_FMA
#include "orvane/scalar_exp.h"

double expEmulatedFma(double x) { return quvExpC99(x); }
double fmaEmulated(double a, double b, double c) { return quvExpFma(a, b, c); }
