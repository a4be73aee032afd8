// The Mamdani chain of one input row: implication, aggregation and
// defuzzification of sampled output fuzzy sets.
#ifndef FAZOLT_CODEGEN_APPLYMAMDANI_H
#define FAZOLT_CODEGEN_APPLYMAMDANI_H

#include "codegen/defuzzMethod.h"
#include "model/systemRecord.h"

// ruleOutputs: orrSize; column (t-1)*numRules + r holds rule r's shaped set for output t.
void applyMamdaniImplicationMethod(zorbTLS *tls, const DynArray<double> *firingStrengths, const SystemRecord *fis,
                                   const DynArray<double> *outputMFCache, DynArray<double> *ruleOutputs);
// aggregatedOutputs: aggSize; column t is output t.
void applyMamdaniAggregationMethod(zorbTLS *tls, const DynArray<double> *ruleOutputs, const SystemRecord *fis,
                                   DynArray<double> *aggregatedOutputs);
// The crisp value of output o (1-based) from its aggregated set mf (one
// dimension, K values); x is row o of outputSamplePoints. Handles the
// no-rule-fired default and both diagnostics.
double applyMamdaniDefuzzificationMethod(zorbTLS *tls, int32_t o, const DynArray<double> *mf,
                                         double totalFiringStrength, const SystemRecord *fis, DefuzzMethod method,
                                         const DiagnosticsOptions *diag);

// Output o's (1-based) value when no rule fires: its range's midpoint.
double outputRangeMidpoint(const SystemRecord *fis, int32_t o);

// ---- Rows whose rule outputs and aggregated sets nobody sees (every row
// but the last): the aggregated set of each output straight from the
// firing strengths, bit for bit what implication and aggregation give.

struct MamdaniRowPlan {
    bool isFused;   // built-in implication and aggregation: no host call to keep
    bool isMinMax;  // min implication, max aggregation
    bool isMinImplication;
    uint8_t aggregation;  // the built-in aggregation, resolved once
    bool isCachePlain;    // the output cache holds no NaN, no negative value and no -0
    int32_t numCacheRows;
    bool isCentroidOnSupport;  // centroid with finite sample points: grouped sets sum over their support
};

// The arrays of the fused path, sized once per call.
struct MamdaniRowArrays {
    // numRules x numOutputs: 0 when the rule says nothing about the output,
    // row + 1 for cache row `row`, -(row + 1) for its complement.
    DynArray<int32_t> *consequentRows;
    // Grouped path only. Set g = 2 * row (+1 for the complement): its
    // numSamples values from setValues(g * numSamples), positive only at
    // samples setSupport(2g) .. setSupport(2g + 1) - 1.
    DynArray<double> *setValues;
    DynArray<int32_t> *setSupport;
    DynArray<double> *groupStrengths;  // 2 * numCacheRows, all -1 between rows
    DynArray<int32_t> *groupList;      // numRules
    DynArray<int32_t> *firedRules;     // numRules: the row's rules of positive strength
    // The sets of up to two rows on the centroid path, numSamples values
    // per set, row by row and output by output, their supports (first and
    // end) and centroids in the same order.
    DynArray<double> *outputSets;
    DynArray<int32_t> *setBounds;
    DynArray<double> *centroids;
};

// Samples first .. end - 1 hold every positive value of a set; outside
// them it is +0. Empty when first == end.
struct SetSupport {
    int32_t first;
    int32_t end;
};

void planMamdaniRows(const SystemRecord *fis, const DynArray<double> *outputMFCache, MamdaniRowPlan *plan,
                     MamdaniRowArrays *arrays);
// Strengths with no NaN, no negative value and no -0.
bool areStrengthsPlain(const DynArray<double> *firingStrengths, int32_t numRules);
// Lists the rules of positive strength in firedRules; returns how many.
int32_t listFiredRules(const DynArray<double> *firingStrengths, int32_t numRules, DynArray<int32_t> *firedRules);
// True when aggregateMamdaniOutput groups the rules by output set for a row
// whose strengths are plain (isRowPlain): then it reads only the numFired
// rules of firedRules and gives the support of the set.
bool isGroupedRow(const MamdaniRowPlan *plan, bool isRowPlain);
// Fills set (numSamples values) with output t's (0-based) aggregated set.
// Grouped rows (isGroupedRow) return the set's support; others the whole
// sample range.
SetSupport aggregateMamdaniOutput(const DynArray<double> *firingStrengths, int32_t numFired, const SystemRecord *fis,
                                  const MamdaniRowPlan *plan, MamdaniRowArrays *arrays,
                                  const DynArray<double> *outputMFCache, int32_t t, bool isRowPlain, double *set);
// applyMamdaniDefuzzificationMethod for every output of a row, by
// centroid, when each set (numSamples values from sets + o * numSamples)
// holds +0 and positive values only, +0 outside its support (first and end
// at supports + 2 * o), and the sample
// points are finite: the sums run over the supports only, which leaves
// them bit for bit as they are over the whole set. The crisp values go to
// crisp (numOutputs), the diagnostics come in output order.
void applyMamdaniCentroidsOnSupport(zorbTLS *tls, const double *sets, const int32_t *supports,
                                    double totalFiringStrength, const SystemRecord *fis, const DiagnosticsOptions *diag,
                                    double *crisp);

#endif
