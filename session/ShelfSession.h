#pragma once
#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/Translation.h"
#include "job/ProductionLog.h"
#include "session/MainDialogSession.h"
#include "session/ShelfView.h"
#include "worker/SessionWorkers.h"

// The shelf's own texts. Code shift into several programmers without the serial ledger
// would give each the same serial numbers; a back-up or the log file that cannot be
// written is said with its reason.
inline constexpr const char* kMsgShelfSharedSerials =
    N_("Сдвиг кода без журнала серийных номеров дал бы всем программаторам одни и те же номера");
inline constexpr const char* kMsgBackupNotWritten = N_("Задание не сохранено в файл: %1");
inline constexpr const char* kMsgLogNotOpened = N_("Журнал не открывается: %1");

// The name of a tile's state, as every face shows it (a msgid).
const char* TileStateText(TileState state);

// The shelf of programmers: every attached programmer in a tile of its own, and the
// production line's actions on the ticked ones, each programmer on its own link, thread
// and port through the engine's gang (as the command line's --all). It stands on the main
// dialog's session: the loaded file, the settings and the code shift are the dialog's,
// and while the shelf is shown the dialog lends it its programmers. Commands come on the
// UI thread; what the workers report reaches the view there through the dispatcher.
class ShelfSession : public ShelfControl {
public:
    ShelfSession(HidBackend& backend, MainDialogSession& main, ShelfView& view,
                 UiDispatcher& dispatcher);
    ~ShelfSession() override;
    ShelfSession(const ShelfSession&) = delete;
    ShelfSession& operator=(const ShelfSession&) = delete;

    // At start, in place of the dialog's own start: the shelf when more than one
    // programmer is attached, else the single programmer's window.
    void Start();
    // The shelf page (the menu item), or back to the single programmer's window; not
    // while anything is being stored.
    bool Show();
    bool Leave();
    bool Shown() const { return shown_; }
    // Whether several programmers open the shelf by themselves (the default), or only the
    // menu item does and the single window lists them to choose from.
    void SetOpensForSeveral(bool opens) { opensForSeveral_ = opens; }
    // Arrival and removal, for the shelf or the dialog, whichever has the programmers. A
    // second programmer arriving opens the shelf, unless the operator left it.
    void DeviceChanged(const DeviceEvent& event);

    void SetTicked(std::size_t tile, bool ticked);
    // The loaded file with the current settings into every ticked programmer (program).
    void StoreIntoAll();
    // Whether every ticked programmer holds the loaded file's job (verify).
    void VerifyAll();
    // One programmer's stored job into `file`, in the format of its extension (read-job);
    // a remote job file is addressed to that programmer itself.
    void BackUp(std::size_t tile, const std::filesystem::path& file, const std::string& shown);
    // From now on every log line is also appended to `file`; false when it cannot be had.
    bool ChooseLogFile(const std::filesystem::path& file, const std::string& shown);

    bool Running() const { return running_.load(); }
    const std::vector<ShelfTile>& Tiles() const { return tiles_; }
    const ShelfCounters& Counters() const { return counters_; }
    // Waits for the workers while serving their calls; -1 without limit. True when none runs.
    bool FinishWorkers(int timeoutMs);

    // ShelfControl
    bool Storing() const override;
    void Shutdown() override;

private:
    class Member;
    enum class Action { None, Store, Verify, BackUp };
    // How one programmer's action ended, as the log and its tile say it.
    struct Ending {
        ExitCode code = ExitCode::Success;
        std::string message;
        std::string detail;
        TileState state = TileState::Idle;
    };

    Member& AddMember(const std::string& path, const std::string& serial);
    void OpenMember(Member& member);
    void Identify(std::vector<Member*> members);
    std::vector<Member*> Ticked();
    // Runs `work` on each of `chosen` at once; logs and shows each as it ends.
    void RunAction(Action action, std::vector<Member*> chosen, std::function<Ending(Member&)> work);
    void Finish(Member& member, Action action, const Ending& ending);
    void UpdateTile(Member& member, const std::function<void(ShelfTile&)>& change);
    void ShowAll();
    void PostToUi(std::function<void()> f);
    void StartWorker(std::function<void()> body);

    HidBackend& backend_;
    MainDialogSession& main_;
    ShelfView& view_;
    UiDispatcher& dispatcher_;
    std::vector<std::unique_ptr<Member>> members_;  // only grows; index = tile
    std::vector<ShelfTile> tiles_;                  // UI thread only
    ShelfCounters counters_;                        // UI thread only
    bool shown_ = false;
    bool left_ = false;
    bool opensForSeveral_ = true;  // the operator left the shelf while several were attached
    std::atomic<bool> running_{false};
    std::atomic<Action> action_{Action::None};
    std::atomic<bool> closed_{false};
    std::unique_ptr<ImageWorkspace::ImageUse> imageHeld_;  // the loaded file, during a run
    std::unique_ptr<ProductionLogFile> logFile_;
    // Posted calls check it: none runs once the session is gone.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    // Last, so its workers are gone before anything they use.
    SessionWorkers workers_;
};
