#ifndef FAZOLT_HOST_VALIDATESYSTEM_H
#define FAZOLT_HOST_VALIDATESYSTEM_H

#include "host/runtime.h"
#include "model/systemRecord.h"

// Raises "fazolt:invalidSystem", naming the field and the broken relation,
// when the record or the inputs would make the evaluation read or write
// outside an array or leave a result undefined.
void validateSystem(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis);

#endif
