// Micro-benchmarks of the module's row stages, called directly as the
// evaluation's row loop calls them, on the reference systems: a membership
// function over a row of sample points, fuzzification of a row (the
// membership cache and the degree table), rule firing from the table and
// from the rule input values, the last row's Mamdani implication and
// aggregation, every earlier row's Mamdani sets and crisp values, each
// defuzzification method, the Sugeno chain and the Sugeno sums of earlier
// rows, and a whole evaluation per row for comparison with the sum.
//
// Every benchmark runs inside a host call boundary (orvane::runInCall), which
// supplies the run-time context the stages need.
//
// Sections: the row pipeline of one system, benchmarks, registration.
#include "bench/bench_record.h"

#include "codegen/applyMamdani.h"
#include "codegen/applyOperators.h"
#include "codegen/applySugeno.h"
#include "codegen/evaluateCommonMembershipFcn.h"
#include "codegen/fazolt.h"
#include "codegen/fuzzifyInputs.h"
#include "codegen/private/caches.h"
#include "codegen/private/sugenoOutputs.h"
#include "model/indexArithmetic.h"

#include <benchmark/benchmark.h>
#include <orvane/host.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- The row pipeline of one system: the working arrays evaluateFis sets
// up, and a set of input rows with each stage's inputs computed for them.

constexpr int32_t kNumRows = 64;

// Uniform in each input's range, from a fixed 64-bit LCG: the same rows in
// every run.
std::vector<double> makeRows(const SystemRecord &fis) {
    std::vector<double> rows(static_cast<size_t>(kNumRows * fis.numInputs));
    uint64_t state = 0x2545F4914F6CDD1Dull;
    for (int32_t r = 0; r < kNumRows; ++r) {
        for (int32_t i = 0; i < fis.numInputs; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            double u = static_cast<double>(state >> 11) * 0x1p-53;
            double lo = fis.inputRange->data[i];
            double hi = fis.inputRange->data[i + fis.numInputs];
            rows[static_cast<size_t>(r * fis.numInputs + i)] = lo + (hi - lo) * u;
        }
    }
    return rows;
}

template <typename T>
DynArray<T> *makeArray(int32_t numDimensions) {
    DynArray<T> *a = nullptr;
    initArray(&a, numDimensions);
    return a;
}

struct Pipeline {
    zorbTLS *tls;
    const SystemRecord *fis;
    const DiagnosticsOptions *diag;
    bool isMamdani;
    DefuzzMethod method;
    std::vector<double> rows;
    DynArray<ExtractedVarMF> *inputMFs = makeArray<ExtractedVarMF>(2);
    DynArray<double> *inputMFCache = makeArray<double>(2);
    DynArray<double> *outputMFCache = makeArray<double>(2);
    DynArray<double> *inputRow = makeArray<double>(2);
    DynArray<double> *ruleInputValues = makeArray<double>(2);
    DynArray<double> *firingStrengths = makeArray<double>(1);
    DynArray<double> *scratch = makeArray<double>(1);
    DynArray<double> *ruleOutputs = makeArray<double>(2);
    DynArray<double> *aggregated = makeArray<double>(2);
    DynArray<double> *ruleOutputLevels = makeArray<double>(2);
    DynArray<double> *column = makeArray<double>(1);
    // The per-call plans of the row loop (prepareCall in the evaluation).
    InputMembershipPlan membership;
    DynArray<int32_t> *antecedentPlan = makeArray<int32_t>(2);
    DynArray<int32_t> *ruleDegrees = makeArray<int32_t>(1);
    DynArray<double> *degrees = makeArray<double>(1);
    DegreeReads degreeReads{};
    AndMethod andMethod;
    OrMethod orMethod;
    MamdaniRowPlan mamdani{};
    MamdaniRowArrays mamdaniArrays{};
    DynArray<ExtractedVarMF> *outputMFs = makeArray<ExtractedVarMF>(2);
    DynArray<uint8_t> *outputKinds = makeArray<uint8_t>(1);
    DynArray<double> *outputCoefficients = makeArray<double>(1);
    DynArray<int32_t> *sugenoCacheEntries = makeArray<int32_t>(2);
    DynArray<double> *sugenoCache = makeArray<double>(2);
    // Per row: the degree table, rule input values and firing strengths
    // with their total.
    std::vector<std::vector<double>> degreesOfRow;
    std::vector<bool> nanOfRow;
    std::vector<std::vector<double>> ruleInputsOfRow;
    std::vector<std::vector<double>> strengthsOfRow;
    std::vector<double> totalOfRow;

    Pipeline(zorbTLS *t, const SystemRecord *f, const DiagnosticsOptions *d)
        : tls(t),
          fis(f),
          diag(d),
          isMamdani(nameIs(f->type, "mamdani")),
          method(selectDefuzzMethod(f->defuzzMethod)),
          rows(makeRows(*f)) {
        for (DynArray<uint8_t> **a : {&membership.kinds, &membership.shapes}) initArray(a, 1);
        for (DynArray<int32_t> **a : {&membership.offsets, &membership.firstEntries}) initArray(a, 1);
        initArray(&membership.params, 1);
        for (DynArray<int32_t> **a : {&mamdaniArrays.consequentRows}) initArray(a, 2);
        for (DynArray<double> **a : {&mamdaniArrays.setValues, &mamdaniArrays.groupStrengths, &mamdaniArrays.outputSets,
                                     &mamdaniArrays.centroids})
            initArray(a, 1);
        for (DynArray<int32_t> **a :
             {&mamdaniArrays.setSupport, &mamdaniArrays.groupList, &mamdaniArrays.firedRules, &mamdaniArrays.setBounds})
            initArray(a, 1);
        extractVarMF(tls, fis->inputMF, inputMFs);
        resize2D(inputMFCache, 1, sumOfCounts(fis->numInputMFs));
        planInputMembership(fis, inputMFs, numel(inputMFCache), &membership);
        planRuleAntecedents(fis, antecedentPlan);
        degreeReads = planRuleDegrees(fis, numel(inputMFCache), ruleDegrees);
        resize1D(degrees, 2 * numel(inputMFCache) + 4);
        andMethod = selectAndMethod(fis->andMethod);
        orMethod = selectOrMethod(fis->orMethod);
        resize2D(ruleInputValues, fis->numRules, fis->numInputs);
        resize1D(firingStrengths, fis->numRules);
        resize1D(scratch, fis->numInputs);
        resize2D(ruleOutputs, fis->orrSize[0], fis->orrSize[1]);
        resize2D(aggregated, fis->aggSize[0], fis->aggSize[1]);
        resize2D(ruleOutputLevels, fis->orrSize[0], fis->orrSize[1]);
        if (isMamdani) {
            createMamdaniOutputMFCache(tls, fis, outputMFCache);
            planMamdaniRows(fis, outputMFCache, &mamdani, &mamdaniArrays);
            resize1D(mamdaniArrays.centroids, 2 * fis->numOutputs);
        } else {
            extractVarMF(tls, fis->outputMF, outputMFs);
            planSugenoOutputCache(fis, outputMFs, fis->numInputs, outputKinds, outputCoefficients);
            planSugenoRuleOutputs(fis, sugenoCacheEntries);
            resize2D(sugenoCache, 1, numel(outputKinds));
        }
        for (int32_t r = 0; r < kNumRows; ++r) {
            loadRow(r);
            nanOfRow.push_back(fuzzifyRow());
            degreesOfRow.emplace_back(degrees->data, degrees->data + numel(degrees));
            planRuleAntecedents(fis, antecedentPlan);
            mapRuleAntecedents(fis, antecedentPlan, inputMFCache, ruleInputValues);
            ruleInputsOfRow.emplace_back(ruleInputValues->data, ruleInputValues->data + numel(ruleInputValues));
            totalOfRow.push_back(
                applyOperators(tls, ruleInputValues, fis, andMethod, orMethod, firingStrengths, scratch));
            strengthsOfRow.emplace_back(firingStrengths->data, firingStrengths->data + numel(firingStrengths));
        }
    }
    ~Pipeline() {
        releaseArray(&sugenoCache);
        releaseArray(&sugenoCacheEntries);
        releaseArray(&outputCoefficients);
        releaseArray(&outputKinds);
        releaseArray(&outputMFs);
        for (DynArray<int32_t> **a : {&mamdaniArrays.setBounds, &mamdaniArrays.firedRules, &mamdaniArrays.groupList,
                                      &mamdaniArrays.setSupport, &mamdaniArrays.consequentRows})
            releaseArray(a);
        for (DynArray<double> **a : {&mamdaniArrays.centroids, &mamdaniArrays.outputSets, &mamdaniArrays.groupStrengths,
                                     &mamdaniArrays.setValues})
            releaseArray(a);
        releaseArray(&degrees);
        releaseArray(&ruleDegrees);
        releaseArray(&antecedentPlan);
        releaseArray(&membership.params);
        for (DynArray<int32_t> **a : {&membership.firstEntries, &membership.offsets}) releaseArray(a);
        for (DynArray<uint8_t> **a : {&membership.shapes, &membership.kinds}) releaseArray(a);
        releaseArray(&column);
        releaseArray(&ruleOutputLevels);
        releaseArray(&aggregated);
        releaseArray(&ruleOutputs);
        releaseArray(&scratch);
        releaseArray(&firingStrengths);
        releaseArray(&ruleInputValues);
        releaseArray(&inputRow);
        releaseArray(&outputMFCache);
        releaseArray(&inputMFCache);
        releaseArray(&inputMFs);
    }
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    void loadRow(int32_t r) {
        resize2D(inputRow, 1, fis->numInputs);
        std::memcpy(inputRow->data, &rows[static_cast<size_t>(r * fis->numInputs)],
                    sizeof(double) * static_cast<size_t>(fis->numInputs));
    }
    // The row loop's fuzzification: the membership degrees, then the table
    // that built-in connectives read. True when a rule reads a NaN.
    bool fuzzifyRow() {
        createInputMFCache(tls, inputRow, fis, diag, inputMFs, &membership, inputMFCache);
        return fillDegreeTable(inputMFCache, degreeReads.complements, degrees) || degreeReads.nan;
    }
    bool hasBuiltInConnectives() const {
        return andMethod != AndMethod::Host && orMethod != OrMethod::Host && fis->numInputs > 0;
    }
    void loadDegrees(int32_t r) {
        std::memcpy(degrees->data, degreesOfRow[static_cast<size_t>(r)].data(),
                    sizeof(double) * degreesOfRow[static_cast<size_t>(r)].size());
    }
    void loadRuleInputs(int32_t r) {
        std::memcpy(ruleInputValues->data, ruleInputsOfRow[static_cast<size_t>(r)].data(),
                    sizeof(double) * ruleInputsOfRow[static_cast<size_t>(r)].size());
    }
    void loadStrengths(int32_t r) {
        std::memcpy(firingStrengths->data, strengthsOfRow[static_cast<size_t>(r)].data(),
                    sizeof(double) * strengthsOfRow[static_cast<size_t>(r)].size());
    }
    // A row whose rules fire, so that defuzzification sees a non-empty set.
    int32_t firingRow() const {
        for (int32_t r = 0; r < kNumRows; ++r) {
            if (totalOfRow[static_cast<size_t>(r)] > 0.0) return r;
        }
        return 0;
    }
};

// Runs body inside a call boundary; a host error ends the benchmark with it.
void inCall(benchmark::State &state, const std::function<void(zorbTLS *)> &body) {
    orvane::BoundaryOutcome outcome = orvane::runInCall(body);
    if (outcome.error) state.SkipWithError((outcome.error->identifier() + ": " + outcome.error->message()).c_str());
}

// ---- Benchmarks.

// One built-in membership function over a row of numPoints points spread
// over [0, 100]; items are points.
void benchMembershipRow(benchmark::State &state, const char *type, std::vector<double> params) {
    inCall(state, [&](zorbTLS *tls) {
        const int32_t numPoints = 101;
        DynArray<uint8_t> *name = makeArray<uint8_t>(2);
        DynArray<double> *p = makeArray<double>(2);
        DynArray<double> *xs = makeArray<double>(2);
        DynArray<double> *out = makeArray<double>(2);
        resize2D(name, 1, static_cast<int32_t>(std::strlen(type)));
        std::memcpy(name->data, type, std::strlen(type));
        resize2D(p, 1, static_cast<int32_t>(params.size()));
        std::memcpy(p->data, params.data(), sizeof(double) * params.size());
        resize2D(xs, 1, numPoints);
        for (int32_t k = 0; k < numPoints; ++k) xs->data[k] = k;
        for (auto _ : state) {
            evaluateCommonMembershipFcnVector(tls, name, xs, p, out);
            benchmark::DoNotOptimize(out->data);
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * numPoints);
        releaseArray(&out);
        releaseArray(&xs);
        releaseArray(&p);
        releaseArray(&name);
    });
}

// Items are rows in every benchmark below. Runs body(tls, pipeline, r)
// once per iteration, on the pipeline's rows in turn.
template <typename Body>
void benchEachRow(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag, Body body) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = 0;
        for (auto _ : state) {
            body(tls, p, r);
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
    });
}

void benchFuzzify(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    benchEachRow(state, sys, diag, [](zorbTLS *, Pipeline &p, int32_t r) {
        p.loadRow(r);
        benchmark::DoNotOptimize(p.fuzzifyRow());
        benchmark::ClobberMemory();
    });
}

// Rule firing as rows before the last run it with built-in connectives:
// from the degree table, listing the fired rules for grouped Mamdani rows.
void benchFireRules(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        if (!p.hasBuiltInConnectives()) {
            state.SkipWithError("host connectives: the row loop calls applyOperators");
            return;
        }
        DynArray<int32_t> *fired = isGroupedRow(&p.mamdani, true) ? p.mamdaniArrays.firedRules : nullptr;
        int32_t r = 0;
        for (auto _ : state) {
            p.loadDegrees(r);
            benchmark::DoNotOptimize(fireRulesBuiltIn(p.fis, p.ruleDegrees, p.degrees,
                                                      p.nanOfRow[static_cast<size_t>(r)], p.andMethod, p.orMethod,
                                                      nullptr, p.firingStrengths, fired));
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
    });
}

// Rule firing from the rule input values: the row loop's path when a
// connective is a host function, here with the system's own connectives.
void benchOperators(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    benchEachRow(state, sys, diag, [](zorbTLS *tls, Pipeline &p, int32_t r) {
        p.loadRuleInputs(r);
        benchmark::DoNotOptimize(
            applyOperators(tls, p.ruleInputValues, p.fis, p.andMethod, p.orMethod, p.firingStrengths, p.scratch));
    });
}

void benchImplication(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    benchEachRow(state, sys, diag, [](zorbTLS *tls, Pipeline &p, int32_t r) {
        p.loadStrengths(r);
        applyMamdaniImplicationMethod(tls, p.firingStrengths, p.fis, p.outputMFCache, p.ruleOutputs);
        benchmark::ClobberMemory();
    });
}

void benchAggregation(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        p.loadStrengths(p.firingRow());
        applyMamdaniImplicationMethod(tls, p.firingStrengths, p.fis, p.outputMFCache, p.ruleOutputs);
        for (auto _ : state) {
            applyMamdaniAggregationMethod(tls, p.ruleOutputs, p.fis, p.aggregated);
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations());
    });
}

// Output 1's aggregated set of a firing row, defuzzified by `method`.
void benchMamdaniDefuzz(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag,
                        DefuzzMethod method) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = p.firingRow();
        p.loadStrengths(r);
        applyMamdaniImplicationMethod(tls, p.firingStrengths, p.fis, p.outputMFCache, p.ruleOutputs);
        applyMamdaniAggregationMethod(tls, p.ruleOutputs, p.fis, p.aggregated);
        int32_t numSamples = p.aggregated->size[0];
        resize1D(p.column, numSamples);
        std::memcpy(p.column->data, p.aggregated->data, sizeof(double) * static_cast<size_t>(numSamples));
        double total = p.totalOfRow[static_cast<size_t>(r)];
        for (auto _ : state) {
            benchmark::DoNotOptimize(applyMamdaniDefuzzificationMethod(tls, 1, p.column, total, p.fis, method, diag));
        }
        state.SetItemsProcessed(state.iterations());
    });
}

// Every output's set and crisp value of one Mamdani row before the last,
// as the row loop forms them: grouped by output set when the strengths
// allow, centroids over the sets' supports when the method allows.
void benchMamdaniRow(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        const SystemRecord *fis = p.fis;
        if (!p.mamdani.isFused) {
            state.SkipWithError("host implication or aggregation: every row takes the last row's path");
            return;
        }
        std::vector<double> crisp(static_cast<size_t>(fis->numOutputs));
        resize1D(p.column, fis->numSamples);
        int32_t r = 0;
        for (auto _ : state) {
            p.loadStrengths(r);
            const double total = p.totalOfRow[static_cast<size_t>(r)];
            const bool isRowPlain = areStrengthsPlain(p.firingStrengths, fis->numRules);
            const bool isGrouped = isGroupedRow(&p.mamdani, isRowPlain);
            const int32_t numFired =
                isGrouped ? listFiredRules(p.firingStrengths, fis->numRules, p.mamdaniArrays.firedRules) : -1;
            if (isGrouped && p.mamdani.isCentroidOnSupport) {
                double *sets = p.mamdaniArrays.outputSets->data;
                int32_t *bounds = p.mamdaniArrays.setBounds->data;
                for (int32_t t = 0; t < fis->numOutputs && total != 0.0; ++t) {
                    const SetSupport support =
                        aggregateMamdaniOutput(p.firingStrengths, numFired, fis, &p.mamdani, &p.mamdaniArrays,
                                               p.outputMFCache, t, isRowPlain, sets + int64_t{t} * fis->numSamples);
                    bounds[2 * t] = support.first;
                    bounds[2 * t + 1] = support.end;
                }
                applyMamdaniCentroidsOnSupport(tls, sets, bounds, total, fis, diag, crisp.data());
            } else {
                for (int32_t o = 1; o <= fis->numOutputs; ++o) {
                    if (total != 0.0) {
                        aggregateMamdaniOutput(p.firingStrengths, numFired, fis, &p.mamdani, &p.mamdaniArrays,
                                               p.outputMFCache, o - 1, isRowPlain, p.column->data);
                    }
                    crisp[static_cast<size_t>(o - 1)] =
                        applyMamdaniDefuzzificationMethod(tls, o, p.column, total, fis, p.method, diag);
                }
            }
            benchmark::DoNotOptimize(crisp.data());
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
    });
}

// Implication, aggregation and defuzzification of one Sugeno row; `method`
// replaces the system's own for the defuzzification.
void benchSugenoChain(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag,
                      DefuzzMethod method) {
    benchEachRow(state, sys, diag, [method, diag](zorbTLS *tls, Pipeline &p, int32_t r) {
        p.loadRow(r);
        p.loadStrengths(r);
        applySugenoImplicationMethod(p.inputRow, p.firingStrengths, p.fis, p.outputKinds, p.outputCoefficients,
                                     p.sugenoCacheEntries, p.sugenoCache, p.ruleOutputs, p.ruleOutputLevels);
        applySugenoAggregationMethod(p.ruleOutputs, p.aggregated);
        for (int32_t o = 1; o <= p.fis->numOutputs; ++o) {
            benchmark::DoNotOptimize(applySugenoDefuzzificationMethod(
                tls, o, p.aggregated->data[o - 1], p.totalOfRow[static_cast<size_t>(r)], p.fis, method, diag));
        }
    });
}

// The sums of a Sugeno row before the last, straight from the output
// function cache, and its crisp values.
void benchSugenoRow(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    benchEachRow(state, sys, diag, [diag](zorbTLS *tls, Pipeline &p, int32_t r) {
        p.loadRow(r);
        p.loadStrengths(r);
        fillSugenoOutputCache(p.inputRow, p.outputKinds, p.outputCoefficients, p.sugenoCache);
        for (int32_t o = 1; o <= p.fis->numOutputs; ++o) {
            const double a = sumSugenoRuleOutputs(p.firingStrengths, p.fis, p.sugenoCacheEntries, p.sugenoCache, o - 1);
            benchmark::DoNotOptimize(applySugenoDefuzzificationMethod(tls, o, a, p.totalOfRow[static_cast<size_t>(r)],
                                                                      p.fis, p.method, diag));
        }
    });
}

// The whole evaluation entry on kNumRows rows, per row: what the stages
// above add up to, plus the setup evaluateFis does once per call.
void benchEvaluateFis(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        std::vector<double> rowMajor = makeRows(sys->fis);
        int32_t numInputs = sys->fis.numInputs;
        DynArray<double> *inputs = makeArray<double>(2);
        resize2D(inputs, kNumRows, numInputs);
        for (int32_t r = 0; r < kNumRows; ++r)
            for (int32_t i = 0; i < numInputs; ++i)
                inputs->data[r + i * kNumRows] = rowMajor[static_cast<size_t>(r * numInputs + i)];
        DynArray<double> *results[6];
        for (int k = 0; k < 6; ++k) results[k] = makeArray<double>(k == 4 ? 1 : 2);
        FazoltResults out = {results[0], results[1], results[2], results[3], results[4], results[5]};
        for (auto _ : state) {
            evaluateFis(tls, inputs, &sys->fis, diag, &out);
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * kNumRows);
        for (int k = 5; k >= 0; --k) releaseArray(&results[k]);
        releaseArray(&inputs);
    });
}

}  // namespace

// ---- Registration.

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    std::string dir = benchSystemsDir();
    std::vector<std::unique_ptr<BenchSystem>> systems;
    try {
        for (const char *name : {"fan", "big_mamdani", "sugeno_linear"}) {
            systems.push_back(std::make_unique<BenchSystem>(dir + "/" + name + ".json"));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_stages: %s (set FAZOLT_BENCH_SYSTEMS to the reference systems)\n", e.what());
        return 1;
    }
    QuietDiagnostics quiet;
    const DiagnosticsOptions *diag = &quiet.options;

    benchmark::RegisterBenchmark("membershipRow/trimf", benchMembershipRow, "trimf", std::vector<double>{30, 50, 70});
    benchmark::RegisterBenchmark("membershipRow/trapmf", benchMembershipRow, "trapmf",
                                 std::vector<double>{20, 40, 60, 80});
    benchmark::RegisterBenchmark("membershipRow/gaussmf", benchMembershipRow, "gaussmf", std::vector<double>{15, 50});

    for (const std::unique_ptr<BenchSystem> &s : systems) {
        const BenchSystem *sys = s.get();
        bool isMamdani = nameIs(sys->fis.type, "mamdani");
        benchmark::RegisterBenchmark(("fuzzifyRow/" + sys->name).c_str(), benchFuzzify, sys, diag);
        benchmark::RegisterBenchmark(("fireRules/" + sys->name).c_str(), benchFireRules, sys, diag);
        benchmark::RegisterBenchmark(("applyOperators/" + sys->name).c_str(), benchOperators, sys, diag);
        if (isMamdani) {
            benchmark::RegisterBenchmark(("mamdaniImplication/" + sys->name).c_str(), benchImplication, sys, diag);
            benchmark::RegisterBenchmark(("mamdaniAggregation/" + sys->name).c_str(), benchAggregation, sys, diag);
            benchmark::RegisterBenchmark(("mamdaniRow/" + sys->name).c_str(), benchMamdaniRow, sys, diag);
        } else {
            benchmark::RegisterBenchmark(("sugenoRow/" + sys->name).c_str(), benchSugenoRow, sys, diag);
            benchmark::RegisterBenchmark(("sugenoChain/wtaver/" + sys->name).c_str(), benchSugenoChain, sys, diag,
                                         DefuzzMethod::Wtaver);
            benchmark::RegisterBenchmark(("sugenoChain/wtsum/" + sys->name).c_str(), benchSugenoChain, sys, diag,
                                         DefuzzMethod::Wtsum);
        }
        benchmark::RegisterBenchmark(("evaluateFisPerRow/" + sys->name).c_str(), benchEvaluateFis, sys, diag);
    }
    const BenchSystem *big = systems[1].get();
    const std::pair<const char *, DefuzzMethod> methods[] = {{"centroid", DefuzzMethod::Centroid},
                                                             {"bisector", DefuzzMethod::Bisector},
                                                             {"mom", DefuzzMethod::Mom},
                                                             {"som", DefuzzMethod::Som},
                                                             {"lom", DefuzzMethod::Lom}};
    for (const auto &[name, method] : methods) {
        benchmark::RegisterBenchmark((std::string("mamdaniDefuzz/") + name + "/" + big->name).c_str(),
                                     benchMamdaniDefuzz, big, diag, method);
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
