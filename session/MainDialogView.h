#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "worker/UiDispatcher.h"
#include "worker/WorkerPort.h"

// What the main dialog's session needs of a window, whatever draws it: the face fills
// its controls, shows its message boxes and asks its questions. Every call comes on the
// UI thread; the session marshals its workers' calls there through the dispatcher.

// The main dialog's controls whose state the session sets.
enum class DialogControl {
    SeriesList,   // 1001
    ReadProtect,  // 1002
    Verify,       // 1003
    RunAfter,     // 1004
    FullErase,    // 1005
    SectorErase,  // 1006
    LockChip,     // 1010
    CountLimit,   // 1011
    CountEdit,    // 1012
    Program,      // 4
    RemoteFile,   // 6 (and its menu item)
};

// One entry of list 1000: a programmer attached, by the path the link opens it at.
struct ProgrammerEntry {
    std::string path;
    std::string serial;  // the USB serial number; empty when it has none
};

// One of the session's own texts: its msgid, which the view translates, the value of
// its "%1" when it has one, and a line below it that is shown as it is.
struct SessionText {
    const char* msgid = "";
    std::string argument;
    std::optional<std::string> detail;
};

// The caption of a question: the application's title, or the system's two EN QUADs.
enum class QuestionCaption { Application, System };

class MainDialogView {
public:
    virtual ~MainDialogView() = default;

    // List 1000: `named` entries show serial number and path, otherwise the single entry
    // is the device's name; `chosen` is the open programmer's index, -1 for none. No
    // entries and no names: the list is emptied and keeps its size.
    virtual void ShowProgrammers(const std::vector<ProgrammerEntry>& entries, int chosen,
                                 bool named) = 0;
    virtual void SelectSeries(int index) = 0;  // -1: none
    virtual void SetControlEnabled(DialogControl control, bool enabled) = 0;
    virtual void SetControlChecked(DialogControl control, bool checked) = 0;
    virtual void SetCountText(const std::string& text) = 0;
    virtual void HideLockChip() = 0;
    // The settings as the controls show them; the code shift is the session's.
    virtual JobSettings ReadSettings() = 0;
    // Rewrites the job list; an empty description empties it.
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
    // The loaded file's path, as the face gave it.
    virtual void ShowPath(const std::string& shownPath) = 0;
    virtual void SetProgressRange(std::uint32_t maximum) = 0;
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    // A text that is already in the chosen language (the engine's messages).
    virtual void ShowMessage(MessageIcon icon, std::string_view text) = 0;
    virtual void ShowText(MessageIcon icon, const SessionText& text) = 0;
    // Yes and No; true for Yes. `defaultNo`: Enter answers No.
    virtual bool AskQuestion(QuestionCaption caption, const char* msgid, bool defaultNo) = 0;
    // The start address of a raw binary file; nullopt when cancelled.
    virtual std::optional<std::uint32_t> AskStartAddress() = 0;
    // The device ID a remote file is addressed to; 0 makes none.
    virtual std::uint32_t AskRemoteCode() = 0;
    // Whether the programmer's firmware is being written (by the face's update dialog).
    virtual bool FirmwareBeingStored() = 0;
};
