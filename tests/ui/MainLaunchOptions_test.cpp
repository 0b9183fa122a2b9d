// The desktop program's command line: nothing by default, the simulator's options only
// with --simulate, and every malformed value refused with a reason.
#include <QtTest>

#include "app/LaunchOptions.h"

class MainLaunchOptionsTest : public QObject {
    Q_OBJECT

private:
    static std::optional<LaunchOptions> Parse(QStringList arguments, QString& error) {
        arguments.prepend(QStringLiteral("marrowdyne"));
        return ParseLaunchOptions(arguments, error);
    }

private slots:
    void withoutOptionsTheRealProgrammerIsUsed() {
        QString error;
        const auto options = Parse({}, error);
        QVERIFY2(options, qPrintable(error));
        QVERIFY(!options->simulate);
        QVERIFY(!options->showHelp);
        QVERIFY(options->faults.empty());
        QVERIFY(options->screenshotDir.isEmpty());
        QVERIFY(options->simStateFile.isEmpty());
    }

    void simulatorOptions() {
        QString error;
        const auto options = Parse({"--simulate", "--sim-version", "0102", "--sim-firmware-version",
                                    "0x220", "--sim-state", "/tmp/state.bin", "--sim-fault",
                                    "WriteStorage:status@100", "--sim-fault", "StorageCrc:crc"},
                                   error);
        QVERIFY2(options, qPrintable(error));
        QVERIFY(options->simulate);
        QCOMPARE(options->simulator.programmerVersion, 0x0102u);
        QCOMPARE(options->simulator.firmwareVersion, 0x0220u);
        QCOMPARE(options->simStateFile, QStringLiteral("/tmp/state.bin"));
        QCOMPARE(options->faults.size(), std::size_t{2});
        QCOMPARE(options->faults[0].command, Command::WriteStorage);
        QCOMPARE(options->faults[0].kind, FaultKind::Status);
        QCOMPARE(options->faults[0].occurrence, 100);
        QCOMPARE(options->faults[1].command, Command::StorageCrc);
        QCOMPARE(options->faults[1].kind, FaultKind::Crc);
        QCOMPARE(options->faults[1].occurrence, 1);
        // Unset words keep the simulator's own defaults.
        const auto plain = Parse({"--simulate"}, error);
        QVERIFY(plain);
        QCOMPARE(plain->simulator.programmerVersion, SimulatorConfig{}.programmerVersion);
        QCOMPARE(plain->simulator.firmwareVersion, SimulatorConfig{}.firmwareVersion);
    }

    void screenshotsRunOnTheSimulator() {
        QString error;
        const auto options = Parse({"--screenshot", "/tmp/pictures"}, error);
        QVERIFY2(options, qPrintable(error));
        QVERIFY(options->simulate);
        QCOMPARE(options->screenshotDir, QStringLiteral("/tmp/pictures"));
        // It is not offered in the help.
        QVERIFY(!LaunchOptionsHelp().contains(QStringLiteral("screenshot")));
        QVERIFY(LaunchOptionsHelp().contains(QStringLiteral("--sim-fault")));
    }

    void refusals_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("sim option alone") << QStringList{"--sim-version", "1002"} << "--simulate";
        QTest::newRow("version not hex")
            << QStringList{"--simulate", "--sim-version", "12zz"} << "--sim-version";
        QTest::newRow("version too long")
            << QStringList{"--simulate", "--sim-version", "123456789"} << "--sim-version";
        QTest::newRow("version empty")
            << QStringList{"--simulate", "--sim-version", ""} << "--sim-version";
        QTest::newRow("firmware not hex")
            << QStringList{"--simulate", "--sim-firmware-version", "-1"}
            << "--sim-firmware-version";
        QTest::newRow("bad fault")
            << QStringList{"--simulate", "--sim-fault", "Nonsense:status"} << "Nonsense";
        QTest::newRow("bad fault kind")
            << QStringList{"--simulate", "--sim-fault", "WriteStorage:melt"} << "WriteStorage";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("missing value") << QStringList{"--simulate", "--sim-state"} << "sim-state";
        QTest::newRow("positional") << QStringList{"firmware.hex"} << "firmware.hex";
        QTest::newRow("unknown language") << QStringList{"--lang", "fr"} << "--lang";
    }
    void refusals() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reasonPart);
        QString error;
        QVERIFY(!Parse(arguments, error));
        QVERIFY2(error.contains(reasonPart), qPrintable(error));
    }

    void languageFromTheOptionOverTheLocale() {
        QString error;
        // The tests run under LC_ALL=C.UTF-8: the original texts.
        QCOMPARE(Parse({}, error)->language, TextLanguage::Original);
        QCOMPARE(Parse({"--lang", "en"}, error)->language, TextLanguage::English);
        QCOMPARE(Parse({"--lang", "original"}, error)->language, TextLanguage::Original);
    }

    void help() {
        QString error;
        const auto options = Parse({"--help"}, error);
        QVERIFY(options);
        QVERIFY(options->showHelp);
    }
};

QTEST_GUILESS_MAIN(MainLaunchOptionsTest)
#include "MainLaunchOptions_test.moc"
