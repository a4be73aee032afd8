// Rule firing: antecedent encodings, the built-in connectives' NaN and order
// rules, weights, and connectives evaluated by the host.
#include <gtest/gtest.h>

#include <orvane/host.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codegen/applyOperators.h"
#include "codegen/fuzzifyInputs.h"
#include "model/indexArithmetic.h"
#include "model/systemRecord.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Bits equal, or both NaN: -0.0 differs from 0.0.
bool sameValue(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    uint64_t x, y;
    std::memcpy(&x, &a, 8);
    std::memcpy(&y, &b, 8);
    return x == y;
}

std::string show(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

#define EXPECT_SAME(actual, expected) \
    EXPECT_TRUE(sameValue((actual), (expected))) << "got " << show(actual) << ", want " << show(expected)

void setName(DynArray<uint8_t> *a, const std::string &text) {
    resize2D(a, 1, static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(a->data, text.data(), text.size());
}

void setDoubles(DynArray<double> *a, int32_t rows, int32_t cols, const std::vector<double> &columnMajor) {
    if (a->numDimensions == 1) {
        resize1D(a, rows);
    } else {
        resize2D(a, rows, cols);
    }
    for (size_t k = 0; k < columnMajor.size(); ++k) a->data[k] = columnMajor[k];
}

void setInts(DynArray<int32_t> *a, const std::vector<int32_t> &values) {
    resize2D(a, 1, static_cast<int32_t>(values.size()));
    for (size_t k = 0; k < values.size(); ++k) a->data[k] = values[k];
}

// A system record with the rule fields filled and a row's membership
// degrees (cache); released by the destructor (tests own it outside the
// host call). map() and fire() run the row loop's stages, both of its
// forms where both apply: the rule input values with applyOperators, and
// the degree table with fireRulesBuiltIn, which must agree bit for bit.
struct Rules {
    SystemRecord fis;
    DynArray<double> *cache = nullptr;
    DynArray<int32_t> *antecedentPlan = nullptr;
    DynArray<int32_t> *ruleDegrees = nullptr;
    DynArray<double> *degrees = nullptr;
    DynArray<double> *ruleInputValues = nullptr;
    DynArray<double> *firingStrengths = nullptr;
    DynArray<double> *scratch = nullptr;
    bool hasNaN = false;

    Rules(int32_t numRules, int32_t numInputs) {
        initSystemRecord(nullptr, &fis);
        fis.numRules = numRules;
        fis.numInputs = numInputs;
        setName(fis.andMethod, "min");
        setName(fis.orMethod, "max");
        initArray(&cache, 2);
        initArray(&antecedentPlan, 2);
        initArray(&ruleDegrees, 1);
        initArray(&degrees, 1);
        initArray(&ruleInputValues, 2);
        resize2D(ruleInputValues, numRules, numInputs);
        initArray(&firingStrengths, 1);
        resize1D(firingStrengths, numRules);
        initArray(&scratch, 1);
        resize1D(scratch, numInputs);
    }
    ~Rules() {
        releaseArray(&scratch);
        releaseArray(&firingStrengths);
        releaseArray(&ruleInputValues);
        releaseArray(&degrees);
        releaseArray(&ruleDegrees);
        releaseArray(&antecedentPlan);
        releaseArray(&cache);
        releaseSystemRecord(&fis);
    }
    // One rule over numInputs inputs of one function each, whose degrees
    // are `values`: its rule input values are the values.
    void setOneRule(const std::vector<double> &values, double connection, double weight) {
        const int32_t n = static_cast<int32_t>(values.size());
        setDoubles(cache, 1, n, values);
        std::vector<int32_t> numCum;
        for (int32_t i = 0; i < n; ++i) numCum.push_back(i);
        setInts(fis.numCumInputMFs, numCum);
        setDoubles(fis.antecedent, 1, n, std::vector<double>(values.size(), 1.0));
        setDoubles(fis.connection, 1, 1, {connection});
        setDoubles(fis.weight, 1, 1, {weight});
    }
    // Both mappings of the antecedents; each table entry a rule reads must
    // be its rule input value.
    void map() {
        planRuleAntecedents(&fis, antecedentPlan);
        mapRuleAntecedents(&fis, antecedentPlan, cache, ruleInputValues);
        const int32_t n = numel(cache);
        const DegreeReads reads = planRuleDegrees(&fis, n, ruleDegrees);
        resize1D(degrees, 2 * n + 4);
        hasNaN = fillDegreeTable(cache, true, degrees) || reads.nan;
        for (int32_t r = 0; r < fis.numRules; ++r) {
            for (int32_t i = 0; i < fis.numInputs; ++i) {
                const double fromTable = degrees->data[ruleDegrees->data[r * fis.numInputs + i]];
                const double value = ruleInputValues->data[r + i * fis.numRules];
                EXPECT_TRUE(sameValue(fromTable, value)) << "rule " << r + 1 << ", input " << i + 1;
            }
        }
    }
    double fire() {
        map();
        double total = 0.0;
        const AndMethod andMethod = selectAndMethod(fis.andMethod);
        const OrMethod orMethod = selectOrMethod(fis.orMethod);
        orvane::BoundaryOutcome out = orvane::runInCall([&](zorbTLS *tls) {
            total = applyOperators(tls, ruleInputValues, &fis, andMethod, orMethod, firingStrengths, scratch);
        });
        EXPECT_FALSE(out.error.has_value()) << (out.error ? out.error->message() : "");
        EXPECT_EQ(out.leakedValues, 0);
        if (andMethod != AndMethod::Host && orMethod != OrMethod::Host && fis.numInputs > 0) {
            std::vector<double> strengths(firingStrengths->data, firingStrengths->data + fis.numRules);
            DynArray<int32_t> *fired = nullptr;
            initArray(&fired, 1);
            resize1D(fired, fis.numRules);
            const RuleFiring firing = fireRulesBuiltIn(&fis, ruleDegrees, degrees, hasNaN, andMethod, orMethod, nullptr,
                                                       firingStrengths, fired);
            EXPECT_TRUE(sameValue(firing.totalFiringStrength, total)) << show(firing.totalFiringStrength);
            int32_t numPositive = 0;
            for (int32_t r = 0; r < fis.numRules; ++r) {
                EXPECT_TRUE(sameValue(firingStrengths->data[r], strengths[r])) << "rule " << r + 1;
                numPositive += strengths[r] > 0.0 ? 1 : 0;
            }
            if (fis.numRules > 0) {  // no list without rules
                EXPECT_EQ(firing.numFired, numPositive);
            }
            releaseArray(&fired);
        }
        return total;
    }
};

class RuleFiring : public ::testing::Test {
protected:
    int64_t liveBefore = orvane::allocStats().liveBlocks;
    void TearDown() override {
        EXPECT_EQ(orvane::allocStats().liveBlocks, liveBefore);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
};

// ---- Built-in connectives.

struct ConnectiveRow {
    int line;
    const char *method;
    bool isAnd;
    std::vector<double> values;
    double expected;
};

TEST_F(RuleFiring, BuiltInConnectivesFollowTheirNaNAndOrderRules) {
    const ConnectiveRow rows[] = {
        {__LINE__, "min", true, {NaN, 0.3, 0.5}, 0.3},
        {__LINE__, "min", true, {NaN, NaN}, NaN},
        {__LINE__, "min", true, {0.4, NaN}, 0.4},
        {__LINE__, "min", true, {NaN, 0.4}, 0.4},
        {__LINE__, "min", true, {NaN, 0.9, 0.2, NaN, 0.5}, 0.2},
        {__LINE__, "min", true, {0.0, -0.0}, 0.0},  // a tie keeps the first
        {__LINE__, "min", true, {-0.0, 0.0}, -0.0},
        {__LINE__, "min", true, {0.7}, 0.7},
        {__LINE__, "min", true, {}, NaN},  // nothing to take the smallest of
        {__LINE__, "prod", true, {0.5, NaN}, NaN},
        {__LINE__, "prod", true, {0.5, 0.25, -2.0}, -0.25},
        {__LINE__, "prod", true, {0x1p1000, 0x1p100, 0x1p-1000}, Inf},  // left to right overflows
        {__LINE__, "prod", true, {}, 1.0},
        {__LINE__, "max", false, {NaN, 0.2}, 0.2},
        {__LINE__, "max", false, {0.2, NaN, 0.9, NaN}, 0.9},
        {__LINE__, "max", false, {-0.0, 0.0}, -0.0},
        {__LINE__, "max", false, {NaN}, NaN},
        {__LINE__, "max", false, {}, NaN},
        {__LINE__, "sum", false, {0.7, 0.2, 0.9}, 0x1.cccccccccccccp+0},  // reversed: ...ccdp+0
        {__LINE__, "sum", false, {0.1, NaN}, NaN},
        {__LINE__, "sum", false, {}, 0.0},
        {__LINE__, "probor", false, {0.2}, 0.2},
        {__LINE__, "probor", false, {0.5, 0.5}, 0.75},
        {__LINE__, "probor", false, {0.03, 0.84, 0.43}, 0x1.d2b4d8ba40d90p-1},  // acc + x*(1-acc): ...d91
        {__LINE__, "probor", false, {NaN, 0.5}, NaN},
        {__LINE__, "probor", false, {}, 0.0},  // the empty OR
    };
    for (const ConnectiveRow &row : rows) {
        SCOPED_TRACE("line " + std::to_string(row.line));
        Rules r(1, static_cast<int32_t>(row.values.size()));
        setName(row.isAnd ? r.fis.andMethod : r.fis.orMethod, row.method);
        r.setOneRule(row.values, row.isAnd ? 1.0 : 2.0, 1.0);
        r.fire();
        EXPECT_TRUE(sameValue(r.firingStrengths->data[0], row.expected)) << "got " << show(r.firingStrengths->data[0]);
    }
}

TEST_F(RuleFiring, BuiltInConnectivesAllocateNothing) {
    Rules r(1, 3);
    r.setOneRule({0.2, 0.5, 0.9}, 1.0, 1.0);
    r.map();
    orvane::runInCall([&](zorbTLS *tls) {
        const int64_t inside = orvane::allocStats().totalAllocations;
        applyOperators(tls, r.ruleInputValues, &r.fis, AndMethod::Min, OrMethod::Max, r.firingStrengths, r.scratch);
        fireRulesBuiltIn(&r.fis, r.ruleDegrees, r.degrees, r.hasNaN, AndMethod::Min, OrMethod::Max, r.ruleInputValues,
                         r.firingStrengths, nullptr);
        EXPECT_EQ(orvane::allocStats().totalAllocations, inside);
    });
}

// ---- Antecedent mapping and firing.

TEST_F(RuleFiring, WorkedExampleMapsAndFiresEachRule) {
    // Input 1 has 2 membership functions, input 2 has 3.
    Rules r(3, 2);
    setDoubles(r.cache, 1, 5, {0.2, 0.8, 0.1, 0.6, 0.3});
    setInts(r.fis.numCumInputMFs, {0, 2});
    setDoubles(r.fis.antecedent, 3, 2, {2, 0, 0, -3, -3, -3});
    setDoubles(r.fis.connection, 3, 1, {1, 1, 2});
    setDoubles(r.fis.weight, 3, 1, {0.5, 0.5, 0.5});

    const double total = r.fire();
    const double expectedValues[] = {0.8, 1.0, 0.0, 0.7, 0.7, 0.7};  // column-major 3 x 2
    for (int k = 0; k < 6; ++k) EXPECT_SAME(r.ruleInputValues->data[k], expectedValues[k]);

    for (int k = 0; k < 3; ++k) EXPECT_SAME(r.firingStrengths->data[k], 0.35);
    EXPECT_SAME(total, 0x1.0ccccccccccccp+0);  // 0.35 + 0.35 + 0.35 in rule order
}

struct EncodingRow {
    int line;
    double antecedent;
    double connection;
    int32_t numCum;
    double expected;
};

TEST_F(RuleFiring, AntecedentEncodings) {
    // One input, cache [0.25 0.5 1.25 NaN]: a host function may give a degree
    // above 1 or NaN.
    const EncodingRow rows[] = {
        {__LINE__, 0.4, 1, 0, 1.0},   // below 0.5: unused, AND neutral
        {__LINE__, -0.4, 1, 0, 1.0},  // the sign alone does not make a term
        {__LINE__, -0.4, 2, 0, 0.0},  // unused, OR neutral
        {__LINE__, NaN, 1, 0, 1.0},
        {__LINE__, NaN, NaN, 0, 0.0},  // a NaN connection is an OR rule
        {__LINE__, -0.0, 1, 0, 1.0},
        {__LINE__, 0.4, 0, 0, 0.0},
        {__LINE__, 1.2, 1, 0, 0.25},
        {__LINE__, 2.5, 1, 0, 1.25},  // halves round away from zero
        {__LINE__, -2, 1, 0, 0.5},    // NOT: 1 - 0.5
        {__LINE__, -3, 1, 0, -0.25},  // NOT over 1.25: no clamping
        {__LINE__, -4, 1, 0, NaN},    // NOT over NaN stays NaN
        {__LINE__, 1, 1, -1, NaN},    // before the cache: no degree to read
        {__LINE__, 5, 1, 0, NaN},     // past the cache: no degree to read
        {__LINE__, 1e300, 1, 0, NaN},
        {__LINE__, -Inf, 1, 0, NaN},
        {__LINE__, 1, 1, -2147483647 - 1, NaN},
        {__LINE__, 3e9, 1, 2147483647, NaN},  // the sum saturates
    };
    for (const EncodingRow &row : rows) {
        Rules r(1, 1);
        setDoubles(r.cache, 1, 4, {0.25, 0.5, 1.25, NaN});
        setInts(r.fis.numCumInputMFs, {row.numCum});
        setDoubles(r.fis.antecedent, 1, 1, {row.antecedent});
        setDoubles(r.fis.connection, 1, 1, {row.connection});
        SCOPED_TRACE("line " + std::to_string(row.line));
        r.map();
        const double got = r.ruleInputValues->data[0];
        EXPECT_TRUE(sameValue(got, row.expected)) << "line " << row.line << ": got " << show(got);
    }
}

TEST_F(RuleFiring, AndRuleIgnoresAnInputItDoesNotUse) {
    // Three inputs of one MF each; the rule tests inputs 1 and 3 only.
    Rules r(1, 3);
    setDoubles(r.cache, 1, 3, {0.6, 0.1, 0.4});
    setInts(r.fis.numCumInputMFs, {0, 1, 2});
    setDoubles(r.fis.antecedent, 1, 3, {1, 0, 1});
    setDoubles(r.fis.connection, 1, 1, {1});
    setDoubles(r.fis.weight, 1, 1, {1});
    EXPECT_SAME(r.fire(), 0.4);
}

struct WeightRow {
    int line;
    double value;
    double weight;
    double expected;
};

TEST_F(RuleFiring, WeightScalesTheCombinedValue) {
    const WeightRow rows[] = {
        {__LINE__, 0.3, 0.0, 0.0},   {__LINE__, Inf, 0.0, NaN},   {__LINE__, NaN, 0.0, NaN},
        {__LINE__, 0.5, -1.0, -0.5}, {__LINE__, 0.0, -1.0, -0.0},
    };
    for (const WeightRow &row : rows) {
        Rules r(1, 1);
        setName(r.fis.andMethod, "prod");
        r.setOneRule({row.value}, 1, row.weight);
        const double total = r.fire();
        EXPECT_TRUE(sameValue(r.firingStrengths->data[0], row.expected)) << "line " << row.line;
        // The total starts from +0.0: -0.0 + 0.0 is +0.0.
        EXPECT_TRUE(sameValue(total, 0.0 + row.expected)) << "line " << row.line;
    }
}

TEST_F(RuleFiring, NoRulesGiveAZeroTotal) {
    Rules r(0, 2);
    EXPECT_SAME(r.fire(), 0.0);
}

// ---- Connectives evaluated by the host.

class HostConnectives : public RuleFiring {
protected:
    void SetUp() override {
        // Returns 10 * the first value + the count, and records the shape.
        orvane::registerFunction("tenfoldFirst", [this](int, std::vector<orvane::Value> &results,
                                                        const std::vector<orvane::Value> &arguments) {
            seenDims = arguments.at(0).dims();
            const std::vector<double> v = arguments.at(0).toDoubles();
            results = {orvane::Value::doubleScalar(10.0 * v.at(0) + static_cast<double>(v.size()))};
        });
        orvane::registerFunction("Min",
                                 [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &) {
                                     results = {orvane::Value::int32Scalar(7)};  // converted to double
                                 });
        orvane::registerFunction("failingAnd",
                                 [](int, std::vector<orvane::Value> &, const std::vector<orvane::Value> &) {
                                     orvane::raise("test:failingAnd", "always fails");
                                 });
        orvane::registerFunction("pairResult",
                                 [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &) {
                                     results = {orvane::Value::doubleMatrix(1, 2, {0.1, 0.2})};
                                 });
    }
    void TearDown() override {
        for (const char *name : {"tenfoldFirst", "Min", "failingAnd", "pairResult"}) orvane::unregisterFunction(name);
        RuleFiring::TearDown();
    }
    std::vector<int64_t> seenDims;
};

struct HostMethodRow {
    int line;
    const char *andMethod;
    const char *orMethod;
    double connection;
    double expected;
    const char *error;  // message of the host error, or null
};

TEST_F(HostConnectives, NamesThatAreNotBuiltInGoToTheHost) {
    const HostMethodRow rows[] = {
        {__LINE__, "tenfoldFirst", "max", 1, 4.5 * 0.5, nullptr},  // (10 * 0.25 + 2) * 0.5
        {__LINE__, "min", "tenfoldFirst", 2, 4.5 * 0.5, nullptr},
        {__LINE__, "max", "max", 1, 0.75 * 0.5, nullptr},  // the host's max, as an AND method
        {__LINE__, "Min", "max", 1, 3.5, nullptr},         // case matters
        {__LINE__, "failingAnd", "max", 1, 0, "always fails (in evaluateAndMethod, line 29, column 16)"},
        {__LINE__, "min", "failingAnd", 0, 0, "always fails (in evaluateOrMethod, line 31, column 16)"},
        {__LINE__, "pairResult", "max", 1, 0, ""},  // not a scalar
        {__LINE__, "noSuchFunction", "max", 1, 0, ""},
    };
    for (const HostMethodRow &row : rows) {
        Rules r(1, 2);
        setName(r.fis.andMethod, row.andMethod);
        setName(r.fis.orMethod, row.orMethod);
        r.setOneRule({0.25, 0.75}, row.connection, 0.5);
        r.map();
        seenDims.clear();
        double total = -1.0;
        orvane::BoundaryOutcome out = orvane::runInCall([&](zorbTLS *tls) {
            total = applyOperators(tls, r.ruleInputValues, &r.fis, selectAndMethod(r.fis.andMethod),
                                   selectOrMethod(r.fis.orMethod), r.firingStrengths, r.scratch);
        });
        EXPECT_EQ(out.error.has_value(), row.error != nullptr) << "line " << row.line;
        if (out.error && row.error != nullptr && *row.error != '\0') {
            EXPECT_EQ(out.error->message(), row.error) << "line " << row.line;
        }
        EXPECT_EQ(out.leakedValues, 0) << "line " << row.line;
        if (row.error == nullptr) {
            EXPECT_TRUE(sameValue(total, row.expected)) << "line " << row.line << ": " << show(total);
        }
        if (row.line == rows[0].line) {
            EXPECT_EQ(seenDims, (std::vector<int64_t>{2, 1}));  // a column
        }
    }
}

}  // namespace
