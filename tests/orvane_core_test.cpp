// The stand-in host's core: values and references, the accounted allocator,
// the heap-reference stack, checks, errors by identifier, conversions and
// calls of host functions by name.
#include <orvane/faults.h>
#include <orvane/host.h>
#include <orvane/zorb.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using orvane::HostError;
using orvane::Value;

namespace {

// Runs fn and returns the host error it raised (fails the test if none).
template <typename F>
HostError raisedBy(F &&fn) {
    try {
        fn();
    } catch (const HostError &e) {
        return e;
    }
    ADD_FAILURE() << "no host error was raised";
    return HostError("", "");
}

uint64_t bitsOf(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// ---- Values and references.

TEST(OrvaneCoreValues, referencesKeepTheValueAliveUntilTheLastDrop) {
    auto before = orvane::allocStats();
    zorbArray *a = zorbCreateDoubleScalar(0x1.8p1);
    zorbArray *b = zorbAlias(a);
    EXPECT_EQ(a, b);
    zorbDestroyArray(&a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(bitsOf(*zorbQuvGetPr(b)), bitsOf(0x1.8p1));  // still alive through b
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks + 1);
    zorbDestroyArray(&b);
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes);
}

TEST(OrvaneCoreValues, structOwnsItsFieldsAndCountsNestedBlocksOnce) {
    auto before = orvane::allocStats();
    {
        Value s = Value::structMatrix({1, 2}, {"a", "b"});
        Value shared = Value::doubleMatrix(2, 1, {1.0, 2.0});
        s.setField(0, "a", shared);
        s.setField(1, "a", shared);  // the same value twice: one block
        s.setField(1, "b", Value::charRow("xy"));
        s.setField(0, "c", Value::int32Scalar(7));  // a new field
        EXPECT_EQ(s.fieldNames(), (std::vector<std::string>{"a", "b", "c"}));
        EXPECT_EQ(s.ownedBlocks(), 3);
        EXPECT_EQ(s.field(1, "b").toText(), "xy");
        EXPECT_EQ(s.field(0, "c").toDoubles(), std::vector<double>{7.0});
        EXPECT_FALSE(s.field(0, "missing"));
        Value unset = s.field(0, "b");  // an unset field reads as 0x0 double
        EXPECT_EQ(unset.className(), "double");
        EXPECT_EQ(unset.dims(), (std::vector<int64_t>{0, 0}));
    }
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes);
}

TEST(OrvaneCoreValues, extentsAreKeptAsTheHostWritesThem) {
    struct Row {
        std::vector<int64_t> given;
        std::vector<int64_t> kept;
    };
    const Row rows[] = {
        {{5}, {5, 1}},    {{}, {1, 1}},           {{2, 3, 1}, {2, 3}},       {{2, 1, 1, 1}, {2, 1}},
        {{0, 3}, {0, 3}}, {{2, 2, 2}, {2, 2, 2}}, {{1, 1, 3, 1}, {1, 1, 3}},
    };
    for (const Row &r : rows) {
        Value v = Value::numeric(ZORB_DOUBLE_CLASS, r.given);
        EXPECT_EQ(v.dims(), r.kept) << "given " << r.given.size() << " extents";
    }
    HostError e = raisedBy([] { Value::numeric(ZORB_DOUBLE_CLASS, {2, -1}); });
    EXPECT_EQ(e.identifier(), "Orvane:values:NegativeExtent");
}

TEST(OrvaneCoreValues, setDataAndDimensionsHandAModuleBlockToAValue) {
    auto before = orvane::allocStats();
    auto *block = static_cast<double *>(zorbCallocQib(16, sizeof(double)));
    block[0] = 0x1p-1;
    block[5] = -0x1p3;
    const int32_t empty[2] = {0, 0};
    zorbArray *v = zorbCreateNumericArray(2, empty, ZORB_DOUBLE_CLASS, ZORB_REAL);
    zorbQuvSetData(v, block);
    const int32_t dims[2] = {2, 3};
    zorbSetDimensions(v, dims, 2);
    Value held(v);
    EXPECT_EQ(held.dims(), (std::vector<int64_t>{2, 3}));
    EXPECT_EQ(held.ownedBlocks(), 1);
    EXPECT_EQ(bitsOf(held.toDoubles()[5]), bitsOf(-0x1p3));
    // Extents beyond the block are refused rather than read past its end.
    const int32_t tooBig[2] = {5, 4};
    EXPECT_EQ(raisedBy([&] { zorbSetDimensions(v, tooBig, 2); }).identifier(), "Orvane:values:DataTooSmall");
    EXPECT_EQ(held.dims(), (std::vector<int64_t>{2, 3}));
    held = Value();
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
}

// ---- The accounted allocator.

TEST(OrvaneCoreAllocator, accountsReturnToTheirStartingValues) {
    auto before = orvane::allocStats();
    void *a = zorbMallocQib(24);
    void *b = zorbCallocQib(3, 8);
    void *c = zorbMallocQib(0);
    auto during = orvane::allocStats();
    EXPECT_EQ(during.liveBlocks, before.liveBlocks + 3);
    EXPECT_EQ(during.liveBytes, before.liveBytes + 48);
    EXPECT_EQ(during.totalAllocations, before.totalAllocations + 3);
    const auto *zeros = static_cast<const unsigned char *>(b);
    for (int k = 0; k < 24; ++k) EXPECT_EQ(zeros[k], 0) << k;
    zorbFreeQib(nullptr, a);
    zorbFreeQib(nullptr, b);
    zorbFreeQib(nullptr, c);
    zorbFreeQib(nullptr, nullptr);
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes);

    // A big block is kept for the thread's next request of its size: the
    // new one still starts zeroed when asked and counts as new.
    const size_t big = 1 << 20;
    auto *dirty = static_cast<unsigned char *>(zorbMallocQib(big));
    std::memset(dirty, 0x77, big);
    zorbFreeQib(nullptr, dirty);
    auto *again = static_cast<const unsigned char *>(zorbCallocQib(big, 1));
    EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes + static_cast<int64_t>(big));
    size_t numNonZero = 0;
    for (size_t k = 0; k < big; ++k) numNonZero += again[k] != 0;
    EXPECT_EQ(numNonZero, 0u);
    zorbFreeQib(nullptr, const_cast<unsigned char *>(again));
    EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes);
}

TEST(OrvaneCoreAllocator, failAllocationAtRaisesOutOfMemoryOnceOrFromThenOn) {
    struct Row {
        bool persistent;
        std::vector<bool> fails;  // requests 1, 2, 3, 4 after arming at n = 2
    };
    const Row rows[] = {
        {false, {false, true, false, false}},
        {true, {false, true, true, true}},
    };
    for (const Row &r : rows) {
        auto before = orvane::allocStats();
        orvane::failAllocationAt(2, r.persistent);
        for (size_t k = 0; k < r.fails.size(); ++k) {
            bool failed = false;
            try {
                zorbFreeQib(nullptr, zorbMallocQib(8));
            } catch (const HostError &e) {
                failed = true;
                EXPECT_EQ(e.identifier(), "ZORB:runTime:OutOfMemory");
            }
            EXPECT_EQ(failed, r.fails[k]) << "persistent " << r.persistent << ", request " << k + 1;
        }
        orvane::failAllocationAt(0);
        EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
    }
    // Value makers draw from the same allocator.
    orvane::failAllocationAt(1);
    EXPECT_EQ(raisedBy([] { Value::doubleScalar(1.0); }).identifier(), "ZORB:runTime:OutOfMemory");
    orvane::failAllocationAt(0);
}

TEST(OrvaneCoreAllocatorDeathTest, aBrokenGuardAbortsWithAMessage) {
    EXPECT_DEATH(
        {
            auto *p = static_cast<unsigned char *>(zorbMallocQib(8));
            p[8] = 1;
            zorbFreeQib(nullptr, p);
        },
        "past its end");
    EXPECT_DEATH(
        {
            void *p = zorbMallocQib(8);
            zorbFreeQib(nullptr, p);
            zorbFreeQib(nullptr, p);
        },
        "freed twice|not a block|heap-use-after-free");  // under AddressSanitizer it reports first
}

// ---- The heap-reference stack.

std::vector<int> releaseOrder;
void recordRelease(void *owner) {
    int *slot = static_cast<int *>(owner);
    releaseOrder.push_back(*slot);
    *slot = 0;
}

TEST(OrvaneCoreHeapReferences, anErrorReleasesInnermostFirstAndLeavingDropsUncalled) {
    releaseOrder.clear();
    int first = 1, second = 2, third = 3, fourth = 4;
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        zorbPushHeapReferenceStack(tls, &first, &recordRelease);
        zorbPushHeapReferenceStack(tls, &second, &recordRelease);
        zorbHeapReferenceStackEnterFcn(tls);
        zorbPushHeapReferenceStack(tls, &fourth, &recordRelease);
        zorbHeapReferenceStackLeaveFcn(tls);  // fourth is dropped, not called
        EXPECT_EQ(orvane::heapReferenceDepth(), 2);
        zorbPushHeapReferenceStack(tls, &third, &recordRelease);
        orvane::raise("Test:failure", "on purpose");
    });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "Test:failure");
    EXPECT_EQ(releaseOrder, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(fourth, 4);
    EXPECT_EQ(orvane::heapReferenceDepth(), 0);
}

TEST(OrvaneCoreHeapReferences, anAllocationFailureFindsTheStackOfTheCall) {
    releaseOrder.clear();
    int owner = 9;
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        zorbPushHeapReferenceStack(tls, &owner, &recordRelease);
        orvane::failAllocationAt(1);
        zorbMallocQib(16);
    });
    orvane::failAllocationAt(0);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "ZORB:runTime:OutOfMemory");
    EXPECT_EQ(releaseOrder, std::vector<int>{9});
}

TEST(OrvaneCoreHeapReferences, registrationsLeftAtAReturnAreReportedNotCalled) {
    releaseOrder.clear();
    int owner = 5;
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        zorbPushHeapReferenceStack(tls, &owner, &recordRelease);
    });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "Orvane:module:UnbalancedHeapReferenceStack");
    EXPECT_TRUE(releaseOrder.empty());
    EXPECT_EQ(orvane::heapReferenceDepth(), 0);
}

// ---- Temporaries of a call.

TEST(OrvaneCoreBoundary, temporariesAreDestroyedOnErrorAndCountedAsLeaksOnReturn) {
    auto before = orvane::allocStats();
    void *moduleBlock = nullptr;
    auto failed = orvane::runInCall([&](zorbTLS *) {
        zorbArray *kept = zorbCreateDoubleScalar(1.0);
        zorbArray *alias = zorbAlias(kept);
        (void)alias;
        moduleBlock = zorbMallocQib(0);  // module memory is the module's to release
        orvane::raise("Test:failure", "with temporaries alive");
    });
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.leakedValues, 0);
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks + 1);
    zorbFreeQib(nullptr, moduleBlock);

    auto returned = orvane::runInCall([](zorbTLS *) {
        zorbCreateDoubleScalar(1.0);  // never dropped
        zorbArray *s = zorbCreateStructMatrix(1, 1, 0, nullptr);
        zorbSetField(s, 0, "x", zorbCreateDoubleScalar(2.0));  // handed into s
        zorbArray *dropped = zorbCreateDoubleScalar(3.0);
        zorbDestroyArray(&dropped);
    });
    EXPECT_FALSE(returned.error);
    EXPECT_EQ(returned.leakedValues, 2);  // the scalar and the struct
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
}

// ---- Checks.

const char *const FIS_FIELDS[] = {"inputMF"};
const char *const VAR_FIELDS[] = {"mf"};
const char *const MF_FIELDS[] = {"params"};

TEST(OrvaneCoreChecks, aFailingCheckNamesTheDottedPath) {
    zorbMsgIdentifier fisId = {"fis", nullptr, false};
    zorbMsgIdentifier inputMFId = {"inputMF", &fisId, false};
    zorbMsgIdentifier mfId = {"mf", &inputMFId, false};
    zorbMsgIdentifier paramsId = {"params", &mfId, false};
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        Value params = Value::doubleMatrix(2, 1, {1.0, 2.0});  // a column where a row is wanted
        const int32_t rowDims[2] = {1, -1};
        int32_t seen[2];
        zorbCheckVsBuiltIn(tls, &paramsId, params.get(), "double", false, 2, rowDims, seen);
    });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "Orvane:checks:WrongSize");
    EXPECT_EQ(outcome.error->message(),
              "fis.inputMF.mf.params: expected a real double value of size 1xN, got a double value of size 2x1.");

    struct Row {
        Value value;
        const char *identifier;
        const char *message;
    };
    Value wrongFields = Value::structMatrix({1, 1}, {"mf", "origNumMF"});
    Row rows[] = {
        {Value::numeric(ZORB_DOUBLE_CLASS, {1, 1}, true), "Orvane:checks:NotReal",
         "fis: expected a real double value of size 1x1, got a complex double value of size 1x1."},
        {Value::int32Scalar(3), "Orvane:checks:WrongClass",
         "fis: expected a real double value of size 1x1, got an int32 value of size 1x1."},
    };
    for (Row &r : rows) {
        HostError e = raisedBy([&] { zorbCheckBuiltIn(nullptr, &fisId, r.value.get(), "double", false, 0, nullptr); });
        EXPECT_EQ(e.identifier(), r.identifier);
        EXPECT_EQ(e.message(), r.message);
    }
    HostError e = raisedBy([&] { zorbCheckStruct(nullptr, &inputMFId, wrongFields.get(), 1, VAR_FIELDS, 0, nullptr); });
    EXPECT_EQ(e.identifier(), "Orvane:checks:WrongFields");
    EXPECT_EQ(e.message(),
              "fis.inputMF: expected a struct of size 1x1 with fields {mf}, got a struct with fields "
              "{mf, origNumMF}.");
    Value fis = Value::structMatrix({1, 1}, {"inputMF"});
    EXPECT_EQ(raisedBy([&] { zorbCheckStruct(nullptr, &fisId, fis.get(), 1, MF_FIELDS, 0, nullptr); }).identifier(),
              "Orvane:checks:WrongFields");
    zorbCheckStruct(nullptr, &fisId, fis.get(), 1, FIS_FIELDS, 0, nullptr);
    Value notStruct = Value::doubleScalar(0.0);
    EXPECT_EQ(
        raisedBy([&] { zorbCheckStruct(nullptr, &fisId, notStruct.get(), 1, FIS_FIELDS, 0, nullptr); }).identifier(),
        "Orvane:checks:WrongClass");
}

TEST(OrvaneCoreChecks, extentRules) {
    struct Row {
        std::vector<int64_t> value;
        int32_t numDimensions;
        std::vector<int32_t> dims;
        bool accepted;
        std::vector<int32_t> extents;  // written by the variable-size form
        int line;
    };
    const Row rows[] = {
        // Scalar: every extent 1.
        {{1, 1}, 0, {}, true, {}, __LINE__},
        {{1, 2}, 0, {}, false, {}, __LINE__},
        {{0, 0}, 0, {}, false, {}, __LINE__},
        // Two dimensions: exact and unbounded extents, trailing 1s dropped.
        {{1, 2}, 2, {1, 2}, true, {1, 2}, __LINE__},
        {{1, 3}, 2, {1, 2}, false, {}, __LINE__},
        {{2, 1}, 2, {1, -1}, false, {}, __LINE__},
        {{1, 0}, 2, {1, -1}, true, {1, 0}, __LINE__},
        {{4, 2}, 2, {-1, 2}, true, {4, 2}, __LINE__},
        {{4, 3}, 2, {-1, 2}, false, {}, __LINE__},
        {{2, 3, 1}, 2, {-1, -1}, true, {2, 3}, __LINE__},
        {{2, 2, 2}, 2, {-1, -1}, false, {}, __LINE__},
        {{2, 3}, 3, {-1, -1, -1}, true, {2, 3, 1}, __LINE__},
        // One dimension: a column of any length, or the 0x0 empty value.
        {{5, 1}, 1, {-1}, true, {5}, __LINE__},
        {{0, 1}, 1, {-1}, true, {0}, __LINE__},
        {{0, 0}, 1, {-1}, true, {0}, __LINE__},
        {{1, 1}, 1, {-1}, true, {1}, __LINE__},
        {{1, 5}, 1, {-1}, false, {}, __LINE__},
        {{1, 0}, 1, {-1}, false, {}, __LINE__},
        {{3, 2}, 1, {-1}, false, {}, __LINE__},
        {{5, 1}, 1, {4}, false, {}, __LINE__},
        {{4, 1}, 1, {4}, true, {4}, __LINE__},
    };
    zorbMsgIdentifier id = {"inputs", nullptr, false};
    for (const Row &r : rows) {
        Value v = Value::numeric(ZORB_DOUBLE_CLASS, r.value);
        std::vector<int32_t> extents(static_cast<size_t>(r.numDimensions), -7);
        bool accepted = true;
        try {
            zorbCheckVsBuiltIn(nullptr, &id, v.get(), "double", false, r.numDimensions, r.dims.data(), extents.data());
        } catch (const HostError &e) {
            accepted = false;
            EXPECT_EQ(e.identifier(), "Orvane:checks:WrongSize") << "row at line " << r.line;
        }
        EXPECT_EQ(accepted, r.accepted) << "row at line " << r.line;
        if (accepted && r.accepted) {
            EXPECT_EQ(extents, r.extents) << "row at line " << r.line;
        }
    }
}

// ---- Errors by identifier.

TEST(OrvaneCoreErrors, messagesComposedFromTypedArguments) {
    HostError e =
        raisedBy([] { zorbErrMsgIdAndTxt(nullptr, "ZORB:runTime:WrongNumberOfInputs", 5, 12, 3, 4, 6, "fazoltXYZ"); });
    EXPECT_EQ(e.identifier(), "ZORB:runTime:WrongNumberOfInputs");
    EXPECT_EQ(e.message(), "fazolt expects 3 input arguments.");
    e = raisedBy([] { zorbErrMsgIdAndTxt(nullptr, "Some:area:ValueOutOfRange", 5, 4, 1, "x", 12, -2); });
    EXPECT_EQ(e.message(), "Value out of range (x, -2).");
    e = raisedBy([] { zorbErrMsgIdAndTxt(nullptr, "Plain", 0); });
    EXPECT_EQ(e.message(), "Plain.");
    // Outside a module call the result limit is unknown.
    e = raisedBy([] { zorbErrMsgIdAndTxt(nullptr, "ZORB:runTime:TooManyOutputArguments", 3, 4, 6, "fazolt"); });
    EXPECT_EQ(e.message(), "fazolt was asked for more results than it returns.");
}

// ---- Conversions.

TEST(OrvaneCoreCoerce, convertsAsTheHostWould) {
    struct Row {
        zorbClassID from;
        double in;
        const char *to;
        double out;  // read back through toDoubles
    };
    const Row rows[] = {
        {ZORB_INT32_CLASS, -7.0, "double", -7.0},
        {ZORB_DOUBLE_CLASS, 2.5, "int8", 3.0},
        {ZORB_DOUBLE_CLASS, -2.5, "int8", -3.0},
        {ZORB_DOUBLE_CLASS, 300.0, "int8", 127.0},
        {ZORB_DOUBLE_CLASS, -1.0, "uint8", 0.0},
        {ZORB_DOUBLE_CLASS, NAN, "int32", 0.0},
        {ZORB_DOUBLE_CLASS, INFINITY, "int64", 0x1p63},  // saturates at 2^63 - 1, read back rounded
        {ZORB_DOUBLE_CLASS, 0x1.0000001p0, "single", 0x1p0},
        {ZORB_LOGICAL_CLASS, 1.0, "double", 1.0},
        {ZORB_CHAR_CLASS, 65.0, "double", 65.0},
        {ZORB_DOUBLE_CLASS, -0.0, "logical", 0.0},
        {ZORB_INT64_CLASS, -5.0, "uint32", 0.0},
    };
    for (const Row &r : rows) {
        Value v = Value::numeric(r.from, {1, 1});
        Value in = Value::doubleScalar(r.in);
        zorbArray *typed = zorbCoerceToClass(nullptr, in.get(), orvane::className(r.from).c_str());
        Value source(typed);
        Value out(zorbCoerceToClass(nullptr, source.get(), r.to));
        EXPECT_EQ(out.className(), r.to);
        EXPECT_EQ(bitsOf(out.toDoubles()[0]), bitsOf(r.out)) << r.in << " to " << r.to;
    }
    // The complex part is kept.
    Value z = Value::numeric(ZORB_INT16_CLASS, {1, 1}, true);
    static_cast<int16_t *>(z.data())[0] = 3;
    static_cast<int16_t *>(z.imagData())[0] = -4;
    Value zd(zorbCoerceToClass(nullptr, z.get(), "double"));
    EXPECT_TRUE(zd.isComplex());
    EXPECT_EQ(static_cast<double *>(zd.imagData())[0], -4.0);
    // The same class is an alias; a struct raises naming the class.
    Value d = Value::doubleScalar(1.0);
    zorbArray *same = zorbCoerceToClass(nullptr, d.get(), "double");
    EXPECT_EQ(same, d.get());
    zorbDestroyArray(&same);
    Value s = Value::structMatrix({1, 1}, {});
    HostError e = raisedBy([&] { zorbCoerceToClass(nullptr, s.get(), "double"); });
    EXPECT_EQ(e.identifier().rfind("Orvane:coerce:", 0), 0u);
    EXPECT_NE(e.message().find("double"), std::string::npos);
}

TEST(OrvaneCoreImport, copiesElementsOfTheGivenSize) {
    Value text = Value::charRow("abc");
    char bytes[3];
    zorbImportArray(nullptr, text.get(), bytes, 1, false);
    EXPECT_EQ(std::string(bytes, 3), "abc");
    Value m = Value::doubleMatrix(1, 2, {0x1p-3, -0.0});
    double d[2];
    zorbImportArray(nullptr, m.get(), d, 8, false);
    EXPECT_EQ(bitsOf(d[1]), bitsOf(-0.0));
    EXPECT_EQ(raisedBy([&] { zorbImportArray(nullptr, text.get(), d, 8, false); }).identifier(),
              "Orvane:import:ElementSize");
}

// ---- Host functions by name.

TEST(OrvaneCoreFunctions, anUnknownNameRaisesUndefinedFunction) {
    HostError e = raisedBy([] { orvane::callFunction("noSuchFunctionAnywhere", 1, {}); });
    EXPECT_EQ(e.identifier(), "Orvane:UndefinedFunction");
    EXPECT_NE(e.message().find("noSuchFunctionAnywhere"), std::string::npos);
}

TEST(OrvaneCoreFunctions, aRegisteredFunctionIsReachedByName) {
    orvane::registerFunction("coreTestTwice", [](int, std::vector<Value> &results, const std::vector<Value> &args) {
        results.push_back(Value::doubleScalar(2.0 * args.at(0).toDoubles().at(0)));
    });
    orvane::registerFunction("coreTestNothing", [](int, std::vector<Value> &, const std::vector<Value> &) {});
    auto before = orvane::allocStats();
    double got = 0.0;
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbArray *args[1] = {zorbCreateDoubleScalar(0x1.8p0)};
        zorbArray *results[1] = {nullptr};
        zorbCallOrvane(tls, 1, results, 1, args, "coreTestTwice", true, nullptr);
        EXPECT_EQ(args[0], nullptr);  // consumed
        got = *zorbQuvGetPr(results[0]);
        zorbDestroyArray(&results[0]);
        zorbCallOrvane(tls, 1, results, 0, nullptr, "coreTestNothing", true, nullptr);
    });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->identifier(), "Orvane:TooFewResults");
    EXPECT_EQ(bitsOf(got), bitsOf(0x1.8p1));
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
    orvane::unregisterFunction("coreTestTwice");
    orvane::unregisterFunction("coreTestNothing");
    EXPECT_FALSE(orvane::hasFunction("coreTestTwice"));
}

int releasedOwner = 0;
void releaseModuleBlock(void *owner) {
    void **slot = static_cast<void **>(owner);
    zorbFreeQib(nullptr, *slot);
    *slot = nullptr;
    ++releasedOwner;
}

// Whatever the function throws, the releases run while the module's frame
// (which owns the registered block) is still alive, and one host error
// naming the function (not "feval") leaves the call.
TEST(OrvaneCoreFunctions, anErrorInsideAFunctionUnwindsTheModuleCall) {
    struct Case {
        void (*thrower)(const std::string &text);
        const char *identifier;
        std::string message;
    };
    const Case cases[] = {
        {[](const std::string &text) { orvane::raise("Test:inside", "failed on " + text); }, "Test:inside",
         "failed on row"},
        {[](const std::string &) { throw 42; }, "Orvane:InternalError",
         "'coreTestFails' failed: it threw something other than a std::exception"},
        {[](const std::string &text) { throw text; }, "Orvane:InternalError",
         "'coreTestFails' failed: it threw something other than a std::exception"},
    };
    static void (*thrower)(const std::string &) = nullptr;
    orvane::registerFunction("coreTestFails", [](int, std::vector<Value> &, const std::vector<Value> &args) {
        Value scratch = Value::doubleMatrix(1, 2, {1.0, 2.0});  // the function's own temporary
        thrower(args.at(0).toText());
    });
    static const zorbCallLocation where = {29, 16, "evaluateAndMethod", "codegen/applyOperators.cpp"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.identifier);
        thrower = c.thrower;
        auto before = orvane::allocStats();
        releasedOwner = 0;
        int releasedWhenFrameLeft = -1;
        void *block = nullptr;
        bool returned = false;
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            struct ModuleFrame {
                int &seen;
                ~ModuleFrame() { seen = releasedOwner; }
            } frame{releasedWhenFrameLeft};
            zorbHeapReferenceStackEnterFcn(tls);
            zorbPushHeapReferenceStack(tls, &block, &releaseModuleBlock);
            block = zorbMallocQib(64);
            // Reached by name, as the module reaches a user's function.
            zorbArray *args[3] = {zorbQuvCreateString("coreTestFails"), zorbQuvCreateString("row"),
                                  zorbCreateDoubleScalar(1.0)};
            zorbArray *results[1] = {nullptr};
            zorbCallOrvane(tls, 1, results, 3, args, "feval", true, &where);
            returned = true;
        });
        ASSERT_TRUE(outcome.error);
        EXPECT_FALSE(returned);
        EXPECT_EQ(outcome.error->identifier(), c.identifier);
        EXPECT_EQ(outcome.error->message(), c.message + " (in evaluateAndMethod, line 29, column 16)");
        EXPECT_EQ(releasedWhenFrameLeft, 1);
        EXPECT_EQ(releasedOwner, 1);
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
        EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes);
    }
    orvane::unregisterFunction("coreTestFails");
}

// ---- Modules.

TEST(OrvaneCoreModule, loadingAMissingFileRaises) {
    HostError e = raisedBy([] { orvane::Module::load("/nonexistent/libnothing.so"); });
    EXPECT_EQ(e.identifier(), "Orvane:module:LoadFailed");
    EXPECT_NE(e.message().find("/nonexistent/libnothing.so"), std::string::npos);
}

}  // namespace

namespace {

TEST(OrvaneCoreBoundary, warningArgumentsOutliveTheCallAndAreNotLeaks) {
    auto before = orvane::allocStats();
    {
        auto outcome = orvane::runInCall([](zorbTLS *) {
            Value level = Value::doubleScalar(0x1p-2);
            orvane::addWarning({"Test:warn", "level", {level, level}});
        });
        EXPECT_FALSE(outcome.error);
        EXPECT_EQ(outcome.leakedValues, 0);
        ASSERT_EQ(outcome.warnings.size(), 1u);
        ASSERT_EQ(outcome.warnings[0].arguments.size(), 2u);
        EXPECT_EQ(bitsOf(outcome.warnings[0].arguments[1].toDoubles()[0]), bitsOf(0x1p-2));
        EXPECT_TRUE(orvane::takeWarnings().empty());  // the call took its log with it
    }
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
}

}  // namespace

namespace {

void freeOwnedBlock(void *owner) {
    void **slot = static_cast<void **>(owner);
    zorbFreeQib(nullptr, *slot);
    *slot = nullptr;
}

// A stage as a module writes one: registered module memory, host values
// made, converted, passed by name and dropped.
void sampleStage(zorbTLS *tls) {
    void *scratch = nullptr;
    zorbHeapReferenceStackEnterFcn(tls);
    zorbPushHeapReferenceStack(tls, &scratch, &freeOwnedBlock);
    scratch = zorbCallocQib(4, sizeof(double));
    const char *names[] = {"a", "b"};
    zorbArray *s = zorbCreateStructMatrix(1, 1, 2, names);
    zorbSetFieldNumbered(tls, s, 0, "a", zorbQuvCreateString("text"), 0);
    zorbArray *field = zorbGetField(tls, s, 0, 0, "a");
    zorbArray *asDouble = zorbCoerceToClass(tls, field, "double");
    zorbArray *args[2] = {asDouble, zorbCreateDoubleScalar(2.0)};
    zorbArray *results[1] = {nullptr};
    zorbCallOrvane(tls, 1, results, 2, args, "coreTestScale", true, nullptr);
    static_cast<double *>(scratch)[0] = zorbQuvGetPr(results[0])[0];
    zorbDestroyArray(&results[0]);
    zorbDestroyArray(&field);
    zorbDestroyArray(&s);
    freeOwnedBlock(&scratch);
    zorbHeapReferenceStackLeaveFcn(tls);
}

TEST(OrvaneCoreFaultInjection, everyFailingRequestRaisesOutOfMemoryAndLeavesNothing) {
    orvane::registerFunction("coreTestScale", [](int, std::vector<Value> &results, const std::vector<Value> &args) {
        std::vector<double> x = args.at(0).toDoubles();
        double k = args.at(1).toDoubles().at(0);
        std::vector<double> y;
        for (double v : x) y.push_back(v * k);
        results.push_back(Value::doubleMatrix(1, static_cast<int64_t>(y.size()), y));
    });
    auto before = orvane::allocStats();
    int failures = 0;
    for (int64_t n = 1; n < 100; ++n) {
        orvane::failAllocationAt(n);
        auto outcome = orvane::runInCall(sampleStage);
        orvane::failAllocationAt(0);
        EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks) << "failing request " << n;
        EXPECT_EQ(orvane::allocStats().liveBytes, before.liveBytes) << "failing request " << n;
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
        if (!outcome.error) {
            EXPECT_EQ(outcome.leakedValues, 0);
            break;
        }
        ++failures;
        EXPECT_EQ(outcome.error->identifier(), "ZORB:runTime:OutOfMemory") << "failing request " << n;
    }
    // Scratch block, "text", its double copy, the scalar 2 and the function's
    // result: each was made to fail once.
    EXPECT_EQ(failures, 5);
    orvane::unregisterFunction("coreTestScale");
}

TEST(OrvaneCoreValues, fieldAccessOutOfRangeRaises) {
    Value s = Value::structMatrix({1, 2}, {"a"});
    struct Row {
        int32_t element;
        int32_t field;
        const char *name;
        const char *identifier;
    };
    const Row rows[] = {
        {2, 0, "a", "Orvane:values:IndexOutOfRange"},
        {-1, 0, "a", "Orvane:values:IndexOutOfRange"},
        {0, 1, "b", "Orvane:values:NoSuchField"},
        {0, 0, "b", "Orvane:values:NoSuchField"},
    };
    for (const Row &r : rows) {
        HostError e = raisedBy([&] { zorbGetField(nullptr, s.get(), r.element, r.field, r.name); });
        EXPECT_EQ(e.identifier(), r.identifier) << r.element << " " << r.field << " " << r.name;
    }
    Value d = Value::doubleScalar(1.0);
    EXPECT_EQ(raisedBy([&] { zorbGetField(nullptr, d.get(), 0, 0, "a"); }).identifier(), "Orvane:values:NotStruct");
}

}  // namespace

namespace {

TEST(OrvaneCoreModule, argumentCountErrorsReadAsSentences) {
    auto module = orvane::Module::load(FAZOLT_MODULE_PATH);
    // Loads of one library share what the host knows of it: dropping one
    // leaves the other's result limit in place.
    orvane::Module::load(FAZOLT_MODULE_PATH).reset();
    std::vector<Value> three = {Value::doubleScalar(1.0), Value::doubleScalar(2.0), Value::doubleScalar(3.0)};
    auto before = orvane::allocStats();
    auto tooMany = module->call(7, three);
    ASSERT_TRUE(tooMany.error);
    EXPECT_EQ(tooMany.error->identifier(), "ZORB:runTime:TooManyOutputArguments");
    EXPECT_EQ(tooMany.error->message(), "fazolt returns at most 6 results.");
    auto tooFew = module->call(1, {three[0]});
    ASSERT_TRUE(tooFew.error);
    EXPECT_EQ(tooFew.error->message(), "fazolt expects 3 input arguments.");
    EXPECT_TRUE(tooFew.results.empty());
    EXPECT_EQ(orvane::allocStats().liveBlocks, before.liveBlocks);
}

}  // namespace
