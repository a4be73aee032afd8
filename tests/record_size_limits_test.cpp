// Records and inputs whose sizes multiply past 2^31-1 elements are refused
// before anything is allocated: a product that wrapped in 32 bits would size
// a buffer smaller than the loop that fills it.
#include "tests/test_support.h"

namespace {

using testing_support::callChecked;
using testing_support::defaultDiagnostics;

const char *const sugenoDescription = R"({
  "name": "lin", "type": "sugeno",
  "inputs": [{"name": "x", "range": [0, 10], "mf": [
      {"name": "low", "type": "trimf", "params": [-10, 0, 10]},
      {"name": "high", "type": "trimf", "params": [0, 10, 20]}]}],
  "outputs": [{"name": "y", "range": [0, 100], "mf": [
      {"name": "a", "type": "constant", "params": [10]},
      {"name": "b", "type": "linear", "params": [2, 1]}]}],
  "rules": ["if x is low then y is a", "if x is high then y is b"]})";

// With no rows the inputs may have any column count. Two output MFs times
// (2^31 - 1 columns + the constant) is 2^32 coefficients, which wrapped to 0
// and left the zeroing loop writing past an empty buffer.
TEST(RecordSizeLimits, SugenoCoefficientsBeyondTheElementLimitAreRefused) {
    fazolt::BuiltSystem sys = fazolt::buildSystem(sugenoDescription);
    for (int64_t columns : {int64_t{2147483647}, int64_t{1073741824}}) {
        orvane::Value inputs = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {0, columns});
        orvane::CallOutcome out = callChecked(1, {inputs, sys.record, defaultDiagnostics()});
        ASSERT_TRUE(out.error) << columns << " columns";
        EXPECT_EQ(out.error->identifier(), "fazolt:invalidSystem");
        EXPECT_NE(out.error->message().find("Sugeno output coefficients"), std::string::npos) << out.error->message();
    }
}

}  // namespace
