// Errors a module raises by identifier with typed message arguments; the
// host composes the text.
#include "internal.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

namespace orvane::detail {
namespace {

thread_local int64_t maxResultsOfCurrentModule = -1;

struct MessageArgument {
    bool isText;
    std::string text;  // the argument as text, whatever its class
};

// "WrongNumberOfInputs" -> "Wrong number of inputs".
std::string sentenceFromIdentifier(const std::string &identifier) {
    std::string last = identifier.substr(identifier.rfind(':') == std::string::npos ? 0 : identifier.rfind(':') + 1);
    std::string text;
    for (size_t k = 0; k < last.size(); ++k) {
        char c = last[k];
        if (std::isupper(static_cast<unsigned char>(c)) && k > 0) {
            text += ' ';
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        text += c;
    }
    return text.empty() ? std::string("Error") : text;
}

std::string composeMessage(const std::string &identifier, const std::vector<MessageArgument> &args) {
    auto firstText = [&]() -> std::string {
        for (const auto &a : args) {
            if (a.isText) return a.text;
        }
        return "The function";
    };
    auto firstNumber = [&]() -> std::string {
        for (const auto &a : args) {
            if (!a.isText) return a.text;
        }
        return "";
    };
    if (identifier == "ZORB:runTime:WrongNumberOfInputs" && !firstNumber().empty()) {
        std::string n = firstNumber();
        return firstText() + " expects " + n + (n == "1" ? " input argument." : " input arguments.");
    }
    if (identifier == "ZORB:runTime:TooManyOutputArguments") {
        int64_t most = maxResultsOfCurrentModule;
        if (most < 0) return firstText() + " was asked for more results than it returns.";
        return firstText() + " returns at most " + std::to_string(most) + (most == 1 ? " result." : " results.");
    }
    std::string text = sentenceFromIdentifier(identifier);
    if (!args.empty()) {
        text += " (";
        for (size_t k = 0; k < args.size(); ++k) text += (k > 0 ? ", " : "") + args[k].text;
        text += ")";
    }
    return text + ".";
}

}  // namespace

void setCurrentMaxResults(int64_t maxResults) { maxResultsOfCurrentModule = maxResults; }
int64_t currentMaxResults() { return maxResultsOfCurrentModule; }

}  // namespace orvane::detail

extern "C" void zorbErrMsgIdAndTxt(zorbTLS *, const char *identifier, int32_t numArguments, ...) {
    using orvane::detail::MessageArgument;
    std::vector<MessageArgument> args;
    va_list list;
    va_start(list, numArguments);
    int32_t used = 0;
    while (used < numArguments) {
        int classCode = va_arg(list, int);
        ++used;
        if (classCode == ZORB_INT32_CLASS && used < numArguments) {
            args.push_back({false, std::to_string(va_arg(list, int))});
            used += 1;
        } else if (classCode == ZORB_DOUBLE_CLASS && used < numArguments) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", va_arg(list, double));
            args.push_back({false, buffer});
            used += 1;
        } else if (classCode == ZORB_CHAR_CLASS && used + 1 < numArguments) {
            int length = va_arg(list, int);
            const char *text = va_arg(list, const char *);
            used += 2;
            if (text == nullptr) {
                args.push_back({true, "(null)"});
            } else if (length < 0) {
                args.push_back({true, text});
            } else {
                args.push_back({true, std::string(text, strnlen(text, static_cast<size_t>(length)))});
            }
        } else {
            // The layout of what follows is unknown: stop reading.
            args.push_back({true, "..."});
            break;
        }
    }
    va_end(list);
    std::string id = identifier != nullptr ? identifier : "ZORB:runTime:Error";
    orvane::raise(id, orvane::detail::composeMessage(id, args));
}
