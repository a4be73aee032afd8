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

[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

}  // namespace fuzz_support

#endif
