// Bit-exactness oracle for the evaluation: every system below is evaluated on
// a few thousand deterministic rows (NaN, +-Inf, -0, out of range, exactly on
// membership break points, uniform values), once as one call over all rows
// and then row by row for the first rows, so that results 2 to 6 are seen
// for many different last rows. Every result's bits (any NaN as one NaN),
// every warning, the error and every call of a host method (name and
// arguments, in order) go into one FNV-1a hash per case, recorded from the
// unoptimised evaluation. A faster evaluation must reproduce each hash
// exactly.
//
// To re-record after an intended change of results (never for a speed-up):
// FAZOLT_ORACLE_RECORD=1 fazolt_tests --gtest_filter='Oracle*' prints the table.
#include "evaluator_storage.h"
#include "test_support.h"

#include <fazolt/fazolt.h>

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

namespace {

using nlohmann::json;
using testing_support::module;

// ---- FNV-1a over everything a call lets a caller observe.

struct Fnv {
    uint64_t h = 0xcbf29ce484222325ULL;
    void bytes(const void *p, size_t n) {
        const unsigned char *b = static_cast<const unsigned char *>(p);
        for (size_t k = 0; k < n; ++k) {
            h ^= b[k];
            h *= 0x100000001b3ULL;
        }
    }
    void text(const std::string &s) {
        uint64_t n = s.size();
        bytes(&n, sizeof n);
        bytes(s.data(), s.size());
    }
    void value(const orvane::Value &v) {
        text(v.className());
        for (int64_t d : v.dims()) bytes(&d, sizeof d);
        if (v.classId() == ZORB_DOUBLE_CLASS) {
            // A NaN's sign and payload depend on which operand of an
            // arithmetic operation the processor propagates, and compilers
            // may commute operands freely; only NaN-ness is a result.
            const double *x = static_cast<const double *>(v.data());
            for (int64_t k = 0; k < v.numel(); ++k) {
                double d = std::isnan(x[k]) ? std::numeric_limits<double>::quiet_NaN() : x[k];
                bytes(&d, sizeof d);
            }
        } else {
            text(orvane::toJson(v));
        }
    }
};

// Host methods that log every call: the log is part of the hash, so a
// change in which calls happen, their order or their arguments shows.
std::string &hostLog() {
    static std::string log;
    return log;
}

void logCall(const char *name, const std::vector<orvane::Value> &arguments) {
    hostLog() += name;
    for (const orvane::Value &a : arguments) {
        hostLog() += '|';
        hostLog() += orvane::toJson(a);
    }
    hostLog() += '\n';
}

double at(const std::vector<double> &v, size_t k) { return k < v.size() ? v[k] : std::nan(""); }

// oraTriangle(x, [a b c]): a triangle with (x-a)/(b-a) sides, shaped as x.
void oraTriangle(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraTriangle", arguments);
    std::vector<double> xs = arguments.at(0).toDoubles();
    std::vector<double> p = arguments.at(1).toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, arguments.at(0).dims());
    for (size_t k = 0; k < xs.size(); ++k) {
        double left = (xs[k] - at(p, 0)) / (at(p, 1) - at(p, 0));
        double right = (at(p, 2) - xs[k]) / (at(p, 2) - at(p, 1));
        y.pr()[k] = std::fmax(0.0, std::fmin(left, right));
    }
    results.assign(1, y);
}

// oraAnd / oraOr: the mean and the largest value of the column.
void oraAnd(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraAnd", arguments);
    std::vector<double> v = arguments.at(0).toDoubles();
    double s = 0.0;
    for (double x : v) s += x;
    results.assign(1, orvane::Value::doubleScalar(v.empty() ? 0.0 : s / static_cast<double>(v.size())));
}

void oraOr(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraOr", arguments);
    std::vector<double> v = arguments.at(0).toDoubles();
    double m = -1.0;
    for (double x : v) m = std::fmax(m, x);
    results.assign(1, orvane::Value::doubleScalar(m));
}

// oraImplication(set, strengths): the geometric mean, element by element.
void oraImplication(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraImplication", arguments);
    std::vector<double> set = arguments.at(0).toDoubles();
    std::vector<double> w = arguments.at(1).toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, arguments.at(0).dims());
    for (size_t k = 0; k < set.size(); ++k) y.pr()[k] = std::sqrt(std::fabs(set[k] * at(w, k)));
    results.assign(1, y);
}

// oraAggregation(rules x points): the column sums, 1 x points.
void oraAggregation(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraAggregation", arguments);
    const orvane::Value &block = arguments.at(0);
    int64_t rows = block.dims()[0];
    int64_t cols = block.dims()[1];
    std::vector<double> v = block.toDoubles();
    orvane::Value y = orvane::Value::numeric(ZORB_DOUBLE_CLASS, {1, cols});
    for (int64_t c = 0; c < cols; ++c) {
        double s = 0.0;
        for (int64_t r = 0; r < rows; ++r) s += v[static_cast<size_t>(r + c * rows)];
        y.pr()[c] = s;
    }
    results.assign(1, y);
}

// oraDefuzzification(points, set) for Mamdani, (a, total) for Sugeno.
void oraDefuzzification(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    logCall("oraDefuzzification", arguments);
    std::vector<double> a = arguments.at(0).toDoubles();
    std::vector<double> b = arguments.at(1).toDoubles();
    double num = 0.0;
    double den = 0.0;
    for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
        num += a[k] * b[k];
        den += b[k];
    }
    results.assign(1, orvane::Value::doubleScalar(den == 0.0 ? 0.25 : num / den));
}

struct OracleFunctions {
    OracleFunctions() {
        orvane::registerFunction("oraTriangle", oraTriangle);
        orvane::registerFunction("oraAnd", oraAnd);
        orvane::registerFunction("oraOr", oraOr);
        orvane::registerFunction("oraImplication", oraImplication);
        orvane::registerFunction("oraAggregation", oraAggregation);
        orvane::registerFunction("oraDefuzzification", oraDefuzzification);
    }
    ~OracleFunctions() {
        for (const char *n :
             {"oraTriangle", "oraAnd", "oraOr", "oraImplication", "oraAggregation", "oraDefuzzification"})
            orvane::unregisterFunction(n);
    }
};

// ---- Systems and rows.

json loadSystem(const std::string &file) { return json::parse(testing_support::readTestSystem(file)); }

// splitmix64: the same rows on every machine.
struct Rng {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
};

// Rows as columns (column-major), rows x inputs.
std::vector<double> makeRows(const json &system, int32_t numRows, uint64_t seed) {
    const json &inputs = system["inputs"];
    const size_t numInputs = inputs.size();
    std::vector<double> data(static_cast<size_t>(numRows) * numInputs);
    Rng rng{seed};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < numInputs; ++i) {
        const double lo = inputs[i]["range"][0].get<double>();
        const double hi = inputs[i]["range"][1].get<double>();
        std::vector<double> breaks;
        for (const json &mf : inputs[i]["mf"])
            for (const json &p : mf["params"]) breaks.push_back(p.get<double>());
        for (int32_t r = 0; r < numRows; ++r) {
            double x;
            switch (rng.next() % 20) {
                case 0: x = nan; break;
                case 1: x = inf; break;
                case 2: x = -inf; break;
                case 3: x = -0.0; break;
                case 4: x = 0.0; break;
                case 5: x = lo - (hi - lo) * rng.unit(); break;
                case 6: x = hi + (hi - lo) * rng.unit(); break;
                case 7: x = lo; break;
                case 8: x = hi; break;
                case 9:
                case 10:
                case 11: x = breaks.empty() ? lo : breaks[rng.next() % breaks.size()]; break;
                default: x = lo + (hi - lo) * rng.unit(); break;
            }
            data[static_cast<size_t>(r) + i * static_cast<size_t>(numRows)] = x;
        }
    }
    return data;
}

// A rule field replaced by a pattern repeated over the rules.
void patchRuleField(orvane::Value &record, const char *field, const std::vector<double> &pattern) {
    if (pattern.empty()) return;
    orvane::Value old = record.field(0, field);
    std::vector<double> v(static_cast<size_t>(old.numel()));
    for (size_t k = 0; k < v.size(); ++k) v[k] = pattern[k % pattern.size()];
    record.setField(0, field, orvane::Value::doubleMatrix(old.dims()[0], old.dims()[1], v));
}

struct OracleCase {
    const char *name;
    const char *file;
    std::function<void(json &)> edit;  // null: the file as it is
    std::vector<double> weights;       // empty: as described
    std::vector<double> connections;
    uint8_t diagnosticsMode;
    uint64_t expected;
};

// The case's record and its rows (column-major, numRows x inputs).
struct CaseRecord {
    orvane::Value record;
    int64_t numInputs;
    std::vector<double> rows;
};

CaseRecord caseRecord(const OracleCase &c, int32_t numRows) {
    json system = loadSystem(c.file);
    if (c.edit) c.edit(system);
    // A description refuses a Sugeno method on a Mamdani system; the record
    // keeps the meaning the module gives it, so such a case sets it there.
    std::string recordMethod = system.value("defuzzMethod", "");
    bool isRecordOnly = system["type"] == "mamdani" && (recordMethod == "wtaver" || recordMethod == "wtsum");
    if (isRecordOnly) system.erase("defuzzMethod");
    fazolt::BuiltSystem built = fazolt::buildSystem(system.dump());
    if (isRecordOnly) built.record.setField(0, "defuzzMethod", orvane::Value::uint8Row(recordMethod));
    patchRuleField(built.record, "weight", c.weights);
    patchRuleField(built.record, "connection", c.connections);
    const int64_t numInputs = static_cast<int64_t>(system["inputs"].size());
    return {built.record, numInputs, makeRows(system, numRows, 0x5eed0000ULL + numInputs)};
}

uint64_t runCase(const OracleCase &c, int32_t numRows, int32_t numSingleRows) {
    CaseRecord made = caseRecord(c, numRows);
    const orvane::Value &record = made.record;
    const int64_t numInputs = made.numInputs;
    const std::vector<double> &rows = made.rows;
    orvane::Value diag = fazolt::makeDiagnostics(c.diagnosticsMode, c.diagnosticsMode, c.diagnosticsMode, c.name);

    Fnv h;
    hostLog().clear();
    auto observe = [&h](const orvane::CallOutcome &outcome) {
        for (const orvane::Value &r : outcome.results) h.value(r);
        for (const orvane::Warning &w : outcome.warnings) {
            h.text(w.identifier);
            h.text(w.message);
            for (const orvane::Value &a : w.arguments) h.value(a);
        }
        if (outcome.error) {
            h.text(outcome.error->identifier());
            h.text(outcome.error->message());
        }
        h.text(hostLog());
        hostLog().clear();
    };
    observe(testing_support::callChecked(6, {orvane::Value::doubleMatrix(numRows, numInputs, rows), record, diag}));
    for (int32_t r = 0; r < numSingleRows; ++r) {
        std::vector<double> one(static_cast<size_t>(numInputs));
        for (int64_t i = 0; i < numInputs; ++i)
            one[static_cast<size_t>(i)] = rows[static_cast<size_t>(r + i * numRows)];
        observe(testing_support::callChecked(6, {orvane::Value::doubleMatrix(1, numInputs, one), record, diag}));
    }
    return h.h;
}

auto setMethod(const char *key, const char *name) {
    return [key, name](json &s) { s[key] = name; };
}

// Replaces the first membership function of input 0 and of output 0 by the
// host's triangle and sets every method to a host one.
void useHostMethods(json &s) {
    s["inputs"][0]["mf"][0]["type"] = "oraTriangle";
    s["outputs"][0]["mf"][0]["type"] = "oraTriangle";
    s["andMethod"] = "oraAnd";
    s["orMethod"] = "oraOr";
    s["impMethod"] = "oraImplication";
    s["aggMethod"] = "oraAggregation";
    s["defuzzMethod"] = "oraDefuzzification";
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
// Negative, zero of either sign and NaN weights among ordinary ones.
const std::vector<double> kOddWeights = {1.0, -0.5, 0.0, -0.0, 0.75, kNaN, 2.0, 1.0, -1.0, 0.25};
// Only exactly 1 is AND: 0, 2, 1.5 and NaN are OR.
const std::vector<double> kOddConnections = {1.0, 2.0, 0.0, 1.5, kNaN, 1.0, 1.0};

const std::vector<OracleCase> &oracleCases() {
    // The hashes hold for this machine's libm: exp and pow (every Gaussian,
    // bell and sigmoid function) may differ in the last bit under another
    // one, and a hash that changes only after a libm upgrade is not a fault
    // of the evaluation.
    static const std::vector<OracleCase> cases = {
        {"fan", "fan.json", nullptr, {}, {}, 0, 0xded3337ed9ea4509ULL},
        {"fanWarnings", "fan.json", nullptr, {}, {}, 2, 0x9f2b909874597988ULL},
        {"fanBisector", "fan.json", setMethod("defuzzMethod", "bisector"), {}, {}, 2, 0x0f70a638fa6fc29dULL},
        {"fanMom", "fan.json", setMethod("defuzzMethod", "mom"), {}, {}, 0, 0xc7fdcc7d8783fe08ULL},
        {"fanSom", "fan.json", setMethod("defuzzMethod", "som"), {}, {}, 0, 0x59a5b3ec2028203bULL},
        {"fanLom", "fan.json", setMethod("defuzzMethod", "lom"), {}, {}, 0, 0xf9ba71f49abdfcb0ULL},
        {"fanWtaver", "fan.json", setMethod("defuzzMethod", "wtaver"), {}, {}, 0, 0x53777c58234cf824ULL},
        {"fanWtsum", "fan.json", setMethod("defuzzMethod", "wtsum"), {}, {}, 0, 0x53777c58234cf824ULL},
        {"fanOddWeights", "fan.json", nullptr, kOddWeights, kOddConnections, 0, 0x2587479d7a56a8c6ULL},
        {"fanHostMethods", "fan.json", useHostMethods, {}, {}, 2, 0x36b31582749cd60dULL},
        {"fanErrors", "fan.json", nullptr, {}, {}, 3, 0x20d45713b2f9814bULL},
        {"bigMamdani", "big_mamdani.json", nullptr, {}, {}, 0, 0xb82997ac9763ff1bULL},
        {"bigProd", "big_mamdani.json", setMethod("impMethod", "prod"), {}, {}, 0, 0x738f3c5a0c9f2c4dULL},
        {"bigProbor", "big_mamdani.json", setMethod("aggMethod", "probor"), {}, {}, 0, 0x7c282121b9d6b46aULL},
        {"bigSum", "big_mamdani.json", setMethod("aggMethod", "sum"), {}, {}, 0, 0x0d24ab0af4c946dcULL},
        {"bigOddWeights", "big_mamdani.json", nullptr, kOddWeights, kOddConnections, 0, 0xc89607593b5dee19ULL},
        {"bigProdProborBisector", "big_mamdani.json",
         [](json &s) {
             s["andMethod"] = "prod";
             s["orMethod"] = "probor";
             s["defuzzMethod"] = "bisector";
         },
         kOddWeights, kOddConnections, 2, 0x06e05cd20cb4fa15ULL},
        {"bigCustomAggregation",
         "big_mamdani.json",
         setMethod("aggMethod", "oraAggregation"),
         {},
         {},
         0,
         0x0ae4272f807dc5aeULL},
        {"mixedMamdani", "mixed_mamdani.json", nullptr, {}, {}, 2, 0xd03b14bb6f6c4bfdULL},
        {"mixedMamdaniOddWeights", "mixed_mamdani.json", nullptr, kOddWeights, kOddConnections, 2,
         0x91a808fe13fabe8cULL},
        {"mixedMamdaniProdSum",
         "mixed_mamdani.json",
         [](json &s) {
             s["andMethod"] = "prod";
             s["orMethod"] = "sum";
             s["impMethod"] = "prod";
             s["aggMethod"] = "sum";
         },
         kOddWeights,
         {},
         2,
         0x59ec0774d3da1586ULL},
        {"mixedMamdaniMom",
         "mixed_mamdani.json",
         setMethod("defuzzMethod", "mom"),
         kOddWeights,
         {},
         0,
         0xc5ad637582b7b410ULL},
        {"mixedMamdaniHostImplication",
         "mixed_mamdani.json",
         setMethod("impMethod", "oraImplication"),
         {},
         {},
         0,
         0x905a6dc396d3238bULL},
        {"sugenoLinear", "sugeno_linear.json", nullptr, {}, {}, 0, 0xe78fde8d0ebe1322ULL},
        {"sugenoLinearWarnings", "sugeno_linear.json", nullptr, {}, {}, 2, 0xd21fd2ca4bcb9c2fULL},
        {"sugenoLinearOddWeights", "sugeno_linear.json", nullptr, kOddWeights, kOddConnections, 2,
         0x3cd14ab6082cb4beULL},
        {"sugenoLinearMinMax", "sugeno_linear.json",
         [](json &s) {
             s["andMethod"] = "min";
             s["orMethod"] = "max";
         },
         kOddWeights, kOddConnections, 0, 0x728b3934b085239eULL},
        {"sugenoLinearWtsum",
         "sugeno_linear.json",
         setMethod("defuzzMethod", "wtsum"),
         {},
         {},
         0,
         0x886f8ee67a93770eULL},
        {"sugenoLinearCentroid",
         "sugeno_linear.json",
         setMethod("defuzzMethod", "centroid"),
         kOddWeights,
         {},
         0,
         0x822d868ce0261118ULL},
        {"sugenoLinearMom", "sugeno_linear.json", setMethod("defuzzMethod", "mom"), {}, {}, 0, 0x886f8ee67a93770eULL},
        {"sugenoLinearHost",
         "sugeno_linear.json",
         [](json &s) {
             s["inputs"][1]["mf"][2]["type"] = "oraTriangle";
             s["andMethod"] = "oraAnd";
             s["defuzzMethod"] = "oraDefuzzification";
         },
         {},
         {},
         0,
         0xa6ecfd42310f67cfULL},
        {"twoOutputSugeno", "two_output_sugeno.json", nullptr, {}, {}, 2, 0x8c8487378dbc09c0ULL},
        {"twoOutputSugenoOdd", "two_output_sugeno.json",
         [](json &s) {
             s["andMethod"] = "prod";
             s["orMethod"] = "probor";
             s["defuzzMethod"] = "bisector";
         },
         kOddWeights, kOddConnections, 2, 0x754f9111f206b319ULL},
        {"twoOutputSugenoSom",
         "two_output_sugeno.json",
         setMethod("defuzzMethod", "som"),
         kOddWeights,
         {},
         0,
         0x3554ef593dd2de42ULL},
        {"twoOutputSugenoLom",
         "two_output_sugeno.json",
         setMethod("defuzzMethod", "lom"),
         {},
         kOddConnections,
         0,
         0xf042651ef4fc949cULL},
    };
    return cases;
}

TEST(Oracle, EveryResultWarningAndHostCallKeepsItsBits) {
    OracleFunctions functions;
    const bool isRecording = std::getenv("FAZOLT_ORACLE_RECORD") != nullptr;
    for (const OracleCase &c : oracleCases()) {
        const uint64_t hash = runCase(c, 2500, 48);
        if (isRecording) {
            std::printf("%s 0x%016" PRIx64 "ULL\n", c.name, hash);
            continue;
        }
        EXPECT_EQ(hash, c.expected) << c.name;
    }
}

// Every case once more one row per call through a fazolt::Evaluator: each
// row's outputs have the bits of the batch's row, and a row's intermediate
// results those of a batch whose last row it is.
bool sameBits(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : testing_support::bits(a) == testing_support::bits(b);
}

TEST(Oracle, OneRowPerCallHasTheBatchBits) {
    OracleFunctions functions;
    const int32_t numRows = 600;
    const int32_t numWithIntermediates = 24;
    for (const OracleCase &c : oracleCases()) {
        CaseRecord made = caseRecord(c, numRows);
        const size_t numInputs = static_cast<size_t>(made.numInputs);
        const orvane::Value off = fazolt::makeDiagnostics(0, 0, 0, c.name);
        orvane::CallOutcome batch = testing_support::callChecked(
            1, {orvane::Value::doubleMatrix(numRows, made.numInputs, made.rows), made.record, off});
        ASSERT_FALSE(batch.error.has_value()) << c.name;
        const std::vector<double> expected = batch.results.at(0).toDoubles();
        const size_t numOutputs = expected.size() / static_cast<size_t>(numRows);

        fazolt::Evaluator evaluator(fazolt::System::fromRecord(made.record, FAZOLT_MODULE_PATH));
        EvaluatorStorage held(evaluator);
        const fazolt::RowIntermediates &intermediates = held.intermediates;
        std::vector<double> row(numInputs), out(numOutputs);
        hostLog().clear();
        for (int32_t r = 0; r < numRows; ++r) {
            for (size_t i = 0; i < numInputs; ++i) row[i] = made.rows[static_cast<size_t>(r) + i * numRows];
            const bool keepsIntermediates = r < numWithIntermediates;
            fazolt::RowStatus status = evaluator.evaluate(row, out, keepsIntermediates ? &intermediates : nullptr);
            ASSERT_EQ(status.failure, fazolt::RowFailure::none) << c.name << " row " << r;
            for (size_t o = 0; o < numOutputs; ++o)
                ASSERT_TRUE(sameBits(out[o], expected[static_cast<size_t>(r) + o * numRows]))
                    << c.name << " row " << r << " output " << o;
            if (!keepsIntermediates) continue;
            orvane::CallOutcome one = testing_support::callChecked(
                6, {orvane::Value::doubleMatrix(1, made.numInputs, row), made.record, off});
            for (int k = 0; k < 5; ++k) {
                const std::vector<double> want = one.results.at(static_cast<size_t>(k) + 1).toDoubles();
                ASSERT_EQ(want.size(), held.storage[k].size()) << c.name << " result " << k + 2;
                for (size_t n = 0; n < want.size(); ++n)
                    ASSERT_TRUE(sameBits(held.storage[k][n], want[n])) << c.name << " row " << r << " result " << k + 2;
            }
        }
        hostLog().clear();
    }
}

}  // namespace
