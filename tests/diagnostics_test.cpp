// Diagnostics: which modes report, the identifiers, the argument lists the
// host receives, and the range test that triggers the out-of-range report.
#include <gtest/gtest.h>

#include <orvane/host.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codegen/private/caches.h"
#include "codegen/private/diagnostics.h"
#include "model/systemRecord.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

void setBytes(DynArray<uint8_t> *a, const std::string &text) {
    resize2D(a, 1, static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(a->data, text.data(), text.size());
}

// What the host saw of one argument: class and text or value.
std::string describe(const orvane::Value &v) {
    if (v.classId() == ZORB_CHAR_CLASS) return "char:" + v.toText();
    std::string s = v.className() + ":";
    for (double d : v.toDoubles()) s += orvane::formatDouble(d, false) + " ";
    if (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<std::string> describeAll(const std::vector<orvane::Value> &values) {
    std::vector<std::string> out;
    for (const orvane::Value &v : values) out.push_back(describe(v));
    return out;
}

class Diagnostics : public ::testing::Test {
protected:
    int64_t liveBefore = orvane::allocStats().liveBlocks;
    DiagnosticsOptions diag{};
    void SetUp() override {
        initArray(&diag.Model, 2);
        initArray(&diag.Block, 2);
        setBytes(diag.Model, "plant");
        setBytes(diag.Block, "fis block");
    }
    void TearDown() override {
        releaseArray(&diag.Block);
        releaseArray(&diag.Model);
        EXPECT_EQ(orvane::allocStats().liveBlocks, liveBefore);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
    orvane::BoundaryOutcome run(const std::function<void(zorbTLS *)> &fn) {
        orvane::BoundaryOutcome out = orvane::runInCall(fn);
        EXPECT_EQ(out.leakedValues, 0);
        return out;
    }
};

// ---- Out of range, through the range test of the input cache.

class OutOfRange : public Diagnostics {
protected:
    SystemRecord fis;
    DynArray<double> *row = nullptr;
    DynArray<double> *cache = nullptr;
    DynArray<ExtractedVarMF> *noMFs = nullptr;
    void SetUp() override {
        Diagnostics::SetUp();
        // Input 1 always in range; input 2 is the one under test. Neither
        // has membership functions: only the range test runs.
        initSystemRecord(nullptr, &fis);
        fis.numInputs = 2;
        resize2D(fis.numInputMFs, 1, 2);
        resize2D(fis.numCumInputMFs, 1, 2);
        initArray(&row, 2);
        resize2D(row, 1, 2);
        initArray(&cache, 2);
    }
    void TearDown() override {
        releaseArray(&cache);
        releaseArray(&row);
        releaseSystemRecord(&fis);
        Diagnostics::TearDown();
    }
    void setRange(double lo, double hi) {
        resize2D(fis.inputRange, 2, 2);
        const double values[4] = {0, lo, 1, hi};
        std::memcpy(fis.inputRange->data, values, sizeof values);
    }
    // Fuzzifies one row per value of input 2, all in one host call.
    orvane::BoundaryOutcome fuzzifyRows(const std::vector<double> &values) {
        return run([&](zorbTLS *tls) {
            zorbHeapReferenceStackEnterFcn(tls);
            initRegisteredArray(tls, &noMFs, 2);
            InputMembershipPlan plan;
            initInputMembershipPlan(tls, &plan);
            planInputMembership(&fis, noMFs, numel(cache), &plan);
            for (double x : values) {
                row->data[0] = 0.5;
                row->data[1] = x;
                createInputMFCache(tls, row, &fis, &diag, noMFs, &plan, cache);
            }
            releaseInputMembershipPlan(&plan);
            releaseArray(&noMFs);
            zorbHeapReferenceStackLeaveFcn(tls);
        });
    }
};

struct RangeRow {
    int line;
    uint8_t mode;
    double x, lo, hi;
    int numWarnings;
    bool isError;
};

TEST_F(OutOfRange, ModesAndBounds) {
    const RangeRow rows[] = {
        {__LINE__, 0, 2.5, -1, 1, 0, false}, {__LINE__, 1, 2.5, -1, 1, 0, false},
        {__LINE__, 4, 2.5, -1, 1, 0, false}, {__LINE__, 2, 2.5, -1, 1, 1, false},
        {__LINE__, 3, 2.5, -1, 1, 0, true},  {__LINE__, 2, 1, -1, 1, 0, false},    // both bounds belong to the range
        {__LINE__, 2, -1, -1, 1, 0, false},  {__LINE__, 2, NaN, -1, 1, 0, false},  // comparisons with NaN are false
        {__LINE__, 2, 5, NaN, 1, 1, false},                                        // a NaN bound disables only its side
        {__LINE__, 2, -5, NaN, 1, 0, false}, {__LINE__, 2, -Inf, -1, 1, 1, false},
        {__LINE__, 2, 0, 1, -1, 1, false},  // inverted range: everything is outside
    };
    for (const RangeRow &r : rows) {
        SCOPED_TRACE(r.line);
        diag.OutOfRangeInputValue = r.mode;
        setRange(r.lo, r.hi);
        orvane::BoundaryOutcome out = fuzzifyRows({r.x});
        EXPECT_EQ(static_cast<int>(out.warnings.size()), r.numWarnings) << "line " << r.line;
        EXPECT_EQ(out.error.has_value(), r.isError)
            << "line " << r.line << (out.error ? out.error->identifier() + ": " + out.error->message() : "");
    }
}

TEST_F(OutOfRange, WarningAndErrorCarryIndexRangeAndValue) {
    setRange(-1, 1);
    diag.OutOfRangeInputValue = 2;
    orvane::BoundaryOutcome warned = fuzzifyRows({2.5});
    ASSERT_EQ(warned.warnings.size(), 1u);
    EXPECT_EQ(warned.warnings[0].identifier, "diagFazolt_OutOfRangeInput");
    EXPECT_EQ(describeAll(warned.warnings[0].arguments),
              (std::vector<std::string>{"int32:2", "char:[-1 1]", "char:2.5"}));
    EXPECT_EQ(warned.warnings[0].message.rfind("In model 'plant': ", 0), 0u);  // the struct's Model

    diag.OutOfRangeInputValue = 3;
    orvane::BoundaryOutcome failed = fuzzifyRows({2.5});
    ASSERT_TRUE(failed.error.has_value());
    EXPECT_EQ(failed.error->identifier(), "diagFazolt_OutOfRangeInput");
    EXPECT_EQ(failed.error->message(),
              "In model 'plant': Input 2 has the value 2.5, which lies outside its range [-1 1]."
              " (in createInputMFCache, line 46, column 13)");
}

TEST_F(OutOfRange, EveryOffendingRowWarnsWithItsOwnValue) {
    setRange(-1, 1);
    diag.OutOfRangeInputValue = 2;
    orvane::BoundaryOutcome out = fuzzifyRows({2.5, 0, -3});
    ASSERT_EQ(out.warnings.size(), 2u);
    EXPECT_EQ(describe(out.warnings[0].arguments.at(2)), "char:2.5");
    EXPECT_EQ(describe(out.warnings[1].arguments.at(2)), "char:-3");
}

// ---- No rule fired.

TEST_F(Diagnostics, NoRuleFiredWarningHasTheValueAndTheErrorDoesNot) {
    for (uint8_t mode : {0, 1, 4}) {
        diag.NoRuleFired = mode;
        orvane::BoundaryOutcome out = run([&](zorbTLS *tls) { throwNoRuleFiredDiagnostic(tls, 2, 0.5, &diag); });
        EXPECT_TRUE(out.warnings.empty()) << int(mode);
        EXPECT_FALSE(out.error.has_value()) << int(mode);
    }

    diag.NoRuleFired = 2;
    orvane::BoundaryOutcome warned = run([&](zorbTLS *tls) { throwNoRuleFiredDiagnostic(tls, 2, 0.5, &diag); });
    ASSERT_EQ(warned.warnings.size(), 1u);
    EXPECT_EQ(warned.warnings[0].identifier, "warnFazolt_NoRuleFired");
    EXPECT_EQ(describeAll(warned.warnings[0].arguments), (std::vector<std::string>{"int32:2", "char:0.5"}));

    diag.NoRuleFired = 3;
    orvane::BoundaryOutcome failed = run([&](zorbTLS *tls) { throwNoRuleFiredDiagnostic(tls, 2, 0.5, &diag); });
    ASSERT_TRUE(failed.error.has_value());
    EXPECT_EQ(failed.error->identifier(), "errFazolt_NoRuleFired");
    EXPECT_EQ(failed.error->message(),
              "In model 'plant': No rule fired for output 2, so it has no value."
              " (in throwNoRuleFiredDiagnostic, line 14, column 9)");
}

// ---- Empty output fuzzy set.

struct EmptySetRow {
    int line;
    const char *method;
    std::vector<double> mf;
    uint8_t mode;
    bool raises;
};

TEST_F(Diagnostics, EmptySetIsReportedOnlyForAreaMethodsAndAZeroSum) {
    const EmptySetRow rows[] = {
        {__LINE__, "centroid", {0, 0, 0}, 2, true},    {__LINE__, "bisector", {0, 0, 0}, 2, true},
        {__LINE__, "centroid", {0.5, -0.5}, 2, true},  // exactly 0 after adding in order
        {__LINE__, "centroid", {-0.0, -0.0}, 2, true}, {__LINE__, "centroid", {0, 0x1p-1074}, 2, false},
        {__LINE__, "centroid", {0, NaN}, 2, false},    {__LINE__, "mom", {0, 0}, 2, false},
        {__LINE__, "som", {0, 0}, 2, false},           {__LINE__, "lom", {0, 0}, 2, false},
        {__LINE__, "Centroid", {0, 0}, 2, false},      {__LINE__, "centroid ", {0, 0}, 2, false},
        {__LINE__, "myDefuzz", {0, 0}, 2, false},      {__LINE__, "centroid", {0, 0}, 1, false},
        {__LINE__, "centroid", {0, 0}, 3, true},
    };
    for (const EmptySetRow &r : rows) {
        DynArray<double> *mf = nullptr;
        DynArray<uint8_t> *method = nullptr;
        initArray(&mf, 1);
        initArray(&method, 2);
        resize1D(mf, static_cast<int32_t>(r.mf.size()));
        for (size_t k = 0; k < r.mf.size(); ++k) mf->data[k] = r.mf[k];
        setBytes(method, r.method);
        diag.EmptyOutputFuzzySet = r.mode;
        orvane::BoundaryOutcome out =
            run([&](zorbTLS *tls) { throwEmptyFuzzySetDiagnostic(tls, 3, mf, method, 0.25, &diag); });
        const bool raised = !out.warnings.empty() || out.error.has_value();
        EXPECT_EQ(raised, r.raises) << "line " << r.line;
        if (r.raises && r.mode == 2) {
            ASSERT_EQ(out.warnings.size(), 1u) << "line " << r.line;
            EXPECT_EQ(out.warnings[0].identifier, "warnFazolt_ZeroMembershipValue");
            EXPECT_EQ(describeAll(out.warnings[0].arguments),
                      (std::vector<std::string>{std::string("char:") + r.method, "int32:3", "char:0.25"}))
                << "line " << r.line;
        }
        if (r.raises && r.mode == 3) {
            ASSERT_TRUE(out.error.has_value());
            EXPECT_EQ(out.error->identifier(), "errFazolt_ZeroMembershipValue");
            EXPECT_EQ(out.error->message(), "In model 'plant': The fuzzy set of output 3 is empty, so " +
                                                std::string(r.method) +
                                                " defuzzification cannot give it a value."
                                                " (in throwEmptyFuzzySetDiagnostic, line 18, column 13)");
        }
        releaseArray(&method);
        releaseArray(&mf);
    }
}

}  // namespace
