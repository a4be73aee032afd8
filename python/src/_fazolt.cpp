// The extension behind the Python package: systems loaded through the
// embedding API, evaluation of numpy arrays in blocks with the GIL released,
// Python callables served as host functions, and the host's memory accounts.
//
// Sections: conversions between host values and numpy, Python callables as
// host functions, systems and evaluation, explanations, the module.
//
// Locking: a module call holds the host's call lock and may call back into
// Python, which takes the GIL. So every entry that can reach the host's locks
// (loading, calls, registration) releases the GIL first, and nothing here
// waits for the GIL while holding a host lock except the callback itself.
#include <fazolt/explain.h>
#include <fazolt/export_c.h>
#include <fazolt/fazolt.h>
#include <fazolt/formats.h>
#include <fazolt/function_results.h>

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// ---- Conversions between host values and numpy arrays.

struct NumpyClass {
    zorbClassID classId;
    const char *dtype;
};

const NumpyClass kNumpyClasses[] = {
    {ZORB_DOUBLE_CLASS, "float64"}, {ZORB_SINGLE_CLASS, "float32"}, {ZORB_LOGICAL_CLASS, "bool"},
    {ZORB_INT8_CLASS, "int8"},      {ZORB_UINT8_CLASS, "uint8"},    {ZORB_INT16_CLASS, "int16"},
    {ZORB_UINT16_CLASS, "uint16"},  {ZORB_INT32_CLASS, "int32"},    {ZORB_UINT32_CLASS, "uint32"},
    {ZORB_INT64_CLASS, "int64"},    {ZORB_UINT64_CLASS, "uint64"}};

const char *dtypeOfClass(zorbClassID id) {
    for (const NumpyClass &c : kNumpyClasses)
        if (c.classId == id) return c.dtype;
    return nullptr;
}

// A host value as a numpy array of the same class and extents (column-major
// data, so Fortran order); char values become str. Needs the GIL.
py::object valueToPython(const orvane::Value &v) {
    if (v.classId() == ZORB_CHAR_CLASS) return py::str(v.toText());
    const char *dtype = dtypeOfClass(v.classId());
    if (dtype == nullptr) {
        orvane::raise(fazolt::ids::pythonArgumentClass,
                      "a host value of class " + v.className() + " cannot be passed to Python");
    }
    std::vector<py::ssize_t> shape(v.dims().begin(), v.dims().end());
    py::dtype realType(dtype);
    py::array real(realType, shape, py::detail::f_strides(shape, realType.itemsize()));
    size_t bytes = static_cast<size_t>(v.numel()) * static_cast<size_t>(realType.itemsize());
    if (bytes > 0) std::memcpy(real.mutable_data(), v.data(), bytes);
    if (!v.isComplex()) return real;
    py::array imag(realType, shape, py::detail::f_strides(shape, realType.itemsize()));
    if (bytes > 0) std::memcpy(imag.mutable_data(), v.imagData(), bytes);
    py::module_ np = py::module_::import("numpy");
    return np.attr("add")(real, np.attr("multiply")(imag, py::cast(std::complex<double>(0.0, 1.0))));
}

// What a Python callable returned, as a host value of the same class and
// extents (a scalar is 1 x 1, a 1-D array a row), so that the module checks
// it as it checks any host function's result. Needs the GIL; on failure
// returns the reason instead.
std::optional<orvane::Value> pythonToValue(const py::handle &result, std::string &reason) {
    py::module_ np = py::module_::import("numpy");
    py::array a = np.attr("asarray")(result);
    bool isComplex = a.dtype().kind() == 'c';
    std::string dtype = py::str(a.dtype());
    if (isComplex) {
        dtype = "float64";
    }
    zorbClassID classId = ZORB_UNKNOWN_CLASS;
    for (const NumpyClass &c : kNumpyClasses)
        if (dtype == c.dtype) classId = c.classId;
    if (classId == ZORB_UNKNOWN_CLASS) {
        reason = "expected numbers, got " + std::string(py::str(py::type::of(result).attr("__name__"))) + " of dtype " +
                 std::string(py::str(a.dtype()));
        return std::nullopt;
    }
    std::vector<int64_t> dims(a.shape(), a.shape() + a.ndim());
    if (dims.empty()) dims = {1, 1};
    if (dims.size() == 1) dims.insert(dims.begin(), 1);
    orvane::Value v = orvane::Value::numeric(classId, dims, isComplex);
    py::array realPart = np.attr("asfortranarray")(isComplex ? np.attr("real")(a) : a, dtype);
    size_t bytes = static_cast<size_t>(v.numel()) * static_cast<size_t>(realPart.itemsize());
    if (bytes > 0) std::memcpy(v.data(), realPart.data(), bytes);
    if (isComplex) {
        py::array imagPart = np.attr("asfortranarray")(np.attr("imag")(a), dtype);
        if (bytes > 0) std::memcpy(v.imagData(), imagPart.data(), bytes);
    }
    return v;
}

// ---- Python callables as host functions.

// Module calls on this thread in progress. A callable may evaluate (a nested
// call of its own; the host stops a cycle), but not change the functions
// that the calls under way use.
thread_local int moduleCallDepth = 0;

enum class Nesting { allowed, refused };

struct ModuleCallScope {
    ModuleCallScope(const char *what, Nesting nesting) {
        if (nesting == Nesting::refused && moduleCallDepth > 0) {
            throw orvane::HostError(fazolt::ids::pythonReentrant,
                                    std::string(what) + " from a function that the module is calling");
        }
        ++moduleCallDepth;
    }
    ~ModuleCallScope() { --moduleCallDepth; }
    ModuleCallScope(const ModuleCallScope &) = delete;
    ModuleCallScope &operator=(const ModuleCallScope &) = delete;
};

// The Python exception raised by a callable during the current module call
// on this thread; handed back to Python with the host error that it caused.
thread_local PyObject *pendingException = nullptr;

py::object takePendingException() {
    if (pendingException == nullptr) return py::none();
    return py::reinterpret_steal<py::object>(std::exchange(pendingException, nullptr));
}

// Owns one reference to the callable. The host copies functions freely (and
// without the GIL), so copies share this holder instead of touching Python
// reference counts.
struct PythonCallable {
    PyObject *callable;
    explicit PythonCallable(py::object fn) : callable(fn.release().ptr()) {}
    ~PythonCallable() {
        if (!Py_IsInitialized()) return;  // at exit, after the interpreter: leave it
        py::gil_scoped_acquire gil;
        Py_DECREF(callable);
    }
};

// "FILE:LINE: function "name"" where the callable's code says where it is
// defined, for the messages about what it returned.
std::string functionWhere(const std::string &name, const py::object &fn) {
    std::string where = "function \"" + name + "\"";
    py::object code = py::getattr(fn, "__code__", py::none());
    if (code.is_none()) return where;
    return std::string(py::str(code.attr("co_filename"))) + ":" + std::string(py::str(code.attr("co_firstlineno"))) +
           ": " + where;
}

void callPython(const std::string &name, const std::string &where, const std::shared_ptr<PythonCallable> &fn,
                int numResults, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    std::string identifier, message;
    {
        py::gil_scoped_acquire gil;
        try {
            py::tuple args(arguments.size());
            for (size_t k = 0; k < arguments.size(); ++k) args[k] = valueToPython(arguments[k]);
            py::object result = py::reinterpret_borrow<py::object>(fn->callable)(*args);
            if (numResults >= 1) {
                std::string reason;
                std::optional<orvane::Value> v = pythonToValue(result, reason);
                std::string problem = v ? fazolt::functionResultProblem(name, arguments, *v) : "";
                if (!v) {
                    identifier = fazolt::ids::pythonResultClass;
                    message = where + " returned a result the host cannot take: " + reason;
                } else if (!problem.empty()) {
                    identifier = fazolt::ids::pythonResult;
                    message = where + " as " + problem;
                } else {
                    results.assign(1, std::move(*v));
                }
            }
        } catch (py::error_already_set &e) {
            identifier = fazolt::ids::pythonFunctionError;
            message = "function \"" + name + "\" raised " + std::string(py::str(e.type().attr("__name__"))) + ": " +
                      std::string(py::str(e.value()));
            // A cycle of evaluations is the host's error, not the function's:
            // passed on as it is, not wrapped once per level.
            py::object raised = e.value();
            if (py::hasattr(raised, "identifier") && py::hasattr(raised, "message") &&
                py::str(raised.attr("identifier")).cast<std::string>() == fazolt::ids::apiNestedTooDeep) {
                identifier = fazolt::ids::apiNestedTooDeep;
                message = py::str(raised.attr("message")).cast<std::string>();
            }
            Py_XDECREF(pendingException);
            pendingException = e.value().inc_ref().ptr();
            e.restore();
            PyErr_Clear();
        }
    }
    // Raised with the GIL released and every Python object dropped: the
    // host unwinds the module's storage on its way out.
    if (!identifier.empty()) {
        results.clear();
        orvane::raise(identifier, message);
    }
}

std::map<std::string, bool> &pythonFunctionNames() {
    static std::map<std::string, bool> names;
    return names;
}

// The module calls the built-ins by name itself: replacing or removing one
// would change every system's numbers, so their names are refused.
void refuseBuiltinName(const std::string &name) {
    std::vector<std::string> builtins = orvane::builtinFunctionNames();
    if (std::find(builtins.begin(), builtins.end(), name) == builtins.end()) return;
    std::string listed;
    for (const std::string &b : builtins) listed += (listed.empty() ? "" : ", ") + b;
    throw orvane::HostError(fazolt::ids::pythonNameTaken, "function \"" + name +
                                                              "\": the module calls the built-in of this name; "
                                                              "choose another (built-ins: " +
                                                              listed + ")");
}

void registerPythonFunction(const std::string &name, py::object fn) {
    if (!PyCallable_Check(fn.ptr())) throw py::type_error("register_function: fn must be callable");
    refuseBuiltinName(name);
    ModuleCallScope scope("register_function", Nesting::refused);
    std::string where = functionWhere(name, fn);
    auto holder = std::make_shared<PythonCallable>(std::move(fn));
    pythonFunctionNames()[name] = true;
    py::gil_scoped_release release;
    fazolt::registerFunction(name, [name, where, holder](int numResults, std::vector<orvane::Value> &results,
                                                         const std::vector<orvane::Value> &arguments) {
        callPython(name, where, holder, numResults, results, arguments);
    });
}

void unregisterPythonFunction(const std::string &name) {
    refuseBuiltinName(name);
    ModuleCallScope scope("unregister_function", Nesting::refused);
    pythonFunctionNames().erase(name);
    py::gil_scoped_release release;
    fazolt::unregisterFunction(name);
}

// Called at interpreter exit, while Python still runs, so that no callable
// outlives it in the host's registry.
void unregisterAllPythonFunctions() {
    std::vector<std::string> names;
    for (const auto &entry : pythonFunctionNames()) names.push_back(entry.first);
    for (const std::string &name : names) unregisterPythonFunction(name);
}

// ---- Systems and evaluation.

struct HostReport {
    std::vector<std::pair<std::string, std::string>> warnings;  // at most kShownPerIdentifier each
    std::map<std::string, int64_t> numWarnings;                 // every warning, per identifier
    std::optional<orvane::HostError> error;

    static constexpr int64_t kShownPerIdentifier = fazolt::defaults::kWarningsPerIdentifier;
    template <typename Warning>  // the host's or the API's
    void add(std::vector<Warning> &ws) {
        for (Warning &w : ws) {
            if (++numWarnings[w.identifier] <= kShownPerIdentifier) {
                warnings.emplace_back(std::move(w.identifier), std::move(w.message));
            }
            w.arguments.clear();
        }
        ws.clear();
    }
    // (warnings, counts, error or None, the Python exception behind it or None)
    py::tuple toPython() {
        py::object err = py::none();
        if (error) err = py::make_tuple(error->identifier(), error->message());
        return py::make_tuple(py::cast(warnings), py::cast(numWarnings), err, takePendingException());
    }
};

// The three diagnostics' modes, then the two checks': on_out_of_range,
// on_no_rule_fired, on_empty_set, on_nan_input, on_non_finite_output.
using Modes = std::tuple<int, int, int, int, int>;

// ---- Explanations: the C++ explainer's records as plain Python values,
// which the package turns into its named tuples. Need the GIL.

py::array_t<double> numbers(const std::vector<double> &v) {
    return py::array_t<double>(py::ssize_t(v.size()), v.data());
}

// A Matrix in its extents (column-major, so Fortran order).
py::array_t<double> matrixToPython(const fazolt::Matrix &m) {
    py::array_t<double, py::array::f_style> a({static_cast<py::ssize_t>(m.rows), static_cast<py::ssize_t>(m.cols)});
    if (!m.data.empty()) std::memcpy(a.mutable_data(), m.data.data(), m.data.size() * sizeof(double));
    return a;
}

// Rows of equal length as a 2-D array: rows[k][j] at (k, j).
py::array_t<double> rowsToPython(const std::vector<std::vector<double>> &rows, size_t width) {
    py::array_t<double> a({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(width)});
    auto at = a.mutable_unchecked<2>();
    for (size_t k = 0; k < rows.size(); ++k)
        for (size_t j = 0; j < width; ++j) at(static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(j)) = rows[k][j];
    return a;
}

py::list variablesToPython(const std::vector<fazolt::VariableInfo> &variables) {
    py::list out;
    for (const fazolt::VariableInfo &v : variables) {
        py::list terms;
        for (const fazolt::TermInfo &t : v.terms)
            terms.append(py::make_tuple(t.name, t.type, py::tuple(py::cast(t.params))));
        out.append(py::make_tuple(v.name, py::make_tuple(v.low, v.high), terms));
    }
    return out;
}

py::dict infoToPython(const fazolt::SystemInfo &info) {
    py::list rules;
    for (const fazolt::RuleInfo &r : info.rules)
        rules.append(py::make_tuple(r.text, r.antecedent, r.consequent, r.isAnd, r.weight));
    py::list samplePoints;
    for (const std::vector<double> &p : info.samplePoints) samplePoints.append(numbers(p));
    py::dict d;
    d["name"] = info.name;
    d["type"] = info.type;
    d["is_mamdani"] = info.isMamdani;
    d["inputs"] = variablesToPython(info.inputs);
    d["outputs"] = variablesToPython(info.outputs);
    d["rules"] = rules;
    d["sample_points"] = samplePoints;
    return d;
}

py::dict explanationToPython(const fazolt::SystemInfo &info, const fazolt::Explanation &e) {
    py::list inputs, rules, outputs;
    for (const fazolt::InputExplanation &in : e.inputs) inputs.append(py::make_tuple(in.value, in.termDegrees));
    for (const fazolt::RuleExplanation &r : e.rules)
        rules.append(py::make_tuple(r.antecedentValues, r.firingStrength, r.outputLevels, r.weightedOutputs));
    for (size_t o = 0; o < e.outputs.size(); ++o) {
        const fazolt::OutputExplanation &out = e.outputs[o];
        outputs.append(py::make_tuple(out.value, numbers(out.aggregatedSet), out.sum, out.termLevels));
    }
    py::dict d;
    d["inputs"] = inputs;
    d["rules"] = rules;
    d["outputs"] = outputs;
    d["total_firing_strength"] = e.totalFiringStrength;
    d["is_mamdani"] = info.isMamdani;
    return d;
}

// Results 1 to 6 of the one-row call, each in its extents.
py::list evaluationToPython(const fazolt::Evaluation &e) {
    py::list results;
    for (const fazolt::Matrix *m : {&e.outputs, &e.ruleInputValues, &e.ruleOutputs, &e.aggregatedOutputs,
                                    &e.firingStrengths, &e.ruleOutputLevels})
        results.append(matrixToPython(*m));
    return results;
}

class NativeSystem {
public:
    explicit NativeSystem(fazolt::System s, bool isRecordShown = true) : system_(std::in_place, std::move(s)) {
        // Read once, here: a view of the record that needs no host call (not
        // for the fitting search's trial systems, which never show it).
        if (isRecordShown) recordJson_ = orvane::toJson(system_->record());
    }
    // Unloading may run the module's at-exit function: not with the GIL.
    ~NativeSystem() {
        py::gil_scoped_release release;
        rowEvaluator_.reset();
        explainer_.reset();
        system_.reset();
    }

    // One row (a list or tuple of numbers, or a 1-D float64 array of
    // numInputs values) through the prepared evaluator, with the GIL held:
    // a row of built-in functions takes well under a microsecond, less than
    // releasing the GIL would. None when this path cannot give the batch's
    // answer alone: another kind of row, custom functions (which may evaluate
    // again), or any diagnostic (the batch then words it, from the same
    // outputs).
    py::object evaluateRow(const py::handle &row) {
        if (!isRowEvaluatorTried_) {
            isRowEvaluatorTried_ = true;
            try {
                fazolt::Evaluator made(*system_);
                if (!made.callsHost()) rowEvaluator_.emplace(std::move(made));
                rowValues_.resize(rowEvaluator_ ? rowEvaluator_->numInputs() : 0);
            } catch (const orvane::HostError &) {  // the batch reports it
            }
        }
        if (!rowEvaluator_ || !readRow(row)) return py::none();
        py::array_t<double> out(static_cast<py::ssize_t>(rowEvaluator_->numOutputs()));
        const fazolt::RowStatus status =
            rowEvaluator_->evaluate(rowValues_, {out.mutable_data(), rowEvaluator_->numOutputs()});
        if (!status.ok()) return py::none();
        return out;
    }

    static std::unique_ptr<NativeSystem> load(const std::function<fazolt::System()> &make,
                                              bool isRecordShown = true) {
        std::optional<fazolt::System> s;
        {
            py::gil_scoped_release release;
            s = make();
        }
        return std::make_unique<NativeSystem>(std::move(*s), isRecordShown);
    }

    // This system with some terms' parameters (and the rule weights, unless
    // `weights` is empty) replaced, built from its record: the fitting
    // search tries thousands of points, and building each from a
    // description took most of a trial's time. The values are the caller's
    // to keep valid; the module checks the record as it checks any.
    using TermParameters = std::tuple<bool, int64_t, int64_t, std::vector<double>>;  // isOutput, variable, term
    std::unique_ptr<NativeSystem> withParameters(const std::vector<TermParameters> &terms,
                                                 const std::vector<double> &weights) const {
        orvane::Value record = system_->record();
        for (const auto &[isOutput, variable, term, params] : terms) {
            orvane::Value mfs = record.field(0, isOutput ? "outputMF" : "inputMF").field(variable, "mf");
            mfs.setField(term, "params",
                         orvane::Value::doubleMatrix(1, static_cast<int64_t>(params.size()), params));
        }
        if (!weights.empty())
            record.setField(0, "weight", orvane::Value::doubleMatrix(static_cast<int64_t>(weights.size()), 1, weights));
        return load([&] { return fazolt::System::fromRecord(std::move(record)); }, false);
    }

    const fazolt::System &system() const { return *system_; }
    const std::string &recordJson() const { return recordJson_; }

    // x: rows x cols doubles, any strides. Returns (outputs, report...).
    // Each block is split across `threads` threads (RowChecks::threads).
    py::tuple evaluate(const py::array_t<double> &x, const Modes &modes, int64_t blockRows, unsigned threads) const {
        if (x.ndim() != 2) throw py::value_error("expected a 2-D array");
        ModuleCallScope scope("evaluate", Nesting::allowed);
        const int64_t numRows = x.shape(0), numCols = x.shape(1);
        const int64_t rowStride = x.strides(0) / static_cast<int64_t>(sizeof(double));
        const int64_t colStride = x.strides(1) / static_cast<int64_t>(sizeof(double));
        const double *in = x.data();
        // The output's width is the module's: known after the first call.
        std::optional<py::array_t<double>> out;
        double *outData = nullptr;
        int64_t numOutputs = -1;
        HostReport report;
        bool interrupted = false;
        {
            py::gil_scoped_release release;
            orvane::Value diagnostics = system_->diagnostics(diagnosticModes(modes));
            fazolt::RowChecks checks = rowChecks(modes);
            checks.threads = threads;
            // As many rows per thread as one thread takes per call.
            blockRows *= fazolt::defaults::threadsFor(threads);
            int64_t first = 0;
            // Rows by their index in x; a single row needs no name.
            checks.rowName = [&first, numRows](int64_t row) {
                return numRows == 1 ? std::string() : "row " + std::to_string(first + row);
            };
            checks.numWanted = [&report](const std::string &id) {
                auto it = report.numWarnings.find(id);
                return HostReport::kShownPerIdentifier - (it == report.numWarnings.end() ? 0 : it->second);
            };
            // One input block for every full block: a fresh one per call would
            // come as fresh pages, faulted in and zeroed again each time.
            orvane::Value fullBlock;
            do {  // one call even for no rows: the module's own empty result and checks
                int64_t n = std::min(blockRows, numRows - first);
                orvane::Value block =
                    n == blockRows && fullBlock ? fullBlock : orvane::Value::numeric(ZORB_DOUBLE_CLASS, {n, numCols});
                if (n == blockRows) fullBlock = block;
                double *b = block.pr();
                for (int64_t c = 0; c < numCols; ++c)
                    for (int64_t r = 0; r < n; ++r) b[r + c * n] = in[(first + r) * rowStride + c * colStride];
                orvane::CallOutcome outcome = system_->checkedCall(block, diagnostics, checks, 1);
                report.add(outcome.warnings);
                if (outcome.error) {
                    report.error = std::move(outcome.error);
                    break;
                }
                const orvane::Value &y = outcome.results.at(0);
                const std::vector<int64_t> &dims = y.dims();
                if (numOutputs < 0) {
                    numOutputs = dims.size() == 2 ? dims[1] : 0;
                    py::gil_scoped_acquire gil;
                    out.emplace(std::vector<py::ssize_t>{numRows, numOutputs});
                    outData = out->mutable_data();
                }
                if (dims.size() != 2 || dims[0] != n || dims[1] != numOutputs) {
                    report.error = orvane::HostError(fazolt::ids::pythonResultShape,
                                                     "the module returned outputs of an unexpected shape");
                    break;
                }
                const double *yd = y.pr();
                for (int64_t r = 0; r < n; ++r)
                    for (int64_t o = 0; o < numOutputs; ++o) outData[(first + r) * numOutputs + o] = yd[r + o * n];
                first += n;
                // Ctrl-C between blocks: Python runs its signal handlers here
                // (on the main thread), and KeyboardInterrupt ends the call.
                if (first < numRows) {
                    py::gil_scoped_acquire gil;
                    if (PyErr_CheckSignals() != 0) {
                        interrupted = true;
                        break;
                    }
                }
            } while (first < numRows);
        }
        if (interrupted) throw py::error_already_set();
        if (!out) out.emplace(std::vector<py::ssize_t>{0, 0});
        return py::make_tuple(*out, report.toPython());
    }

    // The explainer of the system, built once, before the system is shared:
    // the rules shown as the description wrote them (writtenRules, per rule,
    // empty when given by entries). A system the module refuses has none.
    void attachExplainer(const std::vector<std::string> &writtenRules) {
        ModuleCallScope scope("explain", Nesting::allowed);
        {
            py::gil_scoped_release release;
            try {
                explainer_.emplace(*system_, writtenRules);
            } catch (const orvane::HostError &e) {
                refusal_ = e;  // the module's reason, naming the record's field
            }
        }
        if (refusal_) takePendingException();
    }

    const fazolt::Explainer &explainer() const {
        if (refusal_) throw *refusal_;
        if (!explainer_) throw py::value_error("the system has no explainer yet");
        return *explainer_;
    }
    bool hasExplainer() const { return explainer_.has_value(); }

    // One row explained: (explanation, the call's six results, report...).
    py::tuple explain(const std::vector<double> &row, const Modes &modes) const {
        const fazolt::Explainer &why = explainer();
        ModuleCallScope scope("explain", Nesting::allowed);
        HostReport report;
        std::optional<fazolt::Explanation> e;
        {
            py::gil_scoped_release release;
            fazolt::DiagnosticModes d = diagnosticModes(modes);
            d.nanInput = fazolt::reportOfByte(static_cast<uint8_t>(std::get<3>(modes)));
            d.nonFiniteOutput = fazolt::reportOfByte(static_cast<uint8_t>(std::get<4>(modes)));
            try {
                e = why.explain(row, d);
                report.add(e->warnings);
            } catch (const orvane::HostError &error) {
                report.error = error;
            }
        }
        if (!e) return py::make_tuple(py::none(), py::none(), report.toPython());
        return py::make_tuple(explanationToPython(why.info(), *e), evaluationToPython(e->evaluation),
                              report.toPython());
    }

private:
    static fazolt::DiagnosticModes diagnosticModes(const Modes &modes) {
        fazolt::DiagnosticModes d;
        // 0..255, checked in Python: the module's meaning of the byte
        d.outOfRangeInput = fazolt::reportOfByte(static_cast<uint8_t>(std::get<0>(modes)));
        d.noRuleFired = fazolt::reportOfByte(static_cast<uint8_t>(std::get<1>(modes)));
        d.emptyOutputFuzzySet = fazolt::reportOfByte(static_cast<uint8_t>(std::get<2>(modes)));
        return d;
    }
    static fazolt::RowChecks rowChecks(const Modes &modes) {
        fazolt::RowChecks checks;
        checks.nanInput = fazolt::reportOfByte(static_cast<uint8_t>(std::get<3>(modes)));  // 0, 2 or 3, checked in Python
        checks.nonFiniteOutput = fazolt::reportOfByte(static_cast<uint8_t>(std::get<4>(modes)));
        return checks;
    }

    std::optional<fazolt::System> system_;
    std::optional<fazolt::Explainer> explainer_;
    bool isRowEvaluatorTried_ = false;
    std::optional<fazolt::Evaluator> rowEvaluator_;  // none for custom functions
    std::vector<double> rowValues_;

    // The row's values as np.asarray(row).astype(float64) gives them; false
    // for anything else (the batch path then reads it, or refuses it).
    bool readRow(const py::handle &row) {
        const size_t n = rowValues_.size();
        if (py::isinstance<py::array>(row)) {
            const auto a = py::reinterpret_borrow<py::array>(row);
            if (a.ndim() != 1 || static_cast<size_t>(a.shape(0)) != n || !a.dtype().is(py::dtype::of<double>()))
                return false;
            const auto *base = static_cast<const char *>(a.data());
            for (size_t i = 0; i < n; ++i)
                std::memcpy(&rowValues_[i], base + static_cast<py::ssize_t>(i) * a.strides(0), sizeof(double));
            return true;
        }
        if (!PyList_Check(row.ptr()) && !PyTuple_Check(row.ptr())) return false;
        PyObject *sequence = row.ptr();
        if (static_cast<size_t>(PySequence_Fast_GET_SIZE(sequence)) != n) return false;
        PyObject **items = PySequence_Fast_ITEMS(sequence);
        for (size_t i = 0; i < n; ++i) {
            PyObject *item = items[i];
            if (PyFloat_Check(item)) {
                rowValues_[i] = PyFloat_AS_DOUBLE(item);
            } else if (PyLong_Check(item)) {
                // Within int64, as numpy holds whole numbers, then rounded.
                int overflow = 0;
                const long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
                if (overflow != 0) return false;
                rowValues_[i] = static_cast<double>(v);
            } else {
                return false;
            }
        }
        return true;
    }
    std::optional<orvane::HostError> refusal_;
    std::string recordJson_;
};

}  // namespace

PYBIND11_MODULE(_fazolt, m) {
    m.doc() = "fazolt's extension: systems, evaluation and host functions through the embedding API";
    m.attr("__version__") = FAZOLT_VERSION;
    m.attr("WARNINGS_PER_IDENTIFIER") = fazolt::defaults::kWarningsPerIdentifier;
    m.attr("NUM_SAMPLES") = fazolt::defaults::kNumSamples;

    py::class_<NativeSystem>(m, "NativeSystem")
        .def_static(
            "from_file",
            [](const std::string &path) { return NativeSystem::load([&] { return fazolt::System::fromFile(path); }); })
        .def_static("from_description",
                    [](const std::string &text) {
                        return NativeSystem::load([&] { return fazolt::System::fromDescription(text); });
                    })
        .def_static("from_record_json",
                    [](const std::string &text) {
                        return NativeSystem::load([&] { return fazolt::System::fromRecord(orvane::fromJson(text)); });
                    })
        .def_property_readonly("name", [](const NativeSystem &s) { return s.system().name(); })
        .def_property_readonly("has_names", [](const NativeSystem &s) { return s.system().hasNames(); })
        .def_property_readonly("input_names", [](const NativeSystem &s) { return s.system().inputNames(); })
        .def_property_readonly("output_names", [](const NativeSystem &s) { return s.system().outputNames(); })
        .def_property_readonly("record_json", &NativeSystem::recordJson)
        .def("evaluate", &NativeSystem::evaluate, py::arg("x"), py::arg("modes"), py::arg("block_rows"),
             py::arg("threads"))
        .def("evaluate_row", &NativeSystem::evaluateRow, py::arg("row"))
        .def("with_parameters", &NativeSystem::withParameters, py::arg("terms"), py::arg("weights"))
        .def("attach_explainer", &NativeSystem::attachExplainer, py::arg("written_rules"))
        .def(
            "export_c",
            [](const NativeSystem &s, const std::string &folder, const std::string &prefix, bool isFloat,
               bool isExtern) {
                ModuleCallScope scope("to_c", Nesting::allowed);
                fazolt::CExportOptions options;
                options.isFloat = isFloat;
                options.isExtern = isExtern;
                py::gil_scoped_release release;
                fazolt::exportC(s.system(), folder, prefix, options);
            },
            py::arg("folder"), py::arg("prefix"), py::arg("single_precision"), py::arg("extern"))
        .def_property_readonly("has_explainer", &NativeSystem::hasExplainer)
        .def_property_readonly("info", [](const NativeSystem &s) { return infoToPython(s.explainer().info()); })
        .def("explain", &NativeSystem::explain, py::arg("row"), py::arg("modes"))
        .def(
            "input_term_degrees",
            [](const NativeSystem &s, size_t input, const std::vector<double> &xs) {
                const fazolt::Explainer &why = s.explainer();
                ModuleCallScope scope("explain", Nesting::allowed);
                std::vector<std::vector<double>> degrees;
                {
                    py::gil_scoped_release release;
                    degrees = why.inputTermDegrees(input, xs);
                }
                return rowsToPython(degrees, why.info().inputs.at(input).terms.size());
            },
            py::arg("input"), py::arg("xs"))
        .def("output_term_curves",
             // Mamdani: per output, its terms at its sample points, (samples, terms).
             [](const NativeSystem &s) {
                 const fazolt::Explainer &why = s.explainer();
                 py::list curves;
                 for (size_t o = 0; o < why.outputTermCurves().size(); ++o) {
                     const std::vector<std::vector<double>> &terms = why.outputTermCurves()[o];
                     size_t numSamples = why.info().samplePoints.at(o).size();
                     py::array_t<double> a(
                         {static_cast<py::ssize_t>(numSamples), static_cast<py::ssize_t>(terms.size())});
                     auto at = a.mutable_unchecked<2>();
                     for (size_t j = 0; j < terms.size(); ++j)
                         for (size_t k = 0; k < numSamples; ++k)
                             at(static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(j)) = terms[j][k];
                     curves.append(a);
                 }
                 return curves;
             });

    // Errors raised while loading arrive as this, turned into FazoltError
    // (whose `id` is the identifier) by the package. fazolt::Error is the
    // API's; a bare host error can still come from the raw entry.
    static py::exception<orvane::HostError> hostError(m, "HostError", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const fazolt::Error &e) {
            PyErr_SetObject(hostError.ptr(), py::make_tuple(e.id(), e.message()).ptr());
        } catch (const orvane::HostError &e) {
            PyErr_SetObject(hostError.ptr(), py::make_tuple(e.identifier(), e.message()).ptr());
        }
    });

    // The identifiers the API, the tool and the package report, from the
    // one list (fazolt/error_ids.h).
    py::tuple errorIds(std::size(fazolt::ids::all));
    for (size_t k = 0; k < std::size(fazolt::ids::all); ++k) errorIds[k] = py::str(fazolt::ids::all[k]);
    m.attr("ERROR_IDS") = errorIds;

    m.def("register_function", &registerPythonFunction, py::arg("name"), py::arg("fn"));
    m.def("unregister_function", &unregisterPythonFunction, py::arg("name"));
    m.def("description_text", [](const std::string &path) {
        // The file as a nested description (JSON text), whatever language it
        // is written in; a raw record comes back as it is.
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<fazolt::FormatWarning> warnings;
        std::string description = fazolt::descriptionFromText(text.str(), fazolt::formatOfPath(path), path, &warnings);
        std::vector<std::pair<std::string, std::string>> pairs;
        for (fazolt::FormatWarning &w : warnings) pairs.emplace_back(std::move(w.identifier), std::move(w.message));
        // With the reader's warnings (a DEFAULT it cannot keep), to be said once.
        return py::make_tuple(description, pairs);
    });
    m.def("description_from_text", [](const std::string &text, const std::string &format, const std::string &name) {
        // Text in a named language (json, fcl, fll) as a nested description,
        // with the reader's warnings, as description_text for a file.
        std::vector<fazolt::FormatWarning> warnings;
        std::string description = fazolt::descriptionFromText(text, fazolt::formatNamed(format), name, &warnings);
        std::vector<std::pair<std::string, std::string>> pairs;
        for (fazolt::FormatWarning &w : warnings) pairs.emplace_back(std::move(w.identifier), std::move(w.message));
        return py::make_tuple(description, pairs);
    });
    m.def("description_to_text", [](const std::string &description, const std::string &format) {
        return fazolt::descriptionToText(description, fazolt::formatNamed(format));
    });
    m.def("format_of_path", [](const std::string &path) {
        switch (fazolt::formatOfPath(path)) {
            case fazolt::SystemFormat::Fcl: return "fcl";
            case fazolt::SystemFormat::Fll: return "fll";
            case fazolt::SystemFormat::Json: break;
        }
        return "json";
    });
    m.def("description_with_samples",
          [](const std::string &text, int64_t samples) { return fazolt::descriptionWithSamples(text, samples); });
    m.def("host_live_blocks", [] { return orvane::allocStats().liveBlocks; });
    py::module_::import("atexit").attr("register")(py::cpp_function(&unregisterAllPythonFunctions));
}
