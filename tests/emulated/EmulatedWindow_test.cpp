// The main window on the Linux device path: udev's monitor tells it of a programmer that
// umockdev emulates arriving and leaving, and hidapi-hidraw opens and identifies it.
#include <QComboBox>
#include <QtTest>
#include <string>
#include <vector>

#include "app/CMarrowdyneDlg.h"
#include "app/SystemMessage.h"
#include "link/HidapiBackend.h"
#include "link/SimulatedProgrammer.h"
#include "tests/emulated/EmulatedHidraw.h"

class EmulatedWindowTest : public QObject {
    Q_OBJECT

private slots:
    void arrivalIdentifiesAndRemovalEmptiesTheDeviceId() {
        std::vector<SystemMessage> messages;
        SetSystemMessageHook([&](const SystemMessage& m) {
            messages.push_back(m);
            return true;
        });
        EmulatedHidraw system;
        SimulatedProgrammer programmer;
        HidapiBackend backend;
        CMarrowdyneDlg dialog(backend, MainDialogOptions{});  // the platform's watcher
        dialog.show();
        QTest::qWait(50);
        QVERIFY(dialog.FinishWorkers(20000));
        auto* devices = dialog.findChild<QComboBox*>(QStringLiteral("id1000"));
        QVERIFY(devices != nullptr);
        QCOMPARE(devices->count(), 0);
        QCOMPARE(dialog.connectionCode(), 0u);

        const std::string node = system.Plug({}, &programmer);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.programmerVersion(), programmer.ProgrammerVersion(), 10000);
        QVERIFY(dialog.FinishWorkers(20000));
        QCOMPARE(dialog.firmwareVersion(), programmer.FirmwareWord());
        QVERIFY(dialog.connectionCode() != 0);
        QCOMPARE(devices->count(), 1);
        QCOMPARE(dialog.Link().DevicePath(), node);

        system.Unplug(node);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.connectionCode(), 0u, 10000);
        QCOMPARE(dialog.programmerVersion(), 0u);
        QCOMPARE(devices->count(), 0);

        // Neither a refused watcher nor a failed identification said anything.
        for (const SystemMessage& m : messages) qWarning("message: %s", qPrintable(m.text));
        QVERIFY(messages.empty());
        dialog.close();
        SetSystemMessageHook(nullptr);
    }
};

QTEST_MAIN(EmulatedWindowTest)
#include "EmulatedWindow_test.moc"
