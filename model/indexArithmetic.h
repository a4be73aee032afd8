// Index arithmetic on the record's 32-bit counts: saturates at the int32
// limits instead of wrapping, so a corrupt count cannot turn into a small
// in-range index.
#ifndef FAZOLT_MODEL_INDEXARITHMETIC_H
#define FAZOLT_MODEL_INDEXARITHMETIC_H

#include "model/dynArray.h"

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

// The one rule from a stored rule entry to a membership-function number:
// the validator bounds it, the evaluation and the caches read by it.
// |v| rounded half away from zero, NaN gives 0 (no term), magnitudes of
// 2^31 and beyond give INT32_MAX. A Sugeno consequent has no complement
// form; the boundary refuses a negative one, so its magnitude is the value.
inline int32_t magnitudeIndex(double v) {
    const double k = quvRound(quvAbs(v));
    if (quvIsNaN(k)) return 0;
    if (k >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(k);  // 0 <= k < 2^31: exact
}

// The 1-based position of function k of a variable whose functions follow
// numCum others in a flat cache (numCumInputMFs, numCumOutputMFs). Only
// 1 .. the cache's length is inside it; the validator makes every counted
// function land there.
inline int32_t cachePosition(int32_t numCum, int32_t k) { return addSaturated(numCum, k); }

// The length of a flat cache: the counts added in double precision in
// index order, then truncated; a total outside 0 .. 2^31-1 saturates
// instead of overflowing the cast.
inline int32_t sumOfCounts(const DynArray<int32_t> *counts) {
    double total = 0.0;
    const int32_t n = numel(counts);
    for (int32_t k = 0; k < n; ++k) total = total + static_cast<double>(counts->data[k]);
    if (total >= 2147483647.0) return INT32_MAX;
    if (total <= 0.0) return 0;
    return static_cast<int32_t>(total);
}

#endif
