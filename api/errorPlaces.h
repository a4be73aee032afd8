// The places that the module and the API write into a message, read back
// where the API hands the message on. Internal to the API library.
#ifndef FAZOLT_API_ERROR_PLACES_H
#define FAZOLT_API_ERROR_PLACES_H

#include <cstdint>
#include <optional>
#include <string>

namespace fazolt {

// Strips the places in the module where an error left host calls (" (in
// NAME, line N, column M)", one per nested call) off the end of `message`;
// returns them innermost first, "; " apart.
std::string takeModuleLocations(std::string &message);

// The row that a message of the API starts with ("row 3: ..."), if any.
std::optional<int64_t> rowNamed(const std::string &message);

}  // namespace fazolt

#endif
