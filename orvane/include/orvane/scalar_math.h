/// @file
/// The host's scalar math library. Inline so that a module's inner loops pay
/// no call for it. quvIsNaN, quvAbs, quvRound and quvMin are exact IEEE
/// operations, the same bits everywhere. quvExp and quvPow are not: they come
/// from the C library (libm), whose exp and pow are not correctly rounded and
/// may change in the last bit between libm versions or machines. Results
/// that pass through them (gaussmf, gbellmf, the sigmoids, gauss2mf) are
/// bit-identical only against the same libm.
#ifndef ORVANE_SCALAR_MATH_H
#define ORVANE_SCALAR_MATH_H

#include <cmath>

/// e to the power x.
inline double quvExp(double x) { return std::exp(x); }
/// x to the power y.
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
