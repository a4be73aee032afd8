// Our engine against fuzzylite 6.0 on the same system and the same rows, in
// one run: ours through the module call over the whole matrix (as `fazolt
// bench` times it), fuzzylite row by row (setValue, process, getValue).
//
//   bench_fuzzylite SYSTEM.json INPUTS.csv [REPS] [FUZZYLITE_REPS]
//   bench_fuzzylite SYSTEM.json INPUTS.csv REPS --one-row
//
// With --one-row both engines are called one row per call, as a control
// loop calls them: ours through fazolt::Evaluator, fuzzylite through
// setValue, process, getValue; every call is timed alone (less the cost of
// reading the clock) and its heap allocations counted. The line then gives
// the median and 99th percentile per call of each and the allocations per
// call.
//
// Prints one line: wall and CPU ns per row of each engine (medians), their
// ratios, and the agreement of the outputs. fuzzylite integrates a Mamdani
// output at its own points (interval midpoints), not at our sample points,
// so Mamdani outputs are compared for speed only and their difference is
// shown as a plain magnitude; for Sugeno the largest difference in ulps is
// a check that both engines computed the same thing.
//
// Sections: translation of our system record to fl::Engine, timing of both
// engines, comparison of outputs, main.
#include "bench/allocation_counter.h"
#include "bench/bench_inputs.h"

#include <fazolt/fazolt.h>
#include <fl/Headers.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <time.h>

namespace {

// ---- Translation: from the record our builder makes out of the
// description, so that both engines read the very same numbers.

std::string textField(const orvane::Value &record, const char *name) { return record.field(0, name).toText(); }

std::vector<double> doublesField(const orvane::Value &record, const char *name) {
    return record.field(0, name).toDoubles();
}

// Appending rather than `"t" + std::to_string(n)` keeps GCC 12 from a false
// -Wrestrict alarm about that operator.
std::string numberedName(const char *prefix, size_t n) {
    std::string name = prefix;
    name += std::to_string(n);
    return name;
}

std::string termName(size_t j) { return numberedName("t", j + 1); }

fl::Term *makeMembershipTerm(const std::string &name, const std::string &type, const std::vector<double> &p) {
    auto need = [&](size_t n) {
        if (p.size() < n) throw std::runtime_error(type + " needs " + std::to_string(n) + " parameters");
    };
    if (type == "trimf") return need(3), new fl::Triangle(name, p[0], p[1], p[2]);
    if (type == "trapmf") return need(4), new fl::Trapezoid(name, p[0], p[1], p[2], p[3]);
    if (type == "gaussmf") return need(2), new fl::Gaussian(name, p[1], p[0]);  // [sigma, c]
    if (type == "gauss2mf") return need(4), new fl::GaussianProduct(name, p[1], p[0], p[3], p[2]);
    if (type == "gbellmf") return need(3), new fl::Bell(name, p[2], p[0], p[1]);  // [a, b, c]
    if (type == "sigmf") return need(2), new fl::Sigmoid(name, p[1], p[0]);       // [a, c]
    if (type == "dsigmf") return need(4), new fl::SigmoidDifference(name, p[1], p[0], p[2], p[3]);
    if (type == "psigmf") return need(4), new fl::SigmoidProduct(name, p[1], p[0], p[2], p[3]);
    if (type == "smf") return need(2), new fl::SShape(name, p[0], p[1]);
    if (type == "zmf") return need(2), new fl::ZShape(name, p[0], p[1]);
    if (type == "pimf") return need(4), new fl::PiShape(name, p[0], p[1], p[2], p[3]);
    throw std::runtime_error("no fuzzylite term for membership function \"" + type + "\"");
}

fl::TNorm *makeTNorm(const std::string &name) {
    if (name == "min") return new fl::Minimum;
    if (name == "prod") return new fl::AlgebraicProduct;
    throw std::runtime_error("no fuzzylite t-norm for \"" + name + "\"");
}

fl::SNorm *makeSNorm(const std::string &name) {
    if (name == "max") return new fl::Maximum;
    if (name == "probor") return new fl::AlgebraicSum;
    if (name == "sum") return new fl::UnboundedSum;
    throw std::runtime_error("no fuzzylite s-norm for \"" + name + "\"");
}

fl::Defuzzifier *makeDefuzzifier(const std::string &name, int numSamples) {
    if (name == "centroid") return new fl::Centroid(numSamples);
    if (name == "bisector") return new fl::Bisector(numSamples);
    if (name == "mom") return new fl::MeanOfMaximum(numSamples);
    if (name == "som") return new fl::SmallestOfMaximum(numSamples);
    if (name == "lom") return new fl::LargestOfMaximum(numSamples);
    if (name == "wtaver") return new fl::WeightedAverage;
    if (name == "wtsum") return new fl::WeightedSum;
    throw std::runtime_error("no fuzzylite defuzzifier for \"" + name + "\"");
}

// Each variable's membership functions as (type, params) pairs.
struct TermSpec {
    std::string type;
    std::vector<double> params;
};
std::vector<std::vector<TermSpec>> variableTerms(const orvane::Value &record, const char *field) {
    orvane::Value variables = record.field(0, field);
    std::vector<std::vector<TermSpec>> out;
    for (int64_t v = 0; v < variables.numel(); ++v) {
        orvane::Value mfs = variables.field(v, "mf");
        std::vector<TermSpec> terms;
        for (int64_t j = 0; j < mfs.numel(); ++j) {
            terms.push_back({mfs.field(j, "type").toText(), mfs.field(j, "params").toDoubles()});
        }
        out.push_back(std::move(terms));
    }
    return out;
}

// "if in1 is t2 and in3 is not t1 then out1 is t4 with 0.5"
std::string ruleText(const std::vector<double> &antecedent, const std::vector<double> &consequent,
                     const std::vector<double> &connection, const std::vector<double> &weight, size_t r,
                     size_t numRules, size_t numInputs, size_t numOutputs) {
    std::string text = "if";
    bool isFirst = true;
    const char *connective = connection[r] == 2.0 ? " or" : " and";
    for (size_t i = 0; i < numInputs; ++i) {
        double a = antecedent[r + i * numRules];
        if (a == 0.0) continue;
        if (!isFirst) text += connective;
        isFirst = false;
        text += ' ';
        text += numberedName("in", i + 1);
        text += a < 0.0 ? " is not " : " is ";
        text += termName(static_cast<size_t>(std::fabs(a)) - 1);
    }
    if (isFirst) throw std::runtime_error("rule " + std::to_string(r + 1) + " has no antecedent");
    text += " then";
    isFirst = true;
    for (size_t o = 0; o < numOutputs; ++o) {
        double c = consequent[r + o * numRules];
        if (c == 0.0) continue;
        // fuzzylite negates a consequent's activation degree, we negate its
        // set: not the same system, so refuse it.
        if (c < 0.0) throw std::runtime_error("rule " + std::to_string(r + 1) + ": negated consequents differ");
        if (!isFirst) text += " and";
        isFirst = false;
        text += ' ';
        text += numberedName("out", o + 1);
        text += " is ";
        text += termName(static_cast<size_t>(c) - 1);
    }
    if (isFirst) throw std::runtime_error("rule " + std::to_string(r + 1) + " has no consequent");
    char w[40];
    std::snprintf(w, sizeof w, " with %.17g", weight[r]);
    return text + w;
}

std::unique_ptr<fl::Engine> translate(const fazolt::System &system) {
    const orvane::Value &record = system.record();
    bool isMamdani = textField(record, "type") == "mamdani";
    int numSamples = static_cast<int>(doublesField(record, "numSamples").at(0));
    auto engine = std::make_unique<fl::Engine>(system.name().empty() ? "fis" : system.name());

    std::vector<double> inputRange = doublesField(record, "inputRange");
    std::vector<std::vector<TermSpec>> inputs = variableTerms(record, "inputMF");
    for (size_t i = 0; i < inputs.size(); ++i) {
        auto *variable = new fl::InputVariable(numberedName("in", i + 1), inputRange[i], inputRange[i + inputs.size()]);
        variable->setLockValueInRange(false);
        for (size_t j = 0; j < inputs[i].size(); ++j) {
            variable->addTerm(makeMembershipTerm(termName(j), inputs[i][j].type, inputs[i][j].params));
        }
        engine->addInputVariable(variable);
    }

    std::vector<double> outputRange = doublesField(record, "outputRange");
    std::vector<std::vector<TermSpec>> outputs = variableTerms(record, "outputMF");
    for (size_t o = 0; o < outputs.size(); ++o) {
        auto *variable =
            new fl::OutputVariable(numberedName("out", o + 1), outputRange[o], outputRange[o + outputs.size()]);
        variable->setLockValueInRange(false);
        variable->setLockPreviousValue(false);
        variable->setDefaultValue(fl::nan);
        variable->setDefuzzifier(makeDefuzzifier(textField(record, "defuzzMethod"), numSamples));
        // A Sugeno output keeps every activated term; the weighted
        // defuzzifiers read them one by one, so no aggregation applies.
        variable->setAggregation(isMamdani ? makeSNorm(textField(record, "aggMethod")) : nullptr);
        for (size_t j = 0; j < outputs[o].size(); ++j) {
            const TermSpec &t = outputs[o][j];
            if (isMamdani) {
                variable->addTerm(makeMembershipTerm(termName(j), t.type, t.params));
            } else if (t.type == "constant") {
                variable->addTerm(new fl::Constant(termName(j), t.params.at(0)));
            } else if (t.type == "linear") {
                variable->addTerm(new fl::Linear(termName(j), t.params, engine.get()));
            } else {
                throw std::runtime_error("no fuzzylite term for output function \"" + t.type + "\"");
            }
        }
        engine->addOutputVariable(variable);
    }

    auto *rules = new fl::RuleBlock("rules");
    rules->setConjunction(makeTNorm(textField(record, "andMethod")));
    rules->setDisjunction(makeSNorm(textField(record, "orMethod")));
    rules->setImplication(isMamdani ? makeTNorm(textField(record, "impMethod")) : nullptr);
    // Every rule, in order; with the tolerance at 0 (main) even the weakest
    // non-zero strength triggers its rule.
    rules->setActivation(new fl::General);
    std::vector<double> antecedent = doublesField(record, "antecedent");
    std::vector<double> consequent = doublesField(record, "consequent");
    std::vector<double> connection = doublesField(record, "connection");
    std::vector<double> weight = doublesField(record, "weight");
    size_t numRules = connection.size();
    for (size_t r = 0; r < numRules; ++r) {
        std::string text =
            ruleText(antecedent, consequent, connection, weight, r, numRules, inputs.size(), outputs.size());
        rules->addRule(fl::Rule::parse(text, engine.get()));
    }
    engine->addRuleBlock(rules);

    std::string status;
    if (!engine->isReady(&status)) throw std::runtime_error("fuzzylite engine not ready: " + status);
    return engine;
}

// ---- Timing: wall time and this process's CPU time, which on a shared
// machine leaves out the time spent waiting for a core.

struct Times {
    double wallNsPerRow = 0.0;
    double cpuNsPerRow = 0.0;
};

double cpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Our engine: one module call over all rows, every diagnostic off.
std::vector<double> timeOurs(const fazolt::System &system, const InputRows &rows, int reps, Times &times) {
    orvane::Value inputs = orvane::Value::doubleMatrix(rows.numRows, rows.numCols, rows.columnMajor);
    orvane::Value diagnostics = fazolt::makeDiagnostics(0, 0, 0, system.name());
    std::vector<double> samples, cpuSamples;
    std::vector<double> outputs;
    for (int rep = 0; rep <= reps; ++rep) {  // rep 0 warms up
        double cpuStart = cpuNanoseconds();
        auto start = std::chrono::steady_clock::now();
        orvane::CallOutcome outcome = system.call(inputs, diagnostics, 1);
        auto stop = std::chrono::steady_clock::now();
        double cpuStop = cpuNanoseconds();
        if (outcome.error) throw std::runtime_error(outcome.error->identifier() + ": " + outcome.error->message());
        if (rep > 0) {
            samples.push_back(std::chrono::duration<double, std::nano>(stop - start).count());
            cpuSamples.push_back(cpuStop - cpuStart);
        }
        if (rep == reps) outputs = outcome.results.at(0).toDoubles();
    }
    times.wallNsPerRow = median(samples) / static_cast<double>(rows.numRows);
    times.cpuNsPerRow = median(cpuSamples) / static_cast<double>(rows.numRows);
    return outputs;
}

// fuzzylite: row by row.
std::vector<double> timeFuzzylite(fl::Engine &engine, const InputRows &rows, int reps, Times &times) {
    std::vector<fl::InputVariable *> inputs = engine.inputVariables();
    std::vector<fl::OutputVariable *> outputs = engine.outputVariables();
    if (static_cast<int64_t>(inputs.size()) != rows.numCols) throw std::runtime_error("input column count differs");
    std::vector<double> results(static_cast<size_t>(rows.numRows) * outputs.size());
    std::vector<double> samples, cpuSamples;
    for (int rep = 0; rep <= reps; ++rep) {  // rep 0 warms up
        double cpuStart = cpuNanoseconds();
        auto start = std::chrono::steady_clock::now();
        for (int64_t r = 0; r < rows.numRows; ++r) {
            for (size_t i = 0; i < inputs.size(); ++i) {
                inputs[i]->setValue(rows.columnMajor[static_cast<size_t>(r + static_cast<int64_t>(i) * rows.numRows)]);
            }
            engine.process();
            for (size_t o = 0; o < outputs.size(); ++o) {
                results[static_cast<size_t>(r) + o * static_cast<size_t>(rows.numRows)] = outputs[o]->getValue();
            }
        }
        auto stop = std::chrono::steady_clock::now();
        double cpuStop = cpuNanoseconds();
        if (rep > 0) {
            samples.push_back(std::chrono::duration<double, std::nano>(stop - start).count());
            cpuSamples.push_back(cpuStop - cpuStart);
        }
    }
    times.wallNsPerRow = median(samples) / static_cast<double>(rows.numRows);
    times.cpuNsPerRow = median(cpuSamples) / static_cast<double>(rows.numRows);
    return results;
}

// ---- One row per call.

struct PerCall {
    std::vector<double> ns;  // every counted call
    int64_t numAllocations = 0;
    std::vector<double> outputs;  // the last repetition's, column-major
};

// Reading the clock twice, as each timed call does: the median of 10,001
// empty intervals.
double clockOverheadNs() {
    std::vector<double> empty(10001);
    for (double &ns : empty) {
        auto start = std::chrono::steady_clock::now();
        auto stop = std::chrono::steady_clock::now();
        ns = std::chrono::duration<double, std::nano>(stop - start).count();
    }
    return median(empty);
}

// callRow(r, outputs) evaluates row r into the row's outputs; rep 0 warms up.
template <typename CallRow>
PerCall timePerCall(const InputRows &rows, size_t numOutputs, int reps, CallRow &&callRow) {
    PerCall result;
    result.outputs.assign(static_cast<size_t>(rows.numRows) * numOutputs, 0.0);
    result.ns.reserve(static_cast<size_t>(rows.numRows) * static_cast<size_t>(reps));
    std::vector<double> out(numOutputs);
    const double overhead = clockOverheadNs();
    for (int rep = 0; rep <= reps; ++rep) {
        for (int64_t r = 0; r < rows.numRows; ++r) {
#if FAZOLT_COUNTS_ALLOCATIONS
            allocation_counter::arm();
#endif
            auto start = std::chrono::steady_clock::now();
            callRow(r, out.data());
            auto stop = std::chrono::steady_clock::now();
#if FAZOLT_COUNTS_ALLOCATIONS
            const int64_t n = allocation_counter::disarm();
            if (rep > 0) result.numAllocations += n;
#endif
            if (rep > 0) result.ns.push_back(std::chrono::duration<double, std::nano>(stop - start).count() - overhead);
            for (size_t o = 0; o < numOutputs; ++o)
                result.outputs[static_cast<size_t>(r) + o * static_cast<size_t>(rows.numRows)] = out[o];
        }
    }
    std::sort(result.ns.begin(), result.ns.end());
    return result;
}

double percentile99(const std::vector<double> &sorted) {
    return sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
}

PerCall oursPerCall(const fazolt::System &system, const InputRows &rows, int reps) {
    fazolt::Evaluator evaluator(system);
    const size_t numInputs = evaluator.numInputs();
    // Row-major, as a controller holds its readings.
    std::vector<double> rowMajor(static_cast<size_t>(rows.numRows) * numInputs);
    for (int64_t r = 0; r < rows.numRows; ++r)
        for (size_t i = 0; i < numInputs; ++i)
            rowMajor[static_cast<size_t>(r) * numInputs + i] =
                rows.columnMajor[static_cast<size_t>(r + static_cast<int64_t>(i) * rows.numRows)];
    const size_t numOutputs = evaluator.numOutputs();
    return timePerCall(rows, numOutputs, reps, [&](int64_t r, double *out) {
        (void)evaluator.evaluate({rowMajor.data() + static_cast<size_t>(r) * numInputs, numInputs}, {out, numOutputs});
    });
}

PerCall fuzzylitePerCall(fl::Engine &engine, const InputRows &rows, int reps) {
    std::vector<fl::InputVariable *> inputs = engine.inputVariables();
    std::vector<fl::OutputVariable *> outputs = engine.outputVariables();
    return timePerCall(rows, outputs.size(), reps, [&](int64_t r, double *out) {
        for (size_t i = 0; i < inputs.size(); ++i)
            inputs[i]->setValue(rows.columnMajor[static_cast<size_t>(r + static_cast<int64_t>(i) * rows.numRows)]);
        engine.process();
        for (size_t o = 0; o < outputs.size(); ++o) out[o] = outputs[o]->getValue();
    });
}

// ---- Agreement.

// Distance in representable doubles; NaN against NaN is 0, NaN against a
// number is the largest distance.
uint64_t ulpDistance(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
    auto ordered = [](double v) {
        auto bits = std::bit_cast<int64_t>(v);
        return bits < 0 ? INT64_MIN - bits : bits;  // -0.0 and 0.0 both map to 0
    };
    int64_t x = ordered(a), y = ordered(b);
    return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y)
                 : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

// Ends the line: how far fuzzylite's outputs are from ours.
void printAgreement(const std::vector<double> &ours, const std::vector<double> &theirs, bool isMamdani) {
    uint64_t maxUlps = 0;
    double maxAbs = 0.0;
    int64_t numOverOneUlp = 0;
    for (size_t k = 0; k < ours.size(); ++k) {
        uint64_t d = ulpDistance(ours[k], theirs[k]);
        maxUlps = std::max(maxUlps, d);
        numOverOneUlp += d > 1 ? 1 : 0;
        if (!std::isnan(ours[k]) && !std::isnan(theirs[k])) maxAbs = std::max(maxAbs, std::fabs(ours[k] - theirs[k]));
    }
    if (isMamdani) {
        std::printf(" max_abs_diff=%.3g (different integration points)\n", maxAbs);
    } else {
        std::printf(" max_ulps=%llu values_over_1_ulp=%lld\n", static_cast<unsigned long long>(maxUlps),
                    static_cast<long long>(numOverOneUlp));
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_fuzzylite SYSTEM.json INPUTS.csv [REPS] [FUZZYLITE_REPS | --one-row]\n");
        return 2;
    }
    int reps = argc > 3 ? std::atoi(argv[3]) : 10;
    const bool isOneRow = argc > 4 && std::string(argv[4]) == "--one-row";
    int flReps = argc > 4 && !isOneRow ? std::atoi(argv[4]) : 3;
    if (reps < 1 || flReps < 1) {
        std::fprintf(stderr, "bench_fuzzylite: REPS and FUZZYLITE_REPS must be positive\n");
        return 2;
    }
    // fuzzylite skips a rule whose strength is within its tolerance of 0
    // and treats values that close as equal; ours does neither.
    fl::fuzzylite::setMachEps(0.0);
    try {
        fazolt::System system = fazolt::System::fromFile(argv[1]);
        InputRows rows = parseCsvRows(readWholeFile(argv[2]));
        if (rows.numRows == 0) throw std::runtime_error(std::string(argv[2]) + " holds no rows");
        std::unique_ptr<fl::Engine> engine = translate(system);
        bool isMamdani = textField(system.record(), "type") == "mamdani";

        if (isOneRow) {
            const PerCall ours = oursPerCall(system, rows, reps);
            const PerCall theirs = fuzzylitePerCall(*engine, rows, reps);
            const auto numCalls = static_cast<double>(ours.ns.size());
            const double oursMedian = median(ours.ns);
            const double theirMedian = median(theirs.ns);
            std::printf(
                "system=%s type=%s calls=%.0f ours_median_ns=%.1f ours_p99_ns=%.1f fuzzylite_median_ns=%.1f"
                " fuzzylite_p99_ns=%.1f ratio=%.1f ours_allocs_per_call=%.3g fuzzylite_allocs_per_call=%.3g",
                system.name().c_str(), isMamdani ? "mamdani" : "sugeno", numCalls, oursMedian, percentile99(ours.ns),
                theirMedian, percentile99(theirs.ns), theirMedian / oursMedian,
                static_cast<double>(ours.numAllocations) / numCalls,
                static_cast<double>(theirs.numAllocations) / numCalls);
            printAgreement(ours.outputs, theirs.outputs, isMamdani);
            return 0;
        }
        Times oursTimes, flTimes;
        std::vector<double> ours = timeOurs(system, rows, reps, oursTimes);
        std::vector<double> theirs = timeFuzzylite(*engine, rows, flReps, flTimes);

        std::printf(
            "system=%s type=%s rows=%lld ours_ns_row=%.1f fuzzylite_ns_row=%.1f ratio=%.2f"
            " ours_cpu_ns_row=%.1f fuzzylite_cpu_ns_row=%.1f cpu_ratio=%.2f",
            system.name().c_str(), isMamdani ? "mamdani" : "sugeno", static_cast<long long>(rows.numRows),
            oursTimes.wallNsPerRow, flTimes.wallNsPerRow, flTimes.wallNsPerRow / oursTimes.wallNsPerRow,
            oursTimes.cpuNsPerRow, flTimes.cpuNsPerRow, flTimes.cpuNsPerRow / oursTimes.cpuNsPerRow);
        printAgreement(ours, theirs, isMamdani);
    } catch (const orvane::HostError &e) {
        std::fprintf(stderr, "bench_fuzzylite: %s: %s\n", e.identifier().c_str(), e.message().c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_fuzzylite: %s\n", e.what());
        return 1;
    }
    return 0;
}
