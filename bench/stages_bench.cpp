// Micro-benchmarks of the module's row stages, called directly as the
// evaluation calls them, on the reference systems: a membership function
// over a row of sample points, fuzzification of a row, the rule operators,
// Mamdani implication and aggregation, each defuzzification method, the
// Sugeno chain, and a whole evaluation per row for comparison with the sum.
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
    // Per row: rule input values and firing strengths with their total.
    std::vector<std::vector<double>> ruleInputsOfRow;
    std::vector<std::vector<double>> strengthsOfRow;
    std::vector<double> totalOfRow;

    Pipeline(zorbTLS *t, const SystemRecord *f, const DiagnosticsOptions *d)
        : tls(t), fis(f), diag(d), isMamdani(nameIs(f->type, "mamdani")),
          method(selectDefuzzMethod(f->defuzzMethod)), rows(makeRows(*f)) {
        extractVarMF(tls, fis->inputMF, inputMFs);
        int32_t numInputMFs = 0;
        for (int32_t i = 0; i < numel(fis->numInputMFs); ++i) numInputMFs += fis->numInputMFs->data[i];
        resize2D(inputMFCache, 1, numInputMFs);
        resize2D(ruleInputValues, fis->numRules, fis->numInputs);
        resize1D(firingStrengths, fis->numRules);
        resize1D(scratch, fis->numInputs);
        resize2D(ruleOutputs, fis->orrSize[0], fis->orrSize[1]);
        resize2D(aggregated, fis->aggSize[0], fis->aggSize[1]);
        resize2D(ruleOutputLevels, fis->orrSize[0], fis->orrSize[1]);
        if (isMamdani) createMamdaniOutputMFCache(tls, fis, outputMFCache);
        for (int32_t r = 0; r < kNumRows; ++r) {
            loadRow(r);
            fuzzifyInputs(tls, inputRow, fis, diag, inputMFs, inputMFCache, ruleInputValues);
            ruleInputsOfRow.emplace_back(ruleInputValues->data, ruleInputValues->data + numel(ruleInputValues));
            totalOfRow.push_back(applyOperators(tls, ruleInputValues, fis, firingStrengths, scratch));
            strengthsOfRow.emplace_back(firingStrengths->data, firingStrengths->data + numel(firingStrengths));
        }
    }
    ~Pipeline() {
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

// Items are rows in every benchmark below.
void benchFuzzify(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = 0;
        for (auto _ : state) {
            p.loadRow(r);
            fuzzifyInputs(tls, p.inputRow, p.fis, diag, p.inputMFs, p.inputMFCache, p.ruleInputValues);
            benchmark::ClobberMemory();
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
    });
}

void benchOperators(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = 0;
        for (auto _ : state) {
            p.loadRuleInputs(r);
            benchmark::DoNotOptimize(applyOperators(tls, p.ruleInputValues, p.fis, p.firingStrengths, p.scratch));
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
    });
}

void benchImplication(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = 0;
        for (auto _ : state) {
            p.loadStrengths(r);
            applyMamdaniImplicationMethod(tls, p.firingStrengths, p.fis, p.outputMFCache, p.ruleOutputs);
            benchmark::ClobberMemory();
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
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

// Implication, aggregation and defuzzification of one Sugeno row; `method`
// replaces the system's own for the defuzzification.
void benchSugenoChain(benchmark::State &state, const BenchSystem *sys, const DiagnosticsOptions *diag,
                      DefuzzMethod method) {
    inCall(state, [&](zorbTLS *tls) {
        Pipeline p(tls, &sys->fis, diag);
        int32_t r = 0;
        for (auto _ : state) {
            p.loadRow(r);
            p.loadStrengths(r);
            applySugenoImplicationMethod(tls, p.inputRow, p.firingStrengths, p.fis, p.ruleOutputs,
                                         p.ruleOutputLevels);
            applySugenoAggregationMethod(p.ruleOutputs, p.aggregated);
            for (int32_t o = 1; o <= p.fis->numOutputs; ++o) {
                benchmark::DoNotOptimize(applySugenoDefuzzificationMethod(
                    tls, o, p.aggregated->data[o - 1], p.totalOfRow[static_cast<size_t>(r)], p.fis, method, diag));
            }
            r = (r + 1) % kNumRows;
        }
        state.SetItemsProcessed(state.iterations());
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
        benchmark::RegisterBenchmark(("applyOperators/" + sys->name).c_str(), benchOperators, sys, diag);
        if (isMamdani) {
            benchmark::RegisterBenchmark(("mamdaniImplication/" + sys->name).c_str(), benchImplication, sys, diag);
            benchmark::RegisterBenchmark(("mamdaniAggregation/" + sys->name).c_str(), benchAggregation, sys, diag);
        } else {
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
