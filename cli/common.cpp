#include "cli/commands.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include <fazolt/fazolt.h>
#include <nlohmann/json.hpp>

// Beside the API library the tool runs with: the build folder, or the
// library directory of whatever prefix the tool was installed into.
std::string defaultModulePath() { return fazolt::defaultModulePath(); }

std::string readTextFile(const std::string &path) {
    std::ostringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw orvane::HostError("fazolt:io:CannotOpen", "cannot open '" + path + "'");
    text << in.rdbuf();
    return text.str();
}

std::string jsonString(const std::string &text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string warningToJson(const orvane::Warning &w) {
    std::string out = "{\"identifier\": " + jsonString(w.identifier) + ", \"message\": " + jsonString(w.message) +
                      ", \"arguments\": [";
    for (size_t k = 0; k < w.arguments.size(); ++k) {
        if (k > 0) out += ", ";
        out += orvane::toJson(w.arguments[k]);
    }
    return out + "]}";
}
