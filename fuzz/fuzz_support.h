// What every fuzz target checks after each input: the host allocator holds
// no more blocks than before the input and the heap-reference stack is
// empty. A leak or an unbalanced stack aborts, so libFuzzer records it as a
// finding like a crash.
#ifndef FAZOLT_FUZZ_SUPPORT_H
#define FAZOLT_FUZZ_SUPPORT_H

#include <orvane/host.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_support {

class BalanceCheck {
public:
    BalanceCheck() : liveBlocks_(orvane::allocStats().liveBlocks) {}
    BalanceCheck(const BalanceCheck &) = delete;
    BalanceCheck &operator=(const BalanceCheck &) = delete;
    // Call after every Value made for the input has been dropped.
    void verify() const {
        int64_t live = orvane::allocStats().liveBlocks;
        int64_t depth = orvane::heapReferenceDepth();
        if (live != liveBlocks_ || depth != 0) {
            std::fprintf(stderr, "fuzz: input left %lld host blocks allocated and heap-reference depth %lld\n",
                         static_cast<long long>(live - liveBlocks_), static_cast<long long>(depth));
            std::abort();
        }
    }

private:
    int64_t liveBlocks_;
};

// A call's outcome as text, for comparing two calls: every result's bits,
// every warning with its arguments, the error. The tests use it too.
inline std::string outcomeText(const orvane::CallOutcome &outcome) {
    std::string text;
    for (const orvane::Value &r : outcome.results) text += orvane::toJson(r) + "\n";
    for (const orvane::Warning &w : outcome.warnings) {
        text += w.identifier + ": " + w.message;
        for (const orvane::Value &a : w.arguments) text += " " + orvane::toJson(a);
        text += "\n";
    }
    if (outcome.error) text += outcome.error->identifier() + ": " + outcome.error->message();
    return text;
}

[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

}  // namespace fuzz_support

#endif
