/// @file
/// The Orvane host run-time as a loadable module sees it (C11): memory, the
/// heap-reference stack, the run-time context, errors, checks and import of
/// host values, creation of host values, and calls of host functions by name.
///
/// Every operation that can fail raises a host error instead of returning:
/// it runs the registered release operations of the heap-reference stack,
/// innermost first, and unwinds to the host's own call boundary. A module
/// never catches that unwinding.
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
/// Marks what the host library exports.
#define ORVANE_API      __attribute__((visibility("default")))
/// Marks a function that never returns (it raises).
#define ORVANE_NORETURN __attribute__((noreturn))
#else
/// Marks what the host library exports.
#define ORVANE_API
/// Marks a function that never returns (it raises).
#define ORVANE_NORETURN
#endif

typedef struct zorbArray zorbArray;  ///< a host value (reference counted)
typedef struct zorbTLS zorbTLS;      ///< the run-time context of one call

/// The class of a host value.
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

/// Whether a value has an imaginary part.
typedef enum zorbComplexity { ZORB_REAL = 0, ZORB_COMPLEX = 1 } zorbComplexity;

/// Names the value that a check reads, as a chain up to the argument:
/// {"params"} -> {"mf"} -> {"inputMF"} -> {"fis"} reads fis.inputMF.mf.params.
typedef struct zorbMsgIdentifier {
    const char *identifier;                  ///< this link's name
    const struct zorbMsgIdentifier *parent;  ///< the value it is part of; null for the argument
    bool parentIsCell;                       ///< whether the parent is a cell rather than a struct
} zorbMsgIdentifier;

/// Where a module calls the host, so that the host can place an error.
typedef struct zorbCallLocation {
    int32_t lineNo;     ///< line in the module's source
    int32_t colNo;      ///< column in that line
    const char *fName;  ///< the calling function's name
    const char *pName;  ///< the source file's name
} zorbCallLocation;

/// Given once per module to zorbCreateRootTLS.
typedef struct zorbContext {
    bool isFirstTime;        ///< whether the module's first call is still to come
    bool isInitialized;      ///< whether the module has initialised itself
    uint32_t releaseCode;    ///< the host release the module was built for (ZORB_RELEASE_CODE)
    void *errorFunction;     ///< not used by this host: null
    const char *functionName;  ///< the module's entry name, for messages
    void *rtStackTable;      ///< not used by this host: null
    bool isDebugMode;        ///< not used by this host: false
    uint32_t signature[4];   ///< the module's build signature
    void *signatureMemory;   ///< not used by this host: null
} zorbContext;

/// A release operation receives the address of the owning pointer that was
/// registered, and must leave that pointer null.
typedef void (*zorbReleaseFcn)(void *ownerAddress);

/// The host release code this run-time implements.
#define ZORB_RELEASE_CODE             0x00270100u
/// The module interface version a module's qibfilerequiredapiversion must return.
#define ZORB_MODULE_INTERFACE_VERSION 134217728u

/// @name Memory
/// Never returns null; exhaustion raises "ZORB:runTime:OutOfMemory".
///@{
/// A block of `bytes` bytes from the accounted allocator.
ORVANE_API void *zorbMallocQib(size_t bytes);
/// A block of count elements, zeroed.
ORVANE_API void *zorbCallocQib(size_t count, size_t elementSize);
/// Frees a block from zorbMallocQib or zorbCallocQib (null is ignored).
ORVANE_API void zorbFreeQib(zorbTLS *tls, void *block);
///@}

/// @name Heap-reference stack
/// What a raised error releases: each registration names an owning pointer
/// and its release operation.
///@{
/// Opens a frame of registrations (a function's own).
ORVANE_API void zorbHeapReferenceStackEnterFcn(zorbTLS *tls);
/// Registers an owning pointer and its release operation in the open frame.
ORVANE_API void zorbPushHeapReferenceStack(zorbTLS *tls, void *ownerAddress, zorbReleaseFcn release);
/// Closes the open frame, dropping its registrations without running them.
ORVANE_API void zorbHeapReferenceStackLeaveFcn(zorbTLS *tls);
///@}

/// @name Run-time context
///@{
/// Makes the run-time context of a call into *tls.
ORVANE_API void zorbCreateRootTLS(zorbTLS **tls, zorbContext *context, void *reserved, int32_t numCores);
/// Destroys the context in *tls and sets *tls to null.
ORVANE_API void zorbDestroyRootTLS(zorbTLS **tls);
/// Kept for modules that call it; the stand-in keeps no per-call counts.
ORVANE_API void zorbClearAllocCount(zorbTLS *tls, bool isMexOutputs, uint32_t numOutputs, const char *reserved);
/// Kept for modules that call it; the stand-in keeps no run-time call stack.
ORVANE_API void zorbEnterRtStack(zorbTLS *tls);
/// Kept for modules that call it; the stand-in keeps no run-time call stack.
ORVANE_API void zorbLeaveRtStack(zorbTLS *tls);
/// Whether this is the module's first call (false for an unknown context).
ORVANE_API bool zorbFirstTime(zorbTLS *tls);
///@}

/// Raises the host error `identifier`. numArguments counts the variadic
/// values that follow, which come in groups by class: ZORB_INT32_CLASS then
/// an int value (2 values); ZORB_CHAR_CLASS then an int length and a
/// const char * text, not necessarily NUL-terminated (3 values). So
/// (12, 3, 4, 6, "fazolt") is 5.
ORVANE_API ORVANE_NORETURN void zorbErrMsgIdAndTxt(zorbTLS *tls, const char *identifier, int32_t numArguments, ...);

/// @name Reading host values
///@{
/// One more reference to the value.
ORVANE_API zorbArray *zorbAlias(const zorbArray *value);
/// The same as zorbAlias.
ORVANE_API zorbArray *zorbAliasP(const zorbArray *value);
/// Returns a new reference to field fieldNumber (0-based) of element
/// `element` (0-based, column-major) of a struct; raises if absent.
ORVANE_API zorbArray *zorbGetField(zorbTLS *tls, const zorbArray *structValue, int32_t element, int32_t fieldNumber,
                                   const char *fieldName);

///@}

/// @name Checks
/// Each raises an error naming the value (msgId) when it is not of the form
/// asked for. numDimensions 0 means a scalar (every extent 1). dims[k] < 0
/// means that extent k is unbounded. The variable-size forms (Vs) write the
/// actual extents to outDims (numDimensions entries). A one-dimensional
/// check accepts a column (every extent after the first is 1) or an empty value.
///@{
/// A struct of these fields, in this order, and these extents.
ORVANE_API void zorbCheckStruct(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value, int32_t numFields,
                                const char *const *fieldNames, int32_t numDimensions, const int32_t *dims);
/// A struct of these fields, within these extents.
ORVANE_API void zorbCheckVsStruct(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                  int32_t numFields, const char *const *fieldNames, int32_t numDimensions,
                                  const int32_t *dims, int32_t *outDims);
/// A value of this class, complexity and extents.
ORVANE_API void zorbCheckBuiltIn(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                 const char *className, bool isComplex, int32_t numDimensions, const int32_t *dims);
/// A value of this class and complexity, within these extents.
ORVANE_API void zorbCheckVsBuiltIn(zorbTLS *tls, const zorbMsgIdentifier *msgId, const zorbArray *value,
                                   const char *className, bool isComplex, int32_t numDimensions, const int32_t *dims,
                                   int32_t *outDims);

///@}

/// @name Reading host values
///@{
/// Copies numel elements of elementSize bytes from the value's real data.
/// elementSize may be narrower than the class's own (a char value read with
/// 1-byte elements).
ORVANE_API void zorbImportArray(zorbTLS *tls, const zorbArray *value, void *destination, int32_t elementSize,
                                bool isComplex);
/// The value's real data (null for a null value).
ORVANE_API void *zorbQuvGetData(const zorbArray *value);
/// The value's real data as doubles.
ORVANE_API double *zorbQuvGetPr(const zorbArray *value);
/// Returns a new reference to the value converted to className (an alias when
/// it already has that class). Raises when no conversion exists.
ORVANE_API zorbArray *zorbCoerceToClass(zorbTLS *tls, const zorbArray *value, const char *className);
/// Drops one reference and sets *value to null.
ORVANE_API void zorbDestroyArray(zorbArray **value);
///@}

/// @name Making host values
/// Each returns a new reference that the caller owns.
///@{
/// Zeros of a numeric class, of these extents.
ORVANE_API zorbArray *zorbCreateNumericArray(int32_t numDimensions, const int32_t *dims, zorbClassID classId,
                                             zorbComplexity complexity);
/// A rows x cols numeric matrix of zeros.
ORVANE_API zorbArray *zorbCreateNumericMatrix(int32_t rows, int32_t cols, zorbClassID classId,
                                              zorbComplexity complexity);
/// A 1 x 1 double.
ORVANE_API zorbArray *zorbCreateDoubleScalar(double value);
/// A char array of these extents, to be filled by zorbInitCharArray.
ORVANE_API zorbArray *zorbCreateCharArray(int32_t numDimensions, const int32_t *dims);
/// Fills a char array with `length` characters.
ORVANE_API void zorbInitCharArray(zorbTLS *tls, int32_t length, zorbArray *value, const char *characters);
/// A rows x cols struct array of these fields, every field empty.
ORVANE_API zorbArray *zorbCreateStructMatrix(int32_t rows, int32_t cols, int32_t numFields,
                                             const char *const *fieldNames);
/// A rows x cols logical matrix of false.
ORVANE_API zorbArray *zorbCreateLogicalMatrix(int32_t rows, int32_t cols);
/// Sets a field of a struct element; takes over the reference to fieldValue.
ORVANE_API void zorbSetFieldNumbered(zorbTLS *tls, zorbArray *structValue, int32_t element, const char *fieldName,
                                     zorbArray *fieldValue, int32_t fieldNumber);
/// Sets a field of a struct element by name; takes over the reference to fieldValue.
ORVANE_API void zorbSetField(zorbArray *structValue, int32_t element, const char *fieldName, zorbArray *fieldValue);
/// Text as a 1 x n char value.
ORVANE_API zorbArray *zorbQuvCreateString(const char *text);
/// A 1 x 1 double.
ORVANE_API zorbArray *zorbQuvCreateDoubleScalar(double value);
/// The value takes over a block that came from zorbMallocQib/zorbCallocQib.
ORVANE_API void zorbQuvSetData(zorbArray *value, void *block);
/// Gives the value new extents; its data must fit them.
ORVANE_API void zorbSetDimensions(zorbArray *value, const int32_t *dims, int32_t numDimensions);
/// Puts `value` in *slot, dropping the reference *slot held.
ORVANE_API void zorbAssign(zorbArray **slot, zorbArray *value);
/// Hands the module's `count` results to the caller's slots.
ORVANE_API void zorbReturnArrays(int32_t count, zorbArray **callerSlots, zorbArray **moduleSlots);
/// Decodes hex pieces (ending with an empty piece) that spell a zlib stream
/// of host-value JSON text, inflatedLength bytes when inflated.
ORVANE_API void zorbNameCaptureQuvArray(const char *const *pieces, int32_t inflatedLength, zorbArray **result);
///@}

/// Calls a host function by name. When argumentsAreConsumed is true the
/// host drops the argument references after the call, also when it raises.
/// The results are new references that the caller owns.
ORVANE_API void zorbCallOrvane(zorbTLS *tls, int32_t numResults, zorbArray **results, int32_t numArguments,
                               zorbArray **arguments, const char *functionName, bool argumentsAreConsumed,
                               const zorbCallLocation *location);

/// A quiet NaN.
ORVANE_API double quvGetNaN(void);
/// Registers the function a module runs when it is unloaded (one per module).
ORVANE_API void qibAtExit(void (*function)(void));

#ifdef __cplusplus
}
#endif

#endif
