#include "cli/explainOptions.h"
#include "cli/report.h"

#include "cli/csv.h"

#include <fazolt/error_ids.h>

#include <algorithm>
#include <cctype>
#include <numeric>

void addRowOptions(CLI::App *command, RowOptions &options) {
    CLI::Option *input =
        command->add_option("--input", options.inputs, "An input's value, NAME=VALUE (repeat for each input)")
            ->type_name("NAME=VALUE")
            ->allow_extra_args(false);  // one value a flag: SYSTEM may follow
    command->add_option("--row", options.row, "Every input's value in order, comma-separated")
        ->type_name("\"V1,V2,...\"")
        ->excludes(input);
}

namespace {

double readValue(std::string_view text, const std::string &option) {
    double v = 0.0;
    if (!parseCsvNumber(text, v))
        throw orvane::HostError(cliError::kBadNumber,
                                option + ": expected a number, got \"" + std::string(text) + "\"");
    return v;
}

}  // namespace

std::vector<double> parseRowValues(std::string_view text, size_t numInputs, const std::string &where,
                                   const std::function<double(std::string_view value, size_t column)> &readNumber) {
    std::vector<double> row;
    for (size_t column = 1;; ++column) {
        size_t comma = text.find(',');
        row.push_back(readNumber(text.substr(0, comma), column));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (row.size() != numInputs)
        throw orvane::HostError(cliError::kColumnCount, where + "expected " + std::to_string(numInputs) +
                                                            " values, one per input, got " +
                                                            std::to_string(row.size()));
    return row;
}

std::vector<double> readRow(const RowOptions &options, const fazolt::SystemInfo &info,
                            const std::vector<double> *defaults) {
    size_t numInputs = info.inputs.size();
    if (!options.row.empty()) {
        return parseRowValues(options.row, numInputs, "--row: ", [](std::string_view value, size_t column) {
            return readValue(value, "--row column " + std::to_string(column));
        });
    }
    std::vector<double> row = defaults ? *defaults : std::vector<double>(numInputs, 0.0);
    std::vector<bool> isGiven(numInputs, false);
    for (const std::string &assignment : options.inputs) {
        size_t equals = assignment.find('=');
        if (equals == std::string::npos)
            throw orvane::HostError(cliError::kBadAssignment,
                                    options.inputOption + " " + assignment + ": expected NAME=VALUE");
        std::string name = assignment.substr(0, equals);
        const std::string where = options.inputOption + " " + assignment;
        size_t i = findVariable(info.inputs, name, where);
        row[i] = readValue(std::string_view(assignment).substr(equals + 1), where);
        isGiven[i] = true;
    }
    if (defaults == nullptr) {
        for (size_t i = 0; i < numInputs; ++i) {
            if (!isGiven[i])
                throw orvane::HostError(cliError::kInputMissing,
                                        "--input " + info.inputs[i].name + "=VALUE is missing (or give --row)");
        }
    }
    return row;
}

std::vector<double> rangeMidpoints(const fazolt::SystemInfo &info) {
    std::vector<double> row;
    // std::midpoint: (low + high) / 2 overflows for a range near the largest doubles.
    for (const fazolt::VariableInfo &v : info.inputs) row.push_back(std::midpoint(v.low, v.high));
    return row;
}

// Edits (insert, delete, replace a letter) between two names, ignoring case.
size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            bool isSame = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                          std::tolower(static_cast<unsigned char>(b[j - 1]));
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (isSame ? 0 : 1)});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

size_t findVariable(const std::vector<fazolt::VariableInfo> &vars, const std::string &name, const std::string &option) {
    for (size_t i = 0; i < vars.size(); ++i)
        if (vars[i].name == name) return i;
    std::string known, closest;
    size_t closestDistance = 3;  // a suggestion at most two edits away
    for (const fazolt::VariableInfo &v : vars) {
        known += (known.empty() ? "" : ", ") + v.name;
        size_t d = editDistance(name, v.name);
        if (d < closestDistance) closestDistance = d, closest = v.name;
    }
    throw orvane::HostError(cliError::kUnknownVariable,
                            option + ": no variable \"" + name + "\"" +
                                (closest.empty() ? "" : " (did you mean \"" + closest + "\"?)") + " (there are " +
                                known + ")");
}

fazolt::DiagnosticModes readModes(const DiagnosticFlags &options, const std::string &systemName) {
    fazolt::DiagnosticModes modes;
    parseMode(options.onNanInput, modes.nanInput);
    parseMode(options.onNonFiniteOutput, modes.nonFiniteOutput);
    if (options.diagnosticsPath.empty()) {
        parseMode(options.onOutOfRange, modes.outOfRangeInput);
        parseMode(options.onNoRuleFired, modes.noRuleFired);
        parseMode(options.onEmptySet, modes.emptyOutputFuzzySet);
        return modes;
    }
    orvane::Value file = diagnosticsArgument(options, systemName);
    std::pair<const char *, fazolt::Report *> fields[] = {{"OutOfRangeInputValue", &modes.outOfRangeInput},
                                                   {"NoRuleFired", &modes.noRuleFired},
                                                   {"EmptyOutputFuzzySet", &modes.emptyOutputFuzzySet}};
    for (auto &[name, mode] : fields) {
        orvane::Value v = file.className() == "struct" && file.numel() == 1 ? file.field(0, name) : orvane::Value();
        if (!v || v.className() != "uint8" || v.numel() != 1)
            throw orvane::HostError(
                fazolt::ids::inputBadDiagnostics,
                options.diagnosticsPath + ": expected a 1x1 struct with a uint8 scalar field " + name);
        *mode = fazolt::reportOfByte(static_cast<uint8_t *>(v.data())[0]);
    }
    return modes;
}

fazolt::Explainer loadExplainer(const std::string &systemPath, const std::string &modulePath) {
    try {
        return fazolt::explainerFromFile(systemPath, modulePath.empty() ? defaultModulePath() : modulePath);
    } catch (const orvane::HostError &e) {
        // Errors about the file itself name it already.
        if (e.message().find(systemPath) != std::string::npos) throw;
        throw orvane::HostError(e.identifier(), systemPath + ": " + e.message());
    }
}
