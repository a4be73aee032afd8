// Systems evaluated through the fazolt module.
#include "fazolt/fazolt.h"
#include "fazolt/formats.h"
#include "description/systemDescription.h"
#include "formats/languages.h"
#include "common/errorBoundary.h"
#include "errorPlaces.h"
#include "function_uses.h"
#include "output_defaults.h"
#include "prepared_record.h"
#include "warningPlace.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>
#include <fstream>
#include <optional>
#include <sstream>


namespace fazolt {
namespace {

// Module calls in progress on this thread: a custom function that evaluates
// a system nests one more.
thread_local int nestedCalls = 0;
// Module calls in progress in the process, on all threads: a cycle that
// evaluates on a fresh thread at each level nests without end too.
std::atomic<int> callsAtOnce{0};

std::string readFile(const std::string &path) {
    // A folder opens like a file and reads as empty text, which would be
    // reported as malformed JSON.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw Error(ids::ioCannotOpen, "'" + path + "' is a directory, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(ids::ioCannotOpen, "cannot open '" + path + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw Error(ids::ioReadFailed, "cannot read '" + path + "'");
    return text.str();
}

// dlopen searches the library path for a name without a slash, so that
// "--module mylib.so" would report a missing file even when it exists.
std::string loadablePath(const std::string &path) { return path.find('/') == std::string::npos ? "./" + path : path; }

// A raw record in host-value JSON carries a top-level "class" key; a nested
// description never does. A scan of the object's keys, values skipped by
// their brackets and quotes, so that the text is parsed once, by its own
// reader; text that is not an object is left to the description's reader.
bool looksLikeHostValue(std::string_view text) {
    size_t at = 0;
    auto skipBlanks = [&] {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    };
    // The string at `at` (its opening quote), escapes kept; at ends past its closing quote.
    auto skipString = [&] {
        size_t start = ++at;
        while (at < text.size() && text[at] != '"') at += text[at] == '\\' ? 2 : 1;
        std::string_view raw = text.substr(start, std::min(at, text.size()) - start);
        ++at;
        return raw;
    };
    skipBlanks();
    if (at >= text.size() || text[at] != '{') return false;
    ++at;
    int depth = 0;  // of the value being skipped
    bool isKey = true;
    while (at < text.size()) {
        skipBlanks();
        if (at >= text.size()) return false;
        char c = text[at];
        if (c == '"') {
            std::string_view s = skipString();
            if (depth == 0 && isKey && s == "class") return true;
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') {
            if (depth == 0) return false;
            --depth;
        }
        if (depth == 0 && c == ':') isKey = false;
        if (depth == 0 && c == ',') isKey = true;
        ++at;
    }
    return false;
}

// A count field of the record (numInputs, numOutputs), -1 if unreadable.
int64_t countField(const orvane::Value &record, const char *name) {
    if (!record || record.classId() != ZORB_STRUCT_CLASS || record.numel() != 1) return -1;
    orvane::Value v = record.field(0, name);
    zorbClassID id = v ? v.classId() : ZORB_UNKNOWN_CLASS;
    if (!(id >= ZORB_DOUBLE_CLASS) || v.numel() != 1) return -1;
    double n = v.toDoubles()[0];
    return n >= 0 && n <= 1e9 && n == static_cast<double>(static_cast<int64_t>(n)) ? static_cast<int64_t>(n) : -1;
}

}  // namespace

int numNestedCalls() { return nestedCalls; }

size_t Matrix::index(int64_t r, int64_t c) const {
    if (r < 0 || r >= rows || c < 0 || c >= cols || data.size() != static_cast<size_t>(rows * cols)) {
        throw Error(ids::apiOutOfRange, "element (" + std::to_string(r) + ", " + std::to_string(c) + ") of a " +
                                            std::to_string(rows) + " x " + std::to_string(cols) + " matrix holding " +
                                            std::to_string(data.size()) + " values");
    }
    return static_cast<size_t>(r + c * rows);
}

Matrix Matrix::zeros(int64_t rows, int64_t cols) {
    if (rows < 0 || cols < 0) {
        throw Error(ids::apiSize, "rows, cols: a matrix of " + std::to_string(rows) + " x " + std::to_string(cols));
    }
    Matrix m;
    m.rows = rows;
    m.cols = cols;
    m.data.assign(static_cast<size_t>(rows * cols), 0.0);
    return m;
}

Matrix Matrix::fromRows(std::initializer_list<std::initializer_list<double>> rowList) {
    int64_t rows = static_cast<int64_t>(rowList.size());
    int64_t cols = rows == 0 ? 0 : static_cast<int64_t>(rowList.begin()->size());
    Matrix m = zeros(rows, cols);
    int64_t r = 0;
    for (const auto &row : rowList) {
        if (static_cast<int64_t>(row.size()) != cols) {
            throw Error(ids::apiRaggedRows, "every row must have " + std::to_string(cols) + " values");
        }
        int64_t c = 0;
        for (double v : row) m.at(r, c++) = v;
        ++r;
    }
    return m;
}

Matrix Matrix::fromValue(const orvane::Value &value) {
    Matrix m;
    const std::vector<int64_t> &dims = value.dims();
    m.rows = dims.empty() ? 0 : dims[0];
    m.cols = m.rows == 0 ? (dims.size() > 1 ? dims[1] : 0) : value.numel() / m.rows;
    m.data = value.toDoubles();
    return m;
}

orvane::Value Matrix::toValue() const { return orvane::Value::doubleMatrix(rows, cols, data); }

std::string defaultModulePath() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&defaultModulePath), &info) != 0 && info.dli_fname != nullptr) {
        std::string self = info.dli_fname;
        std::string::size_type slash = self.rfind('/');
        if (slash != std::string::npos) return self.substr(0, slash) + "/" FAZOLT_MODULE_FILE;
    }
    return FAZOLT_MODULE_FILE;
}

System System::fromBuilt(const BuiltSystem &built, bool hasNames, const std::string &modulePath) {
    registerFormatFunctions();  // a record may name the operators that FCL brings
    System s;
    s.module_ = orvane::Module::load(modulePath.empty() ? defaultModulePath() : loadablePath(modulePath));
    s.record_ = orvane::deepCopy(built.record);
    s.prepared_ = preparedRecordOf(s.module_, s.record_);
    s.numInputs_ = countField(s.record_, "numInputs");
    s.numOutputs_ = countField(s.record_, "numOutputs");
    // Read here, while no other thread can see the record.
    orvane::Value range = s.record_.className() == "struct" && s.record_.numel() == 1 ? s.record_.field(0, "inputRange")
                                                                                      : orvane::Value();
    if (range && range.classId() == ZORB_DOUBLE_CLASS && !range.isComplex() && range.dims().size() == 2 &&
        range.dims()[1] >= 2) {
        const int64_t stride = range.dims()[0];  // the low ends, then the high ends
        for (int64_t i = 0; i < stride; ++i) s.inputRanges_.emplace_back(range.pr()[i], range.pr()[i + stride]);
    }
    if (hasNames) {
        s.name_ = built.name;
        s.inputNames_ = built.inputNames;
        s.outputNames_ = built.outputNames;
        s.inputTermNames_ = built.inputTermNames;
        s.outputTermNames_ = built.outputTermNames;
        s.hasNames_ = true;
        auto clampRanges = [&](const std::vector<bool> &flags, const char *field) {
            std::vector<std::optional<std::pair<double, double>>> ranges;
            std::vector<double> r = built.record.field(0, field).toDoubles();  // n x 2, column-major
            size_t n = flags.size();
            bool isAny = false;
            for (size_t k = 0; k < n; ++k) {
                ranges.push_back(flags[k] ? std::optional(std::make_pair(r[k], r[k + n])) : std::nullopt);
                isAny = isAny || flags[k];
            }
            return isAny ? ranges : std::vector<std::optional<std::pair<double, double>>>();
        };
        s.inputClamps_ = clampRanges(built.inputClamps, "inputRange");
        s.outputClamps_ = clampRanges(built.outputClamps, "outputRange");
        for (const std::optional<double> &d : built.outputDefaults) {
            if (d) s.outputDefaults_ = built.outputDefaults;
        }
    }
    s.functionUses_ = functionUsesOf(s.record_, s.inputNames_, s.outputNames_, s.inputTermNames_, s.outputTermNames_);
    return s;
}

System System::fromDescription(std::string_view json, const std::string &modulePath) try {
    registerFormatFunctions();  // before the names are checked: FCL's operators are host functions
    return fromBuilt(buildSystem(json), true, modulePath);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

System System::fromRecord(orvane::Value record, const std::string &modulePath) try {
    BuiltSystem built;
    built.record = std::move(record);
    return fromBuilt(built, false, modulePath);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

System System::fromFile(const std::string &path, const std::string &modulePath) try {
    std::string text = readFile(path);
    SystemFormat format = formatOfPath(path);
    if (format == SystemFormat::Json) return fromText(text, modulePath);
    // Read straight into the description that the builder takes.
    SystemDescription description = formats::readFile(text, format, path);
    registerFormatFunctions();  // before the names are checked: FCL's operators are host functions
    checkDescription(description, HostFunctionNames::mustExist);
    return fromBuilt(builtSystemOf(description), true, modulePath);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

System System::fromText(std::string_view text, const std::string &modulePath) try {
    if (looksLikeHostValue(text)) {
        try {
            return fromRecord(orvane::fromJson(text), modulePath);
        } catch (const orvane::HostError &e) {
            // Text that is not JSON at all is said as the description's reader says it.
            if (e.identifier() != "Orvane:json:syntax" && e.identifier() != "Orvane:json:range") throw;
        }
    }
    return fromDescription(text, modulePath);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

orvane::Value System::diagnostics(const DiagnosticModes &modes) const {
    const std::pair<Report, const char *> fields[] = {
        {modes.outOfRangeInput, "DiagnosticModes::outOfRangeInput"},
        {modes.noRuleFired, "DiagnosticModes::noRuleFired"},
        {modes.emptyOutputFuzzySet, "DiagnosticModes::emptyOutputFuzzySet"},
        {modes.nanInput, "DiagnosticModes::nanInput"},
        {modes.nonFiniteOutput, "DiagnosticModes::nonFiniteOutput"}};
    for (const auto &[mode, field] : fields)
        if (std::optional<orvane::HostError> bad = badReport(mode, field)) throw Error(*bad);
    return makeDiagnostics(static_cast<uint8_t>(modes.outOfRangeInput), static_cast<uint8_t>(modes.noRuleFired),
                           static_cast<uint8_t>(modes.emptyOutputFuzzySet), name_);
}

namespace {

using ClampRanges = std::vector<std::optional<std::pair<double, double>>>;

// fuzzylite's bound: above the range its high end, below it its low end;
// NaN passes.
double clamped(double x, const std::pair<double, double> &range) {
    if (x > range.second) return range.second;
    if (x < range.first) return range.first;
    return x;
}

// The columns of a real double matrix that have a range, bounded; any other
// value is left to the module's own checks.
orvane::Value clampedColumns(const orvane::Value &matrix, const ClampRanges &ranges) {
    const std::vector<int64_t> &dims = matrix.dims();
    if (ranges.empty() || matrix.className() != "double" || matrix.isComplex() || dims.size() != 2 ||
        dims[1] != static_cast<int64_t>(ranges.size())) {
        return matrix;
    }
    orvane::Value out = orvane::Value::numeric(ZORB_DOUBLE_CLASS, dims);
    const double *from = matrix.pr();
    double *to = out.pr();
    for (int64_t c = 0; c < dims[1]; ++c) {
        const auto &range = ranges[static_cast<size_t>(c)];
        for (int64_t r = 0; r < dims[0]; ++r) {
            double x = from[r + c * dims[0]];
            to[r + c * dims[0]] = range ? clamped(x, *range) : x;
        }
    }
    return out;
}

}  // namespace

void applyOutputDefaults(orvane::Module &module, const orvane::Value &record, const orvane::Value &inputs,
                         const OutputDefaults &defaults, orvane::Value &outputs) {
    const std::vector<int64_t> &dims = outputs.dims();
    if (defaults.empty() || outputs.className() != "double" || outputs.isComplex() || dims.size() != 2 ||
        dims[1] != static_cast<int64_t>(defaults.size()) || inputs.className() != "double" ||
        inputs.dims().size() != 2 || inputs.dims()[0] != dims[0]) {
        return;
    }
    std::vector<double> range = record.field(0, "outputRange").toDoubles();  // n x 2, column-major
    const size_t n = defaults.size();
    const int64_t numRows = dims[0], numInputs = inputs.dims()[1];
    // Only no-rule-fired is asked for, as an error: the first call passed every other check.
    orvane::Value askNoRuleFired = makeDiagnostics(0, static_cast<uint8_t>(REPORT_ERROR), 0, "");
    double *y = outputs.pr();
    for (int64_t r = 0; r < numRows; ++r) {
        bool isMidpoint = false;
        for (size_t o = 0; o < n; ++o) {
            isMidpoint = isMidpoint ||
                         (defaults[o] && y[r + static_cast<int64_t>(o) * numRows] == (range[o + n] + range[o]) / 2.0);
        }
        if (!isMidpoint) continue;
        orvane::Value row = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, numInputs});
        for (int64_t c = 0; c < numInputs; ++c) row.pr()[c] = inputs.pr()[r + c * numRows];
        std::vector<orvane::Value> arguments = {row, record, askNoRuleFired};
        orvane::CallOutcome again = module.call(1, arguments);
        if (!again.error || again.error->identifier() != ids::moduleNoRuleFired) continue;
        for (size_t o = 0; o < n; ++o) {
            if (defaults[o]) y[r + static_cast<int64_t>(o) * numRows] = *defaults[o];
        }
    }
}

namespace {

// Rows with more or fewer values than the record has inputs, said in the
// caller's terms rather than as a fault of the system (which the module
// would report). Nothing when the record does not say its count: the
// module then reports the malformed record.
std::optional<orvane::HostError> columnCountError(const orvane::Value &inputs, const orvane::Value &record) {
    const std::vector<int64_t> &dims = inputs.dims();
    if (dims.size() != 2 || dims[0] == 0 || record.className() != "struct" || record.numel() != 1) return std::nullopt;
    orvane::Value n = record.field(0, "numInputs");
    if (!n || n.numel() != 1 || n.isComplex() || n.className() == "struct" || n.className() == "cell")
        return std::nullopt;
    const double numInputs = n.toDoubles()[0];
    if (!(numInputs >= 0.0 && numInputs <= 2147483647.0) || std::floor(numInputs) != numInputs ||
        static_cast<double>(dims[1]) == numInputs)
        return std::nullopt;
    return orvane::HostError(ids::inputColumnCount, "the data has " + std::to_string(dims[1]) +
                                                        " columns, the system " +
                                                        std::to_string(static_cast<int64_t>(numInputs)) + " inputs");
}

}  // namespace

orvane::CallOutcome System::call(const orvane::Value &inputs, const orvane::Value &diagnostics, int numResults) const {
    // A cycle (a system's function evaluating that system again) would
    // otherwise nest until the stack runs out.
    // Made only when a cycle is met, not on every call.
    auto tooDeep = [](const std::string &what) {
        return orvane::HostError(ids::apiNestedTooDeep, what +
                                                            ": a custom function evaluates a system whose functions "
                                                            "evaluate again, without end?");
    };
    orvane::CallOutcome outcome;
    if (std::optional<orvane::HostError> e = columnCountError(inputs, record_)) {
        outcome.error = std::move(e);
        return outcome;
    }
    if (nestedCalls >= kMostNestedCalls) {
        outcome.error = tooDeep("evaluations nested " + std::to_string(kMostNestedCalls) + " deep");
        return outcome;
    }
    if (callsAtOnce.load(std::memory_order_relaxed) >= kMostCallsAtOnce) {
        outcome.error = tooDeep(std::to_string(kMostCallsAtOnce) + " evaluations in progress at once");
        return outcome;
    }
    {
        struct Nested {
            Nested() {
                ++nestedCalls;
                callsAtOnce.fetch_add(1, std::memory_order_relaxed);
            }
            ~Nested() {
                --nestedCalls;
                callsAtOnce.fetch_sub(1, std::memory_order_relaxed);
            }
        } nested;
        EvaluatingSystem evaluating(functionUses_.get());
        std::vector<orvane::Value> arguments = {clampedColumns(inputs, inputClamps_), record_, diagnostics};
        outcome = module_->call(numResults, arguments);
        if (!outcome.error && !outcome.results.empty()) {
            if (!outputDefaults_.empty()) {
                outcome.results[0] = orvane::deepCopy(outcome.results[0]);
                applyOutputDefaults(*module_, record_, arguments[0], outputDefaults_, outcome.results[0]);
            }
            outcome.results[0] = clampedColumns(outcome.results[0], outputClamps_);
        }
    }
    // Each level of the cycle added where it called: said once is enough.
    if (outcome.error && outcome.error->identifier() == ids::apiNestedTooDeep) {
        std::string message = outcome.error->message();
        takeModuleLocations(message);
        outcome.error = orvane::HostError(ids::apiNestedTooDeep, message);
    }
    return outcome;
}

namespace {

// The identifiers of the errors of a row that a message names the row of
// (when there are several to tell apart).
bool isRowDiagnostic(const std::string &id) {
    return id == ids::inputsNaN || id == ids::outputsNonFinite || id == ids::moduleOutOfRangeInput ||
           id == ids::moduleNoRuleFired || id == ids::moduleZeroMembershipValue;
}

// The error of a block of rows (from the batch's row firstRow on) as the
// API throws it, with where().row: named in the message for a diagnostic
// of a row in a batch; for any other error (a custom function's) found by
// evaluating prefixes of the block, as the module's own errors are, and
// left out of the message, which stays the function's own.
Error errorOfRows(const System &system, const orvane::HostError &error, const orvane::Value &rows,
                  const orvane::Value &diagnostics, int64_t firstRow) {
    Error e(error);
    if (e.where().row) return e;
    std::optional<int64_t> row;
    if (isRowDiagnostic(e.id()))
        row = rows.dims()[0] == 1 ? std::optional<int64_t>(0) : std::nullopt;
    else if (e.id() != ids::apiNestedTooDeep)
        row = rowRaising(system, rows, diagnostics);
    if (!row) return e;
    Where where = e.where();
    where.row = firstRow + *row;
    return Error(e.id(), e.message(), where, e.moduleLocation());
}

// A checked call's warning as the API gives it: the row from its name
// ("row 3: "), or row 0 of a single row.
Warning apiWarning(orvane::Warning &&w, int64_t numRows) {
    std::optional<int64_t> row = numRows == 1 ? std::optional<int64_t>(0) : rowNamed(w.message);
    return {std::move(w.identifier), std::move(w.message), row, std::move(w.arguments)};
}

}  // namespace

Evaluation System::evaluate(const Matrix &inputs, const DiagnosticModes &modes) const try {
    RowChecks checks;
    checks.nanInput = modes.nanInput;
    checks.nonFiniteOutput = modes.nonFiniteOutput;
    checks.threads = modes.threads;
    if (inputs.rows == 1) checks.rowName = [](int64_t) { return std::string(); };  // nothing to tell apart
    const orvane::Value rows = inputs.toValue();
    const orvane::Value modesValue = diagnostics(modes);
    orvane::CallOutcome outcome = checkedCall(rows, modesValue, checks, 6);
    if (outcome.error) throw errorOfRows(*this, *outcome.error, rows, modesValue, 0);
    Evaluation e;
    Matrix *targets[6] = {&e.outputs,           &e.ruleInputValues, &e.ruleOutputs,
                          &e.aggregatedOutputs, &e.firingStrengths, &e.ruleOutputLevels};
    for (size_t k = 0; k < outcome.results.size() && k < 6; ++k) *targets[k] = Matrix::fromValue(outcome.results[k]);
    for (orvane::Warning &w : outcome.warnings) e.warnings.push_back(apiWarning(std::move(w), inputs.rows));
    return e;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

orvane::Value System::record() const { return orvane::deepCopy(record_); }

// Where each input column's values are: the first row's, and the step from
// one row to the next.
struct System::Columns {
    int64_t numRows = 0;
    std::vector<const double *> first;
    int64_t step = 1;
};

namespace {

// Rows per module call: the per-call work (importing and checking the
// record, building the output sets) vanishes beside a block this large,
// which stays small beside the caller's buffers.
constexpr int64_t kBlockRows = 65536;
// As RowChecks::numWanted unset: the first warnings of each identifier are worded.
constexpr int64_t kShownPerIdentifier = defaults::kWarningsPerIdentifier;

std::string countText(size_t n) { return std::to_string(n); }

}  // namespace

std::vector<Warning> System::evaluateColumns(const Columns &in, std::span<double> out, Layout layout,
                                             const DiagnosticModes &modes, Intermediates *lastRow) const {
    const int64_t numRows = in.numRows;
    const auto numColumns = static_cast<int64_t>(in.first.size());
    auto checkOut = [&](int64_t numOutputs) {
        if (static_cast<int64_t>(out.size()) != numRows * numOutputs) {
            throw Error(ids::apiSize, "out: holds " + countText(out.size()) + " values, " + std::to_string(numRows) +
                                          " rows x " + std::to_string(numOutputs) + " outputs need " +
                                          std::to_string(numRows * numOutputs));
        }
    };
    if (numOutputs_ >= 0) checkOut(numOutputs_);
    RowChecks checks;
    checks.nanInput = modes.nanInput;
    checks.nonFiniteOutput = modes.nonFiniteOutput;
    checks.threads = modes.threads;
    int64_t done = 0;
    // Rows by their index in the whole batch; a single row needs no name.
    checks.rowName = [&done, numRows](int64_t row) {
        return numRows == 1 ? std::string() : "row " + std::to_string(done + row);
    };
    // The blocks' warnings together are those of one call: the first of each
    // identifier worded, counted over the blocks before.
    std::map<std::string, int64_t> numSeen;
    checks.numWanted = [&numSeen](const std::string &id) {
        auto it = numSeen.find(id);
        return kShownPerIdentifier - (it == numSeen.end() ? 0 : it->second);
    };
    const orvane::Value modesValue = diagnostics(modes);
    const int64_t blockRows = kBlockRows * defaults::threadsFor(modes.threads);
    // In one call's order: the inputs' warnings, the module's, the outputs'.
    std::vector<Warning> placed[3];
    int64_t numOutputs = numOutputs_;
    do {  // one call even for no rows: the module's own checks
        const int64_t n = std::min(blockRows, numRows - done);
        const bool isLast = done + n >= numRows;
        orvane::Value block = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {n, numColumns});
        double *b = block.pr();
        for (int64_t c = 0; c < numColumns; ++c) {
            const double *from = in.first[static_cast<size_t>(c)] + done * in.step;
            for (int64_t r = 0; r < n; ++r) b[r + c * n] = from[r * in.step];
        }
        orvane::CallOutcome outcome = checkedCall(block, modesValue, checks, isLast && lastRow != nullptr ? 6 : 1);
        for (orvane::Warning &w : outcome.warnings) {
            ++numSeen[w.identifier];
            const int place = warningPlace(w.identifier);
            placed[place].push_back(apiWarning(std::move(w), numRows));
        }
        if (outcome.error) throw errorOfRows(*this, *outcome.error, block, modesValue, done);
        const orvane::Value &y = outcome.results.at(0);
        const std::vector<int64_t> &dims = y.dims();
        if (numOutputs < 0 && dims.size() == 2) {
            numOutputs = dims[1];
            checkOut(numOutputs);
        }
        if (dims.size() != 2 || dims[0] != n || dims[1] != numOutputs || y.classId() != ZORB_DOUBLE_CLASS) {
            throw Error(ids::apiSize, "the module returned outputs of an unexpected shape");
        }
        const double *yd = y.pr();
        for (int64_t o = 0; o < numOutputs; ++o) {
            for (int64_t r = 0; r < n; ++r) {
                const int64_t row = done + r;
                out[static_cast<size_t>(layout == Layout::RowMajor ? row * numOutputs + o : row + o * numRows)] =
                    yd[r + o * n];
            }
        }
        if (isLast && lastRow != nullptr) {
            Matrix *targets[5] = {&lastRow->ruleInputValues, &lastRow->ruleOutputs, &lastRow->aggregatedOutputs,
                                  &lastRow->firingStrengths, &lastRow->ruleOutputLevels};
            for (size_t k = 1; k < outcome.results.size() && k < 6; ++k)
                *targets[k - 1] = Matrix::fromValue(outcome.results[k]);
        }
        done += n;
    } while (done < numRows);
    std::vector<Warning> warnings;
    for (std::vector<Warning> &ws : placed)
        for (Warning &w : ws) warnings.push_back(std::move(w));
    return warnings;
}

std::vector<Warning> System::evaluate(std::span<const double> rows, std::size_t columns, Layout layout,
                                      std::span<double> out, const DiagnosticModes &modes, Intermediates *lastRow) const
    try {
    if (columns == 0 ? !rows.empty() : rows.size() % columns != 0) {
        throw Error(ids::apiSize, "rows: " + countText(rows.size()) + " values do not make whole rows of " +
                                      countText(columns) + " columns");
    }
    if (numInputs_ >= 0 && static_cast<int64_t>(columns) != numInputs_) {
        throw Error(ids::apiSize, "columns: " + countText(columns) + ", but the system has " +
                                      std::to_string(numInputs_) + " inputs");
    }
    Columns in;
    in.numRows = columns == 0 ? 0 : static_cast<int64_t>(rows.size() / columns);
    in.step = layout == Layout::RowMajor ? static_cast<int64_t>(columns) : 1;
    for (size_t c = 0; c < columns; ++c)
        in.first.push_back(rows.data() + (layout == Layout::RowMajor ? c : c * static_cast<size_t>(in.numRows)));
    return evaluateColumns(in, out, layout, modes, lastRow);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::vector<Warning> System::evaluate(const std::vector<NamedInput> &inputs, std::span<double> out, Layout layout,
                                      const DiagnosticModes &modes, Intermediates *lastRow) const try {
    if (!hasNames_) throw Error(ids::apiInputNames, "inputs: a raw record has no input names; give the rows by column");
    Columns in;
    in.first.assign(inputNames_.size(), nullptr);
    for (const NamedInput &input : inputs) {
        auto found = std::find(inputNames_.begin(), inputNames_.end(), input.name);
        if (found == inputNames_.end())
            throw Error(ids::apiInputNames, "inputs: \"" + std::string(input.name) + "\" is not an input");
        const auto i = static_cast<size_t>(found - inputNames_.begin());
        if (in.first[i] != nullptr)
            throw Error(ids::apiInputNames, "inputs: \"" + std::string(input.name) + "\" is given twice");
        if (&input != &inputs.front() && static_cast<int64_t>(input.values.size()) != in.numRows) {
            throw Error(ids::apiSize, "inputs: \"" + std::string(input.name) + "\" has " +
                                          countText(input.values.size()) + " values, \"" +
                                          std::string(inputs.front().name) + "\" " + std::to_string(in.numRows));
        }
        in.numRows = static_cast<int64_t>(input.values.size());
        // An empty column may have no storage; no row reads it.
        static const double noValue = 0.0;
        in.first[i] = input.values.empty() ? &noValue : input.values.data();
    }
    for (size_t i = 0; i < in.first.size(); ++i) {
        if (in.first[i] == nullptr)
            throw Error(ids::apiInputNames, "inputs: input \"" + inputNames_[i] + "\" is not given");
    }
    return evaluateColumns(in, out, layout, modes, lastRow);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

void registerFunction(const std::string &name, orvane::HostFunction function) {
    orvane::registerFunction(name, std::move(function));
}

void unregisterFunction(const std::string &name) { orvane::unregisterFunction(name); }

}  // namespace fazolt
