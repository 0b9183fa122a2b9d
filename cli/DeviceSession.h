#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Environment.h"
#include "job/ProductionLog.h"
#include "link/ProgrammerLink.h"

// One opened programmer for the length of a command, or of one member of a gang; the
// destructor gives it back. What it learns of the programmer goes into the record that
// the production log keeps of the operation.
class DeviceSession {
public:
    // The command's own programmer: the one attached, or the one --device names; its
    // record is the environment's. Throws CliFailure: several --device (usage), several
    // programmers attached and no --device (usage, listing them), no programmer, or one
    // that is present but cannot be opened (with the path, the reason and the remedy).
    DeviceSession(Environment& environment, ConsolePort& port);
    // One programmer of a gang: the one at `path` alone. Throws CliFailure as above.
    DeviceSession(Environment& environment, ConsolePort& port, const std::string& path,
                  OperationRecord& record);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    ProgrammerLink& Link() { return link_; }
    OperationRecord& Record() { return record_; }

    // Identifies the programmer as every connection does: version words, the stored
    // job, the series it serves; with a serial ledger in use, the stored job's code shift
    // is reconciled with it. Throws CliFailure after the worker's message.
    void Identify();

    // The series the identification fixed (a programmer of the older kind serves one
    // series only); nullopt when the user may choose.
    std::optional<int> FixedSeries() const;

private:
    void Open(Environment& environment, const std::string& wanted);

    Environment& environment_;
    ConsolePort& port_;
    OperationRecord& record_;
    std::unique_ptr<HidBackend> only_;  // a gang member's view of its one path
    ProgrammerLink link_;
};

// Throws the worker's failure as the exit code of its kind; the message has been shown.
void ThrowIfFailed(ConsoleOutput& output, const WorkerOutcome& outcome);

// The refusal to guess among several attached programmers.
inline constexpr const char* kMsgSeveralAttached =
    "several programmers attached: choose one with --device, or --all";
