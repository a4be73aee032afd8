// What the tool tells the user on standard error: one error printer, one
// warning printer with the per-identifier cap, and the list of the tool's
// own error identifiers, so that each is written the same way everywhere.
#ifndef FAZOLT_CLI_REPORT_H
#define FAZOLT_CLI_REPORT_H

#include <orvane/host.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The identifiers the tool raises itself (the module's and the API's come
// with their errors). One fault, one identifier.
namespace cliError {
inline constexpr const char *kCannotOpen = "fazolt:io:CannotOpen";
inline constexpr const char *kReadFailed = "fazolt:io:ReadFailed";
inline constexpr const char *kCannotWrite = "fazolt:io:CannotWrite";
inline constexpr const char *kWriteFailed = "fazolt:io:WriteFailed";
inline constexpr const char *kOutOfMemory = "fazolt:memory:OutOfMemory";
// A row, a --row or a data matrix with more or fewer values than the system has inputs.
inline constexpr const char *kColumnCount = "fazolt:input:ColumnCount";
inline constexpr const char *kInputMissing = "fazolt:input:Missing";
inline constexpr const char *kUnknownVariable = "fazolt:input:UnknownVariable";
inline constexpr const char *kSamePair = "fazolt:input:SamePair";
inline constexpr const char *kBadNumber = "fazolt:input:BadNumber";
inline constexpr const char *kBadDiagnostics = "fazolt:input:BadDiagnostics";
inline constexpr const char *kBadAssignment = "fazolt:input:BadAssignment";
inline constexpr const char *kCsvBadNumber = "fazolt:csv:BadNumber";
inline constexpr const char *kCsvBadQuote = "fazolt:csv:BadQuote";
inline constexpr const char *kCsvBareCarriageReturn = "fazolt:csv:BareCarriageReturn";
inline constexpr const char *kCsvBlankLine = "fazolt:csv:BlankLine";
inline constexpr const char *kCsvDuplicateColumn = "fazolt:csv:DuplicateColumn";
inline constexpr const char *kCsvHeaderColumns = "fazolt:csv:HeaderColumns";
inline constexpr const char *kCsvLineTooLong = "fazolt:csv:LineTooLong";
inline constexpr const char *kCsvMissingColumn = "fazolt:csv:MissingColumn";
inline constexpr const char *kCsvNoHeader = "fazolt:csv:NoHeader";
inline constexpr const char *kJobsCannotStart = "fazolt:jobs:CannotStart";
inline constexpr const char *kJobsPollFailed = "fazolt:jobs:PollFailed";
inline constexpr const char *kJobsWorkerStopped = "fazolt:jobs:WorkerStopped";
inline constexpr const char *kBenchNoRows = "fazolt:bench:NoRows";
inline constexpr const char *kBenchNondeterministic = "fazolt:bench:Nondeterministic";
inline constexpr const char *kPropertiesMissing = "fazolt:properties:Missing";
inline constexpr const char *kViewPortInUse = "fazolt:view:PortInUse";
inline constexpr const char *kViewCannotListen = "fazolt:view:CannotListen";
inline constexpr const char *kTuneNoPython = "fazolt:tune:NoPython";
}  // namespace cliError

// `error: ID: CONTEXTline` for each line of the message (a file's several
// problems come as one message, a line each).
void printError(const std::string &identifier, const std::string &message, const std::string &context = "");
void printError(const orvane::HostError &e, const std::string &context = "");
// `error: usage: message`: a command line the tool cannot run.
void printUsageError(const std::string &message);
// `warning: message`, for a warning about the command itself rather than
// the system or the data (no identifier to cap by).
void printNotice(const std::string &message);

// Warnings, at most kShownPerIdentifier of each identifier, and at the end
// how many of each were not shown.
class WarningPrinter {
public:
    static constexpr int64_t kShownPerIdentifier = 20;
    void print(const std::string &identifier, const std::string &message);
    void print(const std::vector<orvane::Warning> &warnings);
    // How many more of an identifier's warnings will be printed.
    int64_t numStillShown(const std::string &identifier) const;
    void printSummary() const;

private:
    std::map<std::string, int64_t> counts_;
};

// A command's one batch of warnings, capped and summed up.
void printWarnings(const std::vector<orvane::Warning> &warnings);

#endif
