// Systems evaluated through the fazolt module.
#include "fazolt/fazolt.h"
#include "function_uses.h"
#include "languages.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

namespace fazolt {
namespace {

// Module calls in progress on this thread: a custom function that evaluates
// a system nests one more.
thread_local int nestedCalls = 0;

std::string readFile(const std::string &path) {
    // A folder opens like a file and reads as empty text, which would be
    // reported as malformed JSON.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw orvane::HostError("fazolt:io:CannotOpen", "'" + path + "' is a directory, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw orvane::HostError("fazolt:io:CannotOpen", "cannot open '" + path + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw orvane::HostError("fazolt:io:ReadFailed", "cannot read '" + path + "'");
    return text.str();
}

// dlopen searches the library path for a name without a slash, so that
// "--module mylib.so" would report a missing file even when it exists.
std::string loadablePath(const std::string &path) { return path.find('/') == std::string::npos ? "./" + path : path; }

// A raw record in host-value JSON carries a top-level "class" key; a nested
// description never does.
bool looksLikeHostValue(std::string_view text) {
    try {
        nlohmann::json j = nlohmann::json::parse(text.begin(), text.end());
        return j.is_object() && j.contains("class");
    } catch (const nlohmann::json::exception &) {
        return false;
    }
}

}  // namespace

int numNestedCalls() { return nestedCalls; }

Matrix Matrix::zeros(int64_t rows, int64_t cols) {
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
            throw orvane::HostError("fazolt:api:RaggedRows", "every row must have " + std::to_string(cols) + " values");
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

System System::fromDescription(std::string_view json, const std::string &modulePath) {
    languages::registerFunctions();  // before the names are checked: FCL's operators are host functions
    BuiltSystem built = buildSystem(json);
    System s = fromRecord(built.record, modulePath);
    s.name_ = built.name;
    s.inputNames_ = built.inputNames;
    s.outputNames_ = built.outputNames;
    s.inputTermNames_ = built.inputTermNames;
    s.outputTermNames_ = built.outputTermNames;
    s.hasNames_ = true;
    s.functionUses_ = functionUsesOf(s.record_, s.inputNames_, s.outputNames_, s.inputTermNames_, s.outputTermNames_);
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
    return s;
}

System System::fromRecord(orvane::Value record, const std::string &modulePath) {
    languages::registerFunctions();  // a record may name the operators that FCL brings
    System s;
    s.module_ = orvane::Module::load(modulePath.empty() ? defaultModulePath() : loadablePath(modulePath));
    s.record_ = std::move(record);
    s.functionUses_ = functionUsesOf(s.record_, {}, {}, {}, {});
    // Read here, while no other thread can see the record.
    orvane::Value range = s.record_.className() == "struct" && s.record_.numel() == 1 ? s.record_.field(0, "inputRange")
                                                                                      : orvane::Value();
    if (range && range.classId() == ZORB_DOUBLE_CLASS && !range.isComplex() && range.dims().size() == 2 &&
        range.dims()[1] >= 2) {
        const int64_t stride = range.dims()[0];  // the low ends, then the high ends
        for (int64_t i = 0; i < stride; ++i) s.inputRanges_.emplace_back(range.pr()[i], range.pr()[i + stride]);
    }
    return s;
}

System System::fromFile(const std::string &path, const std::string &modulePath) {
    std::string text = readFile(path);
    if (std::optional<std::string> description = languages::descriptionOfFile(text, path)) {
        return fromDescription(*description, modulePath);
    }
    return fromText(text, modulePath);
}

System System::fromText(std::string_view text, const std::string &modulePath) {
    if (looksLikeHostValue(text)) return fromRecord(orvane::fromJson(text), modulePath);
    return fromDescription(text, modulePath);
}

orvane::Value System::diagnostics(const DiagnosticModes &modes) const {
    return makeDiagnostics(modes.outOfRangeInput, modes.noRuleFired, modes.emptyOutputFuzzySet, name_);
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
    return orvane::HostError("fazolt:input:ColumnCount",
                             "the data has " + std::to_string(dims[1]) + " columns, the system " +
                                 std::to_string(static_cast<int64_t>(numInputs)) + " inputs");
}

}  // namespace

orvane::CallOutcome System::call(const orvane::Value &inputs, const orvane::Value &diagnostics, int numResults) const {
    // A cycle (a system's function evaluating that system again) would
    // otherwise nest until the stack runs out.
    // Made only when a cycle is met, not on every call.
    auto tooDeep = [] {
        return orvane::HostError("fazolt:api:NestedTooDeep",
                                 "evaluations nested " + std::to_string(kMostNestedCalls) +
                                     " deep: a custom function evaluates a system whose functions evaluate "
                                     "again, without end?");
    };
    orvane::CallOutcome outcome;
    if (std::optional<orvane::HostError> e = columnCountError(inputs, record_)) {
        outcome.error = std::move(e);
        return outcome;
    }
    if (nestedCalls >= kMostNestedCalls) {
        outcome.error = tooDeep();
        return outcome;
    }
    {
        struct Nested {
            Nested() { ++nestedCalls; }
            ~Nested() { --nestedCalls; }
        } nested;
        EvaluatingSystem evaluating(functionUses_.get());
        std::vector<orvane::Value> arguments = {clampedColumns(inputs, inputClamps_), record_, diagnostics};
        outcome = module_->call(numResults, arguments);
        if (!outcome.error && !outcome.results.empty())
            outcome.results[0] = clampedColumns(outcome.results[0], outputClamps_);
    }
    // Each level of the cycle added where it called: said once is enough.
    if (outcome.error && outcome.error->identifier() == "fazolt:api:NestedTooDeep") outcome.error = tooDeep();
    return outcome;
}

Evaluation System::evaluate(const Matrix &inputs, const DiagnosticModes &modes) const {
    RowChecks checks;
    checks.nanInput = modes.nanInput;
    checks.nonFiniteOutput = modes.nonFiniteOutput;
    checks.threads = modes.threads;
    if (inputs.rows == 1) checks.rowName = [](int64_t) { return std::string(); };  // nothing to tell apart
    orvane::CallOutcome outcome = checkedCall(inputs.toValue(), diagnostics(modes), checks, 6);
    if (outcome.error) throw *outcome.error;
    Evaluation e;
    Matrix *targets[6] = {&e.outputs,           &e.ruleInputValues, &e.ruleOutputs,
                          &e.aggregatedOutputs, &e.firingStrengths, &e.ruleOutputLevels};
    for (size_t k = 0; k < outcome.results.size() && k < 6; ++k) *targets[k] = Matrix::fromValue(outcome.results[k]);
    e.warnings = std::move(outcome.warnings);
    return e;
}

void registerFunction(const std::string &name, orvane::HostFunction function) {
    orvane::registerFunction(name, std::move(function));
}

void unregisterFunction(const std::string &name) { orvane::unregisterFunction(name); }

}  // namespace fazolt
