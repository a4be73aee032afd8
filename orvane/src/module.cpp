// Loading a module and calling it, and the call boundary that tests and
// embedders use to run module stages directly. Both boundaries catch the
// host error, destroy the call's temporaries and report what leaked.
#include "internal.h"

#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <map>

namespace orvane {
namespace {

using EntryFunction = void (*)(int32_t, zorbArray **, int32_t, const zorbArray **);
using VersionFunction = void (*)(uint32_t *, uint32_t *);
using PropertiesFunction = zorbArray *(*)();
using AtExitFunction = void (*)();

// What the stand-in knows about each loaded module beyond the public record,
// keyed by its library handle. Every load of one library gets the same
// handle, so the facts are shared: read once (the properties are a whole
// JSON document to parse, most of the time of loading a small system), and
// the at-exit function runs when the last Module of the library goes.
struct ModuleFacts {
    AtExitFunction atExit = nullptr;
    int64_t maxResults = -1;
    int64_t loads = 0;  // live Modules with this handle
};
std::mutex factsMutex;
std::map<void *, ModuleFacts> &moduleFacts() {
    static std::map<void *, ModuleFacts> facts;
    return facts;
}

// The at-exit function registered by the module running on this thread.
thread_local AtExitFunction pendingAtExit = nullptr;

zorbContext boundaryContext = {true,    false, ZORB_RELEASE_CODE, nullptr, "runInCall",
                               nullptr, false, {0, 0, 0, 0},      nullptr};

HostError internalError(const char *what) {
    return HostError("Orvane:module:InternalError", std::string("The call failed with a C++ exception: ") + what);
}

// Runs body inside a boundary with the warning log of its own; fills error,
// warnings and leakedValues. afterSuccess runs before the leak count, so it
// can hand result references to the caller.
template <typename Body, typename AfterSuccess>
void runBoundary(Body &&body, AfterSuccess &&afterSuccess, std::optional<HostError> &error,
                 std::vector<Warning> &warnings, int64_t &leakedValues) {
    std::vector<Warning> outerWarnings = std::move(detail::warningLog());
    detail::warningLog().clear();
    {
        detail::Boundary boundary;
        try {
            body();
        } catch (const HostError &e) {
            error = e;
        } catch (const std::exception &e) {
            error = internalError(e.what());
        } catch (...) {
            error = internalError("unknown exception");
        }
        if (!error) {
            size_t left = boundary.dropLeftoverRegistrations();
            if (left > 0) {
                error = HostError("Orvane:module:UnbalancedHeapReferenceStack",
                                  std::to_string(left) +
                                      " heap-reference registrations were still on the stack when the call "
                                      "returned; they were dropped without being called.");
            }
        }
        if (error) {
            boundary.unwind();
        } else {
            afterSuccess(boundary);
            leakedValues = boundary.collectLeaks();
        }
    }
    warnings = std::move(detail::warningLog());
    detail::warningLog() = std::move(outerWarnings);
}

}  // namespace

BoundaryOutcome runInCall(const std::function<void(zorbTLS *tls)> &fn) {
    BoundaryOutcome outcome;
    runBoundary(
        [&] {
            zorbTLS *tls = nullptr;
            zorbCreateRootTLS(&tls, &boundaryContext, nullptr, 1);
            fn(tls);
            zorbDestroyRootTLS(&tls);
        },
        [](detail::Boundary &) {}, outcome.error, outcome.warnings, outcome.leakedValues);
    return outcome;
}

std::shared_ptr<Module> Module::load(const std::string &path) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        raise("Orvane:module:LoadFailed",
              "Cannot load '" + path + "': " + (reason != nullptr ? reason : "unknown reason"));
    }
    auto fail = [&](const std::string &identifier, const std::string &message) {
        dlclose(handle);
        raise(identifier, message);
    };
    void *entry = dlsym(handle, "qibFunction");
    if (entry == nullptr) fail("Orvane:module:NoEntryPoint", "'" + path + "' does not export qibFunction.");
    auto version = reinterpret_cast<VersionFunction>(dlsym(handle, "qibfilerequiredapiversion"));
    if (version == nullptr) {
        fail("Orvane:module:VersionMismatch", "'" + path + "' does not export qibfilerequiredapiversion.");
    }
    uint32_t release = 0;
    uint32_t interfaceVersion = 0;
    version(&release, &interfaceVersion);
    if (release != ZORB_RELEASE_CODE || interfaceVersion != ZORB_MODULE_INTERFACE_VERSION) {
        fail("Orvane:module:VersionMismatch",
             "'" + path + "' was built for host release " + std::to_string(release) + " and interface " +
                 std::to_string(interfaceVersion) + "; this host is release " + std::to_string(ZORB_RELEASE_CODE) +
                 " with interface " + std::to_string(ZORB_MODULE_INTERFACE_VERSION) + ".");
    }
    std::shared_ptr<Module> module(new Module());
    module->path_ = path;
    module->handle_ = handle;
    module->entry_ = entry;
    module->properties_ = dlsym(handle, "zorbQibFcnProperties");
    {
        std::lock_guard<std::mutex> lock(factsMutex);
        auto known = moduleFacts().find(handle);
        if (known != moduleFacts().end()) {
            ++known->second.loads;
            module->counted_ = true;
            return module;
        }
    }

    // The result limit, for the host's message when a call asks for more;
    // a module whose properties cannot be read just gets a plainer message.
    // Read outside the lock: it runs the module's code.
    ModuleFacts facts;
    try {
        Value properties = module->properties();
        Value count = properties.field(0, "EntryPoints").field(0, "NumberOfOutputs");
        if (count && count.classId() == ZORB_DOUBLE_CLASS && count.numel() == 1) {
            double n = count.toDoubles()[0];
            if (n >= 0 && n <= 1e9 && n == std::floor(n)) facts.maxResults = static_cast<int64_t>(n);
        }
    } catch (const HostError &) {
    }
    std::lock_guard<std::mutex> lock(factsMutex);
    // Another thread may have loaded the library meanwhile: its facts stand.
    ++moduleFacts().try_emplace(handle, facts).first->second.loads;
    module->counted_ = true;
    return module;
}

Module::~Module() {
    AtExitFunction atExit = nullptr;
    {
        std::lock_guard<std::mutex> lock(factsMutex);
        auto it = moduleFacts().find(handle_);
        if (counted_ && it != moduleFacts().end() && --it->second.loads == 0) {
            atExit = it->second.atExit;
            moduleFacts().erase(it);
        }
    }
    if (atExit != nullptr) {
        std::optional<HostError> error;
        std::vector<Warning> warnings;
        int64_t leaked = 0;
        runBoundary([&] { atExit(); }, [](detail::Boundary &) {}, error, warnings, leaked);
    }
    if (handle_ != nullptr) dlclose(handle_);
}

CallOutcome Module::call(int numResults, const std::vector<Value> &arguments) {
    CallOutcome outcome;
    int64_t maxResults = -1;
    {
        std::lock_guard<std::mutex> factsLock(factsMutex);
        maxResults = moduleFacts()[handle_].maxResults;
    }
    int64_t outerMaxResults = detail::currentMaxResults();
    detail::setCurrentMaxResults(maxResults);
    AtExitFunction outerAtExit = pendingAtExit;
    pendingAtExit = nullptr;

    std::vector<zorbArray *> slots(static_cast<size_t>(numResults > 1 ? numResults : 1), nullptr);
    std::vector<const zorbArray *> args;
    for (const Value &a : arguments) args.push_back(a.get());
    runBoundary(
        [&] {
            if (numResults < 0)
                raise("Orvane:module:BadResultCount", "A call cannot ask for a negative number of results.");
            auto entry = reinterpret_cast<EntryFunction>(entry_);
            entry(numResults, slots.data(), static_cast<int32_t>(args.size()), args.data());
        },
        [&](detail::Boundary &boundary) {
            for (zorbArray *&slot : slots) {
                if (slot == nullptr) continue;
                boundary.handOver(slot);
                outcome.results.emplace_back(slot);
                slot = nullptr;
            }
        },
        outcome.error, outcome.warnings, outcome.leakedValues);

    if (pendingAtExit != nullptr) {
        std::lock_guard<std::mutex> factsLock(factsMutex);
        moduleFacts()[handle_].atExit = pendingAtExit;
    }
    pendingAtExit = outerAtExit;
    detail::setCurrentMaxResults(outerMaxResults);
    return outcome;
}

Value Module::properties() {
    if (properties_ == nullptr) return Value();
    Value result;
    std::optional<HostError> error;
    std::vector<Warning> warnings;
    int64_t leaked = 0;
    zorbArray *made = nullptr;
    runBoundary([&] { made = reinterpret_cast<PropertiesFunction>(properties_)(); },
                [&](detail::Boundary &boundary) {
                    boundary.handOver(made);
                    result = Value(made);
                },
                error, warnings, leaked);
    if (error) throw *error;
    return result;
}

}  // namespace orvane

extern "C" {

void qibAtExit(void (*function)(void)) { orvane::pendingAtExit = function; }

double quvGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }

}  // extern "C"
