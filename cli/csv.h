// Streaming CSV of input rows for `fazolt eval`: one row per line, one
// number per column, read a block of rows at a time so that a file of any
// size is evaluated in bounded memory.
//
// Accepted: a UTF-8 byte-order mark at the start, CRLF or LF line ends,
// blanks around a number, NaN/Inf/-Inf in any letter case, a first line that
// is not all numbers (a header, skipped), blank lines at the end. Every error
// raises orvane::HostError "fazolt:csv:..." whose message names the file and
// line, e.g. `inputs.csv:17: column 2: expected a number, got "abc"`.
#ifndef FAZOLT_CLI_CSV_H
#define FAZOLT_CLI_CSV_H

#include <orvane/host.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One field as a double. Accepts what std::from_chars reads in general
// format, an optional leading '+', and surrounding blanks; false otherwise.
bool parseCsvNumber(std::string_view field, double &value);

// One row's fields as numbers, or the BadNumber error naming the file, the
// line and the column.
void splitCsvRow(std::string_view line, const std::string &displayName, int64_t lineNumber,
                 std::vector<double> &row);

// The rows that readBlockLines gave, parsed into a rows x numColumns
// column-major matrix: what readBlock would have given, or the same error.
void parseCsvRows(std::string_view lines, int64_t numRows, int64_t numColumns, int64_t firstLine,
                  const std::string &displayName, std::vector<double> &columnMajor);

// A block of row lines: numRows lines from line firstLine on, and the error
// that ended the block early, if any (the rows before it are kept).
struct CsvLineBlock {
    int64_t numRows = 0;
    int64_t firstLine = 0;
    std::optional<orvane::HostError> error;
};

class CsvReader {
public:
    // Reads `path`, or standard input for "-". expectedColumns < 0 takes the
    // first data row's count as the count every row must have.
    CsvReader(const std::string &path, int64_t expectedColumns);
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // Appends up to maxRows rows to `columnMajor` as a rows x numColumns()
    // matrix (cleared first) and returns the row count; 0 at the end.
    int64_t readBlock(int64_t maxRows, std::vector<double> &columnMajor);
    // readBlock without reading the numbers: up to maxRows row lines, each
    // ended by '\n', into `lines`, for parseCsvRows to read elsewhere.
    CsvLineBlock readBlockLines(int64_t maxRows, std::string &lines);
    const std::string &displayName() const { return displayName_; }

    int64_t numColumns() const { return numColumns_; }
    uint64_t bytesRead() const { return bytesRead_; }
    // The file's size when it is a regular file, else 0.
    uint64_t totalBytes() const { return totalBytes_; }

private:
    bool nextLine(std::string_view &line);
    bool isRowLine(std::string_view line);
    std::string where() const;

    std::string displayName_;
    std::FILE *file_ = nullptr;
    bool ownsFile_ = false;
    char *lineBuffer_ = nullptr;
    size_t lineCapacity_ = 0;
    int64_t lineNumber_ = 0;
    int64_t pendingBlankLine_ = 0;  // a blank line is fine only if nothing follows it
    int64_t numColumns_ = -1;
    uint64_t bytesRead_ = 0;
    uint64_t totalBytes_ = 0;
    bool atEnd_ = false;
    std::vector<double> row_;
    std::vector<double> blockRows_;  // row-major while a block is read
};

#endif
