// fuzzylite 6.0 reads what we write and we read what it writes.
//
// Our FCL and FLL exports of systems that use only constructs both sides
// define the same way are loaded by fuzzylite's importers and evaluated on
// 10,000 random rows beside ours; so are systems built with fuzzylite's API
// and exported by its own exporters. Sugeno outputs must agree within 1e-12
// relative. fuzzylite integrates a Mamdani output at the midpoints of
// `resolution` equal intervals and we sum at our sample points, so for the
// 1e-9 check its grid is moved onto ours (resolution = numSamples, range
// widened by half a step on each side); without that move the difference is
// printed, and it must shrink as both grids grow.
//
//   fuzzylite_interop SOURCE_DIR MODULE_PATH
//
// Sections: comparison, our systems into fuzzylite, fuzzylite's into ours,
// the unmoved grid, main.
#include <fazolt/fazolt.h>
#include <fazolt/formats.h>
#include <fl/Headers.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string sourceDir, modulePath;
int numFailures = 0;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- Comparison.

fazolt::Matrix randomRows(const fazolt::System &system, int64_t numRows, uint64_t seed, double widen = 0.0) {
    orvane::Value ranges = system.record().field(0, "inputRange");
    std::vector<double> r = ranges.toDoubles();
    auto numInputs = static_cast<int64_t>(r.size() / 2);
    std::mt19937_64 random(seed);
    fazolt::Matrix rows = fazolt::Matrix::zeros(numRows, numInputs);
    for (int64_t i = 0; i < numInputs; ++i) {
        double low = r[static_cast<size_t>(i)], high = r[static_cast<size_t>(i + numInputs)];
        std::uniform_real_distribution<double> u(low - widen * (high - low), high + widen * (high - low));
        for (int64_t k = 0; k < numRows; ++k) rows.at(k, i) = u(random);
    }
    return rows;
}

fazolt::Matrix evaluateFuzzylite(fl::Engine &engine, const fazolt::Matrix &rows) {
    std::string status;
    if (!engine.isReady(&status)) throw std::runtime_error("fuzzylite engine not ready: " + status);
    fazolt::Matrix out = fazolt::Matrix::zeros(rows.rows, static_cast<int64_t>(engine.numberOfOutputVariables()));
    for (int64_t k = 0; k < rows.rows; ++k) {
        for (int64_t i = 0; i < rows.cols; ++i)
            engine.getInputVariable(static_cast<size_t>(i))->setValue(rows.at(k, i));
        engine.process();
        for (int64_t o = 0; o < out.cols; ++o)
            out.at(k, o) = engine.getOutputVariable(static_cast<size_t>(o))->getValue();
    }
    return out;
}

// The largest relative difference, |a - b| / max(|a|, |b|).
double largestRelativeDifference(const fazolt::Matrix &ours, const fazolt::Matrix &theirs) {
    double largest = 0.0;
    for (size_t k = 0; k < ours.data.size(); ++k) {
        double a = ours.data[k], b = theirs.data[k];
        if (std::isnan(a) || std::isnan(b)) return INFINITY;
        double scale = std::max(std::fabs(a), std::fabs(b));
        if (a != b) largest = std::max(largest, std::fabs(a - b) / scale);
    }
    return largest;
}

void report(const std::string &label, double difference, double bound) {
    bool isOk = difference <= bound;
    std::printf("%-58s largest relative difference %.3g (bound %.0e) %s\n", label.c_str(), difference, bound,
                isOk ? "ok" : "FAILED");
    numFailures += isOk ? 0 : 1;
}

bool isMamdani(const fazolt::System &system) { return system.record().field(0, "type").toText() == "mamdani"; }

// fuzzylite's midpoints onto our sample points.
void moveGridOntoOurs(fl::Engine &engine, const fazolt::System &system) {
    int numSamples = static_cast<int>(system.record().field(0, "numSamples").toDoubles().at(0));
    for (fl::OutputVariable *v : engine.outputVariables()) {
        double halfStep = (v->getMaximum() - v->getMinimum()) / (numSamples - 1) / 2.0;
        v->setRange(v->getMinimum() - halfStep, v->getMaximum() + halfStep);
        auto *integral = dynamic_cast<fl::IntegralDefuzzifier *>(v->getDefuzzifier());
        if (integral != nullptr) integral->setResolution(numSamples);
    }
}

double compare(fl::Engine &engine, const fazolt::System &ours, uint64_t seed) {
    fazolt::Matrix rows = randomRows(ours, 10000, seed);
    fazolt::DiagnosticModes quiet{fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING};
    if (isMamdani(ours)) moveGridOntoOurs(engine, ours);
    return largestRelativeDifference(ours.evaluate(rows, quiet).outputs, evaluateFuzzylite(engine, rows));
}

// ---- Our exports into fuzzylite.

void ourExportsIntoFuzzylite() {
    const char *systems[] = {"examples/dimmer/dimmer.json", "examples/sugeno/brake.json",
                             "tests/data/formats/interop_mamdani.json", "tests/data/formats/singletons_sugeno.json"};
    uint64_t seed = 1;
    for (const char *file : systems) {
        std::string description = slurp(sourceDir + "/" + file);
        fazolt::System ours = fazolt::System::fromDescription(description, modulePath);
        double bound = isMamdani(ours) ? 1e-9 : 1e-12;
        for (fazolt::SystemFormat format : {fazolt::SystemFormat::Fcl, fazolt::SystemFormat::Fll}) {
            const char *name = format == fazolt::SystemFormat::Fcl ? "FCL" : "FLL";
            std::string text;
            try {
                text = fazolt::descriptionToText(description, format);
            } catch (const orvane::HostError &e) {
                std::printf("%-58s not expressible: %s\n", (std::string(file) + " as " + name).c_str(),
                            e.message().c_str());
                continue;
            }
            std::unique_ptr<fl::Engine> engine(format == fazolt::SystemFormat::Fcl
                                                   ? fl::FclImporter().fromString(text)
                                                   : fl::FllImporter().fromString(text));
            report(std::string("ours ") + name + " -> fuzzylite: " + file, compare(*engine, ours, seed++), bound);
        }
    }
}

// ---- fuzzylite's exports into ours.

std::unique_ptr<fl::Engine> fuzzyliteMamdani() {
    auto engine = std::make_unique<fl::Engine>("boiler");
    auto *pressure = new fl::InputVariable("pressure", 0, 10);
    pressure->addTerm(new fl::Triangle("low", 0, 2.5, 5));
    pressure->addTerm(new fl::Trapezoid("normal", 3, 4.5, 6, 8));
    pressure->addTerm(new fl::Gaussian("high", 9, 1.2));
    engine->addInputVariable(pressure);
    auto *level = new fl::InputVariable("level", -1, 1);
    level->addTerm(new fl::Sigmoid("up", 0.2, 9));
    level->addTerm(new fl::Bell("flat", 0, 0.3, 2));
    level->addTerm(new fl::ZShape("down", -0.6, 0));
    engine->addInputVariable(level);
    auto *burner = new fl::OutputVariable("burner", 0, 100);
    burner->setDefuzzifier(new fl::Centroid(101));
    burner->setAggregation(new fl::Maximum);
    burner->setDefaultValue(50);
    burner->addTerm(new fl::Triangle("low", 0, 20, 45));
    burner->addTerm(new fl::Trapezoid("mid", 30, 45, 60, 75));
    burner->addTerm(new fl::SShape("high", 60, 95));
    engine->addOutputVariable(burner);
    auto *rules = new fl::RuleBlock("rules");
    rules->setConjunction(new fl::Minimum);
    rules->setDisjunction(new fl::Maximum);
    rules->setImplication(new fl::AlgebraicProduct);
    rules->setActivation(new fl::General);
    const char *texts[] = {"if pressure is low and level is down then burner is high",
                           "if pressure is normal then burner is mid with 0.8",
                           "if pressure is high or level is up then burner is low",
                           "if level is flat and pressure is not high then burner is mid"};
    for (const char *t : texts) rules->addRule(fl::Rule::parse(t, engine.get()));
    engine->addRuleBlock(rules);
    return engine;
}

std::unique_ptr<fl::Engine> fuzzyliteSugeno() {
    auto engine = std::make_unique<fl::Engine>("dosing");
    auto *ph = new fl::InputVariable("ph", 4, 10);
    ph->addTerm(new fl::Trapezoid("acid", 4, 4, 5.5, 7));
    ph->addTerm(new fl::Triangle("neutral", 6, 7, 8));
    ph->addTerm(new fl::Trapezoid("base", 7, 8.5, 10, 10));
    engine->addInputVariable(ph);
    auto *flow = new fl::InputVariable("flow", 0, 50);
    flow->addTerm(new fl::Gaussian("small", 5, 8));
    flow->addTerm(new fl::Gaussian("large", 45, 10));
    engine->addInputVariable(flow);
    auto *dose = new fl::OutputVariable("dose", -2, 2);
    dose->setDefuzzifier(new fl::WeightedAverage);
    dose->setDefaultValue(0);
    dose->addTerm(new fl::Constant("remove", -1.5));
    dose->addTerm(new fl::Constant("none", 0));
    dose->addTerm(new fl::Linear("add", {-0.2, 0.01, 1.6}, engine.get()));
    engine->addOutputVariable(dose);
    auto *rules = new fl::RuleBlock("rules");
    rules->setConjunction(new fl::AlgebraicProduct);
    rules->setDisjunction(new fl::AlgebraicSum);
    rules->setActivation(new fl::General);
    const char *texts[] = {"if ph is acid and flow is small then dose is add",
                           "if ph is acid and flow is large then dose is add with 0.6",
                           "if ph is neutral then dose is none", "if ph is base or flow is large then dose is remove"};
    for (const char *t : texts) rules->addRule(fl::Rule::parse(t, engine.get()));
    engine->addRuleBlock(rules);
    return engine;
}

void fuzzyliteExportsIntoOurs() {
    uint64_t seed = 100;
    for (auto make : {fuzzyliteMamdani, fuzzyliteSugeno}) {
        std::unique_ptr<fl::Engine> engine = make();
        for (fazolt::SystemFormat format : {fazolt::SystemFormat::Fcl, fazolt::SystemFormat::Fll}) {
            const char *name = format == fazolt::SystemFormat::Fcl ? "FCL" : "FLL";
            std::string text = format == fazolt::SystemFormat::Fcl ? fl::FclExporter().toString(engine.get())
                                                                   : fl::FllExporter().toString(engine.get());
            std::string description = fazolt::descriptionFromText(text, format, std::string("fuzzylite.") + name);
            fazolt::System ours = fazolt::System::fromDescription(description, modulePath);
            std::unique_ptr<fl::Engine> theirs(engine->clone());
            report(std::string("fuzzylite ") + name + " -> ours: " + engine->getName(), compare(*theirs, ours, seed++),
                   isMamdani(ours) ? 1e-9 : 1e-12);
        }
    }
}

// ---- A folder of files as people write them (tests/data/formats/files):
// each is read by both tools from the same text and evaluated on the same
// rows, fuzzylite's grid moved onto ours; the largest difference is printed.
// A file we refuse must name the reason, and fuzzylite must read it (it is a
// real file, not a broken one).

struct FolderFile {
    const char *name;
    const char *refusal;  // "" when we read it
    double widen = 0.0;   // rows drawn from input ranges widened by this share on each side
};

void folderOfFiles() {
    const FolderFile files[] = {
        {"heating.fll", ""},
        {"irrigation.fll", ""},
        {"mixer.fcl", ""},
        {"split_outputs.fll", "concludes nothing about output \"alarm\""},
        {"greenhouse_vent.fll", ""},
        {"tank_level.fcl", ""},
        {"dosing_tsk.fll", ""},
        {"conveyor.fcl", ""},
        {"fan_hedges.fll", ""},
        {"kiln_hedges.fcl", ""},   // every hedge, a chain, "not" inside one
        {"pump_shapes.fll", ""},   // Concave, Cosine, Spike, Binary, SigmoidDifference
        {"trim_tab.fll", "the same only on ranges of one sign"},
        {"feed_pump.fll", "", 0.25},  // lock-range: inputs and outputs beyond their ranges
        {"kiln_gap.fll", ""},         // default 0 where no rule fires
    };
    uint64_t seed = 200;
    for (const FolderFile &f : files) {
        std::string path = sourceDir + "/tests/data/formats/files/" + f.name;
        std::string text = slurp(path);
        fazolt::SystemFormat format = fazolt::formatOfPath(path);
        // fuzzylite does not skip a byte-order mark, and its FCL reads no
        // DEFAULT := NC (nan means the same to it while some rule fires).
        std::string theirText = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
        if (size_t nc = theirText.find("DEFAULT := NC;"); nc != std::string::npos)
            theirText.replace(nc, 14, "DEFAULT := nan;");
        std::unique_ptr<fl::Engine> theirs(format == fazolt::SystemFormat::Fcl
                                               ? fl::FclImporter().fromString(theirText)
                                               : fl::FllImporter().fromString(theirText));
        std::string description;
        try {
            description = fazolt::descriptionFromText(text, format, f.name);
        } catch (const orvane::HostError &e) {
            bool isExpected = *f.refusal != '\0' && e.message().find(f.refusal) != std::string::npos;
            std::printf("%-58s refused: %s %s\n", (std::string("file ") + f.name).c_str(), e.message().c_str(),
                        isExpected ? "ok" : "FAILED");
            numFailures += isExpected ? 0 : 1;
            continue;
        }
        if (*f.refusal != '\0') {
            std::printf("file %s: read, but expected a refusal holding %s FAILED\n", f.name, f.refusal);
            ++numFailures;
            continue;
        }
        fazolt::System ours = fazolt::System::fromDescription(description, modulePath);
        fazolt::Matrix rows = randomRows(ours, 10000, seed++, f.widen);
        if (isMamdani(ours)) moveGridOntoOurs(*theirs, ours);
        fazolt::Matrix a = ours.evaluate(rows, {fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING}).outputs, b = evaluateFuzzylite(*theirs, rows);
        // Relative to the output's range: a value near 0 (the low end of a
        // grid) may differ in its last bits from an exact 0.
        std::vector<double> range = ours.record().field(0, "outputRange").toDoubles();
        double largest = 0.0;
        for (int64_t k = 0; k < a.rows; ++k) {
            for (int64_t o = 0; o < a.cols; ++o) {
                double width = range[static_cast<size_t>(o + a.cols)] - range[static_cast<size_t>(o)];
                double d = std::fabs(a.at(k, o) - b.at(k, o)) / width;
                if (std::isnan(a.at(k, o)) && std::isnan(b.at(k, o))) d = 0.0;  // a NaN default on both sides
                largest = std::isnan(d) ? HUGE_VAL : std::max(largest, d);
            }
        }
        std::printf("%-58s largest difference %.3g of the range (bound 1e-12) %s\n",
                    (std::string("file ") + f.name).c_str(), largest, largest <= 1e-12 ? "ok" : "FAILED");
        numFailures += largest <= 1e-12 ? 0 : 1;
    }
}

// ---- The unmoved grid: both at the same resolution, fuzzylite at its
// midpoints. The difference comes from the grids alone and shrinks as they grow.

void unmovedGrid() {
    std::string description = slurp(sourceDir + "/examples/dimmer/dimmer.json");
    double previous = INFINITY;
    for (int resolution : {101, 1001, 10001}) {
        std::string withSamples = description;
        withSamples.insert(withSamples.find("\"inputs\""), "\"numSamples\": " + std::to_string(resolution) + ",\n  ");
        fazolt::System ours = fazolt::System::fromDescription(withSamples, modulePath);
        std::unique_ptr<fl::Engine> engine(
            fl::FllImporter().fromString(fazolt::descriptionToText(withSamples, fazolt::SystemFormat::Fll)));
        fazolt::Matrix rows = randomRows(ours, 2000, 7);
        double d = largestRelativeDifference(ours.evaluate(rows, {fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING}).outputs, evaluateFuzzylite(*engine, rows));
        std::printf("dimmer, grid not moved, resolution %-6d largest relative difference %.3g\n", resolution, d);
        if (!(d < previous)) {
            std::printf("  FAILED: the difference did not shrink\n");
            ++numFailures;
        }
        previous = d;
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzzylite_interop SOURCE_DIR MODULE_PATH\n");
        return 2;
    }
    sourceDir = argv[1];
    modulePath = argv[2];
    // fuzzylite skips rules whose strength is within its tolerance of 0 and
    // treats values that close as equal; ours does neither.
    fl::fuzzylite::setMachEps(0.0);
    // Its exporters write this many decimals: enough to read back the same doubles here.
    fl::fuzzylite::setDecimals(17);
    try {
        ourExportsIntoFuzzylite();
        fuzzyliteExportsIntoOurs();
        folderOfFiles();
        unmovedGrid();
    } catch (const orvane::HostError &e) {
        std::fprintf(stderr, "error: %s: %s\n", e.identifier().c_str(), e.message().c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return numFailures == 0 ? 0 : 1;
}
