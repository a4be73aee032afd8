// The bare cost of the CSV side of `fazolt eval`: read the input file, parse
// every field (std::from_chars), format an output matrix of the same row
// count (std::to_chars) and write it to a file. `fazolt eval` end to end is
// held against `fazolt bench` plus this cost.
//
//   bench_csv INPUTS.csv OUTPUT.csv [NUM_OUTPUTS] [REPS]
//
// The output values are input fields (column c takes input column c modulo
// the input count): random doubles whose shortest forms are as long as
// evaluated outputs usually are.
#include "bench/bench_inputs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

double runOnce(const std::string &inputPath, const std::string &outputPath, int64_t numOutputs, int64_t &numRows) {
    auto start = std::chrono::steady_clock::now();
    InputRows rows = parseCsvRows(readWholeFile(inputPath));
    numRows = rows.numRows;
    std::vector<double> outputs(static_cast<size_t>(rows.numRows * numOutputs));
    for (int64_t c = 0; c < numOutputs; ++c) {
        int64_t from = rows.numCols == 0 ? 0 : c % rows.numCols;
        for (int64_t r = 0; r < rows.numRows; ++r) {
            outputs[static_cast<size_t>(r + c * rows.numRows)] =
                rows.columnMajor[static_cast<size_t>(r + from * rows.numRows)];
        }
    }
    std::string text;
    formatCsvRows(outputs, rows.numRows, numOutputs, text);
    std::FILE *file = std::fopen(outputPath.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) {
        throw std::runtime_error("cannot write " + outputPath);
    }
    auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_csv INPUTS.csv OUTPUT.csv [NUM_OUTPUTS] [REPS]\n");
        return 2;
    }
    int64_t numOutputs = argc > 3 ? std::atoll(argv[3]) : 1;
    int64_t numReps = argc > 4 ? std::atoll(argv[4]) : 5;
    if (numOutputs < 1 || numReps < 1) {
        std::fprintf(stderr, "bench_csv: NUM_OUTPUTS and REPS must be positive\n");
        return 2;
    }
    try {
        std::vector<double> ms;
        int64_t numRows = 0;
        runOnce(argv[1], argv[2], numOutputs, numRows);  // warms the page cache
        for (int64_t rep = 0; rep < numReps; ++rep) ms.push_back(runOnce(argv[1], argv[2], numOutputs, numRows));
        std::sort(ms.begin(), ms.end());
        double median = ms[ms.size() / 2];
        std::printf("csv_baseline rows=%lld outputs=%lld median_ms=%.2f min_ms=%.2f ns_row=%.1f\n",
                    static_cast<long long>(numRows), static_cast<long long>(numOutputs), median, ms.front(),
                    numRows > 0 ? median * 1e6 / static_cast<double>(numRows) : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_csv: %s\n", e.what());
        return 1;
    }
    return 0;
}
