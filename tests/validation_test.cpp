// The record checks before the evaluation: each broken relation is refused
// naming its field, and records that are unusual but inside the relations
// evaluate as they would unchecked. Custom host functions whose results have
// the wrong length.
#include "tests/test_support.h"

#include <functional>

namespace {

using testing_support::bits;
using testing_support::callChecked;
using testing_support::defaultDiagnostics;

// Input "a" has three terms (the third used by no rule), "b" one; the
// output has two.
const char *const mamdaniDescription = R"({
  "name": "checks", "type": "mamdani", "numSamples": 11,
  "inputs": [{"name": "a", "range": [0, 1], "mf": [
      {"name": "lo", "type": "trimf", "params": [-0.5, 0, 0.5]},
      {"name": "hi", "type": "trimf", "params": [0.5, 1, 1.5]},
      {"name": "spare", "type": "gaussmf", "params": [0.2, 0.5]}]},
    {"name": "b", "range": [0, 1], "mf": [{"name": "some", "type": "smf", "params": [0, 1]}]}],
  "outputs": [{"name": "y", "range": [0, 1], "mf": [
      {"name": "up", "type": "trimf", "params": [0.5, 1, 1.5]},
      {"name": "down", "type": "trimf", "params": [-0.5, 0, 0.5]}]}],
  "rules": ["if a is lo then y is up", "if a is hi or b is some then y is down"]})";

const char *const sugenoDescription = R"({
  "name": "lin", "type": "sugeno",
  "inputs": [{"name": "x", "range": [0, 10], "mf": [
      {"name": "low", "type": "trimf", "params": [-10, 0, 10]},
      {"name": "high", "type": "trimf", "params": [0, 10, 20]}]}],
  "outputs": [{"name": "y", "range": [0, 100], "mf": [
      {"name": "a", "type": "constant", "params": [10]},
      {"name": "b", "type": "linear", "params": [2, 1]}]}],
  "rules": ["if x is low then y is a", "if x is high then y is b"]})";

orvane::Value copyOf(const orvane::Value &v) { return orvane::fromJson(orvane::toJson(v)); }

orvane::Value mamdaniRecord() { return copyOf(fazolt::buildSystem(mamdaniDescription).record); }
orvane::Value sugenoRecord() { return copyOf(fazolt::buildSystem(sugenoDescription).record); }

void setMF(orvane::Value &record, const char *field, int64_t v, int64_t j, const char *name, orvane::Value value) {
    orvane::Value mfs = record.field(0, field).field(v, "mf");
    mfs.setField(j, name, std::move(value));
}

void setVariable(orvane::Value &record, const char *field, int64_t v, const char *name, orvane::Value value) {
    orvane::Value vars = record.field(0, field);
    vars.setField(v, name, std::move(value));
}

void setEntry(orvane::Value &record, const char *field, int64_t k, double v) {
    orvane::Value m = record.field(0, field);
    m.pr()[k] = v;
}

orvane::Value rowsOf(int64_t n, int64_t cols, double v) {
    return orvane::Value::doubleMatrix(n, cols, std::vector<double>(static_cast<size_t>(n * cols), v));
}

struct BrokenCase {
    int line;
    bool isSugeno;
    std::function<void(orvane::Value &)> breakRecord;
    orvane::Value inputs;  // empty: one row of 0.25
    const char *identifier;
    const char *field;
};

TEST(Validation, EachBrokenRelationIsRefusedNamingItsField) {
    const char *const invalid = "fazolt:invalidSystem";
    const std::vector<BrokenCase> cases = {
        {__LINE__,
         false,
         [](orvane::Value &r) { setEntry(r, "antecedent", 0, 4); },
         {},
         invalid,
         "fis.antecedent(1, 1)"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setEntry(r, "antecedent", 0, -4); },
         {},
         invalid,
         "fis.antecedent(1, 1)"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setEntry(r, "antecedent", 3, 1.5e300); },
         {},
         invalid,
         "fis.antecedent(2, 2)"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setEntry(r, "consequent", 1, 3); },
         {},
         invalid,
         "fis.consequent(2, 1)"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "numCumInputMFs", orvane::Value::int32Row({0, 2}));
         },
         {},
         invalid,
         "fis.numCumInputMFs(2)"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numCumOutputMFs", orvane::Value::int32Row({1})); },
         {},
         invalid,
         "fis.numCumOutputMFs(1)"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "numInputMFs", orvane::Value::int32Row({-1, 1}));
         },
         {},
         invalid,
         "fis.numInputMFs(1)"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numInputMFs", orvane::Value::int32Row({3})); },
         {},
         invalid,
         "fis.numInputMFs has 1 entries"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "numInputMFs", orvane::Value::int32Row({4, 1}));
             r.setField(0, "numCumInputMFs", orvane::Value::int32Row({0, 4}));
         },
         {},
         invalid,
         "fis.numInputMFs(1) is 4"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setVariable(r, "inputMF", 0, "origNumMF", orvane::Value::int32Scalar(4)); },
         {},
         invalid,
         "fis.inputMF(1).origNumMF"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setVariable(r, "outputMF", 0, "origNumMF", orvane::Value::int32Scalar(3)); },
         {},
         invalid,
         "fis.outputMF(1).origNumMF"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setMF(r, "inputMF", 0, 1, "origTypeLength", orvane::Value::int32Scalar(6)); },
         {},
         invalid,
         "fis.inputMF(1).mf(2).origTypeLength"},
        {__LINE__,
         false,
         [](orvane::Value &r) { setMF(r, "outputMF", 0, 0, "origParamLength", orvane::Value::int32Scalar(4)); },
         {},
         invalid,
         "fis.outputMF(1).mf(1).origParamLength"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             setMF(r, "inputMF", 1, 0, "params", orvane::Value::doubleMatrix(1, 1, {0}));
             setMF(r, "inputMF", 1, 0, "origParamLength", orvane::Value::int32Scalar(1));
         },
         {},
         invalid,
         "fis.inputMF(2).mf(1).params: smf reads 2 parameters, but 1 are given"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             setMF(r, "outputMF", 0, 1, "params", orvane::Value::doubleMatrix(1, 0, {}));
             setMF(r, "outputMF", 0, 1, "origParamLength", orvane::Value::int32Scalar(0));
         },
         {},
         invalid,
         "fis.outputMF(1).mf(2).params"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({11, 1}));
         },
         {},
         invalid,
         "fis.orrSize"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({10, 2}));
         },
         {},
         invalid,
         "fis.orrSize"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "aggSize", orvane::Value::int32Row({10, 1}));
         },
         {},
         invalid,
         "fis.aggSize"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "aggSize", orvane::Value::int32Row({11, 0}));
         },
         {},
         invalid,
         "fis.aggSize"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({65536, 65536}));
         },
         {},
         invalid,
         "fis.orrSize would be 65536 x 65536, more than 2^31-1 elements"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({-1, 2}));
         },
         {},
         invalid,
         "fis.orrSize would be -1 x 2"},
        {__LINE__, false, [](orvane::Value &) {}, rowsOf(1, 3, 0.25), invalid, "inputs has 3 columns"},
        {__LINE__, false, [](orvane::Value &) {}, rowsOf(2, 1, 0.25), invalid, "inputs has 1 columns"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numSamples", orvane::Value::int32Scalar(0)); },
         {},
         invalid,
         "fis.numSamples is 0"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numSamples", orvane::Value::int32Scalar(12)); },
         {},
         invalid,
         "fis.outputSamplePoints has 11 columns, but numSamples is 12"},
        {__LINE__, false, [](orvane::Value &r) { r.setField(0, "numInputs", orvane::Value::int32Scalar(-1)); },
         rowsOf(0, 2, 0.0), invalid, "fis.numInputs is -1"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numRules", orvane::Value::int32Scalar(3)); },
         {},
         invalid,
         "fis.connection has 2 entries, fewer than numRules (3)"},
        {__LINE__, false,
         [](orvane::Value &r) {
             r.setField(0, "numRules", orvane::Value::int32Scalar(100000));
             r.setField(0, "numInputs", orvane::Value::int32Scalar(100000));
         },
         rowsOf(0, 2, 0.0), invalid, "the rule input values would be 100000 x 100000"},
        {__LINE__,
         false,
         [](orvane::Value &r) {
             r.setField(0, "inputRange", orvane::Value::doubleMatrix(1, 2, {0, 1}));
         },
         {},
         invalid,
         "fis.inputRange has 1 rows, fewer than numInputs (2)"},
        {__LINE__, true, [](orvane::Value &r) { setEntry(r, "consequent", 0, -1); }, rowsOf(1, 1, 5.0), invalid,
         "fis.consequent(1, 1) is -1; a Sugeno consequent cannot be negative"},
        {__LINE__, true, [](orvane::Value &r) { setEntry(r, "consequent", 1, 3); }, rowsOf(1, 1, 5.0), invalid,
         "fis.consequent(2, 1) is 3"},
        {__LINE__, true,
         [](orvane::Value &r) {
             setMF(r, "outputMF", 0, 1, "params", orvane::Value::doubleMatrix(1, 1, {2}));
             setMF(r, "outputMF", 0, 1, "origParamLength", orvane::Value::int32Scalar(1));
         },
         rowsOf(1, 1, 5.0), invalid, "fis.outputMF(1).mf(2).params: a linear output function reads 2 parameters"},
        {__LINE__, true,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({1, 1}));
         },
         rowsOf(1, 1, 5.0), invalid, "fis.orrSize is [1 1], smaller than [numRules numOutputs]"},
        {__LINE__, true,
         [](orvane::Value &r) {
             r.setField(0, "aggSize", orvane::Value::int32Row({0, 1}));
         },
         rowsOf(1, 1, 5.0), invalid, "fis.aggSize is [0 1]"},
        // The host's own checks, before the relations.
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "numRules", orvane::Value::doubleScalar(2)); },
         {},
         nullptr,
         "fis.numRules"},
        {__LINE__,
         false,
         [](orvane::Value &r) { r.setField(0, "orrSize", orvane::Value::int32Row({11})); },
         {},
         nullptr,
         "fis.orrSize"},
        {__LINE__, false, [](orvane::Value &) {}, orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, 2}, true), nullptr,
         "inputs"},
    };
    for (const BrokenCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        orvane::Value record = c.isSugeno ? sugenoRecord() : mamdaniRecord();
        c.breakRecord(record);
        orvane::Value inputs = c.inputs ? c.inputs : rowsOf(1, 2, 0.25);
        orvane::CallOutcome out = callChecked(6, {inputs, record, defaultDiagnostics()});
        ASSERT_TRUE(out.error);
        if (c.identifier != nullptr) {
            EXPECT_EQ(out.error->identifier(), c.identifier);
        }
        EXPECT_NE(out.error->message().find(c.field), std::string::npos) << out.error->message();
        EXPECT_TRUE(out.warnings.empty());
    }
}

std::vector<uint64_t> bitsOf(const orvane::Value &v) {
    std::vector<uint64_t> b;
    for (double x : v.toDoubles()) b.push_back(bits(x));
    return b;
}

struct UnusualCase {
    int line;
    std::function<void(orvane::Value &)> change;
};

// Inside the relations, a record evaluates exactly like the plain one.
TEST(Validation, UnusualRecordsInsideTheRelationsEvaluateAsThePlainOne) {
    const std::vector<UnusualCase> cases = {
        // The unused third term of "a" no longer counted.
        {__LINE__,
         [](orvane::Value &r) {
             r.setField(0, "numInputMFs", orvane::Value::int32Row({2, 1}));
             r.setField(0, "numCumInputMFs", orvane::Value::int32Row({0, 2}));
         }},
        // Stored type and parameters longer than their orig lengths.
        {__LINE__,
         [](orvane::Value &r) {
             setMF(r, "inputMF", 0, 0, "type", orvane::Value::uint8Row("trimfXYZ"));
             setMF(r, "inputMF", 0, 0, "params", orvane::Value::doubleMatrix(1, 5, {-0.5, 0, 0.5, 99, -99}));
             setMF(r, "outputMF", 0, 1, "type", orvane::Value::uint8Row("trimf "));
         }},
        {__LINE__,
         [](orvane::Value &r) {
             r.setField(0, "orrSize", orvane::Value::int32Row({12, 5}));
         }},
        // More counts stored than variables.
        {__LINE__,
         [](orvane::Value &r) {
             r.setField(0, "numOutputMFs", orvane::Value::int32Row({2, 7}));
         }},
    };
    orvane::Value inputs = orvane::Value::doubleMatrix(3, 2, {0.25, 0.5, 0.9, 0.0, 1.0, 0.3});
    orvane::CallOutcome plain = callChecked(1, {inputs, mamdaniRecord(), defaultDiagnostics()});
    ASSERT_FALSE(plain.error) << plain.error->message();
    for (const UnusualCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        orvane::Value record = mamdaniRecord();
        c.change(record);
        orvane::CallOutcome out = callChecked(1, {inputs, record, defaultDiagnostics()});
        ASSERT_FALSE(out.error) << out.error->message();
        EXPECT_EQ(bitsOf(out.results[0]), bitsOf(plain.results[0]));
    }
}

// No rules in a Mamdani system: the aggregated sets are all zero, no rule
// fires, so each row gets the output range's midpoint and the diagnostic.
TEST(Validation, MamdaniWithoutRulesGivesMidpointsAndNoRuleFired) {
    orvane::Value record = mamdaniRecord();
    record.setField(0, "numRules", orvane::Value::int32Scalar(0));
    record.setField(0, "outputRange", orvane::Value::doubleMatrix(1, 2, {-3, 4}));
    orvane::CallOutcome out = callChecked(6, {rowsOf(2, 2, 0.25), record, defaultDiagnostics()});
    ASSERT_FALSE(out.error) << out.error->message();
    EXPECT_EQ(bitsOf(out.results[0]), (std::vector<uint64_t>{bits(0.5), bits(0.5)}));
    for (double v : out.results[3].toDoubles()) EXPECT_EQ(bits(v), bits(0.0));
    ASSERT_EQ(out.warnings.size(), 2u);
    EXPECT_EQ(out.warnings[0].identifier, "warnFazolt_NoRuleFired");

    orvane::CallOutcome failed = callChecked(1, {rowsOf(1, 2, 0.25), record, defaultDiagnostics(3)});
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->identifier(), "errFazolt_NoRuleFired");
}

TEST(Validation, NoInputRowsTakeAnyColumnCount) {
    for (int64_t cols : {0, 1, 2, 7}) {
        orvane::CallOutcome out = callChecked(1, {rowsOf(0, cols, 0.0), mamdaniRecord(), defaultDiagnostics()});
        ASSERT_FALSE(out.error) << cols << ": " << out.error->message();
        EXPECT_EQ(out.results[0].numel(), 0);
    }
}

// A negative origTypeLength trims the name to nothing: not a built-in, so
// the host is asked for a function named "" and refuses it.
TEST(Validation, NegativeTypeLengthGivesAnEmptyNameTheHostRejects) {
    orvane::Value record = mamdaniRecord();
    setMF(record, "inputMF", 0, 0, "origTypeLength", orvane::Value::int32Scalar(-5));
    orvane::CallOutcome out = callChecked(1, {rowsOf(1, 2, 0.25), record, defaultDiagnostics()});
    ASSERT_TRUE(out.error);
    EXPECT_NE(out.error->identifier(), "fazolt:invalidSystem");
    EXPECT_EQ(out.error->identifier(), "Orvane:UndefinedFunction") << out.error->message();
}

// ---- Custom host functions whose results have the wrong length.

class CustomResults : public testing::Test {
protected:
    void SetUp() override {
        orvane::registerFunction("vt_rowOf",
                                 [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                                     // Implication gets a column of sample values and returns a column;
                                     // aggregation gets one row per rule and returns a row.
                                     const std::vector<int64_t> &dims = args[0].dims();
                                     bool isColumn = dims[1] == 1;
                                     int64_t n = (isColumn ? dims[0] : dims[1]) + delta;
                                     if (n < 0) n = 0;
                                     results.assign(1, isColumn ? rowsOf(n, 1, 0.5) : rowsOf(1, n, 0.5));
                                 });
        // Membership function: feval(name, points, params).
        orvane::registerFunction(
            "vt_mf", [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                int64_t n = args[0].numel() + delta;
                std::vector<double> v(static_cast<size_t>(n < 0 ? 0 : n), 1.0);
                results.assign(1, orvane::Value::doubleMatrix(1, static_cast<int64_t>(v.size()), v));
            });
    }
    void TearDown() override {
        orvane::unregisterFunction("vt_rowOf");
        orvane::unregisterFunction("vt_mf");
        delta = 0;
    }
    static inline int64_t delta = 0;
};

std::string withMethod(const char *key, const char *name) {
    std::string d = mamdaniDescription;
    d.replace(d.find("\"numSamples\""), 0, std::string("\"") + key + "\": \"" + name + "\", ");
    return d;
}

TEST_F(CustomResults, ImplicationOrAggregationOfTheWrongLengthIsAnError) {
    for (const char *key : {"impMethod", "aggMethod"}) {
        orvane::Value record = fazolt::buildSystem(withMethod(key, "vt_rowOf")).record;
        for (int64_t d : {-1, 1, -11}) {
            SCOPED_TRACE(testing::Message() << key << " " << d);
            delta = d;
            orvane::CallOutcome out = callChecked(1, {rowsOf(1, 2, 0.25), record, defaultDiagnostics()});
            ASSERT_TRUE(out.error);
            EXPECT_EQ(out.error->identifier(), "fazolt:CustomResultLength");
            EXPECT_NE(out.error->message().find("vt_rowOf"), std::string::npos) << out.error->message();
        }
        delta = 0;
        orvane::CallOutcome right = callChecked(1, {rowsOf(1, 2, 0.25), record, defaultDiagnostics()});
        EXPECT_FALSE(right.error) << right.error->message();
    }
}

// An output membership function gives its values at the sample points. Too
// few leave the rest of the set 0; too many are cut at numSamples.
TEST_F(CustomResults, OutputMembershipOfTheWrongLengthIsCutOrPadded) {
    std::string d = mamdaniDescription;
    auto replace = [&d](const std::string &from, const std::string &to) { d.replace(d.find(from), from.size(), to); };
    replace(R"({"name": "up", "type": "trimf")", R"({"name": "up", "type": "vt_mf")");
    replace(R"({"name": "down", "type": "trimf")", R"({"name": "down", "type": "vt_mf")");
    orvane::Value record = fazolt::buildSystem(d).record;
    // a = 0.25 fires rule 1 at 0.5 (lo) and rule 2 at 0.125 (b = 0.25 is some at 0.125):
    // max(min(0.5, 1), min(0.125, 1)) = 0.5 over the points that the function covers.
    struct Row {
        int64_t delta;
        int64_t numCovered;
    } rows[] = {{0, 11}, {-8, 3}, {5, 11}, {-11, 0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "delta " << r.delta);
        delta = r.delta;
        orvane::CallOutcome out = callChecked(4, {rowsOf(1, 2, 0.25), record, defaultDiagnostics(0)});
        ASSERT_FALSE(out.error) << out.error->message();
        std::vector<double> aggregated = out.results[3].toDoubles();
        ASSERT_EQ(aggregated.size(), 11u);
        for (int64_t s = 0; s < 11; ++s) {
            EXPECT_EQ(bits(aggregated[static_cast<size_t>(s)]), bits(s < r.numCovered ? 0.5 : 0.0)) << "point " << s;
        }
    }
}

}  // namespace
