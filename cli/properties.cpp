// fazolt properties: what the module says it implements.
#include "cli/commands.h"

#include <iostream>

void addPropertiesCommand(CLI::App &app, int &status) {
    auto modulePath = std::make_shared<std::string>();
    CLI::App *properties =
        app.add_subcommand("properties", "Print the module's function properties as host-value JSON");
    properties->footer(
        "Prints the struct of Version, ResolvedFunctions (decoded) and EntryPoints.\n\n"
        "Examples:\n"
        "  fazolt properties\n"
        "  fazolt properties --module build/libfazolt.so");
    properties->add_option("--module", *modulePath, "Module to load (default: the one beside the fazolt libraries)");
    properties->callback([modulePath, &status]() {
        std::shared_ptr<orvane::Module> module =
            orvane::Module::load(modulePath->empty() ? defaultModulePath() : *modulePath);
        orvane::Value value = module->properties();
        if (!value) {
            printError(cliError::kPropertiesMissing, "the module exports no function properties");
            status = EXIT_EVALUATION_ERROR;
            return;
        }
        std::cout << orvane::toJson(value) << "\n";
        status = 0;
    });
}
