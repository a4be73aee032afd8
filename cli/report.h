// What the tool tells the user on standard error: one error printer, one
// warning printer with the per-identifier cap, and the list of the tool's
// own error identifiers, so that each is written the same way everywhere.
#ifndef FAZOLT_CLI_REPORT_H
#define FAZOLT_CLI_REPORT_H

#include <fazolt/error_ids.h>
#include <fazolt/fazolt.h>
#include <orvane/host.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The identifiers the tool raises itself (the module's and the API's come
// with their errors), by the names the tool's code uses; spelled once, in
// fazolt::ids. One fault, one identifier.
namespace cliError {
inline constexpr const char *kCannotOpen = fazolt::ids::ioCannotOpen;
inline constexpr const char *kReadFailed = fazolt::ids::ioReadFailed;
inline constexpr const char *kCannotWrite = fazolt::ids::ioCannotWrite;
inline constexpr const char *kWriteFailed = fazolt::ids::ioWriteFailed;
inline constexpr const char *kOutOfMemory = fazolt::ids::memoryOutOfMemory;
// A row, a --row or a data matrix with more or fewer values than the system has inputs.
inline constexpr const char *kColumnCount = fazolt::ids::inputColumnCount;
inline constexpr const char *kInputMissing = fazolt::ids::inputMissing;
inline constexpr const char *kUnknownVariable = fazolt::ids::inputUnknownVariable;
inline constexpr const char *kSamePair = fazolt::ids::inputSamePair;
inline constexpr const char *kBadNumber = fazolt::ids::inputBadNumber;
inline constexpr const char *kBadDiagnostics = fazolt::ids::inputBadDiagnostics;
inline constexpr const char *kBadAssignment = fazolt::ids::inputBadAssignment;
inline constexpr const char *kCsvBadNumber = fazolt::ids::csvBadNumber;
inline constexpr const char *kCsvBadQuote = fazolt::ids::csvBadQuote;
inline constexpr const char *kCsvBareCarriageReturn = fazolt::ids::csvBareCarriageReturn;
inline constexpr const char *kCsvBlankLine = fazolt::ids::csvBlankLine;
inline constexpr const char *kCsvDuplicateColumn = fazolt::ids::csvDuplicateColumn;
inline constexpr const char *kCsvHeaderColumns = fazolt::ids::csvHeaderColumns;
inline constexpr const char *kCsvLineTooLong = fazolt::ids::csvLineTooLong;
inline constexpr const char *kCsvMissingColumn = fazolt::ids::csvMissingColumn;
inline constexpr const char *kCsvNoHeader = fazolt::ids::csvNoHeader;
inline constexpr const char *kJobsCannotStart = fazolt::ids::jobsCannotStart;
inline constexpr const char *kJobsPollFailed = fazolt::ids::jobsPollFailed;
inline constexpr const char *kJobsWorkerStopped = fazolt::ids::jobsWorkerStopped;
inline constexpr const char *kBenchNoRows = fazolt::ids::benchNoRows;
inline constexpr const char *kBenchNondeterministic = fazolt::ids::benchNondeterministic;
inline constexpr const char *kPropertiesMissing = fazolt::ids::propertiesMissing;
inline constexpr const char *kViewPortInUse = fazolt::ids::viewPortInUse;
inline constexpr const char *kViewCannotListen = fazolt::ids::viewCannotListen;
inline constexpr const char *kTuneNoPython = fazolt::ids::tuneNoPython;
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
    static constexpr int64_t kShownPerIdentifier = fazolt::defaults::kWarningsPerIdentifier;
    void print(const std::string &identifier, const std::string &message);
    void print(const std::vector<orvane::Warning> &warnings);
    // How many more of an identifier's warnings will be printed.
    int64_t numStillShown(const std::string &identifier) const;
    void printSummary() const;

private:
    std::map<std::string, int64_t> counts_;
};

// A command's one batch of warnings, capped and summed up.
void printWarnings(const std::vector<fazolt::Warning> &warnings);

#endif
