// Streaming CSV reader: lines, fields, numbers.
#include "cli/csv.h"

#include <orvane/host.h>

#include <stdio_ext.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

enum class NumberStatus { ok, notANumber, outOfRange };

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

NumberStatus readNumber(std::string_view field, double &value) {
    std::string_view s = trimBlanks(field);
    // from_chars takes no '+', which spreadsheets sometimes write.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() == '+' || s.front() == '-') return NumberStatus::notANumber;
    }
    if (s.empty()) return NumberStatus::notANumber;
    double v = 0.0;
    std::from_chars_result r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return NumberStatus::notANumber;
    // 1e400 and 1e-400 would otherwise be silently Inf or 0.
    if (r.ec == std::errc::result_out_of_range) return NumberStatus::outOfRange;
    if (r.ec != std::errc()) return NumberStatus::notANumber;
    value = v;
    return NumberStatus::ok;
}

// Shown in messages: long fields are cut so the error stays one line.
std::string shownField(std::string_view field) {
    std::string_view s = trimBlanks(field);
    std::string out;
    for (char c : s.substr(0, 40)) out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    if (s.size() > 40) out += "...";
    return out;
}

}  // namespace

bool parseCsvNumber(std::string_view field, double &value) { return readNumber(field, value) == NumberStatus::ok; }

CsvReader::CsvReader(const std::string &path, int64_t expectedColumns)
    : displayName_(path == "-" ? std::string("<stdin>") : path), numColumns_(expectedColumns) {
    if (path == "-") {
        file_ = stdin;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) {
            throw orvane::HostError("fazolt:io:CannotOpen", "cannot open '" + path + "': " + std::strerror(errno));
        }
        ownsFile_ = true;
    }
    // Only this reader touches the stream: getline need not lock it per line.
    __fsetlocking(file_, FSETLOCKING_BYCALLER);
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode)) totalBytes_ = static_cast<uint64_t>(info.st_size);
}

CsvReader::~CsvReader() {
    if (ownsFile_) std::fclose(file_);
    std::free(lineBuffer_);
}

std::string CsvReader::where() const { return displayName_ + ":" + std::to_string(lineNumber_); }

// The next line without its end (LF or CRLF); false at the end of the file.
bool CsvReader::nextLine(std::string_view &line) {
    if (atEnd_) return false;
    errno = 0;
    ssize_t n = getline(&lineBuffer_, &lineCapacity_, file_);
    if (n < 0) {
        if (std::ferror(file_)) {
            throw orvane::HostError("fazolt:io:ReadFailed",
                                    "cannot read '" + displayName_ + "': " + std::strerror(errno));
        }
        atEnd_ = true;
        return false;
    }
    bytesRead_ += static_cast<uint64_t>(n);
    ++lineNumber_;
    line = std::string_view(lineBuffer_, static_cast<size_t>(n));
    if (lineNumber_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A file with CR-only line ends reads as one line, which would be taken
    // for a header and give no rows at all.
    if (line.find('\r') != std::string_view::npos) {
        throw orvane::HostError("fazolt:csv:BareCarriageReturn",
                                where() + ": carriage return inside a line; lines end with LF or CRLF");
    }
    return true;
}

void splitCsvRow(std::string_view line, const std::string &displayName, int64_t lineNumber,
                 std::vector<double> &row) {
    row.clear();
    size_t column = 0;
    size_t start = 0;
    while (true) {
        size_t comma = line.find(',', start);
        std::string_view field = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        ++column;
        double v = 0.0;
        NumberStatus status = readNumber(field, v);
        if (status != NumberStatus::ok) {
            throw orvane::HostError("fazolt:csv:BadNumber",
                                    displayName + ":" + std::to_string(lineNumber) + ": column " +
                                        std::to_string(column) + ": expected a number, got \"" +
                                        shownField(field) + "\"" +
                                        (status == NumberStatus::outOfRange ? " (outside the double range)" : ""));
        }
        row.push_back(v);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
}

// Everything about a line but its numbers: blank lines (fine only at the
// end), the header, the field count. False for a line that is no row.
bool CsvReader::isRowLine(std::string_view line) {
    if (trimBlanks(line).empty()) {
        if (pendingBlankLine_ == 0) pendingBlankLine_ = lineNumber_;
        return false;
    }
    if (pendingBlankLine_ != 0) {
        throw orvane::HostError("fazolt:csv:BlankLine", displayName_ + ":" + std::to_string(pendingBlankLine_) +
                                                             ": blank line between rows");
    }
    if (lineNumber_ == 1) {
        // A first line that is not all numbers names the columns.
        bool isNumeric = true;
        std::string_view rest = line;
        while (isNumeric) {
            size_t comma = rest.find(',');
            double v = 0.0;
            isNumeric = readNumber(rest.substr(0, comma), v) == NumberStatus::ok;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (!isNumeric) return false;
    }
    // Counted before the numbers are read: a row with a missing or extra
    // field is reported as such, not as a bad number.
    int64_t count = 1;
    for (const char *p = line.data(), *end = p + line.size();
         (p = static_cast<const char *>(std::memchr(p, ',', static_cast<size_t>(end - p)))) != nullptr; ++p) {
        ++count;
    }
    if (numColumns_ < 0) numColumns_ = count;
    if (count != numColumns_) {
        throw orvane::HostError("fazolt:csv:RaggedRow", where() + ": expected " + std::to_string(numColumns_) +
                                                            (numColumns_ == 1 ? " value" : " values") +
                                                            " (one per input), got " + std::to_string(count));
    }
    return true;
}

CsvLineBlock CsvReader::readBlockLines(int64_t maxRows, std::string &lines) {
    lines.clear();
    CsvLineBlock block;
    std::string_view line;
    try {
        while (block.numRows < maxRows && nextLine(line)) {
            if (!isRowLine(line)) continue;
            // Rows follow each other line by line: blank lines end the file
            // and only line 1 can be a header.
            if (block.numRows == 0) block.firstLine = lineNumber_;
            lines.append(line);
            lines += '\n';
            ++block.numRows;
        }
    } catch (const orvane::HostError &e) {
        block.error = e;
    }
    return block;
}

void parseCsvRows(std::string_view lines, int64_t numRows, int64_t numColumns, int64_t firstLine,
                  const std::string &displayName, std::vector<double> &columnMajor) {
    auto rows = static_cast<size_t>(numRows);
    auto cols = static_cast<size_t>(numColumns < 0 ? 0 : numColumns);
    columnMajor.resize(rows * cols);
    std::vector<double> row;
    for (size_t r = 0; r < rows; ++r) {
        size_t end = lines.find('\n');
        splitCsvRow(lines.substr(0, end), displayName, firstLine + static_cast<int64_t>(r), row);
        for (size_t c = 0; c < cols && c < row.size(); ++c) columnMajor[r + c * rows] = row[c];
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
}

int64_t CsvReader::readBlock(int64_t maxRows, std::vector<double> &columnMajor) {
    blockRows_.clear();
    int64_t numRows = 0;
    std::string_view line;
    while (numRows < maxRows && nextLine(line)) {
        if (!isRowLine(line)) continue;
        splitCsvRow(line, displayName_, lineNumber_, row_);
        blockRows_.insert(blockRows_.end(), row_.begin(), row_.end());
        ++numRows;
    }
    // The module reads column-major inputs.
    size_t cols = numColumns_ < 0 ? 0 : static_cast<size_t>(numColumns_);
    auto rows = static_cast<size_t>(numRows);
    columnMajor.resize(rows * cols);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < cols; ++c) columnMajor[r + c * rows] = blockRows_[r * cols + c];
    }
    return numRows;
}
