#include "update/ui/CFirmwareDlg.h"

#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <limits>
#include <string>

#include "ui/DialogUnits.h"
#include "ui/FilePath.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/TextFormat.h"
#include "link/VersionText.h"

namespace {

int ProgressValue(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max()));
}

}  // namespace

QString FirmwareVersionLine(std::uint32_t firmwareVersion) {
    return QString::fromStdString(FirmwareVersionText(firmwareVersion));
}

CFirmwareDlg::CFirmwareDlg(ProgrammerLink& link, QWidget* parent)
    : QDialog(parent), dispatcher_(this) {
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
    connect(updateButton_, &QPushButton::clicked, this, [this] { session_->Update(); });

    fileButton_ = new QPushButton(Tr(kFirmwareFileButton), this);
    fileButton_->setObjectName(QStringLiteral("chooseFile"));
    PlaceInUnits(fileButton_, du, 7, 40, 42, 14);
    connect(fileButton_, &QPushButton::clicked, this, &CFirmwareDlg::OnChooseFile);

    auto* cancel = new QPushButton(Tr(kFirmwareCancelButton), this);
    cancel->setObjectName(QStringLiteral("id2"));
    PlaceInUnits(cancel, du, 143, 40, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CFirmwareDlg::reject);

    session_ = std::make_unique<FirmwareDialogSession>(
        link, static_cast<FirmwareDialogView&>(*this), dispatcher_);
    session_->Start();
}

// The session goes first: it waits for its worker, whose calls then do nothing.
CFirmwareDlg::~CFirmwareDlg() { session_.reset(); }

void CFirmwareDlg::reject() {
    if (!session_->MayClose()) return;
    QDialog::reject();
}

QString CFirmwareDlg::ChooseFirmwareFile() {
    return QFileDialog::getOpenFileName(this, QString(), QString(), kFirmwareFileFilter);
}

void CFirmwareDlg::OnChooseFile() {
    if (session_->Updating()) return;
    const QString path = ChooseFirmwareFile();
    if (path.isEmpty()) return;
    session_->ChooseFile(ToFsPath(path), path.toStdString());
}

void CFirmwareDlg::ShowVersionLine(const std::string& line) {
    versionLine_->setText(QString::fromStdString(line));
}

void CFirmwareDlg::SetUpdateEnabled(bool enabled) { updateButton_->setEnabled(enabled); }

void CFirmwareDlg::SetFileChoiceEnabled(bool enabled) { fileButton_->setEnabled(enabled); }

void CFirmwareDlg::ShowChosenFirmware(const std::string& shownPath,
                                      const std::string& versionLine) {
    updateButton_->setToolTip(QString::fromStdString(shownPath) + QStringLiteral(" — ") +
                              QString::fromStdString(versionLine));
}

void CFirmwareDlg::SetProgressRange(std::uint32_t maximum) {
    progress_->setRange(0, ProgressValue(maximum));
}

void CFirmwareDlg::SetProgressPosition(std::uint32_t position) {
    progress_->setValue(ProgressValue(position));
}

void CFirmwareDlg::ShowMessage(MessageIcon icon, std::string_view text) {
    ShowSystemMessage(this, icon,
                      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

bool CFirmwareDlg::AskYesNo(std::string_view caption, std::string_view text) {
    return AskSystemQuestion(
        this, QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())),
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void CFirmwareDlg::UpdateFinished(bool succeeded) { emit updateFinished(succeeded); }
