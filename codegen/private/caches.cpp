// Trimmed membership-function lists and the caches of membership degrees
// built from them.
//
// Sections: int32 helpers, extractVarMF, createMamdaniOutputMFCache,
// createInputMFCache (the membership plan, then one row).
#include "codegen/private/caches.h"
#include "model/indexArithmetic.h"

#include "codegen/evaluateCommonMembershipFcn.h"
#include "codegen/private/diagnostics.h"
#include "membership/shapeRules.h"
#include "host/runtime.h"

#include <cstring>

// ---- int32 helpers.

static int32_t atLeastZero(int32_t n) { return n < 0 ? 0 : n; }
static int32_t atMost(int32_t n, int32_t limit) { return n > limit ? limit : n; }

// ---- extractVarMF.

// The stored rows may be padded; the orig lengths say how much is real.
// A length past the stored row is cut to the row, so a record that
// overstates it is read no further than its own storage.
static void extractMF(const MFRecord *source, ExtractedMF *target) {
    const int32_t typeLength = atMost(atLeastZero(source->origTypeLength), numel(source->type));
    resize2D(target->type, 1, typeLength);
    if (typeLength > 0) std::memcpy(target->type->data, source->type->data, static_cast<size_t>(typeLength));

    const int32_t paramLength = atMost(atLeastZero(source->origParamLength), numel(source->params));
    resize2D(target->params, 1, paramLength);
    if (paramLength > 0) {
        std::memcpy(target->params->data, source->params->data, sizeof(double) * static_cast<size_t>(paramLength));
    }
}

void extractVarMF(zorbTLS *, const DynArray<VariableRecord> *variables, DynArray<ExtractedVarMF> *out) {
    const int32_t numVars = numel(variables);
    // Every nested list and record is owned by `out`, which the caller has
    // registered with the deep release: nothing here needs its own frame.
    resize2D(out, 1, numVars);
    for (int32_t v = 0; v < numVars; ++v) {
        const VariableRecord *variable = &variables->data[v];
        DynArray<ExtractedMF> *list = out->data[v];
        const int32_t numMF = atLeastZero(variable->origNumMF);
        resize2D(list, 1, numMF);
        // Only origNumMF decides the count. A count past the stored list
        // leaves those entries with an empty name, which the host rejects
        // when they are evaluated.
        const int32_t numStored = atMost(numMF, numel(variable->mf));
        for (int32_t j = 0; j < numStored; ++j) extractMF(&variable->mf->data[j], &list->data[j]);
    }
}

// ---- createMamdaniOutputMFCache.

void createMamdaniOutputMFCache(zorbTLS *tls, const SystemRecord *fis, DynArray<double> *outputMFCache) {
    zorbHeapReferenceStackEnterFcn(tls);
    const int32_t numRows = sumOfCounts(fis->numOutputMFs);
    const int32_t numSamples = fis->numSamples;
    resize2D(outputMFCache, numRows, numSamples);

    DynArray<ExtractedVarMF> *vars;
    initRegisteredArray(tls, &vars, 2);
    extractVarMF(tls, fis->outputMF, vars);
    DynArray<double> *points;
    initRegisteredArray(tls, &points, 2);
    DynArray<double> *degrees;
    initRegisteredArray(tls, &degrees, 2);

    const DynArray<double> *samplePoints = fis->outputSamplePoints;
    const int32_t numPoints = samplePoints->size[1];
    const int32_t pointStride = samplePoints->size[0];
    for (int32_t t = 0; t < fis->numOutputs; ++t) {
        resize2D(points, 1, numPoints);
        for (int32_t q = 0; q < numPoints; ++q) points->data[q] = samplePoints->data[t + q * pointStride];
        const DynArray<ExtractedMF> *mfs = t < numel(vars) ? vars->data[t] : nullptr;
        const int32_t numMF = fis->numOutputMFs->data[t];
        for (int32_t j = 1; j <= numMF; ++j) {
            const int32_t row = cachePosition(fis->numCumOutputMFs->data[t], j);
            if (mfs != nullptr && j <= numel(mfs)) {
                const ExtractedMF *mf = &mfs->data[j - 1];
                evaluateCommonMembershipFcnVector(tls, mf->type, points, mf->params, degrees);
            } else {
                // More functions counted than the variable holds: no degrees.
                resize2D(degrees, 1, 0);
            }
            // A host function may return fewer values than sample points (the
            // rest of the row keeps 0) or more; values past the row's end, and
            // rows outside the cache, are dropped rather than written over
            // whatever follows.
            if (row < 1 || row > numRows) continue;
            const int32_t numValues = atMost(numel(degrees), numSamples);
            for (int32_t q = 0; q < numValues; ++q) outputMFCache->data[(row - 1) + q * numRows] = degrees->data[q];
        }
    }

    releaseArray(&degrees);
    releaseArray(&points);
    releaseArray(&vars);
    zorbHeapReferenceStackLeaveFcn(tls);
}

// ---- createInputMFCache.

void selectMembershipKinds(const DynArray<ExtractedVarMF> *vars, DynArray<uint8_t> *kinds, DynArray<int32_t> *offsets) {
    const int32_t numVars = numel(vars);
    resize1D(offsets, numVars + 1);
    int32_t total = 0;
    for (int32_t v = 0; v < numVars; ++v) {
        offsets->data[v] = total;
        total = addSaturated(total, numel(vars->data[v]));
    }
    offsets->data[numVars] = total;
    resize1D(kinds, total);
    for (int32_t v = 0; v < numVars; ++v) {
        const DynArray<ExtractedMF> *mfs = vars->data[v];
        const int32_t n = numel(mfs);
        for (int32_t j = 0; j < n; ++j)
            kinds->data[offsets->data[v] + j] = static_cast<uint8_t>(selectMembershipKind(mfs->data[j].type));
    }
}

static uint8_t inlineShapeOf(MembershipKind kind, int32_t numParams) {
    if (kind == MembershipKind::Trimf && numParams >= 3) return kTriangle;
    if (kind == MembershipKind::Trapmf && numParams >= 4) return kTrapezoid;
    if (kind == MembershipKind::Gaussmf && numParams >= 2) return kGaussian;
    return kDispatched;  // other kinds, and rows too short (which raise when evaluated)
}

void initInputMembershipPlan(zorbTLS *tls, InputMembershipPlan *plan) {
    initRegisteredArray(tls, &plan->kinds, 1);
    initRegisteredArray(tls, &plan->offsets, 1);
    initRegisteredArray(tls, &plan->firstEntries, 1);
    initRegisteredArray(tls, &plan->shapes, 1);
    initRegisteredArray(tls, &plan->params, 1);
    initRegisteredArray(tls, &plan->slopes, 1);
}

void releaseInputMembershipPlan(InputMembershipPlan *plan) {
    releaseArray(&plan->slopes);
    releaseArray(&plan->params);
    releaseArray(&plan->shapes);
    releaseArray(&plan->firstEntries);
    releaseArray(&plan->offsets);
    releaseArray(&plan->kinds);
}

void planInputMembership(const SystemRecord *fis, const DynArray<ExtractedVarMF> *inputMFs, int32_t cacheLength,
                         InputMembershipPlan *plan) {
    selectMembershipKinds(inputMFs, plan->kinds, plan->offsets);
    const int32_t numInputs = fis->numInputs;
    const int32_t numVars = numel(inputMFs);
    const int32_t numPlanned = plan->offsets->data[numVars];
    // Four parameters a function: beyond the element limit nothing is
    // planned and every input takes the general path.
    const bool doParamsFit = fitsElementCount(4 * static_cast<int64_t>(numPlanned));
    resize1D(plan->firstEntries, numInputs);
    resize1D(plan->shapes, doParamsFit ? numPlanned : 0);
    resize1D(plan->params, doParamsFit ? 4 * numPlanned : 0);
    resize1D(plan->slopes, doParamsFit ? 2 * numPlanned : 0);
    for (int32_t k = 0; k < numel(plan->shapes); ++k) plan->shapes->data[k] = kDispatched;
    for (int32_t i = 0; i < numInputs; ++i) {
        plan->firstEntries->data[i] = -1;
        if (i >= numVars || !doParamsFit) continue;
        const DynArray<ExtractedMF> *mfs = inputMFs->data[i];
        const int32_t numMF = fis->numInputMFs->data[i];
        const int64_t first = static_cast<int64_t>(fis->numCumInputMFs->data[i]);
        // Every function held and landing inside the cache; anything else
        // takes the general path, row by row.
        if (!(numMF <= numel(mfs) && first >= 0 && first + numMF <= cacheLength)) continue;
        plan->firstEntries->data[i] = static_cast<int32_t>(first);
        for (int32_t j = 0; j < numMF; ++j) {
            const int32_t k = plan->offsets->data[i] + j;
            const DynArray<double> *params = mfs->data[j].params;
            const int32_t numParams = numel(params);
            plan->shapes->data[k] = inlineShapeOf(static_cast<MembershipKind>(plan->kinds->data[k]), numParams);
            double *p = plan->params->data + 4 * static_cast<int64_t>(k);
            for (int32_t q = 0; q < 4; ++q) p[q] = q < numParams ? params->data[q] : 0.0;
            // The same quotients the rules take; a zero width's is never used.
            const bool isTrapezoid = plan->shapes->data[k] == kTrapezoid;
            plan->slopes->data[2 * k] = 1.0 / (p[1] - p[0]);
            plan->slopes->data[2 * k + 1] = isTrapezoid ? 1.0 / (p[3] - p[2]) : 1.0 / (p[2] - p[1]);
        }
    }
}

void createInputMFCache(zorbTLS *tls, const DynArray<double> *inputRow, const SystemRecord *fis,
                        const DiagnosticsOptions *diag, const DynArray<ExtractedVarMF> *inputMFs,
                        const InputMembershipPlan *plan, DynArray<double> *inputMFCache) {
    const int32_t numInputs = fis->numInputs;
    const int32_t rangeStride = fis->inputRange->size[0];
    const int32_t cacheLength = numel(inputMFCache);
    const int32_t numVars = numel(inputMFs);
    for (int32_t i = 0; i < numInputs; ++i) {
        const double x = inputRow->data[i];
        const double lo = fis->inputRange->data[i];
        const double hi = fis->inputRange->data[i + rangeStride];
        // Ordered comparisons: a NaN value or bound is never out of range,
        // and both bounds belong to the range. The value is never clipped.
        if (lo > x || x > hi) throwOutOfRangeDiagnostic(tls, i + 1, x, lo, hi, diag);

        const DynArray<ExtractedMF> *mfs = i < numVars ? inputMFs->data[i] : nullptr;
        const int32_t numStored = mfs != nullptr ? numel(mfs) : 0;
        const int32_t offset = i < numVars ? plan->offsets->data[i] : 0;
        const uint8_t *kind = i < numVars ? plan->kinds->data + offset : nullptr;
        const int32_t numMF = fis->numInputMFs->data[i];
        const int32_t first = plan->firstEntries->data[i];
        if (first >= 0) {
            double *degrees = inputMFCache->data + first;
            const uint8_t *shape = plan->shapes->data + offset;
            const double *p = plan->params->data + 4 * static_cast<int64_t>(offset);
            const double *r = plan->slopes->data + 2 * static_cast<int64_t>(offset);
            for (int32_t j = 0; j < numMF; ++j, p += 4, r += 2) {
                switch (shape[j]) {
                    case kTriangle: degrees[j] = trimfRuleWithSlopes(x, p[0], p[1], p[2], r[0], r[1]); break;
                    case kTrapezoid: degrees[j] = trapmfRuleWithSlopes(x, p[0], p[1], p[2], p[3], r[0], r[1]); break;
                    case kGaussian: degrees[j] = gaussmfRule(x, p[0], p[1]); break;
                    default: {
                        const ExtractedMF *mf = &mfs->data[j];
                        degrees[j] = evaluateMembershipByKind(tls, static_cast<MembershipKind>(kind[j]), mf->type, x,
                                                              mf->params);
                    }
                }
            }
            continue;
        }
        for (int32_t j = 1; j <= numMF; ++j) {
            const int32_t k = cachePosition(fis->numCumInputMFs->data[i], j);
            double degree = quvGetNaN();  // more functions counted than the variable holds
            if (j <= numStored) {
                const ExtractedMF *mf = &mfs->data[j - 1];
                degree =
                    evaluateMembershipByKind(tls, static_cast<MembershipKind>(kind[j - 1]), mf->type, x, mf->params);
            }
            if (k >= 1 && k <= cacheLength) inputMFCache->data[k - 1] = degree;
        }
    }
}
