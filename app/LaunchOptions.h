#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/Translation.h"
#include "link/SimulatedProgrammer.h"

// The command line of the desktop program. Without options it runs against the real
// programmer with no configuration at all; the options only serve demonstrations
// (a simulated programmer) and the pictures of the documentation.
struct LaunchOptions {
    bool showHelp = false;
    bool simulate = false;
    SimulatorConfig simulator;  // version words of the simulated programmer
    QString simStateFile;       // its memory, kept between runs
    std::vector<Fault> faults;
    QString screenshotDir;  // render every dialog into this folder and quit
    // The language of the texts: --lang, else what the environment's locale names.
    TextLanguage language = LanguageOfEnvironment();
};

// Parses the arguments (the program name first). Needs no application object, so help
// and refusals need no display. Returns nullopt and sets `error` for an
// unknown option, a missing value, a version that is not 1 to 8 hexadecimal digits or a
// fault that does not parse, a --lang other than "en" or "original"; simulator options without --simulate are refused too.
std::optional<LaunchOptions> ParseLaunchOptions(const QStringList& arguments, QString& error);

// The help text of the options.
QString LaunchOptionsHelp();
