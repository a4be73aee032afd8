// Builders for small system records and arrays in stage tests, and the
// checks every stage test makes afterwards (bits, leaks).
#ifndef FAZOLT_TESTS_TEST_SYSTEMS_H
#define FAZOLT_TESTS_TEST_SYSTEMS_H

#include <gtest/gtest.h>

#include <orvane/host.h>

#include "model/dynArray.h"
#include "model/systemRecord.h"

#include <bit>
#include <cstdio>
#include <functional>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace testsys {

// ---- Exact comparison: -0.0 differs from 0.0, NaN matches only NaN.

inline bool sameBits(double a, double b) {
    if (a != a && b != b) return true;
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

inline std::string describe(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%a (%.17g)", v, v);
    return text;
}

#define EXPECT_SAME_BITS(actual, expected)                 \
    EXPECT_TRUE(::testsys::sameBits((actual), (expected))) \
        << "actual " << ::testsys::describe(actual) << ", expected " << ::testsys::describe(expected)

// ---- Arrays. Matrices are written row by row, as they read in a test, and
// stored column-major.

inline void setName(DynArray<uint8_t> *a, std::string_view text) {
    resize2D(a, 1, static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(a->data, text.data(), text.size());
}

inline void setMatrix(DynArray<double> *a, int32_t rows, int32_t cols, std::initializer_list<double> rowMajor) {
    resize2D(a, rows, cols);
    const double *v = rowMajor.begin();
    for (int32_t i = 0; i < rows; ++i)
        for (int32_t j = 0; j < cols; ++j) a->data[i + j * rows] = v[i * cols + j];
}

inline void setVector(DynArray<double> *a, const std::vector<double> &values) {
    int32_t n = static_cast<int32_t>(values.size());
    if (a->numDimensions == 1) {
        resize1D(a, n);
    } else {
        resize2D(a, 1, n);
    }
    for (int32_t k = 0; k < n; ++k) a->data[k] = values[k];
}

inline void setInt32Row(DynArray<int32_t> *a, std::initializer_list<int32_t> values) {
    resize2D(a, 1, static_cast<int32_t>(values.size()));
    int32_t k = 0;
    for (int32_t v : values) a->data[k++] = v;
}

inline double element(const DynArray<double> *a, int32_t row, int32_t col) { return a->data[row + col * a->size[0]]; }

// An unregistered array for a test to own; release with releaseArray.
template <typename T>
DynArray<T> *newArray(int32_t numDimensions) {
    DynArray<T> *a = nullptr;
    initArray(&a, numDimensions);
    return a;
}

// ---- Records.

struct MFSpec {
    std::string type;
    std::vector<double> params;
};

// One variable per list; each MF record holds exactly its name and params.
inline void setVariables(DynArray<VariableRecord> *vars, const std::vector<std::vector<MFSpec>> &variables) {
    resize2D(vars, 1, static_cast<int32_t>(variables.size()));
    for (size_t v = 0; v < variables.size(); ++v) {
        VariableRecord &var = vars->data[v];
        var.origNumMF = static_cast<int32_t>(variables[v].size());
        resize2D(var.mf, 1, var.origNumMF);
        for (size_t j = 0; j < variables[v].size(); ++j) {
            MFRecord &mf = var.mf->data[j];
            setName(mf.type, variables[v][j].type);
            mf.origTypeLength = static_cast<int32_t>(variables[v][j].type.size());
            setVector(mf.params, variables[v][j].params);
            mf.origParamLength = static_cast<int32_t>(variables[v][j].params.size());
        }
    }
}

// A system record built without a host call boundary (nothing registered)
// and released with the test.
struct TestSystem {
    SystemRecord fis;
    TestSystem() { initSystemRecord(nullptr, &fis); }
    ~TestSystem() { releaseSystemRecord(&fis); }
    TestSystem(const TestSystem &) = delete;
    TestSystem &operator=(const TestSystem &) = delete;

    // numOutputMFs and their running sums from 0.
    void setOutputCounts(std::initializer_list<int32_t> counts) {
        setInt32Row(fis.numOutputMFs, counts);
        resize2D(fis.numCumOutputMFs, 1, static_cast<int32_t>(counts.size()));
        int32_t cumulative = 0, k = 0;
        for (int32_t c : counts) {
            fis.numCumOutputMFs->data[k++] = cumulative;
            cumulative += c;
        }
    }
};

// Diagnostics options with every mode off unless set.
struct TestDiagnostics {
    DiagnosticsOptions options{};
    TestDiagnostics(uint8_t noRuleFired = 0, uint8_t emptyOutputFuzzySet = 0) {
        options.Model = newArray<uint8_t>(2);
        options.Block = newArray<uint8_t>(2);
        setName(options.Model, "model");
        setName(options.Block, "block");
        options.NoRuleFired = noRuleFired;
        options.EmptyOutputFuzzySet = emptyOutputFuzzySet;
    }
    ~TestDiagnostics() {
        releaseArray(&options.Block);
        releaseArray(&options.Model);
    }
};

// ---- Leak check: construct before the test's own allocations.

struct LeakCheck {
    int64_t before = orvane::allocStats().liveBlocks;
    void expectNone() const {
        EXPECT_EQ(orvane::allocStats().liveBlocks, before);
        EXPECT_EQ(orvane::heapReferenceDepth(), 0);
    }
};

// Runs fn in a call boundary and expects it to finish without error or
// leaked host values; returns the warnings it issued.
inline std::vector<orvane::Warning> runClean(const std::function<void(zorbTLS *)> &fn) {
    orvane::BoundaryOutcome outcome = orvane::runInCall(fn);
    EXPECT_FALSE(outcome.error.has_value()) << outcome.error->identifier() << ": " << outcome.error->message();
    EXPECT_EQ(outcome.leakedValues, 0);
    return std::move(outcome.warnings);
}

// Runs fn in a call boundary and returns the identifier of the error it
// raised ("" when it finished).
inline std::string runForError(const std::function<void(zorbTLS *)> &fn) {
    orvane::BoundaryOutcome outcome = orvane::runInCall(fn);
    EXPECT_EQ(outcome.leakedValues, 0);
    return outcome.error.has_value() ? outcome.error->identifier() : std::string();
}

}  // namespace testsys

#endif
