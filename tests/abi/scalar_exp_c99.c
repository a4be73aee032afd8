/* The host's exp as plain C99, fma emulated (the longer path). */
#define QUV_EXP_EMULATE_FMA
#include "orvane/scalar_exp.h"

double callExp(double x);
double callExp(double x) { return quvExpC99(x); }
