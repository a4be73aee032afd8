// The state of a call in progress: the host error and how it is raised, the
// heap-reference stack, the call boundary that owns the call's temporaries,
// the run-time contexts, and the warning log.
//
// A call's state is reached through a thread-local pointer rather than the
// run-time context, because the allocator and host functions raise without
// one.
#include "internal.h"

#include <unordered_set>

struct zorbTLS {
    const zorbContext *context;
    bool isFirstTime;
    orvane::detail::CallState *owner;  // the call (or ambient state) that made it
};

namespace orvane {

HostError::HostError(std::string identifier, std::string message)
    : std::runtime_error(message), identifier_(std::move(identifier)), message_(std::move(message)) {}

void raise(const std::string &identifier, const std::string &message) {
    detail::runReleases(detail::activeState());
    throw HostError(identifier, message);
}

std::vector<Warning> takeWarnings() {
    std::vector<Warning> taken = std::move(detail::warningLog());
    detail::warningLog().clear();
    return taken;
}

void addWarning(Warning w) {
    // The log keeps its argument references past the call: they are no
    // longer the call's temporaries.
    for (const Value &a : w.arguments) detail::noteHandedOver(a.get());
    detail::warningLog().push_back(std::move(w));
}

int64_t heapReferenceDepth() { return static_cast<int64_t>(detail::activeState().registrations.size()); }

}  // namespace orvane

namespace orvane::detail {
namespace {

thread_local CallState *currentCallState = nullptr;
thread_local CallState ambientState;
thread_local std::vector<Warning> threadWarnings;

std::mutex contextsMutex;
// Never destroyed: a module unloaded by a static destructor (a Module held in
// a static) runs its at-exit function, which makes and destroys a context,
// possibly after this set's own static destructor had run.
std::unordered_set<zorbTLS *> &liveContexts() {
    static auto *contexts = new std::unordered_set<zorbTLS *>();
    return *contexts;
}

}  // namespace

CallState &activeState() { return currentCallState != nullptr ? *currentCallState : ambientState; }
bool insideCall() { return currentCallState != nullptr; }
std::vector<Warning> &warningLog() { return threadWarnings; }

void runReleases(CallState &state) {
    state.frameStarts.clear();
    while (!state.registrations.empty()) {
        // Popped before the call, so a release that raises cannot be called
        // a second time by the nested raise.
        Registration r = state.registrations.back();
        state.registrations.pop_back();
        try {
            r.release(r.ownerAddress);
        } catch (const HostError &) {
            // The error already unwinding is the one reported.
        }
    }
}

Boundary::Boundary() : previous_(currentCallState) {
    state_.tracksValues = true;
    currentCallState = &state_;
}

Boundary::~Boundary() {
    // Normally unwind() or collectLeaks() has emptied these already.
    state_.registrations.clear();
    state_.frameStarts.clear();
    destroyHeldReferences();
    while (!state_.contexts.empty()) destroyContext(state_.contexts.back());
    currentCallState = previous_;
}

void Boundary::handOver(zorbArray *result) { noteHandedOver(result); }

void Boundary::destroyHeldReferences() {
    auto &held = state_.heldReferences;
    while (!held.empty()) {
        auto it = held.begin();
        zorbArray *value = it->first;
        int64_t count = it->second;
        held.erase(it);
        // A value's held count never exceeds its reference count, so the
        // value is still alive here even if a struct released before it
        // held one of its references.
        for (int64_t k = 0; k < count; ++k) dropReference(value, false);
    }
}

void Boundary::unwind() {
    runReleases(state_);
    destroyHeldReferences();
}

int64_t Boundary::collectLeaks() {
    int64_t leaked = 0;
    for (const auto &[value, count] : state_.heldReferences) {
        if (count > 0) ++leaked;
    }
    destroyHeldReferences();
    return leaked;
}

size_t Boundary::dropLeftoverRegistrations() {
    size_t n = state_.registrations.size();
    state_.registrations.clear();
    state_.frameStarts.clear();
    return n;
}

void destroyContext(zorbTLS *tls) {
    {
        std::lock_guard<std::mutex> lock(contextsMutex);
        if (liveContexts().erase(tls) == 0) return;
    }
    auto &owned = tls->owner->contexts;
    for (auto it = owned.begin(); it != owned.end(); ++it) {
        if (*it == tls) {
            owned.erase(it);
            break;
        }
    }
    delete tls;
}

}  // namespace orvane::detail

extern "C" {

void zorbHeapReferenceStackEnterFcn(zorbTLS *) {
    auto &state = orvane::detail::activeState();
    state.frameStarts.push_back(state.registrations.size());
}

void zorbPushHeapReferenceStack(zorbTLS *, void *ownerAddress, zorbReleaseFcn release) {
    // Fault switch: raised before the registration, as a failed push would.
    orvane::detail::raiseIfInjected(orvane::detail::countHostCall(), "zorbPushHeapReferenceStack");
    if (ownerAddress == nullptr || release == nullptr) {
        orvane::raise("Orvane:heapReference:NullRegistration",
                      "A heap-reference registration needs an owner address and a release operation.");
    }
    orvane::detail::activeState().registrations.push_back({ownerAddress, release});
}

void zorbHeapReferenceStackLeaveFcn(zorbTLS *) {
    auto &state = orvane::detail::activeState();
    if (state.frameStarts.empty()) {
        orvane::raise("Orvane:heapReference:NoFrame", "A heap-reference frame was left that was never entered.");
    }
    state.registrations.resize(state.frameStarts.back());
    state.frameStarts.pop_back();
}

void zorbCreateRootTLS(zorbTLS **tls, zorbContext *context, void *, int32_t) {
    auto &state = orvane::detail::activeState();
    auto *t = new zorbTLS{context, context == nullptr || context->isFirstTime, &state};
    {
        std::lock_guard<std::mutex> lock(orvane::detail::contextsMutex);
        orvane::detail::liveContexts().insert(t);
    }
    state.contexts.push_back(t);
    *tls = t;
}

void zorbDestroyRootTLS(zorbTLS **tls) {
    if (tls == nullptr || *tls == nullptr) return;
    orvane::detail::destroyContext(*tls);
    *tls = nullptr;
}

// The stand-in keeps no per-call allocation counts and no run-time call
// stack of its own.
void zorbClearAllocCount(zorbTLS *, bool, uint32_t, const char *) {}
void zorbEnterRtStack(zorbTLS *) {}
void zorbLeaveRtStack(zorbTLS *) {}

bool zorbFirstTime(zorbTLS *tls) {
    std::lock_guard<std::mutex> lock(orvane::detail::contextsMutex);
    if (tls == nullptr || orvane::detail::liveContexts().count(tls) == 0) return false;
    return tls->isFirstTime;
}

}  // extern "C"
