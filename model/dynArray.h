// The one record for every run-time-sized value: a column-major block with a
// separately allocated extent vector. Capacity grows from 16 by doubling and
// never shrinks. All memory comes from the host allocator; arrays are
// registered on the host's heap-reference stack so that an error unwinding
// through a call releases them.
//
// Sections: the records, element hooks (what a record element owns),
// init / ensureCapacity / release, registration helpers, copy.
#ifndef FAZOLT_MODEL_DYNARRAY_H
#define FAZOLT_MODEL_DYNARRAY_H

#include <orvane/zorb.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

template <typename T>
struct DynArray {
    T *data;
    int32_t *size;
    int32_t allocatedSize;
    int32_t numDimensions;
    bool canFreeData;
};

struct MFRecord {
    DynArray<uint8_t> *type;
    int32_t origTypeLength;
    DynArray<double> *params;
    int32_t origParamLength;
};

struct VariableRecord {
    DynArray<MFRecord> *mf;
    int32_t origNumMF;
};

struct ExtractedMF {
    DynArray<uint8_t> *type;
    DynArray<double> *params;
};

// One element per variable: that variable's extracted membership functions.
using ExtractedVarMF = DynArray<ExtractedMF> *;

// ---- Element hooks: record elements own nested arrays.

template <typename T>
inline constexpr bool isRecordElement = std::is_same_v<T, MFRecord> || std::is_same_v<T, VariableRecord> ||
                                        std::is_same_v<T, ExtractedMF> || std::is_same_v<T, ExtractedVarMF>;

template <typename T>
void initArray(DynArray<T> **array, int32_t numDimensions);
template <typename T>
void releaseArray(DynArray<T> **array);

inline void initElement(MFRecord &e) {
    initArray(&e.type, 2);
    initArray(&e.params, 2);
}
inline void initElement(VariableRecord &e) { initArray(&e.mf, 2); }
inline void initElement(ExtractedMF &e) {
    initArray(&e.type, 2);
    initArray(&e.params, 2);
}
inline void initElement(ExtractedVarMF &e) { initArray(&e, 2); }

// Nulls the pointers only: the integer fields keep what the block held.
inline void clearPointers(MFRecord &e) {
    e.type = nullptr;
    e.params = nullptr;
}
inline void clearPointers(VariableRecord &e) { e.mf = nullptr; }
inline void clearPointers(ExtractedMF &e) {
    e.type = nullptr;
    e.params = nullptr;
}
inline void clearPointers(ExtractedVarMF &e) { e = nullptr; }

inline void releaseElement(MFRecord &e) {
    releaseArray(&e.type);
    releaseArray(&e.params);
}
inline void releaseElement(VariableRecord &e) { releaseArray(&e.mf); }
inline void releaseElement(ExtractedMF &e) {
    releaseArray(&e.type);
    releaseArray(&e.params);
}
inline void releaseElement(ExtractedVarMF &e) { releaseArray(&e); }

// ---- Core operations.

template <typename T>
inline int32_t numel(const DynArray<T> *a) {
    int32_t n = 1;
    for (int32_t k = 0; k < a->numDimensions; ++k) n *= a->size[k];
    return n;
}

// Allocates the record and its extent vector; the array starts empty.
template <typename T>
void initArray(DynArray<T> **array, int32_t numDimensions) {
    DynArray<T> *a = static_cast<DynArray<T> *>(zorbMallocQib(sizeof(DynArray<T>)));
    a->data = nullptr;
    a->size = nullptr;
    a->allocatedSize = 0;
    a->numDimensions = numDimensions;
    a->canFreeData = true;
    *array = a;
    // The record is reachable through *array before the next allocation can
    // raise, so a failure here leaves a state that releaseArray accepts.
    a->size = static_cast<int32_t *>(zorbMallocQib(sizeof(int32_t) * static_cast<size_t>(numDimensions)));
    for (int32_t k = 0; k < numDimensions; ++k) a->size[k] = 0;
}

// Call after writing the new extents into size; oldNumel is the count
// before that write. Keeps the first oldNumel elements.
template <typename T>
void ensureCapacity(DynArray<T> *a, int32_t oldNumel) {
    if (oldNumel < 0) oldNumel = 0;
    int32_t newNumel = numel(a);
    if (newNumel > a->allocatedSize) {
        int32_t capacity = a->allocatedSize < 16 ? 16 : a->allocatedSize;
        while (capacity < newNumel) {
            if (capacity > 1073741823) {
                capacity = 2147483647;
            } else {
                capacity *= 2;
            }
        }
        T *block = static_cast<T *>(zorbCallocQib(static_cast<size_t>(capacity), sizeof(T)));
        if (a->data != nullptr) {
            std::memcpy(static_cast<void *>(block), static_cast<const void *>(a->data),
                        sizeof(T) * static_cast<size_t>(oldNumel));
            if (a->canFreeData) zorbFreeQib(nullptr, a->data);
        }
        a->data = block;
        a->allocatedSize = capacity;
        a->canFreeData = true;
    }
    if constexpr (isRecordElement<T>) {
        if (newNumel > oldNumel) {
            // Null first, so that a failure part-way leaves only elements
            // that release can walk.
            for (int32_t i = oldNumel; i < newNumel; ++i) clearPointers(a->data[i]);
            for (int32_t i = oldNumel; i < newNumel; ++i) initElement(a->data[i]);
        } else {
            for (int32_t i = newNumel; i < oldNumel; ++i) releaseElement(a->data[i]);
        }
    }
}

// Plain release for numeric and character arrays, deep release for arrays
// of records. Accepts every half-initialised state and nulls the pointer.
template <typename T>
void releaseArray(DynArray<T> **array) {
    DynArray<T> *a = *array;
    if (a == nullptr) return;
    if constexpr (isRecordElement<T>) {
        if (a->data != nullptr && a->size != nullptr) {
            int32_t n = numel(a);
            for (int32_t i = 0; i < n && i < a->allocatedSize; ++i) releaseElement(a->data[i]);
        }
    }
    if (a->data != nullptr && a->canFreeData) zorbFreeQib(nullptr, a->data);
    if (a->size != nullptr) zorbFreeQib(nullptr, a->size);
    zorbFreeQib(nullptr, a);
    *array = nullptr;
}

// ---- Registration: the release operation the host calls on unwinding.

template <typename T>
void releaseArrayAt(void *ownerAddress) {
    releaseArray(static_cast<DynArray<T> **>(ownerAddress));
}

// Allocates an empty array into *array and registers it on the
// heap-reference stack of tls; the record is registered before its extent
// vector is allocated, so no failure can lose it.
template <typename T>
void initRegisteredArray(zorbTLS *tls, DynArray<T> **array, int32_t numDimensions) {
    *array = nullptr;
    zorbPushHeapReferenceStack(tls, static_cast<void *>(array), &releaseArrayAt<T>);
    initArray(array, numDimensions);
}

// ---- Resizing helpers: the fixed order old count, new extents, capacity.

template <typename T>
void resize2D(DynArray<T> *a, int32_t rows, int32_t cols) {
    int32_t oldNumel = numel(a);
    a->size[0] = rows;
    a->size[1] = cols;
    ensureCapacity(a, oldNumel);
}

template <typename T>
void resize1D(DynArray<T> *a, int32_t n) {
    int32_t oldNumel = numel(a);
    a->size[0] = n;
    ensureCapacity(a, oldNumel);
}

// Copies extents (as many as the destination has dimensions) and elements.
template <typename T>
void copyArray(DynArray<T> *destination, const DynArray<T> *source) {
    static_assert(!isRecordElement<T>, "copy is for numeric and character arrays");
    int32_t oldNumel = numel(destination);
    for (int32_t k = 0; k < destination->numDimensions; ++k) destination->size[k] = source->size[k];
    ensureCapacity(destination, oldNumel);
    int32_t n = numel(source);
    if (n > 0) std::memcpy(destination->data, source->data, sizeof(T) * static_cast<size_t>(n));
}

// Exact name test: same length (second extent), same bytes.
inline bool nameEquals(const DynArray<uint8_t> *name, const char *builtIn, int32_t builtInLength) {
    if (name->size[1] != builtInLength) return false;
    for (int32_t k = 0; k < builtInLength; ++k) {
        if (name->data[k] != static_cast<uint8_t>(builtIn[k])) return false;
    }
    return true;
}

template <int N>
inline bool nameIs(const DynArray<uint8_t> *name, const char (&builtIn)[N]) {
    return nameEquals(name, builtIn, N - 1);
}

#endif
