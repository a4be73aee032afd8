// fazolt properties: what the module says it implements, decoded.
#include <gtest/gtest.h>

#include <fazolt/version.h>
#include <orvane/host.h>

#include "tests/cli_run.h"

namespace {

TEST(FunctionProperties, EntryPointsAndDecodedResolvedFunctions) {
    CliResult r = runCli({"properties"});
    ASSERT_EQ(r.status, 0) << r.err;
    orvane::Value p = orvane::fromJson(r.out);
    EXPECT_EQ(p.fieldNames(),
              (std::vector<std::string>{"Version", "ResolvedFunctions", "EntryPoints", "CoverageInfo"}));
    EXPECT_EQ(p.field(0, "Version").toText(), "fazolt " FAZOLT_VERSION_STRING " for Orvane 39.1");

    orvane::Value entry = p.field(0, "EntryPoints");
    EXPECT_EQ(entry.field(0, "Name").toText(), "fazolt");
    EXPECT_EQ(entry.field(0, "NumberOfInputs").toDoubles(), std::vector<double>{3.0});
    EXPECT_EQ(entry.field(0, "NumberOfOutputs").toDoubles(), std::vector<double>{6.0});
    orvane::Value constant = entry.field(0, "ConstantInputs");
    EXPECT_EQ(constant.classId(), ZORB_LOGICAL_CLASS);
    EXPECT_EQ(constant.dims(), (std::vector<int64_t>{1, 3}));

    // The record lists the module's own functions, the entry among them.
    orvane::Value resolved = p.field(0, "ResolvedFunctions");
    ASSERT_EQ(resolved.classId(), ZORB_STRUCT_CLASS);
    bool foundEntry = false;
    for (int64_t k = 0; k < resolved.numel(); ++k) {
        if (resolved.field(k, "name").toText() == "evaluateFis") {
            foundEntry = resolved.field(k, "resolved").toText() == "codegen/fazolt.cpp";
        }
    }
    EXPECT_TRUE(foundEntry);
}

}  // namespace
