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
/// nesting deeper than kMostNestedCalls on a thread, or more than
/// kMostCallsAtOnce evaluations in progress in the process (a cycle that
/// hops threads), raises fazolt::ids::apiNestedTooDeep.
#ifndef FAZOLT_API_FAZOLT_H
#define FAZOLT_API_FAZOLT_H

#include <fazolt/defaults.h>
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

/// How a situation is reported: a DiagnosticModes or RowChecks field.
/// Other values (a cast integer) are refused with ids::apiDiagnosticMode;
/// the raw call's diagnostics argument keeps the module's own bytes.
enum class Report : uint8_t {
    nothing = 0,  ///< say nothing
    warning = 2,  ///< add a warning to the result
    error = 3     ///< throw (evaluate) or return (call) an error
};
/// Report::nothing, as earlier versions spelled it.
constexpr Report REPORT_NOTHING = Report::nothing;
/// Report::warning, as earlier versions spelled it.
constexpr Report REPORT_WARNING = Report::warning;
/// Report::error, as earlier versions spelled it.
constexpr Report REPORT_ERROR = Report::error;
/// The module's meaning of a raw mode byte: 2 warns, 3 raises an error, any
/// other value reports nothing.
constexpr Report reportOfByte(uint8_t mode) {
    return mode == 2 ? Report::warning : (mode == 3 ? Report::error : Report::nothing);
}

/// How each situation is reported. The first three are the module's
/// diagnostics. The last two are checked here, around the module call: the
/// module evaluates a NaN input as it stands (a missing reading would become
/// a confident answer) and does not look at what it returns.
struct DiagnosticModes {
    Report outOfRangeInput = Report::warning;      ///< an input outside its range: ids::moduleOutOfRangeInput
    Report noRuleFired = Report::warning;          ///< no rule fired for a row
    Report emptyOutputFuzzySet = Report::warning;  ///< an output's aggregated set is empty
    Report nanInput = Report::warning;             ///< ids::inputsNaN
    /// ids::outputsNonFinite: NaN or infinite from a row of finite inputs.
    Report nonFiniteOutput = Report::warning;
    /// Not a diagnostic: the threads System::evaluate splits the rows across
    /// (0: one per core), as RowChecks::threads.
    unsigned threads = 1;
};

/// What System::checkedCall adds to the module call on a block of rows.
struct RowChecks {
    Report nanInput = Report::warning;         ///< as DiagnosticModes::nanInput
    Report nonFiniteOutput = Report::warning;  ///< as DiagnosticModes::nonFiniteOutput
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
/// How many evaluations may be in progress at once in the process, on all
/// threads together: a cycle whose custom functions evaluate on other
/// threads (one per level) nests without growing any one thread's depth.
/// More raise ids::apiNestedTooDeep too.
constexpr int kMostCallsAtOnce = 1024;

/// The intermediate results of the last row of a batch (of none for no rows).
struct Intermediates {
    Matrix ruleInputValues;    ///< result 2: each rule's degree of each input, numRules x numInputs
    Matrix ruleOutputs;        ///< result 3: Mamdani, the implied sets; Sugeno, the weighted rule outputs
    Matrix aggregatedOutputs;  ///< result 4: Mamdani, the aggregated sets; Sugeno, the weighted outputs added
    Matrix firingStrengths;    ///< result 5: numRules x 1
    Matrix ruleOutputLevels;   ///< result 6: Sugeno, the rules' output levels
};

/// A situation that an evaluation reports in warning mode.
struct Warning {
    /// e.g. ids::inputsNaN, or the module's ids::moduleOutOfRangeInput
    std::string identifier;
    /// What happened, naming the input or output, its value and the row
    /// ("row 3: input \"x\" is NaN"), as RowChecks::numWanted says.
    std::string message;
    /// The row of the batch, from 0; unset when it was not looked for (past
    /// the warnings shown per identifier).
    std::optional<int64_t> row;
    /// The module's arguments after the identifier, e.g. the input's index.
    std::vector<orvane::Value> arguments;
    /// The host's form (identifier, message, arguments), for code written
    /// for orvane::Warning.
    operator orvane::Warning() const { return {identifier, message, arguments}; }
};

/// What System::evaluate(const Matrix &, ...) returns.
struct Evaluation {
    Matrix outputs;                         ///< one row per input row, one column per output
    Matrix ruleInputValues;                 ///< last row: as Intermediates::ruleInputValues
    Matrix ruleOutputs;                     ///< last row: as Intermediates::ruleOutputs
    Matrix aggregatedOutputs;               ///< last row: as Intermediates::aggregatedOutputs
    Matrix firingStrengths;                 ///< last row: as Intermediates::firingStrengths
    Matrix ruleOutputLevels;                ///< last row: as Intermediates::ruleOutputLevels
    std::vector<Warning> warnings;          ///< in row order; see RowChecks::numWanted
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

struct FunctionUses;    // api/function_uses.h
struct PreparedRecord;  // api/evaluator.cpp
class Evaluator;

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
    std::vector<Warning> evaluate(std::span<const double> rows, std::size_t columns, Layout layout,
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
    std::vector<Warning> evaluate(const std::vector<NamedInput> &inputs, std::span<double> out,
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
    /// @param checks the checks and how rows are named; a mode that is not
    /// a Report value is returned as the error ids::apiDiagnosticMode
    /// @param numResults results asked for, 1..6
    orvane::CallOutcome checkedCall(const orvane::Value &inputs, const orvane::Value &diagnostics,
                                    const RowChecks &checks, int numResults = 6) const;
    /// The diagnostics argument of call() for `modes`.
    /// @throws Error ids::apiDiagnosticMode naming a field that holds no
    /// Report value (as every function taking DiagnosticModes does)
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
    /// The number of inputs the record declares (0 if it cannot be read),
    /// the `columns` of evaluate().
    std::size_t numInputs() const { return numInputs_ < 0 ? 0 : static_cast<std::size_t>(numInputs_); }
    /// The number of outputs the record declares (0 if it cannot be read).
    std::size_t numOutputs() const { return numOutputs_ < 0 ? 0 : static_cast<std::size_t>(numOutputs_); }
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
    /// Per output, its description's "default" (its value where no rule
    /// fired, in place of the range's midpoint), or nothing; empty when no
    /// output has one.
    const std::vector<std::optional<double>> &outputDefaults() const { return outputDefaults_; }

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
    // Per output, its value where no rule fired; empty when none has one.
    std::vector<std::optional<double>> outputDefaults_;

    // The record imported and checked for Evaluators, once for the System
    // and its copies.
    std::shared_ptr<PreparedRecord> prepared_;
    friend class Evaluator;

    // The system of a built record; the names are the description's when
    // hasNames is set, a raw record's (input1, mf1, ...) otherwise.
    static System fromBuilt(const BuiltSystem &built, bool hasNames, const std::string &modulePath);

    struct Columns;
    std::vector<Warning> evaluateColumns(const Columns &in, std::span<double> out, Layout layout,
                                         const DiagnosticModes &modes, Intermediates *lastRow) const;
};

/// Why Evaluator::evaluate did not evaluate a row.
enum class RowFailure : uint8_t {
    none,            ///< the row was evaluated
    size,            ///< a buffer of the wrong size: nothing was written
    customFunction,  ///< a custom function raised: Evaluator::lastError() says what
};

/// What one row met (Evaluator::evaluate): for each diagnostic, the first
/// input or output (from 0) it concerns, or -1 when it did not happen. Every
/// diagnostic is reported here whatever the modes say; the outputs are then
/// those that a batch in warning mode returns.
struct RowStatus {
    int32_t nanInput = -1;                  ///< a NaN input: it was evaluated as it stands
    int32_t outOfRangeInput = -1;           ///< an input outside its range (after "clamp")
    int32_t noRuleFired = -1;               ///< an output for which no rule fired: its range's midpoint
    int32_t emptyOutputFuzzySet = -1;       ///< an output whose aggregated set is empty
    int32_t nonFiniteOutput = -1;           ///< an output NaN or infinite from finite inputs
    RowFailure failure = RowFailure::none;  ///< why the row was not evaluated, if it was not
    /// Nothing to report: evaluated, and no diagnostic.
    bool ok() const noexcept {
        return failure == RowFailure::none && nanInput < 0 && outOfRangeInput < 0 && noRuleFired < 0 &&
               emptyOutputFuzzySet < 0 && nonFiniteOutput < 0;
    }
};

/// Caller's storage for a row's intermediate results, each column by column
/// as the Matrix of the same name in Intermediates; each span must hold
/// exactly as many values as Evaluator::intermediateShapes() says.
struct RowIntermediates {
    std::span<double> ruleInputValues;    ///< numRules x numInputs
    std::span<double> ruleOutputs;        ///< as Intermediates::ruleOutputs
    std::span<double> aggregatedOutputs;  ///< as Intermediates::aggregatedOutputs
    std::span<double> firingStrengths;    ///< numRules x 1
    std::span<double> ruleOutputLevels;   ///< as Intermediates::ruleOutputLevels
};

/// Rows and columns of each of a row's intermediate results.
struct IntermediateShapes {
    std::pair<int64_t, int64_t> ruleInputValues;    ///< rows, columns
    std::pair<int64_t, int64_t> ruleOutputs;        ///< rows, columns
    std::pair<int64_t, int64_t> aggregatedOutputs;  ///< rows, columns
    std::pair<int64_t, int64_t> firingStrengths;    ///< rows, columns
    std::pair<int64_t, int64_t> ruleOutputLevels;   ///< rows, columns
};

/// One row per call, as a control loop evaluates: a System's record imported
/// and checked once, then each row evaluated into the caller's buffer with
/// no heap allocation, no lock and no system call when the system's
/// functions are all built in. The outputs and intermediate results are
/// those of System::evaluate on the same row, bit for bit, "clamp" included.
///
///     fazolt::Evaluator pd(fazolt::System::fromFile("pd.json"));
///     double u[1];
///     for (;;) {
///         double row[2] = {error(), errorRate()};
///         if (fazolt::RowStatus st = pd.evaluate(row, u); !st.ok()) react(st);
///         actuate(u[0]);
///     }
///
/// Thread safety: an Evaluator serves one thread at a time; give each thread
/// its own (a copy: it shares the checked record and has storage of its
/// own). A system with custom functions evaluates each row inside a host
/// call, which allocates, and the functions may allocate themselves.
class FAZOLT_API Evaluator {
public:
    /// Imports and checks the system's record (once per System and its
    /// copies) and sizes the working storage.
    /// @param system the system; the Evaluator keeps what it needs of it
    /// @param modes which diagnostics evaluateOrThrow throws for
    /// (REPORT_ERROR); `threads` is not used
    /// @throws Error the errors the batch raises for the record (the same
    /// identifier and message), and for a system of built-in functions those
    /// of its first row that do not depend on the values (a membership
    /// function with too few parameters).
    /// Complexity: linear in the record; a second Evaluator of the same
    /// System does not import it again.
    explicit Evaluator(const System &system, const DiagnosticModes &modes = {});
    /// Another evaluator of the same system (and modes), with storage of
    /// its own: for another thread. Throws as the constructor above.
    Evaluator(const Evaluator &other);
    /// Not assignable by copy: make another one.
    Evaluator &operator=(const Evaluator &) = delete;
    /// Takes over `other`, which can then only be destroyed or assigned.
    Evaluator(Evaluator &&other) noexcept;
    /// Takes over `other`, which can then only be destroyed or assigned.
    Evaluator &operator=(Evaluator &&other) noexcept;
    /// Releases the working storage; the checked record stays with the
    /// System as long as it or another Evaluator needs it.
    ~Evaluator();

    /// Evaluates one row into `out`. Never throws, and builds no text.
    /// @param row numInputs() values
    /// @param out numOutputs() values, written
    /// @param intermediates when not null, receives the row's intermediate
    /// results (computed only then, which costs more)
    /// @return the diagnostics the row met; RowFailure::size (nothing
    /// written) for a buffer of the wrong size
    /// Complexity: linear in the rules and sample points, as a batch row.
    RowStatus evaluate(std::span<const double> row, std::span<double> out,
                       const RowIntermediates *intermediates = nullptr) noexcept;
    /// evaluate, throwing for a failure and for the diagnostics whose mode
    /// is REPORT_ERROR (in the order a batch reports them: a NaN input, the
    /// module's three, a non-finite output); `out` is written all the same.
    /// @throws Error ids::apiSize, the custom function's error,
    /// ids::inputsNaN, ids::moduleOutOfRangeInput, ids::moduleNoRuleFired,
    /// ids::moduleZeroMembershipValue, ids::outputsNonFinite.
    RowStatus evaluateOrThrow(std::span<const double> row, std::span<double> out,
                              const RowIntermediates *intermediates = nullptr);

    /// The number of values of a row.
    std::size_t numInputs() const noexcept;
    /// The number of outputs a row gives.
    std::size_t numOutputs() const noexcept;
    /// The sizes RowIntermediates must have.
    IntermediateShapes intermediateShapes() const noexcept;
    /// Whether rows call host functions (custom functions, or a method that
    /// needs the host's arrays), and so take a host call each.
    bool callsHost() const noexcept;
    /// The error of the last RowFailure::customFunction, or null.
    const Error *lastError() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
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
