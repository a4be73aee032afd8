// Host values: classes and extents, reference counting, the C operations that
// make and change values, and the C++ Value handle.
//
// Sections: classes and extents, making and destroying, references,
// C interface, Value.
#include "internal.h"

#include <cstring>
#include <limits>
#include <unordered_set>

namespace orvane::detail {

// ---- Classes and extents.

size_t elementSize(zorbClassID id) {
    switch (id) {
        case ZORB_DOUBLE_CLASS:
        case ZORB_INT64_CLASS:
        case ZORB_UINT64_CLASS: return 8;
        case ZORB_SINGLE_CLASS:
        case ZORB_INT32_CLASS:
        case ZORB_UINT32_CLASS: return 4;
        case ZORB_INT16_CLASS:
        case ZORB_UINT16_CLASS: return 2;
        case ZORB_INT8_CLASS:
        case ZORB_UINT8_CLASS:
        case ZORB_LOGICAL_CLASS:
        case ZORB_CHAR_CLASS: return 1;
        default: return 0;
    }
}

bool isNumericClass(zorbClassID id) { return id >= ZORB_DOUBLE_CLASS && id <= ZORB_UINT64_CLASS; }

int64_t countElements(const std::vector<int64_t> &dims) {
    int64_t n = 1;
    for (int64_t d : dims) {
        if (d != 0 && n > std::numeric_limits<int64_t>::max() / d) {
            raise("ZORB:runTime:OutOfMemory",
                  "Out of memory: a value of size " + dimsText(dims) + " has too many elements.");
        }
        n *= d;
    }
    return n;
}

std::vector<int64_t> normaliseDims(std::vector<int64_t> dims) {
    while (dims.size() < 2) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    return dims;
}

std::string dimsText(const std::vector<int64_t> &dims) {
    std::string text;
    for (size_t k = 0; k < dims.size(); ++k) {
        if (k > 0) text += 'x';
        text += std::to_string(dims[k]);
    }
    return text;
}

// ---- Making and destroying.

namespace {

std::vector<int64_t> checkedDims(std::vector<int64_t> dims) {
    for (int64_t d : dims) {
        if (d < 0) raise("Orvane:values:NegativeExtent", "Extents must not be negative; got " + dimsText(dims) + ".");
    }
    return normaliseDims(std::move(dims));
}

size_t dataBytes(const zorbArray *v) {
    // countElements was checked when the extents were set; the byte count
    // fits because the block was allocated (or the count is 0).
    return static_cast<size_t>(countElements(v->dims)) * elementSize(v->classId);
}

void destroyValue(zorbArray *v) {
    auto &state = activeState();
    if (state.tracksValues) state.heldReferences.erase(v);
    for (zorbArray *f : v->fields) dropReference(f, false);
    freeBlock(v->real);
    freeBlock(v->imag);
    delete v;
}

std::vector<int64_t> dimsFrom(int32_t numDimensions, const int32_t *dims) {
    std::vector<int64_t> d;
    for (int32_t k = 0; k < numDimensions; ++k) d.push_back(dims[k]);
    return d;
}

}  // namespace

zorbArray *makeArray(zorbClassID id, std::vector<int64_t> dims, bool isComplex) {
    if (elementSize(id) == 0) {
        raise("Orvane:values:UnsupportedClass", "Cannot make an array of class " + className(id) + ".");
    }
    dims = checkedDims(std::move(dims));
    int64_t n = countElements(dims);
    size_t size = elementSize(id);
    if (static_cast<uint64_t>(n) > std::numeric_limits<size_t>::max() / size) {
        raise("ZORB:runTime:OutOfMemory", "Out of memory: a value of size " + dimsText(dims) + " is too large.");
    }
    size_t bytes = static_cast<size_t>(n) * size;
    void *real = bytes > 0 ? allocateBlock(bytes, true) : nullptr;
    void *imag = nullptr;
    if (isComplex && bytes > 0) {
        try {
            imag = allocateBlock(bytes, true);
        } catch (...) {
            freeBlock(real);
            throw;
        }
    }
    auto *v = new zorbArray;
    v->classId = id;
    v->isComplex = isComplex;
    v->dims = std::move(dims);
    v->real = real;
    v->imag = imag;
    noteNewReference(v);
    return v;
}

zorbArray *makeStruct(std::vector<int64_t> dims, std::vector<std::string> fieldNames) {
    dims = checkedDims(std::move(dims));
    std::unordered_set<std::string> seen;
    for (const auto &name : fieldNames) {
        if (!seen.insert(name).second) raise("Orvane:values:DuplicateField", "Field '" + name + "' is given twice.");
    }
    int64_t n = countElements(dims);
    auto *v = new zorbArray;
    v->classId = ZORB_STRUCT_CLASS;
    v->dims = std::move(dims);
    v->fieldNames = std::move(fieldNames);
    v->fields.assign(static_cast<size_t>(n) * v->fieldNames.size(), nullptr);
    noteNewReference(v);
    return v;
}

zorbArray *&fieldSlot(zorbArray *s, int64_t element, size_t field) {
    if (s == nullptr || s->classId != ZORB_STRUCT_CLASS) {
        raise("Orvane:values:NotStruct", "A field was addressed in a value that is not a struct.");
    }
    int64_t n = countElements(s->dims);
    if (element < 0 || element >= n) {
        raise("Orvane:values:IndexOutOfRange", "Struct element " + std::to_string(element) +
                                                   " is out of range for a struct of size " + dimsText(s->dims) + ".");
    }
    if (field >= s->fieldNames.size()) {
        raise("Orvane:values:NoSuchField", "Field number " + std::to_string(field) +
                                               " is out of range for a struct with " +
                                               std::to_string(s->fieldNames.size()) + " fields.");
    }
    return s->fields[static_cast<size_t>(element) * s->fieldNames.size() + field];
}

int64_t findField(const zorbArray *s, std::string_view name) {
    for (size_t k = 0; k < s->fieldNames.size(); ++k) {
        if (s->fieldNames[k] == name) return static_cast<int64_t>(k);
    }
    return -1;
}

size_t addField(zorbArray *s, const std::string &name) {
    size_t oldCount = s->fieldNames.size();
    size_t n = oldCount == 0 ? static_cast<size_t>(countElements(s->dims)) : s->fields.size() / oldCount;
    std::vector<zorbArray *> fields(n * (oldCount + 1), nullptr);
    for (size_t e = 0; e < n; ++e) {
        for (size_t f = 0; f < oldCount; ++f) fields[e * (oldCount + 1) + f] = s->fields[e * oldCount + f];
    }
    s->fields = std::move(fields);
    s->fieldNames.push_back(name);
    return oldCount;
}

// ---- References.

void noteNewReference(zorbArray *value) {
    auto &state = activeState();
    if (state.tracksValues) ++state.heldReferences[value];
}

void noteHandedOver(zorbArray *value) {
    auto &state = activeState();
    if (!state.tracksValues || value == nullptr) return;
    auto it = state.heldReferences.find(value);
    if (it == state.heldReferences.end()) return;  // a reference from outside the call
    if (--it->second <= 0) state.heldReferences.erase(it);
}

zorbArray *addReference(const zorbArray *value, bool tracked) {
    if (value == nullptr) return nullptr;
    auto *v = const_cast<zorbArray *>(value);
    v->refCount.fetch_add(1);
    if (tracked) noteNewReference(v);
    return v;
}

void dropReference(zorbArray *value, bool tracked) {
    if (value == nullptr) return;
    if (tracked) noteHandedOver(value);
    if (value->refCount.fetch_sub(1) == 1) destroyValue(value);
}

}  // namespace orvane::detail

// ---- C interface.

using namespace orvane::detail;

namespace {

// Takes over the reference to fieldValue into the slot.
void storeField(zorbArray *&slot, zorbArray *fieldValue) {
    zorbArray *old = slot;
    noteHandedOver(fieldValue);
    slot = fieldValue;
    dropReference(old, false);
}

zorbArray *getField(const zorbArray *structValue, int32_t element, int32_t fieldNumber, const char *fieldName);
zorbArray *createDoubleScalar(double value);

void checkDataFits(const zorbArray *v, const std::vector<int64_t> &dims) {
    size_t needed = static_cast<size_t>(countElements(dims)) * elementSize(v->classId);
    size_t realBytes = v->real != nullptr ? blockBytes(v->real) : 0;
    size_t imagBytes = v->imag != nullptr ? blockBytes(v->imag) : 0;
    if (needed > realBytes || (v->isComplex && needed > imagBytes)) {
        orvane::raise("Orvane:values:DataTooSmall", "A " + orvane::className(v->classId) + " value of size " +
                                                        dimsText(dims) + " needs " + std::to_string(needed) +
                                                        " bytes of data; its block holds " + std::to_string(realBytes) +
                                                        ".");
    }
}

}  // namespace

extern "C" {

zorbArray *zorbAlias(const zorbArray *value) { return addReference(value, true); }
zorbArray *zorbAliasP(const zorbArray *value) { return addReference(value, true); }

void zorbDestroyArray(zorbArray **value) {
    if (value == nullptr || *value == nullptr) return;
    dropReference(*value, true);
    *value = nullptr;
}

zorbArray *zorbGetField(zorbTLS *, const zorbArray *structValue, int32_t element, int32_t fieldNumber,
                        const char *fieldName) {
    raiseIfInjected(countHostCall(), "zorbGetField");  // fault switch
    return getField(structValue, element, fieldNumber, fieldName);
}

}  // extern "C"

namespace {

zorbArray *getField(const zorbArray *structValue, int32_t element, int32_t fieldNumber, const char *fieldName) {
    if (fieldNumber < 0) orvane::raise("Orvane:values:NoSuchField", "Field numbers start at 0.");
    auto *s = const_cast<zorbArray *>(structValue);
    zorbArray *&slot = fieldSlot(s, element, static_cast<size_t>(fieldNumber));
    if (fieldName != nullptr && s->fieldNames[static_cast<size_t>(fieldNumber)] != fieldName) {
        orvane::raise("Orvane:values:NoSuchField", std::string("Field ") + std::to_string(fieldNumber) + " is '" +
                                                       s->fieldNames[static_cast<size_t>(fieldNumber)] + "', not '" +
                                                       fieldName + "'.");
    }
    if (slot == nullptr) return makeArray(ZORB_DOUBLE_CLASS, {0, 0}, false);  // an unset field reads as []
    return addReference(slot, true);
}

// Not counted by the fault switch: the host's own makers use it too.
zorbArray *createDoubleScalar(double value) {
    zorbArray *v = makeArray(ZORB_DOUBLE_CLASS, {1, 1}, false);
    std::memcpy(v->real, &value, sizeof value);
    return v;
}

}  // namespace

extern "C" {

void *zorbQuvGetData(const zorbArray *value) { return value != nullptr ? value->real : nullptr; }
double *zorbQuvGetPr(const zorbArray *value) { return static_cast<double *>(zorbQuvGetData(value)); }

zorbArray *zorbCreateNumericArray(int32_t numDimensions, const int32_t *dims, zorbClassID classId,
                                  zorbComplexity complexity) {
    raiseIfInjected(countHostCall(), "zorbCreateNumericArray");  // fault switch
    return makeArray(classId, dimsFrom(numDimensions, dims), complexity == ZORB_COMPLEX);
}

zorbArray *zorbCreateNumericMatrix(int32_t rows, int32_t cols, zorbClassID classId, zorbComplexity complexity) {
    raiseIfInjected(countHostCall(), "zorbCreateNumericMatrix");  // fault switch
    return makeArray(classId, {rows, cols}, complexity == ZORB_COMPLEX);
}

zorbArray *zorbCreateDoubleScalar(double value) {
    raiseIfInjected(countHostCall(), "zorbCreateDoubleScalar");  // fault switch
    return createDoubleScalar(value);
}

zorbArray *zorbQuvCreateDoubleScalar(double value) {
    raiseIfInjected(countHostCall(), "zorbQuvCreateDoubleScalar");  // fault switch
    return createDoubleScalar(value);
}

zorbArray *zorbCreateCharArray(int32_t numDimensions, const int32_t *dims) {
    raiseIfInjected(countHostCall(), "zorbCreateCharArray");  // fault switch
    return makeArray(ZORB_CHAR_CLASS, dimsFrom(numDimensions, dims), false);
}

void zorbInitCharArray(zorbTLS *, int32_t length, zorbArray *value, const char *characters) {
    raiseIfInjected(countHostCall(), "zorbInitCharArray");  // fault switch
    if (value == nullptr || value->classId != ZORB_CHAR_CLASS) {
        orvane::raise("Orvane:values:NotChar", "Only a char value can be filled with characters.");
    }
    int64_t n = countElements(value->dims);
    if (length < 0 || length > n) {
        orvane::raise("Orvane:values:DataTooSmall", "Cannot write " + std::to_string(length) +
                                                        " characters into a char value of size " +
                                                        dimsText(value->dims) + ".");
    }
    if (length > 0) std::memcpy(value->real, characters, static_cast<size_t>(length));
}

zorbArray *zorbCreateStructMatrix(int32_t rows, int32_t cols, int32_t numFields, const char *const *fieldNames) {
    raiseIfInjected(countHostCall(), "zorbCreateStructMatrix");  // fault switch
    std::vector<std::string> names;
    for (int32_t k = 0; k < numFields; ++k) names.emplace_back(fieldNames[k]);
    return makeStruct({rows, cols}, std::move(names));
}

zorbArray *zorbCreateLogicalMatrix(int32_t rows, int32_t cols) {
    raiseIfInjected(countHostCall(), "zorbCreateLogicalMatrix");  // fault switch
    return makeArray(ZORB_LOGICAL_CLASS, {rows, cols}, false);
}

void zorbSetFieldNumbered(zorbTLS *, zorbArray *structValue, int32_t element, const char *fieldName,
                          zorbArray *fieldValue, int32_t fieldNumber) {
    raiseIfInjected(countHostCall(), "zorbSetFieldNumbered");  // fault switch
    if (fieldNumber < 0) orvane::raise("Orvane:values:NoSuchField", "Field numbers start at 0.");
    zorbArray *&slot = fieldSlot(structValue, element, static_cast<size_t>(fieldNumber));
    if (fieldName != nullptr && structValue->fieldNames[static_cast<size_t>(fieldNumber)] != fieldName) {
        orvane::raise("Orvane:values:NoSuchField", std::string("Field ") + std::to_string(fieldNumber) + " is '" +
                                                       structValue->fieldNames[static_cast<size_t>(fieldNumber)] +
                                                       "', not '" + fieldName + "'.");
    }
    storeField(slot, fieldValue);
}

void zorbSetField(zorbArray *structValue, int32_t element, const char *fieldName, zorbArray *fieldValue) {
    raiseIfInjected(countHostCall(), "zorbSetField");  // fault switch
    if (structValue == nullptr || structValue->classId != ZORB_STRUCT_CLASS) {
        orvane::raise("Orvane:values:NotStruct", "A field was set in a value that is not a struct.");
    }
    int64_t index = findField(structValue, fieldName);
    size_t field = index >= 0 ? static_cast<size_t>(index) : addField(structValue, fieldName);
    storeField(fieldSlot(structValue, element, field), fieldValue);
}

zorbArray *zorbQuvCreateString(const char *text) {
    raiseIfInjected(countHostCall(), "zorbQuvCreateString");  // fault switch
    size_t n = std::strlen(text);
    zorbArray *v = makeArray(ZORB_CHAR_CLASS, {1, static_cast<int64_t>(n)}, false);
    if (n > 0) std::memcpy(v->real, text, n);
    return v;
}

void zorbQuvSetData(zorbArray *value, void *block) {
    if (value == nullptr || elementSize(value->classId) == 0) {
        orvane::raise("Orvane:values:NoData", "Only a numeric, logical or char value holds a data block.");
    }
    if (block != nullptr) {
        size_t bytes = blockBytes(block);  // aborts unless the block is ours
        if (bytes < dataBytes(value)) {
            orvane::raise("Orvane:values:DataTooSmall", "A block of " + std::to_string(bytes) +
                                                            " bytes is too small for a value of size " +
                                                            dimsText(value->dims) + ".");
        }
    } else if (dataBytes(value) > 0) {
        orvane::raise("Orvane:values:DataTooSmall", "A value with elements cannot take a null data block.");
    }
    if (value->real == block) return;
    freeBlock(value->real);
    value->real = block;
}

void zorbSetDimensions(zorbArray *value, const int32_t *dims, int32_t numDimensions) {
    if (value == nullptr) orvane::raise("Orvane:values:NullValue", "Extents were set on a null value.");
    std::vector<int64_t> d = checkedDims(dimsFrom(numDimensions, dims));
    if (value->classId == ZORB_STRUCT_CLASS) {
        if (countElements(d) != countElements(value->dims)) {
            orvane::raise("Orvane:values:WrongElementCount",
                          "A struct of size " + dimsText(value->dims) + " cannot take the size " + dimsText(d) + ".");
        }
    } else {
        checkDataFits(value, d);
    }
    value->dims = std::move(d);
}

void zorbAssign(zorbArray **slot, zorbArray *value) {
    zorbArray *old = *slot;
    *slot = value;
    dropReference(old, true);
}

void zorbReturnArrays(int32_t count, zorbArray **callerSlots, zorbArray **moduleSlots) {
    for (int32_t k = 0; k < count; ++k) callerSlots[k] = moduleSlots[k];
}

}  // extern "C"

// ---- Value.

namespace orvane {

namespace {
const std::vector<int64_t> NO_DIMS;
const std::vector<std::string> NO_FIELDS;

template <typename T>
Value rowOf(zorbClassID id, const T *values, size_t n) {
    Value v(makeArray(id, {1, static_cast<int64_t>(n)}, false));
    if (n > 0) std::memcpy(v.data(), values, n * sizeof(T));
    return v;
}

void countBlocks(const zorbArray *v, std::unordered_set<const zorbArray *> &seen, int64_t &blocks) {
    if (v == nullptr || !seen.insert(v).second) return;
    if (v->real != nullptr) ++blocks;
    if (v->imag != nullptr) ++blocks;
    for (const zorbArray *f : v->fields) countBlocks(f, seen, blocks);
}
}  // namespace

Value::Value(const Value &other) : array_(addReference(other.array_, true)) {}
Value::~Value() { dropReference(array_, true); }

Value Value::numeric(zorbClassID classId, const std::vector<int64_t> &dims, bool isComplex) {
    return Value(makeArray(classId, dims, isComplex));
}

Value Value::doubleMatrix(int64_t rows, int64_t cols, const std::vector<double> &columnMajor) {
    if (rows < 0 || cols < 0 || static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols) != columnMajor.size()) {
        raise("Orvane:values:WrongElementCount", "A " + std::to_string(rows) + "x" + std::to_string(cols) +
                                                     " matrix needs that many values; got " +
                                                     std::to_string(columnMajor.size()) + ".");
    }
    Value v(makeArray(ZORB_DOUBLE_CLASS, {rows, cols}, false));
    if (!columnMajor.empty()) std::memcpy(v.data(), columnMajor.data(), columnMajor.size() * sizeof(double));
    return v;
}

Value Value::doubleScalar(double v) { return Value(createDoubleScalar(v)); }
Value Value::int32Scalar(int32_t v) { return rowOf(ZORB_INT32_CLASS, &v, 1); }
Value Value::uint8Scalar(uint8_t v) { return rowOf(ZORB_UINT8_CLASS, &v, 1); }
Value Value::int32Row(const std::vector<int32_t> &values) {
    return rowOf(ZORB_INT32_CLASS, values.data(), values.size());
}
Value Value::charRow(std::string_view text) { return rowOf(ZORB_CHAR_CLASS, text.data(), text.size()); }
Value Value::uint8Row(std::string_view bytes) { return rowOf(ZORB_UINT8_CLASS, bytes.data(), bytes.size()); }
Value Value::logicalMatrix(int64_t rows, int64_t cols) {
    return Value(makeArray(ZORB_LOGICAL_CLASS, {rows, cols}, false));
}
Value Value::structMatrix(const std::vector<int64_t> &dims, const std::vector<std::string> &fieldNames) {
    return Value(makeStruct(dims, fieldNames));
}

zorbClassID Value::classId() const { return array_ != nullptr ? array_->classId : ZORB_UNKNOWN_CLASS; }
std::string Value::className() const { return orvane::className(classId()); }
bool Value::isComplex() const { return array_ != nullptr && array_->isComplex; }
const std::vector<int64_t> &Value::dims() const { return array_ != nullptr ? array_->dims : NO_DIMS; }
int64_t Value::numel() const { return array_ != nullptr ? countElements(array_->dims) : 0; }
void *Value::data() const { return array_ != nullptr ? array_->real : nullptr; }
void *Value::imagData() const { return array_ != nullptr ? array_->imag : nullptr; }

std::vector<double> Value::toDoubles() const {
    int64_t n = numel();
    std::vector<double> out(static_cast<size_t>(n));
    const void *p = data();
    auto convert = [&](auto sample) {
        using T = decltype(sample);
        const T *typed = static_cast<const T *>(p);
        for (int64_t k = 0; k < n; ++k) out[static_cast<size_t>(k)] = static_cast<double>(typed[k]);
    };
    switch (classId()) {
        case ZORB_DOUBLE_CLASS: convert(double{}); break;
        case ZORB_SINGLE_CLASS: convert(float{}); break;
        case ZORB_INT8_CLASS: convert(int8_t{}); break;
        case ZORB_UINT8_CLASS:
        case ZORB_CHAR_CLASS:
        case ZORB_LOGICAL_CLASS: convert(uint8_t{}); break;
        case ZORB_INT16_CLASS: convert(int16_t{}); break;
        case ZORB_UINT16_CLASS: convert(uint16_t{}); break;
        case ZORB_INT32_CLASS: convert(int32_t{}); break;
        case ZORB_UINT32_CLASS: convert(uint32_t{}); break;
        case ZORB_INT64_CLASS: convert(int64_t{}); break;
        case ZORB_UINT64_CLASS: convert(uint64_t{}); break;
        default: raise("Orvane:values:NotNumeric", "A " + className() + " value has no numbers to read.");
    }
    return out;
}

std::string Value::toText() const {
    if (classId() != ZORB_CHAR_CLASS && classId() != ZORB_UINT8_CLASS) {
        raise("Orvane:values:NotText", "A " + className() + " value is not text.");
    }
    int64_t n = numel();
    return n > 0 ? std::string(static_cast<const char *>(data()), static_cast<size_t>(n)) : std::string();
}

const std::vector<std::string> &Value::fieldNames() const { return array_ != nullptr ? array_->fieldNames : NO_FIELDS; }

Value Value::field(int64_t element, std::string_view name) const {
    if (classId() != ZORB_STRUCT_CLASS) return Value();
    int64_t index = findField(array_, name);
    if (index < 0) return Value();
    zorbArray *slot = fieldSlot(array_, element, static_cast<size_t>(index));
    if (slot == nullptr) return Value(makeArray(ZORB_DOUBLE_CLASS, {0, 0}, false));
    return Value(addReference(slot, true));
}

void Value::setField(int64_t element, std::string_view name, Value v) {
    if (classId() != ZORB_STRUCT_CLASS)
        raise("Orvane:values:NotStruct", "A field was set in a " + className() + " value.");
    int64_t index = findField(array_, name);
    size_t field = index >= 0 ? static_cast<size_t>(index) : addField(array_, std::string(name));
    zorbArray *&slot = fieldSlot(array_, element, field);
    storeField(slot, v.release());
}

int64_t Value::ownedBlocks() const {
    std::unordered_set<const zorbArray *> seen;
    int64_t blocks = 0;
    countBlocks(array_, seen, blocks);
    return blocks;
}

std::string className(zorbClassID id) {
    switch (id) {
        case ZORB_CELL_CLASS: return "cell";
        case ZORB_STRUCT_CLASS: return "struct";
        case ZORB_LOGICAL_CLASS: return "logical";
        case ZORB_CHAR_CLASS: return "char";
        case ZORB_VOID_CLASS: return "void";
        case ZORB_DOUBLE_CLASS: return "double";
        case ZORB_SINGLE_CLASS: return "single";
        case ZORB_INT8_CLASS: return "int8";
        case ZORB_UINT8_CLASS: return "uint8";
        case ZORB_INT16_CLASS: return "int16";
        case ZORB_UINT16_CLASS: return "uint16";
        case ZORB_INT32_CLASS: return "int32";
        case ZORB_UINT32_CLASS: return "uint32";
        case ZORB_INT64_CLASS: return "int64";
        case ZORB_UINT64_CLASS: return "uint64";
        default: return "unknown";
    }
}

zorbClassID classFromName(std::string_view name) {
    for (int id = ZORB_CELL_CLASS; id <= ZORB_UINT64_CLASS; ++id) {
        auto c = static_cast<zorbClassID>(id);
        if (className(c) == name) return c;
    }
    return ZORB_UNKNOWN_CLASS;
}

Value deepCopy(const Value &v) {
    if (!v) return v;
    zorbClassID id = v.classId();
    if (id == ZORB_STRUCT_CLASS) {
        Value s = Value::structMatrix(v.dims(), v.fieldNames());
        for (int64_t e = 0; e < v.numel(); ++e) {
            for (const std::string &name : v.fieldNames()) {
                Value f = v.field(e, name);
                if (f) s.setField(e, name, deepCopy(f));
            }
        }
        return s;
    }
    size_t size = detail::elementSize(id);
    if (size == 0) return v;
    Value c = Value::numeric(id, v.dims(), v.isComplex());
    size_t bytes = static_cast<size_t>(v.numel()) * size;
    if (bytes > 0) {
        std::memcpy(c.data(), v.data(), bytes);
        if (v.isComplex()) std::memcpy(c.imagData(), v.imagData(), bytes);
    }
    return c;
}

}  // namespace orvane
