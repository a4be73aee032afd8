// Input rows for the benchmark programs: a whole CSV file read at once and
// parsed with std::from_chars, the simplest reader that is still fast, so
// that it serves both as the loader of the comparison and as the bare-cost
// baseline of `fazolt eval`.
#ifndef FAZOLT_BENCH_BENCH_INPUTS_H
#define FAZOLT_BENCH_BENCH_INPUTS_H

#include <cstdint>
#include <string>
#include <vector>

struct InputRows {
    int64_t numRows = 0;
    int64_t numCols = 0;
    std::vector<double> columnMajor;  // numRows x numCols
};

// The whole file; throws std::runtime_error when it cannot be read.
std::string readWholeFile(const std::string &path);
// Rows of comma-separated numbers; a first line that does not start with a
// number is a header and is skipped. Throws std::runtime_error naming the
// line on a malformed field or a row of the wrong length.
InputRows parseCsvRows(const std::string &text);
// One line per row, shortest round-trip form (std::to_chars), appended to out.
void formatCsvRows(const std::vector<double> &columnMajor, int64_t numRows, int64_t numCols, std::string &out);

#endif
