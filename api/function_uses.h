// Which host function names a system uses, in which role and where: read
// from the system record when it is loaded, and made the current uses of
// the thread while the system is evaluated, so that the checks of
// fazolt/function_results.h know what a result is for.
#ifndef FAZOLT_API_FUNCTION_USES_H
#define FAZOLT_API_FUNCTION_USES_H

#include "fazolt/fazolt.h"

#include <orvane/host.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fazolt {

enum class FunctionRole { membership, connective, implication, aggregation, defuzzification };

struct FunctionUse {
    FunctionRole role;
    std::string user;            // `andMethod`, `membership function of input "x" term "low"`
    std::vector<double> params;  // a membership function's parameters, which tell its terms apart
};

struct FunctionUses {
    std::map<std::string, std::vector<FunctionUse>> byName;
};

// The uses of every method and membership function name in the record
// (built-in names too: they never reach a host function). Variables and
// terms are named from the lists when given, by number otherwise. A record
// of the wrong form gives what could be read: the module refuses it anyway.
std::shared_ptr<const FunctionUses> functionUsesOf(const orvane::Value &record,
                                                   const std::vector<std::string> &inputNames,
                                                   const std::vector<std::string> &outputNames,
                                                   const std::vector<std::vector<std::string>> &inputTermNames,
                                                   const std::vector<std::vector<std::string>> &outputTermNames);

// Makes `uses` those of the system being evaluated on this thread, for its
// lifetime.
class EvaluatingSystem {
public:
    explicit EvaluatingSystem(const FunctionUses *uses);
    ~EvaluatingSystem();
    EvaluatingSystem(const EvaluatingSystem &) = delete;
    EvaluatingSystem &operator=(const EvaluatingSystem &) = delete;

private:
    const FunctionUses *previous_;
};

// Module calls in progress on this thread (System::call), for the depth
// limit; a batch evaluated from inside one is not split across threads again,
// so that a cycle cannot leave the limit behind on fresh threads.
int numNestedCalls();

// The error mode that is no Report value, named by `field`; nothing when
// `mode` is one.
std::optional<orvane::HostError> badReport(Report mode, const char *field);

// The row of `inputs` (a double matrix) at which the module call of the
// rows from the first raises; nothing when the call of no rows raises too
// (not a row's error) or the rows do not raise alone.
std::optional<int64_t> rowRaising(const System &system, const orvane::Value &inputs,
                                  const orvane::Value &diagnostics);

}  // namespace fazolt

#endif
