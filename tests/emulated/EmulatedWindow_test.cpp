// The main window on the Linux device path: udev's monitor tells it of programmers that
// umockdev emulates arriving and leaving, and hidapi-hidraw opens and identifies them.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/CMarrowdyneDlg.h"
#include "ui/SystemMessage.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "link/HidapiBackend.h"
#include "link/SimulatedProgrammer.h"
#include "tests/emulated/EmulatedHidraw.h"

namespace {

// Two programmers on a shelf, told apart by their serial numbers, versions and the jobs
// they hold.
struct ShelfPlace {
    const char* serial;
    std::uint32_t version;
    const char* job;
};
constexpr ShelfPlace kShelf[] = {
    {"0001", 0x1002, "first.hex"},
    {"0002", 0x0102, "second.hex"},
};

void StoreJobNamed(SimulatedProgrammer& programmer, const char* name) {
    JobHeader header;
    header.nameSize = static_cast<std::uint8_t>(std::strlen(name) + 1);
    const auto bytes = header.Encode();
    std::memcpy(programmer.Storage() + kJobAreaAddress, bytes.data(), bytes.size());
    std::memcpy(programmer.Storage() + kJobNameAddress, name, std::strlen(name) + 1);
}

QString ShownJobName(CMarrowdyneDlg& dialog) {
    auto* jobs = dialog.findChild<QTableWidget*>(QStringLiteral("id1009"));
    const QString nameRow = QString::fromUtf8(kRowName);
    for (int row = 0; jobs != nullptr && row < jobs->rowCount(); ++row) {
        if (jobs->item(row, 0)->text() == nameRow) return jobs->item(row, 1)->text();
    }
    return QString();
}

// The USB line of the device information dialog as the window opens it.
QString AboutIdentity(CMarrowdyneDlg& dialog) {
    QString identity = QStringLiteral("<no line>");
    QTimer::singleShot(0, &dialog, [&identity] {
        QWidget* about = QApplication::activeModalWidget();
        if (about == nullptr) return;
        if (auto* line = about->findChild<QLineEdit*>(QStringLiteral("programmerIdentity"))) {
            identity = line->text();
        }
        about->close();
    });
    dialog.OnAboutDevice();
    return identity;
}

}  // namespace

class EmulatedWindowTest : public QObject {
    Q_OBJECT

private slots:
    void programmersArriveAreChosenAndLeave() {
        std::vector<SystemMessage> messages;
        SetSystemMessageHook([&](const SystemMessage& m) {
            messages.push_back(m);
            return true;
        });
        EmulatedHidraw system;
        std::vector<std::unique_ptr<SimulatedProgrammer>> programmers;
        for (const ShelfPlace& place : kShelf) {
            programmers.push_back(std::make_unique<SimulatedProgrammer>(
                SimulatorConfig{.programmerVersion = place.version}));
            StoreJobNamed(*programmers.back(), place.job);
        }
        HidapiBackend backend;
        // The platform's watcher; the single window's own choice among several.
        MainDialogOptions options;
        options.shelfForSeveral = false;
        CMarrowdyneDlg dialog(backend, options);
        dialog.show();
        QTest::qWait(50);
        QVERIFY(dialog.FinishWorkers(20000));
        auto* devices = dialog.findChild<QComboBox*>(QStringLiteral("id1000"));
        QVERIFY(devices != nullptr);
        QCOMPARE(devices->count(), 0);
        QCOMPARE(dialog.connectionCode(), 0u);

        // One programmer: the single entry, identified.
        const std::string first = system.Plug({.serial = kShelf[0].serial}, programmers[0].get());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.programmerVersion(), kShelf[0].version, 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(dialog.firmwareVersion(), programmers[0]->FirmwareWord());
        QVERIFY(dialog.connectionCode() != 0);
        QCOMPARE(devices->count(), 1);
        QCOMPARE(devices->currentText(), kDeviceEntry);
        QCOMPARE(dialog.Link().DevicePath(), first);
        QCOMPARE(AboutIdentity(dialog), QStringLiteral("<no line>"));

        // A second one is listed, and the window stays with the first.
        const std::string second = system.Plug({.serial = kShelf[1].serial}, programmers[1].get());
        QTRY_COMPARE_WITH_TIMEOUT(devices->count(), 2, 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(devices->itemText(1), ProgrammerIdentityText(second, kShelf[1].serial));
        QCOMPARE(devices->currentIndex(), 0);
        QCOMPARE(dialog.Link().DevicePath(), first);
        QCOMPARE(dialog.programmerVersion(), kShelf[0].version);
        QCOMPARE(ShownJobName(dialog), QString::fromLatin1(kShelf[0].job));

        // Choosing the second identifies it, and the device information names it.
        QTest::keyClick(devices, Qt::Key_Down);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.programmerVersion(), kShelf[1].version, 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(dialog.Link().DevicePath(), second);
        QCOMPARE(dialog.firmwareVersion(), 0u);
        QCOMPARE(ShownJobName(dialog), QString::fromLatin1(kShelf[1].job));
        QCOMPARE(devices->currentIndex(), 1);
        QCOMPARE(AboutIdentity(dialog), ProgrammerIdentityText(second, kShelf[1].serial));

        // The chosen one leaves: never a silent switch to the other. Nothing is shown
        // and Program waits until the operator chooses the one that stays.
        auto* program = dialog.findChild<QPushButton*>(QStringLiteral("id4"));
        dialog.OpenChosenFile(QString::fromUtf8(MARRO_SOURCE_DIR "/samples/blink-f103.hex"));
        QVERIFY(program->isEnabled());
        system.Unplug(second);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.connectionCode(), 0u, 10000);
        QVERIFY(!dialog.Link().IsOpen());
        QCOMPARE(devices->count(), 1);
        QCOMPARE(devices->currentIndex(), -1);
        QCOMPARE(devices->itemText(0), ProgrammerIdentityText(first, kShelf[0].serial));
        QCOMPARE(dialog.findChild<QTableWidget*>(QStringLiteral("id1009"))->rowCount(), 0);
        QVERIFY(!program->isEnabled());
        dialog.OnDeviceChosen(0);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.programmerVersion(), kShelf[0].version, 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(dialog.Link().DevicePath(), first);
        QCOMPARE(ShownJobName(dialog), QString::fromLatin1(kShelf[0].job));
        QCOMPARE(devices->count(), 1);
        QCOMPARE(devices->currentText(), kDeviceEntry);
        QVERIFY(program->isEnabled());

        // The last one leaves: nothing is shown.
        system.Unplug(first);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.connectionCode(), 0u, 10000);
        QCOMPARE(dialog.programmerVersion(), 0u);
        QCOMPARE(devices->count(), 0);
        QCOMPARE(ShownJobName(dialog), QString());

        // Neither a refused watcher nor a failed identification said anything.
        for (const SystemMessage& m : messages) qWarning("message: %s", qPrintable(m.text));
        QVERIFY(messages.empty());
        dialog.close();
        SetSystemMessageHook(nullptr);
    }
    // Three programmers on the shelf, each opened on its own hidraw node: stored into at
    // once, and one pulled out afterwards is marked alone.
    void aShelfOfEmulatedProgrammersIsStoredIntoAtOnce() {
        EmulatedHidraw system;
        std::vector<std::unique_ptr<SimulatedProgrammer>> programmers;
        std::vector<std::string> nodes;
        for (const char* serial : {"0011", "0012", "0013"}) {
            programmers.push_back(std::make_unique<SimulatedProgrammer>(
                SimulatorConfig{.programmerVersion = 0x1002}));
            nodes.push_back(system.Plug({.serial = serial}, programmers.back().get()));
        }
        HidapiBackend backend;
        CMarrowdyneDlg dialog(backend, MainDialogOptions{});
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.shelf().Shown(), 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(dialog.shelf().Tiles().size(), std::size_t{3});
        dialog.OpenChosenFile(QString::fromUtf8(MARRO_SOURCE_DIR "/samples/blink-f103.hex"));
        dialog.findChild<QComboBox*>(QStringLiteral("id1001"))->setCurrentIndex(1);
        dialog.shelf().StoreIntoAll();
        QVERIFY(dialog.FinishWorkers(60000));
        for (std::size_t i = 0; i < 3; ++i) {
            const ShelfTile& tile = dialog.shelf().Tiles()[i];
            QCOMPARE(tile.state, TileState::HoldsJob);
            QCOMPARE(tile.jobName, std::string("blink-f103.hex"));
            QCOMPARE(reinterpret_cast<const char*>(programmers[i]->Storage() + kJobNameAddress),
                     "blink-f103.hex");
        }
        QCOMPARE(dialog.shelf().Counters().stored, std::size_t{3});

        system.Unplug(nodes[1]);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.shelf().Tiles()[1].state, TileState::Removed, 10000);
        QCOMPARE(dialog.shelf().Tiles()[0].state, TileState::HoldsJob);
        QCOMPARE(dialog.shelf().Tiles()[2].state, TileState::HoldsJob);
        dialog.close();
    }
};

QTEST_MAIN(EmulatedWindowTest)
#include "EmulatedWindow_test.moc"
