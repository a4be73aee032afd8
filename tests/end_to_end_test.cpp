// Worked examples through the module entry, as a host calls it: rule
// firing, implication and aggregation, Mamdani and Sugeno defuzzification,
// diagnostics, custom methods reaching the host's standard functions.
#include "tests/test_support.h"

#include <cmath>
#include <limits>

namespace {

using testing_support::bits;
using testing_support::evaluate;

// A membership function that always returns its one parameter, so a test
// can set the fuzzified values exactly.
struct ConstantMembership {
    ConstantMembership() {
        orvane::registerFunction(
            "constmf", [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                // feval hands over (points, params).
                double v = args.at(1).toDoubles().at(0);
                std::vector<int64_t> dims = args.at(0).dims();
                int64_t n = args.at(0).numel();
                results.assign(1, orvane::Value::doubleMatrix(dims[0], n / (dims[0] == 0 ? 1 : dims[0]),
                                                              std::vector<double>(static_cast<size_t>(n), v)));
            });
    }
    ~ConstantMembership() { orvane::unregisterFunction("constmf"); }
};

std::string constantTerm(const char *name, double v) {
    return std::string(R"({"name": ")") + name + R"(", "type": "constmf", "params": [)" +
           orvane::formatDouble(v, false) + "]}";
}

std::vector<double> column(const orvane::Value &v, int64_t c) {
    int64_t rows = v.dims()[0];
    std::vector<double> all = v.toDoubles();
    return std::vector<double>(all.begin() + c * rows, all.begin() + (c + 1) * rows);
}

void expectBits(const std::vector<double> &actual, const std::vector<double> &expected, const std::string &what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t k = 0; k < actual.size(); ++k) {
        EXPECT_EQ(bits(actual[k]), bits(expected[k]))
            << what << " [" << k << "]: " << actual[k] << " vs " << expected[k];
    }
}

// The fuzzified row [0.2 0.8 | 0.1 0.6 0.3] of two inputs with 2 and 3 terms.
std::string firingSystem(const char *rule, const char *andMethod, const char *orMethod) {
    return std::string(R"({"type": "mamdani", "numSamples": 3, "andMethod": ")") + andMethod + R"(", "orMethod": ")" +
           orMethod + R"(", "inputs": [{"name": "a", "range": [0, 1], "mf": [)" + constantTerm("a1", 0.2) + "," +
           constantTerm("a2", 0.8) + R"(]}, {"name": "b", "range": [0, 1], "mf": [)" + constantTerm("b1", 0.1) + "," +
           constantTerm("b2", 0.6) + "," + constantTerm("b3", 0.3) +
           R"(]}], "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "t", "type": "trimf", "params": [0, 1, 2]}]}],
           "rules": [)" +
           rule + "]}";
}

TEST(EndToEndRuleFiring, WorkedExampleAndItsVariants) {
    ConstantMembership constmf;
    const double notB3 = 1.0 - 0.3;
    struct Case {
        const char *rule, *andMethod, *orMethod;
        std::vector<double> ruleInputs;
        double firing;
    } cases[] = {
        {R"({"antecedent": [2, -3], "consequent": [1], "weight": 0.5, "connection": 1})",
         "min",
         "max",
         {0.8, notB3},
         notB3 * 0.5},
        {R"({"antecedent": [0, -3], "consequent": [1], "weight": 0.5, "connection": 1})",
         "min",
         "max",
         {1.0, notB3},
         notB3 * 0.5},
        {R"({"antecedent": [0, -3], "consequent": [1], "weight": 0.5, "connection": 2})",
         "min",
         "max",
         {0.0, notB3},
         notB3 * 0.5},
        {R"({"antecedent": [2, -3], "consequent": [1], "weight": 0.5, "connection": 1})",
         "prod",
         "max",
         {0.8, notB3},
         (0.8 * notB3) * 0.5},
        {R"({"antecedent": [2, 2], "consequent": [1], "weight": 1, "connection": 2})",
         "min",
         "probor",
         {0.8, 0.6},
         (0.8 + 0.6) - 0.8 * 0.6},
        {R"({"antecedent": [2, 2], "consequent": [1], "weight": 1, "connection": 2})",
         "min",
         "sum",
         {0.8, 0.6},
         0.8 + 0.6},
        {R"("if a is a2 and b is not b3 then y is t with 0.5")", "min", "max", {0.8, notB3}, notB3 * 0.5},
    };
    for (const Case &c : cases) {
        orvane::CallOutcome out = evaluate(firingSystem(c.rule, c.andMethod, c.orMethod), {{0.5, 0.5}});
        ASSERT_FALSE(out.error) << c.rule << ": " << out.error->identifier() << " " << out.error->message();
        expectBits(out.results[1].toDoubles(), c.ruleInputs, std::string("ruleInputValues of ") + c.rule);
        expectBits(out.results[4].toDoubles(), {c.firing}, std::string("firing strength of ") + c.rule);
    }
}

// One output sampled at [0 0.5 1] with the set [0 0.5 1]; rule 1 fires at
// 0.35 on it, rule 2 at 0.6 on its complement.
std::string implicationSystem(const char *impMethod, const char *aggMethod) {
    return std::string(R"({"type": "mamdani", "numSamples": 3, "impMethod": ")") + impMethod + R"(", "aggMethod": ")" +
           aggMethod + R"(", "defuzzMethod": "centroid", "inputs": [{"name": "a", "range": [0, 1], "mf": [)" +
           constantTerm("p", 0.35) + "," + constantTerm("q", 0.6) +
           R"(]}], "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "t", "type": "trimf", "params": [0, 1, 2]}]}],
           "rules": [{"antecedent": [1], "consequent": [1]}, {"antecedent": [2], "consequent": [-1]}]})";
}

TEST(EndToEndImplication, WorkedExampleForEveryBuiltInPair) {
    ConstantMembership constmf;
    struct Case {
        const char *imp, *agg;
        std::vector<double> rule1, rule2, aggregated;
    } cases[] = {
        {"min", "max", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, 0.5, 0.35}},
        {"min", "sum", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, 0.5 + 0.35, 0.35}},
        {"min", "probor", {0, 0.35, 0.35}, {0.6, 0.5, 0}, {0.6, (0.5 + 0.35) - 0.5 * 0.35, 0.35}},
        {"prod", "max", {0, 0.5 * 0.35, 0.35}, {0.6, 0.5 * 0.6, 0}, {0.6, 0.5 * 0.6, 0.35}},
        {"prod", "sum", {0, 0.5 * 0.35, 0.35}, {0.6, 0.5 * 0.6, 0}, {0.6, 0.5 * 0.35 + 0.5 * 0.6, 0.35}},
        {"prod",
         "probor",
         {0, 0.5 * 0.35, 0.35},
         {0.6, 0.5 * 0.6, 0},
         {0.6, (0.5 * 0.6 + 0.5 * 0.35) - (0.5 * 0.6) * (0.5 * 0.35), 0.35}},
        // Custom methods reach the host's standard functions.
        {"max", "min", {0.35, 0.5, 1}, {1, 0.6, 0.6}, {0.35, 0.5, 0.6}},
    };
    for (const Case &c : cases) {
        std::string what = std::string(c.imp) + "/" + c.agg;
        orvane::CallOutcome out = evaluate(implicationSystem(c.imp, c.agg), {{0.5}});
        ASSERT_FALSE(out.error) << what << ": " << out.error->message();
        expectBits(column(out.results[2], 0), c.rule1, what + " rule 1");
        expectBits(column(out.results[2], 1), c.rule2, what + " rule 2");
        expectBits(out.results[3].toDoubles(), c.aggregated, what + " aggregated");
    }
}

// A description's record with its Mamdani method replaced: a description
// refuses wtaver and wtsum on a Mamdani system, a record keeps the meaning
// the module gives them.
orvane::CallOutcome evaluateWithMethod(const std::string &description, const char *method,
                                       const std::vector<std::vector<double>> &rows) {
    std::vector<orvane::Value> args = testing_support::evaluationArguments(description, rows, 2);
    args[1].setField(0, "defuzzMethod", orvane::Value::uint8Row(method));
    return testing_support::callChecked(6, args);
}

// Sample points 0..10 and one set with a plateau of maxima at 2, 3, 4.
std::string plateauSystem(const char *method, const char *range, int numSamples, const char *params,
                          double firing = 1.0) {
    return std::string(R"({"type": "mamdani", "numSamples": )") + std::to_string(numSamples) +
           R"(, "defuzzMethod": ")" + method + R"(", "inputs": [{"name": "a", "range": [0, 1], "mf": [)" +
           constantTerm("p", firing) + R"(]}], "outputs": [{"name": "y", "range": )" + range +
           R"(, "mf": [{"name": "t", "type": "trapmf", "params": )" + params +
           R"(}]}], "rules": [{"antecedent": [1], "consequent": [1]}]})";
}

TEST(EndToEndMamdaniDefuzzification, PlateausAndEmptySets) {
    ConstantMembership constmf;
    struct Case {
        const char *method, *range;
        int numSamples;
        const char *params;
        double expected;
        const char *emptySetWarning;  // method named by the empty-set diagnostic, or null
    } cases[] = {
        {"mom", "[0, 10]", 11, "[1, 2, 4, 5]", 3, nullptr},
        {"som", "[0, 10]", 11, "[1, 2, 4, 5]", 2, nullptr},
        {"lom", "[0, 10]", 11, "[1, 2, 4, 5]", 4, nullptr},
        {"som", "[-10, 10]", 21, "[-4, -3, -1, 0]", -1, nullptr},
        {"lom", "[-10, 10]", 21, "[-4, -3, -1, 0]", -3, nullptr},
        {"som", "[-10, 10]", 21, "[9, 10, 11, 12]", -10, nullptr},  // start candidate of largest magnitude
        // A set that is zero everywhere.
        {"centroid", "[0, 10]", 11, "[20, 30, 40, 50]", 5, "centroid"},
        {"bisector", "[0, 10]", 11, "[20, 30, 40, 50]", 5, "bisector"},
        {"mom", "[-2, 10]", 13, "[20, 30, 40, 50]", 4, nullptr},
        {"som", "[-2, 10]", 13, "[20, 30, 40, 50]", 0, nullptr},
        {"lom", "[-2, 10]", 13, "[20, 30, 40, 50]", 10, nullptr},
        {"wtaver", "[-2, 10]", 13, "[20, 30, 40, 50]", -0.0, nullptr},  // x(1) * 0 with x(1) = -2
        {"wtsum", "[-2, 10]", 13, "[20, 30, 40, 50]", -2, nullptr},
        // The running sum reaches exactly half the area at 2: the bisector is 2, not 3.
        {"bisector", "[0, 6]", 7, "[1, 2, 3, 4]", 2, nullptr},
    };
    for (const Case &c : cases) {
        std::string what = std::string(c.method) + " " + c.range + " " + c.params;
        orvane::CallOutcome out =
            evaluateWithMethod(plateauSystem("centroid", c.range, c.numSamples, c.params), c.method, {{0.5}});
        ASSERT_FALSE(out.error) << what << ": " << out.error->message();
        expectBits(out.results[0].toDoubles(), {c.expected}, what);
        size_t emptySet = 0;
        for (const orvane::Warning &w : out.warnings) {
            if (w.identifier == "warnFazolt_ZeroMembershipValue") {
                ++emptySet;
                ASSERT_FALSE(w.arguments.empty());
                EXPECT_EQ(w.arguments[0].toText(), c.emptySetWarning) << what;
            }
        }
        EXPECT_EQ(emptySet, c.emptySetWarning != nullptr ? 1u : 0u) << what;
    }
}

TEST(EndToEndMamdaniDefuzzification, NoRuleFiredGivesTheRangeMidpointAndOneDiagnosticPerOutput) {
    ConstantMembership constmf;
    std::string twoOutputs = R"({"type": "mamdani", "numSamples": 5,
      "inputs": [{"name": "a", "range": [0, 1], "mf": [)" +
                             constantTerm("p", 0.0) + R"(]}],
      "outputs": [{"name": "y", "range": [0, 10], "mf": [{"name": "t", "type": "trimf", "params": [0, 5, 10]}]},
                  {"name": "z", "range": [-3, 1], "mf": [{"name": "t", "type": "trimf", "params": [-3, 0, 1]}]}],
      "rules": [{"antecedent": [1], "consequent": [1, 1]}]})";
    orvane::CallOutcome out = evaluate(twoOutputs, {{0.5}});
    ASSERT_FALSE(out.error) << out.error->message();
    expectBits(out.results[0].toDoubles(), {5.0, -1.0}, "midpoints");
    ASSERT_EQ(out.warnings.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(out.warnings[k].identifier, "warnFazolt_NoRuleFired");
        EXPECT_EQ(out.warnings[k].arguments.at(0).toDoubles(), std::vector<double>{static_cast<double>(k + 1)});
    }
    orvane::CallOutcome failed = evaluate(twoOutputs, {{0.5}}, 6, 3);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->identifier(), "errFazolt_NoRuleFired");
}

std::string sugenoSystem(const char *method, const char *consequents) {
    return std::string(R"({"type": "sugeno", "defuzzMethod": ")") + method +
           R"(", "inputs": [{"name": "a", "range": [0, 1], "mf": [)" + constantTerm("p", 0.2) + "," +
           constantTerm("q", 0.6) + R"(]}, {"name": "b", "range": [0, 100], "mf": []}],
           "outputs": [{"name": "y", "range": [0, 100], "mf": [
               {"name": "ten", "type": "constant", "params": [10]},
               {"name": "twenty", "type": "constant", "params": [20]},
               {"name": "lin", "type": "linear", "params": [2, 3, 1]}]}],
           "rules": [{"antecedent": [1, 0], "consequent": [)" +
           consequents + R"(]}, {"antecedent": [2, 0], "consequent": [2]}]})";
}

TEST(EndToEndSugeno, WeightedAverageSumAndConsequentRounding) {
    ConstantMembership constmf;
    struct Case {
        const char *method, *consequent;
        double expected;
    } cases[] = {
        {"wtaver", "1", (1.0 / (0.2 + 0.6)) * (0.2 * 10 + 0.6 * 20)},
        {"wtsum", "1", 0.2 * 10 + 0.6 * 20},
        {"wtsum", "1.7", 0.2 * 20 + 0.6 * 20},  // 1.7 selects function 2
        {"wtsum", "-0.4", 0.6 * 20},            // rounds to 0: no contribution
        {"wtsum", "3", 0.2 * 81 + 0.6 * 20},    // linear [2 3 1] at [10 20] is 81
    };
    for (const Case &c : cases) {
        std::string what = std::string(c.method) + " consequent " + c.consequent;
        orvane::CallOutcome out = evaluate(sugenoSystem(c.method, c.consequent), {{10, 20}});
        ASSERT_FALSE(out.error) << what << ": " << out.error->message();
        expectBits(out.results[0].toDoubles(), {c.expected}, what);
    }
    orvane::CallOutcome out = evaluate(sugenoSystem("wtaver", "1"), {{10, 20}});
    EXPECT_EQ(out.results[0].toDoubles()[0], 17.5);
    out = evaluate(sugenoSystem("wtsum", "1"), {{10, 20}});
    EXPECT_EQ(out.results[0].toDoubles()[0], 14.0);
}

TEST(EndToEndDiagnostics, OutOfRangeModes) {
    const char *system = R"({"type": "mamdani", "numSamples": 5,
      "inputs": [{"name": "a", "range": [-1, 1], "mf": [{"name": "t", "type": "trimf", "params": [-1, 0, 1]}]}],
      "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "t", "type": "trimf", "params": [0, 0.5, 1]}]}],
      "rules": ["if a is t then y is t"]})";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (uint8_t mode : {0, 1, 4}) {
        orvane::CallOutcome out = evaluate(system, {{2.5}, {-7}}, 1, mode);
        ASSERT_FALSE(out.error);
        EXPECT_TRUE(out.warnings.empty()) << "mode " << int(mode);
    }
    orvane::CallOutcome warned = evaluate(system, {{2.5}, {0.5}, {-7}, {nan}, {1}}, 1, 2);
    ASSERT_FALSE(warned.error);
    std::vector<const orvane::Warning *> outOfRange;
    for (const orvane::Warning &w : warned.warnings) {
        if (w.identifier == "diagFazolt_OutOfRangeInput") outOfRange.push_back(&w);
    }
    ASSERT_EQ(outOfRange.size(), 2u);
    EXPECT_EQ(outOfRange[0]->arguments.at(0).classId(), ZORB_INT32_CLASS);
    EXPECT_EQ(outOfRange[0]->arguments.at(1).toText(), "[-1 1]");
    EXPECT_EQ(outOfRange[0]->arguments.at(2).toText(), "2.5");
    EXPECT_EQ(outOfRange[1]->arguments.at(2).toText(), "-7");

    orvane::CallOutcome failed = evaluate(system, {{0.5}, {2.5}}, 1, 3);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->identifier(), "diagFazolt_OutOfRangeInput");
}

}  // namespace

namespace {

// An output membership function that returns its parameters as the set,
// whatever the sample points: the aggregated set is then exactly those
// values under "prod" implication with a firing strength of 1.
struct SetFromParams {
    SetFromParams() {
        orvane::registerFunction(
            "setmf", [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                std::vector<double> p = args.at(1).toDoubles();
                results.assign(1, orvane::Value::doubleMatrix(1, static_cast<int64_t>(p.size()), p));
            });
        orvane::registerFunction("firstpoint",
                                 [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                                     results.assign(1, orvane::Value::doubleScalar(args.at(0).toDoubles().at(0)));
                                 });
    }
    ~SetFromParams() {
        orvane::unregisterFunction("setmf");
        orvane::unregisterFunction("firstpoint");
    }
};

std::string setSystem(const char *method, const char *range, int numSamples, const std::string &set) {
    return std::string(R"({"type": "mamdani", "impMethod": "prod", "numSamples": )") + std::to_string(numSamples) +
           R"(, "defuzzMethod": ")" + method + R"(", "inputs": [{"name": "a", "range": [0, 1], "mf": [)" +
           constantTerm("p", 1.0) + R"(]}], "outputs": [{"name": "y", "range": )" + range +
           R"(, "mf": [{"name": "s", "type": "setmf", "params": )" + set +
           R"(}]}], "rules": [{"antecedent": [1], "consequent": [1]}]})";
}

TEST(EndToEndMamdaniDefuzzification, SetsHoldingNaNAndCustomMethods) {
    ConstantMembership constmf;
    SetFromParams setmf;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string withNaN = R"([0.25, "NaN", 1, 0.5, 0])";
    // The description reader takes numbers only; NaN enters through a raw edit below.
    struct Case {
        const char *method;
        double expected;
        bool emptySetWarning;
    } cases[] = {
        {"centroid", nan, false}, {"bisector", 0.0, false},  // no running sum reaches a NaN half: x(1)
        {"mom", 2.0, false},                                 // NaN ignored when finding the maximum
        {"som", 2.0, false},      {"lom", 2.0, false},
    };
    for (const Case &c : cases) {
        fazolt::BuiltSystem sys = fazolt::buildSystem(setSystem(c.method, "[0, 4]", 5, "[0.25, 0.5, 1, 0.5, 0]"));
        orvane::Value outputMF = sys.record.field(0, "outputMF");
        orvane::Value mf = outputMF.field(0, "mf");
        mf.setField(0, "params",
                    orvane::fromJson(std::string(R"({"class": "double", "size": [1, 5], "data": )") + withNaN + "}"));
        orvane::CallOutcome out = testing_support::callChecked(
            6, {orvane::Value::doubleMatrix(1, 1, {0.5}), sys.record, testing_support::defaultDiagnostics()});
        ASSERT_FALSE(out.error) << c.method << ": " << out.error->message();
        double y = out.results[0].toDoubles()[0];
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(y)) << c.method << " gave " << y;
        } else {
            EXPECT_EQ(bits(y), bits(c.expected)) << c.method << " gave " << y;
        }
        EXPECT_TRUE(out.warnings.empty()) << c.method;
    }

    // An all-zero set under a custom method raises no empty-set diagnostic.
    orvane::CallOutcome custom = evaluate(setSystem("firstpoint", "[-3, 1]", 5, "[0, 0, 0, 0, 0]"), {{0.5}});
    ASSERT_FALSE(custom.error) << custom.error->message();
    expectBits(custom.results[0].toDoubles(), {-3.0}, "custom defuzzification");
    EXPECT_TRUE(custom.warnings.empty());
}

// "wtaver" on a Mamdani set right-divides 1 by the whole aggregated column.
TEST(EndToEndMamdaniDefuzzification, WtaverDividesByTheWholeSet) {
    ConstantMembership constmf;
    SetFromParams setmf;
    struct Case {
        const char *set;
        int numSamples;
        double expected;
    } cases[] = {
        {"[0.5, 2, 1]", 3, 2.0 * 0.0},        // R = [0 0.5 0]: y = x(1) * R(1)
        {"[0, 0, 0]", 3, 2.0 * 0.0},          // rank 0: R = 0
        {"[4, 1, 1]", 3, 2.0 * (1.0 / 4.0)},  // the first point is the pivot
    };
    for (const Case &c : cases) {
        orvane::CallOutcome out =
            evaluateWithMethod(setSystem("centroid", "[2, 6]", c.numSamples, c.set), "wtaver", {{0.5}});
        ASSERT_FALSE(out.error) << c.set << ": " << out.error->message();
        expectBits(out.results[0].toDoubles(), {c.expected}, std::string("wtaver of ") + c.set);
    }
}

TEST(EndToEndSugeno, CustomDefuzzificationReachesTheHostsStandardFunction) {
    ConstantMembership constmf;
    // "max"(a, T): a = 0.2*10 + 0.6*20 = 14, T = 0.8.
    orvane::CallOutcome out = evaluate(sugenoSystem("max", "1"), {{10, 20}});
    ASSERT_FALSE(out.error) << out.error->message();
    expectBits(out.results[0].toDoubles(), {0.2 * 10 + 0.6 * 20}, "max(a, T)");
}

}  // namespace
