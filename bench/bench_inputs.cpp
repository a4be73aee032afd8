#include "bench/bench_inputs.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

std::string readWholeFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    std::string text;
    char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) throw std::runtime_error("cannot read " + path);
    return text;
}

InputRows parseCsvRows(const std::string &text) {
    InputRows rows;
    std::vector<double> rowMajor;
    const char *p = text.data();
    const char *end = p + text.size();
    int64_t lineNumber = 0;
    while (p < end) {
        const char *lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
        ++lineNumber;
        const char *stop = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        bool isHeader = lineNumber == 1 && stop > p && !(*p == '-' || *p == '.' || (*p >= '0' && *p <= '9'));
        if (!isHeader && stop > p) {
            int64_t numFields = 0;
            const char *field = p;
            while (true) {
                double v = 0.0;
                std::from_chars_result r = std::from_chars(field, stop, v);
                if (r.ec != std::errc() || (r.ptr != stop && *r.ptr != ',')) {
                    throw std::runtime_error("line " + std::to_string(lineNumber) + ": not a number");
                }
                rowMajor.push_back(v);
                ++numFields;
                if (r.ptr == stop) break;
                field = r.ptr + 1;
            }
            if (rows.numRows == 0) rows.numCols = numFields;
            if (numFields != rows.numCols) {
                throw std::runtime_error("line " + std::to_string(lineNumber) + ": expected " +
                                         std::to_string(rows.numCols) + " fields");
            }
            ++rows.numRows;
        }
        p = lineEnd + 1;
    }
    rows.columnMajor.resize(rowMajor.size());
    for (int64_t r = 0; r < rows.numRows; ++r) {
        for (int64_t c = 0; c < rows.numCols; ++c) {
            rows.columnMajor[static_cast<size_t>(r + c * rows.numRows)] =
                rowMajor[static_cast<size_t>(r * rows.numCols + c)];
        }
    }
    return rows;
}

void formatCsvRows(const std::vector<double> &columnMajor, int64_t numRows, int64_t numCols, std::string &out) {
    char buffer[32];
    for (int64_t r = 0; r < numRows; ++r) {
        for (int64_t c = 0; c < numCols; ++c) {
            if (c > 0) out += ',';
            std::to_chars_result t =
                std::to_chars(buffer, buffer + sizeof buffer, columnMajor[static_cast<size_t>(r + c * numRows)]);
            out.append(buffer, t.ptr);
        }
        out += '\n';
    }
}
