#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "common/Translation.h"
#include "link/ProgrammerLink.h"
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

// Shows the installed programmer firmware and installs the carried one, or a firmware
// file the user chose ("Файл..."), on a worker thread, which reports back through this
// dialog as its port. Every port call from the worker runs on the UI thread and the
// worker waits for it. A chosen file is checked at once; one that fails is refused with
// what is wrong and the choice stays as it was.
//
// While the update runs the dialog refuses to close (Cancel, Escape, the close box):
// the worker uses the dialog until it ends, and a half-written firmware area is best
// finished or failed by the worker itself. Should the dialog be destroyed regardless,
// the destructor releases a worker waiting on the UI thread, turns the remaining port
// calls into no-ops (a question answers No) and waits for the worker to end, so it
// neither deadlocks nor leaves the worker with a dead port.
class CFirmwareDlg : public QDialog, public FirmwareUpdatePort {
    Q_OBJECT

public:
    CFirmwareDlg(ProgrammerLink& link, QWidget* parent);
    ~CFirmwareDlg() override;

    bool IsUpdating() const { return updating_; }
    void reject() override;

    // FirmwareUpdatePort, called from the worker thread.
    ProgrammerLink& Link() override { return link_; }
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    void SetUpdateEnabled(bool enabled) override;
    void ShowFirmwareVersion(std::uint32_t firmwareVersion) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;

signals:
    // The worker has ended; `succeeded` is its result.
    void updateFinished(bool succeeded);

protected:
    // The open-file dialog for a firmware file; empty when the user cancels. Tests
    // answer it themselves.
    virtual QString ChooseFirmwareFile();

private:
    void OnChooseFile();
    void OnFirmwareUpdate();
    void OnWorkerEnded(bool succeeded);
    // Runs `call` on the UI thread and waits for it, unless the dialog is going away.
    void RunOnUiThread(const std::function<void()>& call);

    struct Gate;
    ProgrammerLink& link_;
    QLabel* versionLine_ = nullptr;        // 1031
    QProgressBar* progress_ = nullptr;     // 1016
    QPushButton* updateButton_ = nullptr;  // 3
    QPushButton* fileButton_ = nullptr;
    std::vector<std::uint8_t> chosenImage_;  // empty: the carried firmware
    std::shared_ptr<Gate> gate_;
    std::thread worker_;
    bool updating_ = false;
};
