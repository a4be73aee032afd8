// --functions FILE.lua: host functions in Lua for the commands that evaluate.
#include "cli/commands.h"

#include <fazolt/lua.h>

void addFunctionsOption(CLI::App *command) {
    // Registered while the options are read, so before the command loads
    // its system, and before `eval --jobs` forks its workers, which inherit it.
    command
        ->add_option_function<std::vector<std::string>>(
            "--functions",
            [](const std::vector<std::string> &paths) {
                for (const std::string &path : paths) fazolt::registerLuaFunctions(path);
            },
            "Lua script whose global functions a system can name as methods or membership functions "
            "(repeatable)")
        ->type_name("FILE.lua");
}
