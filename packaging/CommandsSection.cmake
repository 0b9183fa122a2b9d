# Writes a help2man include file whose COMMANDS section holds `CLI COMMAND --help` for
# every command that `CLI --help` lists. Run with -DCLI=program -DOUTPUT=file.

execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CLI} --help failed")
endif()

# The commands are the indented first words of the lines after "Subcommands:".
string(REGEX REPLACE ".*\nSubcommands:\n" "" listing "${help}")
string(REPLACE "\n" ";" lines "${listing}")
set(commands)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^  ([a-z][a-z-]*)")
    break()
  endif()
  list(APPEND commands ${CMAKE_MATCH_1})
endforeach()
if(NOT commands)
  message(FATAL_ERROR "no commands found in the help of ${CLI}")
endif()

set(section "[COMMANDS]\n")
foreach(command IN LISTS commands)
  execute_process(COMMAND ${CLI} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CLI} ${command} --help failed")
  endif()
  # The exit codes close every command's help; the page has them once, from the program's.
  string(REGEX REPLACE "\nExit codes:\n.*" "\n" text "${text}")
  # roff: a backslash is written \e, and a line may not start with a control character.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND section ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${section}")
