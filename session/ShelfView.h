#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/MainDialogView.h"

// What the shelf of programmers needs of a window, beside the main dialog's view: one
// tile per attached programmer, the counters and the log pane. Every call comes on the
// UI thread.

enum class TileState {
    Idle,       // attached, nothing done yet (or identified)
    Storing,    // a job is being stored; with progress
    Verifying,  // the stored job is being compared with the loaded file
    BackingUp,  // the stored job is being read back into a file
    HoldsJob,   // stored and verified, or the comparison found the file's job
    Differs,    // the programmer holds another job (or none)
    Failed,     // the last action failed; the message says at which step
    Removed,    // unplugged; a store it was in ended with its step's message
};

struct ShelfTile {
    std::string path;
    std::string serial;  // the USB serial number, whole; empty when it names none
    bool ticked = true;  // the actions work on the ticked ones
    TileState state = TileState::Idle;
    std::uint32_t progress = 0;
    std::uint32_t progressMaximum = 0;
    // The stored job as last seen: its name (empty: none), series, image checksum and
    // code-shift row (with the leased block when a ledger is in use).
    std::string jobName;
    std::string series;
    std::optional<std::uint32_t> imageCrc;
    std::string codeShift;
    std::string message;  // the last action's message (a failure's step message)
};

// Counts of the window's session.
struct ShelfCounters {
    std::size_t stored = 0;
    std::size_t failed = 0;
    std::size_t verified = 0;
};

// One line of the log pane: what the production log records of one programmer's action,
// and the record itself as the log file holds it.
struct ShelfLogLine {
    std::string time;  // UTC, as the record names it
    std::string serial;
    std::string result;  // the exit code's name: "Success", "LinkFailed", ...
    std::string message;
    std::string record;  // the JSON line
};

class ShelfView {
public:
    virtual ~ShelfView() = default;
    // The shelf page instead of the single programmer's controls, or back.
    virtual void ShowShelf(bool shown) = 0;
    // Every tile anew (a programmer arrived or the shelf opened), or one of them.
    virtual void ShowTiles(const std::vector<ShelfTile>& tiles) = 0;
    virtual void ShowTile(std::size_t index, const ShelfTile& tile) = 0;
    virtual void ShowCounters(const ShelfCounters& counters) = 0;
    virtual void AddLogLine(const ShelfLogLine& line) = 0;
    // While an action runs its buttons, file loading and the settings are disabled.
    virtual void SetShelfRunning(bool running) = 0;
    // A refusal before an action starts.
    virtual void ShowText(MessageIcon icon, const SessionText& text) = 0;
};
