// fazolt export: a system as C source for a controller (PREFIX.h, PREFIX.c).
#include "cli/commands.h"

#include <fazolt/export_c.h>

#include <iostream>

namespace {

struct ExportOptions {
    std::string systemPath;
    std::string directory = ".";
    std::string prefix;
    std::string modulePath;
    int64_t samples = 0;
    bool isFloat = false;
    bool isExtern = false;
};

// The file's name up to its first dot, made a C identifier.
std::string prefixOfPath(const std::string &path) {
    std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    for (char &c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name = "fis_" + name;
    return name;
}

int runExport(const ExportOptions &options) {
    std::optional<LoadedSystem> loaded = loadSystemFile(options.systemPath, options.modulePath, options.samples);
    if (!loaded) return EXIT_EVALUATION_ERROR;
    const std::string prefix = options.prefix.empty() ? prefixOfPath(options.systemPath) : options.prefix;
    try {
        fazolt::CExportOptions c;
        c.isFloat = options.isFloat;
        c.isExtern = options.isExtern;
        fazolt::exportC(*loaded->system, options.directory, prefix, c);
    } catch (const orvane::HostError &e) {
        bool isAboutSystem = e.identifier() == fazolt::ids::exportUnsupported;
        printError(e, isAboutSystem ? options.systemPath + ": " : "");
        return EXIT_EVALUATION_ERROR;
    }
    return 0;
}

}  // namespace

void addExportCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App *command = app.add_subcommand("export", "Write a system as C for a controller (PREFIX.h, PREFIX.c)");
    command->footer(
        "Writes DIR/PREFIX.h and DIR/PREFIX.c: C99 that also compiles as C++, with no heap,\n"
        "no stdio and no static state, needing only <math.h>. PREFIX.h declares\n"
        "  int PREFIX_evaluate(const double inputs[], double outputs[]);\n"
        "which evaluates one row and returns 0 or bits saying what fazolt eval would warn of\n"
        "(PREFIX_OUT_OF_RANGE_INPUT, PREFIX_NO_RULE_FIRED, PREFIX_EMPTY_OUTPUT_SET,\n"
        "PREFIX_NAN_INPUT, PREFIX_NON_FINITE_OUTPUT). In double precision, compiled without\n"
        "-ffast-math and with -ffp-contract=off, its outputs are fazolt eval's bit for bit\n"
        "wherever the C library's exp and pow are the ones fazolt used.\n\n"
        "A system with a custom, Lua or Python function is refused with an error naming it\n"
        "(exit status 1), unless --extern: PREFIX.h then declares PREFIX_fn_NAME for each,\n"
        "for you to define in C, and documents what each receives.\n\n"
        "Examples:\n"
        "  fazolt export examples/dimmer/dimmer.json -o firmware --prefix dimmer\n"
        "  fazolt export controller.fcl -o src --float\n"
        "  fazolt export custom.json -o src --extern --functions my.lua\n"
        "See docs/deployment.md.");
    addSystemOption(command, options->systemPath);
    command->add_option("-o,--output-dir", options->directory, "Folder to write the two files into (default: .)")
        ->type_name("DIR");
    command
        ->add_option("--prefix", options->prefix,
                     "Name of the files, the function and the macros (default: the system file's name)")
        ->type_name("NAME");
    command->add_flag("--float", options->isFloat,
                      "Single precision (float, expf, powf) for targets without a double-precision unit");
    command->add_flag("--extern", options->isExtern,
                      "Declare the system's custom functions in PREFIX.h for you to define in C");
    addSamplesOption(command, options->samples);
    addModuleOption(command, options->modulePath);
    addFunctionsOption(command);
    command->callback([options, &status]() { status = runExport(*options); });
}
