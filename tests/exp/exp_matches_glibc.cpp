// quvExp against the C library's exp on 10^8 doubles: a quarter arbitrary
// bit patterns, a quarter over the whole range of finite non-zero results,
// a quarter where the shapes' arguments mostly fall, a quarter near
// overflow, underflow and in the subnormals. Only glibc on a processor with
// FMA computes the bits quvExp keeps; elsewhere the test is skipped (exit
// 77) and the stored hard cases (Exp.* in the unit tests) stand in.
//
// Every tenth input also goes through quvExp with fma emulated, and the
// emulation itself is held against the C library's fma on products and sums
// of the sizes that exp forms, and of any size that keeps the product
// normal.
//
//   exp_matches_glibc [COUNT]
#include "orvane/scalar_math.h"

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

double expEmulatedFma(double x);
double fmaEmulated(double a, double b, double c);

namespace {

uint64_t bitsOf(double x) {
    uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

// xorshift64*: the same inputs on every run.
uint64_t nextRandom(uint64_t &state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545f4914f6cdd1dull;
}

double uniform(uint64_t u, double lo, double hi) { return lo + static_cast<double>(u >> 11) * 0x1p-53 * (hi - lo); }

bool differ(double mine, double theirs) {
    return bitsOf(mine) != bitsOf(theirs) && !(mine != mine && theirs != theirs);
}

// A double of random significand and sign and an exponent in [lo, hi).
double randomOfExponent(uint64_t u, int lo, int hi) {
    const double m = 1.0 + static_cast<double>(u >> 12) * 0x1p-52;
    return std::ldexp((u & 1) ? -m : m, lo + static_cast<int>((u >> 1) % static_cast<uint64_t>(hi - lo)));
}

double input(int64_t i, uint64_t u) {
    switch (i & 3) {
        case 0: {
            double x;
            std::memcpy(&x, &u, sizeof x);
            return x;
        }
        case 1: return uniform(u, -745.2, 709.8);
        case 2: return uniform(u, -40.0, 40.0);
        default: return (u & 1) ? uniform(u, 700.0, 710.0) : uniform(u, -746.0, -700.0);
    }
}

std::atomic<int64_t> mismatches{0};

void compare(int64_t first, int64_t end, uint64_t seed) {
    uint64_t state = seed;
    int64_t bad = 0;
    for (int64_t i = first; i < end; ++i) {
        const double x = input(i, nextRandom(state));
        const double mine = quvExp(x), theirs = std::exp(x);
        if (differ(mine, theirs) && bad++ < 5) std::printf("exp(%a): %a, the C library %a\n", x, mine, theirs);
        if (i % 10 != 0) continue;
        const double emulated = expEmulatedFma(x);
        if (differ(emulated, theirs) && bad++ < 5)
            std::printf("exp(%a), fma emulated: %a, the C library %a\n", x, emulated, theirs);
        const uint64_t u = nextRandom(state), v = nextRandom(state), w = nextRandom(state);
        double a = randomOfExponent(u, -480, 480), b = randomOfExponent(v, -440, 480), c;
        switch (w & 3) {
            case 0: c = randomOfExponent(w, -1000, 1000); break;
            case 1: c = -a * b * (1.0 + static_cast<double>(w >> 40) * 0x1p-60); break;  // deep cancellation
            default:  // the product within an ulp of half c's: the sum near a tie
                c = randomOfExponent(w, -400, 400);
                b = std::ldexp(1.0, std::ilogb(c) - 53) / a;
        }
        if (differ(fmaEmulated(a, b, c), std::fma(a, b, c)) && bad++ < 5)
            std::printf("fma(%a, %a, %a) emulated: %a, the C library %a\n", a, b, c, fmaEmulated(a, b, c),
                        std::fma(a, b, c));
    }
    mismatches += bad;
}

}  // namespace

int main(int argc, char **argv) {
#if defined(__GLIBC__) && defined(__x86_64__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma") || !__builtin_cpu_supports("avx2")) {
        std::puts("skipped: the C library's exp here is not its FMA variant");
        return 77;
    }
#else
    std::puts("skipped: not glibc on x86-64");
    return 77;
#endif
    const int64_t count = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 100000000;
    std::thread other(compare, count / 2, count, 0x3535353535353535ull);
    compare(0, count / 2, 0x9e3779b97f4a7c15ull);
    other.join();
    std::printf("%" PRId64 " of %" PRId64 " differ\n", mismatches.load(), count);
    return mismatches == 0 ? 0 : 1;
}
