// The module entry as a host calls it: argument counts, argument checks,
// result extents, and nothing left allocated after any call.
#include "tests/test_support.h"

namespace {

using testing_support::callChecked;
using testing_support::defaultDiagnostics;

const char *const mamdaniDescription = R"({
  "name": "dimmer", "type": "mamdani", "numSamples": 11,
  "inputs": [{"name": "ambient", "range": [0, 1], "mf": [
      {"name": "dark", "type": "trimf", "params": [-0.5, 0, 0.5]},
      {"name": "bright", "type": "trimf", "params": [0.5, 1, 1.5]}]},
    {"name": "motion", "range": [0, 1], "mf": [{"name": "some", "type": "smf", "params": [0, 1]}]}],
  "outputs": [{"name": "power", "range": [0, 1], "mf": [
      {"name": "high", "type": "trimf", "params": [0.5, 1, 1.5]},
      {"name": "low", "type": "trimf", "params": [-0.5, 0, 0.5]}]}],
  "rules": ["if ambient is dark then power is high", "if ambient is bright or motion is some then power is low"]})";

const char *const sugenoDescription = R"({
  "name": "lin", "type": "sugeno",
  "inputs": [{"name": "x", "range": [0, 10], "mf": [
      {"name": "low", "type": "trimf", "params": [-10, 0, 10]},
      {"name": "high", "type": "trimf", "params": [0, 10, 20]}]}],
  "outputs": [{"name": "y", "range": [0, 100], "mf": [
      {"name": "a", "type": "constant", "params": [10]},
      {"name": "b", "type": "linear", "params": [2, 1]}]},
    {"name": "z", "range": [-1, 1], "mf": [{"name": "c", "type": "constant", "params": [0.5]}]}],
  "rules": ["if x is low then y is a and z is c", "if x is high then y is b"]})";

orvane::Value rows(int64_t n, int64_t cols, double v) {
    return orvane::Value::doubleMatrix(n, cols, std::vector<double>(static_cast<size_t>(n * cols), v));
}

std::vector<int64_t> dims(const orvane::Value &v) { return v.dims(); }

TEST(ModuleEntry, MamdaniResultsHaveTheirExtents) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(mamdaniDescription);
    orvane::CallOutcome out = callChecked(6, {rows(3, 2, 0.25), sys.record, defaultDiagnostics()});
    ASSERT_FALSE(out.error) << out.error->message();
    ASSERT_EQ(out.results.size(), 6u);
    EXPECT_EQ(dims(out.results[0]), (std::vector<int64_t>{3, 1}));
    EXPECT_EQ(dims(out.results[1]), (std::vector<int64_t>{2, 2}));   // numRules x numInputs
    EXPECT_EQ(dims(out.results[2]), (std::vector<int64_t>{11, 2}));  // orrSize
    EXPECT_EQ(dims(out.results[3]), (std::vector<int64_t>{11, 1}));  // aggSize
    EXPECT_EQ(dims(out.results[4]), (std::vector<int64_t>{2, 1}));   // a column
    EXPECT_EQ(dims(out.results[5]), (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(out.results[5].toDoubles(), std::vector<double>{0.0});
}

TEST(ModuleEntry, SugenoRuleOutputLevelsTakeOrrSize) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(sugenoDescription);
    orvane::CallOutcome out = callChecked(6, {rows(2, 1, 5.0), sys.record, defaultDiagnostics()});
    ASSERT_FALSE(out.error) << out.error->message();
    EXPECT_EQ(dims(out.results[5]), (std::vector<int64_t>{2, 2}));
    EXPECT_EQ(dims(out.results[3]), (std::vector<int64_t>{1, 2}));
}

TEST(ModuleEntry, NoInputRowsGiveAnEmptyOutputMatrix) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(mamdaniDescription);
    orvane::CallOutcome out = callChecked(6, {rows(0, 2, 0.0), sys.record, defaultDiagnostics()});
    ASSERT_FALSE(out.error) << out.error->message();
    EXPECT_EQ(dims(out.results[0]), (std::vector<int64_t>{0, 1}));
    for (int k = 1; k < 5; ++k) {
        for (double v : out.results[static_cast<size_t>(k)].toDoubles()) EXPECT_EQ(v, 0.0) << "result " << k + 1;
    }
    EXPECT_TRUE(out.warnings.empty());
}

TEST(ModuleEntry, ArgumentAndResultCounts) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(mamdaniDescription);
    orvane::Value in = rows(1, 2, 0.5);
    orvane::Value diag = defaultDiagnostics();
    struct Case {
        int numResults;
        std::vector<orvane::Value> arguments;
        const char *identifier;
        size_t numReturned;
    } cases[] = {
        {1, {in, sys.record}, "ZORB:runTime:WrongNumberOfInputs", 0},
        {1, {in, sys.record, diag, diag}, "ZORB:runTime:WrongNumberOfInputs", 0},
        {7, {in, sys.record}, "ZORB:runTime:WrongNumberOfInputs", 0},  // the count of arguments comes first
        {7, {in, sys.record, diag}, "ZORB:runTime:TooManyOutputArguments", 0},
        {0, {in, sys.record, diag}, nullptr, 1},
        {1, {in, sys.record, diag}, nullptr, 1},
        {5, {in, sys.record, diag}, nullptr, 5},
    };
    for (const Case &c : cases) {
        orvane::CallOutcome out = callChecked(c.numResults, c.arguments);
        if (c.identifier != nullptr) {
            ASSERT_TRUE(out.error) << c.identifier;
            EXPECT_EQ(out.error->identifier(), c.identifier);
            EXPECT_NE(out.error->message().find("fazolt"), std::string::npos) << out.error->message();
        } else {
            ASSERT_FALSE(out.error) << out.error->message();
            EXPECT_EQ(out.results.size(), c.numReturned);
        }
    }
}

// The first failing check names the value's path; the partly imported
// record is released.
TEST(ModuleEntry, BadArgumentsAreRejectedNamingTheirPath) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(mamdaniDescription);
    orvane::Value diag = defaultDiagnostics();
    orvane::Value good = rows(1, 2, 0.5);

    orvane::Value single = orvane::Value::numeric(ZORB_SINGLE_CLASS, {1, 2});
    orvane::Value complexInputs = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, 2}, true);
    orvane::Value threeD = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, 2, 2});

    auto withField = [&](const char *name, orvane::Value v) {
        orvane::Value copy = orvane::fromJson(orvane::toJson(sys.record));
        copy.setField(0, name, std::move(v));
        return copy;
    };
    orvane::Value wideOrr = withField("orrSize", orvane::Value::int32Row({11, 2, 1}));
    orvane::Value doubleCount = withField("numInputs", orvane::Value::doubleScalar(2.0));
    orvane::Value badAgg = withField("aggSize", orvane::Value::doubleMatrix(1, 2, {11, 1}));
    orvane::Value badParams = orvane::fromJson(orvane::toJson(sys.record));
    {
        orvane::Value inputMF = badParams.field(0, "inputMF");
        orvane::Value mf = inputMF.field(1, "mf");
        mf.setField(0, "params", orvane::Value::int32Row({0, 1}));
    }

    std::vector<std::string> names = fazolt::systemRecordFieldNames();
    names[3] = "defuzzmethod";
    orvane::Value misnamed = orvane::Value::structMatrix({1, 1}, names);
    std::vector<std::string> fewer(names.begin(), names.end() - 1);
    orvane::Value missing = orvane::Value::structMatrix({1, 1}, fewer);

    struct Case {
        const char *what;
        orvane::Value inputs, fis;
        const char *path;
    } cases[] = {
        {"single inputs", single, sys.record, "inputs"},
        {"complex inputs", complexInputs, sys.record, "inputs"},
        {"3-D inputs", threeD, sys.record, "inputs"},
        {"orrSize 1 x 3", good, wideOrr, "fis.orrSize"},
        {"numInputs as double", good, doubleCount, "fis.numInputs"},
        {"aggSize as double, the last field", good, badAgg, "fis.aggSize"},
        {"params of class int32", good, badParams, "fis.inputMF.mf.params"},
        {"misnamed field", good, misnamed, "fis"},
        {"missing field", good, missing, "fis"},
    };
    for (const Case &c : cases) {
        orvane::CallOutcome out = callChecked(1, {c.inputs, c.fis, diag});
        ASSERT_TRUE(out.error) << c.what;
        EXPECT_NE(out.error->message().find(c.path), std::string::npos) << c.what << ": " << out.error->message();
    }
}

}  // namespace
