// fazolt::Evaluator beyond the bits (the oracle compares those): what a row
// reports, what preparing a record refuses, and that a row allocates nothing.
#include "bench/allocation_counter.h"
#include "evaluator_storage.h"
#include "test_support.h"
#include "test_systems.h"

#include <fazolt/fazolt.h>

#include <cmath>
#include <limits>
#include <set>

namespace {

using testing_support::readTestSystem;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// One input x in [0, 10] with a single narrow term, two outputs over [0, 1]:
// y's term lies outside its range, so y's set is empty whenever the rule
// fires; z's is not. Away from x = 1 no rule fires.
const char *kFlags = R"({"name": "flags", "type": "mamdani", "andMethod": "min", "orMethod": "max",
  "impMethod": "min", "aggMethod": "max", "defuzzMethod": "centroid", "numSamples": 11,
  "inputs": [{"name": "x", "range": [0, 10], "mf": [{"name": "near1", "type": "trimf", "params": [0, 1, 2]}]},
             {"name": "w", "range": [0, 10], "mf": [{"name": "any", "type": "trapmf", "params": [-1, 0, 10, 11]}]}],
  "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "far", "type": "trimf", "params": [5, 6, 7]}]},
              {"name": "z", "range": [0, 1], "mf": [{"name": "mid", "type": "trimf", "params": [0, 0.5, 1]}]}],
  "rules": [{"antecedent": [1, 1], "consequent": [1, 1], "weight": 1, "connection": 1}]})";

// The identifiers a status stands for, as the batch's warnings name them.
std::set<std::string> identifiersOf(const fazolt::RowStatus &s) {
    std::set<std::string> ids;
    if (s.nanInput >= 0) ids.insert(fazolt::ids::inputsNaN);
    if (s.outOfRangeInput >= 0) ids.insert(fazolt::ids::moduleOutOfRangeInput);
    if (s.noRuleFired >= 0) ids.insert(fazolt::ids::moduleNoRuleFiredWarning);
    if (s.emptyOutputFuzzySet >= 0) ids.insert(fazolt::ids::moduleZeroMembershipValueWarning);
    if (s.nonFiniteOutput >= 0) ids.insert(fazolt::ids::outputsNonFinite);
    return ids;
}

struct FlagCase {
    double x;
    fazolt::RowStatus expected;
};

TEST(Evaluator, StatusNamesWhatTheBatchWarnsAbout) {
    const fazolt::System system = fazolt::System::fromDescription(kFlags, FAZOLT_MODULE_PATH);
    fazolt::Evaluator evaluator(system);
    auto status = [](int32_t nan, int32_t range, int32_t noRule, int32_t empty) {
        fazolt::RowStatus s;
        s.nanInput = nan;
        s.outOfRangeInput = range;
        s.noRuleFired = noRule;
        s.emptyOutputFuzzySet = empty;
        return s;
    };
    const FlagCase cases[] = {
        {1.0, status(-1, -1, -1, 0)},   // fired: y's set empty
        {5.0, status(-1, -1, 0, -1)},   // nothing fired: every output, the first named
        {20.0, status(-1, 0, 0, -1)},   // outside [0, 10] too
        {kNaN, status(0, -2, -2, -2)},  // what the NaN degree makes of the rest: as the batch says
    };
    for (const FlagCase &c : cases) {
        const double row[2] = {c.x, 5.0};
        double out[2];
        const fazolt::RowStatus s = evaluator.evaluate(row, out);
        EXPECT_EQ(s.nanInput, c.expected.nanInput) << c.x;
        if (c.expected.outOfRangeInput != -2) {
            EXPECT_EQ(s.outOfRangeInput, c.expected.outOfRangeInput) << c.x;
            EXPECT_EQ(s.noRuleFired, c.expected.noRuleFired) << c.x;
            EXPECT_EQ(s.emptyOutputFuzzySet, c.expected.emptyOutputFuzzySet) << c.x;
        }
        EXPECT_EQ(s.nonFiniteOutput, -1) << c.x;

        const fazolt::Evaluation batch = system.evaluate(fazolt::Matrix::fromRows({{c.x, 5.0}}));
        std::set<std::string> warned;
        for (const fazolt::Warning &w : batch.warnings) warned.insert(w.identifier);
        EXPECT_EQ(identifiersOf(s), warned) << c.x;
    }

    // Two rules adding 1e308 each (a record: a description refuses such a
    // level): an infinite output from a finite input.
    orvane::Value record = fazolt::buildSystem(R"({"name": "overflow", "type": "sugeno", "andMethod": "min",
        "orMethod": "max", "impMethod": "prod", "aggMethod": "sum", "defuzzMethod": "wtsum", "numSamples": 11,
        "inputs": [{"name": "x", "range": [0, 1], "mf": [{"name": "all", "type": "trapmf", "params": [-1, 0, 1, 2]}]}],
        "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "huge", "type": "constant", "params": [1]}]}],
        "rules": [{"antecedent": [1], "consequent": [1], "weight": 1, "connection": 1},
                  {"antecedent": [1], "consequent": [1], "weight": 1, "connection": 1}]})")
                               .record;
    orvane::Value outputs = record.field(0, "outputMF");
    orvane::Value mfs = outputs.field(0, "mf");
    mfs.setField(0, "params", orvane::Value::doubleMatrix(1, 1, {1e308}));
    outputs.setField(0, "mf", mfs);
    record.setField(0, "outputMF", outputs);
    fazolt::Evaluator overflowing(fazolt::System::fromRecord(record, FAZOLT_MODULE_PATH));
    const double x[1] = {0.5};
    double y[1];
    EXPECT_EQ(overflowing.evaluate(x, y).nonFiniteOutput, 0);
}

// An output's default stands where no rule fired, as in a batch.
TEST(Evaluator, DefaultsReplaceTheMidpointWhereNoRuleFired) {
    std::string text = kFlags;
    text.replace(text.find(R"("name": "y", "range": [0, 1],)"), 29,
                 R"("name": "y", "range": [0, 1], "default": 0.25,)");
    text.replace(text.find(R"("name": "z", "range": [0, 1],)"), 29,
                 R"("name": "z", "range": [0, 1], "default": "nan",)");
    const fazolt::System system = fazolt::System::fromDescription(text, FAZOLT_MODULE_PATH);
    fazolt::Evaluator evaluator(system);
    for (double x : {1.0, 5.0}) {
        const double row[2] = {x, 5.0};
        double out[2];
        evaluator.evaluate(row, out);
        const fazolt::Evaluation batch = system.evaluate(fazolt::Matrix::fromRows({{x, 5.0}}));
        for (int o = 0; o < 2; ++o) EXPECT_TRUE(testsys::sameBits(out[o], batch.outputs.at(0, o))) << x;
    }
    const double row[2] = {5.0, 5.0};
    double out[2];
    evaluator.evaluate(row, out);
    EXPECT_EQ(out[0], 0.25);
    EXPECT_TRUE(std::isnan(out[1]));
}

TEST(Evaluator, ThrowingFormFollowsTheModesAndRefusesWrongSizes) {
    fazolt::DiagnosticModes modes;
    modes.noRuleFired = fazolt::REPORT_ERROR;
    fazolt::Evaluator evaluator(fazolt::System::fromDescription(kFlags, FAZOLT_MODULE_PATH), modes);
    double out[2];
    const double fired[2] = {1.0, 5.0};  // an empty set: a warning only
    EXPECT_EQ(evaluator.evaluateOrThrow(fired, out).emptyOutputFuzzySet, 0);
    const double none[2] = {5.0, 5.0};
    try {
        evaluator.evaluateOrThrow(none, out);
        ADD_FAILURE() << "no error for no rule fired";
    } catch (const fazolt::Error &e) {
        EXPECT_EQ(e.id(), fazolt::ids::moduleNoRuleFired);
    }
    const double shortRow[1] = {1.0};
    EXPECT_EQ(evaluator.evaluate(shortRow, out).failure, fazolt::RowFailure::size);
    EXPECT_THROW(evaluator.evaluateOrThrow(shortRow, out), fazolt::Error);
}

// A record the module refuses is refused by the Evaluator with the error the
// batch gives, identifier and message.
TEST(Evaluator, PreparingRefusesWhatTheEntryRefuses) {
    const orvane::Value good = fazolt::buildSystem(readTestSystem("fan.json")).record;
    orvane::Value wrongClass = orvane::deepCopy(good);
    wrongClass.setField(0, "numInputs", orvane::Value::doubleScalar(2.0));
    orvane::Value wrongCount = orvane::deepCopy(good);
    wrongCount.setField(0, "numRules", orvane::Value::int32Scalar(7));
    for (const orvane::Value &record : {wrongClass, wrongCount}) {
        const fazolt::System system = fazolt::System::fromRecord(record, FAZOLT_MODULE_PATH);
        orvane::CallOutcome batch =
            system.call(orvane::Value::doubleMatrix(1, 2, {20.0, 50.0}), testing_support::defaultDiagnostics(), 1);
        ASSERT_TRUE(batch.error.has_value());
        try {
            fazolt::Evaluator evaluator(system);
            ADD_FAILURE() << "accepted: " << batch.error->message();
        } catch (const fazolt::Error &e) {
            EXPECT_EQ(e.id(), batch.error->identifier());
            EXPECT_EQ(std::string(e.what()).find(batch.error->message()) != std::string::npos, true)
                << e.what() << " / " << batch.error->message();
        }
    }
}

TEST(Evaluator, CustomFunctionErrorIsTheRowsFailure) {
    orvane::registerFunction("evaluatorFault",
                             [](int, std::vector<orvane::Value> &, const std::vector<orvane::Value> &) {
                                 orvane::raise("app:sensor", "sensor fault");
                             });
    std::string description = kFlags;
    description.replace(description.find("\"min\""), 5, "\"evaluatorFault\"");  // andMethod
    fazolt::Evaluator evaluator(fazolt::System::fromDescription(description, FAZOLT_MODULE_PATH));
    EXPECT_TRUE(evaluator.callsHost());
    const double row[2] = {1.0, 5.0};
    double out[2];
    EXPECT_EQ(evaluator.evaluate(row, out).failure, fazolt::RowFailure::customFunction);
    ASSERT_NE(evaluator.lastError(), nullptr);
    EXPECT_NE(std::string(evaluator.lastError()->what()).find("sensor fault"), std::string::npos);
    EXPECT_THROW(evaluator.evaluateOrThrow(row, out), fazolt::Error);
    orvane::unregisterFunction("evaluatorFault");
}

#if FAZOLT_COUNTS_ALLOCATIONS
// Each system's rows, with and without intermediate results, on a warmed
// evaluator: not one heap allocation in 10,000 calls.
TEST(Evaluator, TenThousandRowsAllocateNothing) {
    for (const char *file : {"pd_mamdani.json", "pd_sugeno.json", "fan.json", "big_mamdani.json", "sugeno_linear.json",
                             "mixed_mamdani.json", "two_output_sugeno.json"}) {
        fazolt::Evaluator evaluator(fazolt::System::fromDescription(readTestSystem(file), FAZOLT_MODULE_PATH));
        ASSERT_FALSE(evaluator.callsHost()) << file;
        EvaluatorStorage held(evaluator);
        const fazolt::RowIntermediates &intermediates = held.intermediates;
        std::vector<double> row(evaluator.numInputs()), out(evaluator.numOutputs());
        (void)evaluator.evaluate(row, out, &intermediates);  // the host's first frame on this thread
        allocation_counter::arm();
        for (int n = 0; n < 10000; ++n) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = static_cast<double>((n * (7 + 2 * static_cast<int>(i))) % 1000) / 1000.0;
            (void)evaluator.evaluate(row, out, n % 10 == 0 ? &intermediates : nullptr);
        }
        EXPECT_EQ(allocation_counter::disarm(), 0) << file;
    }
}
#endif

}  // namespace
