// The fazolt embedding API: load a system (a nested description or a raw
// system record), evaluate matrices of inputs through the fazolt module, and
// read the outputs, the intermediate results of the last row and the
// warnings. Host errors arrive as orvane::HostError (identifier, message).
//
//   fazolt::System fan = fazolt::System::fromFile("fan.json");
//   fazolt::Matrix in = fazolt::Matrix::fromRows({{20.0, 35.0}, {30.0, 80.0}});
//   fazolt::Evaluation e = fan.evaluate(in);
//   double speed = e.outputs.at(1, 0);
//
// A System may be evaluated from several threads at once, and the calls run
// side by side: each thread has its own call state in the host. A custom
// function may itself evaluate a system (a nested call); nesting deeper than
// kMostNestedCalls raises "fazolt:api:NestedTooDeep".
#ifndef FAZOLT_API_FAZOLT_H
#define FAZOLT_API_FAZOLT_H

#include <fazolt/description.h>
#include <fazolt/export.h>
#include <fazolt/version.h>
#include <orvane/host.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

namespace fazolt {

// A dense double matrix, column-major like host values.
struct Matrix {
    int64_t rows = 0;
    int64_t cols = 0;
    std::vector<double> data;

    double at(int64_t r, int64_t c) const { return data[static_cast<size_t>(r + c * rows)]; }
    double &at(int64_t r, int64_t c) { return data[static_cast<size_t>(r + c * rows)]; }
    FAZOLT_API static Matrix zeros(int64_t rows, int64_t cols);
    FAZOLT_API static Matrix fromRows(std::initializer_list<std::initializer_list<double>> rows);
    FAZOLT_API static Matrix fromValue(const orvane::Value &value);  // any numeric value, as doubles
    FAZOLT_API orvane::Value toValue() const;                        // a double host value
};

// How each situation is reported: 0 nothing, 2 a warning, 3 an error. The
// first three are the module's diagnostics. The last two are checked here,
// around the module call: the module evaluates a NaN input as it stands (a
// missing reading would become a confident answer) and does not look at
// what it returns.
struct DiagnosticModes {
    uint8_t outOfRangeInput = 2;
    uint8_t noRuleFired = 2;
    uint8_t emptyOutputFuzzySet = 2;
    uint8_t nanInput = 2;         // "fazolt:inputs:NaN"
    uint8_t nonFiniteOutput = 2;  // "fazolt:outputs:NonFinite": NaN or infinite from a row of finite inputs
    // Not a diagnostic: the threads System::evaluate splits the rows across
    // (0: one per core), as RowChecks::threads.
    unsigned threads = 1;
};
constexpr uint8_t REPORT_NOTHING = 0;
constexpr uint8_t REPORT_WARNING = 2;
constexpr uint8_t REPORT_ERROR = 3;

// What System::checkedCall adds to the module call on a block of rows.
struct RowChecks {
    uint8_t nanInput = REPORT_WARNING;
    uint8_t nonFiniteOutput = REPORT_WARNING;
    // How messages name row r of the block (0-based): "row r" when unset; an
    // empty name leaves the row out (one row explained).
    std::function<std::string(int64_t row)> rowName;
    // How many more warnings of an identifier will be shown (unset: 20, what
    // the tool and the Python package show): the first that many are worded
    // with names and their row, the others keep the module's text. An input
    // out of its range is found on its row by comparing; finding the row of
    // a warning about an output evaluates parts of the block again.
    std::function<int64_t(const std::string &identifier)> numWanted;
    // Threads the block is split across (0: one per core; a few hundred rows
    // each at least). The outcome is the one call's, byte for byte: outputs,
    // warnings, their wording and order, the error. rowName is then called
    // from those threads; numWanted only from the calling one. Inside a
    // custom function's evaluation the rows stay on the calling thread.
    unsigned threads = 1;
};

// How deep custom functions may nest evaluations on one thread.
constexpr int kMostNestedCalls = 32;

struct Evaluation {
    Matrix outputs;            // one row per input row, one column per output
    Matrix ruleInputValues;    // numRules x numInputs, last row
    Matrix ruleOutputs;        // last row
    Matrix aggregatedOutputs;  // last row
    Matrix firingStrengths;    // numRules x 1, last row
    Matrix ruleOutputLevels;   // last row
    std::vector<orvane::Warning> warnings;
};

struct FunctionUses;  // api/function_uses.h

class FAZOLT_API System {
public:
    // A nested description (JSON text).
    static System fromDescription(std::string_view json, const std::string &modulePath = "");
    // A raw system record (25-field host struct).
    static System fromRecord(orvane::Value record, const std::string &modulePath = "");
    // A file holding either: a top-level "class" key marks a raw record in host-value JSON.
    static System fromFile(const std::string &path, const std::string &modulePath = "");
    // The text of such a file.
    static System fromText(std::string_view text, const std::string &modulePath = "");

    // Evaluates every row; raises orvane::HostError on a host error. Warnings
    // and errors name the input or output, its value and the row ("row 3",
    // 0-based; not for a single row), as checkedCall words them. Both this
    // and call() bound the inputs and outputs that the description marks
    // "clamp" to their ranges (a NaN stays NaN).
    Evaluation evaluate(const Matrix &inputs, const DiagnosticModes &modes = {}) const;
    // The module call itself with raw arguments 1 and 3 (numResults 1..6).
    orvane::CallOutcome call(const orvane::Value &inputs, const orvane::Value &diagnostics, int numResults = 6) const;
    // call with the two checks of RowChecks on a double matrix of inputs, and
    // the module's diagnostics worded with names, the value and the row (the
    // identifier and arguments stay). The outputs are the module's, bit for
    // bit. An error is the first in row order: a NaN input in error mode is
    // reported before its row is evaluated, a non-finite output after it.
    orvane::CallOutcome checkedCall(const orvane::Value &inputs, const orvane::Value &diagnostics,
                                    const RowChecks &checks, int numResults = 6) const;
    orvane::Value diagnostics(const DiagnosticModes &modes) const;

    const std::string &name() const { return name_; }
    const std::vector<std::string> &inputNames() const { return inputNames_; }
    const std::vector<std::string> &outputNames() const { return outputNames_; }
    const std::vector<std::vector<std::string>> &inputTermNames() const { return inputTermNames_; }
    const std::vector<std::vector<std::string>> &outputTermNames() const { return outputTermNames_; }
    const orvane::Value &record() const { return record_; }
    bool hasNames() const { return hasNames_; }
    // Each input's (low, high) as the module compares a value with it; empty
    // when the record does not hold them as a double matrix.
    const std::vector<std::pair<double, double>> &inputRanges() const { return inputRanges_; }

private:
    std::shared_ptr<orvane::Module> module_;
    orvane::Value record_;
    std::string name_;
    std::vector<std::string> inputNames_;
    std::vector<std::string> outputNames_;
    std::vector<std::vector<std::string>> inputTermNames_;  // empty for a raw record
    std::vector<std::vector<std::string>> outputTermNames_;
    bool hasNames_ = false;
    // The record's method and membership function names by role, for the
    // checks of Lua and Python functions' results during calls.
    std::shared_ptr<const FunctionUses> functionUses_;
    std::vector<std::pair<double, double>> inputRanges_;
    // Per variable, the range it is bounded to; empty when none is clamped.
    std::vector<std::optional<std::pair<double, double>>> inputClamps_;
    std::vector<std::optional<std::pair<double, double>>> outputClamps_;
};

// The module file next to the fazolt libraries (libfazolt.so.MAJOR.MINOR).
FAZOLT_API std::string defaultModulePath();

// Makes a C++ callable a host function, reachable by name from custom
// methods and membership functions ("feval").
FAZOLT_API void registerFunction(const std::string &name, orvane::HostFunction function);
FAZOLT_API void unregisterFunction(const std::string &name);

}  // namespace fazolt

#endif
