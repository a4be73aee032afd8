// What the parts of `fazolt eval` share: the options, the progress bar, the
// inputs opened and mapped, and the output lines of a block. The command
// (eval.cpp), the loops in this process (evalRows.cpp) and the loop over
// worker processes (evalJobs.cpp) each live in their own file.
#ifndef FAZOLT_CLI_EVAL_H
#define FAZOLT_CLI_EVAL_H

#include "cli/commands.h"
#include "cli/csv.h"
#include "cli/output.h"

#include <fazolt/fazolt.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct EvalOptions {
    std::string systemPath;
    std::string inputsPath = "-";
    std::string outputPath;
    std::string modulePath;
    int64_t samples = 0;
    DiagnosticFlags diagnostics;
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
    // Each row answered and flushed as soon as its line is read (a co-process).
    bool isLineBuffered = false;
};

bool endsWith(const std::string &s, const std::string &suffix);
// ",", ";", "|", or a tab ("tab", "\t" or the character itself).
bool parseDelimiter(const std::string &text, char &delimiter);

// A progress bar on standard error, for a large file on a terminal.
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

// One line per row of a rows x numOutputs double matrix, each after the
// row's kept fields when there are any.
void appendCsvRows(const orvane::Value &outputs, const std::vector<std::string> &keptStarts, std::string &text);
// The header line of the output: the kept columns, then the outputs; none
// for a raw record, which names no outputs.
std::string outputHeader(const fazolt::System &system, const std::vector<std::string> &keptNames);
// The checks around each module call, with rows named by their CSV line.
fazolt::RowChecks csvRowChecks(const EvalOptions &options, const std::string &displayName, int64_t firstLine);

struct Inputs {
    std::unique_ptr<CsvReader> reader;
    std::vector<std::string> keptNames;
};
// Opens INPUTS and maps its columns (by the header's names where the system
// has names) onto the inputs.
Inputs openInputs(const EvalOptions &options, const fazolt::System &system);
// Columns for the module: the inputs, or the record's count before any row
// was read (an empty file still makes one call).
int64_t numInputColumns(const CsvReader &reader, const fazolt::System &system);

// The evaluation in this process, and over --jobs worker processes; each
// returns the exit status.
int runEval(const EvalOptions &options);
int runEvalJobs(const EvalOptions &options);

// --threads N for csv output: whole blocks on N threads (their numbers read,
// evaluated and formatted), the lines read and the outputs written in order
// by the calling thread, as --jobs does in processes. JSON output keeps
// every row, and so splits each call's rows instead.
int numBlockThreads(const EvalOptions &options);
int runCsvToCsvOnThreads(const EvalOptions &options, const fazolt::System &system, const orvane::Value &diagnostics,
                         Inputs &inputs, Output &output);

#endif
