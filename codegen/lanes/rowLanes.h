// Rows in SIMD lanes: several input rows evaluated at once, each lane doing
// exactly its own row's operations in the row path's order, so every lane
// gives the bits of its row alone. Only the rows before the last, and only
// on the paths whose every step has a lane form (built-in connectives,
// in-place membership shapes, the grouped Mamdani centroid).
#ifndef FAZOLT_CODEGEN_LANES_ROWLANES_H
#define FAZOLT_CODEGEN_LANES_ROWLANES_H

#include "codegen/applyMamdani.h"
#include "codegen/applyOperators.h"
#include "codegen/defuzzMethod.h"
#include "codegen/fuzzifyInputs.h"
#include "codegen/private/caches.h"
#include "model/systemRecord.h"

#include <cstdint>

enum class LaneLevel : uint8_t { Scalar, Avx2, Avx512 };

// The best level the processor runs, lowered (never raised) by the
// environment variable FAZOLT_LANES=scalar|avx2|avx512.
LaneLevel selectLaneLevel();
// The widest level the processor runs.
LaneLevel supportedLaneLevel();

// Where the kernel's working storage holds what, built once per call by the
// plan: offsets in vectors of `width` doubles, one lane a row, from the
// start of the work; after the vectors, the fired rules as int32, a double
// each, then the outputs' fixed values.
struct LaneLayout {
    DegreeTableEntries degrees;  // the degree table from vector 0
    int64_t strengths;           // numRules: each rule's firing strength
    int64_t groups;              // numSets: Mamdani group strengths, or Sugeno output function values
    int64_t set;                 // numSamples: an output's aggregated set
    int64_t crisp;               // numOutputs: the block's outputs
    int64_t fired;               // the end of the vectors: the fired-rule list
    int64_t fixedValues;         // in doubles: noRuleValues, then zeroAreaValues
    int64_t length;              // in doubles, the whole work
};

// What a lane kernel reads, resolved once per call: plain arrays only, so
// that the kernels depend on nothing else of the module.
struct LaneSystem {
    int32_t width;  // rows a block (8 at either level); 0 when rows do not go in lanes
    LaneLevel level;

    const double *inputs;  // column-major, numRows rows
    int32_t numRows;
    int32_t numInputs;
    const double *inputRange;  // low of input i at i, high at i + rangeStride
    int32_t rangeStride;
    const int32_t *numInputMFs;
    const int32_t *shapeOffsets;  // input i's shapes from shapes(shapeOffsets(i))
    const uint8_t *shapes;        // InlineShape of each function
    const double *shapeParams;    // four a function

    int32_t cacheLength;  // membership degrees of a row
    bool readsComplements;
    const int32_t *ruleDegrees;  // rule-major, numInputs degree-table entries a rule
    int32_t numRules;
    const double *connection;
    const double *weight;
    AndMethod andMethod;  // built-in
    OrMethod orMethod;    // built-in

    int32_t numOutputs;
    int32_t numSamples;
    const int32_t *consequentRows;  // numRules x numOutputs codes
    const double *setValues;
    const int32_t *setSupport;
    int32_t numSets;
    const double *samplePoints;  // output t's point q at t + q * pointStride
    int32_t pointStride;
    const double *noRuleValues;    // output o's value when no rule fires
    const double *zeroAreaValues;  // output o's centroid of an empty set
    double nan;                    // the host's NaN, for a rule naming a function past the cache

    // Sugeno: the output function values of a row (planSugenoOutputCache),
    // each rule's entry among them for each output (planSugenoRuleOutputs).
    bool isSugeno;
    int32_t numOutputFunctions;
    const uint8_t *outputKinds;
    const double *outputCoefficients;  // numInputs + 1 a function
    const int32_t *sugenoEntries;      // numRules x numOutputs, -1 for none
    bool addsZeroRows;                 // the rule-output block has rows below the rules
    DefuzzMethod method;

    // A raising diagnostic ends the block before the row that raises it.
    bool stopsOutOfRange;
    bool stopsNoRuleFired;
    bool stopsEmptySet;

    LaneLayout layout;
    double *work;       // layout.length doubles
    int32_t resumeRow;  // no block starts before this row
};

// What the row path has resolved of membership and rule firing, in the
// form the lanes read it.
struct MembershipLanes {
    const InputMembershipPlan *inputs;
    int32_t cacheLength;
    bool readsComplements;
    const DynArray<int32_t> *ruleDegrees;  // planRuleDegrees
    AndMethod andMethod;
    OrMethod orMethod;
};

// Fills lanes for Mamdani rows on the grouped centroid path (the caller has
// checked the path), sizing work; width stays 0 when the rows cannot go in
// lanes (no wide enough processor, a level forced to scalar, a membership
// function without a lane form).
void planMamdaniLanes(const SystemRecord *fis, const DiagnosticsOptions *diag, const DynArray<double> *inputs,
                      const MembershipLanes *membership, const MamdaniRowArrays *mamdani, DynArray<double> *work,
                      LaneSystem *lanes);

// The same for Sugeno rows on the fused path with a built-in
// defuzzification (the caller has checked the path).
void planSugenoLanes(const SystemRecord *fis, const DiagnosticsOptions *diag, const DynArray<double> *inputs,
                     const MembershipLanes *membership, DefuzzMethod method, const DynArray<uint8_t> *outputKinds,
                     const DynArray<double> *outputCoefficients, const DynArray<int32_t> *sugenoEntries,
                     DynArray<double> *work, LaneSystem *lanes);

// Evaluates blocks of rows first, first + 1, ... in lanes while whole
// blocks fit before row end, writing their outputs into crisp (numRows x
// numOutputs, column-major). Stops at the first row that must take the
// row path (one whose diagnostics call the host, or whose strengths leave
// the grouped path) and returns the number of rows done.
int32_t runRowsInLanes(LaneSystem *lanes, int32_t first, int32_t end, double *crisp);

// The kernels, one per instruction set, each in its own object (x86-64
// builds only: FAZOLT_HAS_LANES).
int32_t runRowsAvx2(const LaneSystem *lanes, int32_t first, int32_t end, double *crisp);
int32_t runRowsAvx512(const LaneSystem *lanes, int32_t first, int32_t end, double *crisp);
// The kernels' exp of x[0..n) into y, n a multiple of 8: for the tests.
void expRowsAvx2(const double *x, int32_t n, double *y);
void expRowsAvx512(const double *x, int32_t n, double *y);

#endif
