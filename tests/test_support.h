// Shared helpers for tests that go through the module entry.
#ifndef FAZOLT_TESTS_TEST_SUPPORT_H
#define FAZOLT_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <fazolt/description.h>
#include <orvane/host.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

inline std::shared_ptr<orvane::Module> module() {
    static std::shared_ptr<orvane::Module> m = orvane::Module::load(FAZOLT_MODULE_PATH);
    return m;
}

inline uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Calls the module and checks that nothing but the results stays allocated
// (on this thread: others may evaluate meanwhile) and the heap-reference
// stack is empty again.
inline orvane::CallOutcome callChecked(int numResults, const std::vector<orvane::Value> &arguments) {
    int64_t before = orvane::threadAllocStats().liveBlocks;
    orvane::CallOutcome outcome = module()->call(numResults, arguments);
    int64_t owned = 0;
    for (const orvane::Value &r : outcome.results) owned += r.ownedBlocks();
    for (const orvane::Warning &w : outcome.warnings) {
        for (const orvane::Value &a : w.arguments) owned += a.ownedBlocks();
    }
    EXPECT_EQ(orvane::threadAllocStats().liveBlocks, before + owned) << "blocks left behind by the call";
    EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    EXPECT_EQ(outcome.leakedValues, 0);
    return outcome;
}

// The text of a test system: tests/data holds the test's own, and the
// benchmarks' reference systems (fan, big_mamdani, sugeno_linear) are read
// from their one copy, bench/systems.
inline std::string readTestSystem(const std::string &file) {
    for (const char *dir : {"/tests/data/", "/bench/systems/"}) {
        std::ifstream in(std::string(FAZOLT_SOURCE_DIR) + dir + file);
        if (!in) continue;
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    ADD_FAILURE() << "no test system " << file;
    return "{}";
}

inline orvane::Value defaultDiagnostics(uint8_t mode = 2) { return fazolt::makeDiagnostics(mode, mode, mode, "test"); }

// The module's arguments for a description on rows of inputs.
inline std::vector<orvane::Value> evaluationArguments(const std::string &description,
                                                      const std::vector<std::vector<double>> &rows, uint8_t mode) {
    fazolt::BuiltSystem built = fazolt::buildSystem(description);
    int64_t numRows = static_cast<int64_t>(rows.size());
    int64_t numCols =
        rows.empty() ? static_cast<int64_t>(built.inputNames.size()) : static_cast<int64_t>(rows[0].size());
    std::vector<double> data(static_cast<size_t>(numRows * numCols));
    for (int64_t r = 0; r < numRows; ++r) {
        for (int64_t c = 0; c < numCols; ++c)
            data[static_cast<size_t>(r + c * numRows)] = rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
    }
    return {orvane::Value::doubleMatrix(numRows, numCols, data), built.record, defaultDiagnostics(mode)};
}

// Evaluates a description on rows of inputs; fails the test on a host error.
inline orvane::CallOutcome evaluate(const std::string &description, const std::vector<std::vector<double>> &rows,
                                    int numResults = 6, uint8_t mode = 2) {
    return callChecked(numResults, evaluationArguments(description, rows, mode));
}

}  // namespace testing_support

#endif
