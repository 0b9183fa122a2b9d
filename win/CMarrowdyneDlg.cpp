#include "win/CMarrowdyneDlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>

#include "common/PathText.h"
#include "common/Translation.h"
#include "common/WideText.h"
#include "image/FileLoading.h"
#include "job/JobHeader.h"
#include "link/SimulatedBackend.h"
#include "link/WindowsDeviceWatcher.h"
#include "session/DeviceInformation.h"
#include "session/MainDialogTexts.h"
#include "update/FirmwareDialogSession.h"
#include "win/Dialogs.h"
#include "win/ShelfPanel.h"
#include "win/WinText.h"
#include "win/resource.h"

namespace {

// Offered beside the template's menu when the programmer is simulated.

// The job list's column widths before it is filled (pixels).
constexpr int kJobColumnItemWidth = 60;
constexpr int kJobColumnValueWidth = 280;
// List 1000 with entries that name serial number and path: as wide as the series list.
constexpr int kDeviceListWideUnits = 186;

int ClampToInt(std::uint32_t value) {
    return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

CMarrowdyneDlg::CMarrowdyneDlg(HidBackend& backend, const MainDialogOptions& options)
    : options_(options),
      session_(std::make_unique<MainDialogSession>(backend, *this, dispatcher_)),
      shelf_(std::make_unique<ShelfPanel>(backend, *session_, dispatcher_)) {}

CMarrowdyneDlg::~CMarrowdyneDlg() {
    session_->Shutdown();
    session_->FinishWorkers(-1);
    if (options_.simulator) options_.simulator->SetEventSink(nullptr);
}

bool CMarrowdyneDlg::FinishWorkers(int timeoutMs) {
    const bool shelfDone = shelf_->Session().FinishWorkers(timeoutMs);
    return session_->FinishWorkers(timeoutMs) && shelfDone;
}

void CMarrowdyneDlg::DoModal(HINSTANCE instance) {
    instance_ = instance;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                    reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMarrowdyneDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    auto* dialog = DialogState<CMarrowdyneDlg>(window, message, lParam);
    if (dialog == nullptr) return FALSE;
    if (message == WM_INITDIALOG) dialog->window_ = window;
    return dialog->OnMessage(message, wParam, lParam);
}

INT_PTR CMarrowdyneDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case kDispatchMessage:
            dispatcher_.Serve();
            return TRUE;
        case kStartMessage:
            shelf_->Session().Start();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_INITMENUPOPUP:
            if (!HIWORD(lParam)) OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
            return FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_SYS_ABOUT) {
                OnAboutDevice();
                return TRUE;
            }
            return FALSE;
        case WM_DEVICECHANGE:
            if (const auto event = DeviceEventFromMessage(message, wParam, lParam))
                shelf_->Session().DeviceChanged(*event);
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_CLOSE:
            OnCancel(true);
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(appIcon_);
        default:
            return FALSE;
    }
}

void CMarrowdyneDlg::OnInitDialog() {
    dispatcher_.SetWindow(window_);
    TranslateTemplate(window_);
    HMENU menu = GetMenu(window_);
    if (options_.simulator && !options_.demoProgrammerPath.empty()) {
        demoMenu_ = CreatePopupMenu();
        AppendMenuW(demoMenu_, MF_STRING, ID_DEMO_PLUG, Wide(kTextMenuPlugProgrammer).c_str());
        AppendMenuW(demoMenu_, MF_STRING, ID_DEMO_UNPLUG, Wide(kTextMenuUnplugProgrammer).c_str());
        AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(demoMenu_),
                    Wide(kTextMenuDemo).c_str());
    }
    shelf_->Create(instance_, window_, demoMenu_, options_.simulator, options_.demoShelfPaths);
    TranslateMenu(menu);
    DrawMenuBar(window_);

    // The system-menu item, only when its string can be loaded and is not empty.
    wchar_t about[128] = {};
    if (LoadStringW(instance_, IDS_ABOUT_BOX, about, 128) > 0) {
        if (HMENU system = GetSystemMenu(window_, FALSE)) {
            const std::string shown = Tr(std::string_view(Utf8FromWide(about)));
            AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(system, MF_STRING, IDM_SYS_ABOUT, Wide(shown).c_str());
        }
    }

    appIcon_ = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));

    if (options_.simulator) {
        // The simulator reports its own plug and unplug; the system's notifications
        // serve the real programmer.
        options_.simulator->SetEventSink([this](const DeviceEvent& event) {
            dispatcher_.Post([this, event] {
                if (!finished_) shelf_->Session().DeviceChanged(event);
            });
        });
    } else if (std::string error; !RegisterHidNotifications(window_, error)) {
        MessageBoxW(window_, Wide(kTextNotificationFailed).c_str(),
                    Wide(kTextApplicationTitle).c_str(), MB_OK);
    }

    RECT wide{0, 0, kDeviceListWideUnits, 12};
    MapDialogRect(window_, &wide);
    deviceListWideWidth_ = wide.right - wide.left;
    RECT narrow{};
    GetWindowRect(Item(IDC_DEVICE_LIST), &narrow);
    deviceListNarrowWidth_ = narrow.right - narrow.left;

    SetInitialControlState();
    // The search and the identification start once the message loop runs, after every
    // control has its initial state, so that what the identification finds wins.
    PostMessageW(window_, kStartMessage, 0, 0);
}

void CMarrowdyneDlg::SetInitialControlState() {
    EnableWindow(Item(IDC_PROGRAM), FALSE);
    EnableWindow(Item(IDC_REMOTE_FILE), FALSE);
    CheckDlgButton(window_, IDC_READ_PROTECT, BST_UNCHECKED);
    CheckDlgButton(window_, IDC_VERIFY, BST_CHECKED);
    CheckDlgButton(window_, IDC_RUN_AFTER, BST_UNCHECKED);
    CheckDlgButton(window_, IDC_FULL_ERASE, BST_UNCHECKED);
    CheckDlgButton(window_, IDC_SECTOR_ERASE, BST_CHECKED);
    CheckDlgButton(window_, IDC_COUNT_LIMIT, BST_UNCHECKED);
    CheckDlgButton(window_, IDC_LOCK_CHIP, BST_UNCHECKED);
    EnableWindow(Item(IDC_COUNT_EDIT), FALSE);
    SetDlgItemTextW(window_, IDC_COUNT_EDIT, L"0");

    HWND jobList = Item(IDC_JOB_LIST);
    ListView_SetExtendedListViewStyle(jobList, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    std::wstring item = Wide(Tr(kTextJobColumnItem));
    std::wstring value = Wide(kTextJobColumnValue);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = kJobColumnItemWidth;
    column.pszText = item.data();
    ListView_InsertColumn(jobList, 0, &column);
    column.cx = kJobColumnValueWidth;
    column.pszText = value.data();
    ListView_InsertColumn(jobList, 1, &column);

    HWND series = Item(IDC_SERIES_LIST);
    for (const char* name : kSeriesNames) {
        SendMessageW(series, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
    }
    SendMessageW(series, CB_SETCURSEL, 0, 0);
}

void CMarrowdyneDlg::OnCommand(int id, int notification) {
    if (shelf_->OnCommand(id)) return;
    switch (id) {
        case IDC_READ_PROTECT:
            if (notification == BN_CLICKED) session_->ReadProtectClicked();
            break;
        case IDC_LOCK_CHIP:
            if (notification == BN_CLICKED)
                session_->LockChipClicked(IsDlgButtonChecked(window_, IDC_LOCK_CHIP));
            break;
        case IDC_COUNT_LIMIT:
            if (notification == BN_CLICKED)
                session_->CountLimitClicked(IsDlgButtonChecked(window_, IDC_COUNT_LIMIT));
            break;
        case IDC_OPEN:
            OnOpenFile();
            break;
        case IDC_PROGRAM:
            session_->Program();
            break;
        case IDC_REMOTE_FILE:
            // The menu item is offered as button 6 is.
            if (session_->RemoteFileOffered()) session_->MakeRemoteFile();
            break;
        case IDC_DEVICE_LIST:
            if (notification == CBN_SELCHANGE) OnDeviceChosen();
            break;
        case ID_MANUAL:
            OnManual();
            break;
        case ID_ABOUT_DEVICE:
            OnAboutDevice();
            break;
        case ID_OPTIONS:
            OnOptions();
            break;
        case ID_FIRMWARE_UPDATE:
            OnFirmwareUpdate();
            break;
        case ID_DEMO_PLUG:
            if (options_.simulator) options_.simulator->Plug(options_.demoProgrammerPath);
            break;
        case ID_DEMO_UNPLUG:
            if (options_.simulator) options_.simulator->Unplug(options_.demoProgrammerPath);
            break;
        case IDCANCEL:
            OnCancel(false);
            break;
        default:
            break;
    }
}

// The command-enable updates of the opened menu's items.
void CMarrowdyneDlg::OnInitMenuPopup(HMENU menu) {
    const auto enable = [menu](UINT id, bool enabled) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    };
    enable(ID_FIRMWARE_UPDATE, session_->FirmwareUpdateOffered());
    enable(IDC_REMOTE_FILE, session_->RemoteFileOffered());
    if (options_.simulator && !options_.demoProgrammerPath.empty()) {
        const bool plugged = options_.simulator->IsPlugged(options_.demoProgrammerPath);
        enable(ID_DEMO_PLUG, !plugged);
        enable(ID_DEMO_UNPLUG, plugged);
    }
    shelf_->OnInitMenuPopup(menu);
}

void CMarrowdyneDlg::OnOpenFile() {
    std::wstring filter;
    for (const OpenFileFilter& entry : OpenFileFilters()) {
        std::string patterns = entry.patterns;
        // The system's dialog separates patterns by semicolons.
        std::replace(patterns.begin(), patterns.end(), ' ', ';');
        filter += Wide(entry.name + "(" + entry.patterns + ")");
        filter.push_back(L'\0');
        filter += Wide(patterns);
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    std::wstring path(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.Flags =
        OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_READONLY | OFN_EXPLORER;
    if (!GetOpenFileNameW(&dialog)) return;
    path.resize(wcslen(path.c_str()));
    const std::string shown = Utf8FromWide(path);
    session_->OpenFile(
        ChosenFile{std::filesystem::path(path), shown, FileNameOfPath(shown), false});
}

void CMarrowdyneDlg::OnDropFiles(HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count != 1) {
        DragFinish(drop);
        return;
    }
    // The path is taken whole, however long.
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
    DragQueryFileW(drop, 0, path.data(), length + 1);
    path.resize(length);
    DragFinish(drop);
    const std::string shown = Utf8FromWide(path);
    session_->OpenFile(ChosenFile{std::filesystem::path(path), shown, FileNameOfPath(shown), true});
}

void CMarrowdyneDlg::OnDeviceChosen() {
    HWND list = Item(IDC_DEVICE_LIST);
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    const auto entry = static_cast<std::size_t>(SendMessageW(list, CB_GETITEMDATA, index, 0));
    if (entry < programmerPaths_.size()) session_->ChooseProgrammer(programmerPaths_[entry]);
}

void CMarrowdyneDlg::OnAboutDevice() {
    const ProgrammerLink& link = session_->Link();
    // Which programmer this is, when list 1000 offers a choice.
    std::string identity;
    if (session_->ProgrammersListed() >= 2 && link.IsOpen())
        identity = ProgrammerIdentityOf(link.DevicePath(), link.SerialNumber());
    RunAboutDialog(instance_, window_, link.programmerVersion(), link.connectionCode(), identity);
}

void CMarrowdyneDlg::OnManual() { RunManualDialog(instance_, window_); }

void CMarrowdyneDlg::OnOptions() { RunOptionsDialog(instance_, window_, session_->shift); }

void CMarrowdyneDlg::OnFirmwareUpdate() {
    // The command comes by the menu, whose item is greyed for the older kind, or by a
    // message sent to the window: both are held to the same rule.
    if (!session_->FirmwareUpdateOffered()) return;
    RunFirmwareDialog(instance_, window_, session_->Link(), dispatcher_, firmwareSession_);
}

void CMarrowdyneDlg::OnCancel(bool closeBox) {
    // Escape alone never cuts a store short; the close box asks.
    if (!closeBox && !session_->EscapeCloses()) return;
    if (!session_->MayClose()) return;
    Finish();
}

void CMarrowdyneDlg::Finish() {
    if (finished_) return;
    finished_ = true;
    UnregisterHidNotifications();
    session_->Close();
    EndDialog(window_, IDCANCEL);
}

int CMarrowdyneDlg::IdOf(DialogControl control) const {
    switch (control) {
        case DialogControl::SeriesList:
            return IDC_SERIES_LIST;
        case DialogControl::ReadProtect:
            return IDC_READ_PROTECT;
        case DialogControl::Verify:
            return IDC_VERIFY;
        case DialogControl::RunAfter:
            return IDC_RUN_AFTER;
        case DialogControl::FullErase:
            return IDC_FULL_ERASE;
        case DialogControl::SectorErase:
            return IDC_SECTOR_ERASE;
        case DialogControl::LockChip:
            return IDC_LOCK_CHIP;
        case DialogControl::CountLimit:
            return IDC_COUNT_LIMIT;
        case DialogControl::CountEdit:
            return IDC_COUNT_EDIT;
        case DialogControl::Program:
            return IDC_PROGRAM;
        case DialogControl::RemoteFile:
            return IDC_REMOTE_FILE;
    }
    return 0;
}

void CMarrowdyneDlg::ShowProgrammers(const std::vector<ProgrammerEntry>& entries, int chosen,
                                     bool named) {
    HWND list = Item(IDC_DEVICE_LIST);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    programmerPaths_.clear();
    if (entries.empty() && !named) return;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ProgrammerEntry& entry = entries[i];
        const std::string text =
            named ? ProgrammerIdentityOf(entry.path, entry.serial) : kTextDeviceEntry;
        const LRESULT item =
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
        programmerPaths_.push_back(entry.path);
        SendMessageW(list, CB_SETITEMDATA, item, static_cast<LPARAM>(i));
    }
    // The list is sorted: the chosen entry is found by its data.
    LRESULT chosenItem = -1;
    for (LRESULT item = 0; chosen >= 0 && item < static_cast<LRESULT>(entries.size()); ++item) {
        if (SendMessageW(list, CB_GETITEMDATA, item, 0) == chosen) chosenItem = item;
    }
    SendMessageW(list, CB_SETCURSEL, chosenItem, 0);
    RECT frame{};
    GetWindowRect(list, &frame);
    SetWindowPos(list, nullptr, 0, 0, named ? deviceListWideWidth_ : deviceListNarrowWidth_,
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(list, CB_SETDROPPEDWIDTH, deviceListWideWidth_, 0);
}

void CMarrowdyneDlg::SelectSeries(int index) {
    SendMessageW(Item(IDC_SERIES_LIST), CB_SETCURSEL, index, 0);
}

void CMarrowdyneDlg::SetControlEnabled(DialogControl control, bool enabled) {
    EnableWindow(Item(IdOf(control)), enabled ? TRUE : FALSE);
}

void CMarrowdyneDlg::SetControlChecked(DialogControl control, bool checked) {
    if (control == DialogControl::SeriesList || control == DialogControl::CountEdit ||
        control == DialogControl::Program || control == DialogControl::RemoteFile) {
        return;
    }
    CheckDlgButton(window_, IdOf(control), checked ? BST_CHECKED : BST_UNCHECKED);
}

void CMarrowdyneDlg::SetCountText(const std::string& text) {
    SetWindowTextUtf8(Item(IDC_COUNT_EDIT), text);
}

void CMarrowdyneDlg::HideLockChip() { ShowWindow(Item(IDC_LOCK_CHIP), SW_HIDE); }

JobSettings CMarrowdyneDlg::ReadSettings() {
    JobSettings settings;
    settings.seriesIndex =
        static_cast<int>(SendMessageW(Item(IDC_SERIES_LIST), CB_GETCURSEL, 0, 0));
    settings.readProtect = IsDlgButtonChecked(window_, IDC_READ_PROTECT) == BST_CHECKED;
    settings.verify = IsDlgButtonChecked(window_, IDC_VERIFY) == BST_CHECKED;
    settings.runAfter = IsDlgButtonChecked(window_, IDC_RUN_AFTER) == BST_CHECKED;
    settings.fullErase = IsDlgButtonChecked(window_, IDC_FULL_ERASE) == BST_CHECKED;
    settings.countLimit = IsDlgButtonChecked(window_, IDC_COUNT_LIMIT) == BST_CHECKED;
    settings.lockChip = IsDlgButtonChecked(window_, IDC_LOCK_CHIP) == BST_CHECKED;
    settings.countLimitText = WindowText(Item(IDC_COUNT_EDIT));
    return settings;
}

void CMarrowdyneDlg::ShowJobDescription(const JobDescription& rows) {
    HWND list = Item(IDC_JOB_LIST);
    ListView_DeleteAllItems(list);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::wstring label = Wide(rows[i].label);
        std::wstring value = Wide(rows[i].value);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = label.data();
        const int at = ListView_InsertItem(list, &item);
        ListView_SetItemText(list, at, 1, value.data());
    }
    FitJobColumns();
}

// The columns grow to their texts, never below the template's widths.
void CMarrowdyneDlg::FitJobColumns() {
    HWND list = Item(IDC_JOB_LIST);
    const int minimum[2] = {kJobColumnItemWidth, kJobColumnValueWidth};
    for (int column = 0; column < 2; ++column) {
        ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);
        if (ListView_GetColumnWidth(list, column) < minimum[column])
            ListView_SetColumnWidth(list, column, minimum[column]);
    }
}

void CMarrowdyneDlg::ShowPath(const std::string& shownPath) {
    SetWindowTextUtf8(Item(IDC_PATH), shownPath);
}

void CMarrowdyneDlg::SetProgressRange(std::uint32_t maximum) {
    SendMessageW(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, ClampToInt(maximum));
}

void CMarrowdyneDlg::SetProgressPosition(std::uint32_t position) {
    SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(ClampToInt(position)), 0);
}

void CMarrowdyneDlg::ShowMessage(MessageIcon icon, std::string_view text) {
    ShowSystemBox(window_, icon, text);
}

void CMarrowdyneDlg::ShowText(MessageIcon icon, const SessionText& text) {
    ShowSystemBox(window_, icon, ShownText(text));
}

bool CMarrowdyneDlg::AskQuestion(QuestionCaption caption, const char* msgid, bool defaultNo) {
    return AskYesNo(
        window_,
        caption == QuestionCaption::Application ? kTextApplicationTitle : kTextSystemCaption,
        Tr(msgid), defaultNo);
}

std::optional<std::uint32_t> CMarrowdyneDlg::AskStartAddress() {
    return RunAddressDialog(instance_, window_);
}

std::uint32_t CMarrowdyneDlg::AskRemoteCode() { return RunSerNumDialog(instance_, window_); }

bool CMarrowdyneDlg::FirmwareBeingStored() {
    return firmwareSession_ != nullptr && firmwareSession_->Updating();
}
