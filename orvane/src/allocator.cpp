// The accounted allocator: every block of module memory and every data block
// of a host value. It keeps counts that leak checks read, fails a chosen
// request on demand, and fences each block with guard bytes that are checked
// when the block is freed.
#include "internal.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvane::detail {
namespace {

// Block layout: Header | front guard | caller's bytes | back guard. The
// prefix is 32 bytes, so the caller's bytes keep malloc's 16-byte alignment.
struct Header {
    size_t bytes;
    uint64_t magic;
};
constexpr size_t GUARD_BYTES = 16;
constexpr size_t PREFIX_BYTES = sizeof(Header) + GUARD_BYTES;
static_assert(PREFIX_BYTES % 16 == 0);
constexpr uint64_t LIVE_MAGIC = 0x6f7276616e652b21ULL;
constexpr uint64_t FREED_MAGIC = 0x6f7276616e652d2dULL;
constexpr unsigned char FRONT_FILL = 0xa5;
constexpr unsigned char BACK_FILL = 0x5a;
constexpr unsigned char FREED_FILL = 0xdd;

std::atomic<int64_t> liveBlocks{0};
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> totalRequests{0};
std::atomic<int64_t> failingRequest{0};  // 0: disarmed
std::atomic<bool> failingPersistently{false};

[[noreturn]] void raiseOutOfMemory(size_t bytes) {
    raise("ZORB:runTime:OutOfMemory",
          "Out of memory: a request for " + std::to_string(bytes) + " bytes could not be met.");
}

[[noreturn]] void abortOnBlock(const void *block, const char *what) {
    std::fprintf(stderr, "orvane: heap block %p: %s\n", block, what);
    std::fflush(stderr);
    std::abort();
}

Header *headerOf(const void *block) {
    auto *raw = static_cast<unsigned char *>(const_cast<void *>(block)) - PREFIX_BYTES;
    return reinterpret_cast<Header *>(raw);
}

// Aborts unless the block is live and both guards are intact.
Header *checkedHeader(const void *block) {
    Header *h = headerOf(block);
    if (h->magic == FREED_MAGIC) abortOnBlock(block, "freed twice");
    if (h->magic != LIVE_MAGIC) abortOnBlock(block, "not a block of the host allocator, or its header was overwritten");
    const auto *front = reinterpret_cast<const unsigned char *>(h) + sizeof(Header);
    const auto *back = static_cast<const unsigned char *>(block) + h->bytes;
    for (size_t k = 0; k < GUARD_BYTES; ++k) {
        if (front[k] != FRONT_FILL) abortOnBlock(block, "written before its start (front guard broken)");
        if (back[k] != BACK_FILL) abortOnBlock(block, "written past its end (back guard broken)");
    }
    return h;
}

}  // namespace

void *allocateBlock(size_t bytes, bool zeroed) {
    int64_t request = totalRequests.fetch_add(1) + 1;
    int64_t target = failingRequest.load();
    if (target > 0 && (request == target || (request > target && failingPersistently.load()))) {
        raiseOutOfMemory(bytes);
    }
    if (bytes > SIZE_MAX - PREFIX_BYTES - GUARD_BYTES) raiseOutOfMemory(bytes);
    auto *raw = static_cast<unsigned char *>(std::malloc(PREFIX_BYTES + bytes + GUARD_BYTES));
    if (raw == nullptr) raiseOutOfMemory(bytes);
    auto *h = reinterpret_cast<Header *>(raw);
    h->bytes = bytes;
    h->magic = LIVE_MAGIC;
    std::memset(raw + sizeof(Header), FRONT_FILL, GUARD_BYTES);
    unsigned char *block = raw + PREFIX_BYTES;
    if (zeroed) std::memset(block, 0, bytes);
    std::memset(block + bytes, BACK_FILL, GUARD_BYTES);
    liveBlocks.fetch_add(1);
    liveBytes.fetch_add(static_cast<int64_t>(bytes));
    return block;
}

void freeBlock(void *block) {
    if (block == nullptr) return;
    Header *h = checkedHeader(block);
    size_t bytes = h->bytes;
    h->magic = FREED_MAGIC;
    // Poison, so a read after free shows a recognisable pattern.
    std::memset(block, FREED_FILL, bytes);
    liveBlocks.fetch_sub(1);
    liveBytes.fetch_sub(static_cast<int64_t>(bytes));
    std::free(h);
}

size_t blockBytes(const void *block) { return checkedHeader(block)->bytes; }

}  // namespace orvane::detail

namespace orvane {

AllocStats allocStats() {
    AllocStats s;
    s.liveBlocks = detail::liveBlocks.load();
    s.liveBytes = detail::liveBytes.load();
    s.totalAllocations = detail::totalRequests.load();
    return s;
}

void failAllocationAt(int64_t n, bool persistent) {
    if (n <= 0) {
        detail::failingRequest.store(0);
        detail::failingPersistently.store(false);
        return;
    }
    detail::failingPersistently.store(persistent);
    detail::failingRequest.store(detail::totalRequests.load() + n);
}

}  // namespace orvane

extern "C" {

void *zorbMallocQib(size_t bytes) { return orvane::detail::allocateBlock(bytes, false); }

void *zorbCallocQib(size_t count, size_t elementSize) {
    if (elementSize != 0 && count > SIZE_MAX / elementSize) {
        orvane::raise("ZORB:runTime:OutOfMemory", "Out of memory: a request for " + std::to_string(count) +
                                                      " elements of " + std::to_string(elementSize) +
                                                      " bytes could not be met.");
    }
    return orvane::detail::allocateBlock(count * elementSize, true);
}

void zorbFreeQib(zorbTLS *, void *block) { orvane::detail::freeBlock(block); }

}  // extern "C"
