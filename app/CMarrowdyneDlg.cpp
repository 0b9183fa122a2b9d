#include "app/CMarrowdyneDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <climits>

#include "app/CAboutDlg.h"
#include "app/CManualDlg.h"
#include "app/DeviceWatcher.h"
#include "ui/DialogUnits.h"
#include "ui/FilePath.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/ProgramLocation.h"
#include "image/FileLoading.h"
#include "loading/LoadFirmwareFile.h"
#include "image/ui/CAddressDlg.h"
#include "common/NumberText.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "job/ui/COptionsDlg.h"
#include "ledger/LeasedJob.h"
#include "link/HidReport.h"
#include "job/IdentifyProgrammer.h"
#include "link/SimulatedBackend.h"
#include "remote/GenerateRemoteJobFile.h"
#include "remote/RemoteJobFile.h"
#include "remote/ui/CSerNumDlg.h"
#include "update/ui/CFirmwareDlg.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Template 102, in dialog units. The window is taller than the template so that the job
// list and button 6 below its bottom edge can be seen, the list with a whole job.
constexpr int kTemplateWidth = 253;
constexpr int kJobListX = 7;
constexpr int kJobListY = 257;
constexpr int kJobListWidth = 238;
constexpr int kButtonGap = 7;     // above buttons 5 and 6
constexpr int kBottomMargin = 9;  // below them

const QString kOpenText = QStringLiteral(N_("Открыть"));
const QString kControllerGroup = QStringLiteral(N_("Микроконтроллер"));
const QString kDeviceLabel = QStringLiteral(N_("Устройство:"));
const QString kSeriesLabel = QStringLiteral(N_("Серия:"));
const QString kFileGroup = QStringLiteral(N_("Файл"));
const QString kLoadGroup = QStringLiteral(N_("Загрузка"));
const QString kProgramText = QStringLiteral(N_("Запрограммировать"));
const QString kClearText = QStringLiteral(N_("Очистить"));
const QString kSettingsGroup = QStringLiteral(N_("Настройки"));
const QString kReadProtectText = QStringLiteral(N_("Защита от чтения"));
const QString kVerifyText = QStringLiteral(N_("Проверка корректности"));
const QString kRunAfterText = QStringLiteral(N_("Перезагрузить после прошивки"));
const QString kFullEraseText = QStringLiteral(N_("Полная очистка"));
const QString kSectorEraseText = QStringLiteral(N_("Очистка секторов под запись"));
const QString kCountLimitText = QStringLiteral(N_("Ограничение времени записи"));
const QString kLockChipText = QStringLiteral(N_("Блокировка контроллера"));
const QString kFileMenu = QStringLiteral(N_("Файл"));
const QString kToolsMenu = QStringLiteral(N_("Инструменты"));
const QString kOptionsItem = QStringLiteral(N_("Опции"));
const QString kHelpMenu = QStringLiteral(N_("Помощь"));
const QString kManualItem = QStringLiteral(N_("Руководство"));
const QString kAboutItem = QStringLiteral(N_("Об устройстве"));

QString IdName(int id) { return QStringLiteral("id%1").arg(id); }

// Item data of list 1000's entries: the programmer's path.
constexpr int kPathRole = Qt::UserRole;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The job list's row of the code shift, which a leased block extends.
constexpr std::size_t kCodeShiftRow = 8;

int ClampToInt(std::uint32_t value) {
    return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

template <typename F>
auto CMarrowdyneDlg::OnUiThread(F&& f) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    if (QThread::currentThread() == thread()) return f();
    // Checked before blocking, so no worker waits on a window that is going away; a
    // worker already waiting is served by FinishWorkers, which then skips the call.
    if (closed_.load()) return Result{};
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            this, [&] { if (!closed_.load()) f(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            this, [&] { if (!closed_.load()) result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

CMarrowdyneDlg::CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options,
                               QWidget* parent)
    : QDialog(parent), backend_(backend), link_(backend), options_(options) {
    setObjectName(QStringLiteral("CMarrowdyneDlg"));
    setWindowTitle(Tr(kMainCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(TemplateFont());
    setAcceptDrops(true);
    appIcon = QIcon(QStringLiteral(":/icons/marrowdyne.png"));
    setWindowIcon(appIcon);

    CreateMenus(options_.simulator != nullptr && !options_.demoProgrammerPath.empty());
    CreateControls();
    const DialogUnits du(font());
    const int clientHeight = remoteButton_->geometry().bottom() + 1 + du.Y(kBottomMargin);
    client_->resize(du.X(kTemplateWidth), clientHeight);
    clientScroll_ = new QScrollArea(this);
    clientScroll_->setObjectName(QStringLiteral("clientScroll"));
    clientScroll_->setFrameShape(QFrame::NoFrame);
    clientScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    clientScroll_->setWidget(client_);
    FitIntoScreen(screen()->availableGeometry());

    SetInitialControlState();

    if (options_.simulator) {
        options_.simulator->SetEventSink([this](const DeviceEvent& event) { PostDeviceEvent(event); });
    }
    if (options_.watchDevices) {
        watcher_ = std::make_unique<DeviceWatcher>();
        connect(watcher_.get(), &DeviceWatcher::deviceEvent, this, &CMarrowdyneDlg::OnDeviceChange);
        std::string error;
        if (!watcher_->Start(this, error)) {
            // Arrival and removal then go unnoticed; the program goes on.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!closed_.load())
                        ShowCaptionedMessage(this, QMessageBox::NoIcon, kApplicationTitle,
                                             kNotificationFailed);
                },
                Qt::QueuedConnection);
        }
    }
#ifdef Q_OS_WIN
    if (HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
        menu && !kSystemMenuAbout.isEmpty()) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kSysCmdAbout,
                    reinterpret_cast<LPCWSTR>(Tr(kSystemMenuAbout).utf16()));
    }
#endif
    // The search and the identification start once the event loop runs, after every
    // control has its initial state, so that what the identification finds wins.
    QMetaObject::invokeMethod(this, &CMarrowdyneDlg::ConnectAtStart, Qt::QueuedConnection);
}

CMarrowdyneDlg::~CMarrowdyneDlg() {
    Shutdown();
    FinishWorkers(-1);
    if (options_.simulator) options_.simulator->SetEventSink(nullptr);
}

void CMarrowdyneDlg::CreateMenus(bool demo) {
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName(QStringLiteral("menu129"));
    menuBar_->setNativeMenuBar(false);

    QMenu* file = menuBar_->addMenu(Tr(kFileMenu));
    file->setObjectName(QStringLiteral("menuFile"));
    QAction* open = file->addAction(Tr(kOpenText), this, &CMarrowdyneDlg::OnOpenFile);
    open->setObjectName(QStringLiteral("actionOpen"));
    QAction* remote = file->addAction(Tr(kMenuMakeRemoteFile), this, &CMarrowdyneDlg::OnMakeRemoteFile);
    remote->setObjectName(QStringLiteral("actionMakeRemoteFile"));
    enableUpdates_[remote] = [this] { return remoteButton_->isEnabled(); };

    QMenu* tools = menuBar_->addMenu(Tr(kToolsMenu));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->addAction(Tr(kOptionsItem), this, &CMarrowdyneDlg::OnOptions)->setObjectName(IdName(kCmdOptions));
    QAction* update = tools->addAction(Tr(kMenuFirmwareUpdate), this, &CMarrowdyneDlg::OnFirmwareUpdate);
    update->setObjectName(IdName(kCmdFirmwareUpdate));
    enableUpdates_[update] = [this] { return OnUpdateFirmwareUpdate(); };

    QMenu* help = menuBar_->addMenu(Tr(kHelpMenu));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(Tr(kManualItem), this, &CMarrowdyneDlg::OnManual)->setObjectName(IdName(kCmdManual));
    help->addAction(Tr(kAboutItem), this, &CMarrowdyneDlg::OnAboutDevice)->setObjectName(IdName(kCmdAboutDevice));

    if (demo) {
        QMenu* menu = menuBar_->addMenu(Tr(kMenuDemo));
        menu->setObjectName(QStringLiteral("menuDemo"));
        SimulatedBackend* sim = options_.simulator;
        const std::string path = options_.demoProgrammerPath;
        QAction* plug = menu->addAction(Tr(kMenuPlugProgrammer), this, [sim, path] { sim->Plug(path); });
        plug->setObjectName(QStringLiteral("actionPlugProgrammer"));
        enableUpdates_[plug] = [sim, path] { return !sim->IsPlugged(path); };
        QAction* unplug = menu->addAction(Tr(kMenuUnplugProgrammer), this, [sim, path] { sim->Unplug(path); });
        unplug->setObjectName(QStringLiteral("actionUnplugProgrammer"));
        enableUpdates_[unplug] = [sim, path] { return sim->IsPlugged(path); };
    }
    for (QMenu* menu : menuBar_->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { OnInitMenuPopup(menu); });
    }
}

void CMarrowdyneDlg::CreateControls() {
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    const DialogUnits du(font());
    std::vector<QGroupBox*> frames;

    auto button = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* b = new QPushButton(text, client_);
        b->setObjectName(IdName(id));
        PlaceInUnits(b, du, x, y, w, h);
        return b;
    };
    auto frame = [&](const QString& name, const QString& text, int x, int y, int w, int h) {
        auto* g = new QGroupBox(text, client_);
        g->setObjectName(name);
        PlaceInUnits(g, du, x, y, w, h);
        frames.push_back(g);
    };
    auto label = [&](const QString& name, const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, client_);
        l->setObjectName(name);
        PlaceInUnits(l, du, x, y, w, h);
    };
    auto check = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* c = new QCheckBox(text, client_);
        c->setObjectName(IdName(id));
        PlaceInUnits(c, du, x, y, w, h);
        return c;
    };
    auto radio = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* r = new QRadioButton(text, client_);
        r->setObjectName(IdName(id));
        PlaceInUnits(r, du, x, y, w, h);
        return r;
    };
    auto combo = [&](int id, int x, int y, int w, int h) {
        auto* c = new QComboBox(client_);
        c->setObjectName(IdName(id));
        PlaceInUnits(c, du, x, y, w, h);
        return c;
    };
    auto edit = [&](int id, int x, int y, int w, int h) {
        auto* e = new QLineEdit(client_);
        e->setObjectName(IdName(id));
        // A file dropped on an edit belongs to the window, not into the text.
        e->setAcceptDrops(false);
        PlaceInUnits(e, du, x, y, w, h);
        return e;
    };

    // Template order, which is also the tab order.
    openButton_ = button(3, Tr(kOpenText), 192, 162, 43, 16);
    openButton_->setDefault(true);
    frame(QStringLiteral("groupController"), Tr(kControllerGroup), 7, 7, 238, 55);
    label(QStringLiteral("labelDevice"), Tr(kDeviceLabel), 14, 23, 41, 8);
    deviceList_ = combo(1000, 57, 21, 87, 12);
    deviceListNarrowWidth_ = deviceList_->width();
    deviceListWideWidth_ = du.X(186);  // as wide as the series list below it
    label(QStringLiteral("labelSeries"), Tr(kSeriesLabel), 15, 42, 24, 8);
    seriesList_ = combo(1001, 57, 40, 186, 12);
    frame(QStringLiteral("groupFile"), Tr(kFileGroup), 7, 152, 238, 33);
    pathEdit_ = edit(1007, 10, 164, 177, 13);
    // It shows the loaded path and is never read back: selectable, not editable.
    pathEdit_->setReadOnly(true);
    frame(QStringLiteral("groupLoad"), Tr(kLoadGroup), 7, 188, 238, 47);
    progress_ = new QProgressBar(client_);
    progress_->setObjectName(IdName(1008));
    progress_->setTextVisible(false);
    PlaceInUnits(progress_, du, 19, 198, 219, 10);
    programButton_ = button(4, Tr(kProgramText), 19, 212, 79, 16);
    jobList_ = new QTableWidget(0, 2, client_);
    jobList_->setObjectName(IdName(1009));
    // One Tab stop: Tab leaves the list instead of walking its cells.
    jobList_->setTabKeyNavigation(false);
    // Rows as tight as a list view's, and room for the longest job and the scroll bar
    // that a long value brings, so that a whole job shows without scrolling down.
    jobList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    jobList_->verticalHeader()->setDefaultSectionSize(jobList_->fontMetrics().height() + 4);
    jobList_->setHorizontalHeaderLabels({Tr(kJobColumnItem), kJobColumnValue});
    const int jobListHeight = 2 * jobList_->frameWidth() +
                              jobList_->horizontalHeader()->sizeHint().height() +
                              kJobListRows * jobList_->verticalHeader()->defaultSectionSize() +
                              jobList_->horizontalScrollBar()->sizeHint().height();
    jobList_->setGeometry(du.X(kJobListX), du.Y(kJobListY), du.X(kJobListWidth), jobListHeight);
    const int buttonsY = jobList_->geometry().bottom() + 1 + du.Y(kButtonGap);
    clearButton_ = button(5, Tr(kClearText), 130, 0, 50, 16);
    clearButton_->move(clearButton_->x(), buttonsY);
    clearButton_->setVisible(false);
    frame(QStringLiteral("groupSettings"), Tr(kSettingsGroup), 7, 67, 238, 79);
    readProtect_ = check(1002, Tr(kReadProtectText), 15, 78, 70, 10);
    verify_ = check(1003, Tr(kVerifyText), 15, 115, 105, 10);
    runAfter_ = check(1004, Tr(kRunAfterText), 15, 128, 118, 10);
    fullErase_ = radio(1005, Tr(kFullEraseText), 15, 103, 67, 10);
    sectorErase_ = radio(1006, Tr(kSectorEraseText), 93, 103, 133, 10);
    countEdit_ = edit(1012, 134, 89, 56, 13);
    countEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), countEdit_));
    countLimit_ = check(1011, Tr(kCountLimitText), 15, 90, 108, 10);
    lockChip_ = check(1010, Tr(kLockChipText), 99, 78, 48, 10);
    lockChip_->setVisible(false);
    remoteButton_ = button(6, Tr(kClearText), 186, 0, 50, 16);
    remoteButton_->move(remoteButton_->x(), buttonsY);
    remoteButton_->setToolTip(Tr(kMenuMakeRemoteFile));
    for (QGroupBox* g : frames) g->lower();

    connect(readProtect_, &QCheckBox::clicked, this, &CMarrowdyneDlg::OnReadProtectClicked);
    connect(lockChip_, &QCheckBox::clicked, this, &CMarrowdyneDlg::OnLockChipClicked);
    connect(countLimit_, &QCheckBox::clicked, this, &CMarrowdyneDlg::OnCountLimitClicked);
    connect(openButton_, &QPushButton::clicked, this, &CMarrowdyneDlg::OnOpenFile);
    connect(programButton_, &QPushButton::clicked, this, &CMarrowdyneDlg::OnProgram);
    connect(remoteButton_, &QPushButton::clicked, this, &CMarrowdyneDlg::OnMakeRemoteFile);
    connect(deviceList_, &QComboBox::activated, this, &CMarrowdyneDlg::OnDeviceChosen);
}

// The window is as tall as its controls, unless the screen is smaller (a large font or
// scaling on a small screen): then it takes the screen's height and its controls scroll.
void CMarrowdyneDlg::FitIntoScreen(const QRect& available) {
    const int menuHeight = menuBar_->sizeHint().height();
    const int naturalHeight = menuHeight + client_->height();
    // What the title bar and the frame take of the screen around the window.
    const int decoration = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) +
                           2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) + 8;
    const int height = std::max(menuHeight + 1, std::min(naturalHeight, available.height() - decoration));
    const bool scrolls = height < naturalHeight;
    const int width =
        client_->width() + (scrolls ? clientScroll_->verticalScrollBar()->sizeHint().width() : 0);
    menuBar_->setGeometry(0, 0, width, menuHeight);
    clientScroll_->setGeometry(0, menuHeight, width, height - menuHeight);
    setFixedSize(width, height);
}

void CMarrowdyneDlg::SetInitialControlState() {
    programButton_->setEnabled(false);
    remoteButton_->setEnabled(false);
    readProtect_->setChecked(false);
    verify_->setChecked(true);
    runAfter_->setChecked(false);
    fullErase_->setChecked(false);
    sectorErase_->setChecked(true);
    countLimit_->setChecked(false);
    lockChip_->setChecked(false);
    countEdit_->setEnabled(false);
    countEdit_->setText(QStringLiteral("0"));

    jobList_->setShowGrid(true);
    jobList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    jobList_->setSelectionMode(QAbstractItemView::SingleSelection);
    jobList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    jobList_->verticalHeader()->setVisible(false);
    jobList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    jobList_->setColumnWidth(0, kJobColumnItemWidth);
    jobList_->setColumnWidth(1, kJobColumnValueWidth);

    for (const char* name : kSeriesNames) seriesList_->addItem(QString::fromLatin1(name));
    seriesList_->setCurrentIndex(0);
}

void CMarrowdyneDlg::ConnectAtStart() {
    if (closed_.load()) return;
    if (OpenProgrammer()) ProgrammerOpened();
}

// Opens the programmer when none is open. One that another program holds is only said
// to be in use; the next arrival opens it once it is free.
bool CMarrowdyneDlg::OpenProgrammer() {
    FindResult found;
    if (link_.Open(&found)) return true;
    if (found.refusal == Refusal::InUse) {
        ShowSystemMessage(this, MessageIcon::Exclamation, FromUtf8(Tr(kProgrammerInUseText)));
    }
    return false;
}

// A programmer was opened (start, arrival, choice or in place of one removed): show it
// and identify it.
void CMarrowdyneDlg::ProgrammerOpened() {
    ListProgrammers();
    activeLease_.reset();
    const bool reconcile = !serials.product.empty();
    StartWorker([this, reconcile] {
        IdentifyPort& port = *this;
        if (IdentifyProgrammer(port).ok() && reconcile) ReconcileStoredJob();
    });
}

// List 1000 while a programmer is open: the single entry "Marrowdyne" when it is the only
// one, otherwise every attached programmer by its serial number and path; the open one
// selected.
void CMarrowdyneDlg::ListProgrammers() {
    deviceList_->clear();
    if (!link_.IsOpen() && !choicePending_) return;
    const std::string open = link_.IsOpen() ? link_.DevicePath() : std::string();
    std::vector<HidDeviceInfo> attached = AttachedProgrammers(backend_);
    const auto isOpen = [&open](const HidDeviceInfo& info) { return info.path == open; };
    if (attached.empty()) choicePending_ = false;  // nothing left to choose from
    if (!open.empty() && std::none_of(attached.begin(), attached.end(), isOpen)) {
        // The one in use is listed even when the enumeration no longer shows it.
        HidDeviceInfo inUse;
        inUse.path = open;
        attached.insert(attached.begin(), inUse);
    }
    // One programmer in use is the single entry; a choice names each one.
    const bool named = attached.size() > 1 || open.empty();
    for (const HidDeviceInfo& info : attached) {
        const QString text = named ? ProgrammerIdentityText(info.path, info.serial) : kDeviceEntry;
        deviceList_->addItem(text, QString::fromStdString(info.path));
        deviceList_->setItemData(deviceList_->count() - 1, text, Qt::ToolTipRole);
    }
    const auto chosen = std::find_if(attached.begin(), attached.end(), isOpen);
    deviceList_->setCurrentIndex(chosen == attached.end()
                                     ? -1
                                     : static_cast<int>(chosen - attached.begin()));
    // Named entries get the room of a whole serial number and path, the whole entry as
    // its tool tip; the drop-down shows whole entries, however narrow the list.
    deviceList_->resize(named ? deviceListWideWidth_ : deviceListNarrowWidth_, deviceList_->height());
    deviceList_->setToolTip(named ? deviceList_->currentText() : QString());
    deviceList_->view()->setMinimumWidth(deviceList_->view()->sizeHintForColumn(0));
}

// The window without a programmer: no device, no job, the series list free.
void CMarrowdyneDlg::ShowNoProgrammer() {
    activeLease_.reset();
    deviceList_->clear();
    jobList_->setRowCount(0);
    seriesList_->setEnabled(true);
}

// Which programmer the window talks to, when list 1000 offers a choice; empty otherwise.
QString CMarrowdyneDlg::OpenProgrammerIdentity() const {
    if (deviceList_->count() < 2 || !link_.IsOpen()) return QString();
    return ProgrammerIdentityText(link_.DevicePath(), link_.SerialNumber());
}

void CMarrowdyneDlg::OnReadProtectClicked() { lockChip_->setChecked(false); }

void CMarrowdyneDlg::OnLockChipClicked() {
    if (!lockChip_->isChecked()) return;
    if (AskSystemQuestion(this, kApplicationTitle, Tr(kLockChipQuestion))) {
        readProtect_->setChecked(false);
    } else {
        lockChip_->setChecked(false);
    }
}

void CMarrowdyneDlg::OnCountLimitClicked() { countEdit_->setEnabled(countLimit_->isChecked()); }

bool CMarrowdyneDlg::OnUpdateFirmwareUpdate() const {
    return IsNewerKind(programmerVersion());
}

void CMarrowdyneDlg::OnInitMenuPopup(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->menu()) continue;
        const auto update = enableUpdates_.find(action);
        if (update != enableUpdates_.end()) action->setEnabled(update->second());
    }
}

QString CMarrowdyneDlg::ChooseFirmwareFile() {
    QStringList filter;
    for (const OpenFileFilter& entry : OpenFileFilters())
        filter << FromUtf8(entry.name) + QStringLiteral("(") + FromUtf8(entry.patterns) +
                      QStringLiteral(")");
    return QFileDialog::getOpenFileName(this, QString(), QString(),
                                        filter.join(QStringLiteral(";;")));
}

std::optional<std::uint32_t> CMarrowdyneDlg::AskStartAddress() {
    CAddressDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.startAddress;
}

std::uint32_t CMarrowdyneDlg::AskRemoteCode() {
    CSerNumDlg dialog(this);
    dialog.code = 0;
    dialog.exec();
    // Whatever button closed it, only the code counts.
    return dialog.code;
}

void CMarrowdyneDlg::OnOpenFile() {
    const QString path = ChooseFirmwareFile();
    if (path.isEmpty()) return;
    OpenChosenFile(path);
}

void CMarrowdyneDlg::OpenChosenFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    LoadFile(path, name, ExtensionOfChosenFile(name.toStdString()));
}

void CMarrowdyneDlg::OnDropFiles(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    // The path is taken whole, however long.
    const QString path = urls.front().toLocalFile();
    const QString name = QFileInfo(path).fileName();
    LoadFile(path, name, ExtensionOfName(name.toStdString()));
}

// A drop is answered as a copy whatever the source proposes: a file manager that is
// answered with a move deletes the user's firmware file.
void CMarrowdyneDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMarrowdyneDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMarrowdyneDlg::dropEvent(QDropEvent* event) {
    OnDropFiles(event->mimeData()->urls());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMarrowdyneDlg::LoadFile(const QString& path, const QString& fileName,
                              const std::string& extension) {
    LoadRequest request;
    request.path = ToFsPath(path);
    request.fileName = fileName.toStdString();
    request.extension = extension;
    request.askStartAddress = [this] { return AskStartAddress(); };
    const LoadOutcome outcome = LoadFirmwareFile(workspace_, request);
    switch (outcome.status) {
        case LoadStatus::Loaded:
            break;
        case LoadStatus::Cancelled:
            return;
        case LoadStatus::Busy:
            // The image under a running upload or generation does not change.
            ShowSystemMessage(this, MessageIcon::Exclamation, FromUtf8(outcome.message));
            return;
        case LoadStatus::Unsupported:
            // The system's text names only .hex and .bin: a second line names them all.
            ShowSystemMessage(
                this, MessageIcon::Error,
                FromUtf8(outcome.message) + QStringLiteral("\n") + FromUtf8(AcceptedFormatsNote()));
            return;
        default:
            ShowSystemMessage(this, MessageIcon::Error, FromUtf8(outcome.message));
            return;
    }
    // A loaded remote job file holds a scrambled record, not an image to pack.
    remoteButton_->setEnabled(outcome.kind != FileKind::RemoteJob);
    pathEdit_->setText(path);
    ShowSettingsOfLoadedFile(outcome.kind == FileKind::RemoteJob);
    programButton_->setEnabled(!choicePending_);
}

// A remote job file carries its own settings and is stored with them: while one is
// loaded the controls show them and cannot be changed; the user's own come back with
// the next file of another kind.
void CMarrowdyneDlg::ShowSettingsOfLoadedFile(bool remoteJob) {
    const std::vector<QWidget*> settings = {seriesList_, readProtect_, verify_,    runAfter_,
                                            fullErase_,  sectorErase_, countLimit_, countEdit_,
                                            lockChip_};
    if (remoteJob) {
        if (!userSettings_) {
            userSettings_ = UserSettings{JobSettingsOfControls(), seriesList_->isEnabled()};
        }
        const JobHeader job =
            JobHeader::Decode(JobHeaderBytesOfRecord(workspace_.image.imageBuffer).data());
        seriesList_->setCurrentIndex(job.series < seriesList_->count() ? job.series : -1);
        readProtect_->setChecked(job.options & OptReadProtect);
        verify_->setChecked(job.options & OptVerify);
        runAfter_->setChecked(job.options & OptRunAfter);
        fullErase_->setChecked(job.options & OptFullErase);
        sectorErase_->setChecked(!(job.options & OptFullErase));
        countLimit_->setChecked(job.options & OptCountLimit);
        lockChip_->setChecked(job.options & OptLockChip);
        countEdit_->setText(QString::number(job.countLimit));
        for (QWidget* control : settings) control->setEnabled(false);
        return;
    }
    if (!userSettings_) return;
    const JobSettings& own = userSettings_->settings;
    seriesList_->setCurrentIndex(own.seriesIndex);
    readProtect_->setChecked(own.readProtect);
    verify_->setChecked(own.verify);
    runAfter_->setChecked(own.runAfter);
    fullErase_->setChecked(own.fullErase);
    sectorErase_->setChecked(!own.fullErase);
    countLimit_->setChecked(own.countLimit);
    lockChip_->setChecked(own.lockChip);
    countEdit_->setText(QString::fromStdString(own.countLimitText));
    for (QWidget* control : settings) control->setEnabled(true);
    seriesList_->setEnabled(userSettings_->seriesListEnabled);
    countEdit_->setEnabled(own.countLimit);
    userSettings_.reset();
}

void CMarrowdyneDlg::OnProgram() {
    const UploadKind kind = UploadKindOf(workspace_.fileName);
    if (kind == UploadKind::None) return;
    // The job's series comes from the list, which selects none on an erased programmer.
    if (kind == UploadKind::Job && seriesList_->currentIndex() < 0) {
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kSeriesNotSelected));
        return;
    }
    // With a product of the serial ledger each job gets a block of its own, as large as
    // the run limit that keeps the programmer inside it.
    std::optional<LeaseOrder> order;
    if (kind == UploadKind::Job && !serials.product.empty()) {
        const std::int32_t count = ParseSignedDecimal(countEdit_->text().toStdString());
        if (count < 1) {
            ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kSerialCountNeeded));
            return;
        }
        order = LeaseOrder{serials, shift, count};
    }
    // Disabled here, before the worker runs, so a second click cannot start a second
    // upload; and the image is held from the click on. A block shown from before is no
    // block of this upload: only a lease the worker takes is written.
    programButton_->setEnabled(false);
    activeLease_.reset();
    uploadTouchedProgram_.store(false);
    uploadCutShort_.store(false);
    uploadRunning_.store(true);
    auto use = std::make_shared<ImageWorkspace::ImageUse>(workspace_);
    StartWorker([this, kind, use, order] {
        UploadPort& port = *this;
        std::unique_ptr<SerialLedger> ledger;
        std::optional<SerialLease> lease;
        if (order && !TakeLease(*order, ledger, lease)) {
            OnUiThread([this] { programButton_->setEnabled(!choicePending_); });
            uploadRunning_.store(false);
            return;
        }
        const WorkerOutcome outcome = kind == UploadKind::Job ? UploadJob(port) : UploadRemoteJob(port);
        if (lease) SettleLease(*ledger, *lease, outcome.ok());
        // A verified job, or one refused before anything was sent, is not cut short.
        uploadCutShort_.store(!outcome.ok() && outcome.kind != OutcomeKind::ReadBackFailed &&
                              outcome.kind != OutcomeKind::InputRefused);
        // An upload refused before it began leaves the button to us.
        if (!uploadTouchedProgram_.load()) {
            OnUiThread([this] { programButton_->setEnabled(!choicePending_); });
        }
        uploadRunning_.store(false);
    });
}

// On the upload's worker: the product as the ledger holds it, and a lease of the order's
// size for the open programmer, recorded before anything is written; the settings the
// upload reads then carry its block. Says why when there is none.
bool CMarrowdyneDlg::TakeLease(const LeaseOrder& order, std::unique_ptr<SerialLedger>& ledger,
                               std::optional<SerialLease>& lease) {
    std::string error;
    const std::string where = order.source.ledger.empty() ? DefaultLedgerPath() : order.source.ledger;
    ledger = OpenSerialLedger(where, error);
    SerialProduct product;
    if (ledger && ledger->EnsureProduct(ProductOfShift(order.source.product, order.shift), product, error)) {
        LeaseHolder holder;
        holder.station = StationName();
        holder.programmerPath = link_.DevicePath();
        holder.usbSerial = link_.SerialNumber();
        holder.jobName = workspace_.fileName;
        holder.imageChecksum = JobImageOfImage(workspace_.image).crc;
        lease = ledger->TakeLease(product.name, order.count, holder, error);
    }
    if (!lease) {
        ShowMessage(MessageIcon::Error, Tr(kSerialsNotLeased.toStdString()) + "\n" + error);
        return false;
    }
    OnUiThread([this, product, taken = *lease] { activeLease_ = ShownLease{product, taken}; });
    return true;
}

// After the upload: stored, or void when it failed, since its values may have reached a
// part and are never handed out again.
void CMarrowdyneDlg::SettleLease(SerialLedger& ledger, const SerialLease& lease, bool stored) {
    std::string error;
    if (!(stored ? ledger.MarkStored(lease.id, error) : ledger.MarkVoid(lease.id, error))) {
        ShowMessage(MessageIcon::Error, Tr(kSerialsNotLeased.toStdString()) + "\n" + error);
    }
}

// On the identification's worker, with a product named: what the stored header's block
// has used is recorded, and a block the ledger does not know is said.
void CMarrowdyneDlg::ReconcileStoredJob() {
    const std::string where = serials.ledger.empty() ? DefaultLedgerPath() : serials.ledger;
    const StoredJob stored = link_.storedJob();
    if (stored.header.size() != kJobHeaderSize || stored.header[0] != kJobMarker) return;
    std::string error;
    std::unique_ptr<SerialLedger> ledger = OpenSerialLedger(where, error);
    const JobHeader header = JobHeader::Decode(stored.header.data());
    std::optional<Reconciliation> seen;
    if (ledger) seen = ledger->Reconcile(header, {link_.DevicePath(), link_.SerialNumber()}, error);
    if (!seen) {
        ShowMessage(MessageIcon::Error, Tr(kSerialsNotLeased.toStdString()) + "\n" + error);
        return;
    }
    if (IsConflict(seen->outcome)) {
        ShowMessage(MessageIcon::Exclamation, Tr(kSerialConflict.toStdString()) + "\n" + seen->detail);
        return;
    }
    if (seen->outcome != ReconcileOutcome::Matched || !seen->lease) return;
    SerialProduct product;
    product.shiftStep = header.shiftStep;
    OnUiThread([this, product, lease = *seen->lease] { activeLease_ = ShownLease{product, lease}; });
    ShowJobDescription(DescribeJob(stored.name, stored.header.data(), link_.programmerVersion()));
}

void CMarrowdyneDlg::OnMakeRemoteFile() {
    // The menu item may still show enabled from before a remote job file was loaded.
    if (!remoteButton_->isEnabled()) return;
    const std::uint32_t code = AskRemoteCode();
    if (code == 0) return;
    remoteCode_.store(code);
    auto use = std::make_shared<ImageWorkspace::ImageUse>(workspace_);
    StartWorker([this, use] {
        // Generations share the scramble buffer: one after the other.
        std::lock_guard<std::mutex> one(generationMutex_);
        RemoteGenerationPort& port = *this;
        GenerateRemoteJobFile(port);
    });
}

void CMarrowdyneDlg::OnOptions() {
    COptionsDlg dialog(shift, this, &serials);
    dialog.exec();
}

void CMarrowdyneDlg::OnManual() {
    CManualDlg dialog(this);
    dialog.exec();
}

void CMarrowdyneDlg::OnFirmwareUpdate() {
    if (!OnUpdateFirmwareUpdate()) return;
    CFirmwareDlg dialog(link_, this);
    firmwareDlg_ = &dialog;
    dialog.exec();
}

void CMarrowdyneDlg::OnAboutDevice() {
    CAboutDlg dialog(programmerVersion(), connectionCode(), this, OpenProgrammerIdentity());
    dialog.exec();
}

void CMarrowdyneDlg::PostDeviceEvent(const DeviceEvent& event) {
    QMetaObject::invokeMethod(this, [this, event] { OnDeviceChange(event); }, Qt::QueuedConnection);
}

void CMarrowdyneDlg::OnDeviceChange(const DeviceEvent& event) {
    if (closed_.load()) return;
    if (event.kind == DeviceEvent::Kind::Arrival) {
        // While the operator is to choose, an arrival is one more to choose from.
        if (!choicePending_ && OpenProgrammer()) {
            ProgrammerOpened();
        } else if (link_.IsOpen() || choicePending_) {
            // Another programmer is listed; the window stays with the one it has.
            ListProgrammers();
        }
        return;
    }
    if (link_.OnRemoval(event.path)) {
        ShowNoProgrammer();
        // Never a silent switch: the job was meant for the one removed, so the others are
        // listed, none chosen, and Program waits until the operator chooses one.
        if (!AttachedProgrammers(backend_).empty()) {
            choicePending_ = true;
            ListProgrammers();
            UpdateProgramButton();
        }
    } else if (link_.IsOpen() || choicePending_) {
        ListProgrammers();
    }
}

// Program is offered for a loaded file, unless the chosen programmer was removed and no
// other has been chosen yet.
void CMarrowdyneDlg::UpdateProgramButton() {
    programButton_->setEnabled(!workspace_.fileName.empty() && !choicePending_ &&
                               !uploadRunning_.load());
}

void CMarrowdyneDlg::OnDeviceChosen(int index) {
    if (closed_.load() || (!link_.IsOpen() && !choicePending_)) return;
    const std::string path = deviceList_->itemData(index, kPathRole).toString().toStdString();
    if (path.empty() || (link_.IsOpen() && path == link_.DevicePath())) return;
    // The job being written stays with its programmer; so does the window.
    if (uploadRunning_.load()) {
        ListProgrammers();
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kChoiceWhileStoring));
        return;
    }
    FindResult found;
    if (!link_.OpenInstead(path, &found)) {
        ListProgrammers();
        if (found.refusal == Refusal::InUse) {
            ShowSystemMessage(this, MessageIcon::Exclamation, FromUtf8(Tr(kProgrammerInUseText)));
            return;
        }
        const std::string why = found.refusedReason.empty() ? path : found.refusedReason;
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kChoiceNotOpened).arg(FromUtf8(why)));
        return;
    }
    // Nothing of the programmer before stays shown while this one is identified.
    ShowNoProgrammer();
    choicePending_ = false;
    UpdateProgramButton();
    ProgrammerOpened();
}

#ifdef Q_OS_WIN
bool CMarrowdyneDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kSysCmdAbout) {
        OnAboutDevice();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif

void CMarrowdyneDlg::SetProgressRange(std::uint32_t maximum) {
    OnUiThread([this, maximum] {
        progress_->setRange(0, ClampToInt(maximum));
        progress_->setValue(0);
    });
}

void CMarrowdyneDlg::SetProgressPosition(std::uint32_t position) {
    // Once a block: not waited for, and only the newest position is shown.
    progressPosition_.store(position);
    if (QThread::currentThread() == thread()) {
        progress_->setValue(ClampToInt(position));
        return;
    }
    if (closed_.load() || progressPosted_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            progressPosted_.store(false);
            if (!closed_.load()) progress_->setValue(ClampToInt(progressPosition_.load()));
        },
        Qt::QueuedConnection);
}

void CMarrowdyneDlg::ShowMessage(MessageIcon icon, std::string_view text) {
    const QString message = FromUtf8(text);
    OnUiThread([this, icon, &message] {
        if (!closed_.load()) ShowSystemMessage(this, icon, message);
    });
}

void CMarrowdyneDlg::HideLockChip() {
    OnUiThread([this] { lockChip_->setVisible(false); });
}

void CMarrowdyneDlg::SetSeriesList(bool enabled, int selectedIndex) {
    OnUiThread([this, enabled, selectedIndex] {
        // A loaded remote job file's series stays shown; identification's choice is the
        // user's own, back with the next file.
        if (userSettings_) {
            userSettings_->seriesListEnabled = enabled;
            userSettings_->settings.seriesIndex = selectedIndex;
            return;
        }
        seriesList_->setEnabled(enabled);
        seriesList_->setCurrentIndex(selectedIndex >= 0 && selectedIndex < seriesList_->count()
                                         ? selectedIndex
                                         : -1);
    });
}

void CMarrowdyneDlg::ShowJobDescription(const JobDescription& shownRows) {
    OnUiThread([this, &shownRows] {
        // The options row of a job with a leased block names the block and its use.
        JobDescription rows = shownRows;
        if (activeLease_ && rows.size() > kCodeShiftRow && rows[kCodeShiftRow].value != kRowNotApplicable) {
            rows[kCodeShiftRow].value += " (" + LeaseBlockText(activeLease_->lease, activeLease_->product.shiftStep) + ")";
        }
        jobList_->setRowCount(0);
        jobList_->setRowCount(static_cast<int>(rows.size()));
        for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
            const JobDescriptionRow& row = rows[static_cast<std::size_t>(i)];
            jobList_->setItem(i, 0, new QTableWidgetItem(FromUtf8(row.label)));
            auto* value = new QTableWidgetItem(FromUtf8(row.value));
            // Readable whole even while it lies partly beyond the list's edge.
            value->setToolTip(value->text());
            jobList_->setItem(i, 1, value);
        }
        FitJobColumns();
    });
}

// The columns grow to their texts, never below the template's widths, and the value
// column fills the list.
void CMarrowdyneDlg::FitJobColumns() {
    jobList_->resizeColumnsToContents();
    jobList_->setColumnWidth(0, std::max(jobList_->columnWidth(0), kJobColumnItemWidth));
    const int rest = jobList_->viewport()->width() - jobList_->columnWidth(0);
    jobList_->setColumnWidth(1, std::max({jobList_->columnWidth(1), kJobColumnValueWidth, rest}));
}

void CMarrowdyneDlg::SetProgramEnabled(bool enabled) {
    uploadTouchedProgram_.store(true);
    OnUiThread([this, enabled] { programButton_->setEnabled(enabled && !choicePending_); });
}

JobSettings CMarrowdyneDlg::CurrentJobSettings() {
    return OnUiThread([this] {
        JobSettings settings = JobSettingsOfControls();
        if (activeLease_ && uploadRunning_.load()) ApplyLease(settings, activeLease_->product, activeLease_->lease);
        return settings;
    });
}

JobSettings CMarrowdyneDlg::JobSettingsOfControls() const {
    {
        JobSettings settings;
        settings.seriesIndex = seriesList_->currentIndex();
        settings.readProtect = readProtect_->isChecked();
        settings.verify = verify_->isChecked();
        settings.runAfter = runAfter_->isChecked();
        settings.fullErase = fullErase_->isChecked();
        settings.countLimit = countLimit_->isChecked();
        settings.lockChip = lockChip_->isChecked();
        settings.countLimitText = countEdit_->text().toStdString();
        settings.shift = shift;
        return settings;
    }
}

std::vector<std::filesystem::path> CMarrowdyneDlg::OutputDirectories() {
    std::vector<std::filesystem::path> directories;
    if (auto own = ProgramDirectory(); !own.empty()) directories.push_back(own);
    // The loaded file cannot change while the generation holds the image.
    if (auto loaded = workspace_.filePath.parent_path(); !loaded.empty()) directories.push_back(loaded);
    return directories;
}

void CMarrowdyneDlg::StartWorker(std::function<void()> body) {
    ReapWorkers();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([body = std::move(body), done] {
        struct MarkDone {
            std::atomic<bool>& flag;
            ~MarkDone() { flag.store(true); }
        } mark{*done};
        body();
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
}

void CMarrowdyneDlg::ReapWorkers() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CMarrowdyneDlg::WorkersRunning() {
    ReapWorkers();
    return !workers_.empty();
}

bool CMarrowdyneDlg::FinishWorkers(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        ReapWorkers();
        if (workers_.empty()) return true;
        if (timeoutMs >= 0 && clock.elapsed() >= timeoutMs) return false;
        // Serves the calls the workers wait on; the user's input waits.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Closing: no port call blocks or shows anything any more, the link is closed so the next
// exchange fails at once, and the workers get a little time to end.
void CMarrowdyneDlg::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    closed_.store(true);
    watcher_.reset();
    link_.Close();
    FinishWorkers(kCloseWaitMs);
}

CMarrowdyneDlg::StoringWork CMarrowdyneDlg::Storing() const {
    if (uploadRunning_.load()) return StoringWork::Job;
    if (firmwareDlg_ && firmwareDlg_->IsUpdating()) return StoringWork::Firmware;
    return StoringWork::None;
}

void CMarrowdyneDlg::keyPressEvent(QKeyEvent* event) {
    // Escape alone never cuts a store short; the close box asks.
    if (event->matches(QKeySequence::Cancel) && Storing() != StoringWork::None) return;
    QDialog::keyPressEvent(event);
}

// A store cut short leaves a job header that claims the whole image, and the programmer
// shows it as a normal job; so the user decides, and the default is to stay.
void CMarrowdyneDlg::reject() {
    if (Storing() != StoringWork::None &&
        !AskSystemQuestion(this, kSystemCaption, Tr(kCloseWhileStoringQuestion), QMessageBox::No)) {
        return;
    }
    QDialog::reject();
}

void CMarrowdyneDlg::done(int result) {
    const StoringWork cut = Storing();
    Shutdown();
    // Said once the link is closed, so the worker can no longer finish behind the note.
    if (cut == StoringWork::Job && (uploadRunning_.load() || uploadCutShort_.load())) {
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kJobIncompleteNote));
    } else if (cut == StoringWork::Firmware) {
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kFirmwareIncompleteNote));
    }
    QDialog::done(result);
}
