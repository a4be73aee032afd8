// fazolt eval in this process: the inputs opened, a .json INPUTS as one
// call, and the loop over CSV blocks to CSV or JSON output.
#include "cli/eval.h"
#include "cli/output.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include <unistd.h>

bool endsWith(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

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

namespace {

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
    // A co-process sees the header as soon as its first line was read.
    if (options.isLineBuffered && !text.empty() && output.write(text) && output.flush()) text.clear();
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
        if (!output.write(text) || (options.isLineBuffered && !output.flush())) break;
        text.clear();
        if (numRows < options.blockRows) break;
    }
    progress.erase();
    warnings.printSummary();
    output.commit();
    return 0;
}

}  // namespace

int numBlockThreads(const EvalOptions &options) {
    return static_cast<int>(fazolt::defaults::threadsFor(options.threads));
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
        if (numBlockThreads(options) > 1) return runCsvToCsvOnThreads(options, system, diagnostics, inputs, *output);
        return runCsvToCsv(options, system, diagnostics, inputs, *output);
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
}
