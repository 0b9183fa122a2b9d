# Writes a help2man include file whose COMMANDS section holds `CLI COMMAND --help` for
# every command that `CLI --help` lists. Run with -DCLI=program -DOUTPUT=file.
# With -DFORMAT=text, writes the whole manual as plain text with Windows line ends
# instead: `CLI --help`, then each command's help. -DRUNNER runs CLI (Wine for the
# Windows build).

execute_process(COMMAND ${RUNNER} ${CLI} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CLI} --help failed")
endif()
string(REPLACE "\r" "" help "${help}")

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

if(FORMAT STREQUAL "text")
  set(section "${help}\nCOMMANDS\n")
else()
  set(section "[COMMANDS]\n")
endif()
foreach(command IN LISTS commands)
  execute_process(COMMAND ${RUNNER} ${CLI} ${command} --help OUTPUT_VARIABLE text
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CLI} ${command} --help failed")
  endif()
  string(REPLACE "\r" "" text "${text}")
  # The exit codes close every command's help; the page has them once, from the program's.
  string(REGEX REPLACE "\nExit codes:\n.*" "\n" text "${text}")
  if(FORMAT STREQUAL "text")
    string(APPEND section "\n${command}\n\n${text}")
    continue()
  endif()
  # roff: a backslash is written \e, and a line may not start with a control character.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND section ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
if(FORMAT STREQUAL "text")
  string(REPLACE "\n" "\r\n" section "${section}")
endif()
file(WRITE ${OUTPUT} "${section}")
