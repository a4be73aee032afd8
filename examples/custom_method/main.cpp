// A system whose AND method is a C++ function: the Lukasiewicz t-norm,
// max(0, a + b + ... - (n - 1)), registered as the host function
// "lukasiewicz" that the description names in "andMethod". The module calls
// it once per rule and input row with the rule's input values as a column.
//
//   build/example_custom_method [DESCRIPTION.json INPUTS.csv]
//
// Without arguments it evaluates lukasiewicz.json on inputs.csv from the
// folder of this source file.
#include <fazolt/fazolt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef EXAMPLE_DIR
#define EXAMPLE_DIR "."
#endif

namespace {

void lukasiewicz(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    if (arguments.size() != 1) orvane::raise("lukasiewicz:arguments", "expected one vector of input values");
    std::vector<double> v = arguments[0].toDoubles();
    double sum = 0.0;
    for (double x : v) sum += x;  // in index order, like the built-in reductions
    double y = sum - static_cast<double>(v.size() - 1);
    if (v.empty()) y = 1.0;  // the empty conjunction
    results.assign(1, orvane::Value::doubleScalar(y > 0.0 ? y : 0.0));
}

// Rows of numbers; a first line that does not start with a number is a header.
fazolt::Matrix readCsv(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw orvane::HostError("example:io", "cannot open '" + path + "'");
    std::vector<std::vector<double>> rows;
    std::string line;
    bool isFirst = true;
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
        if (!isNumeric) throw orvane::HostError("example:csv", path + ": not a number in \"" + line + "\"");
        if (!row.empty()) rows.push_back(row);
    }
    fazolt::Matrix m = fazolt::Matrix::zeros(static_cast<int64_t>(rows.size()),
                                             rows.empty() ? 0 : static_cast<int64_t>(rows[0].size()));
    for (int64_t r = 0; r < m.rows; ++r) {
        for (int64_t c = 0; c < m.cols; ++c) m.at(r, c) = rows[static_cast<size_t>(r)].at(static_cast<size_t>(c));
    }
    return m;
}

}  // namespace

int main(int argc, char **argv) {
    std::string description = argc > 1 ? argv[1] : EXAMPLE_DIR "/lukasiewicz.json";
    std::string inputs = argc > 2 ? argv[2] : EXAMPLE_DIR "/inputs.csv";
    try {
        fazolt::registerFunction("lukasiewicz", lukasiewicz);
        fazolt::System vent = fazolt::System::fromFile(description);
        fazolt::Evaluation e = vent.evaluate(readCsv(inputs));
        for (const orvane::Warning &w : e.warnings) {
            std::fprintf(stderr, "warning: %s: %s\n", w.identifier.c_str(), w.message.c_str());
        }
        for (size_t o = 0; o < vent.outputNames().size(); ++o) {
            std::printf("%s%s", o > 0 ? "," : "", vent.outputNames()[o].c_str());
        }
        std::printf("\n");
        for (int64_t r = 0; r < e.outputs.rows; ++r) {
            for (int64_t c = 0; c < e.outputs.cols; ++c) {
                std::printf("%s%s", c > 0 ? "," : "", orvane::formatDouble(e.outputs.at(r, c), false).c_str());
            }
            std::printf("\n");
        }
    } catch (const orvane::HostError &e) {
        std::fprintf(stderr, "error: %s: %s\n", e.identifier().c_str(), e.message().c_str());
        return 1;
    }
    return 0;
}
