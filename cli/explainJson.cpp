// Explanations and systems as JSON, for the tool's explain --format json and
// its browser page.
#include "cli/explainJson.h"

#include <nlohmann/json.hpp>

namespace fazolt {

std::string jsonNumber(double v) { return orvane::formatDouble(v, true); }

namespace {

std::string jsonNumbers(const std::vector<double> &v) {
    std::string out = "[";
    for (size_t k = 0; k < v.size(); ++k) {
        if (k > 0) out += ",";
        out += jsonNumber(v[k]);
    }
    return out + "]";
}

template <typename T, typename F>
std::string jsonList(const std::vector<T> &items, F &&each) {
    std::string out = "[";
    for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) out += ",";
        out += each(items[k], k);
    }
    return out + "]";
}

std::string jsonInts(const std::vector<int> &v) {
    return jsonList(v, [](int x, size_t) { return std::to_string(x); });
}

std::string variablesJson(const std::vector<VariableInfo> &vars) {
    return jsonList(vars, [](const VariableInfo &v, size_t) {
        return "{\"name\":" + jsonString(v.name) + ",\"range\":[" + jsonNumber(v.low) + "," + jsonNumber(v.high) +
               "],\"terms\":" +
               jsonList(v.terms,
                        [](const TermInfo &t, size_t) {
                            return "{\"name\":" + jsonString(t.name) + ",\"type\":" + jsonString(t.type) +
                                   ",\"params\":" + jsonNumbers(t.params) + "}";
                        }) +
               "}";
    });
}

std::string warningsJson(const std::vector<Warning> &warnings) {
    return jsonList(warnings, [](const Warning &w, size_t) {
        return "{\"identifier\":" + jsonString(w.identifier) + ",\"message\":" + jsonString(w.message) + "}";
    });
}

}  // namespace

std::string systemInfoToJson(const SystemInfo &info, const std::vector<std::vector<std::vector<double>>> &inputCurves,
                             const std::vector<std::vector<double>> &inputCurvePoints,
                             const std::vector<std::vector<std::vector<double>>> &outputCurves) {
    auto curves = [](const std::vector<std::vector<std::vector<double>>> &c) {
        return jsonList(c, [](const std::vector<std::vector<double>> &terms, size_t) {
            return jsonList(terms, [](const std::vector<double> &t, size_t) { return jsonNumbers(t); });
        });
    };
    return "{\"name\":" + jsonString(info.name) + ",\"type\":" + jsonString(info.type) +
           ",\"isMamdani\":" + (info.isMamdani ? "true" : "false") + ",\"andMethod\":" + jsonString(info.andMethod) +
           ",\"orMethod\":" + jsonString(info.orMethod) + ",\"impMethod\":" + jsonString(info.impMethod) +
           ",\"aggMethod\":" + jsonString(info.aggMethod) + ",\"defuzzMethod\":" + jsonString(info.defuzzMethod) +
           ",\"numSamples\":" + std::to_string(info.numSamples) + ",\"inputs\":" + variablesJson(info.inputs) +
           ",\"outputs\":" + variablesJson(info.outputs) + ",\"rules\":" +
           jsonList(info.rules,
                    [](const RuleInfo &r, size_t) {
                        return "{\"text\":" + jsonString(r.text) + ",\"antecedent\":" + jsonInts(r.antecedent) +
                               ",\"consequent\":" + jsonInts(r.consequent) +
                               ",\"connection\":" + (r.isAnd ? "\"and\"" : "\"or\"") +
                               ",\"weight\":" + jsonNumber(r.weight) + "}";
                    }) +
           ",\"samplePoints\":" +
           jsonList(info.samplePoints, [](const std::vector<double> &p, size_t) { return jsonNumbers(p); }) +
           ",\"inputCurvePoints\":" +
           jsonList(inputCurvePoints, [](const std::vector<double> &p, size_t) { return jsonNumbers(p); }) +
           ",\"inputCurves\":" + curves(inputCurves) + ",\"outputCurves\":" + curves(outputCurves) + "}";
}

std::string explanationToJson(const SystemInfo &info, const Explanation &e, bool withImpliedSets) {
    std::string inputs = jsonList(e.inputs, [&](const InputExplanation &in, size_t i) {
        const VariableInfo &v = info.inputs[i];
        return "{\"name\":" + jsonString(v.name) + ",\"value\":" + jsonNumber(in.value) + ",\"terms\":" +
               jsonList(in.termDegrees,
                        [&](double d, size_t j) {
                            return "{\"name\":" + jsonString(v.terms[j].name) + ",\"degree\":" + jsonNumber(d) + "}";
                        }) +
               "}";
    });
    std::string rules = jsonList(e.rules, [&](const RuleExplanation &r, size_t k) {
        std::string out = "{\"index\":" + std::to_string(k + 1) + ",\"text\":" + jsonString(info.rules[k].text) +
                          ",\"antecedent\":" + jsonInts(info.rules[k].antecedent) +
                          ",\"consequent\":" + jsonInts(info.rules[k].consequent) +
                          ",\"antecedentValues\":" + jsonNumbers(r.antecedentValues) +
                          ",\"firingStrength\":" + jsonNumber(r.firingStrength);
        if (info.isMamdani) {
            if (withImpliedSets)
                out += ",\"impliedSets\":" +
                       jsonList(r.impliedSets, [](const std::vector<double> &s, size_t) { return jsonNumbers(s); });
        } else {
            out += ",\"outputLevels\":" + jsonNumbers(r.outputLevels) +
                   ",\"weightedOutputs\":" + jsonNumbers(r.weightedOutputs);
        }
        return out + "}";
    });
    std::string outputs = jsonList(e.outputs, [&](const OutputExplanation &out, size_t o) {
        std::string s = "{\"name\":" + jsonString(info.outputs[o].name) + ",\"method\":" + jsonString(info.defuzzMethod) +
                        ",\"value\":" + jsonNumber(out.value);
        if (info.isMamdani) {
            SetSummary sum = summarizeSet(info.samplePoints[o], out.aggregatedSet);
            s += ",\"summary\":{\"isEmpty\":" + std::string(sum.isEmpty ? "true" : "false") +
                 ",\"height\":" + jsonNumber(sum.height) + ",\"support\":[" + jsonNumber(sum.supportLow) + "," +
                 jsonNumber(sum.supportHigh) + "],\"numNaN\":" + std::to_string(sum.numNaN) + "}";
            s += ",\"aggregatedSet\":" + jsonNumbers(out.aggregatedSet);
        } else {
            s += ",\"sum\":" + jsonNumber(out.sum) + ",\"termLevels\":" + jsonNumbers(out.termLevels);
        }
        return s + "}";
    });
    return "{\"system\":" + jsonString(info.name) + ",\"type\":" + jsonString(info.type) + ",\"inputs\":" + inputs +
           ",\"rules\":" + rules + ",\"totalFiringStrength\":" + jsonNumber(e.totalFiringStrength) +
           ",\"outputs\":" + outputs + ",\"warnings\":" + warningsJson(e.warnings) + "}";
}

}  // namespace fazolt
