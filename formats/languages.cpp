// What the format readers and writers share: rule words, the peer's shape
// names, method name tables, numbers, messages.
#include "formats/languages.h"

#include "builtins/shapesAndHedges.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace fazolt::formats {

// ---- RuleDescription words.

std::string sugenoRuleMissingOutput(const SystemDescription &m, size_t &ruleIndex) {
    if (m.isMamdani() || m.outputs.size() < 2) return "";
    for (size_t k = 0; k < m.rules.size(); ++k) {
        for (size_t o = 0; o < m.outputs.size(); ++o) {
            if (m.rules[k].consequent[o] != 0.0) continue;
            ruleIndex = k;
            return "concludes nothing about output " + jsonString(m.outputs[o].name) +
                   ": with several Sugeno outputs each output here is weighted over the strengths of all the rules, "
                   "in FCL and fuzzylite over those of the rules that conclude it (so the numbers would differ); "
                   "give every rule a conclusion for every output, or split the file by output";
        }
    }
    return "";
}

std::string theirName(const NameTable &table, const std::string &ours) {
    for (const NamePair &p : table) {
        if (ours == p.ours) return p.theirs;
    }
    return "";
}

std::string ourName(const NameTable &table, const std::string &theirs) {
    for (const NamePair &p : table) {
        if (theirs == p.theirs) return p.ours;
    }
    return "";
}

std::vector<std::string> theirNames(const NameTable &table) {
    std::vector<std::string> names;
    for (const NamePair &p : table) names.push_back(p.theirs);
    return names;
}

std::string ourMethodName(const NameTable &table, const std::string &theirs) {
    std::string ours = ourName(table, theirs);
    return ours.empty() && isRegisteredFunction(theirs) ? theirs : ours;
}

std::string unsupportedName(const std::string &word, const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &n : names) text += (text.empty() ? "" : ", ") + n;
    return "not supported (" + text + ", or a registered function)" + closestNameSuggestion(word, names);
}

namespace {

std::string lowered(const std::string &s) {
    std::string out = s;
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int indexOfVariable(const std::vector<VariableDescription> &vars, const std::string &name) {
    for (size_t k = 0; k < vars.size(); ++k) {
        if (vars[k].name == name) return static_cast<int>(k);
    }
    return -1;
}

}  // namespace

namespace {

bool isTermName(const VariableDescription &var, const std::string &word) {
    for (const TermInfo &t : var.terms) {
        if (t.name == word) return true;
    }
    return false;
}

// The 1-based index of the term that `hedges` (outermost first) make of
// term `baseIndex`: added after the variable's terms at its first use, as
// "very_warm", and found there at the next.
int hedgedTermIndex(VariableDescription &var, const std::vector<std::string> &hedges, size_t baseIndex,
                    const std::function<void(const std::string &)> &fail) {
    const TermInfo &base = var.terms[baseIndex];
    TermInfo t;
    if (std::string why = builtins::hedgedTerm(hedges, base.type, base.params, t.type, t.params); !why.empty())
        fail(why);
    for (const std::string &h : hedges) t.name += h + "_";
    t.name += base.name;
    for (size_t j = 0; j < var.terms.size(); ++j) {
        if (var.terms[j].name != t.name) continue;
        if (var.terms[j].type != t.type || var.terms[j].params != t.params)
            fail("the hedged term is named " + jsonString(t.name) + " here, a name another term has");
        return static_cast<int>(j) + 1;
    }
    var.terms.push_back(t);
    return static_cast<int>(var.terms.size());
}

}  // namespace

bool isHedgedTerm(const TermInfo &t) {
    std::vector<std::string> hedges;
    std::string baseType;
    std::vector<double> baseParams;
    return builtins::splitHedgedTerm(t.type, t.params, hedges, baseType, baseParams);
}

std::string hedgedTermWords(const VariableDescription &var, const TermInfo &term,
                            const std::function<void(const std::string &)> &refuse) {
    std::vector<std::string> hedges;
    std::string baseType;
    std::vector<double> baseParams;
    if (!builtins::splitHedgedTerm(term.type, term.params, hedges, baseType, baseParams)) return "";
    for (const TermInfo &t : var.terms) {
        if (t.type != baseType || t.params != baseParams) continue;
        std::string words;
        for (const std::string &h : hedges) words += h + " ";
        return words + t.name;
    }
    refuse("hedged term " + jsonString(term.name) + " of " + jsonString(var.name) +
           ": its base shape is no term of the variable (the languages hedge a term by name)");
    return "";
}

std::string languageRuleWords(const RuleDescription &rule, const SystemDescription &m,
                              const std::function<void(const std::string &)> &refuse) {
    return ruleWords(rule, m, false, refuse, [&](const VariableDescription &var, const TermInfo &term) {
        return hedgedTermWords(var, term, refuse);
    });
}

RuleDescription parseRuleWords(const std::vector<std::string> &words, SystemDescription &m, bool foldCase,
                               const std::function<void(const std::string &)> &fail) {
    auto keyword = [&](size_t at) {
        return at < words.size() ? (foldCase ? lowered(words[at]) : words[at]) : std::string();
    };
    RuleDescription rule;
    rule.antecedent.assign(m.inputs.size(), 0.0);
    rule.consequent.assign(m.outputs.size(), 0.0);
    bool hasAny = false;
    // One "X is [not] T" clause at words[at]; returns the index after it.
    auto clause = [&](size_t at, bool isOutput) {
        const std::vector<VariableDescription> &vars = isOutput ? m.outputs : m.inputs;
        const char *kind = isOutput ? "output" : "input";
        if (at >= words.size()) fail(std::string("expected an ") + kind + " variable at the end of the rule");
        int v = indexOfVariable(vars, words[at]);
        if (v < 0) {
            std::vector<std::string> names;
            for (const VariableDescription &var : vars) names.push_back(var.name);
            fail(std::string("unknown ") + kind + " variable " + jsonString(words[at]) +
                 closestNameSuggestion(words[at], names));
        }
        if (keyword(at + 1) != "is") fail("expected \"is\" after " + jsonString(words[at]));
        size_t next = at + 2;
        const VariableDescription &var = vars[static_cast<size_t>(v)];
        // fuzzylite's hedges, outermost first; a term's own name is never one.
        std::vector<std::string> hedges;
        while (next + 1 < words.size() && !isTermName(var, words[next]) &&
               (keyword(next) == "not" || builtins::isHedgeWord(keyword(next)))) {
            hedges.push_back(keyword(next++));
        }
        bool isNot = !hedges.empty() && hedges[0] == "not";
        if (isNot) hedges.erase(hedges.begin());
        if (isOutput && isNot) fail("\"not\" in a conclusion: the peers negate the activation degree, we the set");
        if (isOutput && !hedges.empty()) {
            fail("hedge " + jsonString(hedges[0]) +
                 " in a conclusion: fuzzylite hedges the activation degree there, which a rule here cannot");
        }
        if (!hedges.empty() && hedges[0] == "not")
            fail("\"not not\": 1 - (1 - x) need not give x back; write the term itself");
        if (next >= words.size()) fail("expected a term after " + jsonString(words[at]) + " is");
        int term = 0;
        for (size_t j = 0; j < var.terms.size(); ++j) {
            if (var.terms[j].name == words[next]) term = static_cast<int>(j) + 1;
        }
        if (term == 0) {
            std::string w = keyword(next);
            // "any" has degree 1 whatever the value: in an AND rule that is an untested input.
            if (w == "any" && !isOutput && !isNot && hedges.empty()) {
                hasAny = true;
                return next + 1;
            }
            if (w == "any") fail("hedge \"any\" after another hedge or in a conclusion is not supported");
            std::vector<std::string> names;
            for (const TermInfo &t : var.terms) names.push_back(t.name);
            fail("unknown term " + jsonString(words[next]) + " of " + kind + " " + jsonString(var.name) +
                 closestNameSuggestion(words[next], names));
        }
        if (!hedges.empty()) term = hedgedTermIndex(m.inputs[static_cast<size_t>(v)], hedges, term - 1, fail);
        std::vector<double> &row = isOutput ? rule.consequent : rule.antecedent;
        if (row[static_cast<size_t>(v)] != 0.0) fail(jsonString(var.name) + " appears twice in one side of the rule");
        row[static_cast<size_t>(v)] = isNot ? -term : term;
        return next + 1;
    };
    for (const std::string &w : words) {
        if (w.find_first_of("()") != std::string::npos) {
            fail(
                "parentheses are not supported in rules (a rule here is all \"and\" or all \"or\"; write "
                "one rule per alternative)");
        }
    }
    if (keyword(0) != "if") fail("a rule starts with \"if\"");
    size_t at = clause(1, false);
    std::string connective;
    while (at < words.size() && keyword(at) != "then") {
        std::string k = keyword(at);
        if (k != "and" && k != "or") fail("expected \"and\", \"or\" or \"then\", got " + jsonString(words[at]));
        if (!connective.empty() && connective != k) fail("a rule uses either \"and\" or \"or\", not both");
        connective = k;
        at = clause(at + 1, false);
    }
    if (at >= words.size()) fail("missing \"then\"");
    rule.connection = connective == "or" ? 2.0 : 1.0;
    if (hasAny && connective == "or") {
        fail("\"any\" in an \"or\" rule makes it fire fully on every row, which a rule here cannot say");
    }
    bool testsSomething = false;
    for (double e : rule.antecedent) testsSomething = testsSomething || e != 0.0;
    if (!testsSomething) fail("a rule whose only conditions are \"any\" (it would fire fully on every row)");
    at = clause(at + 1, true);
    while (keyword(at) == "and") at = clause(at + 1, true);
    if (at < words.size()) {
        if (keyword(at) != "with" || at + 2 != words.size()) {
            fail("unexpected " + jsonString(words[at]) + " after the conclusion (expected \"and\" or \"with W\")");
        }
        if (!parseNumber(words[at + 1], rule.weight) || !std::isfinite(rule.weight)) {
            fail("expected a number after \"with\", got " + jsonString(words[at + 1]));
        }
    }
    return rule;
}

// ---- Shapes under the peer's names.

const std::vector<PeerShape> &peerShapes() {
    // fuzzylite's SigmoidDifference is |s1 - s2|, not dsigmf's s1 - s2: it
    // and the other shapes without a built-in form are host functions
    // (builtins/), their parameters in fuzzylite's order.
    static const std::vector<PeerShape> shapes = {
        {"trimf", "Triangle", {0, 1, 2}},
        {"trapmf", "Trapezoid", {0, 1, 2, 3}},
        {"gaussmf", "Gaussian", {1, 0}},  // mean, standard deviation
        {"gbellmf", "Bell", {2, 0, 1}},   // centre, width, slope
        {"sigmf", "Sigmoid", {1, 0}},     // inflection, slope
        {"smf", "SShape", {0, 1}},
        {"zmf", "ZShape", {0, 1}},
        {"pimf", "PiShape", {0, 1, 2, 3}},
        {"gauss2mf", "GaussianProduct", {1, 0, 3, 2}},  // mean, sd of each side
        {"psigmf", "SigmoidProduct", {1, 0, 2, 3}},     // left, rising, falling, right
        {"constant", "Constant", {0}},
        {"concavemf", "Concave", {0, 1}},
        {"cosinemf", "Cosine", {0, 1}},
        {"spikemf", "Spike", {0, 1}},
        {"binarymf", "Binary", {0, 1}},
        {"sigdiffmf", "SigmoidDifference", {0, 1, 2, 3}},
    };
    return shapes;
}

const PeerShape *peerShapeOfPeerName(std::string_view peerName) {
    for (const PeerShape &s : peerShapes()) {
        if (peerName == s.peerName) return &s;
    }
    return nullptr;
}

const PeerShape *peerShapeOfOurType(std::string_view ourType) {
    for (const PeerShape &s : peerShapes()) {
        if (ourType == s.ourType) return &s;
    }
    return nullptr;
}

std::vector<double> toPeerOrder(const PeerShape &shape, const std::vector<double> &ours) {
    std::vector<double> peers;
    for (int k : shape.peerOrder) peers.push_back(ours.at(static_cast<size_t>(k)));
    return peers;
}

std::vector<double> fromPeerOrder(const PeerShape &shape, const std::vector<double> &peers) {
    std::vector<double> ours(peers.size());
    for (size_t k = 0; k < shape.peerOrder.size() && k < peers.size(); ++k) {
        ours[static_cast<size_t>(shape.peerOrder[k])] = peers[k];
    }
    return ours;
}

std::string termOfLineShape(const std::string &peerName, const std::vector<double> &values, TermInfo &term) {
    if (peerName != "Ramp" && peerName != "Rectangle") return "";
    if (values.size() != 2) return peerName + " takes 2 parameters (start, end), got " + std::to_string(values.size());
    double start = values[0], end = values[1];
    if (peerName == "Rectangle") {
        if (!(start <= end)) return "Rectangle needs start <= end";
        term.type = "trapmf";
        term.params = {start, start, end, end};
        return "";
    }
    if (start == end) return "a Ramp needs two different ends (fuzzylite gives 0 everywhere)";
    // 0 at start and 1 at end, held beyond them; a falling ramp lists its points from the left.
    term.type = "pointsmf";
    term.params = start < end ? std::vector<double>{start, 0.0, end, 1.0} : std::vector<double>{end, 1.0, start, 0.0};
    return "";
}

std::string dropTermHeight(std::vector<double> &values, size_t count) {
    if (values.size() != count + 1) return "";
    if (values.back() != 1.0) {
        return "height " + numberText(values.back()) +
               ": fuzzylite scales the term's degree by it, and the shapes here reach 1 (only height 1 is read)";
    }
    values.pop_back();
    return "";
}

std::optional<double> outputDefault(double value, double low, double high) {
    if (value == (high + low) / 2.0) return std::nullopt;
    return value;
}

std::string defaultText(const VariableDescription &output) {
    double value = output.defaultValue.value_or((output.high + output.low) / 2.0);
    return std::isnan(value) ? "nan" : numberText(value);
}

bool isRegisteredFunction(const std::string &name) { return !name.empty() && orvane::hasFunction(name); }

// ---- Messages.

namespace {
constexpr size_t MAX_FILE_PROBLEMS = 20;
}

bool FileProblems::attempt(const std::function<void()> &step) {
    try {
        step();
        return true;
    } catch (const orvane::HostError &e) {
        if (e.identifier() != identifier_ || hasRaised_) throw;
        messages_.push_back(e.message());
        if (messages_.size() >= MAX_FILE_PROBLEMS) raise(true);
        return false;
    }
}

void FileProblems::raiseIfAny() const {
    if (!messages_.empty()) raise(false);
}

void FileProblems::raise(bool isCut) const {
    std::string text;
    for (const std::string &m : messages_) text += (text.empty() ? "" : "\n") + m;
    if (isCut) text += "\n(stopped after " + std::to_string(MAX_FILE_PROBLEMS) + " problems)";
    hasRaised_ = true;
    throw orvane::HostError(identifier_, text);
}

// ---- Settings.

std::string mergeFileSetting(FileSetting &setting, const std::string &value, int line, const char *kind) {
    if (setting.value.empty()) {
        setting = {value, line};
        return "";
    }
    if (setting.value == value) return "";
    return "\"" + value + "\" differs from \"" + setting.value + "\" on line " + std::to_string(setting.line) +
           " (one " + kind + " for the whole system)";
}

// ---- Numbers.

bool parseNumber(std::string_view text, double &value) {
    std::string s(text);
    if (s.empty()) return false;
    std::string low = lowered(s);
    if (low == "nan" || low == "+nan" || low == "-nan") {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (low == "inf" || low == "+inf") {
        value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (low == "-inf") {
        value = -std::numeric_limits<double>::infinity();
        return true;
    }
    char first = s[0];
    if (!(std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.'))
        return false;
    char *end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size() && std::isfinite(value);
}

std::string methodForMaximumSide(bool isLeftmost, double low, double high) {
    if (low >= 0.0) return isLeftmost ? "som" : "lom";
    if (high <= 0.0) return isLeftmost ? "lom" : "som";
    return "";
}

std::string maximumSideOfMethod(const std::string &method, double low, double high) {
    if (method != "som" && method != "lom") return "";
    bool isSmallest = method == "som";
    if (low >= 0.0) return isSmallest ? "leftmost" : "rightmost";
    if (high <= 0.0) return isSmallest ? "rightmost" : "leftmost";
    return "";
}

}  // namespace fazolt::formats
