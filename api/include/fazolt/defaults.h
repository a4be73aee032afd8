/// @file
/// The defaults that the API, the formats, the tool and the Python package
/// share, each written once here.
#ifndef FAZOLT_API_DEFAULTS_H
#define FAZOLT_API_DEFAULTS_H

#include <algorithm>
#include <cstdint>
#include <thread>

namespace fazolt::defaults {

/// Sample points of each Mamdani output when a description does not say
/// ("numSamples"), and the count a file in another language implies.
inline constexpr int64_t kNumSamples = 101;

/// Warnings of one identifier given in full, per evaluation; the rest are
/// counted.
inline constexpr int64_t kWarningsPerIdentifier = 20;

/// The methods of a system type, by role.
struct Methods {
    const char *andMethod;     ///< AND
    const char *orMethod;      ///< OR
    const char *impMethod;     ///< implication
    const char *aggMethod;     ///< aggregation
    const char *defuzzMethod;  ///< defuzzification
};
/// What a Mamdani description leaves out.
inline constexpr Methods kMamdaniMethods = {"min", "max", "min", "max", "centroid"};
/// What a Sugeno description leaves out.
inline constexpr Methods kSugenoMethods = {"prod", "probor", "prod", "sum", "wtaver"};

/// The threads a `threads` setting asks for: 0 means one per core.
inline int64_t threadsFor(int64_t threads) {
    return threads != 0 ? threads : std::max<int64_t>(1, std::thread::hardware_concurrency());
}

}  // namespace fazolt::defaults

#endif
