// Defuzzification of sampled Mamdani sets: degenerate sets (zero area,
// plateaus, NaN), the tie rules of som and lom, the Sugeno-style methods on
// a sampled set, the no-rule-fired default and host methods.
#include "codegen/applyMamdani.h"

#include "test_systems.h"

#include <algorithm>
#include <limits>

namespace {

using namespace testsys;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> range(double first, double last) {
    std::vector<double> v;
    for (double x = first; x <= last; x += 1) v.push_back(x);
    return v;
}

// 1 at the given points, `otherwise` elsewhere.
std::vector<double> peaks(const std::vector<double> &x, const std::vector<double> &at, double otherwise) {
    std::vector<double> mf;
    for (double p : x) mf.push_back(std::find(at.begin(), at.end(), p) != at.end() ? 1.0 : otherwise);
    return mf;
}

// One output (or several, the tested one being `output`) of one row.
struct DefuzzRow {
    TestSystem sys;
    TestDiagnostics diag;
    DynArray<double> *mf = newArray<double>(1);
    DefuzzRow(std::string_view method, const std::vector<std::vector<double>> &samplePoints,
              const std::vector<double> &set, uint8_t noRuleFiredMode = 0, uint8_t emptySetMode = 0)
        : diag(noRuleFiredMode, emptySetMode) {
        SystemRecord &fis = sys.fis;
        setName(fis.defuzzMethod, method);
        fis.numOutputs = static_cast<int32_t>(samplePoints.size());
        fis.numSamples = static_cast<int32_t>(samplePoints[0].size());
        resize2D(fis.outputSamplePoints, fis.numOutputs, fis.numSamples);
        resize2D(fis.outputRange, fis.numOutputs, 2);
        for (int32_t o = 0; o < fis.numOutputs; ++o) {
            for (int32_t i = 0; i < fis.numSamples; ++i)
                fis.outputSamplePoints->data[o + i * fis.numOutputs] = samplePoints[o][i];
            fis.outputRange->data[o] = -1.0;
            fis.outputRange->data[o + fis.numOutputs] = 6.0;
        }
        setVector(mf, set);
    }
    ~DefuzzRow() { releaseArray(&mf); }
    double defuzzify(zorbTLS *tls, double totalFiringStrength, int32_t output = 1) {
        return applyMamdaniDefuzzificationMethod(tls, output, mf, totalFiringStrength, &sys.fis,
                                                 selectDefuzzMethod(sys.fis.defuzzMethod), &diag.options);
    }
};

TEST(DefuzzDegenerate, BuiltInMethodsOnOneSet) {
    const std::vector<double> zeroTo10 = range(0, 10), pm10 = range(-10, 10);
    const std::vector<double> fourPoints = {-2, -1, 0.5, 3}, zeros4 = {0, 0, 0, 0};
    struct Case {
        const char *method;
        std::vector<double> x, mf;
        double expected;
    } cases[] = {
        // A plateau of maxima.
        {"mom", zeroTo10, peaks(zeroTo10, {2, 3, 4}, 0.5), 3},
        {"som", zeroTo10, peaks(zeroTo10, {2, 3, 4}, 0.5), 2},
        {"lom", zeroTo10, peaks(zeroTo10, {2, 3, 4}, 0.5), 4},
        {"som", pm10, peaks(pm10, {-3, -2, -1}, 0.2), -1},
        {"lom", pm10, peaks(pm10, {-3, -2, -1}, 0.2), -3},
        {"mom", pm10, peaks(pm10, {-3, -2, -1}, 0.2), -2},
        // The start candidate of som is the first point of largest
        // magnitude, maximum or not; an equal magnitude never replaces it.
        {"som", pm10, peaks(pm10, {10}, 0), -10},
        {"lom", pm10, peaks(pm10, {10}, 0), 10},
        {"som", {-2, 2}, {0, 1}, -2},
        {"lom", {1, 3, -1}, {0, 0, 1}, 1},
        // A set that is 0 everywhere.
        {"centroid", fourPoints, zeros4, 0.5},
        {"bisector", fourPoints, zeros4, 0.5},
        {"mom", fourPoints, zeros4, 0.125},
        {"som", fourPoints, zeros4, 0.5},
        {"lom", fourPoints, zeros4, 3},
        {"wtaver", fourPoints, zeros4, -0.0},  // x(1) times a zero row
        {"wtsum", fourPoints, zeros4, -2},
        // The bisector takes the point where the running sum reaches half.
        {"bisector", {0, 1, 2, 3}, {1, 1, 1, 1}, 1},
        {"bisector", {0, 1, 2}, {0.25, 0.25, 0.5}, 1},
        // NaN in the set.
        {"centroid", {0, 1, 2, 3}, {0.2, NaN, 1, 0.5}, NaN},
        {"bisector", {0, 1, 2, 3}, {0.2, NaN, 1, 0.5}, 0},
        {"mom", {0, 1, 2, 3}, {0.2, NaN, 1, 0.5}, 2},
        {"som", {0, 1, 2, 3}, {0.2, NaN, 1, 0.5}, 2},
        {"lom", {0, 1, 2, 3}, {0.2, NaN, 1, 0.5}, 2},
        {"mom", {0, 1}, {NaN, NaN}, NaN},
        {"som", {0, 1}, {NaN, NaN}, 1},
        // The centroid multiplies by the reciprocal of the area: 7/3 as a
        // quotient would end in ...aaa9 instead.
        {"centroid", {1, 2, 3}, {0, 0.8, 0.4}, 0x1.2aaaaaaaaaaabp+1},
        // Sugeno methods on a sampled set: wtaver keeps x(1) only when mf(1)
        // is the pivot, the entry of largest magnitude.
        {"wtaver", {1, 2, 3}, {0.2, 0.9, 0.5}, 0},
        {"wtaver", {2, 3, 4}, {0.9, 0.2, 0.5}, 2.2222222222222223},
        {"wtsum", {7, 3, 4}, {0.1, 0.9, 0.5}, 7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.method) + " over " + ::testing::PrintToString(c.mf));
        LeakCheck leaks;
        {
            DefuzzRow row(c.method, {c.x}, c.mf);
            double y = 0;
            runClean([&](zorbTLS *tls) { y = row.defuzzify(tls, 1.0); });
            EXPECT_SAME_BITS(y, c.expected);
        }
        leaks.expectNone();
    }
}

// Output 2's sample points are row 2 of a column-major matrix.
TEST(DefuzzDegenerate, ReadsTheSamplePointsOfItsOutput) {
    DefuzzRow row("mom", {{0, 1, 2}, {10, 20, 30}}, {0, 0, 1});
    double y = 0;
    runClean([&](zorbTLS *tls) { y = row.defuzzify(tls, 1.0, 2); });
    EXPECT_SAME_BITS(y, 30.0);
}

// No rule fired: the midpoint of the output range, not of the sample
// points, and the no-rule-fired report instead of the empty-set one.
TEST(DefuzzDegenerate, NoRuleFiredTakesTheRangeMidpoint) {
    struct Case {
        double T;
        double expected;
        const char *warning;
    } cases[] = {
        {0.0, 2.5, "warnFazolt_NoRuleFired"},
        {-0.0, 2.5, "warnFazolt_NoRuleFired"},
        {1.0, 5.0, "warnFazolt_ZeroMembershipValue"},  // zero area: mean of x(1), x(N)
        {NaN, 5.0, "warnFazolt_ZeroMembershipValue"},  // NaN is not "no rule fired"
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("T = " + describe(c.T));
        LeakCheck leaks;
        {
            DefuzzRow row("centroid", {{0, 5, 10}}, {0, 0, 0}, kDiagnosticWarning, kDiagnosticWarning);
            double y = 0;
            std::vector<orvane::Warning> warnings = runClean([&](zorbTLS *tls) { y = row.defuzzify(tls, c.T); });
            EXPECT_SAME_BITS(y, c.expected);
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].identifier, c.warning);
        }
        leaks.expectNone();
    }
}

// A host method receives the name, x as a 1 x N row and mf as a K x 1
// column, and returns a scalar.
TEST(DefuzzDegenerate, HostMethodSeesRowOfPointsAndColumnOfValues) {
    orvane::registerFunction("lastPointPlusArea",
                             [](int, std::vector<orvane::Value> &res, const std::vector<orvane::Value> &args) {
                                 ASSERT_EQ(args.size(), 2u);  // feval has taken the name
                                 EXPECT_EQ(args[0].dims(), (std::vector<int64_t>{1, 3}));
                                 EXPECT_EQ(args[1].dims(), (std::vector<int64_t>{3, 1}));
                                 std::vector<double> x = args[0].toDoubles(), mf = args[1].toDoubles();
                                 res = {orvane::Value::doubleScalar(x[2] + (mf[0] + mf[1] + mf[2]))};
                             });
    LeakCheck leaks;
    {
        DefuzzRow row("lastPointPlusArea", {{1, 2, 4}}, {0.25, 0.5, 0.125});
        double y = 0;
        runClean([&](zorbTLS *tls) { y = row.defuzzify(tls, 1.0); });
        EXPECT_SAME_BITS(y, 4.875);
    }
    leaks.expectNone();
    orvane::unregisterFunction("lastPointPlusArea");
}

}  // namespace
