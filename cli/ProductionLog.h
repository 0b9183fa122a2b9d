#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/ExitCodes.h"
#include "link/ProgrammerLink.h"

// A job as the log names it: its name, where its image goes, how long it is and, where
// known, the image's WordCrc32 (padded to whole words, as the programmer checks it).
struct JobFacts {
    std::string name;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::optional<std::uint32_t> wordCrc32;
};

// A block of serial values leased from the serial ledger, and how many of it the
// programmer's header shows used.
struct LeaseFacts {
    std::string product;
    std::int64_t firstValue = 0;
    std::int64_t count = 0;
    std::int64_t used = 0;
};

// What one operation did with one programmer, as far as it got: filled as the programmer
// is opened and identified and as the job becomes known.
struct OperationRecord {
    std::string operation;                        // the command: "program", "info", ...
    std::string path;                             // empty while no programmer was chosen
    std::string serial;                           // the USB serial number, empty when it names none
    std::optional<std::uint32_t> connectionCode;  // the device ID, from the opening on
    std::optional<std::uint32_t> programmerVersion;  // from the identification on
    std::optional<std::uint32_t> firmwareVersion;
    std::optional<JobFacts> job;
    std::optional<LeaseFacts> lease;  // the block stored, or the one the stored job showed
    std::string serialConflict;       // what the serial ledger found wrong with the stored job

    // Takes what the link knows now: path, serial and device ID, and once identified the
    // version words.
    void Take(const ProgrammerLink& link, bool identified);
};

// The job that identification found stored, when the programmer holds one.
std::optional<JobFacts> StoredJobFacts(const ProgrammerLink& link);

// One line of the production log: a JSON object with the record, the UTC time of the
// end, and how the operation ended (exit code, its name, the message and the detail).
std::string ProductionLogLine(const OperationRecord& record, ExitCode code,
                              std::string_view message, std::string_view detail);
