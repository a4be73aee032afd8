#ifndef FAZOLT_HOST_VALIDATESYSTEM_H
#define FAZOLT_HOST_VALIDATESYSTEM_H

#include "host/runtime.h"
#include "model/systemRecord.h"

// Raises "fazolt:invalidSystem", naming the field and the broken relation,
// when the record or the inputs would make the evaluation read or write
// outside an array or leave a result undefined.
void validateSystem(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis);

// Raises "fazolt:invalidSystem" with a printf-style message (cut at 511
// characters): identifier first, then the field and the broken relation.
[[noreturn]] __attribute__((format(printf, 2, 3))) void rejectSystem(zorbTLS *tls, const char *format, ...);

#endif
