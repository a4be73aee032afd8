// Where the API hands an error to its caller, a host error becomes a
// fazolt::Error. A public function does it with a function-try-block:
//
//   std::string f(...) try { ... } catch (const orvane::HostError &e) { rethrowAsError(e); }
#ifndef FAZOLT_API_ERROR_BOUNDARY_H
#define FAZOLT_API_ERROR_BOUNDARY_H

#include "fazolt/error.h"

namespace fazolt {

// Rethrows the exception being handled, `error`, as a fazolt::Error (itself
// when it is one). Call only from a handler.
[[noreturn]] void rethrowAsError(const orvane::HostError &error);

// Strips the places in the module where an error left host calls (" (in
// NAME, line N, column M)", one per nested call) off the end of `message`;
// returns them innermost first, "; " apart.
std::string takeModuleLocations(std::string &message);

// The row that a message of the API starts with ("row 3: ..."), if any.
std::optional<int64_t> rowNamed(const std::string &message);

}  // namespace fazolt

#endif
