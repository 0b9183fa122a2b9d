#pragma once
#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/QtDispatcher.h"
#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "link/DeviceEvents.h"
#include "link/ProgrammerLink.h"
#include "session/MainDialogSession.h"
#include "session/MainDialogTexts.h"
#include "session/MainDialogView.h"
#include "session/ShelfSession.h"
#include "session/ShelfTexts.h"
#include "session/ShelfView.h"

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
class QLabel;
class QGroupBox;
class QGridLayout;
class DeviceWatcher;
class SimulatedBackend;

// The main window's fixed texts.
inline const QString kMainCaption = QStringLiteral(N_("Offline загрузчик Тавролинк"));
inline const QString kApplicationTitle = QString::fromUtf8(kTextApplicationTitle);
inline const QString kDeviceEntry = QString::fromUtf8(kTextDeviceEntry);
inline const QString kLockChipQuestion = QString::fromUtf8(kMsgLockChipQuestion);
inline const QString kNotificationFailed = QString::fromUtf8(kTextNotificationFailed);
inline const QString kSystemMenuAbout = QStringLiteral(N_("关于 Marrowdyne(&A)..."));
inline const QString kJobColumnItem = QString::fromUtf8(kTextJobColumnItem);
inline const QString kJobColumnValue = QString::fromUtf8(kTextJobColumnValue);
// The session's texts, as the window shows them in the original language.
inline const QString kCloseWhileStoringQuestion = QString::fromUtf8(kMsgCloseWhileStoring);
inline const QString kJobIncompleteNote = QString::fromUtf8(kMsgJobIncomplete);
inline const QString kFirmwareIncompleteNote = QString::fromUtf8(kMsgFirmwareIncomplete);
inline const QString kChoiceWhileStoring = QString::fromUtf8(kMsgChoiceWhileStoring);
inline const QString kChoiceNotOpened = QString::fromUtf8(kMsgChoiceNotOpened);
inline const QString kSeriesNotSelected = QString::fromUtf8(kMsgSeriesNotSelected);
inline const QString kSerialsNotLeased = QString::fromUtf8(kMsgSerialsNotLeased);
inline const QString kSerialCountNeeded = QString::fromUtf8(kMsgSerialCountNeeded);
inline const QString kSerialConflict = QString::fromUtf8(kMsgSerialConflict);
// Offered beside the template's menu: the remote file command and the firmware update,
// which otherwise only button 6 and no control at all reach.
inline const QString kMenuMakeRemoteFile = QStringLiteral(N_("Создать удалённый файл"));
inline const QString kMenuFirmwareUpdate = QStringLiteral(N_("Обновление ПО"));
inline const QString kMenuDemo = QString::fromUtf8(kTextMenuDemo);
inline const QString kMenuPlugProgrammer = QString::fromUtf8(kTextMenuPlugProgrammer);
inline const QString kMenuUnplugProgrammer = QString::fromUtf8(kTextMenuUnplugProgrammer);
// The shelf of programmers: its menu items, buttons and log pane.
inline const QString kMenuShelf = QString::fromUtf8(kTextMenuShelf);
inline const QString kMenuLogFile = QString::fromUtf8(kTextMenuLogFile);
inline const QString kShelfGroup = QString::fromUtf8(kTextShelfGroup);
inline const QString kStoreAllText = QString::fromUtf8(kTextStoreAll);
inline const QString kVerifyAllText = QString::fromUtf8(kTextVerifyAll);
inline const QString kBackUpText = QString::fromUtf8(kTextBackUp);
inline const QString kLogGroup = QString::fromUtf8(kTextLogGroup);
inline const QString kLogColumnTime = QString::fromUtf8(kTextLogColumnTime);
inline const QString kLogColumnSerial = QString::fromUtf8(kTextLogColumnSerial);
inline const QString kLogColumnResult = QString::fromUtf8(kTextLogColumnResult);
inline const QString kLogColumnMessage = QString::fromUtf8(kTextLogColumnMessage);

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

struct MainDialogOptions {
    // Follow arrival and removal through the platform's device watcher.
    bool watchDevices = true;
    // A simulated backend whose plug and unplug become arrival and removal.
    SimulatedBackend* simulator = nullptr;
    // With a simulator: the "Демо" menu that plugs and unplugs this programmer.
    std::string demoProgrammerPath;
    // And, for a shelf of several, an item for each of these that plugs it in or out.
    std::vector<std::string> demoShelfPaths;
    // Several programmers attached open the shelf; else only its menu item does.
    bool shelfForSeveral = true;
};

// The main window: the controls of template 102 and their menus, drawn for the main
// dialog's session. It forwards its commands to the session and shows what the session
// decides; the session's workers reach it on the UI thread through the Qt dispatcher.
class CMarrowdyneDlg : public QDialog, public MainDialogView, public ShelfView {
    Q_OBJECT

public:
    explicit CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options = {},
                            QWidget* parent = nullptr);
    ~CMarrowdyneDlg() override;

    MainDialogSession& session() { return *session_; }
    ShelfSession& shelf() { return *shelf_; }
    ProgrammerLink& Link() { return session_->Link(); }
    ImageWorkspace& workspace() { return session_->Workspace(); }
    CodeShift& codeShift() { return session_->shift; }
    std::uint32_t programmerVersion() const { return session_->Link().programmerVersion(); }
    std::uint32_t firmwareVersion() const { return session_->Link().firmwareVersion(); }
    std::uint32_t connectionCode() const { return session_->Link().connectionCode(); }
    std::uint32_t remoteCode() const { return session_->RemoteCodeValue(); }

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
    bool FinishWorkers(int timeoutMs) {
        const bool shelfDone = shelf_->FinishWorkers(timeoutMs);
        return session_->FinishWorkers(timeoutMs) && shelfDone;
    }
    bool WorkersRunning() { return session_->WorkersRunning() || shelf_->Running(); }

    // The shelf's commands.
    void OnShelf(bool shown);
    void OnLogFile();
    void OnBackUp(std::size_t tile);

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
    bool FirmwareBeingStored() override;

    // ShelfView (UI thread).
    void ShowShelf(bool shown) override;
    void ShowTiles(const std::vector<ShelfTile>& tiles) override;
    void ShowTile(std::size_t index, const ShelfTile& tile) override;
    void ShowCounters(const ShelfCounters& counters) override;
    void AddLogLine(const ShelfLogLine& line) override;
    void SetShelfRunning(bool running) override;

private:
    QtDispatcher dispatcher_{this};
    std::unique_ptr<MainDialogSession> session_;
    std::unique_ptr<ShelfSession> shelf_;

public:
    // The session's code-shift members, edited by the options dialog, and where Program
    // takes its serial numbers from.
    CodeShift& shift;
    SerialSource& serials;
    QIcon appIcon;

public slots:
    void done(int result) override;
    // Escape and the close box; while the programmer is being written, only on the
    // user's word.
    void reject() override;

protected:
    // The user's answers; tests answer them without windows.
    virtual QString ChooseFirmwareFile();
    // Where a programmer's job is backed up, and the log file; empty when cancelled.
    virtual QString ChooseBackupFile();
    virtual QString ChooseLogFile();
    std::optional<std::uint32_t> AskStartAddress() override;
    std::uint32_t AskRemoteCode() override;

    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void CreateControls();
    void CreateShelfPanel();
    void CreateMenus(bool demo);
    void SetInitialControlState();
    QString OpenProgrammerIdentity() const;
    void FitJobColumns();
    QWidget* Control(DialogControl control) const;

    MainDialogOptions options_;
    int deviceListNarrowWidth_ = 0;       // the template's width of list 1000
    int deviceListWideWidth_ = 0;         // with entries that name serial number and path
    QPointer<CFirmwareDlg> firmwareDlg_;  // while the firmware update dialog is open
    std::unique_ptr<DeviceWatcher> watcher_;

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    QScrollArea* clientScroll_ = nullptr;   // holds client_, scrolls only on a small screen
    QComboBox* deviceList_ = nullptr;       // 1000: each entry's data is its path
    QComboBox* seriesList_ = nullptr;       // 1001
    QCheckBox* readProtect_ = nullptr;      // 1002
    QCheckBox* verify_ = nullptr;           // 1003
    QCheckBox* runAfter_ = nullptr;         // 1004
    QRadioButton* fullErase_ = nullptr;     // 1005
    QRadioButton* sectorErase_ = nullptr;   // 1006
    QLineEdit* pathEdit_ = nullptr;         // 1007
    QProgressBar* progress_ = nullptr;      // 1008
    QTableWidget* jobList_ = nullptr;       // 1009
    QCheckBox* lockChip_ = nullptr;         // 1010
    QCheckBox* countLimit_ = nullptr;       // 1011
    QLineEdit* countEdit_ = nullptr;        // 1012
    QPushButton* openButton_ = nullptr;     // 3
    QPushButton* programButton_ = nullptr;  // 4
    QPushButton* clearButton_ = nullptr;    // 5
    QPushButton* remoteButton_ = nullptr;   // 6
    QWidget* shelfPanel_ = nullptr;         // beside the controls while the shelf is shown
    QGridLayout* tileColumn_ = nullptr;
    struct TileWidgets {
        QGroupBox* frame = nullptr;
        QCheckBox* tick = nullptr;
        QLabel* job = nullptr;
        QLabel* state = nullptr;
        QProgressBar* progress = nullptr;
        QPushButton* backUp = nullptr;
    };
    std::vector<TileWidgets> tiles_;
    QPushButton* storeAllButton_ = nullptr;
    QPushButton* verifyAllButton_ = nullptr;
    QLabel* counters_ = nullptr;
    QTableWidget* logPane_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* shelfAction_ = nullptr;
    QAction* logFileAction_ = nullptr;
    bool shelfRunning_ = false;
    std::vector<std::pair<QWidget*, bool>> heldControls_;  // enabled before a shelf action
    // Command-enable updates of menu items, run when their menu opens.
    std::map<QAction*, std::function<bool()>> enableUpdates_;
};
