// Small reference systems that together reach every stage of an evaluation:
// Mamdani with each built-in defuzzification, Sugeno with constant and linear
// outputs under both weighted methods, a system whose methods and membership
// functions all run in the host, and diagnostics in warning and error mode
// with inputs that trigger each of them. Kept small (few rules, 11 sample
// points, 2 or 3 rows) so that loops over every allocation stay quick.
#ifndef FAZOLT_TESTS_REFERENCE_SYSTEMS_H
#define FAZOLT_TESTS_REFERENCE_SYSTEMS_H

#include <fazolt/description.h>
#include <orvane/host.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace reference {

struct ReferenceSystem {
    std::string name;
    std::string description;                // nested JSON
    std::vector<std::vector<double>> rows;  // one input row per entry
    uint8_t diagnosticsMode;                // 2 warn, 3 error, 0 silent
};

// Two inputs, one output; the defuzzification method is spliced in.
inline std::string mamdaniWith(const std::string &defuzzMethod) {
    return R"({"name": "tipper", "type": "mamdani", "defuzzMethod": ")" + defuzzMethod + R"(", "numSamples": 11,
  "inputs": [
    {"name": "service", "range": [0, 10], "mf": [
      {"name": "poor", "type": "trimf", "params": [-5, 0, 6]},
      {"name": "good", "type": "gaussmf", "params": [2, 10]}]},
    {"name": "food", "range": [0, 10], "mf": [
      {"name": "bad", "type": "trapmf", "params": [-1, 0, 3, 7]},
      {"name": "tasty", "type": "smf", "params": [3, 9]}]}],
  "outputs": [
    {"name": "tip", "range": [0, 30], "mf": [
      {"name": "low", "type": "trimf", "params": [0, 5, 15]},
      {"name": "high", "type": "trapmf", "params": [10, 20, 30, 30]}]}],
  "rules": [
    "if service is poor or food is bad then tip is low",
    "if service is good and food is tasty then tip is high with 0.75",
    "if service is not poor then tip is high with 0.5"]})";
}

inline std::string sugenoWith(const std::string &defuzzMethod) {
    return R"({"name": "brake", "type": "sugeno", "defuzzMethod": ")" + defuzzMethod + R"(",
  "inputs": [
    {"name": "speed", "range": [0, 120], "mf": [
      {"name": "slow", "type": "gaussmf", "params": [25, 0]},
      {"name": "fast", "type": "gaussmf", "params": [30, 120]}]},
    {"name": "gap", "range": [0, 100], "mf": [
      {"name": "near", "type": "sigmf", "params": [-0.2, 25]},
      {"name": "far", "type": "sigmf", "params": [0.15, 50]}]}],
  "outputs": [
    {"name": "pressure", "range": [0, 1], "mf": [
      {"name": "none", "type": "constant", "params": [0.125]},
      {"name": "gentle", "type": "linear", "params": [0.004, -0.001, 0.15]},
      {"name": "hard", "type": "linear", "params": [0.003, -0.004, 0.6]}]}],
  "rules": [
    "if speed is slow and gap is far then pressure is none",
    "if speed is slow and gap is near then pressure is gentle",
    "if speed is fast or gap is near then pressure is hard with 0.7"]})";
}

// AND and OR by the host's standard "max" and "min" (the module has neither
// under those roles), implication, aggregation, defuzzification and one
// membership function per variable by the C++ functions below.
inline std::string hostMethodsSystem() {
    return R"({"name": "hosted", "type": "mamdani", "andMethod": "max", "orMethod": "min",
  "impMethod": "refImplication", "aggMethod": "refAggregation", "defuzzMethod": "refDefuzzification",
  "numSamples": 11,
  "inputs": [
    {"name": "a", "range": [0, 1], "mf": [
      {"name": "low", "type": "refTriangle", "params": [-0.5, 0, 0.75]},
      {"name": "high", "type": "trimf", "params": [0.25, 1, 1.5]}]},
    {"name": "b", "range": [0, 1], "mf": [
      {"name": "low", "type": "zmf", "params": [0.2, 0.8]},
      {"name": "high", "type": "smf", "params": [0.2, 0.8]}]}],
  "outputs": [
    {"name": "y", "range": [0, 1], "mf": [
      {"name": "small", "type": "refTriangle", "params": [-0.5, 0, 0.6]},
      {"name": "large", "type": "trimf", "params": [0.4, 1, 1.5]}]}],
  "rules": [
    "if a is low and b is low then y is small",
    "if a is high or b is high then y is large",
    "if a is high and b is low then y is large with 0.5"]})";
}

// One variable each side. Output "ghost" lies wholly outside the output
// range, so a rule that fires only into it leaves an empty set; input value
// 0.5 lies in no input set's support, so no rule fires; 12 is out of range.
inline std::string diagnosticsSystem() {
    return R"({"name": "diagnosed", "type": "mamdani", "numSamples": 11,
  "inputs": [
    {"name": "x", "range": [0, 10], "mf": [
      {"name": "left", "type": "trimf", "params": [1, 3, 5]},
      {"name": "right", "type": "trimf", "params": [6, 8, 10]}]}],
  "outputs": [
    {"name": "y", "range": [0, 10], "mf": [
      {"name": "mid", "type": "trimf", "params": [2, 5, 8]},
      {"name": "ghost", "type": "trimf", "params": [20, 25, 30]}]}],
  "rules": [
    "if x is left then y is mid",
    "if x is right then y is ghost"]})";
}

inline const std::vector<ReferenceSystem> &referenceSystems() {
    static const std::vector<ReferenceSystem> systems = {
        {"mamdaniCentroid", mamdaniWith("centroid"), {{2.5, 7}, {8, 1.5}, {5, 5}}, 2},
        {"mamdaniBisector", mamdaniWith("bisector"), {{2.5, 7}, {8, 1.5}}, 2},
        {"mamdaniMom", mamdaniWith("mom"), {{2.5, 7}, {8, 1.5}}, 2},
        {"mamdaniSom", mamdaniWith("som"), {{2.5, 7}, {8, 1.5}}, 2},
        {"mamdaniLom", mamdaniWith("lom"), {{2.5, 7}, {8, 1.5}}, 2},
        {"sugenoWtaver", sugenoWith("wtaver"), {{30, 80}, {100, 10}, {60, 40}}, 2},
        {"sugenoWtsum", sugenoWith("wtsum"), {{30, 80}, {100, 10}}, 2},
        {"hostMethods", hostMethodsSystem(), {{0.125, 0.3}, {0.9, 0.6}}, 2},
        // Warnings: out of range (then clamped into "right"), no rule fired,
        // empty set; the last row is ordinary.
        {"diagnosticsWarn", diagnosticsSystem(), {{12}, {0.5}, {8}, {3}}, 2},
        // Errors: each row set ends at its diagnostic.
        {"diagnosticsOutOfRangeError", diagnosticsSystem(), {{3}, {-1}}, 3},
        {"diagnosticsNoRuleFiredError", diagnosticsSystem(), {{3}, {5.5}}, 3},
        {"diagnosticsEmptySetError", diagnosticsSystem(), {{3}, {8}}, 3},
    };
    return systems;
}

// ---- The C++ host functions that hostMethodsSystem names.

// refTriangle(x, [a b c]): a triangle evaluated element by element, the
// result shaped as x.
inline void refTriangle(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    const orvane::Value &x = arguments.at(0);
    std::vector<double> p = arguments.at(1).toDoubles();
    std::vector<double> xs = x.toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, x.dims());
    for (size_t k = 0; k < xs.size(); ++k) {
        double left = (xs[k] - p[0]) / (p[1] - p[0]);
        double right = (p[2] - xs[k]) / (p[2] - p[1]);
        y.pr()[k] = std::max(0.0, std::min(left, right));
    }
    results.assign(1, y);
}

// refImplication(outputSet, strength): the product, element by element.
inline void refImplication(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    std::vector<double> set = arguments.at(0).toDoubles();
    std::vector<double> w = arguments.at(1).toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, arguments.at(0).dims());
    for (size_t k = 0; k < set.size(); ++k) y.pr()[k] = set[k] * w[k];
    results.assign(1, y);
}

// refAggregation(rules x points): the largest value of each column, 1 x points.
inline void refAggregation(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    const orvane::Value &block = arguments.at(0);
    int64_t rows = block.dims()[0];
    int64_t cols = block.dims()[1];
    std::vector<double> v = block.toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, cols});
    for (int64_t c = 0; c < cols; ++c) {
        double best = rows > 0 ? v[static_cast<size_t>(c * rows)] : 0.0;
        for (int64_t r = 1; r < rows; ++r) best = std::max(best, v[static_cast<size_t>(r + c * rows)]);
        y.pr()[c] = best;
    }
    results.assign(1, y);
}

// refDefuzzification(points, set): the centroid, 0.5 for an empty set.
inline void refDefuzzification(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    std::vector<double> x = arguments.at(0).toDoubles();
    std::vector<double> mu = arguments.at(1).toDoubles();
    double num = 0.0;
    double den = 0.0;
    for (size_t k = 0; k < x.size() && k < mu.size(); ++k) {
        num = num + x[k] * mu[k];
        den = den + mu[k];
    }
    results.assign(1, orvane::Value::doubleScalar(den == 0.0 ? 0.5 : num / den));
}

// Registers the functions for the lifetime of the object.
struct HostFunctionsRegistered {
    HostFunctionsRegistered() {
        orvane::registerFunction("refTriangle", refTriangle);
        orvane::registerFunction("refImplication", refImplication);
        orvane::registerFunction("refAggregation", refAggregation);
        orvane::registerFunction("refDefuzzification", refDefuzzification);
    }
    ~HostFunctionsRegistered() {
        orvane::unregisterFunction("refTriangle");
        orvane::unregisterFunction("refImplication");
        orvane::unregisterFunction("refAggregation");
        orvane::unregisterFunction("refDefuzzification");
    }
    HostFunctionsRegistered(const HostFunctionsRegistered &) = delete;
    HostFunctionsRegistered &operator=(const HostFunctionsRegistered &) = delete;
};

// The module's three arguments for a system and its rows.
inline std::vector<orvane::Value> callArguments(const ReferenceSystem &s) {
    fazolt::BuiltSystem built = fazolt::buildSystem(s.description);
    int64_t numRows = static_cast<int64_t>(s.rows.size());
    int64_t numCols = static_cast<int64_t>(s.rows.at(0).size());
    std::vector<double> data(static_cast<size_t>(numRows * numCols));
    for (int64_t r = 0; r < numRows; ++r)
        for (int64_t c = 0; c < numCols; ++c)
            data[static_cast<size_t>(r + c * numRows)] = s.rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
    uint8_t m = s.diagnosticsMode;
    return {orvane::Value::doubleMatrix(numRows, numCols, data), built.record,
            fazolt::makeDiagnostics(m, m, m, s.name)};
}

}  // namespace reference

#endif
