#pragma once
#include <optional>
#include <string>
#include <vector>

#include "common/Translation.h"
#include "link/SimulatorSetup.h"

// The command line of the desktop programs, the Qt window's and the Windows one's. Without
// options they run against the real programmer with no configuration at all; the options
// only serve demonstrations (simulated programmers) and the pictures of the documentation.
struct LaunchOptions {
    bool showHelp = false;
    bool simulate = false;
    // The simulated programmers, set up as the command line sets up its own.
    SimulatorRequest simulator;
    std::string screenshotDir;  // UTF-8: render every dialog into this folder and quit
    // The language of the texts: --lang, else what the environment's locale names.
    TextLanguage language = LanguageOfEnvironment();
};

// Parses the arguments (UTF-8, the program name first). Needs no window, so help and
// refusals need no display. Returns nullopt and sets `error` for an unknown option, a
// missing value, a stray argument, a count outside 1 to 64, a version that is not 1 to 8
// hexadecimal digits, a latency outside 0 to 1000000, a fault that does not parse or aims
// past the last programmer, a --lang other than "en" or "original"; simulator options
// without --simulate are refused too.
std::optional<LaunchOptions> ParseLaunchOptions(const std::vector<std::string>& arguments,
                                                std::string& error);

// The help text of the options.
std::string LaunchOptionsHelp();
