// The shelf panel's wiring: the window over four simulated programmers, one with an aimed
// fault. The shelf's rules are tested on its session; here only what the window shows
// and forwards.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "app/CMarrowdyneDlg.h"
#include "app/Screenshots.h"
#include "link/SimulatorSetup.h"
#include "ui/SystemMessage.h"

namespace {

class ShelfDlg : public CMarrowdyneDlg {
public:
    using CMarrowdyneDlg::CMarrowdyneDlg;
    QString logFile;

protected:
    QString ChooseLogFile() override { return logFile; }
};

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace

class ShelfTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        SetSystemMessageHook([this](const SystemMessage& m) {
            messages << m.text;
            return true;
        });
    }
    void cleanup() { SetSystemMessageHook(nullptr); }

    void storeIntoAllAndTheLogPane() {
        SimulatorRequest request;
        request.count = 4;
        std::string error;
        request.faults.push_back(*ParseAimedFault("2:WriteStorage:status@5", 4, error));
        SimulatorSetupError refused;
        std::optional<SimulatedShelf> sim = SetUpSimulator(request, refused);
        QVERIFY(sim);
        MainDialogOptions options;
        options.watchDevices = false;
        options.simulator = sim->backend.get();
        options.demoProgrammerPath = sim->programmers.front()->config().path;
        for (SimulatedProgrammer* programmer : sim->programmers)
            options.demoShelfPaths.push_back(programmer->config().path);
        ShelfDlg dlg(*sim->backend, options);
        dlg.show();
        // Four attached: the shelf's panel beside the controls, a tile each.
        QWidget* panel = dlg.findChild<QWidget*>(QStringLiteral("shelfPanel"));
        QTRY_VERIFY(panel && panel->isVisible());
        QTRY_VERIFY(dlg.findChild<QWidget*>(QStringLiteral("shelfTile3")));
        QVERIFY(dlg.FinishWorkers(20000));
        QVERIFY(dlg.findChild<QAction*>(QStringLiteral("actionShelf"))->isChecked());

        QTemporaryDir folder;
        dlg.logFile = folder.filePath(QStringLiteral("production.log"));
        dlg.findChild<QAction*>(QStringLiteral("actionLogFile"))->trigger();
        const QString hex = folder.filePath(QStringLiteral("blink.hex"));
        QFile file(hex);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(SampleHexText(0x08000000, 2048));
        file.close();
        dlg.OpenChosenFile(hex);
        dlg.findChild<QComboBox*>(QStringLiteral("id1001"))->setCurrentIndex(1);

        QPushButton* storeAll = dlg.findChild<QPushButton*>(QStringLiteral("shelfStoreAll"));
        QPushButton* open = dlg.findChild<QPushButton*>(QStringLiteral("id3"));
        QTest::mouseClick(storeAll, Qt::LeftButton);
        // The file and the settings are held while the shelf writes.
        QVERIFY(!open->isEnabled());
        QVERIFY(!dlg.findChild<QComboBox*>(QStringLiteral("id1001"))->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(storeAll->isEnabled(), 20000);
        QVERIFY(open->isEnabled());

        const auto stateOf = [&](int tile) {
            return dlg.findChild<QWidget*>(QStringLiteral("shelfTile%1").arg(tile))
                ->findChild<QLabel*>(QStringLiteral("tileState"))
                ->text();
        };
        const QString holds = QString::fromUtf8(TileStateText(TileState::HoldsJob));
        for (int tile : {0, 1, 3})
            QVERIFY2(stateOf(tile).startsWith(holds), qPrintable(stateOf(tile)));
        QVERIFY(stateOf(2).endsWith(QString::fromUtf8(kUploadFailedTexts[14].data())));
        QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("shelfCounters"))
                    ->text()
                    .contains(QStringLiteral("3")));
        QVERIFY(messages.isEmpty());

        // The pane's lines are the log file's records.
        QTableWidget* pane = dlg.findChild<QTableWidget*>(QStringLiteral("shelfLog"));
        QCOMPARE(pane->rowCount(), 4);
        QStringList records;
        for (int row = 0; row < pane->rowCount(); ++row) records << pane->item(row, 0)->toolTip();
        QCOMPARE(FileLines(dlg.logFile), records);

        // The demo menu plugs one programmer of the shelf out: its tile says so.
        QAction* third = dlg.findChild<QAction*>(QStringLiteral("actionDemoProgrammer3"));
        QVERIFY(third);
        dlg.findChild<QMenu*>(QStringLiteral("menuDemo"))->popup(QPoint(0, 0));
        QVERIFY(third->isChecked());
        third->trigger();
        QTRY_VERIFY(stateOf(3).startsWith(QString::fromUtf8(TileStateText(TileState::Removed))));

        // Back to the single programmer's window: the dialog has its programmer again.
        dlg.findChild<QAction*>(QStringLiteral("actionShelf"))->trigger();
        QVERIFY(!panel->isVisible());
        QTRY_COMPARE(dlg.findChild<QComboBox*>(QStringLiteral("id1000"))->count(), 3);
        QVERIFY(dlg.FinishWorkers(20000));
        dlg.close();
    }

private:
    QStringList messages;
};

QTEST_MAIN(ShelfTest)
#include "Shelf_test.moc"
