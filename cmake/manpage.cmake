# Writes fazolt.1 with help2man: the tool's --help, then every command's
# --help verbatim (each with its examples), then the sections that the help
# has no room for (the description format, the rule syntax, the exit
# status) from manpage-sections.h2m beside this file.
#   cmake -DFAZOLT=tool -DHELP2MAN=help2man -DOUTPUT=fazolt.1 -P manpage.cmake

function(roff_verbatim text out)
  string(REPLACE "${FAZOLT}" "fazolt" text "${text}")
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${FAZOLT} --help OUTPUT_VARIABLE top RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FAZOLT} --help failed")
endif()

# The commands are the lines "  NAME  summary" under "Subcommands:".
string(REGEX MATCH "\nSubcommands:\n(  [^\n]*\n)+" commandLines "${top}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" commands "${commandLines}")
set(include "[COMMANDS]\n")
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  execute_process(COMMAND ${FAZOLT} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${FAZOLT} ${command} --help failed")
  endif()
  roff_verbatim("${help}" help)
  string(APPEND include ".SS \"fazolt ${command}\"\n${help}")
endforeach()

# The top-level examples, kept as lines rather than run into one paragraph.
string(REGEX MATCH "\nExamples:\n(  [^\n]*\n?)+" examples "${top}")
string(REGEX REPLACE "^\nExamples:\n" "" examples "${examples}")
roff_verbatim("${examples}" examples)
string(APPEND include "[=EXAMPLES]\n${examples}")

file(READ ${CMAKE_CURRENT_LIST_DIR}/manpage-sections.h2m sections)
string(APPEND include "${sections}")

file(WRITE ${OUTPUT}.include "${include}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --include ${OUTPUT}.include
                        --name "exact fuzzy inference (Mamdani and Sugeno) in double precision"
                        --output ${OUTPUT} ${FAZOLT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${FAZOLT}")
endif()
