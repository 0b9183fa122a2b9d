#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "link/HidReport.h"

// Faults a simulated programmer can be told to show, each at the Nth request of one command.

enum class FaultKind {
    Status,  // the answer carries status 1
    Write,   // writing the request fails
    Read,    // reading the answer fails
    Crc,     // the checksum answer is off by one
    Hang,    // no answer ever comes
    Unplug,  // the programmer disappears at that request
};

struct Fault {
    Command command = Command::QueryVersion;
    FaultKind kind = FaultKind::Status;
    int occurrence = 1;  // 1-based count of that command in this run
};

// "COMMAND:KIND[@N]", for example "WriteStorage:status@100". Returns nullopt and sets
// `error` for anything else.
std::optional<Fault> ParseFault(std::string_view text, std::string& error);
