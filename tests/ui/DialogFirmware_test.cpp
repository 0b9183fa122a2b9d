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
#include "update/ProgrammerFirmware.h"
#include "update/ui/CFirmwareDlg.h"

namespace {

constexpr int kWaitMs = 20000;

std::uint32_t CarriedSize() { return static_cast<std::uint32_t>(ProgrammerFirmwareImage().size()); }

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

    // Starts the update and waits for the worker to end; returns its result.
    bool RunUpdate(CFirmwareDlg& dialog) {
        QSignalSpy finished(&dialog, &CFirmwareDlg::updateFinished);
        Child<QPushButton>(dialog, "id3")->click();
        if (!finished.wait(kWaitMs)) qFatal("the update did not end");
        return finished.at(0).at(0).toBool();
    }

private slots:
    void init() {
        shown_.clear();
        answer_ = false;
    }
    void cleanup() { SetSystemMessageHook(nullptr); }

    void showsTheInstalledVersion() {
        QCOMPARE(FirmwareVersionLine(0x0220), QStringLiteral("Frimware:2.20"));
        QCOMPARE(FirmwareVersionLine(0x1001), QStringLiteral("Frimware:10.01"));
        QCOMPARE(FirmwareVersionLine(0xFFFFFFFF), QStringLiteral("Frimware:ffffff.ff"));
        Bench bench(0x0220);
        CFirmwareDlg dialog(bench.link, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Обновление ПО"));
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.20"));
        QCOMPARE(Child<QPushButton>(dialog, "id3")->text(), QStringLiteral("Обновление прошивки"));
        QCOMPARE(Child<QPushButton>(dialog, "id2")->text(), QStringLiteral("Отмена"));
        QVERIFY(Child<QPushButton>(dialog, "id3")->isEnabled());
    }

    void installsAChosenFileAfterCheckingIt() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Bench bench(0x0210);
        ChoosingDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        auto* choose = Child<QPushButton>(dialog, "chooseFile");
        QCOMPARE(choose->text(), QStringLiteral("Файл..."));

        // A file without the programmer's form is refused at once, with what is wrong.
        std::vector<std::uint8_t> broken = MakeFirmwareImage(0x400, 0x0215);
        WriteLe32(&broken[0], 0x08010000);
        dialog.chosenFile = dir.filePath(QStringLiteral("broken.bin"));
        WriteFile(dialog.chosenFile, broken);
        choose->click();
        QCOMPARE(shown_.size(), std::size_t{1});
        QCOMPARE(shown_[0].message.icon, QMessageBox::Critical);
        QCOMPARE(shown_[0].message.owner, &dialog);
        QVERIFY2(shown_[0].message.text.contains(QStringLiteral("broken.bin")) &&
                     shown_[0].message.text.contains(QStringLiteral("stack pointer")),
                 qPrintable(shown_[0].message.text));

        // A good one is what the update then installs.
        const std::vector<std::uint8_t> image = MakeFirmwareImage(0x400, 0x0215);
        dialog.chosenFile = dir.filePath(QStringLiteral("fw.bin"));
        WriteFile(dialog.chosenFile, image);
        choose->click();
        QCOMPARE(shown_.size(), std::size_t{1});
        shown_.clear();
        QVERIFY(RunUpdate(dialog));
        QCOMPARE(shown_.at(0).message.text, QStringLiteral("固件更新完成"));
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.15"));
        const std::uint8_t* area =
            bench.programmer.Flash() + (kFirmwareAreaAddress - kSimFlashAddress);
        QVERIFY(std::equal(image.begin(), image.end(), area));
        QCOMPARE(bench.CountOf(Command::WriteFirmware), 0x400 / 32);
    }

    void sameVersionAsksAndNoSendsNothing() {
        Bench bench(0x0220);
        CFirmwareDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        QVERIFY(!RunUpdate(dialog));
        QCOMPARE(shown_.size(), std::size_t{1});
        const SystemMessage& question = shown_[0].message;
        QVERIFY(question.question);
        QCOMPARE(question.caption, QStringLiteral("提示"));
        QCOMPARE(question.text, QStringLiteral("固件已经是最新版本,是否继续更新固件?"));
        QCOMPARE(question.owner, &dialog);
        QVERIFY(!shown_[0].updateEnabled);  // disabled before asking
        QVERIFY(bench.programmer.Requests().empty());
        QVERIFY(Child<QPushButton>(dialog, "id3")->isEnabled());
        QCOMPARE(bench.link.firmwareVersion(), std::uint32_t{0x0220});
    }

    void olderVersionUpdatesWithoutAsking() {
        Bench bench(0x0210);
        CFirmwareDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.10"));
        QVERIFY(RunUpdate(dialog));

        QCOMPARE(shown_.size(), std::size_t{1});
        const SystemMessage& done = shown_[0].message;
        QVERIFY(!done.question);
        QCOMPARE(done.text, QStringLiteral("固件更新完成"));
        QCOMPARE(done.icon, QMessageBox::Warning);
        QCOMPARE(done.caption, QStringLiteral("\u2000\u2000"));
        QCOMPARE(done.owner, &dialog);
        QVERIFY(!shown_[0].updateEnabled);  // still disabled while the result shows
        QVERIFY(Child<QPushButton>(dialog, "id3")->isEnabled());

        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.20"));
        QCOMPARE(bench.link.firmwareVersion(), std::uint32_t{0x0220});
        QCOMPARE(bench.programmer.FirmwareWord(), std::uint32_t{0x0220});
        auto* progress = Child<QProgressBar>(dialog, "id1016");
        const std::uint32_t size = CarriedSize();
        const int blocks = static_cast<int>((size + 31) / 32);
        QCOMPARE(progress->maximum(), static_cast<int>(size));
        QCOMPARE(progress->value(), (blocks - 1) * 32);  // the last block's offset
        QCOMPARE(bench.CountOf(Command::WriteFirmware), blocks);
        QCOMPARE(bench.CountOf(Command::EraseFirmware), 1);
        QCOMPARE(bench.CountOf(Command::FirmwareCrc), 1);
    }

    void writeRefusedAtTheHundredthBlock() {
        Bench bench(0x0210);
        bench.programmer.AddFault(Fault{Command::WriteFirmware, FaultKind::Status, 100});
        CFirmwareDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        QVERIFY(!RunUpdate(dialog));
        QCOMPARE(shown_.size(), std::size_t{1});
        QCOMPARE(shown_[0].message.text, QStringLiteral("固件更新失败 错误码:06"));
        QCOMPARE(shown_[0].message.icon, QMessageBox::Critical);
        QCOMPARE(shown_[0].message.owner, &dialog);
        QCOMPARE(Child<QProgressBar>(dialog, "id1016")->value(), 3136);
        QCOMPARE(Child<QLabel>(dialog, "id1031")->text(), QStringLiteral("Frimware:2.10"));
        QCOMPARE(bench.link.firmwareVersion(), std::uint32_t{0x0210});
        QVERIFY(Child<QPushButton>(dialog, "id3")->isEnabled());
        // Nothing is rolled back and it can run again at once.
        shown_.clear();
        QVERIFY(RunUpdate(dialog));
        QCOMPARE(shown_.at(0).message.text, QStringLiteral("固件更新完成"));
    }

    void aSecondClickDoesNotStartASecondUpdate() {
        Bench bench(0x0210);
        CFirmwareDlg dialog(bench.link, nullptr);
        dialog.show();
        Capture(&dialog);
        QSignalSpy finished(&dialog, &CFirmwareDlg::updateFinished);
        auto* update = Child<QPushButton>(dialog, "id3");
        update->click();
        update->click();
        QVERIFY(finished.wait(kWaitMs));
        QTest::qWait(100);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(bench.CountOf(Command::EraseFirmware), 1);
    }

    void refusesToCloseWhileTheUpdateRuns() {
        Bench bench(0x0210);
        // A read that never answers keeps the worker busy for the link's time-out.
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
        QCOMPARE(shown_.size(), std::size_t{1});
        QCOMPARE(shown_[0].message.text, QStringLiteral("固件更新失败 错误码:05"));
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
        QThread::msleep(200);  // the worker posts its question and waits for it
        // The worker asks the question through the UI thread, which never gets to it:
        // the destructor must release the worker, which then takes the answer as No.
        dialog.reset();
        QVERIFY(shown_.empty());
        QVERIFY(bench.programmer.Requests().empty());

        // Destroyed in the middle of the writes, while the worker waits for an answer that
        // never comes: the worker runs to its end (a read failure), unseen.
        Bench writing(0x0210);
        writing.programmer.AddFault(Fault{Command::WriteFirmware, FaultKind::Hang, 20});
        dialog = std::make_unique<CFirmwareDlg>(writing.link, nullptr);
        dialog->show();
        Capture(dialog.get());
        Child<QPushButton>(*dialog, "id3")->click();
        auto* progress = Child<QProgressBar>(*dialog, "id1016");
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 18 * 32, kWaitMs);
        dialog.reset();
        QVERIFY(shown_.empty());
        QCOMPARE(writing.CountOf(Command::WriteFirmware), 20);
        QCOMPARE(writing.CountOf(Command::FirmwareCrc), 0);
        QCOMPARE(writing.link.firmwareVersion(), std::uint32_t{0x0210});
    }
};

QTEST_MAIN(DialogFirmwareTest)
#include "DialogFirmware_test.moc"
