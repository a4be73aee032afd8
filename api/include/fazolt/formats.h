/// @file
/// Systems in other tools' languages: FCL (IEC 61131-7) and fuzzylite's FLL,
/// read into the nested description that buildSystem takes and written back
/// from it. What a language cannot say the same way is refused, never
/// approximated: a reader throws fazolt::Error "fazolt:fcl:Invalid" /
/// "fazolt:fll:Invalid" with "file:line: construct: what", a writer
/// "fazolt:fcl:Unsupported" / "fazolt:fll:Unsupported" naming the part of the
/// description.
#ifndef FAZOLT_API_FORMATS_H
#define FAZOLT_API_FORMATS_H

#include <fazolt/export.h>

#include <string>
#include <string_view>
#include <vector>

namespace fazolt {

/// The languages a system file may be written in.
enum class SystemFormat {
    Json,  ///< the nested description, or a raw record in host-value JSON
    Fcl,   ///< FCL
    Fll    ///< fuzzylite's FLL
};

/// ".fcl" and ".fll" (any letter case) by extension; everything else is JSON.
FAZOLT_API SystemFormat formatOfPath(const std::string &path);
/// "json", "fcl" or "fll"; throws fazolt::Error "fazolt:format:Unknown" for anything else.
FAZOLT_API SystemFormat formatNamed(const std::string &name);

/// What a reader accepts although the engine does otherwise in a case that
/// may not arise on the rows at hand (a DEFAULT other than the range's
/// midpoint): to be said once when the file is loaded.
struct FormatWarning {
    std::string identifier;  ///< "fazolt:fcl:Default", "fazolt:fll:Default"
    std::string message;     ///< "file:line: construct: what"
};

/// FCL or FLL text to a nested description (JSON text). fileName is only
/// used in messages; warnings, when given, receives the reader's warnings.
/// A UTF-8 byte-order mark at the start is skipped.
FAZOLT_API std::string descriptionFromFcl(std::string_view text, const std::string &fileName,
                                          std::vector<FormatWarning> *warnings = nullptr);
/// As descriptionFromFcl, for FLL text.
FAZOLT_API std::string descriptionFromFll(std::string_view text, const std::string &fileName,
                                          std::vector<FormatWarning> *warnings = nullptr);
/// Either, by format; JSON text is returned as it is.
FAZOLT_API std::string descriptionFromText(std::string_view text, SystemFormat format, const std::string &fileName,
                                           std::vector<FormatWarning> *warnings = nullptr);

/// A nested description (JSON text) to FCL or FLL text, or to the description
/// in the tool's own layout (format Json).
FAZOLT_API std::string descriptionToText(std::string_view descriptionJson, SystemFormat format);

/// The host functions that serve the languages' operators, point lists and
/// fuzzylite's MeanOfMaximum ("bdif", "bsum", "nsum", "pointsmf", "firstmom"),
/// its shapes and hedges ("concavemf", "cosinemf", "spikemf", "binarymf",
/// "sigdiffmf", "very", "somewhat", "extremely", "seldom"). Registered under
/// names that are still free; loading a system calls this.
FAZOLT_API void registerFormatFunctions();

}  // namespace fazolt

#endif
