// fazolt: evaluate fuzzy inference systems with the fazolt module.
#include "cli/commands.h"
#include "cli/output.h"

#include <fazolt/version.h>

#include <csignal>
#include <iostream>
#include <new>

namespace {

// The command's exit status; `status` is what the command set.
int parseAndRun(CLI::App &app, int argc, char **argv, const int &status) {
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
        printUsageError(std::string(e.what()) + " (fazolt --help for the options)");
        return EXIT_USAGE;
    } catch (const orvane::HostError &e) {
        printError(e);
        return EXIT_EVALUATION_ERROR;
    } catch (const std::bad_alloc &) {
        // Unwinding has released what the command held and removed its temporary file.
        printError(cliError::kOutOfMemory, "out of memory");
        return EXIT_EVALUATION_ERROR;
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    installCheckedStandardOutput();
    // Past a file-size limit (ulimit -f) a write then fails with its reason
    // and is reported like a full disk, instead of the signal ending the tool.
    std::signal(SIGXFSZ, SIG_IGN);
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
        "  fazolt tune plant.json runs.csv --target flow -o tuned.json\n"
        "  fazolt properties\n"
        "  fazolt --version");
    int status = 0;
    addBenchCommand(app, status);
    addCallCommand(app, status);
    addEvalCommand(app, status);
    addCheckCommand(app, status);
    addPropertiesCommand(app, status);
    addExplainCommand(app, status);
    addPlotCommand(app, status);
    addViewCommand(app, status);
    addConvertCommand(app, status);
    addTuneCommand(app, status);
    addExportCommand(app, status);
    int exitStatus = parseAndRun(app, argc, argv, status);
    // Every command's standard output, checked once at the end: a full disk
    // or a closed pipe is an error, not success.
    try {
        finishStandardOutput();
    } catch (const orvane::HostError &e) {
        printError(e);
        exitStatus = EXIT_EVALUATION_ERROR;
    }
    return exitStatus;
}
