// The evaluation entry.
//
// Sections: the call plan and working storage, per-row pipeline (runFIS),
// setup once per call (prepareCall), the row loop, the exported C entry, one
// row per call (RowEvaluator).
#include "codegen/fazolt.h"

#include "codegen/applyMamdani.h"
#include "codegen/applyOperators.h"
#include "codegen/applySugeno.h"
#include "codegen/evaluateCommonMembershipFcn.h"
#include "codegen/defuzzMethod.h"
#include "codegen/fuzzifyInputs.h"
#include "codegen/lanes/rowLanes.h"
#include "codegen/private/caches.h"
#include "codegen/private/defuzzMethods.h"
#include "codegen/private/diagnostics.h"
#include "codegen/private/sugenoOutputs.h"
#include "membership/shapeRules.h"
#include "model/indexArithmetic.h"

namespace {

// What the row loop needs, resolved once per call: method names as enums,
// membership kinds, the rules' cache positions. Rows compare no name, but
// for the empty-set diagnostic, which reads the defuzzification method's
// name on each row while that check is on.
struct CallPlan {
    bool isMamdani;
    DefuzzMethod method;
    AndMethod andMethod;
    OrMethod orMethod;
    bool hasBuiltInConnectives;  // and at least one input
    DegreeReads degreeReads;
    bool isSugenoFused;    // rows before the last skip the rule outputs
    bool listsFiredRules;  // the rule firing lists the rules of positive strength
    // Grouped centroid rows are computed in pairs, a row's outputs written
    // with the next one's. A centroid calls the host only for the empty-set
    // diagnostic, so with that one silent no host call moves.
    bool defersCentroids;
    MamdaniRowPlan mamdani;
};

// Working storage of one evaluation; every array is registered on the
// heap-reference stack while it exists and sized before the first row, so
// that rows with built-in methods allocate nothing.
struct WorkingStorage {
    DynArray<double> *outputMFCache;
    DynArray<ExtractedVarMF> *inputMFs;
    InputMembershipPlan membership;
    DynArray<int32_t> *antecedentPlan;
    DynArray<int32_t> *ruleDegrees;
    DynArray<double> *degrees;
    DynArray<double> *inputMFCache;
    DynArray<double> *scratch;
    DynArray<double> *inputRow;
    DynArray<double> *outputRow;
    DynArray<double> *columnBuffer;
    MamdaniRowArrays mamdani;
    DynArray<ExtractedVarMF> *outputMFs;
    DynArray<uint8_t> *outputKinds;
    DynArray<double> *outputCoefficients;
    DynArray<int32_t> *sugenoCacheEntries;
    DynArray<double> *sugenoCache;
    int32_t deferredRow;  // a grouped centroid row whose outputs wait, or -1
    DynArray<double> *laneWork;
    LaneSystem lanes;  // rows before the last in SIMD lanes, when width > 0
};

void initWorkingStorage(zorbTLS *tls, WorkingStorage *w) {
    initRegisteredArray(tls, &w->outputMFCache, 2);
    initRegisteredArray(tls, &w->inputMFs, 2);
    initInputMembershipPlan(tls, &w->membership);
    initRegisteredArray(tls, &w->antecedentPlan, 2);
    initRegisteredArray(tls, &w->ruleDegrees, 1);
    initRegisteredArray(tls, &w->degrees, 1);
    initRegisteredArray(tls, &w->inputMFCache, 2);
    initRegisteredArray(tls, &w->scratch, 1);
    initRegisteredArray(tls, &w->inputRow, 2);
    initRegisteredArray(tls, &w->outputRow, 1);
    initRegisteredArray(tls, &w->columnBuffer, 1);
    initRegisteredArray(tls, &w->mamdani.consequentRows, 2);
    initRegisteredArray(tls, &w->mamdani.setValues, 1);
    initRegisteredArray(tls, &w->mamdani.setSupport, 1);
    initRegisteredArray(tls, &w->mamdani.groupStrengths, 1);
    initRegisteredArray(tls, &w->mamdani.groupList, 1);
    initRegisteredArray(tls, &w->mamdani.firedRules, 1);
    initRegisteredArray(tls, &w->mamdani.outputSets, 1);
    initRegisteredArray(tls, &w->mamdani.centroids, 1);
    initRegisteredArray(tls, &w->mamdani.setBounds, 1);
    initRegisteredArray(tls, &w->outputMFs, 2);
    initRegisteredArray(tls, &w->outputKinds, 1);
    initRegisteredArray(tls, &w->outputCoefficients, 1);
    initRegisteredArray(tls, &w->sugenoCacheEntries, 2);
    initRegisteredArray(tls, &w->sugenoCache, 2);
    w->deferredRow = -1;
    initRegisteredArray(tls, &w->laneWork, 1);
    w->lanes.width = 0;
    w->lanes.resumeRow = 0;
}

void releaseWorkingStorage(WorkingStorage *w) {
    releaseArray(&w->laneWork);
    releaseArray(&w->sugenoCache);
    releaseArray(&w->sugenoCacheEntries);
    releaseArray(&w->outputCoefficients);
    releaseArray(&w->outputKinds);
    releaseArray(&w->outputMFs);
    releaseArray(&w->mamdani.setBounds);
    releaseArray(&w->mamdani.centroids);
    releaseArray(&w->mamdani.outputSets);
    releaseArray(&w->mamdani.firedRules);
    releaseArray(&w->mamdani.groupList);
    releaseArray(&w->mamdani.groupStrengths);
    releaseArray(&w->mamdani.setSupport);
    releaseArray(&w->mamdani.setValues);
    releaseArray(&w->mamdani.consequentRows);
    releaseArray(&w->columnBuffer);
    releaseArray(&w->outputRow);
    releaseArray(&w->inputRow);
    releaseArray(&w->scratch);
    releaseArray(&w->inputMFCache);
    releaseArray(&w->degrees);
    releaseArray(&w->ruleDegrees);
    releaseArray(&w->antecedentPlan);
    releaseInputMembershipPlan(&w->membership);
    releaseArray(&w->inputMFs);
    releaseArray(&w->outputMFCache);
}

void writeCrispRow(const FazoltResults *results, int32_t s, const double *values, int32_t numOutputs) {
    DynArray<double> *crisp = results->crispOutputs;
    for (int32_t o = 0; o < numOutputs; ++o) crisp->data[s + static_cast<int64_t>(o) * crisp->size[0]] = values[o];
}

// The last row fills results 2 to 6, so it runs implication and
// aggregation into them; every earlier row's sets are seen only by its
// defuzzification and are built one output at a time when no host method
// takes part.
void runMamdaniRow(zorbTLS *tls, int32_t s, bool isLastRow, const RuleFiring *firing, const SystemRecord *fis,
                   const DiagnosticsOptions *diag, const CallPlan *plan, WorkingStorage *w,
                   const FazoltResults *results) {
    const double totalFiringStrength = firing->totalFiringStrength;
    if (!isLastRow && plan->mamdani.isFused) {
        const bool isRowPlain = firing->areStrengthsPlain;
        const bool isGrouped = isGroupedRow(&plan->mamdani, isRowPlain);
        int32_t numFired = firing->numFired;
        if (isGrouped && numFired < 0)
            numFired = listFiredRules(results->firingStrengths, fis->numRules, w->mamdani.firedRules);
        if (isGrouped && plan->mamdani.isCentroidOnSupport) {
            // Every set first, then the centroids side by side; a deferred
            // row's sets wait in the first slot for the next such row.
            const int32_t numOutputs = fis->numOutputs;
            const int32_t slot = w->deferredRow >= 0 ? 1 : 0;
            double *sets = w->mamdani.outputSets->data + static_cast<int64_t>(slot) * numOutputs * fis->numSamples;
            int32_t *bounds = w->mamdani.setBounds->data + 2 * slot * numOutputs;
            for (int32_t t = 0; t < numOutputs && totalFiringStrength != 0.0; ++t) {
                const SetSupport support = aggregateMamdaniOutput(
                    results->firingStrengths, numFired, fis, &plan->mamdani, &w->mamdani, w->outputMFCache, t,
                    isRowPlain, sets + static_cast<int64_t>(t) * fis->numSamples);
                bounds[2 * t] = support.first;
                bounds[2 * t + 1] = support.end;
            }
            if (!plan->defersCentroids || totalFiringStrength == 0.0) {
                applyMamdaniCentroidsOnSupport(tls, sets, bounds, totalFiringStrength, fis, diag, w->outputRow->data);
                return;
            }
            if (slot == 0) {
                w->deferredRow = s;
                return;
            }
            centroidsOnSupport(w->mamdani.outputSets->data, fis->numSamples, w->mamdani.setBounds->data,
                               fis->outputSamplePoints, numOutputs, 2 * numOutputs, w->mamdani.centroids->data);
            writeCrispRow(results, w->deferredRow, w->mamdani.centroids->data, numOutputs);
            for (int32_t o = 0; o < numOutputs; ++o) w->outputRow->data[o] = w->mamdani.centroids->data[numOutputs + o];
            w->deferredRow = -1;
            return;
        }
        for (int32_t o = 1; o <= fis->numOutputs; ++o) {
            // With no rule fired the set is never read.
            if (totalFiringStrength != 0.0) {
                aggregateMamdaniOutput(results->firingStrengths, numFired, fis, &plan->mamdani, &w->mamdani,
                                       w->outputMFCache, o - 1, isRowPlain, w->columnBuffer->data);
            }
            w->outputRow->data[o - 1] = applyMamdaniDefuzzificationMethod(tls, o, w->columnBuffer, totalFiringStrength,
                                                                          fis, plan->method, diag);
        }
        return;
    }
    applyMamdaniImplicationMethod(tls, results->firingStrengths, fis, w->outputMFCache, results->ruleOutputs);
    applyMamdaniAggregationMethod(tls, results->ruleOutputs, fis, results->aggregatedOutputs);
    const DynArray<double> *aggregated = results->aggregatedOutputs;
    const int32_t numSamplesK = aggregated->size[0];
    for (int32_t o = 1; o <= fis->numOutputs; ++o) {
        if (w->columnBuffer->size[0] != numSamplesK) resize1D(w->columnBuffer, numSamplesK);
        const double *column = aggregated->data + static_cast<int64_t>(o - 1) * numSamplesK;
        for (int32_t k = 0; k < numSamplesK; ++k) w->columnBuffer->data[k] = column[k];
        w->outputRow->data[o - 1] =
            applyMamdaniDefuzzificationMethod(tls, o, w->columnBuffer, totalFiringStrength, fis, plan->method, diag);
    }
}

// Rows before the last keep no rule outputs: their sums come straight from
// the output function values.
void runSugenoRow(zorbTLS *tls, bool isLastRow, double totalFiringStrength, const SystemRecord *fis,
                  const DiagnosticsOptions *diag, const CallPlan *plan, WorkingStorage *w,
                  const FazoltResults *results) {
    if (!isLastRow && plan->isSugenoFused) {
        fillSugenoOutputCache(w->inputRow, w->outputKinds, w->outputCoefficients, w->sugenoCache);
        for (int32_t o = 1; o <= fis->numOutputs; ++o) {
            const double a =
                sumSugenoRuleOutputs(results->firingStrengths, fis, w->sugenoCacheEntries, w->sugenoCache, o - 1);
            w->outputRow->data[o - 1] =
                applySugenoDefuzzificationMethod(tls, o, a, totalFiringStrength, fis, plan->method, diag);
        }
        return;
    }
    applySugenoImplicationMethod(w->inputRow, results->firingStrengths, fis, w->outputKinds, w->outputCoefficients,
                                 w->sugenoCacheEntries, w->sugenoCache, results->ruleOutputs,
                                 results->ruleOutputLevels);
    applySugenoAggregationMethod(results->ruleOutputs, results->aggregatedOutputs);
    for (int32_t o = 1; o <= fis->numOutputs; ++o) {
        double a = results->aggregatedOutputs->data[o - 1];
        w->outputRow->data[o - 1] =
            applySugenoDefuzzificationMethod(tls, o, a, totalFiringStrength, fis, plan->method, diag);
    }
}

// One input row through the pipeline; row s (0-based) of crispOutputs. Only
// a last row fills results 2 to 6.
void runFIS(zorbTLS *tls, int32_t s, bool isLastRow, const DynArray<double> *inputs, const SystemRecord *fis,
            const DiagnosticsOptions *diag, const CallPlan *plan, WorkingStorage *w, const FazoltResults *results) {
    const int32_t numRows = inputs->size[0];
    const int32_t numCols = inputs->size[1];
    for (int32_t j = 0; j < numCols; ++j) {
        w->inputRow->data[j] = inputs->data[s + static_cast<int64_t>(j) * numRows];
    }
    createInputMFCache(tls, w->inputRow, fis, diag, w->inputMFs, &w->membership, w->inputMFCache);
    RuleFiring firing;
    if (plan->hasBuiltInConnectives) {
        // Only the last row's rule values are kept.
        const bool hasNaN =
            fillDegreeTable(w->inputMFCache, plan->degreeReads.complements, w->degrees) || plan->degreeReads.nan;
        firing = fireRulesBuiltIn(fis, w->ruleDegrees, w->degrees, hasNaN, plan->andMethod, plan->orMethod,
                                  isLastRow ? results->ruleInputValues : nullptr, results->firingStrengths,
                                  plan->listsFiredRules ? w->mamdani.firedRules : nullptr);
    } else {
        mapRuleAntecedents(fis, w->antecedentPlan, w->inputMFCache, results->ruleInputValues);
        firing.totalFiringStrength = applyOperators(tls, results->ruleInputValues, fis, plan->andMethod, plan->orMethod,
                                                    results->firingStrengths, w->scratch);
        firing.areStrengthsPlain = areStrengthsPlain(results->firingStrengths, fis->numRules);
        firing.numFired = -1;  // not listed
    }
    const double totalFiringStrength = firing.totalFiringStrength;

    if (plan->isMamdani) {
        runMamdaniRow(tls, s, isLastRow, &firing, fis, diag, plan, w, results);
        if (w->deferredRow == s) return;  // its outputs come with the next such row
    } else {
        runSugenoRow(tls, isLastRow, totalFiringStrength, fis, diag, plan, w, results);
    }

    writeCrispRow(results, s, w->outputRow->data, fis->numOutputs);
}

// Rows before the last go in SIMD lanes on the paths that have a lane form.
void planLanes(const DynArray<double> *inputs, const SystemRecord *fis, const DiagnosticsOptions *diag,
               const CallPlan *plan, WorkingStorage *w) {
    if (!plan->hasBuiltInConnectives) return;
    const MembershipLanes membership = {&w->membership, numel(w->inputMFCache), plan->degreeReads.complements,
                                        w->ruleDegrees, plan->andMethod,        plan->orMethod};
    if (plan->isMamdani && plan->listsFiredRules && plan->mamdani.isCentroidOnSupport)
        planMamdaniLanes(fis, diag, inputs, &membership, &w->mamdani, w->laneWork, &w->lanes);
    if (!plan->isMamdani && plan->isSugenoFused)
        planSugenoLanes(fis, diag, inputs, &membership, plan->method, w->outputKinds, w->outputCoefficients,
                        w->sugenoCacheEntries, w->laneWork, &w->lanes);
}

// Sizes every working array that a row touches, so that no row resizes.
void prepareCall(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis, const DiagnosticsOptions *diag,
                 CallPlan *plan, WorkingStorage *w) {
    plan->isMamdani = nameIs(fis->type, "mamdani");
    plan->method = selectDefuzzMethod(fis->defuzzMethod);
    plan->andMethod = selectAndMethod(fis->andMethod);
    plan->orMethod = selectOrMethod(fis->orMethod);
    plan->hasBuiltInConnectives =
        plan->andMethod != AndMethod::Host && plan->orMethod != OrMethod::Host && fis->numInputs > 0;
    plan->mamdani = MamdaniRowPlan{false, false, false, 0, false, 0, false};
    plan->isSugenoFused = false;
    plan->listsFiredRules = false;
    plan->defersCentroids = false;

    extractVarMF(tls, fis->inputMF, w->inputMFs);
    planRuleAntecedents(fis, w->antecedentPlan);
    resize2D(w->inputMFCache, 1, sumOfCounts(fis->numInputMFs));
    planInputMembership(fis, w->inputMFs, numel(w->inputMFCache), &w->membership);
    plan->degreeReads = planRuleDegrees(fis, numel(w->inputMFCache), w->ruleDegrees);
    if (const int64_t length = degreeTableLength(numel(w->inputMFCache)); fitsElementCount(length)) {
        resize1D(w->degrees, static_cast<int32_t>(length));
    } else {
        plan->hasBuiltInConnectives = false;
    }
    resize1D(w->scratch, fis->numInputs);
    resize2D(w->inputRow, 1, inputs->size[1]);
    resize1D(w->outputRow, fis->numOutputs);

    if (plan->isMamdani) {
        planMamdaniRows(fis, w->outputMFCache, &plan->mamdani, &w->mamdani);
        plan->listsFiredRules = isGroupedRow(&plan->mamdani, true);
        plan->defersCentroids = plan->listsFiredRules && plan->mamdani.isCentroidOnSupport &&
                                !isRaisingDiagnostic(diag->EmptyOutputFuzzySet);
        if (plan->defersCentroids) resize1D(w->mamdani.centroids, 2 * fis->numOutputs);
        resize1D(w->columnBuffer, fis->aggSize[0]);
    } else {
        extractVarMF(tls, fis->outputMF, w->outputMFs);
        planSugenoOutputCache(fis, w->outputMFs, inputs->size[1], w->outputKinds, w->outputCoefficients);
        planSugenoRuleOutputs(fis, w->sugenoCacheEntries);
        resize2D(w->sugenoCache, 1, numel(w->outputKinds));
        plan->isSugenoFused = fis->orrSize[0] >= fis->numRules && fis->orrSize[1] >= fis->numOutputs &&
                              static_cast<int64_t>(fis->aggSize[0]) * fis->aggSize[1] >= fis->numOutputs;
    }
}

// Sizes the results and builds what every row reads: the output sets'
// cache, the plan, the working arrays.
void prepareEvaluation(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis,
                       const DiagnosticsOptions *diag, const FazoltResults *results, CallPlan *plan,
                       WorkingStorage *w) {
    resize2D(results->crispOutputs, inputs->size[0], fis->numOutputs);
    resize2D(results->ruleInputValues, fis->numRules, fis->numInputs);
    resize2D(results->ruleOutputs, fis->orrSize[0], fis->orrSize[1]);
    resize2D(results->aggregatedOutputs, fis->aggSize[0], fis->aggSize[1]);

    const bool isMamdani = nameIs(fis->type, "mamdani");
    if (isMamdani) {
        createMamdaniOutputMFCache(tls, fis, w->outputMFCache);
        resize2D(results->ruleOutputLevels, 1, 1);
        results->ruleOutputLevels->data[0] = 0.0;
    } else {
        resize2D(w->outputMFCache, 1, 1);
        w->outputMFCache->data[0] = 0.0;
        resize2D(results->ruleOutputLevels, fis->orrSize[0], fis->orrSize[1]);
    }
    resize1D(results->firingStrengths, fis->numRules);
    prepareCall(tls, inputs, fis, diag, plan, w);
}

}  // namespace

void evaluateFis(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis, const DiagnosticsOptions *diag,
                 const FazoltResults *results) {
    zorbHeapReferenceStackEnterFcn(tls);
    WorkingStorage w;
    initWorkingStorage(tls, &w);
    CallPlan plan;
    prepareEvaluation(tls, inputs, fis, diag, results, &plan, &w);
    planLanes(inputs, fis, diag, &plan, &w);

    const int32_t lastRow = inputs->size[0] - 1;
    for (int32_t s = 0; s <= lastRow; ++s) {
        s += runRowsInLanes(&w.lanes, s, lastRow, results->crispOutputs->data);
        runFIS(tls, s, s == lastRow, inputs, fis, diag, &plan, &w, results);
    }
    if (w.deferredRow >= 0) {  // no row came to pair with it
        centroidsOnSupport(w.mamdani.outputSets->data, fis->numSamples, w.mamdani.setBounds->data,
                           fis->outputSamplePoints, fis->numOutputs, fis->numOutputs, w.mamdani.centroids->data);
        writeCrispRow(results, w.deferredRow, w.mamdani.centroids->data, fis->numOutputs);
    }

    releaseWorkingStorage(&w);
    zorbHeapReferenceStackLeaveFcn(tls);
}

extern "C" FAZOLT_EXPORT void fazolt(const DynArray<double> *inputs, const SystemRecord *fis,
                                     const DiagnosticsOptions *diag, DynArray<double> *crispOutputs,
                                     DynArray<double> *ruleInputValues, DynArray<double> *ruleOutputs,
                                     DynArray<double> *aggregatedOutputs, DynArray<double> *firingStrengths,
                                     DynArray<double> *ruleOutputLevels) {
    FazoltResults results = {crispOutputs,      ruleInputValues, ruleOutputs,
                             aggregatedOutputs, firingStrengths, ruleOutputLevels};
    evaluateFis(fazoltTLS, inputs, fis, diag, &results);
}

// ---- One row per call: the setup of evaluateFis done once, then every row
// on the working storage it sized. Rows go the way the batch takes rows
// before its last (the last one's way when results 2 to 6 are wanted), so
// each output has the batch's bits.

// Two input functions of a flat row, one a lane: their shape's parameters
// (sigma and centre of a Gaussian in a and b), the inputs they read and the
// degree-table entries they write. A shape with an odd count repeats its
// last function in the last pair's second lane, which writes the same
// value to the same entry again.
struct FlatPair {
    ShapeLanes a, b, c, d, rise, fall;
    int32_t input[2];
    int32_t entry[2];
};

struct RowEvaluator {
    const SystemRecord *fis;  // not owned; outlives the evaluator
    DiagnosticsOptions diag;  // records into seen, never calls the host
    DiagnosticsSeen seen;
    CallPlan plan;
    WorkingStorage w;
    DynArray<double> *row;  // 1 x numInputs: the row being evaluated
    DynArray<double> *results[6];
    FazoltResults resultsView;  // the six above, as runFIS takes them
    bool callsHost;
    // Rows without intermediates skip the input membership cache: every
    // input's functions have an inline shape and fill the cache entries in
    // order, so their degrees go straight into the degree table.
    bool isFlat;
    DynArray<FlatPair> *pairs;  // triangles, then trapezoids, then Gaussians
    int32_t numTrianglePairs;
    int32_t numTrapezoidPairs;
    // Every Sugeno output function is a constant: the output values filled
    // by the first row hold for every row.
    bool hasConstantOutputs;
};

namespace {

void releaseRowEvaluatorAt(void *ownerAddress) {
    RowEvaluator **e = static_cast<RowEvaluator **>(ownerAddress);
    zorbFreeQib(nullptr, *e);
    *e = nullptr;
}

bool isInputMembershipBuiltIn(const DynArray<ExtractedVarMF> *inputMFs) {
    for (int32_t i = 0; i < numel(inputMFs); ++i) {
        const DynArray<ExtractedMF> *mfs = inputMFs->data[i];
        for (int32_t j = 0; j < numel(mfs); ++j)
            if (selectMembershipKind(mfs->data[j].type) == MembershipKind::Host) return false;
    }
    return true;
}

// Whether a row may call the host: a host method or membership function, or
// a method that works on arrays of its own (wtaver on a Mamdani set). Such
// rows need a call context; the others touch nothing but the evaluator.
bool rowCallsHost(const SystemRecord *fis, const CallPlan *plan, const WorkingStorage *w) {
    if (!plan->hasBuiltInConnectives || plan->method == DefuzzMethod::Custom || !isInputMembershipBuiltIn(w->inputMFs))
        return true;
    if (!plan->isMamdani) return false;
    const bool isBuiltInImplication = nameIs(fis->impMethod, "min") || nameIs(fis->impMethod, "prod");
    const bool isBuiltInAggregation =
        nameIs(fis->aggMethod, "max") || nameIs(fis->aggMethod, "probor") || nameIs(fis->aggMethod, "sum");
    return plan->method == DefuzzMethod::Wtaver || !isBuiltInImplication || !isBuiltInAggregation;
}

void runOneRow(zorbTLS *tls, RowEvaluator *e, const double *row, double *outputs, bool keepsIntermediates) {
    const int32_t numInputs = e->fis->numInputs;
    for (int32_t i = 0; i < numInputs; ++i) e->row->data[i] = row[i];
    e->seen = DiagnosticsSeen{0, 0, 0};
    runFIS(tls, 0, keepsIntermediates, e->row, e->fis, &e->diag, &e->plan, &e->w, &e->resultsView);
    for (int32_t o = 0; o < e->fis->numOutputs; ++o) outputs[o] = e->results[0]->data[o];
}

// Whether the planned functions of every input are inline shapes whose
// entries follow one another from the cache's start to its end, each written
// once per row: then nothing else of the cache is read, and the functions
// can be evaluated in any order.
bool isMembershipFlat(const SystemRecord *fis, const WorkingStorage *w) {
    const InputMembershipPlan &m = w->membership;
    int32_t next = 0;
    for (int32_t i = 0; i < fis->numInputs; ++i) {
        if (i >= numel(w->inputMFs) || m.firstEntries->data[i] != next) return false;
        const int32_t numMF = fis->numInputMFs->data[i];
        for (int32_t j = 0; j < numMF; ++j)
            if (m.shapes->data[m.offsets->data[i] + j] == kDispatched) return false;
        next += numMF;
    }
    return next == numel(w->inputMFCache);
}

// The flat functions grouped by shape, in pairs, so that each group's loop
// has one body.
void planFlatPairs(const SystemRecord *fis, const InputMembershipPlan &m, RowEvaluator *e) {
    resize1D(e->pairs, numel(e->w.inputMFCache) + 3);  // at most one part-filled pair a shape
    int32_t numPairs = 0;
    const uint8_t shapes[3] = {kTriangle, kTrapezoid, kGaussian};
    for (uint8_t shape : shapes) {
        int32_t lane = 0;
        for (int32_t i = 0; i < fis->numInputs; ++i) {
            const int32_t offset = m.offsets->data[i];
            for (int32_t j = 0; j < fis->numInputMFs->data[i]; ++j) {
                if (m.shapes->data[offset + j] != shape) continue;
                const double *p = m.params->data + 4 * static_cast<int64_t>(offset + j);
                const double *r = m.slopes->data + 2 * static_cast<int64_t>(offset + j);
                FlatPair &pair = e->pairs->data[numPairs];
                // Both lanes at once: the first function of a pair fills its
                // second lane too, in case no other comes.
                for (int32_t k = lane; k < 2; ++k) {
                    pair.a[k] = p[0];
                    pair.b[k] = p[1];
                    pair.c[k] = p[2];
                    pair.d[k] = p[3];
                    pair.rise[k] = r[0];
                    pair.fall[k] = r[1];
                    pair.input[k] = i;
                    pair.entry[k] = m.firstEntries->data[i] + j;
                }
                lane = 1 - lane;
                if (lane == 0) ++numPairs;
            }
        }
        if (lane == 1) ++numPairs;
        if (shape == kTriangle) e->numTrianglePairs = numPairs;
        if (shape == kTrapezoid) e->numTrapezoidPairs = numPairs - e->numTrianglePairs;
    }
    resize1D(e->pairs, numPairs);
}

bool areSugenoOutputsConstant(const DynArray<uint8_t> *kinds) {
    for (int32_t k = 0; k < numel(kinds); ++k)
        if (kinds->data[k] == kSugenoLinear) return false;
    return true;
}

// The row of a flat evaluator as runFIS takes a row before the last: the
// same functions and the same operations in the same order, less the copies
// between the cache, the degree table and the results.
void runFlatRow(zorbTLS *tls, RowEvaluator *e, const double *row, double *outputs) {
    const SystemRecord *fis = e->fis;
    const CallPlan *plan = &e->plan;
    WorkingStorage *w = &e->w;
    const int32_t n = numel(w->inputMFCache);
    const int32_t rangeStride = fis->inputRange->size[0];
    double *d = w->degrees->data;
    e->seen = DiagnosticsSeen{0, 0, 0};
    for (int32_t i = 0; i < fis->numInputs; ++i) {
        const double x = row[i];
        const double lo = fis->inputRange->data[i];
        const double hi = fis->inputRange->data[i + rangeStride];
        if (lo > x || x > hi) throwOutOfRangeDiagnostic(tls, i + 1, x, lo, hi, &e->diag);
    }
    const FlatPair *t = e->pairs->data;
    const FlatPair *trapezoids = t + e->numTrianglePairs;
    const FlatPair *gaussians = trapezoids + e->numTrapezoidPairs;
    const FlatPair *end = t + numel(e->pairs);
    ShapeLaneMask nan = {0, 0};
    for (; t < trapezoids; ++t) {
        const ShapeLanes x = {row[t->input[0]], row[t->input[1]]};
        const ShapeLanes y = trimfRuleOf(x, t->a, t->b, t->c, t->rise, t->fall);
        d[t->entry[0]] = y[0];
        d[t->entry[1]] = y[1];
        nan = nan | (y != y);
    }
    for (; t < gaussians; ++t) {
        const ShapeLanes x = {row[t->input[0]], row[t->input[1]]};
        const ShapeLanes y = trapmfRuleOf(x, t->a, t->b, t->c, t->d, t->rise, t->fall);
        d[t->entry[0]] = y[0];
        d[t->entry[1]] = y[1];
        nan = nan | (y != y);
    }
    bool hasNaN = (nan[0] | nan[1]) != 0;
    for (; t < end; ++t) {
        for (int32_t k = 0; k < 2; ++k) {
            const double y = gaussmfRule(row[t->input[k]], t->a[k], t->b[k]);
            d[t->entry[k]] = y;
            hasNaN = hasNaN | quvIsNaN(y);
        }
    }
    if (plan->degreeReads.complements) {
        for (int32_t k = 0; k < n; ++k) d[n + k] = 1.0 - d[k];
    }
    // The table's last four entries were written by the evaluator's first
    // rows and never change.
    const RuleFiring firing =
        fireRulesBuiltIn(fis, w->ruleDegrees, w->degrees, hasNaN || plan->degreeReads.nan, plan->andMethod,
                         plan->orMethod, nullptr, e->results[4], plan->listsFiredRules ? w->mamdani.firedRules : nullptr);
    if (plan->isMamdani) {
        runMamdaniRow(tls, 0, false, &firing, fis, &e->diag, plan, w, &e->resultsView);
    } else if (e->hasConstantOutputs) {
        for (int32_t o = 1; o <= fis->numOutputs; ++o) {
            const double a = sumSugenoRuleOutputs(e->results[4], fis, w->sugenoCacheEntries, w->sugenoCache, o - 1);
            w->outputRow->data[o - 1] = applySugenoDefuzzificationMethod(tls, o, a, firing.totalFiringStrength, fis,
                                                                         plan->method, &e->diag);
        }
    } else {
        for (int32_t i = 0; i < fis->numInputs; ++i) w->inputRow->data[i] = row[i];
        runSugenoRow(tls, false, firing.totalFiringStrength, fis, &e->diag, plan, w, &e->resultsView);
    }
    for (int32_t o = 0; o < fis->numOutputs; ++o) outputs[o] = w->outputRow->data[o];
}

}  // namespace

RowEvaluator *createRowEvaluator(zorbTLS *tls, const SystemRecord *fis) {
    zorbHeapReferenceStackEnterFcn(tls);
    RowEvaluator *e = nullptr;
    zorbPushHeapReferenceStack(tls, &e, &releaseRowEvaluatorAt);
    e = static_cast<RowEvaluator *>(zorbCallocQib(1, sizeof(RowEvaluator)));
    e->fis = fis;
    e->diag = DiagnosticsOptions{0, nullptr, nullptr, 0, 0, 0, &e->seen};
    initWorkingStorage(tls, &e->w);
    initRegisteredArray(tls, &e->row, 2);
    for (int32_t k = 0; k < 6; ++k) initRegisteredArray(tls, &e->results[k], k == 4 ? 1 : 2);
    initRegisteredArray(tls, &e->pairs, 1);
    resize2D(e->row, 1, fis->numInputs);
    e->resultsView = {e->results[0], e->results[1], e->results[2], e->results[3], e->results[4], e->results[5]};
    const FazoltResults &results = e->resultsView;
    prepareEvaluation(tls, e->row, fis, &e->diag, &results, &e->plan, &e->w);
    e->plan.defersCentroids = false;  // every row's outputs come with it
    e->callsHost = rowCallsHost(fis, &e->plan, &e->w);
    if (!e->callsHost) {
        // A row of built-in functions raises only what every row would (a
        // membership function with too few parameters): found here, once,
        // so that rows never raise.
        for (int32_t i = 0; i < fis->numInputs; ++i) e->row->data[i] = 0.0;
        for (int32_t pass = 0; pass < 2; ++pass)  // without, then with results 2 to 6
            runFIS(tls, 0, pass == 1, e->row, fis, &e->diag, &e->plan, &e->w, &results);
        e->isFlat = isMembershipFlat(fis, &e->w) &&
                    (e->plan.isMamdani ? e->plan.mamdani.isFused : e->plan.isSugenoFused);
        if (e->isFlat) planFlatPairs(fis, e->w.membership, e);
        e->hasConstantOutputs = !e->plan.isMamdani && areSugenoOutputsConstant(e->w.outputKinds);
    }
    zorbHeapReferenceStackLeaveFcn(tls);
    return e;
}

void releaseRowEvaluator(RowEvaluator *e) {
    if (e == nullptr) return;
    releaseArray(&e->pairs);
    for (int32_t k = 5; k >= 0; --k) releaseArray(&e->results[k]);
    releaseArray(&e->row);
    releaseWorkingStorage(&e->w);
    zorbFreeQib(nullptr, e);
}

bool rowEvaluatorCallsHost(const RowEvaluator *e) { return e->callsHost; }

void evaluateRow(zorbTLS *tls, RowEvaluator *e, const double *row, double *outputs, bool keepsIntermediates,
                 DiagnosticsSeen *seen) {
    if (e->isFlat && !keepsIntermediates) {
        runFlatRow(tls, e, row, outputs);
    } else {
        runOneRow(tls, e, row, outputs, keepsIntermediates);
    }
    *seen = e->seen;
}

const DynArray<double> *rowIntermediate(const RowEvaluator *e, int32_t k) { return e->results[k]; }
