#ifndef FAZOLT_HOST_MARSHALLING_H
#define FAZOLT_HOST_MARSHALLING_H

#include "host/runtime.h"
#include "model/systemRecord.h"

// Imports "inputs", "fis" and "diagnostics" under the host's checks,
// evaluates, and hands result 1 (and results 2..numResults) to new host
// values in resultSlots without copying.
void marshalAndEvaluate(zorbTLS *tls, const zorbArray *const *arguments, int32_t numResults, zorbArray **resultSlots);

// Imports "fis" under the host's checks into fis (made by initSystemRecord)
// and checks it as marshalAndEvaluate does for rows of numInputs values,
// raising the same errors.
void importCheckedSystem(zorbTLS *tls, const zorbArray *record, SystemRecord *fis);

#endif
