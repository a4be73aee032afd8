// fazolt eval --jobs N: the worker processes must not be visible in what
// the tool writes. Every case runs with --jobs 1 and with more jobs and
// compares standard output, standard error and the exit status byte for byte;
// the same for --threads N, the calls' rows split across threads.
#include "tests/cli_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kExamples = FAZOLT_SOURCE_DIR "/examples";

// Fixed-point decimal text of n / 10^places, e.g. (-5, 1) is "-0.5".
std::string decimal(int n, int places) {
    int unit = places == 1 ? 10 : 100;
    int a = n < 0 ? -n : n;
    std::string fraction = std::to_string(unit + a % unit).substr(1);
    return (n < 0 ? "-" : "") + std::to_string(a / unit) + "." + fraction;
}

// Rows of two inputs spread a little beyond [0, maxX] x [0, 1], so that some
// rows are out of range (more than the 20 warnings shown per identifier).
// Decimal text, so that every process reads the same bits.
std::string makeRows(int numRows, int maxX, const std::string &header) {
    std::string text = header.empty() ? "" : header + "\n";
    for (int i = 0; i < numRows; ++i) {
        int xTenths = (i * 37) % (maxX * 13) - maxX;  // -maxX/10 .. 1.2 maxX
        int yHundredths = (i * 11) % 130 - 15;        // -0.15 .. 1.14
        text += decimal(xTenths, 1) + "," + decimal(yHundredths, 2) + "\n";
    }
    return text;
}

void expectSameAsOneJob(const std::vector<std::string> &args, const std::string &stdinPath = "") {
    std::vector<std::string> one = args;
    one.insert(one.end(), {"--jobs", "1"});
    CliResult reference = runCli(one, stdinPath);
    for (const char *jobs : {"2", "3"}) {
        SCOPED_TRACE(testing::Message() << "--jobs " << jobs);
        std::vector<std::string> many = args;
        many.insert(many.end(), {"--jobs", jobs});
        CliResult r = runCli(many, stdinPath);
        EXPECT_EQ(r.status, reference.status) << r.err;
        EXPECT_EQ(r.out, reference.out);
        EXPECT_EQ(r.err, reference.err);
    }
    for (const char *threads : {"2", "0"}) {
        SCOPED_TRACE(testing::Message() << "--threads " << threads);
        std::vector<std::string> split = args;
        split.insert(split.end(), {"--threads", threads});
        CliResult r = runCli(split, stdinPath);
        EXPECT_EQ(r.status, reference.status) << r.err;
        EXPECT_EQ(r.out, reference.out);
        EXPECT_EQ(r.err, reference.err);
    }
}

struct JobsCase {
    int line;
    std::string system;  // under examples/
    int maxX;
    int numRows;
    std::vector<std::string> options;
    int status;  // of --jobs 1
};

TEST(CliJobs, OutputWarningsAndErrorsMatchOneJob) {
    const std::vector<JobsCase> cases = {
        {__LINE__, "dimmer/dimmer.json", 100, 3000, {"--block-rows", "97"}, 0},
        {__LINE__, "dimmer/dimmer.record.json", 100, 3000, {"--block-rows", "97"}, 0},  // no header line
        {__LINE__, "sugeno/brake.json", 120, 3000, {"--block-rows", "128"}, 0},
        {__LINE__, "sugeno/brake.record.json", 120, 2048, {"--block-rows", "256"}, 0},  // a whole number of blocks
        {__LINE__, "sugeno/brake.json", 120, 3000, {"--on-out-of-range", "none"}, 0},   // one block
        {__LINE__, "dimmer/dimmer.json", 100, 3000, {"--block-rows", "50", "--on-no-rule-fired", "none"}, 0},
        // The first out-of-range row is in a middle block.
        {__LINE__, "dimmer/dimmer.json", 100, 3000, {"--block-rows", "7", "--on-out-of-range", "error"}, 1},
        // Blocks large enough to be split across threads, an error in one.
        {__LINE__, "dimmer/dimmer.json", 100, 3000, {"--block-rows", "1000", "--format", "csv"}, 0},
        {__LINE__, "sugeno/brake.json", 120, 3000, {"--block-rows", "1000", "--on-out-of-range", "error"}, 1},
    };
    std::string csv = tempPath("jobs_rows.csv");
    for (const JobsCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        // The header names the inputs: the dimmer's, or the brake's.
        writeFile(csv, makeRows(c.numRows, c.maxX, c.maxX == 100 ? "daylight,motion" : "speed,gap"));
        std::vector<std::string> args = {"eval", kExamples + "/" + c.system, csv};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CliResult one = runCli(args);
        ASSERT_EQ(one.status, c.status) << one.err;
        if (c.status == 0) {
            EXPECT_GE(countLines(one.out), c.numRows);
        }
        expectSameAsOneJob(args);
    }
}

// The first error in input order wins: a bad line read ahead must wait for
// the blocks before it, and a module error before it must be the one shown.
TEST(CliJobs, FirstErrorInInputOrderAndNothingAfterIt) {
    std::string system = kExamples + "/dimmer/dimmer.json";
    std::string csv = tempPath("jobs_errors.csv");
    std::string rows = makeRows(2000, 100, "daylight,motion");
    std::string::size_type cut = 0;
    for (int k = 0; k < 1501; ++k) cut = rows.find('\n', cut) + 1;
    std::string withBadLine = rows.substr(0, cut) + "50,abc\n" + rows.substr(cut);

    writeFile(csv, withBadLine);
    CliResult one = runCli({"eval", system, csv, "--block-rows", "64"});
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find(csv + ":1502: column 2: expected a number, got \"abc\"\n"), std::string::npos) << one.err;
    EXPECT_EQ(countLines(one.out), 1 + 1472);  // the header and the 23 whole blocks before line 1502
    expectSameAsOneJob({"eval", system, csv, "--block-rows", "64"});

    // A row out of range before the bad line: with "error", the module's error is the one.
    writeFile(csv, "daylight,motion\n50,0.5\n150,0.5\n" + withBadLine.substr(withBadLine.find('\n') + 1));
    CliResult moduleFirst = runCli({"eval", system, csv, "--block-rows", "1", "--on-out-of-range", "error"});
    EXPECT_EQ(moduleFirst.status, 1);
    EXPECT_EQ(countLines(moduleFirst.out), 2);
    EXPECT_EQ(countLines(moduleFirst.err), 1) << moduleFirst.err;
    expectSameAsOneJob({"eval", system, csv, "--block-rows", "1", "--on-out-of-range", "error"});

    // Workers read the numbers, the parent the lines: a bad number before a
    // ragged row or a blank line of the same block is still the error shown,
    // and with none before it the line's own error comes after the blocks
    // before it, with none of its own block's rows.
    std::string head = rows.substr(0, cut);
    std::string tail = rows.substr(cut);
    for (const std::string &laterFault : {std::string("1,2,3\n"), std::string("\n")}) {
        SCOPED_TRACE(laterFault);
        writeFile(csv, head + "50,abc\n40,0.5\n" + laterFault + tail);
        expectSameAsOneJob({"eval", system, csv, "--block-rows", "64"});
        writeFile(csv, head + "40,0.5\n" + laterFault + tail);
        CliResult lineFirst = runCli({"eval", system, csv, "--block-rows", "64"});
        EXPECT_EQ(lineFirst.status, 1);
        EXPECT_EQ(countLines(lineFirst.out), 1 + 1472);
        expectSameAsOneJob({"eval", system, csv, "--block-rows", "64"});
    }

    // A description error is reported once, by the parent, before any row.
    std::string bad = tempPath("jobs_bad.json");
    writeFile(bad, R"({"type": "mamdani", "inputs": [{"range": [0]}]})");
    expectSameAsOneJob({"eval", bad, csv});
    expectSameAsOneJob({"eval", system, csv, "--module", tempPath("no_such_module.so")});
}

TEST(CliJobs, EdgeInputsMatchOneJob) {
    std::string system = kExamples + "/sugeno/brake.json";
    std::string csv = tempPath("jobs_edges.csv");
    const std::vector<std::string> inputs = {"", "speed,gap\n", "10,20\n", "10,20\n\n\n", "10,20\n\n30,40\n", "1\n"};
    for (const std::string &text : inputs) {
        SCOPED_TRACE(text);
        writeFile(csv, text);
        expectSameAsOneJob({"eval", system, csv});
        expectSameAsOneJob({"eval", system}, csv);  // standard input
    }
    // A host value in JSON is one call: --jobs changes nothing.
    std::string json = tempPath("jobs_inputs.json");
    writeFile(json, R"({"class": "double", "size": [2, 2], "data": [10, 130, 20, 40]})");
    expectSameAsOneJob({"eval", system, json});
}

// SYSTEM is read once, by the parent: a pipe gives its text to no worker,
// and workers get the columns the parent mapped from the header.
TEST(CliJobs, SystemReadOnceAndColumnsMappedByTheParent) {
    std::string system = kExamples + "/dimmer/dimmer.json";
    std::string csv = tempPath("jobs_columns.csv");
    std::string rows = makeRows(500, 100, "");
    std::string reordered = "id;motion;daylight\n";
    for (size_t at = 0, k = 0; at < rows.size(); ++k) {
        size_t comma = rows.find(',', at);
        size_t end = rows.find('\n', at);
        reordered += "\"r;" + std::to_string(k) + "\";" + rows.substr(comma + 1, end - comma - 1) + ";" +
                     rows.substr(at, comma - at) + "\n";
        at = end + 1;
    }
    writeFile(csv, reordered);
    std::vector<std::string> args = {"eval", "/dev/stdin", csv, "--block-rows", "64", "--delimiter",
                                     ";",    "--keep",     "id"};
    CliResult one = runCli(args, system);
    ASSERT_EQ(one.status, 0) << one.err;
    expectSameAsOneJob(args, system);
    // The rows in the system's order give the same outputs, after the ids.
    writeFile(csv, "daylight,motion\n" + rows);
    CliResult plain = runCli({"eval", system, csv});
    std::string expected = "id,lamp\n";
    for (size_t at = plain.out.find('\n') + 1, k = 0; at < plain.out.size(); ++k) {
        size_t end = plain.out.find('\n', at);
        expected += "r;" + std::to_string(k) + "," + plain.out.substr(at, end + 1 - at);
        at = end + 1;
    }
    EXPECT_TRUE(one.out == expected) << one.out.substr(0, 200) << "\nexpected:\n" << expected.substr(0, 200);
}

TEST(CliJobs, UsageErrors) {
    std::string system = kExamples + "/dimmer/dimmer.json";
    std::string inputs = kExamples + "/dimmer/inputs.csv";
    const std::vector<std::vector<std::string>> cases = {
        {"--jobs", "0"}, {"--jobs", "-1"}, {"--jobs", "two"}, {"--jobs", "257"}, {"--jobs", "2", "--format", "json"},
    };
    for (const std::vector<std::string> &extra : cases) {
        std::vector<std::string> args = {"eval", system, inputs};
        args.insert(args.end(), extra.begin(), extra.end());
        CliResult r = runCli(args);
        EXPECT_EQ(r.status, 2) << extra[1] << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
    CliResult json = runCli({"eval", system, inputs, "--jobs", "1", "--format", "json"});
    EXPECT_EQ(json.status, 0) << json.err;
}

}  // namespace
