// FCL (IEC 61131-7) to and from the nested description.
//
// Sections: tokens, the reader's blocks, terms, the system from the blocks,
// the writer.
#include "builtins/shapesAndHedges.h"
#include "formats/languages.h"

#include "fazolt/error_ids.h"
#include "fazolt/formats.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>

namespace fazolt::formats {
namespace {

// ---- Tokens: words (names, keywords, numbers) and the symbols
// := : ; ( ) , .. with their line. Comments (* *), /* */ and // are skipped.

struct Token {
    std::string text;
    int line = 0;
};

std::string upper(const std::string &s) {
    std::string out = s;
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool isFclName(const std::string &s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    static const char *reserved[] = {
        "IF",     "THEN",    "IS",   "NOT", "AND",           "OR",          "WITH",          "RULE",   "TERM", "RANGE",
        "METHOD", "DEFAULT", "ACCU", "ACT", "END_RULEBLOCK", "END_FUZZIFY", "END_DEFUZZIFY", "END_VAR"};
    for (const char *r : reserved) {
        if (upper(s) == r) return false;
    }
    return true;
}

// Every METHOD word, the two that are no table entry of their own included.
const std::vector<std::string> FCL_METHOD_WORDS = {"COG", "COGS", "COA", "LM", "RM", "MM"};

class FclReader {
public:
    FclReader(std::string_view text, std::string fileName) : text_(text), fileName_(std::move(fileName)) {}
    SystemDescription read();

private:
    SystemDescription readAll();
    int readBlocks();
    [[noreturn]] void fail(int line, const std::string &construct, const std::string &what) const {
        throw orvane::HostError(ids::fclInvalid,
                                printableText(fileName_ + ":" + std::to_string(line) + ": " + construct + ": " + what));
    }
    void mergeSetting(FileSetting &setting, const std::string &value, int line, const std::string &what,
                      const char *kind = "setting") const {
        if (std::string clash = mergeFileSetting(setting, value, line, kind); !clash.empty()) fail(line, what, clash);
    }
    void tokenize();
    void readSampleCountComment(const std::string &comment, int line);
    const Token &peek() const { return tokens_[at_]; }
    bool atEnd() const { return at_ >= tokens_.size(); }
    bool isKeyword(const char *word) const { return !atEnd() && upper(peek().text) == word; }
    bool isAtBlockWord() const;
    bool isAtOpeningWord() const;
    bool isAtStatementStart() const;
    void skipStatement();
    Token next(const std::string &construct, int line);
    void expect(const char *symbol, const std::string &construct, int line);
    double number(const std::string &construct, int line);
    std::string name(const std::string &construct, int line);

    struct TermBlock {
        TermInfo term;
        int line = 0;
        bool isSingleton = false;
        bool isLinear = false;        // fuzzylite's "Linear c1 ... cn k", a Sugeno output
        bool isUnread = false;        // a term whose problem is said: its name only, for the rules
        std::vector<double> pointXs;  // x of each point of a point list, for the span
    };
    struct VariableBlock {
        std::string name;
        int line = 0;  // of the declaration
        bool hasBlock = false;
        int blockLine = 0;
        std::optional<std::pair<double, double>> range;
        std::vector<TermBlock> terms;
        std::string method;
        int methodLine = 0;
        std::optional<double> defaultValue;
        std::string defaultText;
        int defaultLine = 0;
        std::string accu;
        int accuLine = 0;
    };
    struct RuleText {
        std::vector<std::string> words;
        int line = 0;
    };

    void readDeclarations(std::vector<VariableBlock> &vars, const char *endWord, int line);
    void readDeclaration(std::vector<VariableBlock> &vars, const std::string &construct);
    void readVariableStatement(VariableBlock &v, bool isOutput, const std::string &construct, int line);
    void readVariableBlock(bool isOutput, int line);
    void readRuleBlock(int line);
    void readRuleBlockStatement(const std::string &construct, int line);
    TermBlock readTerm(int line, const std::string &varName);
    void readPointList(TermBlock &tb, const std::string &construct, int line);
    void readNamedShape(TermBlock &tb, const std::string &construct, int line);
    VariableBlock &variableNamed(std::vector<VariableBlock> &vars, const std::string &name, const char *block,
                                 int line);
    VariableDescription finishVariable(VariableBlock &v, bool isOutput, bool isSugeno);
    void readMethod(SystemDescription &m, const std::string &method, int methodLine, bool isSugeno) const;
    void checkTerm(const TermBlock &tb, const std::string &varName, bool isOutput, bool isSugeno) const;
    void setRange(const VariableBlock &v, VariableDescription &var, const char *block) const;

    std::string_view text_;
    std::string fileName_;
    std::vector<Token> tokens_;
    size_t at_ = 0;
    int endLine_ = 1;
    std::string systemName_;
    std::vector<VariableBlock> inputs_, outputs_;
    FileSetting and_, or_, act_, accu_;
    std::vector<RuleText> rules_;
    std::vector<FormatWarning> warnings_;
    FileProblems problems_{ids::fclInvalid};
    int64_t numSamples_ = 0;  // from "// numSamples := N"; 0 when not given
};

// The words that open or close a block: a statement never runs past one.
const std::vector<std::string> FCL_BLOCK_WORDS = {
    "FUNCTION_BLOCK", "END_FUNCTION_BLOCK", "VAR_INPUT",     "VAR_OUTPUT", "END_VAR",      "FUZZIFY",
    "END_FUZZIFY",    "DEFUZZIFY",          "END_DEFUZZIFY", "RULEBLOCK",  "END_RULEBLOCK"};

// The words that start a block in FUNCTION_BLOCK, or end it.
const std::vector<std::string> FCL_OPENING_WORDS = {"VAR_INPUT", "VAR_OUTPUT", "FUZZIFY",
                                                    "DEFUZZIFY", "RULEBLOCK",  "END_FUNCTION_BLOCK"};

bool FclReader::isAtOpeningWord() const {
    return !atEnd() && std::find(FCL_OPENING_WORDS.begin(), FCL_OPENING_WORDS.end(), upper(peek().text)) !=
                           FCL_OPENING_WORDS.end();
}

// A statement's keyword first on its line: where a statement that lost its
// ";" ends.
bool FclReader::isAtStatementStart() const {
    if (atEnd() || at_ == 0 || tokens_[at_ - 1].line == peek().line) return false;
    static const std::vector<std::string> keywords = {"TERM",   "RANGE", "METHOD", "DEFAULT", "ACCU",
                                                      "RULE",   "AND",   "OR",     "ACT"};
    return std::find(keywords.begin(), keywords.end(), upper(peek().text)) != keywords.end();
}

bool FclReader::isAtBlockWord() const {
    if (atEnd()) return false;
    std::string word = upper(peek().text);
    for (const std::string &w : FCL_BLOCK_WORDS) {
        if (word == w) return true;
    }
    return false;
}

// After a problem inside a statement: on to the token after its ";", or to
// the next block word.
void FclReader::skipStatement() {
    if (at_ > 0 && at_ <= tokens_.size() && tokens_[at_ - 1].text == ";") return;
    while (!atEnd() && peek().text != ";" && !isAtBlockWord() && !isAtStatementStart()) ++at_;
    if (!atEnd() && peek().text == ";") ++at_;
}

// A keyword in any case, or a function's name as written.
std::string fclWordOrName(const std::string &text, const std::vector<std::string> &keywords) {
    std::string word = upper(text);
    return std::find(keywords.begin(), keywords.end(), word) != keywords.end() ? word : text;
}

std::vector<std::string> fclShapeNames() {
    std::vector<std::string> names = {"Linear", "Ramp", "Rectangle", "trian", "trape", "gauss", "gbell", "sigm"};
    for (const PeerShape &shape : peerShapes()) {
        if (std::string(shape.ourType) != "constant") names.push_back(shape.peerName);
    }
    return names;
}

// FCL has no sample count; the writer puts a count other than 101 in a
// comment, "// numSamples := N", which other readers pass over.
void FclReader::readSampleCountComment(const std::string &comment, int line) {
    std::vector<std::string> words = splitWords(comment);
    if (words.empty() || words[0] != "numSamples") return;
    problems_.attempt([&] {
        double n = 0.0;
        if (words.size() < 3 || words[1] != ":=" || !parseNumber(words[2], n) || !(n >= 2 && n <= 1e6) ||
            n != std::trunc(n)) {
            fail(line, "// numSamples", "expected \"// numSamples := N\", N a whole number from 2 to 1000000");
        }
        if (numSamples_ > 0 && numSamples_ != static_cast<int64_t>(n))
            fail(line, "// numSamples", "a second, different count");
        numSamples_ = static_cast<int64_t>(n);
    });
}

void FclReader::tokenize() {
    int line = 1;
    size_t k = 0;
    auto isWordChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '+' || c == '-';
    };
    // A line ends at LF, CR LF or a lone CR.
    auto isLineEnd = [&](size_t at) {
        return text_[at] == '\n' || (text_[at] == '\r' && (at + 1 == text_.size() || text_[at + 1] != '\n'));
    };
    while (k < text_.size()) {
        char c = text_[k];
        if (isLineEnd(k)) {
            ++line;
            ++k;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++k;
        } else if (text_.compare(k, 2, "(*") == 0 || text_.compare(k, 2, "/*") == 0) {
            std::string_view close = text_[k] == '(' ? "*)" : "*/";
            int startLine = line;
            size_t end = text_.find(close, k + 2);
            if (end == std::string_view::npos) fail(startLine, "comment", "not closed");
            for (size_t j = k; j < end; ++j) line += isLineEnd(j) ? 1 : 0;
            k = end + 2;
        } else if (text_.compare(k, 2, "//") == 0) {
            size_t start = k + 2;
            while (k < text_.size() && text_[k] != '\n' && text_[k] != '\r') ++k;
            readSampleCountComment(std::string(text_.substr(start, k - start)), line);
        } else if (text_.compare(k, 2, ":=") == 0 || text_.compare(k, 2, "..") == 0) {
            tokens_.push_back({std::string(text_.substr(k, 2)), line});
            k += 2;
        } else if (c == ':' || c == ';' || c == '(' || c == ')' || c == ',') {
            tokens_.push_back({std::string(1, c), line});
            ++k;
        } else if (isWordChar(c)) {
            size_t start = k;
            while (k < text_.size() && isWordChar(text_[k]) && text_.compare(k, 2, "..") != 0) ++k;
            tokens_.push_back({std::string(text_.substr(start, k - start)), line});
        } else {
            // A character of several bytes is one problem.
            size_t end = k + 1;
            while (end < text_.size() && (static_cast<unsigned char>(text_[end]) & 0xC0) == 0x80) ++end;
            std::string shown(text_.substr(k, end - k));
            problems_.attempt([&] { fail(line, "text", "unexpected character '" + shown + "'"); });
            k = end;
        }
    }
    endLine_ = line;
}

Token FclReader::next(const std::string &construct, int line) {
    if (atEnd()) fail(line, construct, "the file ends inside it");
    return tokens_[at_++];
}

void FclReader::expect(const char *symbol, const std::string &construct, int line) {
    Token t = next(construct, line);
    // A ";" left out at a line's end is said there, and the next line is read as its own statement.
    if (std::string(symbol) == ";" && at_ >= 2 && t.line > tokens_[at_ - 2].line && t.text != ";") {
        --at_;
        fail(tokens_[at_ - 1].line, construct, "missing \";\" at the end of the line");
    }
    if (upper(t.text) != symbol)
        fail(t.line, construct, std::string("expected \"") + symbol + "\", got \"" + t.text + "\"");
}

double FclReader::number(const std::string &construct, int line) {
    Token t = next(construct, line);
    double v = 0.0;
    if (!parseNumber(t.text, v) || !std::isfinite(v))
        fail(t.line, construct, "expected a finite number, got \"" + t.text + "\"");
    return v;
}

std::string FclReader::name(const std::string &construct, int line) {
    Token t = next(construct, line);
    if (!isFclName(t.text)) fail(t.line, construct, "expected a name (letters, digits and _), got \"" + t.text + "\"");
    return t.text;
}

// ---- Blocks.

void FclReader::readDeclarations(std::vector<VariableBlock> &vars, const char *endWord, int line) {
    std::string construct = upper(tokens_[at_ - 1].text);
    while (!isKeyword(endWord)) {
        if (atEnd() || isAtBlockWord()) {
            problems_.attempt([&] { fail(line, construct, std::string("not terminated (missing ") + endWord + ")"); });
            return;
        }
        if (!problems_.attempt([&] { readDeclaration(vars, construct); })) skipStatement();
    }
    ++at_;
}

void FclReader::readDeclaration(std::vector<VariableBlock> &vars, const std::string &construct) {
    int line = peek().line;
    std::string varName = name(construct, line);
    expect(":", construct + " " + varName, line);
    Token type = next(construct + " " + varName, line);
    expect(";", construct + " " + varName, line);
    for (const std::vector<VariableBlock> *declared : {&inputs_, &outputs_}) {
        for (const VariableBlock &v : *declared) {
            if (v.name == varName) fail(line, construct + " " + varName, "the name is declared twice");
        }
    }
    // Declared even with a bad type, so that its block is not said to be undeclared.
    VariableBlock v;
    v.name = varName;
    v.line = line;
    vars.push_back(v);
    if (upper(type.text) != "REAL")
        fail(type.line, construct + " " + varName, "type " + type.text + " is not supported (REAL only)");
}

FclReader::VariableBlock &FclReader::variableNamed(std::vector<VariableBlock> &vars, const std::string &varName,
                                                   const char *block, int line) {
    for (VariableBlock &v : vars) {
        if (v.name == varName) {
            if (v.hasBlock) fail(line, std::string(block) + " " + varName, "a second block for this variable");
            return v;
        }
    }
    fail(line, std::string(block) + " " + varName,
         std::string("no ") + (std::string(block) == "FUZZIFY" ? "VAR_INPUT" : "VAR_OUTPUT") + " declares it");
}

// TERM name := shape ;   shape: (x, y) (x, y) ... | number | Name p1 p2 ...
FclReader::TermBlock FclReader::readTerm(int line, const std::string &varName) {
    TermBlock tb;
    tb.line = line;
    tb.term.name = name("TERM", line);
    std::string construct = "TERM " + tb.term.name + " of " + varName;
    expect(":=", construct, line);
    if (atEnd()) fail(line, construct, "the file ends inside it");
    if (peek().text == "(") {
        readPointList(tb, construct, line);
    } else if (double v = 0.0; parseNumber(peek().text, v)) {
        ++at_;
        if (!std::isfinite(v)) fail(line, construct, "a singleton must be a finite number");
        tb.isSingleton = true;
        tb.term.type = "constant";
        tb.term.params = {v};
        tb.pointXs.push_back(v);
    } else {
        readNamedShape(tb, construct, line);
    }
    expect(";", construct, line);
    return tb;
}

// (x, y) (x, y) ...: trimf or trapmf when it is one exactly, else pointsmf.
void FclReader::readPointList(TermBlock &tb, const std::string &construct, int line) {
    std::vector<double> params;
    while (!atEnd() && peek().text == "(") {
        ++at_;
        double x = number(construct, line);
        expect(",", construct, line);
        double y = number(construct, line);
        expect(")", construct, line);
        if (!tb.pointXs.empty() && x < tb.pointXs.back()) fail(line, construct, "the points' x must not decrease");
        tb.pointXs.push_back(x);
        params.push_back(x);
        params.push_back(y);
    }
    size_t n = tb.pointXs.size();
    const std::vector<double> &p = params;
    auto increasing = [&]() {
        for (size_t k = 1; k < n; ++k) {
            if (!(tb.pointXs[k - 1] < tb.pointXs[k])) return false;
        }
        return true;
    };
    // A triangle or trapezoid with distinct corners is exactly trimf or
    // trapmf: the piecewise-linear function computes its ramps the same way.
    if (n == 3 && increasing() && p[1] == 0.0 && p[3] == 1.0 && p[5] == 0.0) {
        tb.term.type = "trimf";
        tb.term.params = {p[0], p[2], p[4]};
    } else if (n == 4 && increasing() && p[1] == 0.0 && p[3] == 1.0 && p[5] == 1.0 && p[7] == 0.0) {
        tb.term.type = "trapmf";
        tb.term.params = {p[0], p[2], p[4], p[6]};
    } else {
        if (n < 2) fail(line, construct, "a point list needs at least two points");
        tb.term.type = "pointsmf";
        tb.term.params = params;
    }
}

// Name p1 p2 ...: fuzzylite's class names, jFuzzyLogic's short ones, Linear,
// Ramp, Rectangle or a registered function.
void FclReader::readNamedShape(TermBlock &tb, const std::string &construct, int line) {
    Token shapeName = next(construct, line);
    // jFuzzyLogic's short names beside fuzzylite's class names.
    static const std::map<std::string, std::pair<std::string, std::vector<int>>> shortNames = {
        {"trian", {"trimf", {0, 1, 2}}},   {"trape", {"trapmf", {0, 1, 2, 3}}},
        {"gauss", {"gaussmf", {1, 0}}},     // mean, standard deviation
        {"gbell", {"gbellmf", {0, 1, 2}}},  // width, slope, centre
        {"sigm", {"sigmf", {0, 1}}},        // gain, centre
    };
    std::vector<double> values;
    while (!atEnd() && peek().text != ";") values.push_back(number(construct, line));
    const PeerShape *peer = peerShapeOfPeerName(shapeName.text);
    auto shortName = shortNames.find(shapeName.text);
    if (shapeName.text == "Linear") {
        tb.isLinear = true;
        tb.term.type = "linear";
        tb.term.params = values;
        // fuzzylite adds the constant only when it is there.
        if (values.size() == inputs_.size()) tb.term.params.push_back(0.0);
    } else if (shapeName.text == "Ramp" || shapeName.text == "Rectangle") {
        if (std::string why = dropTermHeight(values, 2); !why.empty()) fail(line, construct, why);
        if (std::string why = termOfLineShape(shapeName.text, values, tb.term); !why.empty())
            fail(line, construct, why);
        if (tb.term.type == "pointsmf") tb.pointXs = {tb.term.params[0], tb.term.params[2]};
    } else if (peer != nullptr && std::string(peer->ourType) != "constant") {
        if (std::string why = dropTermHeight(values, peer->peerOrder.size()); !why.empty()) fail(line, construct, why);
        if (values.size() != peer->peerOrder.size()) {
            fail(line, construct,
                 shapeName.text + " takes " + std::to_string(peer->peerOrder.size()) + " numbers, got " +
                     std::to_string(values.size()));
        }
        tb.term.type = peer->ourType;
        tb.term.params = fromPeerOrder(*peer, values);
        if (std::string why = builtins::shapeParameterProblem(tb.term.type, tb.term.params); !why.empty())
            fail(line, construct, why);
    } else if (shortName != shortNames.end()) {
        const std::vector<int> &order = shortName->second.second;
        if (values.size() != order.size()) {
            fail(line, construct,
                 shapeName.text + " takes " + std::to_string(order.size()) + " numbers, got " +
                     std::to_string(values.size()));
        }
        tb.term.type = shortName->second.first;
        tb.term.params.assign(order.size(), 0.0);
        for (size_t k = 0; k < order.size(); ++k) tb.term.params[static_cast<size_t>(order[k])] = values[k];
    } else if (isRegisteredFunction(shapeName.text)) {
        tb.term.type = shapeName.text;  // a host function's parameters, in its own order
        tb.term.params = values;
    } else {
        fail(shapeName.line, construct,
             "unknown or unsupported shape \"" + shapeName.text + "\" (nor a registered function)" +
                 closestNameSuggestion(shapeName.text, fclShapeNames()));
    }
    if (tb.term.type == "trimf" || tb.term.type == "trapmf") tb.pointXs = tb.term.params;
}

void FclReader::readVariableBlock(bool isOutput, int line) {
    const char *block = isOutput ? "DEFUZZIFY" : "FUZZIFY";
    const char *endWord = isOutput ? "END_DEFUZZIFY" : "END_FUZZIFY";
    std::string varName = name(block, line);
    // A block for an undeclared variable is still read, for its own problems.
    VariableBlock undeclared;
    undeclared.name = varName;
    VariableBlock *v = &undeclared;
    problems_.attempt([&] { v = &variableNamed(isOutput ? outputs_ : inputs_, varName, block, line); });
    v->hasBlock = true;
    v->blockLine = line;
    std::string construct = std::string(block) + " " + varName;
    while (!isKeyword(endWord)) {
        if (atEnd() || isAtBlockWord()) {
            problems_.attempt([&] { fail(line, construct, std::string("not terminated (missing ") + endWord + ")"); });
            return;
        }
        if (!problems_.attempt([&] { readVariableStatement(*v, isOutput, construct, line); })) skipStatement();
    }
    ++at_;
}

void FclReader::readVariableStatement(VariableBlock &v, bool isOutput, const std::string &construct, int line) {
    const std::string &varName = v.name;
    Token t = next(construct, line);
    std::string word = upper(t.text);
    if (word == "TERM") {
        TermBlock tb;
        tb.term.name = atEnd() ? "" : peek().text;
        tb.line = t.line;
        tb.isUnread = true;
        try {
            tb = readTerm(t.line, varName);
        } catch (const orvane::HostError &) {
            v.terms.push_back(tb);  // so that rules naming it say nothing more
            throw;
        }
        std::string second =
            secondTermProblem(v.terms, tb.term.name, [](const TermBlock &other) { return other.term.name; });
        if (!second.empty()) fail(t.line, "TERM " + tb.term.name + " of " + varName, second);
        v.terms.push_back(tb);
    } else if (word == "RANGE") {
        expect(":=", "RANGE of " + varName, t.line);
        expect("(", "RANGE of " + varName, t.line);
        double lo = number("RANGE of " + varName, t.line);
        expect("..", "RANGE of " + varName, t.line);
        double hi = number("RANGE of " + varName, t.line);
        expect(")", "RANGE of " + varName, t.line);
        expect(";", "RANGE of " + varName, t.line);
        if (!(lo < hi)) fail(t.line, "RANGE of " + varName, "the low end must be below the high end");
        v.range = std::make_pair(lo, hi);
    } else if (isOutput && word == "METHOD") {
        expect(":", "METHOD of " + varName, t.line);
        v.method = fclWordOrName(next("METHOD of " + varName, t.line).text, FCL_METHOD_WORDS);
        v.methodLine = t.line;
        expect(";", "METHOD of " + varName, t.line);
    } else if (isOutput && word == "DEFAULT") {
        expect(":=", "DEFAULT of " + varName, t.line);
        Token value = next("DEFAULT of " + varName, t.line);
        // NC keeps the previous value; with none (each row stands alone) it is NaN, as in fuzzylite.
        double d = std::nan("");
        if (upper(value.text) != "NC" && !parseNumber(value.text, d)) {
            fail(t.line, "DEFAULT of " + varName, "expected a number, got \"" + value.text + "\"");
        }
        v.defaultValue = d;
        v.defaultText = value.text;
        v.defaultLine = t.line;
        expect(";", "DEFAULT of " + varName, t.line);
    } else if (isOutput && word == "ACCU") {
        expect(":", "ACCU of " + varName, t.line);
        v.accu = fclWordOrName(next("ACCU of " + varName, t.line).text, {"MAX", "ASUM", "BSUM", "NSUM", "SUM"});
        v.accuLine = t.line;
        expect(";", "ACCU of " + varName, t.line);
    } else {
        std::vector<std::string> known = {"TERM", "RANGE"};
        if (isOutput) known.insert(known.end(), {"METHOD", "DEFAULT", "ACCU"});
        fail(t.line, construct, "\"" + t.text + "\" is not supported here" + closestNameSuggestion(t.text, known));
    }
}

void FclReader::readRuleBlock(int line) {
    std::string blockName = atEnd() ? "" : peek().text;
    if (!atEnd() && upper(blockName) != "AND" && upper(blockName) != "OR" && upper(blockName) != "RULE" &&
        upper(blockName) != "ACT" && upper(blockName) != "ACCU" && !isAtBlockWord()) {
        ++at_;
    }
    std::string construct = "RULEBLOCK " + blockName;
    while (!isKeyword("END_RULEBLOCK")) {
        if (atEnd() || isAtBlockWord()) {
            problems_.attempt([&] { fail(line, construct, "not terminated (missing END_RULEBLOCK)"); });
            return;
        }
        if (!problems_.attempt([&] { readRuleBlockStatement(construct, line); })) skipStatement();
    }
    ++at_;
}

void FclReader::readRuleBlockStatement(const std::string &construct, int line) {
    Token t = next(construct, line);
    std::string word = upper(t.text);
    if (word == "AND" || word == "OR" || word == "ACT" || word == "ACCU") {
        expect(":", word, t.line);
        std::string value =
            fclWordOrName(next(word, t.line).text, {"MIN", "PROD", "BDIF", "MAX", "ASUM", "BSUM", "NSUM", "SUM"});
        expect(";", word, t.line);
        FileSetting &s = word == "AND" ? and_ : word == "OR" ? or_ : word == "ACT" ? act_ : accu_;
        mergeSetting(s, value, t.line, word.c_str());
    } else if (word == "RULE") {
        Token number = next("RULE", t.line);
        expect(":", "RULE " + number.text, t.line);
        RuleText rule;
        rule.line = t.line;
        // A rule ends at ";", or, as some tools write it, where the next one starts.
        while (!atEnd() && peek().text != ";" && upper(peek().text) != "RULE" && !isAtBlockWord()) {
            // Conclusions may be joined by "," as well as by AND.
            const std::string &w = tokens_[at_++].text;
            rule.words.push_back(w == "," ? std::string("and") : w);
        }
        if (!atEnd() && peek().text == ";") ++at_;
        rules_.push_back(std::move(rule));
    } else {
        fail(t.line, construct,
             "\"" + t.text + "\" is not supported here" +
                 closestNameSuggestion(t.text, {"AND", "OR", "ACT", "ACCU", "RULE", "END_RULEBLOCK"}));
    }
}

// ---- The system.

// Point lists, singletons, triangles and trapezoids give their x span;
// other shapes have no points to take it from.
VariableDescription FclReader::finishVariable(VariableBlock &v, bool isOutput, bool isSugeno) {
    const char *block = isOutput ? "DEFUZZIFY" : "FUZZIFY";
    // Each problem is said, and the variable keeps its name and terms for the rules.
    VariableDescription var;
    var.name = v.name;
    var.low = 0.0;
    var.high = 1.0;
    if (!v.hasBlock && isOutput) return var;  // said with the outputs' methods
    problems_.attempt([&] {
        if (!v.hasBlock) fail(v.line, v.name, std::string("declared, but has no ") + block + " block");
    });
    for (const TermBlock &tb : v.terms) {
        var.terms.push_back(tb.term);
        if (!tb.isUnread) problems_.attempt([&] { checkTerm(tb, v.name, isOutput, isSugeno); });
    }
    problems_.attempt([&] { setRange(v, var, block); });
    if (isOutput && v.defaultValue) {
        var.defaultValue = outputDefault(*v.defaultValue, var.low, var.high);
        if (upper(v.defaultText) == "NC") {
            warnings_.push_back({"fazolt:fcl:Default", fileName_ + ":" + std::to_string(v.defaultLine) + ": DEFAULT of " +
                                                           v.name +
                                                           ": NC is read as NaN: each row here is evaluated on its "
                                                           "own, with no previous value to keep"});
        }
    }
    return var;
}

void FclReader::checkTerm(const TermBlock &tb, const std::string &varName, bool isOutput, bool isSugeno) const {
    std::string construct = "TERM " + tb.term.name + " of " + varName;
    bool isSugenoTerm = tb.isSingleton || tb.isLinear;
    const char *kind = tb.isSingleton ? "a singleton" : "a Linear";
    if (isSugenoTerm && !isOutput) fail(tb.line, construct, std::string(kind) + " input term is not supported");
    if (isSugenoTerm && !isSugeno) fail(tb.line, construct, std::string(kind) + " output term needs METHOD : COGS");
    if (!isSugenoTerm && isSugeno) fail(tb.line, construct, "METHOD : COGS takes singleton and Linear terms only");
    if (tb.isLinear && tb.term.params.size() != inputs_.size() + 1) {
        fail(tb.line, construct,
             "Linear takes " + std::to_string(inputs_.size() + 1) +
                 " coefficients (one per input, then the constant, which may be left out), got " +
                 std::to_string(tb.term.params.size()));
    }
}

void FclReader::setRange(const VariableBlock &v, VariableDescription &var, const char *block) const {
    if (v.range) {
        var.low = v.range->first;
        var.high = v.range->second;
        return;
    }
    bool hasSpan = !v.terms.empty();
    double lo = INFINITY, hi = -INFINITY;
    for (const TermBlock &tb : v.terms) {
        if (tb.pointXs.empty() && !tb.isUnread) hasSpan = false;
        for (double x : tb.pointXs) {
            lo = std::fmin(lo, x);
            hi = std::fmax(hi, x);
        }
    }
    if (!hasSpan || !(lo < hi)) {
        fail(v.blockLine, std::string(block) + " " + v.name,
             "missing RANGE (needed: the terms' points do not give a span)");
    }
    var.low = lo;
    var.high = hi;
}

const NameTable FCL_AND = {{"min", "MIN"}, {"prod", "PROD"}, {"bdif", "BDIF"}};
const NameTable FCL_OR = {{"max", "MAX"}, {"probor", "ASUM"}, {"bsum", "BSUM"}};
const NameTable FCL_ACT = {{"min", "MIN"}, {"prod", "PROD"}};
const NameTable FCL_ACCU = {{"max", "MAX"}, {"probor", "ASUM"}, {"bsum", "BSUM"}, {"nsum", "NSUM"}, {"sum", "SUM"}};
const NameTable FCL_METHOD = {{"centroid", "COG"}, {"bisector", "COA"}, {"mom", "MM"}};

void FclReader::readMethod(SystemDescription &m, const std::string &method, int methodLine, bool isSugeno) const {
    if (method == "LM" || method == "RM") {
        for (const VariableDescription &v : m.outputs) {
            std::string ours = methodForMaximumSide(method == "LM", v.low, v.high);
            if (ours.empty()) {
                fail(methodLine, "METHOD " + method,
                     "the range of " + v.name + " crosses 0: the maximum nearest to 0 is not the " +
                         (method == "LM" ? "leftmost" : "rightmost"));
            }
            if (&v != &m.outputs.front() && m.defuzzMethod != ours) {
                fail(methodLine, "METHOD " + method, "the outputs' ranges lie on different sides of 0");
            }
            m.defuzzMethod = ours;
        }
    } else if (!isSugeno && !method.empty()) {
        m.defuzzMethod = ourMethodName(FCL_METHOD, method);
        if (m.defuzzMethod.empty()) fail(methodLine, "METHOD " + method, unsupportedName(method, FCL_METHOD_WORDS));
    }
}

SystemDescription FclReader::read() {
    // A problem that ends the reading joins those said before it.
    SystemDescription m;
    problems_.attempt([&] { m = readAll(); });
    problems_.raiseIfAny();
    return m;
}

// FUNCTION_BLOCK and its blocks, each read into the reader's state; returns
// the line of FUNCTION_BLOCK.
int FclReader::readBlocks() {
    tokenize();
    if (!isKeyword("FUNCTION_BLOCK")) fail(atEnd() ? endLine_ : peek().line, "file", "expected FUNCTION_BLOCK");
    int fbLine = peek().line;
    ++at_;
    if (!atEnd() && upper(peek().text).rfind("VAR_", 0) != 0 && upper(peek().text) != "END_FUNCTION_BLOCK") {
        systemName_ = name("FUNCTION_BLOCK", fbLine);
    }
    while (!isKeyword("END_FUNCTION_BLOCK")) {
        if (atEnd()) {
            problems_.attempt([&] { fail(fbLine, "FUNCTION_BLOCK", "not terminated (missing END_FUNCTION_BLOCK)"); });
            break;
        }
        Token t = tokens_[at_++];
        std::string word = upper(t.text);
        if (std::find(FCL_OPENING_WORDS.begin(), FCL_OPENING_WORDS.end(), word) == FCL_OPENING_WORDS.end()) {
            std::string suggestion = closestNameSuggestion(t.text, FCL_OPENING_WORDS);
            problems_.attempt([&] { fail(t.line, "FUNCTION_BLOCK", "\"" + t.text + "\" is not supported here" + suggestion); });
            // A misspelt block word is read as the word meant, so that its block
            // says nothing more; any other word skips on to the next block.
            word.clear();
            for (const std::string &w : FCL_OPENING_WORDS) {
                if (w != "END_FUNCTION_BLOCK" && suggestion.find("\"" + w + "\"") != std::string::npos) word = w;
            }
            if (word.empty()) {
                while (!atEnd() && !isAtOpeningWord()) ++at_;
                continue;
            }
        }
        if (word == "VAR_INPUT") {
            readDeclarations(inputs_, "END_VAR", t.line);
        } else if (word == "VAR_OUTPUT") {
            readDeclarations(outputs_, "END_VAR", t.line);
        } else if (word == "FUZZIFY") {
            readVariableBlock(false, t.line);
        } else if (word == "DEFUZZIFY") {
            readVariableBlock(true, t.line);
        } else if (word == "RULEBLOCK") {
            readRuleBlock(t.line);
        }
    }
    if (!atEnd()) ++at_;
    if (!atEnd()) problems_.attempt([&] { fail(peek().line, "file", "text after END_FUNCTION_BLOCK"); });

    return fbLine;
}

SystemDescription FclReader::readAll() {
    int fbLine = readBlocks();
    SystemDescription m;
    m.name = systemName_;
    if (outputs_.empty()) {
        problems_.attempt([&] { fail(fbLine, "FUNCTION_BLOCK", "no VAR_OUTPUT variable"); });
        problems_.raiseIfAny();
    }
    // One defuzzification method for the whole system: COGS makes it Sugeno.
    FileSetting methodSetting;
    for (const VariableBlock &v : outputs_) {
        problems_.attempt([&] {
            if (!v.accu.empty()) mergeSetting(accu_, v.accu, v.accuLine, "ACCU");
            if (!v.hasBlock) fail(v.line, v.name, "declared, but has no DEFUZZIFY block");
            if (v.method.empty()) fail(v.blockLine, "DEFUZZIFY " + v.name, "missing METHOD");
            mergeSetting(methodSetting, v.method, v.methodLine, "METHOD of " + v.name, "method");
        });
    }
    const std::string &method = methodSetting.value;
    const int methodLine = methodSetting.line;
    bool isSugeno = method == "COGS";
    m.type = isSugeno ? "sugeno" : "mamdani";
    setDefaultMethods(m);
    if (numSamples_ > 0) m.numSamples = numSamples_;
    for (VariableBlock &v : inputs_) m.inputs.push_back(finishVariable(v, false, false));
    for (VariableBlock &v : outputs_) m.outputs.push_back(finishVariable(v, true, isSugeno));

    problems_.attempt([&] { readMethod(m, method, methodLine, isSugeno); });
    // A setting the file leaves out keeps the default of the system's type.
    const std::tuple<const FileSetting *, const NameTable *, std::string *, const char *> settings[] = {
        {&and_, &FCL_AND, &m.andMethod, "AND"},
        {&or_, &FCL_OR, &m.orMethod, "OR"},
        {&act_, &FCL_ACT, &m.impMethod, "ACT"},
        {&accu_, &FCL_ACCU, &m.aggMethod, "ACCU"}};
    for (const auto &[setting, table, ours, key] : settings) {
        if (setting->value.empty()) continue;
        std::string name = ourMethodName(*table, setting->value);
        if (!name.empty()) {
            *ours = name;
            continue;
        }
        problems_.attempt([&, &setting = setting, &key = key, &table = table] {
            fail(setting->line, std::string(key) + " " + setting->value,
                 unsupportedName(setting->value, theirNames(*table)));
        });
    }

    for (const RuleText &r : rules_) {
        auto failRule = [&](const std::string &what) { fail(r.line, "RULE", what); };
        problems_.attempt([&] { m.rules.push_back(parseRuleWords(r.words, m, true, failRule)); });
    }
    // Only about rules that were all read.
    problems_.raiseIfAny();
    size_t badRule = 0;
    if (std::string why = sugenoRuleMissingOutput(m, badRule); !why.empty()) fail(rules_[badRule].line, "RULE", why);
    // The weighted average runs over rules; COGS with ACCU MAX takes one
    // degree per term, which is the same only while no two rules conclude
    // the same singleton.
    if (isSugeno && m.aggMethod != "sum") {
        for (size_t o = 0; o < m.outputs.size(); ++o) {
            for (size_t a = 0; a < m.rules.size(); ++a) {
                for (size_t b = a + 1; b < m.rules.size(); ++b) {
                    double ca = m.rules[a].consequent[o];
                    if (ca != 0.0 && ca == m.rules[b].consequent[o]) {
                        fail(rules_[b].line, "RULE",
                             "with COGS and ACCU " + accu_.value + ", two rules concluding " + m.outputs[o].name +
                                 " IS " + m.outputs[o].terms[static_cast<size_t>(ca) - 1].name +
                                 " would be accumulated first; use ACCU : SUM");
                    }
                }
            }
        }
    }
    m.warnings = std::move(warnings_);
    return m;
}

// ---- The writer.

[[noreturn]] void refuse(const std::string &what) { throw orvane::HostError(ids::fclUnsupported, what); }

std::string termText(const TermInfo &t, const std::string &where) {
    const std::vector<double> &p = t.params;
    for (double v : p) {
        if (!std::isfinite(v)) refuse(where + ": parameter " + numberText(v) + " is not a finite number");
    }
    if (t.type == "trimf" && p[0] < p[1] && p[1] < p[2]) {
        return "(" + numberText(p[0]) + ", 0) (" + numberText(p[1]) + ", 1) (" + numberText(p[2]) + ", 0)";
    }
    if (t.type == "trapmf" && p[0] < p[1] && p[1] < p[2] && p[2] < p[3]) {
        return "(" + numberText(p[0]) + ", 0) (" + numberText(p[1]) + ", 1) (" + numberText(p[2]) + ", 1) (" +
               numberText(p[3]) + ", 0)";
    }
    if (t.type == "pointsmf" && p.size() >= 4 && p.size() % 2 == 0) {
        std::string text;
        for (size_t k = 0; k < p.size(); k += 2) {
            if (k > 0 && p[k] < p[k - 2]) refuse(where + ": the points' x decrease");
            text += (k > 0 ? " (" : "(") + numberText(p[k]) + ", " + numberText(p[k + 1]) + ")";
        }
        return text;
    }
    if (t.type == "constant") return numberText(p[0]);
    if (t.type == "linear") {
        std::string text = "Linear";
        for (double v : p) text += " " + numberText(v);
        return text;
    }
    const PeerShape *peer = peerShapeOfOurType(t.type);
    if (peer == nullptr) refuse(where + ": membership function \"" + t.type + "\" has no FCL form");
    std::string text = peer->peerName;
    for (double v : toPeerOrder(*peer, p)) text += " " + numberText(v);
    return text;
}

std::string rangeText(const VariableDescription &v) {
    return "  RANGE := (" + numberText(v.low) + " .. " + numberText(v.high) + ");\n";
}

std::string fclOperator(const std::string &method, const char *construct, const NameTable &table) {
    std::string word = theirName(table, method);
    if (word.empty()) refuse(std::string(construct) + ": method \"" + method + "\" has no FCL form");
    return word;
}

std::string ruleLine(const RuleDescription &rule, const SystemDescription &m, size_t k) {
    std::string where = "rules[" + std::to_string(k) + "]: ";
    // Keywords in lower case: FCL reads them in any case, fuzzylite only so.
    std::string words =
        languageRuleWords(rule, m, [&](const std::string &why) { refuse(where + why + " has no FCL form"); });
    return "  RULE " + std::to_string(k + 1) + " : " + words + ";\n";
}

}  // namespace

std::string writeFcl(const SystemDescription &m) {
    for (const std::vector<VariableDescription> *vars : {&m.inputs, &m.outputs}) {
        for (const VariableDescription &v : *vars) {
            if (!isFclName(v.name)) refuse("variable \"" + v.name + "\": not an FCL name");
            for (const TermInfo &t : v.terms) {
                if (!isFclName(t.name)) refuse("term \"" + t.name + "\" of " + v.name + ": not an FCL name");
            }
            if (!std::isfinite(v.low) || !std::isfinite(v.high) || !(v.low < v.high)) {
                refuse("range of " + v.name + ": FCL needs finite ends, low below high");
            }
            if (v.clamp) refuse("clamp of " + v.name + ": FCL has no way to bound a value to its range");
        }
    }
    bool isSugeno = !m.isMamdani();
    size_t badRule = 0;
    if (std::string why = sugenoRuleMissingOutput(m, badRule); !why.empty())
        refuse("rules[" + std::to_string(badRule) + "]: " + why);
    std::string method;
    if (isSugeno) {
        if (m.defuzzMethod != "wtaver")
            refuse("defuzzMethod \"" + m.defuzzMethod + "\": a Sugeno system in FCL is COGS, the weighted average");
        method = "COGS";
    } else if (m.defuzzMethod == "som" || m.defuzzMethod == "lom") {
        for (const VariableDescription &v : m.outputs) {
            std::string side = maximumSideOfMethod(m.defuzzMethod, v.low, v.high);
            std::string thisMethod = side == "leftmost" ? "LM" : side == "rightmost" ? "RM" : "";
            if (thisMethod.empty() || (!method.empty() && method != thisMethod)) {
                refuse("defuzzMethod \"" + m.defuzzMethod +
                       "\": picks by magnitude, which is LM or RM only on ranges of one sign");
            }
            method = thisMethod;
        }
    } else {
        method = fclOperator(m.defuzzMethod, "defuzzMethod", FCL_METHOD);
    }
    std::string andText = fclOperator(m.andMethod, "andMethod", FCL_AND);
    std::string orText = fclOperator(m.orMethod, "orMethod", FCL_OR);
    std::string actText = fclOperator(m.impMethod, "impMethod", FCL_ACT);
    std::string accuText = fclOperator(m.aggMethod, "aggMethod", FCL_ACCU);

    if (!m.name.empty() && !isFclName(m.name)) refuse("name \"" + m.name + "\": not an FCL name");
    std::string out = "FUNCTION_BLOCK " + m.name + "\n\n";
    if (m.numSamples != defaults::kNumSamples) out += "// numSamples := " + std::to_string(m.numSamples) + "\n\n";
    out += "VAR_INPUT\n";
    for (const VariableDescription &v : m.inputs) out += "  " + v.name + " : REAL;\n";
    out += "END_VAR\n\nVAR_OUTPUT\n";
    for (const VariableDescription &v : m.outputs) out += "  " + v.name + " : REAL;\n";
    out += "END_VAR\n\n";
    for (const VariableDescription &v : m.inputs) {
        out += "FUZZIFY " + v.name + "\n" + rangeText(v);
        for (const TermInfo &t : v.terms) {
            if (isHedgedTerm(t)) continue;  // said in the rules
            if (t.type == "constant")
                refuse("term " + t.name + " of " + v.name + ": a singleton input has no FCL form");
            out += "  TERM " + t.name + " := " + termText(t, "term " + t.name + " of " + v.name) + ";\n";
        }
        out += "END_FUZZIFY\n\n";
    }
    for (const VariableDescription &v : m.outputs) {
        out += "DEFUZZIFY " + v.name + "\n" + rangeText(v);
        for (const TermInfo &t : v.terms) {
            std::string where = "term " + t.name + " of " + v.name;
            if (isHedgedTerm(t)) refuse(where + ": " + HEDGED_OUTPUT);
            if (isSugeno && t.type != "constant" && t.type != "linear") {
                refuse(where + ": \"" + t.type + "\" output (FCL has singletons and fuzzylite's Linear)");
            }
            if (!isSugeno && t.type == "constant") refuse(where + ": a singleton in a Mamdani output");
            out += "  TERM " + t.name + " := " + termText(t, where) + ";\n";
        }
        // ACCU here rather than in the RULEBLOCK: both are read, and fuzzylite reads only this one.
        // A Sugeno system without ACCU reads as "sum", the weighted average over the rules.
        std::string accu = isSugeno && m.aggMethod == "sum" ? "" : "  ACCU : " + accuText + ";\n";
        out += "  METHOD : " + method + ";\n" + accu + "  DEFAULT := " + defaultText(v) + ";\nEND_DEFUZZIFY\n\n";
    }
    out += "RULEBLOCK rules\n  AND : " + andText + ";\n  OR : " + orText + ";\n  ACT : " + actText + ";\n";
    for (size_t k = 0; k < m.rules.size(); ++k) out += ruleLine(m.rules[k], m, k);
    out += "END_RULEBLOCK\n\nEND_FUNCTION_BLOCK\n";
    return out;
}

SystemDescription readFcl(std::string_view text, const std::string &fileName) { return FclReader(text, fileName).read(); }

}  // namespace fazolt::formats
