// The accounted allocator: every block of module memory and every data block
// of a host value. It keeps counts that leak checks read, fails a chosen
// request on demand, and fences each block with guard bytes that are checked
// when the block is freed.
//
// Each thread counts in a slot of its own, so that threads evaluating at
// once neither share a cache line nor disturb each other's per-call checks;
// the process's counts are the sum over the slots. A block freed on another
// thread than the one that made it leaves one slot high and the other low,
// which cancels in the sum.
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

// Written by the owning thread only (relaxed read-modify-writes on a line of
// its own), read by anyone summing. alignas keeps two slots off one line.
struct alignas(64) CountSlot {
    std::atomic<int64_t> liveBlocks{0};
    std::atomic<int64_t> liveBytes{0};
    std::atomic<int64_t> requests{0};
    std::atomic<bool> isTaken{false};
};

std::mutex slotsMutex;
// Never destroyed, and a slot is never freed: a thread's last frees may come
// from other thread-local destructors after its slot was given back. A slot
// given back keeps its counts and is taken by the next new thread, so the
// list grows only with the most threads alive at once.
std::vector<CountSlot *> &slots() {
    static auto *all = new std::vector<CountSlot *>();
    return *all;
}

CountSlot *takeSlot() {
    std::lock_guard<std::mutex> lock(slotsMutex);
    for (CountSlot *slot : slots()) {
        bool isFree = false;
        if (slot->isTaken.compare_exchange_strong(isFree, true)) return slot;
    }
    auto *slot = new CountSlot();
    slot->isTaken.store(true);
    slots().push_back(slot);
    return slot;
}

// Gives the slot back when the thread ends; the pointer itself stays valid.
struct SlotHolder {
    CountSlot *slot = takeSlot();
    ~SlotHolder() { slot->isTaken.store(false); }
};
thread_local CountSlot *threadSlot = nullptr;

CountSlot &mySlot() {
    if (threadSlot == nullptr) {
        thread_local SlotHolder holder;
        threadSlot = holder.slot;
    }
    return *threadSlot;
}

void add(std::atomic<int64_t> &count, int64_t amount) { count.fetch_add(amount, std::memory_order_relaxed); }

// The fault switch counts this thread's requests: a test arms it and then
// evaluates on the same thread, whatever other threads allocate meanwhile.
thread_local int64_t threadRequests = 0;
thread_local int64_t failingRequest = 0;  // 0: disarmed
thread_local bool failingPersistently = false;

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
    CountSlot &slot = mySlot();
    add(slot.requests, 1);
    int64_t request = ++threadRequests;
    int64_t target = failingRequest;
    if (target > 0 && (request == target || (request > target && failingPersistently))) {
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
    add(slot.liveBlocks, 1);
    add(slot.liveBytes, static_cast<int64_t>(bytes));
    return block;
}

void freeBlock(void *block) {
    if (block == nullptr) return;
    Header *h = checkedHeader(block);
    size_t bytes = h->bytes;
    h->magic = FREED_MAGIC;
    // Poison, so a read after free shows a recognisable pattern.
    std::memset(block, FREED_FILL, bytes);
    CountSlot &slot = mySlot();
    add(slot.liveBlocks, -1);
    add(slot.liveBytes, -static_cast<int64_t>(bytes));
    std::free(h);
}

size_t blockBytes(const void *block) { return checkedHeader(block)->bytes; }

}  // namespace orvane::detail

namespace orvane {

namespace {

AllocStats statsOf(const detail::CountSlot &slot) {
    AllocStats s;
    s.liveBlocks = slot.liveBlocks.load(std::memory_order_relaxed);
    s.liveBytes = slot.liveBytes.load(std::memory_order_relaxed);
    s.totalAllocations = slot.requests.load(std::memory_order_relaxed);
    return s;
}

}  // namespace

AllocStats allocStats() {
    AllocStats sum;
    std::lock_guard<std::mutex> lock(detail::slotsMutex);
    for (const detail::CountSlot *slot : detail::slots()) {
        AllocStats s = statsOf(*slot);
        sum.liveBlocks += s.liveBlocks;
        sum.liveBytes += s.liveBytes;
        sum.totalAllocations += s.totalAllocations;
    }
    return sum;
}

AllocStats threadAllocStats() { return statsOf(detail::mySlot()); }

void failAllocationAt(int64_t n, bool persistent) {
    detail::failingPersistently = n > 0 && persistent;
    detail::failingRequest = n > 0 ? detail::threadRequests + n : 0;
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
