// The embedding API: custom methods served by C++ host functions, and
// evaluation from several threads at once.
#include <fazolt/fazolt.h>
#include <fazolt/lua.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kExamples = FAZOLT_SOURCE_DIR "/examples";

using fazolt::REPORT_ERROR, fazolt::REPORT_NOTHING, fazolt::REPORT_WARNING;
// The module's diagnostics silent, the two checks as by default; all silent.
const fazolt::DiagnosticModes kQuiet{REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING};
const fazolt::DiagnosticModes kSilent{REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING};

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The dimmer with other method names put in front of its own.
std::string dimmerWith(const std::string &methods) {
    std::string d = readFile(kExamples + "/dimmer/dimmer.json");
    std::string::size_type at = d.find("\"type\": \"mamdani\",");
    EXPECT_NE(at, std::string::npos);
    return d.insert(at, methods + ", ");
}

// Rows spread over (and a little beyond) the dimmer's input ranges, from a
// fixed linear congruential sequence.
fazolt::Matrix dimmerInputs(int64_t rows) {
    fazolt::Matrix m = fazolt::Matrix::zeros(rows, 2);
    uint64_t state = 12345;
    auto next = [&state]() {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (int64_t r = 0; r < rows; ++r) {
        m.at(r, 0) = -5.0 + 110.0 * next();
        m.at(r, 1) = next();
    }
    return m;
}

bool sameBits(const fazolt::Matrix &a, const fazolt::Matrix &b) {
    return a.rows == b.rows && a.cols == b.cols &&
           std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(double)) == 0;
}

bool sameEvaluation(const fazolt::Evaluation &a, const fazolt::Evaluation &b) {
    return sameBits(a.outputs, b.outputs) && sameBits(a.ruleInputValues, b.ruleInputValues) &&
           sameBits(a.ruleOutputs, b.ruleOutputs) && sameBits(a.aggregatedOutputs, b.aggregatedOutputs) &&
           sameBits(a.firingStrengths, b.firingStrengths) && sameBits(a.ruleOutputLevels, b.ruleOutputLevels);
}

std::atomic<int64_t> customCalls{0};

// Left to right from the first value, as the built-in "prod" multiplies.
void productOfValues(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    ++customCalls;
    std::vector<double> v = arguments.at(0).toDoubles();
    double y = v.empty() ? 1.0 : v[0];
    for (size_t k = 1; k < v.size(); ++k) y = y * v[k];
    results.assign(1, orvane::Value::doubleScalar(y));
}

// (acc + x) - acc*x from the first value, as the built-in "probor".
void proborOfValues(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    ++customCalls;
    std::vector<double> v = arguments.at(0).toDoubles();
    double acc = v.empty() ? 0.0 : v[0];
    for (size_t k = 1; k < v.size(); ++k) acc = (acc + v[k]) - acc * v[k];
    results.assign(1, orvane::Value::doubleScalar(acc));
}

class Api : public testing::Test {
protected:
    void SetUp() override {
        fazolt::registerFunction("cppProduct", productOfValues);
        fazolt::registerFunction("cppProbor", proborOfValues);
        fazolt::registerFunction("cppFails", [](int, std::vector<orvane::Value> &, const std::vector<orvane::Value> &) {
            orvane::raise("test:custom:Fails", "refused on purpose");
        });
    }
    void TearDown() override {
        fazolt::unregisterFunction("cppProduct");
        fazolt::unregisterFunction("cppProbor");
        fazolt::unregisterFunction("cppFails");
    }
    std::string module_ = FAZOLT_MODULE_PATH;
};

// A C++ function named as the AND and OR method gives the bits of the
// built-in method it reimplements, so the values cross the host boundary
// unchanged in both directions.
TEST_F(Api, RegisteredFunctionServesACustomMethod) {
    fazolt::Matrix inputs = dimmerInputs(300);
    fazolt::System builtIn =
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": "prod", "orMethod": "probor")"), module_);
    fazolt::System custom =
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct", "orMethod": "cppProbor")"), module_);
    customCalls = 0;
    fazolt::Evaluation expected = builtIn.evaluate(inputs, kQuiet);
    EXPECT_EQ(customCalls.load(), 0);
    fazolt::Evaluation e = custom.evaluate(inputs, kQuiet);
    EXPECT_EQ(customCalls.load(), 300 * 4);  // once per rule and row
    EXPECT_TRUE(sameEvaluation(e, expected));
}

TEST_F(Api, FailingOrMissingCustomMethodRaisesWithNoResult) {
    fazolt::Matrix inputs = dimmerInputs(3);
    fazolt::System fails = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppFails")"), module_);
    try {
        fails.evaluate(inputs);
        ADD_FAILURE() << "no error";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.identifier(), "test:custom:Fails");
    }
    // A name the host does not know is refused when the system loads, not at its first row.
    try {
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppNoSuchMethod")"), module_);
        ADD_FAILURE() << "no error";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.identifier(), "fazolt:description:Invalid");
        EXPECT_EQ(e.message().rfind("andMethod: unknown AND method \"cppNoSuchMethod\"", 0), 0u) << e.message();
    }
    // Converted only, the name is left for the host to find later.
    fazolt::BuiltSystem unchecked =
        fazolt::buildSystem(dimmerWith(R"("andMethod": "cppNoSuchMethod")"), fazolt::HostFunctionNames::unchecked);
    EXPECT_EQ(unchecked.record.field(0, "andMethod").toText(), "cppNoSuchMethod");
    // The host is still usable after both errors.
    fazolt::System fine = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct")"), module_);
    EXPECT_EQ(fine.evaluate(inputs).outputs.rows, 3);
}

// The custom-method example: its description and its committed raw record
// agree bit for bit with the method served by C++ (the command-line tool
// cannot serve it, so this example is compared here rather than by `eval`).
TEST_F(Api, CustomMethodExampleRecordMatchesDescription) {
    fazolt::registerFunction("lukasiewicz",
                             [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
                                 std::vector<double> v = arguments.at(0).toDoubles();
                                 double sum = 0.0;
                                 for (double x : v) sum += x;
                                 double y = sum - static_cast<double>(v.size() - 1);
                                 results.assign(1, orvane::Value::doubleScalar(y > 0.0 ? y : 0.0));
                             });
    std::string dir = kExamples + "/custom_method/";
    fazolt::System nested = fazolt::System::fromFile(dir + "lukasiewicz.json", module_);
    fazolt::System raw = fazolt::System::fromFile(dir + "lukasiewicz.record.json", module_);
    EXPECT_FALSE(raw.hasNames());
    fazolt::Matrix inputs = fazolt::Matrix::fromRows({{10, 50}, {22, 20}, {24, 65}, {28, 45}, {31, 80}, {40, 30}});
    fazolt::Evaluation a = nested.evaluate(inputs);
    fazolt::Evaluation b = raw.evaluate(inputs);
    // At 24 degrees and 40 % humidity rule 2 ("warm and dry") has two
    // grades below 1: the t-norm, not "min", made its firing strength.
    fazolt::Evaluation one = nested.evaluate(fazolt::Matrix::fromRows({{24, 40}}));
    fazolt::unregisterFunction("lukasiewicz");
    EXPECT_TRUE(sameEvaluation(a, b));
    ASSERT_EQ(one.firingStrengths.rows, 4);
    double warm = one.ruleInputValues.at(1, 0);
    double dry = one.ruleInputValues.at(1, 1);
    EXPECT_LT(warm, 1.0);
    EXPECT_LT(dry, 1.0);
    EXPECT_EQ(one.firingStrengths.at(1, 0), (warm + dry) - 1.0);
}

// The checks around the module call change no output bit; warnings and errors
// name the input and the row, the first row's error winning.
TEST_F(Api, ChecksNameTheInputAndTheRowAndChangeNoOutput) {
    fazolt::System dimmer = fazolt::System::fromFile(kExamples + "/dimmer/dimmer.json", module_);
    const fazolt::Matrix rows = fazolt::Matrix::fromRows({{30, 0.9}, {30, std::nan("")}, {120, 0.5}, {20, 0.9}});
    fazolt::Evaluation warned = dimmer.evaluate(rows);
    EXPECT_TRUE(sameBits(warned.outputs, dimmer.evaluate(rows, kSilent).outputs));
    ASSERT_EQ(warned.warnings.size(), 2u);
    EXPECT_EQ(warned.warnings[0].identifier, "fazolt:inputs:NaN");
    EXPECT_EQ(warned.warnings[0].message, "row 1: input \"motion\" is NaN");
    EXPECT_EQ(warned.warnings[1].identifier, "diagFazolt_OutOfRangeInput");
    EXPECT_EQ(warned.warnings[1].message, "row 2: input \"daylight\" has the value 120, outside its range [0 100]");
    EXPECT_EQ(warned.warnings[0].row, 1);
    EXPECT_EQ(warned.warnings[1].row, 2);
    auto errorOf = [&](const fazolt::DiagnosticModes &modes) {
        try {
            dimmer.evaluate(rows, modes);
        } catch (const orvane::HostError &e) {
            return e.identifier() + ": " + e.message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf({REPORT_ERROR, REPORT_WARNING, REPORT_WARNING, REPORT_ERROR, REPORT_WARNING}), "fazolt:inputs:NaN: row 1: input \"motion\" is NaN");
    EXPECT_EQ(errorOf({REPORT_ERROR, REPORT_WARNING, REPORT_WARNING, REPORT_WARNING, REPORT_WARNING}),
              "diagFazolt_OutOfRangeInput: row 2: input \"daylight\" has the value 120, outside its range [0 100]");
    // A mode that is no Report value (a cast number, a bool) would turn its
    // check off unseen.
    for (int bad : {1, 4, 255}) {
        fazolt::DiagnosticModes modes;
        modes.emptyOutputFuzzySet = static_cast<fazolt::Report>(bad);
        EXPECT_EQ(errorOf(modes), "fazolt:api:DiagnosticMode: DiagnosticModes::emptyOutputFuzzySet: " +
                                      std::to_string(bad) + " is no mode: REPORT_NOTHING, REPORT_WARNING or REPORT_ERROR");
    }
    fazolt::DiagnosticModes flag;
    flag.nanInput = static_cast<fazolt::Report>(true);
    EXPECT_EQ(errorOf(flag).rfind("fazolt:api:DiagnosticMode: DiagnosticModes::nanInput: 1 is no mode", 0), 0u);
    fazolt::RowChecks checks;
    checks.nonFiniteOutput = static_cast<fazolt::Report>(4);
    orvane::CallOutcome refused = dimmer.checkedCall(rows.toValue(), dimmer.diagnostics({}), checks);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->identifier(), fazolt::ids::apiDiagnosticMode);
    EXPECT_EQ(refused.error->message().rfind("RowChecks::nonFiniteOutput: 4 is no mode", 0), 0u)
        << refused.error->message();
    // Too many columns is the caller's fault, not the system's.
    try {
        dimmer.evaluate(fazolt::Matrix::fromRows({{30, 0.9, 1}}));
        ADD_FAILURE() << "no error";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.identifier() + ": " + e.message(),
                  "fazolt:input:ColumnCount: the data has 3 columns, the system 2 inputs");
    }
}

// Threads evaluating at once get what one thread gets, bit for bit: two on
// one system (each call going back into C++ host functions), one on another
// system, one on a system with a Lua AND, a batch split across threads,
// while another thread registers and unregisters a function; each thread's
// calls leave nothing allocated on that thread. (Also run by the
// ThreadSanitizer build of scripts/ci-extra.sh.)
TEST_F(Api, ConcurrentEvaluationsMatchSequential) {
    const fazolt::Matrix inputs = dimmerInputs(2000);
    fazolt::System plain = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "min")"), module_);
    fazolt::System custom =
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct", "orMethod": "cppProbor")"), module_);
    const std::string script = testing::TempDir() + "api_concurrent.lua";
    std::ofstream(script) << "function luaConcurrentMin(v) return math.min(table.unpack(v)) end\n";
    fazolt::registerLuaFunctions(script);
    fazolt::System lua = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "luaConcurrentMin")"), module_);
    const fazolt::Evaluation expectedPlain = plain.evaluate(inputs);
    const fazolt::Evaluation expectedCustom = custom.evaluate(inputs);
    ASSERT_EQ(expectedCustom.outputs.rows, 2000);
    EXPECT_TRUE(sameEvaluation(lua.evaluate(inputs), expectedPlain));
    fazolt::DiagnosticModes split;
    split.threads = 2;
    EXPECT_TRUE(sameEvaluation(lua.evaluate(inputs, split), expectedPlain));
    std::atomic<int> mismatches{0}, blocksLeft{0};
    auto work = [&](const fazolt::System *system, const fazolt::Evaluation *expected) {
        for (int k = 0; k < 3; ++k) {
            int64_t before = orvane::threadAllocStats().liveBlocks;
            if (!sameEvaluation(system->evaluate(inputs), *expected)) ++mismatches;
            if (orvane::threadAllocStats().liveBlocks != before) ++blocksLeft;
        }
    };
    std::atomic<bool> isDone{false};
    std::thread registering([&] {
        while (!isDone) {
            fazolt::registerFunction("cppMeanwhile", productOfValues);
            fazolt::unregisterFunction("cppMeanwhile");
        }
    });
    std::thread first(work, &custom, &expectedCustom);
    std::thread second(work, &custom, &expectedCustom);
    std::thread other(work, &plain, &expectedPlain);
    std::thread withLua(work, &lua, &expectedPlain);
    first.join();
    second.join();
    other.join();
    withLua.join();
    isDone = true;
    registering.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(blocksLeft.load(), 0);
}

// Evaluators of one system, one per thread and made on those threads from
// the same System (the record prepared once, by whichever comes first), give
// each row the batch's bits; so does a system with custom functions, whose
// rows go through host calls.
TEST_F(Api, EvaluatorsOnSeveralThreadsMatchTheBatch) {
    const fazolt::Matrix inputs = dimmerInputs(500);
    fazolt::System plain = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "min")"), module_);
    fazolt::System custom =
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct", "orMethod": "cppProbor")"), module_);
    std::atomic<int> mismatches{0};
    auto work = [&](const fazolt::System *system) {
        const fazolt::Evaluation expected = system->evaluate(inputs);
        fazolt::Evaluator evaluator(*system);
        double out[1];
        for (int64_t r = 0; r < inputs.rows; ++r) {
            const double row[2] = {inputs.at(r, 0), inputs.at(r, 1)};
            (void)evaluator.evaluate(row, out);
            if (std::bit_cast<uint64_t>(out[0]) != std::bit_cast<uint64_t>(expected.outputs.at(r, 0)) &&
                !(std::isnan(out[0]) && std::isnan(expected.outputs.at(r, 0))))
                ++mismatches;
        }
    };
    std::thread threads[4] = {std::thread(work, &plain), std::thread(work, &plain), std::thread(work, &custom),
                              std::thread(work, &custom)};
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// A custom function may evaluate another system on its own thread and use
// the result; a system whose function evaluates it again stops at a depth.
TEST_F(Api, CustomFunctionEvaluatesAnotherSystemAndACycleStops) {
    fazolt::System inner = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "min")"), module_);
    const fazolt::Matrix innerRow = fazolt::Matrix::fromRows({{30, 0.9}});
    const double innerOutput = inner.evaluate(innerRow).outputs.at(0, 0);
    std::atomic<int> mismatches{0};
    fazolt::registerFunction("cppNested", [&](int numResults, std::vector<orvane::Value> &results,
                                              const std::vector<orvane::Value> &arguments) {
        if (inner.evaluate(innerRow).outputs.at(0, 0) != innerOutput) ++mismatches;
        productOfValues(numResults, results, arguments);
    });
    const fazolt::Matrix inputs = dimmerInputs(50);
    fazolt::System outer = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppNested")"), module_);
    fazolt::System product = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct")"), module_);
    EXPECT_TRUE(sameEvaluation(outer.evaluate(inputs), product.evaluate(inputs)));
    EXPECT_EQ(mismatches.load(), 0);

    // Split across threads at every level, the fresh threads must not start
    // counting afresh.
    std::optional<fazolt::System> cycle;
    const fazolt::Matrix manyRows = dimmerInputs(600);
    fazolt::DiagnosticModes split;
    split.threads = 2;
    fazolt::registerFunction("cppCycle", [&](int numResults, std::vector<orvane::Value> &results,
                                             const std::vector<orvane::Value> &arguments) {
        cycle->evaluate(manyRows, split);
        productOfValues(numResults, results, arguments);
    });
    cycle = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppCycle")"), module_);
    const int64_t before = orvane::allocStats().liveBlocks;
    try {
        cycle->evaluate(manyRows, split);
        ADD_FAILURE() << "no error";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.identifier(), "fazolt:api:NestedTooDeep");
        EXPECT_EQ(e.message().rfind("evaluations nested 32 deep", 0), 0u) << e.message();
        EXPECT_EQ(e.message().find(" (in "), std::string::npos) << "said once, not once per level";
    }
    EXPECT_EQ(orvane::allocStats().liveBlocks, before);
    EXPECT_EQ(orvane::heapReferenceDepth(), 0);

    // Nor must a cycle that evaluates on a fresh thread at each level, which
    // no one thread's depth counts.
    std::optional<fazolt::System> hop;
    fazolt::registerFunction("cppHop", [&](int numResults, std::vector<orvane::Value> &results,
                                           const std::vector<orvane::Value> &arguments) {
        std::exception_ptr failure;
        std::thread([&] {
            try {
                hop->evaluate(innerRow);
            } catch (...) {
                failure = std::current_exception();
            }
        }).join();
        if (failure) std::rethrow_exception(failure);
        productOfValues(numResults, results, arguments);
    });
    hop = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppHop")"), module_);
    const int64_t beforeHop = orvane::allocStats().liveBlocks;
    try {
        hop->evaluate(innerRow);
        ADD_FAILURE() << "no error";
    } catch (const fazolt::Error &e) {
        EXPECT_EQ(e.id(), "fazolt:api:NestedTooDeep");
        EXPECT_EQ(e.message().rfind("1024 evaluations in progress at once: ", 0), 0u) << e.message();
    }
    EXPECT_EQ(orvane::allocStats().liveBlocks, beforeHop);
    fazolt::unregisterFunction("cppNested");
    fazolt::unregisterFunction("cppCycle");
    fazolt::unregisterFunction("cppHop");
}

// Rows split across threads give one thread's outputs and warnings, worded
// and ordered alike (more than the worded 20 of an identifier, NaN inputs
// first, rows named in the whole batch), and its first error.
TEST_F(Api, SplitAcrossThreadsGivesOneThreadsOutcome) {
    fazolt::System dimmer = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "cppProduct")"), module_);
    fazolt::Matrix inputs = dimmerInputs(3000);
    for (int64_t r : {1500, 2999}) inputs.at(r, 1) = std::nan("");  // not in the first part
    auto outcomeOf = [&](fazolt::DiagnosticModes modes) {
        std::string text;
        try {
            fazolt::Evaluation e = dimmer.evaluate(inputs, modes);
            for (const fazolt::Warning &w : e.warnings) text += w.identifier + ": " + w.message + "\n";
            EXPECT_EQ(e.outputs.rows, inputs.rows);
            uint64_t hash = 14695981039346656037u;  // FNV-1a of the bits
            for (const fazolt::Matrix *m : {&e.outputs, &e.firingStrengths})
                for (double v : m->data) {
                    uint64_t b;
                    std::memcpy(&b, &v, sizeof b);
                    hash = (hash ^ b) * 1099511628211u;
                }
            text += "bits " + std::to_string(hash);
        } catch (const orvane::HostError &e) {
            text += "error " + e.identifier() + ": " + e.message();
        }
        return text;
    };
    for (fazolt::DiagnosticModes modes :
         {fazolt::DiagnosticModes{},
          fazolt::DiagnosticModes{REPORT_ERROR, REPORT_WARNING, REPORT_WARNING, REPORT_WARNING, REPORT_WARNING},
          fazolt::DiagnosticModes{REPORT_WARNING, REPORT_WARNING, REPORT_WARNING, REPORT_ERROR, REPORT_WARNING}}) {
        const std::string alone = outcomeOf(modes);
        if (modes.nanInput == REPORT_ERROR) {
            EXPECT_NE(alone.find("error fazolt:inputs:NaN: row 1500: input"), std::string::npos) << alone;
        }
        if (modes.outOfRangeInput == REPORT_WARNING && modes.nanInput == REPORT_WARNING) {
            EXPECT_NE(alone.find("fazolt:inputs:NaN: row 2999: input \"motion\" is NaN"), std::string::npos);
        }
        for (unsigned threads : {2u, 3u, 0u}) {
            modes.threads = threads;
            EXPECT_EQ(outcomeOf(modes), alone) << threads << " threads";
        }
    }
    // A batch cut into more parts than threads.
    inputs = dimmerInputs(140000);
    const std::string alone = outcomeOf({});
    fazolt::DiagnosticModes split;
    split.threads = 2;
    EXPECT_EQ(outcomeOf(split), alone);
}

// The batch entry that writes into the caller's buffer gives the matrix
// entry's outputs, warnings (worded across blocks as in one call, rows named
// in the whole batch), intermediates and errors, in either layout and by
// name; a buffer of the wrong size is refused by name before anything is
// written.
TEST_F(Api, BatchIntoCallersBufferMatchesMatrixEntry) {
    fazolt::System dimmer = fazolt::System::fromFile(kExamples + "/dimmer/dimmer.json", module_);
    fazolt::Matrix inputs = dimmerInputs(140000);  // three blocks
    inputs.at(70000, 1) = std::nan("");
    const fazolt::Evaluation expected = dimmer.evaluate(inputs);
    const auto n = static_cast<size_t>(inputs.rows);
    std::vector<double> rowMajor(2 * n), daylight(n), motion(n);
    for (size_t r = 0; r < n; ++r) {
        rowMajor[2 * r] = daylight[r] = inputs.data[r];
        rowMajor[2 * r + 1] = motion[r] = inputs.data[n + r];
    }
    auto sameWarnings = [&](const std::vector<fazolt::Warning> &w) {
        bool same = w.size() == expected.warnings.size();
        for (size_t k = 0; same && k < w.size(); ++k)
            same = w[k].identifier == expected.warnings[k].identifier && w[k].message == expected.warnings[k].message;
        return same;
    };
    std::vector<double> out(n, -1.0);
    fazolt::Intermediates last;
    EXPECT_TRUE(sameWarnings(dimmer.evaluate(inputs.data, 2, fazolt::Layout::ColumnMajor, out, {}, &last)));
    EXPECT_EQ(std::memcmp(out.data(), expected.outputs.data.data(), n * sizeof(double)), 0);
    EXPECT_TRUE(sameBits(last.firingStrengths, expected.firingStrengths));
    EXPECT_TRUE(sameBits(last.aggregatedOutputs, expected.aggregatedOutputs));
    EXPECT_TRUE(sameBits(last.ruleInputValues, expected.ruleInputValues));
    std::fill(out.begin(), out.end(), -1.0);
    EXPECT_TRUE(sameWarnings(dimmer.evaluate(rowMajor, 2, fazolt::Layout::RowMajor, out)));
    EXPECT_EQ(std::memcmp(out.data(), expected.outputs.data.data(), n * sizeof(double)), 0);
    std::fill(out.begin(), out.end(), -1.0);
    EXPECT_TRUE(sameWarnings(dimmer.evaluate({{"motion", motion}, {"daylight", daylight}}, out)));
    EXPECT_EQ(std::memcmp(out.data(), expected.outputs.data.data(), n * sizeof(double)), 0);
    EXPECT_EQ(expected.warnings.front().message, "row 70000: input \"motion\" is NaN");  // inputs first

    auto errorOf = [&](const std::function<void()> &evaluate) {
        try {
            evaluate();
        } catch (const fazolt::Error &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    std::vector<double> small(3, -1.0);
    EXPECT_EQ(errorOf([&] { dimmer.evaluate(rowMajor, 2, fazolt::Layout::RowMajor, small); }),
              "fazolt:api:Size: out: holds 3 values, 140000 rows x 1 outputs need 140000");
    EXPECT_EQ(small[0], -1.0);
    EXPECT_EQ(errorOf([&] { dimmer.evaluate(rowMajor, 3, fazolt::Layout::RowMajor, out); }),
              "fazolt:api:Size: rows: 280000 values do not make whole rows of 3 columns");
    EXPECT_EQ(errorOf([&] {
                  dimmer.evaluate({{"daylight", daylight}, {"motion", small}}, out);
              }),
              "fazolt:api:Size: inputs: \"motion\" has 3 values, \"daylight\" 140000");
    EXPECT_EQ(errorOf([&] {
                  dimmer.evaluate({{"daylight", daylight}, {"sun", motion}}, out);
              }),
              "fazolt:api:InputNames: inputs: \"sun\" is not an input");
    EXPECT_EQ(errorOf([&] {
                  dimmer.evaluate({{"daylight", daylight}}, out);
              }),
              "fazolt:api:InputNames: inputs: input \"motion\" is not given");
    fazolt::DiagnosticModes strict;
    strict.nanInput = fazolt::REPORT_ERROR;
    try {
        dimmer.evaluate(rowMajor, 2, fazolt::Layout::RowMajor, out, strict);
        ADD_FAILURE() << "no error";
    } catch (const fazolt::Error &e) {
        EXPECT_EQ(e.id(), fazolt::ids::inputsNaN);
        EXPECT_EQ(e.where().row, 70000);
    }
    fazolt::Matrix two = fazolt::Matrix::zeros(2, 2);
    EXPECT_EQ(errorOf([&] { two.at(2, 0) = 1.0; }),
              "fazolt:api:OutOfRange: element (2, 0) of a 2 x 2 matrix holding 4 values");
}

// fazolt::Error carries the identifier and where the fault is; the record
// handed out, or handed in, is a copy: changing it changes no output.
TEST_F(Api, ErrorsSayWhereAndRecordsAreCopies) {
    try {
        fazolt::System::fromDescription(dimmerWith(R"("andMethod": 7)"), module_);
        ADD_FAILURE() << "no error";
    } catch (const fazolt::Error &e) {
        EXPECT_EQ(e.id(), fazolt::ids::descriptionInvalid);
        EXPECT_EQ(e.where().path, "andMethod");
        EXPECT_EQ(std::string(e.what()).rfind("fazolt:description:Invalid: andMethod: ", 0), 0u) << e.what();
    }

    fazolt::System dimmer = fazolt::System::fromFile(kExamples + "/dimmer/dimmer.json", module_);
    const fazolt::Matrix rows = dimmerInputs(20);
    const fazolt::Evaluation before = dimmer.evaluate(rows);
    orvane::Value record = dimmer.record();
    for (int k = 0; k < 4; ++k) record.field(0, "weight").pr()[k] = 0.0;
    dimmer.record().field(0, "weight").pr()[3] = 0.1;
    EXPECT_TRUE(sameEvaluation(dimmer.evaluate(rows), before));
    fazolt::System raw = fazolt::System::fromRecord(dimmer.record(), module_);
    orvane::Value handedIn = dimmer.record();
    fazolt::System fromCopy = fazolt::System::fromRecord(handedIn, module_);
    handedIn.field(0, "weight").pr()[0] = 0.0;
    EXPECT_TRUE(sameEvaluation(fromCopy.evaluate(rows), raw.evaluate(rows)));
    EXPECT_EQ(fromCopy.numInputs(), 2u);
    EXPECT_EQ(fromCopy.numOutputs(), 1u);
}

// Typed functions in every role give the bits of the built-in methods they
// reimplement; their results are checked for their role, what they throw
// stops the evaluation, and a name lives as long as its Registration.
TEST_F(Api, TypedFunctionsServeEveryRole) {
    const fazolt::Matrix inputs = dimmerInputs(300);
    fazolt::System builtIn = fazolt::System::fromDescription(
        dimmerWith(R"("andMethod": "prod", "orMethod": "probor", "impMethod": "min", "aggMethod": "max")"), module_);
    const fazolt::Evaluation expected = builtIn.evaluate(inputs);
    fazolt::Functions functions;
    int64_t defuzzCalls = 0;
    bool isSampled = true;
    {
        fazolt::Registration product = functions.connective("typedProduct", [](std::span<const double> v) {
            double y = v.empty() ? 1.0 : v[0];
            for (size_t k = 1; k < v.size(); ++k) y = y * v[k];
            return y;
        });
        fazolt::Registration probor = functions.connective("typedProbor", [](std::span<const double> v) {
            double acc = v.empty() ? 0.0 : v[0];
            for (size_t k = 1; k < v.size(); ++k) acc = (acc + v[k]) - acc * v[k];
            return acc;
        });
        fazolt::Registration clip = functions.implication(
            "typedMin", [](double degree, double strength) { return std::min(degree, strength); });
        fazolt::Registration largest = functions.aggregation("typedMax", [](std::span<const double> v) {
            double acc = v[0];
            for (double x : v) acc = x > acc ? x : acc;
            return acc;
        });
        fazolt::System typed = fazolt::System::fromDescription(
            dimmerWith(R"("andMethod": "typedProduct", "orMethod": "typedProbor", "impMethod": "typedMin",)"
                       R"( "aggMethod": "typedMax")"),
            module_);
        EXPECT_TRUE(sameEvaluation(typed.evaluate(inputs), expected));

        fazolt::Registration fixed =
            functions.defuzzifier("typedFixed", [&](std::span<const double> x, std::span<const double> degrees) {
                ++defuzzCalls;
                isSampled = isSampled && x.size() == 101 && degrees.size() == 101;
                return 42.5;
            });
        fazolt::System constant =
            fazolt::System::fromDescription(dimmerWith(R"("defuzzMethod": "typedFixed", "numSamples": 101)"), module_);
        EXPECT_EQ(constant.evaluate(inputs).outputs.at(299, 0), 42.5);
    }
    EXPECT_GE(defuzzCalls, 300);  // more when rows are evaluated again to name them in warnings
    EXPECT_TRUE(isSampled);
    EXPECT_FALSE(orvane::hasFunction("typedProduct"));  // gone with its Registration

    std::string description = dimmerWith("\"andMethod\": \"min\"");
    description.replace(description.find("\"zmf\""), 5, "\"typedRamp\"");
    auto errorOf = [&](double high) {
        fazolt::Registration ramp = functions.membership("typedRamp", [high](double x, std::span<const double> p) {
            if (std::isnan(x)) throw std::runtime_error("no NaN here");
            return x <= p[0] ? high : 0.0;
        });
        fazolt::System system = fazolt::System::fromDescription(description, module_);
        const fazolt::Matrix rows = fazolt::Matrix::fromRows({{30, 0.05}, {30, std::nan("")}});
        const int64_t before = orvane::allocStats().liveBlocks;
        try {
            system.evaluate(rows, kSilent);
        } catch (const fazolt::Error &e) {
            // The module's storage is released on the way out.
            EXPECT_EQ(orvane::allocStats().liveBlocks, before);
            EXPECT_EQ(orvane::heapReferenceDepth(), 0);
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf(1.5).rfind("fazolt:api:FunctionResult: function typedRamp as membership function of input "
                                 "\"motion\" term \"still\": returned 1.5, a degree is a number from 0 to 1",
                                 0),
              0u);
    EXPECT_EQ(errorOf(1.0).rfind("fazolt:api:FunctionError: function typedRamp threw: no NaN here", 0), 0u);
    // An application's own error keeps its identifier and message, with its
    // row; the module's place is for debugging, not said once per level of
    // a nested evaluation.
    fazolt::Registration sensor = functions.membership("typedRamp", [](double x, std::span<const double>) {
        if (x == 0.875) throw fazolt::Error("app:sensor", "sensor fault");
        return 0.0;
    });
    fazolt::System reading = fazolt::System::fromDescription(description, module_);
    const fazolt::Matrix rows = fazolt::Matrix::fromRows({{30, 0.25}, {30, 0.5}, {30, 0.875}, {30, 0.75}});
    fazolt::Registration nests = functions.connective("typedNests", [&](std::span<const double> v) {
        reading.evaluate(rows);
        return v[0];
    });
    fazolt::System outer = fazolt::System::fromDescription(dimmerWith(R"("andMethod": "typedNests")"), module_);
    for (const auto &[system, row] : {std::pair{&reading, 2}, std::pair{&outer, 0}}) {
        try {
            system->evaluate(rows);
            ADD_FAILURE() << "no error";
        } catch (const fazolt::Error &e) {
            EXPECT_EQ(std::string(e.what()), "app:sensor: sensor fault");
            EXPECT_EQ(e.where().row, row);
            EXPECT_EQ(e.moduleLocation().rfind("in evaluate", 0), 0u) << e.moduleLocation();
        }
    }
    try {
        fazolt::Registration taken = functions.connective("sum", [](std::span<const double>) { return 0.0; });
        ADD_FAILURE() << "no error";
    } catch (const fazolt::Error &e) {
        EXPECT_EQ(e.id(), fazolt::ids::apiNameTaken);
    }
    EXPECT_TRUE(orvane::hasFunction("sum"));
}

// One list of identifiers: every one the API, the tool and the Python
// package spell out is in it, and the guide's table lists them all.
TEST(ErrorIds, OneListCoversTheSourcesAndTheGuide) {
    std::set<std::string> listed(std::begin(fazolt::ids::all), std::end(fazolt::ids::all));
    EXPECT_EQ(listed.size(), std::size(fazolt::ids::all)) << "an identifier listed twice";
    const std::string guide = readFile(FAZOLT_SOURCE_DIR "/docs/errors.md");
    for (const std::string &id : listed) EXPECT_NE(guide.find("`" + id + "`"), std::string::npos) << id;
    const std::regex literal("\"(fazolt:[A-Za-z]+:[A-Za-z]+)\"");
    for (const char *folder : {"/api", "/cli", "/python/src", "/python/fazolt"}) {
        for (const auto &entry : std::filesystem::directory_iterator(FAZOLT_SOURCE_DIR + std::string(folder))) {
            std::string text = readFile(entry.path().string());
            for (auto m = std::sregex_iterator(text.begin(), text.end(), literal); m != std::sregex_iterator(); ++m)
                EXPECT_TRUE(listed.count((*m)[1])) << (*m)[1] << " in " << entry.path() << " is not in fazolt::ids";
        }
    }
}

}  // namespace
