// fazolt tune: fits a system's parameters to data. The fitting is the Python
// package's (fazolt.tune, on numpy and scipy); this command runs it with
// Debian's Python, so that the tool and the package give the same results.
#include "cli/commands.h"
#include "cli/report.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char *DEFAULT_PYTHON = "/usr/bin/python3";

// Checks what the fitting needs before importing it, so that a missing
// package is one line naming it, not a traceback.
constexpr const char *BOOTSTRAP = R"py(import sys
for name in ("numpy", "scipy"):
    try:
        __import__(name)
    except ImportError:
        sys.exit(f"error: fazolt:tune:MissingPackage: fazolt tune needs Python's {name} for {sys.executable}"
                 f" (on Debian: apt-get install python3-{name})")
try:
    import fazolt.tune_cli
except ImportError as e:
    sys.exit(f"error: fazolt:tune:MissingPackage: fazolt tune needs the fazolt Python package, neither beside"
             f" the tool (its python folder) nor installed for {sys.executable}: {e}")
sys.exit(fazolt.tune_cli.main(sys.argv[1:]))
)py";

// The package staged beside the tool in the build tree (build/python/fazolt);
// an installed tool uses the package pip installed.
std::string packageBesideTool() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    std::filesystem::path folder = self.parent_path() / "python";
    return std::filesystem::exists(folder / "fazolt" / "tune_cli.py", error) ? folder.string() : "";
}

int runTune(const std::vector<std::string> &arguments) {
    const char *fromEnvironment = std::getenv("FAZOLT_PYTHON");
    std::string python = fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : DEFAULT_PYTHON;
    if (std::string folder = packageBesideTool(); !folder.empty()) {
        const char *current = std::getenv("PYTHONPATH");
        std::string path = current != nullptr && *current != '\0' ? folder + ":" + current : folder;
        setenv("PYTHONPATH", path.c_str(), 1);
    }
    std::vector<std::string> words = {python, "-c", BOOTSTRAP};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::cout.flush();
    execv(python.c_str(), argv.data());
    printError(cliError::kTuneNoPython, "fazolt tune runs Python's fazolt.tune with " + python + ": " +
                                            std::strerror(errno) +
                                            " (install python3-numpy and python3-scipy, or set FAZOLT_PYTHON)");
    return EXIT_EVALUATION_ERROR;
}

}  // namespace

void addTuneCommand(CLI::App &app, int &status) {
    CLI::App *tune = app.add_subcommand("tune", "Fit a system's parameters to data (runs Python's fazolt.tune)");
    // Every argument, --help included, goes to the Python command.
    tune->prefix_command();
    tune->set_help_flag();
    tune->footer(
        "fazolt tune SYSTEM DATA.csv --target COL[,COL] [--tune inputs,outputs,weights]\n"
        "            [--validation FILE] [--max-iter N] [--seed S] [--method M] -o TUNED.json\n"
        "Runs /usr/bin/python3 (or $FAZOLT_PYTHON) with numpy, scipy and the fazolt package;\n"
        "`fazolt tune --help` lists the options.");
    tune->callback([tune, &status]() { status = runTune(tune->remaining()); });
}
