// Streaming CSV of input rows for `fazolt eval`: one row per line, read a
// block of rows at a time so that a file of any size is evaluated in
// bounded memory.
//
// Accepted: a UTF-8 byte-order mark at the start, CRLF or LF line ends,
// fields quoted as in RFC 4180 (separators and doubled quotes inside
// quotes; not line ends), blanks around a number, NaN/Inf/-Inf in any letter
// case, numbers below the double range (read as a zero of their sign), a
// first line none of whose fields reads as a number (a header), blank lines
// at the end. A header maps columns to inputs by name; columns that are not
// inputs are ignored or kept for the output. Every error raises
// orvane::HostError "fazolt:csv:..." whose message names the file and line,
// e.g. `inputs.csv:17: column 2: expected a number, got "abc"`.
#ifndef FAZOLT_CLI_CSV_H
#define FAZOLT_CLI_CSV_H

#include <orvane/host.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class HeaderMode { detect, present, absent };

// The longest line read by default, its line end not counted: far beyond any
// row of numbers, and it keeps a file without line ends from being held whole.
constexpr int64_t kDefaultMaxLineBytes = int64_t{1} << 20;

// Which fields of a line hold what. Field numbers are 0-based.
struct CsvLayout {
    char delimiter = ',';
    int64_t numFields = -1;            // per line; -1 takes the first row's count
    bool isByName = false;             // else field i is input i
    std::vector<int64_t> inputFields;  // by name: the field of input i
    std::vector<int64_t> keptFields;   // passed through to the output, in this order
    int64_t numInputs() const { return isByName ? static_cast<int64_t>(inputFields.size()) : numFields; }
};

// What the command line asks of the columns.
struct ColumnRequest {
    bool hasNames = false;  // false for a raw record: columns by position
    std::vector<std::string> inputNames;
    int64_t numInputs = -1;  // -1 when the record does not say
    std::vector<std::string> keepNames;
    bool isKeepAll = false;
};

// The layout for a file with this header (or none), or the error naming
// the file's line 1, the input or the column.
CsvLayout mapColumns(const std::optional<std::vector<std::string>> &header, const ColumnRequest &request,
                     char delimiter, const std::string &displayName);

// One field as a double (the shared locale-free reader); false otherwise.
bool parseCsvNumber(std::string_view field, double &value);

// A field as written into output CSV: quoted when it holds a comma, a
// quote or a line end.
std::string csvField(std::string_view text);

// The rows that readBlockLines gave, parsed into a rows x numInputs
// column-major matrix, and each row's kept fields as the start of its
// output line ("a,b,"; nothing when none are kept): what readBlock would
// have given, or the same error.
void parseCsvRows(std::string_view lines, int64_t numRows, const CsvLayout &layout, int64_t firstLine,
                  const std::string &displayName, std::vector<double> &columnMajor,
                  std::vector<std::string> *keptStarts = nullptr);

// A block of row lines: numRows lines from line firstLine on, and the error
// that ended the block early, if any (the rows before it are kept).
struct CsvLineBlock {
    int64_t numRows = 0;
    int64_t firstLine = 0;
    std::optional<orvane::HostError> error;
};

class CsvReader {
public:
    // Reads `path`, or standard input for "-", with the fields of a row
    // taken by position. expectedColumns < 0 takes the first data row's
    // count as the count every row must have.
    CsvReader(const std::string &path, int64_t expectedColumns);
    // Reads with this delimiter and header rule; setLayout before the rows.
    CsvReader(const std::string &path, char delimiter, HeaderMode headerMode);
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // The first line's fields when it is a header (read on the first call).
    const std::optional<std::vector<std::string>> &header();
    // A longer line is the error "fazolt:csv:LineTooLong"; before header().
    void setMaxLineBytes(int64_t maxBytes) { maxLineBytes_ = static_cast<size_t>(maxBytes); }
    void setLayout(const CsvLayout &layout);
    const CsvLayout &layout() const { return layout_; }

    // Appends up to maxRows rows to `columnMajor` as a rows x numInputs
    // matrix (cleared first) and returns the row count; 0 at the end.
    // readBlockLines and then parseCsvRows, in one call.
    int64_t readBlock(int64_t maxRows, std::vector<double> &columnMajor,
                      std::vector<std::string> *keptStarts = nullptr);
    // readBlock without reading the numbers: up to maxRows row lines, each
    // ended by '\n', into `lines`, for parseCsvRows to read elsewhere.
    CsvLineBlock readBlockLines(int64_t maxRows, std::string &lines);
    const std::string &displayName() const { return displayName_; }
    // The line of the first row that readBlock last gave.
    int64_t blockFirstLine() const { return blockFirstLine_; }

    int64_t numColumns() const { return layout_.numInputs(); }
    uint64_t bytesRead() const { return bytesRead_; }
    // The file's size when it is a regular file, else 0.
    uint64_t totalBytes() const { return totalBytes_; }

private:
    bool nextLine(std::string_view &line);
    void readMore();
    bool nextRowLine(std::string_view &line);
    bool isRowLine(std::string_view line);
    std::string where() const;

    std::string displayName_;
    int fd_ = -1;
    bool ownsFile_ = false;
    // Bytes read and not yet taken as lines: buffer_[unreadStart_, unreadEnd_).
    // It grows only for a line longer than it, up to the longest line allowed.
    std::vector<char> buffer_;
    size_t unreadStart_ = 0;
    size_t unreadEnd_ = 0;
    bool isFileEnd_ = false;
    size_t maxLineBytes_ = static_cast<size_t>(kDefaultMaxLineBytes);
    int64_t lineNumber_ = 0;
    int64_t pendingBlankLine_ = 0;  // a blank line is fine only if nothing follows it
    HeaderMode headerMode_ = HeaderMode::detect;
    bool isHeaderRead_ = false;
    std::optional<std::vector<std::string>> header_;
    std::string firstRowText_;  // line 1 when it is no header, until read
    bool hasFirstRow_ = false;
    CsvLayout layout_;
    int64_t blockFirstLine_ = 0;
    uint64_t bytesRead_ = 0;
    uint64_t totalBytes_ = 0;
    bool atEnd_ = false;
    std::vector<std::string_view> fields_;
    std::string fieldText_;
    std::string blockLines_;  // the lines of the block readBlock reads
};

#endif
