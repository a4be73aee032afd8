/// @file
/// The Orvane stand-in host as a C++ program uses it: host values, the
/// allocator's accounts, host functions by name, the host-value JSON format,
/// and loading and calling a module.
#ifndef ORVANE_HOST_H
#define ORVANE_HOST_H

#include <orvane/zorb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

/// The host's error. Raised by the run-time and by host functions; caught only
/// at the host's call boundaries (Module::call, the embedding API). what() is
/// "identifier: message".
class ORVANE_API HostError : public std::runtime_error {
public:
    /// An error with its identifier ("Component:mnemonic", e.g.
    /// "fazolt:lua:Error") and its message.
    HostError(std::string identifier, std::string message);
    /// The identifier, e.g. "Orvane:json:Syntax".
    const std::string &identifier() const { return identifier_; }
    /// The message, without the identifier.
    const std::string &message() const { return message_; }

private:
    std::string identifier_;
    std::string message_;
};

/// Raises a HostError after running the release operations registered on the
/// heap-reference stack of the call in progress (if any).
[[noreturn]] ORVANE_API void raise(const std::string &identifier, const std::string &message);

/// A counted reference to a host value: a numeric, logical or char array, or
/// a struct array, with its extents (column-major data). Copying aliases;
/// destruction drops the reference. An empty Value holds no host value.
class ORVANE_API Value {
public:
    /// An empty Value.
    Value() = default;
    /// Takes over one reference to `adopted`.
    explicit Value(zorbArray *adopted) : array_(adopted) {}
    /// Another reference to the same host value.
    Value(const Value &other);
    /// Takes the reference of `other`, which is left empty.
    Value(Value &&other) noexcept : array_(other.array_) { other.array_ = nullptr; }
    /// Refers to the value of `other` instead, dropping its own reference.
    Value &operator=(Value other) noexcept {
        std::swap(array_, other.array_);
        return *this;
    }
    ~Value();

    /// The host value, still owned by this Value; null when empty.
    zorbArray *get() const { return array_; }
    /// Hands the reference to the caller and leaves this Value empty.
    zorbArray *release() {
        zorbArray *a = array_;
        array_ = nullptr;
        return a;
    }
    /// Whether this Value holds a host value.
    explicit operator bool() const { return array_ != nullptr; }

    /// @name Makers
    /// Extents have at least two entries; a single extent n means n x 1.
    /// Numbers are column-major. Memory comes from the accounted allocator.
    ///@{
    /// Zeros of a numeric class.
    static Value numeric(zorbClassID classId, const std::vector<int64_t> &dims, bool isComplex = false);
    /// A rows x cols double matrix of `columnMajor`.
    static Value doubleMatrix(int64_t rows, int64_t cols, const std::vector<double> &columnMajor);
    /// A 1 x 1 double.
    static Value doubleScalar(double v);
    /// A 1 x 1 int32.
    static Value int32Scalar(int32_t v);
    /// A 1 x 1 uint8.
    static Value uint8Scalar(uint8_t v);
    /// A 1 x n int32 row.
    static Value int32Row(const std::vector<int32_t> &values);
    /// Text as class char, 1 x n.
    static Value charRow(std::string_view text);
    /// Bytes as class uint8, 1 x n.
    static Value uint8Row(std::string_view bytes);
    /// A rows x cols logical matrix of false.
    static Value logicalMatrix(int64_t rows, int64_t cols);
    /// A struct array of these extents and fields, every field empty.
    static Value structMatrix(const std::vector<int64_t> &dims, const std::vector<std::string> &fieldNames);
    ///@}

    /// @name Readers
    ///@{
    /// The class, e.g. ZORB_DOUBLE_CLASS.
    zorbClassID classId() const;
    /// The class's name: "double", "uint8", "struct", ...
    std::string className() const;
    /// Whether the value has an imaginary part.
    bool isComplex() const;
    /// The extents, at least two.
    const std::vector<int64_t> &dims() const;
    /// The number of elements: the product of the extents.
    int64_t numel() const;
    /// The real part's data, column-major.
    void *data() const;
    /// The imaginary part's data; null for a real value.
    void *imagData() const;
    /// data() of a double value.
    double *pr() const { return static_cast<double *>(data()); }
    /// The real part converted to double, column-major.
    std::vector<double> toDoubles() const;
    /// The data of a char or uint8 value as bytes.
    std::string toText() const;
    ///@}

    /// @name Structs
    ///@{
    /// The field names, in order.
    const std::vector<std::string> &fieldNames() const;
    /// Field `name` of element `element` (from 0, column-major); empty if absent.
    Value field(int64_t element, std::string_view name) const;
    /// Sets field `name` of element `element`, adding the field if needed.
    void setField(int64_t element, std::string_view name, Value v);
    ///@}

    /// Blocks from the accounted allocator that this value owns (data, imag
    /// and those of nested values): what a leak check subtracts.
    int64_t ownedBlocks() const;

private:
    zorbArray *array_ = nullptr;
};

/// The class's name as the host writes it ("double", "struct", ...).
ORVANE_API std::string className(zorbClassID id);
/// The class of a name as the host writes it; ZORB_UNKNOWN_CLASS for an unknown name.
ORVANE_API zorbClassID classFromName(std::string_view name);

/// The accounted allocator's counts.
struct AllocStats {
    int64_t liveBlocks = 0;        ///< blocks allocated and not freed
    int64_t liveBytes = 0;         ///< their bytes
    int64_t totalAllocations = 0;  ///< every request since the process started
};
/// The whole process's counts.
ORVANE_API AllocStats allocStats();
/// The counts of this thread's slot: what a call on this thread left behind,
/// whatever other threads do meanwhile. Only differences mean anything (a
/// slot of an ended thread is reused; a block freed on another thread than
/// its own counts on both). Guard bytes around every block are checked when
/// it is freed; a broken guard aborts the process with a message.
ORVANE_API AllocStats threadAllocStats();
/// The heap-reference registrations alive right now on this thread.
ORVANE_API int64_t heapReferenceDepth();

/// A host function: receives the number of results asked for and fills
/// `results` (at least one entry when asked for one or more); it raises
/// through orvane::raise.
using HostFunction =
    std::function<void(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments)>;
/// Registers `function` under `name`, replacing one of that name.
ORVANE_API void registerFunction(const std::string &name, HostFunction function);
/// Removes the function registered under `name`, if any.
ORVANE_API void unregisterFunction(const std::string &name);
/// Whether a function of this name exists, registered or built in.
ORVANE_API bool hasFunction(const std::string &name);
/// The functions every process has and the module itself calls ("min",
/// "max", "sum", "transpose", ...): a function registered under one of these
/// names would change what the module computes.
ORVANE_API std::vector<std::string> builtinFunctionNames();
/// Calls a host function by name; an unknown name raises "Orvane:UndefinedFunction".
ORVANE_API std::vector<Value> callFunction(const std::string &name, int numResults,
                                           const std::vector<Value> &arguments);

/// A warning issued through "throwWarning" during a call.
struct Warning {
    std::string identifier;        ///< e.g. "warnFazolt_NoRuleFired"
    std::string message;           ///< the text, its arguments filled in
    std::vector<Value> arguments;  ///< those after the identifier
};
/// Takes the warning log of the current thread; Module::call clears it at
/// entry and moves it into its result.
ORVANE_API std::vector<Warning> takeWarnings();
/// Adds a warning to the current thread's log.
ORVANE_API void addWarning(Warning w);

/// A copy that shares no storage with `value` (copies of a Value alias its
/// data): numeric, logical and char data copied, structs field by field. A
/// value of a class that holds no data block of its own (cell) is shared.
ORVANE_API Value deepCopy(const Value &value);

/// A value read from host-value JSON ({"class", "size", "data"}). Raises
/// HostError "Orvane:json:..." with a message that names the place (a path
/// like "data[3]" and the text position).
ORVANE_API Value fromJson(std::string_view text);
/// The host-value JSON of a value, every double in its shortest exact text.
ORVANE_API std::string toJson(const Value &value);
/// Shortest text that reads back to the same bits; "NaN", "Inf", "-Inf" as
/// JSON strings when quoteSpecials is true.
ORVANE_API std::string formatDouble(double v, bool quoteSpecials);

/// What a call of a module gave: its results, or the error it raised, with
/// the warnings it issued either way.
struct CallOutcome {
    std::vector<Value> results;      ///< as many as asked for, unless the call failed
    std::optional<HostError> error;  ///< the error the call raised, if any
    std::vector<Warning> warnings;   ///< the warnings, in the order issued
    int64_t leakedValues = 0;        ///< host values the module made and neither returned nor dropped
};

/// What runInCall gave: as CallOutcome, without results.
struct BoundaryOutcome {
    std::optional<HostError> error;  ///< the error fn raised, if any
    std::vector<Warning> warnings;   ///< the warnings, in the order issued
    int64_t leakedValues = 0;        ///< host values made and neither returned nor dropped
};
/// Runs fn inside a host call boundary, as Module::call runs a module: a
/// fresh run-time context handed to fn, the warning log cleared, a HostError
/// caught (after the heap-reference releases ran), the call's temporaries
/// destroyed. For tests and embedders that call module stages directly.
ORVANE_API BoundaryOutcome runInCall(const std::function<void(zorbTLS *tls)> &fn);

/// A loaded module: a shared library with the host's module entry.
class ORVANE_API Module {
public:
    /// Loads a shared library and checks its qibfilerequiredapiversion;
    /// raises "Orvane:module:..." on failure.
    static std::shared_ptr<Module> load(const std::string &path);
    ~Module();
    /// Calls qibFunction. Threads call at once, each with a call state of its
    /// own; a host function may call again on its thread (a frame of its own).
    CallOutcome call(int numResults, const std::vector<Value> &arguments);
    /// The value of zorbQibFcnProperties, or an empty Value if not exported.
    Value properties();
    /// The file it was loaded from.
    const std::string &path() const { return path_; }

private:
    Module() = default;
    std::string path_;
    void *handle_ = nullptr;
    void *entry_ = nullptr;
    void *properties_ = nullptr;
    bool counted_ = false;  // among its library's loads in the host's facts
};

}  // namespace orvane

#endif
