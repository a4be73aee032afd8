// fazolt eval: a system (nested description or raw record) evaluated on the
// rows of a CSV file, a block of rows per module call.
//
// Sections: options, the system and the diagnostics argument, warnings and
// progress on standard error, CSV output, the evaluation loop, the same loop
// over worker processes (--jobs).
#include "cli/commands.h"
#include "cli/csv.h"
#include "cli/jobs.h"

#include <fazolt/fazolt.h>

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <deque>
#include <iostream>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace {

// ---- Options.

struct EvalOptions {
    std::string systemPath;
    std::string inputsPath = "-";
    std::string modulePath;
    std::string diagnosticsPath;
    std::string format = "csv";
    std::string onOutOfRange = "warning";
    std::string onNoRuleFired = "warning";
    std::string onEmptySet = "warning";
    int numResults = 6;
    int64_t blockRows = 8192;
    int jobs = 1;
};

// none, warning, error, or a byte passed as it is (the module treats every
// value but 2 and 3 as "report nothing").
bool parseMode(const std::string &text, uint8_t &mode) {
    if (text == "none") mode = 0;
    else if (text == "warning") mode = 2;
    else if (text == "error") mode = 3;
    else {
        unsigned value = 0;
        std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || value > 255) return false;
        mode = static_cast<uint8_t>(value);
    }
    return true;
}

const CLI::Validator &modeValidator() {
    static const CLI::Validator validator(
        [](std::string &text) {
            uint8_t mode = 0;
            if (parseMode(text, mode)) return std::string();
            return "expected none, warning, error or a number from 0 to 255, got \"" + text + "\"";
        },
        "", "mode");
    return validator;
}

bool endsWith(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void printError(const orvane::HostError &e, const std::string &context = "") {
    std::cerr << "error: " << e.identifier() << ": " << context << e.message() << "\n";
}

// ---- The system and argument 3.

// The record's own count, so that a CSV with the wrong column count fails
// on the line that has it; -1 when the record does not say (the module's
// import then reports the malformed record).
int64_t recordNumInputs(const orvane::Value &record) {
    if (record.className() != "struct" || record.numel() != 1) return -1;
    orvane::Value n = record.field(0, "numInputs");
    if (!n || n.numel() != 1 || n.isComplex() || n.className() == "struct" || n.className() == "cell") return -1;
    return static_cast<int64_t>(n.toDoubles()[0]);
}

orvane::Value diagnosticsArgument(const EvalOptions &options, const fazolt::System &system) {
    if (!options.diagnosticsPath.empty()) return orvane::fromJson(readTextFile(options.diagnosticsPath));
    uint8_t outOfRange = 2, noRuleFired = 2, emptySet = 2;
    parseMode(options.onOutOfRange, outOfRange);
    parseMode(options.onNoRuleFired, noRuleFired);
    parseMode(options.onEmptySet, emptySet);
    return fazolt::makeDiagnostics(outOfRange, noRuleFired, emptySet, system.name());
}

// ---- Standard error: warnings, capped per identifier, and a progress bar.

class ProgressBar {
public:
    explicit ProgressBar(uint64_t totalBytes)
        : total_(totalBytes), enabled_(isatty(STDERR_FILENO) == 1 && totalBytes >= (16u << 20)) {}
    void show(uint64_t bytesRead) {
        if (!enabled_) return;
        int percent = static_cast<int>(bytesRead >= total_ ? 100 : bytesRead * 100 / total_);
        if (percent == shown_) return;
        shown_ = percent;
        std::string bar(static_cast<size_t>(percent / 2), '#');
        bar.resize(50, '.');
        std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
        std::fflush(stderr);
    }
    void erase() {
        if (!enabled_ || shown_ < 0) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = -1;
    }

private:
    uint64_t total_;
    bool enabled_;
    int shown_ = -1;
};

class WarningPrinter {
public:
    static constexpr int64_t kShownPerIdentifier = 20;
    void print(const std::vector<orvane::Warning> &warnings) {
        for (const orvane::Warning &w : warnings) {
            int64_t &count = counts_[w.identifier];
            if (++count <= kShownPerIdentifier) std::cerr << "warning: " << w.identifier << ": " << w.message << "\n";
        }
    }
    void printSummary() {
        for (const auto &[identifier, count] : counts_) {
            if (count > kShownPerIdentifier) {
                std::cerr << "warning: " << identifier << ": " << (count - kShownPerIdentifier)
                          << " more warnings not shown\n";
            }
        }
    }

private:
    std::map<std::string, int64_t> counts_;
};

// ---- CSV output.

std::string csvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// One line per row of a rows x numOutputs double matrix.
void appendCsvRows(const orvane::Value &outputs, std::string &text) {
    const std::vector<int64_t> &dims = outputs.dims();
    int64_t rows = dims.empty() ? 0 : dims[0];
    int64_t cols = rows == 0 ? 0 : outputs.numel() / rows;
    const std::vector<double> values = outputs.toDoubles();
    for (int64_t r = 0; r < rows; ++r) {
        for (int64_t c = 0; c < cols; ++c) {
            if (c > 0) text += ',';
            text += orvane::formatDouble(values[static_cast<size_t>(r + c * rows)], false);
        }
        text += '\n';
    }
}

// ---- The evaluation loop.

// Result 1 of every block, kept for the JSON form, which holds all rows of
// a column-major matrix and so cannot be written before the last block.
struct AllOutputs {
    std::vector<std::vector<double>> columns;
    int64_t numRows = 0;

    void append(const orvane::Value &outputs) {
        const std::vector<int64_t> &dims = outputs.dims();
        int64_t rows = dims.empty() ? 0 : dims[0];
        if (rows == 0) return;
        auto cols = static_cast<size_t>(outputs.numel() / rows);
        columns.resize(cols);
        std::vector<double> values = outputs.toDoubles();
        for (size_t c = 0; c < cols; ++c) {
            auto first = values.begin() + static_cast<std::ptrdiff_t>(c * static_cast<size_t>(rows));
            columns[c].insert(columns[c].end(), first, first + rows);
        }
        numRows += rows;
    }
    orvane::Value toValue() const {
        std::vector<double> data;
        for (const std::vector<double> &column : columns) data.insert(data.end(), column.begin(), column.end());
        return orvane::Value::doubleMatrix(numRows, static_cast<int64_t>(columns.size()), data);
    }
};

// The system of SYSTEM, or nothing after its error was printed. A module
// that cannot be loaded is not the system file's fault, so its error does
// not name the file.
std::optional<fazolt::System> loadSystem(const EvalOptions &options) {
    try {
        return fazolt::System::fromFile(options.systemPath,
                                        options.modulePath.empty() ? defaultModulePath() : options.modulePath);
    } catch (const orvane::HostError &e) {
        bool isAboutFile = e.identifier().rfind("Orvane:module", 0) != 0;
        printError(e, isAboutFile ? options.systemPath + ": " : "");
        return std::nullopt;
    }
}

int runEval(const EvalOptions &options) {
    bool isJson = options.format == "json";
    std::optional<fazolt::System> loaded = loadSystem(options);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const fazolt::System &system = *loaded;
    orvane::Value diagnostics;
    try {
        diagnostics = diagnosticsArgument(options, system);
    } catch (const orvane::HostError &e) {
        printError(e, options.diagnosticsPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    int numResults = isJson ? options.numResults : 1;

    // A host value in JSON is argument 1 as it stands: one call.
    if (endsWith(options.inputsPath, ".json")) {
        orvane::Value inputs;
        try {
            inputs = orvane::fromJson(readTextFile(options.inputsPath));
        } catch (const orvane::HostError &e) {
            printError(e, options.inputsPath + ": ");
            return EXIT_EVALUATION_ERROR;
        }
        orvane::CallOutcome outcome = system.call(inputs, diagnostics, numResults);
        if (isJson) return printCallOutcome(std::cout, outcome);
        WarningPrinter warnings;
        warnings.print(outcome.warnings);
        warnings.printSummary();
        if (outcome.error) {
            printError(*outcome.error);
            return EXIT_EVALUATION_ERROR;
        }
        std::string text;
        if (system.hasNames()) {
            for (size_t o = 0; o < system.outputNames().size(); ++o) text += (o > 0 ? "," : "") + csvField(system.outputNames()[o]);
            text += '\n';
        }
        appendCsvRows(outcome.results.at(0), text);
        std::cout << text << std::flush;
        return std::cout ? 0 : EXIT_EVALUATION_ERROR;
    }

    std::optional<CsvReader> reader;
    try {
        reader.emplace(options.inputsPath, recordNumInputs(system.record()));
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
    ProgressBar progress(reader->totalBytes());
    WarningPrinter warnings;
    AllOutputs allOutputs;
    orvane::CallOutcome outcome;
    std::vector<orvane::Warning> allWarnings;
    std::vector<double> block;
    bool isHeaderWritten = !system.hasNames() || isJson;
    int64_t numCalls = 0;
    while (true) {
        int64_t numRows = 0;
        try {
            numRows = reader->readBlock(options.blockRows, block);
        } catch (const orvane::HostError &e) {
            progress.erase();
            warnings.printSummary();
            printError(e);
            return EXIT_EVALUATION_ERROR;
        }
        // One call even for an empty file, so that results 2 to 6 and the
        // record's import errors are those of the module.
        if (numRows == 0 && numCalls > 0) break;
        int64_t numCols = reader->numColumns() >= 0 ? reader->numColumns() : std::max<int64_t>(recordNumInputs(system.record()), 0);
        outcome = system.call(orvane::Value::doubleMatrix(numRows, numCols, block), diagnostics, numResults);
        ++numCalls;
        progress.show(reader->bytesRead());
        if (isJson) {
            for (orvane::Warning &w : outcome.warnings) allWarnings.push_back(std::move(w));
            outcome.warnings.clear();
            if (outcome.error) break;
            allOutputs.append(outcome.results.at(0));
            continue;
        }
        if (!outcome.warnings.empty() || outcome.error) progress.erase();
        warnings.print(outcome.warnings);
        if (outcome.error) {
            warnings.printSummary();
            printError(*outcome.error);
            return EXIT_EVALUATION_ERROR;
        }
        std::string text;
        if (!isHeaderWritten) {
            for (size_t o = 0; o < system.outputNames().size(); ++o) text += (o > 0 ? "," : "") + csvField(system.outputNames()[o]);
            text += '\n';
            isHeaderWritten = true;
        }
        appendCsvRows(outcome.results.at(0), text);
        std::cout << text;
        if (!std::cout) break;
        if (numRows < options.blockRows) break;
    }
    progress.erase();
    if (isJson) {
        outcome.warnings = std::move(allWarnings);
        // With one block, the outcome is the call's own, to the bit.
        if (!outcome.error && numCalls > 1) outcome.results.at(0) = allOutputs.toValue();
        return printCallOutcome(std::cout, outcome);
    }
    warnings.printSummary();
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "error: fazolt:io:WriteFailed: cannot write the outputs\n";
        return EXIT_EVALUATION_ERROR;
    }
    return 0;
}

// ---- The evaluation loop over worker processes.

// Runs in a worker: its own module and system, argument 3 as the parent
// built it ("F" and the --diagnostics text, or "O" to build it from the
// options), and each block evaluated and formatted as runEval does it.
BlockEvaluator makeBlockEvaluator(const EvalOptions &options, const std::string &setupText) {
    struct State {
        std::optional<fazolt::System> system;
        orvane::Value diagnostics;
        std::optional<orvane::HostError> setupError;
    };
    auto state = std::make_shared<State>();
    try {
        state->system = fazolt::System::fromFile(
            options.systemPath, options.modulePath.empty() ? defaultModulePath() : options.modulePath);
        if (!setupText.empty() && setupText[0] == 'F') {
            state->diagnostics = orvane::fromJson(std::string_view(setupText).substr(1));
        } else {
            state->diagnostics = diagnosticsArgument(options, *state->system);
        }
    } catch (const orvane::HostError &e) {
        // The parent loaded the same files first, so this is a rare race
        // (a file changed meanwhile): every block reports it.
        state->setupError = e;
    }
    return [state](const RowBlock &rows) {
        BlockResult r;
        if (state->setupError) {
            r.error = state->setupError;
            return r;
        }
        std::vector<double> block;
        try {
            parseCsvRows(rows.lines, rows.numRows, rows.numColumns, rows.firstLine, rows.displayName, block);
        } catch (const orvane::HostError &e) {
            r.error = e;
            return r;
        }
        if (rows.isCheckOnly) return r;
        orvane::CallOutcome outcome = state->system->call(
            orvane::Value::doubleMatrix(rows.numRows, rows.numColumns, block), state->diagnostics, 1);
        for (orvane::Warning &w : outcome.warnings) r.warnings.push_back({std::move(w.identifier), std::move(w.message), {}});
        if (outcome.error) {
            r.error = std::move(outcome.error);
        } else {
            appendCsvRows(outcome.results.at(0), r.text);
        }
        return r;
    };
}

// runEval's CSV loop with the module calls in worker processes: the parent
// reads ahead a bounded number of blocks and writes the results in input
// order, so standard output, the warnings and the first error are those of
// one process. A read error waits until every block before it is written.
int runEvalJobs(const EvalOptions &options) {
    std::optional<WorkerPool> pool;
    try {
        pool.emplace(options.jobs,
                     [&options](const std::string &setupText) { return makeBlockEvaluator(options, setupText); });
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
    std::optional<fazolt::System> loaded = loadSystem(options);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const fazolt::System &system = *loaded;
    std::string setupText = "O";
    try {
        if (options.diagnosticsPath.empty()) {
            diagnosticsArgument(options, system);
        } else {
            setupText = "F" + readTextFile(options.diagnosticsPath);
            orvane::fromJson(std::string_view(setupText).substr(1));
        }
    } catch (const orvane::HostError &e) {
        printError(e, options.diagnosticsPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    pool->start(setupText);

    std::optional<CsvReader> reader;
    try {
        reader.emplace(options.inputsPath, recordNumInputs(system.record()));
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
    ProgressBar progress(reader->totalBytes());
    WarningPrinter warnings;
    std::string lines;
    std::deque<uint64_t> bytesReadAt;  // per block in flight, for the progress bar
    std::deque<bool> isCheckOnlyAt;    // per block in flight
    std::optional<orvane::HostError> readError;
    bool isReading = true;
    bool isHeaderWritten = !system.hasNames();
    int64_t numCalls = 0;
    while (true) {
        while (isReading && pool->canSubmit()) {
            CsvLineBlock read = reader->readBlockLines(options.blockRows, lines);
            RowBlock rows;
            rows.numRows = read.numRows;
            rows.numColumns = reader->numColumns() >= 0 ? reader->numColumns()
                                                        : std::max<int64_t>(recordNumInputs(system.record()), 0);
            rows.firstLine = read.firstLine;
            rows.displayName = reader->displayName();
            rows.lines = lines;
            if (read.error) {
                // One process would have met a bad number in the rows before
                // first: they are read, not evaluated, and their error wins.
                readError = read.error;
                isReading = false;
                if (read.numRows > 0) {
                    rows.isCheckOnly = true;
                    pool->submit(rows);
                    bytesReadAt.push_back(reader->bytesRead());
                    isCheckOnlyAt.push_back(true);
                }
                break;
            }
            // One call even for an empty file, as in runEval.
            if (read.numRows == 0 && numCalls > 0) {
                isReading = false;
                break;
            }
            pool->submit(rows);
            bytesReadAt.push_back(reader->bytesRead());
            isCheckOnlyAt.push_back(false);
            ++numCalls;
            if (read.numRows < options.blockRows) isReading = false;
        }
        if (!pool->hasPending()) break;
        BlockResult result = pool->next();
        progress.show(bytesReadAt.front());
        bytesReadAt.pop_front();
        const bool isCheckOnly = isCheckOnlyAt.front();
        isCheckOnlyAt.pop_front();
        if (!result.warnings.empty() || result.error) progress.erase();
        warnings.print(result.warnings);
        if (result.error) {
            warnings.printSummary();
            printError(*result.error);
            return EXIT_EVALUATION_ERROR;
        }
        if (isCheckOnly) continue;  // no bad number: the read error follows
        if (!isHeaderWritten) {
            std::string header;
            for (size_t o = 0; o < system.outputNames().size(); ++o) header += (o > 0 ? "," : "") + csvField(system.outputNames()[o]);
            header += '\n';
            std::cout << header;
            isHeaderWritten = true;
        }
        std::cout << result.text;
        if (!std::cout) {
            // One process stops reading here too, so a later read error is not its.
            readError.reset();
            break;
        }
    }
    progress.erase();
    if (readError) {
        warnings.printSummary();
        printError(*readError);
        return EXIT_EVALUATION_ERROR;
    }
    warnings.printSummary();
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "error: fazolt:io:WriteFailed: cannot write the outputs\n";
        return EXIT_EVALUATION_ERROR;
    }
    pool->finish();
    return 0;
}

}  // namespace

void addEvalCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<EvalOptions>();
    CLI::App *eval = app.add_subcommand("eval", "Evaluate a system on the rows of a CSV file");
    eval->footer(
        "SYSTEM is a nested description (JSON), or a raw system record in host-value JSON (a\n"
        "top-level \"class\" key), passed unchanged. INPUTS is a CSV file with one row per sample\n"
        "and one column per input (a non-numeric first line is a header and is skipped), or -\n"
        "for standard input (the default); a path ending in .json is a host value passed\n"
        "unchanged as the inputs. Rows are evaluated a block at a time, so files of any size\n"
        "run in bounded memory.\n\n"
        "Output (csv): one line per row with the crisp outputs, under a header of output names\n"
        "when the description names them. Warnings go to standard error (at most 20 per\n"
        "identifier); an error prints `error: ID: message` and exits with status 1.\n"
        "Output (json): the form of `fazolt call`; result 1 holds every row, results 2 to 6\n"
        "those of the last row.\n\n"
        "--jobs N spreads the module calls of a CSV input over N worker processes, each loading\n"
        "the module; the output, warnings and errors are those of --jobs 1, byte for byte. It\n"
        "takes csv output only (--format json with N > 1 is a usage error); a .json INPUTS is a\n"
        "single call and runs in this process.\n\n"
        "Examples:\n"
        "  fazolt eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv\n"
        "  cat inputs.csv | fazolt eval dimmer.json --on-no-rule-fired error\n"
        "  fazolt eval dimmer.record.json inputs.csv --diagnostics diagnostics.json\n"
        "  fazolt eval dimmer.json inputs.csv --format json --nargout 2\n"
        "  fazolt eval big.json rows.csv --jobs 2 > outputs.csv");
    eval->add_option("system", options->systemPath, "Nested description or raw system record")
        ->required()
        ->type_name("SYSTEM");
    eval->add_option("inputs", options->inputsPath, "Input rows: CSV file, - for standard input, or a .json host value")
        ->type_name("INPUTS");
    eval->add_option("--format", options->format, "Output format: csv (default) or json")
        ->check(CLI::IsMember({"csv", "json"}))
        ->type_name("FORMAT");
    eval->add_option("--nargout", options->numResults, "Results to ask for with --format json (default 6)")
        ->check(CLI::Range(0, 2147483647))  // NonNegativeNumber printed DBL_MAX as the bound
        ->type_name("K");
    CLI::Option *outOfRange =
        eval->add_option("--on-out-of-range", options->onOutOfRange, "Input outside its range: none, warning, error or 0-255")
            ->check(modeValidator())
            ->type_name("M");
    CLI::Option *noRule =
        eval->add_option("--on-no-rule-fired", options->onNoRuleFired, "No rule fired for a row: none, warning, error or 0-255")
            ->check(modeValidator())
            ->type_name("M");
    CLI::Option *emptySet =
        eval->add_option("--on-empty-set", options->onEmptySet, "Empty output fuzzy set: none, warning, error or 0-255")
            ->check(modeValidator())
            ->type_name("M");
    eval->add_option("--diagnostics", options->diagnosticsPath, "Diagnostics options as a host value (argument 3), raw")
        ->type_name("FILE.json")
        ->excludes(outOfRange)
        ->excludes(noRule)
        ->excludes(emptySet);
    eval->add_option("--block-rows", options->blockRows, "Rows per module call (default 8192)")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 24))
        ->type_name("N");
    eval->add_option("--module", options->modulePath, "Module to load (default: the one beside the fazolt libraries)")
        ->type_name("PATH");
    eval->add_option("--jobs", options->jobs, "Worker processes for the module calls (default 1), csv output only")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    eval->callback([options, &status]() {
        if (options->jobs > 1 && options->format == "json") {
            throw CLI::ValidationError("--jobs", "--format json takes --jobs 1 only");
        }
        bool isSplit = options->jobs > 1 && !endsWith(options->inputsPath, ".json");
        status = isSplit ? runEvalJobs(*options) : runEval(*options);
    });
}
