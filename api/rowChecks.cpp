// The checks around a module call that the module leaves to its caller, and
// its diagnostics as a user reads them.
//
// The module evaluates a NaN input as it stands and never looks at what it
// returns, so a missing reading or an overflow comes out as a confident
// number: both are checked here, on the block's inputs and outputs, without
// touching a bit of either. Its diagnostics name inputs and outputs by number
// and give no row. An input outside its range is found on its row by
// comparing it with the range again. Rows are evaluated independently and
// warned about in row order, so the row of any other warning is found by
// evaluating parts of the block again, and the row of an error by evaluating
// prefixes of it: calls made only when there is something to report, and
// only for the warnings that will be shown.
//
// A block split across threads gives what the whole block gives in one call:
// each part is checked with rows named by their place in the block, and the
// parts' warnings are put in the one call's order.
//
// Sections: the block, finding rows, wording, the checked call, split across
// threads.
#include "fazolt/fazolt.h"
#include "function_uses.h"
#include "warningPlace.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <thread>

namespace fazolt {
namespace {

constexpr const char *kNaNInput = ids::inputsNaN;
constexpr const char *kNonFiniteOutput = ids::outputsNonFinite;

enum class Diagnostic { outOfRange, noRuleFired, emptySet, other };

// Both the warning's and the error's identifier of each diagnostic.
Diagnostic diagnosticOf(const std::string &identifier) {
    if (identifier == ids::moduleOutOfRangeInput) return Diagnostic::outOfRange;
    if (identifier == ids::moduleNoRuleFiredWarning || identifier == ids::moduleNoRuleFired) return Diagnostic::noRuleFired;
    if (identifier == ids::moduleZeroMembershipValueWarning || identifier == ids::moduleZeroMembershipValue)
        return Diagnostic::emptySet;
    return Diagnostic::other;
}

bool isReported(Report mode) { return mode == Report::warning || mode == Report::error; }

// ---- The block: a rows x inputs double matrix, column-major.

struct Block {
    const double *data = nullptr;
    int64_t numRows = 0;
    int64_t numInputs = 0;

    double at(int64_t r, int64_t i) const { return data[r + i * numRows]; }
    bool isFiniteRow(int64_t r) const {
        for (int64_t i = 0; i < numInputs; ++i)
            if (!std::isfinite(at(r, i))) return false;
        return true;
    }
    // Rows [first, first + count) as a host value of their own.
    orvane::Value rows(int64_t first, int64_t count) const {
        orvane::Value v = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {count, numInputs});
        for (int64_t i = 0; i < numInputs && count > 0; ++i)
            std::memcpy(v.pr() + i * count, data + first + i * numRows, static_cast<size_t>(count) * sizeof(double));
        return v;
    }
};

bool isDoubleMatrix(const orvane::Value &v) {
    return v && v.classId() == ZORB_DOUBLE_CLASS && !v.isComplex() && v.dims().size() == 2;
}

// (row, column) pairs in row order.
using Places = std::vector<std::pair<int64_t, int64_t>>;

// Warnings worded and given their row when RowChecks::numWanted is unset:
// what the tool and the Python package show.
constexpr int64_t kWantedPerIdentifier = defaults::kWarningsPerIdentifier;

struct WarningRows {
    std::vector<bool> isWanted;
    std::vector<int64_t> rows;  // -1 where not known
};

class CheckedCall {
public:
    CheckedCall(const System &system, const orvane::Value &inputs, const orvane::Value &diagnostics,
                const RowChecks &checks)
        : system_(system), inputs_(inputs), diagnostics_(diagnostics), checks_(checks) {
        block_.data = inputs.pr();
        block_.numRows = inputs.dims()[0];
        block_.numInputs = inputs.dims()[1];
    }
    orvane::CallOutcome run(int numResults);
    std::optional<int64_t> rowRaising() const;

private:
    orvane::CallOutcome evaluateRows(int64_t first, int64_t count) const {
        return system_.call(block_.rows(first, count), diagnostics_, 1);
    }
    Places nanInputs() const;
    Places nonFiniteOutputs(const orvane::CallOutcome &done, int64_t numRows) const;
    int64_t rowOfError(int64_t numRows, orvane::CallOutcome &before) const;
    WarningRows rowsOfWarnings(const std::vector<orvane::Warning> &warnings, int64_t numRows) const;
    void rowsOutOfRange(const std::vector<orvane::Warning> &warnings, int64_t numRows, size_t numNeeded,
                        std::vector<int64_t> &rows) const;
    void locate(int64_t first, int64_t count, const std::vector<orvane::Warning> &warnings, size_t begin, size_t end,
                const std::vector<bool> &isSought, std::vector<int64_t> &rows) const;

    std::string where(int64_t row) const;
    std::string inputName(int64_t i) const;
    std::string outputName(int64_t o) const;
    std::optional<std::string> moduleText(Diagnostic kind, bool isError, const std::vector<orvane::Value> &arguments,
                                          int64_t row) const;
    void reword(orvane::Warning &w, int64_t row) const;
    orvane::HostError moduleError(const orvane::HostError &error, int64_t row) const;
    orvane::Warning nanWarning(int64_t row, int64_t input) const;
    orvane::Warning nonFiniteWarning(const orvane::CallOutcome &done, int64_t row, int64_t output) const;

    const System &system_;
    const orvane::Value &inputs_;
    const orvane::Value &diagnostics_;
    const RowChecks &checks_;
    Block block_;
};

// ---- Finding rows.

Places CheckedCall::nanInputs() const {
    Places places;
    if (!isReported(checks_.nanInput)) return places;
    const int64_t n = block_.numRows * block_.numInputs;
    bool hasNaN = false;
    for (int64_t k = 0; k < n && !hasNaN; ++k) hasNaN = std::isnan(block_.data[k]);
    if (!hasNaN) return places;
    for (int64_t r = 0; r < block_.numRows; ++r)
        for (int64_t i = 0; i < block_.numInputs; ++i)
            if (std::isnan(block_.at(r, i))) places.emplace_back(r, i);
    return places;
}

// Outputs of rows [0, numRows) that are NaN or infinite although every input
// of their row is finite.
Places CheckedCall::nonFiniteOutputs(const orvane::CallOutcome &done, int64_t numRows) const {
    Places places;
    if (!isReported(checks_.nonFiniteOutput) || numRows == 0 || done.results.empty()) return places;
    const orvane::Value &y = done.results[0];
    if (!isDoubleMatrix(y) || y.dims()[0] != numRows) return places;
    const int64_t numOutputs = y.dims()[1];
    const double *p = y.pr();
    bool hasNonFinite = false;
    for (int64_t k = 0; k < numRows * numOutputs && !hasNonFinite; ++k) hasNonFinite = !std::isfinite(p[k]);
    if (!hasNonFinite) return places;
    for (int64_t r = 0; r < numRows; ++r) {
        if (!block_.isFiniteRow(r)) continue;
        for (int64_t o = 0; o < numOutputs; ++o)
            if (!std::isfinite(p[r + o * numRows])) places.emplace_back(r, o);
    }
    return places;
}

// The row that raised in rows [0, numRows), which raise together, and in
// `before` the call of the rows before it (none when it is row 0).
int64_t CheckedCall::rowOfError(int64_t numRows, orvane::CallOutcome &before) const {
    int64_t good = 0, bad = numRows;  // prefixes known to pass and to raise
    while (bad - good > 1) {
        int64_t mid = good + (bad - good) / 2;
        orvane::CallOutcome o = evaluateRows(0, mid);
        if (o.error) {
            bad = mid;
        } else {
            good = mid;
            before = std::move(o);
        }
    }
    return good;
}

std::optional<int64_t> CheckedCall::rowRaising() const {
    if (evaluateRows(0, 0).error || !system_.call(inputs_, diagnostics_, 1).error) return std::nullopt;
    orvane::CallOutcome before;
    return rowOfError(block_.numRows, before);
}

// Which warnings of the call of rows [0, numRows) are wanted (the first of
// each identifier, as many as will be shown), and the row of each of those.
WarningRows CheckedCall::rowsOfWarnings(const std::vector<orvane::Warning> &warnings, int64_t numRows) const {
    WarningRows w;
    w.rows.assign(warnings.size(), -1);
    w.isWanted.assign(warnings.size(), false);
    std::map<std::string, int64_t> numLeft;
    size_t numNeeded = 0;  // up to the last wanted warning
    for (size_t k = 0; k < warnings.size(); ++k) {
        const std::string &id = warnings[k].identifier;
        auto it = numLeft.find(id);
        if (it == numLeft.end())
            it = numLeft.emplace(id, checks_.numWanted ? checks_.numWanted(id) : kWantedPerIdentifier).first;
        if (it->second <= 0 || diagnosticOf(id) == Diagnostic::other) continue;
        --it->second;
        w.isWanted[k] = true;
        numNeeded = k + 1;
    }
    rowsOutOfRange(warnings, numRows, numNeeded, w.rows);
    std::vector<bool> isSought(warnings.size());
    bool isAnySought = false;
    for (size_t k = 0; k < numNeeded; ++k) {
        isSought[k] = w.isWanted[k] && w.rows[k] < 0;
        isAnySought = isAnySought || isSought[k];
    }
    if (!isAnySought) return w;
    // The wanted ones are the first of each identifier, often in the first
    // rows: a prefix doubled from one row until it gives them all bounds the
    // search by where they are rather than by the block.
    for (int64_t count = 1; count < numRows; count *= 2) {
        orvane::CallOutcome prefix = evaluateRows(0, count);
        if (prefix.error || prefix.warnings.size() > warnings.size()) break;
        if (prefix.warnings.size() >= numNeeded) {
            locate(0, count, prefix.warnings, 0, prefix.warnings.size(), isSought, w.rows);
            return w;
        }
    }
    locate(0, numRows, warnings, 0, warnings.size(), isSought, w.rows);
    return w;
}

// The module compares each input of a row with its range in turn, so its
// out-of-range warnings pair off with those comparisons, made here again
// (up to warning numNeeded).
void CheckedCall::rowsOutOfRange(const std::vector<orvane::Warning> &warnings, int64_t numRows, size_t numNeeded,
                                 std::vector<int64_t> &rows) const {
    const std::vector<std::pair<double, double>> &ranges = system_.inputRanges();
    if (static_cast<int64_t>(ranges.size()) < block_.numInputs) return;
    size_t k = 0;
    auto nextWarning = [&] {
        while (k < numNeeded && diagnosticOf(warnings[k].identifier) != Diagnostic::outOfRange) ++k;
        return k < numNeeded;
    };
    for (int64_t r = 0; r < numRows && nextWarning(); ++r) {
        for (int64_t i = 0; i < block_.numInputs; ++i) {
            const auto [low, high] = ranges[static_cast<size_t>(i)];
            const double x = block_.at(r, i);
            if (!(low > x || x > high)) continue;
            // A warning for another input: the pairing is off, leave the rest.
            if (!nextWarning()) return;
            const std::vector<orvane::Value> &a = warnings[k].arguments;
            if (a.empty() || !a[0] || a[0].numel() != 1 || a[0].toDoubles()[0] != static_cast<double>(i + 1)) return;
            rows[k++] = r;
        }
    }
}

// Warnings [begin, end) are those of rows [first, first + count): the first
// half's call tells which of them are its own.
void CheckedCall::locate(int64_t first, int64_t count, const std::vector<orvane::Warning> &warnings, size_t begin,
                         size_t end, const std::vector<bool> &isSought, std::vector<int64_t> &rows) const {
    bool isAnySought = false;
    for (size_t k = begin; k < end && !isAnySought; ++k) isAnySought = isSought[k];
    if (!isAnySought || count == 0) return;
    if (count == 1) {
        for (size_t k = begin; k < end; ++k) rows[k] = first;
        return;
    }
    int64_t half = count / 2;
    orvane::CallOutcome left = evaluateRows(first, half);
    // A host function that does not repeat itself: those rows stay unknown.
    if (left.error || left.warnings.size() > end - begin) return;
    for (size_t k = 0; k < left.warnings.size(); ++k)
        if (left.warnings[k].identifier != warnings[begin + k].identifier) return;
    size_t middle = begin + left.warnings.size();
    locate(first, half, warnings, begin, middle, isSought, rows);
    locate(first + half, count - half, warnings, middle, end, isSought, rows);
}

// ---- Wording.

std::string CheckedCall::where(int64_t row) const {
    std::string name = checks_.rowName ? checks_.rowName(row) : "row " + std::to_string(row);
    return name.empty() ? name : name + ": ";
}

std::string CheckedCall::inputName(int64_t i) const {
    const std::vector<std::string> &names = system_.inputNames();
    if (system_.hasNames() && i < static_cast<int64_t>(names.size()))
        return "input \"" + names[static_cast<size_t>(i)] + "\"";
    return "input " + std::to_string(i + 1);
}

std::string CheckedCall::outputName(int64_t o) const {
    const std::vector<std::string> &names = system_.outputNames();
    if (system_.hasNames() && o < static_cast<int64_t>(names.size()))
        return "output \"" + names[static_cast<size_t>(o)] + "\"";
    return "output " + std::to_string(o + 1);
}

// A module diagnostic from its arguments, with the input's value as read
// when the row is known; nothing when the arguments are not the module's.
std::optional<std::string> CheckedCall::moduleText(Diagnostic kind, bool isError,
                                                   const std::vector<orvane::Value> &arguments, int64_t row) const {
    auto index = [&](size_t k) -> int64_t {  // a 1-based index argument, 0-based
        if (k >= arguments.size() || !arguments[k] || arguments[k].numel() != 1 ||
            arguments[k].classId() == ZORB_CHAR_CLASS || arguments[k].classId() == ZORB_STRUCT_CLASS)
            return -1;
        double v = arguments[k].toDoubles()[0];
        return v >= 1 && v <= 2147483647.0 && v == std::floor(v) ? static_cast<int64_t>(v) - 1 : -1;
    };
    auto text = [&](size_t k) -> std::optional<std::string> {
        if (k >= arguments.size() || !arguments[k] || arguments[k].classId() != ZORB_CHAR_CLASS) return std::nullopt;
        return arguments[k].toText();
    };
    switch (kind) {
        case Diagnostic::outOfRange: {
            int64_t i = index(0);
            std::optional<std::string> range = text(1), value = text(2);
            if (arguments.size() != 3 || i < 0 || !range || !value) return std::nullopt;
            if (row >= 0 && i < block_.numInputs) value = orvane::formatDouble(block_.at(row, i), false);
            return inputName(i) + " has the value " + *value + ", outside its range " + *range;
        }
        case Diagnostic::noRuleFired: {
            int64_t o = index(0);
            std::optional<std::string> value = text(1);
            if (o < 0 || arguments.size() != (isError ? 1u : 2u) || (!isError && !value)) return std::nullopt;
            return "no rule fired for " + outputName(o) +
                   (isError ? ", so it has no value" : ", so it takes the value " + *value);
        }
        case Diagnostic::emptySet: {
            std::optional<std::string> method = text(0), value = text(2);
            int64_t o = index(1);
            if (o < 0 || !method || arguments.size() != (isError ? 2u : 3u) || (!isError && !value))
                return std::nullopt;
            return "the fuzzy set of " + outputName(o) + " is empty, so " + *method + " defuzzification " +
                   (isError ? "cannot give it a value" : "gives it the value " + *value);
        }
        case Diagnostic::other: break;
    }
    return std::nullopt;
}

void CheckedCall::reword(orvane::Warning &w, int64_t row) const {
    std::optional<std::string> text = moduleText(diagnosticOf(w.identifier), false, w.arguments, row);
    if (text) w.message = (row >= 0 ? where(row) : "") + *text;
}

// The module's error at `row`, worded from the warning that the row gives
// when that diagnostic only warns.
orvane::HostError CheckedCall::moduleError(const orvane::HostError &error, int64_t row) const {
    Diagnostic kind = diagnosticOf(error.identifier());
    auto modeOf = [&](Diagnostic d) { return static_cast<uint8_t>(d == kind ? Report::warning : Report::nothing); };
    orvane::Value warnOnly = makeDiagnostics(modeOf(Diagnostic::outOfRange), modeOf(Diagnostic::noRuleFired),
                                             modeOf(Diagnostic::emptySet), system_.name());
    orvane::CallOutcome one = system_.call(block_.rows(row, 1), warnOnly, 1);
    for (const orvane::Warning &w : one.warnings) {
        if (diagnosticOf(w.identifier) != kind) continue;
        // The error's arguments are the warning's but the value that the output took.
        std::vector<orvane::Value> arguments = w.arguments;
        if (kind != Diagnostic::outOfRange && !arguments.empty()) arguments.pop_back();
        std::optional<std::string> text = moduleText(kind, true, arguments, row);
        if (text) return orvane::HostError(error.identifier(), where(row) + *text);
        break;
    }
    return error;
}

orvane::Warning CheckedCall::nanWarning(int64_t row, int64_t input) const {
    return {kNaNInput,
            where(row) + inputName(input) + " is NaN",
            {orvane::Value::int32Scalar(static_cast<int32_t>(input + 1))}};
}

orvane::Warning CheckedCall::nonFiniteWarning(const orvane::CallOutcome &done, int64_t row, int64_t output) const {
    const orvane::Value &y = done.results[0];
    double v = y.pr()[row + output * y.dims()[0]];
    return {
        kNonFiniteOutput,
        where(row) + outputName(output) + " is " + orvane::formatDouble(v, false) + " from inputs that are all finite",
        {orvane::Value::int32Scalar(static_cast<int32_t>(output + 1))}};
}

// ---- The checked call.

orvane::CallOutcome CheckedCall::run(int numResults) {
    const int64_t numRows = block_.numRows;
    const Places nans = nanInputs();
    // A NaN in error mode stops the block before its row, as a module error
    // would: the rows before it are evaluated for their own errors first.
    const bool isNaNError = checks_.nanInput == Report::error && !nans.empty();
    const int64_t evaluated = isNaNError ? nans.front().first : numRows;
    orvane::CallOutcome out = evaluated == numRows ? system_.call(inputs_, diagnostics_, numResults)
                                                   : system_.call(block_.rows(0, evaluated), diagnostics_, numResults);
    const int64_t numLeaked = out.leakedValues;
    auto nanWarnings = [&](int64_t rowsWarned) {
        std::vector<orvane::Warning> ws;
        if (checks_.nanInput != REPORT_WARNING) return ws;
        for (const auto &[r, i] : nans)
            if (r < rowsWarned) ws.push_back(nanWarning(r, i));
        return ws;
    };

    if (out.error && diagnosticOf(out.error->identifier()) == Diagnostic::other) {
        // Not a row's diagnostic (a refused record, a failing host function):
        // reported as the module words it.
        std::vector<orvane::Warning> ws = nanWarnings(evaluated);
        for (orvane::Warning &w : out.warnings) ws.push_back(std::move(w));
        out.warnings = std::move(ws);
        return out;
    }

    // `done` evaluated rows [0, numDone) without an error; `raising` are the
    // warnings of the row that raised the module's error right after them.
    orvane::CallOutcome done;
    int64_t numDone = evaluated;
    std::vector<orvane::Warning> raising;
    std::optional<orvane::HostError> error;
    if (out.error) {
        numDone = rowOfError(evaluated, done);
        for (size_t k = done.warnings.size(); k < out.warnings.size(); ++k)
            raising.push_back(std::move(out.warnings[k]));
        error = moduleError(*out.error, numDone);
    } else {
        done = std::move(out);
    }
    int64_t rowsWarned = error ? numDone + 1 : evaluated;  // rows whose inputs were given to the module

    Places nonFinite = nonFiniteOutputs(done, numDone);
    std::vector<orvane::Warning> nonFiniteWarnings;
    if (checks_.nonFiniteOutput == REPORT_ERROR && !nonFinite.empty()) {
        // Before any later error; the module's warnings up to its row only.
        auto [row, output] = nonFinite.front();
        error = orvane::HostError(kNonFiniteOutput, nonFiniteWarning(done, row, output).message);
        done = evaluateRows(0, row + 1);
        if (done.error) done = {};
        numDone = row + 1;
        rowsWarned = row + 1;
        raising.clear();
    } else {
        if (checks_.nonFiniteOutput == REPORT_WARNING)
            for (const auto &[row, output] : nonFinite)
                nonFiniteWarnings.push_back(nonFiniteWarning(done, row, output));
        if (!error && isNaNError) {
            const auto &[row, input] = nans.front();
            error = orvane::HostError(kNaNInput, nanWarning(row, input).message);
        }
    }

    // Inputs first, then what the module said row by row, then the outputs.
    orvane::CallOutcome result;
    result.warnings = nanWarnings(rowsWarned);
    WarningRows wanted = rowsOfWarnings(done.warnings, numDone);
    for (size_t k = 0; k < done.warnings.size(); ++k) {
        if (wanted.isWanted[k]) reword(done.warnings[k], wanted.rows[k]);
        result.warnings.push_back(std::move(done.warnings[k]));
    }
    for (orvane::Warning &w : raising) {
        reword(w, numDone);
        result.warnings.push_back(std::move(w));
    }
    for (orvane::Warning &w : nonFiniteWarnings) result.warnings.push_back(std::move(w));
    result.error = std::move(error);
    result.leakedValues = numLeaked;
    if (!result.error) result.results = std::move(done.results);
    return result;
}

// ---- Split across threads.

// Fewer rows than this per thread cost more to hand out than they save.
constexpr int64_t kMinRowsPerThread = 256;
// A part's rows, their outputs and the module's buffers for them stay within
// a core's caches: a larger batch is cut into more parts than threads.
constexpr int64_t kMostRowsPerPart = 65536;

int64_t numThreadsFor(unsigned threads, int64_t numRows) {
    int64_t asked = defaults::threadsFor(threads);
    return std::max<int64_t>(1, std::min(asked, numRows / kMinRowsPerThread));
}

struct Part {
    int64_t first = 0;
    int64_t count = 0;
    orvane::Value rows;
    orvane::CallOutcome outcome;
};

// The checked call of a part, rows named by their place in the whole block.
void checkPart(const System &system, Part &part, const orvane::Value &diagnostics, const RowChecks &checks,
               std::function<int64_t(const std::string &)> numWanted, int numResults) {
    RowChecks own;
    own.nanInput = checks.nanInput;
    own.nonFiniteOutput = checks.nonFiniteOutput;
    own.rowName = [&checks, first = part.first](int64_t row) {
        return checks.rowName ? checks.rowName(first + row) : "row " + std::to_string(first + row);
    };
    own.numWanted = std::move(numWanted);
    part.outcome = CheckedCall(system, part.rows, diagnostics, own).run(numResults);
}

// The parts' outcomes as the whole block's one call; nothing when a part
// raised or returned what cannot be joined.
std::optional<orvane::CallOutcome> joinParts(std::vector<Part> &parts, const RowChecks &checks, int64_t numRows,
                                             const System &system, const orvane::Value &diagnostics, int numResults) {
    for (const Part &part : parts)
        if (part.outcome.error || part.outcome.results.empty() || !isDoubleMatrix(part.outcome.results[0]))
            return std::nullopt;
    // The parts ran with no warning worded; the ones among the first shown
    // of their identifier in the whole block are checked again, worded.
    std::map<std::string, int64_t> numBefore;  // the module's warnings in the parts before
    for (Part &part : parts) {
        auto numLeft = [&](const std::string &id) {
            int64_t wanted = checks.numWanted ? checks.numWanted(id) : kWantedPerIdentifier;
            return wanted - numBefore[id];
        };
        bool isAnyWanted = false;
        for (const orvane::Warning &w : part.outcome.warnings)
            isAnyWanted = isAnyWanted || (warningPlace(w.identifier) == 1 &&
                                          diagnosticOf(w.identifier) != Diagnostic::other && numLeft(w.identifier) > 0);
        if (isAnyWanted) {
            std::map<std::string, int64_t> left;
            for (const orvane::Warning &w : part.outcome.warnings) left.emplace(w.identifier, numLeft(w.identifier));
            checkPart(
                system, part, diagnostics, checks,
                [left](const std::string &id) {
                    auto it = left.find(id);
                    return it == left.end() ? 0 : it->second;
                },
                numResults);
            if (part.outcome.error) return std::nullopt;
        }
        for (const orvane::Warning &w : part.outcome.warnings)
            if (warningPlace(w.identifier) == 1) ++numBefore[w.identifier];
    }
    const int64_t numOutputs = parts.front().outcome.results[0].dims()[1];
    orvane::CallOutcome joined;
    orvane::Value outputs = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {numRows, numOutputs});
    std::vector<orvane::Warning> placed[3];
    for (Part &part : parts) {
        for (orvane::Warning &w : part.outcome.warnings) {
            const int place = warningPlace(w.identifier);
            placed[place].push_back(std::move(w));
        }
    }
    for (std::vector<orvane::Warning> &ws : placed)
        for (orvane::Warning &w : ws) joined.warnings.push_back(std::move(w));
    for (Part &part : parts) {
        const orvane::Value &y = part.outcome.results[0];
        const int64_t n = part.rows.dims()[0];
        if (y.dims()[0] != n || y.dims()[1] != numOutputs) return std::nullopt;
        for (int64_t o = 0; o < numOutputs && n > 0; ++o)
            std::memcpy(outputs.pr() + part.first + o * numRows, y.pr() + o * n,
                        static_cast<size_t>(n) * sizeof(double));
        joined.leakedValues += part.outcome.leakedValues;
    }
    // The other results are the last row's: the last part's.
    joined.results = std::move(parts.back().outcome.results);
    joined.results[0] = std::move(outputs);
    return joined;
}

}  // namespace

std::optional<orvane::HostError> badReport(Report mode, const char *field) {
    if (mode == Report::nothing || mode == Report::warning || mode == Report::error) return std::nullopt;
    return orvane::HostError(ids::apiDiagnosticMode,
                             std::string(field) + ": " + std::to_string(static_cast<unsigned>(mode)) +
                                 " is no mode: REPORT_NOTHING, REPORT_WARNING or REPORT_ERROR");
}

std::optional<int64_t> rowRaising(const System &system, const orvane::Value &inputs, const orvane::Value &diagnostics) {
    if (!isDoubleMatrix(inputs)) return std::nullopt;
    const RowChecks none;
    return CheckedCall(system, inputs, diagnostics, none).rowRaising();
}

orvane::CallOutcome System::checkedCall(const orvane::Value &inputs, const orvane::Value &diagnostics,
                                        const RowChecks &checks, int numResults) const {
    for (std::optional<orvane::HostError> bad :
         {badReport(checks.nanInput, "RowChecks::nanInput"),
          badReport(checks.nonFiniteOutput, "RowChecks::nonFiniteOutput")}) {
        if (!bad) continue;
        orvane::CallOutcome refused;
        refused.error = std::move(bad);
        return refused;
    }
    if (!isDoubleMatrix(inputs)) return call(inputs, diagnostics, numResults);
    const int64_t numRows = inputs.dims()[0];
    const int64_t numThreads = numThreadsFor(checks.threads, numRows);
    if (numThreads > 1 && numResults >= 1 && numNestedCalls() == 0) {
        const int64_t numParts = std::max(numThreads, (numRows + kMostRowsPerPart - 1) / kMostRowsPerPart);
        std::vector<Part> parts(static_cast<size_t>(numParts));
        for (int64_t k = 0; k < numParts; ++k) {
            Part &part = parts[static_cast<size_t>(k)];
            part.first = numRows * k / numParts;
            part.count = numRows * (k + 1) / numParts - part.first;
        }
        const Block block{inputs.pr(), numRows, inputs.dims()[1]};
        std::vector<std::exception_ptr> failures(parts.size());
        std::atomic<size_t> nextPart{0};
        auto work = [&] {
            for (size_t k = nextPart++; k < parts.size(); k = nextPart++) {
                try {
                    parts[k].rows = block.rows(parts[k].first, parts[k].count);
                    checkPart(
                        *this, parts[k], diagnostics, checks, [](const std::string &) { return 0; }, numResults);
                } catch (...) {
                    failures[k] = std::current_exception();
                }
            }
        };
        std::vector<std::thread> workers;
        for (int64_t k = 1; k < numThreads; ++k) workers.emplace_back(work);
        work();
        for (std::thread &t : workers) t.join();
        for (const std::exception_ptr &failure : failures)
            if (failure) std::rethrow_exception(failure);
        if (std::optional<orvane::CallOutcome> joined =
                joinParts(parts, checks, numRows, *this, diagnostics, numResults))
            return std::move(*joined);
        // An error stops the block at its row, with the warnings up to there
        // in the one call's order: that call says it.
    }
    return CheckedCall(*this, inputs, diagnostics, checks).run(numResults);
}

}  // namespace fazolt
