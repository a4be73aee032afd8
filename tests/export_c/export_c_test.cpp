// Exported C against the engine: many systems (every membership shape and
// built-in method, Mamdani and Sugeno, several outputs, weights, NOT and OR,
// clamps) and the examples are generated, compiled with the host C compiler
// into one driver, and run on rows in and out of range; outputs must match
// System::evaluate bit for bit and the returned bits its warnings.
#include "tests/test_support.h"

#include <fazolt/explain.h>
#include <fazolt/export_c.h>
#include <fazolt/fazolt.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Shape {
    const char *type;
    std::vector<double> params;  // on a range of [0, 10]
};
const std::vector<Shape> kShapes = {
    {"trimf", {1, 4, 7}},
    {"trapmf", {2, 4, 6, 8}},
    {"gaussmf", {1.5, 5}},
    {"gbellmf", {2, 3, 5}},
    {"sigmf", {2, 5}},
    {"smf", {2, 8}},
    {"zmf", {2, 8}},
    {"gauss2mf", {1, 4, 1.5, 6}},
    {"dsigmf", {3, 2, 3, 7}},
    {"psigmf", {3, 2, -3, 7}},
    {"pimf", {1, 4, 6, 9}},
    {"trimf", {5, 5, 5}},
    {"trapmf", {0, 0, 3, 3}},
    {"smf", {5, 5}},
    {"gbellmf", {1.5, 0.5, 4}},
};

json term(const std::string &name, const Shape &s) { return {{"name", name}, {"type", s.type}, {"params", s.params}}; }

// Two inputs on [0, 10]: the first with the shape under test among others.
json inputs(const Shape &shape, bool isClamped) {
    json x1 = {{"name", "x1"},
               {"range", {0, 10}},
               {"mf", {term("a", shape), term("b", {"trimf", {0, 3, 6}}), term("c", {"trapmf", {5, 7, 10, 10}})}}};
    if (isClamped) x1["clamp"] = true;
    json x2 = {
        {"name", "x2"}, {"range", {0, 10}}, {"mf", {term("lo", {"zmf", {1, 6}}), term("hi", {"gaussmf", {2, 8}})}}};
    return {x1, x2};
}

std::string mamdani(size_t k) {
    const char *ands[] = {"min", "prod"};
    const char *ors[] = {"max", "probor", "sum"};
    const char *imps[] = {"min", "prod"};
    const char *aggs[] = {"max", "probor", "sum"};
    const char *defuzz[] = {"centroid", "bisector", "mom", "som", "lom"};
    const Shape &shape = kShapes[k % kShapes.size()];
    json outputs = {{{"name", "y"},
                     {"range", {-5, 15}},
                     {"mf",
                      {term("low", {"trimf", {-5, 0, 5}}), term("mid", {"gaussmf", {2, 5}}),
                       term("high", {"trapmf", {6, 10, 15, 15}})}}}};
    if (k % 3 == 1) outputs[0]["default"] = -1.5;  // where no rule fired
    json rules = {"if x1 is a and x2 is lo then y is low", "if x1 is b or x2 is not hi then y is mid with 0.6",
                  "if x1 is not c then y is high with 0.3", "if x1 is c and x2 is hi then y is not low"};
    if (k % 2 == 1) {
        json y2 = {{"name", "z"},
                   {"range", {0, 1}},
                   {"mf", {term("off", {"zmf", {0.2, 0.6}}), term("on", {"sigmf", {12, 0.5}})}}};
        if (k % 4 == 1) y2["clamp"] = true;
        outputs.push_back(y2);
        rules = {"if x1 is a and x2 is lo then y is low and z is on",
                 "if x1 is b or x2 is not hi then y is mid and z is off with 0.6",
                 "if x1 is not c then y is high with 0.3", "if x2 is hi then z is not on"};
    }
    json d = {{"name", "m" + std::to_string(k)},
              {"type", "mamdani"},
              {"andMethod", ands[k % 2]},
              {"orMethod", ors[k % 3]},
              {"impMethod", imps[(k / 2) % 2]},
              {"aggMethod", aggs[(k / 3) % 3]},
              {"defuzzMethod", defuzz[k % 5]},
              {"numSamples", 51 + 50 * static_cast<int>(k % 3)},
              {"inputs", inputs(shape, k % 3 == 2)},
              {"outputs", outputs},
              {"rules", rules}};
    return d.dump();
}

std::string sugeno(size_t k) {
    const char *defuzz[] = {"wtaver", "wtsum", "centroid", "bisector", "mom", "som", "lom"};
    const char *ors[] = {"max", "probor", "sum"};
    const Shape &shape = kShapes[(k * 5 + 3) % kShapes.size()];
    json y = {{"name", "y"},
              {"range", {-20, 40}},
              {"mf",
               {{{"name", "flat"}, {"type", "constant"}, {"params", {3.5}}},
                {{"name", "slope"}, {"type", "linear"}, {"params", {0.7, -1.3, 2.1}}},
                {{"name", "steep"}, {"type", "linear"}, {"params", {2.5, 0.1, -4}}}}}};
    if (k % 2 == 0) y["clamp"] = true;
    if (k % 3 == 1) y["default"] = 7.25;
    json z = {{"name", "z"},
              {"range", {0, 1}},
              {"mf",
               {{{"name", "zero"}, {"type", "constant"}, {"params", {0}}},
                {{"name", "one"}, {"type", "constant"}, {"params", {1}}}}}};
    if (k % 3 == 2) z["default"] = "nan";
    json d = {
        {"name", "s" + std::to_string(k)},
        {"type", "sugeno"},
        {"andMethod", k % 2 == 0 ? "prod" : "min"},
        {"orMethod", ors[k % 3]},
        {"defuzzMethod", defuzz[k % 7]},
        {"inputs", inputs(shape, k % 3 == 1)},
        {"outputs", {y, z}},
        {"rules",
         {"if x1 is a and x2 is lo then y is flat and z is one", "if x1 is b or x2 is hi then y is slope with 0.4",
          "if x1 is not c and x2 is not lo then y is steep and z is zero", "if x2 is hi then z is one with 0.7"}}};
    return d.dump();
}

// ---- Custom functions: registered here, and the same arithmetic in C for
// the exported systems that call them (fazolt export --extern).

using orvane::Value;
using Arguments = std::vector<Value>;

// p0 / (1 + (x - p1)^2 * p2), for a point or a row of points.
void bump(int, Arguments &results, const Arguments &a) {
    std::vector<double> x = a.at(0).toDoubles(), p = a.at(1).toDoubles();
    for (double &v : x) v = p[0] / (1.0 + ((v - p[1]) * (v - p[1])) * p[2]);
    results = {Value::doubleMatrix(1, static_cast<int64_t>(x.size()), x)};
}
void meanOf(int, Arguments &results, const Arguments &a) {
    std::vector<double> v = a.at(0).toDoubles();
    double sum = v[0];
    for (size_t k = 1; k < v.size(); ++k) sum = sum + v[k];
    results = {Value::doubleScalar(sum / static_cast<double>(v.size()))};
}
void squaresOf(int, Arguments &results, const Arguments &a) {
    double sum = 0.0;
    for (double v : a.at(0).toDoubles()) sum = sum + v * v;
    results = {Value::doubleScalar(sum)};
}
void halfImplication(int, Arguments &results, const Arguments &a) {
    std::vector<double> mu = a.at(0).toDoubles(), w = a.at(1).toDoubles();
    for (size_t s = 0; s < mu.size(); ++s) mu[s] = (mu[s] * w[s] + mu[s]) * 0.5;
    results = {Value::doubleMatrix(static_cast<int64_t>(mu.size()), 1, mu)};
}
// Rules down, sample points across: the sum over the rules, as a row.
void sumOfRules(int, Arguments &results, const Arguments &a) {
    const int64_t numRules = a.at(0).dims()[0], numPoints = a.at(0).dims()[1];
    std::vector<double> block = a.at(0).toDoubles(), set(static_cast<size_t>(numPoints));
    for (int64_t s = 0; s < numPoints; ++s) {
        double acc = block[static_cast<size_t>(s * numRules)];
        for (int64_t r = 1; r < numRules; ++r) acc = acc + block[static_cast<size_t>(r + s * numRules)];
        set[static_cast<size_t>(s)] = acc;
    }
    results = {Value::doubleMatrix(1, numPoints, set)};
}
void weightedMean(int, Arguments &results, const Arguments &a) {
    std::vector<double> x = a.at(0).toDoubles(), mf = a.at(1).toDoubles();
    double num = 0.0, total = 0.0;
    for (size_t s = 0; s < x.size(); ++s) {
        num = num + mf[s] * x[s];
        total = total + mf[s];
    }
    results = {Value::doubleScalar(num / (total + 1.0))};
}
void shiftedRatio(int, Arguments &results, const Arguments &a) {
    results = {Value::doubleScalar(a.at(0).toDoubles()[0] / (a.at(1).toDoubles()[0] + 0.5))};
}

const char *const kExternC = R"C(#include "t_custom_m.h"
#include "t_custom_s.h"
#include "t_custom_i.h"
#include "t_custom_a.h"
double t_custom_m_fn_bump(double x, const double p[], int n) { (void)n; return p[0] / (1.0 + ((x - p[1]) * (x - p[1])) * p[2]); }
double t_custom_m_fn_meanOf(const double v[], int n) {
    double sum = v[0];
    int k;
    for (k = 1; k < n; ++k) sum = sum + v[k];
    return sum / (double)n;
}
void t_custom_m_fn_halfImplication(const double mu[], double w, int n, double out[]) {
    int s;
    for (s = 0; s < n; ++s) out[s] = (mu[s] * w + mu[s]) * 0.5;
}
void t_custom_m_fn_sumOfRules(const double implied[], int numRules, int n, double out[]) {
    int s, r;
    for (s = 0; s < n; ++s) {
        double acc = implied[s];
        for (r = 1; r < numRules; ++r) acc = acc + implied[r * n + s];
        out[s] = acc;
    }
}
double t_custom_m_fn_weightedMean(const double x[], const double mf[], int n) {
    double num = 0.0, total = 0.0;
    int s;
    for (s = 0; s < n; ++s) {
        num = num + mf[s] * x[s];
        total = total + mf[s];
    }
    return num / (total + 1.0);
}
void t_custom_i_fn_halfImplication(const double mu[], double w, int n, double out[]) {
    t_custom_m_fn_halfImplication(mu, w, n, out);
}
void t_custom_a_fn_sumOfRules(const double implied[], int numRules, int n, double out[]) {
    t_custom_m_fn_sumOfRules(implied, numRules, n, out);
}
double t_custom_s_fn_bump(double x, const double p[], int n) { return t_custom_m_fn_bump(x, p, n); }
double t_custom_s_fn_squaresOf(const double v[], int n) {
    double sum = 0.0;
    int k;
    for (k = 0; k < n; ++k) sum = sum + v[k] * v[k];
    return sum;
}
double t_custom_s_fn_shiftedRatio(double a, double total) { return a / (total + 0.5); }
)C";

// A Mamdani system with a function of the user's in every role it has (the
// membership function for an output term too, tabulated), and a Sugeno one.
std::vector<std::pair<std::string, fazolt::System>> customSystems() {
    static const bool isRegistered = [] {
        const std::pair<const char *, orvane::HostFunction> functions[] = {
            {"bump", bump}, {"meanOf", meanOf}, {"squaresOf", squaresOf}, {"halfImplication", halfImplication},
            {"sumOfRules", sumOfRules}, {"weightedMean", weightedMean}, {"shiftedRatio", shiftedRatio}};
        for (const auto &[name, function] : functions) fazolt::registerFunction(name, function);
        return true;
    }();
    (void)isRegistered;
    json m = json::parse(mamdani(1));
    m["inputs"][0]["mf"][0] = {{"name", "a"}, {"type", "bump"}, {"params", {1, 5, 0.3}}};
    m["outputs"][0]["mf"][1] = {{"name", "mid"}, {"type", "bump"}, {"params", {0.9, 5, 0.2}}};
    m["andMethod"] = "meanOf";
    m["impMethod"] = "halfImplication";
    m["aggMethod"] = "sumOfRules";
    m["defuzzMethod"] = "weightedMean";
    json s = json::parse(sugeno(1));
    s["inputs"][1]["mf"][1] = {{"name", "hi"}, {"type", "bump"}, {"params", {1, 8, 0.5}}};
    s["orMethod"] = "squaresOf";
    s["defuzzMethod"] = "shiftedRatio";
    // One of implication and aggregation the user's, the other built in.
    json i = json::parse(mamdani(4)), a = json::parse(mamdani(2));
    i["impMethod"] = "halfImplication";
    a["aggMethod"] = "sumOfRules";
    return {{"custom_m", fazolt::System::fromDescription(m.dump(), FAZOLT_MODULE_PATH)},
            {"custom_s", fazolt::System::fromDescription(s.dump(), FAZOLT_MODULE_PATH)},
            {"custom_i", fazolt::System::fromDescription(i.dump(), FAZOLT_MODULE_PATH)},
            {"custom_a", fazolt::System::fromDescription(a.dump(), FAZOLT_MODULE_PATH)}};
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The systems checked: generated ones, the examples and the reference systems.
std::vector<std::pair<std::string, fazolt::System>> systems(bool withGenerated) {
    std::vector<std::pair<std::string, fazolt::System>> all;
    for (size_t k = 0; k < (withGenerated ? 24 : 0); ++k)
        all.emplace_back("m" + std::to_string(k), fazolt::System::fromDescription(mamdani(k), FAZOLT_MODULE_PATH));
    for (size_t k = 0; k < (withGenerated ? 14 : 0); ++k)
        all.emplace_back("s" + std::to_string(k), fazolt::System::fromDescription(sugeno(k), FAZOLT_MODULE_PATH));
    const std::string root = FAZOLT_SOURCE_DIR;
    for (const char *file :
         {"/examples/dimmer/dimmer.json", "/examples/climate/climate.json", "/examples/heater/heater.json",
          "/examples/embedded/greenhouse.json", "/bench/systems/fan.json", "/bench/systems/big_mamdani.json",
          "/bench/systems/sugeno_linear.json"}) {
        std::string name = fs::path(file).stem().string();
        all.emplace_back(name, fazolt::System::fromFile(root + file, FAZOLT_MODULE_PATH));
    }
    if (withGenerated)
        for (auto &custom : customSystems()) all.push_back(std::move(custom));
    // Mamdani wtaver, which only a raw record can ask for: rule 4 concludes
    // "not low", largest at the first point, where the quotient is not 0.
    for (size_t k : {0, 6}) {
        if (!withGenerated) break;
        orvane::Value record = all[k].second.record();
        const bool isChar = record.field(0, "defuzzMethod").className() == "char";
        record.setField(0, "defuzzMethod",
                        isChar ? orvane::Value::charRow("wtaver") : orvane::Value::uint8Row("wtaver"));
        all.emplace_back("m" + std::to_string(k) + "_wtaver", fazolt::System::fromRecord(record, FAZOLT_MODULE_PATH));
    }
    return all;
}

// Rows across each range and 20% beyond it, the terms' parameters, and NaN,
// infinities and -0 in turn.
std::vector<std::vector<double>> rowsFor(const fazolt::System &system) {
    const auto &ranges = system.inputRanges();
    std::vector<std::vector<double>> columns;
    for (const auto &[lo, hi] : ranges) {
        std::vector<double> values;
        const double width = hi - lo;
        for (int k = 0; k <= 12; ++k) values.push_back(lo - 0.2 * width + k * (1.4 * width / 12));
        values.push_back(lo);
        values.push_back(hi);
        columns.push_back(values);
    }
    std::vector<std::vector<double>> rows;
    const size_t n = columns.size();
    if (n == 0) return rows;
    // A grid over the first two inputs, the others walking along.
    const size_t m = columns[0].size();
    for (size_t a = 0; a < m; ++a)
        for (size_t b = 0; b < (n > 1 ? m : 1); ++b) {
            std::vector<double> row(n);
            for (size_t i = 0; i < n; ++i) row[i] = columns[i][(i == 0 ? a : i == 1 ? b : a + b + i) % m];
            rows.push_back(row);
        }
    const double specials[] = {
        std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), -0.0, 4.0,
        5.0};
    for (double s : specials)
        for (size_t i = 0; i < n; ++i) {
            std::vector<double> row = rows[rows.size() / 2];
            row[i] = s;
            rows.push_back(row);
        }
    return rows;
}

std::string cLiteral(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INFINITY" : "INFINITY";
    char text[40];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

int bitsOfWarnings(const std::vector<fazolt::Warning> &warnings) {
    static const std::map<std::string, int> bitOf = {{"diagFazolt_OutOfRangeInput", 1},
                                                     {"warnFazolt_NoRuleFired", 2},
                                                     {"warnFazolt_ZeroMembershipValue", 4},
                                                     {"fazolt:inputs:NaN", 8},
                                                     {"fazolt:outputs:NonFinite", 16}};
    int bits = 0;
    for (const fazolt::Warning &w : warnings) {
        auto it = bitOf.find(w.identifier);
        EXPECT_NE(it, bitOf.end()) << "unexpected warning " << w.identifier;
        if (it != bitOf.end()) bits |= it->second;
    }
    return bits;
}

int run(const std::string &command) { return std::system(command.c_str()); }

struct Batch {
    fs::path dir;
    std::vector<std::pair<std::string, fazolt::System>> systems;
    std::vector<std::vector<std::vector<double>>> rows;
};

// Exports every system (prefix "t_" + name) and writes a driver printing,
// per row, the returned bits and the outputs' bits in hex.
Batch exportAll(const std::string &dirName, bool isFloat, bool withGenerated = true) {
    // Per process: the sanitizer and optimised trees may run at once.
    Batch b{fs::path(testing::TempDir()) / (dirName + "_" + std::to_string(getpid())), systems(withGenerated), {}};
    fs::remove_all(b.dir);
    fs::create_directories(b.dir);
    const char *real = isFloat ? "float" : "double";
    std::string driver = "#include <math.h>\n#include <stdio.h>\n#include <string.h>\n";
    std::string calls;
    for (auto &[name, system] : b.systems) {
        fazolt::CExportOptions options;
        options.isFloat = isFloat;
        options.isExtern = name.rfind("custom", 0) == 0;
        fazolt::exportC(system, b.dir.string(), "t_" + name, options);
        driver += "#include \"t_" + name + ".h\"\n";
        b.rows.push_back(rowsFor(system));
        const auto &rows = b.rows.back();
        const size_t n = rows.empty() ? 0 : rows[0].size();
        std::string table =
            "static const " + std::string(real) + " rows_" + name + "[][" + std::to_string(n) + "] = {\n";
        for (const auto &row : rows) {
            table += "  {";
            for (double v : row) table += cLiteral(v) + ", ";
            table += "},\n";
        }
        driver += table + "};\n";
        calls += "  for (r = 0; r < sizeof rows_" + name + " / sizeof rows_" + name +
                 "[0]; ++r) {\n"
                 "    " +
                 std::string(real) + " out[T_" + name +
                 "_NUM_OUTPUTS];\n"
                 "    int flags = t_" +
                 name + "_evaluate(rows_" + name +
                 "[r], out), o;\n"
                 "    printf(\"%d\", flags);\n"
                 "    for (o = 0; o < T_" +
                 name +
                 "_NUM_OUTPUTS; ++o) { double d = out[o]; unsigned long long u; memcpy(&u, &d, 8); printf(\" "
                 "%016llx\", u); }\n"
                 "    printf(\"\\n\");\n  }\n";
    }
    // The macros are the prefix in capitals.
    for (auto &[name, system] : b.systems) {
        std::string upper = name;
        for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        driver += "#define T_" + name + "_NUM_OUTPUTS T_" + upper + "_NUM_OUTPUTS\n";
    }
    driver += "int main(void) {\n  size_t r;\n" + calls + "  return 0;\n}\n";
    if (withGenerated) std::ofstream(b.dir / "custom_functions.c") << kExternC;
    std::ofstream(b.dir / "driver.c") << driver;
    return b;
}

// Compiles the batch with the exactness flags and runs it; the lines printed.
std::vector<std::string> compileAndRun(const Batch &b, const std::string &compiler) {
    const std::string d = b.dir.string();
    std::string command = compiler + " -std=c99 -O2 -ffp-contract=off -Wall -Wextra -pedantic -Werror -I" + d + " -o " +
                          d + "/driver " + d + "/*.c -lm 2> " + d + "/compile.log";
    EXPECT_EQ(run(command), 0) << command << "\n" << readFile(d + "/compile.log");
    EXPECT_EQ(run(d + "/driver > " + d + "/out.txt"), 0);
    std::vector<std::string> lines;
    std::ifstream in(d + "/out.txt");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

fazolt::DiagnosticModes warningsOnly() { return {}; }

TEST(ExportC, GeneratedCGivesTheEnginesBitsAndWarnings) {
    Batch b = exportAll("export_c_double", false);
    std::vector<std::string> lines = compileAndRun(b, FAZOLT_TEST_CC);
    size_t line = 0;
    for (size_t k = 0; k < b.systems.size(); ++k) {
        const auto &[name, system] = b.systems[k];
        const auto &rows = b.rows[k];
        const int64_t numInputs = static_cast<int64_t>(rows[0].size());
        fazolt::Matrix batch = fazolt::Matrix::zeros(static_cast<int64_t>(rows.size()), numInputs);
        for (size_t r = 0; r < rows.size(); ++r)
            for (int64_t i = 0; i < numInputs; ++i)
                batch.at(static_cast<int64_t>(r), i) = rows[r][static_cast<size_t>(i)];
        fazolt::Evaluation all = system.evaluate(batch, warningsOnly());
        int numWrong = 0;
        for (size_t r = 0; r < rows.size() && numWrong < 5; ++r, ++line) {
            ASSERT_LT(line, lines.size()) << name;
            std::istringstream in(lines[line]);
            int flags = 0;
            in >> flags;
            fazolt::Matrix one = fazolt::Matrix::zeros(1, numInputs);
            one.data = rows[r];
            int expectedFlags = bitsOfWarnings(system.evaluate(one, warningsOnly()).warnings);
            std::string where = name + " row " + std::to_string(r) + " (" + lines[line] + ")";
            EXPECT_EQ(flags, expectedFlags) << where;
            for (int64_t o = 0; o < all.outputs.cols; ++o) {
                std::string hex;
                in >> hex;
                uint64_t got = std::stoull(hex, nullptr, 16);
                double expected = all.outputs.at(static_cast<int64_t>(r), o);
                double gotValue;
                std::memcpy(&gotValue, &got, sizeof gotValue);
                bool isSame = std::isnan(expected) ? std::isnan(gotValue) : got == testing_support::bits(expected);
                if (!isSame) ++numWrong;
                EXPECT_TRUE(isSame) << where << " output " << o << ": C " << gotValue << ", engine " << expected;
            }
            if (flags != expectedFlags) ++numWrong;
        }
        line += 0;
        if (numWrong >= 5) FAIL() << name << ": stopped after 5 wrong rows";
    }
    EXPECT_EQ(line, lines.size());
}

TEST(ExportC, CompilesCleanAsCAndCxxWithOnlyMathSymbols) {
    // The examples and reference systems: the generated ones pass the same
    // C compiler with these warnings in the exactness test.
    Batch b = exportAll("export_c_strict", false, false);
    const std::string d = b.dir.string();
    for (auto &[name, system] : b.systems) {
        const std::string file = d + "/t_" + name + ".c";
        const std::string object = d + "/t_" + name + ".o";
        EXPECT_EQ(
            run(std::string(FAZOLT_TEST_CC) +
                " -std=c99 -O2 -Wall -Wextra -pedantic -Werror -Wshadow -Wconversion -c " + file + " -o " + object),
            0)
            << name;
        EXPECT_EQ(run(std::string(FAZOLT_TEST_CXX) +
                      " -x c++ -std=c++11 -Wall -Wextra -pedantic -Werror -fsyntax-only " + file),
                  0)
            << name;
        if (std::string(FAZOLT_TEST_CLANG).size() > 0 &&
            std::string(FAZOLT_TEST_CLANG) != "FAZOLT_TEST_CLANG-NOTFOUND") {
            EXPECT_EQ(
                run(std::string(FAZOLT_TEST_CLANG) + " -std=c99 -Wall -Wextra -pedantic -Werror -fsyntax-only " + file),
                0)
                << name;
        }
        // Undefined symbols: <math.h> functions only (no malloc, free, printf).
        EXPECT_EQ(run("nm -u " + object + " | grep -v -w -E 'fma|pow|expf|powf|fabs|fabsf' > " + d + "/undefined.txt"),
                  256)
            << name << " needs " << readFile(d + "/undefined.txt");
    }
}

TEST(ExportC, FloatStaysWithinAHundredThousandthOfTheRangeOfDouble) {
    Batch b = exportAll("export_c_float", true, false);
    std::vector<std::string> lines = compileAndRun(b, FAZOLT_TEST_CC);
    size_t line = 0;
    double worst = 0.0, worstOutside = 0.0;
    std::string worstWhere;
    for (size_t k = 0; k < b.systems.size(); ++k) {
        const auto &[name, system] = b.systems[k];
        const auto &rows = b.rows[k];
        fazolt::Matrix batch =
            fazolt::Matrix::zeros(static_cast<int64_t>(rows.size()), static_cast<int64_t>(rows[0].size()));
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t i = 0; i < rows[r].size(); ++i)
                batch.at(static_cast<int64_t>(r), static_cast<int64_t>(i)) = static_cast<float>(rows[r][i]);
        fazolt::Evaluation all = system.evaluate(
            batch, fazolt::DiagnosticModes{fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING,
                                           fazolt::REPORT_NOTHING, fazolt::REPORT_NOTHING});
        fazolt::Explainer why(system);
        for (size_t r = 0; r < rows.size(); ++r, ++line) {
            std::istringstream in(lines.at(line));
            int flags;
            in >> flags;
            for (int64_t o = 0; o < all.outputs.cols; ++o) {
                std::string hex;
                in >> hex;
                uint64_t got = std::stoull(hex, nullptr, 16);
                double value;
                std::memcpy(&value, &got, sizeof value);
                double expected = all.outputs.at(static_cast<int64_t>(r), o);
                if (!std::isfinite(expected)) continue;
                const auto &v = why.info().outputs[static_cast<size_t>(o)];
                double difference = std::fabs(value - expected) / (v.high - v.low);
                // Far outside the ranges the degrees get subnormal in single
                // precision and lose their digits: measured apart.
                if ((flags & 1) != 0) {
                    worstOutside = std::max(worstOutside, difference);
                    continue;
                }
                if (difference > worst) {
                    worst = difference;
                    worstWhere = name + " row " + std::to_string(r) + " output " + std::to_string(o) + " (" +
                                 lines.at(line) + ", engine " + std::to_string(expected) + ")";
                }
            }
        }
    }
    std::printf(
        "float against double: largest difference %.3g of the output's range on rows in range (%s), "
        "%.3g on rows out of range\n",
        worst, worstWhere.c_str(), worstOutside);
    EXPECT_LE(worst, 1e-5) << worstWhere;
}

TEST(ExportC, RefusesWhatCCannotComputeExactly) {
    auto refused = [](const fazolt::System &system, const std::string &words) {
        try {
            fazolt::generateC(system, "p");
            ADD_FAILURE() << "not refused: " << words;
        } catch (const fazolt::Error &e) {
            EXPECT_EQ(e.identifier(), fazolt::ids::exportUnsupported);
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    };
    fazolt::System dimmer =
        fazolt::System::fromFile(std::string(FAZOLT_SOURCE_DIR) + "/examples/dimmer/dimmer.json", FAZOLT_MODULE_PATH);
    fazolt::registerFunction("exportTestAnd",
                             [](int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &) {
                                 results = {orvane::Value::doubleMatrix(1, 1, {0.5})};
                             });
    json d = json::parse(sugeno(0));
    d["andMethod"] = "exportTestAnd";
    refused(fazolt::System::fromDescription(d.dump(), FAZOLT_MODULE_PATH), "exportTestAnd");
    fazolt::unregisterFunction("exportTestAnd");
    for (const char *bad : {"", "9lives", "a-b", "a b"}) {
        try {
            fazolt::generateC(dimmer, bad);
            ADD_FAILURE() << "prefix accepted: " << bad;
        } catch (const fazolt::Error &e) {
            EXPECT_EQ(e.identifier(), fazolt::ids::exportBadPrefix);
        }
    }
}

}  // namespace
