// Implication and aggregation of one Mamdani row: shaping by the firing
// strength, the clamped NOT of a consequent, NaN handling, and methods that
// the host evaluates by name.
#include "codegen/applyMamdani.h"

#include "test_systems.h"

#include <limits>

namespace {

using namespace testsys;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// One Mamdani row: the output membership cache is given directly (one row
// per output membership function, one column per sample point).
struct MamdaniRow {
    TestSystem sys;
    DynArray<double> *cache = newArray<double>(2);
    DynArray<double> *strengths = newArray<double>(1);
    DynArray<double> *ruleOutputs = newArray<double>(2);
    DynArray<double> *aggregated = newArray<double>(2);

    // consequent: numRules rows x numOutputs columns, row by row.
    MamdaniRow(std::string_view imp, std::string_view agg, std::initializer_list<int32_t> numOutputMFs,
               int32_t numSamples, std::initializer_list<double> cacheRowMajor, int32_t numRules,
               std::initializer_list<double> consequentRowMajor, const std::vector<double> &w) {
        SystemRecord &fis = sys.fis;
        setName(fis.impMethod, imp);
        setName(fis.aggMethod, agg);
        sys.setOutputCounts(numOutputMFs);
        fis.numSamples = numSamples;
        fis.numOutputs = static_cast<int32_t>(numOutputMFs.size());
        fis.numRules = numRules;
        fis.orrSize[0] = numSamples;
        fis.orrSize[1] = numRules * fis.numOutputs;
        fis.aggSize[0] = numSamples;
        fis.aggSize[1] = fis.numOutputs;
        setMatrix(cache, static_cast<int32_t>(cacheRowMajor.size()) / numSamples, numSamples, cacheRowMajor);
        setMatrix(fis.consequent, numRules, fis.numOutputs, consequentRowMajor);
        setVector(strengths, w);
    }
    ~MamdaniRow() {
        releaseArray(&aggregated);
        releaseArray(&ruleOutputs);
        releaseArray(&strengths);
        releaseArray(&cache);
    }
    void implyAndAggregate(zorbTLS *tls) {
        applyMamdaniImplicationMethod(tls, strengths, &sys.fis, cache, ruleOutputs);
        applyMamdaniAggregationMethod(tls, ruleOutputs, &sys.fis, aggregated);
    }
    void expectColumn(const DynArray<double> *a, int32_t col, const std::vector<double> &expected) const {
        for (int32_t s = 0; s < static_cast<int32_t>(expected.size()); ++s) {
            SCOPED_TRACE("column " + std::to_string(col + 1) + ", sample " + std::to_string(s + 1));
            EXPECT_SAME_BITS(element(a, s, col), expected[s]);
        }
    }
};

// One output sampled as [0 0.5 1]; rule 1 uses it with strength 0.35,
// rule 2 its complement with strength 0.6.
TEST(MamdaniChain, WorkedExampleForEveryBuiltInPair) {
    struct Case {
        const char *imp, *agg;
        std::vector<double> rule1, rule2, aggregated;
    } cases[] = {
        {"min", "max", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, 0.5, 0.35}},
        {"min", "sum", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, 0.85, 0.35}},
        {"min", "probor", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, 0.675, 0.35}},
        {"prod", "max", {0, 0.175, 0.35}, {0.6, 0.3, 0}, {0.6, 0.3, 0.35}},
        {"prod", "sum", {0, 0.175, 0.35}, {0.6, 0.3, 0}, {0.6, 0.475, 0.35}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.imp) + "/" + c.agg);
        LeakCheck leaks;
        {
            MamdaniRow row(c.imp, c.agg, {1}, 3, {0, 0.5, 1}, 2, {1, -1}, {0.35, 0.6});
            runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
            EXPECT_EQ(row.ruleOutputs->size[0], 3);
            EXPECT_EQ(row.ruleOutputs->size[1], 2);
            row.expectColumn(row.ruleOutputs, 0, c.rule1);
            row.expectColumn(row.ruleOutputs, 1, c.rule2);
            row.expectColumn(row.aggregated, 0, c.aggregated);
        }
        leaks.expectNone();
    }
}

// Each case: one membership value mu, a consequent and a strength w.
TEST(MamdaniChain, ImplicationOfOneValue) {
    struct Case {
        const char *imp;
        double mu, consequent, w, expected;
    } cases[] = {
        // The NOT of a consequent is clamped at 0, NaN included.
        {"prod", 1.0, -1, 1.0, 0.0},
        {"prod", NaN, -1, 1.0, 0.0},
        {"prod", 1.3, -1, 1.0, 0.0},
        {"prod", 0.25, -1, 1.0, 0.75},
        {"prod", -0.5, -1, 1.0, 1.5},
        // Consequents that round to 0 (or NaN) say nothing: a zero column.
        {"prod", 0.8, 0.4, 1.0, 0.0},
        {"prod", 0.8, -0.4, 1.0, 0.0},
        {"prod", 0.8, NaN, 1.0, 0.0},
        {"prod", 0.8, 0.5, 1.0, 0.8},                  // halves round away from zero
        {"min", 0.8, -0.6, 1.0, 0.19999999999999996},  // 1 - 0.8 in doubles
        // min ignores a NaN unless both are NaN.
        {"min", 0.3, 1, NaN, 0.3},
        {"min", NaN, 1, 0.4, 0.4},
        {"min", NaN, 1, NaN, NaN},
        {"min", 0.9, 1, 0.4, 0.4},
        {"min", -0.0, 1, 0.0, -0.0},
        // prod propagates.
        {"prod", 0.7, 1, 0.0, 0.0},
        {"prod", Inf, 1, 0.0, NaN},
        {"prod", NaN, 1, 0.0, NaN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.imp) + " mu=" + describe(c.mu) + " consequent=" + describe(c.consequent) +
                     " w=" + describe(c.w));
        MamdaniRow row(c.imp, "max", {1}, 1, {c.mu}, 1, {c.consequent}, {c.w});
        runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
        EXPECT_SAME_BITS(element(row.ruleOutputs, 0, 0), c.expected);
    }
}

// Each case: the values of two rules at one sample point.
TEST(MamdaniChain, AggregationOfTwoRules) {
    struct Case {
        const char *agg;
        double first, second, expected;
    } cases[] = {
        {"max", NaN, 0.2, 0.2},    {"max", 0.2, NaN, 0.2},
        {"max", NaN, NaN, NaN},    {"probor", 0.5, 0.5, 0.75},
        {"probor", NaN, 0.5, NaN}, {"sum", 0.7, 0.6, 1.2999999999999998},  // 0.7 + 0.6, never clamped to 1
        {"sum", -0.0, -0.0, -0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.agg) + " " + describe(c.first) + ", " + describe(c.second));
        // prod with strength 1 passes the membership values through.
        MamdaniRow row("prod", c.agg, {2}, 1, {c.first, c.second}, 2, {1, 2}, {1.0, 1.0});
        runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
        EXPECT_SAME_BITS(element(row.aggregated, 0, 0), c.expected);
    }
}

TEST(MamdaniChain, ProborOfOneRuleIsThatRule) {
    MamdaniRow row("prod", "probor", {1}, 2, {0.3, NaN}, 1, {1}, {1.0});
    runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
    row.expectColumn(row.aggregated, 0, {0.3, NaN});
}

// Two outputs with 3 and 2 membership functions: the columns of one output
// are a block of numRules columns, and consequent 2 of output 2 reads cache
// row 3 + 2.
TEST(MamdaniChain, RuleBlocksAndCacheRowsOfTwoOutputs) {
    MamdaniRow row("min", "max", {3, 2}, 2,
                   {0.1, 0.11,  //
                    0.2, 0.22,  //
                    0.3, 0.33,  //
                    0.4, 0.44,  //
                    0.5, 0.55},
                   2, {3, 2, 1, 0}, {1.0, 1.0});
    runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
    row.expectColumn(row.ruleOutputs, 0, {0.3, 0.33});
    row.expectColumn(row.ruleOutputs, 1, {0.1, 0.11});
    row.expectColumn(row.ruleOutputs, 2, {0.5, 0.55});
    row.expectColumn(row.ruleOutputs, 3, {0, 0});
    row.expectColumn(row.aggregated, 0, {0.3, 0.33});
    row.expectColumn(row.aggregated, 1, {0.5, 0.55});
}

// Names are exact: "Max" is a host function, here one that reports itself.
TEST(MamdaniChain, NameDifferingInCaseIsAHostFunction) {
    int calls = 0;
    orvane::registerFunction("Max", [&](int, std::vector<orvane::Value> &res, const std::vector<orvane::Value> &args) {
        ++calls;
        int64_t numPoints = args.at(0).dims()[1];  // feval has taken the name
        res = {orvane::Value::doubleMatrix(1, numPoints, std::vector<double>(numPoints, 0.125))};
    });
    MamdaniRow row("min", "Max", {1}, 3, {0, 0.5, 1}, 2, {1, -1}, {0.35, 0.6});
    runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
    orvane::unregisterFunction("Max");
    EXPECT_EQ(calls, 1);  // one call per output
    row.expectColumn(row.aggregated, 0, {0.125, 0.125, 0.125});
}

// The host's own "max" as implication (elementwise against the strength
// column) and "min" as aggregation (over the rules, then transposed).
TEST(MamdaniChain, HostStandardFunctionsAsMethods) {
    LeakCheck leaks;
    {
        MamdaniRow row("max", "min", {1}, 3, {0, 0.5, 1}, 2, {1, -1}, {0.35, 0.6});
        runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
        row.expectColumn(row.ruleOutputs, 0, {0.35, 0.5, 1});
        row.expectColumn(row.ruleOutputs, 1, {1, 0.6, 0.6});
        row.expectColumn(row.aggregated, 0, {0.35, 0.5, 0.6});
    }
    leaks.expectNone();
}

// A custom implication is not asked about a rule that says nothing about the
// output; that rule's zero column still takes part in aggregation.
TEST(MamdaniChain, CustomImplicationSkipsZeroConsequents) {
    std::vector<double> strengthsSeen;
    orvane::registerFunction("halve",
                             [&](int, std::vector<orvane::Value> &res, const std::vector<orvane::Value> &args) {
                                 strengthsSeen.push_back(args.at(1).toDoubles().at(0));
                                 std::vector<double> mu = args.at(0).toDoubles();
                                 for (double &v : mu) v = v / 2;
                                 res = {orvane::Value::doubleMatrix(static_cast<int64_t>(mu.size()), 1, mu)};
                             });
    MamdaniRow row("halve", "sum", {1}, 2, {0.5, 1}, 3, {1, 0, -1}, {0.9, 0.8, 0.7});
    runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
    orvane::unregisterFunction("halve");
    EXPECT_EQ(strengthsSeen, (std::vector<double>{0.9, 0.7}));
    row.expectColumn(row.ruleOutputs, 1, {0, 0});
    row.expectColumn(row.aggregated, 0, {0.5, 0.5});
}

// A host method must return one value per sample point; anything else is
// refused instead of leaving stale rows or writing past the column.
TEST(MamdaniChain, CustomResultOfWrongLengthIsRefused) {
    // An implication returns a column; an aggregation a row, which the
    // module transposes.
    auto resultOfLength = [](int64_t n) {
        return [n](int, std::vector<orvane::Value> &res, const std::vector<orvane::Value> &args) {
            std::vector<double> values(static_cast<size_t>(n), 0.5);
            res = {args.size() == 2 ? orvane::Value::doubleMatrix(n, 1, values)
                                    : orvane::Value::doubleMatrix(1, n, values)};
        };
    };
    orvane::registerFunction("tooShort", resultOfLength(2));
    orvane::registerFunction("tooLong", resultOfLength(4));
    struct Case {
        const char *imp, *agg;
    } cases[] = {{"tooShort", "max"}, {"tooLong", "max"}, {"min", "tooShort"}, {"min", "tooLong"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.imp) + "/" + c.agg);
        LeakCheck leaks;
        {
            MamdaniRow row(c.imp, c.agg, {1}, 3, {0, 0.5, 1}, 2, {1, 1}, {0.35, 0.6});
            EXPECT_EQ(runForError([&](zorbTLS *tls) { row.implyAndAggregate(tls); }), "fazolt:CustomResultLength");
        }
        leaks.expectNone();
    }
    orvane::unregisterFunction("tooShort");
    orvane::unregisterFunction("tooLong");
}

// Without rules there is no rule block to aggregate: the sets are empty.
TEST(MamdaniChain, NoRulesAggregateToEmptySets) {
    MamdaniRow row("min", "max", {1}, 2, {0.5, 1}, 0, {}, {});
    runClean([&](zorbTLS *tls) { row.implyAndAggregate(tls); });
    EXPECT_EQ(row.ruleOutputs->size[1], 0);
    row.expectColumn(row.aggregated, 0, {0, 0});
}

}  // namespace
