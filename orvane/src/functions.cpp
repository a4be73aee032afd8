// Host functions by name: the process-wide registry, calls from C++ and the
// module's call by name with its argument and result ownership.
#include "builtins.h"
#include "internal.h"

#include <map>
#include <shared_mutex>

namespace orvane {

// Stands in until the built-in functions are linked in.
__attribute__((weak)) void registerBuiltinFunctions() {}
__attribute__((weak)) std::vector<std::string> builtinFunctionNames() { return {}; }

namespace {

// Read by every call by name, changed rarely: readers do not wait for each
// other.
std::shared_mutex registryMutex;
std::map<std::string, HostFunction> &registry() {
    static std::map<std::string, HostFunction> functions;
    return functions;
}

// Registering a name first loads the built-ins, so that a later lazy load
// cannot replace the caller's function; the built-ins' own registrations
// must not wait for themselves.
thread_local bool registeringBuiltins = false;

void ensureBuiltins() {
    if (registeringBuiltins) return;
    static std::once_flag once;
    std::call_once(once, [] {
        registeringBuiltins = true;
        try {
            registerBuiltinFunctions();
        } catch (...) {
            registeringBuiltins = false;
            throw;
        }
        registeringBuiltins = false;
    });
}

std::string locationText(const zorbCallLocation *location) {
    if (location == nullptr) return "";
    std::string text = " (in ";
    text += location->fName != nullptr ? location->fName : "?";
    text += ", line " + std::to_string(location->lineNo) + ", column " + std::to_string(location->colNo) + ")";
    return text;
}

}  // namespace

void registerFunction(const std::string &name, HostFunction function) {
    ensureBuiltins();
    std::unique_lock<std::shared_mutex> lock(registryMutex);
    registry()[name] = std::move(function);
}

void unregisterFunction(const std::string &name) {
    ensureBuiltins();
    std::unique_lock<std::shared_mutex> lock(registryMutex);
    registry().erase(name);
}

bool hasFunction(const std::string &name) {
    ensureBuiltins();
    std::shared_lock<std::shared_mutex> lock(registryMutex);
    return registry().count(name) != 0;
}

std::vector<Value> callFunction(const std::string &name, int numResults, const std::vector<Value> &arguments) {
    ensureBuiltins();
    HostFunction function;
    {
        // Copied out, so the function may itself register or call others.
        std::shared_lock<std::shared_mutex> lock(registryMutex);
        auto it = registry().find(name);
        if (it != registry().end()) function = it->second;
    }
    if (!function) raise("Orvane:UndefinedFunction", "Undefined function '" + name + "'.");
    std::vector<Value> results;
    // Named here, where the function's own name is known ("feval" reaches
    // it by name); the releases run in raise before anything unwinds further.
    try {
        function(numResults, results, arguments);
    } catch (const HostError &) {
        throw;
    } catch (const std::exception &e) {
        raise("Orvane:InternalError", "'" + name + "' failed: " + e.what());
    } catch (...) {
        raise("Orvane:InternalError", "'" + name + "' failed: it threw something other than a std::exception");
    }
    int given = 0;
    while (given < static_cast<int>(results.size()) && results[static_cast<size_t>(given)]) ++given;
    if (numResults >= 1 && given < numResults) {
        raise("Orvane:TooFewResults", "'" + name + "' gave " + std::to_string(given) + " of the " +
                                          std::to_string(numResults) + " results asked for.");
    }
    results.resize(static_cast<size_t>(numResults > 0 ? numResults : 0));
    return results;
}

}  // namespace orvane

extern "C" void zorbCallOrvane(zorbTLS *, int32_t numResults, zorbArray **results, int32_t numArguments,
                               zorbArray **arguments, const char *functionName, bool argumentsAreConsumed,
                               const zorbCallLocation *location) {
    using namespace orvane;
    auto dropConsumed = [&] {
        if (!argumentsAreConsumed) return;
        for (int32_t k = 0; k < numArguments; ++k) zorbDestroyArray(&arguments[k]);
    };
    // Host-call fault switch: counted before anything else, raised inside the
    // try so that consumed arguments are still dropped.
    const HostFault fault = detail::countHostCall();
    std::vector<Value> out;
    try {
        detail::raiseIfInjected(fault, std::string("call of '") + (functionName != nullptr ? functionName : "?") + "'");
        if (functionName == nullptr) raise("Orvane:UndefinedFunction", "A function was called without a name.");
        std::vector<Value> args;
        for (int32_t k = 0; k < numArguments; ++k) {
            if (arguments[k] == nullptr) {
                raise("Orvane:MissingArgument",
                      "Argument " + std::to_string(k + 1) + " of '" + functionName + "' is missing.");
            }
            args.emplace_back(detail::addReference(arguments[k], true));
        }
        out = callFunction(functionName, numResults, args);
    } catch (const HostError &e) {
        // The function's own references to the arguments are gone by now;
        // the consumed ones go before the error leaves the call.
        dropConsumed();
        detail::runReleases(detail::activeState());
        throw HostError(e.identifier(), e.message() + locationText(location));
    } catch (const std::exception &e) {
        dropConsumed();
        raise("Orvane:InternalError", std::string("'") + (functionName != nullptr ? functionName : "?") +
                                          "' failed: " + e.what() + locationText(location));
    } catch (...) {
        // Anything else thrown must not unwind the module's frames before
        // the releases have run on them.
        dropConsumed();
        raise("Orvane:InternalError", std::string("'") + (functionName != nullptr ? functionName : "?") +
                                          "' failed: it threw something other than a std::exception" +
                                          locationText(location));
    }
    dropConsumed();
    if (numResults >= 1) out[0] = Value(detail::injectWrongResult(fault, out[0].release()));  // fault switch
    for (int32_t k = 0; k < numResults; ++k) results[k] = out[static_cast<size_t>(k)].release();
}
