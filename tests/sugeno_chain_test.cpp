// The Sugeno chain of one row: output levels from constant and linear
// functions, rule outputs selected by the rounded consequent, column sums,
// and the crisp value of every defuzzification method.
#include "codegen/applySugeno.h"
#include "codegen/private/caches.h"
#include "codegen/private/sugenoOutputs.h"

#include "test_systems.h"

#include <limits>

namespace {

using namespace testsys;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct SugenoRow {
    TestSystem sys;
    TestDiagnostics diag{kDiagnosticWarning, kDiagnosticWarning};
    DynArray<double> *inputRow = newArray<double>(2);
    DynArray<double> *strengths = newArray<double>(1);
    DynArray<double> *ruleOutputs = newArray<double>(2);
    DynArray<double> *levels = newArray<double>(2);
    DynArray<double> *aggregated = newArray<double>(2);
    // The per-call plan of the row loop.
    DynArray<ExtractedVarMF> *outputMFs = newArray<ExtractedVarMF>(2);
    DynArray<uint8_t> *kinds = newArray<uint8_t>(1);
    DynArray<double> *coefficients = newArray<double>(1);
    DynArray<int32_t> *cacheEntries = newArray<int32_t>(2);
    DynArray<double> *cache = newArray<double>(2);
    std::vector<double> crisp;

    // consequent: numRules rows x numOutputs columns, row by row.
    SugenoRow(const std::vector<std::vector<MFSpec>> &outputs, const std::vector<double> &x,
              const std::vector<double> &w, std::initializer_list<double> consequentRowMajor) {
        SystemRecord &fis = sys.fis;
        setName(fis.type, "sugeno");
        setName(fis.defuzzMethod, "wtaver");
        setVariables(fis.outputMF, outputs);
        fis.numOutputs = static_cast<int32_t>(outputs.size());
        fis.numRules = static_cast<int32_t>(w.size());
        fis.numInputs = static_cast<int32_t>(x.size());
        resize2D(fis.numOutputMFs, 1, fis.numOutputs);
        resize2D(fis.numCumOutputMFs, 1, fis.numOutputs);
        int32_t cumulative = 0;
        for (int32_t o = 0; o < fis.numOutputs; ++o) {
            fis.numOutputMFs->data[o] = static_cast<int32_t>(outputs[o].size());
            fis.numCumOutputMFs->data[o] = cumulative;
            cumulative += fis.numOutputMFs->data[o];
        }
        resize2D(fis.outputRange, fis.numOutputs, 2);
        for (int32_t o = 0; o < fis.numOutputs; ++o) {
            fis.outputRange->data[o] = -1.0 - o;
            fis.outputRange->data[o + fis.numOutputs] = 4.0;
        }
        setMatrix(fis.consequent, fis.numRules, fis.numOutputs, consequentRowMajor);
        fis.orrSize[0] = fis.numRules;
        fis.orrSize[1] = fis.numOutputs;
        fis.aggSize[0] = 1;
        fis.aggSize[1] = fis.numOutputs;
        setVector(inputRow, x);
        setVector(strengths, w);
        resize2D(aggregated, 1, fis.numOutputs);
    }
    ~SugenoRow() {
        releaseArray(&cache);
        releaseArray(&cacheEntries);
        releaseArray(&coefficients);
        releaseArray(&kinds);
        releaseArray(&outputMFs);
        releaseArray(&aggregated);
        releaseArray(&levels);
        releaseArray(&ruleOutputs);
        releaseArray(&strengths);
        releaseArray(&inputRow);
    }
    // The last row's chain; every output's sum is also formed as the rows
    // before it form theirs, straight from the cache, and must agree.
    void evaluate(zorbTLS *tls, double totalFiringStrength) {
        const SystemRecord *fis = &sys.fis;
        extractVarMF(tls, fis->outputMF, outputMFs);
        planSugenoOutputCache(fis, outputMFs, numel(inputRow), kinds, coefficients);
        planSugenoRuleOutputs(fis, cacheEntries);
        resize2D(cache, 1, numel(kinds));
        applySugenoImplicationMethod(inputRow, strengths, fis, kinds, coefficients, cacheEntries, cache, ruleOutputs,
                                     levels);
        applySugenoAggregationMethod(ruleOutputs, aggregated);
        for (int32_t o = 0; o < fis->numOutputs; ++o)
            EXPECT_SAME_BITS(sumSugenoRuleOutputs(strengths, fis, cacheEntries, cache, o), aggregated->data[o]);
        crisp.clear();
        DefuzzMethod method = selectDefuzzMethod(sys.fis.defuzzMethod);
        for (int32_t o = 1; o <= sys.fis.numOutputs; ++o)
            crisp.push_back(applySugenoDefuzzificationMethod(tls, o, aggregated->data[o - 1], totalFiringStrength,
                                                             &sys.fis, method, &diag.options));
    }
    void expectMatrix(const DynArray<double> *a, int32_t rows, int32_t cols, const std::vector<double> &rowMajor) {
        ASSERT_EQ(a->size[0], rows);
        ASSERT_EQ(a->size[1], cols);
        for (int32_t i = 0; i < rows; ++i)
            for (int32_t j = 0; j < cols; ++j) {
                SCOPED_TRACE("(" + std::to_string(i + 1) + ", " + std::to_string(j + 1) + ")");
                EXPECT_SAME_BITS(element(a, i, j), rowMajor[i * cols + j]);
            }
    }
};

const std::vector<std::vector<MFSpec>> tenAndTwenty = {{{"constant", {10}}, {"constant", {20}}}};

// Strengths 0.2 and 0.6 on levels 10 and 20: a = 14, T = 0.8. Each
// Mamdani name sees the one-point set a with membership T.
TEST(SugenoChain, EveryMethodOnTheWeightedSum) {
    struct Case {
        const char *method;
        double T, expected;
    } cases[] = {
        {"wtaver", 0.8, 17.5},  // (1 / 0.8) * 14
        {"wtsum", 0.8, 14},
        {"centroid", 0.8, 14.000000000000002},  // (0.8 * 14) * (1 / 0.8)
        {"bisector", 0.8, 14},
        {"mom", 0.8, 14},
        {"som", 0.8, 14},
        {"lom", 0.8, 14},
        {"wtaver", NaN, NaN},
        {"centroid", NaN, NaN},
        {"mom", NaN, NaN},
        {"wtsum", NaN, 14},
        {"bisector", NaN, 14},
        {"som", NaN, 14},
        {"lom", NaN, 14},
        // The host's standard functions as methods: feval(name, a, T).
        {"max", 0.8, 14},
        {"min", 0.8, 0.8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.method) + ", T = " + describe(c.T));
        LeakCheck leaks;
        {
            SugenoRow row(tenAndTwenty, {0.5}, {0.2, 0.6}, {1, 2});
            setName(row.sys.fis.defuzzMethod, c.method);
            std::vector<orvane::Warning> warnings = runClean([&](zorbTLS *tls) { row.evaluate(tls, c.T); });
            EXPECT_TRUE(warnings.empty());  // no empty-set check for Sugeno
            row.expectMatrix(row.ruleOutputs, 2, 1, {2, 12});
            row.expectMatrix(row.levels, 2, 1, {10, 20});
            row.expectMatrix(row.aggregated, 1, 1, {14});
            ASSERT_EQ(row.crisp.size(), 1u);
            EXPECT_SAME_BITS(row.crisp[0], c.expected);
        }
        leaks.expectNone();
    }
}

// Two outputs with 3 and 2 functions. The consequent is rounded with its
// sign: 1.7 selects function 2, -0.4 and NaN nothing, 0.5 function 1; 2 on
// output 2 selects cache entry 3 + 2.
TEST(SugenoChain, ConsequentSelectsAFunctionOfItsOutput) {
    SugenoRow row({{{"constant", {1}}, {"constant", {2}}, {"constant", {3}}}, {{"constant", {4}}, {"constant", {5}}}},
                  {0.5}, {1, 0.5, 0.25},
                  {1.7, 2,     //
                   -0.4, 0.5,  //
                   0, NaN});
    runClean([&](zorbTLS *tls) { row.evaluate(tls, 1.75); });
    row.expectMatrix(row.levels, 3, 2, {2, 5, 0, 4, 0, 0});
    row.expectMatrix(row.ruleOutputs, 3, 2, {2, 5, 0, 2, 0, 0});
    row.expectMatrix(row.aggregated, 1, 2, {2, 7});
}

// Coefficients first, the constant term last; only "constant", exactly, is
// a constant.
TEST(SugenoChain, ConstantAndLinearOutputFunctions) {
    SugenoRow row({{{"linear", {2, 3, 1}}, {"Constant", {2, 3, 1}}, {"constant", {7, 99}}, {"myLine", {0.5, -1, 0}}}},
                  {10, 20}, {1, 1, 1, 1}, {1, 2, 3, 4});
    runClean([&](zorbTLS *tls) { row.evaluate(tls, 4); });
    row.expectMatrix(row.levels, 4, 1, {81, 81, 7, -15});
}

// No rule fired: the midpoint of each output's range with one report per
// output; the levels are still filled.
TEST(SugenoChain, NoRuleFiredGivesRangeMidpointPerOutput) {
    LeakCheck leaks;
    {
        SugenoRow row({{{"constant", {10}}}, {{"constant", {20}}}}, {0.5}, {0, 0}, {1, 1, 1, 1});
        std::vector<orvane::Warning> warnings = runClean([&](zorbTLS *tls) { row.evaluate(tls, 0.0); });
        ASSERT_EQ(warnings.size(), 2u);
        EXPECT_EQ(warnings[0].identifier, "warnFazolt_NoRuleFired");
        EXPECT_EQ(warnings[1].identifier, "warnFazolt_NoRuleFired");
        EXPECT_EQ(row.crisp, (std::vector<double>{1.5, 1.0}));  // (4 + -1) / 2, (4 + -2) / 2
        row.expectMatrix(row.ruleOutputs, 2, 2, {0, 0, 0, 0});
        row.expectMatrix(row.levels, 2, 2, {10, 20, 10, 20});
    }
    leaks.expectNone();
}

// Sums run down each column from its first row, into the elements of
// aggregatedOutputs in column-major order whatever its extents.
TEST(SugenoChain, AggregationSumsColumnsIntoAggregatedElements) {
    DynArray<double> *ruleOutputs = newArray<double>(2);
    DynArray<double> *aggregated = newArray<double>(2);
    setMatrix(ruleOutputs, 3, 2, {-0.0, 0.7, -0.0, 0.6, -0.0, NaN});
    resize2D(aggregated, 2, 1);
    applySugenoAggregationMethod(ruleOutputs, aggregated);
    EXPECT_SAME_BITS(aggregated->data[0], -0.0);
    EXPECT_SAME_BITS(aggregated->data[1], NaN);
    setMatrix(ruleOutputs, 0, 2, {});
    applySugenoAggregationMethod(ruleOutputs, aggregated);
    EXPECT_SAME_BITS(aggregated->data[0], 0.0);
    EXPECT_SAME_BITS(aggregated->data[1], 0.0);
    releaseArray(&aggregated);
    releaseArray(&ruleOutputs);
}

}  // namespace
