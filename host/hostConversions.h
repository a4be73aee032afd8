// Conversions between native arrays and host values around calls of host
// functions by name. The imports check the value under `identifier`, so a
// host error names the function whose result was read, and they consume the
// reference they are given.
#ifndef FAZOLT_HOST_HOSTCONVERSIONS_H
#define FAZOLT_HOST_HOSTCONVERSIONS_H

#include "host/runtime.h"
#include "model/dynArray.h"

// Returns a reference to the value converted to "double" and drops `value`.
zorbArray *coerceToDouble(zorbTLS *tls, zorbArray *value);

// Real double scalar; returns its value.
double importDoubleScalar(zorbTLS *tls, zorbArray *value, const char *identifier);
// Real double 1 x m; target (2-D) takes extents 1 x m.
void importDoubleRow(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<double> *target);
// Real double vector of one dimension (m x 1); target (1-D) takes extent m.
void importDoubleColumn(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<double> *target);
// "char" 1 x m; target (2-D) takes extents 1 x m, one byte per character.
void importCharRow(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<uint8_t> *target);

// New real host double array with the row's two extents.
zorbArray *exportDoubleRow(const DynArray<double> *row);
// New real host uint8 array with the row's two extents.
zorbArray *exportUint8Row(const DynArray<uint8_t> *row);
// New host double column of n values (a one-dimensional array on our side).
zorbArray *exportDoubleColumn(const double *values, int32_t n);
// New host char array 1 x n holding the name's bytes (method and function names).
zorbArray *exportCharRow(zorbTLS *tls, const DynArray<uint8_t> *name);
zorbArray *exportCharText(zorbTLS *tls, const char *text);

#endif
