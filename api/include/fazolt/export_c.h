/// @file
/// A system as plain C: PREFIX.h and PREFIX.c, C99 that also compiles as
/// C++, with no heap, no stdio and no mutable static state, needing only
/// <math.h>. PREFIX_evaluate computes one row; in double precision on the
/// machine that generated it, its outputs are those of System::evaluate bit
/// for bit, and its return value says which of the warnings that evaluation
/// gives the row had.
///
///     fazolt::exportC(fazolt::System::fromFile("fan.json"), "out", "fan");
///     // out/fan.h, out/fan.c: int fan_evaluate(const double in[], double out[]);
#ifndef FAZOLT_API_EXPORT_C_H
#define FAZOLT_API_EXPORT_C_H

#include <fazolt/fazolt.h>

#include <string>

namespace fazolt {

/// How the C is generated.
struct CExportOptions {
    /// Single precision (float tables, expf and powf) for targets without a
    /// double-precision unit; its outputs differ from the engine's.
    bool isFloat = false;
    /// Custom functions (registered, Lua or Python) declared in PREFIX.h as
    /// PREFIX_fn_NAME for the user to define in C, called as the engine calls
    /// them (the header documents each signature); Mamdani output terms are
    /// tabulated whatever computes them. Without it such a system is refused.
    bool isExtern = false;
};

/// The two files' texts.
struct CExport {
    std::string header;  ///< PREFIX.h
    std::string source;  ///< PREFIX.c
};

/// Generates the C for `system`.
/// @param system the system; every function it names must be built in,
/// or options.isExtern set
/// @param prefix the files' name and the functions' and macros' prefix: a C
/// identifier
/// @param options how the C is generated (double or single precision)
/// @return the texts of PREFIX.h and PREFIX.c
/// @throws Error ids::exportBadPrefix, ids::exportUnsupported naming what
/// cannot be generated (a custom or Lua function without isExtern, one whose
/// name is not a C identifier, a system without inputs or rules), and the module's error for a system it refuses.
FAZOLT_API CExport generateC(const System &system, const std::string &prefix, const CExportOptions &options = {});

/// Writes generateC's files as DIRECTORY/PREFIX.h and DIRECTORY/PREFIX.c,
/// each written beside its path and renamed over it once complete.
/// @param system the system, as for generateC
/// @param directory an existing folder
/// @param prefix as for generateC
/// @param options as for generateC
/// @throws Error as generateC, ids::ioCannotWrite and ids::ioWriteFailed
/// naming the file and the reason.
FAZOLT_API void exportC(const System &system, const std::string &directory, const std::string &prefix,
                        const CExportOptions &options = {});

}  // namespace fazolt

#endif
