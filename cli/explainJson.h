// Explanations and systems as JSON for the tool (explain --format json and
// the view page): the tool's own, not part of the library's API.
#ifndef FAZOLT_CLI_EXPLAIN_JSON_H
#define FAZOLT_CLI_EXPLAIN_JSON_H

#include <fazolt/explain.h>

#include <string>
#include <vector>

namespace fazolt {

// JSON for programs and the browser page. Numbers in the shortest text that
// reads back to the same bits; NaN and infinities as "NaN", "Inf", "-Inf".
std::string systemInfoToJson(const SystemInfo &info, const std::vector<std::vector<std::vector<double>>> &inputCurves,
                             const std::vector<std::vector<double>> &inputCurvePoints,
                             const std::vector<std::vector<std::vector<double>>> &outputCurves);
std::string explanationToJson(const SystemInfo &info, const Explanation &e, bool withImpliedSets);
std::string jsonNumber(double v);

}  // namespace fazolt

#endif
