#include "cli/commands.h"
#include "cli/report.h"

#include <fazolt/formats.h>

#include <fstream>
#include <iostream>

#include <fazolt/fazolt.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <charconv>
#include <cmath>

// Beside the API library the tool runs with: the build folder, or the
// library directory of whatever prefix the tool was installed into.
std::string defaultModulePath() { return fazolt::defaultModulePath(); }

namespace {

// The rest of `in`. Read in pieces rather than with `<< rdbuf()`, which
// takes running out of memory for the end of the file.
std::string readAll(std::istream &in) {
    std::string text;
    char piece[1 << 16];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) text.append(piece, static_cast<size_t>(in.gcount()));
    return text;
}

}  // namespace

std::string readTextFile(const std::string &path) {
    if (path == "-") return readAll(std::cin);
    // A folder opens like a file and reads as empty text.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw orvane::HostError(cliError::kCannotOpen, "'" + path + "' is a directory, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw orvane::HostError(cliError::kCannotOpen, "cannot open '" + path + "'");
    std::string text = readAll(in);
    if (in.bad()) throw orvane::HostError(cliError::kReadFailed, "cannot read '" + path + "'");
    return text;
}

void printFormatWarnings(const std::vector<fazolt::FormatWarning> &warnings) {
    WarningPrinter printer;
    for (const fazolt::FormatWarning &w : warnings) printer.print(w.identifier, w.message);
    printer.printSummary();
}

// ---- Diagnostics options.

bool parseMode(const std::string &text, uint8_t &mode) {
    if (text == "none")
        mode = 0;
    else if (text == "warning")
        mode = 2;
    else if (text == "error")
        mode = 3;
    else {
        unsigned value = 0;
        std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || value > 255) return false;
        mode = static_cast<uint8_t>(value);
    }
    return true;
}

bool parseMode(const std::string &text, fazolt::Report &mode) {
    uint8_t byte = 0;
    if (!parseMode(text, byte)) return false;
    mode = fazolt::reportOfByte(byte);  // the tool takes any byte, as the module's own argument does
    return true;
}

void addDiagnosticsOptions(CLI::App *command, DiagnosticFlags &options) {
    static const CLI::Validator modeValidator(
        [](std::string &text) {
            uint8_t mode = 0;
            if (parseMode(text, mode)) return std::string();
            return "expected none, warning, error or a number from 0 to 255, got \"" + text + "\"";
        },
        "", "mode");
    CLI::Option *outOfRange = command
                                  ->add_option("--on-out-of-range", options.onOutOfRange,
                                               "Input outside its range: none, warning, error or 0-255")
                                  ->check(modeValidator)
                                  ->type_name("M");
    CLI::Option *noRule = command
                              ->add_option("--on-no-rule-fired", options.onNoRuleFired,
                                           "No rule fired for a row: none, warning, error or 0-255")
                              ->check(modeValidator)
                              ->type_name("M");
    CLI::Option *emptySet =
        command
            ->add_option("--on-empty-set", options.onEmptySet, "Empty output fuzzy set: none, warning, error or 0-255")
            ->check(modeValidator)
            ->type_name("M");
    static const CLI::Validator checkValidator(
        [](std::string &text) {
            if (text == "none" || text == "warning" || text == "error") return std::string();
            return "expected none, warning or error, got \"" + text + "\"";
        },
        "", "mode");
    command->add_option("--on-nan-input", options.onNanInput, "An input that is NaN: none, warning or error")
        ->check(checkValidator)
        ->type_name("M");
    command
        ->add_option("--on-non-finite-output", options.onNonFiniteOutput,
                     "An output that is NaN or infinite from finite inputs: none, warning or error")
        ->check(checkValidator)
        ->type_name("M");
    command
        ->add_option("--diagnostics", options.diagnosticsPath, "Diagnostics options as a host value (argument 3), raw")
        ->type_name("FILE.json")
        ->excludes(outOfRange)
        ->excludes(noRule)
        ->excludes(emptySet);
}

orvane::Value diagnosticsArgument(const DiagnosticFlags &options, const std::string &systemName) {
    if (!options.diagnosticsPath.empty()) {
        try {
            return orvane::fromJson(readTextFile(options.diagnosticsPath));
        } catch (const orvane::HostError &e) {
            throw orvane::HostError(e.identifier(), options.diagnosticsPath + ": " + e.message());
        }
    }
    uint8_t outOfRange = 2, noRuleFired = 2, emptySet = 2;
    parseMode(options.onOutOfRange, outOfRange);
    parseMode(options.onNoRuleFired, noRuleFired);
    parseMode(options.onEmptySet, emptySet);
    return fazolt::makeDiagnostics(outOfRange, noRuleFired, emptySet, systemName);
}

fazolt::RowChecks rowChecks(const DiagnosticFlags &options, std::function<std::string(int64_t row)> rowName) {
    fazolt::RowChecks checks;
    parseMode(options.onNanInput, checks.nanInput);
    parseMode(options.onNonFiniteOutput, checks.nonFiniteOutput);
    checks.rowName = std::move(rowName);
    return checks;
}

// ---- Systems.

// The record's own count, so that a CSV with the wrong column count fails
// on the line that has it; -1 when the record does not say (the module's
// import then reports the malformed record). A count that is not a whole
// number in range is left to the module too.
int64_t recordNumInputs(const orvane::Value &record) {
    if (record.className() != "struct" || record.numel() != 1) return -1;
    orvane::Value n = record.field(0, "numInputs");
    if (!n || n.numel() != 1 || n.isComplex() || n.className() == "struct" || n.className() == "cell") return -1;
    double count = n.toDoubles()[0];
    if (!(count >= 0.0 && count <= 2147483647.0) || std::floor(count) != count) return -1;
    return static_cast<int64_t>(count);
}

void addSystemOption(CLI::App *command, std::string &systemPath) {
    command->add_option("system", systemPath, "Nested description or raw system record")
        ->required()
        ->type_name("SYSTEM");
}

void addModuleOption(CLI::App *command, std::string &modulePath) {
    command->add_option("--module", modulePath, "Module to load (default: the one beside the fazolt libraries)")
        ->type_name("PATH");
}

void addSamplesOption(CLI::App *command, int64_t &samples) {
    command
        ->add_option("--samples", samples,
                     "Points at which each Mamdani output is sampled, set or overridden (2 to 1000000)")
        ->check(CLI::Range(int64_t{2}, int64_t{1000000}))
        ->type_name("N");
}

std::optional<LoadedSystem> loadSystemFile(const std::string &path, const std::string &modulePath, int64_t samples) {
    LoadedSystem loaded;
    fazolt::SystemFormat format = fazolt::formatOfPath(path);
    try {
        loaded.text = readTextFile(path);
        // FCL and FLL become a description here, so that --jobs workers get JSON.
        std::vector<fazolt::FormatWarning> warnings;
        if (format != fazolt::SystemFormat::Json)
            loaded.text = fazolt::descriptionFromText(loaded.text, format, path, &warnings);
        if (samples > 0) loaded.text = fazolt::descriptionWithSamples(loaded.text, samples);
        loaded.system = fazolt::System::fromText(loaded.text, modulePath.empty() ? defaultModulePath() : modulePath);
        printFormatWarnings(warnings);
    } catch (const orvane::HostError &e) {
        // A module that cannot be loaded is not the system file's fault;
        // the FCL and FLL readers name the file and line themselves.
        bool isAboutModule = e.identifier().rfind("Orvane:module", 0) == 0;
        bool namesFile = e.identifier().rfind("fazolt:fcl:", 0) == 0 || e.identifier().rfind("fazolt:fll:", 0) == 0;
        printError(e, isAboutModule ? "--module: " : namesFile ? "" : path + ": ");
        return std::nullopt;
    }
    return loaded;
}

std::string warningToJson(const orvane::Warning &w) {
    std::string out = "{\"identifier\": " + jsonString(w.identifier) + ", \"message\": " + jsonString(w.message) +
                      ", \"arguments\": [";
    for (size_t k = 0; k < w.arguments.size(); ++k) {
        if (k > 0) out += ", ";
        out += orvane::toJson(w.arguments[k]);
    }
    return out + "]}";
}
