// With built-in methods and diagnostics off, an evaluation allocates only
// when it starts: a call over 1000 rows makes exactly as many allocation
// requests as a call over one row of the same system.
#include "test_support.h"

#include <fstream>
#include <sstream>

namespace {

using testing_support::readTestSystem;

// Rows inside every input's range, spread over it, so that rules fire and
// sets are non-empty on most rows. Column-major, numRows x numInputs.
std::vector<double> spreadRows(int64_t numRows, int64_t numInputs) {
    std::vector<double> data(static_cast<size_t>(numRows * numInputs));
    for (int64_t r = 0; r < numRows; ++r)
        for (int64_t i = 0; i < numInputs; ++i)
            data[static_cast<size_t>(r + i * numRows)] = static_cast<double>((r * (7 + 2 * i)) % 1000) / 1000.0;
    return data;
}

int64_t allocationsOfCall(const fazolt::BuiltSystem &built, int64_t numRows, double rangeScale) {
    const int64_t numInputs = static_cast<int64_t>(built.inputNames.size());
    std::vector<double> rows = spreadRows(numRows, numInputs);
    for (double &x : rows) x *= rangeScale;
    orvane::Value inputs = orvane::Value::doubleMatrix(numRows, numInputs, rows);
    orvane::Value diag = fazolt::makeDiagnostics(0, 0, 0, "allocation");
    testing_support::module();  // loading the module allocates, once per process
    const int64_t before = orvane::allocStats().totalAllocations;
    orvane::CallOutcome outcome = testing_support::callChecked(6, {inputs, built.record, diag});
    const int64_t count = orvane::allocStats().totalAllocations - before;
    EXPECT_FALSE(outcome.error.has_value());
    return count;
}

struct AllocationCase {
    const char *file;
    double rangeScale;  // inputs from 0 to rangeScale
};

TEST(PerRowAllocation, BuiltInMethodsAllocateNothingPerRow) {
    const AllocationCase cases[] = {
        {"fan.json", 40.0},           // Mamdani, centroid
        {"big_mamdani.json", 1.0},    // Mamdani, 120 rules, two outputs
        {"sugeno_linear.json", 1.0},  // Sugeno, linear outputs, wtaver
        {"mixed_mamdani.json", 1.0},  // NOT terms, OR rules, two outputs
        {"two_output_sugeno.json", 1.0},
    };
    for (const AllocationCase &c : cases) {
        fazolt::BuiltSystem built = fazolt::buildSystem(readTestSystem(c.file));
        const int64_t one = allocationsOfCall(built, 1, c.rangeScale);
        const int64_t thousand = allocationsOfCall(built, 1000, c.rangeScale);
        EXPECT_EQ(thousand, one) << c.file;
    }
}

}  // namespace
