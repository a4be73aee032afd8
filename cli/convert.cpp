// fazolt convert: a system from one language to another (description JSON, FCL, FLL).
#include "cli/commands.h"
#include "cli/output.h"

#include <fazolt/formats.h>

#include <iostream>

namespace {

struct ConvertOptions {
    std::string inputPath;
    std::string outputPath;
    std::string from;
    std::string to;
    int64_t samples = 0;
};

int runConvert(const ConvertOptions &options) {
    fazolt::SystemFormat from =
        options.from.empty() ? fazolt::formatOfPath(options.inputPath) : fazolt::formatNamed(options.from);
    fazolt::SystemFormat to =
        options.to.empty() ? fazolt::formatOfPath(options.outputPath) : fazolt::formatNamed(options.to);
    std::string text = readTextFile(options.inputPath);
    std::string description;
    std::string converted;
    try {
        std::vector<fazolt::FormatWarning> warnings;
        description = fazolt::descriptionFromText(text, from, options.inputPath, &warnings);
        if (options.samples > 0) description = fazolt::descriptionWithSamples(description, options.samples);
        printFormatWarnings(warnings);
        converted = fazolt::descriptionToText(description, to);
    } catch (const orvane::HostError &e) {
        // The readers name the file and line themselves; a description's
        // checks give a JSON path, a writer the part it cannot say.
        bool isDescription = e.identifier().rfind("fazolt:description", 0) == 0 && from == fazolt::SystemFormat::Json;
        bool isWriter = e.identifier().find(":Unsupported") != std::string::npos;
        std::string where = isDescription ? options.inputPath + ": "
                            : isWriter    ? options.outputPath + ": cannot say "
                                          : "";
        printError(e, where);
        return EXIT_EVALUATION_ERROR;
    }
    // Written beside OUT and renamed over it: a failure leaves OUT as it was.
    Output out(options.outputPath == "-" ? "" : options.outputPath);
    out.write(converted);
    out.commit();
    return 0;
}

}  // namespace

void addConvertCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App *convert = app.add_subcommand("convert", "Convert a system between description JSON, FCL and FLL");
    convert->footer(
        "The languages are chosen by extension (.fcl, .fll, anything else is a description in\n"
        "JSON) or by --from/--to. What the target language cannot say the same way is refused\n"
        "with an error naming it, never approximated; a file that cannot be read gives its\n"
        "file, line and construct. Exit status 1 on either.\n\n"
        "Examples:\n"
        "  fazolt convert examples/dimmer/dimmer.json dimmer.fcl\n"
        "  fazolt convert controller.fll controller.json\n"
        "  fazolt convert plant.fcl - --to fll\n"
        "  fazolt eval plant.fcl inputs.csv");
    convert->add_option("in", options->inputPath, "System to read (- for standard input)")->required()->type_name("IN");
    convert->add_option("out", options->outputPath, "File to write (- for standard output)")
        ->required()
        ->type_name("OUT");
    convert->add_option("--from", options->from, "Language of IN: json, fcl or fll")
        ->check(CLI::IsMember({"json", "fcl", "fll"}))
        ->type_name("LANG");
    convert->add_option("--to", options->to, "Language of OUT: json, fcl or fll")
        ->check(CLI::IsMember({"json", "fcl", "fll"}))
        ->type_name("LANG");
    addSamplesOption(convert, options->samples);
    convert->callback([options, &status]() { status = runConvert(*options); });
}
