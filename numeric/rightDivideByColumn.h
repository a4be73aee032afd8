#ifndef FAZOLT_NUMERIC_RIGHTDIVIDEBYCOLUMN_H
#define FAZOLT_NUMERIC_RIGHTDIVIDEBYCOLUMN_H

#include "model/dynArray.h"

// R (1 x K) solving R * v = b in the least-squares sense, v a column of K
// values (one dimension): LU for K = 1, column-pivoted QR with a rank test
// for K > 1. Never raises of its own; a failing LAPACK call yields NaN.
void rightDivideByColumn(zorbTLS *tls, double b, const DynArray<double> *v, DynArray<double> *R);

#endif
