// The bad-input corpus (tests/bad_inputs/cases.tsv, written by
// make_cases.py): every case through the command line or, in process,
// through the embedding API. A failure is one line "error: ..." naming the
// field, nothing on standard output and nothing left allocated; valid but
// unusual data evaluates.
#include "tests/cli_run.h"
#include "tests/test_support.h"

#include <fazolt/fazolt.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

const std::string kCorpus = FAZOLT_SOURCE_DIR "/tests/bad_inputs/";

struct CorpusCase {
    int line = 0;
    std::string kind;
    std::vector<std::string> args;
    int status = 0;
    std::string expect;
};

std::string unescaped(const std::string &text) {
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\\' && k + 1 < text.size() && text[k + 1] == 'n') {
            out += '\n';
            ++k;
        } else {
            out += text[k];
        }
    }
    return out;
}

std::vector<CorpusCase> readCases() {
    std::istringstream in(slurp(kCorpus + "cases.tsv"));
    std::vector<CorpusCase> cases;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::string::size_type start = 0;
        for (std::string::size_type tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
            columns.push_back(line.substr(start, tab - start));
        }
        columns.push_back(line.substr(start));
        EXPECT_EQ(columns.size(), 4u) << "cases.tsv:" << number;
        if (columns.size() != 4) continue;
        CorpusCase c;
        c.line = number;
        c.kind = columns[0];
        std::istringstream words(columns[1]);
        for (std::string w; words >> w;) c.args.push_back(w);
        c.status = std::stoi(columns[2]);
        c.expect = columns[3];
        cases.push_back(c);
    }
    return cases;
}

// Paths of the corpus are relative to its folder.
std::string resolved(const std::string &token) { return token.rfind("files", 0) == 0 ? kCorpus + token : token; }

// ---- Command-line cases, all in one loop (a few ms each).

TEST(BadInputCorpus, CommandLineCases) {
    std::vector<CorpusCase> cases = readCases();
    int numRun = 0;
    for (const CorpusCase &c : cases) {
        if (c.kind != "cli") continue;
        ++numRun;
        std::string shown;
        for (const std::string &a : c.args) shown += " " + a;
        SCOPED_TRACE(testing::Message() << "cases.tsv:" << c.line << ": fazolt" << shown);
        std::vector<std::string> args;
        std::string stdinPath;
        for (const std::string &a : c.args) {
            if (a[0] == '<') {
                stdinPath = resolved(a.substr(1));
            } else {
                args.push_back(resolved(a));
            }
        }
        CliResult r = runCli(args, stdinPath);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;
        if (c.status != 0) {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(countLines(r.err), 1) << r.err;
            EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
        } else if (c.expect != "ok") {
            EXPECT_EQ(r.out, unescaped(c.expect.substr(1))) << r.err;
        }
    }
    EXPECT_GE(numRun, 150);
}

// ---- API cases: in process, with the host's leak accounts.

orvane::Value rowOfLength(int64_t n) {
    if (n < 0) n = 0;
    return orvane::Value::doubleMatrix(1, n, std::vector<double>(static_cast<size_t>(n), 0.5));
}

class BadInputCorpusApi : public testing::Test {
protected:
    void SetUp() override {
        using orvane::Value;
        auto length = [](const std::vector<Value> &a) { return a.empty() ? int64_t{0} : a[0].numel(); };
        orvane::registerFunction("corpus_raise", [](int, std::vector<Value> &, const std::vector<Value> &) {
            orvane::raise("corpus:Raised", "raised on purpose");
        });
        orvane::registerFunction("corpus_empty",
                                 [](int, std::vector<Value> &results, const std::vector<Value> &) { results.clear(); });
        orvane::registerFunction("corpus_char", [](int, std::vector<Value> &results, const std::vector<Value> &) {
            results.assign(1, Value::charRow("abc"));
        });
        orvane::registerFunction("corpus_short",
                                 [length](int, std::vector<Value> &results, const std::vector<Value> &a) {
                                     results.assign(1, rowOfLength(length(a) - 1));
                                 });
        orvane::registerFunction("corpus_long",
                                 [length](int, std::vector<Value> &results, const std::vector<Value> &a) {
                                     results.assign(1, rowOfLength(length(a) + 1));
                                 });
        orvane::registerFunction("corpus_nan", [](int, std::vector<Value> &results, const std::vector<Value> &) {
            results.assign(1, Value::doubleScalar(std::numeric_limits<double>::quiet_NaN()));
        });
        orvane::registerFunction("corpus_struct", [](int, std::vector<Value> &results, const std::vector<Value> &) {
            results.assign(1, Value::structMatrix({1, 1}, {"a"}));
        });
    }
    void TearDown() override {
        for (const char *name : {"corpus_raise", "corpus_empty", "corpus_char", "corpus_short", "corpus_long",
                                 "corpus_nan", "corpus_struct"}) {
            orvane::unregisterFunction(name);
        }
    }
};

std::string csvRows(const orvane::Value &v) {
    const std::vector<int64_t> &dims = v.dims();
    int64_t rows = dims.empty() ? 0 : dims[0];
    int64_t cols = rows == 0 ? 0 : v.numel() / rows;
    std::vector<double> values = v.toDoubles();
    std::string text;
    for (int64_t r = 0; r < rows; ++r) {
        for (int64_t c = 0; c < cols; ++c) {
            text += (c > 0 ? "," : "") + orvane::formatDouble(values[static_cast<size_t>(r + c * rows)], false);
        }
        text += '\n';
    }
    return text;
}

// Loads the system, calls the module; the error as "identifier: message",
// or result 1 as CSV lines.
struct ApiOutcome {
    bool isError = false;
    std::string text;
};

ApiOutcome runApiCase(const CorpusCase &c) {
    ApiOutcome outcome;
    try {
        fazolt::System system = fazolt::System::fromFile(resolved(c.args.at(0)), FAZOLT_MODULE_PATH);
        orvane::Value inputs = orvane::fromJson(slurp(resolved(c.args.at(1))));
        orvane::Value diagnostics = c.args.size() > 2 ? orvane::fromJson(slurp(resolved(c.args[2])))
                                                      : fazolt::makeDiagnostics(2, 2, 2, "corpus");
        orvane::CallOutcome call = system.call(inputs, diagnostics, 6);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
        EXPECT_EQ(call.leakedValues, 0);
        if (call.error) {
            outcome.isError = true;
            outcome.text = call.error->identifier() + ": " + call.error->message();
        } else {
            EXPECT_EQ(call.results.size(), 6u);
            if (!call.results.empty()) outcome.text = csvRows(call.results[0]);
        }
    } catch (const orvane::HostError &e) {
        outcome.isError = true;
        outcome.text = e.identifier() + ": " + e.message();
    }
    return outcome;
}

TEST_F(BadInputCorpusApi, EmbeddingApiCases) {
    std::vector<CorpusCase> cases = readCases();
    // Warm-up: the first load and call set up the host's lasting state.
    runApiCase(cases.front().kind == "api"
                   ? cases.front()
                   : CorpusCase{0, "api", {"files/small.json", "files/t_inputs.json"}, 0, "ok"});
    int numRun = 0;
    for (const CorpusCase &c : cases) {
        if (c.kind != "api") continue;
        ++numRun;
        SCOPED_TRACE(testing::Message() << "cases.tsv:" << c.line << ": " << c.args.at(0));
        int64_t before = orvane::allocStats().liveBlocks;
        ApiOutcome out = runApiCase(c);
        EXPECT_EQ(orvane::allocStats().liveBlocks, before) << "blocks left behind";
        EXPECT_EQ(out.isError, c.status != 0) << out.text;
        if (c.status != 0) {
            EXPECT_NE(out.text.find(c.expect), std::string::npos) << out.text;
        } else if (c.expect != "ok") {
            EXPECT_EQ(out.text, unescaped(c.expect.substr(1)));
        }
    }
    EXPECT_GE(numRun, 30);
}

}  // namespace
