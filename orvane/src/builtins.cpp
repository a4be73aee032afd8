// Host functions that every Orvane process knows by name.
//
//   1. Shared argument checks and element access.
//   2. "feval", "length", "transpose".
//   3. "sprintf": C conversions with the host's NaN/Inf words and recycling.
//   4. "throwWarning", "throwError": messages composed from the identifier.
//   5. "sum", "prod", "mean", "min", "max".
//
// Integer and logical inputs of the reductions are converted to double and
// give double results (int64 values beyond 2^53 round); single stays single.
// Char, struct and complex inputs of the reductions raise.
//
// sprintf: %d, %i (and %s) of a non-integral number print as %e would; a
// char argument is one value whose text any conversion prints; a complex
// argument prints its real part.
#include "builtins.h"

#include <orvane/host.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace orvane {
namespace {

// ---- 1. Shared argument checks and element access.

std::string shapeText(const Value &v) {
    std::string s;
    for (size_t i = 0; i < v.dims().size(); ++i) {
        if (i > 0) s += 'x';
        s += std::to_string(v.dims()[i]);
    }
    return s + " " + v.className();
}

[[noreturn]] void raiseIn(const std::string &function, const std::string &what, const std::string &message) {
    raise("Orvane:" + function + ":" + what, function + ": " + message);
}

void requireArgumentCount(const std::string &function, const std::vector<Value> &arguments, size_t least, size_t most) {
    if (arguments.size() < least || arguments.size() > most) {
        std::string expected =
            least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most);
        raiseIn(function, "argumentCount",
                "expected " + expected + " arguments, got " + std::to_string(arguments.size()));
    }
    for (size_t i = 0; i < arguments.size(); ++i)
        if (!arguments[i]) raiseIn(function, "noValue", "argument " + std::to_string(i + 1) + " holds no value");
}

void requireAtMostOneResult(const std::string &function, int numResults) {
    if (numResults > 1)
        raiseIn(function, "tooManyOutputs", "gives one result, " + std::to_string(numResults) + " were asked for");
}

bool isTwoDimensional(const Value &v) { return v.dims().size() == 2; }

bool isCharRow(const Value &v) {
    return v.classId() == ZORB_CHAR_CLASS && isTwoDimensional(v) && (v.dims()[0] == 1 || v.numel() == 0);
}

std::string requireCharRow(const std::string &function, const Value &v, int position) {
    if (!isCharRow(v))
        raiseIn(function, "notText",
                "argument " + std::to_string(position) + " must be a character row, got " + shapeText(v));
    return v.toText();
}

bool isNumericOrLogical(zorbClassID id) {
    return id == ZORB_LOGICAL_CLASS || (id >= ZORB_DOUBLE_CLASS && id <= ZORB_UINT64_CLASS);
}

size_t elementSize(zorbClassID id) {
    switch (id) {
        case ZORB_LOGICAL_CLASS:
        case ZORB_INT8_CLASS:
        case ZORB_UINT8_CLASS: return 1;
        case ZORB_INT16_CLASS:
        case ZORB_UINT16_CLASS: return 2;
        case ZORB_SINGLE_CLASS:
        case ZORB_INT32_CLASS:
        case ZORB_UINT32_CLASS: return 4;
        case ZORB_DOUBLE_CLASS:
        case ZORB_INT64_CLASS:
        case ZORB_UINT64_CLASS: return 8;
        default: return 0;
    }
}

// ---- 2. "feval", "length", "transpose".

void feval(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
    if (arguments.empty())
        raiseIn("feval", "argumentCount", "expected a function name as the first argument, got no arguments");
    if (!arguments[0] || !isCharRow(arguments[0]))
        raiseIn("feval", "notText",
                "argument 1 must name a function as a character row, got " +
                    (arguments[0] ? shapeText(arguments[0]) : std::string("no value")));
    std::vector<Value> rest(arguments.begin() + 1, arguments.end());
    results = callFunction(arguments[0].toText(), numResults, rest);
}

void length(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
    requireAtMostOneResult("length", numResults);
    requireArgumentCount("length", arguments, 1, 1);
    int64_t n = 0;
    if (arguments[0].numel() > 0) n = *std::max_element(arguments[0].dims().begin(), arguments[0].dims().end());
    results = {Value::doubleScalar(static_cast<double>(n))};  // below 2^31: exact
}

void transpose(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
    requireAtMostOneResult("transpose", numResults);
    requireArgumentCount("transpose", arguments, 1, 1);
    const Value &a = arguments[0];
    if (!isTwoDimensional(a))
        raiseIn("transpose", "notMatrix", "argument 1 must be two-dimensional, got " + shapeText(a));
    const int64_t rows = a.dims()[0], cols = a.dims()[1];
    zorbClassID id = a.classId();
    if (id == ZORB_CHAR_CLASS) {
        std::string text = a.toText(), out(text.size(), '\0');
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t c = 0; c < cols; ++c)
                out[static_cast<size_t>(c + r * cols)] = text[static_cast<size_t>(r + c * rows)];
        Value t = Value::charRow(out);
        int32_t dims[2] = {static_cast<int32_t>(cols), static_cast<int32_t>(rows)};
        zorbSetDimensions(t.get(), dims, 2);
        results = {t};
        return;
    }
    if (!isNumericOrLogical(id))
        raiseIn("transpose", "badClass", "cannot transpose argument 1 of class " + a.className());
    Value t =
        id == ZORB_LOGICAL_CLASS ? Value::logicalMatrix(cols, rows) : Value::numeric(id, {cols, rows}, a.isComplex());
    const size_t size = elementSize(id);
    auto copyPart = [&](const void *from, void *to) {
        const auto *src = static_cast<const unsigned char *>(from);
        auto *dst = static_cast<unsigned char *>(to);
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t c = 0; c < cols; ++c)
                std::memcpy(dst + static_cast<size_t>(c + r * cols) * size,
                            src + static_cast<size_t>(r + c * rows) * size, size);
    };
    if (a.numel() > 0) {
        copyPart(a.data(), t.data());
        if (a.isComplex()) copyPart(a.imagData(), t.imagData());
    }
    results = {t};
}

// ---- 3. "sprintf".

// One value a conversion consumes: a number element, or a whole text argument.
struct FormatItem {
    enum Kind { Real, Signed, Unsigned, Text } kind = Real;
    double real = 0.0;
    int64_t signedValue = 0;
    uint64_t unsignedValue = 0;
    std::string text;
};

std::vector<FormatItem> collectItems(const std::vector<Value> &arguments, size_t first) {
    std::vector<FormatItem> items;
    for (size_t a = first; a < arguments.size(); ++a) {
        const Value &v = arguments[a];
        zorbClassID id = v.classId();
        if (id == ZORB_CHAR_CLASS) {
            FormatItem item;
            item.kind = FormatItem::Text;
            item.text = v.toText();
            items.push_back(item);
            continue;
        }
        if (!isNumericOrLogical(id))
            raiseIn("sprintf", "badArgument",
                    "argument " + std::to_string(a + 1) + " of class " + v.className() + " cannot be formatted");
        const int64_t n = v.numel();
        std::vector<double> values;
        if (id != ZORB_INT64_CLASS && id != ZORB_UINT64_CLASS) values = v.toDoubles();
        for (int64_t i = 0; i < n; ++i) {
            FormatItem item;
            if (id == ZORB_INT64_CLASS) {
                item.kind = FormatItem::Signed;
                item.signedValue = static_cast<const int64_t *>(v.data())[i];
            } else if (id == ZORB_UINT64_CLASS) {
                item.kind = FormatItem::Unsigned;
                item.unsignedValue = static_cast<const uint64_t *>(v.data())[i];
            } else {
                item.real = values[static_cast<size_t>(i)];
            }
            items.push_back(item);
        }
    }
    return items;
}

struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    char type = 0;
};

std::string cFormat(const Conversion &c, const char *lengthModifier, char type, bool withPrecision) {
    std::string f = "%";
    for (char flag : c.flags)
        if (!(flag == '#' && (type == 'd' || type == 'u')))  // '#' is undefined for integers in C
            f += flag;
    if (c.width >= 0) f += std::to_string(c.width);
    if (withPrecision && c.precision >= 0) {
        f += '.';
        f += std::to_string(c.precision);
    }
    return f + lengthModifier + type;
}

template <typename T>
std::string cPrint(const std::string &format, T value) {
    int n = std::snprintf(nullptr, 0, format.c_str(), value);
    if (n < 0) raiseIn("sprintf", "badFormat", "cannot apply \"" + format + "\"");
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string pad(const Conversion &c, std::string text) {
    if (c.width > static_cast<int>(text.size())) {
        std::string fill(static_cast<size_t>(c.width) - text.size(), ' ');
        text = c.flags.find('-') != std::string::npos ? text + fill : fill + text;
    }
    return text;
}

// The host writes NaN, Inf and -Inf in words, padded like any other text.
std::string formatSpecial(const Conversion &c, double v) {
    std::string word = std::isnan(v) ? "NaN" : v > 0 ? "Inf" : "-Inf";
    if (!std::isnan(v) && v > 0) {
        if (c.flags.find('+') != std::string::npos)
            word = "+" + word;
        else if (c.flags.find(' ') != std::string::npos)
            word = " " + word;
    }
    return pad(c, word);
}

std::string formatReal(const Conversion &c, double v) {
    if (!std::isfinite(v)) return formatSpecial(c, v);
    char type = c.type;
    if (type == 'd' || type == 'i' || type == 's') {
        // An integral value prints as an integer; anything else as %e would.
        if (std::trunc(v) != v) return cPrint(cFormat(c, "", 'e', c.type != 's'), v);
        if (std::fabs(v) < 9.2233720368547758e18)
            return cPrint(cFormat(c, "ll", 'd', c.type != 's'), static_cast<long long>(v));
        return cPrint(cFormat(Conversion{c.flags, c.width, 0, 'f'}, "", 'f', true), v);
    }
    return cPrint(cFormat(c, "", type, true), v);
}

std::string formatItem(const Conversion &c, const FormatItem &item) {
    bool isInteger = c.type == 'd' || c.type == 'i' || c.type == 's';
    switch (item.kind) {
        case FormatItem::Text: {
            std::string text = item.text;
            if (c.type == 's' && c.precision >= 0 && static_cast<size_t>(c.precision) < text.size())
                text.resize(static_cast<size_t>(c.precision));
            return pad(c, text);
        }
        case FormatItem::Signed:
            if (isInteger)
                return cPrint(cFormat(c, "ll", 'd', c.type != 's'), static_cast<long long>(item.signedValue));
            return formatReal(c, static_cast<double>(item.signedValue));
        case FormatItem::Unsigned:
            if (isInteger)
                return cPrint(cFormat(c, "ll", 'u', c.type != 's'),
                              static_cast<unsigned long long>(item.unsignedValue));
            return formatReal(c, static_cast<double>(item.unsignedValue));
        case FormatItem::Real: return formatReal(c, item.real);
    }
    return {};
}

// Reads one conversion after its '%'; returns the index after it.
size_t parseConversion(const std::string &format, size_t i, Conversion &c) {
    while (i < format.size() && std::strchr("-+ 0#", format[i]) != nullptr && format[i] != '\0') c.flags += format[i++];
    auto readNumber = [&](int &out) {
        size_t start = i;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        if (i == start) return;
        if (i - start > 6) raiseIn("sprintf", "badFormat", "a width or precision in \"" + format + "\" is too large");
        out = std::stoi(format.substr(start, i - start));
    };
    readNumber(c.width);
    if (i < format.size() && format[i] == '.') {
        ++i;
        c.precision = 0;
        readNumber(c.precision);
    }
    if (i >= format.size() || std::strchr("gdifes", format[i]) == nullptr || format[i] == '\0')
        raiseIn("sprintf", "badFormat",
                "unsupported conversion in \"" + format + "\" (supported: %g %d %i %f %e %s %%)");
    c.type = format[i];
    return i + 1;
}

void sprintfFunction(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
    requireAtMostOneResult("sprintf", numResults);
    requireArgumentCount("sprintf", arguments, 1, std::numeric_limits<size_t>::max());
    const std::string format = requireCharRow("sprintf", arguments[0], 1);
    const std::vector<FormatItem> items = collectItems(arguments, 1);
    std::string out;
    size_t next = 0;
    // With no values at all the format is written once, its conversions empty.
    // Otherwise it is applied again while values remain, and writing stops at
    // the first conversion that finds none.
    for (;;) {
        size_t consumedBefore = next;
        bool stopped = false;
        for (size_t i = 0; i < format.size() && !stopped;) {
            char ch = format[i];
            if (ch == '\\' && i + 1 < format.size() && std::strchr("nt\\", format[i + 1]) != nullptr) {
                out += format[i + 1] == 'n' ? '\n' : format[i + 1] == 't' ? '\t' : '\\';
                i += 2;
            } else if (ch == '%' && i + 1 < format.size() && format[i + 1] == '%') {
                out += '%';
                i += 2;
            } else if (ch == '%') {
                Conversion c;
                size_t after = parseConversion(format, i + 1, c);
                if (next < items.size())
                    out += formatItem(c, items[next++]);
                else if (!items.empty())
                    stopped = true;
                i = after;
            } else {
                out += ch;
                ++i;
            }
        }
        if (stopped || next >= items.size() || next == consumedBefore) break;
    }
    results = {Value::charRow(out)};
}

// ---- 4. "throwWarning", "throwError".

// The text of one argument as a message quotes it.
std::string argumentText(const Value &v) {
    if (!v) return "(no value)";
    zorbClassID id = v.classId();
    if (id == ZORB_CHAR_CLASS) return v.toText();
    if (!isNumericOrLogical(id) || v.numel() > 16) {
        std::string shape = "[";
        shape += shapeText(v);
        return shape + "]";
    }
    std::vector<double> values = v.toDoubles();
    std::string s;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) s += " ";
        s += formatDouble(values[i], false);
    }
    return values.size() == 1 ? s : "[" + s + "]";
}

std::string modelPrefix(const Value &diagnostics) {
    if (!diagnostics || diagnostics.classId() != ZORB_STRUCT_CLASS || diagnostics.numel() != 1) return "";
    Value model = diagnostics.field(0, "Model");
    if (!model || (model.classId() != ZORB_CHAR_CLASS && model.classId() != ZORB_UINT8_CLASS) || model.numel() == 0)
        return "";
    return "In model '" + model.toText() + "': ";
}

std::string composeMessage(const std::string &identifier, const std::vector<Value> &arguments) {
    std::vector<std::string> a;
    for (size_t i = 2; i < arguments.size(); ++i) a.push_back(argumentText(arguments[i]));
    const std::string prefix = modelPrefix(arguments[0]);
    if (identifier == "diagFazolt_OutOfRangeInput" && a.size() == 3)
        return prefix + "Input " + a[0] + " has the value " + a[2] + ", which lies outside its range " + a[1] + ".";
    if (identifier == "warnFazolt_NoRuleFired" && a.size() == 2)
        return prefix + "No rule fired for output " + a[0] + ", so it takes the value " + a[1] + ".";
    if (identifier == "errFazolt_NoRuleFired" && a.size() == 1)
        return prefix + "No rule fired for output " + a[0] + ", so it has no value.";
    if (identifier == "warnFazolt_ZeroMembershipValue" && a.size() == 3)
        return prefix + "The fuzzy set of output " + a[1] + " is empty, so " + a[0] +
               " defuzzification gives it the value " + a[2] + ".";
    if (identifier == "errFazolt_ZeroMembershipValue" && a.size() == 2)
        return prefix + "The fuzzy set of output " + a[1] + " is empty, so " + a[0] +
               " defuzzification cannot give it a value.";
    std::string message = prefix + "Diagnostic " + identifier;
    if (a.empty()) return message + " was raised without arguments.";
    message += " was raised with the arguments: ";
    for (size_t i = 0; i < a.size(); ++i) message += (i > 0 ? ", " : "") + a[i];
    return message + ".";
}

std::string diagnosticIdentifier(const std::string &function, const std::vector<Value> &arguments) {
    if (arguments.size() < 2)
        raiseIn(function, "argumentCount",
                "expected the diagnostics struct and an identifier, got " + std::to_string(arguments.size()) +
                    " arguments");
    for (size_t i = 0; i < arguments.size(); ++i)
        if (!arguments[i]) raiseIn(function, "noValue", "argument " + std::to_string(i + 1) + " holds no value");
    std::string identifier = requireCharRow(function, arguments[1], 2);
    if (identifier.empty()) raiseIn(function, "notText", "argument 2, the identifier, is empty");
    return identifier;
}

void throwWarning(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
    if (numResults > 0)
        raiseIn("throwWarning", "tooManyOutputs", "gives no result, " + std::to_string(numResults) + " were asked for");
    std::string identifier = diagnosticIdentifier("throwWarning", arguments);
    Warning w;
    w.identifier = identifier;
    w.message = composeMessage(identifier, arguments);
    w.arguments.assign(arguments.begin() + 2, arguments.end());
    addWarning(std::move(w));
    results.clear();
}

void throwError(int, std::vector<Value> &, const std::vector<Value> &arguments) {
    std::string identifier = diagnosticIdentifier("throwError", arguments);
    raise(identifier, composeMessage(identifier, arguments));
}

// ---- 5. Reductions.

// A numeric or logical argument as doubles, with its class after reduction.
struct Operand {
    std::vector<double> values;
    std::vector<int64_t> dims;
    bool isSingle = false;
};

Operand readOperand(const std::string &function, const Value &v, int position) {
    zorbClassID id = v.classId();
    if (!isNumericOrLogical(id))
        raiseIn(function, "badClass",
                "argument " + std::to_string(position) + " must be numeric or logical, got " + v.className());
    if (v.isComplex()) raiseIn(function, "complex", "argument " + std::to_string(position) + " must be real");
    return Operand{v.toDoubles(), v.dims(), id == ZORB_SINGLE_CLASS};
}

Value makeResult(const std::vector<int64_t> &dims, const std::vector<double> &values, bool isSingle) {
    Value r = Value::numeric(isSingle ? ZORB_SINGLE_CLASS : ZORB_DOUBLE_CLASS, dims);
    for (size_t i = 0; i < values.size(); ++i) {
        if (isSingle)
            static_cast<float *>(r.data())[i] = static_cast<float>(values[i]);  // already a single value
        else
            r.pr()[i] = values[i];
    }
    return r;
}

enum class Reduction { Sum, Prod, Mean, Min, Max };

// x better than best: the strict comparison keeps the first of ties, and a
// NaN best is replaced by any number so NaN counts only when all are NaN.
bool replaces(Reduction op, double x, double best) {
    if (std::isnan(x)) return false;
    if (std::isnan(best)) return true;
    return op == Reduction::Min ? x < best : x > best;
}

// Sequential in index order from the first element, so -0.0 survives a sum
// of one element and [1e16, 1, -1e16] sums to 0. Single values are added in
// single arithmetic.
double reduceRun(Reduction op, const std::vector<double> &v, size_t start, size_t stride, int64_t count,
                 bool isSingle) {
    if (count == 0) return op == Reduction::Prod ? 1.0 : op == Reduction::Mean ? std::nan("") : 0.0;
    auto at = [&](int64_t j) { return v[start + static_cast<size_t>(j) * stride]; };
    if (op == Reduction::Min || op == Reduction::Max) {
        double best = at(0);
        for (int64_t j = 1; j < count; ++j)
            if (replaces(op, at(j), best)) best = at(j);
        return best;
    }
    if (isSingle) {
        float acc = static_cast<float>(at(0));  // exact: the values came from singles
        for (int64_t j = 1; j < count; ++j)
            acc = op == Reduction::Prod ? acc * static_cast<float>(at(j)) : acc + static_cast<float>(at(j));
        if (op == Reduction::Mean) acc = acc / static_cast<float>(count);
        return static_cast<double>(acc);
    }
    double acc = at(0);
    for (int64_t j = 1; j < count; ++j) acc = op == Reduction::Prod ? acc * at(j) : acc + at(j);
    if (op == Reduction::Mean) acc = acc / static_cast<double>(count);
    return acc;
}

Value reduceOne(const std::string &function, Reduction op, const Value &argument) {
    Operand a = readOperand(function, argument, 1);
    const bool isEmpty = a.values.empty();
    if (isEmpty && (op == Reduction::Min || op == Reduction::Max)) return makeResult({0, 0}, {}, a.isSingle);
    std::vector<int64_t> dims = a.dims;
    // The empty 0 x 0 matrix reduces to a scalar, as the host language does.
    if (dims.size() == 2 && dims[0] == 0 && dims[1] == 0) dims = {1, 0};
    size_t k = 0;
    while (k < dims.size() && dims[k] == 1) ++k;
    if (k == dims.size()) k = 0;
    size_t stride = 1, outer = 1;
    for (size_t i = 0; i < k; ++i) stride *= static_cast<size_t>(dims[i]);
    for (size_t i = k + 1; i < dims.size(); ++i) outer *= static_cast<size_t>(dims[i]);
    const int64_t count = dims[k];
    std::vector<int64_t> outDims = dims;
    outDims[k] = 1;
    std::vector<double> out;
    for (size_t o = 0; o < outer; ++o)
        for (size_t i = 0; i < stride; ++i)
            out.push_back(
                reduceRun(op, a.values, o * stride * static_cast<size_t>(count) + i, stride, count, a.isSingle));
    return makeResult(outDims, out, a.isSingle);
}

Value extremeOfTwo(const std::string &function, Reduction op, const Value &left, const Value &right) {
    Operand a = readOperand(function, left, 1), b = readOperand(function, right, 2);
    bool isSingle = a.isSingle || b.isSingle;
    if (isSingle) {  // the double operand is compared as single
        for (double &x : a.values) x = static_cast<double>(static_cast<float>(x));
        for (double &x : b.values) x = static_cast<double>(static_cast<float>(x));
    }
    std::vector<int64_t> dims;
    if (a.values.size() == 1 && !(b.values.size() == 1))
        dims = b.dims;
    else if (b.values.size() == 1 || a.dims == b.dims)
        dims = a.dims;
    else
        raiseIn(function, "sizeMismatch",
                "arguments 1 and 2 must have the same size or one must be a scalar, got " + shapeText(left) + " and " +
                    shapeText(right));
    size_t n = std::max(a.values.size(), b.values.size());
    if (a.values.empty() || b.values.empty()) n = 0;
    std::vector<double> out(n);
    for (size_t i = 0; i < n; ++i) {
        double x = a.values[a.values.size() == 1 ? 0 : i];
        double y = b.values[b.values.size() == 1 ? 0 : i];
        out[i] = replaces(op, y, x) ? y : x;
    }
    return makeResult(dims, out, isSingle);
}

HostFunction reduction(const std::string &function, Reduction op) {
    return [function, op](int numResults, std::vector<Value> &results, const std::vector<Value> &arguments) {
        requireAtMostOneResult(function, numResults);
        bool takesTwo = op == Reduction::Min || op == Reduction::Max;
        requireArgumentCount(function, arguments, 1, takesTwo ? 2 : 1);
        if (arguments.size() == 2)
            results = {extremeOfTwo(function, op, arguments[0], arguments[1])};
        else
            results = {reduceOne(function, op, arguments[0])};
    };
}

}  // namespace

namespace {

std::vector<std::pair<std::string, HostFunction>> builtinFunctions() {
    return {{"feval", feval},
            {"sprintf", sprintfFunction},
            {"length", length},
            {"transpose", transpose},
            {"throwWarning", throwWarning},
            {"throwError", throwError},
            {"sum", reduction("sum", Reduction::Sum)},
            {"prod", reduction("prod", Reduction::Prod)},
            {"mean", reduction("mean", Reduction::Mean)},
            {"min", reduction("min", Reduction::Min)},
            {"max", reduction("max", Reduction::Max)}};
}

}  // namespace

void registerBuiltinFunctions() {
    for (auto &[name, function] : builtinFunctions()) registerFunction(name, std::move(function));
}

std::vector<std::string> builtinFunctionNames() {
    std::vector<std::string> names;
    for (const auto &entry : builtinFunctions()) names.push_back(entry.first);
    return names;
}

}  // namespace orvane
