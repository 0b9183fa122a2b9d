#include "app/LaunchOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>
#include <memory>

#include "common/NumberText.h"

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption simulate{QStringLiteral("simulate"),
                                QStringLiteral("Run against a simulated programmer.")};
    QCommandLineOption version{QStringLiteral("sim-version"),
                               QStringLiteral("Version word of the simulated programmer."),
                               QStringLiteral("HEX")};
    QCommandLineOption firmware{QStringLiteral("sim-firmware-version"),
                                QStringLiteral("Firmware word of the simulated programmer."),
                                QStringLiteral("HEX")};
    QCommandLineOption state{QStringLiteral("sim-state"),
                             QStringLiteral("Keep the simulated programmer's memory in FILE."),
                             QStringLiteral("FILE")};
    QCommandLineOption fault{QStringLiteral("sim-fault"),
                             QStringLiteral("Inject a fault, COMMAND:KIND[@N]; repeatable."),
                             QStringLiteral("FAULT")};
    QCommandLineOption lang{QStringLiteral("lang"),
                            QStringLiteral("Language of the texts: en (English) or original "
                                           "(Russian and Chinese); default from the locale."),
                            QStringLiteral("LANG")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Render every dialog into DIR and quit."),
                                  QStringLiteral("DIR")};

    Parser() {
        parser.setApplicationDescription(QStringLiteral("Offline programmer tool"));
        parser.addHelpOption();
        screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOptions({simulate, version, firmware, state, fault, lang, screenshot});
    }
};

// 1 to 8 hexadecimal digits, with or without 0x.
std::optional<std::uint32_t> StrictHex(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(0[xX])?[0-9A-Fa-f]{1,8}$"));
    if (!pattern.match(text).hasMatch()) return std::nullopt;
    return ParseHexNumber(text.toStdString());
}

}  // namespace

std::optional<LaunchOptions> ParseLaunchOptions(const QStringList& arguments, QString& error) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        error = p.parser.errorText();
        return std::nullopt;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        error =
            QStringLiteral("Unexpected argument: %1").arg(p.parser.positionalArguments().front());
        return std::nullopt;
    }
    LaunchOptions options;
    options.showHelp =
        p.parser.isSet(QStringLiteral("help")) || p.parser.isSet(QStringLiteral("help-all"));
    options.simulate = p.parser.isSet(p.simulate);
    options.screenshotDir = p.parser.value(p.screenshot);
    // The pictures are taken of the simulated programmer.
    if (!options.screenshotDir.isEmpty()) options.simulate = true;

    const bool simOptions = p.parser.isSet(p.version) || p.parser.isSet(p.firmware) ||
                            p.parser.isSet(p.state) || p.parser.isSet(p.fault);
    if (simOptions && !options.simulate) {
        error = QStringLiteral("The --sim-* options need --simulate.");
        return std::nullopt;
    }
    if (p.parser.isSet(p.version)) {
        const auto value = StrictHex(p.parser.value(p.version));
        if (!value) {
            error = QStringLiteral("--sim-version: not a hexadecimal word: %1")
                        .arg(p.parser.value(p.version));
            return std::nullopt;
        }
        options.simulator.programmerVersion = *value;
    }
    if (p.parser.isSet(p.firmware)) {
        const auto value = StrictHex(p.parser.value(p.firmware));
        if (!value) {
            error = QStringLiteral("--sim-firmware-version: not a hexadecimal word: %1")
                        .arg(p.parser.value(p.firmware));
            return std::nullopt;
        }
        options.simulator.firmwareVersion = *value;
    }
    if (p.parser.isSet(p.lang)) {
        const auto language = ParseTextLanguage(p.parser.value(p.lang).toStdString());
        if (!language) {
            error = QStringLiteral("--lang: not en or original: %1").arg(p.parser.value(p.lang));
            return std::nullopt;
        }
        options.language = *language;
    }
    options.simStateFile = p.parser.value(p.state);
    for (const QString& text : p.parser.values(p.fault)) {
        std::string reason;
        const auto fault = ParseFault(text.toStdString(), reason);
        if (!fault) {
            error = QStringLiteral("--sim-fault %1: %2").arg(text, QString::fromStdString(reason));
            return std::nullopt;
        }
        options.faults.push_back(*fault);
    }
    return options;
}

QString LaunchOptionsHelp() {
    Parser p;
    // Parsed before any application object exists, so the program names itself.
    return p.parser.helpText().replace(QStringLiteral("<executable_name>"),
                                       QStringLiteral("marrowdyne"));
}
