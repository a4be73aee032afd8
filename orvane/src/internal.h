// What the pieces of the stand-in host share behind the public headers: the
// host value record, the accounted allocator, and the state of the call in
// progress (heap-reference stack, the call's references to host values, the
// run-time contexts it created).
//
// Sections: host value record, allocator, call state, references.
#ifndef ORVANE_SRC_INTERNAL_H
#define ORVANE_SRC_INTERNAL_H

#include <orvane/faults.h>
#include <orvane/host.h>
#include <orvane/zorb.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// ---- Host value record.

struct zorbArray {
    std::atomic<int64_t> refCount{1};
    zorbClassID classId = ZORB_DOUBLE_CLASS;
    bool isComplex = false;
    // At least two extents; trailing extents of 1 beyond the second are
    // dropped when the value is made, as the host writes them.
    std::vector<int64_t> dims{0, 0};
    void *real = nullptr;  // accounted blocks; null while the value is empty
    void *imag = nullptr;
    // Structs: one reference (or null for an unset field) per element and
    // field, element-major: fields[element * fieldNames.size() + field].
    std::vector<std::string> fieldNames;
    std::vector<zorbArray *> fields;
};

namespace orvane::detail {

// Bytes per element of a class's data block; 0 for struct and unknown.
size_t elementSize(zorbClassID id);
bool isNumericClass(zorbClassID id);
// Product of the extents; raises out-of-memory when it overflows.
int64_t countElements(const std::vector<int64_t> &dims);
// Extents as the host keeps them: at least two, no trailing 1s beyond two.
std::vector<int64_t> normaliseDims(std::vector<int64_t> dims);
// "2x3x4"
std::string dimsText(const std::vector<int64_t> &dims);

// Makes a value whose data blocks (zero-filled) come from the accounted
// allocator. The new reference counts as one the current call holds.
zorbArray *makeArray(zorbClassID id, std::vector<int64_t> dims, bool isComplex);
zorbArray *makeStruct(std::vector<int64_t> dims, std::vector<std::string> fieldNames);
// Field slot of a struct; raises when the element or field is out of range.
zorbArray *&fieldSlot(zorbArray *structValue, int64_t element, size_t field);
// Index of a field by name, or -1.
int64_t findField(const zorbArray *structValue, std::string_view name);
// Appends a field (unset in every element) and returns its index.
size_t addField(zorbArray *structValue, const std::string &name);

// ---- Accounted allocator.

void *allocateBlock(size_t bytes, bool zeroed);
void freeBlock(void *block);
// Aborts unless block is a live block of the allocator; returns its size.
size_t blockBytes(const void *block);

// ---- Call state.

struct Registration {
    void *ownerAddress;
    zorbReleaseFcn release;
};

struct CallState {
    std::vector<Registration> registrations;
    std::vector<size_t> frameStarts;
    // References to host values made during the call and not yet dropped or
    // handed on (into a struct field, or to the caller as a result).
    bool tracksValues = false;
    std::unordered_map<zorbArray *, int64_t> heldReferences;
    std::vector<zorbTLS *> contexts;  // run-time contexts made during the call
};

// The call in progress on this thread, or the thread's ambient state when no
// boundary is active (then values are not tracked).
CallState &activeState();
bool insideCall();

// Calls every registered release operation, innermost first, and empties the
// stack. A release that raises does not stop the others.
void runReleases(CallState &state);

// Host call boundary: makes a fresh call state current for its lifetime.
// Used by Module::call, runInCall and the module's property query.
class Boundary {
public:
    Boundary();
    ~Boundary();
    Boundary(const Boundary &) = delete;
    Boundary &operator=(const Boundary &) = delete;

    CallState &state() { return state_; }
    // The result references that leave the call with the caller.
    void handOver(zorbArray *result);
    // After an error: release what is registered, destroy the temporaries.
    void unwind();
    // After success: destroys the references the call still holds and
    // returns how many values they were.
    int64_t collectLeaks();

    // Registrations left on the stack by a call that returned normally:
    // dropped uncalled (their owners are gone); returns how many there were.
    size_t dropLeftoverRegistrations();

private:
    void destroyHeldReferences();
    CallState state_;
    CallState *previous_;
};

void destroyContext(zorbTLS *tls);

// The warning log of this thread, saved and restored around nested
// boundaries.
std::vector<Warning> &warningLog();

// ---- Host-call faults (faults.cpp). Each counted C entry point calls
// countHostCall first; with the switch off that is one atomic increment.

HostFault countHostCall();
// Raises "Orvane:injected:HostCall" when fault is Raise; `what` names the
// call in the message.
void raiseIfInjected(HostFault fault, const std::string &what);
// Takes over `result` (a reference held by the call) and gives back a value
// of the wrong class or shape in its place when the fault asks for one.
zorbArray *injectWrongResult(HostFault fault, zorbArray *result);

// ---- References.

// tracked: the reference belongs to whoever runs inside the call (the module,
// a host function) and is counted as held by the call.
zorbArray *addReference(const zorbArray *value, bool tracked);
void dropReference(zorbArray *value, bool tracked);
// A reference held by the call moves into a struct field or to the caller.
void noteHandedOver(zorbArray *value);
void noteNewReference(zorbArray *value);

// Error text of the maximum result count of the module being called, when
// known: "returns at most 6 results".
void setCurrentMaxResults(int64_t maxResults);
int64_t currentMaxResults();

}  // namespace orvane::detail

#endif
