// C++ host functions for the Python tests only: the same methods as the
// tests' Python callables, built into C++, so that the tests can compare the
// two. Built with the tests, never shipped in the package; import fazolt
// first, so that this module shares its host libraries.
#include <fazolt/fazolt.h>

#include <pybind11/pybind11.h>

#include <algorithm>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

void lukasiewiczAnd(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    std::vector<double> v = args.at(0).toDoubles();
    double sum = 0.0;
    for (double x : v) sum += x;
    double y = sum - static_cast<double>(v.size() - 1);
    results.assign(1, orvane::Value::doubleScalar(y > 0.0 ? y : 0.0));
}

// Reduces a rules x points block to a 1 x points row: the largest per column.
void columnMaxAggregation(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    const orvane::Value &block = args.at(0);
    int64_t rows = block.dims()[0], cols = block.numel() / std::max<int64_t>(rows, 1);
    std::vector<double> v = block.toDoubles(), row(static_cast<size_t>(cols));
    for (int64_t c = 0; c < cols; ++c) {
        double acc = v[static_cast<size_t>(c * rows)];
        for (int64_t r = 1; r < rows; ++r) acc = std::max(acc, v[static_cast<size_t>(r + c * rows)]);
        row[static_cast<size_t>(c)] = acc;
    }
    results.assign(1, orvane::Value::doubleMatrix(1, cols, row));
}

// Triangle (a, b, c) at every point of a row.
void triangleMembership(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &args) {
    std::vector<double> x = args.at(0).toDoubles(), p = args.at(1).toDoubles();
    std::vector<double> y(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        double up = (x[k] - p[0]) / (p[1] - p[0]), down = (p[2] - x[k]) / (p[2] - p[1]);
        y[k] = std::max(std::min(up, down), 0.0);
    }
    int64_t rows = args.at(0).dims()[0];
    results.assign(1,
                   orvane::Value::doubleMatrix(rows, static_cast<int64_t>(y.size()) / std::max<int64_t>(rows, 1), y));
}

void registerCpp(const std::string &name, orvane::HostFunction fn) {
    py::gil_scoped_release release;  // the host's lock is taken under it
    fazolt::registerFunction(name, std::move(fn));
}

}  // namespace

PYBIND11_MODULE(_fazolt_testing, m) {
    m.doc() = "C++ host functions for the tests";
    m.def("register_cpp_lukasiewicz", [](const std::string &name) { registerCpp(name, lukasiewiczAnd); });
    m.def("register_cpp_column_max", [](const std::string &name) { registerCpp(name, columnMaxAggregation); });
    m.def("register_cpp_triangle", [](const std::string &name) { registerCpp(name, triangleMembership); });
}
