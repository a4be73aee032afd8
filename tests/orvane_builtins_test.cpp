// The stand-in host's built-in functions: sprintf's formats and recycling,
// length, transpose, the reductions' order, NaN and tie rules, feval, and
// the diagnostics raised through throwWarning and throwError.
#include <gtest/gtest.h>

#include <orvane/host.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using orvane::Value;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// NaN matches only NaN; -0.0 differs from 0.0.
std::vector<uint64_t> bitsOf(const std::vector<double> &values) {
    std::vector<uint64_t> out;
    for (double v : values) out.push_back(std::isnan(v) ? bitsOf(kNaN) : bitsOf(v));
    return out;
}

std::vector<uint64_t> resultBits(const Value &v) {
    EXPECT_EQ(v.className(), "double");
    return bitsOf(v.toDoubles());
}

Value row(const std::vector<double> &values) {
    return Value::doubleMatrix(1, static_cast<int64_t>(values.size()), values);
}

Value call1(const std::string &name, const std::vector<Value> &arguments) {
    std::vector<Value> results = orvane::callFunction(name, 1, arguments);
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? Value() : results[0];
}

std::string identifierOfError(const std::string &name, const std::vector<Value> &arguments, int numResults = 1) {
    try {
        orvane::callFunction(name, numResults, arguments);
    } catch (const orvane::HostError &e) {
        return e.identifier();
    }
    return "(no error)";
}

TEST(OrvaneSprintf, FormatsAsCWithTheHostsWordsForSpecials) {
    Value int64Max = Value::numeric(ZORB_INT64_CLASS, {1, 1});
    static_cast<int64_t *>(int64Max.data())[0] = std::numeric_limits<int64_t>::max();
    struct Row {
        const char *format;
        std::vector<Value> arguments;
        const char *expected;
    } rows[] = {
        {"%g", {Value::doubleScalar(2.5)}, "2.5"},
        {"%g", {Value::doubleScalar(1e-5)}, "1e-05"},
        {"%g", {Value::doubleScalar(123456789)}, "1.23457e+08"},
        {"%g", {Value::doubleScalar(kNaN)}, "NaN"},
        {"%6g|", {Value::doubleScalar(-kInf)}, "  -Inf|"},
        {"%-6g|", {Value::doubleScalar(-kInf)}, "-Inf  |"},
        {"%+g %05g", {Value::doubleScalar(kInf), Value::doubleScalar(kNaN)}, "+Inf   NaN"},
        {"%5.2f", {Value::doubleScalar(3.14159)}, " 3.14"},
        {"%e", {Value::doubleScalar(1)}, "1.000000e+00"},
        {"%-8d|", {Value::doubleScalar(42)}, "42      |"},
        {"%i", {Value::doubleScalar(-7)}, "-7"},
        {"%d", {Value::doubleScalar(2.5)}, "2.500000e+00"},
        {"%d", {Value::doubleScalar(1e20)}, "100000000000000000000"},
        {"%d", {int64Max}, "9223372036854775807"},
        {"%d,", {Value::int32Row({-5, 7})}, "-5,7,"},
        {"%s=%g", {Value::charRow("x"), Value::doubleScalar(0.5)}, "x=0.5"},
        {"[%5s]", {Value::charRow("ab")}, "[   ab]"},
        {"100%%", {}, "100%"},
        {"a%gb", {}, "ab"},
        {"[%g %g]", {Value::doubleScalar(-1), Value::doubleScalar(1)}, "[-1 1]"},
        {"%g;", {Value::doubleMatrix(2, 2, {1, 2, 3, 4})}, "1;2;3;4;"},
        // Values left over restart the format; running out at a conversion stops it.
        {"[%g %g]", {row({1, 2, 3})}, "[1 2][3 "},
        {"plain", {Value::doubleScalar(1)}, "plain"},
        {"%g", {row({})}, ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.format);
        std::vector<Value> arguments{Value::charRow(r.format)};
        arguments.insert(arguments.end(), r.arguments.begin(), r.arguments.end());
        Value out = call1("sprintf", arguments);
        EXPECT_EQ(out.className(), "char");
        EXPECT_EQ(out.dims()[0], 1);
        EXPECT_EQ(out.toText(), r.expected);
    }
}

TEST(OrvaneSprintf, BadFormatsAndArgumentsRaise) {
    EXPECT_EQ(identifierOfError("sprintf", {Value::doubleScalar(1)}), "Orvane:sprintf:notText");
    EXPECT_EQ(identifierOfError("sprintf", {Value::charRow("%q"), Value::doubleScalar(1)}), "Orvane:sprintf:badFormat");
    EXPECT_EQ(identifierOfError("sprintf", {Value::charRow("%5"), Value::doubleScalar(1)}), "Orvane:sprintf:badFormat");
    EXPECT_EQ(identifierOfError("sprintf", {Value::charRow("%g"), Value::structMatrix({1, 1}, {"a"})}),
              "Orvane:sprintf:badArgument");
}

TEST(OrvaneLengthAndTranspose, ShapesOfEveryClass) {
    struct Row {
        std::vector<int64_t> dims;
        double expected;
    } rows[] = {{{1, 1}, 1}, {{3, 5}, 5}, {{7, 2}, 7}, {{0, 5}, 0}, {{2, 3, 4}, 4}, {{1, 0}, 0}};
    for (const Row &r : rows)
        EXPECT_EQ(call1("length", {Value::numeric(ZORB_DOUBLE_CLASS, r.dims)}).pr()[0], r.expected);
    EXPECT_EQ(call1("length", {Value::charRow("mamdani")}).pr()[0], 7.0);

    Value m = Value::numeric(ZORB_DOUBLE_CLASS, {2, 3}, true);
    for (int i = 0; i < 6; ++i) {
        m.pr()[i] = i;  // column-major [0 2 4; 1 3 5]
        static_cast<double *>(m.imagData())[i] = -i;
    }
    Value t = call1("transpose", {m});
    EXPECT_EQ(t.dims(), (std::vector<int64_t>{3, 2}));
    EXPECT_EQ(resultBits(t), bitsOf(std::vector<double>{0, 2, 4, 1, 3, 5}));
    EXPECT_EQ(static_cast<double *>(t.imagData())[1], -2.0);

    Value text = orvane::fromJson(R"({"class": "char", "size": [2, 3], "data": "adbecf"})");  // ["abc"; "def"]
    Value tt = call1("transpose", {text});
    EXPECT_EQ(tt.dims(), (std::vector<int64_t>{3, 2}));
    EXPECT_EQ(tt.toText(), "abcdef");

    Value flags = orvane::fromJson(R"({"class": "logical", "size": [1, 3], "data": [true, false, true]})");
    Value tf = call1("transpose", {flags});
    EXPECT_EQ(tf.className(), "logical");
    EXPECT_EQ(tf.dims(), (std::vector<int64_t>{3, 1}));
    EXPECT_EQ(static_cast<bool *>(tf.data())[2], true);

    Value small = orvane::fromJson(R"({"class": "int16", "size": [2, 2], "data": [1, 2, 3, 4]})");
    Value ts = call1("transpose", {small});
    EXPECT_EQ(ts.className(), "int16");
    EXPECT_EQ(static_cast<int16_t *>(ts.data())[1], 3);

    EXPECT_EQ(identifierOfError("transpose", {Value::numeric(ZORB_DOUBLE_CLASS, {2, 2, 2})}),
              "Orvane:transpose:notMatrix");
    EXPECT_EQ(identifierOfError("transpose", {Value::structMatrix({1, 1}, {"a"})}), "Orvane:transpose:badClass");
}

// One argument: reduce along the first extent that is not 1.
TEST(OrvaneReductions, SequentialOrderEmptyValuesAndDimensions) {
    struct Row {
        const char *function;
        Value argument;
        std::vector<int64_t> dims;
        std::vector<double> expected;
    } rows[] = {
        // 1e16 + 1 rounds back to 1e16: left to right gives 0 where other orders give 1.
        {"sum", row({1e16, 1, -1e16}), {1, 1}, {0}},
        {"sum", row({1, 1e16, -1e16}), {1, 1}, {0}},
        {"sum", row({1e16, -1e16, 1}), {1, 1}, {1}},
        {"sum", Value::doubleScalar(-0.0), {1, 1}, {-0.0}},
        {"sum", row({-0.0, -0.0}), {1, 1}, {-0.0}},
        {"sum", Value::numeric(ZORB_DOUBLE_CLASS, {0, 0}), {1, 1}, {0}},
        {"sum", Value::numeric(ZORB_DOUBLE_CLASS, {0, 3}), {1, 3}, {0, 0, 0}},
        {"sum", Value::numeric(ZORB_DOUBLE_CLASS, {3, 0}), {1, 0}, {}},
        {"sum", Value::doubleMatrix(2, 3, {1, 2, 3, 4, 5, 6}), {1, 3}, {3, 7, 11}},
        {"sum", Value::doubleMatrix(3, 1, {1, 2, 3}), {1, 1}, {6}},
        {"sum", orvane::fromJson(R"({"class": "double", "size": [1, 1, 3], "data": [1, 2, 3]})"), {1, 1}, {6}},
        {"sum", orvane::fromJson(R"({"class": "double", "size": [2, 1, 2], "data": [1, 2, 3, 4]})"), {1, 1, 2}, {3, 7}},
        {"sum",
         orvane::fromJson(R"({"class": "int32", "size": [1, 2], "data": [2147483647, 1]})"),
         {1, 1},
         {2147483648.0}},
        {"sum", orvane::fromJson(R"({"class": "logical", "size": [1, 3], "data": [1, 1, 0]})"), {1, 1}, {2}},
        {"prod", Value::numeric(ZORB_DOUBLE_CLASS, {0, 0}), {1, 1}, {1}},
        {"prod", Value::numeric(ZORB_DOUBLE_CLASS, {0, 2}), {1, 2}, {1, 1}},
        {"prod", row({1e200, 1e200, 0}), {1, 1}, {kNaN}},  // Inf * 0 in index order
        {"prod", row({0, 1e200, 1e200}), {1, 1}, {0}},
        {"prod", Value::doubleMatrix(2, 2, {2, 3, -1, 0.5}), {1, 2}, {6, -0.5}},
        {"mean", row({1, 2, 4}), {1, 1}, {7.0 / 3.0}},
        {"mean", row({0.1, 0.2}), {1, 1}, {(0.1 + 0.2) / 2.0}},
        {"mean", Value::numeric(ZORB_DOUBLE_CLASS, {0, 0}), {1, 1}, {kNaN}},
        {"mean", Value::doubleMatrix(2, 2, {1, 2, 3, 5}), {1, 2}, {1.5, 4}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.function) + " of " + orvane::toJson(r.argument));
        Value out = call1(r.function, {r.argument});
        EXPECT_EQ(out.dims(), r.dims);
        EXPECT_EQ(resultBits(out), bitsOf(r.expected));
    }
}

TEST(OrvaneReductions, MinMaxIgnoreNaNAndKeepTheFirstTie) {
    struct Row {
        const char *function;
        std::vector<Value> arguments;
        std::vector<int64_t> dims;
        std::vector<double> expected;
    } rows[] = {
        {"min", {row({kNaN, 3, 1, kNaN})}, {1, 1}, {1}},
        {"max", {row({kNaN, 3, 1, kNaN})}, {1, 1}, {3}},
        {"max", {row({kNaN, kNaN})}, {1, 1}, {kNaN}},
        {"min", {row({0.0, -0.0})}, {1, 1}, {0.0}},
        {"min", {row({-0.0, 0.0})}, {1, 1}, {-0.0}},
        {"max", {row({-kInf, kInf, 2})}, {1, 1}, {kInf}},
        {"min", {Value::doubleMatrix(2, 3, {4, 1, kNaN, 2, kNaN, kNaN})}, {1, 3}, {1, 2, kNaN}},
        {"max", {Value::numeric(ZORB_DOUBLE_CLASS, {0, 0})}, {0, 0}, {}},
        {"min", {Value::numeric(ZORB_DOUBLE_CLASS, {0, 3})}, {0, 0}, {}},
        // Two arguments: element by element, NaN loses unless both are NaN.
        {"min", {row({1, kNaN, 3, kNaN}), row({2, 2, kNaN, kNaN})}, {1, 4}, {1, 2, 3, kNaN}},
        {"max", {Value::doubleScalar(5), row({1, 7, kNaN})}, {1, 3}, {5, 7, 5}},
        {"max", {row({1, 7, kNaN}), Value::doubleScalar(5)}, {1, 3}, {5, 7, 5}},
        {"min", {Value::doubleScalar(0.0), Value::doubleScalar(-0.0)}, {1, 1}, {0.0}},
        {"max", {Value::doubleScalar(1), Value::numeric(ZORB_DOUBLE_CLASS, {0, 2})}, {0, 2}, {}},
        {"max",
         {orvane::fromJson(R"({"class": "int8", "size": [1, 2], "data": [-3, 4]})"), Value::doubleScalar(0)},
         {1, 2},
         {0, 4}},
    };
    for (const Row &r : rows) {
        std::string trace = r.function;
        for (const Value &a : r.arguments) trace += " " + orvane::toJson(a);
        SCOPED_TRACE(trace);
        Value out = call1(r.function, r.arguments);
        EXPECT_EQ(out.dims(), r.dims);
        EXPECT_EQ(resultBits(out), bitsOf(r.expected));
    }
}

TEST(OrvaneReductions, SingleStaysSingleAndBadArgumentsRaise) {
    Value singles = orvane::fromJson(R"({"class": "single", "size": [1, 2], "data": [0.1, 0.2]})");
    Value s = call1("sum", {singles});
    EXPECT_EQ(s.className(), "single");
    EXPECT_EQ(static_cast<float *>(s.data())[0], 0.1f + 0.2f);
    Value m = call1("max", {singles, Value::doubleScalar(0.15)});
    EXPECT_EQ(m.className(), "single");
    EXPECT_EQ(static_cast<float *>(m.data())[0], 0.15f);

    EXPECT_EQ(identifierOfError("sum", {Value::charRow("ab")}), "Orvane:sum:badClass");
    EXPECT_EQ(identifierOfError("mean", {Value::structMatrix({1, 1}, {"a"})}), "Orvane:mean:badClass");
    EXPECT_EQ(identifierOfError("prod", {Value::numeric(ZORB_DOUBLE_CLASS, {1, 2}, true)}), "Orvane:prod:complex");
    EXPECT_EQ(identifierOfError("min", {row({1, 2}), row({1, 2, 3})}), "Orvane:min:sizeMismatch");
    EXPECT_EQ(identifierOfError("sum", {row({1}), row({1})}), "Orvane:sum:argumentCount");
    try {
        orvane::callFunction("max", 1, {row({1, 2}), Value::doubleMatrix(2, 1, {1, 2})});
        ADD_FAILURE() << "no error";
    } catch (const orvane::HostError &e) {
        EXPECT_NE(e.message().find("max"), std::string::npos) << e.message();
        EXPECT_NE(e.message().find("1x2"), std::string::npos) << e.message();
    }
}

TEST(OrvaneFeval, CallsTheNamedFunction) {
    EXPECT_EQ(call1("feval", {Value::charRow("length"), row({1, 2, 3})}).pr()[0], 3.0);
    EXPECT_EQ(call1("feval", {Value::charRow("sprintf"), Value::charRow("%g"), Value::doubleScalar(2.5)}).toText(),
              "2.5");
    EXPECT_EQ(identifierOfError("feval", {Value::doubleScalar(1)}), "Orvane:feval:notText");
    EXPECT_EQ(identifierOfError("feval", {}), "Orvane:feval:argumentCount");
    EXPECT_EQ(identifierOfError("feval", {Value::charRow("noSuchFunction")}), "Orvane:UndefinedFunction");
    EXPECT_EQ(identifierOfError("feval", {Value::charRow("")}), "Orvane:UndefinedFunction");
}

Value diagnostics(std::string_view model) {
    Value d = Value::structMatrix(
        {1, 1}, {"DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"});
    d.setField(0, "DraxilDiagnostic", Value::uint8Scalar(1));
    d.setField(0, "Model", Value::uint8Row(model));
    d.setField(0, "Block", Value::uint8Row(""));
    d.setField(0, "OutOfRangeInputValue", Value::uint8Scalar(2));
    d.setField(0, "NoRuleFired", Value::uint8Scalar(2));
    d.setField(0, "EmptyOutputFuzzySet", Value::uint8Scalar(2));
    return d;
}

// Each warning keeps its identifier and arguments and words a message that
// carries the arguments' texts.
TEST(OrvaneDiagnostics, ThrowWarningAppendsAWarningWithItsArguments) {
    struct Row {
        std::vector<Value> arguments;  // after the diagnostics struct
        std::vector<std::string> inMessage;
    } rows[] = {
        {{Value::charRow("diagFazolt_OutOfRangeInput"), Value::int32Scalar(1), Value::charRow("[-1 1]"),
          Value::charRow("2.5")},
         {"1", "[-1 1]", "2.5", "tipper"}},
        {{Value::charRow("warnFazolt_NoRuleFired"), Value::int32Scalar(2), Value::charRow("15")},
         {"output 2", "15", "tipper"}},
        {{Value::charRow("warnFazolt_ZeroMembershipValue"), Value::charRow("centroid"), Value::int32Scalar(3),
          Value::charRow("0.5")},
         {"output 3", "centroid", "0.5"}},
        {{Value::charRow("someOther_Identifier"), Value::doubleScalar(4), Value::charRow("text")},
         {"someOther_Identifier", "4", "text"}},
    };
    for (const Row &r : rows) {
        std::vector<Value> arguments{Value::charRow("throwWarning"), diagnostics("tipper")};
        arguments.insert(arguments.end(), r.arguments.begin(), r.arguments.end());
        orvane::BoundaryOutcome outcome =
            orvane::runInCall([&](zorbTLS *) { orvane::callFunction("feval", 0, arguments); });
        ASSERT_FALSE(outcome.error) << outcome.error->message();
        EXPECT_EQ(outcome.leakedValues, 0) << "the warning's arguments leave the call with it";
        ASSERT_EQ(outcome.warnings.size(), 1u);
        const orvane::Warning &w = outcome.warnings[0];
        SCOPED_TRACE(w.message);
        EXPECT_EQ(w.identifier, r.arguments[0].toText());
        ASSERT_EQ(w.arguments.size(), r.arguments.size() - 1);
        for (size_t i = 1; i < r.arguments.size(); ++i)
            EXPECT_EQ(orvane::toJson(w.arguments[i - 1]), orvane::toJson(r.arguments[i]));
        for (const std::string &piece : r.inMessage) EXPECT_NE(w.message.find(piece), std::string::npos) << piece;
    }
}

TEST(OrvaneDiagnostics, ThrowErrorRaisesWithTheIdentifier) {
    struct Row {
        std::vector<Value> arguments;
        std::vector<std::string> inMessage;
    } rows[] = {
        {{Value::charRow("errFazolt_NoRuleFired"), Value::int32Scalar(2)}, {"output 2"}},
        {{Value::charRow("errFazolt_ZeroMembershipValue"), Value::charRow("bisector"), Value::int32Scalar(1)},
         {"output 1", "bisector"}},
        {{Value::charRow("diagFazolt_OutOfRangeInput"), Value::int32Scalar(4), Value::charRow("[0 10]"),
          Value::charRow("-Inf")},
         {"4", "[0 10]", "-Inf"}},
    };
    for (const Row &r : rows) {
        std::vector<Value> arguments{Value::charRow("throwError"), diagnostics("")};
        arguments.insert(arguments.end(), r.arguments.begin(), r.arguments.end());
        orvane::BoundaryOutcome outcome =
            orvane::runInCall([&](zorbTLS *) { orvane::callFunction("feval", 0, arguments); });
        ASSERT_TRUE(outcome.error);
        SCOPED_TRACE(outcome.error->message());
        EXPECT_EQ(outcome.error->identifier(), r.arguments[0].toText());
        EXPECT_TRUE(outcome.warnings.empty());
        for (const std::string &piece : r.inMessage)
            EXPECT_NE(outcome.error->message().find(piece), std::string::npos) << piece;
    }
    EXPECT_EQ(identifierOfError("throwError", {diagnostics("")}, 0), "Orvane:throwError:argumentCount");
    EXPECT_EQ(identifierOfError("throwWarning", {diagnostics(""), Value::doubleScalar(1)}, 0),
              "Orvane:throwWarning:notText");
}

}  // namespace
