// The heater example: outputs a person can check by hand (see
// examples/heater/README.md), through the tool as a user runs it.
#include <gtest/gtest.h>

#include "tests/cli_run.h"

namespace {

TEST(HeaterExample, OutputsMatchTheHandWorkedValues) {
    std::string dir = std::string(FAZOLT_SOURCE_DIR) + "/examples/heater/";
    CliResult r = runCli({"eval", dir + "heater.json", dir + "inputs.csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, slurp(dir + "expected.csv"));
    // Row 6 fires no rule: the midpoint of the power range, and one warning.
    EXPECT_NE(r.err.find("warning: warnFazolt_NoRuleFired:"), std::string::npos) << r.err;
}

}  // namespace
