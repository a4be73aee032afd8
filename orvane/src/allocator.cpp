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

#include <malloc.h>

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

// Big blocks a thread frees are kept for its next requests of about the same
// size. Evaluating a batch in parts allocates the same few big blocks per
// part; handed back to the system each time, every part pays for fresh pages
// (a page fault per 4 KiB, zeroed by the kernel), and in a process with
// several threads each unmapping also stops the other cores to flush their
// address translations: two threads then ran at 1.4 times one. Smaller blocks
// are already reused by malloc's own free lists. Under AddressSanitizer the
// blocks go straight back, so that a use after free is still caught.
constexpr size_t SMALLEST_SPARE = 64 * 1024;
constexpr size_t MOST_SPARE_BYTES = 96 * 1024 * 1024;
constexpr int MOST_SPARES = 8;

struct Spare {
    unsigned char *raw;
    size_t capacity;
};
// Plain storage, valid until the thread ends; SpareKeeper empties it then. A
// thread's last frees may come from thread-local destructors after that, so
// areSparesGone makes them go straight back to malloc.
thread_local Spare spares[MOST_SPARES];
thread_local int numSpares = 0;
thread_local size_t spareBytes = 0;
thread_local bool areSparesGone = false;

void dropSpare(int k) {
    std::free(spares[k].raw);
    spareBytes -= spares[k].capacity;
    spares[k] = spares[--numSpares];
}

struct SpareKeeper {
    ~SpareKeeper() {
        while (numSpares > 0) dropSpare(numSpares - 1);
        areSparesGone = true;
    }
};

bool isSpareKept() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    if (areSparesGone) return false;
    thread_local SpareKeeper keeper;
    return true;
#endif
}

// The smallest spare that holds total bytes without wasting more than a
// quarter of itself, or null.
unsigned char *takeSpare(size_t total) {
    if (total < SMALLEST_SPARE || numSpares == 0) return nullptr;
    int best = -1;
    for (int k = 0; k < numSpares; ++k)
        if (spares[k].capacity >= total && spares[k].capacity - total <= spares[k].capacity / 4 &&
            (best < 0 || spares[k].capacity < spares[best].capacity))
            best = k;
    if (best < 0) return nullptr;
    unsigned char *raw = spares[best].raw;
    spareBytes -= spares[best].capacity;
    spares[best] = spares[--numSpares];
    return raw;
}

void giveBack(unsigned char *raw) {
    const size_t capacity = malloc_usable_size(raw);
    if (capacity < SMALLEST_SPARE || capacity > MOST_SPARE_BYTES || !isSpareKept()) {
        std::free(raw);
        return;
    }
    // Make room by dropping the oldest-placed spares (any order will do: the
    // list is short and a dropped one only costs its pages again).
    while (numSpares > 0 && (numSpares == MOST_SPARES || spareBytes + capacity > MOST_SPARE_BYTES)) dropSpare(0);
    spares[numSpares++] = Spare{raw, capacity};
    spareBytes += capacity;
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
    const size_t total = PREFIX_BYTES + bytes + GUARD_BYTES;
    unsigned char *raw = takeSpare(total);
    if (raw == nullptr) raw = static_cast<unsigned char *>(std::malloc(total));
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
    giveBack(reinterpret_cast<unsigned char *>(h));
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
