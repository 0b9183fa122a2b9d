#pragma once
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "session/ShelfSession.h"
#include "session/ShelfView.h"

class SimulatedBackend;

// The shelf of programmers in the Windows window: template 140 beside the main dialog's
// controls while the shelf is shown (the window widens by it), a list-view row per
// programmer with its tick, the buttons, the counters and the log pane, drawn for the
// shelf's session, which the panel holds. The main dialog hands it the commands of the
// items it adds to menu 129 and the opening of its menus.
class ShelfPanel : public ShelfView {
public:
    ShelfPanel(HidBackend& backend, MainDialogSession& main, UiDispatcher& dispatcher);
    ~ShelfPanel() override;
    ShelfPanel(const ShelfPanel&) = delete;
    ShelfPanel& operator=(const ShelfPanel&) = delete;

    ShelfSession& Session() { return *shelf_; }

    // In the main dialog's WM_INITDIALOG, before its menu is translated: the hidden panel,
    // the shelf's items in "Инструменты", and in the demo menu (when there is one) an item
    // for each of `demoPaths` when the shelf is of several.
    void Create(HINSTANCE instance, HWND mainWindow, HMENU demoMenu, SimulatedBackend* simulator,
                std::vector<std::string> demoPaths);
    // A command of the main dialog; true when it was one of the shelf's.
    bool OnCommand(int id);
    void OnInitMenuPopup(HMENU menu);

    // ShelfView (UI thread).
    void ShowShelf(bool shown) override;
    void ShowTiles(const std::vector<ShelfTile>& tiles) override;
    void ShowTile(std::size_t index, const ShelfTile& tile) override;
    void ShowCounters(const ShelfCounters& counters) override;
    void AddLogLine(const ShelfLogLine& line) override;
    void SetShelfRunning(bool running) override;
    void ShowText(MessageIcon icon, const SessionText& text) override;

private:
    static INT_PTR CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnPanelMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A list view's notification; true with `result` when the panel answers it.
    bool OnNotify(const NMHDR& header, LRESULT& result);
    void AddColumns(int listId, const std::vector<std::pair<const char*, int>>& columns);
    void OnLogFile();
    void OnBackUp();
    void UpdateBackUpButton();
    HWND Item(int id) const { return GetDlgItem(panel_, id); }

    std::unique_ptr<ShelfSession> shelf_;
    HWND main_ = nullptr;
    HWND panel_ = nullptr;
    int panelWidth_ = 0;  // pixels: what the window widens by
    SimulatedBackend* simulator_ = nullptr;
    std::vector<std::string> demoPaths_;
    std::vector<std::string> logRecords_;  // the log pane's rows, as the log file holds them
    bool shown_ = false;
    bool running_ = false;
    bool drawing_ = false;  // the ticks the panel sets itself are no operator's
    std::vector<std::pair<HWND, bool>> heldControls_;  // enabled before a shelf action
};
