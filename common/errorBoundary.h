// Where the library hands an error to its caller, a host error becomes a
// fazolt::Error. A public function does it with a function-try-block:
//
//   std::string f(...) try { ... } catch (const orvane::HostError &e) { rethrowAsError(e); }
//
// Shared by the API, the formats and the bridges; it needs only the public
// error type.
#ifndef FAZOLT_COMMON_ERROR_BOUNDARY_H
#define FAZOLT_COMMON_ERROR_BOUNDARY_H

#include "fazolt/error.h"

namespace fazolt {

// Rethrows the exception being handled, `error`, as a fazolt::Error (itself
// when it is one). Call only from a handler.
[[noreturn]] inline void rethrowAsError(const orvane::HostError &error) {
    if (dynamic_cast<const Error *>(&error) != nullptr) throw;
    throw Error(error);
}

}  // namespace fazolt

#endif
