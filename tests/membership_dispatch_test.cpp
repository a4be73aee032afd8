// Membership evaluation by type name: built-in names reach the native
// functions, every other name reaches the host's "feval" as it stands, and
// what comes back is converted and checked; nothing is left allocated on
// any path. Also the conversions between native rows and host values.
#include <gtest/gtest.h>
#include <orvane/host.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codegen/evaluateCommonMembershipFcn.h"
#include "host/hostConversions.h"
#include "membership/membershipFunctions.h"
#include "tests/membership_forms.h"

namespace {

using orvane::Value;

class MembershipDispatch : public ::testing::Test {
protected:
    void SetUp() override { liveBlocks = orvane::allocStats().liveBlocks; }
    void TearDown() override {
        for (const std::string &name : registered) orvane::unregisterFunction(name);
        EXPECT_EQ(orvane::allocStats().liveBlocks, liveBlocks);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
    void registerHost(const std::string &name, orvane::HostFunction fn) {
        orvane::registerFunction(name, std::move(fn));
        registered.push_back(name);
    }
    int64_t liveBlocks = 0;
    std::vector<std::string> registered;
};

// Native inputs of one evaluation, registered in a frame of their own so
// that an error raised by the stage releases them.
struct Inputs {
    DynArray<uint8_t> *type = nullptr;
    DynArray<double> *params = nullptr;
    DynArray<double> *xs = nullptr;
    DynArray<double> *out = nullptr;

    Inputs(zorbTLS *tls, const std::string &name, const std::vector<double> &p,
           const std::vector<double> &points = {}) {
        zorbHeapReferenceStackEnterFcn(tls);
        initRegisteredArray(tls, &type, 2);
        initRegisteredArray(tls, &params, 2);
        initRegisteredArray(tls, &xs, 2);
        initRegisteredArray(tls, &out, 2);
        resize2D(type, 1, static_cast<int32_t>(name.size()));
        if (!name.empty()) std::memcpy(type->data, name.data(), name.size());
        resize2D(params, 1, static_cast<int32_t>(p.size()));
        for (size_t k = 0; k < p.size(); ++k) params->data[k] = p[k];
        resize2D(xs, 1, static_cast<int32_t>(points.size()));
        for (size_t k = 0; k < points.size(); ++k) xs->data[k] = points[k];
    }
    // Normal path only; on an error the host runs the registered releases.
    void release(zorbTLS *tls) {
        releaseArray(&out);
        releaseArray(&xs);
        releaseArray(&params);
        releaseArray(&type);
        zorbHeapReferenceStackLeaveFcn(tls);
    }
    std::vector<double> outValues() const { return std::vector<double>(out->data, out->data + numel(out)); }
};

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

// ---- Built-in names.

TEST_F(MembershipDispatch, EachBuiltInNameSelectsItsFunction) {
    const std::vector<double> p = {0.5, 1.5, 2.5, 4.0};
    const std::vector<double> points = {0.3, 1.0, 2.0, 2.9, 3.7};
    for (const FunctionForms &b : kForms) {
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            Inputs in(tls, b.name, p, points);
            for (double x : points) {
                EXPECT_EQ(bits(evaluateCommonMembershipFcn(tls, in.type, x, in.params)), bits(b.scalar(x, p.data())))
                    << b.name << " at " << x;
            }
            evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
            ASSERT_EQ(in.out->size[0], 1);
            ASSERT_EQ(in.out->size[1], static_cast<int32_t>(points.size()));
            for (size_t k = 0; k < points.size(); ++k) {
                EXPECT_EQ(bits(in.out->data[k]), bits(b.scalar(points[k], p.data()))) << b.name;
            }
            in.release(tls);
        });
        EXPECT_FALSE(outcome.error.has_value()) << b.name << ": " << outcome.error->message();
    }
}

// A built-in reads its parameters by position; a row too short for it is
// refused instead of read past its end.
TEST_F(MembershipDispatch, BuiltInWithTooFewParametersIsRefused) {
    struct Case {
        const char *name;
        std::vector<double> params;
        bool vectorForm;
    } cases[] = {
        {"trimf", {0, 5}, false}, {"trapmf", {0, 1, 2}, true}, {"gaussmf", {1}, false},
        {"pimf", {}, false},      {"gauss2mf", {}, true},      {"sigmf", {2}, true},
    };
    for (const Case &c : cases) {
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            Inputs in(tls, c.name, c.params, {1.0, 2.0});
            if (c.vectorForm) {
                evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
            } else {
                (void)evaluateCommonMembershipFcn(tls, in.type, 1.0, in.params);
            }
            in.release(tls);
        });
        ASSERT_TRUE(outcome.error.has_value()) << c.name;
        EXPECT_EQ(outcome.error->identifier(), "fazolt:membership:TooFewParameters") << c.name;
    }
    // Exactly as many as read is enough.
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        Inputs in(tls, "trimf", {0, 5, 10});
        EXPECT_EQ(evaluateCommonMembershipFcn(tls, in.type, 5.0, in.params), 1.0);
        in.release(tls);
    });
    EXPECT_FALSE(outcome.error.has_value());
}

// ---- Names that are not built in.

struct HostCall {
    int numCalls = 0;
    std::vector<Value> arguments;
};

TEST_F(MembershipDispatch, OtherNamesReachTheHostAsTheyStand) {
    for (const std::string name : {"TRIMF", "trimf ", "tri", "myCustomMF"}) {
        HostCall seen;
        registerHost(name, [&seen](int numResults, std::vector<Value> &results, const std::vector<Value> &args) {
            ++seen.numCalls;
            seen.arguments = args;
            EXPECT_EQ(numResults, 1);
            std::vector<double> xs = args.at(0).toDoubles();
            for (double &x : xs) x *= 0.25;
            results.resize(1);
            results[0] = Value::doubleMatrix(1, static_cast<int64_t>(xs.size()), xs);
        });
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            Inputs in(tls, name, {7.0, 8.0, 9.0}, {4.0, -8.0, 2.0});
            EXPECT_EQ(evaluateCommonMembershipFcn(tls, in.type, 2.0, in.params), 0.5);
            ASSERT_EQ(seen.numCalls, 1);
            ASSERT_EQ(seen.arguments.size(), 2u);
            EXPECT_EQ(seen.arguments[0].className(), "double");
            EXPECT_EQ(seen.arguments[0].dims(), (std::vector<int64_t>{1, 1}));
            EXPECT_EQ(seen.arguments[1].className(), "double");
            EXPECT_EQ(seen.arguments[1].dims(), (std::vector<int64_t>{1, 3}));
            EXPECT_EQ(seen.arguments[1].toDoubles(), (std::vector<double>{7.0, 8.0, 9.0}));

            evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
            ASSERT_EQ(seen.numCalls, 2);
            EXPECT_EQ(seen.arguments[0].dims(), (std::vector<int64_t>{1, 3}));
            EXPECT_EQ(in.out->size[0], 1);
            EXPECT_EQ(in.outValues(), (std::vector<double>{1.0, -2.0, 0.5}));
            seen.arguments.clear();
            in.release(tls);
        });
        EXPECT_FALSE(outcome.error.has_value()) << name << ": " << outcome.error->message();
        EXPECT_EQ(outcome.leakedValues, 0) << name;
    }
}

TEST_F(MembershipDispatch, EmptyNameIsLeftToTheHost) {
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        Inputs in(tls, "", {1.0, 2.0});
        (void)evaluateCommonMembershipFcn(tls, in.type, 1.0, in.params);
        in.release(tls);
    });
    ASSERT_TRUE(outcome.error.has_value());
}

// The row a user function gives back need not match the points in length;
// the caller decides what a mismatch means.
TEST_F(MembershipDispatch, RowOfAnyLengthIsTakenAsItCame) {
    registerHost("twoValues", [](int, std::vector<Value> &results, const std::vector<Value> &) {
        results.resize(1);
        results[0] = Value::doubleMatrix(1, 2, {0.125, 0.75});
    });
    registerHost("noValues", [](int, std::vector<Value> &results, const std::vector<Value> &) {
        results.resize(1);
        results[0] = Value::doubleMatrix(1, 0, {});
    });
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        Inputs in(tls, "twoValues", {1.0}, {1, 2, 3, 4, 5});
        evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
        EXPECT_EQ(in.out->size[0], 1);
        EXPECT_EQ(in.outValues(), (std::vector<double>{0.125, 0.75}));
        in.release(tls);

        Inputs none(tls, "noValues", {1.0}, {1, 2, 3});
        evaluateCommonMembershipFcnVector(tls, none.type, none.xs, none.params, none.out);
        EXPECT_EQ(none.out->size[0], 1);
        EXPECT_EQ(none.out->size[1], 0);
        none.release(tls);
    });
    EXPECT_FALSE(outcome.error.has_value()) << outcome.error->message();
}

TEST_F(MembershipDispatch, OtherNumericClassesAreConvertedToDouble) {
    registerHost("singleRow", [](int, std::vector<Value> &results, const std::vector<Value> &args) {
        const int64_t n = args.at(0).numel();
        Value v = Value::numeric(ZORB_SINGLE_CLASS, {1, n});
        for (int64_t k = 0; k < n; ++k) static_cast<float *>(v.data())[k] = 0.5f + static_cast<float>(k);
        results.resize(1);
        results[0] = v;
    });
    registerHost("int32Value", [](int, std::vector<Value> &results, const std::vector<Value> &args) {
        const int64_t n = args.at(0).numel();
        std::vector<int32_t> values;
        for (int64_t k = 0; k < n; ++k) values.push_back(static_cast<int32_t>(-3 + k));
        results.resize(1);
        results[0] = Value::int32Row(values);
    });
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        Inputs single(tls, "singleRow", {0.0}, {9, 9, 9});
        EXPECT_EQ(evaluateCommonMembershipFcn(tls, single.type, 1.0, single.params), 0.5);
        evaluateCommonMembershipFcnVector(tls, single.type, single.xs, single.params, single.out);
        EXPECT_EQ(single.outValues(), (std::vector<double>{0.5, 1.5, 2.5}));
        single.release(tls);

        Inputs int32(tls, "int32Value", {0.0}, {9, 9});
        EXPECT_EQ(evaluateCommonMembershipFcn(tls, int32.type, 1.0, int32.params), -3.0);
        evaluateCommonMembershipFcnVector(tls, int32.type, int32.xs, int32.params, int32.out);
        EXPECT_EQ(int32.outValues(), (std::vector<double>{-3.0, -2.0}));
        int32.release(tls);
    });
    EXPECT_FALSE(outcome.error.has_value()) << outcome.error->message();
    EXPECT_EQ(outcome.leakedValues, 0);
}

// Results of the wrong shape are refused under the name "feval", and the
// native inputs and the host values are all given back.
TEST_F(MembershipDispatch, WrongShapesAreRefusedUnderFeval) {
    struct Case {
        const char *what;
        bool vectorForm;
        Value (*make)();
    } cases[] = {
        {"column of points", true,
         [] {
             return Value::doubleMatrix(3, 1, {1, 2, 3});
         }},
        {"two rows", true,
         [] {
             return Value::doubleMatrix(2, 3, {1, 2, 3, 4, 5, 6});
         }},
        {"complex row", true,
         [] {
             return Value::numeric(ZORB_DOUBLE_CLASS, {1, 3}, true);
         }},
        {"complex scalar", false,
         [] {
             return Value::numeric(ZORB_DOUBLE_CLASS, {1, 1}, true);
         }},
        {"empty", false, [] { return Value::doubleMatrix(0, 0, {}); }},
        {"row of two", false,
         [] {
             return Value::doubleMatrix(1, 2, {1, 2});
         }},
    };
    const Case *current = nullptr;
    registerHost("badShape", [&current](int, std::vector<Value> &results, const std::vector<Value> &) {
        results.resize(1);
        results[0] = current->make();
    });
    for (const Case &c : cases) {
        current = &c;
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            Inputs in(tls, "badShape", {1.0, 2.0}, {1.0, 2.0, 3.0});
            if (c.vectorForm) {
                evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
            } else {
                (void)evaluateCommonMembershipFcn(tls, in.type, 1.0, in.params);
            }
            in.release(tls);
        });
        ASSERT_TRUE(outcome.error.has_value()) << c.what;
        EXPECT_NE(outcome.error->message().find("feval"), std::string::npos)
            << c.what << ": " << outcome.error->message();
        EXPECT_EQ(orvane::heapReferenceDepth(), 0) << c.what;
    }
}

TEST_F(MembershipDispatch, ErrorInsideUserFunctionReleasesEverything) {
    registerHost("failingMF", [](int, std::vector<Value> &, const std::vector<Value> &) {
        orvane::raise("user:failingMF", "the user's function failed");
    });
    for (bool vectorForm : {false, true}) {
        auto outcome = orvane::runInCall([&](zorbTLS *tls) {
            Inputs in(tls, "failingMF", {1.0, 2.0, 3.0}, {0.5, 1.5});
            if (vectorForm) {
                evaluateCommonMembershipFcnVector(tls, in.type, in.xs, in.params, in.out);
            } else {
                (void)evaluateCommonMembershipFcn(tls, in.type, 1.0, in.params);
            }
            in.release(tls);
        });
        ASSERT_TRUE(outcome.error.has_value());
        EXPECT_EQ(outcome.error->identifier(), "user:failingMF");
    }
}

// ---- Conversions of native rows to host values and back.

TEST_F(MembershipDispatch, ExportsKeepExtentsAndTakeTheFirstRow) {
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        DynArray<double> *row;
        DynArray<uint8_t> *bytes;
        initRegisteredArray(tls, &row, 2);
        initRegisteredArray(tls, &bytes, 2);

        resize2D(row, 1, 0);
        Value emptyRow(exportDoubleRow(row));
        EXPECT_EQ(emptyRow.dims(), (std::vector<int64_t>{1, 0}));

        // No rows: nothing to copy, and nothing written past the empty block.
        resize2D(row, 0, 3);
        Value noRows(exportDoubleRow(row));
        EXPECT_EQ(noRows.dims(), (std::vector<int64_t>{0, 3}));

        resize2D(bytes, 2, 3);
        for (int k = 0; k < 6; ++k) bytes->data[k] = static_cast<uint8_t>('a' + k);
        Value firstRow(exportUint8Row(bytes));
        EXPECT_EQ(firstRow.className(), "uint8");
        EXPECT_EQ(firstRow.dims(), (std::vector<int64_t>{2, 3}));
        const uint8_t *got = static_cast<const uint8_t *>(firstRow.data());
        EXPECT_EQ(std::string(got, got + 3), "ace");

        const double column[3] = {1.5, -0.0, 2.5};
        Value col(exportDoubleColumn(column, 3));
        EXPECT_EQ(col.dims(), (std::vector<int64_t>{3, 1}));
        EXPECT_EQ(bits(col.pr()[1]), bits(-0.0));

        Value text(exportCharText(tls, "sum"));
        EXPECT_EQ(text.className(), "char");
        EXPECT_EQ(text.dims(), (std::vector<int64_t>{1, 3}));
        EXPECT_EQ(text.toText(), "sum");

        releaseArray(&bytes);
        releaseArray(&row);
        zorbHeapReferenceStackLeaveFcn(tls);
    });
    EXPECT_FALSE(outcome.error.has_value()) << outcome.error->message();
    EXPECT_EQ(outcome.leakedValues, 0);
}

TEST_F(MembershipDispatch, ImportsTakeExtentsAndConsumeTheReference) {
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        DynArray<double> *column;
        DynArray<uint8_t> *chars;
        initRegisteredArray(tls, &column, 1);
        initRegisteredArray(tls, &chars, 2);

        Value col = Value::doubleMatrix(3, 1, {4.0, 5.0, 6.0});
        importDoubleColumn(tls, zorbAlias(col.get()), "transpose", column);
        EXPECT_EQ(column->size[0], 3);
        EXPECT_EQ(std::vector<double>(column->data, column->data + 3), (std::vector<double>{4.0, 5.0, 6.0}));

        Value text = Value::charRow("0.25");
        importCharRow(tls, zorbAlias(text.get()), "tmpStr", chars);
        EXPECT_EQ(chars->size[0], 1);
        EXPECT_EQ(std::string(chars->data, chars->data + chars->size[1]), "0.25");

        Value negativeZero = Value::doubleScalar(-0.0);
        EXPECT_EQ(bits(importDoubleScalar(tls, zorbAlias(negativeZero.get()), "feval")), bits(-0.0));

        releaseArray(&chars);
        releaseArray(&column);
        zorbHeapReferenceStackLeaveFcn(tls);
    });
    EXPECT_FALSE(outcome.error.has_value()) << outcome.error->message();
    EXPECT_EQ(outcome.leakedValues, 0);
}

TEST_F(MembershipDispatch, CharRowImportRefusesARowOfNumbers) {
    auto outcome = orvane::runInCall([&](zorbTLS *tls) {
        zorbHeapReferenceStackEnterFcn(tls);
        DynArray<uint8_t> *chars;
        initRegisteredArray(tls, &chars, 2);
        Value numbers = Value::doubleMatrix(1, 2, {1, 2});
        importCharRow(tls, zorbAlias(numbers.get()), "tmpStr", chars);
        releaseArray(&chars);
        zorbHeapReferenceStackLeaveFcn(tls);
    });
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_NE(outcome.error->message().find("tmpStr"), std::string::npos) << outcome.error->message();
}

}  // namespace
