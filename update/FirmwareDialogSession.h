#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "link/ProgrammerLink.h"
#include "worker/SessionWorkers.h"
#include "update/UpdateProgrammerFirmware.h"
#include "worker/WorkerPort.h"

// What the firmware update dialog's session needs of a window, whatever draws it. Every
// call comes on the UI thread.
class FirmwareDialogView {
public:
    virtual ~FirmwareDialogView() = default;
    virtual void ShowVersionLine(const std::string& line) = 0;  // 1031
    virtual void SetUpdateEnabled(bool enabled) = 0;            // button 3
    virtual void SetFileChoiceEnabled(bool enabled) = 0;        // "Файл..."
    // A firmware file was taken: its path and the version it carries, as button 3's hint.
    virtual void ShowChosenFirmware(const std::string& shownPath,
                                    const std::string& versionLine) = 0;
    virtual void SetProgressRange(std::uint32_t maximum) = 0;
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    virtual void ShowMessage(MessageIcon icon, std::string_view text) = 0;
    virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;
    // The update has ended; `succeeded` is its result.
    virtual void UpdateFinished(bool succeeded) = 0;
};

// What the firmware update dialog decides: the installed version shown, the carried
// firmware or a file the user chose (checked at once; one that fails is refused with what
// is wrong and the choice stays), and the update on a worker thread whose port calls run
// on the UI thread. While the update runs the dialog does not close: the worker uses it
// until it ends, and a half-written firmware area is best finished or failed by the worker
// itself. Should the dialog go regardless, the remaining port calls do nothing (a question
// answers No) and the session waits for the worker.
class FirmwareDialogSession : public FirmwareUpdatePort {
public:
    FirmwareDialogSession(ProgrammerLink& link, FirmwareDialogView& view, UiDispatcher& dispatcher);
    ~FirmwareDialogSession() override;
    FirmwareDialogSession(const FirmwareDialogSession&) = delete;
    FirmwareDialogSession& operator=(const FirmwareDialogSession&) = delete;

    // Commands, on the UI thread. Start shows the installed version, once the view's
    // controls exist.
    void Start();
    void ChooseFile(const std::filesystem::path& path, const std::string& shownPath);
    void Update();
    bool Updating() const { return updating_; }
    // Cancel, Escape and the close box: not while the update runs.
    bool MayClose() const { return !updating_; }

    // FirmwareUpdatePort, from the worker.
    ProgrammerLink& Link() override { return link_; }
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    void SetUpdateEnabled(bool enabled) override;
    void ShowFirmwareVersion(std::uint32_t firmwareVersion) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;

private:
    ProgrammerLink& link_;
    FirmwareDialogView& view_;
    std::vector<std::uint8_t> chosenImage_;  // empty: the carried firmware
    bool updating_ = false;                  // UI thread only
    // Last, so its worker is gone before anything it uses.
    SessionWorkers workers_;
};
