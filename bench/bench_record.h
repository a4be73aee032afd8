// System records for the stage benchmarks: a description built by the
// embedding API and copied field by field into the module's own record, the
// way the module's import fills it, but without a call boundary.
#ifndef FAZOLT_BENCH_BENCH_RECORD_H
#define FAZOLT_BENCH_BENCH_RECORD_H

#include "model/systemRecord.h"

#include <string>

// A reference system read from a description file. Owns its arrays
// (unregistered) and releases them with the object.
struct BenchSystem {
    SystemRecord fis;
    std::string name;
    explicit BenchSystem(const std::string &descriptionPath);
    ~BenchSystem();
    BenchSystem(const BenchSystem &) = delete;
    BenchSystem &operator=(const BenchSystem &) = delete;
};

// Diagnostics with every mode off, so no stage issues a warning.
struct QuietDiagnostics {
    DiagnosticsOptions options{};
    QuietDiagnostics();
    ~QuietDiagnostics();
    QuietDiagnostics(const QuietDiagnostics &) = delete;
    QuietDiagnostics &operator=(const QuietDiagnostics &) = delete;
};

// The directory of the reference systems: $FAZOLT_BENCH_SYSTEMS, or the one
// the build was configured with.
std::string benchSystemsDir();

#endif
