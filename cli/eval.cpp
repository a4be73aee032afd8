// fazolt eval: a system (nested description or raw record) evaluated on the
// rows of a CSV file, a block of rows per module call: the command's
// options and help.
#include "cli/eval.h"

namespace {

const char *const kEvalHelp =
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
    "--threads N evaluates on N threads of this process (0: one per core), with the output,\n"
    "warnings and errors of --threads 1, byte for byte: with csv output each thread takes\n"
    "whole blocks (reading their numbers, evaluating, formatting) while one reads the lines\n"
    "and writes in order; with --format json, or a .json INPUTS, each call's rows are split.\n"
    "It needs no worker processes; --jobs and --threads do not combine.\n\n"
    "--line-buffered answers each row and flushes it as soon as its line is read, so that\n"
    "another program can write a line and wait for its answer (a co-process); it is the\n"
    "default when INPUTS is a terminal. The bytes are those of --block-rows 1: those of the\n"
    "buffered run, except that the rows before an error were answered already. It takes csv\n"
    "output to standard output with --jobs 1 and --threads 1 (one row leaves nothing to\n"
    "split), and a CSV INPUTS.\n\n"
    "Examples:\n"
    "  fazolt eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv\n"
    "  cat inputs.csv | fazolt eval dimmer.json --on-no-rule-fired error\n"
    "  fazolt eval dimmer.json readings.csv --delimiter ';' --keep id -o outputs.csv\n"
    "  fazolt eval dimmer.record.json inputs.csv --diagnostics diagnostics.json\n"
    "  fazolt eval dimmer.json inputs.csv --format json --nargout 2\n"
    "  fazolt eval big.json rows.csv --jobs 2 > outputs.csv\n"
    "  fazolt eval big.json rows.csv --threads 2 -o outputs.csv\n"
    "  controller | fazolt eval dimmer.json --line-buffered | actuator";

void addEvalOptions(CLI::App *eval, EvalOptions &options) {
    addSystemOption(eval, options.systemPath);
    eval->add_option("inputs", options.inputsPath, "Input rows: CSV file, - for standard input, or a .json host value")
        ->type_name("INPUTS");
    eval->add_option("-o,--output,--output-file", options.outputPath,
                     "Write the outputs to FILE (replaced only on success)")
        ->type_name("FILE");
    eval->add_option("--format", options.format, "Output format: csv (default) or json")
        ->check(CLI::IsMember({"csv", "json"}))
        ->type_name("FORMAT");
    eval->add_option("--nargout", options.numResults, "Results to ask for with --format json, 0 to 6 (default 6)")
        ->check(CLI::Range(0, 6))
        ->type_name("K");
    addDiagnosticsOptions(eval, options.diagnostics);
    eval->add_option("--delimiter", options.delimiter, "Field separator of INPUTS: , (default) ; | or tab")
        ->check(CLI::Validator(
            [](std::string &text) {
                char delimiter = ',';
                return parseDelimiter(text, delimiter) ? std::string() : "expected , ; | or tab, got \"" + text + "\"";
            },
            "", "delimiter"))
        ->type_name("C");
    CLI::Option *header = eval->add_flag("--header", options.isHeader, "The first line of INPUTS is a header");
    eval->add_flag("--no-header", options.isNoHeader, "The first line of INPUTS is a row")->excludes(header);
    CLI::Option *keep = eval->add_option("--keep", options.keepNames, "Columns of INPUTS to pass through, by name")
                            ->delimiter(',')
                            ->type_name("NAME,...");
    eval->add_flag("--keep-all", options.isKeepAll, "Pass every column of INPUTS through")->excludes(keep);
    eval->add_flag("--line-buffered", options.isLineBuffered,
                       "Answer and flush each row as its line is read (default when INPUTS is a terminal)");
    eval->add_option("--block-rows", options.blockRows, "Rows per module call (default 8192)")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 24))
        ->type_name("N");
    eval->add_option("--max-line-bytes", options.maxLineBytes,
                     "Longest line of INPUTS read, in bytes (default " + std::to_string(kDefaultMaxLineBytes) + ")")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 40))
        ->type_name("N");
    addModuleOption(eval, options.modulePath);
    addSamplesOption(eval, options.samples);
    eval->add_option("--jobs", options.jobs, "Worker processes for the module calls (default 1), csv output only")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    eval->add_option("--threads", options.threads,
                     "Threads of this process that evaluate (default 1; 0: one per core)")
        ->check(CLI::Range(0u, 4096u))
        ->type_name("N");
    addFunctionsOption(eval);
}

// Row by row needs csv lines written as they come, by this process, on
// standard output: refused with anything that gathers rows first. A
// terminal gets it unasked when nothing else is asked for.
void checkLineBuffered(EvalOptions &options, bool isBlockRowsGiven) {
    const char *conflict = nullptr;
    if (options.format == "json") conflict = "--format json holds every row in one value";
    if (!options.outputPath.empty()) conflict = "-o FILE is written only when everything is done";
    if (options.jobs > 1) conflict = "--jobs hands blocks of rows to worker processes";
    if (options.threads != 1) conflict = "--threads splits blocks of rows";
    if (endsWith(options.inputsPath, ".json")) conflict = "a .json INPUTS is one call";
    if (isBlockRowsGiven) conflict = "--block-rows asks for blocks";
    if (!options.isLineBuffered) {
        options.isLineBuffered = conflict == nullptr && options.inputsPath == "-" && isatty(STDIN_FILENO) == 1;
    } else if (conflict != nullptr) {
        throw CLI::ValidationError("--line-buffered", std::string("it answers each row on standard output as it is read; ") +
                                                          conflict);
    }
    if (options.isLineBuffered) options.blockRows = 1;
}

}  // namespace

void addEvalCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<EvalOptions>();
    CLI::App *eval = app.add_subcommand("eval", "Evaluate a system on the rows of a CSV file");
    eval->footer(kEvalHelp);
    addEvalOptions(eval, *options);
    eval->callback([options, eval, &status]() {
        if (options->jobs > 1 && options->threads != 1) {
            throw CLI::ValidationError("--threads", "--jobs and --threads do not combine: choose one");
        }
        if (options->jobs > 1 && options->format == "json") {
            throw CLI::ValidationError("--jobs", "--format json takes --jobs 1 only");
        }
        if ((!options->keepNames.empty() || options->isKeepAll) && options->format == "json") {
            throw CLI::ValidationError("--keep", "kept columns go to csv output only");
        }
        checkLineBuffered(*options, eval->count("--block-rows") > 0);
        bool isSplit = options->jobs > 1 && !endsWith(options->inputsPath, ".json");
        status = isSplit ? runEvalJobs(*options) : runEval(*options);
    });
}
