// The fixed part of every exported C file: the evaluation of one row, written
// once and emitted verbatim after the system's tables. The generator sets the
// FZ_ macros that select the methods and the membership functions the system
// uses, so a file holds only the functions it calls. Every operation follows
// the module's own order and form (reciprocal then multiply, sums started
// from the first term, NaN rules of min and max), so that the bits agree.
#ifndef FAZOLT_API_CRUNTIME_H
#define FAZOLT_API_CRUNTIME_H

namespace fazolt {

// Before the tables: the number type and the membership kinds they use.
inline constexpr char kCRuntimeTypes[] = R"FZRUNTIME(
#if FZ_FLOAT
typedef float fz_real;
#define FZ_C(x) x##f
#else
typedef double fz_real;
#define FZ_C(x) x
#endif

#define FZ_TRIMF 0
#define FZ_TRAPMF 1
#define FZ_GAUSSMF 2
#define FZ_GBELLMF 3
#define FZ_SIGMF 4
#define FZ_SMF 5
#define FZ_ZMF 6
#define FZ_GAUSS2MF 7
#define FZ_DSIGMF 8
#define FZ_PSIGMF 9
#define FZ_PIMF 10

)FZRUNTIME";

// After the tables: the functions.
inline constexpr char kCRuntime[] = R"FZRUNTIME(
/* ---- The runtime: the same text in every generated file. ---- */


static int fz_isnan(fz_real x) { return x != x; }
static int fz_isfinite(fz_real x) { return x - x == FZ_C(0.0); }

/* The one place each library function is called. In double precision exp is
   fazolt's own (above), the same bits on every target; pow and the
   single-precision expf are the C library's. */
#if FZ_USES_EXP
static fz_real fz_exp(fz_real x) {
#if FZ_FLOAT
    return expf(x);
#else
    return quvExpC99(x);
#endif
}
#endif
#if FZ_USES_POW
static fz_real fz_pow(fz_real x, fz_real y) {
#if FZ_FLOAT
    return powf(x, y);
#else
    return pow(x, y);
#endif
}
#endif

/* ---- Membership functions: p holds the parameters in order. */

#if FZ_USE_TRIMF
/* Open on both sides; a zero-width side is never divided by. */
static fz_real fz_trimf(fz_real x, const fz_real *p) {
    fz_real y = FZ_C(0.0);
    if (p[0] != p[1] && p[0] < x && x < p[1]) y = (FZ_C(1.0) / (p[1] - p[0])) * (x - p[0]);
    if (p[1] != p[2] && p[1] < x && x < p[2]) y = (FZ_C(1.0) / (p[2] - p[1])) * (p[2] - x);
    if (x == p[1]) y = FZ_C(1.0);
    return y;
}
#endif

#if FZ_USE_TRAPMF
/* Each later test overwrites the earlier one; a tie of the two ramps keeps
   the rising one, a NaN ramp gives the other. */
static fz_real fz_trapmf(fz_real x, const fz_real *p) {
    fz_real y1 = FZ_C(0.0), y2 = FZ_C(0.0);
    if (x >= p[1]) y1 = FZ_C(1.0);
    if (x < p[0]) y1 = FZ_C(0.0);
    if (x >= p[0] && x < p[1] && p[0] != p[1]) y1 = (FZ_C(1.0) / (p[1] - p[0])) * (x - p[0]);
    if (x <= p[2]) y2 = FZ_C(1.0);
    if (x > p[3]) y2 = FZ_C(0.0);
    if (x > p[2] && x <= p[3] && p[2] != p[3]) y2 = (FZ_C(1.0) / (p[3] - p[2])) * (p[3] - x);
    return (y2 < y1 || y1 != y1) ? y2 : y1;
}
#endif

#if FZ_USE_GAUSSMF
/* A direct quotient: sigma = 0 gives NaN at the centre, 0 elsewhere. */
static fz_real fz_gaussmf(fz_real x, const fz_real *p) {
    const fz_real d = x - p[1];
    const fz_real n = -(d * d);
    const fz_real s = (p[0] * p[0]) * FZ_C(2.0);
    return fz_exp(n / s);
}
#endif

#if FZ_USE_GBELLMF
static fz_real fz_gbellmf(fz_real x, const fz_real *p) {
    fz_real t = (x - p[2]) * (FZ_C(1.0) / p[0]);
    t = t * t;
    if (t <= FZ_C(0.0)) {
        if (p[1] == FZ_C(0.0)) return FZ_C(0.5);
        if (p[1] < FZ_C(0.0)) return FZ_C(0.0);
    }
    return FZ_C(1.0) / (fz_pow(t, p[1]) + FZ_C(1.0));
}
#endif

#if FZ_USE_SIGMF
static fz_real fz_sigmf(fz_real x, const fz_real *p) {
    const fz_real e = fz_exp((x - p[1]) * -p[0]);
    return FZ_C(1.0) / (e + FZ_C(1.0));
}
#endif

#if FZ_USE_SMF
static fz_real fz_smf(fz_real x, const fz_real *p) {
    const fz_real a = p[0], b = p[1];
    fz_real m, y = FZ_C(0.0), t;
    if (a >= b) return x >= (a + b) / FZ_C(2.0) ? FZ_C(1.0) : FZ_C(0.0);
    m = (a + b) / FZ_C(2.0);
    if (x > a && x <= m) {
        t = (FZ_C(1.0) / (b - a)) * (x - a);
        y = (t * FZ_C(2.0)) * t;
    }
    if (x > m && x <= b) {
        t = (FZ_C(1.0) / (b - a)) * (b - x);
        y = FZ_C(1.0) - (t * FZ_C(2.0)) * t;
    }
    if (x >= b) y = FZ_C(1.0);
    return y;
}
#endif

#if FZ_USE_ZMF
/* The reciprocal of a - b, not of b - a: its rounding is the one used. */
static fz_real fz_zmf(fz_real x, const fz_real *p) {
    const fz_real a = p[0], b = p[1];
    fz_real m, y = FZ_C(0.0), t;
    if (a >= b) return x <= (a + b) / FZ_C(2.0) ? FZ_C(1.0) : FZ_C(0.0);
    m = (a + b) / FZ_C(2.0);
    if (x <= a) y = FZ_C(1.0);
    if (x > a && x <= m) {
        t = (FZ_C(1.0) / (a - b)) * (x - a);
        y = FZ_C(1.0) - (t * FZ_C(2.0)) * t;
    }
    if (x > m && x <= b) {
        t = (FZ_C(1.0) / (a - b)) * (b - x);
        y = (t * FZ_C(2.0)) * t;
    }
    if (x >= b) y = FZ_C(0.0);
    return y;
}
#endif

#if FZ_USE_GAUSS2MF
/* Both Gaussians always evaluated: a NaN one spoils the product. */
static fz_real fz_gauss2mf(fz_real x, const fz_real *p) {
    const fz_real f1 = x <= p[1] ? FZ_C(1.0) : FZ_C(0.0);
    const fz_real f2 = x >= p[3] ? FZ_C(1.0) : FZ_C(0.0);
    const fz_real g2 = fz_gaussmf(x, p + 2);
    const fz_real g1 = fz_gaussmf(x, p);
    return (g1 * f1 + (FZ_C(1.0) - f1)) * (g2 * f2 + (FZ_C(1.0) - f2));
}
#endif

#if FZ_USE_DSIGMF
static fz_real fz_dsigmf(fz_real x, const fz_real *p) {
    const fz_real s1 = fz_sigmf(x, p);
    const fz_real s2 = fz_sigmf(x, p + 2);
#if FZ_FLOAT
    return fabsf(s1 - s2);
#else
    return fabs(s1 - s2);
#endif
}
#endif

#if FZ_USE_PSIGMF
static fz_real fz_psigmf(fz_real x, const fz_real *p) {
    const fz_real s1 = fz_sigmf(x, p);
    const fz_real s2 = fz_sigmf(x, p + 2);
    return s1 * s2;
}
#endif

#if FZ_USE_PIMF
static fz_real fz_pimf(fz_real x, const fz_real *p) {
    const fz_real s = fz_smf(x, p);
    const fz_real z = fz_zmf(x, p + 2);
    return s * z;
}
#endif

static fz_real fz_membership(unsigned char kind, fz_real x, const fz_real *p) {
    switch (kind) {
#if FZ_USE_TRIMF
    case FZ_TRIMF: return fz_trimf(x, p);
#endif
#if FZ_USE_TRAPMF
    case FZ_TRAPMF: return fz_trapmf(x, p);
#endif
#if FZ_USE_GAUSSMF
    case FZ_GAUSSMF: return fz_gaussmf(x, p);
#endif
#if FZ_USE_GBELLMF
    case FZ_GBELLMF: return fz_gbellmf(x, p);
#endif
#if FZ_USE_SIGMF
    case FZ_SIGMF: return fz_sigmf(x, p);
#endif
#if FZ_USE_SMF
    case FZ_SMF: return fz_smf(x, p);
#endif
#if FZ_USE_ZMF
    case FZ_ZMF: return fz_zmf(x, p);
#endif
#if FZ_USE_GAUSS2MF
    case FZ_GAUSS2MF: return fz_gauss2mf(x, p);
#endif
#if FZ_USE_DSIGMF
    case FZ_DSIGMF: return fz_dsigmf(x, p);
#endif
#if FZ_USE_PSIGMF
    case FZ_PSIGMF: return fz_psigmf(x, p);
#endif
#if FZ_USE_PIMF
    case FZ_PIMF: return fz_pimf(x, p);
#endif
    default: break;
    }
    return FZ_C(0.0); /* never reached: the tables hold only the kinds above */
}

/* ---- Rule firing. */

/* An antecedent entry: 0 tests nothing (1 under AND, 0 under OR), k the
   degree of input term k (from 1), -k its complement. */
static fz_real fz_ruleInput(const fz_real *degrees, fz_entry entry, int isAnd) {
    if (entry == 0) return isAnd ? FZ_C(1.0) : FZ_C(0.0);
    if (entry < 0) return FZ_C(1.0) - degrees[-entry - 1];
    return degrees[entry - 1];
}

/* min and max ignore NaN unless every value is NaN; a later value replaces
   the current one only when strictly better, so ties keep the first. */
static fz_real fz_and(fz_real acc, fz_real x) {
#if FZ_AND_PROD
    return acc * x;
#else
    if (fz_isnan(acc)) return fz_isnan(x) ? acc : x;
    return x < acc ? x : acc;
#endif
}

static fz_real fz_or(fz_real acc, fz_real x) {
#if FZ_OR_MAX
    if (fz_isnan(acc)) return fz_isnan(x) ? acc : x;
    return x > acc ? x : acc;
#elif FZ_OR_PROBOR
    const fz_real sumTerm = acc + x;
    const fz_real productTerm = acc * x;
    return sumTerm - productTerm;
#else
    return acc + x;
#endif
}

/* Fills strength[r]; returns their sum in rule order. */
static fz_real fz_fireRules(const fz_real *degrees, fz_real *strength) {
    fz_real total = FZ_C(0.0);
    int r, i;
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_entry *entries = fz_antecedent + r * FZ_NUM_INPUTS;
        const int isAnd = fz_isAndRule[r];
        fz_real acc = fz_ruleInput(degrees, entries[0], isAnd);
        for (i = 1; i < FZ_NUM_INPUTS; ++i) {
            const fz_real x = fz_ruleInput(degrees, entries[i], isAnd);
            acc = isAnd ? fz_and(acc, x) : fz_or(acc, x);
        }
        strength[r] = acc * fz_weight[r];
        total = total + strength[r];
    }
    return total;
}

#if FZ_MAMDANI
/* ---- Mamdani: each output's set over its sample points, then one crisp
   value. */

static fz_real fz_imply(fz_real mu, fz_real w) {
#if FZ_IMP_PROD
    return mu * w;
#else
    if (mu > w) return w;
    if (fz_isnan(mu) && !fz_isnan(w)) return w;
    return mu;
#endif
}

static fz_real fz_aggregate(fz_real acc, fz_real x) {
#if FZ_AGG_MAX
    if (x > acc || (fz_isnan(acc) && !fz_isnan(x))) return x;
    return acc;
#elif FZ_AGG_PROBOR
    return (x + acc) - x * acc;
#else
    return acc + x;
#endif
}

/* A consequent entry: 0 says nothing of the output (0), k the implied term
   k (from 1, counted over all outputs), -k its complement clamped at 0. */
#if FZ_MIN_MAX_PLAIN
static int fz_isPlain(fz_real w) { return w > FZ_C(0.0) || (w == FZ_C(0.0) && !signbit(w)); }

/* Min implication under max aggregation, with every output term value and
   every strength +0 or positive (no NaN, no -0): the max over the rules of
   min(mu, w) is the max over the terms concluded of min(mu, the largest w of
   the rules concluding it), and equal values have equal bits, so the set is
   the one rule by rule would give. Returns 0, untouched, for other rows. */
static int fz_aggregateByTerm(int o, const fz_real *strength, fz_real *set) {
    fz_real strongest[2 * FZ_NUM_OUTPUT_TERMS];
    int r, s, g;
    for (r = 0; r < FZ_NUM_RULES; ++r)
        if (!fz_isPlain(strength[r])) return 0;
    for (g = 0; g < 2 * FZ_NUM_OUTPUT_TERMS; ++g) strongest[g] = FZ_C(0.0);
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
        if (entry == 0) continue;
        g = 2 * ((entry < 0 ? -entry : entry) - 1) + (entry < 0 ? 1 : 0);
        if (strength[r] > strongest[g]) strongest[g] = strength[r];
    }
    for (s = 0; s < FZ_NUM_SAMPLES; ++s) set[s] = FZ_C(0.0);
    for (g = 0; g < 2 * FZ_NUM_OUTPUT_TERMS; ++g) {
        const fz_real w = strongest[g];
        const fz_real *mu = fz_outputTerms + (g / 2) * FZ_NUM_SAMPLES;
        if (w == FZ_C(0.0)) continue; /* min(mu, +0) is +0: nothing to add */
        for (s = 0; s < FZ_NUM_SAMPLES; ++s) {
            fz_real m = mu[s], v;
            if (g % 2 == 1) {
                const fz_real complement = FZ_C(1.0) - m;
                m = complement > FZ_C(0.0) ? complement : FZ_C(0.0);
            }
            v = m > w ? w : m;
            if (v > set[s]) set[s] = v;
        }
    }
    return 1;
}
#endif

static void fz_aggregateSet(int o, const fz_real *strength, fz_real *set) {
    int s, r;
#if FZ_MIN_MAX_PLAIN
    if (fz_aggregateByTerm(o, strength, set)) return;
#endif
    for (s = 0; s < FZ_NUM_SAMPLES; ++s) {
        fz_real acc = FZ_C(0.0);
        for (r = 0; r < FZ_NUM_RULES; ++r) {
            const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
            fz_real x = FZ_C(0.0);
            if (entry != 0) {
                fz_real mu = fz_outputTerms[((entry < 0 ? -entry : entry) - 1) * FZ_NUM_SAMPLES + s];
                if (entry < 0) {
                    const fz_real complement = FZ_C(1.0) - mu;
                    mu = complement > FZ_C(0.0) ? complement : FZ_C(0.0);
                }
                x = fz_imply(mu, strength[r]);
            }
            acc = r == 0 ? x : fz_aggregate(acc, x);
        }
        set[s] = acc;
    }
}

#if FZ_DEFUZZ_CENTROID || FZ_DEFUZZ_BISECTOR
static fz_real fz_zeroAreaValue(const fz_real *x) { return (x[FZ_NUM_SAMPLES - 1] + x[0]) / FZ_C(2.0); }
#endif

#if FZ_DEFUZZ_CENTROID
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x) {
    fz_real total = mf[0], num = FZ_C(0.0);
    int i;
    num = num + mf[0] * x[0];
    for (i = 1; i < FZ_NUM_SAMPLES; ++i) {
        total = total + mf[i];
        num = num + mf[i] * x[i];
    }
    if (total == FZ_C(0.0)) return fz_zeroAreaValue(x);
    return num * (FZ_C(1.0) / total);
}
#elif FZ_DEFUZZ_BISECTOR
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x) {
    fz_real total = mf[0], half, running = FZ_C(0.0);
    int i;
    for (i = 1; i < FZ_NUM_SAMPLES; ++i) total = total + mf[i];
    if (total == FZ_C(0.0)) return fz_zeroAreaValue(x);
    half = total / FZ_C(2.0);
    for (i = 0; i < FZ_NUM_SAMPLES; ++i) {
        running = running + mf[i];
        if (running >= half) return x[i];
    }
    return x[0]; /* a NaN half is never reached */
}
#elif FZ_DEFUZZ_WTSUM
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x) {
    (void)mf;
    return x[0];
}
#else
/* The largest non-NaN membership value; NaN when every value is NaN. */
static fz_real fz_height(const fz_real *mf) {
    fz_real m = (fz_real)NAN;
    int i;
    for (i = 0; i < FZ_NUM_SAMPLES; ++i)
        if (!fz_isnan(mf[i]) && (fz_isnan(m) || mf[i] > m)) m = mf[i];
    return m;
}
#if FZ_DEFUZZ_MOM
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x) {
    const fz_real m = fz_height(mf);
    fz_real sum = FZ_C(0.0);
    int i, count = 0;
    for (i = 0; i < FZ_NUM_SAMPLES; ++i) {
        if (mf[i] == m) {
            sum = sum + x[i];
            ++count;
        }
    }
    return (FZ_C(1.0) / (fz_real)count) * sum;
}
#else
/* som (FZ_DEFUZZ_SOM) and lom: the start candidate is the point of largest
   (som) or smallest (lom) magnitude over all points; only a maximum of
   strictly smaller (som) or larger (lom) magnitude replaces it. */
static fz_real fz_abs(fz_real x) {
#if FZ_FLOAT
    return fabsf(x);
#else
    return fabs(x);
#endif
}
static int fz_isFurther(fz_real a, fz_real h) {
#if FZ_DEFUZZ_SOM
    return a < h;
#else
    return a > h;
#endif
}
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x) {
    const fz_real m = fz_height(mf);
    fz_real h = fz_abs(x[0]), y;
    int i, start = 0;
    for (i = 0; i < FZ_NUM_SAMPLES; ++i) {
        const fz_real a = fz_abs(x[i]);
        if (!fz_isnan(a) && (fz_isnan(h) || fz_isFurther(h, a))) {
            h = a;
            start = i;
        }
    }
    y = x[start];
    for (i = 0; i < FZ_NUM_SAMPLES; ++i) {
        const fz_real a = fz_abs(x[i]);
        if (mf[i] == m && fz_isFurther(a, h)) {
            h = a;
            y = x[i];
        }
    }
    return y;
}
#endif
#endif

static fz_real fz_crispOutput(int o, const fz_real *strength, int *flags) {
    fz_real set[FZ_NUM_SAMPLES];
    const fz_real *x = fz_samplePoints + o * FZ_NUM_SAMPLES;
    fz_real y;
    fz_aggregateSet(o, strength, set);
    y = fz_defuzzify(set, x);
#if FZ_DEFUZZ_CENTROID || FZ_DEFUZZ_BISECTOR
    {
        /* Only the area-based methods divide by the set's total. */
        fz_real total = FZ_C(0.0);
        int s;
        for (s = 0; s < FZ_NUM_SAMPLES; ++s) total = total + set[s];
        if (total == FZ_C(0.0)) *flags |= FZ_FLAG_EMPTY_OUTPUT_SET;
    }
#else
    (void)flags;
#endif
    return y;
}

#else
/* ---- Sugeno: each rule's output level weighted by its strength. */

/* Each output term's level at the row: a constant, or the coefficients
   times the inputs in input order, then the constant term. */
static void fz_termLevels(const fz_real *inputs, fz_real *level) {
    int k, i;
    for (k = 0; k < FZ_NUM_OUTPUT_TERMS; ++k) {
        const fz_real *p = fz_outputCoefficients + k * (FZ_NUM_INPUTS + 1);
        if (fz_isLinearTerm[k]) {
            fz_real sum = FZ_C(0.0);
            for (i = 0; i < FZ_NUM_INPUTS; ++i) sum = sum + inputs[i] * p[i];
            level[k] = sum + p[FZ_NUM_INPUTS];
        } else {
            level[k] = p[0];
        }
    }
}

static fz_real fz_crispOutput(int o, const fz_real *strength, const fz_real *level, fz_real total) {
    fz_real a = FZ_C(0.0);
    int r;
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
        const fz_real term = entry == 0 ? FZ_C(0.0) : level[entry - 1] * strength[r];
        a = r == 0 ? term : a + term;
    }
#if FZ_SUGENO_PADDED
    a = a + FZ_C(0.0); /* the record's zero rows below the rules */
#endif
#if FZ_DEFUZZ_WTAVER
    return (FZ_C(1.0) / total) * a;
#elif FZ_DEFUZZ_CENTROID
    return (total * a) * (FZ_C(1.0) / total);
#elif FZ_DEFUZZ_MOM
    return fz_isnan(total) ? total : a;
#else
    (void)total; /* wtsum, bisector, som, lom: the sum itself */
    return a;
#endif
}
#endif

/* ---- One row. */

static int fz_evaluate(const fz_real *inputs, fz_real *outputs) {
    fz_real x[FZ_NUM_INPUTS];
    fz_real degrees[FZ_NUM_INPUT_TERMS];
    fz_real strength[FZ_NUM_RULES];
#if !FZ_MAMDANI
    fz_real level[FZ_NUM_OUTPUT_TERMS];
#endif
    fz_real total;
    int flags = 0, isFiniteRow = 1, i, j, o;
    for (i = 0; i < FZ_NUM_INPUTS; ++i) {
        const fz_real lo = fz_inputRange[2 * i], hi = fz_inputRange[2 * i + 1];
        x[i] = inputs[i];
        if (fz_isnan(x[i])) flags |= FZ_FLAG_NAN_INPUT;
        if (!fz_isfinite(x[i])) isFiniteRow = 0;
        if (fz_inputClamp[i]) {
            if (x[i] > hi) x[i] = hi;
            else if (x[i] < lo) x[i] = lo;
        }
        /* Ordered comparisons: NaN is never out of range. */
        if (lo > x[i] || x[i] > hi) flags |= FZ_FLAG_OUT_OF_RANGE_INPUT;
        for (j = fz_firstInputTerm[i]; j < fz_firstInputTerm[i + 1]; ++j)
            degrees[j] = fz_membership(fz_inputTermKind[j], x[i], fz_inputTermParams + 4 * j);
    }
    total = fz_fireRules(degrees, strength);
#if !FZ_MAMDANI
    fz_termLevels(x, level);
#endif
    for (o = 0; o < FZ_NUM_OUTPUTS; ++o) {
        const fz_real lo = fz_outputRange[2 * o], hi = fz_outputRange[2 * o + 1];
        fz_real y;
        /* Exactly zero, either sign: no rule fired (NaN means some did). */
        if (total == FZ_C(0.0)) {
            y = (hi + lo) / FZ_C(2.0);
#ifdef FZ_HAS_DEFAULTS
            if (fz_outputDefaultKind[o] == 1) y = fz_outputDefault[o];
            else if (fz_outputDefaultKind[o] == 2) y = (fz_real)NAN;
#endif
            flags |= FZ_FLAG_NO_RULE_FIRED;
        } else {
#if FZ_MAMDANI
            y = fz_crispOutput(o, strength, &flags);
#else
            y = fz_crispOutput(o, strength, level, total);
#endif
        }
        if (fz_outputClamp[o]) {
            if (y > hi) y = hi;
            else if (y < lo) y = lo;
        }
        if (isFiniteRow && !fz_isfinite(y)) flags |= FZ_FLAG_NON_FINITE_OUTPUT;
        outputs[o] = y;
    }
    return flags;
}
)FZRUNTIME";

}  // namespace fazolt

#endif
