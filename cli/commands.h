// The subcommands of the fazolt tool. Each registers itself on the CLI11
// app and returns the exit status through `status` when it runs.
#ifndef FAZOLT_CLI_COMMANDS_H
#define FAZOLT_CLI_COMMANDS_H

#include <CLI/CLI.hpp>

#include <orvane/host.h>

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
std::string jsonString(const std::string &text);
// Prints {"results": [...], "warnings": [...]} or {"error": ..., "warnings": [...]},
// the form of `fazolt call`; returns the exit status.
int printCallOutcome(std::ostream &out, const orvane::CallOutcome &outcome);

void addBenchCommand(CLI::App &app, int &status);
void addCallCommand(CLI::App &app, int &status);
void addEvalCommand(CLI::App &app, int &status);
void addPropertiesCommand(CLI::App &app, int &status);

#endif
