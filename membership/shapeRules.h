// The rules of the three most used shapes, shared by their point and row
// forms and by the input cache, which evaluates them in place: one body
// each, so every caller gets the same bits.
#ifndef FAZOLT_MEMBERSHIP_SHAPERULES_H
#define FAZOLT_MEMBERSHIP_SHAPERULES_H

#include "host/runtime.h"

#include <cstdint>
#include <cstring>

// Two functions evaluated at once, lane by lane: each lane takes exactly the
// steps of the scalar rule on its own values (the bodies below serve both).
typedef double ShapeLanes __attribute__((vector_size(16), aligned(8)));
typedef int64_t ShapeLaneMask __attribute__((vector_size(16), aligned(8)));

// ifTrue or ifFalse by their bits, with no branch: inputs that wander over a
// shape, as a controller's do, would take each branch at random. Both values
// are computed either way; the one not picked is never seen.
inline double pickIf(bool condition, double ifTrue, double ifFalse) {
    uint64_t t;
    uint64_t f;
    std::memcpy(&t, &ifTrue, sizeof t);
    std::memcpy(&f, &ifFalse, sizeof f);
    const uint64_t mask = 0 - static_cast<uint64_t>(condition);
    const uint64_t picked = (t & mask) | (f & ~mask);
    double y;
    std::memcpy(&y, &picked, sizeof y);
    return y;
}
inline ShapeLanes pickIf(ShapeLaneMask condition, ShapeLanes ifTrue, ShapeLanes ifFalse) {
    return condition ? ifTrue : ifFalse;
}
inline double constantLike(double, double value) { return value; }
inline ShapeLanes constantLike(ShapeLanes, double value) { return ShapeLanes{value, value}; }

// Both sides are open intervals, so x = a and x = c give 0. A zero-width side
// is skipped rather than divided by, and x = b gives 1 even then. NaN fails
// every comparison and gives 0.
// rise = 1 / (b - a) and fall = 1 / (c - b), which a plan can compute once.
template <typename T>
inline T trimfRuleOf(T x, T a, T b, T c, T rise, T fall) {
    T y = pickIf((a != b) & (a < x) & (x < b), rise * (x - a), constantLike(x, 0.0));
    y = pickIf((b != c) & (b < x) & (x < c), fall * (c - x), y);
    return pickIf(x == b, constantLike(x, 1.0), y);
}

inline double trimfRuleWithSlopes(double x, double a, double b, double c, double rise, double fall) {
    return trimfRuleOf(x, a, b, c, rise, fall);
}

inline double trimfRule(double x, double a, double b, double c) {
    return trimfRuleWithSlopes(x, a, b, c, 1.0 / (b - a), 1.0 / (c - b));
}

// The rising ramp is closed at a and open at b, the falling ramp open at c
// and closed at d; a zero-width ramp is a step and is never divided by.
// Each later test overwrites the earlier one, so their order matters.
// rise = 1 / (b - a) and fall = 1 / (d - c), which a plan can compute once.
template <typename T>
inline T trapmfRuleOf(T x, T a, T b, T c, T d, T rise, T fall) {
    const T zero = constantLike(x, 0.0);
    const T one = constantLike(x, 1.0);
    T y1 = pickIf(x >= b, one, zero);
    y1 = pickIf(x < a, zero, y1);
    y1 = pickIf((x >= a) & (x < b) & (a != b), rise * (x - a), y1);

    T y2 = pickIf(x <= c, one, zero);
    y2 = pickIf(x > d, zero, y2);
    y2 = pickIf((x > c) & (x <= d) & (c != d), fall * (d - x), y2);

    return pickIf((y2 < y1) | (y1 != y1), y2, y1);  // quvMin(y1, y2): a tie keeps y1
}

inline double trapmfRuleWithSlopes(double x, double a, double b, double c, double d, double rise, double fall) {
    return trapmfRuleOf(x, a, b, c, d, rise, fall);
}

inline double trapmfRule(double x, double a, double b, double c, double d) {
    return trapmfRuleWithSlopes(x, a, b, c, d, 1.0 / (b - a), 1.0 / (d - c));
}

// A direct quotient here, not a reciprocal: sigma = 0 gives -0/0 = NaN at the
// centre and exp(-inf) = 0 elsewhere.
inline double gaussmfRule(double x, double sigma, double c) {
    const double d = x - c;
    const double n = -(d * d);
    const double s = (sigma * sigma) * 2.0;
    return quvExp(n / s);
}

#endif
