// Checks of host values against what a module expects (class, complexity,
// field set, extents), the copy of a value's data into module memory, and
// class conversion.
//
// Sections: describing values, extent rules, checks, import, conversion.
#include "internal.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

using namespace orvane::detail;

namespace {

// ---- Describing values.

// "fis.inputMF.mf.params" from the chain {"params"} -> {"mf"} -> ... -> {"fis"}.
std::string pathText(const zorbMsgIdentifier *id) {
    if (id == nullptr) return "value";
    std::vector<const zorbMsgIdentifier *> chain;
    for (const zorbMsgIdentifier *p = id; p != nullptr; p = p->parent) chain.push_back(p);
    std::string text;
    for (size_t k = chain.size(); k-- > 0;) {
        const zorbMsgIdentifier *p = chain[k];
        if (!text.empty()) text += '.';
        text += p->identifier != nullptr ? p->identifier : "?";
        if (k > 0 && chain[k - 1]->parentIsCell) text += "{}";
    }
    return text;
}

// "a double", "an int32"
std::string withArticle(const std::string &word) {
    bool vowel = !word.empty() && (word[0] == 'a' || word[0] == 'e' || word[0] == 'i' || word[0] == 'o');
    return (vowel ? "an " : "a ") + word;
}

std::string describeValue(const zorbArray *v) {
    std::string className = orvane::className(v->classId);
    return withArticle(v->isComplex ? "complex " + className : className) + " value of size " + dimsText(v->dims);
}

std::string expectedSize(int32_t numDimensions, const int32_t *dims) {
    if (numDimensions == 0) return "1x1";
    std::string text;
    for (int32_t k = 0; k < numDimensions; ++k) {
        if (k > 0) text += 'x';
        text += dims[k] < 0 ? std::string("N") : std::to_string(dims[k]);
    }
    if (numDimensions == 1) text += "x1";
    return text;
}

std::string expectedValue(const std::string &className, bool realOnly, int32_t numDimensions, const int32_t *dims) {
    return withArticle(realOnly ? "real " + className : className) + " value of size " +
           expectedSize(numDimensions, dims);
}

[[noreturn]] void raiseCheck(const char *identifier, const zorbMsgIdentifier *msgId, const std::string &expected,
                             const std::string &seen) {
    orvane::raise(identifier, pathText(msgId) + ": expected " + expected + ", got " + seen + ".");
}

// ---- Extent rules.

// The value's extents read with numDimensions dimensions; false when they
// do not fit. A scalar check wants every extent 1. A one-dimensional check
// takes an m x 1 column or the 0 x 0 empty value. Otherwise extents of 1
// beyond numDimensions are dropped and missing ones read as 1.
bool readExtents(const std::vector<int64_t> &valueDims, int32_t numDimensions, const int32_t *dims,
                 std::vector<int64_t> &extents) {
    extents.clear();
    if (numDimensions <= 0) {
        for (int64_t d : valueDims) {
            if (d != 1) return false;
        }
        return true;
    }
    if (numDimensions == 1) {
        bool isColumn = valueDims.size() == 2 && valueDims[1] == 1;
        bool isEmpty = valueDims.size() == 2 && valueDims[0] == 0 && valueDims[1] == 0;
        if (!isColumn && !isEmpty) return false;
        extents.push_back(valueDims[0]);
    } else {
        extents = valueDims;
        while (extents.size() < static_cast<size_t>(numDimensions)) extents.push_back(1);
        while (extents.size() > static_cast<size_t>(numDimensions) && extents.back() == 1) extents.pop_back();
        if (extents.size() != static_cast<size_t>(numDimensions)) return false;
    }
    for (int32_t k = 0; k < numDimensions; ++k) {
        if (dims[k] >= 0 && extents[static_cast<size_t>(k)] != dims[k]) return false;
        if (extents[static_cast<size_t>(k)] > std::numeric_limits<int32_t>::max()) return false;
    }
    return true;
}

void checkExtents(const zorbMsgIdentifier *msgId, const zorbArray *value, const std::string &expected,
                  int32_t numDimensions, const int32_t *dims, int32_t *outDims) {
    std::vector<int64_t> extents;
    if (!readExtents(value->dims, numDimensions, dims, extents)) {
        raiseCheck("Orvane:checks:WrongSize", msgId, expected, describeValue(value));
    }
    if (outDims != nullptr) {
        for (size_t k = 0; k < extents.size(); ++k) outDims[k] = static_cast<int32_t>(extents[k]);
    }
}

void checkPresent(const zorbMsgIdentifier *msgId, const zorbArray *value) {
    if (value == nullptr) orvane::raise("Orvane:checks:Missing", pathText(msgId) + ": no value was given.");
}

// ---- Checks.

void checkStruct(const zorbMsgIdentifier *msgId, const zorbArray *value, int32_t numFields,
                 const char *const *fieldNames, int32_t numDimensions, const int32_t *dims, int32_t *outDims) {
    checkPresent(msgId, value);
    std::string names;
    for (int32_t k = 0; k < numFields; ++k) names += (k > 0 ? ", " : "") + std::string(fieldNames[k]);
    std::string expected = "a struct of size " + expectedSize(numDimensions, dims) + " with fields {" + names + "}";
    if (value->classId != ZORB_STRUCT_CLASS)
        raiseCheck("Orvane:checks:WrongClass", msgId, expected, describeValue(value));
    bool sameFields = value->fieldNames.size() == static_cast<size_t>(numFields);
    for (int32_t k = 0; sameFields && k < numFields; ++k) {
        sameFields = value->fieldNames[static_cast<size_t>(k)] == fieldNames[k];
    }
    if (!sameFields) {
        std::string seen;
        for (size_t k = 0; k < value->fieldNames.size(); ++k) seen += (k > 0 ? ", " : "") + value->fieldNames[k];
        raiseCheck("Orvane:checks:WrongFields", msgId, expected, "a struct with fields {" + seen + "}");
    }
    checkExtents(msgId, value, expected, numDimensions, dims, outDims);
}

void checkBuiltIn(const zorbMsgIdentifier *msgId, const zorbArray *value, const char *className, bool isComplex,
                  int32_t numDimensions, const int32_t *dims, int32_t *outDims) {
    checkPresent(msgId, value);
    std::string expected = expectedValue(className, !isComplex, numDimensions, dims);
    if (orvane::className(value->classId) != className) {
        raiseCheck("Orvane:checks:WrongClass", msgId, expected, describeValue(value));
    }
    if (value->isComplex && !isComplex) raiseCheck("Orvane:checks:NotReal", msgId, expected, describeValue(value));
    checkExtents(msgId, value, expected, numDimensions, dims, outDims);
}

// ---- Conversion.

template <typename To, typename From>
To convertElement(From x) {
    if constexpr (std::is_same_v<To, bool>) {
        return x != 0;
    } else if constexpr (std::is_floating_point_v<To>) {
        return static_cast<To>(x);  // straight from the source type: one rounding only
    } else if constexpr (std::is_floating_point_v<From>) {
        // Integers: round half away from zero, saturate, NaN gives 0.
        if (std::isnan(x)) return 0;
        double r = std::round(static_cast<double>(x));
        if (r <= static_cast<double>(std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
        if (r >= static_cast<double>(std::numeric_limits<To>::max())) return std::numeric_limits<To>::max();
        return static_cast<To>(r);
    } else {
        __int128 v = static_cast<__int128>(x);
        if (v < static_cast<__int128>(std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
        if (v > static_cast<__int128>(std::numeric_limits<To>::max())) return std::numeric_limits<To>::max();
        return static_cast<To>(v);
    }
}

// Calls f with a null pointer of the class's element type. A logical source
// is read as bytes (any nonzero byte is true); a logical target is written
// as bool.
template <typename F>
void withElementType(zorbClassID id, F &&f, bool isTarget = false) {
    switch (id) {
        case ZORB_DOUBLE_CLASS: f(static_cast<double *>(nullptr)); break;
        case ZORB_SINGLE_CLASS: f(static_cast<float *>(nullptr)); break;
        case ZORB_INT8_CLASS: f(static_cast<int8_t *>(nullptr)); break;
        case ZORB_UINT8_CLASS:
        case ZORB_CHAR_CLASS: f(static_cast<uint8_t *>(nullptr)); break;
        case ZORB_LOGICAL_CLASS:
            if (isTarget) {
                f(static_cast<bool *>(nullptr));
            } else {
                f(static_cast<uint8_t *>(nullptr));
            }
            break;
        case ZORB_INT16_CLASS: f(static_cast<int16_t *>(nullptr)); break;
        case ZORB_UINT16_CLASS: f(static_cast<uint16_t *>(nullptr)); break;
        case ZORB_INT32_CLASS: f(static_cast<int32_t *>(nullptr)); break;
        case ZORB_UINT32_CLASS: f(static_cast<uint32_t *>(nullptr)); break;
        case ZORB_INT64_CLASS: f(static_cast<int64_t *>(nullptr)); break;
        case ZORB_UINT64_CLASS: f(static_cast<uint64_t *>(nullptr)); break;
        default: break;
    }
}

template <typename To, typename From>
void convertBlock(void *to, const void *from, size_t n) {
    for (size_t k = 0; k < n; ++k) {
        From x;
        std::memcpy(&x, static_cast<const unsigned char *>(from) + k * sizeof(From), sizeof x);
        To y = convertElement<To, From>(x);
        std::memcpy(static_cast<unsigned char *>(to) + k * sizeof(To), &y, sizeof y);
    }
}

bool hasNaN(const zorbArray *v, size_t n) {
    bool found = false;
    withElementType(v->classId, [&](auto *tag) {
        using T = std::remove_pointer_t<decltype(tag)>;
        if constexpr (std::is_floating_point_v<T>) {
            for (size_t k = 0; k < n && !found; ++k) found = std::isnan(static_cast<const T *>(v->real)[k]);
        }
    });
    return found;
}

}  // namespace

extern "C" {

void zorbCheckStruct(zorbTLS *, const zorbMsgIdentifier *msgId, const zorbArray *value, int32_t numFields,
                     const char *const *fieldNames, int32_t numDimensions, const int32_t *dims) {
    raiseIfInjected(countHostCall(), pathText(msgId));  // fault switch: as if the check failed
    checkStruct(msgId, value, numFields, fieldNames, numDimensions, dims, nullptr);
}

void zorbCheckVsStruct(zorbTLS *, const zorbMsgIdentifier *msgId, const zorbArray *value, int32_t numFields,
                       const char *const *fieldNames, int32_t numDimensions, const int32_t *dims, int32_t *outDims) {
    raiseIfInjected(countHostCall(), pathText(msgId));  // fault switch: as if the check failed
    checkStruct(msgId, value, numFields, fieldNames, numDimensions, dims, outDims);
}

void zorbCheckBuiltIn(zorbTLS *, const zorbMsgIdentifier *msgId, const zorbArray *value, const char *className,
                      bool isComplex, int32_t numDimensions, const int32_t *dims) {
    raiseIfInjected(countHostCall(), pathText(msgId));  // fault switch: as if the check failed
    checkBuiltIn(msgId, value, className, isComplex, numDimensions, dims, nullptr);
}

void zorbCheckVsBuiltIn(zorbTLS *, const zorbMsgIdentifier *msgId, const zorbArray *value, const char *className,
                        bool isComplex, int32_t numDimensions, const int32_t *dims, int32_t *outDims) {
    raiseIfInjected(countHostCall(), pathText(msgId));  // fault switch: as if the check failed
    checkBuiltIn(msgId, value, className, isComplex, numDimensions, dims, outDims);
}

// With isComplex the elements are written as (real, imaginary) pairs; a real
// value then reads as zero imaginary parts.
void zorbImportArray(zorbTLS *, const zorbArray *value, void *destination, int32_t elementSize, bool isComplex) {
    raiseIfInjected(countHostCall(), "zorbImportArray");  // fault switch
    if (value == nullptr || orvane::detail::elementSize(value->classId) == 0) {
        orvane::raise("Orvane:import:NoData", "Only a numeric, logical or char value can be imported.");
    }
    size_t own = orvane::detail::elementSize(value->classId);
    if (elementSize <= 0 || static_cast<size_t>(elementSize) > own) {
        orvane::raise("Orvane:import:ElementSize", "A " + orvane::className(value->classId) +
                                                       " value cannot be read with elements of " +
                                                       std::to_string(elementSize) + " bytes.");
    }
    size_t width = static_cast<size_t>(elementSize);
    size_t n = static_cast<size_t>(countElements(value->dims));
    auto *out = static_cast<unsigned char *>(destination);
    const auto *re = static_cast<const unsigned char *>(value->real);
    const auto *im = static_cast<const unsigned char *>(value->imag);
    for (size_t k = 0; k < n; ++k) {
        // A narrower element keeps the first bytes of each element.
        if (!isComplex) {
            std::memcpy(out + k * width, re + k * own, width);
        } else {
            std::memcpy(out + 2 * k * width, re + k * own, width);
            if (im != nullptr) {
                std::memcpy(out + (2 * k + 1) * width, im + k * own, width);
            } else {
                std::memset(out + (2 * k + 1) * width, 0, width);
            }
        }
    }
}

}  // extern "C"

namespace {

zorbArray *coerceToClass(const zorbArray *value, const char *className) {
    if (value == nullptr) orvane::raise("Orvane:coerce:Missing", "No value was given to convert.");
    zorbClassID target = orvane::classFromName(className);
    if (value->classId == target) return addReference(value, true);
    if (value->classId == ZORB_STRUCT_CLASS || orvane::detail::elementSize(value->classId) == 0) {
        orvane::raise("Orvane:coerce:NotConvertible",
                      "A " + orvane::className(value->classId) + " value cannot be converted to " + className + ".");
    }
    // char is one byte per character here, so it converts as uint8 does.
    if (!isNumericClass(target) && target != ZORB_LOGICAL_CLASS && target != ZORB_CHAR_CLASS) {
        orvane::raise("Orvane:coerce:UnknownClass",
                      std::string("Values cannot be converted to the class '") + className + "'.");
    }
    size_t n = static_cast<size_t>(countElements(value->dims));
    if (target == ZORB_LOGICAL_CLASS) {
        if (value->isComplex)
            orvane::raise("Orvane:coerce:ComplexToLogical", "A complex value cannot be converted to logical.");
        if (hasNaN(value, n)) orvane::raise("Orvane:coerce:NaNToLogical", "NaN cannot be converted to logical.");
    }
    zorbArray *result = makeArray(target, value->dims, value->isComplex);
    withElementType(
        target,
        [&](auto *toTag) {
            using To = std::remove_pointer_t<decltype(toTag)>;
            withElementType(value->classId, [&](auto *fromTag) {
                using From = std::remove_pointer_t<decltype(fromTag)>;
                if (n == 0) return;
                convertBlock<To, From>(result->real, value->real, n);
                if (value->isComplex) convertBlock<To, From>(result->imag, value->imag, n);
            });
        },
        true);
    return result;
}

}  // namespace

extern "C" {

zorbArray *zorbCoerceToClass(zorbTLS *, const zorbArray *value, const char *className) {
    const orvane::HostFault fault = countHostCall();  // fault switch
    raiseIfInjected(fault, "zorbCoerceToClass");
    return injectWrongResult(fault, coerceToClass(value, className));
}

}  // extern "C"
