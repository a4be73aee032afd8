// The host-value JSON format: reading (fromJson), writing (toJson) and the
// shortest round-trip text of a double (formatDouble).
//
//   1. Syntax: nlohmann's SAX parser into a small tree that keeps what the
//      DOM would lose (the sign of "-0", the raw text of a number, the order
//      and duplicates of keys), with the nesting depth bounded.
//   2. Reading a tree into host values, one class family at a time; every
//      error names its path ("data[0][1].size").
//   3. Writing host values.
#include <orvane/host.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace orvane {
namespace {

constexpr int kMaxJsonDepth = 256;            // arrays and objects, any kind
constexpr int kMaxStructLevels = 64;          // struct values inside struct values
constexpr int64_t kMaxElements = 2147483647;  // 2^31 - 1

[[noreturn]] void fail(const std::string &what, const std::string &path, const std::string &message) {
    raise("Orvane:json:" + what, (path.empty() ? std::string("top level") : path) + ": " + message);
}

// ---- 1. Syntax.

struct Node {
    enum Kind { Null, Bool, Int, UInt, Float, String, Array, Object } kind = Null;
    bool boolean = false;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double real = 0.0;
    std::string text;  // a string's bytes, or a float's raw token
    std::vector<Node> items;
    std::vector<std::string> keys;  // parallel to items for an object
};

const char *kindName(Node::Kind k) {
    switch (k) {
        case Node::Null: return "null";
        case Node::Bool: return "a boolean";
        case Node::Int:
        case Node::UInt:
        case Node::Float: return "a number";
        case Node::String: return "a string";
        case Node::Array: return "a list";
        case Node::Object: return "an object";
    }
    return "a value";
}

// nlohmann reads "-0" as the integer 0. Number tokens are counted in text
// order here and in the parser's callbacks, so the i-th callback can tell
// that its token was "-0". In text that is valid up to a token both counts
// agree; past a syntax error nothing is read anyway.
std::vector<size_t> findNegativeZeroTokens(std::string_view text) {
    std::vector<size_t> found;
    size_t numberIndex = 0;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '"') {
            ++i;
            while (i < text.size() && text[i] != '"') i += (text[i] == '\\') ? 2 : 1;
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t j = i;
            while (j < text.size() && std::strchr("0123456789+-.eE", text[j]) != nullptr && text[j] != '\0') ++j;
            if (text.substr(i, j - i) == "-0") found.push_back(numberIndex);
            ++numberIndex;
            i = j;
        } else {
            ++i;
        }
    }
    return found;
}

class TreeBuilder {
public:
    explicit TreeBuilder(std::vector<size_t> negativeZeros) : negativeZeros_(std::move(negativeZeros)) {}

    bool null() { return add(Node{}); }
    bool boolean(bool v) {
        Node n;
        n.kind = Node::Bool;
        n.boolean = v;
        return add(std::move(n));
    }
    bool number_integer(int64_t v) {
        if (takeNegativeZero()) return addNegativeZero();
        Node n;
        n.kind = Node::Int;
        n.integer = v;
        return add(std::move(n));
    }
    bool number_unsigned(uint64_t v) {
        if (takeNegativeZero()) return addNegativeZero();
        Node n;
        n.kind = Node::UInt;
        n.unsignedInteger = v;
        return add(std::move(n));
    }
    bool number_float(double v, const std::string &raw) {
        takeNegativeZero();
        Node n;
        n.kind = Node::Float;
        n.real = v;
        n.text = raw;
        return add(std::move(n));
    }
    bool string(std::string &s) {
        Node n;
        n.kind = Node::String;
        n.text = std::move(s);
        return add(std::move(n));
    }
    bool binary(nlohmann::json::binary_t &) { return false; }  // never produced by the text parser
    bool start_object(std::size_t) { return open(Node::Object); }
    bool key(std::string &k) {
        pendingKey_ = std::move(k);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Node::Array); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &ex) {
        errorPosition_ = position;
        errorText_ = ex.what();
        return false;
    }

    Node root;
    bool tooDeep = false;
    size_t errorPosition_ = 0;
    std::string errorText_;

private:
    bool takeNegativeZero() {
        size_t index = numberIndex_++;
        while (nextNegativeZero_ < negativeZeros_.size() && negativeZeros_[nextNegativeZero_] < index)
            ++nextNegativeZero_;
        return nextNegativeZero_ < negativeZeros_.size() && negativeZeros_[nextNegativeZero_] == index;
    }
    bool addNegativeZero() {
        Node n;
        n.kind = Node::Float;
        n.real = -0.0;
        n.text = "-0";
        return add(std::move(n));
    }
    // Appends to the innermost open container, or becomes the root.
    Node *place(Node &&n) {
        if (stack_.empty()) {
            root = std::move(n);
            return &root;
        }
        Node *parent = stack_.back();
        if (parent->kind == Node::Object) parent->keys.push_back(std::move(pendingKey_));
        parent->items.push_back(std::move(n));
        return &parent->items.back();
    }
    bool add(Node &&n) {
        place(std::move(n));
        return true;
    }
    bool open(Node::Kind kind) {
        if (static_cast<int>(stack_.size()) >= kMaxJsonDepth) {
            tooDeep = true;
            return false;
        }
        Node n;
        n.kind = kind;
        // Pointers into parent vectors stay valid: a container is only
        // appended to while it is the innermost open one.
        stack_.push_back(place(std::move(n)));
        return true;
    }
    bool close() {
        stack_.pop_back();
        return true;
    }

    std::vector<size_t> negativeZeros_;
    size_t nextNegativeZero_ = 0;
    size_t numberIndex_ = 0;
    std::vector<Node *> stack_;
    std::string pendingKey_;
};

std::string lineAndColumn(std::string_view text, size_t position) {
    position = std::min(position, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < position; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    // The parser reports the position after the offending character.
    if (column > 1) --column;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Drops nlohmann's "[json.exception...] parse error at ...: " preamble.
std::string parserDetail(const std::string &what) {
    std::string detail = what;
    size_t bracket = detail.find("] ");
    if (bracket != std::string::npos) detail = detail.substr(bracket + 2);
    size_t colon = detail.find(": ");
    if (detail.rfind("parse error", 0) == 0 && colon != std::string::npos) detail = detail.substr(colon + 2);
    return detail;
}

Node parseTree(std::string_view text) {
    TreeBuilder builder(findNegativeZeroTokens(text));
    bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
    if (builder.tooDeep)
        raise("Orvane:json:tooDeep", "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " lists and objects");
    if (!ok) {
        bool overflow = builder.errorText_.find("number overflow") != std::string::npos;
        raise(overflow ? "Orvane:json:range" : "Orvane:json:syntax",
              lineAndColumn(text, builder.errorPosition_) + ": " + parserDetail(builder.errorText_));
    }
    return std::move(builder.root);
}

// ---- 2. Reading.

std::string keyPath(const std::string &path, const std::string &key) { return path.empty() ? key : path + "." + key; }

const Node *findKey(const Node &object, std::string_view key) {
    for (size_t i = 0; i < object.keys.size(); ++i)
        if (object.keys[i] == key) return &object.items[i];
    return nullptr;
}

const Node &requireKey(const Node &object, const std::string &path, const char *key) {
    const Node *n = findKey(object, key);
    if (n == nullptr) fail("missingKey", path, std::string("missing key \"") + key + "\"");
    return *n;
}

const Node &requireList(const Node &n, const std::string &path) {
    if (n.kind != Node::Array) fail("type", path, std::string("expected a list, found ") + kindName(n.kind));
    return n;
}

std::string describeNumber(const Node &n) {
    switch (n.kind) {
        case Node::Int: return std::to_string(n.integer);
        case Node::UInt: return std::to_string(n.unsignedInteger);
        case Node::Float: return n.text;
        case Node::String: return "\"" + n.text + "\"";
        default: return kindName(n.kind);
    }
}

// Reads "size": at least one entry, each a non-negative integer; the element
// count is checked against 2^31 - 1 before anything is allocated.
std::vector<int64_t> readSize(const Node &n, const std::string &path, int64_t &numel) {
    const Node &list = requireList(n, path);
    if (list.items.empty()) fail("size", path, "needs at least one extent");
    std::vector<int64_t> dims;
    for (size_t i = 0; i < list.items.size(); ++i) {
        const Node &e = list.items[i];
        std::string at = path + "[" + std::to_string(i) + "]";
        int64_t extent = -1;
        if (e.kind == Node::UInt && e.unsignedInteger <= static_cast<uint64_t>(kMaxElements))
            extent = static_cast<int64_t>(e.unsignedInteger);
        else if (e.kind == Node::Int && e.integer >= 0 && e.integer <= kMaxElements)
            extent = e.integer;
        else if (e.kind == Node::Float && std::trunc(e.real) == e.real && e.real >= 0.0 &&
                 e.real <= static_cast<double>(kMaxElements))
            extent = static_cast<int64_t>(e.real);  // integral and in range: exact
        if (extent < 0)
            fail("size", at, "an extent must be an integer from 0 to 2147483647, found " + describeNumber(e));
        dims.push_back(extent);
    }
    if (dims.size() == 1) dims.push_back(1);
    bool isEmpty = std::find(dims.begin(), dims.end(), 0) != dims.end();
    numel = isEmpty ? 0 : 1;
    for (int64_t d : dims) {
        if (isEmpty) break;
        if (numel > kMaxElements / d) fail("size", path, "more than 2147483647 elements");
        numel *= d;
    }
    return dims;
}

void requireCount(const Node &list, int64_t numel, const std::string &path) {
    if (static_cast<int64_t>(list.items.size()) != numel)
        fail("count", path,
             "expected " + std::to_string(numel) + " entries for the size, found " + std::to_string(list.items.size()));
}

bool isFloatClass(zorbClassID id) { return id == ZORB_DOUBLE_CLASS || id == ZORB_SINGLE_CLASS; }
bool isIntegerClass(zorbClassID id) { return id >= ZORB_INT8_CLASS && id <= ZORB_UINT64_CLASS; }

double readDouble(const Node &n, const std::string &path) {
    switch (n.kind) {
        case Node::Int: return static_cast<double>(n.integer);  // rounds to nearest, as the text would
        case Node::UInt: return static_cast<double>(n.unsignedInteger);
        case Node::Float: return n.real;
        case Node::String:
            if (n.text == "NaN") return std::numeric_limits<double>::quiet_NaN();
            if (n.text == "Inf") return std::numeric_limits<double>::infinity();
            if (n.text == "-Inf") return -std::numeric_limits<double>::infinity();
            fail("type", path, "expected a number, \"NaN\", \"Inf\" or \"-Inf\", found \"" + n.text + "\"");
        default: fail("type", path, std::string("expected a number, found ") + kindName(n.kind));
    }
}

float readSingle(const Node &n, const std::string &path) {
    if (n.kind == Node::Float && n.text != "-0") {
        // Read the token itself: going through the double could round twice.
        float f = 0.0f;
        auto [end, ec] = std::from_chars(n.text.data(), n.text.data() + n.text.size(), f);
        if (ec == std::errc() && end == n.text.data() + n.text.size()) return f;
        if (std::fabs(n.real) < 1.0) return static_cast<float>(n.real);  // underflow: zero or the nearest subnormal
        fail("range", path, n.text + " is out of range for single");
    }
    double d = readDouble(n, path);
    if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) {
        float f = static_cast<float>(d);
        if (std::isinf(f)) fail("range", path, describeNumber(n) + " is out of range for single");
        return f;
    }
    return static_cast<float>(d);
}

template <typename T>
T readInteger(const Node &n, const std::string &path, const std::string &cls) {
    using L = std::numeric_limits<T>;
    bool inRange = false;
    T v{};
    if (n.kind == Node::Int) {
        inRange = n.integer >= static_cast<int64_t>(L::min()) &&
                  (n.integer < 0 || static_cast<uint64_t>(n.integer) <= static_cast<uint64_t>(L::max()));
        v = static_cast<T>(n.integer);
    } else if (n.kind == Node::UInt) {
        inRange = n.unsignedInteger <= static_cast<uint64_t>(L::max());
        v = static_cast<T>(n.unsignedInteger);
    } else if (n.kind == Node::Float) {
        // Bounds as exact doubles: min is -2^k (or 0) and max + 1 is 2^k.
        double lo = static_cast<double>(L::min());
        double hiExclusive = (static_cast<double>(L::max() / 2) + 1.0) * 2.0;
        if (std::trunc(n.real) != n.real) fail("range", path, n.text + " is not an integer, as " + cls + " needs");
        inRange = n.real >= lo && n.real < hiExclusive;
        if (inRange) v = static_cast<T>(n.real);
    } else {
        fail("type", path, std::string("expected an integer, found ") + kindName(n.kind));
    }
    if (!inRange) fail("range", path, describeNumber(n) + " is out of range for " + cls);
    return v;
}

template <typename T>
void readIntegers(const Node &list, T *out, const std::string &path, const std::string &cls) {
    for (size_t i = 0; i < list.items.size(); ++i)
        out[i] = readInteger<T>(list.items[i], path + "[" + std::to_string(i) + "]", cls);
}

void readNumericPart(zorbClassID id, const Node &list, void *out, const std::string &path) {
    const std::string cls = className(id);
    switch (id) {
        case ZORB_DOUBLE_CLASS: {
            double *d = static_cast<double *>(out);
            for (size_t i = 0; i < list.items.size(); ++i)
                d[i] = readDouble(list.items[i], path + "[" + std::to_string(i) + "]");
            break;
        }
        case ZORB_SINGLE_CLASS: {
            float *f = static_cast<float *>(out);
            for (size_t i = 0; i < list.items.size(); ++i)
                f[i] = readSingle(list.items[i], path + "[" + std::to_string(i) + "]");
            break;
        }
        case ZORB_INT8_CLASS: readIntegers(list, static_cast<int8_t *>(out), path, cls); break;
        case ZORB_UINT8_CLASS: readIntegers(list, static_cast<uint8_t *>(out), path, cls); break;
        case ZORB_INT16_CLASS: readIntegers(list, static_cast<int16_t *>(out), path, cls); break;
        case ZORB_UINT16_CLASS: readIntegers(list, static_cast<uint16_t *>(out), path, cls); break;
        case ZORB_INT32_CLASS: readIntegers(list, static_cast<int32_t *>(out), path, cls); break;
        case ZORB_UINT32_CLASS: readIntegers(list, static_cast<uint32_t *>(out), path, cls); break;
        case ZORB_INT64_CLASS: readIntegers(list, static_cast<int64_t *>(out), path, cls); break;
        case ZORB_UINT64_CLASS: readIntegers(list, static_cast<uint64_t *>(out), path, cls); break;
        default: fail("unknownClass", path, "not a numeric class: " + cls);
    }
}

void rejectUnknownKeys(const Node &object, const std::string &path, std::initializer_list<const char *> allowed) {
    for (size_t i = 0; i < object.keys.size(); ++i) {
        const std::string &k = object.keys[i];
        bool known = std::any_of(allowed.begin(), allowed.end(), [&](const char *a) { return k == a; });
        if (!known) fail("unknownKey", keyPath(path, k), "unknown key \"" + k + "\"");
        for (size_t j = 0; j < i; ++j)
            if (object.keys[j] == k) fail("duplicateKey", keyPath(path, k), "key \"" + k + "\" given twice");
    }
}

std::vector<int32_t> narrowDims(const std::vector<int64_t> &dims) {
    std::vector<int32_t> out;
    for (int64_t d : dims) out.push_back(static_cast<int32_t>(d));  // readSize bounds every extent by 2^31 - 1
    return out;
}

Value makeChar(const std::vector<int64_t> &dims, std::string_view bytes) {
    Value v = Value::charRow(bytes);
    std::vector<int32_t> d = narrowDims(dims);
    zorbSetDimensions(v.get(), d.data(), static_cast<int32_t>(d.size()));
    return v;
}

Value readNumeric(zorbClassID id, const Node &object, const std::string &path) {
    rejectUnknownKeys(object, path, {"class", "size", "data", "imag"});
    int64_t numel = 0;
    std::vector<int64_t> dims = readSize(requireKey(object, path, "size"), keyPath(path, "size"), numel);
    const std::string dataPath = keyPath(path, "data");
    const Node &data = requireKey(object, path, "data");
    if (id == ZORB_UINT8_CLASS && data.kind == Node::String) {
        if (findKey(object, "imag") != nullptr)
            fail("type", keyPath(path, "imag"), "a uint8 value given as text cannot be complex");
        if (static_cast<int64_t>(data.text.size()) != numel)
            fail(
                "count", dataPath,
                "expected " + std::to_string(numel) + " bytes for the size, found " + std::to_string(data.text.size()));
        Value v = Value::numeric(id, dims);
        if (numel > 0) std::memcpy(v.data(), data.text.data(), data.text.size());
        return v;
    }
    requireCount(requireList(data, dataPath), numel, dataPath);
    const Node *imag = findKey(object, "imag");
    if (imag != nullptr) requireCount(requireList(*imag, keyPath(path, "imag")), numel, keyPath(path, "imag"));
    Value v = Value::numeric(id, dims, imag != nullptr);
    if (numel == 0) return v;
    readNumericPart(id, data, v.data(), dataPath);
    if (imag != nullptr) readNumericPart(id, *imag, v.imagData(), keyPath(path, "imag"));
    return v;
}

Value readLogical(const Node &object, const std::string &path) {
    rejectUnknownKeys(object, path, {"class", "size", "data"});
    int64_t numel = 0;
    std::vector<int64_t> dims = readSize(requireKey(object, path, "size"), keyPath(path, "size"), numel);
    const std::string dataPath = keyPath(path, "data");
    const Node &data = requireList(requireKey(object, path, "data"), dataPath);
    requireCount(data, numel, dataPath);
    std::vector<uint8_t> bits(data.items.size());
    for (size_t i = 0; i < data.items.size(); ++i) {
        const Node &e = data.items[i];
        std::string at = dataPath + "[" + std::to_string(i) + "]";
        if (e.kind == Node::Bool) {
            bits[i] = e.boolean ? 1 : 0;
        } else if (e.kind == Node::Int || e.kind == Node::UInt || e.kind == Node::Float) {
            double d = e.kind == Node::Float ? e.real
                       : e.kind == Node::Int ? static_cast<double>(e.integer)
                                             : static_cast<double>(e.unsignedInteger);
            if (d != 0.0 && d != 1.0) fail("range", at, "a logical is true, false, 0 or 1, found " + describeNumber(e));
            bits[i] = d == 1.0 ? 1 : 0;
        } else {
            fail("type", at, std::string("expected true, false, 0 or 1, found ") + kindName(e.kind));
        }
    }
    Value v = Value::logicalMatrix(numel, 1);
    std::vector<int32_t> d = narrowDims(dims);
    zorbSetDimensions(v.get(), d.data(), static_cast<int32_t>(d.size()));
    static_assert(sizeof(bool) == 1, "logical data is one byte per element");
    bool *out = static_cast<bool *>(v.data());
    for (size_t i = 0; i < bits.size(); ++i) out[i] = bits[i] != 0;
    return v;
}

Value readChar(const Node &object, const std::string &path) {
    rejectUnknownKeys(object, path, {"class", "size", "data"});
    int64_t numel = 0;
    std::vector<int64_t> dims = readSize(requireKey(object, path, "size"), keyPath(path, "size"), numel);
    const std::string dataPath = keyPath(path, "data");
    const Node &data = requireKey(object, path, "data");
    std::string bytes;
    if (data.kind == Node::String) {
        // One byte per character: text outside ASCII counts its UTF-8 bytes.
        if (static_cast<int64_t>(data.text.size()) != numel)
            fail("count", dataPath,
                 "expected " + std::to_string(numel) + " characters for the size, found " +
                     std::to_string(data.text.size()));
        bytes = data.text;
    } else {
        requireCount(requireList(data, dataPath), numel, dataPath);
        for (size_t i = 0; i < data.items.size(); ++i)
            bytes.push_back(static_cast<char>(readInteger<uint8_t>(
                data.items[i], dataPath + "[" + std::to_string(i) + "]", "a character code (0 to 255)")));
    }
    return makeChar(dims, bytes);
}

Value readValue(const Node &n, const std::string &path, int structLevel);

Value readStruct(const Node &object, const std::string &path, int structLevel) {
    rejectUnknownKeys(object, path, {"class", "size", "fields", "data"});
    if (structLevel >= kMaxStructLevels)
        fail("tooDeep", path, "structs nested deeper than " + std::to_string(kMaxStructLevels) + " levels");
    int64_t numel = 0;
    std::vector<int64_t> dims = readSize(requireKey(object, path, "size"), keyPath(path, "size"), numel);
    const std::string fieldsPath = keyPath(path, "fields");
    const Node &fieldList = requireList(requireKey(object, path, "fields"), fieldsPath);
    std::vector<std::string> fields;
    for (size_t i = 0; i < fieldList.items.size(); ++i) {
        const Node &f = fieldList.items[i];
        std::string at = fieldsPath + "[" + std::to_string(i) + "]";
        if (f.kind != Node::String)
            fail("type", at, std::string("a field name is a string, found ") + kindName(f.kind));
        if (f.text.empty()) fail("field", at, "a field name cannot be empty");
        if (std::find(fields.begin(), fields.end(), f.text) != fields.end())
            fail("field", at, "field \"" + f.text + "\" named twice");
        fields.push_back(f.text);
    }
    const std::string dataPath = keyPath(path, "data");
    const Node &data = requireList(requireKey(object, path, "data"), dataPath);
    requireCount(data, numel, dataPath);
    for (size_t e = 0; e < data.items.size(); ++e) {
        std::string at = dataPath + "[" + std::to_string(e) + "]";
        requireList(data.items[e], at);
        if (data.items[e].items.size() != fields.size())
            fail("count", at,
                 "expected " + std::to_string(fields.size()) + " values, one per field, found " +
                     std::to_string(data.items[e].items.size()));
    }
    Value v = Value::structMatrix(dims, fields);
    for (size_t e = 0; e < data.items.size(); ++e)
        for (size_t f = 0; f < fields.size(); ++f)
            v.setField(static_cast<int64_t>(e), fields[f],
                       readValue(data.items[e].items[f],
                                 dataPath + "[" + std::to_string(e) + "][" + std::to_string(f) + "]", structLevel + 1));
    return v;
}

Value readValue(const Node &n, const std::string &path, int structLevel) {
    if (n.kind != Node::Object) fail("type", path, std::string("a host value is an object, found ") + kindName(n.kind));
    const Node &cls = requireKey(n, path, "class");
    if (cls.kind != Node::String)
        fail("type", keyPath(path, "class"), std::string("expected a class name, found ") + kindName(cls.kind));
    if (cls.text == "struct") return readStruct(n, path, structLevel);
    if (cls.text == "char") return readChar(n, path);
    if (cls.text == "logical") return readLogical(n, path);
    zorbClassID id = classFromName(cls.text);
    if (!isFloatClass(id) && !isIntegerClass(id))
        fail("unknownClass", keyPath(path, "class"), "unknown class \"" + cls.text + "\"");
    return readNumeric(id, n, path);
}

// ---- 3. Writing.

void appendQuoted(std::string &out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

template <typename T>
void appendIntegers(std::string &out, const void *data, int64_t numel) {
    const T *p = static_cast<const T *>(data);
    for (int64_t i = 0; i < numel; ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(p[i]);
    }
}

std::string formatSingle(float f) {
    if (std::isnan(f)) return "\"NaN\"";
    if (std::isinf(f)) return f > 0 ? "\"Inf\"" : "\"-Inf\"";
    if (f == 0.0f && std::signbit(f)) return "-0.0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, r.ptr);
}

void appendNumericPart(std::string &out, zorbClassID id, const void *data, int64_t numel) {
    out += '[';
    switch (id) {
        case ZORB_DOUBLE_CLASS:
            for (int64_t i = 0; i < numel; ++i) {
                if (i > 0) out += ", ";
                out += formatDouble(static_cast<const double *>(data)[i], true);
            }
            break;
        case ZORB_SINGLE_CLASS:
            for (int64_t i = 0; i < numel; ++i) {
                if (i > 0) out += ", ";
                out += formatSingle(static_cast<const float *>(data)[i]);
            }
            break;
        case ZORB_INT8_CLASS: appendIntegers<int8_t>(out, data, numel); break;
        case ZORB_UINT8_CLASS: appendIntegers<uint8_t>(out, data, numel); break;
        case ZORB_INT16_CLASS: appendIntegers<int16_t>(out, data, numel); break;
        case ZORB_UINT16_CLASS: appendIntegers<uint16_t>(out, data, numel); break;
        case ZORB_INT32_CLASS: appendIntegers<int32_t>(out, data, numel); break;
        case ZORB_UINT32_CLASS: appendIntegers<uint32_t>(out, data, numel); break;
        case ZORB_INT64_CLASS: appendIntegers<int64_t>(out, data, numel); break;
        case ZORB_UINT64_CLASS: appendIntegers<uint64_t>(out, data, numel); break;
        case ZORB_LOGICAL_CLASS:
            for (int64_t i = 0; i < numel; ++i) {
                if (i > 0) out += ", ";
                out += static_cast<const bool *>(data)[i] ? "true" : "false";
            }
            break;
        default: break;
    }
    out += ']';
}

void appendHeader(std::string &out, const Value &v) {
    out += "{\"class\": ";
    appendQuoted(out, v.className());
    out += ", \"size\": [";
    const std::vector<int64_t> &dims = v.dims();
    for (size_t i = 0; i < dims.size(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(dims[i]);
    }
    out += ']';
}

void appendValue(std::string &out, const Value &v, int structLevel);

void appendStruct(std::string &out, const Value &v, int structLevel) {
    if (structLevel >= kMaxStructLevels)
        raise("Orvane:json:tooDeep",
              "structs nested deeper than " + std::to_string(kMaxStructLevels) + " levels cannot be written");
    const std::vector<std::string> &fields = v.fieldNames();
    out += ", \"fields\": [";
    for (size_t f = 0; f < fields.size(); ++f) {
        if (f > 0) out += ", ";
        appendQuoted(out, fields[f]);
    }
    out += "], \"data\": [";
    for (int64_t e = 0; e < v.numel(); ++e) {
        out += e > 0 ? ", [" : "[";
        for (size_t f = 0; f < fields.size(); ++f) {
            if (f > 0) out += ", ";
            Value fieldValue = v.field(e, fields[f]);
            if (fieldValue)
                appendValue(out, fieldValue, structLevel + 1);
            else  // an unset field holds the empty double matrix
                out += "{\"class\": \"double\", \"size\": [0, 0], \"data\": []}";
        }
        out += ']';
    }
    out += "]}";
}

void appendValue(std::string &out, const Value &v, int structLevel) {
    if (!v) raise("Orvane:json:noValue", "cannot write an empty reference as a host value");
    zorbClassID id = v.classId();
    if (id == ZORB_STRUCT_CLASS) {
        appendHeader(out, v);
        appendStruct(out, v, structLevel);
        return;
    }
    if (id == ZORB_CHAR_CLASS) {
        appendHeader(out, v);
        std::string text = v.toText();
        out += ", \"data\": ";
        // Text outside ASCII would read back as its UTF-8 bytes: write codes.
        bool isAscii =
            std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (isAscii) {
            appendQuoted(out, text);
        } else {
            out += '[';
            for (size_t i = 0; i < text.size(); ++i) {
                if (i > 0) out += ", ";
                out += std::to_string(static_cast<unsigned char>(text[i]));
            }
            out += ']';
        }
        out += '}';
        return;
    }
    if (!isFloatClass(id) && !isIntegerClass(id) && id != ZORB_LOGICAL_CLASS)
        raise("Orvane:json:unsupportedClass", "cannot write a value of class " + v.className());
    appendHeader(out, v);
    out += ", \"data\": ";
    appendNumericPart(out, id, v.data(), v.numel());
    if (v.isComplex()) {
        out += ", \"imag\": ";
        appendNumericPart(out, id, v.imagData(), v.numel());
    }
    out += '}';
}

}  // namespace

Value fromJson(std::string_view text) {
    Node root = parseTree(text);
    return readValue(root, "", 0);
}

std::string toJson(const Value &value) {
    std::string out;
    appendValue(out, value, 0);
    return out;
}

std::string formatDouble(double v, bool quoteSpecials) {
    if (std::isnan(v)) return quoteSpecials ? "\"NaN\"" : "NaN";
    if (std::isinf(v)) return v > 0 ? (quoteSpecials ? "\"Inf\"" : "Inf") : (quoteSpecials ? "\"-Inf\"" : "-Inf");
    if (v == 0.0 && std::signbit(v)) return "-0.0";  // "-0" reads back as the integer 0 in many readers
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace orvane
