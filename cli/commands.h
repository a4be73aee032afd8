// The subcommands of the fazolt tool. Each registers itself on the CLI11
// app and returns the exit status through `status` when it runs.
#ifndef FAZOLT_CLI_COMMANDS_H
#define FAZOLT_CLI_COMMANDS_H

#include "cli/report.h"

#include <CLI/CLI.hpp>

#include <fazolt/explain.h>
#include <fazolt/fazolt.h>
#include <fazolt/formats.h>
#include <orvane/host.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

// Exit statuses: 0 success, 1 evaluation or input error, 2 usage error.
constexpr int EXIT_EVALUATION_ERROR = 1;
constexpr int EXIT_USAGE = 2;

// The module beside the fazolt libraries this tool uses.
std::string defaultModulePath();
// Whole file, or standard input for "-"; raises HostError "fazolt:io:..." on failure.
std::string readTextFile(const std::string &path);
// {"identifier": ..., "message": ..., "arguments": [...]}
std::string warningToJson(const orvane::Warning &w);
using fazolt::jsonString;
// Prints {"results": [...], "warnings": [...]} or {"error": ..., "warnings": [...]},
// the form of `fazolt call`; returns the exit status.
int printCallOutcome(std::ostream &out, const orvane::CallOutcome &outcome);

// ---- Diagnostics options, shared by the commands that evaluate.

// How the three situations are reported, as the command line gives them
// (--on-out-of-range, --on-no-rule-fired, --on-empty-set), or the whole
// argument 3 from a file (--diagnostics); and the two checks around the
// module call (--on-nan-input, --on-non-finite-output), which no file sets.
struct DiagnosticFlags {
    std::string onOutOfRange = "warning";
    std::string onNoRuleFired = "warning";
    std::string onEmptySet = "warning";
    std::string diagnosticsPath;
    std::string onNanInput = "warning";
    std::string onNonFiniteOutput = "warning";
};
// none, warning, error, or a byte passed as it is; false for other text.
bool parseMode(const std::string &text, uint8_t &mode);
// The same as the API's mode: 2 warns, 3 raises an error, any other byte says nothing.
bool parseMode(const std::string &text, fazolt::Report &mode);
// Adds the six options to `command`.
void addDiagnosticsOptions(CLI::App *command, DiagnosticFlags &options);
// The modes of the two checks, with each row named by rowName.
fazolt::RowChecks rowChecks(const DiagnosticFlags &options, std::function<std::string(int64_t row)> rowName);
// Argument 3: the --diagnostics file as it stands, or built from the modes
// with the system's name as the model; raises HostError naming the file.
orvane::Value diagnosticsArgument(const DiagnosticFlags &options, const std::string &systemName);

// ---- Systems.

// SYSTEM read once (a description or a raw record) and loaded with the
// module: PATH's text, for worker processes that must load the same.
struct LoadedSystem {
    std::string text;
    std::optional<fazolt::System> system;
};
// The SYSTEM argument and the --module option of a command.
void addSystemOption(CLI::App *command, std::string &systemPath);
void addModuleOption(CLI::App *command, std::string &modulePath);
// The record's numInputs when it is a whole number from 0 to 2^31-1, else
// -1 (the module's import then reports the malformed record).
int64_t recordNumInputs(const orvane::Value &record);
// Loads SYSTEM; on failure prints the one error line (naming the file,
// or the module when that is what failed) and returns nothing.
// samples > 0 sets the description's numSamples (--samples).
std::optional<LoadedSystem> loadSystemFile(const std::string &path, const std::string &modulePath, int64_t samples = 0);
// --samples N: the sample count of a Mamdani system, set or overridden.
void addSamplesOption(CLI::App *command, int64_t &samples);
// A reader's warnings about the system file, capped like every other.
void printFormatWarnings(const std::vector<fazolt::FormatWarning> &warnings);

void addBenchCommand(CLI::App &app, int &status);
void addCheckCommand(CLI::App &app, int &status);
void addCallCommand(CLI::App &app, int &status);
void addEvalCommand(CLI::App &app, int &status);
void addPropertiesCommand(CLI::App &app, int &status);
void addExplainCommand(CLI::App &app, int &status);
void addPlotCommand(CLI::App &app, int &status);
void addViewCommand(CLI::App &app, int &status);
void addConvertCommand(CLI::App &app, int &status);
void addTuneCommand(CLI::App &app, int &status);
void addExportCommand(CLI::App &app, int &status);
// --functions FILE.lua on a command that evaluates.
void addFunctionsOption(CLI::App *command);

#endif
