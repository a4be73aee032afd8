// Lua host functions: the sandboxed state of each script, the budgets, and
// the conversion of host values to tables and back.
//
// No C++ exception may cross a Lua frame (Lua unwinds by longjmp): every
// Lua operation that can raise runs inside lua_pcall, and host errors are
// raised only after it has returned.
#include "fazolt/lua.h"
#include "common/errorBoundary.h"

#include "fazolt/fazolt.h"
#include "fazolt/function_results.h"

#include <lua.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace fazolt {
namespace {

constexpr int HOOK_STEP = 1000;  // instructions between two budget checks

struct Script {
    std::string path;
    LuaLimits limits;
    lua_State *state = nullptr;
    int64_t usedBytes = 0;
    bool isOverMemory = false;
    int64_t instructionsLeft = 0;
    bool isOverInstructions = false;
    char instructionLimitMessage[512] = "";  // where the limit was reached: later errors are its echoes
    // A Lua state runs one call at a time: threads evaluating at once take
    // turns in each script (and only there).
    std::mutex inUse;

    Script() = default;
    Script(const Script &) = delete;
    Script &operator=(const Script &) = delete;
    // A script that failed to register, or every script at process exit.
    ~Script() {
        if (state != nullptr) lua_close(state);
    }
};

// Every state lives until the process ends: its functions stay registered.
// Closed by the static's destructor, after which no host call reaches them.
std::vector<std::unique_ptr<Script>> &scripts() {
    static std::vector<std::unique_ptr<Script>> all;
    return all;
}

void countInstructions(lua_State *L, lua_Debug *);

// Once a budget is spent, the hook runs before every instruction and raises
// again, so that a pcall in the script cannot carry on past the limit; the
// next call starts afresh.
void raiseOnEveryInstruction(lua_State *L) { lua_sethook(L, countInstructions, LUA_MASKCOUNT, 1); }

void *budgetedAlloc(void *ud, void *block, size_t oldSize, size_t newSize) {
    auto *script = static_cast<Script *>(ud);
    int64_t oldBytes = block == nullptr ? 0 : static_cast<int64_t>(oldSize);
    if (newSize == 0) {
        std::free(block);
        script->usedBytes -= oldBytes;
        return nullptr;
    }
    int64_t grown = script->usedBytes - oldBytes + static_cast<int64_t>(newSize);
    bool isGrowing = static_cast<int64_t>(newSize) > oldBytes;
    if (isGrowing && (script->isOverMemory || grown > script->limits.memoryBytes)) {
        script->isOverMemory = true;
        if (script->state != nullptr) raiseOnEveryInstruction(script->state);
        return nullptr;  // Lua raises its memory error
    }
    void *moved = std::realloc(block, newSize);
    if (moved != nullptr) script->usedBytes = grown;
    return moved;
}

Script *scriptOf(lua_State *L) {
    Script *script = nullptr;
    lua_getallocf(L, reinterpret_cast<void **>(&script));
    return script;
}

// Spends the instruction budget. The message names the line of the Lua
// function at `level` of the stack, where the loop is.
void reachInstructionLimit(lua_State *L, Script *script, int level) {
    script->isOverInstructions = true;
    lua_Debug where;
    char line[32] = "";
    if (lua_getstack(L, level, &where) != 0 && lua_getinfo(L, "Sl", &where) != 0 && where.currentline > 0) {
        std::snprintf(line, sizeof line, ":%d: ", where.currentline);
    }
    std::snprintf(script->instructionLimitMessage, sizeof script->instructionLimitMessage,
                  "%s%sinstruction limit of %lld exceeded", line[0] != '\0' ? where.short_src : "", line,
                  static_cast<long long>(script->limits.instructionsPerCall));
    raiseOnEveryInstruction(L);
}

// Raises without allocating: the memory budget may be the one that is spent.
int raiseSpentBudget(lua_State *L) {
    lua_pushboolean(L, 0);
    return lua_error(L);
}

void countInstructions(lua_State *L, lua_Debug *) {
    Script *script = scriptOf(L);
    if (!script->isOverInstructions && !script->isOverMemory) {
        script->instructionsLeft -= HOOK_STEP;
        if (script->instructionsLeft >= 0) return;
        reachInstructionLimit(L, script, 0);  // level 0: the Lua function running
    }
    raiseSpentBudget(L);
}

// ---- Loops in C. A few library functions loop in C as long as their
// arguments say, where the instruction count never looks (string.rep of an
// empty string 10^15 times, table.move over 10^15 indices, table.insert at
// 1 into a table whose __len says 10^15): each call is charged its loop's
// length as instructions before it runs.

enum class CLoop { repeat, move, insert, remove, concat, sort };

void chargeInstructions(lua_State *L, double count) {
    Script *script = scriptOf(L);
    if (!script->isOverInstructions && count <= static_cast<double>(script->instructionsLeft)) {
        script->instructionsLeft -= static_cast<int64_t>(count);
        return;
    }
    if (!script->isOverInstructions) reachInstructionLimit(L, script, 1);  // level 1: the Lua caller
    raiseSpentBudget(L);
}

double integerArgument(lua_State *L, int index, double otherwise) {
    int isInteger = 0;
    lua_Integer n = lua_tointegerx(L, index, &isInteger);
    return isInteger != 0 ? static_cast<double>(n) : otherwise;
}

double tableLength(lua_State *L, int index) {
    return lua_type(L, index) == LUA_TTABLE ? static_cast<double>(luaL_len(L, index)) : 0.0;
}

// Upvalues: the library's function, the CLoop of its arguments. Arguments
// that the function refuses are charged nothing; it raises its own error.
int chargedLoop(lua_State *L) {
    double count = 0.0;
    switch (static_cast<CLoop>(lua_tointeger(L, lua_upvalueindex(2)))) {
        case CLoop::repeat: {
            // A result with characters is bounded by the memory budget; an
            // empty one by nothing.
            auto isEmptyText = [L](int index) {
                return lua_type(L, index) == LUA_TSTRING && lua_rawlen(L, index) == 0;
            };
            if (isEmptyText(1) && (lua_isnoneornil(L, 3) || isEmptyText(3))) count = integerArgument(L, 2, 0.0);
            break;
        }
        case CLoop::move: count = integerArgument(L, 3, 0.0) - integerArgument(L, 2, 0.0) + 1.0; break;
        // Only with a position do these shift the elements after it.
        case CLoop::insert:
            if (lua_gettop(L) == 3) count = tableLength(L, 1) - integerArgument(L, 2, 0.0) + 1.0;
            break;
        case CLoop::remove:
            if (lua_gettop(L) >= 2) count = tableLength(L, 1) - integerArgument(L, 2, 0.0) + 1.0;
            break;
        case CLoop::concat: {
            double last = lua_isnoneornil(L, 4) ? tableLength(L, 1) : integerArgument(L, 4, 0.0);
            count = last - integerArgument(L, 3, 1.0) + 1.0;
            break;
        }
        case CLoop::sort: {
            double n = tableLength(L, 1);
            count = n * std::log2(n + 1.0);
            break;
        }
    }
    if (count > 0.0) chargeInstructions(L, count);
    // Called in this frame, so that its errors name it as the script called it.
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
}

// Runs the function on the stack top (below it nArgs arguments) with a
// fresh budget; on failure raises the host error, the stack left clean.
void protectedCall(Script &script, int nArgs, int nResults, const std::string &what) {
    lua_State *L = script.state;
    script.instructionsLeft = script.limits.instructionsPerCall;
    script.isOverInstructions = false;
    script.isOverMemory = false;
    lua_sethook(L, countInstructions, LUA_MASKCOUNT, HOOK_STEP);
    int base = lua_gettop(L) - nArgs - 1;
    bool isDone = lua_pcall(L, nArgs, nResults, 0) == LUA_OK;
    // A spent budget fails the call even if the script caught the error.
    bool isOverBudget = script.isOverInstructions || script.isOverMemory;
    if (isDone && !isOverBudget) return;
    std::string message =
        !isDone && lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "a Lua error without a message";
    lua_settop(L, base);
    lua_gc(L, LUA_GCCOLLECT);
    if (script.isOverMemory) {
        orvane::raise(ids::luaMemoryLimit, script.path + ": " + what + ": memory limit of " +
                                                    std::to_string(script.limits.memoryBytes) + " bytes exceeded");
    }
    if (script.isOverInstructions) message = script.instructionLimitMessage;
    if (!message.empty() && message.rfind(script.path, 0) != 0) message = script.path + ": " + message;
    orvane::raise(script.isOverInstructions ? ids::luaInstructionLimit : ids::luaError,
                  message + " (" + what + ")");
}

// ---- Values. A call's arguments as plain numbers, so that building the
// tables (which can raise in Lua) holds no C++ object that must unwind.

struct Argument {
    std::vector<double> data;  // column-major
    int64_t rows = 0;
    int64_t cols = 0;
};

struct CallFrame {
    const char *name = nullptr;
    const std::vector<Argument> *arguments = nullptr;
};

void pushArgument(lua_State *L, const Argument &a) {
    bool isMatrix = a.rows > 1 && a.cols > 1;
    if (!isMatrix) {
        lua_createtable(L, static_cast<int>(a.data.size()), 0);
        for (size_t k = 0; k < a.data.size(); ++k) {
            lua_pushnumber(L, a.data[k]);
            lua_rawseti(L, -2, static_cast<lua_Integer>(k + 1));
        }
        return;
    }
    lua_createtable(L, static_cast<int>(a.rows), 0);
    for (int64_t r = 0; r < a.rows; ++r) {
        lua_createtable(L, static_cast<int>(a.cols), 0);
        for (int64_t c = 0; c < a.cols; ++c) {
            lua_pushnumber(L, a.data[static_cast<size_t>(r + c * a.rows)]);
            lua_rawseti(L, -2, static_cast<lua_Integer>(c + 1));
        }
        lua_rawseti(L, -2, static_cast<lua_Integer>(r + 1));
    }
}

// Inside lua_pcall: the named global called with the arguments as tables.
int callInLua(lua_State *L) {
    auto *frame = static_cast<CallFrame *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    lua_getglobal(L, frame->name);
    if (lua_type(L, -1) != LUA_TFUNCTION) return luaL_error(L, "%s is no longer a function", frame->name);
    for (const Argument &a : *frame->arguments) pushArgument(L, a);
    lua_call(L, static_cast<int>(frame->arguments->size()), 1);
    return 1;
}

orvane::Value resultValue(lua_State *L, const std::vector<Argument> &arguments, const std::string &where) {
    int type = lua_type(L, -1);
    if (type == LUA_TNUMBER) return orvane::Value::doubleScalar(lua_tonumber(L, -1));
    if (type != LUA_TTABLE) {
        orvane::raise(ids::luaResult,
                      where + ": expected a number or a list of numbers, got a " + lua_typename(L, type));
    }
    auto n = static_cast<int64_t>(lua_rawlen(L, -1));
    std::vector<double> values(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        int elementType = lua_rawgeti(L, -1, k + 1);
        bool isNumber = elementType == LUA_TNUMBER;
        double v = isNumber ? lua_tonumber(L, -1) : 0.0;
        lua_pop(L, 1);
        if (!isNumber)
            orvane::raise(ids::luaResult, where + ": element " + std::to_string(k + 1) + " is not a number");
        values[static_cast<size_t>(k)] = v;
    }
    bool isColumn = !arguments.empty() && arguments[0].cols == 1 && arguments[0].rows == n && n > 1;
    return isColumn ? orvane::Value::doubleMatrix(n, 1, values) : orvane::Value::doubleMatrix(1, n, values);
}

void callLuaFunction(Script &script, const std::string &name, std::vector<orvane::Value> &results,
                     const std::vector<orvane::Value> &args) {
    std::vector<Argument> arguments;
    for (size_t k = 0; k < args.size(); ++k) {
        const orvane::Value &v = args[k];
        if (!v || v.className() != "double" || v.isComplex()) {
            orvane::raise(ids::luaArgument,
                          script.path + ": " + name + ": argument " + std::to_string(k + 1) + " is not real double");
        }
        const std::vector<int64_t> &dims = v.dims();
        Argument a;
        a.rows = dims.empty() ? 0 : dims[0];
        a.cols = a.rows == 0 ? 0 : v.numel() / a.rows;
        a.data = v.toDoubles();
        arguments.push_back(std::move(a));
    }
    CallFrame frame{name.c_str(), &arguments};
    lua_State *L = script.state;
    lua_pushcfunction(L, callInLua);
    lua_pushlightuserdata(L, &frame);
    protectedCall(script, 1, 1, "function " + name);
    std::string where = script.path + ": " + name;
    orvane::Value result;
    try {
        result = resultValue(L, arguments, where);
    } catch (...) {
        lua_pop(L, 1);
        throw;
    }
    lua_pop(L, 1);
    std::string problem = functionResultProblem(name, args, result);
    if (!problem.empty()) orvane::raise(ids::luaResult, script.path + ": function " + name + " as " + problem);
    results.assign(1, result);
}

// ---- The sandbox.

// print writes to standard error: standard output carries the results.
int printToStandardError(lua_State *L) {
    int n = lua_gettop(L);
    for (int k = 1; k <= n; ++k) {
        size_t length = 0;
        const char *text = luaL_tolstring(L, k, &length);
        if (k > 1) std::fputc('\t', stderr);
        std::fwrite(text, 1, length, stderr);
        lua_pop(L, 1);
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
    return 0;
}

// Lua runs a finalizer with hooks off, out of the instruction count's reach,
// and runs the pending ones when the state closes at process exit: a __gc
// that loops would hang the call, or every command at its end. Lua marks an
// object for finalizing only if its metatable has __gc when it is set, so
// refusing such a metatable here leaves no finalizer at all. Upvalue: the
// library's setmetatable.
int setMetatableWithoutFinalizer(lua_State *L) {
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        bool hasFinalizer = lua_rawget(L, 2) != LUA_TNIL;
        lua_pop(L, 1);
        if (hasFinalizer) return luaL_error(L, "setmetatable: finalizers (__gc) are not allowed in a script");
    }
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
}

int openSandbox(lua_State *L) {
    luaL_requiref(L, LUA_GNAME, luaopen_base, 1);
    luaL_requiref(L, LUA_MATHLIBNAME, luaopen_math, 1);
    luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
    luaL_requiref(L, LUA_TABLIBNAME, luaopen_table, 1);
    lua_settop(L, 0);
    for (const char *name : {"dofile", "loadfile", "load", "require", "collectgarbage"}) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_pushcfunction(L, printToStandardError);
    lua_setglobal(L, "print");
    lua_getglobal(L, "setmetatable");
    lua_pushcclosure(L, setMetatableWithoutFinalizer, 1);
    lua_setglobal(L, "setmetatable");
    // The pattern functions backtrack inside C, where the instruction count
    // never looks: a pattern of 50 characters on a subject of 25 runs for
    // ages, and no length bound short of uselessness prevents it.
    lua_getglobal(L, LUA_STRLIBNAME);
    for (const char *name : {"dump", "find", "match", "gmatch", "gsub"}) {
        lua_pushnil(L);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
    struct Charged {
        const char *library;
        const char *name;
        CLoop loop;
    };
    const Charged charged[] = {
        {LUA_STRLIBNAME, "rep", CLoop::repeat},    {LUA_TABLIBNAME, "move", CLoop::move},
        {LUA_TABLIBNAME, "insert", CLoop::insert}, {LUA_TABLIBNAME, "remove", CLoop::remove},
        {LUA_TABLIBNAME, "concat", CLoop::concat}, {LUA_TABLIBNAME, "sort", CLoop::sort},
    };
    for (const Charged &c : charged) {
        lua_getglobal(L, c.library);
        lua_getfield(L, -1, c.name);
        lua_pushinteger(L, static_cast<lua_Integer>(c.loop));
        lua_pushcclosure(L, chargedLoop, 2);
        lua_setfield(L, -2, c.name);
        lua_pop(L, 1);
    }
    return 0;
}

std::vector<std::string> globalFunctionNames(lua_State *L) {
    std::vector<std::string> names;
    lua_pushglobaltable(L);
    lua_pushnil(L);
    while (lua_next(L, -2) != 0) {
        if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TFUNCTION) names.emplace_back(lua_tostring(L, -2));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    std::sort(names.begin(), names.end());
    return names;
}

std::string readScript(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw orvane::HostError(ids::ioCannotOpen, "cannot open '" + path + "'");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<std::string> registerLuaFunctions(const std::string &path, const LuaLimits &limits) try {
    static std::mutex registering;
    std::lock_guard<std::mutex> lock(registering);
    std::string text = readScript(path);
    auto owned = std::make_unique<Script>();
    Script &script = *owned;
    script.path = path;
    script.limits = limits;
    script.state = lua_newstate(budgetedAlloc, &script);
    if (script.state == nullptr)
        throw orvane::HostError(ids::luaMemoryLimit, path + ": cannot create a Lua state");
    lua_State *L = script.state;
    lua_pushcfunction(L, openSandbox);
    protectedCall(script, 0, 0, "opening the libraries");
    std::vector<std::string> before = globalFunctionNames(L);
    std::string chunkName = "@" + path;
    int loaded = luaL_loadbufferx(L, text.data(), text.size(), chunkName.c_str(), "t");
    if (loaded != LUA_OK) {
        std::string message = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "cannot load";
        throw orvane::HostError(script.isOverMemory ? ids::luaMemoryLimit : ids::luaError, message);
    }
    protectedCall(script, 0, 0, "running the script");
    std::vector<std::string> after = globalFunctionNames(L);
    std::vector<std::string> defined;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(defined));
    // The module itself calls some host functions (transpose, sprintf, ...):
    // a script must not replace them, nor one registered before it.
    for (const std::string &name : defined) {
        if (orvane::hasFunction(name)) {
            throw orvane::HostError(
                ids::luaNameTaken,
                path + ": function " + name + ": a host function of this name exists (make it local, or rename it)");
        }
    }
    for (const std::string &name : defined) {
        fazolt::registerFunction(name, [s = &script, name](int, std::vector<orvane::Value> &results,
                                                           const std::vector<orvane::Value> &args) {
            std::lock_guard<std::mutex> turn(s->inUse);
            callLuaFunction(*s, name, results, args);
        });
    }
    scripts().push_back(std::move(owned));
    return defined;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

}  // namespace fazolt
