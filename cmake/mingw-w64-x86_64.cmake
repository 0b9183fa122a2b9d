# Cross build for 64-bit Windows with MinGW-w64; the tests run under Wine.
#   cmake -S . -B build/mingw -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MARRO_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix compilers: the win32 thread model has no std::thread or std::mutex.
find_program(CMAKE_C_COMPILER ${MARRO_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${MARRO_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${MARRO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MARRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime formats with MinGW's own stdio, which knows %zu and %lld, but GCC checks
# format(printf) attributes against msvcrt's older set and rejects them. The same calls
# are checked by the Linux build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-format")

# One self-contained .exe: no MinGW runtime DLLs to ship next to it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs of this build run under Wine through build/<dir>/wine-run, which the project
# writes: a prefix of the build's own, no display, no Mono or Gecko installers.
find_program(MARRO_WINE wine)
find_program(MARRO_WINESERVER wineserver)
if(MARRO_WINE AND MARRO_WINESERVER)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# Test lists are read when ctest runs, under Wine, not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# What needs the project's own targets (GoogleTest from source, the header-only
# libraries) comes right after project().
set(CMAKE_PROJECT_marrowdyne_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-project.cmake")
