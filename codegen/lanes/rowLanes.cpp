// Which rows go in lanes, at which level, and with which tables.
//
// Sections: the level, the plan, the dispatch.
#include "codegen/lanes/rowLanes.h"

#include "codegen/applyMamdani.h"
#include "codegen/private/defuzzMethods.h"
#include "codegen/private/diagnostics.h"
#include "model/indexArithmetic.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- The level.

LaneLevel supportedLaneLevel() {
#if FAZOLT_HAS_LANES
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return LaneLevel::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return LaneLevel::Avx2;
#endif
    return LaneLevel::Scalar;
}

// A value the variable does not take is said once a process, on standard
// error: a misspelt level would otherwise pass for one that took effect.
static void warnUnknownLaneLevel(const char *forced) {
    static std::atomic<bool> isWarned{false};
    if (isWarned.exchange(true)) return;
    std::fprintf(stderr,
                 "warning: fazolt: FAZOLT_LANES=\"%s\" is not scalar, avx2 or avx512; the processor's best level "
                 "is used\n",
                 forced);
}

LaneLevel selectLaneLevel() {
    const LaneLevel supported = supportedLaneLevel();
    const char *forced = std::getenv("FAZOLT_LANES");
    if (forced == nullptr) return supported;
    LaneLevel wanted = supported;
    if (std::strcmp(forced, "scalar") == 0)
        wanted = LaneLevel::Scalar;
    else if (std::strcmp(forced, "avx2") == 0)
        wanted = LaneLevel::Avx2;
    else if (std::strcmp(forced, "avx512") != 0)
        warnUnknownLaneLevel(forced);
    // Never above what the processor runs: a forced level lowers only.
    return static_cast<uint8_t>(wanted) < static_cast<uint8_t>(supported) ? wanted : supported;
}

// ---- The plan.

constexpr int64_t kCacheLineDoubles = 8;  // 64 bytes: an AVX-512 vector

// The work's layout for the counts in lanes, at width lanes.
static LaneLayout laneLayout(const LaneSystem *lanes, int32_t width) {
    LaneLayout layout;
    layout.degrees = degreeTableEntries(lanes->cacheLength);
    layout.strengths = degreeTableLength(lanes->cacheLength);
    layout.groups = layout.strengths + lanes->numRules;
    layout.set = layout.groups + lanes->numSets;
    layout.crisp = layout.set + lanes->numSamples;
    layout.fired = layout.crisp + lanes->numOutputs;
    layout.fixedValues = layout.fired * width + lanes->numRules;
    layout.length = layout.fixedValues + 2 * static_cast<int64_t>(lanes->numOutputs);
    return layout;
}

// Every input's functions in place in the cache, one input after another
// and filling it, each of a shape that has a lane form.
static bool hasLaneMembership(const SystemRecord *fis, const InputMembershipPlan *membership, int32_t cacheLength) {
    int32_t entry = 0;
    for (int32_t i = 0; i < fis->numInputs; ++i) {
        if (membership->firstEntries->data[i] != entry) return false;
        const int32_t offset = membership->offsets->data[i];
        for (int32_t j = 0; j < fis->numInputMFs->data[i]; ++j) {
            if (membership->shapes->data[offset + j] == kDispatched) return false;
        }
        entry += fis->numInputMFs->data[i];
    }
    return entry == cacheLength;
}

// The level and the tables common to both kinds of system; false when the
// rows cannot go in lanes.
static bool planCommonLanes(const SystemRecord *fis, const DiagnosticsOptions *diag, const DynArray<double> *inputs,
                            const MembershipLanes *membership, LaneSystem *lanes) {
    std::memset(lanes, 0, sizeof *lanes);
    lanes->level = selectLaneLevel();
    if (lanes->level == LaneLevel::Scalar || inputs->size[1] != fis->numInputs || fis->numRules <= 0 ||
        !hasLaneMembership(fis, membership->inputs, membership->cacheLength))
        return false;
    lanes->inputs = inputs->data;
    lanes->numRows = inputs->size[0];
    lanes->numInputs = fis->numInputs;
    lanes->inputRange = fis->inputRange->data;
    lanes->rangeStride = fis->inputRange->size[0];
    lanes->numInputMFs = fis->numInputMFs->data;
    lanes->shapeOffsets = membership->inputs->offsets->data;
    lanes->shapes = membership->inputs->shapes->data;
    lanes->shapeParams = membership->inputs->params->data;
    lanes->cacheLength = membership->cacheLength;
    lanes->readsComplements = membership->readsComplements;
    lanes->ruleDegrees = membership->ruleDegrees->data;
    lanes->numRules = fis->numRules;
    lanes->connection = fis->connection->data;
    lanes->weight = fis->weight->data;
    lanes->andMethod = membership->andMethod;
    lanes->orMethod = membership->orMethod;
    lanes->nan = quvGetNaN();
    lanes->numOutputs = fis->numOutputs;
    lanes->stopsOutOfRange = isRaisingDiagnostic(diag->OutOfRangeInputValue);
    lanes->stopsNoRuleFired = isRaisingDiagnostic(diag->NoRuleFired);
    lanes->stopsEmptySet = isRaisingDiagnostic(diag->EmptyOutputFuzzySet);
    return true;
}

// Sizes work for the kernel and the outputs' fixed values (no rule fired,
// and for Mamdani the centroid of an empty set); sets the width last.
static void finishLanes(const SystemRecord *fis, DynArray<double> *work, LaneSystem *lanes) {
    const int32_t width = 8;  // at AVX2 too, as two registers
    // Room to start the vectors on a cache line: a block's vectors that
    // straddle lines cost Dask's workers, whose malloc hands out fresh
    // mappings, a quarter of their time.
    const int64_t alignSlack = kCacheLineDoubles - 1;
    const LaneLayout layout = laneLayout(lanes, width);
    const int64_t length = layout.length + alignSlack;
    if (!fitsElementCount(length)) return;
    resize1D(work, static_cast<int32_t>(length));
    const auto address = reinterpret_cast<uintptr_t>(work->data);
    const uintptr_t lineBytes = kCacheLineDoubles * sizeof(double);
    lanes->work = work->data + ((lineBytes - address % lineBytes) % lineBytes) / sizeof(double);
    double *outputValues = lanes->work + layout.fixedValues;
    for (int32_t t = 0; t < fis->numOutputs; ++t) {
        outputValues[t] = outputRangeMidpoint(fis, t + 1);
        if (lanes->isSugeno) continue;
        // The centroid of a set with no support.
        const DynArray<double> *points = fis->outputSamplePoints;
        const SamplePoints x = {points->data + t, points->size[1], points->size[0]};
        outputValues[fis->numOutputs + t] = zeroAreaDefault(x);
    }
    lanes->noRuleValues = outputValues;
    lanes->zeroAreaValues = outputValues + fis->numOutputs;
    lanes->layout = layout;
    lanes->width = width;
}

void planMamdaniLanes(const SystemRecord *fis, const DiagnosticsOptions *diag, const DynArray<double> *inputs,
                      const MembershipLanes *membership, const MamdaniRowArrays *mamdani, DynArray<double> *work,
                      LaneSystem *lanes) {
    const DynArray<double> *points = fis->outputSamplePoints;
    if (!planCommonLanes(fis, diag, inputs, membership, lanes) || points->size[1] != fis->numSamples ||
        points->size[0] < fis->numOutputs)
        return;
    lanes->numSamples = fis->numSamples;
    lanes->consequentRows = mamdani->consequentRows->data;
    lanes->setValues = mamdani->setValues->data;
    lanes->setSupport = mamdani->setSupport->data;
    lanes->numSets = numel(mamdani->setSupport) / 2;
    lanes->samplePoints = points->data;
    lanes->pointStride = points->size[0];
    finishLanes(fis, work, lanes);
}

void planSugenoLanes(const SystemRecord *fis, const DiagnosticsOptions *diag, const DynArray<double> *inputs,
                     const MembershipLanes *membership, DefuzzMethod method, const DynArray<uint8_t> *outputKinds,
                     const DynArray<double> *outputCoefficients, const DynArray<int32_t> *sugenoEntries,
                     DynArray<double> *work, LaneSystem *lanes) {
    if (!planCommonLanes(fis, diag, inputs, membership, lanes) || method == DefuzzMethod::Custom) return;
    lanes->isSugeno = true;
    lanes->numOutputFunctions = numel(outputKinds);
    lanes->numSets = lanes->numOutputFunctions;  // the kernel keeps the function values there
    lanes->outputKinds = outputKinds->data;
    lanes->outputCoefficients = outputCoefficients->data;
    lanes->sugenoEntries = sugenoEntries->data;
    lanes->addsZeroRows = fis->orrSize[0] > fis->numRules;
    lanes->method = method;
    finishLanes(fis, work, lanes);
}

// ---- The dispatch.

int32_t runRowsInLanes(LaneSystem *lanes, int32_t first, int32_t end, double *crisp) {
    if (lanes->width == 0 || first < lanes->resumeRow) return 0;
    int32_t numDone = 0;
    switch (lanes->level) {
#if FAZOLT_HAS_LANES
        case LaneLevel::Avx512: numDone = runRowsAvx512(lanes, first, end, crisp); break;
        case LaneLevel::Avx2: numDone = runRowsAvx2(lanes, first, end, crisp); break;
#endif
        default: return 0;
    }
    // A block that could not take its first row is likely to meet more such
    // rows (a stretch of NaN inputs, of warnings): the next block waits a
    // block's length, so that such rows cost the lanes little.
    if (numDone == 0) lanes->resumeRow = first + lanes->width;
    return numDone;
}
