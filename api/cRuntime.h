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
#define FZ_EXTERN 11 /* a function of the user's, fz_externMembership */

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

/* The row's rule inputs: the degree of each input term, then (when a rule
   says NOT) each complement, then 1 and 0, what an input a rule does not
   test gives under AND and under OR. fz_antecedent holds indices into it. */
#define FZ_NUM_RULE_INPUTS (2 * FZ_NUM_INPUT_TERMS + 2)

/* min and max ignore NaN unless every value is NaN; a later value replaces
   the current one only when strictly better, so ties keep the first. Rows
   without NaN take the plain forms. */
static fz_real fz_andPlain(fz_real acc, fz_real x) {
#if FZ_AND_PROD
    return acc * x;
#else
    return x < acc ? x : acc;
#endif
}
static fz_real fz_and(fz_real acc, fz_real x) {
#if !FZ_AND_PROD
    if (fz_isnan(acc)) return fz_isnan(x) ? acc : x;
#endif
    return fz_andPlain(acc, x);
}

static fz_real fz_orPlain(fz_real acc, fz_real x) {
#if FZ_OR_MAX
    return x > acc ? x : acc;
#elif FZ_OR_PROBOR
    const fz_real sumTerm = acc + x;
    const fz_real productTerm = acc * x;
    return sumTerm - productTerm;
#else
    return acc + x;
#endif
}
static fz_real fz_or(fz_real acc, fz_real x) {
#if FZ_OR_MAX
    if (fz_isnan(acc)) return fz_isnan(x) ? acc : x;
#endif
    return fz_orPlain(acc, x);
}

#if FZ_AND_EXTERN || FZ_OR_EXTERN
/* The user's connective gets the rule's inputs in input order. */
static fz_real fz_externConnective(const fz_real *ruleInputs, const fz_entry *entries, int isAnd) {
    fz_real values[FZ_NUM_INPUTS];
    int i;
    for (i = 0; i < FZ_NUM_INPUTS; ++i) values[i] = ruleInputs[entries[i]];
#if FZ_AND_EXTERN
    if (isAnd) return FZ_AND_FN(values, FZ_NUM_INPUTS);
#endif
#if FZ_OR_EXTERN
    if (!isAnd) return FZ_OR_FN(values, FZ_NUM_INPUTS);
#endif
    return FZ_C(0.0); /* never reached */
}
#endif

/* Fills strength[r] from the row's rule inputs (the degrees filled in);
   returns their sum in rule order. When every degree is +0 or in (0, 1]
   (so every rule input is), an AND rule whose value has reached +0 keeps
   it: min(+0, x) and +0 * x are +0 for each such x. */
static fz_real fz_fireRules(fz_real *ruleInputs, fz_real *strength, int *isUnit) {
    fz_real total = FZ_C(0.0);
    int r, i, hasNaN = 0, isUnitRow = 1;
    for (i = 0; i < FZ_NUM_INPUT_TERMS; ++i) {
        const fz_real d = ruleInputs[i];
        if (fz_isnan(d)) hasNaN = 1;
        if (!(d > FZ_C(0.0) && d <= FZ_C(1.0)) && (d != FZ_C(0.0) || signbit(d))) isUnitRow = 0;
#if FZ_USES_NOT
        ruleInputs[FZ_NUM_INPUT_TERMS + i] = FZ_C(1.0) - ruleInputs[i];
#endif
    }
    ruleInputs[2 * FZ_NUM_INPUT_TERMS] = FZ_C(1.0);
    ruleInputs[2 * FZ_NUM_INPUT_TERMS + 1] = FZ_C(0.0);
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_entry *entries = fz_antecedent + r * FZ_NUM_INPUTS;
        const int isAnd = fz_isAndRule[r];
        fz_real acc = ruleInputs[entries[0]];
#if FZ_AND_EXTERN || FZ_OR_EXTERN
        if (isAnd ? FZ_AND_EXTERN : FZ_OR_EXTERN) {
            acc = fz_externConnective(ruleInputs, entries, isAnd);
        } else
#endif
        if (isAnd && isUnitRow) {
            for (i = 1; i < FZ_NUM_INPUTS && acc != FZ_C(0.0); ++i) acc = fz_andPlain(acc, ruleInputs[entries[i]]);
        } else if (isAnd && !hasNaN) {
            for (i = 1; i < FZ_NUM_INPUTS; ++i) acc = fz_andPlain(acc, ruleInputs[entries[i]]);
        } else if (isAnd) {
            for (i = 1; i < FZ_NUM_INPUTS; ++i) acc = fz_and(acc, ruleInputs[entries[i]]);
        } else if (!hasNaN) {
            for (i = 1; i < FZ_NUM_INPUTS; ++i) acc = fz_orPlain(acc, ruleInputs[entries[i]]);
        } else {
            for (i = 1; i < FZ_NUM_INPUTS; ++i) acc = fz_or(acc, ruleInputs[entries[i]]);
        }
        strength[r] = acc * fz_weight[r];
        total = total + strength[r];
    }
    *isUnit = isUnitRow;
    return total;
}

#if FZ_MAMDANI
/* ---- Mamdani: each output's set over its sample points, then one crisp
   value. */

#if !FZ_IMP_EXTERN
static fz_real fz_imply(fz_real mu, fz_real w) {
#if FZ_IMP_PROD
    return mu * w;
#else
    if (mu > w) return w;
    if (fz_isnan(mu) && !fz_isnan(w)) return w;
    return mu;
#endif
}
#endif

#if !FZ_AGG_EXTERN
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
#endif

#if FZ_SETS_PLAIN || FZ_IMP_EXTERN || FZ_AGG_EXTERN
/* +0 read at run time: a fill with a constant would become a call to
   memset, which the file must not need. */
static const volatile fz_real fz_zero = FZ_C(0.0);
#endif

/* fz_outputSets holds each output term's values at the sample points, then
   the complement (clamped at 0) of each term that a rule negates; a
   consequent entry is 0 where the rule says nothing of the output, k for
   set k (from 1). */
static const fz_real *fz_outputSet(fz_entry entry) { return fz_outputSets + (entry - 1) * FZ_NUM_SAMPLES; }

#if FZ_SETS_PLAIN
/* Implication and aggregation without NaN. */
static fz_real fz_implyPlain(fz_real mu, fz_real w) {
#if FZ_IMP_PROD
    return mu * w;
#else
    return mu > w ? w : mu;
#endif
}
static fz_real fz_aggregatePlain(fz_real acc, fz_real x) {
#if FZ_AGG_MAX
    return x > acc ? x : acc;
#else
    return fz_aggregate(acc, x);
#endif
}

/* On a plain row, with every set value +0 or in (0, 1] (fz_setSupport has
   each set's span of positive values), a rule of strength +0 and a set's
   points outside its support only aggregate +0, which leaves any value of
   the set as it is (max, sum and probor alike), and the set starts from +0
   as from the first rule's value. So only the fired rules are read, in
   order, each over its set's support, and the set is +0 outside
   [bounds[0], bounds[1]). Under min implication and max aggregation the
   rules that share a set are taken together: max over them of min(mu, w)
   is min(mu, their largest w), and equal values have equal bits. */
static void fz_aggregateOnSupport(int o, const fz_real *strength, const int *fired, int numFired, fz_real *set,
                                  int *bounds) {
    fz_real w[FZ_NUM_RULES];
    fz_entry taken[FZ_NUM_RULES];
    int k, s, n, numTaken = 0, first = FZ_NUM_SAMPLES, end = 0;
    for (n = 0; n < numFired; ++n) {
        const int r = fired[n];
        const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
        if (entry == 0) continue;
#if !FZ_IMP_PROD && FZ_AGG_MAX
        for (k = 0; k < numTaken && taken[k] != entry; ++k) continue;
        if (k < numTaken) {
            if (strength[r] > w[k]) w[k] = strength[r];
            continue;
        }
#endif
        taken[numTaken] = entry;
        w[numTaken++] = strength[r];
        if (fz_setSupport[2 * entry - 2] < first) first = fz_setSupport[2 * entry - 2];
        if (fz_setSupport[2 * entry - 1] > end) end = fz_setSupport[2 * entry - 1];
    }
    /* The first set as it is over its support and +0 around it, the others
       aggregated over theirs. */
    for (k = 0; k < numTaken; ++k) {
        const fz_real *mu = fz_outputSet(taken[k]);
        const int low = fz_setSupport[2 * taken[k] - 2], high = fz_setSupport[2 * taken[k] - 1];
        if (k == 0) {
            const fz_real zero = fz_zero;
            for (s = first; s < low; ++s) set[s] = zero;
            for (s = low; s < high; ++s) set[s] = fz_implyPlain(mu[s], w[0]);
            for (s = high; s < end; ++s) set[s] = zero;
        } else {
            for (s = low; s < high; ++s) set[s] = fz_aggregatePlain(set[s], fz_implyPlain(mu[s], w[k]));
        }
    }
    bounds[0] = first < end ? first : 0;
    bounds[1] = first < end ? end : 0;
}
#endif

/* Every rule at every sample point, as the engine's literal path. */
#if FZ_IMP_EXTERN || FZ_AGG_EXTERN
/* The user's implication gets a rule's set and its strength, the user's
   aggregation every rule's implied set, rule after rule (the only case
   that holds them all: a built-in aggregation takes each rule in turn, in
   the order it takes them point by point). */
#if FZ_AGG_EXTERN
#define FZ_NUM_IMPLIED FZ_NUM_RULES
#else
#define FZ_NUM_IMPLIED 1
#endif
static void fz_aggregateSet(int o, const fz_real *strength, fz_real *set, int *bounds) {
    fz_real implied[FZ_NUM_IMPLIED * FZ_NUM_SAMPLES];
    int s, r;
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
        fz_real *column = implied + (FZ_NUM_IMPLIED == 1 ? 0 : r) * FZ_NUM_SAMPLES;
        if (entry == 0) {
            const fz_real zero = fz_zero;
            for (s = 0; s < FZ_NUM_SAMPLES; ++s) column[s] = zero;
        } else {
#if FZ_IMP_EXTERN
            FZ_IMP_FN(fz_outputSet(entry), strength[r], FZ_NUM_SAMPLES, column);
#else
            for (s = 0; s < FZ_NUM_SAMPLES; ++s) column[s] = fz_imply(fz_outputSet(entry)[s], strength[r]);
#endif
        }
#if !FZ_AGG_EXTERN
        for (s = 0; s < FZ_NUM_SAMPLES; ++s) set[s] = r == 0 ? column[s] : fz_aggregate(set[s], column[s]);
#endif
    }
#if FZ_AGG_EXTERN
    FZ_AGG_FN(implied, FZ_NUM_RULES, FZ_NUM_SAMPLES, set);
#endif
    bounds[0] = 0;
    bounds[1] = FZ_NUM_SAMPLES;
}
#else
static void fz_aggregateSet(int o, const fz_real *strength, fz_real *set, int *bounds) {
    int s, r;
    for (s = 0; s < FZ_NUM_SAMPLES; ++s) {
        fz_real acc = FZ_C(0.0);
        for (r = 0; r < FZ_NUM_RULES; ++r) {
            const fz_entry entry = fz_consequent[r * FZ_NUM_OUTPUTS + o];
            const fz_real x = entry == 0 ? FZ_C(0.0) : fz_imply(fz_outputSet(entry)[s], strength[r]);
            acc = r == 0 ? x : fz_aggregate(acc, x);
        }
        set[s] = acc;
    }
    bounds[0] = 0;
    bounds[1] = FZ_NUM_SAMPLES;
}
#endif

/* The methods read the set over [first, end), outside which it is +0 on a
   plain row (the whole set otherwise). Sums start from +0 rather than from
   the first value: that changes only the sign of a zero total, which then
   gives the zero-area value either way; and on finite sample points the +0
   values outside add zeros that change no sum that is not -0. They set
   *isEmpty where the method divides by a total of zero. */
#if FZ_DEFUZZ_CENTROID || FZ_DEFUZZ_BISECTOR
static fz_real fz_zeroAreaValue(const fz_real *x) { return (x[FZ_NUM_SAMPLES - 1] + x[0]) / FZ_C(2.0); }
#endif

#if FZ_DEFUZZ_EXTERN
/* The user's method gets the sample points and the whole set (never empty
   for it: only centroid and bisector report an empty set). */
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    (void)first, (void)end, (void)o, (void)isEmpty;
    return FZ_DEFUZZ_FN(x, mf, FZ_NUM_SAMPLES);
}
#elif FZ_DEFUZZ_CENTROID
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    fz_real total = FZ_C(0.0), num = FZ_C(0.0);
    int i;
    (void)o;
    for (i = first; i < end; ++i) {
        total = total + mf[i];
        num = num + mf[i] * x[i];
    }
    *isEmpty = total == FZ_C(0.0);
    if (*isEmpty) return fz_zeroAreaValue(x);
    return num * (FZ_C(1.0) / total);
}
#elif FZ_DEFUZZ_BISECTOR
/* Before the support the running sum is +0, below a positive half; it
   reaches the total, the same sum, within it. */
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    fz_real total = FZ_C(0.0), half, running = FZ_C(0.0);
    int i;
    (void)o;
    for (i = first; i < end; ++i) total = total + mf[i];
    *isEmpty = total == FZ_C(0.0);
    if (*isEmpty) return fz_zeroAreaValue(x);
    half = total / FZ_C(2.0);
    for (i = first; i < end; ++i) {
        running = running + mf[i];
        if (running >= half) return x[i];
    }
    return x[0]; /* a NaN half is never reached */
}
#elif FZ_DEFUZZ_WTAVER
/* The least-squares quotient of 1 by the set, a row R with R * mf = 1: the
   solution is 1 / mf[p] at the first point p of largest magnitude (a NaN
   there only first), 0 elsewhere, and 0 throughout when |mf[p]| is not
   above its rounding tolerance. The value is x[0] times R's first element,
   so almost always x[0] * 0. Outside [first, end) a plain set is +0, which
   is never the largest where the support has a value. */
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    fz_real r0 = FZ_C(0.0);
    (void)o, (void)isEmpty;
#if FZ_NUM_SAMPLES == 1
    (void)first, (void)end;
    r0 = FZ_C(1.0) / mf[0]; /* one point: a plain division */
#else
    if (first == 0 && end > 0) {
        fz_real largest = mf[0] < FZ_C(0.0) ? -mf[0] : mf[0], tolerance;
        int i, p = 0;
        for (i = 1; i < end; ++i) {
            const fz_real a = mf[i] < FZ_C(0.0) ? -mf[i] : mf[i];
            if (a > largest) {
                largest = a;
                p = i;
            }
        }
        tolerance = (largest * (fz_real)FZ_NUM_SAMPLES) * FZ_C(2.220446049250313e-16);
        if (p == 0 && (tolerance < largest || fz_isnan(tolerance) || fz_isnan(largest))) r0 = FZ_C(1.0) / mf[0];
    }
#endif
    return x[0] * r0;
}
#elif FZ_DEFUZZ_WTSUM
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    (void)mf, (void)first, (void)end, (void)o, (void)isEmpty;
    return x[0];
}
#else
/* The largest non-NaN membership value; NaN when every value is NaN. */
static fz_real fz_height(const fz_real *mf, int first, int end) {
    fz_real m = (fz_real)NAN;
    int i;
    for (i = first; i < end; ++i)
        if (!fz_isnan(mf[i]) && (fz_isnan(m) || mf[i] > m)) m = mf[i];
    return m;
}
/* The maxima's height and the points [*low, *high) to search. Outside
   [first, end) a plain set is +0: while the height is above 0 the maxima
   are within; otherwise every value is +0 and every point a maximum. */
static fz_real fz_maxima(const fz_real *mf, int first, int end, int *low, int *high) {
    fz_real m = fz_height(mf, first, end);
    *low = first;
    *high = end;
    if (m > FZ_C(0.0)) return m;
    if (first != 0 || end != FZ_NUM_SAMPLES) m = FZ_C(0.0);
    *low = 0;
    *high = FZ_NUM_SAMPLES;
    return m;
}
static fz_real fz_setValue(const fz_real *mf, int i, int first, int end) {
    return first <= i && i < end ? mf[i] : FZ_C(0.0);
}
#if FZ_DEFUZZ_MOM
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    int low, high, i, count = 0;
    const fz_real m = fz_maxima(mf, first, end, &low, &high);
    fz_real sum = FZ_C(0.0);
    (void)o, (void)isEmpty;
    for (i = low; i < high; ++i) {
        if (fz_setValue(mf, i, first, end) == m) {
            sum = sum + x[i];
            ++count;
        }
    }
    return (FZ_C(1.0) / (fz_real)count) * sum;
}
#else
/* som (FZ_DEFUZZ_SOM) and lom: the start candidate, fz_magnitudeStart[o],
   is the point of largest (som) or smallest (lom) magnitude over all
   points, found when the file was generated; only a maximum of strictly
   smaller (som) or larger (lom) magnitude replaces it. */
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
static fz_real fz_defuzzify(const fz_real *mf, const fz_real *x, int first, int end, int o, int *isEmpty) {
    int low, high, i;
    const fz_real m = fz_maxima(mf, first, end, &low, &high);
    fz_real y = x[fz_magnitudeStart[o]], h = fz_abs(y);
    (void)isEmpty;
    for (i = low; i < high; ++i) {
        const fz_real a = fz_abs(x[i]);
        if (fz_setValue(mf, i, first, end) == m && fz_isFurther(a, h)) {
            h = a;
            y = x[i];
        }
    }
    return y;
}
#endif
#endif

/* The rules of strength above +0 in rule order, and whether the row is plain. */
typedef struct {
    int isPlain, numFired;
    int fired[FZ_NUM_RULES];
} fz_firedRules;

/* A row is plain when every strength is +0 or in (0, 1]: no NaN, no -0,
   nothing that could carry a sum to infinity. From unit degrees (isUnitRow)
   and weights (FZ_WEIGHTS_UNIT) min, max, products and probor give no NaN,
   no negative value and no -0, so only a sum above 1 remains to be seen. */
static void fz_listFired(const fz_real *strength, int isUnitRow, fz_firedRules *rules) {
    const int isSignKnown = isUnitRow && FZ_WEIGHTS_UNIT && !FZ_AND_EXTERN && !FZ_OR_EXTERN;
    int r;
    rules->isPlain = FZ_SETS_PLAIN;
    rules->numFired = 0;
    for (r = 0; r < FZ_NUM_RULES; ++r) {
        const fz_real w = strength[r];
        if (w > FZ_C(0.0)) {
            rules->fired[rules->numFired++] = r;
            if (w > FZ_C(1.0)) rules->isPlain = 0;
        } else if (!isSignKnown && (w != FZ_C(0.0) || signbit(w))) {
            rules->isPlain = 0;
        }
    }
}

static fz_real fz_crispOutput(int o, const fz_real *strength, const fz_firedRules *rules, int *flags) {
    fz_real set[FZ_NUM_SAMPLES];
    int bounds[2], isEmpty = 0;
    fz_real y;
#if FZ_SETS_PLAIN
    if (rules->isPlain)
        fz_aggregateOnSupport(o, strength, rules->fired, rules->numFired, set, bounds);
    else
#else
    (void)rules;
#endif
        fz_aggregateSet(o, strength, set, bounds);
    y = fz_defuzzify(set, fz_samplePoints + o * FZ_NUM_SAMPLES, bounds[0], bounds[1], o, &isEmpty);
    if (isEmpty) *flags |= FZ_FLAG_EMPTY_OUTPUT_SET;
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
#if FZ_DEFUZZ_EXTERN
    return FZ_DEFUZZ_FN(a, total);
#elif FZ_DEFUZZ_WTAVER
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
    fz_real ruleInputs[FZ_NUM_RULE_INPUTS];
    fz_real strength[FZ_NUM_RULES];
#if FZ_MAMDANI
    fz_firedRules fired;
#else
    fz_real level[FZ_NUM_OUTPUT_TERMS];
#endif
    fz_real total;
    int flags = 0, isFiniteRow = 1, isUnitRow, i, j, o;
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
        for (j = fz_firstInputTerm[i]; j < fz_firstInputTerm[i + 1]; ++j) {
#if FZ_EXTERN_MEMBERSHIP
            if (fz_inputTermKind[j] == FZ_EXTERN) {
                ruleInputs[j] = fz_externMembership(j, x[i]);
                continue;
            }
#endif
            ruleInputs[j] = fz_membership(fz_inputTermKind[j], x[i], fz_inputTermParams + 4 * j);
        }
    }
    total = fz_fireRules(ruleInputs, strength, &isUnitRow);
#if FZ_MAMDANI
    fz_listFired(strength, isUnitRow, &fired);
#else
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
            y = fz_crispOutput(o, strength, &fired, &flags);
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
