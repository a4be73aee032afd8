// The eleven built-in membership functions. The scalar form evaluates one
// point; the vector form a 1 x N row into `out` (resized to 1 x N). For the
// same point and parameters both forms give bit-identical values. Parameters
// are never checked: the row must hold the positions the function reads.
#ifndef FAZOLT_MEMBERSHIP_MEMBERSHIPFUNCTIONS_H
#define FAZOLT_MEMBERSHIP_MEMBERSHIPFUNCTIONS_H

#include "model/dynArray.h"

#define FAZOLT_DECLARE_MF(name)                  \
    double name(double x, const double *params); \
    void name##Vector(zorbTLS *tls, const DynArray<double> *xs, const double *params, DynArray<double> *out);

FAZOLT_DECLARE_MF(trimf)
FAZOLT_DECLARE_MF(trapmf)
FAZOLT_DECLARE_MF(gaussmf)
FAZOLT_DECLARE_MF(gbellmf)
FAZOLT_DECLARE_MF(sigmf)
FAZOLT_DECLARE_MF(smf)
FAZOLT_DECLARE_MF(zmf)
FAZOLT_DECLARE_MF(gauss2mf)
FAZOLT_DECLARE_MF(dsigmf)
FAZOLT_DECLARE_MF(psigmf)
FAZOLT_DECLARE_MF(pimf)

#undef FAZOLT_DECLARE_MF

// The vector form of every function: out (resized to 1 x N) holds rule(x)
// at each point of the row xs.
template <typename Rule>
inline void fillMembershipRow(const DynArray<double> *xs, DynArray<double> *out, Rule rule) {
    const int32_t n = xs->size[1];
    resize2D(out, 1, n);
    for (int32_t k = 0; k < n; ++k) out->data[k] = rule(xs->data[k]);
}

// Probabilistic OR of two values: (a + b) - a*b, sum and product formed first.
inline double probor(double a, double b) { return (a + b) - a * b; }

#endif
