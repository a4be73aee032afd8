// Every installed header at the language level that the package declares
// (cxx_std_20 in the CMake package, cxx_standard in fazolt.pc; std::span
// in the batch entry needs C++20).
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
