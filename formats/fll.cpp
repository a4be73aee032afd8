// fuzzylite's FLL to and from the nested description.
//
// Sections: lines, the reader's sections, the system from them, the writer.
#include "formats_model.h"

#include <cmath>
#include <optional>
#include <sstream>

namespace fazolt::formats {
namespace {

const NameTable FLL_TNORMS = {{"min", "Minimum"}, {"prod", "AlgebraicProduct"}, {"bdif", "BoundedDifference"}};
const NameTable FLL_SNORMS = {
    {"max", "Maximum"}, {"probor", "AlgebraicSum"}, {"bsum", "BoundedSum"}, {"sum", "UnboundedSum"}};

bool isFllName(const std::string &s) {
    if (s.empty() || s == "if" || s == "is" || s == "not" || s == "and" || s == "or" || s == "then" || s == "with" ||
        s == "very" || s == "somewhat" || s == "seldom" || s == "extremely" || s == "any") {
        return false;
    }
    if (!(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) return false;
    }
    return true;
}

// ---- The reader: one "key: value" per line, '#' starts a comment.

class FllReader {
public:
    FllReader(std::string_view text, std::string fileName) : text_(text), fileName_(std::move(fileName)) {}
    Model read();

private:
    Model readAll();
    struct Line {
        std::string key;
        std::string value;
        int number = 0;
    };
    struct VariableSection {
        Variable var;
        int line = 0;
        std::vector<std::pair<std::vector<std::string>, int>> terms;  // name Type params..., line
        std::string aggregation, defuzzifier;
        int aggregationLine = 0, defuzzifierLine = 0;
        std::optional<double> defaultValue;
        std::string defaultText, lowText, highText;
        int defaultLine = 0;
        bool hasRange = false;
    };

    [[noreturn]] void fail(int line, const std::string &construct, const std::string &what) const {
        throw orvane::HostError("fazolt:fll:Invalid",
                                printableText(fileName_ + ":" + std::to_string(line) + ": " + construct + ": " + what));
    }
    void mergeSetting(FileSetting &setting, const std::string &value, int line, const char *what) const {
        if (std::string clash = mergeFileSetting(setting, value, line); !clash.empty()) fail(line, what, clash);
    }
    std::vector<Line> lines();
    void requireFlag(const Line &l, const std::string &construct, const char *wanted, const std::string &why) const;
    double number(const std::string &text, int line, const std::string &construct) const;
    Term readTerm(const std::vector<std::string> &words, int line, const Variable &var, bool isOutput,
                  size_t numInputs);
    template <class Norm>
    void readDefuzzification(Model &m, bool isSugeno, const std::string &defuzzifier, int defuzzifierLine,
                             const std::string &aggregation, int aggregationLine, int firstOutputLine,
                             const Norm &norm);

    std::string_view text_;
    std::string fileName_;
    FileProblems problems_{"fazolt:fll:Invalid"};
};

const std::vector<std::string> FLL_SECTIONS = {"Engine", "InputVariable", "OutputVariable", "RuleBlock"};
const std::vector<std::string> FLL_VARIABLE_KEYS = {"description", "enabled", "range", "lock-range", "term"};
const std::vector<std::string> FLL_OUTPUT_KEYS = {"aggregation", "defuzzifier", "default", "lock-previous"};
const std::vector<std::string> FLL_RULE_BLOCK_KEYS = {"description", "enabled",    "conjunction", "disjunction",
                                                      "implication", "activation", "rule"};
const std::vector<std::string> FLL_DEFUZZIFIERS = {"Centroid",          "Bisector",         "MeanOfMaximum",
                                                   "SmallestOfMaximum", "LargestOfMaximum", "WeightedAverage",
                                                   "WeightedSum"};

std::vector<std::string> namesOf(const NameTable &table) {
    std::vector<std::string> names;
    for (const NamePair &p : table) names.push_back(p.theirs);
    return names;
}

std::string listed(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

// "not supported (A, B, C, or a registered function); did you mean "B"?"
std::string notOneOf(const std::string &word, const std::vector<std::string> &names) {
    return "not supported (" + listed(names) + ", or a registered function)" + closestNameSuggestion(word, names);
}

std::vector<std::string> fllTermTypes() {
    std::vector<std::string> names = {"Linear", "Discrete", "Ramp", "Rectangle"};
    for (const PeerShape &shape : peerShapes()) names.push_back(shape.peerName);
    return names;
}

std::vector<FllReader::Line> FllReader::lines() {
    std::vector<Line> out;
    int number = 0;
    size_t start = 0;
    while (start <= text_.size()) {
        size_t end = text_.find('\n', start);
        if (end == std::string_view::npos) end = text_.size();
        ++number;
        std::string line(text_.substr(start, end - start));
        start = end + 1;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            problems_.attempt(
                [&] { fail(number, "line", "expected \"key: value\", got \"" + line.substr(first) + "\""); });
            continue;
        }
        Line l;
        l.key = line.substr(first, colon - first);
        std::string value = line.substr(colon + 1);
        size_t v0 = value.find_first_not_of(" \t\r");
        size_t v1 = value.find_last_not_of(" \t\r");
        l.value = v0 == std::string::npos ? "" : value.substr(v0, v1 - v0 + 1);
        l.number = number;
        out.push_back(std::move(l));
        if (end == text_.size()) break;
    }
    return out;
}

void FllReader::requireFlag(const Line &l, const std::string &construct, const char *wanted,
                            const std::string &why) const {
    if (l.value != wanted) fail(l.number, construct + " " + l.key + ": " + l.value, why);
}

double FllReader::number(const std::string &text, int line, const std::string &construct) const {
    double v = 0.0;
    if (!parseNumber(text, v)) fail(line, construct, "expected a number, got \"" + text + "\"");
    return v;
}

Term FllReader::readTerm(const std::vector<std::string> &words, int line, const Variable &var, bool isOutput,
                         size_t numInputs) {
    if (words.size() < 2) fail(line, "term of " + var.name, "expected \"term: NAME TYPE PARAMETERS\"");
    std::string construct = "term " + words[0] + " of " + var.name;
    if (!isFllName(words[0])) fail(line, construct, "expected a name (letters, digits, _ and .)");
    Term t;
    t.name = words[0];
    const std::string &type = words[1];
    std::vector<double> values;
    for (size_t k = 2; k < words.size(); ++k) {
        values.push_back(number(words[k], line, construct));
        if (!std::isfinite(values.back())) fail(line, construct, "parameter " + words[k] + " is not a finite number");
    }
    const PeerShape *peer = peerShapeOfPeerName(type);
    if (type == "Linear") {
        if (!isOutput) fail(line, construct, "Linear is an output term");
        // fuzzylite adds the constant only when it is there.
        if (values.size() == numInputs) values.push_back(0.0);
        if (values.size() != numInputs + 1) {
            fail(line, construct,
                 "Linear takes " + std::to_string(numInputs + 1) +
                     " coefficients (one per input, then the constant, which may be left out), got " +
                     std::to_string(values.size()));
        }
        t.type = "linear";
        t.params = values;
    } else if (type == "Ramp" || type == "Rectangle") {
        if (std::string why = dropTermHeight(values, 2); !why.empty()) fail(line, construct, why);
        if (std::string why = termOfLineShape(type, values, t); !why.empty()) fail(line, construct, why);
    } else if (type == "Discrete") {
        // fuzzylite interpolates between the points as pointsmf does, and
        // holds the end values outside them; its rounding may differ.
        if (values.size() < 4 || values.size() % 2 != 0) fail(line, construct, "Discrete takes pairs x y, two or more");
        for (size_t k = 2; k < values.size(); k += 2) {
            if (values[k] < values[k - 2]) fail(line, construct, "the points' x must not decrease");
        }
        t.type = "pointsmf";
        t.params = values;
    } else if (peer != nullptr) {
        if (std::string(peer->ourType) != "constant") {
            if (std::string why = dropTermHeight(values, peer->peerOrder.size()); !why.empty())
                fail(line, construct, why);
        }
        if (values.size() != peer->peerOrder.size()) {
            fail(line, construct,
                 type + " takes " + std::to_string(peer->peerOrder.size()) + " parameters, got " +
                     std::to_string(values.size()));
        }
        t.type = peer->ourType;
        t.params = fromPeerOrder(*peer, values);
    } else if (isRegisteredFunction(type)) {
        t.type = type;  // a host function's parameters, in its own order
        t.params = values;
    } else {
        fail(line, construct,
             "term type " + type + " is not supported (nor a registered function)" +
                 closestNameSuggestion(type, fllTermTypes()));
    }
    return t;
}

Model FllReader::read() {
    // A problem that ends the reading joins those said before it.
    Model m;
    problems_.attempt([&] { m = readAll(); });
    problems_.raiseIfAny();
    return m;
}

Model FllReader::readAll() {
    std::vector<Line> all = lines();
    Model m;
    std::vector<VariableSection> inputs, outputs;
    FileSetting conjunction, disjunction, implication;
    std::vector<std::pair<std::string, int>> ruleTexts;
    enum class Section { None, Engine, Input, Output, RuleBlock } section = Section::None;
    bool hasEngine = false;
    std::string sectionName;
    for (const Line &l : all) {
        problems_.attempt([&] {
            if (l.key == "Engine") {
                if (hasEngine) fail(l.number, "Engine", "a second engine in one file");
                hasEngine = true;
                section = Section::Engine;
                m.name = l.value;
                return;
            }
            if (l.key == "InputVariable" || l.key == "OutputVariable") {
                bool isOutput = l.key == "OutputVariable";
                for (const std::vector<VariableSection> *vars : {&inputs, &outputs}) {
                    for (const VariableSection &v : *vars) {
                        if (v.var.name == l.value) fail(l.number, l.key + " " + l.value, "the name is used twice");
                    }
                }
                // The section opens even with a bad name, so that its lines are read as its own.
                VariableSection v;
                v.var.name = l.value;
                v.line = l.number;
                (isOutput ? outputs : inputs).push_back(v);
                section = isOutput ? Section::Output : Section::Input;
                sectionName = l.key + " " + l.value;
                if (!isFllName(l.value))
                    fail(l.number, l.key + " " + l.value, "expected a name (letters, digits, _ and .)");
                return;
            }
            if (l.key == "RuleBlock") {
                section = Section::RuleBlock;
                sectionName = "RuleBlock " + l.value;
                return;
            }
            if (l.key == "description") return;
            if (section == Section::Engine || section == Section::None) {
                fail(l.number, l.key,
                     (section == Section::None ? "outside any section" : "not supported in Engine") +
                         closestNameSuggestion(l.key, FLL_SECTIONS));
            }
            if (section == Section::Input || section == Section::Output) {
                bool isOutput = section == Section::Output;
                VariableSection &v = isOutput ? outputs.back() : inputs.back();
                if (l.key == "enabled") {
                    requireFlag(l, sectionName, "true", "a disabled variable is not supported");
                } else if (l.key == "range") {
                    v.hasRange = true;  // said once, if it is wrong
                    std::vector<std::string> w = splitWords(l.value);
                    if (w.size() != 2) fail(l.number, sectionName + " range", "expected two numbers");
                    v.var.low = number(w[0], l.number, sectionName + " range");
                    v.var.high = number(w[1], l.number, sectionName + " range");
                    v.lowText = w[0];
                    v.highText = w[1];
                    if (!std::isfinite(v.var.low) || !std::isfinite(v.var.high) || !(v.var.low < v.var.high)) {
                        fail(l.number, sectionName + " range", "expected finite ends, low below high");
                    }
                } else if (l.key == "lock-range") {
                    if (l.value != "true" && l.value != "false")
                        fail(l.number, sectionName + " lock-range: " + l.value, "expected true or false");
                    v.var.clamp = l.value == "true";  // bounded to the range, as fuzzylite does
                } else if (l.key == "term") {
                    v.terms.push_back({splitWords(l.value), l.number});
                } else if (isOutput && l.key == "aggregation") {
                    v.aggregation = l.value;
                    v.aggregationLine = l.number;
                } else if (isOutput && l.key == "defuzzifier") {
                    v.defuzzifier = l.value;
                    v.defuzzifierLine = l.number;
                } else if (isOutput && l.key == "default") {
                    v.defaultValue = number(l.value, l.number, sectionName + " default");
                    v.defaultText = l.value;
                    v.defaultLine = l.number;
                } else if (isOutput && l.key == "lock-previous") {
                    requireFlag(l, sectionName, "false", "rows are evaluated independently: there is no previous value");
                } else {
                    std::vector<std::string> known = FLL_VARIABLE_KEYS;
                    if (isOutput) known.insert(known.end(), FLL_OUTPUT_KEYS.begin(), FLL_OUTPUT_KEYS.end());
                    known.insert(known.end(), FLL_SECTIONS.begin(), FLL_SECTIONS.end());
                    fail(l.number, sectionName + " " + l.key, "not supported" + closestNameSuggestion(l.key, known));
                }
                return;
            }
            // RuleBlock
            if (l.key == "enabled") {
                requireFlag(l, sectionName, "true", "a disabled rule block is not supported");
            } else if (l.key == "conjunction") {
                mergeSetting(conjunction, l.value, l.number, "conjunction");
            } else if (l.key == "disjunction") {
                mergeSetting(disjunction, l.value, l.number, "disjunction");
            } else if (l.key == "implication") {
                mergeSetting(implication, l.value, l.number, "implication");
            } else if (l.key == "activation") {
                // General: every rule in order; the others pick or limit rules.
                if (l.value != "General" && l.value != "none")
                    fail(l.number, "activation " + l.value, "not supported (General only)");
            } else if (l.key == "rule") {
                ruleTexts.push_back({l.value, l.number});
            } else {
                std::vector<std::string> known = FLL_RULE_BLOCK_KEYS;
                known.insert(known.end(), FLL_SECTIONS.begin(), FLL_SECTIONS.end());
                fail(l.number, sectionName + " " + l.key, "not supported" + closestNameSuggestion(l.key, known));
            }
        });
    }
    for (VariableSection &v : inputs) {
        problems_.attempt([&] {
            if (!v.hasRange) fail(v.line, "InputVariable " + v.var.name, "missing range");
        });
        for (auto &[words, line] : v.terms) {
            bool isRead = problems_.attempt([&, &words = words, line = line] {
                Term t = readTerm(words, line, v.var, false, inputs.size());
                if (t.type == "constant")
                    fail(line, "term " + t.name + " of " + v.var.name, "Constant is an output term");
                for (const Term &other : v.var.terms) {
                    if (other.name == t.name)
                        fail(line, "term " + t.name + " of " + v.var.name, "a second term of this name");
                }
                v.var.terms.push_back(t);
            });
            // A term whose problem is said keeps its name, so that rules naming it say nothing more.
            if (!isRead && !words.empty()) v.var.terms.push_back({words[0], "", {}});
        }
        m.inputs.push_back(v.var);
    }
    if (outputs.empty()) {
        problems_.attempt([&] { fail(all.empty() ? 1 : all.back().number, "file", "no OutputVariable"); });
        problems_.raiseIfAny();
    }

    // Sugeno when the defuzzifier is a weighted one; all outputs alike.
    std::string defuzzifier;
    int defuzzifierLine = 0;
    int64_t resolution = -1;
    for (const VariableSection &v : outputs) {
        problems_.attempt([&] {
            std::vector<std::string> w = splitWords(v.defuzzifier);
            if (w.empty() || w[0] == "none") fail(v.line, "OutputVariable " + v.var.name, "missing defuzzifier");
            if (!defuzzifier.empty() && w[0] != defuzzifier) {
                fail(v.defuzzifierLine, "defuzzifier " + w[0],
                     "differs from " + defuzzifier + " on line " + std::to_string(defuzzifierLine) +
                         " (one method for the whole system)");
            }
            defuzzifier = w[0];
            defuzzifierLine = v.defuzzifierLine;
            bool isWeighted = w[0] == "WeightedAverage" || w[0] == "WeightedSum";
            if (isWeighted) {
                if (w.size() > 2 || (w.size() == 2 && w[1] != "Automatic" && w[1] != "TakagiSugeno")) {
                    fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier, "only the Takagi-Sugeno form is supported");
                }
            } else {
                int64_t r = 100;  // fuzzylite's own default
                if (w.size() > 2)
                    fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier, "expected a method and a resolution");
                if (w.size() == 2) {
                    double d = number(w[1], v.defuzzifierLine, "defuzzifier " + v.defuzzifier);
                    if (!(d >= 2 && d <= 1e6 && d == std::trunc(d))) {
                        fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier,
                             "the resolution must be a whole number from 2 to 1000000");
                    }
                    r = static_cast<int64_t>(d);
                }
                if (resolution >= 0 && r != resolution) {
                    fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier,
                         "every output needs the same resolution (one sample count)");
                }
                resolution = r;
            }
        });
    }
    bool isSugeno = defuzzifier == "WeightedAverage" || defuzzifier == "WeightedSum";
    m.type = isSugeno ? "sugeno" : "mamdani";
    setDefaultMethods(m);
    if (resolution >= 0) m.numSamples = resolution;

    std::string aggregation;
    int aggregationLine = 0;
    for (VariableSection &v : outputs) {
        std::string construct = "OutputVariable " + v.var.name;
        problems_.attempt([&] {
            if (!v.hasRange) fail(v.line, construct, "missing range");
        });
        for (auto &[words, line] : v.terms) {
            bool isRead = problems_.attempt([&, &words = words, line = line] {
                Term t = readTerm(words, line, v.var, true, inputs.size());
                bool isSugenoTerm = t.type == "constant" || t.type == "linear";
                if (isSugenoTerm != isSugeno) {
                    fail(line, "term " + t.name + " of " + v.var.name,
                         isSugeno ? "a weighted defuzzifier takes Constant and Linear terms only"
                                  : "Constant and Linear terms need WeightedAverage or WeightedSum");
                }
                for (const Term &other : v.var.terms) {
                    if (other.name == t.name)
                        fail(line, "term " + t.name + " of " + v.var.name, "a second term of this name");
                }
                v.var.terms.push_back(t);
            });
            if (!isRead && !words.empty()) v.var.terms.push_back({words[0], "", {}});
        }
        if (v.defaultValue && !isRangeMidpoint(v.defaultText, *v.defaultValue, v.lowText, v.highText, v.var.low,
                                               v.var.high)) {
            m.warnings.push_back({"fazolt:fll:Default", fileName_ + ":" + std::to_string(v.defaultLine) + ": " +
                                                            construct + " default: " +
                                                            defaultWarning(v.defaultText, v.var.low, v.var.high)});
        }
        problems_.attempt([&] {
            if (!isSugeno && !aggregation.empty() && v.aggregation != aggregation) {
                fail(v.aggregationLine, construct + " aggregation",
                     "differs from " + aggregation + " on line " + std::to_string(aggregationLine) +
                         " (one method for the whole system)");
            }
        });
        aggregation = v.aggregation;
        aggregationLine = v.aggregationLine;
        m.outputs.push_back(v.var);
    }
    auto norm = [&](const FileSetting &setting, const char *key, bool isTNorm) {
        std::string ours = ourName(isTNorm ? FLL_TNORMS : FLL_SNORMS, setting.value);
        if (ours.empty() && isRegisteredFunction(setting.value)) ours = setting.value;
        if (ours.empty()) {
            fail(setting.line, std::string(key) + " " + setting.value,
                 notOneOf(setting.value, namesOf(isTNorm ? FLL_TNORMS : FLL_SNORMS)));
        }
        return ours;
    };
    problems_.attempt([&] {
        if (!conjunction.value.empty() && conjunction.value != "none")
            m.andMethod = norm(conjunction, "conjunction", true);
    });
    problems_.attempt([&] {
        if (!disjunction.value.empty() && disjunction.value != "none")
            m.orMethod = norm(disjunction, "disjunction", false);
    });
    problems_.attempt([&] {
        if (!implication.value.empty() && implication.value != "none") {
            m.impMethod = norm(implication, "implication", true);
            if (m.impMethod == "bdif")
                fail(implication.line, "implication " + implication.value, "not supported (Minimum, AlgebraicProduct)");
        } else if (!isSugeno) {
            fail(implication.line > 0 ? implication.line : 1, "implication", "a Mamdani system needs one");
        }
    });
    // A missing defuzzifier is said above.
    if (!defuzzifier.empty()) problems_.attempt([&] { readDefuzzification(m, isSugeno, defuzzifier, defuzzifierLine, aggregation,
                                                aggregationLine, outputs.front().line, norm); });
    for (const auto &[text, line] : ruleTexts) {
        int ruleLine = line;
        auto failRule = [&](const std::string &what) { fail(ruleLine, "rule", what); };
        problems_.attempt([&, &text = text] { m.rules.push_back(parseRuleWords(splitWords(text), m, false, failRule)); });
    }
    // Only about rules that were all read.
    problems_.raiseIfAny();
    size_t badRule = 0;
    if (std::string why = sugenoRuleMissingOutput(m, badRule); !why.empty()) fail(ruleTexts[badRule].second, "rule", why);
    return m;
}

template <class Norm>
void FllReader::readDefuzzification(Model &m, bool isSugeno, const std::string &defuzzifier, int defuzzifierLine,
                                    const std::string &aggregation, int aggregationLine, int firstOutputLine,
                                    const Norm &norm) {
    if (isSugeno) {
        // fuzzylite's weighted average and sum run over the rules whatever
        // the output's aggregation, as ours do: it is not read.
        m.defuzzMethod = defuzzifier == "WeightedAverage" ? "wtaver" : "wtsum";
    } else {
        if (aggregation.empty() || aggregation == "none")
            fail(firstOutputLine, "aggregation", "a Mamdani output needs one");
        m.aggMethod = norm({aggregation, aggregationLine}, "aggregation", false);
        if (defuzzifier == "Centroid") {
            m.defuzzMethod = "centroid";
        } else if (defuzzifier == "Bisector") {
            m.defuzzMethod = "bisector";
        } else if (defuzzifier == "MeanOfMaximum") {
            m.defuzzMethod = "firstmom";  // the middle of the first plateau, not mom's mean of every maximum
        } else if (defuzzifier == "SmallestOfMaximum" || defuzzifier == "LargestOfMaximum") {
            bool isLeftmost = defuzzifier == "SmallestOfMaximum";
            for (size_t o = 0; o < m.outputs.size(); ++o) {
                std::string ours = methodForMaximumSide(isLeftmost, m.outputs[o].low, m.outputs[o].high);
                if (ours.empty() || (o > 0 && ours != m.defuzzMethod)) {
                    fail(defuzzifierLine, "defuzzifier " + defuzzifier,
                         "ours picks the maximum nearest to or farthest from 0, the same only on ranges of one sign");
                }
                m.defuzzMethod = ours;
            }
        } else if (isRegisteredFunction(defuzzifier)) {
            m.defuzzMethod = defuzzifier;
        } else {
            fail(defuzzifierLine, "defuzzifier " + defuzzifier, notOneOf(defuzzifier, FLL_DEFUZZIFIERS));
        }
    }
}

// ---- The writer.

[[noreturn]] void refuse(const std::string &what) { throw orvane::HostError("fazolt:fll:Unsupported", what); }

std::string peerName(const std::string &method, const char *key, bool isTNorm) {
    std::string name = theirName(isTNorm ? FLL_TNORMS : FLL_SNORMS, method);
    if (name.empty()) refuse(std::string(key) + ": method \"" + method + "\" has no FLL form");
    return name;
}

std::string termLine(const Term &t, const std::string &varName) {
    std::string where = "term " + t.name + " of " + varName;
    if (!isFllName(t.name)) refuse(where + ": not an FLL name");
    for (double v : t.params) {
        if (!std::isfinite(v)) refuse(where + ": parameter " + numberText(v) + " is not a finite number");
    }
    std::string text = "  term: " + t.name + " ";
    if (t.type == "linear" || t.type == "pointsmf") {
        text += t.type == "linear" ? "Linear" : "Discrete";
        for (double v : t.params) {
            text += ' ';
            text += numberText(v);
        }
        return text + "\n";
    }
    const PeerShape *peer = peerShapeOfOurType(t.type);
    if (peer == nullptr) refuse(where + ": membership function \"" + t.type + "\" has no FLL form");
    text += peer->peerName;
    for (double v : toPeerOrder(*peer, t.params)) text += " " + numberText(v);
    return text + "\n";
}

}  // namespace

Model modelFromFll(std::string_view text, const std::string &fileName) { return FllReader(text, fileName).read(); }

std::string modelToFll(const Model &m) {
    bool isSugeno = !m.isMamdani();
    std::string defuzzifier;
    if (m.defuzzMethod == "centroid") defuzzifier = "Centroid";
    if (m.defuzzMethod == "bisector") defuzzifier = "Bisector";
    if (m.defuzzMethod == "firstmom") defuzzifier = "MeanOfMaximum";
    if (m.defuzzMethod == "mom") {
        refuse("defuzzMethod \"mom\": the mean of every maximum point; fuzzylite's MeanOfMaximum is the middle of "
               "the first plateau (\"firstmom\")");
    }
    if (m.defuzzMethod == "wtaver") defuzzifier = "WeightedAverage";
    if (m.defuzzMethod == "wtsum") defuzzifier = "WeightedSum";
    if (isSugeno != (m.defuzzMethod == "wtaver" || m.defuzzMethod == "wtsum")) {
        refuse("defuzzMethod \"" + m.defuzzMethod + "\" in a " + m.type + " system has no FLL form");
    }
    if (isSugeno && m.numSamples != 101) {
        refuse("numSamples " + std::to_string(m.numSamples) +
               ": a Sugeno system in FLL has no sample count, and a reader takes 101");
    }
    if (isSugeno && m.aggMethod != "sum") {
        refuse("aggMethod \"" + m.aggMethod + "\": a weighted defuzzifier in FLL runs over the rules, as \"sum\" does");
    }
    if (m.name.find_first_of("\n\r#") != std::string::npos ||
        m.name != m.name.substr(0, m.name.find_last_not_of(" \t") + 1)) {
        refuse("name \"" + m.name + "\": not an FLL name");
    }
    size_t badRule = 0;
    if (std::string why = sugenoRuleMissingOutput(m, badRule); !why.empty())
        refuse("rules[" + std::to_string(badRule) + "]: " + why);
    std::string out = "Engine: " + m.name + "\n";
    for (size_t side = 0; side < 2; ++side) {
        for (const Variable &v : side == 0 ? m.inputs : m.outputs) {
            if (!isFllName(v.name)) refuse("variable \"" + v.name + "\": not an FLL name");
            if (!std::isfinite(v.low) || !std::isfinite(v.high) || !(v.low < v.high)) {
                refuse("range of " + v.name + ": FLL needs finite ends, low below high");
            }
            out += side == 0 ? "InputVariable: " : "OutputVariable: ";
            out += v.name + "\n  enabled: true\n  range: " + numberText(v.low) + " " + numberText(v.high) +
                   "\n  lock-range: " + (v.clamp ? "true" : "false") + "\n";
            if (side == 1) {
                std::string methodName = defuzzifier;
                if (m.defuzzMethod == "som" || m.defuzzMethod == "lom") {
                    std::string s = maximumSideOfMethod(m.defuzzMethod, v.low, v.high);
                    if (s.empty())
                        refuse("defuzzMethod \"" + m.defuzzMethod +
                               "\": picks by magnitude, which is a side of the set only on ranges of one sign");
                    methodName = s == "leftmost" ? "SmallestOfMaximum" : "LargestOfMaximum";
                }
                if (methodName.empty()) refuse("defuzzMethod \"" + m.defuzzMethod + "\" has no FLL form");
                out +=
                    "  aggregation: " + (isSugeno ? std::string("none") : peerName(m.aggMethod, "aggMethod", false)) +
                    "\n";
                out += "  defuzzifier: " + methodName +
                       (isSugeno ? std::string() : " " + std::to_string(m.numSamples)) + "\n";
                out += "  default: " + numberText((v.high + v.low) / 2.0) + "\n  lock-previous: false\n";
            }
            for (const Term &t : v.terms) {
                if ((t.type == "constant" || t.type == "linear") != (side == 1 && isSugeno)) {
                    refuse("term " + t.name + " of " + v.name + ": \"" + t.type + "\" has no FLL form here");
                }
                out += termLine(t, v.name);
            }
        }
    }
    out += "RuleBlock: rules\n  enabled: true\n";
    out += "  conjunction: " + peerName(m.andMethod, "andMethod", true) + "\n";
    out += "  disjunction: " + peerName(m.orMethod, "orMethod", false) + "\n";
    std::string implication = peerName(m.impMethod, "impMethod", true);
    if (implication == "BoundedDifference") refuse("impMethod \"bdif\" has no FLL form");
    // A Sugeno system reads no implication on either side; "none" stands for
    // our default there.
    if (isSugeno && m.impMethod == "prod") implication = "none";
    out += "  implication: " + implication + "\n  activation: General\n";
    for (size_t k = 0; k < m.rules.size(); ++k) {
        std::string where = "rules[" + std::to_string(k) + "]: ";
        std::string text =
            ruleWords(m.rules[k], m, false, [&](const std::string &why) { refuse(where + why + " has no FLL form"); });
        out += "  rule: " + text + "\n";
    }
    return out;
}

}  // namespace fazolt::formats
