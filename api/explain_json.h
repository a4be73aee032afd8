// Explanations and systems as JSON for the tool (explain --format json and
// the view page). Internal: not part of the installed API; built into the
// tool from api/explain_json.cpp, not into libfazolt_api.
#ifndef FAZOLT_API_EXPLAIN_JSON_H
#define FAZOLT_API_EXPLAIN_JSON_H

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
