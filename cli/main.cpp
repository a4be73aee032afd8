// fazolt: evaluate fuzzy inference systems with the fazolt module.
#include "cli/commands.h"

#include <iostream>

int main(int argc, char **argv) {
    CLI::App app{"fazolt - exact fuzzy inference (Mamdani and Sugeno) in double precision"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help for every command");
    int status = 0;
    addBenchCommand(app, status);
    addCallCommand(app, status);
    addEvalCommand(app, status);
    addPropertiesCommand(app, status);
    addConvertCommand(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        // One line, like every other error, so that scripts can show it as it is.
        std::cerr << "error: usage: " << e.what() << " (fazolt --help for the options)\n";
        return EXIT_USAGE;
    } catch (const orvane::HostError &e) {
        std::cerr << "error: " << e.identifier() << ": " << e.message() << "\n";
        return EXIT_EVALUATION_ERROR;
    }
    return status;
}
