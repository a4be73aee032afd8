// fazolt check: a system loaded and validated as `eval` would load it, and
// summed up in one line; nothing is evaluated.
#include "cli/commands.h"
#include "cli/report.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace {

struct CheckOptions {
    std::string systemPath;
    std::string modulePath;
    int64_t samples = 0;
};

std::string recordText(const orvane::Value &record, const char *field) { return record.field(0, field).toText(); }

int64_t recordCount(const orvane::Value &record, const char *field) {
    return static_cast<int64_t>(record.field(0, field).toDoubles().at(0));
}

std::string counted(int64_t n, const char *noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

// A maximum-based method over a sum-type aggregation: a plateau made by
// adding a rising and a falling slope is flat only up to rounding, so the
// maximum it picks can move along the plateau. A warning per output.
void warnMaximumOverSum(const fazolt::System &system, const std::string &path) {
    const orvane::Value &record = system.record();
    std::string method = recordText(record, "defuzzMethod"), aggregation = recordText(record, "aggMethod");
    bool isMaximumBased = method == "som" || method == "lom" || method == "mom" || method == "firstmom";
    bool isSumType = aggregation == "sum" || aggregation == "bsum" || aggregation == "nsum" || aggregation == "probor";
    if (recordText(record, "type") != "mamdani" || !isMaximumBased || !isSumType) return;
    WarningPrinter printer;
    for (int64_t o = 0; o < recordCount(record, "numOutputs"); ++o) {
        auto k = static_cast<size_t>(o);
        std::string name = k < system.outputNames().size() ? "\"" + system.outputNames()[k] + "\""
                                                           : std::to_string(o + 1);
        printer.print(fazolt::ids::checkMaximumOverSum,
                      path + ": output " + name + ": \"" + method + "\" over the \"" + aggregation +
                          "\" aggregation: a plateau made by adding slopes is flat only up to rounding, so the "
                          "maximum picked may move along it");
    }
}

int runCheck(const CheckOptions &options) {
    std::optional<LoadedSystem> loaded = loadSystemFile(options.systemPath, options.modulePath, options.samples);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const fazolt::System &system = *loaded->system;
    // A raw record is checked by the module itself, on no input rows: its
    // import checks every relation, and no row is evaluated.
    const orvane::Value &record = system.record();
    int64_t numInputs = std::max<int64_t>(recordNumInputs(record), 0);
    orvane::CallOutcome outcome =
        system.call(orvane::Value::doubleMatrix(0, numInputs, {}), fazolt::makeDiagnostics(0, 0, 0, system.name()), 1);
    if (outcome.error) {
        printError(*outcome.error, options.systemPath + ": ");
        return EXIT_EVALUATION_ERROR;
    }
    std::string type = recordText(record, "type");
    std::cout << options.systemPath << ": " << type << (system.hasNames() ? "" : " (raw record)") << ", "
              << counted(recordCount(record, "numInputs"), "input") << ", "
              << counted(recordCount(record, "numOutputs"), "output") << ", "
              << counted(recordCount(record, "numRules"), "rule") << "; and " << recordText(record, "andMethod")
              << ", or " << recordText(record, "orMethod") << ", implication " << recordText(record, "impMethod")
              << ", aggregation " << recordText(record, "aggMethod") << ", defuzzification "
              << recordText(record, "defuzzMethod") << "\n";
    warnMaximumOverSum(system, options.systemPath);
    return 0;
}

}  // namespace

void addCheckCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App *check = app.add_subcommand("check", "Load and validate a system without evaluating it");
    check->footer(
        "Loads SYSTEM (a nested description or a raw system record) as `fazolt eval` does, with\n"
        "every check of the description and of the module, and prints a one-line summary: type,\n"
        "inputs, outputs, rules and methods. Exit status 0 when the system is sound, 1 with the\n"
        "error otherwise.\n\n"
        "Examples:\n"
        "  fazolt check examples/dimmer/dimmer.json\n"
        "  fazolt check controller.fcl\n"
        "  fazolt check custom.json --functions custom.lua");
    addSystemOption(check, options->systemPath);
    addModuleOption(check, options->modulePath);
    addSamplesOption(check, options->samples);
    addFunctionsOption(check);  // a system may name Lua functions, which must exist to pass
    check->callback([options, &status]() { status = runCheck(*options); });
}
