// The description written as JSON text, in the tool's layout, and the rule
// words that the JSON, FCL and FLL writers share.
#include "description/systemDescription.h"

#include <cmath>

namespace fazolt {
namespace {

// A word of a text rule: no blanks, and none of the rule's keywords.
bool isRuleWord(const std::string &s) {
    if (s.empty() || s == "if" || s == "is" || s == "not" || s == "and" || s == "or" || s == "then" || s == "with") {
        return false;
    }
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool isTermIndex(double entry, size_t numTerms) {
    return std::isfinite(entry) && entry == std::trunc(entry) && std::fabs(entry) <= static_cast<double>(numTerms);
}

std::string numbersText(const std::vector<double> &values) {
    std::string text = "[";
    for (size_t k = 0; k < values.size(); ++k) text += (k > 0 ? ", " : "") + numberText(values[k]);
    return text + "]";
}

// One variable per block, one term per line, as people write them.
std::string variablesText(const std::vector<VariableDescription> &vars) {
    std::string text = "[";
    for (size_t i = 0; i < vars.size(); ++i) {
        const VariableDescription &v = vars[i];
        text += (i > 0 ? ",\n    " : "\n    ") + std::string("{\"name\": ") + jsonString(v.name) +
                ", \"range\": " + numbersText({v.low, v.high}) + (v.clamp ? ", \"clamp\": true" : "") +
                (v.defaultValue ? ", \"default\": " + (std::isnan(*v.defaultValue) ? std::string("\"nan\"")
                                                                                   : numberText(*v.defaultValue))
                                : std::string()) +
                ", \"mf\": [";
        for (size_t j = 0; j < v.terms.size(); ++j) {
            const TermInfo &t = v.terms[j];
            text += (j > 0 ? ",\n      " : "\n      ") + std::string("{\"name\": ") + jsonString(t.name) +
                    ", \"type\": " + jsonString(t.type) + ", \"params\": " + numbersText(t.params) + "}";
        }
        text += "]}";
    }
    return text + "\n  ]";
}

}  // namespace

std::string ruleText(const RuleDescription &rule, const SystemDescription &m) {
    struct Inexpressible {};
    for (size_t side = 0; side < 2; ++side) {
        const std::vector<double> &entries = side == 0 ? rule.antecedent : rule.consequent;
        const std::vector<VariableDescription> &vars = side == 0 ? m.inputs : m.outputs;
        for (size_t k = 0; k < entries.size(); ++k) {
            if (entries[k] == 0.0) continue;
            if (!isTermIndex(entries[k], vars[k].terms.size()) || !isRuleWord(vars[k].name)) return "";
            if (!isRuleWord(vars[k].terms[static_cast<size_t>(std::fabs(entries[k])) - 1].name)) return "";
        }
    }
    try {
        return ruleWords(rule, m, true, [](const std::string &) { throw Inexpressible{}; });
    } catch (const Inexpressible &) {
        return "";
    }
}

std::string numberText(double v) { return orvane::formatDouble(v, false); }

std::string ruleWords(const RuleDescription &rule, const SystemDescription &m, bool mayNegateConclusion,
                      const std::function<void(const std::string &)> &refuse, const TermWords &termWords) {
    if (rule.connection != 1.0 && rule.connection != 2.0) {
        refuse("connection " + numberText(rule.connection) + " (the languages have and and or only)");
    }
    std::string text = "if";
    bool isFirst = true;
    for (size_t side = 0; side < 2; ++side) {
        const std::vector<double> &entries = side == 0 ? rule.antecedent : rule.consequent;
        const std::vector<VariableDescription> &vars = side == 0 ? m.inputs : m.outputs;
        if (side == 1) {
            if (isFirst) refuse("a rule without conditions");
            text += " then";
            isFirst = true;
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            double e = entries[i];
            if (e == 0.0) continue;
            if (!(std::isfinite(e) && e == std::trunc(e)))
                refuse("term index " + numberText(e) + " is not a whole number");
            if (side == 1 && e < 0.0 && !mayNegateConclusion) {
                refuse("a negated conclusion (fuzzylite negates the activation degree, we the set)");
            }
            text += isFirst ? " " : side == 1 || rule.connection == 1.0 ? " and " : " or ";
            isFirst = false;
            const TermInfo &term = vars[i].terms[static_cast<size_t>(std::fabs(e)) - 1];
            std::string spelt = termWords ? termWords(vars[i], term) : "";
            text += vars[i].name + (e < 0.0 ? " is not " : " is ") + (spelt.empty() ? term.name : spelt);
        }
    }
    if (isFirst) refuse("a rule without conclusions");
    if (rule.weight != 1.0) text += " with " + numberText(rule.weight);
    return text;
}

std::string descriptionToJson(const SystemDescription &m) {
    std::string text = "{\n  \"name\": " + jsonString(m.name) + ",\n  \"type\": " + jsonString(m.type) + ",\n";
    const std::pair<const char *, const std::string *> methods[] = {{"andMethod", &m.andMethod},
                                                                    {"orMethod", &m.orMethod},
                                                                    {"impMethod", &m.impMethod},
                                                                    {"aggMethod", &m.aggMethod},
                                                                    {"defuzzMethod", &m.defuzzMethod}};
    for (const auto &[key, value] : methods) text += "  \"" + std::string(key) + "\": " + jsonString(*value) + ",\n";
    text += "  \"numSamples\": " + std::to_string(m.numSamples) + ",\n";
    text += "  \"inputs\": " + variablesText(m.inputs) + ",\n  \"outputs\": " + variablesText(m.outputs) + ",\n";
    text += "  \"rules\": [";
    for (size_t k = 0; k < m.rules.size(); ++k) {
        const RuleDescription &rule = m.rules[k];
        std::string ruleAsText = ruleText(rule, m);
        text += k > 0 ? ",\n    " : "\n    ";
        if (!ruleAsText.empty()) {
            text += jsonString(ruleAsText);
        } else {
            text += "{\"antecedent\": " + numbersText(rule.antecedent) +
                    ", \"consequent\": " + numbersText(rule.consequent) +
                    ", \"connection\": " + numberText(rule.connection) + ", \"weight\": " + numberText(rule.weight) +
                    "}";
        }
    }
    return text + (m.rules.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

}  // namespace fazolt
