/// @file
/// The fazolt embedding API: load a system (a nested description or a raw
/// system record), evaluate batches of inputs through the fazolt module, and
/// read the outputs, the intermediate results of the last row and the
/// warnings. Every function throws fazolt::Error (fazolt/error.h), whose
/// identifiers fazolt/error_ids.h lists.
///
///     fazolt::System fan = fazolt::System::fromFile("fan.json");
///     std::vector<double> rows = {20.0, 35.0,   // temperature, humidity
///                                 30.0, 80.0};
///     std::vector<double> speed(2 * fan.numOutputs());
///     fan.evaluate(rows, 2, fazolt::Layout::RowMajor, speed);
///
/// Thread safety: a System may be evaluated from several threads at once,
/// and the calls run side by side: each thread has its own call state in the
/// host. A custom function may itself evaluate a system (a nested call);
/// nesting deeper than kMostNestedCalls raises fazolt::ids::apiNestedTooDeep.
#ifndef FAZOLT_API_FAZOLT_H
#define FAZOLT_API_FAZOLT_H

#include <fazolt/description.h>
#include <fazolt/error.h>
#include <fazolt/export.h>
#include <fazolt/functions.h>
#include <fazolt/version.h>
#include <orvane/host.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fazolt {

/// A dense double matrix, column-major like host values: element (r, c) is
/// data[r + c * rows]. Fill it through at() or fromRows(); filling `data`
/// row by row would transpose it.
struct Matrix {
    int64_t rows = 0;          ///< number of rows
    int64_t cols = 0;          ///< number of columns
    std::vector<double> data;  ///< rows * cols values, column by column

    /// Element (r, c), from 0. Throws fazolt::Error ids::apiOutOfRange when
    /// r or c is outside the matrix, or `data` is not rows * cols long. O(1).
    double at(int64_t r, int64_t c) const { return data[index(r, c)]; }
    /// Element (r, c) to change, checked as the const at(). O(1).
    double &at(int64_t r, int64_t c) { return data[index(r, c)]; }
    /// A rows x cols matrix of zeros. Throws ids::apiSize for a negative extent.
    FAZOLT_API static Matrix zeros(int64_t rows, int64_t cols);
    /// A matrix of the given rows, e.g. fromRows({{20, 35}, {30, 80}}).
    /// Throws ids::apiRaggedRows when the rows differ in length.
    FAZOLT_API static Matrix fromRows(std::initializer_list<std::initializer_list<double>> rows);
    /// A numeric host value as doubles (the raw entry's type).
    FAZOLT_API static Matrix fromValue(const orvane::Value &value);
    /// A double host value holding the matrix (the raw entry's type).
    FAZOLT_API orvane::Value toValue() const;

private:
    FAZOLT_API size_t index(int64_t r, int64_t c) const;
};

/// How each situation is reported: REPORT_NOTHING, REPORT_WARNING or
/// REPORT_ERROR. The first three are the module's diagnostics. The last two
/// are checked here, around the module call: the module evaluates a NaN
/// input as it stands (a missing reading would become a confident answer)
/// and does not look at what it returns.
struct DiagnosticModes {
    uint8_t outOfRangeInput = 2;      ///< an input outside its range: ids::moduleOutOfRangeInput
    uint8_t noRuleFired = 2;          ///< no rule fired for a row
    uint8_t emptyOutputFuzzySet = 2;  ///< an output's aggregated set is empty
    uint8_t nanInput = 2;             ///< ids::inputsNaN
    /// ids::outputsNonFinite: NaN or infinite from a row of finite inputs.
    uint8_t nonFiniteOutput = 2;
    /// Not a diagnostic: the threads System::evaluate splits the rows across
    /// (0: one per core), as RowChecks::threads.
    unsigned threads = 1;
};
/// A DiagnosticModes value: say nothing.
constexpr uint8_t REPORT_NOTHING = 0;
/// A DiagnosticModes value: add a warning to the result.
constexpr uint8_t REPORT_WARNING = 2;
/// A DiagnosticModes value: throw (evaluate) or return (call) an error.
constexpr uint8_t REPORT_ERROR = 3;

/// What System::checkedCall adds to the module call on a block of rows.
struct RowChecks {
    uint8_t nanInput = REPORT_WARNING;         ///< as DiagnosticModes::nanInput
    uint8_t nonFiniteOutput = REPORT_WARNING;  ///< as DiagnosticModes::nonFiniteOutput
    /// How messages name row r of the block (0-based): "row r" when unset; an
    /// empty name leaves the row out (one row explained).
    std::function<std::string(int64_t row)> rowName;
    /// How many more warnings of an identifier will be shown (unset: 20, what
    /// the tool and the Python package show): the first that many are worded
    /// with names and their row, the others keep the module's text. An input
    /// out of its range is found on its row by comparing; finding the row of
    /// a warning about an output evaluates parts of the block again.
    std::function<int64_t(const std::string &identifier)> numWanted;
    /// Threads the block is split across (0: one per core; a few hundred rows
    /// each at least). The outcome is the one call's, byte for byte: outputs,
    /// warnings, their wording and order, the error. rowName is then called
    /// from those threads; numWanted only from the calling one. Inside a
    /// custom function's evaluation the rows stay on the calling thread.
    unsigned threads = 1;
};

/// How deep custom functions may nest evaluations on one thread.
constexpr int kMostNestedCalls = 32;

/// The intermediate results of the last row of a batch (of none for no rows).
struct Intermediates {
    Matrix ruleInputValues;    ///< result 2: each rule's degree of each input, numRules x numInputs
    Matrix ruleOutputs;        ///< result 3: Mamdani, the implied sets; Sugeno, the weighted rule outputs
    Matrix aggregatedOutputs;  ///< result 4: Mamdani, the aggregated sets; Sugeno, the weighted outputs added
    Matrix firingStrengths;    ///< result 5: numRules x 1
    Matrix ruleOutputLevels;   ///< result 6: Sugeno, the rules' output levels
};

/// What System::evaluate(const Matrix &, ...) returns.
struct Evaluation {
    Matrix outputs;                         ///< one row per input row, one column per output
    Matrix ruleInputValues;                 ///< last row: as Intermediates::ruleInputValues
    Matrix ruleOutputs;                     ///< last row: as Intermediates::ruleOutputs
    Matrix aggregatedOutputs;               ///< last row: as Intermediates::aggregatedOutputs
    Matrix firingStrengths;                 ///< last row: as Intermediates::firingStrengths
    Matrix ruleOutputLevels;                ///< last row: as Intermediates::ruleOutputLevels
    std::vector<orvane::Warning> warnings;  ///< in row order; see RowChecks::numWanted
};

/// How a batch of numbers is laid out in one buffer.
enum class Layout {
    RowMajor,    ///< row after row: element (r, c) at [r * columns + c], as C arrays and CSV
    ColumnMajor  ///< column after column: element (r, c) at [r + c * rows], as Matrix and host values
};

/// One input's values for a batch evaluated by name, e.g. {"temperature", t}.
struct NamedInput {
    std::string_view name;           ///< the input's name in the description
    std::span<const double> values;  ///< one value per row
};

struct FunctionUses;  // api/function_uses.h

/// A loaded system, ready to evaluate. Copies share the loaded module and
/// the (read-only) record; a System is cheap to copy.
///
/// Thread safety: every const member may be called from several threads at
/// once; loading is not synchronised with evaluating the same object.
class FAZOLT_API System {
public:
    /// A nested description (JSON text), checked and built into a record.
    /// @param json the description
    /// @param modulePath the module file; empty: defaultModulePath()
    /// @throws Error ids::descriptionInvalid or ids::descriptionMalformed
    /// (where().path names the bad value), the host's "Orvane:module:..."
    /// when the module cannot be loaded.
    /// Complexity: linear in the description and the sample points.
    static System fromDescription(std::string_view json, const std::string &modulePath = "");
    /// A raw system record (the 25-field host struct), copied: later changes
    /// to `record` do not reach the System.
    /// @param record the record; the module checks it at the first evaluation
    /// @param modulePath the module file; empty: defaultModulePath()
    /// @throws Error "Orvane:module:..." when the module cannot be loaded.
    static System fromRecord(orvane::Value record, const std::string &modulePath = "");
    /// A file holding a description (.json, or FCL and FLL by their
    /// extension) or a raw record in host-value JSON (a top-level "class" key).
    /// @param path the file
    /// @param modulePath the module file; empty: defaultModulePath()
    /// @throws Error ids::ioCannotOpen, ids::ioReadFailed, the readers' and
    /// fromDescription's errors.
    static System fromFile(const std::string &path, const std::string &modulePath = "");
    /// The text of such a file (JSON only).
    /// @param text a description or a raw record in host-value JSON
    /// @param modulePath the module file; empty: defaultModulePath()
    /// @throws Error as fromDescription, "Orvane:json:..." for a bad record.
    static System fromText(std::string_view text, const std::string &modulePath = "");

    /// Evaluates every row of `inputs` (rows x inputs) with the intermediate
    /// results of the last row. Warnings and errors name the input or
    /// output, its value and the row ("row 3", 0-based; not for a single
    /// row), as checkedCall words them. Both this and call() bound the inputs
    /// and outputs that the description marks "clamp" to their ranges (a NaN
    /// stays NaN). Holds the inputs, the outputs and a copy of each in host
    /// values at once: for large batches the span overloads below use less.
    /// @param inputs one row per evaluation, one column per input
    /// @param modes how each situation is reported, and the threads
    /// @throws Error with where().row set for an error of a row: the module's
    /// diagnostics in error mode, ids::inputsNaN, ids::outputsNonFinite, an
    /// error of a custom function, "Orvane:checks:..." for a wrong number of
    /// columns.
    /// Complexity: linear in the rows.
    Evaluation evaluate(const Matrix &inputs, const DiagnosticModes &modes = {}) const;
    /// Evaluates `rows` in place: the outputs go straight into `out`, in the
    /// same layout (rows x numOutputs()). The rows are passed to the module
    /// in blocks, so that beside the caller's buffers only a block is held.
    /// The outputs, warnings and errors are those of
    /// evaluate(const Matrix &, modes), bit for bit.
    /// @param rows the inputs, rows * columns values in `layout`
    /// @param columns the number of inputs of each row: numInputs()
    /// @param layout how `rows` and `out` are laid out
    /// @param out rows * numOutputs() values, written in `layout`
    /// @param modes as evaluate(const Matrix &, modes)
    /// @param lastRow when not null, receives the last row's intermediate
    /// results (computed only then)
    /// @return the warnings, in row order
    /// @throws Error ids::apiSize naming the parameter whose size is wrong
    /// (nothing is written then), and evaluate's errors (the rows before the
    /// failing block are written).
    /// Complexity: linear in the rows.
    std::vector<orvane::Warning> evaluate(std::span<const double> rows, std::size_t columns, Layout layout,
                                          std::span<double> out, const DiagnosticModes &modes = {},
                                          Intermediates *lastRow = nullptr) const;
    /// Evaluates inputs given by name, each its own column of values, e.g.
    /// evaluate({{"temperature", t}, {"humidity", h}}, out); the outputs go
    /// into `out` as in the overload above.
    /// @param inputs every input of the system once, in any order, all of
    /// the same length
    /// @param out rows * numOutputs() values, written in `layout`
    /// @param layout how `out` is laid out
    /// @param modes as evaluate(const Matrix &, modes)
    /// @param lastRow as above
    /// @return the warnings, in row order
    /// @throws Error ids::apiInputNames for a name that is not an input, an
    /// input named twice or not at all, or a raw record (which has no names);
    /// ids::apiSize for columns of different lengths or a wrong `out`; and
    /// evaluate's errors.
    std::vector<orvane::Warning> evaluate(const std::vector<NamedInput> &inputs, std::span<double> out,
                                          Layout layout = Layout::ColumnMajor, const DiagnosticModes &modes = {},
                                          Intermediates *lastRow = nullptr) const;

    /// The raw entry: the module call itself with raw arguments 1 and 3.
    /// Errors come back in the outcome with the module's and the host's
    /// identifiers as they are; nothing is thrown for them.
    /// @param inputs argument 1, any host value
    /// @param diagnostics argument 3, as diagnostics() makes it
    /// @param numResults results asked for, 1..6
    orvane::CallOutcome call(const orvane::Value &inputs, const orvane::Value &diagnostics, int numResults = 6) const;
    /// call with the two checks of RowChecks on a double matrix of inputs, and
    /// the module's diagnostics worded with names, the value and the row (the
    /// identifier and arguments stay). The outputs are the module's, bit for
    /// bit. An error is the first in row order: a NaN input in error mode is
    /// reported before its row is evaluated, a non-finite output after it.
    /// @param inputs a rows x inputs double matrix
    /// @param diagnostics as diagnostics() makes it
    /// @param checks the checks and how rows are named
    /// @param numResults results asked for, 1..6
    orvane::CallOutcome checkedCall(const orvane::Value &inputs, const orvane::Value &diagnostics,
                                    const RowChecks &checks, int numResults = 6) const;
    /// The diagnostics argument of call() for `modes`.
    orvane::Value diagnostics(const DiagnosticModes &modes) const;

    /// The description's name; empty for a raw record.
    const std::string &name() const { return name_; }
    /// The inputs' names in column order; empty for a raw record.
    const std::vector<std::string> &inputNames() const { return inputNames_; }
    /// The outputs' names in column order; empty for a raw record.
    const std::vector<std::string> &outputNames() const { return outputNames_; }
    /// Per input, its terms' names; empty for a raw record.
    const std::vector<std::vector<std::string>> &inputTermNames() const { return inputTermNames_; }
    /// Per output, its terms' names; empty for a raw record.
    const std::vector<std::vector<std::string>> &outputTermNames() const { return outputTermNames_; }
    /// The number of inputs the record declares (-1 if it cannot be read).
    int64_t numInputs() const { return numInputs_; }
    /// The number of outputs the record declares (-1 if it cannot be read).
    int64_t numOutputs() const { return numOutputs_; }
    /// A deep copy of the system record: changing it changes nothing in
    /// this System. Complexity: linear in the record's size.
    orvane::Value record() const;
    /// Whether the system came from a description (and has names).
    bool hasNames() const { return hasNames_; }
    /// Each input's (low, high) as the module compares a value with it; empty
    /// when the record does not hold them as a double matrix.
    const std::vector<std::pair<double, double>> &inputRanges() const { return inputRanges_; }
    /// Per input, the range a description's "clamp" bounds it to before the
    /// module call, or nothing; empty when no input is clamped.
    const std::vector<std::optional<std::pair<double, double>>> &inputClamps() const { return inputClamps_; }
    /// As inputClamps(), for the outputs, bounded after the call.
    const std::vector<std::optional<std::pair<double, double>>> &outputClamps() const { return outputClamps_; }

private:
    std::shared_ptr<orvane::Module> module_;
    orvane::Value record_;  // never handed out: record() copies it
    std::string name_;
    std::vector<std::string> inputNames_;
    std::vector<std::string> outputNames_;
    std::vector<std::vector<std::string>> inputTermNames_;  // empty for a raw record
    std::vector<std::vector<std::string>> outputTermNames_;
    int64_t numInputs_ = -1;
    int64_t numOutputs_ = -1;
    bool hasNames_ = false;
    // The record's method and membership function names by role, for the
    // checks of Lua and Python functions' results during calls.
    std::shared_ptr<const FunctionUses> functionUses_;
    std::vector<std::pair<double, double>> inputRanges_;
    // Per variable, the range it is bounded to; empty when none is clamped.
    std::vector<std::optional<std::pair<double, double>>> inputClamps_;
    std::vector<std::optional<std::pair<double, double>>> outputClamps_;

    struct Columns;
    std::vector<orvane::Warning> evaluateColumns(const Columns &in, std::span<double> out, Layout layout,
                                                 const DiagnosticModes &modes, Intermediates *lastRow) const;
};

/// The module file next to the fazolt libraries (libfazolt.so.MAJOR.MINOR).
FAZOLT_API std::string defaultModulePath();

/// The raw entry for custom functions: makes a C++ callable taking host
/// values a host function, reachable by name from custom methods and
/// membership functions. fazolt::Functions (fazolt/functions.h) offers
/// typed signatures without host types. Replaces a function of that name.
/// Thread safety: not while a system that names it is being evaluated.
FAZOLT_API void registerFunction(const std::string &name, orvane::HostFunction function);
/// Removes a host function registered by registerFunction.
FAZOLT_API void unregisterFunction(const std::string &name);

}  // namespace fazolt

#endif
