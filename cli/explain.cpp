// fazolt explain: one row, shown term by term, rule by rule, output by output.
#include "cli/commands.h"
#include "cli/explainJson.h"
#include "cli/explainOptions.h"
#include "cli/output.h"

#include <sstream>

#include <unistd.h>

namespace {

struct ExplainOptions {
    std::string systemPath;
    std::string modulePath;
    std::string outputPath;
    std::string format = "text";
    bool onlyFired = false;
    RowOptions row;
    DiagnosticFlags modes;
};

std::string num(double v) { return orvane::formatDouble(v, false); }

size_t widestName(const std::vector<fazolt::TermInfo> &terms) {
    size_t w = 0;
    for (const fazolt::TermInfo &t : terms) w = std::max(w, t.name.size());
    return w;
}

void printText(std::ostream &out, const fazolt::SystemInfo &info, const fazolt::Explanation &e, bool onlyFired,
               bool canDim) {
    out << (info.name.empty() ? "system" : info.name) << ": " << info.type << ", and " << info.andMethod << ", or "
        << info.orMethod;
    if (info.isMamdani) out << ", implication " << info.impMethod << ", aggregation " << info.aggMethod;
    out << ", " << info.defuzzMethod << "\n\ninputs (value, then each term's degree)\n";
    for (size_t i = 0; i < info.inputs.size(); ++i) {
        const fazolt::VariableInfo &v = info.inputs[i];
        out << "  " << v.name << " = " << num(e.inputs[i].value) << "\n";
        size_t width = widestName(v.terms);
        for (size_t j = 0; j < v.terms.size(); ++j)
            out << "    " << v.terms[j].name << std::string(width - v.terms[j].name.size() + 2, ' ')
                << num(e.inputs[i].termDegrees[j]) << "\n";
    }
    out << "\nrules (firing strength, then the rule with each tested input's value)\n";
    size_t numHidden = 0;
    for (size_t r = 0; r < info.rules.size(); ++r) {
        const fazolt::RuleExplanation &rule = e.rules[r];
        bool isZero = rule.firingStrength == 0.0;
        if (onlyFired && isZero) {
            ++numHidden;
            continue;
        }
        std::string line = "  " + std::to_string(r + 1) + ": " + num(rule.firingStrength) + "  " +
                           fazolt::ruleText(info, info.rules[r], &rule.antecedentValues);
        for (size_t o = 0; o < rule.outputLevels.size(); ++o) {
            if (info.rules[r].consequent[o] == 0) continue;
            line += "; " + info.outputs[o].name + " level " + num(rule.outputLevels[o]) + ", weighted " +
                    num(rule.weightedOutputs[o]);
        }
        out << (isZero && canDim ? "\033[2m" + line + "\033[0m" : line) << "\n";
    }
    if (numHidden > 0) out << "  (" << numHidden << " rules of strength 0 not shown)\n";
    out << "\noutputs\n";
    for (size_t o = 0; o < info.outputs.size(); ++o) {
        const fazolt::OutputExplanation &output = e.outputs[o];
        out << "  " << info.outputs[o].name << " = " << num(output.value) << " (" << info.defuzzMethod << ")\n";
        if (info.isMamdani) {
            fazolt::SetSummary s = fazolt::summarizeSet(info.samplePoints[o], output.aggregatedSet);
            out << "    aggregated set, " << info.numSamples << " sample points: ";
            if (s.isEmpty)
                out << "empty (0 everywhere)";
            else
                out << "height " << num(s.height) << ", above 0 on [" << num(s.supportLow) << ", " << num(s.supportHigh)
                    << "]";
            if (s.numNaN > 0) out << ", " << s.numNaN << " NaN samples";
            out << "\n";
        } else {
            out << "    weighted rule outputs sum to " << num(output.sum) << "; firing strengths of all rules sum to "
                << num(e.totalFiringStrength) << "\n";
        }
    }
}

int runExplain(const ExplainOptions &options) {
    fazolt::Explainer explainer = loadExplainer(options.systemPath, options.modulePath);
    const fazolt::SystemInfo &info = explainer.info();
    std::vector<double> row = readRow(options.row, info);
    fazolt::Explanation e = explainer.explain(row, readModes(options.modes, info.name));
    printWarnings(e.warnings);
    std::ostringstream text;
    if (options.format == "json")
        text << fazolt::explanationToJson(info, e, true) << "\n";
    else
        printText(text, info, e, options.onlyFired, options.outputPath.empty() && isatty(STDOUT_FILENO) != 0);
    Output output(options.outputPath);
    output.write(text.str());
    output.commit();
    return 0;
}

}  // namespace

void addExplainCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<ExplainOptions>();
    CLI::App *explain = app.add_subcommand("explain", "Show how one input row is evaluated: terms, rules, outputs");
    explain->footer(
        "Prints each input's value and the degree of each of its terms, each rule with its\n"
        "antecedent values and firing strength, and each output's method, crisp value and\n"
        "aggregated set. Every number is the module's own, in the shortest text that reads\n"
        "back to the same bits. --format json gives the same content, Mamdani implied sets included.\n\n"
        "Examples:\n"
        "  fazolt explain examples/dimmer/dimmer.json --input daylight=30 --input motion=0.9\n"
        "  fazolt explain examples/sugeno/brake.json --row 60,40 --fired\n"
        "  fazolt explain dimmer.record.json --row 30,0.9 --format json --on-no-rule-fired error");
    addSystemOption(explain, options->systemPath);
    addRowOptions(explain, options->row);
    explain->add_option("--format", options->format, "text (default) or json")
        ->check(CLI::IsMember({"text", "json"}))
        ->type_name("FORMAT");
    explain->add_option("-o,--output,--output-file", options->outputPath, "Write to FILE (replaced only on success)")
        ->type_name("FILE");
    explain->add_flag("--fired", options->onlyFired, "Hide the rules of firing strength 0");
    addDiagnosticsOptions(explain, options->modes);
    addModuleOption(explain, options->modulePath);
    addFunctionsOption(explain);
    explain->callback([options, &status]() { status = runExplain(*options); });
}
