// The main window against the simulated programmer: its controls wired to the session,
// loading by Open and by drop, the upload through the Program button, arrival and
// removal, closing while a worker runs, and Qt's own texts in the window's language.
// Message boxes are captured, never shown.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "app/CMarrowdyneDlg.h"
#include "ui/QtTranslations.h"
#include "app/Screenshots.h"
#include "ui/SystemMessage.h"
#include "common/Translation.h"
#include "image/FileLoading.h"
#include "job/JobHeader.h"
#include "job/UploadJob.h"
#include "job/IdentifyProgrammer.h"
#include "link/SimulatedBackend.h"

namespace {

// The user's answers to the Open dialog, the start-address dialog and the device-ID
// dialog.
class TestDlg : public CMarrowdyneDlg {
public:
    using CMarrowdyneDlg::CMarrowdyneDlg;
    QString chosenFile;
    std::optional<std::uint32_t> startAddress = 0x08000000;
    std::uint32_t remoteCodeAnswer = 0;

protected:
    QString ChooseFirmwareFile() override { return chosenFile; }
    std::optional<std::uint32_t> AskStartAddress() override { return startAddress; }
    std::uint32_t AskRemoteCode() override { return remoteCodeAnswer; }
};

std::vector<SystemMessage> g_messages;
bool g_answer = true;

QStringList Texts() {
    QStringList texts;
    for (const SystemMessage& m : g_messages) texts << m.text;
    return texts;
}

int CountRequests(const SimulatedProgrammer& programmer, Command command) {
    int count = 0;
    for (const auto& request : programmer.Requests()) {
        if (request.size() > 1 && request[1] == static_cast<std::uint8_t>(command)) ++count;
    }
    return count;
}

// A job as an earlier upload would have left it in the programmer.
void StoreJob(SimulatedProgrammer& programmer, JobHeader header, const char* name) {
    header.nameSize = static_cast<std::uint8_t>(std::strlen(name) + 1);
    const auto bytes = header.Encode();
    std::memcpy(programmer.Storage() + kJobAreaAddress, bytes.data(), bytes.size());
    std::memcpy(programmer.Storage() + kJobNameAddress, name, std::strlen(name) + 1);
}

void StoreJob(SimulatedProgrammer& programmer, std::uint8_t series, const char* name) {
    JobHeader header;
    header.series = series;
    header.options = OptVerify;
    header.jobStart = 0x08000000;
    header.jobLength = 1024;
    StoreJob(programmer, header, name);
}

void ClickIndicator(QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

// What the window answered to a drag's entering, moving and dropping: the action it
// accepted, or IgnoreAction.
struct DropAnswers {
    Qt::DropAction enter;
    Qt::DropAction move;
    Qt::DropAction drop;
};

DropAnswers Drop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    // As a file manager offers a file: copy, move or link, and with Shift held it proposes
    // a move. The events in the order the platform delivers them.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(QPoint(10, 10), offered, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(QPoint(12, 12), offered, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(12, 12), offered, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(target, &drop);
    if (enter.proposedAction() != Qt::MoveAction) qFatal("the drag proposes no move");
    auto answer = [](const QDropEvent& event) {
        return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
    };
    return DropAnswers{answer(enter), answer(move), answer(drop)};
}

// Every row of the job list lies within the list's view, and every value is whole: its
// column is as wide as its cell needs, and its tool tip carries it.
void VerifyWholeJobList(QTableWidget* jobs) {
    const QRect view = jobs->viewport()->rect();
    for (int row = 0; row < jobs->rowCount(); ++row) {
        for (int column = 0; column < 2; ++column) {
            const QModelIndex index = jobs->model()->index(row, column);
            const QRect cell = jobs->visualRect(index);
            QVERIFY2(cell.top() >= view.top() && cell.bottom() <= view.bottom(),
                     qPrintable(QStringLiteral("row %1 at %2..%3 beyond the view's %4")
                                    .arg(row)
                                    .arg(cell.top())
                                    .arg(cell.bottom())
                                    .arg(view.bottom())));
            QVERIFY2(jobs->columnWidth(column) >= jobs->sizeHintForIndex(index).width(),
                     qPrintable(jobs->item(row, column)->text()));
        }
        QCOMPARE(jobs->item(row, 1)->toolTip(), jobs->item(row, 1)->text());
    }
}

// One simulated backend and the main window over it.
struct Rig {
    explicit Rig(std::optional<SimulatorConfig> programmerConfig = SimulatorConfig{}) {
        if (programmerConfig) programmer = &backend.AddProgrammer(*programmerConfig);
    }
    void Start() {
        MainDialogOptions options;
        options.watchDevices = false;
        options.simulator = &backend;
        dialog = std::make_unique<TestDlg>(backend, options);
        // Codes of our own: two openings within one second must still differ.
        dialog->Link().SetConnectionCodeSource([this] { return ++codes * 0x111; });
        dialog->show();
        Settle();
    }
    void Settle() {
        QTest::qWait(20);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->WorkersRunning(), 20000);
        QCoreApplication::processEvents();
    }
    template <typename T>
    T* Find(int id) const {
        T* child = dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
        if (!child) qFatal("no control %d", id);
        return child;
    }
    QTableWidget* JobList() const { return Find<QTableWidget>(1009); }
    // The erased simulated programmer selects no series; Program needs one.
    void ChooseSeries() const { Find<QComboBox>(1001)->setCurrentIndex(1); }
    QString JobValue(const QString& label) const {
        for (int row = 0; row < JobList()->rowCount(); ++row) {
            if (JobList()->item(row, 0)->text() == label) return JobList()->item(row, 1)->text();
        }
        return QStringLiteral("<no row %1>").arg(label);
    }

    SimulatedBackend backend;
    SimulatedProgrammer* programmer = nullptr;
    std::unique_ptr<TestDlg> dialog;
    std::uint32_t codes = 0;
};

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;

    QString HexFile(const QString& name, std::uint32_t size = 1000) {
        return WriteFile(folder_.filePath(name), SampleHexText(0x08000000, size));
    }

private slots:
    void init() {
        g_messages.clear();
        g_answer = true;
        SetSystemMessageHook([](const SystemMessage& m) {
            g_messages.push_back(m);
            return g_answer;
        });
    }
    void cleanup() { SetSystemMessageHook(nullptr); }

    void startsWithoutAProgrammer() {
        Rig rig(std::nullopt);
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        QCOMPARE(dlg.windowTitle(), kMainCaption);
        QCOMPARE(rig.Find<QComboBox>(1000)->count(), 0);
        QVERIFY(!rig.Find<QPushButton>(4)->isEnabled());
        QVERIFY(!rig.Find<QPushButton>(6)->isEnabled());
        QCOMPARE(rig.JobList()->rowCount(), 0);
        QCOMPARE(dlg.connectionCode(), 0u);
        QVERIFY(g_messages.empty());
        // The job list and button 6 lie inside the window.
        const QRect inside = dlg.rect();
        const QPoint listBottom = rig.JobList()->mapTo(&dlg, rig.JobList()->rect().bottomRight());
        const QPoint buttonBottom =
            rig.Find<QPushButton>(6)->mapTo(&dlg, rig.Find<QPushButton>(6)->rect().bottomRight());
        QVERIFY(inside.contains(listBottom));
        QVERIFY(inside.contains(buttonBottom));
        // The path is shown, never typed into; the job list is one Tab stop.
        QVERIFY(rig.Find<QLineEdit>(1007)->isReadOnly());
        QVERIFY(!rig.JobList()->tabKeyNavigation());
    }

    void fitsASmallScreen() {
        Rig rig(std::nullopt);
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        auto* scroll = dlg.findChild<QScrollArea*>(QStringLiteral("clientScroll"));
        QVERIFY(scroll != nullptr);
        const int natural = dlg.height();
        // 1024 x 768 at 150 %: 682 x 512 of the window's own pixels.
        dlg.FitIntoScreen(QRect(0, 0, 682, 512));
        QVERIFY(dlg.height() < 512);
        QVERIFY(dlg.height() < natural);
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
        // Every control is still reached: scrolled to the end, button 6 shows.
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QPushButton* six = rig.Find<QPushButton>(6);
        const QPoint bottom = six->mapTo(scroll->viewport(), six->rect().bottomRight());
        QVERIFY(scroll->viewport()->rect().contains(bottom));
        // A screen it fits on gets the whole window again, without a scroll bar.
        dlg.FitIntoScreen(QRect(0, 0, 1920, 1080));
        QCOMPARE(dlg.height(), natural);
        QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
    }

    void platformWatcherStartsOrSaysSo() {
        // The real device watcher: it either follows hidraw nodes, or the window says
        // once that arrival and removal go unnoticed, and works on.
        SimulatedBackend backend;
        auto& programmer = backend.AddProgrammer();
        TestDlg dlg(backend, MainDialogOptions{});
        QVERIFY(dlg.FinishWorkers(20000));
        QTRY_VERIFY(dlg.findChild<QComboBox*>(QStringLiteral("id1000"))->count() == 1);
        QVERIFY(dlg.FinishWorkers(20000));
        QCoreApplication::processEvents();
        qInfo("device watcher: %s", g_messages.empty() ? "started" : "refused");
        if (!g_messages.empty()) {
            QCOMPARE(g_messages.size(), std::size_t{1});
            QCOMPARE(g_messages.front().text, kNotificationFailed);
            QCOMPARE(g_messages.front().caption, kApplicationTitle);
            QCOMPARE(g_messages.front().icon, QMessageBox::NoIcon);
        }
        QCOMPARE(dlg.programmerVersion(), programmer.ProgrammerVersion());
        dlg.close();
        QVERIFY(!dlg.WorkersRunning());
    }

    void identificationWinsOverTheDefaults() {
        {
            // The older kind serves one series, bits 8..11 of its version, whatever is stored.
            SimulatorConfig old;
            old.programmerVersion = 0x0102;
            Rig rig(old);
            StoreJob(*rig.programmer, 3, "old.hex");
            rig.Start();
            QCOMPARE(rig.Find<QComboBox>(1000)->currentText(), kDeviceEntry);
            QComboBox* series = rig.Find<QComboBox>(1001);
            QVERIFY(!series->isEnabled());
            QCOMPARE(series->currentText(), QStringLiteral("STM32F1XX"));
            QCOMPARE(rig.dialog->programmerVersion(), 0x0102u);
            QCOMPARE(rig.dialog->firmwareVersion(), 0u);
            QCOMPARE(CountRequests(*rig.programmer, Command::ReadProgrammerWord), 0);
            QCOMPARE(rig.JobList()->rowCount(), 8);  // no code-shift row for the older kind
            QCOMPARE(rig.JobValue(QStringLiteral("名称")), QStringLiteral("old.hex"));
            QVERIFY(rig.dialog->connectionCode() != 0u);
            QVERIFY(g_messages.empty());
        }
        {
            SimulatorConfig newer;
            newer.programmerVersion = 0x1002;
            newer.firmwareVersion = 0x0210;
            Rig rig(newer);
            // The widest job there is: every option, every count and the code shift.
            JobHeader widest;
            widest.series = 4;
            widest.options = OptReadProtect | OptVerify | OptRunAfter | OptFullErase |
                             OptCountLimit | OptLockChip;
            widest.countLimit = INT32_MIN;
            widest.programmedCount = 0x80000000;
            widest.jobStart = 0x08000000;
            widest.jobLength = 1024;
            widest.shiftEnabled = 1;
            widest.shiftAddress = 0xFFFFFFFF;
            widest.shiftStart = INT32_MIN;
            widest.shiftValue = INT32_MIN;
            widest.shiftStep = INT32_MIN;
            StoreJob(*rig.programmer, widest,
                     "a-firmware-file-with-a-long-name-for-this-board.hex");
            rig.Start();
            QComboBox* series = rig.Find<QComboBox>(1001);
            QVERIFY(series->isEnabled());
            QCOMPARE(series->currentText(), QStringLiteral("STM32F4XX"));
            QCOMPARE(rig.dialog->firmwareVersion(), 0x0210u);
            QCOMPARE(rig.JobList()->rowCount(), 9);
            QCOMPARE(rig.JobValue(QStringLiteral("设置")),
                     QStringLiteral("|读保护|校验数据|重启运行|擦除全片|编程次数|锁死芯片"));
            VerifyWholeJobList(rig.JobList());
        }
    }

    void failedIdentificationReportsItsStep() {
        Rig rig;
        rig.programmer->AddFault(Fault{Command::QueryVersion, FaultKind::Read, 1});
        rig.Start();
        QCOMPARE(Texts(), QStringList{QString::fromUtf8(kVersionReadFailed02.data(),
                                                        kVersionReadFailed02.size())});
        QCOMPARE(g_messages.front().icon, QMessageBox::Critical);
        QCOMPARE(g_messages.front().caption, kSystemCaption);
        QCOMPARE(g_messages.front().owner, rig.dialog.get());
        QCOMPARE(rig.dialog->programmerVersion(), 0u);
        QVERIFY(!rig.dialog->OnUpdateFirmwareUpdate());
    }

    // The rules themselves are the session's; here the controls reach them.
    void checkBoxesReachTheirRules() {
        Rig rig(std::nullopt);
        rig.Start();
        QCheckBox* readProtect = rig.Find<QCheckBox>(1002);
        QCheckBox* lockChip = rig.Find<QCheckBox>(1010);
        QCheckBox* countLimit = rig.Find<QCheckBox>(1011);
        QLineEdit* count = rig.Find<QLineEdit>(1012);

        // A real click on 1002's indicator clears 1010.
        lockChip->setChecked(true);
        ClickIndicator(readProtect);
        QVERIFY(readProtect->isChecked());
        QVERIFY(!lockChip->isChecked());

        // 1010 is hidden, so it is clicked the way the dialog manager would.
        g_answer = true;
        lockChip->click();
        QCOMPARE(g_messages.size(), std::size_t{1});
        QVERIFY(g_messages.back().question);
        QCOMPARE(g_messages.back().text, kLockChipQuestion);
        QCOMPARE(g_messages.back().caption, kApplicationTitle);
        QVERIFY(lockChip->isChecked());
        QVERIFY(!readProtect->isChecked());

        // 1011 enables 1012.
        ClickIndicator(countLimit);
        QVERIFY(count->isEnabled());
        ClickIndicator(countLimit);
        QVERIFY(!count->isEnabled());
    }

    void menuItemsFollowTheirCommands() {
        for (const std::uint32_t version : {0x0FFFu, 0x1000u}) {
            SimulatorConfig config;
            config.programmerVersion = version;
            Rig rig(config);
            rig.Start();
            QMenu* tools = rig.dialog->findChild<QMenu*>(QStringLiteral("menuTools"));
            QAction* update = rig.dialog->findChild<QAction*>(QStringLiteral("id32777"));
            QVERIFY(tools && update);
            tools->popup(QPoint(0, 0));
            QCOMPARE(update->isEnabled(), version >= 0x1000u);
            tools->hide();
        }
        Rig rig;
        rig.Start();
        QMenu* file = rig.dialog->findChild<QMenu*>(QStringLiteral("menuFile"));
        QAction* remote = rig.dialog->findChild<QAction*>(QStringLiteral("actionMakeRemoteFile"));
        file->popup(QPoint(0, 0));
        QVERIFY(!remote->isEnabled());
        file->hide();
        rig.dialog->chosenFile = HexFile(QStringLiteral("menu.hex"));
        rig.dialog->findChild<QAction*>(QStringLiteral("actionOpen"))->trigger();
        file->popup(QPoint(0, 0));
        QVERIFY(remote->isEnabled());
        file->hide();
    }

    void uploadThroughTheProgramButton() {
        Rig rig;
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        dlg.chosenFile = HexFile(QStringLiteral("Blink.HEX"), 1001);
        QTest::mouseClick(rig.Find<QPushButton>(3), Qt::LeftButton);
        QCOMPARE(rig.Find<QLineEdit>(1007)->text(), dlg.chosenFile);
        QPushButton* program = rig.Find<QPushButton>(4);
        QVERIFY(program->isEnabled());
        QVERIFY(rig.Find<QPushButton>(6)->isEnabled());

        // The erased programmer selects no series: the session's refusal, as a message box.
        QCOMPARE(rig.Find<QComboBox>(1001)->currentIndex(), -1);
        QTest::mouseClick(program, Qt::LeftButton);
        rig.Settle();
        QCOMPARE(Texts(), QStringList{kSeriesNotSelected});
        QCOMPARE(g_messages.back().icon, QMessageBox::Warning);
        QCOMPARE(g_messages.back().caption, kSystemCaption);
        g_messages.clear();

        // The settings as the controls show them when the worker asks.
        rig.Find<QComboBox>(1001)->setCurrentIndex(2);
        ClickIndicator(rig.Find<QCheckBox>(1002));
        ClickIndicator(rig.Find<QCheckBox>(1011));
        rig.Find<QLineEdit>(1012)->setText(QStringLiteral("7"));
        rig.programmer->ClearRequests();
        QTest::mouseClick(program, Qt::LeftButton);
        // Disabled at once, so a second click starts nothing.
        QVERIFY(!program->isEnabled());
        QTest::mouseClick(program, Qt::LeftButton);
        rig.Settle();

        QCOMPARE(Texts(),
                 QStringList{QString::fromUtf8(kUploadDoneText.data(), kUploadDoneText.size())});
        QCOMPARE(g_messages.back().icon, QMessageBox::Warning);
        QCOMPARE(g_messages.back().caption, kSystemCaption);
        QCOMPARE(g_messages.back().owner, &dlg);
        QVERIFY(program->isEnabled());
        QCOMPARE(CountRequests(*rig.programmer, Command::EraseStorage), 2);
        QCOMPARE(rig.Find<QProgressBar>(1008)->value(), 1004);
        QCOMPARE(rig.JobList()->rowCount(), 9);
        QCOMPARE(rig.JobValue(QStringLiteral("名称")), QStringLiteral("Blink.HEX"));
        QCOMPARE(rig.JobValue(QStringLiteral("类型")), QStringLiteral("STM32F2XX"));
        QCOMPARE(rig.JobValue(QStringLiteral("设置")),
                 QStringLiteral("|读保护|校验数据|擦除扇区|编程次数"));
        QCOMPARE(rig.JobValue(QStringLiteral("次数")), QStringLiteral("7"));
        QCOMPARE(rig.JobValue(QStringLiteral("长度")), QStringLiteral("1004"));
        // The image itself arrived.
        const QByteArray hex = SampleHexText(0x08000000, 1001);
        FirmwareImage expected;
        std::vector<std::uint8_t> buffer(kImageStorageSize);
        expected.imageBuffer = buffer.data();
        QCOMPARE(ReadHexText(reinterpret_cast<const std::uint8_t*>(hex.constData()),
                             static_cast<std::size_t>(hex.size()), expected),
                 HexOk);
        QVERIFY(std::memcmp(rig.programmer->Storage(), buffer.data(), 1001) == 0);
    }

    void removalAndArrival() {
        SimulatorConfig old;
        old.programmerVersion = 0x0102;
        Rig rig(old);
        StoreJob(*rig.programmer, 1, "stored.hex");
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        const std::uint32_t first = dlg.connectionCode();
        QVERIFY(first != 0u);
        QComboBox* series = rig.Find<QComboBox>(1001);
        QVERIFY(!series->isEnabled());
        QCOMPARE(rig.JobList()->rowCount(), 8);

        rig.backend.Unplug(old.path);
        QTRY_COMPARE(rig.Find<QComboBox>(1000)->count(), 0);
        QCOMPARE(rig.JobList()->rowCount(), 0);
        QVERIFY(series->isEnabled());
        QCOMPARE(series->currentIndex(), 1);
        QCOMPARE(dlg.connectionCode(), 0u);
        QCOMPARE(dlg.programmerVersion(), 0u);
        QCOMPARE(rig.backend.OpenHandles(old.path), 0);

        rig.programmer->ClearRequests();
        rig.backend.Plug(old.path);
        QTRY_COMPARE(rig.Find<QComboBox>(1000)->count(), 1);
        QCOMPARE(rig.Find<QComboBox>(1000)->currentText(), kDeviceEntry);
        rig.Settle();
        QVERIFY(dlg.connectionCode() != 0u);
        QVERIFY(dlg.connectionCode() != first);
        QCOMPARE(CountRequests(*rig.programmer, Command::QueryVersion), 1);
        QCOMPARE(rig.JobList()->rowCount(), 8);
        QVERIFY(!series->isEnabled());

        // The removal of another device changes nothing.
        rig.backend.AddOtherDevice("sim:keyboard", 0x1234, 0x0001);
        rig.backend.Unplug("sim:keyboard");
        QTest::qWait(20);
        QCOMPARE(rig.Find<QComboBox>(1000)->count(), 1);
        QVERIFY(g_messages.empty());
    }

    void programmerPulledDuringAnUpload() {
        Rig rig;
        // The fifth write request finds the programmer gone; the removal comes from the
        // worker's thread.
        rig.programmer->AddFault(Fault{Command::WriteStorage, FaultKind::Unplug, 5});
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        dlg.chosenFile = HexFile(QStringLiteral("pulled.hex"), 4096);
        dlg.OnOpenFile();
        rig.ChooseSeries();
        dlg.OnProgram();
        rig.Settle();
        QTRY_COMPARE(rig.Find<QComboBox>(1000)->count(), 0);
        // Below the step's message: the cut upload left no job, not half of one.
        QCOMPARE(Texts(),
                 QStringList{QString::fromUtf8(kUploadFailedTexts[12].data(),
                                               kUploadFailedTexts[12].size()) +
                             QStringLiteral("\n") +
                             QString::fromUtf8(kNoStoredJobText.data(), kNoStoredJobText.size())});
        QCOMPARE(rig.programmer->Storage()[0x1FE000], std::uint8_t{0xFF});
        QCOMPARE(g_messages.back().icon, QMessageBox::Critical);
        QVERIFY(rig.Find<QPushButton>(4)->isEnabled());
        QCOMPARE(dlg.connectionCode(), 0u);
    }

    void demoMenuPlugsAndUnplugs() {
        Rig rig;
        MainDialogOptions options;
        options.watchDevices = false;
        options.simulator = &rig.backend;
        options.demoProgrammerPath = SimulatorConfig{}.path;
        TestDlg dlg(rig.backend, options);
        QTRY_COMPARE(dlg.findChild<QComboBox*>(QStringLiteral("id1000"))->count(), 1);
        QMenu* demo = dlg.findChild<QMenu*>(QStringLiteral("menuDemo"));
        QAction* plug = dlg.findChild<QAction*>(QStringLiteral("actionPlugProgrammer"));
        QAction* unplug = dlg.findChild<QAction*>(QStringLiteral("actionUnplugProgrammer"));
        QVERIFY(demo && plug && unplug);
        demo->popup(QPoint(0, 0));
        QVERIFY(!plug->isEnabled());
        QVERIFY(unplug->isEnabled());
        demo->hide();
        unplug->trigger();
        QTRY_COMPARE(dlg.findChild<QComboBox*>(QStringLiteral("id1000"))->count(), 0);
        demo->popup(QPoint(0, 0));
        QVERIFY(plug->isEnabled());
        QVERIFY(!unplug->isEnabled());
        demo->hide();
        plug->trigger();
        QTRY_COMPARE(dlg.findChild<QComboBox*>(QStringLiteral("id1000"))->count(), 1);
        QVERIFY(dlg.FinishWorkers(20000));
        QCOMPARE(dlg.programmerVersion(), SimulatorConfig{}.programmerVersion);
        // Without a simulator there is no demo menu.
        Rig plain;
        plain.Start();
        QVERIFY(!plain.dialog->findChild<QMenu*>(QStringLiteral("menuDemo")));
    }

    void droppedFiles() {
        Rig rig(std::nullopt);
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        QLineEdit* path = rig.Find<QLineEdit>(1007);

        // Two files, or a file that is not local, change nothing.
        const QString a = HexFile(QStringLiteral("a.hex"));
        const QString b = HexFile(QStringLiteral("b.hex"));
        Drop(&dlg, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
        Drop(&dlg, {QUrl(QStringLiteral("https://example.invalid/c.hex"))});
        QCOMPARE(path->text(), QString());
        QVERIFY(!rig.Find<QPushButton>(4)->isEnabled());
        QVERIFY(g_messages.empty());

        // A long path is taken whole.
        QString deep = folder_.path();
        while (deep.size() < 240) {
            deep += QStringLiteral("/folder-with-a-long-name");
            QVERIFY(QDir().mkpath(deep));
        }
        const QString longFile = WriteFile(QDir(deep).filePath(QStringLiteral("deep.hex")),
                                           SampleHexText(0x08000000, 100));
        QVERIFY(longFile.size() > 250);
        const DropAnswers answers = Drop(&dlg, {QUrl::fromLocalFile(longFile)});
        QCOMPARE(path->text(), longFile);
        // Taken as a copy: the source keeps its file, whatever it proposed.
        QCOMPARE(answers.enter, Qt::CopyAction);
        QCOMPARE(answers.move, Qt::CopyAction);
        QCOMPARE(answers.drop, Qt::CopyAction);
        QVERIFY(rig.Find<QPushButton>(4)->isEnabled());

        // A dropped file whose whole name is "bin" is a raw binary file.
        const QString bin =
            WriteFile(folder_.filePath(QStringLiteral("bin")), QByteArray(64, '\x5A'));
        dlg.startAddress = 0x08004000;
        Drop(&dlg, {QUrl::fromLocalFile(bin)});
        QCOMPARE(path->text(), bin);
        QCOMPARE(dlg.workspace().image.imageStart, 0x08004000u);
        QCOMPARE(dlg.workspace().image.imageLength, 64u);
        // Cancelling the start address leaves the earlier load.
        dlg.startAddress.reset();
        Drop(&dlg,
             {QUrl::fromLocalFile(WriteFile(folder_.filePath(QStringLiteral("other.bin")), "xy"))});
        QCOMPARE(path->text(), bin);
        QVERIFY(g_messages.empty());

#ifdef MARRO_TEST_FIRMWARE_DIR
        // The built firmware: its S-record dropped and (where ELF is read) its ELF file
        // opened load to the image objcopy makes of it.
        const QDir firmware(QStringLiteral(MARRO_TEST_FIRMWARE_DIR));
        QFile binary(firmware.filePath(QStringLiteral("blink.bin")));
        QVERIFY(binary.open(QIODevice::ReadOnly));
        const QByteArray expected = binary.readAll();
        QVERIFY(expected.size() > 1024);
        const auto loadedIsExpected = [&] {
            const FirmwareImage& image = dlg.workspace().image;
            return image.imageStart == 0x08000000u &&
                   image.imageLength == std::uint32_t(expected.size()) &&
                   std::memcmp(image.imageBuffer, expected.constData(),
                               std::size_t(expected.size())) == 0;
        };
        const QString srec = firmware.filePath(QStringLiteral("blink.srec"));
        Drop(&dlg, {QUrl::fromLocalFile(srec)});
        QCOMPARE(path->text(), srec);
        QVERIFY(loadedIsExpected());
        dlg.chosenFile = firmware.filePath(QStringLiteral("blink.elf"));
        dlg.OnOpenFile();
        QCOMPARE(path->text(), dlg.chosenFile);
        QVERIFY(loadedIsExpected());
        QVERIFY(rig.Find<QPushButton>(4)->isEnabled());
        QVERIFY(g_messages.empty());
#endif
    }

    void refusedFilesKeepThePreviousLoad() {
        Rig rig(std::nullopt);
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        dlg.chosenFile = HexFile(QStringLiteral("good.hex"));
        dlg.OnOpenFile();
        QLineEdit* path = rig.Find<QLineEdit>(1007);
        QCOMPARE(path->text(), dlg.chosenFile);

        // Unsupported type, opened and dropped.
        const QString text = WriteFile(folder_.filePath(QStringLiteral("notes.txt")), "hello");
        dlg.chosenFile = text;
        dlg.OnOpenFile();
        Drop(&dlg, {QUrl::fromLocalFile(text)});
        // Without an extension the Open dialog's reading finds no type either.
        dlg.chosenFile =
            WriteFile(folder_.filePath(QStringLiteral("hex")), SampleHexText(0x08000000, 16));
        dlg.OnOpenFile();
        // The system's text, and a second line with every accepted type.
        const QString unsupported = QString::fromUtf8(kMsgUnsupportedType) + QStringLiteral("\n") +
                                    QString::fromUtf8(AcceptedFormatsNote());
        QCOMPARE(Texts(), (QStringList{unsupported, unsupported, unsupported}));
        for (const SystemMessage& m : g_messages) QCOMPARE(m.icon, QMessageBox::Critical);
        QCOMPARE(path->text(), folder_.filePath(QStringLiteral("good.hex")));

        // A broken HEX file.
        g_messages.clear();
        dlg.chosenFile = WriteFile(folder_.filePath(QStringLiteral("broken.hex")), ":10000000\n");
        dlg.OnOpenFile();
        QCOMPARE(Texts(), QStringList{QString::fromUtf8(kMsgLoadFailed)});
        QCOMPARE(path->text(), folder_.filePath(QStringLiteral("good.hex")));
        QVERIFY(rig.Find<QPushButton>(4)->isEnabled());
        // Cancelling the Open dialog does nothing.
        dlg.chosenFile.clear();
        dlg.OnOpenFile();
        QCOMPARE(g_messages.size(), std::size_t{1});
    }

    void remoteFileRoundTrip() {
        Rig rig;
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        dlg.chosenFile = HexFile(QStringLiteral("remote-src.hex"), 512);
        dlg.OnOpenFile();
        // The file takes the settings of the moment it is made.
        rig.Find<QComboBox>(1001)->setCurrentIndex(3);
        rig.Find<QCheckBox>(1002)->setChecked(true);
        rig.Find<QRadioButton>(1005)->setChecked(true);
        rig.Find<QCheckBox>(1011)->setChecked(true);
        rig.Find<QLineEdit>(1012)->setText(QStringLiteral("77"));
        // Code 0 makes nothing.
        dlg.remoteCodeAnswer = 0;
        dlg.OnMakeRemoteFile();
        rig.Settle();
        QVERIFY(g_messages.empty());
        QCOMPARE(dlg.remoteCode(), 0u);

        dlg.remoteCodeAnswer = dlg.connectionCode();
        QTest::mouseClick(rig.Find<QPushButton>(6), Qt::LeftButton);
        rig.Settle();
        QCOMPARE(dlg.remoteCode(), dlg.connectionCode());
        QCOMPARE(g_messages.size(), std::size_t{1});
        const QString done = g_messages.back().text;
        const QString prefix = QStringLiteral("远程文件生成成功 ");
        QVERIFY2(done.startsWith(prefix), qPrintable(done));
        const QString generated = done.mid(prefix.size());
        QVERIFY(QFile::exists(generated));
        QVERIFY(generated.endsWith(QStringLiteral("remote-src.qvz")));
        QCOMPARE(rig.JobValue(QStringLiteral("名称")), QStringLiteral("remote-src.qvz"));

        // A fresh window loads it after an image: Program, but no longer button 6 nor
        // its menu item, which would pack the scrambled record as an image.
        const QString copy = folder_.filePath(QStringLiteral("job.qvz"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(generated, copy));
        QFile::remove(generated);
        rig.dialog.reset();
        g_messages.clear();
        rig.Start();
        rig.dialog->chosenFile = HexFile(QStringLiteral("before.hex"), 64);
        rig.dialog->OnOpenFile();
        QVERIFY(rig.Find<QPushButton>(6)->isEnabled());
        rig.ChooseSeries();
        rig.dialog->chosenFile = copy;
        rig.dialog->OnOpenFile();
        QVERIFY(g_messages.empty());
        // The file's settings are what is stored: shown, and not to be changed.
        const auto settingsShown = [&](bool enabled) {
            for (int id : {1001, 1002, 1003, 1004, 1005, 1006, 1011, 1012}) {
                QWidget* control = rig.dialog->findChild<QWidget*>(QStringLiteral("id%1").arg(id));
                if (control->isEnabled() != enabled) return false;
            }
            return true;
        };
        QVERIFY(settingsShown(false));
        QCOMPARE(rig.Find<QComboBox>(1001)->currentIndex(), 3);
        QVERIFY(rig.Find<QCheckBox>(1002)->isChecked());
        QVERIFY(rig.Find<QRadioButton>(1005)->isChecked());
        QVERIFY(rig.Find<QCheckBox>(1011)->isChecked());
        QCOMPARE(rig.Find<QLineEdit>(1012)->text(), QStringLiteral("77"));
        // Another kind of file brings the user's own settings back, then the record again.
        rig.dialog->chosenFile = HexFile(QStringLiteral("between.hex"), 64);
        rig.dialog->OnOpenFile();
        QCOMPARE(rig.Find<QComboBox>(1001)->currentIndex(), 1);
        QVERIFY(!rig.Find<QCheckBox>(1002)->isChecked());
        QVERIFY(!rig.Find<QLineEdit>(1012)->isEnabled());
        QVERIFY(rig.Find<QCheckBox>(1011)->isEnabled() && rig.Find<QComboBox>(1001)->isEnabled());
        rig.dialog->chosenFile = copy;
        rig.dialog->OnOpenFile();
        QVERIFY(settingsShown(false));
        QVERIFY(rig.Find<QPushButton>(4)->isEnabled());
        QVERIFY(!rig.Find<QPushButton>(6)->isEnabled());
        QMenu* file = rig.dialog->findChild<QMenu*>(QStringLiteral("menuFile"));
        file->popup(QPoint(0, 0));
        QVERIFY(
            !rig.dialog->findChild<QAction*>(QStringLiteral("actionMakeRemoteFile"))->isEnabled());
        file->hide();
        QTest::mouseClick(rig.Find<QPushButton>(4), Qt::LeftButton);
        rig.Settle();
        QCOMPARE(Texts(),
                 QStringList{QString::fromUtf8(kUploadDoneText.data(), kUploadDoneText.size())});
        QCOMPARE(rig.JobValue(QStringLiteral("名称")), QStringLiteral("job.qvz"));
        QCOMPARE(rig.JobValue(QStringLiteral("长度")), QStringLiteral("512"));
    }

    void closingWhileAnUploadHangs() {
        Rig rig;
        // The 42nd image block never gets its answer.
        rig.programmer->AddFault(Fault{Command::WriteStorage, FaultKind::Hang, 42});
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        LinkTimeouts timeouts;
        timeouts.answerMs = 600;
        dlg.Link().SetTimeouts(timeouts);
        dlg.chosenFile = HexFile(QStringLiteral("hang.hex"), 64 * 1024);
        dlg.OnOpenFile();
        rig.ChooseSeries();
        dlg.OnProgram();
        QTRY_VERIFY(rig.Find<QProgressBar>(1008)->value() >= 32 * 38);

        // While the worker holds the image, a load is refused with a notice.
        const QString other = HexFile(QStringLiteral("other.hex"));
        Drop(&dlg, {QUrl::fromLocalFile(other)});
        QCOMPARE(g_messages.size(), std::size_t{1});
        QCOMPARE(g_messages.back().icon, QMessageBox::Warning);
        QCOMPARE(rig.Find<QLineEdit>(1007)->text(), folder_.filePath(QStringLiteral("hang.hex")));
        QCOMPARE(dlg.workspace().fileName, std::string("hang.hex"));

        // Escape alone leaves the window and the upload alone.
        g_messages.clear();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(g_messages.empty());
        // The close box asks first, with No as the default; No keeps both.
        g_answer = false;
        dlg.close();
        QVERIFY(dlg.isVisible());
        QCOMPARE(Texts(), QStringList{kCloseWhileStoringQuestion});
        QVERIFY(g_messages.back().question);
        QCOMPARE(g_messages.back().caption, kSystemCaption);
        QCOMPARE(g_messages.back().defaultButton, QMessageBox::No);
        QVERIFY(dlg.WorkersRunning());

        // Yes closes at once, and the note says what the programmer is left with; the
        // worker's own failure is not shown.
        g_messages.clear();
        g_answer = true;
        QElapsedTimer clock;
        clock.start();
        dlg.close();
        const qint64 closing = clock.elapsed();
        QVERIFY(!dlg.isVisible());
        QVERIFY2(closing < 3000, qPrintable(QString::number(closing)));
        QVERIFY(!dlg.WorkersRunning());
        QTest::qWait(50);
        QCOMPARE(Texts(), (QStringList{kCloseWhileStoringQuestion, kJobIncompleteNote}));
        QCOMPARE(g_messages.back().icon, QMessageBox::Warning);
        QCOMPARE(g_messages.back().caption, kSystemCaption);
        QCOMPARE(rig.backend.OpenHandles(SimulatorConfig{}.path), 0);
    }

    void closingWaitsBoundedForAnExchange() {
        // An exchange that outlasts the close wait: the window goes at once, and the
        // worker is left to end by itself, silently.
        Rig rig;
        rig.programmer->AddFault(Fault{Command::QueryVersion, FaultKind::Hang, 1});
        MainDialogOptions options;
        options.watchDevices = false;
        options.simulator = &rig.backend;
        rig.dialog = std::make_unique<TestDlg>(rig.backend, options);
        LinkTimeouts timeouts;
        timeouts.answerMs = kCloseWaitMs + 1500;
        rig.dialog->Link().SetTimeouts(timeouts);
        rig.dialog->show();
        QTRY_VERIFY(rig.dialog->WorkersRunning());
        // Inside the exchange, not before it: a request not yet written when the link
        // closes fails at once, and the close would have nothing to wait for.
        QTRY_VERIFY(rig.backend.RequestCount(rig.programmer->config().path) >= 1);
        QElapsedTimer clock;
        clock.start();
        rig.dialog->close();
        const qint64 closing = clock.elapsed();
        QVERIFY2(closing >= kCloseWaitMs - 100 && closing < kCloseWaitMs + 1000,
                 qPrintable(QString::number(closing)));
        QVERIFY(!rig.dialog->isVisible());
        QVERIFY(rig.dialog->WorkersRunning());
        QVERIFY(rig.dialog->FinishWorkers(-1));
        QVERIFY2(g_messages.empty(), qPrintable(Texts().join('|')));
    }

    void closingWhileAnUploadRuns() {
        Rig rig;
        rig.Start();
        TestDlg& dlg = *rig.dialog;
        dlg.chosenFile = HexFile(QStringLiteral("busy.hex"), 1024 * 1024);
        dlg.OnOpenFile();
        rig.ChooseSeries();
        dlg.OnProgram();
        // Served without pause, so the window closes a few blocks into the upload; at
        // the latest the worker waits for its last message to be shown.
        QElapsedTimer clock;
        clock.start();
        while (rig.Find<QProgressBar>(1008)->value() == 0 && clock.elapsed() < 10000) {
            QCoreApplication::processEvents();
        }
        QVERIFY(dlg.WorkersRunning());
        QVERIFY(g_messages.empty());
        clock.restart();
        dlg.close();
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!dlg.WorkersRunning());
        QTest::qWait(50);
        const QStringList asked{kCloseWhileStoringQuestion, kJobIncompleteNote};
        QCOMPARE(Texts(), asked);
        // Destroying the closed window is quiet.
        rig.dialog.reset();
        QCOMPARE(Texts(), asked);

        // Closed at once: the worker's first calls to the window are still waiting.
        for (int round = 0; round < 5; ++round) {
            rig.Start();
            rig.dialog->chosenFile = HexFile(QStringLiteral("busy.hex"), 4096);
            rig.dialog->OnOpenFile();
            rig.ChooseSeries();
            rig.dialog->OnProgram();
            g_messages.clear();
            clock.restart();
            rig.dialog->close();
            QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(!rig.dialog->WorkersRunning());
            rig.dialog.reset();
            QCOMPARE(Texts(), asked);
        }
    }

    void speaksEnglishWhenChosen() {
        std::string problem;
        QVERIFY2(ChooseLanguage(TextLanguage::English, problem), problem.c_str());
        Rig rig;
        rig.Start();
        const QString title = rig.dialog->windowTitle();
        const QString button = rig.Find<QPushButton>(4)->text();
        rig.dialog->chosenFile = HexFile(QStringLiteral("english.hex"));
        rig.dialog->OnOpenFile();
        rig.ChooseSeries();
        rig.dialog->OnProgram();
        rig.Settle();
        const QStringList texts = Texts();
        const QString settings = rig.JobValue(QStringLiteral("Settings"));
        rig.dialog.reset();
        QVERIFY(ChooseLanguage(TextLanguage::Original, problem));

        // The window's own texts, the engine's message and its job description.
        QCOMPARE(title, QStringLiteral("Tavrolink offline loader"));
        QCOMPARE(button, QStringLiteral("Program"));
        QCOMPARE(texts, QStringList{QStringLiteral("Success\u2000")});
        QCOMPARE(settings, QStringLiteral("|Verify|Sector erase"));
    }

    void qtTextsSpeakTheWindowsLanguage() {
        // The window's own languages are kept; any other gives way to Russian.
        QCOMPARE(QtTextsLocale(QLocale(QLocale::Russian, QLocale::Russia)).language(),
                 QLocale::Russian);
        QCOMPARE(QtTextsLocale(QLocale(QLocale::Chinese, QLocale::China)).language(),
                 QLocale::Chinese);
        QCOMPARE(QtTextsLocale(QLocale(QLocale::German, QLocale::Germany)).language(),
                 QLocale::Russian);
        QCOMPARE(QtTextsLocale(QLocale::c()).language(), QLocale::Russian);

        // The standard buttons of a question and of a dialog, under the C locale of the
        // tests, as the program installs them.
        QString error;
        QTranslator* translator = InstallQtTranslations(QLocale::c(), error);
        QVERIFY2(translator != nullptr,
                 qPrintable(error + QStringLiteral(
                                        " (scripts/install-deps installs qt6-translations-l10n)")));
        QMessageBox question(QMessageBox::Question, kSystemCaption, kCloseWhileStoringQuestion,
                             QMessageBox::Yes | QMessageBox::No);
        const QString yes = question.button(QMessageBox::Yes)->text();
        const QString no = question.button(QMessageBox::No)->text();
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        const QString cancel = box.button(QDialogButtonBox::Cancel)->text();
        QCoreApplication::removeTranslator(translator);
        delete translator;
        QCOMPARE(yes, QStringLiteral("&Да"));
        QCOMPARE(no, QStringLiteral("&Нет"));
        QCOMPARE(cancel, QStringLiteral("Отмена"));
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialog_test.moc"
