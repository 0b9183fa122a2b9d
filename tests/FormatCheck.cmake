cmake_minimum_required(VERSION 3.25)
# Fails, naming the files, when a C++ source differs from what clang-format makes of it
# with the project's .clang-format.
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
list(FILTER sources EXCLUDE REGEX "^build/")
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${sources}
                WORKING_DIRECTORY "${SOURCE_DIR}"
                RESULT_VARIABLE status
                ERROR_VARIABLE complaints)
if(NOT status EQUAL 0)
  string(REGEX MATCHALL "[^\n]+: error: code should be clang-formatted" lines "${complaints}")
  list(TRANSFORM lines REPLACE ":[0-9]+:[0-9]+: error: code should be clang-formatted" "")
  list(REMOVE_DUPLICATES lines)
  list(JOIN lines "\n  " files)
  message(FATAL_ERROR "Not formatted (run clang-format -i on them):\n  ${files}")
endif()
