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

// The help is the tool's own, so that `fazolt tune --help` (and the manual
// page made from it) needs no Python; the options are read by
// fazolt/tune_cli.py, which says the same under `python3 -m fazolt.tune_cli`.
constexpr const char *HELP = R"(Fit a system's parameters to data (runs Python's fazolt.tune)
Usage: fazolt tune SYSTEM DATA.csv --target COL[,COL] [OPTIONS] -o TUNED

Positionals:
  SYSTEM              the system to start from (a description, FCL or FLL)
  DATA.csv            training rows: a header naming the inputs and the targets

Options:
  -h,--help           Print this help message and exit
  --target COL[,COL]  the target columns, one per output (required)
  --tune WHAT         any of inputs, outputs, weights, comma-separated (default: all three)
  --validation FILE   rows to check after each iteration, not fitted
  --method M          hybrid, least_squares or nelder_mead (default: hybrid for a Sugeno
                      system that allows it, least_squares otherwise)
  --max-iter N        iterations (default 100)
  --seed S            the Nelder-Mead starting simplex (default 0)
  --threads N         threads per evaluation (default 0: one per core)
  -o,--output TUNED   the fitted system, in the language of its suffix (required)

Runs /usr/bin/python3 (or $FAZOLT_PYTHON) with numpy, scipy and the fazolt package (beside
the tool, or installed). Progress goes to standard error; the RMSE before and after, the
iterations and the seconds to standard output. TUNED is replaced only once complete.

Example:
  fazolt tune plant.json runs.csv --target flow --validation check.csv -o tuned.json
)";

int runTune(const std::vector<std::string> &arguments) {
    for (const std::string &word : arguments) {
        if (word == "--") break;
        if (word == "-h" || word == "--help") {
            std::cout << HELP;
            return 0;
        }
    }
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
    // Every argument goes to the Python command; --help is answered here.
    tune->prefix_command();
    tune->set_help_flag();
    tune->callback([tune, &status]() { status = runTune(tune->remaining()); });
}
