// What explain, plot and view share: the system with its explainer, one
// input row from --input NAME=VALUE or --row, and the diagnostics modes.
#ifndef FAZOLT_CLI_EXPLAIN_OPTIONS_H
#define FAZOLT_CLI_EXPLAIN_OPTIONS_H

#include "cli/commands.h"

#include <fazolt/explain.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct RowOptions {
    std::vector<std::string> inputs;      // NAME=VALUE
    std::string row;                      // "v1,v2,..."
    std::string inputOption = "--input";  // the option that gave `inputs`, for messages
};

// --input and --row on `command`.
void addRowOptions(CLI::App *command, RowOptions &options);

// The row the options give; inputs not named take `defaults` when given
// (else an error names the first one missing). Raises orvane::HostError
// "fazolt:input:..." naming the bad option.
std::vector<double> readRow(const RowOptions &options, const fazolt::SystemInfo &info,
                            const std::vector<double> *defaults = nullptr);

// The values of "v1,v2,...", each read by readNumber (columns counted from
// 1); more or fewer than numInputs raise HostError "fazolt:input:ColumnCount"
// with `where` before the message. One parser for --row and view's row=.
std::vector<double> parseRowValues(std::string_view text, size_t numInputs, const std::string &where,
                                   const std::function<double(std::string_view value, size_t column)> &readNumber);

// The midpoint of every input's range.
std::vector<double> rangeMidpoints(const fazolt::SystemInfo &info);

// The modes that --on-out-of-range, --on-no-rule-fired and --on-empty-set
// give, or those of a --diagnostics file (its model and block names are not
// used), and those of the two checks. Raises HostError naming the file.
fazolt::DiagnosticModes readModes(const DiagnosticFlags &options, const std::string &systemName);

fazolt::Explainer loadExplainer(const std::string &systemPath, const std::string &modulePath);

// The index of the variable called `name`, or an error naming `option`.
size_t findVariable(const std::vector<fazolt::VariableInfo> &vars, const std::string &name, const std::string &option);

#endif
