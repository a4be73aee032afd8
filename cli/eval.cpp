// fazolt eval: a system (nested description or raw record) evaluated on the
// rows of a CSV file, a block of rows per module call.
//
// Sections: options, warnings and progress on standard error, output, the
// inputs, a .json INPUTS, the evaluation loop, the same loop over worker
// processes (--jobs), the command.
#include "cli/commands.h"
#include "cli/csv.h"
#include "cli/jobs.h"
#include "cli/output.h"

#include <fazolt/fazolt.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace {

// ---- Options.

struct EvalOptions {
    std::string systemPath;
    std::string inputsPath = "-";
    std::string outputPath;
    std::string modulePath;
    int64_t samples = 0;
    DiagnosticsOptions diagnostics;
    std::string format = "csv";
    std::string delimiter = ",";
    bool isHeader = false;
    bool isNoHeader = false;
    std::vector<std::string> keepNames;
    bool isKeepAll = false;
    int numResults = 6;
    int64_t blockRows = 8192;
    int64_t maxLineBytes = kDefaultMaxLineBytes;
    int jobs = 1;
    unsigned threads = 1;
};

bool endsWith(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// ",", ";", "|", or a tab ("tab", "\t" or the character itself).
bool parseDelimiter(const std::string &text, char &delimiter) {
    if (text == "tab" || text == "\\t" || text == "\t") {
        delimiter = '\t';
        return true;
    }
    if (text.size() == 1 && std::string(",;|").find(text[0]) != std::string::npos) {
        delimiter = text[0];
        return true;
    }
    return false;
}

// ---- Standard error: a progress bar (warnings: cli/report.h).

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

// ---- Output: standard output, or -o FILE (cli/output.h), with the rows in CSV.

// One line per row of a rows x numOutputs double matrix, each after the
// row's kept fields when there are any.
void appendCsvRows(const orvane::Value &outputs, const std::vector<std::string> &keptStarts, std::string &text) {
    const std::vector<int64_t> &dims = outputs.dims();
    int64_t rows = dims.empty() ? 0 : dims[0];
    int64_t cols = rows == 0 ? 0 : outputs.numel() / rows;
    const std::vector<double> values = outputs.toDoubles();
    for (int64_t r = 0; r < rows; ++r) {
        if (static_cast<size_t>(r) < keptStarts.size()) {
            text += keptStarts[static_cast<size_t>(r)];
            if (cols == 0) text.pop_back();  // no output after the last kept field
        }
        for (int64_t c = 0; c < cols; ++c) {
            if (c > 0) text += ',';
            text += orvane::formatDouble(values[static_cast<size_t>(r + c * rows)], false);
        }
        text += '\n';
    }
}

// The header line of the output: the kept columns, then the outputs; none
// for a raw record, which names no outputs.
std::string outputHeader(const fazolt::System &system, const std::vector<std::string> &keptNames) {
    if (!system.hasNames()) return "";
    std::string line;
    for (const std::string &name : keptNames) line += csvField(name) + ",";
    for (const std::string &name : system.outputNames()) line += csvField(name) + ",";
    if (!line.empty()) line.pop_back();
    return line + "\n";
}

// The checks around each module call, with rows named by their CSV line.
// Each block split across --threads threads gives what one call gives.
fazolt::RowChecks csvRowChecks(const EvalOptions &options, const std::string &displayName, int64_t firstLine) {
    fazolt::RowChecks checks = rowChecks(options.diagnostics, [displayName, firstLine](int64_t row) {
        return displayName + ":" + std::to_string(firstLine + row);
    });
    checks.threads = options.threads;
    return checks;
}

// ---- The inputs.

struct Inputs {
    std::unique_ptr<CsvReader> reader;
    std::vector<std::string> keptNames;
};

// Opens INPUTS and maps its columns (by the header's names where the system
// has names) onto the inputs.
Inputs openInputs(const EvalOptions &options, const fazolt::System &system) {
    char delimiter = ',';
    parseDelimiter(options.delimiter, delimiter);
    HeaderMode mode =
        options.isHeader ? HeaderMode::present : (options.isNoHeader ? HeaderMode::absent : HeaderMode::detect);
    Inputs inputs;
    inputs.reader = std::make_unique<CsvReader>(options.inputsPath, delimiter, mode);
    inputs.reader->setMaxLineBytes(options.maxLineBytes);
    ColumnRequest request;
    request.hasNames = system.hasNames();
    request.inputNames = system.inputNames();
    request.numInputs = recordNumInputs(system.record());
    request.keepNames = options.keepNames;
    request.isKeepAll = options.isKeepAll;
    const std::optional<std::vector<std::string>> &header = inputs.reader->header();
    CsvLayout layout = mapColumns(header, request, delimiter, inputs.reader->displayName());
    for (int64_t field : layout.keptFields) {
        auto k = static_cast<size_t>(field);
        inputs.keptNames.push_back(header ? (*header)[k]
                                          : (k < request.inputNames.size() ? request.inputNames[k] : ""));
    }
    inputs.reader->setLayout(layout);
    return inputs;
}

// Columns for the module: the inputs, or the record's count before any row
// was read (an empty file still makes one call).
int64_t numInputColumns(const CsvReader &reader, const fazolt::System &system) {
    return reader.numColumns() >= 0 ? reader.numColumns() : std::max<int64_t>(recordNumInputs(system.record()), 0);
}

// ---- A host value in JSON is argument 1 as it stands: one call.

int runJsonInputs(const EvalOptions &options, const fazolt::System &system, const orvane::Value &diagnostics,
                  Output &output) {
    bool isJson = options.format == "json";
    orvane::Value inputs;
    try {
        inputs = orvane::fromJson(readTextFile(options.inputsPath));
    } catch (const orvane::HostError &e) {
        printError(e, options.inputsPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    // Rows of a host value are counted from 1, as the host counts.
    std::string path = options.inputsPath;
    fazolt::RowChecks checks =
        rowChecks(options.diagnostics, [path](int64_t row) { return path + ": row " + std::to_string(row + 1); });
    checks.threads = options.threads;
    orvane::CallOutcome outcome = system.checkedCall(inputs, diagnostics, checks, isJson ? options.numResults : 1);
    // A matrix of the wrong width is the inputs file's fault, in either format.
    if (outcome.error && outcome.error->identifier() == cliError::kColumnCount) {
        printError(*outcome.error, options.inputsPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    if (isJson) {
        std::ostringstream text;
        int status = printCallOutcome(text, outcome);
        output.write(text.str());
        output.commit();
        return status;
    }
    WarningPrinter warnings;
    warnings.print(outcome.warnings);
    warnings.printSummary();
    if (outcome.error) {
        printError(*outcome.error);
        return EXIT_EVALUATION_ERROR;
    }
    std::string text = outputHeader(system, {});
    appendCsvRows(outcome.results.at(0), {}, text);
    output.write(text);
    output.commit();
    return 0;
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

// --format json: every block's result 1 kept, results 2 to 6 of the last.
int runCsvToJson(const EvalOptions &options, const fazolt::System &system, const orvane::Value &diagnostics,
                 CsvReader &reader, Output &output) {
    AllOutputs allOutputs;
    orvane::CallOutcome outcome;
    std::vector<orvane::Warning> allWarnings;
    std::map<std::string, int64_t> numWarnings;
    std::vector<double> block;
    int64_t numCalls = 0;
    while (true) {
        int64_t numRows = 0;
        try {
            numRows = reader.readBlock(options.blockRows, block);
        } catch (const orvane::HostError &e) {
            printError(e);
            return EXIT_EVALUATION_ERROR;
        }
        // One call even for an empty file, so that results 2 to 6 and the
        // record's import errors are those of the module.
        if (numRows == 0 && numCalls > 0) break;
        // Every warning is listed; the first of each identifier worded, as csv output shows them.
        fazolt::RowChecks checks = csvRowChecks(options, reader.displayName(), reader.blockFirstLine());
        checks.numWanted = [&numWarnings](const std::string &id) {
            return WarningPrinter::kShownPerIdentifier - numWarnings[id];
        };
        outcome = system.checkedCall(orvane::Value::doubleMatrix(numRows, numInputColumns(reader, system), block),
                                     diagnostics, checks, options.numResults);
        ++numCalls;
        for (orvane::Warning &w : outcome.warnings) {
            ++numWarnings[w.identifier];
            allWarnings.push_back(std::move(w));
        }
        outcome.warnings.clear();
        if (outcome.error) break;
        allOutputs.append(outcome.results.at(0));
        if (numRows < options.blockRows) break;
    }
    // With one block, the outcome is the call's own, to the bit.
    if (!outcome.error && numCalls > 1) outcome.results.at(0) = allOutputs.toValue();
    outcome.warnings = std::move(allWarnings);
    std::ostringstream text;
    int status = printCallOutcome(text, outcome);
    output.write(text.str());
    output.commit();
    return status;
}

// A block's lines are written only once its evaluation has succeeded.
int runCsvToCsv(const EvalOptions &options, const fazolt::System &system, const orvane::Value &diagnostics,
                Inputs &inputs, Output &output) {
    CsvReader &reader = *inputs.reader;
    ProgressBar progress(reader.totalBytes());
    WarningPrinter warnings;
    std::vector<double> block;
    std::vector<std::string> keptStarts;
    std::string text = outputHeader(system, inputs.keptNames);
    int64_t numCalls = 0;
    auto fail = [&](const orvane::HostError &e) {
        progress.erase();
        warnings.printSummary();
        printError(e);
        return EXIT_EVALUATION_ERROR;
    };
    while (true) {
        int64_t numRows = 0;
        try {
            numRows = reader.readBlock(options.blockRows, block, &keptStarts);
        } catch (const orvane::HostError &e) {
            return fail(e);
        }
        if (numRows == 0 && numCalls > 0) break;
        fazolt::RowChecks checks = csvRowChecks(options, reader.displayName(), reader.blockFirstLine());
        checks.numWanted = [&warnings](const std::string &id) { return warnings.numStillShown(id); };
        orvane::CallOutcome outcome = system.checkedCall(
            orvane::Value::doubleMatrix(numRows, numInputColumns(reader, system), block), diagnostics, checks, 1);
        ++numCalls;
        progress.show(reader.bytesRead());
        if (!outcome.warnings.empty() || outcome.error) progress.erase();
        warnings.print(outcome.warnings);
        if (outcome.error) return fail(*outcome.error);
        appendCsvRows(outcome.results.at(0), keptStarts, text);
        if (!output.write(text)) break;
        text.clear();
        if (numRows < options.blockRows) break;
    }
    progress.erase();
    warnings.printSummary();
    output.commit();
    return 0;
}

int runEval(const EvalOptions &options) {
    std::optional<LoadedSystem> loaded = loadSystemFile(options.systemPath, options.modulePath, options.samples);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const fazolt::System &system = *loaded->system;
    orvane::Value diagnostics;
    std::optional<Output> output;
    try {
        diagnostics = diagnosticsArgument(options.diagnostics, system.name());
        if (endsWith(options.inputsPath, ".json")) {
            output.emplace(options.outputPath);
            return runJsonInputs(options, system, diagnostics, *output);
        }
        Inputs inputs = openInputs(options, system);
        output.emplace(options.outputPath);
        if (options.format == "json") return runCsvToJson(options, system, diagnostics, *inputs.reader, *output);
        return runCsvToCsv(options, system, diagnostics, inputs, *output);
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
}

// ---- The evaluation loop over worker processes.

// What every worker needs besides its blocks: SYSTEM's text, argument 3
// (the --diagnostics text, or empty to build it from the options) and the
// columns of the input lines.
struct WorkerSetupData {
    std::string systemText;
    std::string diagnosticsText;
    CsvLayout layout;
};

void putList(std::string &out, const std::vector<int64_t> &list) {
    putU64(out, list.size());
    for (int64_t v : list) putU64(out, static_cast<uint64_t>(v));
}

std::vector<int64_t> readList(PayloadReader &in) {
    std::vector<int64_t> list(static_cast<size_t>(std::min<uint64_t>(in.u64(), in.left() / sizeof(uint64_t))));
    for (int64_t &v : list) v = static_cast<int64_t>(in.u64());
    return list;
}

std::string encodeSetup(const WorkerSetupData &setup) {
    std::string out;
    putText(out, setup.systemText);
    putText(out, setup.diagnosticsText);
    putU64(out, static_cast<uint64_t>(static_cast<unsigned char>(setup.layout.delimiter)));
    putU64(out, static_cast<uint64_t>(setup.layout.numFields));
    putU64(out, setup.layout.isByName ? 1 : 0);
    putList(out, setup.layout.inputFields);
    putList(out, setup.layout.keptFields);
    return out;
}

WorkerSetupData decodeSetup(const std::string &text) {
    PayloadReader in(text.data(), text.size());
    WorkerSetupData setup;
    setup.systemText = in.text();
    setup.diagnosticsText = in.text();
    setup.layout.delimiter = static_cast<char>(in.u64());
    setup.layout.numFields = static_cast<int64_t>(in.u64());
    setup.layout.isByName = in.u64() != 0;
    setup.layout.inputFields = readList(in);
    setup.layout.keptFields = readList(in);
    return setup;
}

// Runs in a worker: its own module and system from the parent's text, and
// each block read and formatted as runCsvToCsv does it.
BlockEvaluator makeBlockEvaluator(const EvalOptions &options, const std::string &setupText) {
    struct State {
        std::optional<fazolt::System> system;
        orvane::Value diagnostics;
        CsvLayout layout;
        std::optional<orvane::HostError> setupError;
    };
    auto state = std::make_shared<State>();
    try {
        WorkerSetupData setup = decodeSetup(setupText);
        state->layout = setup.layout;
        state->system = fazolt::System::fromText(setup.systemText,
                                                 options.modulePath.empty() ? defaultModulePath() : options.modulePath);
        state->diagnostics = setup.diagnosticsText.empty()
                                 ? diagnosticsArgument(options.diagnostics, state->system->name())
                                 : orvane::fromJson(setup.diagnosticsText);
    } catch (const orvane::HostError &e) {
        // The parent loaded the same text first: every block reports it.
        state->setupError = e;
    }
    return [state, options](const RowBlock &rows) {
        BlockResult r;
        if (state->setupError) {
            r.error = state->setupError;
            return r;
        }
        CsvLayout layout = state->layout;
        if (!layout.isByName) layout.numFields = rows.numColumns;  // known once a row was read
        std::vector<double> block;
        std::vector<std::string> keptStarts;
        try {
            parseCsvRows(rows.lines, rows.numRows, layout, rows.firstLine, rows.displayName, block, &keptStarts);
        } catch (const orvane::HostError &e) {
            r.error = e;
            return r;
        }
        if (rows.isCheckOnly) return r;
        // The parent prints at most this many of an identifier, whichever
        // blocks they come from.
        fazolt::RowChecks checks = csvRowChecks(options, rows.displayName, rows.firstLine);
        checks.numWanted = [](const std::string &) { return WarningPrinter::kShownPerIdentifier; };
        orvane::CallOutcome outcome = state->system->checkedCall(
            orvane::Value::doubleMatrix(rows.numRows, rows.numColumns, block), state->diagnostics, checks, 1);
        for (orvane::Warning &w : outcome.warnings)
            r.warnings.push_back({std::move(w.identifier), std::move(w.message), {}});
        if (outcome.error) {
            r.error = std::move(outcome.error);
        } else {
            appendCsvRows(outcome.results.at(0), keptStarts, r.text);
        }
        return r;
    };
}

// The blocks read ahead and not yet written, in input order.
struct BlockInFlight {
    uint64_t bytesRead;  // for the progress bar
    bool isCheckOnly;
};

// runCsvToCsv with the module calls in worker processes: the parent reads
// ahead a bounded number of blocks and writes the results in input order,
// so the output, the warnings and the first error are those of one process.
// A read error waits until every block before it is written.
class JobsRun {
public:
    JobsRun(const EvalOptions &options, WorkerPool &pool, const fazolt::System &system, Inputs &inputs)
        : options_(options),
          pool_(pool),
          system_(system),
          reader_(*inputs.reader),
          progress_(reader_.totalBytes()),
          header_(outputHeader(system, inputs.keptNames)) {}

    int run(Output &output) {
        while (true) {
            submitBlocks();
            if (!pool_.hasPending()) break;
            BlockResult result = pool_.next();
            BlockInFlight block = inFlight_.front();
            inFlight_.pop_front();
            progress_.show(block.bytesRead);
            if (!result.warnings.empty() || result.error) progress_.erase();
            warnings_.print(result.warnings);
            if (result.error) return fail(*result.error);
            if (block.isCheckOnly) continue;  // no bad number: the read error follows
            // The header goes out with the first block that succeeded, as in runCsvToCsv.
            if (!output.write(header_ + result.text)) {
                // One process stops reading here too, so a later read error is not its.
                readError_.reset();
                break;
            }
            header_.clear();
        }
        if (readError_) return fail(*readError_);
        progress_.erase();
        warnings_.printSummary();
        output.commit();
        pool_.finish();
        return 0;
    }

private:
    void submit(const CsvLineBlock &read, bool isCheckOnly) {
        RowBlock rows;
        rows.numRows = read.numRows;
        rows.numColumns = numInputColumns(reader_, system_);
        rows.firstLine = read.firstLine;
        rows.displayName = reader_.displayName();
        rows.lines = lines_;
        rows.isCheckOnly = isCheckOnly;
        pool_.submit(rows);
        inFlight_.push_back({reader_.bytesRead(), isCheckOnly});
    }

    void submitBlocks() {
        while (isReading_ && pool_.canSubmit()) {
            CsvLineBlock read = reader_.readBlockLines(options_.blockRows, lines_);
            if (read.error) {
                // One process would have met a bad number in the rows before
                // first: they are read, not evaluated, and their error wins.
                readError_ = read.error;
                isReading_ = false;
                if (read.numRows > 0) submit(read, true);
                return;
            }
            // One call even for an empty file, as in runCsvToCsv.
            if (read.numRows == 0 && numCalls_ > 0) {
                isReading_ = false;
                return;
            }
            submit(read, false);
            ++numCalls_;
            if (read.numRows < options_.blockRows) isReading_ = false;
        }
    }

    int fail(const orvane::HostError &e) {
        progress_.erase();
        warnings_.printSummary();
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }

    const EvalOptions &options_;
    WorkerPool &pool_;
    const fazolt::System &system_;
    CsvReader &reader_;
    ProgressBar progress_;
    std::string header_;  // until written
    WarningPrinter warnings_;
    std::string lines_;
    std::deque<BlockInFlight> inFlight_;
    std::optional<orvane::HostError> readError_;
    bool isReading_ = true;
    int64_t numCalls_ = 0;
};

int runEvalJobs(const EvalOptions &options) {
    std::optional<WorkerPool> pool;
    try {
        pool.emplace(options.jobs,
                     [&options](const std::string &setupText) { return makeBlockEvaluator(options, setupText); });
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
    std::optional<LoadedSystem> loaded = loadSystemFile(options.systemPath, options.modulePath, options.samples);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const fazolt::System &system = *loaded->system;
    try {
        WorkerSetupData setup;
        setup.systemText = loaded->text;
        diagnosticsArgument(options.diagnostics, system.name());  // its error before any row
        if (!options.diagnostics.diagnosticsPath.empty()) {
            setup.diagnosticsText = readTextFile(options.diagnostics.diagnosticsPath);
        }
        Inputs inputs = openInputs(options, system);
        setup.layout = inputs.reader->layout();
        Output output(options.outputPath);
        pool->start(encodeSetup(setup));
        JobsRun run(options, *pool, system, inputs);
        return run.run(output);
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
}

}  // namespace

void addEvalCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<EvalOptions>();
    CLI::App *eval = app.add_subcommand("eval", "Evaluate a system on the rows of a CSV file");
    eval->footer(
        "SYSTEM is a nested description (JSON), or a raw system record in host-value JSON (a\n"
        "top-level \"class\" key), passed unchanged. INPUTS is a CSV file with one row per sample,\n"
        "or - for standard input (the default); a path ending in .json is a host value passed\n"
        "unchanged as the inputs. A first line none of whose fields is a number is a header:\n"
        "with a description its names select the input columns in any order (other columns are\n"
        "ignored, or passed through with --keep); with a raw record it must have one column per\n"
        "input, taken in order. Rows are evaluated a block at a time, so files of any size run\n"
        "in bounded memory; a line longer than --max-line-bytes is an error.\n\n"
        "Output (csv): one line per row with the kept columns and the crisp outputs, under a\n"
        "header of their names when the description names them. Warnings go to standard error\n"
        "(at most 20 per identifier); an error prints `error: ID: message` and exits with status 1.\n"
        "Output (json): the form of `fazolt call`; result 1 holds every row, results 2 to 6\n"
        "those of the last row. -o FILE replaces FILE only once everything was written; a\n"
        "failed write (a full disk) is an error with its reason, and FILE stays as it was.\n\n"
        "--jobs N spreads the module calls of a CSV input over N worker processes, each loading\n"
        "the module; the output, warnings and errors are those of --jobs 1, byte for byte. It\n"
        "takes csv output only (--format json with N > 1 is a usage error); a .json INPUTS is a\n"
        "single call and runs in this process.\n\n"
        "--threads N splits each module call's rows across N threads of this process (0: one\n"
        "per core), with the output, warnings and errors of --threads 1, byte for byte. Reading\n"
        "and writing the CSV stay on one thread: --jobs, which also spreads those, scales\n"
        "further on many cores; --threads needs no worker processes and takes --format json.\n"
        "The two do not combine.\n\n"
        "Examples:\n"
        "  fazolt eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv\n"
        "  cat inputs.csv | fazolt eval dimmer.json --on-no-rule-fired error\n"
        "  fazolt eval dimmer.json readings.csv --delimiter ';' --keep id -o outputs.csv\n"
        "  fazolt eval dimmer.record.json inputs.csv --diagnostics diagnostics.json\n"
        "  fazolt eval dimmer.json inputs.csv --format json --nargout 2\n"
        "  fazolt eval big.json rows.csv --jobs 2 > outputs.csv\n"
        "  fazolt eval big.json rows.csv --threads 2 -o outputs.csv");
    addSystemOption(eval, options->systemPath);
    eval->add_option("inputs", options->inputsPath, "Input rows: CSV file, - for standard input, or a .json host value")
        ->type_name("INPUTS");
    eval->add_option("-o,--output,--output-file", options->outputPath,
                     "Write the outputs to FILE (replaced only on success)")
        ->type_name("FILE");
    eval->add_option("--format", options->format, "Output format: csv (default) or json")
        ->check(CLI::IsMember({"csv", "json"}))
        ->type_name("FORMAT");
    eval->add_option("--nargout", options->numResults, "Results to ask for with --format json, 0 to 6 (default 6)")
        ->check(CLI::Range(0, 6))
        ->type_name("K");
    addDiagnosticsOptions(eval, options->diagnostics);
    eval->add_option("--delimiter", options->delimiter, "Field separator of INPUTS: , (default) ; | or tab")
        ->check(CLI::Validator(
            [](std::string &text) {
                char delimiter = ',';
                return parseDelimiter(text, delimiter) ? std::string() : "expected , ; | or tab, got \"" + text + "\"";
            },
            "", "delimiter"))
        ->type_name("C");
    CLI::Option *header = eval->add_flag("--header", options->isHeader, "The first line of INPUTS is a header");
    eval->add_flag("--no-header", options->isNoHeader, "The first line of INPUTS is a row")->excludes(header);
    CLI::Option *keep = eval->add_option("--keep", options->keepNames, "Columns of INPUTS to pass through, by name")
                            ->delimiter(',')
                            ->type_name("NAME,...");
    eval->add_flag("--keep-all", options->isKeepAll, "Pass every column of INPUTS through")->excludes(keep);
    eval->add_option("--block-rows", options->blockRows, "Rows per module call (default 8192)")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 24))
        ->type_name("N");
    eval->add_option("--max-line-bytes", options->maxLineBytes,
                     "Longest line of INPUTS read, in bytes (default " + std::to_string(kDefaultMaxLineBytes) + ")")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 40))
        ->type_name("N");
    addModuleOption(eval, options->modulePath);
    addSamplesOption(eval, options->samples);
    eval->add_option("--jobs", options->jobs, "Worker processes for the module calls (default 1), csv output only")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    eval->add_option("--threads", options->threads,
                     "Threads each module call's rows are split across (default 1; 0: one per core)")
        ->check(CLI::Range(0u, 4096u))
        ->type_name("N");
    addFunctionsOption(eval);
    eval->callback([options, &status]() {
        if (options->jobs > 1 && options->threads != 1) {
            throw CLI::ValidationError("--threads", "--jobs and --threads do not combine: choose one");
        }
        if (options->jobs > 1 && options->format == "json") {
            throw CLI::ValidationError("--jobs", "--format json takes --jobs 1 only");
        }
        if ((!options->keepNames.empty() || options->isKeepAll) && options->format == "json") {
            throw CLI::ValidationError("--keep", "kept columns go to csv output only");
        }
        bool isSplit = options->jobs > 1 && !endsWith(options->inputsPath, ".json");
        status = isSplit ? runEvalJobs(*options) : runEval(*options);
    });
}
