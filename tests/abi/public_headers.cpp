// Every installed header at the language level that the package declares
// (cxx_std_20 in the CMake package, cxx_standard in fazolt.pc; std::span
// in the batch entry needs C++20), under the conversion warnings a careful
// caller turns on.
#include <fazolt/defaults.h>
#include <fazolt/description.h>
#include <fazolt/explain.h>
#include <fazolt/export.h>
#include <fazolt/export_c.h>
#include <fazolt/fazolt.h>
#include <fazolt/formats.h>
#include <fazolt/function_results.h>
#include <fazolt/lua.h>
#include <fazolt/version.h>
#include <orvane/host.h>
#include <orvane/scalar_math.h>
#include <orvane/zorb.h>

int main() { return fazolt::version() == nullptr; }

// The README's example of the API, compiled (not run) with the warnings a
// careful caller turns on: sizes meet without casts.
[[maybe_unused]] static void readmeExample() {
    fazolt::System vent = fazolt::System::fromFile("lukasiewicz.json");
    std::vector<double> rows = {22, 20,  // temperature, humidity
                                31, 80};
    std::vector<double> opening(2 * vent.numOutputs());
    vent.evaluate(rows, vent.numInputs(), fazolt::Layout::RowMajor, opening);
    std::vector<double> t = {22, 31}, h = {20, 80};
    vent.evaluate({{"temperature", t}, {"humidity", h}}, opening);
}
