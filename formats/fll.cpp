// fuzzylite's FLL to and from the nested description.
//
// Sections: lines, the reader's sections, the system from them, the writer.
#include "builtins/shapesAndHedges.h"
#include "formats/languages.h"

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
    SystemDescription read();

private:
    struct Line {
        std::string key;
        std::string value;
        int number = 0;
    };
    struct VariableSection {
        VariableDescription var;
        int line = 0;
        std::vector<std::pair<std::vector<std::string>, int>> terms;  // name Type params..., line
        std::string aggregation, defuzzifier;
        int aggregationLine = 0, defuzzifierLine = 0;
        std::optional<double> defaultValue;
        int defaultLine = 0;
        bool hasRange = false;
    };
    enum class Section { None, Engine, Input, Output, RuleBlock };

    [[noreturn]] void fail(int line, const std::string &construct, const std::string &what) const {
        throw orvane::HostError("fazolt:fll:Invalid",
                                printableText(fileName_ + ":" + std::to_string(line) + ": " + construct + ": " + what));
    }
    void mergeSetting(FileSetting &setting, const std::string &value, int line, const std::string &what,
                      const char *kind = "setting") const {
        if (std::string clash = mergeFileSetting(setting, value, line, kind); !clash.empty()) fail(line, what, clash);
    }
    std::vector<Line> lines();
    void requireFlag(const Line &l, const std::string &construct, const char *wanted, const std::string &why) const;
    double number(const std::string &text, int line, const std::string &construct) const;

    // The sections, a line at a time.
    SystemDescription readAll();
    void readLine(const Line &l);
    bool readSectionStart(const Line &l);
    void readVariableLine(const Line &l, VariableSection &v, bool isOutput);
    void readRuleBlockLine(const Line &l);
    // The system from them.
    void finishInputs(SystemDescription &m);
    void readDefuzzifiers();
    void finishOutputs(SystemDescription &m, bool isSugeno);
    void readTerms(VariableSection &v, bool isOutput, const std::function<void(const TermInfo &, int line)> &check);
    TermInfo readTerm(const std::vector<std::string> &words, int line, const VariableDescription &var, bool isOutput,
                  size_t numInputs);
    std::string norm(const FileSetting &setting, const char *key, bool isTNorm) const;
    void readNorms(SystemDescription &m, bool isSugeno);
    void readDefuzzification(SystemDescription &m, bool isSugeno);
    void readRules(SystemDescription &m);

    std::string_view text_;
    std::string fileName_;
    FileProblems problems_{"fazolt:fll:Invalid"};
    Section section_ = Section::None;
    std::string sectionName_;
    bool hasEngine_ = false;
    std::string engineName_;
    std::vector<VariableSection> inputs_, outputs_;
    FileSetting conjunction_, disjunction_, implication_;
    FileSetting defuzzifier_, aggregation_;  // one for the whole system
    int64_t resolution_ = -1;
    std::vector<std::pair<std::string, int>> ruleTexts_;
};

const std::vector<std::string> FLL_SECTIONS = {"Engine", "InputVariable", "OutputVariable", "RuleBlock"};
const std::vector<std::string> FLL_VARIABLE_KEYS = {"description", "enabled", "range", "lock-range", "term"};
const std::vector<std::string> FLL_OUTPUT_KEYS = {"aggregation", "defuzzifier", "default", "lock-previous"};
const std::vector<std::string> FLL_RULE_BLOCK_KEYS = {"description", "enabled",    "conjunction", "disjunction",
                                                      "implication", "activation", "rule"};
// The defuzzifiers with one method here each, both ways; fuzzylite's
// MeanOfMaximum is the middle of the first plateau, not mom's mean of every
// maximum. SmallestOfMaximum and LargestOfMaximum depend on the range
// (methodForMaximumSide).
const NameTable FLL_DEFUZZIFIERS = {{"centroid", "Centroid"},
                                    {"bisector", "Bisector"},
                                    {"firstmom", "MeanOfMaximum"},
                                    {"wtaver", "WeightedAverage"},
                                    {"wtsum", "WeightedSum"}};
const char *const FLL_SMALLEST_OF_MAXIMUM = "SmallestOfMaximum";
const char *const FLL_LARGEST_OF_MAXIMUM = "LargestOfMaximum";
// Terms of ours without an entry in peerShapes, both ways.
const NameTable FLL_OWN_TERMS = {{"linear", "Linear"}, {"pointsmf", "Discrete"}};

bool isWeightedDefuzzifier(const std::string &name) {
    std::string ours = ourName(FLL_DEFUZZIFIERS, name);
    return ours == "wtaver" || ours == "wtsum";
}

std::vector<std::string> fllDefuzzifierNames() {
    std::vector<std::string> names = theirNames(FLL_DEFUZZIFIERS);
    names.insert(names.begin() + 3, {FLL_SMALLEST_OF_MAXIMUM, FLL_LARGEST_OF_MAXIMUM});
    return names;
}

std::vector<std::string> fllTermTypes() {
    std::vector<std::string> names = theirNames(FLL_OWN_TERMS);
    names.insert(names.end(), {"Ramp", "Rectangle"});
    for (const PeerShape &shape : peerShapes()) names.push_back(shape.peerName);
    return names;
}

std::vector<FllReader::Line> FllReader::lines() {
    std::vector<Line> out;
    int number = 0;
    size_t start = 0;
    while (start <= text_.size()) {
        // A line ends at LF, CR LF or a lone CR.
        size_t end = text_.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text_.size();
        ++number;
        std::string line(text_.substr(start, end - start));
        start = end + (text_.compare(end, 2, "\r\n") == 0 ? 2 : 1);
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
        // "range : 0 1" is "range: 0 1", as fuzzylite reads it.
        size_t keyEnd = colon;
        while (keyEnd > first && (line[keyEnd - 1] == ' ' || line[keyEnd - 1] == '\t')) --keyEnd;
        l.key = line.substr(first, keyEnd - first);
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

TermInfo FllReader::readTerm(const std::vector<std::string> &words, int line, const VariableDescription &var, bool isOutput,
                         size_t numInputs) {
    if (words.size() < 2) fail(line, "term of " + var.name, "expected \"term: NAME TYPE PARAMETERS\"");
    std::string construct = "term " + words[0] + " of " + var.name;
    if (!isFllName(words[0])) fail(line, construct, "expected a name (letters, digits, _ and .)");
    TermInfo t;
    t.name = words[0];
    const std::string &type = words[1];
    std::vector<double> values;
    for (size_t k = 2; k < words.size(); ++k) {
        values.push_back(number(words[k], line, construct));
        if (!std::isfinite(values.back())) fail(line, construct, "parameter " + words[k] + " is not a finite number");
    }
    const PeerShape *peer = peerShapeOfPeerName(type);
    const std::string own = ourName(FLL_OWN_TERMS, type);
    if (own == "linear") {
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
    } else if (own == "pointsmf") {
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
        if (std::string why = builtins::shapeParameterProblem(t.type, t.params); !why.empty())
            fail(line, construct, why);
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

SystemDescription FllReader::read() {
    // A problem that ends the reading joins those said before it.
    SystemDescription m;
    problems_.attempt([&] { m = readAll(); });
    problems_.raiseIfAny();
    return m;
}

SystemDescription FllReader::readAll() {
    std::vector<Line> all = lines();
    for (const Line &l : all) problems_.attempt([&] { readLine(l); });
    SystemDescription m;
    m.name = engineName_;
    finishInputs(m);
    if (outputs_.empty()) {
        problems_.attempt([&] { fail(all.empty() ? 1 : all.back().number, "file", "no OutputVariable"); });
        problems_.raiseIfAny();
    }
    readDefuzzifiers();
    // Sugeno when the defuzzifier is a weighted one; all outputs alike.
    bool isSugeno = isWeightedDefuzzifier(defuzzifier_.value);
    m.type = isSugeno ? "sugeno" : "mamdani";
    setDefaultMethods(m);
    if (resolution_ >= 0) m.numSamples = resolution_;
    finishOutputs(m, isSugeno);
    readNorms(m, isSugeno);
    // A missing defuzzifier is said above.
    if (!defuzzifier_.value.empty()) problems_.attempt([&] { readDefuzzification(m, isSugeno); });
    readRules(m);
    return m;
}

// ---- The sections, a line at a time.

void FllReader::readLine(const Line &l) {
    if (readSectionStart(l) || l.key == "description") return;
    if (section_ == Section::Engine || section_ == Section::None) {
        fail(l.number, l.key,
             (section_ == Section::None ? "outside any section" : "not supported in Engine") +
                 closestNameSuggestion(l.key, FLL_SECTIONS));
    }
    if (section_ == Section::Input) return readVariableLine(l, inputs_.back(), false);
    if (section_ == Section::Output) return readVariableLine(l, outputs_.back(), true);
    readRuleBlockLine(l);
}

// Engine, InputVariable, OutputVariable or RuleBlock: opens the section.
bool FllReader::readSectionStart(const Line &l) {
    if (l.key == "Engine") {
        if (hasEngine_) fail(l.number, "Engine", "a second engine in one file");
        hasEngine_ = true;
        section_ = Section::Engine;
        engineName_ = l.value;
        return true;
    }
    if (l.key == "RuleBlock") {
        section_ = Section::RuleBlock;
        sectionName_ = "RuleBlock " + l.value;
        return true;
    }
    if (l.key != "InputVariable" && l.key != "OutputVariable") return false;
    bool isOutput = l.key == "OutputVariable";
    for (const std::vector<VariableSection> *vars : {&inputs_, &outputs_}) {
        for (const VariableSection &v : *vars) {
            if (v.var.name == l.value) fail(l.number, l.key + " " + l.value, "the name is used twice");
        }
    }
    // The section opens even with a bad name, so that its lines are read as its own.
    VariableSection v;
    v.var.name = l.value;
    v.line = l.number;
    (isOutput ? outputs_ : inputs_).push_back(v);
    section_ = isOutput ? Section::Output : Section::Input;
    sectionName_ = l.key + " " + l.value;
    if (!isFllName(l.value)) fail(l.number, l.key + " " + l.value, "expected a name (letters, digits, _ and .)");
    return true;
}

void FllReader::readVariableLine(const Line &l, VariableSection &v, bool isOutput) {
    if (l.key == "enabled") {
        requireFlag(l, sectionName_, "true", "a disabled variable is not supported");
    } else if (l.key == "range") {
        v.hasRange = true;  // said once, if it is wrong
        std::vector<std::string> w = splitWords(l.value);
        if (w.size() != 2) fail(l.number, sectionName_ + " range", "expected two numbers");
        v.var.low = number(w[0], l.number, sectionName_ + " range");
        v.var.high = number(w[1], l.number, sectionName_ + " range");
        if (!std::isfinite(v.var.low) || !std::isfinite(v.var.high) || !(v.var.low < v.var.high)) {
            fail(l.number, sectionName_ + " range", "expected finite ends, low below high");
        }
    } else if (l.key == "lock-range") {
        if (l.value != "true" && l.value != "false")
            fail(l.number, sectionName_ + " lock-range: " + l.value, "expected true or false");
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
        v.defaultValue = number(l.value, l.number, sectionName_ + " default");
        v.defaultLine = l.number;
    } else if (isOutput && l.key == "lock-previous") {
        requireFlag(l, sectionName_, "false", "rows are evaluated independently: there is no previous value");
    } else {
        std::vector<std::string> known = FLL_VARIABLE_KEYS;
        if (isOutput) known.insert(known.end(), FLL_OUTPUT_KEYS.begin(), FLL_OUTPUT_KEYS.end());
        known.insert(known.end(), FLL_SECTIONS.begin(), FLL_SECTIONS.end());
        fail(l.number, sectionName_ + " " + l.key, "not supported" + closestNameSuggestion(l.key, known));
    }
}

void FllReader::readRuleBlockLine(const Line &l) {
    if (l.key == "enabled") {
        requireFlag(l, sectionName_, "true", "a disabled rule block is not supported");
    } else if (l.key == "conjunction") {
        mergeSetting(conjunction_, l.value, l.number, "conjunction");
    } else if (l.key == "disjunction") {
        mergeSetting(disjunction_, l.value, l.number, "disjunction");
    } else if (l.key == "implication") {
        mergeSetting(implication_, l.value, l.number, "implication");
    } else if (l.key == "activation") {
        // General: every rule in order; the others pick or limit rules.
        if (l.value != "General" && l.value != "none")
            fail(l.number, "activation " + l.value, "not supported (General only)");
    } else if (l.key == "rule") {
        ruleTexts_.push_back({l.value, l.number});
    } else {
        std::vector<std::string> known = FLL_RULE_BLOCK_KEYS;
        known.insert(known.end(), FLL_SECTIONS.begin(), FLL_SECTIONS.end());
        fail(l.number, sectionName_ + " " + l.key, "not supported" + closestNameSuggestion(l.key, known));
    }
}

// ---- The system from the sections.

// Each term read on its own; check raises what the section makes of it.
void FllReader::readTerms(VariableSection &v, bool isOutput, const std::function<void(const TermInfo &, int line)> &check) {
    for (auto &[words, line] : v.terms) {
        bool isRead = problems_.attempt([&, &words = words, line = line] {
            TermInfo t = readTerm(words, line, v.var, isOutput, inputs_.size());
            check(t, line);
            std::string second = secondTermProblem(v.var.terms, t.name, [](const TermInfo &other) { return other.name; });
            if (!second.empty()) fail(line, "term " + t.name + " of " + v.var.name, second);
            v.var.terms.push_back(t);
        });
        // A term whose problem is said keeps its name, so that rules naming it say nothing more.
        if (!isRead && !words.empty()) v.var.terms.push_back({words[0], "", {}});
    }
}

void FllReader::finishInputs(SystemDescription &m) {
    for (VariableSection &v : inputs_) {
        problems_.attempt([&] {
            if (!v.hasRange) fail(v.line, "InputVariable " + v.var.name, "missing range");
        });
        readTerms(v, false, [&](const TermInfo &t, int line) {
            if (t.type == "constant") fail(line, "term " + t.name + " of " + v.var.name, "Constant is an output term");
        });
        m.inputs.push_back(v.var);
    }
}

// The one defuzzifier of every output, and the one resolution of the
// Mamdani ones.
void FllReader::readDefuzzifiers() {
    for (const VariableSection &v : outputs_) {
        problems_.attempt([&] {
            std::vector<std::string> w = splitWords(v.defuzzifier);
            if (w.empty() || w[0] == "none") fail(v.line, "OutputVariable " + v.var.name, "missing defuzzifier");
            mergeSetting(defuzzifier_, w[0], v.defuzzifierLine, "defuzzifier " + w[0], "method");
            if (isWeightedDefuzzifier(w[0])) {
                if (w.size() > 2 || (w.size() == 2 && w[1] != "Automatic" && w[1] != "TakagiSugeno")) {
                    fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier, "only the Takagi-Sugeno form is supported");
                }
                return;
            }
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
            if (resolution_ >= 0 && r != resolution_) {
                fail(v.defuzzifierLine, "defuzzifier " + v.defuzzifier,
                     "every output needs the same resolution (one sample count)");
            }
            resolution_ = r;
        });
    }
}

void FllReader::finishOutputs(SystemDescription &m, bool isSugeno) {
    for (VariableSection &v : outputs_) {
        std::string construct = "OutputVariable " + v.var.name;
        problems_.attempt([&] {
            if (!v.hasRange) fail(v.line, construct, "missing range");
        });
        readTerms(v, true, [&](const TermInfo &t, int line) {
            bool isSugenoTerm = t.type == "constant" || t.type == "linear";
            if (isSugenoTerm != isSugeno) {
                fail(line, "term " + t.name + " of " + v.var.name,
                     isSugeno ? "a weighted defuzzifier takes Constant and Linear terms only"
                              : "Constant and Linear terms need WeightedAverage or WeightedSum");
            }
        });
        if (v.defaultValue) v.var.defaultValue = outputDefault(*v.defaultValue, v.var.low, v.var.high);
        // Weighted defuzzifiers do not read the aggregation.
        if (!isSugeno)
            problems_.attempt([&] {
                mergeSetting(aggregation_, v.aggregation, v.aggregationLine, construct + " aggregation", "method");
            });
        m.outputs.push_back(v.var);
    }
}

std::string FllReader::norm(const FileSetting &setting, const char *key, bool isTNorm) const {
    const NameTable &table = isTNorm ? FLL_TNORMS : FLL_SNORMS;
    std::string ours = ourMethodName(table, setting.value);
    if (ours.empty())
        fail(setting.line, std::string(key) + " " + setting.value, unsupportedName(setting.value, theirNames(table)));
    return ours;
}

void FllReader::readNorms(SystemDescription &m, bool isSugeno) {
    problems_.attempt([&] {
        if (!conjunction_.value.empty() && conjunction_.value != "none")
            m.andMethod = norm(conjunction_, "conjunction", true);
    });
    problems_.attempt([&] {
        if (!disjunction_.value.empty() && disjunction_.value != "none")
            m.orMethod = norm(disjunction_, "disjunction", false);
    });
    problems_.attempt([&] {
        if (!implication_.value.empty() && implication_.value != "none") {
            m.impMethod = norm(implication_, "implication", true);
            if (m.impMethod == "bdif")
                fail(implication_.line, "implication " + implication_.value,
                     "not supported (Minimum, AlgebraicProduct)");
        } else if (!isSugeno) {
            fail(implication_.line > 0 ? implication_.line : 1, "implication", "a Mamdani system needs one");
        }
    });
}

void FllReader::readDefuzzification(SystemDescription &m, bool isSugeno) {
    const std::string &defuzzifier = defuzzifier_.value;
    // fuzzylite's weighted average and sum run over the rules whatever the
    // output's aggregation, as ours do: it is not read.
    if (!isSugeno) {
        if (aggregation_.value.empty() || aggregation_.value == "none")
            fail(outputs_.front().line, "aggregation", "a Mamdani output needs one");
        m.aggMethod = norm(aggregation_, "aggregation", false);
    }
    if (defuzzifier == FLL_SMALLEST_OF_MAXIMUM || defuzzifier == FLL_LARGEST_OF_MAXIMUM) {
        bool isLeftmost = defuzzifier == FLL_SMALLEST_OF_MAXIMUM;
        for (size_t o = 0; o < m.outputs.size(); ++o) {
            std::string ours = methodForMaximumSide(isLeftmost, m.outputs[o].low, m.outputs[o].high);
            if (ours.empty() || (o > 0 && ours != m.defuzzMethod)) {
                fail(defuzzifier_.line, "defuzzifier " + defuzzifier,
                     "ours picks the maximum nearest to or farthest from 0, the same only on ranges of one sign");
            }
            m.defuzzMethod = ours;
        }
        return;
    }
    m.defuzzMethod = ourMethodName(FLL_DEFUZZIFIERS, defuzzifier);
    if (m.defuzzMethod.empty())
        fail(defuzzifier_.line, "defuzzifier " + defuzzifier, unsupportedName(defuzzifier, fllDefuzzifierNames()));
}

void FllReader::readRules(SystemDescription &m) {
    for (const auto &[text, line] : ruleTexts_) {
        int ruleLine = line;
        auto failRule = [&](const std::string &what) { fail(ruleLine, "rule", what); };
        problems_.attempt(
            [&, &text = text] { m.rules.push_back(parseRuleWords(splitWords(text), m, false, failRule)); });
    }
    // Only about rules that were all read.
    problems_.raiseIfAny();
    size_t badRule = 0;
    if (std::string why = sugenoRuleMissingOutput(m, badRule); !why.empty())
        fail(ruleTexts_[badRule].second, "rule", why);
}

// ---- The writer.

[[noreturn]] void refuse(const std::string &what) { throw orvane::HostError("fazolt:fll:Unsupported", what); }

std::string peerName(const std::string &method, const char *key, bool isTNorm) {
    std::string name = theirName(isTNorm ? FLL_TNORMS : FLL_SNORMS, method);
    if (name.empty()) refuse(std::string(key) + ": method \"" + method + "\" has no FLL form");
    return name;
}

std::string termLine(const TermInfo &t, const std::string &varName) {
    std::string where = "term " + t.name + " of " + varName;
    if (!isFllName(t.name)) refuse(where + ": not an FLL name");
    for (double v : t.params) {
        if (!std::isfinite(v)) refuse(where + ": parameter " + numberText(v) + " is not a finite number");
    }
    std::string text = "  term: " + t.name + " ";
    if (std::string own = theirName(FLL_OWN_TERMS, t.type); !own.empty()) {
        text += own;
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

SystemDescription readFll(std::string_view text, const std::string &fileName) { return FllReader(text, fileName).read(); }

std::string writeFll(const SystemDescription &m) {
    bool isSugeno = !m.isMamdani();
    std::string defuzzifier = theirName(FLL_DEFUZZIFIERS, m.defuzzMethod);
    if (m.defuzzMethod == "mom") {
        refuse(
            "defuzzMethod \"mom\": the mean of every maximum point; fuzzylite's MeanOfMaximum is the middle of "
            "the first plateau (\"firstmom\")");
    }
    if (isSugeno != isWeightedDefuzzifier(defuzzifier)) {
        refuse("defuzzMethod \"" + m.defuzzMethod + "\" in a " + m.type + " system has no FLL form");
    }
    if (isSugeno && m.numSamples != defaults::kNumSamples) {
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
        for (const VariableDescription &v : side == 0 ? m.inputs : m.outputs) {
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
                    methodName = s == "leftmost" ? FLL_SMALLEST_OF_MAXIMUM : FLL_LARGEST_OF_MAXIMUM;
                }
                if (methodName.empty()) refuse("defuzzMethod \"" + m.defuzzMethod + "\" has no FLL form");
                out +=
                    "  aggregation: " + (isSugeno ? std::string("none") : peerName(m.aggMethod, "aggMethod", false)) +
                    "\n";
                out += "  defuzzifier: " + methodName +
                       (isSugeno ? std::string() : " " + std::to_string(m.numSamples)) + "\n";
                out += "  default: " + defaultText(v) + "\n  lock-previous: false\n";
            }
            for (const TermInfo &t : v.terms) {
                if (isHedgedTerm(t) && side == 1) refuse("term " + t.name + " of " + v.name + ": " + HEDGED_OUTPUT);
                if (isHedgedTerm(t)) continue;  // said in the rules
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
            languageRuleWords(m.rules[k], m, [&](const std::string &why) { refuse(where + why + " has no FLL form"); });
        out += "  rule: " + text + "\n";
    }
    return out;
}

}  // namespace fazolt::formats
