#include "win/ShelfPanel.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <optional>

#include "common/TextFormat.h"
#include "common/WideText.h"
#include "common/Translation.h"
#include "job/JobDescription.h"
#include "link/SimulatedBackend.h"
#include "session/MainDialogTexts.h"
#include "session/ShelfTexts.h"
#include "win/Dialogs.h"
#include "win/WinText.h"
#include "win/resource.h"

namespace {

// The programmers' columns, in dialog units: serial, path, job, series, image checksum,
// code shift, state, message.
enum TileColumn { kSerial, kPath, kJob, kSeries, kCrc, kCodeShift, kState, kMessage };
constexpr int kTileColumnUnits[] = {44, 50, 50, 40, 34, 20, 62, 74};
constexpr int kLogColumnUnits[] = {92, 44, 60, 176};

// The main dialog's controls a shelf action holds: the file and the settings under it.
constexpr int kHeldMainControls[] = {IDC_OPEN,         IDC_SERIES_LIST, IDC_READ_PROTECT,
                                     IDC_VERIFY,       IDC_RUN_AFTER,   IDC_FULL_ERASE,
                                     IDC_SECTOR_ERASE, IDC_COUNT_LIMIT, IDC_COUNT_EDIT};

int Units(HWND dialog, int units) {
    RECT rect{0, 0, units, 0};
    MapDialogRect(dialog, &rect);
    return rect.right;
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    std::wstring wide = Wide(text);
    ListView_SetItemText(list, row, column, wide.data());
}

bool Busy(TileState state) {
    return state == TileState::Storing || state == TileState::Verifying ||
           state == TileState::BackingUp;
}

std::string StateText(const ShelfTile& tile) {
    std::string text = Tr(TileStateText(tile.state));
    if (Busy(tile.state) && tile.progressMaximum > 0) {
        const auto percent = static_cast<unsigned>(std::min<std::uint64_t>(
            100, std::uint64_t{tile.progress} * 100 / tile.progressMaximum));
        text += Format(" %u%%", percent);
    }
    return text;
}

// The submenu of menu 129 that holds the options item.
HMENU ToolsMenu(HMENU menu) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub != nullptr && GetMenuState(sub, ID_OPTIONS, MF_BYCOMMAND) != 0xFFFFFFFF) return sub;
    }
    return nullptr;
}

// The system's save dialog; nullopt when cancelled. `filter` in the dialog's form, or empty.
std::optional<std::wstring> ChooseSaveFile(HWND owner, const std::string& title,
                                           const std::wstring& filter, DWORD flags) {
    std::wstring path(32768, L'\0');
    const std::wstring caption = Wide(title);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrTitle = caption.c_str();
    dialog.Flags = flags | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!GetSaveFileNameW(&dialog)) return std::nullopt;
    path.resize(wcslen(path.c_str()));
    return path;
}

}  // namespace

ShelfPanel::ShelfPanel(HidBackend& backend, MainDialogSession& main, UiDispatcher& dispatcher)
    : shelf_(std::make_unique<ShelfSession>(backend, main, *this, dispatcher)) {}

ShelfPanel::~ShelfPanel() = default;

void ShelfPanel::Create(HINSTANCE instance, HWND mainWindow, HMENU demoMenu,
                        SimulatedBackend* simulator, std::vector<std::string> demoPaths) {
    main_ = mainWindow;
    simulator_ = simulator;
    demoPaths_ = std::move(demoPaths);
    panel_ = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_SHELF), main_, PanelProc,
                                reinterpret_cast<LPARAM>(this));
    SetWindowLongPtrW(panel_, GWLP_ID, IDC_SHELF_PANEL);
    SetWindowTextUtf8(Item(IDC_SHELF_GROUP), Tr(kTextShelfGroup));
    SetWindowTextUtf8(Item(IDC_SHELF_STORE_ALL), Tr(kTextStoreAll));
    SetWindowTextUtf8(Item(IDC_SHELF_VERIFY_ALL), Tr(kTextVerifyAll));
    SetWindowTextUtf8(Item(IDC_SHELF_BACKUP), Tr(kTextBackUp));
    SetWindowTextUtf8(Item(IDC_SHELF_LOG_GROUP), Tr(kTextLogGroup));
    ListView_SetExtendedListViewStyle(Item(IDC_SHELF_LIST),
                                      LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    ListView_SetExtendedListViewStyle(Item(IDC_SHELF_LOG),
                                      LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP);
    AddColumns(IDC_SHELF_LIST, {{kTextLogColumnSerial, kTileColumnUnits[kSerial]},
                                {kTextTileColumnPath, kTileColumnUnits[kPath]},
                                {kRowName, kTileColumnUnits[kJob]},
                                {kRowSeries, kTileColumnUnits[kSeries]},
                                {kTextTileColumnCrc, kTileColumnUnits[kCrc]},
                                {kRowCodeShift, kTileColumnUnits[kCodeShift]},
                                {kTextTileColumnState, kTileColumnUnits[kState]},
                                {kTextLogColumnMessage, kTileColumnUnits[kMessage]}});
    AddColumns(IDC_SHELF_LOG, {{kTextLogColumnTime, kLogColumnUnits[0]},
                               {kTextLogColumnSerial, kLogColumnUnits[1]},
                               {kTextLogColumnResult, kLogColumnUnits[2]},
                               {kTextLogColumnMessage, kLogColumnUnits[3]}});
    ShowCounters({});
    UpdateBackUpButton();

    // Beside the main dialog's controls, as tall as its client area; hidden until shown.
    RECT client{};
    GetClientRect(main_, &client);
    RECT panel{};
    GetWindowRect(panel_, &panel);
    panelWidth_ = panel.right - panel.left;
    SetWindowPos(panel_, nullptr, client.right, 0, panelWidth_, client.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);

    HMENU menu = GetMenu(main_);
    if (HMENU tools = ToolsMenu(menu)) {
        AppendMenuW(tools, MF_STRING, ID_SHELF, Wide(kTextMenuShelf).c_str());
        AppendMenuW(tools, MF_STRING, ID_LOG_FILE, Wide(kTextMenuLogFile).c_str());
    }
    const std::size_t items =
        std::min<std::size_t>(demoPaths_.size(), ID_DEMO_SHELF_LAST - ID_DEMO_SHELF_FIRST + 1);
    if (demoMenu != nullptr && simulator_ != nullptr && items > 1) {
        AppendMenuW(demoMenu, MF_SEPARATOR, 0, nullptr);
        for (std::size_t i = 0; i < items; ++i) {
            AppendMenuW(demoMenu, MF_STRING, ID_DEMO_SHELF_FIRST + i, Wide(demoPaths_[i]).c_str());
        }
    }
}

void ShelfPanel::AddColumns(int listId, const std::vector<std::pair<const char*, int>>& columns) {
    HWND list = Item(listId);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::wstring text = Wide(Tr(columns[i].first));
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = Units(panel_, columns[i].second);
        column.pszText = text.data();
        ListView_InsertColumn(list, static_cast<int>(i), &column);
    }
}

INT_PTR CALLBACK ShelfPanel::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* panel = DialogState<ShelfPanel>(window, message, lParam);
    if (panel == nullptr) return FALSE;
    if (message == WM_INITDIALOG) {
        panel->panel_ = window;
        return FALSE;
    }
    return panel->OnPanelMessage(message, wParam, lParam);
}

INT_PTR ShelfPanel::OnPanelMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_SHELF_STORE_ALL:
                    shelf_->StoreIntoAll();
                    return TRUE;
                case IDC_SHELF_VERIFY_ALL:
                    shelf_->VerifyAll();
                    return TRUE;
                case IDC_SHELF_BACKUP:
                    OnBackUp();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (!OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return FALSE;
            SetWindowLongPtrW(panel_, DWLP_MSGRESULT, result);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

bool ShelfPanel::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom == IDC_SHELF_LOG && header.code == LVN_GETINFOTIPW) {
        // The record whole, as the log file holds it.
        const auto& tip = reinterpret_cast<const NMLVGETINFOTIPW&>(header);
        if (tip.iItem < 0 || static_cast<std::size_t>(tip.iItem) >= logRecords_.size())
            return false;
        const std::wstring record = Wide(logRecords_[static_cast<std::size_t>(tip.iItem)]);
        if (tip.cchTextMax > 0) {
            wcsncpy(tip.pszText, record.c_str(), static_cast<std::size_t>(tip.cchTextMax) - 1);
            tip.pszText[tip.cchTextMax - 1] = L'\0';
        }
        return true;
    }
    if (header.idFrom != IDC_SHELF_LIST) return false;
    if (header.code != LVN_ITEMCHANGING && header.code != LVN_ITEMCHANGED) return false;
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    if (change.iItem < 0 || !(change.uChanged & LVIF_STATE)) return false;
    const bool tickChanged =
        ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) != 0 && !drawing_;
    if (header.code == LVN_ITEMCHANGING) {
        // The ticks stay as they are while an action runs on them.
        result = tickChanged && running_ ? TRUE : FALSE;
        return true;
    }
    if (tickChanged) {
        shelf_->SetTicked(static_cast<std::size_t>(change.iItem),
                          (change.uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2));
    }
    if ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) UpdateBackUpButton();
    return true;
}

bool ShelfPanel::OnCommand(int id) {
    if (id == ID_SHELF) {
        if (shelf_->Shown()) {
            shelf_->Leave();
        } else {
            shelf_->Show();
        }
        return true;
    }
    if (id == ID_LOG_FILE) {
        OnLogFile();
        return true;
    }
    if (id >= ID_DEMO_SHELF_FIRST && id <= ID_DEMO_SHELF_LAST) {
        const auto index = static_cast<std::size_t>(id - ID_DEMO_SHELF_FIRST);
        if (simulator_ == nullptr || index >= demoPaths_.size()) return true;
        if (simulator_->IsPlugged(demoPaths_[index])) {
            simulator_->Unplug(demoPaths_[index]);
        } else {
            simulator_->Plug(demoPaths_[index]);
        }
        return true;
    }
    return false;
}

void ShelfPanel::OnInitMenuPopup(HMENU menu) {
    const auto enable = [menu](UINT id, bool enabled) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    };
    enable(ID_SHELF, !running_);
    enable(ID_LOG_FILE, !running_);
    enable(IDC_OPEN, !running_);
    CheckMenuItem(menu, ID_SHELF, MF_BYCOMMAND | (shelf_->Shown() ? MF_CHECKED : MF_UNCHECKED));
    // Each programmer of a simulated shelf ticked while plugged in.
    for (std::size_t i = 0; simulator_ != nullptr && i < demoPaths_.size() &&
                            i <= ID_DEMO_SHELF_LAST - ID_DEMO_SHELF_FIRST;
         ++i) {
        CheckMenuItem(
            menu, static_cast<UINT>(ID_DEMO_SHELF_FIRST + i),
            MF_BYCOMMAND | (simulator_->IsPlugged(demoPaths_[i]) ? MF_CHECKED : MF_UNCHECKED));
    }
}

void ShelfPanel::OnLogFile() {
    // The log is appended to: an existing file is no question.
    const std::optional<std::wstring> path =
        ChooseSaveFile(main_, Tr(kTextMenuLogFile), std::wstring(), 0);
    if (path) shelf_->ChooseLogFile(std::filesystem::path(*path), Utf8FromWide(*path));
}

void ShelfPanel::OnBackUp() {
    const int row = ListView_GetNextItem(Item(IDC_SHELF_LIST), -1, LVNI_SELECTED);
    if (row < 0) return;
    std::string semicolons = kBackUpPatterns;
    // The system's dialog separates patterns by semicolons.
    std::replace(semicolons.begin(), semicolons.end(), ' ', ';');
    std::wstring filter = Wide(kBackUpPatterns);
    filter.push_back(L'\0');
    filter += Wide(semicolons);
    filter.push_back(L'\0');
    const std::optional<std::wstring> path =
        ChooseSaveFile(main_, Tr(kTextBackUp), filter, OFN_OVERWRITEPROMPT);
    if (path) {
        shelf_->BackUp(static_cast<std::size_t>(row), std::filesystem::path(*path),
                       Utf8FromWide(*path));
    }
}

// For the chosen row, unless it is unplugged or an action runs.
void ShelfPanel::UpdateBackUpButton() {
    const int row = ListView_GetNextItem(Item(IDC_SHELF_LIST), -1, LVNI_SELECTED);
    const std::vector<ShelfTile>& tiles = shelf_->Tiles();
    const bool offered = !running_ && row >= 0 && static_cast<std::size_t>(row) < tiles.size() &&
                         tiles[static_cast<std::size_t>(row)].state != TileState::Removed;
    EnableWindow(Item(IDC_SHELF_BACKUP), offered ? TRUE : FALSE);
}

void ShelfPanel::ShowShelf(bool shown) {
    if (shown == shown_) return;
    shown_ = shown;
    RECT frame{};
    GetWindowRect(main_, &frame);
    const int width = frame.right - frame.left + (shown ? panelWidth_ : -panelWidth_);
    SetWindowPos(main_, nullptr, 0, 0, width, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The keyboard stays in the window when the control that had it goes.
    if (!shown && IsChild(panel_, GetFocus())) {
        SendMessageW(main_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(main_, IDC_OPEN)),
                     TRUE);
    }
    ShowWindow(panel_, shown ? SW_SHOW : SW_HIDE);
}

void ShelfPanel::ShowTiles(const std::vector<ShelfTile>& tiles) {
    HWND list = Item(IDC_SHELF_LIST);
    drawing_ = true;
    for (int row = ListView_GetItemCount(list); row < static_cast<int>(tiles.size()); ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(list, &item);
    }
    drawing_ = false;
    for (std::size_t i = 0; i < tiles.size(); ++i) ShowTile(i, tiles[i]);
}

void ShelfPanel::ShowTile(std::size_t index, const ShelfTile& tile) {
    HWND list = Item(IDC_SHELF_LIST);
    if (index >= static_cast<std::size_t>(ListView_GetItemCount(list))) return;
    const int row = static_cast<int>(index);
    drawing_ = true;
    SetCell(list, row, kSerial, tile.serial);
    SetCell(list, row, kPath, tile.path);
    SetCell(list, row, kJob, tile.jobName);
    SetCell(list, row, kSeries, tile.series);
    SetCell(list, row, kCrc, tile.imageCrc ? Format("%08x", *tile.imageCrc) : std::string());
    SetCell(list, row, kCodeShift, tile.codeShift);
    SetCell(list, row, kState, StateText(tile));
    SetCell(list, row, kMessage, tile.message);
    ListView_SetCheckState(list, row, tile.ticked ? TRUE : FALSE);
    drawing_ = false;
    UpdateBackUpButton();
}

void ShelfPanel::ShowCounters(const ShelfCounters& counters) {
    SetWindowTextUtf8(Item(IDC_SHELF_COUNTERS), ShelfCountersText(counters));
}

void ShelfPanel::AddLogLine(const ShelfLogLine& line) {
    HWND log = Item(IDC_SHELF_LOG);
    const int row = ListView_GetItemCount(log);
    std::wstring time = Wide(line.time);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = time.data();
    const int at = ListView_InsertItem(log, &item);
    SetCell(log, at, 1, line.serial);
    SetCell(log, at, 2, line.result);
    SetCell(log, at, 3, line.message);
    logRecords_.push_back(line.record);
    ListView_EnsureVisible(log, at, FALSE);
}

// While the shelf writes, the file and the settings under it stay as they are; then each
// control is as it was.
void ShelfPanel::SetShelfRunning(bool running) {
    if (running == running_) return;
    running_ = running;
    if (running) {
        heldControls_.clear();
        std::vector<HWND> held;
        for (int id : kHeldMainControls) held.push_back(GetDlgItem(main_, id));
        held.push_back(Item(IDC_SHELF_STORE_ALL));
        held.push_back(Item(IDC_SHELF_VERIFY_ALL));
        for (HWND control : held) {
            heldControls_.emplace_back(control, IsWindowEnabled(control) != FALSE);
            EnableWindow(control, FALSE);
        }
    } else {
        for (const auto& [control, enabled] : heldControls_)
            EnableWindow(control, enabled ? TRUE : FALSE);
        heldControls_.clear();
    }
    DragAcceptFiles(main_, running ? FALSE : TRUE);
    UpdateBackUpButton();
}

void ShelfPanel::ShowText(MessageIcon icon, const SessionText& text) {
    ShowSystemBox(main_, icon, ShownText(text));
}
