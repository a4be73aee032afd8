// FCL and FLL: round trips to identical records, hand-written files read
// as their descriptions, refusals and bad files with file and line, and the
// host functions that serve FCL's operators and point lists.
#include "cli_run.h"
#include "membership/shapeRules.h"
#include "test_support.h"

#include <fazolt/fazolt.h>
#include <fazolt/formats.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using fazolt::SystemFormat;

std::string sourcePath(const std::string &relative) { return std::string(FAZOLT_SOURCE_DIR) + "/" + relative; }

// The record, and the outputs' defaults, which the host applies.
std::string recordOf(const std::string &description) {
    fazolt::BuiltSystem built = fazolt::buildSystem(description, fazolt::HostFunctionNames::unchecked);
    std::string defaults;
    for (const std::optional<double> &d : built.outputDefaults) defaults += " " + (d ? std::to_string(*d) : "-");
    return orvane::toJson(built.record) + defaults;
}

const char *formatName(SystemFormat f) { return f == SystemFormat::Fcl ? "FCL" : "FLL"; }

// Empty `refusal`: the system goes through the language and back to the
// identical record, and writing it again gives the same text. Otherwise the
// writer refuses with a message holding `refusal`.
void expectRoundTrip(const std::string &description, SystemFormat format, const std::string &refusal,
                     const std::string &label) {
    SCOPED_TRACE(label + " through " + formatName(format));
    if (!refusal.empty()) {
        try {
            fazolt::descriptionToText(description, format);
            ADD_FAILURE() << "expected a refusal holding: " << refusal;
        } catch (const orvane::HostError &e) {
            EXPECT_NE(e.message().find(refusal), std::string::npos) << e.message();
            EXPECT_NE(e.identifier().find(":Unsupported"), std::string::npos) << e.identifier();
        }
        return;
    }
    std::string text = fazolt::descriptionToText(description, format);
    std::string back = fazolt::descriptionFromText(text, format, "written");
    EXPECT_EQ(recordOf(back), recordOf(description)) << text;
    EXPECT_EQ(fazolt::descriptionToText(back, format), text);
}

TEST(Formats, RoundTripsGiveIdenticalRecords) {
    struct Case {
        const char *file;
        const char *fclRefusal;
        const char *fllRefusal;
    };
    const Case cases[] = {
        {"examples/dimmer/dimmer.json", "", ""},
        {"examples/heater/heater.json", "", "defuzzMethod \"mom\": the mean of every maximum point"},
        {"examples/sugeno/brake.json", "", ""},
        {"examples/custom_method/lukasiewicz.json", "method \"lukasiewicz\" has no FCL form",
         "method \"lukasiewicz\" has no FLL form"},
        {"tests/data/formats/shapes_mamdani.json", "", ""},
        {"tests/data/formats/operators_fcl.json", "", "method \"nsum\" has no FLL form"},
        {"tests/data/formats/singletons_sugeno.json", "", ""},
        {"tests/data/formats/rightmost_fll.json", "", ""},  // numSamples 257: a comment in FCL
        {"tests/data/formats/weighted_sum_fll.json", "defuzzMethod \"wtsum\"", ""},
    };
    for (const Case &c : cases) {
        std::string description = slurp(sourcePath(c.file));
        expectRoundTrip(description, SystemFormat::Fcl, c.fclRefusal, c.file);
        expectRoundTrip(description, SystemFormat::Fll, c.fllRefusal, c.file);
    }
}

TEST(Formats, HandWrittenFilesReadAsTheirDescriptions) {
    const std::pair<const char *, const char *> cases[] = {
        {"handwritten.fcl", "handwritten_fcl.json"},
        {"handwritten_sugeno.fcl", "handwritten_sugeno_fcl.json"},
        {"handwritten.fll", "handwritten_fll.json"},
    };
    for (const auto &[file, expected] : cases) {
        SCOPED_TRACE(file);
        std::string path = sourcePath(std::string("tests/data/formats/") + file);
        std::string description = fazolt::descriptionFromText(slurp(path), fazolt::formatOfPath(path), path);
        EXPECT_EQ(recordOf(description), recordOf(slurp(sourcePath(std::string("tests/data/formats/") + expected))));
        expectRoundTrip(description, fazolt::formatOfPath(path), "", file);
    }
}

// The folder of real files (checked against fuzzylite by the interop test)
// goes through its own language and back to the identical record.
TEST(Formats, RealFilesRoundTripInTheirLanguage) {
    for (const char *file : {"heating.fll", "irrigation.fll", "mixer.fcl", "greenhouse_vent.fll", "tank_level.fcl",
                             "dosing_tsk.fll", "conveyor.fcl", "feed_pump.fll", "kiln_gap.fll", "fan_hedges.fll",
                             "kiln_hedges.fcl", "pump_shapes.fll"}) {
        std::string path = sourcePath(std::string("tests/data/formats/files/") + file);
        SystemFormat format = fazolt::formatOfPath(path);
        std::string description = fazolt::descriptionFromText(slurp(path), format, path);
        expectRoundTrip(description, format, "", file);
        // Hedges and fuzzylite's shapes say the same in the other language.
        if (std::string(file).find("_hedges") != std::string::npos || std::string(file) == "pump_shapes.fll")
            expectRoundTrip(description, format == SystemFormat::Fcl ? SystemFormat::Fll : SystemFormat::Fcl, "", file);
    }
}

// Every command reads the languages directly: the same rows give the same
// bits as the description, the operators' host functions included.
TEST(Formats, EvalReadsFclAndFllDirectly) {
    std::string inputs = tempPath("rows.csv");
    writeFile(inputs, "1,100\n3,900\n5,1400\n7,2100\n9.5,2900\n-1,3500\n");
    std::string json = sourcePath("tests/data/formats/operators_fcl.json");
    std::string fcl = tempPath("operators.fcl");
    writeFile(fcl, fazolt::descriptionToText(slurp(json), SystemFormat::Fcl));
    CliResult fromJson = runCli({"eval", json, inputs, "--on-out-of-range", "none"});
    CliResult fromFcl = runCli({"eval", fcl, inputs, "--on-out-of-range", "none"});
    ASSERT_EQ(fromJson.status, 0) << fromJson.err;
    EXPECT_EQ(fromFcl.status, 0) << fromFcl.err;
    EXPECT_EQ(fromFcl.out, fromJson.out);
}

TEST(Formats, ConvertPicksLanguagesByExtensionOrOption) {
    std::string fll = tempPath("dimmer.fll");
    CliResult toFll = runCli({"convert", sourcePath("examples/dimmer/dimmer.json"), fll});
    ASSERT_EQ(toFll.status, 0) << toFll.err;
    CliResult toFcl = runCli({"convert", fll, "-", "--to", "fcl"});
    ASSERT_EQ(toFcl.status, 0) << toFcl.err;
    EXPECT_EQ(toFcl.out,
              fazolt::descriptionToText(slurp(sourcePath("examples/dimmer/dimmer.json")), SystemFormat::Fcl));
    // --samples sets the count on any command that loads a system; FCL keeps it in a comment.
    CliResult withSamples = runCli({"convert", fll, "-", "--to", "fcl", "--samples", "100"});
    EXPECT_NE(withSamples.out.find("\n// numSamples := 100\n"), std::string::npos) << withSamples.out;
    std::string rows = tempPath("dimmer_rows.csv"), fcl100 = tempPath("dimmer100.fcl");
    writeFile(rows, "10,0.2\n70,0.9\n");
    writeFile(fcl100, withSamples.out);
    std::string json100 = tempPath("dimmer100.json");
    writeFile(json100, fazolt::descriptionWithSamples(slurp(sourcePath("examples/dimmer/dimmer.json")), 100));
    CliResult expected = runCli({"eval", json100, rows});
    EXPECT_EQ(runCli({"eval", fll, rows, "--samples", "100"}).out, expected.out);
    EXPECT_EQ(runCli({"eval", fcl100, rows}).out, expected.out);
    EXPECT_NE(runCli({"eval", fll, rows}).out, expected.out);
    CliResult refused =
        runCli({"convert", sourcePath("tests/data/formats/weighted_sum_fll.json"), tempPath("tariff.fcl")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("tariff.fcl: cannot say defuzzMethod \"wtsum\""), std::string::npos) << refused.err;
}

// Each bad file gives a line naming the file, the line and the construct
// (its first problem first), nothing on standard output, and exit status 1.
TEST(Formats, BadFilesNameFileLineAndConstruct) {
    const std::string head = "FUNCTION_BLOCK f\nVAR_INPUT\n x : REAL;\nEND_VAR\nVAR_OUTPUT\n y : REAL;\nEND_VAR\n";
    const std::string fuzzify = "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (10, 0);\nEND_FUZZIFY\n";
    const std::string defuzzify =
        "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : COG;\nEND_DEFUZZIFY\n";
    const std::string rules = "RULEBLOCK r\n AND : MIN;\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\n";
    const std::string fllHead =
        "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n range: 0 1\n"
        " aggregation: Maximum\n defuzzifier: Centroid 100\n term: b Triangle 0 0.5 1\nRuleBlock: r\n"
        " conjunction: Minimum\n implication: Minimum\n";
    struct Case {
        const char *ext;
        std::string text;
        const char *where;  // "LINE: construct"
        const char *what;
    };
    const Case cases[] = {
        {"fcl", head + "FUZZIFY x\n TERM a := (0, 0) (5, 1);\n", "8: FUZZIFY x",
         "not terminated (missing END_FUZZIFY)"},
        {"fcl", head + fuzzify + defuzzify + "RULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\n", "17: RULEBLOCK r",
         "missing END_RULEBLOCK"},
        {"fcl",
         head + fuzzify + defuzzify +
             "RULEBLOCK r\n RULE 1 : IF z IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n",
         "18: RULE", "unknown input variable \"z\""},
        {"fcl",
         head + "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (10, 0);\n TERM a := (1, 0) (2, "
                "1);\nEND_FUZZIFY\n",
         "11: TERM a of x", "a second term of this name"},
        {"fcl",
         head + "FUZZIFY x\n TERM g := Gaussian 5 2;\nEND_FUZZIFY\n" + defuzzify + rules + "END_FUNCTION_BLOCK\n",
         "8: FUZZIFY x", "missing RANGE"},
        {"fcl",
         head + fuzzify + "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := 0.5;\n METHOD : COG;\nEND_DEFUZZIFY\n" + rules +
             "END_FUNCTION_BLOCK\n",
         "14: TERM b of y", "a singleton output term needs METHOD : COGS"},
        {"fcl",
         head + fuzzify +
             "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := Linear 1 2 3;\n METHOD : COGS;\nEND_DEFUZZIFY\n" + rules +
             "END_FUNCTION_BLOCK\n",
         "14: TERM b of y", "Linear takes 2 coefficients"},
        {"fcl", head + fuzzify + "DEFUZZIFY y\n RANGE := (0 .. 1);\n DEFAULT := NC\nEND_DEFUZZIFY\n",
         "14: DEFAULT of y", "missing \";\" at the end of the line"},
        {"fcl", head + fuzzify + defuzzify + "RULEBLOCK r\n AND : HPROD;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n",
         "18: AND HPROD", "not supported"},
        {"fcl",
         head + fuzzify +
             "DEFUZZIFY y\n RANGE := (-1 .. 1);\n TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : LM;\nEND_DEFUZZIFY\n" +
             rules + "END_FUNCTION_BLOCK\n",
         "15: METHOD LM", "crosses 0"},
        {"fcl", head + "FUZZIFY x\n TERM a := Cosine 5 0;\n", "9: TERM a of x", "Cosine needs a width above 0"},
        {"fcl", head + "(* never closed\n", "8: comment", "not closed"},
        {"fcl", "FUNCTION_BLOCK f\n// numSamples := 1\n", "2: // numSamples", "a whole number from 2"},
        {"fll", fllHead + " rule: if x is very a then y is very b\n", "13: rule", "hedge \"very\" in a conclusion"},
        {"fll", fllHead + " rule: if x is not not a then y is b\n", "13: rule", "\"not not\""},
        {"fll", fllHead + " activation: Highest 2\n", "13: activation Highest 2", "General only"},
        {"fll",
         fllHead + "OutputVariable: z\n range: 0 1\n aggregation: Maximum\n defuzzifier: Bisector 100\n"
                   " term: c Triangle 0 0.5 1\n",
         "16: defuzzifier Bisector",
         "\"Bisector\" differs from \"Centroid\" on line 8 (one method for the whole system)"},
        {"fll", "Engine: e\nInputVariable: x\n range: 0 10\n term: a Concave 5 5\n", "4: term a of x",
         "Concave needs an inflection other than its end"},
        {"fll", "Engine: e\nInputVariable: x\n range: 0 10\n lock-range: yes\n", "4: InputVariable x lock-range: yes",
         "expected true or false"},
        {"fll", fllHead + " rule: if x is a then y is c\n", "13: rule", "unknown term \"c\" of output \"y\""},
        {"fll",
         "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\n term: a Triangle 1 2 3\n" +
             fllHead.substr(fllHead.find("OutputVariable")),
         "5: term a of x", "a second term"},
        {"fll",
         "Engine: e\nInputVariable: x\n term: a Triangle 0 5 10\nOutputVariable: y\n range: 0 1\n aggregation: "
         "Maximum\n"
         " defuzzifier: Centroid 100\n",
         "2: InputVariable x", "missing range"},
    };
    // An output's keys go in after its first line (line 6).
    auto fllOutput = [](const std::string &line) {
        return "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n" + line +
               "\n range: 0 1\n aggregation: Maximum\n defuzzifier: Centroid 100\n term: b Triangle 0 0.5 1\n";
    };
    const Case refusals[] = {
        {"fll", fllOutput(" lock-previous: true"), "6: OutputVariable y lock-previous: true", "no previous value"},
        {"fll", fllOutput(" term: h Triangle 0 0.5 1 0.8"), "6: term h of y", "height 0.8: fuzzylite scales"},
        {"fll", fllOutput(" term: r Ramp 0.5 0.5"), "6: term r of y", "a Ramp needs two different ends"},
        {"fll", fllHead + " rule: if x is any or x is a then y is b\n", "13: rule", "\"any\" in an \"or\" rule"},
        {"fll", fllHead + " rule: if x is any then y is b\n", "13: rule", "only conditions are \"any\""},
        {"fll", fllOutput(" term: d Spike 1 0"), "6: term d of y", "Spike needs a width other than 0"},
        {"fll",
         "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n range: 0 1\n"
         " aggregation: NormalizedSum\n defuzzifier: Centroid 100\n term: b Triangle 0 0.5 1\nRuleBlock: r\n"
         " implication: Minimum\n",
         "7: aggregation NormalizedSum", "not supported"},
        {"fll", fllHead + " rule: if x is a then y is not b\n", "13: rule", "\"not\" in a conclusion"},
        {"fcl", "FUNCTION_BLOCK f\nVAR_INPUT\n x : INT;\n", "3: VAR_INPUT x", "type INT is not supported"},
        {"fcl",
         head + fuzzify + defuzzify +
             "RULEBLOCK r\n RULE 1 : IF (x IS a) THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n",
         "18: RULE", "parentheses are not supported"},
        {"fcl",
         head + fuzzify +
             "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := 0.5;\n METHOD : COGS;\n ACCU : "
             "MAX;\nEND_DEFUZZIFY\nRULEBLOCK r\n"
             " RULE 1 : IF x IS a THEN y IS b;\n RULE 2 : IF x IS NOT a THEN y IS "
             "b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n",
         "20: RULE", "use ACCU : SUM"},
        {"fcl",
         "FUNCTION_BLOCK f\nVAR_INPUT\n x : REAL;\nEND_VAR\nVAR_OUTPUT\n y : REAL;\n z : REAL;\nEND_VAR\n" + fuzzify +
             "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := 0.5;\n METHOD : COGS;\nEND_DEFUZZIFY\n"
             "DEFUZZIFY z\n RANGE := (0 .. 4);\n TERM c := 2;\n METHOD : COGS;\nEND_DEFUZZIFY\nRULEBLOCK r\n"
             " RULE 1 : IF x IS a THEN y IS b, z IS c;\n RULE 2 : IF x IS NOT a THEN y IS b;\nEND_RULEBLOCK\n"
             "END_FUNCTION_BLOCK\n",
         "25: RULE", "concludes nothing about output \"z\": with several Sugeno outputs"},
    };
    int k = 0;
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), std::begin(refusals), std::end(refusals));
    for (const Case &c : all) {
        std::string path = tempPath("bad" + std::to_string(k++) + "." + c.ext);
        SCOPED_TRACE(path + "\n" + c.text);
        writeFile(path, c.text);
        CliResult r = runCli({"eval", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        std::string prefix = std::string("error: fazolt:") + c.ext + ":Invalid: " + path + ":" + c.where + ": ";
        EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
        EXPECT_NE(r.err.substr(0, r.err.find('\n')).find(c.what), std::string::npos) << r.err;
        std::string linePrefix = std::string("error: fazolt:") + c.ext + ":Invalid: " + path + ":";
        for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1)
            EXPECT_EQ(r.err.compare(at, linePrefix.size(), linePrefix), 0) << r.err;
    }
}

// FCL and FLL files become descriptions, so the description's checks of
// magnitudes hold for them too, naming the description's path.
TEST(Formats, SumsThatCanOverflowAreRefusedInEveryLanguage) {
    const std::pair<const char *, std::string> cases[] = {
        {"fcl",
         "FUNCTION_BLOCK f\nVAR_INPUT\n x : REAL;\nEND_VAR\nVAR_OUTPUT\n y : REAL;\nEND_VAR\n"
         "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (10, 0);\nEND_FUZZIFY\n"
         "DEFUZZIFY y\n RANGE := (0 .. 2e307);\n TERM b := (0, 0) (1e307, 1) (2e307, 0);\n METHOD : COG;\n"
         "END_DEFUZZIFY\nRULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n"},
        {"fll",
         "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n range: 0 1\n"
         " defuzzifier: WeightedAverage TakagiSugeno\n term: b Linear 1e308 0\nRuleBlock: r\n"
         " conjunction: AlgebraicProduct\n rule: if x is a then y is b\n"},
    };
    const char *messages[] = {"outputs[0].range: [0, 2e+307] can overflow the sums over 101 sample points",
                              "outputs[0].mf[0].params: the output level goes beyond the double range"};
    for (size_t k = 0; k < 2; ++k) {
        std::string path = tempPath(std::string("huge.") + cases[k].first);
        writeFile(path, cases[k].second);
        CliResult r = runCli({"check", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(messages[k]), std::string::npos) << r.err;
    }
}

// A file is read straight into the description the builder takes: a large
// FCL or FLL file loads within 1.5 times the time of the same system as JSON
// (the best of several loads each, so that a busy machine does not decide).
TEST(Formats, LargeFilesLoadAboutAsFastAsTheirJson) {
    const int numInputs = 3, numTerms = 60, numRules = 400;
    auto variable = [&](const std::string &name) {
        std::string text = "{\"name\": \"" + name + "\", \"range\": [0, " + std::to_string(numTerms) + "], \"mf\": [";
        for (int t = 0; t < numTerms; ++t) {
            text += (t > 0 ? ", " : "") + std::string("{\"name\": \"t") + std::to_string(t) +
                    "\", \"type\": \"trimf\", \"params\": [" + std::to_string(t - 1) + ", " + std::to_string(t) +
                    ", " + std::to_string(t + 1) + "]}";
        }
        return text + "]}";
    };
    std::string json = "{\"name\": \"large\", \"type\": \"mamdani\", \"inputs\": [";
    for (int i = 0; i < numInputs; ++i) json += (i > 0 ? ", " : "") + variable("x" + std::to_string(i));
    json += "], \"outputs\": [" + variable("y") + "], \"rules\": [";
    for (int r = 0; r < numRules; ++r) {
        json += (r > 0 ? ", \"" : "\"") + std::string("if x0 is t") + std::to_string(r % numTerms) + " and x1 is t" +
                std::to_string(r * 7 % numTerms) + " and x2 is t" + std::to_string(r * 13 % numTerms) +
                " then y is t" + std::to_string(r * 17 % numTerms) + "\"";
    }
    json += "]}";
    auto bestLoadSeconds = [](const std::string &path) {
        double best = 1e9;
        for (int k = 0; k < 5; ++k) {
            auto start = std::chrono::steady_clock::now();
            fazolt::System system = fazolt::System::fromFile(path, FAZOLT_MODULE_PATH);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            EXPECT_EQ(system.numInputs(), 3);
        }
        return best;
    };
    std::string jsonPath = tempPath("large.json");
    writeFile(jsonPath, json);
    double jsonSeconds = bestLoadSeconds(jsonPath);
    for (SystemFormat format : {SystemFormat::Fcl, SystemFormat::Fll}) {
        std::string path = tempPath(format == SystemFormat::Fcl ? "large.fcl" : "large.fll");
        writeFile(path, fazolt::descriptionToText(json, format));
        EXPECT_LE(bestLoadSeconds(path), 1.5 * jsonSeconds) << formatName(format);
    }
}

// One run says every problem of a file, a line each in file order within
// each stage, with the closest name where one is near, and with the file's
// control bytes and broken UTF-8 escaped.
TEST(Formats, OneRunSaysEveryProblem) {
    std::string fcl = tempPath("many.fcl"), fll = tempPath("many.fll");
    writeFile(fcl,
              "FUNCTION_BLOCK plant\nVAR_INPUT level : REAL; discharge : REAL; END_VAR\n"
              "VAR_OUTPUT valve : REAL; END_VAR\n"
              "FUZZIFY level\n RANGE := (0 .. 10);\n TERM low := Gausian 2 1;\n TERM high := (5, 0) (10, 1);\n"
              "FUZZIFY discharge\n RANGE := (0 .. 5);\n TERM normal := Ramp 3 0;\n TERM big := Ramp 2 5;\n"
              "END_FUZZIFY\nDEFUZZIFY valve\n RANGE := (0 .. 1);\n TERM open := (0.5, 0) (1, 1);\n"
              " METHOD : CoG;\n ACCU : MAXX;\nEND_DEFUZZIFY\nRULEBLOCK main\n"
              " RULE 1 : IF levl IS high THEN valve IS open;\n"
              " RULE 2 : IF level IS high AND (discharge IS normal OR discharge IS big) THEN valve IS open;\n"
              "END_FUNCTION_BLOCK\n");
    writeFile(fll,
              "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n"
              " range: 0 1\n defuzzifer: Centroid 100\n aggregation: Maximum\n term: \x1b[31mred Triangle 0 1 2\n"
              " term: c Triangle 0 0.5 1\nRuleBlock: r\n conjunction: Min\n implication: Minimum\n"
              " rule: if x is b then y is \xff\n");
    CliResult fromFcl = runCli({"eval", fcl});
    EXPECT_EQ(fromFcl.status, 1);
    std::string e = "error: fazolt:fcl:Invalid: " + fcl + ":";
    EXPECT_EQ(fromFcl.err,
              e +
                  "6: TERM low of level: unknown or unsupported shape \"Gausian\" (nor a registered function); did you "
                  "mean \"Gaussian\"?\n" +
                  e + "4: FUZZIFY level: not terminated (missing END_FUZZIFY)\n" + e +
                  "19: RULEBLOCK main: not terminated (missing END_RULEBLOCK)\n" + e +
                  "17: ACCU MAXX: not supported (MAX, ASUM, BSUM, NSUM, SUM, or a registered function); did you mean "
                  "\"MAX\"?\n" +
                  e + "20: RULE: unknown input variable \"levl\"; did you mean \"level\"?\n" + e +
                  "21: RULE: parentheses are not supported in rules (a rule here is all \"and\" or all \"or\"; write "
                  "one rule per alternative)\n");
    CliResult fromFll = runCli({"eval", fll});
    e = "error: fazolt:fll:Invalid: " + fll + ":";
    EXPECT_EQ(fromFll.err,
              e + "7: OutputVariable y defuzzifer: not supported; did you mean \"defuzzifier\"?\n" + e +
                  "5: OutputVariable y: missing defuzzifier\n" + e +
                  "9: term \\x1B[31mred of y: expected a name (letters, digits, _ and .)\n" + e +
                  "12: conjunction Min: not supported (Minimum, AlgebraicProduct, BoundedDifference, or a registered "
                  "function)\n" +
                  e + "14: rule: unknown term \"b\" of input \"x\"; did you mean \"a\"?\n");
}

// A misspelt block name, a missing ";" and a swapped pair of letters are
// each said once, where they are, and the rest of the file is read as
// written: no problem follows from them.
TEST(Formats, EachLoadingFaultIsSaidOnceWhereItIs) {
    auto fcl = [](const std::string &fuzzify, const std::string &rule) {
        return "FUNCTION_BLOCK f\nVAR_INPUT temp : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n" + fuzzify +
               " RANGE := (0 .. 10);\n TERM low := (0, 1) (5, 0);\n TERM high := (5, 0) (10, 1)\n"
               " TERM warm := (2, 0) (5, 1) (8, 0);\nEND_FUZZIFY\nDEFUZZIFY y\n RANGE := (0 .. 1);\n"
               " TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : COG;\nEND_DEFUZZIFY\nRULEBLOCK r\n"
               " RULE 1 : IF temp IS " +
               rule + " THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n";
    };
    const std::pair<std::string, std::string> cases[] = {
        {fcl("FUZZIFY temp\n", "warm"), "7: TERM high of temp: missing \";\" at the end of the line\n"},
        {fcl("FUZZIFY temp\n", "hihg"),
         "7: TERM high of temp: missing \";\" at the end of the line\n"
         "16: RULE: unknown term \"hihg\" of input \"temp\"; did you mean \"high\"?\n"},
        {fcl("FUZZIFI temp\n", "wram"),
         "4: FUNCTION_BLOCK: \"FUZZIFI\" is not supported here; did you mean \"FUZZIFY\"?\n"
         "7: TERM high of temp: missing \";\" at the end of the line\n"
         "16: RULE: unknown term \"wram\" of input \"temp\"; did you mean \"warm\"?\n"},
        {fcl("OPTIONS fast := 1; slow := 2;\nFUZZIFY temp\n", "warm"),
         "4: FUNCTION_BLOCK: \"OPTIONS\" is not supported here\n"
         "8: TERM high of temp: missing \";\" at the end of the line\n"},
    };
    for (const auto &[text, expected] : cases) {
        std::string path = tempPath("once.fcl");
        writeFile(path, text);
        CliResult r = runCli({"check", path});
        std::string e = "error: fazolt:fcl:Invalid: " + path + ":";
        std::string want;
        for (size_t at = 0; at < expected.size(); at = expected.find('\n', at) + 1) {
            want += e + expected.substr(at, expected.find('\n', at) + 1 - at);
        }
        EXPECT_EQ(r.err, want) << text;
    }
    std::string json = R"({"type": "mamdani", "inputs": [{"name": "tmep", "range": [0, 1]}], "outputs": [],)"
                       R"( "rules": ["if temp is a then"]})";
    try {
        fazolt::buildSystem(json, fazolt::HostFunctionNames::unchecked);
        ADD_FAILURE() << "an unknown input";
    } catch (const orvane::HostError &e) {
        EXPECT_NE(e.message().find("did you mean \"tmep\"?"), std::string::npos) << e.message();
    }
}

// Line ends of any kind (a "//" comment ends at a lone CR too) and FLL's
// "key : value" read as the peers read them.
TEST(Formats, LineEndsAndSpacedColonsReadAsThePeersReadThem) {
    std::string fcl =
        "FUNCTION_BLOCK f // the plant\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n"
        "FUZZIFY x // level\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (10, 0);\nEND_FUZZIFY\n"
        "DEFUZZIFY y\n RANGE := (0 .. 1);\n TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : COG;\n"
        "END_DEFUZZIFY\nRULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n";
    std::string fll =
        "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\nOutputVariable: y\n"
        " range: 0 1\n aggregation: Maximum\n defuzzifier: Centroid 100\n term: b Triangle 0 0.5 1\n"
        "RuleBlock: r\n implication: Minimum\n rule: if x is a then y is b\n";
    auto replaced = [](std::string text, const std::string &from, const std::string &to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    };
    const std::tuple<SystemFormat, std::string, std::string> cases[] = {
        {SystemFormat::Fcl, fcl, replaced(fcl, "\n", "\r")},
        {SystemFormat::Fcl, fcl, replaced(fcl, "\n", "\r\n")},
        {SystemFormat::Fll, fll, replaced(fll, "\n", "\r")},
        {SystemFormat::Fll, fll, replaced(replaced(fll, ": ", " : "), "term :", "term\t:")},
    };
    for (const auto &[format, plain, variant] : cases) {
        SCOPED_TRACE(variant);
        EXPECT_EQ(recordOf(fazolt::descriptionFromText(variant, format, "variant")),
                  recordOf(fazolt::descriptionFromText(plain, format, "plain")));
    }
    std::string bad = replaced(fcl, "\n", "\r");
    bad.replace(bad.find("(0, 0) (5, 1)"), 6, "(0, 0");
    try {
        fazolt::descriptionFromText(bad, SystemFormat::Fcl, "cr.fcl");
        ADD_FAILURE() << "a bad point";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.message().substr(0, 10), "cr.fcl:6: ") << e.message();
    }
}

// What the engine represents exactly reads as the file that spells it out:
// the same record. Each pair: the file with the construct, without it.
TEST(Formats, ExactEquivalentsReadAsTheirSpelledOutForms) {
    const std::string fllInputs =
        "Engine: e\nInputVariable: x\n range: 0 10\n term: a Triangle 0 5 10\n"
        "InputVariable: z\n range: -1 1\n term: c Ramp -1 1\n";
    auto fllMamdani = [&](const std::string &terms, const std::string &rule) {
        return fllInputs + "OutputVariable: y\n range: 0 10\n aggregation: Maximum\n defuzzifier: Centroid 100\n" +
               terms + "RuleBlock: r\n conjunction: Minimum\n implication: Minimum\n rule: " + rule + "\n";
    };
    auto fllSugeno = [&](const std::string &aggregation, const std::string &linear) {
        return fllInputs + "OutputVariable: y\n range: 0 10\n aggregation: " + aggregation +
               "\n defuzzifier: WeightedAverage\n term: b Linear " + linear +
               "\nRuleBlock: r\n rule: if x is a then y is b\n";
    };
    const std::string fclHead =
        "FUNCTION_BLOCK f\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n"
        "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := ";
    auto fcl = [&](const std::string &term, const std::string &output) {
        return fclHead + term + ";\nEND_FUZZIFY\nDEFUZZIFY y\n" + output +
               "END_DEFUZZIFY\nRULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n";
    };
    const std::string cog = " RANGE := (0 .. 1);\n TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : COG;\n";
    const std::string cogs = " RANGE := (0 .. 1);\n TERM b := Linear 2;\n METHOD : COGS;\n";
    struct Case {
        const char *ext;
        std::string with, without;
    };
    const Case cases[] = {
        {"fll",
         "\xEF\xBB\xBF" + fllMamdani(" term: r Ramp 2 8\n term: f Ramp 8 2.5\n term: s Rectangle 3 6\n"
                                     " term: h Triangle 1 5 9 1.0\n",
                                     "if x is a and z is any then y is s"),
         fllMamdani(" term: r Discrete 2 0 8 1\n term: f Discrete 2.5 1 8 0\n term: s Trapezoid 3 3 6 6\n"
                    " term: h Triangle 1 5 9\n",
                    "if x is a then y is s")},
        {"fll", fllSugeno("Maximum", "2 3"), fllSugeno("none", "2 3 0")},
        {"fcl", "\xEF\xBB\xBF" + fcl("Ramp 10 0", cog), fcl("(0, 1) (10, 0)", cog)},
        {"fcl", fcl("Rectangle 2 4", cogs),
         fcl("Trapezoid 2 2 4 4", " RANGE := (0 .. 1);\n TERM b := Linear 2 0;\n METHOD : COGS;\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.with);
        SystemFormat format = fazolt::formatNamed(c.ext);
        EXPECT_EQ(recordOf(fazolt::descriptionFromText(c.with, format, "with")),
                  recordOf(fazolt::descriptionFromText(c.without, format, "without")));
    }
}

// lock-range is the description's "clamp": the value bounded to the range
// before the module's call (inputs) or after it (outputs), on every path.
TEST(Formats, LockRangeClampsInputsAndOutputs) {
    std::string path = sourcePath("tests/data/formats/files/feed_pump.fll");
    std::string description = fazolt::descriptionFromText(slurp(path), SystemFormat::Fll, path);
    EXPECT_NE(description.find("\"range\": [0, 50], \"clamp\": true"), std::string::npos) << description;
    expectRoundTrip(description, SystemFormat::Fll, "", "feed_pump");
    expectRoundTrip(description, SystemFormat::Fcl, "clamp of flow: FCL has no way to bound", "feed_pump");
    fazolt::System system = fazolt::System::fromDescription(description);
    fazolt::Matrix rows = fazolt::Matrix::fromRows({{60, 0.5}, {50, 0.5}, {-10, 4}, {0, 4}});
    fazolt::Matrix out =
        system.evaluate(rows, {fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING}).outputs;
    EXPECT_EQ(out.at(0, 0), 100.0);  // 184 unbounded
    EXPECT_EQ(testing_support::bits(out.at(0, 0)), testing_support::bits(out.at(1, 0)));
    EXPECT_EQ(testing_support::bits(out.at(2, 0)), testing_support::bits(out.at(3, 0)));
    std::string csv = tempPath("feed.csv");
    writeFile(csv, "60,0.5\n");
    EXPECT_EQ(runCli({"eval", path, csv}).out, "stroke\n100\n");
    try {
        fazolt::buildSystem(R"({"type": "sugeno", "inputs": [{"range": [0, 1], "clamp": 1}], "outputs": []})");
        ADD_FAILURE() << "a clamp that is not true or false";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.message(), "inputs[0].clamp: expected true or false");
    }
}

// With --functions, a file may name a registered function as a method or a
// term type, as a description may; without, the name is refused.
TEST(Formats, FilesNameRegisteredFunctions) {
    std::string lua = tempPath("named.lua"), fll = tempPath("named.fll"), fcl = tempPath("named.fcl");
    writeFile(lua,
              "function halfmin(v)\n  local m = 1.0\n  for _, x in ipairs(v) do m = math.min(m, x) end\n"
              "  return m / 2\nend\nfunction rampup(x, p)\n  local out = {}\n  for i, xi in ipairs(x) do\n"
              "    out[i] = math.min(1.0, math.max(0.0, (xi - p[1]) / (p[2] - p[1])))\n  end\n  return out\nend\n");
    writeFile(fll,
              "Engine: e\nInputVariable: x\n range: 0 10\n term: a rampup 2 8\nOutputVariable: y\n range: 0 1\n"
              " aggregation: Maximum\n defuzzifier: Centroid 101\n term: b Triangle 0 0.5 1\nRuleBlock: r\n"
              " conjunction: halfmin\n implication: Minimum\n rule: if x is a then y is b\n");
    writeFile(fcl,
              "FUNCTION_BLOCK e\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n"
              "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := rampup 2 8;\nEND_FUZZIFY\n"
              "DEFUZZIFY y\n TERM b := (0, 0) (0.5, 1) (1, 0);\n METHOD : COG;\nEND_DEFUZZIFY\n"
              "RULEBLOCK r\n AND : halfmin;\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n");
    std::string rows = tempPath("named.csv");
    writeFile(rows, "3\n7.5\n");
    CliResult fromFll = runCli({"eval", fll, rows, "--functions", lua});
    ASSERT_EQ(fromFll.status, 0) << fromFll.err;
    EXPECT_EQ(runCli({"eval", fcl, rows, "--functions", lua}).out, fromFll.out);
    CliResult json = runCli({"convert", fcl, "-", "--to", "json", "--samples", "101"});
    EXPECT_NE(json.err.find(":6: TERM a of x: unknown or unsupported shape \"rampup\" (nor a registered function)"),
              std::string::npos)
        << json.err;
    EXPECT_NE(json.err.find(":13: AND halfmin: not supported (MIN, PROD, BDIF, or a registered function)"),
              std::string::npos)
        << json.err;
}

// DEFAULT and default are the description's "default": the value where no
// rule fired (NaN for nan and NC, which warns: no previous value here), set
// around the module's call on every path, and written back as read. The
// range's midpoint is what the module gives anyway, so it is no default.
TEST(Formats, DefaultsAreKeptAppliedAndWrittenBack) {
    std::string fcl = tempPath("defaults.fcl");
    writeFile(fcl,
              "FUNCTION_BLOCK f\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; w : REAL; v : REAL; END_VAR\n"
              "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (6, 0);\nEND_FUZZIFY\n"
              "DEFUZZIFY y\n RANGE := (0.1 .. 0.2);\n TERM b := (0.1, 0) (0.2, 1);\n METHOD : COG;\n"
              " DEFAULT := 0;\nEND_DEFUZZIFY\nDEFUZZIFY w\n RANGE := (0 .. 1);\n TERM b := (0, 0) (1, 1);\n"
              " METHOD : COG;\n DEFAULT := NC;\nEND_DEFUZZIFY\nDEFUZZIFY v\n RANGE := (0 .. 1);\n"
              " TERM b := (0, 0) (1, 1);\n METHOD : COG;\n DEFAULT := 0.5;\nEND_DEFUZZIFY\n"
              "RULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b, w IS b, v IS b;\nEND_RULEBLOCK\nEND_FUNCTION_BLOCK\n");
    CliResult json = runCli({"convert", fcl, "-", "--to", "json"});
    EXPECT_EQ(json.err, "warning: fazolt:fcl:Default: " + fcl +
                            ":18: DEFAULT of w: NC is read as NaN: each row here is evaluated on its own, with no "
                            "previous value to keep\n");
    EXPECT_NE(json.out.find("\"range\": [0.1, 0.2], \"default\": 0, \"mf\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"range\": [0, 1], \"default\": \"nan\", \"mf\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("\"default\": 0.5"), std::string::npos) << json.out;
    for (SystemFormat format : {SystemFormat::Fcl, SystemFormat::Fll})
        expectRoundTrip(json.out, format, "", "defaults");
    std::string rows = tempPath("defaults.csv");
    writeFile(rows, "8\n5.5\n9\n");
    EXPECT_EQ(runCli({"eval", fcl, rows, "--on-no-rule-fired", "none"}).out,
              "y,w,v\n0,NaN,0.5\n0.16137086092715233,0.613708609271523,0.613708609271523\n0,NaN,0.5\n");
    fazolt::System system = fazolt::System::fromDescription(json.out);
    fazolt::Matrix out = system
                             .evaluate(fazolt::Matrix::fromRows({{5.5}, {8}}),
                                       {fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING})
                             .outputs;
    EXPECT_EQ(out.at(1, 0), 0.0);
    EXPECT_TRUE(std::isnan(out.at(1, 1)));
    EXPECT_EQ(out.at(0, 0), 0.16137086092715233);
    std::vector<double> one = {8.0}, y(3);
    system.evaluate(std::span<const double>(one), 1, fazolt::Layout::RowMajor, std::span<double>(y),
                    {fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING});
    EXPECT_EQ(y[0], 0.0);
    try {
        fazolt::buildSystem(R"({"type": "sugeno", "inputs": [], "outputs": [{"range": [0, 1], "default": "NaN"}]})");
        ADD_FAILURE() << "a default that is neither a number nor \"nan\"";
    } catch (const orvane::HostError &e) {
        EXPECT_EQ(e.message(), "outputs[0].default: expected a number or \"nan\"");
    }
}

// A maximum-based method over a sum-type aggregation is not exact (a
// plateau of added slopes is flat only up to rounding): check names each output.
TEST(Formats, CheckWarnsOfMaximumOverSum) {
    std::string fcl = tempPath("rm.fcl");
    auto text = [](const char *accu) {
        return "FUNCTION_BLOCK f\nVAR_INPUT x : REAL; END_VAR\nVAR_OUTPUT y : REAL; END_VAR\n"
               "FUZZIFY x\n RANGE := (0 .. 10);\n TERM a := (0, 0) (5, 1) (10, 0);\nEND_FUZZIFY\n"
               "DEFUZZIFY y\n RANGE := (0 .. 100);\n TERM b := (0, 0) (40, 1) (60, 0);\n METHOD : RM;\n ACCU : " +
               std::string(accu) +
               ";\nEND_DEFUZZIFY\nRULEBLOCK r\n RULE 1 : IF x IS a THEN y IS b;\nEND_RULEBLOCK\n"
               "END_FUNCTION_BLOCK\n";
    };
    writeFile(fcl, text("BSUM"));
    CliResult warned = runCli({"check", fcl});
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.err, "warning: fazolt:check:MaximumOverSum: " + fcl +
                              ": output \"y\": \"lom\" over the \"bsum\" aggregation: a plateau made by adding "
                              "slopes is flat only up to rounding, so the maximum picked may move along it\n");
    writeFile(fcl, text("MAX"));
    EXPECT_EQ(runCli({"check", fcl}).err, "");
}

// ---- The host functions.

orvane::Value call(const char *name, const std::vector<orvane::Value> &args) {
    fazolt::registerFormatFunctions();
    return orvane::callFunction(name, 1, args).at(0);
}

// Triangles and trapezoids written as point lists are read as trimf and
// trapmf; that is exact only while pointsmf gives their bits too.
TEST(FormatFunctions, PointListRampsAreTrimfAndTrapmfBitForBit) {
    std::vector<double> xs;
    for (int k = -50; k <= 1300; ++k) xs.push_back(k * 0.37 - 3.0);
    xs.push_back(0.1);
    xs.push_back(NAN);
    orvane::Value x = orvane::Value::doubleMatrix(1, static_cast<int64_t>(xs.size()), xs);
    std::vector<double> tri =
        call("pointsmf", {x, orvane::Value::doubleMatrix(1, 6, {-2.5, 0, 0.1, 1, 77.7, 0})}).toDoubles();
    std::vector<double> trap =
        call("pointsmf", {x, orvane::Value::doubleMatrix(1, 8, {3, 0, 100.3, 1, 200, 1, 441.9, 0})}).toDoubles();
    for (size_t k = 0; k < xs.size(); ++k) {
        EXPECT_EQ(testing_support::bits(tri[k]), testing_support::bits(trimfRule(xs[k], -2.5, 0.1, 77.7))) << xs[k];
        EXPECT_EQ(testing_support::bits(trap[k]), testing_support::bits(trapmfRule(xs[k], 3, 100.3, 200, 441.9)))
            << xs[k];
    }
}

// A hedged term's base is the module's own shape, bit for bit; codes as
// docs/formats.md lists them (1 trimf, 12 pointsmf, 18 very, 22 not).
TEST(FormatFunctions, HedgesReshapeTheBaseDegreeExactly) {
    std::vector<double> xs = {-3.0, 0.1, 1.7, 20.0 / 3.0, 9.99, 12.5};
    orvane::Value x = orvane::Value::doubleMatrix(1, static_cast<int64_t>(xs.size()), xs);
    std::vector<double> veryVery = call("very", {x, orvane::Value::doubleMatrix(1, 5, {18, 1, 0.1, 7, 10})}).toDoubles();
    std::vector<double> somewhatNot =
        call("somewhat", {x, orvane::Value::doubleMatrix(1, 6, {22, 12, 0, 0, 10, 1})}).toDoubles();
    for (size_t k = 0; k < xs.size(); ++k) {
        double m = trimfRule(xs[k], 0.1, 7, 10);
        EXPECT_EQ(testing_support::bits(veryVery[k]), testing_support::bits((m * m) * (m * m))) << xs[k];
        double p = xs[k] <= 0 ? 0.0 : xs[k] >= 10 ? 1.0 : (1.0 / 10.0) * (0.0 * (10 - xs[k]) + 1.0 * (xs[k] - 0));
        EXPECT_EQ(testing_support::bits(somewhatNot[k]), testing_support::bits(std::sqrt(1.0 - p))) << xs[k];
    }
    for (const std::vector<double> &bad : {std::vector<double>{99, 1}, {1, 0, 1}, {18}, {std::nan("")}}) {
        EXPECT_THROW(call("very", {x, orvane::Value::doubleMatrix(1, static_cast<int64_t>(bad.size()), bad)}),
                     orvane::HostError);
    }
}

TEST(FormatFunctions, OperatorsFollowTheirFormulas) {
    auto column = [](std::vector<double> v) {
        return orvane::Value::doubleMatrix(static_cast<int64_t>(v.size()), 1, v);
    };
    // An AND passes 1 for inputs a rule does not test; it must leave the rest exact.
    EXPECT_EQ(call("bdif", {column({0.7, 1.0, 0.6})}).toDoubles()[0], (0.7 + 0.6) - 1.0);
    EXPECT_EQ(call("bdif", {column({1e-20, 1.0})}).toDoubles()[0], 1e-20);
    EXPECT_EQ(call("bdif", {column({0.2, 0.3})}).toDoubles()[0], 0.0);
    EXPECT_EQ(call("bsum", {column({0.25, 0.0, 0.5})}).toDoubles()[0], 0.75);
    EXPECT_EQ(call("bsum", {column({0.7, 0.6})}).toDoubles()[0], 1.0);
    // As aggregations: rules down, sample points across, one value per point.
    orvane::Value rules = orvane::Value::doubleMatrix(2, 3, {0.5, 0.25, 0.75, 0.75, 0.5, 0.5});
    EXPECT_EQ(call("bsum", {rules}).toDoubles(), (std::vector<double>{0.75, 1.0, 1.0}));
    EXPECT_EQ(call("nsum", {rules}).toDoubles(), (std::vector<double>{0.75 / 1.5, 1.5 / 1.5, 1.0 / 1.5}));
    EXPECT_EQ(call("nsum", {orvane::Value::doubleMatrix(1, 2, {0.25, 0.5})}).toDoubles(),
              (std::vector<double>{0.25, 0.5}));
    // fuzzylite's MeanOfMaximum: the middle of the first plateau only (mom would give 3).
    orvane::Value points = orvane::Value::doubleMatrix(1, 6, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(call("firstmom", {points, column({0.2, 0.5, 0.5, 0.1, 0.5, 0.5})}).toDoubles()[0], 1.5);
    EXPECT_EQ(call("firstmom", {points, column({0.5, 0.2, 0.7, 0.7, 0.7, 0.7})}).toDoubles()[0], 3.5);
}

}  // namespace
