// The rules of the three most used shapes, shared by their point and row
// forms and by the input cache, which evaluates them in place: one body
// each, so every caller gets the same bits.
#ifndef FAZOLT_MEMBERSHIP_SHAPERULES_H
#define FAZOLT_MEMBERSHIP_SHAPERULES_H

#include "host/runtime.h"

// Both sides are open intervals, so x = a and x = c give 0. A zero-width side
// is skipped rather than divided by, and x = b gives 1 even then. NaN fails
// every comparison and gives 0.
// rise = 1 / (b - a) and fall = 1 / (c - b), which a plan can compute once.
inline double trimfRuleWithSlopes(double x, double a, double b, double c, double rise, double fall) {
    double y = 0.0;
    if (a != b && a < x && x < b) y = rise * (x - a);
    if (b != c && b < x && x < c) y = fall * (c - x);
    if (x == b) y = 1.0;
    return y;
}

inline double trimfRule(double x, double a, double b, double c) {
    return trimfRuleWithSlopes(x, a, b, c, 1.0 / (b - a), 1.0 / (c - b));
}

// The rising ramp is closed at a and open at b, the falling ramp open at c
// and closed at d; a zero-width ramp is a step and is never divided by.
// Each later test overwrites the earlier one, so their order matters.
// rise = 1 / (b - a) and fall = 1 / (d - c), which a plan can compute once.
inline double trapmfRuleWithSlopes(double x, double a, double b, double c, double d, double rise, double fall) {
    double y1 = 0.0;
    if (x >= b) y1 = 1.0;
    if (x < a) y1 = 0.0;
    if (x >= a && x < b && a != b) y1 = rise * (x - a);

    double y2 = 0.0;
    if (x <= c) y2 = 1.0;
    if (x > d) y2 = 0.0;
    if (x > c && x <= d && c != d) y2 = fall * (d - x);

    return quvMin(y1, y2);  // y1 first: a tie keeps it
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
