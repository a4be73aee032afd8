// fazolt eval as a user runs it: CSV reading, streaming in blocks, output
// forms, diagnostics options, exit statuses, and the bundled examples.
#include "tests/cli_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kExamples = FAZOLT_SOURCE_DIR "/examples";

// y = 1*x + 0 from one rule that tests no input (firing strength exactly 1)
// under "wtsum": the output is the input as read, so the table below sees
// the parsed numbers bit for bit (except that -0 + 0 is +0).
const char *kEchoSystem = R"({
  "name": "echo", "type": "sugeno", "defuzzMethod": "wtsum",
  "inputs": [{"name": "x", "range": [0, 1]}],
  "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "same", "type": "linear", "params": [1, 0]}]}],
  "rules": [{"antecedent": [0], "consequent": [1]}]
})";

std::string echoSystemPath() {
    std::string path = tempPath("echo.json");
    writeFile(path, kEchoSystem);
    return path;
}

// A call-style JSON output with every "message" left out: eval words the
// module's diagnostics itself, with the same identifiers and arguments.
std::string withoutMessages(const std::string &json) {
    return std::regex_replace(json, std::regex(R"("message": "(\\.|[^"\\])*")"), "\"message\"");
}

// The "results" part of a call-style JSON output.
std::string resultsPart(const std::string &json) {
    std::string::size_type end = json.find("],\n \"warnings\"");
    return end == std::string::npos ? std::string("(no results in: ") + json + ")" : json.substr(0, end);
}

struct CsvCase {
    int line;
    std::string csv;
    int status;
    std::string out;       // exact standard output
    std::string errorEnd;  // the error line after "error: ID: FILE", empty for none
};

TEST(CliEval, CsvInputsAreReadExactlyOrRejectedWithTheirLine) {
    const std::vector<CsvCase> cases = {
        {__LINE__, "x\n1.5\n", 0, "y\n1.5\n", ""},
        {__LINE__, "0.5\n2\n", 0, "y\n0.5\n2\n", ""},  // no header
        {__LINE__, "\xEF\xBB\xBFx\r\n0.25\r\n0.75\r\n", 0, "y\n0.25\n0.75\n", ""},
        {__LINE__, "nan\nINF\n-inf\n  NaN \n-Infinity\n", 0, "y\nNaN\nInf\n-Inf\nNaN\n-Inf\n", ""},
        {__LINE__, "0.30000000000000004\n4.9406564584124654e-324\n+3\n \t7 \n", 0,
         "y\n0.30000000000000004\n5e-324\n3\n7\n", ""},
        {__LINE__, "1\n\n", 0, "y\n1\n", ""},  // blank final line
        {__LINE__, "1\n \n\n", 0, "y\n1\n", ""},
        {__LINE__, "1", 0, "y\n1\n", ""},  // no final line end
        {__LINE__, "", 0, "y\n", ""},      // empty file: zero rows
        {__LINE__, "x\n", 0, "y\n", ""},   // header only
        {__LINE__, "1\nabc\n", 1, "", ":2: column 1: expected a number, got \"abc\""},
        {__LINE__, "x\n1\n2x\n", 1, "", ":3: column 1: expected a number, got \"2x\""},
        {__LINE__, "1\n0x10\n", 1, "", ":2: column 1: expected a number, got \"0x10\""},
        {__LINE__, "1\n1e400\n", 1, "", ":2: column 1: expected a number, got \"1e400\" (outside the double range)"},
        {__LINE__, "1\n++1\n", 1, "", ":2: column 1: expected a number, got \"++1\""},
        {__LINE__, "1\n\" 1.5 \"\n", 0, "y\n1\n1.5\n", ""},  // quoted
        {__LINE__, "1\n\"2\"\"\"\n", 1, "", ":2: column 1: expected a number, got \"2\"\""},
        // Below the double range: a zero of its sign (+0 after the sum).
        {__LINE__, "1e-999\n-1e-999\n", 0, "y\n0\n0\n", ""},
        {__LINE__, "0\n1;5\n", 1, "",
         ":2: column 1: expected a number, got \"1;5\" (the line holds ';': --delimiter ';'?)"},
        {__LINE__, "1\n2,3\n", 1, "", ":2: expected 1 value (one per input), got 2"},
        {__LINE__, "1\n,\n", 1, "", ":2: expected 1 value (one per input), got 2"},
        {__LINE__, "1\n\n2\n", 1, "", ":2: blank line between rows"},
    };
    std::string system = echoSystemPath();
    std::string csv = tempPath("inputs.csv");
    for (const CsvCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        writeFile(csv, c.csv);
        CliResult r = runCli({"eval", system, csv, "--on-out-of-range", "none", "--on-nan-input", "none"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.errorEnd.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(countLines(r.err), 1) << r.err;
            EXPECT_NE(r.err.find(csv + c.errorEnd + "\n"), std::string::npos) << r.err;
        }
    }
}

TEST(CliEval, StandardInputIsTheDefault) {
    std::string csv = tempPath("stdin.csv");
    writeFile(csv, "x\n0.125\n");
    CliResult implicit = runCli({"eval", echoSystemPath()}, csv);
    CliResult dash = runCli({"eval", echoSystemPath(), "-"}, csv);
    EXPECT_EQ(implicit.status, 0) << implicit.err;
    EXPECT_EQ(implicit.out, "y\n0.125\n");
    EXPECT_EQ(dash.out, implicit.out);

    writeFile(csv, "1\nx\n");
    CliResult bad = runCli({"eval", echoSystemPath()}, csv);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("<stdin>:2: column 1"), std::string::npos) << bad.err;
}

// Blocks are separate module calls: the rows must come out as one call
// would give them, and a failing block must not print any of its rows.
TEST(CliEval, BlocksStreamAndAFailingBlockPrintsNothingOfItsOwn) {
    std::string csv = tempPath("blocks.csv");
    writeFile(csv, "x\n0.1\n0.2\n0.3\n0.4\n0.5\n0.6\n0.7\n");
    CliResult whole = runCli({"eval", echoSystemPath(), csv});
    CliResult blocks = runCli({"eval", echoSystemPath(), csv, "--block-rows", "3"});
    EXPECT_EQ(whole.out, "y\n0.1\n0.2\n0.3\n0.4\n0.5\n0.6\n0.7\n");
    EXPECT_EQ(blocks.out, whole.out);
    EXPECT_EQ(blocks.status, 0) << blocks.err;

    writeFile(csv, "x\n0.1\n0.2\n0.3\n0.4\nbad\n0.6\n");
    CliResult csvError = runCli({"eval", echoSystemPath(), csv, "--block-rows", "3"});
    EXPECT_EQ(csvError.status, 1);
    EXPECT_EQ(csvError.out, "y\n0.1\n0.2\n0.3\n");

    writeFile(csv, "x\n0.1\n0.2\n0.3\n0.4\n5\n0.6\n");
    CliResult moduleError = runCli({"eval", echoSystemPath(), csv, "--block-rows", "3", "--on-out-of-range", "error"});
    EXPECT_EQ(moduleError.status, 1);
    EXPECT_EQ(moduleError.out, "y\n0.1\n0.2\n0.3\n");
    // The line of the whole file, the input's name and value as written.
    EXPECT_EQ(moduleError.err, "error: diagFazolt_OutOfRangeInput: " + csv +
                                   ":6: input \"x\" has the value 5, outside its range [0 1]\n");
}

TEST(CliEval, DiagnosticModesAndWarningCap) {
    std::string csv = tempPath("range.csv");
    std::string rows = "x\n";
    for (int k = 0; k < 25; ++k) rows += "2\n";  // every row outside [0, 1]
    writeFile(csv, rows);
    std::string system = echoSystemPath();

    struct ModeCase {
        int line;
        std::string mode;
        int status;
        int warningLines;
    };
    const std::vector<ModeCase> cases = {
        {__LINE__, "warning", 0, 21},  // 20 shown, then one line counting the other 5
        {__LINE__, "2", 0, 21},       {__LINE__, "none", 0, 0},  {__LINE__, "0", 0, 0},
        {__LINE__, "4", 0, 0},  // any byte but 2 and 3 reports nothing
        {__LINE__, "255", 0, 0},      {__LINE__, "error", 1, 1}, {__LINE__, "3", 1, 1},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        CliResult r = runCli({"eval", system, csv, "--on-out-of-range", c.mode});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(countLines(r.err), c.warningLines) << r.err;
        if (c.warningLines == 21) {
            EXPECT_EQ(r.err.rfind("warning: diagFazolt_OutOfRangeInput: " + csv +
                                      ":2: input \"x\" has the value 2, outside its range [0 1]\n",
                                  0),
                      0u)
                << r.err;
            EXPECT_NE(r.err.find(csv + ":21: input \"x\""), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(": 5 more warnings not shown\n"), std::string::npos) << r.err;
        }
        if (c.status == 0) {
            EXPECT_EQ(countLines(r.out), 26);
        }
    }
}

// Checks the module leaves to the tool: a NaN input (a missing reading) and an
// output that overflows from finite inputs; and a module diagnostic about an
// output. Each names the variable and the CSV line, and changes no output.
TEST(CliEval, NaNInputsNonFiniteOutputsAndNoRuleFiredNameTheLine) {
    std::string system = tempPath("scaled.json");  // y = 1e280 x: finite on the range, Inf at 1e30
    writeFile(system, R"({"name": "scaled", "type": "sugeno", "defuzzMethod": "wtsum",
      "inputs": [{"name": "x", "range": [0, 1]}, {"name": "gap", "range": [0, 1]}],
      "outputs": [{"name": "y", "range": [0, 1], "mf": [{"name": "big", "type": "linear", "params": [1e280, 0, 0]}]}],
      "rules": [{"antecedent": [0, 0], "consequent": [1]}]})");
    std::string csv = tempPath("checks.csv");
    // A NaN, an overflow, and an infinite input (whose infinite output is no news).
    writeFile(csv, "x,gap\n0.5,0.5\n0.5,NaN\n1e30,0\ninf,0\n");
    const std::vector<std::string> eval = {"eval", system, csv, "--on-out-of-range", "none", "--block-rows", "1"};
    auto run = [&](std::vector<std::string> options) {
        options.insert(options.begin(), eval.begin(), eval.end());
        return runCli(options);
    };
    const std::string nanLine = csv + ":3: input \"gap\" is NaN\n";
    const std::string overflowLine = csv + ":4: output \"y\" is Inf from inputs that are all finite\n";
    CliResult quiet = run({"--on-nan-input", "none", "--on-non-finite-output", "none"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    CliResult warned = run({});
    EXPECT_EQ(warned.out, quiet.out);
    EXPECT_EQ(warned.err,
              "warning: fazolt:inputs:NaN: " + nanLine + "warning: fazolt:outputs:NonFinite: " + overflowLine);
    CliResult nanError = run({"--on-nan-input", "error"});
    EXPECT_EQ(nanError.status, 1);
    EXPECT_EQ(nanError.out, quiet.out.substr(0, quiet.out.find("NaN")));  // the rows before it
    EXPECT_EQ(nanError.err, "error: fazolt:inputs:NaN: " + nanLine);
    CliResult overflowError = run({"--on-non-finite-output", "error"});
    EXPECT_EQ(overflowError.status, 1);
    EXPECT_EQ(overflowError.err,
              "warning: fazolt:inputs:NaN: " + nanLine + "error: fazolt:outputs:NonFinite: " + overflowLine);
    EXPECT_EQ(run({"--on-nan-input", "2"}).status, 2);  // the modes only, no bytes

    // No rule fires for the dimmer at daylight -10 with full motion.
    writeFile(csv, "daylight,motion\n30,0.9\n-10,1\n");
    const std::string dimmer = kExamples + "/dimmer/dimmer.json";
    CliResult noRule = runCli({"eval", dimmer, csv, "--on-out-of-range", "none"});
    EXPECT_EQ(noRule.err, "warning: warnFazolt_NoRuleFired: " + csv +
                              ":3: no rule fired for output \"lamp\", so it takes the value 50\n");
    CliResult noRuleError = runCli({"eval", dimmer, csv, "--on-out-of-range", "none", "--on-no-rule-fired", "error"});
    EXPECT_EQ(noRuleError.err,
              "error: errFazolt_NoRuleFired: " + csv + ":3: no rule fired for output \"lamp\", so it has no value\n");
}

TEST(CliEval, UsageErrorsExitWithTwo) {
    std::string system = echoSystemPath();
    const std::vector<std::vector<std::string>> cases = {
        {"eval", system, "--on-empty-set", "loud"},
        {"eval", system, "--on-no-rule-fired", "256"},
        {"eval", system, "--on-out-of-range", "-1"},
        {"eval", system, "--format", "xml"},
        {"eval", system, "--diagnostics", "d.json", "--on-empty-set", "none"},
        {"eval"},
        // Row by row needs csv lines on standard output, written by this process as they come.
        {"eval", system, "--line-buffered", "--threads", "2"},
        {"eval", system, "--line-buffered", "--jobs", "2"},
        {"eval", system, "--line-buffered", "--format", "json"},
        {"eval", system, "--line-buffered", "-o", tempPath("never.csv")},
        {"eval", system, "--line-buffered", "--block-rows", "3"},
    };
    for (const std::vector<std::string> &args : cases) {
        CliResult r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
    CliResult help = runCli({"eval", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Examples:"), std::string::npos);
}

struct ExampleCase {
    const char *folder;
    const char *description;
};

// The built record and the committed raw record of each example give the
// same bits through both output forms.
TEST(CliEval, ExamplesNestedAndRawRecordsAgreeBitForBit) {
    const std::vector<ExampleCase> cases = {{"dimmer", "dimmer"}, {"sugeno", "brake"}};
    for (const ExampleCase &c : cases) {
        SCOPED_TRACE(c.folder);
        std::string dir = kExamples + "/" + c.folder + "/";
        std::string inputs = dir + "inputs.csv";
        CliResult nested = runCli({"eval", dir + c.description + ".json", inputs, "--format", "json"});
        CliResult raw = runCli({"eval", dir + c.description + ".record.json", inputs, "--format", "json"});
        ASSERT_EQ(nested.status, 0) << nested.out << nested.err;
        ASSERT_EQ(raw.status, 0) << raw.out << raw.err;
        EXPECT_EQ(resultsPart(raw.out), resultsPart(nested.out));

        CliResult nestedCsv = runCli({"eval", dir + c.description + ".json", inputs});
        CliResult rawCsv = runCli({"eval", dir + c.description + ".record.json", inputs});
        EXPECT_EQ(nestedCsv.status, 0) << nestedCsv.err;
        // The raw record carries no names, so no header line.
        std::string::size_type headerEnd = nestedCsv.out.find('\n');
        ASSERT_NE(headerEnd, std::string::npos);
        EXPECT_EQ(rawCsv.out, nestedCsv.out.substr(headerEnd + 1));
        EXPECT_EQ(countLines(rawCsv.out), countLines(slurp(inputs)) - 1);
        // A level the variable does not name is said, and the rows come out the same.
        CliResult misspelt = runCli({"eval", dir + c.description + ".record.json", inputs}, "", "FAZOLT_LANES=avx ");
        EXPECT_EQ(misspelt.out, rawCsv.out);
        EXPECT_EQ(misspelt.err.rfind(
                      "warning: fazolt: FAZOLT_LANES=\"avx\" is not scalar, avx2 or avx512; the processor's best "
                      "level is used\n",
                      0),
                  0u)
            << misspelt.err;
    }
}

// --format json is `fazolt call` on the same three arguments, also when the
// rows arrive in several blocks.
TEST(CliEval, JsonFormatMatchesCall) {
    std::string dir = kExamples + "/dimmer/";
    std::string record = dir + "dimmer.record.json";
    std::string inputsJson = tempPath("dimmer_inputs.json");
    std::string diagnostics = tempPath("dimmer_diagnostics.json");
    // The rows of inputs.csv, column-major, and one outside its range for a warning.
    writeFile(inputsJson, R"({"class": "double", "size": [11, 2], "data": [)"
                          R"(5, 15, 30, 45, 50, 70, 90, 95, 10, 35, 120, )"
                          R"(0.9, 0.6, 1, 0.7, 0.55, 0.95, 1, 0, 0.05, 0.4, 0.5]})");
    writeFile(
        diagnostics,
        R"({"class": "struct", "size": [1, 1], "fields": ["DraxilDiagnostic", "Model", "Block",)"
        R"( "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"], "data": [[)"
        R"({"class": "uint8", "size": [1, 1], "data": [7]}, {"class": "uint8", "size": [1, 3], "data": "lab"},)"
        R"( {"class": "uint8", "size": [1, 2], "data": "b1"}, {"class": "uint8", "size": [1, 1], "data": [2]},)"
        R"( {"class": "uint8", "size": [1, 1], "data": [2]}, {"class": "uint8", "size": [1, 1], "data": [2]}]]})");
    std::string csv = tempPath("dimmer_rows.csv");
    writeFile(csv, slurp(dir + "inputs.csv") + "120,0.5\n");

    for (const char *nargout : {"6", "1", "3"}) {
        SCOPED_TRACE(nargout);
        CliResult call = runCli({"call", "--nargout", nargout, inputsJson, record, diagnostics});
        ASSERT_EQ(call.status, 0) << call.out << call.err;
        ASSERT_NE(call.out.find("warnings\": [{"), std::string::npos) << call.out;
        CliResult raw = runCli(
            {"eval", record, inputsJson, "--diagnostics", diagnostics, "--format", "json", "--nargout", nargout});
        EXPECT_EQ(withoutMessages(raw.out), withoutMessages(call.out));
        // A raw record names no inputs; rows of a host value count from 1.
        EXPECT_NE(raw.out.find(inputsJson + ": row 11: input 1 has the value 120, outside its range [0 100]\""),
                  std::string::npos)
            << raw.out;
        CliResult blocks = runCli({"eval", record, csv, "--diagnostics", diagnostics, "--format", "json", "--nargout",
                                   nargout, "--block-rows", "4"});
        EXPECT_EQ(blocks.status, 0) << blocks.err;
        EXPECT_EQ(withoutMessages(blocks.out), withoutMessages(call.out));
        EXPECT_NE(blocks.out.find(csv + ":12: input 1 has the value 120"), std::string::npos) << blocks.out;
    }
    CliResult defaults = runCli({"eval", record, csv, "--diagnostics", diagnostics, "--format", "json"});
    CliResult six = runCli({"call", "--nargout", "6", inputsJson, record, diagnostics});
    EXPECT_EQ(withoutMessages(defaults.out), withoutMessages(six.out));
}

// Argument 3 built from the options: DraxilDiagnostic 0, Model the name,
// Block empty, the three modes.
TEST(CliEval, BuiltDiagnosticsArgument) {
    std::string dir = kExamples + "/dimmer/";
    std::string inputsJson = tempPath("one_row.json");
    writeFile(inputsJson, R"({"class": "double", "size": [2, 2], "data": [50, 150, 0.5, 0.5]})");
    std::string diagnostics = tempPath("built_diagnostics.json");
    writeFile(
        diagnostics,
        R"({"class": "struct", "size": [1, 1], "fields": ["DraxilDiagnostic", "Model", "Block",)"
        R"( "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"], "data": [[)"
        R"({"class": "uint8", "size": [1, 1], "data": [0]}, {"class": "uint8", "size": [1, 6], "data": "dimmer"},)"
        R"( {"class": "uint8", "size": [1, 0], "data": []}, {"class": "uint8", "size": [1, 1], "data": [2]},)"
        R"( {"class": "uint8", "size": [1, 1], "data": [0]}, {"class": "uint8", "size": [1, 1], "data": [7]}]]})");
    CliResult built = runCli({"eval", dir + "dimmer.json", inputsJson, "--format", "json", "--on-out-of-range",
                              "warning", "--on-no-rule-fired", "none", "--on-empty-set", "7"});
    CliResult call = runCli({"call", "--nargout", "6", inputsJson, dir + "dimmer.record.json", diagnostics});
    EXPECT_EQ(built.status, 0) << built.err;
    ASSERT_NE(call.out.find("warnings\": [{"), std::string::npos) << call.out;
    EXPECT_EQ(withoutMessages(built.out), withoutMessages(call.out));
}

struct BadDescription {
    int line;
    std::string json;
    std::string expected;  // the message after "error: fazolt:description:ID: FILE: "
};

TEST(CliEval, BadDescriptionsGiveOneLineWithThePath) {
    const std::string head = R"({"type": "mamdani", "inputs": [{"name": "t", "range": [0, 10], "mf": [)"
                             R"({"name": "low", "type": "trimf", "params": [0, 0, 5]}]}], )";
    const std::string out = R"("outputs": [{"name": "u", "range": [0, 1], "mf": [)"
                            R"({"name": "on", "type": "trimf", "params": [0, 1, 1]}]}])";
    const std::vector<BadDescription> cases = {
        {__LINE__, head + out + R"(, "rules": ["if s is low then u is on"]})", "rules[0]: unknown input \"s\""},
        {__LINE__, head + out + R"(, "rules": ["if t is low then u is on", "if t is high then u is on"]})",
         "rules[1]: unknown term \"high\" of input \"t\""},
        {__LINE__, head + out + R"(, "rules": ["if t is low then v is on"]})", "rules[0]: unknown output \"v\""},
        {__LINE__, head + out + R"(, "rules": [{"antecedent": [1, 1], "consequent": [1]}]})",
         "rules[0].antecedent: expected 1 entries (one per input), got 2"},
        {__LINE__, head + out + R"(, "rules": [{"antecedent": [1], "consequent": []}]})",
         "rules[0].consequent: expected 1 entries (one per output), got 0"},
        {__LINE__, head + out + R"(, "rules": [{"antecedent": [-2], "consequent": [1]}]})",
         "rules[0].antecedent[0]: input \"t\" has 1 terms, got index 2"},
        {__LINE__,
         R"({"type": "mamdani", "inputs": [{"range": [0, 1], "mf": [{"type": "trimf", "params": [0, 1]}]}], )" + out +
             "}",
         "inputs[0].mf[0].params: \"trimf\" takes 3 parameters, got 2"},
        {__LINE__, R"({"type": "mamdani", "inputs": [{"range": [0]}], )" + out + "}",
         "inputs[0].range: expected two numbers [low, high]"},
        {__LINE__, R"({"type": "mamdani", "inputs": [{"range": ["0", 1]}], )" + out + "}",
         "inputs[0].range: expected two numbers [low, high]"},
        {__LINE__, R"({"type": "mamdani", "inputs": [], "outputs": [{"range": [0, 1, 2]}]})",
         "outputs[0].range: expected two numbers [low, high]"},
        {__LINE__, R"({"type": "mamdani", "numSamples": 1, "inputs": [], )" + out + "}",
         "numSamples: expected a whole number from 2 to 1000000"},
        {__LINE__,
         R"({"type": "sugeno", "inputs": [{"range": [0, 1]}], "outputs": [{"range": [0, 1], "mf": [)"
         R"({"type": "linear", "params": [1, 2, 3]}]}]})",
         "outputs[0].mf[0].params: \"linear\" takes 2 parameters, got 3"},
        {__LINE__, "{\"type\": \"mamdani\",\n \"inputs\": [}", "malformed JSON: parse error at line 2, column"},
    };
    std::string path = tempPath("bad.json");
    for (const BadDescription &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        writeFile(path, c.json);
        CliResult r = runCli({"eval", path, "-"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(countLines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("error: fazolt:description:", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(path + ": " + c.expected), std::string::npos) << r.err;
    }
}

// y = moisture + 10 temp + 100 rain, so that each output shows which
// column fed which input.
const char *kIrrigation = R"({
  "name": "irrigation", "type": "sugeno", "defuzzMethod": "wtsum",
  "inputs": [{"name": "moisture", "range": [0, 100]}, {"name": "temp", "range": [0, 100]},
             {"name": "rain", "range": [0, 100]}],
  "outputs": [{"name": "y", "range": [0, 1000], "mf": [{"name": "mix", "type": "linear", "params": [1, 10, 100, 0]}]}],
  "rules": [{"antecedent": [0, 0, 0], "consequent": [1]}]
})";

struct ColumnCase {
    int line;
    std::string csv;
    std::vector<std::string> options;
    std::string out;
};

// A header maps columns to inputs by name in any order; other columns are
// ignored or kept ahead of the outputs, under any delimiter and quoting.
TEST(CliEval, ColumnsAreTakenByTheirHeaderNames) {
    std::string system = tempPath("irrigation.json");
    writeFile(system, kIrrigation);
    const std::vector<ColumnCase> cases = {
        {__LINE__, "moisture,temp,rain\n3,2,5\n", {}, "y\n523\n"},
        {__LINE__, "3,2,5\n", {}, "y\n523\n"},  // no header: by position
        {__LINE__, "temp,moisture,rain\n2,3,5\n", {}, "y\n523\n"},
        {__LINE__, "id,rain,temp,moisture\nA7,5,2,3\n", {}, "y\n523\n"},
        {__LINE__, "id,rain,temp,moisture\nA7,5,2,3\n", {"--keep", "id"}, "id,y\nA7,523\n"},
        {__LINE__, "id,rain,temp,moisture\nA7,5,2,3\n", {"--keep", "temp,id"}, "temp,id,y\n2,A7,523\n"},
        {__LINE__, "id,rain,temp,moisture\nA7,5,2,3\n", {"--keep-all"}, "id,rain,temp,moisture,y\nA7,5,2,3,523\n"},
        {__LINE__,
         "id;temp;moisture;rain\n\"a;\"\"b\"\"\";2;3;5\n",
         {"--delimiter", ";", "--keep", "id"},
         "id,y\n\"a;\"\"b\"\"\",523\n"},
        {__LINE__,
         "id\ttemp\tmoisture\train\nx,1\t2\t3\t5\n",
         {"--delimiter", "tab", "--keep", "id"},
         "id,y\n\"x,1\",523\n"},
        {__LINE__, "3,2,5\n", {"--keep-all"}, "moisture,temp,rain,y\n3,2,5,523\n"},
        // Forced: a first line of names read as a row is an error; numbers as names are names.
        {__LINE__, "3,2,5\n", {"--no-header"}, "y\n523\n"},
        {__LINE__, "3,2,5\n3,2,5\n", {"--header"}, ""},
        {__LINE__, "1,moisture,temp,rain\n0,3,2,5\n", {"--header"}, "y\n523\n"},
    };
    std::string csv = tempPath("columns.csv");
    for (const ColumnCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        writeFile(csv, c.csv);
        std::vector<std::string> args = {"eval", system, csv};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CliResult r = runCli(args);
        if (c.out.empty()) {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("no column \"moisture\" for input 1"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, c.out);
        }
    }
}

// A folder of its own per test, so that a temporary file left behind shows.
std::string freshDir(const std::string &name) {
    std::string dir = tempPath(name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    return dir;
}

std::vector<std::string> namesIn(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// -o FILE: written beside FILE and renamed over it on success only, with
// FILE's mode; through a symbolic link the file it leads to is replaced,
// and what renaming would turn into a plain file is refused.
TEST(CliEval, OutputFileIsReplacedOnlyOnSuccess) {
    std::string dir = freshDir("out");
    std::string out = dir + "/outputs.csv";
    std::string csv = tempPath("out_rows.csv");
    writeFile(out, "old\n");
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    writeFile(csv, "x\n0.5\nbad\n");
    CliResult failed = runCli({"eval", echoSystemPath(), csv, "-o", out, "--block-rows", "1"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(slurp(out), "old\n");
    writeFile(csv, "x\n0.5\n0.25\n");
    std::string link = dir + "/link.csv";
    ASSERT_EQ(symlink("outputs.csv", link.c_str()), 0);
    CliResult done = runCli({"eval", echoSystemPath(), csv, "-o", link, "--block-rows", "1"});
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(slurp(out), "y\n0.5\n0.25\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    struct stat info {};
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto &[path, kind] : {std::pair{fifo, "a FIFO"}, std::pair{dir, "a directory"}}) {
        CliResult refused = runCli({"eval", echoSystemPath(), csv, "-o", path});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "error: fazolt:io:CannotWrite: '" + path + "' is " + kind + ", not a regular file\n");
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"fifo", "link.csv", "outputs.csv"}))
        << "a temporary file was left behind";
    CliResult listing = runCli({"check", echoSystemPath()});
    EXPECT_EQ(listing.status, 0);
    EXPECT_EQ(listing.out, echoSystemPath() +
                               ": sugeno, 1 input, 1 output, 1 rule; and prod, or probor, "
                               "implication prod, aggregation sum, defuzzification wtsum\n");
}

// A failed write is an error with its reason, never success: every output
// path under a file-size limit (which a full disk gives the same way), and
// every command's standard output on a full device.
TEST(CliEval, FailedWritesAreErrorsWithTheirReasonAndKeepTheOldFile) {
    std::string dimmer = kExamples + "/dimmer/dimmer.json";
    std::string rows = tempPath("full_rows.csv");
    std::string text = "daylight,motion\n";
    for (int k = 0; k < 200; ++k) text += std::to_string(k % 100) + ",0.5\n";
    writeFile(rows, text);
    std::string dir = freshDir("full");
    // sh counts ulimit -f in blocks of 512 bytes (bash 1024): every output here is longer.
    const std::vector<std::vector<std::string>> toFile = {
        {"eval", dimmer, rows, "-o", dir + "/out.csv"},
        {"eval", dimmer, rows, "--jobs", "2", "--block-rows", "50", "-o", dir + "/out.csv"},
        {"convert", dimmer, dir + "/out.fcl"},
        {"explain", dimmer, "--row", "30,0.9", "--format", "json", "-o", dir + "/out.json"},
        {"plot", dimmer, "--variable", "daylight", "-o", dir + "/out.svg"},
        {"plot", dimmer, "--variable", "daylight", "-o", dir + "/out.png"},
    };
    for (const std::vector<std::string> &args : toFile) {
        const std::string &path = args.back();
        SCOPED_TRACE(args[0] + " " + path);
        writeFile(path, "old\n");
        CliResult r = runCli(args, "", "ulimit -f 1; ");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: fazolt:io:WriteFailed: " + path + ": File too large\n");
        EXPECT_EQ(slurp(path), "old\n");
        EXPECT_EQ(namesIn(dir), std::vector<std::string>{std::filesystem::path(path).filename()});
        std::filesystem::remove(path);
    }
    std::string call = kExamples + "/call/";
    const std::vector<std::vector<std::string>> toStandardOutput = {
        {"eval", dimmer, rows},
        {"eval", dimmer, rows, "--jobs", "2"},
        {"eval", dimmer, rows, "--format", "json"},
        {"convert", dimmer, "-"},
        {"explain", dimmer, "--row", "30,0.9", "--format", "json"},
        {"check", dimmer},
        {"properties"},
        {"call", call + "inputs.json", call + "fis.json", call + "diagnostics.json"},
    };
    for (const std::vector<std::string> &args : toStandardOutput) {
        SCOPED_TRACE(args[0] + " " + args.back());
        CliResult r = runCli(args, "", "", "/dev/full");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: fazolt:io:WriteFailed: standard output: No space left on device\n");
    }
}

// Starts the tool with a pipe as its standard input and the five signals
// at their defaults, as a shell starts a command in the foreground (and no
// core file for SIGQUIT); with `outputEnd`, standard output is a pipe too,
// read there.
pid_t startWithPipe(const std::vector<std::string> &args, int &pipeEnd, int *outputEnd = nullptr) {
    int ends[2], outEnds[2] = {-1, -1};
    if (pipe(ends) != 0 || (outputEnd != nullptr && pipe(outEnds) != 0)) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[0], STDIN_FILENO);
        close(ends[0]);
        close(ends[1]);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(outputEnd != nullptr ? outEnds[1] : devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        if (outputEnd != nullptr) {
            close(outEnds[0]);
            close(outEnds[1]);
        }
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) std::signal(signal, SIG_DFL);
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char *> argv = {const_cast<char *>(FAZOLT_CLI_PATH)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(FAZOLT_CLI_PATH, argv.data());
        _exit(127);
    }
    close(ends[0]);
    pipeEnd = ends[1];
    if (outputEnd != nullptr) {
        close(outEnds[1]);
        *outputEnd = outEnds[0];
    }
    return pid;
}

// What `fd` gives until `numLines` lines came, the end, or 10 s passed
// without a byte: a tool that holds its answers fails rather than hangs.
std::string readLines(int fd, int numLines) {
    std::string text;
    while (countLines(text) < numLines) {
        pollfd ready{fd, POLLIN, 0};
        char bytes[256];
        ssize_t n = poll(&ready, 1, 10000) == 1 ? read(fd, bytes, sizeof bytes) : 0;
        if (n <= 0) break;
        text.append(bytes, static_cast<size_t>(n));
    }
    return text;
}

// A co-process: each line is answered before the next is written, with
// the bytes of the buffered run.
TEST(CliEval, LineBufferedAnswersEachLineBeforeTheNextComes) {
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    int in = -1, out = -1;
    pid_t pid = startWithPipe({"eval", echoSystemPath(), "--line-buffered"}, in, &out);
    ASSERT_GT(pid, 0);
    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"x\n", "y\n"}, {"0.25\n", "0.25\n"}, {"0.5\n", "0.5\n"}, {"7\n", "7\n"}, {"\n", ""}};
    std::string all, answers;
    for (const auto &[line, answer] : exchanges) {
        ASSERT_EQ(write(in, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        std::string got = readLines(out, countLines(answer));
        EXPECT_EQ(got, answer) << "after " << line;
        all += line;
        answers += got;
    }
    close(in);
    answers += readLines(out, 1);  // nothing more at the end
    close(out);
    int status = -1;
    waitpid(pid, &status, 0);
    std::signal(SIGPIPE, previous);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string csv = tempPath("coprocess.csv");
    writeFile(csv, all);
    EXPECT_EQ(answers, runCli({"eval", echoSystemPath(), csv}).out);
}

// A signal while -o FILE is being written removes the temporary file and
// ends the tool by that signal; FILE stays as it was.
TEST(CliEval, SignalsRemoveTheTemporaryFile) {
    std::string dir = freshDir("signals");
    std::string out = dir + "/out.csv";
    // A tool that ended early must not end the test with the pipe's signal.
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    writeFile(out, "old\n");
    struct SignalCase {
        int signal;
        const char *jobs;
    };
    for (SignalCase c : {SignalCase{SIGINT, "1"}, SignalCase{SIGTERM, "1"}, SignalCase{SIGHUP, "1"},
                         SignalCase{SIGPIPE, "1"}, SignalCase{SIGQUIT, "1"}, SignalCase{SIGTERM, "2"}}) {
        SCOPED_TRACE(testing::Message() << "signal " << c.signal << ", --jobs " << c.jobs);
        int pipeEnd = -1;
        pid_t pid = startWithPipe({"eval", echoSystemPath(), "-", "-o", out, "--jobs", c.jobs}, pipeEnd);
        ASSERT_GT(pid, 0);
        // The header makes the tool open its output; then it waits for rows.
        ASSERT_EQ(write(pipeEnd, "x\n0.5\n", 6), 6);
        for (int k = 0; k < 2000 && namesIn(dir).size() < 2; ++k) usleep(5000);
        EXPECT_EQ(namesIn(dir).size(), 2u) << "no temporary file appeared";
        kill(pid, c.signal);
        close(pipeEnd);  // a tool that missed the signal ends at the end of its input
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        EXPECT_EQ(namesIn(dir), std::vector<std::string>{"out.csv"});
        EXPECT_EQ(slurp(out), "old\n");
    }
    std::signal(SIGPIPE, previous);
}

// A line is read up to a limit, so that a file without line ends is refused
// before it fills the memory; running out of memory is an error too.
TEST(CliEval, LongLinesAreRefusedAndOutOfMemoryIsAnError) {
    // 2 GB without a line end, sparse: no disk space is used.
    std::string sparse = tempPath("sparse.csv");
    writeFile(sparse, "");
    ASSERT_EQ(truncate(sparse.c_str(), int64_t{2} << 30), 0);
    CliResult endless = runCli({"eval", echoSystemPath(), sparse});
    EXPECT_EQ(endless.status, 1);
    EXPECT_EQ(endless.err, "error: fazolt:csv:LineTooLong: " + sparse +
                               ":1: the line is longer than 1048576 bytes (--max-line-bytes raises the limit)\n");
    // Read whole as a host value, under a limit of 200 MB of address space.
    std::string json = tempPath("sparse.json");
    std::filesystem::rename(sparse, json);
#if defined(__SANITIZE_ADDRESS__)
    std::filesystem::remove(json);
    GTEST_SKIP() << "the address sanitizer reserves more address space than ulimit -v allows";
#endif
    CliResult exhausted = runCli({"eval", echoSystemPath(), json}, "", "ulimit -v 200000; ");
    std::filesystem::remove(json);
    EXPECT_EQ(exhausted.status, 1);
    EXPECT_EQ(exhausted.err, "error: fazolt:memory:OutOfMemory: out of memory\n");
}

// A module path without a slash is that file, not a name searched for in
// the library path ("No such file or directory" for a file that exists).
TEST(CliEval, ModuleThatIsNoLibraryIsReportedAsSuch) {
    std::string dir = testing::TempDir();
    writeFile(dir + "fazolt_not_a_library.txt", "text\n");
    std::string command = "cd " + shellQuoted(dir) + " && " + shellQuoted(FAZOLT_CLI_PATH) + " check " +
                          shellQuoted(echoSystemPath()) + " --module fazolt_not_a_library.txt 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    EXPECT_NE(pclose(pipe), 0);
    EXPECT_NE(text.find("./fazolt_not_a_library.txt"), std::string::npos) << text;
    EXPECT_EQ(text.find("No such file"), std::string::npos) << text;
}

}  // namespace
