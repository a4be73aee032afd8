// The lane kernel, written once and compiled once per instruction set:
// the including object defines FAZOLT_LANE_PAIRS and its compile flags.
//
// Every step is the row path's operation on a vector whose lanes are rows.
// A branch becomes a select of computed candidates; a comparison keeps the
// row path's operand order, so NaN and -0 come out as they do there. No
// reciprocal is formed unless the row path forms it, exp fuses exactly
// where the host's does, and -ffp-contract=off keeps every other product
// and sum apart.
//
// Sections: vectors, membership, rule firing, Mamdani sets and centroids,
// the block loop.
#ifndef FAZOLT_CODEGEN_LANES_ROWLANESKERNEL_H
#define FAZOLT_CODEGEN_LANES_ROWLANESKERNEL_H

#include "codegen/applyOperators.h"
#include "codegen/lanes/rowLanes.h"
#include "codegen/private/caches.h"
#include "codegen/private/sugenoOutputs.h"
#include "orvane/scalar_exp.h"

#include <immintrin.h>

#include <cmath>
#include <cstring>

#ifndef FAZOLT_LANE_PAIRS
#error "define FAZOLT_LANE_PAIRS (1: a block in two AVX2 registers, 0: in one AVX-512 register) first"
#endif

// Internal linkage throughout: these functions are compiled with the
// object's instruction set, so no copy of them may be shared with, and
// picked by the linker for, code that runs on any processor.
//
// A pair of vectors passed to a function that is not inlined travels
// through memory, so the pair kernel inlines everything into its entry
// point; a single register travels in the register.
#if FAZOLT_LANE_PAIRS
#define FAZOLT_LANE_INLINE inline __attribute__((always_inline))
#else
#define FAZOLT_LANE_INLINE inline
#endif

namespace {

// ---- Vectors: one lane a row. Aligned to a double only: the input
// columns are the host's, at any row (working storage starts on a cache
// line, but only for speed).

constexpr int kWidth = 8;  // rows a block, at either level

#if FAZOLT_LANE_PAIRS
// A block of twice the registers' width, as two registers: every operation
// is one instruction a half, and the halves' chains of dependent steps (a
// centroid's sums, the rule loop's total) overlap. The compilers' own
// lowering of vectors wider than the instruction set goes through memory.
typedef double Half __attribute__((vector_size(32), aligned(8)));
typedef double HalfOfDoubles __attribute__((vector_size(32), aligned(8), may_alias));
typedef int64_t HalfMask __attribute__((vector_size(32), aligned(8)));
struct Vd {
    Half lo, hi;
};
struct Vm {
    HalfMask lo, hi;
};

#define FAZOLT_LANE_PAIR_OPERATOR(Result, Operand, op) \
    FAZOLT_LANE_INLINE Result operator op(Operand a, Operand b) { return Result{a.lo op b.lo, a.hi op b.hi}; }
FAZOLT_LANE_PAIR_OPERATOR(Vd, Vd, +)
FAZOLT_LANE_PAIR_OPERATOR(Vd, Vd, -)
FAZOLT_LANE_PAIR_OPERATOR(Vd, Vd, *)
FAZOLT_LANE_PAIR_OPERATOR(Vd, Vd, /)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, <)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, >)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, <=)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, >=)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, ==)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vd, !=)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vm, &)
FAZOLT_LANE_PAIR_OPERATOR(Vm, Vm, |)
#undef FAZOLT_LANE_PAIR_OPERATOR
FAZOLT_LANE_INLINE Vd operator-(Vd a) { return Vd{-a.lo, -a.hi}; }
FAZOLT_LANE_INLINE Vm operator~(Vm m) { return Vm{~m.lo, ~m.hi}; }

FAZOLT_LANE_INLINE Vd splat(double s) {
    const Half h = {s, s, s, s};
    return Vd{h, h};
}

FAZOLT_LANE_INLINE Vd loadLanes(const double *p) {
    return Vd{*reinterpret_cast<const HalfOfDoubles *>(p), *reinterpret_cast<const HalfOfDoubles *>(p + 4)};
}

FAZOLT_LANE_INLINE void storeLanes(double *p, Vd a) {
    *reinterpret_cast<HalfOfDoubles *>(p) = a.lo;
    *reinterpret_cast<HalfOfDoubles *>(p + 4) = a.hi;
}

FAZOLT_LANE_INLINE Vd select(Vm m, Vd a, Vd b) { return Vd{m.lo ? a.lo : b.lo, m.hi ? a.hi : b.hi}; }

// Lanes holding +0 exactly (all bits clear).
FAZOLT_LANE_INLINE Vm isPlusZero(Vd a) { return Vm{(HalfMask)a.lo == 0, (HalfMask)a.hi == 0}; }

FAZOLT_LANE_INLINE unsigned laneBits(Vm m) {
    return static_cast<unsigned>(_mm256_movemask_pd((__m256d)m.lo)) |
           static_cast<unsigned>(_mm256_movemask_pd((__m256d)m.hi)) << 4;
}
#else
typedef double Vd __attribute__((vector_size(8 * kWidth), aligned(8)));
// For reading lanes out of arrays of doubles; Vd itself aliases nothing
// else, so that stores into working storage do not force the kernel to read
// the system's fields again.
typedef double VdOfDoubles __attribute__((vector_size(8 * kWidth), aligned(8), may_alias));
typedef int64_t Vm __attribute__((vector_size(8 * kWidth), aligned(8)));

// An initialiser list, which compilers turn into one broadcast (a loop over
// the lanes became one masked broadcast a lane at -O3).
FAZOLT_LANE_INLINE Vd splat(double s) { return Vd{s, s, s, s, s, s, s, s}; }

// One load: a copy through memory in pieces would stall the load.
FAZOLT_LANE_INLINE Vd loadLanes(const double *p) { return *reinterpret_cast<const VdOfDoubles *>(p); }

FAZOLT_LANE_INLINE void storeLanes(double *p, Vd a) { *reinterpret_cast<VdOfDoubles *>(p) = a; }

// Bit for bit a where m is set, else b: one blend instruction.
FAZOLT_LANE_INLINE Vd select(Vm m, Vd a, Vd b) { return m ? a : b; }

// Lanes holding +0 exactly (all bits clear).
FAZOLT_LANE_INLINE Vm isPlusZero(Vd a) { return (Vm)a == 0; }

// The lanes of a mask as bits, lane 0 lowest: one instruction.
FAZOLT_LANE_INLINE unsigned laneBits(Vm m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m); }
#endif

FAZOLT_LANE_INLINE Vm isNaN(Vd a) { return a != a; }

FAZOLT_LANE_INLINE bool anyLane(Vm m) { return laneBits(m) != 0; }

FAZOLT_LANE_INLINE int firstLane(Vm m) {
    const unsigned bits = laneBits(m);
    return bits == 0 ? kWidth : __builtin_ctz(bits);
}

// ---- Membership: the shape rules of the row path, branch by branch.

FAZOLT_LANE_INLINE Vd trimfLanes(Vd x, const double *p) {
    const double a = p[0], b = p[1], c = p[2];
    Vd y = splat(0.0);
    if (a != b) y = select((splat(a) < x) & (x < splat(b)), splat(1.0 / (b - a)) * (x - splat(a)), y);
    if (b != c) y = select((splat(b) < x) & (x < splat(c)), splat(1.0 / (c - b)) * (splat(c) - x), y);
    return select(x == splat(b), splat(1.0), y);
}

FAZOLT_LANE_INLINE Vd trapmfLanes(Vd x, const double *p) {
    const double a = p[0], b = p[1], c = p[2], d = p[3];
    Vd y1 = splat(0.0);
    y1 = select(x >= splat(b), splat(1.0), y1);
    y1 = select(x < splat(a), splat(0.0), y1);
    if (a != b) y1 = select((x >= splat(a)) & (x < splat(b)), splat(1.0 / (b - a)) * (x - splat(a)), y1);
    Vd y2 = splat(0.0);
    y2 = select(x <= splat(c), splat(1.0), y2);
    y2 = select(x > splat(d), splat(0.0), y2);
    if (c != d) y2 = select((x > splat(c)) & (x <= splat(d)), splat(1.0 / (d - c)) * (splat(d) - x), y2);
    return select((y2 < y1) | isNaN(y1), y2, y1);  // the row path's min: y1 first
}

// ---- exp: the host's quvExp (orvane/scalar_exp.h) step by step on a
// register of lanes, the table read by gathers. Lanes whose argument takes
// the scalar function's out-of-range path are done by it, one by one.

#if FAZOLT_LANE_PAIRS
typedef Half ExpLanes;
typedef HalfMask ExpBits;
FAZOLT_LANE_INLINE ExpLanes fmaLanes(ExpLanes a, ExpLanes b, ExpLanes c) {
    return (ExpLanes)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
FAZOLT_LANE_INLINE ExpBits gatherExpTable(ExpBits index) {
    return (ExpBits)_mm256_i64gather_epi64(reinterpret_cast<const long long *>(quvExpTable), (__m256i)index, 8);
}
FAZOLT_LANE_INLINE bool anyExpLane(ExpBits m) { return _mm256_movemask_pd((__m256d)m) != 0; }
#else
typedef Vd ExpLanes;
typedef Vm ExpBits;
FAZOLT_LANE_INLINE ExpLanes fmaLanes(ExpLanes a, ExpLanes b, ExpLanes c) {
    return (ExpLanes)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}
FAZOLT_LANE_INLINE ExpBits gatherExpTable(ExpBits index) {
    // The masked form: GCC 12 takes the plain one's undefined source for a
    // variable used uninitialised.
    return (ExpBits)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xff, (__m512i)index, quvExpTable, 8);
}
FAZOLT_LANE_INLINE bool anyExpLane(ExpBits m) { return anyLane(m); }
#endif

FAZOLT_LANE_INLINE ExpLanes expOfLanes(ExpLanes x) {
    const ExpLanes zero = {};
    const ExpBits abstop = ((ExpBits)x >> 52) & 0x7ff;
    const ExpLanes kd0 = fmaLanes(zero + QUV_EXP_INV_LN2_N, x, zero + QUV_EXP_SHIFT);
    const ExpBits ki = (ExpBits)kd0;
    const ExpLanes kd = kd0 - QUV_EXP_SHIFT;
    const ExpLanes r = fmaLanes(kd, zero + QUV_EXP_NEG_LN2_LO_N, fmaLanes(kd, zero + QUV_EXP_NEG_LN2_HI_N, x));
    const ExpBits index = (ki & 127) * 2;
    const ExpLanes tail = (ExpLanes)gatherExpTable(index);
    // The scale's bits wrap as the scalar function's unsigned ones do (signed, they would overflow).
    typedef unsigned long long ExpUnsigned __attribute__((vector_size(sizeof(ExpBits))));
    const ExpLanes scale = (ExpLanes)((ExpUnsigned)gatherExpTable(index + 1) + ((ExpUnsigned)ki << 45));
    const ExpLanes r2 = r * r;
    const ExpLanes p23 = fmaLanes(r, zero + QUV_EXP_C3, zero + QUV_EXP_C2);
    const ExpLanes p45 = fmaLanes(r, zero + QUV_EXP_C5, zero + QUV_EXP_C4);
    const ExpLanes tmp = fmaLanes(r2 * r2, p45, fmaLanes(r2, p23, tail + r));
    ExpLanes y = fmaLanes(scale, tmp, scale);
    // |x| < 2^-54: 1 + x. Beyond the range of results: 0 or infinity.
    y = (abstop < 0x3c9) ? x + 1.0 : y;
    y = (x < -746.0) ? zero : y;
    y = (x > 710.0) ? zero + HUGE_VAL : y;
    // |x| >= 512 otherwise, or NaN.
    const ExpBits rest = (abstop >= 0x408) & ~((x < -746.0) | (x > 710.0));
    if (anyExpLane(rest)) {
        constexpr int kLanes = sizeof(ExpLanes) / sizeof(double);
        for (int k = 0; k < kLanes; ++k)
            if (rest[k]) y[k] = quvExpC99(x[k]);
    }
    return y;
}

#if FAZOLT_LANE_PAIRS
FAZOLT_LANE_INLINE Vd expLanes(Vd x) { return Vd{expOfLanes(x.lo), expOfLanes(x.hi)}; }
#else
FAZOLT_LANE_INLINE Vd expLanes(Vd x) { return expOfLanes(x); }
#endif

FAZOLT_LANE_INLINE void expBlocks(const double *x, int32_t n, double *y) {
    for (int32_t i = 0; i + kWidth <= n; i += kWidth) storeLanes(y + i, expLanes(loadLanes(x + i)));
}

FAZOLT_LANE_INLINE Vd gaussmfLanes(Vd x, const double *p) {
    const Vd d = x - splat(p[1]);
    const Vd n = -(d * d);
    const double s = (p[0] * p[0]) * 2.0;
    return expLanes(n / splat(s));
}

// Masks travel by value, never through the address of a local: with the
// sanitizers' fake stack, a local vector need not have the alignment that
// the compiler's stores to it assume.

// The block's degree table (the row path's layout: degrees, complements,
// 1, 0, NaN, 1 - NaN); returns the out-of-range rows' mask.
FAZOLT_LANE_INLINE Vm fillDegreesLanes(const LaneSystem *ls, int32_t row, Vd *d) {
    Vm stop = splat(0.0) != splat(0.0);
    int32_t entry = 0;
    for (int32_t i = 0; i < ls->numInputs; ++i) {
        const Vd x = loadLanes(ls->inputs + row + static_cast<int64_t>(i) * ls->numRows);
        if (ls->stopsOutOfRange) {
            const Vd lo = splat(ls->inputRange[i]);
            const Vd hi = splat(ls->inputRange[i + ls->rangeStride]);
            stop = stop | (lo > x) | (x > hi);
        }
        const int32_t offset = ls->shapeOffsets[i];
        for (int32_t j = 0; j < ls->numInputMFs[i]; ++j, ++entry) {
            const double *p = ls->shapeParams + 4 * static_cast<int64_t>(offset + j);
            switch (ls->shapes[offset + j]) {
                case kTriangle: d[entry] = trimfLanes(x, p); break;
                case kTrapezoid: d[entry] = trapmfLanes(x, p); break;
                default: d[entry] = gaussmfLanes(x, p); break;  // kGaussian: the plan admits no other
            }
        }
    }
    const int32_t n = ls->cacheLength;
    if (ls->readsComplements)
        for (int32_t k = 0; k < n; ++k) d[n + k] = splat(1.0) - d[k];
    const DegreeTableEntries &fixed = ls->layout.degrees;
    d[fixed.one] = splat(1.0);
    d[fixed.zero] = splat(0.0);
    d[fixed.nan] = splat(ls->nan);
    d[fixed.notNaN] = splat(1.0) - d[fixed.nan];
    return stop;
}

// ---- Rule firing: the NaN-aware steps throughout, which are the row
// path's plain steps when no degree is NaN.

template <AndMethod A>
FAZOLT_LANE_INLINE Vd andStepLanes(Vd acc, Vd x) {
    if (A == AndMethod::Prod) return acc * x;
    const Vd smaller = select(x < acc, x, acc);
    return select(isNaN(acc), select(isNaN(x), acc, x), smaller);
}

template <OrMethod O>
FAZOLT_LANE_INLINE Vd orStepLanes(Vd acc, Vd x) {
    switch (O) {
        case OrMethod::Max: {
            const Vd larger = select(x > acc, x, acc);
            return select(isNaN(acc), select(isNaN(x), acc, x), larger);
        }
        case OrMethod::Probor: {
            const Vd sumTerm = acc + x;
            const Vd productTerm = acc * x;
            return sumTerm - productTerm;
        }
        default: return acc + x;
    }
}

struct FiringLanes {
    Vd total;
    Vm plain;
};

// Fills strength (numRules vectors); returns the total, and for Mamdani
// plain marking the lanes whose every strength is +0 or positive. N is the number of inputs
// when small enough to unroll, else 0.
template <int N, AndMethod A, OrMethod O>
FAZOLT_LANE_INLINE FiringLanes fireRulesLanes(const LaneSystem *ls, const Vd *d, Vd *strength, int32_t *fired,
                                              int32_t *numFired) {
    int32_t count = 0;
    const int32_t numInputs = N > 0 ? N : ls->numInputs;
    Vd total = splat(0.0);
    Vm isPlain = splat(0.0) == splat(0.0);
    for (int32_t r = 0; r < ls->numRules; ++r) {
        const int32_t *entries = ls->ruleDegrees + static_cast<int64_t>(r) * numInputs;
        Vd acc = d[entries[0]];
        if (ls->connection[r] == 1.0) {
            for (int32_t i = 1; i < numInputs; ++i) acc = andStepLanes<A>(acc, d[entries[i]]);
        } else {
            for (int32_t i = 1; i < numInputs; ++i) acc = orStepLanes<O>(acc, d[entries[i]]);
        }
        const Vd weighted = acc * splat(ls->weight[r]);
        strength[r] = weighted;
        total = total + weighted;
        if (ls->isSugeno) continue;  // the Mamdani sets' inputs
        isPlain = isPlain & ((weighted > splat(0.0)) | isPlusZero(weighted));
        fired[count] = r;
        count += anyLane(weighted > splat(0.0)) ? 1 : 0;
    }
    *numFired = count;
    return FiringLanes{total, isPlain};
}

// ---- Mamdani: the grouped aggregation and the centroid on the support.
// Lanes are plain here, so a set's strongest rule is the largest strength
// of the rules that share it, +0 when none fired (a set then adds nothing),
// and each lane's sums over the union of the lanes' supports only add +0
// terms outside its own, as the row path's sums over wider ranges do.

// Output t's crisp values; empty marks the lanes whose set has zero area.
// Only the rules of positive strength in some lane (fired) are read: any
// other adds +0 to every set.
struct CentroidLanes {
    Vd y;
    Vm empty;
};

FAZOLT_LANE_INLINE CentroidLanes centroidLanes(const LaneSystem *ls, int32_t t, const Vd *strength,
                                               const int32_t *fired, int32_t numFired, Vd *groups, Vd *set) {
    const int32_t numSamples = ls->numSamples;
    const int32_t numRules = ls->numRules;
    const int32_t numSets = ls->numSets;
    const int32_t *codes = ls->consequentRows + static_cast<int64_t>(t) * numRules;
    for (int32_t g = 0; g < numSets; ++g) groups[g] = splat(0.0);
    for (int32_t k = 0; k < numFired; ++k) {
        const int32_t r = fired[k];
        const int32_t code = codes[r];
        if (code == 0) continue;
        const int32_t g = 2 * ((code < 0 ? -code : code) - 1) + (code < 0 ? 1 : 0);
        groups[g] = select(strength[r] > groups[g], strength[r], groups[g]);
    }
    // The sums read the samples of the applied sets' supports only: just
    // those start at +0, written by the first applied set's own pass.
    int32_t first = numSamples;
    int32_t end = 0;
    for (int32_t g = 0; g < numSets; ++g) {
        if (!anyLane(groups[g] > splat(0.0))) continue;
        const int32_t from = ls->setSupport[2 * g];
        const int32_t to = ls->setSupport[2 * g + 1];
        first = from < first ? from : first;
        end = to > end ? to : end;
    }
    bool started = false;
    for (int32_t g = 0; g < numSets; ++g) {
        const Vd w = groups[g];
        if (!anyLane(w > splat(0.0))) continue;
        const double *mu = ls->setValues + static_cast<int64_t>(g) * numSamples;
        const int32_t from = ls->setSupport[2 * g];
        const int32_t to = ls->setSupport[2 * g + 1];
        if (!started) {
            for (int32_t q = first; q < from; ++q) set[q] = splat(0.0);
            for (int32_t q = from; q < to; ++q) {
                const Vd m = splat(mu[q]);
                const Vd v = select(m > w, w, m);
                set[q] = select(v > splat(0.0), v, splat(0.0));
            }
            for (int32_t q = to; q < end; ++q) set[q] = splat(0.0);
            started = true;
            continue;
        }
        for (int32_t q = from; q < to; ++q) {
            const Vd m = splat(mu[q]);
            const Vd v = select(m > w, w, m);
            set[q] = select(v > set[q], v, set[q]);
        }
    }
    Vd total = splat(0.0);
    Vd num = splat(0.0);
    const double *points = ls->samplePoints + t;
    for (int32_t q = first; q < end; ++q) {
        total = total + set[q];
        num = num + set[q] * splat(points[static_cast<int64_t>(q) * ls->pointStride]);
    }
    const Vm isEmpty = total == splat(0.0);
    return CentroidLanes{select(isEmpty, splat(ls->zeroAreaValues[t]), num * (splat(1.0) / total)), isEmpty};
}

// ---- Sugeno: the column sums straight from the output function values.

// The output function values of the block's rows: coefficients first, in
// input order, then the constant term.
template <int N>
FAZOLT_LANE_INLINE void fillOutputValuesLanes(const LaneSystem *ls, int32_t row, Vd *values) {
    const int32_t n = N > 0 ? N : ls->numInputs;
    for (int32_t k = 0; k < ls->numOutputFunctions; ++k) {
        const double *p = ls->outputCoefficients + static_cast<int64_t>(k) * (n + 1);
        Vd z = splat(0.0);
        if (ls->outputKinds[k] == kSugenoLinear) {
            Vd sum = splat(0.0);
            for (int32_t i = 0; i < n; ++i)
                sum = sum + loadLanes(ls->inputs + row + static_cast<int64_t>(i) * ls->numRows) * splat(p[i]);
            z = sum + splat(p[n]);
        } else if (ls->outputKinds[k] == kSugenoConstant) {
            z = splat(p[0]);
        }
        values[k] = z;
    }
}

FAZOLT_LANE_INLINE Vd sugenoSumLanes(const LaneSystem *ls, int32_t o, const Vd *values, const Vd *strength) {
    const int32_t *entries = ls->sugenoEntries + static_cast<int64_t>(o) * ls->numRules;
    Vd sum = entries[0] < 0 ? splat(0.0) : values[entries[0]] * strength[0];
    for (int32_t r = 1; r < ls->numRules; ++r)
        sum = sum + (entries[r] < 0 ? splat(0.0) : values[entries[r]] * strength[r]);
    if (ls->addsZeroRows) sum = sum + splat(0.0);  // only a -0 sum changes
    return sum;
}

// The Mamdani methods see a one-point set: the point a with membership T.
FAZOLT_LANE_INLINE Vd sugenoDefuzzifyLanes(const LaneSystem *ls, Vd a, Vd T) {
    switch (ls->method) {
        case DefuzzMethod::Wtaver: return (splat(1.0) / T) * a;
        case DefuzzMethod::Centroid: return (T * a) * (splat(1.0) / T);
        case DefuzzMethod::Mom: return select(isNaN(T), splat(ls->nan), a);
        default: return a;  // wtsum, bisector, som, lom
    }
}

// ---- The block loop.

// The outputs of the block's first numDone rows; returns numDone.
FAZOLT_LANE_INLINE int writeLanes(const LaneSystem *ls, int32_t row, const Vd *crispLanes, int numDone, double *crisp) {
    for (int32_t t = 0; t < ls->numOutputs; ++t) {
        double *column = crisp + row + static_cast<int64_t>(t) * ls->numRows;
        double lanes[kWidth];
        storeLanes(lanes, crispLanes[t]);
        for (int k = 0; k < numDone; ++k) column[k] = lanes[k];
    }
    return numDone;
}

// One block of kWidth rows from row; returns how many of them, from the
// first, it wrote.
template <int N, AndMethod A, OrMethod O>
FAZOLT_LANE_INLINE int runBlock(const LaneSystem *ls, int32_t row, double *crisp) {
    Vd *d = reinterpret_cast<Vd *>(ls->work);
    Vd *strength = d + ls->layout.strengths;
    Vd *groups = d + ls->layout.groups;
    Vd *set = d + ls->layout.set;
    Vd *crispLanes = d + ls->layout.crisp;
    int32_t *fired = reinterpret_cast<int32_t *>(d + ls->layout.fired);
    int32_t numFired = 0;

    Vm stop = fillDegreesLanes(ls, row, d);
    const FiringLanes firing = fireRulesLanes<N, A, O>(ls, d, strength, fired, &numFired);
    const Vd total = firing.total;
    const Vm plain = firing.plain;
    const Vm noneFired = total == splat(0.0);
    if (ls->stopsNoRuleFired) stop = stop | noneFired;
    if (ls->isSugeno) {
        fillOutputValuesLanes<N>(ls, row, groups);
        for (int32_t o = 0; o < ls->numOutputs; ++o) {
            const Vd y = sugenoDefuzzifyLanes(ls, sugenoSumLanes(ls, o, groups, strength), total);
            crispLanes[o] = select(noneFired, splat(ls->noRuleValues[o]), y);
        }
        return writeLanes(ls, row, crispLanes, firstLane(stop), crisp);
    }
    stop = stop | ~plain;  // the grouped path needs plain strengths
    int numDone = firstLane(stop);
    if (numDone == 0) return 0;
    for (int32_t t = 0; t < ls->numOutputs; ++t) {
        const CentroidLanes c = centroidLanes(ls, t, strength, fired, numFired, groups, set);
        crispLanes[t] = select(noneFired, splat(ls->noRuleValues[t]), c.y);
        if (ls->stopsEmptySet) stop = stop | (c.empty & ~noneFired);
    }
    return writeLanes(ls, row, crispLanes, firstLane(stop), crisp);
}

template <int N, AndMethod A, OrMethod O>
FAZOLT_LANE_INLINE int32_t runBlocksFor(const LaneSystem *ls, int32_t first, int32_t end, double *crisp) {
    int32_t row = first;
    while (row + kWidth <= end) {
        const int numDone = runBlock<N, A, O>(ls, row, crisp);
        row += numDone;
        if (numDone < kWidth) break;
    }
    return row - first;
}

// The connectives and up to four inputs fixed at compile time, as the row
// path's rule firing has them.
template <int N, AndMethod A>
FAZOLT_LANE_INLINE int32_t runBlocksWithOr(const LaneSystem *ls, int32_t first, int32_t end, double *crisp) {
    switch (ls->orMethod) {
        case OrMethod::Max: return runBlocksFor<N, A, OrMethod::Max>(ls, first, end, crisp);
        case OrMethod::Probor: return runBlocksFor<N, A, OrMethod::Probor>(ls, first, end, crisp);
        default: return runBlocksFor<N, A, OrMethod::Sum>(ls, first, end, crisp);
    }
}

template <int N>
FAZOLT_LANE_INLINE int32_t runBlocksWithAnd(const LaneSystem *ls, int32_t first, int32_t end, double *crisp) {
    if (ls->andMethod == AndMethod::Min) return runBlocksWithOr<N, AndMethod::Min>(ls, first, end, crisp);
    return runBlocksWithOr<N, AndMethod::Prod>(ls, first, end, crisp);
}

FAZOLT_LANE_INLINE int32_t runBlocks(const LaneSystem *ls, int32_t first, int32_t end, double *crisp) {
    switch (ls->numInputs) {
        case 1: return runBlocksWithAnd<1>(ls, first, end, crisp);
        case 2: return runBlocksWithAnd<2>(ls, first, end, crisp);
        case 3: return runBlocksWithAnd<3>(ls, first, end, crisp);
        case 4: return runBlocksWithAnd<4>(ls, first, end, crisp);
        default: return runBlocksWithAnd<0>(ls, first, end, crisp);
    }
}

}  // namespace

#endif
