# The parts of the Windows cross build that need targets of their own. Included right
# after project() by the MinGW toolchain file, before the engine's folders.

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Outside the source tree: a prefix holds links back to / and the home folder, which a
  # walk of the tree would follow round. One prefix per build folder, kept between runs.
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache_home "$ENV{XDG_CACHE_HOME}")
  else()
    set(cache_home "$ENV{HOME}/.cache")
  endif()
  string(SHA1 build_hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${build_hash}" 0 12 build_hash)
  set(MARRO_WINEPREFIX "${cache_home}/marrowdyne/wineprefix-${build_hash}")
  set(MARRO_WINE_LOCK "${CMAKE_BINARY_DIR}/wine-session.lock")
  set(MARRO_WINE_ENVIRONMENT "WINEPREFIX=${MARRO_WINEPREFIX}" "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml=" "LANG=C.UTF-8" "LC_ALL=C.UTF-8" "DISPLAY="
      "WAYLAND_DISPLAY=")
  # What every runner of this build sets after WINEPREFIX, as lines of shell.
  set(MARRO_WINE_SHELL_SETUP [=[
WINEDEBUG=-all
WINEDLLOVERRIDES='mscoree,mshtml='
LANG=${MARRO_WINE_LOCALE:-C.UTF-8}
LC_ALL=$LANG
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LANG LC_ALL]=])
  # How every runner of this build starts a program: "$@" is the command that starts it
  # under Wine. Now and then Wine ends a program before it has run a line of its own (a
  # failing status and no output after a few hundredths of a second). In a test program
  # the test framework tells that from a failed or crashed test: its report is written
  # when the run ends, and its premature-exit mark is there while a test runs. With
  # neither, no test ran, and the program is started again a second later (twice at
  # most). Any other program is started once: it may have done its work before failing.
  set(MARRO_WINE_START [=[
marro_start() {
  case " $* " in
    *" --gtest_"*) ;;
    *) exec "$@" ;;
  esac
  marks=$(mktemp -d) || return 1
  start=1
  while :; do
    GTEST_OUTPUT="json:Z:$marks/report.json" TEST_PREMATURE_EXIT_FILE="Z:$marks/running" "$@"
    status=$?
    if [ "$status" -eq 0 ] || [ -e "$marks/report.json" ] || [ -e "$marks/running" ] ||
       [ "$start" -ge 3 ]; then
      break
    fi
    echo "${0##*/}: Wine ended the test program (status $status) before its tests began; starting it again" >&2
    start=$((start + 1))
    sleep 1
  done
  rm -rf "$marks"
  return "$status"
}]=])
  file(CONFIGURE OUTPUT "${CMAKE_CROSSCOMPILING_EMULATOR}" @ONLY CONTENT [=[
#!/bin/sh
# Runs a program of this build under Wine, in the build's own prefix, without a display
# (a session's programs all share the display it began on, so programs that need one run
# through the window tests' runner), in the C locale (Wine's code pages then are 437 and
# 1252) or the one MARRO_WINE_LOCALE names (ru_RU.UTF-8: 1251 and 866; zh_CN.UTF-8: 936).
WINEPREFIX='@MARRO_WINEPREFIX@'
@MARRO_WINE_SHELL_SETUP@
unset WAYLAND_DISPLAY DISPLAY
# Wine starts its services with the first program of a session, and they inherit that
# program's output: ctest would wait for them until the session ends. So a session
# starts here, detached from the caller, and lingers 30 s after its last program.
exec 9>'@MARRO_WINE_LOCK@'
flock 9
if '@MARRO_WINESERVER@' -p30 </dev/null >/dev/null 2>&1; then
  '@MARRO_WINE@' cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
fi
flock -u 9
exec 9>&-
@MARRO_WINE_START@
marro_start '@MARRO_WINE@' "$@"
]=])
  file(CHMOD "${CMAKE_CROSSCOMPILING_EMULATOR}"
       PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)

  # The build makes the prefix, so its first start (some seconds) is not paid by a timed
  # test.
  add_custom_command(
    OUTPUT "${MARRO_WINEPREFIX}/system.reg"
    COMMAND /usr/bin/env ${MARRO_WINE_ENVIRONMENT} ${MARRO_WINE} wineboot.exe -i
    COMMAND /usr/bin/env ${MARRO_WINE_ENVIRONMENT} ${MARRO_WINESERVER} -w
    COMMENT "Preparing the Wine prefix ${MARRO_WINEPREFIX}"
    VERBATIM)
  add_custom_target(marro_wine_prefix ALL DEPENDS "${MARRO_WINEPREFIX}/system.reg")
endif()

# CLI11 and nlohmann-json are header-only Debian packages under /usr/include. The MinGW
# compiler must not see /usr/include as a whole (glibc headers would shadow its own), so
# only these two folders are made visible, through links in the build tree.
set(MARRO_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${MARRO_HOST_HEADERS}")
foreach(folder CLI nlohmann)
  if(NOT EXISTS "/usr/include/${folder}")
    message(FATAL_ERROR "/usr/include/${folder} is missing (scripts/install-deps installs it)")
  endif()
  file(CREATE_LINK "/usr/include/${folder}" "${MARRO_HOST_HEADERS}/${folder}" SYMBOLIC)
endforeach()
include_directories(SYSTEM "${MARRO_HOST_HEADERS}")

# find_package(CLI11) and find_package(nlohmann_json) get interface targets over those
# links; the version checks are Debian's own.
add_library(marro_host_cli11 INTERFACE)
target_include_directories(marro_host_cli11 SYSTEM INTERFACE "${MARRO_HOST_HEADERS}")
add_library(CLI11::CLI11 ALIAS marro_host_cli11)
add_library(marro_host_json INTERFACE)
target_include_directories(marro_host_json SYSTEM INTERFACE "${MARRO_HOST_HEADERS}")
add_library(nlohmann_json::nlohmann_json ALIAS marro_host_json)
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/cli11-config.cmake" "")
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/cli11-config-version.cmake"
     "include(/usr/share/cmake/CLI11/CLI11ConfigVersion.cmake)\n")
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/nlohmann_json-config.cmake" "")
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/nlohmann_json-config-version.cmake"
     "include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)\n")

# The project declares its options after project(): unset means the default, ON.
if(NOT DEFINED MARRO_BUILD_TESTS OR MARRO_BUILD_TESTS)
  # Debian has no MinGW GoogleTest, but ships its sources: build them with the cross
  # compiler and let find_package(GTest) take these targets.
  set(MARRO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS "${MARRO_GOOGLETEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "${MARRO_GOOGLETEST_SOURCE} is missing (Debian package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # Win32 primitives, not winpthreads
  add_subdirectory("${MARRO_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake" "")

endif()

# The command-line tool as a Windows user runs it: a job stored in the simulated
# programmer, and a search through the native transport that finds no programmer (Wine
# has only its virtual keyboard and mouse). Added once the tool's target exists.
function(marro_add_windows_cli_tests)
  if(NOT TARGET marrowdyne-cli OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  # A relative path: on Windows the option parser takes "/..." for a Windows-style option.
  add_test(NAME windows_cli.program_simulated
           COMMAND marrowdyne-cli --simulate --json program samples/blink-f103.hex --series STM32F1XX
           WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
  set_tests_properties(windows_cli.program_simulated PROPERTIES
                       PASS_REGULAR_EXPRESSION [["exitCode":0,.*"kind":"Success"]])
  add_test(NAME windows_cli.resources
           COMMAND sh "${CMAKE_SOURCE_DIR}/packaging/windows/check-resources"
                   $<TARGET_FILE:marrowdyne-cli> "${PROJECT_VERSION}")
  # English from the catalogue beside the build's bin folders, and the help that offers it.
  add_test(NAME windows_cli.english
           COMMAND marrowdyne-cli --lang en --simulate --sim-fault QueryVersion:read info)
  set_tests_properties(windows_cli.english PROPERTIES
                       PASS_REGULAR_EXPRESSION "Version read failed, error code:02")
  add_test(NAME windows_cli.help_offers_english COMMAND marrowdyne-cli --help)
  set_tests_properties(windows_cli.help_offers_english PROPERTIES
                       PASS_REGULAR_EXPRESSION [[en \(English\) or original]])
  # The test firmware's ELF file, which the host's ARM toolchain made, stored as on Linux.
  add_test(NAME windows_cli.program_elf
           COMMAND marrowdyne-cli --simulate --json program blink.elf --series STM32F1XX
           WORKING_DIRECTORY "${CMAKE_BINARY_DIR}/tests/firmware")
  set_tests_properties(windows_cli.program_elf PROPERTIES
                       PASS_REGULAR_EXPRESSION [["exitCode":0,.*"kind":"Success"]])
  add_test(NAME windows_cli.list_native COMMAND marrowdyne-cli --json list)
  set_tests_properties(windows_cli.list_native PROPERTIES
                       PASS_REGULAR_EXPRESSION [[^{"exitCode":4,.*"programmers":\[\]}]])
endfunction()
if(NOT DEFINED MARRO_BUILD_TESTS OR MARRO_BUILD_TESTS)
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL marro_add_windows_cli_tests)
endif()
