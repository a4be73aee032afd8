// fuzzylite's shapes that the built-in membership functions do not draw,
// each computed as fuzzylite computes it (same operations, same order), so
// that a file gives the same degrees here. A NaN point gives 0, as the
// built-in shapes do (fuzzylite gives NaN).
#include "builtins/shapesAndHedges.h"
#include "builtins/membershipCall.h"

#include <cmath>

namespace fazolt::builtins {

namespace {

struct Shape {
    const char *name;
    const char *peerName;  // in messages: the files name it so
    size_t numParams;
    double (*degree)(double x, const double *p);
};

// (e - i) / (2e - i - x) up to the end, 1 beyond it: 0.5 at the inflection,
// 1 at the end (mirrored when the inflection lies past the end).
double concave(double x, const double *p) {
    double i = p[0], e = p[1];
    if (i <= e) return x <= e ? (e - i) / (2.0 * e - i - x) : 1.0;
    return x >= e ? (i - e) / (i - 2.0 * e + x) : 1.0;
}

// 0.5 (1 + cos(2 / w pi (x - c))) within w / 2 of the centre, 0 outside.
double cosine(double x, const double *p) {
    double c = p[0], w = p[1];
    if (x < c - 0.5 * w || x > c + 0.5 * w) return 0.0;
    const double pi = 4.0 * std::atan(1.0);
    return 0.5 * (1.0 + std::cos(2.0 / w * pi * (x - c)));
}

double spike(double x, const double *p) { return std::exp(-std::abs(10.0 / p[1] * (x - p[0]))); }

// 1 from the start on towards the direction, including the start.
double binary(double x, const double *p) {
    double start = p[0], direction = p[1];
    if (direction > start && x >= start) return 1.0;
    if (direction < start && x <= start) return 1.0;
    return 0.0;
}

double sigmoidDifference(double x, const double *p) {
    const double a = 1.0 / (1.0 + std::exp(-p[1] * (x - p[0])));
    const double b = 1.0 / (1.0 + std::exp(-p[2] * (x - p[3])));
    return std::abs(a - b);
}

const Shape SHAPES[] = {
    {"concavemf", "Concave", 2, concave},
    {"cosinemf", "Cosine", 2, cosine},
    {"spikemf", "Spike", 2, spike},
    {"binarymf", "Binary", 2, binary},
    {"sigdiffmf", "SigmoidDifference", 4, sigmoidDifference},
};

const Shape *shapeNamed(const std::string &type) {
    for (const Shape &s : SHAPES) {
        if (type == s.name) return &s;
    }
    return nullptr;
}

}  // namespace

std::string shapeParameterProblem(const std::string &type, const std::vector<double> &p) {
    const Shape *shape = shapeNamed(type);
    if (shape == nullptr) return "";
    if (p.size() != shape->numParams) {
        return std::string(shape->peerName) + " takes " + std::to_string(shape->numParams) + " parameters, got " +
               std::to_string(p.size());
    }
    for (double v : p) {
        if (!std::isfinite(v)) return std::string(shape->peerName) + " takes finite parameters";
    }
    if (type == "concavemf" && p[0] == p[1])
        return "Concave needs an inflection other than its end (it gives 0/0 there)";
    if (type == "cosinemf" && !(p[1] > 0.0)) return "Cosine needs a width above 0";
    if (type == "spikemf" && p[1] == 0.0) return "Spike needs a width other than 0";
    if (type == "binarymf" && p[0] == p[1])
        return "Binary needs a direction other than its start (it gives 0 everywhere)";
    return "";
}

double shapeDegree(const std::string &type, double x, const std::vector<double> &params) {
    const Shape *shape = shapeNamed(type);
    return std::isnan(x) ? 0.0 : shape->degree(x, params.data());
}

void registerShapes() {
    for (const Shape &s : SHAPES) {
        std::string name = s.name;
        if (orvane::hasFunction(name)) continue;
        orvane::registerFunction(
            name, [name](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
                MembershipCall call = membershipArguments(args, name);
                if (std::string why = shapeParameterProblem(name, call.params); !why.empty())
                    orvane::raise(ids::formatsArgument, name + ": " + why);
                std::vector<double> ys;
                ys.reserve(call.xs.size());
                for (double x : call.xs) ys.push_back(shapeDegree(name, x, call.params));
                membershipResult(results, args[0], ys);
            });
    }
}

}  // namespace fazolt::builtins
