// Typed custom functions: each is registered as a host function whose body
// checks the arguments its role receives, calls the typed function on them
// (vectorised over the points, the rules or the sample points as the role
// needs) and checks the result as Lua and Python functions' are.
#include "fazolt/functions.h"

#include "common/errorBoundary.h"
#include "fazolt/function_results.h"

#include <exception>
#include <mutex>

namespace fazolt {
namespace {

// One name at a time between looking it up and registering it.
std::mutex registering;

// A real numeric argument's values: its own storage when it is a real double,
// a converted copy otherwise.
struct Numbers {
    std::vector<double> copy;
    std::span<const double> values;
};

Numbers numbersOf(const std::string &name, const orvane::Value &v, const char *what) {
    zorbClassID id = v ? v.classId() : ZORB_UNKNOWN_CLASS;
    bool isNumeric = id == ZORB_LOGICAL_CLASS || id >= ZORB_DOUBLE_CLASS;
    if (!isNumeric || v.isComplex()) {
        orvane::raise(ids::apiFunctionArguments, "function " + name + ": " + what + " is not real numbers");
    }
    Numbers n;
    if (id == ZORB_DOUBLE_CLASS) {
        n.values = std::span<const double>(v.pr(), static_cast<size_t>(v.numel()));
    } else {
        n.copy = v.toDoubles();
        n.values = n.copy;
    }
    return n;
}

void requireCount(const std::string &name, const std::vector<orvane::Value> &arguments, size_t count,
                  const char *role) {
    if (arguments.size() != count) {
        orvane::raise(ids::apiFunctionArguments, "function " + name + ": " + role + " receives " +
                                                     std::to_string(count) + " arguments, got " +
                                                     std::to_string(arguments.size()));
    }
}

// Runs the typed function; what it throws becomes a host error, so that the
// module's storage is released on the way out.
template <typename Body>
void guarded(const std::string &name, Body body) {
    try {
        body();
    } catch (const orvane::HostError &e) {
        orvane::raise(e.identifier(), e.message());  // a nested evaluation's own error
    } catch (const std::exception &e) {
        orvane::raise(ids::apiFunctionError, "function " + name + " threw: " + e.what());
    } catch (...) {
        orvane::raise(ids::apiFunctionError, "function " + name + " threw an exception that is not std::exception");
    }
}

// The result checked for its role in the system being evaluated.
void checkResult(const std::string &name, const std::vector<orvane::Value> &arguments, const orvane::Value &result) {
    std::string problem = functionResultProblem(name, arguments, result);
    if (!problem.empty()) orvane::raise(ids::apiFunctionResult, "function " + name + " as " + problem);
}

// Registers `function` under `name`, which is returned for the Registration.
std::string add(const std::string &name, orvane::HostFunction function) {
    if (name.empty()) throw Error(ids::apiFunctionArguments, "a custom function needs a name");
    std::lock_guard<std::mutex> lock(registering);
    if (orvane::hasFunction(name)) {
        throw Error(ids::apiNameTaken, "function \"" + name +
                                           "\": the name is already a host function (the host's own or one "
                                           "registered before)");
    }
    orvane::registerFunction(name, std::move(function));
    return name;
}

}  // namespace

Registration::Registration(Registration &&other) noexcept : name_(std::move(other.name_)) { other.name_.clear(); }

Registration &Registration::operator=(Registration &&other) noexcept {
    if (this != &other) {
        reset();
        name_ = std::move(other.name_);
        other.name_.clear();
    }
    return *this;
}

Registration::~Registration() { reset(); }

void Registration::reset() noexcept {
    if (name_.empty()) return;
    std::lock_guard<std::mutex> lock(registering);
    orvane::unregisterFunction(name_);
    name_.clear();
}

// The points come as one number or a row; the degrees go back in their extents.
Registration Functions::membership(const std::string &name, MembershipFunction function) const {
    return Registration(add(
        name, [name, function](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
            requireCount(name, arguments, 2, "a membership function");
            Numbers points = numbersOf(name, arguments[0], "the points");
            Numbers params = numbersOf(name, arguments[1], "the parameters");
            orvane::Value degrees = orvane::Value::numeric(ZORB_DOUBLE_CLASS, arguments[0].dims());
            double *out = degrees.pr();
            guarded(name, [&] {
                for (size_t k = 0; k < points.values.size(); ++k) out[k] = function(points.values[k], params.values);
            });
            checkResult(name, arguments, degrees);
            results.assign(1, std::move(degrees));
        }));
}

Registration Functions::connective(const std::string &name, Reduction function) const {
    return Registration(add(
        name, [name, function](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
            requireCount(name, arguments, 1, "an AND or OR method");
            Numbers degrees = numbersOf(name, arguments[0], "the degrees");
            double y = 0.0;
            guarded(name, [&] { y = function(degrees.values); });
            orvane::Value result = orvane::Value::doubleScalar(y);
            checkResult(name, arguments, result);
            results.assign(1, std::move(result));
        }));
}

// A rules x points block, column-major: each point's degrees lie together.
Registration Functions::aggregation(const std::string &name, Reduction function) const {
    return Registration(add(
        name, [name, function](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
            requireCount(name, arguments, 1, "an aggregation method");
            const std::vector<int64_t> &dims = arguments[0] ? arguments[0].dims() : std::vector<int64_t>{};
            if (dims.size() != 2) orvane::raise(ids::apiFunctionArguments, "function " + name + ": expected a matrix");
            Numbers block = numbersOf(name, arguments[0], "the rules' sets");
            const auto numRules = static_cast<size_t>(dims[0]);
            const int64_t numPoints = dims[1];
            orvane::Value set = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, numPoints});
            double *out = set.pr();
            guarded(name, [&] {
                for (int64_t s = 0; s < numPoints; ++s)
                    out[s] = function(block.values.subspan(static_cast<size_t>(s) * numRules, numRules));
            });
            checkResult(name, arguments, set);
            results.assign(1, std::move(set));
        }));
}

// The output set at its points (a column that may run past the samples) and
// the strength at each sample point.
Registration Functions::implication(const std::string &name, Implication function) const {
    return Registration(add(
        name, [name, function](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
            requireCount(name, arguments, 2, "an implication method");
            Numbers set = numbersOf(name, arguments[0], "the output set");
            Numbers strength = numbersOf(name, arguments[1], "the firing strengths");
            if (set.values.size() < strength.values.size()) {
                orvane::raise(ids::apiFunctionArguments,
                              "function " + name + ": the output set has " + std::to_string(set.values.size()) +
                                  " points, fewer than " + std::to_string(strength.values.size()) + " strengths");
            }
            const auto numSamples = static_cast<int64_t>(strength.values.size());
            orvane::Value implied = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {numSamples, 1});
            double *out = implied.pr();
            guarded(name, [&] {
                for (size_t s = 0; s < strength.values.size(); ++s)
                    out[s] = function(set.values[s], strength.values[s]);
            });
            checkResult(name, arguments, implied);
            results.assign(1, std::move(implied));
        }));
}

Registration Functions::defuzzifier(const std::string &name, Defuzzifier function) const {
    return Registration(add(
        name, [name, function](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
            requireCount(name, arguments, 2, "a defuzzification method");
            Numbers x = numbersOf(name, arguments[0], "the points");
            Numbers degrees = numbersOf(name, arguments[1], "the degrees");
            double y = 0.0;
            guarded(name, [&] { y = function(x.values, degrees.values); });
            orvane::Value result = orvane::Value::doubleScalar(y);
            checkResult(name, arguments, result);
            results.assign(1, std::move(result));
        }));
}

}  // namespace fazolt
