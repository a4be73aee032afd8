/// @file
/// Checks of what a host function written in another language (Lua, Python)
/// returns, by the role that the system being evaluated gives its name:
///   - a membership function: degrees from 0 to 1, in the extents of its points;
///   - an AND or OR method: one degree from 0 to 1;
///   - an implication or aggregation method: one degree from 0 to 1 per
///     sample point;
///   - a defuzzification method: one finite number.
/// NaN (and, from a defuzzification method, Inf) passes only when an argument
/// holds NaN or Inf: the function then passes on what it was given.
/// C++ host functions are not checked: their results are the caller's.
#ifndef FAZOLT_API_FUNCTION_RESULTS_H
#define FAZOLT_API_FUNCTION_RESULTS_H

#include <fazolt/export.h>
#include <orvane/host.h>

#include <string>
#include <vector>

namespace fazolt {

/// What is wrong with `result` of host function `name` called with
/// `arguments`, during an evaluation through System::call or
/// System::evaluate on this thread: the term or method that uses the
/// function, then the fault, e.g. `membership function of input "x" term
/// "low": element 2 of 3 is 1.5, a degree is a number from 0 to 1`. Empty
/// when nothing is wrong, or when no system being evaluated names the
/// function (a direct call). Raises nothing.
FAZOLT_API std::string functionResultProblem(const std::string &name, const std::vector<orvane::Value> &arguments,
                                             const orvane::Value &result);

}  // namespace fazolt

#endif
