#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/Translation.h"
#include "link/ProgrammerLink.h"
#include "ui/QtDispatcher.h"
#include "update/FirmwareDialogSession.h"
#include "update/UpdateProgrammerFirmware.h"

class QLabel;
class QProgressBar;
class QPushButton;

inline const QString kFirmwareDlgCaption = QStringLiteral(N_("Обновление ПО"));
inline const QString kFirmwareLineTemplate = QStringLiteral("Frimware:");
inline const QString kFirmwareUpdateButton = QStringLiteral(N_("Обновление прошивки"));
inline const QString kFirmwareCancelButton = QStringLiteral(N_("Отмена"));
inline const QString kFirmwareFileButton = QStringLiteral(N_("Файл..."));
inline const QString kFirmwareFileFilter = QStringLiteral("Firmware (*.bin);;All files (*)");

QString FirmwareVersionLine(std::uint32_t firmwareVersion);

// The firmware update dialog's layout and its view; the session decides. While the update
// runs the dialog refuses to close (Cancel, Escape, the close box).
class CFirmwareDlg : public QDialog, private FirmwareDialogView {
    Q_OBJECT

public:
    CFirmwareDlg(ProgrammerLink& link, QWidget* parent);
    ~CFirmwareDlg() override;

    bool IsUpdating() const { return session_->Updating(); }
    void reject() override;

signals:
    // The worker has ended; `succeeded` is its result.
    void updateFinished(bool succeeded);

protected:
    // The open-file dialog for a firmware file; empty when the user cancels. Tests
    // answer it themselves.
    virtual QString ChooseFirmwareFile();

private:
    void OnChooseFile();

    // FirmwareDialogView
    void ShowVersionLine(const std::string& line) override;
    void SetUpdateEnabled(bool enabled) override;
    void SetFileChoiceEnabled(bool enabled) override;
    void ShowChosenFirmware(const std::string& shownPath, const std::string& versionLine) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    void UpdateFinished(bool succeeded) override;

    QLabel* versionLine_ = nullptr;        // 1031
    QProgressBar* progress_ = nullptr;     // 1016
    QPushButton* updateButton_ = nullptr;  // 3
    QPushButton* fileButton_ = nullptr;
    QtDispatcher dispatcher_;
    // Last, so its worker is gone before the controls it shows on.
    std::unique_ptr<FirmwareDialogSession> session_;
};
