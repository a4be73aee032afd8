// What loading a system takes from the readers of other languages
// (formats/): declared here, where the API needs it, and defined by the
// readers, so that the API includes nothing of theirs while they build on
// its description builder. Internal to the API library: not installed.
#ifndef FAZOLT_API_LANGUAGES_H
#define FAZOLT_API_LANGUAGES_H

#include <optional>
#include <string>
#include <string_view>

namespace fazolt::languages {

// The nested description (JSON text) of a system file written in another
// language, chosen by the path's extension; nullopt for a JSON file.
std::optional<std::string> descriptionOfFile(std::string_view text, const std::string &path);

// Registers the host functions that serve those languages' operators, under
// the names that are still free (once per process).
void registerFunctions();

}  // namespace fazolt::languages

#endif
