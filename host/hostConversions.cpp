// Conversions between native arrays and host values around calls of host
// functions by name.
//
// Sections: host value -> native (coerce, scalar, row, column, char row),
// native -> host value (double row, uint8 row, double column, char row/text).
#include "host/hostConversions.h"

#include <cstring>

// ---- Host value -> native.

zorbArray *coerceToDouble(zorbTLS *tls, zorbArray *value) {
    zorbArray *converted = zorbCoerceToClass(tls, value, "double");
    zorbDestroyArray(&value);
    return converted;
}

// Every import below takes two aliases, one to check and read and one to
// drop, and finally drops the reference it was given as well, so the
// caller's reference is consumed whatever the value's class.

double importDoubleScalar(zorbTLS *tls, zorbArray *value, const char *identifier) {
    const zorbMsgIdentifier msgId = {identifier, nullptr, false};
    zorbArray *checked = zorbAlias(value);
    zorbArray *spare = zorbAlias(value);
    zorbCheckBuiltIn(tls, &msgId, checked, "double", false, 0, nullptr);
    double result;
    std::memcpy(&result, zorbQuvGetData(checked), sizeof result);
    zorbDestroyArray(&spare);
    zorbDestroyArray(&checked);
    zorbDestroyArray(&value);
    return result;
}

// The common shape of the array imports: two alias references (one read,
// one dropped), the check, the extents, then the copy; every reference,
// the given one included, is dropped.
template <typename T>
static void importChecked(zorbTLS *tls, zorbArray *value, const char *identifier, const char *className,
                          int32_t numDimensions, const int32_t *dims, DynArray<T> *target) {
    const zorbMsgIdentifier msgId = {identifier, nullptr, false};
    zorbArray *checked = zorbAlias(value);
    zorbArray *spare = zorbAlias(value);
    int32_t actual[2] = {0, 0};
    zorbCheckVsBuiltIn(tls, &msgId, checked, className, false, numDimensions, dims, actual);
    const int32_t oldNumel = numel(target);
    for (int32_t k = 0; k < numDimensions; ++k) target->size[k] = actual[k];
    ensureCapacity(target, oldNumel);
    // Characters come one byte each, whatever the host stores.
    if (numel(target) > 0) zorbImportArray(tls, checked, target->data, static_cast<int32_t>(sizeof(T)), false);
    zorbDestroyArray(&spare);
    zorbDestroyArray(&checked);
    zorbDestroyArray(&value);
}

void importDoubleRow(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<double> *target) {
    const int32_t dims[2] = {1, -1};
    importChecked(tls, value, identifier, "double", 2, dims, target);
}

void importDoubleColumn(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<double> *target) {
    const int32_t dims[1] = {-1};
    importChecked(tls, value, identifier, "double", 1, dims, target);
}

void importCharRow(zorbTLS *tls, zorbArray *value, const char *identifier, DynArray<uint8_t> *target) {
    const int32_t dims[2] = {1, -1};
    importChecked(tls, value, identifier, "char", 2, dims, target);
}

// ---- Native -> host value.

// Element k of the first row sits at k * size[0]. A row with no rows (0 x n)
// has no elements to copy: the host array is empty too, and writing n
// elements into it would run past its block.
template <typename T>
static void copyFirstRow(const DynArray<T> *row, T *destination) {
    if (row->size[0] <= 0) return;
    for (int32_t k = 0; k < row->size[1]; ++k) destination[k] = row->data[k * row->size[0]];
}

zorbArray *exportDoubleRow(const DynArray<double> *row) {
    const int32_t dims[2] = {row->size[0], row->size[1]};
    zorbArray *value = zorbCreateNumericArray(2, dims, ZORB_DOUBLE_CLASS, ZORB_REAL);
    copyFirstRow(row, zorbQuvGetPr(value));
    return value;
}

zorbArray *exportUint8Row(const DynArray<uint8_t> *row) {
    const int32_t dims[2] = {row->size[0], row->size[1]};
    zorbArray *value = zorbCreateNumericArray(2, dims, ZORB_UINT8_CLASS, ZORB_REAL);
    copyFirstRow(row, static_cast<uint8_t *>(zorbQuvGetData(value)));
    return value;
}

zorbArray *exportDoubleColumn(const double *values, int32_t n) {
    const int32_t dims[1] = {n};
    zorbArray *value = zorbCreateNumericArray(1, dims, ZORB_DOUBLE_CLASS, ZORB_REAL);
    if (n > 0) std::memcpy(zorbQuvGetPr(value), values, sizeof(double) * static_cast<size_t>(n));
    return value;
}

static zorbArray *exportCharBytes(zorbTLS *tls, const char *characters, int32_t length) {
    const int32_t dims[2] = {1, length};
    zorbArray *value = zorbCreateCharArray(2, dims);
    zorbInitCharArray(tls, length, value, length > 0 ? characters : "");
    return value;
}

zorbArray *exportCharRow(zorbTLS *tls, const DynArray<uint8_t> *name) {
    return exportCharBytes(tls, reinterpret_cast<const char *>(name->data), name->size[1]);
}

zorbArray *exportCharText(zorbTLS *tls, const char *text) {
    return exportCharBytes(tls, text, static_cast<int32_t>(std::strlen(text)));
}
