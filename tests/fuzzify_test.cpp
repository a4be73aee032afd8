// Trimmed membership-function lists, the Mamdani output cache and the
// fuzzification of an input row.
#include <gtest/gtest.h>

#include <orvane/host.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codegen/fuzzifyInputs.h"
#include "codegen/private/caches.h"
#include "model/systemRecord.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

bool sameValue(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    uint64_t x, y;
    std::memcpy(&x, &a, 8);
    std::memcpy(&y, &b, 8);
    return x == y;
}

void setName(DynArray<uint8_t> *a, const std::string &text) {
    resize2D(a, 1, static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(a->data, text.data(), text.size());
}

std::string text(const DynArray<uint8_t> *a) {
    return std::string(reinterpret_cast<const char *>(a->data), static_cast<size_t>(numel(a)));
}

std::vector<double> doubles(const DynArray<double> *a) { return std::vector<double>(a->data, a->data + numel(a)); }

void setDoubles(DynArray<double> *a, int32_t rows, int32_t cols, const std::vector<double> &columnMajor) {
    resize2D(a, rows, cols);
    for (size_t k = 0; k < columnMajor.size(); ++k) a->data[k] = columnMajor[k];
}

void setInts(DynArray<int32_t> *a, const std::vector<int32_t> &values) {
    resize2D(a, 1, static_cast<int32_t>(values.size()));
    for (size_t k = 0; k < values.size(); ++k) a->data[k] = values[k];
}

struct MFSpec {
    std::string type;
    int32_t origTypeLength;
    std::vector<double> params;
    int32_t origParamLength;
};

// Variable v gets the stored MFs of specs[v] and the count origNumMF[v].
void setVariables(DynArray<VariableRecord> *vars, const std::vector<std::vector<MFSpec>> &specs,
                  const std::vector<int32_t> &origNumMF) {
    resize2D(vars, 1, static_cast<int32_t>(specs.size()));
    for (size_t v = 0; v < specs.size(); ++v) {
        VariableRecord &var = vars->data[v];
        var.origNumMF = origNumMF[v];
        resize2D(var.mf, 1, static_cast<int32_t>(specs[v].size()));
        for (size_t j = 0; j < specs[v].size(); ++j) {
            MFRecord &mf = var.mf->data[j];
            setName(mf.type, specs[v][j].type);
            mf.origTypeLength = specs[v][j].origTypeLength;
            setDoubles(mf.params, 1, static_cast<int32_t>(specs[v][j].params.size()), specs[v][j].params);
            mf.origParamLength = specs[v][j].origParamLength;
        }
    }
}

// Each MF of each variable, trimmed to its orig lengths.
void setTrimmedVariables(DynArray<VariableRecord> *vars, const std::vector<std::vector<MFSpec>> &specs) {
    std::vector<int32_t> counts;
    for (const auto &s : specs) counts.push_back(static_cast<int32_t>(s.size()));
    setVariables(vars, specs, counts);
}

class Caches : public ::testing::Test {
protected:
    int64_t liveBefore = orvane::allocStats().liveBlocks;
    SystemRecord fis;
    DiagnosticsOptions diag{};
    void SetUp() override {
        initSystemRecord(nullptr, &fis);
        initArray(&diag.Model, 2);
        initArray(&diag.Block, 2);
    }
    void TearDown() override {
        releaseArray(&diag.Block);
        releaseArray(&diag.Model);
        releaseSystemRecord(&fis);
        orvane::unregisterFunction("twice");
        orvane::unregisterFunction("fiveValues");
        EXPECT_EQ(orvane::allocStats().liveBlocks, liveBefore);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
    // The row loop's membership degrees of one row: the per-call plan, then
    // the cache.
    void fillInputCache(zorbTLS *tls, const DynArray<double> *row, DynArray<double> *cache) {
        zorbHeapReferenceStackEnterFcn(tls);
        DynArray<ExtractedVarMF> *inputMFs = nullptr;
        initRegisteredArray(tls, &inputMFs, 2);
        InputMembershipPlan plan;
        initInputMembershipPlan(tls, &plan);
        extractVarMF(tls, fis.inputMF, inputMFs);
        planInputMembership(&fis, inputMFs, numel(cache), &plan);
        createInputMFCache(tls, row, &fis, &diag, inputMFs, &plan, cache);
        releaseInputMembershipPlan(&plan);
        releaseArray(&inputMFs);
        zorbHeapReferenceStackLeaveFcn(tls);
    }
    // Runs fn in a host call and expects it to finish cleanly.
    void run(const std::function<void(zorbTLS *)> &fn) {
        orvane::BoundaryOutcome out = orvane::runInCall(fn);
        ASSERT_FALSE(out.error.has_value()) << out.error->identifier() << ": " << out.error->message();
        EXPECT_EQ(out.leakedValues, 0);
    }
};

// ---- extractVarMF.

void checkExtracted(const DynArray<ExtractedVarMF> *out) {
    ASSERT_EQ(out->size[0], 1);
    ASSERT_EQ(out->size[1], 3);

    const DynArray<ExtractedMF> *first = out->data[0];
    ASSERT_EQ(numel(first), 3);
    EXPECT_EQ(text(first->data[0].type), "trimf");
    EXPECT_EQ(doubles(first->data[0].params), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(first->data[1].type->size[1], 0);
    EXPECT_EQ(first->data[1].params->size[0], 1);
    EXPECT_EQ(first->data[1].params->size[1], 0);
    EXPECT_EQ(first->data[2].type->size[1], 0);
    EXPECT_EQ(first->data[2].params->size[1], 0);

    EXPECT_EQ(numel(out->data[1]), 0);  // origNumMF 0: no membership functions

    // Overstated lengths are cut to what is stored, and a counted MF that
    // is not stored has an empty name (the host rejects it if evaluated).
    const DynArray<ExtractedMF> *third = out->data[2];
    ASSERT_EQ(numel(third), 2);
    EXPECT_EQ(text(third->data[0].type), "sigmf");
    EXPECT_EQ(doubles(third->data[0].params), (std::vector<double>{1, 2}));
    EXPECT_EQ(numel(third->data[1].type), 0);
}

TEST_F(Caches, ExtractVarMFTrimsNamesParametersAndLists) {
    setVariables(fis.inputMF,
                 {{{"trimfXYZ", 5, {1, 2, 3, 4}, 3},
                   {"gaussmf", 0, {1, 2}, -1},
                   {"smf  ", -4, {5, 6}, 0},
                   {"zmf", 3, {7, 8}, 2}},  // beyond origNumMF: not extracted
                  {{"pimf", 4, {1, 2, 3, 4}, 4}},
                  {{"sigmf", 9, {1, 2}, 5}}},  // lengths past the stored rows
                 {3, 0, 2});                   // the third counts one MF more than it stores
    DynArray<ExtractedVarMF> *out = nullptr;
    run([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        initRegisteredArray(tls, &out, 2);
        extractVarMF(tls, fis.inputMF, out);
        checkExtracted(out);
        releaseArray(&out);
        zorbHeapReferenceStackLeaveFcn(tls);
    });
}

// ---- createMamdaniOutputMFCache.

TEST_F(Caches, MamdaniOutputCacheHoldsEachOutputsFunctionsInRowOrder) {
    orvane::registerFunction("twice",
                             [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
                                 std::vector<double> x = arguments.at(0).toDoubles();
                                 for (double &v : x) v *= 2;
                                 results = {orvane::Value::doubleMatrix(1, static_cast<int64_t>(x.size()), x)};
                             });
    fis.numOutputs = 2;
    fis.numSamples = 3;
    setTrimmedVariables(fis.outputMF,
                        {{{"trimf", 5, {-5, 0, 5}, 3}, {"trimf", 5, {0, 5, 10}, 3}, {"trimf", 5, {0, 10, 20}, 3}},
                         {{"trimf", 5, {-2, 0, 2}, 3}, {"twice", 5, {}, 0}}});
    setInts(fis.numOutputMFs, {3, 2});
    setInts(fis.numCumOutputMFs, {0, 3});
    setDoubles(fis.outputSamplePoints, 2, 3, {0, -1, 5, 0, 10, 1});  // rows [0 5 10] and [-1 0 1]

    DynArray<double> *cache = nullptr;
    initArray(&cache, 2);
    run([&](zorbTLS *tls) { createMamdaniOutputMFCache(tls, &fis, cache); });
    ASSERT_EQ(cache->size[0], 5);
    ASSERT_EQ(cache->size[1], 3);
    const double expectedRows[5][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0.5, 1}, {0.5, 1, 0.5}, {-2, 0, 2}};
    for (int row = 0; row < 5; ++row) {
        for (int q = 0; q < 3; ++q) {
            EXPECT_TRUE(sameValue(cache->data[row + q * 5], expectedRows[row][q]))
                << "row " << row + 1 << " col " << q + 1;
        }
    }
    releaseArray(&cache);
}

TEST_F(Caches, MamdaniOutputCacheDropsValuesPastTheSamplePoints) {
    // A host function answering with more values than there are sample
    // points must not write into the next row.
    orvane::registerFunction("fiveValues",
                             [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &) {
                                 results = {orvane::Value::doubleMatrix(1, 5, {9, 9, 9, 9, 9})};
                             });
    fis.numOutputs = 1;
    fis.numSamples = 2;
    setTrimmedVariables(fis.outputMF, {{{"fiveValues", 10, {}, 0}, {"trimf", 5, {0, 1, 2}, 3}}});
    setInts(fis.numOutputMFs, {2});
    setInts(fis.numCumOutputMFs, {0});
    setDoubles(fis.outputSamplePoints, 1, 2, {1, 2});
    DynArray<double> *cache = nullptr;
    initArray(&cache, 2);
    run([&](zorbTLS *tls) { createMamdaniOutputMFCache(tls, &fis, cache); });
    EXPECT_EQ(doubles(cache), (std::vector<double>{9, 1, 9, 0}));
    releaseArray(&cache);
}

// ---- createInputMFCache, then the rules mapped against it.

TEST_F(Caches, FuzzifyFillsTheCacheInputByInputThenMapsTheRules) {
    fis.numInputs = 2;
    fis.numRules = 2;
    setTrimmedVariables(fis.inputMF,
                        {{{"trimf", 5, {0, 5, 10}, 3}, {"trimf", 5, {5, 10, 15}, 3}, {"trimf", 5, {-10, 0, 10}, 3}},
                         {{"trimf", 5, {0, 1, 2}, 3}, {"trimf", 5, {1, 2, 3}, 3}}});
    setInts(fis.numInputMFs, {3, 2});
    setInts(fis.numCumInputMFs, {0, 3});
    setDoubles(fis.inputRange, 2, 2, {0, 0, 10, 3});
    setDoubles(fis.antecedent, 2, 2, {3, -2, 2, 0});
    resize1D(fis.connection, 2);
    fis.connection->data[0] = 1;
    fis.connection->data[1] = 2;

    DynArray<double> *row = nullptr, *cache = nullptr, *ruleInputValues = nullptr;
    DynArray<int32_t> *antecedentPlan = nullptr;
    initArray(&row, 2);
    initArray(&cache, 2);
    initArray(&ruleInputValues, 2);
    initArray(&antecedentPlan, 2);
    setDoubles(row, 1, 2, {7.5, 1.5});
    resize2D(cache, 1, 5);
    resize2D(ruleInputValues, 2, 2);
    run([&](zorbTLS *tls) {
        fillInputCache(tls, row, cache);
        planRuleAntecedents(&fis, antecedentPlan);
        mapRuleAntecedents(&fis, antecedentPlan, cache, ruleInputValues);
    });
    EXPECT_EQ(doubles(cache), (std::vector<double>{0.5, 0.5, 0.25, 0.5, 0.5}));
    // Rule 1 (AND): MF 3 of input 1, MF 2 of input 2. Rule 2 (OR): NOT MF 2
    // of input 1, input 2 unused.
    EXPECT_EQ(doubles(ruleInputValues), (std::vector<double>{0.25, 0.5, 0.5, 0.0}));
    releaseArray(&antecedentPlan);
    releaseArray(&ruleInputValues);
    releaseArray(&cache);
    releaseArray(&row);
}

TEST_F(Caches, InputCacheMarksFunctionsTheVariableDoesNotHold) {
    // numInputMFs says 2 but the variable holds one: the second degree is
    // undefined, and a cumulative count past the cache writes nothing.
    fis.numInputs = 2;
    setTrimmedVariables(fis.inputMF, {{{"trimf", 5, {0, 1, 2}, 3}}, {{"trimf", 5, {0, 1, 2}, 3}}});
    setInts(fis.numInputMFs, {2, 1});
    setInts(fis.numCumInputMFs, {0, 7});
    setDoubles(fis.inputRange, 2, 2, {0, 0, 2, 2});
    DynArray<double> *row = nullptr, *cache = nullptr;
    initArray(&row, 2);
    initArray(&cache, 2);
    setDoubles(row, 1, 2, {1, 1});
    setDoubles(cache, 1, 3, {-1, -1, -1});
    run([&](zorbTLS *tls) { fillInputCache(tls, row, cache); });
    EXPECT_TRUE(sameValue(cache->data[0], 1.0));
    EXPECT_TRUE(sameValue(cache->data[1], NaN));
    EXPECT_TRUE(sameValue(cache->data[2], -1.0));
    releaseArray(&cache);
    releaseArray(&row);
}

}  // namespace
