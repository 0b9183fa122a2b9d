#include "app/CMarrowdyneDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
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
#include <QGridLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "app/CAboutDlg.h"
#include "app/CManualDlg.h"
#include "app/DeviceWatcher.h"
#include "ui/DialogUnits.h"
#include "ui/FilePath.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "image/FileLoading.h"
#include "image/ui/CAddressDlg.h"
#include "job/ui/COptionsDlg.h"
#include "link/SimulatedBackend.h"
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

int ClampToInt(std::uint32_t value) {
    return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

CMarrowdyneDlg::CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options,
                               QWidget* parent)
    : QDialog(parent),
      session_(std::make_unique<MainDialogSession>(backend, *this, dispatcher_)),
      shelf_(std::make_unique<ShelfSession>(backend, *session_, *this, dispatcher_)),
      shift(session_->shift),
      serials(session_->serials),
      options_(options) {
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
    CreateShelfPanel();
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
    shelf_->SetOpensForSeveral(options_.shelfForSeveral);

    if (options_.simulator) {
        options_.simulator->SetEventSink(
            [this](const DeviceEvent& event) { PostDeviceEvent(event); });
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
                    if (!session_->Closed())
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
    QMetaObject::invokeMethod(
        this, [this] { shelf_->Start(); }, Qt::QueuedConnection);
}

CMarrowdyneDlg::~CMarrowdyneDlg() {
    watcher_.reset();
    session_->Shutdown();
    session_->FinishWorkers(-1);
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
    openAction_ = open;
    QAction* remote =
        file->addAction(Tr(kMenuMakeRemoteFile), this, &CMarrowdyneDlg::OnMakeRemoteFile);
    remote->setObjectName(QStringLiteral("actionMakeRemoteFile"));
    enableUpdates_[remote] = [this] { return session_->RemoteFileOffered(); };

    QMenu* tools = menuBar_->addMenu(Tr(kToolsMenu));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->addAction(Tr(kOptionsItem), this, &CMarrowdyneDlg::OnOptions)
        ->setObjectName(IdName(kCmdOptions));
    QAction* update =
        tools->addAction(Tr(kMenuFirmwareUpdate), this, &CMarrowdyneDlg::OnFirmwareUpdate);
    update->setObjectName(IdName(kCmdFirmwareUpdate));
    enableUpdates_[update] = [this] { return OnUpdateFirmwareUpdate(); };
    shelfAction_ = tools->addAction(Tr(kMenuShelf));
    shelfAction_->setObjectName(QStringLiteral("actionShelf"));
    shelfAction_->setCheckable(true);
    connect(shelfAction_, &QAction::triggered, this, &CMarrowdyneDlg::OnShelf);
    logFileAction_ = tools->addAction(Tr(kMenuLogFile), this, &CMarrowdyneDlg::OnLogFile);
    logFileAction_->setObjectName(QStringLiteral("actionLogFile"));
    enableUpdates_[shelfAction_] = [this] { return !shelfRunning_; };
    enableUpdates_[logFileAction_] = [this] { return !shelfRunning_; };

    QMenu* help = menuBar_->addMenu(Tr(kHelpMenu));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(Tr(kManualItem), this, &CMarrowdyneDlg::OnManual)
        ->setObjectName(IdName(kCmdManual));
    help->addAction(Tr(kAboutItem), this, &CMarrowdyneDlg::OnAboutDevice)
        ->setObjectName(IdName(kCmdAboutDevice));

    if (demo) {
        QMenu* menu = menuBar_->addMenu(Tr(kMenuDemo));
        menu->setObjectName(QStringLiteral("menuDemo"));
        SimulatedBackend* sim = options_.simulator;
        const std::string path = options_.demoProgrammerPath;
        QAction* plug =
            menu->addAction(Tr(kMenuPlugProgrammer), this, [sim, path] { sim->Plug(path); });
        plug->setObjectName(QStringLiteral("actionPlugProgrammer"));
        enableUpdates_[plug] = [sim, path] { return !sim->IsPlugged(path); };
        QAction* unplug =
            menu->addAction(Tr(kMenuUnplugProgrammer), this, [sim, path] { sim->Unplug(path); });
        unplug->setObjectName(QStringLiteral("actionUnplugProgrammer"));
        enableUpdates_[unplug] = [sim, path] { return sim->IsPlugged(path); };
        // Each programmer of a simulated shelf in or out, ticked while plugged in.
        if (options_.demoShelfPaths.size() > 1) menu->addSeparator();
        for (std::size_t i = 0;
             options_.demoShelfPaths.size() > 1 && i < options_.demoShelfPaths.size(); ++i) {
            const std::string each = options_.demoShelfPaths[i];
            QAction* item = menu->addAction(QString::fromStdString(each));
            item->setObjectName(QStringLiteral("actionDemoProgrammer%1").arg(i));
            item->setCheckable(true);
            connect(item, &QAction::triggered, this, [sim, each](bool plugged) {
                if (plugged) {
                    sim->Plug(each);
                } else {
                    sim->Unplug(each);
                }
            });
            enableUpdates_[item] = [sim, each, item] {
                item->setChecked(sim->IsPlugged(each));
                return true;
            };
        }
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
                           2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) +
                           8;
    const int height =
        std::max(menuHeight + 1, std::min(naturalHeight, available.height() - decoration));
    const bool scrolls = height < naturalHeight;
    const int controlsWidth =
        client_->width() + (scrolls ? clientScroll_->verticalScrollBar()->sizeHint().width() : 0);
    // The shelf's panel lies beside the controls, as tall as they are.
    const int width = controlsWidth + (shelfPanel_->isVisibleTo(this) ? shelfPanel_->width() : 0);
    menuBar_->setGeometry(0, 0, width, menuHeight);
    clientScroll_->setGeometry(0, menuHeight, controlsWidth, height - menuHeight);
    shelfPanel_->setGeometry(controlsWidth, menuHeight, shelfPanel_->width(), height - menuHeight);
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

// List 1000 while a programmer is open: the single entry "Marrowdyne" when it is the only
// one, otherwise every attached programmer by its serial number and path.
void CMarrowdyneDlg::ShowProgrammers(const std::vector<ProgrammerEntry>& entries, int chosen,
                                     bool named) {
    deviceList_->clear();
    if (entries.empty() && !named) return;
    for (const ProgrammerEntry& entry : entries) {
        const QString text =
            named ? ProgrammerIdentityText(entry.path, entry.serial) : kDeviceEntry;
        deviceList_->addItem(text, QString::fromStdString(entry.path));
        deviceList_->setItemData(deviceList_->count() - 1, text, Qt::ToolTipRole);
    }
    deviceList_->setCurrentIndex(chosen);
    // Named entries get the room of a whole serial number and path, the whole entry as
    // its tool tip; the drop-down shows whole entries, however narrow the list.
    deviceList_->resize(named ? deviceListWideWidth_ : deviceListNarrowWidth_,
                        deviceList_->height());
    deviceList_->setToolTip(named ? deviceList_->currentText() : QString());
    deviceList_->view()->setMinimumWidth(deviceList_->view()->sizeHintForColumn(0));
}

// Which programmer the window talks to, when list 1000 offers a choice; empty otherwise.
QString CMarrowdyneDlg::OpenProgrammerIdentity() const {
    const ProgrammerLink& link = session_->Link();
    if (session_->ProgrammersListed() < 2 || !link.IsOpen()) return QString();
    return ProgrammerIdentityText(link.DevicePath(), link.SerialNumber());
}

void CMarrowdyneDlg::OnReadProtectClicked() { session_->ReadProtectClicked(); }

void CMarrowdyneDlg::OnLockChipClicked() { session_->LockChipClicked(lockChip_->isChecked()); }

void CMarrowdyneDlg::OnCountLimitClicked() {
    session_->CountLimitClicked(countLimit_->isChecked());
}

bool CMarrowdyneDlg::OnUpdateFirmwareUpdate() const { return session_->FirmwareUpdateOffered(); }

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
    session_->OpenFile(ChosenFile{ToFsPath(path), path.toStdString(), name.toStdString(), false});
}

void CMarrowdyneDlg::OnDropFiles(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    // The path is taken whole, however long.
    const QString path = urls.front().toLocalFile();
    const QString name = QFileInfo(path).fileName();
    session_->OpenFile(ChosenFile{ToFsPath(path), path.toStdString(), name.toStdString(), true});
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

void CMarrowdyneDlg::OnProgram() { session_->Program(); }

void CMarrowdyneDlg::OnMakeRemoteFile() { session_->MakeRemoteFile(); }

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
    CFirmwareDlg dialog(Link(), this);
    firmwareDlg_ = &dialog;
    dialog.exec();
}

void CMarrowdyneDlg::OnAboutDevice() {
    CAboutDlg dialog(programmerVersion(), connectionCode(), this, OpenProgrammerIdentity());
    dialog.exec();
}

void CMarrowdyneDlg::PostDeviceEvent(const DeviceEvent& event) {
    QMetaObject::invokeMethod(
        this, [this, event] { OnDeviceChange(event); }, Qt::QueuedConnection);
}

void CMarrowdyneDlg::OnDeviceChange(const DeviceEvent& event) { shelf_->DeviceChanged(event); }

void CMarrowdyneDlg::OnDeviceChosen(int index) {
    session_->ChooseProgrammer(deviceList_->itemData(index, kPathRole).toString().toStdString());
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

QWidget* CMarrowdyneDlg::Control(DialogControl control) const {
    switch (control) {
        case DialogControl::SeriesList:
            return seriesList_;
        case DialogControl::ReadProtect:
            return readProtect_;
        case DialogControl::Verify:
            return verify_;
        case DialogControl::RunAfter:
            return runAfter_;
        case DialogControl::FullErase:
            return fullErase_;
        case DialogControl::SectorErase:
            return sectorErase_;
        case DialogControl::LockChip:
            return lockChip_;
        case DialogControl::CountLimit:
            return countLimit_;
        case DialogControl::CountEdit:
            return countEdit_;
        case DialogControl::Program:
            return programButton_;
        case DialogControl::RemoteFile:
            return remoteButton_;
    }
    return nullptr;
}

void CMarrowdyneDlg::SetControlEnabled(DialogControl control, bool enabled) {
    if (QWidget* widget = Control(control)) widget->setEnabled(enabled);
}

void CMarrowdyneDlg::SetControlChecked(DialogControl control, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(control));
        button && button->isCheckable()) {
        button->setChecked(checked);
    }
}

void CMarrowdyneDlg::SelectSeries(int index) {
    seriesList_->setCurrentIndex(index < seriesList_->count() ? index : -1);
}

void CMarrowdyneDlg::SetCountText(const std::string& text) {
    countEdit_->setText(QString::fromStdString(text));
}

void CMarrowdyneDlg::ShowPath(const std::string& shownPath) {
    pathEdit_->setText(QString::fromStdString(shownPath));
}

void CMarrowdyneDlg::SetProgressRange(std::uint32_t maximum) {
    progress_->setRange(0, ClampToInt(maximum));
}

void CMarrowdyneDlg::SetProgressPosition(std::uint32_t position) {
    progress_->setValue(ClampToInt(position));
}

void CMarrowdyneDlg::ShowMessage(MessageIcon icon, std::string_view text) {
    ShowSystemMessage(this, icon, FromUtf8(text));
}

void CMarrowdyneDlg::ShowText(MessageIcon icon, const SessionText& text) {
    QString shown = QString::fromUtf8(Tr(text.msgid));
    if (shown.contains(QStringLiteral("%1"))) shown = shown.arg(FromUtf8(text.argument));
    if (text.detail) shown += QStringLiteral("\n") + FromUtf8(*text.detail);
    ShowSystemMessage(this, icon, shown);
}

bool CMarrowdyneDlg::AskQuestion(QuestionCaption caption, const char* msgid, bool defaultNo) {
    return AskSystemQuestion(
        this, caption == QuestionCaption::Application ? kApplicationTitle : kSystemCaption,
        QString::fromUtf8(Tr(msgid)), defaultNo ? QMessageBox::No : QMessageBox::NoButton);
}

bool CMarrowdyneDlg::FirmwareBeingStored() { return firmwareDlg_ && firmwareDlg_->IsUpdating(); }

void CMarrowdyneDlg::HideLockChip() { lockChip_->setVisible(false); }

void CMarrowdyneDlg::ShowJobDescription(const JobDescription& rows) {
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
}

// The columns grow to their texts, never below the template's widths, and the value
// column fills the list.
void CMarrowdyneDlg::FitJobColumns() {
    jobList_->resizeColumnsToContents();
    jobList_->setColumnWidth(0, std::max(jobList_->columnWidth(0), kJobColumnItemWidth));
    const int rest = jobList_->viewport()->width() - jobList_->columnWidth(0);
    jobList_->setColumnWidth(1, std::max({jobList_->columnWidth(1), kJobColumnValueWidth, rest}));
}

JobSettings CMarrowdyneDlg::ReadSettings() {
    JobSettings settings;
    settings.seriesIndex = seriesList_->currentIndex();
    settings.readProtect = readProtect_->isChecked();
    settings.verify = verify_->isChecked();
    settings.runAfter = runAfter_->isChecked();
    settings.fullErase = fullErase_->isChecked();
    settings.countLimit = countLimit_->isChecked();
    settings.lockChip = lockChip_->isChecked();
    settings.countLimitText = countEdit_->text().toStdString();
    return settings;
}

void CMarrowdyneDlg::keyPressEvent(QKeyEvent* event) {
    // Escape alone never cuts a store short; the close box asks.
    if (event->matches(QKeySequence::Cancel) && !session_->EscapeCloses()) return;
    QDialog::keyPressEvent(event);
}

void CMarrowdyneDlg::reject() {
    if (!session_->MayClose()) return;
    QDialog::reject();
}

void CMarrowdyneDlg::done(int result) {
    watcher_.reset();
    session_->Close();
    QDialog::done(result);
}

namespace {

// The shelf panel, in dialog units: two columns of tiles above the buttons and the log.
constexpr int kShelfWidth = 360;
constexpr int kTileHeight = 56;

QString TileJobText(const ShelfTile& tile) {
    QString text = tile.path.empty() ? QString() : QString::fromStdString(tile.path);
    if (!tile.jobName.empty()) {
        text += QStringLiteral("\n") + QString::fromUtf8(tile.jobName.c_str()) +
                QStringLiteral("  ") + QString::fromUtf8(tile.series.c_str());
        if (tile.imageCrc) {
            text += QStringLiteral("  CRC %1").arg(*tile.imageCrc, 8, 16, QLatin1Char('0'));
        }
    }
    if (!tile.codeShift.empty()) text += QStringLiteral("\n") + QString::fromUtf8(tile.codeShift);
    return text;
}

}  // namespace

void CMarrowdyneDlg::CreateShelfPanel() {
    const DialogUnits du(font());
    shelfPanel_ = new QWidget(this);
    shelfPanel_->setObjectName(QStringLiteral("shelfPanel"));
    shelfPanel_->resize(du.X(kShelfWidth), 0);
    auto* layout = new QVBoxLayout(shelfPanel_);
    auto* group = new QGroupBox(Tr(kShelfGroup), shelfPanel_);
    auto* groupLayout = new QVBoxLayout(group);
    auto* scroll = new QScrollArea(group);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* tiles = new QWidget(scroll);
    tileColumn_ = new QGridLayout(tiles);
    tileColumn_->setAlignment(Qt::AlignTop);
    scroll->setWidget(tiles);
    groupLayout->addWidget(scroll);
    layout->addWidget(group, 3);

    auto* buttons = new QHBoxLayout();
    storeAllButton_ = new QPushButton(Tr(kStoreAllText), shelfPanel_);
    storeAllButton_->setObjectName(QStringLiteral("shelfStoreAll"));
    verifyAllButton_ = new QPushButton(Tr(kVerifyAllText), shelfPanel_);
    verifyAllButton_->setObjectName(QStringLiteral("shelfVerifyAll"));
    counters_ = new QLabel(shelfPanel_);
    counters_->setObjectName(QStringLiteral("shelfCounters"));
    buttons->addWidget(storeAllButton_);
    buttons->addWidget(verifyAllButton_);
    buttons->addStretch();
    buttons->addWidget(counters_);
    layout->addLayout(buttons);

    auto* logGroup = new QGroupBox(Tr(kLogGroup), shelfPanel_);
    auto* logLayout = new QVBoxLayout(logGroup);
    logPane_ = new QTableWidget(0, 4, logGroup);
    logPane_->setObjectName(QStringLiteral("shelfLog"));
    logPane_->setHorizontalHeaderLabels(
        {Tr(kLogColumnTime), Tr(kLogColumnSerial), Tr(kLogColumnResult), Tr(kLogColumnMessage)});
    logPane_->verticalHeader()->setVisible(false);
    logPane_->verticalHeader()->setDefaultSectionSize(logPane_->fontMetrics().height() + 4);
    logPane_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    logPane_->setSelectionBehavior(QAbstractItemView::SelectRows);
    logPane_->horizontalHeader()->setStretchLastSection(true);
    logLayout->addWidget(logPane_);
    layout->addWidget(logGroup, 2);

    connect(storeAllButton_, &QPushButton::clicked, this, [this] { shelf_->StoreIntoAll(); });
    connect(verifyAllButton_, &QPushButton::clicked, this, [this] { shelf_->VerifyAll(); });
    ShowCounters({});
    shelfPanel_->setVisible(false);
}

void CMarrowdyneDlg::OnShelf(bool shown) {
    if (shown) {
        shelf_->Show();
    } else {
        shelf_->Leave();
    }
    shelfAction_->setChecked(shelf_->Shown());
}

QString CMarrowdyneDlg::ChooseBackupFile() {
    return QFileDialog::getSaveFileName(this, Tr(kBackUpText), QString(),
                                        QString::fromUtf8(kBackUpPatterns));
}

QString CMarrowdyneDlg::ChooseLogFile() {
    return QFileDialog::getSaveFileName(this, Tr(kMenuLogFile), QString(), QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void CMarrowdyneDlg::OnLogFile() {
    const QString path = ChooseLogFile();
    if (!path.isEmpty()) shelf_->ChooseLogFile(ToFsPath(path), path.toStdString());
}

void CMarrowdyneDlg::OnBackUp(std::size_t tile) {
    const QString path = ChooseBackupFile();
    if (!path.isEmpty()) shelf_->BackUp(tile, ToFsPath(path), path.toStdString());
}

void CMarrowdyneDlg::ShowShelf(bool shown) {
    shelfPanel_->setVisible(shown);
    shelfAction_->setChecked(shown);
    FitIntoScreen(screen()->availableGeometry());
}

void CMarrowdyneDlg::ShowTiles(const std::vector<ShelfTile>& tiles) {
    const DialogUnits du(font());
    while (tiles_.size() < tiles.size()) {
        const std::size_t index = tiles_.size();
        TileWidgets w;
        w.frame = new QGroupBox(shelfPanel_);
        w.frame->setObjectName(QStringLiteral("shelfTile%1").arg(index));
        w.frame->setMinimumHeight(du.Y(kTileHeight));
        w.frame->setMaximumHeight(du.Y(kTileHeight) * 3 / 2);
        auto* grid = new QGridLayout(w.frame);
        w.tick = new QCheckBox(w.frame);
        w.tick->setObjectName(QStringLiteral("tileTick"));
        w.state = new QLabel(w.frame);
        w.state->setObjectName(QStringLiteral("tileState"));
        w.state->setWordWrap(true);
        w.job = new QLabel(w.frame);
        w.job->setObjectName(QStringLiteral("tileJob"));
        w.progress = new QProgressBar(w.frame);
        w.progress->setTextVisible(false);
        w.backUp = new QPushButton(Tr(kBackUpText), w.frame);
        w.backUp->setObjectName(QStringLiteral("tileBackUp"));
        grid->setContentsMargins(4, 2, 4, 2);
        grid->setVerticalSpacing(1);
        grid->addWidget(w.tick, 0, 0);
        grid->addWidget(w.state, 1, 0, 1, 2);
        grid->addWidget(w.job, 2, 0, 1, 2);
        grid->addWidget(w.progress, 3, 0);
        grid->addWidget(w.backUp, 3, 1, Qt::AlignRight);
        grid->setColumnStretch(0, 1);
        connect(w.tick, &QCheckBox::clicked, this,
                [this, index](bool ticked) { shelf_->SetTicked(index, ticked); });
        connect(w.backUp, &QPushButton::clicked, this, [this, index] { OnBackUp(index); });
        tileColumn_->addWidget(w.frame, static_cast<int>(index / 2), static_cast<int>(index % 2));
        tiles_.push_back(w);
    }
    for (std::size_t i = 0; i < tiles.size(); ++i) ShowTile(i, tiles[i]);
}

void CMarrowdyneDlg::ShowTile(std::size_t index, const ShelfTile& tile) {
    if (index >= tiles_.size()) return;
    TileWidgets& w = tiles_[index];
    w.tick->setText(tile.serial.empty() ? QString::fromStdString(tile.path)
                                        : QString::fromStdString(tile.serial));
    w.tick->setChecked(tile.ticked);
    QString state = QString::fromUtf8(Tr(TileStateText(tile.state)));
    if (!tile.message.empty()) state += QStringLiteral(": ") + FromUtf8(tile.message);
    w.state->setText(state);
    w.job->setText(TileJobText(tile));
    w.progress->setRange(0, std::max(1, ClampToInt(tile.progressMaximum)));
    w.progress->setValue(tile.progressMaximum == 0 && (tile.state == TileState::HoldsJob ||
                                                       tile.state == TileState::Differs)
                             ? 1
                             : ClampToInt(tile.progress));
    w.backUp->setEnabled(!shelfRunning_ && tile.state != TileState::Removed);
}

void CMarrowdyneDlg::ShowCounters(const ShelfCounters& counters) {
    counters_->setText(FromUtf8(ShelfCountersText(counters)));
}

void CMarrowdyneDlg::AddLogLine(const ShelfLogLine& line) {
    const int row = logPane_->rowCount();
    logPane_->insertRow(row);
    const QString texts[] = {FromUtf8(line.time), FromUtf8(line.serial), FromUtf8(line.result),
                             FromUtf8(line.message)};
    for (int column = 0; column < 4; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        // The record whole, as the log file holds it.
        item->setToolTip(FromUtf8(line.record));
        logPane_->setItem(row, column, item);
    }
    logPane_->scrollToBottom();
}

// While the shelf writes, the file and the settings under it stay as they are; then
// each control is as it was.
void CMarrowdyneDlg::SetShelfRunning(bool running) {
    if (running == shelfRunning_) return;
    shelfRunning_ = running;
    if (running) {
        heldControls_.clear();
        for (QWidget* control : std::initializer_list<QWidget*>{
                 openButton_, seriesList_, readProtect_, verify_, runAfter_, fullErase_,
                 sectorErase_, countLimit_, countEdit_, storeAllButton_, verifyAllButton_}) {
            heldControls_.emplace_back(control, control->isEnabled());
            control->setEnabled(false);
        }
    } else {
        for (const auto& [control, enabled] : heldControls_) control->setEnabled(enabled);
        heldControls_.clear();
    }
    openAction_->setEnabled(!running);
    setAcceptDrops(!running);
    for (TileWidgets& w : tiles_) {
        w.tick->setEnabled(!running);
        w.backUp->setEnabled(!running);
    }
}
