// Nested descriptions: text rules mean what the equivalent numeric rules
// mean, to the last field of the record, and the builder's own arithmetic.
#include <fazolt/description.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Two inputs (three and two terms), two outputs (two terms each).
std::string systemWithRules(const std::string &rules, const std::string &type = "mamdani") {
    std::string outputTerms = type == "mamdani" ? R"([{"name": "off", "type": "trimf", "params": [0, 0, 1]},)"
                                                  R"( {"name": "on", "type": "trimf", "params": [0, 1, 1]}])"
                                                : R"([{"name": "off", "type": "constant", "params": [0]},)"
                                                  R"( {"name": "on", "type": "linear", "params": [1, 2, 3]}])";
    return R"({"name": "t", "type": ")" + type +
           R"(", "inputs": [)"
           R"({"name": "a", "range": [0, 1], "mf": [{"name": "x", "type": "trimf", "params": [0, 0, 1]},)"
           R"( {"name": "y", "type": "trimf", "params": [0, 1, 1]}, {"name": "z", "type": "gaussmf", "params": [1, 0]}]},)"
           R"( {"name": "b", "range": [-1, 1], "mf": [{"name": "x", "type": "sigmf", "params": [1, 0]},)"
           R"( {"name": "w", "type": "zmf", "params": [-1, 1]}]}],)"
           R"( "outputs": [{"name": "p", "range": [0, 1], "mf": )" +
           outputTerms + R"(}, {"name": "q", "range": [0, 1], "mf": )" + outputTerms +
           R"(}],)"
           R"( "rules": [)" +
           rules + "]}";
}

struct RulePair {
    int line;
    const char *type;
    const char *text;
    const char *numeric;
};

TEST(Description, TextRulesBuildTheRecordOfTheirNumericForm) {
    const std::vector<RulePair> cases = {
        {__LINE__, "mamdani", R"("if a is y then p is on")", R"({"antecedent": [2, 0], "consequent": [2, 0]})"},
        {__LINE__, "mamdani", R"("if a is not z and b is x then p is off and q is not on")",
         R"({"antecedent": [-3, 1], "consequent": [1, -2], "connection": 1})"},
        {__LINE__, "mamdani", R"("if b is w or a is x then q is on with 0.25")",
         R"({"antecedent": [1, 2], "consequent": [0, 2], "connection": 2, "weight": 0.25})"},
        {__LINE__, "mamdani", R"("  if   a is x   then p is on  with 1e-3 ")",
         R"({"antecedent": [1, 0], "consequent": [2, 0], "weight": 0.001})"},
        // Weights are read as the CSV reader reads numbers: '+', and 0 below the double range.
        {__LINE__, "mamdani", R"("if a is x then p is on with +0.5")",
         R"({"antecedent": [1, 0], "consequent": [2, 0], "weight": 0.5})"},
        {__LINE__, "mamdani", R"("if a is x then p is on with 1e-999")",
         R"({"antecedent": [1, 0], "consequent": [2, 0], "weight": 0})"},
        // Term names belong to their variable: "x" of b is b's first term.
        {__LINE__, "mamdani", R"("if b is x then p is on")", R"({"antecedent": [0, 1], "consequent": [2, 0]})"},
        {__LINE__, "sugeno", R"("if a is x and b is w then p is on and q is off with 0.5")",
         R"({"antecedent": [1, 2], "consequent": [2, 1], "weight": 0.5})"},
        {__LINE__, "sugeno", R"("if a is y or b is not x then q is on", "if a is z then p is off")",
         R"({"antecedent": [2, -1], "consequent": [0, 2], "connection": 2}, {"antecedent": [3, 0], "consequent": [1, 0]})"},
    };
    for (const RulePair &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        fazolt::BuiltSystem text = fazolt::buildSystem(systemWithRules(c.text, c.type));
        fazolt::BuiltSystem numeric = fazolt::buildSystem(systemWithRules(c.numeric, c.type));
        EXPECT_EQ(orvane::toJson(text.record), orvane::toJson(numeric.record));
    }
}

TEST(Description, TextRuleMistakesNameTheRule) {
    const std::vector<std::pair<const char *, const char *>> cases = {
        {R"("if a is x and b is w or a is y then p is on")",
         "rules[0]: a rule uses either \"and\" or \"or\", not both"},
        {R"("if a is x and a is y then p is on")", "rules[0]: \"a\" appears twice"},
        {R"("a is x then p is on")", "rules[0]: a text rule starts with \"if\""},
        {R"("if a is x p is on")", "rules[0]: expected \"and\", \"or\" or \"then\", got \"p\""},
        {R"("if a is x")", "rules[0]: missing \"then\""},
        {R"("if a is x then p is on with")", "rules[0]: unexpected \"with\""},
        {R"("if a is x then p is on with half")", "rules[0]: expected a number after \"with\", got \"half\""},
        {R"("if a is x then p is on with 1,5")", "rules[0]: expected a number after \"with\", got \"1,5\""},
        {R"("if a is x then p is on with 1e999")", "rules[0]: expected a number after \"with\""},
        {R"("if a x then p is on")", "rules[0]: expected \"is\" after \"a\""},
        {R"(3)", "rules[0]: expected a text rule or an object"},
    };
    for (const auto &[rule, message] : cases) {
        SCOPED_TRACE(rule);
        try {
            fazolt::buildSystem(systemWithRules(rule));
            ADD_FAILURE() << "no error";
        } catch (const orvane::HostError &e) {
            EXPECT_EQ(e.identifier(), "fazolt:description:Invalid");
            EXPECT_EQ(e.message().rfind(message, 0), 0u) << e.message();
        }
    }
}

uint64_t bitsOf(double v) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// lo + (N-1)*step misses hi for this range; the last sample point must be hi.
TEST(Description, SamplePointsStartAtLowAndEndExactlyAtHigh) {
    std::string d = R"({"type": "mamdani", "numSamples": 101, "inputs": [],)"
                    R"( "outputs": [{"range": [-9.5, 1.4]}, {"range": [0, 0.3]}]})";
    fazolt::BuiltSystem built = fazolt::buildSystem(d);
    std::vector<double> points = built.record.field(0, "outputSamplePoints").toDoubles();
    ASSERT_EQ(points.size(), 202u);
    EXPECT_EQ(bitsOf(points[0]), bitsOf(-9.5));
    EXPECT_EQ(bitsOf(points[200]), bitsOf(1.4));
    EXPECT_EQ(bitsOf(points[1]), bitsOf(0.0));
    EXPECT_EQ(bitsOf(points[201]), bitsOf(0.3));
    EXPECT_EQ(bitsOf(points[2]), bitsOf(-9.5 + 1.0 * ((1.4 - -9.5) / 100.0)));
}

TEST(Description, DefaultsFollowTheSystemType) {
    struct Case {
        const char *type;
        const char *methods[5];  // and, or, imp, agg, defuzz
        std::vector<double> orrSize, aggSize;
    };
    const std::vector<Case> cases = {
        {"mamdani", {"min", "max", "min", "max", "centroid"}, {101, 4}, {101, 2}},
        {"sugeno", {"prod", "probor", "prod", "sum", "wtaver"}, {2, 2}, {1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        fazolt::BuiltSystem b =
            fazolt::buildSystem(systemWithRules(R"("if a is x then p is on", "if b is w then q is off")", c.type));
        const char *fields[5] = {"andMethod", "orMethod", "impMethod", "aggMethod", "defuzzMethod"};
        for (int k = 0; k < 5; ++k) EXPECT_EQ(b.record.field(0, fields[k]).toText(), c.methods[k]) << fields[k];
        EXPECT_EQ(b.record.field(0, "orrSize").toDoubles(), c.orrSize);
        EXPECT_EQ(b.record.field(0, "aggSize").toDoubles(), c.aggSize);
        EXPECT_EQ(b.record.field(0, "numCumInputMFs").toDoubles(), (std::vector<double>{0, 3}));
        EXPECT_EQ(b.inputNames, (std::vector<std::string>{"a", "b"}));
    }
    fazolt::BuiltSystem unnamed = fazolt::buildSystem(R"({"type": "sugeno", "inputs": [{"range": [0, 1]}],)"
                                                      R"( "outputs": [{"range": [0, 1]}]})");
    EXPECT_EQ(unnamed.inputNames, (std::vector<std::string>{"input1"}));
    EXPECT_EQ(unnamed.outputNames, (std::vector<std::string>{"output1"}));
}

// The sums the module forms over sample points or rules must stay finite: a
// range or a Sugeno level that could pass the double range is refused with
// the largest safe magnitude, and that magnitude itself is accepted.
TEST(Description, MagnitudesWhoseSumsCanOverflowAreRefused) {
    auto mamdani = [](const std::string &range) {
        return R"({"type": "mamdani", "inputs": [], "outputs": [{"range": )" + range + "}]}";
    };
    auto sugeno = [](const std::string &range, const std::string &params) {
        return R"({"type": "sugeno", "inputs": [{"range": [-10, 5]}], "outputs": [{"range": )" + range +
               R"(, "mf": [{"type": "constant", "params": [0]}, {"type": "linear", "params": )" + params + "}]}]}";
    };
    struct Case {
        std::string description;
        const char *message;  // the start of the error
    };
    const std::vector<Case> cases = {
        {mamdani("[0, 2e307]"),
         "outputs[0].range: [0, 2e+307] can overflow the sums over 101 sample points; "
         "the largest safe magnitude is 4.1e296"},
        {mamdani("[-5e307, 5e307]"), "outputs[0].range: [-5e+307, 5e+307] can overflow"},
        {sugeno("[0, 1e300]", "[0, 0]"), "outputs[0].range: [0, 1e+300] is larger than a Sugeno output may be"},
        {sugeno("[0, 1]", "[1e308, 0]"),
         "outputs[0].mf[1].params: the output level goes beyond the double range "
         "for inputs within their ranges"},
        {sugeno("[0, 1]", "[-1e289, 0]"), "outputs[0].mf[1].params: the output level reaches 1e+290 for inputs"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        try {
            fazolt::buildSystem(c.description);
            ADD_FAILURE() << "no error";
        } catch (const orvane::HostError &e) {
            EXPECT_EQ(e.message().rfind(c.message, 0), 0u) << e.message();
            // The magnitude named is safe: a range of it builds.
            std::string::size_type at = e.message().find("largest safe magnitude is ");
            ASSERT_NE(at, std::string::npos) << e.message();
            std::string safe = e.message().substr(at + std::strlen("largest safe magnitude is "));
            std::string range = "[-" + safe + ", " + safe + "]";
            bool isMamdani = c.description.find("mamdani") != std::string::npos;
            EXPECT_NO_THROW(fazolt::buildSystem(isMamdani ? mamdani(range) : sugeno(range, "[0, 0]")));
        }
    }
    // Far below the bounds, the extremes of ordinary systems build.
    EXPECT_NO_THROW(fazolt::buildSystem(mamdani("[-1e280, 1e280]")));
    EXPECT_NO_THROW(fazolt::buildSystem(sugeno("[-1e280, 1e280]", "[1e280, -1e280]")));
}

}  // namespace
