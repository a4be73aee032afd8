// fazolt::Error, and turning host errors into it where the API hands them
// to its caller.
#include "fazolt/error.h"

#include "errorPlaces.h"

#include <cctype>

namespace fazolt {
namespace {

// Digits at text[from..] up to `end`, as a number; nullopt if there are none
// or anything else.
std::optional<int64_t> numberAt(const std::string &text, size_t from, size_t end) {
    if (end <= from || end - from > 15) return std::nullopt;
    int64_t n = 0;
    for (size_t k = from; k < end; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return std::nullopt;
        n = n * 10 + (text[k] - '0');
    }
    return n;
}

bool startsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

// The place the messages of the API start with: "row 3: ", "file:12: ", or
// for a description error its JSON path ("inputs[1].mf[0].params: ").
Where whereOf(const std::string &id, const std::string &message) {
    Where where;
    size_t colon = message.find(": ");
    if (colon == std::string::npos) return where;
    if (startsWith(message, "row ")) {
        where.row = numberAt(message, 4, colon);
        return where;
    }
    if (startsWith(id, "fazolt:description:")) {
        if (message.find(' ') > colon && colon > 0) where.path = message.substr(0, colon);
        return where;
    }
    size_t lineColon = message.rfind(':', colon - 1);
    if (lineColon != std::string::npos && lineColon > 0) {
        std::optional<int64_t> line = numberAt(message, lineColon + 1, colon);
        if (line) {
            where.file = message.substr(0, lineColon);
            where.line = line;
        }
    }
    return where;
}

}  // namespace

std::string takeModuleLocations(std::string &message) {
    std::string locations;
    while (!message.empty() && message.back() == ')') {
        size_t open = message.rfind(" (in ");
        if (open == std::string::npos) break;
        std::string inside = message.substr(open + 2, message.size() - open - 3);  // "in NAME, line N, column M"
        size_t line = inside.rfind(", line ");
        size_t column = line == std::string::npos ? line : inside.find(", column ", line);
        if (column == std::string::npos || !numberAt(inside, line + 7, column) ||
            !numberAt(inside, column + 9, inside.size()))
            break;
        locations = locations.empty() ? inside : inside + "; " + locations;
        message.resize(open);
    }
    return locations;
}

std::optional<int64_t> rowNamed(const std::string &message) {
    return startsWith(message, "row ") ? numberAt(message, 4, message.find(": ")) : std::nullopt;
}

Error::Error(std::string id, std::string message, Where where, std::string moduleLocation)
    : orvane::HostError(std::move(id), std::move(message)),
      where_(std::move(where)),
      moduleLocation_(std::move(moduleLocation)),
      what_(identifier() + ": " + this->message()) {}

namespace {

// A host error as the API hands it on: the locations the host appended
// moved out of the message; an Error keeps its place and adds to its own.
Error asError(const orvane::HostError &error) {
    std::string message = error.message();
    std::string locations = takeModuleLocations(message);
    const auto *own = dynamic_cast<const Error *>(&error);
    if (own == nullptr) {
        Where where = whereOf(error.identifier(), message);
        return Error(error.identifier(), std::move(message), std::move(where), std::move(locations));
    }
    if (!own->moduleLocation().empty())
        locations = locations.empty() ? own->moduleLocation() : own->moduleLocation() + "; " + locations;
    return Error(error.identifier(), std::move(message), own->where(), std::move(locations));
}

}  // namespace

Error::Error(const orvane::HostError &error) : Error(asError(error)) {}

const char *Error::what() const noexcept { return what_.c_str(); }

}  // namespace fazolt
