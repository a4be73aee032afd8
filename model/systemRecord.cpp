#include "model/systemRecord.h"

template <typename T>
static void initField(zorbTLS *tls, DynArray<T> **field, int32_t numDimensions) {
    if (tls != nullptr) {
        initRegisteredArray(tls, field, numDimensions);
    } else {
        *field = nullptr;
        initArray(field, numDimensions);
    }
}

void initSystemRecord(zorbTLS *tls, SystemRecord *fis) {
    // Null everything first so that an allocation failure part-way leaves a
    // record that releaseSystemRecord accepts.
#define FAZOLT_NULL_ARRAY(type, name, dims) fis->name = nullptr;
#define FAZOLT_ZERO(name) fis->name = 0;
#define FAZOLT_ZERO_PAIR(name) fis->name[0] = fis->name[1] = 0;
    FAZOLT_SYSTEM_RECORD_FIELDS(FAZOLT_NULL_ARRAY, FAZOLT_ZERO, FAZOLT_ZERO_PAIR)
#undef FAZOLT_NULL_ARRAY
#undef FAZOLT_ZERO
#undef FAZOLT_ZERO_PAIR
    // Then every array field, in field order.
#define FAZOLT_INIT_ARRAY(type, name, dims) initField(tls, &fis->name, dims);
#define FAZOLT_NONE(name)
    FAZOLT_SYSTEM_RECORD_FIELDS(FAZOLT_INIT_ARRAY, FAZOLT_NONE, FAZOLT_NONE)
#undef FAZOLT_INIT_ARRAY
}

void releaseSystemRecord(SystemRecord *fis) {
#define FAZOLT_RELEASE_ARRAY(type, name, dims) releaseArray(&fis->name);
    FAZOLT_SYSTEM_RECORD_FIELDS(FAZOLT_RELEASE_ARRAY, FAZOLT_NONE, FAZOLT_NONE)
#undef FAZOLT_RELEASE_ARRAY
#undef FAZOLT_NONE
}
