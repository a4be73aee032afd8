// What the FCL and FLL readers and writers share around the description
// type (description/systemDescription.h), which they fill and read, so that
// each language only maps its own words.
#ifndef FAZOLT_FORMATS_LANGUAGES_H
#define FAZOLT_FORMATS_LANGUAGES_H

#include "common/words.h"
#include "description/systemDescription.h"

#include <fazolt/explain.h>
#include <fazolt/formats.h>
#include <orvane/host.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fazolt::formats {

// FCL or FLL text (a UTF-8 byte-order mark skipped) to a description, the
// reader's warnings in it, printable. Unchecked: loading checks it as it
// builds the record.
SystemDescription readFile(std::string_view text, SystemFormat format, const std::string &fileName);

// Each language's reader and writer.
SystemDescription readFcl(std::string_view text, const std::string &fileName);
SystemDescription readFll(std::string_view text, const std::string &fileName);
std::string writeFcl(const SystemDescription &description);
std::string writeFll(const SystemDescription &description);

// A name the languages do not know that names a registered host function,
// which a file may use as a method or a term type, as a description may.
bool isRegisteredFunction(const std::string &name);

// The problems of one file, reported together in one error (identifier,
// one "file:line: construct: what" per line), so that a file needs one run
// to see them all. A reader runs each independent step through attempt().
class FileProblems {
public:
    explicit FileProblems(std::string identifier) : identifier_(std::move(identifier)) {}
    // Runs step; a reader error of this identifier is kept and false
    // returned. Past the limit, raises everything kept so far.
    bool attempt(const std::function<void()> &step);
    // Raises the problems kept, if any.
    void raiseIfAny() const;

private:
    [[noreturn]] void raise(bool isCut) const;
    std::string identifier_;
    std::vector<std::string> messages_;
    mutable bool hasRaised_ = false;  // its own error passes through attempt()
};

// One parsed rule text, for the readers: "x is a and y is not b then z is c
// with 0.5" as words. Keywords compare in lower case when foldCase is set.
// fail(message) must not return.
// A hedged input ("very warm") adds its term (builtins/hedges.cpp) to the
// variable at its first use, named "very_warm".
RuleDescription parseRuleWords(const std::vector<std::string> &words, SystemDescription &model, bool foldCase,
                               const std::function<void(const std::string &)> &fail);
// Whether a term is a hedged one (builtins/hedges.cpp); the writers write
// it in the rules, as its hedges and its base term's name.
bool isHedgedTerm(const TermInfo &term);
// Why the writers refuse a hedged output term.
inline constexpr char HEDGED_OUTPUT[] =
    "a hedged output term: the languages hedge a conclusion's activation degree, not its set";
// "very warm" for a hedged term, "" for another; refuses one whose base is
// no term of the variable.
std::string hedgedTermWords(const VariableDescription &var, const TermInfo &term,
                            const std::function<void(const std::string &)> &refuse);
// A rule as the languages write it (ruleWords with hedged terms spelt out).
std::string languageRuleWords(const RuleDescription &rule, const SystemDescription &model,
                              const std::function<void(const std::string &)> &refuse);

// Membership shapes under fuzzylite's class names (FLL, and FCL's named
// terms): our type and the order of its parameters in the peer's list.
struct PeerShape {
    const char *ourType;
    const char *peerName;
    std::vector<int> peerOrder;  // peerParams[k] = ourParams[peerOrder[k]]
};
const std::vector<PeerShape> &peerShapes();
const PeerShape *peerShapeOfPeerName(std::string_view peerName);
const PeerShape *peerShapeOfOurType(std::string_view ourType);
std::vector<double> toPeerOrder(const PeerShape &shape, const std::vector<double> &ours);
std::vector<double> fromPeerOrder(const PeerShape &shape, const std::vector<double> &peers);

// A method's name here and in another language: one table per setting,
// read both ways. A lookup gives "" for a name the table lacks.
struct NamePair {
    const char *ours;
    const char *theirs;
};
using NameTable = std::vector<NamePair>;
std::string theirName(const NameTable &table, const std::string &ours);
std::string ourName(const NameTable &table, const std::string &theirs);
// The table's names in the other language, in order.
std::vector<std::string> theirNames(const NameTable &table);
// ourName, or the name itself when it names a registered host function
// (which a file may use as a method); "" for neither.
std::string ourMethodName(const NameTable &table, const std::string &theirs);
// "not supported (A, B, or a registered function); did you mean "B"?"
std::string unsupportedName(const std::string &word, const std::vector<std::string> &names);

// A Sugeno output here is weighted over every rule's strength; in the
// languages (FCL's COGS, fuzzylite) over the rules that conclude it, and with
// no such rule fired it takes its default. The two agree only while every
// rule concludes every output. Returns why rule `ruleIndex` breaks that, or
// "" (also for Mamdani systems).
std::string sugenoRuleMissingOutput(const SystemDescription &model, size_t &ruleIndex);

// A setting a file may state once per block but that holds for the whole
// system (a connective, an aggregation): its value and the line that set it.
struct FileSetting {
    std::string value;
    int line = 0;
};
// Takes value (read at line) into setting; returns the error text when the
// setting already holds a different value, else "". `kind` names what the
// setting is in that text ("one method for the whole system").
std::string mergeFileSetting(FileSetting &setting, const std::string &value, int line, const char *kind = "setting");

// Why a term called `name` cannot join a variable's terms, or "": every term
// name once. nameOf gives a term's name.
template <class T, class NameOf>
std::string secondTermProblem(const std::vector<T> &terms, const std::string &name, NameOf nameOf) {
    for (const T &t : terms) {
        if (nameOf(t) == name) return "a second term of this name";
    }
    return "";
}

// fuzzylite's shapes that have an exact form here without an entry in
// peerShapes: Ramp (a two-point line, held beyond its ends) and Rectangle
// (trapmf s s e e). Sets term.type and params and returns "" on success,
// returns why not for a bad parameter list, and leaves term.type empty for
// any other name.
std::string termOfLineShape(const std::string &peerName, const std::vector<double> &values, TermInfo &term);

// A term's parameters after fuzzylite's optional trailing height: with one
// more number than `count`, that number must be 1 (the engine's shapes
// reach 1; fuzzylite scales the degree by it). Returns why not, or "".
std::string dropTermHeight(std::vector<double> &values, size_t count);

// An output's DEFAULT as read: nothing for its range's midpoint (what the
// module gives when no rule fired), else the value.
std::optional<double> outputDefault(double value, double low, double high);
// A default as the languages write it: the midpoint when there is none,
// "nan" for NaN.
std::string defaultText(const VariableDescription &output);

// Whole-token number reading: false for anything else (and for NaN/Inf text
// when finiteOnly).
bool parseNumber(std::string_view text, double &value);

// The smallest-of-maximum and largest-of-maximum methods pick by magnitude:
// on a range of one sign that is the leftmost or the rightmost maximum.
// Returns "som"/"lom" for "leftmost"/"rightmost" (or the reverse), "" when
// the range crosses zero.
std::string methodForMaximumSide(bool isLeftmost, double low, double high);
// The inverse: "leftmost", "rightmost" or "".
std::string maximumSideOfMethod(const std::string &method, double low, double high);

}  // namespace fazolt::formats

#endif
