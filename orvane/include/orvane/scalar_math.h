/// @file
/// The host's scalar math library. Inline so that a module's inner loops pay
/// no call for it. quvIsNaN, quvAbs, quvRound and quvMin are exact IEEE
/// operations, the same bits everywhere. quvExp is ours (scalar_exp.h): not
/// correctly rounded, but the same bits on every machine and C library.
/// quvPow still comes from the C library (libm), whose pow may change in the
/// last bit between libm versions or machines, so gbellmf's results are
/// bit-identical only against the same libm.
#ifndef ORVANE_SCALAR_MATH_H
#define ORVANE_SCALAR_MATH_H

#include <cmath>

// An x86-64 build for any processor calls the C library for each fma, which
// would triple exp's time: a clone for processors with FMA, picked once at
// load time, does them in one instruction each, with the same bits. Not under
// Clang, whose resolver for a static clone is defined once per file and
// collides at link time, nor under a sanitizer, whose instrumented resolver
// runs during relocation, before the sanitizer's run-time is set up.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__FMA__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define QUV_EXP_INLINE static inline __attribute__((always_inline))
#include "orvane/scalar_exp.h"
/// e to the power x, with the same bits on every machine.
__attribute__((target_clones("fma", "default"))) static inline double quvExp(double x) { return quvExpC99(x); }
#else
#include "orvane/scalar_exp.h"
/// e to the power x, with the same bits on every machine.
static inline double quvExp(double x) { return quvExpC99(x); }
#endif

/// x to the power y (the C library's).
inline double quvPow(double x, double y) { return std::pow(x, y); }
/// Whether x is NaN.
inline bool quvIsNaN(double x) { return x != x; }
/// The absolute value.
inline double quvAbs(double x) { return std::fabs(x); }
/// x rounded to the nearest integer, halves away from zero.
inline double quvRound(double x) { return std::round(x); }
/// The smaller of two values; a NaN operand yields the other one, and a tie
/// (including +0 against -0) keeps the first.
inline double quvMin(double a, double b) { return (b < a || a != a) ? b : a; }

#endif
