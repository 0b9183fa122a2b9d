#pragma once
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/AppendFile.h"
#include "image/FileLoading.h"
#include "image/FirmwareImage.h"
#include "link/ProgrammerLink.h"
#include "worker/ExitCodes.h"

// The production log: one JSON line per programmer per operation, the same records from
// the command line's --log and from the window's shelf.

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

// The job that a loaded file makes: its name, the start address, the image length padded
// to whole words and that image's WordCrc32, as an upload stores and checks them. For a
// remote job file, those of the job inside its record.
JobFacts LoadedJobFacts(const ImageWorkspace& workspace, FileKind kind);

// One line of the production log: a JSON object with the record, the UTC time of the
// end, and how the operation ended (exit code, its name, the message and the detail).
std::string ProductionLogLine(const OperationRecord& record, ExitCode code,
                              std::string_view message, std::string_view detail);
// The same at a given time, for a face that shows the line's time beside it.
std::string ProductionLogLine(const OperationRecord& record, ExitCode code,
                              std::string_view message, std::string_view detail,
                              std::string_view utcTime);
// The time as a line names it now: "2026-05-01T10:21:34.517Z".
std::string ProductionLogTime();

// The log file the records of a run go to, from any thread: each line appended whole and
// synced (AppendFile) before the operation is reported done. A line that could not be
// written does not stop the run; the first such loss is kept and said at its end.
class ProductionLogFile {
public:
    // Opens `path` for appending, creating it; false with the reason when it cannot be
    // opened or is not a regular file.
    bool Open(const std::filesystem::path& path, std::string& error);
    bool IsOpen() const { return open_; }
    // Appends one line of ProductionLogLine for the programmer at `path`; false when it
    // was lost.
    bool Append(std::string_view line, std::string_view path);
    // The first line lost and why; empty when every line was written.
    std::string Lost() const;

private:
    AppendFile file_;
    bool open_ = false;
    mutable std::mutex mutex_;
    std::string lost_;
};
