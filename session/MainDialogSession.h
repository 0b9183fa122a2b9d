#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "ledger/LeasedJob.h"
#include "ledger/SerialLedger.h"
#include "link/DeviceEvents.h"
#include "link/ProgrammerLink.h"
#include "session/JobLease.h"
#include "session/MainDialogView.h"
#include "worker/SessionWorkers.h"
#include "job/IdentifyProgrammer.h"
#include "job/UploadJob.h"
#include "remote/GenerateRemoteJobFile.h"
#include "worker/WorkerPort.h"

// The main dialog's own texts.
inline constexpr const char* kMsgLockChipQuestion = N_("锁死芯片后,将不能恢复!");
// Closing while the programmer is being written cuts the job or the firmware short.
inline constexpr const char* kMsgCloseWhileStoring =
    N_("Идёт запись в программатор. Закрыть программу?");
inline constexpr const char* kMsgJobIncomplete =
    N_("Запись прервана: задание в программаторе записано не полностью");
inline constexpr const char* kMsgFirmwareIncomplete =
    N_("Запись прервана: прошивка программатора записана не полностью");
// Another programmer chosen in list 1000 while a job is being stored, or one that cannot
// be opened; the dialog stays with the one it has.
inline constexpr const char* kMsgChoiceWhileStoring =
    N_("Идёт запись в программатор: выберите другой после её окончания");
inline constexpr const char* kMsgChoiceNotOpened = N_("Программатор не открывается: %1");
// Program without a series (an erased programmer selects none).
inline constexpr const char* kMsgSeriesNotSelected = N_("Выберите серию микроконтроллера");
// The serial ledger: no block could be had (or recorded), the count edit names no block
// size, or the programmer's stored block disagrees with the ledger.
inline constexpr const char* kMsgSerialsNotLeased = N_("Серийные номера не выданы");
inline constexpr const char* kMsgSerialCountNeeded =
    N_("Укажите в поле счётчика, сколько серийных номеров получит программатор");
inline constexpr const char* kMsgSerialConflict =
    N_("Серийные номера программатора расходятся с журналом");

// How long closing waits for running workers before it lets them go: a little more than
// one exchange's answer time-out, after which a closed link fails.
inline constexpr int kCloseWaitMs = 4000;

// A file the user chose in the Open dialog or dropped on the window.
struct ChosenFile {
    std::filesystem::path path;  // as the engine opens it
    std::string shownPath;       // UTF-8, as the window shows it
    std::string fileName;        // UTF-8, the path's last part
    bool dropped = false;        // a drop reads the extension another way
};

// A shelf of programmers beside the main dialog: closing asks while it writes them, and
// closes them with the dialog.
class ShelfControl {
public:
    virtual ~ShelfControl() = default;
    virtual bool Storing() const = 0;
    // The dialog closes: the shelf's links are closed and its workers get a little time.
    virtual void Shutdown() = 0;
};

// What the main dialog owns and decides, whatever window shows it: the programmer link,
// the loaded file, the code shift, the serial ledger's leases and the workers. Commands
// come from the face on the UI thread; the workers report through the ports it
// implements, from their threads, and those calls are carried to the UI thread by the
// dispatcher. The face's view shows what the session decides.
class MainDialogSession : public IdentifyPort, public UploadPort, public RemoteGenerationPort {
public:
    MainDialogSession(HidBackend& backend, MainDialogView& view, UiDispatcher& dispatcher);
    ~MainDialogSession() override;
    MainDialogSession(const MainDialogSession&) = delete;
    MainDialogSession& operator=(const MainDialogSession&) = delete;

    // Commands, on the UI thread.
    // The search and the identification at start, once the controls have their state.
    void Start();
    void OpenFile(const ChosenFile& file);
    void Program();
    void MakeRemoteFile();
    // An entry of list 1000 chosen: the dialog talks to that programmer from now on.
    void ChooseProgrammer(const std::string& path);
    void DeviceChanged(const DeviceEvent& event);
    void ReadProtectClicked();
    void LockChipClicked(bool checked);
    void CountLimitClicked(bool checked);
    // Whether Escape alone may close the dialog: not while the programmer is written.
    bool EscapeCloses() const;
    // The close box: while the programmer is written, only on the user's word.
    bool MayClose();
    // The dialog closes: nothing is shown or waited on any more, the link is closed and
    // the workers get a little time; then what a store cut short left is said.
    void Close();
    // The same without the notes, when the dialog goes without being closed.
    void Shutdown();
    bool Closed() const { return workers_.Closed(); }

    // Waits for the workers to end while serving their calls; -1 waits without limit.
    // Returns true when none runs any more.
    bool FinishWorkers(int timeoutMs);
    bool WorkersRunning();

    // The shelf takes every programmer over: the dialog lets its own go (once its workers
    // have ended) and opens none until it gets them back, then searches as at start.
    void LendProgrammers();
    void TakeProgrammersBack();
    bool ProgrammersLent() const { return lent_; }
    void AttachShelf(ShelfControl* shelf) { shelf_ = shelf; }
    // The settings as the controls show them, with the session's code shift.
    JobSettings SettingsOfControls() const;
    // An upload of the dialog's own is running.
    bool UploadRunning() const { return uploadRunning_.load(); }

    bool FirmwareUpdateOffered() const;
    bool RemoteFileOffered() const { return remoteFileOffered_; }
    // How many entries list 1000 shows.
    std::size_t ProgrammersListed() const { return listed_; }
    std::uint32_t RemoteCodeValue() const { return remoteCode_.load(); }

    // The code-shift members, edited by the options dialog, and where Program takes its
    // serial numbers from.
    CodeShift shift;
    SerialSource serials;

    // IdentifyPort, UploadPort, RemoteGenerationPort (any thread).
    ProgrammerLink& Link() override { return link_; }
    ImageWorkspace& Workspace() override { return workspace_; }
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;
    void HideLockChip() override;
    void SetSeriesList(bool enabled, int selectedIndex) override;
    void ShowJobDescription(const JobDescription& rows) override;
    void SetProgramEnabled(bool enabled) override;
    JobSettings CurrentJobSettings() override;
    std::uint32_t RemoteCode() override { return remoteCode_.load(); }
    std::uint32_t ProgrammerVersion() override { return link_.programmerVersion(); }
    std::vector<std::filesystem::path> OutputDirectories() override;

private:
    // What closing now would cut short in the programmer.
    enum class StoringWork { None, Job, Firmware };
    StoringWork Storing() const;

    bool OpenProgrammer();
    void ProgrammerOpened();
    void ListProgrammers();
    void ShowNoProgrammer();
    void UpdateProgramButton();
    void ShowSettingsOfLoadedFile(bool remoteJob);
    // Text from the UI thread or a worker's, shown on the UI thread.
    void Say(MessageIcon icon, SessionText text);

    // A lease for one upload: the source and code shift at the click, the block's size.
    struct LeaseOrder {
        SerialSource source;
        CodeShift shift;
        std::int32_t count = 0;
    };
    bool TakeLease(const LeaseOrder& order, std::optional<JobLease>& taken);
    void SettleLease(JobLease& taken, bool stored);
    void ReconcileStoredJob();

    HidBackend& backend_;
    MainDialogView& view_;
    ProgrammerLink link_;
    ImageWorkspace workspace_;
    std::atomic<std::uint32_t> remoteCode_{0};
    bool shutDown_ = false;
    bool lent_ = false;  // the shelf has the programmers (UI thread only)
    ShelfControl* shelf_ = nullptr;
    std::mutex generationMutex_;  // one remote file generation at a time
    std::atomic<bool> uploadTouchedProgram_{false};
    std::atomic<bool> uploadRunning_{false};
    // The last upload ended with the programmer's job neither whole nor untouched.
    std::atomic<bool> uploadCutShort_{false};
    // The programmer in use was removed while others stay: none is used until the
    // operator chooses one (UI thread only).
    bool choicePending_ = false;
    bool remoteFileOffered_ = false;  // button 6 (UI thread only)
    std::size_t listed_ = 0;          // entries of list 1000 (UI thread only)
    // The user's settings, kept while a loaded remote job file shows its own.
    struct UserSettings {
        JobSettings settings;
        bool seriesListEnabled = true;
    };
    std::optional<UserSettings> userSettings_;
    bool seriesListEnabled_ = true;  // as the session last set it (UI thread only)
    // The block of the shown job: leased by the running upload, or found by the
    // identification's reconciliation (UI thread only).
    struct ShownLease {
        SerialProduct product;
        SerialLease lease;
    };
    std::optional<ShownLease> activeLease_;
    std::atomic<std::uint32_t> progressPosition_{0};
    std::atomic<bool> progressPosted_{false};
    // Last, so its workers are gone before anything they use.
    SessionWorkers workers_;
};
