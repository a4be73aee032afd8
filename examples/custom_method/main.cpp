// A system whose AND method is a C++ function: the Lukasiewicz t-norm,
// max(0, a + b + ... - (n - 1)), registered under the name "lukasiewicz"
// that the description names in "andMethod". The module calls it once per
// rule and input row with the rule's degrees of its inputs.
//
//   build/example_custom_method [DESCRIPTION.json INPUTS.csv]
//
// Without arguments it evaluates lukasiewicz.json on inputs.csv from the
// folder of this source file. The rows are read into one buffer, row by
// row, and the outputs are written straight into another.
#include <fazolt/fazolt.h>

#include <cstdio>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#ifndef EXAMPLE_DIR
#define EXAMPLE_DIR "."
#endif

namespace {

double lukasiewicz(std::span<const double> degrees) {
    double sum = 0.0;
    for (double x : degrees) sum += x;  // in index order, like the built-in reductions
    if (degrees.empty()) return 1.0;    // the empty conjunction
    double y = sum - static_cast<double>(degrees.size() - 1);
    return y > 0.0 ? y : 0.0;
}

// Rows of numbers, row after row; a first line that does not start with a
// number is a header.
std::vector<double> readCsv(const std::string &path, size_t &numColumns) {
    std::ifstream in(path);
    if (!in) throw fazolt::Error("example:io", "cannot open '" + path + "'");
    std::vector<double> rows;
    std::string line;
    bool isFirst = true;
    numColumns = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<double> row;
        std::string field;
        bool isNumeric = true;
        while (std::getline(fields, field, ',')) {
            try {
                row.push_back(std::stod(field));
            } catch (const std::exception &) {
                isNumeric = false;
            }
        }
        if (!isNumeric && isFirst) {
            isFirst = false;
            continue;
        }
        isFirst = false;
        if (!isNumeric) throw fazolt::Error("example:csv", path + ": not a number in \"" + line + "\"");
        if (row.empty()) continue;
        if (numColumns == 0) numColumns = row.size();
        if (row.size() != numColumns) throw fazolt::Error("example:csv", path + ": rows of different lengths");
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

}  // namespace

int main(int argc, char **argv) {
    std::string description = argc > 1 ? argv[1] : EXAMPLE_DIR "/lukasiewicz.json";
    std::string inputs = argc > 2 ? argv[2] : EXAMPLE_DIR "/inputs.csv";
    try {
        // The name is registered while `andMethod` lives.
        fazolt::Registration andMethod = fazolt::Functions().connective("lukasiewicz", lukasiewicz);
        fazolt::System vent = fazolt::System::fromFile(description);
        size_t numColumns = 0;
        std::vector<double> rows = readCsv(inputs, numColumns);
        const size_t numRows = numColumns == 0 ? 0 : rows.size() / numColumns;
        const size_t numOutputs = vent.numOutputs();
        std::vector<double> outputs(numRows * numOutputs);
        std::vector<fazolt::Warning> warnings = vent.evaluate(rows, numColumns, fazolt::Layout::RowMajor, outputs);
        for (const fazolt::Warning &w : warnings) {
            std::fprintf(stderr, "warning: %s: %s\n", w.identifier.c_str(), w.message.c_str());
        }
        for (size_t o = 0; o < vent.outputNames().size(); ++o) {
            std::printf("%s%s", o > 0 ? "," : "", vent.outputNames()[o].c_str());
        }
        std::printf("\n");
        for (size_t r = 0; r < numRows; ++r) {
            for (size_t o = 0; o < numOutputs; ++o) {
                std::printf("%s%s", o > 0 ? "," : "", orvane::formatDouble(outputs[r * numOutputs + o], false).c_str());
            }
            std::printf("\n");
        }
    } catch (const fazolt::Error &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
