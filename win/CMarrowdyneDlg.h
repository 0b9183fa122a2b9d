#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "session/MainDialogSession.h"
#include "session/MainDialogView.h"
#include "win/WinDispatcher.h"

class FirmwareDialogSession;
class ShelfPanel;
class SimulatedBackend;

// The message that starts the session once the dialog's message loop runs.
inline constexpr UINT kStartMessage = WM_APP + 2;

struct MainDialogOptions {
    // A simulated backend whose plug and unplug become arrival and removal, and whose
    // first programmer the "Демо" menu plugs and unplugs.
    SimulatedBackend* simulator = nullptr;
    std::string demoProgrammerPath;
    // And, for a shelf of several, an item for each of these that plugs it in or out.
    std::vector<std::string> demoShelfPaths;
};

// The main window on Windows: template 102 and menu 129, drawn for the main dialog's
// session. It forwards its commands to the session and shows what the session decides;
// the session's workers reach it on the dialog's thread through the dispatcher.
class CMarrowdyneDlg : public MainDialogView {
public:
    CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options);
    ~CMarrowdyneDlg() override;
    CMarrowdyneDlg(const CMarrowdyneDlg&) = delete;
    CMarrowdyneDlg& operator=(const CMarrowdyneDlg&) = delete;

    // Runs the dialog modally until it closes.
    void DoModal(HINSTANCE instance);
    MainDialogSession& session() { return *session_; }
    // Waits for the workers of both sessions while serving their calls; -1 without limit.
    // True when none runs any more.
    bool FinishWorkers(int timeoutMs);

    // MainDialogView (UI thread).
    void ShowProgrammers(const std::vector<ProgrammerEntry>& entries, int chosen,
                         bool named) override;
    void SelectSeries(int index) override;
    void SetControlEnabled(DialogControl control, bool enabled) override;
    void SetControlChecked(DialogControl control, bool checked) override;
    void SetCountText(const std::string& text) override;
    void HideLockChip() override;
    JobSettings ReadSettings() override;
    void ShowJobDescription(const JobDescription& rows) override;
    void ShowPath(const std::string& shownPath) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;
    void ShowText(MessageIcon icon, const SessionText& text) override;
    bool AskQuestion(QuestionCaption caption, const char* msgid, bool defaultNo) override;
    std::optional<std::uint32_t> AskStartAddress() override;
    std::uint32_t AskRemoteCode() override;
    bool FirmwareBeingStored() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void SetInitialControlState();
    void OnCommand(int id, int notification);
    void OnInitMenuPopup(HMENU menu);
    void OnOpenFile();
    void OnDropFiles(HDROP drop);
    void OnDeviceChosen();
    void OnAboutDevice();
    void OnManual();
    void OnOptions();
    void OnFirmwareUpdate();
    // Escape and the close box; while the programmer is being written, only on the
    // user's word.
    void OnCancel(bool closeBox);
    void Finish();
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    int IdOf(DialogControl control) const;
    void FitJobColumns();

    MainDialogOptions options_;
    WinDispatcher dispatcher_;
    std::unique_ptr<MainDialogSession> session_;
    std::unique_ptr<ShelfPanel> shelf_;  // the shelf's session and its panel
    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    HICON appIcon_ = nullptr;
    HMENU demoMenu_ = nullptr;
    std::vector<std::string> programmerPaths_;  // list 1000's item data indexes these
    int deviceListNarrowWidth_ = 0;             // pixels: the template's width of list 1000
    int deviceListWideWidth_ = 0;               // with entries that name serial and path
    bool finished_ = false;
    const FirmwareDialogSession* firmwareSession_ = nullptr;  // while dialog 135 is open
};
