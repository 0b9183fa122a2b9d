#include <QString>
#include <QStringList>
#include <cstdio>

#include "app/CMarrowdyneApp.h"
#include "app/LaunchOptions.h"

int main(int argc, char** argv) {
    // The command line first: help and refusals need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    const std::optional<LaunchOptions> options = ParseLaunchOptions(arguments, error);
    if (!options) {
        std::fprintf(stderr, "marrowdyne: %s\n\n%s", qPrintable(error), qPrintable(LaunchOptionsHelp()));
        return 2;
    }
    if (options->showHelp) {
        std::fputs(qPrintable(LaunchOptionsHelp()), stdout);
        return 0;
    }
    CMarrowdyneApp app(argc, argv);
    return app.InitInstance(*options);
}
