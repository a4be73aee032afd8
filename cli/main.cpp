// fazolt: evaluate fuzzy inference systems with the fazolt module.
#include "cli/commands.h"

#include <fazolt/version.h>

#include <iostream>

int main(int argc, char **argv) {
    CLI::App app{"fazolt - exact fuzzy inference (Mamdani and Sugeno) in double precision"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help for every command");
    app.set_version_flag("--version", std::string("fazolt ") + fazolt::version(), "Print the version and exit");
    app.footer(
        "Each command has its own --help; --help-all prints them all.\n\n"
        "Examples:\n"
        "  fazolt eval dimmer.json inputs.csv > outputs.csv\n"
        "  fazolt eval dimmer.json inputs.csv --format json --nargout 1\n"
        "  fazolt check dimmer.json\n"
        "  fazolt call --nargout 6 inputs.json fis.json diagnostics.json\n"
        "  fazolt bench dimmer.json inputs.csv --reps 20\n"
        "  fazolt properties\n"
        "  fazolt --version");
    int status = 0;
    addBenchCommand(app, status);
    addCallCommand(app, status);
    addEvalCommand(app, status);
    addCheckCommand(app, status);
    addPropertiesCommand(app, status);
    addConvertCommand(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
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
