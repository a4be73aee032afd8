// Where a warning goes in one call's order: the inputs' (0), the module's
// (1), the outputs' (2). The row checks and the evaluation into the
// caller's buffer both put a split call's warnings in this order.
// Internal to the API library.
#ifndef FAZOLT_API_WARNING_PLACE_H
#define FAZOLT_API_WARNING_PLACE_H

#include "fazolt/error_ids.h"

#include <string>

namespace fazolt {

inline int warningPlace(const std::string &identifier) {
    if (identifier == ids::inputsNaN) return 0;
    return identifier == ids::outputsNonFinite ? 2 : 1;
}

}  // namespace fazolt

#endif
