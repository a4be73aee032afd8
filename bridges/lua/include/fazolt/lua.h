/// @file
/// Host functions written in Lua 5.4: every global function that a script
/// defines becomes a host function of that name, which a system can name as
/// a method or a membership function.
///
/// The interpreter is sandboxed: the base, math, string and table libraries
/// only, without dofile, loadfile, load, string.dump and the pattern
/// functions (find, match, gmatch, gsub), with print writing to standard
/// error, and the script is read as text (a binary chunk is refused). Each
/// run (the script itself, then every call) has an instruction budget and
/// the script's state a memory budget, which stay spent until the run ends
/// (pcall cannot go on past them); running out, or any Lua error, raises
/// fazolt::Error "fazolt:lua:..." whose message starts with the
/// script's file and line. Results are checked for their role in the
/// system being evaluated (fazolt/function_results.h): "fazolt:lua:Result".
///
/// Arguments arrive as tables: a vector (a 1 x 1 value too) as a list of its
/// numbers, a matrix as a list of rows. A function returns a number or a
/// list of numbers; a list as long as the first argument, when that is a
/// column, is returned as a column, any other list as a row.
#ifndef FAZOLT_API_LUA_H
#define FAZOLT_API_LUA_H

#include <fazolt/export.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fazolt {

/// The budgets of a script.
struct LuaLimits {
    int64_t instructionsPerCall = 100000000;  ///< Lua VM instructions, counted in steps of 1000
    int64_t memoryBytes = 64 << 20;           ///< the state's memory, all calls together
};

/// Runs the script and registers its functions; returns their names, sorted.
FAZOLT_API std::vector<std::string> registerLuaFunctions(const std::string &path, const LuaLimits &limits = {});

}  // namespace fazolt

#endif
