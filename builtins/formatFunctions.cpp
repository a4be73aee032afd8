// Host functions that serve the operators, point lists and defuzzification
// that FCL and FLL files name and the module has no built-in form of: each
// computes what the peers compute, bit for bit where the module's own
// shapes and methods would.
#include "fazolt/formats.h"
#include "builtins/shapesAndHedges.h"

#include "fazolt/fazolt.h"

#include <cmath>
#include <mutex>

namespace fazolt {
namespace {

// ---- Host functions. Each reads what the module passes (see docs/formats.md,
// "Host functions of the formats") and raises on anything else.

std::vector<double> doublesOf(const orvane::Value &v, const char *function) {
    if (!v || v.className() != "double" || v.isComplex())
        orvane::raise(ids::formatsArgument, std::string(function) + ": expected real doubles");
    return v.toDoubles();
}

// Bounded difference max(0, a + b - 1), folded in index order. An AND
// passes 1 for inputs that a rule does not test: 1 is the operator's
// identity, and skipping it keeps acc + 1 - 1 from rounding acc away.
void boundedDifference(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    if (args.size() != 1) orvane::raise(ids::formatsArgument, "bdif: expected one vector of degrees");
    std::vector<double> v = doublesOf(args[0], "bdif");
    double acc = 1.0;
    bool isFirst = true;
    for (double x : v) {
        if (x == 1.0) continue;
        if (isFirst) {
            acc = x;
            isFirst = false;
            continue;
        }
        double y = (acc + x) - 1.0;
        acc = y > 0.0 || std::isnan(y) ? y : 0.0;
    }
    results.assign(1, orvane::Value::doubleScalar(acc));
}

// Bounded sum min(1, a + b), folded in index order.
double boundedSum(double acc, double x) {
    double y = acc + x;
    return y < 1.0 || std::isnan(y) ? y : 1.0;
}

// As an OR: a vector of degrees. As an aggregation (ACCU): a matrix of
// numRules rows, one column per sample point, reduced over the rules.
void boundedSumFunction(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    if (args.size() != 1) orvane::raise(ids::formatsArgument, "bsum: expected one argument");
    std::vector<double> v = doublesOf(args[0], "bsum");
    const std::vector<int64_t> &dims = args[0].dims();
    // An OR passes a column, an aggregation a row per rule over the sample points.
    bool isMatrix = dims.size() >= 2 && dims[1] > 1;
    if (!isMatrix) {
        double acc = 0.0;
        for (size_t k = 0; k < v.size(); ++k) acc = k == 0 ? v[0] : boundedSum(acc, v[k]);
        results.assign(1, orvane::Value::doubleScalar(acc));
        return;
    }
    int64_t rows = dims[0], cols = args[0].numel() / dims[0];
    std::vector<double> out(static_cast<size_t>(cols));
    for (int64_t c = 0; c < cols; ++c) {
        double acc = v[static_cast<size_t>(c * rows)];
        for (int64_t r = 1; r < rows; ++r) acc = boundedSum(acc, v[static_cast<size_t>(r + c * rows)]);
        out[static_cast<size_t>(c)] = acc;
    }
    results.assign(1, orvane::Value::doubleMatrix(1, cols, out));
}

// Normalised sum: per sample point the sum over the rules, then every sum
// divided by max(1, the largest sum of the set).
void normalisedSum(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    if (args.size() != 1) orvane::raise(ids::formatsArgument, "nsum: expected one matrix of rule outputs");
    std::vector<double> v = doublesOf(args[0], "nsum");
    const std::vector<int64_t> &dims = args[0].dims();
    int64_t rows = dims.empty() ? 0 : dims[0];
    int64_t cols = rows == 0 ? 0 : args[0].numel() / rows;
    std::vector<double> out(static_cast<size_t>(cols));
    double largest = 1.0;
    for (int64_t c = 0; c < cols; ++c) {
        double acc = v[static_cast<size_t>(c * rows)];
        for (int64_t r = 1; r < rows; ++r) acc = acc + v[static_cast<size_t>(r + c * rows)];
        out[static_cast<size_t>(c)] = acc;
        if (acc > largest) largest = acc;
    }
    for (double &y : out) y = y / largest;
    results.assign(1, orvane::Value::doubleMatrix(1, cols, out));
}

// fuzzylite's MeanOfMaximum: the middle of the first run of neighbouring
// sample points that holds the maximum (a later run of the same height is
// not counted). Comparisons are exact; a NaN degree neither starts nor ends
// a run. Arguments as for any Mamdani defuzzification: the sample points and
// the aggregated set.
void firstPlateauMeanOfMaximum(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    if (args.size() != 2) orvane::raise(ids::formatsArgument, "firstmom: expected the points and the set");
    std::vector<double> xs = doublesOf(args[0], "firstmom");
    std::vector<double> ys = doublesOf(args[1], "firstmom");
    if (xs.empty() || xs.size() != ys.size())
        orvane::raise(ids::formatsArgument, "firstmom: expected as many set values as points, one or more");
    double largest = -1.0, smallestX = xs.front(), largestX = xs.back();
    bool isInRun = false;
    for (size_t k = 0; k < xs.size(); ++k) {
        if (ys[k] > largest) {
            largest = ys[k];
            smallestX = xs[k];
            largestX = xs[k];
            isInRun = true;
        } else if (isInRun && ys[k] == largest) {
            largestX = xs[k];
        } else if (ys[k] < largest) {
            isInRun = false;
        }
    }
    results.assign(1, orvane::Value::doubleScalar((largestX + smallestX) / 2.0));
}

// A piecewise-linear membership function through the points
// [x1 y1 x2 y2 ...] (x not decreasing). Between two points
// ((ya (xb - x) + yb (x - xa)) scaled by 1 / (xb - xa), which gives trimf's
// and trapmf's ramps bit for bit; at a point its y (the first of equal xs);
// outside the points the nearest end's y; NaN gives 0, as the built-in
// shapes do.
double pointsAt(double x, const std::vector<double> &p) {
    size_t n = p.size() / 2;
    if (std::isnan(x)) return 0.0;
    if (x <= p[0]) return p[1];
    for (size_t k = 1; k < n; ++k) {
        double xa = p[2 * (k - 1)], ya = p[2 * (k - 1) + 1], xb = p[2 * k], yb = p[2 * k + 1];
        if (x == xb) return yb;
        if (x < xb) return (1.0 / (xb - xa)) * (ya * (xb - x) + yb * (x - xa));
    }
    return p[2 * n - 1];
}

void pointsMembership(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    if (args.size() != 2) orvane::raise(ids::formatsArgument, "pointsmf: expected the points and the parameters");
    std::vector<double> xs = doublesOf(args[0], "pointsmf");
    std::vector<double> p = doublesOf(args[1], "pointsmf");
    if (p.size() < 4 || p.size() % 2 != 0) {
        orvane::raise(ids::formatsArgument, "pointsmf: expected [x1 y1 x2 y2 ...] with two points or more, got " +
                                                     std::to_string(p.size()) + " numbers");
    }
    for (size_t k = 2; k < p.size(); k += 2) {
        if (!(p[k] >= p[k - 2])) orvane::raise(ids::formatsArgument, "pointsmf: the points' x must not decrease");
    }
    std::vector<double> ys;
    for (double x : xs) ys.push_back(pointsAt(x, p));
    if (ys.size() == 1) {
        results.assign(1, orvane::Value::doubleScalar(ys[0]));
    } else {
        results.assign(1, orvane::Value::doubleMatrix(1, static_cast<int64_t>(ys.size()), ys));
    }
}

}  // namespace

void registerFormatFunctions() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const std::pair<const char *, orvane::HostFunction> functions[] = {
            {"bdif", boundedDifference},
            {"bsum", boundedSumFunction},
            {"nsum", normalisedSum},
            {"firstmom", firstPlateauMeanOfMaximum},
            {"pointsmf", pointsMembership},
        };
        for (const auto &[name, function] : functions) {
            if (!orvane::hasFunction(name)) fazolt::registerFunction(name, function);
        }
        builtins::registerShapesAndHedges();
    });
}

}  // namespace fazolt
