// fazolt call: the module entry with host values read from JSON files.
#include "cli/commands.h"

#include <iostream>

namespace {

struct CallOptions {
    std::string modulePath;
    int numResults = 1;
    std::vector<std::string> argumentFiles;
};

int runCall(const CallOptions &options) {
    std::vector<orvane::Value> arguments;
    for (const std::string &path : options.argumentFiles) {
        try {
            arguments.push_back(orvane::fromJson(readTextFile(path)));
        } catch (const orvane::HostError &e) {
            printError(e, path + ": ");
            return EXIT_EVALUATION_ERROR;
        }
    }
    std::shared_ptr<orvane::Module> module;
    try {
        module = orvane::Module::load(options.modulePath.empty() ? defaultModulePath() : options.modulePath);
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    }
    orvane::CallOutcome outcome = module->call(options.numResults, arguments);
    return printCallOutcome(std::cout, outcome);
}

}  // namespace

int printCallOutcome(std::ostream &out, const orvane::CallOutcome &outcome) {
    std::string warnings = "[";
    for (size_t k = 0; k < outcome.warnings.size(); ++k) {
        if (k > 0) warnings += ",\n  ";
        warnings += warningToJson(outcome.warnings[k]);
    }
    warnings += "]";
    if (outcome.error) {
        out << "{\"error\": {\"identifier\": " << jsonString(outcome.error->identifier())
            << ", \"message\": " << jsonString(outcome.error->message()) << "},\n \"warnings\": " << warnings << "}\n";
        return EXIT_EVALUATION_ERROR;
    }
    out << "{\"results\": [";
    for (size_t k = 0; k < outcome.results.size(); ++k) {
        out << (k > 0 ? ",\n  " : "\n  ") << orvane::toJson(outcome.results[k]);
    }
    out << "],\n \"warnings\": " << warnings << "}\n";
    return 0;
}

void addCallCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<CallOptions>();
    CLI::App *call = app.add_subcommand("call", "Call the module entry with host values read from JSON files");
    call->footer(
        "Each ARG.json is one host value in host-value JSON. The module entry receives all of\n"
        "them, whatever their count, and the output is {\"results\": [...], \"warnings\": [...]},\n"
        "or {\"error\": {...}, \"warnings\": [...]} with exit status 1.\n\n"
        "Examples:\n"
        "  fazolt call --nargout 6 inputs.json fis.json diagnostics.json\n"
        "  fazolt call examples/call/inputs.json examples/call/fis.json examples/call/diagnostics.json");
    call->add_option("--module", options->modulePath, "Module to load (default: the one beside the fazolt libraries)");
    call->add_option("--nargout", options->numResults, "Number of results to ask for (0 to 6 and beyond)")
        ->check(CLI::Range(0, 2147483647));  // NonNegativeNumber printed DBL_MAX as the bound
    addFunctionsOption(call);
    call->add_option("arguments", options->argumentFiles, "Argument files, host-value JSON")->type_name("ARG.json");
    call->callback([options, &status]() { status = runCall(*options); });
}
