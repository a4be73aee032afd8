// Rows before the last take shortcuts (rules grouped by output set, only
// fired rules read, the centroid summed over the set's support, Sugeno sums
// without the rule-output block, rule firing without NaN tests). The last
// row of a call always takes the literal path, so evaluating each row alone
// must give the same bits as evaluating it among others.
#include "test_support.h"
#include <fazolt/fazolt.h>
#include "fuzz/fuzz_support.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

using testing_support::bits;

// NaN compares as NaN: which operand's NaN propagates is the processor's
// choice, not a result.
bool sameBits(double a, double b) { return (std::isnan(a) && std::isnan(b)) || bits(a) == bits(b); }

std::vector<std::vector<double>> gridRows(const std::vector<std::vector<double>> &perInput) {
    std::vector<std::vector<double>> rows(1);
    for (const std::vector<double> &values : perInput) {
        std::vector<std::vector<double>> next;
        for (const std::vector<double> &row : rows) {
            for (double v : values) {
                std::vector<double> r = row;
                r.push_back(v);
                next.push_back(r);
            }
        }
        rows = next;
    }
    return rows;
}

void expectRowsMatchAlone(const std::string &description, const std::vector<std::vector<double>> &rows) {
    orvane::CallOutcome together = testing_support::evaluate(description, rows, 1, 0);
    ASSERT_FALSE(together.error.has_value());
    const std::vector<double> all = together.results.at(0).toDoubles();
    const size_t numOutputs = all.size() / rows.size();
    // And one row per call through a prepared evaluator, which takes the
    // shortcuts of the rows before the last.
    fazolt::Evaluator evaluator(fazolt::System::fromDescription(description, FAZOLT_MODULE_PATH));
    std::vector<double> prepared(numOutputs);
    for (size_t r = 0; r < rows.size(); ++r) {
        orvane::CallOutcome alone = testing_support::evaluate(description, {rows[r]}, 1, 0);
        ASSERT_FALSE(alone.error.has_value());
        const std::vector<double> one = alone.results.at(0).toDoubles();
        (void)evaluator.evaluate(rows[r], prepared);
        for (size_t o = 0; o < numOutputs; ++o) {
            const double inCall = all[r + o * rows.size()];
            EXPECT_TRUE(sameBits(inCall, one[o]))
                << "row " << r << " output " << o << ": " << inCall << " among others, " << one[o] << " alone";
            EXPECT_TRUE(sameBits(prepared[o], one[o]))
                << "row " << r << " output " << o << ": " << prepared[o] << " one row per call, " << one[o] << " alone";
        }
    }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Narrow output sets on a range below zero (terms -0 outside the support),
// a complemented consequent, a rule that says nothing about one output, OR
// rules and weights.
const char *kNarrowMamdani = R"({
  "name": "narrow", "type": "mamdani", "numSamples": 41,
  "inputs": [
    {"name": "a", "range": [0, 1], "mf": [
      {"name": "lo", "type": "trimf", "params": [0, 0.2, 0.4]},
      {"name": "mid", "type": "trapmf", "params": [0.3, 0.45, 0.55, 0.7]},
      {"name": "hi", "type": "trimf", "params": [0.6, 0.8, 1]}]},
    {"name": "b", "range": [0, 1], "mf": [
      {"name": "lo", "type": "trimf", "params": [0, 0.25, 0.5]},
      {"name": "hi", "type": "gaussmf", "params": [0.1, 0.9]}]}
  ],
  "outputs": [
    {"name": "y", "range": [-10, -2], "mf": [
      {"name": "left", "type": "trimf", "params": [-10, -9, -8]},
      {"name": "mid", "type": "trimf", "params": [-6.5, -6, -5.5]},
      {"name": "right", "type": "trimf", "params": [-3, -2.5, -2]}]},
    {"name": "z", "range": [-1, 1], "mf": [
      {"name": "neg", "type": "trimf", "params": [-1, -0.5, 0]},
      {"name": "pos", "type": "trimf", "params": [0, 0.5, 1]}]}
  ],
  "rules": [
    "if a is lo and b is lo then y is left and z is neg",
    "if a is mid then y is mid",
    "if a is hi or b is hi then y is right and z is pos with 0.5",
    "if a is lo and b is hi then y is not mid and z is pos",
    "if a is hi and b is lo then y is right with 0.25"
  ]
})";

TEST(FastRows, MamdaniGroupedRowsAndCentroidSupportMatchTheLiteralPath) {
    const std::vector<double> values = {0, 0.05, 0.2, 0.3, 0.35, 0.45, 0.5, 0.62, 0.8, 0.95, 1, 1.5, -0.0, kNaN};
    expectRowsMatchAlone(kNarrowMamdani, gridRows({values, values}));
}

TEST(FastRows, MamdaniOtherMethodsMatchTheLiteralPath) {
    const std::vector<double> values = {0, 0.2, 0.33, 0.5, 0.8, 1, kNaN, kInf};
    std::string base = kNarrowMamdani;
    const std::string head = R"("type": "mamdani",)";
    for (const char *methods : {R"("impMethod": "prod", "aggMethod": "max",)",
                                R"("impMethod": "min", "aggMethod": "sum", "defuzzMethod": "bisector",)",
                                R"("impMethod": "min", "aggMethod": "probor", "defuzzMethod": "mom",)",
                                R"("andMethod": "prod", "orMethod": "probor", "defuzzMethod": "lom",)"}) {
        std::string description = base;
        description.replace(description.find(head), head.size(), head + methods);
        SCOPED_TRACE(methods);
        expectRowsMatchAlone(description, gridRows({values, values}));
    }
}

// Linear outputs that give -0 and 0 at the origin, a constant, a rule that
// says nothing about the second output, and OR rules under probor.
const char *kSugeno = R"({
  "name": "sugeno", "type": "sugeno", "andMethod": "prod", "orMethod": "probor",
  "inputs": [
    {"name": "a", "range": [-1, 1], "mf": [
      {"name": "neg", "type": "gaussmf", "params": [0.4, -1]},
      {"name": "zero", "type": "trimf", "params": [-0.5, 0, 0.5]},
      {"name": "pos", "type": "gaussmf", "params": [0.4, 1]}]},
    {"name": "b", "range": [-1, 1], "mf": [
      {"name": "neg", "type": "trapmf", "params": [-1, -1, -0.5, 0]},
      {"name": "pos", "type": "trapmf", "params": [0, 0.5, 1, 1]}]}
  ],
  "outputs": [
    {"name": "y", "range": [-5, 5], "mf": [
      {"name": "down", "type": "linear", "params": [-1, 0.5, -0.0]},
      {"name": "flat", "type": "constant", "params": [0.75]},
      {"name": "up", "type": "linear", "params": [2, -3, 0]}]},
    {"name": "z", "range": [-5, 5], "mf": [
      {"name": "c", "type": "constant", "params": [-0.0]},
      {"name": "l", "type": "linear", "params": [0.125, 4, -1]}]}
  ],
  "rules": [
    "if a is neg and b is neg then y is down and z is c",
    "if a is zero then y is flat",
    "if a is pos or b is pos then y is up and z is l",
    "if a is not zero and b is pos then y is down and z is l with 0.5"
  ]
})";

TEST(FastRows, SugenoSumsMatchTheLiteralPath) {
    const std::vector<double> values = {-1, -0.5, -0.25, -0.0, 0, 0.25, 0.5, 1, 3, kNaN, -kInf};
    expectRowsMatchAlone(kSugeno, gridRows({values, values}));
    std::string wtsum = kSugeno;
    const std::string head = R"("type": "sugeno",)";
    wtsum.replace(wtsum.find(head), head.size(), head + R"( "defuzzMethod": "wtsum",)");
    expectRowsMatchAlone(wtsum, gridRows({values, values}));
}

// Calls of 1 to 17 rows put rows in whole blocks of SIMD lanes, in the rows
// left over and in the last row. Each call, with warnings and with errors,
// must give at the level under test (FAZOLT_LANES, one ctest entry per
// level) what the row path gives, warnings in the same order; special
// values fall in every lane position and end blocks there.
TEST(FastRows, LaneBlocksOfEveryLengthMatchTheRowPath) {
    for (const char *description : {kNarrowMamdani, kSugeno}) {
        const std::vector<double> plain = {0.2, 0.45, 0.8, 0.3, 0.62, 0.05, 0.5, 0.95, 0.35, 1.0, 0.25, 0.7, 0.0};
        const std::vector<double> special = {kNaN, -kInf, -0.0, 0x1p-1074, 1.5, kInf, -2.0, -kNaN};
        const char *levelUnderTest = std::getenv("FAZOLT_LANES");
        const std::string restore = levelUnderTest != nullptr ? levelUnderTest : "";
        size_t next = 0;
        for (int numRows = 1; numRows <= 17; ++numRows) {
            std::vector<std::vector<double>> rows;
            for (int r = 0; r < numRows; ++r) {
                std::vector<double> row = {plain[static_cast<size_t>(r * 7 + numRows) % plain.size()],
                                           plain[static_cast<size_t>(r * 5 + 2 * numRows) % plain.size()]};
                if ((r + numRows) % 4 == 0) row[static_cast<size_t>(r % 2)] = special[next++ % special.size()];
                rows.push_back(row);
            }
            for (uint8_t mode : {0, 2, 3}) {
                SCOPED_TRACE(testing::Message() << numRows << " rows, diagnostics " << int(mode));
                const std::string atLevel = fuzz_support::outcomeText(
                    testing_support::callChecked(1, testing_support::evaluationArguments(description, rows, mode)));
                setenv("FAZOLT_LANES", "scalar", 1);
                const std::string rowPath = fuzz_support::outcomeText(
                    testing_support::callChecked(1, testing_support::evaluationArguments(description, rows, mode)));
                if (levelUnderTest != nullptr)
                    setenv("FAZOLT_LANES", restore.c_str(), 1);
                else
                    unsetenv("FAZOLT_LANES");
                EXPECT_EQ(atLevel, rowPath);
            }
            expectRowsMatchAlone(description, rows);
        }
    }
}

}  // namespace
