// fazolt eval --jobs N: the evaluation loop over worker processes.
#include "cli/eval.h"
#include "cli/jobs.h"
#include "cli/output.h"

#include <algorithm>
#include <deque>
#include <optional>

namespace {

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

// Reads one block's numbers, evaluates and formats them: in a worker
// process, or in one of this process's threads.
BlockResult evaluateRowBlock(const fazolt::System &system, const orvane::Value &diagnostics, CsvLayout layout,
                             const EvalOptions &options, const RowBlock &rows) {
    BlockResult r;
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
    checks.threads = 1;  // the blocks are what runs in parallel
    orvane::CallOutcome outcome =
        system.checkedCall(orvane::Value::doubleMatrix(rows.numRows, rows.numColumns, block), diagnostics, checks, 1);
    for (orvane::Warning &w : outcome.warnings)
        r.warnings.push_back({std::move(w.identifier), std::move(w.message), {}});
    if (outcome.error) {
        r.error = std::move(outcome.error);
    } else {
        appendCsvRows(outcome.results.at(0), keptStarts, r.text);
    }
    return r;
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
        if (state->setupError) {
            BlockResult r;
            r.error = state->setupError;
            return r;
        }
        return evaluateRowBlock(*state->system, state->diagnostics, state->layout, options, rows);
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
    JobsRun(const EvalOptions &options, BlockPool &pool, const fazolt::System &system, Inputs &inputs)
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
    BlockPool &pool_;
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

}  // namespace

int runCsvToCsvOnThreads(const EvalOptions &options, const fazolt::System &system, const orvane::Value &diagnostics,
                         Inputs &inputs, Output &output) {
    ThreadPool pool(numBlockThreads(options),
                    [&system, &diagnostics, &options, layout = inputs.reader->layout()](const RowBlock &rows) {
                        return evaluateRowBlock(system, diagnostics, layout, options, rows);
                    });
    JobsRun run(options, pool, system, inputs);
    return run.run(output);
}

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
