// A test program the Wine runners' rule for starting a test program again is tried on.
// It counts its starts in the file MARRO_PROBE_STARTS names and, as MARRO_PROBE_MODE
// says, ends before its tests begin (as Wine now and then ends a program), fails its test,
// crashes in it, or passes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Mode() {
    const char* mode = std::getenv("MARRO_PROBE_MODE");
    return mode ? mode : "";
}

[[maybe_unused]] const bool kStartCounted = [] {
    if (const char* path = std::getenv("MARRO_PROBE_STARTS")) {
        if (std::FILE* file = std::fopen(path, "a")) {
            std::fputs("start\n", file);
            std::fclose(file);
        }
    }
    if (Mode() == "before") ExitProcess(1);
    return true;
}();

TEST(WineStartProbe, DoesWhatItsModeSays) {
    if (Mode() == "crash") std::abort();
    EXPECT_NE(Mode(), "fail");
}

}  // namespace
