// The firmware dialog as the session's view: its buttons, the refusal to close while the
// update runs, its signal and its message boxes over a simulated programmer. The rules
// are tested on the session itself.
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
#include <vector>

#include "ui/SystemMessage.h"
#include "link/ProgrammerLink.h"
#include "link/SimulatedBackend.h"
#include "tests/engine/TestFirmware.h"
#include "update/ui/CFirmwareDlg.h"

namespace {

constexpr int kWaitMs = 20000;

// A simulated programmer with the given installed firmware, opened on a link.
struct Bench {
    explicit Bench(std::uint32_t installed)
        : programmer(backend.AddProgrammer(SimulatorConfig{0x1002, installed})), link(backend) {
        if (!link.Open()) qFatal("the simulated programmer did not open");
        link.SetFirmwareVersion(installed);
        link.SetTimeouts(LinkTimeouts{.answerMs = 300});
    }
    int CountOf(Command command) const {
        int count = 0;
        for (const auto& request : programmer.Requests()) {
            count += request.size() > 1 && request[1] == static_cast<std::uint8_t>(command);
        }
        return count;
    }
    SimulatedBackend backend;  // first: the members below are made from it
    SimulatedProgrammer& programmer;
    ProgrammerLink link;
};

// The dialog with the open-file dialog answered by the test.
class ChoosingDlg : public CFirmwareDlg {
public:
    using CFirmwareDlg::CFirmwareDlg;
    QString chosenFile;

protected:
    QString ChooseFirmwareFile() override { return chosenFile; }
};

void WriteFile(const QString& path, const std::vector<std::uint8_t>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

struct Shown {
    SystemMessage message;
    bool updateEnabled = false;  // button 3 while the message was up
};

template <typename T>
T* Child(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QLatin1String(name));
    if (child == nullptr) qFatal("no control %s", name);
    return child;
}

}  // namespace

class DialogFirmwareTest : public QObject {
    Q_OBJECT

private:
    std::vector<Shown> shown_;
    bool answer_ = false;
    QWidget* watched_ = nullptr;

    void Capture(QWidget* dialog) {
        watched_ = dialog;
        SetSystemMessageHook([this](const SystemMessage& message) {
            auto* update = watched_->findChild<QPushButton*>(QStringLiteral("id3"));
            shown_.push_back(Shown{message, update != nullptr && update->isEnabled()});
            return answer_;
        });
    }

private slots:
    void init() {
        shown_.clear();
        answer_ = false;
    }
    void cleanup() { SetSystemMessageHook(nullptr); }

    void layoutAndTheInstalledVersion() {
        Bench bench(0x0220);
        CFirmwareDlg dialog(bench.link, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Обновление ПО"));
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.20"));
        QCOMPARE(Child<QPushButton>(dialog, "id3")->text(), QStringLiteral("Обновление прошивки"));
        QCOMPARE(Child<QPushButton>(dialog, "chooseFile")->text(), QStringLiteral("Файл..."));
        QCOMPARE(Child<QPushButton>(dialog, "id2")->text(), QStringLiteral("Отмена"));
        QVERIFY(Child<QPushButton>(dialog, "id3")->isEnabled());
    }

    // The buttons reach the session, and what it shows reaches the controls and the
    // message boxes; the rules themselves are the session's.
    void buttonsAndWhatTheSessionShows() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Bench bench(0x0215);
        ChoosingDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        auto* choose = Child<QPushButton>(dialog, "chooseFile");
        auto* update = Child<QPushButton>(dialog, "id3");

        std::vector<std::uint8_t> broken = MakeFirmwareImage(0x400, 0x0215);
        WriteLe32(&broken[0], 0x08010000);
        dialog.chosenFile = dir.filePath(QStringLiteral("broken.bin"));
        WriteFile(dialog.chosenFile, broken);
        choose->click();
        QCOMPARE(shown_.size(), std::size_t{1});
        QCOMPARE(shown_[0].message.icon, QMessageBox::Critical);
        QCOMPARE(shown_[0].message.owner, &dialog);
        QVERIFY(update->toolTip().isEmpty());

        const std::vector<std::uint8_t> image = MakeFirmwareImage(0x400, 0x0215);
        dialog.chosenFile = dir.filePath(QStringLiteral("fw.bin"));
        WriteFile(dialog.chosenFile, image);
        choose->click();
        QCOMPARE(update->toolTip(), dialog.chosenFile + QStringLiteral(" — Frimware:2.15"));

        // The same version: the question is the dialog's, and its Yes reaches the worker.
        shown_.clear();
        answer_ = true;
        QSignalSpy finished(&dialog, &CFirmwareDlg::updateFinished);
        update->click();
        QVERIFY(!choose->isEnabled());
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(shown_.size(), std::size_t{2});
        QVERIFY(shown_[0].message.question);
        QCOMPARE(shown_[0].message.caption, QStringLiteral("提示"));
        QCOMPARE(shown_[0].message.owner, &dialog);
        QVERIFY(!shown_[0].updateEnabled);
        QCOMPARE(shown_[1].message.text, QStringLiteral("固件更新完成"));
        QCOMPARE(shown_[1].message.icon, QMessageBox::Warning);
        QCOMPARE(shown_[1].message.caption, QStringLiteral("\u2000\u2000"));
        QCOMPARE(shown_[1].message.owner, &dialog);
        QVERIFY(update->isEnabled());
        QVERIFY(choose->isEnabled());
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.15"));
        auto* progress = Child<QProgressBar>(dialog, "id1016");
        QCOMPARE(progress->maximum(), 0x400);
        QCOMPARE(progress->value(), 0x400 - 32);  // the last block's offset
        QCOMPARE(bench.CountOf(Command::WriteFirmware), 0x400 / 32);
    }

    void refusesToCloseWhileTheUpdateRuns() {
        Bench bench(0x0210);
        // A write that never answers keeps the worker busy for the link's time-out.
        bench.programmer.AddFault(Fault{Command::WriteFirmware, FaultKind::Hang, 3});
        CFirmwareDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        QSignalSpy finished(&dialog, &CFirmwareDlg::updateFinished);
        Child<QPushButton>(dialog, "id3")->click();
        QVERIFY(dialog.IsUpdating());
        Child<QPushButton>(dialog, "id2")->click();
        QVERIFY(dialog.isVisible());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.close());
        QVERIFY(dialog.isVisible());
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        Child<QPushButton>(dialog, "id2")->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int{QDialog::Rejected});
    }

    void destroyedWhileTheWorkerWaitsOnTheDialog() {
        Bench bench(0x0220);
        auto dialog = std::make_unique<CFirmwareDlg>(bench.link, nullptr);
        dialog->show();
        Capture(dialog.get());
        Child<QPushButton>(*dialog, "id3")->click();
        QThread::msleep(200);  // the worker posts its calls and waits for them
        // The Qt event loop never gets to them: the destructor must release the worker,
        // which then takes the answer as No.
        dialog.reset();
        QVERIFY(shown_.empty());
        QVERIFY(bench.programmer.Requests().empty());
    }
};

QTEST_MAIN(DialogFirmwareTest)
#include "DialogFirmware_test.moc"
