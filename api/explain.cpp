// Explanations of one evaluation. Sections: reading the record, the probe
// system, explaining a row, curves and surfaces.
#include "fazolt/explain.h"
#include "common/errorBoundary.h"

#include "fazolt/formats.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

namespace fazolt {
namespace {

[[noreturn]] void refuse(const std::string &what) {
    throw orvane::HostError(ids::explainUnreadableRecord, "the system record's " + what);
}

// ---- Reading the record. The module has accepted it by the time these run
// (the constructor calls it first), so the relations between the counts hold;
// the checks here only keep a surprise from reading out of bounds.

orvane::Value field(const orvane::Value &s, const char *name, int64_t element = 0) {
    orvane::Value v = s.field(element, name);
    if (!v) refuse(std::string("field ") + name + " is missing");
    return v;
}

std::string text(const orvane::Value &record, const char *name) { return field(record, name).toText(); }

std::vector<double> numbers(const orvane::Value &record, const char *name, size_t atLeast) {
    std::vector<double> v = field(record, name).toDoubles();
    if (v.size() < atLeast) refuse(std::string(name) + " is too short");
    return v;
}

int count(const orvane::Value &record, const char *name) {
    double n = numbers(record, name, 1)[0];
    if (!(n >= 0 && n <= std::numeric_limits<int>::max())) refuse(std::string(name) + " is not a count");
    return static_cast<int>(n);
}

// Rule entries as the module reads them: |value| rounded, NaN not tested, the sign "not".
int termNumber(double entry) {
    if (std::isnan(entry)) return 0;
    double k = std::round(std::fabs(entry));
    if (k > std::numeric_limits<int>::max()) k = std::numeric_limits<int>::max();
    int magnitude = static_cast<int>(k);
    return entry < 0 ? -magnitude : magnitude;
}

std::vector<VariableInfo> readVariables(const orvane::Value &record, const char *mfField, const char *rangeField,
                                        const char *countField, int numVariables, const std::vector<std::string> &names,
                                        const std::vector<std::vector<std::string>> &termNames,
                                        const std::string &defaultName) {
    orvane::Value variables = field(record, mfField);
    std::vector<double> ranges = numbers(record, rangeField, 2 * static_cast<size_t>(numVariables));
    std::vector<double> counts = numbers(record, countField, static_cast<size_t>(numVariables));
    if (variables.numel() < numVariables) refuse(std::string(mfField) + " has too few variables");
    std::vector<VariableInfo> out(static_cast<size_t>(numVariables));
    for (int i = 0; i < numVariables; ++i) {
        VariableInfo &v = out[static_cast<size_t>(i)];
        size_t iu = static_cast<size_t>(i);
        v.name = iu < names.size() ? names[iu] : defaultName + std::to_string(i + 1);
        v.low = ranges[iu];
        v.high = ranges[iu + static_cast<size_t>(numVariables)];
        orvane::Value mfs = field(variables, "mf", i);
        int numTerms = static_cast<int>(counts[iu]);
        if (numTerms < 0 || numTerms > mfs.numel()) refuse(std::string(countField) + " exceeds the stored terms");
        for (int j = 0; j < numTerms; ++j) {
            TermInfo t;
            size_t ju = static_cast<size_t>(j);
            t.name =
                iu < termNames.size() && ju < termNames[iu].size() ? termNames[iu][ju] : "mf" + std::to_string(j + 1);
            std::string type = field(mfs, "type", j).toText();
            std::vector<double> params = field(mfs, "params", j).toDoubles();
            double typeLength = field(mfs, "origTypeLength", j).toDoubles().at(0);
            double paramLength = field(mfs, "origParamLength", j).toDoubles().at(0);
            t.type = type.substr(0, static_cast<size_t>(std::clamp(typeLength, 0.0, static_cast<double>(type.size()))));
            params.resize(static_cast<size_t>(std::clamp(paramLength, 0.0, static_cast<double>(params.size()))));
            t.params = params;
            v.terms.push_back(t);
        }
    }
    return out;
}

std::string clauseText(const VariableInfo &v, int term) {
    size_t k = static_cast<size_t>(std::abs(term));
    std::string termName = k <= v.terms.size() ? v.terms[k - 1].name : "mf" + std::to_string(k);
    return v.name + " is " + (term < 0 ? "not " : "") + termName;
}

}  // namespace

std::string ruleText(const SystemInfo &info, const RuleInfo &rule, const std::vector<double> *antecedentValues) {
    if (!antecedentValues) return rule.text;
    std::string values;
    for (size_t i = 0; i < rule.antecedent.size(); ++i) {
        if (rule.antecedent[i] == 0) continue;
        values += (values.empty() ? "" : ", ") + info.inputs[i].name + " " +
                  orvane::formatDouble((*antecedentValues)[i], false);
    }
    return values.empty() ? rule.text : rule.text + "  [" + values + "]";
}

std::vector<std::string> writtenRuleTexts(std::string_view descriptionJson) {
    nlohmann::json d = nlohmann::json::parse(descriptionJson, nullptr, false);
    std::vector<std::string> texts;
    if (!d.is_object() || d.contains("class") || !d.contains("rules") || !d["rules"].is_array()) return texts;
    for (const nlohmann::json &rule : d["rules"]) texts.push_back(rule.is_string() ? rule.get<std::string>() : "");
    return texts;
}

Explainer explainerFromFile(const std::string &path, const std::string &modulePath) {
    System system = System::fromFile(path, modulePath);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    // The file was read once already: a second failure only loses the written texts.
    std::vector<std::string> written;
    try {
        written = writtenRuleTexts(descriptionFromText(text.str(), formatOfPath(path), path));
    } catch (const orvane::HostError &) {
    }
    return Explainer(std::move(system), written);
}

namespace {

// The rule from its entries, tested inputs in input order.
std::string entriesText(const SystemInfo &info, const RuleInfo &rule) {
    std::string text = "if";
    bool first = true;
    for (size_t i = 0; i < rule.antecedent.size(); ++i) {
        if (rule.antecedent[i] == 0) continue;
        text += first ? " " : (rule.isAnd ? " and " : " or ");
        text += clauseText(info.inputs[i], rule.antecedent[i]);
        first = false;
    }
    if (first) text += " (no input tested)";
    text += " then";
    first = true;
    for (size_t o = 0; o < rule.consequent.size(); ++o) {
        if (rule.consequent[o] == 0) continue;
        text += first ? " " : " and ";
        text += clauseText(info.outputs[o], rule.consequent[o]);
        first = false;
    }
    if (first) text += " (no output)";
    if (!(rule.weight == 1.0)) text += " with " + orvane::formatDouble(rule.weight, false);
    return text;
}

}  // namespace

namespace {

SystemInfo readSystemInfo(const System &system, const std::vector<std::string> &writtenRules) {
    const orvane::Value &record = system.record();
    SystemInfo info;
    info.name = system.name();
    info.type = text(record, "type");
    info.isMamdani = info.type == "mamdani";
    info.andMethod = text(record, "andMethod");
    info.orMethod = text(record, "orMethod");
    info.impMethod = text(record, "impMethod");
    info.aggMethod = text(record, "aggMethod");
    info.defuzzMethod = text(record, "defuzzMethod");
    info.numSamples = count(record, "numSamples");
    int numInputs = count(record, "numInputs");
    int numOutputs = count(record, "numOutputs");
    int numRules = count(record, "numRules");
    info.inputs = readVariables(record, "inputMF", "inputRange", "numInputMFs", numInputs, system.inputNames(),
                                system.inputTermNames(), "input");
    info.outputs = readVariables(record, "outputMF", "outputRange", "numOutputMFs", numOutputs, system.outputNames(),
                                 system.outputTermNames(), "output");
    size_t nr = static_cast<size_t>(numRules);
    std::vector<double> antecedent = numbers(record, "antecedent", nr * static_cast<size_t>(numInputs));
    std::vector<double> consequent = numbers(record, "consequent", nr * static_cast<size_t>(numOutputs));
    std::vector<double> connection = numbers(record, "connection", nr);
    std::vector<double> weight = numbers(record, "weight", nr);
    for (size_t r = 0; r < nr; ++r) {
        RuleInfo rule;
        for (size_t i = 0; i < info.inputs.size(); ++i) rule.antecedent.push_back(termNumber(antecedent[r + i * nr]));
        for (size_t o = 0; o < info.outputs.size(); ++o) {
            double c = consequent[r + o * nr];
            // A Sugeno consequent keeps its sign when rounded; negatives are refused anyway.
            rule.consequent.push_back(info.isMamdani ? termNumber(c)
                                                     : (std::isnan(c) ? 0 : static_cast<int>(std::round(c))));
        }
        rule.isAnd = connection[r] == 1.0;  // only exactly 1 is AND
        rule.weight = weight[r];
        rule.text = r < writtenRules.size() && !writtenRules[r].empty() ? writtenRules[r] : entriesText(info, rule);
        info.rules.push_back(rule);
    }
    if (info.isMamdani) {
        size_t ns = static_cast<size_t>(info.numSamples);
        size_t no = info.outputs.size();
        std::vector<double> points = numbers(record, "outputSamplePoints", no * ns);
        info.samplePoints.assign(no, std::vector<double>(ns));
        for (size_t o = 0; o < no; ++o)
            for (size_t s = 0; s < ns; ++s) info.samplePoints[o][s] = points[o + s * no];
    }
    return info;
}

// ---- The probe system: the same variables and terms, one rule per input
// term (testing that term alone, so result 2 holds its degree) and one per
// output term (testing nothing). The latter fire with strength 1: every input
// untested under AND counts 1 and "prod" of ones is 1; prod implication then
// leaves 1 * degree, the output term itself, in result 3 (Mamdani), and the
// Sugeno level of the term lands in result 6. Built-in methods only, so that
// probing calls no host function beyond the membership functions themselves.

orvane::Value sameClassText(const orvane::Value &like, const std::string &text) {
    return like.className() == "char" ? orvane::Value::charRow(text) : orvane::Value::uint8Row(text);
}

orvane::Value probeRecord(const orvane::Value &record, const SystemInfo &info, size_t &numInputProbes) {
    orvane::Value probe = orvane::Value::structMatrix({1, 1}, systemRecordFieldNames());
    for (const std::string &name : systemRecordFieldNames()) probe.setField(0, name, record.field(0, name));
    size_t numInputs = info.inputs.size(), numOutputs = info.outputs.size();
    std::vector<std::pair<size_t, int>> inputRules, outputRules;
    for (size_t i = 0; i < numInputs; ++i)
        for (size_t j = 0; j < info.inputs[i].terms.size(); ++j) inputRules.push_back({i, static_cast<int>(j + 1)});
    for (size_t o = 0; o < numOutputs; ++o)
        for (size_t k = 0; k < info.outputs[o].terms.size(); ++k) outputRules.push_back({o, static_cast<int>(k + 1)});
    numInputProbes = inputRules.size();
    size_t numRules = inputRules.size() + outputRules.size();
    auto rows = static_cast<int64_t>(numRules);
    std::vector<double> antecedent(numRules * numInputs, 0.0), consequent(numRules * numOutputs, 0.0);
    for (size_t r = 0; r < inputRules.size(); ++r)
        antecedent[r + inputRules[r].first * numRules] = inputRules[r].second;
    for (size_t r = 0; r < outputRules.size(); ++r) {
        size_t row = inputRules.size() + r;
        consequent[row + outputRules[r].first * numRules] = outputRules[r].second;
    }
    probe.setField(0, "antecedent", orvane::Value::doubleMatrix(rows, static_cast<int64_t>(numInputs), antecedent));
    probe.setField(0, "consequent", orvane::Value::doubleMatrix(rows, static_cast<int64_t>(numOutputs), consequent));
    probe.setField(0, "connection", orvane::Value::doubleMatrix(rows, 1, std::vector<double>(numRules, 1.0)));
    probe.setField(0, "weight", orvane::Value::doubleMatrix(rows, 1, std::vector<double>(numRules, 1.0)));
    probe.setField(0, "numRules", orvane::Value::int32Scalar(static_cast<int32_t>(numRules)));
    orvane::Value like = record.field(0, "andMethod");
    probe.setField(0, "andMethod", sameClassText(like, "prod"));
    probe.setField(0, "orMethod", sameClassText(like, "max"));
    probe.setField(0, "impMethod", sameClassText(like, "prod"));
    probe.setField(0, "aggMethod", sameClassText(like, "max"));
    probe.setField(0, "defuzzMethod", sameClassText(like, info.isMamdani ? "centroid" : "wtaver"));
    int32_t columns = static_cast<int32_t>(info.isMamdani ? numRules * numOutputs : numOutputs);
    probe.setField(
        0, "orrSize",
        orvane::Value::int32Row({info.isMamdani ? info.numSamples : static_cast<int32_t>(numRules), columns}));
    return probe;
}

constexpr DiagnosticModes kSilent{REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING, REPORT_NOTHING};

Matrix oneRow(const std::vector<double> &row) {
    Matrix m = Matrix::zeros(1, static_cast<int64_t>(row.size()));
    m.data = row;
    return m;
}

}  // namespace

std::vector<double> evenlySpaced(double low, double high, int numPoints) {
    std::vector<double> x(static_cast<size_t>(std::max(numPoints, 1)), low);
    if (numPoints < 2) return x;
    double step = (high - low) / (numPoints - 1);
    for (int k = 1; k < numPoints; ++k) x[static_cast<size_t>(k)] = low + k * step;
    x.back() = high;  // low + (n-1)*step can miss high
    return x;
}

SetSummary summarizeSet(const std::vector<double> &samplePoints, const std::vector<double> &set) {
    SetSummary s;
    for (size_t k = 0; k < set.size() && k < samplePoints.size(); ++k) {
        if (std::isnan(set[k])) {
            ++s.numNaN;
            continue;
        }
        if (set[k] > s.height || (s.isEmpty && set[k] > 0)) s.height = set[k];
        if (set[k] > 0) {
            if (s.isEmpty) s.supportLow = samplePoints[k];
            s.supportHigh = samplePoints[k];
            s.isEmpty = false;
        }
    }
    return s;
}

// ---- Explaining a row.

Explainer::Explainer(System system, const std::vector<std::string> &writtenRules) try : system_(std::move(system)) {
    // The module checks the record first, so what follows reads a record it accepts.
    int numInputs = count(system_.record(), "numInputs");
    system_.evaluate(Matrix::zeros(0, numInputs), kSilent);
    info_ = readSystemInfo(system_, writtenRules);
    probe_ = System::fromRecord(probeRecord(system_.record(), info_, numInputProbes_));
    if (info_.isMamdani) {
        // The output terms do not depend on the inputs: any row in range will do.
        std::vector<double> row;
        for (const VariableInfo &v : info_.inputs) row.push_back(v.low);
        Evaluation e = probe(row);
        size_t ns = static_cast<size_t>(info_.numSamples), numRules = numInputProbes_;
        size_t probeRules = static_cast<size_t>(e.firingStrengths.rows);
        outputCurves_.resize(info_.outputs.size());
        for (size_t o = 0; o < info_.outputs.size(); ++o) {
            for (size_t k = 0; k < info_.outputs[o].terms.size(); ++k, ++numRules) {
                size_t column = o * probeRules + numRules;
                outputCurves_[o].emplace_back(e.ruleOutputs.data.begin() + static_cast<ptrdiff_t>(column * ns),
                                              e.ruleOutputs.data.begin() + static_cast<ptrdiff_t>((column + 1) * ns));
            }
        }
    }
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

Evaluation Explainer::probe(const std::vector<double> &row) const { return probe_.evaluate(oneRow(row), kSilent); }

Explanation Explainer::explain(const std::vector<double> &row, const DiagnosticModes &modes) const try {
    size_t numInputs = info_.inputs.size(), numOutputs = info_.outputs.size(), numRules = info_.rules.size();
    if (row.size() != numInputs) {
        throw orvane::HostError(ids::explainInputCount, "expected " + std::to_string(numInputs) +
                                                                 " input values, got " + std::to_string(row.size()));
    }
    Evaluation e = system_.evaluate(oneRow(row), modes);
    Evaluation p = probe(row);
    Explanation x;
    x.warnings = std::move(e.warnings);
    e.warnings.clear();
    size_t probeRow = 0;
    for (size_t i = 0; i < numInputs; ++i) {
        InputExplanation in;
        in.value = row[i];
        for (size_t j = 0; j < info_.inputs[i].terms.size(); ++j, ++probeRow)
            in.termDegrees.push_back(p.ruleInputValues.at(static_cast<int64_t>(probeRow), static_cast<int64_t>(i)));
        x.inputs.push_back(in);
    }
    size_t ns = static_cast<size_t>(info_.numSamples);
    for (size_t r = 0; r < numRules; ++r) {
        RuleExplanation rule;
        auto ri = static_cast<int64_t>(r);
        for (size_t i = 0; i < numInputs; ++i)
            rule.antecedentValues.push_back(e.ruleInputValues.at(ri, static_cast<int64_t>(i)));
        rule.firingStrength = e.firingStrengths.data.at(r);
        x.totalFiringStrength = x.totalFiringStrength + rule.firingStrength;
        for (size_t o = 0; o < numOutputs; ++o) {
            auto oi = static_cast<int64_t>(o);
            if (info_.isMamdani) {
                // Output o's rules form one block of columns; a record may give
                // result 3 more rows than sample points, which nothing writes.
                auto column = static_cast<ptrdiff_t>((o * numRules + r) * static_cast<size_t>(e.ruleOutputs.rows));
                rule.impliedSets.emplace_back(e.ruleOutputs.data.begin() + column,
                                              e.ruleOutputs.data.begin() + column + static_cast<ptrdiff_t>(ns));
            } else {
                rule.outputLevels.push_back(e.ruleOutputLevels.at(ri, oi));
                rule.weightedOutputs.push_back(e.ruleOutputs.at(ri, oi));
            }
        }
        x.rules.push_back(rule);
    }
    for (size_t o = 0; o < numOutputs; ++o) {
        OutputExplanation out;
        out.value = e.outputs.at(0, static_cast<int64_t>(o));
        if (info_.isMamdani) {
            out.aggregatedSet.assign(e.aggregatedOutputs.data.begin() + static_cast<ptrdiff_t>(o * ns),
                                     e.aggregatedOutputs.data.begin() + static_cast<ptrdiff_t>((o + 1) * ns));
        } else {
            out.sum = e.aggregatedOutputs.data.at(o);
            for (size_t k = 0; k < info_.outputs[o].terms.size(); ++k, ++probeRow)
                out.termLevels.push_back(
                    p.ruleOutputLevels.at(static_cast<int64_t>(probeRow), static_cast<int64_t>(o)));
        }
        x.outputs.push_back(out);
    }
    x.evaluation = std::move(e);
    return x;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

// ---- Curves and surfaces.

std::vector<std::vector<std::vector<double>>> Explainer::inputTermCurves(int numPoints) const {
    std::vector<std::vector<double>> xs;
    std::vector<std::vector<std::vector<double>>> curves(info_.inputs.size());
    for (size_t i = 0; i < info_.inputs.size(); ++i) {
        xs.push_back(evenlySpaced(info_.inputs[i].low, info_.inputs[i].high, numPoints));
        curves[i].assign(info_.inputs[i].terms.size(), std::vector<double>(static_cast<size_t>(numPoints)));
    }
    std::vector<double> row(info_.inputs.size());
    for (size_t k = 0; k < static_cast<size_t>(numPoints); ++k) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = xs[i][k];
        Evaluation p = probe(row);
        size_t probeRow = 0;
        for (size_t i = 0; i < row.size(); ++i)
            for (size_t j = 0; j < curves[i].size(); ++j, ++probeRow)
                curves[i][j][k] = p.ruleInputValues.at(static_cast<int64_t>(probeRow), static_cast<int64_t>(i));
    }
    return curves;
}

std::vector<std::vector<double>> Explainer::inputTermDegrees(size_t input, const std::vector<double> &xs) const {
    if (input >= info_.inputs.size())
        throw orvane::HostError("fazolt:explain:NoSuchInput", "input " + std::to_string(input + 1) + " does not exist");
    // The probe rules of earlier inputs' terms come first.
    size_t firstProbe = 0;
    for (size_t i = 0; i < input; ++i) firstProbe += info_.inputs[i].terms.size();
    std::vector<double> row;
    for (const VariableInfo &v : info_.inputs) row.push_back(v.low);
    std::vector<std::vector<double>> degrees;
    for (double x : xs) {
        row[input] = x;
        Evaluation p = probe(row);
        std::vector<double> at;
        for (size_t j = 0; j < info_.inputs[input].terms.size(); ++j)
            at.push_back(p.ruleInputValues.at(static_cast<int64_t>(firstProbe + j), static_cast<int64_t>(input)));
        degrees.push_back(std::move(at));
    }
    return degrees;
}

Explainer::Surface Explainer::surface(size_t x, size_t y, size_t output, const std::vector<double> &row, int resolution,
                                      const DiagnosticModes &modes) const try {
    size_t numInputs = info_.inputs.size();
    if (x >= numInputs || y >= numInputs || output >= info_.outputs.size() || row.size() != numInputs || resolution < 2)
        throw orvane::HostError(ids::explainBadSurface,
                                "a surface needs two inputs, an output, a full row and a resolution of at least 2");
    Surface s;
    s.xs = evenlySpaced(info_.inputs[x].low, info_.inputs[x].high, resolution);
    s.ys = evenlySpaced(info_.inputs[y].low, info_.inputs[y].high, resolution);
    size_t n = static_cast<size_t>(resolution);
    Matrix grid = Matrix::zeros(static_cast<int64_t>(n * n), static_cast<int64_t>(numInputs));
    for (size_t iy = 0; iy < n; ++iy) {
        for (size_t ix = 0; ix < n; ++ix) {
            auto r = static_cast<int64_t>(iy * n + ix);
            for (size_t i = 0; i < numInputs; ++i) grid.at(r, static_cast<int64_t>(i)) = row[i];
            grid.at(r, static_cast<int64_t>(x)) = s.xs[ix];
            grid.at(r, static_cast<int64_t>(y)) = s.ys[iy];
        }
    }
    Evaluation e = system_.evaluate(grid, modes);
    s.values.assign(e.outputs.data.begin() + static_cast<ptrdiff_t>(output * n * n),
                    e.outputs.data.begin() + static_cast<ptrdiff_t>((output + 1) * n * n));
    s.warnings = std::move(e.warnings);
    return s;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

// ---- JSON.

std::string jsonString(const std::string &text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace fazolt
