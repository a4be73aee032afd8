// Every allocation and every host call of a complete evaluation failing in
// turn. For each reference system the evaluation's allocation requests N and
// counted host calls H are measured on a reference call; then request k
// (k = 1..N) fails once, and fails from k on, and host call k (k = 1..H)
// raises, gives back a struct, and gives back a 2 x 3 matrix. After each
// unwind: the expected error, an empty heap-reference stack, no host value
// left to the boundary, not a block or byte more live than before the call,
// and a next call whose results and warnings match the reference bit for bit.
//
// The guard bytes around each block (a write past the end aborts) are
// covered in orvane_core_test.
#include <gtest/gtest.h>

#include <orvane/faults.h>
#include <orvane/host.h>

#include "reference_systems.h"
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using reference::ReferenceSystem;
using testing_support::module;

// ---- What a call gave back, in a form that compares bit for bit: the
// host-value JSON writes each double as the shortest text that reads back to
// the same bits (so -0 differs from 0), and NaN as NaN.

struct Snapshot {
    std::optional<std::string> errorIdentifier;
    std::string errorMessage;
    std::vector<std::string> results;
    std::vector<std::string> warnings;

    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshotOf(const orvane::CallOutcome &outcome) {
    Snapshot s;
    if (outcome.error) {
        s.errorIdentifier = outcome.error->identifier();
        s.errorMessage = outcome.error->message();
    }
    for (const orvane::Value &r : outcome.results) s.results.push_back(orvane::toJson(r));
    for (const orvane::Warning &w : outcome.warnings) {
        std::string text = w.identifier + " | " + w.message;
        for (const orvane::Value &a : w.arguments) text += " | " + orvane::toJson(a);
        s.warnings.push_back(text);
    }
    return s;
}

std::string describe(const Snapshot &s) {
    std::string text = s.errorIdentifier ? "error " + *s.errorIdentifier + ": " + s.errorMessage : "no error";
    for (const std::string &r : s.results) text += "\n  result " + r;
    for (const std::string &w : s.warnings) text += "\n  warning " + w;
    return text;
}

constexpr int NUM_RESULTS = 6;

struct Measured {
    Snapshot snapshot;
    int64_t allocations = 0;
    int64_t hostCalls = 0;
};

Measured measure(const std::vector<orvane::Value> &arguments) {
    Measured m;
    int64_t allocationsBefore = orvane::allocStats().totalAllocations;
    int64_t hostCallsBefore = orvane::hostCallCount();
    orvane::CallOutcome outcome = module()->call(NUM_RESULTS, arguments);
    m.allocations = orvane::allocStats().totalAllocations - allocationsBefore;
    m.hostCalls = orvane::hostCallCount() - hostCallsBefore;
    m.snapshot = snapshotOf(outcome);
    return m;
}

// The error a faulted call must end with.
enum class Expect {
    OutOfMemory,      // ZORB:runTime:OutOfMemory
    InjectedRaise,    // Orvane:injected:HostCall
    WrongValueError,  // a check naming the value read, or a failed conversion
};

// A check of a host function's result names what was read: the function's
// result ("feval", "length", "transpose") or the formatted text ("tmpStr").
// A wrong value handed straight on to "transpose" or "length" is refused by
// that function's own argument check.
bool isWrongValueError(const orvane::HostError &e) {
    const std::string &id = e.identifier();
    if (id == "Orvane:coerce:NotConvertible") return true;
    if (id.rfind("Orvane:transpose:", 0) == 0 || id.rfind("Orvane:length:", 0) == 0) return true;
    if (id != "Orvane:checks:WrongClass" && id != "Orvane:checks:WrongSize") return false;
    for (const char *name : {"feval:", "length:", "transpose:", "tmpStr:"}) {
        if (e.message().rfind(name, 0) == 0) return true;
    }
    return false;
}

// Runs one faulted call (arm() sets the switch just before it) and checks
// what the unwind left. Returns whether the fault took effect.
template <typename Arm, typename Disarm>
bool checkFaultedCall(const ReferenceSystem &system, const std::vector<orvane::Value> &arguments,
                      const Snapshot &reference, Expect expect, const std::string &where, Arm &&arm, Disarm &&disarm,
                      bool injected) {
    const orvane::AllocStats before = orvane::allocStats();
    bool tookEffect = false;
    {
        arm();
        orvane::CallOutcome outcome = module()->call(NUM_RESULTS, arguments);
        tookEffect = injected || orvane::hostFaultInjected();  // read before disarming clears it
        disarm();
        EXPECT_EQ(orvane::heapReferenceDepth(), 0) << where;
        EXPECT_EQ(outcome.leakedValues, 0) << where;
        if (!tookEffect) {
            // A wrong value where the call gives back none: nothing changes.
            EXPECT_EQ(snapshotOf(outcome), reference) << where << "\n" << describe(snapshotOf(outcome));
        } else if (!outcome.error) {
            ADD_FAILURE() << where << ": the fault did not end the call with an error";
        } else if (expect == Expect::OutOfMemory) {
            EXPECT_EQ(outcome.error->identifier(), "ZORB:runTime:OutOfMemory")
                << where << ": " << outcome.error->message();
        } else if (expect == Expect::InjectedRaise) {
            EXPECT_EQ(outcome.error->identifier(), "Orvane:injected:HostCall")
                << where << ": " << outcome.error->message();
        } else {
            EXPECT_TRUE(isWrongValueError(*outcome.error))
                << where << ": " << outcome.error->identifier() << ": " << outcome.error->message();
        }
    }
    // With the outcome dropped, only what the arguments own stays live.
    const orvane::AllocStats after = orvane::allocStats();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks) << where << ": blocks left behind";
    EXPECT_EQ(after.liveBytes, before.liveBytes) << where << ": bytes left behind";

    Snapshot next = snapshotOf(module()->call(NUM_RESULTS, arguments));
    EXPECT_EQ(next, reference) << where << ": the next call differs from the reference\n" << describe(next);
    (void)system;
    return tookEffect;
}

class UnwindReleases : public testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite() { functions_ = new reference::HostFunctionsRegistered(); }
    static void TearDownTestSuite() {
        delete functions_;
        functions_ = nullptr;
    }

    // The reference outcome, measured on a second call so that anything a
    // first call sets up once is not counted; the count must then be stable.
    void SetUp() override {
        system_ = &reference::referenceSystems()[GetParam()];
        arguments_ = reference::callArguments(*system_);
        (void)module()->call(NUM_RESULTS, arguments_);
        reference_ = measure(arguments_);
        Measured again = measure(arguments_);
        ASSERT_EQ(again.allocations, reference_.allocations) << "allocation count varies between calls";
        ASSERT_EQ(again.hostCalls, reference_.hostCalls) << "host call count varies between calls";
        ASSERT_EQ(again.snapshot, reference_.snapshot);
        ASSERT_GT(reference_.allocations, 0);
        ASSERT_GT(reference_.hostCalls, 0);
    }

    static reference::HostFunctionsRegistered *functions_;
    const ReferenceSystem *system_ = nullptr;
    std::vector<orvane::Value> arguments_;
    Measured reference_;
};

reference::HostFunctionsRegistered *UnwindReleases::functions_ = nullptr;

TEST_P(UnwindReleases, EveryAllocationFailingOnceOrForGood) {
    const int64_t n = reference_.allocations;
    for (bool persistent : {false, true}) {
        for (int64_t k = 1; k <= n; ++k) {
            std::string where = system_->name + (persistent ? ", allocations failing from " : ", allocation ") +
                                std::to_string(k) + " of " + std::to_string(n);
            checkFaultedCall(
                *system_, arguments_, reference_.snapshot, Expect::OutOfMemory, where,
                [&] { orvane::failAllocationAt(k, persistent); }, [] { orvane::failAllocationAt(0); }, true);
            if (HasFailure()) return;  // one broken unwind is enough to read
        }
    }
    std::printf("[ unwind   ] %s: %lld allocation requests, each failed once and for good\n", system_->name.c_str(),
                static_cast<long long>(n));
}

TEST_P(UnwindReleases, EveryHostCallRaisingOrGivingTheWrongValue) {
    const int64_t n = reference_.hostCalls;
    struct FaultCase {
        orvane::HostFault fault;
        const char *name;
        Expect expect;
    };
    const FaultCase cases[] = {
        {orvane::HostFault::Raise, "raising", Expect::InjectedRaise},
        {orvane::HostFault::WrongClass, "giving a struct", Expect::WrongValueError},
        {orvane::HostFault::WrongShape, "giving a 2x3 matrix", Expect::WrongValueError},
    };
    int64_t wrongValues = 0;
    for (const FaultCase &c : cases) {
        for (int64_t k = 1; k <= n; ++k) {
            std::string where =
                system_->name + ", host call " + std::to_string(k) + " of " + std::to_string(n) + " " + c.name;
            bool tookEffect = checkFaultedCall(
                *system_, arguments_, reference_.snapshot, c.expect, where, [&] { orvane::failHostCallAt(k, c.fault); },
                [] { orvane::failHostCallAt(0, orvane::HostFault::None); }, false);
            if (c.fault == orvane::HostFault::Raise) {
                EXPECT_TRUE(tookEffect) << where;
            } else if (tookEffect) {
                ++wrongValues;
            }
            if (HasFailure()) return;
        }
    }
    // Built-in methods and silent diagnostics call no host function by name
    // for a result; these systems do.
    if (system_->name == "hostMethods" || system_->name == "diagnosticsWarn") {
        EXPECT_GT(wrongValues, 0);
    }
    std::printf("[ unwind   ] %s: %lld host calls, each raising; %lld wrong values given back (both kinds)\n",
                system_->name.c_str(), static_cast<long long>(n), static_cast<long long>(wrongValues));
}

INSTANTIATE_TEST_SUITE_P(ReferenceSystems, UnwindReleases,
                         testing::Range<size_t>(0, reference::referenceSystems().size()),
                         [](const testing::TestParamInfo<size_t> &param) {
                             return reference::referenceSystems()[param.param].name;
                         });

// ---- The reference systems evaluate as intended: otherwise the loops above
// would walk paths other than the ones they are meant to cover.

TEST(ReferenceSystems, DiagnosticsFireWhereTheRowsSay) {
    reference::HostFunctionsRegistered functions;
    struct Row {
        const char *system;
        const char *errorIdentifier;  // empty: warnings only
        std::vector<std::string> warnings;
    };
    const Row rows[] = {
        {"diagnosticsWarn",
         "",
         {"diagFazolt_OutOfRangeInput", "warnFazolt_NoRuleFired", "warnFazolt_NoRuleFired",
          "warnFazolt_ZeroMembershipValue"}},
        {"diagnosticsOutOfRangeError", "diagFazolt_OutOfRangeInput", {}},
        {"diagnosticsNoRuleFiredError", "errFazolt_NoRuleFired", {}},
        {"diagnosticsEmptySetError", "errFazolt_ZeroMembershipValue", {}},
        {"hostMethods", "", {}},
    };
    for (const Row &row : rows) {
        const ReferenceSystem *s = nullptr;
        for (const ReferenceSystem &candidate : reference::referenceSystems())
            if (candidate.name == row.system) s = &candidate;
        ASSERT_NE(s, nullptr) << row.system;
        orvane::CallOutcome outcome = testing_support::callChecked(NUM_RESULTS, reference::callArguments(*s));
        if (*row.errorIdentifier == '\0') {
            ASSERT_FALSE(outcome.error) << row.system << ": " << outcome.error->message();
        } else {
            ASSERT_TRUE(outcome.error) << row.system;
            EXPECT_EQ(outcome.error->identifier(), row.errorIdentifier) << row.system;
        }
        std::vector<std::string> identifiers;
        for (const orvane::Warning &w : outcome.warnings) identifiers.push_back(w.identifier);
        EXPECT_EQ(identifiers, row.warnings) << row.system;
    }
}

// ---- The fault switch itself: counts only what a module calls, fires once,
// and applies a wrong value only where a value is given back.

TEST(HostCallFaultSwitch, FiresOnceOnTheCountedCallOnly) {
    // The host's own value makers are not counted.
    int64_t count = orvane::hostCallCount();
    orvane::Value made = orvane::Value::doubleScalar(1.5);
    EXPECT_EQ(orvane::hostCallCount(), count);

    orvane::failHostCallAt(2, orvane::HostFault::Raise);
    int64_t madeBefore = 0;
    orvane::BoundaryOutcome outcome = orvane::runInCall([&](zorbTLS *) {
        zorbArray *first = zorbCreateDoubleScalar(1.0);  // call 1: fine
        zorbDestroyArray(&first);
        madeBefore = 1;
        zorbArray *second = zorbCreateDoubleScalar(2.0);  // call 2: raises
        zorbDestroyArray(&second);
        madeBefore = 2;
    });
    orvane::failHostCallAt(0, orvane::HostFault::None);
    EXPECT_EQ(madeBefore, 1);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "Orvane:injected:HostCall");
    EXPECT_EQ(outcome.leakedValues, 0);

    // Disarmed: the same calls run through.
    outcome = orvane::runInCall([&](zorbTLS *) {
        zorbArray *v = zorbCreateDoubleScalar(2.0);
        zorbDestroyArray(&v);
    });
    EXPECT_FALSE(outcome.error);
}

TEST(HostCallFaultSwitch, WrongValuesReplaceResultOneOfACallByName) {
    struct Case {
        orvane::HostFault fault;
        int numResults;
        bool applied;
        const char *className;
        std::vector<int64_t> dims;
    };
    const Case cases[] = {
        {orvane::HostFault::WrongClass, 1, true, "struct", {1, 1}},
        {orvane::HostFault::WrongShape, 1, true, "double", {2, 3}},
        {orvane::HostFault::WrongShape, 0, false, "", {}},  // no result to replace
    };
    for (const Case &c : cases) {
        std::string className;
        std::vector<int64_t> dims;
        orvane::failHostCallAt(1, c.fault);
        orvane::BoundaryOutcome outcome = orvane::runInCall([&](zorbTLS *tls) {
            zorbArray *arguments[1] = {orvane::Value::doubleMatrix(1, 2, {1.0, 2.0}).release()};
            zorbArray *result = nullptr;
            zorbCallOrvane(tls, c.numResults, &result, 1, arguments, "sum", true, nullptr);
            if (result != nullptr) {
                orvane::Value held(zorbAlias(result));
                className = held.className();
                dims = held.dims();
                zorbDestroyArray(&result);
            }
        });
        bool applied = orvane::hostFaultInjected();
        orvane::failHostCallAt(0, orvane::HostFault::None);
        EXPECT_FALSE(outcome.error);
        EXPECT_EQ(outcome.leakedValues, 0);
        EXPECT_EQ(applied, c.applied);
        if (c.applied) {
            EXPECT_EQ(className, c.className);
            EXPECT_EQ(dims, c.dims);
        }
    }
}

// A Module held in a static (as testing_support::module() holds it) is
// unloaded by a static destructor and runs the module's at-exit function
// then. That used to read the host's live-context set after its own static
// destructor had run when the set was made after the Module: a fresh process
// that makes them in that order must exit cleanly (the sanitizer build sees
// the use after free).
TEST(ModuleHeldInAStatic, RunsItsAtExitFunctionAfterTheHostsStatics) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    std::string command =
        std::string("'") + self + "' --gtest_filter=ReferenceSystems.DiagnosticsFireWhereTheRowsSay > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
