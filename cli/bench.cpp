// fazolt bench: the time of one module call over every row of a CSV file,
// repeated. The inputs are parsed once; each repetition is the call alone.
// With --one-row, also the time of each row evaluated alone through a
// fazolt::Evaluator, as a control loop calls it.
//
// Sections: options, timing and checksum, one row per call, the command.
#include "cli/commands.h"
#include "cli/csv.h"

#include <fazolt/fazolt.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>

#include <time.h>

namespace {

// ---- Options.

struct BenchOptions {
    std::string systemPath;
    std::string inputsPath;
    std::string modulePath;
    int64_t numReps = 10;
    unsigned threads = 1;
    bool isOneRow = false;
};

// ---- Timing and checksum.

// FNV-1a over the bytes of result 1 in column-major order, so that two
// repetitions agree only when every output has the same bits.
uint64_t checksumOf(const double *values, int64_t n) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int64_t k = 0; k < n; ++k) {
        auto bits = std::bit_cast<uint64_t>(values[k]);
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (bits >> (8 * byte)) & 0xffu;
            hash *= 0x100000001b3ull;
        }
    }
    return hash;
}

// CPU time of this process: on a shared machine the wall time also counts
// the time spent waiting for a core, the CPU time does not.
double cpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void printNondeterministic(int64_t rep, uint64_t sum, uint64_t earlier) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "repetition %" PRId64 " gave checksum 0x%016" PRIx64 ", earlier ones 0x%016" PRIx64, rep, sum,
                  earlier);
    printError(cliError::kBenchNondeterministic, message);
}

// ---- One row per call.

// The time of one call, less what reading the clock twice costs (the median
// of an empty interval), so that a call of a few tens of nanoseconds is not
// mostly clock.
struct CallTimer {
    double overheadNs = 0.0;
    CallTimer() {
        std::vector<double> empty(10001);
        for (double &ns : empty) ns = interval([] {});
        overheadNs = medianOf(std::move(empty));
    }
    template <typename Call>
    static double interval(Call &&call) {
        auto start = std::chrono::steady_clock::now();
        call();
        auto stop = std::chrono::steady_clock::now();
        return std::chrono::duration<double, std::nano>(stop - start).count();
    }
};

// Every row through one Evaluator, each call timed; the outputs must have
// the batch's bits (checksum). Prints the median and the 99th percentile.
int runOneRowPerCall(const fazolt::System &system, const orvane::Value &inputs, int64_t numReps,
                     uint64_t batchChecksum) {
    fazolt::Evaluator evaluator(system);
    const auto numRows = static_cast<size_t>(inputs.dims()[0]);
    const size_t numInputs = evaluator.numInputs();
    const size_t numOutputs = evaluator.numOutputs();
    // Row-major, as a control loop holds its readings.
    std::vector<double> rows(numRows * numInputs);
    const double *columns = inputs.pr();
    for (size_t r = 0; r < numRows; ++r)
        for (size_t i = 0; i < numInputs; ++i) rows[r * numInputs + i] = columns[r + i * numRows];
    std::vector<double> outputs(numRows * numOutputs);  // column-major, as the batch's
    std::vector<double> out(numOutputs);
    std::vector<double> ns;
    ns.reserve(numRows * static_cast<size_t>(numReps));
    const CallTimer timer;
    for (int64_t rep = 0; rep <= numReps; ++rep) {  // rep 0 warms up and is not counted
        for (size_t r = 0; r < numRows; ++r) {
            const std::span<const double> row(rows.data() + r * numInputs, numInputs);
            const double t = CallTimer::interval([&] { (void)evaluator.evaluate(row, out); });
            if (rep > 0) ns.push_back(t - timer.overheadNs);
            for (size_t o = 0; o < numOutputs; ++o) outputs[r + o * numRows] = out[o];
        }
        const uint64_t sum = checksumOf(outputs.data(), static_cast<int64_t>(outputs.size()));
        if (sum != batchChecksum) {
            printNondeterministic(rep, sum, batchChecksum);
            return EXIT_EVALUATION_ERROR;
        }
    }
    std::sort(ns.begin(), ns.end());
    const double median = medianOf(ns);
    const double p99 = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)];
    char line[128];
    std::snprintf(line, sizeof line, "one row per call: median %.0f ns, p99 %.0f ns\n", median, p99);
    std::cout << line;
    return 0;
}

// ---- The command.

// Every row of the CSV file as one matrix; nothing, with the error printed,
// when it cannot be read or holds no rows.
std::optional<orvane::Value> readInputs(const std::string &path) {
    std::vector<double> block;
    int64_t numRows = 0;
    int64_t numCols = 0;
    try {
        CsvReader reader(path, -1);
        numRows = reader.readBlock(std::numeric_limits<int64_t>::max(), block);
        numCols = std::max<int64_t>(reader.numColumns(), 0);
    } catch (const orvane::HostError &e) {
        printError(e);
        return std::nullopt;
    }
    if (numRows == 0) {
        printError(cliError::kBenchNoRows, path + " holds no input rows");
        return std::nullopt;
    }
    return orvane::Value::doubleMatrix(numRows, numCols, block);
}

int runBench(const BenchOptions &options) {
    std::optional<fazolt::System> loaded;
    try {
        loaded = fazolt::System::fromFile(options.systemPath,
                                          options.modulePath.empty() ? defaultModulePath() : options.modulePath);
    } catch (const orvane::HostError &e) {
        printError(e, options.systemPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    const fazolt::System &system = *loaded;

    std::optional<orvane::Value> read = readInputs(options.inputsPath);
    if (!read) return EXIT_EVALUATION_ERROR;
    const orvane::Value &inputs = *read;
    const int64_t numRows = inputs.dims()[0];
    // Every diagnostic off: a warning per row would time the warning log,
    // not the evaluation.
    orvane::Value diagnostics = fazolt::makeDiagnostics(0, 0, 0, system.name());

    // Split across threads: the rows' own checks off too, as the module's.
    fazolt::RowChecks split;
    split.nanInput = fazolt::REPORT_NOTHING;
    split.nonFiniteOutput = fazolt::REPORT_NOTHING;
    split.threads = options.threads;

    std::vector<double> nsPerRow;
    std::vector<double> cpuNsPerRow;
    std::optional<uint64_t> checksum;
    for (int64_t rep = 0; rep <= options.numReps; ++rep) {  // rep 0 warms up and is not counted
        double cpuStart = cpuNanoseconds();
        auto start = std::chrono::steady_clock::now();
        orvane::CallOutcome outcome = options.threads == 1 ? system.call(inputs, diagnostics, 1)
                                                           : system.checkedCall(inputs, diagnostics, split, 1);
        auto stop = std::chrono::steady_clock::now();
        double cpuStop = cpuNanoseconds();
        if (outcome.error) {
            printError(*outcome.error);
            return EXIT_EVALUATION_ERROR;
        }
        const orvane::Value &result = outcome.results.at(0);
        uint64_t sum = checksumOf(static_cast<const double *>(result.data()), result.numel());
        if (checksum && *checksum != sum) {
            printNondeterministic(rep, sum, *checksum);
            return EXIT_EVALUATION_ERROR;
        }
        checksum = sum;
        if (rep > 0) {
            double ns = std::chrono::duration<double, std::nano>(stop - start).count();
            nsPerRow.push_back(ns / static_cast<double>(numRows));
            cpuNsPerRow.push_back((cpuStop - cpuStart) / static_cast<double>(numRows));
        }
    }
    double median = medianOf(nsPerRow);
    double lowest = *std::min_element(nsPerRow.begin(), nsPerRow.end());
    double highest = *std::max_element(nsPerRow.begin(), nsPerRow.end());
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  " rows=%" PRId64 " reps=%" PRId64
                  " threads=%u"
                  " median_ns_row=%.1f min_ns_row=%.1f max_ns_row=%.1f rows_per_s=%.0f cpu_ns_row=%.1f"
                  " checksum=0x%016" PRIx64 "\n",
                  numRows, options.numReps, options.threads, median, lowest, highest, 1e9 / median,
                  medianOf(cpuNsPerRow), *checksum);
    // Through std::cout, whose failure main reports.
    std::cout << "system=" << (system.name().empty() ? "-" : system.name()) << numbers;
    if (!options.isOneRow) return 0;
    try {
        return runOneRowPerCall(system, inputs, options.numReps, *checksum);
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
}

}  // namespace

void addBenchCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<BenchOptions>();
    CLI::App *bench = app.add_subcommand("bench", "Time the module on the rows of a CSV file");
    bench->footer(
        "The inputs are parsed once; then one module call over all rows is timed REPS times,\n"
        "after one warm-up call that is not counted. Each call asks for result 1 only and\n"
        "turns every diagnostic off (out-of-range input, no rule fired, empty output set), so\n"
        "warnings do not dominate the time; `fazolt eval` reports them.\n\n"
        "Output: one line with the median, lowest and highest nanoseconds per row, rows per\n"
        "second at the median, the median CPU time per row (on a busy machine the wall time also\n"
        "counts waiting for a core), and an FNV-1a checksum of the output bits. Every repetition\n"
        "must give the same checksum; otherwise the command exits with status 1.\n\n"
        "--threads N splits the rows across N threads of this process (0: one per core), as\n"
        "fazolt::System::evaluate does with DiagnosticModes::threads; the checksum is that of\n"
        "one thread. The CPU time then adds up the threads' time.\n\n"
        "--one-row then evaluates the rows again one per call through a fazolt::Evaluator\n"
        "(the C++ API's prepared evaluator), REPS times after a warm-up pass, timing each call\n"
        "less the cost of reading the clock, checks that the outputs have the batch's bits, and\n"
        "ends with the line `one row per call: median N ns, p99 N ns`.\n\n"
        "Examples:\n"
        "  fazolt bench examples/dimmer/dimmer.json examples/dimmer/inputs.csv\n"
        "  fazolt bench fan.json build/bench-inputs/fan.csv --reps 20 --threads 2\n"
        "  system=fan rows=100000 reps=20 threads=2 median_ns_row=... min_ns_row=... max_ns_row=... rows_per_s=... "
        "cpu_ns_row=... checksum=0x...");
    bench->add_option("system", options->systemPath, "System: nested description or raw record (JSON)")
        ->required()
        ->type_name("SYSTEM");
    bench->add_option("inputs", options->inputsPath, "Input rows, CSV (a non-numeric first line is a header)")
        ->required()
        ->type_name("INPUTS.csv");
    bench->add_option("--reps", options->numReps, "Timed repetitions (default 10)")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    bench->add_option("--threads", options->threads, "Threads the rows are split across (default 1; 0: one per core)")
        ->check(CLI::Range(0u, 4096u))
        ->type_name("N");
    bench->add_flag("--one-row", options->isOneRow, "Also time each row evaluated alone (prepared evaluator)");
    bench->add_option("--module", options->modulePath, "Module to load (default: the one beside the fazolt libraries)");
    addFunctionsOption(bench);
    bench->callback([options, &status]() { status = runBench(*options); });
}
