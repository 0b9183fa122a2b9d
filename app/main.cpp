#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "app/CMarrowdyneApp.h"
#include "session/LaunchOptions.h"

namespace {

// The options, or the exit code when the program ends with help or a refusal.
std::variant<LaunchOptions, int> Parse(const QStringList& arguments) {
    std::vector<std::string> utf8;
    for (const QString& argument : arguments) utf8.push_back(argument.toStdString());
    std::string error;
    std::optional<LaunchOptions> options = ParseLaunchOptions(utf8, error);
    if (!options) {
        std::fprintf(stderr, "marrowdyne: %s\n\n%s", error.c_str(), LaunchOptionsHelp().c_str());
        return 2;
    }
    if (options->showHelp) {
        std::fputs(LaunchOptionsHelp().c_str(), stdout);
        return 0;
    }
    return *options;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
    // The command line as the system holds it, in UTF-16, not in the ANSI page of argv.
    CMarrowdyneApp app(argc, argv);
    const auto parsed = Parse(QCoreApplication::arguments());
    if (const int* code = std::get_if<int>(&parsed)) return *code;
    return app.InitInstance(std::get<LaunchOptions>(parsed));
#else
    // The command line first: help and refusals need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const auto parsed = Parse(arguments);
    if (const int* code = std::get_if<int>(&parsed)) return *code;
    CMarrowdyneApp app(argc, argv);
    return app.InitInstance(std::get<LaunchOptions>(parsed));
#endif
}
