// Index arithmetic on the record's 32-bit counts: saturates at the int32
// limits instead of wrapping, so a corrupt count cannot turn into a small
// in-range index.
#ifndef FAZOLT_MODEL_INDEXARITHMETIC_H
#define FAZOLT_MODEL_INDEXARITHMETIC_H

#include <orvane/scalar_math.h>

#include <cstdint>

inline int32_t saturateToInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

inline int32_t addSaturated(int32_t a, int32_t b) { return saturateToInt32(static_cast<int64_t>(a) + b); }

// Whether a working array of n elements can be sized at all: the planned
// fast paths step aside for records whose arrays would pass the limit.
inline bool fitsElementCount(int64_t n) { return n >= 0 && n <= INT32_MAX; }

// A stored membership-function number: |v| rounded half away from zero,
// NaN gives 0 (no term), magnitudes of 2^31 and beyond give INT32_MAX.
inline int32_t magnitudeIndex(double v) {
    const double k = quvRound(quvAbs(v));
    if (quvIsNaN(k)) return 0;
    if (k >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(k);  // 0 <= k < 2^31: exact
}

#endif
