// The Orvane host run-time as a loadable module sees it: memory, the
// heap-reference stack, the run-time context, errors, checks and import of
// host values, creation of host values, and calls of host functions by name.
//
// Every operation that can fail raises a host error instead of returning:
// it runs the registered release operations of the heap-reference stack,
// innermost first, and unwinds to the host's own call boundary. A module
// never catches that unwinding.
#ifndef ORVANE_ZORB_H
#define ORVANE_ZORB_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>  // bool in C before C23
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ORVANE_API      __attribute__((visibility("default")))
#define ORVANE_NORETURN __attribute__((noreturn))
#else
#define ORVANE_API
#define ORVANE_NORETURN
#endif

typedef struct zorbArray zorbArray;  // a host value (reference counted)
typedef struct zorbTLS zorbTLS;      // the run-time context of one call

typedef enum zorbClassID {
    ZORB_UNKNOWN_CLASS = 0,
    ZORB_CELL_CLASS = 1,
    ZORB_STRUCT_CLASS = 2,
    ZORB_LOGICAL_CLASS = 3,
    ZORB_CHAR_CLASS = 4,
    ZORB_VOID_CLASS = 5,
    ZORB_DOUBLE_CLASS = 6,
    ZORB_SINGLE_CLASS = 7,
    ZORB_INT8_CLASS = 8,
    ZORB_UINT8_CLASS = 9,
    ZORB_INT16_CLASS = 10,
    ZORB_UINT16_CLASS = 11,
    ZORB_INT32_CLASS = 12,
    ZORB_UINT32_CLASS = 13,
    ZORB_INT64_CLASS = 14,
    ZORB_UINT64_CLASS = 15
} zorbClassID;

typedef enum zorbComplexity { ZORB_REAL = 0, ZORB_COMPLEX = 1 } zorbComplexity;

// Names the value that a check reads, as a chain up to the argument:
// {"params"} -> {"mf"} -> {"inputMF"} -> {"fis"} reads fis.inputMF.mf.params.
typedef struct zorbMsgIdentifier {
    const char *identifier;
    const struct zorbMsgIdentifier *parent;
    bool parentIsCell;
} zorbMsgIdentifier;

// Where a module calls the host, so that the host can place an error.
typedef struct zorbCallLocation {
    int32_t lineNo;
    int32_t colNo;
    const char *fName;
    const char *pName;
} zorbCallLocation;

// Given once per module to zorbCreateRootTLS.
typedef struct zorbContext {
    bool isFirstTime;
    bool isInitialized;
    uint32_t releaseCode;
    void *errorFunction;
    const char *functionName;
    void *rtStackTable;
    bool isDebugMode;
    uint32_t signature[4];
    void *signatureMemory;
} zorbContext;

// A release operation receives the address of the owning pointer that was
// registered, and must leave that pointer null.
typedef void (*zorbReleaseFcn)(void *ownerAddress);

// The host release code this run-time implements.
#define ZORB_RELEASE_CODE             0x00270100u
#define ZORB_MODULE_INTERFACE_VERSION 134217728u

// ---- Memory: never returns null; exhaustion raises "ZORB:runTime:OutOfMemory".
ORVANE_API void *zorbMallocQib(size_t bytes);
ORVANE_API void *zorbCallocQib(size_t count, size_t elementSize);
ORVANE_API void zorbFreeQib(zorbTLS *tls, void *block);

// ---- Heap-reference stack.
ORVANE_API void zorbHeapReferenceStackEnterFcn(zorbTLS *tls);
ORVANE_API void zorbPushHeapReferenceStack(zorbTLS *tls, void *ownerAddress, zorbReleaseFcn release);
ORVANE_API void zorbHeapReferenceStackLeaveFcn(zorbTLS *tls);

// ---- Run-time context.
ORVANE_API void zorbCreateRootTLS(zorbTLS **tls, zorbContext *context, void *reserved, int32_t numCores);
ORVANE_API void zorbDestroyRootTLS(zorbTLS **tls);
ORVANE_API void zorbClearAllocCount(zorbTLS *tls, bool isMexOutputs, uint32_t numOutputs, const char *reserved);
ORVANE_API void zorbEnterRtStack(zorbTLS *tls);
ORVANE_API void zorbLeaveRtStack(zorbTLS *tls);
ORVANE_API bool zorbFirstTime(zorbTLS *tls);

// ---- Errors. numArguments counts the variadic values that follow, which
// come in groups by class: ZORB_INT32_CLASS then an int value (2 values);
// ZORB_CHAR_CLASS then an int length and a const char * text, not
// necessarily NUL-terminated (3 values). So (12, 3, 4, 6, "fazolt") is 5.
ORVANE_API ORVANE_NORETURN void zorbErrMsgIdAndTxt(zorbTLS *tls, const char *identifier, int32_t numArguments, ...);

// ---- Reading host values.
ORVANE_API zorbArray *zorbAlias(const zorbArray *value);   // one more reference
ORVANE_API zorbArray *zorbAliasP(const zorbArray *value);  // same as zorbAlias
// Returns a new reference to field fieldNumber (0-based) of element
// `element` (0-based, column-major) of a struct; raises if absent.
ORVANE_API zorbArray *zorbGetField(zorbTLS *tls, const zorbArray *structValue, int32_t element, int32_t fieldNumber,
                                   const char *fieldName);

// Checks. numDimensions 0 means a scalar (every extent 1). dims[k] < 0 means
// that extent k is unbounded. The variable-size forms write the actual
// extents to outDims (numDimensions entries). A one-dimensional check
// accepts a column (every extent after the first is 1) or an empty value.
ORVANE_API void zorbCheckStruct(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value, int32_t numFields,
                                const char *const *fieldNames, int32_t numDimensions, const int32_t *dims);
ORVANE_API void zorbCheckVsStruct(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                  int32_t numFields, const char *const *fieldNames, int32_t numDimensions,
                                  const int32_t *dims, int32_t *outDims);
ORVANE_API void zorbCheckBuiltIn(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                 const char *className, bool isComplex, int32_t numDimensions, const int32_t *dims);
ORVANE_API void zorbCheckVsBuiltIn(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                   const char *className, bool isComplex, int32_t numDimensions, const int32_t *dims,
                                   int32_t *outDims);

// Copies numel elements of elementSize bytes from the value's real data.
// elementSize may be narrower than the class's own (a char value read with
// 1-byte elements).
ORVANE_API void zorbImportArray(zorbTLS *tls, const zorbArray *value, void *destination, int32_t elementSize,
                                bool isComplex);
ORVANE_API void *zorbQuvGetData(const zorbArray *value);
ORVANE_API double *zorbQuvGetPr(const zorbArray *value);
// Returns a new reference to the value converted to className (an alias when
// it already has that class). Raises when no conversion exists.
ORVANE_API zorbArray *zorbCoerceToClass(zorbTLS *tls, const zorbArray *value, const char *className);
// Drops one reference and sets *value to null.
ORVANE_API void zorbDestroyArray(zorbArray **value);

// ---- Making host values.
ORVANE_API zorbArray *zorbCreateNumericArray(int32_t numDimensions, const int32_t *dims, zorbClassID classId,
                                             zorbComplexity complexity);
ORVANE_API zorbArray *zorbCreateNumericMatrix(int32_t rows, int32_t cols, zorbClassID classId,
                                              zorbComplexity complexity);
ORVANE_API zorbArray *zorbCreateDoubleScalar(double value);
ORVANE_API zorbArray *zorbCreateCharArray(int32_t numDimensions, const int32_t *dims);
ORVANE_API void zorbInitCharArray(zorbTLS *tls, int32_t length, zorbArray *value, const char *characters);
ORVANE_API zorbArray *zorbCreateStructMatrix(int32_t rows, int32_t cols, int32_t numFields,
                                             const char *const *fieldNames);
ORVANE_API zorbArray *zorbCreateLogicalMatrix(int32_t rows, int32_t cols);
// Both take over the reference to fieldValue.
ORVANE_API void zorbSetFieldNumbered(zorbTLS *tls, zorbArray *structValue, int32_t element, const char *fieldName,
                                     zorbArray *fieldValue, int32_t fieldNumber);
ORVANE_API void zorbSetField(zorbArray *structValue, int32_t element, const char *fieldName, zorbArray *fieldValue);
ORVANE_API zorbArray *zorbQuvCreateString(const char *text);
ORVANE_API zorbArray *zorbQuvCreateDoubleScalar(double value);
// The value takes over a block that came from zorbMallocQib/zorbCallocQib.
ORVANE_API void zorbQuvSetData(zorbArray *value, void *block);
ORVANE_API void zorbSetDimensions(zorbArray *value, const int32_t *dims, int32_t numDimensions);
ORVANE_API void zorbAssign(zorbArray **slot, zorbArray *value);
ORVANE_API void zorbReturnArrays(int32_t count, zorbArray **callerSlots, zorbArray **moduleSlots);
// Decodes hex pieces (ending with an empty piece) that spell a zlib stream
// of host-value JSON text, inflatedLength bytes when inflated.
ORVANE_API void zorbNameCaptureQuvArray(const char *const *pieces, int32_t inflatedLength, zorbArray **result);

// ---- Calls of host functions by name. When argumentsAreConsumed is true the
// host drops the argument references after the call, also when it raises.
// The results are new references that the caller owns.
ORVANE_API void zorbCallOrvane(zorbTLS *tls, int32_t numResults, zorbArray **results, int32_t numArguments,
                               zorbArray **arguments, const char *functionName, bool argumentsAreConsumed,
                               const zorbCallLocation *location);

// ---- Array and module libraries.
ORVANE_API double quvGetNaN(void);
ORVANE_API void qibAtExit(void (*function)(void));

#ifdef __cplusplus
}
#endif

#endif
