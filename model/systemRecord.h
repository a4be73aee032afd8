// The imported fuzzy inference system (25 fields, host struct order) and the
// diagnostics options (6 fields). Indices stored in the record are 1-based.
#ifndef FAZOLT_MODEL_SYSTEMRECORD_H
#define FAZOLT_MODEL_SYSTEMRECORD_H

#include "model/dynArray.h"
#include "model/recordFields.h"

// The fields as model/recordFields.h lists them.
struct SystemRecord {
#define FAZOLT_RECORD_ARRAY(type, name, dims) DynArray<type> *name;
#define FAZOLT_RECORD_INT32(name) int32_t name;
#define FAZOLT_RECORD_INT32_PAIR(name) int32_t name[2];
    FAZOLT_SYSTEM_RECORD_FIELDS(FAZOLT_RECORD_ARRAY, FAZOLT_RECORD_INT32, FAZOLT_RECORD_INT32_PAIR)
#undef FAZOLT_RECORD_ARRAY
#undef FAZOLT_RECORD_INT32
#undef FAZOLT_RECORD_INT32_PAIR
};

// What one row's diagnostics found, for a caller that takes them as flags
// instead of host warnings: the first input or output of each (1-based), 0
// for none.
struct DiagnosticsSeen {
    int32_t outOfRangeInput;
    int32_t noRuleFiredOutput;
    int32_t emptySetOutput;
};

struct DiagnosticsOptions {
    uint8_t DraxilDiagnostic;
    DynArray<uint8_t> *Model;
    DynArray<uint8_t> *Block;
    uint8_t OutOfRangeInputValue;
    uint8_t NoRuleFired;
    uint8_t EmptyOutputFuzzySet;
    // Not a host field. When set, every diagnostic is recorded here and none
    // calls the host, whatever the modes say.
    DiagnosticsSeen *seen;
};

// Diagnostic modes.
constexpr uint8_t kDiagnosticWarning = 2;
constexpr uint8_t kDiagnosticError = 3;

// Allocates every array field empty, in field order; with tls given, each is
// registered on its heap-reference stack right after its allocation.
void initSystemRecord(zorbTLS *tls, SystemRecord *fis);
// Releases every array field in field order and nulls it.
void releaseSystemRecord(SystemRecord *fis);

#endif
