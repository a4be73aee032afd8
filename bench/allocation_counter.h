// Counts the heap allocations of this thread between arm and disarm by
// standing in for malloc and its kin (glibc's own functions do the work), so
// that every allocation of the program and its libraries is seen: operator
// new, the host allocator, fuzzylite. Include it in exactly one source file
// of a program. Not under a sanitizer, which provides these functions itself.
#ifndef FAZOLT_BENCH_ALLOCATION_COUNTER_H
#define FAZOLT_BENCH_ALLOCATION_COUNTER_H

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FAZOLT_COUNTS_ALLOCATIONS 0
#else
#define FAZOLT_COUNTS_ALLOCATIONS 1

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace allocation_counter {
// The executable's own thread-local variables: reading them allocates nothing.
inline thread_local bool isArmed = false;
inline thread_local int64_t count = 0;
inline void arm() {
    count = 0;
    isArmed = true;
}
inline int64_t disarm() {
    isArmed = false;
    return count;
}
}  // namespace allocation_counter

extern "C" {
void *malloc(size_t size) noexcept {
    if (allocation_counter::isArmed) ++allocation_counter::count;
    return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) noexcept {
    if (allocation_counter::isArmed) ++allocation_counter::count;
    return __libc_calloc(count, size);
}
void *realloc(void *block, size_t size) noexcept {
    if (allocation_counter::isArmed) ++allocation_counter::count;
    return __libc_realloc(block, size);
}
void free(void *block) noexcept { __libc_free(block); }
}
#endif

#endif
