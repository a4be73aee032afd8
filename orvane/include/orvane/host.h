// The Orvane stand-in host as a C++ program uses it: host values, the
// allocator's accounts, host functions by name, the host-value JSON format,
// and loading and calling a module.
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

// The host's error. Raised by the run-time and by host functions; caught only
// at the host's call boundaries (Module::call, the embedding API).
class ORVANE_API HostError : public std::runtime_error {
public:
    HostError(std::string identifier, std::string message);
    const std::string &identifier() const { return identifier_; }
    const std::string &message() const { return message_; }

private:
    std::string identifier_;
    std::string message_;
};

// Raises a HostError after running the release operations registered on the
// heap-reference stack of the call in progress (if any).
[[noreturn]] ORVANE_API void raise(const std::string &identifier, const std::string &message);

// A counted reference to a host value. Copying aliases; destruction drops
// the reference. An empty Value holds no host value.
class ORVANE_API Value {
public:
    Value() = default;
    explicit Value(zorbArray *adopted) : array_(adopted) {}  // takes over one reference
    Value(const Value &other);
    Value(Value &&other) noexcept : array_(other.array_) { other.array_ = nullptr; }
    Value &operator=(Value other) noexcept {
        std::swap(array_, other.array_);
        return *this;
    }
    ~Value();

    zorbArray *get() const { return array_; }
    zorbArray *release() {  // hands the reference to the caller
        zorbArray *a = array_;
        array_ = nullptr;
        return a;
    }
    explicit operator bool() const { return array_ != nullptr; }

    // Makers. Extents have at least two entries; a single extent n means n x 1.
    static Value numeric(zorbClassID classId, const std::vector<int64_t> &dims, bool isComplex = false);
    static Value doubleMatrix(int64_t rows, int64_t cols, const std::vector<double> &columnMajor);
    static Value doubleScalar(double v);
    static Value int32Scalar(int32_t v);
    static Value uint8Scalar(uint8_t v);
    static Value int32Row(const std::vector<int32_t> &values);
    static Value charRow(std::string_view text);    // class char, 1 x n
    static Value uint8Row(std::string_view bytes);  // class uint8, 1 x n
    static Value logicalMatrix(int64_t rows, int64_t cols);
    static Value structMatrix(const std::vector<int64_t> &dims, const std::vector<std::string> &fieldNames);

    // Readers.
    zorbClassID classId() const;
    std::string className() const;  // "double", "uint8", "struct", ...
    bool isComplex() const;
    const std::vector<int64_t> &dims() const;
    int64_t numel() const;
    void *data() const;      // real part
    void *imagData() const;  // null for a real value
    double *pr() const { return static_cast<double *>(data()); }
    std::vector<double> toDoubles() const;  // real part converted, column-major
    std::string toText() const;             // char or uint8 data as bytes

    // Structs.
    const std::vector<std::string> &fieldNames() const;
    Value field(int64_t element, std::string_view name) const;       // empty if absent
    void setField(int64_t element, std::string_view name, Value v);  // adds the field if needed

    // Blocks from the accounted allocator that this value owns (data, imag
    // and those of nested values): what a leak check subtracts.
    int64_t ownedBlocks() const;

private:
    zorbArray *array_ = nullptr;
};

// Class names as the host writes them; ZORB_UNKNOWN_CLASS for an unknown name.
ORVANE_API std::string className(zorbClassID id);
ORVANE_API zorbClassID classFromName(std::string_view name);

// ---- The accounted allocator.
struct AllocStats {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    int64_t totalAllocations = 0;  // every request since the process started
};
// The whole process's counts.
ORVANE_API AllocStats allocStats();
// The counts of this thread's slot: what a call on this thread left behind,
// whatever other threads do meanwhile. Only differences mean anything (a
// slot of an ended thread is reused; a block freed on another thread than
// its own counts on both).
ORVANE_API AllocStats threadAllocStats();
// Guard bytes around every block are checked when it is freed; a broken
// guard aborts the process with a message.
ORVANE_API int64_t heapReferenceDepth();  // registrations alive right now

// ---- Host functions by name. A function receives the number of results
// asked for and fills `results` (at least one entry when asked for one or
// more); it raises through orvane::raise.
using HostFunction =
    std::function<void(int numResults, std::vector<Value> &results, const std::vector<Value> &arguments)>;
ORVANE_API void registerFunction(const std::string &name, HostFunction function);
ORVANE_API void unregisterFunction(const std::string &name);
ORVANE_API bool hasFunction(const std::string &name);
// The functions every process has and the module itself calls ("min",
// "max", "sum", "transpose", ...): a function registered under one of these
// names would change what the module computes.
ORVANE_API std::vector<std::string> builtinFunctionNames();
// Calls a host function by name; an unknown name raises "Orvane:UndefinedFunction".
ORVANE_API std::vector<Value> callFunction(const std::string &name, int numResults,
                                           const std::vector<Value> &arguments);

// ---- Warnings issued through "throwWarning" during a call.
struct Warning {
    std::string identifier;
    std::string message;
    std::vector<Value> arguments;  // those after the identifier
};
// The log of the current thread; Module::call clears it at entry and moves it
// into its result.
ORVANE_API std::vector<Warning> takeWarnings();
ORVANE_API void addWarning(Warning w);

// A copy that shares no storage with `value` (copies of a Value alias its
// data): numeric, logical and char data copied, structs field by field. A
// value of a class that holds no data block of its own (cell) is shared.
ORVANE_API Value deepCopy(const Value &value);

// ---- Host-value JSON. Reading raises HostError "Orvane:json:..." with a
// message that names the place (a path like "data[3]" and the text position).
ORVANE_API Value fromJson(std::string_view text);
ORVANE_API std::string toJson(const Value &value);
// Shortest text that reads back to the same bits; "NaN", "Inf", "-Inf" as
// JSON strings when quoteSpecials is true.
ORVANE_API std::string formatDouble(double v, bool quoteSpecials);

// ---- Modules.
struct CallOutcome {
    std::vector<Value> results;
    std::optional<HostError> error;
    std::vector<Warning> warnings;
    int64_t leakedValues = 0;  // host values the module made and neither returned nor dropped
};

// Runs fn inside a host call boundary, as Module::call runs a module: a
// fresh run-time context handed to fn, the warning log cleared, a HostError
// caught (after the heap-reference releases ran), the call's temporaries
// destroyed. For tests and embedders that call module stages directly.
struct BoundaryOutcome {
    std::optional<HostError> error;
    std::vector<Warning> warnings;
    int64_t leakedValues = 0;
};
ORVANE_API BoundaryOutcome runInCall(const std::function<void(zorbTLS *tls)> &fn);

class ORVANE_API Module {
public:
    // Loads a shared library and checks its qibfilerequiredapiversion;
    // raises "Orvane:module:..." on failure.
    static std::shared_ptr<Module> load(const std::string &path);
    ~Module();
    // Calls qibFunction. Threads call at once, each with a call state of its
    // own; a host function may call again on its thread (a frame of its own).
    CallOutcome call(int numResults, const std::vector<Value> &arguments);
    // The value of zorbQibFcnProperties, or an empty Value if not exported.
    Value properties();
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
