#include "update/ui/CFirmwareDlg.h"

#include <QFileDialog>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>

#include "ui/DialogUnits.h"
#include "ui/FilePath.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/TextFormat.h"
#include "link/VersionText.h"
#include "update/FirmwareForm.h"
#include "update/UpdateProgrammerFirmware.h"

// What the worker and the UI thread share: whether the dialog is going away, and the
// signal that a marshalled call has run.
struct CFirmwareDlg::Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
};

namespace {

int ProgressValue(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max()));
}

}  // namespace

QString FirmwareVersionLine(std::uint32_t firmwareVersion) {
    return QString::fromStdString(FirmwareVersionText(firmwareVersion));
}

CFirmwareDlg::CFirmwareDlg(ProgrammerLink& link, QWidget* parent)
    : QDialog(parent), link_(link), gate_(std::make_shared<Gate>()) {
    setObjectName(QStringLiteral("CFirmwareDlg"));
    setWindowTitle(Tr(kFirmwareDlgCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(200, 62));

    versionLine_ = new QLabel(kFirmwareLineTemplate, this);
    versionLine_->setObjectName(QStringLiteral("id1031"));
    PlaceInUnits(versionLine_, du, 7, 7, 120, 8);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("id1016"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    PlaceInUnits(progress_, du, 7, 20, 186, 12);

    updateButton_ = new QPushButton(Tr(kFirmwareUpdateButton), this);
    updateButton_->setObjectName(QStringLiteral("id3"));
    updateButton_->setDefault(true);
    PlaceInUnits(updateButton_, du, 53, 40, 86, 14);
    connect(updateButton_, &QPushButton::clicked, this, &CFirmwareDlg::OnFirmwareUpdate);

    fileButton_ = new QPushButton(Tr(kFirmwareFileButton), this);
    fileButton_->setObjectName(QStringLiteral("chooseFile"));
    PlaceInUnits(fileButton_, du, 7, 40, 42, 14);
    connect(fileButton_, &QPushButton::clicked, this, &CFirmwareDlg::OnChooseFile);

    auto* cancel = new QPushButton(Tr(kFirmwareCancelButton), this);
    cancel->setObjectName(QStringLiteral("id2"));
    PlaceInUnits(cancel, du, 143, 40, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CFirmwareDlg::reject);

    versionLine_->setText(FirmwareVersionLine(link_.firmwareVersion()));
}

CFirmwareDlg::~CFirmwareDlg() {
    {
        std::lock_guard lock(gate_->mutex);
        gate_->closed = true;
    }
    gate_->changed.notify_all();
    // Calls the worker posts from now on are dropped with this object's event queue.
    if (worker_.joinable()) worker_.join();
}

void CFirmwareDlg::reject() {
    if (updating_) return;
    QDialog::reject();
}

QString CFirmwareDlg::ChooseFirmwareFile() {
    return QFileDialog::getOpenFileName(this, QString(), QString(), kFirmwareFileFilter);
}

void CFirmwareDlg::OnChooseFile() {
    if (updating_) return;  // the worker reads the chosen image until it ends
    const QString path = ChooseFirmwareFile();
    if (path.isEmpty()) return;
    std::vector<std::uint8_t> image;
    const FirmwareCheck check = ReadProgrammerFirmwareFile(ToFsPath(path), image);
    if (!check.ok()) {
        ShowSystemMessage(this, MessageIcon::Error, QString::fromStdString(check.problem));
        return;
    }
    chosenImage_ = std::move(image);
    const std::uint32_t version = ProgrammerFirmware{chosenImage_, false}.VersionWord();
    updateButton_->setToolTip(path + QStringLiteral(" — ") + FirmwareVersionLine(version));
}

void CFirmwareDlg::OnFirmwareUpdate() {
    // The worker disables the button only once it runs; a second click before that
    // must not start a second update.
    if (updating_) return;
    updating_ = true;
    fileButton_->setEnabled(false);
    const ProgrammerFirmware firmware = chosenImage_.empty()
                                            ? CarriedProgrammerFirmware()
                                            : ProgrammerFirmware{chosenImage_, false};
    worker_ = std::thread([this, firmware] {
        const bool succeeded = UpdateProgrammerFirmware(*this, firmware).ok();
        QMetaObject::invokeMethod(
            this, [this, succeeded] { OnWorkerEnded(succeeded); }, Qt::QueuedConnection);
    });
}

void CFirmwareDlg::OnWorkerEnded(bool succeeded) {
    if (worker_.joinable()) worker_.join();
    updating_ = false;
    fileButton_->setEnabled(true);
    emit updateFinished(succeeded);
}

void CFirmwareDlg::RunOnUiThread(const std::function<void()>& call) {
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    {
        std::lock_guard lock(gate_->mutex);
        if (gate_->closed) return;
    }
    auto done = std::make_shared<bool>(false);  // guarded by the gate's mutex
    std::shared_ptr<Gate> gate = gate_;
    QMetaObject::invokeMethod(
        this,
        [call, done, gate] {
            call();
            {
                std::lock_guard lock(gate->mutex);
                *done = true;
            }
            gate->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(gate->mutex);
    gate->changed.wait(lock, [&] { return *done || gate->closed; });
}

bool CFirmwareDlg::AskYesNo(std::string_view caption, std::string_view text) {
    bool yes = false;
    const QString captionText = QString::fromUtf8(caption.data(), caption.size());
    const QString questionText = QString::fromUtf8(text.data(), text.size());
    RunOnUiThread([&] { yes = AskSystemQuestion(this, captionText, questionText); });
    return yes;
}

void CFirmwareDlg::SetUpdateEnabled(bool enabled) {
    RunOnUiThread([this, enabled] { updateButton_->setEnabled(enabled); });
}

void CFirmwareDlg::ShowFirmwareVersion(std::uint32_t firmwareVersion) {
    RunOnUiThread(
        [this, firmwareVersion] { versionLine_->setText(FirmwareVersionLine(firmwareVersion)); });
}

void CFirmwareDlg::SetProgressRange(std::uint32_t maximum) {
    RunOnUiThread([this, maximum] { progress_->setRange(0, ProgressValue(maximum)); });
}

void CFirmwareDlg::SetProgressPosition(std::uint32_t position) {
    RunOnUiThread([this, position] { progress_->setValue(ProgressValue(position)); });
}

void CFirmwareDlg::ShowMessage(MessageIcon icon, std::string_view text) {
    const QString message = QString::fromUtf8(text.data(), text.size());
    RunOnUiThread([this, icon, message] { ShowSystemMessage(this, icon, message); });
}
