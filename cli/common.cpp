#include "cli/commands.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>
#include <unistd.h>

std::string defaultModulePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    std::string exe = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("./fazolt");
    std::string::size_type slash = exe.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
    return dir + "/libfazolt.so";
}

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
