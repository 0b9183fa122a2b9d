#pragma once
#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "job/ui/COptionsDlg.h"
#include "ledger/SerialLedger.h"
#include "link/DeviceEvents.h"
#include "link/ProgrammerLink.h"
#include "job/IdentifyProgrammer.h"
#include "job/UploadJob.h"
#include "remote/GenerateRemoteJobFile.h"
#include "worker/WorkerPort.h"

class QAction;
class CFirmwareDlg;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QRect;
class QScrollArea;
class QTableWidget;
class DeviceWatcher;
class SimulatedBackend;

// The main window's fixed texts.
inline const QString kMainCaption = QStringLiteral(N_("Offline загрузчик Тавролинк"));
inline const QString kApplicationTitle = QStringLiteral("Marrowdyne");
inline const QString kDeviceEntry = QStringLiteral("Marrowdyne");
inline const QString kLockChipQuestion = QStringLiteral(N_("锁死芯片后,将不能恢复!"));
inline const QString kNotificationFailed = QStringLiteral("RegisterDeviceNotification   failed");
inline const QString kSystemMenuAbout = QStringLiteral(N_("关于 Marrowdyne(&A)..."));
inline const QString kJobColumnItem = QStringLiteral(N_("项目"));
inline const QString kJobColumnValue = QStringLiteral("\u2000\u2000");
// Closing while the programmer is being written cuts the job or the firmware short.
inline const QString kCloseWhileStoringQuestion =
    QStringLiteral(N_("Идёт запись в программатор. Закрыть программу?"));
inline const QString kJobIncompleteNote =
    QStringLiteral(N_("Запись прервана: задание в программаторе записано не полностью"));
inline const QString kFirmwareIncompleteNote =
    QStringLiteral(N_("Запись прервана: прошивка программатора записана не полностью"));
// Another programmer chosen in list 1000 while a job is being stored, or one that cannot
// be opened; the window stays with the one it has.
inline const QString kChoiceWhileStoring =
    QStringLiteral(N_("Идёт запись в программатор: выберите другой после её окончания"));
inline const QString kChoiceNotOpened = QStringLiteral(N_("Программатор не открывается: %1"));
// Program without a series (an erased programmer selects none).
inline const QString kSeriesNotSelected = QStringLiteral(N_("Выберите серию микроконтроллера"));
// The serial ledger: no block could be had (or recorded), the count edit names no block
// size, or the programmer's stored block disagrees with the ledger.
inline const QString kSerialsNotLeased = QStringLiteral(N_("Серийные номера не выданы"));
inline const QString kSerialCountNeeded =
    QStringLiteral(N_("Укажите в поле счётчика, сколько серийных номеров получит программатор"));
inline const QString kSerialConflict =
    QStringLiteral(N_("Серийные номера программатора расходятся с журналом"));
// Offered beside the template's menu: the remote file command and the firmware update,
// which otherwise only button 6 and no control at all reach.
inline const QString kMenuMakeRemoteFile = QStringLiteral(N_("Создать удалённый файл"));
inline const QString kMenuFirmwareUpdate = QStringLiteral(N_("Обновление ПО"));
inline const QString kMenuDemo = QStringLiteral(N_("Демо"));
inline const QString kMenuPlugProgrammer = QStringLiteral(N_("Подключить программатор"));
inline const QString kMenuUnplugProgrammer = QStringLiteral(N_("Отключить программатор"));

// Command ids of the menu and the system menu.
inline constexpr int kCmdOpenFile = 3;
inline constexpr int kCmdAboutDevice = 32774;
inline constexpr int kCmdManual = 32775;
inline constexpr int kCmdFirmwareUpdate = 32777;
inline constexpr int kCmdOptions = 32784;
inline constexpr unsigned kSysCmdAbout = 0x0010;

// The job list's column widths before it is filled, and the rows of the longest job.
inline constexpr int kJobColumnItemWidth = 60;
inline constexpr int kJobColumnValueWidth = 280;
inline constexpr int kJobListRows = 9;


// How long closing the window waits for running workers before it lets them go: a
// little more than one exchange's answer time-out, after which a closed link fails.
inline constexpr int kCloseWaitMs = 4000;

struct MainDialogOptions {
    // Follow arrival and removal through the platform's device watcher.
    bool watchDevices = true;
    // A simulated backend whose plug and unplug become arrival and removal.
    SimulatedBackend* simulator = nullptr;
    // With a simulator: the "Демо" menu that plugs and unplugs this programmer.
    std::string demoProgrammerPath;
};

// The main dialog: owns the programmer link, the firmware image, the settings in its
// controls and the code-shift members; every worker reports to it through its ports,
// which marshal onto the UI thread.
class CMarrowdyneDlg : public QDialog,
                       public IdentifyPort,
                       public UploadPort,
                       public RemoteGenerationPort {
    Q_OBJECT

public:
    explicit CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options = {},
                            QWidget* parent = nullptr);
    ~CMarrowdyneDlg() override;

    ImageWorkspace& workspace() { return workspace_; }
    CodeShift& codeShift() { return shift; }
    std::uint32_t programmerVersion() const { return link_.programmerVersion(); }
    std::uint32_t firmwareVersion() const { return link_.firmwareVersion(); }
    std::uint32_t connectionCode() const { return link_.connectionCode(); }
    std::uint32_t remoteCode() const { return remoteCode_.load(); }

    // Sizes the window for a screen of this free area: whole when it fits, else as tall
    // as the area with its controls scrolling. Done at construction for the window's screen.
    void FitIntoScreen(const QRect& available);

    // Handlers, on the UI thread.
    void OnReadProtectClicked();
    void OnLockChipClicked();
    void OnCountLimitClicked();
    void OnOpenFile();
    void OnDropFiles(const QList<QUrl>& urls);
    void OnProgram();
    void OnOptions();
    void OnManual();
    void OnFirmwareUpdate();
    bool OnUpdateFirmwareUpdate() const;  // whether command 32777 is enabled
    void OnAboutDevice();
    void OnMakeRemoteFile();
    void OnInitMenuPopup(QMenu* menu);
    void OnDeviceChange(const DeviceEvent& event);
    // Entry `index` of list 1000 chosen: the window talks to that programmer from now on.
    void OnDeviceChosen(int index);

    // Steps after the Open dialog: the chosen path is loaded as the dialog reports it.
    void OpenChosenFile(const QString& path);
    // Arrival and removal from any thread; handled on the UI thread.
    void PostDeviceEvent(const DeviceEvent& event);

    // Waits for the workers to end while serving their calls; -1 waits without limit.
    // Returns true when none runs any more.
    bool FinishWorkers(int timeoutMs);
    bool WorkersRunning();

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

    // The code-shift members, edited by the options dialog, and where Program takes its
    // serial numbers from.
    CodeShift shift;
    SerialSource serials;
    QIcon appIcon;

public slots:
    void done(int result) override;
    // Escape and the close box; while the programmer is being written, only on the
    // user's word.
    void reject() override;

protected:
    // The user's answers; tests answer them without windows.
    virtual QString ChooseFirmwareFile();
    virtual std::optional<std::uint32_t> AskStartAddress();
    virtual std::uint32_t AskRemoteCode();

    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    // What closing now would cut short in the programmer.
    enum class StoringWork { None, Job, Firmware };
    StoringWork Storing() const;

    void CreateControls();
    void CreateMenus(bool demo);
    void SetInitialControlState();
    void ConnectAtStart();
    bool OpenProgrammer();
    void ProgrammerOpened();
    void ListProgrammers();
    void ShowNoProgrammer();
    void UpdateProgramButton();
    // A lease for one upload: the source and code shift at the click, the block's size.
    struct LeaseOrder {
        SerialSource source;
        CodeShift shift;
        std::int32_t count = 0;
    };
    bool TakeLease(const LeaseOrder& order, std::unique_ptr<SerialLedger>& ledger,
                   std::optional<SerialLease>& lease);
    void SettleLease(SerialLedger& ledger, const SerialLease& lease, bool stored);
    void ReconcileStoredJob();
    void ShowSettingsOfLoadedFile(bool remoteJob);
    JobSettings JobSettingsOfControls() const;
    QString OpenProgrammerIdentity() const;
    void LoadFile(const QString& path, const QString& fileName, const std::string& extension);
    void Shutdown();
    void FitJobColumns();
    void StartWorker(std::function<void()> body);
    void ReapWorkers();

    // Runs `f` on the UI thread and returns its result; directly when already there. Once
    // the window is closing nothing runs and a worker gets the default value at once.
    template <typename F>
    auto OnUiThread(F&& f) -> std::invoke_result_t<F&>;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    HidBackend& backend_;
    ProgrammerLink link_;
    ImageWorkspace workspace_;
    std::atomic<std::uint32_t> remoteCode_{0};
    MainDialogOptions options_;
    std::atomic<bool> closed_{false};
    bool shutDown_ = false;
    std::vector<Worker> workers_;
    std::mutex generationMutex_;             // one remote file generation at a time
    std::atomic<bool> uploadTouchedProgram_{false};
    std::atomic<bool> uploadRunning_{false};
    // The last upload ended with the programmer's job neither whole nor untouched.
    std::atomic<bool> uploadCutShort_{false};
    // The programmer in use was removed while others stay: none is used until the
    // operator chooses one (UI thread only).
    bool choicePending_ = false;
    // The user's settings, kept while a loaded remote job file shows its own.
    struct UserSettings {
        JobSettings settings;
        bool seriesListEnabled = true;
    };
    std::optional<UserSettings> userSettings_;
    // The block of the shown job: leased by the running upload, or found by the
    // identification's reconciliation (UI thread only).
    struct ShownLease {
        SerialProduct product;
        SerialLease lease;
    };
    std::optional<ShownLease> activeLease_;
    int deviceListNarrowWidth_ = 0;  // the template's width of list 1000
    int deviceListWideWidth_ = 0;    // with entries that name serial number and path
    QPointer<CFirmwareDlg> firmwareDlg_;  // while the firmware update dialog is open
    std::atomic<std::uint32_t> progressPosition_{0};
    std::atomic<bool> progressPosted_{false};
    std::unique_ptr<DeviceWatcher> watcher_;

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    QScrollArea* clientScroll_ = nullptr;  // holds client_, scrolls only on a small screen
    QComboBox* deviceList_ = nullptr;    // 1000: each entry's data is its path
    QComboBox* seriesList_ = nullptr;    // 1001
    QCheckBox* readProtect_ = nullptr;   // 1002
    QCheckBox* verify_ = nullptr;        // 1003
    QCheckBox* runAfter_ = nullptr;      // 1004
    QRadioButton* fullErase_ = nullptr;  // 1005
    QRadioButton* sectorErase_ = nullptr;  // 1006
    QLineEdit* pathEdit_ = nullptr;      // 1007
    QProgressBar* progress_ = nullptr;   // 1008
    QTableWidget* jobList_ = nullptr;    // 1009
    QCheckBox* lockChip_ = nullptr;      // 1010
    QCheckBox* countLimit_ = nullptr;    // 1011
    QLineEdit* countEdit_ = nullptr;     // 1012
    QPushButton* openButton_ = nullptr;     // 3
    QPushButton* programButton_ = nullptr;  // 4
    QPushButton* clearButton_ = nullptr;    // 5
    QPushButton* remoteButton_ = nullptr;   // 6
    // Command-enable updates of menu items, run when their menu opens.
    std::map<QAction*, std::function<bool()>> enableUpdates_;
};
