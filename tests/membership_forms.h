// The eleven built-in membership functions in their point and row forms,
// for the tests that run each of them both ways.
#ifndef FAZOLT_TESTS_MEMBERSHIP_FORMS_H
#define FAZOLT_TESTS_MEMBERSHIP_FORMS_H

#include "membership/membershipFunctions.h"

using ScalarFn = double (*)(double, const double *);
using VectorFn = void (*)(zorbTLS *, const DynArray<double> *, const double *, DynArray<double> *);

struct FunctionForms {
    const char *name;
    ScalarFn scalar;
    VectorFn vector;
};

inline const FunctionForms kForms[] = {
    {"trimf", trimf, trimfVector},
    {"trapmf", trapmf, trapmfVector},
    {"gaussmf", gaussmf, gaussmfVector},
    {"gbellmf", gbellmf, gbellmfVector},
    {"sigmf", sigmf, sigmfVector},
    {"smf", smf, smfVector},
    {"zmf", zmf, zmfVector},
    {"gauss2mf", gauss2mf, gauss2mfVector},
    {"dsigmf", dsigmf, dsigmfVector},
    {"psigmf", psigmf, psigmfVector},
    {"pimf", pimf, pimfVector},
};

#endif
