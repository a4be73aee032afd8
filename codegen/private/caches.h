// Trimmed membership-function lists and the caches built from them.
#ifndef FAZOLT_CODEGEN_PRIVATE_CACHES_H
#define FAZOLT_CODEGEN_PRIVATE_CACHES_H

#include "model/systemRecord.h"

// Fills `out` (an empty, registered list) with one entry per variable: its
// first origNumMF membership functions, names and parameters cut to their
// orig lengths.
void extractVarMF(zorbTLS *tls, const DynArray<VariableRecord> *variables, DynArray<ExtractedVarMF> *out);
// Samples every output membership function of a Mamdani system at its
// output's sample points: R x numSamples, R = sum of numOutputMFs.
void createMamdaniOutputMFCache(zorbTLS *tls, const SystemRecord *fis, DynArray<double> *outputMFCache);

// One membership kind per extracted function, variable by variable:
// variable v's functions start at offsets(v) (numel(vars) + 1 entries).
void selectMembershipKinds(const DynArray<ExtractedVarMF> *vars, DynArray<uint8_t> *kinds, DynArray<int32_t> *offsets);
// What createInputMFCache needs of the input functions, resolved
// once per call: their kinds (selectMembershipKinds), and for every input
// whose functions all land in the cache its first cache entry (else -1) and
// each function's shape and first four parameters when it is evaluated in
// place.
// Shapes evaluated in place, with their parameters copied into the plan.
enum InlineShape : uint8_t { kDispatched = 0, kTriangle = 1, kTrapezoid = 2, kGaussian = 3 };
struct InputMembershipPlan {
    DynArray<uint8_t> *kinds;
    DynArray<int32_t> *offsets;
    DynArray<int32_t> *firstEntries;
    DynArray<uint8_t> *shapes;
    DynArray<double> *params;
    DynArray<double> *slopes;  // two a function: a triangle's or trapezoid's 1 / ramp width
};
// The plan's arrays registered on the heap-reference stack, and released
// in reverse order.
void initInputMembershipPlan(zorbTLS *tls, InputMembershipPlan *plan);
void releaseInputMembershipPlan(InputMembershipPlan *plan);
void planInputMembership(const SystemRecord *fis, const DynArray<ExtractedVarMF> *inputMFs, int32_t cacheLength,
                         InputMembershipPlan *plan);
// Fills inputMFCache (sumOfCounts(numInputMFs) entries) for one input row,
// range-testing each input first: function j of input i at
// cachePosition(numCumInputMFs(i), j), NaN for a function counted but not
// held; triangles, trapezoids and Gaussians in place, the other kinds by
// evaluateMembershipByKind.
void createInputMFCache(zorbTLS *tls, const DynArray<double> *inputRow, const SystemRecord *fis,
                        const DiagnosticsOptions *diag, const DynArray<ExtractedVarMF> *inputMFs,
                        const InputMembershipPlan *plan, DynArray<double> *inputMFCache);

#endif
