// The host-call fault switch: makes one chosen call of the module into the
// host raise, or give back a value of the wrong class or shape, so that tests
// can walk every host call of an evaluation and check what the module leaves
// behind when that call goes wrong.
//
// Off by default; a counted call then costs one atomic increment and one
// atomic load.
#include "internal.h"

namespace orvane::detail {
namespace {

std::atomic<int64_t> totalHostCalls{0};
std::atomic<int64_t> faultingCall{0};  // 0: disarmed
std::atomic<int> armedFault{static_cast<int>(HostFault::None)};
std::atomic<bool> faultApplied{false};

}  // namespace

HostFault countHostCall() {
    int64_t call = totalHostCalls.fetch_add(1) + 1;
    int64_t target = faultingCall.load();
    if (target == 0 || call != target) return HostFault::None;
    auto fault = static_cast<HostFault>(armedFault.load());
    // Raising always applies; a wrong value applies only where a hook hands
    // one back (injectWrongResult).
    if (fault == HostFault::Raise) faultApplied.store(true);
    return fault;
}

void raiseIfInjected(HostFault fault, const std::string &what) {
    if (fault != HostFault::Raise) return;
    raise("Orvane:injected:HostCall", what + ": failed on purpose (host-call fault switch).");
}

zorbArray *injectWrongResult(HostFault fault, zorbArray *result) {
    if (fault != HostFault::WrongClass && fault != HostFault::WrongShape) return result;
    // Made before the original is dropped: if making it raises, the original
    // is still a reference the call holds and the boundary destroys it.
    zorbArray *wrong =
        fault == HostFault::WrongClass ? makeStruct({1, 1}, {"injected"}) : makeArray(ZORB_DOUBLE_CLASS, {2, 3}, false);
    dropReference(result, true);
    faultApplied.store(true);
    return wrong;
}

}  // namespace orvane::detail

namespace orvane {

void failHostCallAt(int64_t n, HostFault fault) {
    detail::faultApplied.store(false);
    if (n <= 0 || fault == HostFault::None) {
        detail::faultingCall.store(0);
        detail::armedFault.store(static_cast<int>(HostFault::None));
        return;
    }
    detail::armedFault.store(static_cast<int>(fault));
    detail::faultingCall.store(detail::totalHostCalls.load() + n);
}

int64_t hostCallCount() { return detail::totalHostCalls.load(); }

bool hostFaultInjected() { return detail::faultApplied.load(); }

}  // namespace orvane
