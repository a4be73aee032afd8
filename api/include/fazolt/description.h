/// @file
/// System descriptions: the nested JSON that people write, turned into the
/// flat system record (a host struct of 25 fields) that the module reads.
#ifndef FAZOLT_API_DESCRIPTION_H
#define FAZOLT_API_DESCRIPTION_H

#include <fazolt/export.h>
#include <orvane/host.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fazolt {

/// A description built: the record and the names it leaves out.
struct BuiltSystem {
    orvane::Value record;                                   ///< the 25-field system record
    std::string name;                                       ///< the description's name
    std::string type;                                       ///< "mamdani" or "sugeno"
    std::vector<std::string> inputNames;                    ///< in column order
    std::vector<std::string> outputNames;                   ///< in column order
    std::vector<std::vector<std::string>> inputTermNames;   ///< per variable, in term order
    std::vector<std::vector<std::string>> outputTermNames;  ///< per variable, in term order
    /// "clamp": true per variable: the host bounds the input before the
    /// module's call, or the output after it, to the variable's range.
    std::vector<bool> inputClamps;
    std::vector<bool> outputClamps;  ///< as inputClamps, for the outputs
    /// An output's "default" (NaN for "nan"), or nothing: its value on a row
    /// where no rule fired, set by the host after the module's call in place
    /// of the range's midpoint.
    std::vector<std::optional<double>> outputDefaults;
};

/// Whether a method or membership function name that is not built in must
/// name a host function registered now (when the system is loaded to be
/// evaluated), or is left for the host to find later (when it is only
/// converted).
enum class HostFunctionNames { mustExist, unchecked };

/// Parses a nested description, checks it and builds its record. Every
/// error throws fazolt::Error "fazolt:description:..." whose message
/// starts with the JSON path of the bad value, e.g. "inputs[1].mf[0].params:
/// expected an array of numbers". Refused besides wrong classes and missing
/// keys: unknown keys, a type other than "mamdani" or "sugeno", a Sugeno
/// output term other than "constant" or "linear", method and membership
/// function names that are neither built in nor host functions (and built-in
/// method names in another role), "wtaver" and "wtsum" on a Mamdani system,
/// duplicate names, ranges whose low end is not below the high end or whose
/// width overflows, output ranges and Sugeno output levels whose sums could
/// overflow, rule weights outside [0, 1], and negated Sugeno consequents.
/// Complexity: linear in the description and the sample points.
FAZOLT_API BuiltSystem buildSystem(std::string_view descriptionJson,
                                   HostFunctionNames names = HostFunctionNames::mustExist);

/// The description with its "numSamples" set to numSamples (any other key
/// as it was), for a resolution chosen when the system is loaded. Throws
/// "fazolt:samples:RawRecord" for a raw record, whose sample points are part
/// of it, and "fazolt:samples:Invalid" for text that is not a JSON object;
/// the count itself is checked when the description is built.
FAZOLT_API std::string descriptionWithSamples(std::string_view descriptionJson, int64_t numSamples);

/// The diagnostics options argument: modes 2 warn, 3 raise an error, any
/// other value reports nothing.
FAZOLT_API orvane::Value makeDiagnostics(uint8_t outOfRange, uint8_t noRuleFired, uint8_t emptySet,
                                         std::string_view model, std::string_view block = {},
                                         uint8_t draxilDiagnostic = 0);

/// The names of the 25 fields of the record, in order.
FAZOLT_API const std::vector<std::string> &systemRecordFieldNames();

}  // namespace fazolt

#endif
