#pragma once
#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/ConsoleOutput.h"
#include "cli/ConsolePort.h"
#include "cli/DeviceSession.h"
#include "cli/Environment.h"
#include "job/ProductionLog.h"
#include "image/FirmwareImage.h"

// One programmer of a gang on the console: its own output, port, image and session.
// What its workers show is collected, not printed; it becomes the programmer's line (or
// JSON object) when the programmer is done.
class Station {
public:
    explicit Station(std::string path);

    const std::string& Path() const { return path_; }
    ConsoleOutput& Output() { return output_; }
    ConsolePort& Port() { return port_; }
    ImageWorkspace& Workspace() { return workspace_; }
    OperationRecord& Record() { return record_; }
    DeviceSession& Session() { return *session_; }

    // Opens the programmer (throws CliFailure as DeviceSession does).
    void Open(Environment& environment);
    bool IsOpen() const { return session_ != nullptr; }

    // What the programmer's line says after a success, when the operation has more to
    // say than its last message (info: the version words and the stored job).
    void SetSummary(std::string text) { summary_ = std::move(text); }
    const std::string& Summary() const { return summary_; }

private:
    std::string path_;
    OperationRecord record_;
    ConsoleOutput output_;
    ImageWorkspace workspace_;
    ConsolePort port_;
    std::unique_ptr<DeviceSession> session_;
    std::string summary_;
};

// Adds --all to a command that can work on every attached programmer at once.
void RegisterAll(CLI::App& command, bool& all);

// Whether the command works on several programmers: --all, or --device more than once.
bool GangChosen(const Environment& environment, bool all);

// Runs the command's work on every chosen programmer at once, one thread each. Each
// programmer is opened first (in path order), then identified, then given to `work`, on
// its own thread; a failure of one never stops the others. As each one ends, its log line
// is written and then its line printed: path, USB serial, device ID, result and message.
// Then a summary; with --json one object whose "programmers" holds one object for each,
// in path order. Throws CliFailure with the exit code of the first failure in path order.
void RunOnGang(Environment& environment, bool all, const std::function<void(Station&)>& work);

// Orders interface paths as people count: "sim:programmer-2" before "sim:programmer-10".
bool PathOrderLess(const std::string& a, const std::string& b);
