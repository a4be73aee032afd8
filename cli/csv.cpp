// Streaming CSV reader: lines, fields, the header's columns, numbers.
#include "cli/csv.h"
#include "cli/report.h"

#include "common/numbers.h"

#include <fazolt/error_ids.h>
#include <orvane/host.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using fazolt::NumberStatus;
using fazolt::trimBlanks;

[[noreturn]] void raiseAt(const char *identifier, const std::string &displayName, int64_t lineNumber,
                          const std::string &what) {
    throw orvane::HostError(identifier, displayName + ":" + std::to_string(lineNumber) + ": " + what);
}

// Shown in messages: long fields are cut so the error stays one line.
std::string shownField(std::string_view field) {
    std::string_view s = trimBlanks(field);
    std::string out;
    for (char c : s.substr(0, 40)) out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    if (s.size() > 40) out += "...";
    return out;
}

// A line read as one field that holds another common separator: the file
// is most likely separated by it.
std::string delimiterHint(std::string_view line, char delimiter) {
    for (char other : {';', '\t'}) {
        if (other != delimiter && line.find(delimiter) == std::string_view::npos &&
            line.find(other) != std::string_view::npos) {
            return std::string(" (the line holds ") + (other == '\t' ? "tabs" : "';'") + ": --delimiter " +
                   (other == '\t' ? "tab" : "';'") + "?)";
        }
    }
    return "";
}

// The fields of one line. Without a quote in the line they are views into
// it; a quoted field's text, its doubled quotes made single, goes to
// `text`, which is sized first so that the views into it stay valid.
void splitFields(std::string_view line, char delimiter, std::vector<std::string_view> &fields, std::string &text,
                 const std::string &displayName, int64_t lineNumber) {
    fields.clear();
    if (line.find('"') == std::string_view::npos) {
        size_t start = 0;
        while (true) {
            const void *hit = std::memchr(line.data() + start, delimiter, line.size() - start);
            if (hit == nullptr) break;
            size_t at = static_cast<size_t>(static_cast<const char *>(hit) - line.data());
            fields.push_back(line.substr(start, at - start));
            start = at + 1;
        }
        fields.push_back(line.substr(start));
        return;
    }
    text.clear();
    text.reserve(line.size());
    size_t k = 0;
    while (true) {
        size_t start = k;
        while (k < line.size() && fazolt::isBlank(line[k]) && line[k] != delimiter) ++k;
        if (k < line.size() && line[k] == '"') {
            size_t textStart = text.size();
            for (++k;; ++k) {
                if (k >= line.size()) {
                    raiseAt(cliError::kCsvBadQuote, displayName, lineNumber,
                            "field " + std::to_string(fields.size() + 1) +
                                ": a quote is not closed before the line ends (quoted line ends are not read)");
                }
                if (line[k] == '"') {
                    if (k + 1 < line.size() && line[k + 1] == '"') {
                        ++k;
                    } else {
                        break;
                    }
                }
                text += line[k];
            }
            ++k;  // the closing quote
            while (k < line.size() && fazolt::isBlank(line[k]) && line[k] != delimiter) ++k;
            if (k < line.size() && line[k] != delimiter) {
                raiseAt(cliError::kCsvBadQuote, displayName, lineNumber,
                        "field " + std::to_string(fields.size() + 1) + ": text after the closing quote");
            }
            fields.push_back(std::string_view(text).substr(textStart));
        } else {
            // Unquoted: a quote inside it is taken as it is.
            k = start;
            while (k < line.size() && line[k] != delimiter) ++k;
            fields.push_back(line.substr(start, k - start));
        }
        if (k >= line.size()) return;
        ++k;  // the delimiter
    }
}

int64_t countFields(std::string_view line, char delimiter, std::vector<std::string_view> &fields, std::string &text,
                    const std::string &displayName, int64_t lineNumber) {
    if (line.find('"') != std::string_view::npos) {
        splitFields(line, delimiter, fields, text, displayName, lineNumber);
        return static_cast<int64_t>(fields.size());
    }
    int64_t count = 1;
    for (const char *p = line.data(), *end = p + line.size();
         (p = static_cast<const char *>(std::memchr(p, delimiter, static_cast<size_t>(end - p)))) != nullptr; ++p) {
        ++count;
    }
    return count;
}

[[noreturn]] void raiseBadNumber(std::string_view line, size_t field, std::string_view value, NumberStatus status,
                                 char delimiter, const std::string &displayName, int64_t lineNumber) {
    raiseAt(cliError::kCsvBadNumber, displayName, lineNumber,
            "column " + std::to_string(field + 1) + ": expected a number, got \"" + shownField(value) + "\"" +
                (status == NumberStatus::overflow ? " (outside the double range)" : "") +
                delimiterHint(line, delimiter));
}

// The inputs of one row, in input order, and the start of its output line.
void readRowFields(std::string_view line, const CsvLayout &layout, const std::string &displayName, int64_t lineNumber,
                   std::vector<std::string_view> &fields, std::string &text, std::vector<double> &row,
                   std::string *keptStart) {
    int64_t numInputs = layout.numInputs();
    row.resize(static_cast<size_t>(std::max<int64_t>(numInputs, 0)));
    bool isPlain = !layout.isByName && keptStart == nullptr && std::memchr(line.data(), '"', line.size()) == nullptr;
    if (isPlain) {
        // The common file: numbers in input order, read as the fields come.
        size_t start = 0;
        for (size_t i = 0; i < row.size(); ++i) {
            const void *hit = start <= line.size()
                                  ? std::memchr(line.data() + start, layout.delimiter, line.size() - start)
                                  : nullptr;
            size_t end =
                hit == nullptr ? line.size() : static_cast<size_t>(static_cast<const char *>(hit) - line.data());
            std::string_view value = start <= line.size() ? line.substr(start, end - start) : std::string_view();
            NumberStatus status = fazolt::readDecimalNumber(value, row[i]);
            if (status != NumberStatus::ok) {
                raiseBadNumber(line, i, value, status, layout.delimiter, displayName, lineNumber);
            }
            start = end + 1;
        }
        return;
    }
    splitFields(line, layout.delimiter, fields, text, displayName, lineNumber);
    for (int64_t i = 0; i < numInputs; ++i) {
        size_t field =
            !layout.isByName ? static_cast<size_t>(i) : static_cast<size_t>(layout.inputFields[static_cast<size_t>(i)]);
        std::string_view value = field < fields.size() ? fields[field] : std::string_view();
        NumberStatus status = fazolt::readDecimalNumber(value, row[static_cast<size_t>(i)]);
        if (status != NumberStatus::ok) {
            raiseBadNumber(line, field, value, status, layout.delimiter, displayName, lineNumber);
        }
    }
    if (keptStart != nullptr) {
        keptStart->clear();
        for (int64_t field : layout.keptFields) {
            *keptStart += csvField(static_cast<size_t>(field) < fields.size() ? fields[static_cast<size_t>(field)]
                                                                              : std::string_view());
            *keptStart += ',';
        }
    }
}

// The 0-based field named `name`, or -1; two of that name are an error.
int64_t findColumn(const std::vector<std::string> &header, const std::string &name, const std::string &displayName) {
    int64_t found = -1;
    for (size_t k = 0; k < header.size(); ++k) {
        if (header[k] != name) continue;
        if (found >= 0) {
            raiseAt(cliError::kCsvDuplicateColumn, displayName, 1,
                    "the header names column \"" + name + "\" twice (columns " + std::to_string(found + 1) + " and " +
                        std::to_string(k + 1) + ")");
        }
        found = static_cast<int64_t>(k);
    }
    return found;
}

std::string joinedHeader(const std::vector<std::string> &header) {
    std::string out;
    for (const std::string &h : header) out += (out.empty() ? "" : ", ") + shownField(h);
    return out;
}

}  // namespace

bool parseCsvNumber(std::string_view field, double &value) {
    return fazolt::readDecimalNumber(field, value) == NumberStatus::ok;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

CsvLayout mapColumns(const std::optional<std::vector<std::string>> &header, const ColumnRequest &request,
                     char delimiter, const std::string &displayName) {
    CsvLayout layout;
    layout.delimiter = delimiter;
    if (!header) {
        // Without names the columns are the inputs in order, and kept too
        // when all are asked for.
        if (!request.keepNames.empty()) {
            throw orvane::HostError(cliError::kCsvNoHeader, displayName +
                                                                ": --keep names columns of a header line, "
                                                                "and the file has none");
        }
        layout.numFields = request.numInputs;
        if (request.isKeepAll) {
            for (int64_t k = 0; k < request.numInputs; ++k) layout.keptFields.push_back(k);
        }
        return layout;
    }
    const std::vector<std::string> &names = *header;
    layout.numFields = static_cast<int64_t>(names.size());
    std::string line;  // for the hint: the line rebuilt from its fields
    for (const std::string &h : names) line += (line.empty() ? "" : std::string(1, delimiter)) + h;
    if (!request.hasNames) {
        // A raw record names no inputs: the header only labels them.
        if (request.numInputs >= 0 && layout.numFields != request.numInputs) {
            raiseAt(cliError::kCsvHeaderColumns, displayName, 1,
                    "the header has " + std::to_string(layout.numFields) + " columns, but a raw system record has " +
                        "no input names, so its " + std::to_string(request.numInputs) +
                        " inputs are taken by position" + delimiterHint(line, delimiter));
        }
    } else {
        layout.isByName = true;
        for (size_t i = 0; i < request.inputNames.size(); ++i) {
            int64_t field = findColumn(names, request.inputNames[i], displayName);
            if (field < 0) {
                raiseAt(cliError::kCsvMissingColumn, displayName, 1,
                        "no column \"" + request.inputNames[i] + "\" for input " + std::to_string(i + 1) +
                            " (the header has " + joinedHeader(names) + ")" + delimiterHint(line, delimiter));
            }
            layout.inputFields.push_back(field);
        }
        // Columns that are the inputs in order are read as the fields come.
        bool isInOrder = layout.numFields == static_cast<int64_t>(layout.inputFields.size());
        for (size_t i = 0; isInOrder && i < layout.inputFields.size(); ++i) {
            isInOrder = layout.inputFields[i] == static_cast<int64_t>(i);
        }
        if (isInOrder) {
            layout.isByName = false;
            layout.inputFields.clear();
        }
    }
    if (request.isKeepAll) {
        for (int64_t k = 0; k < layout.numFields; ++k) layout.keptFields.push_back(k);
    }
    for (const std::string &name : request.keepNames) {
        int64_t field = findColumn(names, name, displayName);
        if (field < 0) {
            raiseAt(cliError::kCsvMissingColumn, displayName, 1,
                    "--keep: no column \"" + name + "\" (the header has " + joinedHeader(names) + ")");
        }
        layout.keptFields.push_back(field);
    }
    return layout;
}

CsvReader::CsvReader(const std::string &path, int64_t expectedColumns) : CsvReader(path, ',', HeaderMode::detect) {
    layout_.numFields = expectedColumns;
}

CsvReader::CsvReader(const std::string &path, char delimiter, HeaderMode headerMode)
    : displayName_(path == "-" ? std::string("<stdin>") : path), headerMode_(headerMode) {
    layout_.delimiter = delimiter;
    if (path == "-") {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            throw orvane::HostError(cliError::kCannotOpen, "cannot open '" + path + "': " + std::strerror(errno));
        }
        ownsFile_ = true;
    }
    struct stat info {};
    if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) totalBytes_ = static_cast<uint64_t>(info.st_size);
}

CsvReader::~CsvReader() {
    if (ownsFile_) close(fd_);
}

void CsvReader::setLayout(const CsvLayout &layout) { layout_ = layout; }

std::string CsvReader::where() const { return displayName_ + ":" + std::to_string(lineNumber_); }

// Appends what the file has ready (a pipe's bytes as they come), after
// moving the unread bytes to the front; the buffer doubles when they fill it.
void CsvReader::readMore() {
    constexpr size_t kChunk = size_t{1} << 16;
    if (unreadStart_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + unreadStart_, unreadEnd_ - unreadStart_);
        unreadEnd_ -= unreadStart_;
        unreadStart_ = 0;
    }
    if (unreadEnd_ == buffer_.size()) buffer_.resize(std::max(kChunk, 2 * buffer_.size()));
    while (true) {
        ssize_t n = read(fd_, buffer_.data() + unreadEnd_, buffer_.size() - unreadEnd_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            throw orvane::HostError(cliError::kReadFailed,
                                    "cannot read '" + displayName_ + "': " + std::strerror(errno));
        }
        unreadEnd_ += static_cast<size_t>(n);
        isFileEnd_ = n == 0;
        return;
    }
}

// The next line without its end (LF or CRLF); false at the end of the file.
// A line is read only up to the longest allowed, so that a file without
// line ends is refused early rather than held whole.
bool CsvReader::nextLine(std::string_view &line) {
    if (atEnd_) return false;
    size_t scanned = 0;  // bytes of the line known to hold no LF
    const char *lineFeed = nullptr;
    while (true) {
        const char *start = buffer_.data() + unreadStart_;
        size_t unread = unreadEnd_ - unreadStart_;
        if (unread > scanned)
            lineFeed = static_cast<const char *>(std::memchr(start + scanned, '\n', unread - scanned));
        if (lineFeed != nullptr) break;
        scanned = unread;
        if (scanned > maxLineBytes_ + 1) break;  // + 1 for a CR before the LF
        if (isFileEnd_) break;
        readMore();
    }
    const char *start = buffer_.data() + unreadStart_;
    size_t length = lineFeed != nullptr ? static_cast<size_t>(lineFeed - start) : unreadEnd_ - unreadStart_;
    if (lineFeed == nullptr && length == 0) {
        atEnd_ = true;
        return false;
    }
    size_t taken = length + (lineFeed != nullptr ? 1 : 0);
    bytesRead_ += static_cast<uint64_t>(taken);
    unreadStart_ += taken;
    ++lineNumber_;
    line = std::string_view(start, length);
    if (lineNumber_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A file with CR-only line ends reads as one line, which would be taken
    // for a header and give no rows at all.
    if (line.find('\r') != std::string_view::npos) {
        throw orvane::HostError(cliError::kCsvBareCarriageReturn,
                                where() + ": carriage return inside a line; lines end with LF or CRLF");
    }
    if (line.size() > maxLineBytes_) {
        throw orvane::HostError(cliError::kCsvLineTooLong, where() + ": the line is longer than " +
                                                               std::to_string(maxLineBytes_) +
                                                               " bytes (--max-line-bytes raises the limit)");
    }
    return true;
}

// Line 1 names the columns when asked to, or, left to the file, when none
// of its fields reads as a number: "5,30,1O" is a row with a bad number.
const std::optional<std::vector<std::string>> &CsvReader::header() {
    if (isHeaderRead_) return header_;
    isHeaderRead_ = true;
    std::string_view line;
    if (headerMode_ == HeaderMode::absent || !nextLine(line)) return header_;
    bool isHeader = headerMode_ == HeaderMode::present;
    if (!isHeader && !trimBlanks(line).empty()) {
        splitFields(line, layout_.delimiter, fields_, fieldText_, displayName_, lineNumber_);
        isHeader = std::none_of(fields_.begin(), fields_.end(), [](std::string_view f) {
            double v = 0.0;
            return fazolt::readDecimalNumber(f, v) != NumberStatus::notANumber;
        });
    }
    if (!isHeader) {
        firstRowText_ = line;
        hasFirstRow_ = true;
        return header_;
    }
    splitFields(line, layout_.delimiter, fields_, fieldText_, displayName_, lineNumber_);
    header_.emplace();
    for (std::string_view f : fields_) header_->emplace_back(trimBlanks(f));
    return header_;
}

bool CsvReader::nextRowLine(std::string_view &line) {
    if (!isHeaderRead_) header();
    if (hasFirstRow_) {
        // Still line 1: nothing after it was read.
        hasFirstRow_ = false;
        line = firstRowText_;
        return true;
    }
    return nextLine(line);
}

// Everything about a line but its numbers: blank lines (fine only at the
// end), quotes, the field count. False for a blank line.
bool CsvReader::isRowLine(std::string_view line) {
    if (trimBlanks(line).empty()) {
        if (pendingBlankLine_ == 0) pendingBlankLine_ = lineNumber_;
        return false;
    }
    if (pendingBlankLine_ != 0) {
        throw orvane::HostError(cliError::kCsvBlankLine,
                                displayName_ + ":" + std::to_string(pendingBlankLine_) + ": blank line between rows");
    }
    // Counted before the numbers are read: a row with a missing or extra
    // field is reported as such, not as a bad number.
    int64_t count = countFields(line, layout_.delimiter, fields_, fieldText_, displayName_, lineNumber_);
    if (layout_.numFields < 0) layout_.numFields = count;
    if (count != layout_.numFields) {
        bool isInputsOnly = !layout_.isByName;
        throw orvane::HostError(cliError::kColumnCount,
                                where() + ": expected " + std::to_string(layout_.numFields) +
                                    (layout_.numFields == 1 ? " value" : " values") +
                                    (isInputsOnly ? " (one per input)" : " (one per column of the header)") + ", got " +
                                    std::to_string(count) + delimiterHint(line, layout_.delimiter));
    }
    return true;
}

CsvLineBlock CsvReader::readBlockLines(int64_t maxRows, std::string &lines) {
    lines.clear();
    CsvLineBlock block;
    std::string_view line;
    try {
        while (block.numRows < maxRows && nextRowLine(line)) {
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

void parseCsvRows(std::string_view lines, int64_t numRows, const CsvLayout &layout, int64_t firstLine,
                  const std::string &displayName, std::vector<double> &columnMajor,
                  std::vector<std::string> *keptStarts) {
    auto rows = static_cast<size_t>(numRows);
    auto cols = static_cast<size_t>(std::max<int64_t>(layout.numInputs(), 0));
    columnMajor.resize(rows * cols);
    if (keptStarts != nullptr) keptStarts->resize(layout.keptFields.empty() ? 0 : rows);
    std::vector<std::string_view> fields;
    std::string text;
    std::vector<double> row;
    for (size_t r = 0; r < rows; ++r) {
        size_t end = lines.find('\n');
        std::string *kept = keptStarts != nullptr && !layout.keptFields.empty() ? &(*keptStarts)[r] : nullptr;
        readRowFields(lines.substr(0, end), layout, displayName, firstLine + static_cast<int64_t>(r), fields, text, row,
                      kept);
        for (size_t c = 0; c < cols; ++c) columnMajor[r + c * rows] = row[c];
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
}

// The lines first, then their numbers: the two steps a block sent to a
// worker process takes, so that both meet the same error first.
int64_t CsvReader::readBlock(int64_t maxRows, std::vector<double> &columnMajor, std::vector<std::string> *keptStarts) {
    CsvLineBlock block = readBlockLines(maxRows, blockLines_);
    if (block.numRows > 0) blockFirstLine_ = block.firstLine;
    parseCsvRows(blockLines_, block.numRows, layout_, block.firstLine, displayName_, columnMajor, keptStarts);
    if (block.error) throw *block.error;
    return block.numRows;
}
