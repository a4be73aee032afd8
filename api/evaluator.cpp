// One row per call: fazolt::Evaluator over the module's row entry
// (host/rowEntry.h).
//
// Sections: the shared prepared record, the evaluator's state, rows.
#include "fazolt/fazolt.h"
#include "common/errorBoundary.h"
#include "function_uses.h"
#include "prepared_record.h"

#include "host/rowEntry.h"

#include <dlfcn.h>

#include <cmath>
#include <mutex>

namespace fazolt {

// ---- The shared prepared record: imported under a lock the first time an
// Evaluator is made, then read by every Evaluator of the System.

struct PreparedRecord {
    std::shared_ptr<orvane::Module> module;  // released after the record below
    orvane::Value record;
    std::mutex mutex;
    bool isTried = false;
    std::optional<orvane::HostError> error;  // the import's error, raised again for each Evaluator
    PreparedSystem *system = nullptr;
    FazoltReleasePreparedSystem release = nullptr;

    ~PreparedRecord() {
        if (system != nullptr) release(system);
    }
};

std::shared_ptr<PreparedRecord> preparedRecordOf(std::shared_ptr<orvane::Module> module, orvane::Value record) {
    auto p = std::make_shared<PreparedRecord>();
    p->module = std::move(module);
    p->record = std::move(record);
    return p;
}

namespace {

// An entry beside qibFunction, from the library the Module holds loaded (so
// that asking for it again loads nothing).
template <typename Function>
Function entryOf(const orvane::Module &module, const char *name) {
    void *handle = dlopen(module.path().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    void *f = handle != nullptr ? dlsym(handle, name) : nullptr;
    if (handle != nullptr) dlclose(handle);  // the Module's own reference keeps it loaded
    if (f == nullptr) throw Error("Orvane:module:NoEntryPoint", "'" + module.path() + "' does not export " + name);
    return reinterpret_cast<Function>(f);
}

const PreparedSystem *preparedSystem(PreparedRecord &p) {
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.isTried) {
        p.isTried = true;
        auto prepare = entryOf<FazoltPrepareSystem>(*p.module, "fazolt_prepareSystem");
        p.release = entryOf<FazoltReleasePreparedSystem>(*p.module, "fazolt_releasePreparedSystem");
        PreparedSystem *made = nullptr;
        orvane::BoundaryOutcome outcome = orvane::runInCall([&](zorbTLS *tls) { made = prepare(tls, p.record.get()); });
        if (outcome.error) {
            p.error = outcome.error;
        } else {
            p.system = made;
        }
    }
    if (p.error) throw Error(*p.error);
    return p.system;
}

using ClampRange = std::optional<std::pair<double, double>>;

double clamped(double x, const ClampRange &range) {
    if (!range) return x;
    if (x > range->second) return range->second;
    if (x < range->first) return range->first;
    return x;  // NaN passes
}

}  // namespace

// ---- The evaluator's state: the module's evaluator and buffers sized once.

struct Evaluator::State {
    System system;  // shares the module, the record and the prepared record
    DiagnosticModes modes;
    const PreparedSystem *prepared = nullptr;
    RowEvaluator *row = nullptr;
    FazoltReleaseRowEvaluator release = nullptr;
    FazoltEvaluateRow evaluateRow = nullptr;
    FazoltRowIntermediate intermediate = nullptr;
    bool callsHost = false;
    size_t numInputs = 0;
    size_t numOutputs = 0;
    std::vector<double> in;  // the row after "clamp"; unused without clamps
    std::vector<double> out;
    std::optional<Error> lastError;

    State(const System &s, const DiagnosticModes &m) : system(s), modes(m) {
        prepared = preparedSystem(*system.prepared_);
        const orvane::Module &module = *system.module_;
        auto create = entryOf<FazoltCreateRowEvaluator>(module, "fazolt_createRowEvaluator");
        release = entryOf<FazoltReleaseRowEvaluator>(module, "fazolt_releaseRowEvaluator");
        evaluateRow = entryOf<FazoltEvaluateRow>(module, "fazolt_evaluateRow");
        intermediate = entryOf<FazoltRowIntermediate>(module, "fazolt_rowIntermediate");
        auto callsHostOf = entryOf<FazoltRowCallsHost>(module, "fazolt_rowCallsHost");
        // The record is checked: its counts can be read.
        numInputs = static_cast<size_t>(system.numInputs_);
        numOutputs = static_cast<size_t>(system.numOutputs_);
        in.assign(numInputs, 0.0);
        out.assign(numOutputs, 0.0);
        orvane::BoundaryOutcome outcome = orvane::runInCall([&](zorbTLS *tls) { row = create(tls, prepared); });
        if (outcome.error) throw Error(*outcome.error);
        callsHost = callsHostOf(row);
    }
    ~State() {
        if (row != nullptr) release(row);
    }
    State(const State &) = delete;
    State &operator=(const State &) = delete;

    // A row whose functions call the host runs inside a host call, as the
    // batch's rows do: the custom functions' checks know the system.
    bool evaluateInCall(const double *inputs, double *outputs, bool keepsIntermediates, DiagnosticsSeen *seen) noexcept {
        try {
            EvaluatingSystem evaluating(system.functionUses_.get());
            orvane::BoundaryOutcome outcome = orvane::runInCall(
                [&](zorbTLS *tls) { evaluateRow(tls, row, inputs, outputs, keepsIntermediates, seen); });
            if (!outcome.error) return true;
            lastError.emplace(*outcome.error);
        } catch (const std::exception &e) {
            lastError.emplace("Orvane:module:InternalError", e.what());
        }
        return false;
    }
};

Evaluator::Evaluator(const System &system, const DiagnosticModes &modes) try
    : state_(std::make_unique<State>(system, modes)) {
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

Evaluator::Evaluator(const Evaluator &other) : Evaluator(other.state_->system, other.state_->modes) {}
Evaluator::Evaluator(Evaluator &&other) noexcept = default;
Evaluator &Evaluator::operator=(Evaluator &&other) noexcept = default;
Evaluator::~Evaluator() = default;

size_t Evaluator::numInputs() const noexcept { return state_->numInputs; }
size_t Evaluator::numOutputs() const noexcept { return state_->numOutputs; }
bool Evaluator::callsHost() const noexcept { return state_->callsHost; }
const Error *Evaluator::lastError() const noexcept { return state_->lastError ? &*state_->lastError : nullptr; }

IntermediateShapes Evaluator::intermediateShapes() const noexcept {
    IntermediateShapes shapes;
    std::pair<int64_t, int64_t> *each[5] = {&shapes.ruleInputValues, &shapes.ruleOutputs, &shapes.aggregatedOutputs,
                                            &shapes.firingStrengths, &shapes.ruleOutputLevels};
    for (int32_t k = 1; k <= 5; ++k) {
        int32_t rows = 0;
        int32_t cols = 0;
        state_->intermediate(state_->row, k, &rows, &cols);
        *each[k - 1] = {rows, cols};
    }
    return shapes;
}

// ---- Rows.

namespace {

int32_t fromOne(int32_t index) { return index - 1; }  // 0 (none) becomes -1

}  // namespace

RowStatus Evaluator::evaluate(std::span<const double> row, std::span<double> out,
                              const RowIntermediates *intermediates) noexcept {
    State &s = *state_;
    RowStatus status;
    std::span<double> targets[5];
    if (intermediates != nullptr) {
        const IntermediateShapes shapes = intermediateShapes();
        const std::pair<int64_t, int64_t> *sizes[5] = {&shapes.ruleInputValues, &shapes.ruleOutputs,
                                                       &shapes.aggregatedOutputs, &shapes.firingStrengths,
                                                       &shapes.ruleOutputLevels};
        targets[0] = intermediates->ruleInputValues;
        targets[1] = intermediates->ruleOutputs;
        targets[2] = intermediates->aggregatedOutputs;
        targets[3] = intermediates->firingStrengths;
        targets[4] = intermediates->ruleOutputLevels;
        for (int k = 0; k < 5; ++k)
            if (static_cast<int64_t>(targets[k].size()) != sizes[k]->first * sizes[k]->second)
                status.failure = RowFailure::size;
    }
    if (row.size() != s.numInputs || out.size() != s.numOutputs) status.failure = RowFailure::size;
    if (status.failure != RowFailure::none) return status;

    // x - x is 0 exactly when x is finite: one test a value on the usual row.
    const std::vector<ClampRange> &inputClamps = s.system.inputClamps_;
    bool isEveryInputFinite = true;
    for (size_t i = 0; i < s.numInputs; ++i) isEveryInputFinite = isEveryInputFinite & (row[i] - row[i] == 0.0);
    for (size_t i = 0; !isEveryInputFinite && i < s.numInputs; ++i) {
        if (std::isnan(row[i])) {
            status.nanInput = static_cast<int32_t>(i);
            break;
        }
    }
    const double *in = row.data();
    if (!inputClamps.empty()) {
        for (size_t i = 0; i < s.numInputs; ++i) s.in[i] = clamped(row[i], inputClamps[i]);
        in = s.in.data();
    }
    // Straight into the caller's outputs unless a default or a clamp comes
    // between.
    const std::vector<std::optional<double>> &defaults = s.system.outputDefaults_;
    const std::vector<ClampRange> &outputClamps = s.system.outputClamps_;
    const bool isStaged = !defaults.empty() || !outputClamps.empty();
    double *result = isStaged ? s.out.data() : out.data();
    DiagnosticsSeen seen{0, 0, 0};
    if (!s.callsHost) {
        s.evaluateRow(nullptr, s.row, in, result, intermediates != nullptr, &seen);
    } else if (!s.evaluateInCall(in, result, intermediates != nullptr, &seen)) {
        status.failure = RowFailure::customFunction;
        return status;
    }
    status.outOfRangeInput = fromOne(seen.outOfRangeInput);
    status.noRuleFired = fromOne(seen.noRuleFiredOutput);
    status.emptyOutputFuzzySet = fromOne(seen.emptySetOutput);

    if (isStaged) {
        // An output's default replaces the midpoint the module gives where no
        // rule fired, before "clamp", as in a batch.
        if (status.noRuleFired >= 0 && !defaults.empty()) {
            for (size_t o = 0; o < s.numOutputs; ++o)
                if (defaults[o]) s.out[o] = *defaults[o];
        }
        for (size_t o = 0; o < s.numOutputs; ++o)
            out[o] = outputClamps.empty() ? s.out[o] : clamped(s.out[o], outputClamps[o]);
    }
    for (size_t o = 0; isEveryInputFinite && o < s.numOutputs; ++o) {
        if (!(out[o] - out[o] == 0.0)) {
            status.nonFiniteOutput = static_cast<int32_t>(o);
            break;
        }
    }
    for (int32_t k = 1; intermediates != nullptr && k <= 5; ++k) {
        int32_t rows = 0;
        int32_t cols = 0;
        const double *values = s.intermediate(s.row, k, &rows, &cols);
        std::span<double> &target = targets[k - 1];
        for (size_t n = 0; n < target.size(); ++n) target[n] = values[n];
    }
    return status;
}

namespace {

// Names as the batch's messages give them; by number for a raw record.
std::string variableName(const std::vector<std::string> &names, const char *kind, int32_t index) {
    if (static_cast<size_t>(index) < names.size())
        return std::string(kind) + " \"" + names[static_cast<size_t>(index)] + "\"";
    return std::string(kind) + " " + std::to_string(index + 1);
}

}  // namespace

RowStatus Evaluator::evaluateOrThrow(std::span<const double> row, std::span<double> out,
                                     const RowIntermediates *intermediates) {
    const RowStatus status = evaluate(row, out, intermediates);
    const State &s = *state_;
    if (status.failure == RowFailure::size) {
        throw Error(ids::apiSize, "row, out, intermediates: a row takes " + std::to_string(s.numInputs) +
                                      " values and gives " + std::to_string(s.numOutputs) +
                                      " (intermediates: as intermediateShapes())");
    }
    if (status.failure == RowFailure::customFunction) throw *s.lastError;
    const std::vector<std::string> &inputs = s.system.inputNames_;
    const std::vector<std::string> &outputs = s.system.outputNames_;
    if (s.modes.nanInput == REPORT_ERROR && status.nanInput >= 0)
        throw Error(ids::inputsNaN, variableName(inputs, "input", status.nanInput) + " is NaN");
    if (s.modes.outOfRangeInput == REPORT_ERROR && status.outOfRangeInput >= 0) {
        const size_t i = static_cast<size_t>(status.outOfRangeInput);
        throw Error(ids::moduleOutOfRangeInput, variableName(inputs, "input", status.outOfRangeInput) + " is " +
                                                    orvane::formatDouble(row[i], false) + ", outside its range");
    }
    if (s.modes.noRuleFired == REPORT_ERROR && status.noRuleFired >= 0)
        throw Error(ids::moduleNoRuleFired, "no rule fired for " + variableName(outputs, "output", status.noRuleFired));
    if (s.modes.emptyOutputFuzzySet == REPORT_ERROR && status.emptyOutputFuzzySet >= 0) {
        throw Error(
            ids::moduleZeroMembershipValue,
            "the aggregated set of " + variableName(outputs, "output", status.emptyOutputFuzzySet) + " is empty");
    }
    if (s.modes.nonFiniteOutput == REPORT_ERROR && status.nonFiniteOutput >= 0) {
        const size_t o = static_cast<size_t>(status.nonFiniteOutput);
        throw Error(ids::outputsNonFinite, variableName(outputs, "output", status.nonFiniteOutput) + " is " +
                                               orvane::formatDouble(out[o], false) +
                                               " from inputs that are all finite");
    }
    return status;
}

}  // namespace fazolt
