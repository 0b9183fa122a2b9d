# Run by ctest: every text of the sources that is not plain ASCII (the system's Russian
# and Chinese texts) must be marked for the catalogue (Tr or N_), and every marked text
# must have its English in po/en.po. A new system text without a translation fails here.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DXGETTEXT=... -DMSGCMP=... -DMSGGREP=... -P CheckCatalogue.cmake
# Today's policies: among them, a recursive glob does not follow links (a build folder
# may hold links to system folders).
cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE_DIR WORK_DIR XGETTEXT MSGCMP MSGGREP)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
list(FILTER sources EXCLUDE REGEX "^(tests|fuzz|bench|build)/")
list(SORT sources)
file(MAKE_DIRECTORY "${WORK_DIR}")
set(ENV{LC_ALL} C.UTF-8)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE result
                  ERROR_VARIABLE errors)
  # xgettext warns about every non-ASCII msgid; only real errors are worth showing.
  string(REGEX REPLACE "[^\n]*(non-ASCII|will cause problems|different from yours|Consider using)[^\n]*\n" "" errors "${errors}")
  string(REGEX REPLACE "\n +[^\n]*" "" errors "${errors}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGV0} failed (${result}):\n${errors}")
  endif()
endfunction()

set(common --from-code=UTF-8 --language=C++ --sort-output)
# The texts marked for the catalogue: the msgids the programs look up.
run("${XGETTEXT}" ${common} -k --keyword=Tr --keyword=N_ -o "${WORK_DIR}/marked.pot" ${sources})
# Every string of the sources, and of them those with a letter beyond ASCII; the EN QUAD
# blanks that pad some English texts (a file filter, a list entry) are no language.
run("${XGETTEXT}" ${common} --extract-all --exclude-file=po/untranslated.pot
    -o "${WORK_DIR}/all.pot" ${sources})
run("${MSGGREP}" --msgid -E -e "[^[:cntrl:] -~ ]" -o "${WORK_DIR}/non-ascii.pot" "${WORK_DIR}/all.pot")

# Each non-ASCII text is marked, and each marked text translated.
run("${MSGCMP}" --use-untranslated "${WORK_DIR}/marked.pot" "${WORK_DIR}/non-ascii.pot")
run("${MSGCMP}" po/en.po "${WORK_DIR}/marked.pot")
message(STATUS "${SOURCE_DIR}/po/en.po translates every system text")
